#include "convert/output_names.h"

#include <system_error>

namespace tessmar {

std::string RunOutputNames::Key(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::weakly_canonical(path, ec);
  if (ec) full = std::filesystem::absolute(path, ec).lexically_normal();
  return full.string();
}

std::filesystem::path RunOutputNames::Distinct(const std::filesystem::path& path) const {
  if (!taken_.contains(Key(path))) return path;
  const std::string stem = path.stem().string();
  const std::string extension = path.extension().string();
  for (int n = 2;; ++n) {
    std::filesystem::path candidate =
        path.parent_path() / (stem + "_" + std::to_string(n) + extension);
    if (!taken_.contains(Key(candidate))) return candidate;
  }
}

void RunOutputNames::Take(const std::filesystem::path& path) { taken_.insert(Key(path)); }

}  // namespace tessmar
