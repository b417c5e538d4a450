#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/server/MapRequest.h"
#include "Applications/Terravue/server/TileLayers.h"

namespace terravue::server {

/// URL path under which the page's script, style, pins, Leaflet and GPS.gif are served.
inline constexpr std::string_view kScriptUrlPath = "/www/gps/terravue/script/";

/// Thumbnail URLs of the answered page start with this prefix unless the host configures another.
/// "pic_cache" is relative to "base" (the work folder), so the URL is the prefix and that relative
/// path. The program's embedded browser registers the scheme and serves it from its work folder
/// only, for requests whose initiator is this server's page: the page comes from 127.0.0.1 and may
/// not read local files, and a loopback HTTP route for thumbnails could be queried by any local
/// user. A plain browser shows no thumbnails on this page; the saved page "data.htm" uses relative
/// files instead. The page itself never builds a URL for a path that could leave the folder
/// (ThumbnailUrl), and the scheme handler must check again.
inline constexpr std::string_view kDefaultThumbnailPrefix = "tvthumb:/";

/// Map tiles of the answered page, OpenStreetMap's standard layer unless configured otherwise.
inline constexpr std::string_view kDefaultTileUrl = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
inline constexpr std::string_view kDefaultTileAttribution = "\xC2\xA9 OpenStreetMap contributors";

/// Deployment choices of the answered map page.
struct MapPageSettings {
  std::string tileUrl{kDefaultTileUrl};                  ///< Leaflet URL template; empty: no tile layer
  std::string tileAttribution{kDefaultTileAttribution};  ///< plain text shown in the map corner
  std::string thumbnailPrefix{kDefaultThumbnailPrefix};  ///< put before every encoded "pic_cache"
  int maxZoom = 19;
  /// More layers to choose from on the page, the first shown unless the user chose another
  /// before; empty: only the layer above. Each keeps its own attribution and zoom.
  std::vector<TileLayer> layers;
  /// A line the page shows the user about its layers (a layer file that could not be used, a
  /// tile file that could not be opened); empty: none.
  std::string tileNotice;
};

/// Builds the thumbnail URL of a picture: the prefix, then the relative cache path with "\" read
/// as "/" and every segment percent-encoded. Answers an empty text (no thumbnail) when the path
/// could leave the folder it is relative to: empty, absolute, a drive or scheme in front, an empty,
/// "." or ".." segment, or a control character.
[[nodiscard]] std::string ThumbnailUrl(std::string_view prefix, std::string_view cache);

/// Fills the page template: "{{HTML_LANG}}", "{{TITLE}}", "{{SCRIPT}}" (the script URL path),
/// "{{DATA}}" (the map as JSON, safe inside a script element) and "{{FIELDS}}" (the hidden INPUT
/// fields the program reads back: map_zoom, map_latitude, map_longitude, pic_count and, for each
/// picture k, pic_modifyk, pic_latitudek, pic_longitudek, holding the values as sent). Any other
/// text, including unknown "{{...}}", is copied unchanged. Every value is escaped for its context.
[[nodiscard]] std::string RenderMapPage(std::string_view pageTemplate, const MapRequest& request,
                                        const MapPageSettings& settings);

/// The hidden fields alone, as RenderMapPage writes them for "{{FIELDS}}".
[[nodiscard]] std::string RenderHiddenFields(const MapRequest& request);

/// The map as the JSON object RenderMapPage writes for "{{DATA}}".
[[nodiscard]] std::string RenderMapData(const MapRequest& request, const MapPageSettings& settings);

/// The last component of a picture path (after the last "/" or "\"), shown to the user.
[[nodiscard]] std::string_view DisplayName(std::string_view path) noexcept;

}  // namespace terravue::server
