#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PictureRecord.h"

class ProgressSink;

/// True when adding takes the picture at `path` to a map whose thumbnails go
/// to `rootFolder`: a listable picture (IsListablePicture: a JPEG still or a
/// photo of another format this program reads) whose path can be saved (no line break) and
/// that does not lie in `rootFolder` or below (the program's own folder).
[[nodiscard]] bool IsAddablePicture(const std::string& path, const std::string& rootFolder);

/// The first thumbnail number from `from` on whose "cache_N.jpg" is no entry
/// of `rootFolder` (of any kind); the largest number when all are taken.
[[nodiscard]] std::int32_t NextFreeThumbnailNumber(std::int32_t from, const std::string& rootFolder);

/// The pictures of one map in display order, and the counter that numbers new
/// thumbnails. The counter never goes down, so thumbnail names stay unique.
/// Fills `m_pairedFiles` of each JPEG still among `records` with the raw
/// files beside it that form one picture with it (PairedOtherFormatFiles),
/// each folder listed once; clears it for the others.
void FindRawJpegPairs(std::vector<PictureRecord>& records);

class PictureList {
 public:
  /// The paths of `paths` that name a file neither on the list nor named by an
  /// earlier path of `paths`, in order. Paths compare by the file they reach: a
  /// symbolic link, a hard link or another spelling of a path on the list is
  /// the same file.
  [[nodiscard]] std::vector<std::string> NewFilesOnly(const std::vector<std::string>& paths) const;

  /// `paths` without the photos of another format (a camera raw file, a
  /// HEIC, ...) whose JPEG partner is on the list or among `paths`: a JPEG
  /// still in the same folder with the same base name, in any letter case
  /// ("IMG_1.CR3" and "img_1.jpg"). A pair shows as one picture, the JPEG.
  /// While pairs are not linked (RawJpegPairsLinked), `paths` as they are.
  [[nodiscard]] std::vector<std::string> OnePerPair(const std::vector<std::string>& paths) const;

  /// Adds the listable pictures among `paths` (each file once, one of a
  /// RAW+JPEG pair; see NewFilesOnly and OnePerPair)
  /// that IsAddablePicture takes: each gets the next free thumbnail number, its
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

  /// True when a record has this path or one that reaches the same file.
  [[nodiscard]] bool ContainsPath(const std::string& path) const;

  /// The record paths in list order.
  [[nodiscard]] std::vector<std::string> Paths() const;

  /// True for an empty list or when the first record has a thumbnail name.
  [[nodiscard]] bool FirstHasThumbnail() const;

  void ClearSelection();

  /// Reads every record's position and time again and brings its thumbnail's GPS
  /// tags in step with it. A modified record keeps its position and file stamp:
  /// its move is not in the picture yet.
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
