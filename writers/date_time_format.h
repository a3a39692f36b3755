#pragma once
// Date and time formatter and parser for patterns like "YYYY-MM-DD hh:mm:ss.ss".
//
// Times are seconds since 1970-01-01 00:00:00 in the proleptic Gregorian calendar, with no time
// zone conversion.
//
// Pattern groups (case matters): "YYYY" "YYY" "YY" "Y" year (4 digits, last 3, 2, 1); "MM" "M"
// month (2 digits, 1 or 2 digits); "MMM" month name in capitals, "Mmm" month name; "DD" "D" day;
// "hh" "h" hour; "mm" "m" minute; "ss" "s" second; "ss.s", "ss.ss", ... seconds, a period and as
// many truncated digits of the fraction as there are "s" after the period. Other characters are
// copied.

#include <cstddef>
#include <string>
#include <string_view>

#include "logfile/calendar.h"

namespace tessmar {

inline constexpr const char* kDateTimePattern = "YYYY-MM-DD hh:mm:ss";
inline constexpr const char* kDateTimeFractionPattern = "YYYY-MM-DD hh:mm:ss.ss";

struct CivilTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  double fraction = 0;  // 0 <= fraction < 1
  int weekday = 4;      // 0 Monday .. 6 Sunday (1970-01-01 was a Thursday)
};

// Splits seconds since 1970 into calendar fields (whole seconds by flooring, after forgiving
// one microsecond of floating-point error below a boundary).
CivilTime ToCivil(double seconds);

// Writes the formatted time into out (NUL terminated, at most capacity - 1 characters) and
// returns its length. No allocation: meant for the rows of an output file.
std::size_t FormatDateTimeTo(char* out, std::size_t capacity, double seconds,
                             std::string_view pattern, bool german = false);
std::string FormatTimePattern(double seconds, std::string_view pattern, bool german = false);

// Parses text against a pattern; fields the pattern does not set are 0 (year 0 becomes the year
// 0 of the calendar). Returns seconds since 1970 plus the fraction of the second.
double ParseDateTime(std::string_view text, std::string_view pattern, bool german = false);

// Three-letter month names: English "Jan".."Dec", German "Jan".."Dez" ("Mär" in UTF-8).
const char* MonthName(int month, bool german);
// German three-letter weekday names used by the Vector ASCII header: "Mon", "Die", ... "Son".
const char* GermanWeekdayName(int weekday);

}  // namespace tessmar
