#pragma once
// Hand-written number formatting for the rows of the text outputs. Each function writes at p and
// returns the position after the last character written; none of them allocates. The results are
// identical to the printf conversions named beside them (C locale).

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "common/c_locale.h"

namespace tessmar::numfmt {

// Room every caller must leave at p for one number.
inline constexpr int kMaxNumberChars = 40;

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Exact powers of ten.
inline constexpr double kExactPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Exact powers of ten as integers, 10^0 .. 10^19.
inline constexpr uint64_t kUIntPow10[20] = {1,
                                            10,
                                            100,
                                            1000,
                                            10000,
                                            100000,
                                            1000000,
                                            10000000,
                                            100000000,
                                            1000000000,
                                            10000000000,
                                            100000000000,
                                            1000000000000,
                                            10000000000000,
                                            100000000000000,
                                            1000000000000000,
                                            10000000000000000,
                                            100000000000000000,
                                            1000000000000000000,
                                            10000000000000000000u};

// Writes the decimal digits of units into digits from the least significant end, padded with
// zeros to at least min_digits; returns their number (at most 21).
inline int ReverseDigits(char* digits, uint64_t units, int min_digits) {
  int n = 0;
  while (units >= 100) {
    const char* pair = kDigitPairs + 2 * (units % 100);
    units /= 100;
    digits[n++] = pair[1];
    digits[n++] = pair[0];
  }
  do {
    digits[n++] = static_cast<char>('0' + units % 10);
    units /= 10;
  } while (units != 0);
  while (n < min_digits) digits[n++] = '0';
  return n;
}

// Fast path of "%.<precision>lg" for precision 1..15 and values that take the fixed-point form
// (decimal exponent -4 up to precision - 1), by integer arithmetic. Returns nullptr where the
// library is needed: the exponent form, no number, or a scaled fraction too close to one half to
// be sure that rounding the product gives what printf gives.
inline char* GFast(char* p, double v, int precision) {
  if (precision < 1 || precision > 15) return nullptr;
  const double a = std::fabs(v);
  if (a == 0) {
    if (std::signbit(v)) *p++ = '-';
    *p++ = '0';
    return p;
  }
  if (!(a >= 1e-5 && a < kExactPow10[precision])) return nullptr;  // also NaN
  // A first guess of the decimal exponent; the rounded digits correct it below (the boundaries
  // below 1 are not exact in binary, and rounding may carry into one more digit).
  int x = 0;
  if (a >= 1) {
    while (x + 1 < precision && a >= kExactPow10[x + 1]) ++x;
  } else {
    double t = a;
    while (t < 1 && x > -5) {
      t *= 10;
      --x;
    }
  }
  uint64_t units = 0;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 3 || x < -4 || x >= precision) return nullptr;
    const double scaled = a * kExactPow10[precision - 1 - x];
    // Below 10^16 and not negative: truncation is the floor, and cheaper than std::floor.
    const auto whole_units = static_cast<uint64_t>(scaled);
    const auto whole = static_cast<double>(whole_units);
    // Below 1e12 the product is within 1.2e-4 of the exact one. Beyond, its rounding error is
    // added back (a * 10^k - scaled is exact through a fused multiply-add), which keeps the
    // fraction within a few 1e-16 of the exact one; the integer part is then right too, since a
    // fraction at or above 1 rounds up to the same units.
    const double frac =
        precision <= 12 ? scaled - whole
                        : (scaled - whole) + std::fma(a, kExactPow10[precision - 1 - x], -scaled);
    if (std::fabs(frac - 0.5) < 1e-3) return nullptr;
    units = whole_units + (frac > 0.5 ? 1 : 0);
    if (units >= kUIntPow10[precision]) {
      ++x;
    } else if (units < kUIntPow10[precision - 1]) {
      --x;
    } else {
      break;
    }
  }
  // Digits from the least significant end; the fixed form has precision - 1 - x decimals.
  const int decimals = precision - 1 - x;
  char digits[24];
  const int n = ReverseDigits(digits, units, decimals + 1);
  if (std::signbit(v)) *p++ = '-';
  for (int k = n - 1; k >= decimals; --k) *p++ = digits[k];
  // Trailing zeros of the fraction are dropped, and the point with them when nothing is left.
  int last = 0;
  while (last < decimals && digits[last] == '0') ++last;
  if (last < decimals) {
    *p++ = '.';
    for (int k = decimals - 1; k >= last; --k) *p++ = digits[k];
  }
  return p;
}

// "%.<precision>lg"
inline char* G(char* p, double v, int precision) {
  if (char* end = GFast(p, v, precision)) return end;
  return std::to_chars(p, p + kMaxNumberChars, v, std::chars_format::general, precision).ptr;
}

// ---- Signals on a decimal grid -------------------------------------------------------------
// Most signals have a factor and an offset that are short decimals (0.1, 0.05, -40): their
// physical value is the decimal (raw * multiplier + offset_units) / 10^places. Where that decimal
// has at most P significant digits, "%.<P>lg" of the computed double is that decimal itself, and
// it is written from the integer without the general formatting.
struct DecimalGrid {
  int64_t multiplier = 0;  // 0: the column's values are not on such a grid
  int64_t offset_units = 0;
  int places = 0;  // 0..4

  // The grid of a factor and an offset, when both are (the nearest doubles of) decimals with at
  // most four places, the factor positive and at most 10^6.
  static DecimalGrid Of(double factor, double offset) {
    for (int k = 0; k <= 4; ++k) {
      const double power = kExactPow10[k];
      const double m = std::nearbyint(factor * power);
      const double c = std::nearbyint(offset * power);
      if (!(m >= 1 && m <= 1e6 && std::fabs(c) <= 1e12)) continue;
      if (m / power != factor || c / power != offset) continue;
      return DecimalGrid{static_cast<int64_t>(m), static_cast<int64_t>(c), k};
    }
    return DecimalGrid{};
  }
};

// ---- Exact cells ---------------------------------------------------------------------------
// A cell shows a number with the column's usual significant digits ("%.<precision>lg") whenever
// that text gives the value back closely enough; otherwise with the smallest larger number of
// digits that does (at most 17, which gives back every double). Typical values keep their
// familiar short text; large values of a fine resolution (an odometer in 0.1 km above 10
// million, a 32-bit mask) are not rounded away.
//
// What "closely enough" means is the column's rule:
//  - step > 0: the values lie on a grid of that step (a signal's factor). A text must read back
//    within less than half a step (less a small margin), so that a reader who rounds to the grid
//    finds the value again.
//  - step 0: a text must read back to the value itself; a value that came from a 32-bit float
//    to the same float.
struct ExactRule {
  int precision = 6;  // the usual digits
  double step = 0;
  // Magnitudes below this are given back closely enough by `precision` digits whatever their
  // digits are, so most cells need no check. Decided once per column.
  double safe_below = 0;
  // A signal's physical values whose text can be written from the raw integer (GExactSignal).
  DecimalGrid grid;
};

// A text on a grid may be off by half a step less this share of it: a text almost exactly
// between two grid values is not taken as naming one of them.
inline constexpr double kStepMargin = 1e-4;

// The rule of a column on a grid of `step` (its magnitude counts; a factor of 0 or no number: the
// value itself). A value below 10^E is off by at most half a unit of its last digit, 0.5 *
// 10^(E-P), plus the rounding of the text to a double; the largest power of ten for which that
// stays within the margin is where checking begins.
inline ExactRule GridRule(int precision, double step) {
  ExactRule rule{precision, 0, 0, {}};
  step = std::fabs(step);
  if (!(step > 0 && step < 1e300)) return rule;
  rule.step = step;
  const double digits = std::pow(10.0, precision);
  const double limit = step * digits * (1 - kStepMargin) / (1 + 2.3e-16 * digits);
  if (!(limit > 0) || std::isinf(limit)) return rule;
  double power = std::pow(10.0, std::floor(std::log10(limit)));
  while (power >= limit) power /= 10;
  rule.safe_below = power * (1 - 1e-12);  // a power of ten below one is not exact in binary
  return rule;
}

// The rule of a column whose values must read back as themselves.
inline ExactRule ValueRule(int precision) { return ExactRule{precision, 0, 0, {}}; }

// The rule of a signal column: on the grid of its factor, and written from the raw integer
// where factor and offset are short decimals.
inline ExactRule SignalRule(int precision, double factor, double offset) {
  ExactRule rule = GridRule(precision, factor);
  rule.grid = DecimalGrid::Of(factor, offset);
  return rule;
}

// Significant digits of the shortest text that reads back to v (as a float when single).
inline int ShortestDigits(double v, bool single) {
  char buf[kMaxNumberChars];
  const char* end =
      single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v),
                             std::chars_format::scientific)
                   .ptr
             : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr;
  int n = 0;
  for (const char* q = buf; q < end && *q != 'e'; ++q) n += (*q >= '0' && *q <= '9') ? 1 : 0;
  return n;
}

// True when the number text [begin, end) is close enough to v under the rule.
inline bool ReadsBack(const char* begin, const char* end, double v, const ExactRule& rule,
                      bool single) {
  if (rule.step > 0) {
    double d = 0;
    if (FromChars(begin, end, d).ec != std::errc()) return false;
    return 2 * std::fabs(d - v) < rule.step * (1 - kStepMargin);
  }
  if (single) {
    float f = 0;
    if (FromChars(begin, end, f).ec != std::errc()) return false;
    return f == static_cast<float>(v);
  }
  double d = 0;
  if (FromChars(begin, end, d).ec != std::errc()) return false;
  return d == v;
}

// The decimal exponent x of a > 0 (10^x <= a < 10^(x+1)). False beyond 1e-22 .. 1e22, and for
// a hair's breadth from a power of ten below one, which is not exact in binary.
inline bool DecimalExponent(double a, int& x) {
  if (!(a >= 1e-22 && a < 1e22)) return false;
  x = 0;
  if (a >= 1) {
    while (a >= kExactPow10[x + 1]) ++x;
    return true;
  }
  double scaled = a;
  while (scaled < 1) scaled = a * kExactPow10[-(--x)];
  return scaled > 1 + 1e-12 && scaled < 10 - 1e-11;
}

// How far the text of a > 0 with `digits` significant digits lies from a (x its decimal
// exponent), without writing it: the distance of a * 10^(digits-1-x) from the nearest whole
// number, with the rounding error of the product or quotient added back through a fused
// multiply-add, times the place of the last digit (set into unit). False where the
// scaled number has no fraction left to look at.
inline bool RoundingError(double a, int digits, int x, double& error, double& unit) {
  const int k = digits - 1 - x;
  if (k > 22 || k < -22) return false;
  const double power = kExactPow10[k >= 0 ? k : -k];
  double scaled, rest;
  if (k >= 0) {
    scaled = a * power;
    rest = std::fma(a, power, -scaled);
    unit = 1 / power;
  } else {
    scaled = a / power;
    rest = std::fma(-scaled, power, a) / power;
    unit = power;
  }
  if (!(scaled < 4503599627370496.0)) return false;  // 2^52
  // Not negative: truncation is the floor.
  const double fraction = (scaled - static_cast<double>(static_cast<uint64_t>(scaled))) + rest;
  error = (fraction < 0.5 ? std::fabs(fraction) : std::fabs(1 - fraction)) * unit;
  return true;
}

// GExact() beyond the magnitudes that need no check.
[[gnu::noinline]] inline char* GExactChecked(char* p, double v, const ExactRule& rule,
                                             bool single) {
  const double a = std::fabs(v);
  if (!std::isfinite(v)) return G(p, v, rule.precision);
  int digits = rule.precision;
  if (rule.step > 0) {
    // On a grid the error of each number of digits is worked out by arithmetic; only a text
    // whose error lies within a hair's breadth of the limit is written and read back.
    const double limit = rule.step * (1 - kStepMargin);
    int x = 0;
    const bool known = DecimalExponent(a, x);
    for (; digits < 17; ++digits) {
      double error = 0, unit = 0;
      if (known && RoundingError(a, digits, x, error, unit)) {
        const double slack = 1e-9 * unit + a * 2.3e-16;  // the arithmetic and the reading back
        if (2 * (error + slack) < limit) return G(p, v, digits);
        if (2 * (error - slack) >= limit) continue;
      }
      char* end = G(p, v, digits);
      if (ReadsBack(p, end, v, rule, false)) return end;
    }
    return G(p, v, 17);
  }
  // A value beyond the range of a float did not come from one.
  single = single && a <= std::numeric_limits<float>::max();
  // Fewer digits than the shortest text that reads back never give the value itself.
  digits = std::max(digits, std::min(ShortestDigits(v, single), 17));
  for (;; ++digits) {
    char* end = G(p, v, digits);
    if (digits >= 17 || ReadsBack(p, end, v, rule, single)) return end;
  }
}

// "%.<kPrecision>lg" of v, or more digits when the rule (made for kPrecision digits) asks for
// them. single: v came from a 32-bit float (only for rules without a step). Most cells take the
// first branch, which costs what plain G() with a constant precision costs.
template <int kPrecision>
[[gnu::always_inline]] inline char* GExact(char* p, double v, const ExactRule& rule,
                                           bool single = false) {
  if (std::fabs(v) < rule.safe_below) return G(p, v, kPrecision);
  return GExactChecked(p, v, rule, single);
}

// GExact<kPrecision>() of `scaled`, the physical value of the integer raw value `raw` on the
// grid (its rule made for that grid), written from the integer; nullptr where that does not
// apply: no grid, a raw value beyond 2^40, or a double too far from the decimal (as after an
// offset cancelled the value). The caller then formats as usual.
// - Up to kPrecision digits the text is "%.<kPrecision>lg": the decimal itself whenever the
//   double lies much closer to it than half a unit of its last digit (5e-8 of it for 7 digits).
// - With more digits, on a grid of one unit of the last place (factor 1, 0.1, 0.01 ...), the
//   exact-cell rule writes every digit of the decimal: fewer would be off by a whole step. This
//   holds while the double lies within a quarter unit of the decimal and the text keeps the
//   fixed-point form (no more trailing zeros than places).
template <int kPrecision>
inline char* GridG(char* p, const DecimalGrid& grid, int64_t raw, double scaled) {
  static_assert(kPrecision >= 1 && kPrecision <= 9);
  static constexpr int64_t kRawLimit = int64_t{1} << 40;
  if (grid.multiplier == 0 || raw > kRawLimit || raw < -kRawLimit) return nullptr;
  const int64_t n = raw * grid.multiplier + grid.offset_units;
  if (n == 0) {
    if (scaled != 0 || std::signbit(scaled)) return nullptr;
    *p++ = '0';
    return p;
  }
  const uint64_t a = n < 0 ? static_cast<uint64_t>(-n) : static_cast<uint64_t>(n);
  const double back = scaled * kExactPow10[grid.places];
  const double units = static_cast<double>(n);
  if (a < kUIntPow10[kPrecision]) {
    if (!(std::fabs(back - units) <= static_cast<double>(a) * 1e-9)) return nullptr;
  } else {
    static constexpr uint64_t kUnitsLimit = uint64_t{1} << 50;
    if (grid.multiplier != 1 || a >= kUnitsLimit || a % kUIntPow10[grid.places + 1] == 0 ||
        !(std::fabs(back - units) <= 0.25)) {
      return nullptr;
    }
  }
  if (n < 0) *p++ = '-';
  uint64_t whole = a, fraction = 0;
  int places = grid.places;
  // Constant divisors, which compile to multiplications.
  auto split = [&]<uint64_t kPower>() {
    whole = a / kPower;
    fraction = a % kPower;
  };
  if (places == 1) split.template operator()<10>();
  if (places == 2) split.template operator()<100>();
  if (places == 3) split.template operator()<1000>();
  if (places == 4) split.template operator()<10000>();
  p = std::to_chars(p, p + 24, whole).ptr;
  if (fraction == 0) return p;
  // The fraction's trailing zeros are dropped; its leading zeros stay.
  while (fraction % 10 == 0) {
    fraction /= 10;
    --places;
  }
  *p++ = '.';
  for (int i = places - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return p + places;
}

// GExact() of a signal's physical value `scaled` from its raw value: written from the integer
// where the rule's grid allows (integer raw values only), otherwise as GExact() writes it.
template <int kPrecision>
[[gnu::always_inline]] inline char* GExactSignal(char* p, double scaled, int64_t raw,
                                                 bool raw_is_integer, const ExactRule& rule,
                                                 bool single = false) {
  if (raw_is_integer) {
    if (char* end = GridG<kPrecision>(p, rule.grid, raw, scaled)) return end;
  }
  return GExact<kPrecision>(p, scaled, rule, single);
}

// "%.<decimals>lf" through the library (exact decimal rounding of the binary value).
inline char* FixedSlow(char* p, double v, int decimals) {
  const std::to_chars_result r =
      std::to_chars(p, p + kMaxNumberChars, v, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {  // beyond 40 characters: fall back to the exponent form
    return std::to_chars(p, p + kMaxNumberChars, v, std::chars_format::general, 17).ptr;
  }
  return r.ptr;
}

// |v| in units of the last of `decimals` (0..6) places, rounded as printf rounds: false where
// integer arithmetic cannot be sure of that (too large, or a scaled fraction too close to one
// half, since printf rounds the exact binary value).
inline bool FixedUnits(double v, int decimals, uint64_t& units) {
  if (decimals < 0 || decimals > 6) return false;
  const double scaled = std::fabs(v) * kExactPow10[decimals];
  // Below 1e12 a double holds the scaled value to better than 1.3e-4.
  if (!(scaled < 1e12)) return false;
  const auto whole_units = static_cast<uint64_t>(scaled);  // the floor: not negative
  const double frac = scaled - static_cast<double>(whole_units);
  if (std::fabs(frac - 0.5) < 1e-3) return false;
  units = whole_units + (frac > 0.5 ? 1 : 0);
  return true;
}

// Fast path of "%0<width>.<decimals>lf" (width 0: no padding) for moderate values with up to 6
// decimals, by integer arithmetic. Returns nullptr when the value needs the library (FixedUnits).
inline char* FixedFast(char* p, double v, int width, int decimals) {
  uint64_t units = 0;
  if (!FixedUnits(v, decimals, units)) return nullptr;
  // The digits of units (at least one in front of the point), zero-padded to the field, written
  // from the right two at a time; then the fraction moves one place right for the point.
  const int sign = std::signbit(v) ? 1 : 0;
  const int guess = (static_cast<int>(std::bit_width(units)) * 1233) >> 12;  // ~log10
  const int n = guess + 1 - (units < kUIntPow10[guess] ? 1 : 0);
  const int field = std::max(std::max(n, decimals + 1), width - sign - (decimals > 0 ? 1 : 0));
  if (sign) *p++ = '-';
  char* q = p + field;
  while (q - p >= 2) {
    q -= 2;
    std::memcpy(q, kDigitPairs + 2 * (units % 100), 2);
    units /= 100;
  }
  if (q > p) *p = static_cast<char>('0' + units % 10);
  char* end = p + field;
  if (decimals > 0) {
    for (int k = 0; k < decimals; ++k) end[-k] = end[-k - 1];
    end[-decimals] = '.';
    ++end;
  }
  return end;
}

// "%.<decimals>lf"
inline char* Fixed(char* p, double v, int decimals) {
  if (char* end = FixedFast(p, v, 0, decimals)) return end;
  return FixedSlow(p, v, decimals);
}

// "%0<width>.<decimals>lf": zero padded on the left (after a minus sign) to width characters.
inline char* FixedZeroPadded(char* p, double v, int width, int decimals) {
  if (char* end = FixedFast(p, v, width, decimals)) return end;
  char tmp[kMaxNumberChars];
  char* end = FixedSlow(tmp, v, decimals);
  int len = static_cast<int>(end - tmp);
  const char* digits = tmp;
  if (*digits == '-') {
    *p++ = '-';
    ++digits;
    --len;
    --width;
  }
  const bool finite = *digits >= '0' && *digits <= '9';
  for (int i = len; finite && i < width; ++i) *p++ = '0';
  std::memcpy(p, digits, static_cast<std::size_t>(len));
  return p + len;
}

// "%0<W>.4lf" (pad '0') or "%<W>.4lf" (pad ' ') of row times, W = int_width + 5: times mostly
// grow a little from row to row, so the text of the whole seconds (padded) and the point is kept
// and written again while the seconds stay the same, and the four decimals are two digit pairs.
// Write() gives nullptr for a value it leaves to the caller (negative, or beyond integer
// arithmetic); p needs 16 bytes of room.
class RowSeconds {
 public:
  RowSeconds(int int_width, char pad) : int_width_(int_width), pad_(pad) {}

  char* Write(char* p, double v) {
    uint64_t units = 0;
    if (std::signbit(v) || !FixedUnits(v, 4, units) || units >= kUIntPow10[15]) return nullptr;
    const uint64_t whole = units / 10000;
    const auto fraction = static_cast<uint32_t>(units % 10000);
    if (whole != whole_) Keep(whole);
    std::memcpy(p, head_, 16);  // what lies beyond the head is overwritten below
    p += head_length_;
    std::memcpy(p, kDigitPairs + 2 * (fraction / 100), 2);
    std::memcpy(p + 2, kDigitPairs + 2 * (fraction % 100), 2);
    return p + 4;
  }

 private:
  void Keep(uint64_t whole) {
    char digits[kMaxNumberChars];
    const int n =
        static_cast<int>(std::to_chars(digits, digits + sizeof digits, whole).ptr - digits);
    int length = 0;
    for (; length < int_width_ - n; ++length) head_[length] = pad_;
    std::memcpy(head_ + length, digits, static_cast<std::size_t>(n));
    length += n;
    head_[length++] = '.';
    head_length_ = length;
    whole_ = whole;
  }

  int int_width_;
  char pad_;
  uint64_t whole_ = ~uint64_t{0};
  char head_[32] = {};
  int head_length_ = 0;
};

// The last text written for one column and the number it shows. On a row grid finer than the
// message periods most cells repeat the previous row, and copying the kept text is far cheaper
// than formatting the number again. `kind` tells how the number was formatted (0: nothing kept).
struct LastText {
  static constexpr std::size_t kRoom = 32;

  std::uint64_t key = 0;
  std::uint8_t kind = 0;
  std::uint8_t len = 0;
  char text[kRoom];

  static std::uint64_t Bits(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
  }
  bool Holds(std::uint8_t k, std::uint64_t bits) const { return kind == k && key == bits; }
  // Writes the kept text at p and returns its end. The whole room is copied, so p must have
  // kRoom bytes of room.
  char* CopyTo(char* p) const {
    std::memcpy(p, text, kRoom);
    return p + len;
  }
  // Keeps [begin, end) for this number; texts longer than the room are not kept. The whole room
  // is copied (one fixed-size move is far cheaper than a copy of variable length), so begin must
  // have kRoom readable bytes.
  void Keep(std::uint8_t k, std::uint64_t bits, const char* begin, const char* end) {
    const std::size_t n = static_cast<std::size_t>(end - begin);
    if (n > kRoom) {
      kind = 0;
      return;
    }
    kind = k;
    key = bits;
    len = static_cast<std::uint8_t>(n);
    std::memcpy(text, begin, kRoom);
  }
};

// "%lld"
inline char* Int(char* p, int64_t v) { return std::to_chars(p, p + kMaxNumberChars, v).ptr; }
// "%llu"
inline char* UInt(char* p, uint64_t v) { return std::to_chars(p, p + kMaxNumberChars, v).ptr; }

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// "%02X"
inline char* Hex2(char* p, uint8_t v) {
  p[0] = kHexDigits[v >> 4];
  p[1] = kHexDigits[v & 15];
  return p + 2;
}

// "%08lX"
inline char* Hex8(char* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    // The eight nibbles spread into the eight bytes of a word (least significant first), each
    // made a digit or a capital letter at once, and stored most significant first.
    uint64_t x = v;
    x = ((x & 0xFFFF0000u) << 16) | (x & 0xFFFFu);
    x = ((x & 0x0000FF000000FF00u) << 8) | (x & 0x000000FF000000FFu);
    x = ((x & 0x00F000F000F000F0u) << 4) | (x & 0x000F000F000F000Fu);
    const uint64_t letters = ((x + 0x0606060606060606u) >> 4) & 0x0101010101010101u;
    x = __builtin_bswap64(x + 0x3030303030303030u + letters * 7);
    std::memcpy(p, &x, 8);
    return p + 8;
  }
  for (int i = 7; i >= 0; --i) {
    p[i] = kHexDigits[v & 15];
    v >>= 4;
  }
  return p + 8;
}

// "%lX"
inline char* Hex(char* p, uint32_t v) { return std::to_chars(p, p + 8, v, 16).ptr; }

// Uppercase variant of Hex().
inline char* HexUpper(char* p, uint32_t v) {
  char* end = Hex(p, v);
  for (char* q = p; q < end; ++q) {
    if (*q >= 'a' && *q <= 'f') *q = static_cast<char>(*q - 'a' + 'A');
  }
  return end;
}

// Replaces every period in [begin, end) by sep.
inline void ReplacePeriods(char* begin, char* end, char sep) {
  for (char* q = begin; q < end; ++q) {
    if (*q == '.') *q = sep;
  }
}

}  // namespace tessmar::numfmt
