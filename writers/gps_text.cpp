#include "writers/gps_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/c_locale.h"
#include "writers/date_time_format.h"
#include "writers/number_text.h"

namespace tessmar {

namespace {

// NMEA speed factor km/h -> knots as the logger's tools have always used it.
constexpr double kKnotsPerKmh = 0.5399555555519606;

int CopyOut(std::string_view text, char* out, int capacity) {
  if (capacity <= 0) return 0;
  int n = static_cast<int>(text.size());
  if (n > capacity - 1) n = capacity - 1;
  std::memcpy(out, text.data(), static_cast<std::size_t>(n));
  out[n] = '\0';
  return n;
}

// Minutes with four decimals of an NMEA position field: "%02d%02d" / "%03d%02d", ".%04d,%c".
void AppendNmeaPosition(std::string& s, std::int32_t value, bool longitude) {
  GpsDms d = GpsToDms(value);
  int frac = (d.seconds * 10000 + d.tenths * 1000 + 29) / 60;
  if (frac > 9999) frac = 9999;
  char buf[32];
  char hemisphere = longitude ? (value < 0 ? 'W' : 'E') : (value < 0 ? 'S' : 'N');
  std::snprintf(buf, sizeof buf, longitude ? "%03d%02d.%04d,%c" : "%02d%02d.%04d,%c", d.degrees,
                d.minutes, frac, hemisphere);
  s += buf;
}

void AppendNmeaTime(std::string& s, const GpsFix& fix) {
  if (!fix.time_valid) return;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d.%02d", fix.hour, fix.minute, fix.second,
                fix.hundredths);
  s += buf;
}

std::string FinishSentence(std::string body) {
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", NmeaChecksum(body));
  return "$" + body + tail;
}

}  // namespace

GpsValueFormat ParseGpsValueFormat(std::string_view format) {
  GpsValueFormat f;
  if (format.empty()) return f;
  char c = format.front();
  if (c == 'Y' || c == 'M' || c == 'D' || c == 'h' || c == 'm' || c == 's') {
    f.kind = GpsValueFormat::Kind::kDateTime;
    f.date_pattern = std::string(format);
    return f;
  }
  if (c != '#' && c != '0') return f;
  f.kind = GpsValueFormat::Kind::kDigits;
  std::size_t i = 0;
  bool after_point = false;
  for (; i < format.size(); ++i) {
    char p = format[i];
    if (p == '0') {
      if (after_point) {
        ++f.min_decimals;
        ++f.max_decimals;
      } else {
        ++f.min_integer_digits;
      }
    } else if (p == '#') {
      if (after_point) ++f.max_decimals;
    } else if (p == '.' && !after_point) {
      after_point = true;
    } else if (p != ',') {  // a thousands mark is accepted and ignored
      break;
    }
  }
  f.suffix = std::string(format.substr(i));
  if (f.max_decimals > 15) f.max_decimals = 15;
  if (f.min_decimals > f.max_decimals) f.min_decimals = f.max_decimals;
  if (f.min_integer_digits > 20) f.min_integer_digits = 20;
  return f;
}

int FormatGpsValue(double value, const GpsValueFormat& format, char* out, int capacity) {
  if (capacity <= 0) return 0;
  char buf[512];
  switch (format.kind) {
    case GpsValueFormat::Kind::kGeneral: {
      char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 7).ptr;
      return CopyOut(std::string_view(buf, static_cast<std::size_t>(end - buf)), out, capacity);
    }
    case GpsValueFormat::Kind::kDateTime: {
      double whole = std::trunc(value);
      if (!std::isfinite(whole)) whole = 0;
      return static_cast<int>(FormatDateTimeTo(out, static_cast<std::size_t>(capacity),
                                               std::fmax(-1.0e13, std::fmin(1.0e13, whole)),
                                               format.date_pattern));
    }
    case GpsValueFormat::Kind::kDigits:
      break;
  }
  if (!std::isfinite(value)) {
    char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 7).ptr;
    return CopyOut(std::string_view(buf, static_cast<std::size_t>(end - buf)), out, capacity);
  }
  // Round to the most decimals shown, then drop optional trailing zeros.
  char digits[400];
  char* end = AppendFixed(digits, digits + sizeof digits, std::fabs(value), format.max_decimals);
  std::string_view text(digits, static_cast<std::size_t>(end - digits));
  std::size_t point = text.find('.');
  std::string_view integer = text.substr(0, point);
  std::string_view decimals =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  while (static_cast<int>(decimals.size()) > format.min_decimals && decimals.back() == '0') {
    decimals.remove_suffix(1);
  }
  bool all_zero = integer.find_first_not_of('0') == std::string_view::npos &&
                  decimals.find_first_not_of('0') == std::string_view::npos;
  if (integer == "0" && format.min_integer_digits == 0) integer = std::string_view();
  std::string s = format.prefix;
  if (value < 0 && !all_zero) s += '-';
  for (int k = static_cast<int>(integer.size()); k < format.min_integer_digits; ++k) s += '0';
  s += integer;
  if (!decimals.empty()) {
    s += '.';
    s += decimals;
  }
  s += format.suffix;
  return CopyOut(s, out, capacity);
}

std::string FormatGpsValue(double value, std::string_view format) {
  char buf[256];
  int n = FormatGpsValue(value, ParseGpsValueFormat(format), buf, sizeof buf);
  return std::string(buf, static_cast<std::size_t>(n));
}

unsigned NmeaChecksum(std::string_view body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  return sum;
}

std::string NmeaGprmc(const GpsFix& fix) {
  std::string s = "GPRMC,";
  AppendNmeaTime(s, fix);
  s += ',';
  s += fix.status ? fix.status : 'V';
  s += ',';
  AppendNmeaPosition(s, fix.latitude, false);
  s += ',';
  AppendNmeaPosition(s, fix.longitude, true);
  s += ',';
  char buf[64];
  SnprintfC(buf, sizeof buf, "%.1lf", fix.speed * kKnotsPerKmh);
  s += buf;
  // The recording holds no course over ground: the field stays empty rather than claiming 0.
  s += ",,";
  if (fix.date_valid) {
    std::snprintf(buf, sizeof buf, "%02d%02d%02d", fix.day, fix.month, (fix.year2000 + 2000) % 100);
    s += buf;
  }
  s += ",,,";
  switch (fix.quality) {
    case 1:
      s += 'A';
      break;
    case 2:
      s += 'D';
      break;
    case 6:
      s += 'E';
      break;
    default:
      s += 'N';
      break;
  }
  return FinishSentence(std::move(s));
}

std::string NmeaGpgga(const GpsFix& fix) {
  std::string s = "GPGGA,";
  AppendNmeaTime(s, fix);
  s += ',';
  AppendNmeaPosition(s, fix.latitude, false);
  s += ',';
  AppendNmeaPosition(s, fix.longitude, true);
  char buf[96];
  SnprintfC(buf, sizeof buf, ",%d,%02d,%.1f,%.1f,M,,M,,", fix.quality, fix.satellites, fix.hdop,
            fix.height);
  s += buf;
  return FinishSentence(std::move(s));
}

std::string TextTrackHeader() {
  return "; date time latitude/deg longitude/deg height/m speed/(km/h) quality satellites HDOP "
         "status\r\n";
}

std::string TextTrackLine(const GpsFix& fix) {
  char date[16];
  char time[16];
  if (fix.date_valid) {
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", fix.year2000 + 2000, fix.month, fix.day);
  } else {
    std::snprintf(date, sizeof date, "%s", kTrackNoDate);
  }
  if (fix.time_valid) {
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.%02d", fix.hour, fix.minute, fix.second,
                  fix.hundredths);
  } else {
    std::snprintf(time, sizeof time, "%s", kTrackNoTime);
  }
  char line[192];
  SnprintfC(line, sizeof line, "%s %s %11.7f %12.7f %7.1f %6.1f %d %02d %4.1f %c\r\n", date, time,
            fix.latitude / static_cast<double>(kGpsUnitsPerDegree),
            fix.longitude / static_cast<double>(kGpsUnitsPerDegree), fix.height, fix.speed,
            fix.quality, fix.satellites, fix.hdop, fix.status ? fix.status : 'V');
  return line;
}

}  // namespace tessmar
