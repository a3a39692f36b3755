// End-to-end tests of the conversion driver and the built-in text outputs on recordings built
// byte by byte. Expected lines are worked out by hand from the entries of the recording.

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "common/c_locale.h"
#include "common/message_output.h"
#include "convert/conversion_driver.h"
#include "recording_builder.h"
#include "tests/test_observer.h"
#include "writers/text_writers.h"

namespace tessmar {
namespace {

using testing::RecordingBuilder;
using testing::SmallHeader;

class TempFolder {
 public:
  TempFolder() {
    path_ = std::filesystem::temp_directory_path() /
            ("tessmar_convert_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Speed = byte 0 x 0.5, Temp = byte 1 signed. Times at 8192 Hz: 1024 ticks = 0.125 s.
RecordingBuilder SmallRecording() {
  RecordingBuilder r(SmallHeader());
  r.Time(0, 2017, 10, 19, 12, 34, 56)
      .Frame(1024, 0x100, {0x14, 0x05})             // 0.125 s: Speed 10, Temp 5
      .Frame(2048, 0x100, {0x28, 0xF6})             // 0.25 s: Speed 20, Temp -10
      .Expression(3072, 0, 2.75f)                   // within 2 s: carries the time 0.25 s
      .Frame(4096, 0x78FEF100, {0x01, 0x02, 0x03})  // 0.5 s: extended id on bus 2
      .Marker("eof", 4096);
  return r;
}

struct Converted {
  ConversionSummary summary;
  std::string text;
  std::vector<MessageCapture::Entry> messages;
};

Converted Convert(const TempFolder& dir, ConverterOptions options, const std::string& out_name,
                  const RecordingBuilder& recording = SmallRecording()) {
  const auto source = dir / "rec.cld";
  recording.Write(source);
  ConversionRequest request;
  request.sources = {source};
  request.output_dir = dir.path();
  request.options = options;
  MessageCapture capture;
  Converted c;
  c.summary = RunConversion(request);
  // The output is named after the source with the format's extension.
  EXPECT_EQ(MakeOutputPath(dir.path(), source, options.output_file_format), dir / out_name);
  c.text = Slurp(dir / out_name);
  c.messages = capture.entries();
  return c;
}

bool HasMessage(const Converted& c, const std::string& text) {
  for (const auto& m : c.messages) {
    if (m.text.find(text) != std::string::npos) return true;
  }
  return false;
}

// ---- Messages --------------------------------------------------------------------------------

TEST(MessagesOutput, CsvRowsOfFramesAndExpressions) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatCsvInternational;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.headlines = 2;
  const Converted c = Convert(dir, o, "rec.csv");
  EXPECT_EQ(c.summary.converted, 1);
  EXPECT_EQ(c.summary.errors, 0);
  EXPECT_EQ(c.text,
            "Time_second,CanIdentif,d0,d1,d2,d3,d4,d5,d6,d7\r\n"
            "sec,,d0,d1,d2,d3,d4,d5,d6,d7\r\n"
            "000000.0000,0x00000100,14,05,,,,,,\r\n"
            "000000.1250,0x00000100,28,F6,,,,,,\r\n"
            "000000.1250,; EXPR: Speed*2       = 2.75\r\n"
            "000000.3750,0x78FEF100,01,02,03,,,,,\r\n");
  EXPECT_TRUE(HasMessage(c, "complete, 4 sample points written."));
  EXPECT_TRUE(HasMessage(c, "1 file  converted, 0 conversion errors. "));
}

TEST(MessagesOutput, TextWithMillisecondsAndDateBlankSeparator) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatText;
  o.time_column1 = TimeColumnKind::kMilliseconds;
  o.time_column2 = TimeColumnKind::kDateTime;
  o.headlines = 1;
  const Converted c = Convert(dir, o, "rec.txt");
  std::istringstream lines(c.text);
  std::string head, first;
  std::getline(lines, head);
  std::getline(lines, first);
  EXPECT_EQ(head, "Millisecond YYYY-MM-DD_hh:mm:ss CanIdentif d0 d1 d2 d3 d4 d5 d6 d7\r");
  EXPECT_EQ(first, "000000000.0 2017-10-19_12:34:56 0x00000100 14 05      \r");
}

TEST(VectorAscii, HeaderAndFrameLines) {
  TempFolder dir;
  ConverterOptions o;
  o.output_file_format = kFormatVectorAscii;
  const Converted c = Convert(dir, o, "rec.asc");
  EXPECT_EQ(c.summary.errors, 0);
  EXPECT_EQ(c.text,
            "date Don Okt 19 12:34:56 2017\r\n"
            "base hex  timestamps absolute\r\n"
            "internal events logged\r\n"
            "   0.1250 1  100             Rx   d 2 14 05\r\n"
            "   0.2500 1  100             Rx   d 2 28 F6\r\n"
            "   0.5000 2  18FEF100x       Rx   d 3 01 02 03\r\n");
}

TEST(VectorAscii, LineLayoutOfExtendedBus2Frame) {
  char line[128];
  const std::uint8_t data[3] = {0xAA, 0x0B, 0xFF};
  numfmt::RowSeconds seconds(4, ' ');
  const std::size_t n = FormatVectorAsciiLine(line, 0.1234, 0x78FEF100, 3, data, seconds);
  EXPECT_EQ(std::string(line, n), "   0.1234 2  18FEF100x       Rx   d 3 AA 0B FF");
  EXPECT_EQ(std::string(line).find("Rx"), 29u);
  // The time column is "%9.4lf", blank-padded, whatever its size or sign.
  for (double t : {0.0, 0.00004, 0.00005, 9.87654, 999.99995, 9999.99994, 9999.99996, 12345.6789,
                   1234567.125, -1.5, -1234.56789, 4.9e-324}) {
    char expect[64];
    SnprintfC(expect, sizeof expect, "%9.4f ", t);
    const std::string text(line, FormatVectorAsciiLine(line, t, 0x100, 0, data, seconds));
    EXPECT_EQ(text.substr(0, std::strlen(expect)), expect) << t;
  }
}

// ---- Signals ---------------------------------------------------------------------------------

TEST(SignalsOutput, SemicolonGermanGridSampleAndHold) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatSemicolonCsvGerman;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.headlines = 3;
  o.write_interval = "0.125";
  const Converted c = Convert(dir, o, "rec.csv");
  EXPECT_EQ(c.summary.errors, 0);
  // The first value arrives at 0.125 s; the grid starts at the next multiple, 0.25 s. Its row
  // holds both entries of that tick, the frame and the expression.
  EXPECT_EQ(c.text,
            "time_sec;Speed;Temp;Twice\r\n"
            "sec;km/h;degC;calculated\r\n"
            "unit test\r\n"
            "0,0000;20;-10;2,75\r\n"
            "0,1250;20;-10;2,75\r\n"
            "0,2500;20;-10;2,75\r\n");
}

TEST(SignalsOutput, CommaCommaQuotesEveryCellAndRawIsSigned) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatCsvGerman;
  o.column_separator = ColumnSeparator::kComma;
  o.decimal_separator = DecimalSeparator::kComma;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.headlines = 1;
  o.write_interval = "0.125";
  o.scaled_values = false;
  o.invalid_signal = "n/a";
  const Converted c = Convert(dir, o, "rec.csv");
  EXPECT_EQ(c.summary.errors, 0);
  std::istringstream lines(c.text);
  std::string head, first;
  std::getline(lines, head);
  std::getline(lines, first);
  EXPECT_EQ(head, "\"time_sec\",\"Speed\",\"Temp\",\"Twice\"\r");
  EXPECT_EQ(first, "\"0,0000\",\"40\",\"-10\",\"2\"\r");
}

TEST(SignalsOutput, SkipUntilAllChannelsValid) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatCsvInternational;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.headlines = 0;
  o.write_interval = "0.125";
  o.skip_until_all_valid = true;
  const Converted c = Convert(dir, o, "rec.csv");
  // Only from the expression entry on (0.25 s) is every column valid; the grid restarts there
  // and writes its first row at the next multiple, 0.375 s.
  EXPECT_EQ(c.text, "0.0000,20,-10,2.75\r\n0.1250,20,-10,2.75\r\n");
  EXPECT_TRUE(HasMessage(c,
                         "Reached the point where 'all channels are valid' at ta=2017-10-19 "
                         "12:34:56.25"));
  EXPECT_TRUE(HasMessage(c, "            Channel 'Twice' was the last to become valid."));
}

TEST(SignalsOutput, NoSignalDefinitionsFailsInBatch) {
  TempFolder dir;
  RecordingBuilder r("[CanLoggerConfig]\r\nTimestampFreq=8192\r\n");
  r.Time(0, 2017, 10, 19, 12, 34, 56).Frame(1024, 0x100, {1});
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  SetBatchMode(true);
  const Converted c = Convert(dir, o, "rec.txt", r);
  SetBatchMode(false);
  EXPECT_EQ(c.summary.converted, 0);
  EXPECT_GE(c.summary.errors, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "rec.txt"));
}

// With the user's signals in place of the recording's, the message names where they came from.
TEST(SignalsOutput, NoSignalDefinitionsOfTheUserNamesTheirFile) {
  TempFolder dir;
  RecordingBuilder r(
      "[CanLoggerConfig]\r\nTimestampFreq=8192\r\n"
      "Sig00: id=0x100,sn=\"Speed\",ty=U,fa=1,sb=0,nb=8,bo=I\r\n");
  r.Time(0, 2017, 10, 19, 12, 34, 56).Frame(1024, 0x100, {1});
  r.Write(dir / "rec.cld");
  auto user = std::make_unique<LoggerConfiguration>();
  ConversionRequest request;
  request.sources = {dir / "rec.cld"};
  request.options.output_type = OutputType::kSignals;
  request.options.ignore_logged_sigdefs = true;
  request.user_config = user.get();
  request.user_signals_name = "The logger configuration \"u.clc\"";
  MessageCapture capture;
  SetBatchMode(true);
  (void)RunConversion(request);
  SetBatchMode(false);
  EXPECT_TRUE(
      capture.Contains("Error: The logger configuration \"u.clc\" contains no signal "
                       "definitions (used instead of those of \"" +
                       (dir / "rec.cld").string() + "\"); nothing converted ."));
}

// ---- Logfile Dump ----------------------------------------------------------------------------

TEST(LogfileDump, EntryLines) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kLogfileDump;
  o.output_file_format = kFormatText;
  const Converted c = Convert(dir, o, "rec.txt");
  EXPECT_EQ(c.summary.errors, 0);
  const std::size_t first = SmallHeader().size() + std::string("[BINARY_LOG_DATA]\r\n").size();
  char pos[16];
  std::snprintf(pos, sizeof pos, "%08zX", first + 16);
  EXPECT_NE(
      c.text.find(std::string(pos) + "  ..000400 CANMESSAGE id=00000100 len=2 data= 14 05\r\n"),
      std::string::npos);
  EXPECT_NE(c.text.find("00000000 TIMESTAMP  StartTimeFromRTC=2017-10-19 12:34:56.00  "
                        "Sum=2017-10-19 12:34:56.00\r\n"),
            std::string::npos);
  EXPECT_NE(c.text.find("00000C00 EXPRESSION idx=0.0  data= 00 00 30 40 FF FF FF FF  "
                        "float[0]=2.75  float[1]=NaN\r\n"),
            std::string::npos);
  EXPECT_NE(c.text.find("00001000 EOF_MARKER\r\n"), std::string::npos);
  EXPECT_NE(c.text.find("; Expression0: ex=\"Speed*2\",na=\"Twice\",mi=0,ma=200\r\n"),
            std::string::npos);
  EXPECT_NE(c.text.find("; TimerFrequency:    8192.00 Hz\r\n"), std::string::npos);
}

// A time entry's date is the clock at that entry, so "Sum=" (the converter's time of the entry)
// agrees with it instead of adding the entry's count once more.
TEST(LogfileDump, TimeEntrySumIsTheTimeOfTheEntry) {
  TempFolder dir;
  RecordingBuilder r(SmallHeader());
  r.Time(0, 2017, 10, 19, 12, 34, 56).Frame(1024, 0x100, {1}).Time(8192, 2017, 10, 19, 12, 34, 57);
  ConverterOptions o;
  o.output_type = OutputType::kLogfileDump;
  const Converted c = Convert(dir, o, "rec.txt", r);
  EXPECT_NE(c.text.find("00002000 TIMESTAMP  StartTimeFromRTC=2017-10-19 12:34:57.00  "
                        "Sum=2017-10-19 12:34:57.00\r\n"),
            std::string::npos)
      << c.text;
}

// ---- Driver rules and bad input --------------------------------------------------------------

TEST(Driver, NameChecks) {
  TempFolder dir;
  const auto source = dir / "rec.cld";
  SmallRecording().Write(source);
  std::ofstream(dir / "rec.xyz") << "x";
  ConversionRequest request;
  request.options.output_type = OutputType::kMessages;
  // The last one's name is too long for the system, and so is the output made from it.
  const std::filesystem::path too_long = dir / (std::string(300, 'x') + ".cld");
  request.sources = {source, dir / "rec.xyz", dir / "noext", dir / "missing.cld", too_long};
  request.output_names = {source, dir / "a.txt", dir / "b.txt", dir / "c.txt"};
  request.output_dir = dir.path();
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.converted, 0);
  EXPECT_EQ(s.errors, 5);
  EXPECT_TRUE(capture.Contains("Error: Name of destination file must be different from source ."));
  EXPECT_TRUE(capture.Contains("Error: Unsupported sourcefile format ."));
  EXPECT_TRUE(capture.Contains("Error: Missing filename extension ."));
  EXPECT_TRUE(capture.Contains("Error: Could not open \"" + (dir / "missing.cld").string() +
                               "\" (" + std::strerror(ENOENT) + ") !"));
  EXPECT_TRUE(capture.Contains("Error: Could not open \"" + too_long.string() + "\" (" +
                               std::strerror(ENAMETOOLONG) + ") !"));
  EXPECT_TRUE(capture.Contains("0 files converted, 5 conversion errors. Please check error log"));
}

TEST(Driver, SeparatorClashRefusedForText) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatText;
  o.column_separator = ColumnSeparator::kComma;
  o.decimal_separator = DecimalSeparator::kComma;
  const Converted c = Convert(dir, o, "rec.txt");
  EXPECT_EQ(c.summary.converted, 0);
  EXPECT_TRUE(HasMessage(c, "Error: Column-separator must be different from decimal-separator ."));
}

TEST(Driver, MissingBinarySectionAndUnwritableOutput) {
  TempFolder dir;
  std::ofstream(dir / "nobin.cld") << "[CanLoggerConfig]\r\nTimestampFreq=8192\r\n";
  SmallRecording().Write(dir / "rec.cld");
  ConversionRequest request;
  request.options.output_type = OutputType::kMessages;
  request.sources = {dir / "nobin.cld", dir / "rec.cld"};
  request.output_names = {dir / "a.txt", dir / "no_such_folder" / "b.txt"};
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.converted, 0);
  EXPECT_TRUE(capture.Contains("Error: Could not locate section BINARY_LOG_DATA ."));
  EXPECT_TRUE(capture.Contains("Error: Could not create \""));
}

// A recording that ends inside its binary header holds no entries: nothing is converted, and
// the header's bytes are not read as frames.
TEST(Driver, RecordingCutInsideItsBinaryHeader) {
  TempFolder dir;
  std::string bytes = SmallHeader() + "[BINARY_LOG_DATA]\r\n";
  bytes.append("BinaryLogfileHeader\r\nSize=512 byte\r\n", 36);
  bytes.append(164, '\0');
  std::ofstream(dir / "cut.cld", std::ios::binary) << bytes;
  ConversionRequest request;
  request.options.output_type = OutputType::kMessages;
  request.sources = {dir / "cut.cld"};
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.converted, 0);
  EXPECT_EQ(s.errors, 1);
  EXPECT_TRUE(capture.Contains("Error: \"" + (dir / "cut.cld").string() +
                               "\" ends inside its header (200 of the 512 bytes of the binary "
                               "header) ."));
  EXPECT_FALSE(std::filesystem::exists(dir / "cut.txt"));
}

TEST(Driver, CombinedSourcesShareOneOutputWithOneHeader) {
  TempFolder dir;
  SmallRecording().Write(dir / "a.cld");
  SmallRecording().Write(dir / "b.cld");
  SmallRecording().Write(dir / "c.cld");
  ConversionRequest request;
  request.options.output_type = OutputType::kMessages;
  request.options.output_file_format = kFormatCsvInternational;
  request.options.time_column1 = TimeColumnKind::kSeconds;
  request.options.combine_output = true;
  request.sources = {dir / "a.cld", dir / "b.cld", dir / "c.cld"};
  request.output_dir = dir.path() / "out";
  std::filesystem::create_directories(request.output_dir);
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.converted, 3);
  EXPECT_EQ(s.errors, 0);
  const std::string text = Slurp(request.output_dir / "a.csv");
  EXPECT_FALSE(std::filesystem::exists(request.output_dir / "b.csv"));
  std::size_t heads = 0, rows = 0;
  for (std::size_t p = 0; (p = text.find("Time_second", p)) != std::string::npos; ++p) ++heads;
  for (std::size_t p = 0; (p = text.find("0x00000100", p)) != std::string::npos; ++p) ++rows;
  EXPECT_EQ(heads, 1u);
  EXPECT_EQ(rows, 6u);
  EXPECT_TRUE(capture.Contains("complete, 4 sample points written."));
}

TEST(Driver, WriteErrorIsReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempFolder dir;
  SmallRecording().Write(dir / "rec.cld");
  ConversionRequest request;
  request.options.output_type = OutputType::kMessages;
  request.sources = {dir / "rec.cld"};
  request.output_names = {"/dev/full"};
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.converted, 0);
  EXPECT_GE(s.errors, 1);
  EXPECT_TRUE(capture.Contains("The output file is incomplete."));
}

}  // namespace
}  // namespace tessmar

namespace tessmar {
namespace {

TEST(Driver, PreviewHooksSeeTheSignalsRows) {
  TempFolder dir;
  SmallRecording().Write(dir / "rec.cld");
  ConversionRequest request;
  request.sources = {dir / "rec.cld"};
  request.output_dir = dir.path();
  request.options.output_type = OutputType::kSignals;
  request.options.write_interval = "0.125";
  int starts = 0;
  std::vector<double> times;
  TestObserver observer;
  observer.source_start = [&](const SourceStart& start) {
    ++starts;
    ASSERT_NE(start.setup, nullptr);
    EXPECT_EQ(start.setup->columns.size(), 3u);
    EXPECT_EQ(start.setup->columns[0].name, "Speed");
    EXPECT_EQ(start.setup->columns[2].unit, "calculated");
    EXPECT_GE(start.expected_points, 6);
    EXPECT_FALSE(start.has_gps);
  };
  observer.signals_row = [&](double t, double, std::span<const ChannelValue> values) {
    times.push_back(t);
    EXPECT_EQ(values.size(), 3u);
  };
  MessageCapture capture;
  (void)RunConversion(request, &observer);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(times, (std::vector<double>{0.25, 0.375, 0.5}));
}

}  // namespace
}  // namespace tessmar

namespace tessmar {
namespace {

TEST(Driver, GapInTimestampsWritesNoFillerRows) {
  TempFolder dir;
  RecordingBuilder r(SmallHeader());
  r.Time(0, 2017, 10, 19, 12, 34, 56)
      .Frame(1024, 0x100, {0x14, 0x05})              // 0.125 s
      .Frame(1024 + 8192 * 20, 0x100, {0x28, 0x05})  // 20.125 s: a gap of 160 intervals
      .Frame(1024 + 8192 * 20 + 1024, 0x100, {0x2A, 0x05})
      .Marker("eof", 1024 + 8192 * 21);
  ConversionRequest request;
  request.sources = {dir / "rec.cld"};
  r.Write(request.sources[0]);
  request.output_dir = dir.path();
  request.options.output_type = OutputType::kSignals;
  request.options.output_file_format = kFormatCsvInternational;
  request.options.time_column1 = TimeColumnKind::kSeconds;
  request.options.headlines = 0;
  request.options.write_interval = "0.125";
  request.verbose = true;
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.errors, 0);
  EXPECT_TRUE(capture.Contains("Warning: GAP in timestamps, filepos=0x"));
  // Rows at 20.125 s (the gap restarts the grid at the frame) and 20.25 s only.
  EXPECT_EQ(Slurp(dir / "rec.csv"), "0.0000,20,5,-99999999\r\n0.1250,21,5,-99999999\r\n");
}

TEST(Driver, UserAbortClosesTheOutput) {
  TempFolder dir;
  SmallRecording().Write(dir / "rec.cld");
  ConversionRequest request;
  request.sources = {dir / "rec.cld", dir / "rec.cld"};
  request.output_dir = dir.path() / "out";
  std::filesystem::create_directories(request.output_dir);
  request.options.output_type = OutputType::kMessages;
  int calls = 0;
  TestObserver observer;
  observer.progress = [&](int, const std::filesystem::path&, int64_t) { return ++calls < 3; };
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request, &observer);
  EXPECT_TRUE(s.aborted);
  EXPECT_EQ(s.converted, 0);
  EXPECT_TRUE(capture.Contains("User abort, output file may be incomplete"));
  // Nothing of the second source was started after the abort.
  EXPECT_FALSE(capture.Contains("Problem: Output file still open"));
  EXPECT_TRUE(std::filesystem::exists(request.output_dir / "rec.txt"));
}

}  // namespace
}  // namespace tessmar

namespace tessmar {
namespace {

// After an abort every recording not converted completely is named: the interrupted one, those
// never started, and those already written into a combined output that is now incomplete.
TEST(Driver, AbortNamesEveryRecordingNotConvertedCompletely) {
  TempFolder dir;
  ConversionRequest request;
  for (const char* name : {"a.cld", "b.cld", "c.cld"}) {
    SmallRecording().Write(dir / name);
    request.sources.push_back(dir / name);
  }
  request.output_dir = dir.path();
  request.options.output_type = OutputType::kMessages;
  TestObserver observer;
  observer.progress = [](int, const std::filesystem::path& source, int64_t) {
    return source.filename() != "b.cld";
  };
  auto quoted = [&](const char* name) { return "\"" + (dir / name).string() + "\""; };
  for (const bool combine : {false, true}) {
    request.options.combine_output = combine;
    MessageCapture capture;
    EXPECT_TRUE(RunConversion(request, &observer).aborted);
    std::vector<std::string> warnings;
    for (const MessageCapture::Entry& m : capture.entries()) {
      if (m.severity == kMsgWarning) warnings.push_back(m.text);
    }
    std::vector<std::string> expected = {
        "Not converted completely (aborted): " + quoted("b.cld"),
        "Not converted (aborted before it started): " + quoted("c.cld")};
    if (combine) {
      expected.insert(expected.begin(), "Converted into the incomplete output " + quoted("a.txt") +
                                            ": " + quoted("a.cld"));
    }
    EXPECT_EQ(warnings, expected) << "combine " << combine;
  }
}

TEST(Driver, CombinedOutputSurvivesAFailingFirstSource) {
  TempFolder dir;
  SmallRecording().Write(dir / "b.cld");
  SmallRecording().Write(dir / "c.cld");
  ConversionRequest request;
  request.options.output_type = OutputType::kMessages;
  request.options.output_file_format = kFormatCsvInternational;
  request.options.combine_output = true;
  request.sources = {dir / "a.cld", dir / "b.cld", dir / "c.cld"};  // a.cld is missing
  request.output_dir = dir.path() / "out";
  std::filesystem::create_directories(request.output_dir);
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.converted, 2);
  EXPECT_EQ(s.errors, 1);  // the missing file
  EXPECT_FALSE(capture.Contains("should be open"));
  // Named after the first source that opened; a.cld's name is not used.
  EXPECT_FALSE(std::filesystem::exists(request.output_dir / "a.csv"));
  std::string text = Slurp(request.output_dir / "b.csv");
  std::size_t rows = 0;
  for (std::size_t p = 0; (p = text.find("0x00000100", p)) != std::string::npos; ++p) ++rows;
  EXPECT_EQ(rows, 4u);
}

}  // namespace
}  // namespace tessmar
namespace tessmar {
namespace {

// Expression slot 0 is empty, slot 1 is used: only slot 1 produces rows.
RecordingBuilder RecordingWithExpressionGap() {
  std::string header = SmallHeader();
  const std::string used = "Exp00: ex=\"Speed*2\",na=\"Twice\",mi=0,ma=200\r\n";
  header.replace(header.find(used), used.size(),
                 "Exp01: ex=\"Speed*2\",na=\"Twice\",mi=-200,ma=200\r\n");
  RecordingBuilder r(header);
  r.Time(0, 2017, 10, 19, 12, 34, 56)
      .Frame(1024, 0x100, {0x14, 0x05})
      .Expression(2048, 0, 1.5f)
      .Expression(2048, 1, -160.281f)
      .Marker("eof", 4096);
  return r;
}

TEST(MessagesOutput, ExpressionRowsOnlyForUsedSlots) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatCsvInternational;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.headlines = 0;
  const Converted c = Convert(dir, o, "rec.csv", RecordingWithExpressionGap());
  EXPECT_EQ(c.text,
            "000000.0000,0x00000100,14,05,,,,,,\r\n"
            "000000.0000,; EXPR: Speed*2       = -160.281\r\n");
}

// CSV with decimal comma: a cell holding the column separator is quoted, EXPR value included.
TEST(MessagesOutput, GermanCsvQuotesExpressionCell) {
  TempFolder dir;
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatCsvGerman;
  o.column_separator = ColumnSeparator::kComma;
  o.decimal_separator = DecimalSeparator::kComma;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.headlines = 0;
  const Converted c = Convert(dir, o, "rec.csv", RecordingWithExpressionGap());
  EXPECT_NE(c.text.find("\"000000,0000\",\"; EXPR: Speed*2       = -160,281\"\r\n"),
            std::string::npos)
      << c.text;
}

TEST(DriverRefusal, RefusedOptionsConvertNothingAndReportNoResult) {
  TempFolder dir;
  ConverterOptions options;
  options.output_type = OutputType::kMessages;
  options.output_file_format = kFormatDiademInt32;  // Messages cannot go to DIAdem
  const Converted c = Convert(dir, options, "rec.dat");
  EXPECT_TRUE(c.summary.refused);
  EXPECT_EQ(c.summary.converted, 0);
  EXPECT_TRUE(c.text.empty());
  EXPECT_TRUE(HasMessage(c, "Illegal parameters, refused to convert logfile."));
  EXPECT_FALSE(HasMessage(c, "converted,"));
}

// ---- Signals grid: sample and hold without look-ahead ------------------------------------------

// Ticks at 8192 Hz of a time in seconds, rounded down.
uint32_t Ticks(double seconds) { return static_cast<uint32_t>(seconds * 8192); }

TEST(SignalsGrid, SparseMessagesOffTheGridShowOnlyValuesAlreadyReceived) {
  TempFolder dir;
  RecordingBuilder r(SmallHeader());
  r.Time(0, 2017, 10, 19, 12, 34, 56)
      .Frame(Ticks(0.1), 0x100, {20, 1})   // Speed 10 just before the first grid time 0.5 s
      .Frame(Ticks(1.1), 0x100, {40, 2})   // Speed 20
      .Frame(Ticks(2.1), 0x100, {60, 3});  // Speed 30, after the last row
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatCsvInternational;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.headlines = 0;
  o.write_interval = "0.5";
  const Converted c = Convert(dir, o, "rec.csv", r);
  EXPECT_EQ(c.text,
            "0.0000,10,1,-99999999\r\n"
            "0.5000,10,1,-99999999\r\n"
            "1.0000,20,2,-99999999\r\n"
            "1.5000,20,2,-99999999\r\n");
}

// Random sparse recordings against a deliberately simple reference: the row at time T shows the
// last value logged at or before T, and the rows cover the grid from the first multiple of the
// interval after the start up to the last entry.
TEST(SignalsGrid, RandomSparseRecordingsMatchSampleAndHold) {
  struct Value {
    uint32_t tick;
    int column;  // 0 Speed, 1 Temp, 2 Twice
    double value;
  };
  TempFolder dir;
  const struct {
    const char* text;
    double seconds;
  } intervals[] = {{"0.05", 0.05}, {"0.125", 0.125}, {"0.3", 0.3}};
  for (unsigned seed = 1; seed <= 24; ++seed) {
    std::mt19937 random(seed);
    auto uniform = [&](int lo, int hi) {
      return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    const double interval = intervals[seed % 3].seconds;
    const bool skip_until_valid = seed % 2 == 0;
    RecordingBuilder r(SmallHeader());
    r.Time(0, 2017, 10, 19, 12, 34, 56);
    std::vector<Value> logged;
    uint32_t tick = static_cast<uint32_t>(uniform(1, 3000));
    const int frames = uniform(5, 60);
    for (int f = 0; f < frames; ++f) {
      // Frames share a tick now and then, or sit on a grid time of the 0.125 s interval.
      const int step = uniform(0, 9);
      if (step == 1) {
        tick = (tick / 1024 + 1) * 1024;
      } else if (step > 1) {
        tick += static_cast<uint32_t>(uniform(1, 4000));
      }
      const uint8_t speed = static_cast<uint8_t>(uniform(0, 200));
      const int8_t temp = static_cast<int8_t>(uniform(-40, 100));
      r.Frame(tick, 0x100, {speed, static_cast<uint8_t>(temp)});
      logged.push_back({tick, 0, speed * 0.5});
      logged.push_back({tick, 1, static_cast<double>(temp)});
      if (uniform(0, 3) == 0) {
        // An expression entry carries the time of the entry before it.
        const float v = static_cast<float>(uniform(-1000, 1000)) / 4.0f;
        r.Expression(tick, 0, v);
        logged.push_back({tick, 2, v});
      }
    }
    const std::string name = "rec" + std::to_string(seed) + ".cld";
    r.Write(dir / name);
    ConversionRequest request;
    request.sources = {dir / name};
    request.output_dir = dir.path();
    request.options.output_type = OutputType::kSignals;
    request.options.write_interval = intervals[seed % 3].text;
    request.options.skip_until_all_valid = skip_until_valid;
    std::vector<std::pair<double, std::vector<ChannelValue>>> rows;
    TestObserver observer;
    observer.signals_row = [&](double t, double, std::span<const ChannelValue> values) {
      rows.emplace_back(t, std::vector<ChannelValue>(values.begin(), values.end()));
    };
    MessageCapture capture;
    (void)RunConversion(request, &observer);

    // Where the grid starts: after the first value, or after the entry that made every column
    // valid.
    double start = logged.front().tick / 8192.0;
    if (skip_until_valid) {
      bool seen[3] = {false, false, false};
      for (const Value& v : logged) {
        seen[v.column] = true;
        if (seen[0] && seen[1] && seen[2]) {
          start = v.tick / 8192.0;
          break;
        }
        start = -1;
      }
    }
    const double last = logged.back().tick / 8192.0;
    SCOPED_TRACE("seed " + std::to_string(seed));
    if (start < 0) {
      EXPECT_TRUE(rows.empty());
      continue;
    }
    const double first_row = start - std::fmod(start, interval) + interval;
    const long expected_rows =
        static_cast<long>(std::floor((last - first_row) / interval + 1e-9)) + 1;
    ASSERT_EQ(static_cast<long>(rows.size()), std::max(expected_rows, 0L));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const double t = rows[i].first;
      ASSERT_NEAR(t, first_row + static_cast<double>(i) * interval, 1e-9);
      for (int column = 0; column < 3; ++column) {
        const Value* held = nullptr;
        for (const Value& v : logged) {
          if (v.column == column && v.tick / 8192.0 <= t + 1e-9) held = &v;
        }
        const ChannelValue& got = rows[i].second[static_cast<std::size_t>(column)];
        ASSERT_EQ(got.valid, held != nullptr) << "row " << t << " column " << column;
        if (held) {
          EXPECT_EQ(got.scaled, held->value) << "row " << t << " column " << column;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tessmar
