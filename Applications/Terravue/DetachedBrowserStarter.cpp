#include "Applications/Terravue/DetachedBrowserStarter.h"

#include <QProcess>
#include <QStringList>

bool DetachedBrowserStarter::Start(const std::string& program, const std::vector<std::string>& arguments) {
  QStringList args;
  args.reserve(static_cast<qsizetype>(arguments.size()));
  for (const std::string& argument : arguments) {
    args.append(QString::fromStdString(argument));
  }
  return QProcess::startDetached(QString::fromStdString(program), args);
}
