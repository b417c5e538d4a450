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

/// What the user does about moves a save could not write into their files.
enum class UnwrittenAnswer {
  Leave,          ///< they stay to be written by the next save
  Retry,          ///< write them again now
  KeepOnMapOnly,  ///< keep their positions on the map only; never write them
};

/// Shows the report `text` of moves that were not written with the buttons OK
/// (they stay pending; also when the box is closed), "Try again" and "Keep
/// the position on the map only".
UnwrittenAnswer AskAboutUnwrittenMoves(QWidget* parent, const QString& text);
