#include "writers/number_text.h"

#include <string>

namespace tessmar {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::size_t ReadDecimalNumber(std::string_view text, double& value) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::size_t mantissa_start = pos;
  int digits = 0;
  while (pos < text.size() && IsDigit(text[pos])) ++pos, ++digits;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos, ++digits;
  }
  if (digits == 0) return 0;
  std::size_t number_end = pos;  // end of the part handed to the conversion
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    std::size_t p = pos + 1;
    if (p < text.size() && (text[p] == '-' || text[p] == '+')) ++p;
    const std::size_t exp_digits_start = p;
    int exponent = 0;
    while (p < text.size() && IsDigit(text[p])) {
      if (exponent < 10000) exponent = exponent * 10 + (text[p] - '0');
      ++p;
    }
    if (p > exp_digits_start) {
      // Exponents beyond +-30 are read over but not applied.
      if (exponent <= 30) number_end = p;
      pos = p;
    }
  }
  std::string_view number = text.substr(mantissa_start, number_end - mantissa_start);
  // from_chars rejects a leading '.', so give it "0." in that case.
  std::string buffer;
  if (number.front() == '.') {
    buffer = "0";
    buffer += number;
    number = buffer;
  }
  double v = 0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), v);
  if (result.ec == std::errc::result_out_of_range) v = 0;  // denormal underflow
  value = negative ? -v : v;
  return pos;
}

bool ParseWholeNumber(std::string_view text, double& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  double v = 0;
  std::size_t used = ReadDecimalNumber(text, v);
  if (used == 0 || used != text.size()) return false;
  value = v;
  return true;
}

}  // namespace tessmar
