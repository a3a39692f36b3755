// Fuzz target: a logger configuration file read, written, read back and written again. What is
// written once must read back to the same file text, plain and scrambled with a password.

#include <cstring>

#include "config/canlog_config.h"
#include "config/clc_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessmar;

namespace {

LoggerConfiguration ReadBack(const std::string& text, const char* name) {
  const auto path =
      fuzz::WriteWorkFile(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  LoggerConfiguration config;
  NewConfigWithDefaults(config.cfg, config.sigs, 0);
  if (!ReadClcFile(path, config)) fuzz::Fail("a written configuration cannot be read");
  return config;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::Quiet();
  const auto path = fuzz::WriteWorkFile("input.clc", data, size);
  LoggerConfiguration config;
  NewConfigWithDefaults(config.cfg, config.sigs, 0);
  if (!ReadClcFile(path, config)) return 0;

  const std::string first = ClcFileText(config.cfg, config.sigs);
  const LoggerConfiguration again = ReadBack(first, "again.clc");
  if (ClcFileText(again.cfg, again.sigs) != first) fuzz::Fail("plain text changed on reload");

  // The same content protected by a password: scrambled lines must unscramble to it.
  LoggerConfiguration locked = again;
  SetText(locked.cfg.Password1, "Fuzz pass 7");
  const std::string scrambled = ClcFileText(locked.cfg, locked.sigs);
  const LoggerConfiguration unlocked = ReadBack(scrambled, "locked.clc");
  if (ClcPlainText(unlocked.cfg, unlocked.sigs) != ClcPlainText(locked.cfg, locked.sigs)) {
    fuzz::Fail("scrambled text changed on reload");
  }
  return 0;
}
