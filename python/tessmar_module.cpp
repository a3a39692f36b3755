// The compiled part of the Python package `tessmar` (module tessmar._core): recordings read and
// converted by the core into numpy arrays, conversions with the command line's options,
// configurations and CAN databases. The Python part (tessmar/__init__.py) wraps these functions in
// classes, pandas objects, exceptions and warnings.
//
// Inside, errors are values as everywhere in the core; this file turns them into Python exceptions
// at the module's edge, where Python expects them. A conversion holds the process-wide message
// handler, so runs in one process take turns (a lock); each releases the interpreter lock while it
// reads, so other Python threads go on.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "candb/signal_table.h"
#include "common/message_output.h"
#include "config/canlog_config.h"
#include "config/clc_file.h"
#include "convert/channel_selection.h"
#include "convert/conversion_driver.h"
#include "convert/convert_option_rules.h"
#include "convert/ready_pre_scan.h"
#include "convert/settings_file.h"
#include "logfile/cld_reader.h"
#include "logfile/log_entry.h"
#include "logfile/log_header.h"
#include "logfile/pre_scan.h"
#include "logfile/signal_values.h"
#include "writers/gps_settings.h"

namespace py = pybind11;

namespace tessmar::python {
namespace {

// ---- Exceptions
// ----------------------------------------------------------------------------------

// The exception classes of the package, made when the module is imported.
struct ErrorClasses {
  py::object base, not_a_recording, read_error, bad_option;
};
ErrorClasses& Errors() {
  static ErrorClasses classes;
  return classes;
}

enum class ErrorKind { kNotARecording, kReadError, kBadOption, kAborted };

[[noreturn]] void Raise(ErrorKind kind, const std::string& text) {
  const ErrorClasses& e = Errors();
  const py::object& cls = kind == ErrorKind::kNotARecording ? e.not_a_recording
                          : kind == ErrorKind::kReadError   ? e.read_error
                          : kind == ErrorKind::kBadOption   ? e.bad_option
                                                            : e.base;
  PyErr_SetString(cls.ptr(), text.c_str());
  throw py::error_already_set();
}

// The kind of error a failed run's first error message tells: a file that is no recording, a
// channel pattern that chooses nothing, or a file that could not be read.
ErrorKind KindOfFailure(std::string_view text) {
  if (text.find("BINARY_LOG_DATA") != std::string_view::npos ||
      text.find("ends inside its header") != std::string_view::npos) {
    return ErrorKind::kNotARecording;
  }
  if (text.starts_with("Error: No signal, expression or GPS column matches") ||
      text.starts_with("Error: No message matches")) {
    return ErrorKind::kBadOption;
  }
  return ErrorKind::kReadError;
}

// ---- Messages
// ------------------------------------------------------------------------------------

using Messages = std::vector<MessageCapture::Entry>;

py::list MessageList(const Messages& messages) {
  py::list list;
  for (const MessageCapture::Entry& m : messages) {
    if (m.severity == kMsgStatus) continue;  // progress lines of the status bar
    list.append(py::make_tuple(m.severity, m.text));
  }
  return list;
}

// Everything the core shows while it lives is collected here and printed nowhere.
class CollectMessages {
 public:
  CollectMessages()
      : previous_(SetMessageHandler([this](int severity, std::string_view text) {
          messages_.push_back({severity, std::string(text)});
        })) {}
  ~CollectMessages() { SetMessageHandler(std::move(previous_)); }
  CollectMessages(const CollectMessages&) = delete;
  CollectMessages& operator=(const CollectMessages&) = delete;
  const Messages& messages() const { return messages_; }

 private:
  Messages messages_;
  MessageHandler previous_;
};

std::mutex& RunLock() {
  static std::mutex lock;
  return lock;
}

// Takes the run lock, waiting without the interpreter lock: the thread that holds the run lock
// may need the interpreter for its callbacks.
std::unique_lock<std::mutex> TakeRunLock() {
  std::unique_lock<std::mutex> lock(RunLock(), std::defer_lock);
  py::gil_scoped_release release;
  lock.lock();
  return lock;
}

// ---- Options
// -------------------------------------------------------------------------------------

using OptionList = std::vector<std::pair<std::string, std::string>>;

// A request from options named as on the command line ("--interval", "0.01"), read by the same
// rules as tessmar-cli: the option table, the GPS options (a preset first), the span check, and
// "--format csv-german" meaning comma and comma unless the separators are given.
struct ReadOptions {
  ConversionRequest request;
  std::optional<std::filesystem::path> settings_file;
};

void BadValue(const std::string& option, const std::string& value, const char* values) {
  Raise(ErrorKind::kBadOption,
        "invalid value '" + value + "' for " + option + " (" + std::string(values) + ")");
}

ReadOptions RequestFromOptions(const OptionList& options) {
  ReadOptions out;
  // Without a settings file: the values a missing Tessmar.ini gives tessmar-cli.
  TessmarSettings settings = LoadSettingsFile(std::filesystem::path());
  for (const auto& [option, value] : options) {
    if (option == "--settings") {
      bool found = false;
      settings = LoadSettingsFile(value, &found);
      if (!found) Raise(ErrorKind::kBadOption, "cannot read the settings file " + value);
      out.settings_file = value;
    }
  }
  ConvertChoices choices;
  choices.options = settings.converter;
  choices.outdir = settings.export_dir;
  ConversionRequest& request = out.request;
  request.gps = GpsSettingsOf(settings);
  bool separator_given = false, decimal_given = false;
  for (const auto& [option, value] : options) {
    if (option == "--separator") separator_given = true;
    if (option == "--decimal") decimal_given = true;
    if (const OptionRule* rule = FindOptionRule(option)) {
      if (!rule->apply(value, choices)) BadValue(option, value, rule->values);
    } else if (option == "--outdir") {
      choices.outdir = value;
    } else if (option == "--jobs") {
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 1 || n > 256) BadValue(option, value, "1..256");
      request.jobs = static_cast<int>(n);
    } else if (option == "--no-clobber") {
      request.no_clobber = true;
    } else if (option == "--verbose") {
      request.verbose = true;
    } else if (option != "--settings" && option != "--gps-preset" && option != "--gps-track" &&
               option != "--gps-columns") {
      Raise(ErrorKind::kBadOption, "unknown option " + option);
    }
  }
  for (const bool presets : {true, false}) {
    for (const auto& [option, value] : options) {
      if (presets && option == "--gps-preset") {
        if (!ApplyGpsPresetOption(value, request.gps)) BadValue(option, value, "0, 1, 2");
      } else if (!presets && option == "--gps-track") {
        if (!ApplyGpsTrackOption(value, request.gps)) BadValue(option, value, "off, text, nmea");
      } else if (!presets && option == "--gps-columns") {
        if (!ApplyGpsColumnsOption(value, request.gps)) {
          BadValue(option, value, "off, after, before");
        }
      }
    }
  }
  std::string span_error;
  if (!CheckSelectionOptions(choices.options.start_time, choices.options.stop_time, &span_error)) {
    Raise(ErrorKind::kBadOption, span_error);
  }
  if (choices.explicit_format && choices.options.output_file_format == kFormatCsvGerman) {
    if (!separator_given) choices.options.column_separator = ColumnSeparator::kComma;
    if (!decimal_given) choices.options.decimal_separator = DecimalSeparator::kComma;
  }
  request.options = choices.options;
  request.output_dir = choices.outdir;
  request.format_thread = choices.format_thread;
  request.error_log_hint = "Please check the messages of the summary.";
  request.show_option_notes = true;  // no message boxes here
  return out;
}

// ---- Observer
// ------------------------------------------------------------------------------------

// The package's view of a running conversion: the optional progress callback (percent, source;
// returning False aborts) and Ctrl-C in the interpreter as the abort. Questions take their batch
// answer. Called with the interpreter lock released: takes it for Python's part.
class PythonObserver : public ConversionObserver {
 public:
  explicit PythonObserver(py::object progress) : progress_(std::move(progress)) {}

  Answer OnQuestion(const Question& question) override { return question.batch_answer; }
  bool OnProgress(int percent, const std::filesystem::path& source, int64_t) override {
    if (progress_.is_none() || interrupted_) return !interrupted_;
    py::gil_scoped_acquire gil;
    try {
      const py::object result = progress_(percent, source.string());
      return result.is_none() || result.cast<bool>();
    } catch (py::error_already_set& e) {
      pending_ = std::make_unique<py::error_already_set>(std::move(e));
      interrupted_ = true;
      return false;
    }
  }
  bool AbortRequested() override {
    if (interrupted_) return true;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      pending_ = std::make_unique<py::error_already_set>();
      interrupted_ = true;
    }
    return interrupted_;
  }
  // Raises what stopped the run from Python's side (KeyboardInterrupt, an error of the callback).
  void RaisePending() {
    if (pending_) {
      std::unique_ptr<py::error_already_set> e = std::move(pending_);
      throw py::error_already_set(std::move(*e));
    }
  }

 private:
  py::object progress_;
  bool interrupted_ = false;
  std::unique_ptr<py::error_already_set> pending_;
};

// Runs a request with the package's observer, the lock held and the interpreter lock released.
// The messages of the run are returned in `messages`.
ConversionSummary Run(const ConversionRequest& request, PythonObserver& observer,
                      Messages& messages) {
  const std::unique_lock<std::mutex> lock = TakeRunLock();
  ConversionSummary summary;
  {
    py::gil_scoped_release release;
    SetBatchMode(true);
    CollectMessages collect;
    summary = RunConversion(PlanConversion(request), observer);
    messages = collect.messages();
  }
  observer.RaisePending();
  return summary;
}

// A run that made nothing of its one source raises the first error it reported.
void RaiseIfFailed(const ConversionSummary& summary, const Messages& messages) {
  if (summary.converted > 0) return;
  // A file that is no recording also fails the checks before that one: name what it is.
  for (const MessageCapture::Entry& m : messages) {
    if (m.severity == kMsgError && KindOfFailure(m.text) == ErrorKind::kNotARecording) {
      Raise(ErrorKind::kNotARecording, m.text);
    }
  }
  for (const MessageCapture::Entry& m : messages) {
    if (m.severity == kMsgError) {
      Raise(summary.refused   ? ErrorKind::kBadOption
            : summary.aborted ? ErrorKind::kAborted
                              : KindOfFailure(m.text),
            m.text);
    }
  }
  Raise(ErrorKind::kReadError, "nothing converted");
}

// ---- Row takers
// ----------------------------------------------------------------------------------

// Seconds of the rows as the text outputs' "seconds" column gives them: since the first row.
class RelativeTime {
 public:
  double Of(double elapsed) {
    if (!have_t0_ || elapsed < t0_) {
      t0_ = elapsed;
      have_t0_ = true;
    }
    return elapsed - t0_;
  }

 private:
  bool have_t0_ = false;
  double t0_ = 0;
};

// A growing array of plain values in memory of malloc: grows in place where realloc can (a large
// block is remapped, not copied) and is handed to numpy without a copy.
template <typename T>
class GrowingArray {
 public:
  GrowingArray() = default;
  ~GrowingArray() {
    StopMapping();
    std::free(data_);
  }
  GrowingArray(const GrowingArray&) = delete;
  GrowingArray& operator=(const GrowingArray&) = delete;

  void Reserve(std::size_t n) {
    if (n > capacity_) Grow(n);
  }
  // Has the pages of the reserved memory mapped by a thread of its own while this one fills in
  // the values: a large fresh block costs a page fault per 4 kB on first writing, about a tenth
  // of the time of frames() or signals(), which then falls on a free core. Mapping a page leaves
  // what was written there as it is.
  void MapAhead() {
#ifdef MADV_POPULATE_WRITE
    static constexpr std::size_t kChunk = std::size_t{2} << 20;
    const std::size_t bytes = capacity_ * sizeof(T);
    if (mapper_.joinable() || bytes < 2 * kChunk) return;
    stop_mapping_ = false;
    mapper_ = std::thread([this, begin = reinterpret_cast<std::uintptr_t>(data_), bytes] {
      constexpr std::uintptr_t kPage = 4096;
      std::uintptr_t at = (begin + kPage - 1) & ~(kPage - 1);
      const std::uintptr_t end = (begin + bytes) & ~(kPage - 1);
      while (at < end && !stop_mapping_.load(std::memory_order_relaxed)) {
        const std::uintptr_t n = std::min<std::uintptr_t>(kChunk, end - at);
        if (madvise(reinterpret_cast<void*>(at), n, MADV_POPULATE_WRITE) != 0) break;
        at += n;
      }
    });
#endif
  }
  // One more value at the end, to be filled in.
  T& Next() {
    if (size_ == capacity_) [[unlikely]]
      GrowTwice();
    return data_[size_++];
  }
  // Room for n more values at the end; they count as added.
  T* Extend(std::size_t n) {
    if (size_ + n > capacity_) Grow(std::max(size_ + n, capacity_ * 2));
    T* p = data_ + size_;
    size_ += n;
    return p;
  }
  std::size_t size() const { return size_; }
  // A one-dimensional numpy array that owns the memory from now on.
  py::array_t<T> Release() {
    StopMapping();
    if (data_ == nullptr) return py::array_t<T>(0);
    py::capsule owner(data_, [](void* p) { std::free(p); });
    T* data = data_;
    data_ = nullptr;
    return py::array_t<T>(static_cast<py::ssize_t>(std::exchange(size_, 0)), data, owner);
  }

 private:
  // Out of line: the caller's hot path then saves no registers for the call.
  [[gnu::noinline]] void GrowTwice() { Grow(capacity_ * 2); }
  void StopMapping() {
    if (!mapper_.joinable()) return;
    stop_mapping_ = true;
    mapper_.join();
  }
  void Grow(std::size_t n) {
    StopMapping();
    const std::size_t bytes = std::max<std::size_t>(n, 16) * sizeof(T);
    void* p = std::realloc(data_, bytes);
    if (p == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    capacity_ = std::max<std::size_t>(n, 16);
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::thread mapper_;
  std::atomic<bool> stop_mapping_ = false;
};

// One CAN frame as frames() gives it; the numpy record type below has the same layout.
struct FrameRecord {
  double time;      // seconds since the first row, as in the Messages output
  double abs_time;  // seconds since 1970-01-01 (logger time, no time zone)
  uint32_t id;      // identifier, 11 or 29 bits
  uint8_t bus;      // 1, 2 or 3
  uint8_t extended;
  uint8_t dlc;
  uint8_t pad;
  uint8_t data[8];
};
static_assert(sizeof(FrameRecord) == 32);

// The frames of a Messages run.
class FrameTaker : public Writer {
 public:
  explicit FrameTaker(std::size_t expected) {
    frames_.Reserve(expected);
    frames_.MapAhead();
  }
  int Create(const WriterSetup&) override { return 1; }
  bool ReadsChannelValues(OutputType) const override { return false; }  // the frames alone
  int WriteRow(const WriterRow& row) override {
    const uint8_t* e = row.entry;
    if (e == nullptr || e[0] >= 0x40) return kRowSkipped;
    FrameRecord& f = frames_.Next();
    const uint32_t word = CanIdentifier(e);
    const bool extended = (word & kCanIdExtended) != 0;
    f.time = time_.Of(row.elapsed);
    f.abs_time = row.time + row.time_base;
    f.id = word & (extended ? 0x1FFFFFFFu : 0x7FFu);
    f.bus = static_cast<uint8_t>(CanIdBus(word));
    f.extended = extended ? 1 : 0;
    f.dlc = static_cast<uint8_t>(e[0] & 0x0F);
    f.pad = 0;
    std::memcpy(f.data, CanData(e), 8);
    return kRowWritten;
  }
  int Finish(const WriterFinish&) override { return 1; }
  GrowingArray<FrameRecord>& frames() { return frames_; }

 private:
  GrowingArray<FrameRecord> frames_;
  RelativeTime time_;
};

// One column as signals() names it.
struct ColumnInfo {
  std::string name, unit, group;
};

std::vector<ColumnInfo> UsedColumns(const WriterSetup& setup, std::vector<int>& indices) {
  std::vector<ColumnInfo> columns;
  indices.clear();
  for (int c = 0; c < static_cast<int>(setup.columns.size()); ++c) {
    const WriterColumn& col = setup.columns[static_cast<std::size_t>(c)];
    if (!col.used) continue;
    const char* group = col.group == ColumnGroup::kSignal       ? "signal"
                        : col.group == ColumnGroup::kExpression ? "expression"
                                                                : "gps";
    columns.push_back({col.name, col.unit, group});
    indices.push_back(c);
  }
  return columns;
}

// A column's number as Python gets it (kValue: the scaled or the raw value); NaN without a value
// and for a text.
template <double ChannelValue::*kValue>
double ValueOf(const ChannelValue& v) {
  if (!v.valid || v.value_type == kChannelTypeText) return std::numeric_limits<double>::quiet_NaN();
  return v.*kValue;
}
double ValueOf(const ChannelValue& v, bool scaled) {
  return scaled ? ValueOf<&ChannelValue::scaled>(v) : ValueOf<&ChannelValue::raw_float>(v);
}

// The rows of a Signals run: the grid's times and every used column's value (NaN before its
// first value), row after row.
class GridTaker : public Writer {
 public:
  explicit GridTaker(std::size_t expected_rows) : expected_rows_(expected_rows) {}
  int Create(const WriterSetup& setup) override {
    channels_ = setup.channels;
    scaled_ = setup.scaled_values;
    columns_ = UsedColumns(setup, indices_);
    sources_.clear();
    for (const int c : indices_) sources_.push_back(channels_ + c);
    times_.Reserve(expected_rows_);
    values_.Reserve(expected_rows_ * indices_.size());
    values_.MapAhead();
    return 1;
  }
  int WriteRow(const WriterRow& row) override {
    *times_.Extend(1) = time_.Of(row.elapsed);
    double* out = values_.Extend(indices_.size());
    if (scaled_) {
      TakeRow<&ChannelValue::scaled>(out);
    } else {
      TakeRow<&ChannelValue::raw_float>(out);
    }
    return kRowWritten;
  }
  int Finish(const WriterFinish&) override { return 1; }

  GrowingArray<double> times_, values_;
  std::vector<ColumnInfo> columns_;

 private:
  // The row's values: the innermost loop of signals(), over every used column of every row, so
  // it goes straight through the columns' records with the choice of the value made outside.
  template <double ChannelValue::*kValue>
  void TakeRow(double* out) const {
    for (const ChannelValue* v : sources_) *out++ = ValueOf<kValue>(*v);
  }

  std::size_t expected_rows_;
  const ChannelValue* channels_ = nullptr;
  bool scaled_ = true;
  std::vector<int> indices_;
  std::vector<const ChannelValue*> sources_;  // the records of the used columns
  RelativeTime time_;
};

// Every column at its own times, from a Messages run: a signal at every frame that carries it
// (decoded by the core's decoder, so a multiplexed signal only where its multiplexer matches), an
// expression or GPS column whenever its value changes.
class SeriesTaker : public Writer {
 public:
  // The signals of each frame are decoded here, as they arrive; the run's own values are only
  // read for the expression and GPS columns.
  bool ReadsChannelValues(OutputType) const override { return false; }
  int Create(const WriterSetup& setup) override {
    channels_ = setup.channels;
    scaled_ = setup.scaled_values;
    layout_ = setup.layout;
    columns_ = UsedColumns(setup, indices_);
    column_of_.assign(static_cast<std::size_t>(layout_.total), -1);
    for (std::size_t k = 0; k < indices_.size(); ++k) {
      column_of_[static_cast<std::size_t>(indices_[k])] = static_cast<int>(k);
    }
    decoder_.Build(*setup.signal_table, layout_);
    scratch_.assign(static_cast<std::size_t>(layout_.total), ChannelValue{});
    last_.assign(indices_.size(), std::numeric_limits<double>::quiet_NaN());
    times_.assign(indices_.size(), {});
    values_.assign(indices_.size(), {});
    return 1;
  }
  int WriteRow(const WriterRow& row) override {
    const uint8_t* e = row.entry;
    if (e == nullptr) return kRowSkipped;
    const double t = time_.Of(row.elapsed);
    if (e[0] < 0x40) {
      const uint32_t id = CanIdentifier(e);
      const std::span<const int> written = decoder_.ColumnsOf(id);
      for (const int c : written) scratch_[static_cast<std::size_t>(c)].valid = false;
      if (decoder_.DecodeFrameValues(id, CanData(e), scratch_.data()) > 0) {
        for (const int c : written) {
          const ChannelValue& v = scratch_[static_cast<std::size_t>(c)];
          const int k = column_of_[static_cast<std::size_t>(c)];
          if (v.valid && k >= 0) Add(k, t, ValueOf(v, scaled_));
        }
      }
    }
    // Expression and GPS columns as the run holds them.
    for (std::size_t k = 0; k < indices_.size(); ++k) {
      const int c = indices_[k];
      if (layout_.GroupOf(c) == ColumnGroup::kSignal) continue;
      const double v = ValueOf(channels_[c], scaled_);
      if (std::isnan(v)) continue;
      if (!std::isnan(last_[k]) && last_[k] == v) continue;
      last_[k] = v;
      Add(static_cast<int>(k), t, v);
    }
    return kRowWritten;
  }
  int Finish(const WriterFinish&) override { return 1; }

  std::vector<ColumnInfo> columns_;
  std::vector<std::vector<double>> times_, values_;

 private:
  void Add(int k, double t, double v) {
    times_[static_cast<std::size_t>(k)].push_back(t);
    values_[static_cast<std::size_t>(k)].push_back(v);
  }
  const ChannelValue* channels_ = nullptr;
  bool scaled_ = true;
  ColumnLayout layout_;
  std::vector<int> indices_;
  std::vector<int> column_of_;
  SignalDecoder decoder_;
  std::vector<ChannelValue> scratch_;
  std::vector<double> last_;
  RelativeTime time_;
};

// A numpy array that takes over a vector's memory (no copy).
template <typename T>
py::array_t<T> ArrayOf(std::vector<T>&& data) {
  auto* owned = new std::vector<T>(std::move(data));
  py::capsule free_when_done(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(static_cast<py::ssize_t>(owned->size()), owned->data(), free_when_done);
}

py::list ColumnList(const std::vector<ColumnInfo>& columns) {
  py::list list;
  for (const ColumnInfo& c : columns) list.append(py::make_tuple(c.name, c.unit, c.group));
  return list;
}

// The pre-scan open_recording() ran, kept by the Recording for its conversions.
struct PreScan {
  std::shared_ptr<const ReadyPreScan> scan;
};

// A request for one recording whose rows go to the taker; with the recording's pre-scan when
// there is one.
ConversionRequest RowRequest(const std::string& path, const OptionList& options, OutputType type,
                             Writer& taker, const PreScan* pre_scan) {
  ConversionRequest request = RequestFromOptions(options).request;
  request.sources = {std::filesystem::path(path)};
  request.output_names.clear();
  request.output_dir = std::filesystem::path(path).parent_path();
  request.options.output_type = type;
  request.options.output_file_format = kFormatCsvInternational;
  request.options.time_column1 = TimeColumnKind::kSeconds;
  request.options.combine_output = false;
  request.jobs = 1;
  request.row_writer = &taker;
  if (pre_scan != nullptr) request.ready_pre_scan = pre_scan->scan.get();
  return request;
}

// ---- Functions of the module
// ---------------------------------------------------------------------

py::dict RecordingFacts(const std::string& path) {
  const std::unique_lock<std::mutex> lock = TakeRunLock();
  CollectMessages collect;
  CldReader reader;
  if (!reader.Open(path)) {
    Raise(ErrorKind::kReadError,
          "Error: Could not open \"" + path + "\" (" + std::strerror(reader.open_error()) + ") !");
  }
  LoggerConfiguration config;
  const LogHeader header = ReadLogHeader(reader, config.cfg, config.sigs);
  if (reader.ReadFailed()) Raise(ErrorKind::kReadError, collect.messages().back().text);
  if (header.binary_position <= 0) {
    Raise(ErrorKind::kNotARecording, "Error: Could not locate section BINARY_LOG_DATA .");
  }
  DecodeMessages decode;
  const double frequency = CheckTimerFrequency(header, &decode);
  const BinaryLogHeader binary = reader.ReadBinaryHeader(header.binary_position);
  if (binary.cut_short) {
    Raise(ErrorKind::kNotARecording, "Error: \"" + path + "\" ends inside its header .");
  }
  const std::string file_name = std::filesystem::path(path).filename().string();
  const PreScanSetup pre = HeaderPreScanSetup(file_name, header, config.cfg, binary, frequency);
  auto ready = std::make_shared<ReadyPreScan>();
  bool scanned = false;
  {
    py::gil_scoped_release release;
    *ready = RunReadyPreScan(reader, path, pre, &scanned);
  }
  Messages messages = collect.messages();
  for (const ReadyPreScan::Message& m : ready->messages) messages.push_back({m.severity, m.text});
  if (reader.ReadFailed()) Raise(ErrorKind::kReadError, messages.back().text);
  const PreScanResult& scan = ready->result;

  py::list signals;
  for (const T_CanLog_SigDef& sig : config.sigs) {
    if (!SignalSlotUsed(sig)) continue;
    signals.append(py::make_tuple(std::string(TextOf(sig.sn)), std::string(TextOf(sig.un))));
  }
  py::list expressions;
  for (const T_CanLog_ExprDef& expr : config.cfg.Exp) {
    if (!ExpressionSlotUsed(expr)) continue;
    const std::string_view name = TextOf(expr.na);
    expressions.append(std::string(name.empty() || name[0] <= ' ' ? TextOf(expr.ex) : name));
  }
  py::dict facts;
  facts["path"] = path;
  facts["device_family"] = config.cfg.DeviceFamily;
  facts["logger_family"] = std::string(FamilyLimits(config.cfg.DeviceFamily).name);
  facts["start_time"] = static_cast<double>(scan.source_start_time);
  facts["clock_frequency"] = frequency;
  facts["signals"] = signals;
  facts["expressions"] = expressions;
  facts["has_gps"] = scan.has_gps;
  facts["entry_count"] = scan.entry_count;
  facts["duration"] = scan.duration;
  facts["using_gps_time"] = scan.using_gps_time;
  facts["file_size"] = reader.FileSize();
  facts["messages"] = MessageList(messages);
  facts["pre_scan"] = scanned ? py::cast(PreScan{std::move(ready)}) : py::none();
  return facts;
}

// Runs a one-recording request whose rows go to the taker; raises when nothing was converted.
Messages RunRows(const std::string& path, const OptionList& options, OutputType type, Writer& taker,
                 const py::object& progress, const PreScan* pre_scan) {
  const ConversionRequest request = RowRequest(path, options, type, taker, pre_scan);
  PythonObserver observer(progress);
  Messages messages;
  const ConversionSummary summary = Run(request, observer, messages);
  RaiseIfFailed(summary, messages);
  return messages;
}

py::tuple Frames(const std::string& path, const OptionList& options, std::size_t expected,
                 const py::object& progress, const PreScan* pre_scan) {
  FrameTaker taker(expected);
  const Messages messages =
      RunRows(path, options, OutputType::kMessages, taker, progress, pre_scan);
  return py::make_tuple(taker.frames().Release(), MessageList(messages));
}

py::tuple SignalsGrid(const std::string& path, const OptionList& options, std::size_t expected,
                      const py::object& progress, const PreScan* pre_scan) {
  GridTaker taker(expected);
  const Messages messages = RunRows(path, options, OutputType::kSignals, taker, progress, pre_scan);
  const std::size_t rows = taker.times_.size();
  const std::size_t columns = taker.columns_.size();
  const py::array values = taker.values_.Release().reshape(
      {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
  return py::make_tuple(taker.times_.Release(), values, ColumnList(taker.columns_),
                        MessageList(messages));
}

py::tuple SignalsSeries(const std::string& path, const OptionList& options,
                        const py::object& progress, const PreScan* pre_scan) {
  SeriesTaker taker;
  const Messages messages =
      RunRows(path, options, OutputType::kMessages, taker, progress, pre_scan);
  py::list series;
  for (std::size_t k = 0; k < taker.columns_.size(); ++k) {
    series.append(
        py::make_tuple(ArrayOf(std::move(taker.times_[k])), ArrayOf(std::move(taker.values_[k]))));
  }
  return py::make_tuple(series, ColumnList(taker.columns_), MessageList(messages));
}

py::dict Convert(const std::vector<std::string>& sources, const std::vector<std::string>& outputs,
                 const OptionList& options, const py::object& progress) {
  ConversionRequest request = RequestFromOptions(options).request;
  for (const std::string& s : sources) request.sources.emplace_back(s);
  for (const std::string& o : outputs) request.output_names.emplace_back(o);
  std::string error;
  if (!MakeOutputFolders(request.output_dir, request.sources.size(), request.output_names, nullptr,
                         &error)) {
    Raise(ErrorKind::kReadError, error);
  }
  PythonObserver observer(progress);
  Messages messages;
  const ConversionSummary summary = Run(request, observer, messages);
  py::list written;
  for (const std::filesystem::path& p : summary.outputs) written.append(p.string());
  py::dict result;
  result["outputs"] = written;
  result["converted"] = summary.converted;
  result["errors"] = summary.errors;
  result["refused"] = summary.refused;
  result["aborted"] = summary.aborted;
  result["skipped"] = summary.skipped;
  result["messages"] = MessageList(messages);
  return result;
}

// The extension of the output a conversion with these options writes (".csv", ".mf4").
std::string OutputExtension(const OptionList& options) {
  ConversionRequest request = RequestFromOptions(options).request;
  request.sources = {"recording.cld"};
  request.output_dir = ".";
  const ConversionPlan plan = PlanConversion(request);
  if (!plan.accepted || !plan.sources.front().refusal.empty()) {
    std::string why = plan.sources.empty() ? std::string() : plan.sources.front().refusal;
    for (const MessageCapture::Entry& m : plan.messages) {
      if (m.severity == kMsgError && why.empty()) why = m.text;
    }
    Raise(ErrorKind::kBadOption, why.empty() ? std::string(kRefusedText) : why);
  }
  return plan.sources.front().output.extension().string();
}

// ---- Configurations and CAN databases
// ------------------------------------------------------------

py::list SignalRecords(const LoggerConfiguration& config) {
  py::list list;
  for (const T_CanLog_SigDef& sig : config.sigs) {
    if (!SignalSlotUsed(sig)) continue;
    py::dict d;
    d["name"] = std::string(TextOf(sig.sn));
    d["unit"] = std::string(TextOf(sig.un));
    d["bus"] = CanIdBus(sig.id);
    const bool extended = (sig.id & kCanIdExtended) != 0;
    d["id"] = sig.id & (extended ? 0x1FFFFFFFu : 0x7FFu);
    d["extended"] = extended;
    d["type"] = std::string(1, sig.ty);
    d["byte_order"] = sig.bo == 'M' ? "motorola" : "intel";
    d["start_bit"] = sig.sb;
    d["bit_count"] = sig.nb;
    d["factor"] = sig.fa;
    d["offset"] = sig.of;
    d["minimum"] = sig.mi;
    d["maximum"] = sig.ma;
    list.append(d);
  }
  return list;
}

// A logger configuration held for Python (the package's Config).
class ConfigHandle {
 public:
  LoggerConfiguration config;

  std::string Text() const { return ClcPlainText(config.cfg, config.sigs); }
  uint32_t Family() const { return config.cfg.DeviceFamily; }
  bool Protected() const { return ClcWriteKey(config.cfg) != 0; }
  py::list Signals() const { return SignalRecords(config); }
  py::list Expressions() const {
    py::list list;
    for (const T_CanLog_ExprDef& expr : config.cfg.Exp) {
      if (!ExpressionSlotUsed(expr)) continue;
      list.append(py::make_tuple(std::string(TextOf(expr.na)), std::string(TextOf(expr.ex))));
    }
    return list;
  }
};

ConfigHandle ReadConfig(const std::string& path, const std::optional<std::string>& password) {
  ConfigHandle result;
  std::string error;
  Messages messages;
  bool ok = false;
  {
    const std::unique_lock<std::mutex> lock = TakeRunLock();
    CollectMessages collect;
    ok = ReadClcFile(path, result.config, &error);
    messages = collect.messages();
  }
  if (!ok) Raise(ErrorKind::kReadError, error);
  if (result.Protected() && password != std::string(TextOf(result.config.cfg.Password1))) {
    Raise(ErrorKind::kBadOption, "Refused to load encrypted file \"" + path + "\" .");
  }
  for (const MessageCapture::Entry& m : messages) {
    if (m.severity >= kMsgWarning) {
      PyErr_WarnEx(PyExc_UserWarning, m.text.c_str(), 2);
    }
  }
  return result;
}

void WriteConfig(const std::string& path, ConfigHandle& config) {
  std::string error;
  bool ok = false;
  {
    const std::unique_lock<std::mutex> lock = TakeRunLock();
    CollectMessages collect;
    ok = WriteClcFile(path, config.config, &error);
  }
  if (!ok) Raise(ErrorKind::kReadError, error);
}

py::tuple LoadDbc(const std::string& path, int bus) {
  SignalTable table;
  bool ok = false;
  Messages messages;
  {
    const std::unique_lock<std::mutex> lock = TakeRunLock();
    CollectMessages collect;
    ok = LoadDbcIntoTable(table, path, bus);
    messages = collect.messages();
  }
  if (!ok) {
    for (const MessageCapture::Entry& m : messages) {
      if (m.severity >= kMsgWarning) Raise(ErrorKind::kReadError, m.text);
    }
    Raise(ErrorKind::kReadError, "cannot read the CAN database \"" + path + "\"");
  }
  py::list titles;
  for (const char* t : SignalTableTitles()) titles.append(t);
  py::list rows;
  for (int r = 1; r < table.row_count(); ++r) {
    if (table.cell(r, kColSigName).empty()) continue;
    py::list row;
    for (int c = 0; c < kSignalTableColumns; ++c) row.append(table.cell(r, c));
    rows.append(row);
  }
  return py::make_tuple(titles, rows, MessageList(messages));
}

}  // namespace
}  // namespace tessmar::python

PYBIND11_MODULE(_core, m) {
  using namespace tessmar::python;
  m.doc() = "Compiled core of the tessmar package; use the functions of `tessmar` instead.";

  ErrorClasses& e = Errors();
  e.base = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "tessmar.TessmarError", "Base of the errors of tessmar.", PyExc_Exception, nullptr));
  const py::tuple read_bases =
      py::make_tuple(e.base, py::reinterpret_borrow<py::object>(PyExc_OSError));
  e.read_error = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "tessmar.ReadError", "A file could not be opened or read.", read_bases.ptr(), nullptr));
  e.not_a_recording = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "tessmar.NotARecordingError", "The file is no logger recording (.cld).", e.read_error.ptr(),
      nullptr));
  const py::tuple option_bases =
      py::make_tuple(e.base, py::reinterpret_borrow<py::object>(PyExc_ValueError));
  e.bad_option = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc("tessmar.BadOptionError", "An option or its value is not accepted.",
                                option_bases.ptr(), nullptr));
  m.attr("TessmarError") = e.base;
  m.attr("ReadError") = e.read_error;
  m.attr("NotARecordingError") = e.not_a_recording;
  m.attr("BadOptionError") = e.bad_option;

  PYBIND11_NUMPY_DTYPE(FrameRecord, time, abs_time, id, bus, extended, dlc, pad, data);

  py::class_<PreScan>(m, "PreScan",
                      "A recording's pre-scan, kept for its conversions while the file is "
                      "unchanged.");
  m.def("recording_facts", &RecordingFacts, py::arg("path"));
  m.def("frames", &Frames, py::arg("path"), py::arg("options"), py::arg("expected"),
        py::arg("progress"), py::arg("pre_scan") = py::none());
  m.def("signals_grid", &SignalsGrid, py::arg("path"), py::arg("options"), py::arg("expected"),
        py::arg("progress"), py::arg("pre_scan") = py::none());
  m.def("signals_series", &SignalsSeries, py::arg("path"), py::arg("options"), py::arg("progress"),
        py::arg("pre_scan") = py::none());
  m.def("convert", &Convert, py::arg("sources"), py::arg("outputs"), py::arg("options"),
        py::arg("progress"));
  m.def("output_extension", &OutputExtension, py::arg("options"));
  py::class_<ConfigHandle>(m, "Config")
      .def_property_readonly("text", &ConfigHandle::Text)
      .def_property_readonly("device_family", &ConfigHandle::Family)
      .def_property_readonly("protected", &ConfigHandle::Protected)
      .def_property_readonly("signals", &ConfigHandle::Signals)
      .def_property_readonly("expressions", &ConfigHandle::Expressions);
  m.def("read_config", &ReadConfig, py::arg("path"), py::arg("password") = py::none());
  m.def("write_config", &WriteConfig, py::arg("path"), py::arg("config"));
  m.def("load_dbc", &LoadDbc, py::arg("path"), py::arg("bus") = 1);
}
