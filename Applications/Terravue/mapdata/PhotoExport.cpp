// Photos as GPX, GeoJSON and KML files for other programs.
#include "Applications/Terravue/mapdata/PhotoExport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "Applications/Terravue/mapdata/TrackLog.h"
#include "Applications/Terravue/mapdata/ZipArchive.h"
#include "xp/text/XpEscape.h"
#include "xp/text/XpHexDigits.h"
#include "xp/text/XpNumberText.h"
#include "xp/text/XpUtf8.h"

namespace {

// The UTC time GPSDateStamp and GPSTimeStamp give, in milliseconds since 1970.
std::optional<std::int64_t> GpsStampMillis(const XpGPSRecord& gps) {
  if (!gps.dateStamp.IsValid() || !gps.timeStamp.IsValid()) {
    return std::nullopt;
  }
  XpDateTime day;
  if (!day.Parse(gps.dateStamp.Text(), "%d:%d:%d")) {
    return std::nullopt;
  }
  double parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (gps.timeStamp.denominators[i] == 0) {
      return std::nullopt;
    }
    parts[i] = static_cast<double>(gps.timeStamp.numerators[i]) / gps.timeStamp.denominators[i];
  }
  const double secondOfDay = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2];
  if (!(secondOfDay >= 0.0 && secondOfDay < 86400.0)) {
    return std::nullopt;
  }
  const std::optional<XpDateTimeFields> fields = day.GetFields();
  if (!fields) {
    return std::nullopt;
  }
  PhotoTime midnight;
  midnight.local = XpDateTime(fields->year, fields->month, fields->day);
  midnight.zoneSeconds = 0;
  const std::optional<std::int64_t> start = PhotoUtcSeconds(midnight, GeotagOptions{});
  if (!start) {
    return std::nullopt;
  }
  return *start * 1000 + static_cast<std::int64_t>(std::llround(secondOfDay * 1000.0));
}

constexpr int kDegreeDigits = 7;
constexpr int kElevationDigits = 2;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Text XML 1.0 can carry: well-formed UTF-8 without control characters other than tab, line feed
// and carriage return; anything else becomes U+FFFD.
std::string XmlSafe(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = XpUtf8SequenceLength(text, i);
    const auto c = static_cast<unsigned char>(text[i]);
    if (length == 0 || (length == 1 && c < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
        (length == 3 && text.substr(i, 3) >= "\xEF\xBF\xBE" && text.substr(i, 3) <= "\xEF\xBF\xBF")) {
      out += kReplacement;
      i += length == 0 ? 1 : length;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

std::string XmlText(std::string_view text) { return XpEscapeHtmlAttribute(XmlSafe(text)); }

// A relative link as a URI reference: unreserved characters and '/' as they are, every other byte
// percent-encoded.
std::string UriPath(std::string_view path) {
  std::string out;
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      out += ch;
    } else {
      out += '%';
      XpAppendHex(out, c, 2, XpHexCase::Upper);
    }
  }
  return out;
}

std::string Degrees(double value) { return XpFormatFixed(value, kDegreeDigits); }

// The photos that have a time, in time order (the list's order among equal times).
std::vector<const ExportPhoto*> InTimeOrder(const std::vector<ExportPhoto>& photos) {
  std::vector<const ExportPhoto*> timed;
  for (const ExportPhoto& photo : photos) {
    if (photo.utcMillis) {
      timed.push_back(&photo);
    }
  }
  std::stable_sort(timed.begin(), timed.end(),
                   [](const ExportPhoto* a, const ExportPhoto* b) { return *a->utcMillis < *b->utcMillis; });
  return timed;
}

void AppendGpxPoint(std::string& out, const char* element, const ExportPhoto& photo, bool described) {
  out += "<";
  out += element;
  out += " lat=\"" + Degrees(photo.position.latitude) + "\" lon=\"" + Degrees(photo.position.longitude) + "\">";
  // GPX 1.1 orders a point's children: ele, time, name, …, link.
  if (photo.elevation) {
    out += "<ele>" + XpFormatFixed(*photo.elevation, kElevationDigits) + "</ele>";
  }
  if (photo.utcMillis) {
    out += "<time>" + ExportTimeText(*photo.utcMillis) + "</time>";
  }
  if (described) {
    out += "<name>" + XmlText(photo.name) + "</name>";
    if (!photo.link.empty()) {
      out += "<link href=\"" + XmlText(UriPath(photo.link)) + "\"><text>" + XmlText(photo.name) + "</text></link>";
    }
  }
  out += "</";
  out += element;
  out += ">\n";
}

}  // namespace

std::string ExportTimeText(std::int64_t utcMillis) {
  using namespace std::chrono;
  const sys_time<milliseconds> at{milliseconds(utcMillis)};
  const auto day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{at - day};
  char text[40];
  const int year = static_cast<int>(date.year());
  const long long millis = time.subseconds().count();
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld", year, static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<long long>(time.hours().count()),
                static_cast<long long>(time.minutes().count()), static_cast<long long>(time.seconds().count()));
  std::string out(text);
  if (millis != 0) {
    std::snprintf(text, sizeof text, ".%03lld", millis);
    out += text;
  }
  return out + "Z";
}

std::string WriteGpx(const std::vector<ExportPhoto>& photos, bool track) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"Terravue\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n";
  for (const ExportPhoto& photo : photos) {
    AppendGpxPoint(out, "wpt", photo, true);
  }
  if (track) {
    out += "<trk><name>Photos</name><trkseg>\n";
    for (const ExportPhoto* photo : InTimeOrder(photos)) {
      AppendGpxPoint(out, "trkpt", *photo, false);
    }
    out += "</trkseg></trk>\n";
  }
  out += "</gpx>\n";
  return out;
}

namespace {

std::string JsonPosition(const ExportPhoto& photo) {
  std::string out = "[" + Degrees(photo.position.longitude) + ", " + Degrees(photo.position.latitude);
  if (photo.elevation) {
    out += ", " + XpFormatFixed(*photo.elevation, kElevationDigits);
  }
  return out + "]";
}

}  // namespace

std::string WriteGeoJson(const std::vector<ExportPhoto>& photos, bool track) {
  std::string out = "{\"type\": \"FeatureCollection\", \"features\": [";
  bool first = true;
  for (const ExportPhoto& photo : photos) {
    out += first ? "\n" : ",\n";
    first = false;
    out += "{\"type\": \"Feature\", \"geometry\": {\"type\": \"Point\", \"coordinates\": " + JsonPosition(photo) +
           "}, \"properties\": {\"name\": " + XpJsonString(photo.name, XpJsonStyle::Plain) +
           ", \"link\": " + XpJsonString(photo.link, XpJsonStyle::Plain) +
           ", \"time\": " + (photo.utcMillis ? "\"" + ExportTimeText(*photo.utcMillis) + "\"" : std::string("null")) +
           "}}";
  }
  if (track) {
    const auto timed = InTimeOrder(photos);
    // A line needs two positions; fewer make no line.
    if (timed.size() >= 2) {
      out += first ? "\n" : ",\n";
      out += "{\"type\": \"Feature\", \"geometry\": {\"type\": \"LineString\", \"coordinates\": [";
      for (std::size_t i = 0; i < timed.size(); ++i) {
        out += (i > 0 ? ", " : "") + JsonPosition(*timed[i]);
      }
      out += "]}, \"properties\": {\"name\": \"Photos\"}}";
    }
  }
  out += "\n]}\n";
  return out;
}

namespace {

std::string KmlCoordinates(const ExportPhoto& photo) {
  return Degrees(photo.position.longitude) + "," + Degrees(photo.position.latitude) +
         (photo.elevation ? "," + XpFormatFixed(*photo.elevation, kElevationDigits) : std::string());
}

}  // namespace

namespace {

// The thumbnail of photo `index` (counting from 0) inside a KMZ file.
std::string KmzImageName(std::size_t index) { return "files/" + std::to_string(index + 1) + ".jpg"; }

// The KML document; with `images`, each photo with a thumbnail refers to it by its KMZ name.
std::string KmlDocument(const std::vector<ExportPhoto>& photos, bool track, bool images) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><name>Photos</name>\n";
  for (const ExportPhoto& photo : photos) {
    out += "<Placemark><name>" + XmlText(photo.name) + "</name>";
    if (photo.utcMillis) {
      out += "<TimeStamp><when>" + ExportTimeText(*photo.utcMillis) + "</when></TimeStamp>";
    }
    const bool image = images && !photo.thumbnail.empty();
    if (image) {
      // A description is HTML: the thumbnail above the link to the photo.
      const std::string href = KmzImageName(static_cast<std::size_t>(&photo - photos.data()));
      out += "<description>" + XmlText("<img src=\"" + href + "\"/><br/>" + UriPath(photo.link)) + "</description>";
      out += "<Style><IconStyle><Icon><href>" + href + "</href></Icon></IconStyle></Style>";
    } else if (!photo.link.empty()) {
      out += "<description>" + XmlText(UriPath(photo.link)) + "</description>";
    }
    out += "<Point>";
    if (photo.elevation) {
      out += "<altitudeMode>absolute</altitudeMode>";
    }
    out += "<coordinates>" + KmlCoordinates(photo) + "</coordinates></Point></Placemark>\n";
  }
  if (track) {
    const auto timed = InTimeOrder(photos);
    if (timed.size() >= 2) {
      out += "<Placemark><name>Photos</name><LineString><coordinates>";
      for (std::size_t i = 0; i < timed.size(); ++i) {
        out += (i > 0 ? " " : "") + KmlCoordinates(*timed[i]);
      }
      out += "</coordinates></LineString></Placemark>\n";
    }
  }
  out += "</Document></kml>\n";
  return out;
}

}  // namespace

std::string WriteKml(const std::vector<ExportPhoto>& photos, bool track) { return KmlDocument(photos, track, false); }

std::optional<std::string> WriteKmz(const std::vector<ExportPhoto>& photos, bool track) {
  std::vector<ZipEntry> entries;
  entries.push_back({"doc.kml", KmlDocument(photos, track, true)});
  for (std::size_t i = 0; i < photos.size(); ++i) {
    if (!photos[i].thumbnail.empty()) {
      if (entries.size() == kMaxZipEntries) {
        return std::nullopt;
      }
      entries.push_back({KmzImageName(i), photos[i].thumbnail});
    }
  }
  return WriteStoredZip(entries);
}

// The track goes through the same GPX text the export writes and the one reader of track files,
// in memory, so that the two can never disagree.
XpStatus AddPhotosAsTrack(const std::vector<ExportPhoto>& photos, TrackLog* log) {
  std::vector<ExportPhoto> timed;
  for (const ExportPhoto* photo : InTimeOrder(photos)) {
    timed.push_back(*photo);
  }
  return log->AddBytes(WriteGpx(timed, true));
}

// Metres above sea level from GPSAltitude and GPSAltitudeRef (1: below).
std::optional<double> ExportElevation(const XpGPSRecord& gps) {
  if (!gps.altitude.IsValid() || gps.altitude.denominator == 0) {
    return std::nullopt;
  }
  const double metres = static_cast<double>(gps.altitude.numerator) / gps.altitude.denominator;
  return gps.altitudeRef.IsValid() && gps.altitudeRef.letter == 1 ? -metres : metres;
}

// The photo's true time: its clock in its own zone, else the GPS stamp, else its clock in the
// zone given, else in the machine's zone for that date.
std::optional<std::int64_t> ExportUtcMillis(const std::string& path, const XpPhotoMetadata::Reading& reading,
                                            std::optional<int> zone) {
  PhotoTime time;
  const bool clock = ReadPhotoTime(path, &time);
  if (clock && !time.zoneSeconds && !reading.offsetTimeOriginal.empty()) {
    time.zoneSeconds = ParseZoneOffset(reading.offsetTimeOriginal);
  }
  if (clock && time.zoneSeconds) {
    if (const auto seconds = PhotoUtcSeconds(time, GeotagOptions{})) {
      return *seconds * 1000;
    }
  }
  if (const auto stamp = GpsStampMillis(reading.gps)) {
    return stamp;
  }
  if (!clock) {
    return std::nullopt;
  }
  GeotagOptions options;
  options.zoneSeconds = zone;
  if (const auto seconds = PhotoUtcSeconds(time, options)) {
    return *seconds * 1000;
  }
  return std::nullopt;
}

// The photo's path as a link from the folder the export goes into.
std::string ExportLink(const std::string& folder, const std::string& photo) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(photo, ec);
  if (ec) {
    return photo;
  }
  const std::filesystem::path relative =
      absolute.lexically_normal().lexically_relative(std::filesystem::path(folder).lexically_normal());
  return relative.empty() ? absolute.generic_string() : relative.generic_string();
}

namespace {

// Largest thumbnail taken into a KMZ file; the program's thumbnails are far smaller.
constexpr std::uint64_t kMaxExportThumbnailBytes = 16 * 1024 * 1024;

// Degrees from one of the map's coordinate texts; nothing for "no position" or a bad text.
std::optional<double> DegreesOfText(const std::string& text, bool latitude) {
  XpGPSRef ref;
  XpGPSRational3 rationals;
  double degrees = 0;
  if (!TextToRationals(text, &ref, &rationals, latitude) || !RationalsToDegrees(ref, rationals, &degrees)) {
    return std::nullopt;
  }
  return degrees;
}

}  // namespace

std::vector<ExportPhoto> ExportPhotosOfMap(const PictureList& pictures, const std::string& rootFolder,
                                           const std::vector<std::string>* only, const std::string& folder,
                                           bool thumbnails) {
  std::vector<ExportPhoto> photos;
  for (const PictureRecord& record : pictures.Records()) {
    if (only != nullptr && std::find(only->begin(), only->end(), record.m_path) == only->end()) {
      continue;
    }
    const std::optional<double> latitude = DegreesOfText(record.m_latitude, true);
    const std::optional<double> longitude = DegreesOfText(record.m_longitude, false);
    if (!latitude || !longitude || !(*latitude >= -90.0 && *latitude <= 90.0) ||
        !(*longitude >= -180.0 && *longitude <= 180.0)) {
      continue;
    }
    ExportPhoto photo;
    photo.name = std::filesystem::path(record.m_path).filename().string();
    photo.link = ExportLink(folder, record.m_path);
    photo.position = GeoPoint{*latitude, *longitude};
    XpPhotoMetadata::Reading reading;
    if (XpPhotoMetadata::Read(record.m_path, &reading) == XpStatus::Ok) {
      // The file's altitude belongs to the place the file names, not to one the photo was moved to.
      if (record.m_modified == 0 && record.m_mapOnly == 0) {
        photo.elevation = ExportElevation(reading.gps);
      }
      photo.utcMillis = ExportUtcMillis(record.m_path, reading, std::nullopt);
    }
    if (thumbnails && record.ThumbnailPathIsSafe(rootFolder)) {
      std::string bytes;
      if (ReadWholeFile(record.ThumbnailPath(rootFolder), kMaxExportThumbnailBytes, &bytes) == XpStatus::Ok) {
        photo.thumbnail = std::move(bytes);
      }
    }
    photos.push_back(std::move(photo));
  }
  return photos;
}
