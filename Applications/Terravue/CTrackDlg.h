#pragma once

#include <QDockWidget>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/PhotoExport.h"
#include "Applications/Terravue/mapdata/PlaceNaming.h"
#include "Applications/Terravue/mapdata/TimeZoneIndex.h"
#include "Applications/Terravue/mapdata/TrackLog.h"

class PictureRecord;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TrackPageAccess;

/// The track-log panel of the map window, docked at the window's side beside the map (never over
/// it; the main window places it and keeps its width). It holds the GPS track logs loaded
/// for the current map, has the page draw them, and shows at once where each
/// photo of the map would go with the camera's zone and clock offset given
/// here. "Apply" moves the placed photos on the page as drags would; nothing
/// is written until the map is saved, by the normal save path. A saved map
/// keeps its tracks in its folder, and they come back when it is opened.
class CTrackDlg : public QDockWidget {
  Q_OBJECT

 public:
  /// A hidden panel working on the map `page` gives, over `parent` (which
  /// owns it; `page` must outlive it).
  CTrackDlg(TrackPageAccess* page, QWidget* parent);

  /// True for a path whose extension names a track log (".gpx", ".nmea").
  [[nodiscard]] static bool IsTrackPath(const QString& path);
  /// Removes the track logs from `paths` and answers them.
  [[nodiscard]] static QStringList TakeTrackPaths(QStringList& paths);

  /// Reads the time-zone map and the table of each country's zones from these files instead of
  /// the program's own (zones.tvz beside the page files) and the system's tzdata zone1970.tab.
  /// Either may be missing: without the map the camera's zone is this computer's, without the
  /// table the override list stays empty.
  void UseZoneFiles(const QString& mapPath, const QString& tablePath);

  /// Asks for track files with a file dialog and loads them.
  void ChooseTracks();
  /// Loads the track log at `path`, draws it, fits the map to the tracks and
  /// shows the panel. A file that does not load changes nothing and is
  /// reported in a message box (and in `*error` when given). False then.
  bool AddTrack(const QString& path, QString* error = nullptr);
  /// Adds the photos that have a time as one more track, in time order (AddPhotosAsTrack), draws
  /// it with the others, fits the map to the tracks and shows the panel. A track that does not
  /// load changes nothing; false then, with the reason in `*error`.
  bool AddPhotos(const std::vector<ExportPhoto>& photos, QString* error);
  /// Forgets every track and the preview.
  void ClearTracks();
  /// Copies the tracks into the folder of the saved state whose data file is
  /// `stateFilePath`, lists them there, and from then on uses the copies.
  void KeepWithState(const std::string& stateFilePath);

  [[nodiscard]] const TrackLog& Log() const { return m_log; }
  [[nodiscard]] const QStringList& TrackPaths() const { return m_paths; }
  [[nodiscard]] int PlacedCount() const { return m_placed; }
  [[nodiscard]] int UnmatchedCount() const { return m_unmatched; }

  QLineEdit* ZoneEdit() const { return m_zone; }
  QLineEdit* OffsetEdit() const { return m_offset; }
  QCheckBox* LeaveLocatedBox() const { return m_leaveLocated; }
  QPushButton* OffsetFromSelectedButton() const { return m_fromSelected; }
  QPushButton* ApplyButton() const { return m_apply; }
  QLabel* SummaryLabel() const { return m_summary; }
  /// When the track was recorded, on this computer's clock and on the camera's.
  QLabel* TrackSpanLabel() const { return m_trackSpan; }
  /// When the photos to place were taken, on the camera's clock, and whether that meets the track.
  QLabel* PhotoSpanLabel() const { return m_photoSpan; }
  /// "Camera clock: Asia/Tokyo +09:00 (from position)" for photos that record no zone.
  QLabel* ClockLabel() const { return m_clock; }
  /// Shown when the photos or the track meet more than one zone or offset.
  QLabel* CrossingLabel() const { return m_crossing; }
  /// "Zone from position", then the zones of the first photo's country.
  QComboBox* ZoneChoice() const { return m_zoneChoice; }

 signals:
  /// The page shows a new preview: `placed` photos would move, `unmatched`
  /// found no fix (or have no capture time).
  void previewShown(int placed, int unmatched);
  /// "Apply" moved `moved` photos on the page.
  void applied(int moved);
  /// The offset was set from the selected photo (the new offset in seconds).
  void offsetFound(qint64 seconds);

 public slots:
  /// Matches every photo of the map again and sends the preview to the page.
  void Recompute();
  /// Moves the previewed photos on the page and marks the map modified.
  void Apply();
  /// Sets the clock offset from the selected photo's place on the page.
  void SetOffsetFromSelected();
  /// A page has finished loading; `mapPage` when it is the server's map.
  void PageShown(bool mapPage);

 private:
  [[nodiscard]] std::optional<GeotagOptions> Options() const;
  [[nodiscard]] const PhotoTime* TimeOf(const PictureRecord& record);
  /// Sends the tracks to the page; false when no map page shows them now.
  bool Redraw(bool fit);
  void LoadStateTracks();
  /// The camera clock's reading (seconds, the wall time counted as if it were UTC) at the true
  /// time `utcSeconds`, with the zone and offset of `options`.
  [[nodiscard]] std::int64_t CameraClock(std::int64_t utcSeconds, const GeotagOptions& options) const;
  /// Reads the zone files once, when a track first needs them.
  void LoadZoneFiles();
  /// The zones and offsets along the track, from fixes spread over it ("zone +hh:mm" each).
  [[nodiscard]] const std::vector<std::string>& TrackZones();
  /// The camera-clock line, the override list and the crossing flag. `firstZone` is the zone the
  /// first photo's clock was read in ("" for none), `zones` every "zone +hh:mm" the photos met.
  void ShowClockZone(const std::string& firstZone, int firstOffset, const std::vector<std::string>& zones);
  /// The time spans of the track and of the photos to place. `cameraFirst`/`cameraLast` are the
  /// photos' clock readings and `utcFirst`/`utcLast` their true times; each pair empty without one.
  void ShowSpans(const GeotagOptions& options, std::optional<std::int64_t> cameraFirst,
                 std::optional<std::int64_t> cameraLast, std::optional<std::int64_t> utcFirst,
                 std::optional<std::int64_t> utcLast);

  /// A photo's capture time and zone as read from one version of its file.
  struct ReadTime {
    std::int64_t fileSize = -1;
    std::int64_t fileTimeNs = 0;
    std::optional<PhotoTime> time;
  };

  TrackPageAccess* m_page;
  TrackLog m_log;
  QStringList m_paths;
  std::map<std::string, ReadTime> m_times;  ///< path -> its time, read once per file version
  std::string m_shownState;                 ///< the state file whose tracks are loaded ("" for an unsaved map)
  bool m_fromState = false;                 ///< the tracks are those a saved map keeps
  bool m_fitPending = false;                ///< fit the map to the tracks when a map page shows
  int m_placed = 0;
  int m_unmatched = 0;
  std::vector<std::pair<std::string, GeotagFix>> m_preview;  ///< path -> fix of each photo the preview places
  QLineEdit* m_zone = nullptr;
  QLineEdit* m_offset = nullptr;
  QCheckBox* m_leaveLocated = nullptr;
  QPushButton* m_fromSelected = nullptr;
  QPushButton* m_apply = nullptr;
  QLabel* m_summary = nullptr;
  QLabel* m_trackSpan = nullptr;
  QLabel* m_clock = nullptr;
  QLabel* m_crossing = nullptr;
  QComboBox* m_zoneChoice = nullptr;
  QString m_zoneMapPath;
  QString m_zoneTablePath;
  bool m_zoneFilesRead = false;
  TimeZoneIndex m_zoneMap;
  bool m_zoneMapLoaded = false;
  ZoneCountries m_countries;
  std::string m_overrideZone;             ///< the zone chosen for the camera's clock ("" from position)
  std::vector<std::string> m_trackZones;  ///< TrackZones() of the track with m_trackZonesOf fixes
  std::size_t m_trackZonesOf = 0;
  QLabel* m_photoSpan = nullptr;
};
