#pragma once
// Texts made from GPS fixes: GPS column values for the text outputs (digit patterns, date
// patterns), NMEA 0183 sentences ($GPRMC, $GPGGA) and the lines of the text track file.

#include <string>
#include <string_view>

#include "logfile/gps_fix.h"

namespace tessmar {

// A GPS column's format text, analysed once so that formatting a value per row is cheap.
struct GpsValueFormat {
  enum class Kind { kGeneral, kDigits, kDateTime };
  Kind kind = Kind::kGeneral;
  // kDigits: text before and after the placeholders, the least number of integer digits ('0'
  // before the point), the decimals always shown ('0' after the point) and at most shown ('0'
  // and '#' after the point).
  std::string prefix, suffix;
  int min_integer_digits = 0;
  int min_decimals = 0;
  int max_decimals = 0;
  // kDateTime: the pattern for the date and time formatter.
  std::string date_pattern;
};

// By the first character: "#" or "0" a digit pattern ("##0.00000": at least one integer digit and
// five decimals); "Y", "M", "D", "h", "m" or "s" a date and time pattern ("YYYY-MM-DD",
// "hh:mm:ss", "YYMMDDhhmmss"); anything else "%.7lg".
GpsValueFormat ParseGpsValueFormat(std::string_view format);

// Writes the value into out (capacity bytes, NUL terminated); returns the length. Date patterns
// format the value truncated to whole seconds since 1970-01-01 00:00:00. Numbers always use a
// period; text outputs replace it by their decimal separator.
int FormatGpsValue(double value, const GpsValueFormat& format, char* out, int capacity);
std::string FormatGpsValue(double value, std::string_view format);

// XOR of all characters of the sentence body (between "$" and "*").
unsigned NmeaChecksum(std::string_view body);

// "$GPRMC,...*hh\r\n" and "$GPGGA,...*hh\r\n" of a fix.
std::string NmeaGprmc(const GpsFix& fix);
std::string NmeaGpgga(const GpsFix& fix);

// The text track file: a first line naming the fields, then one line per fix:
//   date time latitude longitude height speed quality satellites HDOP status
// e.g. "2017-10-19 12:34:56.78  48.5083333   11.1234567   512.3   54.0 1 08  1.2 A".
// A date the receiver did not deliver is written as "----------" and a missing time as
// "--:--:--.--": same width as a real value, so the columns stay aligned, and no reader can take
// it for a date. Latitude and longitude in decimal degrees (south and west negative, 7 decimals);
// height in m above sea level; speed in km/h. Quality 0 marks a fix without position. Lines end
// in CR LF.
inline constexpr char kTrackNoDate[] = "----------";
inline constexpr char kTrackNoTime[] = "--:--:--.--";
std::string TextTrackHeader();
std::string TextTrackLine(const GpsFix& fix);

}  // namespace tessmar
