#pragma once
// Calendar arithmetic for logger times: seconds since 1970-01-01 00:00:00 in the proleptic
// Gregorian calendar, with no time zone and no daylight-saving correction. The logger's clock
// has no notion of time zones, so neither has the converter.

#include <cstdint>
#include <string>

namespace tessmar {

// Extended-precision seconds, used for absolute times and seconds since tick 0.
using ExtTime = long double;

// Days since 1970-01-01 of a calendar date. A month outside 1..12 is carried into the year and a
// day outside the month is counted on from the first of the month, so any input gives a result.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);

// Seconds since 1970-01-01 00:00:00 of a calendar date and time (fields are carried like the day).
int64_t DateToSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                      int64_t second);

struct CalendarTime {
  int64_t year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  double fraction = 0.0;  // 0 <= fraction < 1
};

// The calendar fields of a time in seconds since 1970 (whole seconds by flooring, so times
// before 1970 count backwards correctly). Non-finite or absurd times are clamped to about
// +-3e13 s (year +-1,000,000) so the result is always defined.
CalendarTime SecondsToCalendar(long double seconds);

// "YYYY-MM-DD hh:mm:ss.ss": the form of every time in the decoding messages. The hundredths are
// truncated, not rounded.
std::string FormatDateTime(long double seconds);

// Writes the same text into buf (at least 32 bytes); returns buf. For messages built without
// allocation.
const char* FormatDateTime(long double seconds, char* buf, int size);

}  // namespace tessmar
