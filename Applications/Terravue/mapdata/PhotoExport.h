#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"
#include "xp/formats/XpPhotoMetadata.h"

/// One photo as an export file lists it.
struct ExportPhoto {
  std::string name;  ///< shown as the point's name, UTF-8
  std::string link;  ///< the photo's path relative to the export file, '/' between folders
  GeoPoint position;
  std::optional<double> elevation;        ///< metres above sea level
  std::optional<std::int64_t> utcMillis;  ///< when it was taken, milliseconds since 1970 UTC
  std::string thumbnail;                  ///< a JPEG of the photo for a KMZ file; empty for none
};

/// A GPX 1.1 file: one waypoint per photo (position, elevation, UTC time, name, link to the
/// photo); with `track`, also one track through the photos that have a time, in time order.
/// Names and links that are not well-formed UTF-8, or hold characters XML cannot carry, have
/// those bytes replaced by U+FFFD, so the file is always well-formed.
[[nodiscard]] std::string WriteGpx(const std::vector<ExportPhoto>& photos, bool track);

/// A GeoJSON FeatureCollection (RFC 7946): one Point feature per photo, [longitude, latitude,
/// elevation], with the name, link and time as properties; with `track`, also one LineString
/// through the photos that have a time, in time order.
[[nodiscard]] std::string WriteGeoJson(const std::vector<ExportPhoto>& photos, bool track);

/// A KML 2.2 document: one Placemark per photo; with `track`, also one LineString placemark.
[[nodiscard]] std::string WriteKml(const std::vector<ExportPhoto>& photos, bool track);

/// A KMZ file: a ZIP archive of "doc.kml" (as WriteKml, the placemark of each photo with a
/// thumbnail showing it as its icon and in its description) and each thumbnail as
/// "files/N.jpg", N counting the photos from 1. Nothing when the archive would be too large for
/// the ZIP format (more than 65,534 thumbnails, or 4 GiB).
[[nodiscard]] std::optional<std::string> WriteKmz(const std::vector<ExportPhoto>& photos, bool track);

/// A time as ISO 8601 in UTC ("2024-05-01T10:20:30Z", with milliseconds when there are any).
[[nodiscard]] std::string ExportTimeText(std::int64_t utcMillis);

class PictureList;
class TrackLog;

/// Adds the photos that have a time to `log` as one track, in time order, for the track
/// geotagger to place other photos by (a phone's photos placing a camera's): exactly the fixes a
/// GPX export of the same photos with its track gives. Photos without a time are left out.
/// Answers the log's status; on failure the log is unchanged.
[[nodiscard]] XpStatus AddPhotosAsTrack(const std::vector<ExportPhoto>& photos, TrackLog* log);

/// Metres above sea level from a photo's GPSAltitude and GPSAltitudeRef (1: below); nothing
/// without a usable altitude.
[[nodiscard]] std::optional<double> ExportElevation(const XpGPSRecord& gps);

/// The true time of the photo at `path` in milliseconds since 1970 UTC: its clock in its own zone,
/// else its GPS date and time stamps, else its clock in `zone` (seconds east of UTC), else in the
/// machine's zone for that date. Nothing when the photo tells no time.
[[nodiscard]] std::optional<std::int64_t> ExportUtcMillis(const std::string& path,
                                                          const XpPhotoMetadata::Reading& reading,
                                                          std::optional<int> zone);

/// The photo's path as a link from `folder` (the folder the export file goes into), '/' between
/// folders; the absolute path when there is no relative one.
[[nodiscard]] std::string ExportLink(const std::string& folder, const std::string& photo);

/// The photos of a map that have a position, in map order, as an export into `folder` lists
/// them (only those whose paths `only` holds, when it is given): the map's position, moved or
/// not; the file's elevation while the photo stands where its file says; its true time; with
/// `thumbnails`, the map's thumbnail of each kept under `rootFolder` (none where it is missing).
[[nodiscard]] std::vector<ExportPhoto> ExportPhotosOfMap(const PictureList& pictures, const std::string& rootFolder,
                                                         const std::vector<std::string>* only,
                                                         const std::string& folder, bool thumbnails);
