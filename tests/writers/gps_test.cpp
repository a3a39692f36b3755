#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "logfile/gps_fix.h"
#include "logfile/log_entry.h"
#include "tests/writers/gps_entries.h"
#include "writers/gps_expression.h"
#include "writers/gps_settings.h"
#include "writers/gps_text.h"

namespace tessmar {
namespace {

using test::Entry1;
using test::Entry2;

// 48°30'30.0" N, 11°06'40.0" W, 512.3 m.
GpsFix SampleFix() {
  GpsFix fix;
  EXPECT_EQ(DecodeGpsEntry(Entry1(), fix), 1);
  EXPECT_EQ(DecodeGpsEntry(Entry2(17463000, -4000000, 5123), fix), 2);
  return fix;
}

// ---- Decoding GPS entries ----------------------------------------------------------------------

TEST(GpsFixDecode, EntriesFillTheFix) {
  GpsFix fix = SampleFix();
  EXPECT_EQ(fix.hour, 12);
  EXPECT_EQ(fix.minute, 34);
  EXPECT_EQ(fix.second, 56);
  EXPECT_EQ(fix.hundredths, 78);
  EXPECT_TRUE(fix.time_valid);
  EXPECT_EQ(fix.year2000, 17);
  EXPECT_EQ(fix.month, 10);
  EXPECT_EQ(fix.day, 19);
  EXPECT_TRUE(fix.date_valid);
  EXPECT_EQ(fix.status, 'A');
  EXPECT_EQ(fix.quality, 1);
  EXPECT_EQ(fix.satellites, 8);
  EXPECT_DOUBLE_EQ(fix.hdop, 1.2);
  EXPECT_DOUBLE_EQ(fix.speed, 100.0);
  EXPECT_EQ(fix.latitude, 17463000);
  EXPECT_EQ(fix.longitude, -4000000);
  EXPECT_DOUBLE_EQ(fix.height, 512.3);
  EXPECT_TRUE(fix.position_valid);
  EXPECT_DOUBLE_EQ(GpsFixTime(fix), 1508416496.78);
}

TEST(GpsFixDecode, WarningBitDateZeroAndOtherEntries) {
  GpsFix fix;
  EXPECT_EQ(DecodeGpsEntry(Entry1(0xD3, 0), fix), 1);  // quality 3, warning, 3 satellites
  EXPECT_EQ(fix.status, 'V');
  EXPECT_EQ(fix.quality, 3);
  EXPECT_EQ(fix.satellites, 3);
  EXPECT_TRUE(fix.time_valid);
  EXPECT_FALSE(fix.date_valid);

  GpsFix before = fix;
  std::array<std::uint8_t, 16> other{};
  other[0] = 0xA3;
  EXPECT_EQ(DecodeGpsEntry(other, fix), 0);
  EXPECT_EQ(DecodeGpsEntry(std::span<const std::uint8_t>(Entry1().data(), 8), fix), 0);
  EXPECT_EQ(fix.status, before.status);
  EXPECT_EQ(fix.position_valid, 0);
}

// A corrupted GPS entry 1 gets the same verdict from the fix as from the pre-scan's decoder:
// an impossible month or day, or a time of day of 24 h or more, is no valid date.
TEST(GpsFixDecode, CorruptedDateOrTimeFollowsThePreScanRule) {
  struct Case {
    std::uint16_t date;
    std::uint32_t tod;
    bool time_valid;
    bool date_valid;
  };
  const Case cases[] = {
      {0x2353, 4529678, true, true},               // 2017-10-19 12:34:56.78
      {0x2353 | (13 << 5), 4529678, true, false},  // month 15
      {0x2340, 4529678, true, false},              // day 0
      {0x2353, 8640000, false, false},             // 24:00:00.00
  };
  for (const Case& c : cases) {
    GpsFix fix;
    const auto bytes = Entry1(0x48, c.date, c.tod);
    ASSERT_EQ(DecodeGpsEntry(bytes, fix), 1);
    EXPECT_EQ(fix.time_valid != 0, c.time_valid) << c.date << " " << c.tod;
    EXPECT_EQ(fix.date_valid != 0, c.date_valid) << c.date << " " << c.tod;
    EXPECT_EQ(DecodeGpsEntry1(bytes.data()).HasDate(), c.date_valid);
  }
}

// ---- Expressions -------------------------------------------------------------------------------

TEST(GpsExpression, VariablesAndLeftToRightArithmetic) {
  GpsFix fix = SampleFix();
  fix.latitude = -18000000;
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.lat", fix).value, -50.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.lat_i", fix).value, -18000000.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.speed * 3.6 / 3.6", fix).value, 100.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("2 + 3 * 4", fix).value, 20.0);  // no precedence
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("-7 % 3", fix).value, -1.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("   gps..nsat+1", fix).value, 9.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.yr", fix).value, 2017.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.mo*100+gps.da", fix).value, 1019.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.hr", fix).value, 12.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.mi", fix).value, 34.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.se", fix).value, 56.0);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.hdop", fix).value, 1.2);
  EXPECT_DOUBLE_EQ(EvaluateGpsExpression("gps.hasl", fix).value, 512.3);
  GpsExprResult time = EvaluateGpsExpression("gps.time", fix);
  EXPECT_EQ(time.code, kGpsExprNumber);
  EXPECT_DOUBLE_EQ(time.value, 1508416496.78);
}

TEST(GpsExpression, ErrorCodes) {
  GpsFix fix = SampleFix();
  EXPECT_EQ(EvaluateGpsExpression("gps.hasl / 0", fix).code, kGpsExprDivByZero);
  EXPECT_EQ(EvaluateGpsExpression("5 % 0", fix).code, kGpsExprDivByZero);
  EXPECT_EQ(EvaluateGpsExpression("GPS.lat", fix).code, kGpsExprUnknownName);
  EXPECT_EQ(EvaluateGpsExpression("gps.latx", fix).code, kGpsExprUnknownOperator);
  EXPECT_EQ(EvaluateGpsExpression("gps.height", fix).code, kGpsExprUnknownName);
  EXPECT_EQ(EvaluateGpsExpression("gps.lat +", fix).code, kGpsExprSyntax);
  EXPECT_EQ(EvaluateGpsExpression("", fix).code, kGpsExprSyntax);
  EXPECT_EQ(EvaluateGpsExpression("(1)", fix).code, kGpsExprSyntax);
  EXPECT_EQ(EvaluateGpsExpression("- ", fix).code, kGpsExprSyntax);
  EXPECT_EQ(EvaluateGpsExpression("1 ^ 2", fix).code, kGpsExprUnknownOperator);
  // A later error wins over a text or invalid-time code.
  EXPECT_EQ(EvaluateGpsExpression("gps.pos / 0", fix).code, kGpsExprDivByZero);
}

TEST(GpsExpression, TextVariablesAndInvalidTime) {
  GpsFix fix;
  DecodeGpsEntry(Entry1(0x48, 0), fix);  // no valid date
  GpsExprResult time = EvaluateGpsExpression("gps.time", fix);
  EXPECT_EQ(time.code, kGpsExprInvalidTime);
  EXPECT_GT(time.value, 0.0);  // the number is still delivered
  EXPECT_EQ(EvaluateGpsExpression("gps.time + 1", fix).code, kGpsExprInvalidTime);
  EXPECT_EQ(EvaluateGpsExpression("gps.dstr", fix).code, kGpsExprText);
  EXPECT_EQ(EvaluateGpsExpression("1 + gps.tstr", fix).code, kGpsExprText);

  char text[64];
  GpsVariableText("dstr", fix, text, sizeof text);
  EXPECT_STREQ(text, "YYYY-MM-DD");
  GpsVariableText("tstr", fix, text, sizeof text);
  EXPECT_STREQ(text, "12:34:56");
  GpsVariableText("pos", fix, text, sizeof text);
  EXPECT_STREQ(text, "dd\u00f8mm'ss.s\"N ddd\u00f8mm'ss.s\"E");

  GpsFix full = SampleFix();
  GpsVariableText("dstr", full, text, sizeof text);
  EXPECT_STREQ(text, "2017-10-19");
  GpsVariableText("pos", full, text, sizeof text);
  EXPECT_STREQ(text, "48\u00b030'30.0\"N 011\u00b006'40.0\"W");
  EXPECT_EQ(GpsVariableText("lat", full, text, sizeof text), -1);
}

// ---- Value formatting
// ----------------------------------------------------------------------------

TEST(GpsValueFormatting, DigitPatternsDatePatternsAndGeneral) {
  EXPECT_EQ(FormatGpsValue(11.1234567, "##0.00000"), "11.12346");
  EXPECT_EQ(FormatGpsValue(0.5, "##0.00000"), "0.50000");
  EXPECT_EQ(FormatGpsValue(-48.508333, "##0.00000"), "-48.50833");
  EXPECT_EQ(FormatGpsValue(8, "#0"), "8");
  EXPECT_EQ(FormatGpsValue(1234.56, "###0.0"), "1234.6");
  EXPECT_EQ(FormatGpsValue(0.5, "#.##"), ".5");
  EXPECT_EQ(FormatGpsValue(1.2345, "0.0#"), "1.23");
  EXPECT_EQ(FormatGpsValue(1.5, "0.0#"), "1.5");
  EXPECT_EQ(FormatGpsValue(-0.01, "0.0"), "0.0");
  EXPECT_EQ(FormatGpsValue(7, "000"), "007");
  EXPECT_EQ(FormatGpsValue(54.25, "#0.0 kn"), "54.2 kn");

  const double t = 1508416496.78;
  EXPECT_EQ(FormatGpsValue(t, "YYYY-MM-DD"), "2017-10-19");
  EXPECT_EQ(FormatGpsValue(t, "hh:mm:ss"), "12:34:56");
  EXPECT_EQ(FormatGpsValue(t, "YYMMDDhhmmss"), "171019123456");

  EXPECT_EQ(FormatGpsValue(123.456789, ""), "123.4568");
  EXPECT_EQ(FormatGpsValue(1e10, "deg"), "1e+10");
}

// ---- NMEA sentences and the text track file -----------------------------------------------------

TEST(Nmea, ChecksumOfWellKnownSentences) {
  EXPECT_EQ(NmeaChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 0x47u);
  EXPECT_EQ(NmeaChecksum("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
            0x6Au);
}

TEST(Nmea, SentencesOfAFix) {
  GpsFix fix = SampleFix();
  std::string rmc = NmeaGprmc(fix);
  std::string body = "GPRMC,123456.78,A,4830.5000,N,01106.6667,W,54.0,,191017,,,A";
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", NmeaChecksum(body));
  EXPECT_EQ(rmc, "$" + body + tail);

  std::string gga = NmeaGpgga(fix);
  body = "GPGGA,123456.78,4830.5000,N,01106.6667,W,1,08,1.2,512.3,M,,M,,";
  std::snprintf(tail, sizeof tail, "*%02X\r\n", NmeaChecksum(body));
  EXPECT_EQ(gga, "$" + body + tail);
}

TEST(Nmea, SouthernLatitudeMissingDateAndModes) {
  GpsFix fix = SampleFix();
  fix.latitude = -18000000;
  fix.date_valid = 0;
  fix.quality = 2;
  std::string rmc = NmeaGprmc(fix);
  EXPECT_NE(rmc.find(",5000.0000,S,"), std::string::npos) << rmc;
  EXPECT_NE(rmc.find(",54.0,,,,,D*"), std::string::npos) << rmc;  // no course, no date
  fix.quality = 6;
  EXPECT_NE(NmeaGprmc(fix).find(",,,E*"), std::string::npos);
  fix.quality = 0;
  EXPECT_NE(NmeaGprmc(fix).find(",,,N*"), std::string::npos);
  fix.time_valid = 0;
  EXPECT_EQ(NmeaGpgga(fix).rfind("$GPGGA,,5000.0000,S,", 0), 0u);
}

TEST(TextTrack, OneReadableLinePerFix) {
  GpsFix fix = SampleFix();
  EXPECT_EQ(TextTrackLine(fix),
            "2017-10-19 12:34:56.78  48.5083333  -11.1111111   512.3  100.0 1 08  1.2 A\r\n");
  fix.date_valid = 0;
  fix.time_valid = 0;
  EXPECT_EQ(TextTrackLine(fix).substr(0, 23), "---------- --:--:--.-- ");
  EXPECT_EQ(TextTrackHeader().substr(0, 2), "; ");
}

// ---- Settings and presets ----------------------------------------------------------------------

TEST(GpsSettings, PresetsReplaceTheWholeRecord) {
  GpsOutputSettings s;
  ASSERT_TRUE(LoadGpsPreset(2, s));
  EXPECT_EQ(CountDefinedGpsColumns(s), 7);
  EXPECT_EQ(s.separate_track_file, 0);
  EXPECT_EQ(s.merge_into_main_file, 1);
  EXPECT_EQ(s.track_file_format, kGpsTrackNmea);
  EXPECT_EQ(GpsText(s.columns[0].title), "GpsDateAndTime");
  EXPECT_EQ(GpsText(s.columns[0].format), "YYMMDDhhmmss");
  EXPECT_EQ(GpsText(s.columns[6].source), "gps.nsat");

  ASSERT_TRUE(LoadGpsPreset(1, s));
  EXPECT_EQ(CountDefinedGpsColumns(s), 6);
  EXPECT_EQ(s.merge_into_main_file, 0);
  EXPECT_EQ(GpsText(s.columns[4].title), "GpsHeight");
  EXPECT_EQ(GpsText(s.columns[7].title), "");

  ASSERT_TRUE(LoadGpsPreset(0, s));
  EXPECT_EQ(CountDefinedGpsColumns(s), 8);
  EXPECT_EQ(GpsText(s.columns[6].unit), "");
  EXPECT_STREQ(GpsPresetName(0), "Author's favorite (default)");

  GpsOutputSettings before = s;
  EXPECT_FALSE(LoadGpsPreset(3, s));
  EXPECT_EQ(s, before);
}

TEST(GpsSettings, SectionRoundTripAndDefaults) {
  GpsOutputSettings s;
  LoadGpsPreset(0, s);
  SetGpsText(s.columns[1].title, std::string(60, 'x'));  // cut to 40 characters
  std::map<std::string, std::string, std::less<>> ini;
  WriteGpsSettings(s, [&](std::string_view k, std::string_view v) { ini[std::string(k)] = v; });
  EXPECT_EQ(ini["ColTitle1"], std::string(40, 'x'));
  EXPECT_EQ(ini["ColExprs7"], "gps.nsat");
  EXPECT_EQ(ini["TrackFileFormat"], "1");

  GpsOutputSettings back;
  ReadGpsSettings(
      [&](std::string_view k) -> std::optional<std::string> {
        auto it = ini.find(k);
        if (it == ini.end()) return std::nullopt;
        return it->second;
      },
      back);
  EXPECT_EQ(back, s);

  GpsOutputSettings defaults;
  ReadGpsSettings([](std::string_view) { return std::optional<std::string>("junk"); }, defaults);
  EXPECT_EQ(defaults.show_preview, 1);
  EXPECT_EQ(defaults.separate_track_file, 0);
  EXPECT_EQ(GpsText(defaults.columns[0].title), "junk");
}

TEST(GpsSettings, CommandLineOptions) {
  GpsOutputSettings s;
  ASSERT_TRUE(ApplyGpsPresetOption("1", s));
  EXPECT_EQ(CountDefinedGpsColumns(s), 6);
  ASSERT_TRUE(ApplyGpsTrackOption("text", s));
  EXPECT_EQ(s.separate_track_file, 1);
  EXPECT_EQ(s.track_file_format, kGpsTrackText);
  ASSERT_TRUE(ApplyGpsColumnsOption("before", s));
  EXPECT_EQ(s.merge_into_main_file, 1);
  EXPECT_EQ(s.columns_added_where, kGpsColumnsBefore);
  ASSERT_TRUE(ApplyGpsTrackOption("off", s));
  ASSERT_TRUE(ApplyGpsColumnsOption("off", s));
  EXPECT_EQ(s.separate_track_file, 0);
  EXPECT_EQ(s.merge_into_main_file, 0);
  GpsOutputSettings before = s;
  EXPECT_FALSE(ApplyGpsPresetOption("3", s));
  EXPECT_FALSE(ApplyGpsTrackOption("gpx", s));
  EXPECT_FALSE(ApplyGpsColumnsOption("", s));
  EXPECT_EQ(s, before);
}

TEST(GpsSettings, DefinedColumnsUseSignedCharacters) {
  GpsColumnDef c;
  EXPECT_FALSE(c.defined());
  SetGpsText(c.title, " x");
  EXPECT_FALSE(c.defined());
  SetGpsText(c.title, "\xC4x");  // a byte above 127 counts as absent
  EXPECT_FALSE(c.defined());
  SetGpsText(c.source, "gps.lat");
  EXPECT_TRUE(c.in_use());
  SetGpsText(c.title, "!");
  EXPECT_TRUE(c.defined());
}

}  // namespace
}  // namespace tessmar
