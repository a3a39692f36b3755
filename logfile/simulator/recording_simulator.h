#pragma once
// Recording simulator: writes a logger recording (.cld) for a logger configuration exactly as the
// Kavrix logger would — the configuration's lines as text header with a [LogFileInfo] section,
// "[BINARY_LOG_DATA]", an optional 512-byte binary header, then the entry stream: CAN frames of
// the configured messages at their rates with moving signal values, a "tim" entry every second,
// expression entries and BULK blocks for the configured expressions (an expression over logged
// signals carries its value on the simulated signals, so that users can check their expressions on
// sample data), GPS entries along a track,
// "pre"/"tri" markers and the "eof" marker. It can write a circular (FIFO) file with a size limit
// and inject the counter and file defects the converter has to repair.
//
// The output depends only on the configuration and the options: the same seed gives the same
// bytes. The result tells what was written (counts, first and last times, injected faults, and on
// request every entry) so tests of the reader and the converter can compare with it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/canlog_config.h"

namespace tessmar {

// Defects the simulator can put into a recording.
struct SimulatorFaults {
  bool wrap24 = false;           // the tick counter starts half a second before a 24-bit wrap
  bool lost_carry = false;       // one CAN frame loses the carry from bit 15 to bit 16
  bool counter_restart = false;  // the logger restarts mid-recording: counter from ~0, 45 s gap
  bool bad_rtc_date = false;     // the real-time clock reads 1999-12-31 (GPS keeps the true date)
  bool dummy_blocks = false;     // a few runs of all-zero filler slots
  bool truncated_end = false;    // power lost: no "eof", the last entry is cut short
  // Once, entries a converter has to read over: unknown markers ("TIM", "xyz"), other data
  // classes (0x80, 0xB0), unknown GPS types (0xA0, 0xA5), BULK blocks of other kinds (0xC3, 0xE0),
  // a frame with identifier 0xFFFFFFFF, a frame with data length code 15, an expression entry
  // whose bytes 2-3 are not zero, and a BULK block with "string", "octets" and "unknown" records.
  bool odd_entries = false;

  bool any() const {
    return wrap24 || lost_carry || counter_restart || bad_rtc_date || dummy_blocks ||
           truncated_end || odd_entries;
  }
};

struct SimulatorOptions {
  double duration_s = 60.0;  // recorded time (the gap of a counter restart not included)
  // Bus load in percent of a 500 kbit/s bus (100 % = 4000 frames per second); 0 keeps the rates
  // of the configuration (message write interval, else 100 ms).
  double bus_load_percent = 0.0;
  uint64_t seed = 1;
  // Circular file: -1 as the configuration says (FifoMode, FileSizeLimit), 0 = linear file,
  // above 0 = circular file limited to this many KiB.
  int64_t fifo_size_kb = -1;
  std::optional<std::string> password;  // scrambles the header; overrides Password1
  bool binary_header = true;
  std::optional<bool> gps;  // default: ReceiveGps of the configuration
  // Start of the recording, seconds since 1970-01-01 00:00:00 (no time zone), whole seconds.
  int64_t start_date = 1777881600;  // 2026-05-04 08:00:00
  SimulatorFaults faults;
  bool keep_entry_list = false;  // fill SimulationResult::entries
};

// Kinds of entries the simulator writes.
enum class SimEntryKind : uint8_t {
  kNone = 0,
  kCanFrame,
  kTime,
  kEof,
  kPreTrigger,
  kTrigger,
  kExpression,
  kGps1,
  kGps2,
  kBulk,
  kDummy,
  kOther,  // classes the converter ignores (unknown markers, other data, other BULK kinds)
};
const char* SimEntryKindName(SimEntryKind kind);

// One entry of the file, in file order.
struct SimulatedEntry {
  uint64_t file_pos = 0;
  SimEntryKind kind = SimEntryKind::kNone;
  uint32_t slots = 1;   // 16-byte slots the entry occupies
  uint64_t ticks = 0;   // the logger's counter, not truncated (after a restart: from ~0)
  double time = 0.0;    // true time, seconds since 1970 (the real clock, not the RTC)
  uint32_t can_id = 0;  // identifier word of a CAN frame
};

// Range and count of the values written for one signal or expression.
struct SimulatedChannel {
  std::string name;
  uint64_t count = 0;
  uint64_t nan_count = 0;  // values that are no number (factor NaN): counted, not ranged
  double min = 0.0;
  double max = 0.0;
};

struct SimulationResult {
  bool ok = false;
  std::string error;

  uint64_t file_size = 0;
  uint64_t binary_pos = 0;       // first byte after the "[BINARY_LOG_DATA]" line
  uint64_t first_entry_pos = 0;  // binary_pos, or binary_pos + 512 with the binary header
  int64_t eof_pos = -1;          // position of the "eof" marker; -1 when none was written
  bool circular = false;
  bool wrapped = false;  // the circular file was overwritten at least once
  double timer_frequency = 0.0;
  int64_t start_date = 0;        // StartDate of [LogFileInfo] (the RTC's reading)
  uint32_t start_timestamp = 0;  // StartTimestamp of [LogFileInfo]

  // Entries present in the file (a BULK block counts once, every filler slot once).
  uint64_t entries_in_file = 0;
  uint64_t can_frames = 0;
  uint64_t time_entries = 0;
  uint64_t expression_entries = 0;
  uint64_t bulk_blocks = 0;
  uint64_t gps_fixes = 0;  // pairs of GPS entries 1 and 2
  uint64_t dummy_blocks = 0;
  uint64_t pre_markers = 0;
  uint64_t tri_markers = 0;
  uint64_t other_entries = 0;    // entries of classes the converter ignores
  uint64_t entries_written = 0;  // also those a circular file overwrote

  // Oldest and newest timed entry in the file (true time and the logger's counter).
  double first_time = 0.0;
  double last_time = 0.0;
  uint64_t first_ticks = 0;
  uint64_t last_ticks = 0;

  std::vector<std::string> faults;            // one line per injected defect, with its position
  std::vector<SimulatedChannel> signals;      // per used signal slot, in slot order
  std::vector<SimulatedChannel> expressions;  // per used expression slot
  std::vector<SimulatedEntry> entries;        // with keep_entry_list, in file order
};

// Writes the recording. Never throws; on failure ok is false and error says why (the message is
// also reported through the message output).
SimulationResult SimulateRecording(const LoggerConfiguration& config,
                                   const SimulatorOptions& options,
                                   const std::filesystem::path& path);

// The result as "key=value" lines (CR LF), one list line per fault and channel: a ground-truth
// file to keep beside the recording.
std::string FormatSimulationManifest(const SimulationResult& result);

}  // namespace tessmar
