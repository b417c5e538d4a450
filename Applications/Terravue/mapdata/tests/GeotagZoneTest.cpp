#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/mapdata/TimeZoneIndex.h"
#include "xp/base/XpCalendar.h"
#include "xp/text/XpNumberText.h"

namespace {

const std::string kMapPath = std::string(TV_SOURCE_DIR) + "/data/zones/zones.tvz";

std::int64_t Utc(int year, int month, int day, int hour, int minute = 0) {
  return ((XpDaysSince1970(year, month, day) * 24 + hour) * 60 + minute) * 60;
}

struct Point {
  double lat;
  double lng;
  std::int64_t utc;
};

TrackLog MakeLog(const std::vector<Point>& points) {
  std::string gpx = "<gpx version=\"1.1\"><trk><trkseg>";
  for (const Point& p : points) {
    char time[32];
    const auto tt = static_cast<time_t>(p.utc);
    struct tm utc {};
    gmtime_r(&tt, &utc);
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
    gpx += "<trkpt lat=\"" + XpFormatFixed(p.lat, 6) + "\" lon=\"" + XpFormatFixed(p.lng, 6) + "\"><time>" + time +
           "</time></trkpt>";
  }
  TrackLog log;
  EXPECT_EQ(log.AddBytes(gpx + "</trkseg></trk></gpx>"), XpStatus::Ok);
  return log;
}

PhotoTime Clock(int year, int month, int day, int hour, int minute, std::optional<int> zone = {}) {
  PhotoTime t;
  t.local = XpDateTime(year, month, day, hour, minute, 0);
  t.zoneSeconds = zone;
  return t;
}

class GeotagZones : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m_map.LoadFile(kMapPath), XpStatus::Ok);
    m_options.zoneMap = &m_map;
  }
  TimeZoneIndex m_map;
  GeotagOptions m_options;
};

TEST_F(GeotagZones, ACameraWithoutZoneIsPlacedRightAcrossTheChangeToSummerTime) {
  // A walk through Berlin from 00:00 to 04:00 UTC on 31 March 2024, one fix a minute going east;
  // the clocks went from 02:00 to 03:00 local time at 01:00 UTC. The camera follows local time.
  std::vector<Point> walk;
  for (int minute = 0; minute <= 240; ++minute) {
    walk.push_back({52.52, 13.30 + minute * 0.001, Utc(2024, 3, 31, 0) + minute * 60});
  }
  const TrackLog log = MakeLog(walk);
  struct Case {
    int hour;
    int minute;
    std::int64_t utc;
    int offset;
  };
  for (const Case& c : {Case{1, 30, Utc(2024, 3, 31, 0, 30), 3600}, Case{1, 59, Utc(2024, 3, 31, 0, 59), 3600},
                        Case{3, 0, Utc(2024, 3, 31, 1, 0), 7200}, Case{3, 30, Utc(2024, 3, 31, 1, 30), 7200},
                        Case{5, 45, Utc(2024, 3, 31, 3, 45), 7200}}) {
    const GeotagFix fix = GeotagPhoto(log, Clock(2024, 3, 31, c.hour, c.minute), m_options);
    EXPECT_EQ(fix.utcSeconds, c.utc) << c.hour << ":" << c.minute;
    EXPECT_EQ(fix.status, GeotagStatus::Exact) << c.hour << ":" << c.minute;
    EXPECT_EQ(fix.zone, "Europe/Berlin");
    EXPECT_EQ(fix.zoneSeconds, c.offset) << c.hour << ":" << c.minute;
    const std::int64_t minute = (c.utc - Utc(2024, 3, 31, 0)) / 60;
    EXPECT_NEAR(fix.longitude, 13.30 + static_cast<double>(minute) * 0.001, 1e-6);
  }
}

TEST_F(GeotagZones, EachPhotoTakesTheZoneWhereTheTrackIsAtItsTime) {
  // From Badajoz, Spain (UTC+02:00 in July) across the border to Elvas, Portugal (UTC+01:00) and
  // on west: the first hour in Spain, then in Portugal. The camera is set to local time on each
  // side.
  const std::int64_t start = Utc(2024, 7, 10, 8);
  const TrackLog log = MakeLog({{38.878, -6.970, start},
                                {38.878, -6.970, start + 3600},
                                {38.881, -7.163, start + 3660},
                                {38.881, -7.300, start + 7200},
                                {38.881, -7.340, start + 8400},
                                {38.881, -7.380, start + 9600}});
  // The first guess is the zone in the middle of the track: Lisbon. 09:30 read as Lisbon time is
  // 08:30 UTC, when the track is in Spain; read as Madrid time it is 07:30 UTC, the track's
  // nearest fix still in Spain: the refinement settles on Madrid.
  const GeotagFix spain = GeotagPhoto(log, Clock(2024, 7, 10, 9, 30), m_options);
  EXPECT_EQ(spain.zone, "Europe/Madrid");
  EXPECT_EQ(spain.zoneSeconds, 7200);
  EXPECT_EQ(spain.utcSeconds, start - 1800);
  EXPECT_EQ(spain.status, GeotagStatus::Nearest);
  EXPECT_NEAR(spain.longitude, -6.970, 1e-6);
  // 11:30 read as Madrid time would be 09:30 UTC, when the track is in Portugal; as Lisbon time it
  // is 10:30 UTC, in Portugal: Lisbon.
  const GeotagFix portugal = GeotagPhoto(log, Clock(2024, 7, 10, 11, 30), m_options);
  EXPECT_EQ(portugal.zone, "Europe/Lisbon");
  EXPECT_EQ(portugal.zoneSeconds, 3600);
  EXPECT_EQ(portugal.utcSeconds, start + 9000);
  EXPECT_EQ(portugal.status, GeotagStatus::Interpolated);
  EXPECT_NEAR(portugal.longitude, -7.360, 1e-6);
}

TEST_F(GeotagZones, APhotosOwnZoneOrAGivenZoneWins) {
  const TrackLog log = MakeLog({{35.68, 139.69, Utc(2024, 5, 1, 0)}, {35.69, 139.70, Utc(2024, 5, 1, 6)}});
  // The photo says +02:00: 06:00 there is 04:00 UTC, and no zone comes from the position.
  const GeotagFix own = GeotagPhoto(log, Clock(2024, 5, 1, 6, 0, 7200), m_options);
  EXPECT_EQ(own.utcSeconds, Utc(2024, 5, 1, 4));
  EXPECT_TRUE(own.zone.empty());
  GeotagOptions given = m_options;
  given.zoneSeconds = 0;
  const GeotagFix fixed = GeotagPhoto(log, Clock(2024, 5, 1, 3, 0), given);
  EXPECT_EQ(fixed.utcSeconds, Utc(2024, 5, 1, 3));
  EXPECT_TRUE(fixed.zone.empty());
  // From the position: Tokyo, +09:00.
  const GeotagFix tokyo = GeotagPhoto(log, Clock(2024, 5, 1, 12, 0), m_options);
  EXPECT_EQ(tokyo.zone, "Asia/Tokyo");
  EXPECT_EQ(tokyo.utcSeconds, Utc(2024, 5, 1, 3));
  // A clock offset counts after the zone: 30 s fast.
  GeotagOptions fast = m_options;
  fast.clockOffsetSeconds = 30;
  EXPECT_EQ(GeotagPhoto(log, Clock(2024, 5, 1, 12, 0), fast).utcSeconds, Utc(2024, 5, 1, 3) - 30);
  // A photo the track does not reach keeps the first guess and is not placed.
  const GeotagFix outside = GeotagPhoto(log, Clock(2024, 6, 1, 12, 0), m_options);
  EXPECT_EQ(outside.status, GeotagStatus::NoMatch);
  EXPECT_EQ(outside.zone, "Asia/Tokyo");
  EXPECT_EQ(outside.utcSeconds, Utc(2024, 6, 1, 3));
  // No valid time: nothing.
  EXPECT_EQ(GeotagPhoto(log, PhotoTime{}, m_options).status, GeotagStatus::NoTime);
}

}  // namespace
