#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/server/RequestStatus.h"

namespace terravue::server {

/// One picture of the map as the program sends it (the seven numbered fields).
struct MapRequestPicture {
  std::string path;       ///< "pic_path": the picture's full path
  std::string cache;      ///< "pic_cache": the thumbnail's path relative to "base"
  std::string latitude;   ///< "pic_latitude": a coordinate text, or the no-position placeholder
  std::string longitude;  ///< "pic_longitude"
  std::string time;       ///< "pic_time": the capture time as the user reads it
  int width = 0;          ///< "pic_cx": thumbnail display width
  int height = 0;         ///< "pic_cy": thumbnail display height
};

/// The language of the answered page.
enum class PageLanguage : unsigned char { English, Japanese };

/// The map the program posts to the map script, decoded.
struct MapRequest {
  std::string formatVersion;  ///< "format_version", "1.1"
  std::string clientName;     ///< "client_name", optional
  std::string clientVersion;  ///< "client_version", optional
  std::string lang;           ///< "lang" as sent ("ENU", "JPN", ...)
  PageLanguage language = PageLanguage::English;
  std::string zoom;       ///< "map_zoom" as sent
  std::string latitude;   ///< "map_latitude" as sent
  std::string longitude;  ///< "map_longitude" as sent
  std::string base;       ///< "base": the work folder, ending in "/"
  std::vector<MapRequestPicture> pictures;
  std::size_t select = 0;  ///< 1-based number of the highlighted picture, 0 for none
};

/// Largest thumbnail side the page accepts in "pic_cx" / "pic_cy".
inline constexpr int kMaxThumbnailSide = 100000;

/// Decodes a form body into a map request. Every head field and "select" is required; the
/// pictures are numbered 1..n without gaps and each carries all seven fields; "pic_cx", "pic_cy"
/// and "select" are plain decimals ("select" at most n). Unknown fields are ignored so that a newer
/// program can add some. Answers the first problem found; `request` is reset on failure.
[[nodiscard]] RequestStatus ParseMapRequest(std::string_view body, MapRequest& request);

/// "JPN" (in any letter case) selects Japanese; everything else English.
[[nodiscard]] PageLanguage LanguageFromCode(std::string_view code) noexcept;

}  // namespace terravue::server
