#include "config/trigger_conversion.h"

#include <algorithm>

#include "common/message_output.h"
#include "config/trigger_editor.h"

namespace tessmar {

namespace {

// One comparison of a condition and how it joins the comparison before it (AND or OR; the
// first of a condition has none).
struct Term {
  std::string signal;
  int32_t op = 0;
  double value = 0;
  int32_t join = kActionOr;
};

struct Condition {
  const char* name;  // "START", "STOP", "START2"
  std::vector<Term> terms;
};

bool FourLineOperator(int32_t op) { return op >= 0 && op < kFourLineOperators; }

std::string TermText(const Term& t) {
  return StrPrintf("%s %s %g", t.signal.c_str(), std::string(OperatorText(t.op)).c_str(), t.value);
}

std::string ConditionText(const Condition& c) {
  std::string text = std::string(c.name) + ":";
  for (std::size_t i = 0; i < c.terms.size(); ++i) {
    if (i > 0) text += std::string(" ") + std::string(ActionText(c.terms[i].join));
    text += " " + TermText(c.terms[i]);
  }
  return text;
}

int TriggerLineCount(const T_CanLog_Config& cfg) {
  return FamilyLimits(cfg.DeviceFamily).trigger_editor == TriggerEditor::kFourLine
             ? kMaxFourLineTriggerLines
             : kMaxTriggerLines;
}

bool LineUsed(const T_CanLog_Config& cfg, int i) {
  if (!TriggerSignalActive(TextOf(cfg.SigName[i]))) return false;
  return FamilyLimits(cfg.DeviceFamily).trigger_editor != TriggerEditor::kGrid ||
         cfg.ActionOrCombi[i] != kActionUnused;
}

// The conditions of the grid: a START or STOP line opens a condition, AND and OR lines join it.
std::vector<Condition> ReadGrid(const T_CanLog_Config& cfg, std::vector<std::string>& dropped) {
  Condition start{"START", {}}, stop{"STOP", {}};
  Condition* current = &start;
  bool start_seen = false, stop_seen = false;
  for (int i = 0; i < kMaxTriggerLines; ++i) {
    const int32_t action = cfg.ActionOrCombi[i];
    if (!LineUsed(cfg, i)) continue;
    Term t{std::string(TextOf(cfg.SigName[i])), cfg.CompOp[i], cfg.CompVal[i], kActionOr};
    // Line 1 is a START line unless it says STOP.
    const bool opens_start = action == kActionStart || (i == 0 && action != kActionStop);
    if (opens_start || action == kActionStop) {
      bool& seen = opens_start ? start_seen : stop_seen;
      if (seen) {
        dropped.push_back(StrPrintf("line %d, %s (a second %s condition)", i + 1,
                                    TermText(t).c_str(), opens_start ? "START" : "STOP"));
        current = nullptr;
        continue;
      }
      seen = true;
      current = opens_start ? &start : &stop;
      current->terms.push_back(t);
    } else if (action == kActionAnd || action == kActionOr) {
      if (!current) {
        dropped.push_back(
            StrPrintf("line %d, %s (joins a condition left out)", i + 1, TermText(t).c_str()));
        continue;
      }
      t.join = action;
      current->terms.push_back(t);
    } else {
      dropped.push_back(StrPrintf("line %d, %s (unknown action)", i + 1, TermText(t).c_str()));
    }
  }
  return {start, stop};
}

// The conditions of the four-line trigger: lines 1 and 2 start, lines 3 and 4 stop (or start a
// second time).
std::vector<Condition> ReadFourLine(const T_CanLog_Config& cfg) {
  std::vector<Condition> conditions = {{"START", {}}, {cfg.Use2Starts ? "START2" : "STOP", {}}};
  for (int n = 0; n < kMaxFourLineTriggerLines; ++n) {
    Condition& c = conditions[static_cast<std::size_t>(n / 2)];
    const bool second_line = n % 2 == 1;
    if (!TriggerSignalActive(TextOf(cfg.SigName[n]))) continue;
    // "(---)" between the two lines of a condition leaves the second line out of it.
    if (second_line && !c.terms.empty() && cfg.OuterCombi[n / 2] != kActionAnd &&
        cfg.OuterCombi[n / 2] != kActionOr) {
      continue;
    }
    const std::string signal(TextOf(cfg.SigName[n]));
    c.terms.push_back({signal, cfg.CompOp[2 * n], cfg.CompVal[2 * n], cfg.OuterCombi[n / 2]});
    const int32_t inner = cfg.ActionOrCombi[n];
    if (inner == kActionAnd || inner == kActionOr) {
      c.terms.push_back({signal, cfg.CompOp[2 * n + 1], cfg.CompVal[2 * n + 1], inner});
    }
  }
  return conditions;
}

void ClearTrigger(T_CanLog_Config& cfg) {
  for (int i = 0; i < kMaxTriggerLines; ++i) {
    SetText(cfg.SigName[i], "");
    cfg.ActionOrCombi[i] = kActionOr;
  }
  for (int k = 0; k < kMaxTriggerComparisons; ++k) {
    cfg.CompOp[k] = k % 2 == 0 ? 1 : 3;
    cfg.CompVal[k] = 0;
  }
  cfg.OuterCombi[0] = cfg.OuterCombi[1] = kActionOr;
  cfg.Use2Starts = 0;
}

void WriteGrid(const std::vector<Condition>& conditions, T_CanLog_Config& cfg,
               std::vector<std::string>& kept, std::vector<std::string>& dropped) {
  ClearTrigger(cfg);
  cfg.ActionOrCombi[0] = kActionStart;
  int line = 0;
  for (const Condition& c : conditions) {
    if (c.terms.empty()) continue;
    if (std::string_view(c.name) == "START2") {
      for (const Term& t : c.terms) {
        dropped.push_back(TermText(t) +
                          " (the grid takes one START condition: START2 is left out)");
      }
      continue;
    }
    for (std::size_t k = 0; k < c.terms.size(); ++k) {
      const Term& t = c.terms[k];
      SetText(cfg.SigName[line], t.signal);
      cfg.ActionOrCombi[line] =
          k > 0 ? t.join : (std::string_view(c.name) == "STOP" ? kActionStop : kActionStart);
      cfg.CompOp[line] = t.op;
      cfg.CompVal[line] = t.value;
      ++line;
    }
    kept.push_back(ConditionText(c));
  }
}

void WriteFourLine(const std::vector<Condition>& conditions, T_CanLog_Config& cfg,
                   std::vector<std::string>& kept, std::vector<std::string>& dropped) {
  ClearTrigger(cfg);
  for (std::size_t g = 0; g < conditions.size() && g < 2; ++g) {
    const Condition& c = conditions[g];
    Condition shown{c.name, {}};
    int n = static_cast<int>(2 * g);  // next free line of this condition
    const int end = n + 2;
    bool line_has_b = true;  // the line last filled cannot take a comparison B
    for (const Term& t : c.terms) {
      if (!FourLineOperator(t.op)) {
        dropped.push_back(TermText(t) +
                          " (the four-line trigger compares with <, <=, > and >= only)");
        continue;
      }
      const int last = n - 1;
      // A second comparison of the same signal goes into comparison B of its line.
      if (!line_has_b && last >= 0 && TextOf(cfg.SigName[last]) == t.signal) {
        cfg.ActionOrCombi[last] = t.join;
        cfg.CompOp[2 * last + 1] = t.op;
        cfg.CompVal[2 * last + 1] = t.value;
        line_has_b = true;
        shown.terms.push_back(t);
        continue;
      }
      if (n >= end) {
        dropped.push_back(TermText(t) + " (the four-line trigger has two lines per condition)");
        continue;
      }
      SetText(cfg.SigName[n], t.signal);
      cfg.ActionOrCombi[n] = 0;  // "(---)": comparison A only
      cfg.CompOp[2 * n] = t.op;
      cfg.CompVal[2 * n] = t.value;
      if (n % 2 == 1) cfg.OuterCombi[g] = t.join;
      ++n;
      line_has_b = false;
      shown.terms.push_back(t);
    }
    if (!shown.terms.empty()) kept.push_back(ConditionText(shown));
  }
}

}  // namespace

std::vector<int> TriggerLinesUsing(const T_CanLog_Config& cfg, std::string_view name) {
  std::vector<int> lines;
  for (int i = 0; i < TriggerLineCount(cfg); ++i) {
    if (LineUsed(cfg, i) && TextOf(cfg.SigName[i]) == name) lines.push_back(i);
  }
  return lines;
}

std::vector<std::string> UnloggedTriggerSignals(const T_CanLog_Config& cfg,
                                                const T_CanLog_SigTab& sigs) {
  std::vector<std::string> names;
  for (int i = 0; i < TriggerLineCount(cfg); ++i) {
    if (!LineUsed(cfg, i)) continue;
    const std::string name(TextOf(cfg.SigName[i]));
    const int slot = FindSignalByName(sigs, name);
    const bool logged = slot >= 0 && sigs[static_cast<std::size_t>(slot)].id != kCanIdFree;
    if (!logged && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(name);
    }
  }
  return names;
}

TriggerConversion ConvertTriggerForFamily(const T_CanLog_Config& cfg, uint32_t new_family) {
  TriggerConversion result;
  result.converted = cfg;
  result.converted.DeviceFamily = new_family;
  const TriggerEditor from = FamilyLimits(cfg.DeviceFamily).trigger_editor;
  const TriggerEditor to = FamilyLimits(new_family).trigger_editor;
  if (from == to || from == TriggerEditor::kBoth || to == TriggerEditor::kBoth) return result;
  bool any = false;
  for (int i = 0; i < TriggerLineCount(cfg); ++i) any = any || LineUsed(cfg, i);
  if (!any) return result;
  result.needed = true;
  if (to == TriggerEditor::kFourLine) {
    const std::vector<Condition> conditions = ReadGrid(cfg, result.dropped);
    WriteFourLine(conditions, result.converted, result.kept, result.dropped);
  } else {
    WriteGrid(ReadFourLine(cfg), result.converted, result.kept, result.dropped);
  }
  return result;
}

std::string TriggerConversionQuestion(const TriggerConversion& conversion,
                                      std::string_view family_name) {
  std::string text = StrPrintf(
      "The trigger editor of \"%s\" holds the trigger conditions in another form: they are "
      "rewritten for it.\r\n",
      std::string(family_name).c_str());
  text += "\r\nKept:\r\n";
  if (conversion.kept.empty()) text += "   (nothing)\r\n";
  for (const std::string& k : conversion.kept) text += "   " + k + "\r\n";
  if (!conversion.dropped.empty()) {
    text += "\r\nDropped:\r\n";
    for (const std::string& d : conversion.dropped) text += "   " + d + "\r\n";
  }
  text += "\r\nChange the device family ?";
  return text;
}

}  // namespace tessmar
