#include "preview_model/place_list.h"

namespace tessmar {

int PlaceListLength(const Place* list) {
  int n = 0;
  while (list[n].latitude != 0.0f || list[n].longitude != 0.0f) ++n;
  return n;
}

}  // namespace tessmar
