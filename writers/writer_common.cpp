#include "writers/writer_common.h"

#include <cmath>

#include "writers/gps_output.h"

namespace tessmar {

std::filesystem::path ReplaceFromLastDot(const std::filesystem::path& path,
                                         std::string_view new_extension, bool* had_dot) {
  std::string name = path.filename().string();
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    if (had_dot) *had_dot = false;
    return path;
  }
  if (had_dot) *had_dot = true;
  name.resize(dot);
  name += new_extension;
  return path.parent_path() / name;
}

std::filesystem::path OwnFilePath(const std::filesystem::path& path, std::string_view extension) {
  bool had_dot = false;
  std::filesystem::path p = ReplaceFromLastDot(path, extension, &had_dot);
  if (!had_dot) p += std::string(extension);
  return p;
}

std::string FileStem(const std::filesystem::path& path) {
  std::string name = path.filename().string();
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

const char* ProgramBuildDate() { return __DATE__; }

GpsSourceKind ClassifyGpsSource(std::string_view source) {
  auto equals = [&](std::string_view word) {
    if (source.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      char c = source[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != word[i]) return false;
    }
    return true;
  };
  if (equals("gps.lat") || equals("gps.lon")) return GpsSourceKind::kLatLon;
  if (equals("gps.time") || equals("gps.date")) return GpsSourceKind::kTimeDate;
  return GpsSourceKind::kOther;
}

std::string WriteErrorText(const BufferedFile& file) {
  std::string system = file.last_error_text();
  if (system.empty()) system = "write error";
  return "Could not write output file (" + system + ")";
}

}  // namespace tessmar
