#pragma once
// Numbers in text for tests. Every test program runs in the locale of its environment (the shared
// test main adopts it), and scripts/test runs them once more under a decimal-comma locale. Test
// oracles therefore read and write numbers in the "C" locale, and the tests of the program's
// independence from the locale switch to a decimal-comma locale themselves.

#include <clocale>
#include <cstdlib>
#include <string>

#include "common/c_locale.h"

namespace tessmar::testing_util {

// std::stod in the "C" locale (0 when the text holds no number).
inline double CStod(const std::string& text) { return StrtodC(text.c_str(), nullptr); }

// Switches the process to a decimal-comma locale while it exists, then back to the locale it had.
// It takes the environment's locale when that has a decimal comma, else de_DE.UTF-8 from the
// system or from the folder scripts/test generates it into (TESSMAR_LOCALE_DIR). available() is
// false when there is none.
class DecimalCommaLocale {
 public:
  DecimalCommaLocale() {
    const char* current = std::setlocale(LC_ALL, nullptr);
    previous_ = current ? current : "C";
    available_ = Use("") || Use("de_DE.UTF-8") || Use("de_DE.utf8") || UseGenerated();
    if (!available_) std::setlocale(LC_ALL, previous_.c_str());
  }
  ~DecimalCommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  DecimalCommaLocale(const DecimalCommaLocale&) = delete;
  DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

  bool available() const { return available_; }

 private:
  static bool Use(const char* name) {
    return std::setlocale(LC_ALL, name) != nullptr && *std::localeconv()->decimal_point == ',';
  }
  // The C library looks for locales in LOCPATH at the time of the switch; once loaded, the
  // locale stays usable after LOCPATH is gone.
  static bool UseGenerated() {
#ifdef TESSMAR_LOCALE_DIR
    if (std::getenv("LOCPATH") != nullptr) return false;
    setenv("LOCPATH", TESSMAR_LOCALE_DIR, 1);
    const bool ok = Use("de_DE.UTF-8");
    unsetenv("LOCPATH");
    return ok;
#else
    return false;
#endif
  }

  std::string previous_;
  bool available_ = false;
};

// Why a test that needs the decimal-comma locale was skipped.
inline constexpr const char* kNoDecimalCommaLocale =
    "no decimal-comma locale (scripts/test generates de_DE.UTF-8 into build/locale)";

}  // namespace tessmar::testing_util
