#include "common/c_locale.h"

#include <locale.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tessmar {
namespace {

// Created once and never freed: it lives as long as the process may format numbers.
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
  return c;
}

// Switches the calling thread to the "C" locale while it exists, then back to what the thread
// used before. uselocale(0) only queries, so a failed newlocale leaves the locale as it is.
class ScopedCLocale {
 public:
  ScopedCLocale() : previous_(uselocale(CLocale())) {}
  ~ScopedCLocale() { uselocale(previous_); }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

int VsnprintfC(char* buffer, std::size_t size, const char* format, va_list args) {
  ScopedCLocale c_locale;
  return std::vsnprintf(buffer, size, format, args);
}

int SnprintfC(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = VsnprintfC(buffer, size, format, args);
  va_end(args);
  return n;
}

double StrtodC(const char* text, char** end) {
  const locale_t c = CLocale();
  return c != locale_t{} ? strtod_l(text, end, c) : std::strtod(text, end);
}

std::string FormatG(double value) {
  char text[64];
  SnprintfC(text, sizeof text, "%g", value);
  return text;
}

std::string FormatGRoundTrip(double value, bool upper_case) {
  char text[64];
  const char* format = upper_case ? "%.*lG" : "%.*lg";
  int precision = 6;
  for (;; ++precision) {
    const int n = SnprintfC(text, sizeof text, format, precision, value);
    // 17 digits give back every double; no number and infinities have no more digits.
    if (precision >= 17 || !std::isfinite(value) || n <= 0) break;
    double back = 0;
    const std::from_chars_result r = FromChars(text, text + n, back);
    if (r.ec == std::errc() && back == value) break;
  }
  return text;
}

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L

std::from_chars_result FromChars(const char* first, const char* last, double& value) {
  return std::from_chars(first, last, value);
}

std::from_chars_result FromChars(const char* first, const char* last, float& value) {
  return std::from_chars(first, last, value);
}

#else

namespace {

template <typename T>
std::from_chars_result FromCharsByStrto(const char* first, const char* last, T& value) {
  // strtod also takes leading blanks, a '+' and hexadecimal numbers, which from_chars does not
  // ("0x1p3" is the number 0 followed by "x1p3").
  const char* p = first;
  if (p != last && *p == '-') ++p;
  if (p == last || *p == '+' || std::strchr(" \t\n\v\f\r", *p) != nullptr) {
    return {first, std::errc::invalid_argument};
  }
  const bool hexadecimal = last - p > 1 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  // strtod needs a terminated text: numbers are short, longer texts take the heap.
  char small[64];
  std::string large;
  const std::size_t length = hexadecimal ? static_cast<std::size_t>(p + 1 - first)
                                         : static_cast<std::size_t>(last - first);
  char* text = small;
  if (length >= sizeof small) {
    large.assign(first, length);
    text = large.data();
  } else {
    std::memcpy(small, first, length);
    small[length] = '\0';
  }
  const locale_t c = CLocale();
  char* end = nullptr;
  errno = 0;
  T result;
  if constexpr (sizeof(T) == sizeof(float)) {
    result = c != locale_t{} ? strtof_l(text, &end, c) : std::strtof(text, &end);
  } else {
    result = c != locale_t{} ? strtod_l(text, &end, c) : std::strtod(text, &end);
  }
  if (end == text) return {first, std::errc::invalid_argument};
  const char* stop = first + (end - text);
  // strtod reports ERANGE for overflow, underflow to zero and inexact tiny results; only the first
  // two are out of range for from_chars, which then leaves the value as it was.
  if (errno == ERANGE && (std::isinf(result) || result == 0)) {
    return {stop, std::errc::result_out_of_range};
  }
  value = result;
  return {stop, std::errc()};
}

}  // namespace

std::from_chars_result FromChars(const char* first, const char* last, double& value) {
  return FromCharsByStrto(first, last, value);
}

std::from_chars_result FromChars(const char* first, const char* last, float& value) {
  return FromCharsByStrto(first, last, value);
}

#endif

}  // namespace tessmar
