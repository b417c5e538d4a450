#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Applications/Terravue/mapdata/TimeZoneIndex.h"
#include "Applications/Terravue/mapdata/TrackLog.h"
#include "xp/base/XpDateTime.h"
#include "xp/base/XpStatus.h"
#include "xp/tiff/XpGPSRecord.h"

/// How a photo was placed from a track log.
enum class GeotagStatus {
  Exact,         ///< its time equals a fix's time
  Interpolated,  ///< between two fixes at most `maxGapSeconds` apart
  Nearest,       ///< the nearest fix, at most `maxExtrapolateSeconds` away
  NoMatch,       ///< no fix close enough in time
  NoTime,        ///< the photo has no usable capture time
};

/// The name used in JSON and page data: "exact", "interpolated", "nearest",
/// "no_match", "no_time".
[[nodiscard]] const char* GeotagStatusName(GeotagStatus status);

/// The settings of one geotagging run.
struct GeotagOptions {
  /// Two consecutive fixes at most this far apart are interpolated between.
  std::int64_t maxGapSeconds = 1800;
  /// Outside a track or inside a longer gap, the nearest fix is taken when it
  /// is at most this far away.
  std::int64_t maxExtrapolateSeconds = 1800;
  /// The camera's zone (seconds east of UTC) for photos that do not carry
  /// their own; nothing means the machine's local zone with its daylight
  /// saving rule for the photo's date.
  std::optional<int> zoneSeconds;
  /// How many seconds the camera's clock ran ahead of the true time (negative
  /// when it was behind); subtracted from every photo's time.
  std::int64_t clockOffsetSeconds = 0;
  /// With a time-zone map (and no zoneSeconds), a photo without its own zone takes the zone where
  /// the track is at the photo's time, on the photo's date. The map must outlive the options.
  const TimeZoneIndex* zoneMap = nullptr;
};

/// Where a photo goes.
struct GeotagFix {
  GeotagStatus status = GeotagStatus::NoTime;
  std::int64_t utcSeconds = 0;  ///< the photo's true time; meaningful unless NoTime
  double latitude = 0.0;        ///< meaningful for Exact, Interpolated, Nearest
  double longitude = 0.0;
  double altitude = 0.0;  ///< metres; meaningful with hasAltitude
  bool hasAltitude = false;
  /// The zone the photo's clock was read in when it came from the position (zoneMap): its name
  /// and offset. Empty when the photo's own zone, the given zone or the local zone served.
  std::string zone;
  int zoneSeconds = 0;
  /// Write that zone's offset as the photo's OffsetTimeOriginal with the position (a JPEG only;
  /// `zone` is empty for a photo that records its own). Off unless the user asks for it.
  bool recordZone = false;

  [[nodiscard]] bool Placed() const {
    return status == GeotagStatus::Exact || status == GeotagStatus::Interpolated || status == GeotagStatus::Nearest;
  }
};

/// The capture time a photo carries: DateTimeOriginal as the camera's clock
/// showed it, and OffsetTimeOriginal when the photo has one.
struct PhotoTime {
  XpDateTime local;
  std::optional<int> zoneSeconds;
};

/// Reads a zone offset "+09:00", "-05:30", "+0930", "+09" or "Z" into seconds
/// east of UTC; nothing for anything else or beyond 18 hours.
[[nodiscard]] std::optional<int> ParseZoneOffset(std::string_view text);

/// Reads a clock offset "[+|-]h:mm:ss", "[+|-]mm:ss" or "[+|-]seconds" into
/// seconds; nothing for anything else or beyond 100 days.
[[nodiscard]] std::optional<std::int64_t> ParseClockOffset(std::string_view text);
/// The clock offset as "+h:mm:ss" or "-h:mm:ss".
[[nodiscard]] std::string FormatClockOffset(std::int64_t seconds);

/// Reads DateTimeOriginal and OffsetTimeOriginal of the photo at `path`
/// (JPEG, TIFF and the raw formats the capture-time reader knows; the zone is
/// read from JPEG files only). False when it has no valid capture time.
[[nodiscard]] bool ReadPhotoTime(const std::string& path, PhotoTime* out);

/// The photo's true time in seconds since 1970 UTC: its clock reading taken
/// in its own zone, else `options.zoneSeconds`, else the local zone for that
/// date, minus the clock offset. Nothing when the time is not valid or does
/// not exist in the local zone's calendar.
[[nodiscard]] std::optional<std::int64_t> PhotoUtcSeconds(const PhotoTime& time, const GeotagOptions& options);

/// Matches a true time against the sorted fixes of `log` by binary search.
[[nodiscard]] GeotagFix MatchTime(const TrackLog& log, std::int64_t utcSeconds, const GeotagOptions& options);

/// PhotoUtcSeconds then MatchTime; NoTime when the photo has no valid time. With
/// `options.zoneMap`, no `options.zoneSeconds` and a photo without its own zone, the zone comes
/// from the position: a first guess from the zone at the middle of the track, then, up to four
/// times, the zone where the track is at the time that zone gives, until the zone and its offset
/// for the photo's clock reading stay the same. A photo the track does not reach keeps the last
/// guess; `zone` and `zoneSeconds` of the answer say which zone served.
[[nodiscard]] GeotagFix GeotagPhoto(const TrackLog& log, const PhotoTime& time, const GeotagOptions& options);

/// The clock offset that puts the photo at the fix nearest (on the ground) to
/// where the user placed it: the photo's time in its zone minus that fix's
/// time, in whole seconds. `options.clockOffsetSeconds` is ignored. Nothing
/// when the log is empty or the photo has no valid time.
[[nodiscard]] std::optional<std::int64_t> ClockOffsetFromPlace(const TrackLog& log, const PhotoTime& time,
                                                               const GeotagOptions& options, double latitude,
                                                               double longitude);

/// Turns `record`, a photo's GPS tags as read (or an empty record), into the
/// tags of a placed fix: latitude and longitude with their references,
/// GPSAltitude and GPSAltitudeRef when the fix has an altitude (removed
/// otherwise), GPSDateStamp and GPSTimeStamp with the true UTC time, and
/// GPSVersionID 2.3.0.0 when there is none. The tags that describe how and
/// where the old fix was taken go, since they do not belong to the new one:
/// satellites, status, measure mode, DOP, speed, track, image direction, the
/// destination tags, processing method, area information and differential
/// correction. The map datum stays. Answers 0, 0x8102 for a fix that is not
/// placed or not in range (the record untouched), or 0x860B.
[[nodiscard]] XpStatus FillGeotagRecord(const GeotagFix& fix, XpGPSRecord* record);

/// Writes a placed fix into the JPEG photo at `path` through the normal GPS
/// rewrite, with the tags FillGeotagRecord makes from the photo's own. With `preserveModificationTime` the
/// file keeps its modification time. A fix that is not placed answers
/// InvalidArgument and writes nothing; otherwise the rewrite's status.
[[nodiscard]] XpStatus WriteGeotag(const std::string& path, const GeotagFix& fix,
                                   bool preserveModificationTime = false);

/// The zone text ("+09:00") a write of `fix` into the photo at `path` adds as
/// OffsetTimeOriginal: the zone found from the position when the fix asks for
/// it (recordZone) and the photo is a JPEG; empty otherwise. The rewrite adds
/// it only where the photo has none.
[[nodiscard]] std::string ZoneToRecord(const std::string& path, const GeotagFix& fix);
