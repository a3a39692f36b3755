// Filling the GPS map's elevation cache from full-size GTOPO30-layout tiles (synthetic heights,
// written once into a temporary folder and then read from the page cache), and colouring a map
// picture from the filled cache.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "preview_model/elevation_cache.h"

namespace tessmar {
namespace {

struct Tiles {
  std::filesystem::path dir;
  bool ok = false;
  Tiles() {
    dir = std::filesystem::temp_directory_path() / "tessmar_preview_model_bench";
    std::filesystem::create_directories(dir);
    ok = true;
    // A 10 x 10 degree view around 45 N 0 E needs the two tiles west of 20 E.
    for (const Gtopo30Tile& t : Gtopo30Tiles()) {
      if (t.file_name == "W020N90.DEM" || t.file_name == "W020N40.DEM") {
        ok = ok && WriteSyntheticTile(dir, t, SyntheticTerrain);
      }
    }
  }
  ~Tiles() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Tiles& Data() {
  static Tiles t;
  return t;
}

MapView TenByTen() {
  MapView v;
  v.width = 800;
  v.height = 800;
  SetMapView(v, 5, -5, 50, 40);
  return v;
}

void BM_ElevationCacheFill10x10(benchmark::State& state) {
  if (!Data().ok) {
    state.SkipWithError("could not write the tiles");
    return;
  }
  ElevationCache cache;
  const MapView view = TenByTen();
  int rows = 0;
  for (auto _ : state) {
    rows = cache.Fill(view, Data().dir).rows_read;
    benchmark::DoNotOptimize(rows);
  }
  state.counters["step"] = cache.step();
  state.counters["rows_read"] = rows;
}

void BM_RenderTopography800x800(benchmark::State& state) {
  if (!Data().ok) {
    state.SkipWithError("could not write the tiles");
    return;
  }
  ElevationCache cache;
  const MapView view = TenByTen();
  cache.Fill(view, Data().dir);
  std::vector<std::uint32_t> pixels(std::size_t(view.width) * view.height);
  for (auto _ : state) {
    RenderTopography(view, cache, pixels.data(), view.width);
    benchmark::DoNotOptimize(pixels.data());
  }
}

BENCHMARK(BM_ElevationCacheFill10x10)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RenderTopography800x800)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessmar

BENCHMARK_MAIN();
