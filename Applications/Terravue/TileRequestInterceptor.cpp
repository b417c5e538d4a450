#include "Applications/Terravue/TileRequestInterceptor.h"

#include <QMutex>
#include <QMutexLocker>

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

namespace {

QMutex g_hostsMutex;
QStringList g_hostsWithoutReferer;  // lower case; "{s}.example.org" for any sub-domain

}  // namespace

void TileRequestInterceptor::SetLayersWithoutReferer(const QStringList& urlTemplates) {
  QStringList hosts;
  for (const QString& url : urlTemplates) {
    // The template's own host part; "{s}" and the like are not URL characters, so cut by hand.
    const qsizetype start = url.indexOf(QLatin1String("://"));
    if (start < 0) {
      continue;
    }
    const qsizetype end = url.indexOf(QLatin1Char('/'), start + 3);
    QString host = url.mid(start + 3, end < 0 ? -1 : end - start - 3).toLower();
    if (const qsizetype at = host.lastIndexOf(QLatin1Char('@')); at >= 0) {
      host = host.mid(at + 1);
    }
    if (const qsizetype colon = host.lastIndexOf(QLatin1Char(':')); colon >= 0) {
      host.truncate(colon);
    }
    if (!host.isEmpty()) {
      hosts.append(host);
    }
  }
  const QMutexLocker lock(&g_hostsMutex);
  g_hostsWithoutReferer = hosts;
}

bool TileRequestInterceptor::WantsNoReferer(const QUrl& requestUrl) {
  const QString host = requestUrl.host().toLower();
  const QMutexLocker lock(&g_hostsMutex);
  for (const QString& entry : g_hostsWithoutReferer) {
    if (entry.startsWith(QLatin1String("{s}."))) {
      const QString domain = entry.mid(3);  // ".example.org"
      if (host.endsWith(domain) && host.size() > domain.size()) {
        return true;
      }
    } else if (entry == host) {
      return true;
    }
  }
  return false;
}

void TileRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
  if (WantsNoReferer(info.requestUrl())) {
    return;
  }
  const QByteArray referer =
      RefererFor(info.resourceType(), info.requestUrl(), info.initiator(), QUrl(AppGlobals::Get().serverScriptUrl));
  if (!referer.isEmpty()) {
    info.setHttpHeader(QByteArrayLiteral("Referer"), referer);
  }
}
