// Entry classes and the byte layouts of a recording's entries.

#include "logfile/log_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/logfile/recording_builder.h"

namespace tessmar {
namespace {

using testing::Bytes;

// ---- Classification ------------------------------------------------------------------------

TEST(EntryClass, ByteZeroSelectsTheClass) {
  struct Case {
    uint8_t b0;
    const char* tag;
    EntryClass expected;
  };
  const Case cases[] = {
      {0x00, "xxx", EntryClass::kCanFrame},       {0x3F, "xxx", EntryClass::kCanFrame},
      {0x40, "tim", EntryClass::kTimeMarker},     {0x7F, "eof", EntryClass::kEofMarker},
      {0x40, "pre", EntryClass::kPreMarker},      {0x41, "tri", EntryClass::kTriggerMarker},
      {0x40, "TIM", EntryClass::kUnknownMarker},  {0x40, "ti ", EntryClass::kUnknownMarker},
      {0x80, "xxx", EntryClass::kUnknownData},    {0x8F, "xxx", EntryClass::kUnknownData},
      {0x90, "xxx", EntryClass::kExpression},     {0x9F, "xxx", EntryClass::kExpression},
      {0xA0, "xxx", EntryClass::kGpsUnknown},     {0xA1, "xxx", EntryClass::kGps1},
      {0xA2, "xxx", EntryClass::kGps2},           {0xAF, "xxx", EntryClass::kGpsUnknown},
      {0xB0, "xxx", EntryClass::kUnknownData},    {0xBF, "xxx", EntryClass::kUnknownData},
      {0xC3, "xxx", EntryClass::kBulkOther},      {0xD0, "xxx", EntryClass::kBulkExpression},
      {0xDF, "xxx", EntryClass::kBulkExpression}, {0xE1, "xxx", EntryClass::kBulkOther},
      {0xF1, "xxx", EntryClass::kBulkOther},
  };
  for (const Case& c : cases) {
    Bytes e(16, 0);
    e[0] = c.b0;
    std::memcpy(&e[1], c.tag, 3);
    EXPECT_EQ(ClassifyEntry(e.data()), c.expected) << "byte 0 = " << int(c.b0) << " " << c.tag;
    // The reader takes the block length from the class: only 0xC0..0xFF span several slots.
    EXPECT_EQ(IsBulkBlock(c.expected), c.b0 >= 0xC0) << "byte 0 = " << int(c.b0);
  }
}

// ---- CAN frames ----------------------------------------------------------------------------

TEST(CanFrameEntry, FieldsAndDataLength) {
  const Bytes e = testing::CanEntry(0xABCDEF, 0x40000123, {1, 2, 3, 4, 5, 6, 7, 8}, 3);
  EXPECT_EQ(CanDataLength(e.data()), 3);
  EXPECT_EQ(CanTimestamp24(e.data()), 0xABCDEFu);
  EXPECT_EQ(CanIdentifier(e.data()), 0x40000123u);
  // Bytes beyond the data length stay available for signal extraction.
  EXPECT_EQ(CanData(e.data())[7], 8);
  Bytes big = e;
  big[0] = 0x3C;  // bits 4..5 ignored, length 12 counts as 8
  EXPECT_EQ(CanDataLength(big.data()), 8);
  EXPECT_FALSE(IsDummyBlock(e.data()));
  Bytes zero(16, 0);
  zero[8] = 0x55;  // only bytes 0..7 decide
  EXPECT_TRUE(IsDummyBlock(zero.data()));
}

// ---- Markers -------------------------------------------------------------------------------

TEST(TimeEntry, ByteExampleOfOctober2017) {
  Bytes e = testing::MarkerEntry("tim", 0);
  const uint8_t date[8] = {0x07, 0xE1, 0x0A, 0x13, 0x0C, 0x22, 0x38, 0x4E};
  std::memcpy(&e[8], date, 8);
  const TimeEntryDate d = DecodeTimeEntryDate(e.data());
  EXPECT_EQ(d.year, 2017);
  EXPECT_EQ(d.month, 10);
  EXPECT_EQ(d.day, 19);
  EXPECT_EQ(d.hour, 12);
  EXPECT_EQ(d.minute, 34);
  EXPECT_EQ(d.second, 56);
  EXPECT_EQ(d.hundredths, 78);
  EXPECT_NEAR(static_cast<double>(TimeEntrySeconds(e.data())), 1508416496.78, 1e-6);
  EXPECT_TRUE(TimeEntryFieldsValid(e.data()));
  e[10] = 13;
  EXPECT_FALSE(TimeEntryFieldsValid(e.data()));
}

TEST(TriggerMarker, InfoBytesAndCount) {
  const Bytes e = testing::MarkerEntry("tri", 0xDEADBEEF, 0x12, 0x34);
  EXPECT_EQ(EntryCount32(e.data()), 0xDEADBEEFu);
  EXPECT_EQ(TriggerByte0(e.data()), 0x12);
  EXPECT_EQ(TriggerByte1(e.data()), 0x34);
}

// ---- Expression and GPS entries ------------------------------------------------------------

TEST(ExpressionEntry, ValuesFlagsAndIndexLimit) {
  ExpressionEntry x = DecodeExpressionEntry(
      testing::ExpressionEntryBytes(5, 1000, testing::FloatBits(2.5f), 0xFFFFFFFF).data());
  EXPECT_EQ(x.index, 5);
  EXPECT_EQ(x.count32, 1000u);
  EXPECT_TRUE(x.used[0]);
  EXPECT_FLOAT_EQ(x.value[0], 2.5f);
  EXPECT_FALSE(x.used[1]) << "pattern 0xFFFFFFFF carries no value";

  // Index 63: bytes 8..11 set expression 63, bytes 12..15 would be expression 64.
  x = DecodeExpressionEntry(
      testing::ExpressionEntryBytes(63, 0, testing::FloatBits(1.0f), testing::FloatBits(2.0f))
          .data());
  EXPECT_TRUE(x.used[0]);
  EXPECT_FALSE(x.used[1]);

  // Bytes 2..3 not zero: no value is used.
  x = DecodeExpressionEntry(
      testing::ExpressionEntryBytes(0, 0, testing::FloatBits(1.0f), testing::FloatBits(2.0f), 1)
          .data());
  EXPECT_FALSE(x.used[0]);
  EXPECT_FALSE(x.used[1]);
}

TEST(GpsEntries, FixFieldsAndPackedDate) {
  const uint32_t tod = ((13 * 60 + 14) * 60 + 15) * 100 + 16;  // 13:14:15.16
  const GpsEntry1 g =
      DecodeGpsEntry1(testing::Gps1Entry(2, true, 9, 4321, tod, 19, 10, 2017, -123, 15).data());
  EXPECT_EQ(g.quality, 2);
  EXPECT_TRUE(g.warning);
  EXPECT_EQ(g.satellites, 9);
  EXPECT_EQ(g.hdop10, 15);
  EXPECT_EQ(g.count32, 4321u);
  EXPECT_EQ(g.Hour(), 13);
  EXPECT_EQ(g.Minute(), 14);
  EXPECT_EQ(g.Second(), 15);
  EXPECT_EQ(g.Hundredths(), 16);
  EXPECT_EQ(g.Day(), 19);
  EXPECT_EQ(g.Month(), 10);
  EXPECT_EQ(g.Year(), 2017);
  EXPECT_EQ(g.speed10, -123);
  EXPECT_NEAR(g.DateTimeSeconds(), 1508418855.16, 1e-6);

  // Date field 0: the time of day is still there, the date is not.
  const GpsEntry1 nodate =
      DecodeGpsEntry1(testing::Gps1Entry(1, false, 5, 0, tod, 0, 0, 0, 0).data());
  EXPECT_EQ(nodate.date, 0);
  EXPECT_EQ(nodate.Hour(), 13);

  const GpsEntry2 p = DecodeGpsEntry2(testing::Gps2Entry(-55, -18000000, 4 * 360000).data());
  EXPECT_EQ(p.height10, -55);
  EXPECT_DOUBLE_EQ(p.latitude / 360000.0, -50.0) << "50 degrees south";
  EXPECT_EQ(p.longitude, 1440000);
}

// ---- BULK blocks ---------------------------------------------------------------------------

TEST(BulkBlock, LengthSlotsAndTimestampOffset) {
  // 0xD1: exactly one slot, timestamp at bytes 1..4.
  Bytes one = testing::BulkBlock(0xD1, 0x01020304, {});
  EXPECT_EQ(BulkLength(one.data()), 16u);
  EXPECT_EQ(BulkSlotLength(16), 16u);
  EXPECT_EQ(BulkTimestampOffset(one.data()), 1);
  EXPECT_EQ(BulkCount32(one.data()), 0x01020304u);
  // 0xD0 with length 100: 112 bytes (7 slots), timestamp at bytes 3..6.
  Bytes hundred = testing::BulkBlock(0xD0, 0x0A0B0C0D, {}, 100);
  EXPECT_EQ(hundred.size(), 112u);
  EXPECT_EQ(BulkLength(hundred.data()), 100u);
  EXPECT_EQ(BulkSlotLength(100), 112u);
  EXPECT_EQ(BulkTimestampOffset(hundred.data()), 3);
  EXPECT_EQ(BulkCount32(hundred.data()), 0x0A0B0C0Du);
  // 0xC3: kind 00, 48 bytes, read over.
  Bytes other(48, 0);
  other[0] = 0xC3;
  EXPECT_EQ(BulkLength(other.data()), 48u);
  EXPECT_EQ(ClassifyEntry(other.data()), EntryClass::kBulkOther);
  // The largest lengths still fit the block buffer; tiny stated lengths occupy one slot.
  EXPECT_EQ(BulkSlotLength(65535), 65536u);
  EXPECT_EQ(BulkSlotLength(0), 16u);
}

struct Walked {
  std::vector<BulkRecord> records;
  std::vector<std::string> texts;
  BulkWalkResult result;
};

Walked Walk(const Bytes& block) {
  Walked w;
  w.result = WalkBulkBlock(block.data(), BulkLength(block.data()), [&](const BulkRecord& r) {
    w.records.push_back(r);
    w.texts.emplace_back(r.text != nullptr ? std::string(r.text, static_cast<size_t>(r.text_length))
                                           : "");
  });
  return w;
}

TEST(BulkBlock, IntegerRecordsAreExtendedByType) {
  // uns16 FF FF, int16 FF FF, uns32 FF FF FF FF, int8 80, bool 01, end
  const Bytes rec = {0,    6,    0xFF, 0xFF, 1, 3,    0xFF, 0xFF, 2,    7,  0xFF,
                     0xFF, 0xFF, 0xFF, 3,    2, 0x80, 4,    1,    0x01, 255};
  const Walked w = Walk(testing::BulkBlock(0xD2, 0, rec));
  ASSERT_EQ(w.records.size(), 5u);
  EXPECT_EQ(w.records[0].integer, 65535);
  EXPECT_EQ(w.records[1].integer, -1);
  EXPECT_EQ(w.records[2].integer, 4294967295LL);
  EXPECT_EQ(w.records[3].integer, -128);
  EXPECT_EQ(w.records[4].integer, 1);
  EXPECT_EQ(w.records[2].type, kValueUns32);
  EXPECT_EQ(w.result.stop, BulkStop::kEnd);
  EXPECT_TRUE(w.result.carried_data);
}

TEST(BulkBlock, FloatStringAndEmptyTypes) {
  Bytes rec = {0, 8, 0, 0, 0xC0, 0x3F};                          // float32 1.5
  rec.insert(rec.end(), {1, 17, 0, 0, 0, 0, 0, 0, 0x04, 0xC0});  // float64 -2.5
  rec.insert(rec.end(), {2, 9, 'a', 'b', 0});                    // string "ab"
  rec.insert(rec.end(), {3, 10});                                // octets: nothing consumed
  rec.insert(rec.end(), {4, 0});                                 // unknown: no payload
  rec.insert(rec.end(), {255});
  const Walked w = Walk(testing::BulkBlock(0xD3, 0, rec));
  ASSERT_EQ(w.records.size(), 5u);
  EXPECT_TRUE(w.records[0].is_float);
  EXPECT_DOUBLE_EQ(w.records[0].real, 1.5);
  EXPECT_DOUBLE_EQ(w.records[1].real, -2.5);
  EXPECT_EQ(w.records[2].type, kValueString);
  EXPECT_EQ(w.texts[2], "ab");
  EXPECT_EQ(w.records[3].type, kValueOctets);
  EXPECT_EQ(w.records[4].type, kValueUnknown);
}

TEST(BulkBlock, StringWithoutZeroEndsAtTheBlockEnd) {
  // 0xD1: records from byte 5 to byte 15; "abcdefghi" fills bytes 7..15 without a zero.
  const Bytes rec = {7, 9, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'};
  const Walked w = Walk(testing::BulkBlock(0xD1, 0, rec));
  ASSERT_EQ(w.records.size(), 1u);
  EXPECT_EQ(w.texts[0], "abcdefghi");
  EXPECT_EQ(w.records[0].index, 7);
}

TEST(BulkBlock, IllegalIndexAndTypeEndTheBlock) {
  Walked w = Walk(testing::BulkBlock(0xD2, 0, {0, 5, 9, 64, 5, 1, 1, 5, 2}));
  EXPECT_EQ(w.records.size(), 1u);
  EXPECT_EQ(w.result.stop, BulkStop::kIllegalIndex);
  EXPECT_EQ(w.result.bad_byte, 64);
  EXPECT_EQ(w.result.bad_offset, 8u) << "offset of the index byte (records start at byte 5)";

  w = Walk(testing::BulkBlock(0xD2, 0, {0, 5, 9, 6, 11, 1, 1, 5, 2}));
  EXPECT_EQ(w.records.size(), 1u);
  EXPECT_EQ(w.result.stop, BulkStop::kIllegalType);
  EXPECT_EQ(w.result.bad_byte, 11);
  EXPECT_EQ(w.result.bad_offset, 9u) << "offset of the type byte";
  EXPECT_EQ(w.result.bad_type_expression, 6);
  EXPECT_STREQ(BulkTypeName(11), "illegal");
  EXPECT_STREQ(BulkTypeName(17), "float64");
}

TEST(BulkBlock, RecordCutByTheBlockLengthIsNotRead) {
  // 0xD1 holds records in bytes 5..15: a float64 whose type byte is byte 15 has no room.
  const Bytes rec = {0, 5, 1, 0, 5, 2, 0, 5, 3, 1, 17};
  const Walked w = Walk(testing::BulkBlock(0xD1, 0, rec));
  ASSERT_EQ(w.records.size(), 3u);
  EXPECT_EQ(w.records[2].integer, 3);
}

}  // namespace
}  // namespace tessmar
