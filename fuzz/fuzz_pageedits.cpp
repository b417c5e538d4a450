// Reading the map page's fields back: any list of (name, value) pairs a page
// can hold is collected and applied to a small map without a crash, without
// allocating for counts no map can have, and without touching pictures when
// the page's count does not match the map. Pictures the page removes leave the
// map, and only those.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/PageEditsCase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto outcome = page_edits_case::Run(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!outcome.broken.empty()) {
    std::abort();
  }
  return 0;
}
