#include "writers/number_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
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

// The integer fast path of G against the library's own %g conversion: random scaled raw values
// of the kinds signals produce, values at digit boundaries and exact halves, and random bit
// patterns (no number, infinities, tiny and huge values).
TEST(NumberFormat, GeneralFastPathMatchesLibrary) {
  auto library = [](double v, int precision) {
    char buf[64];
    return std::string(
        buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision).ptr);
  };
  auto check = [&](double v) {
    for (int precision : {1, 6, 7, 11, 12, 13, 15, 16}) {
      ASSERT_EQ(Ours(numfmt::G, v, precision), library(v, precision)) << v << " " << precision;
    }
  };
  std::mt19937_64 rng(7);
  const double factors[] = {1, 0.1, 0.01, 0.001, 0.5, 0.25, 0.05, 1e-6, 3.7, 1000, 0.0001};
  for (int i = 0; i < 200000; ++i) {
    const int bits = 1 + static_cast<int>(rng() % 40);
    const auto raw =
        static_cast<std::int64_t>(rng() >> (64 - bits)) - (std::int64_t{1} << (bits - 1));
    const double factor = factors[rng() % std::size(factors)];
    check(static_cast<double>(raw) * factor + (i % 3 == 0 ? -40.0 : 0.0));
    std::uint64_t pattern = rng();
    double any = 0;
    std::memcpy(&any, &pattern, sizeof any);
    check(any);
    check(std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 90)));
  }
  for (int e = -7; e <= 14; ++e) {
    const double p10 = std::pow(10.0, e);
    for (double v : {p10, std::nextafter(p10, 0.0), std::nextafter(p10, 1e300), 9.5 * p10,
                     9.9999995 * p10, 9.99999949 * p10, 0.5 * p10, 1.5 * p10, 2.5 * p10}) {
      check(v);
      check(-v);
    }
  }
  for (double v : {0.0, -0.0, 0.125, 1e-5, 9.99995e-5, 0.0001, 123456.75}) check(v);
  // The common cases really take the fast path.
  char buf[64];
  EXPECT_NE(numfmt::GFast(buf, 12.34, 7), nullptr);
  EXPECT_NE(numfmt::GFast(buf, -0.001, 7), nullptr);
  EXPECT_NE(numfmt::GFast(buf, 1234.5678, 15), nullptr);
}

// Signal values written from their raw integer must be the library's "%.<P>lg" text of the
// computed double, also where an offset cancels the value or the decimal has too many digits.
TEST(NumberFormat, SignalValuesFromTheRawIntegerMatchTheLibrary) {
  auto library = [](double v, int precision) {
    char buf[64];
    return std::string(
        buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision).ptr);
  };
  struct Scale {
    double factor, offset;
  };
  const Scale scales[] = {{0.1, 0},   {0.01, 0}, {0.05, -100}, {0.5, -40},    {0.25, 0},
                          {0.001, 0}, {1, 0},    {0.2, 0},     {0.1, -0.3},   {0.0001, 2.5},
                          {3.7, 0},   {1e-6, 0}, {0.1, 1e9},   {0.02, -0.04}, {1, -2147483648.0}};
  std::mt19937_64 rng(11);
  int from_integer = 0, beyond_seven = 0;
  for (const Scale& s : scales) {
    const numfmt::ExactRule rule6 = numfmt::SignalRule(6, s.factor, s.offset);
    const numfmt::ExactRule rule7 = numfmt::SignalRule(7, s.factor, s.offset);
    for (int i = 0; i < 40000; ++i) {
      const int bits = 1 + static_cast<int>(rng() % 42);
      std::int64_t raw =
          static_cast<std::int64_t>(rng() >> (64 - bits)) - (std::int64_t{1} << (bits - 1));
      // Around the raw value whose physical value is zero, where the offset cancels.
      if (i < 400) raw = i - 200 + std::llround(-s.offset / s.factor);
      const double scaled = static_cast<double>(raw) * s.factor + s.offset;
      char buf[64];
      std::string ours(buf, numfmt::GExactSignal<7>(buf, scaled, raw, true, rule7));
      std::string theirs(buf, numfmt::GExact<7>(buf, scaled, rule7));
      ASSERT_EQ(ours, theirs) << raw << " " << s.factor << " " << s.offset;
      ours.assign(buf, numfmt::GExactSignal<6>(buf, scaled, raw, true, rule6));
      ASSERT_EQ(ours, std::string(buf, numfmt::GExact<6>(buf, scaled, rule6)))
          << raw << " " << s.factor << " " << s.offset;
      if (char* end = numfmt::GridG<7>(buf, rule7.grid, raw, scaled)) {
        ++from_integer;
        // Up to seven digits the text is "%.7g"; beyond, it carries the digits the exact-cell
        // rule asks for (compared with GExact above).
        const std::string text(buf, end);
        const std::size_t first = text.find_first_of("123456789");
        int digits = 0;
        for (std::size_t k = first; k < text.size(); ++k) digits += text[k] != '.' ? 1 : 0;
        if (first == std::string::npos || digits <= 7) {
          ASSERT_EQ(text, library(scaled, 7));
        } else {
          ++beyond_seven;
        }
      }
    }
  }
  EXPECT_GT(from_integer, 100000);  // the common scales take the integer way
  EXPECT_GT(beyond_seven, 10000);
  // Factors that are no short decimal, or negative, have no grid.
  EXPECT_EQ(numfmt::DecimalGrid::Of(3.7e-5, 0).multiplier, 0);
  EXPECT_EQ(numfmt::DecimalGrid::Of(-0.1, 0).multiplier, 0);
  EXPECT_EQ(numfmt::DecimalGrid::Of(0.1, 0.123456).multiplier, 0);
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
  // Row times through the kept whole seconds: growing, falling back, negative and too large.
  numfmt::RowSeconds seconds(6, '0'), blanks(4, ' ');
  std::mt19937_64 rng(3);
  double t = 0;
  for (int i = 0; i < 100000; ++i) {
    t += static_cast<double>(rng() % 30000) * 1e-7;
    if (i % 9973 == 0) t = -t / 7;
    if (i == 50000) t = 999999.99995;
    const double v = i == 70000 ? 12345678901.5 : t;
    char expect[64];
    SnprintfC(expect, sizeof expect, "%011.4f", v);
    char* end = seconds.Write(buf, v);
    if (end == nullptr) end = numfmt::FixedZeroPadded(buf, v, 11, 4);
    ASSERT_EQ(std::string(buf, end), expect) << v;
    SnprintfC(expect, sizeof expect, "%9.4f", v);
    if (char* e = blanks.Write(buf, v)) {
      ASSERT_EQ(std::string(buf, e), expect) << v;
    }
  }
  for (double v : {0.1, 2.75, 1e-5, 123456789.0, -0.000123, 1e21, 3.0}) {
    char expect[64];
    SnprintfC(expect, sizeof expect, "%.7g", v);
    EXPECT_EQ(std::string(buf, numfmt::G(buf, v, 7)), expect);
    SnprintfC(expect, sizeof expect, "%.11g", v);
    EXPECT_EQ(std::string(buf, numfmt::G(buf, v, 11)), expect);
  }
  EXPECT_EQ(std::string(buf, numfmt::Hex8(buf, 0x78FEF100)), "78FEF100");
  for (std::uint32_t v : {0u, 9u, 10u, 0xFFFFFFFFu, 0x1234ABCDu, 0xA0B0C0D0u, 0x9F9F9F9Fu}) {
    char expect[16];
    SnprintfC(expect, sizeof expect, "%08X", v);
    EXPECT_EQ(std::string(buf, numfmt::Hex8(buf, v)), expect);
  }
  EXPECT_EQ(std::string(buf, numfmt::HexUpper(buf, 0x7ff)), "7FF");
  EXPECT_EQ(std::string(buf, numfmt::Int(buf, -10)), "-10");
}

// Cells keep their usual digits where those give the value back at the column's resolution and
// take the fewest more otherwise (the signal row tests compare random values with printf).
TEST(NumberFormat, ExactCellsAtTheResolution) {
  char buf[64];
  auto exact = [&](double v, const numfmt::ExactRule& rule, bool single = false) {
    return std::string(buf, numfmt::GExact<7>(buf, v, rule, single));
  };
  EXPECT_EQ(exact(12345 * 0.1, numfmt::GridRule(7, 0.1)), "1234.5");  // an odometer in 0.1 km
  EXPECT_EQ(exact(123456789 * 0.1, numfmt::GridRule(7, 0.1)), "12345678.9");
  EXPECT_EQ(exact(4294967295.0, numfmt::GridRule(7, 1)), "4294967295");  // a 32-bit mask
  EXPECT_EQ(exact(4294967000.0, numfmt::GridRule(7, 1)), "4.294967e+09");
  // Half a step off could be either neighbour: 12345678 does not name 12345678.5.
  EXPECT_EQ(exact(12345678.5, numfmt::GridRule(7, 1)), "12345678.5");
  // Values read back as themselves: a float needs a float's digits, not a double's.
  EXPECT_EQ(exact(0.1 + 0.2, numfmt::ValueRule(7)), "0.30000000000000004");
  EXPECT_EQ(exact(150.97212f, numfmt::ValueRule(7), true), "150.97212");
  EXPECT_EQ(exact(0.1f, numfmt::ValueRule(7), true), "0.1");
}

}  // namespace
}  // namespace tessmar
