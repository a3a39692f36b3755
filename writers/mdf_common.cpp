#include "writers/mdf_common.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "writers/date_time_format.h"

namespace tessmar {

MdfColumnPlan PlanMdfColumns(const WriterSetup& setup, const MdfDefinitions& defs) {
  MdfColumnPlan plan;
  const ColumnLayout& l = setup.layout;
  auto place = [&](int column, int kind, ColumnGroup group, int index) {
    plan.kind[static_cast<std::size_t>(column)] = static_cast<std::uint8_t>(kind);
    plan.group[static_cast<std::size_t>(column)] = static_cast<std::uint8_t>(group);
    plan.index[static_cast<std::size_t>(column)] = static_cast<std::int16_t>(index);
    plan.end = std::max(plan.end, column + 1);
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
    const GpsColumnDef* def = MdfGpsDefinition(setup, g);
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
    if (const GpsColumnDef* def = MdfGpsDefinition(setup, g)) {
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

const GpsColumnDef* MdfGpsDefinition(const WriterSetup& setup, int group_column) {
  if (setup.gps_settings == nullptr || group_column < 0) return nullptr;
  int n = 0;
  for (const GpsColumnDef& column : setup.gps_settings->columns) {
    if (!column.defined()) continue;
    if (n++ == group_column) return &column;
  }
  return nullptr;
}

int MdfWriterBase::AttachAppendedSource(const WriterSetup& setup, bool output_open,
                                        std::string& error_text) {
  if (!output_open) {
    FailWith(error_text, "Cannot write DATA file (not opened)");
    return 0;
  }
  channels_ = setup.channels;
  total_columns_ = setup.layout.total;
  return 1;
}

void MdfWriterBase::FailWith(std::string& error_text, const std::string& text) {
  error_text = text;
  SetError(text);
}

void AppendBlock(std::vector<std::uint8_t>& out, const BlockBuffer& block) {
  out.insert(out.end(), block.bytes().begin(), block.bytes().end());
}

int CountMdfValueChannels(const MdfColumnPlan& plan, int (*kind_size)(int kind),
                          int* record_bytes) {
  int count = 0;
  int bytes = 0;
  for (int column = 0; column < kMdfMaxValueColumns; ++column) {
    const int kind = plan.kind[static_cast<std::size_t>(column)];
    if (kind == kMdfKindNone) continue;
    ++count;
    bytes += kind_size(kind);
  }
  if (record_bytes != nullptr) *record_bytes = bytes;
  return count;
}

int StoreMdfCanOpenDate(std::uint8_t* p, double seconds, bool valid) {
  if (!valid) {
    std::memset(p, 0, 7);
    return 7;
  }
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
  return 7;
}

}  // namespace tessmar
