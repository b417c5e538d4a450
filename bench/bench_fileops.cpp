// Copying a picture-sized file with XpCopyFile (temporary file, flush to disk,
// rename) against the standard library's copy, which does neither.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "xp/base/XpFileSystem.h"

namespace {

namespace fs = std::filesystem;

class BenchFolder {
 public:
  explicit BenchFolder(std::size_t size) {
    std::string pattern = (fs::temp_directory_path() / "tv-bench-XXXXXX").string();
    m_path = ::mkdtemp(pattern.data());
    std::ofstream out(Source(), std::ios::binary);
    const std::string block(1 << 16, 'p');
    for (std::size_t done = 0; done < size; done += block.size()) {
      out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
    }
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
  ~BenchFolder() { fs::remove_all(m_path); }
  [[nodiscard]] std::string Source() const { return m_path + "/source.jpg"; }
  [[nodiscard]] std::string Target() const { return m_path + "/target.jpg"; }

 private:
  std::string m_path;
};

void BM_XpCopyFile(benchmark::State& state) {
  const BenchFolder folder(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    XpCopyProgress progress;
    if (XpCopyFile(folder.Source(), folder.Target(), &progress) != XpStatus::Ok) {
      state.SkipWithError("copy failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_XpCopyFile)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

void BM_StdCopyFile(benchmark::State& state) {
  const BenchFolder folder(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    fs::copy_file(folder.Source(), folder.Target(), fs::copy_options::overwrite_existing);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StdCopyFile)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
