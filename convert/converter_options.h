#pragma once
// Converter options: what the user chose on the converter page (or on the command line), their
// check and normalisation before a conversion, output path rules and combine flags.

#include <filesystem>
#include <string>
#include <vector>

#include "writers/writer.h"

namespace tessmar {

// The characters and list texts of the choices (ColumnSeparator, DecimalSeparator and
// TimeColumnKind are in writers/writer.h).
char ColumnSeparatorChar(ColumnSeparator separator);           // ' ', '\t', ',', ';'
char DecimalSeparatorChar(DecimalSeparator separator);         // '.', ','
const char* ColumnSeparatorName(ColumnSeparator separator);    // "Space character", ...
const char* DecimalSeparatorName(DecimalSeparator separator);  // "period ( . )", "comma ( , )"
const char* TimeColumnName(TimeColumnKind kind);               // "no time channel (off)", ...

// The choices from the integers kept in a settings file or a list's index: an unknown value
// gives the first choice (Messages for the output type, blank, period, no time column).
OutputType OutputTypeFromIndex(int index);
ColumnSeparator ColumnSeparatorFromIndex(int index);
DecimalSeparator DecimalSeparatorFromIndex(int index);
TimeColumnKind TimeColumnKindFromIndex(int index);
template <typename Choice>
constexpr int ChoiceIndex(Choice choice) {
  return static_cast<int>(choice);
}

// The converter options as kept in the settings file, section "Converter".
struct ConverterOptions {
  OutputType output_type = OutputType::kSignals;
  int output_file_format = 0;  // format code (not the list index)
  int headlines = 1;           // 0..3
  ColumnSeparator column_separator = ColumnSeparator::kBlank;
  DecimalSeparator decimal_separator = DecimalSeparator::kPeriod;
  // A settings file without the key gives Seconds for the first.
  TimeColumnKind time_column1 = TimeColumnKind::kOff;
  TimeColumnKind time_column2 = TimeColumnKind::kOff;
  std::string write_interval = "0.010";  // seconds, as typed
  std::string invalid_signal = "-99999999";
  bool scaled_values = true;
  bool ignore_logged_sigdefs = false;
  bool combine_output = false;
  bool skip_until_all_valid = false;
  bool graph_preview = false;
  std::string conditional_breakpoint;  // "YYYY-MM-DD hh:mm:ss" or empty
  // Converting only part of a recording (empty: all of it). Channels: wildcard patterns ('*',
  // '?') separated by blanks, commas or semicolons, on column names (Signals) or on message
  // names and identifiers (Messages, Logfile Dump). StartTime, StopTime: seconds from the
  // recording's first entry, or "YYYY-MM-DD hh:mm:ss[.ss]".
  std::string channels;
  std::string start_time;
  std::string stop_time;
};

// Longest invalid-value text.
inline constexpr std::size_t kMaxInvalidSignalLength = 80;

// Which fields the check decided, for a front end that colours or disables controls.
struct OptionCheckResult {
  bool accepted = true;          // false: refuse to convert
  bool format_disabled = false;  // Logfile Dump greys out most fields
  bool separators_disabled = false;
  bool time_columns_disabled = false;
  bool invalid_value_disabled = false;
  bool write_interval_disabled = false;
  bool headlines_disabled = false;
  bool output_type_disabled = false;
  bool invalid_value_red = false;  // ETAS needs a numeric no-value text
  bool write_interval_red = false;
  bool output_type_red = false;  // Messages with DIAdem
  // Texts of the message boxes the desktop shows (empty when none); the check itself already
  // reported what belongs into the message list or status line.
  std::string box_text;
  std::string box_caption;
};

// The option check and normalisation, run on every change of a converter control and before
// every conversion. Changes the options the format fixes (separators, headlines, time columns,
// invalid value, write interval) and reports the texts that go to the status line.
OptionCheckResult CheckConverterOptions(ConverterOptions& options);

// Reading the options for a conversion: a write interval other than 0 below 0.0001 s becomes
// message_rate_limit × 0.001 s when the configuration has a limit (> 0), else 0.01 s, with the
// warning "Warning: Output write interval was illegal. Changed from %lg to %lg seconds.".
// Returns the interval in seconds.
double ReadWriteInterval(ConverterOptions& options, int message_rate_limit);
// The interval ReadWriteInterval uses for a given one (the same rule, without the warning).
double UsableWriteInterval(double interval, int message_rate_limit);

// Reads a decimal number in seconds ("0.010", "0,01" also accepted); 0 when unreadable or not
// finite ("inf", "nan").
double ParseSeconds(const std::string& text);

// Output path of a source: output_dir joined with the source's file name whose extension is
// replaced by the format's default extension (appended when the part after the last dot is
// longer than 4 characters or there is no dot). An empty output_dir keeps the source's folder.
std::filesystem::path MakeOutputPath(const std::filesystem::path& output_dir,
                                     const std::filesystem::path& source, int format_code);

// Replaces everything from the last dot of the file name by new_extension (which includes the
// dot); appends it when the name has no dot.
std::filesystem::path ReplaceExtension(const std::filesystem::path& path,
                                       const std::string& new_extension);

// Combine flags of one source when all sources go into one output.
inline constexpr int kCombineAppend = 1;      // this source appends to the open output
inline constexpr int kCombineMoreFollow = 2;  // another source follows
int CombineFlags(bool combine, int source_index, int source_count);

// Batch output names choose the format: ".txt" Text, ".csv" CSV international with Signals,
// ".dat" the selected DIAdem mode or Vector MDF (else DIAdem ASCII) with Signals, ".asc" Vector
// ASCII with Messages (".ascii" keeps a selected ETAS ASCII), ".mf4" ASAM MDF4 with the output type
// kept (Messages or Signals; another type becomes Signals). Returns false (options unchanged) for
// any other extension.
bool ApplyBatchOutputName(const std::filesystem::path& output_name, ConverterOptions& options);

}  // namespace tessmar
