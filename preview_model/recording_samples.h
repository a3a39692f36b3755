#pragma once
// A recording decoded for the signal viewer: every signal and expression of the recording as its
// own series of (time, value) samples, each taken at the time of the entry that carried it (no
// row grid). Reading goes through the same reader, pre-scan, running clock and value decoders
// as a conversion, so the viewer shows the values a conversion writes.

#include <array>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "config/canlog_config.h"
#include "logfile/gps_fix.h"

namespace tessmar {

// One text of a signal's value table (the value descriptions of its CAN database), at the
// physical value its raw value scales to.
struct StateText {
  double value = 0;
  std::string text;
  friend bool operator==(const StateText&, const StateText&) = default;
};

struct ViewerChannel {
  std::string name;
  std::string unit;
  std::string message;    // identifier of the carrying message ("0x123"); empty for expressions
  int bus = 0;            // 1..3 for signals, 0 for expressions
  std::vector<double> t;  // seconds since the recording's start, ascending
  std::vector<double> v;  // scaled values, one per time
  double minimum = 0;     // range of the values (0 and 0 without samples)
  double maximum = 0;
  // The value table of a state signal, ascending by value; empty for other channels.
  std::vector<StateText> states;

  std::size_t size() const { return t.size(); }
};

struct Recording {
  std::filesystem::path file;
  double start = 0;     // absolute time (seconds since 1970) of t = 0: the oldest entry
  double duration = 0;  // seconds from the oldest to the newest entry read
  std::vector<ViewerChannel> channels;
  // Complete GPS fixes (GPS entries 1 and 2 both seen since the last one) with their times on
  // the same axis as the samples.
  std::vector<GpsFix> fixes;
  std::vector<double> fix_t;

  // Bytes held by the samples.
  std::size_t SampleBytes() const;
};

// Reads a recording. The signal definitions are the recording's own unless `user_config` is given
// (the loaded CAN databases, as the converter's "ignore signal definitions" option does). The
// value tables of the signals come from the CAN databases that the configuration in use names
// (found as written or beside the recording). Problems are shown through the message output;
// false when nothing could be read.
bool LoadRecording(const std::filesystem::path& path, Recording* out,
                   const LoggerConfiguration* user_config = nullptr);

// Gives every signal channel of `channels` (made from the definitions `signals`, in `origins`:
// the index into `signals` of each channel, -1 for others) the value table of its signal in the
// DBC files for bus 1 and 2 (an empty name skips the bus). A signal is found by its message's
// identifier and its name, or, when its name differs (an alias), by its start bit and length.
void AttachValueTables(std::vector<ViewerChannel>& channels, std::span<const int> origins,
                       const T_CanLog_SigTab& signals, const std::array<std::string, 2>& databases);

}  // namespace tessmar
