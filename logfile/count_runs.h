#pragma once
// Runs of tick counts in a recording. Within one run the logger's counter rises steadily; a new
// run begins where the logger restarted (its counter starts again from about 0) and, in a
// circular file, where the newest entry is followed by the oldest one. A CAN frame carries only
// the low 24 bits of the count, so a frame alone cannot tell such a step from a wrap of its
// 24-bit counter; the 32-bit counts of the entries around it can.

#include <cstdint>
#include <functional>

#include "logfile/cld_reader.h"

namespace tessmar {

// Place of an entry in the file; position -1 = none.
struct EntryPlace {
  int64_t position = -1;
  uint32_t index = 0;
  bool Found() const { return position >= 0; }
};

// The 32-bit count of an entry that carries one kept in step with the frames: time entries,
// markers, expression entries, GPS entry 1 and expression BULK blocks. False for other entries.
bool EntryCount32Of(const LogEntry& entry, uint32_t* count);

// Signed distance from count `from` to count `to`, in ticks, across a wrap of the 32-bit counter.
inline int64_t CountDistance(uint32_t from, uint32_t to) { return static_cast<int32_t>(to - from); }

// Reads the entries from `from` up to the entry at `to` (not included), winding to the first
// entry at the end of the file, and returns the first one whose count belongs to the run of
// `to_count` (the count of the entry at `to`) rather than continuing the run of `from_count`
// (the count of the entry before `from`). Returns `to` when every entry continues the earlier
// run. The 32-bit counts decide first; the frames between the last entry of the earlier run that
// has one and the first of the later run go by their 24-bit stamps, each to the run it lies
// nearer to. Leaves the reader at an unspecified position.
EntryPlace FindRunStart(CldReader& reader, EntryPlace from, uint32_t from_count, EntryPlace to,
                        uint32_t to_count);

// A circular recording without "eof" marker (the logger lost power while recording): finds the
// entry that follows the newest one, where the oldest entries begin. Reads the entry stream from
// the first entry; stops early at an "eof" marker, which tells the place itself. Not found when
// the file has such a marker, fewer than two time entries with a valid date, or has not wrapped.
// `progress` is called for every entry read; returning false aborts (then `aborted` is set).
struct WrapSearch {
  EntryPlace oldest;  // the first entry of the oldest run; not found: nothing to do
  bool aborted = false;
};
WrapSearch FindWrapWithoutEndMarker(CldReader& reader,
                                    const std::function<bool(const LogEntry&)>& progress);

}  // namespace tessmar
