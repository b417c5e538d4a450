// Feeds arbitrary bytes to the time-zone map reader. Whatever it accepts must answer a zone name
// for every point in range, within bounded time, and nothing for points out of range.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/TimeZoneIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TimeZoneIndex map;
  if (map.LoadBytes(std::string_view(reinterpret_cast<const char*>(data), size)) != XpStatus::Ok) {
    if (map.ZoneCount() != 0 || map.ZoneAt(GeoPoint{0.0, 0.0}).has_value()) {
      std::abort();
    }
    return 0;
  }
  for (double lat = -90.0; lat <= 90.0; lat += 7.3) {
    for (double lng = -180.0; lng <= 180.0; lng += 11.1) {
      const auto zone = map.ZoneAt(GeoPoint{lat, lng});
      if (!zone || zone->empty()) {
        std::abort();
      }
    }
  }
  if (map.ZoneAt(GeoPoint{91.0, 0.0}).has_value() || map.ZoneAt(GeoPoint{0.0, 181.0}).has_value()) {
    std::abort();
  }
  ZoneAnswer answer;
  (void)map.Lookup(GeoPoint{52.5, 13.4}, 0, &answer);
  return 0;
}
