#include "Applications/Terravue/TileRequestInterceptor.h"

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/ThumbnailSchemeHandler.h"

QByteArray TileRequestInterceptor::RefererFor(int resourceType, const QUrl& requestUrl, const QUrl& initiator,
                                              const QUrl& serverUrl) {
  if (resourceType != QWebEngineUrlRequestInfo::ResourceTypeImage ||
      !ThumbnailSchemeHandler::IsServerOrigin(initiator, serverUrl)) {
    return {};
  }
  const QString scheme = requestUrl.scheme();
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
    return {};
  }
  if (ThumbnailSchemeHandler::IsServerOrigin(requestUrl, serverUrl)) {
    return {};
  }
  return serverUrl.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
             .toEncoded() +
         '/';
}

void TileRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
  const QByteArray referer =
      RefererFor(info.resourceType(), info.requestUrl(), info.initiator(), QUrl(AppGlobals::Get().serverScriptUrl));
  if (!referer.isEmpty()) {
    info.setHttpHeader(QByteArrayLiteral("Referer"), referer);
  }
}
