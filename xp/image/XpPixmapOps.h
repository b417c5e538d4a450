#pragma once

#include <memory>

#include "xp/base/XpStatus.h"
#include "xp/image/XpPixmap.h"

/// The image operations on BGR 24 pixmaps: resampling, cropping, turning, fitting.
namespace XpPixmapOps {

/// A width and a height in pixels.
struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

/// Resamples `pixmap` in place to `width` x `height`: a 2 x 2 or 3 x 3 box
/// average for exact halving or thirding, otherwise a horizontal then a
/// vertical pass (area averaging when shrinking, linear interpolation when
/// enlarging). Nothing happens when the size is unchanged. 0x8000 for an empty
/// pixmap or a size that is not positive, 0x8401 when memory runs out (the
/// pixmap is then unchanged).
[[nodiscard]] XpStatus Resize(XpPixmapBGR24& pixmap, int width, int height);

/// The same algorithm from `source` into `destination`, which already has the
/// wanted size. 0x8000 when either is empty, 0x8401 when memory runs out.
[[nodiscard]] XpStatus Resample(const XpPixmapBGR24& source, XpPixmapBGR24& destination);

/// Keeps the rectangle from (left, top) up to but not including (right,
/// bottom), first clamped to the pixmap. 0x8000 for an empty pixmap, 0x8604
/// when the clamped rectangle is empty, 0x8401 when memory runs out (the
/// pixmap is then unchanged).
[[nodiscard]] XpStatus Crop(XpPixmapBGR24& pixmap, int left, int top, int right, int bottom);

/// A new pixmap turned by 180 degrees; null for an empty source or when memory runs out.
[[nodiscard]] std::unique_ptr<XpPixmapBGR24> Rotate180(const XpPixmapBGR24& source);
/// A new pixmap turned a quarter clockwise (the input's top row becomes the
/// output's right column); null for an empty source or when memory runs out.
[[nodiscard]] std::unique_ptr<XpPixmapBGR24> RotateClockwise(const XpPixmapBGR24& source);
/// A new pixmap turned a quarter counter-clockwise (the input's top row becomes
/// the output's left column, read bottom to top); null for an empty source or
/// when memory runs out.
[[nodiscard]] std::unique_ptr<XpPixmapBGR24> RotateCounterClockwise(const XpPixmapBGR24& source);

/// A new pixmap turned upright from a picture stored with Exif orientation
/// `orientation`: 1 copies, 2 mirrors left to right, 3 turns by 180 degrees, 4
/// mirrors top to bottom, 5 transposes (the input's top row becomes the
/// output's left column), 6 turns a quarter clockwise, 7 transverses (the
/// input's top row becomes the output's right column, read bottom to top), 8
/// turns a quarter counter-clockwise; any other value copies. Null for an
/// empty source or when memory runs out.
[[nodiscard]] std::unique_ptr<XpPixmapBGR24> Upright(const XpPixmapBGR24& source, int orientation);

/// The largest size with the source's aspect ratio inside the box (integer
/// division): (sw x bh / sh, bh) when sw x bh < sh x bw, else (bw, sh x bw /
/// sw). (0, 0) when a source side or the box height is not positive.
[[nodiscard]] Size Fit(int sourceWidth, int sourceHeight, int boxWidth, int boxHeight);

/// Converts the pixels from Adobe RGB (1998) to sRGB in place.
void AdobeToSrgb(XpPixmapBGR24& pixmap);
/// Converts the pixels from sRGB to Adobe RGB (1998) in place.
void SrgbToAdobe(XpPixmapBGR24& pixmap);

/// The 65536-entry 16-bit curves behind the colour conversions, built once.
struct ColourTables {
  std::unique_ptr<std::uint16_t[]> adobeDecode;  ///< x^2.19921875
  std::unique_ptr<std::uint16_t[]> adobeEncode;  ///< x^0.4547069271758437
  std::unique_ptr<std::uint16_t[]> srgbDecode;   ///< sRGB curve to linear
  std::unique_ptr<std::uint16_t[]> srgbEncode;   ///< linear to the sRGB curve
};
[[nodiscard]] const ColourTables& GetColourTables();

}  // namespace XpPixmapOps
