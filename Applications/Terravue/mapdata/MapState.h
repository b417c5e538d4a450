#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureResult.h"
#include "xp/base/XpStatus.h"

class HandOffLauncher;
class OtherMakerQuestion;
class WriteProgress;

/// Name of a state's file inside its folder.
inline constexpr const char* kStateFileName = "data.tvd";
/// Name of a state's local page inside its folder.
inline constexpr const char* kPageFileName = "data.htm";
/// Name of the list, beside the state file, of pictures whose move is not in
/// their file yet (absent when there is none).
inline constexpr const char* kMovesFileName = "moves.txt";
/// Name of the list, beside the state file, of pictures whose position the
/// user keeps on the map only (absent when there is none).
inline constexpr const char* kMapOnlyFileName = "maponly.txt";

/// Where the local page points for its map script and its support server. Both
/// are deployment values given by the application.
struct MapPageAddresses {
  /// Address of the web-map script loader, without query; the page appends
  /// "?file=api&v=2&key=".
  std::string mapScriptUrl;
  /// Scheme, host and port of the support server, without a trailing "/".
  std::string serverUrl;
};

/// What the server request says about this program.
struct RequestContext {
  std::string clientVersion;  ///< for example "1, 1, 01, 08140"
  std::string languageCode;   ///< for example "ENU"
};

/// Why a moved picture's new position is not in its file after a save.
enum class WriteFailureReason {
  ReadOnly,         ///< the file or its folder is write-protected
  Missing,          ///< the file (or its folder) is not there
  ChangedOnDisk,    ///< another program changed the file since it was read
  ExifDamaged,      ///< the file's Exif data is damaged or can't be read
  DiskFull,         ///< not enough space on the disk
  Declined,         ///< the user chose not to change another maker's picture
  BadCoordinate,    ///< the new position is not a valid coordinate text
  TooManySegments,  ///< the JPEG stream has an absurd number of marker segments
  NotWritable,      ///< content this program cannot write a position for; unchanged
  PositionInPhoto,  ///< a removal from a photo whose own metadata keeps its position (never changed there)
  SidecarDamaged,   ///< the photo's XMP sidecar is not well-formed, or the written one did not check out
  Other,            ///< anything else; the status (and the system's text, when known) says more
};

/// The reason a rewrite status stands for.
[[nodiscard]] WriteFailureReason WriteFailureReasonOf(XpStatus status);

/// The system's text for a status that stands for one system error (too many
/// open files, out of memory, no device, ...), empty for any other status.
[[nodiscard]] std::string SystemTextOf(XpStatus status);

/// One moved picture whose new position could not be written into its file.
struct WriteFailure {
  std::string path;
  XpStatus status = XpStatus::Ok;  ///< the status behind it (0 when the user declined)
  WriteFailureReason reason = WriteFailureReason::Other;
  std::string systemText;  ///< for Other: the system's text when the status stands for a system error
  /// The file the failure is about when it is not the picture itself: a paired raw file, or the
  /// sidecar that could not be read or written (empty otherwise).
  std::string file;
};

/// The outcome of writing moved positions into the pictures.
struct WriteBackReport {
  /// Pictures whose positions are now in the file and in the thumbnail, in map
  /// order; these were handed to the browser.
  std::vector<std::string> written;
  /// Pictures whose file could not be rewritten (read-only, disk full, Exif
  /// block too large, changed on disk, not a valid coordinate, ...).
  std::vector<std::string> failed;
  /// Moved pictures whose file was not there (for example on a disk that is not
  /// mounted); only their thumbnails were brought in step.
  std::vector<std::string> missing;
  /// Pictures the user chose not to change at the other-maker question; only
  /// their thumbnails were brought in step.
  std::vector<std::string> declined;
  /// Every moved picture whose new position is not in its file, in map order,
  /// with its reason: the failed, missing and declined ones together. Their
  /// records stay modified, so they keep the new position and the next save
  /// tries again.
  std::vector<WriteFailure> problems;
  /// Moved pictures left untouched, file and thumbnail, because the user
  /// stopped the save before them; they stay modified for the next save.
  std::vector<std::string> stopped;
  /// Raw files (a picture's own or a JPEG's paired ones) whose position went
  /// into the file itself because the setting allows it for their kind
  /// (XpPhotoWrite::IsRawWrittenInFile), in map order: the user is warned
  /// that their maker's software may refuse them.
  std::vector<std::string> rawChangedInPlace;
  /// Pictures whose place names were written into an XMP sidecar beside them
  /// although their position is in their file (PNG, WebP, TIFF and the like
  /// keep no names there): the user is told where the names are.
  std::vector<std::string> namesInSidecars;
};

/// One map: its pictures, centre and zoom, and where it is saved. A state is a
/// value; copying copies every picture record.
class MapState {
 public:
  /// Status values.
  static constexpr std::int32_t kStatusNotRead = 1;
  static constexpr std::int32_t kStatusReading = -1;
  static constexpr std::int32_t kStatusRead = 2;

  /// A new, unnamed state under `rootFolder` with all defaults.
  explicit MapState(std::string rootFolder = std::string());

  /// A listed state: `stateFilePath` is root, "/", name, "/data.tvd"; nothing is read.
  [[nodiscard]] static MapState Listed(const std::string& name, const std::string& stateFilePath);

  /// Sets the name, recomputes the file paths and gives every picture the name as its state name.
  void Rename(const std::string& name);

  /// The state's folder: root, "/", name (the root itself for an unnamed state).
  [[nodiscard]] std::string Folder() const;

  /// Creates the state's folder; true only when it did not exist and was made.
  [[nodiscard]] bool MakeFolder() const;

  /// Writes "data.tvd" (the saved time becomes now when `stamp` is set), the
  /// list of pictures whose move is not in their file yet ("moves.txt") and
  /// the list of those kept on the map only ("maponly.txt"); a list with
  /// nothing in it is removed. Answers 0, or 1 when a file can't be written;
  /// an old file is then unchanged.
  [[nodiscard]] PictureResult Write(bool stamp);

  /// Reads "data.tvd", then marks the pictures that "moves.txt" lists as moved
  /// and those that "maponly.txt" lists as kept on the map only.
  /// Answers 0, 2 when the state file can't be opened, 3 for malformed text
  /// (the pictures read before the fault stay).
  [[nodiscard]] PictureResult Read();

  /// The "moves.txt" text of this state (CR LF line ends); empty when no
  /// picture is moved.
  [[nodiscard]] std::string MovesText() const;

  /// Marks the pictures that a "moves.txt" text lists as moved, with their
  /// file stamps. Lines that don't scan, or whose index and path don't name a
  /// picture of this state, are passed over.
  void ApplyMovesText(std::string_view text);

  /// The "maponly.txt" text of this state (CR LF line ends); empty when no
  /// picture is kept on the map only.
  [[nodiscard]] std::string MapOnlyText() const;

  /// Marks the pictures that a "maponly.txt" text lists as kept on the map
  /// only. Lines that don't scan, or whose index and path don't name a picture
  /// of this state, are passed over.
  void ApplyMapOnlyText(std::string_view text);

  /// Keeps the moves of the pictures at `paths` on the map only: they are no
  /// longer to be written, and their position stays the map's. Pictures that
  /// are not moved are passed over. Answers how many were marked.
  std::size_t KeepOnMapOnly(const std::vector<std::string>& paths);

  /// Reads a state from the bytes of a "data.tvd" text; Read() runs this on the
  /// file's contents. Pictures are measured and checked on disk as usual.
  [[nodiscard]] PictureResult ReadFromText(std::string_view text);

  /// The "data.tvd" text of this state as it is written (CR LF line ends).
  [[nodiscard]] std::string StateText() const;

  /// Copies the page's support files from `programFolder` and writes
  /// "data.htm". Answers 0, or 1 when the page can't be written.
  [[nodiscard]] PictureResult WritePage(const std::string& programFolder, const MapPageAddresses& addresses) const;

  /// The URL-encoded POST body for the server script.
  [[nodiscard]] std::string BuildRequest(const RequestContext& context) const;

  /// Writes the positions of moved pictures into the pictures and their
  /// thumbnails, then hands the pictures written to the browser (when any and
  /// when `launcher` is not null). The report names written and failed pictures.
  /// `progress` (may be null) is told before each moved picture and may stop
  /// the writing there; the pictures not reached are named as stopped.
  WriteBackReport WritePositionsIntoPictures(OtherMakerQuestion* question, HandOffLauncher* launcher,
                                             WriteProgress* progress = nullptr);

  /// Moves the thumbnails of pictures without a state name into this state's folder.
  [[nodiscard]] bool TakeThumbnails();

  /// Copies the thumbnails of `other` (the same pictures in the same order) into
  /// this state's places without overwriting; `other` keeps its own, so the map
  /// it shows stays whole whatever happens to the copy. A thumbnail `other` does
  /// not have is passed over. False at the first copy that fails.
  [[nodiscard]] bool CopyThumbnailsFrom(const MapState& other) const;

  /// Applies what the page reports: the non-empty head values that differ, and,
  /// when the pair count equals the picture count, each picture's position. True
  /// when any picture is modified afterwards (false on a count mismatch).
  bool ApplyPageValues(const std::string& zoom, const std::string& latitude, const std::string& longitude,
                       const std::vector<std::pair<std::string, std::string>>& positions);

  /// True when any picture is modified or has place names waiting to be written.
  [[nodiscard]] bool AnyModified() const;

  /// Each picture of this map that `from` also shows (the same path) takes the place names kept
  /// for it there this session when `from`'s are the later (a map shown before this one, or
  /// the copy a save wrote from): every set and which of them its file holds. The names that
  /// waited there do not wait here; the page's undo and redo can still ask for any set.
  void TakeNameSets(const MapState& from);

  std::int64_t m_savedTime = 0;
  std::string m_name;
  std::string m_stateFilePath;
  std::string m_pagePath;
  std::string m_rootFolder;
  std::int32_t m_status = kStatusNotRead;
  std::string m_zoom;
  std::string m_latitude;
  std::string m_longitude;
  PictureList m_pictures;

 private:
  void UpdatePaths();
};
