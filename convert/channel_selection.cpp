#include "convert/channel_selection.h"

#include <algorithm>
#include <cmath>

#include "candb/signal_table.h"
#include "common/c_locale.h"
#include "common/text_readers.h"
#include "writers/date_time_format.h"

namespace tessmar {

std::vector<std::string> SplitChannelPatterns(const std::string& text) {
  std::vector<std::string> patterns;
  std::string current;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"' && current.empty()) {
      // An exact name: as far as the text reader takes the quoted text.
      std::string_view rest = std::string_view(text).substr(i);
      const std::size_t before = rest.size();
      ReadText(rest);
      const std::size_t used = before - rest.size();
      patterns.push_back(text.substr(i, used));
      i += used;
    } else if (c == ' ' || c == '\t' || c == ',' || c == ';') {
      if (!current.empty()) patterns.push_back(current);
      current.clear();
      ++i;
    } else {
      current += c;
      ++i;
    }
  }
  if (!current.empty()) patterns.push_back(current);
  return patterns;
}

bool ChannelPatternMatches(std::string_view name, const std::string& pattern) {
  if (!pattern.starts_with('"')) return MatchPattern(name, pattern);
  std::string_view quoted = pattern;
  return ReadText(quoted) == name;
}

std::string ExactChannelPattern(std::string_view name) { return QuoteText(name); }

namespace {

// "YYYY-MM-DD hh:mm:ss" with an optional fraction of the second: digits where the pattern has
// letters, the pattern's other characters as they are.
bool HasDateTimeShape(const std::string& text) {
  const std::string_view shape = kDateTimePattern;
  if (text.size() < shape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (i < shape.size()) {
      const bool letter = shape[i] >= 'A' && shape[i] <= 'z';
      if (letter ? !digit : text[i] != shape[i]) return false;
    } else if (i == shape.size() ? text[i] != '.' : !digit) {
      return false;
    }
  }
  return text.size() != shape.size() + 1;  // a period needs digits after it
}

// A pattern as the messages name it: an exact name without its quotes.
std::string UnquotedPattern(const std::string& pattern) {
  if (!pattern.starts_with('"')) return pattern;
  std::string_view quoted = pattern;
  return ReadText(quoted);
}

}  // namespace

bool ParseSpanBound(const std::string& text, std::optional<SpanBound>* out) {
  out->reset();
  if (text.empty()) return true;
  SpanBound bound;
  if (HasDateTimeShape(text)) {
    const bool fraction = text.size() > std::string_view(kDateTimePattern).size();
    bound.absolute = true;
    bound.seconds = ParseDateTime(text, fraction ? kDateTimeFractionPattern : kDateTimePattern);
    if (fraction) {
      // The pattern reads as many fraction digits as it has 's' after the period; take all.
      const std::string digits = "0" + text.substr(std::string_view(kDateTimePattern).size());
      bound.seconds = std::floor(bound.seconds) + StrtodC(digits.c_str(), nullptr);
    }
  } else {
    char* end = nullptr;
    bound.seconds = StrtodC(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(bound.seconds) || bound.seconds < 0) {
      return false;
    }
  }
  *out = bound;
  return true;
}

bool CheckSelectionOptions(const std::string& start, const std::string& stop, std::string* error) {
  std::optional<SpanBound> from, until;
  for (const auto& [text, bound, what] :
       {std::tuple{&start, &from, "Start"}, std::tuple{&stop, &until, "Stop"}}) {
    if (!ParseSpanBound(*text, bound)) {
      *error = std::string("Error: ") + what + " time \"" + *text +
               "\" is neither seconds nor \"YYYY-MM-DD hh:mm:ss[.ss]\" .";
      return false;
    }
  }
  if (from && until && from->absolute == until->absolute && until->seconds < from->seconds) {
    *error = "Error: Stop time \"" + stop + "\" lies before the start time \"" + start + "\" .";
    return false;
  }
  return true;
}

bool SelectColumns(const std::vector<std::string>& patterns, const ColumnLayout& layout,
                   const std::vector<WriterColumn>& all_columns, const T_CanLog_SigTab& sigs,
                   const T_CanLog_Config& cfg, ColumnSelection* selection, std::string* unmatched) {
  ColumnSelection& s = *selection;
  s.columns.clear();
  s.gps_columns.clear();
  std::vector<bool> pattern_used(patterns.size(), false);
  for (int c = 0; c < layout.total; ++c) {
    const WriterColumn& col = all_columns[static_cast<std::size_t>(c)];
    if (!col.used) continue;
    bool chosen = false;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
      if (ChannelPatternMatches(col.name, patterns[p])) {
        chosen = true;
        pattern_used[p] = true;
      }
    }
    if (chosen) s.columns.push_back(c);
  }
  for (std::size_t p = 0; p < patterns.size(); ++p) {
    if (!pattern_used[p]) {
      *unmatched = UnquotedPattern(patterns[p]);
      return false;
    }
  }

  s.decoded = sigs;
  s.signals = T_CanLog_SigTab{};
  s.config = cfg;
  s.config.Exp.fill(T_CanLog_ExprDef{});
  std::vector<bool> signal_chosen(MAX_LOGGED_SIGNALS, false);
  int signal_count = 0, expression_count = 0;
  for (const int c : s.columns) {
    int index = 0;
    const ColumnGroup group = layout.GroupOf(c, &index);
    const auto i = static_cast<std::size_t>(index);
    if (group == ColumnGroup::kSignal) {
      signal_chosen[i] = true;
      s.signals[static_cast<std::size_t>(signal_count++)] = sigs[i];
    } else if (group == ColumnGroup::kExpression) {
      s.config.Exp[static_cast<std::size_t>(expression_count++)] = cfg.Exp[i];
    } else if (group == ColumnGroup::kGps) {
      s.gps_columns.push_back(index);
    }
  }
  for (std::size_t i = 0; i < MAX_LOGGED_SIGNALS; ++i) {
    if (!signal_chosen[i]) s.decoded[i].id = kCanIdFree;
  }
  s.layout = MakeColumnLayout(signal_count, expression_count,
                              static_cast<int>(s.gps_columns.size()), layout.gps_before);
  s.values.assign(s.columns.size(), ChannelValue{});
  return true;
}

bool MessageSelection::Select(const std::vector<std::string>& patterns, const T_CanLog_Config& cfg,
                              std::string* unmatched) {
  words_.clear();
  ids_.clear();
  for (const std::string& pattern : patterns) {
    bool matched = false;
    for (const T_CanLog_MsgDef& m : cfg.Msg) {
      if (m.used() && ChannelPatternMatches(TextOf(m.mn), pattern)) {
        words_.push_back(m.id);
        matched = true;
      }
    }
    std::string_view rest = pattern;
    bool digits = false;
    const uint32_t number = ReadUnsigned(rest, &digits);
    if (digits && rest.empty()) {
      ((number & ~kCanIdMask) != 0 ? words_ : ids_).push_back(number);
      matched = true;
    }
    if (!matched) {
      *unmatched = UnquotedPattern(pattern);
      return false;
    }
  }
  return true;
}

bool MessageSelection::Contains(uint32_t id_word) const {
  return std::find(words_.begin(), words_.end(), id_word) != words_.end() ||
         std::find(ids_.begin(), ids_.end(), id_word & kCanIdMask) != ids_.end();
}

}  // namespace tessmar
