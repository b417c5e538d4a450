#pragma once

#include <QDialog>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTimer>

/// The common behaviour of the program's notices: placed in the lower left
/// corner of the parent window, clear of the map's centre, kept above other
/// windows, and, when modeless, brought to the foreground once about 800 ms
/// after it appears, so that a notice raised while the main window is busy is
/// not lost behind it. A modeless notice deletes itself when closed.
///
/// Modeless notices come one at a time, in the order they were made: one
/// waits, hidden, while another is shown or while a box the user must answer
/// is open. A notice whose text is shown or waiting already is not shown again.
class CNoticeDlg : public QDialog {
  Q_OBJECT

 public:
  /// Period of the foreground timer.
  static constexpr int kForegroundDelayMs = 800;

  /// Gap between a notice and what it is placed clear of.
  static constexpr int kNoticeGap = 8;
  /// How often a waiting notice looks whether its turn has come.
  static constexpr int kWaitCheckMs = 100;

  /// Where a notice of `size` goes: at `wanted`, or, when that overlaps one of
  /// the `taken` frames (other notices, an open dialog), below the lowest
  /// overlapping frame, or beside it when below would leave `area`.
  [[nodiscard]] static QPoint PlaceClearOf(QPoint wanted, QSize size, const QList<QRect>& taken, const QRect& area);

  /// The frames of the modeless notices shown now.
  [[nodiscard]] static QList<QRect> ShownNoticeFrames();

  bool IsModalNotice() const { return m_modal; }
  /// True while a modeless notice waits for its turn.
  bool IsWaiting() const { return m_waiting; }
  const QTimer& ForegroundTimer() const { return m_foregroundTimer; }

 signals:
  /// The foreground timer fired and the notice was raised and activated.
  void broughtToForeground();

 protected:
  CNoticeDlg(QWidget* parent, bool modal, Qt::WindowFlags flags);

  /// Call at the end of a derived constructor: a modeless notice is shown as
  /// soon as it is its turn. `text` is what it tells: the same text already
  /// shown or waiting closes this one.
  void ShowIfModeless(const QString& text);

  void showEvent(QShowEvent* event) override;

 private:
  void BringToForeground();
  [[nodiscard]] bool IsItsTurn() const;
  void ShowWhenItsTurn();

  bool m_modal;
  bool m_placed = false;
  bool m_waiting = false;
  quint64 m_ticket = 0;
  QString m_text;
  QTimer m_foregroundTimer;
  QTimer m_waitTimer;
};
