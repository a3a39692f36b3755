#include "logfile/pre_scan.h"

#include <cstdlib>
#include <optional>

#include "common/message_output.h"

namespace tessmar {
namespace {

constexpr ExtTime kDate2000 = 946684800;   // 2000-01-01 00:00:00
constexpr ExtTime kDate2050 = 2524608000;  // 2050-01-01 00:00:00
constexpr int kListedTimeEntries = 4;
constexpr int kListedMarkers = 9;
// A 32-bit count this far (in seconds) before the previous one starts a new run of counts: the
// logger's counter started again.
constexpr double kRestartStepBack = 2.0;
// GPS fixes kept while a counter restart waits for confirmation.
constexpr std::size_t kRecentFixes = 4;

unsigned long Pos(int64_t position) { return static_cast<unsigned long>(position); }

// A complete GPS fix with a date: the index and 32-bit count of its GPS entry 1, its date and
// time in seconds since 1970.
struct DatedFix {
  uint32_t gps1_index = 0;
  double time = 0;
  uint32_t count = 0;
};

// Takes the fix for the restart's GPS time when it came after the restart.
bool AttachGpsFix(CounterRestart& restart, const DatedFix& fix) {
  if (restart.has_gps || fix.gps1_index < restart.index) return false;
  restart.has_gps = true;
  restart.gps_time = fix.time;
  restart.gps_count = fix.count;
  return true;
}
double Dbl(ExtTime t) { return static_cast<double>(t); }

// Builds a tick count from the high part and bits 24..31 of `base` and a 24-bit frame stamp.
uint64_t WithStamp(uint64_t base, uint32_t stamp) {
  const uint64_t high = (base >> 32) & 0x7FFFFFFFu;
  const uint32_t low = (static_cast<uint32_t>(base) & 0xFF000000u) | (stamp & 0x00FFFFFFu);
  return (high << 32) | low;
}

class PreScanner {
 public:
  PreScanner(CldReader& reader, RunningClock& clock, DecodeMessages& messages,
             const PreScanSetup& setup)
      : reader_(reader), clock_(clock), msgs_(messages), setup_(setup) {}

  PreScanResult Run(ExtTime* combined_start_time);

 private:
  bool Progress(const LogEntry& e);
  void OnCanFrame(const LogEntry& e);
  void OnEof(const LogEntry& e);
  void OnTimeEntry(const LogEntry& e);
  void OnPreMarker(const LogEntry& e);
  void OnTriggerMarker(const LogEntry& e);
  void OnGps1(const LogEntry& e);
  void OnGps2(const LogEntry& e);
  void CompleteGpsFix();
  bool EofAtNextWrite();
  void OnWrap(const LogEntry& e);
  void TakeStampBefore(uint64_t ticks, uint64_t entry_count);
  void TrackCountRun(EntryPlace place, EntryPlace next, uint32_t count);
  void ConfirmRestart();
  void Finish(ExtTime* combined_start_time);
  bool Ranges() const {
    return setup_.layout != nullptr &&
           setup_.channels.size() >= static_cast<size_t>(setup_.layout->total);
  }

  CldReader& reader_;
  RunningClock& clock_;
  DecodeMessages& msgs_;
  const PreScanSetup& setup_;
  PreScanResult r_;

  // The ranges of the signal channels, when they are collected.
  std::optional<SignalDecoder::RangeCollector> signal_ranges_;
  int last_percent_ = -1;
  int64_t percent_from_ = 0;   // entry ends from here ...
  int64_t percent_until_ = 0;  // ... to before here show last_percent_ (empty at first)
  bool eof_since_stamp_ = false;
  bool frames_before_time_ = false;
  bool stamp_used_ = false;
  bool candidate_exists_ = false;
  // After an "eof" marker the next entries are the oldest of a circular file: their counts are
  // unrelated to the newest one, so CAN frames wait for the next time entry, which re-anchors
  // the clock, instead of being "repaired" as a huge step back.
  bool after_eof_ = false;
  bool have_gps1_ = false;
  bool have_gps2_ = false;
  GpsEntry1 gps1_;
  GpsEntry2 gps2_;
  uint64_t oldest_gps_ticks_ = 0;
  int64_t eof_index_ = -1;  // last "eof" marker
  int64_t eof_position_ = 0;
  // A circular file without "eof" marker: the first entry of its oldest run (not found: none).
  EntryPlace wrap_;
  // The first time entry of the file: the clock's count after it and its own extended count.
  bool have_first_tim_ = false;
  uint64_t first_tim_ticks_ = 0;
  uint64_t first_tim_count_ = 0;

  // The current run of 32-bit counts: the count of its last entry that has one and the place
  // behind that entry. A count far before it is a suspected restart, confirmed when the next
  // count lies nearer to it than to the run before.
  int64_t restart_ticks_ = 0;
  bool have_anchor_ = false;
  uint32_t anchor_count_ = 0;
  EntryPlace after_anchor_;
  bool have_suspect_ = false;
  uint32_t suspect_count_ = 0;
  EntryPlace suspect_;
  std::vector<DatedFix> recent_fixes_;
  uint32_t gps1_index_ = 0;
};

bool PreScanner::Progress(const LogEntry& e) {
  const int64_t done = e.position + e.size;
  // Entries whose end lies in the span of the last percent shown change nothing: two compares
  // instead of two divisions per entry.
  if (done >= percent_from_ && done < percent_until_) return true;
  const int64_t size = reader_.FileSize();
  int percent = 0;
  const int64_t step = size / 100;
  if (size >= 101) percent = static_cast<int>(done / step);
  if (percent > 100) percent = 100;  // sizes of 101..199 bytes would otherwise count past 100
  // The ends of entries that give the same percent.
  if (size < 101) {
    percent_from_ = INT64_MIN;
    percent_until_ = INT64_MAX;
  } else {
    percent_from_ = percent * step;
    percent_until_ = percent < 100 ? (percent + 1) * step : INT64_MAX;
  }
  if (percent == last_percent_) return true;
  last_percent_ = percent;
  ShowMessageF(kMsgStatus, "Searching oldest entry ... %d %% of %ld kByte", percent,
               static_cast<long>(size / 1024));
  return !setup_.progress || setup_.progress(percent, 100);
}

void PreScanner::OnCanFrame(const LogEntry& e) {
  const uint8_t* b = e.bytes;
  if (IsDummyBlock(b)) {
    if (r_.time_entry_seen && !after_eof_) clock_.ApplyCanFrame(b, e.position);  // warns once
    return;
  }
  if (r_.time_entry_seen) {
    if (!after_eof_) clock_.ApplyCanFrame(b, e.position);
    if (signal_ranges_) signal_ranges_->Frame(CanIdentifier(b), CanData(b), setup_.channels.data());
    if (!after_eof_) return;
  }
  // Before the first time entry, and between an "eof" marker and the next time entry: the first
  // such frame gives the stamp from which the start tick count is built.
  if (!r_.has_first_frame_stamp || eof_since_stamp_) {
    r_.has_first_frame_stamp = true;
    r_.first_frame_stamp = CanTimestamp24(b);
    eof_since_stamp_ = false;
    frames_before_time_ = true;
    stamp_used_ = false;
  }
}

void PreScanner::OnEof(const LogEntry& e) {
  r_.oldest_index = static_cast<int32_t>(e.index);
  r_.oldest_position = e.position;
  eof_index_ = static_cast<int64_t>(e.index);
  eof_position_ = e.position;
  r_.found_eof = true;
  clock_.ApplyMarkerCount(EntryCount32(e.bytes), e.position);
  eof_since_stamp_ = true;
  after_eof_ = true;
  if (msgs_.verbose) {
    ShowMessageF(kMsgInfo,
                 "Pre-scan: found EOF-entry at filepos=0x%8.8lX,  ti=%lg, oldest entry at "
                 "index=%ld (?)",
                 Pos(e.position), Dbl(clock_.SecondsSinceTick0()),
                 static_cast<long>(r_.oldest_index));
  }
}

void PreScanner::OnTimeEntry(const LogEntry& e) {
  if (after_eof_) clock_.Reanchor(EntryCount32(e.bytes));
  clock_.ApplyTimeEntry(e.bytes, e.position);
  after_eof_ = false;
  const uint64_t entry_count = (static_cast<uint64_t>(clock_.High()) << 32) | EntryCount32(e.bytes);
  if (!have_first_tim_) {
    have_first_tim_ = true;
    first_tim_ticks_ = clock_.TickCount();
    first_tim_count_ = entry_count;
  }
  if (r_.has_first_frame_stamp && frames_before_time_ && !stamp_used_) {
    TakeStampBefore(clock_.TickCount(), entry_count);
  }
  const ExtTime t = clock_.TimeEntryTime();
  if (r_.listed_tim < kListedTimeEntries) {
    ++r_.listed_tim;
    if (msgs_.verbose) {
      char to[48];
      ShowMessageF(kMsgInfo, "Pre-scan: found TIM-entry at filepos=0x%8.8lX, ti=%lg, to=%s",
                   Pos(e.position), Dbl(clock_.SecondsSinceTick0()),
                   FormatDateTime(clock_.TimeBase(), to, sizeof to));
    }
  } else if (r_.listed_tim == kListedTimeEntries) {
    ++r_.listed_tim;
    if (msgs_.verbose) ShowMessageF(kMsgInfo, "Pre-scan: more TIM-entries, unable to list all");
  }
  if (r_.oldest_time < 0 || t < r_.oldest_time) {
    r_.oldest_time = t;
    r_.time_base_at_oldest = clock_.TimeBase();
    r_.oldest_index = static_cast<int32_t>(e.index);
    r_.oldest_position = e.position;
    if (msgs_.verbose) {
      ShowMessageF(kMsgInfo,
                   "Pre-scan: found the OLDEST TIM-entry at index=%ld, filepos=0x%8.8lX, ti=%lg",
                   static_cast<long>(e.index), Pos(e.position), Dbl(clock_.SecondsSinceTick0()));
    }
  }
  r_.time_entry_seen = true;
  clock_.CheckBreakpointAt(t, e.position);
}

// The pending first frame stamp came before a time entry: the clock's count after that entry is
// `ticks`, the entry's own extended count `entry_count`.
void PreScanner::TakeStampBefore(uint64_t ticks, uint64_t entry_count) {
  stamp_used_ = true;
  uint64_t candidate = WithStamp(ticks, r_.first_frame_stamp);
  // A stamp far above the entry's own count was taken before the 24-bit counter wrapped (a wrap
  // is accepted up to half the 24-bit range, as for frames); a stamp a little above it is a frame
  // stamped just after the entry's count.
  if (candidate > entry_count + 0x800000u && candidate >= 0x1000000u) candidate -= 0x1000000u;
  if (r_.smallest_tick_count == 0 || candidate < r_.smallest_tick_count) {
    r_.smallest_tick_count = candidate;
  }
  candidate_exists_ = true;
}

// A circular file without "eof" marker: the entry behind the newest one. What follows is the
// oldest part of the recording, as behind an "eof" marker.
void PreScanner::OnWrap(const LogEntry& e) {
  have_anchor_ = have_suspect_ = false;
  eof_since_stamp_ = true;
  after_eof_ = true;
  ShowMessageF(kMsgInfo,
               "Pre-scan: no END-OF-FILE marker; the oldest entries follow the newest one at "
               "filepos=0x%8.8lX .",
               Pos(e.position));
}

// Called after the entry at `place` (behind it: `next`) was processed. A confirmed restart is
// searched for by reading its stretch again; the reader then goes on at `next`.
void PreScanner::TrackCountRun(EntryPlace place, EntryPlace next, uint32_t count) {
  if (have_suspect_) {
    have_suspect_ = false;
    if (std::llabs(CountDistance(suspect_count_, count)) <
        std::llabs(CountDistance(anchor_count_, count))) {
      ConfirmRestart();
      reader_.SetPosition(next.position, next.index);
    }
  } else if (have_anchor_ && CountDistance(anchor_count_, count) < -restart_ticks_) {
    have_suspect_ = true;
    suspect_ = place;
    suspect_count_ = count;
    return;
  }
  have_anchor_ = true;
  anchor_count_ = count;
  after_anchor_ = next;
}

void PreScanner::ConfirmRestart() {
  const EntryPlace start =
      FindRunStart(reader_, after_anchor_, anchor_count_, suspect_, suspect_count_);
  CounterRestart restart;
  restart.position = start.position;
  restart.index = start.index;
  for (const DatedFix& fix : recent_fixes_) {
    if (AttachGpsFix(restart, fix)) break;
  }
  r_.counter_restarts.push_back(restart);
  if (msgs_.verbose) {
    ShowMessageF(kMsgInfo, "Pre-scan: the logger's counter started again at filepos=0x%8.8lX",
                 Pos(start.position));
  }
}

void PreScanner::OnPreMarker(const LogEntry& e) {
  clock_.ApplyMarkerCount(EntryCount32(e.bytes), e.position);
  if (r_.listed_pre > kListedMarkers) return;
  ++r_.listed_pre;
  if (!msgs_.verbose) return;
  if (r_.listed_pre <= kListedMarkers) {
    ShowMessageF(kMsgInfo, "Pre-scan: found PRE-trigger-entry at filepos=0x%8.8lX, ti=%lg",
                 Pos(e.position), Dbl(clock_.SecondsSinceTick0()));
  } else {
    ShowMessageF(kMsgInfo, "Pre-scan: more PRE-entries, unable to list all");
  }
}

void PreScanner::OnTriggerMarker(const LogEntry& e) {
  clock_.ApplyMarkerCount(EntryCount32(e.bytes), e.position);
  if (r_.listed_tri > kListedMarkers) return;
  ++r_.listed_tri;
  if (!msgs_.verbose) return;
  if (r_.listed_tri <= kListedMarkers) {
    ShowMessageF(kMsgInfo,
                 "Pre-scan: found TRI-entry at filepos=0x%8.8lX, ti=%lg, b0=0x%02X, b1=0x%02X",
                 Pos(e.position), Dbl(clock_.SecondsSinceTick0()), TriggerByte0(e.bytes),
                 TriggerByte1(e.bytes));
  } else {
    ShowMessageF(kMsgInfo, "Pre-scan: more TRI-entries, unable to list all");
  }
}

void PreScanner::OnGps1(const LogEntry& e) {
  r_.has_gps = true;
  gps1_index_ = e.index;
  gps1_ = DecodeGpsEntry1(e.bytes);
  have_gps1_ = true;
  if (have_gps2_) CompleteGpsFix();
}

void PreScanner::OnGps2(const LogEntry& e) {
  r_.has_gps = true;
  gps2_ = DecodeGpsEntry2(e.bytes);
  have_gps2_ = true;
  if (have_gps1_) CompleteGpsFix();
}

void PreScanner::CompleteGpsFix() {
  have_gps1_ = have_gps2_ = false;
  const bool has_position = gps2_.latitude != 0 || gps2_.longitude != 0;
  if (has_position && gps1_.quality != 0 && gps1_.satellites > 2) {
    GpsRange& g = r_.gps;
    if (gps2_.latitude < g.latitude_min) g.latitude_min = gps2_.latitude;
    if (gps2_.latitude > g.latitude_max) g.latitude_max = gps2_.latitude;
    if (gps2_.longitude < g.longitude_min) g.longitude_min = gps2_.longitude;
    if (gps2_.longitude > g.longitude_max) g.longitude_max = gps2_.longitude;
    const double height = gps2_.height10 * 0.1;
    if (g.height_min == -9999 && g.height_max == -9999) {
      g.height_min = g.height_max = height;
    } else {
      if (height < g.height_min) g.height_min = height;
      if (height > g.height_max) g.height_max = height;
    }
    const double speed = gps1_.speed10 * 0.1;
    if (speed < g.speed_min) g.speed_min = speed;
    if (speed > g.speed_max) g.speed_max = speed;
  }
  if (gps1_.HasDate()) {
    const double t = gps1_.DateTimeSeconds();
    if (recent_fixes_.size() == kRecentFixes) recent_fixes_.erase(recent_fixes_.begin());
    const DatedFix fix{gps1_index_, t, gps1_.count32};
    recent_fixes_.push_back(fix);
    for (CounterRestart& restart : r_.counter_restarts) AttachGpsFix(restart, fix);
    if (r_.oldest_gps_time < 0 || t < r_.oldest_gps_time) {
      r_.oldest_gps_time = t;
      oldest_gps_ticks_ = (static_cast<uint64_t>(clock_.High()) << 32) | gps1_.count32;
    }
  }
}

// The binary header names the next write position; an "eof" marker there means the circular file
// has one, and its newest entry need not be searched for.
bool PreScanner::EofAtNextWrite() {
  const int64_t at = setup_.next_write_position;
  if (at < reader_.FirstEntryPosition() || at + kEntrySize > reader_.FileSize()) return false;
  LogEntry e;
  return reader_.SetPosition(at) && reader_.NextEntry(&e) && e.cls == EntryClass::kEofMarker;
}

PreScanResult PreScanner::Run(ExtTime* combined_start_time) {
  r_.start = setup_.start;
  clock_.ResetForFile(setup_.start, setup_.frequency, setup_.new_file_on_startup, &msgs_);
  clock_.SetBreakpoint(setup_.breakpoint);
  clock_.BeginPass(ClockPass::kPreScan);

  const int64_t first = reader_.FirstEntryPosition();
  if (msgs_.verbose) {
    ShowMessageF(kMsgInfo, "Pre-scan: Winding to filepos=0x%8.8lX in %.*s", Pos(first),
                 static_cast<int>(setup_.file_name.size()), setup_.file_name.data());
  }
  if (setup_.circular && !EofAtNextWrite()) {
    const WrapSearch search =
        FindWrapWithoutEndMarker(reader_, [this](const LogEntry& e) { return Progress(e); });
    if (search.aborted) return r_;
    wrap_ = search.oldest;
    r_.wrap = wrap_;
    last_percent_ = -1;  // the scan shows its progress from 0 again
    percent_from_ = percent_until_ = 0;
  }
  restart_ticks_ = static_cast<int64_t>(kRestartStepBack * clock_.Frequency());
  reader_.SetPosition(first, 0);
  r_.oldest_index = -1;
  r_.oldest_position = first;

  const bool ranges = Ranges();
  ChannelValue* channels = setup_.channels.data();
  if (ranges && setup_.signals != nullptr) signal_ranges_.emplace(*setup_.signals);
  LogEntry e;
  while (reader_.NextEntry(&e, &msgs_)) {
    if (!Progress(e)) return r_;  // aborted: completed stays false
    if (e.position == wrap_.position) OnWrap(e);
    uint32_t count = 0;
    const bool counted = e.cls != EntryClass::kCanFrame && EntryCount32Of(e, &count);
    const EntryPlace place{e.position, e.index};
    const EntryPlace next{e.position + e.size, e.index + 1};
    const bool eof = e.cls == EntryClass::kEofMarker;
    switch (e.cls) {
      case EntryClass::kCanFrame:
        OnCanFrame(e);
        break;
      case EntryClass::kEofMarker:
        OnEof(e);
        break;
      case EntryClass::kTimeMarker:
        OnTimeEntry(e);
        break;
      case EntryClass::kPreMarker:
        OnPreMarker(e);
        break;
      case EntryClass::kTriggerMarker:
        OnTriggerMarker(e);
        break;
      case EntryClass::kExpression:
        if (ranges)
          ApplyExpressionEntry(DecodeExpressionEntry(e.bytes), *setup_.layout, channels, true);
        break;
      case EntryClass::kGps1:
        OnGps1(e);
        break;
      case EntryClass::kGps2:
        OnGps2(e);
        break;
      case EntryClass::kBulkExpression:
        clock_.ApplyBulkCount(BulkCount32(e.bytes));
        if (ranges) DecodeBulkBlock(e, *setup_.layout, channels, true);
        break;
      default:
        break;
    }
    if (candidate_exists_) {
      const uint64_t ticks = clock_.TickCount();
      if (ticks > 0 && (r_.smallest_tick_count == 0 || ticks < r_.smallest_tick_count)) {
        r_.smallest_tick_count = ticks;
      }
    }
    ++r_.entry_count;
    if (counted) TrackCountRun(place, next, count);  // may read again: `e` is no longer valid
    if (eof) have_anchor_ = have_suspect_ = false;   // the oldest run follows
  }
  if (have_suspect_) ConfirmRestart();  // nothing after it contradicts it
  if (signal_ranges_) signal_ranges_->Finish(channels);
  Finish(combined_start_time);
  r_.completed = true;
  return r_;
}

void PreScanner::Finish(ExtTime* combined_start_time) {
  const int64_t first = reader_.FirstEntryPosition();
  // A recording that did not wrap: its oldest entry would be the last one or beyond.
  if (r_.oldest_index >= 0 && static_cast<int64_t>(r_.oldest_index) + 1 >= r_.entry_count) {
    if (msgs_.verbose) {
      ShowMessageF(kMsgInfo,
                   "Correction: oldest entry is at index=0, not at index=%ld (wrapped around "
                   "end) .",
                   static_cast<long>(r_.oldest_index));
    }
    r_.oldest_index = 0;
    r_.oldest_position = first;
  }
  // A circular file that wrapped: the entries between the "eof" marker and the oldest time entry
  // are the oldest of all. Starting at the time entry would leave them for the very end of the
  // conversion, where they look like a step back in time (an unresolvable overflow, ten seconds
  // added). Start right behind the marker instead, so the conversion reads in recording order and
  // ends with the marker.
  if (eof_index_ >= 0 && r_.oldest_index > eof_index_ &&
      eof_index_ + 1 < static_cast<int64_t>(r_.entry_count)) {
    r_.oldest_index = static_cast<int32_t>(eof_index_ + 1);
    r_.oldest_position = eof_position_ + kEntrySize;
  }
  if (wrap_.Found()) {
    r_.oldest_index = static_cast<int32_t>(wrap_.index);
    r_.oldest_position = wrap_.position;
  }
  if (!r_.found_eof) {
    ++msgs_.error_count;
    ShowMessageF(kMsgError, "Problem: Did not find an END-OF-FILE marker in \"%.*s\" .",
                 static_cast<int>(setup_.file_name.size()), setup_.file_name.data());
  }
  if (r_.oldest_index < 0) {
    r_.oldest_index = 0;
    r_.oldest_position = first;
  }
  if (!r_.time_entry_seen) r_.oldest_time = static_cast<ExtTime>(r_.start.start_date);

  // Real-time clock check, with GPS time as the fallback.
  if (r_.oldest_time < kDate2000 || r_.oldest_time > kDate2050) {
    r_.bad_rtc = true;
    char text[48];
    ShowMessageF(kMsgWarning,
                 "WARNING:    Bad date from RTC : %s (please check the logger's battery !)",
                 FormatDateTime(r_.oldest_time, text, sizeof text));
    if (r_.oldest_gps_time >= kDate2000 && r_.oldest_gps_time <= kDate2050) {
      r_.using_gps_time = true;
      r_.oldest_time = r_.oldest_gps_time;
      ShowMessageF(kMsgWarning,
                   "   Using GPS time instead of RTC : %s (date and time from oldest GPS entry)",
                   FormatDateTime(r_.oldest_gps_time, text, sizeof text));
      clock_.DistrustDates();
      // Anchor the base at the tick count of the fix that supplied the time (the count at the
      // end of the scan would shift every time by the length of the recording).
      const ExtTime base = static_cast<ExtTime>(r_.oldest_gps_time) -
                           static_cast<ExtTime>(oldest_gps_ticks_) / clock_.Frequency();
      clock_.SetTimeBase(base);
      r_.time_base_at_oldest = base;
      r_.start.start_date = static_cast<int64_t>(r_.oldest_gps_time);
      r_.start.start_timestamp = 0;
    }
  }

  // Taken after the clock check, so that a combined conversion starts at the GPS time when the
  // logger's clock was unusable.
  if (combined_start_time != nullptr && *combined_start_time < 0) {
    *combined_start_time = r_.oldest_time;
  }

  if (msgs_.verbose) {
    char ta[48];
    ShowMessageF(kMsgInfo, "Oldest entry at index=%ld, filepos=0x%8.8lX, found_eof=%s, ta=%s",
                 static_cast<long>(r_.oldest_index), Pos(r_.oldest_position),
                 r_.found_eof ? "yes" : "NO!!", FormatDateTime(r_.oldest_time, ta, sizeof ta));
  }

  // Start tick count. The oldest frames of a circular file that wrapped behind its last time entry
  // come before its first time entry, across the end of the file.
  if (after_eof_ && r_.has_first_frame_stamp && frames_before_time_ && !stamp_used_ &&
      have_first_tim_) {
    TakeStampBefore(first_tim_ticks_, first_tim_count_);
  }
  if (r_.has_first_frame_stamp && r_.smallest_tick_count != 0) {
    const uint64_t candidate = WithStamp(r_.smallest_tick_count, r_.first_frame_stamp);
    if (candidate < r_.smallest_tick_count) r_.smallest_tick_count = candidate;
  }
  r_.start_tick_count =
      r_.smallest_tick_count != 0
          ? r_.smallest_tick_count
          : static_cast<uint64_t>(static_cast<uint32_t>(r_.start.start_timestamp));
  const ExtTime seconds = static_cast<ExtTime>(r_.start_tick_count) / clock_.Frequency();
  r_.source_start_time = clock_.TimeBase() + seconds;
  r_.time_base = r_.time_base_at_oldest >= 0 ? r_.time_base_at_oldest : clock_.TimeBase();
  clock_.SetStart(r_.start_tick_count, r_.time_base);
  // GPS time carries on after a restart only where it replaced the logger's clock.
  if (!r_.using_gps_time) {
    for (CounterRestart& restart : r_.counter_restarts) restart.has_gps = false;
  }
  clock_.SetCounterRestarts(r_.counter_restarts, r_.oldest_position);

  r_.latest_time = clock_.LatestTime();
  const double duration = Dbl(r_.latest_time - r_.oldest_time);
  r_.duration = duration > 0 ? duration : 0;
}

}  // namespace

PreScanResult RunPreScan(CldReader& reader, RunningClock& clock, DecodeMessages& messages,
                         const PreScanSetup& setup, ExtTime* combined_start_time) {
  PreScanner scanner(reader, clock, messages, setup);
  return scanner.Run(combined_start_time);
}

PreScanSetup HeaderPreScanSetup(std::string_view file_name, const LogHeader& header,
                                const T_CanLog_Config& cfg, const BinaryLogHeader& binary,
                                double frequency) {
  PreScanSetup pre;
  pre.file_name = file_name;
  pre.start = header.start;
  pre.frequency = frequency;
  pre.new_file_on_startup = cfg.NewFileOnStartup != 0;
  pre.circular = cfg.FifoMode != 0;
  if (binary.present) pre.next_write_position = binary.dwFilePosForNextWrite;
  return pre;
}

}  // namespace tessmar
