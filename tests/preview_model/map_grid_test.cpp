#include "preview_model/map_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tessmar {
namespace {

MapView View(int width, int height, double lon_min, double lon_max, double lat_min,
             double lat_max) {
  MapView v;
  v.width = width, v.height = height;
  v.lon_min = lon_min, v.lon_max = lon_max, v.lat_min = lat_min, v.lat_max = lat_max;
  return v;
}

// ---- Grid ---------------------------------------------------------------------------------------

TEST(MapGrid, StepsAreRoundDegreesMinutesOrSeconds) {
  EXPECT_DOUBLE_EQ(MapGridStep(6), 1);
  EXPECT_DOUBLE_EQ(MapGridStep(8.5), 2);
  EXPECT_DOUBLE_EQ(MapGridStep(360), 45);
  EXPECT_DOUBLE_EQ(MapGridStep(1.0), 10.0 / 60);  // 10'
  EXPECT_DOUBLE_EQ(MapGridStep(0.05), 30.0 / 3600);
  EXPECT_DOUBLE_EQ(MapGridStep(1.0 / 3600), 0.2 / 3600);
  EXPECT_EQ(MapGridStep(0), 0);
  EXPECT_EQ(MapGridStep(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(MapGrid, LabelsInTheDegreeStyleOfThePositionTexts) {
  EXPECT_EQ(MapGridLabel(52, 1, true), "52\u00b0N");
  EXPECT_EQ(MapGridLabel(52 + 16.0 / 60, 1.0 / 60, true), "52\u00b016'N");
  EXPECT_EQ(MapGridLabel(-(10 + 31.0 / 60), 1.0 / 60, false), "10\u00b031'W");
  EXPECT_EQ(MapGridLabel(10 + 31.0 / 60 + 5.0 / 3600, 5.0 / 3600, false), "10\u00b031'05\"E");
  EXPECT_EQ(MapGridLabel(10 + 31.0 / 60 + 5.4 / 3600, 0.2 / 3600, false), "10\u00b031'05.4\"E");
  EXPECT_EQ(MapGridLabel(-33, 1, true), "33\u00b0S");
  EXPECT_EQ(MapGridLabel(0, 1, true), "0\u00b0");
  EXPECT_EQ(MapGridLabel(180, 45, false), "180\u00b0");
  EXPECT_EQ(MapGridLabel(-180, 45, false), "180\u00b0");
}

TEST(MapGrid, LinesSitWhereTheProjectionPutsThemAndAreLabelled) {
  const MapView v = View(801, 401, 8, 16, 50, 54);
  const MapGrid g = MakeMapGrid(v);
  EXPECT_DOUBLE_EQ(g.lon_step, 1);
  EXPECT_DOUBLE_EQ(g.lat_step, 30.0 / 60);
  ASSERT_EQ(g.meridians.size(), 9u);  // 8 .. 16
  EXPECT_EQ(g.meridians[2].label, "10\u00b0E");
  EXPECT_EQ(g.meridians[2].pixel, ProjectToMap(v, 10, 52).x);
  EXPECT_EQ(g.meridians[2].pixel, 200);
  ASSERT_EQ(g.parallels.size(), 9u);  // 50 .. 54 in 30'
  EXPECT_EQ(g.parallels[1].label, "50\u00b030'N");
  EXPECT_EQ(g.parallels[1].pixel, ProjectToMap(v, 12, 50.5).y);
}

TEST(MapGrid, AFewLinesEachWayAtEveryZoomLevel) {
  MapView v = View(760, 480, 5, 13, 48, 54);
  SetMapView(v, 13, 5, 54, 48);
  for (int i = 0; i < 12; ++i) ZoomMap(v, 0.5);  // the whole world and beyond
  for (int i = 0; i < 40; ++i) {                 // down to the narrowest span
    const MapGrid g = MakeMapGrid(v);
    SCOPED_TRACE(v.lat_max - v.lat_min);
    EXPECT_GE(g.meridians.size(), 3u);
    EXPECT_LE(g.meridians.size(), 9u);
    EXPECT_GE(g.parallels.size(), 3u);
    EXPECT_LE(g.parallels.size(), 9u);
    ZoomMap(v, 2);
  }
}

TEST(MapGrid, StopsAtTheDateLineAndThePolesAndSurvivesBrokenViews) {
  const MapGrid g = MakeMapGrid(View(400, 400, 170, 190, 80, 100));
  ASSERT_FALSE(g.meridians.empty());
  EXPECT_EQ(g.meridians.back().label, "180\u00b0");
  EXPECT_LE(g.parallels.back().degrees, 90);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(MakeMapGrid(View(400, 400, nan, 10, 0, nan)).meridians.empty());
  const MapGrid huge = MakeMapGrid(View(400, 400, -1e300, 1e300, -1e300, 1e300));
  EXPECT_LE(huge.meridians.size(), std::size_t(kMaxGridLines));
  EXPECT_LE(huge.parallels.size(), std::size_t(kMaxGridLines));
}

// ---- Scale bar ----------------------------------------------------------------------------------

TEST(MapScaleBar, RoundLengthNearAFifthOfTheWidthAtTheCentreLatitude) {
  // 0.1 degree of longitude over 1000 pixels at the equator: 11.12 m a pixel.
  MapScaleBar bar = MakeMapScaleBar(View(1001, 500, 0, 0.1, -0.05, 0.05));
  EXPECT_EQ(bar.text, "2 km");
  EXPECT_EQ(bar.pixels, 180);
  // At 60 degrees a degree of longitude is half as long.
  bar = MakeMapScaleBar(View(1001, 500, 0, 0.1, 59.95, 60.05));
  EXPECT_EQ(bar.text, "1 km");
  EXPECT_EQ(bar.pixels, 180);
  bar = MakeMapScaleBar(View(1001, 500, 0, 0.02, -0.01, 0.01));
  EXPECT_EQ(bar.text, "500 m");
  EXPECT_EQ(bar.pixels, 225);
  EXPECT_EQ(MakeMapScaleBar(View(1001, 500, 0, 360, -90, 90)).text, "10000 km");
  // No bar where the scale is meaningless.
  EXPECT_EQ(MakeMapScaleBar(View(1001, 500, 0, 10, 85, 95)).pixels, 0);
  EXPECT_EQ(MakeMapScaleBar(View(5, 5, 0, 10, 0, 10)).pixels, 0);
}

}  // namespace
}  // namespace tessmar
