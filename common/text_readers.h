#pragma once
// Number and text readers shared by every text parser of the program (configuration lines,
// recording headers, grid cells). Each reader takes a cursor (a string_view), consumes what it
// reads from the front of it and never reads past its end.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessmar {

// Skips blanks (space and TAB) at the front of s.
void SkipBlanks(std::string_view& s);

// Consumes c when it is the next character; true if it was.
bool SkipChar(std::string_view& s, char c);

// Integer: blanks skipped, optional '-' or '+', optional radix prefix ('$' or "0x" hexadecimal,
// '#' decimal, '%' binary), then digits of that radix. Stops at the first character that is not a
// digit; no digits give 0. The value is accumulated in 32 bits without overflow check, so
// 0xFFFFFFFF reads as -1. *had_digits (optional) tells whether any digit was read.
int32_t ReadInteger(std::string_view& s, bool* had_digits = nullptr);

// The same syntax without the sign, as used for identifier words.
uint32_t ReadUnsigned(std::string_view& s, bool* had_digits = nullptr);

// Real: blanks skipped, optional sign, integer part (radix prefixes as above), optional '.' and
// decimal digits, optional 'e'/'E' and an integer exponent. The exponent is applied only when it
// lies in -30..30; outside that range it is read and ignored. Long digit strings give the large
// number they denote; a decimal number gives the double nearest to it, so that a text written
// with enough digits reads back to the very double it was written from.
double ReadReal(std::string_view& s, bool* had_digits = nullptr);

// Text: blanks skipped; a double quote starts a quoted text that runs to the next double quote or
// to the first control character, with \" standing for a double quote and \\ for a backslash
// (any other backslash is kept as it is); otherwise the text is the run of letters, digits and
// '_' that follows. Characters beyond max_chars are read and dropped.
std::string ReadText(std::string_view& s, std::size_t max_chars = std::string::npos);

// Reads a text into a fixed field of field_size bytes: at most max_chars characters (and at most
// field_size - 1), zero-terminated, rest of the field zeroed. Returns the stored length.
std::size_t ReadTextField(std::string_view& s, char* field, std::size_t field_size,
                          std::size_t max_chars);

template <std::size_t N>
std::size_t ReadTextInto(std::string_view& s, char (&field)[N]) {
  return ReadTextField(s, field, N, N - 1);
}

// The quoted form of a text that ReadText reads back unchanged: enclosed in double quotes, a
// double quote written as \", a backslash written as \\ where it would otherwise be taken as an
// escape (before another backslash, a double quote or the closing quote). Control characters,
// which would end the line, are written as blanks.
std::string QuoteText(std::string_view text);
void AppendQuotedText(std::string& out, std::string_view text);

// ---- Text lines --------------------------------------------------------------------------------
// Lines end at CR, LF or any other control character except TAB. Directly after such a line end,
// one following control character below CR (except TAB and except a repeat of the same character)
// belongs to the same line end, so CR LF is one line end. A line holds at most kMaxTextLineChars
// characters; the rest of a longer line is read as the next line. A last line without line end is
// a line as well.

inline constexpr std::size_t kMaxTextLineChars = 254;

inline bool IsLineEndChar(unsigned char c) { return c < 0x20 && c != '\t'; }

// True when next, directly after the line end character end, is consumed with it.
inline bool JoinsLineEnd(unsigned char end, unsigned char next) {
  return next < '\r' && next != '\t' && next != end;
}

// Splits the next line from data starting at *pos. Returns false when *pos is at the end of data.
// On success *line views the line's characters and *pos is the position after its line end.
bool NextTextLine(std::string_view data, std::size_t* pos, std::string_view* line,
                  std::size_t max_chars = kMaxTextLineChars);

}  // namespace tessmar
