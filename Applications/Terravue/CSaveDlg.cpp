#include "Applications/Terravue/CSaveDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/DialogUnits.h"

CSaveDlg::CSaveDlg(const QString& defaultName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_name(defaultName) {
  const AppStrings& strings = AppStrings::Instance();
  setWindowTitle(strings.Text(QStringLiteral("154/title")));
  const DialogUnits units(font());
  setFixedSize(units.Size(151, 106));

  auto* explanation = new QLabel(strings.Text(QStringLiteral("154/text")), this);
  explanation->setWordWrap(true);
  explanation->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  explanation->setGeometry(units.Rect(7, 7, 137, 34));

  auto* label = new QLabel(strings.Text(QStringLiteral("154/1004")), this);
  label->setGeometry(units.Rect(7, 42, 137, 8));

  m_edit = new QLineEdit(defaultName, this);
  m_edit->setObjectName(QStringLiteral("name"));
  m_edit->setGeometry(units.Rect(7, 54, 137, 14));
  label->setBuddy(m_edit);

  m_save = new QPushButton(strings.Text(QStringLiteral("154/ok")), this);
  m_save->setObjectName(QStringLiteral("save"));
  m_save->setDefault(true);
  m_save->setGeometry(units.Rect(7, 85, 50, 14));
  connect(m_save, &QPushButton::clicked, this, &QDialog::accept);

  m_cancel = new QPushButton(strings.Text(QStringLiteral("154/cancel")), this);
  m_cancel->setObjectName(QStringLiteral("cancel"));
  m_cancel->setGeometry(units.Rect(94, 85, 50, 14));
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

  m_edit->setFocus();
  m_edit->selectAll();
}

void CSaveDlg::done(int result) {
  m_name = m_edit->text();
  QDialog::done(result);
}
