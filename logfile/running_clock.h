#pragma once
// The running clock: extends the truncated tick counts of a recording (24 bits in CAN frame
// entries, 32 bits elsewhere) to one monotonic 64-bit count per file, repairs the known defects of
// the logger's counters, and turns counts into absolute times.
//
// Absolute time = time base + seconds since tick 0, in seconds since 1970-01-01 00:00:00 with no
// time zone. The same clock serves the pre-scan and the conversion pass; the pass decides which
// entries move the count (ClockPass).

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "logfile/calendar.h"
#include "logfile/cld_reader.h"
#include "logfile/decode_messages.h"

namespace tessmar {

inline constexpr double kDefaultTimerFrequency = 39065.5;

enum class ClockPass { kPreScan, kConversion };

// "Pre-scan" or "Conversion": the context name in the clock's messages.
const char* ClockPassName(ClockPass pass);

// StartDate and StartTimestamp of the [LogFileInfo] section of a recording.
struct LogStartInfo {
  int64_t start_date = 0;       // seconds since 1970 of "StartDate=", 0 when missing
  int64_t start_timestamp = 0;  // ticks of "StartTimestamp="
};

// A place where the logger's counter started again from about 0 (the logger restarted and went
// on writing the same file), found by the pre-scan from the 32-bit counts around it. A CAN frame
// stamped after such a restart can look like a wrap of the 24-bit counter, which would put it up
// to 214 s late without a word; the conversion pass treats it as the restart it is.
struct CounterRestart {
  int64_t position = 0;  // the first entry counted from the new start
  uint32_t index = 0;
  // Recordings whose time comes from GPS (the logger's clock was unusable): the first GPS fix
  // with a date after the restart, its date and time (seconds since 1970) and the 32-bit count
  // of its GPS entry 1. The time after the restart continues from it.
  bool has_gps = false;
  double gps_time = 0;
  uint32_t gps_count = 0;
};

class RunningClock {
 public:
  // The bytes of an ExtTime that hold its value (an x87 long double fills 10 of its 16).
  static constexpr std::size_t kExtTimeBytes =
      std::numeric_limits<ExtTime>::digits == 64 ? 10 : sizeof(ExtTime);

  // Resets everything for a new source file (start of the pre-scan): high = 0, accepted and
  // candidate low = StartTimestamp, time base = StartDate - StartTimestamp / frequency; dates are
  // trusted again. A frequency that is not above 0 is replaced by 39065.5. `new_file_on_startup`
  // is "NewFileOnStartup=" of the recording; when 0 an unresolvable overflow is bridged with ten
  // seconds. `messages` must outlive the clock's use.
  void ResetForFile(const LogStartInfo& start, double frequency, bool new_file_on_startup,
                    DecodeMessages* messages);

  // Starts a pass: clears the per-pass flags (breakpoint reported, time entry seen, the CAN/GPS
  // bookkeeping of the conversion pass). Dates stay distrusted once distrusted in this file.
  void BeginPass(ClockPass pass);

  // Sets the running count and the time base (between pre-scan and conversion pass). The date of
  // the last time entry becomes the time base.
  void SetStart(uint64_t tick_count, ExtTime time_base);

  // The counter restarts of this file for the conversion pass, which starts reading at
  // `start_position` and winds to the first entry at the end of the file.
  void SetCounterRestarts(std::vector<CounterRestart> restarts, int64_t start_position);
  const std::vector<CounterRestart>& CounterRestarts() const { return restarts_; }

  // Conditional breakpoint: an absolute time (seconds since 1970), 0 = off.
  void SetBreakpoint(double breakpoint) { breakpoint_ = breakpoint; }

  // ---- Entries --------------------------------------------------------------------------------

  // Applies one entry as the current pass does (CAN frames, markers, time entries, expression and
  // GPS entries, BULK blocks; the pre-scan applies CAN frames only once a time entry was seen).
  // Then checks the breakpoint: after every entry in the conversion pass, at time entries in the
  // pre-scan. In the conversion pass a counter restart is applied at its entry first, and an
  // absolute time more than 0.1 s before that of the previous timed entry is reported
  // ("Absolute time steps back ...", at most 5 times per file).
  void ApplyEntry(const LogEntry& entry) {
    // The common entry of the conversion pass, handled here without a call: a CAN frame, no
    // counter restart left to apply and no breakpoint to look for.
    if (entry.cls == EntryClass::kCanFrame && pass_ == ClockPass::kConversion &&
        next_restart_ >= restarts_.size() && breakpoint_ == 0) {
      ApplyCanFrame(entry.bytes, entry.position);
      if (!IsDummyBlock(entry.bytes)) NoteTimeStep(entry.position);
      return;
    }
    ApplyOtherEntry(entry);
  }

  // The single steps, for callers that dispatch themselves.
  void ApplyCanFrame(const uint8_t* e, int64_t position);
  void ApplyMarkerCount(uint32_t count32, int64_t position);  // "eof", "pre", "tri" in the pre-scan
  void ApplyTimeEntry(const uint8_t* e, int64_t position);
  void ApplyExpressionCount(uint32_t count32, int64_t position);  // conversion pass only
  void ApplyGps1Count(uint32_t count32, int64_t position);        // conversion pass only
  void ApplyBulkCount(uint32_t count32);

  // Reports the breakpoint once per pass when the current absolute time has reached it.
  // Returns true when it was reported now.
  bool CheckBreakpoint(int64_t position) {
    if (breakpoint_ == 0 || breakpoint_reported_) return false;
    return CheckBreakpointAt(AbsoluteTime(), position);
  }
  bool CheckBreakpointAt(ExtTime absolute_time, int64_t position);

  // Takes a 32-bit count as it is, without wrap or repair rules (keeps the high part). The
  // pre-scan uses it at the first time entry after an "eof" marker, where the older part of a
  // circular file begins and counts start over from an earlier point.
  void Reanchor(uint32_t count32) {
    accepted_low_ = candidate_low_ = count32;
    UpdateSeconds();
  }

  // Time entries no longer set dates (the pre-scan switched to GPS time).
  void DistrustDates() { dates_trusted_ = false; }
  void SetTimeBase(ExtTime time_base) { time_base_ = time_base; }
  void SetLastTimeEntryDate(ExtTime date) { last_time_entry_date_ = date; }

  // ---- State ----------------------------------------------------------------------------------

  uint64_t TickCount() const { return (high_ << 32) | accepted_low_; }
  // Computed when first asked for after the count changed: the pre-scan moves the count at
  // every frame but asks for the time only now and then.
  ExtTime SecondsSinceTick0() const {
    if (seconds_stale_) {
      seconds_ = SecondsOf(TickCount());
      seconds_stale_ = false;
    }
    return seconds_;
  }
  ExtTime TimeBase() const { return time_base_; }
  ExtTime AbsoluteTime() const { return time_base_ + SecondsSinceTick0(); }
  double Frequency() const { return frequency_; }
  uint32_t CandidateLow() const { return candidate_low_; }
  uint32_t AcceptedLow() const { return accepted_low_; }
  uint32_t High() const { return static_cast<uint32_t>(high_); }
  bool Unresolved() const { return unresolved_; }
  bool DatesTrusted() const { return dates_trusted_; }
  bool TimeEntrySeenInPass() const { return time_entry_seen_; }
  ExtTime LastTimeEntryDate() const { return last_time_entry_date_; }
  // Absolute time of the last time entry applied (its date after a time warp, whose count may
  // lag behind; otherwise base + seconds since tick 0).
  ExtTime TimeEntryTime() const { return time_entry_time_; }
  ExtTime OldestTime() const { return oldest_time_; }  // -1 = none
  // Latest absolute time of the time entries and BULK blocks, and of the CAN frames of the
  // pre-scan (the conversion pass does not read it); -1 = none.
  ExtTime LatestTime() const {
    if (!latest_pending_) return latest_time_;
    const ExtTime t = latest_base_ + SecondsOf(latest_ticks_);
    return latest_time_ < 0 || t > latest_time_ ? t : latest_time_;
  }
  ExtTime TimeBaseAtOldest() const { return time_base_at_oldest_; }  // -1 = none
  ClockPass Pass() const { return pass_; }
  bool BreakpointReported() const { return breakpoint_reported_; }

 private:
  // Accepts the candidate: wrap check into the high part, then recompute seconds since tick 0.
  // position < 0: no file position is known (BULK blocks). Only a count that fell back by more
  // than half the 32-bit range has wrapped; a count that leaps forward by as much belongs to the
  // same high part (incrementing there would add 2^32 ticks that never happened).
  void Step32(int64_t position) {
    if (static_cast<int64_t>(candidate_low_) - static_cast<int64_t>(accepted_low_) <
        -static_cast<int64_t>(0x80000000LL)) {
      Wrapped(position);
    }
    accepted_low_ = candidate_low_;
    high_ &= 0x7FFFFFFFu;
    UpdateSeconds();
  }
  void Wrapped(int64_t position);
  // The step back of an unresolvable overflow, or of a known counter restart, when the logger
  // appends after a restart: the time goes on ten seconds after the last known time, counted
  // from `count` (the new count's low bits).
  void BridgeGap(uint32_t count, int64_t position);
  // "UNRESOLVABLE ..." for a candidate that steps back (a CAN frame's 24 bits, or another entry's
  // 32 bits); error count + 1.
  void ReportUnresolvable(int64_t position, uint32_t candidate, double delta_t, bool frame);
  void ApplyCounterRestart(const LogEntry& entry, const CounterRestart& restart);
  // Reports an absolute time more than 0.1 s before that of the previous timed entry.
  void NoteTimeStep(int64_t position) {
    const uint64_t ticks = TickCount();
    if (have_previous_time_ && SameRun(previous_base_, previous_ticks_, ticks)) {
      // The common case: the same base and a count that did not fall. The absolute time cannot
      // have stepped back, and the previous time is kept as its base and count.
      previous_ticks_ = ticks;
      return;
    }
    NoteTimeStepAt(position, ticks);
  }
  void NoteTimeStepAt(int64_t position, uint64_t ticks);
  void ApplyOtherEntry(const LogEntry& entry);
  void UpdateSeconds() {
    if (!(frequency_ > 0)) frequency_ = kDefaultTimerFrequency;
    seconds_stale_ = true;  // (high x 2^32 + accepted low) / frequency, when asked for
  }
  void NoteLatest(ExtTime t) {
    if (latest_time_ < 0 || t > latest_time_) latest_time_ = t;
  }
  // The latest time with the current absolute time of a CAN frame (of a positive base). A run
  // of frames with the same base and counts that do not fall is kept as its base and last count
  // (pending), whose time is the run's latest: no long double arithmetic per frame.
  void NoteLatestFrame() {
    const uint64_t ticks = TickCount();
    if (latest_pending_ && SameRun(latest_base_, latest_ticks_, ticks)) {
      latest_ticks_ = ticks;
      return;
    }
    if (!(time_base_ > 0)) return;
    latest_time_ = LatestTime();
    latest_pending_ = true;
    latest_base_ = time_base_;
    latest_ticks_ = ticks;
  }
  // Whether two times have the same bits (compared as integers, without loading them as long
  // doubles).
  static bool SameBits(const ExtTime& a, const ExtTime& b) {
    return std::memcmp(&a, &b, kExtTimeBytes) == 0;
  }
  // Whether the current base and `ticks` continue a time kept as its base and count: the same
  // base and a count that did not fall, so that the time did not fall either.
  bool SameRun(const ExtTime& base, uint64_t kept_ticks, uint64_t ticks) const {
    return ticks >= kept_ticks && SameBits(time_base_, base);
  }
  ExtTime SecondsOf(uint64_t ticks) const { return static_cast<ExtTime>(ticks) / frequency_; }
  // Counts the "Large timestamp difference" problems; true while they may still be shown.
  bool TakeLargeDifferenceSlot();

  DecodeMessages& Msgs() { return messages_ != nullptr ? *messages_ : own_messages_; }

  DecodeMessages* messages_ = nullptr;  // not owned; own_messages_ when none was given
  DecodeMessages own_messages_;
  ClockPass pass_ = ClockPass::kPreScan;

  uint32_t candidate_low_ = 0;
  uint32_t accepted_low_ = 0;
  // The high part of the tick count, below 2^31. Held in 64 bits so that reading the whole count
  // (TickCount, every frame) is never one load over two separate 32-bit stores, which the
  // processor cannot serve from its store buffer and waits for.
  uint64_t high_ = 0;
  mutable ExtTime seconds_ = 0;  // seconds since tick 0, unless stale
  mutable bool seconds_stale_ = false;
  ExtTime time_base_ = 0;
  double frequency_ = kDefaultTimerFrequency;
  bool unresolved_ = false;
  bool new_file_on_startup_ = false;

  ExtTime last_time_entry_date_ = 0;
  ExtTime time_entry_time_ = 0;
  ExtTime oldest_time_ = -1;
  ExtTime latest_time_ = -1;
  // A pending latest time: base + count / frequency (see NoteLatestFrame).
  bool latest_pending_ = false;
  ExtTime latest_base_ = 0;
  uint64_t latest_ticks_ = 0;
  ExtTime time_base_at_oldest_ = -1;
  bool dates_trusted_ = true;

  // Per pass.
  bool time_entry_seen_ = false;
  bool breakpoint_reported_ = false;
  double breakpoint_ = 0;
  uint64_t last_can_count_ = 0;
  bool can_arriving_ = false;
  bool have_prev_gps_ = false;
  uint64_t prev_gps_count_ = 0;
  bool gps_consistent_ = false;
  std::size_t next_restart_ = 0;
  // The previous timed entry: its time base and count, whose absolute time is base + count /
  // frequency (kept as the two, so that an entry with the same base and a later count needs no
  // long double arithmetic to find that the time did not step back).
  bool have_previous_time_ = false;
  ExtTime previous_base_ = 0;
  uint64_t previous_ticks_ = 0;

  std::vector<CounterRestart> restarts_;  // in the order the conversion pass meets them
};

}  // namespace tessmar
