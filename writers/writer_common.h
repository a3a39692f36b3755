#pragma once
// Helpers shared by the output writers of this folder.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

#include "common/buffered_file.h"
#include "logfile/signal_values.h"  // TruncateToInt64
#include "writers/gps_settings.h"
#include "writers/writer.h"

namespace tessmar {

// Companion file name: everything from the last dot of the file name on is replaced by
// new_extension (given with its dot). A dot in a folder name does not count. When the file name
// has no dot, the path is returned unchanged and *had_dot (when given) is false.
std::filesystem::path ReplaceFromLastDot(const std::filesystem::path& path,
                                         std::string_view new_extension, bool* had_dot = nullptr);

// The file of a writer that names its own file: the path without everything from the last dot of
// its file name, plus extension (given with its dot).
std::filesystem::path OwnFilePath(const std::filesystem::path& path, std::string_view extension);

// The file name without folder and without everything from its last dot.
std::string FileStem(const std::filesystem::path& path);

// The build date as the compiler gave it to the library ("Mmm DD YYYY"); output headers name it.
const char* ProgramBuildDate();

// The value as a 4-byte float; values beyond the float range become infinities instead of
// undefined behaviour. Inline: the MDF writers call it for every cell.
inline float ToFloat(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// Record kinds of the MDF formats for a GPS column, by its whole source text ignoring case.
enum class GpsSourceKind { kOther, kLatLon, kTimeDate };
GpsSourceKind ClassifyGpsSource(std::string_view source);

// "Could not write output file (<system error text>)": the error text of a failed write.
std::string WriteErrorText(const BufferedFile& file);

}  // namespace tessmar
