// Feeds arbitrary bytes to the JPEG reader: full decoding (reduction chosen
// from the input length), the embedded thumbnail, the colour profile and the
// image size. Every input must end in a status, never a crash or a leak.

#include <cstddef>
#include <cstdint>
#include <span>

#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpMemoryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  // Small limits keep each run fast and inside the fuzzer's memory budget;
  // the refusal path is the same as for the default limits.
  constexpr std::uint64_t kMaxPixels = 4'000'000;
  constexpr long kLibraryMemory = 64L * 1024 * 1024;

  {
    XpMemoryFile file(bytes);
    XpImageIoJpeg io;
    io.SetLimits(kMaxPixels, kLibraryMemory);
    const int reduction = 1 << (size % 4);
    const auto pixmap = io.Read(file, 0, reduction, nullptr, /*convertColour=*/true);
    if (pixmap != nullptr && (pixmap->Width() <= 0 || pixmap->Height() <= 0)) {
      __builtin_trap();
    }
  }
  {
    XpMemoryFile file(bytes);
    XpImageIoJpeg io;
    io.SetLimits(kMaxPixels, kLibraryMemory);
    (void)io.ReadThumbnail(file, 0);
    (void)io.ReadIccProfile(file, 0);
    XpPixmapOps::Size size;
    (void)io.ReadImageInfo(file, 0, &size, false);
  }
  return 0;
}
