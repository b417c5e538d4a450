// Photos as GPX, GeoJSON and KML files for other programs.
#include "Applications/Terravue/mapdata/PhotoExport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "Applications/Terravue/mapdata/TrackLog.h"
#include "Applications/Terravue/mapdata/ZipArchive.h"
#include "xp/text/XpEscape.h"
#include "xp/text/XpHexDigits.h"
#include "xp/text/XpNumberText.h"
#include "xp/text/XpUtf8.h"

namespace {

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
