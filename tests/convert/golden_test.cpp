// Every built-in layout of a small simulated recording, compared byte for byte with the golden
// files in tests/data/convert. Run with TESSMAR_UPDATE_GOLDEN=1 to rewrite them after a reviewed
// change of the layouts (or of the simulator).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "logfile/simulator/recording_simulator.h"

namespace tessmar {
namespace {

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The dump names the source path and the build date; both vary from run to run.
std::string MaskVaryingLines(std::string text) {
  for (const char* key : {"; Producer: ", "; Source  : "}) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos) continue;
    const std::size_t end = text.find("\r\n", at);
    text.replace(at, end - at, std::string(key) + "...");
  }
  return text;
}

class GoldenLayouts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ =
        std::filesystem::temp_directory_path() / ("tessmar_golden_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    LoggerConfiguration config;
    ASSERT_TRUE(
        ReadClcFile(std::filesystem::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc", config));
    SimulatorOptions options;
    options.duration_s = 1.5;
    options.seed = 3;
    options.gps = false;
    const SimulationResult r = SimulateRecording(config, options, dir_ / "demo.cld");
    ASSERT_TRUE(r.ok) << r.error;
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Check(const std::string& golden, ConverterOptions options) {
    const std::filesystem::path out_dir = dir_ / golden;
    std::filesystem::create_directories(out_dir);
    ConversionRequest request;
    request.sources = {dir_ / "demo.cld"};
    request.output_dir = out_dir;
    request.options = options;
    MessageCapture capture;
    const ConversionSummary s = RunConversion(request);
    ASSERT_EQ(s.errors, 0);
    ASSERT_EQ(s.outputs.size(), 1u);
    const std::string got = MaskVaryingLines(Slurp(s.outputs[0]));
    const std::filesystem::path golden_path =
        std::filesystem::path(TESSMAR_TEST_DATA_DIR) / "convert" / golden;
    if (std::getenv("TESSMAR_UPDATE_GOLDEN")) {
      std::ofstream(golden_path, std::ios::binary) << got;
    }
    EXPECT_EQ(got, Slurp(golden_path)) << golden;
  }

  static inline std::filesystem::path dir_;
};

TEST_F(GoldenLayouts, MessagesText) {
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatText;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.time_column2 = TimeColumnKind::kDateTimeFraction;
  o.headlines = 3;
  Check("messages_text.txt", o);
}

TEST_F(GoldenLayouts, MessagesCsvInternational) {
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatCsvInternational;
  o.time_column1 = TimeColumnKind::kMilliseconds;
  o.headlines = 2;
  Check("messages_csv.csv", o);
}

TEST_F(GoldenLayouts, SignalsCsvGermanQuoted) {
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatCsvGerman;
  o.column_separator = ColumnSeparator::kComma;
  o.decimal_separator = DecimalSeparator::kComma;
  o.time_column1 = TimeColumnKind::kSeconds;
  o.time_column2 = TimeColumnKind::kDateTime;
  o.headlines = 2;
  o.write_interval = "0.05";
  Check("signals_csv_german.csv", o);
}

TEST_F(GoldenLayouts, SignalsSemicolonRaw) {
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatSemicolonCsvGerman;
  o.time_column1 = TimeColumnKind::kMilliseconds;
  o.headlines = 1;
  o.write_interval = "0.1";
  o.scaled_values = false;
  Check("signals_semicolon_raw.csv", o);
}

TEST_F(GoldenLayouts, SignalsTextTab) {
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatText;
  o.column_separator = ColumnSeparator::kTab;
  o.time_column1 = TimeColumnKind::kDateTimeFraction;
  o.headlines = 0;
  o.write_interval = "0.25";
  o.invalid_signal = "-";
  Check("signals_text_tab.txt", o);
}

TEST_F(GoldenLayouts, VectorAscii) {
  ConverterOptions o;
  o.output_file_format = kFormatVectorAscii;
  Check("vector_ascii.asc", o);
}

TEST_F(GoldenLayouts, LogfileDump) {
  ConverterOptions o;
  o.output_type = OutputType::kLogfileDump;
  o.output_file_format = kFormatText;
  Check("logfile_dump.txt", o);
}

}  // namespace
}  // namespace tessmar
