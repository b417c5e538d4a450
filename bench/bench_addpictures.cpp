// Adding pictures to a map, photo by photo, over 20 generated 12-megapixel
// photos with a position and a capture time; beside it the same work done by
// common tools: vipsthumbnail making the 550-pixel thumbnail and exiftool
// reading the position and the capture time. Each repetition handles one
// photo, so the medians are per photo.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "xp/base/XpDateTime.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpPixmap.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

constexpr int kPhotos = 20;
constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

struct PhotoSet {
  std::string folder;
  std::vector<std::string> photos;

  PhotoSet() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tv_bench_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    folder = pattern;
    std::filesystem::create_directory(folder + "/thumbs");
    for (int i = 0; i < kPhotos; ++i) {
      photos.push_back(Make(i));
    }
  }
  ~PhotoSet() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }

  // A smooth scene with fine texture, so the file has a camera-like size.
  std::string Make(int index) const {
    XpPixmapBGR24 pixmap;
    if (pixmap.Create(kWidth, kHeight) != XpStatus::Ok) {
      std::exit(1);
    }
    std::uint32_t noise = 2463534242u + static_cast<std::uint32_t>(index);
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* row = pixmap.Row(y);
      for (int x = 0; x < kWidth; ++x) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        const int grain = static_cast<int>(noise & 15);
        row[3 * x + 0] = static_cast<std::uint8_t>((x * 255 / kWidth + grain + index * 7) & 255);
        row[3 * x + 1] = static_cast<std::uint8_t>((y * 255 / kHeight + grain) & 255);
        row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) / 32 * 16 + grain) & 255);
      }
    }
    const std::string path = folder + "/photo_" + std::to_string(index) + ".jpg";
    XpImageIoJpeg writer(/*quality=*/92, "Terravue benchmark");
    writer.SetFixedTime(XpDateTime(2020, 5, 1 + index, 10, index, 0));
    XpFile file(path);
    if (file.Open(XpAbstractFile::kWrite) != XpStatus::Ok || writer.Write(pixmap, nullptr, file) != XpStatus::Ok) {
      std::exit(1);
    }
    (void)file.Close();
    XpGPSRecord gps;
    const std::string latitude = "N:35:" + std::to_string(10 + index) + ":32.828";
    (void)TextToRationals(latitude, &gps.latitudeRef, &gps.latitude, /*latitude=*/true);
    (void)TextToRationals("E:139:44:31.338", &gps.longitudeRef, &gps.longitude, /*latitude=*/false);
    if (XpExifRewrite::WriteGPS(path, gps) != XpStatus::Ok) {
      std::exit(1);
    }
    return path;
  }
};

const PhotoSet& Photos() {
  static const PhotoSet set;
  return set;
}

void BM_AddPictures(benchmark::State& state) {
  const PhotoSet& set = Photos();
  static int next = 0;
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  for (auto _ : state) {
    PictureList list;
    const bool ok = list.AddPictures({set.photos[static_cast<std::size_t>(next++ % kPhotos)]}, set.folder + "/thumbs",
                                     progress, keepGoing);
    if (!ok || list.Count() != 1 || list.At(0).m_latitude == kNoLatitudeText) {
      state.SkipWithError("adding the photo failed");
    }
    benchmark::DoNotOptimize(list);
  }
}
BENCHMARK(BM_AddPictures)
    ->Iterations(1)
    ->Repetitions(kPhotos)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_PeerVipsthumbnailAndExiftool(benchmark::State& state) {
  const PhotoSet& set = Photos();
  static int next = 0;
  for (auto _ : state) {
    const std::string& photo = set.photos[static_cast<std::size_t>(next++ % kPhotos)];
    const std::string command = "vipsthumbnail '" + photo + "' -s 550 -o '" + set.folder +
                                "/thumbs/peer_%s.jpg[Q=70]' && LC_ALL=C exiftool -q -n -GPSLatitude -GPSLongitude "
                                "-DateTimeOriginal '" +
                                photo + "' > /dev/null";
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("a peer tool failed or is missing");
    }
  }
}
BENCHMARK(BM_PeerVipsthumbnailAndExiftool)
    ->Iterations(1)
    ->Repetitions(kPhotos)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
