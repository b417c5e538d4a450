#include "Applications/Terravue/CProgressDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QProgressBar>

#include "Applications/Terravue/DialogUnits.h"
#include "Applications/Terravue/WindowPlacement.h"

namespace {

class StepEvent : public QEvent {
 public:
  explicit StepEvent(int first) : QEvent(static_cast<QEvent::Type>(CProgressDlg::StepEventType())), m_first(first) {}
  int First() const { return m_first; }

 private:
  int m_first;
};

int CloseEventType() {
  static const int type = QEvent::registerEventType();
  return type;
}

}  // namespace

int CProgressDlg::StepEventType() {
  static const int type = QEvent::registerEventType();
  return type;
}

CProgressDlg::CProgressDlg(QWidget* parent, std::uint16_t total)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_total(total) {
  setModal(false);
  const DialogUnits units(font());
  setFixedSize(units.Size(186, 27));

  m_bar = new QProgressBar(this);
  m_bar->setObjectName(QStringLiteral("progress"));
  m_bar->setTextVisible(false);
  m_bar->setRange(0, m_total);
  m_bar->setValue(0);
  m_bar->setGeometry(units.Rect(7, 7, 172, 14));

  show();
}

void CProgressDlg::PostStep(int first) { QCoreApplication::postEvent(this, new StepEvent(first)); }

void CProgressDlg::PostClose() {
  QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(CloseEventType())));
}

bool CProgressDlg::event(QEvent* event) {
  if (event->type() == StepEventType()) {
    if (static_cast<StepEvent*>(event)->First() == 1) {
      ++m_position;
      m_bar->setValue(m_position);
      repaint();
    }
    return true;
  }
  if (event->type() == CloseEventType()) {
    m_closing = true;
    hide();
    deleteLater();
    return true;
  }
  return QDialog::event(event);
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
  // A close from the window system (Alt+F4) would end the dialog while the
  // loader may still post to it; only the close request ends it.
  event->ignore();
}

void CProgressDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_placed || parentWidget() == nullptr) {
    return;
  }
  m_placed = true;
  move(CentreOverParent(parentWidget()->window()->frameGeometry(), frameGeometry().size()));
}
