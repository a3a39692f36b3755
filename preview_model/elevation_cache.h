#pragma once
// Terrain heights for the GPS map from GTOPO30 tiles, held in one fixed grid.
//
// GTOPO30 is a global elevation model of 30-arc-second cells in 33 files (".DEM"): 27 tiles of
// 40 x 50 degrees and 6 Antarctic tiles of 60 x 30 degrees, each rows x columns signed 16-bit
// heights in metres, most significant byte first, row by row from the north, each row from the
// west; -9999 marks ocean. The cache keeps 2000 x 1000 cells (4 MB) around the view, reading every
// k-th cell of every k-th row when the view is too wide for one cell per tile cell, and is
// refilled only when the view leaves it or needs a finer resolution.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "preview_model/gps_map.h"

namespace tessmar {

inline constexpr double kGtopo30CellDegrees = 0.008333333333;  // 30 arc seconds

struct Gtopo30Tile {
  std::string file_name;  // e.g. "W020N90.DEM"
  double west = 0;        // degrees of the north-west corner
  double north = 0;
  double width = 0;  // degrees
  double height = 0;
  int rows = 0;
  int columns = 0;
};

// The 33 tiles for a cell size. The product uses kGtopo30CellDegrees; tests use coarser cells to
// get small files of the same layout.
std::vector<Gtopo30Tile> Gtopo30Tiles(double cell_degrees = kGtopo30CellDegrees);

class ElevationCache {
 public:
  static constexpr int kColumns = 2000;
  static constexpr int kRows = 1000;

  explicit ElevationCache(double cell_degrees = kGtopo30CellDegrees);

  // True when a view needs a new fill: no cache yet, the view reaches outside it, or the cache is
  // more than 1.1 times coarser than the view needs.
  bool NeedsFill(const MapView& view) const;

  struct FillResult {
    int tiles_opened = 0;
    int rows_read = 0;
    bool aborted = false;
  };
  // Fills the cache around the view from the tiles in dir. Missing, short or unreadable tiles
  // leave their cells at kHeightNotLoaded. should_abort is asked between tile rows (may be empty).
  FillResult Fill(const MapView& view, const std::filesystem::path& dir,
                  const std::function<bool()>& should_abort = {});
  // Fills only when NeedsFill(view).
  FillResult Ensure(const MapView& view, const std::filesystem::path& dir,
                    const std::function<bool()>& should_abort = {});

  // Height of the cell holding a position; false when the cache does not cover it.
  bool Lookup(double lat, double lon, int* height) const;

  bool filled() const { return !cells_.empty(); }
  int step() const { return step_; }  // tile cells per cache cell
  double north() const { return north_; }
  double west() const { return west_; }
  double lat_span() const { return lat_span_; }
  double lon_span() const { return lon_span_; }

 private:
  int StepFor(const MapView& view) const;
  void ReadTile(const Gtopo30Tile& tile, const std::filesystem::path& dir,
                const std::function<bool()>& should_abort, FillResult& result);

  double cell_;
  std::vector<std::int16_t> cells_;  // kRows x kColumns, rows from the north
  int step_ = 1;
  double north_ = 0, west_ = 0, lat_span_ = 0, lon_span_ = 0;
};

// Colours the picture of a view from the cache (RGB, one uint32 per pixel, rows of `stride`
// pixels).
void RenderTopography(const MapView& view, const ElevationCache& cache, std::uint32_t* pixels,
                      int stride);

// Writes a tile of the given layout with heights from terrain(lat, lon) at the cell centres
// (tests and the demo; GTOPO30 itself is not shipped). False when the file cannot be written.
bool WriteSyntheticTile(const std::filesystem::path& dir, const Gtopo30Tile& tile,
                        const std::function<int(double lat, double lon)>& terrain);
// A made-up landscape: sea below a wavy coast line, hills and mountains inland.
int SyntheticTerrain(double lat, double lon);

}  // namespace tessmar
