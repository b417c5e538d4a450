#include "Applications/Terravue/AppGlobals.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <array>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CRegKeyReader.h"

namespace {

AppGlobals& Storage() {
  static AppGlobals globals;
  return globals;
}

constexpr std::array kMessageIds = {102, 104, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 120};

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string Utf8Prefix(const QString& text, std::size_t limit) {
  std::string bytes = text.toStdString();
  if (bytes.size() <= limit) {
    return bytes;
  }
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0U) == 0x80U) {
    --end;
  }
  bytes.resize(end);
  return bytes;
}

}  // namespace

const AppGlobals& AppGlobals::Get() { return Storage(); }

void AppGlobals::Set(AppGlobals globals) { Storage() = std::move(globals); }

QString BuiltInServerUrl(int port) {
  return QStringLiteral("http://127.0.0.1:%1/www/gps/terravue/script2/terravue.php").arg(port);
}

QString BuiltInHelpUrl(int port) {
  return QStringLiteral("http://127.0.0.1:%1/www/gps/terravue/help/help_%s_%s.html").arg(port);
}

std::string MakeClientVersion(const QString& fileVersion) {
  QString version = fileVersion;
  version.replace(QLatin1Char(','), QLatin1Char('.'));
  version.remove(QLatin1Char(' '));
  return version.toStdString();
}

QString FileUrlOf(const QString& path) { return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded); }

AppGlobals ComputeAppGlobals(const AppGlobalsInputs& inputs) {
  const AppStrings& strings = AppStrings::Instance();
  AppGlobals globals;

  // The older store is looked for below the maker's folder, which is made here;
  // the two folders below it are not.
  const QString makerFolder = inputs.dataHome + QStringLiteral("/Ardo Corporation");
  QDir().mkpath(makerFolder);
  const QString oldStore = makerFolder + QStringLiteral("/Pictavo/PtvTerravue/data.tvd");
  globals.appDataFilePath = QFileInfo::exists(oldStore) ? oldStore : QString();

  QDir().mkpath(inputs.documentsFolder);
  globals.workFolder = inputs.documentsFolder + QStringLiteral("/Terravue");
  QDir().mkdir(globals.workFolder);

  globals.appTitle = strings.String(121);

  const CRegKeyReader machine(QStringLiteral("Terravue/1.1"), inputs.machineIniPath);
  globals.serverScriptUrl = machine.ReadText(QStringLiteral("URL_MAIN"), inputs.builtInServerUrl);
  const QString helpTemplate = machine.ReadText(QStringLiteral("URL_HELP"), inputs.builtInHelpUrl);
  globals.maxPictures = machine.ReadNumber(QStringLiteral("max_pictures"), 20);

  for (int id : kMessageIds) {
    globals.messages.insert(id, strings.String(id));
  }
  globals.messages.insert(104, FormatText(strings.String(104), {QString::number(globals.maxPictures)}));

  const QString language = strings.String(105);
  globals.languageCode = Utf8Prefix(language, 255);
  globals.clientVersion = MakeClientVersion(inputs.fileVersion);
  globals.helpUrl = FormatText(helpTemplate, {language, QStringLiteral("11")});
  globals.mapPageUrl = FileUrlOf(inputs.programFolder + QStringLiteral("map.html"));
  globals.waitPageUrl = FileUrlOf(inputs.programFolder + QStringLiteral("wait.htm"));
  return globals;
}
