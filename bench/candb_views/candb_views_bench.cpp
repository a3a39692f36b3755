// The CANdb page on the generated database of 50,000 signals, under the offscreen platform:
//   BM_ImportWithViews  loading the file into an empty table and rebuilding the page's table,
//                       tree and lists (what an import costs the user, widgets included)
//   BM_RebuildViews     the page's rebuild alone
//   BM_TableSelection   selecting a table row (lists, status) as a click does

#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>

#include "bench/candb/generated_dbc.h"
#include "candb_views/candb_page.h"
#include "candb_views/candb_table_view.h"
#include "common/message_output.h"

namespace tessmar {
namespace {

using bench::BenchFile;

struct PageUnderTest {
  LoggerConfiguration config;
  SignalTable table;
  std::unique_ptr<CANdbPage> page;

  PageUnderTest() {
    page = std::make_unique<CANdbPage>(config, table);
    page->resize(1000, 700);
    page->show();
    QApplication::processEvents();
  }
};

void BM_ImportWithViews(benchmark::State& state) {
  const std::string& path = BenchFile();
  MessageCapture quiet;
  SetBatchMode(true);
  int rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto p = std::make_unique<PageUnderTest>();
    state.ResumeTiming();
    p->table.LoadDbc(path, 1, kLoadIgnoreNodeNames);
    p->page->RebuildViews();
    QApplication::processEvents();  // the repaint that follows
    rows = p->table.data_row_count();
    state.PauseTiming();
    p.reset();
    state.ResumeTiming();
  }
  state.counters["signals"] = rows;
}
BENCHMARK(BM_ImportWithViews)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RebuildViews(benchmark::State& state) {
  MessageCapture quiet;
  SetBatchMode(true);
  PageUnderTest p;
  p.table.LoadDbc(BenchFile(), 1, kLoadIgnoreNodeNames);
  for (auto _ : state) {
    p.page->RebuildViews();
    QApplication::processEvents();
  }
  state.counters["signals"] = p.table.data_row_count();
}
BENCHMARK(BM_RebuildViews)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TableSelection(benchmark::State& state) {
  MessageCapture quiet;
  SetBatchMode(true);
  PageUnderTest p;
  p.table.LoadDbc(BenchFile(), 1, kLoadIgnoreNodeNames);
  p.page->RebuildViews();
  int row = 1;
  for (auto _ : state) {
    row = row % (p.table.data_row_count() - 1) + 7919 % 1000 + 1;
    p.page->table_view()->SetCurrentTableRow(row);
    QApplication::processEvents();
  }
}
BENCHMARK(BM_TableSelection)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tessmar

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
