#include "Applications/Terravue/CNoticeDlg.h"

#include <QApplication>
#include <QScreen>
#include <QShowEvent>

#include "Applications/Terravue/WindowPlacement.h"

CNoticeDlg::CNoticeDlg(QWidget* parent, bool modal, Qt::WindowFlags flags)
    : QDialog(parent, flags | Qt::Dialog | Qt::WindowStaysOnTopHint), m_modal(modal) {
  setModal(modal);
  if (!modal) {
    setAttribute(Qt::WA_DeleteOnClose);
  }
  m_foregroundTimer.setInterval(kForegroundDelayMs);
  m_foregroundTimer.setSingleShot(false);
  connect(&m_foregroundTimer, &QTimer::timeout, this, &CNoticeDlg::BringToForeground);
}

namespace {

// The order in which modeless notices were made.
quint64 g_lastTicket = 0;

}  // namespace

void CNoticeDlg::ShowIfModeless(const QString& text) {
  if (m_modal) {
    return;
  }
  m_text = text;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    const auto* other = qobject_cast<CNoticeDlg*>(widget);
    if (other != nullptr && other != this && !other->m_modal && other->m_text == text &&
        (other->m_waiting || other->isVisible())) {
      deleteLater();
      return;
    }
  }
  m_ticket = ++g_lastTicket;
  m_waiting = true;
  m_waitTimer.setInterval(kWaitCheckMs);
  connect(&m_waitTimer, &QTimer::timeout, this, &CNoticeDlg::ShowWhenItsTurn);
  m_waitTimer.start();
  ShowWhenItsTurn();
}

bool CNoticeDlg::IsItsTurn() const {
  // A box the user must answer keeps the screen to itself.
  if (QApplication::activeModalWidget() != nullptr) {
    return false;
  }
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    const auto* other = qobject_cast<CNoticeDlg*>(widget);
    if (other == nullptr || other == this || other->m_modal) {
      continue;
    }
    if ((other->isVisible() && !other->m_waiting) || (other->m_waiting && other->m_ticket < m_ticket)) {
      return false;
    }
  }
  return true;
}

void CNoticeDlg::ShowWhenItsTurn() {
  if (!m_waiting || !IsItsTurn()) {
    return;
  }
  m_waiting = false;
  m_waitTimer.stop();
  m_foregroundTimer.start();
  show();
}

QList<QRect> CNoticeDlg::ShownNoticeFrames() {
  QList<QRect> frames;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    const auto* notice = qobject_cast<CNoticeDlg*>(widget);
    if (notice != nullptr && !notice->m_modal && !notice->m_waiting && notice->isVisible()) {
      frames.append(notice->frameGeometry());
    }
  }
  return frames;
}

void CNoticeDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_placed || parentWidget() == nullptr) {
    return;
  }
  m_placed = true;
  const QWidget* owner = parentWidget()->window();
  const QSize size = frameGeometry().size();
  // Notices already shown and an open dialog (an error message, a question)
  // stay readable: this one goes clear of them.
  QList<QRect> taken;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget == this || !widget->isVisible() || widget == owner) {
      continue;
    }
    if (qobject_cast<CNoticeDlg*>(widget) != nullptr || widget == QApplication::activeModalWidget()) {
      taken.append(widget->frameGeometry());
    }
  }
  const QScreen* where = owner->screen();
  const QRect area = where != nullptr ? where->availableGeometry() : QRect();
  move(PlaceClearOf(PlaceNoticeOverParent(owner->frameGeometry(), size), size, taken, area));
}

QPoint CNoticeDlg::PlaceClearOf(QPoint wanted, QSize size, const QList<QRect>& taken, const QRect& area) {
  QRect frame(wanted, size);
  // Each step moves past one frame, so as many steps as frames suffice.
  for (qsizetype step = 0; step <= taken.size(); ++step) {
    const QRect* overlapped = nullptr;
    for (const QRect& other : taken) {
      if (other.intersects(frame) && (overlapped == nullptr || other.bottom() > overlapped->bottom())) {
        overlapped = &other;
      }
    }
    if (overlapped == nullptr) {
      break;
    }
    QRect below = frame;
    below.moveTop(overlapped->bottom() + 1 + kNoticeGap);
    if (area.isEmpty() || area.contains(below)) {
      frame = below;
    } else {
      QRect beside = frame;
      beside.moveLeft(overlapped->right() + 1 + kNoticeGap);
      frame = beside;
    }
  }
  return frame.topLeft();
}

void CNoticeDlg::BringToForeground() {
  // Only the first tick matters: the timer is stopped at once.
  m_foregroundTimer.stop();
  // A dialog the user must answer keeps the front.
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
    return;
  }
  raise();
  activateWindow();
  emit broughtToForeground();
}
