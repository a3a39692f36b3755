#pragma once
// Stiegele MDF output: a binary header file (".mdf", beginning with "MDF_BINARY") describing the
// channels and the recorded sections, and a data file (".dta") with fixed-length records.
//
// Header file: file record (72 bytes), one channel record per channel (208 bytes), the data file
// record (152 bytes), then three records per finished section (A 56, B 180, C 44 bytes). A new
// section starts at a row that follows a pre-trigger mark when the current section holds more
// than one record; the last section is written when the output is finished. Calendar times are
// packed into 32 bits: second | minute << 6 | hour << 12 | day << 17 | month << 22 |
// ((year - 1980) mod 64) << 26.
//
// If a record or section cannot be written, the header file is removed when the output is
// finished, so that no incomplete recording is taken for a complete one.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/buffered_file.h"
#include "config/canlog_config.h"
#include "writers/gps_settings.h"
#include "writers/mdf_common.h"
#include "writers/writer.h"

namespace tessmar {

inline constexpr std::int32_t kStiegeleVersion = 0x20001;
inline constexpr std::int32_t kStiegeleRecordVersion = 0x10001;
inline constexpr int kStiegeleFileRecordSize = 72;
inline constexpr int kStiegeleChannelRecordSize = 208;
inline constexpr int kStiegeleDataFileRecordSize = 152;
inline constexpr int kStiegeleSectionASize = 56;
inline constexpr int kStiegeleSectionBSize = 180;
inline constexpr int kStiegeleSectionCSize = 44;

// Packed date and time of T seconds since 1970 (whole seconds, truncated).
std::uint32_t StiegelePackedTime(double t);

int StiegeleKindSize(int kind);

struct T_StiegeleMdfWriter {
  MdfDefinitions definitions;  // signals, expressions, GPS columns by GPS group column
  std::filesystem::path header_name;
  std::filesystem::path data_name;
  double start_date = 0;
  double write_interval = 0;
  std::array<int, 2> time_kinds{};
  MdfColumnPlan plan;
  int time_channels = 0;
  int channel_count = 0;
  int record_size = 0;
  double invalid_value = 0;
  BufferedFile header_file;
  BufferedFile data_file;
  double first_row_time = -1.0;  // relative time (WriterRow::elapsed) of the first record
  int section = 0;
  std::int64_t section_records = 0;
  std::int64_t section_data_start = 0;
  double section_start_time = -1.0;  // absolute time of the section's first record
  double section_start_elapsed = 0;  // and its relative time
  std::int64_t data_size = 0;
  bool write_failed = false;
  std::string error_text;
};

// The header bytes written at creation: file record, channel records, data file record.
std::vector<std::uint8_t> BuildStiegeleHeader(const T_StiegeleMdfWriter& state);
// The file record alone (the start date of the state); rewritten when the files are closed,
// once the first record has given the start.
BlockBuffer BuildStiegeleFileRecord(const T_StiegeleMdfWriter& state);
// Section records A, B and C of the current section.
std::vector<std::uint8_t> BuildStiegeleSection(const T_StiegeleMdfWriter& state);

class StiegeleMdfWriter : public MdfWriterBase {
 public:
  int Create(const WriterSetup& setup) override;
  int WriteRow(const WriterRow& row) override;
  int Finish(const WriterFinish& finish) override;
  std::vector<std::filesystem::path> OutputFiles(
      const std::filesystem::path& output_path) const override;

  bool Initialise(const WriterSetup& setup);
  bool CreateFiles();
  // One record at relative time `elapsed` (WriterRow::elapsed) and absolute time T (seconds
  // since 1970; the header's start date when it is the first record).
  bool WriteRecord(double elapsed, double T, bool pretrigger);
  bool Close();

  const T_StiegeleMdfWriter& state() const { return state_; }

 private:
  void Fail(const std::string& text);
  // A failed write or close of one of the two files: the system's reason, and that file is the
  // one the user's message names.
  void FailOn(const BufferedFile& file, const std::filesystem::path& path);
  void FinishSection();

  T_StiegeleMdfWriter state_;
};

}  // namespace tessmar
