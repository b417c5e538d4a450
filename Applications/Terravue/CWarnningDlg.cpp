#include "Applications/Terravue/CWarnningDlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/DialogUnits.h"

CWarnningDlg::CWarnningDlg(QWidget* parent, const QString& message, const QString& noticeName, bool modal,
                           bool showCancel)
    // A caption without a system menu: no close button in the title bar.
    : CNoticeDlg(parent, modal, Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_noticeName(noticeName),
      m_showCancel(showCancel) {
  const AppStrings& strings = AppStrings::Instance();
  setWindowTitle(strings.Text(QStringLiteral("153/title")));
  const DialogUnits units(font());
  setFixedSize(units.Size(187, 90));

  m_message = new QLabel(message, this);
  m_message->setObjectName(QStringLiteral("message"));
  m_message->setWordWrap(true);
  m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_message->setGeometry(units.Rect(7, 7, 173, 46));

  m_checkBox = new QCheckBox(strings.Text(QStringLiteral("153/1001")), this);
  m_checkBox->setObjectName(QStringLiteral("doNotShowAgain"));
  m_checkBox->setGeometry(units.Rect(7, 55, 173, 10));

  m_ok = new QPushButton(strings.Text(QStringLiteral("153/ok")), this);
  m_ok->setObjectName(QStringLiteral("ok"));
  m_ok->setDefault(true);
  m_ok->setGeometry(units.Rect(68, 69, 50, 14));
  connect(m_ok, &QPushButton::clicked, this, &CWarnningDlg::accept);

  m_cancel = new QPushButton(strings.Text(QStringLiteral("153/1006")), this);
  m_cancel->setObjectName(QStringLiteral("cancel"));
  m_cancel->setGeometry(units.Rect(130, 69, 50, 14));
  m_cancel->setVisible(m_showCancel);
  // The Cancel button asks for the close instead of ending the dialog inside
  // its own click handler.
  connect(m_cancel, &QPushButton::clicked, this,
          [this] { QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection); });

  ShowIfModeless(message);
}

void CWarnningDlg::accept() {
  AppSettings settings;
  settings.WriteNumber(m_noticeName, m_checkBox->isChecked() ? 0 : 1);
  settings.Sync();
  CNoticeDlg::accept();
}
