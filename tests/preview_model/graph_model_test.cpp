#include "preview_model/graph_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessmar {
namespace {

std::vector<ChannelValue> Values(std::initializer_list<double> scaled) {
  std::vector<ChannelValue> v;
  for (double s : scaled) {
    ChannelValue c;
    c.valid = true;
    c.scaled = s;
    v.push_back(c);
  }
  return v;
}

// Adds samples with t = i and absolute time 1000 + i for i in [from, to).
void Fill(GraphPreviewModel& m, int from, int to) {
  for (int i = from; i < to; ++i) {
    ASSERT_TRUE(m.AddSample(i, 1000.0 + i, Values({double(i), -double(i)})));
  }
}

// ---- Ring buffer -------------------------------------------------------------------------------

TEST(GraphModel, ResetLimitsAndKeepsTimeRange) {
  GraphPreviewModel m;
  m.Reset(40, -5);
  EXPECT_EQ(m.channel_count(), 32);
  EXPECT_EQ(m.capacity(), kGraphMaxCapacity);
  m.Reset(2, 100);
  Fill(m, 0, 3);
  m.SetChannelRange(1, 0, 5);
  m.Reset(2, 100);
  EXPECT_EQ(m.filled(), 0);
  EXPECT_EQ(m.RangeMax(1), 0);  // value ranges cleared
  EXPECT_EQ(m.time_min(), 0);   // the time range survives
  EXPECT_EQ(m.time_max(), 3.0);
  EXPECT_EQ(m.name(0), "Time");
  EXPECT_EQ(m.name(2), "Channel 2");
}

TEST(GraphModel, TimeMaximumGrowsByHalfWhenExceeded) {
  GraphPreviewModel m;
  m.Reset(1, 10);
  ASSERT_TRUE(m.AddSample(8.0 / 1.5, 0, Values({0})));
  EXPECT_DOUBLE_EQ(m.time_max(), 8.0);
  m.Update(false, 10);
  ASSERT_TRUE(m.AddSample(10, 0, Values({0})));
  EXPECT_DOUBLE_EQ(m.time_max(), 15.0);
  EXPECT_TRUE(m.Update(false, 10).full);  // a new time range redraws everything
  ASSERT_TRUE(m.AddSample(12, 0, Values({0})));
  EXPECT_DOUBLE_EQ(m.time_max(), 15.0);
}

TEST(GraphModel, WrapOverwritesOldestAndOldestButtonStartsThere) {
  GraphPreviewModel m;
  m.Reset(2, 5);
  Fill(m, 0, 7);  // slots hold 5, 6, 2, 3, 4
  EXPECT_TRUE(m.wrapped());
  EXPECT_EQ(m.filled(), 5);
  EXPECT_EQ(m.write_index(), 2);
  EXPECT_EQ(m.Value(0, 0), 5.0);
  EXPECT_EQ(m.Value(1, 2), -6.0);
  m.GoOldest();
  EXPECT_EQ(m.display_start(), 2);
  EXPECT_EQ(m.Value(m.SlotOfColumn(0), 1), 2.0);
  EXPECT_EQ(m.Value(m.SlotOfColumn(4), 1), 6.0);
  EXPECT_EQ(m.OldestText(), "POS1 buffer index=2 ,  PlotIndexIn=2");
}

TEST(GraphModel, SamplesRefusedWithoutBufferAndChannelsOutOfRangeIgnored) {
  GraphPreviewModel m;
  m.Reset(2, 0);
  EXPECT_FALSE(m.AddSample(1, 1, Values({1, 2})));
  m.Reset(2, 4);
  m.SetChannelName(32, "x");
  m.SetChannelName(-1, "x");
  m.SetChannelRange(40, 1, 2);
  m.SetChannelName(1, std::string(100, 'n'));
  EXPECT_EQ(m.name(1).size(), kGraphNameLength);
  EXPECT_EQ(m.name(32), "Channel 32");
  m.SetChannelRange(1, kRangeUnset, 7);  // only the set bound is stored
  EXPECT_EQ(m.RangeMin(1), 0);
  EXPECT_EQ(m.RangeMax(1), 7);
  // More values than channels: the extra ones are dropped.
  EXPECT_TRUE(m.AddSample(1, 1, Values({1, 2, 3, 4})));
  EXPECT_EQ(m.Value(0, 3), 0.0);
}

// ---- Vertical position ------------------------------------------------------------------------

TEST(GraphModel, VerticalPosition) {
  GraphPreviewModel m;
  m.Reset(4, 10);
  for (int c = 1; c <= 4; ++c) m.SetChannelRange(c, -10, 10);
  for (int c = 1; c <= 3; ++c) EXPECT_EQ(m.Y(c, -10, 200), 196 + c);
  EXPECT_EQ(m.Y(4, -10, 200), 199);  // 200 lies below the image
  EXPECT_EQ(m.Y(1, 10, 200), 1);
  EXPECT_EQ(m.Y(2, 0, 200), 98 + 2);
  EXPECT_EQ(m.Y(1, 1e9, 200), 0);     // above the range: top edge
  EXPECT_EQ(m.Y(2, -1e9, 200), 199);  // below: bottom edge
  // Equal minimum and maximum: along the top edge.
  m.SetChannelRange(3, 5, 5);
  EXPECT_EQ(m.Y(3, 5, 200), 0);
  // More channels than pixel rows: no offset.
  EXPECT_EQ(m.Y(1, -10, 3), 2);
}

// ---- Drawing plans ----------------------------------------------------------------------------

TEST(GraphModel, UpdateDrawsOnlyDirtyColumnsAndShiftsWhenFollowing) {
  GraphPreviewModel m;
  m.Reset(2, 1000);
  Fill(m, 0, 50);
  GraphDrawPlan p = m.Update(true, 100);
  EXPECT_TRUE(p.full);  // first drawing and new time range
  EXPECT_TRUE(p.legend);
  // Times below the maximum add only dirty columns.
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(m.AddSample(1, 1, Values({1, 1})));
  p = m.Update(true, 100);
  EXPECT_FALSE(p.full);
  EXPECT_EQ(p.shift, 0);
  EXPECT_EQ(p.x0, 49);  // the column before the first new one carries the joining line
  EXPECT_EQ(p.x1, 54);
  EXPECT_TRUE(m.Update(true, 100).empty());
  // Past the right edge the picture shifts by the number of new samples.
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(m.AddSample(1, 1, Values({1, 1})));
  p = m.Update(true, 100);
  EXPECT_FALSE(p.full);
  EXPECT_EQ(m.display_start(), 15);
  EXPECT_EQ(p.shift, 15);
  EXPECT_EQ(p.x0, 39);  // slots 55..114 now sit in columns 40..99
  EXPECT_EQ(p.x1, 99);
  EXPECT_EQ(m.scroll_position(), 15);
}

TEST(GraphModel, MarkTimeScrollsIntoViewOrRedrawsMarkerColumns) {
  GraphPreviewModel m;
  m.Reset(2, 1000);
  Fill(m, 0, 500);
  m.Update(true, 100);  // shows slots 400..499
  GraphDrawPlan p = m.MarkTime(1450.2, 100);
  EXPECT_EQ(m.marker(), 450);
  EXPECT_FALSE(p.full);
  EXPECT_EQ(p.x0, 50);
  EXPECT_EQ(p.x1, 50);
  p = m.MarkTime(1460.6, 100);  // between two samples: the nearer one
  EXPECT_EQ(m.marker(), 461);
  EXPECT_EQ(p.x0, 50);
  EXPECT_EQ(p.x1, 61);
  p = m.MarkTime(1010, 100);  // before the display start
  EXPECT_TRUE(p.full);
  EXPECT_EQ(m.display_start(), 10);
  EXPECT_EQ(m.scroll_position(), 10);
  p = m.MarkTime(1300, 100);  // beyond the right edge: shown in the last column
  EXPECT_EQ(m.display_start(), 201);
  EXPECT_EQ(m.SlotOfColumn(99), 300);
  m.MarkTime(-1e12, 100);  // long before the recording: the oldest sample
  EXPECT_EQ(m.marker(), 0);
  GraphPreviewModel empty;
  empty.Reset(1, 10);
  EXPECT_TRUE(empty.MarkTime(5, 100).empty());
  EXPECT_EQ(empty.marker(), -1);
}

TEST(GraphModel, NavigationWrappedAndNot) {
  GraphPreviewModel m;
  m.Reset(2, 300);
  Fill(m, 0, 250);
  EXPECT_EQ(m.ScrollMaximum(100), 200);
  m.GoNewest(100);
  EXPECT_EQ(m.display_start(), 150);
  EXPECT_EQ(m.scroll_position(), 200);
  m.GoNext(100);
  EXPECT_EQ(m.display_start(), 250);
  m.GoNext(100);
  EXPECT_EQ(m.display_start(), 50);  // wrapped modulo the capacity
  m.ScrollTo(30, 100);
  EXPECT_EQ(m.display_start(), 30);
  EXPECT_TRUE(m.Update(false, 100).full);

  Fill(m, 250, 400);  // wrapped: write index 100, oldest sample at slot 100
  m.GoNewest(100);
  EXPECT_EQ(m.display_start(), 0);
  m.ScrollTo(0, 100);
  EXPECT_EQ(m.display_start(), 101);
  m.ScrollTo(200, 100);
  EXPECT_EQ(m.display_start(), (100 + 1 + 200) % 300);
  EXPECT_EQ(m.SampleIndexText(), "#1");
}

TEST(GraphModel, LegendAndInfoTexts) {
  GraphPreviewModel m;
  m.Reset(2, 10);
  m.SetChannelName(1, "EngineSpeed");
  m.SetChannelRange(1, 0, 8000);
  m.ToggleVisible(1);
  EXPECT_EQ(m.LegendText(1), " - EngineSpeed");
  EXPECT_EQ(m.LegendText(0), "+ Time");
  EXPECT_EQ(m.RangeText(1), "EngineSpeed : 0 ... 8000");
  ASSERT_TRUE(m.AddSample(0.25, 1, Values({1500.5, 3})));
  m.set_selected_channel(1);
  EXPECT_EQ(m.InfoText(), "@0: ti=0.25 Ch1=1500.5");
  m.ToggleVisible(33);  // ignored
  EXPECT_TRUE(m.visible(2));
}

// The selected channel's y axis and value readout; hidden or empty columns give none.
TEST(GraphModel, SelectedChannelAxisAndReadout) {
  GraphPreviewModel m;
  m.Reset(2, 10);
  m.SetChannelName(1, "EngineSpeed");
  m.SetChannelUnit(1, "rpm");
  m.SetChannelRange(1, 0, 8000);
  ASSERT_TRUE(m.AddSample(0.25, 1, Values({1500.5, 3})));
  m.set_selected_channel(1);
  const AxisTicks ticks = m.SelectedTicks(200);
  EXPECT_EQ(ticks.step, 2000);
  EXPECT_EQ(ticks.values, (std::vector<double>{0, 2000, 4000, 6000, 8000}));
  EXPECT_EQ(m.ReadoutText(0), "EngineSpeed = 1500.5 rpm");
  EXPECT_EQ(m.ReadoutText(1), "");  // no sample in that column
  m.ToggleVisible(1);
  EXPECT_TRUE(m.SelectedTicks(200).values.empty());
  EXPECT_EQ(m.ReadoutText(0), "");
  m.Reset(2, 10);  // a new conversion forgets the units
  EXPECT_EQ(m.unit(1), "");
}

}  // namespace
}  // namespace tessmar
