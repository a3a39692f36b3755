#pragma once
// Whether the logger can record the signals of a CAN database as the database describes them.
//
// A logger configuration maps a signal into the first 8 data bytes of the frames of one
// identifier word (start bit 0..63, 1 to 64 bits, Intel or Motorola order, an integer, a 32-bit
// float or a 64-bit double) and gives it at most one multiplexer condition: one switch, one value.
// A signal described beyond that would be recorded as garbage (bits of other signals, frames of
// another message, pages of another switch) or lose bits without a word. Such signals are
// reported with their line when the database is loaded, and the signal table refuses to add them
// to a logger configuration with the same text.

#include <cstdint>
#include <string>
#include <unordered_map>

namespace tessmar {

class CANdb;
class CANdbMessage;
class CANdbSignal;

// Where a mapping (start bit in the byte * 8 + bit numbering, length, byte order) leaves the data
// bytes that the logger records from a frame of `dlc` bytes: the first min(dlc, 8). Empty when it
// lies within them, else the reason ("the signal does not fit into the %d data bytes of the
// message", ...).
std::string MappingProblem(int32_t start_bit, int32_t length, bool motorola, int32_t dlc);

class LoggingCheck {
 public:
  // Looks at every message and signal of the database; the database must outlive the check.
  explicit LoggingCheck(const CANdb& db);

  // "Signal \"%s\" of message \"%s\" cannot be logged: <reason>", or an empty text when the
  // logger can record the signal.
  const std::string& Problem(const CANdbSignal& signal) const;

  // The switch of a multiplexed signal: the signal its SG_MUL_VAL_ line names, else the only
  // switch of its message. nullptr when the signal is not multiplexed or its switch is not known.
  const CANdbSignal* Multiplexer(const CANdbSignal& signal) const;

  // Logs one warning naming the line for each message none of whose signals can be logged and
  // for each other signal that cannot be logged, in file order; after 20 warnings one more line
  // says how many signals were not listed.
  void Report() const;

 private:
  struct Switches {
    int count = 0;  // signals marked as switch ("M" or "m<value>M")
    const CANdbSignal* first = nullptr;
    const CANdbSignal* second = nullptr;
  };
  std::string MessageReason(const CANdbMessage& message) const;
  std::string SignalReason(const CANdbSignal& signal) const;

  const CANdb& db_;
  // Messages by identifier and frame format, in file order.
  std::unordered_map<uint64_t, std::pair<const CANdbMessage*, const CANdbMessage*>> by_id_;
  std::unordered_map<const CANdbMessage*, Switches> switches_;
  std::unordered_map<const CANdbMessage*, std::string> message_reasons_;
  std::unordered_map<const CANdbSignal*, std::string> problems_;
};

}  // namespace tessmar
