#include "Applications/Terravue/mapdata/TimeZoneIndex.h"

#include <unicode/basictz.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

#include "xp/base/XpFileRead.h"

namespace {

// Layout of zones.tvz (little-endian): the magic, the zone count, the node count and the cell
// count (u32 each); each zone name as a length byte and its ASCII text; the cells (u16 each, row
// by row from the north-west); the nodes (four u16 each). An entry with the top bit set is a zone
// index, any other the index of a node.
constexpr std::string_view kMagic = "TVZONES1";
constexpr std::size_t kHeaderBytes = 8 + 3 * 4;
constexpr int kColumns = 48;
constexpr int kRows = 24;
constexpr std::size_t kCellCount = static_cast<std::size_t>(kColumns) * kRows;
constexpr std::size_t kMaxNameBytes = 64;
constexpr std::size_t kMaxZones = 0x8000;
// Each level halves a cell; past this depth a cell is smaller than a double tells apart.
constexpr int kMaxDepth = 48;
// Slightly more than a full turn and a half turn, so that longitude 180 and latitude -90 stay in
// the last column and row.
constexpr double kTurnDegrees = 360.00000000000006;
constexpr double kHalfTurnDegrees = 180.00000000000003;
constexpr double kMillisPerSecond = 1000.0;

std::uint16_t U16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

std::uint32_t U32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(U16(bytes, at)) | (static_cast<std::uint32_t>(U16(bytes, at + 2)) << 16);
}

// Zone names as the tz database writes them: letters, digits and _ + - /.
bool IsZoneName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) {
    return false;
  }
  for (const char ch : name) {
    const bool letter = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9');
    if (!letter && ch != '_' && ch != '+' && ch != '-' && ch != '/') {
      return false;
    }
  }
  return true;
}

bool InRange(const GeoPoint& point) {
  return point.latitude >= -90.0 && point.latitude <= 90.0 && point.longitude >= -180.0 && point.longitude <= 180.0;
}

// Zones newer than the zone data of some ICU builds, each with the zone whose offsets it had
// before and after it was split off (from `since`, milliseconds since 1970 UTC), for an ICU that
// does not know it yet.
struct NewerZone {
  std::string_view zone;
  std::string_view before;
  std::string_view after;
  std::int64_t since;
};
constexpr std::array<NewerZone, 2> kNewerZones = {{
    // Ciudad Juárez has kept US mountain time since 30 November 2022, as it did from 2010.
    {"America/Ciudad_Juarez", "America/Denver", "America/Denver", 0},
    // Aysén kept -03:00 when the rest of Chile went back to -04:00 on 6 April 2025 (03:00 UTC).
    {"America/Coyhaique", "America/Santiago", "America/Punta_Arenas", 1743908400000},
}};

std::unique_ptr<icu::TimeZone> CreateZone(std::string_view zone) {
  std::unique_ptr<icu::TimeZone> tz(icu::TimeZone::createTimeZone(
      icu::UnicodeString::fromUTF8(icu::StringPiece(zone.data(), static_cast<std::int32_t>(zone.size())))));
  if (!tz || *tz == icu::TimeZone::getUnknown()) {
    return nullptr;
  }
  return tz;
}

// ICU's zone of that name, or nothing when ICU does not know it (it then answers its "unknown"
// zone). A zone newer than ICU's data stands in for by the zone with its offsets at `when`.
std::unique_ptr<icu::TimeZone> MakeZone(std::string_view zone, std::int64_t when) {
  if (auto tz = CreateZone(zone)) {
    return tz;
  }
  for (const NewerZone& newer : kNewerZones) {
    if (newer.zone == zone) {
      return CreateZone(when < newer.since ? newer.before : newer.after);
    }
  }
  return nullptr;
}

}  // namespace

XpStatus ZoneOffsetAtUtc(std::string_view zone, std::int64_t utcMillis, int* offsetSeconds, bool* daylightSaving) {
  const std::unique_ptr<icu::TimeZone> tz = MakeZone(zone, utcMillis);
  if (!tz) {
    return XpStatus::UnknownTimeZone;
  }
  std::int32_t raw = 0;
  std::int32_t dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  tz->getOffset(static_cast<UDate>(utcMillis), false, raw, dst, status);
  if (U_FAILURE(status)) {
    return XpStatus::UnknownTimeZone;
  }
  *offsetSeconds = (raw + dst) / static_cast<int>(kMillisPerSecond);
  if (daylightSaving != nullptr) {
    *daylightSaving = dst != 0;
  }
  return XpStatus::Ok;
}

XpStatus ZoneOffsetAtLocal(std::string_view zone, std::int64_t localMillis, int* offsetSeconds) {
  const std::unique_ptr<icu::TimeZone> tz = MakeZone(zone, localMillis);
  if (!tz) {
    return XpStatus::UnknownTimeZone;
  }
  std::int32_t raw = 0;
  std::int32_t dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  if (const auto* basic = dynamic_cast<const icu::BasicTimeZone*>(tz.get()); basic != nullptr) {
    basic->getOffsetFromLocal(static_cast<UDate>(localMillis), UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_FORMER, raw, dst,
                              status);
  } else {
    tz->getOffset(static_cast<UDate>(localMillis), true, raw, dst, status);
  }
  if (U_FAILURE(status)) {
    return XpStatus::UnknownTimeZone;
  }
  *offsetSeconds = (raw + dst) / static_cast<int>(kMillisPerSecond);
  return XpStatus::Ok;
}

std::string ZoneOffsetText(int offsetSeconds) {
  const int magnitude = std::abs(offsetSeconds) / 60;
  std::string text(1, offsetSeconds < 0 ? '-' : '+');
  const int hours = magnitude / 60;
  const int minutes = magnitude % 60;
  text += static_cast<char>('0' + hours / 10 % 10);
  text += static_cast<char>('0' + hours % 10);
  text += ':';
  text += static_cast<char>('0' + minutes / 10);
  text += static_cast<char>('0' + minutes % 10);
  return text;
}

XpStatus TimeZoneIndex::LoadFile(const std::string& path) {
  std::string bytes;
  if (auto st = XpReadWholeFile(path, kMaxFileBytes, &bytes, XpStatus::TimeZoneDataTooLarge); st != XpStatus::Ok) {
    return st;
  }
  return LoadBytes(bytes);
}

XpStatus TimeZoneIndex::LoadBytes(std::string_view bytes) {
  if (bytes.size() > kMaxFileBytes) {
    return XpStatus::TimeZoneDataTooLarge;
  }
  if (bytes.size() < kHeaderBytes || bytes.substr(0, kMagic.size()) != kMagic) {
    return XpStatus::TimeZoneDataInvalid;
  }
  const std::size_t zoneCount = U32(bytes, 8);
  const std::size_t nodeCount = U32(bytes, 12);
  const std::size_t cellCount = U32(bytes, 16);
  if (zoneCount == 0 || zoneCount > kMaxZones || nodeCount >= kZoneFlag || cellCount != kCellCount) {
    return XpStatus::TimeZoneDataInvalid;
  }
  std::size_t at = kHeaderBytes;
  std::vector<std::string> zones;
  zones.reserve(zoneCount);
  for (std::size_t i = 0; i < zoneCount; ++i) {
    if (at >= bytes.size()) {
      return XpStatus::TimeZoneDataInvalid;
    }
    const std::size_t length = static_cast<unsigned char>(bytes[at++]);
    if (bytes.size() - at < length || !IsZoneName(bytes.substr(at, length))) {
      return XpStatus::TimeZoneDataInvalid;
    }
    zones.emplace_back(bytes.substr(at, length));
    at += length;
  }
  // The rest is exactly the cells and the nodes.
  if (bytes.size() - at != 2 * (cellCount + 4 * nodeCount)) {
    return XpStatus::TimeZoneDataInvalid;
  }
  // An entry is a known zone or a node; a node's quadrants point only to later nodes, so every
  // walk down the tree ends.
  const auto entryValid = [&](std::uint16_t entry, std::size_t firstNode) {
    if ((entry & kZoneFlag) != 0) {
      return static_cast<std::size_t>(entry & ~kZoneFlag) < zoneCount;
    }
    return entry >= firstNode && entry < nodeCount;
  };
  std::vector<std::uint16_t> top(cellCount);
  for (std::size_t i = 0; i < cellCount; ++i, at += 2) {
    top[i] = U16(bytes, at);
    if (!entryValid(top[i], 0)) {
      return XpStatus::TimeZoneDataInvalid;
    }
  }
  std::vector<std::uint16_t> nodes(4 * nodeCount);
  for (std::size_t i = 0; i < nodes.size(); ++i, at += 2) {
    nodes[i] = U16(bytes, at);
    if (!entryValid(nodes[i], i / 4 + 1)) {
      return XpStatus::TimeZoneDataInvalid;
    }
  }
  m_zones = std::move(zones);
  m_top = std::move(top);
  m_nodes = std::move(nodes);
  return XpStatus::Ok;
}

std::optional<std::string_view> TimeZoneIndex::ZoneAt(const GeoPoint& point) const {
  if (m_zones.empty() || !InRange(point)) {
    return std::nullopt;
  }
  // The pole itself is in no cell of the grid.
  if (point.latitude >= 90.0) {
    return std::string_view("Etc/GMT");
  }
  // Position within the grid in cells; each level down doubles the fraction within the cell and
  // its integer part picks the quadrant.
  double x = kColumns * (180.0 + point.longitude) / kTurnDegrees;
  double y = kRows * (90.0 - point.latitude) / kHalfTurnDegrees;
  int column = static_cast<int>(x);
  int row = static_cast<int>(y);
  std::uint16_t entry = m_top[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column)];
  for (int depth = 0; (entry & kZoneFlag) == 0; ++depth) {
    if (depth == kMaxDepth) {
      return std::nullopt;
    }
    x = 2.0 * (x - column);
    y = 2.0 * (y - row);
    column = static_cast<int>(x) & 1;
    row = static_cast<int>(y) & 1;
    entry = m_nodes[4 * static_cast<std::size_t>(entry) + 2 * static_cast<std::size_t>(row) +
                    static_cast<std::size_t>(column)];
  }
  return std::string_view(m_zones[entry & ~kZoneFlag]);
}

XpStatus TimeZoneIndex::Lookup(const GeoPoint& point, std::int64_t utcMillis, ZoneAnswer* answer) const {
  if (!InRange(point)) {
    return XpStatus::BadCoordinate;
  }
  const std::optional<std::string_view> zone = ZoneAt(point);
  if (!zone) {
    return XpStatus::TimeZoneDataInvalid;
  }
  ZoneAnswer found;
  found.zone = std::string(*zone);
  if (auto st = ZoneOffsetAtUtc(found.zone, utcMillis, &found.offsetSeconds, &found.daylightSaving);
      st != XpStatus::Ok) {
    return st;
  }
  // The eight neighbours: latitude held within the poles, longitude wrapped around the date line.
  // A neighbour in another zone with the same offset at that instant changes nothing.
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if (dx == 0 && dy == 0) {
        continue;
      }
      GeoPoint near{point.latitude + dy * kNeighbourDegrees, point.longitude + dx * kNeighbourDegrees};
      near.latitude = std::clamp(near.latitude, -90.0, 90.0);
      if (near.longitude > 180.0) {
        near.longitude -= 360.0;
      } else if (near.longitude < -180.0) {
        near.longitude += 360.0;
      }
      const std::optional<std::string_view> other = ZoneAt(near);
      if (!other || *other == found.zone) {
        continue;
      }
      int offset = 0;
      if (ZoneOffsetAtUtc(*other, utcMillis, &offset) != XpStatus::Ok || offset != found.offsetSeconds) {
        found.uncertain = true;
      }
    }
  }
  *answer = std::move(found);
  return XpStatus::Ok;
}
