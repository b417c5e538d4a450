// Feeds arbitrary bytes to the photo metadata entry point: the format sniff,
// the TIFF-family headers (magic 42, 0x55, 0x4F52, 0x5352) and every
// container parser behind it, then walks what was read.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzPhotoSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  (void)XpPhotoMetadata::Sniff(bytes);
  {
    XpMemoryFile file(bytes);
    XpPhotoLayout layout;
    if (XpPhotoMetadata::Locate(file, &layout) == XpStatus::Ok) {
      fuzzphoto::CheckRanges(layout, size);
    }
  }
  XpMemoryFile file(bytes);
  XpPhotoMetadata::Reading reading;
  if (XpPhotoMetadata::Read(file, &reading) == XpStatus::Ok) {
    (void)reading.Ifd0();
    (void)reading.ExifIfd();
    (void)reading.GpsIfd();
    if (reading.exifTree) {
      (void)reading.exifTree->Dump();
    }
  }
  return 0;
}
