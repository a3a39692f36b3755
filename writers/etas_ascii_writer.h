#pragma once
// ETAS ASCII item file output (".ascii"): a tab-separated text file read by INCA, MDA and ASCET.
//
//   ETASAsciiItemFile<TAB>record<TAB>CrLf<TAB>Tab<TAB>
//   sampleCount<TAB><count, then blanks to 15 characters>
//   time<TAB><name><TAB>...
//   f8<TAB><f4 or f8><TAB>...
//   <time %1.4lf><TAB><value or the invalid-value text><TAB>...
//
// Every line ends in CR LF. After the time come the logged signals ('F', 'S', 'U', 'D'; at most
// 160), then the used expressions and the GPS columns of the main output (the GPS columns first
// when they go before the other data columns). Doubles ("f8") are written with 15 significant
// digits, floats ("f4") with 6, or with more where those would not give the value back (at the
// signal's resolution, its factor; expressions and GPS values as themselves). A column is "f8"
// when a float cannot hold its values: doubles, 64-bit signals, integer signals whose raw values
// go beyond 2^24 or whose scaled values reach 2^23 steps of the factor. The sample count is
// written over the blanks when the file is finished; a file that was not finished (or whose rows
// could not all be written) keeps the blanks.

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

inline constexpr int kEtasMaxSignalColumns = 160;
inline constexpr int kEtasMaxValueColumns =
    kEtasMaxSignalColumns + MAX_LOGGED_EXPRESSIONS + kMaxGpsColumns;

struct T_EtasAsciiWriter {
  T_CanLog_SigTab signals;
  std::filesystem::path file_name;
  double write_interval = 0;
  // Per value column in file order: its group, its number within the group (signal slot,
  // expression number, GPS group column), its type and name.
  std::array<ColumnGroup, kEtasMaxValueColumns> group{};
  std::array<std::int16_t, kEtasMaxValueColumns> index{};
  std::array<bool, kEtasMaxValueColumns> is_double{};      // "f8" instead of "f4"
  std::array<bool, kEtasMaxValueColumns> text_reported{};  // a text value was warned about
  std::vector<std::string> names;
  int signal_columns = 0;
  int value_columns = 0;  // signal, expression and GPS columns
  int total_columns = 0;  // value columns + 1 for the time
  std::string invalid_text;
  double first_row_time = -1.0;
  std::int64_t row_count = 0;
  std::int64_t sample_count_position = 0;
  BufferedFile file;
  bool write_failed = false;
  std::string error_text;
};

class EtasAsciiWriter : public Writer {
 public:
  int Create(const WriterSetup& setup) override;
  int WriteRow(const WriterRow& row) override;
  int Finish(const WriterFinish& finish) override;
  std::vector<std::filesystem::path> OutputFiles(
      const std::filesystem::path& output_path) const override;
  std::string CreateFailureMessage(const std::filesystem::path& output_path) const override;

  bool Initialise(const WriterSetup& setup);
  bool CreateFile();
  bool WriteLine(double t);
  bool Close();

  const T_EtasAsciiWriter& state() const { return state_; }

 private:
  void Fail(const std::string& text);
  // The channel value record of a value column in the current layout, nullptr when none.
  const ChannelValue* ChannelOf(int value_column) const;
  // A new number of value column k (of CellKind kind and these bits), written at p and kept.
  [[gnu::noinline]] char* NumberCell(char* p, std::size_t k, const ChannelValue& value,
                                     std::uint8_t kind, std::uint64_t bits);
  // How a value column's number is written (its type's digits, or a float's own digits): the
  // cell text repeats while this and the number stay the same.
  std::uint8_t CellKind(std::size_t column, const ChannelValue& value) const {
    if (!state_.is_double[column]) return 1;
    return value.value_type == kChannelTypeFloat32 ? 2 : 3;
  }

  T_EtasAsciiWriter state_;
  const ChannelValue* channels_ = nullptr;
  ColumnLayout layout_;
  std::vector<char> line_;  // the row being assembled
  // The channel value record of each value column (ChannelOf), found at the first row after
  // the channels or the layout were set.
  std::vector<const ChannelValue*> column_channels_;
  // The last number text of each value column: repeated values are copied, not formatted.
  std::vector<numfmt::LastText> last_texts_;
  // How exact each value column's numbers must be (digits by its type, "f4" or "f8").
  std::vector<numfmt::ExactRule> rules_;
};

}  // namespace tessmar
