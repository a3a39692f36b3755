#include "convert/ready_pre_scan.h"

#include <system_error>

namespace tessmar {
namespace {

// The modification time of the file, or the minimum when it cannot be read (which no file has,
// so that such a file never fits).
std::filesystem::file_time_type ModifiedTime(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::file_time_type t = std::filesystem::last_write_time(path, ec);
  return ec ? std::filesystem::file_time_type::min() : t;
}

}  // namespace

ReadyPreScan RunReadyPreScan(CldReader& reader, const std::filesystem::path& source,
                             const PreScanSetup& setup, bool* ok) {
  ReadyPreScan ready;
  ready.source = source;
  ready.file_size = reader.FileSize();
  ready.modified = ModifiedTime(source);
  ready.start = setup.start;
  ready.frequency = setup.frequency;
  ready.new_file_on_startup = setup.new_file_on_startup;
  ready.circular = setup.circular;
  ready.next_write_position = setup.next_write_position;

  PreScanSetup pre = setup;
  pre.breakpoint = 0;
  pre.layout = nullptr;
  pre.signals = nullptr;
  pre.channels = {};
  RunningClock clock;
  {
    // The progress lines of the status bar are left out: they tell nothing afterwards.
    const ThreadMessageHandler collect([&ready](int severity, std::string_view text) {
      if (severity == kMsgStatus) return;
      ready.messages.push_back({severity, std::string(text), ready.counters.error_count});
    });
    ready.result = RunPreScan(reader, clock, ready.counters, pre);
  }
  ready.dates_trusted = clock.DatesTrusted();
  ready.reader_position = reader.Position();
  ready.reader_index = reader.NextIndex();
  *ok = ready.result.completed && !reader.ReadFailed() &&
        ready.modified != std::filesystem::file_time_type::min();
  return ready;
}

bool ReadyPreScanFits(const ReadyPreScan& ready, const std::filesystem::path& source,
                      const CldReader& reader, const PreScanSetup& setup,
                      const DecodeMessages& messages) {
  return source == ready.source && reader.FileSize() == ready.file_size &&
         ModifiedTime(source) == ready.modified &&
         setup.start.start_date == ready.start.start_date &&
         setup.start.start_timestamp == ready.start.start_timestamp &&
         setup.frequency == ready.frequency &&
         setup.new_file_on_startup == ready.new_file_on_startup &&
         setup.circular == ready.circular &&
         setup.next_write_position == ready.next_write_position && setup.breakpoint == 0 &&
         setup.layout == nullptr && !messages.verbose && messages.invalid_date_reported == 0;
}

PreScanResult TakeReadyPreScan(const ReadyPreScan& ready, CldReader& reader, RunningClock& clock,
                               DecodeMessages& messages, ExtTime* combined_start_time) {
  const int errors_before = messages.error_count;
  for (const ReadyPreScan::Message& m : ready.messages) {
    messages.error_count = errors_before + m.error_count;
    ShowMessage(m.severity, m.text);
  }
  const DecodeMessages& counted = ready.counters;
  messages.error_count = errors_before + counted.error_count;
  messages.dummy_block_reported = counted.dummy_block_reported;
  messages.suspicious_date_reported = counted.suspicious_date_reported;
  messages.truncated_entry_reported = counted.truncated_entry_reported;
  messages.large_difference_reported = counted.large_difference_reported;
  messages.time_step_back_reported = counted.time_step_back_reported;
  messages.invalid_date_reported = counted.invalid_date_reported;

  // The clock as the scan's end leaves it: reset for the file, the dates distrusted when the scan
  // found them wrong, the start count and time base, the counter restarts.
  const PreScanResult& r = ready.result;
  clock.ResetForFile(ready.start, ready.frequency, ready.new_file_on_startup, &messages);
  clock.SetBreakpoint(0);
  if (!ready.dates_trusted) clock.DistrustDates();
  clock.SetStart(r.start_tick_count, r.time_base);
  clock.SetCounterRestarts(r.counter_restarts, r.oldest_position);

  reader.SetPosition(ready.reader_position, ready.reader_index);
  if (combined_start_time != nullptr && *combined_start_time < 0) {
    *combined_start_time = r.oldest_time;
  }
  return r;
}

}  // namespace tessmar
