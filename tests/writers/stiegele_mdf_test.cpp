#include <gtest/gtest.h>

#include "tests/writers/writer_fixture.h"
#include "writers/gps_output.h"
#include "writers/stiegele_mdf_writer.h"

namespace tessmar {
namespace {

using test::FieldText;
using test::Le32;
using test::LeF32;
using test::LeF64;
using test::LeI32;
using test::ReadBytes;
using test::TempFolder;
using test::WriterFixture;

constexpr double kS = test::kStart20171019;

WriterRow Row(double t, bool pretrigger = false) {
  WriterRow row;
  row.time = t;
  row.time_base = kS - 100.0;  // row time 100 s is the start date
  row.elapsed = t;
  row.pretrigger = pretrigger;
  return row;
}

TEST(StiegeleMdf, PackedDateAndTime) {
  EXPECT_EQ(StiegelePackedTime(kS), 0x96A68143u);
  EXPECT_EQ(StiegelePackedTime(kS + 0.99), 0x96A68143u);
  // 1980-01-01 00:00:00 packs day 1 and month 1 only.
  EXPECT_EQ(StiegelePackedTime(315532800.0), (1u << 17) | (1u << 22));
  // Beyond the signed 32-bit range: 100 years earlier, year corrected by 100.
  EXPECT_EQ(StiegelePackedTime(kS + 3155760000.0) >> 26, (2117u - 1980u) % 64u);
}

// Header, channel records, data file record and the sections of two pre-trigger segments.
TEST(StiegeleMdf, HeaderChannelsAndSections) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "V", 8);
  fx.Signal(2, "C", "km", 32);  // slot 1 free: consecutive byte offsets
  fx.Finish(dir / "s.mdf");
  fx.setup.time_column1 = TimeColumnKind::kImplicit;
  fx.setup.time_column2 = TimeColumnKind::kSeconds;
  StiegeleMdfWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  fx.Set(fx.SignalColumn(0), 1.5, 3);
  EXPECT_EQ(w.WriteRow(Row(100.0, true)), kRowWritten);  // first row: no new section
  EXPECT_EQ(w.WriteRow(Row(100.01)), kRowWritten);
  EXPECT_EQ(w.WriteRow(Row(100.02)), kRowWritten);
  fx.Set(fx.SignalColumn(2), 12345.5, 123455);
  EXPECT_EQ(w.WriteRow(Row(102.0, true)), kRowWritten);   // second segment
  EXPECT_EQ(w.WriteRow(Row(102.01, true)), kRowWritten);  // second record: still one section
  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();

  std::vector<std::uint8_t> h = ReadBytes(dir / "s.mdf");
  ASSERT_EQ(h.size(), 72u + 3 * 208u + 152u + 2 * (56u + 180u + 44u));
  EXPECT_EQ(FieldText(h, 0, 16), "MDF_BINARY\r\n");
  const std::int32_t file_record[] = {0x20001, 0, 0, 72, 0, 1, 16, 3, 19, 10, 2017, 8, 5, 3};
  for (int i = 0; i < 14; ++i)
    EXPECT_EQ(LeI32(h, 16 + 4 * static_cast<std::size_t>(i)), file_record[i]) << i;

  struct Expected {
    const char* name;
    const char* unit;
    int type;
    int offset;
  } channels[] = {{"Time", "s", 9, 0}, {"A", "V", 9, 4}, {"C", "km", 10, 8}};
  for (int i = 0; i < 3; ++i) {
    const std::size_t at = 72 + 208 * static_cast<std::size_t>(i);
    EXPECT_EQ(LeI32(h, at), 100);
    EXPECT_EQ(LeI32(h, at + 4), 208);
    EXPECT_EQ(LeI32(h, at + 8), 0x20001);
    EXPECT_EQ(LeI32(h, at + 12), i + 1);
    EXPECT_EQ(FieldText(h, at + 16, 64), channels[i].name);
    EXPECT_EQ(FieldText(h, at + 80, 64), "");
    EXPECT_EQ(FieldText(h, at + 144, 32), channels[i].unit);
    EXPECT_EQ(LeI32(h, at + 176), channels[i].type);
    EXPECT_EQ(LeI32(h, at + 180), 0);
    EXPECT_EQ(LeF64(h, at + 184), 1.0);
    EXPECT_EQ(LeF64(h, at + 192), 0.0);
    EXPECT_EQ(LeI32(h, at + 200), channels[i].offset);
    EXPECT_EQ(LeI32(h, at + 204), 1);
  }
  std::size_t at = 72 + 3 * 208;
  EXPECT_EQ(LeI32(h, at), 1);
  EXPECT_EQ(LeI32(h, at + 4), 152);
  EXPECT_EQ(LeI32(h, at + 8), 0x10001);
  EXPECT_EQ(FieldText(h, at + 20, 128), "s.dta");
  EXPECT_EQ(LeI32(h, at + 148), 0);

  at += 152;
  const std::uint32_t start0 = 0x96A68143u;  // 08:05:03
  const std::uint32_t start1 = 0x96A68145u;  // 08:05:05
  struct Section {
    int records, first;
    std::uint32_t start, end;
  } sections[] = {{3, 0, start0, start0}, {2, 3, start1, start1}};
  for (int s = 0; s < 2; ++s) {
    const Section& e = sections[s];
    EXPECT_EQ(LeI32(h, at), 2);
    EXPECT_EQ(LeI32(h, at + 4), 56);
    EXPECT_EQ(LeI32(h, at + 8), 0x10001);
    EXPECT_EQ(LeI32(h, at + 16), s);
    EXPECT_EQ(LeI32(h, at + 20), e.records);
    EXPECT_EQ(LeI32(h, at + 24), e.first);
    EXPECT_EQ(Le32(h, at + 28), e.start);
    EXPECT_EQ(Le32(h, at + 32), e.end);
    EXPECT_DOUBLE_EQ(LeF64(h, at + 36), 100.0);
    EXPECT_EQ(LeI32(h, at + 44), e.first);
    at += 56;
    EXPECT_EQ(LeI32(h, at), 20);
    EXPECT_EQ(LeI32(h, at + 4), 180);
    EXPECT_EQ(LeI32(h, at + 12), s);
    EXPECT_EQ(FieldText(h, at + 20, 32), "Section" + std::to_string(s));
    EXPECT_EQ(FieldText(h, at + 52, 128), "Section" + std::to_string(s));
    at += 180;
    EXPECT_EQ(LeI32(h, at), 21);
    EXPECT_EQ(LeI32(h, at + 4), 44);
    EXPECT_EQ(LeI32(h, at + 12), s);
    EXPECT_EQ(LeI32(h, at + 20), e.first);
    EXPECT_EQ(LeI32(h, at + 24), e.first + e.records);
    EXPECT_EQ(Le32(h, at + 28), e.start);
    EXPECT_EQ(Le32(h, at + 32), e.end);
    at += 44;
  }

  std::vector<std::uint8_t> d = ReadBytes(dir / "s.dta");
  ASSERT_EQ(d.size(), 5u * 16u);
  EXPECT_EQ(LeF32(d, 0), 0.0f);
  EXPECT_EQ(LeF32(d, 4), 1.5f);
  EXPECT_EQ(LeF64(d, 8), -99999999.0);
  EXPECT_EQ(LeF32(d, 48), 2.0f);  // seconds count from the first record of the file
  EXPECT_EQ(LeF64(d, 56), 12345.5);
}

TEST(StiegeleMdf, MillisecondsDatesAndGpsColumns) {
  TempFolder dir;
  GpsOutputSettings gps;
  SetGpsText(gps.columns[0].title, "GpsDate");
  SetGpsText(gps.columns[0].unit, "ymd");
  SetGpsText(gps.columns[0].source, "gps.date");
  SetGpsText(gps.columns[1].title, "GpsLon");
  SetGpsText(gps.columns[1].source, "gps.lon");
  GpsOutput out;
  out.Start(gps);
  WriterFixture fx;
  fx.Expression(0, "e", "E");
  fx.Finish(dir / "m.mdf", out.DefinedColumnCount(), true);  // GPS columns first
  fx.setup.gps_formatter = &GpsOutput::FormatCell;
  fx.setup.gps_formatter_context = &out;
  fx.setup.gps_settings = &out.settings();
  fx.setup.time_column1 = TimeColumnKind::kMilliseconds;
  fx.setup.time_column2 = TimeColumnKind::kDateTimeFraction;
  StiegeleMdfWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  EXPECT_EQ(w.state().record_size, 4 + 4 + 4 + 8 + 4);
  const int g = fx.setup.layout.gps_first;
  fx.SetFloat(g + 1, 11.5);
  EXPECT_EQ(w.WriteRow(Row(100.0)), kRowWritten);
  fx.SetFloat(g, kS);
  EXPECT_EQ(w.WriteRow(Row(100.25)), kRowWritten);
  EXPECT_EQ(w.WriteRow(Row(100.5)), kRowWritten);
  EXPECT_EQ(w.WriteRow(Row(101.0, true)), kRowWritten);  // new section: milliseconds restart
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);

  std::vector<std::uint8_t> h = ReadBytes(dir / "m.mdf");
  EXPECT_EQ(FieldText(h, 72 + 16, 64), "Time");
  EXPECT_EQ(FieldText(h, 72 + 144, 32), "ms");
  EXPECT_EQ(FieldText(h, 72 + 208 + 16, 64), "Time2");
  EXPECT_EQ(FieldText(h, 72 + 208 + 144, 32), "ymdhms");
  EXPECT_EQ(LeI32(h, 72 + 208 + 176), 271);
  EXPECT_EQ(FieldText(h, 72 + 2 * 208 + 16, 64), "GpsDate");
  EXPECT_EQ(LeI32(h, 72 + 2 * 208 + 176), 271);
  EXPECT_EQ(LeI32(h, 72 + 3 * 208 + 176), 10);
  EXPECT_EQ(FieldText(h, 72 + 4 * 208 + 16, 64), "E");

  std::vector<std::uint8_t> d = ReadBytes(dir / "m.dta");
  ASSERT_EQ(d.size(), 4u * 24u);
  EXPECT_EQ(LeF32(d, 0), 0.0f);
  EXPECT_EQ(Le32(d, 4), 0x96A68143u);
  EXPECT_EQ(Le32(d, 8), 0u);  // GPS date not valid yet
  EXPECT_EQ(LeF64(d, 12), 11.5);
  EXPECT_EQ(LeF32(d, 20), -99999999.0f);  // expression without a value
  EXPECT_EQ(LeF32(d, 24), 250.0f);
  EXPECT_EQ(Le32(d, 24 + 8), 0x96A68143u);
  EXPECT_EQ(LeF32(d, 72), 0.0f);  // first record of the second section
  EXPECT_EQ(Le32(d, 72 + 4), 0x96A68144u);
}

TEST(StiegeleMdf, FailuresAndNoChannels) {
  TempFolder dir;
  WriterFixture fx;
  fx.Finish(dir / "none.mdf");
  StiegeleMdfWriter w;
  EXPECT_EQ(w.Create(fx.setup), 0);
  EXPECT_EQ(w.error_text(), "Could not create header file (no channels)");
  EXPECT_EQ(w.WriteRow(Row(0)), kRowFailed);
  EXPECT_EQ(w.error_text(), "Cannot write DATA file (not opened)");

  fx.Signal(0, "A", "", 8);
  fx.Finish("/nonexistent-folder/x.mdf");
  StiegeleMdfWriter bad;
  EXPECT_EQ(bad.Create(fx.setup), 0);
  EXPECT_EQ(bad.error_text(), "Could not create header file (create error)");

  if (!std::filesystem::exists("/dev/full")) return;
  std::filesystem::create_symlink("/dev/full", dir / "full.dta");
  fx.Finish(dir / "full.mdf");
  StiegeleMdfWriter full;
  ASSERT_EQ(full.Create(fx.setup), 1);
  bool failed = false;
  for (int i = 0; i < 40000 && !failed; ++i) failed = full.WriteRow(Row(i)) == kRowFailed;
  EXPECT_TRUE(failed);
  // The messages name the data file that failed, not the header file.
  EXPECT_NE(full.WriteFailureMessage(dir / "full.mdf").find((dir / "full.dta").string() + "\""),
            std::string::npos);
  EXPECT_EQ(full.Finish(WriterFinish{}), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "full.mdf"));

  std::filesystem::create_directory(dir / "folder.dta");
  fx.Finish(dir / "folder.mdf");
  StiegeleMdfWriter no_data;
  EXPECT_EQ(no_data.Create(fx.setup), 0);
  EXPECT_NE(no_data.CreateFailureMessage(dir / "folder.mdf").find((dir / "folder.dta").string()),
            std::string::npos);
}

}  // namespace
}  // namespace tessmar
