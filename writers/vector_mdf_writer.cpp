#include "writers/vector_mdf_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/message_output.h"
#include "writers/block_buffer.h"
#include "writers/date_time_format.h"
#include "writers/number_text.h"
#include "writers/writer_common.h"

namespace tessmar {

namespace {

constexpr const char* kTextBlockText =
    "This is a TEXT BLOCK. We have no idea if the trailing zero byte (inserted by the C compiler) "
    "will do any harm. If it does, please let us know.";

int DataTypeOfKind(int kind) {
  switch (kind) {
    case kMdfKindFloat:
      return 2;
    case kMdfKindDouble:
      return 3;
    case kMdfKindTimeBytes:
      return 8;
  }
  return 0;
}

std::uint32_t ChannelCnPosition(int channel) {
  return kVectorMdfFirstCnPosition +
         static_cast<std::uint32_t>(channel) * (kVectorMdfCnSize + kVectorMdfCcSize);
}

}  // namespace

int VectorMdfKindSize(int kind) {
  switch (kind) {
    case kMdfKindFloat:
      return 4;
    case kMdfKindDouble:
      return 8;
    case kMdfKindTimeBytes:
      return 7;
  }
  return 0;
}

std::vector<std::uint8_t> BuildVectorMdfCg(const T_VectorMdfWriter& state) {
  BlockBuffer cg(kVectorMdfCgSize);
  cg.Text(0, 3, "CG");
  cg.U16(2, kVectorMdfCgSize);
  cg.U32(4, 0);
  cg.U32(8, kVectorMdfFirstCnPosition);
  cg.U32(12, 0);
  cg.U16(16, 0);
  cg.U16(18, static_cast<std::uint16_t>(state.channel_count));
  cg.U16(20, static_cast<std::uint16_t>(state.record_size));
  cg.U32(22, state.record_count);
  return {cg.bytes().begin(), cg.bytes().end()};
}

BlockBuffer BuildVectorMdfHd(const T_VectorMdfWriter& state) {
  BlockBuffer hd(kVectorMdfHdSize);
  hd.FullText(0, 2, "HD");
  hd.U16(2, kVectorMdfHdSize);
  hd.U32(4, kVectorMdfIdSize + kVectorMdfHdSize + kVectorMdfTxSize);  // DG
  hd.U32(8, kVectorMdfIdSize + kVectorMdfHdSize);                     // TX
  hd.U32(12, 0);
  hd.U16(16, 1);
  CivilTime start = ToCivil(std::trunc(state.start_date));
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%04d", start.day, start.month, start.year);
  hd.FullText(18, 10, text);
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", start.hour, start.minute, start.second);
  hd.FullText(28, 8, text);
  hd.Text(36, 32, "<Author>");
  hd.Text(68, 32, "<Organization>");
  hd.Text(100, 32, "<Project Name>");
  hd.Text(132, 32, "<Vehicle Identification>");
  return hd;
}

std::vector<std::uint8_t> BuildVectorMdfHeader(const T_VectorMdfWriter& state) {
  std::vector<std::uint8_t> out;
  const int n = state.channel_count;
  const std::uint32_t data_position = ChannelCnPosition(n);
  out.reserve(data_position);

  BlockBuffer id(kVectorMdfIdSize);
  id.FullText(0, 8, "MDF     ");
  id.FullText(8, 8, "2.12    ");
  id.FullText(16, 8, "VarEDIdi");
  id.U16(24, 0);
  id.U16(26, 0);
  id.U16(28, 212);
  AppendBlock(out, id);

  AppendBlock(out, BuildVectorMdfHd(state));

  BlockBuffer tx(kVectorMdfTxSize);
  tx.FullText(0, 2, "TX");
  tx.U16(2, kVectorMdfTxSize);
  tx.Text(4, 1024, kTextBlockText);
  AppendBlock(out, tx);

  BlockBuffer dg(kVectorMdfDgSize);
  dg.FullText(0, 2, "DG");
  dg.U16(2, kVectorMdfDgSize);
  dg.U32(4, 0);
  dg.U32(8, kVectorMdfCgPosition);
  dg.U32(12, 0);
  dg.U32(16, data_position);
  dg.U16(20, 1);
  dg.U16(22, 0);
  AppendBlock(out, dg);

  std::vector<std::uint8_t> cg = BuildVectorMdfCg(state);
  out.insert(out.end(), cg.begin(), cg.end());

  // Channel 0 is the time channel, then one channel per column with a kind, in column order.
  int channel = 0;
  int bit_offset = 0;
  auto add_channel = [&](int kind, bool is_time, std::string_view name, std::string_view unit,
                         double minimum, double maximum) {
    const std::uint32_t cn_position = ChannelCnPosition(channel);
    BlockBuffer cn(kVectorMdfCnSize);
    cn.FullText(0, 2, "CN");
    cn.U16(2, kVectorMdfCnSize);
    cn.U32(4, channel + 1 < n ? ChannelCnPosition(channel + 1) : 0);
    cn.U32(8, cn_position + kVectorMdfCnSize);
    cn.U16(24, is_time ? 1 : 0);
    cn.Text(26, 32, name);
    cn.U16(186, static_cast<std::uint16_t>(bit_offset));
    cn.U16(188, static_cast<std::uint16_t>(VectorMdfKindSize(kind) * 8));
    cn.U16(190, static_cast<std::uint16_t>(DataTypeOfKind(kind)));
    cn.U16(192, minimum < maximum ? 1 : 0);
    cn.F64(194, minimum);
    cn.F64(202, maximum);
    cn.F64(210, state.write_interval);
    AppendBlock(out, cn);

    BlockBuffer cc(kVectorMdfCcSize);
    cc.FullText(0, 2, "CC");
    cc.U16(2, kVectorMdfCcSize);
    cc.U16(4, 0);
    cc.F64(6, 0.0);
    cc.F64(14, 0.0);
    cc.Text(22, 20, unit);
    cc.U16(42, 0);
    cc.U16(44, 2);
    cc.F64(46, 0.0);
    cc.F64(54, 1.0);
    AppendBlock(out, cc);

    bit_offset += VectorMdfKindSize(kind) * 8;
    ++channel;
  };

  add_channel(kMdfKindDouble, true, "Time", "s", 0, 0);
  for (int column = 0; column < kMdfMaxValueColumns && channel < n; ++column) {
    const int kind = state.plan.kind[static_cast<std::size_t>(column)];
    if (kind == kMdfKindNone) continue;
    MdfChannelText channel_text = MdfChannelTextOf(state.plan, column, state.definitions);
    add_channel(kind, false, channel_text.name, channel_text.unit, channel_text.minimum,
                channel_text.maximum);
  }
  return out;
}

void VectorMdfWriter::Fail(const std::string& text) { FailWith(state_.error_text, text); }

bool VectorMdfWriter::Initialise(const WriterSetup& setup) {
  state_.file.Close();
  state_ = T_VectorMdfWriter{};
  ClearError();
  CopyMdfDefinitions(setup, state_.definitions);
  state_.file_name = OwnFilePath(setup.output_path, ".dat");
  state_.start_date = setup.start_date;
  state_.write_interval = setup.write_interval;
  state_.first_row_time = -1.0;
  ReadDecimalNumber(setup.invalid_value, state_.invalid_value);
  state_.plan = PlanMdfColumns(setup, state_.definitions);
  state_.time_channels = 1;
  state_.channel_count =
      1 + state_.plan.signal_channels + state_.plan.expression_channels + state_.plan.gps_channels;
  channels_ = setup.channels;
  total_columns_ = setup.layout.total;
  if (state_.plan.dropped > 0) {
    ShowMessageF(kMsgWarning,
                 "Warning: MDF output holds at most %d data channels; %d further column(s) are "
                 "not written.",
                 kMdfMaxValueColumns, state_.plan.dropped);
  }
  return !state_.plan.limited;
}

bool VectorMdfWriter::CreateFile() {
  if (state_.channel_count <= 0) {
    Fail("Could not create header file (no channels)");
    return false;
  }
  int record_size = 0;
  const int recount = 1 + CountMdfValueChannels(state_.plan, VectorMdfKindSize, &record_size);
  record_size += 8;  // the time channel
  if (recount != state_.channel_count) {
    Fail("Something wrong with the number of channels !");
    state_.file.Close();
    return false;
  }
  state_.record_size = record_size;
  state_.record_count = 0;
  state_.data_size = 0;
  record_.assign(static_cast<std::size_t>(record_size), 0);
  std::vector<std::uint8_t> header = BuildVectorMdfHeader(state_);
  if (!state_.file.Create(state_.file_name)) {
    Fail("Could not create output file (create error)");
    return false;
  }
  bool ok = state_.file.WriteBytes(header.data(), header.size());
  if (state_.file.Position() !=
      static_cast<std::int64_t>(ChannelCnPosition(state_.channel_count))) {
    Fail("Header size / file-pos mismatch");
    state_.file.Close();
    return false;
  }
  if (!ok) {
    Fail(WriteErrorText(state_.file));
    state_.write_failed = true;
    state_.file.Close();
    return false;
  }
  return true;
}

bool VectorMdfWriter::WriteRecord(double t, double absolute) {
  if (!state_.file.is_open()) {
    Fail("Cannot write DATA file (not opened)");
    return false;
  }
  if (state_.first_row_time < 0) {
    // The time channel counts from the first record, so the HD start is that record's time.
    state_.first_row_time = t;
    state_.start_date = absolute;
  }
  std::uint8_t* p = record_.data();
  StoreF64(p, t - state_.first_row_time);
  p += 8;
  StoreMdfValues(p, state_.plan, channels_, total_columns_, state_.invalid_value,
                 StoreMdfCanOpenDate);
  if (!state_.file.WriteBytes(record_.data(), record_.size())) {
    state_.write_failed = true;
    Fail(WriteErrorText(state_.file));
    return false;
  }
  state_.data_size += static_cast<std::int64_t>(record_.size());
  ++state_.record_count;
  return true;
}

bool VectorMdfWriter::Close() {
  if (!state_.file.is_open()) return true;
  bool ok = !state_.write_failed;
  if (ok) {
    const BlockBuffer hd = BuildVectorMdfHd(state_);
    std::vector<std::uint8_t> cg = BuildVectorMdfCg(state_);
    ok = state_.file.Seek(kVectorMdfIdSize) == kVectorMdfIdSize &&
         state_.file.WriteBytes(hd.bytes().data(), hd.bytes().size()) &&
         state_.file.Seek(kVectorMdfCgPosition) == kVectorMdfCgPosition &&
         state_.file.WriteBytes(cg.data(), cg.size());
  }
  // A file whose records could not all be written keeps the record count 0 in its CG, so that
  // no reader takes it for complete.
  bool closed = state_.file.Close();
  if (!ok || !closed) {
    if (!state_.write_failed || state_.error_text.empty()) Fail(WriteErrorText(state_.file));
    return false;
  }
  return true;
}

int VectorMdfWriter::Create(const WriterSetup& setup) {
  if (setup.appending) return AttachAppendedSource(setup, state_.file.is_open(), state_.error_text);
  Initialise(setup);
  return CreateFile() ? 1 : 0;
}

int VectorMdfWriter::WriteRow(const WriterRow& row) {
  return WriteRecord(row.elapsed, row.time + row.time_base) ? kRowWritten : kRowFailed;
}

std::vector<std::filesystem::path> VectorMdfWriter::OutputFiles(
    const std::filesystem::path& output_path) const {
  return {OwnFilePath(output_path, ".dat")};
}

int VectorMdfWriter::Finish(const WriterFinish& finish) {
  if (finish.more_follow && state_.file.is_open()) return 1;
  if (finish.aborted && state_.file.is_open()) state_.write_failed = true;  // record count 0
  return Close() ? 1 : 0;
}

}  // namespace tessmar
