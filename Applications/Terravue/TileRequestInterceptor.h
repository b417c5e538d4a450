#pragma once

#include <QStringList>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

/// Gives the map tiles of the server's page a Referer. Public tile servers
/// refuse image requests that carry none; the page's own origin (the support
/// server's) is what a browser would send. Only images that a page of the
/// server's origin loads from another HTTP(S) host get the header.
class TileRequestInterceptor : public QWebEngineUrlRequestInterceptor {
  Q_OBJECT

 public:
  explicit TileRequestInterceptor(QObject* parent) : QWebEngineUrlRequestInterceptor(parent) {}

  void interceptRequest(QWebEngineUrlRequestInfo& info) override;

  /// The Referer for a request of `resourceType` to `requestUrl` made by a page
  /// of `initiator`, given the server script's address; empty when the request
  /// gets none (not an image, not from the server's page, not HTTP(S), or to
  /// the server itself). The Referer is the server's origin followed by "/".
  [[nodiscard]] static QByteArray RefererFor(int resourceType, const QUrl& requestUrl, const QUrl& initiator,
                                             const QUrl& serverUrl);

  /// The map layers whose tile servers want no Referer, by their URL templates ("{s}." in front
  /// of a host stands for any sub-domain). Process-wide; replaces the list set before.
  static void SetLayersWithoutReferer(const QStringList& urlTemplates);
  /// Whether `requestUrl` is a tile of one of those layers.
  [[nodiscard]] static bool WantsNoReferer(const QUrl& requestUrl);
};
