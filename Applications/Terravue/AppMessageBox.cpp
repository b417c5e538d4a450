#include "Applications/Terravue/AppMessageBox.h"

#include <QPushButton>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppStrings.h"

QMessageBox::StandardButton ShowAppMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, AppGlobals::Get().appTitle, text, buttons, parent);
  box.setObjectName(QStringLiteral("TerravueMessage"));
  // Above the notices, which stay on top of the main window.
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton ShowAppMessageWithDetails(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                                      const QString& details) {
  QMessageBox box(icon, AppGlobals::Get().appTitle, text, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("TerravueMessage"));
  // Above the notices, which stay on top of the main window.
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.setDetailedText(details);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

SaveAnswer AskToSaveChanges(QWidget* parent, const QString& text) {
  const AppStrings& strings = AppStrings::Instance();
  QMessageBox box(QMessageBox::Question, AppGlobals::Get().appTitle, text,
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
  box.setObjectName(QStringLiteral("TerravueMessage"));
  // Above the notices, which stay on top of the main window.
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.button(QMessageBox::Save)->setText(strings.Text(QStringLiteral("ask/save")));
  box.button(QMessageBox::Discard)->setText(strings.Text(QStringLiteral("ask/discard")));
  box.button(QMessageBox::Cancel)->setText(strings.Text(QStringLiteral("ask/cancel")));
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
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
  box.setObjectName(QStringLiteral("TerravueMessage"));
  // Above the notices, which stay on top of the main window.
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.button(QMessageBox::Retry)->setText(strings.Text(QStringLiteral("writeback/retry")));
  box.button(QMessageBox::Ignore)->setText(strings.Text(QStringLiteral("writeback/maponly")));
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  switch (box.exec()) {
    case QMessageBox::Retry:
      return UnwrittenAnswer::Retry;
    case QMessageBox::Ignore:
      return UnwrittenAnswer::KeepOnMapOnly;
    default:
      return UnwrittenAnswer::Leave;
  }
}
