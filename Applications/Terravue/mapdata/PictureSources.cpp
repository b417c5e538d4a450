#include "Applications/Terravue/mapdata/PictureSources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <map>
#include <span>
#include <string_view>
#include <system_error>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureRecord.h"
#include "Applications/Terravue/mapdata/ThumbnailJournal.h"
#include "xp/base/XpCaptureTime.h"
#include "xp/base/XpDateTime.h"
#include "xp/base/XpFileRead.h"
#include "xp/base/XpFileType.h"
#include "xp/formats/XpFormatDecode.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpPixmapOps.h"
#include "xp/text/XpAsciiCase.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

// The text the thumbnail writer records as the writing program.
constexpr const char* kThumbnailWriterName = "Pictavo - Terravue";

// The largest decoder reduction whose output still covers the fitted size, so
// the final resampling only shrinks.
int ReductionFor(const XpPixmapOps::Size& upright, std::int32_t fitWidth, std::int32_t fitHeight) {
  for (int reduction : {8, 4, 2}) {
    const std::int64_t w = (static_cast<std::int64_t>(upright.width) + reduction - 1) / reduction;
    const std::int64_t h = (static_cast<std::int64_t>(upright.height) + reduction - 1) / reduction;
    if (w >= fitWidth && h >= fitHeight) {
      return reduction;
    }
  }
  return 1;
}

}  // namespace

bool IsJpegStill(const std::string& path) { return XpGetFileType(path) == kJpegStillFileType; }

bool IsOtherFormatPicture(const std::string& path) {
  const XpPhotoFormat format = XpPhotoMetadata::SniffFile(path);
  return format != XpPhotoFormat::Unknown && format != XpPhotoFormat::Jpeg;
}

namespace {

std::atomic<bool> g_pairsLinked{true};

}  // namespace

void SetRawJpegPairsLinked(bool linked) { g_pairsLinked.store(linked); }

bool RawJpegPairsLinked() { return g_pairsLinked.load(); }

namespace {}  // namespace

std::vector<std::vector<std::string>> PairedOtherFormatFilesOf(const std::vector<std::string>& paths) {
  std::vector<std::vector<std::string>> pairs(paths.size());
  if (!RawJpegPairsLinked()) {
    return pairs;
  }
  // Each folder is listed once, its names grouped by base name in lower case,
  // so a folder of a thousand photos is read once, not once a photo.
  std::map<std::string, std::multimap<std::string, std::string>> folders;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const XpPhotoMetadata::PathParts parts = XpPhotoMetadata::SplitPath(paths[i]);
    auto [folder, added] = folders.try_emplace(parts.folder);
    if (added) {
      std::error_code error;
      for (std::filesystem::directory_iterator it(parts.folder.empty() ? std::string(".") : parts.folder, error), end;
           !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        const XpPhotoMetadata::PathParts nameParts = XpPhotoMetadata::SplitPath(name);
        if (!nameParts.extension.empty()) {
          folder->second.emplace(XpAsciiLowered(nameParts.stem), std::move(name));
        }
      }
    }
    const auto [first, last] = folder->second.equal_range(XpAsciiLowered(parts.stem));
    for (auto it = first; it != last; ++it) {
      if (it->second != parts.name && IsOtherFormatPicture(parts.folder + it->second)) {
        pairs[i].push_back(parts.folder + it->second);
      }
    }
    std::sort(pairs[i].begin(), pairs[i].end());
  }
  return pairs;
}

std::vector<std::string> PairedOtherFormatFiles(const std::string& path) {
  return std::move(PairedOtherFormatFilesOf({path}).front());
}

bool IsListablePicture(const std::string& path) { return IsJpegStill(path) || IsOtherFormatPicture(path); }

PicturePositionAndTime ReadPicturePositionAndTime(const std::string& path) {
  PicturePositionAndTime out;
  TagTreePtr tree;
  if (IsJpegStill(path)) {
    // One read of the Exif block gives both; a FIFO or device is never opened.
    struct stat info {};
    XpFile file(path);
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        file.Open(XpAbstractFile::kRead) != XpStatus::Ok || XpJpegExif::ReadTagTree(file, &tree, 0) != XpStatus::Ok ||
        !tree) {
      return out;
    }
    if (const XpTiffTagIFD* gps = tree->GetGPSIFD(); gps != nullptr) {
      gps->GetGPSRecord(out.gps);
      out.hasGps = true;
    }
    const XpTiffTagIFD* first = tree->GetIFD(0);
    const std::string text = first != nullptr ? first->FindAscii(kTagDateTimeOriginal, /*deep=*/true) : std::string();
    XpDateTime value;
    if (!text.empty() && XpParseExifDateTime(text, value) && value.IsValid()) {
      out.time = value;
      out.hasTime = true;
    }
    return out;
  }
  XpPhotoMetadata::Reading reading;
  const XpStatus st = XpPhotoMetadata::Read(path, &reading);
  if ((st == XpStatus::Ok || reading.source == XpPhotoMetadata::PositionSource::Sidecar) &&
      (reading.hasGpsDirectory || reading.source != XpPhotoMetadata::PositionSource::None)) {
    out.gps = reading.gps;
    out.hasGps = true;
  }
  XpDateTime value;
  if (!reading.dateTimeOriginal.empty() && XpParseExifDateTime(reading.dateTimeOriginal, value) && value.IsValid()) {
    out.time = value;
    out.hasTime = true;
  }
  // The sidecar's position is shown; one the file holds elsewhere is told beside it.
  double sidecarLatitude = 0;
  double sidecarLongitude = 0;
  double fileLatitude = 0;
  double fileLongitude = 0;
  if (out.hasGps && reading.source == XpPhotoMetadata::PositionSource::Sidecar && reading.fileHasPosition &&
      RationalsToDegrees(reading.gps.latitudeRef, reading.gps.latitude, &sidecarLatitude) &&
      RationalsToDegrees(reading.gps.longitudeRef, reading.gps.longitude, &sidecarLongitude) &&
      RationalsToDegrees(reading.fileGps.latitudeRef, reading.fileGps.latitude, &fileLatitude) &&
      RationalsToDegrees(reading.fileGps.longitudeRef, reading.fileGps.longitude, &fileLongitude) &&
      GreatCircleMetres(sidecarLatitude, sidecarLongitude, fileLatitude, fileLongitude) > kDisagreementMetres) {
    out.disagreeingSidecar = reading.sidecar;
    out.fileGps = reading.fileGps;
  }
  return out;
}

double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2) {
  constexpr double kEarthRadius = 6371008.8;
  constexpr double kRadians = 3.14159265358979323846 / 180.0;
  const double dLatitude = (latitude2 - latitude1) * kRadians;
  const double dLongitude = (longitude2 - longitude1) * kRadians;
  const double a = std::sin(dLatitude / 2) * std::sin(dLatitude / 2) +
                   std::cos(latitude1 * kRadians) * std::cos(latitude2 * kRadians) * std::sin(dLongitude / 2) *
                       std::sin(dLongitude / 2);
  return 2 * kEarthRadius * std::asin(std::sqrt(std::min(1.0, a)));
}

bool ReadPictureGPS(const std::string& path, XpGPSRecord* gps) {
  const PicturePositionAndTime read = ReadPicturePositionAndTime(path);
  *gps = read.gps;
  return read.hasGps;
}

bool ReadPictureCaptureTime(const std::string& path, XpDateTime* time) {
  const PicturePositionAndTime read = ReadPicturePositionAndTime(path);
  if (read.hasTime) {
    *time = read.time;
  }
  return read.hasTime;
}

namespace {

// The largest preview taken into memory: well above any camera's full-size JPEG.
constexpr std::int64_t kMaxPreviewBytes = std::int64_t{64} << 20;

// A JPEG stream with the orientation it is shown in.
struct JpegSource {
  std::unique_ptr<XpAbstractFile> stream;
  /// The photo's orientation, for a preview without one of its own; 0 for none.
  int orientation = 0;
  /// True for a preview embedded in a photo of another format: it is turned
  /// by every orientation, the mirrored ones too.
  bool preview = false;
};

// The embedded previews of a picture of another format that read, largest
// first, each as a stream of its own.
std::vector<JpegSource> PreviewsOf(const std::string& path, const XpPhotoMetadata::Reading& reading) {
  std::vector<JpegSource> out;
  if (reading.previews.empty()) {
    return out;
  }
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return out;
  }
  for (const XpByteRange& range : reading.previews) {
    if (range.length > kMaxPreviewBytes || file.Seek(range.offset, XpAbstractFile::kBegin) != XpStatus::Ok) {
      continue;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(range.length));
    if (file.ReadExact(bytes.data(), bytes.size()) != XpStatus::Ok || bytes.size() < 3 || bytes[0] != 0xFF ||
        bytes[1] != 0xD8) {
      continue;
    }
    out.push_back({std::make_unique<XpMemoryFile>(std::move(bytes)), reading.orientation, /*preview=*/true});
  }
  return out;
}

// The JPEG streams a picture's thumbnail may come from: the picture itself for
// a JPEG still, its previews otherwise.
std::vector<JpegSource> JpegSourcesOf(const std::string& path, const XpPhotoMetadata::Reading& reading) {
  if (IsJpegStill(path)) {
    std::vector<JpegSource> out;
    auto file = std::make_unique<XpFile>(path);
    if (file->Open(XpAbstractFile::kRead | XpAbstractFile::kSequential) == XpStatus::Ok) {
      out.push_back({std::move(file), 0, /*preview=*/false});
    }
    return out;
  }
  return PreviewsOf(path, reading);
}

// The photo's orientation applies to a preview that has none of its own; the
// decoder turns 3, 6 and 8 by the JPEG's own, and a preview's own mirrored
// orientations (2, 4, 5, 7) are applied after it.
int ExtraOrientation(const XpImageIoJpeg& reader, const JpegSource& source) {
  const int own = reader.GetOrientation();
  if (own == 0) {
    return source.orientation;
  }
  if (source.preview && (own == 2 || own == 4 || own == 5 || own == 7)) {
    return own;
  }
  return 0;
}

// A picture of another format decoded whole and upright, with its Exif tree.
struct OtherPicture {
  std::unique_ptr<XpPixmapBGR24> pixmap;
  TagTreePtr tree;
};

// The picture of a format with a pixel decoder (HEIF, PNG, WebP, plain TIFF),
// upright by its Exif orientation where the format does not turn it itself.
XpStatus DecodeOtherFormat(const std::string& path, const XpPhotoMetadata::Reading& reading, OtherPicture* out) {
  const XpPhotoFormat format =
      reading.format != XpPhotoFormat::Unknown ? reading.format : XpPhotoMetadata::SniffFile(path);
  if (!XpFormatDecode::CanDecode(format)) {
    return XpStatus::PhotoFormatUnknown;
  }
  XpFile file(path);
  if (const XpStatus status = file.Open(XpAbstractFile::kRead); status != XpStatus::Ok) {
    return status;
  }
  XpFormatDecode::Picture picture;
  if (const XpStatus status = XpFormatDecode::Decode(file, format, PictureRecord::kThumbBox, &picture);
      status != XpStatus::Ok) {
    return status;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap = std::move(picture.pixmap);
  if (!picture.upright && reading.orientation >= 2 && reading.orientation <= 8) {
    pixmap = XpPixmapOps::Upright(*pixmap, reading.orientation);
    if (!pixmap) {
      return XpStatus::OutOfMemory;
    }
  }
  out->pixmap = std::move(pixmap);
  out->tree = reading.tree;
  return XpStatus::Ok;
}

// What the file of a picture of another format holds itself (its previews,
// pixels and orientation): read once for all the thumbnail's sources. A
// JPEG still needs none of it.
XpPhotoMetadata::Reading OwnReading(const std::string& path) {
  XpPhotoMetadata::Reading reading;
  if (!IsJpegStill(path)) {
    (void)XpPhotoMetadata::ReadFileOnly(path, &reading);
  }
  return reading;
}

// True when the picture's format has a pixel decoder: its own pixels then
// make a better thumbnail than a preview smaller than the thumbnail box.
bool HasPixelDecoder(const XpPhotoMetadata::Reading& reading) { return XpFormatDecode::CanDecode(reading.format); }

bool CoversTheBox(const XpPixmapOps::Size& size) {
  return std::max(size.width, size.height) >= PictureRecord::kThumbBox;
}

bool Measure(XpAbstractFile& file, int extraOrientation, bool mustCover, std::int32_t* width, std::int32_t* height) {
  XpImageIoJpeg reader;
  XpPixmapOps::Size size;
  if (reader.ReadImageInfo(file, 0, &size, /*ignoreOrientation=*/false) != XpStatus::Ok ||
      (mustCover && !CoversTheBox(size))) {
    return false;
  }
  // The reader's size is upright by the JPEG's own orientation already.
  const int turn = reader.GetOrientation() == 0 ? extraOrientation : 0;
  if (turn >= 5 && turn <= 8) {
    size = {size.height, size.width};
  }
  return FitThumbnailSize(size.width, size.height, width, height);
}

}  // namespace

bool MeasureJpeg(const std::string& path, std::int32_t* width, std::int32_t* height) {
  if (IsJpegStill(path) || !IsOtherFormatPicture(path)) {
    XpFile file(path);
    if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
      return false;
    }
    return Measure(file, 0, /*mustCover=*/false, width, height);
  }
  // The order MakeThumbnail takes its sources in.
  const XpPhotoMetadata::Reading reading = OwnReading(path);
  if (HasPixelDecoder(reading)) {
    for (JpegSource& source : PreviewsOf(path, reading)) {
      if (Measure(*source.stream, source.orientation, /*mustCover=*/true, width, height)) {
        return true;
      }
    }
    OtherPicture picture;
    if (DecodeOtherFormat(path, reading, &picture) == XpStatus::Ok) {
      return FitThumbnailSize(picture.pixmap->Width(), picture.pixmap->Height(), width, height);
    }
  }
  for (JpegSource& source : PreviewsOf(path, reading)) {
    if (Measure(*source.stream, source.orientation, /*mustCover=*/false, width, height)) {
      return true;
    }
  }
  return false;
}

namespace {

// The size of the picture as decoded at full size: the decoder turns
// orientations 6 and 8 but leaves the mirrored 5 and 7 lying.
XpPixmapOps::Size DecodedSize(const XpImageIoJpeg& reader, XpPixmapOps::Size upright) {
  if (reader.GetOrientation() == 5 || reader.GetOrientation() == 7) {
    return {upright.height, upright.width};
  }
  return upright;
}

}  // namespace

bool ThumbnailSizeOf(const std::string& path, std::int32_t* width, std::int32_t* height) {
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return false;
  }
  XpImageIoJpeg reader;
  XpPixmapOps::Size upright;
  if (reader.ReadImageInfo(file, 0, &upright, /*ignoreOrientation=*/false) != XpStatus::Ok) {
    return false;
  }
  const XpPixmapOps::Size decoded = DecodedSize(reader, upright);
  return FitThumbnailSize(decoded.width, decoded.height, width, height);
}

namespace {

// Writes `bytes` to a file created at `path`, which must not exist yet: a file
// that has the name (a photo, a link, anything) is never opened, followed or
// replaced. A file this call created and could not fill is removed again.
bool WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return false;
  }
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return false;
  }
  bool ok =
      XpWriteFully(fd, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) == XpStatus::Ok;
  if (::close(fd) != 0) {
    ok = false;
  }
  if (!ok) {
    ::unlink(path.c_str());
  }
  return ok;
}

}  // namespace

namespace {

// The picture's pixels, upright and fitted into the thumbnail box, and its Exif tree.
struct Decoded {
  std::unique_ptr<XpPixmapBGR24> pixmap;
  TagTreePtr tree;
};

// Turns a decoded preview upright by the orientation left to apply.
std::unique_ptr<XpPixmapBGR24> Turned(std::unique_ptr<XpPixmapBGR24> pixmap, int orientation) {
  if (orientation < 2 || orientation > 8) {
    return pixmap;
  }
  return XpPixmapOps::Upright(*pixmap, orientation);
}

bool DecodeFitted(JpegSource& source, bool mustCover, Decoded* out) {
  XpAbstractFile& picture = *source.stream;
  XpImageIoJpeg reader;
  XpPixmapOps::Size upright;
  std::int32_t fitWidth = 0;
  std::int32_t fitHeight = 0;
  if (reader.ReadImageInfo(picture, 0, &upright, /*ignoreOrientation=*/false) != XpStatus::Ok ||
      (mustCover && !CoversTheBox(upright))) {
    return false;
  }
  const int extra = ExtraOrientation(reader, source);
  if (reader.GetOrientation() == 0 && extra >= 5 && extra <= 8) {
    upright = {upright.height, upright.width};
  }
  if (!FitThumbnailSize(upright.width, upright.height, &fitWidth, &fitHeight)) {
    return false;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap = reader.Read(picture, 0, ReductionFor(upright, fitWidth, fitHeight),
                                                      /*progress=*/nullptr, /*convertColour=*/true);
  if (!pixmap) {
    return false;
  }
  pixmap = Turned(std::move(pixmap), extra);
  if (!pixmap) {
    return false;
  }
  if (!FitThumbnailSize(pixmap->Width(), pixmap->Height(), &fitWidth, &fitHeight) ||
      XpPixmapOps::Resize(*pixmap, fitWidth, fitHeight) != XpStatus::Ok) {
    return false;
  }
  (void)reader.ReadTagTree(picture, &out->tree, 0);
  out->pixmap = std::move(pixmap);
  return true;
}

}  // namespace

PictureResult MakeThumbnail(const std::string& picturePath, const std::string& thumbnailPath, std::int32_t* width,
                            std::int32_t* height, bool listed, XpStatus* why) {
  XpStatus ignored = XpStatus::Ok;
  XpStatus& status = why != nullptr ? *why : ignored;
  status = XpStatus::Ok;
  Decoded decoded;
  const bool still = IsJpegStill(picturePath);
  // A picture this program decodes takes an embedded preview only when that
  // covers the thumbnail box, else its own pixels, and a smaller preview
  // only when those do not decode.
  const XpPhotoMetadata::Reading reading = OwnReading(picturePath);
  const bool decodable = !still && HasPixelDecoder(reading);
  if (decodable) {
    for (JpegSource& source : PreviewsOf(picturePath, reading)) {
      if (DecodeFitted(source, /*mustCover=*/true, &decoded)) {
        break;
      }
    }
  }
  if (!decoded.pixmap && decodable) {
    OtherPicture picture;
    status = DecodeOtherFormat(picturePath, reading, &picture);
    std::int32_t fitWidth = 0;
    std::int32_t fitHeight = 0;
    if (status == XpStatus::Ok &&
        (!FitThumbnailSize(picture.pixmap->Width(), picture.pixmap->Height(), &fitWidth, &fitHeight) ||
         XpPixmapOps::Resize(*picture.pixmap, fitWidth, fitHeight) != XpStatus::Ok)) {
      status = XpStatus::OutOfMemory;
    }
    if (status == XpStatus::Ok) {
      decoded.pixmap = std::move(picture.pixmap);
      decoded.tree = picture.tree;
    }
  }
  if (!decoded.pixmap) {
    for (JpegSource& source : JpegSourcesOf(picturePath, reading)) {
      if (DecodeFitted(source, /*mustCover=*/false, &decoded)) {
        status = XpStatus::Ok;
        break;
      }
    }
  }
  if (!decoded.pixmap && !still && !decodable) {
    status = XpStatus::PhotoFormatUnknown;
  }
  if (!decoded.pixmap) {
    if (status == XpStatus::Ok) {
      status = XpStatus::PictureDecodeFailed;
    }
    return PictureResult::NotJpegStill;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap = std::move(decoded.pixmap);
  const TagTreePtr tree = decoded.tree;
  *width = pixmap->Width();
  *height = pixmap->Height();
  // The thumbnail is made whole in memory and only then given its file, so a
  // picture that fails on the way leaves nothing on disk, and the file is
  // there only for the moment its bytes are written.
  XpImageIoJpeg writer(PictureRecord::kThumbQuality, kThumbnailWriterName);
  XpMemoryFile encoded;
  if (status = writer.Write(*pixmap, tree.get(), encoded); status != XpStatus::Ok) {
    return PictureResult::ThumbnailFailed;
  }
  if (listed) {
    const std::size_t slash = thumbnailPath.rfind(kMapPathSeparator);
    const std::string folder = slash == std::string::npos ? std::string(".") : thumbnailPath.substr(0, slash);
    if (!NoteNewThumbnail(folder, MapFileNameOf(thumbnailPath)) && ThumbnailRemovalUnderWay()) {
      return PictureResult::ThumbnailFailed;
    }
  }
  if (!WriteNewFile(thumbnailPath, encoded.Bytes())) {
    status = XpStatus::CreateFailed;
    return PictureResult::ThumbnailFailed;
  }
  return PictureResult::Success;
}
