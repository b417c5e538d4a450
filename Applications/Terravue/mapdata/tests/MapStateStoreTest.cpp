#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

MapPageAddresses Addresses() { return {"http://127.0.0.1:1/maps", "http://127.0.0.1:1"}; }

TEST(MapStateStore, SavingASecondAndThirdTripGivesNumberedFolders) {
  TempFolder root;
  MapStateStore store(root.Path());
  TempFolder program;
  const MapState screen(root.Path());
  for (const char* expected : {"Trip", "Trip(1)", "Trip(2)"}) {
    MapState saved;
    ASSERT_EQ(store.SaveAsNew(screen, "Trip", program.Path(), Addresses(), nullptr, nullptr, &saved, nullptr),
              MapStateStore::SaveResult::Saved);
    EXPECT_EQ(saved.m_name, expected);
    EXPECT_TRUE(Exists(root / (std::string(expected) + "/data.tvd")));
    EXPECT_TRUE(Exists(root / (std::string(expected) + "/data.htm")));
  }
  EXPECT_EQ(store.Count(), 3u);
}

TEST(MapStateStore, NamesStopAfterTheFormWith253) {
  TempFolder root;
  ASSERT_EQ(::mkdir((root / "Full").c_str(), 0777), 0);
  for (int n = 1; n <= 252; ++n) {
    ASSERT_EQ(::mkdir((root / ("Full(" + std::to_string(n) + ")")).c_str(), 0777), 0);
  }
  MapState state(root.Path());
  ASSERT_TRUE(MapStateStore::MakeFolderWithFreeName(state, "Full"));
  EXPECT_EQ(state.m_name, "Full(253)");
  MapState another(root.Path());
  EXPECT_FALSE(MapStateStore::MakeFolderWithFreeName(another, "Full"));
}

TEST(MapStateStore, ANameWithASeparatorInsideMakesNoFolder) {
  TempFolder root;
  MapStateStore store(root.Path());
  TempFolder program;
  ASSERT_EQ(::mkdir((root / "a").c_str(), 0777), 0);
  EXPECT_EQ(
      store.SaveAsNew(MapState(root.Path()), "a/b", program.Path(), Addresses(), nullptr, nullptr, nullptr, nullptr),
      MapStateStore::SaveResult::FolderFailed);
  EXPECT_FALSE(Exists(root / "a/b"));
}

TEST(MapStateStore, With255StatesSaveAsNewRefuses) {
  TempFolder root;
  MapStateStore store(root.Path());
  for (std::size_t i = 0; i < MapStateStore::kMaxStates; ++i) {
    store.Add(MapState(root.Path()));
  }
  EXPECT_TRUE(store.IsFull());
  TempFolder program;
  EXPECT_EQ(store.SaveAsNew(MapState(root.Path()), "One more", program.Path(), Addresses(), nullptr, nullptr, nullptr,
                            nullptr),
            MapStateStore::SaveResult::StoreFull);
  EXPECT_FALSE(Exists(root / "One more"));
}

TEST(MapStateStore, ListFindsFoldersWithAStateFileOnly) {
  TempFolder root;
  for (const char* name : {"B", "A", "Empty"}) {
    ASSERT_EQ(::mkdir((root / name).c_str(), 0777), 0);
  }
  WriteFileText(root / "A/data.tvd", "x");
  WriteFileText(root / "B/data.tvd", "x");
  WriteFileText(root / "data.tvd", "x");
  MapStateStore store(root.Path());
  ASSERT_EQ(store.List(""), PictureResult::Success);
  ASSERT_EQ(store.Count(), 2u);
  EXPECT_EQ(store.At(0).m_name, "A");
  EXPECT_EQ(store.At(1).m_name, "B");
  EXPECT_EQ(store.At(0).m_stateFilePath, root / "A/data.tvd");
  EXPECT_EQ(store.At(0).m_status, MapState::kStatusNotRead);
}

TEST(MapStateStore, ListAnswersTwoForAMissingRoot) {
  MapStateStore store("/nonexistent/Terravue");
  EXPECT_EQ(store.List(""), PictureResult::OpenFailed);
}

TEST(MapStateStore, DeleteRemovesTheFolderWithEverythingInIt) {
  TempFolder root;
  ASSERT_EQ(::mkdir((root / "Trip").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir((root / "Trip/sub").c_str(), 0777), 0);
  WriteFileText(root / "Trip/data.tvd", "x");
  WriteFileText(root / "Trip/sub/cache_0.jpg", "x");
  ASSERT_EQ(::chmod((root / "Trip/data.tvd").c_str(), 0444), 0);
  MapStateStore store(root.Path());
  ASSERT_EQ(store.List(""), PictureResult::Success);
  ASSERT_EQ(store.Count(), 1u);
  EXPECT_EQ(store.Delete(0), PictureResult::Success);
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_FALSE(Exists(root / "Trip"));
}

TEST(MapStateStore, DeleteOfAMissingFolderAnswersFiveAndKeepsTheEntry) {
  TempFolder root;
  MapStateStore store(root.Path());
  store.Add(MapState::Listed("Gone", root / "Gone/data.tvd"));
  EXPECT_EQ(store.Delete(0), PictureResult::FolderFailed);
  EXPECT_EQ(store.Count(), 1u);
}

TEST(MapStateStore, DeleteNeverRemovesTheRootForAnUnnamedState) {
  TempFolder root;
  WriteFileText(root / "keep.txt", "x");
  MapStateStore store(root.Path());
  store.Add(MapState(root.Path()));
  EXPECT_EQ(store.Delete(0), PictureResult::FolderFailed);
  EXPECT_TRUE(Exists(root / "keep.txt"));
}

TEST(MapStateStore, DeleteLeavesTheTargetOfALinkInsideAlone) {
  TempFolder root;
  TempFolder outside;
  WriteFileText(outside / "precious.jpg", "x");
  ASSERT_EQ(::mkdir((root / "Trip").c_str(), 0777), 0);
  ASSERT_EQ(::symlink(outside.Path().c_str(), (root / "Trip/link").c_str()), 0);
  MapStateStore store(root.Path());
  store.Add(MapState::Listed("Trip", root / "Trip/data.tvd"));
  EXPECT_EQ(store.Delete(0), PictureResult::Success);
  EXPECT_TRUE(Exists(outside / "precious.jpg"));
}

constexpr const char* kOlderStore =
    "#Terravue data version 1.1\r\n"
    "{\r\n\t2006/12/24 18:30:00\r\n\tHoliday\r\n\t2\r\n\t/p/a.jpg\r\n\t/p/b c.jpg\t\r\n}\r\n"
    "{\r\n\t2006/12/25 10:00:00\r\n\tWork\r\n\t0\r\n}\r\n";

TEST(MapStateStore, ImportGivesATakenNameTheSuffixOneAndRenamesTheOlderFile) {
  TempFolder root;
  TempFolder appData;
  ASSERT_EQ(::mkdir((root / "Holiday").c_str(), 0777), 0);
  WriteFileText(root / "Holiday/data.tvd", "x");
  const std::string older = appData / "data.tvd";
  WriteFileText(older, kOlderStore);
  MapStateStore store(root.Path());
  ASSERT_EQ(store.List(older), PictureResult::Success);
  EXPECT_FALSE(Exists(older));
  EXPECT_EQ(ReadFileText(older + ".tmp"), kOlderStore);
  ASSERT_EQ(store.Count(), 3u);

  MapState imported = MapState::Listed("Holiday(1)", root / "Holiday(1)/data.tvd");
  ASSERT_EQ(imported.Read(), PictureResult::Success);
  ASSERT_EQ(imported.m_pictures.Count(), 2u);
  EXPECT_EQ(imported.m_pictures.At(0).m_path, "/p/a.jpg");
  EXPECT_EQ(imported.m_pictures.At(1).m_path, "/p/b c.jpg");
  EXPECT_EQ(imported.m_pictures.At(0).m_cacheName, "");
  EXPECT_EQ(imported.m_pictures.At(0).m_stateName, "Holiday(1)");
  EXPECT_FALSE(imported.m_pictures.FirstHasThumbnail());
  EXPECT_GT(imported.m_savedTime, 1600000000);  // stamped at the import

  MapState work = MapState::Listed("Work", root / "Work/data.tvd");
  ASSERT_EQ(work.Read(), PictureResult::Success);
  EXPECT_EQ(work.m_pictures.Count(), 0u);
}

TEST(MapStateStore, ImportRunsOnceOnly) {
  TempFolder root;
  TempFolder appData;
  const std::string older = appData / "data.tvd";
  WriteFileText(older, kOlderStore);
  MapStateStore store(root.Path());
  ASSERT_EQ(store.ImportOlderStore(older), PictureResult::Success);
  EXPECT_EQ(store.ImportOlderStore(older), PictureResult::Success);
  EXPECT_FALSE(Exists(root / "Holiday(1)"));
}

struct OlderCase {
  const char* name;
  const char* text;
  PictureResult expected;
  bool renamed;
};

class OlderStoreText : public ::testing::TestWithParam<OlderCase> {};

TEST_P(OlderStoreText, AnswersItsCodeAndKeepsTheFileUnlessDone) {
  TempFolder root;
  TempFolder appData;
  const std::string older = appData / "data.tvd";
  WriteFileText(older, GetParam().text);
  MapStateStore store(root.Path());
  EXPECT_EQ(store.ImportOlderStore(older), GetParam().expected);
  EXPECT_EQ(Exists(older + ".tmp"), GetParam().renamed);
  EXPECT_EQ(Exists(older), !GetParam().renamed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OlderStoreText,
    ::testing::Values(OlderCase{"NoHeader", "{\n", PictureResult::Malformed, false},
                      OlderCase{"OnlyHeader", "#Terravue data version 1.1\n", PictureResult::Success, true},
                      OlderCase{"StopsAtOtherLine", "#Terravue data version 1.1\nx\n{\n", PictureResult::Success, true},
                      OlderCase{"CutShort", "#Terravue data version 1.1\n{\n\t2006/1/1 0:0:0\n\tA\n\t3\n\t/p\n",
                                PictureResult::Malformed, false},
                      OlderCase{"WrongClosing", "#Terravue data version 1.1\n{\n\t2006/1/1 0:0:0\n\tA\n\t0\n} \n",
                                PictureResult::Malformed, false}),
    [](const ::testing::TestParamInfo<OlderCase>& info) { return std::string(info.param.name); });

TEST(MapStateStore, AMissingOlderStoreIsNoImport) {
  TempFolder root;
  MapStateStore store(root.Path());
  EXPECT_EQ(store.ImportOlderStore(root / "nothing.tvd"), PictureResult::Success);
  EXPECT_EQ(store.ImportOlderStore(""), PictureResult::Success);
}

TEST(MapStateStore, SaveOverMovesThumbnailsAndWritesStateAndPage) {
  TempFolder root;
  TempFolder program;
  MapState state(root.Path());
  state.Rename("Trip");
  ASSERT_TRUE(state.MakeFolder());
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  WriteFileText(root / "cache_0.jpg", "thumb");
  WriteBackReport report;
  ASSERT_TRUE(MapStateStore::SaveOver(state, program.Path(), Addresses(), nullptr, nullptr, &report));
  EXPECT_TRUE(Exists(root / "Trip/cache_0.jpg"));
  EXPECT_TRUE(Exists(root / "Trip/data.tvd"));
  EXPECT_TRUE(Exists(root / "Trip/data.htm"));
  EXPECT_TRUE(report.written.empty());
}

}  // namespace
