#include "common/c_locale.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    const std::from_chars_result r = std::from_chars(text, text + n, back);
    if (r.ec == std::errc() && back == value) break;
  }
  return text;
}

}  // namespace tessmar
