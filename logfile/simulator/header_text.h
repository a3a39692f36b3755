#pragma once
// Text header of a simulated recording: the configuration's lines as the configuration file
// writer produces them (scrambled when the configuration has a password), then the logger's own
// [LogFileInfo] section and the "[BINARY_LOG_DATA]" line. Lines end in CR LF.

#include <cstdint>
#include <string>

#include "config/canlog_config.h"

namespace tessmar::sim {

// start_date: seconds since 1970-01-01 00:00:00 (the logger's real-time clock at the start);
// start_timestamp: the tick counter at that moment.
bool BuildHeaderText(const LoggerConfiguration& config, int64_t start_date,
                     uint32_t start_timestamp, std::string& out);

}  // namespace tessmar::sim
