#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "xp/base/XpDateTime.h"
#include "xp/image/XpImageIo.h"
#include "xp/image/XpMemoryFile.h"

class XpTiffTagManager;

/// JPEG input and output through libjpeg: decoding into BGR 24 pixmaps
/// (optionally reduced by 2, 4 or 8 while decoding, and turned upright by the
/// Exif orientation), the embedded thumbnail, the colour profile and the image
/// size; and encoding pixmaps as baseline JPEG files with a freshly built Exif
/// block that carries a 160 x 120 thumbnail.
class XpImageIoJpeg : public XpImageIo {
 public:
  static constexpr int kDefaultQuality = 70;
  /// The quality of the Exif thumbnail, and of any request outside 1..100.
  static constexpr int kFallbackQuality = 80;
  static constexpr int kThumbnailWidth = 160;
  static constexpr int kThumbnailHeight = 120;
  /// Images with more pixels than this are refused with 0x8401 before any
  /// pixel memory is taken: 250 megapixels (750 MB of pixels) is well above
  /// any camera's output and well below what a hostile header can claim.
  static constexpr std::uint64_t kDefaultMaxPixels = 250'000'000;

  /// A rectangle of a pixmap: left and top inclusive, right and bottom exclusive.
  /// (No member initialisers: `Rect{}` is all zero.)
  struct Rect {
    int left;
    int top;
    int right;
    int bottom;
    [[nodiscard]] bool IsAllZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  };

  /// Quality 70, no name (such a writer refuses to write).
  XpImageIoJpeg() = default;
  /// `name` is written as Software, and as Model when the tree has none.
  XpImageIoJpeg(int quality, std::string name) : m_quality(quality), m_name(std::move(name)) {}

  /// Decodes the JPEG image at `start`. `reduction` must be 1, 2, 4 or 8
  /// (else 0x8604); reduced output measures ceil(w / N) x ceil(h / N). With
  /// `convertColour` an image whose Exif colour space is uncalibrated (0xFFFF)
  /// is converted from Adobe RGB to sRGB. Orientation 3, 6 and 8 turn the
  /// result upright. `progress` (may be null) gets percentages and may cancel
  /// (0x8607). Null and the status on failure: the pre-check's status or
  /// 0x8602 for a stream that is not a readable JPEG, 0x8603 when the output
  /// is not 3 components, 0x8401 when the image is larger than the pixel
  /// budget or memory runs out. A failed turn keeps the unturned pixmap and
  /// reports 0x8401. A truncated file decodes to full size.
  [[nodiscard]] std::unique_ptr<XpPixmapBGR24> Read(XpAbstractFile& stream, std::int64_t start, int reduction,
                                                    XpImageProgress* progress, bool convertColour) override;

  /// The concatenated payloads (from byte 14 on) of the APP2 segments that
  /// begin with "ICC_PROFILE" and a NUL, in file order; nothing and 0x8601 when
  /// there is none, 0x8602 for a stream that is not a JPEG.
  [[nodiscard]] std::optional<std::vector<std::uint8_t>> ReadIccProfile(XpAbstractFile& stream,
                                                                        std::int64_t start) override;

  /// The embedded thumbnail: the Photoshop resource 0x040C of an APP13
  /// segment, else the JPEG thumbnail of the Exif IFD1. A 160 x 120 thumbnail
  /// has its black bars cut off when the main image's size is known. Turned
  /// upright and colour-converted like the main image. Null and 0x8601 when
  /// there is none; the decoder's status when it does not decode.
  [[nodiscard]] std::unique_ptr<XpPixmapBGR24> ReadThumbnail(XpAbstractFile& stream, std::int64_t start) override;

  [[nodiscard]] XpStatus LocateExif(XpAbstractFile& stream, std::int64_t start) override;

  /// The width and height in the JPEG frame header; unless
  /// `ignoreOrientation`, exchanged for Exif orientations 5 to 8.
  [[nodiscard]] XpStatus ReadImageInfo(XpAbstractFile& stream, std::int64_t start, XpPixmapOps::Size* size,
                                       bool ignoreOrientation) override;

  /// Encodes `pixmap` (or the part given by `rect`; all zero means the whole
  /// pixmap) as a baseline JPEG at the writer's quality, with an Exif APP1
  /// built from a copy of `tree` (or from nothing) that carries a 160 x 120
  /// thumbnail. With `adobeRgb` the pixels are converted to Adobe RGB first
  /// and the Exif block says so. `progress` may be null.
  /// 0x8606 without a name, 0x8604 for an empty rectangle, 0x8600 for a
  /// libjpeg failure, 0x8607 when cancelled, 0x8401 for memory, the stream's
  /// status when writing fails. An Exif block too long for one segment is
  /// left out; the image is still written.
  [[nodiscard]] XpStatus Write(const XpPixmapBGR24& pixmap, const XpTiffTagManager* tree, XpAbstractFile& out,
                               XpImageProgress* progress = nullptr, Rect rect = Rect{}, bool adobeRgb = false);

  /// Builds the Exif block ("Exif", two NULs, the TIFF data, the thumbnail)
  /// for `pixmap` into `out`. `tree` is changed: callers pass a working copy
  /// (or an empty tree). In thumbnail-file mode no IFD1 or thumbnail is
  /// added, the interoperability index is "THM" and `dateTime`, when valid,
  /// becomes DateTimeOriginal.
  [[nodiscard]] XpStatus BuildExifBlock(const XpPixmapBGR24& pixmap, XpTiffTagManager& tree, bool adobeRgb,
                                        bool thumbnailFileMode, const XpDateTime* dateTime, XpMemoryFile& out);

  /// Encodes the 160 x 120 thumbnail of `pixmap` (fitted, centred on black)
  /// into `out` at quality 80. In thumbnail-file mode it carries its own Exif
  /// block with the index "THM".
  [[nodiscard]] XpStatus EncodeThumbnail(const XpPixmapBGR24& pixmap, XpAbstractFile& out, bool thumbnailFileMode,
                                         const XpDateTime* dateTime = nullptr);

  [[nodiscard]] int GetQuality() const { return m_quality; }
  [[nodiscard]] const std::string& GetName() const { return m_name; }
  /// From the last decode: the Exif orientation (0 when none), whether the
  /// colour space is uncalibrated, and the main image's size from its JPEG
  /// header (0 x 0 when the file has no Exif IFD0).
  [[nodiscard]] int GetOrientation() const { return m_orientation; }
  [[nodiscard]] bool IsUncalibrated() const { return m_uncalibrated; }
  [[nodiscard]] XpPixmapOps::Size GetImageSize() const { return m_imageSize; }

  /// Changes the pixel budget of the decoders (kDefaultMaxPixels by default)
  /// and the bound of libjpeg's own work memory (kJpegDefaultMemoryLimit).
  void SetLimits(std::uint64_t maxPixels, long libraryMemory) {
    m_maxPixels = maxPixels;
    m_libraryMemory = libraryMemory;
  }
  /// Makes the writers use this time instead of the clock (for reproducible files).
  void SetFixedTime(std::optional<XpDateTime> time) { m_fixedTime = time; }

 private:
  struct Header;

  // Reads the header and saved markers (APP1, plus APP13 when `withApp13`,
  // plus APP2 when `withApp2`), keeps the metadata in the decoder's fields,
  // and with `pixels` decodes the image at `reduction`.
  [[nodiscard]] XpStatus Decode(XpAbstractFile& stream, std::int64_t start, int reduction, XpImageProgress* progress,
                                bool withApp13, bool withApp2, std::unique_ptr<XpPixmapBGR24>* pixels, Header* header);
  // Decodes a JPEG held in memory with no orientation or colour handling.
  [[nodiscard]] std::unique_ptr<XpPixmapBGR24> DecodeEmbedded(std::span<const std::uint8_t> bytes);
  // Turns the pixmap upright by the remembered orientation.
  void TurnUpright(std::unique_ptr<XpPixmapBGR24>& pixmap);
  [[nodiscard]] std::string CurrentDateText() const;

  int m_quality = kDefaultQuality;
  std::string m_name;
  int m_orientation = 0;
  bool m_uncalibrated = false;
  XpPixmapOps::Size m_imageSize;
  std::uint64_t m_maxPixels = kDefaultMaxPixels;
  long m_libraryMemory = 1536L * 1024 * 1024;
  std::optional<XpDateTime> m_fixedTime;
};
