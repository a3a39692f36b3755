// Numbers the program reads and writes keep the period under a decimal-comma locale, as a German
// desktop sets it: the interval of a Signals output, the factors of a CAN database on their way
// into the signal table and the saved configuration, and the GPS track and sentences.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "candb/signal_selection.h"
#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "tests/candb/candb_test_util.h"
#include "tests/convert/recording_builder.h"
#include "tests/locale_test_util.h"
#include "writers/gps_text.h"

namespace tessmar {
namespace {

using testing_util::DecimalCommaLocale;
using testing_util::kNoDecimalCommaLocale;

TEST(DecimalCommaLocale, SignalsIntervalIsReadWithItsDecimals) {
  DecimalCommaLocale comma;
  if (!comma.available()) GTEST_SKIP() << kNoDecimalCommaLocale;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tessmar_locale_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  testing::RecordingBuilder recording(testing::SmallHeader());
  recording.Time(0, 2017, 10, 19, 12, 34, 56)
      .Frame(1024, 0x100, {0x14, 0x05})
      .Frame(4096, 0x100, {0x28, 0xF6})
      .Marker("eof", 4096);
  recording.Write(dir / "rec.cld");
  ConversionRequest request;
  request.sources = {dir / "rec.cld"};
  request.output_dir = dir;
  request.options.output_type = OutputType::kSignals;
  request.options.output_file_format = kFormatCsvInternational;
  request.options.time_column1 = TimeColumnKind::kSeconds;
  request.options.headlines = 0;
  request.options.write_interval = "0.010";
  MessageCapture capture;
  EXPECT_EQ(RunConversion(request).errors, 0);
  std::ifstream in(dir / "rec.csv", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::filesystem::remove_all(dir);
  // Read as 0, the interval would become the smallest one (0.0001 s).
  EXPECT_EQ(text.rfind("0.0000,", 0), 0u) << text.substr(0, 100);
  EXPECT_EQ(text.find("\r\n") + 2, text.find("0.0100,")) << text.substr(0, 100);
}

TEST(DecimalCommaLocale, DbcFactorsReachTheTableAndTheSavedConfiguration) {
  DecimalCommaLocale comma;
  if (!comma.available()) GTEST_SKIP() << kNoDecimalCommaLocale;
  MessageCapture capture;
  testing_util::DbcFile dbc("BU_: N\nBO_ 5 M: 8 N\n SG_ S : 0|8@1+ (0.1,-2.5) [-2.5|23] \"V\" N\n");
  LoggerConfiguration config;
  SignalTable table;
  CandbImport import;
  ASSERT_EQ(import.LoadFile(config, table, dbc.path(), 1), 1);
  EXPECT_EQ(table.cell(1, kColFactor), "0.1");
  EXPECT_EQ(table.cell(1, kColOffset), "-2.5");
  ASSERT_EQ(AddTableRow(config, table, 1), AddResult::kAdded);
  EXPECT_DOUBLE_EQ(config.sigs[0].fa, 0.1);
  EXPECT_NE(ClcFileText(config.cfg, config.sigs).find(",fa=0.1,of=-2.5,mi=-2.5,ma=23,"),
            std::string::npos);
}

TEST(DecimalCommaLocale, GpsTrackAndSentencesKeepThePeriod) {
  DecimalCommaLocale comma;
  if (!comma.available()) GTEST_SKIP() << kNoDecimalCommaLocale;
  GpsFix fix;
  fix.hour = 12, fix.minute = 34, fix.second = 56, fix.hundredths = 78, fix.time_valid = 1;
  fix.year2000 = 17, fix.month = 10, fix.day = 19, fix.date_valid = 1;
  fix.status = 'A', fix.quality = 1, fix.satellites = 8, fix.hdop = 1.2;
  fix.latitude = 17463000, fix.longitude = -4000000, fix.position_valid = 1;
  fix.speed = 100.0, fix.height = 512.3;
  EXPECT_EQ(TextTrackLine(fix),
            "2017-10-19 12:34:56.78  48.5083333  -11.1111111   512.3  100.0 1 08  1.2 A\r\n");
  EXPECT_NE(NmeaGprmc(fix).find(",W,54.0,"), std::string::npos);
  EXPECT_NE(NmeaGpgga(fix).find(",1,08,1.2,512.3,M,"), std::string::npos);
}

}  // namespace
}  // namespace tessmar
