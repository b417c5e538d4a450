// Feeds arbitrary bytes to the WebP RIFF chunk walk (EXIF and "XMP " chunks)
// and then reads the whole file's metadata.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzPhotoSupport.h"
#include "xp/formats/XpChunkedFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  {
    XpMemoryFile file(bytes);
    XpPhotoLayout layout;
    if (XpChunkedFormats::LocateWebp(file, &layout) == XpStatus::Ok) {
      fuzzphoto::CheckRanges(layout, size);
    }
  }
  fuzzphoto::ReadAll(bytes);
  return 0;
}
