#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace terravue::server {

/// One map layer the page offers: a Leaflet URL template ("{z}", "{x}", "{y}", optionally "{s}"),
/// the attribution shown in the map corner (plain text), the deepest zoom it has, and whether its
/// server wants to be told the page's origin in a Referer (public tile servers mostly do).
struct TileLayer {
  std::string name;
  std::string url;
  std::string attribution;
  int maxZoom = 19;
  bool referer = true;

  bool operator==(const TileLayer&) const = default;
};

/// The layer list the page offers when the user has none: OpenStreetMap's standard layer.
[[nodiscard]] std::vector<TileLayer> DefaultTileLayers();

/// What reading a layer file gave: the layers (the default list when the file could not be used)
/// and, when it could not, why, as one line the user can act on ("tile-layers.conf line 7: ...").
struct TileLayerList {
  std::vector<TileLayer> layers;
  std::string problem;
};

/// Bounds on a layer file: it is the user's to edit, but it is read as outside data.
inline constexpr std::size_t kMaxTileLayerFileBytes = 64 * 1024;
inline constexpr std::size_t kMaxTileLayers = 32;
inline constexpr std::size_t kMaxTileLayerValueBytes = 2048;

/// Reads the text of a layer file. One block per layer, the first being the default:
///
///     # comment
///     [OpenStreetMap]
///     url = https://tile.openstreetmap.org/{z}/{x}/{y}.png
///     attribution = © OpenStreetMap contributors
///     max_zoom = 19
///     referer = yes
///
/// A name is 1 to 64 characters of valid UTF-8 and unique; "url" is required, http or https (or
/// a path on the page's own server starting with "/"), with "{z}", "{x}" and "{y}"; "max_zoom"
/// is 1 to 22; "referer" is "yes" or "no". Any fault (an unknown key, a value over the bounds,
/// invalid UTF-8, a control character) rejects the whole file, so that the user learns of it,
/// and the default list is answered with the problem.
[[nodiscard]] TileLayerList ParseTileLayers(std::string_view text, std::string_view fileName = "tile-layers.conf");

/// Reads a layer file from disk (regular files only, not following a link, bounded). A file that
/// does not exist answers the default list with no problem.
[[nodiscard]] TileLayerList LoadTileLayers(const std::filesystem::path& file);

}  // namespace terravue::server
