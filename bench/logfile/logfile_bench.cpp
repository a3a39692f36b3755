// Reading speed of recordings: classifying entries, and decoding CAN frames into channel values
// for a configuration of 20 signals. Works on a generated recording of about 256 MB kept in a
// temporary file (in the page cache after the first pass).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/message_output.h"
#include "logfile/cld_reader.h"
#include "logfile/log_header.h"
#include "logfile/pre_scan.h"
#include "logfile/running_clock.h"
#include "logfile/signal_values.h"

namespace tessmar {
namespace {

constexpr int64_t kEntries = 16 * 1024 * 1024;  // 256 MB of 16-byte entries
constexpr int kMessages = 8;

// 20 signals in 8 messages: Intel and Motorola, signed, unsigned, float, a multiplexed pair.
const char* const kSignalLines[] = {
    "Sig00: id=0x100,sn=\"EngSpeed\",ty=U,fa=0.25,of=0,mi=0,ma=8000,sb=0,nb=16,bo=I",
    "Sig01: id=0x100,sn=\"EngTorque\",ty=S,fa=0.1,of=0,mi=-500,ma=500,sb=16,nb=16,bo=I",
    "Sig02: id=0x100,sn=\"Throttle\",ty=U,fa=0.4,of=0,mi=0,ma=100,sb=32,nb=8,bo=I",
    "Sig03: id=0x101,sn=\"Coolant\",ty=S,fa=1,of=-40,mi=-40,ma=150,sb=0,nb=8,bo=I",
    "Sig04: id=0x101,sn=\"OilTemp\",ty=S,fa=1,of=-40,mi=-40,ma=150,sb=8,nb=8,bo=I",
    "Sig05: id=0x101,sn=\"OilPress\",ty=U,fa=0.01,of=0,mi=0,ma=10,sb=16,nb=12,bo=I",
    "Sig06: id=0x202,sn=\"WheelFL\",ty=U,fa=0.01,of=0,mi=0,ma=300,sb=8,nb=16,bo=M",
    "Sig07: id=0x202,sn=\"WheelFR\",ty=U,fa=0.01,of=0,mi=0,ma=300,sb=24,nb=16,bo=M",
    "Sig08: id=0x202,sn=\"WheelRL\",ty=U,fa=0.01,of=0,mi=0,ma=300,sb=40,nb=16,bo=M",
    "Sig09: id=0x202,sn=\"WheelRR\",ty=U,fa=0.01,of=0,mi=0,ma=300,sb=56,nb=16,bo=M",
    "Sig10: id=0x303,sn=\"AccelX\",ty=F,fa=1,of=0,mi=-20,ma=20,sb=0,nb=32,bo=I",
    "Sig11: id=0x303,sn=\"AccelY\",ty=F,fa=1,of=0,mi=-20,ma=20,sb=32,nb=32,bo=I",
    "Sig12: id=0x40000404,sn=\"BattVolt\",ty=U,fa=0.001,of=0,mi=0,ma=20,sb=0,nb=16,bo=I",
    "Sig13: id=0x40000404,sn=\"BattCurr\",ty=S,fa=0.01,of=0,mi=-300,ma=300,sb=16,nb=16,bo=I",
    "Sig14: id=0x38FEF100,sn=\"Odometer\",ty=U,fa=0.1,of=0,mi=0,ma=1e6,sb=0,nb=32,bo=I",
    "Sig15: id=0x38FEF100,sn=\"Trip\",ty=U,fa=0.1,of=0,mi=0,ma=1e4,sb=32,nb=24,bo=I",
    "Sig16: id=0x505,sn=\"Gear\",ty=U,fa=1,of=0,mi=0,ma=8,sb=0,nb=4,bo=I",
    "Sig17: id=0x505,sn=\"Steering\",ty=S,fa=0.1,of=0,mi=-720,ma=720,sb=12,nb=16,bo=M",
    "Sig18: id=0x606,sn=\"MuxA\",ty=U,fa=1,of=0,mi=0,ma=255,sb=8,nb=8,bo=I,mu=(0,0,4,I)",
    "Sig19: id=0x606,sn=\"MuxB\",ty=U,fa=1,of=0,mi=0,ma=255,sb=8,nb=8,bo=I,mu=(1,0,4,I)",
};
const uint32_t kIds[kMessages] = {0x100, 0x101, 0x202, 0x303, 0x40000404, 0x18FEF100 | 0x20000000,
                                  0x505, 0x606};

void PutLe32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Writes the recording once: a header, then CAN frames of the 8 messages with random data, a
// time entry every 4096 entries (about one per second), an expression entry every 1000.
std::string MakeRecording() {
  static std::string path;
  if (!path.empty()) return path;
  path = (std::filesystem::temp_directory_path() /
          ("tessmar_logfile_bench_" + std::to_string(::getpid()) + ".cld"))
             .string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::string header = "[Common]\r\nEncryption=0\r\n[CanLoggerConfig]\r\nTimestampFreq=39065.5\r\n";
  for (const char* l : kSignalLines) header += std::string(l) + "\r\n";
  header += "Exp00: ex=\"a+b\",na=\"Sum\",mi=0,ma=1\r\n";
  header += "[LogFileInfo]\r\nStartDate=2017-10-19 12:00:00\r\nStartTimestamp=0\r\n";
  header += "[BINARY_LOG_DATA]\r\n";
  std::fwrite(header.data(), 1, header.size(), f);
  std::mt19937 rng(1);
  std::vector<uint8_t> chunk(16 * 4096);
  uint32_t ticks = 0;
  int64_t second = 0;
  for (int64_t done = 0; done < kEntries; done += 4096) {
    for (int i = 0; i < 4096; ++i) {
      uint8_t* e = chunk.data() + 16 * i;
      ticks += 4 + (rng() & 3);
      if (i == 0) {
        e[0] = 0x40;
        std::memcpy(e + 1, "tim", 3);
        PutLe32(e + 4, ticks);
        const int64_t t = 12 * 3600 + second++;
        const uint8_t date[8] = {0x07,
                                 0xE1,
                                 10,
                                 19,
                                 static_cast<uint8_t>(t / 3600 % 24),
                                 static_cast<uint8_t>(t / 60 % 60),
                                 static_cast<uint8_t>(t % 60),
                                 0};
        std::memcpy(e + 8, date, 8);
      } else if (i % 1000 == 500) {
        e[0] = 0x90;
        e[1] = 0;
        e[2] = e[3] = 0;
        PutLe32(e + 4, ticks);
        const float v = static_cast<float>(i);
        std::memcpy(e + 8, &v, 4);
        std::memset(e + 12, 0xFF, 4);
      } else {
        e[0] = 8;
        e[1] = static_cast<uint8_t>(ticks);
        e[2] = static_cast<uint8_t>(ticks >> 8);
        e[3] = static_cast<uint8_t>(ticks >> 16);
        PutLe32(e + 4, kIds[rng() % kMessages]);
        const uint32_t a = rng(), b = rng();
        std::memcpy(e + 8, &a, 4);
        std::memcpy(e + 12, &b, 4);
      }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), f);
  }
  std::memset(chunk.data(), 0, 16);
  chunk[0] = 0x40;
  std::memcpy(chunk.data() + 1, "eof", 3);
  std::fwrite(chunk.data(), 1, 16, f);
  std::fclose(f);
  std::atexit([] { std::remove(path.c_str()); });
  return path;
}

struct Opened {
  CldReader reader;
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  LogHeader header;
  Opened() {
    // Without its recording the bench would time an empty reader: stop instead.
    if (!reader.Open(MakeRecording())) std::abort();
    header = ReadLogHeader(reader, cfg, sigs);
    reader.ReadBinaryHeader(header.binary_position);
  }
};

// Reading every entry and classifying it by byte 0.
void BM_ReadAndClassify(benchmark::State& state) {
  Opened o;
  int64_t entries = 0;
  for (auto _ : state) {
    o.reader.SetPosition(o.reader.FirstEntryPosition(), 0);
    uint64_t counts[16] = {};
    LogEntry e;
    while (o.reader.NextEntry(&e)) ++counts[static_cast<int>(e.cls)];
    benchmark::DoNotOptimize(counts);
    entries += static_cast<int64_t>(counts[0] + counts[1] + counts[2] + counts[6]);
  }
  state.SetItemsProcessed(entries);
  state.SetBytesProcessed(entries * 16);
}
BENCHMARK(BM_ReadAndClassify)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Reading, running the clock and decoding every CAN frame into the 20 signal channels.
void BM_ReadClockAndDecode(benchmark::State& state) {
  Opened o;
  const ColumnLayout layout = CountColumns(o.sigs, o.cfg, 0, false);
  SignalDecoder decoder;
  decoder.Build(o.sigs, layout);
  std::vector<ChannelValue> channels(static_cast<size_t>(layout.total));
  DecodeMessages msgs;
  RunningClock clock;
  int64_t frames = 0;
  int64_t values = 0;
  for (auto _ : state) {
    clock.ResetForFile(o.header.start, o.header.frequency, false, &msgs);
    clock.BeginPass(ClockPass::kConversion);
    o.reader.SetPosition(o.reader.FirstEntryPosition(), 0);
    LogEntry e;
    while (o.reader.NextEntry(&e)) {
      clock.ApplyEntry(e);
      if (e.cls == EntryClass::kCanFrame) {
        ++frames;
        values += decoder.DecodeFrame(CanIdentifier(e.bytes), CanData(e.bytes), channels.data());
      } else if (e.cls == EntryClass::kExpression) {
        ApplyExpressionEntry(DecodeExpressionEntry(e.bytes), layout, channels.data(), false);
      }
    }
    benchmark::DoNotOptimize(channels.data());
  }
  state.SetItemsProcessed(frames);
  state.counters["values/frame"] = static_cast<double>(values) / static_cast<double>(frames);
}
BENCHMARK(BM_ReadClockAndDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Decoding alone, frames already in memory (the share of the decoder in the pass above).
void BM_DecodeFramesInMemory(benchmark::State& state) {
  Opened o;
  const ColumnLayout layout = CountColumns(o.sigs, o.cfg, 0, false);
  SignalDecoder decoder;
  decoder.Build(o.sigs, layout);
  std::vector<ChannelValue> channels(static_cast<size_t>(layout.total));
  std::vector<uint8_t> frames;
  LogEntry e;
  while (frames.size() < 16u * 1000000 && o.reader.NextEntry(&e)) {
    if (e.cls == EntryClass::kCanFrame) frames.insert(frames.end(), e.bytes, e.bytes + 16);
  }
  const size_t n = frames.size() / 16;
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* f = frames.data() + 16 * i;
      decoder.DecodeFrame(CanIdentifier(f), CanData(f), channels.data());
    }
    benchmark::DoNotOptimize(channels.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}
BENCHMARK(BM_DecodeFramesInMemory)->Unit(benchmark::kMillisecond);

// The whole pre-scan (clock, ranges of all channels, progress) over the recording.
void BM_PreScan(benchmark::State& state) {
  Opened o;
  const ColumnLayout layout = CountColumns(o.sigs, o.cfg, 0, false);
  SignalDecoder decoder;
  decoder.Build(o.sigs, layout);
  std::vector<ChannelValue> channels(static_cast<size_t>(layout.total));
  MessageHandler previous = SetMessageHandler({});
  int64_t entries = 0;
  for (auto _ : state) {
    DecodeMessages msgs;
    RunningClock clock;
    PreScanSetup setup;
    setup.file_name = "bench.cld";
    setup.start = o.header.start;
    setup.frequency = o.header.frequency;
    setup.layout = &layout;
    setup.signals = &decoder;
    setup.channels = channels;
    const PreScanResult r = RunPreScan(o.reader, clock, msgs, setup);
    entries += r.entry_count;
  }
  SetMessageHandler(std::move(previous));
  state.SetItemsProcessed(entries);
}
BENCHMARK(BM_PreScan)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace tessmar

BENCHMARK_MAIN();
