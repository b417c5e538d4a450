#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Applications/Terravue/server/AssetResolver.h"

namespace terravue::server {
namespace {

namespace fs = std::filesystem;

class AssetFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv_assets_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
    fs::create_directories(m_root / "assets" / "leaflet" / "images");
    Write(m_root / "assets" / "terravue.js", "script");
    Write(m_root / "assets" / "leaflet" / "images" / "layers.png", "png");
    Write(m_root / "assets" / "terravue-server", "binary");
    Write(m_root / "secret.html", "outside");
    fs::create_symlink(m_root / "secret.html", m_root / "assets" / "link.html");
  }
  void TearDown() override { fs::remove_all(m_root); }

  static void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

  fs::path m_root;
};

TEST_F(AssetFolder, ServesFilesInsideTheFolderAndItsSubfolders) {
  const AssetResolver assets(m_root / "assets");
  std::string bytes;
  ASSERT_TRUE(assets.Read("terravue.js", bytes));
  EXPECT_EQ(bytes, "script");
  ASSERT_TRUE(assets.Read("leaflet/images/layers.png", bytes));
  EXPECT_EQ(bytes, "png");
}

TEST_F(AssetFolder, NeverServesAFileOutsideTheFolder) {
  const AssetResolver assets(m_root / "assets");
  std::string bytes = "stale";
  EXPECT_FALSE(assets.Read("../secret.html", bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(assets.Read("leaflet/../../secret.html", bytes));
  EXPECT_FALSE(assets.Read("link.html", bytes)) << "a symbolic link leading out of the folder";
  EXPECT_FALSE(assets.Read((m_root / "secret.html").string(), bytes));
}

TEST_F(AssetFolder, ServesOnlyPageFileTypes) {
  const AssetResolver assets(m_root / "assets");
  std::string bytes;
  EXPECT_FALSE(assets.Read("terravue-server", bytes));
  EXPECT_FALSE(assets.Read("missing.js", bytes));
  EXPECT_FALSE(assets.Read("leaflet", bytes));
}

TEST_F(AssetFolder, AMissingFolderServesNothing) {
  const AssetResolver assets(m_root / "none");
  EXPECT_TRUE(assets.Folder().empty());
  std::string bytes;
  EXPECT_FALSE(assets.Read("terravue.js", bytes));
}

TEST(SafeAssetPath, AcceptsPlainRelativeNames) {
  EXPECT_EQ(SafeAssetPath("terravue.js").value_or(""), "terravue.js");
  EXPECT_EQ(SafeAssetPath("leaflet/images/marker-icon-2x.png").value_or(""), "leaflet/images/marker-icon-2x.png");
  EXPECT_EQ(SafeAssetPath("help_JPN_11.HTML").value_or(""), "help_JPN_11.HTML");
}

TEST(SafeAssetPath, RefusesTraversalEncodingsAndOddNames) {
  for (const char* path : {"", "..", "../x.js", "a/../x.js", "./x.js", "/etc/x.js", "a//x.js", "a\\x.js", "%2e%2e/x.js",
                           ".hidden.js", "a/b/c/d.js", "x.exe", "x.js/", "x y.js", "x.js?"}) {
    EXPECT_FALSE(SafeAssetPath(path).has_value()) << path;
  }
  EXPECT_FALSE(SafeAssetPath(std::string_view("x\0.js", 5)).has_value());
  EXPECT_FALSE(SafeAssetPath(std::string(300, 'a') + ".js").has_value());
}

TEST(ContentType, FollowsTheExtension) {
  EXPECT_EQ(ContentTypeFor("a.js"), "text/javascript; charset=utf-8");
  EXPECT_EQ(ContentTypeFor("a.CSS"), "text/css; charset=utf-8");
  EXPECT_EQ(ContentTypeFor("GPS.gif"), "image/gif");
  EXPECT_EQ(ContentTypeFor("wait.htm"), "text/html; charset=utf-8");
  EXPECT_EQ(ContentTypeFor("x.bin"), "application/octet-stream");
}

}  // namespace
}  // namespace terravue::server
