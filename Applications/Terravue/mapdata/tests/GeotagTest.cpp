#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

constexpr std::int64_t kT0 = 1714521600;  // 2024-05-01T00:00:00Z

std::string Fix(double lat, double lon, std::int64_t secondsAfterT0, const char* ele = nullptr) {
  const std::int64_t t = kT0 + secondsAfterT0;
  char time[32];
  const time_t tt = static_cast<time_t>(t);
  struct tm utc {};
  gmtime_r(&tt, &utc);
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string s = "<trkpt lat=\"" + XpFormatFixed(lat, 6) + "\" lon=\"" + XpFormatFixed(lon, 6) + "\">";
  if (ele != nullptr) {
    s += std::string("<ele>") + ele + "</ele>";
  }
  return s + "<time>" + time + "</time></trkpt>";
}

TrackLog MakeLog(const std::string& points) {
  TrackLog log;
  const XpStatus st = log.AddBytes("<gpx version=\"1.1\"><trk><trkseg>" + points + "</trkseg></trk></gpx>");
  EXPECT_EQ(st, XpStatus::Ok);
  return log;
}

// Fixes at 0 s (10, 20, 100 m), 100 s (11, 21, 200 m), then a gap to 4000 s (12, 22, no elevation).
TrackLog Standard() { return MakeLog(Fix(10, 20, 0, "100") + Fix(11, 21, 100, "200") + Fix(12, 22, 4000)); }

PhotoTime Camera(int year, int month, int day, int hour, int minute, int second, std::optional<int> zone = {}) {
  PhotoTime t;
  t.local = XpDateTime(year, month, day, hour, minute, second);
  t.zoneSeconds = zone;
  return t;
}

// Sets TZ for one test and restores it afterwards.
class PinnedZone {
 public:
  explicit PinnedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      m_old = old;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~PinnedZone() {
    if (m_old) {
      ::setenv("TZ", m_old->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> m_old;
};

}  // namespace

TEST(GeotagMatch, TakesAFixOfEqualTimeExactly) {
  const TrackLog log = Standard();
  const GeotagFix fix = MatchTime(log, kT0 + 100, GeotagOptions{});
  EXPECT_EQ(fix.status, GeotagStatus::Exact);
  EXPECT_DOUBLE_EQ(fix.latitude, 11);
  EXPECT_DOUBLE_EQ(fix.longitude, 21);
  ASSERT_TRUE(fix.hasAltitude);
  EXPECT_DOUBLE_EQ(fix.altitude, 200);
  EXPECT_EQ(fix.utcSeconds, kT0 + 100);
}

TEST(GeotagMatch, InterpolatesLatitudeLongitudeAndElevation) {
  const TrackLog log = Standard();
  const GeotagFix fix = MatchTime(log, kT0 + 25, GeotagOptions{});
  EXPECT_EQ(fix.status, GeotagStatus::Interpolated);
  EXPECT_DOUBLE_EQ(fix.latitude, 10.25);
  EXPECT_DOUBLE_EQ(fix.longitude, 20.25);
  ASSERT_TRUE(fix.hasAltitude);
  EXPECT_DOUBLE_EQ(fix.altitude, 125);
}

TEST(GeotagMatch, InterpolatesOnlyWithinTheMaximumGap) {
  const TrackLog log = Standard();
  GeotagOptions options;
  options.maxGapSeconds = 3900;  // exactly the gap between 100 s and 4000 s
  GeotagFix fix = MatchTime(log, kT0 + 2050, options);
  EXPECT_EQ(fix.status, GeotagStatus::Interpolated);
  EXPECT_DOUBLE_EQ(fix.latitude, 11.5);
  EXPECT_FALSE(fix.hasAltitude);  // one side has no elevation
  options.maxGapSeconds = 3899;
  options.maxExtrapolateSeconds = 1950;
  fix = MatchTime(log, kT0 + 2050, options);
  EXPECT_EQ(fix.status, GeotagStatus::Nearest);  // 1950 s from both; the earlier wins
  EXPECT_DOUBLE_EQ(fix.latitude, 11);
  fix = MatchTime(log, kT0 + 2051, options);
  EXPECT_EQ(fix.status, GeotagStatus::Nearest);
  EXPECT_DOUBLE_EQ(fix.latitude, 12);
  options.maxExtrapolateSeconds = 1948;
  EXPECT_EQ(MatchTime(log, kT0 + 2050, options).status, GeotagStatus::NoMatch);
}

TEST(GeotagMatch, DefaultsLeaveAPhotoInTheMiddleOfALongGapUnmatched) {
  const TrackLog log = Standard();
  EXPECT_EQ(MatchTime(log, kT0 + 2050, GeotagOptions{}).status, GeotagStatus::NoMatch);
  EXPECT_EQ(MatchTime(log, kT0 + 1900, GeotagOptions{}).status, GeotagStatus::Nearest);
  EXPECT_EQ(MatchTime(log, kT0 + 1901, GeotagOptions{}).status, GeotagStatus::NoMatch);
}

TEST(GeotagMatch, TakesTheNearestFixBeforeAndAfterTheTrackUpToTheLimit) {
  const TrackLog log = Standard();
  GeotagFix fix = MatchTime(log, kT0 - 1800, GeotagOptions{});
  EXPECT_EQ(fix.status, GeotagStatus::Nearest);
  EXPECT_DOUBLE_EQ(fix.latitude, 10);
  EXPECT_DOUBLE_EQ(fix.altitude, 100);
  EXPECT_EQ(MatchTime(log, kT0 - 1801, GeotagOptions{}).status, GeotagStatus::NoMatch);
  fix = MatchTime(log, kT0 + 4000 + 1800, GeotagOptions{});
  EXPECT_EQ(fix.status, GeotagStatus::Nearest);
  EXPECT_DOUBLE_EQ(fix.latitude, 12);
  EXPECT_FALSE(fix.hasAltitude);
  EXPECT_EQ(MatchTime(log, kT0 + 4000 + 1801, GeotagOptions{}).status, GeotagStatus::NoMatch);
  EXPECT_EQ(MatchTime(TrackLog{}, kT0, GeotagOptions{}).status, GeotagStatus::NoMatch);
}

TEST(GeotagMatch, InterpolatesAcrossTheAntimeridianTheShortWay) {
  const TrackLog log = MakeLog(Fix(0, 179, 0) + Fix(0, -179, 100));
  const GeotagFix fix = MatchTime(log, kT0 + 75, GeotagOptions{});
  EXPECT_EQ(fix.status, GeotagStatus::Interpolated);
  EXPECT_DOUBLE_EQ(fix.longitude, -179.5);
}

TEST(GeotagMatch, MergesFilesAndSegmentsIntoOneTimeLine) {
  TrackLog log;
  ASSERT_EQ(log.AddBytes("<gpx><trk><trkseg>" + Fix(0, 0, 0) + "</trkseg><trkseg>" + Fix(0, 10, 1000) +
                         "</trkseg></trk></gpx>"),
            XpStatus::Ok);
  ASSERT_EQ(log.AddBytes("<gpx><trk><trkseg>" + Fix(0, 5, 500) + "</trkseg></trk></gpx>"), XpStatus::Ok);
  // Between the first file's two segments lies the second file's fix.
  GeotagFix fix = MatchTime(log, kT0 + 250, GeotagOptions{});
  EXPECT_EQ(fix.status, GeotagStatus::Interpolated);
  EXPECT_DOUBLE_EQ(fix.longitude, 2.5);
  fix = MatchTime(log, kT0 + 750, GeotagOptions{});
  EXPECT_DOUBLE_EQ(fix.longitude, 7.5);
}

TEST(GeotagTime, UsesThePhotosOwnZoneBeforeTheGivenOne) {
  GeotagOptions options;
  options.zoneSeconds = -5 * 3600;
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 5, 1, 9, 0, 0, 9 * 3600), options), kT0);
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 4, 30, 19, 0, 0), options), kT0);
  options.zoneSeconds = 5 * 3600 + 30 * 60;
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 5, 1, 5, 30, 0), options), kT0);
}

TEST(GeotagTime, SubtractsTheClockOffsetOfEitherSign) {
  GeotagOptions options;
  options.zoneSeconds = 0;
  options.clockOffsetSeconds = 90;  // the camera ran 90 s ahead
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 5, 1, 0, 1, 30), options), kT0);
  options.clockOffsetSeconds = -3661;  // behind by 1:01:01
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 4, 30, 22, 58, 59), options), kT0);
  EXPECT_FALSE(PhotoUtcSeconds(PhotoTime{}, options).has_value());
  EXPECT_EQ(GeotagPhoto(Standard(), PhotoTime{}, options).status, GeotagStatus::NoTime);
}

TEST(GeotagTime, UsesTheLocalZonesDaylightSavingRuleForThePhotosDate) {
  // Central Europe: UTC+1 in winter, UTC+2 from 31 March 2024 02:00.
  const PinnedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const GeotagOptions options;
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 3, 31, 1, 30, 0), options), 1711845000);  // 00:30Z, still winter time
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 3, 31, 3, 30, 0), options), 1711848600);  // 01:30Z, summer time
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 5, 1, 2, 0, 0), options), kT0);
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 1, 1, 1, 0, 0), options), 1704067200);
}

TEST(GeotagTime, GivesALocalTimeThatTheChangeToSummerTimeSkipsNoTime) {
  const PinnedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const GeotagOptions options;
  // 02:00 to 02:59:59 on 31 March 2024 never showed on a clock there.
  for (const auto& skipped :
       {Camera(2024, 3, 31, 2, 0, 0), Camera(2024, 3, 31, 2, 30, 0), Camera(2024, 3, 31, 2, 59, 59)}) {
    EXPECT_FALSE(PhotoUtcSeconds(skipped, options).has_value());
    const GeotagFix fix = GeotagPhoto(Standard(), skipped, options);
    EXPECT_EQ(fix.status, GeotagStatus::NoTime);
    EXPECT_FALSE(fix.Placed());
  }
  // The seconds on either side exist; a time the autumn change repeats gets one.
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 3, 31, 1, 59, 59), options), 1711846799);
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 3, 31, 3, 0, 0), options), 1711846800);
  EXPECT_TRUE(PhotoUtcSeconds(Camera(2024, 10, 27, 2, 30, 0), options).has_value());
  // With a zone of its own the clock reading is not looked up in the calendar.
  EXPECT_EQ(PhotoUtcSeconds(Camera(2024, 3, 31, 2, 30, 0, 3600), options), 1711848600);
}

TEST(GeotagTime, ReadsZoneAndClockOffsetTexts) {
  EXPECT_EQ(ParseZoneOffset("+09:00"), 9 * 3600);
  EXPECT_EQ(ParseZoneOffset("-05:30"), -(5 * 3600 + 1800));
  EXPECT_EQ(ParseZoneOffset("+0545"), 5 * 3600 + 45 * 60);
  EXPECT_EQ(ParseZoneOffset("-03"), -3 * 3600);
  EXPECT_EQ(ParseZoneOffset("Z"), 0);
  for (const char* bad : {"", "09:00", "+9:00", "+19:00", "+09:60", "+09:0", "+09:00x", "UTC"}) {
    EXPECT_FALSE(ParseZoneOffset(bad).has_value()) << bad;
  }
  EXPECT_EQ(ParseClockOffset("+1:02:03"), 3723);
  EXPECT_EQ(ParseClockOffset("-0:00:45"), -45);
  EXPECT_EQ(ParseClockOffset("-90"), -90);
  EXPECT_EQ(ParseClockOffset("2:30"), 150);
  for (const char* bad : {"", "+", "1:60", "1:2:3:4", "a", "1:-2", "99999999"}) {
    EXPECT_FALSE(ParseClockOffset(bad).has_value()) << bad;
  }
  EXPECT_EQ(FormatClockOffset(-3723), "-1:02:03");
  EXPECT_EQ(FormatClockOffset(45), "+0:00:45");
  EXPECT_EQ(ParseClockOffset(FormatClockOffset(-98765)), -98765);
}

TEST(GeotagClockOffset, FindsTheOffsetFromThePlaceOfOnePhoto) {
  const TrackLog log = Standard();
  GeotagOptions options;
  options.zoneSeconds = 0;
  options.clockOffsetSeconds = 12345;  // ignored
  // The photo says 00:03:00 but was taken at the 100 s fix: the clock is 80 s ahead.
  const PhotoTime photo = Camera(2024, 5, 1, 0, 3, 0);
  EXPECT_EQ(ClockOffsetFromPlace(log, photo, options, 11.01, 20.99), 80);
  // Placed near the first fix: 180 s ahead. Behind: a photo saying 23:59:00 the day before.
  EXPECT_EQ(ClockOffsetFromPlace(log, photo, options, 9.9, 20.0), 180);
  EXPECT_EQ(ClockOffsetFromPlace(log, Camera(2024, 4, 30, 23, 59, 0), options, 12, 22), -60 - 4000);
  options.clockOffsetSeconds = *ClockOffsetFromPlace(log, photo, options, 11.01, 20.99);
  EXPECT_EQ(GeotagPhoto(log, photo, options).status, GeotagStatus::Exact);
  EXPECT_FALSE(ClockOffsetFromPlace(TrackLog{}, photo, options, 0, 0).has_value());
}

namespace {

// A copy of a camera photo whose Exif directory also carries OffsetTimeOriginal.
std::string PhotoWithZone(const TempFolder& folder, const std::string& zone) {
  const std::string source = TestPicture("exifpy-Canon_40D.jpg");
  TagTreePtr tree;
  EXPECT_EQ(XpJpegExif::ReadTagTree(source, &tree), XpStatus::Ok);
  if (!tree || tree->GetExifIFD() == nullptr) {
    return {};
  }
  EXPECT_EQ(tree->GetExifIFD()->SetAscii(36881, zone), XpStatus::Ok);
  XpMemoryFile block;
  EXPECT_EQ(block.WriteAll("Exif\0\0", 6), XpStatus::Ok);
  XpStatus stored = XpStatus::Ok;
  EXPECT_NE(tree->Store(block, &stored), 0u);
  const std::string path = folder / "zoned.jpg";
  XpFile in;
  XpFile out;
  EXPECT_EQ(in.Open(source, XpAbstractFile::kRead), XpStatus::Ok);
  EXPECT_EQ(out.Open(path, XpAbstractFile::kWrite), XpStatus::Ok);
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(block, in, out), XpStatus::Ok);
  return path;
}

}  // namespace

TEST(GeotagPhotoFile, ReadsTheCaptureTimeAndTheOwnZone) {
  TempFolder folder;
  PhotoTime time;
  ASSERT_TRUE(ReadPhotoTime(TestPicture("exifpy-Canon_40D.jpg"), &time));
  EXPECT_FALSE(time.zoneSeconds.has_value());
  const std::string zoned = PhotoWithZone(folder, "-04:00");
  ASSERT_FALSE(zoned.empty());
  PhotoTime withZone;
  ASSERT_TRUE(ReadPhotoTime(zoned, &withZone));
  EXPECT_EQ(withZone.zoneSeconds, -4 * 3600);
  EXPECT_TRUE(withZone.local == time.local);
  EXPECT_FALSE(ReadPhotoTime(TestPicture("exifpy-no_exif.jpg"), &time));
}

TEST(GeotagWrite, WritesPositionAltitudeAndUtcStampsAndKeepsOtherTags) {
  TempFolder folder;
  const std::string path = folder / "photo.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture("exifr-iptc-agency-photographer-example.jpg"), path));
  XpGPSRecord before;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, before), XpStatus::Ok);
  GeotagFix fix;
  fix.status = GeotagStatus::Interpolated;
  fix.latitude = -33.8568;
  fix.longitude = 151.2153;
  fix.altitude = -12.34;
  fix.hasAltitude = true;
  fix.utcSeconds = kT0 + 23 * 3600 + 59 * 60 + 58;
  ASSERT_EQ(WriteGeotag(path, fix), XpStatus::Ok);
  XpGPSRecord after;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, after), XpStatus::Ok);
  double lat = 0;
  double lng = 0;
  ASSERT_TRUE(RationalsToDegrees(after.latitudeRef, after.latitude, &lat));
  ASSERT_TRUE(RationalsToDegrees(after.longitudeRef, after.longitude, &lng));
  EXPECT_NEAR(lat, -33.8568, 1e-6);
  EXPECT_NEAR(lng, 151.2153, 1e-6);
  ASSERT_TRUE(after.altitude.IsValid());
  EXPECT_EQ(after.altitude.numerator, 1234u);
  EXPECT_EQ(after.altitude.denominator, 100u);
  EXPECT_EQ(after.altitudeRef.letter, 1);
  EXPECT_EQ(after.dateStamp.Text(), "2024:05:01");
  EXPECT_EQ(after.timeStamp.numerators, (std::array<std::uint32_t, 3>{23, 59, 58}));
  if (before.mapDatum.IsValid()) {
    EXPECT_EQ(after.mapDatum.text, before.mapDatum.text);
  }

  // Without an elevation an old altitude goes, since it belongs to another place.
  fix.hasAltitude = false;
  ASSERT_EQ(WriteGeotag(path, fix), XpStatus::Ok);
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, after), XpStatus::Ok);
  EXPECT_FALSE(after.altitude.IsValid());
}

TEST(GeotagWrite, LeavesAPhotoWithoutAMatchUntouched) {
  TempFolder folder;
  const std::string path = folder / "photo.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture("exifpy-Canon_40D.jpg"), path));
  const std::string original = ReadFileText(path);
  GeotagFix fix;
  fix.status = GeotagStatus::NoMatch;
  EXPECT_EQ(WriteGeotag(path, fix), XpStatus::InvalidArgument);
  fix.status = GeotagStatus::Nearest;
  fix.latitude = 95;
  EXPECT_EQ(WriteGeotag(path, fix), XpStatus::InvalidArgument);
  EXPECT_EQ(ReadFileText(path), original);
}

TEST(GeotagWrite, BuildsTheRecordOfTheFixAndDropsWhatBelongedToTheOldOne) {
  XpGPSRecord record;
  record.version.bytes = {2, 2, 0, 0};
  record.version.valid = 1;
  record.mapDatum.valid = 1;
  for (XpGPSElement* old :
       std::initializer_list<XpGPSElement*>{&record.altitudeRef,     &record.altitude,        &record.satellites,
                                            &record.status,          &record.measureMode,     &record.dop,
                                            &record.speedRef,        &record.speed,           &record.trackRef,
                                            &record.track,           &record.imgDirectionRef, &record.imgDirection,
                                            &record.destLatitudeRef, &record.destLatitude,    &record.destLongitudeRef,
                                            &record.destLongitude,   &record.destBearingRef,  &record.destBearing,
                                            &record.destDistanceRef, &record.destDistance,    &record.processingMethod,
                                            &record.areaInformation, &record.differential}) {
    old->valid = 1;
  }
  record.imgDirection.numerator = 90;
  record.imgDirection.denominator = 1;
  GeotagFix fix;
  fix.status = GeotagStatus::Interpolated;
  fix.latitude = 35.5;
  fix.longitude = -139.25;
  fix.utcSeconds = kT0 + 3661;
  ASSERT_EQ(FillGeotagRecord(fix, &record), XpStatus::Ok);
  double lat = 0;
  double lng = 0;
  ASSERT_TRUE(RationalsToDegrees(record.latitudeRef, record.latitude, &lat));
  ASSERT_TRUE(RationalsToDegrees(record.longitudeRef, record.longitude, &lng));
  EXPECT_NEAR(lat, 35.5, 1e-9);
  EXPECT_NEAR(lng, -139.25, 1e-9);
  EXPECT_EQ(record.dateStamp.Text(), "2024:05:01");
  EXPECT_EQ(record.timeStamp.numerators, (std::array<std::uint32_t, 3>{1, 1, 1}));
  // The fix has no altitude: the old one goes with the rest of the old fix.
  for (std::uint16_t tag : {5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 30}) {
    EXPECT_FALSE(record.Element(tag)->IsValid()) << "tag " << tag;
  }
  EXPECT_TRUE(record.mapDatum.IsValid());
  EXPECT_EQ(record.version.bytes, (std::array<std::uint8_t, 4>{2, 2, 0, 0}));

  // A fix that is not placed leaves the record as it was.
  const XpGPSRecord placed = record;
  fix.status = GeotagStatus::NoMatch;
  EXPECT_EQ(FillGeotagRecord(fix, &record), XpStatus::InvalidArgument);
  EXPECT_EQ(record.latitude.numerators, placed.latitude.numerators);
  EXPECT_TRUE(record.dateStamp.IsValid());
}
