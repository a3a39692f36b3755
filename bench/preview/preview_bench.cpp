// A Signals conversion of 1,000,000 rows with the graph preview on versus off, in process and
// under the offscreen platform, fed the way the converter page feeds it: every row is added to the
// ring buffer, and the window draws (following the newest row) whenever the progress changes.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <filesystem>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/graph_preview_form.h"

namespace tessmar {
namespace {

constexpr double kSeconds = 1000;
constexpr const char* kInterval = "0.001";  // 1,000,000 rows

struct Fixture {
  std::filesystem::path dir;
  std::filesystem::path recording;
  bool ok = false;
  Fixture() {
    dir = std::filesystem::temp_directory_path() / "tessmar_preview_bench";
    std::filesystem::create_directories(dir);
    recording = dir / "drive.cld";
    LoggerConfiguration config;
    if (!ReadClcFile(std::filesystem::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc", config)) {
      return;
    }
    SimulatorOptions options;
    options.duration_s = kSeconds;
    options.gps = false;
    ok = SimulateRecording(config, options, recording).ok;
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Fixture& Data() {
  static Fixture f;
  return f;
}

void Convert(benchmark::State& state, bool preview) {
  Fixture& f = Data();
  if (!f.ok) {
    state.SkipWithError("could not simulate the recording");
    return;
  }
  SetMessageHandler({});
  TGraphPreviewForm form({});
  form.resize(900, 420);
  form.show();
  QApplication::processEvents();
  // Feeds the graph preview as the desktop does (or only counts the rows).
  class PreviewFeed : public ConversionObserver {
   public:
    PreviewFeed(TGraphPreviewForm& form, bool preview) : form_(form), preview_(preview) {}
    bool OnProgress(int, const std::filesystem::path&, int64_t) override {
      if (preview_) form_.UpdatePreview(true);
      QCoreApplication::processEvents();
      return true;
    }
    bool WantsPreviews() const override { return preview_; }
    bool WantsSignalsRows() const override { return true; }
    void OnSignalsRow(double t, double base, std::span<const ChannelValue> values) override {
      ++rows;
      if (preview_) form_.AddSample(t, t + base, values);
    }
    void OnSourceStart(const SourceStart& start) override {
      const auto& columns = start.setup->columns;
      form_.Reset(int(columns.size()), start.expected_points);
      for (std::size_t k = 0; k < columns.size() && k + 1 < 32; ++k) {
        form_.SetChannelName(int(k) + 1, columns[k].name);
        form_.SetChannelRange(int(k) + 1, columns[k].minimum, columns[k].maximum);
      }
    }
    std::int64_t rows = 0;

   private:
    TGraphPreviewForm& form_;
    const bool preview_;
  };
  std::int64_t rows = 0;
  for (auto _ : state) {
    ConversionRequest request;
    request.sources = {f.recording};
    request.output_dir = f.dir;
    request.options.output_type = OutputType::kSignals;
    request.options.output_file_format = 1;
    request.options.time_column1 = TimeColumnKind::kSeconds;
    request.options.write_interval = kInterval;
    request.options.graph_preview = preview;
    PreviewFeed feed(form, preview);
    const ConversionSummary summary = RunConversion(request, &feed);
    rows = feed.rows;
    if (summary.converted != 1) {
      state.SkipWithError("conversion failed");
      return;
    }
    if (preview) form.UpdatePreview(true);
  }
  state.counters["rows"] = double(rows);
  state.counters["rows_per_s"] = benchmark::Counter(double(rows), benchmark::Counter::kIsRate);
}

void BM_SignalsPreviewOff(benchmark::State& state) { Convert(state, false); }
void BM_SignalsPreviewOn(benchmark::State& state) { Convert(state, true); }

BENCHMARK(BM_SignalsPreviewOff)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignalsPreviewOn)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignalsPreviewOff)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignalsPreviewOn)->Iterations(3)->Unit(benchmark::kMillisecond);

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
