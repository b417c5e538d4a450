// The classifier's content checks over arbitrary file prefixes: the first byte
// picks the check, the rest is the file's start. Every input must give one of
// the check's codes without reading outside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "xp/base/XpFileType.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::span<const std::uint8_t> prefix(data + 1, size - 1);
  FileTypeCode code = 0;
  switch (data[0] % 3) {
    case 0:
      code = XpFileTypeChecks::MpegProgramStream(prefix);
      break;
    case 1:
      code = XpFileTypeChecks::TransportStream(prefix);
      break;
    default:
      code = XpFileTypeChecks::Avi(prefix);
      break;
  }
  if (code == 0) {
    std::abort();
  }
  return 0;
}
