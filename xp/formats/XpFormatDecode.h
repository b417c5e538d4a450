#pragma once

#include <cstdint>
#include <memory>

#include "xp/base/XpStatus.h"
#include "xp/formats/XpPhotoLayout.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/image/XpPixmap.h"

/// Decodes the pixels of the photo formats other than JPEG whose pictures
/// this program shows: HEIC/HEIF/AVIF, PNG, WebP and plain TIFF. Every input
/// is treated as hostile: the picture's size is checked against a bound
/// before any pixel memory is taken, and every library error is a status.
namespace XpFormatDecode {

/// The most pixels a decoded picture may have (a 64-megapixel photo fits).
inline constexpr std::int64_t kMaxPixels = std::int64_t{8192} * 8192;
/// The largest PNG, WebP or HEIF file taken into memory to be decoded.
inline constexpr std::int64_t kMaxFileBytes = std::int64_t{512} << 20;

/// True for the formats Decode takes.
[[nodiscard]] bool CanDecode(XpPhotoFormat format);

/// A decoded picture.
struct Picture {
  std::unique_ptr<XpPixmapBGR24> pixmap;
  /// True when the pixels are upright already (HEIF applies its own turns
  /// and mirrors); false when they are in stored order and the photo's
  /// Exif orientation still applies.
  bool upright = false;
};

/// Decodes the picture of `file` (open for reading), of the given format,
/// onto a white background where it is transparent. For HEIF, the primary
/// image's thumbnail is taken instead when its longer side is at least
/// `longSide` pixels (0: always the primary image).
/// 0x8620 for a format Decode does not take; 0x8625 when the picture has
/// more than kMaxPixels pixels (or the file more than kMaxFileBytes bytes);
/// 0x8626 when its header or pixel data does not decode; 0x8401 when memory
/// runs out; the stream's status when it cannot be read. `out` stays empty
/// unless the answer is 0. `maxPixels` lowers the pixel bound (never above
/// kMaxPixels).
[[nodiscard]] XpStatus Decode(XpAbstractFile& file, XpPhotoFormat format, int longSide, Picture* out,
                              std::int64_t maxPixels = kMaxPixels);

}  // namespace XpFormatDecode
