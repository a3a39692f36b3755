// The read-decode-grid path alone: the conversion of the Signals workload recording (10 messages x
// 8 signals, 2,000,015 frames) through the driver into a writer that discards its rows, so that
// only reading the entries, the running clock, decoding the signals and the row grid (with the
// pre-scan before them) are measured. Messages: the same recording, one row per frame, no
// signal decoding.
//
// Counters: entries/s over the real time and over the CPU time of the benchmark's thread.

#include <benchmark/benchmark.h>

#include <filesystem>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "logfile/simulator/recording_simulator.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

// Counts the rows it is given and keeps nothing.
class DiscardingWriter : public Writer {
 public:
  int Create(const WriterSetup&) override { return 1; }
  // Like a text output: Signals rows would show the signal values, Messages rows the frames.
  bool ReadsChannelValues(OutputType type) const override { return type == OutputType::kSignals; }
  int WriteRow(const WriterRow& row) override {
    ++rows;
    last_time = row.time;
    return kRowWritten;
  }
  int Finish(const WriterFinish&) override { return 1; }
  int64_t rows = 0;
  double last_time = 0;
};

struct Recording {
  std::filesystem::path dir;
  std::filesystem::path path;
  double entries = 0;
  bool ok = false;

  Recording() {
    dir = std::filesystem::temp_directory_path() / "tessmar_grid_bench";
    std::filesystem::create_directories(dir);
    LoggerConfiguration config;
    if (!ReadClcFile(std::filesystem::path(TESSMAR_BENCH_DIR) / "signals_workload.clc", config)) {
      return;
    }
    SimulatorOptions options;
    options.duration_s = 4461;
    options.gps = false;
    path = dir / "workload.cld";
    const SimulationResult r = SimulateRecording(config, options, path);
    entries = static_cast<double>(r.entries_in_file);
    ok = r.ok;
  }
  ~Recording() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Recording& Workload() {
  static Recording r;
  return r;
}

void RunIntoDiscard(benchmark::State& state, OutputType type) {
  Recording& r = Workload();
  if (!r.ok) {
    state.SkipWithError("could not simulate the recording");
    return;
  }
  const MessageHandler previous = SetMessageHandler([](int, std::string_view) {});
  int64_t rows = 0;
  for (auto _ : state) {
    DiscardingWriter discard;
    ConversionRequest request;
    request.sources = {r.path};
    request.output_dir = r.dir;
    request.options.output_type = type;
    request.options.output_file_format = kFormatCsvInternational;
    request.options.time_column1 = TimeColumnKind::kSeconds;
    request.options.write_interval = "0.01";
    request.jobs = 1;
    request.row_writer = &discard;
    const ConversionSummary summary = RunConversion(request);
    if (summary.converted != 1) {
      state.SkipWithError("the conversion failed");
      break;
    }
    rows = discard.rows;
    benchmark::DoNotOptimize(discard.last_time);
  }
  SetMessageHandler(previous);
  state.counters["entries_per_s"] =
      benchmark::Counter(r.entries, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_SignalsIntoDiscardingWriter(benchmark::State& state) {
  RunIntoDiscard(state, OutputType::kSignals);
}
void BM_MessagesIntoDiscardingWriter(benchmark::State& state) {
  RunIntoDiscard(state, OutputType::kMessages);
}

BENCHMARK(BM_SignalsIntoDiscardingWriter)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MessagesIntoDiscardingWriter)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace tessmar

BENCHMARK_MAIN();
