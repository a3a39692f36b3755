#pragma once
// Number reading and formatting shared by the writers. The formatters give exactly the text of
// the printf conversions named beside them, without going through printf.

#include <charconv>
#include <cstddef>
#include <string_view>

namespace tessmar {

// Reads a number with the program's real reader (blanks, sign, radix prefixes, decimals, exponent
// applied within -30..30) from the start of text. Returns the number of characters used, 0 when
// no digit was read.
std::size_t ReadDecimalNumber(std::string_view text, double& value);

// Appends "%lg" (or "%.<precision>lg") of value at out; returns the end. Needs at most 32 bytes.
inline char* AppendG(char* out, double value, int precision = 6) {
  return std::to_chars(out, out + 32, value, std::chars_format::general, precision).ptr;
}

// Appends "%.<decimals>lf" of value at out; returns the end. Needs at most 340 bytes for huge
// values; callers with bounded values need far less.
inline char* AppendFixed(char* out, char* end, double value, int decimals) {
  auto result = std::to_chars(out, end, value, std::chars_format::fixed, decimals);
  return result.ec == std::errc() ? result.ptr : out;
}

}  // namespace tessmar
