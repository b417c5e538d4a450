// The offline place index: reading the whole index, the memory it holds, a search for every
// keystroke of names as a user types them (the answer must come within 30 ms of each), and the
// nearest place to a position.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"

namespace {

const std::string kIndexPath = std::string(TV_SOURCE_DIR) + "/data/places/places.tvp";

const PlaceIndex& WholeIndex() {
  static const PlaceIndex index = [] {
    PlaceIndex loaded;
    if (loaded.LoadFile(kIndexPath) != XpStatus::Ok) {
      std::abort();
    }
    return loaded;
  }();
  return index;
}

// Every beginning of each text, as the search box sees them while the user types.
std::vector<std::string> Keystrokes(const std::vector<std::string>& texts) {
  std::vector<std::string> typed;
  for (const std::string& text : texts) {
    for (std::size_t n = 1; n <= text.size(); ++n) {
      // Stop inside a UTF-8 sequence only where the user would: after the whole character.
      if (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        continue;
      }
      typed.push_back(text.substr(0, n));
    }
  }
  return typed;
}

void BM_PlaceIndexLoad(benchmark::State& state) {
  std::size_t memory = 0;
  for (auto _ : state) {
    PlaceIndex index;
    if (index.LoadFile(kIndexPath) != XpStatus::Ok) {
      state.SkipWithError("the place index did not load");
      return;
    }
    memory = index.MemoryBytes();
    benchmark::DoNotOptimize(index.Size());
  }
  state.counters["memory_MB"] = static_cast<double>(memory) / (1024.0 * 1024.0);
  state.counters["places"] = static_cast<double>(WholeIndex().Size());
}
BENCHMARK(BM_PlaceIndexLoad)->Unit(benchmark::kMillisecond);

// Typing names letter by letter; the time per keystroke is the figure to watch (goal: 30 ms), in
// wall-clock time as the user waits for it.
void TypeNames(benchmark::State& state, const std::vector<std::string>& texts, bool near) {
  const PlaceIndex& index = WholeIndex();
  const std::vector<std::string> typed = Keystrokes(texts);
  const std::optional<GeoPoint> point = near ? std::optional<GeoPoint>(GeoPoint{48.2, 11.6}) : std::nullopt;
  for (auto _ : state) {
    for (const std::string& text : typed) {
      benchmark::DoNotOptimize(index.Search(text, 10, point));
    }
  }
  state.counters["keystrokes"] = static_cast<double>(typed.size());
  state.counters["per_keystroke"] = benchmark::Counter(
      static_cast<double>(typed.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

const std::vector<std::string> kNames = {"San Francisco", "München", "Kyoto", "Paris, Texas", "Springfield",
                                         "Saint-Étienne", "Zürich",  "京都",  "New York"};

void BM_PlaceSearchTyping(benchmark::State& state) { TypeNames(state, kNames, /*near=*/false); }
BENCHMARK(BM_PlaceSearchTyping)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlaceSearchTypingNearAPoint(benchmark::State& state) { TypeNames(state, kNames, /*near=*/true); }
BENCHMARK(BM_PlaceSearchTypingNearAPoint)->Unit(benchmark::kMillisecond)->UseRealTime();

// The slowest keystrokes: the first letter matches the most names.
void BM_PlaceSearchFirstLetter(benchmark::State& state) { TypeNames(state, {"s", "b", "m", "k", "a"}, /*near=*/true); }
BENCHMARK(BM_PlaceSearchFirstLetter)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlaceNearest(benchmark::State& state) {
  const PlaceIndex& index = WholeIndex();
  double lat = -60.0;
  for (auto _ : state) {
    lat = lat > 60.0 ? -60.0 : lat + 7.3;
    benchmark::DoNotOptimize(index.Nearest(GeoPoint{lat, lat * 2.5}));
  }
}
BENCHMARK(BM_PlaceNearest)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
