#include "candb/signal_selection.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <set>
#include <system_error>
#include <utility>

#include "candb/signal_views.h"
#include "common/c_locale.h"
#include "common/message_output.h"
#include "common/text_readers.h"
#include "common/text_util.h"
#include "common/translation.h"

namespace tessmar {
namespace {

// Bus number shown in the added / removed lines: 2 when bit 30 is set, else 1.
int ShownBus(uint32_t id) { return (id & kCanIdBus2) ? 2 : 1; }

// A number cell ("%lg" as the table writes it). Plain decimal numbers are read with their whole
// exponent, so limits such as 3.4e+38 stay what they are; cells with a radix prefix ("0x", "$",
// "#", "%") go through the program's number reader.
double CellReal(std::string_view cell) {
  SkipBlanks(cell);
  std::string_view s = cell;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  const std::string_view body = (!s.empty() && s[0] == '-') ? s.substr(1) : s;
  const bool prefixed =
      !body.empty() && (body[0] == '$' || body[0] == '#' || body[0] == '%' ||
                        (body.size() > 1 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')));
  if (!prefixed) {
    double v = 0.0;
    const auto res = FromChars(s.data(), s.data() + s.size(), v);
    if (res.ec == std::errc()) return v;
  }
  return ReadReal(cell);
}

// A bit position or length from a cell. Values beyond the 16-bit fields are held at their limits
// rather than wrapped, so that a hostile position cannot turn into a plausible one.
int16_t ReadBitNumber(std::string_view& s) {
  return static_cast<int16_t>(std::clamp<int32_t>(ReadInteger(s), INT16_MIN, INT16_MAX));
}

// Skips blanks and takes the expected separator if it is there.
void Separator(std::string_view& s, char c) {
  SkipBlanks(s);
  SkipChar(s, c);
}

// Tells why a signal is not added: a box with the caption "PROBLEM", or in batch mode a warning
// in the message list.
void WarnRefused(const std::string& text) {
  if (BatchMode()) {
    // No box in batch mode; the refusal still shows in the message list.
    ShowMessage(kMsgWarning, text);
    return;
  }
  Question q;
  q.caption = Tr("PROBLEM");
  q.icon = Icon::kWarning;
  q.text = text;
  q.buttons = Buttons::kOk;
  q.batch_answer = Answer::kOk;
  Ask(q);
}

// The warning for a signal whose message finds no room in the full message table.
void WarnMessageTableFull(const T_CanLog_SigDef& sig) {
  WarnRefused(StrPrintf(
      Tr("Adding the signal \"%s\"\r\nwould exceed the maximum number\r\nof logged MESSAGES or "
         "CAN-IDs (%d) !"),
      sig.sn, MAX_LOGGED_MESSAGES));
}

}  // namespace

// ---- Recent CANdb files -------------------------------------------------------------------------

void RecentCandbFiles::Enter(std::string_view path, int bus) {
  const std::string_view p = path.substr(0, CandbImport::kMaxPathChars);
  for (const RecentCandbFile& e : entries_) {
    if (!e.path.empty() && e.bus == bus && EqualsNoCase(e.path, p)) return;
  }
  for (int i = kEntries - 1; i > 0; --i)
    entries_[static_cast<std::size_t>(i)] = entries_[static_cast<std::size_t>(i - 1)];
  entries_[0] = {std::string(p), bus};
}

void RecentCandbFiles::Clear() { entries_.fill(RecentCandbFile{}); }

void RecentCandbFiles::Set(int index, std::string_view path, int bus) {
  if (index < 0 || index >= kEntries) return;
  entries_[static_cast<std::size_t>(index)] = {
      std::string(path.substr(0, CandbImport::kMaxPathChars)), bus};
}

std::string RecentCandbFiles::Caption(int i) const {
  const RecentCandbFile& e = entry(i);
  return "&" + std::to_string(i) + "  " + e.path + " (bus " + std::to_string(e.bus) + ")";
}

// ---- Row conversion -----------------------------------------------------------------------------

uint32_t RowIdentifierWord(const SignalTable& table, int r) {
  std::string_view cell = table.cell(r, kColId);
  // Only the 29 identifier bits come from the cell: a larger number (Vector's pseudo message
  // 0xC0000000 keeps bit 30) must not turn into the bus bits of the identifier word.
  uint32_t id = ReadUnsigned(cell) & kCanIdMask;
  Separator(cell, ',');
  if (ReadInteger(cell) != 0) id |= kCanIdExtended;
  std::string_view bus_cell = table.cell(r, kColBusNr);
  const int32_t bus = ReadInteger(bus_cell);
  if (bus == 2) id |= kCanIdBus2;
  if (bus == 3) id |= kCanIdBus3;
  return id;
}

bool ConvertTableRow(const SignalTable& table, int r, T_CanLog_SigDef& sig, T_CanLog_MsgDef& msg) {
  sig = T_CanLog_SigDef{};
  msg = T_CanLog_MsgDef{};
  if (!table.IsDataRow(r)) return false;
  const SignalTableRow& row = table.row(r);
  const uint32_t id = RowIdentifierWord(table, r);

  msg.id = id;
  SetText(msg.nn, row[kColNodeName]);
  SetText(msg.mn, row[kColMsgName]);

  SetText(sig.sn, row[kColSigName]);
  sig.ty = row[kColType].empty() ? 'S' : row[kColType][0];
  SetText(sig.un, row[kColUnit]);
  sig.fa = CellReal(row[kColFactor]);
  sig.of = CellReal(row[kColOffset]);
  sig.mi = CellReal(row[kColMinValue]);
  sig.ma = CellReal(row[kColMaxValue]);

  std::string_view mapping = row[kColMapping];
  sig.sb = ReadBitNumber(mapping);
  Separator(mapping, ',');
  sig.nb = ReadBitNumber(mapping);
  Separator(mapping, ',');
  SkipBlanks(mapping);
  if (!mapping.empty()) sig.bo = mapping[0];
  sig.id = id;

  std::string_view mux = row[kColMultiplexor];
  if (!mux.empty() && static_cast<unsigned char>(mux[0]) > ' ') {
    // "value,start,length,order"; "MUX_SIGNAL" and "MUXER invalid ?!?" read as 0,0,0,'M'.
    sig.mu.MuxVal = static_cast<int64_t>(ReadInteger(mux));
    Separator(mux, ',');
    sig.mu.MuxStartBit = ReadBitNumber(mux);
    Separator(mux, ',');
    sig.mu.MuxBitCount = ReadBitNumber(mux);
    Separator(mux, ',');
    SkipBlanks(mux);
    sig.mu.MuxByteOrder = mux.empty() ? 'M' : mux[0];
  }
  return true;
}

// ---- Adding, marking, removing ------------------------------------------------------------------

AddResult AddTableRow(LoggerConfiguration& config, const SignalTable& table, int r) {
  T_CanLog_SigDef sig;
  T_CanLog_MsgDef msg;
  if (!ConvertTableRow(table, r, sig, msg)) return AddResult::kRefused;
  // A row without a signal name (the empty row of a fresh table) would match a free slot.
  if (sig.sn[0] == '\0') return AddResult::kRefused;
  // A signal that the logger would record as garbage (see candb/logging_check.h).
  if (const std::string& problem = table.logging_problem(r); !problem.empty()) {
    WarnRefused(problem);
    return AddResult::kRefused;
  }

  int found = -1;
  bool id_in_use = false;
  for (int i = 0; i < MAX_LOGGED_SIGNALS; ++i) {
    const T_CanLog_SigDef& slot = config.sigs[static_cast<std::size_t>(i)];
    if (slot.id == sig.id) id_in_use = true;
    if (std::strcmp(slot.sn, sig.sn) == 0) {
      found = i;
      break;
    }
  }

  if (found >= 0) {
    // Overwriting with a signal of a message that is not logged yet needs a free message slot;
    // without one the signal would be logged without its message and never yield a value.
    if (FindMessageById(config.cfg, sig.id) < 0 &&
        CountUsedMessages(config.cfg) >= MAX_LOGGED_MESSAGES) {
      WarnMessageTableFull(sig);
      return AddResult::kRefused;
    }
    Question q;
    q.caption = Tr("PROBLEM");
    q.icon = Icon::kWarning;
    // This question has its own German text instead of a table row.
    q.text = StrPrintf(GermanUi() ? "Ein Signal namens \"%s\"\r\nist bereits in der Logger-"
                                    "Konfiguration definiert .\r\nDie bereits existierende "
                                    "Definition überschreiben ?\r\n  [Ja]=überschreiben, "
                                    "[Nein]=alte Definition nicht ändern"
                                  : "A signal named \"%s\"\r\nalready exists in the CAN LOGGER "
                                    "CONFIGURATION .\r\nOverwrite the existing signal definition "
                                    "?\r\n  [YES]=overwrite, [NO]=leave the old signal as-is",
                       sig.sn);
    q.buttons = Buttons::kYesNoCancel;
    q.batch_answer = Answer::kYes;
    switch (Ask(q)) {
      case Answer::kNo:
        return AddResult::kKept;
      case Answer::kCancel:
        return AddResult::kCancelled;
      default:
        break;
    }
    StoreMessageDefinition(config.cfg, msg);
    config.sigs[static_cast<std::size_t>(found)] = sig;
    config.modified = true;
    return AddResult::kOverwritten;
  }

  if (!id_in_use && CountUsedMessages(config.cfg) >= MAX_LOGGED_MESSAGES) {
    WarnMessageTableFull(sig);
    return AddResult::kRefused;
  }

  int free_slot = -1;
  for (int i = 0; i < MAX_LOGGED_SIGNALS; ++i) {
    if (config.sigs[static_cast<std::size_t>(i)].id == kCanIdFree) {
      free_slot = i;
      break;
    }
  }
  if (free_slot < 0) return AddResult::kRefused;
  config.sigs[static_cast<std::size_t>(free_slot)] = sig;
  config.modified = true;
  const bool stored = StoreMessageDefinition(config.cfg, msg);
  const std::string node(NodeNameOfSignal(config.cfg, sig));
  const std::string message(MessageNameOfSignal(config.cfg, sig));
  ShowMessageF(kMsgInfo, "Added signal%s \"Bus%d.%s.%s.%s\" to logger list",
               stored ? "+message" : "", ShownBus(sig.id), node.c_str(), message.c_str(), sig.sn);
  return AddResult::kAdded;
}

void MarkLoggedRows(SignalTable& table, const T_CanLog_SigTab& sigs) {
  std::set<std::pair<std::string_view, uint32_t>> logged;
  for (const T_CanLog_SigDef& s : sigs) {
    if (s.used()) logged.emplace(TextOf(s.sn), s.id);
  }
  for (int r = 1; r < table.row_count(); ++r) {
    bool mark = false;
    if (!logged.empty()) {
      // The name as the row conversion stores it (at most 40 characters).
      const std::string_view name =
          std::string_view(table.cell(r, kColSigName)).substr(0, kMaxNameChars);
      mark = logged.count({name, RowIdentifierWord(table, r)}) > 0;
    }
    if (table.cell(r, kColSt) != (mark ? "[*]" : "")) table.SetCell(r, kColSt, mark ? "[*]" : "");
  }
}

std::vector<std::string> LoggedSignalNames(const T_CanLog_SigTab& sigs) {
  std::vector<std::string> names;
  for (const T_CanLog_SigDef& s : sigs) {
    if (s.used()) names.emplace_back(TextOf(s.sn));
  }
  return names;
}

bool RemoveLoggedSignal(LoggerConfiguration& config, std::string_view name) {
  const int k = FindSignalByName(config.sigs, name);
  if (k < 0) return false;
  const T_CanLog_SigDef removed = config.sigs[static_cast<std::size_t>(k)];
  ShowMessageF(kMsgInfo, "Removed signal \"Bus%d.%s.%s.%s\" from logger list", ShownBus(removed.id),
               std::string(NodeNameOfSignal(config.cfg, removed)).c_str(),
               std::string(MessageNameOfSignal(config.cfg, removed)).c_str(), removed.sn);
  for (int i = k; i + 1 < MAX_LOGGED_SIGNALS; ++i) {
    config.sigs[static_cast<std::size_t>(i)] = config.sigs[static_cast<std::size_t>(i + 1)];
  }
  config.sigs[MAX_LOGGED_SIGNALS - 1] = T_CanLog_SigDef{};
  config.modified = true;

  if (removed.id == kCanIdFree) return true;
  for (const T_CanLog_SigDef& s : config.sigs) {
    if (s.id == removed.id) return true;  // the message is still in use
  }
  const int m = FindMessageById(config.cfg, removed.id);
  if (m < 0) return true;
  const T_CanLog_MsgDef& msg = config.cfg.Msg[static_cast<std::size_t>(m)];
  ShowMessageF(kMsgInfo, "Removed message \"Bus%d.%s.%s\" from logger list", ShownBus(msg.id),
               msg.nn, msg.mn);
  for (int i = m; i + 1 < MAX_LOGGED_MESSAGES; ++i) {
    config.cfg.Msg[static_cast<std::size_t>(i)] = config.cfg.Msg[static_cast<std::size_t>(i + 1)];
  }
  config.cfg.Msg[MAX_LOGGED_MESSAGES - 1] = T_CanLog_MsgDef{};
  return true;
}

int MoveLoggedSignal(LoggerConfiguration& config, std::string_view name, bool up, int list_index,
                     int list_size) {
  const int k = FindSignalByName(config.sigs, name);
  if (k < 0) return -1;
  int other = -1;
  if (up && k >= 1) other = k - 1;
  if (!up && k < MAX_LOGGED_SIGNALS - 1 && list_index + 1 < list_size) other = k + 1;
  if (other < 0) return -1;
  std::swap(config.sigs[static_cast<std::size_t>(k)], config.sigs[static_cast<std::size_t>(other)]);
  config.modified = true;
  return other;
}

void EraseAllLoggedSignals(LoggerConfiguration& config) {
  config.sigs.Sig.fill(T_CanLog_SigDef{});
  config.cfg.Msg.fill(T_CanLog_MsgDef{});
  config.modified = true;
}

SignalInfo ShowSignalInfo(const LoggerConfiguration& config, int list_index) {
  SignalInfo info;
  const std::vector<std::string> names = LoggedSignalNames(config.sigs);
  if (list_index < 0 || list_index >= static_cast<int>(names.size())) return info;
  const int k = FindSignalByName(config.sigs, names[static_cast<std::size_t>(list_index)]);
  if (k < 0) return info;
  const T_CanLog_SigDef& s = config.sigs[static_cast<std::size_t>(k)];
  info.lines.emplace_back(TextOf(s.sn));
  std::string id = StrPrintf("id=0x%08lX (", static_cast<unsigned long>(s.id));
  id += (s.id & kCanIdExtended) ? "29bit," : "11bit,";
  if (s.id & kCanIdBus3) id += "BUS3,";
  if (s.id & kCanIdBus2) id += "BUS2,";
  id.pop_back();
  id += ")";
  info.lines.push_back(std::move(id));
  const std::string_view node = NodeNameOfSignal(config.cfg, s);
  if (!node.empty()) info.lines.push_back("node=\"" + std::string(node) + "\"");
  const std::string_view message = MessageNameOfSignal(config.cfg, s);
  if (!message.empty()) info.lines.push_back("msg=\"" + std::string(message) + "\"");
  info.lines.push_back(FormatMapping(s));
  if (s.mu.MuxBitCount > 0) info.lines.push_back(FormatMuxCondition(s));
  std::string scale;
  if (s.un[0] != '\0') scale = StrPrintf("unit=\"%s\", ", s.un);
  scale += StrPrintf("factor=%lg, offset=%lg", s.fa, s.of);
  info.lines.push_back(std::move(scale));
  info.remove_enabled = true;
  info.up_enabled = list_index > 0;
  info.down_enabled = list_index + 1 < static_cast<int>(names.size());
  return info;
}

std::string SignalListInfoCaption(uint32_t family) {
  const DeviceFamilyLimits& limits = FamilyLimits(family);
  return std::string(Tr("Info: max logged signals = ")) + std::to_string(limits.max_signals) +
         Tr(" (total)  in ") + std::to_string(limits.max_messages) + Tr(" messages .");
}

bool RebuildViews(SignalTable& table, const T_CanLog_SigTab& sigs, SignalTree& tree,
                  SignalLists& lists) {
  MarkLoggedRows(table, sigs);
  lists.Rebuild(table);
  return tree.Build(table) > 0;
}

// ---- Layout requests ----------------------------------------------------------------------------

std::optional<LayoutRequest> LayoutForTableRow(const SignalTable& table, int row) {
  if (!table.IsDataRow(row)) return std::nullopt;
  const SignalTableRow& selected = table.row(row);
  LayoutRequest req;
  for (int r = 1; r < table.row_count() && static_cast<int>(req.signals.size()) < kMaxLayoutSignals;
       ++r) {
    const SignalTableRow& other = table.row(r);
    if (other[kColBusNr] != selected[kColBusNr] || other[kColNodeName] != selected[kColNodeName] ||
        other[kColMsgName] != selected[kColMsgName]) {
      continue;
    }
    T_CanLog_SigDef sig;
    ConvertTableRow(table, r, sig, req.message);
    if (req.selected < 0 && other[kColSigName] == selected[kColSigName]) {
      req.selected = static_cast<int>(req.signals.size());
    }
    req.signals.push_back(sig);
  }
  if (req.signals.empty()) return std::nullopt;
  return req;
}

std::optional<LayoutRequest> LayoutForLoggedSignal(const LoggerConfiguration& config,
                                                   std::string_view name) {
  const int k = FindSignalByName(config.sigs, name);
  if (k < 0 || !config.sigs[static_cast<std::size_t>(k)].used()) return std::nullopt;
  const uint32_t id = config.sigs[static_cast<std::size_t>(k)].id;
  LayoutRequest req;
  const int m = FindMessageById(config.cfg, id);
  if (m >= 0) {
    req.message = config.cfg.Msg[static_cast<std::size_t>(m)];
  } else {
    req.message.id = id;
  }
  for (int i = 0;
       i < MAX_LOGGED_SIGNALS && static_cast<int>(req.signals.size()) < kMaxLayoutSignals; ++i) {
    const T_CanLog_SigDef& s = config.sigs[static_cast<std::size_t>(i)];
    if (s.id != id) continue;
    if (i == k) req.selected = static_cast<int>(req.signals.size());
    req.signals.push_back(s);
  }
  return req;
}

// ---- Loading ------------------------------------------------------------------------------------

int CandbImport::LoadFile(LoggerConfiguration& config, SignalTable& table,
                          const std::filesystem::path& path, int bus) {
  const std::string p = path.string();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    ShowMessageF(kMsgError, "File not found: \"%s\" .", p.c_str());
    return -1;
  }
  int statements = 0;
  const int n = table.LoadDbc(path, bus, kLoadIgnoreNodeNames, &statements);
  if (statements == 0) {
    // The same refusal as the command line's: the file is not remembered as a CAN database.
    ShowMessageF(kMsgError, "\"%s\" is not a CAN database: it holds no DBC statement.", p.c_str());
    return -1;
  }
  SetLastPath(p);
  recent_.Enter(p, bus);
  if (n > 0 && (bus == 1 || bus == 2)) {
    char* field = bus == 1 ? config.cfg.DbFileBus1 : config.cfg.DbFileBus2;
    char updated[kMaxDbPathChars + 1];
    SetText(updated, p);
    if (std::strcmp(updated, field) != 0) config.modified = true;
    std::memcpy(field, updated, sizeof updated);
  }
  ShowMessageF(kMsgInfo, "Loaded CAN database \"%s\" for bus #%d, %d signals.", p.c_str(), bus, n);
  MarkLoggedRows(table, config.sigs);
  return n;
}

std::string CandbImport::DialogTitle(int bus) {
  return std::string(Tr("Import CANdb file for bus #")) + std::to_string(bus);
}

std::string CandbImport::DialogPreset(const T_CanLog_Config& cfg, int bus) const {
  const char* field = bus == 2 ? cfg.DbFileBus2 : cfg.DbFileBus1;
  if (static_cast<unsigned char>(field[0]) > ' ') return field;
  return last_path_;
}

}  // namespace tessmar
