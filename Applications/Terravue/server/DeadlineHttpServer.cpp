#include "Applications/Terravue/server/DeadlineHttpServer.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "xp/text/XpNumberText.h"

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
  port = XpParseInteger<int>(service.data()).value_or(0);
  return host.data();
}

// Bytes one read of a connection asks for.
constexpr std::size_t kReadChunk = 4096;

// One connection's socket with a deadline: every read waits at most the per-read timeout and never
// beyond the request's deadline; every write likewise with the answer's deadline.
class DeadlineStream final : public httplib::Stream {
 public:
  DeadlineStream(int fd, std::chrono::milliseconds readTimeout, std::chrono::milliseconds writeTimeout)
      : m_fd(fd), m_readTimeout(readTimeout), m_writeTimeout(writeTimeout) {}

  // The request began at `start` (its first byte); its head and body must be in by the deadline.
  void StartRequest(std::chrono::milliseconds deadline, Clock::time_point start) {
    m_requestDeadline = deadline;
    m_readUntil = start + deadline;
    m_writing = false;
  }

  // Bytes received before the stream took the connection; they are read first.
  void Preload(std::string bytes) {
    m_buffer.assign(bytes.begin(), bytes.end());
    m_begin = 0;
    m_end = m_buffer.size();
  }

  // Bytes already received but not yet handed out; they belong to the next request.
  [[nodiscard]] bool HasBuffered() const noexcept { return m_begin < m_end; }
  [[nodiscard]] std::string TakeBuffered() {
    std::string rest(m_buffer.data() + m_begin, m_end - m_begin);
    m_begin = m_end = 0;
    return rest;
  }

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
      m_buffer.resize(kReadChunk);
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
  std::vector<char> m_buffer;
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

// True when `bytes` hold a whole request head (up to its empty line).
bool HoldsWholeHead(const std::string& bytes) {
  return bytes.find("\r\n\r\n") != std::string::npos || bytes.find("\n\n") != std::string::npos;
}

// Answers go out uncompressed: the server answers on this machine, where compressing the page
// script and a page of thousands of pictures on every request takes seconds and saves nothing.
void KeepUncompressed(httplib::Request& req) { req.headers.erase("Accept-Encoding"); }

}  // namespace

// The connections that wait for a request head: one thread watches them all with poll, gathers
// the bytes of each head as they come, and hands a connection to a worker only once its head is
// whole. A connection that sends nothing is closed after the idle time, one whose head does not
// arrive in time at its request deadline; past the bounds on their number, the oldest idle ones
// make way first.
class WaitingRoom {
 public:
  WaitingRoom(DeadlineHttpServer& server, httplib::TaskQueue& workers) : m_server(server), m_workers(workers) {
    if (::pipe2(m_wake.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
      m_wake = {-1, -1};
    }
    m_thread = std::thread([this] { Run(); });
  }
  ~WaitingRoom() {
    Stop();
    for (const int fd : m_wake) {
      if (fd >= 0) {
        ::close(fd);
      }
    }
  }
  WaitingRoom(const WaitingRoom&) = delete;
  WaitingRoom& operator=(const WaitingRoom&) = delete;

  // Takes over `fd`: it waits here for its next request. `buffered` holds bytes of that request
  // already received, begun at `start`.
  void Park(int fd, std::string buffered, std::size_t requestsLeft, Clock::time_point start) {
    {
      std::scoped_lock lock(m_mutex);
      if (!m_stopped) {
        m_incoming.push_back(
            Waiting{fd, std::string(), std::move(buffered), Clock::now(), start, false, requestsLeft, 0});
        m_incoming.back().started = !m_incoming.back().buffer.empty();
        ++m_count;
        Wake();
        return;
      }
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }

  // Closes every waiting connection and ends the thread; later connections are closed at once.
  void Stop() {
    {
      std::scoped_lock lock(m_mutex);
      if (m_stopped) {
        return;
      }
      m_stopped = true;
      Wake();
    }
    if (m_thread.joinable()) {
      m_thread.join();
    }
  }

  [[nodiscard]] std::size_t Count() const { return m_count.load(); }

 private:
  struct Waiting {
    int fd;
    std::string address;
    std::string buffer;
    Clock::time_point since;  // when it began to wait
    Clock::time_point start;  // when its request began (its first byte), once started
    bool started;
    std::size_t requestsLeft;
    std::uint64_t order;
  };

  void Wake() const {
    if (m_wake[1] >= 0) {
      const char byte = 0;
      static_cast<void>(::write(m_wake[1], &byte, 1));
    }
  }

  void Close(Waiting& waiting) {
    // Counted out first: whoever sees the connection end sees it gone from the count too.
    --m_count;
    ::shutdown(waiting.fd, SHUT_RDWR);
    ::close(waiting.fd);
    waiting.fd = -1;
  }

  void Dispatch(Waiting& waiting) {
    // A worker takes it from here; the waiting room forgets it.
    const int fd = waiting.fd;
    waiting.fd = -1;
    --m_count;
    DeadlineHttpServer* server = &m_server;
    m_workers.enqueue([server, fd, buffer = std::move(waiting.buffer), start = waiting.start,
                       left = waiting.requestsLeft]() mutable { server->Serve(fd, std::move(buffer), start, left); });
  }

  // Makes room for one more connection from `address`: closes the oldest idle connection (or,
  // with none idle, the one whose request began first) among all, then among that address's.
  void MakeRoomFor(const std::string& address) {
    const auto evictOne = [this](const std::function<bool(const Waiting&)>& among) {
      Waiting* oldest = nullptr;
      for (Waiting& w : m_waiting) {
        if (w.fd < 0 || !among(w)) {
          continue;
        }
        const bool better =
            oldest == nullptr || (!w.started && oldest->started) ||
            (w.started == oldest->started && (w.started ? w.start < oldest->start : w.order < oldest->order));
        if (better) {
          oldest = &w;
        }
      }
      if (oldest == nullptr) {
        return;
      }
      // The room learns that a connection has begun its request only at its next round: bytes
      // that came since then make it no longer idle. Its head is read now instead, and the
      // choice is made again by the caller.
      if (!oldest->started && HasBytesWaiting(oldest->fd)) {
        Receive(*oldest, Clock::now());
        if (oldest->fd < 0 || oldest->started) {
          return;
        }
      }
      Close(*oldest);
    };
    const auto live = [this](const std::function<bool(const Waiting&)>& among) {
      std::size_t n = 0;
      for (const Waiting& w : m_waiting) {
        n += w.fd >= 0 && among(w) ? 1 : 0;
      }
      return n;
    };
    const auto any = [](const Waiting&) { return true; };
    const auto same = [&address](const Waiting& w) { return w.address == address; };
    while (live(any) >= m_server.m_limits.maxWaiting && live(any) > 0) {
      evictOne(any);
    }
    while (live(same) >= m_server.m_limits.maxWaitingPerAddress && live(same) > 0) {
      evictOne(same);
    }
  }

  // Takes in the connections parked since the last round.
  void Admit() {
    std::vector<Waiting> incoming;
    {
      std::scoped_lock lock(m_mutex);
      incoming.swap(m_incoming);
    }
    for (Waiting& w : incoming) {
      if (HoldsWholeHead(w.buffer)) {
        Dispatch(w);
        continue;
      }
      sockaddr_storage peer{};
      socklen_t length = sizeof peer;
      int port = 0;
      if (::getpeername(w.fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        w.address = NumericAddress(peer, length, port);
      }
      MakeRoomFor(w.address);
      w.order = m_nextOrder++;
      m_waiting.push_back(std::move(w));
    }
  }

  static bool HasBytesWaiting(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
  }

  // Reads what a connection has sent; hands it on when its head is whole.
  void Receive(Waiting& w, Clock::time_point now) {
    const std::size_t limit = m_server.m_limits.maxHeadBytes;
    std::array<char, kReadChunk> chunk{};
    const std::size_t want = std::min(chunk.size(), limit > w.buffer.size() ? limit - w.buffer.size() : 1);
    const ssize_t n = ::recv(w.fd, chunk.data(), want, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      return;
    }
    if (n <= 0) {
      Close(w);
      return;
    }
    if (!w.started) {
      w.started = true;
      w.start = now;
    }
    w.buffer.append(chunk.data(), static_cast<std::size_t>(n));
    // A head too long to be one the program sends is answered (and refused) by a worker.
    if (HoldsWholeHead(w.buffer) || w.buffer.size() >= limit) {
      Dispatch(w);
    }
  }

  void Run() {
    std::vector<pollfd> fds;
    for (;;) {
      {
        std::scoped_lock lock(m_mutex);
        if (m_stopped) {
          break;
        }
      }
      Admit();
      fds.clear();
      fds.push_back(pollfd{m_wake[0], POLLIN, 0});
      for (const Waiting& w : m_waiting) {
        fds.push_back(pollfd{w.fd, POLLIN, 0});
      }
      // Short rounds: timeouts are checked at least this often.
      static_cast<void>(::poll(fds.data(), fds.size(), 100));
      if (fds[0].revents != 0) {
        std::array<char, 256> drain{};
        while (::read(m_wake[0], drain.data(), drain.size()) > 0) {
        }
      }
      const auto now = Clock::now();
      for (std::size_t i = 0; i < m_waiting.size(); ++i) {
        Waiting& w = m_waiting[i];
        if (w.fd >= 0 && fds[i + 1].revents != 0) {
          Receive(w, now);
        }
        if (w.fd < 0) {
          continue;
        }
        const bool late = w.started ? now >= w.start + m_server.m_limits.requestDeadline
                                    : now >= w.since + m_server.m_limits.idleTimeout;
        if (late || !m_server.is_running()) {
          Close(w);
        }
      }
      std::erase_if(m_waiting, [](const Waiting& w) { return w.fd < 0; });
    }
    for (Waiting& w : m_waiting) {
      if (w.fd >= 0) {
        Close(w);
      }
    }
    m_waiting.clear();
    std::scoped_lock lock(m_mutex);
    for (Waiting& w : m_incoming) {
      Close(w);
    }
    m_incoming.clear();
  }

  DeadlineHttpServer& m_server;
  httplib::TaskQueue& m_workers;
  std::array<int, 2> m_wake{-1, -1};
  std::mutex m_mutex;
  bool m_stopped = false;               // under m_mutex
  std::vector<Waiting> m_incoming;      // under m_mutex
  std::vector<Waiting> m_waiting;       // the room's thread only
  std::uint64_t m_nextOrder = 0;        // the room's thread only
  std::atomic<std::size_t> m_count{0};  // waiting, incoming included
  std::thread m_thread;                 // last: starts once everything above exists
};

// The task queue the HTTP layer hands each accepted connection to: its workers serve requests,
// and its waiting room holds the connections between them. Ending it closes the waiting ones
// first, then waits for the workers.
class ServingQueue final : public httplib::TaskQueue {
 public:
  ServingQueue(DeadlineHttpServer& server, std::size_t workers)
      : m_server(server), m_pool(std::max<std::size_t>(1, workers)), m_room(server, m_pool) {
    m_server.m_room = &m_room;
  }
  ~ServingQueue() override { shutdown(); }
  ServingQueue(const ServingQueue&) = delete;
  ServingQueue& operator=(const ServingQueue&) = delete;

  void enqueue(std::function<void()> fn) override { m_pool.enqueue(std::move(fn)); }

  void shutdown() override {
    if (m_ended) {
      return;
    }
    m_ended = true;
    m_server.m_room = nullptr;
    m_room.Stop();
    m_pool.shutdown();
  }

 private:
  DeadlineHttpServer& m_server;
  httplib::ThreadPool m_pool;
  WaitingRoom m_room;
  bool m_ended = false;
};

DeadlineHttpServer::DeadlineHttpServer(const ConnectionLimits& limits) : m_limits(limits) {
  new_task_queue = [this] { return new ServingQueue(*this, m_limits.workers); };
}

DeadlineHttpServer::~DeadlineHttpServer() = default;

void DeadlineHttpServer::CloseAfterAnswer() { t_closeAfterAnswer = true; }

void DeadlineHttpServer::WidenListenBacklog(int backlog) {
  const socket_t sock = svr_sock_.load();
  if (sock != INVALID_SOCKET) {
    // Listening again on a listening socket only changes its backlog.
    static_cast<void>(::listen(sock, backlog));
  }
}

std::size_t DeadlineHttpServer::WaitingConnections() const {
  const WaitingRoom* room = m_room.load();
  return room != nullptr ? room->Count() : 0;
}

bool DeadlineHttpServer::process_and_close_socket(socket_t sock) {
  // A new connection waits for its first request in the waiting room, not on a worker.
  if (WaitingRoom* room = m_room.load(); room != nullptr && is_running()) {
    room->Park(sock, std::string(), m_limits.maxRequestsPerConnection, Clock::now());
    return true;
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  return false;
}

void DeadlineHttpServer::Serve(int fd, std::string buffered, Clock::time_point requestStart, std::size_t requestsLeft) {
  DeadlineStream stream(fd, ToMilliseconds(read_timeout_sec_, read_timeout_usec_),
                        ToMilliseconds(write_timeout_sec_, write_timeout_usec_));
  stream.Preload(std::move(buffered));
  stream.StartRequest(m_limits.requestDeadline, requestStart);
  t_closeAfterAnswer = false;
  bool closed = false;
  const bool served = process_request(stream, /*close_connection=*/requestsLeft <= 1, closed, KeepUncompressed);
  const bool drain = t_closeAfterAnswer;
  t_closeAfterAnswer = false;
  if (served && !closed && !drain && requestsLeft > 1 && is_running()) {
    // Kept alive: the connection waits for its next request in the waiting room again.
    if (WaitingRoom* room = m_room.load(); room != nullptr) {
      room->Park(fd, stream.TakeBuffered(), requestsLeft - 1, Clock::now());
      return;
    }
  }
  if (drain) {
    DrainBriefly(fd, m_limits.drainTime);
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace terravue::server
