#include "Applications/Terravue/mapdata/PictureSources.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <span>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureRecord.h"
#include "Applications/Terravue/mapdata/ThumbnailJournal.h"
#include "xp/base/XpCaptureTime.h"
#include "xp/base/XpDateTime.h"
#include "xp/base/XpFileType.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpPixmapOps.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

// The text the thumbnail writer records as the writing program.
constexpr const char* kThumbnailWriterName = "Pictavo - Terravue";

// The largest decoder reduction whose output still covers the fitted size, so
// the final resampling only shrinks.
int ReductionFor(const XpPixmapOps::Size& upright, std::int32_t fitWidth, std::int32_t fitHeight) {
  for (int reduction : {8, 4, 2}) {
    const std::int64_t w = (static_cast<std::int64_t>(upright.width) + reduction - 1) / reduction;
    const std::int64_t h = (static_cast<std::int64_t>(upright.height) + reduction - 1) / reduction;
    if (w >= fitWidth && h >= fitHeight) {
      return reduction;
    }
  }
  return 1;
}

}  // namespace

bool IsJpegStill(const std::string& path) { return XpGetFileType(path) == kJpegStillFileType; }

bool ReadPictureGPS(const std::string& path, XpGPSRecord* gps) {
  if (XpExifRewrite::ReadGPS(path, *gps) != XpStatus::Ok) {
    gps->Reset();
    return false;
  }
  return true;
}

bool ReadPictureCaptureTime(const std::string& path, XpDateTime* time) {
  return GetCaptureTime(path, *time) && time->IsValid();
}

bool MeasureJpeg(const std::string& path, std::int32_t* width, std::int32_t* height) {
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return false;
  }
  XpImageIoJpeg reader;
  XpPixmapOps::Size size;
  if (reader.ReadImageInfo(file, 0, &size, /*ignoreOrientation=*/false) != XpStatus::Ok) {
    return false;
  }
  return FitThumbnailSize(size.width, size.height, width, height);
}

namespace {

// The size of the picture as decoded at full size: the decoder turns
// orientations 6 and 8 but leaves the mirrored 5 and 7 lying.
XpPixmapOps::Size DecodedSize(const XpImageIoJpeg& reader, XpPixmapOps::Size upright) {
  if (reader.GetOrientation() == 5 || reader.GetOrientation() == 7) {
    return {upright.height, upright.width};
  }
  return upright;
}

}  // namespace

bool ThumbnailSizeOf(const std::string& path, std::int32_t* width, std::int32_t* height) {
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return false;
  }
  XpImageIoJpeg reader;
  XpPixmapOps::Size upright;
  if (reader.ReadImageInfo(file, 0, &upright, /*ignoreOrientation=*/false) != XpStatus::Ok) {
    return false;
  }
  const XpPixmapOps::Size decoded = DecodedSize(reader, upright);
  return FitThumbnailSize(decoded.width, decoded.height, width, height);
}

namespace {

// Writes `bytes` to a file created at `path`, which must not exist yet: a file
// that has the name (a photo, a link, anything) is never opened, followed or
// replaced. A file this call created and could not fill is removed again.
bool WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return false;
  }
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    ok = n > 0;
    if (ok) {
      done += static_cast<std::size_t>(n);
    }
  }
  if (::close(fd) != 0) {
    ok = false;
  }
  if (!ok) {
    ::unlink(path.c_str());
  }
  return ok;
}

}  // namespace

PictureResult MakeThumbnail(const std::string& picturePath, const std::string& thumbnailPath, std::int32_t* width,
                            std::int32_t* height, bool listed) {
  XpFile picture(picturePath);
  if (picture.Open(XpAbstractFile::kRead | XpAbstractFile::kSequential) != XpStatus::Ok) {
    return PictureResult::NotJpegStill;
  }
  XpImageIoJpeg reader;
  XpPixmapOps::Size upright;
  std::int32_t fitWidth = 0;
  std::int32_t fitHeight = 0;
  if (reader.ReadImageInfo(picture, 0, &upright, /*ignoreOrientation=*/false) != XpStatus::Ok ||
      !FitThumbnailSize(upright.width, upright.height, &fitWidth, &fitHeight)) {
    return PictureResult::NotJpegStill;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap = reader.Read(picture, 0, ReductionFor(upright, fitWidth, fitHeight),
                                                      /*progress=*/nullptr, /*convertColour=*/true);
  if (!pixmap) {
    return PictureResult::NotJpegStill;
  }
  const XpPixmapOps::Size decoded = DecodedSize(reader, upright);
  if (!FitThumbnailSize(decoded.width, decoded.height, &fitWidth, &fitHeight) ||
      XpPixmapOps::Resize(*pixmap, fitWidth, fitHeight) != XpStatus::Ok) {
    return PictureResult::NotJpegStill;
  }
  *width = fitWidth;
  *height = fitHeight;

  TagTreePtr tree;
  (void)reader.ReadTagTree(picture, &tree, 0);
  // The thumbnail is made whole in memory and only then given its file, so a
  // picture that fails on the way leaves nothing on disk, and the file is
  // there only for the moment its bytes are written.
  XpImageIoJpeg writer(PictureRecord::kThumbQuality, kThumbnailWriterName);
  XpMemoryFile encoded;
  if (writer.Write(*pixmap, tree.get(), encoded) != XpStatus::Ok) {
    return PictureResult::ThumbnailFailed;
  }
  if (listed) {
    const std::size_t slash = thumbnailPath.rfind(kMapPathSeparator);
    const std::string folder = slash == std::string::npos ? std::string(".") : thumbnailPath.substr(0, slash);
    if (!NoteNewThumbnail(folder, MapFileNameOf(thumbnailPath)) && ThumbnailRemovalUnderWay()) {
      return PictureResult::ThumbnailFailed;
    }
  }
  if (!WriteNewFile(thumbnailPath, encoded.Bytes())) {
    return PictureResult::ThumbnailFailed;
  }
  return PictureResult::Success;
}
