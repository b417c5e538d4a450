// Classifying pictures and reading their capture times, as the start-up and
// the picture loader do for every path, over the real camera files; and
// loading and saving hand-off lists of 1000 pictures.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/CContentsGroupList.h"
#include "xp/base/XpCaptureTime.h"
#include "xp/base/XpDateTime.h"
#include "xp/base/XpFileType.h"

namespace {

std::vector<std::string> CameraFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(TV_TESTDATA_DIR) + "/camera")) {
    if (entry.path().extension() == ".jpg") {
      files.push_back(entry.path().string());
    }
  }
  return files;
}

// One iteration classifies every camera file once; items are files.
void BM_ClassifyCameraFiles(benchmark::State& state) {
  const auto files = CameraFiles();
  for (auto _ : state) {
    for (const auto& file : files) {
      benchmark::DoNotOptimize(XpGetFileType(file));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
}
BENCHMARK(BM_ClassifyCameraFiles)->Unit(benchmark::kMillisecond);

void BM_CaptureTimeOfCameraFiles(benchmark::State& state) {
  const auto files = CameraFiles();
  for (auto _ : state) {
    for (const auto& file : files) {
      XpDateTime when;
      benchmark::DoNotOptimize(GetCaptureTime(file, when));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
}
BENCHMARK(BM_CaptureTimeOfCameraFiles)->Unit(benchmark::kMillisecond);

std::string HandOffText(int pictures) {
  CContentsGroupList list;
  (void)list.InitContentInfo("Browser");
  XpIniElement* group = list.AddGroup("Selection");
  for (int i = 0; i < pictures; ++i) {
    XpIniElement* entry = list.AddContent(group);
    (void)list.AddFile(entry, "/home/user/Pictures/2024/holiday/IMG_" + std::to_string(1000 + i) + ".jpg");
    (void)entry->Add("Selected", XpIniType::Bool, 1);
  }
  std::string text;
  (void)list.SaveText(text);
  return text;
}

void BM_LoadHandOffList(benchmark::State& state) {
  const std::string text = HandOffText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    CContentsGroupList list;
    benchmark::DoNotOptimize(list.LoadText(text));
    benchmark::DoNotOptimize(list.GetSelectedFiles());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LoadHandOffList)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_SaveHandOffList(benchmark::State& state) {
  CContentsGroupList list;
  (void)list.LoadText(HandOffText(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    std::string text;
    benchmark::DoNotOptimize(list.SaveText(text));
  }
}
BENCHMARK(BM_SaveHandOffList)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
