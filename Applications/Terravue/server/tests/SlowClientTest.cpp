#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "Applications/Terravue/server/SupportServer.h"
#include "Applications/Terravue/server/tests/TestBodies.h"

namespace terravue::server {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// A connected loopback socket that closes itself.
class ClientSocket {
 public:
  explicit ClientSocket(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd >= 0 && connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      close(m_fd);
      m_fd = -1;
    }
  }
  ~ClientSocket() {
    if (m_fd >= 0) {
      close(m_fd);
    }
  }
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  [[nodiscard]] bool Connected() const { return m_fd >= 0; }

  bool Send(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        return false;
      }
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Everything the server sends until it closes, or until `wait` passes without an end.
  std::string ReceiveUntilClosed(std::chrono::milliseconds wait, bool* closed = nullptr) {
    std::string answer;
    const auto until = Clock::now() + wait;
    bool ended = false;
    while (!ended) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) {
        break;
      }
      pollfd entry{m_fd, POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(left)) <= 0) {
        continue;
      }
      char buffer[4096];
      const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        ended = true;
      } else {
        answer.append(buffer, static_cast<std::size_t>(n));
      }
    }
    if (closed != nullptr) {
      *closed = ended;
    }
    return answer;
  }

  // Whether the server has closed the connection (a read sees its end or a reset), without waiting.
  bool ClosedByServer() {
    pollfd entry{m_fd, POLLIN, 0};
    if (poll(&entry, 1, 0) <= 0) {
      return false;
    }
    char byte = 0;
    return recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
  }

 private:
  int m_fd;
};

int StatusOf(const std::string& answer) {
  if (answer.size() < 12 || answer.compare(0, 5, "HTTP/") != 0) {
    return 0;
  }
  return std::atoi(answer.c_str() + 9);
}

// A client that sends a request head one byte at a time, each byte well inside the per-read
// timeout, for as long as it is let; it notes when the server hangs up on it.
class TricklingClient {
 public:
  TricklingClient(int port, std::chrono::milliseconds interval)
      : m_thread([this, port, interval] { Run(port, interval); }) {}
  ~TricklingClient() {
    m_stop = true;
    m_thread.join();
  }
  TricklingClient(const TricklingClient&) = delete;
  TricklingClient& operator=(const TricklingClient&) = delete;

  [[nodiscard]] bool CutOff() const { return m_cutOff; }
  [[nodiscard]] std::chrono::milliseconds HeldFor() const { return std::chrono::milliseconds(m_heldMs.load()); }

 private:
  void Run(int port, std::chrono::milliseconds interval) {
    ClientSocket socket(port);
    const std::string head =
        "GET /www/gps/terravue/help/help_ENU_11.html HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(4096, 'z') +
        "\r\n\r\n";
    const auto start = Clock::now();
    for (std::size_t i = 0; i < head.size() && !m_stop; ++i) {
      if (socket.ClosedByServer() || !socket.Send(head.substr(i, 1))) {
        m_cutOff = true;
        break;
      }
      const auto until = Clock::now() + interval;
      while (!m_stop && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    m_heldMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  }

  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_cutOff{false};
  std::atomic<long long> m_heldMs{0};
  std::thread m_thread;
};

class ServerUnderLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tv_slow_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    const fs::path web = testing::WebFolder();
    for (const char* name : {"terravue_page.html", "help_ENU_11.html"}) {
      fs::copy_file(web / name, m_root / name);
    }
  }
  void TearDown() override {
    m_server.Stop();
    fs::remove_all(m_root);
  }

  void StartServer(std::size_t workers, int deadlineMs, std::size_t maxBody = kMaxRequestBodyBytes) {
    SupportServerOptions options = testing::LocalOptions(m_root);
    options.workers = workers;
    options.requestDeadlineMs = deadlineMs;
    options.maxBodyBytes = maxBody;
    ASSERT_EQ(m_server.Start(options), ServerStatus::Ok);
  }

  // A plain request as the program makes it, with the time it took to be answered.
  int TimedHelpRequest(std::chrono::milliseconds* took) {
    httplib::Client client("127.0.0.1", m_server.Port());
    client.set_connection_timeout(10);
    client.set_read_timeout(10);
    const auto start = Clock::now();
    const auto res = client.Get("/www/gps/terravue/help/help_ENU_11.html");
    *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return res ? res->status : 0;
  }

  fs::path m_root;
  SupportServer m_server;
};

TEST_F(ServerUnderLoad, ASlowClientIsCutOffAtItsRequestDeadline) {
  StartServer(kServerWorkers, 1000);
  // One byte every 200 ms never trips the 5-second per-read timeout; only the deadline ends it.
  TricklingClient slow(m_server.Port(), std::chrono::milliseconds(200));
  const auto until = Clock::now() + std::chrono::seconds(6);
  while (!slow.CutOff() && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(slow.CutOff());
}

TEST_F(ServerUnderLoad, EightTricklingClientsDoNotStarveTheProgramsRequests) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds);
  std::vector<std::unique_ptr<TricklingClient>> slow;
  for (int i = 0; i < 8; ++i) {
    slow.push_back(std::make_unique<TricklingClient>(m_server.Port(), std::chrono::milliseconds(300)));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 3; ++i) {
    std::chrono::milliseconds took{};
    EXPECT_EQ(TimedHelpRequest(&took), 200);
    // Served next to the slow clients, not after their deadline.
    EXPECT_LT(took.count(), kRequestDeadlineMilliseconds / 2);
  }
}

TEST_F(ServerUnderLoad, WithEveryWorkerHeldTheDeadlineFreesThemForTheNextRequest) {
  // As many slow clients as workers: the program's request waits for a deadline, not forever.
  StartServer(8, 1000);
  std::vector<std::unique_ptr<TricklingClient>> slow;
  for (int i = 0; i < 8; ++i) {
    slow.push_back(std::make_unique<TricklingClient>(m_server.Port(), std::chrono::milliseconds(200)));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::chrono::milliseconds took{};
  EXPECT_EQ(TimedHelpRequest(&took), 200);
  EXPECT_LT(took.count(), 5000);
}

TEST_F(ServerUnderLoad, AnAnnouncedBodyOverTheLimitGets413BeforeAByteOfItIsSent) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds, 1000);
  ClientSocket client(m_server.Port());
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.Send(std::string("POST ") + std::string(kMapScriptPath) +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: 1001\r\n\r\n"));
  bool closed = false;
  const std::string answer = client.ReceiveUntilClosed(std::chrono::milliseconds(4000), &closed);
  EXPECT_EQ(StatusOf(answer), 413);
  EXPECT_THAT(answer, HasSubstr("Payload Too Large\n"));
  EXPECT_TRUE(closed);
}

TEST_F(ServerUnderLoad, AnAbsurdContentLengthGets413OnAnyPath) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds);
  for (const std::string& target : {std::string(kMapScriptPath), std::string("/www/gps/terravue/help/x.html")}) {
    ClientSocket client(m_server.Port());
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send("POST " + target +
                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 999999999999999999999999\r\n\r\n"));
    EXPECT_EQ(StatusOf(client.ReceiveUntilClosed(std::chrono::milliseconds(4000))), 413) << target;
  }
}

TEST_F(ServerUnderLoad, AClientStillSendingItsOversizedBodyReceivesThe413) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds, 1000);
  ClientSocket client(m_server.Port());
  ASSERT_TRUE(client.Connected());
  const std::string body(200000, 'x');
  ASSERT_TRUE(client.Send(std::string("POST ") + std::string(kMapScriptPath) +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body));
  EXPECT_EQ(StatusOf(client.ReceiveUntilClosed(std::chrono::milliseconds(4000))), 413);
}

TEST_F(ServerUnderLoad, AnswersRequestsSentTogetherOnOneConnection) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds);
  ClientSocket client(m_server.Port());
  ASSERT_TRUE(client.Connected());
  const std::string get = "GET /www/gps/terravue/help/help_ENU_11.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_TRUE(client.Send(get + get + "GET /nothing HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
  const std::string answer = client.ReceiveUntilClosed(std::chrono::milliseconds(4000));
  const std::size_t first = answer.find("HTTP/1.1 200");
  ASSERT_NE(first, std::string::npos);
  const std::size_t second = answer.find("HTTP/1.1 200", first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(answer.find("HTTP/1.1 404", second), std::string::npos);
}

TEST_F(ServerUnderLoad, AnswersUncompressedWhateverTheClientAccepts) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds);
  ClientSocket client(m_server.Port());
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(
      client.Send("GET /www/gps/terravue/help/help_ENU_11.html HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  "Accept-Encoding: gzip, deflate, br\r\nConnection: close\r\n\r\n"));
  const std::string answer = client.ReceiveUntilClosed(std::chrono::milliseconds(4000));
  EXPECT_EQ(StatusOf(answer), 200);
  EXPECT_EQ(answer.find("Content-Encoding"), std::string::npos);
  EXPECT_THAT(answer, HasSubstr("<html"));
}

TEST_F(ServerUnderLoad, AnswersAMapOfFiveThousandPictures) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds);
  std::vector<testing::TestPicture> pictures;
  for (int i = 0; i < 5000; ++i) {
    pictures.push_back({"/home/user/Pictures/trip/IMG_" + std::to_string(i) + ".jpg",
                        "cache_" + std::to_string(i) + ".jpg", "N:35:" + std::to_string(i % 60) + ":01.000",
                        "E:139:" + std::to_string(i / 100) + ":02.000"});
  }
  const std::string body = testing::MapBody(pictures, 5000);
  ASSERT_LT(body.size(), kMaxRequestBodyBytes);
  httplib::Client client("127.0.0.1", m_server.Port());
  client.set_read_timeout(20);
  const auto res = client.Post(std::string(kMapScriptPath), body, "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_THAT(res->body, HasSubstr(R"(name="pic_latitude5000" value="N:35:19:01.000")"));
  EXPECT_THAT(res->body, HasSubstr(R"("thumb":"tvthumb:/cache_4999.jpg")"));
}

// Connections that send nothing, or their request head a byte at a time, wait without holding a
// worker and are bounded in number (the oldest idle ones are closed first): however many there
// are, the program's own request is answered next to them.
TEST_F(ServerUnderLoad, HundredsOfIdleAndSlowConnectionsDoNotStarveTheProgramsRequests) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds);
  std::vector<std::unique_ptr<ClientSocket>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<ClientSocket>(m_server.Port()));
    ASSERT_TRUE(idle.back()->Connected());
  }
  std::vector<std::unique_ptr<TricklingClient>> slow;
  for (int i = 0; i < 100; ++i) {
    slow.push_back(std::make_unique<TricklingClient>(m_server.Port(), std::chrono::milliseconds(300)));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_LE(m_server.WaitingConnections(), kMaxWaitingPerAddress);
  for (int i = 0; i < 3; ++i) {
    std::chrono::milliseconds took{};
    EXPECT_EQ(TimedHelpRequest(&took), 200);
    // Answered next to them, not after a deadline or an idle timeout.
    EXPECT_LT(took.count(), 3000);
  }
  // The first idle connections made way; the slow ones still trickle.
  EXPECT_TRUE(idle.front()->ClosedByServer());
  int cutOff = 0;
  for (const auto& client : slow) {
    cutOff += client->CutOff() ? 1 : 0;
  }
  EXPECT_EQ(cutOff, 0);
}

TEST_F(ServerUnderLoad, AConnectionThatSendsNothingIsClosedAfterTheIdleTime) {
  StartServer(kServerWorkers, kRequestDeadlineMilliseconds);
  ClientSocket idle(m_server.Port());
  ASSERT_TRUE(idle.Connected());
  bool closed = false;
  EXPECT_EQ(idle.ReceiveUntilClosed(std::chrono::milliseconds(15000), &closed), "");
  EXPECT_TRUE(closed);
  EXPECT_EQ(m_server.WaitingConnections(), 0u);
}

}  // namespace
}  // namespace terravue::server
