#pragma once

#include <QString>

#include "Applications/Terravue/CNoticeDlg.h"

class QLabel;
class QPushButton;

/// A modeless notice with a message and OK: it grows with its text, so a long
/// message is read whole, and deletes itself when closed.
class CInfoNoticeDlg : public CNoticeDlg {
  Q_OBJECT

 public:
  CInfoNoticeDlg(QWidget* parent, const QString& message);

  QLabel* MessageLabel() const { return m_message; }
  QPushButton* OkButton() const { return m_ok; }

 private:
  QLabel* m_message = nullptr;
  QPushButton* m_ok = nullptr;
};

/// Shows `message` in a new modeless notice over `parent`'s window.
CInfoNoticeDlg* ShowInfoNotice(QWidget* parent, const QString& message);
