// Thumbnails a process makes are listed in a file it holds locked; the next
// load removes what a killed process listed, and nothing else.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureLoadPool.h"
#include "Applications/Terravue/mapdata/ThumbnailJournal.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

constexpr const char* kPhoto = "exifpy-DSCN0010.jpg";

// The names in `folder` that start with `prefix`.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) == 0) {
      names.push_back(name);
    }
  }
  ::closedir(dir);
  return names;
}

// A list file as a process leaves it; held locked (a live process) while
// the returned descriptor is open.
int PlantList(const std::string& path, const std::string& text, bool hold) {
  WriteFileText(path, text);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  if (hold) {
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
  }
  ::close(fd);
  return -1;
}

TEST(ThumbnailJournal, RemovesOnlyWhatAnEndedProcessListedAsItsThumbnails) {
  TempFolder temp;
  const std::string work = temp / "work";
  ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
  WriteFileText(temp / "victim.jpg", "victim");
  WriteFileText(work + "/cache_0.jpg", "left by the killed load");
  ASSERT_EQ(::symlink((temp / "victim.jpg").c_str(), (work + "/cache_1.jpg").c_str()), 0);
  ASSERT_EQ(::mkdir((work + "/cache_2.jpg").c_str(), 0755), 0);
  WriteFileText(work + "/cache_5.jpg", "listed by a live process too");
  WriteFileText(work + "/cache_7.jpg", "the user's, listed by nobody");
  (void)PlantList(work + "/.terravue-thumbnails-99999-0",
                  "cache_0.jpg\ncache_1.jpg\ncache_2.jpg\n../victim.jpg\ncache_3.jpg\ncache_5.jpg\n", false);
  const int live = PlantList(work + "/.terravue-thumbnails-88888-0", "cache_5.jpg\n", true);

  EXPECT_EQ(RemoveThumbnailsOfEndedProcesses(work), 1u);
  EXPECT_FALSE(MapEntryExists(work + "/cache_0.jpg"));
  EXPECT_FALSE(MapEntryExists(work + "/.terravue-thumbnails-99999-0"));
  EXPECT_TRUE(MapEntryExists(work + "/cache_1.jpg"));
  EXPECT_EQ(ReadFileText(temp / "victim.jpg"), "victim");
  EXPECT_TRUE(MapIsFolder(work + "/cache_2.jpg"));
  EXPECT_EQ(ReadFileText(work + "/cache_5.jpg"), "listed by a live process too");
  EXPECT_EQ(ReadFileText(work + "/cache_7.jpg"), "the user's, listed by nobody");
  EXPECT_TRUE(MapEntryExists(work + "/.terravue-thumbnails-88888-0"));

  // Once that process ends too, its thumbnail goes.
  ::close(live);
  EXPECT_EQ(RemoveThumbnailsOfEndedProcesses(work), 1u);
  EXPECT_FALSE(MapEntryExists(work + "/cache_5.jpg"));
  EXPECT_EQ(ReadFileText(work + "/cache_7.jpg"), "the user's, listed by nobody");
  EXPECT_TRUE(NamesStartingWith(work, ".terravue-thumbnails-").empty());
}

TEST(ThumbnailJournal, ALoadFreesTheNamesAKilledLoadLeftAndListsItsOwn) {
  TempFolder temp;
  const std::string work = temp / "work";
  ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
  WriteFileText(work + "/cache_0.jpg", "");
  WriteFileText(work + "/cache_1.jpg", "");
  (void)PlantList(work + "/.terravue-thumbnails-99999-0", "cache_0.jpg\ncache_1.jpg\n", false);
  ASSERT_TRUE(CopyFileTo(TestPicture(kPhoto), temp / "photo.jpg"));

  PictureList list;
  NullProgressSink progress;
  const std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(AddPicturesOnWorkers(list, {temp / "photo.jpg"}, work, progress, keepGoing, 2));
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.At(0).m_cacheName, "cache_0.jpg");
  EXPECT_GT(ReadFileText(work + "/cache_0.jpg").size(), 1000u);
  EXPECT_FALSE(MapEntryExists(work + "/cache_1.jpg"));
  const std::vector<std::string> own =
      NamesStartingWith(work, ".terravue-thumbnails-" + std::to_string(::getpid()) + "-");
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(ReadFileText(work + "/" + own[0]), "cache_0.jpg\n");

  // What a signal does: this process's thumbnails and lists go.
  RemoveThumbnailsOfThisProcess();
  EXPECT_FALSE(MapEntryExists(work + "/cache_0.jpg"));
  EXPECT_TRUE(NamesStartingWith(work, ".terravue-thumbnails-").empty());
  EndThumbnailJournals();
}

TEST(ThumbnailJournal, EndingTheListsKeepsTheThumbnails) {
  TempFolder temp;
  const std::string work = temp / "work";
  ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
  ASSERT_TRUE(NoteNewThumbnail(work, "cache_4.jpg"));
  EXPECT_FALSE(NoteNewThumbnail(work, "../cache_4.jpg"));
  WriteFileText(work + "/cache_4.jpg", "made");
  ASSERT_EQ(NamesStartingWith(work, ".terravue-thumbnails-").size(), 1u);
  EndThumbnailJournals();
  EXPECT_TRUE(NamesStartingWith(work, ".terravue-thumbnails-").empty());
  EXPECT_EQ(RemoveThumbnailsOfEndedProcesses(work), 0u);
  EXPECT_EQ(ReadFileText(work + "/cache_4.jpg"), "made");
}

}  // namespace
