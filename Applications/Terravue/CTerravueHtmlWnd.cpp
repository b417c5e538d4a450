#include "Applications/Terravue/CTerravueHtmlWnd.h"

#include <QMessageBox>
#include <QUrl>
#include <QWebEngineHttpRequest>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CProgressDlg.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"

namespace {

RequestContext MakeRequestContext() {
  const AppGlobals& globals = AppGlobals::Get();
  return RequestContext{globals.clientVersion, globals.languageCode};
}

}  // namespace

CTerravueHtmlWnd::CTerravueHtmlWnd(QWidget* parent)
    : QWebEngineView(parent), m_currentMap(AppGlobals::Get().workFolder.toStdString()) {
  setObjectName(QStringLiteral("Terravue_HtmlWnd"));
  resize(788, 562);
}

CTerravueHtmlWnd::~CTerravueHtmlWnd() {
  m_keepRunning = false;
  JoinWorker();
  std::scoped_lock lock(m_mapLock);
  m_currentMap.m_pictures.DropUnsavedThumbnails(m_currentMap.m_rootFolder);
}

void CTerravueHtmlWnd::JoinWorker() {
  if (m_worker.joinable()) {
    m_worker.join();
  }
}

void CTerravueHtmlWnd::ShowPictures(const QStringList* paths) {
  if (m_loading) {
    return;
  }
  const AppGlobals& globals = AppGlobals::Get();
  const qsizetype adding = paths != nullptr ? paths->size() : 0;
  if (adding + static_cast<qsizetype>(m_currentMap.m_pictures.Count()) > globals.maxPictures &&
      AppSettings().ReadNumber(QStringLiteral("warn_over20")) != 0) {
    new CWarnningDlg(window(), globals.Message(104), QStringLiteral("warn_over20"), /*modal=*/false,
                     /*showCancel=*/false);
  }

  std::vector<std::string> list;
  CProgressDlg* progress = nullptr;
  if (paths != nullptr) {
    list.reserve(static_cast<std::size_t>(paths->size()));
    for (const QString& path : *paths) {
      list.push_back(path.toStdString());
    }
    // The bar's range is 16-bit: a longer list shows as full scale.
    const auto total = static_cast<std::uint16_t>(std::min<qsizetype>(paths->size(), 0xFFFF));
    progress = new CProgressDlg(window(), total);
  }
  // The previous worker has ended (its end cleared m_loading); collect it.
  JoinWorker();
  m_loading = true;
  m_worker = std::thread(&CTerravueHtmlWnd::LoadWorker, this, std::move(list), paths != nullptr, progress);
}

void CTerravueHtmlWnd::LoadWorker(std::vector<std::string> paths, bool hasList, CProgressDlg* progress) {
  // Runs on its own thread: it touches no widget, and reaches the window and
  // the progress dialog only by posting to them.
  std::unique_lock lock(m_mapLock);
  m_currentMap.m_pictures.ClearSelection();
  if (hasList) {
    NullProgressSink noProgress;
    ProgressSink& sink = progress != nullptr ? static_cast<ProgressSink&>(*progress) : noProgress;
    const bool added = m_currentMap.m_pictures.AddPictures(paths, m_currentMap.m_rootFolder, sink, m_keepRunning);
    if (progress != nullptr) {
      progress->PostClose();
    }
    if (!added) {
      lock.unlock();
      QMetaObject::invokeMethod(this, &CTerravueHtmlWnd::ShowWriteError, Qt::QueuedConnection);
      QMetaObject::invokeMethod(this, &CTerravueHtmlWnd::OnLoadEnded, Qt::QueuedConnection);
      return;
    }
  }
  if (!m_currentMap.m_pictures.CountWithoutPosition(nullptr)) {
    const AppSettings settings;
    m_currentMap.m_zoom = settings.ReadText(QStringLiteral("zoom")).toStdString();
    m_currentMap.m_latitude = settings.ReadText(QStringLiteral("latitude")).toStdString();
    m_currentMap.m_longitude = settings.ReadText(QStringLiteral("longitude")).toStdString();
  }
  m_queryQueue.push_back(m_currentMap.BuildRequest(MakeRequestContext()));
  lock.unlock();
  QMetaObject::invokeMethod(this, &CTerravueHtmlWnd::OnLoadEnded, Qt::QueuedConnection);
  QMetaObject::invokeMethod(
      this, [this] { CustomNavigate(kNavigateQuery); }, Qt::QueuedConnection);
}

void CTerravueHtmlWnd::OnLoadEnded() {
  m_loading = false;
  JoinWorker();
  emit loadFinished();
}

void CTerravueHtmlWnd::ShowWriteError() {
  QMessageBox::warning(window(), AppGlobals::Get().appTitle, AppGlobals::Get().Message(102));
}

bool CTerravueHtmlWnd::OpenStateFile(const QString& path) {
  // The state's name is the name of the folder that holds the file.
  const qsizetype last = path.lastIndexOf(QLatin1Char('/'));
  const qsizetype before = last > 0 ? path.lastIndexOf(QLatin1Char('/'), last - 1) : -1;
  const QString name = before >= 0 ? path.mid(before + 1, last - before - 1) : QString();

  MapState state = MapState::Listed(name.toStdString(), path.toStdString());
  // A state whose file can't be read still opens with what was read.
  static_cast<void>(state.Read());
  {
    std::scoped_lock lock(m_mapLock);
    m_currentMap = state;
    m_queryQueue.push_back(m_currentMap.BuildRequest(MakeRequestContext()));
  }
  QMetaObject::invokeMethod(
      this, [this] { CustomNavigate(kNavigateQuery); }, Qt::QueuedConnection);
  return !name.isEmpty();
}

void CTerravueHtmlWnd::RequestStartPage() {
  QMetaObject::invokeMethod(
      this, [this] { CustomNavigate(kNavigateStartPage); }, Qt::QueuedConnection);
}

void CTerravueHtmlWnd::CustomNavigate(int code) {
  if (code == kNavigateQuery) {
    std::scoped_lock lock(m_mapLock);
    if (!m_queryQueue.empty()) {
      QWebEngineHttpRequest request(QUrl(AppGlobals::Get().serverScriptUrl), QWebEngineHttpRequest::Post);
      request.setHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded"));
      const std::string& body = m_queryQueue.front();
      request.setPostData(QByteArray(body.data(), static_cast<qsizetype>(body.size())));
      m_queryQueue.pop_front();
      load(request);
      emit querySent();
      OfferLocationNotices();
    }
  } else if (code == kNavigateStartPage) {
    if (auto* owner = qobject_cast<CTerravueBaseWnd*>(window()); owner != nullptr) {
      owner->SetCurrentStateIndex(-1);
    }
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
  if (!anyLocated && count > 0 && settings.ReadNumber(QStringLiteral("warn_nolocation")) != 0) {
    new CWarnningDlg(window(), globals.Message(113), QStringLiteral("warn_nolocation"), false, false);
  }
  if (withoutPosition > 0 && withoutPosition < count &&
      settings.ReadNumber(QStringLiteral("warn_hasnolocation")) != 0) {
    new CWarnningDlg(window(), globals.Message(116), QStringLiteral("warn_hasnolocation"), false, false);
  }
}
