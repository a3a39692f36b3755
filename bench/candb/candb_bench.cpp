// CAN database benchmarks on a generated large DBC file: 5,000 messages with 10 signals each
// (50,000 signals), a comment per signal, value descriptions, attribute definitions and values.
//   BM_ReadDbc            the reader alone (bytes/s = read speed)
//   BM_LoadTableAndViews  loading into the signal table, building the tree and the lists and
//                         marking the logged rows, as an import does

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/candb/generated_dbc.h"
#include "candb/candb.h"
#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "candb/signal_views.h"
#include "common/message_output.h"

namespace tessmar {
namespace {

using bench::BenchFile;

void BM_ReadDbc(benchmark::State& state) {
  const std::string& path = BenchFile();
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
  MessageCapture quiet;
  int signals = 0;
  for (auto _ : state) {
    CANdb db;
    benchmark::DoNotOptimize(db.LoadDbcFile(path));
    signals = 0;
    for (const auto& m : db.messages()) signals += m->signal_count();
    benchmark::DoNotOptimize(signals);
  }
  state.SetBytesProcessed(size * static_cast<int64_t>(state.iterations()));
  state.counters["signals"] = signals;
  state.counters["errors"] = quiet.CountAtLeast(kMsgWarning);
  state.counters["MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(BM_ReadDbc)->Unit(benchmark::kMillisecond);

void BM_LoadTableAndViews(benchmark::State& state) {
  const std::string& path = BenchFile();
  MessageCapture quiet;
  SetBatchMode(true);
  LoggerConfiguration config;
  int rows = 0;
  for (auto _ : state) {
    SignalTable table;
    table.LoadDbc(path, 1, kLoadIgnoreNodeNames);
    MarkLoggedRows(table, config.sigs);
    SignalTree tree;
    tree.Build(table);
    SignalLists lists;
    lists.Rebuild(table);
    rows = table.row_count() - 1;
    benchmark::DoNotOptimize(tree.size());
  }
  SetBatchMode(false);
  state.counters["rows"] = rows;
}
BENCHMARK(BM_LoadTableAndViews)->Unit(benchmark::kMillisecond);

// Loading the same file a second time: every signal finds its earlier row.
void BM_ReloadIntoFullTable(benchmark::State& state) {
  const std::string& path = BenchFile();
  MessageCapture quiet;
  SetBatchMode(true);
  SignalTable table;
  table.LoadDbc(path, 1, kLoadIgnoreNodeNames);
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.LoadDbc(path, 1, kLoadIgnoreNodeNames));
  }
  SetBatchMode(false);
}
BENCHMARK(BM_ReloadIntoFullTable)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessmar

BENCHMARK_MAIN();
