#pragma once

#include <cstdint>
#include <string_view>

/// The photo formats whose metadata this program reads, as the content shows
/// them (the extension only names the raw kind of a plain TIFF structure).
enum class XpPhotoFormat : std::uint8_t {
  Unknown,
  Jpeg,
  Tiff,
  Dng,
  Cr2,
  Nef,
  Nrw,
  Pef,
  Srw,
  Arw,
  Iiq,
  Rw2,
  Orf,
  Cr3,
  Raf,
  Heic,
  Heif,
  Avif,
  Png,
  Webp,
};

/// The format's short upper-case name ("HEIC", "RW2"); "unknown" for Unknown.
[[nodiscard]] std::string_view XpPhotoFormatName(XpPhotoFormat format);

/// A run of bytes inside a file; absent while `offset` is negative.
struct XpByteRange {
  std::int64_t offset = -1;
  std::int64_t length = 0;

  [[nodiscard]] bool IsPresent() const { return offset >= 0; }
};

/// Where a photo keeps its metadata, as the container parsers find it. Every
/// range lies inside the file and inside the box, chunk or segment that holds it.
struct XpPhotoLayout {
  XpPhotoFormat format = XpPhotoFormat::Unknown;
  /// A TIFF structure with IFD0 and its Exif and GPS directories (the whole
  /// file for the TIFF family; the Exif item, chunk or APP1 payload otherwise).
  XpByteRange tiff;
  /// An Exif block written out as hexadecimal text, as some PNG writers keep
  /// it in a "Raw profile type exif" text chunk (used when `tiff` is absent).
  XpByteRange hexExif;
  /// The magic number of that structure's header (42 but for RW2 and ORF).
  std::uint16_t tiffMagic = 42;
  /// CR3 keeps its directories apart: IFD0 in `tiff`, the Exif directory and
  /// the GPS directory each as IFD0 of a TIFF structure of its own.
  XpByteRange exifDirectory;
  XpByteRange gpsDirectory;
  /// An XMP packet (HEIF item, PNG iTXt, WebP chunk).
  XpByteRange xmp;
  /// An embedded JPEG picture: the RAF's preview, CR3's thumbnail.
  XpByteRange jpeg;
  /// CR3's large JPEG preview (the PRVW box), when there is one.
  XpByteRange largeJpeg;
};
