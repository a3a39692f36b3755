#pragma once
// The CAN database: the content of one DBC file (nodes, messages, signals, value descriptions,
// comments, attribute definitions and attribute values). The reader that fills it is
// candb/dbc_reader.h.
//
// A CANdb is short-lived: one object per imported file, loaded once with LoadDbcFile() (or
// LoadDbcText() from memory, or a DbcReader for the read's statement count and typed problems),
// copied into the CANdb signal table and destroyed. Records are kept
// in file order; every record owns its texts and everything below it. Texts are 8-bit characters
// as read, compared case-sensitively.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessmar {

class CANdbAttributeDefinition;
class CANdbMessage;

// Value type of a signal. The names are the texts the signal table shows.
enum class CANdbValueType { kInvalid = 0, kSigned = 1, kUnsigned = 2, kFloat = 3, kDouble = 4 };
enum class CANdbAttributeType {
  kInvalid = 0,
  kInteger = 1,
  kHex = 2,
  kFloat = 3,
  kEnum = 4,
  kString = 5
};
enum class CANdbAttributeOwner { kInvalid = 0, kDb, kMessage, kNode, kSignal, kEnv };

// "INVALID", "SIGNED", "UNSIGNED", "FLOAT", "DOUBLE".
const char* ValueTypeName(CANdbValueType type);
// "INVALID", "INTEGER", "HEX", "FLOAT", "ENUM", "STRING".
const char* AttributeTypeName(CANdbAttributeType type);
// "INVALID", "DB", "MESSAGE", "NODE", "SIGNAL", "ENV".
const char* AttributeOwnerName(CANdbAttributeOwner owner);

// ---- Attribute values ---------------------------------------------------------------------------

// One attribute value; its type is copied from the definition when the value is created.
class CANdbAttribute {
 public:
  explicit CANdbAttribute(const CANdbAttributeDefinition* definition);

  const CANdbAttributeDefinition* definition() const { return definition_; }
  CANdbAttributeType type() const { return type_; }

  void SetInt(int32_t value) { int_value_ = value; }
  void SetDouble(double value) { double_value_ = value; }
  // Only for type STRING; ignored otherwise.
  void SetText(std::string_view text);

  int32_t int_value() const { return int_value_; }
  double double_value() const { return double_value_; }
  const std::string& text() const { return text_; }

 private:
  const CANdbAttributeDefinition* definition_;
  CANdbAttributeType type_;
  int32_t int_value_ = 0;
  double double_value_ = 0.0;
  std::string text_;
};

// The attribute values of one owner (database, node, message or signal), in file order.
class CANdbAttributeList {
 public:
  void Append(CANdbAttribute value) { values_.push_back(std::move(value)); }
  const std::vector<CANdbAttribute>& values() const { return values_; }
  bool empty() const { return values_.empty(); }

 private:
  std::vector<CANdbAttribute> values_;
};

// ---- Attribute definitions ----------------------------------------------------------------------

struct EnumEntry {
  std::string text;
  int32_t index = 0;  // 0-based position in the definition
};

class CANdbAttributeDefinition {
 public:
  CANdbAttributeType type() const { return type_; }
  CANdbAttributeOwner owner() const { return owner_; }
  const std::string& name() const { return name_; }

  // Sets the type and resets the parameters: limits and default 0, no enum items, no default
  // text.
  void SetType(CANdbAttributeType type);
  void SetOwner(CANdbAttributeOwner owner) { owner_ = owner; }
  void SetName(std::string_view name) { name_ = name; }

  // Appends an enumeration item; only for type ENUM (ignored otherwise).
  void AddEnumItem(std::string_view text, int32_t index);
  // Index of the first item with exactly this text; -1 if none or the type is not ENUM.
  int32_t FindEnumItem(std::string_view text) const;
  const std::vector<EnumEntry>& enum_items() const { return enum_items_; }

  // Limits and default of INTEGER, HEX and ENUM (default = item index) definitions.
  void SetIntMin(int32_t v) { int_min_ = v; }
  void SetIntMax(int32_t v) { int_max_ = v; }
  void SetIntDefault(int32_t v) { int_default_ = v; }
  int32_t int_min() const { return int_min_; }
  int32_t int_max() const { return int_max_; }
  int32_t int_default() const { return int_default_; }

  // Limits and default of FLOAT definitions.
  void SetFloatMin(double v) { float_min_ = v; }
  void SetFloatMax(double v) { float_max_ = v; }
  void SetFloatDefault(double v) { float_default_ = v; }
  double float_min() const { return float_min_; }
  double float_max() const { return float_max_; }
  double float_default() const { return float_default_; }

  // Default of STRING definitions; none until set.
  void SetDefaultText(std::string_view text) { default_text_ = std::string(text); }
  const std::optional<std::string>& default_text() const { return default_text_; }

 private:
  CANdbAttributeType type_ = CANdbAttributeType::kInvalid;
  CANdbAttributeOwner owner_ = CANdbAttributeOwner::kInvalid;
  std::string name_;
  int32_t int_min_ = 0, int_max_ = 0, int_default_ = 0;
  double float_min_ = 0.0, float_max_ = 0.0, float_default_ = 0.0;
  std::vector<EnumEntry> enum_items_;
  std::optional<std::string> default_text_;
};

// ---- Nodes, signals, messages -------------------------------------------------------------------

class CANdbNode {
 public:
  CANdbNode() = default;
  explicit CANdbNode(std::string_view name) : name_(name) {}
  const std::string& name() const { return name_; }
  void SetName(std::string_view name) { name_ = name; }
  CANdbAttributeList& attributes() { return attributes_; }
  const CANdbAttributeList& attributes() const { return attributes_; }

 private:
  std::string name_;
  CANdbAttributeList attributes_;
};

struct CANdbValueTableEntry {
  std::string text;
  int32_t value = 0;
};

class CANdbSignal {
 public:
  const std::string& name() const { return name_; }
  const std::optional<std::string>& comment() const { return comment_; }
  const std::string& unit() const { return unit_; }
  double minimum() const { return minimum_; }
  double maximum() const { return maximum_; }
  double offset() const { return offset_; }
  double factor() const { return factor_; }
  // Position of the least significant bit, byte index * 8 + bit index, for both byte orders.
  int32_t start_bit() const { return start_bit_; }
  int32_t length() const { return length_; }
  // -1 = not multiplexed; else the switch value for which the signal is present.
  int32_t multiplexer_value() const { return multiplexer_value_; }
  bool is_multiplexed() const { return multiplexer_value_ != -1; }
  bool is_multiplexer() const { return is_multiplexer_; }
  // Written "m<value>M": multiplexed itself and a switch for other signals of its message.
  bool is_inner_multiplexer() const { return is_inner_multiplexer_; }
  // The switch that an SG_MUL_VAL_ line names for this signal, and the switch values (ranges from
  // low to high) at which the signal is present; no name without such a line.
  const std::optional<std::string>& multiplexer_switch() const { return multiplexer_switch_; }
  const std::vector<std::pair<int64_t, int64_t>>& multiplexer_ranges() const {
    return multiplexer_ranges_;
  }
  bool motorola() const { return motorola_; }
  CANdbValueType value_type() const { return value_type_; }
  const CANdbMessage* message() const { return message_; }
  // Line of the file that defines the signal; 0 when it was not read from a file.
  int32_t line() const { return line_; }

  void SetName(std::string_view v) { name_ = v; }
  void SetComment(std::string_view v) { comment_ = std::string(v); }
  void SetUnit(std::string_view v) { unit_ = v; }
  void SetMinimum(double v) { minimum_ = v; }
  void SetMaximum(double v) { maximum_ = v; }
  void SetOffset(double v) { offset_ = v; }
  void SetFactor(double v) { factor_ = v; }
  void SetStartBit(int32_t v) { start_bit_ = v; }
  void SetLength(int32_t v) { length_ = v; }
  void SetMultiplexerValue(int32_t v) { multiplexer_value_ = v; }
  void SetIsMultiplexer(bool v) { is_multiplexer_ = v; }
  void SetIsInnerMultiplexer(bool v) { is_inner_multiplexer_ = v; }
  void SetMultiplexerSwitch(std::string_view name,
                            std::vector<std::pair<int64_t, int64_t>> ranges) {
    multiplexer_switch_ = std::string(name);
    multiplexer_ranges_ = std::move(ranges);
  }
  void SetLine(int32_t v) { line_ = v; }
  void SetMotorola(bool v) { motorola_ = v; }
  void SetValueType(CANdbValueType v) { value_type_ = v; }

  void AddReceiver(std::string_view name) { receivers_.emplace_back(name); }
  const std::vector<CANdbNode>& receivers() const { return receivers_; }

  // Appends a value description; -1 (refused) for an empty text or a value already described.
  int AddValueDesc(int32_t value, std::string_view text);
  // Text of the description of a value, or nullptr.
  const std::string* FindValueDesc(int32_t value) const;
  int value_desc_count() const { return static_cast<int>(value_descs_.size()); }
  const std::vector<CANdbValueTableEntry>& value_descs() const { return value_descs_; }

  CANdbAttributeList& attributes() { return attributes_; }
  const CANdbAttributeList& attributes() const { return attributes_; }

 private:
  friend class CANdbMessage;
  std::string name_;
  std::optional<std::string> comment_;
  std::string unit_;
  double minimum_ = 0.0;
  double maximum_ = 0.0;
  double offset_ = 0.0;
  double factor_ = 1.0;
  int32_t start_bit_ = 0;
  int32_t length_ = 0;
  int32_t multiplexer_value_ = -1;
  bool is_multiplexer_ = false;
  bool is_inner_multiplexer_ = false;
  std::optional<std::string> multiplexer_switch_;
  std::vector<std::pair<int64_t, int64_t>> multiplexer_ranges_;
  bool motorola_ = false;
  CANdbValueType value_type_ = CANdbValueType::kInvalid;
  int32_t line_ = 0;
  std::vector<CANdbValueTableEntry> value_descs_;
  std::vector<CANdbNode> receivers_;
  CANdbAttributeList attributes_;
  const CANdbMessage* message_ = nullptr;
};

class CANdbMessage {
 public:
  const std::string& name() const { return name_; }
  const std::optional<std::string>& comment() const { return comment_; }
  const std::string& sender() const { return sender_; }
  // CAN identifier; bit 31 is always clear.
  uint32_t identifier() const { return identifier_; }
  bool extended() const { return extended_; }
  int32_t dlc() const { return dlc_; }
  // Line of the file that defines the message; 0 when it was not read from a file.
  int32_t line() const { return line_; }

  void SetName(std::string_view v) { name_ = v; }
  void SetComment(std::string_view v) { comment_ = std::string(v); }
  void SetSender(std::string_view v) { sender_ = v; }
  void SetIdentifier(uint32_t v) { identifier_ = v & 0x7FFFFFFFu; }
  void SetExtended(bool v) { extended_ = v; }
  void SetDlc(int32_t v) { dlc_ = v; }
  void SetLine(int32_t v) { line_ = v; }

  // Appends a signal (file order) and makes this message its owner.
  CANdbSignal* AddSignal(std::unique_ptr<CANdbSignal> signal);
  // First signal with exactly this name, or nullptr.
  CANdbSignal* FindSignalByName(std::string_view name) const;
  // First signal flagged as the multiplexer switch, or nullptr.
  const CANdbSignal* FindMultiplexer() const;

  int signal_count() const { return static_cast<int>(signals_.size()); }
  const std::vector<std::unique_ptr<CANdbSignal>>& signals() const { return signals_; }

  CANdbAttributeList& attributes() { return attributes_; }
  const CANdbAttributeList& attributes() const { return attributes_; }

 private:
  std::string name_;
  std::optional<std::string> comment_;
  std::string sender_;
  uint32_t identifier_ = 0;
  bool extended_ = false;
  int32_t dlc_ = 0;
  int32_t line_ = 0;
  std::vector<std::unique_ptr<CANdbSignal>> signals_;
  // Name lookup of large messages: the first signal of each name, filled as lookups need it.
  mutable std::unordered_map<std::string, CANdbSignal*> name_index_;
  mutable std::size_t indexed_signals_ = 0;
  CANdbAttributeList attributes_;
};

// ---- The database -------------------------------------------------------------------------------

class CANdb {
 public:
  static constexpr int kHashBuckets = 2048;

  // One bucket of the message index. The first message of a bucket sits in the bucket itself;
  // later ones are kept in insertion order in `later` and are visited newest first.
  struct HashEntry {
    CANdbMessage* message = nullptr;
    std::vector<CANdbMessage*> later;
  };
  // Within a bucket, a lookup returns the bucket's own message when it matches, else the newest
  // later message that matches. These give that newest message per identifier directly, so that
  // files with many messages in one bucket cost no long walks.
  struct NewestLater {
    CANdbMessage* any = nullptr;
    CANdbMessage* extended = nullptr;
  };

  CANdb() = default;
  CANdb(const CANdb&) = delete;
  CANdb& operator=(const CANdb&) = delete;

  // Reads a DBC file into this (fresh) database. 0 when the file was opened and read to its end,
  // also when a statement error ended the read early (the error is logged and the database keeps
  // what was read before it); -1 when the file cannot be opened or read (an I/O error is not
  // the end of the file: the database keeps what was read before it) or the node list lacks its
  // colon. Problems go to the message output with the line number.
  [[nodiscard]] int LoadDbcFile(const std::string& path);
  // Reads DBC text held in memory the same way; name stands for the file in messages and
  // path(). -1 only for the node list without its colon. The text is not kept after the call.
  [[nodiscard]] int LoadDbcText(std::string_view text, const std::string& name);
  // True after a load that ran to its end (also one that a statement error ended early).
  bool loaded() const { return loaded_; }
  void SetLoaded(bool loaded) { loaded_ = loaded; }
  // The file (or the name of the text) the database was read from.
  const std::string& path() const { return path_; }
  void SetPath(std::string_view path) { path_ = path; }

  void AddNode(std::string_view name);
  const CANdbNode* FindNode(std::string_view name) const;
  CANdbNode* FindNode(std::string_view name);
  const std::vector<std::unique_ptr<CANdbNode>>& nodes() const { return nodes_; }

  // Enters the message in the index and appends it to the list.
  CANdbMessage* AddMessage(std::unique_ptr<CANdbMessage> message);
  // Message by the number as written in a DBC file (bit 31 = extended); see the index order
  // above. A number without bit 31 also finds an extended message with that identifier; a number
  // with bit 31 finds only extended messages.
  CANdbMessage* FindMessageById(uint32_t number) const;
  int message_count() const { return static_cast<int>(messages_.size()); }
  const std::vector<std::unique_ptr<CANdbMessage>>& messages() const { return messages_; }

  CANdbAttributeDefinition* AddAttrDef(std::unique_ptr<CANdbAttributeDefinition> definition);
  const CANdbAttributeDefinition* FindAttrDef(std::string_view name) const;
  const std::vector<std::unique_ptr<CANdbAttributeDefinition>>& attr_defs() const {
    return attr_defs_;
  }

  CANdbAttributeList& attributes() { return attributes_; }
  const CANdbAttributeList& attributes() const { return attributes_; }
  const std::optional<std::string>& comment() const { return comment_; }
  void SetComment(std::string_view text) { comment_ = std::string(text); }

 private:
  std::vector<std::unique_ptr<CANdbMessage>> messages_;
  std::array<HashEntry, kHashBuckets> index_;
  std::unordered_map<uint32_t, NewestLater> newest_later_;
  std::vector<std::unique_ptr<CANdbNode>> nodes_;
  std::vector<std::unique_ptr<CANdbAttributeDefinition>> attr_defs_;
  CANdbAttributeList attributes_;
  std::optional<std::string> comment_;
  std::string path_;
  bool loaded_ = false;
};

}  // namespace tessmar
