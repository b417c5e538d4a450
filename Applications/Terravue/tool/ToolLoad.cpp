// terravue-tool load --work DIR [--jobs N] PHOTO...: adds the photos to an empty picture list the
// way the map does (same workers, same thumbnails in DIR, same order) and prints one JSON line per
// picture in list order.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureLoadPool.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "Applications/Terravue/mapdata/ThumbnailJournal.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/text/XpNumberText.h"

namespace {

constexpr const char* kLoadUsage = "usage: terravue-tool load --work DIR [--jobs N] PHOTO...\n";

// Decimal degrees of a coordinate text, written as JSON; null for the placeholder.
void Degrees(ToolJsonObject& json, const char* key, const std::string& text, bool latitude) {
  XpGPSRef ref;
  XpGPSRational3 rationals;
  double degrees = 0;
  if (!TextToRationals(text, &ref, &rationals, latitude) || !RationalsToDegrees(ref, rationals, &degrees)) {
    json.Null(key);
    return;
  }
  json.Raw(key, XpFormatFixed(degrees, 7));
}

// What became of a picture: "ok", "no-position", "undecodable" (no thumbnail could be made) or
// "missing" (the file was gone when its thumbnail was due).
const char* StatusOf(const PictureRecord& record, const std::string& work) {
  if (record.m_cacheName.empty()) {
    return "missing";
  }
  if (!MapIsRegularFile(record.ThumbnailPath(work))) {
    return "undecodable";
  }
  return record.HasPosition() ? "ok" : "no-position";
}

}  // namespace

int RunLoad(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string work;
  long jobs = 0;
  std::vector<std::string> photos;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--work" && i + 1 < args.size()) {
      work = args[++i];
    } else if (args[i] == "--jobs" && i + 1 < args.size()) {
      const auto number = XpParseInteger<long>(args[++i]);
      jobs = number.value_or(0);
      if (jobs < 1 || jobs > 1024) {
        err << "terravue-tool load: --jobs takes a number from 1 to 1024\n" << kLoadUsage;
        return 2;
      }
    } else if (args[i] == "--") {
      photos.insert(photos.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      err << "terravue-tool load: unknown option " << args[i] << "\n" << kLoadUsage;
      return 2;
    } else {
      photos.push_back(args[i]);
    }
  }
  if (work.empty() || photos.empty()) {
    err << kLoadUsage;
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(work, ec);
  if (ec || !std::filesystem::is_directory(work, ec)) {
    err << work << ": the work folder could not be made\n";
    return 1;
  }

  // Interrupted or terminated, the load takes its thumbnails with it.
  RemoveThumbnailsOnTerminatingSignals();

  // A photo in the work folder could bear the name of a thumbnail the load
  // makes or removes; it is refused, and the load says so.
  bool refused = false;
  for (const std::string& photo : photos) {
    if (MapIsInFolder(photo, work)) {
      err << photo << ": lies in the work folder; not loaded\n";
      refused = true;
    }
  }

  PictureList list;
  NullProgressSink progress;
  const std::atomic<bool> keepGoing{true};
  const bool written = AddPicturesOnWorkers(list, photos, work, progress, keepGoing, static_cast<unsigned>(jobs));
  for (const PictureRecord& record : list.Records()) {
    {
      ToolJsonObject json(out);
      json.Text("path", record.m_path);
      // Only a thumbnail that was written is named.
      if (record.m_cacheName.empty() || !MapIsRegularFile(record.ThumbnailPath(work))) {
        json.Null("thumbnail");
      } else {
        json.Text("thumbnail", record.ThumbnailPath(work));
      }
      Degrees(json, "lat", record.m_latitude, /*latitude=*/true);
      Degrees(json, "lng", record.m_longitude, /*latitude=*/false);
      const auto fields = record.m_captureTime.IsValid() ? record.m_captureTime.GetFields() : std::nullopt;
      if (fields) {
        char time[32];
        std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d", fields->year, fields->month, fields->day,
                      fields->hour, fields->minute, fields->second);
        json.Text("time", time);
      } else {
        json.Null("time");
      }
      json.Text("status", StatusOf(record, work));
    }
    out << '\n';
  }
  if (!written) {
    err << work << ": a thumbnail could not be written\n";
    return 1;
  }
  return refused ? 1 : 0;
}
