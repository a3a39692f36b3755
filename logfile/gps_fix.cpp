#include "logfile/gps_fix.h"

#include "logfile/calendar.h"
#include "logfile/log_entry.h"

namespace tessmar {

int DecodeGpsEntry(std::span<const std::uint8_t> entry, GpsFix& fix) {
  if (entry.size() < 16) return 0;
  const std::uint8_t* e = entry.data();
  const EntryClass cls = ClassifyEntry(e);
  if (cls == EntryClass::kGps1) {
    const GpsEntry1 g = DecodeGpsEntry1(e);
    fix.quality = static_cast<std::uint8_t>(g.quality);
    fix.status = g.warning ? 'V' : 'A';
    fix.satellites = static_cast<std::uint8_t>(g.satellites);
    fix.hdop = g.hdop10 * 0.1;
    fix.hour = static_cast<std::uint8_t>(g.Hour());
    fix.minute = static_cast<std::uint8_t>(g.Minute());
    fix.second = static_cast<std::uint8_t>(g.Second());
    fix.hundredths = static_cast<std::uint8_t>(g.Hundredths());
    fix.time_valid = g.HasTime() ? 1 : 0;
    fix.day = static_cast<std::uint8_t>(g.Day());
    fix.month = static_cast<std::uint8_t>(g.Month());
    fix.year2000 = static_cast<std::uint8_t>(g.Year() - 2000);
    fix.date_valid = g.HasDate() ? 1 : 0;
    fix.speed = g.speed10 * 0.1;
    return 1;
  }
  if (cls == EntryClass::kGps2) {
    const GpsEntry2 g = DecodeGpsEntry2(e);
    fix.height = g.height10 * 0.1;
    fix.latitude = g.latitude;
    fix.longitude = g.longitude;
    fix.position_valid = 1;
    return 2;
  }
  return 0;
}

bool GpsFixHasPosition(const GpsFix& fix) {
  return fix.quality != 0 && fix.satellites > 2 && fix.position_valid;
}

double GpsFixTime(const GpsFix& fix) {
  long long days = DaysFromCivil(2000 + fix.year2000, fix.month, fix.day);
  double seconds =
      static_cast<double>(days) * 86400.0 + fix.hour * 3600.0 + fix.minute * 60.0 + fix.second;
  return seconds + fix.hundredths * 0.01;
}

GpsDms GpsToDms(std::int32_t hundredths_of_arcsec) {
  std::int64_t v = hundredths_of_arcsec;
  if (v < 0) v = -v;
  v += 5;
  GpsDms d;
  d.degrees = static_cast<int>(v / 360000 % 180);
  d.minutes = static_cast<int>((v % 360000) / 6000 % 60);
  d.seconds = static_cast<int>((v % 6000) / 100 % 60);
  d.tenths = static_cast<int>((v % 100) / 10);
  return d;
}

}  // namespace tessmar
