#include "config/trigger_editor.h"

#include <gtest/gtest.h>

#include <memory>

namespace tessmar {
namespace {

std::unique_ptr<LoggerConfiguration> Family(uint32_t family) {
  auto c = std::make_unique<LoggerConfiguration>();
  NewConfigWithDefaults(c->cfg, c->sigs, family);
  return c;
}

void AddSignal(T_CanLog_SigTab& sigs, int slot, const char* name) {
  sigs[std::size_t(slot)].id = 0x100;
  SetText(sigs[std::size_t(slot)].sn, name);
}

// ---- Code tables -------------------------------------------------------------------------------

TEST(TriggerCodes, UnknownTextsAndCodes) {
  EXPECT_EQ(ActionText(4), "STOP");
  EXPECT_EQ(ActionText(-1), "--unused--");
  EXPECT_EQ(ActionText(3), "???");
  EXPECT_EQ(ActionCode("OR"), 2);
  EXPECT_EQ(ActionCode("???"), 0);  // anything else reads as START
  EXPECT_EQ(OperatorCode("&"), 6);
  EXPECT_EQ(OperatorCode("unused"), -1);
  EXPECT_EQ(OperatorText(-1), "???");
  EXPECT_EQ(OperatorText(7), "???");

  EXPECT_EQ(TriggerActionChoices(0), (std::vector<std::string>{"START", "STOP", "--unused--"}));
  EXPECT_EQ(TriggerActionChoices(1).size(), 5u);
  const auto ops = TriggerOperatorChoices();
  EXPECT_EQ(ops.back(), "unused");
  EXPECT_EQ(TriggerChoiceIndex(ops, ">="), 3);
  EXPECT_EQ(TriggerChoiceIndex(ops, "???"), 7);
}

// ---- Ten-line grid -----------------------------------------------------------------------------

TEST(TriggerGrid, DefaultFamily1Display) {
  auto c = Family(1);
  TriggerGrid grid;
  const TriggerGridCheck check = grid.Refill(c->cfg, c->sigs);
  EXPECT_EQ(grid.lines()[0][kTrigColAction], "START");
  for (int i = 1; i < kMaxTriggerLines; ++i) {
    const auto& line = grid.lines()[std::size_t(i)];
    EXPECT_EQ(line[kTrigColLine], std::to_string(i + 1));
    EXPECT_EQ(line[kTrigColAction], "OR");
    EXPECT_EQ(line[kTrigColSignal], "");
    EXPECT_EQ(line[kTrigColComp], i % 2 ? ">=" : "<=");
    EXPECT_EQ(line[kTrigColValue], "0");
  }
  // Empty names match the empty names of free slots: nothing is flagged.
  EXPECT_EQ(check.status_text, "");
  EXPECT_EQ(check.ErrorText(), "");
}

TEST(TriggerGrid, ApplyStoresCodesAndFlagsLines) {
  auto c = Family(1);
  AddSignal(c->sigs, 0, "EngineSpeed");
  TriggerGrid grid;
  grid.Refill(c->cfg, c->sigs);
  auto& l = grid.lines();
  l[0][kTrigColSignal] = "EngineSpeed";
  l[0][kTrigColComp] = ">";
  l[0][kTrigColValue] = "0x10";
  l[1][kTrigColAction] = "START";
  l[1][kTrigColSignal] = "EngineSpeed";
  l[1][kTrigColComp] = "unused";
  l[1][kTrigColValue] = "abc";
  l[2][kTrigColSignal] = "--unused--";
  l[3][kTrigColSignal] = std::string(50, 'x');

  const TriggerGridCheck check = grid.Apply(c->cfg, c->sigs);
  EXPECT_EQ(c->cfg.ActionOrCombi[0], 0);
  EXPECT_EQ(c->cfg.ActionOrCombi[1], 0);
  EXPECT_EQ(c->cfg.CompOp[0], 2);
  EXPECT_EQ(c->cfg.CompVal[0], 16.0);
  EXPECT_EQ(c->cfg.CompOp[1], -1);
  EXPECT_EQ(c->cfg.CompVal[1], 0.0);
  EXPECT_EQ(TextOf(c->cfg.SigName[3]).size(), kMaxNameChars);

  EXPECT_EQ(check.start_lines, 2);
  EXPECT_EQ(check.ErrorText(), "Too many 'START' conditions (2) !");
  EXPECT_EQ(grid.flags(0), 0u);
  EXPECT_EQ(grid.flags(1), kTrigFlagTooManyStarts);
  EXPECT_EQ(grid.flags(2), kTrigFlagUnknownSignal);
  EXPECT_EQ(grid.flags(3), kTrigFlagUnknownSignal);
  EXPECT_EQ(check.changed_lines, 0b1110u);
  // The last line message wins.
  EXPECT_EQ(check.status_text, kTrigMsgSignalNotFound);

  // Shown back: the unknown operator as "???"; a refill keeps the flags above bit 3.
  TriggerGrid shown;
  shown.Refill(c->cfg, c->sigs);
  EXPECT_EQ(shown.lines()[1][kTrigColComp], "???");
  EXPECT_EQ(shown.lines()[0][kTrigColValue], "16");
  EXPECT_EQ(shown.flags(1), kTrigFlagTooManyStarts);
}

TEST(TriggerGrid, FirstLineShowsStopOnlyForItsCode) {
  auto c = Family(2);
  TriggerGrid grid;
  c->cfg.ActionOrCombi[0] = 1;
  grid.Refill(c->cfg, c->sigs);
  EXPECT_EQ(grid.lines()[0][kTrigColAction], "START");
  c->cfg.ActionOrCombi[0] = 4;
  c->cfg.ActionOrCombi[1] = 9;
  grid.Refill(c->cfg, c->sigs);
  EXPECT_EQ(grid.lines()[0][kTrigColAction], "STOP");
  EXPECT_EQ(grid.lines()[1][kTrigColAction], "???");
}

// ---- Four-line plausibility check --------------------------------------------------------------

struct FourLineCase {
  int combi, op_a, op_b;
  double a, c;
  const char* finding;  // "" for none
};

TEST(FourLineCheck, Findings) {
  const FourLineCase cases[] = {
      {1, 0, 2, 10, 10, "Condition in lines 1 and 2 is NEVER true"},
      {1, 0, 2, 10, 5, ""},
      {1, 0, 1, 5, 10, "Condition in line 2 is OVERFLUENT"},
      {1, 2, 3, 5, 10, "Condition in line 1 is OVERFLUENT"},
      {1, 3, 1, 5, 5, ""},  // x >= 5 AND x <= 5 holds for x == 5
      {1, 2, 1, 5, 5, "Condition in lines 1 and 2 is NEVER true"},
      {2, 0, 2, 10, 5, "Condition in lines 1 and 2 is ALWAYS true"},
      {2, 3, 0, 5, 5, "Condition in lines 1 and 2 is ALWAYS true"},
      // x < 5 OR x < 10: the first comparison adds nothing.
      {2, 0, 0, 5, 10, "Condition in line 1 is OVERFLUENT"},
      {2, 2, 2, 10, 5, "Condition in line 1 is OVERFLUENT"},
      {0, 0, 2, 10, 10, ""},  // "(---)"
      {1, 4, 2, 10, 10, ""},  // "==" is not checked
  };
  for (const FourLineCase& t : cases) {
    auto c = Family(0);
    SetText(c->cfg.SigName[0], "Speed");
    c->cfg.ActionOrCombi[0] = t.combi;
    c->cfg.CompOp[0] = t.op_a;
    c->cfg.CompOp[1] = t.op_b;
    c->cfg.CompVal[0] = t.a;
    c->cfg.CompVal[1] = t.c;
    EXPECT_EQ(CheckFourLineTrigger(c->cfg).first, t.finding)
        << t.combi << " " << t.op_a << " " << t.op_b << " " << t.a << " " << t.c;
  }
}

TEST(FourLineCheck, InactiveLinesAndLabelOrder) {
  auto c = Family(0);
  for (int b : {0, 1, 2}) {
    c->cfg.ActionOrCombi[b] = 1;
    c->cfg.CompOp[2 * b] = 0;
    c->cfg.CompOp[2 * b + 1] = 2;
    c->cfg.CompVal[2 * b] = 1;
    c->cfg.CompVal[2 * b + 1] = 2;
  }
  SetText(c->cfg.SigName[0], "--unused--");
  EXPECT_EQ(CheckFourLineTrigger(c->cfg).first, "");
  SetText(c->cfg.SigName[0], "A");
  SetText(c->cfg.SigName[1], "B");
  SetText(c->cfg.SigName[2], "C");
  const FourLineCheck check = CheckFourLineTrigger(c->cfg);
  EXPECT_EQ(check.first, "Condition in lines 1 and 2 is NEVER true");
  EXPECT_EQ(check.second, "Condition in lines 5 and 6 is NEVER true");
}

// ---- Trigger options ---------------------------------------------------------------------------

TEST(TriggerOptions, InvertedBitFiveAndOtherBitsKept) {
  const auto boxes = TrigOptionBoxes(0x0001);
  EXPECT_TRUE(boxes[0]);
  EXPECT_TRUE(boxes[5]);  // bit 5 clear: the box is ticked
  EXPECT_FALSE(TrigOptionBoxes(0x0020)[5]);
  std::array<bool, kTrigOptionBoxes> ticked{};
  ticked[5] = true;
  EXPECT_EQ(TrigOptionsFromBoxes(0xFF20, ticked), 0xFF00);
  ticked[5] = false;
  ticked[4] = true;
  EXPECT_EQ(TrigOptionsFromBoxes(0x0000, ticked), 0x0030);
}

}  // namespace
}  // namespace tessmar
