#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Applications/Terravue/server/AssetFolder.h"

namespace terravue::server {
namespace {

namespace fs = std::filesystem;

class FindAssetFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv_asset_folder_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
    fs::create_directories(m_root / "bin");
  }
  void TearDown() override { fs::remove_all(m_root); }

  static void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "<html></html>";
  }

  fs::path m_root;
};

TEST_F(FindAssetFolderTest, TakesTheProgramsOwnFolderWhenThePageFilesAreBesideIt) {
  Touch(m_root / "bin" / "map.html");
  Touch(m_root / "share" / "terravue" / "map.html");
  EXPECT_EQ(FindAssetFolder(m_root / "bin"), m_root / "bin");
}

TEST_F(FindAssetFolderTest, FindsTheSharedDataFolderOfAnInstallationPrefix) {
  Touch(m_root / "share" / "terravue" / "map.html");
  EXPECT_EQ(FindAssetFolder(m_root / "bin"), m_root / "share" / "terravue");
}

TEST_F(FindAssetFolderTest, KeepsTheProgramsFolderWhenNoFolderHoldsThePageFiles) {
  fs::create_directories(m_root / "share" / "terravue");
  Touch(m_root / "share" / "terravue" / "help_ENU_11.html");
  EXPECT_EQ(FindAssetFolder(m_root / "bin"), m_root / "bin");
}

TEST_F(FindAssetFolderTest, DoesNotTakeAFolderNamedLikeThePageFile) {
  fs::create_directories(m_root / "share" / "terravue" / "map.html");
  EXPECT_EQ(FindAssetFolder(m_root / "bin"), m_root / "bin");
}

TEST_F(FindAssetFolderTest, LeavesAnUnknownProgramFolderEmpty) { EXPECT_TRUE(FindAssetFolder({}).empty()); }

TEST(RunningExecutableFolder, IsTheFolderOfThisTestProgram) {
  const fs::path folder = RunningExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(folder.is_absolute());
}

}  // namespace
}  // namespace terravue::server
