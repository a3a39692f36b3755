#include "preview_model/gps_map.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tessmar {
namespace {

MapView View(int width, int height) {
  MapView v;
  v.width = width;
  v.height = height;
  return v;
}

GpsFix Fix(double lat, double lon) {
  GpsFix f;
  f.latitude = static_cast<std::int32_t>(std::lround(lat * kGpsUnitsPerDegree));
  f.longitude = static_cast<std::int32_t>(std::lround(lon * kGpsUnitsPerDegree));
  f.position_valid = 1;
  f.quality = 1;
  f.satellites = 7;
  f.status = 'A';
  return f;
}

// ---- Projection and view ----------------------------------------------------------------------

TEST(MapView, ProjectionBothWaysAndOutsidePoints) {
  MapView v = View(401, 201);
  v.lon_min = 0, v.lon_max = 40, v.lat_min = 10, v.lat_max = 30;
  MapPoint p = ProjectToMap(v, 10, 25);
  EXPECT_TRUE(p.inside);
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 200 - 150);
  double lon = 0, lat = 0;
  MapPixelToPosition(v, p.x, p.y, &lon, &lat);
  EXPECT_DOUBLE_EQ(lon, 10);
  EXPECT_DOUBLE_EQ(lat, 25);
  // The corners are inside, a point beyond the east edge is not.
  EXPECT_TRUE(ProjectToMap(v, 40, 10).inside);
  EXPECT_EQ(ProjectToMap(v, 40, 10).y, 200);
  p = ProjectToMap(v, 41, 20);
  EXPECT_FALSE(p.inside);
  EXPECT_NEAR(p.x, 410, 1);
  // Far away points are held at the coordinate limits.
  p = ProjectToMap(v, 1e9, -1e9);
  EXPECT_EQ(p.x, kMapCoordinateLimit);
  EXPECT_EQ(p.y, kMapCoordinateLimit);
  EXPECT_EQ(ProjectToMap(v, -1e9, 1e9).x, -kMapCoordinateLimit);
}

TEST(MapView, SetViewCorrectsTheAspectAndLimits) {
  MapView v = View(400, 200);
  SetMapView(v, 15, 5, 50, 40);  // 10 x 10 degrees
  EXPECT_DOUBLE_EQ(v.lon_min, 0);
  EXPECT_DOUBLE_EQ(v.lon_max, 20);
  EXPECT_DOUBLE_EQ(v.lat_min, 40);
  EXPECT_DOUBLE_EQ(v.lat_max, 50);
  // Too wide: the latitude span grows instead.
  SetMapView(v, 40, 0, 50, 48);
  EXPECT_DOUBLE_EQ(v.lon_max - v.lon_min, 40);
  EXPECT_DOUBLE_EQ(v.lat_max - v.lat_min, 20);
  EXPECT_DOUBLE_EQ(v.lat_min, 39);
  // Beyond the poles: the bounds are limited first.
  SetMapView(v, 30, -30, 120, 60);
  EXPECT_DOUBLE_EQ(v.lat_max - v.lat_min, 30);
  EXPECT_DOUBLE_EQ(v.lat_min + v.lat_max, 150);
  // A tiny picture keeps the limited bounds.
  MapView small = View(8, 8);
  SetMapView(small, 200, -200, 80, -95);
  EXPECT_DOUBLE_EQ(small.lon_max, 180);
  EXPECT_DOUBLE_EQ(small.lon_min, -180);
  EXPECT_DOUBLE_EQ(small.lat_min, -90);
}

TEST(MapView, ZoomStopsAtOneArcSecondAndPanMovesTenPercent) {
  MapView v = View(300, 300);
  SetMapView(v, 11, 9, 53, 51);
  for (int i = 0; i < 40; ++i) ZoomMap(v, 2);
  EXPECT_NEAR(v.lat_max - v.lat_min, kMinMapSpan, 1e-12);
  EXPECT_NEAR(v.lon_max - v.lon_min, kMinMapSpan, 1e-12);
  EXPECT_NEAR((v.lat_max + v.lat_min) / 2, 52, 1e-9);
  ZoomMap(v, 0);  // counts as 1
  EXPECT_NEAR(v.lat_max - v.lat_min, kMinMapSpan, 1e-12);
  SetMapView(v, 11, 9, 53, 51);
  ZoomMap(v, 0.5);
  EXPECT_DOUBLE_EQ(v.lon_max - v.lon_min, 4);
  PanMap(v, PanDirection::kEast);
  EXPECT_NEAR(v.lon_min, 8.4, 1e-9);
  PanMap(v, PanDirection::kSouth);
  EXPECT_NEAR(v.lat_max, 53.6, 1e-9);
}

// ---- Track and texts --------------------------------------------------------------------------

TEST(GpsTrack, BlocksAndNearestFix) {
  GpsTrack track;
  EXPECT_EQ(track.Nearest(0, 0), nullptr);
  for (int i = 0; i < 45; ++i) track.Add(Fix(52 + i * 0.01, 10 + i * 0.01));
  EXPECT_EQ(track.size(), 45u);
  const GpsFix* f = track.Nearest(10.203, 52.198);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->latitude, Fix(52.20, 10.20).latitude);
  track.Clear();
  EXPECT_TRUE(track.empty());
}

TEST(GpsTexts, DateTimeStatusAndPosition) {
  GpsFix f = Fix(52.5, -13.25);
  f.year2000 = 26, f.month = 3, f.day = 7, f.hour = 9, f.minute = 5, f.second = 4;
  f.hundredths = 57;
  f.time_valid = 1;
  f.speed = 87.46, f.height = 75.04, f.hdop = 0.94;
  EXPECT_EQ(FixDateTimeText(f), "\?\?\?\?-\?\?-\?\? \?\?:\?\?:\?\?.\?");  // date not valid
  EXPECT_LT(FixMarkTime(f), 0);
  f.date_valid = 1;
  EXPECT_EQ(FixDateTimeText(f), "2026-03-07 09:05:04.05");
  EXPECT_NEAR(FixMarkTime(f), 1772874304.57, 1e-3);
  EXPECT_EQ(FixStatusText(f), "87.5km/h 75.0m sats=7 hdop=0.9");
  f.status = 'V';
  EXPECT_EQ(FixStatusText(f), "Problem: w='V' sats=7 val=1 qual=1");
  f.status = 'A';
  f.satellites = 2;
  EXPECT_EQ(FixStatusText(f), "Problem: w='A' sats=2 val=1 qual=1");
  EXPECT_FALSE(FixBelongsOnMap(f));
  EXPECT_EQ(FixPositionText(f), "52\u00b030'00.0\"N 013\u00b015'00.0\"W");
  EXPECT_EQ(PositionText(-13.25, 52.5), FixPositionText(f));
}

TEST(HeightColours, SpecialValuesAnchorsAndScale) {
  EXPECT_EQ(HeightColour(kHeightOcean), 0x0000FFu);
  EXPECT_EQ(HeightColour(kHeightNotLoaded), 0xFFFFFFu);
  EXPECT_EQ(HeightColour(-28), 0x8080FFu);
  EXPECT_EQ(HeightColour(-500), 0x008000u);  // below sea level on land: lowest colour
  EXPECT_EQ(HeightColour(0), 0x008000u);
  EXPECT_EQ(HeightColour(2000), 0xFFFFFFu);
  EXPECT_EQ(HeightColour(9000), 0xFFFFFFu);
  const auto& p = HeightPalette();
  EXPECT_EQ(p[15], 0x00FF00u);
  EXPECT_EQ(p[47], 0xFFFF00u);
  EXPECT_EQ(p[127], 0x404000u);
  EXPECT_EQ(p[175], 0x7C7C80u);
  EXPECT_EQ(p[200], 0xC0C0C0u);
  EXPECT_EQ(HeightColour(2000 * 47 / 256 + 1), 0xFFFF00u);
}

}  // namespace
}  // namespace tessmar
