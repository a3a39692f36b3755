#pragma once
// Classifying and decoding the entries of a logger data file (.cld) from their bytes.
//
// The entry stream is a sequence of 16-byte slots; byte 0 selects the class. A BULK block (byte 0
// 0xC0..0xFF) occupies one or more consecutive slots. All multi-byte fields are little-endian
// except the year of a time entry. Every function here works on a byte span the caller owns and
// reads nothing beyond the sizes stated.

#include <cstdint>
#include <cstring>

#include "logfile/calendar.h"

namespace tessmar {

inline constexpr int kEntrySize = 16;
// Largest block the 16-bit length field can state, rounded up to whole slots.
inline constexpr int kBlockBufferSize = 65536;
// Identifier word of an entry that is never decoded into signals.
inline constexpr uint32_t kNoIdentifier = 0xFFFFFFFFu;

enum class EntryClass : uint8_t {
  kCanFrame,        // 0x00..0x3F
  kTimeMarker,      // 0x40..0x7F, tag "tim"
  kEofMarker,       // tag "eof"
  kPreMarker,       // tag "pre"
  kTriggerMarker,   // tag "tri"
  kUnknownMarker,   // 0x40..0x7F, any other tag
  kExpression,      // 0x90..0x9F
  kGps1,            // 0xA1
  kGps2,            // 0xA2
  kGpsUnknown,      // 0xA0, 0xA3..0xAF
  kUnknownData,     // 0x80..0x8F, 0xB0..0xBF
  kBulkExpression,  // 0xD0..0xDF
  kBulkOther,       // 0xC0..0xCF, 0xE0..0xFF: read over, not decoded
};

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);  // the supported targets are little-endian
  return v;
}
inline uint64_t Le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// A single 16-byte data entry (0x80..0xBF): an expression, a GPS or another data entry.
inline bool IsDataEntry(EntryClass c) {
  return c == EntryClass::kExpression || c == EntryClass::kGps1 || c == EntryClass::kGps2 ||
         c == EntryClass::kGpsUnknown || c == EntryClass::kUnknownData;
}

// Class of an entry from its first 16 bytes.
inline EntryClass ClassifyEntry(const uint8_t* e) {
  const uint8_t b = e[0];
  if (b < 0x40) return EntryClass::kCanFrame;
  if (b < 0x80) {
    if (e[1] == 't' && e[2] == 'i' && e[3] == 'm') return EntryClass::kTimeMarker;
    if (e[1] == 'e' && e[2] == 'o' && e[3] == 'f') return EntryClass::kEofMarker;
    if (e[1] == 'p' && e[2] == 'r' && e[3] == 'e') return EntryClass::kPreMarker;
    if (e[1] == 't' && e[2] == 'r' && e[3] == 'i') return EntryClass::kTriggerMarker;
    return EntryClass::kUnknownMarker;
  }
  if (b < 0xC0) {
    switch ((b >> 4) & 3) {
      case 1:
        return EntryClass::kExpression;
      case 2:
        if (b == 0xA1) return EntryClass::kGps1;
        if (b == 0xA2) return EntryClass::kGps2;
        return EntryClass::kGpsUnknown;
      default:
        return EntryClass::kUnknownData;
    }
  }
  return ((b >> 4) & 3) == 1 ? EntryClass::kBulkExpression : EntryClass::kBulkOther;
}

// A BULK block occupies one or more slots; every other class exactly one.
inline bool IsBulkBlock(EntryClass c) {
  return c == EntryClass::kBulkExpression || c == EntryClass::kBulkOther;
}

// ---- CAN frame entry ---------------------------------------------------------------------------

// Bytes 0..7 all zero: a filler block the logger writes; it is skipped.
inline bool IsDummyBlock(const uint8_t* e) { return Le64(e) == 0; }
// Data length code as the logger stated it (bits 0..3 of byte 0, 0..15).
inline int CanLengthCode(const uint8_t* e) { return e[0] & 0x0F; }
// Number of valid data bytes (a stated length above 8 counts as 8).
inline int CanDataLength(const uint8_t* e) {
  const int n = CanLengthCode(e);
  return n > 8 ? 8 : n;
}
// Low 24 bits of the tick counter.
inline uint32_t CanTimestamp24(const uint8_t* e) { return Le32(e) >> 8; }
// CAN identifier word (bus and format bits included).
inline uint32_t CanIdentifier(const uint8_t* e) { return Le32(e + 4); }
// The eight data bytes (signal extraction always works on all eight).
inline const uint8_t* CanData(const uint8_t* e) { return e + 8; }

// ---- Timed entries other than CAN frames -------------------------------------------------------

// Low 32 bits of the tick counter of a marker, an expression entry or GPS entry 1.
inline uint32_t EntryCount32(const uint8_t* e) { return Le32(e + 4); }

// Calendar fields of a "tim" entry (bytes 8..15; the year is big-endian).
struct TimeEntryDate {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int hundredths = 0;
};
inline TimeEntryDate DecodeTimeEntryDate(const uint8_t* e) {
  TimeEntryDate d;
  d.year = (e[8] << 8) | e[9];
  d.month = e[10];
  d.day = e[11];
  d.hour = e[12];
  d.minute = e[13];
  d.second = e[14];
  d.hundredths = e[15];
  return d;
}
// Seconds since 1970 of the entry's date plus hundredths x 0.01.
ExtTime TimeEntrySeconds(const uint8_t* e);
// True when every field lies in its calendar range (month 1..12, day 1..31, hour 0..23,
// minute and second 0..59, hundredths 0..99).
bool TimeEntryFieldsValid(const uint8_t* e);

// Trigger info bytes of a "tri" marker.
inline uint8_t TriggerByte0(const uint8_t* e) { return e[8]; }
inline uint8_t TriggerByte1(const uint8_t* e) { return e[9]; }

// ---- Expression entry (0x90..0x9F) --------------------------------------------------------------

struct ExpressionEntry {
  int index = 0;                  // expression number of the first value
  uint32_t count32 = 0;           // low 32 bits of the tick counter
  bool used[2] = {false, false};  // value present and its expression number below 64
  float value[2] = {0, 0};
};
ExpressionEntry DecodeExpressionEntry(const uint8_t* e);

// ---- GPS entries -------------------------------------------------------------------------------

struct GpsEntry1 {
  int quality = 0;       // fix quality 0..3
  bool warning = false;  // receiver warning: set = 'V' (not valid), clear = 'A'
  int satellites = 0;    // 0..15
  int hdop10 = 0;        // horizontal dilution of precision x 10
  uint32_t count32 = 0;
  uint32_t time_of_day = 0;  // hundredths of a second since midnight
  uint16_t date = 0;         // packed: bits 0-4 day, 5-8 month, 9-15 year - 2000; 0 = no date
  int16_t speed10 = 0;       // 0.1 km/h
  int Day() const { return date & 0x1F; }
  int Month() const { return (date >> 5) & 0x0F; }
  int Year() const { return 2000 + (date >> 9); }
  int Hour() const { return static_cast<int>(time_of_day / 360000 % 24); }
  int Minute() const { return static_cast<int>(time_of_day / 6000 % 60); }
  int Second() const { return static_cast<int>(time_of_day / 100 % 60); }
  int Hundredths() const { return static_cast<int>(time_of_day % 100); }
  // Seconds since 1970 of date and time of day; only meaningful when HasDate().
  double DateTimeSeconds() const;
  // The time of day is below 24 h: a corrupted one must not roll into the next day.
  bool HasTime() const { return time_of_day < 8640000; }
  // A date is present and its fields are possible (month 1..12, day 1..31, time below 24 h):
  // a corrupted entry must not become a date that rolls into another month or year. The one
  // rule of a valid GPS date, for the pre-scan, the GPS output and the previews alike.
  bool HasDate() const {
    return date != 0 && Month() >= 1 && Month() <= 12 && Day() >= 1 && HasTime();
  }
};
GpsEntry1 DecodeGpsEntry1(const uint8_t* e);

struct GpsEntry2 {
  int16_t height10 = 0;   // 0.1 m above sea level
  int32_t latitude = 0;   // hundredths of an arc second, positive = north
  int32_t longitude = 0;  // hundredths of an arc second, positive = east
};
GpsEntry2 DecodeGpsEntry2(const uint8_t* e);

// ---- BULK block (0xC0..0xFF) -------------------------------------------------------------------

// Stated block length in bytes, counted from byte 0: n x 16 for a length code n != 0, else the
// 16-bit field at bytes 1..2.
inline uint32_t BulkLength(const uint8_t* e) {
  const uint32_t n = e[0] & 0x0F;
  return n != 0 ? n * 16 : Le16(e + 1);
}
// Bytes the block occupies in the file: its length rounded up to whole slots, at least one slot.
// (Lengths 65521..65535 round to 65536, which the block buffer still holds.)
inline uint32_t BulkSlotLength(uint32_t length) {
  const uint32_t rounded = (length + 15u) & ~15u;
  return rounded < 16 ? 16 : rounded;
}
// Offset of the 32-bit tick count in the block.
inline int BulkTimestampOffset(const uint8_t* e) { return (e[0] & 0x0F) != 0 ? 1 : 3; }
inline uint32_t BulkCount32(const uint8_t* e) { return Le32(e + BulkTimestampOffset(e)); }

// Value types of BULK records (also the value type codes of the channel value records).
inline constexpr int kValueUnknown = 0;
inline constexpr int kValueBool = 1;
inline constexpr int kValueInt8 = 2;
inline constexpr int kValueInt16 = 3;
inline constexpr int kValueInt32 = 4;
inline constexpr int kValueUns8 = 5;
inline constexpr int kValueUns16 = 6;
inline constexpr int kValueUns32 = 7;
inline constexpr int kValueFloat32 = 8;
inline constexpr int kValueString = 9;
inline constexpr int kValueOctets = 10;
inline constexpr int kValueFloat64 = 17;

// Name of a BULK value type as a dump prints it ("illegal" for unsupported codes).
const char* BulkTypeName(int type);

// One decoded value record of a BULK block.
struct BulkRecord {
  int index = 0;          // expression number 0..63
  int type = 0;           // value type code
  bool is_float = false;  // value held in real rather than integer
  int64_t integer = 0;
  double real = 0.0;
  const char* text = nullptr;  // type 9: the kept characters (not NUL-terminated)
  int text_length = 0;         // at most 255
  uint32_t offset = 0;         // offset of the index byte in the block
};

enum class BulkStop {
  kEnd,           // index 255, or the block length reached
  kIllegalIndex,  // an index of 64..254 ended the block
  kIllegalType,   // an unsupported type code ended the block
};

// Walks the value records of a BULK expression block. `block` holds at least `length` bytes
// (the stated block length). Calls on_record(const BulkRecord&) for every record with index
// 0..63 and a supported type, in file order. A record whose payload would run past the block
// length ends the walk (there is nothing valid to read). The stop reason, the offending byte and
// its offset are returned for the caller's message.
struct BulkWalkResult {
  BulkStop stop = BulkStop::kEnd;
  uint8_t bad_byte = 0;          // the illegal index or type
  uint32_t bad_offset = 0;       // its offset in the block
  bool carried_data = false;     // some record had a type other than 0
  int bad_type_expression = -1;  // expression whose record had the illegal type, else -1
};

// Payload size of a fixed-size BULK value type; -1 for "string" (variable) and for codes that
// are not supported.
inline int BulkPayloadSize(int type) {
  switch (type) {
    case kValueUnknown:
    case kValueOctets:
      return 0;
    case kValueBool:
    case kValueInt8:
    case kValueUns8:
      return 1;
    case kValueInt16:
    case kValueUns16:
      return 2;
    case kValueInt32:
    case kValueUns32:
    case kValueFloat32:
      return 4;
    case kValueFloat64:
      return 8;
    default:
      return -1;
  }
}

template <typename OnRecord>
BulkWalkResult WalkBulkBlock(const uint8_t* block, uint32_t length, OnRecord&& on_record) {
  BulkWalkResult result;
  uint32_t pos = static_cast<uint32_t>(BulkTimestampOffset(block)) + 4;
  while (pos + 1 < length) {
    const uint8_t index = block[pos];
    if (index == 255) break;
    if (index >= 64) {
      result.stop = BulkStop::kIllegalIndex;
      result.bad_byte = index;
      result.bad_offset = pos;
      break;
    }
    BulkRecord rec;
    rec.index = index;
    rec.type = block[pos + 1];
    rec.offset = pos;
    const uint32_t payload = pos + 2;
    if (rec.type == kValueString) {
      uint32_t end = payload;
      while (end < length && block[end] != 0) ++end;
      rec.text = reinterpret_cast<const char*>(block + payload);
      rec.text_length = static_cast<int>(end - payload > 255 ? 255 : end - payload);
      pos = end < length ? end + 1 : length;  // the terminating zero is consumed
    } else {
      const int size = BulkPayloadSize(rec.type);
      if (size < 0) {
        result.stop = BulkStop::kIllegalType;
        result.bad_byte = static_cast<uint8_t>(rec.type);
        result.bad_offset = pos + 1;
        result.bad_type_expression = index;
        break;
      }
      if (payload + static_cast<uint32_t>(size) > length) break;  // record cut by the block end
      const uint8_t* v = block + payload;
      switch (rec.type) {
        case kValueBool:
        case kValueUns8:
          rec.integer = v[0];
          break;
        case kValueInt8:
          rec.integer = static_cast<int8_t>(v[0]);
          break;
        case kValueInt16:
          rec.integer = static_cast<int16_t>(Le16(v));
          break;
        case kValueUns16:
          rec.integer = Le16(v);
          break;
        case kValueInt32:
          rec.integer = static_cast<int32_t>(Le32(v));
          break;
        case kValueUns32:
          rec.integer = Le32(v);
          break;
        case kValueFloat32: {
          float f;
          std::memcpy(&f, v, 4);
          rec.real = f;
          rec.is_float = true;
          break;
        }
        case kValueFloat64: {
          std::memcpy(&rec.real, v, 8);
          rec.is_float = true;
          break;
        }
        default:
          break;
      }
      if (!rec.is_float) rec.real = static_cast<double>(rec.integer);
      pos = payload + static_cast<uint32_t>(size);
    }
    if (rec.type != kValueUnknown) result.carried_data = true;
    on_record(static_cast<const BulkRecord&>(rec));
  }
  return result;
}

}  // namespace tessmar
