#include "preview_model/map_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "common/message_output.h"

namespace tessmar {
namespace {

constexpr double kLinesAcross = 8;
constexpr double kEarthRadiusMetres = 6371008.8;  // mean radius
constexpr double kPi = 3.14159265358979323846;

// Steps in tenths of an arc second: sexagesimal below a degree, so that labels read as whole
// minutes or seconds (tenths only at the closest zoom).
constexpr int kTenthsPerDegree = 36000;
constexpr int kStepsTenths[] = {1,     2,      5,      10,     20,      50,      100,    150,
                                300,   600,    1200,   3000,   6000,    9000,    18000,  36000,
                                72000, 180000, 360000, 540000, 1080000, 1620000, 3240000};

// Lines at whole multiples of step between lo and hi (degrees), pixels from project.
template <typename Project>
std::vector<MapGridLine> Lines(double lo, double hi, double limit, double step, bool latitude,
                               Project project) {
  std::vector<MapGridLine> lines;
  lo = std::max(lo, -limit);
  hi = std::min(hi, limit);
  if (!(step > 0) || !(lo <= hi)) return lines;
  const double first = std::ceil(lo / step), last = std::floor(hi / step);
  for (double k = first; k <= last && int(lines.size()) < kMaxGridLines; ++k) {
    MapGridLine line;
    line.degrees = k * step;
    line.pixel = project(line.degrees);
    line.label = MapGridLabel(line.degrees, step, latitude);
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

double MapGridStep(double span_degrees) {
  if (!(span_degrees > 0) || !std::isfinite(span_degrees)) return 0;
  for (int tenths : kStepsTenths) {
    const double step = double(tenths) / kTenthsPerDegree;
    if (span_degrees / step <= kLinesAcross) return step;
  }
  return double(std::end(kStepsTenths)[-1]) / kTenthsPerDegree;
}

std::string MapGridLabel(double degrees, double step, bool latitude) {
  // Lines lie on whole tenths of an arc second: count in them so that no rounding shows.
  const long long total = std::llabs(std::llround(degrees * kTenthsPerDegree));
  const long long d = total / kTenthsPerDegree, m = total / 600 % 60, s = total / 10 % 60;
  const long long step_tenths = std::llround(step * kTenthsPerDegree);
  std::string text;
  if (step_tenths % kTenthsPerDegree == 0) {
    text = StrPrintf("%lld\u00b0", d);
  } else if (step_tenths % 600 == 0) {
    text = StrPrintf("%lld\u00b0%02lld'", d, m);
  } else if (step_tenths % 10 == 0) {
    text = StrPrintf("%lld\u00b0%02lld'%02lld\"", d, m, s);
  } else {
    text = StrPrintf("%lld\u00b0%02lld'%02lld.%lld\"", d, m, s, total % 10);
  }
  // The equator, the prime meridian and the date line have no side.
  if (total == 0 || (!latitude && total == 180LL * kTenthsPerDegree)) return text;
  const bool positive = degrees > 0;
  text += latitude ? (positive ? 'N' : 'S') : (positive ? 'E' : 'W');
  return text;
}

MapGrid MakeMapGrid(const MapView& view) {
  MapGrid grid;
  if (view.width <= 1 || view.height <= 1) return grid;
  grid.lon_step = MapGridStep(view.lon_max - view.lon_min);
  grid.lat_step = MapGridStep(view.lat_max - view.lat_min);
  const double lat_centre = (view.lat_min + view.lat_max) / 2;
  const double lon_centre = (view.lon_min + view.lon_max) / 2;
  grid.meridians = Lines(view.lon_min, view.lon_max, 180, grid.lon_step, false,
                         [&](double lon) { return ProjectToMap(view, lon, lat_centre).x; });
  grid.parallels = Lines(view.lat_min, view.lat_max, 90, grid.lat_step, true,
                         [&](double lat) { return ProjectToMap(view, lon_centre, lat).y; });
  return grid;
}

MapScaleBar MakeMapScaleBar(const MapView& view) {
  MapScaleBar bar;
  if (view.width <= 10 || view.height <= 10) return bar;
  const double lat_centre = (view.lat_min + view.lat_max) / 2;
  const double metres_per_degree =
      kEarthRadiusMetres * kPi / 180 * std::cos(lat_centre * kPi / 180);
  const double metres_per_pixel =
      (view.lon_max - view.lon_min) / (view.width - 1) * metres_per_degree;
  const double wanted = view.width / 5.0 * metres_per_pixel;
  if (!(wanted > 0.1) || !std::isfinite(wanted)) return bar;  // at a pole, or a broken view
  // The round length nearest to the wanted one (compared by ratio).
  const double power = std::pow(10.0, std::floor(std::log10(wanted)));
  const double mantissa = wanted / power;
  const double round = mantissa < std::sqrt(2.0)    ? 1
                       : mantissa < std::sqrt(10.0) ? 2
                       : mantissa < std::sqrt(50.0) ? 5
                                                    : 10;
  bar.metres = round * power;
  bar.pixels = static_cast<int>(std::lround(bar.metres / metres_per_pixel));
  bar.text =
      bar.metres < 1000 ? StrPrintf("%g m", bar.metres) : StrPrintf("%g km", bar.metres / 1000);
  return bar;
}

}  // namespace tessmar
