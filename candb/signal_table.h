#pragma once
// The CANdb signal table: the lasting store of imported signals. One header row and data rows
// from row 1 on, 17 text cells each; signals of bus 1 and bus 2 live in the same table. Loading a
// DBC file reads it into a short-lived CANdb and copies every signal into a row tagged with the
// bus number. The tree, the lists, the search and the logger configuration all read these cells.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessmar {

class CANdb;
class CANdbMessage;
class CANdbSignal;

inline constexpr int kSignalTableColumns = 17;

// Columns of the signal table.
enum SignalTableColumn : int {
  kColSt = 0,  // "[*]" when the signal is logged
  kColSigName = 1,
  kColBusNr = 2,
  kColId = 3,  // "0x%08lX,%d": identifier (bit 31 clear) and extended flag
  kColNodeName = 4,
  kColMsgName = 5,
  kColType = 6,  // "UNSIGNED", "SIGNED", "FLOAT", "DOUBLE" or "INVALID"
  kColUnit = 7,
  kColFactor = 8,  // "%lg"
  kColOffset = 9,
  kColMinValue = 10,
  kColMaxValue = 11,
  kColMapping = 12,  // "%d,%d,%c": start bit, length, 'M' or 'I'
  kColMultiplexor = 13,
  kColValueTable = 14,
  kColComment = 15,
  kColRowStatus = 16,
};

using SignalTableRow = std::array<std::string, kSignalTableColumns>;

// Header texts of the 17 columns.
const std::array<const char*, kSignalTableColumns>& SignalTableTitles();

// Load flags: ignore node names / message names when looking for an existing row of a signal.
inline constexpr unsigned kLoadIgnoreNodeNames = 1u;
inline constexpr unsigned kLoadIgnoreMessageNames = 2u;

// Wildcard matcher of the table: '?' matches one character, other characters match themselves
// with letters compared without regard to case. A '*' searches the literal run after it in the
// rest of s (exact case, first occurrence, no backtracking); a trailing '*', "**" or "*?" match
// the rest. "abc*" does not match "abc".
bool MatchPattern(std::string_view s, std::string_view pattern);

// Comment as the table shows it: leading blanks and line breaks skipped, at most the first line
// of 39 characters; a cut comment ends in "..." after at most 36 characters.
std::string ShortenComment(std::string_view comment);

class SignalTable {
 public:
  // A table with the header row and one empty data row.
  SignalTable();

  // Rows including the header row (always at least 2).
  int row_count() const { return static_cast<int>(rows_.size()); }
  int data_row_count() const { return row_count() - 1; }
  bool IsDataRow(int r) const { return r >= 1 && r < row_count(); }
  const SignalTableRow& row(int r) const { return rows_[static_cast<std::size_t>(r)]; }
  const std::string& cell(int r, int column) const {
    return rows_[static_cast<std::size_t>(r)][static_cast<std::size_t>(column)];
  }
  // Sets one cell of an existing row (the "St" marks of the logged rows, for example).
  void SetCell(int r, int column, std::string text);
  // Appends a data row (for callers that build a table by hand, such as tests).
  int AppendRow(const SignalTableRow& row);

  // Why the logger cannot record the signal of data row r as its database describes it ("Signal
  // \"%s\" of message \"%s\" cannot be logged: ..."); empty when it can, and for rows built by
  // hand. Set by LoadDbc(), which also logs it as a warning naming the line.
  const std::string& logging_problem(int r) const;

  // Cuts the table back to the header row and one empty data row.
  void Reset();

  // Loads a DBC file for bus n and writes its signals into the table; returns the number of
  // signals written. An existing row of the same bus, node, message and signal name (compared
  // with MatchPattern(), flags may leave out node and message) is overwritten or duplicated as the
  // user answers the question "Loading CANdb: Signal already defined" (batch answer: Yes,
  // overwrite). Whatever the reader read before an error is copied. Signals that the logger
  // cannot record as described get a warning naming their line (candb/logging_check.h).
  // *statements (optional) receives the number of DBC statements the file held: 0 for a file that
  // is no CAN database at all.
  int LoadDbc(const std::filesystem::path& path, int bus, unsigned flags,
              int* statements = nullptr);
  // The same for a database that is already read (from a file or from memory).
  int LoadDbc(const CANdb& db, int bus, unsigned flags);

  // First row from start_row on with "Bus Nr" equal to the bus digit whose node, message and
  // signal cells match the patterns (an empty pattern matches every row); -1 if none.
  int FindRow(int bus, std::string_view node, std::string_view message, std::string_view signal,
              int start_row = 1) const;

  // The table's current row (the row the views show selected); 0 when none.
  int current_row() const { return current_row_; }
  void SetCurrentRow(int r) { current_row_ = r; }

 private:
  class DuplicateIndex;
  void FillRow(SignalTableRow& row, const CANdbMessage& message, const CANdbSignal& signal,
               const CANdbSignal* multiplexer, int bus) const;

  std::vector<SignalTableRow> rows_;
  std::vector<std::string> logging_problems_;  // one per row, beside rows_
  int current_row_ = 0;
};

// Bus number of a row: the "Bus Nr" cell, 1 when it is not a number, limited to 1..2.
int RowBus(const SignalTable& table, int r);

// Loads a DBC file (".dbc" path and bus number, as the command lines give them) into a table as
// the import does: a missing file gives "File not found: \"%s\" ." and leaves the table as it
// was; otherwise the file is loaded ignoring node names when matching earlier rows and
// "Loaded CAN database \"%s\" for bus #%d, %d signals." is logged. False for a missing file and for
// a file that holds no DBC statement at all (reported as not a CAN database).
bool LoadDbcIntoTable(SignalTable& table, const std::filesystem::path& path, int bus);

// Splits a command-line argument "FILE[,BUS]" into path and bus (default 1). False when the bus
// part is not 1 or 2, the buses a database can be imported for.
bool ParseDbcArgument(std::string_view arg, std::filesystem::path& path, int& bus);

}  // namespace tessmar
