#pragma once
// ETAS ASCII item file output (".ascii"): a tab-separated text file read by INCA, MDA and ASCET.
//
//   ETASAsciiItemFile<TAB>record<TAB>CrLf<TAB>Tab<TAB>
//   sampleCount<TAB><count, then blanks to 15 characters>
//   time<TAB><name><TAB>...
//   f8<TAB><f4 or f8><TAB>...
//   <time %1.4lf><TAB><value %lg or the invalid-value text><TAB>...
//
// Every line ends in CR LF. Only the time and the logged signals ('F', 'S', 'U') are columns. The
// sample count is written over the blanks when the file is finished; a file that was not
// finished (or whose rows could not all be written) keeps the blanks.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/buffered_file.h"
#include "config/canlog_config.h"
#include "convert/writer.h"

namespace tessmar {

inline constexpr int kEtasMaxSignalColumns = 160;

struct T_EtasAsciiWriter {
  T_CanLog_SigTab signals;
  std::filesystem::path file_name;
  double write_interval = 0;
  std::array<std::int16_t, kEtasMaxSignalColumns> signal_slot{};  // signal slot of each column
  std::array<bool, kEtasMaxSignalColumns> is_double{};            // "f8" instead of "f4"
  int signal_columns = 0;
  int total_columns = 0;  // signal columns + 1 for the time
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

  bool Initialise(const WriterSetup& setup);
  bool CreateFile();
  bool WriteLine(double t);
  bool Close();

  const T_EtasAsciiWriter& state() const { return state_; }

 private:
  void Fail(const std::string& text);

  T_EtasAsciiWriter state_;
  const ChannelValue* channels_ = nullptr;
  ColumnLayout layout_;
  std::string line_;
};

}  // namespace tessmar
