// Importing the older single-file store: whatever goes wrong, each of its
// states arrives once, never again at the next start.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

std::vector<std::string> FolderNames(const std::string& root) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(root.c_str()); dir != nullptr) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.push_back(name);
      }
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Block(const std::string& name, const std::string& picture) {
  return "{\r\n\t2006/12/24 18:30:00\r\n\t" + name + "\r\n\t1\r\n\t" + picture + "\r\n}\r\n";
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

TEST(OlderStoreImport, AStateThatCannotBeMadeLeavesNoneOfTheOthersBehindAtAnyStart) {
  TempFolder root;
  TempFolder appData;
  const std::string older = appData / "data.tvd";
  // The second name is longer than any file system takes for a folder.
  const std::string text = "#Terravue data version 1.1\r\n" + Block("Trip", "/p/a.jpg") +
                           Block(std::string(300, 'x'), "/p/b.jpg") + Block("Later", "/p/c.jpg");
  WriteFileText(older, text);
  for (int start = 0; start < 3; ++start) {
    MapStateStore store(root.Path());
    ASSERT_EQ(store.List(older), PictureResult::Success);
    EXPECT_EQ(store.Count(), 0u) << "start " << start;
    EXPECT_TRUE(FolderNames(root.Path()).empty()) << "start " << start;
    // The store stays for a later start that can import it whole.
    EXPECT_EQ(ReadFileText(older), text);
  }
  EXPECT_EQ(MapStateStore(root.Path()).ImportOlderStore(older), PictureResult::WriteFailed);
}

TEST(OlderStoreImport, TextDamagedAfterAStateImportsThatStateOnceAndSetsTheFileAside) {
  TempFolder root;
  TempFolder appData;
  const std::string older = appData / "data.tvd";
  const std::string text = "#Terravue data version 1.1\r\n" + Block("Trip", "/p/a.jpg") + "{\r\n\t2006/12/25";
  WriteFileText(older, text);
  EXPECT_EQ(MapStateStore(root.Path()).ImportOlderStore(older), PictureResult::Malformed);
  for (int start = 0; start < 2; ++start) {
    MapStateStore store(root.Path());
    ASSERT_EQ(store.List(older), PictureResult::Success);
    ASSERT_EQ(store.Count(), 1u);
    EXPECT_EQ(store.At(0).m_name, "Trip");
  }
  EXPECT_EQ(FolderNames(root.Path()), std::vector<std::string>{"Trip"});
  EXPECT_FALSE(Exists(older));
  EXPECT_EQ(ReadFileText(older + ".tmp"), text);
  MapState trip = MapState::Listed("Trip", root / "Trip/data.tvd");
  ASSERT_EQ(trip.Read(), PictureResult::Success);
  ASSERT_EQ(trip.m_pictures.Count(), 1u);
  EXPECT_EQ(trip.m_pictures.At(0).m_path, "/p/a.jpg");
}

TEST(OlderStoreImport, AStoreWhoseFirstLineIsNotAStoreStaysAndMakesNothing) {
  TempFolder root;
  TempFolder appData;
  const std::string older = appData / "data.tvd";
  WriteFileText(older, "not a store\r\n" + Block("Trip", "/p/a.jpg"));
  EXPECT_EQ(MapStateStore(root.Path()).ImportOlderStore(older), PictureResult::Malformed);
  EXPECT_TRUE(Exists(older));
  EXPECT_TRUE(FolderNames(root.Path()).empty());
}
