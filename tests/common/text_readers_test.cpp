#include "common/text_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "common/c_locale.h"

namespace tessmar {
namespace {

int32_t Int(std::string_view s) { return ReadInteger(s); }
double Real(std::string_view s) { return ReadReal(s); }

// ---- Integer reader ----------------------------------------------------------------------------

TEST(IntegerReader, RadixPrefixesAndSigns) {
  EXPECT_EQ(Int("  42"), 42);
  EXPECT_EQ(Int("-42"), -42);
  EXPECT_EQ(Int("+127"), 127);
  EXPECT_EQ(Int("$1F"), 31);
  EXPECT_EQ(Int("0x1f"), 31);
  EXPECT_EQ(Int("#0099"), 99);
  EXPECT_EQ(Int("%1011"), 11);
  EXPECT_EQ(Int("-0x10"), -16);
  // Only a lower-case x makes the prefix: "0X1F" is the number 0 followed by text.
  EXPECT_EQ(Int("0X1F"), 0);
  EXPECT_EQ(Int("%102"), 2);  // stops at the first non-binary digit
}

TEST(IntegerReader, NoDigitsGiveZeroAndCursorStops) {
  bool digits = true;
  std::string_view s = "abc";
  EXPECT_EQ(ReadInteger(s, &digits), 0);
  EXPECT_FALSE(digits);
  EXPECT_EQ(s, "abc");
  s = "12,34";
  EXPECT_EQ(ReadInteger(s, &digits), 12);
  EXPECT_TRUE(digits);
  EXPECT_EQ(s, ",34");
}

TEST(IntegerReader, Wraps32BitsWithoutOverflowCheck) {
  EXPECT_EQ(Int("0xFFFFFFFF"), -1);
  EXPECT_EQ(Int("4294967296"), 0);
  std::string_view s = "0xFFFFFFFF";
  EXPECT_EQ(ReadUnsigned(s), 0xFFFFFFFFu);
  // An absurdly long number is read to its end without harm.
  const std::string huge(100000, '9');
  std::string_view h = huge;
  ReadInteger(h);
  EXPECT_TRUE(h.empty());
}

// ---- Real reader -------------------------------------------------------------------------------

TEST(RealReader, DecimalForms) {
  EXPECT_DOUBLE_EQ(Real("39065.5"), 39065.5);
  EXPECT_DOUBLE_EQ(Real(".25"), 0.25);
  EXPECT_DOUBLE_EQ(Real("-.5"), -0.5);
  EXPECT_DOUBLE_EQ(Real("+127"), 127.0);
  EXPECT_DOUBLE_EQ(Real("1.5E-05"), 1.5e-5);
  EXPECT_DOUBLE_EQ(Real("-2.5e+3"), -2500.0);
  EXPECT_DOUBLE_EQ(Real("0.1"), 0.1);
  EXPECT_DOUBLE_EQ(Real("x"), 0.0);
}

TEST(RealReader, ExponentAppliedOnlyWithinThirty) {
  EXPECT_DOUBLE_EQ(Real("1e30"), 1e30);
  EXPECT_DOUBLE_EQ(Real("1e-30"), 1e-30);
  EXPECT_DOUBLE_EQ(Real("2e31"), 2.0);
  EXPECT_DOUBLE_EQ(Real("2e-31"), 2.0);
  EXPECT_DOUBLE_EQ(Real("3e99999999999"), 3.0);
}

TEST(RealReader, LongIntegerPartGivesTheLargeNumber) {
  EXPECT_DOUBLE_EQ(Real("18446744073709551615"), 18446744073709551615.0);
  std::string_view s = "0.12345678901234567890123456789,x";
  EXPECT_NEAR(ReadReal(s), 0.123456789012345678, 1e-17);
  EXPECT_EQ(s, ",x");
}

// Database numbers are written with as many digits as give the same double back ("%G" where six
// suffice), and the real reader returns that very double.
TEST(RealReader, ReadsBackEveryDigitWritten) {
  EXPECT_EQ(FormatGRoundTrip(1234570, true), "1.23457E+06");  // six digits: as before
  EXPECT_EQ(FormatGRoundTrip(52.123456, true), "52.123456");
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> mantissa(-10, 10);
  for (int i = 0; i < 100000; ++i) {
    const double v = mantissa(rng) * std::pow(10.0, static_cast<int>(rng() % 50) - 25);
    const std::string text = FormatGRoundTrip(v, i % 2 == 0);
    ASSERT_EQ(Real(text), v) << text;
  }
}

// ---- Text reader -------------------------------------------------------------------------------

TEST(TextReader, QuotedWithEscapes) {
  std::string_view s = R"(  "a \"b\" c:\\x\y",rest)";
  EXPECT_EQ(ReadText(s), R"(a "b" c:\x\y)");
  EXPECT_EQ(s, ",rest");
}

TEST(TextReader, UnquotedIsAWord) {
  std::string_view s = "Speed_2.x";
  EXPECT_EQ(ReadText(s), "Speed_2");
  EXPECT_EQ(s, ".x");
  s = "--unused--";
  EXPECT_EQ(ReadText(s), "");
}

TEST(TextReader, EndsAtControlCharacterOrLineEnd) {
  std::string_view s = "\"abc\tdef\"";
  EXPECT_EQ(ReadText(s), "abc");
  s = "\"unterminated";
  EXPECT_EQ(ReadText(s), "unterminated");
  EXPECT_TRUE(s.empty());
  s = "\"ends in backslash\\";
  EXPECT_EQ(ReadText(s), "ends in backslash\\");
}

TEST(TextReader, FieldCutSilentlyAndRestConsumed) {
  char field[9];
  std::string_view s = "\"0123456789ABCDEF\",next";
  EXPECT_EQ(ReadTextInto(s, field), 8u);
  EXPECT_STREQ(field, "01234567");
  EXPECT_EQ(s, ",next");
  char big[41];
  std::string_view t = "\"short\"";
  ReadTextField(t, big, sizeof big, 3);
  EXPECT_STREQ(big, "sho");
}

TEST(QuoteText, EveryTextReadsBack) {
  const std::vector<std::string> texts = {
      "",     "plain",      "C:\\dbc\\",      "\\",      "\\\\",   "a\"b", "\"",
      "\\\"", "x\\\\\"y\\", "C:\\dbc\\x.dbc", "end\\\"", "\"\"\"",
  };
  for (const auto& text : texts) {
    const std::string quoted = QuoteText(text) + ",tail";
    std::string_view s = quoted;
    EXPECT_EQ(ReadText(s), text) << quoted;
    EXPECT_EQ(s, ",tail") << quoted;
  }
  // Ordinary paths keep their single backslashes.
  EXPECT_EQ(QuoteText("C:\\dbc\\x.dbc"), "\"C:\\dbc\\x.dbc\"");
  // A control character would split the line: it is written as a blank.
  EXPECT_EQ(QuoteText("a\r\nb"), "\"a  b\"");
}

// ---- Text lines --------------------------------------------------------------------------------

std::vector<std::string> Lines(std::string_view data) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  std::string_view line;
  while (NextTextLine(data, &pos, &line)) out.emplace_back(line);
  return out;
}

TEST(TextLines, LineEndForms) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(Lines("a\nb"), (V{"a", "b"}));
  EXPECT_EQ(Lines("a\rb\r"), (V{"a", "b"}));
  // LF CR is two line ends (an empty line between), as is CR CR.
  EXPECT_EQ(Lines("a\n\rb"), (V{"a", "", "b"}));
  EXPECT_EQ(Lines("a\r\rb"), (V{"a", "", "b"}));
  // TAB belongs to the line; other control characters end it.
  EXPECT_EQ(Lines("a\tb"), (V{"a\tb"}));
  EXPECT_EQ(Lines(std::string_view("a\0b", 3)), (V{"a", "b"}));
}

TEST(TextLines, OverlongLineContinuesAsNextLine) {
  const std::string data = std::string(254, 'x') + "yz\r\n" + std::string(254, 'w') + "\r\nq";
  const auto lines = Lines(data);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string(254, 'x'));
  EXPECT_EQ(lines[1], "yz");
  EXPECT_EQ(lines[2], std::string(254, 'w'));  // exactly 254: its line end is its own
  EXPECT_EQ(lines[3], "q");
}

}  // namespace
}  // namespace tessmar
