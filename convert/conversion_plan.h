#pragma once
// The conversion plan: what a conversion request asks for, checked and decided before anything is
// read. PlanConversion() runs the option check, reads the write interval, chooses each source's
// output, format and part in a combined output, and either accepts the request or refuses it with
// the texts the user is shown. The driver (conversion_driver.h) runs an accepted plan; the front
// ends show a refusal through the same run, so every refusal reads the same everywhere.

#include <filesystem>
#include <string>
#include <vector>

#include "common/message_output.h"
#include "config/canlog_config.h"
#include "convert/converter_options.h"
#include "writers/gps_settings.h"
#include "writers/writer.h"

namespace tessmar {

struct ReadyPreScan;

// What a front end asks to convert: plain data, filled from the controls or the command line.
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
  // The front end showed the option check's message box itself: a refusal does not repeat its
  // text as a warning.
  bool option_box_shown = false;
  // An output replaces the files of the same name ("Replacing ..." is shown for each). With
  // no_clobber a source whose output file (or one of its companion files) exists is skipped with a
  // warning, and an existing GPS track file is left as it is.
  bool no_clobber = false;
  // Start the external viewer (ConversionObserver::StartViewer) with the output after a run that
  // converted something.
  bool launch_viewer = false;
  std::string viewer_program;

  // Recordings converted at the same time, each into its own output, on this many threads. With
  // more than 1, separate outputs (not combined), more than one source and an observer without
  // previews, the sources are converted in parallel: the messages of each source are collected
  // and shown together, in the order of the sources, once it is done (the front end's message
  // handler is called from the calling thread only). Outputs, message texts and the result line
  // are those of a run one after the other, except that a warning limited per run ("Invalid date
  // ...") is limited per group of sources that share an output name. On an abort every running
  // source stops (each one reports it) and no further source starts.
  int jobs = 1;

  // Signals rows of the text formats formatted and written on a second thread while this one
  // reads and decodes the recording: kOff never, kAuto for the formats where that is faster on a
  // machine with at least two cores, kOn for every text format. The output is the same. An
  // observer that takes the Signals rows keeps them on this thread.
  enum class FormatThread { kOff, kAuto, kOn };
  FormatThread format_thread = FormatThread::kOff;

  // The rows go to this writer instead of the format's: nothing is written to disk (no output
  // file, no GPS track file, no existing file replaced or skipped). The options and the output
  // names are planned as for the format, and the writer receives the setup and the rows the
  // format's writer would, one source after the other on the calling thread. For callers that
  // take the rows themselves (the Python package). Not owned; null for the format's writer.
  Writer* row_writer = nullptr;

  // The pre-scan of the request's one source, already run (convert/ready_pre_scan.h): the
  // conversion takes it instead of scanning the file again while the file is unchanged. Not
  // owned; null to scan.
  const ReadyPreScan* ready_pre_scan = nullptr;
};

// A source's part in the run's one combined output.
enum class CombineRole {
  kSeparate,  // an output of its own (also the only source of a combined output)
  kFirst,     // starts the combined output; more sources follow
  kMiddle,    // appends to it; more sources follow
  kLast,      // appends to it and closes it
};

// One source as the plan sees it.
struct PlannedSource {
  std::filesystem::path source;
  // Its output before outputs of the same name in this run are told apart. In a combined output
  // the first source that gets as far as creating the output names it for all.
  std::filesystem::path output;
  bool named_output = false;  // given as an output name (not made from the source's name)
  // The source's options: the run's, with the format its output name chooses.
  ConverterOptions options;
  const OutputFormatInfo* format = nullptr;  // nullptr for an unknown format code
  CombineRole role = CombineRole::kSeparate;
  // Messages of the option check of its named output, shown when the run reaches the source.
  std::vector<MessageCapture::Entry> check_messages;
  bool options_refused = false;  // its output name's format refuses the options
  // The error that refuses the source by its name or by its options before it is opened (an
  // unsupported extension, equal separators, an output type the format refuses); empty when
  // none. Whether it has names at all and whether the output would overwrite it are decided
  // when its output is known.
  std::string refusal;

  OutputType type() const { return options.output_type; }
  bool appends() const { return role == CombineRole::kMiddle || role == CombineRole::kLast; }
  bool more_follow() const { return role == CombineRole::kFirst || role == CombineRole::kMiddle; }
};

struct ConversionPlan {
  ConversionRequest request;  // as given
  bool accepted = false;
  // The run's options after the check: normalised, the write interval made usable, the graph
  // preview dropped for an output type other than Signals.
  ConverterOptions options;
  OptionCheckResult check;
  double interval = 0;  // seconds between Signals rows (0: every entry)
  // The graph preview was asked for with another output type than Signals: the front end tells
  // the user (kGraphPreviewDroppedText) and unticks it.
  bool graph_preview_dropped = false;
  // Messages shown when the run starts: the option check's notes (and status texts), the write
  // interval replaced; for a refused plan the reasons and the closing "Illegal parameters, ...".
  std::vector<MessageCapture::Entry> messages;
  std::vector<PlannedSource> sources;  // in the order of the request
};

inline constexpr const char* kGraphPreviewDroppedText =
    "The graphic preview cannot be used\r\nif the output type is *NOT* SIGNALS .";
inline constexpr const char* kRefusedText = "Illegal parameters, refused to convert logfile.";

// Checks and decides a request. Shows nothing: the texts are kept in the plan for the run.
ConversionPlan PlanConversion(const ConversionRequest& request);

// The result line of a run: "%d file%c converted, %d conversion error%c. %s" with the hint when
// there were errors.
std::string ConversionResultLine(int converted, int errors, const std::string& error_log_hint);

}  // namespace tessmar
