// The conversion driver together with the recording modules and the writers: the run's error
// count and the GPS column definitions handed to the MDF writers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/c_locale.h"
#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "logfile/simulator/recording_simulator.h"
#include "recording_builder.h"
#include "tests/test_observer.h"
#include "tests/writers/mdf_reader.h"

namespace tessmar {
namespace {

using testing::RecordingBuilder;
using testing::SmallHeader;

std::filesystem::path MakeTempFolder(const char* name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    (std::string(name) + "_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

int CountContaining(const MessageCapture& capture, std::string_view text) {
  int n = 0;
  for (const MessageCapture::Entry& e : capture.entries()) {
    if (e.text.find(text) != std::string::npos) ++n;
  }
  return n;
}

// Every source holds one time entry with an impossible date (month 13). Only the first ten of a
// run are shown; the others still count, and none counts twice.
TEST(DriverErrorCount, DecodingErrorsBeyondTheMessageLimitStillCount) {
  const std::filesystem::path dir = MakeTempFolder("tessmar_error_count");
  ConversionRequest request;
  for (int i = 0; i < 12; ++i) {
    RecordingBuilder r(SmallHeader());
    r.Time(0, 2017, 10, 19, 12, 34, 56)
        .Frame(1024, 0x100, {0x14, 0x05})
        .Time(2048, 2017, 13, 19, 12, 34, 56)
        .Frame(3072, 0x100, {0x28, 0xF6})
        .Marker("eof", 3072);
    const std::filesystem::path source = dir / ("rec" + std::to_string(i) + ".cld");
    r.Write(source);
    request.sources.push_back(source);
  }
  request.output_dir = dir;
  request.options.output_type = OutputType::kMessages;
  request.options.output_file_format = kFormatCsvInternational;

  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  EXPECT_EQ(s.converted, 12);
  EXPECT_EQ(CountContaining(capture, "Invalid date in \"@tim\"-entry"), 10);
  EXPECT_EQ(s.errors, 12);
  EXPECT_TRUE(capture.Contains(
      "12 files converted, 12 conversion errors. Please check error log on the 'INFO' tab."));

  // A single run below the limit: each shown error counts once.
  request.sources.resize(3);
  capture.Clear();
  EXPECT_EQ(RunConversion(request).errors, 3);
  EXPECT_EQ(CountContaining(capture, "Invalid date in \"@tim\"-entry"), 3);
  std::filesystem::remove_all(dir);
}

// GPS columns merged into a Vector MDF output: each channel's record kind follows the source of
// the column definition it shows, an undefined definition leaves no gap.
TEST(DriverGpsColumns, VectorMdfChannelsFollowTheirDefinitions) {
  const std::filesystem::path dir = MakeTempFolder("tessmar_gps_mdf");
  LoggerConfiguration config;
  ASSERT_TRUE(ReadClcFile(std::filesystem::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc", config));
  SimulatorOptions sim;
  sim.duration_s = 3;
  sim.gps = true;
  ASSERT_TRUE(SimulateRecording(config, sim, dir / "gps.cld").ok);

  ConversionRequest request;
  request.sources = {dir / "gps.cld"};
  request.output_dir = dir;
  request.options.output_type = OutputType::kSignals;
  request.options.output_file_format = kFormatVectorMdf;
  request.options.write_interval = "0.5";
  request.gps.merge_into_main_file = 1;
  SetGpsText(request.gps.columns[0].title, "Lat");
  SetGpsText(request.gps.columns[0].source, "gps.lat");
  SetGpsText(request.gps.columns[2].title, "Clock");
  SetGpsText(request.gps.columns[2].source, "gps.time");
  SetGpsText(request.gps.columns[3].title, "Speed");
  SetGpsText(request.gps.columns[3].unit, "km/h");
  SetGpsText(request.gps.columns[3].source, "gps.speed");
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  for (const auto& e : capture.entries()) {
    if (e.severity == kMsgError) ADD_FAILURE() << e.text;
  }
  ASSERT_EQ(s.errors, 0);
  ASSERT_EQ(s.outputs.size(), 1u);

  const test::MdfFile f = test::ReadMdf(test::ReadBytes(s.outputs[0]));
  ASSERT_GE(f.channels.size(), 4u);
  const std::size_t n = f.channels.size();
  EXPECT_EQ(f.channels[n - 3].name, "Lat");
  EXPECT_EQ(f.channels[n - 3].data_type, 3);  // double
  EXPECT_EQ(f.channels[n - 2].name, "Clock");
  EXPECT_EQ(f.channels[n - 2].bits, 56);  // 7-byte date
  EXPECT_EQ(f.channels[n - 1].name, "Speed");
  EXPECT_EQ(f.channels[n - 1].unit, "km/h");
  EXPECT_EQ(f.channels[n - 1].data_type, 2);  // float
  EXPECT_GT(f.record_count, 0u);
  std::filesystem::remove_all(dir);
}

// ---- Time columns ----------------------------------------------------------------------------

// The small test recording (frames at 0.125, 0.25 and 0.5 s, an expression at 0.25 s), started at
// 2017-10-19 hh:mm:ss.
RecordingBuilder RecordingStartedAt(int hour, int minute, int second) {
  char start[32];
  std::snprintf(start, sizeof start, "2017-10-19 %02d:%02d:%02d", hour, minute, second);
  std::string header = SmallHeader();
  header.replace(header.find("2017-10-19 12:34:56"), 19, start);
  RecordingBuilder r(header);
  r.Time(0, 2017, 10, 19, hour, minute, second)
      .Frame(1024, 0x100, {0x14, 0x05})
      .Frame(2048, 0x100, {0x28, 0xF6})
      .Expression(2048, 0, 2.75f)
      .Frame(4096, 0x78FEF100, {0x01, 0x02, 0x03})
      .Marker("eof", 4096);
  return r;
}

// A simulated recording of the example configuration.
std::filesystem::path SimulateExample(const std::filesystem::path& path,
                                      const SimulatorOptions& options) {
  LoggerConfiguration config;
  EXPECT_TRUE(ReadClcFile(std::filesystem::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc", config));
  EXPECT_TRUE(SimulateRecording(config, options, path).ok);
  return path;
}

// Signals of one source with the first time column of the given kind and no headlines.
ConversionRequest SignalsRequest(const std::filesystem::path& source,
                                 const std::filesystem::path& output_dir, int format,
                                 int time_kind) {
  ConversionRequest request;
  request.sources = {source};
  request.output_dir = output_dir;
  std::filesystem::create_directories(output_dir);
  request.options.output_type = OutputType::kSignals;
  request.options.output_file_format = format;
  request.options.time_column1 = TimeColumnKindFromIndex(time_kind);
  request.options.headlines = 0;
  return request;
}

// The first cell of every line.
std::vector<std::string> FirstCells(const std::string& text) {
  std::vector<std::string> cells;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    cells.push_back(line.substr(0, line.find(',')));
  return cells;
}

// Relative times count from the first row of a combined output: a later source continues with
// the real distance, a source that started earlier carries on from the last row.
TEST(DriverTimeColumns, RelativeTimeRunsOnAcrossCombinedSources) {
  const std::filesystem::path dir = MakeTempFolder("tessmar_combined_time");
  RecordingStartedAt(12, 34, 56).Write(dir / "a.cld");
  RecordingStartedAt(12, 35, 10).Write(dir / "b.cld");  // 14 s later
  RecordingStartedAt(12, 34, 0).Write(dir / "c.cld");   // before the first one
  ConversionRequest request;
  request.sources = {dir / "a.cld", dir / "b.cld", dir / "c.cld"};
  request.output_dir = dir;
  request.options.output_type = OutputType::kMessages;
  request.options.output_file_format = kFormatCsvInternational;
  request.options.time_column1 = TimeColumnKind::kSeconds;
  request.options.headlines = 0;
  request.options.combine_output = true;
  MessageCapture capture;
  ASSERT_EQ(RunConversion(request).errors, 0);
  EXPECT_EQ(FirstCells(test::ReadText(dir / "a.csv")),
            (std::vector<std::string>{"000000.0000", "000000.1250", "000000.1250", "000000.3750",
                                      "000014.0000", "000014.1250", "000014.1250", "000014.3750",
                                      "000014.3750", "000014.5000", "000014.5000", "000014.7500"}));

  // Signals into Vector MDF: the master channel rises across the sources, and the header starts
  // at the first record.
  request.options.output_type = OutputType::kSignals;
  request.options.output_file_format = kFormatVectorMdf;
  request.options.write_interval = "0.125";
  ASSERT_EQ(RunConversion(request).errors, 0);
  const test::MdfFile f = test::ReadMdf(test::ReadBytes(dir / "a.dat"));
  EXPECT_EQ(f.date, "19:10:2017");
  EXPECT_EQ(f.time, "12:34:56");
  std::vector<double> times;
  for (const std::vector<double>& record : f.records) times.push_back(record[0]);
  EXPECT_EQ(times, (std::vector<double>{0, 0.125, 0.25, 14, 14.125, 14.25, 14.375, 14.5, 14.625}));
  std::filesystem::remove_all(dir);
}

// A logger restart sets the tick counter back; the relative time follows the absolute time and
// never runs back.
TEST(DriverTimeColumns, RelativeTimeNeverRunsBackAfterACounterRestart) {
  const std::filesystem::path dir = MakeTempFolder("tessmar_restart_time");
  SimulatorOptions sim;
  sim.duration_s = 6;
  sim.gps = false;
  sim.faults.counter_restart = true;
  ConversionRequest request =
      SignalsRequest(SimulateExample(dir / "restart.cld", sim), dir, kFormatCsvInternational, 2);
  request.options.write_interval = "0.1";
  MessageCapture capture;
  (void)RunConversion(request);
  const std::vector<std::string> cells = FirstCells(test::ReadText(dir / "restart.csv"));
  ASSERT_GT(cells.size(), 50u);
  double previous = -1;
  bool jumped = false;  // the restart shows as a jump forward
  for (const std::string& cell : cells) {
    double t = 0;
    FromChars(cell.data(), cell.data() + cell.size(), t);
    EXPECT_GT(t, previous) << cell;
    if (previous >= 0 && t - previous > 5) jumped = true;
    previous = t;
  }
  EXPECT_TRUE(jumped);
  std::filesystem::remove_all(dir);
}

// With a bad real-time clock the GPS time takes over; every header starts where the rows do.
TEST(DriverTimeColumns, HeadersStartWithTheFirstRow) {
  const std::filesystem::path dir = MakeTempFolder("tessmar_start_time");
  SimulatorOptions sim;
  sim.duration_s = 8;
  sim.gps = true;
  sim.faults.bad_rtc_date = true;
  const std::filesystem::path source = SimulateExample(dir / "bad.cld", sim);
  auto convert = [&](int format, const char* folder) {
    const ConversionRequest request = SignalsRequest(source, dir / folder, format, 4);
    MessageCapture capture;
    const ConversionSummary s = RunConversion(request);
    return s.outputs.empty() ? std::filesystem::path() : s.outputs[0];
  };
  // "YYYY-MM-DD hh:mm:ss" of the first row.
  const std::string first = test::ReadText(convert(kFormatCsvInternational, "csv")).substr(0, 19);
  ASSERT_EQ(first.size(), 19u);
  const std::string date = first.substr(0, 10), time = first.substr(11);

  const test::MdfFile mdf = test::ReadMdf(test::ReadBytes(convert(kFormatVectorMdf, "mdf")));
  EXPECT_EQ(mdf.date, date.substr(8, 2) + ":" + date.substr(5, 2) + ":" + date.substr(0, 4));
  EXPECT_EQ(mdf.time, time);

  const std::string diadem = test::ReadText(convert(kFormatDiademAscii, "diadem"));
  EXPECT_NE(diadem.find("\r\n104," + date + "\r\n105," + time + "\r\n"), std::string::npos);

  const std::vector<std::uint8_t> stiegele =
      test::ReadBytes(convert(kFormatStiegeleMdf, "stiegele"));
  ASSERT_GE(stiegele.size(), 72u);
  char packed[32];
  std::snprintf(packed, sizeof packed, "%04d-%02d-%02d %02d:%02d:%02d", test::LeI32(stiegele, 56),
                test::LeI32(stiegele, 52), test::LeI32(stiegele, 48), test::LeI32(stiegele, 60),
                test::LeI32(stiegele, 64), test::LeI32(stiegele, 68));
  EXPECT_EQ(std::string(packed), first);
  std::filesystem::remove_all(dir);
}

// A caller's row writer takes the rows of a Signals run in place of the format's writer: the
// same rows and values as the format's run shows its observer, and no file is written.
TEST(DriverRowWriter, TakesTheRowsAndWritesNoFile) {
  const std::filesystem::path dir = MakeTempFolder("tessmar_row_writer");
  SimulatorOptions sim;
  sim.duration_s = 3;
  sim.gps = true;
  const std::filesystem::path source = SimulateExample(dir / "rec.cld", sim);
  ConversionRequest request = SignalsRequest(source, dir / "out", kFormatCsvInternational, 2);
  request.no_clobber = true;
  request.format_thread = ConversionRequest::FormatThread::kOn;
  std::vector<double> observed;  // time and every value of each row
  TestObserver observer;
  observer.signals_row = [&](double t, double, std::span<const ChannelValue> values) {
    observed.push_back(t);
    for (const ChannelValue& v : values) observed.push_back(v.valid ? v.scaled : -1);
  };
  ASSERT_EQ(RunConversion(request, &observer).errors, 0);
  std::filesystem::remove_all(dir / "out");

  struct RowTaker : Writer {
    const ChannelValue* channels = nullptr;
    int columns = 0;
    std::vector<double> rows;
    int Create(const WriterSetup& setup) override {
      channels = setup.channels;
      columns = setup.layout.total;
      return 1;
    }
    int WriteRow(const WriterRow& row) override {
      rows.push_back(row.time);
      for (int c = 0; c < columns; ++c) rows.push_back(channels[c].valid ? channels[c].scaled : -1);
      return kRowWritten;
    }
    int Finish(const WriterFinish&) override { return 1; }
  } taker;
  request.row_writer = &taker;
  MessageCapture capture;
  const ConversionSummary summary = RunConversion(request);
  EXPECT_EQ(summary.errors, 0);
  EXPECT_EQ(summary.converted, 1);
  EXPECT_EQ(summary.format_thread_sources, 0);
  EXPECT_GT(taker.rows.size(), 100u);
  EXPECT_EQ(taker.rows, observed);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessmar
