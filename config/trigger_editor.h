#pragma once
// The rules of the two trigger editors, free of any widget: the code tables behind the texts
// shown, the ten-line grid (later device families) with its line checks, the plausibility check of
// the four-line trigger (family 0) and the trigger option bits.
//
// The editors only store what the user enters; every finding here is a warning.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/canlog_config.h"

namespace tessmar {

// ---- Code tables -------------------------------------------------------------------------------

inline constexpr const char* kTriggerUnusedEntry = "--unused--";  // action and signal lists
inline constexpr const char* kOperatorUnusedEntry = "unused";     // operator list
inline constexpr const char* kUnknownCodeText = "???";

inline constexpr int32_t kActionStart = 0;
inline constexpr int32_t kActionAnd = 1;
inline constexpr int32_t kActionOr = 2;
inline constexpr int32_t kActionStop = 4;
inline constexpr int32_t kActionUnused = -1;

// "START", "AND", "OR", "STOP", "--unused--"; "???" for any other code.
std::string_view ActionText(int32_t code);
// Code of an action text; a text not in the table reads as 0 (START).
int32_t ActionCode(std::string_view text);

// '<', "<=", '>', ">=", "==", "!=", '&' for 0..6; "???" for any other code.
std::string_view OperatorText(int32_t code);
// Code of an operator text; a text not in the table (such as "unused") reads as -1.
int32_t OperatorCode(std::string_view text);

// The entries of the grid's drop-down lists. Lines are counted from 0; the first line offers only
// "START" and "STOP" (and "--unused--").
std::vector<std::string> TriggerActionChoices(int line);
std::vector<std::string> TriggerOperatorChoices();
// Names of the used signal slots in slot order, then "--unused--".
std::vector<std::string> TriggerSignalChoices(const T_CanLog_SigTab& sigs);
// Index of the entry equal to the cell text, else of the last entry ("--unused--" / "unused").
int TriggerChoiceIndex(const std::vector<std::string>& choices, std::string_view cell);

// ---- Ten-line grid -----------------------------------------------------------------------------

inline constexpr int kTriggerGridColumns = 7;
inline constexpr int kTriggerGridRows = kMaxTriggerLines + 1;  // title row and lines 1..10
enum TriggerGridColumn : int {
  kTrigColLine = 0,
  kTrigColAction,
  kTrigColIf,
  kTrigColSignal,
  kTrigColComp,
  kTrigColValue,
  kTrigColClose,
};
// "Line", "Action/Op", "IF..", "Signal", "Comp", "Reference Value", "".
extern const std::array<const char*, kTriggerGridColumns> kTriggerGridTitles;

// Line error flags (per grid line, not stored).
inline constexpr uint32_t kTrigFlagTooManyStarts = 0x01;  // red frame around "Action/Op"
inline constexpr uint32_t kTrigFlagUnknownSignal = 0x02;  // red frame around "Signal"

inline constexpr const char* kTrigMsgMaxOneStart =
    "Max. ONE trigger 'START' condition allowed (use AND/OR to combine them)";
inline constexpr const char* kTrigMsgSignalNotFound =
    "One or more TRIGGER SIGNAL(s) could not be found in the signal table";
inline constexpr const char* kTrigMsgTooManyStarts = "Too many 'START' conditions (%d) !";

// What a grid check found.
struct TriggerGridCheck {
  int start_lines = 0;         // lines with the START code
  std::string status_text;     // last line message (for the status line), empty if none
  uint32_t changed_lines = 0;  // bit i: the flags of line i changed (redraw it)
  // "Too many 'START' conditions (n) !" when more than one START line was found, else empty;
  // reported as an error.
  std::string ErrorText() const;
};

// The cells of the ten lines (title row excluded) and their error flags.
class TriggerGrid {
 public:
  using Line = std::array<std::string, kTriggerGridColumns>;

  // Shows the record: number, action text ("START" on line 1 unless its code is STOP), " (",
  // signal, operator, "%g" of the value, " )"; then checks the lines. Keeps flag bits above 3.
  TriggerGridCheck Refill(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs);
  // Writes the lines into the record (action, signal cut to 40 characters, operator, value read
  // as a real) and checks them. Does not touch the modified flag.
  TriggerGridCheck Apply(T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs);

  std::array<Line, kMaxTriggerLines>& lines() { return lines_; }
  const std::array<Line, kMaxTriggerLines>& lines() const { return lines_; }
  uint32_t flags(int line) const { return flags_[std::size_t(line)]; }

 private:
  TriggerGridCheck CheckLines(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs);

  std::array<Line, kMaxTriggerLines> lines_{};
  std::array<uint32_t, kMaxTriggerLines> flags_{};
};

// ---- Four-line trigger (family 0) --------------------------------------------------------------

inline constexpr int kFourLineOperators = 4;  // '<', "<=", '>', ">=" only
// "(---)", "AND", "OR": inner and outer combinations of the four-line editor (codes 0, 1, 2).
inline constexpr std::array<const char*, 3> kFourLineCombiTexts = {"(---)", "AND", "OR"};

// True when a trigger line's signal name makes the line active: its first character is above the
// blank and not '-' (so "--unused--" and an empty name are inactive).
bool TriggerSignalActive(std::string_view name);

// Result of the plausibility check: the texts of the two info labels.
struct FourLineCheck {
  std::string first;   // first finding
  std::string second;  // last of the later findings
};
FourLineCheck CheckFourLineTrigger(const T_CanLog_Config& cfg);

// ---- Trigger options ---------------------------------------------------------------------------

inline constexpr int kTrigOptionBoxes = 6;
extern const std::array<const char*, kTrigOptionBoxes> kTrigOptionTexts;
// Box states of TrigOptions bits 0..5; box 5 is ticked when bit 5 is clear.
std::array<bool, kTrigOptionBoxes> TrigOptionBoxes(uint16_t options);
// TrigOptions with bits 0..5 set from the boxes; the other bits of old_options stay.
uint16_t TrigOptionsFromBoxes(uint16_t old_options,
                              const std::array<bool, kTrigOptionBoxes>& boxes);

}  // namespace tessmar
