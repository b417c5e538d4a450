#include "Applications/Terravue/ThumbnailSchemeHandler.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
#include <QPointer>
#include <QSet>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "Applications/Terravue/AppGlobals.h"

void ThumbnailSchemeHandler::RegisterScheme() {
  const QByteArray name(kScheme);
  if (QWebEngineUrlScheme::schemeByName(name).name() == name) {
    return;
  }
  QWebEngineUrlScheme scheme(name);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                  QWebEngineUrlScheme::CorsEnabled);
  QWebEngineUrlScheme::registerScheme(scheme);
}

namespace {

QString& ServedFolderStorage() {
  static QString folder;
  return folder;
}

// Thumbnails being made, and the requests waiting for them (a request the
// page has given up is gone from its pointer).
struct Expected {
  QSet<QString> files;
  QMultiHash<QString, QPointer<QWebEngineUrlRequestJob>> waiting;
};

Expected& ExpectedStorage() {
  static Expected expected;
  return expected;
}

void Reply(QWebEngineUrlRequestJob* job, const QString& path) {
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > ThumbnailSchemeHandler::kMaxFileBytes) {
    job->fail(QWebEngineUrlRequestJob::RequestFailed);
    return;
  }
  // The buffer belongs to the job, which keeps it for as long as it reads.
  auto* buffer = new QBuffer(job);
  buffer->setData(file.read(ThumbnailSchemeHandler::kMaxFileBytes));
  job->reply(QByteArrayLiteral("image/jpeg"), buffer);
}

void AnswerWaiting(const QString& file) {
  Expected& expected = ExpectedStorage();
  const QList<QPointer<QWebEngineUrlRequestJob>> jobs = expected.waiting.values(file);
  expected.waiting.remove(file);
  for (const QPointer<QWebEngineUrlRequestJob>& job : jobs) {
    if (job != nullptr) {
      Reply(job, ThumbnailSchemeHandler::FileFor(job->requestUrl(), ThumbnailSchemeHandler::ServedFolder()));
    }
  }
}

}  // namespace

ThumbnailSchemeHandler::ThumbnailSchemeHandler(QObject* parent) : QWebEngineUrlSchemeHandler(parent) {}

void ThumbnailSchemeHandler::SetServedFolder(const QString& folder) { ServedFolderStorage() = folder; }

QString ThumbnailSchemeHandler::ServedFolder() {
  const QString& folder = ServedFolderStorage();
  return folder.isEmpty() ? AppGlobals::Get().workFolder : folder;
}

void ThumbnailSchemeHandler::ExpectThumbnails(const QStringList& files) {
  for (const QString& file : files) {
    ExpectedStorage().files.insert(file);
  }
}

void ThumbnailSchemeHandler::ThumbnailDone(const QString& file) {
  ExpectedStorage().files.remove(file);
  AnswerWaiting(file);
}

void ThumbnailSchemeHandler::StopExpecting() {
  Expected& expected = ExpectedStorage();
  expected.files.clear();
  const QStringList files = expected.waiting.uniqueKeys();
  for (const QString& file : files) {
    AnswerWaiting(file);
  }
}

int ThumbnailSchemeHandler::WaitingRequests() {
  int count = 0;
  for (const QPointer<QWebEngineUrlRequestJob>& job : ExpectedStorage().waiting) {
    count += job != nullptr ? 1 : 0;
  }
  return count;
}

bool ThumbnailSchemeHandler::IsServerOrigin(const QUrl& initiator, const QUrl& serverUrl) {
  if (!initiator.isValid() || !serverUrl.isValid() || initiator.host().isEmpty()) {
    return false;
  }
  return initiator.scheme() == serverUrl.scheme() && initiator.host() == serverUrl.host() &&
         initiator.port(-1) == serverUrl.port(-1);
}

QString ThumbnailSchemeHandler::FileFor(const QUrl& url, const QString& workFolder) {
  if (url.scheme() != QLatin1String(kScheme) || !url.host().isEmpty() || url.hasQuery() || url.hasFragment() ||
      workFolder.isEmpty()) {
    return {};
  }
  const QString path = url.path(QUrl::FullyDecoded);
  if (!path.startsWith(QLatin1Char('/'))) {
    return {};
  }
  const QStringList segments = path.mid(1).split(QLatin1Char('/'));
  for (const QString& segment : segments) {
    if (segment.isEmpty() || segment.startsWith(QLatin1Char('.')) || segment.contains(QLatin1Char('\\'))) {
      return {};
    }
    for (const QChar c : segment) {
      if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
        return {};
      }
    }
  }
  if (!segments.back().endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive)) {
    return {};
  }
  // Symbolic links are resolved on both sides, so a link inside the work
  // folder can't lead out of it.
  const QString root = QFileInfo(workFolder).canonicalFilePath();
  const QFileInfo file(workFolder + path);
  const QString resolved = file.canonicalFilePath();
  if (root.isEmpty() || resolved.isEmpty() || !resolved.startsWith(root + QLatin1Char('/'))) {
    return {};
  }
  if (!QFileInfo(resolved).isFile()) {
    return {};
  }
  return resolved;
}

void ThumbnailSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const AppGlobals& globals = AppGlobals::Get();
  if (job->requestMethod() != QByteArrayLiteral("GET") ||
      !IsServerOrigin(job->initiator(), QUrl(globals.serverScriptUrl))) {
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
    return;
  }
  const QString path = FileFor(job->requestUrl(), ServedFolder());
  if (path.isEmpty()) {
    // A thumbnail still being made is answered once it is there. Only the
    // exact files expected wait: any other name fails at once.
    const QUrl url = job->requestUrl();
    const QString file = ServedFolder() + url.path(QUrl::FullyDecoded);
    if (url.scheme() == QLatin1String(kScheme) && !url.hasQuery() && !url.hasFragment() &&
        ExpectedStorage().files.contains(file)) {
      ExpectedStorage().waiting.insert(file, QPointer<QWebEngineUrlRequestJob>(job));
      return;
    }
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  Reply(job, path);
}
