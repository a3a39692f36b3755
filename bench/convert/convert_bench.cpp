// End-to-end conversion speed through tessmar-cli on a simulated recording of more than 200 MB
// held in the page cache, next to the I/O floor of the same run: reading the input with `cat`
// and writing the output's size with `dd`.
//
// Counters: entries/s over wall time, entries/s over the child's CPU time (one core), and the
// wall time as a multiple of the I/O floor.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "config/clc_file.h"
#include "logfile/simulator/recording_simulator.h"

namespace tessmar {
namespace {

struct Fixture {
  std::filesystem::path dir;
  std::filesystem::path recording;          // the first one
  std::vector<std::filesystem::path> more;  // the others (seeds 2, 3, ...)
  double entries = 0;                       // of all recordings
  bool ok = false;

  // config: the logger configuration to simulate; bus_load 0 keeps its message periods.
  Fixture(const std::filesystem::path& config_path, const char* name, double duration,
          double bus_load, int count = 1) {
    dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(dir);
    LoggerConfiguration config;
    if (!ReadClcFile(config_path, config)) return;
    SimulatorOptions options;
    options.duration_s = duration;
    options.bus_load_percent = bus_load;
    options.gps = false;
    for (int i = 0; i < count; ++i) {
      const std::filesystem::path path =
          dir / (i == 0 ? std::string("big.cld") : "big" + std::to_string(i + 1) + ".cld");
      options.seed = static_cast<uint64_t>(i + 1);
      const SimulationResult r = SimulateRecording(config, options, path);
      if (!r.ok) return;
      entries += static_cast<double>(r.entries_in_file);
      (i == 0 ? recording : more.emplace_back()) = path;
    }
    std::ofstream(dir / "empty.ini") << "";
    ok = true;
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// One hour of the example configuration at full bus load: about 230 MB.
Fixture& Data() {
  static Fixture f(std::filesystem::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc",
                   "tessmar_convert_bench", 3600, 100);
  return f;
}

// The Signals workload: 10 messages x 8 signals at periods of 10 to 100 ms, 2,000,000 frames.
Fixture& Workload() {
  static Fixture f(std::filesystem::path(TESSMAR_BENCH_DIR) / "signals_workload.clc",
                   "tessmar_convert_bench_workload", 4461, 0);
  return f;
}

// Eight recordings of the Signals workload, 500,000 frames each.
Fixture& EightRecordings() {
  static Fixture f(std::filesystem::path(TESSMAR_BENCH_DIR) / "signals_workload.clc",
                   "tessmar_convert_bench_eight", 1115, 0, 8);
  return f;
}

double ChildCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Runs a shell command; returns wall seconds and adds the child's CPU seconds to *cpu.
double Timed(const std::string& command, double* cpu) {
  const double cpu0 = ChildCpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (cpu) *cpu += ChildCpuSeconds() - cpu0;
  return wall;
}

void RunConversion(benchmark::State& state, const std::string& options, const char* out_name,
                   Fixture& f = Data()) {
  if (!f.ok) {
    state.SkipWithError("could not simulate the recording");
    return;
  }
  std::string in = f.recording.string();
  for (const std::filesystem::path& p : f.more) in += "' '" + p.string();
  const std::string out = (f.dir / out_name).string();
  Timed("cat '" + in + "' > /dev/null", nullptr);  // into the page cache
  double wall_sum = 0, cpu_sum = 0, floor_sum = 0;
  for (auto _ : state) {
    const double wall = Timed(std::string(TESSMAR_CLI_PATH) + " --settings '" +
                                  (f.dir / "empty.ini").string() + "' --no-progress " + options +
                                  " '" + in + "' --outdir '" + f.dir.string() + "' 2>/dev/null",
                              &cpu_sum);
    if (wall < 0) {
      state.SkipWithError("tessmar-cli failed");
      return;
    }
    state.SetIterationTime(wall);
    wall_sum += wall;
    // The I/O floor of this run: read the input, write as many bytes as the output has.
    // Outputs of the other recordings are about as large as the first one.
    const auto out_mb = (std::filesystem::file_size(out) / (1024 * 1024) + 1) * (1 + f.more.size());
    floor_sum += Timed("cat '" + in + "' > /dev/null && dd if=/dev/zero of='" + f.dir.string() +
                           "/floor.bin' bs=1M count=" + std::to_string(out_mb) +
                           " status=none && rm -f '" + f.dir.string() + "/floor.bin'",
                       nullptr);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["entries_per_s_wall"] = f.entries * n / wall_sum;
  state.counters["entries_per_s_cpu"] = f.entries * n / cpu_sum;
  state.counters["io_floor_s"] = floor_sum / n;
  state.counters["x_io_floor"] = wall_sum / floor_sum;
  state.counters["output_mb"] =
      static_cast<double>(std::filesystem::file_size(out)) / (1024.0 * 1024.0);
}

void BM_CliMessagesToCsv(benchmark::State& state) {
  (void)RunConversion(state, "--output-type messages --format csv --time1 seconds", "big.csv");
}
void BM_CliSignalsToCsv(benchmark::State& state) {
  (void)RunConversion(state, "--output-type signals --format csv --time1 seconds --interval 0.01",
                      "big.csv");
}
void BM_CliWorkloadSignalsToCsv(benchmark::State& state) {
  (void)RunConversion(state,
                      "--output-type signals --format csv --time1 seconds --interval 0.01 "
                      "--format-thread off",
                      "big.csv", Workload());
}
// The same with the rows formatted and written on a second thread.
void BM_CliWorkloadSignalsToCsvTwoThreads(benchmark::State& state) {
  (void)RunConversion(state,
                      "--output-type signals --format csv --time1 seconds --interval 0.01 "
                      "--format-thread on",
                      "big.csv", Workload());
}
// The same with 8 of the 80 columns chosen, one signal of each of 8 messages.
void BM_CliWorkloadEightOfEightyColumns(benchmark::State& state) {
  (void)RunConversion(state,
                      "--output-type signals --format csv --time1 seconds --interval 0.01 "
                      "--format-thread off --channel M0_S0 --channel M1_S1 --channel M2_S2 "
                      "--channel M3_S3 --channel M4_S4 --channel M5_S5 --channel M6_S6 "
                      "--channel M7_S7",
                      "big.csv", Workload());
}
// All eight recordings, each into its own output, with -j 1 and -j 2.
void BM_CliEightRecordingsSignalsToCsv(benchmark::State& state) {
  (void)RunConversion(state,
                      "-j " + std::to_string(state.range(0)) +
                          " --output-type signals --format csv --time1 seconds --interval 0.01",
                      "big.csv", EightRecordings());
}
void BM_CliVectorAscii(benchmark::State& state) {
  (void)RunConversion(state, "--format vector-ascii", "big.asc");
}

BENCHMARK(BM_CliMessagesToCsv)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliSignalsToCsv)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliWorkloadSignalsToCsv)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliWorkloadSignalsToCsvTwoThreads)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliWorkloadEightOfEightyColumns)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliEightRecordingsSignalsToCsv)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliVectorAscii)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// Every Signals format and the Messages formats on the Signals workload, 10 ms grid: the
// formats should cost about what CSV costs.
struct FormatRun {
  const char* type;
  const char* format;
  const char* output;  // the output file whose size is reported
};
constexpr FormatRun kFormatRuns[] = {
    {"signals", "csv", "big.csv"},          {"signals", "text", "big.txt"},
    {"signals", "csv-german", "big.csv"},   {"signals", "diadem-ascii", "big.asc"},
    {"signals", "diadem-int32", "big.dat"}, {"signals", "diadem-real64", "big.dat"},
    {"signals", "vector-mdf", "big.mdf"},   {"signals", "stiegele-mdf", "big.mdf"},
    {"signals", "etas-ascii", "big.ascii"}, {"signals", "mdf4", "big.mf4"},
    {"messages", "csv", "big.csv"},         {"messages", "vector-ascii", "big.asc"},
    {"messages", "mdf4", "big.mf4"},
};
void BM_CliWorkloadFormat(benchmark::State& state) {
  const FormatRun& run = kFormatRuns[state.range(0)];
  state.SetLabel(std::string(run.type) + " " + run.format);
  std::string options = std::string("--output-type ") + run.type + " --format " + run.format;
  if (std::string_view(run.type) == "signals") options += " --interval 0.01 --format-thread off";
  (void)RunConversion(state, options, run.output, Workload());
}
BENCHMARK(BM_CliWorkloadFormat)
    ->DenseRange(0, static_cast<int>(std::size(kFormatRuns)) - 1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessmar

BENCHMARK_MAIN();
