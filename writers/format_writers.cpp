#include "writers/format_writers.h"

#include "writers/diadem_writer.h"
#include "writers/dump_writer.h"
#include "writers/etas_ascii_writer.h"
#include "writers/mdf4_writer.h"
#include "writers/stiegele_mdf_writer.h"
#include "writers/text_writers.h"
#include "writers/vector_mdf_writer.h"

namespace tessmar {

namespace {

template <class W, auto... kArgs>
std::unique_ptr<Writer> Make() {
  return std::make_unique<W>(kArgs...);
}

constexpr unsigned kAnyType = OutputTypeBit(OutputType::kMessages) |
                              OutputTypeBit(OutputType::kSignals) |
                              OutputTypeBit(OutputType::kLogfileDump);
constexpr unsigned kNoMessages = kAnyType & ~OutputTypeBit(OutputType::kMessages);
constexpr double kMinInterval = 0.0001;

constexpr const char* kDiademAnnounce = "Writing DIAdem header file \"%s\"";
constexpr const char* kNoDiademMessages = "Cannot export a CAN MESSAGE FILE in DIAdem format yet";

// The file format list, in display order.
constexpr OutputFormatInfo kFormatTable[] = {
    {.code = kFormatText,
     .list_text = "Text",
     .cli_name = "text",
     .default_extension = ".txt",
     .create = Make<TextCsvWriter>,
     .output_types = kAnyType,
     .text_layout = true},
    {.code = kFormatCsvInternational,
     .list_text = "CSV, international",
     .cli_name = "csv",
     .default_extension = ".csv",
     .create = Make<TextCsvWriter>,
     .output_types = kAnyType,
     .column_separator = ColumnSeparator::kComma,
     .decimal_separator = DecimalSeparator::kPeriod,
     .text_layout = true},
    {.code = kFormatCsvGerman,
     .list_text = "\"CSV\", german",
     .cli_name = "csv-german",
     .default_extension = ".csv",
     .create = Make<TextCsvWriter>,
     .output_types = kAnyType,
     .separators_may_match = true,
     .text_layout = true},
    {.code = kFormatSemicolonCsvGerman,
     .list_text = "Semicolon-\"CSV\", german",
     .cli_name = "csv-semicolon",
     .default_extension = ".csv",
     .create = Make<TextCsvWriter>,
     .output_types = kAnyType,
     .column_separator = ColumnSeparator::kSemicolon,
     .decimal_separator = DecimalSeparator::kComma,
     .separators_may_match = true,
     .text_layout = true},
    {.code = kFormatDiademAscii,
     .list_text = "DIAdem, ASCII",
     .cli_name = "diadem-ascii",
     .default_extension = ".dat",
     .announce = kDiademAnnounce,
     .create = Make<DiademWriter, kDiademAscii>,
     .writer_mode = kDiademAscii,
     .output_types = kNoMessages,
     .refused_type_text = kNoDiademMessages,
     .column_separator = ColumnSeparator::kComma,
     .decimal_separator = DecimalSeparator::kPeriod,
     .no_headlines = true,
     .invalid_value = "9.9E+34",
     .needs_interval = true,
     .minimum_interval = kMinInterval},
    {.code = kFormatDiademInt32,
     .list_text = "DIAdem, INT32",
     .cli_name = "diadem-int32",
     .default_extension = ".dat",
     .announce = kDiademAnnounce,
     .create = Make<DiademWriter, kDiademInt32>,
     .writer_mode = kDiademInt32,
     .output_types = kNoMessages,
     .refused_type_text = kNoDiademMessages,
     .column_separator = ColumnSeparator::kComma,
     .decimal_separator = DecimalSeparator::kPeriod,
     .no_headlines = true,
     .invalid_value = "2147483646",
     .needs_interval = true,
     .minimum_interval = kMinInterval},
    {.code = kFormatDiademReal64,
     .list_text = "DIAdem, REAL64",
     .cli_name = "diadem-real64",
     .default_extension = ".dat",
     .announce = kDiademAnnounce,
     .create = Make<DiademWriter, kDiademReal64>,
     .writer_mode = kDiademReal64,
     .output_types = kNoMessages,
     .refused_type_text = kNoDiademMessages,
     .column_separator = ColumnSeparator::kComma,
     .decimal_separator = DecimalSeparator::kPeriod,
     .no_headlines = true,
     .invalid_value = "9.9E+34",
     .needs_interval = true,
     .minimum_interval = kMinInterval},
    {.code = kFormatVectorAscii,
     .list_text = "Vector-ASCII-comp.1",
     .cli_name = "vector-ascii",
     .default_extension = ".asc",
     .create = Make<VectorAsciiWriter>,
     .output_types = OutputTypeBit(OutputType::kMessages),
     .column_separator = ColumnSeparator::kBlank,
     .decimal_separator = DecimalSeparator::kPeriod,
     .no_headlines = true,
     .time_column1 = TimeColumnKind::kSeconds,
     .time_column2 = TimeColumnKind::kOff,
     .invalid_value = "",
     .write_interval = "0",
     .fixed_layout = true,
     .text_layout = true},
    {.code = kFormatVectorMdf,
     .list_text = "Vector MDF (\".dat\")",
     .cli_name = "vector-mdf",
     .default_extension = ".dat",
     .announce = "Writing VECTOR MDF header file \"%s\"",
     .create = Make<VectorMdfWriter>,
     .output_types = kAnyType,
     .no_headlines = true,
     .minimum_interval = kMinInterval,
     .separators_may_match = true},
    {.code = kFormatStiegeleMdf,
     .list_text = "Stiegele MDF",
     .cli_name = "stiegele-mdf",
     .default_extension = ".mdf",
     .announce = "Writing Stiegele MDF header file \"%s\"",
     .create = Make<StiegeleMdfWriter>,
     .output_types = kAnyType,
     .no_headlines = true,
     .minimum_interval = kMinInterval,
     .separators_may_match = true},
    {.code = kFormatEtasAscii,
     .list_text = "ETAS ASCII (\".ascii\")",
     .cli_name = "etas-ascii",
     .default_extension = ".ascii",
     .announce = "Writing header for ETAS INCA/MDA/ASCET \"ASCII\" file \"%s\"",
     .create = Make<EtasAsciiWriter>,
     .output_types = kAnyType,
     .no_headlines = true,
     .numeric_invalid_value_note = "Warning: ETAS 'AsciiItemFile' needs a NUMERIC "
                                   "'No-Value'-dummy ! Check the converter options.",
     .separators_may_match = true},
    {.code = kFormatMdf4,
     .list_text = "ASAM MDF4 (\".mf4\")",
     .cli_name = "mdf4",
     .default_extension = ".mf4",
     .create = Make<Mdf4Writer>,
     .output_types = kAnyType,
     .no_headlines = true,
     .minimum_interval = kMinInterval,
     .separators_may_match = true},
};

}  // namespace

const std::span<const OutputFormatInfo> kOutputFormats(kFormatTable);

std::unique_ptr<Writer> CreateFormatWriter(int format_code) {
  const OutputFormatInfo* info = FindOutputFormat(format_code);
  if (!info || info->text_layout || !info->create) return nullptr;
  return info->create();
}

std::unique_ptr<Writer> CreateWriter(OutputType type, int format_code, std::string* why) {
  if (type == OutputType::kLogfileDump) {
    // The file format does not apply to the dump (its field is greyed out): always text.
    return std::make_unique<LogfileDumpWriter>();
  }
  const OutputFormatInfo* info = FindOutputFormat(format_code);
  if (info && info->create && !(info->output_types & OutputTypeBit(type))) {
    if (why) {
      *why = std::string("the format '") + info->list_text +
             "' is not written for the output type " + OutputTypeName(static_cast<int>(type));
    }
    return nullptr;
  }
  if (info && info->create) return info->create();
  if (why) {
    *why = info ? std::string("the format '") + info->list_text + "' is not available"
                : "unknown output format code " + std::to_string(format_code);
  }
  return nullptr;
}

}  // namespace tessmar
