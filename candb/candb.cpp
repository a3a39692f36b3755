#include "candb/candb.h"

#include <utility>

namespace tessmar {

const char* ValueTypeName(CANdbValueType type) {
  switch (type) {
    case CANdbValueType::kSigned:
      return "SIGNED";
    case CANdbValueType::kUnsigned:
      return "UNSIGNED";
    case CANdbValueType::kFloat:
      return "FLOAT";
    case CANdbValueType::kDouble:
      return "DOUBLE";
    case CANdbValueType::kInvalid:
      break;
  }
  return "INVALID";
}

const char* AttributeTypeName(CANdbAttributeType type) {
  switch (type) {
    case CANdbAttributeType::kInteger:
      return "INTEGER";
    case CANdbAttributeType::kHex:
      return "HEX";
    case CANdbAttributeType::kFloat:
      return "FLOAT";
    case CANdbAttributeType::kEnum:
      return "ENUM";
    case CANdbAttributeType::kString:
      return "STRING";
    case CANdbAttributeType::kInvalid:
      break;
  }
  return "INVALID";
}

const char* AttributeOwnerName(CANdbAttributeOwner owner) {
  switch (owner) {
    case CANdbAttributeOwner::kDb:
      return "DB";
    case CANdbAttributeOwner::kMessage:
      return "MESSAGE";
    case CANdbAttributeOwner::kNode:
      return "NODE";
    case CANdbAttributeOwner::kSignal:
      return "SIGNAL";
    case CANdbAttributeOwner::kEnv:
      return "ENV";
    case CANdbAttributeOwner::kInvalid:
      break;
  }
  return "INVALID";
}

// ---- Attributes ---------------------------------------------------------------------------------

CANdbAttribute::CANdbAttribute(const CANdbAttributeDefinition* definition)
    : definition_(definition),
      type_(definition ? definition->type() : CANdbAttributeType::kInvalid) {}

void CANdbAttribute::SetText(std::string_view text) {
  if (type_ == CANdbAttributeType::kString) text_ = text;
}

void CANdbAttributeDefinition::SetType(CANdbAttributeType type) {
  type_ = type;
  int_min_ = int_max_ = int_default_ = 0;
  float_min_ = float_max_ = float_default_ = 0.0;
  enum_items_.clear();
  default_text_.reset();
}

void CANdbAttributeDefinition::AddEnumItem(std::string_view text, int32_t index) {
  if (type_ != CANdbAttributeType::kEnum) return;
  enum_items_.push_back({std::string(text), index});
}

int32_t CANdbAttributeDefinition::FindEnumItem(std::string_view text) const {
  if (type_ != CANdbAttributeType::kEnum) return -1;
  for (const EnumEntry& e : enum_items_) {
    if (e.text == text) return e.index;
  }
  return -1;
}

// ---- Signals and messages -----------------------------------------------------------------------

int CANdbSignal::AddValueDesc(int32_t value, std::string_view text) {
  if (text.empty() || FindValueDesc(value) != nullptr) return -1;
  value_descs_.push_back({std::string(text), value});
  return 0;
}

const std::string* CANdbSignal::FindValueDesc(int32_t value) const {
  for (const CANdbValueTableEntry& e : value_descs_) {
    if (e.value == value) return &e.text;
  }
  return nullptr;
}

CANdbSignal* CANdbMessage::AddSignal(std::unique_ptr<CANdbSignal> signal) {
  if (!signal) return nullptr;
  signal->message_ = this;
  signals_.push_back(std::move(signal));
  return signals_.back().get();
}

CANdbSignal* CANdbMessage::FindSignalByName(std::string_view name) const {
  constexpr std::size_t kLinearLimit = 32;
  if (signals_.size() <= kLinearLimit) {
    for (const auto& s : signals_) {
      if (s->name() == name) return s.get();
    }
    return nullptr;
  }
  // Signals are only appended; index the ones added since the last lookup (first name wins).
  for (; indexed_signals_ < signals_.size(); ++indexed_signals_) {
    CANdbSignal* s = signals_[indexed_signals_].get();
    name_index_.try_emplace(s->name(), s);
  }
  const auto it = name_index_.find(std::string(name));
  if (it == name_index_.end() || it->second->name() != name) {
    // A name changed after indexing: fall back to the plain walk.
    for (const auto& s : signals_) {
      if (s->name() == name) return s.get();
    }
    return nullptr;
  }
  return it->second;
}

const CANdbSignal* CANdbMessage::FindMultiplexer() const {
  for (const auto& s : signals_) {
    if (s->is_multiplexer()) return s.get();
  }
  return nullptr;
}

// ---- Database -----------------------------------------------------------------------------------

void CANdb::AddNode(std::string_view name) { nodes_.push_back(std::make_unique<CANdbNode>(name)); }

const CANdbNode* CANdb::FindNode(std::string_view name) const {
  for (const auto& n : nodes_) {
    if (n->name() == name) return n.get();
  }
  return nullptr;
}

CANdbNode* CANdb::FindNode(std::string_view name) {
  return const_cast<CANdbNode*>(std::as_const(*this).FindNode(name));
}

CANdbMessage* CANdb::AddMessage(std::unique_ptr<CANdbMessage> message) {
  if (!message) return nullptr;
  CANdbMessage* m = message.get();
  HashEntry& bucket = index_[m->identifier() % kHashBuckets];
  if (bucket.message == nullptr) {
    bucket.message = m;
  } else {
    bucket.later.push_back(m);
    NewestLater& newest = newest_later_[m->identifier()];
    newest.any = m;
    if (m->extended()) newest.extended = m;
  }
  messages_.push_back(std::move(message));
  return m;
}

CANdbMessage* CANdb::FindMessageById(uint32_t number) const {
  const HashEntry& bucket = index_[number % kHashBuckets];
  const auto matches = [number](const CANdbMessage* m) {
    if (number == m->identifier()) return true;
    return m->extended() && (number & 0x80000000u) != 0 &&
           (number & 0x7FFFFFFFu) == m->identifier();
  };
  if (bucket.message == nullptr) return nullptr;
  if (matches(bucket.message)) return bucket.message;
  // The newest later message that matches: one with the identifier equal to the number, or,
  // for a number with bit 31, the newest extended one with the identifier of its low 31 bits.
  const auto it = newest_later_.find(number & 0x7FFFFFFFu);
  if (it == newest_later_.end()) return nullptr;
  return (number & 0x80000000u) ? it->second.extended : it->second.any;
}

CANdbAttributeDefinition* CANdb::AddAttrDef(std::unique_ptr<CANdbAttributeDefinition> definition) {
  if (!definition) return nullptr;
  attr_defs_.push_back(std::move(definition));
  return attr_defs_.back().get();
}

const CANdbAttributeDefinition* CANdb::FindAttrDef(std::string_view name) const {
  for (const auto& d : attr_defs_) {
    if (d->name() == name) return d.get();
  }
  return nullptr;
}

}  // namespace tessmar
