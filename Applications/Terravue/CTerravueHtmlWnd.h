#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEngineView>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Applications/Terravue/TrackPageAccess.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PageEdits.h"
#include "Applications/Terravue/mapdata/PictureLoadPool.h"
#include "Applications/Terravue/mapdata/StateChecks.h"
#include "Applications/Terravue/mapdata/UnreadablePictures.h"

class CCustomButton;
class CProgressDlg;
class CTrackDlg;
class MapWindowHost;
class QWebEngineLoadingInfo;
struct AppGlobals;
struct PageField;
struct WriteBackReport;

/// Which page the map window shows.
enum class PageKind { PageOther = 0, PageServer = 1, PageMap = 2, PageWait = 3, PageHelp = 4 };

/// What decides whether a dropped file may go on the map.
struct DropRules {
  QString workFolder;                                     ///< files anywhere below it are refused (no trailing "/")
  QString programFolder;                                  ///< files directly in it are refused (no trailing "/")
  std::function<bool(const QString&)> isOnMap;            ///< already on the current map
  std::function<std::uint32_t(const QString&)> fileType;  ///< the classifier's code
};

/// The map window: the embedded browser that fills the main window. It owns
/// the current map, loads pictures into it on a worker thread while a progress
/// dialog runs, and sends the map as a form POST to the server script, whose
/// answer is the interactive map. It shows the program folder's start page
/// "map.html" when there is nothing to show, reports navigation failures,
/// carries the menu button in its lower right corner, takes dropped photos and
/// reads the user's edits back from the page.
class CTerravueHtmlWnd : public QWebEngineView, private TrackPageAccess {
  Q_OBJECT

 public:
  /// Codes of the custom-navigate request.
  static constexpr int kNavigateQuery = 0;
  static constexpr int kNavigateStartPage = 2;
  /// Identifier of the menu button.
  static constexpr int kMenuButtonId = 2;
  /// The menu button's distance from the right edge on the start page and
  /// elsewhere, and from the bottom edge.
  static constexpr int kButtonRightOnStartPage = 68;
  static constexpr int kButtonRightElsewhere = 53;
  static constexpr int kButtonBottom = 38;
  /// How long reading the page may take before it counts as failed.
  static constexpr int kPageReadTimeoutMs = 10000;
  /// How long a put-back that found the map busy waits before it tries again.
  static constexpr int kPutBackRetryMs = 200;
  /// The plain message shown when the page's fields can't be read.
  static constexpr const char* kPageReadFailed = "Failed GetHtmlDocument()";

  /// `parent` is the main window (it may be null in tests).
  explicit CTerravueHtmlWnd(QWidget* parent);
  /// The window that answers what the map window asks of its holder (null:
  /// nobody; `host` must outlive this window).
  void SetHost(MapWindowHost* host) { m_host = host; }
  /// Stops a running load at its next picture and waits for it, then deletes
  /// the thumbnails that no saved state holds.
  ~CTerravueHtmlWnd() override;

  /// Adds `paths` (none: nothing; relative ones are taken from the current
  /// folder) to the current map on the worker thread and then sends the map.
  /// Ignored while a load runs.
  void ShowPictures(const QStringList* paths);
  /// Opens the saved map state at `path` (made absolute first) and sends it.
  /// False when it could not be opened: the path names no folder (the state's
  /// name is its folder's) or the file can't be read as a state; the map is
  /// then unchanged, the start page is asked for (unless `startPageOnFailure`
  /// is false: the map shown stays) and OpenFailureText() tells why.
  [[nodiscard]] bool OpenStateFile(const QString& path, bool startPageOnFailure = true);
  /// Why the last OpenStateFile failed, as the user is told.
  [[nodiscard]] QString OpenFailureText() const;
  /// Makes `state` the current map and sends it. Ignored while a load runs; a
  /// state that can't be read shows message 118 and changes nothing. True
  /// when `state` became the current map.
  bool ApplyState(MapState state);
  /// Replaces the current map by an empty, unnamed one (thumbnails no saved
  /// state holds are deleted). Ignored while a load runs.
  void ClearMap();
  /// Shows the start page, after the events already queued.
  void RequestStartPage();
  /// Which page is shown; PageOther until the first navigation was asked for
  /// and while a failed load's error page shows.
  [[nodiscard]] PageKind GetPageKind() const;
  /// Reads the page's hidden fields (the picture fields only `withPictures`)
  /// and applies them to the current map; waits for the page's answer. True
  /// when a picture of the map is modified afterwards. While a load runs, or
  /// while the page is being replaced by a map just sent, the page no longer
  /// shows the current map: it is not read and the answer is false.
  bool ReadPageEdits(bool withPictures);
  /// Undoes the map page's last gesture, or with `redo` redoes the last one
  /// undone, as Ctrl+Z and Ctrl+Shift+Z do on the page. The page's fields
  /// follow, so the next read of the page takes the positions. Answers the
  /// number of pictures put back; 0 when there was nothing to undo or no map
  /// page shows.
  int UndoOnPage(bool redo);
  /// Keeps the page's undo and redo steps for the next map page shown, which
  /// shows the same map anew (a save as a new state sends it again): its
  /// steps are those of this page.
  /// Reads the page's edits into the map (ReadPageEdits with the pictures) and
  /// marks the map changed when they changed it. Answers whether the map now
  /// holds changes that are not saved.
  [[nodiscard]] bool TakePageEdits();
  void CarryUndoSteps();
  /// Puts the pictures at `paths` that the page took off this map back where they were, as an
  /// undo on the page asks, and shows the map anew with its undo steps. While a load, a save or
  /// a page on its way keeps the map busy this is done a moment later.
  void PutBackPictures(const QStringList& paths);
  /// Lets go of the pictures taken off the map (a map other than this one is shown next): their
  /// removal can no longer be undone, and their thumbnails that no saved map holds are deleted.
  void ForgetRemovedPictures();
  /// "Name places": proposes place names for the selected photos of the map page in a dialog;
  /// the names chosen wait, as moves do, for the next save, in one step of the page's undo.
  /// Nothing happens while no map page shows, or while a load or a save runs.
  void NamePlaces();
  /// Clears the keep-running flag and waits for a running load to end.
  void StopLoad();

  /// The kinds of file the photos are exported as.
  enum class ExportFormat { Gpx, GpxTrack, Kml, Kmz, GeoJson };
  /// Writes the photos selected on the map page (all photos of the map when
  /// none is selected) that have a position into `path` as `format`, with
  /// the positions the map shows now; the file is replaced whole. False when
  /// nothing was written (no photo has a position, or the write failed): the
  /// file at `path` is then as it was, no partial file is left, and
  /// `*problem` says why in the user's words.
  bool ExportPhotos(const QString& path, ExportFormat format, QString* problem);
  /// Asks for the file in a save dialog, whose file types choose the format,
  /// and exports into it; a failure is shown in a message box.
  void ChooseExport();
  /// "Use these photos as a track": the photos selected on the map page (all photos of the map
  /// when none is selected) that have a position and a capture time become one more track of the
  /// track panel, in time order and at the positions the map shows now, so that the other photos
  /// are placed by their times as with a track log. The track is exactly the one a GPX export of
  /// the same photos with its track gives when loaded. False, with `*problem` in the user's
  /// words, when none of the photos has a position and a time, or while a load or a save runs.
  bool UsePhotosAsTrack(QString* problem);
  /// UsePhotosAsTrack with its problem shown in a message box.
  void ChoosePhotosAsTrack();

  /// The number of pictures whose new position the next save writes: those
  /// the current map holds as moved. Only while no load runs.
  [[nodiscard]] int PendingCount() const;
  /// Takes what a save wrote and what it could not: a written picture loses
  /// its last failure, a failed one keeps the reason for its mark; then the
  /// marks on the page are brought in step.
  void NoteWriteBack(const WriteBackReport& report);
  /// Has the page mark every picture whose move is not in its file yet, with
  /// the last failure's reason, and count them beside the map. The page's own
  /// moves are held by the map by then (read it first). Nothing happens while
  /// no map page shows, or while one is being sent; each map page shown gets
  /// its marks when it has loaded.
  void ShowPendingMarks();

  /// True while a picture load runs (also while only its thumbnails are still
  /// being made).
  [[nodiscard]] bool IsLoading() const { return m_loading; }
  /// True while a save writes into the photos; nothing may change the map then.
  [[nodiscard]] bool IsSaving() const { return m_saving; }
  void SetSaving(bool saving) { m_saving = saving; }
  /// True while the pictures of a load are on the map and only their
  /// thumbnails are still being made: the page takes moves, saves wait.
  [[nodiscard]] bool MakingThumbnails() const { return m_makingThumbnails; }
  /// Stops making thumbnails (those under way are finished) and ends the load
  /// now; the pictures stay, those without a thumbnail show a placeholder.
  void StopMakingThumbnails();
  /// True from a navigation the program starts (a map sent, the start page)
  /// until the browser has finished it, and while a map request waits to be
  /// sent: the page shown then is about to be replaced.
  [[nodiscard]] bool IsSending() const { return m_sending || m_queryWaiting; }
  /// The current map. Only while no load runs.
  [[nodiscard]] const MapState& CurrentMap() const { return m_currentMap; }
  [[nodiscard]] MapState& CurrentMap() { return m_currentMap; }
  [[nodiscard]] bool IsModified() const { return m_modified; }
  void SetModified(bool modified) { m_modified = modified; }
  [[nodiscard]] CCustomButton* MenuButton() const { return m_menuButton; }
  /// The track-log panel of this map (hidden until a track is loaded).
  [[nodiscard]] CTrackDlg* Tracks() const;

  /// The program folder (where "map.html" is), without a trailing "/".
  [[nodiscard]] static QString ProgramFolder();
  /// Where the local pages point for their map script and the server.
  [[nodiscard]] static MapPageAddresses PageAddresses();

  /// Classifies a browser location against the known addresses. File URLs
  /// compare by their local paths, exactly as the file system does; other
  /// URLs after decoding and without a fragment. The stored addresses are
  /// never changed.
  [[nodiscard]] static PageKind ClassifyLocation(const QUrl& location, const AppGlobals& globals);
  /// The dropped paths that may go on the map, in drop order: existing regular
  /// files classified as ordinary JPEG stills, not on the map yet, not below
  /// the work folder and not directly in the program folder; a dropped folder
  /// gives such photos anywhere below it (SortDrops).
  [[nodiscard]] static QStringList AcceptedDrops(const QStringList& paths, const DropRules& rules);
  /// The (name, value) pairs of a page read's answer; nothing when the answer
  /// is not a list.
  [[nodiscard]] static std::optional<std::vector<PageField>> FieldsFromScript(const QVariant& answer);

 signals:
  /// A map was posted to the server script.
  void querySent();
  /// The start page was asked for and its navigation has begun.
  void startPageRequested();
  /// A picture load has ended.
  void picturesLoaded();
  /// A navigation failed with `code`; the failure is about to be shown in words.
  void navigationFailed(int code);
  /// A navigation of the main frame has completed (the menu button is placed).
  void pageShown(PageKind kind);
  /// The page has marked `count` pictures as not yet written.
  void pendingMarksShown(int count);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  /// What the worker needs from the settings and the process-wide values,
  /// read on the user-interface thread before it starts.
  struct LoadSettings {
    std::string zoom;  ///< map position used when no picture has one
    std::string latitude;
    std::string longitude;
    std::string programFolder;
    MapPageAddresses addresses;
    RequestContext context;
  };

  void StartLoad(std::vector<std::string> paths, bool hasList);
  void Reload(const std::vector<std::string>& paths);
  void LoadWorker(std::vector<std::string> paths, bool hasList, CProgressDlg* progress, LoadSettings settings);
  void OnLoadEnded(bool clearModified);
  // The thumbnails of a load are made, or their making stopped: the outcomes go into the map.
  void OnThumbnailsMade(const std::vector<ThumbnailJob>& jobs, const std::vector<ThumbnailOutcome>& outcomes,
                        bool stopped);
  void QueueRequestAndNavigate();
  void CustomNavigate(int code);
  void OfferLocationNotices();
  void OnLoadingChanged(const QWebEngineLoadingInfo& info);
  void OnLoadFinished(bool ok);
  void OnButtonMessage(int buttonId, int state);
  void PlaceMenuButton(PageKind kind);
  void ShowMessage102();
  void ReportUnreadable(const std::vector<UnreadablePicture>& pictures);
  void JoinWorker();
  // Runs `script` in the page's own world and waits for its answer; nothing
  // when no answer came in time.
  std::optional<QVariant> RunPageScriptAndWait(const QString& script);
  // The paths of the photos selected on the map page (none when no map page shows), then the
  // page's edits taken into the map, so that the map holds the positions the page shows.
  std::vector<std::string> TakeSelectionAndEdits();

  // What the track panel reaches of this map.
  [[nodiscard]] bool MapPageShown() const override;
  [[nodiscard]] bool PicturesLoading() const override { return m_loading; }
  [[nodiscard]] const PictureList& Pictures() const override { return m_currentMap.m_pictures; }
  [[nodiscard]] std::string ShownStateFile() const override { return m_currentMap.m_stateFilePath; }
  void RunPageScript(const QString& script, std::function<void(const QVariant&)> done) override;
  void MarkMapModified() override { m_modified = true; }
  void NoteTrackPlaced(const std::vector<std::pair<std::string, GeotagFix>>& placed) override;
  [[nodiscard]] QWidget* BoxParent() override { return this; }

  MapWindowHost* m_host = nullptr;
  MapState m_currentMap;
  bool m_modified = false;
  bool m_loading = false;  ///< a load runs; user-interface thread only
  bool m_saving = false;   ///< a save writes into the photos; user-interface thread only
  std::mutex m_mapLock;    ///< guards m_currentMap, m_queryQueue and m_rebuild against LoadWorker
  std::deque<std::string> m_queryQueue;
  CCustomButton* m_menuButton = nullptr;
  /// Docked in the main window, which outlives this view; the panel goes with the page it works on.
  QPointer<CTrackDlg> m_tracks;
  std::atomic<bool> m_keepRunning{true};
  std::atomic<bool> m_thumbnailsGoing{true};  ///< cleared to stop making the thumbnails of a load
  bool m_makingThumbnails = false;            ///< user-interface thread only
  bool m_created = false;
  bool m_ready = false;
  bool m_rebuild = false;
  bool m_errorPage = false;                                 ///< the last main-frame load failed
  bool m_readingPage = false;                               ///< a page read waits for its answer
  bool m_sending = false;                                   ///< a navigation asked for by the program has not finished
  bool m_queryWaiting = false;                              ///< a map request is queued and not sent yet
  StateOpenProblem m_openFailure = StateOpenProblem::None;  ///< of the last OpenStateFile
  QString m_openFailurePath;
  std::set<std::string> m_reportedUnreadable;      ///< pictures already told about as unreadable
  std::map<std::string, QString> m_writeFailures;  ///< path -> why its last save did not write it
  std::set<int> m_noticesShown;                    ///< notices shown in this session, each told once
  QString m_carriedUndo;                           ///< undo steps for the next map page shown
  /// Pictures the page took off this map, held for an undo that puts them back, in removal order.
  std::vector<RemovedPicture> m_removedPictures;
  std::thread m_worker;
};
