#pragma once
// GPS fixes from the logger's two GPS entries, the GPS variables a GPS column may use, and the
// left-to-right evaluation of GPS column expressions.

#include <cstdint>
#include <span>
#include <string_view>

namespace tessmar {

inline constexpr std::uint8_t kGpsEntry1Type = 0xA1;        // quality, time, date, speed
inline constexpr std::uint8_t kGpsEntry2Type = 0xA2;        // position, height
inline constexpr std::int32_t kGpsUnitsPerDegree = 360000;  // hundredths of an arc second

// One GPS fix, assembled from GPS entries 1 and 2. Values persist from entry to entry.
struct GpsFix {
  std::uint8_t hour = 0, minute = 0, second = 0, hundredths = 0;
  std::uint8_t time_valid = 0;
  std::uint8_t year2000 = 0, month = 0, day = 0;  // year - 2000
  std::uint8_t date_valid = 0;
  char status = 0;             // 'A' valid, 'V' receiver warning
  std::int32_t latitude = 0;   // hundredths of an arc second, north positive
  std::int32_t longitude = 0;  // hundredths of an arc second, east positive
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

// Result codes of the expression evaluation.
inline constexpr int kGpsExprNumber = 0;
inline constexpr int kGpsExprText = 2;
inline constexpr int kGpsExprDivByZero = -1;
inline constexpr int kGpsExprSyntax = -2;
inline constexpr int kGpsExprUnknownName = -3;
inline constexpr int kGpsExprUnknownOperator = -4;
inline constexpr int kGpsExprInvalidTime = -6;
// A variable of the position solution (lat, lon, lat_i, lon_i, hasl, speed, hdop) read while the
// fix has no position (GpsFixHasPosition false); like -6, the number is still delivered.
inline constexpr int kGpsExprNoPosition = -7;

struct GpsExprResult {
  int code = kGpsExprNumber;
  double value = 0;
};

// Evaluates a GPS column expression strictly from left to right, without precedence: operand,
// then any number of (operator, operand) pairs; operands are numbers or "gps.<variable>";
// operators + - * / %. A text variable (code 2), an invalid time (code -6) or a missing position
// (code -7) keeps its code as the result unless a later error occurs; the number is delivered in
// every case.
GpsExprResult EvaluateGpsExpression(std::string_view text, const GpsFix& fix);

// Text of a text variable ("dstr", "tstr", "pos") for display; writes at most capacity - 1
// characters and a NUL; returns the length, or -1 when the name is not a text variable.
int GpsVariableText(std::string_view name, const GpsFix& fix, char* out, int capacity);

}  // namespace tessmar
