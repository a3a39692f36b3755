#pragma once
// Pre-scan of a recording: one pass over the whole entry stream before the conversion. It finds
// where the recording begins (in a circular file the oldest entry lies somewhere in the middle),
// counts the entries to convert, establishes the start tick count and the time base, checks the
// logger's real-time clock (falling back to GPS time), and widens the value ranges of all
// channels and the GPS range.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "logfile/calendar.h"
#include "logfile/channel_value.h"
#include "logfile/cld_reader.h"
#include "logfile/count_runs.h"
#include "logfile/decode_messages.h"
#include "logfile/log_header.h"
#include "logfile/running_clock.h"
#include "logfile/signal_values.h"

namespace tessmar {

// Progress report: done out of total (here percent of 100). Returning false aborts.
using ProgressCallback = std::function<bool(int done, int total)>;

// Smallest and largest GPS values of the valid fixes. Latitude and longitude in hundredths of an
// arc second, height in m (-9999 = none), speed in km/h.
struct GpsRange {
  int32_t latitude_min = 32400000;
  int32_t latitude_max = -32400000;
  int32_t longitude_min = 64800000;
  int32_t longitude_max = -64800000;
  double height_min = -9999;
  double height_max = -9999;
  double speed_min = 0;
  double speed_max = 10;
  bool Empty() const { return latitude_min > latitude_max; }
};

struct PreScanSetup {
  std::string_view file_name;  // without directory, for messages
  LogStartInfo start;          // StartDate / StartTimestamp of [LogFileInfo]
  double frequency = kDefaultTimerFrequency;
  bool new_file_on_startup = false;  // "NewFileOnStartup=" of the recording
  // "FifoMode=" of the recording: a circular file, whose oldest entries may follow the newest.
  bool circular = false;
  // "dwFilePosForNextWrite" of the binary header, -1 = none. Only a hint: when an "eof" marker
  // stands there, a circular file needs no search for its newest entry.
  int64_t next_write_position = -1;
  double breakpoint = 0;  // conditional breakpoint, seconds since 1970; 0 = off
  // Columns whose ranges are widened (may be empty: then no ranges are collected).
  const ColumnLayout* layout = nullptr;
  const SignalDecoder* signals = nullptr;
  std::span<ChannelValue> channels;
  ProgressCallback progress;
};

// The setup of a recording's pre-scan from what its headers say: the start, the timer frequency,
// "NewFileOnStartup=", "FifoMode=" and the binary header's next write position. file_name is
// kept as a view: it must outlive the setup.
PreScanSetup HeaderPreScanSetup(std::string_view file_name, const LogHeader& header,
                                const T_CanLog_Config& cfg, const BinaryLogHeader& binary,
                                double frequency);

struct PreScanResult {
  bool completed = false;    // false when the progress callback aborted
  uint32_t entry_count = 0;  // entries read (a BULK block counts once)
  // Entry index at which the conversion starts: the oldest time entry, or in a circular file that
  // wrapped, the entry right behind the "eof" marker when the oldest time entry follows it.
  int32_t oldest_index = 0;
  // File position of that entry. The conversion winds here: it is exact also when BULK blocks of
  // several slots come before it (where first entry + 16 x index would not be).
  int64_t oldest_position = 0;
  bool found_eof = false;
  // A circular file without "eof" marker that wrapped: the entry behind the newest one, where the
  // conversion starts (not found otherwise).
  EntryPlace wrap;
  // Where the logger's counter started again (handed to the clock for the conversion pass).
  std::vector<CounterRestart> counter_restarts;
  bool time_entry_seen = false;
  bool has_first_frame_stamp = false;
  uint32_t first_frame_stamp = 0;    // 24 bits
  uint64_t smallest_tick_count = 0;  // 0 = none
  ExtTime oldest_time = -1;          // smallest absolute time of a time entry (StartDate if none)
  ExtTime time_base_at_oldest = -1;
  ExtTime latest_time = -1;
  double duration = 0;  // latest - oldest time, 0 when not positive
  int listed_tim = 0;
  int listed_pre = 0;
  int listed_tri = 0;
  bool has_gps = false;         // the file contains GPS entries
  double oldest_gps_time = -1;  // smallest date and time of a complete fix, -1 = none
  GpsRange gps;
  bool bad_rtc = false;           // the oldest time lay outside 2000..2050
  bool using_gps_time = false;    // the GPS time replaced the logger's clock
  LogStartInfo start;             // start values (replaced by GPS time when used)
  uint64_t start_tick_count = 0;  // running tick count at the start of the conversion
  ExtTime time_base = 0;          // time base for the conversion
  ExtTime source_start_time = 0;  // start time of this source (time base + start ticks / f)
};

// Runs the pre-scan. Resets the clock for the file first; at the end the clock holds the start
// tick count and time base for the conversion pass (call clock.BeginPass(kConversion) next).
// `combined_start_time` (may be null) is the start time of a combined conversion: set to the
// oldest time when it is still negative.
PreScanResult RunPreScan(CldReader& reader, RunningClock& clock, DecodeMessages& messages,
                         const PreScanSetup& setup, ExtTime* combined_start_time = nullptr);

}  // namespace tessmar
