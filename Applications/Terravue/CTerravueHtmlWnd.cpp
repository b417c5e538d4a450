#include "Applications/Terravue/CTerravueHtmlWnd.h"

#include <QUrl>

#include "Applications/Terravue/AppGlobals.h"

CTerravueHtmlWnd::CTerravueHtmlWnd(QWidget* parent) : QWebEngineView(parent) {
  setObjectName(QStringLiteral("Terravue_HtmlWnd"));
  resize(788, 562);
}

void CTerravueHtmlWnd::ShowPictures(const QStringList* paths) {
  if (paths != nullptr) {
    m_requestedPictures = *paths;
  }
}

bool CTerravueHtmlWnd::OpenStateFile(const QString& path) {
  m_requestedStateFile = path;
  // The state's name is its folder's name: a path needs two separators.
  return path.count(QLatin1Char('/')) >= 2;
}

void CTerravueHtmlWnd::RequestStartPage() {
  QMetaObject::invokeMethod(this, &CTerravueHtmlWnd::NavigateToStartPage, Qt::QueuedConnection);
}

void CTerravueHtmlWnd::NavigateToStartPage() {
  load(QUrl(AppGlobals::Get().mapPageUrl));
  emit startPageRequested();
}
