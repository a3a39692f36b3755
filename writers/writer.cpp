#include "writers/writer.h"

#include "common/message_output.h"

namespace tessmar {

namespace {
const char* const kOutputTypeNames[kOutputTypeCount] = {"Messages", "Signals", "Logfile Dump"};
}  // namespace

std::string Writer::CreateFailureMessage(const std::filesystem::path& output_path) const {
  return StrPrintf(Tr("Error: Could not create \"%s\" (%s) !"), FailedFileOr(output_path).c_str(),
                   error_text().c_str());
}

std::string Writer::WriteFailureMessage(const std::filesystem::path& output_path) const {
  return StrPrintf(Tr("Error: Could not write \"%s\" (%s) ! The output file is incomplete."),
                   FailedFileOr(output_path).c_str(), error_text().c_str());
}

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

const OutputFormatInfo* FindOutputFormatByCliName(std::string_view name) {
  for (const OutputFormatInfo& info : kOutputFormats) {
    if (name == info.cli_name) return &info;
  }
  return nullptr;
}

int OutputFormatListIndex(int code) {
  const OutputFormatInfo* info = FindOutputFormat(code);
  return info ? static_cast<int>(info - kOutputFormats.data()) : -1;
}

bool IsDiademFormat(int code) {
  return code == kFormatDiademAscii || code == kFormatDiademInt32 || code == kFormatDiademReal64;
}

}  // namespace tessmar
