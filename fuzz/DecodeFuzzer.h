#pragma once
// The one body of the pixel decoders' fuzzers: arbitrary bytes decoded as
// `format` with a pixel bound small enough that every input decodes quickly;
// the answer must agree with what was made, and stay inside the bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "xp/formats/XpFormatDecode.h"
#include "xp/image/XpMemoryFile.h"

inline int FuzzDecode(const std::uint8_t* data, std::size_t size, XpPhotoFormat format) {
  constexpr std::int64_t kMaxPixels = std::int64_t{1} << 20;
  XpMemoryFile file(std::span<const std::uint8_t>(data, size));
  XpFormatDecode::Picture picture;
  const XpStatus status = XpFormatDecode::Decode(file, format, 64, &picture, kMaxPixels);
  if ((status == XpStatus::Ok) != (picture.pixmap != nullptr)) {
    std::abort();
  }
  if (picture.pixmap != nullptr &&
      static_cast<std::int64_t>(picture.pixmap->Width()) * picture.pixmap->Height() > kMaxPixels) {
    std::abort();
  }
  return 0;
}
