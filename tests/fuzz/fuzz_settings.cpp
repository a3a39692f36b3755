// Fuzz target: the settings file and the command file. Settings read from any text and written
// back must read back to the same settings text; every command-file line is classified.

#include <string_view>
#include <vector>

#include "convert/command_line.h"
#include "convert/settings_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessmar;

namespace {

std::string WrittenText(const TessmarSettings& settings) {
  IniFile ini;
  WriteSettings(settings, ini);
  return ini.ToText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::Quiet();
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  IniFile ini;
  ini.Parse(text);
  const std::string first = WrittenText(ReadSettings(ini));
  IniFile again;
  again.Parse(first);
  fuzz::ExpectSameText("settings changed on reload", first, WrittenText(ReadSettings(again)));

  const auto path = fuzz::WriteWorkFile("commands.txt", data, size);
  std::vector<std::string> lines;
  if (ReadCommandFileLines(path.string(), lines)) {
    for (const std::string& line : lines) {
      // Wildcards list folders of this machine: not what this target is about.
      if (line.find_first_of("*?") != std::string::npos) continue;
      (void)ClassifyArgument(line);
    }
  }
  return 0;
}
