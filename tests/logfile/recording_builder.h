#pragma once
// Builds recordings (.cld) byte by byte for the tests: a text header, an optional binary
// logfile header and 16-byte entries, written from the byte layout alone (no reader code).

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace tessmar::testing {

using Bytes = std::vector<uint8_t>;

inline void PutLe16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A CAN frame entry: length, 24-bit stamp, identifier word, eight data bytes.
inline Bytes CanEntry(uint32_t stamp24, uint32_t id, std::initializer_list<uint8_t> data,
                      int dlc = -1) {
  Bytes e(16, 0);
  e[0] = static_cast<uint8_t>(dlc >= 0 ? dlc : static_cast<int>(data.size()));
  e[1] = static_cast<uint8_t>(stamp24);
  e[2] = static_cast<uint8_t>(stamp24 >> 8);
  e[3] = static_cast<uint8_t>(stamp24 >> 16);
  PutLe32(e, 4, id);
  size_t i = 8;
  for (uint8_t d : data) {
    if (i < 16) e[i++] = d;
  }
  return e;
}

// A marker entry with a three-letter tag and a 32-bit count.
inline Bytes MarkerEntry(const char* tag, uint32_t count, uint8_t b8 = 0, uint8_t b9 = 0) {
  Bytes e(16, 0);
  e[0] = 0x40;
  std::memcpy(&e[1], tag, 3);
  PutLe32(e, 4, count);
  e[8] = b8;
  e[9] = b9;
  return e;
}

// A "tim" entry: year big-endian at bytes 8..9, then month, day, hour, minute, second, 1/100 s.
inline Bytes TimeEntry(uint32_t count, int year, int month, int day, int hour, int minute,
                       int second, int hundredths = 0) {
  Bytes e = MarkerEntry("tim", count);
  e[8] = static_cast<uint8_t>(year >> 8);
  e[9] = static_cast<uint8_t>(year);
  e[10] = static_cast<uint8_t>(month);
  e[11] = static_cast<uint8_t>(day);
  e[12] = static_cast<uint8_t>(hour);
  e[13] = static_cast<uint8_t>(minute);
  e[14] = static_cast<uint8_t>(second);
  e[15] = static_cast<uint8_t>(hundredths);
  return e;
}

inline Bytes ExpressionEntryBytes(uint8_t index, uint32_t count, uint32_t bits0, uint32_t bits1,
                                  uint16_t flags = 0) {
  Bytes e(16, 0);
  e[0] = 0x90;
  e[1] = index;
  PutLe16(e, 2, flags);
  PutLe32(e, 4, count);
  PutLe32(e, 8, bits0);
  PutLe32(e, 12, bits1);
  return e;
}

inline uint32_t FloatBits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

inline Bytes Gps1Entry(int quality, bool warning, int sats, uint32_t count, uint32_t time_of_day,
                       int day, int month, int year, int16_t speed10, uint8_t hdop10 = 12) {
  Bytes e(16, 0);
  e[0] = 0xA1;
  e[1] = static_cast<uint8_t>((quality << 6) | (warning ? 0x10 : 0) | (sats & 0x0F));
  e[2] = hdop10;
  PutLe32(e, 4, count);
  PutLe32(e, 8, time_of_day);
  const uint32_t date =
      year == 0 ? 0 : static_cast<uint32_t>(day | (month << 5) | ((year - 2000) << 9));
  PutLe16(e, 12, date);
  PutLe16(e, 14, static_cast<uint16_t>(speed10));
  return e;
}

inline Bytes Gps2Entry(int16_t height10, int32_t lat, int32_t lon) {
  Bytes e(16, 0);
  e[0] = 0xA2;
  PutLe16(e, 2, static_cast<uint16_t>(height10));
  PutLe32(e, 4, static_cast<uint32_t>(lat));
  PutLe32(e, 8, static_cast<uint32_t>(lon));
  return e;
}

// A BULK block: byte 0, (length field when the code is 0), count, records; padded with zeros to
// whole slots.
inline Bytes BulkBlock(uint8_t byte0, uint32_t count, const Bytes& records, uint16_t length16 = 0) {
  Bytes e;
  e.push_back(byte0);
  if ((byte0 & 0x0F) == 0) {
    e.push_back(static_cast<uint8_t>(length16));
    e.push_back(static_cast<uint8_t>(length16 >> 8));
  }
  for (int i = 0; i < 4; ++i) e.push_back(static_cast<uint8_t>(count >> (8 * i)));
  e.insert(e.end(), records.begin(), records.end());
  const size_t stated = (byte0 & 0x0F) != 0 ? (byte0 & 0x0Fu) * 16u : length16;
  size_t slots = (stated + 15) / 16 * 16;
  if (slots < 16) slots = 16;
  e.resize(slots, 0);
  return e;
}

// The 512-byte binary logfile header with a few recognisable fields.
inline Bytes BinaryHeader(bool with_zero_byte = true) {
  Bytes h(512, 0);
  const char sig[] = "BinaryLogfileHeader\r\nSize=512 byte\r\n";
  std::memcpy(h.data(), sig, 36);
  h[36] = with_zero_byte ? 0 : 'x';
  PutLe32(h, 64, 0x1230);
  PutLe32(h, 68, 77);
  PutLe32(h, 128, 1000);
  PutLe32(h, 132, 1001);
  PutLe32(h, 136, 3);
  PutLe32(h, 140, 42);
  for (int i = 0; i < 8; ++i)
    PutLe16(h, 144 + 2 * static_cast<size_t>(i), static_cast<uint32_t>(10 + i));
  std::memcpy(&h[160], "Oct 19 2017", 11);
  PutLe32(h, 176, static_cast<uint32_t>(-5));
  return h;
}

class Recording {
 public:
  Recording& Line(const std::string& text, const char* eol = "\r\n") {
    header_ += text;
    header_ += eol;
    return *this;
  }
  Recording& StandardHeader(const std::string& start_date = "2017-10-19 12:00:00",
                            uint32_t start_ts = 0, const std::string& freq = "39065.5") {
    Line("[Common]").Line("Encryption=0").Line("[CanLoggerConfig]");
    if (!freq.empty()) Line("TimestampFreq=" + freq);
    Line("NewFileOnStartup=0");
    for (const std::string& l : extra_) Line(l);
    Line("[LogFileInfo]")
        .Line("StartDate=" + start_date)
        .Line("StartTimestamp=" + std::to_string(start_ts));
    return *this;
  }
  Recording& Config(const std::string& line) {
    extra_.push_back(line);
    return *this;
  }
  Recording& Marker() { return Line("[BINARY_LOG_DATA]"); }
  Recording& WithBinaryHeader(bool with_zero = true) {
    binary_ = BinaryHeader(with_zero);
    return *this;
  }
  Recording& Add(const Bytes& e) {
    entries_.insert(entries_.end(), e.begin(), e.end());
    return *this;
  }
  Recording& AddRaw(const Bytes& b) { return Add(b); }

  size_t HeaderSize() const { return header_.size() + binary_.size(); }
  Bytes Build() const {
    Bytes out(header_.begin(), header_.end());
    out.insert(out.end(), binary_.begin(), binary_.end());
    out.insert(out.end(), entries_.begin(), entries_.end());
    return out;
  }
  const Bytes& entries() const { return entries_; }

 private:
  std::string header_;
  std::vector<std::string> extra_;
  Bytes binary_;
  Bytes entries_;
};

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A temporary folder removed with its contents at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("tessmar_logfile_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace tessmar::testing
