// Converting part of a recording: chosen columns or messages, and a span of time.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/message_output.h"
#include "convert/channel_selection.h"
#include "convert/conversion_driver.h"
#include "recording_builder.h"

namespace tessmar {
namespace {

using testing::RecordingBuilder;
using testing::SmallHeader;

struct Folder {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tessmar_selection_" + std::to_string(::getpid()));
  Folder() { std::filesystem::create_directories(path); }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Speed = byte 0 x 0.5, Temp = byte 1. Times at 8192 Hz: 1024 ticks = 0.125 s.
void WriteRecording(const std::filesystem::path& path) {
  RecordingBuilder r(SmallHeader() + "Msg01: id=0x200,mn=\"Other\",nn=\"N\",wi=0\r\n");
  r.Time(0, 2017, 10, 19, 12, 34, 56)
      .Frame(1024, 0x100, {0x14, 0x05})  // 0.125 s: Speed 10, Temp 5
      .Frame(1536, 0x200, {0x01})        // 0.1875 s
      .Frame(2048, 0x100, {0x28, 0xF6})  // 0.25 s: Speed 20, Temp -10
      .Frame(3072, 0x100, {0x2A, 0x07})  // 0.375 s: Speed 21, Temp 7
      .Frame(5120, 0x100, {0x2C, 0x08})  // 0.625 s
      .Marker("eof", 5120);
  r.Write(path);
}

ConversionRequest Request(const Folder& dir, int type, const std::string& out) {
  ConversionRequest request;
  request.options.output_type = OutputTypeFromIndex(type);
  request.options.output_file_format = kFormatCsvInternational;
  request.options.time_column1 = TimeColumnKind::kSeconds;
  request.options.write_interval = "0.125";
  request.sources = {dir.path / "rec.cld"};
  // A ".csv" output name would choose Signals: Messages go to the output folder.
  if (type == 1) request.output_names = {dir.path / out};
  request.output_dir = dir.path;
  return request;
}

TEST(Selection, SignalsGridStartsAtStartWithHeldValues) {
  Folder dir;
  WriteRecording(dir.path / "rec.cld");
  ConversionRequest request = Request(dir, 1, "sig.csv");
  request.options.channels = "Te?p";
  request.options.start_time = "0.2";
  request.options.stop_time = "0.5";
  MessageCapture capture;
  EXPECT_EQ(RunConversion(request).converted, 1);
  // The row at 0.2 s holds Temp from 0.125 s; 0.575 s lies after the stop.
  EXPECT_EQ(Slurp(dir.path / "sig.csv"), "time_sec,Temp\r\n0.0000,5\r\n0.1250,-10\r\n0.2500,7\r\n");

  // The same with every column, on two threads at once: the column subset changes nothing else.
  request.options.channels = "*";
  request.sources.push_back(dir.path / "rec.cld");
  request.output_names.push_back(dir.path / "sig2.csv");
  request.jobs = 2;
  EXPECT_EQ(RunConversion(request).converted, 2);
  EXPECT_EQ(Slurp(dir.path / "sig2.csv"),
            "time_sec,Speed,Temp,Twice\r\n0.0000,10,5,-99999999\r\n0.1250,20,-10,-99999999\r\n"
            "0.2500,21,7,-99999999\r\n");
}

TEST(Selection, MessagesByNameOrIdentifierWithinTheSpan) {
  Folder dir;
  WriteRecording(dir.path / "rec.cld");
  ConversionRequest request = Request(dir, 0, "");
  request.options.headlines = 0;
  for (const char* pattern : {"M", "0x100", "256"}) {
    request.options.channels = pattern;
    request.options.start_time = "2017-10-19 12:34:56.2";
    request.options.stop_time = "0.375";
    MessageCapture capture;
    EXPECT_EQ(RunConversion(request).converted, 1) << pattern;
    EXPECT_EQ(Slurp(dir.path / "rec.csv"),
              "000000.0000,0x00000100,28,F6,,,,,,\r\n000000.1250,0x00000100,2A,07,,,,,,\r\n")
        << pattern;
  }
}

TEST(Selection, PatternsThatChooseNothingAndBadTimesAreErrors) {
  Folder dir;
  WriteRecording(dir.path / "rec.cld");
  ConversionRequest request = Request(dir, 1, "none.csv");
  request.options.channels = "Speed Nothing*";
  {
    MessageCapture capture;
    const ConversionSummary s = RunConversion(request);
    EXPECT_EQ(s.converted, 0);
    EXPECT_TRUE(
        capture.Contains("Error: No signal, expression or GPS column matches \"Nothing*\" in \""));
  }
  request.options.output_type = OutputType::kMessages;
  request.output_names.clear();
  {
    MessageCapture capture;
    EXPECT_EQ(RunConversion(request).converted, 0);
    EXPECT_TRUE(capture.Contains("Error: No message matches \"Speed\" in \""));
  }
  std::string error;
  EXPECT_FALSE(CheckSelectionOptions("soon", "", &error));
  EXPECT_EQ(error,
            "Error: Start time \"soon\" is neither seconds nor \"YYYY-MM-DD hh:mm:ss[.ss]\" .");
  EXPECT_TRUE(CheckSelectionOptions("1.5", "2017-10-19 12:34:56.25", &error));
}

// A quoted name chooses exactly that name: blanks, separators and wildcard characters included,
// with its case; the viewer's export relies on it to convert exactly the channels it plots.
TEST(Selection, QuotedNamesChooseExactlyThatName) {
  EXPECT_EQ(SplitChannelPatterns(R"(Speed,"Motor Temp, left";"a\"b" Te?p)"),
            (std::vector<std::string>{"Speed", R"("Motor Temp, left")", R"("a\"b")", "Te?p"}));
  for (const char* name : {"Motor Temp, left", "T*", "a?b;c", "quote\" and \\ slash\\", "x"}) {
    const std::vector<std::string> patterns =
        SplitChannelPatterns(ExactChannelPattern(name) + " " + ExactChannelPattern("other"));
    ASSERT_EQ(patterns.size(), 2u) << name;
    EXPECT_TRUE(ChannelPatternMatches(name, patterns[0])) << name;
    EXPECT_FALSE(ChannelPatternMatches(std::string(name) + "2", patterns[0])) << name;
  }
  EXPECT_FALSE(ChannelPatternMatches("Temp", ExactChannelPattern("T*")));
  EXPECT_FALSE(ChannelPatternMatches("temp", ExactChannelPattern("Temp")));

  Folder dir;
  WriteRecording(dir.path / "rec.cld");
  ConversionRequest request = Request(dir, 1, "exact.csv");
  request.options.channels = "\"Temp\"";
  request.options.stop_time = "0.25";
  {
    MessageCapture capture;
    EXPECT_EQ(RunConversion(request).converted, 1);
  }
  EXPECT_EQ(Slurp(dir.path / "exact.csv"), "time_sec,Temp\r\n0.0000,-10\r\n");
  request.options.channels = "\"temp\"";
  MessageCapture capture;
  EXPECT_EQ(RunConversion(request).converted, 0);
  EXPECT_TRUE(
      capture.Contains("Error: No signal, expression or GPS column matches \"temp\" in \""));
}

}  // namespace
}  // namespace tessmar
