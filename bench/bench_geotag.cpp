// Placing a trip's photos from a track log: 10,000 photo times matched
// against a 100,000-point track, and reading such a track from GPX text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/TrackLog.h"
#include "xp/text/XpNumberText.h"

namespace {

constexpr std::int64_t kStart = 1714550400;  // 2024-05-01T08:00:00Z

// One fix every 5 seconds along a wandering line, as a logger records a walk.
std::string TrackText(int points) {
  std::string gpx = "<?xml version=\"1.0\"?><gpx version=\"1.1\"><trk><trkseg>\n";
  gpx.reserve(static_cast<std::size_t>(points) * 110);
  char time[48];
  for (int i = 0; i < points; ++i) {
    const std::int64_t t = kStart + 5LL * i;
    const int day = static_cast<int>(t / 86400 - 19844);
    const int second = static_cast<int>(t % 86400);
    // The numbers through the text layer, so the track reads the same whatever the locale.
    gpx += "<trkpt lat=\"";
    XpAppendFixed(gpx, 35.0 + i * 1e-5, 6);
    gpx += "\" lon=\"";
    XpAppendFixed(gpx, 139.0 + (i % 1000) * 1e-5, 6);
    gpx += "\"><ele>";
    XpAppendFixed(gpx, 10.0 + i % 50, 1);
    std::snprintf(time, sizeof time, "</ele><time>2024-05-%02dT%02d:%02d:%02dZ</time></trkpt>\n", 1 + day,
                  second / 3600, second / 60 % 60, second % 60);
    gpx += time;
  }
  return gpx + "</trkseg></trk></gpx>\n";
}

const TrackLog& HundredThousandPointTrack() {
  static const TrackLog log = [] {
    TrackLog built;
    (void)built.AddBytes(TrackText(100000));
    return built;
  }();
  return log;
}

void BM_Match10000PhotosAgainst100000Points(benchmark::State& state) {
  const TrackLog& log = HundredThousandPointTrack();
  if (log.Fixes().size() != 100000) {
    state.SkipWithError("track did not read");
    return;
  }
  const GeotagOptions options;
  for (auto _ : state) {
    int placed = 0;
    for (int i = 0; i < 10000; ++i) {
      // Photos spread over the whole track, most between two fixes.
      const GeotagFix fix = MatchTime(log, kStart + 50LL * i + 3, options);
      placed += fix.Placed() ? 1 : 0;
    }
    benchmark::DoNotOptimize(placed);
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Match10000PhotosAgainst100000Points)->Unit(benchmark::kMillisecond);

void BM_Read100000PointGpx(benchmark::State& state) {
  const std::string text = TrackText(100000);
  for (auto _ : state) {
    TrackLog log;
    benchmark::DoNotOptimize(log.AddBytes(text));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Read100000PointGpx)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
