#pragma once

#include <QString>
#include <QStringList>
#include <QWebEngineView>

/// The map window: the embedded browser that fills the main window. It shows
/// the program folder's start page "map.html" when there is nothing to show.
class CTerravueHtmlWnd : public QWebEngineView {
  Q_OBJECT

 public:
  explicit CTerravueHtmlWnd(QWidget* parent);

  /// Adds `paths` (none: nothing) to the current map and sends the map.
  void ShowPictures(const QStringList* paths);
  /// Opens the saved map state at `path`; false when its folder name can't be
  /// derived from the path.
  [[nodiscard]] bool OpenStateFile(const QString& path);
  /// Shows the start page, after the events already queued.
  void RequestStartPage();

  /// The pictures asked for by the last ShowPictures with a list.
  const QStringList& RequestedPictures() const { return m_requestedPictures; }
  /// The saved-state file asked for by the last OpenStateFile.
  const QString& RequestedStateFile() const { return m_requestedStateFile; }

 signals:
  /// The start page was asked for and its navigation has begun.
  void startPageRequested();

 private:
  void NavigateToStartPage();

  QStringList m_requestedPictures;
  QString m_requestedStateFile;
};
