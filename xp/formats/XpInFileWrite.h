#pragma once

// Writing a position into PNG, WebP and plain TIFF photos themselves, without
// touching their image data.
//
// PNG: the Exif block goes into one eXIf chunk right before the first IDAT
// chunk (an existing eXIf, wherever it stood, is replaced by it); every other
// chunk keeps its bytes and its place. WebP: the EXIF chunk is replaced in its
// place or added (before the XMP chunk, else at the end), the VP8X chunk says
// the file has Exif (a simple VP8 or VP8L file gains a VP8X chunk with the
// canvas size of its bitstream), the RIFF size is set; every other chunk keeps
// its bytes. An existing Exif block is edited as the JPEG path edits it
// (XpExifEdit: every byte at its offset, DateTime and ExifVersion updated);
// a photo without one gets a block of IFD0 with the GPS pointer and the GPS
// directory. TIFF (magic 42, either byte order): nothing is moved or
// rewritten but the GPS pointer (or the header's IFD0 offset, when IFD0 must
// gain the pointer: a copy of IFD0 with it is appended) and the old GPS
// directory, whose bytes are zeroed; the new GPS directory is appended.
//
// HEIC/HEIF/AVIF (when HeifInFile allows): the Exif item's new block is
// written over the old one when it fits (the rest of the item's extent
// zeroed, the item's 4-byte offset prefix and identifier kept), else into a
// new `mdat` box appended at the end, the item's one `iloc` extent repointed
// in place and the old bytes zeroed; nothing else in the file moves or
// changes.
//
// An XMP packet that holds a position (PNG: the first uncompressed iTXt
// chunk "XML:com.adobe.xmp"; WebP: the XMP chunk; TIFF: IFD0's tag 700) is
// kept in step as the JPEG path keeps it (XpExifRewrite::EditXmpPosition):
// its position changed on a write, removed with the Exif one. The PNG and
// WebP chunk is rewritten in its place; in TIFF the edited packet is
// appended, its entry repointed and the old packet zeroed. A PNG whose Exif
// block stands only in a "Raw profile type exif" text chunk gets an eXIf
// chunk made from that block (the text chunk stays as it is).
//
// Every write goes through XpPhotoReplace: a locked temporary file beside the
// photo, flushed, read back and checked (CheckBytes) before it is renamed over
// the photo; protected photos (0x8609) and photos changed meanwhile (0x860A)
// are refused, and the photo stays byte-identical on every failure.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/tiff/XpGPSRecord.h"

namespace XpInFileWrite {

/// The largest photo rewritten (it is held in memory twice meanwhile).
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

/// The containers written here.
enum class Container : std::uint8_t { None, Png, Webp, Tiff, Heif };

/// The container the leading bytes show: the PNG signature, "RIFF" with
/// "WEBP", a TIFF header ("II" or "MM" with 42, or 43 for BigTIFF), or a
/// leading `ftyp` box with a HEIC, HEIF or AVIF brand.
[[nodiscard]] Container Sniff(std::span<const std::uint8_t> prefix);

/// What a write changes.
struct Change {
  /// The GPS directory to store; null removes the position.
  const XpGPSRecord* record = nullptr;
  /// The DateTime text given to IFD0 of an existing Exif block of a PNG or
  /// WebP photo ("YYYY:MM:DD hh:mm:ss"); empty leaves it. TIFF photos keep it.
  std::string dateTime;
};

/// The new bytes of the photo `source` for `change`, or `*nothing` set when
/// there is nothing to do (a removal from a photo without a GPS pointer).
/// 0x8602 for content that is no PNG, WebP or TIFF; 0x8629 for BigTIFF;
/// 0x8621 for chunks that run outside the file, a PNG without IHDR, IDAT or
/// IEND, a WebP without a first VP8/VP8L/VP8X chunk or a RIFF size beyond
/// the file; 0x8608 for Exif data that does not read completely, a second
/// Exif chunk, structures that share bytes with what the edit changes, or
/// any other reason why the result would not pass CheckBytes;
/// 0x862B when the result would outgrow the format's size fields.
[[nodiscard]] XpStatus EditBytes(std::span<const std::uint8_t> source, const Change& change,
                                 std::vector<std::uint8_t>* out, bool* nothing);

/// The check of a written file against its source: it parses as the same
/// container; every chunk (PNG, WebP) other than the Exif chunk and the VP8X
/// flags keeps its bytes and order; every byte of a TIFF source stays at its
/// offset but for the intended changes, and every strip, tile and JPEG
/// picture it references is unchanged; the Exif data keeps every tag outside
/// the GPS change (XpExifEdit::Difference); and the program's reader reads
/// the new position back (or none after a removal). 0 when all holds, else
/// 0x862A.
[[nodiscard]] XpStatus CheckBytes(std::span<const std::uint8_t> source, std::span<const std::uint8_t> written,
                                  const Change& change);

/// Whether the HEIC, HEIF or AVIF photo at `path` gets its position in the
/// file: 0 when it does; 0x862C when it has no Exif item, bytes behind its
/// last box (a trailer), a top-level box other than ftyp, meta, mdat, free
/// and skip, a motion photo's video, an XMP item that holds a position, or an
/// Exif item that is not one extent of an `mdat` box of its own (construction
/// method 0, with offset and length fields); 0x8621 for damaged boxes; the
/// file status otherwise.
[[nodiscard]] XpStatus HeifInFile(const std::string& path);

/// Stores `record` as the GPS directory of the PNG, WebP or TIFF photo at
/// `path` (found by content), as described above. Statuses: EditBytes's,
/// 0x862A when the written file does not check out, 0x862B for a photo above
/// kMaxFileBytes, 0x8609 for a protected photo, 0x860A for one changed on
/// disk meanwhile, 0x810A when no temporary name is free, 0x8401 for memory,
/// else the file status. The photo is unchanged whenever the answer is not 0.
[[nodiscard]] XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record);

/// Removes the GPS pointer of the PNG, WebP or TIFF photo at `path` and zeroes
/// the old GPS directory's bytes; a photo without a GPS pointer is left
/// untouched and answers 0. Statuses as WriteGPS.
[[nodiscard]] XpStatus RemoveGPS(const std::string& path);

/// WriteGPS and RemoveGPS with the JPEG path's options: the DateTime text,
/// the hook before the commit, keeping the modification time (editXmp is not
/// used).
[[nodiscard]] XpStatus WriteGPSWith(const std::string& path, const XpGPSRecord& record,
                                    const XpExifRewrite::Hooks& hooks);
[[nodiscard]] XpStatus RemoveGPSWith(const std::string& path, const XpExifRewrite::Hooks& hooks);

}  // namespace XpInFileWrite
