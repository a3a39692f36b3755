// Signal extraction, multiplexers, scaling, expression values and the column layout.

#include "logfile/signal_values.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <vector>

#include "common/message_output.h"
#include "tests/logfile/recording_builder.h"

namespace tessmar {
namespace {

const uint8_t kData[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};

uint64_t Extract(int s, int n, char bo, char ty, const uint8_t* data = kData) {
  uint64_t v = 0xDEADDEADDEADDEADull;
  EXPECT_TRUE(ExtractBits(data, s, n, bo, ty, &v)) << s << "," << n << "," << bo << "," << ty;
  return v;
}

// ---- Bit extraction ------------------------------------------------------------------------

TEST(ExtractBits, WorkedExamples) {
  EXPECT_EQ(Extract(4, 12, 'I', 'U'), 0x341u);                       // 833
  EXPECT_EQ(Extract(12, 12, 'M', 'U'), 0x123u);                      // 291
  EXPECT_EQ(static_cast<int64_t>(Extract(8, 16, 'I', 'S')), 22068);  // 0x5634
  EXPECT_EQ(static_cast<int64_t>(Extract(36, 8, 'I', 'S')), -55);    // 0xC9
  EXPECT_EQ(Extract(56, 16, 'M', 'U'), 57072u);                      // 0xDEF0
  EXPECT_EQ(Extract(60, 16, 'I', 'U'), 15u) << "only 4 bits exist";
}

TEST(ExtractBits, OddMappings) {
  const uint8_t one[8] = {0x01, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(static_cast<int64_t>(Extract(0, 1, 'I', 'S', one)), -1) << "1-bit signed, bit set";
  EXPECT_EQ(Extract(0, 1, 'i', 'u', one), 1u);
  // Lower-case letters and unknown byte order letters (Intel) are accepted.
  EXPECT_EQ(Extract(12, 12, 'm', 'U'), 0x123u);
  EXPECT_EQ(Extract(4, 12, 'X', 'U'), 0x341u);
  // Motorola running off byte 0 keeps the bits that exist, sign extension uses them.
  const uint8_t top[8] = {0x80, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(static_cast<int64_t>(Extract(7, 16, 'M', 'S', top)), -1);
  EXPECT_EQ(Extract(0, 64, 'I', 'U'), 0xF0DEBC9A78563412ull);
  EXPECT_EQ(Extract(56, 64, 'M', 'U'), 0x123456789ABCDEF0ull);
  uint64_t v = 0;
  EXPECT_FALSE(ExtractBits(kData, 64, 8, 'I', 'U', &v));
  EXPECT_FALSE(ExtractBits(kData, -1, 8, 'I', 'U', &v));
  EXPECT_FALSE(ExtractBits(kData, 0, 0, 'I', 'U', &v));
  EXPECT_FALSE(ExtractBits(kData, 0, 65, 'I', 'U', &v));
}

// The bit walk written out as plainly as possible: bit by bit, byte by byte.
uint64_t ReferenceExtract(const uint8_t* data, int s, int n, bool motorola, bool is_signed) {
  uint64_t value = 0;
  int got = 0;
  int k = s / 8;
  int p = s % 8;
  while (got < n && k >= 0 && k <= 7) {
    for (int bit = p; bit < 8 && got < n; ++bit) {
      if ((data[k] >> bit) & 1) value |= uint64_t{1} << got;
      ++got;
    }
    p = 0;
    k += motorola ? -1 : 1;
  }
  if (is_signed && got < 64 && got > 0 && ((value >> (got - 1)) & 1)) {
    for (int b = got; b < 64; ++b) value |= uint64_t{1} << b;
  }
  return value;
}

TEST(ExtractBits, AgreesWithABitByBitWalkOnRandomMappings) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 20000; ++i) {
    uint8_t data[8];
    const uint64_t r = rng();
    std::memcpy(data, &r, 8);
    const int s = static_cast<int>(rng() % 64);
    const int n = 1 + static_cast<int>(rng() % 64);
    const bool motorola = rng() & 1;
    const bool is_signed = rng() & 1;
    uint64_t v = 0;
    ASSERT_TRUE(ExtractBits(data, s, n, motorola ? 'M' : 'I', is_signed ? 'S' : 'U', &v));
    ASSERT_EQ(v, ReferenceExtract(data, s, n, motorola, is_signed))
        << "s=" << s << " n=" << n << " motorola=" << motorola << " signed=" << is_signed;
  }
}

// ---- Decoding frames into channels ---------------------------------------------------------

T_CanLog_SigDef Sig(const char* name, uint32_t id, int sb, int nb, char bo, char ty, double fa = 1,
                    double of = 0) {
  T_CanLog_SigDef s;
  SetText(s.sn, name);
  s.id = id;
  s.sb = static_cast<int16_t>(sb);
  s.nb = static_cast<int16_t>(nb);
  s.bo = bo;
  s.ty = ty;
  s.fa = fa;
  s.of = of;
  s.mi = -10;
  s.ma = 10;
  return s;
}

struct Frames {
  T_CanLog_SigTab sigs;
  T_CanLog_Config cfg;
  ColumnLayout layout;
  SignalDecoder decoder;
  std::vector<ChannelValue> ch;
  void Build() {
    layout = CountColumns(sigs, cfg, 0, false);
    decoder.Build(sigs, layout);
    ch.assign(static_cast<size_t>(layout.total), ChannelValue{});
    InitChannelRanges(ch, layout, sigs);
  }
};

TEST(SignalDecoder, TypesScalingAndBusBits) {
  Frames f;
  f.sigs[0] = Sig("Speed", 0x40000123, 8, 16, 'I', 'S', 0.5, 10);
  f.sigs[1] = Sig("Ratio", 0x40000123, 0, 32, 'I', 'F');
  f.sigs[2] = Sig("Big", 0x123, 0, 64, 'I', 'D');
  f.sigs[3] = Sig("Const", 0x123, 0, 8, 'I', 'U', 0, 5);
  f.Build();
  ASSERT_EQ(f.layout.signal_count, 4);

  // 00 00 80 3F: single precision 1.0; bytes 1..2 = 0x8000 = -32768 as Intel signed.
  const uint8_t d1[8] = {0x00, 0x00, 0x80, 0x3F, 0, 0, 0, 0};
  EXPECT_EQ(f.decoder.DecodeFrame(0x40000123, d1, f.ch.data()), 2);
  EXPECT_TRUE(f.ch[0].valid);
  EXPECT_EQ(f.ch[0].value_type, 4);
  EXPECT_FALSE(f.ch[0].is_float);
  EXPECT_EQ(f.ch[0].raw, -32768);
  EXPECT_DOUBLE_EQ(f.ch[0].scaled, -32768 * 0.5 + 10);
  EXPECT_EQ(f.ch[1].value_type, 8);
  EXPECT_TRUE(f.ch[1].is_float);
  EXPECT_DOUBLE_EQ(f.ch[1].scaled, 1.0);
  EXPECT_FALSE(f.ch[2].valid) << "bus-1 signals do not take bus-2 frames";

  // 00 .. F0 3F: double precision 1.0; factor 0 and offset 5 give 5 for every frame.
  const uint8_t d2[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  EXPECT_EQ(f.decoder.DecodeFrame(0x123, d2, f.ch.data()), 2);
  EXPECT_EQ(f.ch[2].value_type, 17);
  EXPECT_DOUBLE_EQ(f.ch[2].scaled, 1.0);
  EXPECT_DOUBLE_EQ(f.ch[3].scaled, 5.0);
  EXPECT_EQ(f.decoder.DecodeFrame(0xFFFFFFFF, d2, f.ch.data()), 0);
  EXPECT_EQ(f.decoder.DecodeFrame(0x124, d2, f.ch.data()), 0);
  // Ranges start at [mi, ma] and widen.
  EXPECT_DOUBLE_EQ(f.ch[0].minimum, -16374);
  EXPECT_DOUBLE_EQ(f.ch[0].maximum, 10);
}

TEST(SignalDecoder, PreScanRangesTreatFactorZeroAsOne) {
  Frames f;
  f.sigs[0] = Sig("Const", 0x10, 0, 8, 'I', 'U', 0, 5);
  f.Build();
  const uint8_t d[8] = {100, 0, 0, 0, 0, 0, 0, 0};
  f.decoder.WidenFrameRanges(0x10, d, f.ch.data());
  EXPECT_FALSE(f.ch[0].valid) << "the pre-scan stores no values";
  EXPECT_DOUBLE_EQ(f.ch[0].maximum, 105);
  f.decoder.DecodeFrame(0x10, d, f.ch.data());
  EXPECT_DOUBLE_EQ(f.ch[0].scaled, 5);
}

TEST(SignalDecoder, MultiplexedSignalKeepsItsValueForOtherSwitchValues) {
  Frames f;
  f.sigs[0] = Sig("Mux1Val", 0x200, 8, 8, 'I', 'U');
  f.sigs[0].mu = {4, 0, 'I', 1};  // switch: bits 0..3, value 1
  f.sigs[1] = Sig("Mux2Val", 0x200, 8, 8, 'I', 'U');
  f.sigs[1].mu = {4, 0, 'I', 2};
  f.Build();
  const uint8_t a[8] = {0x01, 11, 0, 0, 0, 0, 0, 0};
  const uint8_t b[8] = {0x02, 22, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(f.decoder.DecodeFrame(0x200, a, f.ch.data()), 1);
  EXPECT_EQ(f.decoder.DecodeFrame(0x200, b, f.ch.data()), 1);
  EXPECT_EQ(f.ch[0].raw, 11);
  EXPECT_EQ(f.ch[1].raw, 22);
  const uint8_t c[8] = {0x03, 33, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(f.decoder.DecodeFrame(0x200, c, f.ch.data()), 0);
  EXPECT_EQ(f.ch[0].raw, 11);
}

TEST(SignalDecoder, UnusedAndBrokenSlots) {
  Frames f;
  f.sigs[2] = Sig("Late", 0x1, 0, 8, 'I', 'U');
  f.sigs[0] = Sig(" blank", 0x1, 0, 8, 'I', 'U');  // name does not start above blank
  f.sigs[1] = Sig("Bad", 0x1, 70, 8, 'I', 'U');    // start bit outside 0..63
  f.Build();
  EXPECT_EQ(f.layout.signal_count, 3) << "unused slots inside the group keep their column";
  const uint8_t d[8] = {7, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(f.decoder.DecodeFrame(0x1, d, f.ch.data()), 1);
  EXPECT_FALSE(f.ch[0].valid);
  EXPECT_FALSE(f.ch[1].valid);
  EXPECT_EQ(f.ch[2].raw, 7);
}

TEST(SignalDecoder, UnsignedSixtyFourBitValuesStayPositive) {
  Frames f;
  f.sigs[0] = Sig("Counter", 0x5, 0, 64, 'I', 'U');
  f.Build();
  const uint8_t d[8] = {0, 0, 0, 0, 0, 0, 0, 0x80};
  f.decoder.DecodeFrame(0x5, d, f.ch.data());
  EXPECT_DOUBLE_EQ(f.ch[0].scaled, 9223372036854775808.0);
}

// Random tables of tricky mappings (Motorola across byte ends and off byte 0, Intel off byte 7,
// signed 1- and 64-bit values, floats, multiplexed signals, factor 0), decoded from random
// frames: the values against the plain bit walk, the three decoding modes against each other.
TEST(SignalDecoder, RandomMappingsAgreeWithThePlainBitWalkInEveryMode) {
  std::mt19937_64 rng(2024);
  const char kTypes[] = {'U', 'S', 'F', 'D', 's', 'u'};
  for (int table = 0; table < 40; ++table) {
    Frames f;
    const int count = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < count; ++i) {
      const uint32_t id = 0x100 + static_cast<uint32_t>(rng() % 3);
      const int n = rng() % 4 == 0 ? (rng() % 2 == 0 ? 1 : 64) : 1 + static_cast<int>(rng() % 64);
      const char ty = kTypes[rng() % 6];
      const double fa = rng() % 8 == 0 ? 0.0 : static_cast<double>(rng() % 2000) / 7.0 - 100.0;
      f.sigs[static_cast<size_t>(i)] =
          Sig("S", id, static_cast<int>(rng() % 64), n, rng() % 2 ? 'M' : 'I', ty, fa,
              static_cast<double>(rng() % 100) - 50.0);
      if (rng() % 5 == 0) f.sigs[static_cast<size_t>(i)].mu = {3, 0, 'I', int32_t(rng() % 3)};
    }
    f.Build();
    std::vector<ChannelValue> values = f.ch, widened = f.ch, collected = f.ch;
    SignalDecoder::RangeCollector collector(f.decoder);
    for (int frame = 0; frame < 300; ++frame) {
      uint8_t data[8];
      const uint64_t r = rng();
      std::memcpy(data, &r, 8);
      const uint32_t id = 0x100 + static_cast<uint32_t>(rng() % 3);
      const int stored = f.decoder.DecodeFrame(id, data, f.ch.data());
      ASSERT_EQ(f.decoder.DecodeFrameValues(id, data, values.data()), stored);
      f.decoder.WidenFrameRanges(id, data, widened.data());
      collector.Frame(id, data, collected.data());
      int expected_stored = 0;
      for (int i = 0; i < count; ++i) {
        const T_CanLog_SigDef& d = f.sigs[static_cast<size_t>(i)];
        if (d.id != id) continue;
        if (d.mu.MuxBitCount > 0 &&
            static_cast<int64_t>(ReferenceExtract(data, 0, 3, false, false)) != d.mu.MuxVal) {
          continue;
        }
        ++expected_stored;
        const char ty = static_cast<char>(std::toupper(d.ty));
        const uint64_t bits = ReferenceExtract(data, d.sb, d.nb, d.bo == 'M', ty == 'S');
        double raw;
        if (ty == 'F') {
          float v;
          const uint32_t low = static_cast<uint32_t>(bits);
          std::memcpy(&v, &low, 4);
          raw = v;
        } else if (ty == 'D') {
          std::memcpy(&raw, &bits, 8);
        } else {
          raw = ty == 'S' ? static_cast<double>(static_cast<int64_t>(bits))
                          : static_cast<double>(bits);
        }
        const ChannelValue& c = f.ch[static_cast<size_t>(i)];
        SCOPED_TRACE(::testing::Message() << "table " << table << " signal " << i << ": sb=" << d.sb
                                          << " nb=" << d.nb << " bo=" << d.bo << " ty=" << d.ty);
        ASSERT_TRUE(c.valid);
        EXPECT_EQ(c.value_type, ty == 'F' ? 8 : ty == 'D' ? 17 : 4);
        if (ty == 'F' || ty == 'D') {
          EXPECT_EQ(c.raw, TruncateToInt64(raw));
        } else {
          EXPECT_EQ(static_cast<uint64_t>(c.raw), bits);
        }
        EXPECT_EQ(std::memcmp(&c.raw_float, &raw, 8), 0) << c.raw_float << " != " << raw;
        const double scaled = raw * d.fa + d.of;
        EXPECT_EQ(std::memcmp(&c.scaled, &scaled, 8), 0) << c.scaled << " != " << scaled;
        const ChannelValue& v = values[static_cast<size_t>(i)];
        EXPECT_TRUE(v.valid == c.valid && v.value_type == c.value_type &&
                    v.is_float == c.is_float && v.raw == c.raw &&
                    std::memcmp(&v.scaled, &c.scaled, 8) == 0);
      }
      ASSERT_EQ(stored, expected_stored);
    }
    collector.Finish(collected.data());
    for (size_t c = 0; c < f.ch.size(); ++c) {
      EXPECT_EQ(values[c].minimum, -10) << "values only: the ranges stay as they were";
      EXPECT_EQ(collected[c].minimum, widened[c].minimum) << "table " << table << " column " << c;
      EXPECT_EQ(collected[c].maximum, widened[c].maximum) << "table " << table << " column " << c;
    }
  }
}

// ---- Expression values ---------------------------------------------------------------------

TEST(ExpressionValues, EntryValuesAreTruncatedForRaw) {
  const ColumnLayout layout = MakeColumnLayout(2, 4, 0, false);
  std::vector<ChannelValue> ch(static_cast<size_t>(layout.total));
  const ExpressionEntry x = DecodeExpressionEntry(
      testing::ExpressionEntryBytes(2, 0, testing::FloatBits(2.75f), testing::FloatBits(-2.75f))
          .data());
  EXPECT_EQ(ApplyExpressionEntry(x, layout, ch.data(), false), 2);
  EXPECT_TRUE(ch[4].valid);
  EXPECT_EQ(ch[4].value_type, 8);
  EXPECT_TRUE(ch[4].is_float);
  EXPECT_DOUBLE_EQ(ch[4].scaled, 2.75);
  EXPECT_EQ(ch[4].raw, 2);
  EXPECT_EQ(ch[5].raw, -2);
  // Expression number 4 lies beyond the used expressions: dropped.
  const ExpressionEntry y = DecodeExpressionEntry(
      testing::ExpressionEntryBytes(3, 0, testing::FloatBits(1.0f), testing::FloatBits(9.0f))
          .data());
  EXPECT_EQ(ApplyExpressionEntry(y, layout, ch.data(), false), 1);
  EXPECT_EQ(TruncateToInt64(1e300), INT64_MAX);
  EXPECT_EQ(TruncateToInt64(-1e300), INT64_MIN);
}

TEST(ExpressionValues, BulkBlockSetsChannelsAndReportsIllegalTypes) {
  const ColumnLayout layout = MakeColumnLayout(1, 3, 0, false);
  std::vector<ChannelValue> ch(static_cast<size_t>(layout.total));
  const testing::Bytes block =
      testing::BulkBlock(0xD2, 0, {0, 3, 0xFF, 0xFF, 1, 9, 'h', 'i', 0, 2, 12, 0, 0});
  LogEntry e;
  e.bytes = block.data();
  e.size = e.length = 32;
  e.position = 0x100;
  e.cls = ClassifyEntry(block.data());
  ch[3].valid = true;
  MessageCapture capture;
  const BulkDecodeResult r = DecodeBulkBlock(e, layout, ch.data(), false);
  EXPECT_TRUE(r.carried_data);
  EXPECT_EQ(ch[1].raw, -1);
  EXPECT_EQ(ch[1].value_type, 3);
  EXPECT_FALSE(ch[1].is_float);
  EXPECT_EQ(ch[2].text, "hi");
  EXPECT_EQ(ch[2].value_type, 9);
  EXPECT_FALSE(ch[3].valid) << "the record with the illegal type marks its channel invalid";
  ASSERT_EQ(capture.entries().size(), 1u);
  EXPECT_EQ(capture.entries()[0].text,
            "Illegal or unsupported type (0x0C) at fp=0x0000010F. Ignoring the rest of the "
            "sample block.");

  // The pre-scan form only widens ranges and reports nothing.
  capture.Clear();
  std::vector<ChannelValue> fresh(static_cast<size_t>(layout.total));
  DecodeBulkBlock(e, layout, fresh.data(), true);
  EXPECT_FALSE(fresh[1].valid);
  EXPECT_DOUBLE_EQ(fresh[1].minimum, -1);
  EXPECT_TRUE(capture.entries().empty());
}

// ---- Column layout and names ---------------------------------------------------------------

TEST(ColumnLayout, GroupsNamesAndGpsPlacement) {
  T_CanLog_SigTab sigs;
  T_CanLog_Config cfg;
  sigs[1] = Sig("EngineSpeed", 0x100, 0, 8, 'I', 'U');
  SetText(cfg.Exp[0].ex, "a+b");
  SetText(cfg.Exp[2].ex, "c*2");
  SetText(cfg.Exp[2].na, "Double");
  const std::vector<std::string> gps = {"GpsLat", ""};

  const ColumnLayout after = CountColumns(sigs, cfg, 2, false);
  EXPECT_EQ(after.signal_first, 0);
  EXPECT_EQ(after.signal_count, 2);
  EXPECT_EQ(after.expression_first, 2);
  EXPECT_EQ(after.expression_count, 3);
  EXPECT_EQ(after.gps_first, 5);
  EXPECT_EQ(after.total, 7);
  EXPECT_EQ(ColumnName(after, 1, sigs, cfg, gps), "EngineSpeed");
  EXPECT_EQ(ColumnName(after, 2, sigs, cfg, gps), "a+b");
  EXPECT_EQ(ColumnName(after, 4, sigs, cfg, gps), "Double");
  EXPECT_EQ(ColumnName(after, 5, sigs, cfg, gps), "GpsLat");
  EXPECT_EQ(ColumnName(after, 6, sigs, cfg, gps), "GPS1");
  EXPECT_EQ(ColumnName(after, 9, sigs, cfg, gps), "Column9");

  const ColumnLayout before = CountColumns(sigs, cfg, 2, true);
  EXPECT_EQ(before.gps_first, 0);
  EXPECT_EQ(before.signal_first, 2);
  EXPECT_EQ(before.expression_first, 4);
  EXPECT_EQ(before.GroupOf(3), ColumnGroup::kSignal);
  EXPECT_EQ(ColumnName(before, 0, sigs, cfg, gps), "GpsLat");

  const ColumnLayout full = MakeColumnLayout(300, 100, 20, false);
  EXPECT_EQ(full.total, kMaxColumns);

  std::vector<ChannelValue> ch(static_cast<size_t>(after.total));
  InitChannelRanges(ch, after, sigs);
  EXPECT_EQ(ch[3].minimum, kRangeUnset);
  EXPECT_EQ(ch[3].maximum, 0.0);
  ch[3].Widen(-4);
  EXPECT_EQ(ch[3].minimum, -4);
  EXPECT_EQ(ch[3].maximum, 0.0);
}

}  // namespace
}  // namespace tessmar
