#include "config/trigger_editor.h"

#include <cstdio>

#include "common/c_locale.h"
#include "common/message_output.h"
#include "common/text_readers.h"

namespace tessmar {
namespace {

struct CodeText {
  int32_t code;
  const char* text;
};

constexpr CodeText kActions[] = {
    {kActionStart, "START"},
    {kActionAnd, "AND"},
    {kActionOr, "OR"},
    {kActionStop, "STOP"},
    {kActionUnused, kTriggerUnusedEntry},
};

constexpr const char* kOperators[] = {"<", "<=", ">", ">=", "==", "!=", "&"};
constexpr int32_t kOperatorCount = 7;

enum Op : int32_t { kLess = 0, kLessEq = 1, kGreater = 2, kGreaterEq = 3 };

bool IsLess(int32_t op) { return op == kLess || op == kLessEq; }
bool IsGreater(int32_t op) { return op == kGreater || op == kGreaterEq; }

std::string Overfluent(int comparison) {
  return "Condition in line " + std::to_string(comparison) + " is OVERFLUENT";
}

std::string PairFinding(int b, const char* what) {
  return "Condition in lines " + std::to_string(2 * b + 1) + " and " + std::to_string(2 * b + 2) +
         " is " + what;
}

// The finding for one line of the four-line trigger, empty if none. a, c: reference values of
// comparisons A and B; op_a, op_b: their operators; combi: the inner combination.
std::string LineFinding(int b, int32_t combi, int32_t op_a, int32_t op_b, double a, double c) {
  if (op_a < 0 || op_a > kGreaterEq || op_b < 0 || op_b > kGreaterEq) return {};
  std::string overfluent, never, always;
  if (combi == kActionAnd) {
    if (IsLess(op_a) && IsLess(op_b)) {
      // x < a AND x < c: the larger bound adds nothing.
      overfluent = Overfluent(a < c ? 2 * b + 2 : 2 * b + 1);
    } else if (IsGreater(op_a) && IsGreater(op_b)) {
      overfluent = Overfluent(a > c ? 2 * b + 2 : 2 * b + 1);
    } else if (op_a == kLess && op_b == kGreater) {
      if (a <= c) never = PairFinding(b, "NEVER true");
    } else if (op_a == kLess && op_b == kGreaterEq) {
      if (a < c) never = PairFinding(b, "NEVER true");
    } else if (op_a == kLessEq && op_b == kGreater) {
      if (a <= c) never = PairFinding(b, "NEVER true");
    } else if (op_a == kLessEq && op_b == kGreaterEq) {
      if (a < c) never = PairFinding(b, "NEVER true");
    } else if (IsGreater(op_a) && IsLess(op_b)) {
      // x >= a AND x <= c still holds for x == a when a == c.
      const bool both_inclusive = op_a == kGreaterEq && op_b == kLessEq;
      if (both_inclusive ? a > c : a >= c) never = PairFinding(b, "NEVER true");
    }
  } else if (combi == kActionOr) {
    if (IsLess(op_a) && IsLess(op_b)) {
      // x < a OR x < c: the smaller bound adds nothing.
      overfluent = Overfluent(a < c ? 2 * b + 1 : 2 * b + 2);
    } else if (IsGreater(op_a) && IsGreater(op_b)) {
      overfluent = Overfluent(a > c ? 2 * b + 1 : 2 * b + 2);
    } else if (op_a == kLess && op_b == kGreater) {
      if (a > c) always = PairFinding(b, "ALWAYS true");
    } else if (op_a == kLess && op_b == kGreaterEq) {
      if (a >= c) always = PairFinding(b, "ALWAYS true");
    } else if (op_a == kLessEq && IsGreater(op_b)) {
      if (a >= c) always = PairFinding(b, "ALWAYS true");
    } else if (op_a == kGreater && op_b == kLess) {
      if (a < c) always = PairFinding(b, "ALWAYS true");
    } else if (op_a == kGreater && op_b == kLessEq) {
      if (a <= c) always = PairFinding(b, "ALWAYS true");
    } else if (op_a == kGreaterEq && IsLess(op_b)) {
      if (a <= c) always = PairFinding(b, "ALWAYS true");
    }
  }
  // The last finding in the order OVERFLUENT, NEVER, ALWAYS wins.
  if (!always.empty()) return always;
  if (!never.empty()) return never;
  return overfluent;
}

}  // namespace

// ---- Code tables -------------------------------------------------------------------------------

std::string_view ActionText(int32_t code) {
  for (const CodeText& a : kActions) {
    if (a.code == code) return a.text;
  }
  return kUnknownCodeText;
}

int32_t ActionCode(std::string_view text) {
  for (const CodeText& a : kActions) {
    if (text == a.text) return a.code;
  }
  return kActionStart;
}

std::string_view OperatorText(int32_t code) {
  if (code < 0 || code >= kOperatorCount) return kUnknownCodeText;
  return kOperators[code];
}

int32_t OperatorCode(std::string_view text) {
  for (int32_t i = 0; i < kOperatorCount; ++i) {
    if (text == kOperators[i]) return i;
  }
  return -1;
}

std::vector<std::string> TriggerActionChoices(int line) {
  std::vector<std::string> choices = {"START", "STOP"};
  if (line > 0) {
    choices.emplace_back("AND");
    choices.emplace_back("OR");
  }
  choices.emplace_back(kTriggerUnusedEntry);
  return choices;
}

std::vector<std::string> TriggerOperatorChoices() {
  std::vector<std::string> choices(std::begin(kOperators), std::end(kOperators));
  choices.emplace_back(kOperatorUnusedEntry);
  return choices;
}

std::vector<std::string> TriggerSignalChoices(const T_CanLog_SigTab& sigs) {
  std::vector<std::string> choices;
  for (const T_CanLog_SigDef& s : sigs) {
    if (s.used()) choices.emplace_back(TextOf(s.sn));
  }
  choices.emplace_back(kTriggerUnusedEntry);
  return choices;
}

int TriggerChoiceIndex(const std::vector<std::string>& choices, std::string_view cell) {
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (choices[i] == cell) return int(i);
  }
  return int(choices.size()) - 1;
}

// ---- Ten-line grid -----------------------------------------------------------------------------

const std::array<const char*, kTriggerGridColumns> kTriggerGridTitles = {
    "Line", "Action/Op", "IF..", "Signal", "Comp", "Reference Value", ""};

std::string TriggerGridCheck::ErrorText() const {
  if (start_lines <= 1) return {};
  return StrPrintf(Tr(kTrigMsgTooManyStarts), start_lines);
}

TriggerGridCheck TriggerGrid::CheckLines(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs) {
  TriggerGridCheck check;
  for (int i = 0; i < kMaxTriggerLines; ++i) {
    uint32_t flags = 0;
    if (cfg.ActionOrCombi[i] == kActionStart && ++check.start_lines > 1) {
      flags |= kTrigFlagTooManyStarts;
      check.status_text = kTrigMsgMaxOneStart;
    }
    if (FindSignalByName(sigs, TextOf(cfg.SigName[i])) < 0) {
      flags |= kTrigFlagUnknownSignal;
      check.status_text = kTrigMsgSignalNotFound;
    }
    const uint32_t updated = (flags_[std::size_t(i)] & ~0x0Fu) | flags;
    if (updated != flags_[std::size_t(i)]) check.changed_lines |= 1u << i;
    flags_[std::size_t(i)] = updated;
  }
  return check;
}

TriggerGridCheck TriggerGrid::Refill(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs) {
  for (int i = 0; i < kMaxTriggerLines; ++i) {
    Line& line = lines_[std::size_t(i)];
    const int32_t action = cfg.ActionOrCombi[i];
    line[kTrigColLine] = std::to_string(i + 1);
    if (i == 0) {
      line[kTrigColAction] = action == kActionStop ? "STOP" : "START";
    } else {
      line[kTrigColAction] = std::string(ActionText(action));
    }
    line[kTrigColIf] = " (";
    line[kTrigColSignal] = std::string(TextOf(cfg.SigName[i]));
    line[kTrigColComp] = std::string(OperatorText(cfg.CompOp[i]));
    line[kTrigColValue] = FormatG(cfg.CompVal[i]);
    line[kTrigColClose] = " )";
  }
  return CheckLines(cfg, sigs);
}

TriggerGridCheck TriggerGrid::Apply(T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs) {
  for (int i = 0; i < kMaxTriggerLines; ++i) {
    const Line& line = lines_[std::size_t(i)];
    cfg.ActionOrCombi[i] = ActionCode(line[kTrigColAction]);
    SetText(cfg.SigName[i], line[kTrigColSignal]);
    cfg.CompOp[i] = OperatorCode(line[kTrigColComp]);
    std::string_view value = line[kTrigColValue];
    cfg.CompVal[i] = ReadReal(value);
  }
  return CheckLines(cfg, sigs);
}

// ---- Four-line trigger -------------------------------------------------------------------------

bool TriggerSignalActive(std::string_view name) {
  return !name.empty() && static_cast<unsigned char>(name[0]) > ' ' && name[0] != '-';
}

FourLineCheck CheckFourLineTrigger(const T_CanLog_Config& cfg) {
  FourLineCheck result;
  bool first_done = false;
  for (int b = 0; b < kMaxTriggerLines; ++b) {
    if (!TriggerSignalActive(TextOf(cfg.SigName[b]))) continue;
    std::string finding =
        LineFinding(b, cfg.ActionOrCombi[b], cfg.CompOp[2 * b], cfg.CompOp[2 * b + 1],
                    cfg.CompVal[2 * b], cfg.CompVal[2 * b + 1]);
    if (finding.empty()) continue;
    if (!first_done) {
      result.first = std::move(finding);
      first_done = true;
    } else {
      result.second = std::move(finding);
    }
  }
  return result;
}

// ---- Trigger options ---------------------------------------------------------------------------

const std::array<const char*, kTrigOptionBoxes> kTrigOptionTexts = {
    "trigger on RISING EDGE of start-conditions",
    "trigger on FALLING EDGE of start-conditions",
    "stop on RISING EDGE of stop-conditions",
    "stop on FALLING EDGE of stop-conditions",
    "Pre- and Post-trigger phase ONLY (time-limited recording)",
    "if no STOP condition is defined, stop when the START condition is FALSE",
};

// The last box's bit means the opposite of its text.
constexpr uint16_t kInvertedOptionBit = 0x20;

std::array<bool, kTrigOptionBoxes> TrigOptionBoxes(uint16_t options) {
  const uint16_t shown = options ^ kInvertedOptionBit;
  std::array<bool, kTrigOptionBoxes> boxes{};
  for (int i = 0; i < kTrigOptionBoxes; ++i) boxes[std::size_t(i)] = (shown >> i) & 1u;
  return boxes;
}

uint16_t TrigOptionsFromBoxes(uint16_t old_options,
                              const std::array<bool, kTrigOptionBoxes>& boxes) {
  uint16_t bits = 0;
  for (int i = 0; i < kTrigOptionBoxes; ++i) {
    if (boxes[std::size_t(i)]) bits = uint16_t(bits | (1u << i));
  }
  bits ^= kInvertedOptionBit;
  return uint16_t((old_options & ~0x3Fu) | bits);
}

}  // namespace tessmar
