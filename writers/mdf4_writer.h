#pragma once
// ASAM MDF 4.10 output (".mf4"): one binary file, little-endian, every block at an 8-byte aligned
// position and reachable by links from the ID block.
//
// Head of the file: ID at 0, HD at 64 (start time of the first record in nanoseconds since 1970),
// FH with its MD comment naming Tessmar and its version, one DG with one CG and its channels
// (names and units in TX blocks). The records follow in DT blocks of at most data_block_bytes
// each. From the second DT on the blocks are listed by DL blocks written as the blocks start: the
// first lists the first two DTs, each later one the next DT, chained by their next links.
//
// Signals: a master channel "Time" (float64 seconds from the first record, sync type time), then
// one channel per planned column (the column plan and kinds of the MDF formats: float32, float64,
// or the 7-byte GPS time/date array), with the value range of the column when it has one. Behind
// the data bytes each record has invalid bytes: the bit of a column that has no value yet is set.
//
// Messages: CAN bus logging, a channel group "CAN_DataFrame" (bus event, plain bus event, path
// separator '.', source information of bus type CAN) with the master "Timestamp" and the
// structure channel "CAN_DataFrame" composed of .BusChannel, .ID, .IDE, .DLC, .DataLength,
// .DataBytes (8 bytes) and .Dir (0 "Rx"). Rows that are no CAN frame are skipped.
//
// Record layout of a CAN frame (24 bytes): Timestamp float64 at 0, BusChannel uint8 at 8, ID in the
// low 29 bits and IDE in bit 31 of the uint32 at 9, DLC in the low 4 bits of byte 13, DataLength
// uint8 at 14, Dir in bit 0 of byte 15, DataBytes at 16.
//
// While the file is written it is marked unfinished (file identifier "UnFinMF ", the unfinished
// flags set, the CG cycle count 0); Finish() writes the record count and the length of the last
// DT and only then marks the file finished, so a failed or aborted write never looks complete.
// Everything else stays readable while the file grows: a full DT has its length, every DT is
// listed, the HD start time is that of the first record, and the DT being filled is the last
// block of the file and states only its header as length. A reader that repairs unfinished files
// (length of the last DT and the record count taken from the file size) gets every record written
// before an abort.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/buffered_file.h"
#include "writers/mdf_common.h"
#include "writers/writer.h"

namespace tessmar {

inline constexpr std::uint64_t kMdf4DataBlockBytes = 4u << 20;
inline constexpr std::uint32_t kMdf4CanRecordBytes = 24;

class Mdf4Writer : public MdfWriterBase {
 public:
  // data_block_bytes: the largest data section of one DT block (at least one record is put into
  // each block whatever the size).
  explicit Mdf4Writer(std::uint64_t data_block_bytes = kMdf4DataBlockBytes)
      : data_block_bytes_(data_block_bytes) {}

  int Create(const WriterSetup& setup) override;
  int WriteRow(const WriterRow& row) override;
  int Finish(const WriterFinish& finish) override;
  // Messages records hold the frame itself, no signal values.
  bool ReadsChannelValues(OutputType type) const override { return type != OutputType::kMessages; }
  std::vector<std::filesystem::path> OutputFiles(
      const std::filesystem::path& output_path) const override;

  std::uint64_t record_count() const { return record_count_; }
  std::size_t data_block_count() const { return data_blocks_.size(); }

 private:
  [[nodiscard]] bool CreateFile(const WriterSetup& setup);
  std::vector<std::uint8_t> BuildHeader();
  [[nodiscard]] bool WriteRecord(double t, double absolute);
  [[nodiscard]] bool StartDataBlock();
  // Writes bytes back at an earlier position of the file and returns to its end. On failure the
  // output is failed with a reason that names the field.
  [[nodiscard]] bool Patch(std::uint64_t at, std::span<const std::uint8_t> bytes,
                           const char* field);
  // Fails the output with the file's write error; returns false.
  bool FailWrite();
  [[nodiscard]] bool Close(bool complete);
  void Fail(const std::string& text);

  std::uint64_t data_block_bytes_;
  std::uint64_t block_capacity_ = 0;  // data bytes of a full DT block (whole records)
  OutputType type_ = OutputType::kSignals;
  MdfDefinitions definitions_;
  MdfColumnPlan plan_;
  std::vector<int> value_columns_;  // columns with a channel, in record order
  std::vector<int> value_kinds_;    // their planned kinds
  // Their channel value records (nullptr: none) in channels_ of total_columns_ as they were
  // when the list was made.
  std::vector<const ChannelValue*> value_sources_;
  const ChannelValue* sources_of_ = nullptr;
  int sources_total_ = 0;
  std::filesystem::path file_name_;
  BufferedFile file_;
  std::uint32_t data_bytes_ = 0;   // record bytes before the invalid bytes
  std::uint32_t inval_bytes_ = 0;  // invalid bytes at the end of a record
  std::uint64_t cg_position_ = 0;
  std::uint64_t dg_position_ = 0;
  std::vector<std::uint64_t> data_blocks_;  // file positions of the DT blocks
  std::uint64_t last_list_ = 0;             // file position of the last DL block, 0 for none
  std::uint64_t block_fill_ = 0;            // data bytes in the last DT block
  std::uint64_t record_count_ = 0;
  double first_row_time_ = -1.0;
  double start_date_ = 0;
  bool write_failed_ = false;
  std::string error_text_;
};

}  // namespace tessmar
