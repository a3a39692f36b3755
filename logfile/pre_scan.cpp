#include "logfile/pre_scan.h"

#include "common/message_output.h"

namespace tessmar {
namespace {

constexpr ExtTime kDate2000 = 946684800;   // 2000-01-01 00:00:00
constexpr ExtTime kDate2050 = 2524608000;  // 2050-01-01 00:00:00
constexpr int kListedTimeEntries = 4;
constexpr int kListedMarkers = 9;

unsigned long Pos(int64_t position) { return static_cast<unsigned long>(position); }
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

  int last_percent_ = -1;
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
};

bool PreScanner::Progress(const LogEntry& e) {
  const int64_t size = reader_.FileSize();
  int percent = 0;
  if (size >= 101) percent = static_cast<int>((e.position + e.size) / (size / 100));
  if (percent > 100) percent = 100;  // sizes of 101..199 bytes would otherwise count past 100
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
    if (setup_.signals != nullptr && Ranges()) {
      setup_.signals->WidenFrameRanges(CanIdentifier(b), CanData(b), setup_.channels.data());
    }
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
  if (r_.has_first_frame_stamp && frames_before_time_ && !stamp_used_) {
    stamp_used_ = true;
    uint64_t candidate = WithStamp(clock_.TickCount(), r_.first_frame_stamp);
    // The frame came before this time entry. A stamp far above the entry's own count was taken
    // before the 24-bit counter wrapped (a wrap is accepted up to half the 24-bit range, as for
    // frames); a stamp a little above it is a frame stamped just after the entry's count.
    const uint64_t entry_count =
        (static_cast<uint64_t>(clock_.High()) << 32) | EntryCount32(e.bytes);
    if (candidate > entry_count + 0x800000u && candidate >= 0x1000000u) candidate -= 0x1000000u;
    if (r_.smallest_tick_count == 0 || candidate < r_.smallest_tick_count) {
      r_.smallest_tick_count = candidate;
    }
    candidate_exists_ = true;
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
    if (r_.oldest_gps_time < 0 || t < r_.oldest_gps_time) {
      r_.oldest_gps_time = t;
      oldest_gps_ticks_ = (static_cast<uint64_t>(clock_.High()) << 32) | gps1_.count32;
    }
  }
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
  reader_.SetPosition(first, 0);
  r_.oldest_index = -1;
  r_.oldest_position = first;

  const bool ranges = Ranges();
  ChannelValue* channels = setup_.channels.data();
  LogEntry e;
  while (reader_.NextEntry(&e, &msgs_)) {
    if (!Progress(e)) return r_;  // aborted: completed stays false
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
  }
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

  // Start tick count.
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

}  // namespace tessmar
