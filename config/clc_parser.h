#pragma once
// The configuration line parser: reads the lines of a logger configuration file (.clc) and of the
// text header of a recording (.cld) into a T_CanLog_Config and its signal table.
//
// Usage for a recording header (every line up to "[BINARY_LOG_DATA]"):
//
//   ClcLineParser parser(cfg, sigs);          // key 0, no section yet
//   while (reader.ReadLine(raw)) {
//     if (raw == "[BINARY_LOG_DATA]") break;  // checked by the caller
//     parser.FeedFileLine(raw);               // unscrambles with the file's key, then parses
//   }
//   parser.key();                             // key of the file ("Encryption="), 0 = plain
//   parser.log_file_info().start_date ...     // [LogFileInfo] values
//
// ParseLine() takes a line that is already unscrambled; FeedFileLine() unscrambles a raw line
// with the key set by an earlier "Encryption=" line first. Both return whether the line was
// understood (empty lines are; unknown keys and sections are not). Neither prints anything.

#include <cstdint>
#include <string>
#include <string_view>

#include "config/canlog_config.h"

namespace tessmar {

// Section that decides which keys are understood.
enum class ClcReadState {
  kNone,           // before the first section line: only the common keys
  kCommon,         // "[Common]"
  kLoggerConfig,   // "[CanLoggerConfig]"
  kSnooperConfig,  // "[CanSnooperConfig]"
  kTrigger,        // "[TriggerCondition]"
  kLogFileInfo,    // "[LogFileInfo]"
};

// Values of the [LogFileInfo] section of a recording header.
struct LogFileInfo {
  bool has_start_date = false;
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  // StartDate as seconds since 1970-01-01 00:00:00, no time zone.
  int64_t start_date = 0;
  bool has_start_timestamp = false;
  uint32_t start_timestamp = 0;  // timestamp counter (ticks) at the start date
};

// Seconds since 1970-01-01 00:00:00 (no time zone) of a calendar date and time; out-of-range
// fields are carried over arithmetically (month 13 is January of the next year).
int64_t CalendarToSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                          int64_t second);

class ClcLineParser {
 public:
  ClcLineParser(T_CanLog_Config& cfg, T_CanLog_SigTab& sigs) : cfg_(cfg), sigs_(sigs) {}

  // Parses one unscrambled line; true when it was understood.
  bool ParseLine(std::string_view line);

  // Unscrambles a raw file line with the current key, then parses it. When unscrambled is given
  // it receives the line as parsed (for messages).
  bool FeedFileLine(std::string_view raw, std::string* unscrambled = nullptr);

  ClcReadState state() const { return state_; }
  void set_state(ClcReadState state) { state_ = state; }

  // Key of the file: set by "Encryption=", 0 = plain.
  int32_t key() const { return key_; }
  void set_key(int32_t key) { key_ = key; }

  const LogFileInfo& log_file_info() const { return info_; }

 private:
  bool ParseCommonKey(std::string_view line);
  bool ParseLoggerConfigKey(std::string_view line);
  bool ParseTriggerKey(std::string_view line);
  bool ParseLogFileInfoKey(std::string_view line);
  // False when no slot index follows the line prefix.
  bool ParseMessageLine(std::string_view rest);
  bool ParseSignalLine(std::string_view rest);
  bool ParseExpressionLine(std::string_view rest);

  T_CanLog_Config& cfg_;
  T_CanLog_SigTab& sigs_;
  ClcReadState state_ = ClcReadState::kNone;
  int32_t key_ = 0;
  LogFileInfo info_;
  std::string scratch_;
};

}  // namespace tessmar
