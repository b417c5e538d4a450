#include "Applications/Terravue/server/DeadlineHttpServer.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

namespace terravue::server {
namespace {

using Clock = std::chrono::steady_clock;

// Set by a handler on the worker thread that serves the request.
thread_local bool t_closeAfterAnswer = false;

// Waits until the socket is ready for `events` or `until` passes; false on timeout or error.
bool WaitFor(int fd, short events, Clock::time_point until) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd entry{fd, events, 0};
    const int n = poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (n > 0) {
      return true;
    }
    if (n < 0 && errno != EINTR) {
      return false;
    }
  }
}

std::string NumericAddress(const sockaddr_storage& address, socklen_t length, int& port) {
  std::array<char, NI_MAXHOST> host{};
  std::array<char, NI_MAXSERV> service{};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host.data(), host.size(), service.data(),
                  service.size(), NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    port = 0;
    return {};
  }
  port = std::atoi(service.data());
  return host.data();
}

// One connection's socket with a deadline: every read waits at most the per-read timeout and never
// beyond the request's deadline; every write likewise with the answer's deadline.
class DeadlineStream final : public httplib::Stream {
 public:
  DeadlineStream(int fd, std::chrono::milliseconds readTimeout, std::chrono::milliseconds writeTimeout)
      : m_fd(fd), m_readTimeout(readTimeout), m_writeTimeout(writeTimeout) {}

  void StartRequest(std::chrono::milliseconds deadline) {
    m_requestDeadline = deadline;
    m_readUntil = Clock::now() + deadline;
    m_writing = false;
  }

  // Bytes already received but not yet handed out; they belong to the next request.
  [[nodiscard]] bool HasBuffered() const noexcept { return m_begin < m_end; }

  bool is_readable() const override {
    return HasBuffered() || WaitFor(m_fd, POLLIN, std::min(m_readUntil, Clock::now() + m_readTimeout));
  }

  bool is_writable() const override {
    return WaitFor(m_fd, POLLOUT, std::min(m_writeUntil, Clock::now() + m_writeTimeout));
  }

  ssize_t read(char* ptr, size_t size) override {
    if (size == 0) {
      return 0;
    }
    if (!HasBuffered()) {
      if (!is_readable()) {
        return -1;
      }
      const ssize_t n = Receive(m_buffer.data(), m_buffer.size());
      if (n <= 0) {
        return n;
      }
      m_begin = 0;
      m_end = static_cast<std::size_t>(n);
    }
    const std::size_t count = std::min(size, m_end - m_begin);
    std::copy_n(m_buffer.data() + m_begin, count, ptr);
    m_begin += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!m_writing) {
      // The answer gets its own time, counted from its first byte.
      m_writing = true;
      m_writeUntil = Clock::now() + m_requestDeadline;
    }
    if (!is_writable()) {
      return -1;
    }
    for (;;) {
      const ssize_t n = send(m_fd, ptr, size, MSG_NOSIGNAL);
      if (n >= 0 || errno != EINTR) {
        return n;
      }
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      port = 0;
      return;
    }
    ip = NumericAddress(address, length, port);
  }

  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      port = 0;
      return;
    }
    ip = NumericAddress(address, length, port);
  }

  socket_t socket() const override { return m_fd; }

 private:
  ssize_t Receive(char* data, std::size_t size) const {
    for (;;) {
      const ssize_t n = recv(m_fd, data, size, 0);
      if (n >= 0 || errno != EINTR) {
        return n;
      }
    }
  }

  int m_fd;
  std::chrono::milliseconds m_readTimeout;
  std::chrono::milliseconds m_writeTimeout;
  std::chrono::milliseconds m_requestDeadline{0};
  Clock::time_point m_readUntil{};
  Clock::time_point m_writeUntil{};
  bool m_writing = false;
  std::array<char, 4096> m_buffer{};
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
};

std::chrono::milliseconds ToMilliseconds(time_t seconds, time_t microseconds) {
  return std::chrono::milliseconds(static_cast<long long>(seconds) * 1000 + microseconds / 1000);
}

// Reads and drops what the client still sends, for a short while, so that closing a socket with
// unread data does not reset the connection before the client has read the answer.
void DrainBriefly(int fd, std::chrono::milliseconds time) {
  shutdown(fd, SHUT_WR);
  const auto until = Clock::now() + time;
  std::array<char, 4096> sink{};
  while (WaitFor(fd, POLLIN, until)) {
    if (recv(fd, sink.data(), sink.size(), 0) <= 0) {
      break;
    }
  }
}

// Answers go out uncompressed: the server answers on this machine, where compressing the page
// script and a page of thousands of pictures on every request takes seconds and saves nothing.
void KeepUncompressed(httplib::Request& req) { req.headers.erase("Accept-Encoding"); }

}  // namespace

DeadlineHttpServer::DeadlineHttpServer(const ConnectionLimits& limits) : m_limits(limits) {}

void DeadlineHttpServer::CloseAfterAnswer() { t_closeAfterAnswer = true; }

bool DeadlineHttpServer::process_and_close_socket(socket_t sock) {
  DeadlineStream stream(sock, ToMilliseconds(read_timeout_sec_, read_timeout_usec_),
                        ToMilliseconds(write_timeout_sec_, write_timeout_usec_));
  bool served = false;
  bool drain = false;
  for (std::size_t count = m_limits.maxRequestsPerConnection; count > 0 && is_running(); --count) {
    // Wait for the next request in short steps, so that stopping the server is not held up.
    const auto idleUntil = Clock::now() + m_limits.idleTimeout;
    bool ready = stream.HasBuffered();
    while (!ready && is_running() && Clock::now() < idleUntil) {
      ready = WaitFor(sock, POLLIN, std::min(idleUntil, Clock::now() + std::chrono::milliseconds(100)));
    }
    if (!ready || !is_running()) {
      break;
    }
    stream.StartRequest(m_limits.requestDeadline);
    t_closeAfterAnswer = false;
    bool closed = false;
    served = process_request(stream, /*close_connection=*/count == 1, closed, KeepUncompressed);
    drain = t_closeAfterAnswer;
    t_closeAfterAnswer = false;
    if (!served || closed || drain) {
      break;
    }
  }
  if (drain) {
    DrainBriefly(sock, m_limits.drainTime);
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  return served;
}

}  // namespace terravue::server
