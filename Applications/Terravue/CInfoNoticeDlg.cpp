#include "Applications/Terravue/CInfoNoticeDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/DialogUnits.h"

CInfoNoticeDlg::CInfoNoticeDlg(QWidget* parent, const QString& message)
    : CNoticeDlg(parent, /*modal=*/false, Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  const AppStrings& strings = AppStrings::Instance();
  setWindowTitle(strings.Text(QStringLiteral("153/title")));
  const DialogUnits units(font());

  m_message = new QLabel(message, this);
  m_message->setObjectName(QStringLiteral("message"));
  m_message->setWordWrap(true);
  m_message->setTextFormat(Qt::PlainText);
  m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_message->setMinimumWidth(units.Size(173, 0).width());

  m_ok = new QPushButton(strings.Text(QStringLiteral("153/ok")), this);
  m_ok->setObjectName(QStringLiteral("ok"));
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_message);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  ShowIfModeless(message);
}

CInfoNoticeDlg* ShowInfoNotice(QWidget* parent, const QString& message) { return new CInfoNoticeDlg(parent, message); }
