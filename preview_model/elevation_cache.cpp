#include "preview_model/elevation_cache.h"

#include <algorithm>
#include <cmath>

#include "common/buffered_file.h"

namespace tessmar {
namespace {

// Tile rows and columns are found from positions with a small allowance, so that a latitude
// that lies exactly on a cell edge is not taken for the cell above it through rounding.
constexpr double kEdgeAllowance = 1e-6;

int FloorCells(double v) { return static_cast<int>(std::floor(v + kEdgeAllowance)); }

// Rounds a step factor up when it is at least 0.9, else 1.
int StepOf(double ratio) { return ratio >= 0.9 ? static_cast<int>(ratio + 0.999) : 1; }

}  // namespace

std::vector<Gtopo30Tile> Gtopo30Tiles(double cell) {
  std::vector<Gtopo30Tile> tiles;
  const auto name = [](double west, double north) {
    char text[32];
    std::snprintf(text, sizeof text, "%c%03d%c%02d.DEM", west <= 0 ? 'W' : 'E',
                  static_cast<int>(std::fabs(west)), north < 0 ? 'S' : 'N',
                  static_cast<int>(std::fabs(north)));
    return std::string(text);
  };
  for (double north : {90.0, 40.0, -10.0}) {
    for (int i = 0; i < 9; ++i) {
      const double west = -180.0 + 40.0 * i;
      tiles.push_back({name(west, north), west, north, 40, 50,
                       static_cast<int>(std::lround(50 / cell)),
                       static_cast<int>(std::lround(40 / cell))});
    }
  }
  for (int i = 0; i < 6; ++i) {
    const double west = -180.0 + 60.0 * i;
    tiles.push_back({name(west, -60), west, -60, 60, 30, static_cast<int>(std::lround(30 / cell)),
                     static_cast<int>(std::lround(60 / cell))});
  }
  return tiles;
}

ElevationCache::ElevationCache(double cell_degrees) : cell_(cell_degrees) {}

int ElevationCache::StepFor(const MapView& view) const {
  const int k_lon = StepOf((view.lon_max - view.lon_min) / (kColumns * cell_));
  const int k_lat = StepOf((view.lat_max - view.lat_min) / (kRows * cell_));
  return std::max(k_lon, k_lat);
}

bool ElevationCache::NeedsFill(const MapView& view) const {
  if (!filled()) return true;
  if (view.lat_max > north_ || view.lat_min < north_ - lat_span_ || view.lon_min < west_ ||
      view.lon_max > west_ + lon_span_) {
    return true;
  }
  const int k = StepFor(view);
  return lat_span_ > 1.1 * k * kRows * cell_ || lon_span_ > 1.1 * k * kColumns * cell_;
}

ElevationCache::FillResult ElevationCache::Ensure(const MapView& view,
                                                  const std::filesystem::path& dir,
                                                  const std::function<bool()>& should_abort) {
  return NeedsFill(view) ? Fill(view, dir, should_abort) : FillResult{};
}

ElevationCache::FillResult ElevationCache::Fill(const MapView& view,
                                                const std::filesystem::path& dir,
                                                const std::function<bool()>& should_abort) {
  FillResult result;
  step_ = StepFor(view);
  lat_span_ = step_ * kRows * cell_;
  lon_span_ = step_ * kColumns * cell_;
  north_ = (view.lat_min + view.lat_max) / 2 + lat_span_ / 2;
  west_ = (view.lon_min + view.lon_max) / 2 - lon_span_ / 2;
  cells_.assign(static_cast<std::size_t>(kRows) * kColumns, kHeightNotLoaded);
  for (const Gtopo30Tile& tile : Gtopo30Tiles(cell_)) {
    const bool overlaps = tile.west < west_ + lon_span_ && tile.west + tile.width > west_ &&
                          tile.north > north_ - lat_span_ && tile.north - tile.height < north_;
    if (!overlaps) continue;
    ReadTile(tile, dir, should_abort, result);
    if (result.aborted) break;
  }
  return result;
}

void ElevationCache::ReadTile(const Gtopo30Tile& tile, const std::filesystem::path& dir,
                              const std::function<bool()>& should_abort, FillResult& result) {
  BufferedFile file;
  if (!file.OpenForReading(dir / tile.file_name)) return;
  ++result.tiles_opened;
  const int k = step_;
  // Cache column c begins at west_ + c * k cells; its tile column is c * k - offset.
  const double offset = (tile.west - west_) / cell_;
  const int c0 = offset <= 0 ? 0 : static_cast<int>(std::ceil(offset / k - kEdgeAllowance));
  const int j0 = std::max(0, FloorCells(c0 * double(k) - offset));
  if (c0 >= kColumns || j0 >= tile.columns) return;
  const int count = std::min(kColumns - c0, (tile.columns - 1 - j0) / k + 1);
  const std::size_t span = static_cast<std::size_t>(count - 1) * k + 1;  // tile cells to read
  std::vector<std::uint8_t> bytes(span * 2);
  const double row_height = k * cell_;
  for (int r = 0; r < kRows; ++r) {
    if (should_abort && should_abort()) {
      result.aborted = true;
      return;
    }
    const double lat = north_ - r * row_height;
    const int tile_row = FloorCells((tile.north - lat) / cell_);
    if (tile_row < 0 || tile_row >= tile.rows) continue;
    const std::int64_t pos = (std::int64_t{tile_row} * tile.columns + j0) * 2;
    if (file.Seek(pos) != pos) continue;
    const std::int64_t got = file.ReadBytes(bytes.data(), bytes.size());
    if (got <= 0) continue;
    const std::size_t available = static_cast<std::size_t>(got) / 2;
    std::int16_t* row = &cells_[static_cast<std::size_t>(r) * kColumns + c0];
    for (int i = 0; i < count; ++i) {
      const std::size_t j = static_cast<std::size_t>(i) * k;
      if (j >= available) break;
      row[i] = static_cast<std::int16_t>((bytes[2 * j] << 8) | bytes[2 * j + 1]);
    }
    ++result.rows_read;
  }
}

bool ElevationCache::Lookup(double lat, double lon, int* height) const {
  if (!filled()) return false;
  const double fy = (north_ - lat) / lat_span_;
  const double fx = (lon - west_) / lon_span_;
  if (!(fy >= 0 && fy <= 1 && fx >= 0 && fx <= 1)) return false;
  const int row = static_cast<int>(fy * (kRows - 1));
  const int col = static_cast<int>(fx * (kColumns - 1));
  *height = cells_[static_cast<std::size_t>(row) * kColumns + col];
  return true;
}

void RenderTopography(const MapView& view, const ElevationCache& cache, std::uint32_t* pixels,
                      int stride) {
  const double lat_span = view.lat_max - view.lat_min;
  const double dlon = (view.lon_max - view.lon_min) / std::max(1, view.width - 1);
  for (int y = 0; y < view.height; ++y) {
    const double lat = view.lat_max - double(y) / std::max(1, view.height - 1) * lat_span;
    std::uint32_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    double lon = view.lon_min;
    for (int x = 0; x < view.width; ++x, lon += dlon) {
      int h = 0;
      row[x] = 0xFF000000u | (cache.Lookup(lat, lon, &h) ? HeightColour(h) : kColourNoCell);
    }
  }
}

bool WriteSyntheticTile(const std::filesystem::path& dir, const Gtopo30Tile& tile,
                        const std::function<int(double lat, double lon)>& terrain) {
  BufferedFile file;
  if (!file.Create(dir / tile.file_name)) return false;
  const double cell_lat = tile.height / tile.rows, cell_lon = tile.width / tile.columns;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(tile.columns) * 2);
  for (int r = 0; r < tile.rows; ++r) {
    const double lat = tile.north - (r + 0.5) * cell_lat;
    for (int c = 0; c < tile.columns; ++c) {
      const int h = std::clamp(terrain(lat, tile.west + (c + 0.5) * cell_lon), -32768, 32767);
      const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(h));
      row[2 * std::size_t(c)] = static_cast<std::uint8_t>(v >> 8);
      row[2 * std::size_t(c) + 1] = static_cast<std::uint8_t>(v & 0xFF);
    }
    if (!file.WriteBytes(row.data(), row.size())) return false;
  }
  return file.Close();
}

int SyntheticTerrain(double lat, double lon) {
  // A coast line that waves along the latitude of 53.6 degrees, with sea to its north.
  if (lat > 53.6 + 0.6 * std::sin(lon * 0.8) + 0.2 * std::sin(lon * 3.1)) return kHeightOcean;
  // Waves of several lengths (about 4, 1.5, 0.5 and 0.2 degrees) give lowlands and hills.
  double h = 220 + 180 * std::sin(lat * 1.7 + 0.5) * std::cos(lon * 1.3) +
             140 * std::sin(lat * 4.3) * std::sin(lon * 3.1 + 1) +
             70 * std::sin(lat * 11 + lon * 7) + 40 * std::sin(lat * 29) * std::cos(lon * 23);
  if (lat < 48.5) h += (48.5 - lat) * 700;  // mountains in the south
  return std::max(0, static_cast<int>(h));
}

}  // namespace tessmar
