#include "logfile/simulator/entry_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tessmar::sim {

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Days since 1970-01-01 of a Gregorian date (proleptic, works for any year).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (m + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

int64_t SecondsFromCivil(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

CivilTime CivilFromSeconds(double seconds) {
  const int64_t total_cs = std::llround(seconds * 100.0);
  int64_t s = total_cs >= 0 ? total_cs / 100 : (total_cs - 99) / 100;
  const int hundredths = static_cast<int>(total_cs - s * 100);
  int64_t days = s >= 0 ? s / 86400 : (s - 86399) / 86400;
  int64_t rest = s - days * 86400;
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  t.hundredths = hundredths;
  return t;
}

void EncodeCanFrame(Slot& slot, uint8_t dlc, uint32_t ticks, uint32_t id_word,
                    const uint8_t data[8]) {
  slot[0] = dlc & 0x0F;
  slot[1] = static_cast<uint8_t>(ticks);
  slot[2] = static_cast<uint8_t>(ticks >> 8);
  slot[3] = static_cast<uint8_t>(ticks >> 16);
  Put32(slot + 4, id_word);
  std::memcpy(slot + 8, data, 8);
}

void EncodeMarker(Slot& slot, std::string_view tag, uint32_t ticks) {
  std::memset(slot, 0, kSlotSize);
  slot[0] = 0x40;  // '@'
  for (std::size_t i = 0; i < 3; ++i)
    slot[1 + i] = i < tag.size() ? static_cast<uint8_t>(tag[i]) : 0;
  Put32(slot + 4, ticks);
}

void EncodeTimeEntry(Slot& slot, uint32_t ticks, const CivilTime& date) {
  EncodeMarker(slot, "tim", ticks);
  slot[8] = static_cast<uint8_t>(date.year >> 8);  // year is big-endian
  slot[9] = static_cast<uint8_t>(date.year);
  slot[10] = static_cast<uint8_t>(date.month);
  slot[11] = static_cast<uint8_t>(date.day);
  slot[12] = static_cast<uint8_t>(date.hour);
  slot[13] = static_cast<uint8_t>(date.minute);
  slot[14] = static_cast<uint8_t>(date.second);
  slot[15] = static_cast<uint8_t>(date.hundredths);
}

void EncodeTriggerMarker(Slot& slot, uint32_t ticks, uint8_t b0, uint8_t b1) {
  EncodeMarker(slot, "tri", ticks);
  slot[8] = b0;
  slot[9] = b1;
}

void EncodeExpressionEntry(Slot& slot, uint8_t index, uint32_t ticks, const float* first,
                           const float* second) {
  slot[0] = 0x90;
  slot[1] = index;
  slot[2] = 0;
  slot[3] = 0;
  Put32(slot + 4, ticks);
  if (first) {
    std::memcpy(slot + 8, first, 4);
  } else {
    Put32(slot + 8, 0xFFFFFFFFu);
  }
  if (second) {
    std::memcpy(slot + 12, second, 4);
  } else {
    Put32(slot + 12, 0xFFFFFFFFu);
  }
}

void EncodeGps1(Slot& slot, uint32_t ticks, const GpsFix1& fix) {
  slot[0] = 0xA1;
  slot[1] = static_cast<uint8_t>(((fix.quality & 3) << 6) | (fix.warning ? 0x10 : 0) |
                                 (fix.satellites & 0x0F));
  slot[2] = fix.hdop_x10;
  slot[3] = 0;
  Put32(slot + 4, ticks);
  Put32(slot + 8, fix.time_of_day_cs);
  Put16(slot + 12, fix.packed_date);
  Put16(slot + 14, static_cast<uint16_t>(fix.speed_x10));
}

uint16_t PackGpsDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 2000) & 0x7F) << 9 | (month & 0x0F) << 5 | (day & 0x1F));
}

void EncodeGps2(Slot& slot, int16_t height_x10, int32_t lat_cs, int32_t lon_cs) {
  slot[0] = 0xA2;
  slot[1] = 0;
  Put16(slot + 2, static_cast<uint16_t>(height_x10));
  Put32(slot + 4, static_cast<uint32_t>(lat_cs));
  Put32(slot + 8, static_cast<uint32_t>(lon_cs));
  Put32(slot + 12, 0);
}

// ---- BULK blocks -------------------------------------------------------------------------------

namespace {
constexpr std::size_t kMaxBulkLength = 65520;  // largest length that rounds to whole slots
}

void BulkBlockBuilder::Start(uint32_t ticks, bool long_form) {
  records_.clear();
  ticks_ = ticks;
  long_form_ = long_form;
}

void BulkBlockBuilder::AddRecord(uint8_t index, BulkType type, const uint8_t* payload,
                                 std::size_t size) {
  // 7 bytes of long-form head, the record, and one end byte must stay within the limit.
  if (7 + records_.size() + 2 + size + 1 > kMaxBulkLength) return;
  records_.push_back(index);
  records_.push_back(static_cast<uint8_t>(type));
  if (size > 0) records_.insert(records_.end(), payload, payload + size);
}

void BulkBlockBuilder::AddInteger(uint8_t index, BulkType type, int64_t value) {
  uint8_t b[8];
  Put64(b, static_cast<uint64_t>(value));
  std::size_t size = 0;
  switch (type) {
    case BulkType::kBool:
    case BulkType::kInt8:
    case BulkType::kUns8:
      size = 1;
      break;
    case BulkType::kInt16:
    case BulkType::kUns16:
      size = 2;
      break;
    case BulkType::kInt32:
    case BulkType::kUns32:
      size = 4;
      break;
    default:
      return;
  }
  AddRecord(index, type, b, size);
}

void BulkBlockBuilder::AddFloat32(uint8_t index, float value) {
  uint8_t b[4];
  std::memcpy(b, &value, 4);
  AddRecord(index, BulkType::kFloat32, b, 4);
}

void BulkBlockBuilder::AddFloat64(uint8_t index, double value) {
  uint8_t b[8];
  std::memcpy(b, &value, 8);
  AddRecord(index, BulkType::kFloat64, b, 8);
}

void BulkBlockBuilder::AddString(uint8_t index, std::string_view text) {
  std::vector<uint8_t> b(text.begin(), text.end());
  b.push_back(0);
  AddRecord(index, BulkType::kString, b.data(), b.size());
}

void BulkBlockBuilder::AddNoValue(uint8_t index) {
  AddRecord(index, BulkType::kUnknown, nullptr, 0);
}

void BulkBlockBuilder::AddRecord(uint8_t index, BulkType type) {
  AddRecord(index, type, nullptr, 0);
}

std::span<const uint8_t> BulkBlockBuilder::Finish() {
  const std::size_t short_head = 5;  // type byte + 4 tick bytes
  const std::size_t long_head = 7;   // type byte + 2 length bytes + 4 tick bytes
  const std::size_t short_len = short_head + records_.size();
  const bool use_long = long_form_ || short_len > 15 * kSlotSize;
  std::size_t length;
  if (use_long) {
    length = long_head + records_.size() + 1;  // with the end record
  } else {
    length = (short_len + kSlotSize - 1) / kSlotSize * kSlotSize;
    if (length == 0) length = kSlotSize;
  }
  const std::size_t padded = (length + kSlotSize - 1) / kSlotSize * kSlotSize;
  block_.assign(padded, 0xFF);  // 0xFF after the records reads as the end record
  if (use_long) {
    block_[0] = 0xD0;
    Put16(block_.data() + 1, static_cast<uint16_t>(length));
    Put32(block_.data() + 3, ticks_);
    std::copy(records_.begin(), records_.end(), block_.begin() + long_head);
  } else {
    block_[0] = static_cast<uint8_t>(0xD0 | (length / kSlotSize));
    Put32(block_.data() + 1, ticks_);
    std::copy(records_.begin(), records_.end(), block_.begin() + short_head);
  }
  return block_;
}

// ---- Binary header -----------------------------------------------------------------------------

void EncodeBinaryHeader(uint8_t (&out)[kBinaryHeaderSize], const BinaryHeaderFields& f) {
  std::memset(out, 0, kBinaryHeaderSize);
  std::memcpy(out, kBinaryHeaderSignature, sizeof(kBinaryHeaderSignature));  // with the zero byte
  Put32(out + 64, f.file_pos_for_next_write);
  Put32(out + 68, f.count_written_entries);
  Put32(out + 128, f.count_received_msgs);
  Put32(out + 132, f.count_can_irqs);
  Put32(out + 136, f.count_lost_messages);
  Put32(out + 140, f.last_message_lost_in_line);
  for (int i = 0; i < 8; ++i) Put16(out + 144 + 2 * i, f.cpu_load[i]);
  std::memcpy(out + 160, f.firmware_compile_date, 16);
  out[175] = 0;
  Put32(out + 176, static_cast<uint32_t>(f.firmware_article_number));
}

// ---- Signal bits -------------------------------------------------------------------------------

int InsertBits(uint8_t data[8], int sb, int nb, char byte_order, uint64_t raw) {
  if (sb < 0 || sb > 63 || nb < 1 || nb > 64) return 0;
  const bool motorola = byte_order == 'M' || byte_order == 'm';
  int k = sb / 8;
  int p = sb % 8;
  int done = 0;
  int highest = -1;
  while (done < nb && k >= 0 && k <= 7) {
    const int take = std::min(8 - p, nb - done);
    const uint8_t mask = static_cast<uint8_t>(((1u << take) - 1u) << p);
    const uint8_t bits = static_cast<uint8_t>(((raw >> done) << p) & mask);
    data[k] = static_cast<uint8_t>((data[k] & ~mask) | bits);
    highest = std::max(highest, k);
    done += take;
    p = 0;
    k += motorola ? -1 : 1;
  }
  return highest + 1;
}

}  // namespace tessmar::sim
