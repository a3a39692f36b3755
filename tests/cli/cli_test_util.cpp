#include "cli_test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tessmar::testing {
CliResult RunCli(const std::vector<std::string>& args, const std::filesystem::path& working_dir) {
  return RunProgram(TESSMAR_CLI_PATH, args, working_dir);
}

CliResult RunProgram(const std::string& program_path, const std::vector<std::string>& args,
                     const std::filesystem::path& working_dir) {
  CliResult result;
  TempDir capture;
  const auto out_path = capture / "stdout";
  const auto err_path = capture / "stderr";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(working_dir.c_str()) != 0) _exit(126);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    std::string program = program_path;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "tessmar-test-XXXXXX").string();
  char* made = mkdtemp(templ.data());
  path_ = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

}  // namespace tessmar::testing
