#pragma once
// Values from logged entries: bit extraction of CAN signals, multiplexer conditions, scaling,
// expression entries and BULK value records, stored into the channel value records.
//
// The decoders are built once per source file and do no allocation and no virtual call per
// frame.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "config/canlog_config.h"
#include "logfile/channel_value.h"
#include "logfile/cld_reader.h"
#include "logfile/decode_messages.h"
#include "logfile/log_entry.h"

namespace tessmar {

// Extracts a bit pattern from the eight data bytes. The start bit is the value's least
// significant bit (byte index x 8 + bit index) for both byte orders; Intel ('I', or any letter
// but 'M'/'m') continues into the next higher byte, Motorola into the next lower byte. Bits
// beyond byte 0 (Motorola) or byte 7 (Intel) do not exist: the value then has fewer bits. A
// signed type ('S'/'s') is sign-extended over the bits actually collected. False when the start
// bit lies outside 0..63 or the bit count outside 1..64.
bool ExtractBits(const uint8_t* data, int start_bit, int bit_count, char byte_order,
                 char value_type, uint64_t* pattern);

// A signal mapping prepared for fast extraction.
struct BitField {
  uint8_t shift = 0;      // position of the value's lowest bit in the 64-bit word
  uint8_t bits = 0;       // bits that exist (0 = the mapping never yields a value)
  bool motorola = false;  // word read big-endian (byte 0 most significant)
  bool is_signed = false;
  uint64_t mask = 0;

  static BitField Make(int start_bit, int bit_count, char byte_order, bool is_signed);
  bool ok() const { return bits != 0; }
  uint64_t Extract(const uint8_t* data) const {
    uint64_t w = Le64(data);
    if (motorola) w = __builtin_bswap64(w);
    uint64_t v = (w >> shift) & mask;
    if (is_signed && bits < 64 && ((v >> (bits - 1)) & 1)) v |= ~mask;
    return v;
  }
};

// Decodes CAN frames into the signal channels of a signal table.
//
// Every mapping is resolved when the decoder is built: byte order, sign and value type become a
// shift pair on one of the two 64-bit words of the frame (read little-endian for Intel, big-endian
// for Motorola) and a kind, so that decoding a signal takes no branch on its layout or its value.
class SignalDecoder {
 public:
  // Prepares every used signal slot; its channel is layout.signal_first + slot.
  void Build(const T_CanLog_SigTab& sigs, const ColumnLayout& layout);

  // `channels` holds the records of all columns of the layout given to Build (layout.total).
  // Every signal of the frame's identifier word (all 32 bits) whose multiplexer condition holds
  // gets its value: raw pattern, value type 4/8/17, scaled = raw x fa + of, and the range of its
  // channel is widened. Returns the number of signals that got a value.
  int DecodeFrame(uint32_t id, const uint8_t* data, ChannelValue* channels) const {
    const Group* g = Find(id);
    return g == nullptr ? 0 : Decode<kValuesAndRanges>(*g, data, channels);
  }
  // The same without the ranges: for a pass whose ranges nobody reads any more (the conversion
  // pass, after the pre-scan collected them).
  int DecodeFrameValues(uint32_t id, const uint8_t* data, ChannelValue* channels) const {
    const Group* g = Find(id);
    return g == nullptr ? 0 : Decode<kValues>(*g, data, channels);
  }
  // Pre-scan: only widens the ranges; a factor of 0 counts as 1 there.
  int WidenFrameRanges(uint32_t id, const uint8_t* data, ChannelValue* channels) const {
    const Group* g = Find(id);
    return g == nullptr ? 0 : Decode<kRanges>(*g, data, channels);
  }

  // Collects the ranges of a pass that reads the frames for them alone (the pre-scan), with the
  // results of WidenFrameRanges. The integer signals of a message without multiplexer keep the
  // extremes of their raw values, two integer compares per value, and widen their channels by
  // the scaled extremes at the end: scaling is monotonic, so those are the extremes of the scaled
  // values. That needs scaled values that are always finite and far from the "unset" bound, which
  // Build checks per signal; the other messages widen at every frame.
  class RangeCollector {
   public:
    explicit RangeCollector(const SignalDecoder& decoder);
    void Frame(uint32_t id, const uint8_t* data, ChannelValue* channels);
    // Widens the channels' ranges by the raw extremes collected; once, after the last frame.
    void Finish(ChannelValue* channels) const;

   private:
    struct Extremes {
      int64_t low = INT64_MAX;  // low > high: none yet
      int64_t high = INT64_MIN;
    };
    const SignalDecoder& decoder_;
    std::vector<Extremes> extremes_;  // raw extremes per signal
  };

  int SignalCount() const { return static_cast<int>(signals_.size()); }

  // The columns DecodeFrame may write for this identifier word (empty when none).
  std::span<const int> ColumnsOf(uint32_t id) const {
    const Group* g = Find(id);
    if (g == nullptr) return {};
    return std::span<const int>(columns_.data() + g->first, g->count);
  }

 private:
  enum Mode { kValuesAndRanges, kValues, kRanges };
  // How the pattern becomes a number. kInteger: signed patterns, and unsigned ones of fewer than
  // 64 bits, which an int64 holds exactly.
  enum Kind : uint8_t { kInteger, kUnsigned64, kFloat32, kFloat64 };
  // Where a value lies in the frame: the word (0 little-endian, 1 big-endian), the left shift
  // that puts its highest bit at bit 63 and the right shift back (64 - bits), which is arithmetic
  // where `sign` is all ones.
  struct Place {
    uint8_t word = 0;
    uint8_t left = 0;
    uint8_t right = 0;
    uint64_t sign = 0;

    static Place Of(const BitField& f);
    uint64_t Extract(const uint64_t* words) const {
      const uint64_t up = words[word] << left;
      const uint64_t logical = up >> right;
      const uint64_t arithmetic = static_cast<uint64_t>(static_cast<int64_t>(up) >> right);
      return logical ^ ((logical ^ arithmetic) & sign);
    }
  };
  struct Signal {
    Place field;
    Kind kind = kInteger;
    bool multiplexed = false;
    int column = 0;
    double factor = 1.0;
    double offset = 0.0;
    double range_factor = 1.0;  // the factor for the ranges of the pre-scan (0 counts as 1)
    Place mux;
    int64_t mux_value = 0;
  };
  struct Group {
    uint32_t id = kNoIdentifier;
    uint16_t first = 0;
    uint16_t count = 0;
    bool plain = false;       // integer signals only, none multiplexed
    bool raw_ranges = false;  // plain, and its ranges may be collected from raw extremes
  };
  static constexpr int kTableSize = 1024;  // power of two, at least 4 x 256

  static uint32_t Hash(uint32_t id) { return (id * 0x9E3779B1u) >> 22; }
  const Group* Find(uint32_t id) const {
    if (id == kNoIdentifier || signals_.empty()) return nullptr;
    for (uint32_t h = Hash(id);; h = (h + 1) & (kTableSize - 1)) {
      const Group& g = table_[h];
      if (g.count == 0) return nullptr;
      if (g.id == id) return &g;
    }
  }
  template <Mode kMode>
  int Decode(const Group& g, const uint8_t* data, ChannelValue* channels) const;

  std::vector<Signal> signals_;  // grouped by identifier word
  std::vector<int> columns_;     // the column of each of signals_
  std::array<Group, kTableSize> table_{};
};

// Expression entry (two float values): each used value sets its expression channel valid, value
// type 8, is float, scaled = the value, raw = the value truncated toward zero (limited to the
// 64-bit range). Values whose expression number lies beyond the used expressions are dropped.
// With ranges_only nothing but the ranges changes. Returns the number of values stored.
int ApplyExpressionEntry(const ExpressionEntry& entry, const ColumnLayout& layout,
                         ChannelValue* channels, bool ranges_only);

struct BulkDecodeResult {
  bool carried_data = false;  // some record had a type other than 0
  int values = 0;             // records that set a value
};

// Decodes a BULK expression block (entry.cls == kBulkExpression) into the expression channels:
// integer types, float32, float64, string, "unknown" (channel invalid), "octets" (unchanged).
// An illegal index or type ends the block with its message (shown unless ranges_only, which the
// pre-scan uses: it only widens ranges and reports nothing). The stated length is limited to the
// bytes read.
BulkDecodeResult DecodeBulkBlock(const LogEntry& entry, const ColumnLayout& layout,
                                 ChannelValue* channels, bool ranges_only);

// Raw value of a float truncated toward zero, limited to +-9.223372036854775807e18.
int64_t TruncateToInt64(double v);

}  // namespace tessmar
