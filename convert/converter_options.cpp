#include "convert/converter_options.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

#include "common/c_locale.h"
#include "common/message_output.h"

namespace tessmar {

namespace {

const char* const kColumnSeparatorNames[kColumnSeparatorCount] = {
    "Space character", "Tab character", "Comma  ( , )", "Semicolon ( ; )"};
const char kColumnSeparatorChars[kColumnSeparatorCount] = {' ', '\t', ',', ';'};
const char* const kDecimalSeparatorNames[kDecimalSeparatorCount] = {"period ( . )", "comma ( , )"};
const char* const kTimeColumnNames[kTimeColumnKindCount] = {
    "no time channel (off)", "implicit (fixed interval)", "Seconds",
    "Milliseconds",          "YYYY-MM-DD hh:mm:ss",       "YYYY-MM-DD hh:mm:ss.ss"};

constexpr double kMinWriteInterval = 0.0001;

std::string FormatSeconds(double seconds) { return StrPrintf("%lg", seconds); }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

}  // namespace

char ColumnSeparatorChar(ColumnSeparator separator) {
  const int i = ChoiceIndex(separator);
  return (i >= 0 && i < kColumnSeparatorCount) ? kColumnSeparatorChars[i] : ' ';
}
char DecimalSeparatorChar(DecimalSeparator separator) {
  return separator == DecimalSeparator::kComma ? ',' : '.';
}
const char* ColumnSeparatorName(ColumnSeparator separator) {
  const int i = ChoiceIndex(separator);
  return (i >= 0 && i < kColumnSeparatorCount) ? kColumnSeparatorNames[i] : nullptr;
}
const char* DecimalSeparatorName(DecimalSeparator separator) {
  const int i = ChoiceIndex(separator);
  return (i >= 0 && i < kDecimalSeparatorCount) ? kDecimalSeparatorNames[i] : nullptr;
}
const char* TimeColumnName(TimeColumnKind kind) {
  const int i = ChoiceIndex(kind);
  return (i >= 0 && i < kTimeColumnKindCount) ? kTimeColumnNames[i] : nullptr;
}

// A choice from its stored integer; outside the list the first choice (value 0) of every list.
template <typename Choice>
Choice ChoiceFromIndex(int index, int count) {
  return index >= 0 && index < count ? static_cast<Choice>(index) : Choice{};
}

OutputType OutputTypeFromIndex(int index) {
  return ChoiceFromIndex<OutputType>(index, kOutputTypeCount);
}
ColumnSeparator ColumnSeparatorFromIndex(int index) {
  return ChoiceFromIndex<ColumnSeparator>(index, kColumnSeparatorCount);
}
DecimalSeparator DecimalSeparatorFromIndex(int index) {
  return ChoiceFromIndex<DecimalSeparator>(index, kDecimalSeparatorCount);
}
TimeColumnKind TimeColumnKindFromIndex(int index) {
  return ChoiceFromIndex<TimeColumnKind>(index, kTimeColumnKindCount);
}

double ParseSeconds(const std::string& text) {
  std::string copy = text;
  for (char& c : copy) {
    if (c == ',') c = '.';
  }
  char* end = nullptr;
  double v = StrtodC(copy.c_str(), &end);
  // Unreadable, NaN or infinite: no usable interval (an infinite one would never write a row).
  if (end == copy.c_str() || !std::isfinite(v)) return 0;
  return v;
}

OptionCheckResult CheckConverterOptions(ConverterOptions& o) {
  OptionCheckResult r;
  // Values cast from outside the lists (a settings file of another version) become the first.
  o.output_type = OutputTypeFromIndex(ChoiceIndex(o.output_type));
  if (o.headlines < 0) o.headlines = 0;
  if (o.headlines > 3) o.headlines = 3;
  o.column_separator = ColumnSeparatorFromIndex(ChoiceIndex(o.column_separator));
  o.decimal_separator = DecimalSeparatorFromIndex(ChoiceIndex(o.decimal_separator));
  o.time_column1 = TimeColumnKindFromIndex(ChoiceIndex(o.time_column1));
  o.time_column2 = TimeColumnKindFromIndex(ChoiceIndex(o.time_column2));
  if (o.invalid_signal.size() > kMaxInvalidSignalLength) {
    o.invalid_signal.resize(kMaxInvalidSignalLength);
  }
  double interval = ParseSeconds(o.write_interval);

  if (o.output_type == OutputType::kLogfileDump) {
    r.format_disabled = r.separators_disabled = r.time_columns_disabled = true;
    r.invalid_value_disabled = r.write_interval_disabled = r.headlines_disabled = true;
  }

  // What the format fixes.
  const int code = o.output_file_format;
  const OutputFormatInfo* format = FindOutputFormat(code);
  if (format) {
    const OutputFormatInfo& f = *format;
    if (!(f.output_types & OutputTypeBit(o.output_type)) && !f.refused_type_text) {
      for (int type = 0; type < kOutputTypeCount; ++type) {
        if (f.output_types & OutputTypeBit(static_cast<OutputType>(type))) {
          o.output_type = static_cast<OutputType>(type);
          break;
        }
      }
    }
    if (f.column_separator) o.column_separator = *f.column_separator;
    if (f.decimal_separator) o.decimal_separator = *f.decimal_separator;
    if (f.no_headlines) o.headlines = 0;
    if (f.time_column1) o.time_column1 = *f.time_column1;
    if (f.time_column2) o.time_column2 = *f.time_column2;
    if (f.invalid_value) o.invalid_signal = f.invalid_value;
    if (f.write_interval) {
      o.write_interval = f.write_interval;
      interval = ParseSeconds(o.write_interval);
    }
    if (f.fixed_layout) {
      r.output_type_disabled = r.separators_disabled = r.headlines_disabled = true;
      r.time_columns_disabled = r.invalid_value_disabled = r.write_interval_disabled = true;
    }
    if (f.numeric_invalid_value_note) {
      const char first = o.invalid_signal.empty() ? '\0' : o.invalid_signal[0];
      if (!((first >= '0' && first <= '9') || first == '-')) {
        r.invalid_value_red = true;
        ShowMessage(kMsgStatus, Tr(f.numeric_invalid_value_note));
      }
    }
    if (!(f.output_types & OutputTypeBit(o.output_type))) {
      r.accepted = false;
      r.output_type_red = true;
      r.box_text = f.refused_type_text;
      r.box_caption = "Logfile Converter Warning (SERIOUS!)";
    }
  }

  const bool needs_interval =
      o.output_type == OutputType::kSignals || (format && format->needs_interval);
  if (needs_interval && interval < kMinWriteInterval) {
    o.write_interval = "0.0001";
    r.write_interval_red = true;
    if (r.box_text.empty()) {
      r.box_text =
          "For the currently selected export configuration, a valid\r\nwrite-interval of 0.1 ms "
          "or more MUST be specified.\r\n\n Export without a valid write-interval\r\n  is only "
          "possible for output as MESSAGES .\r\n";
      r.box_caption = "Logfile Converter Warning (SERIOUS!)";
    }
  }
  return r;
}

double UsableWriteInterval(double interval, int message_rate_limit) {
  if (interval == 0 || interval >= kMinWriteInterval) return interval;
  return message_rate_limit > 0 ? message_rate_limit * 0.001 : 0.01;
}

double ReadWriteInterval(ConverterOptions& options, int message_rate_limit) {
  double interval = ParseSeconds(options.write_interval);
  if (interval != 0 && interval < kMinWriteInterval) {
    const double replaced = UsableWriteInterval(interval, message_rate_limit);
    ShowMessageF(kMsgWarning,
                 "Warning: Output write interval was illegal. Changed from %lg to %lg seconds.",
                 interval, replaced);
    options.write_interval = FormatSeconds(replaced);
    interval = replaced;
  }
  return interval;
}

std::filesystem::path ReplaceExtension(const std::filesystem::path& path,
                                       const std::string& new_extension) {
  std::string name = path.filename().string();
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  return path.parent_path() / (name + new_extension);
}

std::filesystem::path MakeOutputPath(const std::filesystem::path& output_dir,
                                     const std::filesystem::path& source, int format_code) {
  const OutputFormatInfo* info = FindOutputFormat(format_code);
  const std::string extension = info ? info->default_extension : ".txt";
  std::string name = source.filename().string();
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && name.size() - dot - 1 <= 4) {
    name.resize(dot);
  }
  name += extension;
  const std::filesystem::path dir = output_dir.empty() ? source.parent_path() : output_dir;
  return dir / name;
}

int CombineFlags(bool combine, int source_index, int source_count) {
  if (!combine) return 0;
  int flags = 0;
  if (source_index > 0) flags |= kCombineAppend;
  if (source_index < source_count - 1) flags |= kCombineMoreFollow;
  return flags;
}

bool ApplyBatchOutputName(const std::filesystem::path& output_name, ConverterOptions& options) {
  std::string ext = output_name.extension().string();
  if (ext.empty()) return false;
  ext.erase(0, 1);
  if (StartsWithNoCase(ext, "txt")) {
    options.output_file_format = kFormatText;
  } else if (StartsWithNoCase(ext, "csv")) {
    options.output_file_format = kFormatCsvInternational;
    options.output_type = OutputType::kSignals;
  } else if (StartsWithNoCase(ext, "dat")) {
    // ".dat" is Vector MDF's own extension too: a selected Vector MDF stays.
    if (!IsDiademFormat(options.output_file_format) &&
        options.output_file_format != kFormatVectorMdf) {
      options.output_file_format = kFormatDiademAscii;
    }
    options.output_type = OutputType::kSignals;
  } else if (StartsWithNoCase(ext, "asc")) {
    // ".ascii" is ETAS ASCII's own extension: a selected ETAS ASCII stays.
    if (options.output_file_format == kFormatEtasAscii && ext.size() == 5 &&
        StartsWithNoCase(ext, "ascii")) {
      return true;
    }
    options.output_file_format = kFormatVectorAscii;
    options.output_type = OutputType::kMessages;
  } else if (ext.size() == 3 && StartsWithNoCase(ext, "mf4")) {
    options.output_file_format = kFormatMdf4;
    if (options.output_type != OutputType::kMessages) {
      options.output_type = OutputType::kSignals;
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace tessmar
