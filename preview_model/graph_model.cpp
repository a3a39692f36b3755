#include "preview_model/graph_model.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "common/message_output.h"

namespace tessmar {

const std::array<std::uint32_t, kGraphMaxChannels + 1> kGraphChannelColours = [] {
  std::array<std::uint32_t, kGraphMaxChannels + 1> colours{};
  colours[0] = 0x000000;
  for (int c = 1; c <= kGraphMaxChannels; ++c) colours[std::size_t(c)] = ViewerColour(c - 1);
  return colours;
}();

GraphPreviewModel::GraphPreviewModel() {
  visible_.fill(true);
  names_[0] = "Time";
  for (int c = 1; c <= kGraphMaxChannels; ++c) names_[c] = StrPrintf("Channel %d", c);
}

bool GraphPreviewModel::Reset(int channel_count, std::int64_t capacity) {
  channel_count_ = std::clamp(channel_count, 0, kGraphMaxChannels);
  if (capacity < 0 || capacity > kGraphMaxCapacity) capacity = kGraphMaxCapacity;
  const int stride = channel_count_ + 2;
  bool ok = true;
  if (capacity != capacity_ || stride != stride_) {
    std::vector<double>().swap(samples_);
    try {
      samples_.assign(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(stride), 0.0);
      capacity_ = static_cast<int>(capacity);
      stride_ = stride;
    } catch (const std::bad_alloc&) {
      capacity_ = 0;
      ok = false;
    }
  } else {
    std::fill(samples_.begin(), samples_.end(), 0.0);
  }
  for (int c = 0; c < kGraphMaxChannels; ++c) min_[c] = max_[c] = 0.0f;
  visible_.fill(true);
  units_.fill({});
  write_index_ = filled_ = display_start_ = scroll_position_ = 0;
  marker_ = -1;
  dirty_first_ = dirty_last_ = -1;
  full_redraw_ = legend_redraw_ = true;
  return ok;
}

void GraphPreviewModel::SetChannelName(int channel, std::string_view name) {
  if (channel < 0 || channel >= kGraphMaxChannels) return;
  names_[channel] = std::string(name.substr(0, kGraphNameLength));
  legend_redraw_ = true;
}

void GraphPreviewModel::SetChannelUnit(int channel, std::string_view unit) {
  if (channel < 1 || channel > kGraphMaxChannels) return;
  units_[std::size_t(channel)] = std::string(unit.substr(0, kGraphNameLength));
  legend_redraw_ = true;
}

AxisTicks GraphPreviewModel::SelectedTicks(int h) const {
  const int c = selected_channel_;
  if (c < 1 || c > channel_count_ || !visible(c) || !(RangeMax(c) > RangeMin(c))) return {1, {}};
  return NiceTicks(RangeMin(c), RangeMax(c), std::max(2, h / 40));
}

std::string GraphPreviewModel::ReadoutText(int x) const {
  const int c = selected_channel_;
  const int slot = SlotOfColumn(x);
  if (c < 1 || c > channel_count_ || !visible(c) || !SlotFilled(slot)) return {};
  std::string text = names_[std::size_t(c)] + " = " + ValueText(Value(slot, c));
  if (!units_[std::size_t(c)].empty()) text += " " + units_[std::size_t(c)];
  return text;
}

void GraphPreviewModel::SetChannelRange(int channel, double minimum, double maximum) {
  if (channel < 0 || channel >= kGraphMaxChannels) return;
  const float old_min = min_[channel], old_max = max_[channel];
  if (minimum != kRangeUnset) min_[channel] = static_cast<float>(minimum);
  if (maximum != kRangeUnset) max_[channel] = static_cast<float>(maximum);
  if (min_[channel] != old_min || max_[channel] != old_max) full_redraw_ = true;
}

bool GraphPreviewModel::AddSample(double t, double absolute_time,
                                  std::span<const ChannelValue> values) {
  if (capacity_ <= 0) return false;
  if (write_index_ >= capacity_) write_index_ = 0;
  double* s = &samples_[static_cast<std::size_t>(write_index_) * static_cast<std::size_t>(stride_)];
  s[0] = t;
  s[1] = absolute_time;
  const int n = std::min<int>(channel_count_, static_cast<int>(values.size()));
  for (int i = 0; i < n; ++i) s[2 + i] = values[static_cast<std::size_t>(i)].scaled;
  for (int i = n; i < channel_count_; ++i) s[2 + i] = 0.0;
  if (t > time_max_) {
    time_max_ = t * 1.5;
    full_redraw_ = true;
  }
  if (time_min_ == -1.0 || t < time_min_) {
    time_min_ = t;
    full_redraw_ = true;
  }
  if (dirty_first_ < 0) dirty_first_ = write_index_;
  dirty_last_ = write_index_;
  if (++write_index_ >= capacity_) write_index_ = 0;
  if (filled_ < capacity_) ++filled_;
  return true;
}

int GraphPreviewModel::Wrap(std::int64_t slot) const {
  if (capacity_ <= 0) return 0;
  std::int64_t r = slot % capacity_;
  if (r < 0) r += capacity_;
  return static_cast<int>(r);
}

int GraphPreviewModel::Age(int slot) const {
  return wrapped() ? Wrap(std::int64_t{slot} - write_index_) : slot;
}

int GraphPreviewModel::SlotOfAge(int age) const {
  return wrapped() ? Wrap(std::int64_t{write_index_} + age) : age;
}

int GraphPreviewModel::ScrollMaximum(int width) const { return capacity_ - width; }

void GraphPreviewModel::SyncScrollPosition(int width) {
  const int maximum = ScrollMaximum(width);
  scroll_position_ = std::clamp(Age(display_start_) - (wrapped() ? 1 : 0), 0, std::max(0, maximum));
}

void GraphPreviewModel::AddDirtyColumns(GraphDrawPlan& plan, int width) const {
  if (dirty_first_ < 0 || capacity_ <= 0) return;
  const int count = Wrap(std::int64_t{dirty_last_} - dirty_first_) + 1;
  int x0 = Wrap(std::int64_t{dirty_first_} - display_start_);
  int x1 = x0 + count - 1;
  if (x1 >= capacity_) {  // the changed slots run across the display start
    plan.full = true;
    return;
  }
  if (x0 > 0) --x0;  // the line into the first changed column starts one column earlier
  x1 = std::min(x1, width - 1);
  if (x0 > x1) return;
  if (plan.x1 < plan.x0) {
    plan.x0 = x0;
    plan.x1 = x1;
  } else {
    plan.x0 = std::min(plan.x0, x0);
    plan.x1 = std::max(plan.x1, x1);
  }
}

GraphDrawPlan GraphPreviewModel::Update(bool follow, int width) {
  GraphDrawPlan plan;
  if (width > 0 && capacity_ > 0) {
    if (follow) {
      const int old_start = display_start_;
      display_start_ =
          wrapped() ? Wrap(std::int64_t{write_index_} - width) : std::max(0, filled_ - width);
      scroll_position_ = std::clamp(filled_ - width, 0, std::max(0, ScrollMaximum(width)));
      if (display_start_ != old_start) {
        const int delta = Wrap(std::int64_t{display_start_} - old_start);
        if (delta < width) {
          plan.shift = delta;
        } else {
          full_redraw_ = true;
        }
      }
    }
    if (full_redraw_) {
      plan.full = true;
      plan.shift = 0;
    } else {
      AddDirtyColumns(plan, width);
      if (plan.shift > 0 && !plan.full) {
        // The columns uncovered by the shift, and the one before them for the joining line.
        const int first_new = std::max(0, width - plan.shift - 1);
        plan.x0 = plan.x1 < plan.x0 ? first_new : std::min(plan.x0, first_new);
        plan.x1 = width - 1;
      }
    }
    if (plan.full) {
      plan.x0 = 0;
      plan.x1 = width - 1;
    }
  }
  plan.legend = legend_redraw_;
  dirty_first_ = dirty_last_ = -1;
  full_redraw_ = legend_redraw_ = false;
  return plan;
}

GraphDrawPlan GraphPreviewModel::MarkTime(double absolute_time, int width) {
  if (filled_ <= 0 || capacity_ <= 0) return GraphDrawPlan{};
  int best = -1;
  double best_distance = 0;
  for (int age = 0; age < filled_; ++age) {
    const int slot = SlotOfAge(age);
    const double d = std::fabs(absolute_time - AbsoluteTime(slot));
    if (best < 0 || d < best_distance) {
      best = slot;
      best_distance = d;
    }
  }
  const int old_marker = marker_;
  marker_ = best;
  const int age = Age(best);
  const int start_age = Age(display_start_);
  GraphDrawPlan columns;
  if (age < start_age) {
    display_start_ = best;
    full_redraw_ = true;
  } else if (age >= start_age + width) {
    // The marked sample lands in the rightmost column.
    display_start_ = SlotOfAge(std::max(0, age - width + 1));
    full_redraw_ = true;
  } else {
    for (int m : {old_marker, best}) {
      if (m < 0) continue;
      const int x = Wrap(std::int64_t{m} - display_start_);
      if (x >= width) continue;
      if (columns.x1 < columns.x0) {
        columns.x0 = columns.x1 = x;
      } else {
        columns.x0 = std::min(columns.x0, x);
        columns.x1 = std::max(columns.x1, x);
      }
    }
  }
  SyncScrollPosition(width);
  GraphDrawPlan plan = Update(false, width);
  if (!plan.full && columns.x1 >= columns.x0) {
    plan.x0 = plan.x1 < plan.x0 ? columns.x0 : std::min(plan.x0, columns.x0);
    plan.x1 = std::max(plan.x1, columns.x1);
  }
  return plan;
}

void GraphPreviewModel::GoOldest() {
  display_start_ = wrapped() ? write_index_ : 0;
  scroll_position_ = 0;
  full_redraw_ = true;
}

void GraphPreviewModel::GoNewest(int width) {
  display_start_ =
      wrapped() ? Wrap(std::int64_t{write_index_} - width) : std::max(0, filled_ - width);
  scroll_position_ = std::max(0, ScrollMaximum(width));
  full_redraw_ = true;
}

void GraphPreviewModel::GoNext(int width) {
  display_start_ = Wrap(std::int64_t{display_start_} + width);
  scroll_position_ = std::clamp(filled_ - width, 0, std::max(0, ScrollMaximum(width)));
  full_redraw_ = true;
}

void GraphPreviewModel::ScrollTo(int position, int width) {
  if (capacity_ <= 0) return;
  const int maximum = ScrollMaximum(width);
  position = std::clamp(position, 0, std::max(0, maximum));
  if (!wrapped()) {
    display_start_ = position;
  } else if (maximum > 0) {
    const std::int64_t offset =
        static_cast<std::int64_t>(static_cast<double>(filled_ - width) * position / maximum);
    display_start_ = Wrap(std::int64_t{write_index_} + 1 + offset);
  }
  scroll_position_ = position;
  full_redraw_ = true;
}

void GraphPreviewModel::ToggleVisible(int channel) {
  if (channel < 0 || channel > channel_count_) return;
  visible_[channel] = !visible_[channel];
  full_redraw_ = legend_redraw_ = true;
}

bool GraphPreviewModel::visible(int channel) const {
  return channel >= 0 && channel <= kGraphMaxChannels && visible_[channel];
}

void GraphPreviewModel::set_selected_channel(int channel) {
  selected_channel_ = ClampChannel(channel);
}

double GraphPreviewModel::RangeMin(int channel) const {
  return channel == 0 ? time_min_ : min_[ClampChannel(channel)];
}

double GraphPreviewModel::RangeMax(int channel) const {
  return channel == 0 ? time_max_ : max_[ClampChannel(channel)];
}

int GraphPreviewModel::Y(int channel, double v, int h) const {
  const double lo = RangeMin(channel), hi = RangeMax(channel);
  if (!(hi - lo > 0) || h <= 0) return 0;
  const double f = 1.0 - (v - lo) / (hi - lo);
  const double y = channel_count_ < h ? f * (h - channel_count_) + channel : f * h;
  if (!(y >= 0)) return 0;  // negative or not a number
  if (y >= h) return h - 1;
  return static_cast<int>(y);
}

int GraphPreviewModel::SlotOfColumn(int x) const { return Wrap(std::int64_t{display_start_} + x); }

bool GraphPreviewModel::SlotFilled(int slot) const {
  return slot >= 0 && slot < capacity_ && (wrapped() || slot < filled_);
}

double GraphPreviewModel::Value(int slot, int channel) const {
  if (slot < 0 || slot >= capacity_ || channel < 0 || channel > channel_count_) return 0.0;
  const std::size_t base = static_cast<std::size_t>(slot) * static_cast<std::size_t>(stride_);
  return channel == 0 ? samples_[base] : samples_[base + 1 + static_cast<std::size_t>(channel)];
}

double GraphPreviewModel::AbsoluteTime(int slot) const {
  if (slot < 0 || slot >= capacity_) return 0.0;
  return samples_[static_cast<std::size_t>(slot) * static_cast<std::size_t>(stride_) + 1];
}

std::string GraphPreviewModel::LegendText(int channel) const {
  return StrPrintf("%s %s", visible(channel) ? "+" : " -", name(channel).c_str());
}

std::string GraphPreviewModel::RangeText(int channel) const {
  return StrPrintf("%s : %g ... %g", name(channel).c_str(), RangeMin(channel), RangeMax(channel));
}

std::string GraphPreviewModel::OldestText() const {
  return StrPrintf("POS1 buffer index=%d ,  PlotIndexIn=%d", display_start_, write_index_);
}

std::string GraphPreviewModel::SampleIndexText() const {
  return StrPrintf("#%d", Wrap(display_start_));
}

std::string GraphPreviewModel::InfoText() const {
  const int slot = Wrap(display_start_);
  return StrPrintf("@%d: ti=%lg Ch%d=%lg", slot, Value(slot, 0), selected_channel_,
                   Value(slot, selected_channel_));
}

}  // namespace tessmar
