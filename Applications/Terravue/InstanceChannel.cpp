#include "Applications/Terravue/InstanceChannel.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

// The bytes received so far from a sender, held by its socket while its message comes in.
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
  std::vector<std::string> absolute;
  absolute.reserve(static_cast<std::size_t>(paths.size()));
  for (const QString& path : paths) {
    absolute.push_back(QFileInfo(path).absoluteFilePath().toUtf8().toStdString());
  }
  return QByteArray::fromStdString(EncodeHandOverMessage(absolute));
}

HandOverParse InstanceChannel::DecodeMessage(const QByteArray& bytes, QStringList* paths) {
  std::vector<std::string> found;
  const HandOverParse parse =
      DecodeHandOverMessage(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), &found);
  if (parse == HandOverParse::Complete && paths != nullptr) {
    paths->clear();
    for (const std::string& path : found) {
      paths->append(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
    }
  }
  return parse;
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
  // One byte over the limit is enough to refuse the message.
  message += socket->read(static_cast<qint64>(kHandOverMaxMessageBytes) + 1 - message.size());
  QStringList paths;
  switch (DecodeMessage(message, &paths)) {
    case HandOverParse::Incomplete:
      socket->setProperty(kBufferProperty, message);
      return;
    case HandOverParse::Invalid:
      socket->abort();
      return;
    case HandOverParse::Complete:
      break;
  }
  socket->setProperty(kBufferProperty, QVariant());
  socket->write(kHandOverAnswer.data(), static_cast<qint64>(kHandOverAnswer.size()));
  socket->flush();
  socket->disconnectFromServer();
  emit pathsReceived(paths);
}

bool InstanceChannel::HandOver(const QString& socketPath, const QStringList& paths, int timeoutMs) {
  if (paths.isEmpty() || static_cast<std::size_t>(paths.size()) > kHandOverMaxPaths) {
    return false;
  }
  const QByteArray message = EncodeMessage(paths);
  if (static_cast<std::size_t>(message.size()) > kHandOverMaxMessageBytes) {
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
  const auto answerSize = static_cast<qsizetype>(kHandOverAnswer.size());
  QByteArray answer;
  while (answer.size() < answerSize) {
    if (socket.bytesAvailable() == 0 &&
        (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))) {
      return false;
    }
    answer += socket.read(answerSize - answer.size());
  }
  return answer.toStdString() == kHandOverAnswer;
}
