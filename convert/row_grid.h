#pragma once
// The row grid of Signals output: rows at multiples of the write interval, each showing the
// latest values of the entries whose time is at or before the row's time (sample and hold).
//
// A row is therefore written only once an entry later than its time is read, before that
// entry's values are applied (BeforeEntry), and at the end for the rows up to the last entry
// (Finish). Entries that share one tick all reach the row of that tick. When the recording's
// time steps back by more than 3 s the grid restarts at the first multiple of the interval after
// the entry; over a gap of more than 100 intervals it carries on from the entry's time. In both
// cases the rows up to the previous entry are written first.

#include <cmath>
#include <cstdint>

#include "logfile/calendar.h"

namespace tessmar {

class RowGrid {
 public:
  // Grid times are sums of the write interval, so a row meant to lie on an entry's tick can land
  // a rounding error away from it. Times this close count as the same tick.
  static constexpr double kSameTime = 1e-9;

  // How the grid moved at an entry (for the verbose listing).
  struct Jump {
    bool gap = false;
    double last_written = 0;  // the grid time of the last row before the gap
    int64_t skipped = 0;      // about how many grid times the gap spans
  };

  explicit RowGrid(double interval) : interval_(interval) {}

  bool running() const { return running_; }
  // Starts the grid at the first multiple of the interval after `now`.
  void StartAfter(double now) {
    next_ = now - std::fmod(now, interval_) + interval_;
    running_ = true;
  }
  // Starts the grid with a row at `first`.
  void StartAt(double first) {
    next_ = first;
    running_ = true;
  }
  // Stops the grid; the next StartAfter begins it anew.
  void Stop() { running_ = false; }

  // An entry at `now` (seconds) was read, its values not yet applied: calls write(t) for every
  // row due before it. write returns false on failure, which ends the call with false.
  template <class Write>
  bool BeforeEntry(double now, Write&& write, Jump* jump) {
    if (!running_) return true;
    const bool back = next_ > now + 3.0;
    const bool gap = !back && now > next_ + 100.0 * interval_;
    if ((back || gap) && !WriteUntil(last_entry_, true, write)) return false;
    if (back) {
      StartAfter(now);
    } else if (gap) {
      if (jump) {
        jump->gap = true;
        jump->last_written = next_ - interval_;
        // A corrupted clock can jump by more grid times than an int holds.
        const double spans = (now - next_) / interval_;
        jump->skipped = spans < 9.0e18 ? static_cast<int64_t>(spans) : INT64_MAX;
      }
      next_ = now;
    }
    return WriteUntil(now, false, write);
  }
  // The entry's values are applied.
  void AfterEntry(double now) { last_entry_ = now; }
  // The end of the pass: the rows up to the last entry.
  template <class Write>
  bool Finish(Write&& write) {
    return !running_ || WriteUntil(last_entry_, true, write);
  }

 private:
  // The rows up to `until` (inclusive with `inclusive`).
  template <class Write>
  bool WriteUntil(ExtTime until, bool inclusive, Write& write) {
    while (inclusive ? next_ <= until + kSameTime : next_ < until - kSameTime) {
      if (!write(next_)) return false;
      next_ += interval_;
    }
    return true;
  }

  double interval_;
  double next_ = 0;
  bool running_ = false;
  ExtTime last_entry_ = 0;  // time of the previous entry
};

}  // namespace tessmar
