#include <gtest/gtest.h>

#include <string>

#include "Applications/Terravue/mapdata/TrackSniff.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

TEST(TrackSniff, TellsGpxDocumentsByTheirRootElement) {
  EXPECT_TRUE(LooksLikeTrackLog("<gpx version=\"1.1\">"));
  EXPECT_TRUE(LooksLikeTrackLog("\xEF\xBB\xBF  <?xml version=\"1.0\"?>\n<!-- made here -->\n<!--x--><gpx>"));
  EXPECT_TRUE(LooksLikeTrackLog("<g:gpx xmlns:g=\"x\">"));
  EXPECT_TRUE(LooksLikeTrackLog("<gpx/>"));
  EXPECT_FALSE(LooksLikeTrackLog("<gpxdata>"));
  EXPECT_FALSE(LooksLikeTrackLog("<kml><gpx>"));
  EXPECT_FALSE(LooksLikeTrackLog("<?xml version=\"1.0\"?><!-- never closed <gpx>"));
  EXPECT_FALSE(LooksLikeTrackLog("<?xml never closed <gpx>"));
  EXPECT_FALSE(LooksLikeTrackLog("<gpx"));
  EXPECT_FALSE(LooksLikeTrackLog(""));
  // Only the first bytes count: a root far down is not looked for.
  EXPECT_FALSE(LooksLikeTrackLog(std::string(kTrackSniffBytes, ' ') + "<gpx>"));
}

TEST(TrackSniff, TellsNmeaLogsByTheirFirstSentence) {
  EXPECT_TRUE(LooksLikeTrackLog("$GPRMC,092750.000,A,5321.6802,N*76\r\n"));
  EXPECT_TRUE(LooksLikeTrackLog("\r\n$GNGGA,1"));
  EXPECT_FALSE(LooksLikeTrackLog("$gprmc,1"));
  EXPECT_FALSE(LooksLikeTrackLog("$GPRM,1"));
  EXPECT_FALSE(LooksLikeTrackLog("notes: $GPRMC,1"));
}

TEST(TrackSniff, PathsByExtensionThenByContent) {
  TempFolder folder;
  WriteFileText(folder / "a.GPX", "not even xml");
  WriteFileText(folder / "b.Nmea", "");
  WriteFileText(folder / "c.jpg", "<gpx>");
  WriteFileText(folder / "d.xml", "<?xml version=\"1.0\"?><gpx>");
  WriteFileText(folder / "e.log", "$GPGGA,1,2");
  WriteFileText(folder / "f.txt", "shopping list");
  WriteFileText(folder / "g.txt", "");
  EXPECT_TRUE(IsTrackLogPath(folder / "a.GPX"));
  EXPECT_TRUE(IsTrackLogPath(folder / "b.Nmea"));
  EXPECT_FALSE(IsTrackLogPath(folder / "c.jpg"));
  EXPECT_TRUE(IsTrackLogPath(folder / "d.xml"));
  EXPECT_TRUE(IsTrackLogPath(folder / "e.log"));
  EXPECT_FALSE(IsTrackLogPath(folder / "f.txt"));
  EXPECT_FALSE(IsTrackLogPath(folder / "g.txt"));
  EXPECT_FALSE(IsTrackLogPath(folder / "missing.xml"));
  EXPECT_FALSE(IsTrackLogPath(folder.Path()));
}
