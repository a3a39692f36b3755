#pragma once
// Bringing CAN databases into the program and signals from the CANdb signal table into the logger
// configuration: loading a file for a bus with the list of recent files, converting a table row
// into a signal and a message definition, adding a row to the logged signals (with the question
// for a name already logged), marking logged rows, removing, reordering and erasing logged
// signals, and the info text of a logged signal.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candb/signal_table.h"
#include "config/canlog_config.h"

namespace tessmar {

// ---- Recent CANdb files -------------------------------------------------------------------------

// Settings section and key prefixes of the recent list (keys "Name0".."Name7", "BusNr0".."BusNr7").
inline constexpr const char* kRecentCandbSection = "MostRecentCANdbFiles";
inline constexpr const char* kRecentCandbNameKey = "Name";
inline constexpr const char* kRecentCandbBusKey = "BusNr";

struct RecentCandbFile {
  std::string path;  // at most 255 characters; empty = unused entry
  int bus = 0;
};

// The eight most recent CANdb files, newest first.
class RecentCandbFiles {
 public:
  static constexpr int kEntries = 8;

  // Enters a file: an entry with the same path (letter case ignored) and bus stays where it is;
  // otherwise the entries move down (the oldest is dropped) and the file becomes entry 0.
  void Enter(std::string_view path, int bus);
  void Clear();
  // Sets an entry as read from the settings file.
  void Set(int index, std::string_view path, int bus);

  const RecentCandbFile& entry(int i) const { return entries_[static_cast<std::size_t>(i)]; }
  // Menu caption of entry i: "&", i, two spaces, the path, " (bus ", the bus, ")".
  std::string Caption(int i) const;
  // A menu item is shown only while its path is not empty.
  bool Visible(int i) const { return !entry(i).path.empty(); }

 private:
  std::array<RecentCandbFile, kEntries> entries_{};
};

// ---- Row conversion -----------------------------------------------------------------------------

// Converts data row r of the table into a signal and a message definition (both cleared first).
// False for a row outside the data rows.
bool ConvertTableRow(const SignalTable& table, int r, T_CanLog_SigDef& sig, T_CanLog_MsgDef& msg);

// The identifier word of a row: identifier (low 29 bits of the "ID, extd-flag" cell), bit 29 for
// the extended flag, bit 30 for bus 2, bit 31 for bus 3.
uint32_t RowIdentifierWord(const SignalTable& table, int r);

// ---- Logged signals -----------------------------------------------------------------------------

enum class AddResult { kAdded, kOverwritten, kKept, kCancelled, kRefused };

// Refused and cancelled end a run over several rows (drag and drop); the others let it go on.
inline bool EndsAddRun(AddResult r) {
  return r == AddResult::kRefused || r == AddResult::kCancelled;
}

// Adds table row r to the logged signals. A name already logged asks whether to overwrite it
// (caption "PROBLEM"; batch answer: Yes). A new signal whose message would be the 257th logged
// message is refused with a warning; so is a new signal when all 256 signal slots are used, and
// any row the logger cannot record as its database describes it (SignalTable::logging_problem(),
// shown as the warning). An added signal is reported as
// "Added signal%s \"Bus%d.%s.%s.%s\" to logger list".
AddResult AddTableRow(LoggerConfiguration& config, const SignalTable& table, int r);

// Sets the "St" cell of every data row to "[*]" when a logged signal has the row's name and
// identifier word, else to an empty text.
void MarkLoggedRows(SignalTable& table, const T_CanLog_SigTab& sigs);

// Names of the used signal slots in slot order: the list of logged signals.
std::vector<std::string> LoggedSignalNames(const T_CanLog_SigTab& sigs);

// Removes the logged signal of that name, and its message when no other signal uses it, logging
// "Removed signal \"Bus%d.%s.%s.%s\" from logger list" (and "Removed message ..."). False when no
// signal has the name.
bool RemoveLoggedSignal(LoggerConfiguration& config, std::string_view name);

// Swaps the named signal with the slot before (up) or after it. Moving down needs the selected
// list entry not to be the last one (list_index + 1 < list_size). Returns the signal's new slot,
// or -1 when nothing moved.
int MoveLoggedSignal(LoggerConfiguration& config, std::string_view name, bool up, int list_index,
                     int list_size);

// Clears all signal and message slots and sets the modified flag.
void EraseAllLoggedSignals(LoggerConfiguration& config);

// Info box of the selected logged signal and the states of the buttons next to the list.
struct SignalInfo {
  std::vector<std::string> lines;
  bool remove_enabled = false;
  bool up_enabled = false;
  bool down_enabled = false;
};
SignalInfo ShowSignalInfo(const LoggerConfiguration& config, int list_index);

// Caption of the info item of the signal-list menu: the signal and message maximum of the device
// family (those of an unknown or future device, 256 and 256, by default).
std::string SignalListInfoCaption(uint32_t family = kDeviceFamilyNone);

// After a load or a clear: re-marks the logged rows, refills the lists and rebuilds the tree.
// Returns true when the tree got any node (the roots "Bus1" and "Bus2" are then expanded).
class SignalTree;
class SignalLists;
bool RebuildViews(SignalTable& table, const T_CanLog_SigTab& sigs, SignalTree& tree,
                  SignalLists& lists);

// ---- Message layout requests --------------------------------------------------------------------

struct LayoutRequest {
  T_CanLog_MsgDef message;
  std::vector<T_CanLog_SigDef> signals;  // at most 64
  int selected = -1;                     // index of the selected signal among them, -1 if none
};
inline constexpr int kMaxLayoutSignals = 64;

// For a table row: up to 64 rows of the same bus, node and message, converted, with the index of
// the row's own signal; nothing when no row was collected.
std::optional<LayoutRequest> LayoutForTableRow(const SignalTable& table, int row);
// For a logged signal: its message and up to 64 logged signals with the same identifier word.
std::optional<LayoutRequest> LayoutForLoggedSignal(const LoggerConfiguration& config,
                                                   std::string_view name);

// ---- Loading CAN databases ----------------------------------------------------------------------

// What the program keeps about loaded CAN databases beside the table.
class CandbImport {
 public:
  static constexpr std::size_t kMaxPathChars = 255;

  // Loads a file into the table for bus n (node names ignored when matching earlier rows):
  // a missing file gives "File not found: \"%s\" ." and changes nothing, and so does a file that
  // holds no DBC statement ("\"%s\" is not a CAN database: it holds no DBC statement."). Otherwise
  // the path becomes the last CANdb path and enters the recent list; when signals were loaded,
  // DbFileBus1 or DbFileBus2 takes the path (setting the modified flag when it changes); then
  // "Loaded CAN database \"%s\" for bus #%d, %d signals." is logged and the logged rows are
  // marked. Returns the number of signals loaded, -1 for a file refused. The caller rebuilds the
  // tree and the lists.
  int LoadFile(LoggerConfiguration& config, SignalTable& table, const std::filesystem::path& path,
               int bus);

  // Title of the import dialog: "Import CANdb file for bus #" and the bus number.
  static std::string DialogTitle(int bus);
  // Preset file name of the import dialog: DbFileBus1 / DbFileBus2 when its first character is
  // above the blank, else the last CANdb path.
  std::string DialogPreset(const T_CanLog_Config& cfg, int bus) const;

  const std::string& last_path() const { return last_path_; }
  void SetLastPath(std::string_view path) {
    last_path_ = std::string(path.substr(0, kMaxPathChars));
  }
  RecentCandbFiles& recent() { return recent_; }
  const RecentCandbFiles& recent() const { return recent_; }

 private:
  std::string last_path_ = "test.dbc";
  RecentCandbFiles recent_;
};

}  // namespace tessmar
