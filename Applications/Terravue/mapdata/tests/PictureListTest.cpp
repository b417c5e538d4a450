#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "Applications/Terravue/mapdata/tests/OracleReader.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

// Pictures of the test set with a position, and without one.
constexpr const char* kWithGps1 = "goexifv3-gps.jpg";            // 2018:04:28 21:23:12
constexpr const char* kWithGps2 = "exifpy-DSCN0010.jpg";         // 2008:10:22 16:28:39
constexpr const char* kWithoutGps1 = "exifpy-Canon_40D.jpg";     // 2008:05:30 15:56:01
constexpr const char* kWithoutGps2 = "exifpy-32-lens_data.jpg";  // 2012:07:14 16:30:12
constexpr const char* kPortrait = "mdx-Canon_EOS_1000D.jpg";     // stored 3888 x 2592, orientation 6

// Pictures the library reads differently from the independent reader by
// design: a GPS pointer of type signed LONG (only LONG and IFD pointers are
// followed), and a comment segment before the Exif block (the Exif locator
// stops at the first segment that is not APPn).
const std::set<std::string> kNotFollowed = {"exiv2-FurnaceCreekInn.jpg", "exiv2-exiv2-kodak-dc210.jpg"};

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

TEST(FitThumbnailSize, FitsLandscapePortraitAndSquareIntoTheBox) {
  std::int32_t w = 0;
  std::int32_t h = 0;
  ASSERT_TRUE(FitThumbnailSize(4000, 3000, &w, &h));
  EXPECT_EQ(w, 550);
  EXPECT_EQ(h, 412);
  ASSERT_TRUE(FitThumbnailSize(3000, 4000, &w, &h));
  EXPECT_EQ(w, 412);
  EXPECT_EQ(h, 550);
  ASSERT_TRUE(FitThumbnailSize(8, 8, &w, &h));
  EXPECT_EQ(w, 550);
  EXPECT_EQ(h, 550);
  EXPECT_FALSE(FitThumbnailSize(0, 10, &w, &h));
}

TEST(PictureRecord, StartsWithTheDesignedDefaults) {
  const PictureRecord record;
  EXPECT_EQ(record.m_latitude, "X:99:99:99.999");
  EXPECT_EQ(record.m_longitude, "X:999:99:99.999");
  EXPECT_EQ(record.m_width, 550);
  EXPECT_EQ(record.m_height, 413);
  EXPECT_EQ(record.m_selected, 0);
  EXPECT_EQ(record.m_modified, 0);
  EXPECT_FALSE(record.m_captureTime.IsValid());
}

TEST(PictureRecord, HasPositionWithoutThumbnailOrWithBothCoordinates) {
  PictureRecord record("/p/a.jpg", "", "");
  EXPECT_TRUE(record.HasPosition());
  record.m_cacheName = "cache_0.jpg";
  EXPECT_FALSE(record.HasPosition());
  record.m_latitude = "N:35:37:32.828";
  EXPECT_FALSE(record.HasPosition());
  record.m_longitude = "E:139:44:31.338";
  EXPECT_TRUE(record.HasPosition());
}

TEST(PictureRecord, SetPositionMarksOnlyARealChange) {
  PictureRecord record("/p/a.jpg", "", "cache_0.jpg");
  record.SetPosition("X:99:99:99.999", "X:999:99:99.999");
  EXPECT_EQ(record.m_modified, 0);
  record.SetPosition("N:35:37:32.828", "X:999:99:99.999");
  EXPECT_EQ(record.m_modified, 1);
  EXPECT_EQ(record.m_latitude, "N:35:37:32.828");
}

TEST(PictureRecord, AnEmptyPathIsNoJpegStill) {
  PictureRecord record;
  EXPECT_EQ(record.ReadPositionAndTime(), PictureResult::NotJpegStill);
}

TEST(PictureRecord, AMissingPictureKeepsItsPathAndGetsTheSmallSize) {
  TempFolder root;
  PictureRecord record(root / "gone.jpg", "", "cache_0.jpg");
  EXPECT_EQ(record.ReadPositionAndTime(), PictureResult::NotJpegStill);
  EXPECT_EQ(record.WriteThumbnail(root.Path()), PictureResult::Missing);
  EXPECT_EQ(record.m_path, root / "gone.jpg");
  EXPECT_EQ(record.m_cacheName, "");
  EXPECT_EQ(record.m_width, 160);
  EXPECT_EQ(record.m_height, 120);
  EXPECT_TRUE(record.HasPosition());
}

TEST(PictureRecord, MeasuringAMissingPictureWithoutThumbnailKeepsTheDefaultSize) {
  TempFolder root;
  PictureRecord record(root / "gone.jpg", "Trip", "cache_0.jpg");
  record.MeasureThumbnail(root.Path());
  EXPECT_EQ(record.m_width, 550);
  EXPECT_EQ(record.m_height, 413);
}

TEST(PictureRecord, MeasuresThePictureWhenItsThumbnailIsGone) {
  TempFolder root;
  PictureRecord record(TestPicture(kPortrait), "Trip", "cache_0.jpg");
  record.MeasureThumbnail(root.Path());
  EXPECT_EQ(record.m_width, 366);
  EXPECT_EQ(record.m_height, 550);
}

TEST(PictureRecord, AnUprightPortraitGivesAPortraitThumbnail) {
  TempFolder root;
  PictureRecord record(TestPicture(kPortrait), "", "cache_0.jpg");
  ASSERT_EQ(record.WriteThumbnail(root.Path()), PictureResult::Success);
  EXPECT_EQ(record.m_width, 366);
  EXPECT_EQ(record.m_height, 550);
  EXPECT_EQ(DecodedJpegSize(root / "cache_0.jpg"), (XpPixmapOps::Size{366, 550}));
}

TEST(PictureRecord, AThumbnailThatCannotBeWrittenAnswersNine) {
  PictureRecord record(TestPicture(kWithGps1), "", "cache_0.jpg");
  EXPECT_EQ(record.WriteThumbnail("/nonexistent/root"), PictureResult::ThumbnailFailed);
}

// Every readable picture of the test set: its position is the oracle's GPS
// rationals in coordinate-text form, its time the oracle's capture time, and
// its thumbnail fits the 550 box and carries the same position.
TEST(PictureRecord, ReadsTheTestPicturesAsTheIndependentReaderDoes) {
  TempFolder root;
  int compared = 0;
  int thumbnails = 0;
  int located = 0;
  int counter = 0;
  for (const OracleValue& o : ReadOracle()) {
    const std::string file = o["file"].text;
    SCOPED_TRACE(file);
    const bool broken = o["exif_parsed_from"].text != "jpeg" || !o["jpeg_structure_errors"].items.empty() ||
                        !o["exiftool_error"].IsNull();
    const std::string path = TestPicture(file);
    if (broken || !IsJpegStill(path) || kNotFollowed.count(file) != 0) {
      continue;
    }
    PictureRecord record(path, "", "cache_" + std::to_string(counter++) + ".jpg");
    (void)record.ReadPositionAndTime();
    ++compared;

    if (!o["gps_ifd_present"].boolean) {
      EXPECT_EQ(record.m_latitude, kNoLatitudeText);
      EXPECT_EQ(record.m_longitude, kNoLongitudeText);
    }
    for (const bool latitude : {true, false}) {
      const std::string prefix = latitude ? "gps_lat_" : "gps_lon_";
      const OracleValue& rationals = o[prefix + "rationals"];
      if (!o["gps_ifd_present"].boolean || o[prefix + "type"].text != "rational64u[3]" || rationals.items.size() != 3) {
        continue;
      }
      XpGPSRef ref;
      const std::string& letter = o[prefix + "ref"].text;
      ref.valid = letter.empty() ? 0 : 1;
      ref.letter = letter.empty() ? 0 : static_cast<char16_t>(letter[0]);
      XpGPSRational3 value;
      value.valid = 1;
      for (std::size_t i = 0; i < 3; ++i) {
        value.numerators[i] = static_cast<std::uint32_t>(rationals.items[i].items[0].number);
        value.denominators[i] = static_cast<std::uint32_t>(rationals.items[i].items[1].number);
      }
      const std::string expected = CoordinateTextFromGPS(ref, value, latitude);
      EXPECT_EQ(latitude ? record.m_latitude : record.m_longitude, expected);
      if (latitude && expected != kNoLatitudeText) {
        ++located;
      }
    }

    // Where the independent reader finds no capture time, a more lenient
    // directory walk may still find one; only the times it reports are compared.
    XpDateTime expectedTime;
    if (!o["datetime_original"].IsNull()) {
      (void)expectedTime.Parse(o["datetime_original"].text, "%04d:%02d:%02d %02d:%02d:%02d");
    }
    if (expectedTime.IsValid()) {
      EXPECT_EQ(record.m_captureTime, expectedTime);
      EXPECT_FALSE(record.m_timeText.empty());
    } else if (!record.m_captureTime.IsValid()) {
      EXPECT_EQ(record.m_timeText, "");
    }

    if (record.WriteThumbnail(root.Path()) != PictureResult::Success) {
      continue;
    }
    ++thumbnails;
    const std::string thumbnail = record.ThumbnailPath(root.Path());
    EXPECT_EQ(std::max(record.m_width, record.m_height), 550);
    EXPECT_EQ(DecodedJpegSize(thumbnail), (XpPixmapOps::Size{record.m_width, record.m_height}));
    XpGPSRecord pictureGps;
    XpGPSRecord thumbnailGps;
    if (XpExifRewrite::ReadGPS(path, pictureGps) == XpStatus::Ok) {
      ASSERT_EQ(XpExifRewrite::ReadGPS(thumbnail, thumbnailGps), XpStatus::Ok);
      EXPECT_EQ(thumbnailGps.latitude.numerators, pictureGps.latitude.numerators);
      EXPECT_EQ(thumbnailGps.longitude.denominators, pictureGps.longitude.denominators);
    }
  }
  EXPECT_GE(compared, 70);
  EXPECT_GE(thumbnails, 60);
  EXPECT_GE(located, 8);
}

TEST(PictureList, AddsPicturesSortedByCaptureTimeWithOneStepEach) {
  TempFolder root;
  PictureList list;
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures(
      {TestPicture(kWithoutGps2), TestPicture(kWithGps2), TestPicture(kWithGps1), TestPicture(kWithoutGps1)},
      root.Path(), progress, keepGoing));
  EXPECT_EQ(progress.steps, 4);
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.At(0).m_path, TestPicture(kWithoutGps1));
  EXPECT_EQ(list.At(1).m_path, TestPicture(kWithGps2));
  EXPECT_EQ(list.At(2).m_path, TestPicture(kWithoutGps2));
  EXPECT_EQ(list.At(3).m_path, TestPicture(kWithGps1));
  for (std::size_t i = 1; i < list.Count(); ++i) {
    EXPECT_LT(list.At(i - 1).m_captureTime, list.At(i).m_captureTime);
  }
  // The first located picture in path order is the selected one.
  EXPECT_EQ(list.At(1).m_selected, 1);
  EXPECT_EQ(list.At(3).m_selected, 0);
  EXPECT_EQ(list.Counter(), 4);
  for (const PictureRecord& record : list.Records()) {
    EXPECT_TRUE(Exists(record.ThumbnailPath(root.Path()))) << record.m_cacheName;
  }
  int without = -1;
  EXPECT_TRUE(list.CountWithoutPosition(&without));
  EXPECT_EQ(without, 2);
}

TEST(PictureList, OnlyTheThirdPictureIsSelectedWhenTheFirstTwoHaveNoPosition) {
  TempFolder root;
  PictureList list;
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures({TestPicture(kWithoutGps1), TestPicture(kWithoutGps2), TestPicture(kWithGps1)},
                               root.Path(), progress, keepGoing));
  int selected = 0;
  for (const PictureRecord& record : list.Records()) {
    selected += record.m_selected;
    if (record.m_selected != 0) {
      EXPECT_EQ(record.m_path, TestPicture(kWithGps1));
    }
  }
  EXPECT_EQ(selected, 1);
}

TEST(PictureList, NumbersNewThumbnailsFromTheCounter) {
  TempFolder root;
  PictureList list;
  list.SetCounter(5);
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures({TestPicture(kWithGps1), TestPicture(kWithGps2)}, root.Path(), progress, keepGoing));
  ASSERT_EQ(list.Count(), 2u);
  // Sorting put the later picture last; the names follow the order of adding.
  EXPECT_EQ(list.At(1).m_path, TestPicture(kWithGps1));
  EXPECT_EQ(list.At(1).m_cacheName, "cache_5.jpg");
  EXPECT_EQ(list.At(0).m_cacheName, "cache_6.jpg");
  EXPECT_EQ(list.Counter(), 7);
}

TEST(PictureList, CancellingAfterTheFirstPictureLeavesOneRecordUnsorted) {
  TempFolder root;
  PictureList list;
  std::atomic<bool> keepGoing{true};
  CancellingProgress progress(keepGoing, 1);
  ASSERT_TRUE(list.AddPictures({TestPicture(kWithoutGps2), TestPicture(kWithGps1), TestPicture(kWithGps2)}, root.Path(),
                               progress, keepGoing));
  EXPECT_EQ(list.Count(), 2u);  // the flag is read after the second picture
  EXPECT_EQ(list.At(0).m_path, TestPicture(kWithoutGps2));
  EXPECT_EQ(progress.steps, 1);

  PictureList cancelled;
  std::atomic<bool> stopped{false};
  NullProgressSink none;
  ASSERT_TRUE(cancelled.AddPictures({TestPicture(kWithoutGps2), TestPicture(kWithGps1)}, root.Path(), none, stopped));
  EXPECT_EQ(cancelled.Count(), 1u);
}

TEST(PictureList, PassesOverOtherFilesAndPathsWithALineBreak) {
  TempFolder root;
  TempFolder pictures;
  const std::string broken = pictures / "two\nlines.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture(kWithGps1), broken));
  WriteFileText(pictures / "notes.txt", "text");
  PictureList list;
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(
      list.AddPictures({broken, pictures / "notes.txt", "", TestPicture(kWithGps1)}, root.Path(), progress, keepGoing));
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.At(0).m_path, TestPicture(kWithGps1));
  EXPECT_EQ(list.At(0).m_cacheName, "cache_0.jpg");
  EXPECT_EQ(progress.steps, 1);
}

TEST(PictureList, APictureThatVanishedIsStillListedWithTheSmallSize) {
  TempFolder root;
  TempFolder pictures;
  PictureList list;
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures({pictures / "vanished.jpg"}, root.Path(), progress, keepGoing));
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.At(0).m_cacheName, "");
  EXPECT_EQ(list.At(0).m_width, 160);
  EXPECT_EQ(list.At(0).m_height, 120);
  EXPECT_EQ(list.At(0).m_selected, 1);  // a picture without thumbnail counts as located
  EXPECT_EQ(list.Counter(), 1);
}

TEST(PictureList, StopsWithFalseWhenAThumbnailCannotBeWritten) {
  PictureList list;
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  EXPECT_FALSE(
      list.AddPictures({TestPicture(kWithGps1), TestPicture(kWithGps2)}, "/nonexistent/root", progress, keepGoing));
  EXPECT_EQ(list.Count(), 1u);
}

TEST(PictureList, SmallQueries) {
  PictureList list;
  EXPECT_TRUE(list.FirstHasThumbnail());
  int without = -1;
  EXPECT_FALSE(list.CountWithoutPosition(&without));
  EXPECT_EQ(without, 0);
  list.Append(PictureRecord("/p/A.JPG", "", ""));
  list.Append(PictureRecord("/p/b.jpg", "", "cache_1.jpg"));
  EXPECT_FALSE(list.FirstHasThumbnail());
  EXPECT_TRUE(list.ContainsPath("/p/A.JPG"));
  EXPECT_FALSE(list.ContainsPath("/p/a.jpg"));  // file names differ by case on this platform
  EXPECT_EQ(list.Paths(), (std::vector<std::string>{"/p/A.JPG", "/p/b.jpg"}));
  list.At(1).m_selected = 1;
  list.ClearSelection();
  EXPECT_EQ(list.At(1).m_selected, 0);
}

TEST(PictureList, DropsOnlyTheThumbnailsOfUnsavedPictures) {
  TempFolder root;
  ASSERT_EQ(::mkdir((root / "Trip").c_str(), 0777), 0);
  WriteFileText(root / "cache_0.jpg", "x");
  WriteFileText(root / "Trip/cache_1.jpg", "x");
  ASSERT_EQ(::chmod((root / "cache_0.jpg").c_str(), 0444), 0);
  PictureList list;
  list.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  list.Append(PictureRecord("/p/b.jpg", "Trip", "cache_1.jpg"));
  list.DropUnsavedThumbnails(root.Path());
  EXPECT_FALSE(Exists(root / "cache_0.jpg"));
  EXPECT_TRUE(Exists(root / "Trip/cache_1.jpg"));
}

}  // namespace
