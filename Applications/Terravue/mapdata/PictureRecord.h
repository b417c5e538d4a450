#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/PictureResult.h"
#include "xp/base/XpDateTime.h"
#include "xp/base/XpStatus.h"
#include "xp/image/XpLocationWrite.h"

class OtherMakerQuestion;
struct PicturePositionAndTime;

/// One picture on the map: where the file is, where its thumbnail is, its
/// position as coordinate texts, its capture time and the display size of its
/// thumbnail. A record is a plain value; copying copies every field.
class PictureRecord {
 public:
  /// Longer side of a thumbnail, in pixels.
  static constexpr int kThumbBox = 550;
  /// Display size of a record whose thumbnail was never measured.
  static constexpr int kDefaultWidth = 550;
  static constexpr int kDefaultHeight = 413;
  /// Display size of a record whose picture was missing when its thumbnail was due.
  static constexpr int kMissingWidth = 160;
  static constexpr int kMissingHeight = 120;
  /// JPEG quality of the thumbnails.
  static constexpr int kThumbQuality = 70;

  /// How WritePosition treats the picture itself.
  enum class WriteMode {
    Apply,          ///< write a moved position into the picture and its thumbnail
    ThumbnailOnly,  ///< only bring the thumbnail's GPS tags in step with the record
  };

  PictureRecord();
  PictureRecord(std::string path, std::string stateName, std::string cacheName);

  /// The thumbnail's path relative to the map-state root folder: the cache name,
  /// or state name, "/", cache name.
  [[nodiscard]] std::string ThumbnailRelativePath() const;
  /// The thumbnail's absolute path under `rootFolder`.
  [[nodiscard]] std::string ThumbnailPath(const std::string& rootFolder) const;
  /// True when ThumbnailPath(rootFolder) is a place the program may read,
  /// write, move or remove as this record's thumbnail: the cache name is a plain
  /// "cache_N.jpg", the state name one folder directly under the root, and
  /// what has that path now (if anything) is a regular file, not a link. A
  /// name read from a saved map is outside data; anything else could reach a
  /// file that is not on the map.
  [[nodiscard]] bool ThumbnailPathIsSafe(const std::string& rootFolder) const;

  /// Reads the GPS position and the capture time from the picture. Answers 8 for
  /// an empty path or a file that is not a readable JPEG still (a missing file
  /// included; the path is kept), 7 when a coordinate or the time could not be
  /// read (that part gets its placeholder or an empty time text), else 0. A
  /// picture without any GPS directory keeps the texts it had. A picture that
  /// is read gives the record its file stamp.
  [[nodiscard]] PictureResult ReadPositionAndTime();

  /// Writes the thumbnail (the picture fitted into the 550 box, JPEG quality 70,
  /// carrying the picture's Exif data) to ThumbnailPath(rootFolder) and stores
  /// its size. Answers 11 when the picture is missing (the cache name is then
  /// emptied and the size becomes 160 x 120), 8 when it is not a decodable JPEG
  /// still, 9 when the thumbnail can't be written, else 0.
  [[nodiscard]] PictureResult WriteThumbnail(const std::string& rootFolder);

  /// Measures the thumbnail (or, without one, the picture itself) and stores the
  /// fitted display size; a file that can't be decoded leaves 550 x 413.
  void MeasureThumbnail(const std::string& rootFolder);

  /// True when the record has no thumbnail or when both coordinates are real.
  [[nodiscard]] bool HasPosition() const;

  /// Takes each text that differs from the stored one and marks the record modified.
  void SetPosition(const std::string& latitude, const std::string& longitude);

  /// Formats the capture time for display (short date, blank, time without
  /// seconds), or an empty text for an invalid time.
  void UpdateTimeText();

  /// What happened to the picture file itself in WritePosition.
  enum class PictureWrite {
    NotAttempted,  ///< thumbnail-only mode, or nothing to write
    Written,       ///< the new position is in the picture
    Failed,        ///< rewriting the picture failed; the record stays modified
    Missing,       ///< the picture file does not exist
    Declined,      ///< the user chose not to change another maker's picture
  };

  /// Writes the record's position into its picture (apply mode, only when it was
  /// moved) and into its thumbnail. Both coordinate texts are checked first; a
  /// text that is not a valid coordinate is written nowhere. A picture that
  /// changed on disk since the record's file stamp was taken is not written
  /// either; its stamp is taken anew, so that a save the user repeats after
  /// being told writes it. `question` is asked before a picture with another
  /// maker's maker note is changed (apply mode only; null writes without
  /// asking). Answers 13 in apply mode with nothing to write, 11 when the
  /// thumbnail does not exist, else 0. `pictureWrite` (may be null) tells what
  /// happened to the picture file, `pictureStatus` (may be null) why it was not
  /// written: 0x860B for a bad coordinate, 0x860A for a changed picture, 0x8105
  /// for a missing one, 0 when declined, else the rewrite's status. Only a
  /// written picture clears the record's modified mark; otherwise the move is
  /// kept and the next save tries again. The thumbnail-only mode leaves the
  /// mark as it is. A JPEG's paired raw files are written with it; a file
  /// that already holds the position (for a removal: none) is passed over, so
  /// that a retry after a paired file's failure does not write the JPEG again.
  /// `failedFile` (may be null) names the file a failure is about: the paired
  /// raw file or the sidecar that failed, else the picture. `rawInPlace` (may
  /// be null) gets each raw file this write changed in the file itself under
  /// the setting that allows it (XpPhotoWrite::IsRawWrittenInFile).
  [[nodiscard]] PictureResult WritePosition(const std::string& rootFolder, WriteMode mode, OtherMakerQuestion* question,
                                            PictureWrite* pictureWrite = nullptr, XpStatus* pictureStatus = nullptr,
                                            std::string* failedFile = nullptr,
                                            std::vector<std::string>* rawInPlace = nullptr);

  /// Takes the picture file's size and modification time as the record's file
  /// stamp; a file that can't be examined leaves no stamp.
  void TakeFileStamp();
  /// Takes from `read` whether the photo's sidecar and its own metadata give
  /// different positions (m_disagreeingSidecar, m_fileLatitude, m_fileLongitude).
  void TakeDisagreement(const PicturePositionAndTime& read);
  /// True when the record has a file stamp and the picture file's size or
  /// modification time now differs from it (a missing file included).
  [[nodiscard]] bool ChangedOnDisk() const;
  /// True when a file stamp was taken.
  [[nodiscard]] bool HasFileStamp() const { return m_fileSize >= 0; }

  std::string m_path;
  std::string m_cacheName;
  std::string m_stateName;
  std::string m_timeText;
  XpDateTime m_captureTime;
  std::string m_latitude;
  std::string m_longitude;
  std::int32_t m_width = kDefaultWidth;
  std::int32_t m_height = kDefaultHeight;
  std::uint8_t m_selected = 0;
  std::uint8_t m_modified = 0;
  /// The position is the map's own: its move could not be written and the
  /// user chose to keep it on the map only. Reading the picture file again
  /// leaves the position as it is; a later write into the file clears it.
  std::uint8_t m_mapOnly = 0;
  /// Size in bytes and modification time in nanoseconds since 1970 of the
  /// picture file when it was last read or written; a size below 0 means none.
  std::int64_t m_fileSize = -1;
  std::int64_t m_fileTimeNs = 0;
  /// Where a track log placed the picture. While the position texts still
  /// name that place, a save writes the whole fix (position, altitude, UTC
  /// time stamp; the old fix's own tags go) as geotagging a file does; a
  /// position moved by hand afterwards writes the texts alone. Cleared once
  /// written; not kept in a saved map.
  std::optional<GeotagFix> m_trackFix;
  /// The place names chosen for the photo ("Name places"). Kept after they are written, so that
  /// a redo on the page can ask for them again; not kept in a saved map.
  std::optional<XpLocationWrite::Names> m_names;
  /// The names wait to be written by the next save; the page's undo and redo set and clear it.
  std::uint8_t m_namesPending = 0;
  /// Every set of names the photo has had this session: the first is what it held before it was
  /// first named, each later one a choice. The page's undo and redo ask for one of them by its
  /// number (m_namesWanted); a save writes it when it is not the one in the file (m_namesInFile),
  /// so that undoing names already saved puts the earlier ones back at the next save. Empty for a
  /// photo not named this session; not kept in a saved map.
  std::vector<XpLocationWrite::Names> m_nameVersions;
  std::uint32_t m_namesWanted = 0;
  std::uint32_t m_namesInFile = 0;
  /// Grows with every change of the three above (NoteNameSetsChanged), so that of two copies of
  /// a record the later knowledge of its file wins (MapState::TakeNameSets).
  std::uint64_t m_nameSetsStamp = 0;

  /// Makes version `version` of m_nameVersions the one the photo should hold: m_names takes it and
  /// it waits to be written unless the file holds it already. False (nothing changed) for a
  /// version that is not there.
  bool WantNames(std::uint32_t version);
  /// Gives m_nameSetsStamp a value larger than any given before in this process.
  void NoteNameSetsChanged();
  /// For a JPEG: the raw files beside it that form one picture with it
  /// (PairedOtherFormatFiles), found by FindRawJpegPairs when the list is
  /// loaded or refreshed; a move writes them too. Not kept in a saved map.
  std::vector<std::string> m_pairedFiles;
  /// For a photo whose sidecar gives another position than the photo's own
  /// metadata (the sidecar's is the one shown): that sidecar, and the
  /// photo's own position as coordinate texts. Empty when they agree or the
  /// photo has no sidecar; read with the position, not kept in a saved map.
  std::string m_disagreeingSidecar;
  std::string m_fileLatitude;
  std::string m_fileLongitude;
};

/// The number N of a thumbnail name "cache_N.jpg" (N of one to ten decimal
/// digits, no larger than the largest 32-bit number), or -1 for any other name.
[[nodiscard]] std::int32_t ThumbnailNumber(std::string_view cacheName);

/// The thumbnail name "cache_N.jpg" of number `number`.
[[nodiscard]] std::string ThumbnailName(std::int32_t number);

/// Fits a picture of `width` x `height` into the 550 x 550 box keeping its
/// aspect ratio (the shorter side truncated toward zero). False for an empty size.
[[nodiscard]] bool FitThumbnailSize(std::int64_t width, std::int64_t height, std::int32_t* fitWidth,
                                    std::int32_t* fitHeight);
