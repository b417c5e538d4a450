#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"
#include "xp/base/XpStatus.h"

/// The time zone of a place on a given day.
struct ZoneAnswer {
  std::string zone;             ///< tz database name ("Asia/Tokyo", "Etc/GMT-9" at sea)
  int offsetSeconds = 0;        ///< the zone's UTC offset (daylight saving included) at the instant asked for
  bool daylightSaving = false;  ///< the offset includes daylight saving time
  /// A point 0.25° away (north, south, east, west or diagonal) is in a zone with another offset at
  /// that instant: the border is near and the map is coarse there.
  bool uncertain = false;
};

/// The UTC offset of the tz database zone `zone` at `utcMillis` (milliseconds since 1970 UTC)
/// through ICU's zone data. UnknownTimeZone for a name ICU does not know.
[[nodiscard]] XpStatus ZoneOffsetAtUtc(std::string_view zone, std::int64_t utcMillis, int* offsetSeconds,
                                       bool* daylightSaving = nullptr);
/// The UTC offset of `zone` for a wall-clock time there (`localMillis`: the local date and time
/// counted as if it were UTC). A wall time skipped by a change to daylight saving time counts
/// with the offset before the change; one that happens twice, with the first (daylight) offset.
[[nodiscard]] XpStatus ZoneOffsetAtLocal(std::string_view zone, std::int64_t localMillis, int* offsetSeconds);
/// "+09:00", "-03:30", "+00:00".
[[nodiscard]] std::string ZoneOffsetText(int offsetSeconds);

/// The offline map of the world's time zones (the file zones.tvz, made by
/// data/zones/generate_zones.py from OpenStreetMap data by way of timezone-boundary-builder).
///
/// The map is a grid of 48 × 24 cells of 7.5°, each either one zone or split into four quadrants,
/// recursively, down to where the zone borders are. It answers the zone that covers most of the
/// populated land of a small cell, so near a border the answer may be the neighbour's: Lookup
/// reports that as uncertain.
///
/// The file is outside data: every count and entry is checked when it is read (a quadrant always
/// points to a later node, so a lookup ends within the node count and never loops), the file
/// must be exactly as long as its counts say, and a file failing any check is refused as a whole
/// with TimeZoneDataInvalid (TimeZoneDataTooLarge above kMaxFileBytes).
class TimeZoneIndex {
 public:
  /// The largest map file read (the real one is about 72 KB).
  static constexpr std::uint64_t kMaxFileBytes = 4ull * 1024 * 1024;
  /// How far away the neighbours are that decide whether an answer is uncertain.
  static constexpr double kNeighbourDegrees = 0.25;

  /// Reads the map file at `path`. Answers the open or read status of the file,
  /// TimeZoneDataTooLarge or TimeZoneDataInvalid; on failure the map is unchanged.
  [[nodiscard]] XpStatus LoadFile(const std::string& path);
  /// The same for the bytes of a map file already in memory.
  [[nodiscard]] XpStatus LoadBytes(std::string_view bytes);

  /// The zone name at `point`; nothing when no map is loaded or the point is out of range
  /// (latitude -90 to 90, longitude -180 to 180).
  [[nodiscard]] std::optional<std::string_view> ZoneAt(const GeoPoint& point) const;

  /// The zone at `point` and its offset at `utcMillis`, with the uncertainty near borders.
  /// BadCoordinate for a point out of range, TimeZoneDataInvalid when no map is loaded,
  /// UnknownTimeZone when ICU does not know the zone the map names.
  [[nodiscard]] XpStatus Lookup(const GeoPoint& point, std::int64_t utcMillis, ZoneAnswer* answer) const;

  /// The number of zone names and of nodes.
  [[nodiscard]] std::size_t ZoneCount() const { return m_zones.size(); }
  [[nodiscard]] std::size_t NodeCount() const { return m_nodes.size() / 4; }

 private:
  static constexpr std::uint16_t kZoneFlag = 0x8000;

  std::vector<std::string> m_zones;
  std::vector<std::uint16_t> m_top;    ///< 48 × 24 entries, row by row from the north-west
  std::vector<std::uint16_t> m_nodes;  ///< four entries a node: NW, NE, SW, SE
};
