#pragma once
// Output formats and the interface every output writer implements.
//
// The conversion driver reads a recording entry by entry, keeps one channel value record per
// output column up to date and, at every due row, asks the writer of the chosen format to write
// one row. Writers are created through CreateWriter() below.
//
// Life of a writer during one conversion start (one or more sources):
//   1. Create()   once per source. For the first source (and every source when not combining)
//                 setup.appending is false: the writer creates its files. When combining, later
//                 sources come with appending = true: the writer continues the output it has
//                 open (DIAdem makes a new data file per source).
//   2. WriteRow() once per due row; the writer reads the channel values itself. Returns
//                 kRowWritten (counted as a sample point), kRowSkipped (nothing to write for this
//                 row, not counted) or 0 for failure. Relative time columns take
//                 WriterRow::elapsed; a header's start date and time is the absolute time of the
//                 first row, so that it is the moment the relative times count from.
//   3. Finish()   after every source's conversion pass, and once more at the very end of the run.
//                 A writer that has nothing open must do nothing and return success.
// Every operation returns 0 for failure and non-zero for success; on failure the writer keeps the
// reason and words the user's message itself (CreateFailureMessage, WriteFailureMessage), so the
// driver shows it without knowing the format. Writers never throw.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "logfile/channel_value.h"

namespace tessmar {

struct T_CanLog_Config;  // config/canlog_config.h: the configuration of the recording's header
struct T_CanLog_SigTab;  // config/canlog_config.h: the signal table in use
struct LogEntry;         // logfile/log_entry.h
struct DumpHead;         // writers/dump_writer.h

// ---- Output types ----------------------------------------------------------------------------

enum class OutputType : int { kMessages = 0, kSignals = 1, kLogfileDump = 2 };
inline constexpr int kOutputTypeCount = 3;
// "Messages", "Signals", "Logfile Dump"; nullptr for an unknown index.
const char* OutputTypeName(int index);

// ---- Output format codes ---------------------------------------------------------------------

inline constexpr int kFormatText = 0;
inline constexpr int kFormatCsvInternational = 1;
inline constexpr int kFormatCsvGerman = 2;  // "CSV", german (comma separator, comma)
inline constexpr int kFormatDiademAscii = 3;
inline constexpr int kFormatDiademInt32 = 4;
inline constexpr int kFormatVectorAscii = 5;
inline constexpr int kFormatDiademReal64 = 6;
inline constexpr int kFormatVectorMdf = 7;
inline constexpr int kFormatStiegeleMdf = 8;
inline constexpr int kFormatEtasAscii = 9;
inline constexpr int kFormatSemicolonCsvGerman = 11;  // Semicolon-"CSV", german
inline constexpr int kFormatMdf4 = 12;                // ASAM MDF4 (".mf4")

// ---- Time columns ----------------------------------------------------------------------------

enum class TimeColumnKind : int {
  kOff = 0,
  kImplicit = 1,  // fixed interval, no column written
  kSeconds = 2,
  kMilliseconds = 3,
  kDateTime = 4,          // "YYYY-MM-DD hh:mm:ss"
  kDateTimeFraction = 5,  // "YYYY-MM-DD hh:mm:ss.ss"
};
inline constexpr int kTimeColumnKindCount = 6;

// ---- Separators ------------------------------------------------------------------------------

// The column separator and the decimal separator the user chooses; the values are those kept in
// the settings file ("OutputColumnSeparator", "DecimalSeparator") and the list indices.
enum class ColumnSeparator : int { kBlank = 0, kTab = 1, kComma = 2, kSemicolon = 3 };
inline constexpr int kColumnSeparatorCount = 4;
enum class DecimalSeparator : int { kPeriod = 0, kComma = 1 };
inline constexpr int kDecimalSeparatorCount = 2;

class Writer;

// One output format: everything the option check, the driver and both front ends know of it.
// kOutputFormats (writers/format_writers.cpp) holds one per format, in the order of the file
// format list; a new format is a new line there and its writer.
struct OutputFormatInfo {
  int code = 0;                        // stored in the settings ("OutputFileFormat")
  const char* list_text = "";          // e.g. "CSV, international"
  const char* cli_name = "";           // tessmar-cli --format value, e.g. "csv"
  const char* default_extension = "";  // with the dot, e.g. ".csv"
  // Message shown when a new output is started, "%s" being its path; nullptr for none.
  const char* announce = nullptr;
  std::unique_ptr<Writer> (*create)() = nullptr;  // the writer of the format
  int writer_mode = 0;  // WriterSetup::mode (DIAdem: 0 ASCII, 1 INT32, 2 REAL64)
  // Output types the format is written for, bits 1 << OutputType. Another type is refused
  // with refused_type_text when there is one, else replaced by the first type that is written.
  unsigned output_types = 0;
  const char* refused_type_text = nullptr;
  // Option rules: values the format fixes (empty or nullptr: the user's choice stays).
  std::optional<ColumnSeparator> column_separator = std::nullopt;
  std::optional<DecimalSeparator> decimal_separator = std::nullopt;
  bool no_headlines = false;
  std::optional<TimeColumnKind> time_column1 = std::nullopt;
  std::optional<TimeColumnKind> time_column2 = std::nullopt;
  const char* invalid_value = nullptr;
  const char* write_interval = nullptr;
  // Every layout field is fixed: the front end disables them with the output type.
  bool fixed_layout = false;
  // The invalid value must be a number (starting with a digit or '-'); this status line text
  // is shown otherwise. nullptr: any text.
  const char* numeric_invalid_value_note = nullptr;
  // The option check asks for a write interval of at least 0.1 ms whatever the output type.
  bool needs_interval = false;
  // Rows are never written closer than this (seconds; 0: as close as the interval says).
  double minimum_interval = 0;
  // The column and the decimal separator may be the same character.
  bool separators_may_match = false;
  // Rows are text lines of the channel values alone (Text, CSV, Vector ASCII).
  bool text_layout = false;
};
extern const std::span<const OutputFormatInfo> kOutputFormats;

inline constexpr unsigned OutputTypeBit(OutputType type) {
  return 1u << static_cast<unsigned>(type);
}

// Information on a format code; nullptr for an unknown code (10 and anything above 12).
const OutputFormatInfo* FindOutputFormat(int code);
// The format of a tessmar-cli --format value; nullptr for an unknown name.
const OutputFormatInfo* FindOutputFormatByCliName(std::string_view name);
// List index of a format code, -1 for an unknown code.
int OutputFormatListIndex(int code);
// True for the codes 3, 4 and 6.
bool IsDiademFormat(int code);

// ---- What a writer receives ------------------------------------------------------------------

// One output column, in column order.
struct WriterColumn {
  ColumnGroup group = ColumnGroup::kSignal;
  int index_in_group = 0;  // signal slot, expression number or GPS column number
  bool used = false;       // unused signal slots still occupy a column but never get values
  std::string name;        // column name as shown in headlines ("Column%d"-style when unnamed)
  std::string unit;        // signal unit, "calculated" for expressions, GPS column unit
  // Range of the signal definition, widened by the pre-scan where the graph preview asks for
  // it; minimum -9.999999999e18 = unset.
  double minimum = 0;
  double maximum = 0;
};

// Formats the value of one GPS column (number within the GPS group) into out, returns the
// length written (at most capacity - 1, NUL terminated). Provided by the GPS output.
using GpsCellFormatter = int (*)(const void* context, int gps_column, char* out, int capacity);

struct GpsOutputSettings;

// Everything a writer gets when it is created for a source. Pointers stay valid until Finish().
struct WriterSetup {
  std::filesystem::path output_path;  // the main output path (extension of the format)
  std::filesystem::path source_path;
  OutputType output_type = OutputType::kSignals;
  int format_code = kFormatText;
  int mode = 0;            // DIAdem: 0 ASCII, 1 INT32, 2 REAL64; otherwise 0
  bool appending = false;  // this source is appended to an output created for an earlier one

  const T_CanLog_Config* logged_config = nullptr;  // from the recording's header
  const T_CanLog_SigTab* signal_table = nullptr;   // the logged one or the user's
  double start_date = 0;             // [LogFileInfo] StartDate, seconds since 1970 (no time zone)
  std::int64_t start_timestamp = 0;  // [LogFileInfo] StartTimestamp, ticks
  double timer_frequency = 39065.5;

  // Column layout (first column and count of the signal, expression and GPS groups).
  ColumnLayout layout;
  std::vector<WriterColumn> columns;  // one per column, in column order (layout.total)

  const ChannelValue* channels = nullptr;  // the live channel value records (layout.total)
  GpsCellFormatter gps_formatter = nullptr;
  const void* gps_formatter_context = nullptr;
  // The GPS output settings of the run when the output has GPS columns, else nullptr. The n-th
  // GPS group column shows the n-th defined column of the settings (title, unit, source).
  const GpsOutputSettings* gps_settings = nullptr;

  TimeColumnKind time_column1 = TimeColumnKind::kOff;
  TimeColumnKind time_column2 = TimeColumnKind::kOff;
  double write_interval = 0.01;  // seconds, at least 0.0001 for Signals and the MDF formats
  std::string invalid_value = "-99999999";
  char column_separator = ' ';
  char decimal_separator = '.';
  int headlines = 1;                 // 0..3
  bool scaled_values = true;         // false: raw values
  double conversion_start_time = 0;  // absolute time of the oldest entry of the first source
  // The recording's particulars for the head of the Logfile Dump (nullptr for other outputs).
  const DumpHead* dump_head = nullptr;
};

// One row. Times are seconds since tick 0 of the running clock; absolute = time + time_base.
struct WriterRow {
  double time = 0;
  double time_base = 0;
  // Seconds since the start of the output (the first entry of the conversion, see
  // SetConversionStart), for the relative time columns. It runs on across combined sources and
  // never decreases within one output: it is the row's absolute time minus the start, except
  // where the absolute time steps back (sources combined out of order, a logger restart before
  // its next time entry); from such a step on it carries on from the last row (one write
  // interval later for Signals rows) and follows the absolute time again.
  double elapsed = 0;
  bool pretrigger = false;  // a "pre" marker was read since the previous row
  // The entry that made this row (Messages and Logfile Dump), 16 bytes, else nullptr.
  const std::uint8_t* entry = nullptr;
  std::uint32_t entry_length = 0;  // 16, or the stated length of a BULK block
  std::uint32_t entry_file_pos = 0;
};

// Results of Writer::WriteRow().
inline constexpr int kRowFailed = 0;
inline constexpr int kRowWritten = 1;
inline constexpr int kRowSkipped = 2;

struct WriterFinish {
  std::int64_t row_count = 0;  // rows written for this source ("sample points written")
  bool more_follow = false;    // combining: another source will be appended
  // The user aborted or the pass failed: the output is incomplete. A writer closes it marked
  // as after a failed write (the record or sample count that tells readers the output is
  // complete stays unwritten, a header that would describe it is left out), so that it is never
  // taken for a complete recording; it may then return 0.
  bool aborted = false;
};

class Writer {
 public:
  virtual ~Writer() = default;

  // Creates (or, when setup.appending, continues) the output for one source. 0 = failure.
  [[nodiscard]] virtual int Create(const WriterSetup& setup) = 0;
  // Writes one row with the current channel values: kRowWritten, kRowSkipped or kRowFailed.
  [[nodiscard]] virtual int WriteRow(const WriterRow& row) = 0;
  // Completes the output of one source (closes files unless more_follow). Must do nothing and
  // succeed when nothing is open. 0 = failure (e.g. a write error found when flushing).
  [[nodiscard]] virtual int Finish(const WriterFinish& finish) = 0;

  // The absolute time of the first entry the conversion read, once it is known (after Create
  // of the source that starts the output). Outputs whose times count from the start of the
  // conversion take it instead of WriterSetup::conversion_start_time.
  virtual void SetConversionStart(double /*absolute_time*/) {}

  // Whether the rows of this output type read the signal values of the CAN frames. A writer whose
  // rows are the frames alone says no, and the driver leaves the signals of the frames undecoded.
  virtual bool ReadsChannelValues(OutputType /*type*/) const { return true; }

  // Outputs made of entries rather than rows (the Logfile Dump): writes the line(s) of one entry
  // as read; absolute_time is the running clock's absolute time after it. Returns the number of
  // counted lines, or -1 when writing failed. Row outputs write nothing here.
  virtual int WriteEntry(const LogEntry& /*entry*/, double /*absolute_time*/) { return 0; }

  // The path shown to the user as "Output: ..." (DIAdem shows its data file).
  virtual std::filesystem::path ShownOutputPath(const std::filesystem::path& output_path) const {
    return output_path;
  }

  // The files Create() makes for an output path, replacing those that exist: the output path
  // itself unless the format names its files otherwise (companion and data files).
  virtual std::vector<std::filesystem::path> OutputFiles(
      const std::filesystem::path& output_path) const {
    return {output_path};
  }

  // The error message of a failed Create(), worded by the format. It names the file that could
  // not be made: the output path unless the writer named another one.
  virtual std::string CreateFailureMessage(const std::filesystem::path& output_path) const;
  // The error message of a failed WriteRow(), WriteEntry() or Finish(): the output is incomplete.
  // It names the file that failed: the output path unless the writer named another one.
  std::string WriteFailureMessage(const std::filesystem::path& output_path) const;

  // Reason of the last failure, empty when none is known.
  const std::string& error_text() const { return error_text_; }
  // True when the last Create failed while setting the writer up, before any file was created
  // (the driver words that failure differently).
  bool failed_in_initialise() const { return failed_in_initialise_; }

 protected:
  void SetError(std::string text) { error_text_ = std::move(text); }
  void ClearError() {
    error_text_.clear();
    failed_file_.clear();
  }
  // The file a failed write was about, when it is not the output path (a data file beside it).
  void SetFailedFile(std::filesystem::path path) { failed_file_ = std::move(path); }
  // The file named by SetFailedFile, or the output path when none was.
  const std::filesystem::path& FailedFileOr(const std::filesystem::path& output_path) const {
    return failed_file_.empty() ? output_path : failed_file_;
  }
  void SetFailedInInitialise(bool failed) { failed_in_initialise_ = failed; }

 private:
  std::string error_text_;
  std::filesystem::path failed_file_;
  bool failed_in_initialise_ = false;
};

// Creates the writer of a format code for an output type: the built-in text writers for 0, 1, 2,
// 11 and 5, the writers of writers/ for 3, 4, 6, 7, 8, 9, 12, and the dump for Logfile Dump
// (whatever the format code). nullptr when the format is not available; the reason is put into *why
// when given.
std::unique_ptr<Writer> CreateWriter(OutputType type, int format_code, std::string* why = nullptr);

}  // namespace tessmar
