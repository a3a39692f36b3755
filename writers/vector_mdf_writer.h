#pragma once
// Vector MDF output (version "2.12"): one binary ".dat" file with the blocks ID, HD, TX, DG, CG,
// one CN and CC block per channel (a master time channel first), then fixed-length records.
//
// Layout for N channels: ID at 0 (64 bytes), HD at 64 (164), TX at 228 (1028), DG at 1256 (28),
// CG at 1284 (26), CN of channel i at 1310 + 284 * i (222) followed by its CC (62), records at
// 1310 + 284 * N. The CG's record count is 0 on disk until the file is finished, so a file that
// was not finished announces no records. The HD's start date and time is that of the first record
// (whole seconds), written when the file is finished.
//
// Record kinds: 2 = 4-byte float (signals up to 23 bits, expressions, most GPS columns), 3 =
// 8-byte double (time, signals above 23 bits, GPS latitude/longitude), 5 = 7-byte field for GPS
// columns with source "gps.time"/"gps.date", declared as a byte array and filled with the GPS time
// in the CANopen date layout (milliseconds of the minute as uint16, minute, hour, day, month,
// year - 2000), or zeros when the time is not valid. Columns 160 and above get no channel.

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/buffered_file.h"
#include "config/canlog_config.h"
#include "writers/gps_settings.h"
#include "writers/mdf_common.h"
#include "writers/writer.h"

namespace tessmar {

inline constexpr std::uint32_t kVectorMdfIdSize = 64;
inline constexpr std::uint32_t kVectorMdfHdSize = 164;
inline constexpr std::uint32_t kVectorMdfTxSize = 1028;
inline constexpr std::uint32_t kVectorMdfDgSize = 28;
inline constexpr std::uint32_t kVectorMdfCgSize = 26;
inline constexpr std::uint32_t kVectorMdfCnSize = 222;
inline constexpr std::uint32_t kVectorMdfCcSize = 62;
inline constexpr std::uint32_t kVectorMdfCgPosition = 1284;
inline constexpr std::uint32_t kVectorMdfFirstCnPosition = 1310;

// Bytes a value of the channel kind takes in a record (also the MDF 4 record layout).
int VectorMdfKindSize(int kind);

struct T_VectorMdfWriter {
  MdfDefinitions definitions;  // signals, expressions, GPS columns by GPS group column
  std::filesystem::path file_name;
  double start_date = 0;
  double write_interval = 0;
  MdfColumnPlan plan;
  int time_channels = 1;
  int channel_count = 0;
  int record_size = 0;
  std::uint32_t record_count = 0;
  double first_row_time = -1.0;
  double invalid_value = 0;
  BufferedFile file;
  std::int64_t data_size = 0;
  bool write_failed = false;
  std::string error_text;
};

// The header bytes (ID to the last CC) for the state's channels, with the given record count.
std::vector<std::uint8_t> BuildVectorMdfHeader(const T_VectorMdfWriter& state);
// The HD block with the state's start date and time.
BlockBuffer BuildVectorMdfHd(const T_VectorMdfWriter& state);
// The CG block with the given record count.
std::vector<std::uint8_t> BuildVectorMdfCg(const T_VectorMdfWriter& state);

class VectorMdfWriter : public MdfWriterBase {
 public:
  int Create(const WriterSetup& setup) override;
  int WriteRow(const WriterRow& row) override;
  int Finish(const WriterFinish& finish) override;
  std::vector<std::filesystem::path> OutputFiles(
      const std::filesystem::path& output_path) const override;

  // Initialise: copies the definitions and assigns the channel kinds. False when a count had to
  // be limited to its group (the writer can still be used).
  bool Initialise(const WriterSetup& setup);
  // Builds the blocks, creates the file and writes the header.
  bool CreateFile();
  // Writes one record at relative time t (WriterRow::elapsed) and absolute time `absolute`
  // (seconds since 1970, the HD start when it is the first record); false when the file is not
  // open or the write failed.
  bool WriteRecord(double t, double absolute);
  // Rewrites the HD with the start of the first record and the CG with the final record count,
  // and closes the file.
  bool Close();

  const T_VectorMdfWriter& state() const { return state_; }

 private:
  void Fail(const std::string& text);

  T_VectorMdfWriter state_;
};

}  // namespace tessmar
