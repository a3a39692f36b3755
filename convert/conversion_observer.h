#pragma once
// What a front end sees of a running conversion: its messages, its questions, the progress of
// each source, the abort query, the previews' data and the start of the external viewer. The CLI,
// the desktop, the signal viewer's export and the Python package each give the run an observer
// of their own; every hook has a default that suits a caller without a user interface.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "common/message_output.h"
#include "logfile/channel_value.h"
#include "logfile/gps_fix.h"
#include "logfile/pre_scan.h"
#include "writers/writer.h"

namespace tessmar {

// What the previews learn before a source's conversion pass.
struct SourceStart {
  const WriterSetup* setup = nullptr;  // columns with names, units and pre-scan ranges
  int64_t expected_points = 0;  // duration / write interval rounded up, at least the entry count
  double duration = 0;          // seconds from the oldest to the newest time
  bool has_gps = false;         // the recording contains GPS entries
  GpsRange gps_range;           // bounds of the valid fixes (GpsRange::Empty() when none)
};

class ConversionObserver {
 public:
  virtual ~ConversionObserver() = default;

  // Every message of the run, in order, from the thread that started the run. The message
  // handler installed before the run receives it too (this is a tap, not a replacement).
  virtual void OnMessage(int /*severity*/, std::string_view /*text*/) {}
  // A question of the run. The default asks the installed question handler, or takes the batch
  // answer in batch mode and on the worker threads of a parallel run.
  virtual Answer OnQuestion(const Question& question) { return Ask(question); }

  // Progress of the current source: percent 0..100 of its bytes. Returning false aborts the run
  // ("User abort, output file may be incomplete"). In a parallel run it is called from the
  // worker threads, one call at a time.
  virtual bool OnProgress(int /*percent*/, const std::filesystem::path& /*source*/,
                          int64_t /*kbytes*/) {
    return true;
  }
  // Asked often during a pass, from any thread of the run: true aborts as a refused progress
  // does. Meant for a flag set elsewhere (a signal handler, another thread).
  virtual bool AbortRequested() { return false; }
  // After each source's conversion (also a failed one): the front end may drop its progress.
  // Called like OnProgress.
  virtual void OnSourceFinished(const std::filesystem::path& /*source*/) {}

  // Previews. An observer that wants them keeps the whole run on one thread: OnSourceStart
  // before each source's pass and OnGpsFix for every complete GPS fix of the pass.
  virtual bool WantsPreviews() const { return false; }
  virtual void OnSourceStart(const SourceStart& /*start*/) {}
  virtual void OnGpsFix(const GpsFix& /*fix*/) {}
  // Every Signals row: its time in seconds since tick 0, the time base, and the channel values.
  // Asked for apart from the other previews because the rows then stay on the reading thread.
  virtual bool WantsSignalsRows() const { return false; }
  virtual void OnSignalsRow(double /*time*/, double /*time_base*/,
                            std::span<const ChannelValue> /*values*/) {}

  // Starts the external viewer with an output, not waiting for it; false when it could not be
  // started. The core starts no processes: without a front end that does, the start fails.
  virtual bool StartViewer(const std::string& /*program*/, const std::filesystem::path& /*file*/) {
    return false;
  }
};

}  // namespace tessmar
