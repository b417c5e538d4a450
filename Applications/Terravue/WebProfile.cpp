#include "Applications/Terravue/WebProfile.h"

#include <QWebEngineProfile>

#include "Applications/Terravue/AppGlobals.h"
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
