#include "convert/conversion_driver.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>

#include "common/message_output.h"
#include "convert/channel_selection.h"
#include "convert/output_names.h"
#include "convert/parallel_conversion.h"
#include "convert/ready_pre_scan.h"
#include "convert/row_grid.h"
#include "convert/row_pipeline.h"
#include "logfile/channel_value.h"
#include "logfile/cld_reader.h"
#include "logfile/decode_messages.h"
#include "logfile/log_header.h"
#include "logfile/pre_scan.h"
#include "logfile/running_clock.h"
#include "logfile/signal_values.h"
#include "writers/date_time_format.h"
#include "writers/dump_writer.h"
#include "writers/gps_output.h"

namespace tessmar {

namespace {

constexpr double kMinInterval = 0.0001;

const char* const kNoSignalsQuestion =
    "You are trying to convert the logfile into SIGNALS,\r\nbut the logfile contains no signal "
    "definitions at all.\r\n     This will not work (at least not with some more work) !\r\n\r\n"
    "What you can do instead is :\r\n - Convert the logfile into MESSAGES, not into SIGNALS,\r\n"
    " - or set the CONVERTER OPTION \"Ignore Signal Definitions from logfile\",\r\n   then select "
    "the CANdb signal definitions which you want to convert\r\n   on the CANdb tab (make sure you "
    "pick the right files !),\r\n - and try again to convert the file .\r\n\r\nContinue anyway "
    "(and possibly produce an output file without signals ?";

// Same file, also when written differently (relative/absolute, "." parts). A name the system
// cannot resolve (too long, say) is compared as written: two failed look-ups are no match.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec)) {
    return std::filesystem::equivalent(a, b, ec);
  }
  std::error_code ec_a, ec_b;
  const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ec_a);
  const std::filesystem::path cb = std::filesystem::weakly_canonical(b, ec_b);
  if (!ec_a && !ec_b) return ca == cb;
  return std::filesystem::absolute(a, ec).lexically_normal() ==
         std::filesystem::absolute(b, ec).lexically_normal();
}

// The clock of an output's relative time (WriterRow::elapsed): seconds since the start of the
// output, following the absolute time of the rows. A step back of the absolute time would make
// relative time columns run backwards (and an MDF master channel decrease), so at such a step
// the clock carries on from its last reading, `step_back_gap` later, and follows the absolute
// time from there. It never reads below 0 (a first row before the start counts from itself).
class OutputClock {
 public:
  void Start(ExtTime start) {
    origin_ = start;
    offset_ = 0;
    have_row_ = false;
  }
  double Elapsed(ExtTime absolute, double step_back_gap) {
    if (have_row_ && absolute < last_absolute_) {
      offset_ = last_ + step_back_gap;
      origin_ = absolute;
    } else if (!have_row_ && absolute < origin_) {
      origin_ = absolute;
    }
    have_row_ = true;
    last_absolute_ = absolute;
    last_ = offset_ + static_cast<double>(absolute - origin_);
    return last_;
  }

 private:
  ExtTime origin_ = 0;  // absolute time at which the clock read offset_
  double offset_ = 0;
  bool have_row_ = false;
  ExtTime last_absolute_ = 0;  // of the last row
  double last_ = 0;            // the last reading
};

// A regular file (also through a link): what an output would replace.
bool IsFile(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// Those of the files an output makes that exist already: what writing it would replace.
std::vector<std::filesystem::path> ExistingFiles(std::vector<std::filesystem::path> files) {
  std::erase_if(files, [](const std::filesystem::path& file) { return !IsFile(file); });
  return files;
}

// The files an output of these options makes: the output and its companion files.
std::vector<std::filesystem::path> OutputFilesOf(const ConverterOptions& options,
                                                 const std::filesystem::path& output) {
  const std::unique_ptr<Writer> writer =
      CreateWriter(options.output_type, options.output_file_format);
  return writer ? writer->OutputFiles(output) : std::vector{output};
}

// The first of the files an output of these options makes that exists already; empty for none.
std::filesystem::path ExistingOutputFile(const ConverterOptions& options,
                                         const std::filesystem::path& output) {
  const std::vector<std::filesystem::path> existing = ExistingFiles(OutputFilesOf(options, output));
  return existing.empty() ? std::filesystem::path() : existing.front();
}

// The caller's writer of ConversionRequest::row_writer, in the place of a format's writer: every
// call goes to it, and it names no files, so that nothing on disk is replaced or looked at.
class BorrowedWriter : public Writer {
 public:
  explicit BorrowedWriter(Writer& writer) : writer_(writer) {}
  int Create(const WriterSetup& setup) override { return writer_.Create(setup); }
  int WriteRow(const WriterRow& row) override { return writer_.WriteRow(row); }
  int Finish(const WriterFinish& finish) override { return writer_.Finish(finish); }
  void SetConversionStart(double absolute_time) override {
    writer_.SetConversionStart(absolute_time);
  }
  bool ReadsChannelValues(OutputType type) const override {
    return writer_.ReadsChannelValues(type);
  }
  int WriteEntry(const LogEntry& entry, double absolute_time) override {
    return writer_.WriteEntry(entry, absolute_time);
  }
  std::vector<std::filesystem::path> OutputFiles(const std::filesystem::path&) const override {
    return {};
  }
  std::string CreateFailureMessage(const std::filesystem::path& output_path) const override {
    return writer_.CreateFailureMessage(output_path);
  }

 private:
  Writer& writer_;
};

// One source on its way through the stages: what it was given, what preparing it found, the
// writer's setup and the counts of its conversion pass.
struct SourceJob {
  // Given.
  std::filesystem::path source;
  std::filesystem::path output;
  const PlannedSource* planned = nullptr;
  const ConverterOptions* options = nullptr;
  OutputType type = OutputType::kMessages;
  int code = 0;
  const OutputFormatInfo* format = nullptr;  // nullptr for an unknown code
  bool appending = false;                    // continues the combined output of an earlier source
  bool more_follow = false;                  // another source will be appended to the output

  // Preparing the source.
  CldReader reader;
  int64_t file_size = 0;
  int64_t kbytes = 0;
  std::string file_name;
  const T_CanLog_Config* cfg = nullptr;   // the recording's configuration
  const T_CanLog_SigTab* sigs = nullptr;  // the signal table in use
  double frequency = 0;                   // timer frequency
  BinaryLogHeader binary;
  int64_t binary_position = 0;
  int gps_count = 0;  // GPS columns in the main output
  ColumnLayout layout;
  std::span<ChannelValue> channels;
  SignalDecoder decoder;
  PreScanResult scan;

  // Setting up the writer.
  WriterSetup setup;
  DumpHead dump_head;
  double interval = 0;  // seconds between Signals rows

  // Converting only part of the recording: the chosen columns of a Signals output, the chosen
  // messages of a Messages or dump output, and the span of time.
  std::unique_ptr<ColumnSelection> selection;
  std::vector<WriterColumn> all_columns;  // every column of the recording, when selecting
  struct SelectedGps {
    const GpsOutput* gps = nullptr;
    const std::vector<int>* columns = nullptr;
  } selected_gps;
  bool select_messages = false;
  MessageSelection messages;
  std::optional<SpanBound> start, stop;

  // The conversion pass.
  bool format_thread = false;  // Signals rows are written by the RowPipeline's thread
  int64_t rows = 0;
  bool write_failed = false;
};

// The Signals formats that can write their rows on a second thread: the text formats, where
// turning values into text is more than half of the work (the binary writers take less time than
// handing the rows over), and whether FormatThread::kAuto uses it for them: only where it
// measured faster (docs/performance.md, "Two threads for one file"). On the 2-core development
// machine it was slower for every one of them, so none is chosen yet.
struct FormatThreadUse {
  int code;
  bool automatic;
};
constexpr FormatThreadUse kFormatThreadUses[] = {
    {kFormatText, false},        {kFormatCsvInternational, false},
    {kFormatCsvGerman, false},   {kFormatSemicolonCsvGerman, false},
    {kFormatDiademAscii, false}, {kFormatEtasAscii, false},
};

// Whether the rows of this source go through the second thread. The graph preview reads the
// live values at every row, so it keeps the rows on this thread.
bool UseFormatThread(const ConversionRequest& request, bool rows_observed, const SourceJob& job) {
  using FormatThread = ConversionRequest::FormatThread;
  if (request.format_thread == FormatThread::kOff || job.type != OutputType::kSignals ||
      rows_observed || job.selection || request.row_writer) {
    return false;
  }
  for (const FormatThreadUse& use : kFormatThreadUses) {
    if (use.code != job.code) continue;
    if (request.format_thread == FormatThread::kOn) return true;
    return use.automatic && std::thread::hardware_concurrency() >= 2;
  }
  return false;
}

class ConversionRun {
 public:
  ConversionRun(const ConversionPlan& plan, ConversionObserver& observer)
      : plan_(plan),
        request_(plan.request),
        observer_(observer),
        previews_(observer.WantsPreviews()),
        rows_observed_(observer.WantsSignalsRows()),
        logged_(std::make_unique<LoggerConfiguration>()),
        channels_(kMaxColumns),
        outcomes_(plan.request.sources.size(), SourceOutcome::kNotStarted) {}

  ConversionSummary Run();
  // A worker's part of a parallel run: the group's sources, one after the other, with every
  // message of this thread handed to the sink with the index of its source.
  GroupResult RunGroup(std::span<const int> group, const GroupMessageSink& sink);

 private:
  class Pass;

  void CountMessage(int severity);
  void ConvertSources(std::span<const int> indices);
  // Converts the sources on several threads when the request asks for it and the run allows it;
  // false when the sources are to be converted here, one after the other.
  bool ConvertInParallel(const MessageHandler& front_end);

  // The stages of one source; each returns false when the source ends there (reported).
  bool ConvertSource(const PlannedSource& planned, const std::filesystem::path& output,
                     const ConverterOptions& options, bool appending, bool more_follow);
  bool BeginSource(SourceJob& job);
  bool PrepareSource(SourceJob& job);
  bool SetUpWriter(SourceJob& job);
  void FillColumns(SourceJob& job);
  bool FinishSource(SourceJob& job);
  bool ChooseWhatToConvert(SourceJob& job);
  void UseSelectedColumns(SourceJob& job);

  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool UserAborted(int percent, const std::filesystem::path& source, int64_t kbytes);
  void CloseOutput(bool aborted);
  void ShowResult(const MessageHandler& previous);
  void ShowSourcesNotConverted();
  // The recording modules count every decoding error in messages_.error_count and show an error
  // message right after the count, unless the message's limit is reached. Called when one of them
  // returns: counts not followed by their message were not reported and are added here.
  void NoteUnreportedDecodeErrors() {
    if (messages_.error_count == decode_errors_seen_) return;
    unreported_decode_errors_ += messages_.error_count - decode_errors_seen_;
    decode_errors_seen_ = messages_.error_count;
  }

  const ConversionPlan& plan_;
  const ConversionRequest& request_;
  ConversionObserver& observer_;
  const bool previews_;       // the observer takes the previews' data
  const bool rows_observed_;  // the observer takes every Signals row
  ConversionSummary summary_;
  int error_messages_ = 0;  // error messages of the run
  // The converted sources (indices into the request's list) in the order of summary_.outputs.
  std::vector<int> converted_sources_;
  std::function<void(int source)> on_source_begin_;  // a worker's message routing
  DecodeMessages messages_;
  RunningClock clock_;
  std::unique_ptr<LoggerConfiguration> logged_;
  std::vector<ChannelValue> channels_;
  std::unique_ptr<Writer> writer_;
  std::unique_ptr<RowPipeline> pipeline_;  // made for the first source that uses it
  OutputType writer_type_ = OutputType::kMessages;
  int writer_code_ = -1;
  bool output_open_ = false;
  bool output_failed_ = false;   // the current output could not be created or written
  bool output_created_ = false;  // the last source got as far as creating its output
  std::filesystem::path output_path_;
  std::filesystem::path combined_output_;  // the one output of a combining run once created
  std::vector<SourceOutcome> outcomes_;    // per source of the request
  ExtTime combined_start_ = -1;
  OutputClock output_clock_;  // relative time of the current output
  GpsOutput gps_;
  bool abort_ = false;
  int decode_errors_seen_ = 0;        // counts of messages_.error_count already accounted for
  int unreported_decode_errors_ = 0;  // counted decoding errors that showed no message
};

// The conversion pass of one source: every entry from the oldest on goes through the running
// clock into the channel values, and the rows of the output type are written from them.
class ConversionRun::Pass {
 public:
  Pass(ConversionRun& run, SourceJob& job)
      : run_(run),
        job_(job),
        grid_(job.interval),
        first_entry_(job.reader.FirstEntryPosition()),
        entry_span_(static_cast<double>(std::max<int64_t>(job.file_size - first_entry_, 1))),
        progress_step_(std::max<uint32_t>(1, job.scan.entry_count / 400)),
        // Skipping until all channels are valid needs the values whether the rows read them
        // or not.
        decode_signals_(job.options->skip_until_all_valid ||
                        run.writer_->ReadsChannelValues(job.type)) {}

  void Run();

 private:
  bool Aborted(uint32_t n);
  bool NextEntry(LogEntry* entry);
  bool ApplyValues(const LogEntry& entry);
  bool AllColumnsValid(double now, double time_base);
  bool WriteRow();
  bool WriteGridRow(double t, ExtTime base);
  void StartGrid(double now, double time_base, bool before_entry);
  // Absolute times of rows pass through doubles of seconds since 1970, exact to about 0.25 µs;
  // a microsecond is still far below one tick of the logger's clock.
  static constexpr ExtTime kSpanTolerance = 1e-6L;
  bool InSpan(ExtTime absolute) const {
    return absolute >= start_ - kSpanTolerance && absolute <= stop_ + kSpanTolerance;
  }

  ConversionRun& run_;
  SourceJob& job_;
  RowGrid grid_;
  WriterRow row_;
  const int64_t first_entry_;
  const double entry_span_;
  const uint32_t progress_step_;
  const bool decode_signals_;  // CAN frames give signal values
  uint32_t next_progress_check_ = 0;
  int last_percent_ = -1;
  bool values_flowing_ = false;  // Signals: some value arrived in this pass
  bool pretrigger_ = true;       // for the first row: since the start of the pass
  // Skipping until every signal and expression column has a value.
  std::vector<int> must_be_valid_;  // used signal and expression columns
  std::size_t next_to_check_ = 0;   // all columns before this one were valid
  bool all_valid_ = true;
  int last_waiting_ = -1;  // the column the rows were waiting for
  // The span of time whose rows are written (absolute times; everything without bounds).
  ExtTime start_ = -1e30L;
  ExtTime stop_ = 1e30L;
  bool spanned_ = false;  // a start or stop was given
};

void ConversionRun::Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ShowMessageV(kMsgError, format, args);
  va_end(args);
}

bool ConversionRun::UserAborted(int percent, const std::filesystem::path& source, int64_t kbytes) {
  return observer_.AbortRequested() || !observer_.OnProgress(percent, source, kbytes);
}

void ConversionRun::CloseOutput(bool aborted) {
  if (!writer_ || !output_open_) return;
  WriterFinish finish;
  finish.aborted = aborted;
  // An output closed as aborted is marked incomplete, which its writer may report as a failure.
  if (!writer_->Finish(finish) && !aborted) {
    ShowMessage(kMsgError, writer_->WriteFailureMessage(output_path_));
  }
  output_open_ = false;
}

bool ConversionRun::ConvertSource(const PlannedSource& planned, const std::filesystem::path& output,
                                  const ConverterOptions& options, bool appending,
                                  bool more_follow) {
  auto job = std::make_unique<SourceJob>();
  job->source = planned.source;
  job->output = output;
  job->planned = &planned;
  job->options = &options;
  job->type = options.output_type;
  job->code = options.output_file_format;
  job->format = FindOutputFormat(job->code);
  job->appending = appending;
  job->more_follow = more_follow;
  if (!BeginSource(*job) || !PrepareSource(*job) || !SetUpWriter(*job)) return false;
  Pass(*this, *job).Run();
  return FinishSource(*job);
}

// The output's state, the names and the options that refuse a source before it is opened.
bool ConversionRun::BeginSource(SourceJob& job) {
  output_created_ = false;
  if (!job.appending) {
    output_failed_ = false;
    if (output_open_) {
      Error("Error: Output file shouldn't be open, but it is.");
      CloseOutput(false);
    }
    combined_start_ = -1;
  } else if (!output_open_) {
    // An earlier source of the combined output failed before the output was created. Report it,
    // then start the combined output with this source so that the rest is not lost too.
    Error("Error: Output file should be open, but isn't .");
    job.appending = false;
    combined_start_ = -1;
  }

  const std::filesystem::path& source = job.source;
  if (source.empty() || job.output.empty()) {
    Error("Error: Missing filename .");
    return false;
  }
  if (SameFile(source, job.output)) {
    Error("Error: Name of destination file must be different from source .");
    return false;
  }
  // Refused by its name or its options (decided by the plan).
  if (!job.planned->refusal.empty()) {
    ShowMessage(kMsgError, job.planned->refusal);
    return false;
  }
  return true;
}

// Opens the recording, reads its header and timer frequency, lays out the columns, runs the
// pre-scan (value ranges, oldest entry, time base) and asks when Signals have no signals.
bool ConversionRun::PrepareSource(SourceJob& job) {
  const std::filesystem::path& source = job.source;
  const ConverterOptions& options = *job.options;
  ShowMessageF(kMsgInfo, "Opening logfile \"%s\" for reading ...", source.c_str());
  CldReader& reader = job.reader;
  if (!reader.Open(source)) {
    Error("Error: Could not open \"%s\" (%s) !", source.c_str(),
          std::strerror(reader.open_error()));
    return false;
  }
  job.file_size = reader.FileSize();

  ShowMessage(kMsgInfo, "Analysing logfile header ...");
  const LogHeader header = ReadLogHeader(reader, logged_->cfg, logged_->sigs);
  if (reader.ReadFailed()) return false;  // reported by the reader
  job.binary_position = header.binary_position;
  job.cfg = &logged_->cfg;
  job.sigs = (options.ignore_logged_sigdefs && request_.user_config) ? &request_.user_config->sigs
                                                                     : &logged_->sigs;
  const T_CanLog_Config& cfg = *job.cfg;
  const T_CanLog_SigTab& sigs = *job.sigs;
  job.frequency = CheckTimerFrequency(header, &messages_);
  NoteUnreportedDecodeErrors();

  // Columns and binary header.
  const bool gps_columns = request_.gps.merge_into_main_file != 0;
  job.gps_count = gps_columns ? gps_.DefinedColumnCount() : 0;
  job.layout =
      CountColumns(sigs, cfg, job.gps_count, request_.gps.columns_added_where == kGpsColumnsBefore);
  if (job.binary_position <= 0) {
    Error("Error: Could not locate section BINARY_LOG_DATA .");
    return false;
  }
  job.binary = reader.ReadBinaryHeader(job.binary_position);
  if (job.binary.cut_short) {
    // What follows would be the header's own bytes read as entries.
    Error("Error: \"%s\" ends inside its header (%lld of the %d bytes of the binary header) .",
          source.c_str(), static_cast<long long>(job.file_size - job.binary_position),
          kBinaryHeaderSize);
    return false;
  }
  if (job.binary.present && request_.verbose) {
    ShowMessageF(kMsgInfo, "Pre-scan: found BINARY header, comp_date=%s",
                 job.binary.FirmwareCompileDate);
    ShowMessageF(kMsgInfo, "Pre-scan: file position for next write-access = 0x%08lX",
                 static_cast<unsigned long>(job.binary.dwFilePosForNextWrite));
  }
  if (request_.verbose) {
    ShowMessageF(kMsgInfo, "Pre-scan: 1st binary data entry at filepos=0x%8.8lX",
                 static_cast<unsigned long>(reader.FirstEntryPosition()));
  }

  // Channels and pre-scan.
  job.channels =
      std::span<ChannelValue>(channels_.data(), static_cast<std::size_t>(job.layout.total));
  ClearChannelValues(channels_);
  InitChannelRanges(job.channels, job.layout, sigs);
  if (!ChooseWhatToConvert(job)) return false;
  job.decoder.Build(job.selection ? job.selection->decoded : sigs, job.layout);
  messages_.ResetForFile();
  job.file_name = source.filename().string();
  PreScanSetup pre = HeaderPreScanSetup(job.file_name, header, cfg, job.binary, job.frequency);
  if (!options.conditional_breakpoint.empty()) {
    pre.breakpoint = ParseDateTime(options.conditional_breakpoint, kDateTimePattern);
  }
  // Only the graph preview reads the value ranges (the MDF formats give the ranges of the signal
  // definitions): leaving them out saves a bit extraction per frame.
  if (options.graph_preview) {
    pre.layout = &job.layout;
    pre.signals = &job.decoder;
    pre.channels = job.channels;
  }
  job.kbytes = job.file_size / 1024;
  pre.progress = [&](int done, int total) {
    const int percent = total > 0 ? done * 100 / total : 0;
    if (UserAborted(percent, source, job.kbytes)) {
      abort_ = true;
      return false;
    }
    return true;
  };
  // A recording converted alone may come with its pre-scan already run (by the Python package's
  // open_recording): taken while the file is unchanged and the scan would be set up the same way.
  const ReadyPreScan* ready = request_.ready_pre_scan;
  if (ready != nullptr && plan_.sources.size() == 1 && !job.appending &&
      ReadyPreScanFits(*ready, source, reader, pre, messages_)) {
    job.scan = TakeReadyPreScan(*ready, reader, clock_, messages_, &combined_start_);
  } else {
    job.scan = RunPreScan(reader, clock_, messages_, pre, &combined_start_);
  }
  NoteUnreportedDecodeErrors();
  if (!job.scan.completed) {
    ShowMessage(kMsgError, "User abort, output file may be incomplete");
    return false;
  }
  if (reader.ReadFailed()) return false;  // reported by the reader; no output of a part
  if (!job.appending || combined_start_ < 0) {
    // The start of the conversion: the oldest entry of the first source.
    if (combined_start_ < 0) combined_start_ = job.scan.source_start_time;
    output_clock_.Start(combined_start_);
  }

  // Signals without signals.
  if (job.type == OutputType::kSignals && job.layout.signal_count == 0 &&
      job.layout.expression_count == 0 && job.layout.gps_count == 0) {
    Question q;
    q.text = Tr(kNoSignalsQuestion);
    q.caption = Tr("Warning");
    q.icon = Icon::kWarning;
    q.buttons = Buttons::kYesNoCancel;
    q.batch_answer = Answer::kNo;
    if (observer_.OnQuestion(q) != Answer::kYes) {
      if (job.sigs == &logged_->sigs) {
        Error("Error: \"%s\" contains no signal definitions; nothing converted .", source.c_str());
      } else {
        // The signals of the user's configuration replaced the recording's.
        const std::string& name = request_.user_signals_name;
        Error(
            "Error: %s contains no signal definitions (used instead of those of \"%s\"); "
            "nothing converted .",
            name.empty() ? "The loaded logger configuration" : name.c_str(), source.c_str());
      }
      return false;
    }
  }
  return true;
}

// The writer of the format (a new one when the format changed), its setup with the columns,
// names and ranges, the output itself and the GPS track file.
bool ConversionRun::SetUpWriter(SourceJob& job) {
  const std::filesystem::path& output = job.output;
  const ConverterOptions& options = *job.options;
  if (!writer_ || writer_type_ != job.type || writer_code_ != job.code) {
    if (job.appending) CloseOutput(false);  // a batch name chose another format: a new output
    job.appending = false;
    std::string why;
    writer_ = request_.row_writer ? std::make_unique<BorrowedWriter>(*request_.row_writer)
                                  : CreateWriter(job.type, job.code, &why);
    writer_type_ = job.type;
    writer_code_ = job.code;
    if (!writer_) {
      Error("Error: Could not create \"%s\" (%s) !", output.c_str(), why.c_str());
      return false;
    }
  }
  WriterSetup& setup = job.setup;
  setup.output_path = output;
  setup.source_path = job.source;
  setup.output_type = job.type;
  setup.format_code = job.code;
  setup.mode = job.format ? job.format->writer_mode : 0;
  setup.appending = job.appending;
  setup.logged_config = job.cfg;
  setup.signal_table = job.sigs;
  setup.start_date = static_cast<double>(job.scan.start.start_date);
  setup.start_timestamp = static_cast<int64_t>(job.scan.start.start_timestamp);
  setup.timer_frequency = job.frequency;
  setup.layout = job.layout;
  FillColumns(job);
  // With the second thread the writer reads that thread's copy of the values.
  job.format_thread = UseFormatThread(request_, rows_observed_, job);
  if (job.format_thread && !pipeline_) pipeline_ = std::make_unique<RowPipeline>();
  setup.channels = job.format_thread ? pipeline_->mirror() : channels_.data();
  if (job.gps_count > 0) {
    gps_.BindChannels(setup.channels, job.layout);
    setup.gps_formatter = &GpsOutput::FormatCell;
    setup.gps_formatter_context = &gps_;
    setup.gps_settings = &request_.gps;
  }
  if (job.selection) UseSelectedColumns(job);
  setup.time_column1 = options.time_column1;
  setup.time_column2 = options.time_column2;
  double interval = ParseSeconds(options.write_interval);
  const double minimum_interval = job.type == OutputType::kSignals ? kMinInterval
                                  : job.format                     ? job.format->minimum_interval
                                                                   : 0;
  if (minimum_interval > 0) interval = std::max(interval, minimum_interval);
  job.interval = interval;
  setup.write_interval = interval;
  setup.invalid_value = options.invalid_signal;
  setup.column_separator = ColumnSeparatorChar(options.column_separator);
  setup.decimal_separator = DecimalSeparatorChar(options.decimal_separator);
  setup.headlines = options.headlines;
  setup.scaled_values = options.scaled_values;
  setup.conversion_start_time = static_cast<double>(combined_start_);

  if (job.type == OutputType::kLogfileDump) {
    DumpHead& head = job.dump_head;
    head.source_path = job.source;
    head.timer_frequency = job.frequency;
    head.binary_header = job.binary;
    head.binary_header_position = job.binary_position;
    head.config = job.cfg;
    head.expression_count = job.layout.expression_count;
    setup.dump_head = &head;
  }
  if (!job.appending) {
    for (const std::filesystem::path& file : ExistingFiles(writer_->OutputFiles(output))) {
      ShowMessageF(kMsgInfo, "Replacing \"%s\".", file.c_str());
    }
  }
  if (!job.appending && job.format && job.format->announce && !request_.row_writer) {
    ShowMessageF(kMsgInfo, job.format->announce, output.c_str());
  }
  ClearChannelValues(channels_);
  output_created_ = true;
  if (!writer_->Create(setup)) {
    output_failed_ = true;
    ShowMessage(kMsgError, writer_->CreateFailureMessage(output));
    output_open_ = false;
    return false;
  }
  output_open_ = true;
  output_path_ = output;

  const bool track_wanted = request_.gps.separate_track_file != 0 && !job.appending &&
                            !request_.row_writer &&
                            (job.scan.has_gps || request_.gps.separate_track_file > 1);
  if (track_wanted) {
    const std::filesystem::path track =
        GpsOutput::TrackPath(output, request_.gps.track_file_format);
    if (IsFile(track) && request_.no_clobber) {
      ShowMessageF(kMsgWarning, "GPS track file \"%s\" exists and is not replaced.", track.c_str());
    } else {
      if (IsFile(track)) ShowMessageF(kMsgInfo, "Replacing \"%s\".", track.c_str());
      gps_.OpenTrack(output);
    }
  }
  return true;
}

// The channel patterns and the span of the options for this source: the chosen columns of a
// Signals output, or the chosen messages of the other output types. False when a pattern
// chooses nothing (reported).
bool ConversionRun::ChooseWhatToConvert(SourceJob& job) {
  const ConverterOptions& options = *job.options;
  (void)ParseSpanBound(options.start_time, &job.start);  // checked with the options
  (void)ParseSpanBound(options.stop_time, &job.stop);
  const std::vector<std::string> patterns = SplitChannelPatterns(options.channels);
  if (patterns.empty()) return true;
  std::string unmatched;
  if (job.type == OutputType::kSignals) {
    FillColumns(job);
    job.selection = std::make_unique<ColumnSelection>();
    if (SelectColumns(patterns, job.layout, job.setup.columns, *job.sigs, *job.cfg,
                      job.selection.get(), &unmatched)) {
      return true;
    }
    Error("Error: No signal, expression or GPS column matches \"%s\" in \"%s\" .",
          unmatched.c_str(), job.source.c_str());
    return false;
  }
  job.select_messages = true;
  if (job.messages.Select(patterns, *job.cfg, &unmatched)) return true;
  Error("Error: No message matches \"%s\" in \"%s\" .", unmatched.c_str(), job.source.c_str());
  return false;
}

// The writer sees the chosen columns alone: their layout, names and ranges, the signal table and
// configuration with the chosen signals and expressions in front, and a copy of their values.
void ConversionRun::UseSelectedColumns(SourceJob& job) {
  ColumnSelection& s = *job.selection;
  WriterSetup& setup = job.setup;
  job.all_columns = setup.columns;
  setup.columns.clear();
  for (const int c : s.columns) {
    WriterColumn col = job.all_columns[static_cast<std::size_t>(c)];
    (void)s.layout.GroupOf(static_cast<int>(setup.columns.size()), &col.index_in_group);
    setup.columns.push_back(col);
  }
  setup.layout = s.layout;
  setup.signal_table = &s.signals;
  setup.logged_config = &s.config;
  setup.channels = s.values.data();
  if (job.gps_count > 0) {
    // GPS cells are formatted from the recording's columns, by their number there.
    gps_.BindChannels(channels_.data(), job.layout);
    job.selected_gps = {&gps_, &s.gps_columns};
    setup.gps_formatter = [](const void* context, int gps_column, char* out, int capacity) {
      const auto* chosen = static_cast<const SourceJob::SelectedGps*>(context);
      return GpsOutput::FormatCell(
          chosen->gps, (*chosen->columns)[static_cast<std::size_t>(gps_column)], out, capacity);
    };
    setup.gps_formatter_context = &job.selected_gps;
  }
}

// The writer's columns: group, name, unit and the pre-scan's value range of every column.
void ConversionRun::FillColumns(SourceJob& job) {
  const T_CanLog_Config& cfg = *job.cfg;
  const T_CanLog_SigTab& sigs = *job.sigs;
  const ColumnLayout& layout = job.layout;
  const std::vector<std::string> gps_titles = gps_.ColumnTitles();
  const std::vector<std::string> gps_units = gps_.ColumnUnits();
  job.setup.columns.resize(static_cast<std::size_t>(layout.total));
  for (int c = 0; c < layout.total; ++c) {
    WriterColumn& col = job.setup.columns[static_cast<std::size_t>(c)];
    int index = 0;
    const ColumnGroup group = layout.GroupOf(c, &index);
    col.group = group;
    col.index_in_group = index;
    col.name = ColumnName(layout, c, sigs, cfg, gps_titles);
    if (group == ColumnGroup::kSignal) {
      col.used = SignalSlotUsed(sigs[static_cast<std::size_t>(index)]);
      if (!col.used) col.name.clear();
      col.unit = col.used ? std::string(TextOf(sigs[static_cast<std::size_t>(index)].un)) : "";
    } else if (group == ColumnGroup::kExpression) {
      col.used = ExpressionSlotUsed(cfg.Exp[static_cast<std::size_t>(index)]);
      col.unit = "calculated";
    } else if (group == ColumnGroup::kGps) {
      col.used = true;
      if (index < static_cast<int>(gps_units.size())) {
        col.unit = gps_units[static_cast<std::size_t>(index)];
      }
    }
    col.minimum = channels_[static_cast<std::size_t>(c)].minimum;
    col.maximum = channels_[static_cast<std::size_t>(c)].maximum;
  }
}

void ConversionRun::Pass::Run() {
  SourceJob& job = job_;
  ConversionRun& run = run_;
  if (run.request_.verbose) {
    char when[40];
    FormatDateTimeTo(when, sizeof when, static_cast<double>(job.scan.source_start_time),
                     kDateTimeFractionPattern);
    ShowMessageF(kMsgInfo, "Conversion starts; winding back to index=%ld, filepos=0x%8.8lX, in %s",
                 static_cast<long>(job.scan.oldest_index),
                 static_cast<unsigned long>(job.scan.oldest_position), job.file_name.c_str());
  }
  if (run.previews_) {
    SourceStart info;
    info.setup = &job.setup;
    const double points = job.interval > 0 ? std::ceil(job.scan.duration / job.interval) : 0;
    info.expected_points =
        std::max<int64_t>(static_cast<int64_t>(points), static_cast<int64_t>(job.scan.entry_count));
    info.duration = job.scan.duration;
    info.has_gps = job.scan.has_gps;
    info.gps_range = job.scan.gps;
    run.observer_.OnSourceStart(info);
  }
  job.reader.SetPosition(job.scan.oldest_position, static_cast<uint32_t>(job.scan.oldest_index));
  run.clock_.BeginPass(ClockPass::kConversion);
  if (job.format_thread) {
    run.pipeline_->Begin(run.writer_.get(), job.channels);
    ++run.summary_.format_thread_sources;
  }
  ShowMessageF(kMsgInfo, "Converting logged data from %s ...", job.file_name.c_str());

  if (job.options->skip_until_all_valid) {
    all_valid_ = false;
    const std::vector<WriterColumn>& columns = job.selection ? job.all_columns : job.setup.columns;
    for (int c = 0; c < job.layout.total; ++c) {
      const WriterColumn& col = columns[static_cast<std::size_t>(c)];
      const bool chosen = !job.selection || std::binary_search(job.selection->columns.begin(),
                                                               job.selection->columns.end(), c);
      if (col.used && chosen &&
          (col.group == ColumnGroup::kSignal || col.group == ColumnGroup::kExpression)) {
        must_be_valid_.push_back(c);
      }
    }
  }
  const bool signals = job.type == OutputType::kSignals;
  LogEntry entry;
  bool stop = false;  // the user aborted: this entry is the last one
  for (uint32_t n = 0; n < job.scan.entry_count && !stop; ++n) {
    if (Aborted(n)) stop = true;
    if (!NextEntry(&entry)) break;
    const ExtTime base_before = run.clock_.TimeBase();
    run.clock_.ApplyEntry(entry);
    run.NoteUnreportedDecodeErrors();
    if (n == 0 && !job.appending) {
      // The conversion starts with the first entry it reads. In a circular file that wrapped
      // these are the entries behind the end marker, older than the first time entry.
      run.combined_start_ = run.clock_.AbsoluteTime();
      run.writer_->SetConversionStart(static_cast<double>(run.combined_start_));
      run.output_clock_.Start(run.combined_start_);
    }
    if (n == 0) {
      // The span counts from this recording's first entry (also when combining).
      const ExtTime first = run.clock_.AbsoluteTime();
      auto absolute = [&](const SpanBound& b) {
        return b.absolute ? static_cast<ExtTime>(b.seconds) : first + b.seconds;
      };
      if (job.start) start_ = absolute(*job.start);
      if (job.stop) stop_ = absolute(*job.stop);
      spanned_ = job.start || job.stop;
    }
    const double now = static_cast<double>(run.clock_.SecondsSinceTick0());
    const double time_base = static_cast<double>(run.clock_.TimeBase());
    // The pass reads on after the span: a clock that steps back can bring entries into it again.
    if (signals && values_flowing_ && all_valid_ && !grid_.running() && job.start) {
      StartGrid(now, time_base, true);
    }

    // Signals: the rows due before this entry, with the values of the entries before it.
    if (signals) {
      RowGrid::Jump jump;
      const bool written = grid_.BeforeEntry(
          now, [&](double t) { return WriteGridRow(t, base_before); }, &jump);
      if (jump.gap && run.request_.verbose) {
        ShowMessageF(kMsgInfo,
                     "Warning: GAP in timestamps, filepos=0x%08lX, TimestampOfMessage=%lg, "
                     "LastWritten=%lg, skipped ~%lld entries.",
                     static_cast<unsigned long>(entry.position), now, jump.last_written,
                     static_cast<long long>(jump.skipped));
      }
      if (!written) break;
    }
    grid_.AfterEntry(now);
    if (entry.cls == EntryClass::kPreMarker) pretrigger_ = true;

    if (ApplyValues(entry)) values_flowing_ = true;
    if (!all_valid_ && !AllColumnsValid(now, time_base)) continue;

    // Rows.
    row_.time_base = time_base;
    if (spanned_ && !InSpan(run.clock_.AbsoluteTime())) continue;
    if (job.select_messages && !(entry.cls == EntryClass::kCanFrame && !IsDummyBlock(entry.bytes) &&
                                 job.messages.Contains(CanIdentifier(entry.bytes)))) {
      // Only the chosen messages' frames; a dump keeps the entries that are no frames.
      if (job.type != OutputType::kLogfileDump || entry.cls == EntryClass::kCanFrame) continue;
    }
    if (job.type == OutputType::kLogfileDump) {
      const int r = run.writer_->WriteEntry(entry, now + time_base);
      if (r < 0) {
        job.write_failed = true;
        break;
      }
      job.rows += r;
      continue;
    }
    if (job.type == OutputType::kMessages) {
      const std::uint8_t* e = entry.bytes;
      const bool makes_row =
          (entry.cls == EntryClass::kCanFrame && !IsDummyBlock(e)) || IsDataEntry(entry.cls);
      if (!makes_row) continue;
      row_.time = now;
      row_.elapsed = run.output_clock_.Elapsed(run.clock_.AbsoluteTime(), 0);
      row_.entry = e;
      row_.entry_length = entry.length;
      row_.entry_file_pos = static_cast<uint32_t>(entry.position);
      if (!WriteRow()) break;
      continue;
    }
    // Signals: the grid starts at the first multiple of the interval after the first value.
    if (values_flowing_ && !grid_.running()) StartGrid(now, time_base, false);
  }
  // Signals: the rows up to the last entry read.
  if (signals && !job.write_failed) {
    const ExtTime base = run.clock_.TimeBase();
    (void)grid_.Finish([&](double t) { return WriteGridRow(t, base); });
  }
  if (job.format_thread) {
    // Every queued row written (or the failure found), the thread joined, its messages shown.
    const RowPipeline::Result written = run.pipeline_->End();
    job.rows += written.rows_written;
    if (written.failed) job.write_failed = true;
  }
  if (job.write_failed) ShowMessage(kMsgError, run.writer_->WriteFailureMessage(job.output));
}

// Progress, looked at a few hundred times per file rather than per entry. True when the user
// aborted.
bool ConversionRun::Pass::Aborted(uint32_t n) {
  if (n < next_progress_check_) return false;
  next_progress_check_ = n + progress_step_;
  const double done = static_cast<double>(n) * 16.0;
  const int percent = std::min(100, static_cast<int>(std::ceil(done * 100.0 / entry_span_)));
  if (percent == last_percent_) return false;
  last_percent_ = percent;
  ShowMessageF(kMsgStatus, "Converting ... %d %% of %ld kByte", percent,
               static_cast<long>(job_.kbytes));
  if (!run_.UserAborted(percent, job_.source, job_.kbytes)) return false;
  ShowMessage(kMsgError, "User abort, output file may be incomplete");
  run_.abort_ = true;
  return true;
}

// The next entry, winding back to the first one at the end of a circular file.
bool ConversionRun::Pass::NextEntry(LogEntry* entry) {
  CldReader& reader = job_.reader;
  if (reader.NextEntry(entry, &run_.messages_)) return true;
  if (run_.request_.verbose) {
    ShowMessageF(kMsgInfo, "FileWrap: Winding from filepos=0x%8.8lX back to 0x%8.8lX",
                 static_cast<unsigned long>(reader.Position()),
                 static_cast<unsigned long>(first_entry_));
  }
  reader.SetPosition(first_entry_, 0);
  if (reader.NextEntry(entry, &run_.messages_)) return true;
  if (!reader.ReadFailed()) run_.Error("Unexpected end-of-file in \"%s\" .", job_.source.c_str());
  return false;
}

// The entry's values into the channel records; true when it delivered a value to a column.
bool ConversionRun::Pass::ApplyValues(const LogEntry& entry) {
  const std::uint8_t* e = entry.bytes;
  ChannelValue* channels = run_.channels_.data();
  // With the second thread, the columns an entry may have written are marked for the next row:
  // those of the frame's signals, or every column for the other kinds of values.
  RowPipeline* const pipeline = job_.format_thread ? run_.pipeline_.get() : nullptr;
  switch (entry.cls) {
    case EntryClass::kCanFrame:
      if (decode_signals_ && run_.clock_.TimeEntrySeenInPass() && !IsDummyBlock(e)) {
        const uint32_t id = CanIdentifier(e);
        // Values only: the ranges were collected by the pre-scan, and nothing reads them after.
        const int stored = job_.decoder.DecodeFrameValues(id, CanData(e), channels);
        if (pipeline && stored > 0) pipeline->Touch(job_.decoder.ColumnsOf(id));
        return stored > 0;
      }
      return false;
    case EntryClass::kExpression:
      if (pipeline) pipeline->TouchAll();
      return ApplyExpressionEntry(DecodeExpressionEntry(e), job_.layout, channels, false) > 0;
    case EntryClass::kBulkExpression:
      if (pipeline) pipeline->TouchAll();
      return DecodeBulkBlock(entry, job_.layout, channels, false).values > 0;
    case EntryClass::kGps1:
    case EntryClass::kGps2:
      if (pipeline) pipeline->TouchAll();
      if (job_.gps_count > 0 || run_.gps_.track_open() || run_.previews_) {
        const bool fix =
            run_.gps_.OnGpsEntry(std::span<const std::uint8_t>(e, 16), job_.channels, job_.layout);
        if (fix && run_.previews_) run_.observer_.OnGpsFix(run_.gps_.fix());
        return fix && job_.gps_count > 0;
      }
      return false;
    default:
      return false;
  }
}

// Skipping until every signal and expression column has a value: true once they all have one
// (reported once, and the row grid restarts there).
bool ConversionRun::Pass::AllColumnsValid(double now, double time_base) {
  while (next_to_check_ < must_be_valid_.size() &&
         run_.channels_[static_cast<std::size_t>(must_be_valid_[next_to_check_])].valid) {
    ++next_to_check_;
  }
  if (next_to_check_ < must_be_valid_.size()) {
    last_waiting_ = must_be_valid_[next_to_check_];
    return false;
  }
  all_valid_ = true;
  char when[40];
  FormatDateTimeTo(when, sizeof when, now + time_base, kDateTimeFractionPattern);
  ShowMessageF(kMsgInfo, "Reached the point where 'all channels are valid' at ta=%s", when);
  if (last_waiting_ >= 0) {
    const std::string& name = job_.setup.columns[static_cast<std::size_t>(last_waiting_)].name;
    ShowMessageF(kMsgInfo, "            Channel '%s' was the last to become valid.", name.c_str());
  }
  grid_.Stop();
  return true;
}

// Writes row_; a written row counts as a sample point and clears the pre-trigger flag. False
// when writing failed.
bool ConversionRun::Pass::WriteRow() {
  row_.pretrigger = pretrigger_;
  if (job_.format_thread) {
    // The pipeline's thread keeps the flag until a row is written and counts the rows.
    pretrigger_ = false;
    if (run_.pipeline_->Push(row_)) return true;
    job_.write_failed = true;
    return false;
  }
  const int r = run_.writer_->WriteRow(row_);
  if (r == kRowFailed) {
    job_.write_failed = true;
    return false;
  }
  if (r == kRowWritten) {
    ++job_.rows;
    pretrigger_ = false;
  }
  return true;
}

// A Signals row at grid time t (seconds since tick 0); `base` is the time base that was in
// force for the entries before it.
bool ConversionRun::Pass::WriteGridRow(double t, ExtTime base) {
  if (spanned_ && !InSpan(base + t)) return true;
  if (job_.selection) {
    ColumnSelection& s = *job_.selection;
    for (std::size_t i = 0; i < s.columns.size(); ++i) {
      s.values[i] = run_.channels_[static_cast<std::size_t>(s.columns[i])];
    }
  }
  row_.time = t;
  row_.time_base = static_cast<double>(base);
  row_.elapsed = run_.output_clock_.Elapsed(base + t, job_.interval);
  row_.entry = nullptr;
  row_.entry_length = 0;
  const int64_t before = job_.rows;
  if (!WriteRow()) return false;
  if (job_.rows != before && run_.rows_observed_) {
    run_.observer_.OnSignalsRow(t, row_.time_base,
                                job_.selection
                                    ? std::span<const ChannelValue>(job_.selection->values)
                                    : std::span<const ChannelValue>(job_.channels));
  }
  return true;
}

// Starts the Signals grid at the entry at `now`: at the first multiple of the interval after
// it, or with a start of the span, on the grid that begins at the start. Before the start the
// grid waits. Values that arrived before the start begin the grid at the start itself, when the
// first entry at or after it is read (before_entry: its values not applied yet); otherwise the
// grid begins at its first time at or after the entry.
void ConversionRun::Pass::StartGrid(double now, double time_base, bool before_entry) {
  if (!job_.start) {
    if (!before_entry) grid_.StartAfter(now);
    return;
  }
  const double start = static_cast<double>(start_ - static_cast<ExtTime>(time_base));
  if (now < start - RowGrid::kSameTime) return;
  const double steps = std::ceil((now - start) / job_.interval - 1e-6);
  grid_.StartAt(before_entry ? start : start + std::max(0.0, steps) * job_.interval);
}

// Closes the source's part of the output (or the whole output), the track file, and reports.
bool ConversionRun::FinishSource(SourceJob& job) {
  // An aborted pass, and one cut short by a read error (reported by the reader), leave the
  // output marked incomplete as a failed write does.
  const bool cut_short = abort_ || job.reader.ReadFailed();
  bool ok = !job.write_failed && !cut_short;
  WriterFinish finish;
  finish.row_count = job.rows;
  finish.more_follow = job.more_follow && ok;
  finish.aborted = !ok;
  // The writer keeps its error, so closing after a failed write fails again: that failure was
  // reported already. Closing an output marked incomplete may fail the same way.
  if (!writer_->Finish(finish) && !job.write_failed && !cut_short) {
    ShowMessage(kMsgError, writer_->WriteFailureMessage(job.output));
    job.write_failed = true;
    ok = false;
  }
  if (job.write_failed && finish.more_follow) {
    // Failed when flushing between combined sources: close it, nothing more goes in.
    WriterFinish close;
    close.aborted = true;
    (void)writer_->Finish(close);
    finish.more_follow = false;
  }
  if (!finish.more_follow) output_open_ = false;
  // A combined output closed incomplete takes no further sources: they would start it anew.
  if (job.write_failed || cut_short) output_failed_ = true;
  if (gps_.track_open() && (!job.more_follow || !ok)) gps_.FinishTrack();
  // Only a whole pass is reported complete: not one cut short by an abort or a read error.
  if (!job.write_failed && !cut_short) {
    ShowMessageF(kMsgInfo, "Conversion of logfile \"%s\" complete, %ld sample points written.",
                 job.source.c_str(), static_cast<long>(job.rows));
    // An output without a single row is no success to report silently (a write interval longer
    // than the recording, channels that never become valid, an empty recording).
    if (job.rows == 0) {
      ShowMessageF(kMsgWarning, "Warning: no rows were written to \"%s\" .",
                   writer_->ShownOutputPath(job.output).c_str());
    }
  }
  ShowMessageF(kMsgStatus, "Output: \"%s\" .", writer_->ShownOutputPath(job.output).c_str());
  return ok;
}

// Counts a message of the run: every error message counts as a conversion error, and so does
// every decoding error the recording modules counted without a message. An error message that
// follows new decoding counts is the message of the last of them.
void ConversionRun::CountMessage(int severity) {
  if (severity != kMsgError) return;
  ++error_messages_;
  if (messages_.error_count > decode_errors_seen_) {
    unreported_decode_errors_ += messages_.error_count - decode_errors_seen_ - 1;
    decode_errors_seen_ = messages_.error_count;
  }
}

// Converts the given sources (indices into the request's list, ascending) one after the other,
// then closes what is still open.
void ConversionRun::ConvertSources(std::span<const int> indices) {
  messages_.ResetForRun();
  decode_errors_seen_ = 0;
  messages_.verbose = request_.verbose;
  gps_.Start(request_.gps);
  const ConverterOptions& options = plan_.options;
  std::filesystem::path combined_output;
  ConverterOptions combined_options;
  bool combined_started = false;  // a source created the combined output
  RunOutputNames output_names;    // outputs written so far
  for (const int i : indices) {
    if (abort_) break;
    if (on_source_begin_) on_source_begin_(i);
    const PlannedSource& planned = plan_.sources[static_cast<std::size_t>(i)];
    const std::filesystem::path& source = planned.source;
    ConverterOptions file_options = planned.options;
    std::filesystem::path output = planned.output;
    for (const MessageCapture::Entry& m : planned.check_messages) ShowMessage(m.severity, m.text);
    if (planned.options_refused) {
      outcomes_[static_cast<std::size_t>(i)] = SourceOutcome::kFailed;
      continue;
    }
    if (!options.combine_output || !combined_started) {
      // Same-named recordings of different folders: never overwrite an output of this run.
      const std::filesystem::path distinct =
          output_names.Distinct(output, [&](const std::filesystem::path& candidate) {
            return OutputFilesOf(file_options, candidate);
          });
      if (distinct != output) {
        ShowMessageF(kMsgWarning,
                     "Output \"%s\" was already written in this run; \"%s\" is converted "
                     "to \"%s\" instead.",
                     output.c_str(), source.c_str(), distinct.c_str());
        output = distinct;
      }
    }
    bool appending = planned.appends();
    if (options.combine_output) {
      // One output: its name and format are those of the first source that gets as far as
      // creating it; sources that fail before that do not start it.
      if (!combined_started) {
        combined_output = output;
        combined_options = file_options;
        appending = false;
      } else if (output_failed_) {
        ShowMessageF(kMsgInfo, "\"%s\" not converted: the output \"%s\" is incomplete.",
                     source.c_str(), combined_output.c_str());
        outcomes_[static_cast<std::size_t>(i)] = SourceOutcome::kFailed;
        continue;
      }
      output = combined_output;
      file_options = combined_options;
    }
    // An output of this run is continued, never skipped; one from before may be.
    if (request_.no_clobber && !request_.row_writer &&
        !(options.combine_output && combined_started)) {
      const std::filesystem::path existing = ExistingOutputFile(file_options, output);
      if (!existing.empty()) {
        ShowMessageF(kMsgWarning, "Skipped \"%s\": \"%s\" exists and is not replaced.",
                     source.c_str(), existing.c_str());
        outcomes_[static_cast<std::size_t>(i)] = SourceOutcome::kSkipped;
        ++summary_.skipped;
        continue;
      }
    }
    ShowMessageF(kMsgInfo, "Output: %s", output.c_str());
    const int errors_before = error_messages_;
    const bool file_ok =
        ConvertSource(planned, output, file_options, appending, planned.more_follow());
    observer_.OnSourceFinished(source);
    if (output_created_) {
      combined_started = true;
      output_names.Take(OutputFilesOf(file_options, output));
    }
    outcomes_[static_cast<std::size_t>(i)] = file_ok  ? SourceOutcome::kConverted
                                             : abort_ ? SourceOutcome::kInterrupted
                                                      : SourceOutcome::kFailed;
    NoteUnreportedDecodeErrors();
    if (file_ok) {
      ++summary_.converted;
      if (summary_.outputs.empty() || summary_.outputs.back() != output) {
        summary_.outputs.push_back(output);
        converted_sources_.push_back(i);
      }
    } else if (error_messages_ == errors_before) {
      ++error_messages_;  // a failure always counts as an error
    }
  }
  if (abort_ && options.combine_output && combined_started) {
    // An abort closes the combined output incomplete, with the sources converted into it.
    combined_output_ = combined_output;
    for (const int i : indices) {
      SourceOutcome& outcome = outcomes_[static_cast<std::size_t>(i)];
      if (outcome == SourceOutcome::kConverted) outcome = SourceOutcome::kInIncompleteOutput;
    }
  }
  if (output_open_ && abort_) {
    CloseOutput(true);  // aborted between the sources of a combined output
  } else if (output_open_ && options.combine_output) {
    // The last sources of a combined output failed before appending to it: what the others
    // wrote is complete.
    CloseOutput(false);
  } else if (output_open_) {
    ShowMessage(kMsgError, "Problem: Output file still open in 'CloseAll' !");
    CloseOutput(true);
  }
  if (gps_.track_open()) gps_.FinishTrack();
  NoteUnreportedDecodeErrors();
}

GroupResult ConversionRun::RunGroup(std::span<const int> group, const GroupMessageSink& sink) {
  int source = group.front();
  on_source_begin_ = [&source](int i) { source = i; };
  {
    ThreadMessageHandler handler([&](int severity, std::string_view text) {
      CountMessage(severity);
      sink(source, severity, text);
    });
    ConvertSources(group);
  }
  GroupResult result;
  result.converted = summary_.converted;
  result.error_messages = error_messages_;
  result.unreported_decode_errors = unreported_decode_errors_;
  result.skipped = summary_.skipped;
  result.aborted = abort_;
  for (const int i : group) {
    result.outcomes.emplace_back(i, outcomes_[static_cast<std::size_t>(i)]);
  }
  for (std::size_t k = 0; k < converted_sources_.size(); ++k) {
    result.outputs.emplace_back(converted_sources_[k], summary_.outputs[k]);
  }
  return result;
}

bool ConversionRun::ConvertInParallel(const MessageHandler& front_end) {
  const std::size_t count = plan_.sources.size();
  if (request_.jobs <= 1 || count < 2 || plan_.options.combine_output || previews_ ||
      rows_observed_ || request_.row_writer) {
    return false;
  }
  std::vector<std::filesystem::path> planned(count);
  std::vector<std::vector<std::filesystem::path>> files(count);
  for (std::size_t i = 0; i < count; ++i) {
    planned[i] = plan_.sources[i].output;
    files[i] = OutputFilesOf(plan_.sources[i].options, planned[i]);
  }
  std::vector<std::vector<int>> groups = GroupSourcesByOutput(planned, files);
  if (groups.size() < 2) return false;
  const GroupResult total = ConvertGroupsInParallel(
      plan_, observer_, std::move(groups),
      [](const ConversionPlan& worker_plan, ConversionObserver& worker_observer,
         std::span<const int> group, const GroupMessageSink& sink) {
        return ConversionRun(worker_plan, worker_observer).RunGroup(group, sink);
      },
      front_end);
  summary_.converted += total.converted;
  error_messages_ += total.error_messages;
  unreported_decode_errors_ += total.unreported_decode_errors;
  summary_.skipped += total.skipped;
  abort_ = abort_ || total.aborted;
  for (const auto& [i, outcome] : total.outcomes) {
    outcomes_[static_cast<std::size_t>(i)] = outcome;
  }
  for (const auto& [i, output] : total.outputs) summary_.outputs.push_back(output);
  return true;
}

ConversionSummary ConversionRun::Run() {
  MessageHandler previous;
  // Every message goes to the observer and to the front end's handler; the run counts them.
  const MessageHandler front_end = [&](int severity, std::string_view text) {
    observer_.OnMessage(severity, text);
    if (previous) previous(severity, text);
  };
  previous = SetMessageHandler([&](int severity, std::string_view text) {
    CountMessage(severity);
    front_end(severity, text);
  });
  for (const MessageCapture::Entry& m : plan_.messages) ShowMessage(m.severity, m.text);
  if (plan_.accepted) {
    if (!ConvertInParallel(front_end)) {
      std::vector<int> all(plan_.sources.size());
      for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
      ConvertSources(all);
    }
  } else {
    summary_.refused = true;
  }
  summary_.aborted = abort_;
  summary_.errors = error_messages_ + unreported_decode_errors_;
  if (summary_.refused) {
    // Refused options: nothing was started, so there is no result to report.
    SetMessageHandler(previous);
    return summary_;
  }
  ShowResult(previous);
  return summary_;
}

// After an abort: every recording whose conversion is not complete, one warning each.
void ConversionRun::ShowSourcesNotConverted() {
  for (std::size_t i = 0; i < outcomes_.size(); ++i) {
    const char* source = request_.sources[i].c_str();
    switch (outcomes_[i]) {
      case SourceOutcome::kConverted:
      case SourceOutcome::kSkipped:
        break;
      case SourceOutcome::kInterrupted:
        ShowMessageF(kMsgWarning, "Not converted completely (aborted): \"%s\"", source);
        break;
      case SourceOutcome::kNotStarted:
        ShowMessageF(kMsgWarning, "Not converted (aborted before it started): \"%s\"", source);
        break;
      case SourceOutcome::kFailed:
        ShowMessageF(kMsgWarning, "Not converted (failed): \"%s\"", source);
        break;
      case SourceOutcome::kInIncompleteOutput:
        ShowMessageF(kMsgWarning, "Converted into the incomplete output \"%s\": \"%s\"",
                     combined_output_.c_str(), source);
        break;
    }
  }
}

// The result line of the run (counted as the run's last message), then the viewer start.
void ConversionRun::ShowResult(const MessageHandler& previous) {
  if (summary_.aborted) ShowSourcesNotConverted();
  const int errors = summary_.errors;
  const int converted = summary_.converted;
  ShowMessage(errors > 0 ? kMsgError : kMsgInfo,
              ConversionResultLine(converted, errors, request_.error_log_hint));
  SetMessageHandler(previous);

  if (request_.launch_viewer && converted > 0 && !summary_.outputs.empty()) {
    if (request_.viewer_program.empty()) {
      ShowMessage(kMsgError, "Name of external data viewer missing (on Setup tab).");
    } else if (observer_.StartViewer(request_.viewer_program, summary_.outputs.back())) {
      ShowMessage(kMsgInfo, "Successfully launched external data viewer.");
    } else {
      ShowMessageF(
          kMsgError, "Coultn't launch %s .",
          ("\"" + request_.viewer_program + "\" \"" + summary_.outputs.back().string() + "\"")
              .c_str());
    }
  }
}

}  // namespace

ConversionSummary RunConversion(const ConversionPlan& plan, ConversionObserver& observer) {
  ConversionRun run(plan, observer);
  return run.Run();
}

ConversionSummary RunConversion(const ConversionRequest& request, ConversionObserver* observer) {
  ConversionObserver quiet;
  return RunConversion(PlanConversion(request), observer ? *observer : quiet);
}

}  // namespace tessmar
