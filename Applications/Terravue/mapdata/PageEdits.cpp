#include "Applications/Terravue/mapdata/PageEdits.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "xp/text/XpAsciiCase.h"
#include "xp/text/XpNumberText.h"

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (XpAsciiLower(a[i]) != XpAsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

// The index K of a field named `prefix` followed by K in decimal digits only
// (exact case); nothing for any other name or an index beyond the int range.
std::optional<std::int64_t> IndexAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
    return std::nullopt;
  }
  std::int64_t index = 0;
  for (const char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    if (__builtin_mul_overflow(index, 10, &index) || __builtin_add_overflow(index, c - '0', &index) ||
        index > std::numeric_limits<int>::max()) {
      return std::nullopt;
    }
  }
  return index;
}

}  // namespace

std::int64_t LeadingDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\f' || text[i] == '\v')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, negative ? -digit : digit, &value)) {
      return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
  }
  return value;
}

PageEdits CollectPageEdits(std::span<const PageField> fields, bool withPictures) {
  PageEdits edits;
  for (const PageField& field : fields) {
    const std::string_view name = field.name;
    if (EqualsIgnoringCase(name, "map_zoom")) {
      if (!field.value.empty()) {
        edits.zoom = field.value;
      }
      continue;
    }
    if (EqualsIgnoringCase(name, "map_latitude")) {
      if (!field.value.empty()) {
        edits.latitude = field.value;
      }
      continue;
    }
    if (EqualsIgnoringCase(name, "map_longitude")) {
      if (!field.value.empty()) {
        edits.longitude = field.value;
      }
      continue;
    }
    if (!withPictures) {
      continue;
    }
    if (EqualsIgnoringCase(name, "pic_count")) {
      if (field.value.empty()) {
        continue;
      }
      // A repeated count starts the entries again.
      const std::int64_t count = LeadingDecimal(field.value);
      edits.count = count > 0 ? count : 0;
      edits.entries.clear();
      if (edits.count > 0 && edits.count <= PageEdits::kMaxEntries) {
        edits.entries.resize(static_cast<std::size_t>(edits.count));
      }
      continue;
    }
    if (edits.entries.empty()) {
      continue;
    }
    const auto entryAt = [&edits](std::optional<std::int64_t> k) -> PageEditEntry* {
      if (!k || *k < 1 || static_cast<std::uint64_t>(*k) > edits.entries.size()) {
        return nullptr;
      }
      return &edits.entries[static_cast<std::size_t>(*k - 1)];
    };
    if (const auto k = IndexAfter(name, "pic_modify"); k) {
      if (PageEditEntry* entry = entryAt(k); entry != nullptr) {
        entry->moved = field.value == "1";
      }
    } else if (const auto k2 = IndexAfter(name, "pic_latitude"); k2) {
      if (PageEditEntry* entry = entryAt(k2); entry != nullptr) {
        entry->latitude = field.value;
      }
    } else if (const auto k3 = IndexAfter(name, "pic_longitude"); k3) {
      if (PageEditEntry* entry = entryAt(k3); entry != nullptr) {
        entry->longitude = field.value;
      }
    } else if (const auto k4 = IndexAfter(name, "pic_remove"); k4) {
      if (PageEditEntry* entry = entryAt(k4); entry != nullptr) {
        entry->removed = field.value == "1";
      }
    } else if (const auto k5 = IndexAfter(name, "pic_named"); k5) {
      if (PageEditEntry* entry = entryAt(k5); entry != nullptr) {
        // The number of the set of names the photo should hold; anything else is the first.
        const std::optional<int> version = XpParseInteger<int>(field.value);
        entry->named = version && *version >= 0 ? *version : 0;
      }
    }
  }
  return edits;
}

bool ApplyPageEdits(const PageEdits& edits, MapState& map, bool* removedAny, std::vector<RemovedPicture>* taken) {
  if (removedAny != nullptr) {
    *removedAny = false;
  }
  std::vector<std::pair<std::string, std::string>> positions;
  if (edits.count > PageEdits::kMaxEntries) {
    // More pictures than any map holds: only the head values apply.
    static_cast<void>(map.ApplyPageValues(edits.zoom, edits.latitude, edits.longitude, {}));
    return false;
  }
  positions.reserve(edits.entries.size());
  for (const PageEditEntry& entry : edits.entries) {
    positions.emplace_back(entry.latitude, entry.longitude);
  }
  bool modified = map.ApplyPageValues(edits.zoom, edits.latitude, edits.longitude, positions);
  std::vector<PictureRecord>& records = map.m_pictures.Records();
  if (edits.entries.size() != records.size()) {
    return modified;
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    // Only names the program chose can wait. The page says which of the photo's sets of names it
    // should hold; a photo whose sets the program does not keep takes 1 as "they wait".
    const int named = edits.entries[i].named;
    if (named < 0 || !records[i].m_names) {
      continue;
    }
    if (records[i].m_nameVersions.empty()) {
      records[i].m_namesPending = named == 1 ? 1 : 0;
    } else {
      static_cast<void>(records[i].WantNames(static_cast<std::uint32_t>(named)));
    }
  }
  modified = map.AnyModified();
  // Back to front, so the indexes of the entries still to go stay valid.
  bool removed = false;
  for (std::size_t i = records.size(); i-- > 0;) {
    if (!edits.entries[i].removed) {
      continue;
    }
    if (taken != nullptr) {
      taken->push_back(RemovedPicture{std::move(records[i]), i});
    } else {
      DropRemovedThumbnail(RemovedPicture{records[i], i}, map.m_rootFolder);
    }
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
    removed = true;
  }
  if (removedAny != nullptr) {
    *removedAny = removed;
  }
  return modified || removed;
}

void PutBackPicture(RemovedPicture removed, MapState& map) {
  std::vector<PictureRecord>& records = map.m_pictures.Records();
  const std::size_t at = std::min(removed.index, records.size());
  records.insert(records.begin() + static_cast<std::ptrdiff_t>(at), std::move(removed.record));
}

void DropRemovedThumbnail(const RemovedPicture& removed, const std::string& rootFolder) {
  // A thumbnail no saved state holds would be left over; a saved state's
  // thumbnail stays until that state is saved without the picture.
  const PictureRecord& record = removed.record;
  if (record.m_stateName.empty() && !record.m_cacheName.empty() && record.ThumbnailPathIsSafe(rootFolder)) {
    (void)MapRemoveFile(record.ThumbnailPath(rootFolder));
  }
}
