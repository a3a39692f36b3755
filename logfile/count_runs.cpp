#include "logfile/count_runs.h"

#include <cstdlib>
#include <optional>
#include <vector>

namespace tessmar {
namespace {

// Signed distance from one 24-bit stamp to another, across a wrap of the 24-bit counter.
int32_t StampDistance(uint32_t from, uint32_t to) {
  const int32_t d = static_cast<int32_t>((to - from) & 0x00FFFFFFu);
  return d >= 0x800000 ? d - 0x1000000 : d;
}

struct Frame {
  EntryPlace place;
  uint32_t stamp = 0;
};

}  // namespace

bool EntryCount32Of(const LogEntry& entry, uint32_t* count) {
  switch (entry.cls) {
    case EntryClass::kTimeMarker:
    case EntryClass::kEofMarker:
    case EntryClass::kPreMarker:
    case EntryClass::kTriggerMarker:
    case EntryClass::kExpression:
    case EntryClass::kGps1:
      *count = EntryCount32(entry.bytes);
      return true;
    case EntryClass::kBulkExpression:
      *count = BulkCount32(entry.bytes);
      return true;
    default:
      return false;
  }
}

EntryPlace FindRunStart(CldReader& reader, EntryPlace from, uint32_t from_count, EntryPlace to,
                        uint32_t to_count) {
  std::vector<Frame> frames;  // since the last entry of the earlier run with a 32-bit count
  uint32_t last_count = from_count;
  // The first waiting frame that lies nearer to `anchor` (the count of the later run that follows
  // the frames) than to the frame before it.
  auto first_of_later = [&](uint32_t anchor) -> EntryPlace {
    uint32_t previous = last_count & 0x00FFFFFFu;
    for (const Frame& f : frames) {
      if (std::abs(StampDistance(f.stamp, anchor)) < std::abs(StampDistance(previous, f.stamp))) {
        return f.place;
      }
      previous = f.stamp;
    }
    return {};
  };
  reader.SetPosition(from.position, from.index);
  bool wound = false;
  LogEntry e;
  for (;;) {
    if (!reader.NextEntry(&e)) {
      if (wound) break;
      wound = true;
      reader.SetPosition(reader.FirstEntryPosition(), 0);
      if (!reader.NextEntry(&e)) break;
    }
    if (e.position == to.position || (wound && e.position >= from.position)) break;
    uint32_t count = 0;
    if (EntryCount32Of(e, &count)) {
      if (std::abs(CountDistance(count, to_count)) < std::abs(CountDistance(last_count, count))) {
        const EntryPlace frame = first_of_later(count);
        return frame.Found() ? frame : EntryPlace{e.position, e.index};
      }
      last_count = count;
      frames.clear();
    } else if (e.cls == EntryClass::kCanFrame && !IsDummyBlock(e.bytes)) {
      frames.push_back(Frame{EntryPlace{e.position, e.index}, CanTimestamp24(e.bytes)});
    }
  }
  const EntryPlace frame = first_of_later(to_count);
  return frame.Found() ? frame : to;
}

WrapSearch FindWrapWithoutEndMarker(CldReader& reader,
                                    const std::function<bool(const LogEntry&)>& progress) {
  struct TimeEntry {
    EntryPlace place;
    uint32_t count = 0;
    ExtTime date = 0;
  };
  WrapSearch result;
  std::optional<TimeEntry> last, oldest, before_oldest;
  int time_entries = 0;
  reader.SetPosition(reader.FirstEntryPosition(), 0);
  LogEntry e;
  while (reader.NextEntry(&e)) {
    if (progress && !progress(e)) {
      result.aborted = true;
      return result;
    }
    if (e.cls == EntryClass::kEofMarker) return result;
    // A year below 256 is no date the logger's clock gives (the clock trusts none either).
    if (e.cls != EntryClass::kTimeMarker || !TimeEntryFieldsValid(e.bytes) || e.bytes[8] == 0) {
      continue;
    }
    const TimeEntry t{EntryPlace{e.position, e.index}, EntryCount32(e.bytes),
                      TimeEntrySeconds(e.bytes)};
    ++time_entries;
    if (!oldest || t.date < oldest->date) {
      oldest = t;
      before_oldest = last;
    }
    last = t;
  }
  if (time_entries < 2) return result;
  // The oldest entries lie between the oldest time entry and the time entry before it (in a
  // file that wrapped after its last time entry: the last one, across the end of the file).
  const TimeEntry& newer = before_oldest ? *before_oldest : *last;
  const EntryPlace after_newer{newer.place.position + kEntrySize, newer.place.index + 1};
  const EntryPlace start =
      FindRunStart(reader, after_newer, newer.count, oldest->place, oldest->count);
  // Starting at the oldest time entry, or at the first entry of the file, is what the
  // conversion does without help.
  if (start.position == oldest->place.position || start.position == reader.FirstEntryPosition()) {
    return result;
  }
  result.oldest = start;
  return result;
}

}  // namespace tessmar
