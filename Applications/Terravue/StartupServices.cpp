#include "Applications/Terravue/StartupServices.h"

#include <QFileInfo>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/CContentsGroupList.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "xp/base/XpFileType.h"

std::uint32_t ClassifyPath(const QString& path) { return XpGetFileType(path.toStdString()); }

QStringList ReadHandOffSelection(const QString& path) {
  QStringList paths;
  for (const std::string& file : CContentsGroupList::ReadSelectedFiles(path.toStdString())) {
    paths.append(QString::fromStdString(file));
  }
  return paths;
}

CommandLineServices SystemCommandLineServices() {
  CommandLineServices services;
  services.fileExists = [](const QString& path) { return QFileInfo::exists(path); };
  services.fileType = ClassifyPath;
  services.isOtherFormatPicture = [](const QString& path) { return IsOtherFormatPicture(path.toStdString()); };
  services.readHandOff = ReadHandOffSelection;
  return services;
}
