#pragma once
// A deliberately simple Vector MDF reader for tests: it finds every block by following the links
// from the ID block and decodes the records by each channel's bit offset and data type.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/writers/writer_fixture.h"

namespace tessmar::test {

struct MdfChannel {
  std::string name, unit;
  int type = 0;  // channel type: 1 time
  int bit_offset = 0, bits = 0, data_type = 0;
  int range_valid = 0;
  double minimum = 0, maximum = 0, rate = 0;
};

struct MdfFile {
  std::string id, version, program;
  int version_number = 0;
  std::string date, time;
  std::string text;
  std::vector<MdfChannel> channels;
  int record_size = 0;
  std::uint32_t record_count = 0;
  std::uint32_t data_position = 0;
  std::vector<std::vector<double>> records;  // value of each channel (byte arrays: first byte)
};

inline MdfFile ReadMdf(const std::vector<std::uint8_t>& b) {
  MdfFile f;
  f.id = std::string(b.begin(), b.begin() + 8);
  f.version = std::string(b.begin() + 8, b.begin() + 16);
  f.program = std::string(b.begin() + 16, b.begin() + 24);
  f.version_number = Le16(b, 28);
  const std::size_t hd = 64;  // the HD block always follows the 64-byte ID block
  EXPECT_EQ(FieldText(b, hd, 2), "HD");
  f.date = std::string(b.begin() + hd + 18, b.begin() + hd + 28);
  f.time = std::string(b.begin() + hd + 28, b.begin() + hd + 36);
  const std::uint32_t tx = Le32(b, hd + 8);
  EXPECT_EQ(FieldText(b, tx, 2), "TX");
  f.text = FieldText(b, tx + 4, Le16(b, tx + 2) - 4u);
  const std::uint32_t dg = Le32(b, hd + 4);
  EXPECT_EQ(FieldText(b, dg, 2), "DG");
  const std::uint32_t cg = Le32(b, dg + 8);
  f.data_position = Le32(b, dg + 16);
  EXPECT_EQ(FieldText(b, cg, 2), "CG");
  const int n = Le16(b, cg + 18);
  f.record_size = Le16(b, cg + 20);
  f.record_count = Le32(b, cg + 22);
  for (std::uint32_t cn = Le32(b, cg + 8); cn != 0; cn = Le32(b, cn + 4)) {
    EXPECT_EQ(FieldText(b, cn, 2), "CN");
    MdfChannel c;
    c.type = Le16(b, cn + 24);
    c.name = FieldText(b, cn + 26, 32);
    c.bit_offset = Le16(b, cn + 186);
    c.bits = Le16(b, cn + 188);
    c.data_type = Le16(b, cn + 190);
    c.range_valid = Le16(b, cn + 192);
    c.minimum = LeF64(b, cn + 194);
    c.maximum = LeF64(b, cn + 202);
    c.rate = LeF64(b, cn + 210);
    const std::uint32_t cc = Le32(b, cn + 8);
    EXPECT_EQ(FieldText(b, cc, 2), "CC");
    c.unit = FieldText(b, cc + 22, 20);
    EXPECT_EQ(Le16(b, cc + 42), 0);  // linear
    EXPECT_EQ(LeF64(b, cc + 46), 0.0);
    EXPECT_EQ(LeF64(b, cc + 54), 1.0);
    f.channels.push_back(c);
  }
  EXPECT_EQ(static_cast<int>(f.channels.size()), n);
  for (std::uint32_t r = 0; r < f.record_count; ++r) {
    const std::size_t base = f.data_position + static_cast<std::size_t>(r) * f.record_size;
    std::vector<double> values;
    for (const MdfChannel& c : f.channels) {
      const std::size_t at = base + static_cast<std::size_t>(c.bit_offset / 8);
      switch (c.data_type) {
        case 2:
          values.push_back(LeF32(b, at));
          break;
        case 3:
          values.push_back(LeF64(b, at));
          break;
        default:
          values.push_back(b.at(at));
          break;
      }
    }
    f.records.push_back(values);
  }
  EXPECT_EQ(b.size(), f.data_position + static_cast<std::size_t>(f.record_size) * f.record_count);
  return f;
}

}  // namespace tessmar::test
