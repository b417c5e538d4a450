#include "Applications/Terravue/CNoticeDlg.h"

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

void CNoticeDlg::ShowIfModeless() {
  if (m_modal) {
    return;
  }
  m_foregroundTimer.start();
  show();
}

void CNoticeDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_placed || parentWidget() == nullptr) {
    return;
  }
  m_placed = true;
  const QWidget* owner = parentWidget()->window();
  move(PlaceNoticeOverParent(owner->frameGeometry(), frameGeometry().size()));
}

void CNoticeDlg::BringToForeground() {
  // Only the first tick matters: the timer is stopped at once.
  m_foregroundTimer.stop();
  raise();
  activateWindow();
  emit broughtToForeground();
}
