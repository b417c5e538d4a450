// Feeds arbitrary bytes to the PNG (libpng) pixel decoder, with a pixel bound
// small enough that every input decodes quickly, and checks what it answers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "xp/formats/XpFormatDecode.h"
#include "xp/image/XpMemoryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  XpMemoryFile file(std::span<const std::uint8_t>(data, size));
  XpFormatDecode::Picture picture;
  const XpStatus status = XpFormatDecode::Decode(file, XpPhotoFormat::Png, 64, &picture, std::int64_t{1} << 20);
  if ((status == XpStatus::Ok) != (picture.pixmap != nullptr)) {
    std::abort();
  }
  if (picture.pixmap != nullptr &&
      static_cast<std::int64_t>(picture.pixmap->Width()) * picture.pixmap->Height() > (std::int64_t{1} << 20)) {
    std::abort();
  }
  return 0;
}
