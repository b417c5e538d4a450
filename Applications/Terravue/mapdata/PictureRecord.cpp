#include "Applications/Terravue/mapdata/PictureRecord.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cmath>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "xp/tiff/XpGPSRecord.h"

PictureRecord::PictureRecord() : m_latitude(kNoLatitudeText), m_longitude(kNoLongitudeText) {}

PictureRecord::PictureRecord(std::string path, std::string stateName, std::string cacheName)
    : m_path(std::move(path)),
      m_cacheName(std::move(cacheName)),
      m_stateName(std::move(stateName)),
      m_latitude(kNoLatitudeText),
      m_longitude(kNoLongitudeText) {}

std::string PictureRecord::ThumbnailRelativePath() const {
  return m_stateName.empty() ? m_cacheName : JoinMapPath(m_stateName, m_cacheName);
}

std::string PictureRecord::ThumbnailPath(const std::string& rootFolder) const {
  return JoinMapPath(rootFolder, ThumbnailRelativePath());
}

bool PictureRecord::ThumbnailPathIsSafe(const std::string& rootFolder) const {
  if (ThumbnailNumber(m_cacheName) < 0) {
    return false;
  }
  if (!m_stateName.empty() &&
      (m_stateName == "." || m_stateName == ".." || m_stateName.find(kMapPathSeparator) != std::string::npos ||
       m_stateName.find('\0') != std::string::npos)) {
    return false;
  }
  struct stat info {};
  if (::lstat(ThumbnailPath(rootFolder).c_str(), &info) != 0) {
    return errno == ENOENT;
  }
  return S_ISREG(info.st_mode);
}

void PictureRecord::TakeDisagreement(const PicturePositionAndTime& read) {
  m_disagreeingSidecar = read.disagreeingSidecar;
  m_fileLatitude.clear();
  m_fileLongitude.clear();
  if (!m_disagreeingSidecar.empty()) {
    m_fileLatitude = CoordinateTextFromGPS(read.fileGps.latitudeRef, read.fileGps.latitude, /*latitude=*/true);
    m_fileLongitude = CoordinateTextFromGPS(read.fileGps.longitudeRef, read.fileGps.longitude, /*latitude=*/false);
  }
}

PictureResult PictureRecord::ReadPositionAndTime() {
  if (m_path.empty()) {
    return PictureResult::NotJpegStill;
  }
  // A picture that is not there today (a disk not mounted) keeps what it had.
  if (!MapIsRegularFile(m_path) || !IsListablePicture(m_path)) {
    return PictureResult::NotJpegStill;
  }
  TakeFileStamp();
  PictureResult result = PictureResult::Success;
  const PicturePositionAndTime read = ReadPicturePositionAndTime(m_path);
  if (read.hasGps) {
    const XpGPSRecord& gps = read.gps;
    m_latitude = CoordinateTextFromGPS(gps.latitudeRef, gps.latitude, /*latitude=*/true);
    if (m_latitude == kNoLatitudeText) {
      result = PictureResult::NoPositionOrTime;
    }
    m_longitude = CoordinateTextFromGPS(gps.longitudeRef, gps.longitude, /*latitude=*/false);
    if (m_longitude == kNoLongitudeText) {
      result = PictureResult::NoPositionOrTime;
    }
  }
  TakeDisagreement(read);
  if (read.hasTime) {
    m_captureTime = read.time;
    UpdateTimeText();
  } else {
    m_captureTime = XpDateTime();
    m_timeText.clear();
    result = PictureResult::NoPositionOrTime;
  }
  return result;
}

PictureResult PictureRecord::WriteThumbnail(const std::string& rootFolder) {
  if (!MapPathExists(m_path)) {
    m_cacheName.clear();
    m_width = kMissingWidth;
    m_height = kMissingHeight;
    return PictureResult::Missing;
  }
  if (!IsListablePicture(m_path)) {
    return PictureResult::NotJpegStill;
  }
  std::int32_t width = 0;
  std::int32_t height = 0;
  if (ThumbnailNumber(m_cacheName) < 0) {
    return PictureResult::ThumbnailFailed;
  }
  // Listed before it exists, so that a load killed at any moment leaves
  // nothing the next load does not find.
  const PictureResult result = MakeThumbnail(m_path, ThumbnailPath(rootFolder), &width, &height, /*listed=*/true);
  if (width > 0 && height > 0) {
    m_width = width;
    m_height = height;
  }
  return result;
}

void PictureRecord::MeasureThumbnail(const std::string& rootFolder) {
  std::string source = ThumbnailPath(rootFolder);
  if (m_cacheName.empty() || !ThumbnailPathIsSafe(rootFolder) || !MapIsRegularFile(source)) {
    // Without a thumbnail the picture itself gives the size; a picture that is
    // not there today keeps the default size.
    source = m_path;
    if (!MapIsRegularFile(source)) {
      return;
    }
  }
  std::int32_t width = 0;
  std::int32_t height = 0;
  if (MeasureJpeg(source, &width, &height)) {
    m_width = width;
    m_height = height;
  }
}

namespace {

bool StatFile(const std::string& path, std::int64_t* size, std::int64_t* timeNs) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  *size = static_cast<std::int64_t>(info.st_size);
  *timeNs =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + static_cast<std::int64_t>(info.st_mtim.tv_nsec);
  return true;
}

}  // namespace

bool PictureRecord::WantNames(std::uint32_t version) {
  if (version >= m_nameVersions.size()) {
    return false;
  }
  m_names = m_nameVersions[version];
  m_namesWanted = version;
  m_namesPending = version != m_namesInFile ? 1 : 0;
  NoteNameSetsChanged();
  return true;
}

void PictureRecord::NoteNameSetsChanged() {
  static std::atomic<std::uint64_t> last{0};
  m_nameSetsStamp = ++last;
}

void PictureRecord::TakeFileStamp() {
  if (!StatFile(m_path, &m_fileSize, &m_fileTimeNs)) {
    m_fileSize = -1;
    m_fileTimeNs = 0;
  }
}

bool PictureRecord::ChangedOnDisk() const {
  if (!HasFileStamp()) {
    return false;
  }
  std::int64_t size = 0;
  std::int64_t timeNs = 0;
  return !StatFile(m_path, &size, &timeNs) || size != m_fileSize || timeNs != m_fileTimeNs;
}

bool PictureRecord::HasPosition() const {
  return m_cacheName.empty() || (m_latitude != kNoLatitudeText && m_longitude != kNoLongitudeText);
}

void PictureRecord::SetPosition(const std::string& latitude, const std::string& longitude) {
  if (latitude != m_latitude) {
    m_latitude = latitude;
    m_modified = 1;
  }
  if (longitude != m_longitude) {
    m_longitude = longitude;
    m_modified = 1;
  }
}

void PictureRecord::UpdateTimeText() {
  m_timeText = m_captureTime.IsValid()
                   ? m_captureTime.Format(XpDateTime::kShortDate, XpDateTime::kMinutes, /*force24Hour=*/false)
                   : std::string();
}

std::int32_t ThumbnailNumber(std::string_view cacheName) {
  constexpr std::string_view kPrefix = "cache_";
  constexpr std::string_view kSuffix = ".jpg";
  constexpr std::size_t kMaxDigits = 10;
  if (cacheName.size() <= kPrefix.size() + kSuffix.size() ||
      cacheName.size() > kPrefix.size() + kMaxDigits + kSuffix.size() || !cacheName.starts_with(kPrefix) ||
      !cacheName.ends_with(kSuffix)) {
    return -1;
  }
  std::int32_t value = 0;
  for (char c : cacheName.substr(kPrefix.size(), cacheName.size() - kPrefix.size() - kSuffix.size())) {
    if (c < '0' || c > '9' || __builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, c - '0', &value)) {
      return -1;
    }
  }
  return value;
}

std::string ThumbnailName(std::int32_t number) { return "cache_" + std::to_string(number) + ".jpg"; }

bool FitThumbnailSize(std::int64_t width, std::int64_t height, std::int32_t* fitWidth, std::int32_t* fitHeight) {
  if (width <= 0 || height <= 0) {
    return false;
  }
  const double box = PictureRecord::kThumbBox;
  if (height < width) {
    *fitWidth = PictureRecord::kThumbBox;
    *fitHeight = static_cast<std::int32_t>(std::trunc(static_cast<double>(height) * box / static_cast<double>(width)));
  } else {
    *fitWidth = static_cast<std::int32_t>(std::trunc(static_cast<double>(width) * box / static_cast<double>(height)));
    *fitHeight = PictureRecord::kThumbBox;
  }
  // A sliver of a picture still gets one pixel.
  if (*fitWidth < 1) {
    *fitWidth = 1;
  }
  if (*fitHeight < 1) {
    *fitHeight = 1;
  }
  return true;
}
