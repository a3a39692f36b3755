#include "logfile/simulator/header_text.h"

#include "common/message_output.h"
#include "config/clc_file.h"
#include "config/scramble.h"
#include "logfile/simulator/entry_encoder.h"

namespace tessmar::sim {

bool BuildHeaderText(const LoggerConfiguration& config, int64_t start_date,
                     uint32_t start_timestamp, std::string& out) {
  out = ClcFileText(config.cfg, config.sigs);
  if (out.empty()) return false;
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
  // The lines the logger adds are scrambled with the same key as the configuration's lines.
  const int32_t key = ClcWriteKey(config.cfg);
  const CivilTime t = CivilFromSeconds(static_cast<double>(start_date));
  const std::string lines[] = {
      "",
      "[LogFileInfo]",
      StrPrintf("StartDate=%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second),
      StrPrintf("StartTimestamp=%u", start_timestamp),
      "[BINARY_LOG_DATA]",
  };
  for (const auto& line : lines) {
    out += key != 0 ? Scrambled(line, key) : line;
    out += "\r\n";
  }
  return true;
}

}  // namespace tessmar::sim
