#include "writers/number_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "common/c_locale.h"
namespace tessmar {
namespace {

// The hand-written formatters must give exactly what printf gives.
std::string Ours(char* (*f)(char*, double, int), double v, int arg) {
  char buf[64];
  return std::string(buf, f(buf, v, arg));
}

std::string Printf(const char* format, double v, int arg) {
  char buf[128];
  SnprintfC(buf, sizeof buf, format, arg, v);
  return buf;
}

TEST(NumberFormat, FixedMatchesPrintf) {
  std::mt19937_64 rng(42);
  const double specials[] = {0.0,      -0.0,     0.5,      1.5,  2.5,  0.00005, 0.00015,
                             -0.00005, 1e-9,     123.4567, 1e11, 1e15, -7.25,   0.125,
                             9.99995,  99.99999, 0.1,      0.3,  1e30, -1e-300};
  for (int decimals : {0, 1, 2, 4, 6, 8}) {
    for (double v : specials) {
      EXPECT_EQ(Ours(numfmt::Fixed, v, decimals), Printf("%.*f", v, decimals))
          << v << " " << decimals;
    }
    std::uniform_real_distribution<double> small(-1000, 1000);
    std::uniform_int_distribution<int> ticks(0, 1 << 30);
    for (int i = 0; i < 20000; ++i) {
      const double a = small(rng);
      const double t = ticks(rng) / 39065.5;
      EXPECT_EQ(Ours(numfmt::Fixed, a, decimals), Printf("%.*f", a, decimals)) << a;
      EXPECT_EQ(Ours(numfmt::Fixed, t, decimals), Printf("%.*f", t, decimals)) << t;
      char buf[64], expect[64];
      SnprintfC(expect, sizeof expect, "%011.*f", decimals, a);
      EXPECT_EQ(std::string(buf, numfmt::FixedZeroPadded(buf, a, 11, decimals)), expect) << a;
    }
  }
}

TEST(NumberFormat, HugeFixedValuesStayInTheirBuffer) {
  // Beyond 40 characters a fixed number is written in the exponent form instead.
  char buf[numfmt::kMaxNumberChars];
  EXPECT_EQ(std::string(buf, numfmt::Fixed(buf, 1e300, 4)), "1.0000000000000001e+300");
}

TEST(NumberFormat, ZeroPaddedAndGeneral) {
  char buf[64];
  auto padded = [&](double v) { return std::string(buf, numfmt::FixedZeroPadded(buf, v, 11, 4)); };
  EXPECT_EQ(padded(0.125), "000000.1250");
  EXPECT_EQ(padded(-1.5), "-00001.5000");
  EXPECT_EQ(padded(123456789.0), "123456789.0000");
  for (double v : {0.1, 2.75, 1e-5, 123456789.0, -0.000123, 1e21, 3.0}) {
    char expect[64];
    SnprintfC(expect, sizeof expect, "%.7g", v);
    EXPECT_EQ(std::string(buf, numfmt::G(buf, v, 7)), expect);
    SnprintfC(expect, sizeof expect, "%.11g", v);
    EXPECT_EQ(std::string(buf, numfmt::G(buf, v, 11)), expect);
  }
  EXPECT_EQ(std::string(buf, numfmt::Hex8(buf, 0x78FEF100)), "78FEF100");
  EXPECT_EQ(std::string(buf, numfmt::HexUpper(buf, 0x7ff)), "7FF");
  EXPECT_EQ(std::string(buf, numfmt::Int(buf, -10)), "-10");
}

}  // namespace
}  // namespace tessmar
