#include "convert/conversion_driver.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <string_view>

#include "common/message_output.h"
#include "convert/output_names.h"
#include "logfile/channel_value.h"
#include "logfile/cld_reader.h"
#include "logfile/decode_messages.h"
#include "logfile/log_header.h"
#include "logfile/pre_scan.h"
#include "logfile/running_clock.h"
#include "logfile/signal_values.h"
#include "writers/date_time_format.h"
#include "writers/dump_writer.h"
#include "writers/format_writers.h"
#include "writers/gps_output.h"

namespace tessmar {

namespace {

constexpr double kMinInterval = 0.0001;
// Grid times are sums of the write interval, so a row meant to lie on an entry's tick can land a
// rounding error away from it. Times this close count as the same tick (far below a timer tick).
constexpr double kSameTime = 1e-9;

const char* const kNoSignalsQuestion =
    "You are trying to convert the logfile into SIGNALS,\r\nbut the logfile contains no signal "
    "definitions at all.\r\n     This will not work (at least not with some more work) !\r\n\r\n"
    "What you can do instead is :\r\n - Convert the logfile into MESSAGES, not into SIGNALS,\r\n"
    " - or set the CONVERTER OPTION \"Ignore Signal Definitions from logfile\",\r\n   then select "
    "the CANdb signal definitions which you want to convert\r\n   on the CANdb tab (make sure you "
    "pick the right files !),\r\n - and try again to convert the file .\r\n\r\nContinue anyway "
    "(and possibly produce an output file without signals ?";

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Same file, also when written differently (relative/absolute, "." parts).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec)) {
    return std::filesystem::equivalent(a, b, ec);
  }
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
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
  ExtTime origin_ = 0;         // absolute time at which the clock read offset_
  double offset_ = 0;
  bool have_row_ = false;
  ExtTime last_absolute_ = 0;  // of the last row
  double last_ = 0;            // the last reading
};

class ConversionRun {
 public:
  explicit ConversionRun(const ConversionRequest& request)
      : request_(request),
        logged_(std::make_unique<LoggerConfiguration>()),
        channels_(kMaxColumns) {}

  ConversionSummary Run();

 private:
  bool ConvertFile(const std::filesystem::path& source, const std::filesystem::path& output,
                   const ConverterOptions& options, int flags);
  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void ShowOptionNote(const OptionCheckResult& check);
  bool UserAborted(int percent, const std::filesystem::path& source, int64_t kbytes);
  void CloseOutput(bool aborted);
  // The recording modules count every decoding error in messages_.error_count and show an error
  // message right after the count, unless the message's limit is reached. Called when one of them
  // returns: counts not followed by their message were not reported and are added here.
  void NoteUnreportedDecodeErrors() {
    if (messages_.error_count == decode_errors_seen_) return;
    unreported_decode_errors_ += messages_.error_count - decode_errors_seen_;
    decode_errors_seen_ = messages_.error_count;
  }

  const ConversionRequest& request_;
  ConversionSummary summary_;
  DecodeMessages messages_;
  RunningClock clock_;
  std::unique_ptr<LoggerConfiguration> logged_;
  std::vector<ChannelValue> channels_;
  std::unique_ptr<Writer> writer_;
  OutputType writer_type_ = OutputType::kMessages;
  int writer_code_ = -1;
  bool output_open_ = false;
  bool output_failed_ = false;   // the current output could not be created or written
  bool output_created_ = false;  // the last ConvertFile call got as far as creating its output
  std::filesystem::path output_path_;
  ExtTime combined_start_ = -1;
  OutputClock output_clock_;  // relative time of the current output
  GpsOutput gps_;
  bool abort_ = false;
  int decode_errors_seen_ = 0;        // counts of messages_.error_count already accounted for
  int unreported_decode_errors_ = 0;  // counted decoding errors that showed no message
};

void ConversionRun::ShowOptionNote(const OptionCheckResult& check) {
  if (!request_.show_option_notes || check.box_text.empty()) return;
  // One message: the box's line breaks become plain line feeds.
  std::string text = Tr(check.box_text.c_str());
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] == '\n' && !out.empty() && out.back() == '\n') continue;
    out += text[i];
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  ShowMessage(kMsgWarning, out);
}

void ConversionRun::Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ShowMessageV(kMsgError, format, args);
  va_end(args);
}

bool ConversionRun::UserAborted(int percent, const std::filesystem::path& source,
                                int64_t kbytes) {
  if (request_.abort_flag && request_.abort_flag->load()) return true;
  if (request_.progress && !request_.progress(percent, source, kbytes)) return true;
  return false;
}

void ConversionRun::CloseOutput(bool aborted) {
  if (!writer_ || !output_open_) return;
  WriterFinish finish;
  finish.aborted = aborted;
  // An output closed as aborted is marked incomplete, which its writer may report as a failure.
  if (!writer_->Finish(finish) && !aborted) {
    Error("Error: Could not write \"%s\" (%s) ! The output file is incomplete.",
          output_path_.c_str(), writer_->error_text().c_str());
  }
  output_open_ = false;
}

bool ConversionRun::ConvertFile(const std::filesystem::path& source,
                                const std::filesystem::path& output,
                                const ConverterOptions& options, int flags) {
  bool appending = (flags & kCombineAppend) != 0;
  const bool more_follow = (flags & kCombineMoreFollow) != 0;
  const OutputType type = static_cast<OutputType>(options.output_type);
  const int code = options.output_file_format;
  const OutputFormatInfo* format = FindOutputFormat(code);

  // 1. Output state.
  output_created_ = false;
  if (!appending) {
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
    appending = false;
    combined_start_ = -1;
  }

  // 2. Names.
  if (source.empty() || output.empty()) {
    Error("Error: Missing filename .");
    return false;
  }
  if (SameFile(source, output)) {
    Error("Error: Name of destination file must be different from source .");
    return false;
  }
  const std::string ext = Lower(source.extension().string());
  if (ext.empty() || ext == ".") {
    Error("Error: Missing filename extension .");
    return false;
  }
  if (ext == ".asc") {
    // Accepted as a source name, but there is no reader for it.
    Error("Error: Cannot convert \"%s\": Vector ASCII files are not read by this converter .",
          source.c_str());
    return false;
  }
  if (ext != ".cld") {
    Error("Error: Unsupported sourcefile format .");
    return false;
  }

  // 3. Separators.
  const char column_sep = ColumnSeparatorChar(options.column_separator);
  const char decimal_sep = DecimalSeparatorChar(options.decimal_separator);
  if (type != OutputType::kLogfileDump && column_sep == decimal_sep &&
      !(format && format->separators_may_match)) {
    Error("Error: Column-separator must be different from decimal-separator .");
    return false;
  }
  if (format && format->refused_type_text && !(format->output_types & OutputTypeBit(type))) {
    Error("%s", Tr(format->refused_type_text));
    return false;
  }

  // 4. Open.
  ShowMessageF(kMsgInfo, "Opening logfile \"%s\" for reading ...", source.c_str());
  CldReader reader;
  if (!reader.Open(source)) {
    Error("Error: Could not open \"%s\" !", source.c_str());
    return false;
  }
  const int64_t file_size = reader.FileSize();

  // 5. Header.
  ShowMessage(kMsgInfo, "Analysing logfile header ...");
  const LogHeader header = ReadLogHeader(reader, logged_->cfg, logged_->sigs);
  if (reader.ReadFailed()) return false;  // reported by the reader
  const int64_t binary_position = header.binary_position;
  const LogStartInfo start = header.start;
  const bool has_binary = binary_position > 0;
  const T_CanLog_Config& cfg = logged_->cfg;
  const T_CanLog_SigTab& sigs = (options.ignore_logged_sigdefs && request_.user_config)
                                    ? request_.user_config->sigs
                                    : logged_->sigs;
  // 6. Timer frequency.
  const double frequency = CheckTimerFrequency(header, &messages_);
  NoteUnreportedDecodeErrors();

  // 7. Columns and binary header.
  const bool gps_columns = request_.gps.merge_into_main_file != 0;
  const int gps_count = gps_columns ? gps_.DefinedColumnCount() : 0;
  const ColumnLayout layout =
      CountColumns(sigs, cfg, gps_count, request_.gps.columns_added_where == kGpsColumnsBefore);
  if (!has_binary) {
    Error("Error: Could not locate section BINARY_LOG_DATA .");
    return false;
  }
  const BinaryLogHeader binary = reader.ReadBinaryHeader(binary_position);
  if (binary.present && request_.verbose) {
    ShowMessageF(kMsgInfo, "Pre-scan: found BINARY header, comp_date=%s",
                 binary.FirmwareCompileDate);
    ShowMessageF(kMsgInfo, "Pre-scan: file position for next write-access = 0x%08lX",
                 static_cast<unsigned long>(binary.dwFilePosForNextWrite));
  }
  if (request_.verbose) {
    ShowMessageF(kMsgInfo, "Pre-scan: 1st binary data entry at filepos=0x%8.8lX",
                 static_cast<unsigned long>(reader.FirstEntryPosition()));
  }

  // 8. Channels and pre-scan.
  std::span<ChannelValue> channels(channels_.data(), static_cast<std::size_t>(layout.total));
  ClearChannelValues(channels_);
  InitChannelRanges(channels, layout, sigs);
  SignalDecoder decoder;
  decoder.Build(sigs, layout);
  messages_.ResetForFile();
  const std::string file_name = source.filename().string();
  PreScanSetup pre;
  pre.file_name = file_name;
  pre.start = start;
  pre.frequency = frequency;
  pre.new_file_on_startup = cfg.NewFileOnStartup != 0;
  if (!options.conditional_breakpoint.empty()) {
    pre.breakpoint = ParseDateTime(options.conditional_breakpoint, kDateTimePattern);
  }
  // Text outputs never read the value ranges, and Messages rows need no signal values: leaving
  // them out saves a bit extraction per frame in both passes.
  const bool need_ranges = !IsBuiltInFormat(code) || options.graph_preview;
  const bool need_signal_values = type == OutputType::kSignals ||
                                  options.skip_until_all_valid || !IsBuiltInFormat(code);
  if (need_ranges) {
    pre.layout = &layout;
    pre.signals = &decoder;
    pre.channels = channels;
  }
  const int64_t kbytes = file_size / 1024;
  pre.progress = [&](int done, int total) {
    const int percent = total > 0 ? done * 100 / total : 0;
    if (UserAborted(percent, source, kbytes)) {
      abort_ = true;
      return false;
    }
    return true;
  };
  const PreScanResult scan = RunPreScan(reader, clock_, messages_, pre, &combined_start_);
  NoteUnreportedDecodeErrors();
  if (!scan.completed) {
    ShowMessage(kMsgError, "User abort, output file may be incomplete");
    return false;
  }
  if (reader.ReadFailed()) return false;  // reported by the reader; no output of a part
  if (!appending || combined_start_ < 0) {
    // The start of the conversion: the oldest entry of the first source.
    if (combined_start_ < 0) combined_start_ = scan.source_start_time;
    output_clock_.Start(combined_start_);
  }

  // 9. Signals without signals.
  if (type == OutputType::kSignals && layout.signal_count == 0 && layout.expression_count == 0 &&
      layout.gps_count == 0) {
    Question q;
    q.text = Tr(kNoSignalsQuestion);
    q.caption = Tr("Warning");
    q.icon = Icon::kWarning;
    q.buttons = Buttons::kYesNoCancel;
    q.batch_answer = Answer::kNo;
    if (Ask(q) != Answer::kYes) {
      Error("Error: \"%s\" contains no signal definitions; nothing converted .", source.c_str());
      return false;
    }
  }

  // 10./11. Output and its header.
  if (!writer_ || writer_type_ != type || writer_code_ != code) {
    if (appending) CloseOutput(false);  // a batch name chose another format: a new output
    appending = false;
    std::string why;
    writer_ = CreateWriter(type, code, &why);
    writer_type_ = type;
    writer_code_ = code;
    if (!writer_) {
      Error("Error: Could not create \"%s\" (%s) !", output.c_str(), why.c_str());
      return false;
    }
  }
  auto* dump = dynamic_cast<LogfileDumpWriter*>(writer_.get());
  WriterSetup setup;
  setup.output_path = output;
  setup.source_path = source;
  setup.output_type = type;
  setup.format_code = code;
  setup.mode = format ? format->writer_mode : 0;
  setup.appending = appending;
  setup.logged_config = &cfg;
  setup.signal_table = &sigs;
  setup.start_date = static_cast<double>(scan.start.start_date);
  setup.start_timestamp = static_cast<int64_t>(scan.start.start_timestamp);
  setup.timer_frequency = frequency;
  setup.layout = layout;
  const std::vector<std::string> gps_titles = gps_.ColumnTitles();
  const std::vector<std::string> gps_units = gps_.ColumnUnits();
  setup.columns.resize(static_cast<std::size_t>(layout.total));
  for (int c = 0; c < layout.total; ++c) {
    WriterColumn& col = setup.columns[static_cast<std::size_t>(c)];
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
  setup.channels = channels_.data();
  if (gps_count > 0) {
    gps_.BindChannels(channels_.data(), layout);
    setup.gps_formatter = &GpsOutput::FormatCell;
    setup.gps_formatter_context = &gps_;
    setup.gps_settings = &request_.gps;
  }
  setup.time_column1 = static_cast<TimeColumnKind>(options.time_column1);
  setup.time_column2 = static_cast<TimeColumnKind>(options.time_column2);
  double interval = ParseSeconds(options.write_interval);
  const double minimum_interval =
      type == OutputType::kSignals ? kMinInterval : format ? format->minimum_interval : 0;
  if (minimum_interval > 0) interval = std::max(interval, minimum_interval);
  setup.write_interval = interval;
  setup.invalid_value = options.invalid_signal;
  setup.column_separator = column_sep;
  setup.decimal_separator = decimal_sep;
  setup.headlines = options.headlines;
  setup.scaled_values = options.scaled_values;
  setup.conversion_start_time = static_cast<double>(combined_start_);

  if (dump) {
    DumpHead head;
    head.source_path = source;
    head.timer_frequency = frequency;
    head.binary_header = binary;
    head.binary_header_position = binary_position;
    head.config = &cfg;
    head.expression_count = layout.expression_count;
    dump->SetHead(head);
  }
  if (!appending) {
    if (format && format->announce) ShowMessageF(kMsgInfo, format->announce, output.c_str());
  }
  ClearChannelValues(channels_);
  output_created_ = true;
  if (!writer_->Create(setup)) {
    output_failed_ = true;
    if (IsDiademFormat(code)) {
      Error("DIAdem export error: %s !", writer_->error_text().c_str());
    } else if (code == kFormatEtasAscii && writer_->failed_in_initialise()) {
      if (writer_->error_text().empty()) {
        Error("Error: Couldn't init ETAS-ASCII-Converter !");
      } else {
        Error("Error: %s", writer_->error_text().c_str());
      }
    } else {
      Error("Error: Could not create \"%s\" (%s) !", output.c_str(),
            writer_->error_text().c_str());
    }
    output_open_ = false;
    return false;
  }
  output_open_ = true;
  output_path_ = output;

  // GPS track file.
  const bool track_wanted = request_.gps.separate_track_file != 0 && !appending &&
                            (scan.has_gps || request_.gps.separate_track_file > 1);
  if (track_wanted) gps_.OpenTrack(output);

  // 12. Conversion pass.
  if (request_.verbose) {
    char when[40];
    FormatDateTimeTo(when, sizeof when, static_cast<double>(scan.source_start_time),
                     kDateTimeFractionPattern);
    ShowMessageF(kMsgInfo, "Conversion starts; winding back to index=%ld, filepos=0x%8.8lX, in %s",
                 static_cast<long>(scan.oldest_index),
                 static_cast<unsigned long>(scan.oldest_position), file_name.c_str());
  }
  if (request_.on_source_start) {
    SourceStart info;
    info.setup = &setup;
    const double points = interval > 0 ? std::ceil(scan.duration / interval) : 0;
    info.expected_points =
        std::max<int64_t>(static_cast<int64_t>(points), static_cast<int64_t>(scan.entry_count));
    info.duration = scan.duration;
    info.has_gps = scan.has_gps;
    info.gps_range = scan.gps;
    request_.on_source_start(info);
  }
  reader.SetPosition(scan.oldest_position, static_cast<uint32_t>(scan.oldest_index));
  clock_.BeginPass(ClockPass::kConversion);
  ShowMessageF(kMsgInfo, "Converting logged data from %s ...", file_name.c_str());

  const bool skip_until_valid = options.skip_until_all_valid;
  std::vector<int> must_be_valid;  // used signal and expression columns
  if (skip_until_valid) {
    for (int c = 0; c < layout.total; ++c) {
      const WriterColumn& col = setup.columns[static_cast<std::size_t>(c)];
      if (col.used && (col.group == ColumnGroup::kSignal || col.group == ColumnGroup::kExpression)) {
        must_be_valid.push_back(c);
      }
    }
  }
  std::size_t next_to_check = 0;  // all columns before this one were valid
  bool all_valid = !skip_until_valid;
  int last_waiting = -1;  // the column the rows were waiting for

  int64_t rows = 0;
  int last_percent = -1;
  bool values_flowing = false;  // Signals: some value arrived in this pass
  bool have_next_row = false;
  double next_row = 0;
  bool pretrigger = true;  // for the first row: since the start of the pass
  bool write_failed = false;
  bool stop = false;
  const int64_t first_entry = reader.FirstEntryPosition();
  const double entry_span = static_cast<double>(std::max<int64_t>(file_size - first_entry, 1));
  const uint32_t progress_step = std::max<uint32_t>(1, scan.entry_count / 400);
  uint32_t next_progress_check = 0;
  LogEntry entry;
  WriterRow row;
  // Writes `row`; a written row counts as a sample point and clears the pre-trigger flag.
  auto write_row = [&]() {
    row.pretrigger = pretrigger;
    const int r = writer_->WriteRow(row);
    if (r == kRowFailed) write_failed = true;
    if (r == kRowWritten) {
      ++rows;
      pretrigger = false;
    }
    return r;
  };
  // Signals rows sample and hold: the row at grid time T shows the values of the entries up to
  // T. A row is therefore written only once an entry later than T is read (before that entry's
  // values are taken), or at the end of the pass for the rows up to the last entry. `base` is the
  // time base that was in force for those entries.
  ExtTime last_now = 0;  // time of the previous entry, seconds since tick 0
  auto write_signals_row = [&](double t, ExtTime base) {
    row.time = t;
    row.time_base = static_cast<double>(base);
    row.elapsed = output_clock_.Elapsed(base + t, interval);
    row.entry = nullptr;
    row.entry_length = 0;
    const int r = write_row();
    if (r == kRowWritten && request_.on_signals_row) {
      request_.on_signals_row(t, row.time_base, std::span<const ChannelValue>(channels));
    }
    return r != kRowFailed;
  };
  // The rows of the grid up to `until` (inclusive with `inclusive`).
  auto write_rows_until = [&](ExtTime until, bool inclusive, ExtTime base) {
    while (inclusive ? next_row <= until + kSameTime : next_row < until - kSameTime) {
      if (!write_signals_row(next_row, base)) return false;
      next_row += interval;
    }
    return true;
  };
  for (uint32_t n = 0; n < scan.entry_count && !stop; ++n) {
    // Progress, looked at a few hundred times per file rather than per entry.
    if (n >= next_progress_check) {
      next_progress_check = n + progress_step;
      const double done = static_cast<double>(n) * 16.0;
      const int percent =
          std::min(100, static_cast<int>(std::ceil(done * 100.0 / entry_span)));
      if (percent != last_percent) {
        last_percent = percent;
        ShowMessageF(kMsgStatus, "Converting ... %d %% of %ld kByte", percent,
                     static_cast<long>(kbytes));
        if (UserAborted(percent, source, kbytes)) {
          ShowMessage(kMsgError, "User abort, output file may be incomplete");
          abort_ = true;
          stop = true;
        }
      }
    }
    // Next entry, winding back to the first one at the end of a circular file.
    if (!reader.NextEntry(&entry, &messages_)) {
      if (request_.verbose) {
        ShowMessageF(kMsgInfo, "FileWrap: Winding from filepos=0x%8.8lX back to 0x%8.8lX",
                     static_cast<unsigned long>(reader.Position()),
                     static_cast<unsigned long>(first_entry));
      }
      reader.SetPosition(first_entry, 0);
      if (!reader.NextEntry(&entry, &messages_)) {
        if (!reader.ReadFailed()) Error("Unexpected end-of-file in \"%s\" .", source.c_str());
        break;
      }
    }
    const std::uint8_t* e = entry.bytes;
    const ExtTime base_before = clock_.TimeBase();
    clock_.ApplyEntry(entry);
    NoteUnreportedDecodeErrors();
    if (n == 0 && !appending) {
      // The conversion starts with the first entry it reads. In a circular file that wrapped
      // these are the entries behind the end marker, older than the first time entry.
      combined_start_ = clock_.AbsoluteTime();
      writer_->SetConversionStart(static_cast<double>(combined_start_));
      output_clock_.Start(combined_start_);
    }
    const double now = static_cast<double>(clock_.SecondsSinceTick0());
    const double time_base = static_cast<double>(clock_.TimeBase());

    // Signals: the rows due before this entry, with the values of the entries before it.
    if (type == OutputType::kSignals && have_next_row) {
      const bool back = next_row > now + 3.0;
      const bool gap = !back && now > next_row + 100.0 * interval;
      // Where the grid is moved, the rows up to the previous entry come first.
      if ((back || gap) && !write_rows_until(last_now, true, base_before)) break;
      if (back) {
        next_row = now - std::fmod(now, interval) + interval;
      } else if (gap) {
        if (request_.verbose) {
          ShowMessageF(kMsgInfo,
                       "Warning: GAP in timestamps, filepos=0x%08lX, TimestampOfMessage=%lg, "
                       "LastWritten=%lg, skipped ~%d entries.",
                       static_cast<unsigned long>(entry.position), now, next_row - interval,
                       static_cast<int>((now - next_row) / interval));
        }
        next_row = now;
      }
      if (!write_rows_until(now, false, base_before)) break;
    }
    last_now = now;
    if (entry.cls == EntryClass::kPreMarker) pretrigger = true;

    // Values.
    bool delivered = false;
    switch (entry.cls) {
      case EntryClass::kCanFrame:
        if (need_signal_values && clock_.TimeEntrySeenInPass() && !IsDummyBlock(e)) {
          delivered = decoder.DecodeFrame(CanIdentifier(e), CanData(e), channels_.data()) > 0;
        }
        break;
      case EntryClass::kExpression:
        delivered =
            ApplyExpressionEntry(DecodeExpressionEntry(e), layout, channels_.data(), false) > 0;
        break;
      case EntryClass::kBulkExpression:
        delivered = DecodeBulkBlock(entry, layout, channels_.data(), false).values > 0;
        break;
      case EntryClass::kGps1:
      case EntryClass::kGps2:
        if (gps_count > 0 || gps_.track_open() || request_.on_gps_fix) {
          const bool fix = gps_.OnGpsEntry(std::span<const std::uint8_t>(e, 16), channels, layout);
          if (fix && request_.on_gps_fix) request_.on_gps_fix(gps_.fix());
          delivered = fix && gps_count > 0;
        }
        break;
      default:
        break;
    }
    if (delivered) values_flowing = true;

    // Skip until every signal and expression column has a value.
    if (!all_valid) {
      while (next_to_check < must_be_valid.size() &&
             channels_[static_cast<std::size_t>(must_be_valid[next_to_check])].valid) {
        ++next_to_check;
      }
      if (next_to_check < must_be_valid.size()) {
        last_waiting = must_be_valid[next_to_check];
        continue;
      }
      all_valid = true;
      char when[40];
      FormatDateTimeTo(when, sizeof when, now + time_base, kDateTimeFractionPattern);
      ShowMessageF(kMsgInfo, "Reached the point where 'all channels are valid' at ta=%s", when);
      if (last_waiting >= 0) {
        const std::string& name = setup.columns[static_cast<std::size_t>(last_waiting)].name;
        ShowMessageF(kMsgInfo, "            Channel '%s' was the last to become valid.",
                     name.c_str());
      }
      have_next_row = false;  // the row grid restarts here
    }

    // Rows.
    row.time_base = time_base;
    if (type == OutputType::kLogfileDump) {
      const int r = dump ? dump->WriteEntry(entry, now + time_base) : 0;
      if (r < 0) {
        write_failed = true;
        break;
      }
      rows += r;
      continue;
    }
    if (type == OutputType::kMessages) {
      const bool makes_row = (entry.cls == EntryClass::kCanFrame && !IsDummyBlock(e)) ||
                             (e[0] >= 0x80 && e[0] < 0xC0);
      if (!makes_row) continue;
      row.time = now;
      row.elapsed = output_clock_.Elapsed(clock_.AbsoluteTime(), 0);
      row.entry = e;
      row.entry_length = entry.length;
      row.entry_file_pos = static_cast<uint32_t>(entry.position);
      if (write_row() == kRowFailed) break;
      continue;
    }
    // Signals: the grid starts at the first multiple of the interval after the first value.
    if (values_flowing && !have_next_row) {
      next_row = now - std::fmod(now, interval) + interval;
      have_next_row = true;
    }
  }
  // Signals: the rows up to the last entry read.
  if (type == OutputType::kSignals && have_next_row && !write_failed) {
    (void)write_rows_until(last_now, true, clock_.TimeBase());
  }
  if (write_failed) {
    Error("Error: Could not write \"%s\" (%s) ! The output file is incomplete.", output.c_str(),
          writer_->error_text().c_str());
  }

  // 13. Close.
  // An aborted pass, and one cut short by a read error (reported by the reader), leave the
  // output marked incomplete as a failed write does.
  const bool cut_short = abort_ || reader.ReadFailed();
  bool ok = !write_failed && !cut_short;
  WriterFinish finish;
  finish.row_count = rows;
  finish.more_follow = more_follow && ok;
  finish.aborted = !ok;
  // The writer keeps its error, so closing after a failed write fails again: that failure was
  // reported already. Closing an output marked incomplete may fail the same way.
  if (!writer_->Finish(finish) && !write_failed && !cut_short) {
    Error("Error: Could not write \"%s\" (%s) ! The output file is incomplete.", output.c_str(),
          writer_->error_text().c_str());
    write_failed = true;
    ok = false;
  }
  if (write_failed && finish.more_follow) {
    // Failed when flushing between combined sources: close it, nothing more goes in.
    WriterFinish close;
    close.aborted = true;
    (void)writer_->Finish(close);
    finish.more_follow = false;
  }
  if (!finish.more_follow) output_open_ = false;
  // A combined output closed incomplete takes no further sources: they would start it anew.
  if (write_failed || cut_short) output_failed_ = true;
  if (gps_.track_open() && (!more_follow || !ok)) gps_.FinishTrack();
  if (!write_failed && !reader.ReadFailed()) {
    ShowMessageF(kMsgInfo, "Conversion of logfile \"%s\" complete, %ld sample points written.",
                 source.c_str(), static_cast<long>(rows));
  }
  ShowMessageF(kMsgStatus, "Output: \"%s\" .", writer_->ShownOutputPath(output).c_str());
  return ok;
}

ConversionSummary ConversionRun::Run() {
  // Every error message of the run counts as a conversion error, and so does every decoding
  // error the recording modules counted without a message. An error message that follows new
  // decoding counts is the message of the last of them.
  int error_messages = 0;
  MessageHandler previous;
  previous = SetMessageHandler([&](int severity, std::string_view text) {
    if (severity == kMsgError) {
      ++error_messages;
      if (messages_.error_count > decode_errors_seen_) {
        unreported_decode_errors_ += messages_.error_count - decode_errors_seen_ - 1;
        decode_errors_seen_ = messages_.error_count;
      }
    }
    if (previous) previous(severity, text);
  });

  // The check normalises first (Signals and DIAdem need at least 0.1 ms); reading the options
  // for the conversion then replaces what is still illegal (a Messages interval below 0.1 ms).
  ConverterOptions options = request_.options;
  const OptionCheckResult check = CheckConverterOptions(options);
  ReadWriteInterval(options, request_.user_config ? request_.user_config->cfg.MsgRateLimit : 0);
  if (check.accepted) ShowOptionNote(check);
  if (!check.accepted) {
    if (!check.box_text.empty()) ShowMessage(kMsgWarning, Tr(check.box_text.c_str()));
    ShowMessage(kMsgError, "Illegal parameters, refused to convert logfile.");
    summary_.refused = true;
  } else {
    messages_.ResetForRun();
    decode_errors_seen_ = 0;
    messages_.verbose = request_.verbose;
    gps_.Start(request_.gps);
    const int count = static_cast<int>(request_.sources.size());
    std::filesystem::path combined_output;
    ConverterOptions combined_options;
    bool combined_started = false;  // a source created the combined output
    RunOutputNames output_names;    // outputs written so far
    for (int i = 0; i < count && !abort_; ++i) {
      const std::filesystem::path& source = request_.sources[static_cast<std::size_t>(i)];
      ConverterOptions file_options = options;
      if (file_options.output_type == static_cast<int>(OutputType::kLogfileDump)) {
        file_options.output_file_format = kFormatText;
      }
      // Combining: the first output name (if any) names the one output.
      const std::size_t name_index = options.combine_output ? 0 : static_cast<std::size_t>(i);
      std::filesystem::path output;
      if (name_index < request_.output_names.size()) {
        output = request_.output_names[name_index];
        ApplyBatchOutputName(output, file_options);
        const OptionCheckResult file_check = CheckConverterOptions(file_options);
        if (file_check.accepted && file_check.box_text != check.box_text) {
          ShowOptionNote(file_check);
        }
        if (!file_check.accepted) {
          ShowMessage(kMsgError, "Illegal parameters, refused to convert logfile.");
          continue;
        }
      } else {
        output = MakeOutputPath(request_.output_dir, source, file_options.output_file_format);
      }
      if (!options.combine_output || !combined_started) {
        // Same-named recordings of different folders: never overwrite an output of this run.
        const std::filesystem::path distinct = output_names.Distinct(output);
        if (distinct != output) {
          ShowMessageF(kMsgWarning,
                       "Output \"%s\" was already written in this run; \"%s\" is converted "
                       "to \"%s\" instead.",
                       output.c_str(), source.c_str(), distinct.c_str());
          output = distinct;
        }
      }
      int flags = CombineFlags(options.combine_output, i, count);
      if (options.combine_output) {
        // One output: its name and format are those of the first source that gets as far as
        // creating it; sources that fail before that do not start it.
        if (!combined_started) {
          combined_output = output;
          combined_options = file_options;
          flags &= ~kCombineAppend;
        } else if (output_failed_) {
          ShowMessageF(kMsgInfo, "\"%s\" not converted: the output \"%s\" is incomplete.",
                       source.c_str(), combined_output.c_str());
          continue;
        }
        output = combined_output;
        file_options = combined_options;
      }
      ShowMessageF(kMsgInfo, "Output: %s", output.c_str());
      const int errors_before = error_messages;
      const bool file_ok = ConvertFile(source, output, file_options, flags);
      if (output_created_) {
        combined_started = true;
        output_names.Take(output);
      }
      NoteUnreportedDecodeErrors();
      if (file_ok) {
        ++summary_.converted;
        if (summary_.outputs.empty() || summary_.outputs.back() != output) {
          summary_.outputs.push_back(output);
        }
      } else if (error_messages == errors_before) {
        ++error_messages;  // a failure always counts as an error
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
  }
  NoteUnreportedDecodeErrors();
  summary_.aborted = abort_;
  summary_.errors = error_messages + unreported_decode_errors_;
  if (summary_.refused) {
    // Refused options: nothing was started, so there is no result to report.
    SetMessageHandler(previous);
    return summary_;
  }
  const int errors = summary_.errors;
  const int converted = summary_.converted;
  ShowMessageF(errors > 0 ? kMsgError : kMsgInfo, "%d file%c converted, %d conversion error%c. %s",
               converted, converted == 1 ? ' ' : 's', errors, errors == 1 ? ' ' : 's',
               errors > 0 ? "Please check error log on the 'INFO' tab." : "");
  SetMessageHandler(previous);

  if (request_.launch_viewer && converted > 0 && !summary_.outputs.empty()) {
    if (request_.viewer_program.empty()) {
      ShowMessage(kMsgError, "Name of external data viewer missing (on Setup tab).");
    } else if (StartExternalViewer(request_.viewer_program, summary_.outputs.back())) {
      ShowMessage(kMsgInfo, "Successfully launched external data viewer.");
    } else {
      ShowMessageF(kMsgError, "Coultn't launch %s .",
                   ("\"" + request_.viewer_program + "\" \"" +
                    summary_.outputs.back().string() + "\"")
                       .c_str());
    }
  }
  return summary_;
}

}  // namespace

ConversionSummary RunConversion(const ConversionRequest& request) {
  ConversionRun run(request);
  return run.Run();
}

bool StartExternalViewer(const std::string& program, const std::filesystem::path& file) {
  // The viewer is started from a short-lived intermediate process so that it is not our child:
  // it may run longer than this program and never stays behind as a zombie. A pipe that closes
  // on exec tells whether the program could be started.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const std::string file_text = file.string();
  const pid_t middle = ::fork();
  if (middle < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (middle == 0) {
    ::close(fds[0]);
    if (::fork() == 0) {
      ::setsid();
      char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file_text.c_str()),
                      nullptr};
      ::execvp(program.c_str(), argv);
      const char failed = 1;
      (void)!::write(fds[1], &failed, 1);
      ::_exit(127);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  int status = 0;
  ::waitpid(middle, &status, 0);
  char failed = 0;
  const ssize_t n = ::read(fds[0], &failed, 1);  // 0: closed by a successful exec
  ::close(fds[0]);
  return n == 0;
}

}  // namespace tessmar
