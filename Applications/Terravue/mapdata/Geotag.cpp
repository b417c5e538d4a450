#include "Applications/Terravue/mapdata/Geotag.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <limits>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "xp/base/XpCalendar.h"
#include "xp/base/XpCaptureTime.h"
#include "xp/base/XpFileType.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

constexpr int kMaxZoneSeconds = 18 * 3600;
constexpr std::int64_t kMaxClockOffset = 100LL * 86400;

bool ReadNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits, std::int64_t* out) {
  const std::size_t first = pos;
  std::int64_t value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - first < maxDigits) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  *out = value;
  return pos > first;
}

GeotagFix Placed(GeotagStatus status, std::int64_t utcSeconds, const TrackFix& fix) {
  GeotagFix out;
  out.status = status;
  out.utcSeconds = utcSeconds;
  out.latitude = fix.latitude;
  out.longitude = fix.longitude;
  out.hasAltitude = fix.hasElevation;
  out.altitude = fix.elevation;
  return out;
}

// Rationals of a coordinate in the form the picture list writes them.
bool CoordinateRationals(double degrees, bool latitude, XpGPSRef* ref, XpGPSRational3* rationals) {
  const char letter = latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E');
  const std::string text = std::string(1, letter) + ":" + DegreesToText(std::fabs(degrees), latitude);
  return TextToRationals(text, ref, rationals, latitude);
}

}  // namespace

const char* GeotagStatusName(GeotagStatus status) {
  switch (status) {
    case GeotagStatus::Exact:
      return "exact";
    case GeotagStatus::Interpolated:
      return "interpolated";
    case GeotagStatus::Nearest:
      return "nearest";
    case GeotagStatus::NoMatch:
      return "no_match";
    case GeotagStatus::NoTime:
      break;
  }
  return "no_time";
}

std::optional<int> ParseZoneOffset(std::string_view text) {
  if (text == "Z" || text == "z") {
    return 0;
  }
  if (text.size() < 3 || (text[0] != '+' && text[0] != '-')) {
    return std::nullopt;
  }
  std::size_t pos = 1;
  std::int64_t hours = 0;
  std::int64_t minutes = 0;
  if (!ReadNumber(text, pos, 2, &hours) || pos != 3) {
    return std::nullopt;
  }
  if (pos < text.size()) {
    if (text[pos] == ':') {
      ++pos;
    }
    const std::size_t first = pos;
    if (!ReadNumber(text, pos, 2, &minutes) || pos - first != 2 || minutes > 59) {
      return std::nullopt;
    }
  }
  const std::int64_t seconds = (hours * 60 + minutes) * 60;
  if (pos != text.size() || seconds > kMaxZoneSeconds) {
    return std::nullopt;
  }
  return static_cast<int>(text[0] == '-' ? -seconds : seconds);
}

std::optional<std::int64_t> ParseClockOffset(std::string_view text) {
  std::size_t pos = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    ++pos;
  }
  std::int64_t parts[3] = {0, 0, 0};
  int count = 0;
  while (true) {
    if (count == 3 || !ReadNumber(text, pos, 7, &parts[count])) {
      return std::nullopt;
    }
    ++count;
    if (pos == text.size()) {
      break;
    }
    if (text[pos] != ':') {
      return std::nullopt;
    }
    ++pos;
  }
  std::int64_t seconds = 0;
  if (count == 1) {
    seconds = parts[0];
  } else {
    // The last two fields are minutes and seconds below 60.
    if (parts[count - 1] > 59 || parts[count - 2] > 59 || (count == 3 && parts[0] > 2400)) {
      return std::nullopt;
    }
    seconds = count == 2 ? parts[0] * 60 + parts[1] : (parts[0] * 60 + parts[1]) * 60 + parts[2];
  }
  if (seconds > kMaxClockOffset) {
    return std::nullopt;
  }
  return negative ? -seconds : seconds;
}

std::string FormatClockOffset(std::int64_t seconds) {
  const std::int64_t magnitude = seconds < 0 ? -seconds : seconds;
  char text[48];
  std::snprintf(text, sizeof text, "%c%lld:%02lld:%02lld", seconds < 0 ? '-' : '+',
                static_cast<long long>(magnitude / 3600), static_cast<long long>(magnitude / 60 % 60),
                static_cast<long long>(magnitude % 60));
  return text;
}

bool ReadPhotoTime(const std::string& path, PhotoTime* out) {
  XpDateTime local;
  if (!GetCaptureTime(path, local) || !local.IsValid()) {
    // A photo of another format: the capture time and zone of its Exif directory.
    const XpPhotoFormat format = XpPhotoMetadata::SniffFile(path);
    if (format == XpPhotoFormat::Unknown || format == XpPhotoFormat::Jpeg) {
      return false;
    }
    XpPhotoMetadata::Reading reading;
    (void)XpPhotoMetadata::Read(path, &reading);
    if (reading.dateTimeOriginal.empty() || !XpParseExifDateTime(reading.dateTimeOriginal, local) || !local.IsValid()) {
      return false;
    }
    out->local = local;
    out->zoneSeconds = ParseZoneOffset(reading.offsetTimeOriginal);
    return true;
  }
  out->local = local;
  out->zoneSeconds.reset();
  const auto type = XpGetFileType(path);
  if (type == XpFileTypes::kJpeg || type == XpFileTypes::kJpegMarked) {
    TagTreePtr tree;
    if (XpJpegExif::ReadTagTree(path, &tree) == XpStatus::Ok && tree && tree->GetIFD(0) != nullptr) {
      const XpTiffTagIFD* first = tree->GetIFD(0);
      // The zone belongs to DateTimeOriginal only when both sit in the same tree.
      if (!first->FindAscii(kTagDateTimeOriginal, /*deep=*/true).empty()) {
        std::string zone = first->FindAscii(kTagOffsetTimeOriginal, /*deep=*/true);
        while (!zone.empty() && (zone.back() == ' ' || zone.back() == '\0')) {
          zone.pop_back();
        }
        out->zoneSeconds = ParseZoneOffset(zone);
      }
    }
  }
  return true;
}

std::optional<std::int64_t> PhotoUtcSeconds(const PhotoTime& time, const GeotagOptions& options) {
  const auto fields = time.local.GetFields();
  if (!time.local.IsValid() || !fields) {
    return std::nullopt;
  }
  std::int64_t utc = 0;
  if (const auto zone = time.zoneSeconds ? time.zoneSeconds : options.zoneSeconds) {
    utc = UtcSecondsFromFields(fields->year, fields->month, fields->day, fields->hour, fields->minute, fields->second) -
          *zone;
  } else {
    // mktime with the daylight-saving flag left open applies the rule in
    // force on the photo's date.
    const auto seconds = time.local.ToSeconds();
    if (!seconds) {
      return std::nullopt;
    }
    // A clock reading the change to summer time skips is moved on by the
    // conversion; such a time never showed there, so it places nothing.
    struct tm back {};
    const auto asTime = static_cast<time_t>(*seconds);
    if (::localtime_r(&asTime, &back) == nullptr || back.tm_year != fields->year - 1900 ||
        back.tm_mon != fields->month - 1 || back.tm_mday != fields->day || back.tm_hour != fields->hour ||
        back.tm_min != fields->minute || back.tm_sec != fields->second) {
      return std::nullopt;
    }
    utc = *seconds;
  }
  return utc - options.clockOffsetSeconds;
}

GeotagFix MatchTime(const TrackLog& log, std::int64_t utcSeconds, const GeotagOptions& options) {
  GeotagFix none;
  none.status = GeotagStatus::NoMatch;
  none.utcSeconds = utcSeconds;
  const std::vector<TrackFix>& fixes = log.Fixes();
  if (fixes.empty()) {
    return none;
  }
  const std::int64_t t = utcSeconds * 1000;
  // The first fix not earlier than the photo.
  const auto after = std::lower_bound(fixes.begin(), fixes.end(), t,
                                      [](const TrackFix& fix, std::int64_t v) { return fix.timeMs < v; });
  if (after != fixes.end() && after->timeMs == t) {
    return Placed(GeotagStatus::Exact, utcSeconds, *after);
  }
  if (after != fixes.begin() && after != fixes.end()) {
    const TrackFix& a = *(after - 1);
    const TrackFix& b = *after;
    if (b.timeMs - a.timeMs <= options.maxGapSeconds * 1000) {
      const double f = static_cast<double>(t - a.timeMs) / static_cast<double>(b.timeMs - a.timeMs);
      GeotagFix out = Placed(GeotagStatus::Interpolated, utcSeconds, a);
      out.latitude = a.latitude + (b.latitude - a.latitude) * f;
      double dLng = b.longitude - a.longitude;
      // Across the antimeridian the short way round is the way travelled.
      if (dLng > 180.0) {
        dLng -= 360.0;
      } else if (dLng < -180.0) {
        dLng += 360.0;
      }
      out.longitude = a.longitude + dLng * f;
      if (out.longitude > 180.0) {
        out.longitude -= 360.0;
      } else if (out.longitude < -180.0) {
        out.longitude += 360.0;
      }
      if (a.hasElevation && b.hasElevation) {
        out.altitude = a.elevation + (b.elevation - a.elevation) * f;
      } else {
        out.hasAltitude = false;
      }
      return out;
    }
  }
  // Before the first fix, after the last, or inside a long gap.
  const TrackFix* nearest = nullptr;
  std::int64_t distance = std::numeric_limits<std::int64_t>::max();
  if (after != fixes.end()) {
    nearest = &*after;
    distance = after->timeMs - t;
  }
  if (after != fixes.begin() && t - (after - 1)->timeMs <= distance) {
    nearest = &*(after - 1);
    distance = t - nearest->timeMs;
  }
  if (nearest == nullptr || distance > options.maxExtrapolateSeconds * 1000) {
    return none;
  }
  return Placed(GeotagStatus::Nearest, utcSeconds, *nearest);
}

namespace {

constexpr int kZoneRefinements = 4;

// The zone at `fix`'s position and its offset for the clock reading `localSeconds` (the wall time
// counted as if it were UTC); false when the map or ICU has none.
bool ZoneForClock(const TimeZoneIndex& map, double latitude, double longitude, std::int64_t localSeconds,
                  std::string* zone, int* offsetSeconds) {
  const auto name = map.ZoneAt(GeoPoint{latitude, longitude});
  if (!name) {
    return false;
  }
  int offset = 0;
  if (ZoneOffsetAtLocal(*name, localSeconds * 1000, &offset) != XpStatus::Ok) {
    return false;
  }
  *zone = std::string(*name);
  *offsetSeconds = offset;
  return true;
}

GeotagFix GeotagByPosition(const TrackLog& log, const PhotoTime& time, const GeotagOptions& options) {
  const auto fields = time.local.GetFields();
  if (!time.local.IsValid() || !fields) {
    return GeotagFix{};
  }
  const std::int64_t local =
      UtcSecondsFromFields(fields->year, fields->month, fields->day, fields->hour, fields->minute, fields->second);
  // The first guess: the zone in the middle of the track's span.
  const TrackFix& middle = log.Fixes()[log.Fixes().size() / 2];
  std::string zone;
  int offset = 0;
  if (!ZoneForClock(*options.zoneMap, middle.latitude, middle.longitude, local, &zone, &offset)) {
    const auto utc = PhotoUtcSeconds(time, options);
    return utc ? MatchTime(log, *utc, options) : GeotagFix{};
  }
  GeotagFix fix = MatchTime(log, local - offset - options.clockOffsetSeconds, options);
  for (int round = 0; round < kZoneRefinements && fix.Placed(); ++round) {
    std::string there;
    int thereOffset = 0;
    if (!ZoneForClock(*options.zoneMap, fix.latitude, fix.longitude, local, &there, &thereOffset) ||
        (there == zone && thereOffset == offset)) {
      break;
    }
    zone = std::move(there);
    offset = thereOffset;
    fix = MatchTime(log, local - offset - options.clockOffsetSeconds, options);
  }
  fix.zone = std::move(zone);
  fix.zoneSeconds = offset;
  return fix;
}

}  // namespace

GeotagFix GeotagPhoto(const TrackLog& log, const PhotoTime& time, const GeotagOptions& options) {
  if (options.zoneMap != nullptr && !time.zoneSeconds && !options.zoneSeconds && !log.Empty()) {
    return GeotagByPosition(log, time, options);
  }
  const auto utc = PhotoUtcSeconds(time, options);
  if (!utc) {
    return GeotagFix{};
  }
  return MatchTime(log, *utc, options);
}

std::optional<std::int64_t> ClockOffsetFromPlace(const TrackLog& log, const PhotoTime& time,
                                                 const GeotagOptions& options, double latitude, double longitude) {
  GeotagOptions noOffset = options;
  noOffset.clockOffsetSeconds = 0;
  const auto camera = PhotoUtcSeconds(time, noOffset);
  if (!camera || log.Empty()) {
    return std::nullopt;
  }
  constexpr double kRadians = 3.14159265358979323846 / 180.0;
  const TrackFix* best = nullptr;
  double bestDistance = std::numeric_limits<double>::max();
  for (const TrackFix& fix : log.Fixes()) {
    // Haversine, without the constant factors: only the order matters.
    const double dLat = (fix.latitude - latitude) * kRadians;
    const double dLng = (fix.longitude - longitude) * kRadians;
    const double s = std::sin(dLat / 2);
    const double c = std::sin(dLng / 2);
    const double h = s * s + std::cos(latitude * kRadians) * std::cos(fix.latitude * kRadians) * c * c;
    if (h < bestDistance) {
      bestDistance = h;
      best = &fix;
    }
  }
  // Round the fix time to the nearest second, halves away from zero.
  const std::int64_t ms = best->timeMs;
  const std::int64_t fixSeconds = ms >= 0 ? (ms + 500) / 1000 : -((-ms + 500) / 1000);
  return *camera - fixSeconds;
}

XpStatus FillGeotagRecord(const GeotagFix& fix, XpGPSRecord* recordOut) {
  if (!fix.Placed() || !std::isfinite(fix.latitude) || !std::isfinite(fix.longitude) ||
      std::fabs(fix.latitude) > 90.0 || std::fabs(fix.longitude) > 180.0) {
    return XpStatus::InvalidArgument;
  }
  XpGPSRecord record = *recordOut;
  if (!CoordinateRationals(fix.latitude, true, &record.latitudeRef, &record.latitude) ||
      !CoordinateRationals(fix.longitude, false, &record.longitudeRef, &record.longitude)) {
    return XpStatus::BadCoordinate;
  }
  if (!record.version.IsValid()) {
    record.version.bytes = {2, 3, 0, 0};
    record.version.valid = 1;
  }
  if (fix.hasAltitude && std::isfinite(fix.altitude) && std::fabs(fix.altitude) < 1.0e6) {
    record.altitudeRef.letter = fix.altitude < 0 ? 1 : 0;
    record.altitudeRef.valid = 1;
    record.altitude.numerator = static_cast<std::uint32_t>(std::llround(std::fabs(fix.altitude) * 100.0));
    record.altitude.denominator = 100;
    record.altitude.valid = 1;
  } else {
    // An altitude left from an earlier position would not belong to this one.
    record.altitudeRef.Reset();
    record.altitude.Reset();
  }
  const std::int64_t days = fix.utcSeconds >= 0 ? fix.utcSeconds / 86400 : (fix.utcSeconds - 86399) / 86400;
  const std::int64_t secondOfDay = fix.utcSeconds - days * 86400;
  const XpDateTime date = XpDateTime::FromValue(static_cast<double>(kXpDayOf1970 + days));
  const auto fields = date.GetFields();
  if (fields) {
    record.timeStamp.numerators = {static_cast<std::uint32_t>(secondOfDay / 3600),
                                   static_cast<std::uint32_t>(secondOfDay / 60 % 60),
                                   static_cast<std::uint32_t>(secondOfDay % 60)};
    record.timeStamp.denominators = {1, 1, 1};
    record.timeStamp.valid = 1;
    char text[16];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d", fields->year, fields->month, fields->day);
    record.dateStamp.text.fill('\0');
    std::copy_n(text, XpGPSDateStamp::kMaxLength, record.dateStamp.text.begin());
    record.dateStamp.valid = 1;
  }
  // How and where the old fix was taken says nothing about this one.
  for (XpGPSElement* stale : std::initializer_list<XpGPSElement*>{
           &record.satellites,       &record.status,        &record.measureMode,      &record.dop,
           &record.speedRef,         &record.speed,         &record.trackRef,         &record.track,
           &record.imgDirectionRef,  &record.imgDirection,  &record.destLatitudeRef,  &record.destLatitude,
           &record.destLongitudeRef, &record.destLongitude, &record.destBearingRef,   &record.destBearing,
           &record.destDistanceRef,  &record.destDistance,  &record.processingMethod, &record.areaInformation,
           &record.differential}) {
    stale->Reset();
  }
  *recordOut = record;
  return XpStatus::Ok;
}

XpStatus WriteGeotag(const std::string& path, const GeotagFix& fix, bool preserveModificationTime) {
  if (!fix.Placed()) {
    return XpStatus::InvalidArgument;
  }
  XpGPSRecord record;
  // A photo without GPS tags starts from an empty record.
  if (XpPhotoWrite::ReadGPS(path, record) != XpStatus::Ok) {
    record.Reset();
  }
  if (const XpStatus filled = FillGeotagRecord(fix, &record); filled != XpStatus::Ok) {
    return filled;
  }
  XpExifRewrite::Hooks hooks;
  hooks.preserveModificationTime = preserveModificationTime;
  hooks.offsetTimeOriginal = ZoneToRecord(path, fix);
  return PhotoJournal::RecordPositionWrite(path, [&] { return XpPhotoWrite::WriteGPS(path, record, hooks); });
}

std::string ZoneToRecord(const std::string& path, const GeotagFix& fix) {
  if (!fix.recordZone || fix.zone.empty() || !IsJpegStill(path)) {
    return {};
  }
  return ZoneOffsetText(fix.zoneSeconds);
}
