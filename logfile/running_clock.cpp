#include "logfile/running_clock.h"

#include <algorithm>
#include <cmath>

#include "common/message_output.h"
#include "logfile/count_runs.h"

namespace tessmar {
namespace {

constexpr ExtTime kDate1990 = 631152000;   // 1990-01-01 00:00:00
constexpr ExtTime kDate2038 = 2145916800;  // 2038-01-01 00:00:00
constexpr ExtTime kDateLimit = 4294967296.0L;
// A step back of the absolute time up to this much is the jitter the 24-bit rule clamps anyway.
constexpr ExtTime kReportedStepBack = 0.1L;

unsigned long Pos(int64_t position) { return static_cast<unsigned long>(position); }

}  // namespace

const char* ClockPassName(ClockPass pass) {
  return pass == ClockPass::kPreScan ? "Pre-scan" : "Conversion";
}

void RunningClock::ResetForFile(const LogStartInfo& start, double frequency,
                                bool new_file_on_startup, DecodeMessages* messages) {
  messages_ = messages;
  frequency_ = frequency > 0 ? frequency : kDefaultTimerFrequency;
  new_file_on_startup_ = new_file_on_startup;
  high_ = 0;
  accepted_low_ = candidate_low_ = static_cast<uint32_t>(start.start_timestamp);
  UpdateSeconds();
  time_base_ = static_cast<ExtTime>(start.start_date) -
               static_cast<ExtTime>(start.start_timestamp) / frequency_;
  last_time_entry_date_ = time_base_;
  unresolved_ = false;
  oldest_time_ = latest_time_ = time_base_at_oldest_ = -1;
  latest_pending_ = false;
  dates_trusted_ = true;
  restarts_.clear();
  BeginPass(ClockPass::kPreScan);
}

void RunningClock::BeginPass(ClockPass pass) {
  pass_ = pass;
  time_entry_seen_ = false;
  breakpoint_reported_ = false;
  last_can_count_ = 0;
  can_arriving_ = false;
  have_prev_gps_ = false;
  prev_gps_count_ = 0;
  gps_consistent_ = false;
  next_restart_ = 0;
  have_previous_time_ = false;
}

void RunningClock::SetCounterRestarts(std::vector<CounterRestart> restarts,
                                      int64_t start_position) {
  restarts_ = std::move(restarts);
  // The pass reads from start_position to the end of the file, then from the first entry on.
  std::sort(restarts_.begin(), restarts_.end(),
            [start_position](const CounterRestart& a, const CounterRestart& b) {
              const bool a_first = a.position >= start_position;
              const bool b_first = b.position >= start_position;
              return a_first != b_first ? a_first : a.position < b.position;
            });
  next_restart_ = 0;
}

void RunningClock::SetStart(uint64_t tick_count, ExtTime time_base) {
  high_ = static_cast<uint32_t>(tick_count >> 32) & 0x7FFFFFFFu;
  accepted_low_ = candidate_low_ = static_cast<uint32_t>(tick_count);
  UpdateSeconds();
  time_base_ = time_base;
  last_time_entry_date_ = time_base;
}

void RunningClock::Wrapped(int64_t position) {
  ++high_;
  if (position >= 0) {
    ShowMessageF(kMsgWarning, "32-bit timestamp overflow at filepos=0x%8.8lX .", Pos(position));
  } else {
    ShowMessageF(kMsgWarning, "32-bit timestamp overflow .");
  }
}

void RunningClock::ReportUnresolvable(int64_t position, uint32_t candidate, double delta_t,
                                      bool frame) {
  ++Msgs().error_count;
  unresolved_ = true;
  char ta[48];
  FormatDateTime(AbsoluteTime(), ta, sizeof ta);
  const auto ts = static_cast<unsigned long>(candidate);
  const auto prev = static_cast<unsigned long>(accepted_low_);
  if (frame) {
    ShowMessageF(kMsgError,
                 "UNRESOLVABLE 24-bit timestamp overflow at fp=0x%08lX, ts=0x%08lX, prev=0x%08lX, "
                 "ta=%s, deltaT=%.1lg s",
                 Pos(position), ts, prev, ta, delta_t);
  } else {
    ShowMessageF(kMsgError,
                 "UNRESOLVABLE timestamp step back (logger restart) at fp=0x%08lX, ts=0x%08lX, "
                 "prev=0x%08lX, ta=%s, deltaT=%.1lg s",
                 Pos(position), ts, prev, ta, delta_t);
  }
}

void RunningClock::BridgeGap(uint32_t count, int64_t position) {
  // The logger appended after a restart: continue ten seconds after the last known time.
  const ExtTime new_time = AbsoluteTime() + 10;
  candidate_low_ = accepted_low_ = count;
  high_ = 0;
  time_base_ = new_time - static_cast<ExtTime>(count) / frequency_;
  UpdateSeconds();
  last_time_entry_date_ = time_base_;
  char ta[48];
  ShowMessageF(
      kMsgWarning,
      "Added TEN SECONDS to bridge \"gap\" in timestamp at fp=0x%08lX, ts=0x%08lX, ta=%s .",
      Pos(position), static_cast<unsigned long>(count), FormatDateTime(new_time, ta, sizeof ta));
}

// The entry is the first one counted after the logger restarted: the rules for a step back that
// is neither jitter, nor a wrap, nor a lost carry apply to it, whatever its 24 bits look like.
void RunningClock::ApplyCounterRestart(const LogEntry& entry, const CounterRestart& restart) {
  const bool frame = entry.cls == EntryClass::kCanFrame;
  uint32_t count = 0;
  if (frame) {
    count = CanTimestamp24(entry.bytes);
  } else if (!EntryCount32Of(entry, &count)) {
    return;
  }
  const uint32_t candidate = frame ? (accepted_low_ & 0xFF000000u) | count : count;
  const double delta_t = static_cast<int32_t>(candidate - accepted_low_) / frequency_;
  ReportUnresolvable(entry.position, candidate, delta_t, frame);
  if (restart.has_gps) {
    // The time came from GPS before the restart: it does after the restart too.
    candidate_low_ = accepted_low_ = count;
    high_ = 0;
    time_base_ = static_cast<ExtTime>(restart.gps_time) -
                 static_cast<ExtTime>(restart.gps_count) / frequency_;
    UpdateSeconds();
    last_time_entry_date_ = time_base_;
    char ta[48];
    ShowMessageF(kMsgWarning, "Logger restart at fp=0x%08lX: time continues from GPS time, ta=%s .",
                 Pos(entry.position), FormatDateTime(AbsoluteTime(), ta, sizeof ta));
  } else if (!new_file_on_startup_) {
    BridgeGap(count, entry.position);
  } else {
    candidate_low_ = accepted_low_ = candidate;  // the step back is taken as it is
    UpdateSeconds();
  }
}

void RunningClock::NoteTimeStepAt(int64_t position, uint64_t ticks) {
  const ExtTime t = AbsoluteTime();
  if (have_previous_time_) {
    // The absolute time of the previous timed entry, as AbsoluteTime() gave it then (seconds
    // since tick 0 always follow from the count).
    const ExtTime previous = previous_base_ + SecondsOf(previous_ticks_);
    if (t < previous - kReportedStepBack &&
        Msgs().time_step_back_reported < DecodeMessages::kMaxTimeStepBackPerFile) {
      ++Msgs().time_step_back_reported;
      char from[48], to[48];
      ShowMessageF(kMsgWarning, "Absolute time steps back at filepos=0x%08lX, from %s to %s .",
                   Pos(position), FormatDateTime(previous, from, sizeof from),
                   FormatDateTime(t, to, sizeof to));
    }
  }
  previous_base_ = time_base_;
  previous_ticks_ = ticks;
  have_previous_time_ = true;
}

void RunningClock::ApplyCanFrame(const uint8_t* e, int64_t position) {
  // A filler block's zero bytes are no count: it leaves the candidate alone too, so the
  // forward-only test of BULK blocks still compares with the last real count.
  if (IsDummyBlock(e)) {
    if (!Msgs().dummy_block_reported) {
      Msgs().dummy_block_reported = true;
      ShowMessageF(kMsgWarning, "Warning: Skipped an 'all-zero' dummy block at filepos=0x%08lX",
                   Pos(position));
    }
    return;
  }
  candidate_low_ = (accepted_low_ & 0xFF000000u) | CanTimestamp24(e);
  if (candidate_low_ < accepted_low_) {
    const int32_t back = static_cast<int32_t>(candidate_low_ - accepted_low_);
    const double delta_t = back / frequency_;
    if (delta_t >= -0.1 && delta_t < 0) {
      candidate_low_ = accepted_low_;  // a small step back is clamped: time never runs backwards
    } else if (candidate_low_ + 0x1000000u - accepted_low_ <= 0x800000u) {
      candidate_low_ += 0x1000000u;  // the 24-bit counter wrapped
    } else if (((candidate_low_ >> 16) & 0xFF) == ((accepted_low_ >> 16) & 0xFF) &&
               (candidate_low_ & 0xFFFF) < 0xFF && (accepted_low_ & 0xFFFF) > 0xFF00 &&
               candidate_low_ + 0x10000u - accepted_low_ < 0x7FFFu) {
      // The logger lost the carry from bit 15 to bit 16.
      candidate_low_ += 0x10000u;
      if (Msgs().verbose) {
        char ta[48];
        ShowMessageF(kMsgInfo,
                     "Fixed timestamp overflow (bit15 -> bit16) at fp=0x%08lX, ts=0x%08lX, "
                     "prev=0x%08lX, ta=%s",
                     Pos(position), static_cast<unsigned long>(candidate_low_),
                     static_cast<unsigned long>(accepted_low_),
                     FormatDateTime(AbsoluteTime(), ta, sizeof ta));
      }
    } else {
      ReportUnresolvable(position, candidate_low_, delta_t, true);
      if (!new_file_on_startup_) BridgeGap(candidate_low_ & 0x00FFFFFFu, position);
    }
  }
  Step32(position);
  if (pass_ == ClockPass::kConversion) {
    // The latest time is the pre-scan's finding; the conversion pass does not read it.
    if (time_entry_seen_ && CanIdentifier(e) != kNoIdentifier) {
      last_can_count_ = TickCount();
      can_arriving_ = true;
    }
  } else {
    NoteLatestFrame();
  }
}

void RunningClock::ApplyMarkerCount(uint32_t count32, int64_t position) {
  candidate_low_ = count32;
  Step32(position);
}

void RunningClock::ApplyTimeEntry(const uint8_t* e, int64_t position) {
  unresolved_ = false;
  candidate_low_ = EntryCount32(e);
  const ExtTime date = TimeEntrySeconds(e);
  const bool fields_valid = TimeEntryFieldsValid(e);
  time_entry_seen_ = true;
  char text[48];
  if (fields_valid && (date < kDate1990 || date > kDate2038) && dates_trusted_) {
    dates_trusted_ = false;
    if (!Msgs().suspicious_date_reported) {
      Msgs().suspicious_date_reported = true;
      ShowMessageF(kMsgWarning,
                   "%s: Suspicious date (%s), please check battery and SET CLOCK (in the logger) !",
                   ClockPassName(pass_), FormatDateTime(date, text, sizeof text));
    }
  }
  if (fields_valid && date > kDate1990 && date < kDateLimit && e[8] != 0 && dates_trusted_) {
    const ExtTime difference = date - last_time_entry_date_;
    const bool warped = std::fabs(static_cast<double>(difference)) >= 2.0;
    if (warped) {
      // A time warp: the logger's clock was set, or the recording paused. The new base ties the
      // entry's own count to its date, so the entries that follow get times from that date on.
      ExtTime entry_seconds;
      if (std::fabs(static_cast<double>(difference)) > 30.0) {
        accepted_low_ = candidate_low_;
        high_ = 0;
        UpdateSeconds();
        entry_seconds = SecondsSinceTick0();
      } else {
        entry_seconds =
            static_cast<ExtTime>((static_cast<uint64_t>(high_) << 32) | candidate_low_) /
            frequency_;
      }
      if (Msgs().verbose) {
        char old_text[48];
        ShowMessageF(kMsgInfo, "%s: TIME-warp at fpos=0x%8.8lX, old=%s, new=%s",
                     ClockPassName(pass_), Pos(position),
                     FormatDateTime(time_base_, old_text, sizeof old_text),
                     FormatDateTime(date, text, sizeof text));
      }
      time_base_ = date - entry_seconds;
    } else {
      Step32(position);
    }
    last_time_entry_date_ = date;
    // The entry's own time: with a kept count the running count still lags behind the entry.
    const ExtTime t = warped ? date : AbsoluteTime();
    time_entry_time_ = t;
    if (oldest_time_ < 0 || t < oldest_time_) {
      oldest_time_ = t;
      time_base_at_oldest_ = time_base_;
    }
    NoteLatest(t);
  } else if (dates_trusted_) {
    dates_trusted_ = false;
    ++Msgs().error_count;
    if (Msgs().invalid_date_reported < DecodeMessages::kMaxInvalidDatePerRun) {
      ++Msgs().invalid_date_reported;
      ShowMessageF(kMsgError,
                   "%s: Invalid date in \"@tim\"-entry at filepos=0x%08lX : %02X %02X %02X %02X "
                   "%02X %02X %02X %02X",
                   ClockPassName(pass_), Pos(position), e[8], e[9], e[10], e[11], e[12], e[13],
                   e[14], e[15]);
    }
    time_entry_time_ = AbsoluteTime();
  } else {
    Step32(position);  // dates are no longer trusted: the entry only moves the count
    time_entry_time_ = AbsoluteTime();
  }
}

bool RunningClock::TakeLargeDifferenceSlot() {
  if (Msgs().large_difference_reported >= DecodeMessages::kMaxLargeDifferencePerFile) {
    return false;
  }
  ++Msgs().large_difference_reported;
  return true;
}

void RunningClock::ApplyExpressionCount(uint32_t count32, int64_t position) {
  const uint64_t entry_count = (static_cast<uint64_t>(high_) << 32) | count32;
  const uint64_t current = TickCount();
  const uint64_t distance = entry_count > current ? entry_count - current : current - entry_count;
  if (static_cast<double>(distance) > 2.0 * frequency_) {
    if (TakeLargeDifferenceSlot()) {
      ShowMessageF(kMsgWarning,
                   "Problem: Large timestamp difference in 'other data' entry (%lg) and previous "
                   "entry (%lg) at fpos=0x%8.8lX .",
                   count32 / frequency_, accepted_low_ / frequency_, Pos(position));
    }
    candidate_low_ = count32;
    Step32(position);
  }
}

void RunningClock::ApplyGps1Count(uint32_t count32, int64_t position) {
  const double tolerance = 1.5 * frequency_;
  const uint64_t entry_count = (static_cast<uint64_t>(high_) << 32) | count32;
  const uint64_t current = TickCount();
  const uint64_t distance = entry_count > current ? entry_count - current : current - entry_count;
  if (static_cast<double>(distance) > tolerance) {
    if (TakeLargeDifferenceSlot()) {
      ShowMessageF(kMsgWarning,
                   "Problem: Large timestamp difference in 'GPS' entry (%lg) and previous entry "
                   "(%lg) at fpos=0x%8.8lX .",
                   count32 / frequency_, accepted_low_ / frequency_, Pos(position));
    }
    const bool after_previous_gps = !have_prev_gps_ || entry_count > prev_gps_count_;
    const bool can_quiet = entry_count > last_can_count_ &&
                           static_cast<double>(entry_count - last_can_count_) > 10.0 * frequency_;
    if (after_previous_gps && can_quiet) {
      if (can_arriving_) {
        ShowMessageF(kMsgWarning,
                     "Problem: CAN seems to have stopped, so using GPS timestamps at "
                     "fpos=0x%8.8lX .",
                     Pos(position));
      }
      can_arriving_ = false;
      candidate_low_ = count32;
      Step32(position);
    }
    prev_gps_count_ = entry_count;
    have_prev_gps_ = true;
    if (gps_consistent_) {
      candidate_low_ = count32;
      Step32(position);
    }
  } else {
    gps_consistent_ = true;
    if (!can_arriving_) {
      // No CAN frame since the pass started or since CAN was considered stopped: GPS drives
      // the clock.
      candidate_low_ = count32;
      Step32(position);
    }
  }
}

void RunningClock::ApplyBulkCount(uint32_t count32) {
  if (count32 > candidate_low_) {
    candidate_low_ = count32;
    Step32(-1);
  }
  if (time_base_ > 0) NoteLatest(AbsoluteTime());
}

bool RunningClock::CheckBreakpointAt(ExtTime absolute_time, int64_t position) {
  if (breakpoint_ == 0 || breakpoint_reported_ || absolute_time < breakpoint_) return false;
  breakpoint_reported_ = true;
  char ta[48];
  ShowMessageF(kMsgInfo, "Reached test 'breakpoint' at filepos=0x%08lX, ta=%s, deltaT=%.1lg s",
               Pos(position), FormatDateTime(absolute_time, ta, sizeof ta),
               static_cast<double>(absolute_time - breakpoint_));
  return true;
}

void RunningClock::ApplyOtherEntry(const LogEntry& entry) {
  const uint8_t* e = entry.bytes;
  const bool conversion = pass_ == ClockPass::kConversion;
  if (conversion && next_restart_ < restarts_.size() &&
      entry.position == restarts_[next_restart_].position) {
    ApplyCounterRestart(entry, restarts_[next_restart_++]);
  }
  switch (entry.cls) {
    case EntryClass::kCanFrame:
      if (conversion || time_entry_seen_) ApplyCanFrame(e, entry.position);
      break;
    case EntryClass::kEofMarker:
    case EntryClass::kPreMarker:
    case EntryClass::kTriggerMarker:
      if (!conversion) ApplyMarkerCount(EntryCount32(e), entry.position);
      break;
    case EntryClass::kTimeMarker:
      ApplyTimeEntry(e, entry.position);
      if (!conversion) CheckBreakpoint(entry.position);
      break;
    case EntryClass::kExpression:
      if (conversion) ApplyExpressionCount(EntryCount32(e), entry.position);
      break;
    case EntryClass::kGps1:
      if (conversion) ApplyGps1Count(EntryCount32(e), entry.position);
      break;
    case EntryClass::kBulkExpression:
      ApplyBulkCount(BulkCount32(e));
      break;
    default:
      break;
  }
  if (conversion) {
    switch (entry.cls) {
      case EntryClass::kCanFrame:
        if (!IsDummyBlock(e)) NoteTimeStep(entry.position);
        break;
      case EntryClass::kTimeMarker:
      case EntryClass::kExpression:
      case EntryClass::kGps1:
      case EntryClass::kBulkExpression:
        NoteTimeStep(entry.position);
        break;
      default:
        break;
    }
    CheckBreakpoint(entry.position);
  }
}

}  // namespace tessmar
