#include "Applications/Terravue/StartupServices.h"

#include <QFile>
#include <QFileInfo>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/CContentsGroupList.h"
#if __has_include("xp/base/XpFileType.h")
#include "xp/base/XpFileType.h"
#define TV_HAVE_FILE_TYPE 1
#endif

std::uint32_t ClassifyPath(const QString& path) {
#ifdef TV_HAVE_FILE_TYPE
  return XpGetFileType(path.toStdString());
#else
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
    return 0;
  }
  const QByteArray head = file.read(3);
  return head == QByteArray("\xFF\xD8\xFF", 3) ? kJpegStillFileType : 0;
#endif
}

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
  services.readHandOff = ReadHandOffSelection;
  return services;
}
