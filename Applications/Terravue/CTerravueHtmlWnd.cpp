#include "Applications/Terravue/CTerravueHtmlWnd.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QMimeData>
#include <QResizeEvent>
#include <QTimer>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <algorithm>
#include <array>
#include <memory>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppMessageBox.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CCustomButton.h"
#include "Applications/Terravue/CInfoNoticeDlg.h"
#include "Applications/Terravue/CProgressDlg.h"
#include "Applications/Terravue/CTrackDlg.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/DropSorting.h"
#include "Applications/Terravue/MapWindowHost.h"
#include "Applications/Terravue/StartupServices.h"
#include "Applications/Terravue/ThumbnailSchemeHandler.h"
#include "Applications/Terravue/UserMessages.h"
#include "Applications/Terravue/WebProfile.h"
#include "Applications/Terravue/WriteBackMessage.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/mapdata/PageEdits.h"
#include "Applications/Terravue/mapdata/PhotoExport.h"
#include "Applications/Terravue/mapdata/PictureLoadPool.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "xp/formats/XpPhotoMetadata.h"

namespace {

// Chromium's code for a navigation that was replaced by a newer one; it is no failure.
constexpr int kNavigationAborted = -3;

// Most files one drop hands over; the count is 16-bit.
constexpr qsizetype kMaxDroppedFiles = 0xFFFF;

// Every INPUT element of the document in document order, as (name, value).
// Run in the program's own script world, so the page's scripts can't change
// what the program reads; the elements and their values are the page's.
constexpr const char* kReadFieldsScript =
    "(function () {"
    "  var out = [];"
    "  var inputs = document.getElementsByTagName('input');"
    "  for (var i = 0; i < inputs.length; ++i) {"
    "    out.push([String(inputs[i].name), String(inputs[i].value)]);"
    "  }"
    "  return out;"
    "})()";

RequestContext MakeRequestContext() {
  const AppGlobals& globals = AppGlobals::Get();
  return RequestContext{globals.clientVersion, globals.languageCode};
}

// The browser page of the map window: reports the page's script errors, and
// opens links the user follows to other sites in the system's browser, so the
// map with its unsaved edits stays where it is.
class MapWebPage : public QWebEnginePage {
 public:
  using QWebEnginePage::QWebEnginePage;
  /// Run, after the page's script has gone on, when the page's photo menu asks for place names.
  std::function<void()> namePlaces;
  /// Run, after the page's script has gone on, when an undo on the page asks for the photos at
  /// these paths, taken off the map since, to be put back.
  std::function<void(const QStringList&)> putBack;

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                const QString& source) override {
    if (level == InfoMessageLevel && message == QLatin1String("terravue:name-places") && namePlaces) {
      QTimer::singleShot(0, this, namePlaces);
      return;
    }
    static const QString kPutBack = QStringLiteral("terravue:put-back ");
    if (level == InfoMessageLevel && message.startsWith(kPutBack) && putBack) {
      QStringList paths;
      for (const QJsonValue& path : QJsonDocument::fromJson(message.mid(kPutBack.size()).toUtf8()).array()) {
        if (path.isString()) {
          paths.append(path.toString());
        }
      }
      QTimer::singleShot(0, this, [this, paths] { putBack(paths); });
      return;
    }
    if (level == ErrorMessageLevel) {
      qWarning("map page: %s (%s:%d)", qUtf8Printable(message), qUtf8Printable(source), line);
    }
  }

  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    const QString scheme = url.scheme();
    if (isMainFrame && type == NavigationTypeLinkClicked &&
        (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !ThumbnailSchemeHandler::IsServerOrigin(url, QUrl(AppGlobals::Get().serverScriptUrl))) {
      if (!QDesktopServices::openUrl(url)) {
        // Told after the browser's navigation handling has returned.
        QPointer<QWidget> view(QWebEngineView::forPage(this));
        QMetaObject::invokeMethod(
            this,
            [view, url] {
              ShowAppMessage(
                  view != nullptr ? view->window() : nullptr, QMessageBox::Warning,
                  FormatText(AppStrings::Instance().Text(QStringLiteral("link/failed")), {url.toDisplayString()}));
            },
            Qt::QueuedConnection);
      }
      return false;
    }
    return true;
  }
};

bool SameLocation(const QUrl& a, const QUrl& b) {
  if (!a.isValid() || !b.isValid() || a.isEmpty() || b.isEmpty()) {
    return false;
  }
  if (a.isLocalFile() || b.isLocalFile()) {
    // File names compare as the file system does: exactly.
    return a.isLocalFile() && b.isLocalFile() && QDir::cleanPath(a.toLocalFile()) == QDir::cleanPath(b.toLocalFile());
  }
  // Compared decoded, part by part; the fragment names a place in the same document.
  const QUrl x = a.adjusted(QUrl::NormalizePathSegments);
  const QUrl y = b.adjusted(QUrl::NormalizePathSegments);
  return x.scheme() == y.scheme() && x.host() == y.host() && x.port(-1) == y.port(-1) && x.userInfo() == y.userInfo() &&
         x.path(QUrl::FullyDecoded) == y.path(QUrl::FullyDecoded) &&
         x.query(QUrl::FullyDecoded) == y.query(QUrl::FullyDecoded);
}

}  // namespace

CTerravueHtmlWnd::CTerravueHtmlWnd(QWidget* parent)
    : QWebEngineView(parent), m_currentMap(AppGlobals::Get().workFolder.toStdString()) {
  setObjectName(QStringLiteral("Terravue_HtmlWnd"));
  auto* mapPage = new MapWebPage(&TerravueWebProfile(), this);
  mapPage->namePlaces = [this] { NamePlaces(); };
  mapPage->putBack = [this](const QStringList& paths) { PutBackPictures(paths); };
  setPage(mapPage);
  resize(788, 562);

  connect(page(), &QWebEnginePage::loadingChanged, this, &CTerravueHtmlWnd::OnLoadingChanged);
  connect(this, &QWebEngineView::loadFinished, this, &CTerravueHtmlWnd::OnLoadFinished);
  // Every map page learns which of its pictures still wait to be written.
  connect(this, &CTerravueHtmlWnd::pageShown, this, [this](PageKind kind) {
    if (kind == PageKind::PageServer) {
      ShowPendingMarks();
      const bool confirmForget = AppSettings().ReadNumber(QStringLiteral("confirm_forget")) != 0;
      const QString namePlaces =
          QString::fromUtf8(QJsonDocument(QJsonArray{AppStrings::Instance().Text(QStringLiteral("places/menu"))})
                                .toJson(QJsonDocument::Compact));
      page()->runJavaScript(
          QStringLiteral(
              "typeof tvSetOptions === 'function' ? tvSetOptions({confirmForget: %1, namePlaces: %2[0]}) : 0")
              .arg(confirmForget ? QStringLiteral("true") : QStringLiteral("false"), namePlaces),
          QWebEngineScript::MainWorld);
    }
  });
  m_tracks = new CTrackDlg(this, this);
  connect(this, &CTerravueHtmlWnd::pageShown, m_tracks,
          [this](PageKind kind) { m_tracks->PageShown(kind == PageKind::PageServer); });

  m_menuButton =
      new CCustomButton(QStringLiteral(":/terravue/bitmap160.png"), QStringLiteral(":/terravue/bitmap160.png"),
                        QStringLiteral(":/terravue/bitmap164.png"));
  m_menuButton->Create(this, width() - kButtonRightOnStartPage, height() - kButtonBottom, kMenuButtonId,
                       /*toggle=*/false, /*spare=*/0);
  m_menuButton->hide();
  connect(m_menuButton, &CCustomButton::customButtonMessage, this, &CTerravueHtmlWnd::OnButtonMessage);

  setAcceptDrops(true);
  m_created = true;
}

CTerravueHtmlWnd::~CTerravueHtmlWnd() {
  // The track panel reads this view's page and pictures; it must not outlive them.
  delete m_tracks.data();
  StopLoad();
  std::scoped_lock lock(m_mapLock);
  m_currentMap.m_pictures.DropUnsavedThumbnails(m_currentMap.m_rootFolder);
  for (const RemovedPicture& removed : m_removedPictures) {
    DropRemovedThumbnail(removed, m_currentMap.m_rootFolder);
  }
}

CTrackDlg* CTerravueHtmlWnd::Tracks() const { return m_tracks.data(); }

bool CTerravueHtmlWnd::MapPageShown() const { return GetPageKind() == PageKind::PageServer && !m_sending; }

void CTerravueHtmlWnd::NoteTrackPlaced(const std::vector<std::pair<std::string, GeotagFix>>& placed) {
  if (m_loading) {
    return;
  }
  // Whether a photo read in the zone from its position records that zone when it is saved.
  const bool recordZone = AppSettings().ReadNumber(QStringLiteral("write_offset_time")) != 0;
  for (const auto& [path, fix] : placed) {
    for (PictureRecord& record : m_currentMap.m_pictures.Records()) {
      if (record.m_path == path) {
        record.m_trackFix = fix;
        record.m_trackFix->recordZone = recordZone;
      }
    }
  }
}

void CTerravueHtmlWnd::RunPageScript(const QString& script, std::function<void(const QVariant&)> done) {
  if (done) {
    page()->runJavaScript(script, QWebEngineScript::MainWorld, std::move(done));
  } else {
    page()->runJavaScript(script, QWebEngineScript::MainWorld);
  }
}

QString CTerravueHtmlWnd::ProgramFolder() {
  return QFileInfo(QUrl(AppGlobals::Get().mapPageUrl).toLocalFile()).absolutePath();
}

MapPageAddresses CTerravueHtmlWnd::PageAddresses() {
  const QUrl server(AppGlobals::Get().serverScriptUrl);
  MapPageAddresses addresses;
  // The page files carry the map library inside "terravue.js", which every
  // state folder holds, so a saved page needs nothing from the server to
  // show its map.
  addresses.mapScriptUrl = "terravue.js";
  addresses.serverUrl =
      server.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString().toStdString();
  return addresses;
}

void CTerravueHtmlWnd::JoinWorker() {
  if (m_worker.joinable()) {
    m_worker.join();
  }
}

void CTerravueHtmlWnd::StopLoad() {
  m_keepRunning = false;
  m_thumbnailsGoing = false;
  JoinWorker();
}

// ---------------------------------------------------------------------------
// Loading pictures

void CTerravueHtmlWnd::ShowPictures(const QStringList* paths) {
  if (m_loading) {
    return;
  }
  const AppGlobals& globals = AppGlobals::Get();
  const qsizetype adding = paths != nullptr ? paths->size() : 0;
  if (adding + static_cast<qsizetype>(m_currentMap.m_pictures.Count()) > globals.maxPictures &&
      AppSettings().ReadNumber(QStringLiteral("warn_over20")) != 0 && m_noticesShown.insert(104).second) {
    new CWarnningDlg(window(), globals.Message(104), QStringLiteral("warn_over20"), /*modal=*/false,
                     /*showCancel=*/false);
  }
  std::vector<std::string> list;
  if (paths != nullptr) {
    list.reserve(static_cast<std::size_t>(paths->size()));
    for (const QString& path : *paths) {
      // The state file keeps the paths: a path relative to where the program
      // was started would name another file when the state is opened again.
      list.push_back(path.isEmpty() ? std::string() : QFileInfo(path).absoluteFilePath().toStdString());
    }
  }
  StartLoad(std::move(list), paths != nullptr);
}

void CTerravueHtmlWnd::Reload(const std::vector<std::string>& paths) {
  if (m_loading) {
    return;
  }
  m_currentMap.m_pictures.Clear();
  StartLoad(paths, /*hasList=*/true);
}

void CTerravueHtmlWnd::StartLoad(std::vector<std::string> paths, bool hasList) {
  if (!m_keepRunning) {
    return;
  }
  CProgressDlg* progress = nullptr;
  if (hasList) {
    // The bar's range is 16-bit: a longer list shows as full scale.
    progress = new CProgressDlg(this, static_cast<std::uint16_t>(std::min<std::size_t>(paths.size(), 0xFFFF)));
  }
  // The map position used when no picture has one, read here so the worker
  // needs no settings of its own.
  const AppSettings settings;
  LoadSettings loadSettings{settings.ReadText(QStringLiteral("zoom")).toStdString(),
                            settings.ReadText(QStringLiteral("latitude")).toStdString(),
                            settings.ReadText(QStringLiteral("longitude")).toStdString(),
                            ProgramFolder().toStdString(),
                            PageAddresses(),
                            MakeRequestContext()};
  // A previous worker has ended (its end cleared m_loading); collect it.
  JoinWorker();
  m_loading = true;
  m_worker =
      std::thread(&CTerravueHtmlWnd::LoadWorker, this, std::move(paths), hasList, progress, std::move(loadSettings));
}

void CTerravueHtmlWnd::LoadWorker(std::vector<std::string> paths, bool hasList, CProgressDlg* progress,
                                  LoadSettings settings) {
  // Runs on its own thread: it touches no widget and reaches the window and
  // the progress dialog only by posting to them. The window waits for this
  // thread before it goes, so `this` and the dialog outlive it.
  const auto post = [this](auto function) { QMetaObject::invokeMethod(this, function, Qt::QueuedConnection); };
  std::unique_lock lock(m_mapLock);
  m_currentMap.m_pictures.ClearSelection();
  if (hasList && !m_rebuild) {
    // Markers first: the pictures go on the map with what their headers tell (position, time,
    // the size of the thumbnail to come), the map is sent at once, and the thumbnails are made
    // afterwards on every core, each shown on the page as soon as it is there.
    const std::vector<ThumbnailJob> jobs =
        AddPicturesLeavingThumbnails(m_currentMap.m_pictures, paths, m_currentMap.m_rootFolder, m_keepRunning);
    if (!m_keepRunning) {
      lock.unlock();
      if (progress != nullptr) {
        progress->PostClose();
      }
      post([this] { OnLoadEnded(false); });
      return;
    }
    if (!m_currentMap.m_pictures.CountWithoutPosition(nullptr)) {
      m_currentMap.m_zoom = settings.zoom;
      m_currentMap.m_latitude = settings.latitude;
      m_currentMap.m_longitude = settings.longitude;
    }
    const std::string root = m_currentMap.m_rootFolder;
    QStringList files;
    files.reserve(static_cast<qsizetype>(jobs.size()));
    for (const ThumbnailJob& job : jobs) {
      files.append(QString::fromStdString(JoinMapPath(root, job.cacheName)));
    }
    m_queryQueue.push_back(m_currentMap.BuildRequest(settings.context));
    lock.unlock();
    post([this, files] {
      ThumbnailSchemeHandler::ExpectThumbnails(files);
      m_makingThumbnails = true;
    });
    post([this] { CustomNavigate(kNavigateQuery); });

    NullProgressSink noProgress;
    ProgressSink& sink = progress != nullptr ? static_cast<ProgressSink&>(*progress) : noProgress;
    std::vector<ThumbnailOutcome> outcomes =
        MakeThumbnailsOnWorkers(jobs, root, m_thumbnailsGoing, [&](std::size_t index, const ThumbnailOutcome&) {
          sink.Step();
          post([file = files[static_cast<qsizetype>(index)]] { ThumbnailSchemeHandler::ThumbnailDone(file); });
        });
    if (progress != nullptr) {
      progress->PostClose();
    }
    const bool stopped = !m_thumbnailsGoing.load();
    post([this, jobs, outcomes = std::move(outcomes), stopped] { OnThumbnailsMade(jobs, outcomes, stopped); });
    return;
  }
  if (hasList) {
    NullProgressSink noProgress;
    ProgressSink& sink = progress != nullptr ? static_cast<ProgressSink&>(*progress) : noProgress;
    // A map opened again without its thumbnails is rebuilt whole before it is shown: its saved
    // file is written with the new thumbnails' names.
    const bool added =
        AddPicturesOnWorkers(m_currentMap.m_pictures, paths, m_currentMap.m_rootFolder, sink, m_keepRunning);
    if (progress != nullptr) {
      progress->PostClose();
    }
    if (!added) {
      lock.unlock();
      post([this] { ShowMessage102(); });
      post([this] { OnLoadEnded(false); });
      return;
    }
    std::vector<UnreadablePicture> unreadable =
        FindUnreadablePictures(m_currentMap.m_pictures, m_currentMap.m_rootFolder);
    if (!unreadable.empty()) {
      post([this, unreadable = std::move(unreadable)] { ReportUnreadable(unreadable); });
    }
  }
  if (!m_keepRunning) {
    lock.unlock();
    post([this] { OnLoadEnded(false); });
    return;
  }
  bool clearModified = false;
  if (m_rebuild) {
    m_rebuild = false;
    if (!m_currentMap.TakeThumbnails() || m_currentMap.Write(/*stamp=*/true) != PictureResult::Success) {
      lock.unlock();
      post([this] { ShowMessage102(); });
      post([this] { OnLoadEnded(false); });
      return;
    }
    static_cast<void>(m_currentMap.WritePage(settings.programFolder, settings.addresses));
    clearModified = true;
  }
  if (!m_currentMap.m_pictures.CountWithoutPosition(nullptr)) {
    m_currentMap.m_zoom = settings.zoom;
    m_currentMap.m_latitude = settings.latitude;
    m_currentMap.m_longitude = settings.longitude;
  }
  m_queryQueue.push_back(m_currentMap.BuildRequest(settings.context));
  lock.unlock();
  post([this, clearModified] { OnLoadEnded(clearModified); });
  post([this] { CustomNavigate(kNavigateQuery); });
}

void CTerravueHtmlWnd::OnThumbnailsMade(const std::vector<ThumbnailJob>& jobs,
                                        const std::vector<ThumbnailOutcome>& outcomes, bool stopped) {
  JoinWorker();
  ThumbnailSchemeHandler::StopExpecting();
  if (!m_makingThumbnails) {
    return;
  }
  bool written = true;
  std::vector<UnreadablePicture> unreadable;
  {
    std::scoped_lock lock(m_mapLock);
    written = ApplyThumbnailOutcomes(m_currentMap.m_pictures, jobs, outcomes);
    // Pictures that could not be made into thumbnails are told about, unless the making was
    // stopped: those not started are simply without one.
    if (written && !stopped) {
      unreadable = FindUnreadablePictures(m_currentMap.m_pictures, m_currentMap.m_rootFolder);
    }
  }
  m_makingThumbnails = false;
  if (!written) {
    ShowMessage102();
  }
  if (!unreadable.empty()) {
    ReportUnreadable(unreadable);
  }
  OnLoadEnded(false);
}

void CTerravueHtmlWnd::StopMakingThumbnails() {
  if (!m_makingThumbnails) {
    return;
  }
  m_thumbnailsGoing = false;
  JoinWorker();
  // The worker's last word is posted; it is taken now rather than after the caller is done.
  QCoreApplication::sendPostedEvents(this);
  m_thumbnailsGoing = true;
}

void CTerravueHtmlWnd::OnLoadEnded(bool clearModified) {
  JoinWorker();
  m_loading = false;
  if (clearModified) {
    m_modified = false;
  }
  emit picturesLoaded();
}

void CTerravueHtmlWnd::ReportUnreadable(const std::vector<UnreadablePicture>& pictures) {
  // Each picture is told about once, not again whenever its map is loaded.
  std::vector<UnreadablePicture> fresh;
  for (const UnreadablePicture& picture : pictures) {
    if (!m_reportedUnreadable.contains(picture.path)) {
      m_reportedUnreadable.insert(picture.path);
      fresh.push_back(picture);
    }
  }
  if (!fresh.empty()) {
    ShowInfoNotice(window(), UnreadablePicturesText(fresh));
  }
}

void CTerravueHtmlWnd::ShowMessage102() {
  ShowAppMessage(window(), QMessageBox::Warning, AppGlobals::Get().Message(102));
}

// ---------------------------------------------------------------------------
// Opening states

bool CTerravueHtmlWnd::OpenStateFile(const QString& path, bool startPageOnFailure) {
  if (m_loading) {
    return true;
  }
  // A relative path on the command line is relative to where the program was started.
  const QString absolute = path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
  // The state's name is the name of the folder that holds the file.
  const qsizetype last = absolute.lastIndexOf(QLatin1Char('/'));
  const qsizetype before = last > 0 ? absolute.lastIndexOf(QLatin1Char('/'), last - 1) : -1;
  const QString name = before >= 0 ? absolute.mid(before + 1, last - before - 1) : QString();

  MapState state = MapState::Listed(name.toStdString(), absolute.toStdString());
  // A state that can't be read is not shown at all: half a map would pass for
  // the saved one. The caller tells the user why (OpenFailureText()).
  const PictureResult read = name.isEmpty() ? PictureResult::OpenFailed : state.Read();
  m_openFailure = DiagnoseStateOpen(absolute.toStdString(), name.toStdString(), read);
  if (m_openFailure != StateOpenProblem::None) {
    m_openFailurePath = absolute;
    if (startPageOnFailure) {
      RequestStartPage();
    }
    return false;
  }
  // The place names chosen this session for photos this map shows too stay undoable.
  state.TakeNameSets(m_currentMap);
  {
    std::scoped_lock lock(m_mapLock);
    m_currentMap = std::move(state);
  }
  m_modified = m_currentMap.AnyModified();
  if (m_currentMap.m_pictures.FirstHasThumbnail()) {
    QueueRequestAndNavigate();
    return true;
  }
  const std::vector<std::string> paths = m_currentMap.m_pictures.Paths();
  m_rebuild = true;
  Reload(paths);
  return true;
}

QString CTerravueHtmlWnd::OpenFailureText() const { return StateOpenFailureText(m_openFailurePath, m_openFailure); }

bool CTerravueHtmlWnd::ApplyState(MapState state) {
  if (m_loading) {
    return false;
  }
  if (state.m_status == MapState::kStatusNotRead) {
    const PictureResult read = state.Read();
    if (read != PictureResult::Success) {
      const StateOpenProblem problem = DiagnoseStateOpen(state.m_stateFilePath, state.m_name, read);
      ShowAppMessage(window(), QMessageBox::Warning,
                     StateOpenFailureText(QString::fromStdString(state.m_stateFilePath), problem));
      return false;
    }
  }
  m_currentMap.m_pictures.DropUnsavedThumbnails(m_currentMap.m_rootFolder);
  m_modified = false;
  // The place names chosen this session for photos this map shows too stay undoable.
  state.TakeNameSets(m_currentMap);
  {
    std::scoped_lock lock(m_mapLock);
    m_currentMap = std::move(state);
  }
  if (m_currentMap.m_pictures.FirstHasThumbnail()) {
    m_currentMap.m_pictures.RefreshAll(m_currentMap.m_rootFolder);
    // Moves a save could not write into their files are still to be saved.
    m_modified = m_currentMap.AnyModified();
    static_cast<void>(m_currentMap.Write(/*stamp=*/false));
    static_cast<void>(m_currentMap.WritePage(ProgramFolder().toStdString(), PageAddresses()));
    QueueRequestAndNavigate();
    return true;
  }
  const std::vector<std::string> paths = m_currentMap.m_pictures.Paths();
  m_rebuild = true;
  Reload(paths);
  return true;
}

void CTerravueHtmlWnd::ClearMap() {
  if (m_loading) {
    return;
  }
  ForgetRemovedPictures();
  m_currentMap.m_pictures.DropUnsavedThumbnails(m_currentMap.m_rootFolder);
  std::scoped_lock lock(m_mapLock);
  m_currentMap = MapState(AppGlobals::Get().workFolder.toStdString());
}

void CTerravueHtmlWnd::QueueRequestAndNavigate() {
  const std::string body = m_currentMap.BuildRequest(MakeRequestContext());
  {
    std::scoped_lock lock(m_mapLock);
    // Each request holds the whole map: one waiting to be sent is out of date now. Sending it
    // first would show a page only to replace it, and that page would take the undo steps
    // carried for the one that follows.
    m_queryQueue.clear();
    m_queryQueue.push_back(body);
  }
  m_queryWaiting = true;
  QMetaObject::invokeMethod(
      this, [this] { CustomNavigate(kNavigateQuery); }, Qt::QueuedConnection);
}

void CTerravueHtmlWnd::RequestStartPage() {
  QMetaObject::invokeMethod(
      this, [this] { CustomNavigate(kNavigateStartPage); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Navigation

void CTerravueHtmlWnd::CustomNavigate(int code) {
  if (!m_keepRunning) {
    return;
  }
  if (code == kNavigateQuery) {
    std::unique_lock lock(m_mapLock, std::try_to_lock);
    if (!lock.owns_lock()) {
      // A load that started meanwhile holds the map; send when it lets go
      // rather than blocking the user interface for the whole load.
      QTimer::singleShot(50, this, [this] { CustomNavigate(kNavigateQuery); });
      return;
    }
    if (!m_queryQueue.empty()) {
      QWebEngineHttpRequest request(QUrl(AppGlobals::Get().serverScriptUrl), QWebEngineHttpRequest::Post);
      request.setHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded"));
      const std::string& body = m_queryQueue.front();
      request.setPostData(QByteArray(body.data(), static_cast<qsizetype>(body.size())));
      m_queryQueue.pop_front();
      m_queryWaiting = false;
      // The page's thumbnail paths are relative to the root of the map sent.
      ThumbnailSchemeHandler::SetServedFolder(QString::fromStdString(m_currentMap.m_rootFolder));
      m_errorPage = false;
      m_sending = true;
      load(request);
      emit querySent();
      OfferLocationNotices();
    }
  } else if (code == kNavigateStartPage) {
    if (m_host != nullptr) {
      m_host->ForgetShownState();
    }
    m_errorPage = false;
    m_sending = true;
    load(QUrl(AppGlobals::Get().mapPageUrl));
    emit startPageRequested();
  }
  m_ready = true;
}

void CTerravueHtmlWnd::OfferLocationNotices() {
  // Called with the map lock held.
  int withoutPosition = 0;
  const bool anyLocated = m_currentMap.m_pictures.CountWithoutPosition(&withoutPosition);
  const auto count = static_cast<int>(m_currentMap.m_pictures.Count());
  const AppGlobals& globals = AppGlobals::Get();
  const AppSettings settings;
  // Each notice is told once a session, not again with every map sent.
  if (!anyLocated && count > 0 && settings.ReadNumber(QStringLiteral("warn_nolocation")) != 0 &&
      m_noticesShown.insert(113).second) {
    new CWarnningDlg(window(), globals.Message(113), QStringLiteral("warn_nolocation"), false, false);
  }
  if (withoutPosition > 0 && withoutPosition < count &&
      settings.ReadNumber(QStringLiteral("warn_hasnolocation")) != 0 && m_noticesShown.insert(116).second) {
    new CWarnningDlg(window(), globals.Message(116), QStringLiteral("warn_hasnolocation"), false, false);
  }
}

PageKind CTerravueHtmlWnd::ClassifyLocation(const QUrl& location, const AppGlobals& globals) {
  if (SameLocation(location, QUrl(globals.serverScriptUrl))) {
    return PageKind::PageServer;
  }
  if (SameLocation(location, QUrl(globals.mapPageUrl))) {
    return PageKind::PageMap;
  }
  if (SameLocation(location, QUrl(globals.waitPageUrl))) {
    return PageKind::PageWait;
  }
  if (SameLocation(location, QUrl(globals.helpUrl))) {
    return PageKind::PageHelp;
  }
  return PageKind::PageOther;
}

PageKind CTerravueHtmlWnd::GetPageKind() const {
  if (!m_ready || m_errorPage) {
    return PageKind::PageOther;
  }
  return ClassifyLocation(url(), AppGlobals::Get());
}

void CTerravueHtmlWnd::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
  switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
    case QWebEngineLoadingInfo::LoadStoppedStatus:
      return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
      m_errorPage = info.isErrorPage();
      return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
      break;
  }
  if (info.errorCode() == kNavigationAborted) {
    return;
  }
  m_errorPage = true;
  const int code = info.errorCode();
  const QUrl failed = info.url();
  emit navigationFailed(code);
  // Shown after the browser's own handling of the failure has returned.
  QMetaObject::invokeMethod(
      this,
      [this, code, failed] {
        ShowAppMessageWithDetails(window(), QMessageBox::Information, ConnectionFailureText(code),
                                  ConnectionFailureDetails(code));
        // A start page that fails to load is not asked for again and again.
        if (ClassifyLocation(failed, AppGlobals::Get()) != PageKind::PageMap) {
          RequestStartPage();
        }
      },
      Qt::QueuedConnection);
}

void CTerravueHtmlWnd::OnLoadFinished(bool ok) {
  m_sending = false;
  if (!ok) {
    return;
  }
  const PageKind kind = GetPageKind();
  PlaceMenuButton(kind);
  if (m_queryWaiting) {
    // Another map page follows at once: the steps are for that one.
    emit pageShown(kind);
    return;
  }
  if (kind == PageKind::PageServer && !m_carriedUndo.isEmpty()) {
    // Before the marks, which bring the steps in step with what was written.
    const QString steps = QString::fromUtf8(QJsonDocument(QJsonArray{m_carriedUndo}).toJson(QJsonDocument::Compact));
    // The steps of the pictures taken off the map stay, for an undo that puts them back.
    QJsonArray held;
    for (const RemovedPicture& removed : m_removedPictures) {
      held.append(QString::fromStdString(removed.record.m_path));
    }
    page()->runJavaScript(QStringLiteral("typeof tvTakeUndoHistory === 'function' ? tvTakeUndoHistory(%1[0], %2) : 0")
                              .arg(steps, QString::fromUtf8(QJsonDocument(held).toJson(QJsonDocument::Compact))),
                          QWebEngineScript::MainWorld);
  }
  m_carriedUndo.clear();
  emit pageShown(kind);
}

void CTerravueHtmlWnd::PlaceMenuButton(PageKind kind) {
  if (m_menuButton == nullptr) {
    return;
  }
  if (kind == PageKind::PageMap) {
    if (m_host == nullptr || !m_host->HasSavedMaps()) {
      m_menuButton->hide();
      return;
    }
    m_menuButton->move(width() - kButtonRightOnStartPage, height() - kButtonBottom);
  } else {
    m_menuButton->move(width() - kButtonRightElsewhere, height() - kButtonBottom);
  }
  m_menuButton->show();
  m_menuButton->raise();
}

void CTerravueHtmlWnd::resizeEvent(QResizeEvent* event) {
  QWebEngineView::resizeEvent(event);
  if (m_created && m_menuButton != nullptr) {
    const int right = GetPageKind() == PageKind::PageMap ? kButtonRightOnStartPage : kButtonRightElsewhere;
    m_menuButton->move(width() - right, height() - kButtonBottom);
    m_menuButton->raise();
  }
}

void CTerravueHtmlWnd::OnButtonMessage(int buttonId, int /*state*/) {
  if (buttonId != kMenuButtonId || m_menuButton == nullptr) {
    return;
  }
  if (m_host == nullptr) {
    return;
  }
  const QPoint topLeft = m_menuButton->mapToGlobal(QPoint(0, 0));
  m_host->OpenMenuAt(QPoint(topLeft.x(), topLeft.y() + m_menuButton->height()));
}

// ---------------------------------------------------------------------------
// Reading the page

std::optional<std::vector<PageField>> CTerravueHtmlWnd::FieldsFromScript(const QVariant& answer) {
  if (answer.typeId() != QMetaType::QVariantList) {
    return std::nullopt;
  }
  std::vector<PageField> fields;
  const QVariantList items = answer.toList();
  fields.reserve(static_cast<std::size_t>(items.size()));
  for (const QVariant& item : items) {
    const QVariantList pair = item.toList();
    if (pair.size() != 2) {
      continue;
    }
    fields.push_back(PageField{pair.at(0).toString().toStdString(), pair.at(1).toString().toStdString()});
  }
  return fields;
}

bool CTerravueHtmlWnd::ReadPageEdits(bool withPictures) {
  // While a load runs the map is being rebuilt, and while a map just sent
  // replaces the page the page shows what is no longer the map: nothing on
  // it can be applied.
  if ((m_loading && !m_makingThumbnails) || m_sending || m_readingPage) {
    return false;
  }
  m_readingPage = true;
  struct Answer {
    bool done = false;
    QVariant value;
  };
  auto answer = std::make_shared<Answer>();
  QEventLoop loop;
  QPointer<QEventLoop> waiting(&loop);
  page()->runJavaScript(QString::fromLatin1(kReadFieldsScript), QWebEngineScript::ApplicationWorld,
                        [answer, waiting](const QVariant& value) {
                          answer->done = true;
                          answer->value = value;
                          if (waiting != nullptr) {
                            waiting->quit();
                          }
                        });
  if (!answer->done) {
    QTimer::singleShot(kPageReadTimeoutMs, &loop, &QEventLoop::quit);
    // Only the page's answer is awaited; the user's input waits meanwhile.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  m_readingPage = false;
  const std::optional<std::vector<PageField>> fields = answer->done ? FieldsFromScript(answer->value) : std::nullopt;
  if (!fields) {
    ShowAppMessage(window(), QMessageBox::NoIcon, QString::fromLatin1(kPageReadFailed));
    return false;
  }
  // The page says so when the user asked it not to confirm forgetting positions again.
  if (std::any_of(fields->cbegin(), fields->cend(),
                  [](const PageField& field) { return field.name == "tv_confirm_forget" && field.value == "0"; })) {
    AppSettings settings;
    settings.WriteNumber(QStringLiteral("confirm_forget"), 0);
  }
  const PageEdits edits = CollectPageEdits(*fields, withPictures);
  bool removed = false;
  bool changed = false;
  {
    std::scoped_lock lock(m_mapLock);
    changed = ApplyPageEdits(edits, m_currentMap, &removed, &m_removedPictures);
  }
  if (removed) {
    // The page still numbers the pictures that were taken off; the map is sent
    // again, so that what the page reports next matches the map, with the
    // page's steps, the removals among them.
    m_modified = true;
    CarryUndoSteps();
    QueueRequestAndNavigate();
  }
  return changed;
}

// ---------------------------------------------------------------------------
// Undo and redo

std::optional<QVariant> CTerravueHtmlWnd::RunPageScriptAndWait(const QString& script) {
  struct Answer {
    bool done = false;
    QVariant value;
  };
  auto answer = std::make_shared<Answer>();
  QEventLoop loop;
  QPointer<QEventLoop> waiting(&loop);
  page()->runJavaScript(script, QWebEngineScript::MainWorld, [answer, waiting](const QVariant& value) {
    answer->done = true;
    answer->value = value;
    if (waiting != nullptr) {
      waiting->quit();
    }
  });
  if (!answer->done) {
    QTimer::singleShot(kPageReadTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  if (!answer->done) {
    return std::nullopt;
  }
  return answer->value;
}

int CTerravueHtmlWnd::UndoOnPage(bool redo) {
  if (m_sending || m_readingPage || GetPageKind() != PageKind::PageServer) {
    return 0;
  }
  m_readingPage = true;
  const std::optional<QVariant> answer =
      RunPageScriptAndWait(redo ? QStringLiteral("tv.editable && typeof tvRedo === 'function' ? tvRedo() : 0")
                                : QStringLiteral("tv.editable && typeof tvUndo === 'function' ? tvUndo() : 0"));
  m_readingPage = false;
  const int count = answer ? answer->toInt() : 0;
  if (count > 0) {
    m_modified = true;
  }
  return count;
}

// ---------------------------------------------------------------------------
// Export

bool CTerravueHtmlWnd::ExportPhotos(const QString& path, ExportFormat format, QString* problem) {
  const AppStrings& strings = AppStrings::Instance();
  // While only thumbnails are still being made the map is whole; a photo without one yet has none
  // in a KMZ file.
  if ((m_loading && !m_makingThumbnails) || m_saving) {
    *problem = strings.Text(QStringLiteral("export/busy"));
    return false;
  }
  const std::vector<std::string> selected = TakeSelectionAndEdits();
  const std::string target = QFileInfo(path).absoluteFilePath().toStdString();
  const std::string folder = QFileInfo(path).absolutePath().toStdString();
  const std::vector<ExportPhoto> photos =
      ExportPhotosOfMap(m_currentMap.m_pictures, m_currentMap.m_rootFolder, selected.empty() ? nullptr : &selected,
                        folder, format == ExportFormat::Kmz);
  if (photos.empty()) {
    *problem = strings.Text(QStringLiteral("export/nothing"));
    return false;
  }
  std::string bytes;
  switch (format) {
    case ExportFormat::Gpx:
    case ExportFormat::GpxTrack:
      bytes = WriteGpx(photos, format == ExportFormat::GpxTrack);
      break;
    case ExportFormat::Kml:
      bytes = WriteKml(photos, false);
      break;
    case ExportFormat::GeoJson:
      bytes = WriteGeoJson(photos, false);
      break;
    case ExportFormat::Kmz: {
      std::optional<std::string> archive = WriteKmz(photos, false);
      if (!archive) {
        *problem = strings.Text(QStringLiteral("export/toolarge"));
        return false;
      }
      bytes = std::move(*archive);
      break;
    }
  }
  // One replacing write: a failure leaves an older file as it was and no partial new one.
  if (const XpStatus status = WriteFileReplacing(target, bytes); status != XpStatus::Ok) {
    WriteFailure failure;
    failure.path = target;
    failure.status = status;
    failure.reason = WriteFailureReasonOf(status);
    failure.systemText = SystemTextOf(status);
    *problem = FormatText(strings.Text(QStringLiteral("export/failed")), {path, WriteFailureText(failure)});
    return false;
  }
  return true;
}

std::vector<std::string> CTerravueHtmlWnd::TakeSelectionAndEdits() {
  // The page's selection by its numbers, taken before the page is read: a read that drops removed
  // photos numbers the map anew.
  std::vector<std::string> selected;
  if (GetPageKind() != PageKind::PageServer || m_sending) {
    return selected;
  }
  const std::optional<QVariant> answer = RunPageScriptAndWait(
      QStringLiteral("typeof tv === 'undefined' || !Array.isArray(tv.selection) ? [] : "
                     "tv.selection.filter(function (p) { return !p.removed; }).map(function (p) { return p.index; })"));
  if (answer) {
    for (const QVariant& index : answer->toList()) {
      const qsizetype k = index.toLongLong();
      if (k >= 1 && static_cast<std::size_t>(k) <= m_currentMap.m_pictures.Count()) {
        selected.push_back(m_currentMap.m_pictures.At(static_cast<std::size_t>(k) - 1).m_path);
      }
    }
  }
  // The positions as the page shows them, moves not saved yet included.
  static_cast<void>(ReadPageEdits(true));
  return selected;
}

bool CTerravueHtmlWnd::UsePhotosAsTrack(QString* problem) {
  const AppStrings& strings = AppStrings::Instance();
  if ((m_loading && !m_makingThumbnails) || m_saving || m_sending || GetPageKind() != PageKind::PageServer) {
    *problem = strings.Text(QStringLiteral("photoTrack/busy"));
    return false;
  }
  const std::vector<std::string> selected = TakeSelectionAndEdits();
  // The photos as an export of them lists them, so that the track is the one a GPX file of them
  // with its track gives; links and thumbnails play no part.
  const std::vector<ExportPhoto> photos =
      ExportPhotosOfMap(m_currentMap.m_pictures, m_currentMap.m_rootFolder, selected.empty() ? nullptr : &selected,
                        m_currentMap.m_rootFolder, /*thumbnails=*/false);
  const bool anyTimed =
      std::any_of(photos.cbegin(), photos.cend(), [](const ExportPhoto& photo) { return photo.utcMillis.has_value(); });
  if (!anyTimed) {
    *problem = strings.Text(QStringLiteral("photoTrack/nothing"));
    return false;
  }
  return m_tracks != nullptr && m_tracks->AddPhotos(photos, problem);
}

void CTerravueHtmlWnd::ChoosePhotosAsTrack() {
  QString problem;
  if (!UsePhotosAsTrack(&problem) && !problem.isEmpty()) {
    ShowAppMessage(window(), QMessageBox::Information, problem);
  }
}

void CTerravueHtmlWnd::ChooseExport() {
  const AppStrings& strings = AppStrings::Instance();
  struct Kind {
    const char* key;
    const char* pattern;
    const char* suffix;
    ExportFormat format;
  };
  static constexpr std::array kKinds{
      Kind{"export/filterGpx", "*.gpx", "gpx", ExportFormat::Gpx},
      Kind{"export/filterGpxTrack", "*.gpx", "gpx", ExportFormat::GpxTrack},
      Kind{"export/filterKml", "*.kml", "kml", ExportFormat::Kml},
      Kind{"export/filterKmz", "*.kmz", "kmz", ExportFormat::Kmz},
      Kind{"export/filterGeoJson", "*.geojson", "geojson", ExportFormat::GeoJson},
  };
  QStringList filters;
  for (const Kind& kind : kKinds) {
    filters.append(strings.Text(QString::fromLatin1(kind.key)) + QStringLiteral(" (") +
                   QString::fromLatin1(kind.pattern) + QStringLiteral(")"));
  }
  QFileDialog dialog(window(), strings.Text(QStringLiteral("export/dialogTitle")), QDir::homePath());
  dialog.setObjectName(QStringLiteral("ExportDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(QString::fromLatin1(kKinds.front().suffix));
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& filter) {
    const qsizetype at = filters.indexOf(filter);
    if (at >= 0) {
      dialog.setDefaultSuffix(QString::fromLatin1(kKinds.at(static_cast<std::size_t>(at)).suffix));
    }
  });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return;
  }
  const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
  const ExportFormat format = kKinds.at(chosen >= 0 ? static_cast<std::size_t>(chosen) : 0).format;
  QString problem;
  if (!ExportPhotos(dialog.selectedFiles().constFirst(), format, &problem)) {
    ShowAppMessage(window(), QMessageBox::Warning, problem);
  }
}

bool CTerravueHtmlWnd::TakePageEdits() {
  const bool changed = ReadPageEdits(/*withPictures=*/true);
  SetModified(IsModified() || changed);
  return IsModified();
}

void CTerravueHtmlWnd::CarryUndoSteps() {
  if (m_sending) {
    // The page on its way takes the steps kept before it was sent.
    return;
  }
  m_carriedUndo.clear();
  if (m_readingPage || GetPageKind() != PageKind::PageServer) {
    return;
  }
  m_readingPage = true;
  const std::optional<QVariant> answer =
      RunPageScriptAndWait(QStringLiteral("typeof tvUndoHistory === 'function' ? tvUndoHistory() : ''"));
  m_readingPage = false;
  if (answer && answer->typeId() == QMetaType::QString) {
    m_carriedUndo = answer->toString();
  }
}

void CTerravueHtmlWnd::PutBackPictures(const QStringList& paths) {
  if (GetPageKind() != PageKind::PageServer && !m_sending) {
    return;
  }
  if ((m_loading && !m_makingThumbnails) || m_saving || m_sending || m_readingPage) {
    if (m_keepRunning) {
      QTimer::singleShot(kPutBackRetryMs, this, [this, paths] { PutBackPictures(paths); });
    }
    return;
  }
  // The page's steps first, with the removal just undone among those to redo; then its moves.
  CarryUndoSteps();
  static_cast<void>(ReadPageEdits(/*withPictures=*/true));
  bool any = false;
  {
    std::scoped_lock lock(m_mapLock);
    for (const QString& path : paths) {
      const std::string wanted = path.toStdString();
      // The last removal of that path is the one undone.
      const auto found =
          std::find_if(m_removedPictures.rbegin(), m_removedPictures.rend(),
                       [&wanted](const RemovedPicture& removed) { return removed.record.m_path == wanted; });
      if (found == m_removedPictures.rend() || m_currentMap.m_pictures.ContainsPath(wanted)) {
        continue;
      }
      PutBackPicture(std::move(*found), m_currentMap);
      m_removedPictures.erase(std::next(found).base());
      any = true;
    }
  }
  if (!any) {
    // Nothing held under those paths: the page goes on without waiting.
    page()->runJavaScript(QStringLiteral("typeof tv === 'object' ? (tv.puttingBack = false) : 0"),
                          QWebEngineScript::MainWorld);
    return;
  }
  m_modified = true;
  QueueRequestAndNavigate();
}

void CTerravueHtmlWnd::ForgetRemovedPictures() {
  std::scoped_lock lock(m_mapLock);
  for (const RemovedPicture& removed : m_removedPictures) {
    DropRemovedThumbnail(removed, m_currentMap.m_rootFolder);
  }
  m_removedPictures.clear();
}

// ---------------------------------------------------------------------------
// Moves not yet written

int CTerravueHtmlWnd::PendingCount() const {
  const auto& records = m_currentMap.m_pictures.Records();
  return static_cast<int>(std::count_if(records.cbegin(), records.cend(), [](const PictureRecord& r) {
    return r.m_modified != 0 || (r.m_namesPending != 0 && r.m_names);
  }));
}

void CTerravueHtmlWnd::NoteWriteBack(const WriteBackReport& report) {
  for (const std::string& path : report.written) {
    m_writeFailures.erase(path);
  }
  for (const WriteFailure& failure : report.problems) {
    m_writeFailures[failure.path] = WriteFailureText(failure);
  }
  ShowPendingMarks();
}

void CTerravueHtmlWnd::ShowPendingMarks() {
  if (m_loading || m_sending || GetPageKind() != PageKind::PageServer) {
    return;
  }
  const auto& records = m_currentMap.m_pictures.Records();
  // What the load found about each photo's files, before the marks that depend on the save: the
  // pictures that are a JPEG with raw files, and those whose sidecar's position is not the one
  // their own file holds, as [index, [names of the raw files], [sidecar name, the file's latitude
  // and longitude texts]].
  QJsonArray sources;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const PictureRecord& record = records[i];
    if (record.m_pairedFiles.empty() && record.m_disagreeingSidecar.empty()) {
      continue;
    }
    QJsonArray names;
    for (const std::string& file : record.m_pairedFiles) {
      names.append(QString::fromStdString(XpPhotoMetadata::SplitPath(file).name));
    }
    QJsonArray conflict;
    if (!record.m_disagreeingSidecar.empty()) {
      conflict =
          QJsonArray{QString::fromStdString(XpPhotoMetadata::SplitPath(record.m_disagreeingSidecar).name),
                     QString::fromStdString(record.m_fileLatitude), QString::fromStdString(record.m_fileLongitude)};
    }
    sources.append(QJsonArray{static_cast<qint64>(i + 1), names, conflict});
  }
  page()->runJavaScript(QStringLiteral("typeof tvShowSources === 'function' ? tvShowSources(%1) : -1")
                            .arg(QString::fromUtf8(QJsonDocument(sources).toJson(QJsonDocument::Compact))),
                        QWebEngineScript::MainWorld);
  QJsonArray pending;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const bool named = records[i].m_namesPending != 0 && records[i].m_names;
    if (records[i].m_modified == 0 && !named) {
      continue;
    }
    const auto failure = m_writeFailures.find(records[i].m_path);
    // [index, reason, place names wait, the position waits]
    pending.append(QJsonArray{static_cast<qint64>(i + 1),
                              failure != m_writeFailures.end() ? failure->second : QString(), named,
                              records[i].m_modified != 0});
  }
  // Which set of place names each photo named this session should hold, and which its file holds:
  // [index, wanted, in the file]. A page shown anew learns them here, for its undo and redo.
  QJsonArray nameSets;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!records[i].m_nameVersions.empty()) {
      nameSets.append(QJsonArray{static_cast<qint64>(i + 1), static_cast<qint64>(records[i].m_namesWanted),
                                 static_cast<qint64>(records[i].m_namesInFile)});
    }
  }
  const QString list = QString::fromUtf8(QJsonDocument(pending).toJson(QJsonDocument::Compact));
  const QString sets = QString::fromUtf8(QJsonDocument(nameSets).toJson(QJsonDocument::Compact));
  QPointer<CTerravueHtmlWnd> self(this);
  page()->runJavaScript(
      QStringLiteral("typeof tvShowPending === 'function' ? tvShowPending(%1, %2) : -1").arg(list, sets),
      QWebEngineScript::MainWorld, [self](const QVariant& answer) {
        if (self != nullptr) {
          emit self->pendingMarksShown(answer.toInt());
        }
      });
}

// ---------------------------------------------------------------------------
// Dropped files

QStringList CTerravueHtmlWnd::AcceptedDrops(const QStringList& paths, const DropRules& rules) {
  return SortDrops(paths, rules, kMaxDroppedFiles).accepted;
}

void CTerravueHtmlWnd::dragEnterEvent(QDragEnterEvent* event) {
  // Files are the program's to take; nothing dropped reaches the page, so the
  // browser never navigates away from the map to a dropped file.
  const QMimeData* data = event->mimeData();
  if (data != nullptr && data->hasUrls()) {
    const QList<QUrl> urls = data->urls();
    if (std::any_of(urls.cbegin(), urls.cend(), [](const QUrl& url) { return url.isLocalFile(); })) {
      event->acceptProposedAction();
      return;
    }
  }
  event->ignore();
}

void CTerravueHtmlWnd::dragMoveEvent(QDragMoveEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data != nullptr && data->hasUrls()) {
    event->acceptProposedAction();
    return;
  }
  event->ignore();
}

void CTerravueHtmlWnd::dragLeaveEvent(QDragLeaveEvent* event) { event->accept(); }

void CTerravueHtmlWnd::dropEvent(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data == nullptr || !data->hasUrls()) {
    event->ignore();
    return;
  }
  QStringList dropped;
  int beyond = 0;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) {
      continue;
    }
    if (dropped.size() >= kMaxDroppedFiles) {
      ++beyond;
      continue;
    }
    dropped.append(url.toLocalFile());
  }
  event->acceptProposedAction();

  // Track logs go to the track panel, after the drag and drop has finished.
  if (const QStringList tracks = CTrackDlg::TakeTrackPaths(dropped); !tracks.isEmpty()) {
    const bool withPhotos = !dropped.isEmpty();
    QMetaObject::invokeMethod(
        m_tracks,
        [this, tracks, withPhotos] {
          bool added = false;
          for (const QString& track : tracks) {
            added = m_tracks->AddTrack(track) || added;
          }
          // Tracks alone are drawn on the map, which the start page does not show.
          if (added && !withPhotos && !m_loading && !m_sending && GetPageKind() != PageKind::PageServer) {
            ShowPictures(nullptr);
          }
        },
        Qt::QueuedConnection);
  }

  DropRules rules;
  rules.workFolder = AppGlobals::Get().workFolder;
  rules.programFolder = ProgramFolder();
  rules.fileType = ClassifyPath;
  rules.isOnMap = [this](const QString& path) { return m_currentMap.m_pictures.ContainsPath(path.toStdString()); };
  if (m_loading) {
    return;
  }
  DropOutcome outcome = SortDrops(dropped, rules, kMaxDroppedFiles);
  outcome.overLimit += beyond;
  const QString notice = DropNoticeText(outcome);
  const QStringList accepted = outcome.accepted;
  if (accepted.isEmpty()) {
    if (!notice.isEmpty()) {
      ShowInfoNotice(window(), notice);
    }
    return;
  }
  // The questions below run their own event loops; they wait until the drag
  // and drop has finished. What was not added is told once the question is
  // answered, so that the question never covers a notice it would block.
  QMetaObject::invokeMethod(
      this,
      [this, accepted, notice] {
        const bool changed = ReadPageEdits(/*withPictures=*/true);
        const bool go = !changed || m_host == nullptr || m_host->SaveChangesFirst();
        if (!notice.isEmpty()) {
          ShowInfoNotice(window(), notice);
        }
        if (!go) {
          return;
        }
        if (m_host != nullptr) {
          m_host->BringToFront();
        }
        m_modified = true;
        ShowPictures(&accepted);
      },
      Qt::QueuedConnection);
}
