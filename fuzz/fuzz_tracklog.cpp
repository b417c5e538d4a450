// Feeds arbitrary bytes to the track-log reader (GPX and NMEA). Whatever it
// accepts must hold fixes that are in range and sorted by time, one segment
// list that accounts for every fix, and must match a time without trouble.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/TrackLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TrackLog log(/*maxFixes=*/10000);
  if (log.AddBytes(bytes) != XpStatus::Ok) {
    if (!log.Empty() || log.FileCount() != 0) {
      std::abort();
    }
    return 0;
  }
  const auto& fixes = log.Fixes();
  std::size_t inSegments = 0;
  for (const auto& segment : log.Segments()) {
    inSegments += segment.fixes.size();
  }
  if (inSegments != fixes.size() ||
      !std::is_sorted(fixes.begin(), fixes.end(), [](const auto& a, const auto& b) { return a.timeMs < b.timeMs; })) {
    std::abort();
  }
  for (const auto& fix : fixes) {
    if (!(fix.latitude >= -90 && fix.latitude <= 90 && fix.longitude >= -180 && fix.longitude <= 180)) {
      std::abort();
    }
  }
  if (!fixes.empty()) {
    const GeotagFix fix = MatchTime(log, fixes[fixes.size() / 2].timeMs / 1000 + 7, GeotagOptions{});
    if (fix.Placed() && !(fix.latitude >= -90 && fix.latitude <= 90)) {
      std::abort();
    }
  }
  return 0;
}
