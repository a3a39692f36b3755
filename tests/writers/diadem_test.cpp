#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/message_output.h"
#include "tests/writers/writer_fixture.h"
#include "writers/diadem_writer.h"
#include "writers/writer_common.h"

namespace tessmar {
namespace {

using test::LeF64;
using test::LeI32;
using test::ReadBytes;
using test::ReadText;
using test::TempFolder;
using test::WriterFixture;

const std::filesystem::path kGolden = std::filesystem::path(TESSMAR_TEST_DATA_DIR) / "writers";

// The golden headers carry BUILD_DATE where the header names the program's build date (the
// library's, not this file's: the two may be compiled on different days).
std::string GoldenHeader(const char* name) {
  std::string text = ReadText(kGolden / name);
  const std::string mark = "BUILD_DATE";
  text.replace(text.find(mark), mark.size(), ProgramBuildDate());
  return text;
}

WriterRow Row(double t, double base = 0) {
  WriterRow row;
  row.time = t;
  row.time_base = base;
  row.elapsed = t;
  return row;
}

// ---- Golden files
// --------------------------------------------------------------------------------

TEST(Diadem, Int32WithImplicitTimeMatchesGoldenFiles) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "Speed", "km/h", 32, 'U', 0.01, 0);
  fx.Signal(1, "Temp", "", 8, 'S', 1, -40);
  fx.Finish(dir / "run1.dat");
  fx.setup.time_column1 = TimeColumnKind::kImplicit;
  fx.setup.invalid_value = "2147483646";
  DiademWriter w(kDiademInt32);
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  EXPECT_EQ(w.state().channel_count, 2);

  const double base = test::kStart20171019 - 1.0;  // the first row is at the start date
  fx.Set(fx.SignalColumn(0), 50.0, 5000);
  fx.Set(fx.SignalColumn(1), 20, 60);
  EXPECT_EQ(w.WriteRow(Row(1.0, base)), kRowWritten);
  fx.Set(fx.SignalColumn(0), 5e7, 5000000000);
  fx.Invalidate(fx.SignalColumn(1));
  EXPECT_EQ(w.WriteRow(Row(1.01, base)), kRowWritten);
  fx.Set(fx.SignalColumn(0), -5e7, -5000000000);
  fx.Set(fx.SignalColumn(1), 21, 61);
  EXPECT_EQ(w.WriteRow(Row(1.02, base)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{3, false, false}), 1) << w.error_text();

  EXPECT_EQ(ReadBytes(dir / "run1.i32"), ReadBytes(kGolden / "diadem_int32_data.i32"));
  EXPECT_EQ(ReadText(dir / "run1.dat"), GoldenHeader("diadem_int32_header.dat"));
  EXPECT_EQ(w.ShownOutputPath(dir / "run1.dat"), (dir / "run1.dat").string() + "+.i32");
}

// Rows that leave the fixed interval of an implicit time channel (the grid started again after a
// gap) are counted, and the header's finish says so; an explicit time channel holds them.
TEST(Diadem, ImplicitTimeWarnsAboutGapsInTheRows) {
  for (TimeColumnKind kind : {TimeColumnKind::kImplicit, TimeColumnKind::kSeconds}) {
    TempFolder dir;
    WriterFixture fx;
    fx.Signal(0, "Speed", "km/h", 16, 'U', 1, 0);
    fx.Finish(dir / "gaps.dat");
    fx.setup.time_column2 = kind;
    DiademWriter w(kDiademReal64);
    ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
    fx.Set(fx.SignalColumn(0), 1, 1);
    MessageCapture capture;
    for (double t : {1.0, 1.01, 1.02, 2.5, 2.51, 7.25}) {
      ASSERT_EQ(w.WriteRow(Row(t)), kRowWritten);
    }
    ASSERT_EQ(w.Finish(WriterFinish{6, false, false}), 1) << w.error_text();
    EXPECT_EQ(capture.Contains("DIAdem: the header gives the rows one fixed interval of 0.01 s "
                               "(implicit time), but the row grid started again after 2 gaps in "
                               "the timestamps, so DIAdem shows wrong times from the first gap "
                               "on. For each row's true time choose an explicit time channel: "
                               "\"Seconds\" for time channel #2 (--time2 seconds)."),
              kind == TimeColumnKind::kImplicit);
    EXPECT_EQ(capture.CountAtLeast(kMsgWarning), kind == TimeColumnKind::kImplicit ? 1 : 0);
  }
}

TEST(Diadem, AsciiWithTwoExplicitTimesMatchesGoldenFiles) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "Volt", "V", 12, 'U', 0.25);
  fx.Expression(0, "a*2", "");
  fx.Finish(dir / "asc1.dat");
  fx.setup.time_column1 = TimeColumnKind::kSeconds;
  fx.setup.time_column2 = TimeColumnKind::kMilliseconds;
  fx.setup.invalid_value = "9.9E+34";
  DiademWriter w(kDiademAscii);
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  const double base = test::kStart20171019 - 10.0;  // the first row is at the start date
  fx.Set(fx.SignalColumn(0), 12.5, 50);
  EXPECT_EQ(w.WriteRow(Row(10.0, base)), kRowWritten);
  fx.Set(fx.SignalColumn(0), 12.75, 51);
  fx.SetFloat(fx.ExpressionColumn(0), 3);
  EXPECT_EQ(w.WriteRow(Row(10.01, base)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{2, false, false}), 1);

  EXPECT_EQ(ReadText(dir / "asc1.asc"), ReadText(kGolden / "diadem_ascii_data.asc"));
  EXPECT_EQ(ReadText(dir / "asc1.dat"), GoldenHeader("diadem_ascii_header.dat"));
}

// ---- Header rules
// --------------------------------------------------------------------------------

// Lines of a header that belong to the channel block titled "200,<name>".
std::string Block(const std::string& header, const std::string& name) {
  std::size_t at = header.find("\r\n200," + name + "\r\n");
  if (at == std::string::npos) return {};
  return header.substr(at, header.find("#ENDCHANNELHEADER", at) - at);
}

TEST(Diadem, ChannelOneCarriesLine221InAsciiMode) {
  TempFolder dir;
  struct Case {
    TimeColumnKind time1;
    const char* block;  // the block that must hold "221,1", nullptr for none
  } cases[] = {{TimeColumnKind::kSeconds, "Time"},
               {TimeColumnKind::kOff, "A"},
               {TimeColumnKind::kImplicit, nullptr}};
  for (const Case& c : cases) {
    WriterFixture fx;
    fx.Signal(0, "A", "", 8);
    fx.Signal(1, "B", "", 8);
    fx.Finish(dir / "h.dat");
    fx.setup.time_column1 = c.time1;
    DiademWriter w(kDiademAscii);
    ASSERT_EQ(w.Create(fx.setup), 1);
    ASSERT_EQ(w.Finish(WriterFinish{}), 1);
    std::string header = ReadText(dir / "h.dat");
    std::size_t count = 0;
    for (std::size_t at = header.find("\r\n221,"); at != std::string::npos;
         at = header.find("\r\n221,", at + 1)) {
      ++count;
    }
    EXPECT_EQ(count, c.block ? 1u : 0u);
    if (c.block) {
      EXPECT_NE(Block(header, c.block).find("\r\n221,1\r\n"), std::string::npos);
    }
    // With an implicit time channel the signals are channels 2 and 3 but columns 1 and 2.
    if (c.time1 == TimeColumnKind::kImplicit) {
      EXPECT_NE(Block(header, "A").find("\r\n223,1\r\n"), std::string::npos);
      EXPECT_NE(Block(header, "B").find("\r\n223,2\r\n"), std::string::npos);
    }
  }
}

TEST(Diadem, DateTimeChannelsAndReal64Values) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "r.dat");
  fx.setup.time_column1 = TimeColumnKind::kDateTime;
  fx.setup.time_column2 = TimeColumnKind::kSeconds;
  DiademWriter w(kDiademReal64);
  ASSERT_EQ(w.Create(fx.setup), 1);
  const double base = test::kStart20171019 - 5.0;  // row time 5.0 is the start date
  fx.Set(fx.SignalColumn(0), 1.5, 3);
  EXPECT_EQ(w.WriteRow(Row(5.0, base)), kRowWritten);
  fx.Invalidate(fx.SignalColumn(0));
  EXPECT_EQ(w.WriteRow(Row(7.5, base)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);

  std::vector<std::uint8_t> b = ReadBytes(dir / "r.r64");
  ASSERT_EQ(b.size(), 2u * 3u * 8u);
  EXPECT_EQ(LeF64(b, 0), 0.0);  // date channel: seconds from the start date
  EXPECT_EQ(LeF64(b, 8), 0.0);  // seconds channel: from the first row
  EXPECT_EQ(LeF64(b, 16), 1.5);
  EXPECT_EQ(LeF64(b, 24), 2.5);
  EXPECT_EQ(LeF64(b, 32), 2.5);
  EXPECT_EQ(LeF64(b, 40), 9.9e34);
  std::string header = ReadText(dir / "r.dat");
  EXPECT_NE(header.find("\r\n111,9.9E+34\r\n"), std::string::npos);
  std::string date = Block(header, "Time");
  EXPECT_NE(date.find("\r\n202,Date\r\n"), std::string::npos);
  EXPECT_NE(date.find("\r\n240,63675533103\r\n"), std::string::npos) << date;
  EXPECT_NE(date.find("\r\n260,Time\r\n"), std::string::npos);
  EXPECT_NE(Block(header, "Time2").find("\r\n260,Numeric\r\n"), std::string::npos);
}

TEST(Diadem, Int32TimeChannelsAndAsciiDateText) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "t.dat");
  fx.setup.time_column1 = TimeColumnKind::kMilliseconds;
  fx.setup.time_column2 = TimeColumnKind::kDateTimeFraction;
  DiademWriter w(kDiademInt32);
  ASSERT_EQ(w.Create(fx.setup), 1);
  // The first row lies half a second after a whole second: the start date is that second, and
  // the date channel counts from it.
  const double base = test::kStart20171019 - 1.5;
  EXPECT_EQ(w.WriteRow(Row(2.0, base)), kRowWritten);
  EXPECT_EQ(w.WriteRow(Row(2.25, base)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);
  std::vector<std::uint8_t> b = ReadBytes(dir / "t.i32");
  ASSERT_EQ(b.size(), 2u * 3u * 4u);
  EXPECT_EQ(LeI32(b, 0), 0);
  EXPECT_EQ(LeI32(b, 4), 5);  // 0.5 s after the start date, in 0.1 s
  EXPECT_EQ(LeI32(b, 8), 2147483646);
  EXPECT_EQ(LeI32(b, 12), 2500);  // 250 ms in 0.1 ms steps
  EXPECT_EQ(LeI32(b, 16), 7);
  std::string header = ReadText(dir / "t.dat");
  std::string ms = Block(header, "Time");
  EXPECT_NE(ms.find("\r\n202,ms\r\n"), std::string::npos);
  EXPECT_NE(ms.find("\r\n241,0.1\r\n"), std::string::npos);
  std::string date = Block(header, "Time2");
  EXPECT_NE(date.find("\r\n240,63675533103\r\n"), std::string::npos) << date;
  EXPECT_NE(date.find("\r\n241,0.1\r\n"), std::string::npos);

  WriterFixture ax;
  ax.Signal(0, "A", "", 8);
  ax.Finish(dir / "d.dat");
  ax.setup.time_column1 = TimeColumnKind::kDateTimeFraction;
  DiademWriter a(kDiademAscii);
  ASSERT_EQ(a.Create(ax.setup), 1);
  EXPECT_EQ(a.WriteRow(Row(1.99, test::kStart20171019)), kRowWritten);
  ASSERT_EQ(a.Finish(WriterFinish{}), 1);
  EXPECT_EQ(ReadText(dir / "d.asc"), "2017-10-19 08:05:04,-99999999\r\n");
}

// DIAdem scales INT32 values with the header's factor and offset: they keep every digit.
TEST(Diadem, Int32HeaderKeepsFactorAndOffsetExact) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "Odo", "km", 32, 'U', 1234567.89, 52.123456);
  fx.Signal(1, "Mask", "", 32, 'U', 1e-7, 1234570);
  fx.Finish(dir / "x.dat");
  DiademWriter w(kDiademInt32);
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  EXPECT_EQ(w.WriteRow(Row(1.0)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();
  const std::string header = ReadText(dir / "x.dat");
  const std::string odo = Block(header, "Odo");
  EXPECT_NE(odo.find("\r\n240,52.123456\r\n241,1234567.89\r\n"), std::string::npos) << odo;
  const std::string mask = Block(header, "Mask");
  EXPECT_NE(mask.find("\r\n240,1.23457e+06\r\n241,1e-07\r\n"), std::string::npos) << mask;
}

TEST(Diadem, Int32TimeChannelsKeepWholeStepsOfSummedRowTimes) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "s.dat");
  fx.setup.time_column1 = TimeColumnKind::kSeconds;
  fx.setup.time_column2 = TimeColumnKind::kMilliseconds;
  DiademWriter w(kDiademInt32);
  ASSERT_EQ(w.Create(fx.setup), 1);
  // The driver adds the write interval row by row; 0.1 summed up is not exact in binary.
  double t = 0.0;
  for (int k = 0; k < 100; ++k, t += 0.1) ASSERT_EQ(w.WriteRow(Row(t, 0.0)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);
  std::vector<std::uint8_t> b = ReadBytes(dir / "s.i32");
  ASSERT_EQ(b.size(), 100u * 3u * 4u);
  for (int k = 0; k < 100; ++k) {
    EXPECT_EQ(LeI32(b, static_cast<std::size_t>(k) * 12), k * 10) << "row " << k;
    EXPECT_EQ(LeI32(b, static_cast<std::size_t>(k) * 12 + 4), k * 1000) << "row " << k;
  }
}

// ---- Refusals, names and failures ------------------------------------------------------------

TEST(Diadem, GpsColumnsAreRefused) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "g.dat", 2);
  DiademWriter w(kDiademReal64);
  EXPECT_EQ(w.Create(fx.setup), 0);
  EXPECT_EQ(w.error_text(), "Export of GPS data not supported");
  EXPECT_EQ(w.state().channel_count, 3);  // counted before refusing
  EXPECT_FALSE(std::filesystem::exists(dir / "g.r64"));
}

TEST(Diadem, AbsentSlotsNamesWithoutDotAndCombinedSources) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Signal(1, "Ghost", "", 8);
  fx.sigs[1].id = kCanIdFree;  // a name but no message: not present
  fx.Signal(2, "C", "", 8);
  fx.Finish(dir / "noext");
  DiademWriter w(kDiademAscii);
  ASSERT_EQ(w.Create(fx.setup), 1);
  EXPECT_EQ(w.state().channel_count, 2);
  fx.Set(fx.SignalColumn(0), 1, 1);
  fx.Set(fx.SignalColumn(2), 3, 3);
  EXPECT_EQ(w.WriteRow(Row(0)), kRowWritten);
  // A second source appended to the same output continues the data file.
  ASSERT_EQ(w.Finish(WriterFinish{1, true, false}), 1);
  fx.setup.appending = true;
  ASSERT_EQ(w.Create(fx.setup), 1);
  EXPECT_EQ(w.WriteRow(Row(1)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{1, false, false}), 1);
  EXPECT_EQ(ReadText(dir / "noext"), "1,3\r\n1,3\r\n");  // no dot: the data file keeps the name
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  fx.setup.appending = false;
  fx.setup.output_path = dir / "two.dat";
  DiademWriter two(kDiademInt32);
  ASSERT_EQ(two.Create(fx.setup), 1);
  EXPECT_EQ(two.WriteRow(Row(0)), kRowWritten);
  ASSERT_EQ(two.Finish(WriterFinish{1, true, false}), 1);
  fx.setup.appending = true;
  ASSERT_EQ(two.Create(fx.setup), 1);
  EXPECT_EQ(two.WriteRow(Row(1)), kRowWritten);
  ASSERT_EQ(two.Finish(WriterFinish{1, false, false}), 1);
  EXPECT_EQ(ReadBytes(dir / "two.i32").size(), 2u * 2u * 4u);
  EXPECT_NE(ReadText(dir / "two.dat").find("\r\n220,2\r\n"), std::string::npos);
  EXPECT_EQ(ReadText(dir / "two.dat").find("Ghost"), std::string::npos);
}

// INT32 holds whole numbers up to 2147483647 either way, 2147483646 being "no value": each column
// with values it could not hold is named once, with their count.
TEST(Diadem, Int32NamesColumnsWithValuesItCannotHold) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "Odometer", "km", 32, 'U', 0.1);
  fx.Signal(1, "Speed", "km/h", 16);
  fx.Expression(0, "Temp-26", "Cooled");
  fx.Finish(dir / "run.dat");
  DiademWriter w(kDiademInt32);
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  MessageCapture capture;
  const std::int64_t odometer[] = {5000000000, 100, 2147483646, -5000000000, 2147483647};
  const double cooled[] = {-25.99991, 20.0, -25.0, 7.5, 1e300};  // the 20 is no value
  for (int i = 0; i < 5; ++i) {
    fx.Set(fx.SignalColumn(0), 0, odometer[i]);
    fx.Set(fx.SignalColumn(1), 0, 70 + i);
    fx.SetFloat(fx.ExpressionColumn(0), cooled[i]);
    if (i == 1) fx.Invalidate(fx.ExpressionColumn(0));
    ASSERT_EQ(w.WriteRow(Row(i * 0.01)), kRowWritten);
  }
  ASSERT_EQ(w.Finish(WriterFinish{5, false, false}), 1) << w.error_text();
  EXPECT_EQ(LeI32(ReadBytes(dir / "run.i32"), 8), -25);
  ASSERT_EQ(capture.CountAtLeast(kMsgWarning), 2);
  EXPECT_TRUE(capture.Contains(
      "Column \"Odometer\": 3 of 5 values do not fit DIAdem INT32 (whole numbers up to "
      "2147483647 either way) and were written clipped or without their fraction; \"DIAdem, "
      "REAL64\" holds them."));
  EXPECT_TRUE(capture.Contains("Column \"Cooled\": 3 of 4 values"));
}

TEST(Diadem, WriteFailureLeavesNoHeader) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempFolder dir;
  std::filesystem::create_symlink("/dev/full", dir / "full.r64");
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "full.dat");
  DiademWriter w(kDiademReal64);
  ASSERT_EQ(w.Create(fx.setup), 1);
  bool failed = false;
  for (int i = 0; i < 20000 && !failed; ++i) failed = w.WriteRow(Row(i * 0.01)) == kRowFailed;
  EXPECT_TRUE(failed);
  EXPECT_EQ(w.Finish(WriterFinish{}), 0);
  EXPECT_EQ(w.error_text().rfind("Could not write output file (", 0), 0u) << w.error_text();
  // The message names the data file that failed, not the header path.
  EXPECT_NE(w.WriteFailureMessage(dir / "full.dat").find((dir / "full.r64").string() + "\""),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "full.dat"));

  WriterFixture bad;
  bad.Signal(0, "A", "", 8);
  bad.Finish("/nonexistent-folder/x.dat");
  DiademWriter none(kDiademAscii);
  EXPECT_EQ(none.Create(bad.setup), 0);
  EXPECT_EQ(none.error_text(), "Could not create data file (create error)");
  EXPECT_EQ(none.CreateFailureMessage("/nonexistent-folder/x.dat"),
            std::string("DIAdem export error: Could not create data file "
                        "\"/nonexistent-folder/x.asc\" (create error: ") +
                std::strerror(ENOENT) + ") !");
}

}  // namespace
}  // namespace tessmar
