#pragma once
// Channel value records and the column layout of a conversion.
//
// One channel value record exists per output column. Columns are numbered from 0 in the order
// signals, expressions, GPS columns — or GPS columns, signals, expressions when the GPS columns
// go before the other data columns. Unused slots inside a group still occupy a column (they never
// receive a value). The writers read these records when they write a row.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "config/canlog_config.h"

namespace tessmar {

// 256 signals + 64 expressions + 8 GPS columns.
inline constexpr int kMaxColumns = 328;
inline constexpr int kMaxGpsColumns = 8;
// A range bound with this value has not been set yet.
inline constexpr double kRangeUnset = -9.999999999e18;

// Value type codes of a channel (the BULK type codes): 4 integer signals, 8 single precision,
// 17 double precision, 9 text; 1..7 as delivered by BULK records.
inline constexpr int kChannelTypeNone = 0;
inline constexpr int kChannelTypeInteger = 4;
inline constexpr int kChannelTypeFloat32 = 8;
inline constexpr int kChannelTypeText = 9;
inline constexpr int kChannelTypeFloat64 = 17;

struct ChannelValue {
  bool valid = false;      // the channel has received a value
  int value_type = 0;      // code as above
  bool is_float = false;   // the raw value is a double (raw_float) rather than an integer (raw)
  int64_t raw = 0;         // raw integer (for floats: the value truncated toward zero)
  double raw_float = 0.0;  // raw value as double (for integers: the integer converted)
  std::string text;        // value of a "string" BULK record, at most 255 characters
  double scaled = 0.0;     // physical value
  double minimum = kRangeUnset;  // range of the scaled values seen
  double maximum = kRangeUnset;

  // Not valid, type 0, raw and scaled 0, no text. The range is kept.
  void ClearValue() {
    valid = false;
    value_type = 0;
    is_float = false;
    raw = 0;
    raw_float = 0.0;
    text.clear();
    scaled = 0.0;
  }
  // Widens the range to include v (non-finite values are left out).
  void Widen(double v) {
    if (!(v - v == 0)) return;  // NaN or infinite
    if (minimum == kRangeUnset || v < minimum) minimum = v;
    if (maximum == kRangeUnset || v > maximum) maximum = v;
  }
};

enum class ColumnGroup { kSignal, kExpression, kGps, kNone };

struct ColumnLayout {
  int signal_first = 0;
  int signal_count = 0;
  int expression_first = 0;
  int expression_count = 0;
  int gps_first = 0;
  int gps_count = 0;
  int total = 0;
  bool gps_before = false;

  // Last column of a group (first - 1 when the group is empty).
  int signal_last() const { return signal_first + signal_count - 1; }
  int expression_last() const { return expression_first + expression_count - 1; }
  int gps_last() const { return gps_first + gps_count - 1; }

  // Group of a column and its number within the group.
  ColumnGroup GroupOf(int column, int* index_in_group = nullptr) const;
};

// Layout from group sizes: signals (at most 256), expressions (at most 64), GPS columns (at most
// 8); GPS columns first when gps_before.
ColumnLayout MakeColumnLayout(int signal_count, int expression_count, int gps_count,
                              bool gps_before);

// A signal slot takes part when its id is not -1 and its name starts with a character above the
// blank; an expression when its text does.
bool SignalSlotUsed(const T_CanLog_SigDef& sig);
bool ExpressionSlotUsed(const T_CanLog_ExprDef& expr);

// Layout of a configuration: signals up to the highest used slot, expressions up to the highest
// used number, then `gps_count` GPS columns (the number of defined GPS column definitions).
ColumnLayout CountColumns(const T_CanLog_SigTab& sigs, const T_CanLog_Config& cfg, int gps_count,
                          bool gps_before);

// Clears the values of all records (ranges kept).
void ClearChannelValues(std::span<ChannelValue> channels);

// Sets the starting ranges: a signal column starts at [mi, ma] of its definition, every other
// column with the minimum unset and the maximum 0.
void InitChannelRanges(std::span<ChannelValue> channels, const ColumnLayout& layout,
                       const T_CanLog_SigTab& sigs);

// Column name for headlines: signal `sn`; expression `na`, or its text `ex` when the name is
// blank; GPS column: its definition's name, or "GPS%d" (number within the GPS group) when blank;
// any other column "Column%d".
std::string ColumnName(const ColumnLayout& layout, int column, const T_CanLog_SigTab& sigs,
                       const T_CanLog_Config& cfg, std::span<const std::string> gps_names = {});

}  // namespace tessmar
