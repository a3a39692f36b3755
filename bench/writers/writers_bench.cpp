// Rows per second written by each output format, against the CSV writer, for the same columns:
// 60 signals (40 of 16 bits, 20 of 32 bits), 8 expressions, a few channels without value. Every
// row changes some values so that no formatter works on a constant.

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "config/canlog_config.h"
#include "logfile/channel_value.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

struct BenchSetup {
  T_CanLog_SigTab sigs;
  T_CanLog_Config cfg;
  std::vector<ChannelValue> channels;
  WriterSetup setup;
  std::filesystem::path dir;

  BenchSetup() {
    dir = std::filesystem::temp_directory_path() / "tessmar_writers_bench";
    std::filesystem::create_directories(dir);
    for (int s = 0; s < 60; ++s) {
      T_CanLog_SigDef& sig = sigs[static_cast<std::size_t>(s)];
      SetText(sig.sn, "Signal" + std::to_string(s));
      SetText(sig.un, "u");
      sig.nb = s < 40 ? 16 : 32;
      sig.ty = s % 3 == 0 ? 'S' : 'U';
      sig.fa = s % 2 == 0 ? 0.1 : 1.0;
      sig.id = 0x100u + static_cast<std::uint32_t>(s / 4);
    }
    for (int e = 0; e < 8; ++e) {
      SetText(cfg.Exp[static_cast<std::size_t>(e)].ex, "x" + std::to_string(e));
      SetText(cfg.Exp[static_cast<std::size_t>(e)].na, "Expr" + std::to_string(e));
    }
    setup.layout = CountColumns(sigs, cfg, 0, false);
    channels.assign(static_cast<std::size_t>(setup.layout.total), ChannelValue{});
    setup.columns.resize(channels.size());
    for (std::size_t c = 0; c < channels.size(); ++c) {
      WriterColumn& col = setup.columns[c];
      int index = 0;
      col.group = setup.layout.GroupOf(static_cast<int>(c), &index);
      col.index_in_group = index;
      col.used = true;
      col.name = ColumnName(setup.layout, static_cast<int>(c), sigs, cfg);
    }
    setup.logged_config = &cfg;
    setup.signal_table = &sigs;
    setup.channels = channels.data();
    setup.start_date = 1508400303.0;
    setup.write_interval = 0.01;
    setup.output_type = OutputType::kSignals;
    setup.headlines = 1;
    setup.column_separator = ',';
    for (std::size_t c = 0; c < channels.size(); ++c) {
      if (c % 17 == 5) continue;  // a few channels never get a value
      ChannelValue& v = channels[c];
      v.valid = true;
      v.value_type = kChannelTypeInteger;
      v.raw = static_cast<std::int64_t>(c * 37);
      v.raw_float = static_cast<double>(v.raw);
      v.scaled = v.raw_float * 0.1;
    }
  }

  void Change(std::int64_t row) {
    for (std::size_t c = static_cast<std::size_t>(row % 4); c < channels.size(); c += 4) {
      ChannelValue& v = channels[c];
      if (!v.valid) continue;
      v.raw = (v.raw * 1103515245 + 12345 + row) % 65536 - 32768;
      v.raw_float = static_cast<double>(v.raw);
      v.scaled = v.raw_float * 0.1 + 0.05;
    }
  }
};

void WriteRows(benchmark::State& state, int format_code) {
  BenchSetup b;
  const OutputFormatInfo* info = FindOutputFormat(format_code);
  b.setup.format_code = format_code;
  b.setup.mode = format_code == kFormatDiademInt32 ? 1 : format_code == kFormatDiademReal64 ? 2 : 0;
  b.setup.invalid_value =
      format_code == kFormatDiademInt32                                           ? "2147483646"
      : (format_code == kFormatDiademAscii || format_code == kFormatDiademReal64) ? "9.9E+34"
                                                                                  : "-99999999";
  b.setup.output_path = b.dir / (std::string("bench") + info->default_extension);
  constexpr std::int64_t kRows = 20000;
  std::int64_t rows = 0;
  for (auto _ : state) {
    std::unique_ptr<Writer> w = CreateWriter(OutputType::kSignals, format_code);
    if (!w || w->Create(b.setup) == 0) {
      state.SkipWithError("writer not available");
      return;
    }
    WriterRow row;
    for (std::int64_t r = 0; r < kRows; ++r) {
      b.Change(r);
      row.time = 10.0 + static_cast<double>(r) * 0.01;
      row.elapsed = row.time;
      benchmark::DoNotOptimize(w->WriteRow(row));
    }
    (void)w->Finish(WriterFinish{kRows, false, false});
    rows += kRows;
  }
  state.SetItemsProcessed(rows);
  state.counters["columns"] = static_cast<double>(b.channels.size());
  std::error_code ec;
  std::filesystem::remove_all(b.dir, ec);
}

// CAN frames of the Messages output as MDF4 bus logging, bus 1 and 2, standard and extended.
void WriteMdf4Frames(benchmark::State& state) {
  BenchSetup b;
  b.setup.output_type = OutputType::kMessages;
  b.setup.output_path = b.dir / "frames.mf4";
  constexpr std::int64_t kFrames = 2000000;
  std::uint8_t entries[4][16] = {};
  const std::uint32_t ids[4] = {0x123, 0x40000456, 0x38FEF100, 0x78FF5010};
  for (int i = 0; i < 4; ++i) {
    entries[i][0] = 8;
    entries[i][1] = 1;
    std::memcpy(entries[i] + 4, &ids[i], 4);
  }
  std::int64_t frames = 0;
  for (auto _ : state) {
    std::unique_ptr<Writer> w = CreateWriter(OutputType::kMessages, kFormatMdf4);
    if (!w || w->Create(b.setup) == 0) {
      state.SkipWithError("writer not available");
      return;
    }
    WriterRow row;
    row.entry_length = 16;
    for (std::int64_t r = 0; r < kFrames; ++r) {
      row.entry = entries[r & 3];
      row.elapsed = static_cast<double>(r) * 1e-4;
      benchmark::DoNotOptimize(w->WriteRow(row));
    }
    (void)w->Finish(WriterFinish{kFrames, false, false});
    frames += kFrames;
  }
  state.SetItemsProcessed(frames);
  std::error_code ec;
  std::filesystem::remove_all(b.dir, ec);
}

BENCHMARK_CAPTURE(WriteRows, csv, kFormatCsvInternational)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteRows, diadem_ascii, kFormatDiademAscii)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteRows, diadem_int32, kFormatDiademInt32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteRows, diadem_real64, kFormatDiademReal64)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteRows, vector_mdf, kFormatVectorMdf)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteRows, stiegele_mdf, kFormatStiegeleMdf)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteRows, etas_ascii, kFormatEtasAscii)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteRows, mdf4, kFormatMdf4)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteMdf4Frames)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessmar

BENCHMARK_MAIN();
