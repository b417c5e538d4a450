// Feeds arbitrary bytes to the place index reader. Whatever it accepts must answer searches and
// nearest-place lookups without trouble: matches within the limit, positions in range, a country
// code of two letters and a distance for every match.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "Applications/Terravue/mapdata/PlaceIndex.h"

namespace {

bool InRange(const GeoPoint& p) {
  return p.latitude >= -90 && p.latitude <= 90 && p.longitude >= -180 && p.longitude <= 180;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PlaceIndex index;
  if (index.LoadBytes(std::string(reinterpret_cast<const char*>(data), size)) != XpStatus::Ok) {
    if (index.Size() != 0) {
      std::abort();
    }
    return 0;
  }
  // Search with the start of the nearest place's name, with a qualifier, and with raw bytes.
  const auto nearest = index.Nearest(GeoPoint{47.0, 8.0});
  if (index.Size() > 0 && (!nearest || !InRange(nearest->place.position) || !(nearest->distanceKm >= 0))) {
    std::abort();
  }
  const std::string probe = nearest ? nearest->place.name.substr(0, 2) : std::string("a");
  const std::size_t tailSize = size < 8 ? size : 8;
  const std::string tail(reinterpret_cast<const char*>(data) + size - tailSize, tailSize);
  for (const std::string& text : {probe, probe + ", " + tail, tail}) {
    const auto matches = index.Search(text, 5, GeoPoint{-10.0, 170.0});
    if (matches.size() > 5) {
      std::abort();
    }
    for (const auto& m : matches) {
      if (!InRange(m.place.position) || m.place.country.size() != 2 || !(m.distanceKm >= 0)) {
        std::abort();
      }
    }
  }
  return 0;
}
