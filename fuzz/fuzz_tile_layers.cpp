// The map-layer file: any text gives either its layers within the bounds, or the default list
// with a problem; never a layer without a usable address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/server/TileLayers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const terravue::server::TileLayerList list = terravue::server::ParseTileLayers(text);
  if (list.layers.empty() || list.layers.size() > terravue::server::kMaxTileLayers) {
    std::abort();
  }
  for (const terravue::server::TileLayer& layer : list.layers) {
    if (layer.url.empty() || layer.url.find("{z}") == std::string::npos || layer.maxZoom < 1 || layer.maxZoom > 22) {
      std::abort();
    }
  }
  if (!list.problem.empty() && list.layers != terravue::server::DefaultTileLayers()) {
    std::abort();
  }
  return 0;
}
