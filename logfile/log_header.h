#pragma once
// The text header of a recording: every line up to "[BINARY_LOG_DATA]" is a configuration line
// (unscrambled first when the header declares a key), plus the [LogFileInfo] section with the
// start date and the start tick count.

#include <cstdint>

#include "config/canlog_config.h"
#include "config/clc_parser.h"
#include "logfile/cld_reader.h"
#include "logfile/running_clock.h"

namespace tessmar {

inline constexpr char kBinaryLogDataLine[] = "[BINARY_LOG_DATA]";

struct LogHeader {
  // File position just behind the "[BINARY_LOG_DATA]" line; 0 when the line was not found (the
  // file then has no binary part).
  int64_t binary_position = 0;
  int32_t key = 0;               // key of the header ("Encryption="), 0 = plain
  LogFileInfo info;              // [LogFileInfo] as read
  LogStartInfo start;            // StartDate (seconds) and StartTimestamp for the clock
  bool frequency_known = false;  // "TimestampFreq=" present and above 0
  double frequency = kDefaultTimerFrequency;  // timer frequency to use
  int lines = 0;                              // header lines read (the marker line excluded)
};

// Reads the text header from the start of the file. The configuration is first reset to the
// defaults of device family 0, then every header line is parsed into it. When "TimestampFreq="
// is missing or not above 0, cfg.TimestampFreq is left at 39065.5 and frequency_known is false.
// Leaves the reader just behind the marker line (or at the end of the file).
LogHeader ReadLogHeader(CldReader& reader, T_CanLog_Config& cfg, T_CanLog_SigTab& sigs);

// Shows "Error: Logger's timer-frequency unknown." (error count + 1) when the header has no
// usable frequency. Returns the frequency to use.
double CheckTimerFrequency(const LogHeader& header, DecodeMessages* messages);

}  // namespace tessmar
