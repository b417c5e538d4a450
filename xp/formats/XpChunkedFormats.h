#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/formats/XpPhotoLayout.h"
#include "xp/image/XpAbstractFile.h"

/// Finding the metadata of the chunk-based photo formats and of the raw
/// layout that wraps a JPEG. Each walk is bounded by the file and by the
/// chunk lengths, and stops after a fixed number of chunks.
namespace XpChunkedFormats {

/// Chunks walked before a file counts as damaged.
inline constexpr int kMaxChunks = 1 << 16;

/// PNG: the first `eXIf` chunk wherever it stands (a TIFF structure; an
/// "Exif" identifier before it is skipped) and the first uncompressed iTXt
/// chunk with the keyword "XML:com.adobe.xmp"; the text of a tEXt chunk
/// "Raw profile type exif" as `hexExif`. 0 with what was found; 0x8602
/// without the PNG signature; 0x8621 when a chunk runs past the file before
/// either was found.
[[nodiscard]] XpStatus LocatePng(XpAbstractFile& file, XpPhotoLayout* layout);

/// WebP: the RIFF `EXIF` chunk (an "Exif" identifier before the TIFF
/// structure, which some writers add, is skipped) and the `XMP ` chunk, inside
/// the RIFF size. Statuses as for LocatePng (0x8602 without "RIFF"/"WEBP").
[[nodiscard]] XpStatus LocateWebp(XpAbstractFile& file, XpPhotoLayout* layout);

/// Decodes the text of a "Raw profile type exif" chunk: a line with the
/// profile's name, a line with its decimal length, then that many bytes as
/// hexadecimal digits (white space between them is skipped). An "Exif"
/// identifier before the TIFF structure is dropped. False, and `*out` empty,
/// for a length above `maxBytes`, text that ends early or a byte that is not hex.
[[nodiscard]] bool DecodeHexProfile(std::string_view text, std::size_t maxBytes, std::vector<std::uint8_t>* out);

/// RAF: the header names the embedded JPEG (big-endian offset and length at
/// bytes 84 and 88); its Exif APP1 is the photo's Exif. 0 with `jpeg` and
/// `tiff` found; 0x8602 without the header's signature; 0x8621 when the JPEG
/// lies outside the file; the JPEG's own status (0x8601 without Exif) else.
[[nodiscard]] XpStatus LocateRaf(XpAbstractFile& file, XpPhotoLayout* layout);

}  // namespace XpChunkedFormats
