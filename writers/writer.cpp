#include "writers/writer.h"

namespace tessmar {

namespace {
const char* const kOutputTypeNames[kOutputTypeCount] = {"Messages", "Signals", "Logfile Dump"};
}  // namespace

const OutputFormatInfo kOutputFormats[kOutputFormatCount] = {
    {kFormatText, "Text", ".txt"},
    {kFormatCsvInternational, "CSV, international", ".csv"},
    {kFormatCsvGerman, "\"CSV\", german", ".csv"},
    {kFormatSemicolonCsvGerman, "Semicolon-\"CSV\", german", ".csv"},
    {kFormatDiademAscii, "DIAdem, ASCII", ".dat"},
    {kFormatDiademInt32, "DIAdem, INT32", ".dat"},
    {kFormatDiademReal64, "DIAdem, REAL64", ".dat"},
    {kFormatVectorAscii, "Vector-ASCII-comp.1", ".asc"},
    {kFormatVectorMdf, "Vector MDF (\".dat\")", ".dat"},
    {kFormatStiegeleMdf, "Stiegele MDF", ".mdf"},
    {kFormatEtasAscii, "ETAS ASCII (\".ascii\")", ".ascii"},
};

const char* OutputTypeName(int index) {
  if (index < 0 || index >= kOutputTypeCount) return nullptr;
  return kOutputTypeNames[index];
}

const OutputFormatInfo* FindOutputFormat(int code) {
  for (const OutputFormatInfo& info : kOutputFormats) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

int OutputFormatListIndex(int code) {
  for (int i = 0; i < kOutputFormatCount; ++i) {
    if (kOutputFormats[i].code == code) return i;
  }
  return -1;
}

bool IsDiademFormat(int code) {
  return code == kFormatDiademAscii || code == kFormatDiademInt32 || code == kFormatDiademReal64;
}

bool IsBuiltInFormat(int code) {
  return code == kFormatText || code == kFormatCsvInternational || code == kFormatCsvGerman ||
         code == kFormatSemicolonCsvGerman || code == kFormatVectorAscii;
}

}  // namespace tessmar
