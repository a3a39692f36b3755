// Damaged recordings through the whole conversion, for every built-in layout: whatever the bytes
// are, the conversion ends with a result (and, under the sanitizers, without touching memory it
// does not own).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "common/message_output.h"
#include "convert/conversion_driver.h"
#include "recording_builder.h"

namespace tessmar {
namespace {

std::string Bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ConversionRobustness, CorruptedAndTruncatedRecordings) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("tessmar_convert_robust_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // A recording with every kind of entry the driver treats specially.
  testing::RecordingBuilder base(testing::SmallHeader());
  base.Time(0, 2017, 10, 19, 12, 34, 56);
  std::mt19937 rng(11);
  uint32_t ticks = 0;
  for (int i = 0; i < 300; ++i) {
    ticks += rng() % 2000;
    switch (rng() % 6) {
      case 0:
        base.Expression(ticks, static_cast<int>(rng() % 70), 1.5f * i);
        break;
      case 1:
        base.Marker(i % 2 ? "pre" : "tim", ticks);
        break;
      default:
        base.Frame(ticks & 0xFFFFFF, rng() % 3 ? 0x100 : rng(),
                   {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())});
    }
  }
  base.Marker("eof", ticks);
  base.Write(dir / "base.cld");
  const std::string original = Bytes(dir / "base.cld");
  const std::size_t header = testing::SmallHeader().size();

  struct Layout {
    int type, format;
  };
  const Layout layouts[] = {{0, kFormatText},
                            {0, kFormatCsvInternational},
                            {1, kFormatSemicolonCsvGerman},
                            {0, kFormatVectorAscii},
                            {2, kFormatText},
                            {1, kFormatCsvGerman}};
  MessageCapture capture;  // keeps the messages out of the test log
  for (int round = 0; round < 60; ++round) {
    std::string bytes = original;
    const int damage = static_cast<int>(rng() % 4);
    if (damage == 0) {
      bytes.resize(rng() % bytes.size());  // cut anywhere, also inside the header
    } else {
      const int flips = 1 + static_cast<int>(rng() % 40);
      for (int k = 0; k < flips; ++k) {
        // Mostly the entries; now and then the header too.
        const std::size_t at =
            (damage == 1) ? rng() % bytes.size() : header + rng() % (bytes.size() - header);
        bytes[at] = static_cast<char>(rng());
      }
      if (damage == 3) {  // a BULK block claiming to run far past the end
        const std::size_t at = header + 32 + 16 * (rng() % 50);
        if (at + 3 < bytes.size()) {
          bytes[at] = static_cast<char>(0xD0);
          bytes[at + 1] = static_cast<char>(0xFF);
          bytes[at + 2] = static_cast<char>(0xFF);
        }
      }
    }
    std::ofstream(dir / "bad.cld", std::ios::binary) << bytes;
    const Layout l = layouts[round % std::size(layouts)];
    ConversionRequest request;
    request.sources = {dir / "bad.cld"};
    request.output_dir = dir;
    request.options.output_type = OutputTypeFromIndex(l.type);
    request.options.output_file_format = l.format;
    request.options.write_interval = "0.001";
    if (l.format == kFormatCsvGerman) {
      request.options.column_separator = ColumnSeparator::kComma;
      request.options.decimal_separator = DecimalSeparator::kComma;
    }
    request.options.time_column1 = TimeColumnKind::kSeconds;
    request.options.time_column2 = TimeColumnKind::kDateTimeFraction;
    const ConversionSummary s = RunConversion(request);
    EXPECT_LE(s.converted, 1);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessmar
