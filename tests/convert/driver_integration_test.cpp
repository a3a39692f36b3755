// The conversion driver together with the recording modules and the writers: the run's error
// count and the GPS column definitions handed to the MDF writers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "logfile/simulator/recording_simulator.h"
#include "recording_builder.h"
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
  request.options.output_type = 0;
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
  request.options.output_type = 1;
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

}  // namespace
}  // namespace tessmar
