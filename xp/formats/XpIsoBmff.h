#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "xp/base/XpStatus.h"
#include "xp/formats/XpPhotoLayout.h"
#include "xp/image/XpAbstractFile.h"

/// Reading the box structure of ISOBMFF files (HEIC, HEIF, AVIF, CR3) far
/// enough to find their metadata. Every box is bounded by the box that holds
/// it, every item extent by the file or the `idat` box it names.
namespace XpIsoBmff {

/// A four-character code as a big-endian number.
[[nodiscard]] constexpr std::uint32_t FourCc(const char (&code)[5]) {
  return (std::uint32_t{static_cast<std::uint8_t>(code[0])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(code[1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(code[2])} << 8) | static_cast<std::uint8_t>(code[3]);
}

/// One box: its type, where it starts, where its payload starts (after the
/// size, type, 64-bit size and uuid fields) and where it ends.
struct Box {
  std::uint32_t type = 0;
  std::int64_t start = 0;
  std::int64_t payload = 0;
  std::int64_t end = 0;
  std::array<std::uint8_t, 16> uuid{};  ///< for type 'uuid'
};

/// Boxes read inside one container before it counts as damaged.
inline constexpr int kMaxBoxes = 4096;
/// The largest `iloc`, `iref` or `iinf` entry read into memory.
inline constexpr std::int64_t kMaxTableBytes = 4 << 20;

/// Reads the box header at `at`; the box must end at or before `end` (a size
/// of 0 means "up to `end`"). 0x8621 for a size smaller than its header or
/// past `end`; the stream's status when a read fails.
[[nodiscard]] XpStatus ReadBox(XpAbstractFile& file, std::int64_t at, std::int64_t end, Box* box);

/// The format named by a file's leading `ftyp` box (major brand first, then
/// the compatible brands): Cr3, Heic, Avif or Heif; Unknown when there is no
/// `ftyp` box first or no brand this program reads.
[[nodiscard]] XpPhotoFormat SniffBrand(std::span<const std::uint8_t> prefix);

/// Finds the Exif item (past its 4-byte offset prefix, and past an "Exif"
/// identifier some writers put there as well) and the XMP item of a HEIF file
/// through `meta`'s `pitm`, `iinf`, `iloc`, `iref` and `idat` boxes. An Exif
/// item that describes the primary item wins over others. Items are read from
/// the file (construction method 0) or from `idat` (method 1), with one
/// extent. 0 with what was found (the ranges may stay absent); 0x8601 without
/// a `meta` box; 0x8621 for boxes or tables that break their bounds.
[[nodiscard]] XpStatus LocateHeif(XpAbstractFile& file, XpPhotoLayout* layout);

/// Whether the pixel decoders can be given the picture items of a HEIF file
/// without being handed no bytes or allocating more than `maxPixels` pixels:
/// 0x8621 when an item other than Exif or XMP has no extent or one of length
/// 0, or a grid or overlay item cannot be read, or the boxes break their
/// bounds; 0x8625 when a grid's or overlay's canvas or an image's spatial
/// extents exceed `maxPixels`; 0x8601 without a `meta` box; 0 otherwise.
[[nodiscard]] XpStatus CheckHeifPictureItems(XpAbstractFile& file, std::int64_t maxPixels);

/// Finds CR3's metadata: the maker's `uuid` box inside `moov` holds CMT1
/// (IFD0), CMT2 (the Exif directory), CMT4 (the GPS directory), each a TIFF
/// structure, and THMB, a small JPEG. Statuses as for LocateHeif.
[[nodiscard]] XpStatus LocateCr3(XpAbstractFile& file, XpPhotoLayout* layout);

}  // namespace XpIsoBmff
