// Reading the map page's fields back: any list of (name, value) pairs a page
// can hold is collected and applied to a small map without a crash, without
// allocating for counts no map can have, and without touching pictures when
// the page's count does not match the map. Pictures the page removes leave the
// map, and only those.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PageEdits.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const bool withPictures = (data[0] & 1U) != 0;
  const std::size_t pictures = data[1] % 6U;
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  // One field per line, "name=value"; a line without "=" has an empty value.
  std::vector<PageField> fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = text.substr(start, end - start);
    const std::size_t equals = line.find('=');
    fields.push_back(PageField{std::string(line.substr(0, equals)), equals == std::string_view::npos
                                                                        ? std::string()
                                                                        : std::string(line.substr(equals + 1))});
    start = end + 1;
  }

  MapState map("/nowhere");
  for (std::size_t i = 0; i < pictures; ++i) {
    PictureRecord record("/p" + std::to_string(i) + ".jpg", "", "cache_" + std::to_string(i) + ".jpg");
    record.m_latitude = "N:01:00:00.000";
    record.m_longitude = "E:001:00:00.000";
    map.m_pictures.Append(record);
  }
  const PageEdits edits = CollectPageEdits(fields, withPictures);
  if (edits.entries.size() > static_cast<std::size_t>(PageEdits::kMaxEntries)) {
    std::abort();
  }
  if (!withPictures && (edits.count != 0 || !edits.entries.empty())) {
    std::abort();
  }
  std::size_t removals = 0;
  for (const PageEditEntry& entry : edits.entries) {
    removals += entry.removed ? 1U : 0U;
  }
  bool removedAny = false;
  const bool modified = ApplyPageEdits(edits, map, &removedAny);
  const bool matched = edits.entries.size() == pictures;
  // A picture the page removes leaves the map, modified or not: the answer
  // counts the removal, and the pictures that stay are exactly the others.
  if (removedAny != (matched && removals > 0)) {
    std::abort();
  }
  if (map.m_pictures.Count() != (matched ? pictures - removals : pictures)) {
    std::abort();
  }
  if (modified != (matched && (map.AnyModified() || removedAny))) {
    std::abort();
  }
  if (!matched) {
    for (const PictureRecord& record : map.m_pictures.Records()) {
      if (record.m_modified != 0 || record.m_latitude != "N:01:00:00.000") {
        std::abort();
      }
    }
  }
  return 0;
}
