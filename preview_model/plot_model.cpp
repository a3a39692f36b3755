#include "preview_model/plot_model.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "candb/signal_table.h"
#include "common/c_locale.h"
#include "preview_model/recording_samples.h"
#include "writers/date_time_format.h"

namespace tessmar {

namespace {

constexpr double kMinSpan = 1e-6;

// Index of the first sample after time `at`.
std::size_t UpperIndex(std::span<const double> t, double at) {
  return static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), at) - t.begin());
}

// Decimals that show the steps of `step` (0 for steps of 1 and more).
int DecimalsOf(double step) {
  if (!(step > 0) || step >= 1) return 0;
  return std::min(9, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
}

bool ContainsNoCase(std::string_view s, std::string_view part) {
  const auto it = std::search(s.begin(), s.end(), part.begin(), part.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
  return it != s.end();
}

}  // namespace

void TimeSpan::Zoom(double factor, double anchor) {
  double w = width() * factor;
  if (w < kMinSpan) {
    w = kMinSpan;
    factor = w / width();
  }
  t0 = anchor - (anchor - t0) * factor;
  t1 = t0 + w;
}

Decimation Decimate(std::span<const double> t, std::span<const double> v, const TimeSpan& span,
                    int columns) {
  Decimation d;
  const std::size_t count = static_cast<std::size_t>(std::max(columns, 0));
  d.columns.resize(count);
  d.first_valid = count;
  if (count == 0 || !(span.width() > 0)) return d;
  // Samples before t0: the last one is the value entering the span.
  std::size_t i =
      static_cast<std::size_t>(std::lower_bound(t.begin(), t.end(), span.t0) - t.begin());
  if (i > 0) {
    d.entering = v[i - 1];
    d.first_valid = 0;
  }
  const std::size_t end = UpperIndex(t, span.t1);
  const double per_column = static_cast<double>(count) / span.width();
  // Column of a sample time at or after t0; the last column also takes t1.
  auto column_of = [&](double at) {
    const std::size_t x = static_cast<std::size_t>((at - span.t0) * per_column);
    return std::min(x, count - 1);
  };
  // A column's samples end at the first one of a later column (the column of a time never falls
  // as the time rises): found by doubling steps, then a binary search within the last step, so
  // that the search costs the logarithm of the column's samples, not of the recording's.
  while (i < end) {
    const std::size_t x = column_of(t[i]);
    std::size_t inside = i;  // the last sample known to lie in column x
    std::size_t probe = i + 1;
    for (std::size_t step = 1; probe < end && column_of(t[probe]) <= x; probe = i + step) {
      inside = probe;
      step *= 2;
    }
    const std::size_t stop = static_cast<std::size_t>(
        std::partition_point(t.begin() + static_cast<std::ptrdiff_t>(inside + 1),
                             t.begin() + static_cast<std::ptrdiff_t>(std::min(probe, end)),
                             [&](double at) { return column_of(at) <= x; }) -
        t.begin());
    // Four running minima and maxima, all starting at the first sample, keep the pass free of
    // one long chain of dependent comparisons (and give what one chain gives, NaN included).
    double low[4] = {v[i], v[i], v[i], v[i]};
    double high[4] = {v[i], v[i], v[i], v[i]};
    std::size_t k = i + 1;
    for (; k + 4 <= stop; k += 4) {
      for (std::size_t j = 0; j < 4; ++j) {
        low[j] = std::min(low[j], v[k + j]);
        high[j] = std::max(high[j], v[k + j]);
      }
    }
    for (; k < stop; ++k) {
      low[0] = std::min(low[0], v[k]);
      high[0] = std::max(high[0], v[k]);
    }
    DecimatedColumn& c = d.columns[x];
    c.has_samples = true;
    c.first = v[i];
    c.last = v[stop - 1];
    c.low = std::min(std::min(low[0], low[1]), std::min(low[2], low[3]));
    c.high = std::max(std::max(high[0], high[1]), std::max(high[2], high[3]));
    if (x < d.first_valid) d.first_valid = x;
    i = stop;
  }
  return d;
}

std::optional<double> ValueAt(std::span<const double> t, std::span<const double> v, double at) {
  const std::size_t i = UpperIndex(t, at);
  if (i == 0) return std::nullopt;
  return v[i - 1];
}

bool VisibleRange(std::span<const double> t, std::span<const double> v, const TimeSpan& span,
                  double* low, double* high) {
  std::size_t i =
      static_cast<std::size_t>(std::lower_bound(t.begin(), t.end(), span.t0) - t.begin());
  const std::size_t end = UpperIndex(t, span.t1);
  if (i > 0) --i;  // the held value entering the span
  if (i >= end) return false;
  const auto [lo, hi] = std::minmax_element(v.begin() + static_cast<std::ptrdiff_t>(i),
                                            v.begin() + static_cast<std::ptrdiff_t>(end));
  *low = *lo;
  *high = *hi;
  return true;
}

AxisTicks NiceTicks(double low, double high, int target) {
  AxisTicks ticks;
  if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) return ticks;
  target = std::max(target, 2);
  const double raw = (high - low) / target;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power * 10;
  for (const double m : {1.0, 2.0, 5.0, 10.0}) {
    if (power * m >= raw) {
      step = power * m;
      break;
    }
  }
  ticks.step = step;
  const double first = std::ceil(low / step - 1e-9);
  for (double k = first;; k += 1) {
    const double value = k * step;
    if (value > high + step * 1e-9) break;
    ticks.values.push_back(std::abs(value) < step * 1e-9 ? 0.0 : value);
    if (ticks.values.size() > 1000) break;
  }
  return ticks;
}

void PadRange(double* low, double* high) {
  if (!std::isfinite(*low) || !std::isfinite(*high)) {
    *low = 0;
    *high = 1;
  }
  if (*high <= *low) {
    const double v = *low;
    *low = v - 1;
    *high = v + 1;
    return;
  }
  const double margin = (*high - *low) * 0.05;
  *low -= margin;
  *high += margin;
}

std::string TickText(double value, double step) {
  char text[64];
  SnprintfC(text, sizeof text, "%.*f", DecimalsOf(step), value);
  std::string_view s(text);
  // A value that rounds to zero is shown without its sign.
  if (s.starts_with('-') && s.find_first_not_of("0.", 1) == std::string_view::npos)
    s.remove_prefix(1);
  return std::string(s);
}

std::string TimeTickText(double t, double step, TimeAxisMode mode, double start, bool with_date) {
  if (mode == TimeAxisMode::kSeconds) return TickText(t, step);
  const char* pattern = step >= 1 ? "hh:mm:ss" : "hh:mm:ss.ss";
  if (with_date) pattern = step >= 1 ? kDateTimePattern : kDateTimeFractionPattern;
  return FormatTimePattern(start + t, pattern);
}

std::string ValueText(double value) {
  char text[64];
  SnprintfC(text, sizeof text, "%.6g", value);
  return text;
}

const std::string* StateTextOf(const ViewerChannel& channel, double value) {
  const std::vector<StateText>& states = channel.states;
  if (states.empty() || !std::isfinite(value)) return nullptr;
  // The texts lie at least one value step apart; a decoded value equals a text's value up to the
  // rounding of factor and offset, far below a millionth of the smallest step.
  double step = INFINITY;
  for (std::size_t i = 1; i < states.size(); ++i) {
    const double d = states[i].value - states[i - 1].value;
    if (d > 0) step = std::min(step, d);
  }
  const double tolerance =
      std::isfinite(step) ? step * 1e-6 : std::max(1.0, std::abs(states[0].value)) * 1e-9;
  const auto it = std::lower_bound(states.begin(), states.end(), value - tolerance,
                                   [](const StateText& s, double v) { return s.value < v; });
  if (it == states.end() || it->value > value + tolerance) return nullptr;
  return &it->text;
}

std::string ReadoutText(const ViewerChannel& channel, double value) {
  const std::string* text = StateTextOf(channel, value);
  if (text == nullptr) return ValueText(value);
  return ValueText(value) + " (" + *text + ")";
}

std::vector<StateTick> StateTicks(std::span<const StateText> states, double low, double high,
                                  double min_gap) {
  std::vector<StateTick> ticks;
  for (const StateText& s : states) {
    if (s.value < low || s.value > high) continue;
    if (!ticks.empty() && s.value - ticks.back().value < min_gap) continue;
    ticks.push_back({s.value, s.text});
  }
  return ticks;
}

std::vector<StateTick> StateAxisTicks(std::span<const StateText> states, double low, double high,
                                      double min_gap, const AxisTicks& numbers) {
  std::vector<StateTick> ticks = StateTicks(states, low, high, min_gap);
  const std::size_t texts = ticks.size();
  for (const double v : numbers.values) {
    const bool clear =
        std::none_of(ticks.begin(), ticks.begin() + static_cast<std::ptrdiff_t>(texts),
                     [&](const StateTick& t) { return std::abs(t.value - v) < min_gap; });
    if (clear) ticks.push_back({v, TickText(v, numbers.step)});
  }
  std::stable_sort(ticks.begin(), ticks.end(),
                   [](const StateTick& a, const StateTick& b) { return a.value < b.value; });
  return ticks;
}

bool ChannelMatches(const ViewerChannel& channel, std::string_view filter) {
  if (filter.empty()) return true;
  const std::array<std::string_view, 3> fields = {channel.name, channel.unit, channel.message};
  const bool wildcard = filter.find_first_of("*?") != std::string_view::npos;
  for (std::string_view field : fields) {
    if (wildcard ? MatchPattern(field, filter) : ContainsNoCase(field, filter)) return true;
  }
  return false;
}

std::uint32_t ViewerColour(int index) {
  // Hues far apart on a white background, dark enough to read as thin lines.
  static constexpr std::array<std::uint32_t, 12> kColours = {
      0x1F77B4, 0xD62728, 0x2CA02C, 0xFF7F0E, 0x9467BD, 0x8C564B,
      0xE377C2, 0x17BECF, 0x7F7F7F, 0xBCBD22, 0x000080, 0x800000};
  return kColours[static_cast<std::size_t>(index < 0 ? 0 : index) % kColours.size()];
}

}  // namespace tessmar
