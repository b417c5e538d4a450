// Feeds arbitrary bytes to the RAF header reader and the Exif search in its
// embedded JPEG, then reads the whole file's metadata.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzPhotoSupport.h"
#include "xp/formats/XpChunkedFormats.h"
#include "xp/formats/XpFormatReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  {
    XpMemoryFile file(bytes);
    XpPhotoLayout layout;
    (void)XpChunkedFormats::LocateRaf(file, &layout);
    fuzzphoto::CheckRanges(layout, size);
  }
  {
    XpMemoryFile file(bytes);
    XpByteRange tiff;
    if (XpFormatReader::LocateJpegExif(file, 0, static_cast<std::int64_t>(size), &tiff) == XpStatus::Ok) {
      fuzzphoto::CheckRange(tiff, size);
    }
  }
  fuzzphoto::ReadAll(bytes);
  return 0;
}
