#include "config/table_editors.h"

#include <algorithm>
#include <cstdio>

#include "common/c_locale.h"
#include "common/text_readers.h"

namespace tessmar {
namespace {

constexpr int kMaxIntervalUnits = 1000;  // 10 s in 10 ms units
constexpr std::size_t kExtendedIdMinChars = 6;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Cut(std::string_view text) { return std::string(text.substr(0, kMaxNameChars)); }

}  // namespace

// ---- Own-message grid --------------------------------------------------------------------------

const std::array<const char*, kMessageGridColumns> kMessageGridTitles = {
    "Nr", "Bus", "CAN-ID", "Message Name", "Sender (Node)", "Intv.-Limit/ms"};

MessageGridFill FillMessageGrid(const T_CanLog_Config& cfg) {
  MessageGridFill fill;
  const int limit = FamilyLimits(cfg.DeviceFamily).max_messages;
  int used_rows = 0;
  auto row_of = [&](int slot) {
    const T_CanLog_MsgDef& m = cfg.Msg[std::size_t(slot)];
    MessageGridRow row;
    if (m.used()) {
      row.bus = std::string(1, CanIdBus(m.id) == 2 ? '2' : '1');
      row.can_id = FormatCanId(m.id);
      row.name = std::string(TextOf(m.mn));
      row.sender = std::string(TextOf(m.nn));
      row.interval = std::to_string(std::min<int>(m.wi, kMaxIntervalUnits) * 10);
      ++used_rows;
    }
    fill.rows.push_back(std::move(row));
  };
  for (int slot = 0; slot < MAX_LOGGED_MESSAGES; ++slot) {
    row_of(slot);
    if (!cfg.Msg[std::size_t(slot)].used() && slot + 1 >= limit) {
      // One more row after the last slot the family can use, for a message to be added. It
      // shows that slot as it is, so that applying the grid never frees a message unseen.
      if (slot + 1 < MAX_LOGGED_MESSAGES) row_of(slot + 1);
      break;
    }
  }
  fill.red = CountUsedMessages(cfg) > limit || used_rows > limit;
  return fill;
}

void ApplyMessageGrid(const std::vector<MessageGridRow>& rows, T_CanLog_Config& cfg) {
  const std::size_t n = std::min<std::size_t>(rows.size(), MAX_LOGGED_MESSAGES);
  for (std::size_t slot = 0; slot < n; ++slot) {
    const MessageGridRow& row = rows[slot];
    T_CanLog_MsgDef& m = cfg.Msg[slot];
    const std::string_view id_text = Trimmed(row.can_id);
    if (id_text.empty()) {
      m = T_CanLog_MsgDef{};
      continue;
    }
    std::string_view cursor = id_text;
    // Only the identifier bits come from the cell: a typed 0xFFFFFFFF must neither free the slot
    // nor set the bus bits.
    uint32_t id = ReadUnsigned(cursor) & kCanIdMask;
    if (id_text.size() >= kExtendedIdMinChars) id |= kCanIdExtended;
    std::string_view bus = row.bus;
    if (ReadInteger(bus) == 2) id |= kCanIdBus2;
    m.id = id;
    SetText(m.mn, row.name);
    SetText(m.nn, row.sender);
    std::string_view interval = row.interval;
    const int32_t ms = ReadInteger(interval);
    m.wi = uint16_t(std::clamp<int32_t>(ms / 10, 0, kMaxIntervalUnits));
  }
}

// ---- Expression grid ---------------------------------------------------------------------------

const std::array<const char*, kExpressionGridColumns> kExpressionGridTitles = {
    "Nr", "Name", "MinVal", "MaxVal", "Numeric Expression, Function or Variable"};

std::array<ExpressionGridRow, MAX_LOGGED_EXPRESSIONS> FillExpressionGrid(
    const T_CanLog_Config& cfg) {
  std::array<ExpressionGridRow, MAX_LOGGED_EXPRESSIONS> rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const T_CanLog_ExprDef& e = cfg.Exp[i];
    if (static_cast<unsigned char>(e.na[0]) <= ' ') continue;
    rows[i] = {std::string(TextOf(e.na)), FormatG(e.mi), FormatG(e.ma), std::string(TextOf(e.ex))};
  }
  return rows;
}

void ApplyExpressionGrid(const std::vector<ExpressionGridRow>& rows, T_CanLog_Config& cfg) {
  const std::size_t n = std::min<std::size_t>(rows.size(), MAX_LOGGED_EXPRESSIONS);
  for (std::size_t i = 0; i < n; ++i) {
    const ExpressionGridRow& row = rows[i];
    T_CanLog_ExprDef& e = cfg.Exp[i];
    e = T_CanLog_ExprDef{};
    if (row.name.empty()) continue;
    SetText(e.na, row.name);
    std::string_view min = row.min, max = row.max;
    e.mi = ReadReal(min);
    e.ma = ReadReal(max);
    SetText(e.ex, row.expression);
  }
}

// ---- GPS column grid ---------------------------------------------------------------------------

const std::array<const char*, kGpsGridColumns> kGpsGridTitles = {"Nr", "Title", "Unit", "Format",
                                                                 "Contents (Expression)"};

bool MoveGpsGridRow(std::vector<GpsGridRow>& rows, int from, int to) {
  const int n = int(rows.size());
  if (from < 0 || from >= n || to < 0 || to >= n) return false;
  GpsGridRow moved = std::move(rows[std::size_t(from)]);
  rows.erase(rows.begin() + from);
  rows.insert(rows.begin() + to, std::move(moved));
  for (int i = 0; i < n; ++i) rows[std::size_t(i)].nr = std::to_string(i + 1);
  return true;
}

std::array<std::optional<GpsColumnTexts>, kGpsGridRows> ApplyGpsGrid(
    const std::vector<GpsGridRow>& rows) {
  std::array<std::optional<GpsColumnTexts>, kGpsGridRows> columns{};
  for (const GpsGridRow& row : rows) {
    std::string_view nr = row.nr;
    bool had_digits = false;
    const int32_t number = ReadInteger(nr, &had_digits);
    if (!had_digits || number < 1 || number > kGpsGridRows) continue;
    GpsColumnTexts texts;
    if (!row.title.empty()) {
      texts = {Cut(row.title), Cut(row.unit), Cut(row.format), Cut(row.expression)};
    }
    columns[std::size_t(number - 1)] = std::move(texts);
  }
  return columns;
}

}  // namespace tessmar
