#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

/// Asks for the name under which the map is saved as a new state. The dialog
/// checks nothing: cleaning the name and the limit of saved states belong to
/// the caller, which reads GetName() only when exec() answered Accepted (Save).
class CSaveDlg : public QDialog {
  Q_OBJECT

 public:
  CSaveDlg(const QString& defaultName, QWidget* parent);

  /// The text the edit box held when the dialog ended, whichever way it ended;
  /// before that, the default name.
  const QString& GetName() const { return m_name; }

  QLineEdit* NameEdit() const { return m_edit; }
  QPushButton* SaveButton() const { return m_save; }
  QPushButton* CancelButton() const { return m_cancel; }

  void done(int result) override;

 private:
  QString m_name;
  QLineEdit* m_edit = nullptr;
  QPushButton* m_save = nullptr;
  QPushButton* m_cancel = nullptr;
};
