// Bounded reads of whole files: what comes back for each kind of thing that
// can stand at a path, and that nothing but a regular file is ever read.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "xp/base/XpFileRead.h"
#include "xp/tests/TestSupport.h"

namespace {

using testsupport::TempDir;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

TEST(FileRead, ReadsAWholeFileUpToAndIncludingItsLimit) {
  TempDir dir;
  const std::string text = std::string("first line\n\0second\xFF", 19) + std::string(70000, 'x');
  WriteText(dir / "data", text);
  std::string out = "left over";
  ASSERT_EQ(XpReadWholeFile(dir / "data", text.size(), &out), XpStatus::Ok);
  EXPECT_EQ(out, text);

  WriteText(dir / "empty", "");
  ASSERT_EQ(XpReadWholeFile(dir / "empty", 0, &out), XpStatus::Ok);
  EXPECT_TRUE(out.empty());
}

TEST(FileRead, AFileOverTheLimitAnswersTheCallersStatusAndNothingElse) {
  TempDir dir;
  WriteText(dir / "big", std::string(4097, 'a'));
  std::string out;
  EXPECT_EQ(XpReadWholeFile(dir / "big", 4096, &out), XpStatus::FileInvalid);
  EXPECT_EQ(XpReadWholeFile(dir / "big", 4096, &out, XpStatus::PlaceDataTooLarge), XpStatus::PlaceDataTooLarge);
  EXPECT_TRUE(out.empty());
}

TEST(FileRead, MissingFilesAndFoldersAndBadPathsSayWhich) {
  TempDir dir;
  std::string out;
  EXPECT_EQ(XpReadWholeFile(dir / "absent", 100, &out), XpStatus::FileNotFound);
  EXPECT_EQ(XpReadWholeFile(dir / "no-folder/absent", 100, &out), XpStatus::PathNotFound);
  EXPECT_EQ(XpReadWholeFile("", 100, &out), XpStatus::InvalidArgument);
  EXPECT_EQ(XpReadWholeFile(std::string("a\0b", 3), 100, &out), XpStatus::InvalidArgument);
}

TEST(FileRead, FoldersPipesAndDevicesAreRefusedWithoutWaiting) {
  TempDir dir;
  std::string out;
  EXPECT_EQ(XpReadWholeFile(dir.Path(), 100, &out), XpStatus::FileInvalid);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  // Nobody writes to the pipe: a blocking open would never return.
  EXPECT_EQ(XpReadWholeFile(dir / "pipe", 100, &out), XpStatus::FileInvalid);
  EXPECT_EQ(XpReadWholeFile("/dev/zero", 100, &out), XpStatus::FileInvalid);
  XpUniqueFd fd;
  EXPECT_EQ(XpOpenRegularFile(dir / "pipe", &fd), XpStatus::FileInvalid);
  EXPECT_FALSE(fd.IsValid());
}

TEST(FileRead, LinksAreFollowedOnlyWhenTheCallerAllowsIt) {
  TempDir dir;
  WriteText(dir / "target", "settings");
  std::filesystem::create_symlink(dir / "target", dir / "link");
  std::string out;
  ASSERT_EQ(XpReadWholeFile(dir / "link", 100, &out), XpStatus::Ok);
  EXPECT_EQ(out, "settings");
  EXPECT_EQ(XpReadWholeFile(dir / "link", 100, &out, XpStatus::FileInvalid, XpLinks::Refuse), XpStatus::FileInvalid);
  EXPECT_TRUE(out.empty());
}

TEST(FileRead, AnOpenedFileReadsBlockingAndReportsItsSize) {
  TempDir dir;
  WriteText(dir / "data", "0123456789");
  XpUniqueFd fd;
  std::uint64_t size = 0;
  ASSERT_EQ(XpOpenRegularFile(dir / "data", &fd, &size), XpStatus::Ok);
  EXPECT_EQ(size, 10U);
  EXPECT_EQ(::fcntl(fd.Get(), F_GETFL) & O_NONBLOCK, 0);
  char buffer[16] = {};
  EXPECT_EQ(XpReadFully(fd.Get(), buffer, 4), 4);
  EXPECT_EQ(XpReadFully(fd.Get(), buffer, sizeof buffer), 6);  // short only at the end
  EXPECT_EQ(std::string(buffer, 6), "456789");

  // The descriptor moves with its owner and is closed once.
  XpUniqueFd moved = std::move(fd);
  EXPECT_FALSE(fd.IsValid());  // NOLINT(bugprone-use-after-move): the moved-from state is what is tested
  EXPECT_EQ(moved.Close(), XpStatus::Ok);
  EXPECT_FALSE(moved.IsValid());
}

TEST(FileRead, WritesEverythingOrSaysWhyNot) {
  TempDir dir;
  const std::string big(1 << 20, 'x');  // more than a pipe holds at once: short writes happen
  int ends[2] = {-1, -1};
  ASSERT_EQ(::pipe(ends), 0);
  XpUniqueFd readEnd(ends[0]);
  XpUniqueFd writeEnd(ends[1]);
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = ::read(readEnd.Get(), buffer, sizeof buffer)) > 0;) {
      received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  EXPECT_EQ(XpWriteFully(writeEnd.Get(), big), XpStatus::Ok);
  EXPECT_EQ(writeEnd.Close(), XpStatus::Ok);
  reader.join();
  EXPECT_EQ(received, big);

  // A full device and a descriptor not open for writing answer their statuses.
  if (XpUniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC)); full.IsValid()) {
    EXPECT_EQ(XpWriteFully(full.Get(), "data"), XpStatus::DiskFull);
  }
  WriteText(dir / "data", "old");
  XpUniqueFd readOnly(::open((dir / "data").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(readOnly.IsValid());
  EXPECT_NE(XpWriteFully(readOnly.Get(), "new"), XpStatus::Ok);
  EXPECT_EQ(XpWriteFully(readOnly.Get(), ""), XpStatus::Ok);  // nothing to write
}

}  // namespace
