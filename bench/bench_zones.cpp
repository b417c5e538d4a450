// The offline time-zone map: reading the map file, the zone of a point alone, and a whole lookup
// (zone, the offset for the date through ICU, and the eight neighbours that decide whether the
// answer is uncertain), for points spread over the earth and for points near borders.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/TimeZoneIndex.h"

namespace {

const std::string kMapPath = std::string(TV_SOURCE_DIR) + "/data/zones/zones.tvz";
constexpr std::int64_t kJuly2024 = 1719835200000;  // 1 July 2024, 12:00 UTC

const TimeZoneIndex& WholeMap() {
  static const TimeZoneIndex map = [] {
    TimeZoneIndex loaded;
    if (loaded.LoadFile(kMapPath) != XpStatus::Ok) {
      std::abort();
    }
    return loaded;
  }();
  return map;
}

// A fixed spread of points: a grid over the whole earth, or over Europe's many borders.
std::vector<GeoPoint> Points(bool europe) {
  std::vector<GeoPoint> points;
  const double south = europe ? 40.0 : -85.0;
  const double north = europe ? 60.0 : 85.0;
  const double west = europe ? -5.0 : -179.0;
  const double east = europe ? 30.0 : 179.0;
  for (double lat = south; lat <= north; lat += (north - south) / 31.0) {
    for (double lng = west; lng <= east; lng += (east - west) / 31.0) {
      points.push_back(GeoPoint{lat, lng});
    }
  }
  return points;
}

void BM_ZoneMapLoad(benchmark::State& state) {
  for (auto _ : state) {
    TimeZoneIndex map;
    if (map.LoadFile(kMapPath) != XpStatus::Ok) {
      state.SkipWithError("the time-zone map did not load");
      return;
    }
    benchmark::DoNotOptimize(map.NodeCount());
  }
}
BENCHMARK(BM_ZoneMapLoad)->Unit(benchmark::kMicrosecond);

void BM_ZoneAt(benchmark::State& state) {
  const TimeZoneIndex& map = WholeMap();
  const std::vector<GeoPoint> points = Points(state.range(0) != 0);
  for (auto _ : state) {
    for (const GeoPoint& point : points) {
      benchmark::DoNotOptimize(map.ZoneAt(point));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points.size()));
}
BENCHMARK(BM_ZoneAt)->Arg(0)->Arg(1)->ArgNames({"europe"});

void BM_ZoneLookupWithOffset(benchmark::State& state) {
  const TimeZoneIndex& map = WholeMap();
  const std::vector<GeoPoint> points = Points(state.range(0) != 0);
  for (auto _ : state) {
    for (const GeoPoint& point : points) {
      ZoneAnswer answer;
      benchmark::DoNotOptimize(map.Lookup(point, kJuly2024, &answer));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points.size()));
}
BENCHMARK(BM_ZoneLookupWithOffset)->Arg(0)->Arg(1)->ArgNames({"europe"})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
