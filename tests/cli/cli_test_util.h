#pragma once
// Runs tessmar-cli in a child process and collects what it printed.

#include <filesystem>
#include <string>
#include <vector>

namespace tessmar::testing {

struct CliResult {
  int exit_code = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

// Runs the built tessmar-cli with the given arguments (no shell involved) in the given folder.
CliResult RunCli(const std::vector<std::string>& args,
                 const std::filesystem::path& working_dir = std::filesystem::current_path());
// The same for another program.
CliResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& working_dir = std::filesystem::current_path());

// A fresh temporary folder, removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

}  // namespace tessmar::testing
