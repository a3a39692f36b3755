#pragma once
// Window-free parts of the signal viewer's plots: the visible time span and its zoom and pan,
// min/max decimation of a channel's samples into pixel columns, nice axis ticks, the value of a
// channel at a cursor (sample and hold), the texts of the time axis and the channel filter.
// The viewer's widgets only draw what these give.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar {

struct StateText;
struct ViewerChannel;

// The visible time span [t0, t1] in seconds since the recording's start.
struct TimeSpan {
  double t0 = 0;
  double t1 = 1;

  double width() const { return t1 - t0; }
  // Zooms by `factor` (below 1: in) keeping time `anchor` where it is on the screen. The span
  // never becomes narrower than a microsecond.
  void Zoom(double factor, double anchor);
  // Moves by dt seconds.
  void Pan(double dt) {
    t0 += dt;
    t1 += dt;
  }
  // Time at pixel x of a plot `width` pixels wide, and back.
  double TimeAt(double x, int pixels) const { return t0 + x * width() / pixels; }
  double XOf(double t, int pixels) const { return (t - t0) * pixels / width(); }
};

// One pixel column of a decimated channel.
struct DecimatedColumn {
  bool has_samples = false;  // some sample falls into the column
  double first = 0;          // value of the column's first sample
  double last = 0;           // value of its last sample
  double low = 0;            // smallest and largest sample value in the column
  double high = 0;
};

// A channel decimated into `columns` pixel columns over a time span. Column x covers the times
// [t0 + x w, t0 + (x + 1) w) with w = span width / columns; the last column also takes t1.
struct Decimation {
  std::vector<DecimatedColumn> columns;
  // The value held at t0 (the last sample before it); none before the channel's first sample.
  std::optional<double> entering;
  // The first column at which the channel has a value (entering or a sample); columns.size()
  // when it has none in the span: the stretch before it is left blank.
  std::size_t first_valid = 0;
};

// Min/max per pixel column from the raw samples: every sample in the span counts, so no spike is
// lost at any zoom. Cost: two binary searches plus the samples inside the span.
Decimation Decimate(std::span<const double> t, std::span<const double> v, const TimeSpan& span,
                    int columns);

// The value in effect at time `at`: the last sample at or before it (sample and hold); none
// before the first sample.
std::optional<double> ValueAt(std::span<const double> t, std::span<const double> v, double at);

// Smallest and largest value a channel shows in a span (the held value entering it included);
// false when it shows none.
bool VisibleRange(std::span<const double> t, std::span<const double> v, const TimeSpan& span,
                  double* low, double* high);

// Axis ticks at "nice" numbers (1, 2 or 5 times a power of ten) inside [low, high], about
// `target` of them (at least 2 where the range allows).
struct AxisTicks {
  double step = 1;
  std::vector<double> values;
};
AxisTicks NiceTicks(double low, double high, int target);

// Widens an empty or degenerate value range so that it can be drawn ([v - 1, v + 1] for a
// constant v) and adds a small margin above and below.
void PadRange(double* low, double* high);

// Text of a value tick with as many decimals as the step needs ("0.25", "1500", "-2").
std::string TickText(double value, double step);

// Texts of the time axis: seconds since the start ("12.5 s" style without the unit, decimals
// by the step), or the absolute date and time (start + t): "hh:mm:ss" for steps of a second and
// more, "hh:mm:ss.ss" below, with the date before it when `with_date`.
enum class TimeAxisMode { kSeconds, kDateTime };
std::string TimeTickText(double t, double step, TimeAxisMode mode, double start, bool with_date);

// Cursor readout of one value: "%g"-like with up to 6 significant digits, independent of the
// process locale.
std::string ValueText(double value);

// The value-table text of a state signal's value (a value within a millionth of the value step of
// a text's value), or null when the value has none.
const std::string* StateTextOf(const ViewerChannel& channel, double value);

// Cursor readout of a channel's value: "3 (Drive)" when its value table has a text for it,
// else the value alone (ValueText).
std::string ReadoutText(const ViewerChannel& channel, double value);

// Ticks of a state signal's y axis: the values of its texts inside [low, high], in ascending
// order, leaving out a text closer than `min_gap` (in value units, the height of a text line) to
// the previous one kept.
struct StateTick {
  double value = 0;
  std::string text;
};
std::vector<StateTick> StateTicks(std::span<const StateText> states, double low, double high,
                                  double min_gap);
// The whole axis of a state signal: its texts, and between them the numbers of `numbers` that
// keep `min_gap` from every text (values without a text still get a scale), ascending.
std::vector<StateTick> StateAxisTicks(std::span<const StateText> states, double low, double high,
                                      double min_gap, const AxisTicks& numbers);

// Whether a channel matches the filter text: empty matches all; text with '*' or '?' is a
// wildcard pattern over name, unit and message ("Temp*"), other text is searched in them
// without regard to case.
bool ChannelMatches(const ViewerChannel& channel, std::string_view filter);

// Distinct line colours (RGB) for the channels of a plot, in the order they are used.
std::uint32_t ViewerColour(int index);

}  // namespace tessmar
