#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/tiff/TagTreePtr.h"

/// Finding and reading the Exif block of a JPEG stream. The JPEG reader uses
/// these as they are: the pre-check before it hands a stream to libjpeg,
/// LocateExif and ReadTagTree for its own tag tree operations.
namespace XpJpegExif {

/// The load mode the JPEG reader gives XpTiffTagManager::Load.
inline constexpr int kReadMode = 0;

/// Checks that the stream at `start` begins like a JPEG: SOI (0xFF 0xD8), then
/// marker pairs where every APPn segment is skipped by its length, up to the
/// first marker that is not APP0..APP15 (success). 0x8602 for anything else,
/// including a segment length below 2 or a stream that ends inside the
/// APPn run. The segments behind the run are walked as well, up to the first
/// scan: 0x860C when there are more than XpJpegSegments::kMaxHeaderSegments
/// of them. The stream position is left wherever the check stopped; the
/// caller restores it.
[[nodiscard]] XpStatus CheckJpegStream(XpAbstractFile& stream, std::int64_t start);

/// Runs the pre-check, then walks the APPn segments after SOI and stops on the
/// first APP1 whose payload begins with "Exif": the stream then stands on the
/// TIFF header (payload byte 6). Comment segments among them are skipped too.
/// 0x8601 when a marker other than APP0..APP15 or COM
/// comes first, or a segment length is impossible; the stream's status when a
/// read or seek fails; the pre-check's status when that fails.
[[nodiscard]] XpStatus LocateExif(XpAbstractFile& stream, std::int64_t start);

/// True when a saved APP1 payload is an Exif block ("Exif" and a NUL first).
[[nodiscard]] bool IsExifPayload(std::span<const std::uint8_t> app1Payload);
/// The TIFF data of an Exif APP1 payload: its bytes from 6 on (empty when shorter).
[[nodiscard]] std::span<const std::uint8_t> TiffDataOfExifPayload(std::span<const std::uint8_t> app1Payload);

/// Locates the Exif block from `start` and loads it as a tag tree (mode 0).
/// 0 and a tree; 0x8602 when the tree does not load; 0x8401 when memory runs
/// out; otherwise LocateExif's status. `*tree` is null on every failure.
[[nodiscard]] XpStatus ReadTagTree(XpAbstractFile& stream, TagTreePtr* tree, std::int64_t start = 0);
/// Opens the file for reading and reads its tree as above; a file that cannot
/// be opened gives the open status and a null tree.
[[nodiscard]] XpStatus ReadTagTree(const std::string& path, TagTreePtr* tree);

}  // namespace XpJpegExif
