#pragma once
// A small conversion set-up for writer tests: a signal table, expressions, the column layout, the
// channel value records and a temporary output folder.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "config/canlog_config.h"
#include "logfile/channel_value.h"
#include "writers/writer.h"

namespace tessmar::test {

class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("tessmar_writers_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Seconds since 1970 of 2017-10-19 08:05:03.
inline constexpr double kStart20171019 = 1508400303.0;

struct WriterFixture {
  T_CanLog_SigTab sigs;
  T_CanLog_Config cfg;
  std::vector<ChannelValue> channels;
  WriterSetup setup;

  void Signal(int slot, const char* name, const char* unit, int nb, char ty = 'U', double fa = 1,
              double of = 0, double mi = 0, double ma = 0) {
    T_CanLog_SigDef& s = sigs[static_cast<std::size_t>(slot)];
    SetText(s.sn, name);
    SetText(s.un, unit);
    s.nb = static_cast<std::int16_t>(nb);
    s.ty = ty;
    s.fa = fa;
    s.of = of;
    s.mi = mi;
    s.ma = ma;
    s.id = 0x100u + static_cast<std::uint32_t>(slot);
  }
  void Expression(int slot, const char* ex, const char* na, double mi = 0, double ma = 0) {
    T_CanLog_ExprDef& e = cfg.Exp[static_cast<std::size_t>(slot)];
    SetText(e.ex, ex);
    SetText(e.na, na);
    e.mi = mi;
    e.ma = ma;
  }
  // Builds layout, column list and channel records; output file name inside folder.
  void Finish(const std::filesystem::path& output, int gps_count = 0, bool gps_before = false) {
    setup.layout = CountColumns(sigs, cfg, gps_count, gps_before);
    channels.assign(static_cast<std::size_t>(setup.layout.total), ChannelValue{});
    setup.columns.assign(static_cast<std::size_t>(setup.layout.total), WriterColumn{});
    setup.output_path = output;
    setup.logged_config = &cfg;
    setup.signal_table = &sigs;
    setup.channels = channels.data();
    setup.start_date = kStart20171019;
    setup.write_interval = 0.01;
  }
  int SignalColumn(int slot) const { return setup.layout.signal_first + slot; }
  int ExpressionColumn(int slot) const { return setup.layout.expression_first + slot; }
  void Set(int column, double scaled, std::int64_t raw) {
    ChannelValue& c = channels[static_cast<std::size_t>(column)];
    c.valid = true;
    c.scaled = scaled;
    c.raw = raw;
    c.raw_float = static_cast<double>(raw);
    c.is_float = false;
    c.value_type = kChannelTypeInteger;
  }
  void SetFloat(int column, double value) {
    ChannelValue& c = channels[static_cast<std::size_t>(column)];
    c.valid = true;
    c.scaled = value;
    c.raw_float = value;
    c.raw = static_cast<std::int64_t>(value);
    c.is_float = true;
    c.value_type = kChannelTypeFloat64;
  }
  void Invalidate(int column) { channels[static_cast<std::size_t>(column)].valid = false; }
};

// Little-endian readers for checking binary files.
inline std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(Le16(b, at)) |
         (static_cast<std::uint32_t>(Le16(b, at + 2)) << 16);
}
inline std::int32_t LeI32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(Le32(b, at));
}
inline double LeF64(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint64_t v =
      static_cast<std::uint64_t>(Le32(b, at)) | (static_cast<std::uint64_t>(Le32(b, at + 4)) << 32);
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}
inline float LeF32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v = Le32(b, at);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}
// A NUL-terminated text inside a fixed field.
inline std::string FieldText(const std::vector<std::uint8_t>& b, std::size_t at,
                             std::size_t width) {
  std::string s;
  for (std::size_t i = 0; i < width && b.at(at + i) != 0; ++i) s += static_cast<char>(b[at + i]);
  return s;
}

}  // namespace tessmar::test
