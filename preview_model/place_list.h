#pragma once
// The built-in list of places drawn on the GPS map: the most populous places of the world from
// the GeoNames gazetteer. The build makes the table and its count (kPlaceCount) from the data file
// preview_model/places.tsv (written by scripts/make_place_list.py, see docs/gps-map-data.md).
// The list ends at the first entry whose latitude and longitude are both 0.

#include "preview_model/place_count.h"

namespace tessmar {

struct Place {
  float latitude;    // degrees, north positive
  float longitude;   // degrees, east positive
  const char* name;  // UTF-8, at most 22 characters
  int class_number;  // 1 capital, 2 first-order seat, 3 lower seat, 4 other place
};

extern const Place kPlaceList[kPlaceCount + 1];

// Number of places before the end entry.
int PlaceListLength(const Place* list = kPlaceList);

}  // namespace tessmar
