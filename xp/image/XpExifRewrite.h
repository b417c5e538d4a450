#pragma once

// Rewriting the Exif block of a JPEG file without touching its image data:
// the GPS directory is replaced or removed, the compressed DCT coefficients
// are copied by libjpeg, and the file is replaced in one atomic step.

#include <cstdint>
#include <functional>
#include <string>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpGPSRecord.h"

namespace XpExifRewrite {

/// The largest APP1 payload libjpeg writes (65535 minus the length field).
inline constexpr std::uint64_t kMaxApp1Payload = 65533;
/// A maker-note preview carried behind the image starts on a multiple of this.
inline constexpr std::uint64_t kPreviewAlignment = 4096;

/// Copies the JPEG `source` (from its position) to `destination` losslessly:
/// same frame, tables and DCT coefficients. With a non-empty `block` the
/// output is SOI, `block` as one APP1 segment, then every APPn and COM segment
/// of the source in file order except the first APP1 that begins with "Exif"
/// (the block it replaces); `block` is emptied afterwards. With an empty
/// `block` every APPn and COM segment is copied as it is. `transform` is a
/// JXFORM_CODE; only 0 (none) is carried out.
/// Fails with the pre-check's status for a stream that does not start like a
/// JPEG, 0x8605 for another transform on an image that is not a whole number
/// of MCUs, 0x8602 for other transforms and for any libjpeg failure (an APP1
/// payload above 65533 bytes among them), the stream's status when reading or
/// writing fails, 0x8401 when memory runs out.
/// `*imageEnd`, when given, receives the source position right behind its
/// EOI marker (-1 when the source ended without one).
[[nodiscard]] XpStatus TranscodeWithExif(XpMemoryFile& block, XpAbstractFile& source, XpAbstractFile& destination,
                                         int transform = 0, std::int64_t* imageEnd = nullptr);

/// Seams for tests and diagnostics of the file-level rewrites. Production
/// callers pass nothing.
struct Hooks {
  /// The DateTime text written into IFD0 (and IFD1); empty means the current
  /// local time as "YYYY:MM:DD hh:mm:ss".
  std::string dateTime;
  /// Runs when the temporary file is complete, before it is flushed, checked
  /// and moved into place; a non-zero answer fails the rewrite with it.
  std::function<XpStatus(const std::string& tempPath)> beforeCommit;
};

/// Stores `record` as the GPS directory of the JPEG file at `path`. With
/// `replaceWhole` (what the program uses) the old GPS directory is dropped;
/// otherwise the record's tags are added to it. IFD0 gets a new DateTime,
/// ExifVersion becomes at least "0221", IFD1 keeps its JPEG thumbnail (or is
/// dropped when it has none), a large maker-note preview is carried behind
/// the image. Every APPn and COM segment other than the replaced Exif block is
/// kept in order, and the image data is copied without re-encoding. Bytes
/// behind the image's EOI marker are kept behind the new image.
///
/// The new file is written to a temporary file beside the picture ("path-N"),
/// flushed to disk, read back and checked (its tag tree parses, its GPS
/// directory holds exactly what was written, its frame equals the source's),
/// given the picture's permission bits and then renamed over the picture in
/// one step. A symbolic link is followed: the file it names is rewritten.
/// On any failure the picture stays byte-identical and the temporary file is
/// removed.
///
/// Statuses: 0x8601 when the file has no tag tree (nothing is written), 0x8600
/// when the new Exif block would not fit one segment, 0x8602 when the source
/// is not a JPEG, libjpeg fails or the written file does not check out, 0x810A
/// when no temporary name is free, 0x8401 for memory, else the file status.
[[nodiscard]] XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record, bool replaceWhole = true,
                                const Hooks& hooks = {});

/// Fills `record` from the GPS directory of the JPEG file at `path`. 0x8601
/// when the file has no tag tree or no GPS directory; the open status when it
/// cannot be opened; 0x8602 when the tree does not parse.
[[nodiscard]] XpStatus ReadGPS(const std::string& path, XpGPSRecord& record);

/// Removes the GPS pointer (0x8825) from IFD0 of the JPEG file at `path`. The
/// GPS directory's bytes stay, unreferenced; nothing else changes. A file with
/// no pointer is left untouched and answers 0. The change is made in a
/// temporary copy that is flushed, checked and renamed over the file, as for
/// WriteGPS. 0x8601 without an Exif block; 0x8602 for an IFD0 that lies
/// outside the file or claims more than 1000 entries; else the file status.
[[nodiscard]] XpStatus RemoveGPS(const std::string& path, const Hooks& hooks = {});

}  // namespace XpExifRewrite
