#pragma once
// The built-in text outputs: Messages and Signals as Text or CSV (formats 0, 1, 2, 11) and
// Messages as Vector ASCII (format 5). Every line ends in CR LF. Rows are assembled in a line
// buffer with the hand-written formatters of number_format.h and written with one call each.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/buffered_file.h"
#include "writers/number_format.h"
#include "writers/writer.h"

namespace tessmar {

// Shared by the text writers: the output file, opened at Create (unless appending) and closed by
// Finish (unless more sources follow).
class TextFileWriter : public Writer {
 public:
  int Finish(const WriterFinish& finish) override;
  // Only Signals rows show signal values; Messages rows and the dump show the frames.
  bool ReadsChannelValues(OutputType type) const override { return type == OutputType::kSignals; }

 protected:
  // Opens the output when not appending; fails with the system's error text.
  bool OpenOutput(const WriterSetup& setup);
  // Rows are assembled in place in a staging buffer that goes to the file in large pieces:
  // Reserve() gives room for at most max_len bytes, Commit() takes what was written up to end.
  // A failed write is remembered; Commit() and Write() return false from then on.
  char* Reserve(std::size_t max_len);
  bool Commit(const char* end);
  // Writes [begin, end) through the staging buffer.
  bool Write(const char* begin, const char* end);
  bool file_is_empty() const { return bytes_written_ == 0; }

  BufferedFile file_;
  std::filesystem::path path_;
  int64_t bytes_written_ = 0;

 private:
  bool FlushStage();

  std::vector<char> stage_;
  std::size_t staged_ = 0;
  bool write_failed_ = false;
};

// Messages and Signals as Text / CSV.
class TextCsvWriter final : public TextFileWriter {
 public:
  int Create(const WriterSetup& setup) override;
  int WriteRow(const WriterRow& row) override;

 private:
  char* BeginRow() { return row_start_ = Reserve(row_capacity_); }
  char* TimeCells(char* p, const WriterRow& row);
  char* Cell(char* p, const char* text, std::size_t len, bool quote);
  bool WriteHeadlines();
  int WriteMessageRow(const WriterRow& row);
  int WriteSignalRow(const WriterRow& row);
  // The number cells of one row, and the one cell of a column in full.
  template <bool kScaled>
  char* SignalCells(char* p, int count);
  [[gnu::noinline]] char* SignalValue(char* p, int column);
  // A number cell: the kept text (`last`, the column's) when it shows this number, else
  // NumberCell().
  template <bool kScaled>
  [[gnu::always_inline]] char* KeptOrNewCell(char* p, int column, const ChannelValue& v,
                                             const numfmt::LastText& last);
  // A number cell formatted anew and kept for the rows that repeat it.
  [[gnu::noinline]] char* NumberCell(char* p, int column, std::uint8_t kind, std::uint64_t key);
  char* EndLine(char* p);

  WriterSetup setup_;
  bool quote_ = false;  // decimal separator equals the column separator
  bool messages_ = false;
  TimeColumnKind kinds_[2] = {TimeColumnKind::kOff, TimeColumnKind::kOff};
  double t0_[2] = {0, 0};
  bool have_t0_[2] = {false, false};
  // Messages time columns in seconds ("%011.4lf").
  numfmt::RowSeconds padded_seconds_[2] = {{6, '0'}, {6, '0'}};
  std::size_t row_capacity_ = 0;  // longest row this setup can produce
  char* row_start_ = nullptr;
  std::vector<std::uint8_t> is_gps_;                  // per column
  std::array<std::array<char, 4>, 256> hex_cells_{};  // a data byte's cell, separator included
  // The last number cell of each column, quotes and separator included.
  std::vector<numfmt::LastText> last_cells_;
  // How exact each column's numbers must be: scaled with 7 and with 11 digits, raw with 11.
  struct CellRules {
    numfmt::ExactRule scaled7, scaled11, raw11;
  };
  std::vector<CellRules> rules_;
  std::string invalid_cell_;  // the invalid-value text as a cell, separator included
};

// Messages as Vector ASCII ("Vector-ASCII-comp.1").
class VectorAsciiWriter final : public TextFileWriter {
 public:
  int Create(const WriterSetup& setup) override;
  int WriteRow(const WriterRow& row) override;
  int Finish(const WriterFinish& finish) override;
  void SetConversionStart(double absolute_time) override;

 private:
  // The date line and the rest of the head; written before the first row (or at the end when
  // there is none) so that it can show the start time of the conversion.
  bool WriteHead();

  double start_time_ = 0;  // absolute time of the first entry of the conversion (rows count
                           // from it: WriterRow::elapsed)
  bool head_pending_ = false;
  numfmt::RowSeconds seconds_text_{4, ' '};  // the time column, "%9.4lf"
};

// Formats one Vector ASCII frame line (without CR LF) into out; returns its length. out must hold
// at least 96 bytes. seconds = time since the start of the conversion; seconds_text ({4, ' '})
// keeps the text of the whole seconds from line to line.
std::size_t FormatVectorAsciiLine(char* out, double seconds, std::uint32_t id_word, int data_length,
                                  const std::uint8_t* data, numfmt::RowSeconds& seconds_text);

// The first header line of a Vector ASCII file for a start date (seconds since 1970), e.g.
// "date Don Okt 19 12:34:56 2017" (German weekday and month names).
std::string VectorAsciiDateLine(double start_date);

}  // namespace tessmar
