#pragma once
// Numeric expressions of a logger configuration, evaluated on simulated signal values, so that a
// simulated recording carries for "VehicleSpeed/3.6" exactly that value of its VehicleSpeed.
//
// The form understood: decimal numbers, signal names (letters, digits, '_' and '.', not starting
// with a digit), + - * /, unary minus and parentheses, with the usual precedence. Anything else
// (functions, variables of the device, unknown names) is not compiled, and the simulator keeps
// its own moving value for such an expression.

#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace tessmar::sim {

class SimExpression {
 public:
  // Index of a signal's value, -1 for a name that is no signal.
  using Lookup = std::function<int(std::string_view name)>;

  // False (and nothing compiled) when the text is not of the form above or names an unknown
  // signal.
  bool Compile(std::string_view text, const Lookup& lookup);
  bool compiled() const { return !code_.empty(); }
  // The value for the given signal values; not finite after a division by zero.
  double Evaluate(std::span<const double> values) const;

 private:
  enum class Op { kNumber, kValue, kAdd, kSub, kMul, kDiv, kNeg };
  struct Step {
    Op op;
    double number = 0;  // kNumber
    int index = 0;      // kValue
  };
  std::vector<Step> code_;  // postfix order
};

}  // namespace tessmar::sim
