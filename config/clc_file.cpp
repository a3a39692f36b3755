#include "config/clc_file.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

#include "common/buffered_file.h"
#include "common/c_locale.h"
#include "common/message_output.h"
#include "common/text_readers.h"
#include "config/clc_value_check.h"
#include "config/scramble.h"

namespace tessmar {
namespace {

void AppendF(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void AppendF(std::string& out, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  const int n = VsnprintfC(text, sizeof text, format, args);
  va_end(args);
  if (n <= 0) return;
  out.append(text, static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n)
                                                             : sizeof text - 1);
}

// A character field as written after "=": control characters other than TAB would end the line.
char Printable(char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c; }

template <std::size_t N>
std::string Quoted(const char (&field)[N]) {
  return QuoteText(TextOf(field));
}

// Trigger signal names are written without quotes.
template <std::size_t N>
std::string Bare(const char (&field)[N]) {
  std::string text(TextOf(field));
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

std::string Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StrPrintfV(format, args);
  va_end(args);
  return text;
}

std::string MessageLine(int i, const T_CanLog_MsgDef& m) {
  std::string s;
  AppendF(s, "Msg%2.2d: id=0x%lX", i, static_cast<unsigned long>(m.id));
  s += ",mn=" + Quoted(m.mn);
  s += ",nn=" + Quoted(m.nn);
  AppendF(s, ",wi=%ld", static_cast<long>(m.wi));
  return s;
}

std::string SignalLine(int i, const T_CanLog_SigDef& g) {
  std::string s;
  AppendF(s, "Sig%2.2d: id=0x%lX", i, static_cast<unsigned long>(g.id));
  s += ",sn=" + Quoted(g.sn);
  AppendF(s, ",ty=%c", Printable(g.ty));
  s += ",un=" + Quoted(g.un);
  // "%G" where six digits give the number back (every typical factor and limit), otherwise as
  // many digits as that takes: a factor of 1234567.89 must not become 1.23457E+06.
  s += ",fa=" + FormatGRoundTrip(g.fa, true);
  s += ",of=" + FormatGRoundTrip(g.of, true);
  s += ",mi=" + FormatGRoundTrip(g.mi, true);
  s += ",ma=" + FormatGRoundTrip(g.ma, true);
  AppendF(s, ",sb=%d,nb=%d,bo=%c", g.sb, g.nb, Printable(g.bo));
  if (g.mu.MuxBitCount > 0) {
    // The text form carries the switch value as a 32-bit signed number.
    AppendF(s, ",mu=(%ld,%d,%d,%c)", static_cast<long>(static_cast<int32_t>(g.mu.MuxVal)),
            g.mu.MuxStartBit, g.mu.MuxBitCount, Printable(g.mu.MuxByteOrder));
  }
  return s;
}

std::string ExpressionLine(int i, const T_CanLog_ExprDef& e) {
  std::string s;
  AppendF(s, "Exp%2.2d: ex=", i);
  s += Quoted(e.ex);
  s += ",na=" + Quoted(e.na);
  s += ",mi=" + FormatGRoundTrip(e.mi, true);
  s += ",ma=" + FormatGRoundTrip(e.ma, true);
  return s;
}

void AppendTriggerLines(std::vector<std::string>& lines, const T_CanLog_Config& c) {
  if (c.DeviceFamily == 0) {
    for (int i = 0; i < kMaxFourLineTriggerLines; ++i) {
      lines.push_back(Line("SigName%d=", i) + Bare(c.SigName[i]));
      lines.push_back(Line("CompOpA%d=%d", i, c.CompOp[2 * i]));
      lines.push_back(Line("CompValA%d=", i) + FormatGRoundTrip(c.CompVal[2 * i]));
      lines.push_back(Line("InnerCombi%d=%d", i, c.ActionOrCombi[i]));
      lines.push_back(Line("CompOpB%d=%d", i, c.CompOp[2 * i + 1]));
      lines.push_back(Line("CompValB%d=", i) + FormatGRoundTrip(c.CompVal[2 * i + 1]));
    }
    lines.push_back(Line("OuterCombi0=%d", c.OuterCombi[0]));
    lines.push_back(Line("OuterCombi1=%d", c.OuterCombi[1]));
    lines.push_back(Line("Use2Starts=%d", c.Use2Starts));
    return;
  }
  for (int i = 0; i < kMaxTriggerLines; ++i) {
    lines.push_back(Line("SigName%d=", i) + Bare(c.SigName[i]));
    lines.push_back(Line("CompOp%d=%d", i, c.CompOp[i]));
    lines.push_back(Line("CompVal%d=", i) + FormatGRoundTrip(c.CompVal[i]));
    lines.push_back(Line("ActionOrCombi%d=%d", i, c.ActionOrCombi[i]));
  }
}

std::string JoinLines(const std::vector<std::string>& lines, int32_t key) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += i >= kFirstScrambledClcLine ? Scrambled(lines[i], key) : lines[i];
    text += "\r\n";
  }
  return text;
}

std::string FileError(const char* what, const std::filesystem::path& path,
                      const BufferedFile& file) {
  std::string text = StrPrintf("%s \"%s\"", what, path.string().c_str());
  if (file.last_error() != 0) text += ": " + file.last_error_text();
  return text;
}

}  // namespace

int32_t ClcWriteKey(const T_CanLog_Config& cfg) {
  // The key belongs to the password as the file holds it: the "Password1=" line writes control
  // characters as blanks, so they count as blanks here too, and reading the file back gives a
  // password whose key is the one written.
  std::string password(TextOf(cfg.Password1));
  for (char& c : password) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return PasswordProtects(password) ? KeyFromPassword(password) : 0;
}

std::vector<std::string> ClcFileLines(const T_CanLog_Config& c, const T_CanLog_SigTab& sigs) {
  std::vector<std::string> lines;
  lines.reserve(64);
  lines.emplace_back("[Common]");
  lines.push_back(Line("Encryption=%d", ClcWriteKey(c)));
  lines.push_back("PwdHint1=" + Quoted(c.PwdHint1));
  lines.push_back("Password1=" + Quoted(c.Password1));
  lines.emplace_back();
  lines.emplace_back("[CanLoggerConfig]");
  lines.push_back("InfoString=" + Quoted(c.InfoString));
  lines.push_back("DbFileBus1=" + Quoted(c.DbFileBus1));
  lines.push_back("DbFileBus2=" + Quoted(c.DbFileBus2));
  lines.push_back(Line("DeviceFamily=%d", static_cast<int>(c.DeviceFamily)));
  lines.push_back(Line("ReceiveAll=%d", c.ReceiveAll));
  lines.push_back(Line("ReceiveAppl=%d", c.ReceiveAppl));
  lines.push_back(Line("ReceiveErrFrames=%d", c.ReceiveErrFrames));
  lines.push_back(Line("ReceiveGps=%d", c.ReceiveGps));
  lines.push_back(Line("LogScriptVars=%d", c.LogScriptVars));
  lines.push_back(Line("FifoMode=%d", c.FifoMode));
  lines.push_back(Line("NewFileOnStartup=%d", c.NewFileOnStartup));
  lines.push_back(Line("NewFileOnTrigger=%d", c.NewFileOnTrigger));
  lines.push_back(Line("KeepFileOpened=%d", c.KeepFileOpened));
  lines.push_back(Line("FileSizeLimit=%ld", static_cast<long>(c.FileSizeLimit)));
  lines.push_back(Line("MsgRateLimit=%ld", static_cast<long>(c.MsgRateLimit)));
  lines.push_back("TimestampFreq=" + FormatGRoundTrip(c.TimestampFreq));
  lines.push_back(Line("InitTrigger=%d", c.InitTrigger));
  lines.push_back(Line("Pretrig10ms=%d", c.Pretrig10ms));
  lines.push_back(Line("Posttrig10ms=%d", c.Posttrig10ms));
  lines.push_back(Line("TrigOnDigIn=%d", c.TrigOnDigIn));
  lines.push_back(Line("TrigOnRxId=0x%08lX", static_cast<unsigned long>(c.TrigOnRxId)));
  lines.push_back(Line("TrigOptions=0x%08lX", static_cast<unsigned long>(c.TrigOptions)));
  // Slot 0 of each table is always written, so every file shows the line forms.
  for (int i = 0; i < MAX_LOGGED_MESSAGES; ++i) {
    const auto& m = c.Msg[static_cast<std::size_t>(i)];
    if (i == 0 || m.used()) lines.push_back(MessageLine(i, m));
  }
  for (int i = 0; i < MAX_LOGGED_SIGNALS; ++i) {
    const auto& g = sigs[static_cast<std::size_t>(i)];
    if (i == 0 || g.used()) lines.push_back(SignalLine(i, g));
  }
  for (int i = 0; i < MAX_LOGGED_EXPRESSIONS; ++i) {
    const auto& e = c.Exp[static_cast<std::size_t>(i)];
    if (i == 0 || e.used()) lines.push_back(ExpressionLine(i, e));
  }
  lines.emplace_back();
  lines.emplace_back("[TriggerCondition]");
  AppendTriggerLines(lines, c);
  return lines;
}

std::string ClcFileText(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs) {
  return JoinLines(ClcFileLines(cfg, sigs), ClcWriteKey(cfg));
}

std::string ClcPlainText(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs) {
  return JoinLines(ClcFileLines(cfg, sigs), 0);
}

bool WriteClcFile(const std::filesystem::path& path, const T_CanLog_Config& cfg,
                  const T_CanLog_SigTab& sigs, std::string* error) {
  BufferedFile file;
  if (!file.Create(path)) {
    if (error) *error = FileError("Cannot create", path, file);
    return false;
  }
  const int32_t key = ClcWriteKey(cfg);
  const std::vector<std::string> lines = ClcFileLines(cfg, sigs);
  bool ok = true;
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text = lines[i];
    if (i >= kFirstScrambledClcLine) ScrambleInPlace(text, key);
    text += "\r\n";
    if (!file.WriteText(text)) ok = false;
  }
  if (!file.Close()) ok = false;
  if (!ok && error) *error = FileError("Cannot write", path, file);
  return ok;
}

bool WriteClcFile(const std::filesystem::path& path, LoggerConfiguration& config,
                  std::string* error) {
  const bool ok = WriteClcFile(path, config.cfg, config.sigs, error);
  config.modified = false;
  return ok;
}

namespace {

// Lines not understood that are shown one by one; the rest are counted.
constexpr int kShownUnknownLines = 5;

// Feeds the lines next_line(raw) delivers to the line parser. Works on copies that replace cfg
// and sigs only when read_failed() is false at the end, so that a read error half-way leaves the
// configuration as it was. `name` is the file's name in messages (empty for text in memory).
// Values a line holds that cannot be used as given are reported with the line's number and kept
// as the parser reads them. A text that has many lines not understood and not a single section
// line is no configuration: false, with the reason in *not_configuration.
template <typename NextLine, typename ReadFailed>
bool ReadClcLines(NextLine next_line, ReadFailed read_failed, T_CanLog_Config& cfg,
                  T_CanLog_SigTab& sigs, const std::string& name, int* unknown_lines,
                  std::string* not_configuration) {
  if (unknown_lines) *unknown_lines = 0;
  auto new_cfg = std::make_unique<T_CanLog_Config>(cfg);
  auto new_sigs = std::make_unique<T_CanLog_SigTab>(sigs);
  ClcLineParser parser(*new_cfg, *new_sigs);
  std::string raw;
  std::string line;
  int unknown = 0;
  int line_number = 0;
  bool section_seen = false;
  while (next_line(raw)) {
    ++line_number;
    const ClcReadState section = parser.state();
    if (!parser.FeedFileLine(raw, &line)) {
      if (++unknown <= kShownUnknownLines)
        ShowMessageF(kMsgError, "Unknown: \"%s\" .", line.c_str());
      continue;
    }
    if (!line.empty() && line[0] == '[') section_seen = true;
    for (const std::string& problem : CheckLineValues(section, line)) {
      if (name.empty()) {
        ShowMessageF(kMsgWarning, "Line %d has a value that cannot be used (%s) .", line_number,
                     problem.c_str());
      } else {
        ShowMessageF(kMsgWarning, "Line %d of \"%s\" has a value that cannot be used (%s) .",
                     line_number, name.c_str(), problem.c_str());
      }
    }
  }
  if (unknown_lines) *unknown_lines = unknown;
  if (read_failed()) return false;
  if (unknown > kShownUnknownLines) {
    const std::string shown = name.empty() ? std::string("The text") : "\"" + name + "\"";
    if (!section_seen) {
      *not_configuration =
          StrPrintf("%s is not a logger configuration: %d of its %d lines were not understood.",
                    shown.c_str(), unknown, line_number);
      return false;
    }
    ShowMessageF(kMsgError, "%s has %d more lines that were not understood.", shown.c_str(),
                 unknown - kShownUnknownLines);
  }
  cfg = *new_cfg;
  sigs = *new_sigs;
  return true;
}

}  // namespace

bool ReadClcFile(const std::filesystem::path& path, T_CanLog_Config& cfg, T_CanLog_SigTab& sigs,
                 std::string* error, int* unknown_lines) {
  if (unknown_lines) *unknown_lines = 0;
  BufferedFile file;
  if (!file.OpenForReading(path)) {
    if (error) *error = FileError("Cannot open", path, file);
    return false;
  }
  std::string not_configuration;
  const bool ok = ReadClcLines([&file](std::string& raw) { return file.ReadLine(raw); },
                               [&file] { return file.last_error() != 0; }, cfg, sigs, path.string(),
                               unknown_lines, &not_configuration);
  if (!ok && error) {
    *error = not_configuration.empty() ? FileError("Cannot read", path, file) : not_configuration;
  }
  return ok;
}

bool ReadClcText(std::string_view text, T_CanLog_Config& cfg, T_CanLog_SigTab& sigs,
                 int* unknown_lines) {
  std::size_t pos = 0;
  const auto next_line = [text, &pos](std::string& raw) {
    std::string_view line;
    if (!NextTextLine(text, &pos, &line)) return false;
    raw.assign(line);
    return true;
  };
  std::string not_configuration;
  if (ReadClcLines(
          next_line, [] { return false; }, cfg, sigs, std::string(), unknown_lines,
          &not_configuration)) {
    return true;
  }
  ShowMessage(kMsgError, not_configuration);
  return false;
}

bool ReadClcText(std::string_view text, LoggerConfiguration& config, int* unknown_lines) {
  if (!ReadClcText(text, config.cfg, config.sigs, unknown_lines)) return false;
  config.modified = false;
  return true;
}

bool ReadClcFile(const std::filesystem::path& path, LoggerConfiguration& config, std::string* error,
                 int* unknown_lines) {
  if (!ReadClcFile(path, config.cfg, config.sigs, error, unknown_lines)) return false;
  config.modified = false;
  return true;
}

}  // namespace tessmar
