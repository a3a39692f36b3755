// The GPS map window under the offscreen platform: topography from synthetic tiles, track and
// places, the texts under the mouse; and a conversion from the converter page that fills both
// previews, after which the mouse on the map marks the graph.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "app/converter_page.h"
#include "config/clc_file.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/gps_preview_form.h"
#include "preview/graph_preview_form.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

using testing::WindowFixture;

constexpr double kTestCell = 0.1;  // tiles of 500 x 400 cells

// Sea north of 54 N, land of 300 m south of it.
int Coast(double lat, double) { return lat > 54 ? kHeightOcean : 300; }

GpsFix Fix(double lat, double lon, int second) {
  GpsFix f;
  f.latitude = std::int32_t(std::lround(lat * kGpsUnitsPerDegree));
  f.longitude = std::int32_t(std::lround(lon * kGpsUnitsPerDegree));
  f.position_valid = 1;
  f.quality = 1;
  f.satellites = 8;
  f.status = 'A';
  f.year2000 = 26, f.month = 5, f.day = 4, f.hour = 12, f.minute = 0;
  f.second = std::uint8_t(second);
  f.date_valid = f.time_valid = 1;
  f.speed = 50;
  return f;
}

std::uint32_t Rgb(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }

TEST(GpsPreviewForm, TopographyTrackPlacesAndMouseTexts) {
  testing::EnsureApp();
  QTemporaryDir tiles;
  const std::filesystem::path dir = tiles.path().toStdString();
  for (const Gtopo30Tile& t : Gtopo30Tiles(kTestCell)) {
    if (t.file_name == "W020N90.DEM") {
      ASSERT_TRUE(WriteSyntheticTile(dir, t, Coast));
    }
  }
  TGpsPreviewForm form({}, nullptr, kTestCell);
  form.resize(640, 480);
  EXPECT_FALSE(form.topo_box()->isEnabled());  // the default folder does not exist here
  form.SetGtopo30Directory(dir);
  ASSERT_TRUE(form.topo_box()->isEnabled());
  form.topo_box()->setChecked(true);
  double marked = -1;
  form.SetTimeMarkCallback([&](double t) { marked = t; });

  form.ShowAndSetArea(51, 56, 8, 15);
  QApplication::processEvents();
  for (int i = 0; i < 30; ++i) form.AddFix(Fix(52.0 + i * 0.05, 10.0 + i * 0.1, i));
  form.Redraw();
  const QImage& pic = form.picture();
  const MapView& v = form.view();
  ASSERT_EQ(pic.width(), form.map_view()->width());
  // Ocean blue in the north, land coloured by its height in the south (both between the grid
  // lines, which veil the tiles), the track black.
  const MapPoint sea = ProjectToMap(v, 12.3, 55.6);
  EXPECT_EQ(Rgb(pic, sea.x, sea.y), 0x0000FFu);
  const MapPoint land = ProjectToMap(v, 9.3, 51.3);
  EXPECT_EQ(Rgb(pic, land.x, land.y), HeightColour(300));
  const MapPoint on_track = ProjectToMap(v, 10.5, 52.25);
  EXPECT_EQ(Rgb(pic, on_track.x, on_track.y), 0x000000u);
  // Berlin's circle is red (a pixel of its ring, left of the centre).
  const MapPoint berlin = ProjectToMap(v, 13.41053, 52.52437);
  bool red = false;
  for (int dx = -4; dx <= -2; ++dx) red |= Rgb(pic, berlin.x + dx, berlin.y) == 0xFF0000u;
  EXPECT_TRUE(red);

  form.MouseAt(on_track.x, on_track.y);
  EXPECT_TRUE(form.mouse_label()->text().endsWith(QStringLiteral(" 300 m")));
  EXPECT_EQ(form.fix_time_label()->text(), QStringLiteral("2026-05-04 12:00:05.00"));
  EXPECT_EQ(form.fix_status_label()->text(), QStringLiteral("50.0km/h 0.0m sats=8 hdop=0.0"));
  EXPECT_TRUE(form.marker()->isVisible());
  EXPECT_NEAR(marked, 1777896005.0, 1e-6);

  form.MouseAt(sea.x, sea.y);
  EXPECT_TRUE(form.mouse_label()->text().endsWith(QStringLiteral(" -9999 m")));

  // Zooming far out leaves the track inside; panning it out of view hides the fix texts.
  const double lat_span = v.lat_max - v.lat_min;
  form.Zoom(0.5);
  EXPECT_NEAR(form.view().lat_max - form.view().lat_min, 2 * lat_span, 1e-9);
  for (int i = 0; i < 12; ++i) form.Pan(PanDirection::kEast);
  form.MouseAt(10, 10);
  EXPECT_FALSE(form.marker()->isVisible());
  EXPECT_TRUE(form.fix_time_label()->text().isEmpty());
}

TEST(GpsPreviewForm, ConversionFillsBothPreviewsAndHoverMarksTheGraph) {
  WindowFixture f;
  LoggerConfiguration config;
  ASSERT_TRUE(ReadClcFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc", config));
  SimulatorOptions options;
  options.duration_s = 30;
  const auto recording = f.dir() / "drive.cld";
  ASSERT_TRUE(SimulateRecording(config, options, recording).ok);
  TCanLogForm1& w = f.Start({}, "[Files]\r\nExportDir=" + f.dir().string() +
                                    "\r\n[Converter]\r\nOutputType=1\r\n"
                                    "OutputFileFormat=1\r\nWriteInterval=0.1\r\nGraphPreview=1\r\n"
                                    "[GPS_Output]\r\nShowGpsPreview=1\r\n");
  w.converter_page()->SetSources({QString::fromStdString(recording.string())});
  QTest::mouseClick(w.converter_page()->go_button(), Qt::LeftButton);
  QApplication::processEvents();
  TGpsPreviewForm* map = w.converter_page()->gps_preview();
  TGraphPreviewForm* graph = w.converter_page()->graph_preview();
  ASSERT_NE(map, nullptr);
  ASSERT_NE(graph, nullptr);
  EXPECT_TRUE(map->isVisible());
  EXPECT_EQ(map->windowTitle(), QStringLiteral("GPS Track Preview"));
  ASSERT_GT(map->track().size(), 10u);
  EXPECT_TRUE(graph->isVisible());
  EXPECT_EQ(graph->windowTitle(), QStringLiteral("Logfile Conversion Preview"));
  EXPECT_GE(graph->model().filled(), 290);
  EXPECT_GT(graph->model().channel_count(), 1);
  EXPECT_NE(graph->model().name(1), "Channel 1");  // the column names reached the legend
  int coloured = 0;                                // something other than white was drawn
  const QImage& pic = graph->picture();
  for (int x = 0; x < pic.width(); x += 3) {
    for (int y = 0; y < pic.height(); y += 3) coloured += Rgb(pic, x, y) != 0xFFFFFFu;
  }
  EXPECT_GT(coloured, 20);
  EXPECT_EQ(graph->model().marker(), -1);

  // Hover over a fix in the middle of the track: the graph marks the row of that moment.
  const GpsFix* middle = nullptr;
  std::size_t i = 0;
  map->track().ForEach([&](const GpsFix& fix) {
    if (i++ == map->track().size() / 2) middle = &fix;
  });
  ASSERT_NE(middle, nullptr);
  const MapPoint pt =
      ProjectToMap(map->view(), GpsDegrees(middle->longitude), GpsDegrees(middle->latitude));
  ASSERT_TRUE(pt.inside);
  map->MouseAt(pt.x, pt.y);
  const int marker = graph->model().marker();
  ASSERT_GE(marker, 0);
  EXPECT_NEAR(graph->model().AbsoluteTime(marker), FixMarkTime(*middle), 1.0);

  // Closing the main window closes both previews, which keep their placement.
  ASSERT_TRUE(f.Close());
  EXPECT_FALSE(graph->isVisible());
  EXPECT_FALSE(map->isVisible());
  const std::string ini = testing::ReadText(f.ini_path());
  EXPECT_NE(ini.find("[GraphPreviewWindow]"), std::string::npos);
  EXPECT_NE(ini.find("[GpsPreviewWindow]"), std::string::npos);
}

TEST(GpsPreviewForm, SettingsPlacementTopoAndTileFolder) {
  testing::EnsureApp();
  QTemporaryDir temp;
  const std::filesystem::path dir = temp.path().toStdString();
  const std::filesystem::path ini = dir / "Tessmar.ini";
  testing::WriteText(ini,
                     "[GpsPreviewWindow]\r\nLeft=100000\r\nTop=20\r\nWidth=700\r\n"
                     "Height=500\r\nShowTopo=1\r\nGTOPO30_Directory=" +
                         dir.string() + "\r\n[Other]\r\nKept=1\r\n");
  {
    TGpsPreviewForm form(ini);
    EXPECT_EQ(form.gtopo30_directory(), dir);
    EXPECT_TRUE(form.topo_box()->isEnabled());
    EXPECT_TRUE(form.topo_box()->isChecked());
    EXPECT_LE(form.geometry().x(),
              QApplication::primaryScreen()->availableGeometry().width() - 100);
    EXPECT_EQ(form.geometry().height(), 500);
    form.show();
    form.topo_box()->setChecked(false);
    form.close();
  }
  const std::string text = testing::ReadText(ini);
  EXPECT_NE(text.find("ShowTopo=0"), std::string::npos);
  EXPECT_NE(text.find("Height=500"), std::string::npos);
  EXPECT_NE(text.find("Kept=1"), std::string::npos);
  // A folder that does not exist greys "Topo" out, whatever ShowTopo says.
  testing::WriteText(ini, "[GpsPreviewWindow]\r\nShowTopo=1\r\nGTOPO30_Directory=" +
                              (dir / "missing").string() + "\r\n");
  TGpsPreviewForm missing(ini);
  EXPECT_FALSE(missing.topo_box()->isEnabled());
  EXPECT_FALSE(missing.topo_box()->isChecked());
}

}  // namespace
}  // namespace tessmar
