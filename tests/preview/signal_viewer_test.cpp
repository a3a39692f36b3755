// The signal viewer under the offscreen platform, walked through as a user would: open a
// recording, find channels by typing, plot them in two plots, zoom, pan and read two cursors.
// With TESSMAR_SHOT_DIR set, it leaves viewer_plots.png and viewer_cursors.png there.

#include <gtest/gtest.h>

#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "common/c_locale.h"
#include "config/clc_file.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/gps_preview_form.h"
#include "preview/signal_viewer_form.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

bool ShowsColour(const QImage& image, const QRect& area, std::uint32_t rgb) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFFu) == rgb) return true;
    }
  }
  return false;
}

void Shot(QWidget& w, const char* name, QSize size = QSize()) {
  const QString dir = qEnvironmentVariable("TESSMAR_SHOT_DIR");
  if (dir.isEmpty()) return;
  const QString file = dir + QStringLiteral("/") + QString::fromLatin1(name);
  if (!size.isValid()) {
    w.grab().save(file);
    return;
  }
  // A shown window stays inside the small offscreen screen; the picture is taken hidden at the
  // size a desktop gives it, then the window comes back as it was.
  const QSize shown = w.size();
  w.hide();
  w.resize(size);
  QApplication::sendPostedEvents();
  w.grab().save(file);
  w.resize(shown);
  w.show();
  QApplication::processEvents();
}

// A recording of the demo logger configuration, `seconds` long, with the CAN database it names
// beside it (the value tables of its state signals).
bool SimulateDrive(const std::filesystem::path& path, double seconds) {
  LoggerConfiguration config;
  if (!ReadClcFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc", config)) return false;
  SimulatorOptions o;
  o.duration_s = seconds;
  std::error_code ec;
  std::filesystem::copy_file(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc",
                             path.parent_path() / "demo_vehicle.dbc", ec);
  return !ec && SimulateRecording(config, o, path).ok;
}

TEST(SignalViewer, FindPlotZoomAndReadCursors) {
  testing::EnsureApp();
  QTemporaryDir tmp;
  const std::filesystem::path path = tmp.filePath(QStringLiteral("drive.cld")).toStdString();
  ASSERT_TRUE(SimulateDrive(path, 30));

  TSignalViewerForm viewer;
  viewer.resize(1200, 760);
  ASSERT_TRUE(viewer.OpenRecordings({path}));
  viewer.show();
  QApplication::processEvents();

  // Typing "temp" leaves the five temperatures; a wildcard works as well.
  viewer.SetFilter(QStringLiteral("temp"));
  const std::vector<int> temps = viewer.ListedChannels();
  ASSERT_EQ(temps.size(), 5u);
  for (int i : temps) {
    EXPECT_NE(viewer.Channel(viewer.channels()[std::size_t(i)]).name.find("Temp"),
              std::string::npos);
  }
  viewer.SetFilter(QStringLiteral("Cell?emp*"));
  EXPECT_EQ(viewer.ListedChannels().size(), 2u);
  viewer.SetFilter(QStringLiteral("Temp"));

  // A double-click plots into the current plot; a second plot takes the third channel.
  QTreeWidget* list = viewer.channel_list();
  QTreeWidgetItem* first = nullptr;
  for (int i = 0; i < list->topLevelItemCount() && first == nullptr; ++i) {
    if (!list->topLevelItem(i)->isHidden()) first = list->topLevelItem(i);
  }
  ASSERT_NE(first, nullptr);
  Q_EMIT list->itemDoubleClicked(first, 0);
  viewer.AddChannelToPlot(temps[1]);
  ASSERT_EQ(viewer.plot(0)->plotted().size(), 2u);
  const int second = viewer.AddPlot();
  viewer.AddChannelToPlot(temps[2], second);
  EXPECT_EQ(viewer.plot_count(), 2);
  // The gear, a state signal, joins the second plot: its axis and readout show its texts.
  viewer.SetFilter(QStringLiteral("GearSelected"));
  ASSERT_EQ(viewer.ListedChannels().size(), 1u);
  const ViewerChannelRef gear = viewer.channels()[std::size_t(viewer.ListedChannels()[0])];
  ASSERT_FALSE(viewer.Channel(gear).states.empty());
  viewer.AddChannelToPlot(viewer.ListedChannels()[0], second);
  viewer.SetFilter(QStringLiteral("Temp"));
  QApplication::processEvents();

  TSignalPlotView* plot = viewer.plot(0);
  const QRect data = plot->DataRect();
  // Both channels are drawn in their own colours, each with a y axis of its unit.
  const QImage picture = plot->grab().toImage();
  for (const PlottedChannel& c : plot->plotted()) {
    EXPECT_TRUE(ShowsColour(picture, data.adjusted(0, 60, 0, 0), c.colour));
  }
  EXPECT_NE(plot->plotted()[0].colour, plot->plotted()[1].colour);
  Shot(viewer, "viewer_plots.png", QSize(1200, 760));

  // The wheel zooms around the mouse; arrow keys pan; "fit" shows everything again.
  const double full = viewer.span().width();
  const QPointF at(data.left() + data.width() / 2.0, data.center().y());
  const double anchor = viewer.span().TimeAt(at.x() - data.left(), data.width());
  QWheelEvent wheel(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 120 * 4), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(plot, &wheel);
  EXPECT_NEAR(viewer.span().width(), full * std::pow(0.8, 4), 1e-9);
  EXPECT_NEAR(viewer.span().TimeAt(at.x() - data.left(), data.width()), anchor, 1e-6);
  const double t0 = viewer.span().t0;
  QTest::keyClick(&viewer, Qt::Key_Right);
  EXPECT_NEAR(viewer.span().t0, t0 + viewer.span().width() * 0.1, 1e-9);

  // A click sets cursor 1, a right click cursor 2; the table shows values and differences.
  QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(data.left() + 200, data.center().y()));
  QTest::mouseClick(plot, Qt::RightButton, {}, QPoint(data.left() + 500, data.center().y()));
  ASSERT_TRUE(viewer.cursor(1) && viewer.cursor(2));
  EXPECT_LT(*viewer.cursor(1), *viewer.cursor(2));
  QTreeWidget* table = viewer.value_table();
  ASSERT_EQ(table->topLevelItemCount(), 5);  // time and four channels
  const PlottedChannel& c = plot->plotted()[0];
  const double v1 = *viewer.ValueOf(c.ref, *viewer.cursor(1));
  const double v2 = *viewer.ValueOf(c.ref, *viewer.cursor(2));
  const std::string unit = " " + viewer.Channel(c.ref).unit;
  EXPECT_EQ(table->topLevelItem(1)->text(1).toStdString(), ValueText(v1) + unit);
  EXPECT_EQ(table->topLevelItem(1)->text(3).toStdString(), ValueText(v2 - v1) + unit);
  const std::string gear_text = table->topLevelItem(4)->text(1).toStdString();
  EXPECT_EQ(gear_text, ReadoutText(viewer.Channel(gear), *viewer.ValueOf(gear, *viewer.cursor(1))));
  EXPECT_NE(gear_text.find(" ("), std::string::npos) << gear_text;
  viewer.SetTimeMode(TimeAxisMode::kDateTime);
  EXPECT_TRUE(table->topLevelItem(0)->text(1).startsWith(QStringLiteral("08:00:")));
  QApplication::processEvents();
  Shot(viewer, "viewer_cursors.png", QSize(1200, 760));

  // The map shows the position at cursor 1: the fix in effect at the cursor's time.
  TGpsPreviewForm* map = viewer.OpenMap();
  ASSERT_NE(map, nullptr);
  map->resize(700, 560);
  QApplication::processEvents();
  const int fix = viewer.CursorFix();
  ASSERT_GE(fix, 0);
  EXPECT_TRUE(map->marker()->isVisible());
  const QPoint marked = map->marker()->geometry().center();
  viewer.SetCursor(1, *viewer.cursor(1) + 5);
  EXPECT_GT(viewer.CursorFix(), fix);
  EXPECT_NE(map->marker()->geometry().center(), marked);
  Shot(*map, "viewer_map.png");

  // Delete on a row of the table takes that channel out of its plot, with its y axis.
  ASSERT_EQ(plot->groups().size(), 1u);  // both in degC
  table->setCurrentItem(table->topLevelItem(1));
  QTest::keyClick(table, Qt::Key_Delete);
  ASSERT_EQ(plot->plotted().size(), 1u);
  EXPECT_EQ(plot->groups()[0].members, std::vector<int>{0});
  EXPECT_EQ(table->topLevelItemCount(), 4);

  viewer.FitAll();
  EXPECT_NEAR(viewer.span().width(), full, 1e-9);
  viewer.RemovePlot(1);
  EXPECT_EQ(viewer.plot_count(), 1);
  EXPECT_EQ(table->topLevelItemCount(), 2);
}

// "Export ..." writes what the plots show: the plotted channels alone over the visible span.
TEST(SignalViewer, ExportsThePlottedChannelsOverTheVisibleSpan) {
  testing::EnsureApp();
  QTemporaryDir tmp;
  const std::filesystem::path path = tmp.filePath(QStringLiteral("drive.cld")).toStdString();
  ASSERT_TRUE(SimulateDrive(path, 20));

  TSignalViewerForm viewer;
  ASSERT_TRUE(viewer.OpenRecordings({path}));
  viewer.SetFilter(QStringLiteral("Temp"));
  const std::vector<int> temps = viewer.ListedChannels();
  ASSERT_GE(temps.size(), 3u);
  viewer.AddChannelToPlot(temps[0]);
  viewer.AddChannelToPlot(temps[2], viewer.AddPlot());
  viewer.SetSpan(TimeSpan{5.25, 9.5});

  const std::filesystem::path csv = tmp.filePath(QStringLiteral("span.csv")).toStdString();
  EXPECT_EQ(viewer.ExportVisible(csv, kFormatCsvInternational).toStdString(),
            "1 file  converted, 0 conversion errors. ");
  std::ifstream in(csv);
  std::string header, line;
  ASSERT_TRUE(std::getline(in, header));
  if (!header.empty() && header.back() == '\r') header.pop_back();
  // The time column, then the two plotted channels in the recording's column order.
  const std::string a = viewer.Channel(viewer.channels()[std::size_t(temps[0])]).name;
  const std::string b = viewer.Channel(viewer.channels()[std::size_t(temps[2])]).name;
  EXPECT_TRUE(header == "time_sec," + a + "," + b || header == "time_sec," + b + "," + a) << header;
  // Rows every 10 ms from the span's start to its end: 4.25 s.
  std::vector<double> times;
  while (std::getline(in, line)) {
    times.push_back(StrtodC(line.substr(0, line.find(',')).c_str(), nullptr));
  }
  ASSERT_EQ(times.size(), 426u);
  EXPECT_NEAR(times.back() - times.front(), 4.25, 1e-9);
  viewer.resize(1200, 760);
  viewer.show();
  QApplication::processEvents();
  Shot(viewer, "viewer_export.png", QSize(1200, 760));

  // Nothing plotted: nothing to export.
  viewer.RemoveChannelFromPlot(0, 0);
  viewer.RemoveChannelFromPlot(1, 0);
  EXPECT_EQ(viewer.ExportVisible(csv, kFormatCsvInternational).toStdString(),
            "No plotted channel in the visible span.");
}

}  // namespace
}  // namespace tessmar
