#include "logfile/signal_values.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/message_output.h"

namespace tessmar {
namespace {

bool IsMotorola(char byte_order) { return byte_order == 'M' || byte_order == 'm'; }

char UpperType(char t) { return (t >= 'a' && t <= 'z') ? static_cast<char>(t - 'a' + 'A') : t; }

}  // namespace

BitField BitField::Make(int start_bit, int bit_count, char byte_order, bool is_signed) {
  BitField f;
  if (start_bit < 0 || start_bit > 63 || bit_count < 1 || bit_count > 64) return f;
  f.motorola = IsMotorola(byte_order);
  f.is_signed = is_signed;
  const int k = start_bit / 8;
  const int p = start_bit % 8;
  // In the little-endian word byte k bit p sits at 8k + p and higher bytes follow; in the
  // big-endian word byte k bit p sits at 8(7 - k) + p and lower bytes follow. Either way the
  // value runs upwards from `shift` until the word ends.
  const int shift = f.motorola ? 8 * (7 - k) + p : start_bit;
  const int available = 64 - shift;
  f.shift = static_cast<uint8_t>(shift);
  f.bits = static_cast<uint8_t>(bit_count < available ? bit_count : available);
  f.mask = f.bits == 64 ? ~uint64_t{0} : ((uint64_t{1} << f.bits) - 1);
  return f;
}

bool ExtractBits(const uint8_t* data, int start_bit, int bit_count, char byte_order,
                 char value_type, uint64_t* pattern) {
  const BitField f =
      BitField::Make(start_bit, bit_count, byte_order, value_type == 'S' || value_type == 's');
  if (!f.ok()) return false;
  *pattern = f.Extract(data);
  return true;
}

int64_t TruncateToInt64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.223372036854775807e18) return INT64_MAX;
  if (v <= -9.223372036854775807e18) return INT64_MIN;
  return static_cast<int64_t>(v);
}

SignalDecoder::Place SignalDecoder::Place::Of(const BitField& f) {
  Place p;
  p.word = f.motorola ? 1 : 0;
  p.left = static_cast<uint8_t>(64 - f.shift - f.bits);
  p.right = static_cast<uint8_t>(64 - f.bits);
  p.sign = f.is_signed ? ~uint64_t{0} : 0;
  return p;
}

void SignalDecoder::Build(const T_CanLog_SigTab& sigs, const ColumnLayout& layout) {
  signals_.clear();
  columns_.clear();
  table_.fill(Group{});
  struct Item {
    uint32_t id;
    Signal signal;
  };
  std::vector<Item> items;
  for (int slot = 0; slot < layout.signal_count; ++slot) {
    const T_CanLog_SigDef& d = sigs[static_cast<size_t>(slot)];
    if (!SignalSlotUsed(d)) continue;
    Signal s;
    const char type = UpperType(d.ty);
    const BitField field = BitField::Make(d.sb, d.nb, d.bo, type == 'S');
    if (!field.ok()) continue;  // never yields a value
    s.field = Place::Of(field);
    switch (type) {
      case 'F':
        s.kind = kFloat32;
        break;
      case 'D':
        s.kind = kFloat64;
        break;
      default:  // signed, and unsigned (any other letter)
        s.kind = (type == 'S' || field.bits < 64) ? kInteger : kUnsigned64;
        break;
    }
    s.multiplexed = d.mu.MuxBitCount > 0;
    if (s.multiplexed) {
      const BitField mux =
          BitField::Make(d.mu.MuxStartBit, d.mu.MuxBitCount, d.mu.MuxByteOrder, false);
      if (!mux.ok()) continue;  // the condition can never hold
      s.mux = Place::Of(mux);
      s.mux_value = d.mu.MuxVal;
    }
    s.factor = d.fa;
    s.range_factor = d.fa == 0 ? 1.0 : d.fa;
    s.offset = d.of;
    s.column = layout.signal_first + slot;
    items.push_back({d.id, s});
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& a, const Item& b) { return a.id < b.id; });
  signals_.reserve(items.size());
  for (size_t i = 0; i < items.size();) {
    Group g;
    g.id = items[i].id;
    g.first = static_cast<uint16_t>(signals_.size());
    g.plain = true;
    g.raw_ranges = true;
    while (i < items.size() && items[i].id == g.id) {
      const Signal& s = items[i++].signal;
      if (s.kind != kInteger || s.multiplexed) g.plain = false;
      // Every raw value lies within +-2^bits; scaled, within the bound below, it is finite and
      // never equals the "unset" bound (-9.999999999e18) that a range treats apart.
      const double reach =
          std::ldexp(std::fabs(s.range_factor), 64 - s.field.right) + std::fabs(s.offset);
      if (!(reach < 9e18)) g.raw_ranges = false;
      signals_.push_back(s);
      columns_.push_back(s.column);
    }
    g.raw_ranges = g.raw_ranges && g.plain;
    g.count = static_cast<uint16_t>(signals_.size() - g.first);
    uint32_t h = Hash(g.id);
    while (table_[h].count != 0) h = (h + 1) & (kTableSize - 1);
    table_[h] = g;
  }
}

// Stores one decoded value into its channel: the value (kValues; scaled = raw x fa + of) and
// the range widened by it (kRanges). Ranges alone take the pre-scan's factor, where 0 counts
// as 1.
template <bool kValues, bool kRanges, typename Signal>
inline void StoreValue(ChannelValue& c, const Signal& s, int64_t raw, double raw_float, int type,
                       bool is_float) {
  if constexpr (!kValues) {
    c.Widen(raw_float * s.range_factor + s.offset);
  } else {
    const double scaled = raw_float * s.factor + s.offset;
    c.valid = true;
    c.value_type = type;
    c.is_float = is_float;
    c.raw = raw;
    c.raw_float = raw_float;
    c.scaled = scaled;
    if constexpr (kRanges) c.Widen(scaled);
  }
}

template <SignalDecoder::Mode kMode>
int SignalDecoder::Decode(const Group& g, const uint8_t* data, ChannelValue* channels) const {
  const uint64_t le = Le64(data);
  const uint64_t words[2] = {le, __builtin_bswap64(le)};
  const Signal* s = signals_.data() + g.first;
  const Signal* const end = s + g.count;
  if (g.plain) {
    // The common message: integer signals without multiplexer, each one a few shifts and a
    // multiply-add.
    for (; s != end; ++s) {
      const int64_t raw = static_cast<int64_t>(s->field.Extract(words));
      const double raw_float = static_cast<double>(raw);
      StoreValue<kMode != kRanges, kMode != kValues>(channels[s->column], *s, raw, raw_float,
                                                     kChannelTypeInteger, false);
    }
    return g.count;
  }
  int stored = 0;
  for (; s != end; ++s) {
    if (s->multiplexed && static_cast<int64_t>(s->mux.Extract(words)) != s->mux_value) continue;
    const uint64_t pattern = s->field.Extract(words);
    double raw_float;
    int64_t raw;
    bool is_float = false;
    int type = kChannelTypeInteger;
    switch (s->kind) {
      case kFloat32: {
        const uint32_t low = static_cast<uint32_t>(pattern);
        float f;
        std::memcpy(&f, &low, 4);
        raw_float = f;
        raw = TruncateToInt64(raw_float);
        is_float = true;
        type = kChannelTypeFloat32;
        break;
      }
      case kFloat64:
        std::memcpy(&raw_float, &pattern, 8);
        raw = TruncateToInt64(raw_float);
        is_float = true;
        type = kChannelTypeFloat64;
        break;
      case kUnsigned64:  // a pattern with the top bit set is a large positive number
        raw = static_cast<int64_t>(pattern);
        raw_float = static_cast<double>(pattern);
        break;
      case kInteger:
      default:
        raw = static_cast<int64_t>(pattern);
        raw_float = static_cast<double>(raw);
        break;
    }
    StoreValue<kMode != kRanges, kMode != kValues>(channels[s->column], *s, raw, raw_float, type,
                                                   is_float);
    ++stored;
  }
  return stored;
}

SignalDecoder::RangeCollector::RangeCollector(const SignalDecoder& decoder)
    : decoder_(decoder), extremes_(decoder.signals_.size()) {}

void SignalDecoder::RangeCollector::Frame(uint32_t id, const uint8_t* data,
                                          ChannelValue* channels) {
  const Group* g = decoder_.Find(id);
  if (g == nullptr) return;
  if (!g->raw_ranges) {
    (void)decoder_.Decode<kRanges>(*g, data, channels);
    return;
  }
  const uint64_t le = Le64(data);
  const uint64_t words[2] = {le, __builtin_bswap64(le)};
  const Signal* s = decoder_.signals_.data() + g->first;
  const Signal* const end = s + g->count;
  for (Extremes* x = extremes_.data() + g->first; s != end; ++s, ++x) {
    const int64_t raw = static_cast<int64_t>(s->field.Extract(words));
    x->low = std::min(x->low, raw);
    x->high = std::max(x->high, raw);
  }
}

void SignalDecoder::RangeCollector::Finish(ChannelValue* channels) const {
  for (size_t k = 0; k < extremes_.size(); ++k) {
    const Extremes& x = extremes_[k];
    if (x.low > x.high) continue;  // no value, or widened at every frame
    const Signal& s = decoder_.signals_[k];
    ChannelValue& c = channels[s.column];
    c.Widen(static_cast<double>(x.low) * s.range_factor + s.offset);
    c.Widen(static_cast<double>(x.high) * s.range_factor + s.offset);
  }
}

template int SignalDecoder::Decode<SignalDecoder::kValuesAndRanges>(const Group&, const uint8_t*,
                                                                    ChannelValue*) const;
template int SignalDecoder::Decode<SignalDecoder::kValues>(const Group&, const uint8_t*,
                                                           ChannelValue*) const;
template int SignalDecoder::Decode<SignalDecoder::kRanges>(const Group&, const uint8_t*,
                                                           ChannelValue*) const;

int ApplyExpressionEntry(const ExpressionEntry& entry, const ColumnLayout& layout,
                         ChannelValue* channels, bool ranges_only) {
  int stored = 0;
  for (int i = 0; i < 2; ++i) {
    if (!entry.used[i]) continue;
    const int number = entry.index + i;
    if (number >= layout.expression_count) continue;
    ChannelValue& c = channels[layout.expression_first + number];
    const double v = entry.value[i];
    if (!ranges_only) {
      c.valid = true;
      c.value_type = kChannelTypeFloat32;
      c.is_float = true;
      c.scaled = v;
      c.raw = TruncateToInt64(v);
      c.raw_float = static_cast<double>(c.raw);
    }
    c.Widen(v);
    ++stored;
  }
  return stored;
}

BulkDecodeResult DecodeBulkBlock(const LogEntry& entry, const ColumnLayout& layout,
                                 ChannelValue* channels, bool ranges_only) {
  BulkDecodeResult result;
  const uint32_t length = std::min(entry.length, entry.size);
  const BulkWalkResult walk = WalkBulkBlock(entry.bytes, length, [&](const BulkRecord& r) {
    if (r.index >= layout.expression_count) return;  // decoded and discarded
    ChannelValue& c = channels[layout.expression_first + r.index];
    if (r.type == kValueOctets) return;
    if (r.type == kValueUnknown) {
      if (!ranges_only) c.valid = false;
      return;
    }
    ++result.values;
    if (r.type == kValueString) {
      if (!ranges_only) {
        c.valid = true;
        c.value_type = kChannelTypeText;
        c.is_float = false;
        c.raw = 0;
        c.raw_float = 0.0;
        c.scaled = 0.0;
        c.text.assign(r.text, static_cast<size_t>(r.text_length));
      }
      return;
    }
    if (!ranges_only) {
      c.valid = true;
      c.value_type = r.type;
      c.is_float = r.is_float;
      c.raw = r.is_float ? TruncateToInt64(r.real) : r.integer;
      c.raw_float = r.real;
      c.scaled = r.real;
    }
    c.Widen(r.real);
  });
  result.carried_data = walk.carried_data;
  if (ranges_only) return result;
  const unsigned long fp = static_cast<unsigned long>(entry.position + walk.bad_offset);
  if (walk.stop == BulkStop::kIllegalIndex) {
    ShowMessageF(kMsgWarning,
                 "Illegal expression index (0x%02X) at fp=0x%08lX. Ignoring the rest of the "
                 "sample block.",
                 walk.bad_byte, fp);
  } else if (walk.stop == BulkStop::kIllegalType) {
    if (walk.bad_type_expression < layout.expression_count) {
      channels[layout.expression_first + walk.bad_type_expression].valid = false;
    }
    ShowMessageF(kMsgWarning,
                 "Illegal or unsupported type (0x%02X) at fp=0x%08lX. Ignoring the rest of the "
                 "sample block.",
                 walk.bad_byte, fp);
  }
  return result;
}

}  // namespace tessmar
