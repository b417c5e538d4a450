// Taking a picture off the map and forgetting its position, from the page's
// fields to the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PageEdits.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// The page's fields for `count` pictures, each left as sent.
std::vector<PageField> Fields(const MapState& map) {
  std::vector<PageField> fields = {{"pic_count", std::to_string(map.m_pictures.Count())}};
  for (std::size_t i = 0; i < map.m_pictures.Count(); ++i) {
    const std::string k = std::to_string(i + 1);
    fields.push_back({"pic_modify" + k, "0"});
    fields.push_back({"pic_latitude" + k, map.m_pictures.At(i).m_latitude});
    fields.push_back({"pic_longitude" + k, map.m_pictures.At(i).m_longitude});
  }
  return fields;
}

void SetField(std::vector<PageField>& fields, const std::string& name, const std::string& value) {
  for (PageField& field : fields) {
    if (field.name == name) {
      field.value = value;
      return;
    }
  }
  fields.push_back({name, value});
}

MapState LoadPhotos(const TempFolder& root, const TempFolder& photos, const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    EXPECT_TRUE(CopyFileTo(TestPicture(name), photos / name));
    paths.push_back(photos / name);
  }
  MapState map(root.Path());
  CountingProgress progress;
  const std::atomic<bool> keepGoing{true};
  EXPECT_TRUE(map.m_pictures.AddPictures(paths, root.Path(), progress, keepGoing));
  return map;
}

}  // namespace

TEST(PictureRemoval, ARemovedPictureLeavesTheMapAndItsUnsavedThumbnailButNotItsFile) {
  TempFolder root;
  TempFolder photos;
  MapState map = LoadPhotos(root, photos, {"exifpy-Canon_40D.jpg", "exiftool-GPS.jpg"});
  ASSERT_EQ(map.m_pictures.Count(), 2u);
  const std::string goingPath = map.m_pictures.At(0).m_path;
  const std::string goingThumbnail = map.m_pictures.At(0).ThumbnailPath(root.Path());
  const std::string staying = map.m_pictures.At(1).m_path;
  const std::string before = ReadFileText(goingPath);
  ASSERT_TRUE(Exists(goingThumbnail));

  std::vector<PageField> fields = Fields(map);
  SetField(fields, "pic_remove1", "1");
  const PageEdits edits = CollectPageEdits(fields, /*withPictures=*/true);
  ASSERT_EQ(edits.entries.size(), 2u);
  EXPECT_TRUE(edits.entries[0].removed);
  EXPECT_FALSE(edits.entries[1].removed);
  bool removed = false;
  EXPECT_TRUE(ApplyPageEdits(edits, map, &removed));
  EXPECT_TRUE(removed);
  ASSERT_EQ(map.m_pictures.Count(), 1u);
  EXPECT_EQ(map.m_pictures.At(0).m_path, staying);
  EXPECT_FALSE(Exists(goingThumbnail));
  EXPECT_EQ(ReadFileText(goingPath), before);
  // Only exactly "1" removes; a page that no longer matches the map removes nothing.
  std::vector<PageField> again = Fields(map);
  SetField(again, "pic_remove1", "true");
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(again, true), map, &removed));
  EXPECT_FALSE(removed);
  SetField(fields, "pic_remove2", "1");
  EXPECT_FALSE(ApplyPageEdits(CollectPageEdits(fields, true), map, &removed));
  EXPECT_EQ(map.m_pictures.Count(), 1u);
}

TEST(PictureRemoval, AForgottenPositionIsSavedAsRemovingTheGpsDirectory) {
  TempFolder root;
  TempFolder photos;
  MapState map = LoadPhotos(root, photos, {"exiftool-GPS.jpg"});
  ASSERT_EQ(map.m_pictures.Count(), 1u);
  const std::string path = map.m_pictures.At(0).m_path;
  XpGPSRecord gps;
  ASSERT_TRUE(ReadPictureGPS(path, &gps));
  ASSERT_NE(map.m_pictures.At(0).m_latitude, kNoLatitudeText);

  std::vector<PageField> fields = Fields(map);
  SetField(fields, "pic_modify1", "1");
  SetField(fields, "pic_latitude1", std::string(kNoLatitudeText));
  SetField(fields, "pic_longitude1", std::string(kNoLongitudeText));
  EXPECT_TRUE(ApplyPageEdits(CollectPageEdits(fields, true), map));

  const WriteBackReport report = map.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_EQ(report.written, std::vector<std::string>{path});
  EXPECT_TRUE(report.failed.empty());
  EXPECT_FALSE(ReadPictureGPS(path, &gps));
  EXPECT_EQ(map.m_pictures.At(0).m_modified, 0);
  EXPECT_FALSE(ReadPictureGPS(map.m_pictures.At(0).ThumbnailPath(root.Path()), &gps));
}

TEST(PictureRemoval, AForgottenPositionOfAMissingPictureIsReportedAndKept) {
  TempFolder root;
  TempFolder photos;
  MapState map = LoadPhotos(root, photos, {"exiftool-GPS.jpg"});
  PictureRecord& record = map.m_pictures.At(0);
  record.SetPosition(std::string(kNoLatitudeText), std::string(kNoLongitudeText));
  ASSERT_EQ(::unlink(record.m_path.c_str()), 0);
  const WriteBackReport report = map.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_EQ(report.missing, std::vector<std::string>{record.m_path});
  EXPECT_TRUE(report.written.empty());
}

TEST(PictureRemoval, OneCoordinateAloneIsNeverWritten) {
  TempFolder root;
  TempFolder photos;
  MapState map = LoadPhotos(root, photos, {"exiftool-GPS.jpg"});
  PictureRecord& record = map.m_pictures.At(0);
  const std::string before = ReadFileText(record.m_path);
  record.SetPosition(std::string(kNoLatitudeText), record.m_longitude);
  ASSERT_EQ(record.m_modified, 1);
  const WriteBackReport report = map.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(report.written.empty());
  EXPECT_EQ(ReadFileText(record.m_path), before);
}
