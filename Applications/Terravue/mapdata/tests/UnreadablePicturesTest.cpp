// A photo that can't be decoded stays on the map without a thumbnail, is told
// about with its reason, and never keeps the map from being saved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/mapdata/UnreadablePictures.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

MapPageAddresses Addresses() { return {"http://127.0.0.1:1/maps", "http://127.0.0.1:1"}; }

// A map under `root` with a good photo, the CMYK sample, a truncated JPEG and
// a text file named like a photo, loaded as the window loads them.
MapState LoadFourPictures(const TempFolder& root, const TempFolder& photos) {
  for (const char* name : {"exifpy-Canon_40D.jpg", "pillow-pil_sample_cmyk.jpg", "pillow-truncated_jpeg.jpg"}) {
    EXPECT_TRUE(CopyFileTo(TestPicture(name), photos / name));
  }
  WriteFileText(photos / "notes.jpg", "These are notes, not a picture.\n");
  MapState map(root.Path());
  CountingProgress progress;
  const std::atomic<bool> keepGoing{true};
  EXPECT_TRUE(map.m_pictures.AddPictures({photos / "exifpy-Canon_40D.jpg", photos / "pillow-pil_sample_cmyk.jpg",
                                          photos / "pillow-truncated_jpeg.jpg", photos / "notes.jpg"},
                                         root.Path(), progress, keepGoing));
  return map;
}

}  // namespace

TEST(UnreadablePictures, EachUndecodablePictureIsNamedWithItsReasonAndStaysOnTheMap) {
  TempFolder root;
  TempFolder photos;
  MapState map = LoadFourPictures(root, photos);
  ASSERT_EQ(map.m_pictures.Count(), 4u);
  std::vector<UnreadablePicture> found = FindUnreadablePictures(map.m_pictures, root.Path());
  std::sort(found.begin(), found.end(),
            [](const UnreadablePicture& a, const UnreadablePicture& b) { return a.path < b.path; });
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].path, photos / "notes.jpg");
  EXPECT_EQ(found[0].reason, UnreadableReason::NotJpeg);
  EXPECT_EQ(found[1].path, photos / "pillow-pil_sample_cmyk.jpg");
  EXPECT_EQ(found[1].reason, UnreadableReason::Undecodable);
  // The truncated photo still decodes (its missing end is filled in).
  EXPECT_EQ(UnreadableReasonOf(photos / "pillow-truncated_jpeg.jpg"), UnreadableReason::Undecodable);
  EXPECT_TRUE(map.m_pictures.ContainsPath(photos / "pillow-pil_sample_cmyk.jpg"));
}

TEST(UnreadablePictures, AThumbnailDeletedMeanwhileIsMadeAgainAndNotReported) {
  TempFolder root;
  TempFolder photos;
  MapState map = LoadFourPictures(root, photos);
  const PictureRecord* good = nullptr;
  for (const PictureRecord& record : map.m_pictures.Records()) {
    if (record.m_path == photos / "exifpy-Canon_40D.jpg") {
      good = &record;
    }
  }
  ASSERT_NE(good, nullptr);
  ASSERT_TRUE(Exists(good->ThumbnailPath(root.Path())));
  ASSERT_EQ(::unlink(good->ThumbnailPath(root.Path()).c_str()), 0);
  const std::vector<UnreadablePicture> found = FindUnreadablePictures(map.m_pictures, root.Path());
  EXPECT_EQ(found.size(), 2u);
  EXPECT_TRUE(Exists(good->ThumbnailPath(root.Path())));
}

TEST(UnreadablePictures, AMapWithUndecodablePicturesIsSavedAsNewAndOver) {
  TempFolder root;
  TempFolder photos;
  TempFolder program;
  const MapState map = LoadFourPictures(root, photos);
  MapStateStore store(root.Path());
  MapState saved;
  ASSERT_EQ(store.SaveAsNew(map, "Trip", program.Path(), Addresses(), nullptr, nullptr, &saved, nullptr),
            MapStateStore::SaveResult::Saved);
  EXPECT_TRUE(Exists(root / "Trip/data.tvd"));
  EXPECT_TRUE(Exists(root / "Trip/data.htm"));
  MapState reopened = MapState::Listed("Trip", root / "Trip/data.tvd");
  ASSERT_EQ(reopened.Read(), PictureResult::Success);
  EXPECT_EQ(reopened.m_pictures.Count(), 4u);
  EXPECT_TRUE(MapStateStore::SaveOver(saved, program.Path(), Addresses(), nullptr, nullptr, nullptr));
}
