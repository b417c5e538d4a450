// Feeds arbitrary bytes to the ISOBMFF box reader as a HEIF file and as a CR3
// file, then reads every range it found the way the program does.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzPhotoSupport.h"
#include "xp/formats/XpIsoBmff.h"
#include "xp/image/XpMemoryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  (void)XpIsoBmff::SniffBrand(bytes);
  {
    XpMemoryFile file(bytes);
    XpPhotoLayout layout;
    if (XpIsoBmff::LocateHeif(file, &layout) == XpStatus::Ok) {
      fuzzphoto::CheckRanges(layout, size);
    }
  }
  {
    XpMemoryFile file(bytes);
    XpPhotoLayout layout;
    if (XpIsoBmff::LocateCr3(file, &layout) == XpStatus::Ok) {
      fuzzphoto::CheckRanges(layout, size);
    }
  }
  fuzzphoto::ReadAll(bytes);
  return 0;
}
