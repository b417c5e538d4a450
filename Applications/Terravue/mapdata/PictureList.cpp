#include "Applications/Terravue/mapdata/PictureList.h"

#include <algorithm>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "Applications/Terravue/mapdata/TextScan.h"

bool PictureList::AddPictures(const std::vector<std::string>& paths, const std::string& rootFolder,
                              ProgressSink& progress, const std::atomic<bool>& keepGoing) {
  bool selectedOne = false;
  for (const std::string& path : paths) {
    // A path with a line break could not be stored in the state file.
    if (path.empty() || HasLineBreak(path) || !IsJpegStill(path)) {
      continue;
    }
    const std::string cacheName = "cache_" + std::to_string(m_counter) + ".jpg";
    if (m_counter < INT32_MAX) {
      ++m_counter;
    }
    m_records.emplace_back(path, std::string(), cacheName);
    PictureRecord& record = m_records.back();
    (void)record.ReadPositionAndTime();
    if (record.WriteThumbnail(rootFolder) == PictureResult::ThumbnailFailed) {
      return false;
    }
    if (!selectedOne && record.HasPosition()) {
      record.m_selected = 1;
      selectedOne = true;
    }
    if (!keepGoing.load()) {
      return true;
    }
    progress.Step();
  }
  SortByCaptureTime();
  return true;
}

bool PictureList::CountWithoutPosition(int* withoutPosition) const {
  int without = 0;
  for (const PictureRecord& record : m_records) {
    if (!record.HasPosition()) {
      ++without;
    }
  }
  if (withoutPosition != nullptr) {
    *withoutPosition = without;
  }
  return static_cast<std::size_t>(without) < m_records.size();
}

bool PictureList::ContainsPath(const std::string& path) const {
  return std::any_of(m_records.begin(), m_records.end(),
                     [&path](const PictureRecord& record) { return record.m_path == path; });
}

std::vector<std::string> PictureList::Paths() const {
  std::vector<std::string> paths;
  paths.reserve(m_records.size());
  for (const PictureRecord& record : m_records) {
    paths.push_back(record.m_path);
  }
  return paths;
}

bool PictureList::FirstHasThumbnail() const { return m_records.empty() || !m_records.front().m_cacheName.empty(); }

void PictureList::ClearSelection() {
  for (PictureRecord& record : m_records) {
    record.m_selected = 0;
  }
}

void PictureList::RefreshAll(const std::string& rootFolder) {
  for (PictureRecord& record : m_records) {
    (void)record.ReadPositionAndTime();
    (void)record.WritePosition(rootFolder, PictureRecord::WriteMode::ThumbnailOnly, nullptr);
  }
}

void PictureList::DropUnsavedThumbnails(const std::string& rootFolder) const {
  for (const PictureRecord& record : m_records) {
    if (record.m_stateName.empty() && !record.m_cacheName.empty()) {
      (void)MapRemoveFile(record.ThumbnailPath(rootFolder));
    }
  }
}

void PictureList::SortByCaptureTime() {
  std::stable_sort(m_records.begin(), m_records.end(),
                   [](const PictureRecord& a, const PictureRecord& b) { return a.m_captureTime < b.m_captureTime; });
}
