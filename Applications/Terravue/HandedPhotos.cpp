#include "Applications/Terravue/HandedPhotos.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QList>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "Applications/Terravue/CTerravueHtmlWnd.h"

void DropHandedPhotos(CTerravueHtmlWnd* window, const QStringList& paths) {
  if (window == nullptr || paths.isEmpty()) {
    return;
  }
  if (window->IsLoading() || window->IsSaving()) {
    // The timer belongs to the window, so it never fires after the window has gone.
    QTimer::singleShot(kHandedPhotosRetryMs, window, [window, paths] { DropHandedPhotos(window, paths); });
    return;
  }
  QWidget* top = window->window();
  if (top->isMinimized()) {
    top->showNormal();
  }
  QList<QUrl> urls;
  urls.reserve(paths.size());
  for (const QString& path : paths) {
    urls.append(QUrl::fromLocalFile(path));
  }
  QMimeData data;
  data.setUrls(urls);
  // The same sequence as a real drop: the drag enters, then the files are dropped.
  const QPoint centre = window->rect().center();
  QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &enter);
  if (!enter.isAccepted()) {
    return;
  }
  QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &drop);
}
