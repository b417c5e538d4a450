#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>

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
};

/// The HTTP layer's server with a deadline for each request as a whole: a client that sends one
/// byte just before every per-read timeout can no longer hold a worker for as long as it likes.
/// Everything else (routing, parsing, answers) is the HTTP layer's.
class DeadlineHttpServer : public httplib::Server {
 public:
  explicit DeadlineHttpServer(const ConnectionLimits& limits);

  /// From a request handler: the answer being made is the connection's last, and its body is not
  /// read. Only valid on the thread that serves the request.
  static void CloseAfterAnswer();

 private:
  bool process_and_close_socket(socket_t sock) override;

  ConnectionLimits m_limits;
};

}  // namespace terravue::server
