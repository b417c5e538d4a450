// The program writes, moves and removes only files it made itself: thumbnails
// are new files under names it picks, a saved map's names never lead to other
// files, and state files that are not regular files are refused at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureLoadPool.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/StateChecks.h"
#include "Applications/Terravue/mapdata/TrackFiles.h"
#include "Applications/Terravue/mapdata/UnreadablePictures.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

constexpr const char* kPhotoA = "goexifv3-gps.jpg";
constexpr const char* kPhotoB = "exifpy-DSCN0010.jpg";

bool IsLink(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool Exists(const std::string& path) { return MapEntryExists(path); }

// A copy of a test photo at `path`; its bytes are returned to compare with later.
std::string PlacePhoto(const char* name, const std::string& path) {
  EXPECT_TRUE(CopyFileTo(TestPicture(name), path));
  return ReadFileText(path);
}

std::vector<std::string> CacheNames(const PictureList& list) {
  std::vector<std::string> names;
  for (const PictureRecord& record : list.Records()) {
    names.push_back(record.m_cacheName);
  }
  return names;
}

TEST(ThumbnailNames, OnlyPlainCacheNamesHaveANumber) {
  EXPECT_EQ(ThumbnailNumber("cache_0.jpg"), 0);
  EXPECT_EQ(ThumbnailNumber("cache_2147483647.jpg"), 2147483647);
  EXPECT_EQ(ThumbnailName(17), "cache_17.jpg");
  for (const char* name : {"", "cache_.jpg", "cache_2147483648.jpg", "cache_00000000001.jpg", "../cache_1.jpg",
                           "cache_1.jpg/", "cache_-1.jpg", "cache_1.JPG", "/etc/cache_1.jpg", "cache_1a.jpg"}) {
    EXPECT_EQ(ThumbnailNumber(name), -1) << name;
  }
}

TEST(MapIsInFolder, JudgesByTheSpelledAndTheResolvedPath) {
  TempFolder temp;
  const std::string work = temp / "work";
  ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((work + "/Trip").c_str(), 0755), 0);
  WriteFileText(work + "/Trip/a.jpg", "a");
  WriteFileText(temp / "b.jpg", "b");
  ASSERT_EQ(::symlink((work + "/Trip/a.jpg").c_str(), (temp / "link-in.jpg").c_str()), 0);
  ASSERT_EQ(::symlink((temp / "b.jpg").c_str(), (work + "/link-out.jpg").c_str()), 0);
  ASSERT_EQ(::symlink(work.c_str(), (temp / "work-link").c_str()), 0);

  EXPECT_TRUE(MapIsInFolder(work + "/Trip/a.jpg", work));
  EXPECT_TRUE(MapIsInFolder(work + "/Trip/../cache_0.jpg", work));
  EXPECT_TRUE(MapIsInFolder(temp / "link-in.jpg", work));    // reaches a file inside
  EXPECT_TRUE(MapIsInFolder(work + "/link-out.jpg", work));  // lies inside
  EXPECT_TRUE(MapIsInFolder(temp / "work-link/Trip/a.jpg", work));
  EXPECT_TRUE(MapIsInFolder(work + "/Trip/a.jpg", temp / "work-link"));
  EXPECT_FALSE(MapIsInFolder(temp / "b.jpg", work));
  EXPECT_FALSE(MapIsInFolder(work + "/../b.jpg", work));
  EXPECT_FALSE(MapIsInFolder(temp / "work2/a.jpg", work));
}

// A thumbnail is a new file: whatever has its name stays as it was, on every
// way the making can end.
TEST(MakeThumbnail, NeverOpensFollowsOrRemovesWhatHasTheName) {
  TempFolder temp;
  const std::string photo = temp / "photo.jpg";
  const std::string photoBytes = PlacePhoto(kPhotoA, photo);
  const std::string other = temp / "other.jpg";
  const std::string otherBytes = PlacePhoto(kPhotoB, other);
  ASSERT_EQ(::symlink(other.c_str(), (temp / "linked.jpg").c_str()), 0);
  ASSERT_EQ(::symlink((temp / "nowhere.jpg").c_str(), (temp / "dangling.jpg").c_str()), 0);
  WriteFileText(temp / "not-a-jpeg.jpg", "text");

  std::int32_t w = 0;
  std::int32_t h = 0;
  // A photo under the thumbnail's name.
  EXPECT_EQ(MakeThumbnail(other, photo, &w, &h), PictureResult::ThumbnailFailed);
  EXPECT_EQ(ReadFileText(photo), photoBytes);
  // A link to a photo, and a link to nothing: neither is followed.
  EXPECT_EQ(MakeThumbnail(photo, temp / "linked.jpg", &w, &h), PictureResult::ThumbnailFailed);
  EXPECT_EQ(ReadFileText(other), otherBytes);
  EXPECT_TRUE(IsLink(temp / "linked.jpg"));
  EXPECT_EQ(MakeThumbnail(photo, temp / "dangling.jpg", &w, &h), PictureResult::ThumbnailFailed);
  EXPECT_FALSE(Exists(temp / "nowhere.jpg"));
  // A picture that does not decode removes nothing that has the name, and
  // leaves nothing where there was nothing.
  EXPECT_EQ(MakeThumbnail(temp / "not-a-jpeg.jpg", photo, &w, &h), PictureResult::NotJpegStill);
  EXPECT_EQ(ReadFileText(photo), photoBytes);
  EXPECT_EQ(MakeThumbnail(temp / "not-a-jpeg.jpg", temp / "cache_0.jpg", &w, &h), PictureResult::NotJpegStill);
  EXPECT_FALSE(Exists(temp / "cache_0.jpg"));
  // A free name gets the thumbnail.
  EXPECT_EQ(MakeThumbnail(photo, temp / "cache_0.jpg", &w, &h), PictureResult::Success);
  EXPECT_GT(ReadFileText(temp / "cache_0.jpg").size(), 0u);
}

// Opening photos that lie in the work folder (a file manager's "Open with" on
// a thumbnail, or a photo of the user's named like one) adds none of them,
// and no thumbnail lands on a name something else holds.
class AddingBesideForeignFiles : public ::testing::TestWithParam<unsigned> {};

TEST_P(AddingBesideForeignFiles, LeavesEveryFileOfTheWorkFolderAsItWas) {
  TempFolder temp;
  const std::string work = temp / "work";
  const std::string outside = temp / "outside";
  ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  const std::string inWork0 = PlacePhoto(kPhotoA, work + "/cache_0.jpg");
  const std::string inWork1 = PlacePhoto(kPhotoB, work + "/cache_1.jpg");
  const std::string linkedBytes = PlacePhoto(kPhotoB, outside + "/linked.jpg");
  ASSERT_EQ(::symlink((outside + "/linked.jpg").c_str(), (work + "/cache_2.jpg").c_str()), 0);
  (void)PlacePhoto(kPhotoA, outside + "/a.jpg");
  (void)PlacePhoto(kPhotoB, outside + "/b.jpg");
  ASSERT_EQ(::symlink((work + "/cache_1.jpg").c_str(), (outside + "/to-work.jpg").c_str()), 0);

  PictureList list;
  NullProgressSink progress;
  const std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(AddPicturesOnWorkers(
      list,
      {work + "/cache_0.jpg", outside + "/a.jpg", outside + "/to-work.jpg", outside + "/b.jpg", work + "/cache_2.jpg"},
      work, progress, keepGoing, GetParam()));
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Paths(), (std::vector<std::string>{outside + "/b.jpg", outside + "/a.jpg"}));  // by time
  EXPECT_EQ(CacheNames(list), (std::vector<std::string>{"cache_4.jpg", "cache_3.jpg"}));
  EXPECT_EQ(list.Counter(), 5);
  EXPECT_EQ(ReadFileText(work + "/cache_0.jpg"), inWork0);
  EXPECT_EQ(ReadFileText(work + "/cache_1.jpg"), inWork1);
  EXPECT_EQ(ReadFileText(outside + "/linked.jpg"), linkedBytes);
  EXPECT_TRUE(IsLink(work + "/cache_2.jpg"));

  list.DropUnsavedThumbnails(work);
  EXPECT_FALSE(Exists(work + "/cache_3.jpg"));
  EXPECT_FALSE(Exists(work + "/cache_4.jpg"));
  EXPECT_EQ(ReadFileText(work + "/cache_0.jpg"), inWork0);
  EXPECT_EQ(ReadFileText(work + "/cache_1.jpg"), inWork1);
  EXPECT_TRUE(IsLink(work + "/cache_2.jpg"));
}

INSTANTIATE_TEST_SUITE_P(Workers, AddingBesideForeignFiles, ::testing::Values(1u, 3u));

// The thumbnail-named entries of a map's folder after a saved map names other
// files: a "../" name, an absolute one and a link under a plain name.
struct PlantedMap {
  TempFolder temp;
  std::string root = temp / "root";
  std::string trip = root + "/Trip";
  std::string pictures = temp / "pictures";
  std::string victims = temp / "victims";
  std::string aBytes;
  std::string bBytes;
  std::string cBytes;

  PlantedMap() {
    EXPECT_EQ(::mkdir(root.c_str(), 0755), 0);
    EXPECT_EQ(::mkdir(trip.c_str(), 0755), 0);
    EXPECT_EQ(::mkdir(pictures.c_str(), 0755), 0);
    EXPECT_EQ(::mkdir(victims.c_str(), 0755), 0);
    (void)PlacePhoto(kPhotoA, pictures + "/one.jpg");
    (void)PlacePhoto(kPhotoB, pictures + "/two.jpg");
    (void)PlacePhoto(kPhotoA, pictures + "/three.jpg");
    aBytes = PlacePhoto(kPhotoA, root + "/victim-a.jpg");
    bBytes = PlacePhoto(kPhotoB, victims + "/victim-b.jpg");
    cBytes = PlacePhoto(kPhotoB, victims + "/victim-c.jpg");
    EXPECT_EQ(::symlink((victims + "/victim-c.jpg").c_str(), (trip + "/cache_2.jpg").c_str()), 0);
    const std::string block =
        "\t{\n\t\t%PATH%\n\t\t%CACHE%\n\t\tN:35:00:41.544\n\t\tE:135:46:05.760\n"
        "\t\t2007/3/7 9:5:3\n\t}\n";
    std::string text = "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tN:35\n\tE:139\n\t3\n";
    const std::pair<std::string, std::string> records[] = {{pictures + "/one.jpg", "../victim-a.jpg"},
                                                           {pictures + "/two.jpg", victims + "/victim-b.jpg"},
                                                           {pictures + "/three.jpg", "cache_2.jpg"}};
    for (const auto& [path, cache] : records) {
      std::string b = block;
      b.replace(b.find("%PATH%"), 6, path);
      b.replace(b.find("%CACHE%"), 7, cache);
      text += b;
    }
    WriteFileText(trip + "/data.tvd", text + "}\n");
  }

  void ExpectVictimsUntouched() const {
    EXPECT_EQ(ReadFileText(root + "/victim-a.jpg"), aBytes);
    EXPECT_EQ(ReadFileText(victims + "/victim-b.jpg"), bBytes);
    EXPECT_EQ(ReadFileText(victims + "/victim-c.jpg"), cBytes);
    EXPECT_TRUE(IsLink(trip + "/cache_2.jpg"));
  }
};

TEST(SavedMapNames, NoThumbnailNameOfASavedMapReachesAnotherFile) {
  PlantedMap planted;
  MapState state = MapState::Listed("Trip", planted.trip + "/data.tvd");
  ASSERT_EQ(state.Read(), PictureResult::Success);
  ASSERT_EQ(state.m_pictures.Count(), 3u);
  // Names that are not the program's own are refused: those pictures have no thumbnail.
  EXPECT_EQ(state.m_pictures.At(0).m_cacheName, "");
  EXPECT_EQ(state.m_pictures.At(1).m_cacheName, "");
  EXPECT_FALSE(state.m_pictures.At(2).ThumbnailPathIsSafe(planted.root));

  // Opening brings thumbnails in step, saving writes moves (and a removal):
  // the photos on the map change, the files the names reached do not.
  state.m_pictures.RefreshAll(planted.root);
  planted.ExpectVictimsUntouched();
  state.m_pictures.At(0).SetPosition("N:10:00:00.000", "E:20:00:00.000");
  state.m_pictures.At(1).SetPosition("N:11:00:00.000", "E:21:00:00.000");
  state.m_pictures.At(2).SetPosition(std::string(kNoLatitudeText), std::string(kNoLongitudeText));
  const WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(report.problems.empty());
  for (const PictureRecord& record : state.m_pictures.Records()) {
    EXPECT_EQ(record.m_modified, 0) << record.m_path;  // the move is in the photo
  }
  ASSERT_EQ(state.Write(/*stamp=*/false), PictureResult::Success);
  EXPECT_TRUE(state.TakeThumbnails());
  (void)FindUnreadablePictures(state.m_pictures, planted.root);
  state.m_pictures.DropUnsavedThumbnails(planted.root);
  planted.ExpectVictimsUntouched();

  // Saving it as a new map copies no file the names reached.
  MapState copy = state;
  copy.Rename("Copy");
  ASSERT_TRUE(copy.MakeFolder());
  EXPECT_TRUE(copy.CopyThumbnailsFrom(state));
  EXPECT_FALSE(Exists(planted.root + "/Copy/cache_2.jpg"));
  planted.ExpectVictimsUntouched();
}

TEST(SavedMapNames, AListedTrackThatIsALinkIsNotRead) {
  TempFolder temp;
  const std::string trip = temp / "Trip";
  ASSERT_EQ(::mkdir(trip.c_str(), 0755), 0);
  WriteFileText(temp / "elsewhere.gpx", "<gpx/>");
  WriteFileText(trip + "/track_2.gpx", "<gpx/>");
  ASSERT_EQ(::symlink((temp / "elsewhere.gpx").c_str(), (trip + "/track_1.gpx").c_str()), 0);
  WriteFileText(trip + "/tracks.txt", "track_1.gpx\ntrack_2.gpx\n");
  EXPECT_EQ(TracksOfState(trip), (std::vector<std::string>{trip + "/track_2.gpx"}));
  // Keeping tracks again does not take the link for a kept copy.
  std::vector<std::string> kept;
  ASSERT_EQ(KeepTracksWithState(trip, {trip + "/track_1.gpx"}, &kept), XpStatus::Ok);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0], trip + "/track_3.gpx");
  EXPECT_TRUE(IsLink(trip + "/track_1.gpx"));
  EXPECT_EQ(ReadFileText(temp / "elsewhere.gpx"), "<gpx/>");
}

// Runs `read` on its own thread and answers whether it ended within a
// generous deadline. A read that hangs on the pipe is released by opening its
// other end, so the test ends either way.
template <typename Read>
bool EndsWithoutAWriter(const std::vector<std::string>& pipes, Read read) {
  auto done = std::async(std::launch::async, read);
  const bool ended = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!ended) {
    for (const std::string& pipe : pipes) {
      const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        ::close(fd);
      }
    }
  }
  done.wait();
  return ended;
}

TEST(StateFiles, ANamedPipeForAStateFileIsRefusedAtOnce) {
  TempFolder temp;
  const std::string trip = temp / "Trip";
  ASSERT_EQ(::mkdir(trip.c_str(), 0755), 0);
  WriteFileText(trip + "/data.tvd",
                "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tN:35\n\tE:139\n\t1\n"
                "\t{\n\t\t/p/a.jpg\n\t\tcache_0.jpg\n\t\tN\n\t\tE\n\t\t2007/3/7 9:5:3\n\t}\n}\n");
  ASSERT_EQ(::mkfifo((trip + "/moves.txt").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((trip + "/tracks.txt").c_str(), 0644), 0);

  // The map opens without the pipe's list, and no track is listed.
  PictureResult read = PictureResult::OpenFailed;
  EXPECT_TRUE(EndsWithoutAWriter({trip + "/moves.txt"}, [&] {
    MapState state = MapState::Listed("Trip", trip + "/data.tvd");
    read = state.Read();
    return state.m_pictures.Count();
  }));
  EXPECT_EQ(read, PictureResult::Success);
  std::vector<std::string> tracks{"not read"};
  EXPECT_TRUE(EndsWithoutAWriter({trip + "/tracks.txt"}, [&] {
    tracks = TracksOfState(trip);
    return tracks.size();
  }));
  EXPECT_TRUE(tracks.empty());

  // A pipe for the state file itself: the map can't be read, and says so.
  ASSERT_EQ(::unlink((trip + "/data.tvd").c_str()), 0);
  ASSERT_EQ(::mkfifo((trip + "/data.tvd").c_str(), 0644), 0);
  EXPECT_TRUE(EndsWithoutAWriter({trip + "/data.tvd"}, [&] {
    MapState state = MapState::Listed("Trip", trip + "/data.tvd");
    read = state.Read();
    return state.m_pictures.Count();
  }));
  EXPECT_EQ(read, PictureResult::OpenFailed);
  EXPECT_EQ(DiagnoseStateOpen(trip + "/data.tvd", "Trip", read), StateOpenProblem::NotReadable);
  struct stat info {};
  ASSERT_EQ(::lstat((trip + "/moves.txt").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A picture count smaller than the pictures the file holds would open part of
// the map and the next save would drop the rest: the map is damaged instead.
TEST(StateFiles, ACountBelowThePicturesHeldIsDamageAndTheFileStays) {
  TempFolder temp;
  const std::string trip = temp / "Trip";
  ASSERT_EQ(::mkdir(trip.c_str(), 0755), 0);
  const std::string block = "\t{\n\t\t/p/a.jpg\n\t\tcache_0.jpg\n\t\tN\n\t\tE\n\t\t2007/3/7 9:5:3\n\t}\n";
  for (const char* count : {"1", "-1", "0", "2x"}) {
    SCOPED_TRACE(count);
    const std::string text = "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tN:35\n\tE:139\n\t" +
                             std::string(count) + "\n" + block + block + block + "}\n";
    WriteFileText(trip + "/data.tvd", text);
    MapState state = MapState::Listed("Trip", trip + "/data.tvd");
    const PictureResult read = state.Read();
    EXPECT_EQ(read, PictureResult::Malformed);
    EXPECT_EQ(DiagnoseStateOpen(trip + "/data.tvd", "Trip", read), StateOpenProblem::Damaged);
    EXPECT_EQ(ReadFileText(trip + "/data.tvd"), text);
  }
  // The count of the blocks held, or more, reads them all.
  for (const char* count : {"3", "7"}) {
    SCOPED_TRACE(count);
    WriteFileText(trip + "/data.tvd", "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tN:35\n\tE:139\n\t" +
                                          std::string(count) + "\n" + block + block + block + "}\n");
    MapState state = MapState::Listed("Trip", trip + "/data.tvd");
    EXPECT_EQ(state.Read(), PictureResult::Success);
    EXPECT_EQ(state.m_pictures.Count(), 3u);
  }
}

}  // namespace
