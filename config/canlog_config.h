#pragma once
// The logger configuration: what the Kavrix logger records (messages, signals, expressions), when
// (trigger) and how (file options), with the fixed-capacity tables the device and its file format
// use. Free slots are marked by a sentinel (identifier word all ones, empty text), not by a count.
//
// A default-constructed record of each type is its cleared record; a default-constructed
// T_CanLog_Config holds the defaults of device family 0.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessmar {

// ---- Capacities --------------------------------------------------------------------------------

inline constexpr int MAX_LOGGED_MESSAGES = 256;
inline constexpr int MAX_LOGGED_SIGNALS = 256;
inline constexpr int MAX_LOGGED_EXPRESSIONS = 64;
inline constexpr int kMaxTriggerLines = 10;        // trigger signal names
inline constexpr int kMaxTriggerComparisons = 20;  // CompOp / CompVal slots
inline constexpr int kMaxFourLineTriggerLines = 4;

// ---- Text limits (characters, without the terminating zero) -------------------------------------

inline constexpr std::size_t kMaxNameChars = 40;    // names, info text, password, hint
inline constexpr std::size_t kMaxUnitChars = 8;     // physical unit
inline constexpr std::size_t kMaxDbPathChars = 80;  // database paths in the configuration
inline constexpr std::size_t kMaxFilePathChars = 255;

// ---- CAN identifier word -----------------------------------------------------------------------
// Bits 0..28 identifier, bit 29 extended frame format, bit 30 bus 2, bit 31 bus 3 (neither bus
// bit: bus 1); all bits set marks a free slot.

inline constexpr uint32_t kCanIdMask = 0x1FFFFFFFu;
inline constexpr uint32_t kCanIdExtended = 0x20000000u;
inline constexpr uint32_t kCanIdBus2 = 0x40000000u;
inline constexpr uint32_t kCanIdBus3 = 0x80000000u;
inline constexpr uint32_t kCanIdFree = 0xFFFFFFFFu;

// Bus number 1, 2 or 3 of an identifier word (bit 30 wins over bit 31, as the message grid shows).
inline int CanIdBus(uint32_t id) {
  if (id & kCanIdBus2) return 2;
  if (id & kCanIdBus3) return 3;
  return 1;
}

// "0x%03lX" for standard, "0x%08lX" for extended identifiers (low 29 bits).
std::string FormatCanId(uint32_t id);

// ---- Records -----------------------------------------------------------------------------------

// One logged CAN message.
struct T_CanLog_MsgDef {
  uint32_t id = kCanIdFree;         // identifier word; kCanIdFree = free slot
  char nn[kMaxNameChars + 1] = {};  // sender node name
  char mn[kMaxNameChars + 1] = {};  // message name
  uint16_t wi = 0;                  // write-interval limit in 10 ms units, 0..1000

  bool used() const { return id != kCanIdFree; }
  friend bool operator==(const T_CanLog_MsgDef&, const T_CanLog_MsgDef&) = default;
};

// Multiplexer condition of a signal.
struct T_CanLog_MuxDef {
  int16_t MuxBitCount = 0;  // 0 or less: the signal is not multiplexed
  int16_t MuxStartBit = 0;
  char MuxByteOrder = 0;  // 'M' or 'I'
  int64_t MuxVal = 0;     // switch value at which the signal is present

  friend bool operator==(const T_CanLog_MuxDef&, const T_CanLog_MuxDef&) = default;
};

// One logged signal and its mapping into the message. The start bit is the position of the
// least significant bit, numbered byte index * 8 + bit index, for both byte orders.
struct T_CanLog_SigDef {
  char sn[kMaxNameChars + 1] = {};  // signal name (trigger conditions refer to it)
  char ty = 'S';                    // 'U' unsigned, 'S' signed, 'F' float32, 'D' float64
  char bo = 'M';                    // 'M' Motorola; any other letter means Intel
  char un[kMaxUnitChars + 1] = {};  // physical unit
  double fa = 1.0;                  // factor
  double of = 0.0;                  // offset
  double mi = 0.0;                  // minimum physical value
  double ma = 0.0;                  // maximum physical value
  int16_t sb = 0;                   // start bit 0..63
  int16_t nb = 0;                   // number of bits 1..64
  uint32_t id = kCanIdFree;  // identifier word of the carrying message; free slot if all ones
  T_CanLog_MuxDef mu;

  bool used() const { return id != kCanIdFree; }
  bool multiplexed() const { return mu.MuxBitCount > 0; }
  friend bool operator==(const T_CanLog_SigDef&, const T_CanLog_SigDef&) = default;
};

// One numeric expression that the logger evaluates and records like a signal.
struct T_CanLog_ExprDef {
  char ex[kMaxNameChars + 1] = {};  // expression text; empty = free slot
  char na[kMaxNameChars + 1] = {};  // name of the result
  double mi = 0.0;
  double ma = 0.0;

  bool used() const { return ex[0] != '\0'; }
  friend bool operator==(const T_CanLog_ExprDef&, const T_CanLog_ExprDef&) = default;
};

// The signal table; lives beside T_CanLog_Config, the two together form the configuration.
struct T_CanLog_SigTab {
  std::array<T_CanLog_SigDef, MAX_LOGGED_SIGNALS> Sig{};

  T_CanLog_SigDef& operator[](std::size_t i) { return Sig[i]; }
  const T_CanLog_SigDef& operator[](std::size_t i) const { return Sig[i]; }
  auto begin() { return Sig.begin(); }
  auto end() { return Sig.end(); }
  auto begin() const { return Sig.begin(); }
  auto end() const { return Sig.end(); }
  friend bool operator==(const T_CanLog_SigTab&, const T_CanLog_SigTab&) = default;
};

// The configuration proper. The names are the keys of the configuration file.
struct T_CanLog_Config {
  char InfoString[kMaxNameChars + 1] = {};
  char Password1[kMaxNameChars + 1] = {};  // empty = not protected
  char PwdHint1[kMaxNameChars + 1] = {};
  char DbFileBus1[kMaxDbPathChars + 1] = {};
  char DbFileBus2[kMaxDbPathChars + 1] = {};
  uint32_t DeviceFamily = 0;
  int32_t ReceiveAll = 0;
  int32_t ReceiveAppl = 0;
  int32_t ReceiveErrFrames = 0;
  int32_t ReceiveGps = 0;
  int32_t LogScriptVars = 0;
  int32_t FifoMode = 0;
  int32_t NewFileOnStartup = 0;
  int32_t NewFileOnTrigger = 0;
  int32_t KeepFileOpened = 0;
  int32_t FileSizeLimit = 0;       // KB
  int32_t MsgRateLimit = 0;        // ms; 0 records every telegram
  double TimestampFreq = 39065.5;  // Hz of the logger's timestamp counter
  std::array<T_CanLog_MsgDef, MAX_LOGGED_MESSAGES> Msg{};
  std::array<T_CanLog_ExprDef, MAX_LOGGED_EXPRESSIONS> Exp{};
  int16_t InitTrigger = 1;      // 0 stopped, 1 engaged, 2 triggered
  uint16_t Pretrig10ms = 100;   // 0..32767
  uint16_t Posttrig10ms = 100;  // 0..32767
  int32_t TrigOnDigIn = 0;
  uint32_t TrigOnRxId = 0;
  uint16_t TrigOptions = 0;
  char SigName[kMaxTriggerLines][kMaxNameChars + 1] = {};
  int32_t CompOp[kMaxTriggerComparisons] = {1, 3, 1, 3, 1, 3, 1, 3, 1, 3,
                                            1, 3, 1, 3, 1, 3, 1, 3, 1, 3};
  double CompVal[kMaxTriggerComparisons] = {};
  // Action or combination code per trigger line; the four-line trigger keeps InnerCombi here.
  int32_t ActionOrCombi[kMaxTriggerLines] = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
  int32_t OuterCombi[2] = {2, 2};
  int32_t Use2Starts = 0;

  friend bool operator==(const T_CanLog_Config&, const T_CanLog_Config&) = default;
};

// The configuration as the program holds it: record, signal table and the modified flag.
struct LoggerConfiguration {
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  bool modified = false;
};

// ---- Text fields -------------------------------------------------------------------------------

// Copies text into a fixed field, cut silently to max_chars (and to the field) and zero-terminated.
void SetTextField(char* field, std::size_t field_size, std::string_view text,
                  std::size_t max_chars);

template <std::size_t N>
void SetText(char (&field)[N], std::string_view text) {
  SetTextField(field, N, text, N - 1);
}

// Text of a fixed field up to its terminating zero (or the field's end).
template <std::size_t N>
std::string_view TextOf(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string_view(field, n);
}

// ---- Device families ---------------------------------------------------------------------------

enum class TriggerEditor { kFourLine, kGrid, kBoth };

struct DeviceFamilyLimits {
  const char* name;  // entry shown in the target selection
  int max_signals;
  int max_messages;
  int max_trigger_signals;
  TriggerEditor trigger_editor;
};

inline constexpr uint32_t kDeviceFamilyNone = 0xFFFFFFFFu;  // -1: none chosen yet
inline constexpr int kKnownDeviceFamilies = 4;

// Limits of a family; 4 and above and kDeviceFamilyNone give the "unknown / future device" entry.
const DeviceFamilyLimits& FamilyLimits(uint32_t family);

// ---- Operations --------------------------------------------------------------------------------

// New configuration with every field at its default for device family f.
void NewConfigWithDefaults(T_CanLog_Config& cfg, T_CanLog_SigTab& sigs, uint32_t family);

// New configuration keeping options, trigger, info and password: sets the family and clears the
// message, signal and expression tables.
void NewConfigKeepingOptions(T_CanLog_Config& cfg, T_CanLog_SigTab& sigs, uint32_t family);

// Number of message slots in use.
int CountUsedMessages(const T_CanLog_Config& cfg);
// Number of signal slots in use.
int CountUsedSignals(const T_CanLog_SigTab& sigs);

// Overwrites the slot with the same identifier word, else fills the first free slot. False when
// all slots are used by other identifiers.
bool StoreMessageDefinition(T_CanLog_Config& cfg, const T_CanLog_MsgDef& msg);

// Index of the first slot whose name equals name exactly (free slots compare with their empty
// name); -1 if none.
int FindSignalByName(const T_CanLog_SigTab& sigs, std::string_view name);

// Message slot carrying the given identifier word, or -1.
int FindMessageById(const T_CanLog_Config& cfg, uint32_t id);

// Names of the message that carries a signal; "<UnknownNodeName>" / "<UnknownMessageName>" when no
// message slot has the signal's identifier word.
inline constexpr const char* kUnknownNodeName = "<UnknownNodeName>";
inline constexpr const char* kUnknownMessageName = "<UnknownMessageName>";
std::string_view NodeNameOfSignal(const T_CanLog_Config& cfg, const T_CanLog_SigDef& sig);
std::string_view MessageNameOfSignal(const T_CanLog_Config& cfg, const T_CanLog_SigDef& sig);

// "mapping=(%d,%d,%c,%c)" and, for a multiplexed signal, "MuxVal=#%ld, MuxMap=(%d,%d,%c)".
std::string FormatMapping(const T_CanLog_SigDef& sig);
std::string FormatMuxCondition(const T_CanLog_SigDef& sig);

// ---- Option page rules -------------------------------------------------------------------------

// Pre-/post-trigger time entered in seconds -> 10 ms units, limited to 0..32767 and truncated
// (decimal entries such as 0.29 s keep the value typed, 29).
uint16_t TriggerSecondsTo10ms(double seconds);
// Shown back as "%g" of value * 0.01.
std::string Format10msAsSeconds(uint16_t value);

// "Options \"Limit write interval\" AND \"Receive All\" can't be used together." when ReceiveAll
// is set and MsgRateLimit is not 0; nullptr otherwise.
const char* OptionConflictText(const T_CanLog_Config& cfg);

// "N logged signal(s) in M message(s)" in English or German.
std::string CountLineText(int signals, int messages, bool german);

// True when the used slots exceed the family's signal or message maximum (lists shown in red).
bool ExceedsFamilyLimits(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs);

// Stores an edited record when it differs from the current one and sets the modified flag then.
// Returns true when something changed.
bool ApplyEditedConfig(LoggerConfiguration& target, const T_CanLog_Config& edited);

}  // namespace tessmar
