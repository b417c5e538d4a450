#pragma once

#include <string>
#include <string_view>

#include "xp/base/XpStatus.h"
#include "xp/tiff/XpGPSElement.h"

/// A latitude or longitude as text: hemisphere letter, ":", degrees (at least
/// two digits for a latitude, three for a longitude), ":", minutes, ":",
/// seconds, ".", milliseconds, as in "N:35:37:32.828". Held in UTF-8.
using CoordinateText = std::string;

/// The texts that mean "no position".
inline constexpr std::string_view kNoLatitudeText = "X:99:99:99.999";
inline constexpr std::string_view kNoLongitudeText = "X:999:99:99.999";

/// The placeholder of the given form.
[[nodiscard]] inline std::string_view NoPositionText(bool latitude) {
  return latitude ? kNoLatitudeText : kNoLongitudeText;
}

/// Converts a reference letter and degree/minute/second rationals to decimal
/// degrees, negative for "S" and "W". False (and `*degrees` untouched) when the
/// rationals are not valid or a denominator is 0. Computed in extended
/// precision: seconds x 0.0002777777777777778 + minutes x 0.016666666666666666
/// + degrees.
[[nodiscard]] bool RationalsToDegrees(const XpGPSRef& ref, const XpGPSRational3& rationals, double* degrees);

/// The digits part of a coordinate text for `degrees` (its absolute value):
/// "DD:MM:SS.mmm" with `latitude`, "DDD:MM:SS.mmm" without. Every step
/// truncates; nothing is rounded, nothing is clipped (100 degrees print three
/// digits in latitude form).
[[nodiscard]] std::string DegreesToText(double degrees, bool latitude);

/// Parses a coordinate text into a reference letter (its first character) and
/// rationals D/1, M/1, (S x 1000 + ms)/1000. False, filling nothing, for an
/// empty text, a placeholder, or a field with a minus sign (which could only
/// produce a wrapped-around unsigned rational). A field that does not scan is 0.
[[nodiscard]] bool TextToRationals(std::string_view text, XpGPSRef* ref, XpGPSRational3* rationals, bool latitude);

/// Checks a coordinate text before it is written into a picture: the form
/// letter, ":", degrees (one to three digits), ":", minutes (one or two), ":",
/// seconds (one or two), and optionally "." with exactly three digits of
/// milliseconds, nothing else. The letter must be "N" or "S" for a latitude
/// and "E" or "W" for a longitude; minutes and seconds must be below 60 and
/// the value at most 90 (latitude) or 180 (longitude) degrees. Answers 0, or
/// 0x860B for anything else (the no-position placeholders included).
[[nodiscard]] XpStatus ValidateCoordinateText(std::string_view text, bool latitude);

/// The coordinate text the picture list shows for a position read from a
/// picture: the reference letter, ":" and DegreesToText, or the placeholder
/// when the rationals do not convert. A missing or unprintable letter is shown
/// as the positive hemisphere ("N" or "E"), matching the positive value.
[[nodiscard]] CoordinateText CoordinateTextFromGPS(const XpGPSRef& ref, const XpGPSRational3& rationals, bool latitude);
