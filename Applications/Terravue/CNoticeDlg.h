#pragma once

#include <QDialog>
#include <QTimer>

/// The common behaviour of the program's notices: placed over the parent
/// window (centred horizontally, 80 pixels below its top edge), kept above
/// other windows, and, when modeless, brought to the foreground once about
/// 800 ms after it appears, so that a notice raised while the main window is
/// busy is not lost behind it. A modeless notice deletes itself when closed.
class CNoticeDlg : public QDialog {
  Q_OBJECT

 public:
  /// Period of the foreground timer.
  static constexpr int kForegroundDelayMs = 800;

  bool IsModalNotice() const { return m_modal; }
  const QTimer& ForegroundTimer() const { return m_foregroundTimer; }

 signals:
  /// The foreground timer fired and the notice was raised and activated.
  void broughtToForeground();

 protected:
  CNoticeDlg(QWidget* parent, bool modal, Qt::WindowFlags flags);

  /// Call at the end of a derived constructor: a modeless notice is shown at once.
  void ShowIfModeless();

  void showEvent(QShowEvent* event) override;

 private:
  void BringToForeground();

  bool m_modal;
  bool m_placed = false;
  QTimer m_foregroundTimer;
};
