#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/TrackFiles.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

TEST(TrackFiles, CopiesTracksIntoTheStateFolderAndListsThem) {
  TempFolder folder;
  const std::string state = folder / "Trip";
  ASSERT_EQ(::mkdir(state.c_str(), 0755), 0);
  WriteFileText(folder / "a.GPX", "<gpx>a</gpx>");
  WriteFileText(folder / "b.nmea", "$b");
  WriteFileText(state + "/track_1.gpx", "taken");  // a name already used is skipped
  std::vector<std::string> kept;
  ASSERT_EQ(KeepTracksWithState(state, {folder / "a.GPX", folder / "b.nmea"}, &kept), XpStatus::Ok);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0], state + "/track_2.gpx");
  EXPECT_EQ(kept[1], state + "/track_3.nmea");
  EXPECT_EQ(ReadFileText(kept[0]), "<gpx>a</gpx>");
  EXPECT_EQ(ReadFileText(state + "/tracks.txt"), "track_2.gpx\ntrack_3.nmea\n");
  EXPECT_EQ(TracksOfState(state), kept);

  // Saving again with the kept copies copies nothing more.
  std::vector<std::string> again;
  ASSERT_EQ(KeepTracksWithState(state, kept, &again), XpStatus::Ok);
  EXPECT_EQ(again, kept);
  EXPECT_FALSE(MapPathExists(state + "/track_4.gpx"));
}

TEST(TrackFiles, ReportsAMissingTrackAndListsTheRest) {
  TempFolder folder;
  WriteFileText(folder / "a.gpx", "<gpx/>");
  std::vector<std::string> kept;
  EXPECT_NE(KeepTracksWithState(folder.Path(), {folder / "gone.gpx", folder / "a.gpx"}, &kept), XpStatus::Ok);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(TracksOfState(folder.Path()).size(), 1u);
  // No tracks: no list.
  ASSERT_EQ(KeepTracksWithState(folder.Path(), {}, &kept), XpStatus::Ok);
  EXPECT_TRUE(TracksOfState(folder.Path()).empty());
}

TEST(TrackFiles, IgnoresListedNamesThatLeadOutOfTheFolder) {
  TempFolder folder;
  const std::string state = folder / "Trip";
  ASSERT_EQ(::mkdir(state.c_str(), 0755), 0);
  WriteFileText(folder / "outside.gpx", "<gpx/>");
  WriteFileText(state + "/track_1.gpx", "<gpx/>");
  WriteFileText(state + "/tracks.txt", "../outside.gpx\r\n/etc/passwd\r\n..\r\ntrack_1.gpx\r\nmissing.gpx\r\n");
  const auto paths = TracksOfState(state);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0], state + "/track_1.gpx");
}
