#include "preview_model/gps_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/message_output.h"
#include "writers/gps_expression.h"

namespace tessmar {
namespace {

int LimitCoordinate(double v) {
  if (!(v > -kMapCoordinateLimit)) return -kMapCoordinateLimit;  // also not a number
  if (v > kMapCoordinateLimit) return kMapCoordinateLimit;
  return static_cast<int>(v);
}

// Sets the bounds around a centre with the given spans.
void Centre(MapView& view, double lon_centre, double lat_centre, double lon_span, double lat_span) {
  view.lon_min = lon_centre - lon_span / 2;
  view.lon_max = lon_centre + lon_span / 2;
  view.lat_min = lat_centre - lat_span / 2;
  view.lat_max = lat_centre + lat_span / 2;
}

}  // namespace

MapPoint ProjectToMap(const MapView& view, double lon, double lat) {
  const double fx = (lon - view.lon_min) / (view.lon_max - view.lon_min);
  const double fy = (lat - view.lat_min) / (view.lat_max - view.lat_min);
  MapPoint p;
  p.inside = fx >= 0 && fx <= 1 && fy >= 0 && fy <= 1;
  const double x = std::trunc(fx * (view.width - 1));
  const double y = view.height - 1 - std::trunc(fy * (view.height - 1));
  p.x = LimitCoordinate(x);
  p.y = LimitCoordinate(y);
  return p;
}

void MapPixelToPosition(const MapView& view, int x, int y, double* lon, double* lat) {
  const double w = std::max(1, view.width - 1), h = std::max(1, view.height - 1);
  *lon = view.lon_min + (view.lon_max - view.lon_min) * x / w;
  *lat = view.lat_min + (view.lat_max - view.lat_min) * (view.height - y - 1) / h;
}

void SetMapView(MapView& view, double lon_max, double lon_min, double lat_max, double lat_min) {
  lat_min = std::clamp(lat_min, -90.0, 89.9);
  lat_max = std::clamp(lat_max, -89.9, 90.0);
  lon_min = std::clamp(lon_min, -180.0, 179.9);
  lon_max = std::clamp(lon_max, -179.9, 180.0);
  if (view.width <= 10 || view.height <= 10) {
    view.lat_min = lat_min;
    view.lat_max = lat_max;
    view.lon_min = lon_min;
    view.lon_max = lon_max;
    return;
  }
  double lat_span = std::clamp(lat_max - lat_min, kMinMapSpan, 180.0);
  double lon_span = std::clamp(lon_max - lon_min, kMinMapSpan, 360.0);
  const double r = (lat_span / lon_span) / (double(view.height) / view.width);
  if (r > 1) lon_span *= r;
  if (r < 0.99) lat_span /= r;
  Centre(view, (lon_min + lon_max) / 2, (lat_min + lat_max) / 2, lon_span, lat_span);
}

void ZoomMap(MapView& view, double factor) {
  if (!(factor > 0)) factor = 1;
  const double lon_span = std::clamp((view.lon_max - view.lon_min) / factor, kMinMapSpan, 360.0);
  const double lat_span = std::clamp((view.lat_max - view.lat_min) / factor, kMinMapSpan, 180.0);
  const double lon_c = (view.lon_min + view.lon_max) / 2, lat_c = (view.lat_min + view.lat_max) / 2;
  SetMapView(view, lon_c + lon_span / 2, lon_c - lon_span / 2, lat_c + lat_span / 2,
             lat_c - lat_span / 2);
}

void PanMap(MapView& view, PanDirection direction) {
  const double dlon = (view.lon_max - view.lon_min) * 0.1;
  const double dlat = (view.lat_max - view.lat_min) * 0.1;
  double lon_min = view.lon_min, lon_max = view.lon_max;
  double lat_min = view.lat_min, lat_max = view.lat_max;
  switch (direction) {
    case PanDirection::kWest:
      lon_min -= dlon;
      lon_max -= dlon;
      break;
    case PanDirection::kEast:
      lon_min += dlon;
      lon_max += dlon;
      break;
    case PanDirection::kNorth:
      lat_min += dlat;
      lat_max += dlat;
      break;
    case PanDirection::kSouth:
      lat_min -= dlat;
      lat_max -= dlat;
      break;
  }
  SetMapView(view, lon_max, lon_min, lat_max, lat_min);
}

void GpsTrack::Add(const GpsFix& fix) {
  if (blocks_.empty() || blocks_.back().size() >= kBlockSize) {
    blocks_.emplace_back();
    blocks_.back().reserve(kBlockSize);
  }
  blocks_.back().push_back(fix);
}

std::size_t GpsTrack::size() const {
  return blocks_.empty() ? 0 : (blocks_.size() - 1) * kBlockSize + blocks_.back().size();
}

const GpsFix* GpsTrack::Nearest(double lon, double lat) const {
  const GpsFix* best = nullptr;
  double best_d = std::numeric_limits<double>::infinity();
  ForEach([&](const GpsFix& fix) {
    const double dx = GpsDegrees(fix.longitude) - lon, dy = GpsDegrees(fix.latitude) - lat;
    const double d = dx * dx + dy * dy;
    if (best == nullptr || d < best_d) {
      best = &fix;
      best_d = d;
    }
  });
  return best;
}

bool FixBelongsOnMap(const GpsFix& fix) {
  return fix.quality != 0 && fix.satellites > 2 && fix.position_valid != 0;
}

std::string PositionText(double lon, double lat) {
  GpsFix fix;
  fix.latitude = static_cast<std::int32_t>(std::lround(lat * kGpsUnitsPerDegree));
  fix.longitude = static_cast<std::int32_t>(std::lround(lon * kGpsUnitsPerDegree));
  fix.position_valid = 1;
  return FixPositionText(fix);
}

std::string FixPositionText(const GpsFix& fix) {
  char text[64];
  return GpsVariableText("pos", fix, text, sizeof text) >= 0 ? std::string(text) : std::string();
}

std::string FixDateTimeText(const GpsFix& fix) {
  if (!fix.date_valid || !fix.time_valid)
    return "\?\?\?\?-\?\?-\?\? \?\?:\?\?:\?\?.\?";  // "????-??-?? ??:??:??.?"
  return StrPrintf("%04d-%02d-%02d %02d:%02d:%02d.%02d", fix.year2000 + 2000, fix.month, fix.day,
                   fix.hour, fix.minute, fix.second, fix.hundredths / 10);
}

std::string FixStatusText(const GpsFix& fix) {
  if (fix.status == 'A' && fix.satellites > 2 && fix.position_valid && fix.quality != 0) {
    return StrPrintf("%.1fkm/h %.1fm sats=%d hdop=%.1f", fix.speed, fix.height, fix.satellites,
                     fix.hdop);
  }
  return StrPrintf("Problem: w='%c' sats=%d val=%d qual=%d", fix.status ? fix.status : ' ',
                   fix.satellites, fix.position_valid, fix.quality);
}

double FixMarkTime(const GpsFix& fix) {
  if (!fix.date_valid || !fix.time_valid) return -1;
  return GpsFixTime(fix);
}

const std::array<std::uint32_t, 256>& HeightPalette() {
  static const std::array<std::uint32_t, 256> palette = [] {
    // Anchors (index, colour); the steps between them are interpolated linearly.
    struct Anchor {
      int index;
      std::uint32_t rgb;
    };
    static constexpr Anchor kAnchors[] = {
        {0, 0x008000},   {15, 0x00FF00},  {31, 0x80FF80},  {47, 0xFFFF00},  {63, 0xB0B000},
        {79, 0xD0B000},  {95, 0x808000},  {111, 0x605000}, {127, 0x404000}, {159, 0x40407C},
        {175, 0x7C7C80}, {192, 0xC0C0C0}, {224, 0xC0C0C0}, {255, 0xFFFFFF}};
    std::array<std::uint32_t, 256> p{};
    for (std::size_t a = 0; a + 1 < std::size(kAnchors); ++a) {
      const Anchor lo = kAnchors[a], hi = kAnchors[a + 1];
      for (int i = lo.index; i <= hi.index; ++i) {
        const double f = double(i - lo.index) / (hi.index - lo.index);
        std::uint32_t rgb = 0;
        for (int shift = 16; shift >= 0; shift -= 8) {
          const double c0 = (lo.rgb >> shift) & 0xFF, c1 = (hi.rgb >> shift) & 0xFF;
          rgb |= std::uint32_t(std::lround(c0 + (c1 - c0) * f)) << shift;
        }
        p[std::size_t(i)] = rgb;
      }
    }
    return p;
  }();
  return palette;
}

std::uint32_t HeightColour(int height) {
  if (height == kHeightOcean) return 0x0000FF;
  if (height == kHeightNotLoaded) return 0xFFFFFF;
  if (height == -28) return 0x8080FF;
  const int index = std::clamp(height * 256 / 2000, 0, 255);
  return HeightPalette()[std::size_t(index)];
}

}  // namespace tessmar
