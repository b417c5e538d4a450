// Feeds arbitrary bytes to the track-log content check: it must answer
// without reading past the bytes given, and must not depend on what follows
// the bytes it looks at.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Applications/Terravue/mapdata/TrackSniff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool answer = LooksLikeTrackLog(bytes);
  if (size >= kTrackSniffBytes && LooksLikeTrackLog(std::string(bytes) + "tail") != answer) {
    std::abort();
  }
  return 0;
}
