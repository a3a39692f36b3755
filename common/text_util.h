#pragma once
// Small text helpers for names, keys and file extensions (ASCII only: the texts they serve are
// file formats' keywords, whose letters are plain ASCII).

#include <string>
#include <string_view>

namespace tessmar {

// True when both texts are equal with ASCII letters compared regardless of case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The text with ASCII capital letters turned into small ones; other bytes stay as they are.
std::string LowerAscii(std::string_view text);

}  // namespace tessmar
