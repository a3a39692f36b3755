#include "writers/format_writers.h"

#include "writers/diadem_writer.h"
#include "writers/etas_ascii_writer.h"
#include "writers/stiegele_mdf_writer.h"
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

}  // namespace tessmar
