// A journal entry file: any bytes are either a whole, well-formed entry that writes back to the
// same bytes, or refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/PhotoJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  PhotoJournal::Entry entry;
  if (!PhotoJournal::ParseEntry(bytes, &entry)) {
    return 0;
  }
  if (entry.kept.size() > PhotoJournal::kMaxKeptBytes || entry.before.size() != 64 || entry.after.size() != 64 ||
      entry.path.empty()) {
    std::abort();
  }
  PhotoJournal::Entry again;
  if (!PhotoJournal::ParseEntry(PhotoJournal::FormatEntry(entry), &again) || again.kept != entry.kept ||
      again.path != entry.path || again.keepFrom != entry.keepFrom) {
    std::abort();
  }
  return 0;
}
