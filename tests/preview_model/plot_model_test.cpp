#include "preview_model/plot_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "preview_model/recording_samples.h"

namespace tessmar {
namespace {

// ---- Decimation --------------------------------------------------------------------------------

TEST(PlotDecimation, KeepsEverySpikeAtAnyZoom) {
  // 1,000,000 samples of a small sine, with one narrow spike up and one down.
  std::vector<double> t(1'000'000), v(t.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    t[i] = static_cast<double>(i) * 0.001;
    v[i] = std::sin(static_cast<double>(i) * 0.01);
  }
  v[123'457] = 50;
  v[876'543] = -70;
  for (const TimeSpan span : {TimeSpan{0, 1000}, TimeSpan{100, 200}, TimeSpan{123.4, 123.5},
                              TimeSpan{876.5, 876.6}, TimeSpan{-10, 2000}}) {
    for (const int width : {1, 37, 800}) {
      const Decimation d = Decimate(t, v, span, width);
      ASSERT_EQ(d.columns.size(), static_cast<std::size_t>(width));
      double high = -1e300, low = 1e300;
      std::size_t samples = 0;
      for (const DecimatedColumn& c : d.columns) {
        if (!c.has_samples) continue;
        high = std::max(high, c.high);
        low = std::min(low, c.low);
      }
      double want_high = -1e300, want_low = 1e300;
      for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] < span.t0 || t[i] > span.t1) continue;
        ++samples;
        want_high = std::max(want_high, v[i]);
        want_low = std::min(want_low, v[i]);
      }
      ASSERT_GT(samples, 0u);
      EXPECT_EQ(high, want_high) << span.t0 << ".." << span.t1 << " width " << width;
      EXPECT_EQ(low, want_low) << span.t0 << ".." << span.t1 << " width " << width;
    }
  }
}

TEST(PlotDecimation, HoldsTheValueEnteringAndLeavesTheStretchBeforeTheFirstBlank) {
  const std::vector<double> t = {2.0, 2.2, 7.0}, v = {1, 3, 5};
  // Before the first sample the columns stay blank.
  Decimation d = Decimate(t, v, TimeSpan{0, 10}, 10);
  EXPECT_FALSE(d.entering.has_value());
  EXPECT_EQ(d.first_valid, 2u);
  EXPECT_TRUE(d.columns[2].has_samples);
  EXPECT_EQ(d.columns[2].first, 1);
  EXPECT_EQ(d.columns[2].last, 3);
  EXPECT_FALSE(d.columns[3].has_samples);
  // Zoomed between two samples: no sample in view, but the held value is drawn from column 0.
  d = Decimate(t, v, TimeSpan{3, 4}, 10);
  ASSERT_TRUE(d.entering.has_value());
  EXPECT_EQ(*d.entering, 3);
  EXPECT_EQ(d.first_valid, 0u);
  // The span's end belongs to the last column.
  d = Decimate(t, v, TimeSpan{6, 7}, 4);
  EXPECT_TRUE(d.columns[3].has_samples);
  EXPECT_EQ(d.columns[3].high, 5);
}

TEST(PlotCursor, SampleAndHoldLookUpAndVisibleRange) {
  const std::vector<double> t = {1.0, 2.0, 2.0, 4.0}, v = {10, 20, 25, 40};
  EXPECT_FALSE(ValueAt(t, v, 0.5).has_value());
  EXPECT_EQ(*ValueAt(t, v, 1.0), 10);
  EXPECT_EQ(*ValueAt(t, v, 2.0), 25);  // the last of equal times
  EXPECT_EQ(*ValueAt(t, v, 3.99), 25);
  EXPECT_EQ(*ValueAt(t, v, 100), 40);
  double low = 0, high = 0;
  ASSERT_TRUE(VisibleRange(t, v, TimeSpan{2.5, 3.5}, &low, &high));  // only the held value
  EXPECT_EQ(low, 25);
  EXPECT_EQ(high, 25);
  ASSERT_TRUE(VisibleRange(t, v, TimeSpan{1.5, 5}, &low, &high));
  EXPECT_EQ(low, 10);
  EXPECT_EQ(high, 40);
  EXPECT_FALSE(VisibleRange(t, v, TimeSpan{0, 0.5}, &low, &high));
}

TEST(PlotSpan, ZoomKeepsTheAnchorAndPanMoves) {
  TimeSpan s{0, 100};
  s.Zoom(0.5, 80);
  EXPECT_DOUBLE_EQ(s.t0, 40);
  EXPECT_DOUBLE_EQ(s.t1, 90);
  EXPECT_DOUBLE_EQ(s.XOf(80, 500), 400);
  s.Zoom(1e-12, 50);
  EXPECT_NEAR(s.width(), 1e-6, 1e-12);
}

// ---- Axes --------------------------------------------------------------------------------------

TEST(PlotAxis, TicksAtNiceNumbersInsideTheRange) {
  AxisTicks k = NiceTicks(0, 97, 5);
  EXPECT_EQ(k.step, 20);
  EXPECT_EQ(k.values, (std::vector<double>{0, 20, 40, 60, 80}));
  k = NiceTicks(-0.013, 0.042, 5);
  EXPECT_DOUBLE_EQ(k.step, 0.02);
  ASSERT_EQ(k.values.size(), 3u);
  EXPECT_EQ(k.values[0], 0.0);
  EXPECT_DOUBLE_EQ(k.values[2], 0.04);
  EXPECT_EQ(TickText(k.values[0], k.step), "0.00");
  EXPECT_EQ(TickText(-0.0001, 0.01), "0.00");  // no "-0.00"
  EXPECT_EQ(TickText(0.25, 0.05), "0.25");
  EXPECT_EQ(TickText(-1500, 500), "-1500");
  k = NiceTicks(1e6, 1e6 + 3, 4);
  EXPECT_EQ(k.step, 1);
  EXPECT_TRUE(NiceTicks(5, 5, 4).values.empty());
  double low = 5, high = 5;
  PadRange(&low, &high);
  EXPECT_EQ(low, 4);
  EXPECT_EQ(high, 6);
}

TEST(PlotAxis, TimeTextsInSecondsOrDateTime) {
  EXPECT_EQ(TimeTickText(12.5, 0.5, TimeAxisMode::kSeconds, 0, false), "12.5");
  const double start = 1777881600;  // 2026-05-04 08:00:00
  EXPECT_EQ(TimeTickText(61, 10, TimeAxisMode::kDateTime, start, false), "08:01:01");
  EXPECT_EQ(TimeTickText(1.25, 0.25, TimeAxisMode::kDateTime, start, false), "08:00:01.25");
  EXPECT_EQ(TimeTickText(0, 1, TimeAxisMode::kDateTime, start, true), "2026-05-04 08:00:00");
  EXPECT_EQ(ValueText(0.1), "0.1");
  EXPECT_EQ(ValueText(1234567), "1.23457e+06");
}

// A state signal with factor 0.1: its texts sit at the scaled raw values, which the decoder's
// arithmetic gives only up to rounding (3 x 0.1 is not 0.3).
TEST(PlotAxis, StateTextsAtTheirValuesInReadoutAndTicks) {
  ViewerChannel gear;
  for (int raw : {0, 1, 2, 3, 15}) {
    static const char* const kNames[] = {"Park", "Reverse", "Neutral", "Drive"};
    gear.states.push_back({raw * 0.1, raw == 15 ? "Invalid" : kNames[raw]});
  }
  EXPECT_EQ(ReadoutText(gear, 3 * 0.1), "0.3 (Drive)");
  EXPECT_EQ(ReadoutText(gear, 0.3), "0.3 (Drive)");
  EXPECT_EQ(ReadoutText(gear, 0.0), "0 (Park)");
  EXPECT_EQ(ReadoutText(gear, 1.5), "1.5 (Invalid)");
  EXPECT_EQ(ReadoutText(gear, 0.4), "0.4");
  EXPECT_EQ(ReadoutText(gear, 0.25), "0.25");
  EXPECT_EQ(ReadoutText(ViewerChannel{}, 2), "2");

  auto texts = [](const std::vector<StateTick>& ticks) {
    std::vector<std::string> t;
    for (const StateTick& k : ticks) t.push_back(k.text);
    return t;
  };
  EXPECT_EQ(texts(StateTicks(gear.states, -0.05, 0.35, 0.01)),
            (std::vector<std::string>{"Park", "Reverse", "Neutral", "Drive"}));
  // Lines closer than a text's height: every other text stays.
  EXPECT_EQ(texts(StateTicks(gear.states, -1, 2, 0.15)),
            (std::vector<std::string>{"Park", "Neutral", "Invalid"}));
  // Numbers fill the axis where no text is near.
  EXPECT_EQ(texts(StateAxisTicks(gear.states, -1, 2, 0.15, NiceTicks(-1, 2, 6))),
            (std::vector<std::string>{"-1.0", "-0.5", "Park", "Neutral", "0.5", "1.0", "Invalid",
                                      "2.0"}));
}

TEST(PlotChannels, FilterByTextOrWildcardOverNameUnitAndMessage) {
  ViewerChannel c;
  c.name = "MotorTemp";
  c.unit = "degC";
  c.message = "0x110";
  EXPECT_TRUE(ChannelMatches(c, ""));
  EXPECT_TRUE(ChannelMatches(c, "temp"));
  EXPECT_TRUE(ChannelMatches(c, "Motor*"));
  EXPECT_TRUE(ChannelMatches(c, "DEGC"));
  EXPECT_TRUE(ChannelMatches(c, "0x11?"));
  EXPECT_FALSE(ChannelMatches(c, "Pack"));
  EXPECT_FALSE(ChannelMatches(c, "Pack*"));
  EXPECT_NE(ViewerColour(0), ViewerColour(1));
}

}  // namespace
}  // namespace tessmar
