#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Applications/Terravue/server/SupportServer.h"
#include "Applications/Terravue/server/tests/TestBodies.h"

namespace terravue::server {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Sends raw bytes to the server and answers its first response: the head and as many body bytes
// as its Content-Length names (or everything until the server closes or goes quiet).
std::string RawExchange(int port, std::string_view request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    return {};
  }
  timeval timeout{3, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    std::size_t sent = 0;
    while (sent < request.size()) {
      const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        break;
      }
      sent += static_cast<std::size_t>(n);
    }
    // No half-close: the server drops its answer to a client that has shut its sending side.
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(n));
      const std::size_t headEnd = answer.find("\r\n\r\n");
      if (headEnd == std::string::npos) {
        continue;
      }
      const std::size_t lengthAt = answer.find("Content-Length: ");
      if (lengthAt != std::string::npos && lengthAt < headEnd &&
          answer.size() >= headEnd + 4 + std::strtoul(answer.c_str() + lengthAt + 16, nullptr, 10)) {
        break;
      }
    }
  }
  close(fd);
  return answer;
}

int StatusOf(const std::string& answer) {
  if (answer.size() < 12 || answer.compare(0, 5, "HTTP/") != 0) {
    return 0;
  }
  return std::atoi(answer.c_str() + 9);
}

std::string RawGet(int port, std::string_view target) {
  return RawExchange(port, "GET " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

class RunningServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv_server_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
    const fs::path web = testing::WebFolder();
    fs::create_directories(m_root / "assets");
    for (const char* name : {"terravue_page.html", "terravue.js", "terravue.css", "GPS.gif", "pin_std1.png",
                             "help_ENU_11.html", "help_JPN_11.html"}) {
      fs::copy_file(web / name, m_root / "assets" / name);
    }
    std::ofstream(m_root / "secret.html") << "secret";
    std::ofstream(m_root / "assets" / "terravue-server") << "binary";
    ASSERT_EQ(m_server.Start(testing::LocalOptions(m_root / "assets")), ServerStatus::Ok);
    m_port = m_server.Port();
  }
  void TearDown() override {
    m_server.Stop();
    fs::remove_all(m_root);
  }

  httplib::Result Post(const std::string& body) {
    httplib::Client client("127.0.0.1", m_port);
    return client.Post(std::string(kMapScriptPath), body, "application/x-www-form-urlencoded");
  }

  fs::path m_root;
  SupportServer m_server;
  int m_port = 0;
};

TEST_F(RunningServer, AnswersTheMapPostWithTheInteractivePage) {
  EXPECT_THAT(m_server.BaseUrl(), StartsWith("http://127.0.0.1:"));
  EXPECT_EQ(m_server.MapScriptUrl(), m_server.BaseUrl() + "/www/gps/terravue/script2/terravue.php");
  const auto res = Post(testing::MapBody(testing::ThreePictures(), 1));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_THAT(res->get_header_value("Content-Security-Policy"), HasSubstr("script-src 'self'"));
  EXPECT_THAT(res->get_header_value("Content-Security-Policy"), HasSubstr("tvthumb:"));
  EXPECT_THAT(res->body, HasSubstr(R"(name="pic_latitude2" value="N:34:41:37.000")"));
  EXPECT_THAT(res->body, HasSubstr(R"("thumb":"tvthumb:/cache_0.jpg")"));
}

TEST_F(RunningServer, AnswersInTheRequestedLanguage) {
  const auto res = Post(testing::MapBody({}, 0, "JPN"));
  ASSERT_TRUE(res);
  EXPECT_THAT(res->body, HasSubstr("<html lang=\"ja\">"));
  EXPECT_THAT(res->body, HasSubstr(R"("lang":"JPN")"));
}

TEST_F(RunningServer, AMalformedBodyGets400WithAShortText) {
  const auto res = Post("format_version=1.1&lang=%zz");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_EQ(res->body, "Bad Request: malformed percent escape\n");
}

TEST_F(RunningServer, ABodyOverTheLimitGets413AndOneAtTheLimitIsRead) {
  std::string atLimit = testing::MapBody({}, 0) + "&padding=";
  atLimit.resize(kMaxRequestBodyBytes, 'x');
  const auto accepted = Post(atLimit);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->status, 200);
  const auto refused = Post(atLimit + "x");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 413);
}

TEST_F(RunningServer, ServesHelpPagesAndPageFiles) {
  httplib::Client client("127.0.0.1", m_port);
  for (const char* path : {"/www/gps/terravue/help/help_ENU_11.html", "/www/gps/terravue/help/help_JPN_11.html"}) {
    const auto res = client.Get(path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << path;
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  }
  const auto gif = client.Get("/www/gps/terravue/script/GPS.gif");
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->status, 200);
  EXPECT_EQ(gif->get_header_value("Content-Type"), "image/gif");
  EXPECT_THAT(gif->body, StartsWith("GIF89a"));
  const auto script = client.Get("/www/gps/terravue/script/terravue.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  EXPECT_EQ(script->get_header_value("X-Content-Type-Options"), "nosniff");
}

TEST_F(RunningServer, UnknownPathsGet404) {
  for (const char* target :
       {"/", "/index.html", "/www/gps/terravue/script/none.js", "/www/gps/terravue/script2/terravue.php",
        "/www/gps/terravue/help/help_XXX_11.html", "/www/gps/terravue/help/terravue.js",
        "/www/gps/terravue/script/terravue-server", "/www/gps/terravue/script/"}) {
    const std::string answer = RawGet(m_port, target);
    EXPECT_EQ(StatusOf(answer), 404) << target;
    EXPECT_THAT(answer, HasSubstr("Not Found")) << target;
  }
}

TEST_F(RunningServer, NeverServesAFileOutsideTheAssetFolder) {
  for (const char* target :
       {"/www/gps/terravue/script/../secret.html", "/www/gps/terravue/script/%2e%2e/secret.html",
        "/www/gps/terravue/script/%2E%2E%2Fsecret.html", "/www/gps/terravue/script/..%2fsecret.html",
        "/www/gps/terravue/script/%252e%252e%252fsecret.html", "/www/gps/terravue/script/..%5csecret.html",
        "/www/gps/terravue/script/..\\secret.html", "/www/gps/terravue/script/.%2e/secret.html",
        "/www/gps/terravue/help/help_..%2f..%2fsecret.html", "/www/gps/terravue/help/..%2fsecret.html",
        "/www/gps/terravue/script/%2fetc%2fpasswd", "/www/gps/terravue/script//etc/hostname",
        "/www/gps/terravue/script/secret.html%00.js", "/../secret.html"}) {
    const std::string answer = RawGet(m_port, target);
    EXPECT_NE(StatusOf(answer), 200) << target;
    EXPECT_THAT(answer, ::testing::Not(HasSubstr("secret\n"))) << target;
    EXPECT_EQ(answer.find("\r\n\r\nsecret"), std::string::npos) << target;
  }
}

TEST_F(RunningServer, StillAnswersAfterAThousandMalformedRequests) {
  const std::vector<std::string> bad = {
      "GARBAGE\r\n\r\n",
      "GET\r\n\r\n",
      "POST /www/gps/terravue/script2/terravue.php HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nlang=",
      "POST /www/gps/terravue/script2/terravue.php HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\n%zz",
      "POST /www/gps/terravue/script2/terravue.php HTTP/1.1\r\nHost: x\r\nContent-Length: 9\r\n\r\nselect=%f",
      std::string("\0\xff\xfe\r\n\r\n", 7),
      "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n",
      "POST /www/gps/terravue/script2/terravue.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
  };
  int answered = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::string answer = RawExchange(m_port, bad[static_cast<std::size_t>(i) % bad.size()]);
    answered += StatusOf(answer) >= 400 ? 1 : 0;
  }
  EXPECT_GT(answered, 800);
  const auto res = Post(testing::MapBody(testing::ThreePictures(), 1));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST(SupportServer, FallsBackToAFreePortWhenItsPortIsTaken) {
  SupportServer first;
  SupportServerOptions options = testing::LocalOptions();
  ASSERT_EQ(first.Start(options), ServerStatus::Ok);

  SupportServer second;
  options.port = first.Port();
  options.fallBackToFreePort = true;
  ASSERT_EQ(second.Start(options), ServerStatus::Ok);
  EXPECT_NE(second.Port(), first.Port());
  EXPECT_GT(second.Port(), 0);

  SupportServer third;
  options.fallBackToFreePort = false;
  EXPECT_EQ(third.Start(options), ServerStatus::BindFailed);
  EXPECT_FALSE(third.IsRunning());
}

TEST(SupportServer, StopsCleanlyAndFreesItsPort) {
  SupportServer server;
  SupportServerOptions options = testing::LocalOptions();
  ASSERT_EQ(server.Start(options), ServerStatus::Ok);
  EXPECT_EQ(server.Start(options), ServerStatus::AlreadyRunning);
  const int port = server.Port();
  EXPECT_EQ(StatusOf(RawGet(port, "/www/gps/terravue/script/GPS.gif")), 200);
  server.Stop();
  EXPECT_FALSE(server.IsRunning());
  EXPECT_EQ(server.Port(), 0);
  EXPECT_EQ(RawGet(port, "/"), "");
  server.Stop();

  SupportServer again;
  options.port = port;
  options.fallBackToFreePort = false;
  EXPECT_EQ(again.Start(options), ServerStatus::Ok);
}

TEST(SupportServer, RefusesToStartWithoutItsFiles) {
  SupportServer server;
  SupportServerOptions options = testing::LocalOptions("/nonexistent/terravue/assets");
  EXPECT_EQ(server.Start(options), ServerStatus::NoAssetFolder);
  options.assetFolder = fs::path(TV_SOURCE_DIR) / "Applications/Terravue/server";
  EXPECT_EQ(server.Start(options), ServerStatus::NoPageTemplate);
  EXPECT_FALSE(server.IsRunning());
}

}  // namespace
}  // namespace terravue::server
