#include "writers/vector_mdf_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/message_output.h"
#include "convert/date_time_format.h"
#include "writers/block_buffer.h"
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

// Appends a block's bytes to the header.
void Append(std::vector<std::uint8_t>& out, const BlockBuffer& block) {
  out.insert(out.end(), block.bytes().begin(), block.bytes().end());
}

// The 7-byte CANopen date of a time in seconds since 1970.
void StoreCanOpenDate(std::uint8_t* p, double seconds) {
  CivilTime c = ToCivil(seconds);
  int ms = c.second * 1000 + static_cast<int>(std::lround(c.fraction * 1000.0));
  if (ms > 59999) ms = 59999;
  p[0] = static_cast<std::uint8_t>(ms);
  p[1] = static_cast<std::uint8_t>(ms >> 8);
  p[2] = static_cast<std::uint8_t>(c.minute);
  p[3] = static_cast<std::uint8_t>(c.hour);
  p[4] = static_cast<std::uint8_t>(c.day);
  p[5] = static_cast<std::uint8_t>(c.month);
  p[6] = static_cast<std::uint8_t>(((c.year % 100) + 100) % 100);
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

MdfColumnPlan PlanMdfColumns(const WriterSetup& setup, const MdfDefinitions& defs) {
  MdfColumnPlan plan;
  const ColumnLayout& l = setup.layout;
  auto place = [&](int column, int kind, ColumnGroup group, int index) {
    plan.kind[static_cast<std::size_t>(column)] = static_cast<std::uint8_t>(kind);
    plan.group[static_cast<std::size_t>(column)] = static_cast<std::uint8_t>(group);
    plan.index[static_cast<std::size_t>(column)] = static_cast<std::int16_t>(index);
  };
  for (int s = 0; s < MAX_LOGGED_SIGNALS; ++s) {
    const T_CanLog_SigDef& sig = defs.signals[static_cast<std::size_t>(s)];
    if (!SignalSlotUsed(sig)) continue;
    int column = l.signal_first + s;
    if (s >= l.signal_count) continue;
    if (column >= kMdfMaxValueColumns) {
      ++plan.dropped;
      continue;
    }
    place(column, sig.nb > 23 ? kMdfKindDouble : kMdfKindFloat, ColumnGroup::kSignal, s);
    ++plan.signal_channels;
  }
  for (int e = 0; e < MAX_LOGGED_EXPRESSIONS; ++e) {
    if (defs.expressions[static_cast<std::size_t>(e)].ex[0] == '\0') continue;
    int column = l.expression_first + e;
    if (e >= l.expression_count) continue;
    if (column >= kMdfMaxValueColumns) {
      ++plan.dropped;
      continue;
    }
    place(column, kMdfKindFloat, ColumnGroup::kExpression, e);
    ++plan.expression_channels;
  }
  for (int g = 0; g < l.gps_count && g < kGpsColumns; ++g) {
    int column = l.gps_first + g;
    if (column >= kMdfMaxValueColumns) {
      ++plan.dropped;
      continue;
    }
    const GpsColumnDef* def = GpsDefinitionOf(setup, g);
    int kind = kMdfKindFloat;
    if (def != nullptr) {
      switch (ClassifyGpsSource(GpsText(def->source))) {
        case GpsSourceKind::kLatLon:
          kind = kMdfKindDouble;
          break;
        case GpsSourceKind::kTimeDate:
          kind = kMdfKindTimeBytes;
          break;
        case GpsSourceKind::kOther:
          break;
      }
    }
    place(column, kind, ColumnGroup::kGps, g);
    ++plan.gps_channels;
  }
  auto limit = [&](int& count, int group_size) {
    if (count > group_size) {
      count = group_size;
      plan.limited = true;
    }
  };
  limit(plan.signal_channels, l.signal_count);
  limit(plan.expression_channels, l.expression_count);
  limit(plan.gps_channels, l.gps_count);
  return plan;
}

void CopyMdfDefinitions(const WriterSetup& setup, MdfDefinitions& out) {
  out = MdfDefinitions{};
  if (setup.signal_table) out.signals = *setup.signal_table;
  if (setup.logged_config) out.expressions = setup.logged_config->Exp;
  for (int g = 0; g < kGpsColumns; ++g) {
    GpsColumnDef& target = out.gps_columns[static_cast<std::size_t>(g)];
    const int column = setup.layout.gps_first + g;
    if (const GpsColumnDef* def = GpsDefinitionOf(setup, g)) {
      target = *def;
    } else if (g < setup.layout.gps_count && column < static_cast<int>(setup.columns.size())) {
      SetGpsText(target.title, setup.columns[static_cast<std::size_t>(column)].name);
      SetGpsText(target.unit, setup.columns[static_cast<std::size_t>(column)].unit);
    }
  }
}

MdfChannelText MdfChannelTextOf(const MdfColumnPlan& plan, int column, const MdfDefinitions& defs) {
  const std::size_t index = static_cast<std::size_t>(plan.index[static_cast<std::size_t>(column)]);
  switch (static_cast<ColumnGroup>(plan.group[static_cast<std::size_t>(column)])) {
    case ColumnGroup::kSignal: {
      const T_CanLog_SigDef& sig = defs.signals[index];
      return {TextOf(sig.sn), TextOf(sig.un), sig.mi, sig.ma};
    }
    case ColumnGroup::kExpression: {
      const T_CanLog_ExprDef& e = defs.expressions[index];
      return {e.na[0] != '\0' ? TextOf(e.na) : TextOf(e.ex), "", e.mi, e.ma};
    }
    default: {
      const GpsColumnDef& g = defs.gps_columns[index];
      return {GpsText(g.title), GpsText(g.unit), 0, 0};
    }
  }
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
  Append(out, id);

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
  Append(out, hd);

  BlockBuffer tx(kVectorMdfTxSize);
  tx.FullText(0, 2, "TX");
  tx.U16(2, kVectorMdfTxSize);
  tx.Text(4, 1024, kTextBlockText);
  Append(out, tx);

  BlockBuffer dg(kVectorMdfDgSize);
  dg.FullText(0, 2, "DG");
  dg.U16(2, kVectorMdfDgSize);
  dg.U32(4, 0);
  dg.U32(8, kVectorMdfCgPosition);
  dg.U32(12, 0);
  dg.U32(16, data_position);
  dg.U16(20, 1);
  dg.U16(22, 0);
  Append(out, dg);

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
    Append(out, cn);

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
    Append(out, cc);

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

void VectorMdfWriter::Fail(const std::string& text) {
  state_.error_text = text;
  SetError(text);
}

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
  int recount = 1;
  int record_size = 8;
  for (int column = 0; column < kMdfMaxValueColumns; ++column) {
    int kind = state_.plan.kind[static_cast<std::size_t>(column)];
    if (kind == kMdfKindNone) continue;
    ++recount;
    record_size += VectorMdfKindSize(kind);
  }
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

bool VectorMdfWriter::WriteRecord(double t) {
  if (!state_.file.is_open()) {
    Fail("Cannot write DATA file (not opened)");
    return false;
  }
  if (state_.first_row_time < 0) state_.first_row_time = t;
  std::uint8_t* p = record_.data();
  StoreF64(p, t - state_.first_row_time);
  p += 8;
  const double invalid = state_.invalid_value;
  for (int column = 0; column < kMdfMaxValueColumns; ++column) {
    const int kind = state_.plan.kind[static_cast<std::size_t>(column)];
    if (kind == kMdfKindNone) continue;
    const ChannelValue* cv =
        (channels_ != nullptr && column < total_columns_) ? &channels_[column] : nullptr;
    const bool valid = cv != nullptr && cv->valid;
    const double value = valid ? cv->scaled : invalid;
    switch (kind) {
      case kMdfKindFloat:
        StoreF32(p, ToFloat(value));
        p += 4;
        break;
      case kMdfKindDouble:
        StoreF64(p, value);
        p += 8;
        break;
      default:
        if (valid) {
          StoreCanOpenDate(p, cv->scaled);
        } else {
          std::memset(p, 0, 7);
        }
        p += 7;
        break;
    }
  }
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
    std::vector<std::uint8_t> cg = BuildVectorMdfCg(state_);
    ok = state_.file.Seek(kVectorMdfCgPosition) == kVectorMdfCgPosition &&
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
  if (setup.appending) {
    if (!state_.file.is_open()) {
      Fail("Cannot write DATA file (not opened)");
      return 0;
    }
    channels_ = setup.channels;
    total_columns_ = setup.layout.total;
    return 1;
  }
  Initialise(setup);
  return CreateFile() ? 1 : 0;
}

int VectorMdfWriter::WriteRow(const WriterRow& row) {
  return WriteRecord(row.time) ? kRowWritten : kRowFailed;
}

int VectorMdfWriter::Finish(const WriterFinish& finish) {
  if (finish.more_follow && state_.file.is_open()) return 1;
  return Close() ? 1 : 0;
}

}  // namespace tessmar
