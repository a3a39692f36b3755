#include "logfile/calendar.h"

#include <cmath>
#include <cstdio>

namespace tessmar {
namespace {

constexpr long double kClampSeconds = 3.0e13L;

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  // Carry the month into the year first so that 0 or 13 behave like the neighbouring years.
  year += FloorDiv(month - 1, 12);
  month = month - 1 - 12 * FloorDiv(month - 1, 12) + 1;
  // Count years from March so that the leap day is the last day of the counted year.
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;                          // 0..399
  const int64_t mp = (month + 9) % 12;                        // March = 0
  const int64_t doy = (153 * mp + 2) / 5;                     // day of year of the 1st
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;  // 0..146096
  return era * 146097 + doe - 719468 + (day - 1);
}

int64_t DateToSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                      int64_t second) {
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

CalendarTime SecondsToCalendar(long double seconds) {
  if (!std::isfinite(seconds)) seconds = 0;
  if (seconds > kClampSeconds) seconds = kClampSeconds;
  if (seconds < -kClampSeconds) seconds = -kClampSeconds;
  // Half a microsecond absorbs binary rounding, so that a time stored as 12.78 is not shown as
  // 12.77 by the truncating formatter.
  seconds += 5e-7L;
  const long double whole = std::floor(seconds);
  CalendarTime t;
  t.fraction = static_cast<double>(seconds - whole);
  if (t.fraction >= 1.0) t.fraction = 0.0;
  const int64_t s = static_cast<int64_t>(whole);
  int64_t days = FloorDiv(s, 86400);
  const int64_t sod = s - days * 86400;
  t.hour = static_cast<int>(sod / 3600);
  t.minute = static_cast<int>(sod / 60 % 60);
  t.second = static_cast<int>(sod % 60);
  // Inverse of DaysFromCivil.
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = yoe + era * 400 + (t.month <= 2 ? 1 : 0);
  return t;
}

const char* FormatDateTime(long double seconds, char* buf, int size) {
  const CalendarTime t = SecondsToCalendar(seconds);
  int hundredths = static_cast<int>(t.fraction * 100.0);
  if (hundredths > 99) hundredths = 99;
  std::snprintf(buf, static_cast<size_t>(size), "%04lld-%02d-%02d %02d:%02d:%02d.%02d",
                static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second,
                hundredths);
  return buf;
}

std::string FormatDateTime(long double seconds) {
  char buf[48];
  return FormatDateTime(seconds, buf, sizeof buf);
}

}  // namespace tessmar
