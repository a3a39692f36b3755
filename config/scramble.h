#pragma once
// Line scrambling of protected configuration files and recording headers: a letter-and-digit
// rotation driven by a 16-bit feedback register. It keeps every other character, the length and
// the line structure (the register restarts at every CR or LF), so a file can be unscrambled line
// by line with the key of its "Encryption=" line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessmar {

// Key of a password: 0 for an empty password, else a 15-bit number (1..32767 in practice).
int32_t KeyFromPassword(std::string_view password);

// True when a file written with this password is scrambled (its first character is above the
// blank); the writer uses key 0 otherwise.
bool PasswordProtects(std::string_view password);

// Scrambles / unscrambles text into out, at most out_size - 1 characters, zero-terminated when
// out has room. Key 0 copies the text unchanged. Returns the number of characters written.
std::size_t ScrambleText(std::string_view text, char* out, std::size_t out_size, int32_t key);
std::size_t UnscrambleText(std::string_view text, char* out, std::size_t out_size, int32_t key);

// In-place and copying forms for whole lines.
void ScrambleInPlace(std::string& text, int32_t key);
void UnscrambleInPlace(std::string& text, int32_t key);
std::string Scrambled(std::string_view text, int32_t key);
std::string Unscrambled(std::string_view text, int32_t key);

}  // namespace tessmar
