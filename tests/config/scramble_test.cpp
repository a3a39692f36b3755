#include "config/scramble.h"

#include <gtest/gtest.h>

#include <string>

namespace tessmar {
namespace {

bool IsAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

TEST(Scramble, KeyFromPassword) {
  EXPECT_EQ(KeyFromPassword(""), 0);
  // Worked by hand: R = 0x3C6A, feedback 1, ((R << 1) ^ 'a') | 1 = 0x78B5.
  EXPECT_EQ(KeyFromPassword("a"), 0x78B5);
  for (const char* p : {"secret", "x", "A much longer password with blanks!"}) {
    const int32_t k = KeyFromPassword(p);
    EXPECT_GE(k, 0);
    EXPECT_LE(k, 0x7FFF);
  }
  EXPECT_TRUE(PasswordProtects("pw"));
  EXPECT_FALSE(PasswordProtects(" pw"));
  EXPECT_FALSE(PasswordProtects(""));
}

TEST(Scramble, HandWorkedVectors) {
  // Key 1: 'A' moves by 1; then S = step(1) ^ 'A' = 2 ^ 0x41 = 0x43 (67), 67 mod 26 = 15.
  EXPECT_EQ(Scrambled("AA", 1), "BP");
  EXPECT_EQ(Scrambled("0", 1), "1");
  EXPECT_EQ(Scrambled("z", 1), "a");
  EXPECT_EQ(Unscrambled("BP", 1), "AA");
}

TEST(Scramble, KeepsPunctuationLengthAndLineStructure) {
  const std::string text =
      "Sig00: id=0x123,sn=\"Speed [km/h]\",fa=1.5E-05 ; {x} \\ ~\r\nSig00: id=0x123";
  const int32_t key = KeyFromPassword("secret");
  const std::string s = Scrambled(text, key);
  ASSERT_EQ(s.size(), text.size());
  EXPECT_NE(s, text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(IsAlnum(s[i]), IsAlnum(text[i])) << i;
    if (!IsAlnum(text[i])) {
      EXPECT_EQ(s[i], text[i]) << i;
    }
  }
  // The register restarts after a line end: both copies of the line scramble alike.
  const std::size_t second = text.find("\r\n") + 2;
  EXPECT_EQ(s.substr(second), Scrambled(text.substr(second), key));
  EXPECT_EQ(s.substr(second), s.substr(0, text.size() - second));
}

TEST(Scramble, RoundTripForEveryKey) {
  const std::string line = "InfoString=\"Test 0815, Zz9 - Aa0\"";
  std::string work;
  for (int32_t key = 1; key <= 32767; ++key) {
    work = line;
    ScrambleInPlace(work, key);
    UnscrambleInPlace(work, key);
    ASSERT_EQ(work, line) << "key " << key;
  }
}

TEST(Scramble, KeyZeroCopiesAndOutputLimitIsKept) {
  EXPECT_EQ(Scrambled("Hello 123", 0), "Hello 123");
  char out[6];
  EXPECT_EQ(ScrambleText("Hello world", out, sizeof out, 77), 5u);
  EXPECT_EQ(out[5], '\0');
  char back[6];
  EXPECT_EQ(UnscrambleText(std::string_view(out, 5), back, sizeof back, 77), 5u);
  EXPECT_STREQ(back, "Hello");
  EXPECT_EQ(ScrambleText("abc", nullptr, 0, 77), 0u);
  // Bytes above 127 pass unchanged and still round-trip.
  const std::string high = "\xE4\xF6\xFC abc";
  EXPECT_EQ(Unscrambled(Scrambled(high, 4321), 4321), high);
}

}  // namespace
}  // namespace tessmar
