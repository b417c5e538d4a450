#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/formats/XpPhotoLayout.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/tiff/TagTreePtr.h"
#include "xp/tiff/XpGPSRecord.h"

class XpTiffTagIFD;

/// One way in to the metadata of every photo format this program reads:
/// JPEG, the TIFF family (TIFF, DNG, CR2, NEF, NRW, PEF, SRW, ARW, IIQ, RW2,
/// ORF), CR3, RAF, HEIC/HEIF/AVIF, PNG and WebP. The content decides the
/// format; the extension only names the raw kind of a plain TIFF structure.
namespace XpPhotoMetadata {

/// The leading bytes Sniff looks at.
inline constexpr std::size_t kSniffBytes = 64;
/// The largest embedded XMP packet kept as text.
inline constexpr std::int64_t kMaxXmpBytes = 4 << 20;

/// The format the leading bytes of a file show; Unknown for anything else.
/// A TIFF structure with magic 42 is Tiff (or Cr2 by its header's "CR"
/// mark); Read refines it.
[[nodiscard]] XpPhotoFormat Sniff(std::span<const std::uint8_t> prefix);

/// Sniffs the stream and finds where its metadata lies. 0x8620 for a content
/// this program does not read; the container parser's status otherwise (0
/// also when nothing was found: the ranges then stay absent).
[[nodiscard]] XpStatus Locate(XpAbstractFile& file, XpPhotoLayout* layout);

/// Where the position of a photo was read from.
enum class PositionSource : std::uint8_t { None, File, Sidecar };

/// What a photo says about where, when and which way up it was taken.
struct Reading {
  XpPhotoFormat format = XpPhotoFormat::Unknown;
  /// IFD0 with its Exif and GPS directories (for CR3: IFD0 alone).
  TagTreePtr tree;
  /// CR3 only: trees whose IFD0 is the Exif directory and the GPS directory.
  TagTreePtr exifTree;
  TagTreePtr gpsTree;
  /// The embedded XMP packet, when there is one.
  std::string xmp;

  /// From the GPS directory; every element invalid without one.
  XpGPSRecord gps;
  bool hasGpsDirectory = false;
  /// DateTimeOriginal and OffsetTimeOriginal of the Exif directory as stored
  /// (trailing NULs and spaces removed); empty when missing.
  std::string dateTimeOriginal;
  std::string offsetTimeOriginal;
  /// IFD0's Orientation; 0 when missing.
  int orientation = 0;

  /// File when the GPS record came from the photo's own metadata (its GPS
  /// directory, else its embedded XMP packet); Sidecar when the sidecar's
  /// position replaced it (Read of a path, formats other than JPEG).
  PositionSource source = PositionSource::None;
  /// When the sidecar's position replaced one the photo's own metadata gives
  /// (source Sidecar): that position, the one a reader of the file alone
  /// sees; `fileHasPosition` false and the record reset otherwise.
  XpGPSRecord fileGps;
  bool fileHasPosition = false;
  /// The embedded JPEG pictures that may serve as the photo's preview (the
  /// TIFF family's JPEGInterchangeFormat and JPEG-compressed strips of IFD0,
  /// IFD1 and SubIFDs; the RAF's JPEG; CR3's thumbnail), largest first, each
  /// inside the file. Not looked for in JPEG files.
  std::vector<XpByteRange> previews;
  /// The sidecar that belongs to the photo (`photo.ext.xmp` before
  /// `photo.xmp`, the extension in any case), empty when there is none.
  std::string sidecar;

  [[nodiscard]] const XpTiffTagIFD* Ifd0() const;
  [[nodiscard]] const XpTiffTagIFD* ExifIfd() const;
  [[nodiscard]] const XpTiffTagIFD* GpsIfd() const;
};

/// Reads the stream's metadata into `*reading` (sidecars are not looked for).
/// 0 when a tag tree or an XMP packet was read; 0x8620 for content this
/// program does not read; 0x8601 when the photo holds no metadata (the format
/// is still set); 0x8602 when its TIFF structure does not load; 0x8401 when
/// memory runs out; else the container parser's status.
[[nodiscard]] XpStatus Read(XpAbstractFile& file, Reading* reading);

/// Read for the file at `path` (a regular file: a FIFO or device is refused
/// with 0x8620 without being opened), its name telling the RAW kinds that
/// share the TIFF layout apart. Sidecars are not looked for: for what the
/// file itself holds (its previews, pixels and orientation).
[[nodiscard]] XpStatus ReadFileOnly(const std::string& path, Reading* reading);

/// ReadFileOnly, then the sidecar is looked for beside it. For a format other than JPEG, a sidecar that gives a
/// position wins over the file's own (source Sidecar); the status stays the file's. The open status when the file
/// cannot be opened.
[[nodiscard]] XpStatus Read(const std::string& path, Reading* reading);

/// The regular files `base` + ".xmp" with ".xmp" in any letter case, each
/// file once (a file system that ignores case names one file several ways).
[[nodiscard]] std::vector<std::string> XmpFilesFor(const std::string& base);

/// A path as the sidecar rules see it.
struct PathParts {
  std::string folder;     ///< "" or the folder with its trailing '/'
  std::string name;       ///< the file name
  std::string stem;       ///< the name before its last dot (the name when it has none)
  std::string extension;  ///< after the last dot, "" when there is none
};
[[nodiscard]] PathParts SplitPath(const std::string& path);

/// The sidecars beside `path` that belong to it: every `photo.ext.xmp` (any
/// case of ".xmp"), and every `photo.xmp` whose photoshop:SidecarForExtension
/// names the photo's extension (any case) or, when it names none, that no
/// other photo in the folder shares the base name with (any case).
[[nodiscard]] std::vector<std::string> OwnSidecars(const std::string& path);

/// The sidecar whose position the photo at `path` shows, or an empty text:
/// the first of OwnSidecars, so that a `photo.xmp` that belongs to another
/// photo of the same base name is never read for this one.
[[nodiscard]] std::string FindSidecar(const std::string& path);

/// The format the content of the file at `path` shows (its leading bytes);
/// Unknown for a file that cannot be read, is no regular file, or holds
/// nothing this program reads.
[[nodiscard]] XpPhotoFormat SniffFile(const std::string& path);

/// The position an XMP packet gives (exif:GPSLatitude and GPSLongitude,
/// GPSAltitude when readable) as a GPS record: version 2.3, references,
/// degrees and decimal minutes, altitude in millimetres with its reference.
/// False, leaving `record` reset, when the packet gives no position.
[[nodiscard]] bool RecordFromXmp(std::span<const std::uint8_t> packet, XpGPSRecord* record);

/// The GPS record of the photo at `path`, whatever its format, as Read gives
/// it (its sidecar's position first, also for a photo whose own metadata does
/// not read). 0x8601 when it has neither a GPS directory nor a position in
/// XMP; otherwise Read's status.
[[nodiscard]] XpStatus ReadGPS(const std::string& path, XpGPSRecord& record);

}  // namespace XpPhotoMetadata
