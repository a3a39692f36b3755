#include "common/c_locale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/message_output.h"
#include "tests/locale_test_util.h"

namespace tessmar {
namespace {

using testing_util::DecimalCommaLocale;

TEST(CLocaleNumbers, PeriodUnderADecimalCommaLocaleWhichStaysInEffect) {
  DecimalCommaLocale comma;
  if (!comma.available()) GTEST_SKIP() << testing_util::kNoDecimalCommaLocale;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f", 0.5);
  ASSERT_STREQ(buf, "0,5");

  EXPECT_EQ(SnprintfC(buf, sizeof buf, "%lg|%.7f|%8.3f|%G", 0.1, -1e-7, 2.5, 1e-5), 29);
  EXPECT_STREQ(buf, "0.1|-0.0000001|   2.500|1E-05");
  EXPECT_EQ(StrPrintf("every %lg s", 0.010), "every 0.01 s");
  const char text[] = "0.010 s";
  char* end = nullptr;
  EXPECT_EQ(StrtodC(text, &end), 0.01);
  EXPECT_EQ(end, text + 5);
  EXPECT_EQ(StrtodC("0,5", &end), 0.0);  // a comma ends the number as it does in "C"

  // The calling thread's locale is back after each call.
  std::snprintf(buf, sizeof buf, "%.1f", 0.5);
  EXPECT_STREQ(buf, "0,5");
}

// FromChars stands in for std::from_chars where the standard library lacks it (libc++), so both
// builds must read the same texts the same way, under any locale.
TEST(CLocaleNumbers, FromCharsReadsLikeTheStandardFromChars) {
  DecimalCommaLocale comma;
  struct Case {
    const char* text;
    std::size_t used;  // characters read; 0: not a number
    double value;
  };
  const Case cases[] = {
      {"0.010 s", 5, 0.01},     {"-2.5e3", 6, -2500.0}, {".5", 2, 0.5},       {"1,5", 1, 1.0},
      {"0x1p3", 1, 0.0},        {"-0X10", 2, -0.0},     {"inf", 3, HUGE_VAL}, {"+1", 0, 0.0},
      {" 1", 0, 0.0},           {"-", 0, 0.0},          {"e5", 0, 0.0},       {"", 0, 0.0},
      {"4.9e-324", 8, 4.9e-324}};
  for (const Case& c : cases) {
    const char* end = c.text + std::strlen(c.text);
    double d = 7.0;
    const std::from_chars_result r = FromChars(c.text, end, d);
    if (c.used == 0) {
      EXPECT_EQ(r.ec, std::errc::invalid_argument) << c.text;
      EXPECT_EQ(r.ptr, c.text) << c.text;
      EXPECT_EQ(d, 7.0) << c.text;
      continue;
    }
    EXPECT_EQ(r.ec, std::errc()) << c.text;
    EXPECT_EQ(r.ptr, c.text + c.used) << c.text;
    EXPECT_EQ(d, c.value) << c.text;
    EXPECT_EQ(std::signbit(d), std::signbit(c.value)) << c.text;
  }
  // Out of range: the value is left as it was.
  for (const char* text : {"1e400", "-1e400", "1e-400"}) {
    double d = 7.0;
    const std::from_chars_result r = FromChars(text, text + std::strlen(text), d);
    EXPECT_EQ(r.ec, std::errc::result_out_of_range) << text;
    EXPECT_EQ(r.ptr, text + std::strlen(text)) << text;
    EXPECT_EQ(d, 7.0) << text;
  }
  // Only the given range counts, and float reads to the nearest float.
  const char text[] = "16777217.5";
  float f = 0;
  EXPECT_EQ(FromChars(text, text + 8, f).ptr, text + 8);
  EXPECT_EQ(f, 16777216.0f);
  const char big[] = "1e39";
  EXPECT_EQ(FromChars(big, big + 4, f).ec, std::errc::result_out_of_range);
  EXPECT_EQ(f, 16777216.0f);
}

}  // namespace
}  // namespace tessmar
