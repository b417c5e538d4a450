#include "Applications/Terravue/mapdata/UnreadablePictures.h"

#include <array>
#include <cstdint>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "xp/base/XpFileRead.h"

UnreadableReason UnreadableReasonOf(const std::string& path) {
  // A JPEG stream opens with a start-of-image marker and the next marker.
  std::array<std::uint8_t, 3> head{};
  XpUniqueFd fd;
  if (XpOpenRegularFile(path, &fd) != XpStatus::Ok) {
    return UnreadableReason::Undecodable;
  }
  const ssize_t n = XpReadFully(fd.Get(), head.data(), head.size());
  const bool jpeg = n == static_cast<ssize_t>(head.size()) && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
  return jpeg ? UnreadableReason::Undecodable : UnreadableReason::NotJpeg;
}

std::vector<UnreadablePicture> FindUnreadablePictures(PictureList& list, const std::string& rootFolder) {
  std::vector<UnreadablePicture> unreadable;
  for (PictureRecord& record : list.Records()) {
    if (record.m_cacheName.empty() || !MapIsRegularFile(record.m_path)) {
      continue;
    }
    const std::string thumbnail = record.ThumbnailPath(rootFolder);
    if (!record.ThumbnailPathIsSafe(rootFolder) || MapIsRegularFile(thumbnail)) {
      continue;
    }
    std::int32_t width = 0;
    std::int32_t height = 0;
    const PictureResult made = MakeThumbnail(record.m_path, thumbnail, &width, &height);
    if (made == PictureResult::Success) {
      record.m_width = width;
      record.m_height = height;
      continue;
    }
    if (made == PictureResult::NotJpegStill) {
      unreadable.push_back(UnreadablePicture{record.m_path, UnreadableReasonOf(record.m_path)});
    }
  }
  return unreadable;
}
