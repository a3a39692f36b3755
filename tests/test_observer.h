#pragma once
// A conversion observer made of functions, for tests that watch one thing of a run.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "convert/conversion_observer.h"

namespace tessmar {

struct TestObserver : ConversionObserver {
  std::function<bool(int percent, const std::filesystem::path& source, int64_t kbytes)> progress;
  std::function<void(const SourceStart& start)> source_start;
  std::function<void(double time, double time_base, std::span<const ChannelValue> values)>
      signals_row;
  std::function<void(const GpsFix& fix)> gps_fix;
  std::function<bool(const std::string& program, const std::filesystem::path& file)> start_viewer;
  const std::atomic<bool>* abort_flag = nullptr;

  bool OnProgress(int percent, const std::filesystem::path& source, int64_t kbytes) override {
    return !progress || progress(percent, source, kbytes);
  }
  bool AbortRequested() override { return abort_flag && abort_flag->load(); }
  bool WantsPreviews() const override { return source_start || gps_fix; }
  void OnSourceStart(const SourceStart& start) override {
    if (source_start) source_start(start);
  }
  void OnGpsFix(const GpsFix& fix) override {
    if (gps_fix) gps_fix(fix);
  }
  bool WantsSignalsRows() const override { return static_cast<bool>(signals_row); }
  void OnSignalsRow(double time, double time_base, std::span<const ChannelValue> values) override {
    signals_row(time, time_base, values);
  }
  bool StartViewer(const std::string& program, const std::filesystem::path& file) override {
    return start_viewer && start_viewer(program, file);
  }
};

}  // namespace tessmar
