// Feeds arbitrary bytes to the WebP (libwebp) pixel decoder.
#include "fuzz/DecodeFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzDecode(data, size, XpPhotoFormat::Webp);
}
