#include <gtest/gtest.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "Applications/Terravue/mapdata/TimeZoneIndex.h"
#include "xp/base/XpCalendar.h"

namespace {

const std::string kMapPath = std::string(TV_SOURCE_DIR) + "/data/zones/zones.tvz";
const std::string kPlacesPath = std::string(TV_SOURCE_DIR) + "/data/places/places.tvp";
const std::string kVectorsPath = std::string(TV_SOURCE_DIR) + "/Applications/Terravue/mapdata/tests/zone_vectors.tsv";

constexpr int kHour = 3600;

// Milliseconds since 1970 of a UTC date and time.
std::int64_t UtcMillis(int year, int month, int day, int hour = 12, int minute = 0) {
  return ((XpDaysSince1970(year, month, day) * 24 + hour) * 60 + minute) * 60 * 1000;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The real map, read once for the suite.
class TimeZoneWorld : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_map = std::make_unique<TimeZoneIndex>();
    s_status = s_map->LoadFile(kMapPath);
  }
  static void TearDownTestSuite() { s_map.reset(); }
  void SetUp() override { ASSERT_EQ(s_status, XpStatus::Ok) << kMapPath; }

  // The answer at a point and instant, failing the test when there is none.
  static ZoneAnswer At(double lat, double lng, std::int64_t utcMillis) {
    ZoneAnswer answer;
    EXPECT_EQ(s_map->Lookup(GeoPoint{lat, lng}, utcMillis, &answer), XpStatus::Ok) << lat << "," << lng;
    return answer;
  }

  static std::unique_ptr<TimeZoneIndex> s_map;
  static XpStatus s_status;
};
std::unique_ptr<TimeZoneIndex> TimeZoneWorld::s_map;
XpStatus TimeZoneWorld::s_status = XpStatus::Ok;

TEST_F(TimeZoneWorld, AnswersTheSourceTreeAtEveryReferencePoint) {
  // The reference answers of the source package for random points, points among Europe's
  // borders and the corners of the grid.
  std::ifstream in(kVectorsPath);
  ASSERT_TRUE(in) << kVectorsPath;
  std::string line;
  std::size_t count = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string lat;
    std::string lng;
    std::string zone;
    ASSERT_TRUE(std::getline(fields, lat, '\t') && std::getline(fields, lng, '\t') && std::getline(fields, zone));
    GeoPoint point;
    ASSERT_EQ(std::from_chars(lat.data(), lat.data() + lat.size(), point.latitude).ec, std::errc()) << line;
    ASSERT_EQ(std::from_chars(lng.data(), lng.data() + lng.size(), point.longitude).ec, std::errc()) << line;
    const auto found = s_map->ZoneAt(point);
    ASSERT_TRUE(found.has_value()) << line;
    EXPECT_EQ(*found, zone) << line;
    ++count;
  }
  EXPECT_GE(count, 2000u);
}

TEST_F(TimeZoneWorld, EveryZoneOfTheMapIsKnownToIcu) {
  // A zone ICU did not know would leave its places without an offset.
  std::set<std::string> missing;
  for (double lat = -89.75; lat < 90.0; lat += 0.5) {
    for (double lng = -179.75; lng < 180.0; lng += 0.5) {
      const std::string zone(s_map->ZoneAt(GeoPoint{lat, lng}).value_or(""));
      int offset = 0;
      if (ZoneOffsetAtUtc(zone, UtcMillis(2024, 1, 1), &offset) != XpStatus::Ok) {
        missing.insert(zone);
      }
    }
  }
  EXPECT_TRUE(missing.empty()) << *missing.begin();
}

TEST_F(TimeZoneWorld, BerlinChangesToSummerTimeOnTheLastSundayOfMarch) {
  // 31 March 2024, 01:00 UTC: clocks go from 02:00 to 03:00.
  const ZoneAnswer before = At(52.52, 13.405, UtcMillis(2024, 3, 31, 0, 59));
  const ZoneAnswer after = At(52.52, 13.405, UtcMillis(2024, 3, 31, 1, 0));
  EXPECT_EQ(before.zone, "Europe/Berlin");
  EXPECT_EQ(before.offsetSeconds, 1 * kHour);
  EXPECT_FALSE(before.daylightSaving);
  EXPECT_EQ(after.offsetSeconds, 2 * kHour);
  EXPECT_TRUE(after.daylightSaving);
  EXPECT_FALSE(after.uncertain);
  // And back on the last Sunday of October (27 October 2024, 01:00 UTC).
  EXPECT_EQ(At(52.52, 13.405, UtcMillis(2024, 10, 27, 0, 59)).offsetSeconds, 2 * kHour);
  EXPECT_EQ(At(52.52, 13.405, UtcMillis(2024, 10, 27, 1, 0)).offsetSeconds, 1 * kHour);
  // The rule was another before 1996: the last Sunday of September.
  EXPECT_EQ(At(52.52, 13.405, UtcMillis(1990, 10, 10)).offsetSeconds, 1 * kHour);
}

TEST_F(TimeZoneWorld, TokyoHasNoDaylightSavingTime) {
  for (const int month : {1, 4, 7, 10}) {
    const ZoneAnswer answer = At(35.6895, 139.6917, UtcMillis(2024, month, 15));
    EXPECT_EQ(answer.zone, "Asia/Tokyo");
    EXPECT_EQ(answer.offsetSeconds, 9 * kHour);
    EXPECT_FALSE(answer.daylightSaving);
    EXPECT_FALSE(answer.uncertain);
  }
}

TEST_F(TimeZoneWorld, TheUsMexicoBorder) {
  // San Diego and Tijuana: two zones, one offset, so the border is no doubt about the time.
  const ZoneAnswer sanDiego = At(32.7157, -117.1611, UtcMillis(2024, 7, 1));
  const ZoneAnswer tijuana = At(32.5149, -117.0382, UtcMillis(2024, 7, 1));
  EXPECT_EQ(sanDiego.zone, "America/Los_Angeles");
  EXPECT_EQ(tijuana.zone, "America/Tijuana");
  EXPECT_EQ(sanDiego.offsetSeconds, -7 * kHour);
  EXPECT_EQ(tijuana.offsetSeconds, -7 * kHour);
  // Nogales, Sonora keeps -07:00 all year while Nogales, Arizona does too; Sonora's neighbour
  // Chihuahua's Ojinaga follows US Central daylight time.
  EXPECT_EQ(At(31.3086, -110.9422, UtcMillis(2024, 7, 1)).zone.substr(0, 8), "America/");
  const ZoneAnswer hermosillo = At(29.0729, -110.9559, UtcMillis(2024, 7, 1));
  EXPECT_EQ(hermosillo.zone, "America/Hermosillo");
  EXPECT_EQ(hermosillo.offsetSeconds, -7 * kHour);
  // Monterrey had daylight saving time until 2022, like the US side of the border.
  const ZoneAnswer monterrey = At(25.6866, -100.3161, UtcMillis(2021, 7, 1));
  EXPECT_EQ(monterrey.zone, "America/Monterrey");
  EXPECT_EQ(monterrey.offsetSeconds, -5 * kHour);
  EXPECT_TRUE(monterrey.daylightSaving);
  EXPECT_EQ(At(25.6866, -100.3161, UtcMillis(2021, 1, 15)).offsetSeconds, -6 * kHour);
  // Ciudad Juárez, a zone of its own since 2022, on El Paso's time.
  const ZoneAnswer juarez = At(31.6904, -106.4245, UtcMillis(2024, 7, 1));
  EXPECT_EQ(juarez.zone, "America/Ciudad_Juarez");
  EXPECT_EQ(juarez.offsetSeconds, -6 * kHour);
  EXPECT_EQ(At(31.6904, -106.4245, UtcMillis(2024, 1, 15)).offsetSeconds, -7 * kHour);
  EXPECT_EQ(At(31.7619, -106.4850, UtcMillis(2024, 7, 1)).zone, "America/Denver");
  const ZoneAnswer laredo = At(27.5306, -99.4803, UtcMillis(2024, 7, 1));
  EXPECT_EQ(laredo.zone, "America/Chicago");
  EXPECT_EQ(laredo.offsetSeconds, -5 * kHour);
}

TEST_F(TimeZoneWorld, ArizonaKeepsStandardTimeWhileTheNavajoNationDoesNot) {
  const ZoneAnswer phoenix = At(33.4484, -112.0740, UtcMillis(2024, 7, 1));
  EXPECT_EQ(phoenix.zone, "America/Phoenix");
  EXPECT_EQ(phoenix.offsetSeconds, -7 * kHour);
  EXPECT_FALSE(phoenix.daylightSaving);
  // Kayenta and Chinle, Navajo Nation, in Arizona.
  for (const GeoPoint navajo : {GeoPoint{36.7278, -110.2546}, GeoPoint{36.1544, -109.5526}}) {
    ZoneAnswer summer;
    ASSERT_EQ(s_map->Lookup(navajo, UtcMillis(2024, 7, 1), &summer), XpStatus::Ok);
    EXPECT_EQ(summer.zone, "America/Denver") << navajo.latitude;
    EXPECT_EQ(summer.offsetSeconds, -6 * kHour);
    ZoneAnswer winter;
    ASSERT_EQ(s_map->Lookup(navajo, UtcMillis(2024, 1, 15), &winter), XpStatus::Ok);
    EXPECT_EQ(winter.offsetSeconds, -7 * kHour);
  }
}

TEST_F(TimeZoneWorld, UncertaintyDependsOnTheDate) {
  // Bullhead City, Arizona, across the river from Laughlin, Nevada: Phoenix and Los Angeles agree
  // in summer (-07:00) and differ in winter.
  const ZoneAnswer summer = At(35.1478, -114.5683, UtcMillis(2024, 7, 1));
  const ZoneAnswer winter = At(35.1478, -114.5683, UtcMillis(2024, 1, 15));
  EXPECT_EQ(summer.zone, "America/Phoenix");
  EXPECT_FALSE(summer.uncertain);
  EXPECT_TRUE(winter.uncertain);
  // Frankfurt (Oder) by the Polish border: one offset on both sides, never uncertain.
  EXPECT_FALSE(At(52.3471, 14.5506, UtcMillis(2024, 1, 15)).uncertain);
  // Kaliningrad's region is an hour off its neighbours.
  EXPECT_TRUE(At(54.40, 22.80, UtcMillis(2024, 1, 15)).uncertain);
}

TEST_F(TimeZoneWorld, TheOpenSeaHasNauticalZones) {
  const ZoneAnswer pacific = At(10.0, -140.0, UtcMillis(2024, 7, 1));
  EXPECT_EQ(pacific.zone, "Etc/GMT+9");
  EXPECT_EQ(pacific.offsetSeconds, -9 * kHour);
  const ZoneAnswer indian = At(-40.0, 90.0, UtcMillis(2024, 1, 1));
  EXPECT_EQ(indian.zone, "Etc/GMT-6");
  EXPECT_EQ(indian.offsetSeconds, 6 * kHour);
  const ZoneAnswer atlantic = At(40.0, -40.0, UtcMillis(2024, 1, 1));
  EXPECT_EQ(atlantic.zone, "Etc/GMT+3");
  EXPECT_EQ(atlantic.offsetSeconds, -3 * kHour);
  EXPECT_EQ(At(90.0, 0.0, UtcMillis(2024, 1, 1)).zone, "Etc/GMT");
}

TEST_F(TimeZoneWorld, PointsOutOfRangeHaveNoZone) {
  ZoneAnswer answer;
  answer.zone = "untouched";
  EXPECT_EQ(s_map->Lookup(GeoPoint{90.5, 0.0}, 0, &answer), XpStatus::BadCoordinate);
  EXPECT_EQ(s_map->Lookup(GeoPoint{0.0, -180.5}, 0, &answer), XpStatus::BadCoordinate);
  EXPECT_EQ(s_map->Lookup(GeoPoint{std::numeric_limits<double>::quiet_NaN(), 0.0}, 0, &answer),
            XpStatus::BadCoordinate);
  EXPECT_EQ(answer.zone, "untouched");
  EXPECT_FALSE(s_map->ZoneAt(GeoPoint{0.0, std::numeric_limits<double>::infinity()}).has_value());
  // The edges of the range are in it.
  EXPECT_TRUE(s_map->ZoneAt(GeoPoint{-90.0, 180.0}).has_value());
  EXPECT_TRUE(s_map->ZoneAt(GeoPoint{-90.0, -180.0}).has_value());
}

// The offsets ICU knows for the zones of a country on a date.
std::set<int> CountryOffsets(const std::string& country, std::int64_t utcMillis) {
  std::set<int> offsets;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::StringEnumeration> ids(
      icu::TimeZone::createTimeZoneIDEnumeration(UCAL_ZONE_TYPE_CANONICAL_LOCATION, country.c_str(), nullptr, status));
  if (U_FAILURE(status) || !ids) {
    return offsets;
  }
  while (const icu::UnicodeString* id = ids->snext(status)) {
    std::string name;
    id->toUTF8String(name);
    int offset = 0;
    if (ZoneOffsetAtUtc(name, utcMillis, &offset) == XpStatus::Ok) {
      offsets.insert(offset);
    }
  }
  return offsets;
}

TEST_F(TimeZoneWorld, PopulatedPlacesGetAnOffsetOfTheirOwnCountry) {
  // The largest places of the place index by initial letter: the map's offset on two dates
  // (northern winter and summer) must be one the place's own country uses. Places the map marks
  // as uncertain may be off; the others must agree at least 99 times in 100.
  PlaceIndex places;
  ASSERT_EQ(places.LoadFile(kPlacesPath), XpStatus::Ok);
  std::vector<Place> sample;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    for (PlaceMatch& match : places.Search(std::string(1, letter), 150)) {
      sample.push_back(std::move(match.place));
    }
  }
  ASSERT_GE(sample.size(), 2000u);
  std::size_t checked = 0;
  std::size_t wrong = 0;
  std::string examples;
  for (const std::int64_t when : {UtcMillis(2024, 1, 15), UtcMillis(2024, 7, 15)}) {
    std::map<std::string, std::set<int>> byCountry;
    for (const Place& place : sample) {
      ZoneAnswer answer;
      ASSERT_EQ(s_map->Lookup(place.position, when, &answer), XpStatus::Ok) << place.name;
      auto [it, added] = byCountry.try_emplace(place.country);
      if (added) {
        it->second = CountryOffsets(place.country, when);
      }
      if (it->second.empty() || answer.uncertain) {
        continue;
      }
      ++checked;
      if (!it->second.contains(answer.offsetSeconds)) {
        ++wrong;
        if (examples.size() < 400) {
          examples += place.name + " (" + place.country + ") " + answer.zone + "; ";
        }
      }
    }
  }
  EXPECT_GE(checked, 3000u);
  EXPECT_LE(wrong * 100, checked) << wrong << " of " << checked << ": " << examples;
}

TEST(TimeZoneOffsets, WallClockTimesAcrossTheChanges) {
  int offset = 0;
  // 02:30 on 31 March 2024 never happened in Berlin: it counts with the winter offset.
  ASSERT_EQ(ZoneOffsetAtLocal("Europe/Berlin", UtcMillis(2024, 3, 31, 2, 30), &offset), XpStatus::Ok);
  EXPECT_EQ(offset, 1 * kHour);
  ASSERT_EQ(ZoneOffsetAtLocal("Europe/Berlin", UtcMillis(2024, 3, 31, 3, 30), &offset), XpStatus::Ok);
  EXPECT_EQ(offset, 2 * kHour);
  // 02:30 on 27 October 2024 happened twice: the first time, in summer time.
  ASSERT_EQ(ZoneOffsetAtLocal("Europe/Berlin", UtcMillis(2024, 10, 27, 2, 30), &offset), XpStatus::Ok);
  EXPECT_EQ(offset, 2 * kHour);
  ASSERT_EQ(ZoneOffsetAtLocal("America/St_Johns", UtcMillis(2024, 1, 10), &offset), XpStatus::Ok);
  EXPECT_EQ(offset, -(3 * kHour + 30 * 60));
}

TEST(TimeZoneOffsets, UnknownNamesAreRefused) {
  int offset = 1234;
  EXPECT_EQ(ZoneOffsetAtUtc("Mars/Olympus_Mons", 0, &offset), XpStatus::UnknownTimeZone);
  EXPECT_EQ(ZoneOffsetAtUtc("", 0, &offset), XpStatus::UnknownTimeZone);
  EXPECT_EQ(ZoneOffsetAtLocal("Europe/Atlantis", 0, &offset), XpStatus::UnknownTimeZone);
  EXPECT_EQ(offset, 1234);
}

TEST(TimeZoneOffsets, OffsetText) {
  EXPECT_EQ(ZoneOffsetText(9 * kHour), "+09:00");
  EXPECT_EQ(ZoneOffsetText(0), "+00:00");
  EXPECT_EQ(ZoneOffsetText(-(3 * kHour + 30 * 60)), "-03:30");
  EXPECT_EQ(ZoneOffsetText(5 * kHour + 45 * 60), "+05:45");
  EXPECT_EQ(ZoneOffsetText(-12 * kHour), "-12:00");
}

// A map file made here: one zone per cell unless `nodes` split some.
struct SmallMap {
  std::vector<std::string> zones{"Europe/Berlin", "Asia/Tokyo"};
  std::vector<std::uint16_t> cells = std::vector<std::uint16_t>(48 * 24, 0x8000);
  std::vector<std::uint16_t> nodes;

  [[nodiscard]] std::string Bytes() const {
    std::string out = "TVZONES1";
    const auto u16 = [&out](std::uint32_t v) {
      out += static_cast<char>(v & 0xFF);
      out += static_cast<char>((v >> 8) & 0xFF);
    };
    const auto u32 = [&u16](std::uint32_t v) {
      u16(v & 0xFFFF);
      u16(v >> 16);
    };
    u32(static_cast<std::uint32_t>(zones.size()));
    u32(static_cast<std::uint32_t>(nodes.size() / 4));
    u32(static_cast<std::uint32_t>(cells.size()));
    for (const std::string& zone : zones) {
      out += static_cast<char>(zone.size());
      out += zone;
    }
    for (const auto cell : cells) {
      u16(cell);
    }
    for (const auto node : nodes) {
      u16(node);
    }
    return out;
  }
};

TEST(TimeZoneFile, ASmallMapSplitsItsCellsIntoQuadrants) {
  SmallMap small;
  // The cell of Berlin (column 25, row 4) is split; its north-east quadrant splits again.
  small.cells[4 * 48 + 25] = 0;
  small.nodes = {0x8000, 1, 0x8001, 0x8000, 0x8001, 0x8001, 0x8001, 0x8000};
  TimeZoneIndex map;
  ASSERT_EQ(map.LoadBytes(small.Bytes()), XpStatus::Ok);
  EXPECT_EQ(map.NodeCount(), 2u);
  // The cell spans 7.5° to 15° east and 52.5° to 60° north.
  EXPECT_EQ(map.ZoneAt(GeoPoint{59.0, 8.0}).value_or(""), "Europe/Berlin");      // north-west
  EXPECT_EQ(map.ZoneAt(GeoPoint{53.0, 8.0}).value_or(""), "Asia/Tokyo");         // south-west
  EXPECT_EQ(map.ZoneAt(GeoPoint{59.5, 11.5}).value_or(""), "Asia/Tokyo");        // NE, its NW
  EXPECT_EQ(map.ZoneAt(GeoPoint{56.5, 14.5}).value_or(""), "Europe/Berlin");     // NE, its SE
  EXPECT_EQ(map.ZoneAt(GeoPoint{-30.0, -100.0}).value_or(""), "Europe/Berlin");  // any other cell
}

TEST(TimeZoneFile, DamagedFilesAreRefusedAndTheLoadedMapKept) {
  const std::string good = ReadBytes(kMapPath);
  ASSERT_GT(good.size(), 1000u);
  TimeZoneIndex map;
  ASSERT_EQ(map.LoadBytes(good), XpStatus::Ok);
  const std::string tokyo(map.ZoneAt(GeoPoint{35.68, 139.69}).value_or(""));
  ASSERT_EQ(tokyo, "Asia/Tokyo");

  std::vector<std::pair<std::string, std::string>> damaged;
  damaged.emplace_back("empty", "");
  damaged.emplace_back("magic only", "TVZONES1");
  damaged.emplace_back("other magic", "TVPLACE1" + good.substr(8));
  damaged.emplace_back("cut short", good.substr(0, good.size() - 1));
  damaged.emplace_back("a byte more", good + '\0');
  {
    SmallMap loop;  // a node pointing to itself would never end a lookup
    loop.cells[0] = 0;
    loop.nodes = {0, 0x8000, 0x8000, 0x8000};
    damaged.emplace_back("node pointing to itself", loop.Bytes());
  }
  {
    SmallMap back;  // nor one pointing to an earlier node
    back.cells[0] = 1;
    back.nodes = {0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0, 0x8000, 0x8000};
    damaged.emplace_back("node pointing back", back.Bytes());
  }
  {
    SmallMap past;
    past.cells[7] = 3;
    past.nodes = {0x8000, 0x8000, 0x8000, 0x8000};
    damaged.emplace_back("cell pointing past the nodes", past.Bytes());
  }
  {
    SmallMap zone;
    zone.cells[100] = 0x8002;
    damaged.emplace_back("unknown zone index", zone.Bytes());
  }
  {
    SmallMap name;
    name.zones[1] = "Asia/Tokyo\n";
    damaged.emplace_back("zone name with a line break", name.Bytes());
  }
  {
    SmallMap name;
    name.zones[1] = "";
    damaged.emplace_back("empty zone name", name.Bytes());
  }
  {
    SmallMap none;
    none.zones.clear();
    damaged.emplace_back("no zones", none.Bytes());
  }
  {
    std::string cells = SmallMap().Bytes();
    cells[16] = 0x7F;  // another cell count
    damaged.emplace_back("cell count", cells);
  }
  {
    std::string huge = good;
    huge[12] = '\xFF';  // node count far beyond the file
    huge[13] = '\xFF';
    huge[14] = '\xFF';
    huge[15] = '\xFF';
    damaged.emplace_back("node count", huge);
  }
  for (const auto& [what, bytes] : damaged) {
    EXPECT_EQ(map.LoadBytes(bytes), XpStatus::TimeZoneDataInvalid) << what;
    EXPECT_EQ(map.ZoneAt(GeoPoint{35.68, 139.69}).value_or(""), tokyo) << what;
  }
  EXPECT_EQ(map.LoadBytes(std::string(TimeZoneIndex::kMaxFileBytes + 1, 'T')), XpStatus::TimeZoneDataTooLarge);
  // A map never loaded answers nothing, and its lookups say why.
  const TimeZoneIndex none;
  EXPECT_FALSE(none.ZoneAt(GeoPoint{0, 0}).has_value());
  ZoneAnswer answer;
  EXPECT_EQ(none.Lookup(GeoPoint{0, 0}, 0, &answer), XpStatus::TimeZoneDataInvalid);
}

TEST(TimeZoneFile, FilesThatAreNoMap) {
  TimeZoneIndex map;
  EXPECT_EQ(map.LoadFile(std::string(TV_SOURCE_DIR) + "/data/zones/no-such-file.tvz"), XpStatus::FileNotFound);
  EXPECT_EQ(map.LoadFile(std::string(TV_SOURCE_DIR) + "/data/zones"), XpStatus::FileInvalid);
  const auto big =
      std::filesystem::temp_directory_path() / ("tv_zones_too_large_" + std::to_string(::getpid()) + ".tvz");
  {
    std::ofstream out(big, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(TimeZoneIndex::kMaxFileBytes));
    out.put('\0');
  }
  EXPECT_EQ(map.LoadFile(big.string()), XpStatus::TimeZoneDataTooLarge);
  std::filesystem::remove(big);
  EXPECT_EQ(map.ZoneCount(), 0u);
}

}  // namespace
