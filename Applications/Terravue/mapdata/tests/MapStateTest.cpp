#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "xp/tests/TestSupport.h"

namespace {

// 7 March 2007 09:05:03 in the tests' time zone (Asia/Tokyo, UTC+9).
constexpr std::int64_t kSavedTime = 1173225903;

MapState TripState(const std::string& root, const std::string& picturePath) {
  MapState state(root);
  state.Rename("Trip");
  state.m_savedTime = kSavedTime;
  state.m_latitude = "N:35:37:32.828";
  state.m_longitude = "E:139:44:31.338";
  PictureRecord record(picturePath, "Trip", "cache_0.jpg");
  record.m_latitude = "N:35:00:41.544";
  record.m_longitude = "E:135:46:05.760";
  record.m_captureTime = XpDateTime(2007, 3, 7, 9, 5, 3);
  state.m_pictures.Append(record);
  state.m_pictures.SetCounter(1);
  return state;
}

TEST(MapState, StartsWithTheDesignedDefaults) {
  MapState state("/root");
  EXPECT_EQ(state.m_savedTime, 0);
  EXPECT_EQ(state.m_name, "");
  EXPECT_EQ(state.m_stateFilePath, "/root/data.tvd");
  EXPECT_EQ(state.m_pagePath, "/root/data.htm");
  EXPECT_EQ(state.m_status, MapState::kStatusNotRead);
  EXPECT_EQ(state.m_zoom, "9");
  EXPECT_EQ(state.m_latitude, "X:99:99:99.999");
  EXPECT_EQ(state.m_longitude, "X:999:99:99.999");
  EXPECT_EQ(state.m_pictures.Counter(), 0);
}

TEST(MapState, AListedStateTakesItsRootFromTheStateFilePath) {
  const MapState state = MapState::Listed("Trip", "/home/u/Documents/Terravue/Trip/data.tvd");
  EXPECT_EQ(state.m_rootFolder, "/home/u/Documents/Terravue");
  EXPECT_EQ(state.m_pagePath, "/home/u/Documents/Terravue/Trip/data.htm");
  EXPECT_EQ(state.m_status, MapState::kStatusNotRead);
}

TEST(MapState, RenameMovesThePathsAndEveryPictureToTheNewName) {
  MapState state("/root");
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  state.Rename("Trip");
  EXPECT_EQ(state.m_stateFilePath, "/root/Trip/data.tvd");
  EXPECT_EQ(state.m_pagePath, "/root/Trip/data.htm");
  EXPECT_EQ(state.m_pictures.At(0).m_stateName, "Trip");
  EXPECT_EQ(state.m_pictures.At(0).ThumbnailPath("/root"), "/root/Trip/cache_0.jpg");
}

TEST(MapState, WritesTheDesignedStateText) {
  const MapState state = TripState("/root", "/p/a.jpg");
  EXPECT_EQ(state.StateText(),
            "#Terravue data version 1.1\r\n{\r\n\t2007/3/7 9:5:3\r\n\t9\r\n\tN:35:37:32.828\r\n\tE:139:44:31.338\r\n"
            "\t1\r\n\t{\r\n\t\t/p/a.jpg\r\n\t\tcache_0.jpg\r\n\t\tN:35:00:41.544\r\n\t\tE:135:46:05.760\r\n"
            "\t\t2007/3/7 9:5:3\r\n\t}\r\n}\r\n");
}

TEST(MapState, MatchesTheGoldenStateFile) {
  MapState state = TripState("/root", "/home/user/Pictures/Trip 2007/IMG_0001.JPG");
  PictureRecord noTime("/home/user/Pictures/写真/b.jpg", "Trip", "cache_1.jpg");
  state.m_pictures.Append(noTime);
  const std::string text = state.StateText();
  EXPECT_EQ(text, Golden("data.tvd", text));
}

TEST(MapState, WriteThenReadGivesBackEveryStoredField) {
  TempFolder root;
  const std::string picture = root / "a.jpg";
  WriteFileText(picture, "not decoded here");
  MapState state = TripState(root.Path(), picture);
  state.m_zoom = "14";
  ASSERT_TRUE(state.MakeFolder());
  ASSERT_EQ(state.Write(/*stamp=*/false), PictureResult::Success);
  EXPECT_EQ(state.m_status, MapState::kStatusRead);

  MapState read = MapState::Listed("Trip", state.m_stateFilePath);
  ASSERT_EQ(read.Read(), PictureResult::Success);
  EXPECT_EQ(read.m_status, MapState::kStatusRead);
  EXPECT_EQ(read.m_savedTime, kSavedTime);
  EXPECT_EQ(read.m_zoom, "14");
  EXPECT_EQ(read.m_latitude, state.m_latitude);
  EXPECT_EQ(read.m_longitude, state.m_longitude);
  ASSERT_EQ(read.m_pictures.Count(), 1u);
  EXPECT_EQ(read.m_pictures.Counter(), 1);
  const PictureRecord& r = read.m_pictures.At(0);
  EXPECT_EQ(r.m_path, picture);
  EXPECT_EQ(r.m_cacheName, "cache_0.jpg");
  EXPECT_EQ(r.m_stateName, "Trip");
  EXPECT_EQ(r.m_latitude, "N:35:00:41.544");
  EXPECT_EQ(r.m_longitude, "E:135:46:05.760");
  EXPECT_EQ(r.m_captureTime, XpDateTime(2007, 3, 7, 9, 5, 3));
  EXPECT_EQ(r.m_timeText, r.m_captureTime.Format(XpDateTime::kShortDate, XpDateTime::kMinutes, false));
  EXPECT_FALSE(r.m_timeText.empty());
  EXPECT_EQ(r.m_modified, 0);
  // Neither file decodes, so the display size stays at its default.
  EXPECT_EQ(r.m_width, PictureRecord::kDefaultWidth);
  EXPECT_EQ(r.m_height, PictureRecord::kDefaultHeight);
}

TEST(MapState, StampingSetsTheSavedTimeToNow) {
  TempFolder root;
  MapState state(root.Path());
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  ASSERT_EQ(state.Write(/*stamp=*/true), PictureResult::Success);
  EXPECT_GE(state.m_savedTime, before);
  EXPECT_LE(state.m_savedTime, before + 5);
}

TEST(MapState, AFailedWriteAnswersOneAndKeepsTheOldFile) {
  // As root, permission bits would not stop the write: run as nobody.
  const int failed = testsupport::RunUnprivileged([] {
    TempFolder root;
    MapState state = TripState(root.Path(), "/p/a.jpg");
    if (!state.MakeFolder() || state.Write(false) != PictureResult::Success) {
      return 1;
    }
    const std::string before = ReadFileText(state.m_stateFilePath);
    if (::chmod(state.Folder().c_str(), 0500) != 0) {
      return 2;
    }
    state.m_zoom = "3";
    const PictureResult result = state.Write(false);
    ::chmod(state.Folder().c_str(), 0700);
    if (result != PictureResult::WriteFailed) {
      return 3;
    }
    return ReadFileText(state.m_stateFilePath) == before ? 0 : 4;
  });
  EXPECT_EQ(failed, 0);
}

TEST(MapState, WritingOverSomethingThatIsNotAFileAnswersOne) {
  TempFolder root;
  MapState state(root.Path());
  ASSERT_EQ(::mkdir(state.m_stateFilePath.c_str(), 0777), 0);
  EXPECT_EQ(state.Write(false), PictureResult::WriteFailed);
  EXPECT_EQ(state.m_status, MapState::kStatusNotRead);
}

TEST(MapState, WritingIntoAMissingFolderAnswersOne) {
  TempFolder root;
  MapState state(root.Path());
  state.Rename("Nowhere");
  EXPECT_EQ(state.Write(false), PictureResult::WriteFailed);
}

TEST(MapState, ReadsFilesWithLfLineEnds) {
  MapState state("/root");
  const std::string text =
      "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tN:35:37:32.828\n\tE:139:44:31.338\n\t0\n}\n";
  EXPECT_EQ(state.ReadFromText(text), PictureResult::Success);
  EXPECT_EQ(state.m_latitude, "N:35:37:32.828");
}

TEST(MapState, ACountOfThreeWithOneBlockReadsOnePicture) {
  MapState state("/root");
  const std::string text =
      "#Terravue data version 1.1\r\n{\r\n\t2007/3/7 9:5:3\r\n\t9\r\n\tN:35:37:32.828\r\n\tE:139:44:31.338\r\n"
      "\t3\r\n\t{\r\n\t\t/p/a.jpg\r\n\t\tcache_0.jpg\r\n\t\tN:35:00:41.544\r\n\t\tE:135:46:05.760\r\n"
      "\t\t2007/3/7 9:5:3\r\n\t}\r\n}\r\n";
  EXPECT_EQ(state.ReadFromText(text), PictureResult::Success);
  EXPECT_EQ(state.m_pictures.Count(), 1u);
  EXPECT_EQ(state.m_pictures.Counter(), 1);
}

TEST(MapState, KeepsThePathOfAPictureWhoseFileIsMissing) {
  MapState state("/root");
  const std::string text =
      "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tX:99:99:99.999\n\tX:999:99:99.999\n\t1\n"
      "\t{\n\t\t/media/unmounted/a.jpg\n\t\tcache_0.jpg\n\t\tN:35:00:41.544\n\t\tE:135:46:05.760\n"
      "\t\t2007/3/7 9:5:3\n\t}\n}\n";
  ASSERT_EQ(state.ReadFromText(text), PictureResult::Success);
  ASSERT_EQ(state.m_pictures.Count(), 1u);
  EXPECT_EQ(state.m_pictures.At(0).m_path, "/media/unmounted/a.jpg");
  // Saving the state again keeps the picture.
  EXPECT_NE(state.StateText().find("\t\t/media/unmounted/a.jpg\r\n"), std::string::npos);
}

TEST(MapState, KeepsTrailingBlanksOfAPathWhenOnlyThatFileExists) {
  TempFolder root;
  const std::string picture = root / "a.jpg ";
  WriteFileText(picture, "x");
  MapState state(root.Path());
  const std::string text = "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tX\n\tX\n\t1\n\t{\n\t\t" + picture +
                           "\n\t\tcache_0.jpg\n\t\tX\n\t\tX\n\t\t2007/3/7 9:5:3\n\t}\n}\n";
  ASSERT_EQ(state.ReadFromText(text), PictureResult::Success);
  EXPECT_EQ(state.m_pictures.At(0).m_path, picture);
}

TEST(MapState, AnInvalidCaptureTimeIsWrittenAsZerosAndReadsBackAsNone) {
  MapState state("/root");
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  const std::string text = state.StateText();
  EXPECT_NE(text.find("\t\t0/0/0 0:0:0\r\n"), std::string::npos);
  MapState read("/root");
  ASSERT_EQ(read.ReadFromText(text), PictureResult::Success);
  EXPECT_FALSE(read.m_pictures.At(0).m_captureTime.IsValid());
  EXPECT_EQ(read.m_pictures.At(0).m_timeText, "");
}

TEST(MapState, APathWithALineBreakIsWrittenAsABareLineEnd) {
  MapState state("/root");
  state.m_pictures.Append(PictureRecord("/p/a\nb.jpg", "", "cache_0.jpg"));
  const std::string text = state.StateText();
  EXPECT_NE(text.find("\t{\r\n\r\n\t\tcache_0.jpg\r\n"), std::string::npos);
  MapState read("/root");
  ASSERT_EQ(read.ReadFromText(text), PictureResult::Success);
  EXPECT_EQ(read.m_pictures.At(0).m_path, "");
  EXPECT_EQ(read.m_pictures.At(0).m_cacheName, "cache_0.jpg");
}

struct MalformedCase {
  const char* name;
  const char* text;
  PictureResult expected;
  std::size_t pictures;
};

class MalformedStateText : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedStateText, AnswersItsCodeAndKeepsThePicturesReadBefore) {
  MapState state("/root");
  EXPECT_EQ(state.ReadFromText(GetParam().text), GetParam().expected);
  EXPECT_EQ(state.m_pictures.Count(), GetParam().pictures);
  if (GetParam().expected != PictureResult::Success) {
    EXPECT_EQ(state.m_status, MapState::kStatusReading);
  }
}

#define HEAD "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tN\n\tE\n"
#define BLOCK "\t{\n\t\t/p/a.jpg\n\t\tcache_0.jpg\n\t\tN\n\t\tE\n\t\t2007/3/7 9:5:3\n\t}\n"

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedStateText,
    ::testing::Values(
        MalformedCase{"Empty", "", PictureResult::Malformed, 0},
        MalformedCase{"NoVersion", "#Terravue data version 1\n{\n", PictureResult::Malformed, 0},
        MalformedCase{"NoOpening", "#Terravue data version 1.1\n{ \n", PictureResult::Malformed, 0},
        MalformedCase{"BadDate", "#Terravue data version 1.1\n{\n\t2007/2/29 9:5:3\n", PictureResult::Malformed, 0},
        MalformedCase{"ShortDate", "#Terravue data version 1.1\n{\n\t2007/3/7\n", PictureResult::Malformed, 0},
        MalformedCase{"NoCount", HEAD, PictureResult::Malformed, 0},
        MalformedCase{"CountNotANumber", HEAD "\tx\n", PictureResult::Malformed, 0},
        MalformedCase{"NoClosingLine", HEAD "\t0\n", PictureResult::Success, 0},
        MalformedCase{"NegativeCount", HEAD "\t-5\n" BLOCK "}\n", PictureResult::Malformed, 0},
        MalformedCase{"CountBelowTheBlocks", HEAD "\t1\n" BLOCK BLOCK "}\n", PictureResult::Malformed, 1},
        MalformedCase{"BlockCutShort", HEAD "\t2\n" BLOCK "\t{\n\t\t/p/b.jpg\n", PictureResult::Malformed, 1},
        MalformedCase{"BlockNeverCloses", HEAD "\t1\n\t{\n\t\t/p\n\t\tc\n\t\tN\n\t\tE\n\t\t2007/3/7\n",
                      PictureResult::Malformed, 0},
        MalformedCase{"GarbageForABlock", HEAD "\t1\n\tx\n", PictureResult::Malformed, 0},
        MalformedCase{"HugeCount", HEAD "\t2147483647\n" BLOCK BLOCK "}\n", PictureResult::Success, 2},
        MalformedCase{"EndOfFileForABlock", HEAD "\t2\n" BLOCK, PictureResult::Malformed, 1}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST(MapState, ReadAnswersTwoWhenTheFileCannotBeOpened) {
  MapState state = MapState::Listed("Gone", "/nonexistent/Gone/data.tvd");
  EXPECT_EQ(state.Read(), PictureResult::OpenFailed);
  EXPECT_EQ(state.m_status, MapState::kStatusReading);
}

TEST(MapState, MakeFolderIsTrueOnlyForANewFolderDirectlyUnderTheRoot) {
  TempFolder root;
  MapState state(root.Path());
  EXPECT_FALSE(state.MakeFolder());  // the unnamed state's folder is the root
  state.Rename("Trip");
  EXPECT_TRUE(state.MakeFolder());
  EXPECT_FALSE(state.MakeFolder());
  for (const char* name : {"..", ".", "a/b"}) {
    state.Rename(name);
    EXPECT_FALSE(state.MakeFolder()) << name;
  }
}

TEST(MapState, ApplyPageValuesTakesChangedHeadValuesAndPositions) {
  MapState state("/root");
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  state.m_pictures.Append(PictureRecord("/p/b.jpg", "", "cache_1.jpg"));
  const bool modified =
      state.ApplyPageValues("", "N:35:37:32.828", "E:139:44:31.338",
                            {{"X:99:99:99.999", "X:999:99:99.999"}, {"N:35:00:41.544", "E:135:46:05.760"}});
  EXPECT_TRUE(modified);
  EXPECT_EQ(state.m_zoom, "9");
  EXPECT_EQ(state.m_latitude, "N:35:37:32.828");
  EXPECT_EQ(state.m_pictures.At(0).m_modified, 0);
  EXPECT_EQ(state.m_pictures.At(1).m_modified, 1);
  EXPECT_EQ(state.m_pictures.At(1).m_latitude, "N:35:00:41.544");
}

TEST(MapState, ApplyPageValuesWithAnotherPictureCountChangesOnlyTheHead) {
  MapState state("/root");
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  state.m_pictures.At(0).m_modified = 1;
  EXPECT_FALSE(state.ApplyPageValues("12", "", "", {}));
  EXPECT_EQ(state.m_zoom, "12");
  EXPECT_EQ(state.m_pictures.At(0).m_latitude, "X:99:99:99.999");
}

TEST(MapState, ApplyPageValuesIgnoresTextsThatWouldSplitAStateFileLine) {
  MapState state("/root");
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  EXPECT_FALSE(state.ApplyPageValues("1\n2", "N\r", "E", {{"N:1\n", "X:999:99:99.999"}}));
  EXPECT_EQ(state.m_zoom, "9");
  EXPECT_EQ(state.m_latitude, "X:99:99:99.999");
  EXPECT_EQ(state.m_longitude, "E");
  EXPECT_EQ(state.m_pictures.At(0).m_latitude, "X:99:99:99.999");
}

TEST(MapState, TakeThumbnailsMovesUnsavedThumbnailsIntoTheStateFolder) {
  TempFolder root;
  MapState state(root.Path());
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  state.m_pictures.Append(PictureRecord("/p/gone.jpg", "", ""));
  WriteFileText(root / "cache_0.jpg", "thumb");
  state.Rename("Trip");
  state.m_pictures.At(0).m_stateName.clear();
  state.m_pictures.At(1).m_stateName.clear();
  ASSERT_TRUE(state.MakeFolder());
  EXPECT_TRUE(state.TakeThumbnails());
  EXPECT_EQ(ReadFileText(root / "Trip/cache_0.jpg"), "thumb");
  EXPECT_FALSE(::access((root / "cache_0.jpg").c_str(), F_OK) == 0);
  EXPECT_EQ(state.m_pictures.At(0).m_stateName, "Trip");
  EXPECT_EQ(state.m_pictures.At(1).m_stateName, "Trip");
}

TEST(MapState, TakeThumbnailsLeavesAnUnnamedStatesThumbnailsInPlace) {
  TempFolder root;
  MapState state(root.Path());
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  WriteFileText(root / "cache_0.jpg", "thumb");
  EXPECT_TRUE(state.TakeThumbnails());
  EXPECT_EQ(ReadFileText(root / "cache_0.jpg"), "thumb");
}

TEST(MapState, TakeThumbnailsPassesOverAThumbnailThatIsNotThere) {
  // A picture that could not be decoded has no thumbnail; the others still move.
  TempFolder root;
  MapState state(root.Path());
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  state.m_pictures.Append(PictureRecord("/p/b.jpg", "", "cache_1.jpg"));
  WriteFileText(root / "cache_1.jpg", "thumb");
  state.m_name = "Trip";
  ASSERT_TRUE(state.MakeFolder());
  EXPECT_TRUE(state.TakeThumbnails());
  EXPECT_EQ(ReadFileText(root / "Trip/cache_1.jpg"), "thumb");
  EXPECT_EQ(state.m_pictures.At(0).m_stateName, "Trip");
}

TEST(MapState, CopyThumbnailsCopiesEveryThumbnailAndLeavesTheSourcesInPlace) {
  TempFolder root;
  MapState screen(root.Path());
  screen.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  screen.m_pictures.Append(PictureRecord("/p/b.jpg", "Old", "cache_1.jpg"));
  ASSERT_EQ(::mkdir((root / "Old").c_str(), 0777), 0);
  WriteFileText(root / "cache_0.jpg", "zero");
  WriteFileText(root / "Old/cache_1.jpg", "one");
  MapState copy = screen;
  copy.Rename("New");
  ASSERT_TRUE(copy.MakeFolder());
  EXPECT_TRUE(copy.CopyThumbnailsFrom(screen));
  EXPECT_EQ(ReadFileText(root / "New/cache_0.jpg"), "zero");
  EXPECT_EQ(ReadFileText(root / "New/cache_1.jpg"), "one");
  EXPECT_EQ(ReadFileText(root / "cache_0.jpg"), "zero");
  EXPECT_EQ(ReadFileText(root / "Old/cache_1.jpg"), "one");
}

}  // namespace

namespace {

// The saved-state fuzzer's seeds and findings, replayed: each reads without
// harm, and a successful read settles after one write and read.
TEST(MapState, ReadsEveryFuzzerCorpusFileAndSettlesAfterOneRound) {
  const std::filesystem::path corpus = std::filesystem::path(TV_SOURCE_DIR) / "fuzz/corpus/tvd";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    MapState first = MapState::Listed("Fuzz", "/nonexistent/root/Fuzz/data.tvd");
    if (first.ReadFromText(ReadFileText(entry.path().string())) != PictureResult::Success) {
      continue;
    }
    MapState second = MapState::Listed("Fuzz", "/nonexistent/root/Fuzz/data.tvd");
    ASSERT_EQ(second.ReadFromText(first.StateText()), PictureResult::Success);
    EXPECT_EQ(second.m_pictures.Count(), first.m_pictures.Count());
    MapState third = MapState::Listed("Fuzz", "/nonexistent/root/Fuzz/data.tvd");
    ASSERT_EQ(third.ReadFromText(second.StateText()), PictureResult::Success);
    EXPECT_EQ(third.StateText(), second.StateText());
  }
  EXPECT_GE(files, 5);
}

}  // namespace
