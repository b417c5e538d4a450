// terravue-tool geotag --track FILE [--track FILE ...] [options] PHOTO...:
// places photos from GPS track logs by their capture time and writes the
// positions through the normal GPS rewrite. One JSON line per photo.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/TimeZoneIndex.h"
#include "Applications/Terravue/mapdata/TrackLog.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/base/XpCalendar.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

constexpr const char* kUsage =
    "usage: terravue-tool geotag --track FILE [--track FILE ...] [--tz +HH:MM|auto] [--zones FILE] [--offset +SECONDS] "
    "[--max-gap SECONDS] [--max-extrapolate SECONDS] [--skip-located] [--dry-run] [--preserve-mtime] [--raw-in-file] "
    "[--write-zone] PHOTO...\n";

struct GeotagArgs {
  std::vector<std::string> tracks;
  std::vector<std::string> photos;
  GeotagOptions options;
  bool skipLocated = false;
  bool dryRun = false;
  bool preserveModificationTime = false;
  bool writeZone = false;  ///< a JPEG read in the zone from its position records it (OffsetTimeOriginal)
  bool zoneFromPosition = false;
  std::string zoneFile;
};

// Fixes of the track whose zones are compared to tell whether a trip crosses zones.
constexpr std::size_t kZoneSamples = 256;

std::optional<std::int64_t> ParseSeconds(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoll(text);
}

// Fills `parsed` from the arguments; false (with a message) for a usage error.
bool ParseArgs(const std::vector<std::string>& args, GeotagArgs* parsed, std::ostream& err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool takesValue = a == "--track" || a == "--tz" || a == "--offset" || a == "--max-gap" ||
                            a == "--max-extrapolate" || a == "--zones";
    if (takesValue && i + 1 >= args.size()) {
      err << "terravue-tool geotag: " << a << " needs a value\n";
      return false;
    }
    if (a == "--track") {
      parsed->tracks.push_back(args[++i]);
    } else if (a == "--zones") {
      parsed->zoneFile = args[++i];
    } else if (a == "--tz" && args[i + 1] == "auto") {
      ++i;
      parsed->zoneFromPosition = true;
      parsed->options.zoneSeconds.reset();
    } else if (a == "--tz") {
      parsed->zoneFromPosition = false;
      const auto zone = ParseZoneOffset(args[++i]);
      if (!zone) {
        err << "terravue-tool geotag: \"" << args[i] << "\" is not a zone offset (+09:00, -05:30) or auto\n";
        return false;
      }
      parsed->options.zoneSeconds = zone;
    } else if (a == "--offset") {
      const auto offset = ParseClockOffset(args[++i]);
      if (!offset) {
        err << "terravue-tool geotag: \"" << args[i] << "\" is not a clock offset (seconds or +h:mm:ss)\n";
        return false;
      }
      parsed->options.clockOffsetSeconds = *offset;
    } else if (a == "--max-gap" || a == "--max-extrapolate") {
      const auto seconds = ParseSeconds(args[++i]);
      if (!seconds) {
        err << "terravue-tool geotag: \"" << args[i] << "\" is not a number of seconds\n";
        return false;
      }
      (a == "--max-gap" ? parsed->options.maxGapSeconds : parsed->options.maxExtrapolateSeconds) = *seconds;
    } else if (a == "--skip-located") {
      parsed->skipLocated = true;
    } else if (a == "--dry-run") {
      parsed->dryRun = true;
    } else if (a == "--preserve-mtime") {
      parsed->preserveModificationTime = true;
    } else if (a == "--write-zone") {
      parsed->writeZone = true;
    } else if (a == "--") {
      parsed->photos.insert(parsed->photos.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (a.rfind("--", 0) == 0) {
      err << "terravue-tool geotag: unknown option \"" << a << "\"\n";
      return false;
    } else {
      parsed->photos.push_back(a);
    }
  }
  if (parsed->tracks.empty() || parsed->photos.empty()) {
    err << kUsage;
    return false;
  }
  return true;
}

std::string Decimal(double value, int digits) { return XpFormatFixed(value, digits); }

std::string IsoUtc(std::int64_t seconds) {
  const std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const std::int64_t secondOfDay = seconds - days * 86400;
  const auto fields = XpDateTime::FromValue(static_cast<double>(kXpDayOf1970 + days)).GetFields();
  if (!fields) {
    return {};
  }
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02lld:%02lld:%02lldZ", fields->year, fields->month, fields->day,
                static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60));
  return text;
}

bool HasPosition(const std::string& path) {
  XpGPSRecord record;
  return XpPhotoWrite::ReadGPS(path, record) == XpStatus::Ok && record.latitude.IsValid() && record.longitude.IsValid();
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

int RunGeotag(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  GeotagArgs parsed;
  if (!ParseArgs(args, &parsed, err)) {
    return 2;
  }
  TrackLog log;
  for (const std::string& track : parsed.tracks) {
    if (const XpStatus st = log.AddFile(track); st != XpStatus::Ok) {
      const char* reason = st == XpStatus::TrackLogInvalid    ? "not a GPX or NMEA track log (0x860d)"
                           : st == XpStatus::TrackLogTooLarge ? "track log too large (0x860e)"
                                                              : nullptr;
      err << "terravue-tool geotag: " << track << ": " << (reason != nullptr ? reason : ToolStatusReason(st)) << '\n';
      return 2;
    }
  }
  TimeZoneIndex zoneMap;
  std::set<std::string> tripZones;
  if (parsed.zoneFromPosition) {
    const std::string path = ToolDataPath(parsed.zoneFile, "zones.tvz");
    if (const XpStatus st = zoneMap.LoadFile(path); st != XpStatus::Ok) {
      const char* reason = st == XpStatus::TimeZoneDataInvalid    ? "not a time-zone map, or a damaged one (0x863C)"
                           : st == XpStatus::TimeZoneDataTooLarge ? "larger than any time-zone map (0x863D)"
                                                                  : nullptr;
      err << "terravue-tool geotag: time-zone map " << path << ": "
          << (reason != nullptr ? reason : ToolStatusReason(st)) << '\n';
      return 2;
    }
    parsed.options.zoneMap = &zoneMap;
    // The zones and offsets along the track, from fixes spread over it.
    const std::vector<TrackFix>& fixes = log.Fixes();
    const std::size_t step = fixes.size() / kZoneSamples + 1;
    for (std::size_t i = 0; i < fixes.size(); i += step) {
      ZoneAnswer answer;
      const TrackFix& fix = fixes[i];
      if (zoneMap.Lookup(GeoPoint{fix.latitude, fix.longitude}, fix.timeMs, &answer) == XpStatus::Ok) {
        tripZones.insert(answer.zone + " " + ZoneOffsetText(answer.offsetSeconds));
      }
    }
    if (!fixes.empty()) {
      ZoneAnswer last;
      if (zoneMap.Lookup(GeoPoint{fixes.back().latitude, fixes.back().longitude}, fixes.back().timeMs, &last) ==
          XpStatus::Ok) {
        tripZones.insert(last.zone + " " + ZoneOffsetText(last.offsetSeconds));
      }
    }
  }
  if (log.Skipped() != 0) {
    err << "terravue-tool geotag: " << log.Skipped() << " track points without a time or a valid position skipped\n";
  }
  int exitCode = 0;
  for (const std::string& photo : parsed.photos) {
    GeotagFix fix;
    std::string error;
    bool written = false;
    PhotoTime time;
    XpStatus failure = XpStatus::Ok;
    if (!IsRegularFile(photo)) {
      failure = XpStatus::FileNotFound;
      error = ToolStatusReason(failure);
    } else if (ReadPhotoTime(photo, &time)) {
      fix = GeotagPhoto(log, time, parsed.options);
      fix.recordZone = parsed.writeZone;
    }
    const bool leave = parsed.skipLocated && fix.Placed() && HasPosition(photo);
    if (error.empty() && fix.Placed() && !parsed.dryRun && !leave) {
      if (const XpStatus st = WriteGeotag(photo, fix, parsed.preserveModificationTime); st != XpStatus::Ok) {
        failure = st;
        error = ToolStatusReason(st);
      } else {
        written = true;
      }
    }
    if (!error.empty()) {
      // The JSON line says it too; the error stream names each photo left
      // unchanged on a line of its own, as set-gps and remove-gps do.
      err << ToolRefusalLine(photo, failure) << '\n';
      exitCode = 1;
    }
    {
      ToolJsonObject json(out);
      json.Text("path", photo);
      // A photo left where it is because it has a position gets no new one in
      // its line either: it was not placed.
      json.Text("status", !error.empty() ? "failed" : leave ? "skipped_located" : GeotagStatusName(fix.status));
      if (fix.status == GeotagStatus::NoTime) {
        json.Null("utc");
      } else {
        json.Text("utc", IsoUtc(fix.utcSeconds));
      }
      if (fix.Placed() && !leave) {
        json.Raw("lat", Decimal(fix.latitude, 7));
        json.Raw("lng", Decimal(fix.longitude, 7));
      } else {
        json.Null("lat");
        json.Null("lng");
      }
      if (fix.Placed() && !leave && fix.hasAltitude) {
        json.Raw("alt", Decimal(fix.altitude, 2));
      } else {
        json.Null("alt");
      }
      if (error.empty()) {
        json.Null("error");
      } else {
        json.Text("error", error);
      }
      json.Bool("written", written);
      if (written) {
        ToolWrittenTo(json, XpPhotoWrite::WhereWritten(photo));
      } else {
        json.Null("written_to");
        json.Null("sidecar");
      }
      if (parsed.zoneFromPosition) {
        // The zone the camera's clock was read in: the photo's own, or the one from the position.
        if (!fix.zone.empty()) {
          json.Text("camera_zone", fix.zone);
          json.Text("camera_utc_offset", ZoneOffsetText(fix.zoneSeconds));
          tripZones.insert(fix.zone + " " + ZoneOffsetText(fix.zoneSeconds));
        } else {
          json.Null("camera_zone");
          if (time.zoneSeconds && fix.status != GeotagStatus::NoTime) {
            json.Text("camera_utc_offset", ZoneOffsetText(*time.zoneSeconds));
          } else {
            json.Null("camera_utc_offset");
          }
        }
      }
    }
    out << '\n';
  }
  if (tripZones.size() > 1) {
    err << "terravue-tool geotag: the trip crosses a time zone or a daylight-saving change (";
    const char* separator = "";
    for (const std::string& zone : tripZones) {
      err << separator << zone;
      separator = ", ";
    }
    err << "); each photo without a zone of its own took the zone where the track was at its time\n";
  }
  return exitCode;
}
