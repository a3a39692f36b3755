// The trigger across a change of device family, and the trigger signals of the signal table.

#include "config/trigger_conversion.h"

#include <gtest/gtest.h>

#include "config/trigger_editor.h"

namespace tessmar {
namespace {

T_CanLog_Config GridTrigger() {
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  NewConfigWithDefaults(cfg, sigs, 3);
  const auto line = [&cfg](int i, int32_t action, const char* signal, int32_t op, double value) {
    cfg.ActionOrCombi[i] = action;
    SetText(cfg.SigName[i], signal);
    cfg.CompOp[i] = op;
    cfg.CompVal[i] = value;
  };
  line(0, kActionStart, "Speed", 2, 50);  // Speed > 50
  line(1, kActionAnd, "Speed", 0, 120);   //   AND Speed < 120
  line(2, kActionOr, "Gear", 4, 3);       //   OR Gear == 3: no such operator in four lines
  line(3, kActionStop, "Temp", 3, 90);    // STOP Temp >= 90
  return cfg;
}

TEST(TriggerConversion, GridToFourLineKeepsStopAsStopAndNamesWhatIsDropped) {
  const T_CanLog_Config grid = GridTrigger();
  const TriggerConversion c = ConvertTriggerForFamily(grid, 0);
  ASSERT_TRUE(c.needed);
  const T_CanLog_Config& f = c.converted;
  EXPECT_EQ(f.DeviceFamily, 0u);
  // Line 1: Speed > 50 AND Speed < 120 (comparisons A and B of one line).
  EXPECT_EQ(TextOf(f.SigName[0]), "Speed");
  EXPECT_EQ(f.CompOp[0], 2);
  EXPECT_EQ(f.CompVal[0], 50);
  EXPECT_EQ(f.ActionOrCombi[0], kActionAnd);
  EXPECT_EQ(f.CompOp[1], 0);
  EXPECT_EQ(f.CompVal[1], 120);
  EXPECT_TRUE(TextOf(f.SigName[1]).empty());
  // The STOP condition lands in line 3, not in comparison B of line 1.
  EXPECT_EQ(TextOf(f.SigName[2]), "Temp");
  EXPECT_EQ(f.CompOp[4], 3);
  EXPECT_EQ(f.CompVal[4], 90);
  EXPECT_EQ(f.Use2Starts, 0);
  EXPECT_EQ(c.kept,
            (std::vector<std::string>{"START: Speed > 50 AND Speed < 120", "STOP: Temp >= 90"}));
  ASSERT_EQ(c.dropped.size(), 1u);
  EXPECT_NE(c.dropped[0].find("Gear == 3"), std::string::npos);
  const std::string q = TriggerConversionQuestion(c, "Kavrix I (with C167 CPU)");
  EXPECT_NE(q.find("Dropped:\r\n   Gear == 3"), std::string::npos);
  EXPECT_NE(q.find("Change the device family ?"), std::string::npos);

  // And back: the grid gets the same conditions line by line.
  const TriggerConversion back = ConvertTriggerForFamily(f, 3);
  ASSERT_TRUE(back.needed);
  EXPECT_TRUE(back.dropped.empty());
  EXPECT_EQ(back.kept, c.kept);
  const T_CanLog_Config& g = back.converted;
  EXPECT_EQ(g.ActionOrCombi[0], kActionStart);
  EXPECT_EQ(g.ActionOrCombi[1], kActionAnd);
  EXPECT_EQ(g.ActionOrCombi[2], kActionStop);
  EXPECT_EQ(TextOf(g.SigName[2]), "Temp");
  EXPECT_EQ(g.CompOp[2], 3);
  EXPECT_EQ(g.CompVal[2], 90);
  EXPECT_TRUE(TextOf(g.SigName[3]).empty());
}

TEST(TriggerConversion, NothingToAskWithoutUsedLinesOrBetweenAlikeEditors) {
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  NewConfigWithDefaults(cfg, sigs, 3);
  EXPECT_FALSE(ConvertTriggerForFamily(cfg, 0).needed);
  const T_CanLog_Config grid = GridTrigger();
  const TriggerConversion same = ConvertTriggerForFamily(grid, 1);
  EXPECT_FALSE(same.needed);
  EXPECT_EQ(TextOf(same.converted.SigName[3]), "Temp");
  EXPECT_EQ(same.converted.DeviceFamily, 1u);
  EXPECT_FALSE(ConvertTriggerForFamily(grid, 4).needed);  // shows both editors
}

TEST(TriggerConversion, TriggerLinesOfASignalAndTriggerSignalsNotLogged) {
  const T_CanLog_Config cfg = GridTrigger();
  EXPECT_EQ(TriggerLinesUsing(cfg, "Speed"), (std::vector<int>{0, 1}));
  EXPECT_TRUE(TriggerLinesUsing(cfg, "Other").empty());
  T_CanLog_SigTab sigs;  // all slots free
  sigs[0].id = 0x100;
  SetText(sigs[0].sn, "Speed");
  EXPECT_EQ(UnloggedTriggerSignals(cfg, sigs), (std::vector<std::string>{"Gear", "Temp"}));
  // An unused grid line does not count, whatever its signal.
  T_CanLog_Config unused = cfg;
  unused.ActionOrCombi[2] = kActionUnused;
  EXPECT_EQ(UnloggedTriggerSignals(unused, sigs), (std::vector<std::string>{"Temp"}));
}

}  // namespace
}  // namespace tessmar
