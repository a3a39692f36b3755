// The DBC reader. Problems are logged with the line number; the first statement error in a
// message, signal or attribute statement ends the read, the database keeping what was read before
// it.

#include "candb/dbc_reader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>

#include "candb/candb.h"
#include "common/c_locale.h"
#include "common/message_output.h"

namespace tessmar {
namespace {

enum class Kw {
  kNone,
  kBU,
  kBO,
  kSG,
  kEV,
  kCM,
  kBA_DEF,
  kBA_DEF_DEF,
  kBA,
  kVAL,
  kSIG_VALTYPE,
  kCAT,
  kNS
};

Kw KeywordOf(const char* s, std::size_t n) {
  const auto is = [s, n](const char* kw) {
    return std::strlen(kw) == n && std::memcmp(s, kw, n) == 0;
  };
  switch (n) {
    case 3:
      if (is("BU_")) return Kw::kBU;
      if (is("BO_")) return Kw::kBO;
      if (is("SG_")) return Kw::kSG;
      if (is("EV_")) return Kw::kEV;
      if (is("CM_")) return Kw::kCM;
      if (is("BA_")) return Kw::kBA;
      if (is("NS_")) return Kw::kNS;
      break;
    case 4:
      if (is("VAL_")) return Kw::kVAL;
      if (is("CAT_")) return Kw::kCAT;
      break;
    case 7:
      if (is("BA_DEF_")) return Kw::kBA_DEF;
      break;
    case 11:
      if (is("BA_DEF_DEF_")) return Kw::kBA_DEF_DEF;
      break;
    case 12:
      if (is("SIG_VALTYPE_")) return Kw::kSIG_VALTYPE;
      break;
    default:
      break;
  }
  return Kw::kNone;
}

// The keyword that a word spells in another letter case ("bo_", "Sg_"), else kNone.
Kw KeywordIgnoringCase(std::string_view word) {
  char upper[16];
  if (word.size() >= sizeof upper) return Kw::kNone;
  for (std::size_t k = 0; k < word.size(); ++k) {
    const char c = word[k];
    upper[k] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return KeywordOf(upper, word.size());
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Byte 0xFF ends the input outside strings, as the end of the file does.
constexpr int kEndByte = 0xFF;
constexpr std::size_t kIoBufferSize = 65536;

int32_t ClampToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(v);
}

// Decimal text to double without the process locale. Out-of-range values become infinity or
// zero with their sign.
double TextToDouble(const char* begin, const char* end) {
  double value = 0.0;
  const auto res = FromChars(begin, end, value);
  if (res.ec == std::errc::result_out_of_range) {
    const bool negative = begin != end && *begin == '-';
    bool tiny = false;
    for (const char* p = begin; p != end; ++p) {
      if ((*p == 'e' || *p == 'E') && p + 1 != end && p[1] == '-') tiny = true;
    }
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    if (negative) value = -value;
  } else if (res.ec != std::errc()) {
    value = 0.0;
  }
  return value;
}

}  // namespace

struct DbcReader::Token {
  enum Kind { kFail = -1, kEnd = 0, kPunct, kKeyword, kIdent, kInt, kReal, kString };
  Kind kind = kEnd;
  int ch = 0;         // punctuation character
  Kw kw = Kw::kNone;  // keyword
  int64_t i = 0;      // integer value
  double d = 0.0;     // real value

  bool Is(char c) const { return kind == kPunct && ch == c; }
  bool Is(Kw k) const { return kind == kKeyword && kw == k; }
  bool IsNumber() const { return kind == kInt || kind == kReal; }
  double Number() const { return kind == kInt ? static_cast<double>(i) : d; }
  // Integer tokens keep their low 32 bits; reals are limited to the 32-bit range.
  int32_t Int32() const {
    return kind == kInt ? static_cast<int32_t>(static_cast<uint32_t>(i)) : ClampToInt32(d);
  }
  // Bit positions and lengths: integers beyond 32 bits are held at the 32-bit limits, so that
  // a huge number cannot wrap into a plausible position.
  int32_t Clamped32() const {
    return static_cast<int32_t>(std::clamp<int64_t>(i, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
  }
  uint32_t Id() const { return static_cast<uint32_t>(i); }
  bool Ends() const { return kind == kEnd || kind == kFail; }
  // A failure whose message is still to be logged: a bad number, which the statement that
  // expected something else at that place reports with its own text.
  bool UnreportedFailure() const { return kind == kFail && !reported; }

  bool reported = true;  // failures only: its message was logged

  static Token Fail(bool already_reported = true) {
    Token t{kFail};
    t.reported = already_reported;
    return t;
  }
  static Token Punct(int c) {
    Token t{kPunct};
    t.ch = c;
    return t;
  }
};

// ---- Problems -----------------------------------------------------------------------------------

bool IsError(DbcProblemKind kind) {
  switch (kind) {
    case DbcProblemKind::kSyntaxError:
    case DbcProblemKind::kUnknownName:
    case DbcProblemKind::kUnexpectedEnd:
    case DbcProblemKind::kReadFailure:
    case DbcProblemKind::kInternalError:
      return true;
    case DbcProblemKind::kMissingSemicolon:
    case DbcProblemKind::kStrayQuote:
    case DbcProblemKind::kNotAKeyword:
    case DbcProblemKind::kMissingSender:
    case DbcProblemKind::kUnknownMessage:
    case DbcProblemKind::kReaderMisuse:
      break;
  }
  return false;
}

// ---- Construction and input ---------------------------------------------------------------------

DbcReader::DbcReader(CANdb& db) : db_(db) {}

DbcReader::~DbcReader() { CloseInput(); }

// Ends reading the input; a file is closed.
void DbcReader::CloseInput() {
  input_open_ = false;
  input_ = nullptr;
  io_pos_ = io_len_ = 0;
  if (!file_.is_open()) return;
  if (!file_.Close()) LogError(DbcProblemKind::kReadFailure, "Cannot close the goddamn file");
  io_buffer_.reset();
}

// ---- Messages -----------------------------------------------------------------------------------

void DbcReader::Record(DbcProblemKind kind, std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  result_.problems.push_back({line_, kind, std::string(text)});
}

// Logs "CANdb-Import-Error (line %d): %s" or "CANdb-Import-Warning (line %d): %s" as the kind
// says, the text cut to 199 characters, and records the problem.
void DbcReader::LogF(DbcProblemKind kind, const char* format, ...) {
  char text[200];
  va_list args;
  va_start(args, format);
  VsnprintfC(text, sizeof text, Tr(format), args);
  va_end(args);
  if (IsError(kind)) {
    ShowMessageF(kMsgError, "CANdb-Import-Error (line %d): %s", static_cast<int>(line_), text);
  } else {
    ShowMessageF(kMsgWarning, "CANdb-Import-Warning (line %d): %s", static_cast<int>(line_), text);
  }
  Record(kind, text);
}

void DbcReader::LogError(DbcProblemKind kind, const char* text) { LogF(kind, "%s", Tr(text)); }
void DbcReader::LogWarning(DbcProblemKind kind, const char* text) { LogF(kind, "%s", Tr(text)); }

// A statement got `got` where it expected something else: its own error text is logged, also
// when `got` is a bad number, but not a second time after a failure that was already reported
// (an unterminated comment).
void DbcReader::ReportExpected(Token& got, const char* text) {
  if (got.kind == Token::kFail && got.reported) return;
  LogError(DbcProblemKind::kSyntaxError, text);
  got.reported = true;
}

// ---- Character reader ---------------------------------------------------------------------------

// Next byte of the input (0..255) or -1 at its end; a file is read in blocks, a text has all its
// bytes in place from the start. A CR directly before an LF is dropped, as a
// text-mode stream does, so that line ends read the same in CR LF and LF files.
int DbcReader::ReadFileByte() {
  const auto next = [this]() -> int {
    if (io_pos_ >= io_len_) {
      if (!file_.is_open()) return -1;
      if (read_errno_ != 0) return -1;
      const int64_t n = file_.ReadBytes(io_buffer_.get(), kIoBufferSize);
      io_pos_ = 0;
      io_len_ = n > 0 ? static_cast<std::size_t>(n) : 0;
      if (io_len_ == 0) {
        // A failed read ends the input like the end of the file, but is reported.
        if (n < 0) read_errno_ = file_.last_error() != 0 ? file_.last_error() : EIO;
        return -1;
      }
    }
    return input_[io_pos_++];
  };
  const int c = next();
  if (c != '\r') return c;
  const int d = next();
  if (d == '\n') return '\n';
  if (d >= 0) --io_pos_;  // d is the last byte taken from the (possibly refilled) buffer
  return c;
}

int DbcReader::ReadChar() {
  if (pushed_back_ != 0) {
    const int c = pushed_back_ - 2;  // stored as c + 2 so that -1 and 0 can be pushed back
    pushed_back_ = pushed_back_next_;
    pushed_back_next_ = 0;
    return c;
  }
  if (!input_open_) {
    LogWarning(DbcProblemKind::kReaderMisuse, "Attempted to read from a non-open file");
    return 0;
  }
  return ReadFileByte();
}

int DbcReader::UngetChar(int c) {
  if (pushed_back_ != 0) {
    LogWarning(DbcProblemKind::kReaderMisuse, "Attempted to 'unget' two characters at once");
    return -1;
  }
  pushed_back_ = c + 2;
  return 0;
}

// ---- Scanner ------------------------------------------------------------------------------------

DbcReader::Token DbcReader::NextToken() {
  token_len_ = 0;
  token_text_[0] = '\0';
  if (!input_open_ && pushed_back_ == 0) return Token{Token::kEnd};
  const auto append = [this](int c) {
    if (token_len_ + 1 < kTokenBufferSize) token_text_[token_len_++] = static_cast<char>(c);
  };
  bool line_start = false;
  for (;;) {
    int c = ReadChar();
    // Control characters, the space and the bytes 0x80..0xFE are blanks.
    while (c >= 0 && c != kEndByte && (c <= ' ' || c >= 0x80)) {
      if (c == '\n') {
        ++line_;
        line_start = true;
      }
      c = ReadChar();
    }
    token_at_line_start_ = line_start;
    if (c < 0 || c == kEndByte) return Token{Token::kEnd};

    if (c == '/') {
      int d = ReadChar();
      if (d != '*') {
        UngetChar(d);
        return Token::Punct('/');
      }
      int prev = 0;
      for (;;) {
        d = ReadChar();
        if (d < 0 || d == kEndByte) {
          LogError(DbcProblemKind::kUnexpectedEnd, "Error: Unexpected eof in comment");
          return Token::Fail();
        }
        if (d == '\n') ++line_;
        if (prev == '*' && d == '/') break;
        prev = d;
      }
      continue;  // the comment was a blank; read the next token
    }

    if (IsLetter(c) || c == '_') {
      while (IsLetter(c) || IsDigit(c) || c == '_') {
        append(c);
        c = ReadChar();
      }
      UngetChar(c);
      token_text_[token_len_] = '\0';
      const Kw kw = KeywordOf(token_text_, token_len_);
      if (kw != Kw::kNone) {
        Token t{Token::kKeyword};
        t.kw = kw;
        return t;
      }
      return Token{Token::kIdent};
    }

    if (c == '+' || c == '-' || c == '.') {
      const int d = ReadChar();
      if (d == '.' && c != '.') {
        // "-.5" and "+.5" (writers that drop the zero before the point): a number when a digit
        // follows the point, else the sign and the point are punctuation as before.
        const int e = ReadChar();
        pushed_back_ = d + 2;
        pushed_back_next_ = e + 2;
        if (IsDigit(e)) return ReadNumber(c);
        return Token::Punct(c);
      }
      UngetChar(d);
      if (!IsDigit(d)) return Token::Punct(c);
      return ReadNumber(c);
    }
    if (IsDigit(c)) return ReadNumber(c);
    if (c == '"') {
      bool stray = false;
      Token t = ReadString(stray);
      if (stray) continue;  // the rest of its line is skipped like blanks
      return t;
    }
    return Token::Punct(c);
  }
}

// The next token where the grammar has no string (see stray_quotes_).
DbcReader::Token DbcReader::NextTokenWithoutStrings() {
  stray_quotes_ = true;
  Token t = NextToken();
  stray_quotes_ = false;
  return t;
}

// Number token starting with c (a digit, '-', '+' or '.'). Reals have a fraction or an exponent;
// "0x" starts a 32-bit hexadecimal value; other digits give a signed 64-bit integer, or the real
// number they denote when that does not fit into 64 bits.
DbcReader::Token DbcReader::ReadNumber(int c) {
  bool truncated = false;
  const auto append = [this, &truncated](int ch) {
    if (token_len_ + 1 < kTokenBufferSize) {
      token_text_[token_len_++] = static_cast<char>(ch);
    } else {
      truncated = true;
    }
  };
  const bool unsigned_digits = IsDigit(c);
  if (c == '-') {
    append(c);
    c = ReadChar();
  } else if (c == '+') {
    c = ReadChar();
  }
  const std::size_t digits_start = token_len_;
  while (IsDigit(c)) {
    append(c);
    c = ReadChar();
  }
  const bool negative = digits_start > 0;

  // Tools that number their messages write names such as "2017_5" or "64_BIT_LE": digits
  // followed by a letter or '_' (other than an exponent or the "0x" prefix) make a name.
  const auto rest_of_name = [&](int ch) {
    while (IsLetter(ch) || IsDigit(ch) || ch == '_') {
      append(ch);
      ch = ReadChar();
    }
    UngetChar(ch);
    token_text_[token_len_] = '\0';
    return Token{Token::kIdent};
  };
  const bool hex_prefix = (c == 'x' || c == 'X') && token_len_ == 1 && token_text_[0] == '0';
  if (unsigned_digits && (IsLetter(c) || c == '_') && c != 'e' && c != 'E' && !hex_prefix) {
    return rest_of_name(c);
  }

  if (c == '.' || c == 'e' || c == 'E') {
    if (c == '.') {
      append(c);
      c = ReadChar();
      while (IsDigit(c)) {
        append(c);
        c = ReadChar();
      }
    }
    if (c == 'e' || c == 'E') {
      const bool fraction = std::memchr(token_text_, '.', token_len_) != nullptr;
      append(c);
      c = ReadChar();
      // "12E_x" or "3e" alone is a name, not a number without exponent digits.
      if (unsigned_digits && !fraction && !IsDigit(c) && c != '+' && c != '-') {
        return rest_of_name(c);
      }
      if (c == '+' || c == '-') {
        append(c);
        c = ReadChar();
      }
      while (IsDigit(c)) {
        append(c);
        c = ReadChar();
      }
    }
    UngetChar(c);
    token_text_[token_len_] = '\0';
    Token t{Token::kReal};
    t.d = TextToDouble(token_text_, token_text_ + token_len_);
    return t;
  }

  if (c == 'x' || c == 'X') {
    if (token_len_ - digits_start != 1 || token_text_[digits_start] != '0') {
      // Reported by the statement that expected a token here (see ReportExpected).
      bad_number_.assign(token_text_, token_len_);
      bad_number_ += 'x';
      return Token::Fail(false);
    }
    token_len_ = digits_start;  // the 0 is dropped
    uint64_t v = 0;
    c = ReadChar();
    while (HexValue(c) >= 0) {
      append(c);
      v = v * 16 + static_cast<uint64_t>(HexValue(c));
      if (v > 0xFFFFFFFFu) v = 0xFFFFFFFFu;  // the 32-bit conversion saturates
      c = ReadChar();
    }
    UngetChar(c);
    token_text_[token_len_] = '\0';
    uint32_t v32 = static_cast<uint32_t>(v);
    if (negative) v32 = 0u - v32;
    Token t{Token::kInt};
    t.i = static_cast<int32_t>(v32);
    return t;
  }

  UngetChar(c);
  token_text_[token_len_] = '\0';
  uint64_t v = 0;
  bool overflow = truncated;
  for (std::size_t k = digits_start; k < token_len_ && !overflow; ++k) {
    const uint64_t digit = static_cast<uint64_t>(token_text_[k] - '0');
    if (v > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      overflow = true;
    } else {
      v = v * 10 + digit;
    }
  }
  const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
  if (overflow || v > limit) {
    Token t{Token::kReal};
    t.d = truncated ? (negative ? -std::numeric_limits<double>::infinity()
                                : std::numeric_limits<double>::infinity())
                    : TextToDouble(token_text_, token_text_ + token_len_);
    return t;
  }
  Token t{Token::kInt};
  t.i = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return t;
}

// String token after its opening quote. "" inside a string is one quote; \n \t \r \" are escapes;
// any other backslash stays. At most 998 characters are kept. Where no string can stand
// (stray_quotes_), a quote not closed on its line is a stray one: `stray` is set, a warning names
// the line, and the line end is left for the blank skipping.
DbcReader::Token DbcReader::ReadString(bool& stray) {
  const auto append = [this](int ch) {
    if (token_len_ + 1 < kTokenBufferSize) token_text_[token_len_++] = static_cast<char>(ch);
  };
  int c = ReadChar();
  for (;;) {
    if (stray_quotes_ && (c == '\n' || c < 0)) {
      UngetChar(c);
      LogWarning(DbcProblemKind::kStrayQuote,
                 "'\"' without its closing '\"' ignored up to the end of the line");
      token_len_ = 0;
      token_text_[0] = '\0';
      stray = true;
      return Token{Token::kEnd};
    }
    if (c < 0) {
      LogError(DbcProblemKind::kUnexpectedEnd, "Error: Unexpected eof in string");
      break;
    }
    if (c == '"') {
      const int d = ReadChar();
      if (d == '"') {
        append('"');
        c = ReadChar();
        continue;
      }
      UngetChar(d);
      break;
    }
    if (c == '\\') {
      const int d = ReadChar();
      if (d == 'n' || d == 't' || d == 'r' || d == '"') {
        append(d == 'n' ? '\n' : d == 't' ? '\t' : d == 'r' ? '\r' : '"');
        c = ReadChar();
      } else {
        append('\\');
        c = d;  // read again as the next character of the string
      }
      continue;
    }
    if (c == '\n') ++line_;
    append(c);
    c = ReadChar();
  }
  token_text_[token_len_] = '\0';
  return Token{Token::kString};
}

// A keyword that only ever begins a statement, standing first on its line: a statement before it
// that lacks its closing ';' ends there instead of swallowing the following ones.
bool DbcReader::StartsStatement(const Token& tok) const {
  if (!token_at_line_start_) return false;
  if (tok.kind == Token::kKeyword) return tok.kw != Kw::kBU && tok.kw != Kw::kNS;
  if (tok.kind != Token::kIdent) return false;
  static constexpr std::string_view kWords[] = {
      "BO_TX_BU_",  "VAL_TABLE_",  "BA_DEF_REL_",  "BA_REL_",     "BA_DEF_DEF_REL_",
      "BU_SG_REL_", "BU_EV_REL_",  "BU_BO_REL_",   "SIG_GROUP_",  "SIG_TYPE_REF_",
      "SGTYPE_",    "SGTYPE_VAL_", "ENVVAR_DATA_", "SG_MUL_VAL_", "CAT_DEF_"};
  const std::string_view word(token_text_, token_len_);
  return std::find(std::begin(kWords), std::end(kWords), word) != std::end(kWords);
}

// The identifier just read stands first on its line and spells a keyword in another letter case
// ("bo_", "Sg_"): not a node or receiver name but a statement the loop skips with a warning.
bool DbcReader::MisspelledKeywordStartsLine() const {
  return token_at_line_start_ && KeywordIgnoringCase(TokenText()) != Kw::kNone;
}

// True, with a warning, when `tok` begins the next statement while the current one still waits
// for its ';'. The caller goes on with `tok`.
bool DbcReader::MissingSemicolonBefore(const Token& tok) {
  if (!StartsStatement(tok)) return false;
  LogF(DbcProblemKind::kMissingSemicolon, "';' missing before line %d", static_cast<int>(line_));
  return true;
}

// Reads tokens until `stop` (then one more), the end of input, a failure, or the start of the
// next statement when the ';' is missing. With stray_quotes, no string belongs in what is skipped.
DbcReader::Token DbcReader::SkipPast(Token tok, int stop, bool stray_quotes) {
  while (!tok.Ends() && !tok.Is(static_cast<char>(stop))) {
    if (stop == ';' && MissingSemicolonBefore(tok)) return tok;
    tok = stray_quotes ? NextTokenWithoutStrings() : NextToken();
  }
  if (tok.Is(static_cast<char>(stop))) tok = NextToken();
  return tok;
}

// ---- Statement loop -----------------------------------------------------------------------------

DbcReadResult DbcReader::ReadFile(const std::string& path) {
  path_ = path;
  db_.SetPath(path);
  // Read as bytes; ReadFileByte() turns CR LF into LF itself.
  if (!file_.OpenForReading(path)) {
    if (file_.last_error() != EISDIR) {
      db_.SetLoaded(false);
      result_.status = -1;
      return std::move(result_);
    }
    // A folder opens as a file that cannot be read: reported like any read error.
    read_errno_ = EISDIR;
  }
  io_buffer_ = std::make_unique<unsigned char[]>(kIoBufferSize);
  input_ = io_buffer_.get();
  io_pos_ = io_len_ = 0;
  return ReadStatements();
}

DbcReadResult DbcReader::ReadText(std::string_view text, const std::string& name) {
  path_ = name;
  db_.SetPath(name);
  input_ = reinterpret_cast<const unsigned char*>(text.data());
  io_pos_ = 0;
  io_len_ = text.size();
  return ReadStatements();
}

int CANdb::LoadDbcFile(const std::string& path) { return DbcReader(*this).ReadFile(path).status; }

int CANdb::LoadDbcText(std::string_view text, const std::string& name) {
  return DbcReader(*this).ReadText(text, name).status;
}

DbcReadResult DbcReader::ReadStatements() {
  input_open_ = true;
  Token tok = NextToken();
  while (!tok.Ends()) {
    if (tok.Is(Kw::kNS)) {
      // The new-symbols list runs up to the node list. Files without a node list are common
      // (generated ones); BS_ and BO_ never stand in the list, so they end it as well.
      ++result_.statement_count;
      do {
        tok = NextToken();
      } while (!tok.Ends() && !tok.Is(Kw::kBU) && !tok.Is(Kw::kBO) &&
               !(tok.kind == Token::kIdent && TokenText() == "BS_"));
      if (!tok.Is(Kw::kBU)) continue;
    }
    if (tok.Is(Kw::kBU)) {
      ++result_.statement_count;
      tok = NextToken();
      if (!tok.Is(':')) {
        LogError(DbcProblemKind::kSyntaxError, "':' expected");
        return Finish(-1);
      }
      tok = NextTokenWithoutStrings();
      while (tok.kind == Token::kIdent && !MisspelledKeywordStartsLine()) {
        db_.AddNode(TokenText());
        tok = NextTokenWithoutStrings();
      }
      continue;
    }
    if (tok.kind != Token::kKeyword) {
      if (tok.kind == Token::kIdent && token_at_line_start_) {
        const std::string_view word(token_text_, token_len_);
        if (word == "VERSION" || word == "BS_" || word == "VAL_TABLE_" || word == "BO_TX_BU_") {
          ++result_.statement_count;
        } else if (word == "SG_MUL_VAL_") {
          tok = ParseMultiplexerValues();
          continue;
        } else if (MisspelledKeywordStartsLine()) {
          // "bo_", "Sg_": keywords are upper case, so the line is skipped; say so.
          LogF(DbcProblemKind::kNotAKeyword,
               "'%s' is not a keyword (upper case expected); line skipped", token_text_);
        }
      }
      tok = NextToken();
      continue;
    }
    ++result_.statement_count;
    switch (tok.kw) {
      case Kw::kBO:
        tok = ParseMessage();
        break;
      case Kw::kCM:
        tok = ParseComment();
        break;
      case Kw::kBA_DEF:
        tok = ParseAttrDefinition();
        break;
      case Kw::kBA_DEF_DEF:
        tok = ParseAttrDefault();
        break;
      case Kw::kBA:
        tok = ParseAttrValue();
        break;
      case Kw::kSIG_VALTYPE:
        tok = ParseSignalValueType();
        break;
      case Kw::kVAL:
        tok = ParseValueDescriptions();
        break;
      case Kw::kCAT:
        tok = SkipPast(NextToken(), ';');
        break;
      default:
        tok = NextToken();
        break;
    }
  }
  // A bad number where no statement expected a token (inside a skipped statement, say) still
  // ends the read, and says why.
  if (tok.UnreportedFailure())
    LogF(DbcProblemKind::kSyntaxError, "Invalid number \"%s\"", bad_number_.c_str());
  CloseInput();
  if (read_errno_ != 0) {
    LogF(DbcProblemKind::kReadFailure, "Could not read \"%s\" (%s) !", path_.c_str(),
         std::strerror(read_errno_));
    db_.SetLoaded(false);
    return Finish(-1);
  }
  db_.SetLoaded(true);
  return Finish(0);
}

// Closes the input, checks the token buffer and hands over what the read found.
DbcReadResult DbcReader::Finish(int status) {
  CloseInput();
  if (buffer_guard_ != 'i') LogError(DbcProblemKind::kInternalError, "String buffer corrupted");
  result_.status = status;
  return std::move(result_);
}

// ---- Messages and signals -----------------------------------------------------------------------

DbcReader::Token DbcReader::ParseMessage() {
  const auto fail = [this](Token got, const char* text) {
    ReportExpected(got, text);
    return Token::Fail();
  };
  auto message = std::make_unique<CANdbMessage>();
  message->SetLine(line_);  // the line of the BO_ just read
  Token tok = NextToken();
  if (tok.kind != Token::kInt) return fail(tok, "CAN id expected");
  const uint32_t raw = tok.Id();
  message->SetExtended((raw & 0x80000000u) != 0);
  message->SetIdentifier(raw & 0x7FFFFFFFu);
  tok = NextToken();
  if (tok.kind != Token::kIdent) return fail(tok, "Message name expected");
  message->SetName(TokenText());
  tok = NextToken();
  if (!tok.Is(':')) return fail(tok, "':' expected after message name");
  tok = NextToken();
  if (tok.kind != Token::kInt) return fail(tok, "DLC expected");
  message->SetDlc(tok.Int32());
  tok = NextToken();
  if (tok.kind == Token::kIdent) {
    message->SetSender(TokenText());
    tok = NextToken();
  } else if (tok.Is(Kw::kSG) || StartsStatement(tok)) {
    // The line ends after the DLC: the message has no sender, its signals still load.
    LogWarning(DbcProblemKind::kMissingSender, "Sender name expected");
  } else {
    return fail(tok, "Sender name expected");
  }
  while (tok.Is(Kw::kSG)) {
    auto signal = std::make_unique<CANdbSignal>();
    bool ok = false;
    tok = ParseSignal(*signal, ok);
    if (!ok) return Token::Fail();  // the message is dropped with its signals
    message->AddSignal(std::move(signal));
  }
  db_.AddMessage(std::move(message));
  return tok;
}

DbcReader::Token DbcReader::ParseSignal(CANdbSignal& s, bool& ok) {
  ok = false;
  const auto fail = [this](Token got, const char* text) {
    ReportExpected(got, text);
    return Token::Fail();
  };
  s.SetLine(line_);  // the line of the SG_ just read
  Token tok = NextToken();
  if (tok.kind != Token::kIdent) return fail(tok, "Signal name expected");
  s.SetName(TokenText());

  tok = NextToken();
  if (tok.kind == Token::kIdent) {
    if (token_text_[0] == 'm') {
      int64_t value = 0;
      std::size_t k = 1;
      for (; k < token_len_ && IsDigit(token_text_[k]); ++k) {
        value = value * 10 + (token_text_[k] - '0');
        if (value > std::numeric_limits<int32_t>::max())
          value = std::numeric_limits<int32_t>::max();
      }
      s.SetMultiplexerValue(static_cast<int32_t>(value));
      // "m1M": present at switch value 1 and a switch of its own (nested multiplexing).
      if (k > 1 && k + 1 == token_len_ && token_text_[k] == 'M') s.SetIsInnerMultiplexer(true);
    } else if (token_text_[0] == 'M') {
      s.SetIsMultiplexer(true);
    }
    tok = NextToken();
  }
  if (!tok.Is(':')) return fail(tok, "':' expected after signal name");
  tok = NextToken();
  if (tok.kind != Token::kInt) return fail(tok, "Signal bit position expected");
  const int32_t start = tok.Clamped32();
  tok = NextToken();
  if (!tok.Is('|')) return fail(tok, "'|' expected after signal name");
  tok = NextToken();
  if (tok.kind != Token::kInt) return fail(tok, "Signal length expected");
  const int32_t length = tok.Clamped32();
  tok = NextToken();
  if (!tok.Is('@')) return fail(tok, "'@' expected after signal name");
  tok = NextToken();
  if (tok.kind != Token::kInt) return fail(tok, "Signal number expected");
  const bool motorola = tok.i == 0;
  tok = NextToken();
  if (tok.Is('+')) {
    s.SetValueType(CANdbValueType::kUnsigned);
  } else if (tok.Is('-')) {
    s.SetValueType(CANdbValueType::kSigned);
  } else {
    return fail(tok, "'+' or '-' expected");
  }
  tok = NextToken();
  if (!tok.Is('(')) return fail(tok, "'(' expected after signal name");
  tok = NextToken();
  if (!tok.IsNumber()) return fail(tok, "Factor expected");
  s.SetFactor(tok.Number());
  tok = NextToken();
  if (!tok.Is(',')) return fail(tok, "',' expected after signal name");
  tok = NextToken();
  if (!tok.IsNumber()) return fail(tok, "Offset expected");
  s.SetOffset(tok.Number());
  tok = NextToken();
  if (!tok.Is(')')) return fail(tok, "')' expected after signal name");
  tok = NextToken();
  if (!tok.Is('[')) return fail(tok, "'[' expected after signal name");
  tok = NextToken();
  if (!tok.IsNumber()) return fail(tok, "Min value expected");
  s.SetMinimum(tok.Number());
  tok = NextToken();
  if (!tok.Is('|')) return fail(tok, "'|' expected after signal name");
  tok = NextToken();
  if (!tok.IsNumber()) return fail(tok, "Max value expected");
  s.SetMaximum(tok.Number());
  tok = NextToken();
  if (!tok.Is(']')) return fail(tok, "']' expected after signal name");
  tok = NextToken();
  if (tok.kind != Token::kString) return fail(tok, "Signal unit expected");
  s.SetUnit(TokenText());

  // The file gives a Motorola signal's most significant bit; keep the least significant one, in
  // the same byte * 8 + bit numbering as Intel signals. C division: truncates toward zero.
  int64_t stored = start;
  if (motorola) {
    const int64_t sb = start;
    const int64_t m = 8 * (sb / 8) + 7 - (sb % 8);
    const int64_t x = 64 - m - length;
    stored = 8 * (7 - x / 8) + (x % 8);
  }
  s.SetStartBit(static_cast<int32_t>(std::clamp<int64_t>(
      stored, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())));
  s.SetLength(length);
  s.SetMotorola(motorola);

  tok = NextTokenWithoutStrings();
  while (tok.kind == Token::kIdent && !MisspelledKeywordStartsLine()) {
    s.AddReceiver(TokenText());
    tok = NextTokenWithoutStrings();
    if (tok.Is(',')) {
      tok = NextTokenWithoutStrings();
      if (tok.kind != Token::kIdent) break;
    }
  }
  ok = true;
  return tok;
}

// ---- Comments, value types, value descriptions --------------------------------------------------

DbcReader::Token DbcReader::ParseComment() {
  Token tok = NextToken();
  if (tok.kind == Token::kString) {
    db_.SetComment(TokenText());
  } else if (tok.Is(Kw::kBO)) {
    tok = NextToken();
    if (tok.kind != Token::kInt) {
      ReportExpected(tok, "Id expected for message comment");
    } else if (CANdbMessage* m = db_.FindMessageById(tok.Id()); m == nullptr) {
      LogError(DbcProblemKind::kUnknownName, "No message found for comment line");
    } else {
      tok = NextToken();
      if (tok.kind != Token::kString) {
        ReportExpected(tok, "String expected for message comment");
      } else {
        m->SetComment(TokenText());
      }
    }
  } else if (tok.Is(Kw::kSG)) {
    tok = NextToken();
    if (tok.kind != Token::kInt) {
      ReportExpected(tok, "Id expected for signal comment");
    } else if (CANdbMessage* m = db_.FindMessageById(tok.Id()); m == nullptr) {
      LogF(DbcProblemKind::kUnknownName, "Message (id=%d) found for comment line", tok.Int32());
    } else {
      tok = NextToken();
      CANdbSignal* s = nullptr;
      if (tok.kind != Token::kIdent) {
        ReportExpected(tok, "Signal name expected for signal comment");
      } else if (s = m->FindSignalByName(TokenText()); s == nullptr) {
        LogError(DbcProblemKind::kUnknownName, "Signal not found");
      } else {
        tok = NextToken();
        if (tok.kind != Token::kString) {
          ReportExpected(tok, "String expected for signal comment");
        } else {
          s->SetComment(TokenText());
        }
      }
    }
  }
  // After the comment's text only the ';' is left: a quote there is a stray one.
  return SkipPast(tok, ';', tok.kind == Token::kString);
}

DbcReader::Token DbcReader::ParseSignalValueType() {
  Token tok = NextToken();
  if (tok.kind != Token::kInt) {
    ReportExpected(tok, "Id expected for signal type");
    return tok;
  }
  CANdbMessage* m = db_.FindMessageById(tok.Id());
  if (m == nullptr) {
    LogF(DbcProblemKind::kUnknownName, "Message (id=%d) found for type info", tok.Int32());
    return tok;
  }
  tok = NextToken();
  if (tok.kind != Token::kIdent) {
    ReportExpected(tok, "Signal name expected for signal type");
    return tok;
  }
  CANdbSignal* s = m->FindSignalByName(TokenText());
  if (s == nullptr) {
    LogError(DbcProblemKind::kUnknownName, "Signal not found");
    return tok;
  }
  tok = NextToken();
  // The format's own description writes the statement without the ':' ("SIG_VALTYPE_ 100 S 1;"),
  // and so do the tools that follow it.
  if (!tok.Is(':') && tok.kind != Token::kInt) {
    ReportExpected(tok, "Expected ':'");
    return tok;
  }
  if (tok.Is(':')) tok = NextToken();
  if (tok.kind != Token::kInt) {
    ReportExpected(tok, "Number expected for signal type");
    if (tok.kind == Token::kFail) return tok;
  } else if (tok.i == 2 || (tok.i != 0 && s->length() == 64)) {
    s->SetValueType(CANdbValueType::kDouble);
  } else if (tok.i != 0) {
    // 0 declares an integer signal: the type of its definition line stays.
    s->SetValueType(CANdbValueType::kFloat);
  }
  tok = NextToken();
  if (tok.Is(';')) tok = NextToken();
  return tok;
}

DbcReader::Token DbcReader::ParseValueDescriptions() {
  Token tok = NextToken();
  if (tok.kind != Token::kInt) return SkipPast(tok, ';');  // environment variable
  CANdbMessage* m = db_.FindMessageById(tok.Id());
  if (m == nullptr) {
    LogF(DbcProblemKind::kUnknownName, "Message (id=%lld) NOT found for type info",
         static_cast<long long>(tok.i));
    return tok;
  }
  tok = NextToken();
  if (tok.kind != Token::kIdent) {
    ReportExpected(tok, "Signal name expected for signal value");
    return tok;
  }
  CANdbSignal* s = m->FindSignalByName(TokenText());
  if (s == nullptr) {
    LogError(DbcProblemKind::kUnknownName, "Signal not found");
    return tok;
  }
  tok = NextToken();
  if (tok.Is(';')) return NextToken();  // an empty list is legal
  for (;;) {
    if (MissingSemicolonBefore(tok)) return tok;
    if (tok.kind != Token::kInt) {
      ReportExpected(tok, "Number expected for signal value");
      return tok;
    }
    const int32_t value = tok.Int32();
    tok = NextToken();
    if (MissingSemicolonBefore(tok)) return tok;
    if (tok.kind != Token::kString) {
      ReportExpected(tok, "String expected for signal value");
      return tok;
    }
    s->AddValueDesc(value, TokenText());
    tok = NextToken();
    if (tok.Is(';')) return NextToken();
  }
}

// SG_MUL_VAL_ id signal switch low-high, ... ; names the switch of a signal under extended
// multiplexing and the switch values at which it is present. Nothing is reported: a line that
// does not fit this form, or names an unknown message or signal, is skipped up to its ';'.
DbcReader::Token DbcReader::ParseMultiplexerValues() {
  Token tok = NextToken();
  if (tok.kind != Token::kInt) return SkipPast(tok, ';');
  const CANdbMessage* m = db_.FindMessageById(tok.Id());
  tok = NextToken();
  if (tok.kind != Token::kIdent) return SkipPast(tok, ';');
  CANdbSignal* s = m ? m->FindSignalByName(TokenText()) : nullptr;
  tok = NextToken();
  if (tok.kind != Token::kIdent) return SkipPast(tok, ';');
  const std::string switch_name(token_text_, token_len_);
  std::vector<std::pair<int64_t, int64_t>> ranges;
  tok = NextToken();
  while (tok.kind == Token::kInt) {
    const int64_t low = tok.i;
    int64_t high = low;
    tok = NextToken();
    // "3-5" scans as 3 and -5 (a sign before a digit starts a number), "0-0" as 0 and -0.
    if (tok.kind == Token::kInt && tok.i <= 0 && tok.i > std::numeric_limits<int64_t>::min()) {
      high = -tok.i;
      tok = NextToken();
    }
    ranges.emplace_back(low, high);
    if (tok.Is(',')) tok = NextToken();
  }
  if (s != nullptr) s->SetMultiplexerSwitch(switch_name, std::move(ranges));
  return SkipPast(tok, ';');
}

// ---- Attributes ---------------------------------------------------------------------------------

DbcReader::Token DbcReader::ParseAttrDefinition() {
  const auto fail = [this](Token got, const char* text) {
    ReportExpected(got, text);
    return Token::Fail();
  };
  auto def = std::make_unique<CANdbAttributeDefinition>();
  Token tok = NextToken();
  CANdbAttributeOwner owner = CANdbAttributeOwner::kDb;
  if (tok.Is(Kw::kBU)) owner = CANdbAttributeOwner::kNode;
  if (tok.Is(Kw::kBO)) owner = CANdbAttributeOwner::kMessage;
  if (tok.Is(Kw::kSG)) owner = CANdbAttributeOwner::kSignal;
  if (tok.Is(Kw::kEV)) owner = CANdbAttributeOwner::kEnv;
  if (owner != CANdbAttributeOwner::kDb) tok = NextToken();
  if (tok.kind != Token::kString) return fail(tok, "Attribute name expected");
  def->SetName(TokenText());
  tok = NextToken();
  if (tok.kind != Token::kIdent) return fail(tok, "Attribute type expected");
  const std::string_view type_word(token_text_, token_len_);
  CANdbAttributeType type = CANdbAttributeType::kInvalid;
  if (type_word == "INT") type = CANdbAttributeType::kInteger;
  if (type_word == "HEX") type = CANdbAttributeType::kHex;
  if (type_word == "FLOAT") type = CANdbAttributeType::kFloat;
  if (type_word == "ENUM") type = CANdbAttributeType::kEnum;
  if (type_word == "STRING") type = CANdbAttributeType::kString;
  def->SetType(type);
  def->SetOwner(owner);

  tok = NextToken();
  switch (type) {
    case CANdbAttributeType::kInteger:
    case CANdbAttributeType::kHex:
      // Real files also write real-valued limits here (beyond the 64-bit range, too); they are
      // limited to the 32-bit range instead of ending the read.
      if (!tok.IsNumber()) return fail(tok, "Attribute min value expected");
      def->SetIntMin(tok.Int32());
      tok = NextToken();
      if (!tok.IsNumber()) return fail(tok, "Attribute max value expected");
      def->SetIntMax(tok.Int32());
      tok = NextToken();
      break;
    case CANdbAttributeType::kFloat:
      if (!tok.IsNumber()) return fail(tok, "Attributes min value expected");
      def->SetFloatMin(tok.Number());
      tok = NextToken();
      if (!tok.IsNumber()) return fail(tok, "Attributes max value expected");
      def->SetFloatMax(tok.Number());
      tok = NextToken();
      break;
    case CANdbAttributeType::kEnum: {
      int32_t index = 0;
      while (!tok.Ends() && !tok.Is(';') && !MissingSemicolonBefore(tok)) {
        if (tok.kind == Token::kString) {
          def->AddEnumItem(TokenText(), index++);
        }
        tok = NextToken();
      }
      break;
    }
    case CANdbAttributeType::kString:
      if (!tok.Is(';') && !MissingSemicolonBefore(tok)) {
        return fail(tok, "';' expected (String Attribute)");
      }
      break;
    case CANdbAttributeType::kInvalid:
      break;
  }
  if (tok.Is(';')) tok = NextToken();
  db_.AddAttrDef(std::move(def));
  return tok;
}

DbcReader::Token DbcReader::ParseAttrDefault() {
  const auto fail = [this](Token got, const char* text) {
    ReportExpected(got, text);
    return Token::Fail();
  };
  Token tok = NextToken();
  if (tok.kind != Token::kString) return fail(tok, "Attribute name expected");
  CANdbAttributeDefinition* def = nullptr;
  for (const auto& d : db_.attr_defs()) {
    if (d->name() == TokenText()) {
      def = d.get();
      break;
    }
  }
  if (def == nullptr) {
    LogF(DbcProblemKind::kUnknownName, "Attribute '%s' not found\n", token_text_);
    return Token::Fail();
  }
  tok = NextToken();
  switch (def->type()) {
    case CANdbAttributeType::kString:
      if (tok.kind != Token::kString) return fail(tok, "String expected");
      def->SetDefaultText(TokenText());
      break;
    case CANdbAttributeType::kEnum:
      if (tok.kind != Token::kString) return fail(tok, "String expected");
      def->SetIntDefault(def->FindEnumItem(TokenText()));
      break;
    case CANdbAttributeType::kInteger:
    case CANdbAttributeType::kHex:
      if (!tok.IsNumber()) return fail(tok, "Integer value expected");
      def->SetIntDefault(tok.Int32());
      break;
    case CANdbAttributeType::kFloat:
      if (!tok.IsNumber()) return fail(tok, "Float value expected");
      def->SetFloatDefault(tok.Number());
      break;
    case CANdbAttributeType::kInvalid:
      break;
  }
  tok = NextToken();
  if (MissingSemicolonBefore(tok)) return tok;
  if (!tok.Is(';')) return fail(tok, "';' expected (attribute default value)");
  return NextToken();
}

DbcReader::Token DbcReader::ParseAttrValue() {
  const auto fail = [this](Token got, const char* text) {
    ReportExpected(got, text);
    return Token::Fail();
  };
  Token tok = NextToken();
  if (tok.kind != Token::kString) return fail(tok, "Attribute name expected");
  const CANdbAttributeDefinition* def = db_.FindAttrDef(TokenText());
  if (def == nullptr) {
    // Logged without the line prefix.
    ShowMessageF(kMsgError, "Attribute '%s' not found\n", token_text_);
    Record(DbcProblemKind::kUnknownName, StrPrintf(Tr("Attribute '%s' not found\n"), token_text_));
    return SkipPast(NextToken(), ';');  // nothing of this statement is stored
  }

  CANdbAttributeList* owner = &db_.attributes();
  tok = NextToken();
  if (tok.Is(Kw::kBU)) {
    tok = NextToken();
    if (tok.kind != Token::kIdent) return fail(tok, "Node name expected");
    CANdbNode* node = db_.FindNode(TokenText());
    owner = node ? &node->attributes() : nullptr;
    tok = NextToken();
  } else if (tok.Is(Kw::kBO) || tok.Is(Kw::kSG)) {
    const bool is_signal = tok.Is(Kw::kSG);
    tok = NextToken();
    if (tok.kind != Token::kInt) return fail(tok, "Message Id expected");
    CANdbMessage* m = db_.FindMessageById(tok.Id());
    if (m == nullptr) LogF(DbcProblemKind::kUnknownMessage, "Message %d not found", tok.Int32());
    owner = m ? &m->attributes() : nullptr;
    tok = NextToken();
    if (is_signal) {
      if (tok.kind != Token::kIdent) return fail(tok, "Message name expected");
      CANdbSignal* s = m ? m->FindSignalByName(TokenText()) : nullptr;
      owner = s ? &s->attributes() : nullptr;
      tok = NextToken();
    }
  } else if (tok.Is(Kw::kEV)) {
    tok = NextToken();
    if (tok.kind != Token::kIdent) return fail(tok, "Environment variable name expected");
    owner = nullptr;
    tok = NextToken();
  }

  CANdbAttribute value(def);
  switch (def->type()) {
    case CANdbAttributeType::kString:
      if (tok.kind != Token::kString) return fail(tok, "String expected");
      value.SetText(TokenText());
      break;
    case CANdbAttributeType::kInteger:
    case CANdbAttributeType::kHex:
    case CANdbAttributeType::kEnum:
      if (!tok.IsNumber()) return fail(tok, "Integer value expected");
      value.SetInt(tok.Int32());
      break;
    case CANdbAttributeType::kFloat:
      if (!tok.IsNumber()) return fail(tok, "Float value expected");
      value.SetDouble(tok.Number());
      break;
    case CANdbAttributeType::kInvalid:
      break;
  }
  tok = NextToken();
  const bool missing_semicolon = MissingSemicolonBefore(tok);
  if (!missing_semicolon && !tok.Is(';')) return fail(tok, "';' expected (attribute value)");
  if (!missing_semicolon) tok = NextToken();
  if (owner != nullptr) owner->Append(std::move(value));
  return tok;
}

}  // namespace tessmar
