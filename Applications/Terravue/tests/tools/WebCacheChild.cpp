// One start of the map's browser: loads the page given as its argument in a view on the
// program's own profile, waits until the page and its images have loaded, then ends the way
// the program does. The window tests start it twice to see what the second start fetches.
#include <QApplication>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>
#include <memory>

#include "Applications/Terravue/ThumbnailSchemeHandler.h"
#include "Applications/Terravue/WebProfile.h"

int main(int argc, char* argv[]) {
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  ThumbnailSchemeHandler::RegisterScheme();
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fputs("usage: tv_webcache_child URL\n", stderr);
    return 2;
  }
  int code = 1;
  {
    auto view = std::make_unique<QWebEngineView>();
    view->setPage(new QWebEnginePage(&TerravueWebProfile(), view.get()));
    view->resize(300, 200);
    view->show();
    QObject::connect(view.get(), &QWebEngineView::loadFinished, &app, [&](bool ok) {
      code = ok ? 0 : 1;
      // A moment for the cache to take the finished responses before the profile goes.
      QTimer::singleShot(300, &app, &QCoreApplication::quit);
    });
    QTimer::singleShot(30000, &app, [&] {
      std::fputs("tv_webcache_child: the page did not load\n", stderr);
      QCoreApplication::exit(1);
    });
    view->load(QUrl(QString::fromLocal8Bit(argv[1])));
    const int loop = QApplication::exec();
    if (loop != 0) {
      code = loop;
    }
  }
  return code;
}
