#pragma once
// One case of the page-edit fuzzer, shared with the unit test that replays its
// corpus: the bytes as a page's fields for a small map, and the rules that must
// hold once they are applied.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PageEdits.h"

namespace page_edits_case {

/// What a case did, for the replaying test's counts.
struct Outcome {
  bool ran = false;         ///< false for input too short to be a case
  bool removedAny = false;  ///< pictures left the map
  std::string broken;       ///< the rule that did not hold; empty when all did
};

/// A flag byte (bit 0: the page holds pictures), a picture count byte (mod 6),
/// then one "name=value" field a line (a line without "=" has an empty value),
/// collected and applied to a map of that many pictures.
inline Outcome Run(std::string_view bytes) {
  Outcome outcome;
  if (bytes.size() < 2) {
    return outcome;
  }
  outcome.ran = true;
  const bool withPictures = (static_cast<unsigned char>(bytes[0]) & 1U) != 0;
  const std::size_t pictures = static_cast<unsigned char>(bytes[1]) % 6U;
  const std::string_view text = bytes.substr(2);

  std::vector<PageField> fields;
  for (std::size_t start = 0; start <= text.size();) {
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
    outcome.broken = "more entries than any map can have";
    return outcome;
  }
  if (!withPictures && (edits.count != 0 || !edits.entries.empty())) {
    outcome.broken = "entries from a page without pictures";
    return outcome;
  }
  std::vector<std::string> kept;
  std::size_t removals = 0;
  for (std::size_t i = 0; i < edits.entries.size(); ++i) {
    if (edits.entries[i].removed) {
      ++removals;
    } else if (i < pictures) {
      kept.push_back(map.m_pictures.At(i).m_path);
    }
  }
  const bool matched = edits.entries.size() == pictures;
  const bool modified = ApplyPageEdits(edits, map, &outcome.removedAny);
  // A picture the page removes leaves the map, modified or not: the answer
  // counts the removal, and the pictures that stay are exactly the others.
  if (outcome.removedAny != (matched && removals > 0)) {
    outcome.broken = "the answer does not tell whether pictures were removed";
  } else if (modified != (matched && (map.AnyModified() || outcome.removedAny))) {
    outcome.broken = "the answer does not tell whether the map changed";
  } else if (matched && map.m_pictures.Paths() != kept) {
    outcome.broken = "the pictures that stay are not those the page kept";
  } else if (!matched && map.m_pictures.Count() != pictures) {
    outcome.broken = "a page for another map removed pictures";
  } else if (!matched) {
    for (const PictureRecord& record : map.m_pictures.Records()) {
      if (record.m_modified != 0 || record.m_latitude != "N:01:00:00.000") {
        outcome.broken = "a page for another map moved pictures";
      }
    }
  }
  return outcome;
}

}  // namespace page_edits_case
