#include "Applications/Terravue/CommandLine.h"

#include "Applications/Terravue/AppSettings.h"

#ifndef TV_VERSION
#define TV_VERSION ""
#endif

QString ProgramVersion() { return QStringLiteral(TV_VERSION); }

std::optional<QString> InformationRequest(const QStringList& args) {
  for (const QString& arg : args) {
    if (arg == QLatin1String("--")) {
      break;
    }
    if (arg == QLatin1String("--version")) {
      return QStringLiteral("terravue %1\n").arg(ProgramVersion());
    }
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      return QStringLiteral(
          "Usage: terravue [PHOTO | TRACK]...\n"
          "       terravue STATE.tvd\n"
          "       terravue /input LIST\n"
          "Shows photos on a map and writes corrected positions into them.\n"
          "\n"
          "  PHOTO        a photo to put on the map (JPEG, HEIC, HEIF, AVIF, TIFF, DNG,\n"
          "               camera raw, PNG, WebP)\n"
          "  TRACK        a GPS track log (.gpx, .nmea) to place the photos by\n"
          "  STATE.tvd    a saved map to open\n"
          "  /input LIST  the photos that a hand-off list selects\n"
          "  --tiles FILE serve map tiles from an MBTiles file, for areas without network\n"
          "  --help, -h   print this help and exit\n"
          "  --version    print the version and exit\n"
          "\n"
          "When Terravue runs already, its photos and tracks are handed to it.\n");
    }
  }
  return std::nullopt;
}

QString TakeTileFileOption(QStringList& args) {
  QString file;
  for (qsizetype i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--")) {
      break;
    }
    if (args[i] == QLatin1String("--tiles") && i + 1 < args.size()) {
      file = args[i + 1];
      args.remove(i, 2);
      --i;
    }
  }
  return file;
}

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
    if (candidate.isEmpty()) {
      continue;
    }
    if ((services.fileType && services.fileType(candidate) == kJpegStillFileType) ||
        (services.isOtherFormatPicture && services.isOtherFormatPicture(candidate))) {
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
      // A map that did not open must not name the window: the start page shows.
      if (!target.OpenStateFile(commandLine.stateFile)) {
        target.ReportOpenFailure(commandLine.stateFile);
        return;
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
