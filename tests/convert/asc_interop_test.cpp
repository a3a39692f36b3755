// Reads our Vector ASCII output with an independent reader (python-can's ASC reader) and checks
// every frame against the recording it was made from.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "common/c_locale.h"
#include "common/message_output.h"
#include "convert/conversion_driver.h"
#include "recording_builder.h"
#include "tests/interop_util.h"

namespace tessmar {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string RunAndRead(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  return out;
}

TEST(AscInterop, PythonCanReadsEveryFrame) {
  if (std::system((std::string(kPython) + " -c 'import can' 2>/dev/null").c_str()) != 0) {
    TESSMAR_MISSING_TOOL("python3-can is not installed");
  }
  const auto dir = std::filesystem::temp_directory_path() /
                   ("tessmar_asc_interop_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);

  testing::RecordingBuilder rec(
      "[CanLoggerConfig]\r\nTimestampFreq=8192\r\n"
      "[LogFileInfo]\r\nStartDate=2026-03-02 10:00:00\r\n"
      "StartTimestamp=0\r\n");
  rec.Time(0, 2026, 3, 2, 10, 0, 0);
  std::mt19937 rng(7);
  std::ostringstream expected;
  uint32_t ticks = 0;
  for (int i = 0; i < 500; ++i) {
    ticks += 1 + rng() % 400;  // up to about 50 ms apart; 24-bit wrap after ~2048 s not reached
    const bool extended = rng() % 2 == 0;
    const uint32_t id = extended ? rng() & 0x1FFFFFFF : rng() & 0x7FF;
    const int bus = 1 + static_cast<int>(rng() % 3);
    uint32_t word = id | (extended ? 0x20000000u : 0);
    if (bus == 2) word |= 0x40000000u;
    if (bus == 3) word |= 0x80000000u;
    std::vector<uint8_t> data(rng() % 9);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    rec.Frame(ticks, word, data);
    char line[128];
    SnprintfC(line, sizeof line, "%.4f %d %X %c %zu", ticks / 8192.0, bus, id, extended ? 'x' : '-',
              data.size());
    expected << line;
    for (uint8_t b : data) {
      std::snprintf(line, sizeof line, " %02X", b);
      expected << line;
    }
    expected << '\n';
  }
  rec.Marker("eof", ticks);
  rec.Write(dir / "rec.cld");

  ConversionRequest request;
  request.sources = {dir / "rec.cld"};
  request.output_names = {dir / "rec.asc"};
  MessageCapture capture;
  const ConversionSummary s = RunConversion(request);
  ASSERT_EQ(s.errors, 0);

  const std::string got = RunAndRead(std::string(kPython) + " " + TESSMAR_SOURCE_DIR +
                                     "/tests/convert/read_asc.py " + (dir / "rec.asc").string());
  EXPECT_EQ(got, expected.str());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessmar
