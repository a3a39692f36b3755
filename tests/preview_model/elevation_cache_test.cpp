#include "preview_model/elevation_cache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace tessmar {
namespace {

// Tiles of 0.1-degree cells: 500 x 400 cells (Antarctic 300 x 600), the layout of GTOPO30 at a
// twelfth of its resolution.
constexpr double kTestCell = 0.1;

// Heights in bands of 5 degrees of longitude and 10 of latitude, ocean north of 60 degrees, so a
// look-up can be checked against the band it falls into.
int BandTerrain(double lat, double lon) {
  if (lat > 60) return kHeightOcean;
  return 100 * static_cast<int>(std::floor(lon / 5)) + 10 * static_cast<int>(std::floor(lat / 10));
}

const Gtopo30Tile& Tile(const std::vector<Gtopo30Tile>& tiles, const std::string& name) {
  for (const Gtopo30Tile& t : tiles) {
    if (t.file_name == name) return t;
  }
  ADD_FAILURE() << name;
  return tiles.front();
}

class ElevationCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tessmar_tiles_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    tiles_ = Gtopo30Tiles(kTestCell);
    for (const char* name : {"W020N90.DEM", "E020N90.DEM", "W020N40.DEM"}) {
      ASSERT_TRUE(WriteSyntheticTile(dir_, Tile(tiles_, name), BandTerrain));
    }
    // W020N40 is cut after its first 100 rows.
    std::filesystem::resize_file(dir_ / "W020N40.DEM", 100 * 400 * 2);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  int HeightAt(const ElevationCache& cache, double lat, double lon) {
    int h = 12345;
    EXPECT_TRUE(cache.Lookup(lat, lon, &h)) << lat << " " << lon;
    return h;
  }

  std::filesystem::path dir_;
  std::vector<Gtopo30Tile> tiles_;
};

TEST(Gtopo30, TheThirtyThreeTiles) {
  const std::vector<Gtopo30Tile> tiles = Gtopo30Tiles();
  ASSERT_EQ(tiles.size(), 33u);
  EXPECT_EQ(tiles.front().file_name, "W180N90.DEM");
  EXPECT_EQ(tiles.front().rows, 6000);
  EXPECT_EQ(tiles.front().columns, 4800);
  EXPECT_EQ(Tile(tiles, "E140S10.DEM").north, -10);
  const Gtopo30Tile& ant = Tile(tiles, "W000S60.DEM");
  EXPECT_EQ(ant.west, 0);
  EXPECT_EQ(ant.rows, 3600);
  EXPECT_EQ(ant.columns, 7200);
  EXPECT_EQ(Tile(tiles, "E120S60.DEM").width, 60);
}

TEST_F(ElevationCacheTest, OneCellPerTileCellAcrossTileEdges) {
  ElevationCache cache(kTestCell);
  MapView view;
  view.lat_min = 35, view.lat_max = 85, view.lon_min = -15, view.lon_max = 25;  // k = 1
  const ElevationCache::FillResult r = cache.Fill(view, dir_);
  EXPECT_EQ(cache.step(), 1);
  EXPECT_EQ(r.tiles_opened, 3);
  EXPECT_FALSE(r.aborted);
  EXPECT_EQ(HeightAt(cache, 45.5, 2.5), 40);
  EXPECT_EQ(HeightAt(cache, 55.5, 22.5), 450);  // the eastern tile
  EXPECT_EQ(HeightAt(cache, 55.5, -12.5), -250);
  EXPECT_EQ(HeightAt(cache, 70, 0), kHeightOcean);
  // The first row of a tile is read like every other.
  EXPECT_EQ(HeightAt(cache, 89.95, 2.5), kHeightOcean);
  EXPECT_EQ(HeightAt(cache, 39.9, 2.5), 30);  // row 0 of the tile south of 40 N
  // Rows beyond the end of the cut tile, and a missing tile, stay "not loaded".
  EXPECT_EQ(HeightAt(cache, 38.5, 2.5), 30);
  EXPECT_EQ(HeightAt(cache, 25, 2.5), kHeightNotLoaded);
  EXPECT_EQ(HeightAt(cache, 30, 30), kHeightNotLoaded);
  int h = 0;
  EXPECT_FALSE(cache.Lookup(10, 170, &h));  // outside the cache
}

TEST_F(ElevationCacheTest, WideViewsReadEveryKthCell) {
  ElevationCache cache(kTestCell);
  MapView view;
  view.lat_min = -90, view.lat_max = 90, view.lon_min = -180, view.lon_max = 180;
  cache.Fill(view, dir_);
  EXPECT_EQ(cache.step(), 2);
  EXPECT_DOUBLE_EQ(cache.lon_span(), 400);
  EXPECT_EQ(HeightAt(cache, 45.5, 2.5), 40);
  EXPECT_EQ(HeightAt(cache, 55.5, 27.5), 550);
  EXPECT_EQ(HeightAt(cache, 75, 10), kHeightOcean);
  EXPECT_EQ(HeightAt(cache, 0, 100), kHeightNotLoaded);
}

TEST_F(ElevationCacheTest, RefillOnlyWhenTheViewLeavesOrGetsFiner) {
  ElevationCache cache(kTestCell);
  MapView view;
  view.lat_min = 40, view.lat_max = 60, view.lon_min = -10, view.lon_max = 30;
  EXPECT_TRUE(cache.NeedsFill(view));
  cache.Fill(view, dir_);
  EXPECT_FALSE(cache.NeedsFill(view));
  MapView inside = view;
  inside.lat_min = 45, inside.lat_max = 55;  // same step factor, inside: reused
  EXPECT_FALSE(cache.NeedsFill(inside));
  MapView moved = view;
  moved.lon_min += 100, moved.lon_max += 100;
  EXPECT_TRUE(cache.NeedsFill(moved));
  // A cache made for a coarser step is more than 1.1 times too big for a close view.
  MapView wide;
  wide.lat_min = -80, wide.lat_max = 80, wide.lon_min = -170, wide.lon_max = 170;
  cache.Fill(wide, dir_);
  ASSERT_EQ(cache.step(), 2);
  EXPECT_TRUE(cache.NeedsFill(view));
}

TEST_F(ElevationCacheTest, AbortStopsBetweenRowsAndLeavesTheRestUnloaded) {
  ElevationCache cache(kTestCell);
  MapView view;
  view.lat_min = 35, view.lat_max = 85, view.lon_min = -15, view.lon_max = 25;
  int calls = 0;
  const ElevationCache::FillResult r = cache.Fill(view, dir_, [&] { return ++calls > 600; });
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(r.tiles_opened, 1);  // stopped inside the first tile
  EXPECT_EQ(HeightAt(cache, 55.5, -12.5), -250);
  EXPECT_EQ(HeightAt(cache, 45.5, -12.5), kHeightNotLoaded);
  EXPECT_EQ(HeightAt(cache, 55.5, 22.5), kHeightNotLoaded);
}

TEST_F(ElevationCacheTest, RenderingColoursEveryPixel) {
  ElevationCache cache(kTestCell);
  MapView view;
  view.width = 40, view.height = 20;
  SetMapView(view, 40, -40, 80, 40);
  cache.Fill(view, dir_);
  std::vector<std::uint32_t> pixels(40 * 20, 0);
  RenderTopography(view, cache, pixels.data(), 40);
  EXPECT_EQ(pixels[20], 0xFF000000u | 0x0000FFu);                   // ocean at 80 N, 1 E
  EXPECT_EQ(pixels[19 * 40 + 20], 0xFF000000u | HeightColour(40));  // 40 N, 1 E
  EXPECT_EQ(pixels[19 * 40], 0xFF000000u | 0xFFFFFFu);              // the missing tile west of 20 W
}

}  // namespace
}  // namespace tessmar
