#include "Applications/Terravue/MachineBrowserSettings.h"

#include "Applications/Terravue/CRegKeyReader.h"

std::string MachineBrowserSettings::ReadText(const std::string& group, const std::string& name) const {
  const CRegKeyReader key(QString::fromStdString(group), CRegKeyReader::Root::LocalMachine);
  return key.ReadText(QString::fromStdString(name), QString()).toStdString();
}
