#pragma once

#include <QString>

#include "Applications/Terravue/CNoticeDlg.h"

class QCheckBox;
class QLabel;
class QPushButton;

/// A notice with a "Do not show this message again" box. The box's answer is
/// stored, when the user presses OK, in the per-user setting named by the
/// notice: 0 when ticked, 1 when not. Cancel (shown only on request) and Esc
/// close it and store nothing. Callers read the setting themselves and show the
/// notice only while it is not 0.
class CWarnningDlg : public CNoticeDlg {
  Q_OBJECT

 public:
  /// Builds the notice. A modeless one (`modal` false) is shown at once and
  /// deletes itself when closed, so the caller keeps no pointer; a modal one
  /// is run by the caller with exec().
  CWarnningDlg(QWidget* parent, const QString& message, const QString& noticeName, bool modal, bool showCancel);

  const QString& NoticeName() const { return m_noticeName; }
  QLabel* MessageLabel() const { return m_message; }
  QCheckBox* DoNotShowBox() const { return m_checkBox; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

  void accept() override;

 private:
  QString m_noticeName;
  bool m_showCancel;
  QLabel* m_message = nullptr;
  QCheckBox* m_checkBox = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};
