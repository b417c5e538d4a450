#include "Applications/Terravue/OtherMakerNotice.h"

#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CWarnningDlg.h"

int OtherMakerNotice::ReadSetting() {
  return AppSettings().ReadNumber(QString::fromLatin1(kSettingName), kSettingDefault);
}

bool OtherMakerNotice::Ask(const std::string& fileName) {
  const QString text = FormatText(AppStrings::Instance().String(kMessageId), {QString::fromStdString(fileName)});
  CWarnningDlg notice(m_parent.data(), text, QString::fromLatin1(kSettingName), /*modal=*/true, /*showCancel=*/true);
  return notice.exec() == QDialog::Accepted;
}
