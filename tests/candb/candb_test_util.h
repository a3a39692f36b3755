#pragma once
// Small helpers for the CAN database tests.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace tessmar::testing_util {

// A DBC text written to a fresh temporary file, removed when the object goes away.
class DbcFile {
 public:
  explicit DbcFile(const std::string& content, const std::string& name = "test.dbc") {
    static std::mt19937_64 rng{std::random_device{}()};
    dir_ = std::filesystem::temp_directory_path() / ("tessmar_candb_" + std::to_string(rng()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / name).string();
    std::ofstream out(path_, std::ios::binary);
    out << content;
  }
  ~DbcFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  DbcFile(const DbcFile&) = delete;
  DbcFile& operator=(const DbcFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

inline std::filesystem::path CorpusDir() {
  return std::filesystem::path(TESSMAR_TEST_DATA_DIR) / "dbc";
}

}  // namespace tessmar::testing_util
