#pragma once
// GPS column expressions: the GPS variables a column may use, their left-to-right evaluation and
// the text variables, all read from a decoded GPS fix.

#include <string_view>

#include "logfile/gps_fix.h"

namespace tessmar {

// Result codes of the expression evaluation.
inline constexpr int kGpsExprNumber = 0;
inline constexpr int kGpsExprText = 2;
inline constexpr int kGpsExprDivByZero = -1;
inline constexpr int kGpsExprSyntax = -2;
inline constexpr int kGpsExprUnknownName = -3;
inline constexpr int kGpsExprUnknownOperator = -4;
inline constexpr int kGpsExprInvalidTime = -6;
// A variable of the position solution (lat, lon, lat_i, lon_i, hasl, speed, hdop) read while the
// fix has no position (GpsFixHasPosition false); like -6, the number is still delivered.
inline constexpr int kGpsExprNoPosition = -7;

struct GpsExprResult {
  int code = kGpsExprNumber;
  double value = 0;
};

// Evaluates a GPS column expression strictly from left to right, without precedence: operand,
// then any number of (operator, operand) pairs; operands are numbers or "gps.<variable>";
// operators + - * / %. A text variable (code 2), an invalid time (code -6) or a missing position
// (code -7) keeps its code as the result unless a later error occurs; the number is delivered in
// every case.
GpsExprResult EvaluateGpsExpression(std::string_view text, const GpsFix& fix);

// Text of a text variable ("dstr", "tstr", "pos") for display; writes at most capacity - 1
// characters and a NUL; returns the length, or -1 when the name is not a text variable.
int GpsVariableText(std::string_view name, const GpsFix& fix, char* out, int capacity);

}  // namespace tessmar
