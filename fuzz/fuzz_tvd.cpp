// Feeds arbitrary bytes to the saved-state reader. Whatever a successful read
// gives must write out as a state text that reads back with the same number of
// pictures, and writing that again must give the same text: the writer leaves
// out what can't stand on one line, so one round settles every value. The
// bytes are also read as a list of pending moves, and what follows a line
// "#Terravue map-only positions 1" as the list of positions kept on the map
// only, which must settle the same way.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/MapState.h"

namespace {

MapState Fresh() { return MapState::Listed("Fuzz", "/nonexistent/tv-fuzz-root/Fuzz/data.tvd"); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = bytes.find("#Terravue map-only positions 1");
  const std::string_view text = bytes.substr(0, cut);
  const std::string_view mapOnly = cut == std::string_view::npos ? std::string_view() : bytes.substr(cut);
  MapState first = Fresh();
  if (first.ReadFromText(text) != PictureResult::Success) {
    return 0;
  }
  // The same bytes as a list of pending moves must mark only pictures it names.
  first.ApplyMovesText(text);
  first.ApplyMapOnlyText(mapOnly);
  MapState second = Fresh();
  if (second.ReadFromText(first.StateText()) != PictureResult::Success ||
      second.m_pictures.Count() != first.m_pictures.Count()) {
    std::abort();
  }
  second.ApplyMapOnlyText(first.MapOnlyText());
  MapState third = Fresh();
  if (third.ReadFromText(second.StateText()) != PictureResult::Success || third.StateText() != second.StateText()) {
    std::abort();
  }
  third.ApplyMapOnlyText(second.MapOnlyText());
  if (third.MapOnlyText() != second.MapOnlyText()) {
    std::abort();
  }
  return 0;
}
