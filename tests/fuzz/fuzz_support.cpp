#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/message_output.h"

namespace tessmar::fuzz {
namespace {

std::filesystem::path& Folder() {
  static std::filesystem::path folder;
  return folder;
}

void RemoveFolder() {
  std::error_code ec;
  if (!Folder().empty()) std::filesystem::remove_all(Folder(), ec);
}

}  // namespace

void Quiet() {
  static const bool once = [] {
    // TESSMAR_FUZZ_MESSAGES=1 shows them, to see what an input does.
    if (std::getenv("TESSMAR_FUZZ_MESSAGES") == nullptr) {
      SetMessageHandler([](int, std::string_view) {});
    } else {
      SetMessageHandler([](int severity, std::string_view text) {
        std::fprintf(stderr, "[%d] %.*s\n", severity, static_cast<int>(text.size()), text.data());
      });
    }
    SetBatchMode(true);
    return true;
  }();
  (void)once;
}

std::filesystem::path WorkFile(const std::string& name) {
  if (Folder().empty()) {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "tessmar-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create the work folder");
    Folder() = pattern;
    std::atexit(RemoveFolder);
  }
  return Folder() / name;
}

std::filesystem::path WriteWorkFile(const std::string& name, const uint8_t* data,
                                    std::size_t size) {
  const std::filesystem::path path = WorkFile(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) Fail("cannot write the input file");
  return path;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

void ExpectSameText(const char* what, const std::string& expected, const std::string& actual) {
  if (expected == actual) return;
  std::size_t line_start = 0;
  std::size_t i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) {
    if (expected[i] == '\n') line_start = i + 1;
    ++i;
  }
  const auto line_at = [line_start](const std::string& text) {
    const std::size_t end = text.find_first_of("\r\n", line_start);
    return text.substr(line_start, end == std::string::npos ? std::string::npos : end - line_start);
  };
  std::fprintf(stderr, "expected line: \"%s\"\nactual line:   \"%s\"\n", line_at(expected).c_str(),
               line_at(actual).c_str());
  Fail(what);
}

}  // namespace tessmar::fuzz
