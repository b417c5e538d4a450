#include "Applications/Terravue/CTerravueApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTranslator>
#include <clocale>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CRegKeyReader.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTrackDlg.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/EmbeddedServer.h"
#include "Applications/Terravue/HandedPhotos.h"
#include "Applications/Terravue/InstanceChannel.h"
#include "Applications/Terravue/StartupServices.h"
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/server/AssetFolder.h"
#include "xp/base/XpSpecialFolder.h"

#ifndef TV_FILE_VERSION
#define TV_FILE_VERSION ""
#endif

CTerravueApp::CTerravueApp(AppStartOptions options) : m_options(std::move(options)) {
  m_programFolder = m_options.programFolder;
  if (m_programFolder.isEmpty()) {
    // The page files are beside the program in a build tree and in share/terravue when installed.
    m_programFolder = QString::fromStdString(
        terravue::server::FindAssetFolder(QCoreApplication::applicationDirPath().toStdString()).string());
  }
  if (!m_programFolder.endsWith(QLatin1Char('/'))) {
    m_programFolder += QLatin1Char('/');
  }
}

CTerravueApp::~CTerravueApp() { ExitInstance(); }

QString CTerravueApp::InstanceLockPath() {
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/') +
         QLatin1String(kInstanceLockName);
}

void CTerravueApp::LoadLocale() {
  AppStrings& strings = AppStrings::Instance();
  const AppStrings::Language language = m_options.language.value_or(
      IsJapaneseUiLanguage(QLocale::system().uiLanguages()) ? AppStrings::Language::Japanese
                                                            : AppStrings::Language::English);
  strings.SetLanguage(language);

  const QString path = m_programFolder + QLatin1String(kLocaleFileName);
  if (!QFileInfo(path).isFile()) {
    return;
  }
  auto translator = std::make_unique<QTranslator>();
  // A file that is not a translation file is passed over: the built-in texts serve.
  if (!translator->load(path)) {
    return;
  }
  m_locale = std::move(translator);
  strings.SetOverride(m_locale.get());
}

void CTerravueApp::ReleaseLocale() {
  if (m_locale != nullptr) {
    AppStrings::Instance().SetOverride(nullptr);
    m_locale.reset();
  }
}

int CTerravueApp::StartServer() {
  if (!m_options.startServer) {
    return EmbeddedServer::DefaultPort();
  }
  m_server = std::make_unique<EmbeddedServer>();
  // "--tiles FILE" on the command line, else the "tile_file" setting.
  QString tileFile = m_tileFile;
  if (tileFile.isEmpty()) {
    tileFile = AppSettings().ReadText(QStringLiteral("tile_file"));
  }
  // A server that can't start leaves the map unreachable, which the map window
  // reports when it sends a map; the start page still shows.
  if (!m_server->Start(m_programFolder, tileFile)) {
    m_server.reset();
    return EmbeddedServer::DefaultPort();
  }
  return m_server->Port();
}

void CTerravueApp::StopServer() {
  if (m_server != nullptr) {
    m_server->Stop();
    m_server.reset();
  }
}

bool CTerravueApp::InitInstance() {
  LoadLocale();
  m_tileFile = TakeTileFileOption(m_options.arguments);
  // Every photo the program writes can be put back as it was (terravue-tool restore).
  PhotoJournal::SetFolder(PhotoJournal::DefaultFolder());

  if (!QFileInfo(m_programFolder + QStringLiteral("map.html")).isFile()) {
    return false;
  }

  const int port = StartServer();

  AppGlobalsInputs inputs;
  inputs.programFolder = m_programFolder;
  inputs.dataHome = QString::fromStdString(XpGetSpecialFolder(XpSpecialFolder::AppData));
  inputs.documentsFolder = QString::fromStdString(XpGetSpecialFolder(XpSpecialFolder::Documents));
  inputs.machineIniPath = CRegKeyReader::MachineIniPath();
  inputs.builtInServerUrl = BuiltInServerUrl(port);
  inputs.builtInHelpUrl = BuiltInHelpUrl(port);
  inputs.fileVersion = QStringLiteral(TV_FILE_VERSION);
  AppGlobals::Set(ComputeAppGlobals(inputs));

  // Character classification follows the user's locale, as the text files'
  // readers expect.
  std::setlocale(LC_CTYPE, "");

  const QString lockPath = InstanceLockPath();
  QDir().mkpath(QFileInfo(lockPath).absolutePath());
  auto lock = std::make_unique<QLockFile>(lockPath);
  // Never stale by age: a live instance keeps its lock however long it runs,
  // while the lock of an instance that crashed is recognised by its process
  // being gone.
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) {
    // The running program takes the photos of this start, if it answers.
    if (HandOverToRunningInstance(lockPath)) {
      ReleaseLocale();
      StopServer();
      return false;
    }
    const QString text = AppGlobals::Get().Message(111);
    if (m_options.showAlreadyRunning) {
      m_options.showAlreadyRunning(text);
    } else {
      QMessageBox::information(nullptr, AppGlobals::Get().appTitle, text);
    }
    ReleaseLocale();
    StopServer();
    return false;
  }
  m_instanceLock = std::move(lock);

  m_mainWindow =
      std::make_unique<CTerravueBaseWnd>(m_options.arguments, m_options.services.value_or(SystemCommandLineServices()));
  m_mainWindow->Create();
  ListenForHandedPhotos(lockPath);
  return true;
}

int CTerravueApp::ExitInstance() {
  m_channel.reset();
  if (m_mainWindow != nullptr) {
    m_mainWindow->close();
    m_mainWindow.reset();
  }
  StopServer();
  ReleaseLocale();
  if (m_instanceLock != nullptr) {
    m_instanceLock->unlock();
    m_instanceLock.reset();
  }
  return 0;
}

bool CTerravueApp::HandOverToRunningInstance(const QString& lockPath) const {
  // Photos and track logs travel to the running program, which takes them as
  // a drop; a state file or a start without either is answered by the
  // "already running" message.
  QStringList arguments = m_options.arguments;
  const QStringList tracks = CTrackDlg::TakeTrackPaths(arguments);
  const CommandLine commandLine = ParseCommandLine(arguments, m_options.services.value_or(SystemCommandLineServices()));
  if (commandLine.kind == CommandLine::Kind::StateFile) {
    return false;
  }
  const QStringList handed = commandLine.pictures + tracks;
  if (handed.isEmpty()) {
    return false;
  }
  return InstanceChannel::HandOver(InstanceChannel::SocketPath(lockPath), handed);
}

void CTerravueApp::ListenForHandedPhotos(const QString& lockPath) {
  auto channel = std::make_unique<InstanceChannel>();
  // Without the socket the program still runs; a second start then shows the
  // "already running" message.
  if (!channel->Listen(InstanceChannel::SocketPath(lockPath))) {
    return;
  }
  QObject::connect(
      channel.get(), &InstanceChannel::pathsReceived, m_mainWindow.get(),
      [window = m_mainWindow.get()](const QStringList& paths) { DropHandedPhotos(window->HtmlWnd(), paths); });
  m_channel = std::move(channel);
}
