#pragma once
// The conversion driver: converts logger recordings (.cld) one after the other into the chosen
// output format through its writer (writers/).
//
// Both front ends use it the same way: fill a ConversionRequest (options read from the controls
// or the command line), call Run(), show the progress it reports and let the user abort through
// the progress callback or the abort flag. Everything the user must read goes through the
// message output; Run() returns the counts for the exit status.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "config/canlog_config.h"
#include "convert/converter_options.h"
#include "logfile/gps_fix.h"
#include "logfile/pre_scan.h"
#include "writers/gps_settings.h"
#include "writers/writer.h"

namespace tessmar {

// Progress of the current source: percent 0..100 of its bytes. Returning false aborts the run
// ("User abort, output file may be incomplete").
using ConversionProgress =
    std::function<bool(int percent, const std::filesystem::path& source, int64_t kbytes)>;

// What the previews learn before a source's conversion pass.
struct SourceStart {
  const WriterSetup* setup = nullptr;  // columns with names, units and pre-scan ranges
  int64_t expected_points = 0;  // duration / write interval rounded up, at least the entry count
  double duration = 0;          // seconds from the oldest to the newest time
  bool has_gps = false;         // the recording contains GPS entries
  GpsRange gps_range;           // bounds of the valid fixes (GpsRange::Empty() when none)
};

struct ConversionRequest {
  std::vector<std::filesystem::path> sources;
  // Batch output names: the n-th name is the output of the n-th source; its extension chooses
  // the format. Sources beyond the list get the output path rule (output_dir + source name).
  std::vector<std::filesystem::path> output_names;
  // False: the output names keep the options' output type and format whatever their extension
  // (a front end that asked for the format and the file separately).
  bool output_names_choose_format = true;
  std::filesystem::path output_dir;
  ConverterOptions options;
  GpsOutputSettings gps;  // track file and GPS columns
  // The user's configuration, used with "IgnoreLoggedSigDefs"; may be null.
  const LoggerConfiguration* user_config = nullptr;
  // What messages call it, e.g. "The logger configuration \"cfg.clc\"" (empty: "The loaded
  // logger configuration").
  std::string user_signals_name;
  bool verbose = false;
  // Where the result line sends the user when there were errors: the desktop's message list by
  // default; a command line points to the messages it printed above.
  std::string error_log_hint = "Please check error log on the 'INFO' tab.";
  // Show the option check's message-box texts as warnings when the check accepts the options
  // (a front end without message boxes, e.g. tessmar-cli in batch mode).
  bool show_option_notes = false;
  // An output replaces the files of the same name ("Replacing ..." is shown for each). With
  // no_clobber a source whose output file (or one of its companion files) exists is skipped with a
  // warning, and an existing GPS track file is left as it is.
  bool no_clobber = false;
  // Start the external viewer with the output after a run that converted something.
  bool launch_viewer = false;
  std::string viewer_program;
  // Starts the viewer program with the file as its argument, not waiting for it; false when it
  // could not be started. Given by the front end (the core starts no processes); without one,
  // the start fails.
  std::function<bool(const std::string& program, const std::filesystem::path& file)> start_viewer;
  ConversionProgress progress;
  const std::atomic<bool>* abort_flag = nullptr;  // set from another thread to abort
  // After each source's conversion (also a failed one): the front end may drop its progress.
  std::function<void(const std::filesystem::path& source)> source_finished;

  // Recordings converted at the same time, each into its own output, on this many threads. With
  // more than 1, separate outputs (not combined), more than one source and no preview callbacks,
  // the sources are converted in parallel: the messages of each source are collected and shown
  // together, in the order of the sources, once it is done (the front end's message handler is
  // called from the calling thread only); `progress` and `source_finished` are called from the
  // worker threads, one call at a time. Outputs, message texts and the result line are those of
  // a run one after the other, except that a warning limited per run ("Invalid date ...") is
  // limited per group of sources that share an output name. On an abort every running source
  // stops (each one reports it) and no further source starts.
  int jobs = 1;

  // Signals rows of the text formats formatted and written on a second thread while this one
  // reads and decodes the recording: kOff never, kAuto for the formats where that is faster on a
  // machine with at least two cores, kOn for every text format. The output is the same. The
  // graph preview (on_signals_row) always takes rows on this thread.
  enum class FormatThread { kOff, kAuto, kOn };
  FormatThread format_thread = FormatThread::kOff;

  // Previews (all optional). Before each source's conversion pass: see SourceStart.
  std::function<void(const SourceStart& start)> on_source_start;
  // Every Signals row: its time in seconds since tick 0, the time base, and the channel values.
  std::function<void(double time, double time_base, std::span<const ChannelValue> values)>
      on_signals_row;
  // Every complete GPS fix of the conversion pass, and the pre-scan's GPS range of the source.
  std::function<void(const GpsFix& fix)> on_gps_fix;
};

struct ConversionSummary {
  int converted = 0;     // sources converted without failure
  int errors = 0;        // error messages of the run (at least 1 per failed source)
  bool refused = false;  // the option check refused, nothing converted
  bool aborted = false;
  int skipped = 0;  // sources not converted because their output exists (no_clobber)
  std::vector<std::filesystem::path> outputs;  // main output of every converted source
  int format_thread_sources = 0;  // sources whose rows were written on the second thread
};

// Runs a whole conversion: option check, each source, closing, the result line and the optional
// viewer start. After an abort, a warning before the result line names each recording that was
// not converted completely: interrupted, never started, failed, or written into a combined output
// that was closed incomplete.
ConversionSummary RunConversion(const ConversionRequest& request);

}  // namespace tessmar
