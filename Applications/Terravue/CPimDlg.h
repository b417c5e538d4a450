#pragma once

#include "Applications/Terravue/CNoticeDlg.h"

class QLabel;
class QPushButton;

/// The privacy notice shown before pictures are first sent to the map
/// services: which data goes to which server. "Continue" or closing it ends
/// it; it stores nothing itself (start-up keeps the "disp_once" switch).
class CPimDlg : public CNoticeDlg {
  Q_OBJECT

 public:
  /// Builds the notice; a modeless one is shown at once and deletes itself.
  CPimDlg(QWidget* parent, bool modal);

  QLabel* NoticeLabel() const { return m_notice; }
  QPushButton* ContinueButton() const { return m_continue; }

 private:
  QLabel* m_notice = nullptr;
  QPushButton* m_continue = nullptr;
};
