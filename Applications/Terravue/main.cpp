#include <QApplication>
#include <cstdio>

#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/ThumbnailSchemeHandler.h"
#include "Applications/Terravue/mapdata/ThumbnailJournal.h"

int main(int argc, char* argv[]) {
  // "--help" and "--version" print and end before any window or display is needed.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.append(QString::fromLocal8Bit(argv[i]));
  }
  if (const std::optional<QString> information = InformationRequest(arguments); information) {
    std::fputs(information->toLocal8Bit().constData(), stdout);
    return 0;
  }
  // Ended by a signal, the program takes the thumbnails of its unsaved map with it.
  RemoveThumbnailsOnTerminatingSignals();
  // The embedded browser shares its graphics context with the widgets.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The page's thumbnail addresses use the program's own scheme, which must be
  // known before the browser engine starts.
  ThumbnailSchemeHandler::RegisterScheme();
  QApplication application(argc, argv);
  // Lets the desktop match the windows with the menu entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.terravue.Terravue"));
  application.setQuitOnLastWindowClosed(true);

  AppStartOptions options;
  options.arguments = QApplication::arguments().mid(1);
  CTerravueApp app(std::move(options));
  if (!app.InitInstance()) {
    return app.ExitInstance();
  }
  const int code = QApplication::exec();
  app.ExitInstance();
  return code;
}
