// Reads any text as a pasted position: no text crashes the reader, and every position it
// answers lies on the earth.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/LocationText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto point = ParseLocationText(text);
  if (!point) {
    return 0;
  }
  if (!(std::fabs(point->latitude) <= 90.0) || !(std::fabs(point->longitude) <= 180.0) ||
      std::signbit(point->latitude) != (point->latitude < 0) ||
      std::signbit(point->longitude) != (point->longitude < 0)) {
    std::abort();
  }
  return 0;
}
