#pragma once
// What the Vector MDF and Stiegele MDF writers share: which column becomes which channel, the
// channel definitions, the channel texts, and filling a record's value channels.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/canlog_config.h"
#include "logfile/channel_value.h"
#include "writers/block_buffer.h"
#include "writers/gps_settings.h"
#include "writers/writer.h"
#include "writers/writer_common.h"

namespace tessmar {

// Columns from this one on get no channel.
inline constexpr int kMdfMaxValueColumns = 160;

// Channel kinds of the MDF formats (their byte sizes in a record differ by format).
inline constexpr int kMdfKindNone = 0;
inline constexpr int kMdfKindFloat = 2;
inline constexpr int kMdfKindDouble = 3;
inline constexpr int kMdfKindTimeBytes = 5;

// Which column carries which channel kind, shared by both MDF formats.
struct MdfColumnPlan {
  std::array<std::uint8_t, kMdfMaxValueColumns> kind{};   // 0 = no channel
  std::array<std::uint8_t, kMdfMaxValueColumns> group{};  // ColumnGroup of the column
  std::array<std::int16_t, kMdfMaxValueColumns> index{};  // slot / expression / GPS group column
  int end = 0;                                            // one past the last column with a channel
  int signal_channels = 0;
  int expression_channels = 0;
  int gps_channels = 0;
  bool limited = false;  // a count had to be limited to its group's size
  int dropped = 0;       // columns with a value that lie at or beyond column 160
};
// The definitions both MDF writers keep: signals, expressions and the GPS column definition of
// every GPS group column (from the GPS output, else title and unit of the writer column).
struct MdfDefinitions {
  T_CanLog_SigTab signals;
  std::array<T_CanLog_ExprDef, MAX_LOGGED_EXPRESSIONS> expressions{};
  std::array<GpsColumnDef, kGpsColumns> gps_columns{};
};
void CopyMdfDefinitions(const WriterSetup& setup, MdfDefinitions& out);
MdfColumnPlan PlanMdfColumns(const WriterSetup& setup, const MdfDefinitions& defs);

// Name, unit and range of the channel of a planned column: signal `sn`/`un`/`mi`/`ma`;
// expression `na` (its text when the name is empty), no unit, `mi`/`ma`; GPS column title and
// unit, range 0..0.
struct MdfChannelText {
  std::string_view name, unit;
  double minimum = 0, maximum = 0;
};
MdfChannelText MdfChannelTextOf(const MdfColumnPlan& plan, int column, const MdfDefinitions& defs);

// The definition of the n-th GPS group column: the n-th defined column of the setup's GPS
// settings. A setup without GPS settings takes it from the GPS output that formats its GPS
// cells, if any; otherwise nullptr.
const GpsColumnDef* MdfGpsDefinition(const WriterSetup& setup, int group_column);

// What both MDF writers keep besides their own state: the channel values of the current source
// and the record being assembled.
class MdfWriterBase : public Writer {
 protected:
  // Create() for a source appended to the open output: takes the source's channel values.
  // Returns 1, or 0 with the error set when the output is not open.
  [[nodiscard]] int AttachAppendedSource(const WriterSetup& setup, bool output_open,
                                         std::string& error_text);
  // Sets the writer's error and the state's copy of it.
  void FailWith(std::string& error_text, const std::string& text);

  const ChannelValue* channels_ = nullptr;
  int total_columns_ = 0;
  std::vector<std::uint8_t> record_;
};

// Appends a header block's bytes.
void AppendBlock(std::vector<std::uint8_t>& out, const BlockBuffer& block);

// Number of planned value channels; *record_bytes gets their bytes in a record, by the format's
// size of each kind.
int CountMdfValueChannels(const MdfColumnPlan& plan, int (*kind_size)(int kind), int* record_bytes);

// The 7-byte CANopen date of a time in seconds since 1970 (milliseconds of the minute as uint16,
// minute, hour, day, month, year - 2000), zeros when it is not valid. Returns the bytes written.
int StoreMdfCanOpenDate(std::uint8_t* p, double seconds, bool valid);

// Stores one value of a planned channel kind at p: floats and doubles as the value; a time-bytes
// channel is written by store_time(p, value, valid) of the format, which returns the bytes it
// wrote. Returns the end.
template <typename StoreTime>
std::uint8_t* StoreMdfValue(std::uint8_t* p, int kind, double value, bool valid,
                            StoreTime&& store_time) {
  switch (kind) {
    case kMdfKindFloat:
      StoreF32(p, ToFloat(value));
      return p + 4;
    case kMdfKindDouble:
      StoreF64(p, value);
      return p + 8;
    default:
      return p + store_time(p, value, valid);
  }
}

// Stores the value channels of one record from p on, in column order: the scaled value (the
// invalid value when a column has none; time-bytes channels get 0 and "not valid"). Returns the
// end.
template <typename StoreTime>
std::uint8_t* StoreMdfValues(std::uint8_t* p, const MdfColumnPlan& plan,
                             const ChannelValue* channels, int total_columns, double invalid,
                             StoreTime&& store_time) {
  for (int column = 0; column < plan.end; ++column) {
    const int kind = plan.kind[static_cast<std::size_t>(column)];
    if (kind == kMdfKindNone) continue;
    const ChannelValue* cv =
        (channels != nullptr && column < total_columns) ? &channels[column] : nullptr;
    const bool valid = cv != nullptr && cv->valid;
    const double value = valid ? cv->scaled : (kind == kMdfKindTimeBytes ? 0.0 : invalid);
    p = StoreMdfValue(p, kind, value, valid, store_time);
  }
  return p;
}

}  // namespace tessmar
