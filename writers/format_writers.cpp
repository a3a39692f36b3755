#include "writers/format_writers.h"

#include "writers/diadem_writer.h"
#include "writers/dump_writer.h"
#include "writers/etas_ascii_writer.h"
#include "writers/stiegele_mdf_writer.h"
#include "writers/text_writers.h"
#include "writers/vector_mdf_writer.h"

namespace tessmar {

std::unique_ptr<Writer> CreateFormatWriter(int format_code) {
  switch (format_code) {
    case kFormatDiademAscii:
      return std::make_unique<DiademWriter>(kDiademAscii);
    case kFormatDiademInt32:
      return std::make_unique<DiademWriter>(kDiademInt32);
    case kFormatDiademReal64:
      return std::make_unique<DiademWriter>(kDiademReal64);
    case kFormatVectorMdf:
      return std::make_unique<VectorMdfWriter>();
    case kFormatStiegeleMdf:
      return std::make_unique<StiegeleMdfWriter>();
    case kFormatEtasAscii:
      return std::make_unique<EtasAsciiWriter>();
  }
  return nullptr;
}

std::unique_ptr<Writer> CreateWriter(OutputType type, int format_code, std::string* why) {
  if (type == OutputType::kLogfileDump) {
    // The file format does not apply to the dump (its field is greyed out): always text.
    return std::make_unique<LogfileDumpWriter>();
  }
  switch (format_code) {
    case kFormatText:
    case kFormatCsvInternational:
    case kFormatCsvGerman:
    case kFormatSemicolonCsvGerman:
      return std::make_unique<TextCsvWriter>();
    case kFormatVectorAscii:
      if (type != OutputType::kMessages) {
        if (why) *why = "Vector ASCII is written only for the output type Messages";
        return nullptr;
      }
      return std::make_unique<VectorAsciiWriter>();
    default:
      break;
  }
  if (std::unique_ptr<Writer> w = CreateFormatWriter(format_code)) return w;
  if (why) {
    const OutputFormatInfo* info = FindOutputFormat(format_code);
    *why = info ? std::string("the format '") + info->list_text + "' is not available"
                : "unknown output format code " + std::to_string(format_code);
  }
  return nullptr;
}

}  // namespace tessmar
