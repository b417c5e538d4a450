#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

#include "Applications/Terravue/mapdata/HandOverMessage.h"

class QLocalServer;
class QLocalSocket;

/// The local socket beside the single-instance lock. The running program
/// listens on it; a second start of the program sends it the photos it was
/// given (as a hand-over message, paths in UTF-8) and ends, so that opening
/// photos from a file manager while Terravue runs adds them to the open map.
/// The running program answers once it has the whole message and then hands
/// the paths on.
class InstanceChannel : public QObject {
  Q_OBJECT

 public:
  /// How long a second start waits for the running program's answer.
  static constexpr int kAnswerTimeoutMs = 3000;
  /// How long the running program waits for a sender's whole message.
  static constexpr int kReceiveTimeoutMs = 5000;

  explicit InstanceChannel(QObject* parent = nullptr);
  ~InstanceChannel() override;
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;

  /// The socket's path for the lock at `lockPath`.
  [[nodiscard]] static QString SocketPath(const QString& lockPath);

  /// Listens at `socketPath` for this user only. A socket file left there by
  /// an instance that ended without removing it is replaced, so only the
  /// holder of the lock may call this. False when it cannot listen.
  [[nodiscard]] bool Listen(const QString& socketPath);

  /// Sends `paths` to the program listening at `socketPath` and waits up to
  /// `timeoutMs` in all for its answer. True only when it answered that it
  /// took them; false when nothing listens, the answer does not come in time,
  /// or `paths` is empty.
  [[nodiscard]] static bool HandOver(const QString& socketPath, const QStringList& paths,
                                     int timeoutMs = kAnswerTimeoutMs);

  /// The message carrying `paths` (each made absolute).
  [[nodiscard]] static QByteArray EncodeMessage(const QStringList& paths);
  /// Reads a message from its first bytes; `paths` is set when it is complete.
  [[nodiscard]] static HandOverParse DecodeMessage(const QByteArray& bytes, QStringList* paths);

 signals:
  /// A second start handed over these absolute paths.
  void pathsReceived(const QStringList& paths);

 private:
  void OnNewConnection();
  void OnReadyRead(QLocalSocket* socket);

  std::unique_ptr<QLocalServer> m_server;
};
