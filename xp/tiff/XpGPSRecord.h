#pragma once

#include <array>
#include <cstdint>
#include <string_view>

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

/// How a GPS tag's value is held in the record, which decides its TIFF type
/// and count in the directory.
enum class XpGPSKind : std::uint8_t {
  Version,      // XpGPSVer: 4 BYTEs
  Ref,          // XpGPSRef: one ASCII letter and its terminating zero
  AltitudeRef,  // XpGPSRef: one BYTE (0 above, 1 below sea level)
  Rational,     // XpGPSRational: one RATIONAL
  Rational3,    // XpGPSRational3: three RATIONALs
  Text,         // XpGPSAnyString: ASCII of any length
  Undefined,    // XpGPSUndef: UNDEFINED bytes of any length
  Date,         // XpGPSDateStamp: ASCII "YYYY:MM:DD"
  Short,        // XpGPSShort: one SHORT
};

/// One GPS tag: its number, name, kind and the record member that holds it.
struct XpGPSTagInfo {
  std::uint16_t tag;
  std::string_view name;
  XpGPSKind kind;
  XpGPSElement& (*element)(XpGPSRecord&);
};

/// Every GPS tag the record holds, indexed by tag number.
inline constexpr std::array<XpGPSTagInfo, XpGPSRecord::kTagCount> kXpGPSTagTable = {{
    {0, "GPSVersionID", XpGPSKind::Version, [](XpGPSRecord& r) -> XpGPSElement& { return r.version; }},
    {1, "GPSLatitudeRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.latitudeRef; }},
    {2, "GPSLatitude", XpGPSKind::Rational3, [](XpGPSRecord& r) -> XpGPSElement& { return r.latitude; }},
    {3, "GPSLongitudeRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.longitudeRef; }},
    {4, "GPSLongitude", XpGPSKind::Rational3, [](XpGPSRecord& r) -> XpGPSElement& { return r.longitude; }},
    {5, "GPSAltitudeRef", XpGPSKind::AltitudeRef, [](XpGPSRecord& r) -> XpGPSElement& { return r.altitudeRef; }},
    {6, "GPSAltitude", XpGPSKind::Rational, [](XpGPSRecord& r) -> XpGPSElement& { return r.altitude; }},
    {7, "GPSTimeStamp", XpGPSKind::Rational3, [](XpGPSRecord& r) -> XpGPSElement& { return r.timeStamp; }},
    {8, "GPSSatellites", XpGPSKind::Text, [](XpGPSRecord& r) -> XpGPSElement& { return r.satellites; }},
    {9, "GPSStatus", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.status; }},
    {10, "GPSMeasureMode", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.measureMode; }},
    {11, "GPSDOP", XpGPSKind::Rational, [](XpGPSRecord& r) -> XpGPSElement& { return r.dop; }},
    {12, "GPSSpeedRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.speedRef; }},
    {13, "GPSSpeed", XpGPSKind::Rational, [](XpGPSRecord& r) -> XpGPSElement& { return r.speed; }},
    {14, "GPSTrackRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.trackRef; }},
    {15, "GPSTrack", XpGPSKind::Rational, [](XpGPSRecord& r) -> XpGPSElement& { return r.track; }},
    {16, "GPSImgDirectionRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.imgDirectionRef; }},
    {17, "GPSImgDirection", XpGPSKind::Rational, [](XpGPSRecord& r) -> XpGPSElement& { return r.imgDirection; }},
    {18, "GPSMapDatum", XpGPSKind::Text, [](XpGPSRecord& r) -> XpGPSElement& { return r.mapDatum; }},
    {19, "GPSDestLatitudeRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.destLatitudeRef; }},
    {20, "GPSDestLatitude", XpGPSKind::Rational3, [](XpGPSRecord& r) -> XpGPSElement& { return r.destLatitude; }},
    {21, "GPSDestLongitudeRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.destLongitudeRef; }},
    {22, "GPSDestLongitude", XpGPSKind::Rational3, [](XpGPSRecord& r) -> XpGPSElement& { return r.destLongitude; }},
    {23, "GPSDestBearingRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.destBearingRef; }},
    {24, "GPSDestBearing", XpGPSKind::Rational, [](XpGPSRecord& r) -> XpGPSElement& { return r.destBearing; }},
    {25, "GPSDestDistanceRef", XpGPSKind::Ref, [](XpGPSRecord& r) -> XpGPSElement& { return r.destDistanceRef; }},
    {26, "GPSDestDistance", XpGPSKind::Rational, [](XpGPSRecord& r) -> XpGPSElement& { return r.destDistance; }},
    {27, "GPSProcessingMethod", XpGPSKind::Undefined,
     [](XpGPSRecord& r) -> XpGPSElement& { return r.processingMethod; }},
    {28, "GPSAreaInformation", XpGPSKind::Undefined, [](XpGPSRecord& r) -> XpGPSElement& { return r.areaInformation; }},
    {29, "GPSDateStamp", XpGPSKind::Date, [](XpGPSRecord& r) -> XpGPSElement& { return r.dateStamp; }},
    {30, "GPSDifferential", XpGPSKind::Short, [](XpGPSRecord& r) -> XpGPSElement& { return r.differential; }},
}};

static_assert(
    [] {
      for (std::size_t i = 0; i < kXpGPSTagTable.size(); ++i) {
        if (kXpGPSTagTable[i].tag != i) {
          return false;
        }
      }
      return true;
    }(),
    "the GPS tag table is indexed by tag number");
