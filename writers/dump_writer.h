#pragma once
// The Logfile Dump: a transcription of every entry of a recording, one line per entry (and one
// per value record of a BULK expression block), preceded by a head with the recording's
// particulars. Written for output type "Logfile Dump" with format Text.

#include <cstdint>
#include <filesystem>

#include "logfile/cld_reader.h"
#include "writers/text_writers.h"

namespace tessmar {

struct DumpHead {
  std::filesystem::path source_path;
  double timer_frequency = 39065.5;
  BinaryLogHeader binary_header;  // present = false without header
  int64_t binary_header_position = 0;
  const T_CanLog_Config* config = nullptr;  // expressions of the recording
  int expression_count = 0;                 // used expression columns
};

class LogfileDumpWriter final : public TextFileWriter {
 public:
  // Set before Create() for each source (or given as WriterSetup::dump_head).
  void SetHead(const DumpHead& head) { head_ = head; }

  // Writes the head (the first two lines only when not appending).
  int Create(const WriterSetup& setup) override;
  // Rows come through WriteEntry(); WriteRow() writes nothing.
  int WriteRow(const WriterRow&) override { return kRowSkipped; }

  // Writes the line(s) of one entry. absolute_time is the running clock's absolute time after
  // the entry (the time of BULK blocks and the "Sum=" of time entries). Returns the number of
  // counted lines (0 or 1), or -1 when writing failed.
  int WriteEntry(const LogEntry& entry, double absolute_time) override;

 private:
  DumpHead head_;
  double last_speed_kmh_ = 0;
  char line_[512];
};

}  // namespace tessmar
