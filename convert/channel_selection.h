#pragma once
// Converting only what the user asks for: a subset of the columns (or of the CAN messages) and a
// span of time.
//
// Column selection works on the columns a recording has: the decoder still sees every column
// position of the recording's layout (expression entries and GPS fixes address their columns by
// number), but decodes only the chosen signals; the writer sees a layout of the chosen columns
// alone, with a signal table and a configuration whose signals and expressions are moved to the
// front in the same order, and reads a copy of their values made for every row.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/canlog_config.h"
#include "logfile/channel_value.h"
#include "writers/writer.h"

namespace tessmar {

// The patterns of a channel selection text: separated by blanks, commas or semicolons. A pattern
// that begins with a double quote is an exact name ("Motor Temp", with \" for a double quote and
// \\ for a backslash): it runs to its closing quote, blanks, commas, semicolons and wildcard
// characters included, and is kept with its quotes.
std::vector<std::string> SplitChannelPatterns(const std::string& text);

// Whether a pattern chooses a name: an exact name (quoted) matches only that name, with its case;
// any other pattern is a wildcard pattern of the signal table's matcher.
bool ChannelPatternMatches(std::string_view name, const std::string& pattern);

// The pattern that chooses exactly the channel or message of this name.
std::string ExactChannelPattern(std::string_view name);

// One end of the time span: seconds from the recording's first entry, or an absolute date and
// time "YYYY-MM-DD hh:mm:ss" or "YYYY-MM-DD hh:mm:ss.ss" (seconds since 1970, no time zone).
struct SpanBound {
  bool absolute = false;
  double seconds = 0;
};
// Reads a bound; an empty text gives no bound (true, *out empty); false when unreadable.
bool ParseSpanBound(const std::string& text, std::optional<SpanBound>* out);

// Checks the channel and span options of a conversion: false with the error in *error when a
// bound is unreadable or the stop lies before the start (both of the same kind).
bool CheckSelectionOptions(const std::string& start, const std::string& stop, std::string* error);

// The columns of a Signals output that the patterns choose.
struct ColumnSelection {
  std::vector<int> columns;          // chosen columns of the recording's layout, in column order
  ColumnLayout layout;               // the writer's layout of the chosen columns
  T_CanLog_SigTab decoded;           // the recording's table with the signals not chosen freed
  T_CanLog_SigTab signals;           // the chosen signals in slots 0..n-1
  T_CanLog_Config config;            // the configuration with the chosen expressions at 0..m-1
  std::vector<int> gps_columns;      // GPS group index of each chosen GPS column
  std::vector<ChannelValue> values;  // the chosen columns' values, copied for every row
};

// Chooses the columns whose names (column_names, by the recording's layout) match one of the
// patterns. False with the first pattern that matches no column in *unmatched.
bool SelectColumns(const std::vector<std::string>& patterns, const ColumnLayout& layout,
                   const std::vector<WriterColumn>& all_columns, const T_CanLog_SigTab& sigs,
                   const T_CanLog_Config& cfg, ColumnSelection* selection, std::string* unmatched);

// The CAN messages of a Messages or dump output that the patterns choose: by message name (of
// the recording's configuration) or by identifier ("0x123", "291", "$123"; the whole identifier
// word with bus and format bits, or the 29-bit identifier alone).
class MessageSelection {
 public:
  // False with the first pattern that matches no message name and is no number in *unmatched.
  bool Select(const std::vector<std::string>& patterns, const T_CanLog_Config& cfg,
              std::string* unmatched);
  bool Contains(uint32_t id_word) const;

 private:
  std::vector<uint32_t> words_;  // identifier words chosen by name or number
  std::vector<uint32_t> ids_;    // 29-bit identifiers chosen by number
};

}  // namespace tessmar
