#pragma once
// The GPS map's window-free parts: the latitude/longitude view with its plate carrée projection,
// zoom and pan; the track of GPS fixes with the nearest-fix search; the texts shown under the
// mouse; and the height colours of the topography.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "logfile/gps_fix.h"

namespace tessmar {

inline constexpr double kMinMapSpan = 1.0 / 3600.0;  // one arc second
inline constexpr int kMapCoordinateLimit = 32767;

struct MapView {
  double lat_min = 48, lat_max = 54;  // degrees, north positive
  double lon_min = 5, lon_max = 13;   // degrees, east positive
  int width = 0, height = 0;          // picture size in pixels
};

struct MapPoint {
  int x = 0, y = 0;
  bool inside = false;
};

// Pixel of a position; outside points get coordinates limited to +-32767.
MapPoint ProjectToMap(const MapView& view, double lon, double lat);
// Position of a pixel.
void MapPixelToPosition(const MapView& view, int x, int y, double* lon, double* lat);

// Sets the view to the requested bounds: limited to the globe, spans limited to 1/3600 .. 180
// (latitude) and 360 (longitude), and widened so that a degree covers as many pixels in both
// directions, centred on the requested area. A picture of 10 x 10 pixels or less keeps the
// limited bounds as they are.
void SetMapView(MapView& view, double lon_max, double lon_min, double lat_max, double lat_min);
// Divides both spans by factor around the centre (a factor not above 0 counts as 1).
void ZoomMap(MapView& view, double factor);
enum class PanDirection { kWest, kEast, kNorth, kSouth };
// Shifts the view by 10 % of its span.
void PanMap(MapView& view, PanDirection direction);

// Degrees of a position in hundredths of an arc second.
inline double GpsDegrees(std::int32_t hundredths) {
  return hundredths / double(kGpsUnitsPerDegree);
}

// The recorded track: fixes in blocks of 20, appended in order.
class GpsTrack {
 public:
  static constexpr std::size_t kBlockSize = 20;
  void Clear() { blocks_.clear(); }
  void Add(const GpsFix& fix);
  std::size_t size() const;
  bool empty() const { return blocks_.empty(); }
  template <typename F>
  void ForEach(F&& f) const {
    for (const auto& block : blocks_) {
      for (const GpsFix& fix : block) f(fix);
    }
  }
  // The fix nearest to a position (squared distance in degrees; the first one on ties), or
  // nullptr when the track is empty.
  const GpsFix* Nearest(double lon, double lat) const;

 private:
  std::vector<std::vector<GpsFix>> blocks_;
};

// Whether the converter puts a fix on the map: a fix quality, more than two satellites and a
// valid position.
bool FixBelongsOnMap(const GpsFix& fix);

// Texts of the map.
std::string PositionText(double lon, double lat);  // degrees, minutes, seconds
std::string FixPositionText(const GpsFix& fix);
std::string FixDateTimeText(const GpsFix& fix);  // "????-??-?? ??:??:??.?" when not valid
std::string FixStatusText(const GpsFix& fix);    // speed line or "Problem: ..."
// Seconds since 1970 of a fix with valid date and time, else a negative value.
double FixMarkTime(const GpsFix& fix);

// Height colours (RGB): 256 steps from 0 m to 2000 m.
const std::array<std::uint32_t, 256>& HeightPalette();
inline constexpr std::int16_t kHeightOcean = -9999;
inline constexpr std::int16_t kHeightNotLoaded = -9998;
inline constexpr std::uint32_t kColourNoCell = 0xCFFFCF;
std::uint32_t HeightColour(int height);

}  // namespace tessmar
