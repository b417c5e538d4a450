#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/image/XpImageProgress.h"
#include "xp/image/XpPixmap.h"
#include "xp/image/XpPixmapOps.h"
#include "xp/tiff/TagTreePtr.h"

/// The base of the image readers: reading pixels, the tag tree, the colour
/// profile, the embedded thumbnail and the image size of one format. Every
/// operation leaves its status in GetStatus() (0 for success). The base class
/// knows no format: its readers answer 0x8602 and nothing.
class XpImageIo {
 public:
  XpImageIo() = default;
  XpImageIo(const XpImageIo&) = delete;
  XpImageIo& operator=(const XpImageIo&) = delete;
  virtual ~XpImageIo() = default;

  /// The image at `start` of `stream` as a BGR 24 pixmap, reduced by
  /// `reduction` and turned upright; null on failure.
  [[nodiscard]] virtual std::unique_ptr<XpPixmapBGR24> Read(XpAbstractFile& stream, std::int64_t start, int reduction,
                                                            XpImageProgress* progress, bool convertColour);

  /// Locates the format's metadata and loads it as a tag tree with ReadMode().
  /// 0x8602 when the tree does not load, 0x8401 when memory runs out, otherwise
  /// LocateExif's status; `*tree` is null on every failure.
  [[nodiscard]] XpStatus ReadTagTree(XpAbstractFile& stream, TagTreePtr* tree, std::int64_t start = 0);
  /// Opens the file for reading and reads its tree as above; a file that cannot
  /// be opened gives the open status and a null tree.
  [[nodiscard]] XpStatus ReadTagTree(const std::string& path, TagTreePtr* tree);

  /// The bytes of the embedded colour profile; nothing when there is none.
  [[nodiscard]] virtual std::optional<std::vector<std::uint8_t>> ReadIccProfile(XpAbstractFile& stream,
                                                                                std::int64_t start);
  /// The embedded thumbnail, turned upright; null when there is none.
  [[nodiscard]] virtual std::unique_ptr<XpPixmapBGR24> ReadThumbnail(XpAbstractFile& stream, std::int64_t start);
  /// The load mode given to XpTiffTagManager::Load.
  [[nodiscard]] virtual int ReadMode() const { return 0; }
  /// Positions the stream on the metadata's TIFF header.
  [[nodiscard]] virtual XpStatus LocateExif(XpAbstractFile& stream, std::int64_t start);
  /// The image size; see the format's reader.
  [[nodiscard]] virtual XpStatus ReadImageInfo(XpAbstractFile& stream, std::int64_t start, XpPixmapOps::Size* size,
                                               bool ignoreOrientation);

  /// The status of the last operation.
  [[nodiscard]] XpStatus GetStatus() const { return m_status; }

 protected:
  XpStatus m_status = XpStatus::Ok;
};
