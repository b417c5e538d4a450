#pragma once

#include <cstdint>
#include <span>

#include "xp/base/XpStatus.h"
#include "xp/formats/XpPhotoLayout.h"
#include "xp/image/XpAbstractFile.h"

/// Bounded reading for the container parsers: every read names the end of
/// the box, chunk or segment it must stay inside, and sizes are added with
/// overflow checks before they are used.
namespace XpFormatReader {

/// True when `length` bytes from `offset` end at or before `end` (no overflow, nothing negative).
[[nodiscard]] bool Inside(std::int64_t offset, std::int64_t length, std::int64_t end);
/// `a + b`, or -1 when that overflows or either is negative.
[[nodiscard]] std::int64_t Add(std::int64_t a, std::int64_t b);

/// Reads `out.size()` bytes at `offset`; 0x8621 unless they lie before `end`
/// and inside the file, else the stream's status.
[[nodiscard]] XpStatus ReadAt(XpAbstractFile& file, std::int64_t offset, std::span<std::uint8_t> out, std::int64_t end);

/// Finds the Exif APP1 segment of the JPEG picture in [`start`, `end`): walks
/// the APPn and COM segments after SOI and answers, in `*tiff`, the TIFF
/// structure of the first APP1 that begins with "Exif" and two NULs. 0x8601
/// when the picture has none before its other segments; 0x8602 when it does
/// not begin like a JPEG; 0x8621 when a segment runs past `end`.
[[nodiscard]] XpStatus LocateJpegExif(XpAbstractFile& file, std::int64_t start, std::int64_t end, XpByteRange* tiff);

}  // namespace XpFormatReader
