#pragma once
// Builds tiny logger recordings for the converter tests from the entry layouts of the recording
// tests, so that every expected output line can be worked out by hand from the entries written.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/logfile/recording_builder.h"

namespace tessmar::testing {

class RecordingBuilder {
 public:
  // Header lines (each ends in CR LF); "[BINARY_LOG_DATA]" is added by Write().
  explicit RecordingBuilder(std::string header) : header_(std::move(header)) {}

  // "tim" entry: 32-bit count and the date (year big-endian).
  RecordingBuilder& Time(uint32_t count, int year, int month, int day, int hour, int minute,
                         int second, int hundredths = 0) {
    return Add(TimeEntry(count, year, month, day, hour, minute, second, hundredths));
  }
  // CAN frame: 24-bit timestamp, identifier word, data.
  RecordingBuilder& Frame(uint32_t ticks24, uint32_t id_word, std::vector<uint8_t> data) {
    Bytes e = CanEntry(ticks24, id_word, {}, static_cast<int>(data.size()));
    for (std::size_t i = 0; i < data.size() && i < 8; ++i) e[8 + i] = data[i];
    return Add(e);
  }
  // Expression entry with the first value set and the second one empty.
  RecordingBuilder& Expression(uint32_t count, int index, float value) {
    return Add(
        ExpressionEntryBytes(static_cast<uint8_t>(index), count, FloatBits(value), 0xFFFFFFFFu));
  }
  RecordingBuilder& Marker(const char* tag, uint32_t count) { return Add(MarkerEntry(tag, count)); }
  RecordingBuilder& Raw(const uint8_t (&e)[16]) { return Add(Bytes(e, e + 16)); }

  void Write(const std::filesystem::path& path) const {
    std::ofstream out(path, std::ios::binary);
    out << header_ << "[BINARY_LOG_DATA]\r\n";
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
  }

 private:
  RecordingBuilder& Add(const Bytes& e) {
    bytes_.insert(bytes_.end(), e.begin(), e.end());
    return *this;
  }
  std::string header_;
  std::vector<uint8_t> bytes_;
};

// A configuration header with two signals of message 0x100 and one expression, timer at
// 8192 Hz (so that tick counts give exact binary fractions of a second), recording start
// 2017-10-19 12:34:56.
inline std::string SmallHeader() {
  return "[CanLoggerConfig]\r\n"
         "InfoString=\"unit test\"\r\n"
         "TimestampFreq=8192\r\n"
         "Msg00: id=0x100,mn=\"M\",nn=\"N\",wi=0\r\n"
         "Sig00: id=0x100,sn=\"Speed\",ty=U,un=\"km/h\",fa=0.5,of=0,mi=0,ma=100,sb=0,nb=8,bo=I\r\n"
         "Sig01: id=0x100,sn=\"Temp\",ty=S,un=\"degC\",fa=1,of=0,mi=-40,ma=100,sb=8,nb=8,bo=I\r\n"
         "Exp00: ex=\"Speed*2\",na=\"Twice\",mi=0,ma=200\r\n"
         "[LogFileInfo]\r\n"
         "StartDate=2017-10-19 12:34:56\r\n"
         "StartTimestamp=0\r\n";
}

}  // namespace tessmar::testing
