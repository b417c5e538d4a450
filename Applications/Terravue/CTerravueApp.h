#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CommandLine.h"

class CTerravueBaseWnd;
class EmbeddedServer;
class InstanceChannel;
class QLockFile;
class QTranslator;

/// How the program is started. main() fills only `arguments`; tests set the
/// rest to work in temporary folders.
struct AppStartOptions {
  QStringList arguments;                         ///< the program's arguments without its own name
  QString programFolder;                         ///< ending in "/"; empty: found from the running program
  std::optional<AppStrings::Language> language;  ///< empty: from the user's interface languages
  bool startServer = true;                       ///< start the embedded support server
  std::optional<CommandLineServices> services;   ///< empty: the real file system
  /// Shows the "already running" message; empty: an information message box.
  std::function<void(const QString&)> showAlreadyRunning;
};

/// The application object: the start-up sequence and the end of the process.
class CTerravueApp {
 public:
  /// Name of the single-instance lock.
  static constexpr const char* kInstanceLockName = "Pictavo - Terravue";
  /// Name of the optional translation file in the program folder.
  static constexpr const char* kLocaleFileName = "PtvTvLocale.qm";

  explicit CTerravueApp(AppStartOptions options);
  ~CTerravueApp();
  CTerravueApp(const CTerravueApp&) = delete;
  CTerravueApp& operator=(const CTerravueApp&) = delete;

  /// Runs the start-up: the translation file, the start page test (no
  /// "map.html" in the program folder ends it silently), the embedded server,
  /// the process-wide values, the single-instance lock (a second instance
  /// shows message 111 and ends), and the main window. False ends the process.
  [[nodiscard]] bool InitInstance();

  /// Closes the main window, stops the server, drops the translation and
  /// releases the lock. Answers the process's exit code.
  int ExitInstance();

  CTerravueBaseWnd* MainWindow() const { return m_mainWindow.get(); }
  bool HasLocaleLibrary() const { return m_locale != nullptr; }
  bool HoldsInstanceLock() const { return m_instanceLock != nullptr; }
  bool ServesMaps() const { return m_server != nullptr; }
  const QString& ProgramFolder() const { return m_programFolder; }

  /// The lock file's path in the user's runtime folder.
  static QString InstanceLockPath();

 private:
  /// Sends the photos of this start to the instance holding the lock; true when it took them.
  [[nodiscard]] bool HandOverToRunningInstance(const QString& lockPath) const;
  /// Listens beside the lock for photos handed over by later starts.
  void ListenForHandedPhotos(const QString& lockPath);
  void LoadLocale();
  void ReleaseLocale();
  int StartServer();
  void StopServer();

  AppStartOptions m_options;
  QString m_programFolder;
  QString m_tileFile;  ///< from "--tiles FILE"
  std::unique_ptr<QTranslator> m_locale;
  std::unique_ptr<QLockFile> m_instanceLock;
  std::unique_ptr<InstanceChannel> m_channel;
  std::unique_ptr<EmbeddedServer> m_server;
  std::unique_ptr<CTerravueBaseWnd> m_mainWindow;
};
