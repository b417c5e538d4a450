#pragma once

// Writing a position for a photo of any format this program reads, through
// one entry point. The content decides where the position goes: into the file
// for JPEG, PNG, WebP and plain TIFF, and for HEIC/HEIF/AVIF when its Exif
// item can be rewritten without moving anything else (else XMP sidecars), into
// XMP sidecars for every camera raw format, whose files are never changed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/formats/XpPhotoLayout.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpLocationWrite.h"
#include "xp/tiff/XpGPSRecord.h"

namespace XpPhotoWrite {

/// The user's choices about where positions go, for every write of the
/// process: set once at start (from the program's settings or the tool's
/// options), before any photo is written.
struct Policy {
  /// DNG, CR2, NEF, PEF and ORF photos (TIFF structures with magic 42, or
  /// the Olympus magic, whose header is kept) get their
  /// position in the file, append-only as a plain TIFF, instead of a sidecar,
  /// unless a sidecar already belongs to the photo. Off by default: the
  /// makers' software may refuse raw files that were changed.
  bool rawInFile = false;
};
void SetPolicy(const Policy& policy);
[[nodiscard]] Policy GetPolicy();

/// Whether a photo of `format` written in its file is a raw file written in
/// place under Policy::rawInFile (callers warn the user of each such write).
[[nodiscard]] bool IsRawWrittenInFile(XpPhotoFormat format);

/// Where a photo's position is written.
enum class Destination : std::uint8_t {
  NotWritable,  ///< nowhere: `status` says why
  InFile,       ///< into the photo's own metadata
  Sidecar,      ///< into XMP sidecars beside the photo; the photo stays byte-identical
};

/// "file", "sidecar" or "none".
[[nodiscard]] std::string_view DestinationName(Destination destination);

/// The answer of WhereWritten.
struct Where {
  Destination destination = Destination::NotWritable;
  XpPhotoFormat format = XpPhotoFormat::Unknown;
  /// For NotWritable: 0x8620 for content this program does not read, the
  /// open status for a file that cannot be read; 0 otherwise.
  XpStatus status = XpStatus::Ok;
  /// For Sidecar: the sidecars a write changes (each existing one that
  /// belongs to the photo), or the one it creates.
  std::vector<std::string> sidecars;
  /// For Sidecar: true when no sidecar belongs to the photo yet, so that a
  /// write creates `sidecars.front()` ("photo.ext.xmp").
  bool createsSidecar = false;
  /// For a HEIC, HEIF or AVIF photo whose position goes to sidecars: why not
  /// into the file (XpInFileWrite::HeifInFile's status, or 0x8622 when a
  /// sidecar already belongs to the photo); the same 0x8622 for a DNG, CR2,
  /// NEF, PEF or ORF photo under Policy::rawInFile; 0 otherwise. For place names
  /// (WhereNamesWritten): 0x8615 when the photo's position goes into its file
  /// but its names go to sidecars.
  XpStatus notInFile = XpStatus::Ok;
  /// After a failed WriteGPS or RemoveGPS: the file the failure is about (the
  /// sidecar that could not be read, checked or renamed, else the photo).
  std::string failed;
};

/// Where a position of the photo at `path` goes, by its content and the
/// Policy. A plain TIFF structure whose name carries the extension of a
/// camera raw kind counts as that raw kind.
[[nodiscard]] Where WhereWritten(const std::string& path);

/// The sidecars beside `path` that belong to it (XpPhotoMetadata::OwnSidecars).
[[nodiscard]] std::vector<std::string> OwnSidecars(const std::string& path);

/// The GPS record a write of the photo starts from: its GPS directory for a
/// JPEG, what the photo shows otherwise (its sidecar's position first). 0x8601
/// when it has none.
[[nodiscard]] XpStatus ReadGPS(const std::string& path, XpGPSRecord& record);

/// Writes `record` (whose latitude and longitude must be valid) where
/// WhereWritten says.
///
/// In the file: a JPEG through XpExifRewrite::WriteGPS with every record
/// element (replacing the whole directory) and `hooks`; PNG, WebP and TIFF
/// (and the raw kinds Policy::rawInFile admits) through
/// XpInFileWrite::WriteGPSWith.
///
/// To sidecars: each sidecar that belongs to the photo gets the position in
/// its exif:GPS* properties; every other byte of it stays. A sidecar without
/// a position gets a new rdf:Description block with it. Without any sidecar,
/// "photo.ext.xmp" is created holding only the position and
/// photoshop:SidecarForExtension. Coordinates are written "D,MM.mmmmmmmmK",
/// the altitude as a rational with GPSAltitudeRef, GPSTimeStamp only when
/// the record has both a time stamp and a date stamp (a fix with its real UTC
/// time); such a fix also drops the sidecar's other GPS properties (speed,
/// direction and the like), which belong to the old fix. Each sidecar goes
/// through a temporary file beside it (hooks.beforeCommit runs on it), flushed,
/// read back and checked (it parses, its position reads back equal, it holds
/// every other byte of the old sidecar), then renamed over the sidecar (or
/// into its new name, never over a file that appeared meanwhile); on any
/// failure the sidecar stays byte-identical and the temporary file is removed.
/// Every sidecar is prepared and checked, and a copy of each old one kept,
/// before the first one is replaced; when a later rename fails (or
/// hooks.beforeRename answers non-zero for it), the sidecars already renamed
/// are put back from the kept copies (a created one removed), so that the
/// photo's sidecars never disagree. `where->failed` names the failing file.
///
/// Statuses: 0x8620 for a file this program does not read, 0x860B for a record without a
/// writable latitude and longitude, 0x8609 for a protected sidecar (no write
/// bit, no write access, immutable or append-only) or a protected folder
/// when the sidecar must be created, 0x860A for a sidecar changed (or created)
/// by someone else meanwhile, 0x8618 for a sidecar that is not well-formed
/// XMP or too large, 0x8624 when the written sidecar does not check out,
/// 0x810A when no temporary name is free, the JPEG path's statuses, else the
/// file status. `*where`, when given, receives WhereWritten's answer.
[[nodiscard]] XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record,
                                const XpExifRewrite::Hooks& hooks = {}, Where* where = nullptr);

/// Removes the position. In the file: XpExifRewrite::RemoveGPS, or
/// XpInFileWrite::RemoveGPSWith for PNG, WebP and TIFF. To sidecars:
/// every exif:GPS* property (and a drone's position properties) is taken out
/// of each sidecar that belongs to the photo, through the same temporary
/// file, checks and rename; no sidecar is created. When the photo's own
/// metadata holds a position (which is never changed for these kinds), the
/// position would come back on the next read: 0x8623, and nothing is changed.
/// Otherwise the statuses of WriteGPS.
[[nodiscard]] XpStatus RemoveGPS(const std::string& path, const XpExifRewrite::Hooks& hooks = {},
                                 Where* where = nullptr);

/// Where the place names of the photo at `path` are written: into the file
/// for a JPEG (its XMP packet, and its IPTC-IIM block when it has one); for
/// every other kind into the XMP sidecars its position goes to, or that
/// belong to it, or the one a write creates ("photo.ext.xmp"). For a photo
/// whose position goes into its file (PNG, WebP, TIFF, a HEIF photo written in
/// place, a raw file under Policy::rawInFile) `notInFile` is 0x8615, so that
/// the user learns where the names went.
[[nodiscard]] Where WhereNamesWritten(const std::string& path);

/// The place names the photo holds where WhereNamesWritten says: a JPEG's as
/// XpLocationWrite::Read gives them; else the first sidecar's (`hasXmp` false
/// when none belongs to the photo yet; `hasIim` is always false). Statuses of
/// XpLocationWrite::Read, 0x8618 for a sidecar that is not well-formed XMP,
/// WhereNamesWritten's status for a file this program does not write, else
/// the file status.
[[nodiscard]] XpStatus ReadNames(const std::string& path, XpLocationWrite::Current* current);

/// Writes `names` where WhereNamesWritten says. A JPEG through
/// XpLocationWrite::Write. Sidecars: every sidecar that belongs to the photo
/// gets the location properties (XpXmpLocation::SetLocation: every other byte
/// stays); without one, "photo.ext.xmp" is created holding only the names and
/// photoshop:SidecarForExtension. Each one goes through the temporary file,
/// the read-back check (the names read as written and the position it held
/// reads the same), the kept copies and the put-back of the position's
/// sidecar write, so that a failure leaves every sidecar byte-identical; the
/// photo itself is never changed. A sidecar that already holds the names
/// stays untouched. `outcome->xmpAdded` tells of a created sidecar. Statuses
/// of WriteGPS for the sidecars (0x8102 for a name that is not writable),
/// XpLocationWrite::Write's for a JPEG. `*where`, when given, receives
/// WhereNamesWritten's answer (and `failed` after a failure).
[[nodiscard]] XpStatus WriteNames(const std::string& path, const XpLocationWrite::Names& names,
                                  const XpExifRewrite::Hooks& hooks, XpLocationWrite::Outcome* outcome,
                                  Where* where = nullptr);

}  // namespace XpPhotoWrite
