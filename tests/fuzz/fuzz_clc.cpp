// Fuzz target: a logger configuration read from memory, written, read back and written again.
// What is written must read back to the same file text, plain and scrambled with a password.

#include <cstring>
#include <string_view>

#include "config/canlog_config.h"
#include "config/clc_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessmar;

namespace {

LoggerConfiguration ReadBack(const std::string& text) {
  LoggerConfiguration config;
  NewConfigWithDefaults(config.cfg, config.sigs, 0);
  if (!ReadClcText(text, config)) fuzz::Fail("a written configuration cannot be read");
  return config;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::Quiet();
  LoggerConfiguration config;
  NewConfigWithDefaults(config.cfg, config.sigs, 0);
  if (!ReadClcText(std::string_view(reinterpret_cast<const char*>(data), size), config)) return 0;

  // A hostile file can leave the configuration inconsistent in ways its own file text repairs on
  // reading (a signal whose message slot a later line took over reads back with a placeholder
  // message), so the text must be stable from the second writing on.
  const LoggerConfiguration once = ReadBack(ClcFileText(config.cfg, config.sigs));
  const std::string second = ClcFileText(once.cfg, once.sigs);
  const LoggerConfiguration again = ReadBack(second);
  fuzz::ExpectSameText("plain text changed on reload", second, ClcFileText(again.cfg, again.sigs));

  // The same content protected by a password: scrambled lines must unscramble to it.
  LoggerConfiguration locked = again;
  SetText(locked.cfg.Password1, "Fuzz pass 7");
  const std::string scrambled = ClcFileText(locked.cfg, locked.sigs);
  const LoggerConfiguration unlocked = ReadBack(scrambled);
  fuzz::ExpectSameText("scrambled text changed on reload", ClcPlainText(locked.cfg, locked.sigs),
                       ClcPlainText(unlocked.cfg, unlocked.sigs));
  return 0;
}
