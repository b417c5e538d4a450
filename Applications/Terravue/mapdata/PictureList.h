#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PictureRecord.h"

class ProgressSink;

/// The pictures of one map in display order, and the counter that numbers new
/// thumbnails. The counter never goes down, so thumbnail names stay unique.
class PictureList {
 public:
  /// Adds the JPEG stills among `paths`: each gets the next thumbnail number, its
  /// position and capture time, and a thumbnail under `rootFolder`. Other files,
  /// and paths that hold a line break (they could not be saved), are passed over.
  /// The first added picture that has a position is selected. One progress step
  /// per added picture; when `keepGoing` is found cleared after a picture, the
  /// call ends at once without sorting. Otherwise the list is sorted by capture
  /// time at the end. False only when a thumbnail could not be written; the
  /// records added before stay.
  [[nodiscard]] bool AddPictures(const std::vector<std::string>& paths, const std::string& rootFolder,
                                 ProgressSink& progress, const std::atomic<bool>& keepGoing);

  /// Counts the records without position into `*withoutPosition` (may be null);
  /// true when at least one record has a position.
  bool CountWithoutPosition(int* withoutPosition) const;

  /// True when a record has exactly this path (paths compare as the file system does).
  [[nodiscard]] bool ContainsPath(const std::string& path) const;

  /// The record paths in list order.
  [[nodiscard]] std::vector<std::string> Paths() const;

  /// True for an empty list or when the first record has a thumbnail name.
  [[nodiscard]] bool FirstHasThumbnail() const;

  void ClearSelection();

  /// Reads every record's position and time again and brings its thumbnail's GPS
  /// tags in step with it.
  void RefreshAll(const std::string& rootFolder);

  /// Deletes the thumbnails of records that belong to no saved state.
  void DropUnsavedThumbnails(const std::string& rootFolder) const;

  /// Sorts by capture time, earliest first.
  void SortByCaptureTime();

  [[nodiscard]] std::size_t Count() const { return m_records.size(); }
  [[nodiscard]] bool Empty() const { return m_records.empty(); }
  [[nodiscard]] PictureRecord& At(std::size_t index) { return m_records.at(index); }
  [[nodiscard]] const PictureRecord& At(std::size_t index) const { return m_records.at(index); }
  [[nodiscard]] std::vector<PictureRecord>& Records() { return m_records; }
  [[nodiscard]] const std::vector<PictureRecord>& Records() const { return m_records; }

  void Clear() { m_records.clear(); }
  void Append(PictureRecord record) { m_records.push_back(std::move(record)); }

  [[nodiscard]] std::int32_t Counter() const { return m_counter; }
  void SetCounter(std::int32_t counter) { m_counter = counter; }

 private:
  std::vector<PictureRecord> m_records;
  std::int32_t m_counter = 0;
};
