#pragma once
// The options of a conversion by their command-line names ("--format csv", "--interval 0.01"):
// the names of each choice and what every option sets in the converter options. tessmar-cli and
// the Python package read their options through this one table, so that both take the same
// values with the same effect.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/conversion_plan.h"
#include "convert/converter_options.h"
#include "writers/writer.h"

namespace tessmar {

// The command line's names of a choice; the first name of a value is the one shown.
template <typename Choice>
struct Named {
  const char* name;
  Choice value;
};

constexpr Named<OutputType> kOutputTypes[] = {{"messages", OutputType::kMessages},
                                              {"signals", OutputType::kSignals},
                                              {"dump", OutputType::kLogfileDump}};
constexpr Named<TimeColumnKind> kTimeKinds[] = {
    {"off", TimeColumnKind::kOff},
    {"implicit", TimeColumnKind::kImplicit},
    {"seconds", TimeColumnKind::kSeconds},
    {"milliseconds", TimeColumnKind::kMilliseconds},
    {"datetime", TimeColumnKind::kDateTime},
    {"datetime-fraction", TimeColumnKind::kDateTimeFraction}};
constexpr Named<ColumnSeparator> kSeparators[] = {{"blank", ColumnSeparator::kBlank},
                                                  {"space", ColumnSeparator::kBlank},
                                                  {"tab", ColumnSeparator::kTab},
                                                  {"comma", ColumnSeparator::kComma},
                                                  {"semicolon", ColumnSeparator::kSemicolon}};
constexpr Named<DecimalSeparator> kDecimals[] = {{"period", DecimalSeparator::kPeriod},
                                                 {"point", DecimalSeparator::kPeriod},
                                                 {"comma", DecimalSeparator::kComma}};

template <typename Choice, std::size_t N>
std::optional<Choice> Lookup(const Named<Choice> (&table)[N], std::string_view name) {
  for (const Named<Choice>& nv : table) {
    if (name == nv.name) return nv.value;
  }
  return std::nullopt;
}

template <typename Choice, std::size_t N>
std::string ValueName(const Named<Choice> (&table)[N], Choice value) {
  for (const Named<Choice>& nv : table) {
    if (nv.value == value) return nv.name;
  }
  return std::to_string(static_cast<int>(value));
}

// What the options of a conversion set, beside the converter options of the settings file.
struct ConvertChoices {
  ConverterOptions options;
  std::filesystem::path outdir;
  bool explicit_format = false;
  bool explicit_type = false;
  bool channels_given = false;  // the first --channel replaces the settings file's patterns
  ConversionRequest::FormatThread format_thread = ConversionRequest::FormatThread::kAuto;
};

// One option of a conversion: what it sets; false for a value it does not take ("values" says
// which it takes). Options without a rule (--outdir aside, the GPS options and those of the run)
// are read elsewhere.
struct OptionRule {
  std::string_view option;
  const char* values;
  bool (*apply)(const std::string& value, ConvertChoices& c);
};

// Sets `into` to the choice named `value`; false for a name the table does not know.
template <typename Choice, std::size_t N>
bool Choose(const Named<Choice> (&table)[N], const std::string& value, Choice& into) {
  const std::optional<Choice> v = Lookup(table, value);
  if (v) into = *v;
  return v.has_value();
}

// "YYYY-MM-DD hh:mm:ss" with a real date and time of day.
bool IsDateTimeText(std::string_view text);

// The rule of an option ("--format"), nullptr for an option without one.
const OptionRule* FindOptionRule(std::string_view option);

// Makes the output folders of a conversion that do not exist yet, as "mkdir -p" would: the
// output folder when a source has no output name of its own, and the folder of every output name.
// The folders made are added to *made (optional). False after the first folder that could not be
// made; *error then says which and why ("cannot create the output folder ...").
bool MakeOutputFolders(const std::filesystem::path& output_dir, std::size_t source_count,
                       const std::vector<std::filesystem::path>& output_names,
                       std::vector<std::filesystem::path>* made, std::string* error);

}  // namespace tessmar
