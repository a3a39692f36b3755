#include "candb/logging_check.h"

#include <algorithm>

#include "candb/candb.h"
#include "common/message_output.h"

namespace tessmar {
namespace {

constexpr int32_t kLoggedBytes = 8;  // data bytes of a frame that the logger records
constexpr uint32_t kLargestIdentifier = 0x1FFFFFFFu;
constexpr int kMaxWarnings = 20;

uint64_t IdentifierKey(const CANdbMessage& m) {
  return (static_cast<uint64_t>(m.identifier()) << 1) | (m.extended() ? 1u : 0u);
}

// The identifier as the logger's lists show it: 3 digits standard, 8 digits extended.
std::string IdentifierText(const CANdbMessage& m) {
  return StrPrintf(m.extended() ? "0x%08lX" : "0x%03lX",
                   static_cast<unsigned long>(m.identifier()));
}

bool IsSwitch(const CANdbSignal& s) { return s.is_multiplexer() || s.is_inner_multiplexer(); }

void Warn(int32_t line, const std::string& text) {
  ShowMessageF(kMsgWarning, "CANdb-Import-Warning (line %d): %s", static_cast<int>(line),
               text.c_str());
}

}  // namespace

std::string MappingProblem(int32_t start_bit, int32_t length, bool motorola, int32_t dlc) {
  if (length < 1 || length > 64) {
    return StrPrintf(Tr("the signal has %d bits; the logger records 1 to 64"),
                     static_cast<int>(length));
  }
  const int32_t bytes = std::clamp(dlc, 0, kLoggedBytes);
  // From its least significant bit an Intel signal runs toward higher bytes, a Motorola signal
  // toward lower ones; the bits on that way up to the edge of the recorded bytes are its room.
  bool fits = start_bit >= 0 && start_bit < 8 * bytes;
  if (fits) {
    const int32_t room = motorola ? 8 - start_bit % 8 + 8 * (start_bit / 8) : 8 * bytes - start_bit;
    fits = length <= room;
  }
  if (fits) return {};
  if (dlc > kLoggedBytes) {
    return StrPrintf(Tr("the signal lies beyond the first 8 data bytes of the message (DLC %d); "
                        "the logger records 8"),
                     static_cast<int>(dlc));
  }
  return StrPrintf(Tr("the signal does not fit into the %d data bytes of the message"),
                   static_cast<int>(bytes));
}

LoggingCheck::LoggingCheck(const CANdb& db) : db_(db) {
  for (const auto& m : db.messages()) {
    auto& pair = by_id_[IdentifierKey(*m)];
    if (pair.first == nullptr) {
      pair.first = m.get();
    } else if (pair.second == nullptr) {
      pair.second = m.get();
    }
    Switches& sw = switches_[m.get()];
    for (const auto& s : m->signals()) {
      if (!IsSwitch(*s)) continue;
      ++sw.count;
      if (sw.first == nullptr) {
        sw.first = s.get();
      } else if (sw.second == nullptr) {
        sw.second = s.get();
      }
    }
  }
  for (const auto& m : db.messages()) {
    std::string reason = MessageReason(*m);
    for (const auto& s : m->signals()) {
      const std::string why = reason.empty() ? SignalReason(*s) : reason;
      if (why.empty()) continue;
      problems_[s.get()] = StrPrintf(Tr("Signal \"%s\" of message \"%s\" cannot be logged: %s"),
                                     s->name().c_str(), m->name().c_str(), why.c_str());
    }
    if (!reason.empty()) message_reasons_[m.get()] = std::move(reason);
  }
}

std::string LoggingCheck::MessageReason(const CANdbMessage& m) const {
  if (m.name() == "VECTOR__INDEPENDENT_SIG_MSG") {
    // Vector's tools keep signals that no message carries in this placeholder (identifier
    // 0xC0000000): no frame on the bus has it.
    return Tr(
        "the message VECTOR__INDEPENDENT_SIG_MSG only collects signals that belong to no "
        "message");
  }
  if (m.identifier() > kLargestIdentifier) {
    return StrPrintf(Tr("the message identifier 0x%lX has more than 29 bits"),
                     static_cast<unsigned long>(m.identifier()));
  }
  // The logger tells frames apart by their identifier word alone: the signals of two messages
  // with one identifier would both be taken from every frame.
  const auto& pair = by_id_.at(IdentifierKey(m));
  if (pair.second == nullptr) return {};
  const CANdbMessage& other = pair.first == &m ? *pair.second : *pair.first;
  return StrPrintf(Tr("the message has the identifier %s of message \"%s\" (line %d) as well; the "
                      "logger cannot tell their frames apart"),
                   IdentifierText(m).c_str(), other.name().c_str(), static_cast<int>(other.line()));
}

std::string LoggingCheck::SignalReason(const CANdbSignal& s) const {
  const CANdbMessage& m = *s.message();
  std::string why = MappingProblem(s.start_bit(), s.length(), s.motorola(), m.dlc());
  if (!why.empty()) return why;
  const bool is_float = s.value_type() == CANdbValueType::kFloat;
  if ((is_float && s.length() != 32) ||
      (s.value_type() == CANdbValueType::kDouble && s.length() != 64)) {
    return StrPrintf(Tr("the signal is a %d-bit floating-point number; the logger reads 32-bit "
                        "floats and 64-bit doubles"),
                     static_cast<int>(s.length()));
  }
  if (!s.is_multiplexed()) return {};

  // The logger holds one switch and one value per signal: the switch must be known, lie in the
  // recorded bytes and not depend on another switch.
  const CANdbSignal* sw = Multiplexer(s);
  if (sw == nullptr) {
    if (s.multiplexer_switch()) {
      return StrPrintf(Tr("the signal's multiplexer \"%s\" is no signal of the message"),
                       s.multiplexer_switch()->c_str());
    }
    const Switches& all = switches_.at(&m);
    if (all.count - (IsSwitch(s) ? 1 : 0) == 0) {
      return Tr("the signal is multiplexed, but the message has no multiplexer");
    }
    return Tr(
        "the signal is multiplexed, but the message has several multiplexers and no "
        "SG_MUL_VAL_ line names this signal's");
  }
  if (sw->is_multiplexed()) {
    return StrPrintf(Tr("the signal's multiplexer \"%s\" is multiplexed itself; the logger holds "
                        "one multiplexer condition per signal"),
                     sw->name().c_str());
  }
  if (!MappingProblem(sw->start_bit(), sw->length(), sw->motorola(), m.dlc()).empty()) {
    return StrPrintf(Tr("the signal's multiplexer \"%s\" lies outside the data bytes the logger "
                        "records"),
                     sw->name().c_str());
  }
  const auto& ranges = s.multiplexer_ranges();
  const int64_t value = s.multiplexer_value();
  if (!ranges.empty() && std::none_of(ranges.begin(), ranges.end(), [value](const auto& r) {
        return r.first <= value && value <= r.second;
      })) {
    return StrPrintf(Tr("the signal's multiplexer value %d is not among the values its "
                        "SG_MUL_VAL_ line gives"),
                     static_cast<int>(s.multiplexer_value()));
  }
  return {};
}

const std::string& LoggingCheck::Problem(const CANdbSignal& signal) const {
  static const std::string kNone;
  const auto it = problems_.find(&signal);
  return it == problems_.end() ? kNone : it->second;
}

const CANdbSignal* LoggingCheck::Multiplexer(const CANdbSignal& s) const {
  if (!s.is_multiplexed() || s.message() == nullptr) return nullptr;
  const CANdbMessage& m = *s.message();
  if (s.multiplexer_switch()) {
    const CANdbSignal* named = m.FindSignalByName(*s.multiplexer_switch());
    return named == &s ? nullptr : named;
  }
  const auto it = switches_.find(&m);
  if (it == switches_.end()) return nullptr;
  const Switches& all = it->second;
  // Without an SG_MUL_VAL_ line only a message with one switch besides the signal says which.
  if (all.count - (IsSwitch(s) ? 1 : 0) != 1) return nullptr;
  return all.first != &s ? all.first : all.second;
}

void LoggingCheck::Report() const {
  int shown = 0;
  int more = 0;
  for (const auto& m : db_.messages()) {
    if (m->signals().empty()) continue;
    if (const auto it = message_reasons_.find(m.get()); it != message_reasons_.end()) {
      if (shown < kMaxWarnings) {
        Warn(m->line(), StrPrintf(Tr("Signals of message \"%s\" cannot be logged: %s"),
                                  m->name().c_str(), it->second.c_str()));
        ++shown;
      } else {
        more += m->signal_count();
      }
      continue;
    }
    for (const auto& s : m->signals()) {
      const std::string& problem = Problem(*s);
      if (problem.empty()) continue;
      if (shown < kMaxWarnings) {
        Warn(s->line(), problem);
        ++shown;
      } else {
        ++more;
      }
    }
  }
  if (more > 0) {
    ShowMessageF(kMsgWarning, "%d more signals of this CAN database cannot be logged", more);
  }
}

}  // namespace tessmar
