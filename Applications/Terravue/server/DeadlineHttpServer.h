#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace terravue::server {

/// How long one connection may take, on top of the HTTP layer's per-read timeout.
struct ConnectionLimits {
  /// The whole head and body of one request must arrive within this time from its first byte
  /// (or from the moment the connection is taken up); the answer has the same time to leave.
  std::chrono::milliseconds requestDeadline{10000};
  /// How long a kept-alive connection may wait for its next request.
  std::chrono::milliseconds idleTimeout{5000};
  /// Requests served on one connection before it is closed.
  std::size_t maxRequestsPerConnection = 5;
  /// After an answer sent without reading the body, how long the unread rest is drained so that
  /// the client receives the answer instead of a reset.
  std::chrono::milliseconds drainTime{1000};
  /// Workers that serve requests; a request only takes one once its whole head has arrived.
  std::size_t workers = 32;
  /// Connections waiting for (the rest of) a request head, in all and from one address. Past
  /// either bound the oldest idle one of them (no byte of a request yet) is closed, or, with none
  /// idle, the one whose request began first.
  std::size_t maxWaiting = 512;
  std::size_t maxWaitingPerAddress = 128;
  /// Longest request head gathered before a worker takes the connection (and answers it).
  std::size_t maxHeadBytes = 64 * 1024;
};

class WaitingRoom;

/// The HTTP layer's server with a deadline for each request as a whole, and with workers only for
/// requests whose head has arrived: connections that send nothing, or their head a byte at a
/// time, wait in one thread that watches them all, bounded in number (ConnectionLimits), so that
/// however many there are the program's own requests find a worker at once. Everything else
/// (routing, parsing, answers) is the HTTP layer's. Set no task queue of your own.
class DeadlineHttpServer : public httplib::Server {
 public:
  explicit DeadlineHttpServer(const ConnectionLimits& limits);
  ~DeadlineHttpServer() override;
  DeadlineHttpServer(const DeadlineHttpServer&) = delete;
  DeadlineHttpServer& operator=(const DeadlineHttpServer&) = delete;

  /// From a request handler: the answer being made is the connection's last, and its body is not
  /// read. Only valid on the thread that serves the request.
  static void CloseAfterAnswer();

  /// After binding: lets the system hold `backlog` connections not yet taken up, instead of the
  /// HTTP layer's handful, so that a burst of connections (a crowd of idle ones included) is not
  /// met with dropped connection attempts that the client only repeats a second later.
  void WidenListenBacklog(int backlog);

  /// Connections waiting for a request head now (for tests and diagnostics).
  [[nodiscard]] std::size_t WaitingConnections() const;

 private:
  friend class WaitingRoom;
  friend class ServingQueue;

  bool process_and_close_socket(socket_t sock) override;
  // Serves the requests of a connection whose head has arrived, then hands it back to the waiting
  // room (kept alive) or closes it. `buffered` holds the bytes received so far.
  void Serve(int fd, std::string buffered, std::chrono::steady_clock::time_point requestStart,
             std::size_t requestsLeft);

  ConnectionLimits m_limits;
  std::atomic<WaitingRoom*> m_room{nullptr};
};

}  // namespace terravue::server
