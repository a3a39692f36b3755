#pragma once
// DIAdem output: a text header file (".dat") describing the recording and every channel, and one
// block data file holding all channels row by row, as comma-separated text ("asc"), 32-bit
// integers ("i32") or 64-bit doubles ("r64").
//
// Channels are numbered from 1: time channel 1 and 2 (when not off), every present signal slot,
// every present expression slot. Implicit time channels are described in the header only; a
// channel's place in a data row is its number minus the implicit time channels before it.
//
// Time channel values in INT32 mode: "Seconds" in steps of 0.01 s (factor 0.01), "Milliseconds"
// in steps of 0.1 ms with the unit "ms" (factor 0.1, so value * 0.1 is milliseconds), the date
// kinds in steps of 0.1 s from the start date (factor 0.1, offset start date + 62167132800).
// In REAL64 mode the date kinds hold seconds from the start date; their offset (start date +
// 62167132800) makes DIAdem show the recording's dates rather than dates in year 0.
// A data file whose rows could not all be written gets no header file.
//
// An implicit time channel states one fixed interval from the first row on. Where the rows do
// not keep it (the row grid starts again after a gap in the recording's timestamps), the times
// DIAdem computes are wrong from there on; finishing the header then warns with the number of
// such places and names the explicit time channel that holds each row's true time.
//
// INT32 holds whole numbers from -2147483647 to 2147483647 (2147483646 means "no value"): a raw
// value beyond them is clipped and a fraction is cut off. When the output is finished, a warning
// per column says how many of its values were not written exactly.
//
// GPS columns are not supported: initialisation refuses with "Export of GPS data not supported".
// When sources are combined into one output, the data file stays open across them and the header
// (written when the last source is finished) counts every row. The header's start date and time
// is that of the first row (whole seconds); the date channels count from it.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/buffered_file.h"
#include "config/canlog_config.h"
#include "writers/number_format.h"
#include "writers/writer.h"

namespace tessmar {

inline constexpr int kDiademAscii = 0;
inline constexpr int kDiademInt32 = 1;
inline constexpr int kDiademReal64 = 2;

inline constexpr std::int32_t kDiademInt32NoValue = 2147483646;
inline constexpr double kDiademReal64NoValue = 9.9e34;
// Seconds from the start of year 0 to 1970-01-01 in DIAdem's date reckoning.
inline constexpr double kDiademDateOffset = 62167132800.0;

struct T_DiademWriter {
  T_CanLog_SigTab signals;
  std::array<T_CanLog_ExprDef, MAX_LOGGED_EXPRESSIONS> expressions{};
  int gps_columns = 0;  // GPS columns present in the layout
  double start_date = 0;
  double row_interval = 0;
  int channel_count = 0;  // values in one data row
  std::string error_text;
  int mode = kDiademAscii;
  std::array<int, 2> time_kinds{};
  std::array<double, 2> first_time_values{-1.0, -1.0};
  std::string invalid_text;
  std::string data_extension;
};

// The header file text for a row count; header_path gives the name on the 211 lines.
std::string BuildDiademHeader(const T_DiademWriter& state, const std::filesystem::path& header_path,
                              std::int64_t row_count);

class DiademWriter : public Writer {
 public:
  explicit DiademWriter(int mode) : mode_(mode) {}

  int Create(const WriterSetup& setup) override;
  int WriteRow(const WriterRow& row) override;
  int Finish(const WriterFinish& finish) override;
  std::filesystem::path ShownOutputPath(const std::filesystem::path& output_path) const override;
  std::vector<std::filesystem::path> OutputFiles(
      const std::filesystem::path& output_path) const override;
  std::string CreateFailureMessage(const std::filesystem::path& output_path) const override;

  // Fills the state and counts the channels; false (with the error text) when GPS columns are
  // present.
  bool Initialise(const WriterSetup& setup);
  // Writes one data row: `elapsed` for the relative time channels (WriterRow::elapsed),
  // `absolute` (seconds since 1970) for the date channels; false on a write failure.
  bool WriteDataRow(double elapsed, double absolute);

  const T_DiademWriter& state() const { return state_; }
  static std::filesystem::path DataPath(const std::filesystem::path& output_path, int mode);
  // The header path; empty when the output path has no dot (no header is written then).
  static std::filesystem::path HeaderPath(const std::filesystem::path& output_path);

 private:
  void Fail(const std::string& text);
  bool FinishFiles();
  // INT32: the warnings of the columns whose values were not all written exactly.
  void ReportInexactValues() const;
  std::string ColumnTitle(int column) const;
  // An ASCII field for a new number of row column k, formatted at q and kept; returns its end.
  [[gnu::noinline]] char* AsciiNumber(char* q, std::size_t k, const ChannelValue& value);

  int mode_;
  T_DiademWriter state_;
  BufferedFile data_;
  std::filesystem::path output_path_;
  const ChannelValue* channels_ = nullptr;
  ColumnLayout layout_;
  std::vector<std::int16_t> row_columns_;  // the columns that go into a row, in column order
  // The channel value record of each of row_columns_ (nullptr: none), found at the first row
  // after the channels or the layout were set.
  std::vector<const ChannelValue*> row_channels_;
  // The last number text of each of the row's columns (ASCII mode): repeated values are copied.
  std::vector<numfmt::LastText> last_texts_;
  // How exact each of the row's columns must be written (ASCII mode): six digits, or more where
  // those would not give the value back (a signal at its factor, an expression as itself).
  std::vector<numfmt::ExactRule> rules_;
  std::vector<std::uint8_t> row_;
  std::vector<char> text_row_;  // an ASCII row being assembled
  std::int64_t rows_written_ = 0;
  bool write_failed_ = false;
  std::string create_reason_;  // the system's reason when the data file could not be created
  // Implicit time: the relative time of the previous row, and the places where a row did not
  // follow it by the row interval.
  bool have_previous_row_ = false;
  double previous_elapsed_ = 0;
  std::int64_t interval_breaks_ = 0;
  // INT32, per column of a row: values written, and those written clipped or without fraction.
  std::vector<std::int64_t> values_written_;
  std::vector<std::int64_t> values_inexact_;
};

}  // namespace tessmar
