#pragma once
// The DBC reader: a hand-written scanner and recursive-descent parser that fills a CANdb from the
// bytes of a DBC file or from DBC text in memory. It accepts a fixed subset of the format and
// skips everything else token by token.
//
// Problems go to the message output with the line number, exactly as the import has always shown
// them, and come back from the read as typed values (DbcProblem), so that callers and tests can
// tell what went wrong without parsing message texts.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/buffered_file.h"

namespace tessmar {

class CANdb;
class CANdbSignal;

// What kind of problem the reader met. The first five are logged as errors, the others as
// warnings.
enum class DbcProblemKind {
  // A statement not in the form the reader expects ("CAN id expected", "Invalid number ..."),
  // also the node list without its ':'. In a message, signal or attribute statement it ends the
  // read there; in a comment, value type or value description only that statement is dropped.
  kSyntaxError,
  // A statement names a message, signal or attribute that the database does not hold; the
  // statement is dropped.
  kUnknownName,
  // The input ended inside a block comment or a string.
  kUnexpectedEnd,
  // The file could not be read to its end (an I/O error) or not be closed.
  kReadFailure,
  // The reader's own token buffer was overrun.
  kInternalError,
  // A statement lacks its ';' before the next statement's keyword; it ends there.
  kMissingSemicolon,
  // A '"' where no string can stand, without its closing '"' on that line; the line is skipped.
  kStrayQuote,
  // A keyword in another letter case ("bo_") at the start of a line; the line is skipped.
  kNotAKeyword,
  // A message line ends after its DLC; the message loads without sender.
  kMissingSender,
  // An attribute value names a message that the database does not hold; the value is dropped.
  kUnknownMessage,
  // The character reader was used outside a read or pushed back two characters.
  kReaderMisuse,
};

// True for the kinds that are logged as errors.
bool IsError(DbcProblemKind kind);

// One problem of a read: the line the reader was on, its kind and the text of the message that
// was logged for it, without the "CANdb-Import-..." prefix and without a trailing line feed.
struct DbcProblem {
  int32_t line = 0;
  DbcProblemKind kind = DbcProblemKind::kSyntaxError;
  std::string text;

  friend bool operator==(const DbcProblem&, const DbcProblem&) = default;
};

struct DbcReadResult {
  // 0 when the input was read to its end, also when a statement error ended the read early (the
  // database keeps what was read before it); -1 when the file cannot be opened or read (an I/O
  // error is not the end of the file: the database keeps what was read before it) or the node
  // list lacks its colon.
  int status = 0;
  // Statements of the DBC format met (keywords such as BO_, BU_, NS_, VERSION); 0 for input that
  // is no CAN database at all (empty, binary, other text).
  int statement_count = 0;
  // Every problem logged during the read, in the order logged.
  std::vector<DbcProblem> problems;
};

// Reads one DBC input into a fresh CANdb. One reader reads once: its line count starts at 1 and
// is never reset.
class DbcReader {
 public:
  static constexpr std::size_t kTokenBufferSize = 999;  // 998 characters and the terminating zero

  // The database must outlive the reader.
  explicit DbcReader(CANdb& db);
  ~DbcReader();
  DbcReader(const DbcReader&) = delete;
  DbcReader& operator=(const DbcReader&) = delete;

  // Reads a DBC file into the database and sets its path and loaded flag. A file that cannot be
  // opened logs nothing and gives -1 with the database left empty and not loaded.
  [[nodiscard]] DbcReadResult ReadFile(const std::string& path);
  // Reads DBC text held in memory the same way; name stands for the file in messages and the
  // database's path(). The text is not kept after the call.
  [[nodiscard]] DbcReadResult ReadText(std::string_view text, const std::string& name);

 private:
  struct Token;
  int ReadChar();
  int UngetChar(int c);
  int ReadFileByte();
  Token NextToken();
  Token NextTokenWithoutStrings();
  Token ReadNumber(int first);
  Token ReadString(bool& stray);
  Token SkipPast(Token tok, int stop_char, bool stray_quotes = false);
  bool StartsStatement(const Token& tok) const;
  bool MisspelledKeywordStartsLine() const;
  bool MissingSemicolonBefore(const Token& tok);
  Token ParseMessage();
  Token ParseSignal(CANdbSignal& signal, bool& ok);
  Token ParseComment();
  Token ParseSignalValueType();
  Token ParseValueDescriptions();
  Token ParseMultiplexerValues();
  Token ParseAttrDefinition();
  Token ParseAttrDefault();
  Token ParseAttrValue();
  std::string_view TokenText() const { return std::string_view(token_text_, token_len_); }
  void LogError(DbcProblemKind kind, const char* text);
  void LogWarning(DbcProblemKind kind, const char* text);
  void ReportExpected(Token& got, const char* text);
  void LogF(DbcProblemKind kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void Record(DbcProblemKind kind, std::string_view text);
  DbcReadResult ReadStatements();  // the statement loop over the opened input
  DbcReadResult Finish(int status);
  void CloseInput();

  CANdb& db_;
  DbcReadResult result_;

  char token_text_[kTokenBufferSize] = {};
  char buffer_guard_ = 'i';  // checked after a read: an overrun of token_text_ would reach it
  std::size_t token_len_ = 0;
  std::string path_;
  BufferedFile file_;
  std::unique_ptr<unsigned char[]> io_buffer_;
  const unsigned char* input_ = nullptr;  // the bytes io_pos_..io_len_: io_buffer_ or a text
  bool input_open_ = false;               // a file or a text is being read
  std::size_t io_pos_ = 0;
  std::size_t io_len_ = 0;
  int read_errno_ = 0;      // errno of a failed read of the file, 0 = none
  std::string bad_number_;  // text of the last number the scanner rejected
  int pushed_back_ = 0;  // 0 = none; else the character + 2 (so that -1 and 0 can be pushed back)
  int pushed_back_next_ = 0;  // read after pushed_back_; only the scanner's look-ahead in "-.5"
  // Set while reading tokens where no string can stand (after node names and receivers, after a
  // comment's text): a quote that is not closed on its own line is stray and skipped with the
  // rest of that line instead of swallowing the statements after it.
  bool stray_quotes_ = false;
  int32_t line_ = 1;
  bool token_at_line_start_ = false;  // only blanks stand before the last token on its line
};

}  // namespace tessmar
