// Reading the map page's hidden fields back: which fields count, in which
// order, and how the collected values change the current map.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PageEdits.h"
#include "fuzz/PageEditsCase.h"

namespace {

MapState MapWithPictures(int count) {
  MapState map("/nowhere");
  map.m_zoom = "9";
  map.m_latitude = "N:35:37:32.828";
  map.m_longitude = "E:139:44:31.338";
  for (int i = 1; i <= count; ++i) {
    PictureRecord record("/photos/p" + std::to_string(i) + ".jpg", "", "cache_" + std::to_string(i) + ".jpg");
    record.m_latitude = "N:10:00:00.00" + std::to_string(i);
    record.m_longitude = "E:020:00:00.00" + std::to_string(i);
    map.m_pictures.Append(record);
  }
  return map;
}

// The fields the server page writes for `map`, values as sent.
std::vector<PageField> FieldsOf(const MapState& map) {
  std::vector<PageField> fields = {
      {"map_zoom", map.m_zoom}, {"map_latitude", map.m_latitude}, {"map_longitude", map.m_longitude}};
  fields.push_back({"pic_count", std::to_string(map.m_pictures.Count())});
  for (std::size_t i = 0; i < map.m_pictures.Count(); ++i) {
    const std::string k = std::to_string(i + 1);
    fields.push_back({"pic_modify" + k, "0"});
    fields.push_back({"pic_latitude" + k, map.m_pictures.At(i).m_latitude});
    fields.push_back({"pic_longitude" + k, map.m_pictures.At(i).m_longitude});
  }
  return fields;
}

}  // namespace

TEST(PageEdits, CollectsTheHeadAndEveryPictureInIndexOrder) {
  const std::vector<PageField> fields = {
      {"map_zoom", "12"},
      {"map_latitude", "N:01:02:03.004"},
      {"map_longitude", "W:005:06:07.008"},
      {"pic_count", "2"},
      {"pic_modify2", "1"},
      {"pic_latitude2", "S:02:00:00.000"},
      {"pic_longitude2", "E:1"},
      {"pic_modify1", "0"},
      {"pic_latitude1", "N:01:00:00.000"},
      {"pic_longitude1", "E:2"},
  };
  const PageEdits edits = CollectPageEdits(fields, /*withPictures=*/true);
  EXPECT_EQ(edits.zoom, "12");
  EXPECT_EQ(edits.latitude, "N:01:02:03.004");
  EXPECT_EQ(edits.longitude, "W:005:06:07.008");
  ASSERT_EQ(edits.entries.size(), 2u);
  EXPECT_EQ(edits.entries[0], (PageEditEntry{false, "N:01:00:00.000", "E:2"}));
  EXPECT_EQ(edits.entries[1], (PageEditEntry{true, "S:02:00:00.000", "E:1"}));
}

TEST(PageEdits, IgnoresAFieldBeforeTheCountAndAnIndexBeyondIt) {
  const std::vector<PageField> fields = {
      {"pic_latitude1", "N:01:00:00.000"}, {"pic_count", "1"}, {"pic_latitude2", "N:02:00:00.000"}};
  const PageEdits edits = CollectPageEdits(fields, true);
  ASSERT_EQ(edits.entries.size(), 1u);
  EXPECT_EQ(edits.entries[0].latitude, "");
}

TEST(PageEdits, MatchesTheHeadNamesIgnoringCaseAndTheIndexedNamesExactly) {
  const std::vector<PageField> fields = {
      {"MAP_ZOOM", "5"}, {"PIC_COUNT", "1"}, {"PIC_LATITUDE1", "N:09:00:00.000"}, {"pic_longitude1", "E:1"}};
  const PageEdits edits = CollectPageEdits(fields, true);
  EXPECT_EQ(edits.zoom, "5");
  ASSERT_EQ(edits.entries.size(), 1u);
  EXPECT_EQ(edits.entries[0].latitude, "");
  EXPECT_EQ(edits.entries[0].longitude, "E:1");
}

TEST(PageEdits, KeepsTheLastNonEmptyHeadValue) {
  const std::vector<PageField> fields = {
      {"map_zoom", "4"}, {"map_zoom", ""}, {"map_latitude", "N:1"}, {"map_latitude", "N:2"}};
  const PageEdits edits = CollectPageEdits(fields, false);
  EXPECT_EQ(edits.zoom, "4");
  EXPECT_EQ(edits.latitude, "N:2");
}

TEST(PageEdits, ARepeatedCountStartsTheEntriesAgain) {
  const std::vector<PageField> fields = {
      {"pic_count", "2"}, {"pic_latitude1", "N:1"}, {"pic_count", "3"}, {"pic_longitude3", "E:3"}};
  const PageEdits edits = CollectPageEdits(fields, true);
  ASSERT_EQ(edits.entries.size(), 3u);
  EXPECT_EQ(edits.entries[0].latitude, "");
  EXPECT_EQ(edits.entries[2].longitude, "E:3");
}

TEST(PageEdits, MarksAPictureMovedOnlyForExactlyOne) {
  const std::vector<PageField> fields = {
      {"pic_count", "3"}, {"pic_modify1", "1"}, {"pic_modify2", "1 "}, {"pic_modify3", "true"}};
  const PageEdits edits = CollectPageEdits(fields, true);
  ASSERT_EQ(edits.entries.size(), 3u);
  EXPECT_TRUE(edits.entries[0].moved);
  EXPECT_FALSE(edits.entries[1].moved);
  EXPECT_FALSE(edits.entries[2].moved);
}

TEST(PageEdits, WithoutPicturesReadsOnlyTheHead) {
  const std::vector<PageField> fields = {{"map_zoom", "3"}, {"pic_count", "1"}, {"pic_latitude1", "N:1"}};
  const PageEdits edits = CollectPageEdits(fields, false);
  EXPECT_EQ(edits.zoom, "3");
  EXPECT_EQ(edits.count, 0);
  EXPECT_TRUE(edits.entries.empty());
}

struct CountCase {
  const char* text;
  std::int64_t count;
  std::size_t entries;
};

class PageEditsCount : public testing::TestWithParam<CountCase> {};

TEST_P(PageEditsCount, ReadsTheLeadingNumberOfTheCount) {
  const std::vector<PageField> fields = {{"pic_count", GetParam().text}};
  const PageEdits edits = CollectPageEdits(fields, true);
  EXPECT_EQ(edits.count, GetParam().count);
  EXPECT_EQ(edits.entries.size(), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, PageEditsCount,
    testing::Values(CountCase{"3", 3, 3}, CountCase{" 2 pictures", 2, 2}, CountCase{"+1", 1, 1}, CountCase{"abc", 0, 0},
                    CountCase{"0", 0, 0}, CountCase{"-4", 0, 0}, CountCase{"2000000000", 2000000000, 0},
                    CountCase{"99999999999999999999999", std::numeric_limits<std::int64_t>::max(), 0}));

TEST(PageEdits, IgnoresIndexedNamesWithSignsBlanksTrailingTextOrHugeIndexes) {
  const std::vector<PageField> fields = {
      {"pic_count", "1"},      {"pic_latitude+1", "N:a"},         {"pic_latitude 1", "N:b"}, {"pic_latitude1x", "N:c"},
      {"pic_latitude", "N:d"}, {"pic_latitude4294967297", "N:e"}, {"pic_latitude0", "N:f"},  {"pic_latitude01", "N:g"}};
  const PageEdits edits = CollectPageEdits(fields, true);
  ASSERT_EQ(edits.entries.size(), 1u);
  // Leading zeros are still digits of the index 1.
  EXPECT_EQ(edits.entries[0].latitude, "N:g");
}

TEST(PageEdits, TheSamePositionsSentBackLeaveTheMapUnmodified) {
  MapState map = MapWithPictures(3);
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(FieldsOf(map), true), map));
  for (const PictureRecord& record : map.m_pictures.Records()) {
    EXPECT_EQ(record.m_modified, 0);
  }
}

TEST(PageEdits, ALatitudeThatDiffersInItsLastDigitModifiesThatPicture) {
  MapState map = MapWithPictures(2);
  std::vector<PageField> fields = FieldsOf(map);
  for (PageField& field : fields) {
    if (field.name == "pic_latitude2") {
      field.value.back() = '9';
    }
  }
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_modified, 0);
  EXPECT_EQ(map.m_pictures.At(1).m_modified, 1);
  EXPECT_EQ(map.m_pictures.At(1).m_latitude, "N:10:00:00.009");
}

TEST(PageEdits, ACountMismatchUpdatesTheHeadButNoPictureAndAnswersFalse) {
  MapState map = MapWithPictures(4);
  map.m_pictures.At(0).m_modified = 1;
  const std::vector<PageField> fields = {{"map_zoom", "14"},       {"pic_count", "3"},       {"pic_latitude1", "S:1"},
                                         {"pic_latitude2", "S:2"}, {"pic_latitude3", "S:3"}, {"map_latitude", "S:9"}};
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_zoom, "14");
  EXPECT_EQ(map.m_latitude, "S:9");
  EXPECT_EQ(map.m_pictures.At(1).m_latitude, "N:10:00:00.002");
}

TEST(PageEdits, ReadingWithoutPicturesAppliesTheHeadAndAnswersFalse) {
  MapState map = MapWithPictures(1);
  map.m_pictures.At(0).m_modified = 1;
  std::vector<PageField> fields = FieldsOf(map);
  fields[0].value = "17";
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(fields, false), map));
  EXPECT_EQ(map.m_zoom, "17");
}

TEST(PageEdits, AnEmptyZoomLeavesTheMapsZoom) {
  MapState map = MapWithPictures(0);
  const std::vector<PageField> fields = {{"map_zoom", ""}, {"map_longitude", "W:001:00:00.000"}};
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_zoom, "9");
  EXPECT_EQ(map.m_longitude, "W:001:00:00.000");
}

TEST(PageEdits, AnEarlierModificationStillCountsWhenTheCountsMatch) {
  MapState map = MapWithPictures(2);
  map.m_pictures.At(1).m_modified = 1;
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(FieldsOf(map), true), map));
}

TEST(PageEdits, AnEmptyPagePositionCountsAsAMove) {
  MapState map = MapWithPictures(1);
  const std::vector<PageField> fields = {{"pic_count", "1"}, {"pic_longitude1", "E:020:00:00.001"}};
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_latitude, "");
}

TEST(PageEdits, AHugeCountAllocatesNothingAndMatchesNoMap) {
  MapState map = MapWithPictures(0);
  const std::vector<PageField> fields = {{"pic_count", "2000000000"}, {"pic_latitude1", "N:1"}, {"map_zoom", "6"}};
  const PageEdits edits = CollectPageEdits(fields, true);
  EXPECT_TRUE(edits.entries.empty());
  EXPECT_FALSE(ApplyPageEdits(edits, map));
  EXPECT_EQ(map.m_zoom, "6");
}

TEST(PageEdits, RemovingTheOnlyMovedPictureStillAnswersTrue) {
  MapState map = MapWithPictures(2);
  std::vector<PageField> fields = FieldsOf(map);
  fields.push_back({"pic_latitude1", "N:11:00:00.000"});
  fields.push_back({"pic_remove1", "1"});
  bool removed = false;
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map, &removed));
  EXPECT_TRUE(removed);
  ASSERT_EQ(map.m_pictures.Count(), 1u);
  EXPECT_EQ(map.m_pictures.At(0).m_path, "/photos/p2.jpg");
  EXPECT_FALSE(map.AnyModified());
}

TEST(PageEdits, RemovedPicturesTakenAsHeldKeepTheirThumbnailAndGoBackToTheirPlaces) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("tv_removed_" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  MapState map = MapWithPictures(4);
  map.m_rootFolder = root.string();
  for (const PictureRecord& record : map.m_pictures.Records()) {
    std::ofstream(record.ThumbnailPath(map.m_rootFolder)) << "thumbnail";
  }
  // Pictures 2 and 4 leave the map; picture 2 was moved on the page before.
  std::vector<PageField> fields = FieldsOf(map);
  fields.push_back({"pic_modify2", "1"});
  fields.push_back({"pic_latitude2", "N:11:00:00.000"});
  fields.push_back({"pic_remove2", "1"});
  fields.push_back({"pic_remove4", "1"});
  std::vector<RemovedPicture> held;
  bool removed = false;
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map, &removed, &held));
  EXPECT_TRUE(removed);
  ASSERT_EQ(map.m_pictures.Count(), 2u);
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(held[0].record.m_path, "/photos/p4.jpg");
  EXPECT_EQ(held[0].index, 3u);
  EXPECT_EQ(held[1].record.m_path, "/photos/p2.jpg");
  EXPECT_EQ(held[1].index, 1u);
  // As the map held it, with the page's move.
  EXPECT_EQ(held[1].record.m_latitude, "N:11:00:00.000");
  EXPECT_EQ(held[1].record.m_modified, 1);
  for (const RemovedPicture& picture : held) {
    EXPECT_TRUE(std::filesystem::exists(picture.record.ThumbnailPath(map.m_rootFolder)));
  }

  // Put back in the reverse order of leaving, the list is as it was; out of order, a place
  // beyond the end is the end.
  MapState again = map;
  PutBackPicture(held[1], again);
  PutBackPicture(held[0], again);
  ASSERT_EQ(again.m_pictures.Count(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(again.m_pictures.At(i).m_path, "/photos/p" + std::to_string(i + 1) + ".jpg");
  }
  EXPECT_TRUE(again.AnyModified());
  MapState other = map;
  PutBackPicture(held[0], other);
  PutBackPicture(held[1], other);
  ASSERT_EQ(other.m_pictures.Count(), 4u);
  EXPECT_EQ(other.m_pictures.At(1).m_path, "/photos/p2.jpg");
  EXPECT_EQ(other.m_pictures.At(3).m_path, "/photos/p4.jpg");

  // Let go of, an unsaved thumbnail is deleted as an immediate removal deletes it.
  DropRemovedThumbnail(held[0], map.m_rootFolder);
  EXPECT_FALSE(std::filesystem::exists(held[0].record.ThumbnailPath(map.m_rootFolder)));
  EXPECT_TRUE(std::filesystem::exists(held[1].record.ThumbnailPath(map.m_rootFolder)));
  std::filesystem::remove_all(root);
}

// The page-edit fuzzer's seeds and findings, read as the fuzzer reads them
// (a flag byte, a picture count byte, then one "name=value" field a line) and
// held to the same rules: the pictures that stay are exactly those not
// removed, and the answer tells whether one is modified or removed.
TEST(PageEdits, ReplaysTheFuzzerCorpusUnderTheFuzzersRules) {
  const std::filesystem::path corpus = std::filesystem::path(TV_SOURCE_DIR) / "fuzz/corpus/pageedits";
  int files = 0;
  int withRemovals = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ++files;
    const page_edits_case::Outcome outcome = page_edits_case::Run(bytes);
    EXPECT_EQ(outcome.broken, "");
    withRemovals += outcome.removedAny ? 1 : 0;
  }
  EXPECT_GE(files, 9);
  EXPECT_GE(withRemovals, 4);
}

// The page's undo and redo of "Name places" say whether the names the program chose still wait;
// a picture the program chose no names for cannot be made to wait by the page.
TEST(PageEdits, TheNamedFieldSaysWhetherChosenPlaceNamesWait) {
  MapState map = MapWithPictures(3);
  map.m_pictures.At(0).m_names = XpLocationWrite::Names{"Gion", "Kyoto", "Japan", "JP", "JPN", std::nullopt};
  map.m_pictures.At(0).m_namesPending = 1;
  std::vector<PageField> fields = FieldsOf(map);
  fields.push_back({"pic_named1", "0"});
  fields.push_back({"pic_named2", "1"});
  PageEdits edits = CollectPageEdits(fields, true);
  ASSERT_EQ(edits.entries.size(), 3u);
  EXPECT_EQ(edits.entries[0].named, 0);
  EXPECT_EQ(edits.entries[1].named, 1);
  EXPECT_EQ(edits.entries[2].named, -1);
  // Undone on the page: nothing waits any more.
  EXPECT_FALSE(ApplyPageEdits(edits, map));
  EXPECT_EQ(map.m_pictures.At(0).m_namesPending, 0);
  EXPECT_EQ(map.m_pictures.At(1).m_namesPending, 0);
  EXPECT_FALSE(map.AnyModified());
  // Redone: the names wait again, and the map counts as modified.
  fields.back() = {"pic_named1", "1"};
  fields[fields.size() - 2] = {"pic_named2", "1"};
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_namesPending, 1);
  EXPECT_TRUE(map.m_pictures.At(0).m_names.has_value());
  // Any other value than exactly "1" is no wait.
  fields.back() = {"pic_named1", "yes"};
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_namesPending, 0);
}

// A photo named this session keeps every set of names it had; the page asks for one by number,
// and it waits only while the file holds another. A map shown in its place takes the later
// knowledge of the sets, without what waited.
TEST(PageEdits, TheNamedFieldAsksForOneOfThePhotosSetsOfNames) {
  const XpLocationWrite::Names held{"Washington", "District of Columbia", "USA", "US", "USA", std::string()};
  const XpLocationWrite::Names gion{"Gion", "Kyoto", "Japan", "JP", "JPN", std::nullopt};
  const XpLocationWrite::Names kyoto{"Kyoto", "Kyoto", "Japan", "JP", "JPN", std::nullopt};
  MapState map = MapWithPictures(2);
  PictureRecord& named = map.m_pictures.At(0);
  named.m_nameVersions = {held, gion, kyoto};
  ASSERT_TRUE(named.WantNames(2));
  EXPECT_EQ(named.m_namesPending, 1);
  EXPECT_FALSE(named.WantNames(3));
  EXPECT_EQ(named.m_namesWanted, 2u);
  // The file holds the second choice (a save wrote it): asking for it again is no change to write.
  named.m_namesInFile = 2;
  std::vector<PageField> fields = FieldsOf(map);
  fields.push_back({"pic_named1", "2"});
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_namesPending, 0);
  // Undone after that save: the first choice, then the names it held before, wait to be written.
  fields.back() = {"pic_named1", "1"};
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_namesPending, 1);
  EXPECT_EQ(map.m_pictures.At(0).m_names->city, "Gion");
  fields.back() = {"pic_named1", "0"};
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_names->city, "Washington");
  EXPECT_EQ(map.m_pictures.At(0).m_namesWanted, 0u);
  // A number that is not one of its sets, or no number, changes nothing or asks for the first.
  fields.back() = {"pic_named1", "7"};
  static_cast<void>(ApplyPageEdits(CollectPageEdits(fields, true), map));
  EXPECT_EQ(map.m_pictures.At(0).m_namesWanted, 0u);
  fields.back() = {"pic_named1", "-1"};
  EXPECT_EQ(CollectPageEdits(fields, true).entries[0].named, 0);

  // The same photos in another map (read from its file, so without sets): they take the sets and
  // which one the file holds, and nothing waits there.
  MapState other = MapWithPictures(2);
  other.TakeNameSets(map);
  const PictureRecord& taken = other.m_pictures.At(0);
  ASSERT_EQ(taken.m_nameVersions.size(), 3u);
  EXPECT_EQ(taken.m_namesInFile, 2u);
  EXPECT_EQ(taken.m_namesWanted, 2u);
  EXPECT_EQ(taken.m_names->city, "Kyoto");
  EXPECT_EQ(taken.m_namesPending, 0);
  EXPECT_FALSE(other.AnyModified());
  EXPECT_TRUE(other.m_pictures.At(1).m_nameVersions.empty());
  // The older knowledge does not replace the later: the map keeps its own.
  map.m_pictures.At(0).m_namesInFile = 0;
  map.m_pictures.At(0).NoteNameSetsChanged();
  MapState older = map;
  older.m_pictures.At(0).m_namesInFile = 1;
  map.m_pictures.At(0).NoteNameSetsChanged();
  map.TakeNameSets(older);
  EXPECT_EQ(map.m_pictures.At(0).m_namesInFile, 0u);
}
