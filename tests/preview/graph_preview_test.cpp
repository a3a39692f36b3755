// The graph preview window under the offscreen platform: what its picture shows, the legend's
// clicks, and a conversion from the converter page that fills it.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "app/converter_page.h"
#include "config/clc_file.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/graph_preview_form.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

using testing::WindowFixture;

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

  form.LegendClick(kGraphLegendRowHeight * 2 + 3);  // hides channel 2
  EXPECT_FALSE(form.model().visible(2));
  EXPECT_FALSE(ColumnHasColour(form.picture(), 50, kGraphChannelColours[2]));
  form.LegendHover(kGraphLegendRowHeight + 1);
  EXPECT_EQ(form.info_label()->text(), QStringLiteral("Channel 1 : 0 ... 100"));
}

TEST(GraphPreviewForm, ConversionWithPreviewFillsTheWindow) {
  WindowFixture f;
  LoggerConfiguration config;
  ASSERT_TRUE(ReadClcFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc", config));
  SimulatorOptions options;
  options.duration_s = 20;
  const auto recording = f.dir() / "drive.cld";
  ASSERT_TRUE(SimulateRecording(config, options, recording).ok);
  TCanLogForm1& w = f.Start(
      {}, "[Files]\r\nExportDir=" + f.dir().string() + "\r\n[Converter]\r\nOutputType=1\r\n"
          "OutputFileFormat=1\r\nWriteInterval=0.1\r\nGraphPreview=1\r\n");
  w.converter_page()->SetSources({QString::fromStdString(recording.string())});
  QTest::mouseClick(w.converter_page()->go_button(), Qt::LeftButton);
  QApplication::processEvents();
  TGraphPreviewForm* g = w.converter_page()->graph_preview();
  ASSERT_NE(g, nullptr);
  EXPECT_TRUE(g->isVisible());
  EXPECT_EQ(g->windowTitle(), QStringLiteral("Logfile Conversion Preview"));
  EXPECT_GE(g->model().filled(), 190);
  EXPECT_GT(g->model().channel_count(), 1);
  EXPECT_NE(g->model().name(1), "Channel 1");  // the column names reached the legend
  // Something other than white was drawn.
  const QImage& pic = g->picture();
  int coloured = 0;
  for (int x = 0; x < pic.width(); x += 3) {
    for (int y = 0; y < pic.height(); y += 3) coloured += (pic.pixel(x, y) & 0xFFFFFFu) != 0xFFFFFFu;
  }
  EXPECT_GT(coloured, 20);
}

}  // namespace
}  // namespace tessmar
