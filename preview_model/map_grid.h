#pragma once
// The GPS map's latitude/longitude grid and scale bar: where the lines go, what their edge labels
// say, and how long a round distance is at the map's centre. Window-free; the map window only
// draws what these give.

#include <string>
#include <vector>

#include "preview_model/gps_map.h"

namespace tessmar {

// Grid lines per direction never exceed this, whatever the view (a broken or extreme view gets
// fewer or none rather than a long loop).
inline constexpr int kMaxGridLines = 12;

struct MapGridLine {
  int pixel = 0;       // x of a meridian, y of a parallel (as ProjectToMap places them)
  double degrees = 0;  // longitude or latitude of the line
  std::string label;   // "52°16'N", "10°31'E", "0°", "180°"
};

struct MapGrid {
  double lon_step = 0, lat_step = 0;   // degrees between lines; 0 when there are none
  std::vector<MapGridLine> meridians;  // west to east, only -180 .. 180
  std::vector<MapGridLine> parallels;  // south to north, only -90 .. 90
};

// The grid step for a span of degrees: the smallest of 0.1", 0.2", 0.5", 1", 2", 5", 10", 15",
// 30", 1', 2', 5', 10', 15', 30', 1°, 2°, 5°, 10°, 15°, 30°, 45°, 90° with at most 8 lines
// across the span (the largest for a wider span); 0 for a span that is not a positive number.
double MapGridStep(double span_degrees);

// A line's edge label in the degree style of the position texts: degrees, and minutes and
// seconds only as far as the step needs them.
std::string MapGridLabel(double degrees, double step, bool latitude);

MapGrid MakeMapGrid(const MapView& view);

struct MapScaleBar {
  int pixels = 0;     // 0: no bar (no usable scale, e.g. at a pole)
  double metres = 0;  // 1, 2 or 5 x 10^n
  std::string text;   // "500 m", "2 km"
};

// A bar of a round length about a fifth of the picture's width, measured along the parallel
// through the view's centre (a sphere of the Earth's mean radius).
MapScaleBar MakeMapScaleBar(const MapView& view);

}  // namespace tessmar
