// Writing moved positions back into the pictures and their thumbnails.

#include <cctype>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/HandOffLauncher.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/OtherMakerQuestion.h"
#include "Applications/Terravue/mapdata/PictureRecord.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

constexpr std::uint16_t kTagMake = 271;
constexpr std::uint16_t kTagMakerNote = 37500;

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
  if (XpExifRewrite::ReadGPS(path, *gps) != XpStatus::Ok) {
    gps->Reset();
  }
  (void)TextToRationals(latitude, &gps->latitudeRef, &gps->latitude, /*latitude=*/true);
  (void)TextToRationals(longitude, &gps->longitudeRef, &gps->longitude, /*latitude=*/false);
}

}  // namespace

PictureResult PictureRecord::WritePosition(const std::string& rootFolder, WriteMode mode, OtherMakerQuestion* question,
                                           PictureWrite* pictureWrite) {
  PictureWrite outcome = PictureWrite::NotAttempted;
  if (pictureWrite != nullptr) {
    *pictureWrite = outcome;
  }
  // A position the user cleared ("forgotten") is written as removing the GPS
  // directory; one coordinate alone is never written.
  const bool forgotten = m_latitude == kNoLatitudeText && m_longitude == kNoLongitudeText;
  if (mode == WriteMode::Apply &&
      (m_modified == 0 || (!forgotten && (m_latitude == kNoLatitudeText || m_longitude == kNoLongitudeText)))) {
    return PictureResult::NothingToWrite;
  }
  const std::string thumbnail = ThumbnailPath(rootFolder);
  XpGPSRecord gps;

  if (mode == WriteMode::Apply) {
    if (!MapIsRegularFile(m_path)) {
      outcome = PictureWrite::Missing;
    } else {
      bool go = true;
      if (HasOtherMakersNote(m_path) && question != nullptr && question->ReadSetting() != 0) {
        go = question->Ask(MapFileNameOf(m_path));
      }
      if (!go) {
        outcome = PictureWrite::Declined;
      } else if (forgotten) {
        outcome = XpExifRewrite::RemoveGPS(m_path) == XpStatus::Ok ? PictureWrite::Written : PictureWrite::Failed;
      } else {
        PrepareRecord(m_path, m_latitude, m_longitude, &gps);
        outcome = XpExifRewrite::WriteGPS(m_path, gps, /*replaceWhole=*/true) == XpStatus::Ok ? PictureWrite::Written
                                                                                              : PictureWrite::Failed;
      }
    }
  }
  if (pictureWrite != nullptr) {
    *pictureWrite = outcome;
  }

  if (!MapIsRegularFile(thumbnail)) {
    if (outcome != PictureWrite::Failed) {
      m_modified = 0;
    }
    return PictureResult::Missing;
  }
  if (m_latitude != kNoLatitudeText) {
    PrepareRecord(thumbnail, m_latitude, m_longitude, &gps);
    (void)XpExifRewrite::WriteGPS(thumbnail, gps, /*replaceWhole=*/true);
  } else {
    (void)XpExifRewrite::RemoveGPS(thumbnail);
  }
  // A picture that could not be rewritten keeps its mark, so the next save tries again.
  if (outcome != PictureWrite::Failed) {
    m_modified = 0;
  }
  return PictureResult::Success;
}

WriteBackReport MapState::WritePositionsIntoPictures(OtherMakerQuestion* question, HandOffLauncher* launcher) {
  WriteBackReport report;
  for (PictureRecord& record : m_pictures.Records()) {
    PictureRecord::PictureWrite outcome = PictureRecord::PictureWrite::NotAttempted;
    const PictureResult result =
        record.WritePosition(m_rootFolder, PictureRecord::WriteMode::Apply, question, &outcome);
    switch (outcome) {
      case PictureRecord::PictureWrite::Written:
        if (result == PictureResult::Success) {
          report.written.push_back(record.m_path);
        }
        break;
      case PictureRecord::PictureWrite::Failed:
        report.failed.push_back(record.m_path);
        break;
      case PictureRecord::PictureWrite::Missing:
        report.missing.push_back(record.m_path);
        break;
      case PictureRecord::PictureWrite::Declined:
        report.declined.push_back(record.m_path);
        break;
      case PictureRecord::PictureWrite::NotAttempted:
        break;
    }
  }
  if (launcher != nullptr && !report.written.empty()) {
    launcher->HandOff(report.written);
  }
  return report;
}
