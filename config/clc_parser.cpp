#include "config/clc_parser.h"

#include "common/text_readers.h"
#include "config/scramble.h"

namespace tessmar {
namespace {

// True when line starts with key; rest receives what follows it.
bool StartsWith(std::string_view line, std::string_view key, std::string_view* rest) {
  if (line.substr(0, key.size()) != key) return false;
  *rest = line.substr(key.size());
  return true;
}

bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Next item key of a key list ("xx="); false at the end of the list.
bool NextItemKey(std::string_view& s, std::string_view* key) {
  SkipBlanks(s);
  if (s.size() < 3 || !IsLower(s[0]) || !IsLower(s[1]) || s[2] != '=') return false;
  *key = s.substr(0, 2);
  s.remove_prefix(3);
  return true;
}

// After an item's value: true when a comma follows (the list goes on).
bool NextItemFollows(std::string_view& s) {
  SkipBlanks(s);
  return SkipChar(s, ',');
}

// The single character after '=' (the field keeps its value when the line ends there).
void ReadCharInto(std::string_view& s, char* field) {
  if (s.empty()) return;
  *field = s[0];
  s.remove_prefix(1);
}

// Reads "(value,startbit,bitcount,byteorder)", also without parentheses and with quotes.
void ReadMux(std::string_view& s, T_CanLog_MuxDef* mux) {
  SkipBlanks(s);
  const bool paren = SkipChar(s, '(');
  SkipChar(s, '"');
  T_CanLog_MuxDef m;
  m.MuxVal = ReadInteger(s);  // 32-bit value, widened with its sign
  SkipBlanks(s);
  SkipChar(s, ',');
  m.MuxStartBit = static_cast<int16_t>(ReadInteger(s));
  SkipBlanks(s);
  SkipChar(s, ',');
  m.MuxBitCount = static_cast<int16_t>(ReadInteger(s));
  SkipBlanks(s);
  SkipChar(s, ',');
  SkipBlanks(s);
  ReadCharInto(s, &m.MuxByteOrder);
  SkipBlanks(s);
  if (paren) {
    SkipChar(s, ')');
  } else {
    SkipChar(s, '"');
  }
  *mux = m.MuxBitCount > 0 ? m : T_CanLog_MuxDef{};
}

// Reads the slot index after "Msg"/"Sig"/"Exp" and skips up to and including the next ':' and
// one blank. False when no index digit follows the prefix.
bool ReadSlotPrefix(std::string_view& s, int32_t* index) {
  bool digits = false;
  *index = ReadInteger(s, &digits);
  if (!digits) return false;
  const std::size_t colon = s.find(':');
  s = colon == std::string_view::npos ? std::string_view() : s.substr(colon + 1);
  SkipChar(s, ' ');
  return true;
}

bool SlotValid(int32_t index, int capacity) { return index >= 0 && index < capacity; }

}  // namespace

int64_t CalendarToSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                          int64_t second) {
  // Carry months outside 1..12 into the year, then count days from the civil calendar.
  int64_t m0 = month - 1;
  year += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
  m0 -= 12 * (m0 >= 0 ? m0 / 12 : -((11 - m0) / 12));
  const int64_t m = m0 + 1;
  const int64_t y = m <= 2 ? year - 1 : year;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

bool ClcLineParser::FeedFileLine(std::string_view raw, std::string* unscrambled) {
  if (key_ != 0) {
    scratch_.assign(raw);
    UnscrambleInPlace(scratch_, key_);
    if (unscrambled) *unscrambled = scratch_;
    return ParseLine(scratch_);
  }
  if (unscrambled) unscrambled->assign(raw);
  return ParseLine(raw);
}

bool ClcLineParser::ParseLine(std::string_view line) {
  if (line.find_first_not_of(" \t") == std::string_view::npos) return true;  // empty line
  if (line[0] == '[') {
    static constexpr struct {
      std::string_view name;
      ClcReadState state;
    } kSections[] = {
        {"[Common]", ClcReadState::kCommon},
        {"[CanLoggerConfig]", ClcReadState::kLoggerConfig},
        {"[CanSnooperConfig]", ClcReadState::kSnooperConfig},
        {"[TriggerCondition]", ClcReadState::kTrigger},
        {"[LogFileInfo]", ClcReadState::kLogFileInfo},
    };
    for (const auto& section : kSections) {
      if (line == section.name) {
        state_ = section.state;
        return true;
      }
    }
    return false;
  }
  if (ParseCommonKey(line)) return true;
  switch (state_) {
    case ClcReadState::kLoggerConfig:
      return ParseLoggerConfigKey(line);
    case ClcReadState::kTrigger:
      return ParseTriggerKey(line);
    case ClcReadState::kLogFileInfo:
      return ParseLogFileInfoKey(line);
    case ClcReadState::kNone:
    case ClcReadState::kCommon:
    case ClcReadState::kSnooperConfig:
      break;
  }
  return false;
}

bool ClcLineParser::ParseCommonKey(std::string_view line) {
  std::string_view v;
  if (StartsWith(line, "Encryption=", &v)) {
    key_ = ReadInteger(v);
    return true;
  }
  if (StartsWith(line, "PwdHint1=", &v)) {
    ReadTextInto(v, cfg_.PwdHint1);
    return true;
  }
  if (StartsWith(line, "Password1=", &v)) {
    ReadTextInto(v, cfg_.Password1);
    return true;
  }
  return false;
}

bool ClcLineParser::ParseLoggerConfigKey(std::string_view line) {
  std::string_view v;
  T_CanLog_Config& c = cfg_;
  if (StartsWith(line, "InfoString=", &v)) {
    ReadTextInto(v, c.InfoString);
  } else if (StartsWith(line, "DbFileBus1=", &v)) {
    ReadTextInto(v, c.DbFileBus1);
  } else if (StartsWith(line, "DbFileBus2=", &v)) {
    ReadTextInto(v, c.DbFileBus2);
  } else if (StartsWith(line, "DeviceFamily=", &v)) {
    c.DeviceFamily = static_cast<uint32_t>(ReadInteger(v));
  } else if (StartsWith(line, "ReceiveAll=", &v)) {
    c.ReceiveAll = ReadInteger(v);
  } else if (StartsWith(line, "ReceiveAppl=", &v)) {
    c.ReceiveAppl = ReadInteger(v);
  } else if (StartsWith(line, "ReceiveErrFrames=", &v)) {
    c.ReceiveErrFrames = ReadInteger(v);
  } else if (StartsWith(line, "ReceiveGps=", &v)) {
    c.ReceiveGps = ReadInteger(v);
  } else if (StartsWith(line, "LogScriptVars=", &v)) {
    c.LogScriptVars = ReadInteger(v);
  } else if (StartsWith(line, "FifoMode=", &v)) {
    c.FifoMode = ReadInteger(v);
  } else if (StartsWith(line, "NewFileOnStartup=", &v)) {
    c.NewFileOnStartup = ReadInteger(v);
  } else if (StartsWith(line, "NewFileOnTrigger=", &v)) {
    c.NewFileOnTrigger = ReadInteger(v);
  } else if (StartsWith(line, "KeepFileOpened=", &v)) {
    c.KeepFileOpened = ReadInteger(v);
  } else if (StartsWith(line, "ReopenToAppend=", &v)) {
    // Older files say whether to append; a new file on start-up is the opposite.
    c.NewFileOnStartup = ReadInteger(v) == 0 ? 1 : 0;
  } else if (StartsWith(line, "FileSizeLimit=", &v)) {
    c.FileSizeLimit = ReadInteger(v);
  } else if (StartsWith(line, "MsgRateLimit=", &v)) {
    c.MsgRateLimit = ReadInteger(v);
  } else if (StartsWith(line, "TimestampFreq=", &v)) {
    c.TimestampFreq = ReadReal(v);
  } else if (StartsWith(line, "InitTrigger=", &v)) {
    c.InitTrigger = static_cast<int16_t>(ReadInteger(v));
  } else if (StartsWith(line, "Pretrig10ms=", &v)) {
    c.Pretrig10ms = static_cast<uint16_t>(ReadInteger(v));
  } else if (StartsWith(line, "Posttrig10ms=", &v)) {
    c.Posttrig10ms = static_cast<uint16_t>(ReadInteger(v));
  } else if (StartsWith(line, "TrigOnDigIn=", &v)) {
    c.TrigOnDigIn = ReadInteger(v);
  } else if (StartsWith(line, "TrigOnRxId=", &v)) {
    c.TrigOnRxId = static_cast<uint32_t>(ReadInteger(v));
  } else if (StartsWith(line, "TrigOptions=", &v)) {
    c.TrigOptions = static_cast<uint16_t>(ReadInteger(v));
  } else if (StartsWith(line, "Msg", &v)) {
    // Checked after the keys: "MsgRateLimit=" starts with "Msg" as well.
    return ParseMessageLine(v);
  } else if (StartsWith(line, "Sig", &v)) {
    return ParseSignalLine(v);
  } else if (StartsWith(line, "Exp", &v)) {
    return ParseExpressionLine(v);
  } else {
    return false;
  }
  return true;
}

bool ClcLineParser::ParseMessageLine(std::string_view rest) {
  int32_t index = 0;
  if (!ReadSlotPrefix(rest, &index)) return false;
  T_CanLog_MsgDef m;  // cleared record; keys missing from the line keep their cleared values
  std::string_view key;
  while (NextItemKey(rest, &key)) {
    if (key == "id") {
      m.id = ReadUnsigned(rest);
    } else if (key == "mn") {
      ReadTextInto(rest, m.mn);
    } else if (key == "nn") {
      ReadTextInto(rest, m.nn);
    } else if (key == "wi") {
      m.wi = static_cast<uint16_t>(ReadInteger(rest));
    } else {
      break;
    }
    if (!NextItemFollows(rest)) break;
  }
  if (SlotValid(index, MAX_LOGGED_MESSAGES)) cfg_.Msg[static_cast<std::size_t>(index)] = m;
  return true;
}

bool ClcLineParser::ParseSignalLine(std::string_view rest) {
  int32_t index = 0;
  if (!ReadSlotPrefix(rest, &index)) return false;
  T_CanLog_SigDef s;
  std::string_view key;
  while (NextItemKey(rest, &key)) {
    if (key == "id") {
      s.id = ReadUnsigned(rest);
    } else if (key == "sn" || key == "vn") {
      ReadTextInto(rest, s.sn);
    } else if (key == "ty") {
      ReadCharInto(rest, &s.ty);
    } else if (key == "un") {
      ReadTextInto(rest, s.un);
    } else if (key == "fa") {
      s.fa = ReadReal(rest);
    } else if (key == "of") {
      s.of = ReadReal(rest);
    } else if (key == "mi") {
      s.mi = ReadReal(rest);
    } else if (key == "ma") {
      s.ma = ReadReal(rest);
    } else if (key == "sb") {
      s.sb = static_cast<int16_t>(ReadInteger(rest));
    } else if (key == "nb") {
      s.nb = static_cast<int16_t>(ReadInteger(rest));
    } else if (key == "bo") {
      ReadCharInto(rest, &s.bo);
    } else if (key == "mu") {
      ReadMux(rest, &s.mu);
    } else {
      break;
    }
    if (!NextItemFollows(rest)) break;
  }
  if (!SlotValid(index, MAX_LOGGED_SIGNALS)) return true;
  // A 64-bit float is a double, whatever letter the line gave.
  if (s.ty == 'F' && s.nb == 64) s.ty = 'D';
  sigs_[static_cast<std::size_t>(index)] = s;
  // Make sure the carrying message exists. A message slot with this identifier anywhere in the
  // table counts (tables with gaps are normal after editing), else the first free slot becomes a
  // message of unknown name; nothing happens when the table is full.
  if (FindMessageById(cfg_, s.id) < 0) {
    for (auto& msg : cfg_.Msg) {
      if (!msg.used()) {
        msg = T_CanLog_MsgDef{};
        msg.id = s.id;
        SetText(msg.nn, kUnknownNodeName);
        SetText(msg.mn, kUnknownMessageName);
        break;
      }
    }
  }
  return true;
}

bool ClcLineParser::ParseExpressionLine(std::string_view rest) {
  int32_t index = 0;
  if (!ReadSlotPrefix(rest, &index)) return false;
  T_CanLog_ExprDef e;
  std::string_view key;
  while (NextItemKey(rest, &key)) {
    if (key == "ex") {
      ReadTextInto(rest, e.ex);
    } else if (key == "na") {
      ReadTextInto(rest, e.na);
    } else if (key == "mi") {
      e.mi = ReadReal(rest);
    } else if (key == "ma") {
      e.ma = ReadReal(rest);
    } else {
      break;
    }
    if (!NextItemFollows(rest)) break;
  }
  if (SlotValid(index, MAX_LOGGED_EXPRESSIONS)) cfg_.Exp[static_cast<std::size_t>(index)] = e;
  return true;
}

bool ClcLineParser::ParseTriggerKey(std::string_view line) {
  enum class Key { kSigName, kCompOp, kCompVal, kActionOrCombi, kOuterCombi };
  static constexpr struct {
    std::string_view name;
    Key key;
    bool has_ab;  // 'A' / 'B' may follow the name
  } kKeys[] = {
      {"SigName", Key::kSigName, false},          {"CompOp", Key::kCompOp, true},
      {"CompVal", Key::kCompVal, true},           {"ActionOrCombi", Key::kActionOrCombi, false},
      {"InnerCombi", Key::kActionOrCombi, false}, {"OuterCombi", Key::kOuterCombi, false},
  };
  std::string_view v;
  if (StartsWith(line, "Use2Starts=", &v)) {
    cfg_.Use2Starts = ReadInteger(v);
    return true;
  }
  for (const auto& k : kKeys) {
    if (!StartsWith(line, k.name, &v)) continue;
    int ab = -1;  // -1 none, 0 A, 1 B
    if (k.has_ab && !v.empty() && (v[0] == 'A' || v[0] == 'B')) {
      ab = v[0] == 'A' ? 0 : 1;
      v.remove_prefix(1);
    }
    if (v.empty() || !IsDigit(v[0])) return false;
    const int digit = v[0] - '0';
    // One digit only: whatever follows up to '=' is skipped.
    const std::size_t eq = v.find('=');
    if (eq == std::string_view::npos) return false;
    v.remove_prefix(eq + 1);
    const int slot = ab < 0 ? digit : 2 * digit + ab;
    switch (k.key) {
      case Key::kSigName:
        ReadTextInto(v, cfg_.SigName[digit]);
        break;
      case Key::kCompOp:
        if (slot < kMaxTriggerComparisons) cfg_.CompOp[slot] = ReadInteger(v);
        break;
      case Key::kCompVal:
        if (slot < kMaxTriggerComparisons) cfg_.CompVal[slot] = ReadReal(v);
        break;
      case Key::kActionOrCombi:
        cfg_.ActionOrCombi[digit] = ReadInteger(v);
        break;
      case Key::kOuterCombi:
        if (digit < 2) cfg_.OuterCombi[digit] = ReadInteger(v);
        break;
    }
    return true;
  }
  return false;
}

bool ClcLineParser::ParseLogFileInfoKey(std::string_view line) {
  std::string_view v;
  if (StartsWith(line, "StartDate=", &v)) {
    LogFileInfo& i = info_;
    i.year = ReadInteger(v);
    SkipChar(v, '-');
    i.month = ReadInteger(v);
    SkipChar(v, '-');
    i.day = ReadInteger(v);
    SkipBlanks(v);
    i.hour = ReadInteger(v);
    SkipChar(v, ':');
    i.minute = ReadInteger(v);
    SkipChar(v, ':');
    i.second = ReadInteger(v);
    i.start_date = CalendarToSeconds(i.year, i.month, i.day, i.hour, i.minute, i.second);
    i.has_start_date = true;
    return true;
  }
  if (StartsWith(line, "StartTimestamp=", &v)) {
    info_.start_timestamp = static_cast<uint32_t>(ReadInteger(v));
    info_.has_start_timestamp = true;
    return true;
  }
  return false;
}

}  // namespace tessmar
