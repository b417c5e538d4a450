// Exif location and tag tree parsing per file, over the camera JPEGs of the
// test material: from memory (the parser alone) and from disk (with the file
// opened and read through the stream, as the picture list does).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

struct Material {
  std::vector<std::string> paths;
  std::vector<std::vector<std::uint8_t>> bytes;
};

const Material& TestMaterial() {
  static const Material material = [] {
    Material m;
    const std::filesystem::path dir = std::filesystem::path(TV_TESTDATA_DIR) / "camera";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path().extension() != ".jpg") {
        continue;
      }
      std::ifstream in(entry.path(), std::ios::binary);
      m.paths.push_back(entry.path().string());
      m.bytes.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return m;
  }();
  return material;
}

void BM_ExifFromMemory(benchmark::State& state) {
  const Material& m = TestMaterial();
  std::size_t loaded = 0;
  for (auto _ : state) {
    for (const auto& bytes : m.bytes) {
      XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
      TagTreePtr tree;
      if (XpJpegExif::ReadTagTree(file, &tree) == XpStatus::Ok) {
        ++loaded;
      }
      benchmark::DoNotOptimize(tree);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * m.bytes.size()));
  state.counters["files"] = static_cast<double>(m.bytes.size());
  state.counters["per_file_us"] =
      benchmark::Counter(static_cast<double>(state.iterations() * m.bytes.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::OneK::kIs1000);
  benchmark::DoNotOptimize(loaded);
}
BENCHMARK(BM_ExifFromMemory)->Unit(benchmark::kMillisecond);

void BM_ExifFromDisk(benchmark::State& state) {
  const Material& m = TestMaterial();
  for (auto _ : state) {
    for (const auto& path : m.paths) {
      TagTreePtr tree;
      benchmark::DoNotOptimize(XpJpegExif::ReadTagTree(path, &tree));
      benchmark::DoNotOptimize(tree);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * m.paths.size()));
}
BENCHMARK(BM_ExifFromDisk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
