#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PictureResult.h"
#include "xp/base/XpDateTime.h"
#include "xp/base/XpFileType.h"
#include "xp/base/XpStatus.h"
#include "xp/tiff/XpGPSRecord.h"

/// True when the classifier calls the file an ordinary JPEG still.
[[nodiscard]] bool IsJpegStill(const std::string& path);

/// True for a picture the list takes: a JPEG still, or a photo of another
/// format this program reads (HEIC/HEIF/AVIF, the TIFF family and camera raw
/// files, CR3, RAF, PNG, WebP), as its content shows.
[[nodiscard]] bool IsListablePicture(const std::string& path);

/// True for a listable picture that is not a JPEG still.
[[nodiscard]] bool IsOtherFormatPicture(const std::string& path);

/// Whether a JPEG and the photos of other formats beside it with its base
/// name are one picture (the default), whose moves are written to all of
/// them, or each a picture of its own. Set once at start, before any load.
void SetRawJpegPairsLinked(bool linked);
[[nodiscard]] bool RawJpegPairsLinked();

/// The photos of other formats that form a RAW+JPEG pair with the file at
/// `path`: in its folder, with its base name in any letter case, sorted;
/// none while pairs are not linked.
[[nodiscard]] std::vector<std::string> PairedOtherFormatFiles(const std::string& path);

/// PairedOtherFormatFiles for each of `paths`, in their order, each folder
/// listed once.
[[nodiscard]] std::vector<std::vector<std::string>> PairedOtherFormatFilesOf(const std::vector<std::string>& paths);

/// A picture's position and capture time, read together.
struct PicturePositionAndTime {
  bool hasGps = false;  ///< `gps` holds what ReadPictureGPS describes
  XpGPSRecord gps;
  bool hasTime = false;  ///< `time` holds what ReadPictureCaptureTime describes
  XpDateTime time;
  /// A photo of another format whose sidecar gives a position more than
  /// kDisagreementMetres from the one its own metadata gives: the sidecar
  /// (whose position is `gps`) and the file's own position. Empty otherwise.
  std::string disagreeingSidecar;
  XpGPSRecord fileGps;
};

/// How far apart a sidecar's and a photo's own positions may lie and still
/// count as one place (what rounding of the written forms moves a position).
inline constexpr double kDisagreementMetres = 1.0;

/// The distance in metres between two places on the Earth, given in signed
/// degrees (a sphere of the Earth's mean radius).
[[nodiscard]] double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2);

/// ReadPictureGPS and ReadPictureCaptureTime in one read of the file (one
/// Exif block for a JPEG, one reading with its sidecar for another format,
/// which also tells a sidecar that disagrees with the file).
[[nodiscard]] PicturePositionAndTime ReadPicturePositionAndTime(const std::string& path);

/// Fills `gps` from the picture's GPS directory; for a picture of another
/// format, from its XMP sidecar when that gives a position, else from its GPS
/// directory or embedded XMP. False when the picture has no readable Exif
/// block or no GPS directory (and no XMP position) (`gps` is then reset).
[[nodiscard]] bool ReadPictureGPS(const std::string& path, XpGPSRecord* gps);

/// The picture's capture time (Exif date and time of capture). False when it
/// has none or it is not a valid time.
[[nodiscard]] bool ReadPictureCaptureTime(const std::string& path, XpDateTime* time);

/// The display size of a JPEG (turned upright) fitted into the thumbnail box;
/// for a picture of another format, of its largest embedded JPEG preview that
/// reads, else of the picture itself where this program decodes its pixels
/// (HEIC/HEIF/AVIF, PNG, WebP, plain TIFF). False when the file can't be
/// opened or has neither.
[[nodiscard]] bool MeasureJpeg(const std::string& path, std::int32_t* width, std::int32_t* height);

/// The size MakeThumbnail gives the thumbnail of a JPEG, read from its header
/// alone. False when the file can't be opened or its header does not read.
[[nodiscard]] bool ThumbnailSizeOf(const std::string& path, std::int32_t* width, std::int32_t* height);

/// Writes the thumbnail of `picturePath` to a new file `thumbnailPath`: upright,
/// fitted into the 550 box, JPEG quality 70, carrying the picture's Exif data.
/// A picture of another format gives its largest embedded JPEG preview that
/// decodes, turned by the photo's own orientation when the preview has none
/// (by the preview's own for the mirrored orientations); without one, its own
/// pixels where this program decodes them (HEIC/HEIF/AVIF through the primary
/// image or a thumbnail item that covers the box, PNG, WebP, plain TIFF), turned
/// by its orientation. One that gives neither answers 8 like an undecodable JPEG.
/// Answers 0, 8 when the picture can't be read, decoded or scaled, 9 when the
/// thumbnail can't be written, also when anything (a file, a link) has the name
/// already: that is never opened, followed or replaced. Nothing is left at
/// `thumbnailPath` unless the answer is 0. The fitted size goes to `width` and
/// `height`.
/// With `listed`, the thumbnail is noted in this process's thumbnail list just
/// before its file is made (NoteNewThumbnail), so that an ended or killed
/// process does not leave it behind; while the process removes its thumbnails
/// none is made (9).
/// `why`, when given, receives the reason of an answer other than 0: 0x8625
/// for a picture with too many pixels to decode, 0x8626 for one whose pixels
/// do not decode, 0x8620 for a format without a pixel decoder, the file's
/// status when it cannot be read.
[[nodiscard]] PictureResult MakeThumbnail(const std::string& picturePath, const std::string& thumbnailPath,
                                          std::int32_t* width, std::int32_t* height, bool listed = false,
                                          XpStatus* why = nullptr);
