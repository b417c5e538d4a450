#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

/// Shows `text` in a modal message box titled with the application's title,
/// with `icon` and `buttons`, and answers the button chosen.
QMessageBox::StandardButton ShowAppMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);
