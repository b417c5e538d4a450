// terravue-tool geotag --track FILE [--track FILE ...] [options] PHOTO...:
// places photos from GPS track logs by their capture time and writes the
// positions through the normal GPS rewrite. One JSON line per photo.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/TrackLog.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/base/XpCalendar.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

constexpr const char* kUsage =
    "usage: terravue-tool geotag --track FILE [--track FILE ...] [--tz +HH:MM] [--offset +SECONDS] "
    "[--max-gap SECONDS] [--max-extrapolate SECONDS] [--skip-located] [--dry-run] [--preserve-mtime] PHOTO...\n";

struct GeotagArgs {
  std::vector<std::string> tracks;
  std::vector<std::string> photos;
  GeotagOptions options;
  bool skipLocated = false;
  bool dryRun = false;
  bool preserveModificationTime = false;
};

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
    const bool takesValue =
        a == "--track" || a == "--tz" || a == "--offset" || a == "--max-gap" || a == "--max-extrapolate";
    if (takesValue && i + 1 >= args.size()) {
      err << "terravue-tool geotag: " << a << " needs a value\n";
      return false;
    }
    if (a == "--track") {
      parsed->tracks.push_back(args[++i]);
    } else if (a == "--tz") {
      const auto zone = ParseZoneOffset(args[++i]);
      if (!zone) {
        err << "terravue-tool geotag: \"" << args[i] << "\" is not a zone offset (+09:00, -05:30)\n";
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
  return XpExifRewrite::ReadGPS(path, record) == XpStatus::Ok && record.latitude.IsValid() &&
         record.longitude.IsValid();
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
      json.Text("status", error.empty() ? GeotagStatusName(fix.status) : "failed");
      if (fix.status == GeotagStatus::NoTime) {
        json.Null("utc");
      } else {
        json.Text("utc", IsoUtc(fix.utcSeconds));
      }
      if (fix.Placed()) {
        json.Raw("lat", Decimal(fix.latitude, 7));
        json.Raw("lng", Decimal(fix.longitude, 7));
      } else {
        json.Null("lat");
        json.Null("lng");
      }
      if (fix.Placed() && fix.hasAltitude) {
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
    }
    out << '\n';
  }
  return exitCode;
}
