#include <gtest/gtest.h>

#include <cmath>

#include "tests/writers/mdf_reader.h"
#include "tests/writers/writer_fixture.h"
#include "writers/format_writers.h"
#include "writers/gps_output.h"
#include "writers/vector_mdf_writer.h"

namespace tessmar {
namespace {

using test::FieldText;
using test::Le16;
using test::Le32;
using test::LeF32;
using test::LeF64;
using test::MdfFile;
using test::ReadBytes;
using test::ReadMdf;
using test::TempFolder;
using test::WriterFixture;

// ---- Layout and values
// ---------------------------------------------------------------------------

TEST(VectorMdf, TwoShortAndOneLongSignalReadBackByLinks) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "EngineSpeed", "rpm", 16, 'U', 0.25, 0, 0, 16000);
  fx.Signal(1, "Torque", "Nm", 16, 'S', 1, -500, -500, 500);
  fx.Signal(2, "Odometer", "km", 32, 'U', 0.1, 0, 0, 0);
  fx.Finish(dir / "run1.dat");
  VectorMdfWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  EXPECT_EQ(w.state().channel_count, 4);
  EXPECT_EQ(w.state().record_size, 24);

  fx.Set(fx.SignalColumn(0), 1500.25, 6001);
  fx.Set(fx.SignalColumn(1), -12, 488);
  WriterRow row;
  row.time_base = test::kStart20171019 + 0.5;  // the first record at 08:05:03.5
  row.elapsed = 100.5;
  EXPECT_EQ(w.WriteRow(row), kRowWritten);
  fx.Set(fx.SignalColumn(2), 123456.7, 1234567);
  row.elapsed = 100.51;
  EXPECT_EQ(w.WriteRow(row), kRowWritten);

  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();

  std::vector<std::uint8_t> b = ReadBytes(dir / "run1.dat");
  MdfFile f = ReadMdf(b);
  EXPECT_EQ(f.id, "MDF     ");
  EXPECT_EQ(f.version, "2.12    ");
  EXPECT_EQ(f.program, "VarEDIdi");
  EXPECT_EQ(f.version_number, 212);
  EXPECT_EQ(f.date, "19:10:2017");
  EXPECT_EQ(f.time, "08:05:03");
  EXPECT_EQ(f.text,
            "This is a TEXT BLOCK. We have no idea if the trailing zero byte (inserted by the C "
            "compiler) will do any harm. If it does, please let us know.");
  EXPECT_EQ(f.data_position, 2446u);
  EXPECT_EQ(f.record_size, 24);
  ASSERT_EQ(f.record_count, 2u);
  ASSERT_EQ(f.channels.size(), 4u);
  const int offsets[] = {0, 64, 96, 128};
  const int types[] = {3, 2, 2, 3};
  const char* names[] = {"Time", "EngineSpeed", "Torque", "Odometer"};
  const char* units[] = {"s", "rpm", "Nm", "km"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(f.channels[i].bit_offset, offsets[i]);
    EXPECT_EQ(f.channels[i].data_type, types[i]);
    EXPECT_EQ(f.channels[i].name, names[i]);
    EXPECT_EQ(f.channels[i].unit, units[i]);
    EXPECT_EQ(f.channels[i].type, i == 0 ? 1 : 0);
    EXPECT_DOUBLE_EQ(f.channels[i].rate, 0.01);
  }
  EXPECT_EQ(f.channels[1].range_valid, 1);
  EXPECT_EQ(f.channels[1].maximum, 16000.0);
  EXPECT_EQ(f.channels[3].range_valid, 0);  // 0 .. 0
  EXPECT_EQ(f.records[0][0], 0.0);
  EXPECT_NEAR(f.records[1][0], 0.01, 1e-12);
  EXPECT_EQ(f.records[0][1], 1500.25f);
  EXPECT_EQ(f.records[0][2], -12.0f);
  EXPECT_EQ(f.records[0][3], -99999999.0);  // not valid yet: the invalid value
  EXPECT_EQ(f.records[1][3], 123456.7);
}

TEST(VectorMdf, HeaderBytesAtTheirPlaces) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "V", 8);
  fx.Expression(0, "x+1", "");
  fx.Finish(dir / "e.dat");
  VectorMdfWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);
  std::vector<std::uint8_t> b = ReadBytes(dir / "e.dat");
  ASSERT_EQ(b.size(), 1310u + 3 * 284u);  // no records: still a valid file
  // ID
  EXPECT_EQ(Le16(b, 24), 0);
  EXPECT_EQ(Le16(b, 26), 0);
  for (int i = 30; i < 64; ++i) EXPECT_EQ(b[static_cast<std::size_t>(i)], 0) << i;
  // HD
  EXPECT_EQ(Le16(b, 64 + 2), 164);
  EXPECT_EQ(Le32(b, 64 + 4), 1256u);
  EXPECT_EQ(Le32(b, 64 + 8), 228u);
  EXPECT_EQ(Le32(b, 64 + 12), 0u);
  EXPECT_EQ(Le16(b, 64 + 16), 1);
  EXPECT_EQ(FieldText(b, 64 + 36, 32), "<Author>");
  EXPECT_EQ(FieldText(b, 64 + 68, 32), "<Organization>");
  EXPECT_EQ(FieldText(b, 64 + 100, 32), "<Project Name>");
  EXPECT_EQ(FieldText(b, 64 + 132, 32), "<Vehicle Identification>");
  // TX, DG, CG
  EXPECT_EQ(Le16(b, 228 + 2), 1028);
  EXPECT_EQ(b[228 + 1027], 0);
  EXPECT_EQ(Le16(b, 1256 + 2), 28);
  EXPECT_EQ(Le32(b, 1256 + 8), 1284u);
  EXPECT_EQ(Le32(b, 1256 + 16), 1310u + 3 * 284u);
  EXPECT_EQ(Le16(b, 1256 + 20), 1);
  EXPECT_EQ(Le16(b, 1284 + 2), 26);
  EXPECT_EQ(Le32(b, 1284 + 8), 1310u);
  EXPECT_EQ(Le16(b, 1284 + 18), 3);
  EXPECT_EQ(Le16(b, 1284 + 20), 16);
  // CN chain and CC links
  EXPECT_EQ(Le32(b, 1310 + 4), 1310u + 284u);
  EXPECT_EQ(Le32(b, 1310 + 8), 1310u + 222u);
  EXPECT_EQ(Le32(b, 1310 + 2 * 284 + 4), 0u);
  EXPECT_EQ(Le16(b, 1310 + 222 + 2), 62);
  EXPECT_EQ(Le16(b, 1310 + 222 + 44), 2);
  // An expression without a result name is named by its text.
  EXPECT_EQ(FieldText(b, 1310 + 2 * 284 + 26, 32), "x+1");
}

TEST(VectorMdf, GpsColumnsByTheirSource) {
  TempFolder dir;
  GpsOutputSettings gps;
  SetGpsText(gps.columns[0].title, "GpsLat");
  SetGpsText(gps.columns[0].source, "GPS.LAT");
  SetGpsText(gps.columns[2].title, "GpsTime");  // column 1 left empty: no gap in the output
  SetGpsText(gps.columns[2].source, "gps.time");
  SetGpsText(gps.columns[3].title, "GpsSpeed");
  SetGpsText(gps.columns[3].unit, "km/h");
  SetGpsText(gps.columns[3].source, "gps.speed");
  GpsOutput out;
  out.Start(gps);

  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "g.dat", out.DefinedColumnCount());
  out.BindChannels(fx.channels.data(), fx.setup.layout);
  fx.setup.gps_formatter = &GpsOutput::FormatCell;
  fx.setup.gps_formatter_context = &out;
  fx.setup.gps_settings = &out.settings();
  VectorMdfWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1);
  const int g = fx.setup.layout.gps_first;
  fx.SetFloat(g, 48.5);
  fx.SetFloat(g + 1, 1508416496.78);  // 2017-10-19 12:34:56.78
  WriterRow row;
  EXPECT_EQ(w.WriteRow(row), kRowWritten);
  fx.Invalidate(g + 1);
  fx.Invalidate(g + 2);
  EXPECT_EQ(w.WriteRow(row), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);

  std::vector<std::uint8_t> b = ReadBytes(dir / "g.dat");
  MdfFile f = ReadMdf(b);
  ASSERT_EQ(f.channels.size(), 5u);
  EXPECT_EQ(f.record_size, 8 + 4 + 8 + 7 + 4);
  EXPECT_EQ(f.channels[2].name, "GpsLat");
  EXPECT_EQ(f.channels[2].data_type, 3);
  EXPECT_EQ(f.channels[3].data_type, 8);
  EXPECT_EQ(f.channels[3].bits, 56);
  EXPECT_EQ(f.channels[4].unit, "km/h");
  EXPECT_EQ(f.records[0][2], 48.5);
  // The 7-byte field: CANopen date of the GPS time, zeros when the time is not valid.
  const std::size_t at = f.data_position + 20;
  const std::uint8_t expected[7] = {0xCC, 0xDD, 34, 12, 19, 10, 17};  // 56780 ms
  for (int i = 0; i < 7; ++i) EXPECT_EQ(b[at + static_cast<std::size_t>(i)], expected[i]) << i;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(b[at + 31 + static_cast<std::size_t>(i)], 0) << i;
  EXPECT_EQ(f.records[1][4], -99999999.0f);
}

TEST(VectorMdf, OnlyTheFirst160ColumnsBecomeChannels) {
  TempFolder dir;
  WriterFixture fx;
  for (int s = 0; s < 200; ++s) fx.Signal(s, ("S" + std::to_string(s)).c_str(), "", 8);
  fx.Finish(dir / "big.dat");
  VectorMdfWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1);
  EXPECT_EQ(w.state().channel_count, 161);
  EXPECT_EQ(w.state().plan.dropped, 40);
  fx.Set(fx.SignalColumn(159), 7, 7);
  EXPECT_EQ(w.WriteRow(WriterRow{}), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);
  MdfFile f = ReadMdf(ReadBytes(dir / "big.dat"));
  ASSERT_EQ(f.channels.size(), 161u);
  EXPECT_EQ(f.channels.back().name, "S159");
  EXPECT_EQ(f.records[0].back(), 7.0f);
}

// ---- Failures ----------------------------------------------------------------------------------

TEST(VectorMdf, WriteFailuresAreReportedAndNeverLookComplete) {
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish("/nonexistent-folder/x.dat");
  VectorMdfWriter w;
  EXPECT_EQ(w.Create(fx.setup), 0);
  EXPECT_EQ(w.error_text(), "Could not create output file (create error)");
  EXPECT_EQ(w.WriteRow(WriterRow{}), kRowFailed);
  EXPECT_EQ(w.error_text(), "Cannot write DATA file (not opened)");
  EXPECT_EQ(w.Finish(WriterFinish{}), 1);  // nothing open: nothing to do
}

TEST(VectorMdf, DiskFullLeavesTheRecordCountZero) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempFolder dir;
  std::filesystem::create_symlink("/dev/full", dir / "full.dat");
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "full.dat");
  VectorMdfWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1);  // the header still sits in the buffer
  bool failed = false;
  for (int i = 0; i < 20000 && !failed; ++i) failed = w.WriteRow(WriterRow{}) == kRowFailed;
  EXPECT_TRUE(failed);
  EXPECT_EQ(w.Finish(WriterFinish{}), 0);
  EXPECT_EQ(w.error_text().rfind("Could not write output file (", 0), 0u) << w.error_text();
}

TEST(VectorMdf, FactoryKnowsTheFormatCodes) {
  EXPECT_NE(dynamic_cast<VectorMdfWriter*>(CreateFormatWriter(kFormatVectorMdf).get()), nullptr);
  EXPECT_NE(CreateFormatWriter(kFormatDiademAscii), nullptr);
  EXPECT_NE(CreateFormatWriter(kFormatDiademInt32), nullptr);
  EXPECT_NE(CreateFormatWriter(kFormatDiademReal64), nullptr);
  EXPECT_NE(CreateFormatWriter(kFormatStiegeleMdf), nullptr);
  EXPECT_NE(CreateFormatWriter(kFormatEtasAscii), nullptr);
  EXPECT_EQ(CreateFormatWriter(kFormatText), nullptr);
  EXPECT_EQ(CreateFormatWriter(10), nullptr);
}

}  // namespace
}  // namespace tessmar
