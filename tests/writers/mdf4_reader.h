#pragma once
// A small MDF 4 reader for tests, written from the block layout alone: it checks every block
// reachable by links from the ID block (8-byte aligned, known header, length and links inside
// the file), reads the first channel group and concatenates the data of its DT blocks (directly or
// through a chain of DLs) to decode the records by each channel's byte offset, bit offset and data
// type. An unfinished file is repaired as its flags say: the last DT runs to the end of the file
// (whole records only), the record count comes from the data.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tests/writers/writer_fixture.h"

namespace tessmar::test {

inline std::uint64_t Le64At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint64_t>(Le32(b, at)) |
         (static_cast<std::uint64_t>(Le32(b, at + 4)) << 32);
}

struct Mdf4Channel {
  std::string name, unit;
  int type = 0, sync = 0, data_type = 0, bit_offset = 0;
  std::uint32_t byte_offset = 0, bit_count = 0, flags = 0, inval_bit = 0;
  double minimum = 0, maximum = 0;
  std::vector<Mdf4Channel> parts;  // composition
  std::vector<std::string> texts;  // value-to-text conversion: text of value 0, 1, ...
};

struct Mdf4File {
  std::string id, version;
  int unfinished_flags = 0;
  std::uint64_t start_ns = 0;
  std::string history;  // MD of the first FH
  std::string acquisition_name;
  int cg_flags = 0, path_separator = 0, source_type = -1, bus_type = -1;
  std::uint64_t cycle_count = 0;
  std::uint32_t data_bytes = 0, inval_bytes = 0;
  std::vector<Mdf4Channel> channels;
  std::vector<std::uint8_t> data;  // the records of all DT blocks in order
  int data_blocks = 0;
  bool listed = false;  // the data come through a DL

  std::size_t record_size() const { return data_bytes + inval_bytes; }
  std::size_t records() const { return record_size() ? data.size() / record_size() : 0; }
  // The value of a numeric channel in record r.
  double Value(std::size_t r, const Mdf4Channel& c) const {
    const std::size_t at = r * record_size() + c.byte_offset;
    if (c.data_type == 4) return c.bit_count == 32 ? LeF32(data, at) : LeF64(data, at);
    std::uint64_t raw = 0;
    const std::size_t bytes = (c.bit_offset + c.bit_count + 7) / 8;
    for (std::size_t i = 0; i < bytes; ++i)
      raw |= static_cast<std::uint64_t>(data.at(at + i)) << (8 * i);
    raw >>= c.bit_offset;
    if (c.bit_count < 64) raw &= (std::uint64_t{1} << c.bit_count) - 1;
    return static_cast<double>(raw);
  }
  bool Invalid(std::size_t r, const Mdf4Channel& c) const {
    if (!(c.flags & 2u)) return false;
    const std::size_t at = r * record_size() + data_bytes + c.inval_bit / 8;
    return (data.at(at) >> (c.inval_bit % 8)) & 1;
  }
  std::vector<std::uint8_t> Bytes(std::size_t r, const Mdf4Channel& c) const {
    const auto begin =
        data.begin() + static_cast<std::ptrdiff_t>(r * record_size() + c.byte_offset);
    return {begin, begin + c.bit_count / 8};
  }
};

class Mdf4Walker {
 public:
  explicit Mdf4Walker(const std::vector<std::uint8_t>& b) : b_(b) {}

  Mdf4File Read() {
    Mdf4File f;
    if (b_.size() < 64) {
      ADD_FAILURE() << "file shorter than the ID block";
      return f;
    }
    f.id = std::string(b_.begin(), b_.begin() + 8);
    f.version = std::string(b_.begin() + 8, b_.begin() + 16);
    f.unfinished_flags = Le16(b_, 60);
    // An unfinished file may state a wrong length for its last DT.
    unfinished_ = f.id == "UnFinMF ";
    last_dt_to_end_ = unfinished_ && (f.unfinished_flags & 0x04) != 0;
    const std::uint64_t hd = 64;
    if (!Check(hd, "##HD")) return f;
    CheckGraph(hd);
    f.start_ns = Le64At(b_, Data(hd));
    if (std::uint64_t fh = Link(hd, 1); fh != 0) f.history = Text(Link(fh, 1));
    const std::uint64_t dg = Link(hd, 0);
    if (dg == 0) return f;
    const std::uint64_t cg = Link(dg, 1);
    if (cg == 0) return f;
    const std::size_t cgd = Data(cg);
    f.acquisition_name = Text(Link(cg, 2));
    if (std::uint64_t si = Link(cg, 3); si != 0) {
      f.source_type = b_.at(Data(si));
      f.bus_type = b_.at(Data(si) + 1);
    }
    f.cycle_count = Le64At(b_, cgd + 8);
    f.cg_flags = Le16(b_, cgd + 16);
    f.path_separator = Le16(b_, cgd + 18);
    f.data_bytes = Le32(b_, cgd + 24);
    f.inval_bytes = Le32(b_, cgd + 28);
    f.channels = Channels(Link(cg, 1));
    ReadData(Link(dg, 2), f);
    return f;
  }

 private:
  std::size_t LinkCount(std::uint64_t block) const { return Le64At(b_, block + 16); }
  std::uint64_t Link(std::uint64_t block, std::size_t i) const {
    return block == 0 ? 0 : Le64At(b_, block + 24 + 8 * i);
  }
  std::size_t Data(std::uint64_t block) const { return block + 24 + 8 * LinkCount(block); }

  // A block's header is sound; id empty: any known id. In an unfinished file a DT is not checked
  // unless it must state its length (`dt_length_stated`).
  bool Check(std::uint64_t at, const std::string& id = "", bool dt_length_stated = false) const {
    static const std::set<std::string> kKnown = {"##HD", "##FH", "##MD", "##TX", "##DG", "##CG",
                                                 "##CN", "##CC", "##SI", "##DT", "##DL"};
    if (at % 8 != 0 || at + 24 > b_.size()) {
      ADD_FAILURE() << "block at " << at << " unaligned or outside the file";
      return false;
    }
    const std::string got(b_.begin() + static_cast<std::ptrdiff_t>(at),
                          b_.begin() + static_cast<std::ptrdiff_t>(at + 4));
    const std::uint64_t length = Le64At(b_, at + 8);
    const std::uint64_t links = Le64At(b_, at + 16);
    EXPECT_TRUE(id.empty() ? kKnown.count(got) == 1 : got == id)
        << "block at " << at << ": " << got;
    EXPECT_GE(length, 24 + 8 * links) << got << " at " << at;
    if (unfinished_ && got == "##DT" && !dt_length_stated) return false;
    EXPECT_LE(at + length, b_.size()) << got << " at " << at << " runs beyond the file";
    return at + length <= b_.size() && length >= 24 + 8 * links;
  }
  // Every block reachable from `start` is sound and every link points at a block start.
  void CheckGraph(std::uint64_t start) {
    std::vector<std::uint64_t> todo = {start};
    while (!todo.empty()) {
      const std::uint64_t at = todo.back();
      todo.pop_back();
      if (!seen_.insert(at).second || !Check(at)) continue;
      for (std::size_t i = 0; i < LinkCount(at); ++i) {
        if (std::uint64_t to = Link(at, i); to != 0) todo.push_back(to);
      }
    }
  }
  std::string Text(std::uint64_t block) const {
    if (block == 0) return "";
    std::string s;
    const std::uint64_t end = block + Le64At(b_, block + 8);
    for (std::size_t i = block + 24; i < end && b_.at(i) != 0; ++i) s += static_cast<char>(b_[i]);
    return s;
  }
  std::vector<Mdf4Channel> Channels(std::uint64_t cn) const {
    std::vector<Mdf4Channel> out;
    for (; cn != 0; cn = Link(cn, 0)) {
      Mdf4Channel c;
      const std::size_t d = Data(cn);
      c.name = Text(Link(cn, 2));
      c.unit = Text(Link(cn, 6));
      c.type = b_.at(d);
      c.sync = b_.at(d + 1);
      c.data_type = b_.at(d + 2);
      c.bit_offset = b_.at(d + 3);
      c.byte_offset = Le32(b_, d + 4);
      c.bit_count = Le32(b_, d + 8);
      c.flags = Le32(b_, d + 12);
      c.inval_bit = Le32(b_, d + 16);
      c.minimum = LeF64(b_, d + 24);
      c.maximum = LeF64(b_, d + 32);
      if (std::uint64_t cc = Link(cn, 4); cc != 0 && b_.at(Data(cc)) == 7) {
        const std::size_t values = Le16(b_, Data(cc) + 6);
        for (std::size_t i = 0; i < values; ++i) c.texts.push_back(Text(Link(cc, 4 + i)));
      }
      c.parts = Channels(Link(cn, 1));
      out.push_back(c);
    }
    return out;
  }
  void ReadData(std::uint64_t at, Mdf4File& f) const {
    if (at == 0) return;
    std::vector<std::uint64_t> blocks;
    auto id_at = [&](std::uint64_t block) {
      return std::string(b_.begin() + static_cast<std::ptrdiff_t>(block),
                         b_.begin() + static_cast<std::ptrdiff_t>(block + 4));
    };
    if (id_at(at) == "##DL") {
      f.listed = true;
      std::uint64_t offset = 0;
      for (std::uint64_t dl = at; dl != 0; dl = Link(dl, 0)) {
        EXPECT_EQ(id_at(dl), "##DL");
        const std::uint32_t n = Le32(b_, Data(dl) + 4);
        EXPECT_EQ(LinkCount(dl), n + 1u);
        for (std::uint32_t i = 0; i < n; ++i) {
          blocks.push_back(Link(dl, 1 + i));
          EXPECT_EQ(Le64At(b_, Data(dl) + 8 + 8 * i), offset) << "offset of DT " << blocks.size();
          offset += Le64At(b_, blocks.back() + 8) - 24;
        }
      }
    } else {
      blocks.push_back(at);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const std::uint64_t dt = blocks[i];
      std::uint64_t length = Le64At(b_, dt + 8);
      if (last_dt_to_end_ && i + 1 == blocks.size()) {
        EXPECT_EQ(id_at(dt), "##DT");
        length = b_.size() - dt;
      } else {
        // Every other DT states its length, in any file.
        if (!Check(dt, "##DT", true)) return;
      }
      f.data.insert(f.data.end(), b_.begin() + static_cast<std::ptrdiff_t>(dt + 24),
                    b_.begin() + static_cast<std::ptrdiff_t>(dt + length));
      ++f.data_blocks;
    }
    if (f.record_size() != 0 && last_dt_to_end_) {
      f.data.resize(f.data.size() / f.record_size() * f.record_size());  // whole records
    } else if (f.record_size() != 0) {
      EXPECT_EQ(f.data.size() % f.record_size(), 0u);
    }
  }

  const std::vector<std::uint8_t>& b_;
  std::set<std::uint64_t> seen_;
  bool unfinished_ = false;
  bool last_dt_to_end_ = false;
};

inline Mdf4File ReadMdf4(const std::vector<std::uint8_t>& b) { return Mdf4Walker(b).Read(); }

}  // namespace tessmar::test
