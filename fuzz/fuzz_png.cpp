// Feeds arbitrary bytes to the PNG chunk walk (eXIf, iTXt XMP, the hex Exif
// text chunk) and then reads the whole file's metadata.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "fuzz/FuzzPhotoSupport.h"
#include "xp/formats/XpChunkedFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  {
    XpMemoryFile file(bytes);
    XpPhotoLayout layout;
    if (XpChunkedFormats::LocatePng(file, &layout) == XpStatus::Ok) {
      fuzzphoto::CheckRanges(layout, size);
    }
  }
  std::vector<std::uint8_t> decoded;
  (void)XpChunkedFormats::DecodeHexProfile(std::string_view(reinterpret_cast<const char*>(data), size), 1 << 16,
                                           &decoded);
  fuzzphoto::ReadAll(bytes);
  return 0;
}
