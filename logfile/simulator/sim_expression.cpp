#include "logfile/simulator/sim_expression.h"

#include <limits>
#include <string>

#include "common/c_locale.h"

namespace tessmar::sim {

namespace {

bool NameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool NameChar(char c) { return NameStart(c) || (c >= '0' && c <= '9') || c == '.'; }

// Recursive descent (see Compile): sum := product { (+|-) product };
// product := unary { (*|/) unary }; unary := - unary | primary; primary := number | name | ( sum ).

}  // namespace

bool SimExpression::Compile(std::string_view text, const Lookup& lookup) {
  code_.clear();
  std::vector<Step> code;
  std::size_t pos = 0;
  bool ok = true;
  const auto skip_blanks = [&] {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  };
  std::function<void()> sum;
  const std::function<void()> primary = [&] {
    skip_blanks();
    if (pos >= text.size()) {
      ok = false;
      return;
    }
    const char c = text[pos];
    if (c == '(') {
      ++pos;
      sum();
      skip_blanks();
      if (pos < text.size() && text[pos] == ')') {
        ++pos;
      } else {
        ok = false;
      }
    } else if ((c >= '0' && c <= '9') || c == '.') {
      const std::string rest(text.substr(pos));
      char* end = nullptr;
      const double v = StrtodC(rest.c_str(), &end);
      if (end == rest.c_str()) {
        ok = false;
        return;
      }
      pos += static_cast<std::size_t>(end - rest.c_str());
      code.push_back({Op::kNumber, v, 0});
    } else if (NameStart(c)) {
      const std::size_t start = pos;
      while (pos < text.size() && NameChar(text[pos])) ++pos;
      const int index = lookup(text.substr(start, pos - start));
      if (index < 0) {
        ok = false;
        return;
      }
      code.push_back({Op::kValue, 0, index});
    } else {
      ok = false;
    }
  };
  std::function<void()> unary = [&] {
    skip_blanks();
    if (pos < text.size() && text[pos] == '-') {
      ++pos;
      unary();
      code.push_back({Op::kNeg, 0, 0});
    } else {
      primary();
    }
  };
  const auto binary = [&](const std::function<void()>& operand, char a, Op op_a, char b, Op op_b) {
    operand();
    while (ok) {
      skip_blanks();
      if (pos >= text.size() || (text[pos] != a && text[pos] != b)) return;
      const Op op = text[pos] == a ? op_a : op_b;
      ++pos;
      operand();
      code.push_back({op, 0, 0});
    }
  };
  const std::function<void()> product = [&] { binary(unary, '*', Op::kMul, '/', Op::kDiv); };
  sum = [&] { binary(product, '+', Op::kAdd, '-', Op::kSub); };
  sum();
  skip_blanks();
  if (!ok || pos != text.size() || code.empty()) return false;
  code_ = std::move(code);
  return true;
}

double SimExpression::Evaluate(std::span<const double> values) const {
  std::vector<double> stack;
  stack.reserve(code_.size());
  for (const Step& s : code_) {
    if (s.op == Op::kNumber) {
      stack.push_back(s.number);
      continue;
    }
    if (s.op == Op::kValue) {
      stack.push_back(s.index >= 0 && static_cast<std::size_t>(s.index) < values.size()
                          ? values[static_cast<std::size_t>(s.index)]
                          : 0.0);
      continue;
    }
    if (s.op == Op::kNeg) {
      stack.back() = -stack.back();
      continue;
    }
    const double b = stack.back();
    stack.pop_back();
    double& a = stack.back();
    switch (s.op) {
      case Op::kAdd:
        a += b;
        break;
      case Op::kSub:
        a -= b;
        break;
      case Op::kMul:
        a *= b;
        break;
      default:
        a = b == 0.0 ? std::numeric_limits<double>::quiet_NaN() : a / b;
        break;
    }
  }
  return stack.empty() ? 0.0 : stack.back();
}

}  // namespace tessmar::sim
