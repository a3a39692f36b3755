#pragma once
// GPS fixes assembled from the logger's two GPS entries. The entries are decoded by
// logfile/log_entry.h; the validity of a fix's date and time follows the same rule the pre-scan
// uses, so the pre-scan, the GPS output and the previews agree on every entry.

#include <cstdint>
#include <span>

namespace tessmar {

inline constexpr std::int32_t kGpsUnitsPerDegree = 360000;  // hundredths of an arc second

// One GPS fix, assembled from GPS entries 1 and 2. Values persist from entry to entry.
struct GpsFix {
  std::uint8_t hour = 0, minute = 0, second = 0, hundredths = 0;
  std::uint8_t time_valid = 0;                    // the time of day is below 24 h
  std::uint8_t year2000 = 0, month = 0, day = 0;  // year - 2000
  std::uint8_t date_valid = 0;  // GpsEntry1::HasDate(): a possible date and time of day
  char status = 0;              // 'A' valid, 'V' receiver warning
  std::int32_t latitude = 0;    // hundredths of an arc second, north positive
  std::int32_t longitude = 0;   // hundredths of an arc second, east positive
  std::uint8_t position_valid = 0;
  double speed = 0;             // km/h
  std::uint8_t quality = 0;     // fix quality 0..3
  std::uint8_t satellites = 0;  // 0..15
  double hdop = 0;
  double height = 0;  // metres above sea level
};

// Decodes a 16-byte GPS entry into the fix: 1 for GPS entry 1, 2 for GPS entry 2, 0 for anything
// else (the fix is then unchanged). Shorter spans are not decoded (0).
int DecodeGpsEntry(std::span<const std::uint8_t> entry, GpsFix& fix);

// True when the receiver had a position solution for the fix: fix quality not 0, more than two
// satellites and a position entry read. Without one, the receiver reports placeholders (often 0
// for latitude, longitude, height and speed) that must not pass for measured values.
bool GpsFixHasPosition(const GpsFix& fix);

// Date and time of the fix in seconds since 1970-01-01 00:00:00 (no time zone), hundredths
// included. Computed from the fields whether or not they are valid.
double GpsFixTime(const GpsFix& fix);

// Position broken down for display: degrees, minutes, seconds, tenths of a second from the
// absolute value in hundredths of an arc second plus 5 (rounding to tenths).
struct GpsDms {
  int degrees, minutes, seconds, tenths;
};
GpsDms GpsToDms(std::int32_t hundredths_of_arcsec);

}  // namespace tessmar
