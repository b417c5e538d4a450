#include "Applications/Terravue/InstanceChannel.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

constexpr char kMagic[] = "terravue-open 1 ";
constexpr char kAnswer[] = "ok\n";
// "terravue-open 1 " and at most five digits of the count before the newline.
constexpr qsizetype kMaxHeaderBytes = sizeof kMagic - 1 + 6;

// The bytes of the buffer held by a socket while its message comes in.
constexpr const char* kBufferProperty = "tvMessage";

}  // namespace

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() {
  if (m_server != nullptr) {
    m_server->close();
  }
}

QString InstanceChannel::SocketPath(const QString& lockPath) { return lockPath + QStringLiteral(".socket"); }

QByteArray InstanceChannel::EncodeMessage(const QStringList& paths) {
  QByteArray message(kMagic);
  message += QByteArray::number(paths.size());
  message += '\n';
  for (const QString& path : paths) {
    message += QFileInfo(path).absoluteFilePath().toUtf8();
    message += '\0';
  }
  return message;
}

InstanceChannel::Parse InstanceChannel::DecodeMessage(const QByteArray& bytes, QStringList* paths) {
  if (bytes.size() > kMaxMessageBytes) {
    return Parse::Invalid;
  }
  const qsizetype magicSize = sizeof kMagic - 1;
  const QByteArray magic(kMagic, magicSize);
  if (!bytes.startsWith(magic.left(bytes.size()))) {
    return Parse::Invalid;
  }
  const qsizetype lineEnd = bytes.indexOf('\n');
  if (lineEnd < 0) {
    return bytes.size() <= kMaxHeaderBytes ? Parse::Incomplete : Parse::Invalid;
  }
  if (lineEnd > kMaxHeaderBytes || lineEnd <= magicSize) {
    return Parse::Invalid;
  }
  const QByteArray countText = bytes.mid(magicSize, lineEnd - magicSize);
  bool ok = false;
  const int count = countText.toInt(&ok);
  // Digits only: no sign, no spaces, no leading zeros that would allow other spellings.
  if (!ok || count < 1 || count > kMaxPaths || QByteArray::number(count) != countText) {
    return Parse::Invalid;
  }
  QStringList found;
  qsizetype start = lineEnd + 1;
  while (found.size() < count) {
    const qsizetype end = bytes.indexOf('\0', start);
    if (end < 0) {
      return bytes.size() - start > kMaxPathBytes ? Parse::Invalid : Parse::Incomplete;
    }
    const qsizetype length = end - start;
    if (length == 0 || length > kMaxPathBytes || bytes.at(start) != '/') {
      return Parse::Invalid;
    }
    found.append(QString::fromUtf8(bytes.constData() + start, length));
    start = end + 1;
  }
  if (start != bytes.size()) {
    return Parse::Invalid;
  }
  if (paths != nullptr) {
    *paths = std::move(found);
  }
  return Parse::Complete;
}

bool InstanceChannel::Listen(const QString& socketPath) {
  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  // Holding the lock means no other instance listens here: what is left is a
  // crashed instance's socket file, which would refuse the new one.
  QLocalServer::removeServer(socketPath);
  if (!server->listen(socketPath)) {
    return false;
  }
  connect(server.get(), &QLocalServer::newConnection, this, &InstanceChannel::OnNewConnection);
  m_server = std::move(server);
  return true;
}

void InstanceChannel::OnNewConnection() {
  while (QLocalSocket* socket = m_server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    // A sender that never completes its message is dropped.
    QTimer::singleShot(kReceiveTimeoutMs, socket, [socket] { socket->abort(); });
  }
}

void InstanceChannel::OnReadyRead(QLocalSocket* socket) {
  QByteArray message = socket->property(kBufferProperty).toByteArray();
  message += socket->read(kMaxMessageBytes + 1 - message.size());
  QStringList paths;
  switch (DecodeMessage(message, &paths)) {
    case Parse::Incomplete:
      socket->setProperty(kBufferProperty, message);
      return;
    case Parse::Invalid:
      socket->abort();
      return;
    case Parse::Complete:
      break;
  }
  socket->setProperty(kBufferProperty, QVariant());
  socket->write(kAnswer, sizeof kAnswer - 1);
  socket->flush();
  socket->disconnectFromServer();
  emit pathsReceived(paths);
}

bool InstanceChannel::HandOver(const QString& socketPath, const QStringList& paths, int timeoutMs) {
  if (paths.isEmpty() || paths.size() > kMaxPaths) {
    return false;
  }
  const QByteArray message = EncodeMessage(paths);
  if (message.size() > kMaxMessageBytes) {
    return false;
  }
  const QDeadlineTimer deadline(timeoutMs);
  QLocalSocket socket;
  socket.connectToServer(socketPath);
  if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
    return false;
  }
  socket.write(message);
  while (socket.bytesToWrite() > 0) {
    if (deadline.hasExpired() || !socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
      return false;
    }
  }
  QByteArray answer;
  while (answer.size() < static_cast<qsizetype>(sizeof kAnswer - 1)) {
    if (socket.bytesAvailable() == 0 &&
        (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))) {
      return false;
    }
    answer += socket.read(static_cast<qint64>(sizeof kAnswer - 1) - answer.size());
  }
  return answer == QByteArray(kAnswer);
}
