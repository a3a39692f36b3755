// The graph preview window under the offscreen platform: what its picture shows and the legend's
// clicks. A conversion feeding it is in gps_preview_test.cpp.

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>

#include "preview/graph_preview_form.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

std::vector<ChannelValue> Values(double a, double b) {
  std::vector<ChannelValue> v(2);
  v[0].scaled = a;
  v[1].scaled = b;
  return v;
}

bool ColumnHasColour(const QImage& image, int x, std::uint32_t rgb) {
  for (int y = 0; y < image.height(); ++y) {
    if ((image.pixel(x, y) & 0xFFFFFFu) == rgb) return true;
  }
  return false;
}

TEST(GraphPreviewForm, DrawsChannelsMarkerAndHidesOnLegendClick) {
  testing::EnsureApp();
  TGraphPreviewForm form({});
  form.resize(600, 300);
  form.show();
  QApplication::processEvents();
  ASSERT_TRUE(form.Reset(2, 1000));
  form.SetChannelRange(1, 0, 100);
  form.SetChannelRange(2, 0, 100);
  for (int i = 0; i < 800; ++i) ASSERT_TRUE(form.AddSample(i, 5000 + i, Values(100, 0)));
  form.UpdatePreview(true);
  const QImage& pic = form.picture();
  ASSERT_EQ(pic.width(), form.image_view()->width());
  const int h = pic.height();
  // Channel 1 at its maximum runs along the top (offset by its number), channel 2 at its minimum
  // along the bottom.
  EXPECT_EQ(pic.pixel(50, 1) & 0xFFFFFFu, kGraphChannelColours[1]);
  EXPECT_EQ(pic.pixel(50, h - 1) & 0xFFFFFFu, kGraphChannelColours[2]);
  // The newest sample sits at the right edge when the buffer holds more than the width.
  EXPECT_EQ(form.model().SlotOfColumn(pic.width() - 1), 799);
  EXPECT_TRUE(form.scroll_bar()->isVisible());

  form.MarkTime(5000 + 700);
  const int marker_x = 700 - form.model().display_start();
  EXPECT_TRUE(ColumnHasColour(form.picture(), marker_x, kGraphMarkerColour));

  // The selected channel's y axis on the left edge, its readout under the mouse.
  form.SetChannelName(1, "Speed");
  form.SetChannelUnit(1, "km/h");
  form.ImageHover(100);
  QApplication::processEvents();
  const QImage view = form.image_view()->grab().toImage();
  const AxisTicks ticks = form.model().SelectedTicks(h);
  ASSERT_GE(ticks.values.size(), 3u);
  EXPECT_EQ(view.pixel(2, form.model().Y(1, ticks.values[1], h)) & 0xFFFFFFu,
            kGraphChannelColours[1]);
  EXPECT_EQ(form.model().ReadoutText(form.hover_x()), "Speed = 100 km/h");
  EXPECT_TRUE(ColumnHasColour(view, 100, kGraphMarkerColour));
  const QString shots = qEnvironmentVariable("TESSMAR_SHOT_DIR");
  if (!shots.isEmpty()) form.grab().save(shots + QStringLiteral("/graph_preview_axis.png"));

  form.LegendClick(kGraphLegendRowHeight * 2 + 3);  // hides channel 2
  EXPECT_FALSE(form.model().visible(2));
  EXPECT_FALSE(ColumnHasColour(form.picture(), 50, kGraphChannelColours[2]));
  form.LegendHover(kGraphLegendRowHeight + 1);
  EXPECT_EQ(form.info_label()->text(), QStringLiteral("Speed : 0 ... 100"));
}

}  // namespace
}  // namespace tessmar
