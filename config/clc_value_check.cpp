#include "config/clc_value_check.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "common/text_readers.h"

namespace tessmar {
namespace {

enum class Kind { kInteger, kReal, kAnyText, kTypeLetter, kChar, kMux };

struct Range {
  double min;
  double max;
  const char* expected;  // what the message says is expected
};

constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
constexpr double kInt32Max = std::numeric_limits<int32_t>::max();
constexpr Range kFlag{0, 1, "0 or 1 expected"};
constexpr Range kCount{0, kInt32Max, "a number from 0 to 2147483647 expected"};
constexpr Range kAnyInt32{kInt32Min, kInt32Max, "a 32-bit number expected"};
constexpr Range kWord32{kInt32Min, 4294967295.0, "a 32-bit number expected"};
constexpr Range kWord16{0, 65535, "a number from 0 to 65535 expected"};
constexpr Range kInt16{-32768, 32767, "a number from -32768 to 32767 expected"};

struct NumericKey {
  std::string_view name;  // with '='
  Range range;
};

constexpr NumericKey kLoggerKeys[] = {
    {"DeviceFamily=", {-1, kInt32Max, "a device family from -1 up expected"}},
    {"ReceiveAll=", kFlag},
    {"ReceiveAppl=", kFlag},
    {"ReceiveErrFrames=", kFlag},
    {"ReceiveGps=", kFlag},
    {"LogScriptVars=", kFlag},
    {"FifoMode=", kFlag},
    {"NewFileOnStartup=", kFlag},
    {"NewFileOnTrigger=", kFlag},
    {"KeepFileOpened=", kFlag},
    {"ReopenToAppend=", kFlag},
    {"FileSizeLimit=", kCount},
    {"MsgRateLimit=", kCount},
    {"InitTrigger=", {0, 2, "0 (stopped), 1 (engaged) or 2 (triggered) expected"}},
    {"Pretrig10ms=", {0, 32767, "a number from 0 to 32767 expected"}},
    {"Posttrig10ms=", {0, 32767, "a number from 0 to 32767 expected"}},
    {"TrigOnDigIn=", kAnyInt32},
    {"TrigOnRxId=", kWord32},
    {"TrigOptions=", kWord16},
};

// Reads a whole number or real (the program's number syntax) that must end where the value
// ends. Returns false with a problem text when it is no number or outside the range.
bool CheckNumber(std::string_view item, std::string_view& value, bool integer, const Range* range,
                 std::vector<std::string>& problems) {
  std::string_view v = value;
  bool digits = false;
  const double number = ReadReal(v, &digits);
  const std::size_t used = value.size() - v.size();
  std::string_view rest = v;
  SkipBlanks(rest);
  const bool ends = rest.empty() || rest[0] == ',';
  if (!digits || !ends) {
    const std::size_t end = value.find(',');
    problems.push_back(std::string(item) + std::string(value.substr(0, end)) + ": not a number");
    value = end == std::string_view::npos ? std::string_view() : value.substr(end);
    return false;
  }
  const std::string shown(value.substr(0, used));
  value = v;
  if (!std::isfinite(number) || (integer && number != std::floor(number))) {
    problems.push_back(std::string(item) + shown + ": not a whole number");
    return false;
  }
  if (range && (number < range->min || number > range->max)) {
    problems.push_back(std::string(item) + shown + ": " + range->expected);
    return false;
  }
  return true;
}

void CheckWholeValue(std::string_view item, std::string_view value, bool integer,
                     const Range* range, std::vector<std::string>& problems) {
  std::string_view v = value;
  if (!CheckNumber(item, v, integer, range, problems)) return;
  SkipBlanks(v);
  if (!v.empty()) problems.push_back(std::string(item) + std::string(value) + ": not a number");
}

// "xx=" items of a Msg/Sig/Exp line.
struct Item {
  std::string_view key;
  Kind kind;
  Range range;
};

constexpr Range kNoRange{0, 0, ""};
constexpr Item kMessageItems[] = {{"id", Kind::kInteger, kWord32},
                                  {"mn", Kind::kAnyText, kNoRange},
                                  {"nn", Kind::kAnyText, kNoRange},
                                  {"wi", Kind::kInteger, kWord16}};
constexpr Item kSignalItems[] = {
    {"id", Kind::kInteger, kWord32},  {"sn", Kind::kAnyText, kNoRange},
    {"vn", Kind::kAnyText, kNoRange}, {"ty", Kind::kTypeLetter, kNoRange},
    {"un", Kind::kAnyText, kNoRange}, {"fa", Kind::kReal, kNoRange},
    {"of", Kind::kReal, kNoRange},    {"mi", Kind::kReal, kNoRange},
    {"ma", Kind::kReal, kNoRange},    {"sb", Kind::kInteger, kInt16},
    {"nb", Kind::kInteger, kInt16},   {"bo", Kind::kChar, kNoRange},
    {"mu", Kind::kMux, kNoRange}};
constexpr Item kExpressionItems[] = {{"ex", Kind::kAnyText, kNoRange},
                                     {"na", Kind::kAnyText, kNoRange},
                                     {"mi", Kind::kReal, kNoRange},
                                     {"ma", Kind::kReal, kNoRange}};

// What a signal line says of its slot: a signal in use (identifier not all ones) needs a name.
struct SignalSlot {
  bool has_id = false;
  uint32_t id = 0;
  bool has_name = false;
  std::string name;
};

template <std::size_t N>
void CheckItemList(std::string_view rest, const Item (&items)[N], SignalSlot& slot,
                   std::vector<std::string>& problems) {
  for (;;) {
    SkipBlanks(rest);
    if (rest.empty()) return;
    if (rest.size() < 3 || rest[2] != '=') {
      problems.push_back(std::string(rest) + ": not understood (xx=value expected)");
      return;
    }
    const std::string_view key = rest.substr(0, 2);
    const std::string item = std::string(rest.substr(0, 3));
    rest.remove_prefix(3);
    const Item* found = nullptr;
    for (const Item& i : items) {
      if (i.key == key) found = &i;
    }
    if (found == nullptr) {
      problems.push_back(item + ": unknown item");
      return;
    }
    switch (found->kind) {
      case Kind::kInteger:
      case Kind::kReal: {
        if (key == "id") {
          // What the reader makes of it (0 when it is no number).
          std::string_view value = rest;
          slot.has_id = true;
          slot.id = ReadUnsigned(value);
        }
        CheckNumber(item, rest, found->kind == Kind::kInteger,
                    found->kind == Kind::kInteger ? &found->range : nullptr, problems);
        break;
      }
      case Kind::kAnyText:
        if (key == "sn" || key == "vn") {
          slot.has_name = true;
          slot.name = ReadText(rest);
        } else {
          ReadText(rest);
        }
        break;
      case Kind::kTypeLetter:
        if (rest.empty() || std::string_view("USFD").find(rest[0]) == std::string_view::npos) {
          problems.push_back(item + std::string(rest.substr(0, 1)) + ": U, S, F or D expected");
        }
        if (!rest.empty()) rest.remove_prefix(1);
        break;
      case Kind::kChar:
        if (!rest.empty()) rest.remove_prefix(1);
        break;
      case Kind::kMux: {
        // "(value,startbit,bitcount,byteorder)" or the same in double quotes.
        const char close = !rest.empty() && rest[0] == '(' ? ')' : '"';
        const std::size_t end = rest.find(close, 1);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        break;
      }
    }
    SkipBlanks(rest);
    if (rest.empty()) return;
    if (rest[0] != ',') {
      problems.push_back(item + "...: ',' expected before \"" + std::string(rest) + "\"");
      return;
    }
    rest.remove_prefix(1);
  }
}

template <std::size_t N>
void CheckItems(std::string_view prefix, std::string_view rest, int capacity,
                const Item (&items)[N], std::vector<std::string>& problems) {
  bool digits = false;
  const int32_t index = ReadInteger(rest, &digits);
  if (!digits) return;  // not understood at all: the parser says so
  if (index < 0 || index >= capacity) {
    problems.push_back(std::string(prefix) + std::to_string(index) + ": slot number from 0 to " +
                       std::to_string(capacity - 1) + " expected");
    return;
  }
  const std::size_t colon = rest.find(':');
  rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  SignalSlot slot;
  CheckItemList(rest, items, slot, problems);
  // A signal in use without a name cannot be shown, triggered on or told apart.
  const bool in_use = slot.has_id && slot.id != kCanIdFree;
  if (prefix == "Sig" && in_use && slot.name.empty()) {
    problems.push_back(slot.has_name ? "sn=: a signal name expected"
                                     : "sn=...: missing, a signal name expected");
  }
}

void CheckLoggerLine(std::string_view line, std::vector<std::string>& problems) {
  for (const NumericKey& k : kLoggerKeys) {
    if (line.starts_with(k.name)) {
      CheckWholeValue(k.name, line.substr(k.name.size()), true, &k.range, problems);
      return;
    }
  }
  if (line.starts_with("TimestampFreq=")) {
    constexpr Range kPositive{1e-9, 1e12, "a frequency above 0 expected"};
    CheckWholeValue("TimestampFreq=", line.substr(14), false, &kPositive, problems);
  } else if (line.starts_with("Msg")) {
    CheckItems("Msg", line.substr(3), MAX_LOGGED_MESSAGES, kMessageItems, problems);
  } else if (line.starts_with("Sig")) {
    CheckItems("Sig", line.substr(3), MAX_LOGGED_SIGNALS, kSignalItems, problems);
  } else if (line.starts_with("Exp")) {
    CheckItems("Exp", line.substr(3), MAX_LOGGED_EXPRESSIONS, kExpressionItems, problems);
  }
}

void CheckTriggerLine(std::string_view line, std::vector<std::string>& problems) {
  if (line.starts_with("Use2Starts=")) {
    CheckWholeValue("Use2Starts=", line.substr(11), true, &kFlag, problems);
    return;
  }
  static constexpr struct {
    std::string_view name;
    bool has_ab;
    int lines;  // trigger lines that exist for this key
    Range range;
    bool integer;
  } kKeys[] = {
      {"SigName", false, kMaxTriggerLines, kNoRange, false},
      {"CompOp", true, kMaxTriggerLines, {-1, 6, "an operator code from -1 to 6 expected"}, true},
      {"CompVal", true, kMaxTriggerLines, kNoRange, false},
      {"ActionOrCombi", false, kMaxTriggerLines, kNoRange, true},
      {"InnerCombi", false, kMaxTriggerLines, kNoRange, true},
      {"OuterCombi", false, 2, {0, 2, "0 (---), 1 (AND) or 2 (OR) expected"}, true},
  };
  for (const auto& k : kKeys) {
    if (!line.starts_with(k.name)) continue;
    std::string_view v = line.substr(k.name.size());
    if (k.has_ab && !v.empty() && (v[0] == 'A' || v[0] == 'B')) v.remove_prefix(1);
    const std::size_t eq = v.find('=');
    if (eq == std::string_view::npos) return;  // not understood: the parser says so
    const std::string_view number = v.substr(0, eq);
    const std::string key(line.substr(0, line.size() - v.size() + eq + 1));
    bool digits = false;
    std::string_view n = number;
    const int32_t index = ReadInteger(n, &digits);
    if (!digits || !n.empty() || number.size() != 1 || index >= k.lines) {
      problems.push_back(key + ": trigger line number from 0 to " + std::to_string(k.lines - 1) +
                         " expected");
      return;
    }
    const std::string_view value = v.substr(eq + 1);
    if (k.name == "SigName") return;  // names are checked against the signals at the end
    if (k.name == "ActionOrCombi" || k.name == "InnerCombi") {
      const std::size_t before = problems.size();
      CheckWholeValue(key, value, true, nullptr, problems);
      if (problems.size() != before) return;
      std::string_view code = value;
      const int32_t c = ReadInteger(code);
      if (c != -1 && c != 0 && c != 1 && c != 2 && c != 4) {
        problems.push_back(key + std::string(value) +
                           ": -1 (unused), 0 (START), 1 (AND), 2 (OR) or 4 (STOP) expected");
      }
      return;
    }
    CheckWholeValue(key, value, k.integer, k.integer ? &k.range : nullptr, problems);
    return;
  }
}

}  // namespace

std::vector<std::string> CheckLineValues(ClcReadState state, std::string_view line) {
  std::vector<std::string> problems;
  if (state == ClcReadState::kLoggerConfig) CheckLoggerLine(line, problems);
  if (state == ClcReadState::kTrigger) CheckTriggerLine(line, problems);
  return problems;
}

std::vector<std::string> UnknownTriggerSignals(const LoggerConfiguration& config,
                                               const LoggerConfiguration& before) {
  std::vector<std::string> problems;
  for (int i = 0; i < kMaxTriggerLines; ++i) {
    const std::string_view name = TextOf(config.cfg.SigName[i]);
    if (name == TextOf(before.cfg.SigName[i])) continue;
    // Empty names and names beginning with '-' ("--unused--") mark unused trigger lines.
    if (name.empty() || name[0] == '-') continue;
    if (FindSignalByName(config.sigs, name) < 0) {
      problems.push_back("SigName" + std::to_string(i) + "=" + std::string(name) +
                         ": no logged signal has this name");
    }
  }
  return problems;
}

}  // namespace tessmar
