#include "Applications/Terravue/AppMessageBox.h"

#include <QPushButton>
#include <QScreen>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CNoticeDlg.h"
#include "Applications/Terravue/WindowPlacement.h"

namespace {

// What every box of the program has: its name, a place above the notices
// (which stay on top of the main window), and a place clear of the notices
// shown, so that what the user reads there is not hidden by the question.
void PrepareBox(QMessageBox& box, QWidget* parent) {
  box.setObjectName(QStringLiteral("TerravueMessage"));
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  const QList<QRect> notices = CNoticeDlg::ShownNoticeFrames();
  if (notices.isEmpty() || parent == nullptr) {
    return;
  }
  const QWidget* owner = parent->window();
  box.adjustSize();
  const QSize size = box.frameGeometry().size();
  const QScreen* screen = owner->screen();
  box.move(CNoticeDlg::PlaceClearOf(CentreOverParent(owner->frameGeometry(), size), size, notices,
                                    screen != nullptr ? screen->availableGeometry() : QRect()));
}

}  // namespace

QMessageBox::StandardButton ShowAppMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, AppGlobals::Get().appTitle, text, buttons, parent);
  PrepareBox(box, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton ShowAppMessageWithDetails(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                                      const QString& details) {
  QMessageBox box(icon, AppGlobals::Get().appTitle, text, QMessageBox::Ok, parent);
  box.setDetailedText(details);
  PrepareBox(box, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

SaveAnswer AskToSaveChanges(QWidget* parent, const QString& text) {
  const AppStrings& strings = AppStrings::Instance();
  QMessageBox box(QMessageBox::Question, AppGlobals::Get().appTitle, text,
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
  box.button(QMessageBox::Save)->setText(strings.Text(QStringLiteral("ask/save")));
  box.button(QMessageBox::Discard)->setText(strings.Text(QStringLiteral("ask/discard")));
  box.button(QMessageBox::Cancel)->setText(strings.Text(QStringLiteral("ask/cancel")));
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  PrepareBox(box, parent);
  switch (box.exec()) {
    case QMessageBox::Save:
      return SaveAnswer::Save;
    case QMessageBox::Discard:
      return SaveAnswer::DontSave;
    default:
      return SaveAnswer::Cancel;
  }
}

UnwrittenAnswer AskAboutUnwrittenMoves(QWidget* parent, const QString& text) {
  const AppStrings& strings = AppStrings::Instance();
  // OK comes first among the buttons: the answer that changes nothing.
  QMessageBox box(QMessageBox::Warning, AppGlobals::Get().appTitle, text,
                  QMessageBox::Ok | QMessageBox::Retry | QMessageBox::Ignore, parent);
  box.button(QMessageBox::Retry)->setText(strings.Text(QStringLiteral("writeback/retry")));
  box.button(QMessageBox::Ignore)->setText(strings.Text(QStringLiteral("writeback/maponly")));
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  PrepareBox(box, parent);
  switch (box.exec()) {
    case QMessageBox::Retry:
      return UnwrittenAnswer::Retry;
    case QMessageBox::Ignore:
      return UnwrittenAnswer::KeepOnMapOnly;
    default:
      return UnwrittenAnswer::Leave;
  }
}
