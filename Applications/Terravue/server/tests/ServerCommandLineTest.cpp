#include <gtest/gtest.h>

#include <vector>

#include "Applications/Terravue/server/ServerCommandLine.h"

namespace terravue::server {
namespace {

ServerCommandLine Parse(std::vector<std::string_view> args) { return ParseServerCommandLine(args); }

TEST(ServerCommandLine, DefaultsToLoopbackAndTheFixedPortWithFallBack) {
  const ServerCommandLine command = Parse({});
  EXPECT_TRUE(command.error.empty());
  EXPECT_EQ(command.options.bindAddress, "127.0.0.1");
  EXPECT_EQ(command.options.port, kDefaultServerPort);
  EXPECT_TRUE(command.options.fallBackToFreePort);
  EXPECT_FALSE(command.assetFolderGiven);
  EXPECT_EQ(command.options.page.thumbnailPrefix, kDefaultThumbnailPrefix);
}

TEST(ServerCommandLine, AnExplicitPortDoesNotFallBack) {
  const ServerCommandLine command = Parse({"--port", "8080", "--bind", "0.0.0.0"});
  EXPECT_TRUE(command.error.empty());
  EXPECT_EQ(command.options.port, 8080);
  EXPECT_FALSE(command.options.fallBackToFreePort);
  EXPECT_EQ(command.options.bindAddress, "0.0.0.0");
}

TEST(ServerCommandLine, ReadsTheFolderTilesAndThumbnailPrefix) {
  const ServerCommandLine command =
      Parse({"--assets", "/opt/tv", "--tile-url", "http://127.0.0.1:9/{z}/{x}/{y}.png", "--tile-attribution",
             "Local tiles", "--thumb-prefix", "x:/", "--port", "0"});
  EXPECT_TRUE(command.error.empty());
  EXPECT_TRUE(command.assetFolderGiven);
  EXPECT_EQ(command.options.assetFolder, "/opt/tv");
  EXPECT_EQ(command.options.page.tileUrl, "http://127.0.0.1:9/{z}/{x}/{y}.png");
  EXPECT_EQ(command.options.page.tileAttribution, "Local tiles");
  EXPECT_EQ(command.options.page.thumbnailPrefix, "x:/");
  EXPECT_EQ(command.options.port, 0);
}

TEST(ServerCommandLine, ReportsBadArguments) {
  EXPECT_FALSE(Parse({"--port"}).error.empty());
  EXPECT_FALSE(Parse({"--port", "65536"}).error.empty());
  EXPECT_FALSE(Parse({"--port", "-1"}).error.empty());
  EXPECT_FALSE(Parse({"--port", "80x"}).error.empty());
  EXPECT_FALSE(Parse({"--bind", ""}).error.empty());
  EXPECT_FALSE(Parse({"--verbose"}).error.empty());
  EXPECT_TRUE(Parse({"--help"}).showHelp);
}

}  // namespace
}  // namespace terravue::server
