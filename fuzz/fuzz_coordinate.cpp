// Checks coordinate texts as they come from the map page and as a user types
// them: no text crashes the checks, and every text they accept converts to
// rationals and degrees within the range of its form, so nothing out of range
// reaches a picture.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/CoordinateInput.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const bool latitude = (data[0] & 1U) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const CoordinateInput typed = ParseCoordinateInput(text, latitude);
  if (typed.status == XpStatus::Ok) {
    double typedDegrees = 0;
    if (!RationalsToDegrees(typed.ref, typed.rationals, &typedDegrees) ||
        !(std::fabs(typedDegrees) <= (latitude ? 90.0 : 180.0)) || !typed.reason.empty()) {
      std::abort();
    }
    // Minutes and seconds below 60 of their unit.
    for (std::size_t i = 1; i < 3; ++i) {
      if (typed.rationals.denominators[i] == 0 ||
          typed.rationals.numerators[i] / typed.rationals.denominators[i] >= 60) {
        std::abort();
      }
    }
  } else if (typed.status != XpStatus::BadCoordinate || typed.reason.empty()) {
    std::abort();
  }
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
