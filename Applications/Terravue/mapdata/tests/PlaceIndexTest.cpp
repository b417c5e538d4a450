#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"
#include "Applications/Terravue/mapdata/TextFile.h"

namespace {

const std::string kIndexPath = std::string(TV_SOURCE_DIR) + "/data/places/places.tvp";
const std::string kSmallIndexPath = std::string(TV_SOURCE_DIR) + "/fuzz/corpus/places/andorra_liechtenstein.tvp";

// The whole index, read once for every test of the suite.
class PlaceIndexWorld : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_index = new PlaceIndex();
    s_status = s_index->LoadFile(kIndexPath);
  }
  static void TearDownTestSuite() {
    delete s_index;
    s_index = nullptr;
  }
  // Every test fails, rather than being skipped, when the index did not load.
  void SetUp() override { ASSERT_EQ(s_status, XpStatus::Ok) << kIndexPath; }

  // The best match of `text`, failing the test when there is none.
  static Place First(const std::string& text, const std::optional<GeoPoint>& near = std::nullopt) {
    const auto matches = s_index->Search(text, 10, near);
    EXPECT_FALSE(matches.empty()) << text;
    return matches.empty() ? Place{} : matches.front().place;
  }

  static PlaceIndex* s_index;
  static XpStatus s_status;
};

PlaceIndex* PlaceIndexWorld::s_index = nullptr;
XpStatus PlaceIndexWorld::s_status = XpStatus::Ok;

TEST(PlaceIndexStatus, KeepsItsNumbers) {
  EXPECT_EQ(XpStatusValue(XpStatus::PlaceDataInvalid), 0x8634);
  EXPECT_EQ(XpStatusValue(XpStatus::PlaceDataTooLarge), 0x8635);
}

TEST_F(PlaceIndexWorld, HoldsEveryPlaceOfTheSource) { EXPECT_EQ(s_index->Size(), 171075u); }

TEST_F(PlaceIndexWorld, FoldsCaseAccentsHyphensAndBlanks) {
  EXPECT_EQ(s_index->Fold("Zürich"), "zurich");
  EXPECT_EQ(s_index->Fold("MÜNCHEN"), "munchen");
  EXPECT_EQ(s_index->Fold("  Saint-Étienne  "), "saint etienne");
  EXPECT_EQ(s_index->Fold("Łódź"), "lodz");
  EXPECT_EQ(s_index->Fold("Straße"), "strasse");
  EXPECT_EQ(s_index->Fold("Hà Nội"), "ha noi");
  EXPECT_EQ(s_index->Fold("a \t - b"), "a b");
  // Text that is not UTF-8 is compared byte by byte and does not trouble the folding.
  EXPECT_EQ(s_index->Fold(std::string("A\xC3", 2)), std::string("a\xC3", 2));
  EXPECT_EQ(s_index->Fold(std::string("\xE4X", 2)), std::string("\xE4x", 2));
}

TEST_F(PlaceIndexWorld, RanksTheCapitalAboveTheTownOfTheSameName) {
  const auto matches = s_index->Search("Paris", 50);
  ASSERT_FALSE(matches.empty());
  EXPECT_EQ(matches[0].place.country, "FR");
  EXPECT_EQ(matches[0].place.countryName, "France");
  EXPECT_EQ(matches[0].place.admin1, "Île-de-France");
  EXPECT_TRUE(matches[0].exact);
  EXPECT_GT(matches[0].place.population, 1'000'000u);
  EXPECT_EQ(matches[0].place.seat, 5);
  bool texas = false;
  for (const auto& m : matches) {
    texas = texas || (m.place.country == "US" && m.place.admin1 == "Texas" && m.place.name == "Paris");
    // "París" is one of them: accents do not count.
    EXPECT_TRUE(s_index->Fold(m.place.name).starts_with("paris")) << m.place.name;
  }
  EXPECT_TRUE(texas);
}

TEST_F(PlaceIndexWorld, NarrowsBySomethingAfterAComma) {
  const Place texas = First("Paris, Texas");
  EXPECT_EQ(texas.country, "US");
  EXPECT_EQ(texas.admin1, "Texas");
  EXPECT_NEAR(texas.position.latitude, 33.66, 0.05);
  EXPECT_NEAR(texas.position.longitude, -95.55, 0.05);
  // A country code or country name narrows too.
  EXPECT_EQ(First("paris, ca").country, "CA");
  EXPECT_EQ(First("London, canada").admin1, "Ontario");
  EXPECT_TRUE(s_index->Search("Paris, Nowhereland", 10).empty());
}

TEST_F(PlaceIndexWorld, PrefersTheNearerOfTwoPlacesOfOneSize) {
  // Springfield, Illinois and Springfield, Missouri are towns of about the same size.
  EXPECT_EQ(First("Springfield", GeoPoint{39.80, -89.64}).admin1, "Illinois");
  EXPECT_EQ(First("Springfield", GeoPoint{37.21, -93.29}).admin1, "Missouri");
  const auto near = s_index->Search("Springfield", 1, GeoPoint{39.80, -89.64});
  ASSERT_EQ(near.size(), 1u);
  EXPECT_LT(near[0].distanceKm, 10.0);
  EXPECT_LT(s_index->Search("Springfield", 1)[0].distanceKm, 0.0);
}

TEST_F(PlaceIndexWorld, FindsAPlaceByTheBeginningOfItsName) {
  const Place zurich = First("zur");
  EXPECT_EQ(zurich.name, "Zürich");
  EXPECT_EQ(zurich.country, "CH");
  EXPECT_EQ(First("Kyot").name, "Kyoto");
  // A place whose whole name is the text comes before larger ones that only begin with it.
  EXPECT_EQ(First("Kyo").name, "Kyo");
  EXPECT_EQ(First("new yo").name, "New York City");
  const auto matches = s_index->Search("zur", 10);
  EXPECT_FALSE(matches[0].exact);
}

TEST_F(PlaceIndexWorld, IgnoresAccentsAndCase) {
  for (const char* text : {"München", "Munchen", "MÜNCHEN", "munich"}) {
    const auto matches = s_index->Search(text, 5);
    ASSERT_FALSE(matches.empty()) << text;
    EXPECT_EQ(matches[0].place.name, "Munich") << text;
    EXPECT_EQ(matches[0].place.country, "DE") << text;
    EXPECT_TRUE(matches[0].exact) << text;
  }
  EXPECT_EQ(First("Zurich").name, "Zürich");
  EXPECT_EQ(First("sao paulo").country, "BR");
  EXPECT_EQ(First("Krakow").name, "Kraków");
}

TEST_F(PlaceIndexWorld, FindsPlacesByTheirNativeAndEnglishNames) {
  EXPECT_EQ(First("京都").name, "Kyoto");
  EXPECT_EQ(First("Москва").name, "Moscow");
  EXPECT_EQ(First("Wien").name, "Vienna");
  EXPECT_EQ(First("Wien").country, "AT");
  EXPECT_EQ(First("Köln").name, "Köln");
  EXPECT_EQ(First("Cologne").name, "Köln");
  EXPECT_EQ(First("Cologne").country, "DE");
  // A place found by two of its names is listed once.
  const auto matches = s_index->Search("Zu", 1000);
  int zurichs = 0;
  for (const auto& m : matches) {
    zurichs += m.place.name == "Zürich" && m.place.country == "CH";
  }
  EXPECT_EQ(zurichs, 1);
}

TEST_F(PlaceIndexWorld, KeepsToTheLimitAndAnswersNothingForNothing) {
  EXPECT_EQ(s_index->Search("a", 7).size(), 7u);
  EXPECT_EQ(s_index->Search("a", 100000).size(), PlaceIndex::kMaxResults);
  EXPECT_TRUE(s_index->Search("Paris", 0).empty());
  EXPECT_TRUE(s_index->Search("", 10).empty());
  EXPECT_TRUE(s_index->Search("  - ", 10).empty());
  EXPECT_TRUE(s_index->Search(", France", 10).empty());
  EXPECT_TRUE(s_index->Search("xqzxqzxqz", 10).empty());
}

TEST_F(PlaceIndexWorld, FindsTheNearestPlace) {
  struct Case {
    GeoPoint point;
    const char* name;
    const char* country;
  };
  for (const Case& c : {Case{{35.0116, 135.7681}, "Kyoto", "JP"}, Case{{51.5074, -0.1278}, "London", "GB"},
                        Case{{33.6609, -95.5555}, "Paris", "US"}, Case{{-33.8688, 151.2093}, "Sydney", "AU"}}) {
    const auto nearest = s_index->Nearest(c.point);
    ASSERT_TRUE(nearest.has_value());
    EXPECT_EQ(nearest->place.name, c.name);
    EXPECT_EQ(nearest->place.country, c.country);
    EXPECT_LT(nearest->distanceKm, 5.0);
    EXPECT_DOUBLE_EQ(nearest->distanceKm, PlaceIndex::DistanceKm(c.point, nearest->place.position));
  }
  // Far out at sea the nearest place is still found, a long way off.
  const auto pacific = s_index->Nearest(GeoPoint{-48.0, -123.0});
  ASSERT_TRUE(pacific.has_value());
  EXPECT_GT(pacific->distanceKm, 1000.0);
}

TEST(PlaceIndexDistance, MeasuresGreatCircles) {
  EXPECT_DOUBLE_EQ(PlaceIndex::DistanceKm({10, 20}, {10, 20}), 0.0);
  // A quarter of a meridian, and half the equator.
  EXPECT_NEAR(PlaceIndex::DistanceKm({0, 0}, {90, 0}), 10007.5, 1.0);
  EXPECT_NEAR(PlaceIndex::DistanceKm({0, -90}, {0, 90}), 20015.1, 1.0);
  // Across the date line the short way.
  EXPECT_NEAR(PlaceIndex::DistanceKm({0, 179.5}, {0, -179.5}), 111.2, 0.5);
}

// Damaged and hostile index files.
class PlaceIndexDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ReadWholeFile(kSmallIndexPath, PlaceIndex::kMaxFileBytes, &m_good), XpStatus::Ok);
    ASSERT_EQ(m_index.LoadBytes(m_good), XpStatus::Ok);
    m_places = m_index.Size();
    ASSERT_GT(m_places, 0u);
  }

  std::uint32_t Count(std::size_t i) const {
    std::uint32_t v = 0;
    for (int b = 3; b >= 0; --b) {
      v = (v << 8) | static_cast<unsigned char>(m_good[8 + 4 * i + static_cast<std::size_t>(b)]);
    }
    return v;
  }
  static void Put32(std::string* bytes, std::size_t at, std::uint32_t v) {
    for (int b = 0; b < 4; ++b) {
      (*bytes)[at + static_cast<std::size_t>(b)] = static_cast<char>((v >> (8 * b)) & 0xFF);
    }
  }
  // Where the place rows start.
  std::size_t PlaceStart() const { return 32 + Count(0) + 12ull * Count(1) + 8ull * Count(2) + 8ull * Count(3); }
  // Loading `bytes` must fail with `expected` and leave the index as it was.
  void ExpectRefused(const std::string& bytes, XpStatus expected = XpStatus::PlaceDataInvalid) {
    EXPECT_EQ(m_index.LoadBytes(bytes), expected);
    EXPECT_EQ(m_index.Size(), m_places);
    EXPECT_FALSE(m_index.Search("Vaduz", 1).empty());
  }

  std::string m_good;
  PlaceIndex m_index;
  std::size_t m_places = 0;
};

TEST_F(PlaceIndexDamage, RefusesWhatIsNoIndex) {
  ExpectRefused("");
  ExpectRefused("TVPLACE1");
  ExpectRefused("TVPLACE2" + m_good.substr(8));
  ExpectRefused(std::string(64, '\0'));
}

TEST_F(PlaceIndexDamage, RefusesAFileCutShortOrWithBytesLeftOver) {
  ExpectRefused(m_good.substr(0, m_good.size() - 1));
  ExpectRefused(m_good.substr(0, m_good.size() / 2));
  ExpectRefused(m_good + "x");
}

TEST_F(PlaceIndexDamage, RefusesCountsThatDoNotAddUp) {
  for (std::size_t i = 0; i < 6; ++i) {
    std::string bytes = m_good;
    Put32(&bytes, 8 + 4 * i, Count(i) + 1);
    ExpectRefused(bytes);
    Put32(&bytes, 8 + 4 * i, 0xFFFFFFFFu);
    ExpectRefused(bytes);
  }
}

TEST_F(PlaceIndexDamage, RefusesRowsThatPointOutside) {
  const std::size_t place = PlaceStart();
  std::string bytes = m_good;
  Put32(&bytes, place, Count(0));  // the name starts at the pool's end but is not empty
  ExpectRefused(bytes);
  bytes = m_good;
  bytes[place + 5] = 6;  // no such seat level
  ExpectRefused(bytes);
  bytes = m_good;
  bytes[place + 6] = static_cast<char>(0xFE);  // no such country
  bytes[place + 7] = static_cast<char>(0xFE);
  ExpectRefused(bytes);
  bytes = m_good;
  bytes[place + 8] = static_cast<char>(0xFE);  // no such division
  bytes[place + 9] = static_cast<char>(0x7F);
  ExpectRefused(bytes);
  bytes = m_good;
  Put32(&bytes, place + 12, 9000001);  // north of the pole
  ExpectRefused(bytes);
  bytes = m_good;
  Put32(&bytes, place + 16, static_cast<std::uint32_t>(-18000001));
  ExpectRefused(bytes);
}

TEST_F(PlaceIndexDamage, RefusesFoldsOutOfOrderOrTooLong) {
  ASSERT_GE(Count(1), 2u);
  const std::size_t fold = 32 + Count(0);
  std::string bytes = m_good;
  Put32(&bytes, fold + 12, 0x80);  // the second code point below the first
  ExpectRefused(bytes);
  bytes = m_good;
  bytes[fold + 8] = 9;  // longer than any folding needs
  ExpectRefused(bytes);
  bytes = m_good;
  Put32(&bytes, fold, 0x41);  // ASCII is folded by the program itself
  ExpectRefused(bytes);
}

TEST_F(PlaceIndexDamage, AcceptsAnEmptyIndex) {
  std::string bytes = "TVPLACE1" + std::string(24, '\0');
  PlaceIndex empty;
  EXPECT_EQ(empty.LoadBytes(bytes), XpStatus::Ok);
  EXPECT_EQ(empty.Size(), 0u);
  EXPECT_TRUE(empty.Search("a", 10).empty());
  EXPECT_FALSE(empty.Nearest(GeoPoint{0, 0}).has_value());
}

TEST(PlaceIndexFile, AnswersTheFileStatus) {
  PlaceIndex index;
  EXPECT_EQ(index.LoadFile(std::string(TV_SOURCE_DIR) + "/data/places/no-such-file.tvp"), XpStatus::FileNotFound);
  EXPECT_EQ(index.LoadFile(std::string(TV_SOURCE_DIR) + "/data/places"), XpStatus::FileInvalid);
  const auto big =
      std::filesystem::temp_directory_path() / ("tv_places_too_large_" + std::to_string(::getpid()) + ".tvp");
  {
    std::ofstream out(big, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(PlaceIndex::kMaxFileBytes));
    out.put('\0');
  }
  EXPECT_EQ(index.LoadFile(big.string()), XpStatus::PlaceDataTooLarge);
  std::filesystem::remove(big);
  EXPECT_EQ(index.LoadBytes(std::string(PlaceIndex::kMaxFileBytes + 1, '\0')), XpStatus::PlaceDataTooLarge);
  EXPECT_EQ(index.Size(), 0u);
}

}  // namespace
