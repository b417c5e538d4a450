#pragma once

#include <cstdint>

#include "xp/tiff/XpGPSElement.h"

/// The in-memory copy of an Exif GPS directory: one element per GPS tag 0 to
/// 30, each with its valid flag. A new record has every element invalid. The
/// tag directory fills it (XpTiffTagIFD::GetGPSRecord) and is filled from it
/// (XpTiffTagIFD::SetGPSRecord).
class XpGPSRecord {
 public:
  static constexpr std::uint16_t kTagCount = 31;

  /// Resets every element.
  void Reset();
  /// The element of GPS tag `tag` (0..30), or null for another tag.
  [[nodiscard]] XpGPSElement* Element(std::uint16_t tag);
  [[nodiscard]] const XpGPSElement* Element(std::uint16_t tag) const;

  XpGPSVer version;              // 0
  XpGPSRef latitudeRef;          // 1
  XpGPSRational3 latitude;       // 2
  XpGPSRef longitudeRef;         // 3
  XpGPSRational3 longitude;      // 4
  XpGPSRef altitudeRef;          // 5 (a byte)
  XpGPSRational altitude;        // 6
  XpGPSRational3 timeStamp;      // 7
  XpGPSAnyString satellites;     // 8
  XpGPSRef status;               // 9
  XpGPSRef measureMode;          // 10
  XpGPSRational dop;             // 11
  XpGPSRef speedRef;             // 12
  XpGPSRational speed;           // 13
  XpGPSRef trackRef;             // 14
  XpGPSRational track;           // 15
  XpGPSRef imgDirectionRef;      // 16
  XpGPSRational imgDirection;    // 17
  XpGPSAnyString mapDatum;       // 18
  XpGPSRef destLatitudeRef;      // 19
  XpGPSRational3 destLatitude;   // 20
  XpGPSRef destLongitudeRef;     // 21
  XpGPSRational3 destLongitude;  // 22
  XpGPSRef destBearingRef;       // 23
  XpGPSRational destBearing;     // 24
  XpGPSRef destDistanceRef;      // 25
  XpGPSRational destDistance;    // 26
  XpGPSUndef processingMethod;   // 27
  XpGPSUndef areaInformation;    // 28
  XpGPSDateStamp dateStamp;      // 29
  XpGPSShort differential;       // 30
};
