// The signal viewer on the Signals workload (10 messages x 8 signals, 2,000,000 frames), under
// the offscreen platform: opening the recording and drawing the first plot (the whole window),
// and the redraw of the plots and the time axis with 10 channels over the whole recording after a
// zoom or a pan.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <filesystem>
#include <string_view>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/signal_viewer_form.h"

namespace tessmar {
namespace {

// Writes the workload recording; the number of frames, 0 on failure.
uint64_t WriteWorkload(const std::filesystem::path& recording) {
  LoggerConfiguration config;
  if (!ReadClcFile(std::filesystem::path(TESSMAR_BENCH_DIR) / "signals_workload.clc", config)) {
    return 0;
  }
  SimulatorOptions options;
  options.duration_s = 4461;  // 2,000,000 frames at the configuration's periods
  options.gps = false;
  const SimulationResult r = SimulateRecording(config, options, recording);
  return r.ok ? r.can_frames : 0;
}

struct Workload {
  std::filesystem::path dir;
  std::filesystem::path recording;
  uint64_t frames = 0;
  bool ok = false;
  Workload() {
    dir = std::filesystem::temp_directory_path() / "tessmar_signal_viewer_bench";
    std::filesystem::create_directories(dir);
    recording = dir / "workload.cld";
    frames = WriteWorkload(recording);
    ok = frames > 0;
  }
  ~Workload() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Workload& Data() {
  static Workload w;
  return w;
}

// Paints every plot and the window once into an image, as a redraw of the screen does.
void Draw(TSignalViewerForm& viewer, QImage& image) {
  QPainter p(&image);
  viewer.render(&p);
}

// Paints what a zoom or a pan repaints: the plots and the time axis (the lists stay as they are).
void DrawPlots(TSignalViewerForm& viewer, QImage& image) {
  QPainter p(&image);
  for (int i = 0; i < viewer.plot_count(); ++i) {
    viewer.plot(i)->render(&p, viewer.plot(i)->mapTo(&viewer, QPoint()));
  }
  viewer.time_axis()->render(&p, viewer.time_axis()->mapTo(&viewer, QPoint()));
}

void BM_ViewerOpenAndFirstPlot(benchmark::State& state) {
  Workload& w = Data();
  if (!w.ok) {
    state.SkipWithError("simulation failed");
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    TSignalViewerForm viewer;
    viewer.resize(1400, 900);
    viewer.OpenRecordings({w.recording});
    viewer.AddChannelToPlot(0);
    QImage image(viewer.size(), QImage::Format_ARGB32_Premultiplied);
    Draw(viewer, image);
    bytes = 0;
    for (const ViewerChannelRef& ref : viewer.channels()) {
      bytes += viewer.Channel(ref).size() * 2 * sizeof(double);
    }
  }
  state.counters["frames"] = static_cast<double>(w.frames);
  state.counters["sample_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_ViewerRedrawTenChannels(benchmark::State& state) {
  Workload& w = Data();
  if (!w.ok) {
    state.SkipWithError("simulation failed");
    return;
  }
  TSignalViewerForm viewer;
  viewer.resize(1400, 900);
  viewer.OpenRecordings({w.recording});
  // Ten channels of ten messages over two plots.
  viewer.AddPlot();
  for (int i = 0; i < 10; ++i) viewer.AddChannelToPlot(i * 8, i < 5 ? 0 : 1);
  QImage image(viewer.size(), QImage::Format_ARGB32_Premultiplied);
  Draw(viewer, image);
  bool zoom = true;
  for (auto _ : state) {
    // Alternately a small zoom and a pan, each followed by one redraw of the whole window.
    const TimeSpan s = viewer.span();
    if (zoom) {
      viewer.ZoomAt(0.999, s.t0 + s.width() / 2);
    } else {
      viewer.Pan(-s.width() * 0.0005);
    }
    zoom = !zoom;
    DrawPlots(viewer, image);
  }
}

BENCHMARK(BM_ViewerOpenAndFirstPlot)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewerRedrawTenChannels)->Iterations(50)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessmar

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  tessmar::SetMessageHandler({});
  // For timing the whole process from outside (farm-bench): "--write-workload FILE" writes the
  // recording; "--open FILE" opens it in a viewer, draws the first plot and ends.
  if (argc == 3 && std::string_view(argv[1]) == "--write-workload") {
    return tessmar::WriteWorkload(argv[2]) > 0 ? 0 : 1;
  }
  if (argc == 3 && std::string_view(argv[1]) == "--open") {
    tessmar::TSignalViewerForm viewer;
    viewer.resize(1400, 900);
    if (!viewer.OpenRecordings({argv[2]})) return 1;
    viewer.AddChannelToPlot(0);
    QImage image(viewer.size(), QImage::Format_ARGB32_Premultiplied);
    tessmar::Draw(viewer, image);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
