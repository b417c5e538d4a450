#include "Applications/Terravue/mapdata/PictureList.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "Applications/Terravue/mapdata/TextScan.h"

namespace {

// What makes two paths name one file: device and inode when the file can be
// examined (links of every kind and bind mounts included), else the path
// resolved through the file system.
struct FileIdentity {
  std::string resolved;
  dev_t device = 0;
  ino_t inode = 0;
  bool examined = false;

  explicit FileIdentity(const std::string& path) {
    struct stat info {};
    if (!path.empty() && ::stat(path.c_str(), &info) == 0) {
      device = info.st_dev;
      inode = info.st_ino;
      examined = true;
    }
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    resolved = real ? std::string(real.get()) : path;
  }

  [[nodiscard]] bool SameAs(const FileIdentity& other) const {
    if (examined && other.examined) {
      return device == other.device && inode == other.inode;
    }
    return resolved == other.resolved;
  }
};

}  // namespace

bool IsAddablePicture(const std::string& path, const std::string& rootFolder) {
  // A path with a line break could not be stored in the state file. A photo
  // in the work folder could bear the name of a thumbnail the program makes,
  // removes or writes positions into.
  return !path.empty() && !HasLineBreak(path) && !MapIsInFolder(path, rootFolder) && IsListablePicture(path);
}

std::int32_t NextFreeThumbnailNumber(std::int32_t from, const std::string& rootFolder) {
  std::int32_t number = from;
  // A name taken by anything (a thumbnail a killed load left, a file of the
  // user's) is passed over: a thumbnail is only ever made as a new file.
  while (number < INT32_MAX && MapEntryExists(JoinMapPath(rootFolder, ThumbnailName(number)))) {
    ++number;
  }
  return number;
}

std::vector<std::string> PictureList::NewFilesOnly(const std::vector<std::string>& paths) const {
  std::set<std::pair<dev_t, ino_t>> seenFiles;
  std::set<std::string> seenPaths;
  const auto remember = [&](const FileIdentity& identity) {
    if (identity.examined) {
      seenFiles.emplace(identity.device, identity.inode);
    }
    seenPaths.insert(identity.resolved);
  };
  for (const PictureRecord& record : m_records) {
    remember(FileIdentity(record.m_path));
  }
  std::vector<std::string> fresh;
  for (const std::string& path : paths) {
    const FileIdentity identity(path);
    const bool known = identity.examined ? seenFiles.count({identity.device, identity.inode}) != 0
                                         : seenPaths.count(identity.resolved) != 0;
    if (known) {
      continue;
    }
    remember(identity);
    fresh.push_back(path);
  }
  return fresh;
}

namespace {

// The folder and the base name in lower case: what the two files of a pair share.
std::string PairKey(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  const std::size_t end = dot == std::string::npos || dot <= nameAt ? path.size() : dot;
  std::string key = path.substr(0, end);
  for (std::size_t i = nameAt; i < key.size(); ++i) {
    if (key[i] >= 'A' && key[i] <= 'Z') {
      key[i] = static_cast<char>(key[i] - 'A' + 'a');
    }
  }
  return key;
}

}  // namespace

void FindRawJpegPairs(std::vector<PictureRecord>& records) {
  std::vector<std::string> jpegs;
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i].m_pairedFiles.clear();
    if (IsJpegStill(records[i].m_path)) {
      jpegs.push_back(records[i].m_path);
      at.push_back(i);
    }
  }
  std::vector<std::vector<std::string>> pairs = PairedOtherFormatFilesOf(jpegs);
  for (std::size_t k = 0; k < at.size(); ++k) {
    records[at[k]].m_pairedFiles = std::move(pairs[k]);
  }
}

std::vector<std::string> PictureList::OnePerPair(const std::vector<std::string>& paths) const {
  if (!RawJpegPairsLinked()) {
    return paths;
  }
  std::set<std::string> jpegs;
  for (const PictureRecord& record : m_records) {
    if (IsJpegStill(record.m_path)) {
      jpegs.insert(PairKey(record.m_path));
    }
  }
  std::vector<bool> isJpeg(paths.size(), false);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    isJpeg[i] = IsJpegStill(paths[i]);
    if (isJpeg[i]) {
      jpegs.insert(PairKey(paths[i]));
    }
  }
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (isJpeg[i] || jpegs.count(PairKey(paths[i])) == 0 || !IsOtherFormatPicture(paths[i])) {
      kept.push_back(paths[i]);
    }
  }
  return kept;
}

bool PictureList::AddPictures(const std::vector<std::string>& paths, const std::string& rootFolder,
                              ProgressSink& progress, const std::atomic<bool>& keepGoing) {
  bool selectedOne = false;
  for (const std::string& path : OnePerPair(NewFilesOnly(paths))) {
    if (!IsAddablePicture(path, rootFolder)) {
      continue;
    }
    const std::string cacheName = ThumbnailName(NextFreeThumbnailNumber(m_counter, rootFolder));
    m_counter = ThumbnailNumber(cacheName);
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
      FindRawJpegPairs(m_records);
      return true;
    }
    progress.Step();
  }
  FindRawJpegPairs(m_records);
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
  if (std::any_of(m_records.begin(), m_records.end(),
                  [&path](const PictureRecord& record) { return record.m_path == path; })) {
    return true;
  }
  const FileIdentity wanted(path);
  return std::any_of(m_records.begin(), m_records.end(),
                     [&wanted](const PictureRecord& record) { return FileIdentity(record.m_path).SameAs(wanted); });
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
    if (record.m_modified != 0) {
      // A move not yet in the file is kept, with the stamp of the file it was
      // made on: the picture still holds the old position.
      const PictureRecord moved = record;
      (void)record.ReadPositionAndTime();
      record.m_latitude = moved.m_latitude;
      record.m_longitude = moved.m_longitude;
      record.m_fileSize = moved.m_fileSize;
      record.m_fileTimeNs = moved.m_fileTimeNs;
    } else if (record.m_mapOnly != 0) {
      // The user kept this position on the map only: the file's own position
      // (or none) must not come back over it.
      const PictureRecord kept = record;
      (void)record.ReadPositionAndTime();
      record.m_latitude = kept.m_latitude;
      record.m_longitude = kept.m_longitude;
    } else {
      (void)record.ReadPositionAndTime();
    }
    (void)record.WritePosition(rootFolder, PictureRecord::WriteMode::ThumbnailOnly, nullptr);
  }
  FindRawJpegPairs(m_records);
}

void PictureList::DropUnsavedThumbnails(const std::string& rootFolder) const {
  for (const PictureRecord& record : m_records) {
    if (record.m_stateName.empty() && !record.m_cacheName.empty() && record.ThumbnailPathIsSafe(rootFolder)) {
      (void)MapRemoveFile(record.ThumbnailPath(rootFolder));
    }
  }
}

void PictureList::SortByCaptureTime() {
  std::stable_sort(m_records.begin(), m_records.end(),
                   [](const PictureRecord& a, const PictureRecord& b) { return a.m_captureTime < b.m_captureTime; });
}
