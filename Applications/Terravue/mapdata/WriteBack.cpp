// Writing moved positions back into the pictures and their thumbnails.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/HandOffLauncher.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/OtherMakerQuestion.h"
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/mapdata/PictureRecord.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpLocationWrite.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

// True when the picture carries a maker note from a camera whose make does not
// begin with the suite's maker name; such a file is only changed after asking.
bool HasOtherMakersNote(const std::string& path) {
  TagTreePtr tree;
  if (XpJpegExif::ReadTagTree(path, &tree) != XpStatus::Ok || !tree) {
    return false;
  }
  const XpTiffTagIFD* exif = tree->GetExifIFD();
  if (exif == nullptr || !exif->Has(kTagMakerNote)) {
    return false;
  }
  const XpTiffTagIFD* ifd0 = tree->GetIFD(0);
  const std::string make = ifd0 != nullptr ? ifd0->FindAscii(kTagMake) : std::string();
  static constexpr std::string_view kOwnMaker = "ARDO";
  if (make.size() < kOwnMaker.size()) {
    return true;
  }
  for (std::size_t i = 0; i < kOwnMaker.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(make[i])) != kOwnMaker[i]) {
      return true;
    }
  }
  return false;
}

// Fills `gps` from the file's GPS directory (left empty when it has none) and
// sets both coordinate pairs from the texts.
void PrepareRecord(const std::string& path, const std::string& latitude, const std::string& longitude,
                   XpGPSRecord* gps) {
  if (XpPhotoWrite::ReadGPS(path, *gps) != XpStatus::Ok) {
    gps->Reset();
  }
  (void)TextToRationals(latitude, &gps->latitudeRef, &gps->latitude, /*latitude=*/true);
  (void)TextToRationals(longitude, &gps->longitudeRef, &gps->longitude, /*latitude=*/false);
}

// True when both position texts name the place of `fix`: a coordinate text
// keeps a thousandth of a second of arc, about 3 cm.
bool TextsNameFix(const std::string& latitude, const std::string& longitude, const GeotagFix& fix) {
  constexpr double kTolerance = 1.0e-6;  // degrees, above a text's resolution, far below a hand move
  XpGPSRecord parsed;
  double lat = 0.0;
  double lng = 0.0;
  return fix.Placed() && TextToRationals(latitude, &parsed.latitudeRef, &parsed.latitude, /*latitude=*/true) &&
         TextToRationals(longitude, &parsed.longitudeRef, &parsed.longitude, /*latitude=*/false) &&
         RationalsToDegrees(parsed.latitudeRef, parsed.latitude, &lat) &&
         RationalsToDegrees(parsed.longitudeRef, parsed.longitude, &lng) &&
         std::fabs(lat - fix.latitude) <= kTolerance && std::fabs(lng - fix.longitude) <= kTolerance;
}

// Fills `gps` from the file's GPS directory (empty when it has none) and makes
// it the tags of the track fix, as geotagging the file writes them.
XpStatus PrepareTrackRecord(const std::string& path, const GeotagFix& fix, XpGPSRecord* gps) {
  if (XpPhotoWrite::ReadGPS(path, *gps) != XpStatus::Ok) {
    gps->Reset();
  }
  return FillGeotagRecord(fix, gps);
}

// True when the file already holds the position the texts name, within a
// text's resolution. A save that failed on a later file of a pair leaves the
// earlier ones written; the retry does not write them again. Only for a
// position set by hand: a track's fix also brings its altitude and time,
// which this does not compare, and a removal of a position that is gone
// leaves the file untouched by itself (a file whose GPS can't be read must
// still get the removal's refusal, never a silent success).
bool AlreadyHolds(const std::string& path, const std::string& latitude, const std::string& longitude) {
  XpGPSRecord current;
  const bool has = XpPhotoWrite::ReadGPS(path, current) == XpStatus::Ok;
  constexpr double kTolerance = 1.0e-6;  // degrees, as for a track's fix
  XpGPSRecord wanted;
  double lat = 0.0;
  double lng = 0.0;
  double nowLat = 0.0;
  double nowLng = 0.0;
  return has && TextToRationals(latitude, &wanted.latitudeRef, &wanted.latitude, /*latitude=*/true) &&
         TextToRationals(longitude, &wanted.longitudeRef, &wanted.longitude, /*latitude=*/false) &&
         RationalsToDegrees(wanted.latitudeRef, wanted.latitude, &lat) &&
         RationalsToDegrees(wanted.longitudeRef, wanted.longitude, &lng) &&
         RationalsToDegrees(current.latitudeRef, current.latitude, &nowLat) &&
         RationalsToDegrees(current.longitudeRef, current.longitude, &nowLng) &&
         std::fabs(lat - nowLat) <= kTolerance && std::fabs(lng - nowLng) <= kTolerance;
}

// Writes the place names chosen for the record where its photo keeps them (the file, or its XMP
// sidecars), journalled as a position write is, after checking that nobody changed the file since
// it was read. Ok when they are written (or were there already); the record then takes the file's
// new stamp and no longer waits. `*inSidecar` tells of names put beside a photo whose position is
// in its file.
XpStatus WriteChosenNames(PictureRecord& record, bool* inSidecar) {
  *inSidecar = false;
  if (!MapIsRegularFile(record.m_path)) {
    return XpStatus::FileNotFound;
  }
  if (record.ChangedOnDisk()) {
    record.TakeFileStamp();
    return XpStatus::ChangedOnDisk;
  }
  XpLocationWrite::Outcome outcome;
  XpPhotoWrite::Where where;
  const XpStatus status = PhotoJournal::RecordNamesWrite(
      record.m_path, [&] { return XpPhotoWrite::WriteNames(record.m_path, *record.m_names, {}, &outcome, &where); });
  if (status != XpStatus::Ok) {
    return status;
  }
  *inSidecar = where.notInFile == XpStatus::NamesInSidecar;
  record.m_namesPending = 0;
  record.m_namesInFile = record.m_namesWanted;
  record.NoteNameSetsChanged();
  record.TakeFileStamp();
  return XpStatus::Ok;
}

}  // namespace

PictureResult PictureRecord::WritePosition(const std::string& rootFolder, WriteMode mode, OtherMakerQuestion* question,
                                           PictureWrite* pictureWrite, XpStatus* pictureStatus, std::string* failedFile,
                                           std::vector<std::string>* rawInPlace) {
  PictureWrite outcome = PictureWrite::NotAttempted;
  XpStatus status = XpStatus::Ok;
  std::string failed;
  const auto tell = [&] {
    if (pictureWrite != nullptr) {
      *pictureWrite = outcome;
    }
    if (pictureStatus != nullptr) {
      *pictureStatus = status;
    }
    if (failedFile != nullptr) {
      *failedFile = failed;
    }
  };
  tell();
  // A position the user cleared ("forgotten") is written as removing the GPS
  // directory; one coordinate alone is never written.
  const bool forgotten = m_latitude == kNoLatitudeText && m_longitude == kNoLongitudeText;
  if (mode == WriteMode::Apply &&
      (m_modified == 0 || (!forgotten && (m_latitude == kNoLatitudeText || m_longitude == kNoLongitudeText)))) {
    return PictureResult::NothingToWrite;
  }
  // Texts that are not coordinates (the page is outside data) go into no file:
  // neither the picture nor its thumbnail.
  if (!forgotten && (m_latitude != kNoLatitudeText || mode == WriteMode::Apply)) {
    if (ValidateCoordinateText(m_latitude, /*latitude=*/true) != XpStatus::Ok ||
        ValidateCoordinateText(m_longitude, /*latitude=*/false) != XpStatus::Ok) {
      if (mode == WriteMode::Apply) {
        outcome = PictureWrite::Failed;
        status = XpStatus::BadCoordinate;
        tell();
      }
      return PictureResult::Success;
    }
  }
  const std::string thumbnail = ThumbnailPath(rootFolder);
  XpGPSRecord gps;
  // A track's fix counts only while the texts still name its place.
  if (m_trackFix && (forgotten || !TextsNameFix(m_latitude, m_longitude, *m_trackFix))) {
    m_trackFix.reset();
  }

  if (mode == WriteMode::Apply) {
    if (!MapIsRegularFile(m_path)) {
      outcome = PictureWrite::Missing;
      status = XpStatus::FileNotFound;
    } else if (ChangedOnDisk()) {
      // Another program changed the file since it was read: writing now could
      // throw its change away. The user is told; the file as it is now becomes
      // the one a retry writes.
      outcome = PictureWrite::Failed;
      status = XpStatus::ChangedOnDisk;
      TakeFileStamp();
    } else {
      bool go = true;
      if (HasOtherMakersNote(m_path) && question != nullptr && question->ReadSetting() != 0) {
        go = question->Ask(MapFileNameOf(m_path));
      }
      if (!go) {
        outcome = PictureWrite::Declined;
      } else {
        // Every write is journaled so that the old bytes can be put back; a removal, which is
        // done for privacy, also forgets the photo's older positions in the journal. A JPEG
        // paired with raw files (same folder and base name) carries their position too: each
        // raw file's goes where that kind's goes (its sidecar), in the same save.
        std::vector<std::string> files{m_path};
        if (IsJpegStill(m_path)) {
          for (std::string& raw : PairedOtherFormatFiles(m_path)) {
            files.push_back(std::move(raw));
          }
        }
        bool pictureWritten = false;
        for (const std::string& file : files) {
          XpGPSRecord record;
          XpPhotoWrite::Where where;
          if (!forgotten && !m_trackFix && AlreadyHolds(file, m_latitude, m_longitude)) {
            status = XpStatus::Ok;
          } else if (forgotten) {
            status = XpPhotoWrite::RemoveGPS(file, {}, &where);
            if (status == XpStatus::Ok) {
              static_cast<void>(PhotoJournal::Purge(file));
            }
          } else {
            if (m_trackFix) {
              status = PrepareTrackRecord(file, *m_trackFix, &record);
            } else {
              PrepareRecord(file, m_latitude, m_longitude, &record);
              status = XpStatus::Ok;
            }
            if (status == XpStatus::Ok) {
              XpExifRewrite::Hooks hooks;
              if (m_trackFix) {
                hooks.offsetTimeOriginal = ZoneToRecord(file, *m_trackFix);
              }
              status = PhotoJournal::RecordPositionWrite(
                  file, [&] { return XpPhotoWrite::WriteGPS(file, record, hooks, &where); });
            }
          }
          if (status != XpStatus::Ok) {
            // The file the user must look at: the paired file or sidecar that failed.
            failed = where.failed.empty() ? file : where.failed;
            break;
          }
          if (rawInPlace != nullptr && where.destination == XpPhotoWrite::Destination::InFile &&
              XpPhotoWrite::IsRawWrittenInFile(where.format)) {
            rawInPlace->push_back(file);
          }
          pictureWritten = pictureWritten || file == m_path;
        }
        if (status == XpStatus::Ok) {
          outcome = PictureWrite::Written;
        } else {
          outcome = PictureWrite::Failed;
        }
        if (pictureWritten) {
          // The picture now is what this program wrote: a retry after a
          // paired file's failure does not take it for someone else's change.
          TakeFileStamp();
          // A write to a sidecar can make it disagree with the photo's own position, or agree again.
          if (!IsJpegStill(m_path)) {
            TakeDisagreement(ReadPicturePositionAndTime(m_path));
          }
        }
      }
    }
  }
  tell();
  // Only a picture whose file got the position loses its mark; any other keeps
  // the move, so the next save tries again. The thumbnail-only mode leaves the
  // mark as it is.
  const bool done = outcome == PictureWrite::Written;

  // A thumbnail name that could reach a file off the map (a saved map is
  // outside data) is written to no more than a missing thumbnail is.
  if (!ThumbnailPathIsSafe(rootFolder) || !MapIsRegularFile(thumbnail)) {
    if (done) {
      m_modified = 0;
      m_mapOnly = 0;
      m_trackFix.reset();
    }
    return PictureResult::Missing;
  }
  if (m_trackFix && PrepareTrackRecord(thumbnail, *m_trackFix, &gps) == XpStatus::Ok) {
    (void)XpExifRewrite::WriteGPS(thumbnail, gps, /*replaceWhole=*/true);
  } else if (m_latitude != kNoLatitudeText) {
    PrepareRecord(thumbnail, m_latitude, m_longitude, &gps);
    (void)XpExifRewrite::WriteGPS(thumbnail, gps, /*replaceWhole=*/true);
  } else {
    (void)XpExifRewrite::RemoveGPS(thumbnail);
  }
  if (done) {
    m_modified = 0;
    m_mapOnly = 0;
    m_trackFix.reset();
  }
  return PictureResult::Success;
}

std::string SystemTextOf(XpStatus status) {
  // The statuses that stand for one system error each; their text is the system's.
  static constexpr std::pair<XpStatus, int> kErrors[] = {
      {XpStatus::TooManyOpenFiles, EMFILE}, {XpStatus::OutOfMemory, ENOMEM},     {XpStatus::NoDevice, ENODEV},
      {XpStatus::AlreadyExists, EEXIST},    {XpStatus::InvalidArgument, EINVAL}, {XpStatus::FolderNotEmpty, ENOTEMPTY},
  };
  for (const auto& [known, error] : kErrors) {
    if (known == status) {
      return std::strerror(error);
    }
  }
  return std::string();
}

WriteFailureReason WriteFailureReasonOf(XpStatus status) {
  switch (status) {
    case XpStatus::PictureReadOnly:
    case XpStatus::AccessDenied:
      return WriteFailureReason::ReadOnly;
    case XpStatus::FileNotFound:
    case XpStatus::PathNotFound:
      return WriteFailureReason::Missing;
    case XpStatus::ChangedOnDisk:
      return WriteFailureReason::ChangedOnDisk;
    case XpStatus::ExifDamaged:
    case XpStatus::NoExif:
    case XpStatus::JpegDecodeFailed:
      return WriteFailureReason::ExifDamaged;
    case XpStatus::DiskFull:
      return WriteFailureReason::DiskFull;
    case XpStatus::BadCoordinate:
      return WriteFailureReason::BadCoordinate;
    case XpStatus::TooManySegments:
      return WriteFailureReason::TooManySegments;
    case XpStatus::PhotoFormatUnknown:
      return WriteFailureReason::NotWritable;
    case XpStatus::PositionStaysInPhoto:
      return WriteFailureReason::PositionInPhoto;
    case XpStatus::XmpInvalid:
    case XpStatus::SidecarCheckFailed:
      return WriteFailureReason::SidecarDamaged;
    default:
      return WriteFailureReason::Other;
  }
}

WriteBackReport MapState::WritePositionsIntoPictures(OtherMakerQuestion* question, HandOffLauncher* launcher,
                                                     WriteProgress* progress) {
  WriteBackReport report;
  const auto waiting = [](const PictureRecord& record) {
    return record.m_modified != 0 || (record.m_namesPending != 0 && record.m_names);
  };
  const std::size_t total =
      static_cast<std::size_t>(std::count_if(m_pictures.Records().begin(), m_pictures.Records().end(), waiting));
  std::size_t done = 0;
  bool going = true;
  for (PictureRecord& record : m_pictures.Records()) {
    if (waiting(record)) {
      // Asked only between pictures: a picture is written whole or not at all.
      going = going && (progress == nullptr || progress->Continue(done, total));
      ++done;
      if (!going) {
        report.stopped.push_back(record.m_path);
        continue;
      }
    }
    PictureRecord::PictureWrite outcome = PictureRecord::PictureWrite::NotAttempted;
    XpStatus status = XpStatus::Ok;
    std::string failedFile;
    const PictureResult result = record.WritePosition(m_rootFolder, PictureRecord::WriteMode::Apply, question, &outcome,
                                                      &status, &failedFile, &report.rawChangedInPlace);
    WriteFailure failure{record.m_path, status, WriteFailureReasonOf(status), std::string(),
                         failedFile == record.m_path ? std::string() : failedFile};
    switch (outcome) {
      case PictureRecord::PictureWrite::Written:
        if (result == PictureResult::Success) {
          report.written.push_back(record.m_path);
        }
        break;
      case PictureRecord::PictureWrite::Failed:
        report.failed.push_back(record.m_path);
        if (failure.reason == WriteFailureReason::Other) {
          failure.systemText = SystemTextOf(status);
        }
        report.problems.push_back(std::move(failure));
        break;
      case PictureRecord::PictureWrite::Missing:
        report.missing.push_back(record.m_path);
        failure.reason = WriteFailureReason::Missing;
        report.problems.push_back(std::move(failure));
        break;
      case PictureRecord::PictureWrite::Declined:
        report.declined.push_back(record.m_path);
        failure.reason = WriteFailureReason::Declined;
        report.problems.push_back(std::move(failure));
        break;
      case PictureRecord::PictureWrite::NotAttempted:
        break;
    }
    // The names follow the position they were chosen for: not written while its move failed.
    if (record.m_namesPending == 0 || !record.m_names || record.m_modified != 0) {
      continue;
    }
    bool inSidecar = false;
    const XpStatus named = WriteChosenNames(record, &inSidecar);
    const bool listed = std::find(report.written.begin(), report.written.end(), record.m_path) != report.written.end();
    if (named == XpStatus::Ok) {
      if (inSidecar) {
        report.namesInSidecars.push_back(record.m_path);
      }
      if (!listed) {
        report.written.push_back(record.m_path);
      }
      continue;
    }
    if (listed) {
      report.written.erase(std::find(report.written.begin(), report.written.end(), record.m_path));
    }
    WriteFailure namesFailure{record.m_path, named, WriteFailureReasonOf(named), std::string(), std::string()};
    if (named == XpStatus::FileNotFound) {
      report.missing.push_back(record.m_path);
      namesFailure.reason = WriteFailureReason::Missing;
    } else {
      report.failed.push_back(record.m_path);
      if (namesFailure.reason == WriteFailureReason::Other) {
        namesFailure.systemText = SystemTextOf(named);
      }
    }
    report.problems.push_back(std::move(namesFailure));
  }
  if (going && progress != nullptr) {
    static_cast<void>(progress->Continue(done, total));
  }
  if (launcher != nullptr && !report.written.empty()) {
    launcher->HandOff(report.written);
  }
  return report;
}
