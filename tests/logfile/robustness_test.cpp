// Randomly corrupted and truncated recordings through reader, clock, pre-scan and value decoding:
// no crash, no hang, no read outside a buffer (this test also runs under the sanitizers).

#include <gtest/gtest.h>

#include <random>

#include "common/message_output.h"
#include "logfile/log_header.h"
#include "logfile/pre_scan.h"
#include "tests/logfile/recording_builder.h"

namespace tessmar {
namespace {

using testing::Bytes;

testing::Recording BaseRecording(std::mt19937& rng) {
  testing::Recording rec;
  rec.Config("Sig00: id=0x100,sn=\"A\",ty=U,fa=0.5,of=1,mi=0,ma=10,sb=0,nb=16,bo=I");
  rec.Config("Sig01: id=0x100,sn=\"B\",ty=S,sb=20,nb=12,bo=M,mu=(3,56,4,I)");
  rec.Config("Sig02: id=0x40000200,sn=\"C\",ty=F,sb=0,nb=32,bo=I");
  rec.Config("Sig03: id=0x200,sn=\"D\",ty=D,sb=0,nb=64,bo=I");
  rec.Config("Exp00: ex=\"a+b\",na=\"Sum\",mi=0,ma=1");
  rec.Config("Exp01: ex=\"a*b\",na=\"Prod\",mi=0,ma=1");
  rec.StandardHeader("2017-10-19 12:00:00", 1000).Marker().WithBinaryHeader();
  uint32_t ticks = 1000;
  const int64_t t0 = DateToSeconds(2017, 10, 19, 12, 0, 0);
  for (int i = 0; i < 600; ++i) {
    ticks += 40 + rng() % 400;
    const uint8_t v = static_cast<uint8_t>(rng());
    switch (rng() % 12) {
      case 0: {
        const CalendarTime t = SecondsToCalendar(t0 + ticks / 39065.5L);
        rec.Add(testing::TimeEntry(ticks, static_cast<int>(t.year), t.month, t.day, t.hour,
                                   t.minute, t.second, 0));
        break;
      }
      case 1:
        rec.Add(testing::ExpressionEntryBytes(0, ticks, testing::FloatBits(v * 0.5f),
                                              testing::FloatBits(-v * 1.0f)));
        break;
      case 2:
        rec.Add(testing::Gps1Entry(1, false, 6, ticks, 4320000, 19, 10, 2017, v));
        break;
      case 3:
        rec.Add(testing::Gps2Entry(500, 48 * 360000 + v, 11 * 360000));
        break;
      case 4:
        rec.Add(testing::BulkBlock(0xD2, ticks,
                                   {0, 6, v, 1, 1, 9, 'x', 'y', 0, 1, 8, 0, 0, 0x80, 0x3F, 255}));
        break;
      case 5:
        rec.Add(testing::BulkBlock(0xD0, ticks,
                                   {0, 17, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 1, 4, v, v, v, v},
                                   static_cast<uint16_t>(20 + rng() % 200)));
        break;
      case 6:
        rec.Add(testing::MarkerEntry(rng() % 2 ? "pre" : "tri", ticks, v, v));
        break;
      case 7:
        rec.Add(testing::CanEntry(ticks, 0x40000200, {0, 0, 0x80, 0x3F, v}));
        break;
      default:
        rec.Add(testing::CanEntry(ticks, rng() % 3 ? 0x100 : 0x200,
                                  {v, 1, 2, 3, 4, 5, 6, static_cast<uint8_t>(v >> 4)}));
        break;
    }
  }
  rec.Add(testing::MarkerEntry("eof", ticks));
  return rec;
}

void Corrupt(Bytes& b, size_t header_size, std::mt19937& rng) {
  const int kind = static_cast<int>(rng() % 6);
  const size_t n = b.size();
  switch (kind) {
    case 0:  // scattered byte flips in the binary part
      for (int i = 0; i < 40; ++i)
        b[header_size + rng() % (n - header_size)] = static_cast<uint8_t>(rng());
      break;
    case 1:  // block headers with wild lengths
      for (int i = 0; i < 10; ++i) {
        const size_t at = header_size + (rng() % ((n - header_size) / 16)) * 16;
        b[at] = static_cast<uint8_t>(0xC0 | (rng() % 0x40));
        if (at + 2 < n) b[at + 1] = b[at + 2] = 0xFF;
      }
      break;
    case 2:  // truncated anywhere, also inside the header
      b.resize(rng() % n);
      break;
    case 3:  // a run of random garbage
      for (size_t i = header_size + rng() % (n - header_size), k = 0; i < n && k < 3000; ++i, ++k) {
        b[i] = static_cast<uint8_t>(rng());
      }
      break;
    case 4:  // header damage: flips in the text
      for (int i = 0; i < 20; ++i) b[rng() % header_size] = static_cast<uint8_t>(rng());
      break;
    default:  // garbage time entries and counters
      for (int i = 0; i < 30; ++i) {
        const size_t at = header_size + (rng() % ((n - header_size) / 16)) * 16;
        b[at] = 0x40;
        b[at + 1] = 't';
        b[at + 2] = 'i';
        b[at + 3] = 'm';
        for (size_t k = 4; k < 16 && at + k < n; ++k) b[at + k] = static_cast<uint8_t>(rng());
      }
      break;
  }
}

TEST(Robustness, CorruptedAndTruncatedRecordings) {
  testing::TempFolder tmp;
  std::mt19937 rng(20261207);
  size_t messages_seen = 0;
  MessageHandler previous = SetMessageHandler([&](int, std::string_view) { ++messages_seen; });
  DecodeMessages msgs;
  msgs.verbose = true;
  int scanned = 0;
  uint64_t entries = 0;
  constexpr int kRounds = 1200;
  for (int round = 0; round < kRounds; ++round) {
    testing::Recording rec = BaseRecording(rng);
    Bytes bytes = rec.Build();
    Corrupt(bytes, rec.HeaderSize(), rng);
    if (round % 3 == 0) Corrupt(bytes, std::min(rec.HeaderSize(), bytes.size() / 2 + 1), rng);
    const auto path = tmp.File("r" + std::to_string(round) + ".cld");
    testing::WriteBytes(path, bytes);

    msgs.ResetForFile();
    CldReader reader;
    ASSERT_TRUE(reader.Open(path));
    T_CanLog_Config cfg;
    T_CanLog_SigTab sigs;
    const LogHeader header = ReadLogHeader(reader, cfg, sigs);
    if (header.binary_position == 0) continue;
    reader.ReadBinaryHeader(header.binary_position);
    const ColumnLayout layout = CountColumns(sigs, cfg, 2, round % 2 == 0);
    SignalDecoder decoder;
    decoder.Build(sigs, layout);
    std::vector<ChannelValue> channels(static_cast<size_t>(layout.total));
    InitChannelRanges(channels, layout, sigs);
    RunningClock clock;
    PreScanSetup setup;
    setup.file_name = "r.cld";
    setup.start = header.start;
    setup.frequency = CheckTimerFrequency(header, &msgs);
    setup.new_file_on_startup = cfg.NewFileOnStartup != 0;
    setup.breakpoint = static_cast<double>(DateToSeconds(2017, 10, 19, 12, 0, 5));
    setup.layout = &layout;
    setup.signals = &decoder;
    setup.channels = channels;
    const PreScanResult scan = RunPreScan(reader, clock, msgs, setup);
    ASSERT_TRUE(scan.completed);
    ++scanned;
    entries += scan.entry_count;
    ASSERT_LE(scan.entry_count, bytes.size() / 16);
    ASSERT_GE(scan.oldest_position, reader.FirstEntryPosition());
    ASSERT_LE(scan.oldest_position, static_cast<int64_t>(bytes.size()));

    // The conversion pass: from the oldest entry round the end for exactly entry_count entries.
    clock.BeginPass(ClockPass::kConversion);
    ClearChannelValues(channels);
    reader.SetPosition(scan.oldest_position, static_cast<uint32_t>(scan.oldest_index));
    LogEntry e;
    for (uint32_t i = 0; i < scan.entry_count; ++i) {
      if (!reader.NextEntry(&e, &msgs)) {
        reader.SetPosition(reader.FirstEntryPosition(), 0);
        if (!reader.NextEntry(&e, &msgs)) break;
      }
      ASSERT_LE(e.position + e.size, static_cast<int64_t>(bytes.size()));
      ASSERT_EQ(std::memcmp(e.bytes, bytes.data() + e.position, e.size), 0);
      clock.ApplyEntry(e);
      if (e.cls == EntryClass::kCanFrame && clock.TimeEntrySeenInPass() && !IsDummyBlock(e.bytes)) {
        decoder.DecodeFrame(CanIdentifier(e.bytes), CanData(e.bytes), channels.data());
      } else if (e.cls == EntryClass::kExpression) {
        ApplyExpressionEntry(DecodeExpressionEntry(e.bytes), layout, channels.data(), false);
      } else if (e.cls == EntryClass::kBulkExpression) {
        DecodeBulkBlock(e, layout, channels.data(), false);
      }
      (void)FormatDateTime(clock.AbsoluteTime());
    }
  }
  SetMessageHandler(std::move(previous));
  EXPECT_GT(messages_seen, 0u);
  EXPECT_GT(scanned, kRounds / 2) << "most corruptions leave a readable header";
  EXPECT_GT(entries, 100u * static_cast<uint64_t>(scanned));
}

}  // namespace
}  // namespace tessmar
