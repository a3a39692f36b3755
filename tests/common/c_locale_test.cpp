#include "common/c_locale.h"

#include <gtest/gtest.h>

#include <cstdio>

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

}  // namespace
}  // namespace tessmar
