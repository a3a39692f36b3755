#include "logfile/log_header.h"

#include <string>

#include "common/message_output.h"
#include "config/scramble.h"

namespace tessmar {

LogHeader ReadLogHeader(CldReader& reader, T_CanLog_Config& cfg, T_CanLog_SigTab& sigs) {
  LogHeader h;
  NewConfigWithDefaults(cfg, sigs, 0);
  cfg.TimestampFreq = 0;  // tells a missing key from a present one
  ClcLineParser parser(cfg, sigs);
  reader.SetPosition(0, 0);
  std::string raw;
  std::string line;
  while (reader.ReadLine(&raw)) {
    const int32_t key = parser.key();
    if (key != 0) {
      line = Unscrambled(raw, key);
    } else {
      line = raw;
    }
    // The marker is compared after unscrambling; a marker written plain is accepted too.
    if (line == kBinaryLogDataLine || raw == kBinaryLogDataLine) {
      h.binary_position = reader.Position();
      break;
    }
    ++h.lines;
    parser.ParseLine(line);
  }
  h.key = parser.key();
  h.info = parser.log_file_info();
  h.start.start_date = h.info.has_start_date ? h.info.start_date : 0;
  h.start.start_timestamp = h.info.has_start_timestamp ? h.info.start_timestamp : 0;
  h.frequency_known = cfg.TimestampFreq > 0 && cfg.TimestampFreq < 1e12;
  if (!h.frequency_known) cfg.TimestampFreq = kDefaultTimerFrequency;
  h.frequency = cfg.TimestampFreq;
  return h;
}

double CheckTimerFrequency(const LogHeader& header, DecodeMessages* messages) {
  if (header.frequency_known) return header.frequency;
  if (messages != nullptr) ++messages->error_count;
  ShowMessageF(kMsgError, "Error: Logger's timer-frequency unknown.");
  return kDefaultTimerFrequency;
}

}  // namespace tessmar
