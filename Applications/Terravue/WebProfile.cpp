#include "Applications/Terravue/WebProfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QStandardPaths>
#include <QWebEngineProfile>
#include <algorithm>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/ThumbnailSchemeHandler.h"
#include "Applications/Terravue/TileRequestInterceptor.h"

QByteArray TerravueUserAgent(const QByteArray& engineAgent, const std::string& clientVersion) {
  QByteArray agent = engineAgent.trimmed();
  // Set once per profile; a second call must not add the name twice.
  const qsizetype ours = agent.indexOf(" Terravue/");
  if (ours >= 0) {
    agent.truncate(ours);
  }
  if (!agent.isEmpty()) {
    agent += ' ';
  }
  agent += "Terravue/";
  agent += clientVersion.empty() ? QByteArrayLiteral("1.1") : QByteArray::fromStdString(clientVersion);
  return agent;
}

void ConfigureWebProfile(QWebEngineProfile& profile) {
  profile.setHttpUserAgent(
      QString::fromLatin1(TerravueUserAgent(profile.httpUserAgent().toLatin1(), AppGlobals::Get().clientVersion)));
  // The handler and the interceptor read the current process-wide values on
  // every request, so one of each serves every window of the process.
  if (profile.urlSchemeHandler(ThumbnailSchemeHandler::kScheme) == nullptr) {
    profile.installUrlSchemeHandler(ThumbnailSchemeHandler::kScheme, new ThumbnailSchemeHandler(&profile));
  }
  if (profile.findChild<TileRequestInterceptor*>() == nullptr) {
    profile.setUrlRequestInterceptor(new TileRequestInterceptor(&profile));
  }
}

QString WebCacheFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/terravue/web");
}

QWebEngineProfile& TerravueWebProfile() {
  static QPointer<QWebEngineProfile> shared;
  if (shared == nullptr) {
    auto* profile = new QWebEngineProfile(QStringLiteral("terravue"), QCoreApplication::instance());
    const QString cache = WebCacheFolder();
    QDir().mkpath(cache);
    profile->setCachePath(cache);
    // Local storage and the like stay beside the cache: the page keeps nothing that must
    // survive the cache being cleared.
    profile->setPersistentStoragePath(cache + QStringLiteral("/storage"));
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    // Megabytes from the setting, kept between 16 MB and 2 GB (the engine takes an int of bytes).
    const int megabytes = std::clamp(AppSettings().ReadNumber(QStringLiteral("web_cache_mb")), 16, 2047);
    profile->setHttpCacheMaximumSize(megabytes * 1024 * 1024);
    shared = profile;
  }
  // The User-Agent follows the program's current version on every use.
  ConfigureWebProfile(*shared);
  return *shared;
}
