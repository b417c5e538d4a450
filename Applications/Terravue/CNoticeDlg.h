#pragma once

#include <QDialog>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
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

  /// Gap between a notice and what it is placed clear of.
  static constexpr int kNoticeGap = 8;

  /// Where a notice of `size` goes: at `wanted`, or, when that overlaps one of
  /// the `taken` frames (other notices, an open dialog), below the lowest
  /// overlapping frame, or beside it when below would leave `area`.
  [[nodiscard]] static QPoint PlaceClearOf(QPoint wanted, QSize size, const QList<QRect>& taken, const QRect& area);

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
