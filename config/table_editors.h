#pragma once
// The rules of the three table editors, free of any widget: the own-message grid, the expression
// grid and the GPS column grid. Each grid is filled from the data, edited freely as text and
// written back only when the user applies it.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/canlog_config.h"

namespace tessmar {

// ---- Own-message grid --------------------------------------------------------------------------

// "Nr", "Bus", "CAN-ID", "Message Name", "Sender (Node)", "Intv.-Limit/ms".
inline constexpr int kMessageGridColumns = 6;
extern const std::array<const char*, kMessageGridColumns> kMessageGridTitles;

// The editable cells of one row; the row index is the slot number ("Nr").
struct MessageGridRow {
  std::string bus, can_id, name, sender, interval;
  friend bool operator==(const MessageGridRow&, const MessageGridRow&) = default;
};

struct MessageGridFill {
  std::vector<MessageGridRow> rows;  // one per slot, cut after the family's message limit
  bool red = false;                  // more messages used than the family allows
};

// Rows for the slots in order; at the first free slot whose number + 1 reaches the family's
// message limit the grid ends one row after it.
MessageGridFill FillMessageGrid(const T_CanLog_Config& cfg);

// Writes the rows into slots 0.. (at most 256): an empty "CAN-ID" frees the slot; otherwise the
// identifier (integer syntax of the configuration file, low 29 bits), extended when the cell
// holds more than 5 characters, bus 2 when "Bus" reads 2, names cut to 40 characters and the
// interval in ms / 10 limited to 0..1000. Slots beyond the rows stay as they are. Does not touch
// the modified flag.
void ApplyMessageGrid(const std::vector<MessageGridRow>& rows, T_CanLog_Config& cfg);

// ---- Expression grid ---------------------------------------------------------------------------

// "Nr", "Name", "MinVal", "MaxVal", "Numeric Expression, Function or Variable".
inline constexpr int kExpressionGridColumns = 5;
extern const std::array<const char*, kExpressionGridColumns> kExpressionGridTitles;

struct ExpressionGridRow {
  std::string name, min, max, expression;
  friend bool operator==(const ExpressionGridRow&, const ExpressionGridRow&) = default;
};

// One row per expression slot; a slot whose name begins with a blank or control character shows
// empty cells, otherwise its name, "%g" of the limits and the expression.
std::array<ExpressionGridRow, MAX_LOGGED_EXPRESSIONS> FillExpressionGrid(
    const T_CanLog_Config& cfg);

// Clears every slot of the rows given, then stores the rows with a name (name and expression cut
// to 40 characters, limits read as reals). Rows without a name are dropped.
void ApplyExpressionGrid(const std::vector<ExpressionGridRow>& rows, T_CanLog_Config& cfg);

// ---- GPS column grid ---------------------------------------------------------------------------
// The column texts are kept by the converter's GPS options; this grid only decides which row
// becomes which column.

inline constexpr int kGpsGridRows = 8;
// "Nr", "Title", "Unit", "Format", "Contents (Expression)".
inline constexpr int kGpsGridColumns = 5;
extern const std::array<const char*, kGpsGridColumns> kGpsGridTitles;

struct GpsGridRow {
  std::string nr, title, unit, format, expression;
  friend bool operator==(const GpsGridRow&, const GpsGridRow&) = default;
};

// Moves the row at index from to index to (both 0..rows-1; others shift by one) and renumbers the
// "Nr" cells 1.. from top to bottom. False (rows unchanged) for an index outside the rows.
bool MoveGpsGridRow(std::vector<GpsGridRow>& rows, int from, int to);

// The texts a column gets from the grid; a row with an empty title clears its column (all four
// texts empty).
struct GpsColumnTexts {
  std::string title, unit, format, expression;
};

// For each column 0..7, the texts of the last row whose "Nr" names it (1..8), texts cut to 40
// characters; columns that no row names stay nullopt (unchanged). Rows with any other number are
// ignored.
std::array<std::optional<GpsColumnTexts>, kGpsGridRows> ApplyGpsGrid(
    const std::vector<GpsGridRow>& rows);

}  // namespace tessmar
