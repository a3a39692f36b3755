#include "writers/dump_writer.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/c_locale.h"
#include "common/message_output.h"
#include "config/canlog_config.h"
#include "logfile/log_entry.h"
#include "writers/date_time_format.h"
#include "writers/number_format.h"
#include "writers/writer_common.h"

namespace tessmar {

namespace {

// Appends printf-formatted text at p (bounded by end); returns the new end of text.
char* Append(char* p, char* end, const char* format, ...) __attribute__((format(printf, 3, 4)));
char* Append(char* p, char* end, const char* format, ...) {
  if (p >= end) return p;
  va_list args;
  va_start(args, format);
  const int n = VsnprintfC(p, static_cast<std::size_t>(end - p), format, args);
  va_end(args);
  if (n < 0) return p;
  return (p + n < end) ? p + n : end - 1;
}

char* Sixteen(char* p, const std::uint8_t* e) {
  for (int i = 0; i < 16; ++i) {
    *p++ = ' ';
    p = numfmt::Hex2(p, e[i]);
  }
  return p;
}

char Printable(std::uint8_t c) { return (c < 0x20 || c >= 0x7F) ? '_' : static_cast<char>(c); }

// Degrees, minutes, seconds and tenths from hundredths of arc seconds.
struct Dms {
  long degrees, minutes, seconds, tenths;
};
Dms ToDms(std::int32_t value) {
  long long a = value < 0 ? -static_cast<long long>(value) : value;
  a += 5;
  return Dms{static_cast<long>(a / 360000), static_cast<long>(a % 360000 / 6000),
             static_cast<long>(a % 6000 / 100), static_cast<long>(a % 100 / 10)};
}

}  // namespace

int LogfileDumpWriter::Create(const WriterSetup& setup) {
  if (setup.dump_head) head_ = *setup.dump_head;
  const bool appending = setup.appending && file_.is_open();
  if (!OpenOutput(setup)) return 0;
  std::string text;
  if (!appending) {
    text += "\r\n";
    text += StrPrintf("; Producer: CAN Logfile converter, compiled %s\r\n", ProgramBuildDate());
  }
  const BinaryLogHeader& b = head_.binary_header;
  text += StrPrintf("; Firmware: #%ld, %s\r\n", static_cast<long>(b.FirmwareArticleNumber),
                    b.present ? b.FirmwareCompileDate : "");
  text += StrPrintf("; Debugger: nReceived=%ld nCanIRQs=%ld nLostMessages=%ld LastLostAt=%ld\r\n",
                    static_cast<long>(b.dwCountReceivedMsgs), static_cast<long>(b.dwCountCanIRQs),
                    static_cast<long>(b.dwCountLostMessages),
                    static_cast<long>(b.wLastMessageLostInLine));
  text += StrPrintf("; Source  : %s\r\n", head_.source_path.string().c_str());
  text += StrPrintf("; TimerFrequency: %10.2lf Hz\r\n", head_.timer_frequency);
  if (head_.config) {
    for (int n = 0; n < head_.expression_count && n < MAX_LOGGED_EXPRESSIONS; ++n) {
      const T_CanLog_ExprDef& x = head_.config->Exp[static_cast<std::size_t>(n)];
      if (!x.used()) continue;
      text += StrPrintf("; Expression%d: ex=\"%s\",na=\"%s\",mi=%G,ma=%G\r\n", n,
                        std::string(TextOf(x.ex)).c_str(), std::string(TextOf(x.na)).c_str(), x.mi,
                        x.ma);
    }
  }
  if (b.present) {
    text += StrPrintf("; BINARY logfile header at pos 0x%08lX :\r\n",
                      static_cast<unsigned long>(head_.binary_header_position));
    text += StrPrintf("  dwFilePosForNextWrite = 0x%08lX\r\n",
                      static_cast<unsigned long>(b.dwFilePosForNextWrite));
    text += StrPrintf("  dwCountWrittenEntries = 0x%08lX\r\n",
                      static_cast<unsigned long>(b.dwCountWrittenEntries));
    text += StrPrintf("  dwCountReceivedMsgs   = 0x%08lX\r\n",
                      static_cast<unsigned long>(b.dwCountReceivedMsgs));
    text += StrPrintf("  dwCountCanIRQs        = 0x%08lX\r\n",
                      static_cast<unsigned long>(b.dwCountCanIRQs));
    text += StrPrintf("  dwCountLostMessages   = 0x%08lX\r\n",
                      static_cast<unsigned long>(b.dwCountLostMessages));
    text +=
        StrPrintf("  wLastMessageLostInLine= %ld\r\n", static_cast<long>(b.wLastMessageLostInLine));
    for (int i = 0; i < 8; ++i) {
      text += StrPrintf("  wCpuLoadIndicator[%d]  = %ld %%\r\n", i,
                        static_cast<long>(b.wCpuLoadIndicator[i]));
    }
    text += StrPrintf("  FirmwareCompileDate   = '%s'\r\n", b.FirmwareCompileDate);
    text +=
        StrPrintf("  FirmwareArticleNumber = %ld\r\n", static_cast<long>(b.FirmwareArticleNumber));
  }
  text += "; Transcription of BINARY part in logfile follows...\r\n";
  text += "; filepos timestmp entry_type contents\r\n";
  return Write(text.data(), text.data() + text.size()) ? 1 : 0;
}

int LogfileDumpWriter::WriteEntry(const LogEntry& entry, double absolute_time) {
  const std::uint8_t* e = entry.bytes;
  char* const end = line_ + sizeof line_ - 2;  // room for CR LF
  char* p = numfmt::Hex8(line_, static_cast<std::uint32_t>(entry.position));
  *p++ = ' ';
  *p++ = ' ';
  const std::uint32_t count = EntryCount32(e);
  switch (entry.cls) {
    case EntryClass::kCanFrame: {
      *p++ = '.';
      *p++ = '.';
      const std::uint32_t ts = CanTimestamp24(e);
      for (int i = 5; i >= 0; --i) p[5 - i] = numfmt::kHexDigits[(ts >> (4 * i)) & 15];
      p += 6;
      static constexpr char kTag[] = " CANMESSAGE id=";
      std::memcpy(p, kTag, sizeof kTag - 1);
      p += sizeof kTag - 1;
      p = numfmt::Hex8(p, CanIdentifier(e));
      static constexpr char kLen[] = " len=";
      std::memcpy(p, kLen, sizeof kLen - 1);
      p += sizeof kLen - 1;
      const int len = CanLengthCode(e);
      p = numfmt::Int(p, len);
      static constexpr char kData[] = " data=";
      std::memcpy(p, kData, sizeof kData - 1);
      p += sizeof kData - 1;
      const std::uint8_t* data = CanData(e);
      for (int i = 0; i < CanDataLength(e); ++i) {
        *p++ = ' ';
        p = numfmt::Hex2(p, data[i]);
      }
      break;
    }
    case EntryClass::kTimeMarker: {
      // The entry's date is the clock's reading when the entry was written, so its count is
      // already in it: "Sum=" is the converter's time of the entry (time base + count /
      // frequency), which shows where the two disagree.
      const double date = static_cast<double>(TimeEntrySeconds(e));
      char d1[40], d2[40];
      FormatDateTimeTo(d1, sizeof d1, date, kDateTimeFractionPattern);
      FormatDateTimeTo(d2, sizeof d2, absolute_time, kDateTimeFractionPattern);
      p = Append(p, end, "%08lX TIMESTAMP  StartTimeFromRTC=%s  Sum=%s",
                 static_cast<unsigned long>(count), d1, d2);
      break;
    }
    case EntryClass::kEofMarker:
      p = Append(p, end, "%08lX EOF_MARKER", static_cast<unsigned long>(count));
      break;
    case EntryClass::kPreMarker:
      p = Sixteen(Append(p, end, "%08lX PRETRIGGER ", static_cast<unsigned long>(count)), e);
      break;
    case EntryClass::kTriggerMarker:
      p = Sixteen(Append(p, end, "%08lX TRIGGER_INFO ", static_cast<unsigned long>(count)), e);
      break;
    case EntryClass::kUnknownMarker:
      p = Sixteen(Append(p, end, "%08lX UNKNOWN(0x%02X,%c%c%c) ", static_cast<unsigned long>(count),
                         e[0], Printable(e[1]), Printable(e[2]), Printable(e[3])),
                  e);
      break;
    case EntryClass::kExpression: {
      p = Append(p, end, "%08lX EXPRESSION idx=%u.%d  data=", static_cast<unsigned long>(count),
                 static_cast<unsigned>(Le16(e + 2)), e[1]);
      for (int i = 8; i < 16; ++i) {
        *p++ = ' ';
        p = numfmt::Hex2(p, e[i]);
      }
      for (int i = 0; i < 2; ++i) {
        const std::uint32_t bits = Le32(e + 8 + 4 * i);
        if (bits == 0xFFFFFFFFu) {
          p = Append(p, end, "  float[%d]=NaN", i);
        } else {
          float f;
          std::memcpy(&f, &bits, 4);
          p = Append(p, end, "  float[%d]=%lg", i, static_cast<double>(f));
        }
      }
      break;
    }
    case EntryClass::kGps1: {
      const GpsEntry1 g = DecodeGpsEntry1(e);
      last_speed_kmh_ = g.speed10 / 10.0;
      p = Append(p, end, "%08lX GPSDATA_1  qual=%d nsat=%d warn=%c hdop=%.1f",
                 static_cast<unsigned long>(g.count32), g.quality, g.satellites,
                 g.warning ? 'V' : 'A', g.hdop10 / 10.0);
      if (g.date != 0) {
        p = Append(p, end, "  date=%02d-%02d-%02d", g.Year() - 2000, g.Month(), g.Day());
      } else {
        p = Append(p, end, " date=invalid");
      }
      if (g.time_of_day < 8640000u) {
        p = Append(p, end, " time=%02d:%02d:%02d.%02d", g.Hour(), g.Minute(), g.Second(),
                   g.Hundredths());
      } else {
        p = Append(p, end, " time=invalid");
      }
      break;
    }
    case EntryClass::kGps2: {
      const GpsEntry2 g = DecodeGpsEntry2(e);
      p = Append(p, end, "........ GPSDATA_2  pos=");
      if (g.latitude == 0 && g.longitude == 0) {
        p = Append(p, end, "invalid");
      } else {
        const Dms lat = ToDms(g.latitude), lon = ToDms(g.longitude);
        p = Append(p, end, "%02ld\xC2\xB0%02ld'%02ld.%01ld\"%c ", lat.degrees, lat.minutes,
                   lat.seconds, lat.tenths, g.latitude < 0 ? 'S' : 'N');
        p = Append(p, end, "%03ld\xC2\xB0%02ld'%02ld.%01ld\"%c", lon.degrees, lon.minutes,
                   lon.seconds, lon.tenths, g.longitude < 0 ? 'W' : 'E');
        p = Append(p, end, " height=%.1fm speed=%.1fkm/h", g.height10 / 10.0, last_speed_kmh_);
      }
      break;
    }
    case EntryClass::kGpsUnknown:
      p = Sixteen(Append(p, end, "........ GPS_UNKNOWN "), e);
      break;
    case EntryClass::kUnknownData:
      p = Sixteen(Append(p, end, "........ UNKNOWN_DATA "), e);
      break;
    case EntryClass::kBulkExpression: {
      char when[40];
      FormatDateTimeTo(when, sizeof when, absolute_time, kDateTimeFractionPattern);
      p = Append(p, end, "%08lX BULK_EXPR (%ld bytes), time=%s",
                 static_cast<unsigned long>(BulkCount32(e)), static_cast<long>(entry.length), when);
      *p++ = '\r';
      *p++ = '\n';
      if (!Write(line_, p)) return -1;
      bool ok = true;
      WalkBulkBlock(e, entry.length, [&](const BulkRecord& r) {
        if (!ok) return;
        char* q = line_;
        const std::uint8_t first = r.offset + 2 < entry.length ? e[r.offset + 2] : 0;
        q = Append(q, end, "  %06lX %02X %02X %02X ",
                   static_cast<unsigned long>((entry.position + r.offset) & 0xFFFFFF),
                   static_cast<unsigned>(r.index), static_cast<unsigned>(r.type),
                   static_cast<unsigned>(first));
        std::string_view ex;
        if (head_.config && r.index < MAX_LOGGED_EXPRESSIONS) {
          ex = TextOf(head_.config->Exp[static_cast<std::size_t>(r.index)].ex);
        }
        if (ex.empty()) {
          q = Append(q, end, " expr[%d],", r.index);
        } else {
          q = Append(q, end, " %.*s,", static_cast<int>(ex.size()), ex.data());
        }
        q = Append(q, end, "%s: ", BulkTypeName(r.type));
        if (r.type == kValueString) {
          q = Append(q, end, "\"%.*s\"", r.text_length, r.text ? r.text : "");
        } else if (r.is_float) {
          q = Append(q, end, "%011.4lf", r.real);
        } else {
          q = Append(q, end, "%ld", static_cast<long>(r.integer));
        }
        *q++ = '\r';
        *q++ = '\n';
        ok = Write(line_, q);
      });
      return ok ? 1 : -1;
    }
    case EntryClass::kBulkOther:
      return 0;
  }
  *p++ = '\r';
  *p++ = '\n';
  return Write(line_, p) ? 1 : -1;
}

}  // namespace tessmar
