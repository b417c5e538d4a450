#include "xp/image/XpImageIo.h"

#include <new>

#include "xp/image/XpFile.h"
#include "xp/tiff/XpTiffTagManager.h"

std::unique_ptr<XpPixmapBGR24> XpImageIo::Read(XpAbstractFile& /*stream*/, std::int64_t /*start*/, int /*reduction*/,
                                               XpImageProgress* /*progress*/, bool /*convertColour*/) {
  m_status = XpStatus::JpegDecodeFailed;
  return nullptr;
}

XpStatus XpImageIo::ReadTagTree(XpAbstractFile& stream, TagTreePtr* tree, std::int64_t start) {
  tree->reset();
  if (auto st = LocateExif(stream, start); st != XpStatus::Ok) {
    return m_status = st;
  }
  TagTreePtr loaded;
  try {
    loaded = std::make_shared<XpTiffTagManager>();
  } catch (const std::bad_alloc&) {
    return m_status = XpStatus::OutOfMemory;
  }
  if (!loaded->Load(stream, ReadMode())) {
    return m_status =
               loaded->LoadStatus() == XpStatus::OutOfMemory ? XpStatus::OutOfMemory : XpStatus::JpegDecodeFailed;
  }
  *tree = std::move(loaded);
  return m_status = XpStatus::Ok;
}

XpStatus XpImageIo::ReadTagTree(const std::string& path, TagTreePtr* tree) {
  tree->reset();
  XpFile file(path);
  if (auto st = file.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return m_status = st;
  }
  return ReadTagTree(file, tree, 0);
}

std::optional<std::vector<std::uint8_t>> XpImageIo::ReadIccProfile(XpAbstractFile& /*stream*/, std::int64_t /*start*/) {
  m_status = XpStatus::JpegDecodeFailed;
  return std::nullopt;
}

std::unique_ptr<XpPixmapBGR24> XpImageIo::ReadThumbnail(XpAbstractFile& /*stream*/, std::int64_t /*start*/) {
  m_status = XpStatus::JpegDecodeFailed;
  return nullptr;
}

XpStatus XpImageIo::LocateExif(XpAbstractFile& /*stream*/, std::int64_t /*start*/) {
  return m_status = XpStatus::JpegDecodeFailed;
}

XpStatus XpImageIo::ReadImageInfo(XpAbstractFile& /*stream*/, std::int64_t /*start*/, XpPixmapOps::Size* /*size*/,
                                  bool /*ignoreOrientation*/) {
  return m_status = XpStatus::JpegDecodeFailed;
}
