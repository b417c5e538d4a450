// JPEG decoding and the thumbnail job on generated 12-megapixel photos.
//
// The photos are made here by the project's own encoder (quality 92, an Exif
// block with its thumbnail). They are written to $TV_BENCH_PHOTOS when that is
// set, so that bench/jpeg_peers.sh can time other programs on the very same
// files, and to a temporary folder otherwise.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpPixmapOps.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kPhotos = 3;
constexpr int kThumbBox = 550;

// Something that compresses like a photo: smooth light, texture and edges.
XpPixmapBGR24 MakePhoto(int seed) {
  XpPixmapBGR24 p;
  if (p.Create(kWidth, kHeight) != XpStatus::Ok) {
    std::abort();
  }
  std::uint32_t noise = 12345u + static_cast<std::uint32_t>(seed) * 7919u;
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = p.Row(y);
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int grain = static_cast<int>(noise >> 28) - 8;
      const double light = 0.5 + 0.5 * std::sin((x + seed * 300) * 0.0021) * std::cos(y * 0.0017);
      const bool edge = ((x / 250) + (y / 180) + seed) % 5 == 0;
      const int base = static_cast<int>(light * 200) + (edge ? 40 : 0);
      row[x * 3] = static_cast<std::uint8_t>(std::clamp(base / 2 + grain + (y * 60) / kHeight, 0, 255));
      row[x * 3 + 1] = static_cast<std::uint8_t>(std::clamp(base + grain, 0, 255));
      row[x * 3 + 2] = static_cast<std::uint8_t>(std::clamp(base + 30 - grain + (x * 40) / kWidth, 0, 255));
    }
  }
  return p;
}

class Photos {
 public:
  Photos() {
    if (const char* dir = std::getenv("TV_BENCH_PHOTOS"); dir != nullptr && *dir != '\0') {
      m_folder = dir;
      fs::create_directories(m_folder);
    } else {
      std::string pattern = (fs::temp_directory_path() / "tv-bench-jpeg-XXXXXX").string();
      m_folder = ::mkdtemp(pattern.data());
      m_temporary = true;
    }
    for (int i = 0; i < kPhotos; ++i) {
      const std::string path = m_folder + "/photo" + std::to_string(i) + ".jpg";
      if (!fs::exists(path)) {
        XpFile out(path);
        XpImageIoJpeg writer(92, "Terravue benchmark");
        if (out.Open(XpAbstractFile::kWrite) != XpStatus::Ok ||
            writer.Write(MakePhoto(i), nullptr, out) != XpStatus::Ok) {
          std::abort();
        }
      }
      m_paths.push_back(path);
    }
  }
  ~Photos() {
    if (m_temporary) {
      fs::remove_all(m_folder);
    }
  }
  [[nodiscard]] const std::vector<std::string>& Paths() const { return m_paths; }

 private:
  std::string m_folder;
  bool m_temporary = false;
  std::vector<std::string> m_paths;
};

const Photos& GetPhotos() {
  static const Photos photos;
  return photos;
}

void BM_DecodeFullSize(benchmark::State& state) {
  const auto& paths = GetPhotos().Paths();
  std::size_t i = 0;
  for (auto _ : state) {
    XpFile file(paths[i++ % paths.size()]);
    if (file.Open(XpAbstractFile::kRead | XpAbstractFile::kSequential) != XpStatus::Ok) {
      state.SkipWithError("open failed");
      break;
    }
    XpImageIoJpeg reader;
    auto pixmap = reader.Read(file, 0, 1, nullptr, true);
    if (pixmap == nullptr) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(pixmap->Data());
  }
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6, benchmark::Counter::kIsRate);
}

// What adding a picture does: decode at full size, turn upright, fit into
// 550 x 550, and write at quality 70 with the picture's Exif data.
void BM_ThumbnailJob(benchmark::State& state) {
  const auto& paths = GetPhotos().Paths();
  std::size_t i = 0;
  for (auto _ : state) {
    XpFile file(paths[i++ % paths.size()]);
    if (file.Open(XpAbstractFile::kRead | XpAbstractFile::kSequential) != XpStatus::Ok) {
      state.SkipWithError("open failed");
      break;
    }
    XpImageIoJpeg reader;
    auto pixmap = reader.Read(file, 0, 1, nullptr, true);
    if (pixmap == nullptr) {
      state.SkipWithError("decode failed");
      break;
    }
    const XpPixmapOps::Size fitted = XpPixmapOps::Fit(pixmap->Width(), pixmap->Height(), kThumbBox, kThumbBox);
    if (XpPixmapOps::Resize(*pixmap, fitted.width, fitted.height) != XpStatus::Ok) {
      state.SkipWithError("resize failed");
      break;
    }
    TagTreePtr tree;
    (void)reader.ReadTagTree(file, &tree, 0);
    XpImageIoJpeg writer(70, "Pictavo - Terravue");
    XpMemoryFile out;
    if (writer.Write(*pixmap, tree.get(), out) != XpStatus::Ok) {
      state.SkipWithError("write failed");
      break;
    }
    benchmark::DoNotOptimize(out.Data());
  }
}

// The resampling step alone: 4000 x 3000 to 550 x 412 (two area passes).
void BM_ResizeTo550(benchmark::State& state) {
  const XpPixmapBGR24 photo = MakePhoto(0);
  for (auto _ : state) {
    XpPixmapBGR24 out;
    if (out.Create(550, 412) != XpStatus::Ok || XpPixmapOps::Resample(photo, out) != XpStatus::Ok) {
      state.SkipWithError("resample failed");
      break;
    }
    benchmark::DoNotOptimize(out.Data());
  }
}

BENCHMARK(BM_DecodeFullSize)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ThumbnailJob)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ResizeTo550)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
