// Export files: GPX checked by xmllint and read back by the program's own track reader, GeoJSON
// parsed by Python's json module, KML checked by xmllint; hostile names stay well-formed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Applications/Terravue/mapdata/PhotoExport.h"
#include "Applications/Terravue/mapdata/TrackLog.h"

namespace {

namespace fs = std::filesystem;

std::vector<ExportPhoto> ThreePhotos() {
  return {
      // Listed out of time order; the track must sort them.
      {"kyoto.jpg", "2024/kyoto.jpg", {35.0210700, 135.7538500}, 48.5, 1714560000000, {}},
      {"tokyo & <co>.jpg", "2024/tokyo & co.jpg", {35.6812362, 139.7671248}, std::nullopt, 1714550400250, {}},
      {"no time.jpg", "no time.jpg", {-33.8568, 151.2153}, 3.0, std::nullopt, {}},
  };
}

class ExportFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv_export_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
  }
  void TearDown() override { fs::remove_all(m_root); }
  fs::path Write(const std::string& name, const std::string& bytes) {
    const fs::path path = m_root / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }
  fs::path m_root;
};

TEST(ExportTime, IsUtcIso8601WithMillisecondsOnlyWhenThereAreAny) {
  EXPECT_EQ(ExportTimeText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(ExportTimeText(1714550400250), "2024-05-01T08:00:00.250Z");
  EXPECT_EQ(ExportTimeText(-1000), "1969-12-31T23:59:59Z");
}

TEST_F(ExportFiles, GpxIsWellFormedWithWaypointsAndATrackInTimeOrder) {
  const std::string gpx = WriteGpx(ThreePhotos(), true);
  const fs::path path = Write("photos.gpx", gpx);
  EXPECT_EQ(Run("xmllint --noout '" + path.string() + "'"), 0) << gpx;
  EXPECT_NE(gpx.find("<wpt lat=\"35.0210700\" lon=\"135.7538500\"><ele>48.50</ele><time>2024-05-01T10:40:00Z</time>"
                     "<name>kyoto.jpg</name><link href=\"2024/kyoto.jpg\"><text>kyoto.jpg</text></link></wpt>"),
            std::string::npos)
      << gpx;
  EXPECT_NE(gpx.find("<name>tokyo &amp; &lt;co&gt;.jpg</name><link href=\"2024/tokyo%20%26%20co.jpg\">"),
            std::string::npos);
  // The track: Tokyo (earlier) before Kyoto, the photo without a time left out.
  const std::size_t track = gpx.find("<trkseg>");
  ASSERT_NE(track, std::string::npos);
  const std::size_t tokyo = gpx.find("<trkpt lat=\"35.6812362\"", track);
  const std::size_t kyoto = gpx.find("<trkpt lat=\"35.0210700\"", track);
  EXPECT_LT(tokyo, kyoto);
  EXPECT_EQ(gpx.find("<trkpt lat=\"-33.8568000\""), std::string::npos);
  EXPECT_EQ(WriteGpx(ThreePhotos(), false).find("<trk>"), std::string::npos);
  // Checked against the structure GPX 1.1 requires of its root element and points.
  EXPECT_EQ(Run("xmllint --noout --xpath \"count(/*[local-name()='gpx']/*[local-name()='wpt'])=3\" '" + path.string() +
                "' | grep -q true"),
            0);
}

TEST_F(ExportFiles, GeoJsonParsesWithLongitudeFirst) {
  const std::string json = WriteGeoJson(ThreePhotos(), true);
  const fs::path path = Write("photos.geojson", json);
  const std::string check =
      "python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); f=d['features']; "
      "assert d['type']=='FeatureCollection' and len(f)==4; "
      "assert f[0]['geometry']=={'type':'Point','coordinates':[135.75385,35.02107,48.5]}; "
      "assert f[1]['properties']['name']=='tokyo & <co>.jpg' and "
      "f[1]['properties']['time']=='2024-05-01T08:00:00.250Z'; "
      "assert f[2]['properties']['time'] is None; "
      "assert f[3]['geometry']['type']=='LineString' and [c[1] for c in f[3]['geometry']['coordinates']]=="
      "[35.6812362,35.02107]\" '" +
      path.string() + "'";
  EXPECT_EQ(Run(check), 0) << json;
}

TEST_F(ExportFiles, KmlIsWellFormed) {
  const std::string kml = WriteKml(ThreePhotos(), true);
  const fs::path path = Write("photos.kml", kml);
  EXPECT_EQ(Run("xmllint --noout '" + path.string() + "'"), 0) << kml;
  EXPECT_NE(kml.find("<coordinates>135.7538500,35.0210700,48.50</coordinates>"), std::string::npos);
  EXPECT_NE(kml.find("<LineString><coordinates>139.7671248,35.6812362 135.7538500,35.0210700,48.50</coordinates>"),
            std::string::npos);
}

TEST_F(ExportFiles, HostileNamesStayWellFormedInEveryFormat) {
  std::vector<ExportPhoto> photos = {
      {std::string("bad\x01\xFF\xC3(\"']]>.jpg"), std::string("a/\x7F\"b.jpg"), {0, 0}, std::nullopt, 0, "jpeg"}};
  EXPECT_EQ(Run("xmllint --noout '" + Write("h.gpx", WriteGpx(photos, true)).string() + "'"), 0);
  EXPECT_EQ(Run("xmllint --noout '" + Write("h.kml", WriteKml(photos, true)).string() + "'"), 0);
  const auto kmz = WriteKmz(photos, true);
  ASSERT_TRUE(kmz);
  const std::string kmzPath = Write("h.kmz", *kmz).string();
  EXPECT_EQ(Run("unzip -p '" + kmzPath + "' doc.kml | xmllint --noout -"), 0);
  EXPECT_EQ(Run("python3 -c \"import json,sys; json.load(open(sys.argv[1], encoding='utf-8'))\" '" +
                Write("h.geojson", WriteGeoJson(photos, true)).string() + "'"),
            0);
}

TEST_F(ExportFiles, AKmzHoldsTheDocumentAndTheThumbnailsOfThePhotosThatHaveOne) {
  std::vector<ExportPhoto> photos = ThreePhotos();
  photos[0].thumbnail = "first thumbnail";
  photos[2].thumbnail = std::string("third\0thumbnail", 15);
  const auto kmz = WriteKmz(photos, false);
  ASSERT_TRUE(kmz);
  const std::string path = Write("trip.kmz", *kmz).string();
  // An independent reader: every entry's sum checks, the names and bytes are the photos'.
  EXPECT_EQ(Run("unzip -tq '" + path + "' >/dev/null"), 0);
  EXPECT_EQ(Run("test \"$(unzip -Z1 '" + path + "' | tr '\\n' ' ')\" = 'doc.kml files/1.jpg files/3.jpg '"), 0);
  EXPECT_EQ(Run("unzip -p '" + path + "' files/3.jpg | cmp -s - '" +
                Write("third", std::string("third\0thumbnail", 15)).string() + "'"),
            0);
  // The document is the KML export but for the icons of the photos with a thumbnail.
  const std::string kml = WriteKml(photos, false);
  EXPECT_EQ(Run("unzip -p '" + path + "' doc.kml | xmllint --noout -"), 0);
  EXPECT_EQ(kml.find("files/"), std::string::npos);
  EXPECT_EQ(Run("unzip -p '" + path + "' doc.kml | grep -c '<Icon><href>files/[13].jpg</href></Icon>' | grep -qx 2"),
            0);
}

TEST_F(ExportFiles, PhotosAsATrackEqualTheSamePositionsWrittenAsAGpxFile) {
  const std::vector<ExportPhoto> photos = ThreePhotos();
  TrackLog direct;
  ASSERT_EQ(AddPhotosAsTrack(photos, &direct), XpStatus::Ok);
  TrackLog fromFile;
  ASSERT_EQ(fromFile.AddFile(Write("track.gpx", WriteGpx(photos, true)).string()), XpStatus::Ok);
  ASSERT_EQ(direct.Fixes().size(), 2u) << "the photo without a time is no fix";
  ASSERT_EQ(fromFile.Fixes().size(), direct.Fixes().size());
  for (std::size_t i = 0; i < direct.Fixes().size(); ++i) {
    const TrackFix& a = direct.Fixes()[i];
    const TrackFix& b = fromFile.Fixes()[i];
    EXPECT_EQ(a.timeMs, b.timeMs);
    EXPECT_EQ(a.latitude, b.latitude);
    EXPECT_EQ(a.longitude, b.longitude);
    EXPECT_EQ(a.hasElevation, b.hasElevation);
    EXPECT_EQ(a.elevation, b.elevation);
  }
  // In time order, at the photos' own positions and times.
  EXPECT_EQ(direct.Fixes()[0].timeMs, 1714550400250);
  EXPECT_NEAR(direct.Fixes()[0].latitude, 35.6812362, 1e-9);
  EXPECT_EQ(direct.Fixes()[1].timeMs, 1714560000000);
  EXPECT_TRUE(direct.Fixes()[1].hasElevation);
  EXPECT_DOUBLE_EQ(direct.Fixes()[1].elevation, 48.5);
}

}  // namespace
