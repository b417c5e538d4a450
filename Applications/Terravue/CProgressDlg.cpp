#include "Applications/Terravue/CProgressDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

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

CProgressDlg::CProgressDlg(QWidget* parent, std::uint16_t total, const QString& text, const QString& stopText)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_total(total) {
  setWindowModality(Qt::WindowModal);
  const DialogUnits units(font());
  setFixedSize(units.Size(186, 62));

  m_label = new QLabel(text, this);
  m_label->setObjectName(QStringLiteral("text"));
  m_label->setGeometry(units.Rect(7, 5, 172, 10));

  m_bar = new QProgressBar(this);
  m_bar->setObjectName(QStringLiteral("progress"));
  m_bar->setTextVisible(false);
  m_bar->setRange(0, m_total);
  m_bar->setValue(0);
  m_bar->setGeometry(units.Rect(7, 18, 172, 14));

  m_stop = new QPushButton(stopText, this);
  m_stop->setObjectName(QStringLiteral("stop"));
  m_stop->setGeometry(units.Rect(129, 39, 50, 14));
  connect(m_stop, &QPushButton::clicked, this, [this] { reject(); });

  show();
}

void CProgressDlg::SetProgress(std::uint16_t position, const QString& text) {
  m_position = std::min(position, m_total);
  m_bar->setValue(m_position);
  if (m_label != nullptr) {
    m_label->setText(text);
  }
}

void CProgressDlg::reject() {
  if (m_stop == nullptr || m_stopRequested) {
    return;
  }
  // The save stops before its next photo; the button says that it was heard.
  m_stopRequested = true;
  m_stop->setEnabled(false);
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
