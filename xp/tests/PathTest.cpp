#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "xp/base/XpFileSystem.h"
#include "xp/base/XpPath.h"
#include "xp/base/XpSpecialFolder.h"
#include "xp/tests/TestSupport.h"

namespace {

using testsupport::EnvGuard;
using testsupport::TempDir;

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ---- Path text ----

struct TextCase {
  const char* input;
  const char* expected;
};

TEST(XpPathText, ExtensionIsTheTextFromTheLastDotOfTheLastElement) {
  const TextCase cases[] = {
      {"/a/b/photo.JPG", ".JPG"},
      {"/a.b/photo", ""},
      {"photo.tar.gz", ".gz"},
      {"/a/.hidden", ".hidden"},
      {"", ""},
      {"name.", "."},
      {"/a/b.c/", ""},
      {"dir\\x.jpg", ".jpg"},
      {"/a/b/c", ""},
      {".", "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(XpGetExtension(c.input), c.expected);
  }
}

TEST(XpPathText, FileNameIsTheTextAfterTheLastSeparator) {
  const TextCase cases[] = {
      {"/a/b/c.jpg", "c.jpg"}, {"c.jpg", "c.jpg"}, {"/a/b/", ""}, {"/", ""}, {"", ""}, {"a\\b", "a\\b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(XpGetFileName(c.input), c.expected);
  }
}

TEST(XpPathText, SplitPathRemovesOneTrailingSeparatorUnlessThePathIsOneCharacter) {
  struct Case {
    const char* input;
    const char* folder;
    const char* name;
    const char* extension;
  };
  const Case cases[] = {
      {"/a/b/c.jpg", "/a/b/", "c", ".jpg"},
      {"/a/b/", "/a/", "b", ""},
      {"/", "/", "", ""},
      {"c", "", "c", ""},
      {"a.b.c", "", "a.b", ".c"},
      {"/a/.bashrc", "/a/", "", ".bashrc"},
      {"", "", "", ""},
      {"//", "/", "", ""},
      {"/a/b//", "/a/b/", "", ""},
      {"dir/x.tar.gz", "dir/", "x.tar", ".gz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const XpPathParts parts = XpSplitPath(c.input);
    EXPECT_EQ(parts.folder, c.folder);
    EXPECT_EQ(parts.name, c.name);
    EXPECT_EQ(parts.extension, c.extension);
  }
}

TEST(XpPathText, ParentOfAFolderPathIsTheFolderAbove) {
  EXPECT_EQ(XpGetParent("/usr/bin/prog"), "/usr/bin/");
  EXPECT_EQ(XpGetParent("/usr/bin/"), "/usr/");
  EXPECT_EQ(XpGetParent(XpGetParent("/usr/bin/prog")), "/usr/");
  EXPECT_EQ(XpGetParent("/usr"), "/");
  EXPECT_EQ(XpGetParent("/"), "/");
  EXPECT_EQ(XpGetParent("relative"), "");
}

TEST(XpPathText, ParentTwiceOfTheProgramPathIsTheFolderAboveTheProgramsFolder) {
  const std::string program = XpGetSpecialFolder(XpSpecialFolder::ProgramPath);
  ASSERT_FALSE(program.empty());
  const std::string programFolder = program.substr(0, program.rfind('/'));
  const std::string above = programFolder.substr(0, programFolder.rfind('/') + 1);
  EXPECT_EQ(XpGetParent(XpGetParent(program)), above);
  EXPECT_EQ(above.back(), '/');
}

TEST(XpPathText, JoinPutsExactlyOneSeparatorBetweenFolderAndName) {
  struct Case {
    const char* folder;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"", "name", "name"}, {"", "/name", "/name"}, {"/a/", "/b", "/a/b"}, {"/a", "b", "/a/b"},
      {"/a/", "b", "/a/b"}, {"/a", "/b", "/a/b"},   {"/", "b", "/b"},      {"/a", "", "/a/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + " + " + c.name);
    EXPECT_EQ(XpJoinPath(c.folder, c.name), c.expected);
  }
}

TEST(XpPathText, RootIsTheSeparatorForAbsolutePathsAndEmptyOtherwise) {
  const TextCase cases[] = {{"/a/b", "/"}, {"/", "/"}, {"a/b", ""}, {"./a", ""}, {"", ""}, {"C:\\x", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(XpGetRoot(c.input), c.expected);
  }
}

TEST(XpPathText, StripTrailingSeparatorRemovesOneAndKeepsTheRoot) {
  const TextCase cases[] = {{"/a/b/", "/a/b"}, {"/a/b//", "/a/b/"}, {"/a/b", "/a/b"}, {"/", "/"}, {"", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(XpStripTrailingBackslash(c.input), c.expected);
  }
}

TEST(XpPathText, ValidFileNamesRefuseTheReservedCharacters) {
  for (const char c : std::string("\\/:,;*?\"<>|")) {
    SCOPED_TRACE(std::string(1, c));
    EXPECT_FALSE(XpIsValidFileName(std::string("Trip") + c + "2007"));
  }
  EXPECT_TRUE(XpIsValidFileName("Trip 2007"));
  EXPECT_TRUE(XpIsValidFileName("a.b"));
  EXPECT_TRUE(XpIsValidFileName("\xE6\x97\x85\xE8\xA1\x8C"));  // two kanji
  EXPECT_TRUE(XpIsValidFileName("caf\xC3\xA9 \xF0\x9F\x97\xBA"));
}

TEST(XpPathText, ValidFileNamesRefuseEmptyDotNamesControlsAndBrokenUtf8) {
  const std::string refused[] = {
      "",
      ".",
      "..",
      "a\nb",
      "a\rb",
      std::string("a\0b", 3),
      "tab\t",
      "\x7F",
      "\xFF",
      "\xC0\xAF",          // overlong "/"
      "\xED\xA0\x80",      // a UTF-16 surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xE6\x97",          // cut short
  };
  for (const auto& name : refused) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_FALSE(XpIsValidFileName(name));
  }
}

// ---- File-system tests ----

TEST(XpFileSystem, IsDirectoryAnswersForFoldersOnly) {
  TempDir dir;
  WriteFile(dir / "file.jpg", "x");
  EXPECT_TRUE(XpIsDirectory("/"));
  EXPECT_TRUE(XpIsDirectory(dir.Path()));
  EXPECT_TRUE(XpIsDirectory(dir.Path() + "/"));
  EXPECT_FALSE(XpIsDirectory(dir / "file.jpg"));
  EXPECT_FALSE(XpIsDirectory(dir / "missing"));
  EXPECT_FALSE(XpIsDirectory(""));
  EXPECT_FALSE(XpIsDirectory(dir.Path() + std::string("\0/x", 3)));
}

TEST(XpFileSystem, FileExistsAnswersForEntriesThatAreNotFolders) {
  TempDir dir;
  WriteFile(dir / "file.jpg", "x");
  EXPECT_TRUE(XpFileExists(dir / "file.jpg"));
  EXPECT_FALSE(XpFileExists(dir.Path()));
  EXPECT_FALSE(XpFileExists(dir / "missing.jpg"));
  EXPECT_FALSE(XpFileExists(""));
  EXPECT_FALSE(XpFileExists(dir / std::string("file.jpg\0junk", 13)));
}

TEST(XpFileSystem, CreateFolderReportsEachFailure) {
  TempDir dir;
  EXPECT_EQ(XpCreateFolder(dir / "new"), XpStatus::Ok);
  EXPECT_TRUE(XpIsDirectory(dir / "new"));
  EXPECT_EQ(XpCreateFolder(dir / "new"), XpStatus::AlreadyExists);
  EXPECT_EQ(XpCreateFolder(dir / "missing/child"), XpStatus::PathNotFound);
  WriteFile(dir / "file", "x");
  EXPECT_EQ(XpCreateFolder(dir / "file/child"), XpStatus::PathNotFound);
  EXPECT_EQ(XpCreateFolder(""), XpStatus::InvalidArgument);
  // A name longer than the file system allows, in an existing folder.
  EXPECT_EQ(XpCreateFolder(dir / std::string(300, 'n')), XpStatus::BadPath);
}

TEST(XpFileSystem, CreateFolderInAReadOnlyFolderIsAccessDenied) {
  // As root, permission bits would not stop anything: run as nobody.
  const int failed = testsupport::RunUnprivileged([] {
    TempDir dir;
    if (XpCreateFolder(dir / "locked") != XpStatus::Ok) {
      return 1;
    }
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const XpStatus st = XpCreateFolder(dir / "locked/child");
    fs::permissions(dir / "locked", fs::perms::owner_all);
    return st == XpStatus::AccessDenied ? 0 : 2;
  });
  EXPECT_EQ(failed, 0);
}

TEST(XpFileSystem, CreateFolderTreeMakesEveryMissingFolder) {
  TempDir dir;
  EXPECT_EQ(XpCreateFolderTree(dir / "a/b/c"), XpStatus::Ok);
  EXPECT_TRUE(XpIsDirectory(dir / "a/b/c"));
  // The last folder's own status comes back unchanged.
  EXPECT_EQ(XpCreateFolderTree(dir / "a/b/c"), XpStatus::AlreadyExists);
  EXPECT_EQ(XpCreateFolderTree(dir / "x/y/"), XpStatus::AlreadyExists);
  EXPECT_TRUE(XpIsDirectory(dir / "x/y"));
  EXPECT_EQ(XpCreateFolderTree("/"), XpStatus::AlreadyExists);
}

TEST(XpFileSystem, CreateFolderTreeRefusesARelativePathAndCreatesNothing) {
  TempDir dir;
  const auto oldCwd = fs::current_path();
  fs::current_path(dir.Path());
  EXPECT_EQ(XpCreateFolderTree("rel/sub"), XpStatus::BadPath);
  EXPECT_EQ(XpCreateFolderTree("./rel/sub"), XpStatus::BadPath);
  EXPECT_EQ(XpCreateFolderTree(""), XpStatus::BadPath);
  fs::current_path(oldCwd);
  EXPECT_TRUE(Entries(dir.Path()).empty());
  EXPECT_EQ(XpCreateFolderTree(dir.Path() + std::string("/a\0b", 4)), XpStatus::InvalidArgument);
}

TEST(XpFileSystem, CreateFolderTreeStopsAtTheFirstFailure) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  EXPECT_EQ(XpCreateFolderTree(dir / "file/sub/deeper"), XpStatus::PathNotFound);
  EXPECT_EQ(ReadFile(dir / "file"), "x");
  EXPECT_NE(XpCreateFolderTree(dir / (std::string(300, 'n') + "/sub")), XpStatus::Ok);
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"file"});
}

TEST(XpFileSystem, CreateNewFileMakesAnEmptyFile) {
  TempDir dir;
  EXPECT_EQ(XpCreateNewFile(dir / "new.xml"), XpStatus::Ok);
  EXPECT_TRUE(XpFileExists(dir / "new.xml"));
  EXPECT_EQ(fs::file_size(dir / "new.xml"), 0U);
  const auto perms = fs::status(dir / "new.xml").permissions();
  EXPECT_NE(perms & fs::perms::owner_read, fs::perms::none);
  EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none);
}

TEST(XpFileSystem, CreateNewFileOnAnExistingNameLeavesItUntouched) {
  TempDir dir;
  WriteFile(dir / "1.xml", "keep me");
  EXPECT_EQ(XpCreateNewFile(dir / "1.xml"), XpStatus::AlreadyExists);
  EXPECT_EQ(ReadFile(dir / "1.xml"), "keep me");
  EXPECT_EQ(XpCreateNewFile(dir.Path()), XpStatus::AlreadyExists);
}

TEST(XpFileSystem, CreateNewFileNeverFollowsADanglingLink) {
  TempDir dir;
  ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
  EXPECT_EQ(XpCreateNewFile(dir / "link"), XpStatus::AlreadyExists);
  EXPECT_FALSE(fs::exists(dir / "target"));
}

TEST(XpFileSystem, CreateNewFileReportsBadInput) {
  TempDir dir;
  EXPECT_EQ(XpCreateNewFile(""), XpStatus::InvalidArgument);
  EXPECT_EQ(XpCreateNewFile(dir / std::string("a\0b", 3)), XpStatus::InvalidArgument);
  EXPECT_EQ(XpCreateNewFile(dir / "missing/new.xml"), XpStatus::PathNotFound);
  EXPECT_NE(XpCreateNewFile(dir / std::string(5000, 'x')), XpStatus::Ok);
  // Linux names are bytes: a name that is not UTF-8 is still created and found.
  const std::string latin1 = dir / "caf\xE9.jpg";
  EXPECT_EQ(XpCreateNewFile(latin1), XpStatus::Ok);
  EXPECT_TRUE(XpFileExists(latin1));
  EXPECT_EQ(XpDeleteFile(latin1), XpStatus::Ok);
}

TEST(XpFileSystem, RenameReplacesAnExistingTarget) {
  TempDir dir;
  WriteFile(dir / "from.jpg", "new");
  WriteFile(dir / "to.jpg", "old");
  EXPECT_EQ(XpRenameFile(dir / "from.jpg", dir / "to.jpg"), XpStatus::Ok);
  EXPECT_EQ(ReadFile(dir / "to.jpg"), "new");
  EXPECT_FALSE(fs::exists(dir / "from.jpg"));
}

TEST(XpFileSystem, RenameTellsAMissingFileFromAMissingFolder) {
  TempDir dir;
  WriteFile(dir / "from.jpg", "x");
  EXPECT_EQ(XpRenameFile(dir / "missing.jpg", dir / "to.jpg"), XpStatus::FileNotFound);
  EXPECT_EQ(XpRenameFile(dir / "nofolder/missing.jpg", dir / "to.jpg"), XpStatus::PathNotFound);
  EXPECT_EQ(XpRenameFile(dir / "from.jpg", dir / "nofolder/to.jpg"), XpStatus::PathNotFound);
  EXPECT_EQ(XpRenameFile("", dir / "to.jpg"), XpStatus::InvalidArgument);
  EXPECT_EQ(ReadFile(dir / "from.jpg"), "x");
}

// Records every percent and cancels once a given percent is passed.
class RecordingProgress : public XpCopyProgress {
 public:
  explicit RecordingProgress(double cancelAt = 1000.0) : m_cancelAt(cancelAt) {}
  void OnProgress(double percent) override {
    XpCopyProgress::OnProgress(percent);
    m_steps.push_back(percent);
    if (percent >= m_cancelAt) {
      Cancel();
    }
  }
  [[nodiscard]] const std::vector<double>& Steps() const { return m_steps; }

 private:
  double m_cancelAt;
  std::vector<double> m_steps;
};

std::string RandomBytes(std::size_t size) {
  std::mt19937 random(42);
  std::string bytes(size, '\0');
  for (auto& b : bytes) {
    b = static_cast<char>(random() & 0xFF);
  }
  return bytes;
}

TEST(XpFileSystem, CopyReportsProgressUpToOneHundredPercent) {
  TempDir dir;
  const std::string contents = RandomBytes(3 * 1024 * 1024 + 123);
  WriteFile(dir / "big.jpg", contents);
  WriteFile(dir / "copy.jpg", "old contents");
  RecordingProgress progress;
  ASSERT_EQ(XpCopyFile(dir / "big.jpg", dir / "copy.jpg", &progress), XpStatus::Ok);
  EXPECT_EQ(ReadFile(dir / "copy.jpg"), contents);
  ASSERT_GE(progress.Steps().size(), 4U);
  EXPECT_TRUE(std::is_sorted(progress.Steps().begin(), progress.Steps().end()));
  EXPECT_GT(progress.Steps().front(), 0.0);
  EXPECT_LT(progress.Steps().front(), 100.0);
  EXPECT_EQ(progress.Steps().back(), 100.0);
  EXPECT_EQ(progress.GetPercent(), 100.0);
  EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"big.jpg", "copy.jpg"}));
}

TEST(XpFileSystem, CopyOfAnEmptyFileReportsOneHundredPercent) {
  TempDir dir;
  WriteFile(dir / "empty", "");
  RecordingProgress progress;
  ASSERT_EQ(XpCopyFile(dir / "empty", dir / "copy", &progress), XpStatus::Ok);
  EXPECT_EQ(progress.Steps(), std::vector<double>{100.0});
  EXPECT_EQ(fs::file_size(dir / "copy"), 0U);
}

TEST(XpFileSystem, CopyKeepsPermissionBitsAndModificationTime) {
  TempDir dir;
  WriteFile(dir / "a.jpg", "data");
  ASSERT_EQ(::chmod((dir / "a.jpg").c_str(), 0640), 0);
  const struct timespec times[2] = {{1000000000, 0}, {1180000000, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "a.jpg").c_str(), times, 0), 0);
  ASSERT_EQ(XpCopyFile(dir / "a.jpg", dir / "b.jpg"), XpStatus::Ok);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "b.jpg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640U);
  EXPECT_EQ(info.st_mtim.tv_sec, 1180000000);
}

TEST(XpFileSystem, CancelledCopyRemovesThePartialFileAndKeepsTheOldTarget) {
  TempDir dir;
  WriteFile(dir / "big.jpg", RandomBytes(3 * 1024 * 1024));
  WriteFile(dir / "existing.jpg", "keep me");
  RecordingProgress progress(/*cancelAt=*/1.0);
  EXPECT_EQ(XpCopyFile(dir / "big.jpg", dir / "existing.jpg", &progress), XpStatus::Cancelled);
  EXPECT_EQ(progress.Steps().size(), 1U);
  EXPECT_EQ(ReadFile(dir / "existing.jpg"), "keep me");

  RecordingProgress again(/*cancelAt=*/1.0);
  EXPECT_EQ(XpCopyFile(dir / "big.jpg", dir / "new.jpg", &again), XpStatus::Cancelled);
  EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"big.jpg", "existing.jpg"}));
}

TEST(XpFileSystem, CopyCancelledBeforeItStartsCopiesNothing) {
  TempDir dir;
  WriteFile(dir / "a.jpg", "data");
  XpCopyProgress progress;
  progress.Cancel();
  EXPECT_EQ(XpCopyFile(dir / "a.jpg", dir / "b.jpg", &progress), XpStatus::Cancelled);
  EXPECT_FALSE(fs::exists(dir / "b.jpg"));
  EXPECT_EQ(progress.GetPercent(), 0.0);
}

TEST(XpFileSystem, CopyReportsBadSourcesAndTargets) {
  TempDir dir;
  WriteFile(dir / "a.jpg", "data");
  ASSERT_EQ(XpCreateFolder(dir / "folder"), XpStatus::Ok);
  EXPECT_EQ(XpCopyFile(dir / "missing.jpg", dir / "b.jpg"), XpStatus::FileNotFound);
  EXPECT_EQ(XpCopyFile(dir / "nofolder/missing.jpg", dir / "b.jpg"), XpStatus::PathNotFound);
  EXPECT_EQ(XpCopyFile(dir / "a.jpg", dir / "nofolder/b.jpg"), XpStatus::PathNotFound);
  EXPECT_EQ(XpCopyFile(dir / "folder", dir / "b.jpg"), XpStatus::AccessDenied);
  EXPECT_EQ(XpCopyFile(dir / "a.jpg", dir / "folder"), XpStatus::AccessDenied);
  EXPECT_EQ(XpCopyFile(dir / "a.jpg", ""), XpStatus::InvalidArgument);
  EXPECT_NE(XpCopyFile(dir / "a.jpg", dir / std::string(300, 'n')), XpStatus::Ok);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(XpCopyFile(dir / "pipe", dir / "b.jpg"), XpStatus::InvalidArgument);
  EXPECT_EQ(ReadFile(dir / "a.jpg"), "data");
  EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"a.jpg", "folder", "pipe"}));
}

TEST(XpFileSystem, CopyOntoItselfIsRefusedAndKeepsTheFile) {
  TempDir dir;
  ASSERT_EQ(XpCreateFolder(dir / "sub"), XpStatus::Ok);
  WriteFile(dir / "a.jpg", "data");
  EXPECT_EQ(XpCopyFile(dir / "a.jpg", dir / "sub/../a.jpg"), XpStatus::InvalidArgument);
  EXPECT_EQ(ReadFile(dir / "a.jpg"), "data");
}

TEST(XpFileSystem, MoveWithinOneFolderRenamesAndReplacesTheTarget) {
  TempDir dir;
  WriteFile(dir / "a.jpg", "new");
  WriteFile(dir / "b.jpg", "old");
  struct stat before {};
  ASSERT_EQ(::stat((dir / "a.jpg").c_str(), &before), 0);
  RecordingProgress progress;
  EXPECT_EQ(XpMoveFile(dir / "a.jpg", dir / "b.jpg", &progress), XpStatus::Ok);
  struct stat after {};
  ASSERT_EQ(::stat((dir / "b.jpg").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // renamed, not copied
  EXPECT_EQ(ReadFile(dir / "b.jpg"), "new");
  EXPECT_FALSE(fs::exists(dir / "a.jpg"));
  EXPECT_TRUE(progress.Steps().empty());
}

TEST(XpFileSystem, MoveComparesFolderPartsExactly) {
  TempDir dir;
  ASSERT_EQ(XpCreateFolder(dir / "Trip"), XpStatus::Ok);
  ASSERT_EQ(XpCreateFolder(dir / "trip"), XpStatus::Ok);
  WriteFile(dir / "Trip/a.jpg", "upper");
  WriteFile(dir / "trip/a.jpg", "lower");
  RecordingProgress progress;
  EXPECT_EQ(XpMoveFile(dir / "Trip/a.jpg", dir / "trip/a.jpg", &progress), XpStatus::Ok);
  EXPECT_FALSE(progress.Steps().empty());  // copied across folders
  EXPECT_EQ(ReadFile(dir / "trip/a.jpg"), "upper");
  EXPECT_FALSE(fs::exists(dir / "Trip/a.jpg"));
}

TEST(XpFileSystem, MoveAcrossFoldersDeletesTheSourceOnlyAfterASuccessfulCopy) {
  TempDir dir;
  ASSERT_EQ(XpCreateFolder(dir / "from"), XpStatus::Ok);
  ASSERT_EQ(XpCreateFolder(dir / "to"), XpStatus::Ok);
  WriteFile(dir / "from/a.jpg", "picture");

  EXPECT_EQ(XpMoveFile(dir / "from/a.jpg", dir / "missing/a.jpg"), XpStatus::PathNotFound);
  EXPECT_EQ(ReadFile(dir / "from/a.jpg"), "picture");

  RecordingProgress cancelling(/*cancelAt=*/0.0);
  EXPECT_EQ(XpMoveFile(dir / "from/a.jpg", dir / "to/a.jpg", &cancelling), XpStatus::Cancelled);
  EXPECT_EQ(ReadFile(dir / "from/a.jpg"), "picture");
  EXPECT_TRUE(Entries(dir / "to").empty());

  EXPECT_EQ(XpMoveFile(dir / "from/a.jpg", dir / "to/a.jpg"), XpStatus::Ok);
  EXPECT_EQ(ReadFile(dir / "to/a.jpg"), "picture");
  EXPECT_FALSE(fs::exists(dir / "from/a.jpg"));
}

TEST(XpFileSystem, MoveOfAFileOntoAnotherSpellingOfItselfKeepsIt) {
  TempDir dir;
  ASSERT_EQ(XpCreateFolder(dir / "a"), XpStatus::Ok);
  ASSERT_EQ(XpCreateFolder(dir / "b"), XpStatus::Ok);
  WriteFile(dir / "a/x.jpg", "only copy");
  EXPECT_EQ(XpMoveFile(dir / "a/x.jpg", dir / "b/../a/x.jpg"), XpStatus::Ok);
  EXPECT_EQ(ReadFile(dir / "a/x.jpg"), "only copy");
}

TEST(XpFileSystem, DeleteReportsEachFailure) {
  TempDir dir;
  WriteFile(dir / "a.jpg", "x");
  EXPECT_EQ(XpDeleteFile(dir / "a.jpg"), XpStatus::Ok);
  EXPECT_FALSE(fs::exists(dir / "a.jpg"));
  EXPECT_EQ(XpDeleteFile(dir / "a.jpg"), XpStatus::FileNotFound);
  EXPECT_EQ(XpDeleteFile(dir / "nofolder/a.jpg"), XpStatus::PathNotFound);
  ASSERT_EQ(XpCreateFolder(dir / "folder"), XpStatus::Ok);
  EXPECT_EQ(XpDeleteFile(dir / "folder"), XpStatus::AccessDenied);
  EXPECT_EQ(XpDeleteFile(""), XpStatus::InvalidArgument);
  EXPECT_TRUE(XpIsDirectory(dir / "folder"));
}

TEST(XpFileSystem, VeryLongPathsGiveAStatusEverywhere) {
  TempDir dir;
  WriteFile(dir / "a.jpg", "x");
  const std::string longPath = dir.Path() + "/" + std::string(5000, 'p') + "/b.jpg";
  EXPECT_FALSE(XpFileExists(longPath));
  EXPECT_FALSE(XpIsDirectory(longPath));
  EXPECT_NE(XpCreateFolder(longPath), XpStatus::Ok);
  EXPECT_NE(XpCreateFolderTree(longPath), XpStatus::Ok);
  EXPECT_NE(XpCreateNewFile(longPath), XpStatus::Ok);
  EXPECT_NE(XpRenameFile(dir / "a.jpg", longPath), XpStatus::Ok);
  EXPECT_NE(XpCopyFile(dir / "a.jpg", longPath), XpStatus::Ok);
  EXPECT_NE(XpMoveFile(dir / "a.jpg", longPath), XpStatus::Ok);
  EXPECT_NE(XpDeleteFile(longPath), XpStatus::Ok);
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"a.jpg"});
}

// ---- Special folders ----

TEST(XpUserDirs, ReadsHomeRelativeAndAbsoluteEntries) {
  const std::string text =
      "# written by the desktop\n"
      "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
      "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
      "  XDG_DOCUMENTS_DIR=\"/srv/docs/\"\n"
      "XDG_MUSIC_DIR=\"$HOME\"\n"
      "XDG_VIDEOS_DIR=\"$HOME/My \\\"Films\\\"\"\r\n";
  EXPECT_EQ(XpParseUserDirsEntry(text, "XDG_PICTURES_DIR", "/home/u"), "/home/u/Bilder");
  EXPECT_EQ(XpParseUserDirsEntry(text, "XDG_DESKTOP_DIR", "/home/u"), "/home/u/Desktop");
  EXPECT_EQ(XpParseUserDirsEntry(text, "XDG_DOCUMENTS_DIR", "/home/u"), "/srv/docs");
  EXPECT_EQ(XpParseUserDirsEntry(text, "XDG_MUSIC_DIR", "/home/u"), "/home/u");
  EXPECT_EQ(XpParseUserDirsEntry(text, "XDG_VIDEOS_DIR", "/home/u"), "/home/u/My \"Films\"");
  EXPECT_EQ(XpParseUserDirsEntry(text, "XDG_DOWNLOAD_DIR", "/home/u"), "");
}

TEST(XpUserDirs, SkipsMalformedLinesAndTakesTheLastGoodOne) {
  const std::string bad[] = {
      "XDG_PICTURES_DIR=\"relative/path\"",  "XDG_PICTURES_DIR=\"$HOMEX/a\"",
      "XDG_PICTURES_DIR=$HOME/unquoted",     "XDG_PICTURES_DIR=\"$HOME/unterminated",
      "XDG_PICTURES_DIR = \"$HOME/spaces\"", "#XDG_PICTURES_DIR=\"$HOME/comment\"",
      "XDG_PICTURES_DIRX=\"$HOME/other\"",   std::string("XDG_PICTURES_DIR=\"/a\0b\"", 24),
      "XDG_PICTURES_DIR=\"$HOME/trailing\\", "XDG_PICTURES_DIR",
  };
  for (const auto& line : bad) {
    SCOPED_TRACE(testing::PrintToString(line));
    EXPECT_EQ(XpParseUserDirsEntry(line, "XDG_PICTURES_DIR", "/home/u"), "");
    EXPECT_EQ(XpParseUserDirsEntry(line + "\nXDG_PICTURES_DIR=\"/good\"\n", "XDG_PICTURES_DIR", "/home/u"), "/good");
  }
  EXPECT_EQ(XpParseUserDirsEntry("XDG_PICTURES_DIR=\"/first\"\nXDG_PICTURES_DIR=\"/second\"", "XDG_PICTURES_DIR", ""),
            "/second");
  EXPECT_EQ(XpParseUserDirsEntry("XDG_PICTURES_DIR=\"$HOME/a\"", "XDG_PICTURES_DIR", ""), "");
}

class SpecialFolderTest : public testing::Test {
 protected:
  SpecialFolderTest()
      : m_home("HOME", (m_dir / "home").c_str()),
        m_config("XDG_CONFIG_HOME", (m_dir / "config").c_str()),
        m_data("XDG_DATA_HOME", nullptr),
        m_temp("TMPDIR", nullptr) {
    fs::create_directories(m_dir / "home/.config");
    fs::create_directories(m_dir / "config");
  }
  [[nodiscard]] std::string Home() const { return m_dir / "home"; }

  TempDir m_dir;
  EnvGuard m_home;
  EnvGuard m_config;
  EnvGuard m_data;
  EnvGuard m_temp;
};

TEST_F(SpecialFolderTest, UserFoldersComeFromUserDirsOrFallBackToTheHomeFolder) {
  WriteFile(m_dir / "config/user-dirs.dirs",
            "XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_DOCUMENTS_DIR=\"/srv/Dokumente/\"\nXDG_DESKTOP_DIR=\"Desk\"\n");
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Pictures), Home() + "/Bilder");
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Documents), "/srv/Dokumente");
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Videos), Home() + "/Videos");
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Music), Home() + "/Music");
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Desktop), Home() + "/Desktop");
  EXPECT_EQ(XpGetSpecialFolder(4), "/srv/Dokumente");
}

TEST_F(SpecialFolderTest, UserDirsIsReadFromTheHomeConfigFolderWithoutXdgConfigHome) {
  EnvGuard noConfig("XDG_CONFIG_HOME", nullptr);
  WriteFile(m_dir / "home/.config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Music), Home() + "/Musik");
  EnvGuard relativeConfig("XDG_CONFIG_HOME", "relative/config");
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Music), Home() + "/Musik");
}

TEST_F(SpecialFolderTest, AUserDirsFileThatIsNotARegularFileIsIgnored) {
  ASSERT_EQ(::mkfifo((m_dir / "config/user-dirs.dirs").c_str(), 0600), 0);
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Pictures), Home() + "/Pictures");
}

TEST_F(SpecialFolderTest, TempAppDataAndProfileFollowTheEnvironment) {
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Temp), "/tmp");
  {
    EnvGuard temp("TMPDIR", "/var/tmp/");
    EXPECT_EQ(XpGetSpecialFolder(0), "/var/tmp");
  }
  {
    EnvGuard relative("TMPDIR", "tmp");
    EXPECT_EQ(XpGetSpecialFolder(0), "/tmp");
  }
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::AppData), Home() + "/.local/share");
  {
    EnvGuard data("XDG_DATA_HOME", "/data/home");
    EXPECT_EQ(XpGetSpecialFolder(10), "/data/home");
  }
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::Profile), Home());
}

TEST_F(SpecialFolderTest, WithoutHomeTheProfileComesFromThePasswordDatabase) {
  EnvGuard noHome("HOME", nullptr);
  EnvGuard noConfig("XDG_CONFIG_HOME", nullptr);
  const std::string profile = XpGetSpecialFolder(XpSpecialFolder::Profile);
  ASSERT_FALSE(profile.empty());
  EXPECT_EQ(profile.front(), '/');
  EXPECT_EQ(XpGetSpecialFolder(XpSpecialFolder::AppData), XpJoinPath(profile, ".local/share"));
}

TEST_F(SpecialFolderTest, SharedAndUnknownKindsAreEmpty) {
  for (const int kind : {6, 7, 8, 9, 14, -1, 1000}) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(XpGetSpecialFolder(kind), "");
  }
}

TEST(XpSpecialFolders, ProgramPathAndFolderNameTheRunningProgram) {
  const std::string path = XpGetSpecialFolder(XpSpecialFolder::ProgramPath);
  const std::string folder = XpGetSpecialFolder(XpSpecialFolder::ProgramFolder);
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(XpFileExists(path));
  EXPECT_TRUE(XpIsDirectory(folder));
  EXPECT_EQ(XpJoinPath(folder, XpGetFileName(path)), path);
  EXPECT_NE(folder.back(), '/');
}

}  // namespace
