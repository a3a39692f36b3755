#include "config/scramble.h"

namespace tessmar {
namespace {

constexpr uint32_t kPasswordRegisterStart = 0x3C6A;

// Feedback bit of the register: bit 1 xor bit 2 xor bit 4 xor bit 15.
uint32_t Feedback(uint32_t r) { return ((r >> 1) ^ (r >> 2) ^ (r >> 4) ^ (r >> 15)) & 1u; }

uint32_t Step(uint32_t s) { return ((s << 1) | Feedback(s)) & 0xFFFFu; }

char Rotate(char c, uint32_t s, bool forward) {
  auto turn = [&](char base, uint32_t span) {
    const uint32_t shift = s % span;
    const uint32_t pos = static_cast<uint32_t>(c - base);
    const uint32_t moved = forward ? (pos + shift) % span : (pos + span - shift) % span;
    return static_cast<char>(base + static_cast<char>(moved));
  };
  if (c >= '0' && c <= '9') return turn('0', 10);
  if (c >= 'A' && c <= 'Z') return turn('A', 26);
  if (c >= 'a' && c <= 'z') return turn('a', 26);
  return c;
}

// Runs the rotation over text; out may alias text (in-place). Returns characters written.
std::size_t Run(std::string_view text, char* out, std::size_t limit, int32_t key, bool forward) {
  const std::size_t n = text.size() < limit ? text.size() : limit;
  if (key == 0) {
    for (std::size_t i = 0; i < n; ++i) out[i] = text[i];
    return n;
  }
  const auto k = static_cast<uint32_t>(key);
  uint32_t s = k & 0x7FFFu;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      s = k & 0x7FFFu;
      out[i] = c;
      continue;
    }
    const char result = Rotate(c, s, forward);
    const char plain = forward ? c : result;
    s = Step(s) ^ static_cast<unsigned char>(plain);
    if (s == 0) s = k;
    out[i] = result;
  }
  return n;
}

std::size_t RunBounded(std::string_view text, char* out, std::size_t out_size, int32_t key,
                       bool forward) {
  if (out == nullptr || out_size == 0) return 0;
  const std::size_t n = Run(text, out, out_size - 1, key, forward);
  out[n] = '\0';
  return n;
}

}  // namespace

int32_t KeyFromPassword(std::string_view password) {
  if (password.empty()) return 0;
  uint32_t r = kPasswordRegisterStart;
  for (const char ch : password) {
    const uint32_t f = Feedback(r);
    r = (((r << 1) & 0xFFFFu) ^ static_cast<unsigned char>(ch)) | f;
  }
  return static_cast<int32_t>(r & 0x7FFFu);
}

bool PasswordProtects(std::string_view password) {
  return !password.empty() && static_cast<unsigned char>(password[0]) > ' ';
}

std::size_t ScrambleText(std::string_view text, char* out, std::size_t out_size, int32_t key) {
  return RunBounded(text, out, out_size, key, true);
}

std::size_t UnscrambleText(std::string_view text, char* out, std::size_t out_size, int32_t key) {
  return RunBounded(text, out, out_size, key, false);
}

void ScrambleInPlace(std::string& text, int32_t key) {
  Run(text, text.data(), text.size(), key, true);
}

void UnscrambleInPlace(std::string& text, int32_t key) {
  Run(text, text.data(), text.size(), key, false);
}

std::string Scrambled(std::string_view text, int32_t key) {
  std::string out(text);
  ScrambleInPlace(out, key);
  return out;
}

std::string Unscrambled(std::string_view text, int32_t key) {
  std::string out(text);
  UnscrambleInPlace(out, key);
  return out;
}

}  // namespace tessmar
