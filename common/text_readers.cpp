#include "common/text_readers.h"

#include <charconv>
#include <cstring>

#include "common/c_locale.h"

namespace tessmar {
namespace {

// Value of c as a digit of the given radix, or -1.
int DigitValue(char c, int radix) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    v = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    v = c - 'A' + 10;
  }
  return v < radix ? v : -1;
}

// Consumes a radix prefix and returns the radix (10 when there is none).
int ReadRadixPrefix(std::string_view& s) {
  if (s.empty()) return 10;
  if (s[0] == '$') {
    s.remove_prefix(1);
    return 16;
  }
  if (s[0] == '#') {
    s.remove_prefix(1);
    return 10;
  }
  if (s[0] == '%') {
    s.remove_prefix(1);
    return 2;
  }
  if (s.size() >= 2 && s[0] == '0' && s[1] == 'x') {
    s.remove_prefix(2);
    return 16;
  }
  return 10;
}

uint32_t ReadDigits32(std::string_view& s, bool* had_digits) {
  const int radix = ReadRadixPrefix(s);
  uint32_t value = 0;
  bool any = false;
  while (!s.empty()) {
    const int d = DigitValue(s[0], radix);
    if (d < 0) break;
    value = value * static_cast<uint32_t>(radix) + static_cast<uint32_t>(d);
    any = true;
    s.remove_prefix(1);
  }
  if (had_digits) *had_digits = any;
  return value;
}

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Powers of ten up to the largest exponent the real reader applies.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10,
                             1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21,
                             1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30};
constexpr int kMaxExponent = 30;
constexpr int kMaxFractionDigits = 19;  // more digits cannot change a double

// The double nearest to digits (decimal digits with at most one period) times 10^exponent;
// fallback when the number lies beyond the range of a double.
double NearestDouble(std::string_view digits, int32_t exponent, double fallback) {
  char buffer[128];
  std::string long_text;
  char* text = buffer;
  const std::size_t room = digits.size() + 8;
  if (room > sizeof buffer) {
    long_text.resize(room);
    text = long_text.data();
  }
  std::memcpy(text, digits.data(), digits.size());
  char* end = text + digits.size();
  if (exponent != 0) {
    *end++ = 'e';
    end = std::to_chars(end, text + room, exponent).ptr;
  }
  double value = 0;
  const std::from_chars_result r = FromChars(text, end, value);
  return r.ec == std::errc() && r.ptr == end ? value : fallback;
}

// Calls emit(c) for every character of the text at the front of s (after blanks).
template <typename Emit>
void ScanText(std::string_view& s, Emit emit) {
  SkipBlanks(s);
  if (!s.empty() && s[0] == '"') {
    std::size_t i = 1;
    while (i < s.size()) {
      const char c = s[i];
      if (c == '"') {
        ++i;
        break;
      }
      if (static_cast<unsigned char>(c) < 0x20) break;
      if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\')) {
        emit(s[i + 1]);
        i += 2;
        continue;
      }
      emit(c);
      ++i;
    }
    s.remove_prefix(i);
    return;
  }
  std::size_t i = 0;
  while (i < s.size() && IsWordChar(s[i])) emit(s[i++]);
  s.remove_prefix(i);
}

}  // namespace

void SkipBlanks(std::string_view& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  s.remove_prefix(i);
}

bool SkipChar(std::string_view& s, char c) {
  if (s.empty() || s[0] != c) return false;
  s.remove_prefix(1);
  return true;
}

int32_t ReadInteger(std::string_view& s, bool* had_digits) {
  SkipBlanks(s);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  uint32_t value = ReadDigits32(s, had_digits);
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

uint32_t ReadUnsigned(std::string_view& s, bool* had_digits) {
  SkipBlanks(s);
  return ReadDigits32(s, had_digits);
}

double ReadReal(std::string_view& s, bool* had_digits) {
  SkipBlanks(s);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  const int radix = ReadRadixPrefix(s);
  const char* const mantissa = s.data();
  bool any = false;
  // Integer part: exact in 64 bits while it fits, then continued as a real.
  uint64_t whole = 0;
  double big = 0.0;
  bool use_big = false;
  while (!s.empty()) {
    const int d = DigitValue(s[0], radix);
    if (d < 0) break;
    any = true;
    if (!use_big && whole > (UINT64_MAX - 15) / 16) {
      use_big = true;
      big = static_cast<double>(whole);
    }
    if (use_big) {
      big = big * radix + d;
    } else {
      whole = whole * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
    }
    s.remove_prefix(1);
  }
  double value = use_big ? big : static_cast<double>(whole);
  if (!s.empty() && s[0] == '.') {
    s.remove_prefix(1);
    uint64_t fraction = 0;
    int count = 0;
    while (!s.empty() && s[0] >= '0' && s[0] <= '9') {
      any = true;
      if (count < kMaxFractionDigits) {
        fraction = fraction * 10 + static_cast<uint64_t>(s[0] - '0');
        ++count;
      }
      s.remove_prefix(1);
    }
    if (count > 0) value += static_cast<double>(fraction) / kPow10[count];
  }
  const std::size_t mantissa_length = static_cast<std::size_t>(s.data() - mantissa);
  int32_t exponent = 0;
  if (!s.empty() && (s[0] == 'e' || s[0] == 'E')) {
    s.remove_prefix(1);
    exponent = ReadInteger(s);
    if (exponent < -kMaxExponent || exponent > kMaxExponent) exponent = 0;
    if (exponent > 0) {
      value *= kPow10[exponent];
    } else if (exponent < 0) {
      value /= kPow10[-exponent];
    }
  }
  if (radix == 10 && any) {
    // The sum and products above may be off in the last bit; the same digits and exponent
    // converted in one step give the double nearest to the number written, so that every
    // digit a writer put into the text comes back.
    value = NearestDouble(std::string_view(mantissa, mantissa_length), exponent, value);
  }
  if (had_digits) *had_digits = any;
  return negative ? -value : value;
}

std::string ReadText(std::string_view& s, std::size_t max_chars) {
  std::string text;
  ScanText(s, [&](char c) {
    if (text.size() < max_chars) text += c;
  });
  return text;
}

std::size_t ReadTextField(std::string_view& s, char* field, std::size_t field_size,
                          std::size_t max_chars) {
  if (field_size == 0) {
    ScanText(s, [](char) {});
    return 0;
  }
  if (max_chars > field_size - 1) max_chars = field_size - 1;
  std::size_t n = 0;
  ScanText(s, [&](char c) {
    if (n < max_chars) field[n++] = c;
  });
  std::memset(field + n, 0, field_size - n);
  return n;
}

void AppendQuotedText(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      const bool last = i + 1 == text.size();
      const bool ambiguous = last || text[i + 1] == '"' || text[i + 1] == '\\';
      out += ambiguous ? "\\\\" : "\\";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += ' ';
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string QuoteText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendQuotedText(out, text);
  return out;
}

bool NextTextLine(std::string_view data, std::size_t* pos, std::string_view* line,
                  std::size_t max_chars) {
  std::size_t i = *pos;
  if (i >= data.size()) return false;
  if (max_chars == 0) max_chars = 1;  // a line always advances
  const std::size_t start = i;
  while (i < data.size() && i - start < max_chars &&
         !IsLineEndChar(static_cast<unsigned char>(data[i]))) {
    ++i;
  }
  *line = data.substr(start, i - start);
  if (i < data.size() && IsLineEndChar(static_cast<unsigned char>(data[i]))) {
    const auto end = static_cast<unsigned char>(data[i]);
    ++i;
    if (i < data.size() && JoinsLineEnd(end, static_cast<unsigned char>(data[i]))) ++i;
  }
  *pos = i;
  return true;
}

}  // namespace tessmar
