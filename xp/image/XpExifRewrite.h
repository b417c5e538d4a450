#pragma once

// Rewriting the Exif block of a JPEG file without touching its image data:
// the GPS directory is replaced or removed, the new Exif segment is spliced in
// front of the source's own bytes, and the file is replaced in one atomic step.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpXmpGps.h"
#include "xp/tiff/XpGPSRecord.h"

namespace XpExifRewrite {

/// The largest APP1 payload one segment holds (65535 minus the length field).
inline constexpr std::uint64_t kMaxApp1Payload = 65533;
/// A maker-note preview carried behind the image starts on a multiple of this.
inline constexpr std::uint64_t kPreviewAlignment = 4096;

/// Transform codes TranscodeWithExif accepts: 0 (none) up to 7 (the seven
/// flips and rotations). Only 0 is carried out.
inline constexpr int kTransformNone = 0;
inline constexpr int kTransformLast = 7;

/// Copies the JPEG `source` (from its position) to `destination` (from its
/// start) without decoding it. With a non-empty `block` the output is SOI,
/// `block` as one APP1 segment, the source's APPn and COM segments that stand
/// between its SOI and its first table or frame segment, in file order, except
/// the first Exif APP1 (the one `block` replaces), and then the source from
/// its first table or frame segment to its end, byte for byte: tables, frame,
/// every scan and whatever follows the EOI marker (or the missing rest of a
/// cut-off file: nothing is added). With an empty `block` everything after
/// SOI is copied as it is.
/// Fails with 0x8602 for a stream that is not a JPEG or whose segments break
/// before the first scan or hold no frame, for a `transform` outside 0..7, a
/// `block` above 65533 bytes and for a transform on an image that is a whole
/// number of MCUs (none is carried out); 0x8605 for a transform on an image
/// that is not; 0x860C for a stream with more than
/// XpJpegSegments::kMaxHeaderSegments segments before its first scan; 0x8608
/// when `block` is not empty and the source has more than one Exif APP1
/// segment, or one that does not stand in the leading run; the stream's status
/// when reading or writing fails.
[[nodiscard]] XpStatus TranscodeWithExif(const XpMemoryFile& block, XpAbstractFile& source, XpAbstractFile& destination,
                                         int transform = kTransformNone);

/// Options of the file-level rewrites, and seams for tests and diagnostics
/// (the date text and the hook, which production callers leave empty).
struct Hooks {
  /// The DateTime text written into IFD0 (and IFD1); empty means the current
  /// local time as "YYYY:MM:DD hh:mm:ss".
  std::string dateTime;
  /// Runs when the temporary file is complete, before it is flushed, checked
  /// and moved into place; a non-zero answer fails the rewrite with it.
  std::function<XpStatus(const std::string& tempPath)> beforeCommit;
  /// The new file gets the picture's modification time instead of the time
  /// of the rewrite (for people who sort their photos by file date).
  bool preserveModificationTime = false;
  /// Runs right before a checked file goes into place under its name
  /// `target` (for each sidecar of a sidecar write); a non-zero answer fails
  /// the write there, as a failed rename would.
  std::function<XpStatus(const std::string& target)> beforeRename{};
  /// Edits the photo's XMP packet in the same write: called with the payload
  /// of the first XMP segment (APP1 "http://ns.adobe.com/xap/1.0/" and a NUL)
  /// of the leading run and whether the position is being removed, it leaves
  /// in `edited` the payload to write in its place (the same bytes for no
  /// change). A non-zero answer fails the rewrite with it. Empty: the XMP
  /// packet is copied as it is.
  std::function<XpStatus(bool removing, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* edited)>
      editXmp{};
  /// WriteGPS only: the zone of the capture time ("+09:00") that the Exif
  /// directory gains as OffsetTimeOriginal when it has none (a photo that
  /// records its zone keeps it); empty adds nothing. Another form fails the
  /// write with 0x8102.
  std::string offsetTimeOriginal{};
};

/// Whether rewrites keep the picture's modification time when the caller's
/// options do not ask for it (off unless set; the program sets it from the
/// user's setting). Safe to call from any thread.
void SetPreserveModificationTimeByDefault(bool preserve);
[[nodiscard]] bool PreservesModificationTimeByDefault();

/// Stores `record` as the GPS directory of the JPEG file at `path`. The
/// source's Exif data keeps every byte at its offset (XpExifEdit): IFD0's
/// DateTime (and IFD1's, if it has one) becomes the current time and
/// ExifVersion at least "0221", both patched in place where the entry holds
/// them; the new GPS directory takes the old one's place when it fits, else it
/// is appended behind the data. Each old GPS entry keeps its raw bytes unless
/// `record` sets its tag to another value; with `replaceWhole` (what the
/// program uses) a tag the record reads but no longer holds is dropped,
/// otherwise kept; a tag the record cannot hold as it stands (another type or
/// count, or a tag above 30) always stays. Maker notes with everything they
/// reference, IFD1 with its thumbnail or strips and later directories are
/// kept unchanged. Exif data continued in a second segment is written back
/// as one segment. The new Exif segment is spliced in as TranscodeWithExif
/// does: every other APPn and COM segment is kept in order (the XMP segment
/// edited by `hooks.editXmp` when set), and the image data and everything
/// behind it are the source's bytes. A maker-note preview that lies behind
/// the image after zero padding starts on a multiple of kPreviewAlignment
/// again (the padding is laid anew); one elsewhere in the image data keeps
/// its bytes; the maker note points at its new place.
///
/// The new file is written to a locked temporary file beside the picture
/// (XpReplacementName), flushed to disk, read back and checked (its tag tree
/// parses completely; every directory, entry and byte of the old Exif data
/// is in it unchanged apart from the intended changes; its GPS directory
/// holds what was written; its frame, copied image data and tail equal the
/// source's), given the picture's permission bits and then renamed over the
/// picture in one step, but only while the picture is still the file that
/// was read, with the same size, times and bytes. A symbolic link is
/// followed: the file it names is rewritten. On any failure the picture stays
/// byte-identical and the temporary file is removed.
///
/// Before anything is written, a protected picture is refused with 0x8609
/// (no write bit at all, no write access for the effective user, or the
/// immutable or append-only attribute). Unlocked temporary files of that
/// naming are removed as leftovers; no other file is.
///
/// Statuses: 0x8601 when the file has no tag tree (nothing is written), 0x8610
/// when the edited Exif block would not fit one segment, 0x8602 when the
/// source is not a JPEG or the written file does not check out, 0x8608 when
/// the file has a second Exif segment of its own or its Exif data is damaged
/// (a directory, value, thumbnail or strip outside the block, an unknown
/// type, a loop, a pointer that is no offset), 0x8609 for a protected
/// picture, 0x860A when the picture changed on disk meanwhile, 0x860C for an
/// absurd number of segments, 0x810A when no temporary name is free, 0x8401
/// for memory, the XMP edit's status, else the file status.
[[nodiscard]] XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record, bool replaceWhole = true,
                                const Hooks& hooks = {});

/// The XMP values a GPS record writes: its position (false when it holds no
/// position in range), its altitude when it has one, and, for a fix with its
/// real UTC time (time and date stamps), GPSTimeStamp with the old fix's other
/// properties dropped.
[[nodiscard]] bool XmpUpdateFromRecord(const XpGPSRecord& record, XpXmpGps::Update* update);

/// Keeps an XMP packet's position in step with the Exif position: a removal
/// (null `record`) takes the XMP GPS properties out, a write changes an XMP
/// position that is already there (it never adds one); its altitude and time
/// stamp stay. `edit` gets the new
/// packet with `changed` set, or `changed` false for no change. A packet that
/// does not parse is left as it is unless it names a position, which would
/// then stay behind: its status (0x8618, 0x8102) refuses the write instead.
[[nodiscard]] XpStatus EditXmpPosition(const XpGPSRecord* record, std::span<const std::uint8_t> packet,
                                       XpXmpGps::Edit* edit);

/// Fills `record` from the GPS directory of the JPEG file at `path`. 0x8601
/// when the file has no tag tree or no GPS directory; the open status when it
/// cannot be opened; 0x8602 when the tree does not parse.
[[nodiscard]] XpStatus ReadGPS(const std::string& path, XpGPSRecord& record);

/// Removes the GPS pointer (0x8825) from IFD0 of the JPEG file at `path`,
/// and overwrites every GPS directory it names (one or several) and every
/// value they own with zero bytes, where nothing else references them, so
/// that the position cannot be read from the file any more; with
/// `hooks.editXmp` set the XMP packet is edited in the same write. Nothing
/// else changes, and the file keeps its length unless the XMP edit changes
/// the packet's length. A file with neither a pointer nor an XMP change is
/// left untouched and answers 0. The change goes through the same temporary
/// file, checks and replacement as WriteGPS (the written tree has no GPS
/// pointer, the old GPS bytes are zero, everything else is unchanged).
/// 0x8609, 0x8608, 0x860A and 0x860C as for WriteGPS; 0x8601 without an Exif
/// block; 0x8602 for a written file that does not check out; else the file
/// status.
[[nodiscard]] XpStatus RemoveGPS(const std::string& path, const Hooks& hooks = {});

/// The edits of WriteHeaderSegments, each optional.
struct SegmentEdits {
  /// Called with the payload of the first XMP segment of the leading run
  /// (its namespace header included), or with an empty span and `present`
  /// false when there is none. Leaves in `edited` the payload to write (the
  /// same bytes, or nothing, for no change); for a photo without XMP a new
  /// segment is put behind JFIF and Exif.
  std::function<XpStatus(std::span<const std::uint8_t> payload, bool present, std::vector<std::uint8_t>* edited)>
      editXmp{};
  /// Called with the payload of the photo's "Photoshop 3.0" APP13 segment,
  /// only when the leading run has exactly one; leaves the payload to write.
  std::function<XpStatus(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* edited)> editIptc{};
  /// Called before the rename with the payloads of the written file's XMP and
  /// APP13 segments (empty when there is none); a non-zero answer fails the
  /// write with it and the photo stays as it was.
  std::function<XpStatus(std::span<const std::uint8_t> xmp, std::span<const std::uint8_t> iptc)> check{};
};

/// Replaces the photo's XMP and APP13 segments with what `edits` make of
/// them, through the same locked temporary file, checks and atomic rename as
/// WriteGPS: the written file must walk as a JPEG stream, hold every other
/// byte of the source unchanged and in order, and pass `edits.check`. The
/// Exif block is not touched. A photo whose edits change nothing is left
/// untouched and answers 0.
/// Statuses: 0x8602 for a source that is not a JPEG stream or a written file
/// that does not check out, 0x860C for an absurd number of segments, 0x8631
/// when an edited segment would not fit one segment, 0x863F when a change of
/// length would move data that other metadata finds by its file position (a
/// maker-note preview or a multi-picture image behind the edited segment),
/// 0x8609, 0x860A and 0x810A as for WriteGPS, the edits' own statuses, else
/// the file status.
/// Calls the edits of `edits` on the segments of `source` as
/// WriteHeaderSegments would, without writing anything (what they leave in
/// `edited` is dropped): for reading what a write would see. Statuses of the
/// walk (0x8602, 0x860C) and of the edits.
[[nodiscard]] XpStatus InspectHeaderSegments(XpFile& source, const SegmentEdits& edits);

[[nodiscard]] XpStatus WriteHeaderSegments(const std::string& path, const SegmentEdits& edits, const Hooks& hooks = {});

}  // namespace XpExifRewrite
