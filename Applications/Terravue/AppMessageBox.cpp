#include "Applications/Terravue/AppMessageBox.h"

#include "Applications/Terravue/AppGlobals.h"

QMessageBox::StandardButton ShowAppMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, AppGlobals::Get().appTitle, text, buttons, parent);
  box.setObjectName(QStringLiteral("TerravueMessage"));
  return static_cast<QMessageBox::StandardButton>(box.exec());
}
