#pragma once
// Byte-level encoders for the entries of a logger recording (.cld), as the logger writes them.
//
// These are written on purpose without any help from the recording reader: the simulator builds
// every slot from the byte layout alone, so a mistake in the reader cannot hide behind the same
// mistake here. Every entry is a 16-byte slot; a BULK block spans one or more slots. Multi-byte
// fields are little-endian, except the year of a time entry, which is big-endian.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tessmar::sim {

inline constexpr std::size_t kSlotSize = 16;
inline constexpr std::size_t kBinaryHeaderSize = 512;
inline constexpr char kBinaryHeaderSignature[] = "BinaryLogfileHeader\r\nSize=512 byte\r\n";

using Slot = uint8_t[kSlotSize];

// Calendar date and time, no time zone.
struct CivilTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int hundredths = 0;
};

// Seconds since 1970-01-01 00:00:00 (Gregorian calendar) and back. Whole seconds; the hundredths
// of CivilTime are ignored by the first and filled from the fraction by the second.
int64_t SecondsFromCivil(int year, int month, int day, int hour, int minute, int second);
CivilTime CivilFromSeconds(double seconds);

// CAN frame: data length (0..8, larger is stored as given in bits 0-3), low 24 bits of the tick
// counter, identifier word, eight data bytes.
void EncodeCanFrame(Slot& slot, uint8_t dlc, uint32_t ticks, uint32_t id_word,
                    const uint8_t data[8]);

// Marker entry ("tim", "eof", "pre", "tri" or any three letters) with the low 32 tick bits.
// Bytes 8..15 are cleared; EncodeTimeEntry and EncodeTriggerMarker fill them.
void EncodeMarker(Slot& slot, std::string_view tag, uint32_t ticks);
void EncodeTimeEntry(Slot& slot, uint32_t ticks, const CivilTime& date);
void EncodeTriggerMarker(Slot& slot, uint32_t ticks, uint8_t b0, uint8_t b1);

// Expression entry carrying the values of expressions [index] and [index + 1]. A value slot of
// nullptr is written as the "no value" pattern 0xFFFFFFFF.
void EncodeExpressionEntry(Slot& slot, uint8_t index, uint32_t ticks, const float* first,
                           const float* second);

// GPS entry 1: quality 0..3, receiver warning, satellites 0..15, HDOP x10, time of day in
// hundredths since midnight, packed date (0 = none), speed in 0.1 km/h.
struct GpsFix1 {
  uint8_t quality = 0;
  bool warning = true;
  uint8_t satellites = 0;
  uint8_t hdop_x10 = 0;
  uint32_t time_of_day_cs = 0;
  uint16_t packed_date = 0;
  int16_t speed_x10 = 0;
};
void EncodeGps1(Slot& slot, uint32_t ticks, const GpsFix1& fix);
uint16_t PackGpsDate(int year, int month, int day);

// GPS entry 2: height in 0.1 m, latitude and longitude in hundredths of an arc second.
void EncodeGps2(Slot& slot, int16_t height_x10, int32_t lat_cs, int32_t lon_cs);

// Value types of BULK records.
enum class BulkType : uint8_t {
  kUnknown = 0,
  kBool = 1,
  kInt8 = 2,
  kInt16 = 3,
  kInt32 = 4,
  kUns8 = 5,
  kUns16 = 6,
  kUns32 = 7,
  kFloat32 = 8,
  kString = 9,
  kOctets = 10,
  kFloat64 = 17,
};

// Assembles one BULK block of expression values. The short form (length code 1..15, the block is
// that many slots) is used when it fits and the long form was not asked for; the long form
// (length code 0, 16-bit length) otherwise. The block is padded to whole slots with 0xFF.
class BulkBlockBuilder {
 public:
  void Start(uint32_t ticks, bool long_form);
  void AddInteger(uint8_t index, BulkType type, int64_t value);
  void AddFloat32(uint8_t index, float value);
  void AddFloat64(uint8_t index, double value);
  void AddString(uint8_t index, std::string_view text);
  void AddNoValue(uint8_t index);                // type "unknown": the channel becomes invalid
  void AddRecord(uint8_t index, BulkType type);  // a record without payload ("octets")
  // Closes the block (end record 255 when room is left) and returns the padded bytes. A block
  // whose records exceed 65520 bytes is cut at the last record that fits.
  std::span<const uint8_t> Finish();

 private:
  void AddRecord(uint8_t index, BulkType type, const uint8_t* payload, std::size_t size);
  std::vector<uint8_t> records_;
  std::vector<uint8_t> block_;
  uint32_t ticks_ = 0;
  bool long_form_ = false;
};

// The 512-byte binary logfile header.
struct BinaryHeaderFields {
  uint32_t file_pos_for_next_write = 0;
  uint32_t count_written_entries = 0;
  uint32_t count_received_msgs = 0;
  uint32_t count_can_irqs = 0;
  uint32_t count_lost_messages = 0;
  uint32_t last_message_lost_in_line = 0;
  uint16_t cpu_load[8] = {};
  char firmware_compile_date[16] = {};
  int32_t firmware_article_number = 0;
};
void EncodeBinaryHeader(uint8_t (&out)[kBinaryHeaderSize], const BinaryHeaderFields& fields);

// Writes the low nb bits of raw into the eight data bytes at start bit sb (least significant bit,
// byte index * 8 + bit index). Intel continues into the next higher byte, Motorola ('M' or 'm')
// into the next lower one. Bits that would fall outside bytes 0..7 are dropped. Returns the
// highest byte index touched plus one (0 when nothing was written).
int InsertBits(uint8_t data[8], int sb, int nb, char byte_order, uint64_t raw);

}  // namespace tessmar::sim
