#pragma once
// The graph preview's model: a ring buffer of converted Signals rows, the per-channel ranges,
// names and visibility, the display position and marker, and the plan of which pixel columns a
// drawing must touch. The window (preview/graph_preview_form.h) only draws what this model says.
//
// Adding a sample never draws: it widens the dirty range of slots. Update() turns the dirty
// range, the scroll position and the redraw requests into a GraphDrawPlan.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "logfile/channel_value.h"
#include "preview_model/plot_model.h"

namespace tessmar {

inline constexpr int kGraphMaxChannels = 32;      // value channels 1..32; channel 0 is the time
inline constexpr int kGraphMaxCapacity = 100000;  // ring buffer slots
inline constexpr std::size_t kGraphNameLength = 80;
inline constexpr int kGraphLegendRowHeight = 16;
inline constexpr std::uint32_t kGraphMarkerColour = 0x808080;

// Line colours (RGB), channel 0 first: black for the time, then the signal viewer's palette of
// clearly distinct hues.
extern const std::array<std::uint32_t, kGraphMaxChannels + 1> kGraphChannelColours;

// What one drawing must do, in pixel columns of the preview image.
struct GraphDrawPlan {
  bool full = false;  // redraw every column (x0 = 0, x1 = width - 1)
  int shift = 0;      // first move the existing picture this many columns to the left
  int x0 = 0;         // columns to draw; none when x1 < x0
  int x1 = -1;
  bool legend = false;  // redraw the legend
  bool empty() const { return x1 < x0 && !legend; }
};

class GraphPreviewModel {
 public:
  GraphPreviewModel();

  // Starts a new preview: channel count limited to 0..32, capacity outside 0..100000 becomes
  // 100000. The buffer is allocated anew when its size changes; when that fails the capacity
  // becomes 0 and samples are refused. Clears every sample, the ranges of channels 0..31, the
  // write position, marker and display start; every channel becomes visible. The time range is
  // kept. Returns false when the buffer could not be allocated.
  bool Reset(int channel_count, std::int64_t capacity);

  // Channels 0..31; anything else is ignored. Names are cut to 80 characters.
  void SetChannelName(int channel, std::string_view name);
  // Unit of channels 1..32 for the y axis and the value readout.
  void SetChannelUnit(int channel, std::string_view unit);
  // Stores each bound that is not kRangeUnset; a change requests a full redraw.
  void SetChannelRange(int channel, double minimum, double maximum);

  // Stores one row (t in seconds of the running clock, absolute time in seconds since 1970) with
  // the scaled values of the first channel_count columns. False when there is no buffer.
  bool AddSample(double t, double absolute_time, std::span<const ChannelValue> values);

  // Plans a drawing of an image `width` columns wide. With follow, the newest sample moves to
  // the right edge; the picture is shifted rather than redrawn when that is enough. Clears the
  // dirty range and the redraw requests.
  GraphDrawPlan Update(bool follow, int width);

  // Marks the filled slot whose absolute time is nearest (the first one on ties), scrolling it
  // into view, and plans the drawing. Nothing happens when the buffer is empty.
  GraphDrawPlan MarkTime(double absolute_time, int width);

  // Navigation ("<<", ">>", ">" and the scroll bar). Each requests a full redraw.
  void GoOldest();
  void GoNewest(int width);
  void GoNext(int width);
  void ScrollTo(int position, int width);
  // Range of the scroll bar: 0 .. ScrollMaximum(width); hidden when it is not positive.
  int ScrollMaximum(int width) const;
  int scroll_position() const { return scroll_position_; }

  // Legend clicks and picture resizes.
  void ToggleVisible(int channel);
  void RequestFullRedraw() { full_redraw_ = legend_redraw_ = true; }

  // Vertical pixel position of value v of a channel in an image h pixels high.
  int Y(int channel, double v, int h) const;
  // Slot shown in pixel column x, and whether that slot holds a sample.
  int SlotOfColumn(int x) const;
  bool SlotFilled(int slot) const;
  // Channel 0 is the time t.
  double Value(int slot, int channel) const;
  double AbsoluteTime(int slot) const;

  // Texts of the window.
  std::string LegendText(int channel) const;  // "+ Time", " - Channel 3"
  std::string RangeText(int channel) const;   // "%s : %g ... %g"
  std::string OldestText() const;             // info line after "<<"
  std::string SampleIndexText() const;        // "#" display start
  std::string InfoText() const;               // "@%d: ti=%lg Ch%d=%lg"
  // The y axis of the selected channel in an image h pixels high: ticks at nice values of its
  // range, about one per 40 pixels (none when the channel is hidden or has no range).
  AxisTicks SelectedTicks(int h) const;
  // Value readout of the selected channel in pixel column x: "EngineSpeed = 1500 rpm"; empty
  // when the column shows no sample or the channel is hidden.
  std::string ReadoutText(int x) const;

  int channel_count() const { return channel_count_; }
  int capacity() const { return capacity_; }
  int filled() const { return filled_; }
  int write_index() const { return write_index_; }
  bool wrapped() const { return capacity_ > 0 && filled_ == capacity_; }
  int display_start() const { return display_start_; }
  int marker() const { return marker_; }
  bool visible(int channel) const;
  const std::string& name(int channel) const { return names_[ClampChannel(channel)]; }
  const std::string& unit(int channel) const { return units_[ClampChannel(channel)]; }
  int selected_channel() const { return selected_channel_; }
  void set_selected_channel(int channel);
  double time_min() const { return time_min_; }
  double time_max() const { return time_max_; }
  // Minimum and maximum a channel is drawn with (the time range for channel 0).
  double RangeMin(int channel) const;
  double RangeMax(int channel) const;

 private:
  static int ClampChannel(int c) {
    return c < 0 ? 0 : (c > kGraphMaxChannels ? kGraphMaxChannels : c);
  }
  int Wrap(std::int64_t slot) const;
  int Age(int slot) const;  // 0 = oldest sample
  int SlotOfAge(int age) const;
  void SyncScrollPosition(int width);
  void AddDirtyColumns(GraphDrawPlan& plan, int width) const;

  int channel_count_ = 0;
  int capacity_ = 0;
  int stride_ = 2;               // doubles per slot: t, absolute time, values
  std::vector<double> samples_;  // capacity_ * stride_
  int write_index_ = 0;
  int filled_ = 0;
  int display_start_ = 0;
  int marker_ = -1;
  int scroll_position_ = 0;
  std::array<float, kGraphMaxChannels + 1> min_{};
  std::array<float, kGraphMaxChannels + 1> max_{};
  double time_min_ = -1.0;
  double time_max_ = 0.0;
  std::array<bool, kGraphMaxChannels + 1> visible_{};
  std::array<std::string, kGraphMaxChannels + 1> names_;
  std::array<std::string, kGraphMaxChannels + 1> units_;
  int selected_channel_ = 1;
  int dirty_first_ = -1;  // -1: nothing changed since the last drawing
  int dirty_last_ = -1;
  bool full_redraw_ = true;
  bool legend_redraw_ = true;
};

}  // namespace tessmar
