#include "writers/gps_expression.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "writers/number_text.h"

namespace tessmar {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

enum class Var {
  kDa,
  kDstr,
  kHr,
  kHasl,
  kHdop,
  kLatI,
  kLat,
  kLonI,
  kLon,
  kMi,
  kMo,
  kNsat,
  kPos,
  kSe,
  kSpeed,
  kTime,
  kTstr,
  kYr
};

struct VarName {
  const char* name;
  Var var;
};

// Matched as prefixes in this order, so "lat_i" is tried before "lat".
constexpr VarName kVariables[] = {
    {"da", Var::kDa},     {"dstr", Var::kDstr},  {"hr", Var::kHr},       {"hasl", Var::kHasl},
    {"hdop", Var::kHdop}, {"lat_i", Var::kLatI}, {"lat", Var::kLat},     {"lon_i", Var::kLonI},
    {"lon", Var::kLon},   {"mi", Var::kMi},      {"mo", Var::kMo},       {"nsat", Var::kNsat},
    {"pos", Var::kPos},   {"se", Var::kSe},      {"speed", Var::kSpeed}, {"time", Var::kTime},
    {"tstr", Var::kTstr}, {"yr", Var::kYr},
};

// Finds the variable whose name is a prefix of text; returns its name length or 0.
std::size_t MatchVariable(std::string_view text, Var& var) {
  for (const VarName& v : kVariables) {
    std::size_t n = std::strlen(v.name);
    if (text.size() >= n && text.compare(0, n, v.name) == 0) {
      var = v.var;
      return n;
    }
  }
  return 0;
}

GpsExprResult VariableValue(Var var, const GpsFix& fix) {
  // Values of the position solution are only measured while the receiver has one.
  const int solution = GpsFixHasPosition(fix) ? kGpsExprNumber : kGpsExprNoPosition;
  switch (var) {
    case Var::kDa:
      return {kGpsExprNumber, static_cast<double>(fix.day)};
    case Var::kHr:
      return {kGpsExprNumber, static_cast<double>(fix.hour)};
    case Var::kHasl:
      return {solution, fix.height};
    case Var::kHdop:
      return {solution, fix.hdop};
    case Var::kLatI:
      return {solution, static_cast<double>(fix.latitude)};
    case Var::kLat:
      return {solution, fix.latitude / static_cast<double>(kGpsUnitsPerDegree)};
    case Var::kLonI:
      return {solution, static_cast<double>(fix.longitude)};
    case Var::kLon:
      return {solution, fix.longitude / static_cast<double>(kGpsUnitsPerDegree)};
    case Var::kMi:
      return {kGpsExprNumber, static_cast<double>(fix.minute)};
    case Var::kMo:
      return {kGpsExprNumber, static_cast<double>(fix.month)};
    case Var::kNsat:
      return {kGpsExprNumber, static_cast<double>(fix.satellites)};
    case Var::kSe:
      return {kGpsExprNumber, static_cast<double>(fix.second)};
    case Var::kSpeed:
      return {solution, fix.speed};
    case Var::kTime: {
      int code = (fix.time_valid && fix.date_valid) ? kGpsExprNumber : kGpsExprInvalidTime;
      return {code, GpsFixTime(fix)};
    }
    case Var::kYr:
      return {kGpsExprNumber, fix.year2000 == 0 ? 0.0 : fix.year2000 + 2000.0};
    case Var::kDstr:
    case Var::kTstr:
    case Var::kPos:
      return {kGpsExprText, 0.0};
  }
  return {kGpsExprUnknownName, 0.0};
}

// Reads one operand at text[pos]; advances pos.
GpsExprResult ReadOperand(std::string_view text, std::size_t& pos, const GpsFix& fix) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos >= text.size()) return {kGpsExprSyntax, 0.0};
  char c = text[pos];
  if (IsDigit(c) || c == '.' || c == '-') {
    double value = 0;
    std::size_t used = ReadDecimalNumber(text.substr(pos), value);
    if (used == 0) return {kGpsExprSyntax, 0.0};
    pos += used;
    return {kGpsExprNumber, value};
  }
  if (text.compare(pos, 4, "gps.") == 0) {
    pos += 4;
    if (pos < text.size() && text[pos] == '.') ++pos;
    Var var{};
    std::size_t n = MatchVariable(text.substr(pos), var);
    if (n == 0) return {kGpsExprUnknownName, 0.0};
    pos += n;
    return VariableValue(var, fix);
  }
  return {IsLetter(c) ? kGpsExprUnknownName : kGpsExprSyntax, 0.0};
}

}  // namespace

GpsExprResult EvaluateGpsExpression(std::string_view text, const GpsFix& fix) {
  std::size_t pos = 0;
  // Codes that mark the number as not measured are carried, not treated as errors.
  auto is_error = [](int code) {
    return code < 0 && code != kGpsExprInvalidTime && code != kGpsExprNoPosition;
  };
  GpsExprResult first = ReadOperand(text, pos, fix);
  if (is_error(first.code)) return first;
  int code = first.code;
  double acc = first.value;
  for (;;) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    char op = text[pos];
    if (op != '+' && op != '-' && op != '*' && op != '/' && op != '%') {
      return {kGpsExprUnknownOperator, acc};
    }
    ++pos;
    GpsExprResult rhs = ReadOperand(text, pos, fix);
    if (is_error(rhs.code)) return {rhs.code, acc};
    if (rhs.code != kGpsExprNumber) code = rhs.code;
    switch (op) {
      case '+':
        acc += rhs.value;
        break;
      case '-':
        acc -= rhs.value;
        break;
      case '*':
        acc *= rhs.value;
        break;
      case '/':
        if (rhs.value == 0.0) return {kGpsExprDivByZero, acc};
        acc /= rhs.value;
        break;
      case '%':
        if (rhs.value == 0.0) return {kGpsExprDivByZero, acc};
        acc = std::fmod(acc, rhs.value);
        break;
    }
  }
  return {code, acc};
}

int GpsVariableText(std::string_view name, const GpsFix& fix, char* out, int capacity) {
  if (capacity <= 0) return -1;
  Var var{};
  if (MatchVariable(name, var) != name.size()) return -1;
  int n = -1;
  switch (var) {
    case Var::kDstr:
      n = fix.date_valid ? std::snprintf(out, capacity, "%04d-%02d-%02d", fix.year2000 + 2000,
                                         fix.month, fix.day)
                         : std::snprintf(out, capacity, "YYYY-MM-DD");
      break;
    case Var::kTstr:
      n = fix.time_valid
              ? std::snprintf(out, capacity, "%02d:%02d:%02d", fix.hour, fix.minute, fix.second)
              : std::snprintf(out, capacity, "hh:mm:ss");
      break;
    case Var::kPos:
      if (!fix.position_valid) {
        n = std::snprintf(out, capacity, "%s", "dd\u00f8mm'ss.s\"N ddd\u00f8mm'ss.s\"E");
      } else {
        GpsDms la = GpsToDms(fix.latitude);
        GpsDms lo = GpsToDms(fix.longitude);
        n = std::snprintf(
            out, capacity, "%02d\u00b0%02d'%02d.%01d\"%c %03d\u00b0%02d'%02d.%01d\"%c", la.degrees,
            la.minutes, la.seconds, la.tenths, fix.latitude < 0 ? 'S' : 'N', lo.degrees, lo.minutes,
            lo.seconds, lo.tenths, fix.longitude < 0 ? 'W' : 'E');
      }
      break;
    default:
      return -1;
  }
  if (n < 0) return -1;
  return n < capacity ? n : capacity - 1;
}

}  // namespace tessmar
