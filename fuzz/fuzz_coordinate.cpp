// Checks coordinate texts as they come from the map page: no text crashes the
// check, and every text it accepts converts to rationals and degrees within
// the range of its form, so nothing out of range reaches a picture.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/CoordinateText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const bool latitude = (data[0] & 1U) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (ValidateCoordinateText(text, latitude) != XpStatus::Ok) {
    return 0;
  }
  XpGPSRef ref;
  XpGPSRational3 rationals;
  double degrees = 0;
  if (!TextToRationals(text, &ref, &rationals, latitude) || !RationalsToDegrees(ref, rationals, &degrees)) {
    std::abort();
  }
  if (!(std::fabs(degrees) <= (latitude ? 90.0 : 180.0))) {
    std::abort();
  }
  if (rationals.numerators[1] >= 60 || rationals.numerators[2] >= 60000) {
    std::abort();
  }
  return 0;
}
