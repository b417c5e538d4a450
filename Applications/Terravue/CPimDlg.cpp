#include "Applications/Terravue/CPimDlg.h"

#include <QLabel>
#include <QPushButton>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/DialogUnits.h"

CPimDlg::CPimDlg(QWidget* parent, bool modal)
    : CNoticeDlg(parent, modal,
                 Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  const AppStrings& strings = AppStrings::Instance();
  setWindowTitle(strings.Text(QStringLiteral("163/title")));
  const DialogUnits units(font());
  setFixedSize(units.Size(186, 90));

  m_notice = new QLabel(strings.Text(QStringLiteral("163/text")), this);
  m_notice->setObjectName(QStringLiteral("notice"));
  m_notice->setWordWrap(true);
  m_notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_notice->setGeometry(units.Rect(7, 7, 172, 60));

  m_continue = new QPushButton(strings.Text(QStringLiteral("163/ok")), this);
  m_continue->setObjectName(QStringLiteral("continue"));
  m_continue->setDefault(true);
  m_continue->setGeometry(units.Rect(68, 69, 50, 14));
  connect(m_continue, &QPushButton::clicked, this, &QDialog::accept);

  ShowIfModeless(m_notice->text());
}
