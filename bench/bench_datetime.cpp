// Date-time values on the picture-loading path: every picture's capture time
// is parsed from its Exif text, read back into fields and shown as the user's
// short date and time.
#include <benchmark/benchmark.h>

#include "xp/base/XpDateTime.h"

namespace {

void BM_ParseExifText(benchmark::State& state) {
  XpDateTime value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(value.Parse("2007:03:07 09:05:03", "%04d:%02d:%02d %02d:%02d:%02d"));
  }
}
BENCHMARK(BM_ParseExifText);

void BM_GetFields(benchmark::State& state) {
  const XpDateTime value(2007, 3, 7, 9, 5, 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(value.GetFields());
  }
}
BENCHMARK(BM_GetFields);

void BM_FormatShortDateAndTime(benchmark::State& state) {
  const XpDateTime value(2007, 3, 7, 9, 5, 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(value.Format(XpDateTime::kShortDate, XpDateTime::kMinutes, false, "en_US"));
  }
}
BENCHMARK(BM_FormatShortDateAndTime);

}  // namespace

BENCHMARK_MAIN();
