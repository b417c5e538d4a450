#include "xp/base/XpCaptureTime.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <memory>
#include <new>

#include "xp/base/XpDateTime.h"
#include "xp/base/XpFileType.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

// Opens a regular file for reading; a FIFO or device is never opened, so
// nothing waits for a writer.
bool OpenRegular(const std::string& path, XpFile& file) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  return file.Open(path, XpAbstractFile::kRead) == XpStatus::Ok;
}

TagTreePtr ReadJpegTree(const std::string& path) {
  XpFile file;
  TagTreePtr tree;
  if (!OpenRegular(path, file) || XpJpegExif::ReadTagTree(file, &tree, 0) != XpStatus::Ok) {
    return nullptr;
  }
  return tree;
}

bool ReadBigEndian32(XpAbstractFile& file, std::uint32_t* out) {
  std::array<std::uint8_t, 4> b{};
  if (file.ReadExact(b.data(), b.size()) != XpStatus::Ok) {
    return false;
  }
  *out = static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | b[3];
  return true;
}

// A raw file of the "MRM" layout keeps its TIFF structure in the "TTW" block
// of its header; positions the stream there.
bool SeekToMrwTiff(XpAbstractFile& file) {
  std::array<std::uint8_t, 4> name{};
  std::uint32_t headerLength = 0;
  if (file.ReadExact(name.data(), name.size()) != XpStatus::Ok ||
      name != std::array<std::uint8_t, 4>{0, 'M', 'R', 'M'} || !ReadBigEndian32(file, &headerLength)) {
    return false;
  }
  const std::int64_t headerEnd = 8 + static_cast<std::int64_t>(headerLength);
  constexpr int kMaxBlocks = 64;
  for (int block = 0; block < kMaxBlocks; ++block) {
    const std::int64_t position = file.GetPosition();
    std::uint32_t length = 0;
    if (position + 8 > headerEnd || file.ReadExact(name.data(), name.size()) != XpStatus::Ok ||
        !ReadBigEndian32(file, &length)) {
      return false;
    }
    if (name == std::array<std::uint8_t, 4>{0, 'T', 'T', 'W'}) {
      return true;
    }
    if (file.Seek(position + 8 + static_cast<std::int64_t>(length), XpAbstractFile::kBegin) != XpStatus::Ok) {
      return false;
    }
  }
  return false;
}

TagTreePtr ReadTiffTree(const std::string& path, bool mrw) {
  XpFile file;
  if (!OpenRegular(path, file)) {
    return nullptr;
  }
  if (mrw && !SeekToMrwTiff(file)) {
    return nullptr;
  }
  TagTreePtr tree;
  try {
    tree = std::make_shared<XpTiffTagManager>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // Maker notes stay raw: only the standard directories are needed here.
  if (!tree->Load(file, XpTiffTagManager::kReadModeRawMakerNote)) {
    return nullptr;
  }
  return tree;
}

}  // namespace

bool XpParseExifDateTime(const std::string& text, XpDateTime& out) {
  XpDateTime value;
  if (!value.Parse(text, "%04d:%02d:%02d %02d:%02d:%02d")) {
    return false;
  }
  out = value;
  return true;
}

bool GetCaptureTime(const std::string& path, XpDateTime& out) {
  TagTreePtr tree;
  switch (XpGetFileType(path)) {
    case XpFileTypes::kJpeg:
    case XpFileTypes::kJpegMarked:
    case XpFileTypes::kThumbnail:
      tree = ReadJpegTree(path);
      break;
    case XpFileTypes::kTiff:
    case XpFileTypes::kRawSrf:
    case XpFileTypes::kRawSr2:
    case XpFileTypes::kRawArw:
      tree = ReadTiffTree(path, /*mrw=*/false);
      break;
    case XpFileTypes::kRawMrw:
      tree = ReadTiffTree(path, /*mrw=*/true);
      break;
    default:
      // GIF has no capture time; the movie containers' readers are not part of
      // this program.
      return false;
  }
  const XpTiffTagIFD* first = tree ? tree->GetIFD(0) : nullptr;
  if (first == nullptr) {
    return false;
  }
  const std::string text = first->FindAscii(kTagDateTimeOriginal, /*deep=*/true);
  if (text.empty()) {
    return false;
  }
  return XpParseExifDateTime(text, out);
}
