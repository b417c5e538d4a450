#include "Applications/Terravue/CommandLine.h"

#include "Applications/Terravue/AppSettings.h"

CommandLine ParseCommandLine(const QStringList& args, const CommandLineServices& services) {
  CommandLine result;
  if (args.isEmpty()) {
    return result;
  }

  QStringList candidates = args;
  const qsizetype n = args.size();
  if (n >= 2 && args.at(n - 2).toLower() == QLatin1String("/input")) {
    const QString& handOff = args.at(n - 1);
    candidates.clear();
    if (services.fileExists && services.fileExists(handOff) && services.readHandOff) {
      candidates = services.readHandOff(handOff);
    }
  } else if (n == 1 && args.front().endsWith(QLatin1String(".tvd"), Qt::CaseSensitive)) {
    result.kind = CommandLine::Kind::StateFile;
    result.stateFile = args.front();
    return result;
  }

  result.kind = CommandLine::Kind::Pictures;
  for (const QString& candidate : candidates) {
    // An empty text names no file; the classifier is not asked about it.
    if (!candidate.isEmpty() && services.fileType && services.fileType(candidate) == kJpegStillFileType) {
      result.pictures.append(candidate);
    }
  }
  return result;
}

void StartFromCommandLine(const CommandLine& commandLine, AppSettings& settings, StartTarget& target) {
  const QString howto = QStringLiteral("howto_nopicture");
  const QString dispOnce = QStringLiteral("disp_once");
  switch (commandLine.kind) {
    case CommandLine::Kind::StateFile:
      if (!target.OpenStateFile(commandLine.stateFile)) {
        target.ReportOpenFailure(commandLine.stateFile);
      }
      target.SetCaption(commandLine.stateFile);
      return;
    case CommandLine::Kind::Pictures:
      if (!commandLine.pictures.isEmpty()) {
        if (settings.ReadNumber(dispOnce) != 0) {
          target.ShowPrivacyNotice();
          settings.WriteNumber(dispOnce, 0);
        }
        target.ShowPictures(&commandLine.pictures);
        return;
      }
      if (settings.ReadNumber(howto) != 0) {
        target.ShowNotice(112, howto);
        target.RequestStartPage();
      } else {
        target.ShowPictures(nullptr);
      }
      settings.WriteNumber(dispOnce, 0);
      return;
    case CommandLine::Kind::NoArguments:
      if (settings.ReadNumber(howto) != 0) {
        target.ShowNotice(112, howto);
      }
      target.RequestStartPage();
      settings.WriteNumber(dispOnce, 0);
      return;
  }
}
