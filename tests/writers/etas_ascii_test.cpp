#include <gtest/gtest.h>

#include "common/message_output.h"
#include "tests/writers/writer_fixture.h"
#include "writers/etas_ascii_writer.h"

namespace tessmar {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriterFixture;

const std::filesystem::path kGolden = std::filesystem::path(TESSMAR_TEST_DATA_DIR) / "writers";

WriterRow Row(double t) {
  WriterRow row;
  row.time = t;
  row.time_base = 1e9;  // not used by this format
  row.elapsed = t;
  row.pretrigger = true;
  return row;
}

// Doubles and expressions get "f8" columns and keep their digits; the text value of an expression
// cannot be held and is written as the invalid value, with one warning.
TEST(EtasAscii, SignalsDoublesAndExpressionsMatchGoldenFile) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "Gear", "", 8, 'U');
  fx.Signal(1, "Current", "A", 32, 'S', 0.1);
  fx.Signal(2, "Ratio", "", 64, 'D');
  fx.Expression(0, "x", "X");
  fx.Finish(dir / "e.ascii");
  EtasAsciiWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  fx.Set(fx.SignalColumn(0), 2, 2);
  fx.Set(fx.SignalColumn(1), -12.5, -125);
  fx.SetFloat(fx.SignalColumn(2), 0.1234567890123);
  fx.SetFloat(fx.ExpressionColumn(0), 1508416496.78);
  EXPECT_EQ(w.WriteRow(Row(5.0)), kRowWritten);
  fx.Set(fx.SignalColumn(0), 3, 3);
  fx.Invalidate(fx.SignalColumn(1));
  ChannelValue& x = fx.channels[static_cast<std::size_t>(fx.ExpressionColumn(0))];
  x.scaled = -73.598236f;  // an expression entry: single precision, written with its own digits
  x.value_type = kChannelTypeFloat32;
  EXPECT_EQ(w.WriteRow(Row(5.01)), kRowWritten);
  fx.Set(fx.SignalColumn(0), 4, 4);
  fx.Set(fx.SignalColumn(1), 1e6, 10000000);
  x.value_type = kChannelTypeText;
  x.text = "on";
  MessageCapture messages;
  EXPECT_EQ(w.WriteRow(Row(5.02)), kRowWritten);
  EXPECT_EQ(w.WriteRow(Row(5.03)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();
  EXPECT_EQ(ReadText(dir / "e.ascii"), ReadText(kGolden / "etas_columns.ascii"));
  ASSERT_EQ(messages.entries().size(), 1u);
  EXPECT_EQ(messages.entries()[0].severity, kMsgWarning);
  EXPECT_EQ(messages.entries()[0].text,
            "Warning: ETAS ASCII holds numbers only; text values of \"X\" are written as the "
            "invalid value.");
}

// A column is "f8" when a float cannot hold its values at the signal's resolution: raw values
// beyond 2^24, 64-bit signals, scaled values of 2^23 steps or more (a large offset too).
TEST(EtasAscii, DoubleColumnsWhereAFloatLosesValues) {
  TempFolder dir;
  WriterFixture fx;
  const char types[] = {'U', 'U', 'U', 'U', 'S', 'S', 'U', 'U', 'S', 'F'};
  const int bits[] = {8, 24, 32, 32, 25, 26, 23, 16, 64, 32};
  const double factors[] = {1, 1, 1, 0.1, 1, 1, 0.1, 1, 1, 1};
  for (int s = 0; s < 10; ++s) {
    fx.Signal(s, ("S" + std::to_string(s)).c_str(), "", bits[s], types[s], factors[s],
              s == 7 ? 1.7e9 : 0);
  }
  fx.Finish(dir / "t.ascii");
  EtasAsciiWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  fx.Set(fx.SignalColumn(2), 4294967295.0, 4294967295);      // a mask
  fx.Set(fx.SignalColumn(3), 4294967295 * 0.1, 4294967295);  // an odometer
  fx.Set(fx.SignalColumn(6), 8388607 * 0.1, 8388607);        // "f4", but more than 6 digits
  EXPECT_EQ(w.WriteRow(Row(0)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();
  const std::string text = ReadText(dir / "t.ascii");
  EXPECT_NE(text.find("\r\nf8\tf4\tf4\tf8\tf8\tf4\tf8\tf4\tf8\tf8\tf4\t\r\n"), std::string::npos);
  EXPECT_NE(text.find("\t4294967295\t429496729.5\t-99999999\t-99999999\t838860.7\t"),
            std::string::npos);
}

TEST(EtasAscii, GpsColumnsFirstWhenSoLaidOutAndSignalsBeyond160Reported) {
  TempFolder dir;
  WriterFixture fx;
  for (int slot = 0; slot < 162; ++slot) {
    fx.Signal(slot, ("S" + std::to_string(slot)).c_str(), "", 8);
  }
  fx.Finish(dir / "g.ascii", 1, true);
  MessageCapture messages;
  EtasAsciiWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  fx.SetFloat(fx.setup.layout.gps_first, 48.508333333);
  EXPECT_EQ(w.WriteRow(Row(0)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);
  const std::string text = ReadText(dir / "g.ascii");
  EXPECT_NE(text.find("\tS159\t\r\nf8\tf8\tf4\t"), std::string::npos);
  EXPECT_NE(text.find("\r\n0.0000\t48.508333333\t-99999999\t"), std::string::npos);
  EXPECT_TRUE(
      messages.Contains("Warning: ETAS ASCII output holds at most 160 signal columns; 2 "
                        "further signal(s) are not written."));
}

TEST(EtasAscii, SampleCountIsFilledInAtTheEndOnly) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "many.dat");  // the writer names its file .ascii
  EtasAsciiWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1);
  for (int i = 0; i < 1234; ++i) ASSERT_EQ(w.WriteRow(Row(i * 0.01)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);
  std::string text = ReadText(dir / "many.ascii");
  EXPECT_EQ(text.substr(35, 29), "sampleCount\t1234           \r\n");

  EtasAsciiWriter empty;
  fx.setup.output_path = dir / "empty.ascii";
  ASSERT_EQ(empty.Create(fx.setup), 1);
  ASSERT_EQ(empty.Finish(WriterFinish{}), 1);
  EXPECT_EQ(ReadText(dir / "empty.ascii"),
            "ETASAsciiItemFile\trecord\tCrLf\tTab\r\nsampleCount\t0              \r\n"
            "time\tA\t\r\nf8\tf4\t\r\n");
}

TEST(EtasAscii, InvalidValueMustBeNumeric) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish(dir / "n.ascii");
  for (const char* text : {"n/a", "+1", " 0"}) {
    fx.setup.invalid_value = text;
    EtasAsciiWriter w;
    EXPECT_EQ(w.Create(fx.setup), 0) << text;
    EXPECT_EQ(w.error_text(), "ETAS requires a NUMERIC 'Invalid Value'-dummy !");
  }
  for (const char* text : {"-1", "0", ""}) {
    fx.setup.invalid_value = text;
    EtasAsciiWriter w;
    ASSERT_EQ(w.Create(fx.setup), 1) << text;
    EXPECT_EQ(w.WriteRow(Row(0)), kRowWritten);
    ASSERT_EQ(w.Finish(WriterFinish{}), 1);
    std::string expected = std::string("0.0000\t") + (*text ? text : "0.0") + "\t\r\n";
    std::string file = ReadText(dir / "n.ascii");
    EXPECT_EQ(file.substr(file.size() - expected.size()), expected);
  }
}

TEST(EtasAscii, NamedSlotOutsideTheSignalGroupStaysInvalid) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Signal(5, "Orphan", "", 8);
  fx.sigs[5].id = kCanIdFree;  // named, but no message: beyond the signal group
  fx.Finish(dir / "o.ascii");
  ASSERT_EQ(fx.setup.layout.signal_count, 1);
  EtasAsciiWriter w;
  ASSERT_EQ(w.Create(fx.setup), 1);
  fx.Set(fx.SignalColumn(0), 1, 1);
  EXPECT_EQ(w.WriteRow(Row(0)), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1);
  std::string text = ReadText(dir / "o.ascii");
  EXPECT_NE(text.find("time\tA\tOrphan\t\r\n"), std::string::npos);
  EXPECT_NE(text.find("0.0000\t1\t-99999999\t\r\n"), std::string::npos);
}

TEST(EtasAscii, FailuresKeepTheCountBlank) {
  WriterFixture fx;
  fx.Signal(0, "A", "", 8);
  fx.Finish("/nonexistent-folder/x.ascii");
  EtasAsciiWriter w;
  EXPECT_EQ(w.Create(fx.setup), 0);
  EXPECT_EQ(w.error_text(), "Could not create data file (create error)");
  EXPECT_EQ(w.WriteRow(Row(0)), kRowFailed);
  EXPECT_EQ(w.error_text(), "Cannot write DATA file (not opened)");

  if (!std::filesystem::exists("/dev/full")) return;
  TempFolder dir;
  std::filesystem::create_symlink("/dev/full", dir / "full.ascii");
  fx.setup.output_path = dir / "full.ascii";
  EtasAsciiWriter full;
  ASSERT_EQ(full.Create(fx.setup), 1);
  bool failed = false;
  for (int i = 0; i < 20000 && !failed; ++i) failed = full.WriteRow(Row(i)) == kRowFailed;
  EXPECT_TRUE(failed);
  EXPECT_EQ(full.Finish(WriterFinish{}), 0);
  EXPECT_EQ(full.error_text().rfind("Could not write output file (", 0), 0u);
}

}  // namespace
}  // namespace tessmar
