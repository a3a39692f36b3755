#pragma once
// A pre-scan run ahead of the conversion of one recording, kept for it: the Python package's
// open_recording() scans the file for the recording's facts, and its frames() and signals() hand
// that scan to the conversion instead of reading the whole file once more. The conversion takes it
// only while the file is unchanged (size and modification time) and its own pre-scan would be set
// up the same way; it scans again otherwise. What it leaves behind is what a fresh pre-scan would:
// the result, the running clock, the reader's position, the counters and the messages.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/message_output.h"
#include "logfile/cld_reader.h"
#include "logfile/decode_messages.h"
#include "logfile/pre_scan.h"
#include "logfile/running_clock.h"

namespace tessmar {

struct ReadyPreScan {
  // The file as it was scanned.
  std::filesystem::path source;
  int64_t file_size = 0;
  std::filesystem::file_time_type modified;

  // The setup it ran with (from the headers; no value ranges, no breakpoint, no verbose lists).
  LogStartInfo start;
  double frequency = 0;
  bool new_file_on_startup = false;
  bool circular = false;
  int64_t next_write_position = -1;

  // What it left behind: the result, whether the clock still trusts the dates, the reader's
  // position, the decoding counters (counted from fresh ones) and the messages it showed (no
  // status lines), in their order.
  PreScanResult result;
  bool dates_trusted = true;
  int64_t reader_position = 0;
  uint32_t reader_index = 0;
  DecodeMessages counters;
  struct Message {
    int severity = 0;
    std::string text;
    int error_count = 0;  // the scan's error count when it was shown
  };
  std::vector<Message> messages;
};

// Runs the pre-scan of `source`, open in `reader` with its headers read, as a conversion of it
// alone with the default options would, and keeps it. The messages go into the result instead of
// the message output. `ok` is false when the scan could not be completed (a read error): such a
// scan is not taken by a conversion.
ReadyPreScan RunReadyPreScan(CldReader& reader, const std::filesystem::path& source,
                             const PreScanSetup& setup, bool* ok);

// True when a conversion of `source`, open in `reader`, may take `ready` instead of running its
// pre-scan with `setup` and the counters `messages` (no verbose lists, nothing counted for the
// run yet that the scan would limit).
bool ReadyPreScanFits(const ReadyPreScan& ready, const std::filesystem::path& source,
                      const CldReader& reader, const PreScanSetup& setup,
                      const DecodeMessages& messages);

// Takes a fitting ready pre-scan as RunPreScan would have run: shows its messages, each with the
// error count it was shown at (the driver tells counted errors with and without a message apart),
// adds its counts to `messages`, sets the clock and the reader as the scan left them and the start
// of a combined conversion (`combined_start_time`, may be null) when it is still negative.
PreScanResult TakeReadyPreScan(const ReadyPreScan& ready, CldReader& reader, RunningClock& clock,
                               DecodeMessages& messages, ExtTime* combined_start_time = nullptr);

}  // namespace tessmar
