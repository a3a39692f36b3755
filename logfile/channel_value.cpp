#include "logfile/channel_value.h"

#include <algorithm>

#include "common/message_output.h"

namespace tessmar {
namespace {

int Clamp(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

bool AboveBlank(const char* text) { return static_cast<unsigned char>(text[0]) > ' '; }

}  // namespace

ColumnGroup ColumnLayout::GroupOf(int column, int* index_in_group) const {
  auto in = [column](int first, int count) { return column >= first && column < first + count; };
  ColumnGroup group = ColumnGroup::kNone;
  int index = -1;
  if (in(signal_first, signal_count)) {
    group = ColumnGroup::kSignal;
    index = column - signal_first;
  } else if (in(expression_first, expression_count)) {
    group = ColumnGroup::kExpression;
    index = column - expression_first;
  } else if (in(gps_first, gps_count)) {
    group = ColumnGroup::kGps;
    index = column - gps_first;
  }
  if (index_in_group != nullptr) *index_in_group = index;
  return group;
}

ColumnLayout MakeColumnLayout(int signal_count, int expression_count, int gps_count,
                              bool gps_before) {
  ColumnLayout l;
  l.signal_count = Clamp(signal_count, MAX_LOGGED_SIGNALS);
  l.expression_count = Clamp(expression_count, MAX_LOGGED_EXPRESSIONS);
  l.gps_count = Clamp(gps_count, kMaxGpsColumns);
  l.gps_before = gps_before;
  if (gps_before) {
    l.gps_first = 0;
    l.signal_first = l.gps_count;
    l.expression_first = l.signal_first + l.signal_count;
  } else {
    l.signal_first = 0;
    l.expression_first = l.signal_count;
    l.gps_first = l.expression_first + l.expression_count;
  }
  l.total = l.signal_count + l.expression_count + l.gps_count;
  return l;
}

bool SignalSlotUsed(const T_CanLog_SigDef& sig) {
  return sig.id != kCanIdFree && AboveBlank(sig.sn);
}

bool ExpressionSlotUsed(const T_CanLog_ExprDef& expr) { return AboveBlank(expr.ex); }

ColumnLayout CountColumns(const T_CanLog_SigTab& sigs, const T_CanLog_Config& cfg, int gps_count,
                          bool gps_before) {
  int signals = 0;
  for (int i = 0; i < MAX_LOGGED_SIGNALS; ++i) {
    if (SignalSlotUsed(sigs[static_cast<size_t>(i)])) signals = i + 1;
  }
  int expressions = 0;
  for (int i = 0; i < MAX_LOGGED_EXPRESSIONS; ++i) {
    if (ExpressionSlotUsed(cfg.Exp[static_cast<size_t>(i)])) expressions = i + 1;
  }
  return MakeColumnLayout(signals, expressions, gps_count, gps_before);
}

void ClearChannelValues(std::span<ChannelValue> channels) {
  for (ChannelValue& c : channels) c.ClearValue();
}

void InitChannelRanges(std::span<ChannelValue> channels, const ColumnLayout& layout,
                       const T_CanLog_SigTab& sigs) {
  for (int col = 0; col < static_cast<int>(channels.size()); ++col) {
    ChannelValue& c = channels[static_cast<size_t>(col)];
    int index = 0;
    if (layout.GroupOf(col, &index) == ColumnGroup::kSignal) {
      c.minimum = sigs[static_cast<size_t>(index)].mi;
      c.maximum = sigs[static_cast<size_t>(index)].ma;
    } else {
      c.minimum = kRangeUnset;
      c.maximum = 0.0;
    }
  }
}

std::string ColumnName(const ColumnLayout& layout, int column, const T_CanLog_SigTab& sigs,
                       const T_CanLog_Config& cfg, std::span<const std::string> gps_names) {
  int index = 0;
  switch (layout.GroupOf(column, &index)) {
    case ColumnGroup::kSignal:
      return std::string(TextOf(sigs[static_cast<size_t>(index)].sn));
    case ColumnGroup::kExpression: {
      const T_CanLog_ExprDef& e = cfg.Exp[static_cast<size_t>(index)];
      return std::string(AboveBlank(e.na) ? TextOf(e.na) : TextOf(e.ex));
    }
    case ColumnGroup::kGps:
      if (static_cast<size_t>(index) < gps_names.size() &&
          !gps_names[static_cast<size_t>(index)].empty() &&
          static_cast<unsigned char>(gps_names[static_cast<size_t>(index)][0]) > ' ') {
        return gps_names[static_cast<size_t>(index)];
      }
      return StrPrintf("GPS%d", index);
    case ColumnGroup::kNone:
      break;
  }
  return StrPrintf("Column%d", column);
}

}  // namespace tessmar
