#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWebEngineView>
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "Applications/Terravue/mapdata/MapState.h"

class CProgressDlg;

/// The map window: the embedded browser that fills the main window. It owns
/// the current map, loads pictures into it on a worker thread while a progress
/// dialog runs, and sends the map as a form POST to the server script, whose
/// answer is the interactive map. It shows the program folder's start page
/// "map.html" when there is nothing to show.
class CTerravueHtmlWnd : public QWebEngineView {
  Q_OBJECT

 public:
  /// Codes of the custom-navigate request.
  static constexpr int kNavigateQuery = 0;
  static constexpr int kNavigateStartPage = 2;

  explicit CTerravueHtmlWnd(QWidget* parent);
  /// Stops a running load at its next picture and waits for it.
  ~CTerravueHtmlWnd() override;

  /// Adds `paths` (none: nothing) to the current map on the worker thread and
  /// then sends the map. Ignored while a load runs.
  void ShowPictures(const QStringList* paths);
  /// Opens the saved map state at `path` and sends it; false when the path
  /// names no folder (the state's name is its folder's name).
  [[nodiscard]] bool OpenStateFile(const QString& path);
  /// Shows the start page, after the events already queued.
  void RequestStartPage();

  /// True while a picture load runs.
  bool IsLoading() const { return m_loading; }
  /// The current map; read it only while no load runs.
  const MapState& CurrentMap() const { return m_currentMap; }
  bool IsModified() const { return m_modified; }
  void SetModified(bool modified) { m_modified = modified; }

 signals:
  /// A map was posted to the server script.
  void querySent();
  /// The start page was asked for and its navigation has begun.
  void startPageRequested();
  /// A picture load has ended (the progress dialog is closing).
  void loadFinished();

 private:
  void LoadWorker(std::vector<std::string> paths, bool hasList, CProgressDlg* progress);
  void CustomNavigate(int code);
  void OnLoadEnded();
  void OfferLocationNotices();
  void ShowWriteError();
  void JoinWorker();

  MapState m_currentMap;
  bool m_modified = false;
  bool m_loading = false;  ///< user-interface thread only
  bool m_ready = false;
  std::mutex m_mapLock;  ///< guards m_currentMap and m_queryQueue against LoadWorker
  std::deque<std::string> m_queryQueue;
  std::atomic<bool> m_keepRunning{true};
  std::thread m_worker;
};
