// Feeds arbitrary bytes to the saved-state reader. Whatever a successful read
// gives must write out as a state text that reads back with the same pictures.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/MapState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  MapState state = MapState::Listed("Fuzz", "/nonexistent/tv-fuzz-root/Fuzz/data.tvd");
  if (state.ReadFromText(text) != PictureResult::Success) {
    return 0;
  }
  MapState again = MapState::Listed("Fuzz", "/nonexistent/tv-fuzz-root/Fuzz/data.tvd");
  if (again.ReadFromText(state.StateText()) != PictureResult::Success ||
      again.m_pictures.Count() != state.m_pictures.Count() || again.m_zoom != state.m_zoom) {
    std::abort();
  }
  return 0;
}
