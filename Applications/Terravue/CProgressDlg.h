#pragma once

#include <QDialog>
#include <cstdint>

#include "Applications/Terravue/mapdata/ProgressSink.h"

class QProgressBar;

/// The caption-less bar shown over the main window while pictures load. It is
/// created on the user-interface thread and lives until PostClose() is handled;
/// the loading thread only posts to it (Step, PostStep, PostClose), never
/// touches it otherwise, and must post nothing after PostClose(). The total and
/// the position are 16-bit, as the bar's range is. The user cannot close it.
class CProgressDlg : public QDialog, public ProgressSink {
  Q_OBJECT

 public:
  /// Creates the dialog and shows it at once, modeless, centred over `parent`.
  CProgressDlg(QWidget* parent, std::uint16_t total);

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

  std::uint16_t Total() const { return m_total; }
  std::uint16_t Position() const { return m_position; }
  bool IsClosing() const { return m_closing; }
  const QProgressBar* Bar() const { return m_bar; }

  /// Esc does nothing: only the loader's close request ends the dialog.
  void reject() override {}

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  std::uint16_t m_total;
  std::uint16_t m_position = 0;
  bool m_closing = false;  ///< the close request has been handled
  bool m_placed = false;
  QProgressBar* m_bar = nullptr;
};
