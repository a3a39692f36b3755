#include "logfile/log_entry.h"

namespace tessmar {

ExtTime TimeEntrySeconds(const uint8_t* e) {
  const TimeEntryDate d = DecodeTimeEntryDate(e);
  return static_cast<ExtTime>(DateToSeconds(d.year, d.month, d.day, d.hour, d.minute, d.second)) +
         static_cast<ExtTime>(d.hundredths) * 0.01L;
}

bool TimeEntryFieldsValid(const uint8_t* e) {
  const TimeEntryDate d = DecodeTimeEntryDate(e);
  return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31 && d.hour <= 23 &&
         d.minute <= 59 && d.second <= 59 && d.hundredths <= 99;
}

ExpressionEntry DecodeExpressionEntry(const uint8_t* e) {
  ExpressionEntry x;
  x.index = e[1];
  x.count32 = Le32(e + 4);
  const bool usable = Le16(e + 2) == 0;
  for (int i = 0; i < 2; ++i) {
    const uint32_t bits = Le32(e + 8 + 4 * i);
    std::memcpy(&x.value[i], &bits, 4);
    x.used[i] = usable && bits != 0xFFFFFFFFu && x.index + i < 64;
  }
  return x;
}

double GpsEntry1::DateTimeSeconds() const {
  return static_cast<double>(DateToSeconds(Year(), Month(), Day(), Hour(), Minute(), Second())) +
         Hundredths() * 0.01;
}

GpsEntry1 DecodeGpsEntry1(const uint8_t* e) {
  GpsEntry1 g;
  g.quality = e[1] >> 6;
  g.warning = (e[1] & 0x10) != 0;
  g.satellites = e[1] & 0x0F;
  g.hdop10 = e[2];
  g.count32 = Le32(e + 4);
  g.time_of_day = Le32(e + 8);
  g.date = Le16(e + 12);
  g.speed10 = static_cast<int16_t>(Le16(e + 14));
  return g;
}

GpsEntry2 DecodeGpsEntry2(const uint8_t* e) {
  GpsEntry2 g;
  g.height10 = static_cast<int16_t>(Le16(e + 2));
  g.latitude = static_cast<int32_t>(Le32(e + 4));
  g.longitude = static_cast<int32_t>(Le32(e + 8));
  return g;
}

const char* BulkTypeName(int type) {
  switch (type) {
    case kValueUnknown:
      return "unknown";
    case kValueBool:
      return "bool";
    case kValueInt8:
      return "int8";
    case kValueInt16:
      return "int16";
    case kValueInt32:
      return "int32";
    case kValueUns8:
      return "uns8";
    case kValueUns16:
      return "uns16";
    case kValueUns32:
      return "uns32";
    case kValueFloat32:
      return "float32";
    case kValueString:
      return "string";
    case kValueOctets:
      return "octets";
    case kValueFloat64:
      return "float64";
    default:
      return "illegal";
  }
}

}  // namespace tessmar
