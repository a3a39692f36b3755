#include "convert/convert_option_rules.h"

#include <cstdlib>

#include "common/c_locale.h"
#include "convert/channel_selection.h"

namespace tessmar {

namespace {

constexpr OptionRule kOptionRules[] = {
    {"--raw", "",
     [](const std::string&, ConvertChoices& c) {
       c.options.scaled_values = false;
       return true;
     }},
    {"--scaled", "",
     [](const std::string&, ConvertChoices& c) {
       c.options.scaled_values = true;
       return true;
     }},
    {"--ignore-logged-sigdefs", "",
     [](const std::string&, ConvertChoices& c) {
       c.options.ignore_logged_sigdefs = true;
       return true;
     }},
    {"--combine", "",
     [](const std::string&, ConvertChoices& c) {
       c.options.combine_output = true;
       return true;
     }},
    {"--skip-until-valid", "",
     [](const std::string&, ConvertChoices& c) {
       c.options.skip_until_all_valid = true;
       return true;
     }},
    {"--output-type", "messages, signals, dump",
     [](const std::string& v, ConvertChoices& c) {
       c.explicit_type = true;
       return Choose(kOutputTypes, v, c.options.output_type);
     }},
    {"--format", "see --help",
     [](const std::string& v, ConvertChoices& c) {
       const OutputFormatInfo* format = FindOutputFormatByCliName(v);
       if (format) c.options.output_file_format = format->code;
       c.explicit_format = true;
       return format != nullptr;
     }},
    {"--time1", "off, implicit, seconds, milliseconds, datetime, datetime-fraction",
     [](const std::string& v, ConvertChoices& c) {
       return Choose(kTimeKinds, v, c.options.time_column1);
     }},
    {"--time2", "off, implicit, seconds, milliseconds, datetime, datetime-fraction",
     [](const std::string& v, ConvertChoices& c) {
       return Choose(kTimeKinds, v, c.options.time_column2);
     }},
    {"--separator", "blank, tab, comma, semicolon",
     [](const std::string& v, ConvertChoices& c) {
       return Choose(kSeparators, v, c.options.column_separator);
     }},
    {"--decimal", "period, comma",
     [](const std::string& v, ConvertChoices& c) {
       return Choose(kDecimals, v, c.options.decimal_separator);
     }},
    {"--headlines", "0..3",
     [](const std::string& v, ConvertChoices& c) {
       char* end = nullptr;
       const long n = std::strtol(v.c_str(), &end, 10);
       if (v.empty() || *end != '\0' || n < 0 || n > 3) return false;
       c.options.headlines = static_cast<int>(n);
       return true;
     }},
    {"--interval", "seconds",
     [](const std::string& v, ConvertChoices& c) {
       char* end = nullptr;
       const double seconds = StrtodC(v.c_str(), &end);
       if (v.empty() || *end != '\0' || !(seconds >= 0) || seconds > 1e6) return false;
       c.options.write_interval = v;
       return true;
     }},
    {"--invalid", "",
     [](const std::string& v, ConvertChoices& c) {
       c.options.invalid_signal = v.substr(0, kMaxInvalidSignalLength);
       return true;
     }},
    {"--outdir", "",
     [](const std::string& v, ConvertChoices& c) {
       c.outdir = v;
       return true;
     }},
    {"--format-thread", "on, off, auto",
     [](const std::string& v, ConvertChoices& c) {
       using FormatThread = ConversionRequest::FormatThread;
       constexpr Named<FormatThread> kModes[] = {
           {"on", FormatThread::kOn}, {"off", FormatThread::kOff}, {"auto", FormatThread::kAuto}};
       return Choose(kModes, v, c.format_thread);
     }},
    {"--channel", "a name pattern",
     [](const std::string& v, ConvertChoices& c) {
       if (SplitChannelPatterns(v).empty()) return false;
       if (c.channels_given) c.options.channels += ' ';
       if (!c.channels_given) c.options.channels.clear();
       c.options.channels += v;
       c.channels_given = true;
       return true;
     }},
    {"--start", "seconds or \"YYYY-MM-DD hh:mm:ss[.ss]\"",
     [](const std::string& v, ConvertChoices& c) {
       std::optional<SpanBound> bound;
       if (!ParseSpanBound(v, &bound)) return false;
       c.options.start_time = v;
       return true;
     }},
    {"--stop", "seconds or \"YYYY-MM-DD hh:mm:ss[.ss]\"",
     [](const std::string& v, ConvertChoices& c) {
       std::optional<SpanBound> bound;
       if (!ParseSpanBound(v, &bound)) return false;
       c.options.stop_time = v;
       return true;
     }},
    {"--breakpoint", "\"YYYY-MM-DD hh:mm:ss\"",
     [](const std::string& v, ConvertChoices& c) {
       if (!v.empty() && !IsDateTimeText(v)) return false;
       c.options.conditional_breakpoint = v;
       return true;
     }},
};

}  // namespace

bool IsDateTimeText(std::string_view text) {
  constexpr std::string_view kShape = "0000-00-00 00:00:00";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return false;
  }
  auto field = [&](std::size_t at, std::size_t len) {
    int v = 0;
    for (std::size_t i = at; i < at + len; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  const int year = field(0, 4), month = field(5, 2), day = field(8, 2);
  if (month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  return field(11, 2) < 24 && field(14, 2) < 60 && field(17, 2) < 60;
}

const OptionRule* FindOptionRule(std::string_view option) {
  for (const OptionRule& rule : kOptionRules) {
    if (rule.option == option) return &rule;
  }
  return nullptr;
}

bool MakeOutputFolders(const std::filesystem::path& output_dir, std::size_t source_count,
                       const std::vector<std::filesystem::path>& output_names,
                       std::vector<std::filesystem::path>* made, std::string* error) {
  std::vector<std::filesystem::path> folders;
  if (source_count > output_names.size() && !output_dir.empty()) folders.push_back(output_dir);
  for (const std::filesystem::path& out : output_names) {
    if (out.has_parent_path()) folders.push_back(out.parent_path());
  }
  for (const std::filesystem::path& folder : folders) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) continue;
    if (!std::filesystem::create_directories(folder, ec) || ec) {
      if (error) {
        *error = "cannot create the output folder \"" + folder.string() + "\" (" +
                 (ec ? ec.message() : std::string("not a folder")) + ")";
      }
      return false;
    }
    if (made) made->push_back(folder);
  }
  return true;
}

}  // namespace tessmar
