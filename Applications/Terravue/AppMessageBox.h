#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

/// Shows `text` in a modal message box titled with the application's title,
/// with `icon` and `buttons`, and answers the button chosen.
QMessageBox::StandardButton ShowAppMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

/// ShowAppMessage with `details` behind the box's details button.
QMessageBox::StandardButton ShowAppMessageWithDetails(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                                      const QString& details);

/// The answer to the question whether to save a changed map.
enum class SaveAnswer { Save, DontSave, Cancel };

/// Asks `text` with the buttons Save, Don't save and Cancel; closing the box
/// counts as Cancel.
SaveAnswer AskToSaveChanges(QWidget* parent, const QString& text);
