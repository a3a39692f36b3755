#include "writers/stiegele_mdf_writer.h"

#include <cmath>
#include <cstdio>
#include <system_error>

#include "writers/block_buffer.h"
#include "writers/date_time_format.h"
#include "writers/number_text.h"
#include "writers/writer_common.h"

namespace tessmar {

namespace {

bool TimeChannelKind(int time_kind, int* kind) {
  switch (time_kind) {
    case 2:
    case 3:
      *kind = kMdfKindFloat;
      return true;
    case 4:
    case 5:
      *kind = kMdfKindTimeBytes;
      return true;
  }
  return false;
}

const char* TimeUnit(int time_kind) {
  switch (time_kind) {
    case 2:
      return "s";
    case 3:
      return "ms";
  }
  return "ymdhms";
}

int TypeCode(int kind) {
  switch (kind) {
    case kMdfKindFloat:
      return 9;
    case kMdfKindDouble:
      return 10;
    case kMdfKindTimeBytes:
      return 271;
  }
  return 0;
}

}  // namespace

std::uint32_t StiegelePackedTime(double t) {
  double whole = std::trunc(t);
  if (!std::isfinite(whole)) whole = 0;
  int year_shift = 0;
  if (whole > 2147483647.0 || whole < -2147483648.0) {
    whole = std::trunc(t - 3155760000.0);
    year_shift = 100;
    if (whole > 2147483647.0 || whole < -2147483648.0) whole = 0;
  }
  CivilTime c = ToCivil(whole);
  const int year = c.year + year_shift;
  const std::uint32_t years = static_cast<std::uint32_t>(((year - 1980) % 64 + 64) % 64);
  return static_cast<std::uint32_t>(c.second) | (static_cast<std::uint32_t>(c.minute) << 6) |
         (static_cast<std::uint32_t>(c.hour) << 12) | (static_cast<std::uint32_t>(c.day) << 17) |
         (static_cast<std::uint32_t>(c.month) << 22) | (years << 26);
}

int StiegeleKindSize(int kind) {
  switch (kind) {
    case kMdfKindFloat:
      return 4;
    case kMdfKindDouble:
      return 8;
    case kMdfKindTimeBytes:
      return 4;
  }
  return 0;
}

BlockBuffer BuildStiegeleFileRecord(const T_StiegeleMdfWriter& state) {
  BlockBuffer file(kStiegeleFileRecordSize);
  file.Text(0, 16, "MDF_BINARY\r\n");
  file.I32(16, kStiegeleVersion);
  file.I32(28, kStiegeleFileRecordSize);
  file.I32(36, 1);
  file.I32(40, state.record_size);
  file.I32(44, state.channel_count);
  CivilTime start = ToCivil(std::trunc(state.start_date));
  file.I32(48, start.day);
  file.I32(52, start.month);
  file.I32(56, start.year);
  file.I32(60, start.hour);
  file.I32(64, start.minute);
  file.I32(68, start.second);
  return file;
}

std::vector<std::uint8_t> BuildStiegeleHeader(const T_StiegeleMdfWriter& state) {
  std::vector<std::uint8_t> out;
  AppendBlock(out, BuildStiegeleFileRecord(state));

  int number = 0;
  int offset = 0;
  auto channel = [&](int kind, std::string_view name, std::string_view unit) {
    BlockBuffer c(kStiegeleChannelRecordSize);
    c.I32(0, 100);
    c.I32(4, kStiegeleChannelRecordSize);
    c.I32(8, kStiegeleVersion);
    c.I32(12, ++number);
    c.Text(16, 64, name);
    c.Text(80, 64, "");
    c.Text(144, 32, unit);
    c.I32(176, TypeCode(kind));
    c.I32(180, 0);
    c.F64(184, 1.0);
    c.F64(192, 0.0);
    c.I32(200, offset);
    c.I32(204, 1);
    AppendBlock(out, c);
    offset += StiegeleKindSize(kind);
  };

  int present_times = 0;
  for (int i = 0; i < 2; ++i) {
    int kind = 0;
    const int time_kind = state.time_kinds[static_cast<std::size_t>(i)];
    if (!TimeChannelKind(time_kind, &kind)) continue;
    channel(kind, present_times == 0 ? "Time" : "Time2", TimeUnit(time_kind));
    ++present_times;
  }
  for (int column = 0; column < kMdfMaxValueColumns; ++column) {
    const int kind = state.plan.kind[static_cast<std::size_t>(column)];
    if (kind == kMdfKindNone) continue;
    MdfChannelText text = MdfChannelTextOf(state.plan, column, state.definitions);
    channel(kind, text.name, text.unit);
  }

  BlockBuffer data(kStiegeleDataFileRecordSize);
  data.I32(0, 1);
  data.I32(4, kStiegeleDataFileRecordSize);
  data.I32(8, kStiegeleRecordVersion);
  data.Text(20, 128, state.data_name.filename().string());
  AppendBlock(out, data);
  return out;
}

std::vector<std::uint8_t> BuildStiegeleSection(const T_StiegeleMdfWriter& state) {
  const std::int32_t first =
      state.record_size > 0
          ? static_cast<std::int32_t>(state.section_data_start / state.record_size)
          : 0;
  const std::int32_t records = static_cast<std::int32_t>(state.section_records);
  const double start = state.section_start_time;
  const double end = start + static_cast<double>(state.section_records) * state.write_interval;
  const std::uint32_t packed_start = StiegelePackedTime(start);
  const std::uint32_t packed_end = StiegelePackedTime(end);
  char name[32];
  std::snprintf(name, sizeof name, "Section%d", state.section);

  std::vector<std::uint8_t> out;
  BlockBuffer a(kStiegeleSectionASize);
  a.I32(0, 2);
  a.I32(4, kStiegeleSectionASize);
  a.I32(8, kStiegeleRecordVersion);
  a.I32(16, state.section);
  a.I32(20, records);
  a.I32(24, first);
  a.U32(28, packed_start);
  a.U32(32, packed_end);
  a.F64(36, state.write_interval > 0 ? 1.0 / state.write_interval : 0.0);
  a.I32(44, first);
  AppendBlock(out, a);

  BlockBuffer b(kStiegeleSectionBSize);
  b.I32(0, 20);
  b.I32(4, kStiegeleSectionBSize);
  b.I32(8, kStiegeleRecordVersion);
  b.I32(12, state.section);
  b.Text(20, 32, name);
  b.Text(52, 128, name);
  AppendBlock(out, b);

  BlockBuffer c(kStiegeleSectionCSize);
  c.I32(0, 21);
  c.I32(4, kStiegeleSectionCSize);
  c.I32(8, kStiegeleRecordVersion);
  c.I32(12, state.section);
  c.I32(20, first);
  c.I32(24, first + records);
  c.U32(28, packed_start);
  c.U32(32, packed_end);
  AppendBlock(out, c);
  return out;
}

void StiegeleMdfWriter::Fail(const std::string& text) { FailWith(state_.error_text, text); }

void StiegeleMdfWriter::FailOn(const BufferedFile& file, const std::filesystem::path& path) {
  Fail(WriteErrorText(file));
  SetFailedFile(path);
}

bool StiegeleMdfWriter::Initialise(const WriterSetup& setup) {
  state_.header_file.Close();
  state_.data_file.Close();
  state_ = T_StiegeleMdfWriter{};
  ClearError();
  CopyMdfDefinitions(setup, state_.definitions);
  state_.header_name = OwnFilePath(setup.output_path, ".mdf");
  state_.data_name = OwnFilePath(setup.output_path, ".dta");
  state_.start_date = setup.start_date;
  state_.write_interval = setup.write_interval;
  state_.time_kinds = {static_cast<int>(setup.time_column1), static_cast<int>(setup.time_column2)};
  ReadDecimalNumber(setup.invalid_value, state_.invalid_value);
  state_.plan = PlanMdfColumns(setup, state_.definitions);
  int kind = 0;
  for (int time_kind : state_.time_kinds) state_.time_channels += TimeChannelKind(time_kind, &kind);
  state_.channel_count = state_.time_channels + state_.plan.signal_channels +
                         state_.plan.expression_channels + state_.plan.gps_channels;
  state_.first_row_time = -1.0;
  state_.section_start_time = -1.0;
  channels_ = setup.channels;
  total_columns_ = setup.layout.total;
  return true;
}

bool StiegeleMdfWriter::CreateFiles() {
  if (state_.channel_count <= 0) {
    Fail("Could not create header file (no channels)");
    return false;
  }
  int recount = 0;
  int record_size = 0;
  for (int time_kind : state_.time_kinds) {
    int kind = 0;
    if (!TimeChannelKind(time_kind, &kind)) continue;
    ++recount;
    record_size += StiegeleKindSize(kind);
  }
  int value_bytes = 0;
  recount += CountMdfValueChannels(state_.plan, StiegeleKindSize, &value_bytes);
  record_size += value_bytes;
  if (recount != state_.channel_count) {
    Fail("Something wrong with the number of channels !");
    Close();
    return false;
  }
  state_.record_size = record_size;
  record_.assign(static_cast<std::size_t>(record_size), 0);
  if (!state_.header_file.Create(state_.header_name)) {
    Fail("Could not create header file (create error)");
    SetFailedFile(state_.header_name);
    return false;
  }
  if (!state_.data_file.Create(state_.data_name)) {
    Fail("Could not create data file (create error)");
    SetFailedFile(state_.data_name);
    state_.header_file.Close();
    return false;
  }
  std::vector<std::uint8_t> header = BuildStiegeleHeader(state_);
  if (!state_.header_file.WriteBytes(header.data(), header.size())) {
    state_.write_failed = true;
    FailOn(state_.header_file, state_.header_name);
    Close();
    return false;
  }
  return true;
}

void StiegeleMdfWriter::FinishSection() {
  if (!state_.header_file.is_open() || state_.section_records < 1 || state_.record_size == 0) {
    return;
  }
  std::vector<std::uint8_t> records = BuildStiegeleSection(state_);
  if (!state_.header_file.WriteBytes(records.data(), records.size())) {
    state_.write_failed = true;
    FailOn(state_.header_file, state_.header_name);
  }
  ++state_.section;
  state_.section_records = 0;
  state_.section_data_start = state_.data_size;
  state_.section_start_time = -1.0;
}

bool StiegeleMdfWriter::WriteRecord(double elapsed, double T, bool pretrigger) {
  if (!state_.data_file.is_open()) {
    Fail("Cannot write DATA file (not opened)");
    return false;
  }
  if (state_.first_row_time < 0) {
    // Seconds count from the first record, so the header's start is that record's time.
    state_.first_row_time = elapsed;
    state_.start_date = T;
  }
  if (pretrigger && state_.section_records > 1) FinishSection();
  if (state_.section_start_time < 0) {
    state_.section_start_time = T;
    state_.section_start_elapsed = elapsed;
  }

  std::uint8_t* p = record_.data();
  for (int time_kind : state_.time_kinds) {
    switch (time_kind) {
      case 2:
        StoreF32(p, ToFloat(elapsed - state_.first_row_time));
        p += 4;
        break;
      case 3:
        StoreF32(p, ToFloat((elapsed - state_.section_start_elapsed) * 1000.0));
        p += 4;
        break;
      case 4:
      case 5:
        StoreLe32(p, StiegelePackedTime(T));
        p += 4;
        break;
      default:
        break;
    }
  }
  StoreMdfValues(p, state_.plan, channels_, total_columns_, state_.invalid_value,
                 [](std::uint8_t* out, double value, bool valid) {
                   StoreLe32(out, valid ? StiegelePackedTime(value) : 0u);
                   return 4;
                 });
  if (!state_.data_file.WriteBytes(record_.data(), record_.size())) {
    state_.write_failed = true;
    FailOn(state_.data_file, state_.data_name);
    return false;
  }
  state_.data_size += static_cast<std::int64_t>(record_.size());
  ++state_.section_records;
  return true;
}

bool StiegeleMdfWriter::Close() {
  bool ok = true;
  if (state_.header_file.is_open()) {
    if (!state_.write_failed) FinishSection();
    if (!state_.write_failed) {
      const BlockBuffer file = BuildStiegeleFileRecord(state_);
      if (state_.header_file.Seek(0) != 0 ||
          !state_.header_file.WriteBytes(file.bytes().data(), file.bytes().size())) {
        state_.write_failed = true;
        FailOn(state_.header_file, state_.header_name);
      }
    }
    if (!state_.header_file.Close() && !state_.write_failed) {
      state_.write_failed = true;
      FailOn(state_.header_file, state_.header_name);
    }
  }
  if (state_.data_file.is_open()) {
    if (!state_.data_file.Close() && !state_.write_failed) {
      state_.write_failed = true;
      FailOn(state_.data_file, state_.data_name);
    }
  }
  if (state_.write_failed) {
    std::error_code ec;
    std::filesystem::remove(state_.header_name, ec);
    ok = false;
  }
  return ok;
}

int StiegeleMdfWriter::Create(const WriterSetup& setup) {
  if (setup.appending)
    return AttachAppendedSource(setup, state_.data_file.is_open(), state_.error_text);
  Initialise(setup);
  return CreateFiles() ? 1 : 0;
}

int StiegeleMdfWriter::WriteRow(const WriterRow& row) {
  return WriteRecord(row.elapsed, row.time + row.time_base, row.pretrigger) ? kRowWritten
                                                                            : kRowFailed;
}

std::vector<std::filesystem::path> StiegeleMdfWriter::OutputFiles(
    const std::filesystem::path& output_path) const {
  return {OwnFilePath(output_path, ".mdf"), OwnFilePath(output_path, ".dta")};
}

int StiegeleMdfWriter::Finish(const WriterFinish& finish) {
  if (finish.more_follow && state_.data_file.is_open()) return 1;
  if (!state_.header_file.is_open() && !state_.data_file.is_open()) return 1;
  if (finish.aborted) state_.write_failed = true;  // the header file is removed
  return Close() ? 1 : 0;
}

}  // namespace tessmar
