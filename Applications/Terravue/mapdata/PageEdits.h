#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PictureRecord.h"

class MapState;

/// One INPUT element of the map page as the browser reports it, in document order.
struct PageField {
  std::string name;
  std::string value;
};

/// What one picture's fields on the page say.
struct PageEditEntry {
  bool moved = false;  ///< "pic_modifyK" was exactly "1"
  std::string latitude;
  std::string longitude;
  bool removed = false;  ///< "pic_removeK" was exactly "1": the picture leaves the map
  /// "pic_namedK": the number of the set of place names the photo should hold (0, its names before
  /// it was named, for a value that is not a number), -1 without the field.
  int named = -1;

  bool operator==(const PageEditEntry&) const = default;
};

/// The user's edits as the map page's hidden fields hold them. Lives for one reading.
struct PageEdits {
  /// Largest "pic_count" that gets entries. A map never holds this many
  /// pictures, so a larger count is kept only as a number: it can never match
  /// the map and allocates nothing.
  static constexpr std::int64_t kMaxEntries = 100'000;

  std::string zoom;       ///< last non-empty "map_zoom", empty if none
  std::string latitude;   ///< last non-empty "map_latitude"
  std::string longitude;  ///< last non-empty "map_longitude"
  /// The last "pic_count" read (0 when none, or a count of zero or less).
  std::int64_t count = 0;
  /// One record per picture, in index order; empty when `count` is 0 or above kMaxEntries.
  std::vector<PageEditEntry> entries;
};

/// A picture the page took off the map, as the map held it, and where it stood in the map's list.
struct RemovedPicture {
  PictureRecord record;
  std::size_t index = 0;  ///< its place in the list when it left, from 0
};

/// Collects the page's fields. The head names ("map_zoom", "map_latitude",
/// "map_longitude", and "pic_count") are compared whole, ignoring ASCII letter
/// case; an empty value leaves what was collected. With `withPictures`,
/// "pic_count" (its leading decimal number; a non-number gives 0) starts the
/// entries afresh, and afterwards "pic_modifyK", "pic_latitudeK" and
/// "pic_longitudeK" (exact case, K decimal digits only, 1 <= K <= count) fill
/// entry K, as "pic_removeK" and "pic_namedK" do. Fields before the count, out-of-range indexes and other names are
/// ignored.
[[nodiscard]] PageEdits CollectPageEdits(std::span<const PageField> fields, bool withPictures);

/// Applies collected edits to `map` (the map's apply page values): the head
/// values that are non-empty and differ replace the map's; when the number of
/// entries equals the number of pictures, each picture takes its entry's
/// position, and the pictures whose entry says removed leave the map (their
/// unsaved thumbnails are deleted; the pictures themselves are not touched).
/// A picture with chosen place names takes its entry's "named" as the set of
/// names it should hold (PictureRecord::WantNames); one whose sets are not
/// kept takes 1 as "they wait to be written", any other number as "they don't".
/// True when any picture of the map is modified afterwards or one was
/// removed; false on a count mismatch (no picture is touched then).
/// `removedAny` (may be null) tells whether a picture was removed: the page
/// no longer matches the map then.
/// With `taken`, the removed pictures are appended to it as the map held them, last one in the
/// list first, and their thumbnails are kept, so that they can be put back as they were.
bool ApplyPageEdits(const PageEdits& edits, MapState& map, bool* removedAny = nullptr,
                    std::vector<RemovedPicture>* taken = nullptr);

/// Puts `removed` back into `map` at its place (at the end when the list has become shorter).
void PutBackPicture(RemovedPicture removed, MapState& map);

/// Deletes the thumbnail of a removed picture unless a saved state holds it, as a removal without
/// `taken` does at once.
void DropRemovedThumbnail(const RemovedPicture& removed, const std::string& rootFolder);

/// The leading decimal number of `text` as the page's count is read: optional
/// blanks, an optional sign, then digits; 0 when there are none. Values beyond
/// the 64-bit range are clamped.
[[nodiscard]] std::int64_t LeadingDecimal(const std::string& text);
