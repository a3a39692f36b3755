#include "candb/signal_table.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "candb/candb.h"
#include "candb/dbc_reader.h"
#include "candb/logging_check.h"
#include "common/c_locale.h"
#include "common/message_output.h"
#include "common/translation.h"

namespace tessmar {
namespace {

constexpr std::size_t kMaxNameChars = 40;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool HasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

std::string Cut(std::string_view s, std::size_t n) { return std::string(s.substr(0, n)); }

// "%lg", with more digits where six would not give the database's number back: the cell is
// what the logger configuration is later built from.
std::string FormatNumber(double v) { return FormatGRoundTrip(v); }

}  // namespace

const std::array<const char*, kSignalTableColumns>& SignalTableTitles() {
  static const std::array<const char*, kSignalTableColumns> titles = {
      "St",      "SigName",     "Bus Nr",     "ID, extd-flag", "NodeName", "MsgName",
      "Type",    "Unit",        "Factor",     "Offset",        "MinValue", "MaxValue",
      "Mapping", "Multiplexor", "ValueTable", "Comment",       "RowStatus"};
  return titles;
}

// ---- Pattern matcher ----------------------------------------------------------------------------

bool MatchPattern(std::string_view s, std::string_view p) {
  std::size_t i = 0;        // position in s
  std::size_t j = 0;        // position in p
  bool after_star = false;  // the last pattern element consumed was a '*' with its run
  for (;;) {
    if (j == p.size()) return i == s.size() || after_star;
    if (i == s.size()) return after_star;
    const char pc = p[j];
    if (pc == '?') {
      ++i;
      ++j;
      after_star = false;
    } else if (pc == '*') {
      if (j + 1 == p.size()) return true;
      std::size_t run_end = j + 1;
      while (run_end < p.size() && p[run_end] != '*' && p[run_end] != '?') ++run_end;
      const std::string_view run = p.substr(j + 1, run_end - j - 1);
      if (run.empty()) return true;
      // The search stops at the first control character of s.
      std::size_t limit = i;
      while (limit < s.size() && static_cast<unsigned char>(s[limit]) >= 0x20) ++limit;
      const std::size_t pos = s.substr(0, limit).find(run, i);
      if (pos == std::string_view::npos) return false;
      i = pos + run.size();
      j = run_end;
      after_star = true;
    } else {
      if (Lower(pc) != Lower(s[i])) return false;
      ++i;
      ++j;
      after_star = false;
    }
  }
}

std::string ShortenComment(std::string_view comment) {
  std::size_t start = 0;
  while (start < comment.size() && (comment[start] == ' ' || comment[start] == '\t' ||
                                    comment[start] == '\r' || comment[start] == '\n')) {
    ++start;
  }
  const std::string_view rest = comment.substr(start);
  std::string_view shown = rest.substr(0, 39);
  const std::size_t lf = shown.find('\n');
  if (lf != std::string_view::npos) shown = shown.substr(0, lf);
  if (shown.size() < rest.size()) return std::string(shown.substr(0, 36)) + "...";
  return std::string(shown);
}

// ---- Duplicate lookup ---------------------------------------------------------------------------

// Finds the first row that a loaded signal duplicates. Names without wildcards match a cell
// exactly up to letter case, so a hash of the lower-case names answers those lookups without a
// scan of the table; names with '*' or '?' fall back to the matcher.
class SignalTable::DuplicateIndex {
 public:
  DuplicateIndex(const SignalTable& table, unsigned flags)
      : table_(table),
        ignore_node_((flags & kLoadIgnoreNodeNames) != 0),
        ignore_message_((flags & kLoadIgnoreMessageNames) != 0) {
    for (int r = 1; r < table.row_count(); ++r) rows_by_key_[KeyOfRow(r)].push_back(r);
  }

  int Find(int bus, std::string_view node, std::string_view message,
           std::string_view signal) const {
    const std::string_view n = ignore_node_ ? std::string_view() : node;
    const std::string_view m = ignore_message_ ? std::string_view() : message;
    if (signal.empty() || HasWildcard(n) || HasWildcard(m) || HasWildcard(signal) ||
        (!ignore_node_ && node.empty()) || (!ignore_message_ && message.empty())) {
      return table_.FindRow(bus, n, m, signal, 1);
    }
    const auto it = rows_by_key_.find(Key(std::to_string(bus), n, m, signal));
    if (it == rows_by_key_.end() || it->second.empty()) return -1;
    return it->second.front();
  }

  std::string KeyOfRow(int r) const {
    const SignalTableRow& row = table_.row(r);
    return Key(row[kColBusNr], ignore_node_ ? std::string_view() : row[kColNodeName],
               ignore_message_ ? std::string_view() : row[kColMsgName], row[kColSigName]);
  }

  // Row r is about to change from old_key to its current content.
  void Update(int r, const std::string& old_key) {
    const std::string new_key = KeyOfRow(r);
    if (new_key == old_key) return;
    auto& old_rows = rows_by_key_[old_key];
    old_rows.erase(std::remove(old_rows.begin(), old_rows.end(), r), old_rows.end());
    auto& rows = rows_by_key_[new_key];
    rows.insert(std::upper_bound(rows.begin(), rows.end(), r), r);
  }

  void Added(int r) { rows_by_key_[KeyOfRow(r)].push_back(r); }

 private:
  static std::string Key(std::string_view bus, std::string_view node, std::string_view message,
                         std::string_view signal) {
    std::string key;
    key.reserve(bus.size() + node.size() + message.size() + signal.size() + 3);
    key += bus;
    key += '\x1f';
    key += LowerCopy(node);
    key += '\x1f';
    key += LowerCopy(message);
    key += '\x1f';
    key += LowerCopy(signal);
    return key;
  }

  const SignalTable& table_;
  bool ignore_node_;
  bool ignore_message_;
  std::unordered_map<std::string, std::vector<int>> rows_by_key_;
};

// ---- Table --------------------------------------------------------------------------------------

SignalTable::SignalTable() { Reset(); }

void SignalTable::Reset() {
  rows_.assign(2, SignalTableRow{});
  logging_problems_.assign(2, std::string());
  const auto& titles = SignalTableTitles();
  for (int c = 0; c < kSignalTableColumns; ++c)
    rows_[0][static_cast<std::size_t>(c)] = titles[static_cast<std::size_t>(c)];
  current_row_ = 0;
}

void SignalTable::SetCell(int r, int column, std::string text) {
  if (!IsDataRow(r) || column < 0 || column >= kSignalTableColumns) return;
  rows_[static_cast<std::size_t>(r)][static_cast<std::size_t>(column)] = std::move(text);
}

int SignalTable::AppendRow(const SignalTableRow& row) {
  rows_.push_back(row);
  logging_problems_.emplace_back();
  return row_count() - 1;
}

const std::string& SignalTable::logging_problem(int r) const {
  static const std::string kNone;
  if (r < 0 || static_cast<std::size_t>(r) >= logging_problems_.size()) return kNone;
  return logging_problems_[static_cast<std::size_t>(r)];
}

int SignalTable::FindRow(int bus, std::string_view node, std::string_view message,
                         std::string_view signal, int start_row) const {
  char bus_text[16];
  std::snprintf(bus_text, sizeof bus_text, "%d", bus);
  for (int r = std::max(start_row, 1); r < row_count(); ++r) {
    const SignalTableRow& row = rows_[static_cast<std::size_t>(r)];
    if (row[kColBusNr] != bus_text) continue;
    if (!node.empty() && !MatchPattern(row[kColNodeName], node)) continue;
    if (!message.empty() && !MatchPattern(row[kColMsgName], message)) continue;
    if (!signal.empty() && !MatchPattern(row[kColSigName], signal)) continue;
    return r;
  }
  return -1;
}

void SignalTable::FillRow(SignalTableRow& row, const CANdbMessage& message,
                          const CANdbSignal& signal, const CANdbSignal* multiplexer,
                          int bus) const {
  char buf[64];
  row[kColSigName] = Cut(signal.name(), kMaxNameChars);
  row[kColBusNr] = std::to_string(bus);
  std::snprintf(buf, sizeof buf, "0x%08lX,%d", static_cast<unsigned long>(message.identifier()),
                message.extended() ? 1 : 0);
  row[kColId] = buf;
  row[kColNodeName] = Cut(message.sender(), kMaxNameChars);
  row[kColMsgName] = Cut(message.name(), kMaxNameChars);
  row[kColType] = ValueTypeName(signal.value_type());
  row[kColUnit] = signal.unit();
  row[kColFactor] = FormatNumber(signal.factor());
  row[kColOffset] = FormatNumber(signal.offset());
  row[kColMinValue] = FormatNumber(signal.minimum());
  row[kColMaxValue] = FormatNumber(signal.maximum());
  std::snprintf(buf, sizeof buf, "%d,%d,%c", static_cast<int>(signal.start_bit()),
                static_cast<int>(signal.length()), signal.motorola() ? 'M' : 'I');
  row[kColMapping] = buf;
  std::string mux;
  if (signal.is_multiplexed()) {
    // The switch named for the signal (several switches in one message), else the message's.
    const CANdbSignal* muxer = multiplexer ? multiplexer : message.FindMultiplexer();
    if (muxer != nullptr) {
      std::snprintf(buf, sizeof buf, "%d,%d,%d,%c", static_cast<int>(signal.multiplexer_value()),
                    static_cast<int>(muxer->start_bit()), static_cast<int>(muxer->length()),
                    muxer->motorola() ? 'M' : 'I');
      mux = buf;
    } else {
      mux = "MUXER invalid ?!?";
    }
  }
  if (signal.is_multiplexer()) mux += "MUX_SIGNAL";
  row[kColMultiplexor] = std::move(mux);
  row[kColValueTable].clear();
  if (signal.comment()) row[kColComment] = ShortenComment(*signal.comment());
  row[kColRowStatus] = "0";
}

int SignalTable::LoadDbc(const std::filesystem::path& path, int bus, unsigned flags,
                         int* statements) {
  CANdb db;
  // Whatever was read is copied, also after an error.
  const DbcReadResult read = DbcReader(db).ReadFile(path.string());
  if (statements != nullptr) *statements = read.statement_count;
  return LoadDbc(db, bus, flags);
}

int SignalTable::LoadDbc(const CANdb& db, int bus, unsigned flags) {
  if (rows_.size() < 2) Reset();
  const LoggingCheck check(db);
  check.Report();
  DuplicateIndex index(*this, flags);
  bool asking = true;
  bool search = true;
  int count = 0;
  for (const auto& message : db.messages()) {
    const std::string node = Cut(message->sender(), kMaxNameChars);
    const std::string msg_name = Cut(message->name(), kMaxNameChars);
    for (const auto& signal : message->signals()) {
      const std::string sig_name = Cut(signal->name(), kMaxNameChars);
      int r = search ? index.Find(bus, node, msg_name, sig_name) : -1;
      if (r >= 1 && asking) {
        Question q;
        // This question has its own German text instead of table rows.
        const bool german = GermanUi();
        q.caption = german ? "Laden aus CANdb-Datei: Signal schon definiert"
                           : "Loading CANdb: Signal already defined";
        q.text = StrPrintf(
            german
                ? "Eine Definition des CAN-Signals\r\n\n         \"%s.%s.%s\"\r\n\n existiert "
                  "bereits in der CANdb-Tabelle für Bus #%d .\r\n\nSollen alte Signaldefinitionen "
                  "ersetzt werden ?\r\n  Wählen Sie..\r\n          \"Ja\"     um alte "
                  "Definitionen zu ERSETZEN und neue ANZUHÄNGEN,\r\n          \"Nein\"  um alle "
                  "Definitionen an die Tabelle ANZUHÄNGEN,\r\n          \"Abbrechen\" um das Laden "
                  "des CANdb-files sofort abzubrechen ."
                : "A definition for signal\r\n\n         \"%s.%s.%s\"\r\n\n already exists in the "
                  "CANdb table for Bus #%d .\r\n\nReplace old signal definitions ?\r\n  Choose\r\n"
                  "          \"YES\" to replace old definitions, and append new ones,\r\n"
                  "          \"NO\"  to append all definitions (don't care for dupes),\r\n"
                  "          \"CANCEL\" to stop loading this CANdb file .",
            node.c_str(), msg_name.c_str(), sig_name.c_str(), bus);
        q.buttons = Buttons::kYesNoCancel;
        q.batch_answer = Answer::kYes;
        const Answer a = Ask(q);
        if (a == Answer::kCancel) return count;
        if (a == Answer::kNo) {
          search = false;
          r = -1;
        } else {
          asking = false;
        }
      }
      // An empty first data row (the table after a reset) is filled before rows are appended.
      if (r < 1 && row_count() == 2 && rows_[1][kColSigName].empty() &&
          rows_[1][kColBusNr].empty()) {
        r = 1;
      }
      const CANdbSignal* muxer = check.Multiplexer(*signal);
      if (r >= 1) {
        const std::string old_key = index.KeyOfRow(r);
        FillRow(rows_[static_cast<std::size_t>(r)], *message, *signal, muxer, bus);
        index.Update(r, old_key);
      } else {
        rows_.emplace_back();
        logging_problems_.emplace_back();
        r = row_count() - 1;
        FillRow(rows_.back(), *message, *signal, muxer, bus);
        index.Added(r);
      }
      logging_problems_[static_cast<std::size_t>(r)] = check.Problem(*signal);
      ++count;
    }
  }
  return count;
}

int RowBus(const SignalTable& table, int r) {
  if (!table.IsDataRow(r)) return 1;
  const std::string& text = table.cell(r, kColBusNr);
  int bus = 0;
  std::size_t k = 0;
  while (k < text.size() && text[k] == ' ') ++k;
  bool any = false;
  while (k < text.size() && text[k] >= '0' && text[k] <= '9' && bus < 1000) {
    bus = bus * 10 + (text[k] - '0');
    any = true;
    ++k;
  }
  if (!any) return 1;
  return std::clamp(bus, 1, 2);
}

bool LoadDbcIntoTable(SignalTable& table, const std::filesystem::path& path, int bus) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    ShowMessageF(kMsgError, "File not found: \"%s\" .", path.string().c_str());
    return false;
  }
  int statements = 0;
  const int n = table.LoadDbc(path, bus, kLoadIgnoreNodeNames, &statements);
  if (statements == 0) {
    // An empty, binary or other text file would otherwise "load" with 0 signals and look fine.
    ShowMessageF(kMsgError, "\"%s\" is not a CAN database: it holds no DBC statement.",
                 path.string().c_str());
    return false;
  }
  ShowMessageF(kMsgInfo, "Loaded CAN database \"%s\" for bus #%d, %d signals.",
               path.string().c_str(), bus, n);
  return true;
}

bool ParseDbcArgument(std::string_view arg, std::filesystem::path& path, int& bus) {
  bus = 1;
  const std::size_t comma = arg.rfind(',');
  const std::size_t dot = arg.rfind('.');
  if (comma == std::string_view::npos || (dot != std::string_view::npos && comma < dot)) {
    path = std::filesystem::path(std::string(arg));
    return !arg.empty();
  }
  const std::string_view number = arg.substr(comma + 1);
  int value = 0;
  if (number.empty() || number.size() > 3) return false;
  for (char c : number) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 2) return false;  // databases are imported for bus 1 or 2
  bus = value;
  path = std::filesystem::path(std::string(arg.substr(0, comma)));
  return comma > 0;
}

}  // namespace tessmar
