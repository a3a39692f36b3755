#include "writers/date_time_format.h"

#include <gtest/gtest.h>

namespace tessmar {
namespace {

// 2017-10-19 12:34:56 UTC, a Thursday.
constexpr double kT = 1508416496.0;

TEST(DateTimeFormat, StandardPatterns) {
  EXPECT_EQ(FormatTimePattern(kT, kDateTimePattern), "2017-10-19 12:34:56");
  EXPECT_EQ(FormatTimePattern(kT + 0.789, kDateTimeFractionPattern), "2017-10-19 12:34:56.78");
  EXPECT_EQ(FormatTimePattern(kT + 0.3, "ss.s"), "56.3");  // no 56.2 from 0.29999...
  EXPECT_EQ(FormatTimePattern(0, kDateTimePattern), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatTimePattern(951782400, kDateTimePattern), "2000-02-29 00:00:00");
}

TEST(DateTimeFormat, ShortGroupsAndNames) {
  EXPECT_EQ(FormatTimePattern(kT, "YYY|YY|Y|M|D|h|m|s"), "017|17|7|10|19|12|34|56");
  EXPECT_EQ(FormatTimePattern(kT, "Mmm DD hh:mm:ss YYYY"), "Oct 19 12:34:56 2017");
  EXPECT_EQ(FormatTimePattern(kT, "Mmm", true), "Okt");
  EXPECT_EQ(FormatTimePattern(kT, "MMM"), "OCT");
  EXPECT_EQ(FormatTimePattern(1520000000, "Mmm", true), "M\xC3\xA4r");
  EXPECT_EQ(ToCivil(kT).weekday, 3);
  EXPECT_STREQ(GermanWeekdayName(ToCivil(kT).weekday), "Don");
}

TEST(DateTimeFormat, BufferNeverOverrun) {
  char buf[8];
  EXPECT_EQ(FormatDateTimeTo(buf, sizeof buf, kT, kDateTimePattern), 7u);
  EXPECT_STREQ(buf, "2017-10");
}

TEST(DateTimeParse, RoundTripsAndPatternRules) {
  EXPECT_DOUBLE_EQ(ParseDateTime("2017-10-19 12:34:56", kDateTimePattern), kT);
  EXPECT_NEAR(ParseDateTime("2017-10-19 12:34:56.75", kDateTimeFractionPattern), kT + 0.75, 1e-6);
  // Blanks before numbers are skipped; a missing part leaves the rest 0.
  EXPECT_DOUBLE_EQ(ParseDateTime("2017-10-19  12:34", kDateTimePattern), kT - 56);
  EXPECT_DOUBLE_EQ(ParseDateTime("19 Okt 2017", "DD Mmm YYYY", true), kT - 45296);
  EXPECT_DOUBLE_EQ(ParseDateTime("19 OCT 2017", "DD MMM YYYY"), kT - 45296);
  // "YY" replaces the last two digits of the year read so far.
  EXPECT_DOUBLE_EQ(ParseDateTime("1917 17", "YYYY YY"),
                   ParseDateTime("2017", "YYYY") -
                       (ParseDateTime("2017", "YYYY") - ParseDateTime("1917", "YYYY")));
}

TEST(DateTimeParse, HostileInputStaysFinite) {
  const double v = ParseDateTime("9999-99-99 99:99:99", kDateTimePattern);
  EXPECT_TRUE(v == v);
  EXPECT_NO_FATAL_FAILURE(ParseDateTime("", kDateTimePattern));
  EXPECT_NO_FATAL_FAILURE(ParseDateTime("0xFFFFFFFFFFFFFFFF", "YYYY"));
}

}  // namespace
}  // namespace tessmar
