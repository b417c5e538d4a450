#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

/// Serves the thumbnails of the map page through the program's own URL scheme
/// ("tvthumb:/Trip/cache_0.jpg" is the file "Trip/cache_0.jpg" below the root
/// folder of the map sent, normally the work folder). The page comes from the support
/// server's loopback address, which may not read local files; this scheme lets
/// it show thumbnails without opening any of the user's files to other pages.
/// Only GET requests made by a page of the server's own origin are answered,
/// and only for ".jpg" files that really lie inside the served folder.
class ThumbnailSchemeHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT

 public:
  /// The scheme's name, as the server writes it before each thumbnail path.
  static constexpr const char* kScheme = "tvthumb";
  /// Largest thumbnail file served (thumbnails are at most 550 pixels wide).
  static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

  /// Registers the scheme with the browser engine. Must run once, before the
  /// application object is created.
  static void RegisterScheme();

  /// Serves to pages of the server script's origin (as start-up computed it)
  /// from the served folder.
  explicit ThumbnailSchemeHandler(QObject* parent);

  /// Makes `folder` the one thumbnails come from: the root folder of the map
  /// that was sent last (its thumbnail paths are relative to it). Empty: the
  /// work folder. User-interface thread only.
  static void SetServedFolder(const QString& folder);
  /// The folder thumbnails come from now.
  [[nodiscard]] static QString ServedFolder();

  /// Thumbnails being made (their full paths below the root folder of the map
  /// sent): a request for one that is not there yet waits for it instead of
  /// failing, so the page shows its placeholder until the thumbnail comes.
  /// User-interface thread only.
  static void ExpectThumbnails(const QStringList& files);
  /// The thumbnail at `file` is made, or will not be: the requests waiting for
  /// it are answered now. User-interface thread only.
  static void ThumbnailDone(const QString& file);
  /// No thumbnail is expected any more: every waiting request is answered as
  /// its file now stands. User-interface thread only.
  static void StopExpecting();
  /// Requests waiting for a thumbnail.
  [[nodiscard]] static int WaitingRequests();

  void requestStarted(QWebEngineUrlRequestJob* job) override;

  /// The file a thumbnail URL names below `workFolder`, after resolving
  /// symbolic links; empty when the URL is not of this scheme, has a host,
  /// query or fragment, names a path with an empty, ".", ".." or hidden
  /// segment, a backslash or a control character, does not end in ".jpg", or
  /// when the file is not a regular file inside the work folder.
  [[nodiscard]] static QString FileFor(const QUrl& url, const QString& workFolder);

  /// True when `initiator` is exactly the origin (scheme, host, port) of `serverUrl`.
  [[nodiscard]] static bool IsServerOrigin(const QUrl& initiator, const QUrl& serverUrl);
};
