#pragma once

#include <QDialog>
#include <cstdint>

#include "Applications/Terravue/mapdata/ProgressSink.h"

class QLabel;
class QProgressBar;
class QPushButton;

/// The caption-less bar shown over the main window while pictures load. It is
/// created on the user-interface thread and lives until PostClose() is handled;
/// the loading thread only posts to it (Step, PostStep, PostClose), never
/// touches it otherwise, and must post nothing after PostClose(). The total and
/// the position are 16-bit, as the bar's range is. The user cannot close it.
///
/// While a save writes into the photos the same bar comes with a line of text
/// and a Stop button, window-modal over the main window so that nothing else
/// changes the map meanwhile; its owner advances it with SetProgress and
/// destroys it when the save ends.
class CProgressDlg : public QDialog, public ProgressSink {
  Q_OBJECT

 public:
  /// Creates the dialog and shows it at once, modeless, centred over `parent`.
  CProgressDlg(QWidget* parent, std::uint16_t total);
  /// The save's dialog: `text` above the bar, a Stop button labelled
  /// `stopText` below it. Shown at once, window-modal, centred over `parent`.
  CProgressDlg(QWidget* parent, std::uint16_t total, const QString& text, const QString& stopText);

  /// The number of the step event, registered once for the process.
  static int StepEventType();

  /// Posts one step (first parameter 1). Safe from any thread.
  void Step() override { PostStep(1); }
  /// Posts a step event with `first` as its first parameter; only 1 advances
  /// the bar. Safe from any thread.
  void PostStep(int first);
  /// Posts the close request; the dialog then closes and deletes itself. Safe
  /// from any thread.
  void PostClose();

  /// Moves the save's bar to `position` and shows `text` above it; on the
  /// user-interface thread only.
  void SetProgress(std::uint16_t position, const QString& text);
  /// True once the user asked the save to stop (Stop or Esc).
  [[nodiscard]] bool StopRequested() const { return m_stopRequested; }
  /// The Stop button and the line of text; null for the load's bar.
  QPushButton* StopButton() const { return m_stop; }
  const QLabel* TextLabel() const { return m_label; }

  std::uint16_t Total() const { return m_total; }
  std::uint16_t Position() const { return m_position; }
  bool IsClosing() const { return m_closing; }
  const QProgressBar* Bar() const { return m_bar; }

  /// Esc asks the save to stop; on the load's bar it does nothing: only the
  /// loader's close request ends that dialog.
  void reject() override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  std::uint16_t m_total;
  std::uint16_t m_position = 0;
  bool m_closing = false;  ///< the close request has been handled
  bool m_placed = false;
  bool m_stopRequested = false;
  QProgressBar* m_bar = nullptr;
  QLabel* m_label = nullptr;
  QPushButton* m_stop = nullptr;
};
