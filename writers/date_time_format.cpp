#include "writers/date_time_format.h"

#include <cmath>
#include <cstring>

namespace tessmar {

namespace {

const char* const kMonthsEn[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kMonthsDe[12] = {"Jan", "Feb", "M\xC3\xA4r", "Apr", "Mai", "Jun",
                                   "Jul", "Aug", "Sep",        "Okt", "Nov", "Dez"};
const char* const kMonthsEnCaps[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                       "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const char* const kMonthsDeCaps[12] = {"JAN", "FEB", "M\xC3\x84R", "APR", "MAI", "JUN",
                                       "JUL", "AUG", "SEP",        "OKT", "NOV", "DEZ"};
const char* const kWeekdaysDe[7] = {"Mon", "Die", "Mit", "Don", "Fre", "Sam", "Son"};

// Times within this distance below a digit boundary count as that boundary, so that a time like
// 1508416496.3 (held as ...96.2999999) is not written as ...96.29. One microsecond is far below
// the logger's tick (about 26 us) and above the resolution of a double at today's dates.
constexpr double kRoundingSlack = 1e-6;

class Out {
 public:
  Out(char* buffer, std::size_t capacity) : p_(buffer), end_(buffer + capacity - 1) {}
  void Put(char c) {
    if (p_ < end_) *p_++ = c;
  }
  void PutText(const char* s) {
    while (*s) Put(*s++);
  }
  // Writes value with exactly `digits` digits (leading zeros; higher digits dropped).
  void PutFixed(long long value, int digits) {
    char tmp[24];
    if (value < 0) {
      Put('-');
      value = -value;
    }
    for (int i = digits - 1; i >= 0; --i) {
      tmp[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    for (int i = 0; i < digits; ++i) Put(tmp[i]);
  }
  void PutNumber(long long value) {
    char tmp[24];
    int n = 0;
    if (value < 0) {
      Put('-');
      value = -value;
    }
    do {
      tmp[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0 && n < 23);
    while (n > 0) Put(tmp[--n]);
  }
  char* pos() const { return p_; }

 private:
  char* p_;
  char* end_;
};

std::size_t Run(std::string_view s, std::size_t i, char c) {
  std::size_t n = 0;
  while (i + n < s.size() && s[i + n] == c) ++n;
  return n;
}

}  // namespace

CivilTime ToCivil(double seconds) {
  CivilTime c;
  if (!std::isfinite(seconds)) return c;
  const CalendarTime t = SecondsToCalendar(static_cast<long double>(seconds) + kRoundingSlack);
  c.year = static_cast<int>(t.year);
  c.month = t.month;
  c.day = t.day;
  c.hour = t.hour;
  c.minute = t.minute;
  c.second = t.second;
  c.fraction = t.fraction - kRoundingSlack;
  if (c.fraction < 0) c.fraction = 0;
  const int64_t days = DaysFromCivil(t.year, t.month, t.day);
  c.weekday = static_cast<int>(((days % 7) + 7 + 3) % 7);  // 1970-01-01 was a Thursday
  return c;
}

const char* MonthName(int month, bool german) {
  if (month < 1 || month > 12) return "???";
  return german ? kMonthsDe[month - 1] : kMonthsEn[month - 1];
}

const char* GermanWeekdayName(int weekday) {
  return (weekday >= 0 && weekday < 7) ? kWeekdaysDe[weekday] : "???";
}

std::size_t FormatDateTimeTo(char* out, std::size_t capacity, double seconds,
                             std::string_view pattern, bool german) {
  if (capacity == 0) return 0;
  const CivilTime c = ToCivil(seconds);
  Out o(out, capacity);
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char ch = pattern[i];
    if (ch == 'Y') {
      std::size_t n = Run(pattern, i, 'Y');
      if (n > 4) n = 4;
      static const int kMod[5] = {1, 10, 100, 1000, 10000};
      int y = c.year;
      if (n < 4) y = ((y % kMod[n]) + kMod[n]) % kMod[n];
      o.PutFixed(y, static_cast<int>(n));
      i += n;
    } else if (ch == 'M' && pattern.substr(i, 3) == "Mmm") {
      o.PutText(MonthName(c.month, german));
      i += 3;
    } else if (ch == 'M') {
      std::size_t n = Run(pattern, i, 'M');
      if (n >= 3) {
        o.PutText(c.month >= 1 && c.month <= 12
                      ? (german ? kMonthsDeCaps[c.month - 1] : kMonthsEnCaps[c.month - 1])
                      : "???");
        i += 3;
      } else if (n == 2) {
        o.PutFixed(c.month, 2);
        i += 2;
      } else {
        o.PutNumber(c.month);
        i += 1;
      }
    } else if (ch == 'D' || ch == 'h' || ch == 'm') {
      const int value = ch == 'D' ? c.day : ch == 'h' ? c.hour : c.minute;
      if (Run(pattern, i, ch) >= 2) {
        o.PutFixed(value, 2);
        i += 2;
      } else {
        o.PutNumber(value);
        i += 1;
      }
    } else if (ch == 's') {
      const std::size_t n = Run(pattern, i, 's') >= 2 ? 2 : 1;
      if (n == 2) {
        o.PutFixed(c.second, 2);
      } else {
        o.PutNumber(c.second);
      }
      i += n;
      if (i + 1 < pattern.size() && pattern[i] == '.' && pattern[i + 1] == 's') {
        const std::size_t run = Run(pattern, i + 1, 's');
        const std::size_t digits = run > 9 ? 9 : run;
        o.Put('.');
        long long scale = 1;
        for (std::size_t d = 0; d < digits; ++d) scale *= 10;
        long long units =
            static_cast<long long>((c.fraction + kRoundingSlack) * static_cast<double>(scale));
        if (units >= scale) units = scale - 1;
        o.PutFixed(units, static_cast<int>(digits));
        i += 1 + run;
      }
    } else {
      o.Put(ch);
      ++i;
    }
  }
  *o.pos() = '\0';
  return static_cast<std::size_t>(o.pos() - out);
}

std::string FormatTimePattern(double seconds, std::string_view pattern, bool german) {
  std::string s(pattern.size() * 4 + 32, '\0');
  s.resize(FormatDateTimeTo(s.data(), s.size(), seconds, pattern, german));
  return s;
}

namespace {

class TextReader {
 public:
  explicit TextReader(std::string_view text) : t_(text) {}
  bool AtEnd() const { return i_ >= t_.size(); }
  char Peek() const { return AtEnd() ? '\0' : t_[i_]; }
  void Skip() {
    if (!AtEnd()) ++i_;
  }
  std::string_view Rest() const { return t_.substr(i_); }
  void Advance(std::size_t n) { i_ = n > t_.size() - i_ ? t_.size() : i_ + n; }

  // Reads a number of at most max_digits digits, after blanks and tabs, with an optional sign and
  // "0x" for hexadecimal. Returns false when no digit was found.
  bool ReadNumber(int max_digits, long long* value) {
    while (!AtEnd() && (t_[i_] == ' ' || t_[i_] == '\t')) ++i_;
    bool negative = false;
    if (Peek() == '-' || Peek() == '+') {
      negative = Peek() == '-';
      ++i_;
    }
    int base = 10;
    if (Peek() == '0' && i_ + 1 < t_.size() && (t_[i_ + 1] == 'x' || t_[i_ + 1] == 'X')) {
      base = 16;
      i_ += 2;
    }
    long long v = 0;
    int digits = 0;
    while (!AtEnd() && digits < max_digits) {
      const char c = t_[i_];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) break;
      v = v * base + d;
      ++digits;
      ++i_;
    }
    *value = negative ? -v : v;
    return digits > 0;
  }

 private:
  std::string_view t_;
  std::size_t i_ = 0;
};

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Matches a month name at the start of text (either letter case); returns 1..12 or 0.
int MatchMonth(std::string_view text, bool german) {
  for (int m = 0; m < 12; ++m) {
    const char* name = german ? kMonthsDe[m] : kMonthsEn[m];
    const char* caps = german ? kMonthsDeCaps[m] : kMonthsEnCaps[m];
    const std::size_t len = std::strlen(name);
    if (text.size() < len) continue;
    bool same = true;
    for (std::size_t k = 0; k < len && same; ++k) {
      same = UpperAscii(text[k]) == UpperAscii(name[k]) || text[k] == caps[k];
    }
    if (same) return m + 1;
  }
  return 0;
}

}  // namespace

double ParseDateTime(std::string_view text, std::string_view pattern, bool german) {
  long long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  double fraction = 0;
  TextReader r(text);
  std::size_t i = 0;
  auto replace_last = [](long long field, long long digits, long long value) {
    long long mod = 1;
    for (long long k = 0; k < digits; ++k) mod *= 10;
    return field - field % mod + value % mod;
  };
  while (i < pattern.size() && !r.AtEnd()) {
    const char ch = pattern[i];
    long long v = 0;
    if (ch == 'Y') {
      std::size_t n = Run(pattern, i, 'Y');
      if (n >= 4) {
        if (r.ReadNumber(4, &v)) year = v;
        i += n;
      } else if (n >= 2) {
        if (r.ReadNumber(2, &v)) year = replace_last(year, static_cast<long long>(n), v);
        i += n;
      } else {
        if (r.ReadNumber(1, &v)) year = replace_last(year, 1, v);
        i += 1;
      }
    } else if (ch == 'M' && (pattern.substr(i, 3) == "Mmm" || Run(pattern, i, 'M') >= 3)) {
      const int m = MatchMonth(r.Rest(), german);
      if (m > 0) month = m;
      // Skip up to three letters; a matched name is skipped whole ("M\xC3\xA4r" is 4 bytes).
      std::size_t skip = m > 0 ? std::strlen(MonthName(m, german)) : 3;
      for (std::size_t k = 0; k < skip && !r.AtEnd(); ++k) {
        const unsigned char c = static_cast<unsigned char>(r.Peek());
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80)) break;
        r.Skip();
      }
      i += 3;
    } else if (ch == 'M' || ch == 'D' || ch == 'h' || ch == 'm' || ch == 's') {
      long long* field = ch == 'M'   ? &month
                         : ch == 'D' ? &day
                         : ch == 'h' ? &hour
                         : ch == 'm' ? &minute
                                     : &second;
      const std::size_t n = Run(pattern, i, ch) >= 2 ? 2 : 1;
      if (n == 2) {
        if (r.ReadNumber(2, &v)) *field = v;
      } else {
        if (r.ReadNumber(1, &v)) *field = replace_last(*field, 1, v);
      }
      i += n;
      if (ch == 's' && i + 1 < pattern.size() && pattern[i] == '.' && pattern[i + 1] == 's' &&
          r.Peek() == '.') {
        r.Skip();
        std::size_t digits = Run(pattern, i + 1, 's');
        double scale = 0.1;
        for (std::size_t d = 0; d < digits; ++d) {
          const char c = r.Peek();
          if (c < '0' || c > '9') break;
          fraction += (c - '0') * scale;
          scale /= 10;
          r.Skip();
        }
        i += 1 + digits;
      }
    } else {
      const unsigned char c = static_cast<unsigned char>(r.Peek());
      if (c >= 0x20) r.Skip();
      ++i;
    }
  }
  // Keep the calendar arithmetic away from absurd values.
  auto clamp = [](long long v, long long lo, long long hi) {
    return v < lo ? lo : v > hi ? hi : v;
  };
  year = clamp(year, -100000, 100000);
  const long long days = DaysFromCivil(year, static_cast<int>(clamp(month, -1000000, 1000000)),
                                       static_cast<int>(clamp(day, -1000000, 1000000)));
  return static_cast<double>(days) * 86400.0 +
         static_cast<double>(clamp(hour, -1e9, 1e9)) * 3600.0 +
         static_cast<double>(clamp(minute, -1e9, 1e9)) * 60.0 +
         static_cast<double>(clamp(second, -1e9, 1e9)) + fraction;
}

}  // namespace tessmar
