// terravue-tool export: photos with a position as GPX 1.1 waypoints (optionally with a track in
// time order), a GeoJSON FeatureCollection, a KML document or a KMZ file with thumbnails, into a
// file or onto standard output.

#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/PhotoExport.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/text/XpAsciiCase.h"

namespace {

// Largest thumbnail read back into a KMZ file; the program's thumbnails are far smaller.
constexpr std::uint64_t kMaxThumbnailBytes = 16 * 1024 * 1024;

constexpr const char* kUsage =
    "usage: terravue-tool export [--format gpx|geojson|kml|kmz] [--track] [--tz +HH:MM] [--output FILE] PHOTO...\n";

enum class Format { Gpx, GeoJson, Kml, Kmz };

std::optional<Format> FormatNamed(const std::string& name) {
  if (name == "gpx") {
    return Format::Gpx;
  }
  if (name == "geojson") {
    return Format::GeoJson;
  }
  if (name == "kml") {
    return Format::Kml;
  }
  if (name == "kmz") {
    return Format::Kmz;
  }
  return std::nullopt;
}

// The format an output file's extension names; GPX for any other.
Format FormatOfFile(const std::string& path) {
  const std::string extension = XpAsciiLowered(std::filesystem::path(path).extension().string());
  if (extension == ".geojson" || extension == ".json") {
    return Format::GeoJson;
  }
  if (extension == ".kml") {
    return Format::Kml;
  }
  if (extension == ".kmz") {
    return Format::Kmz;
  }
  return Format::Gpx;
}

// A folder of its own under the temporary folder, for thumbnails on their way into a KMZ file;
// removed with what is in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "terravue-export-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      m_path = pattern;
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    if (!m_path.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(m_path, ignored);
    }
  }
  [[nodiscard]] const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// Gives each photo the thumbnail the program shows for it. A photo whose thumbnail can't be made
// keeps its placemark without one, and is named on `err`.
void AddThumbnails(const std::vector<std::string>& files, std::vector<ExportPhoto>* photos, std::ostream& err) {
  ScratchFolder scratch;
  if (scratch.Path().empty()) {
    err << "terravue-tool export: no temporary folder for the thumbnails; the file has none\n";
    return;
  }
  for (std::size_t i = 0; i < photos->size(); ++i) {
    const std::string thumbnail = scratch.Path() + "/" + std::to_string(i) + ".jpg";
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string bytes;
    if (MakeThumbnail(files[i], thumbnail, &width, &height) != PictureResult::Success ||
        ReadWholeFile(thumbnail, kMaxThumbnailBytes, &bytes) != XpStatus::Ok) {
      err << "terravue-tool export: " << files[i] << ": no thumbnail\n";
      continue;
    }
    (*photos)[i].thumbnail = std::move(bytes);
  }
}

}  // namespace

int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::optional<Format> format;
  bool track = false;
  std::optional<int> zone;
  std::string output;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--track") {
      track = true;
    } else if (arg == "--format" && hasValue) {
      format = FormatNamed(args[++i]);
      if (!format) {
        err << "terravue-tool export: unknown format \"" << args[i] << "\" (gpx, geojson, kml or kmz)\n";
        return 2;
      }
    } else if (arg == "--tz" && hasValue) {
      zone = ParseZoneOffset(args[++i]);
      if (!zone) {
        err << "terravue-tool export: \"" << args[i] << "\" is not a zone offset such as +09:00\n";
        return 2;
      }
    } else if ((arg == "--output" || arg == "-o") && hasValue) {
      output = args[++i];
    } else if (arg == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      err << "terravue-tool export: unknown option \"" << arg << "\"\n" << kUsage;
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    err << kUsage;
    return 2;
  }
  const bool toFile = !output.empty() && output != "-";
  if (!format) {
    format = toFile ? FormatOfFile(output) : Format::Gpx;
  }
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::current_path(ec);
  if (toFile) {
    folder = std::filesystem::absolute(output, ec).parent_path();
  }

  int exitCode = 0;
  std::vector<ExportPhoto> photos;
  std::vector<std::string> exported;
  for (const std::string& file : files) {
    XpPhotoMetadata::Reading reading;
    const XpStatus status = XpPhotoMetadata::Read(file, &reading);
    double latitude = 0;
    double longitude = 0;
    if (!RationalsToDegrees(reading.gps.latitudeRef, reading.gps.latitude, &latitude) ||
        !RationalsToDegrees(reading.gps.longitudeRef, reading.gps.longitude, &longitude) ||
        !(latitude >= -90.0 && latitude <= 90.0) || !(longitude >= -180.0 && longitude <= 180.0)) {
      err << "terravue-tool export: " << file << ": "
          << (status == XpStatus::Ok ? std::string("no position") : ToolStatusReason(status)) << ", left out\n";
      exitCode = 1;
      continue;
    }
    ExportPhoto photo;
    photo.name = std::filesystem::path(file).filename().string();
    photo.link = ExportLink(folder.string(), file);
    photo.position = GeoPoint{latitude, longitude};
    photo.elevation = ExportElevation(reading.gps);
    photo.utcMillis = ExportUtcMillis(file, reading, zone);
    photos.push_back(std::move(photo));
    exported.push_back(file);
  }

  std::string text;
  switch (*format) {
    case Format::Gpx:
      text = WriteGpx(photos, track);
      break;
    case Format::GeoJson:
      text = WriteGeoJson(photos, track);
      break;
    case Format::Kml:
      text = WriteKml(photos, track);
      break;
    case Format::Kmz: {
      AddThumbnails(exported, &photos, err);
      auto archive = WriteKmz(photos, track);
      if (!archive) {
        err << "terravue-tool export: too many or too large thumbnails for a KMZ file\n";
        return 1;
      }
      text = std::move(*archive);
      break;
    }
  }
  if (!toFile) {
    out << text;
    out.flush();
    return out ? exitCode : 1;
  }
  // The file replaces its target whole: a failed write leaves an older export as it was.
  if (const XpStatus st = WriteFileReplacing(output, text); st != XpStatus::Ok) {
    err << "terravue-tool export: " << output << " could not be written: " << ToolStatusReason(st) << "\n";
    return 1;
  }
  return exitCode;
}
