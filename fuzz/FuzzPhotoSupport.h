#pragma once

// What the photo-format fuzzers share: every range a container parser answers
// must lie inside the input, and the whole reading must run on it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace fuzzphoto {

inline void CheckRange(const XpByteRange& range, std::size_t size) {
  if (range.IsPresent() &&
      (range.length < 0 ||
       static_cast<std::uint64_t>(range.offset) + static_cast<std::uint64_t>(range.length) > size)) {
    std::abort();
  }
}

inline void CheckRanges(const XpPhotoLayout& layout, std::size_t size) {
  for (const XpByteRange* range : {&layout.tiff, &layout.hexExif, &layout.exifDirectory, &layout.gpsDirectory,
                                   &layout.xmp, &layout.jpeg, &layout.largeJpeg}) {
    CheckRange(*range, size);
  }
}

inline void ReadAll(std::span<const std::uint8_t> bytes) {
  XpMemoryFile file(bytes);
  XpPhotoMetadata::Reading reading;
  if (XpPhotoMetadata::Read(file, &reading) == XpStatus::Ok && reading.tree) {
    (void)reading.tree->Dump();
  }
}

}  // namespace fuzzphoto
