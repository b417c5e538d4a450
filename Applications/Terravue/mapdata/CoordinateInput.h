#pragma once

#include <string>
#include <string_view>

#include "xp/base/XpStatus.h"
#include "xp/tiff/XpGPSElement.h"

/// A latitude or longitude typed by a user, as it will be written into a
/// picture's GPS directory.
struct CoordinateInput {
  XpStatus status = XpStatus::BadCoordinate;  ///< 0, or 0x860B with `reason`
  std::string reason;                         ///< why the text was refused, for one line of output
  XpGPSRef ref;                               ///< "N", "S", "E" or "W"
  XpGPSRational3 rationals;                   ///< degrees, minutes, seconds
};

/// Most decimal places a typed value may have: with more, seconds or minutes
/// no longer fit an Exif rational exactly.
inline constexpr int kMaxCoordinateDecimals = 7;

/// Reads a coordinate the way it is typed and converts it exactly:
/// - the map's coordinate text ("N:35:37:32.828"), checked by
///   ValidateCoordinateText and converted as the map converts it;
/// - decimal degrees, signed or with a letter ("35.6258", "-139.74",
///   "139.74W", "35.6258°N");
/// - degrees, minutes and seconds, or degrees and decimal minutes, with the
///   hemisphere letter in front or behind and ':', spaces, ',', °, ', ",
///   ′ or ″ between the numbers ("35°37'32.8\"N", "N 35 37.5467",
///   "N:35:37:32.8", "35,37.5467N").
/// Only the last number may have decimals, at most kMaxCoordinateDecimals of
/// them; minutes and seconds are below 60, whole degrees at most 90
/// (latitude) or 180. A sign and a letter together, a letter of the other
/// axis, or anything else left over is refused with a reason.
[[nodiscard]] CoordinateInput ParseCoordinateInput(std::string_view text, bool latitude);
