// Place names proposed for a photo's position: the nearest place of the real index with its
// division and country, the next nearest as alternatives, the direction, and the country checked
// against the time zone there.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceNaming.h"

namespace {

const std::string kIndexPath = std::string(TV_SOURCE_DIR) + "/data/places/places.tvp";
const std::string kZonePath = std::string(TV_SOURCE_DIR) + "/data/zones/zones.tvz";
const std::string kZoneTable = std::string(TV_TESTDATA_DIR) + "/zones/zone1970.tab";
const std::string kCountryTable = std::string(TV_TESTDATA_DIR) + "/zones/zone.tab";

class PlaceNaming : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(s_places.LoadFile(kIndexPath), XpStatus::Ok);
    ASSERT_EQ(s_zones.LoadFile(kZonePath), XpStatus::Ok);
    ASSERT_EQ(s_countries.LoadFile(kZoneTable), XpStatus::Ok);
    ASSERT_EQ(s_countries.AddCountryTable(kCountryTable), XpStatus::Ok);
  }
  static PlaceIndex s_places;
  static TimeZoneIndex s_zones;
  static ZoneCountries s_countries;
};
PlaceIndex PlaceNaming::s_places;
TimeZoneIndex PlaceNaming::s_zones;
ZoneCountries PlaceNaming::s_countries;

TEST_F(PlaceNaming, ProposesTheNearestPlaceWithItsCountryAndFiveAlternatives) {
  const GeoPoint gion{35.0037, 135.7788};
  PlaceProposal proposal;
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &s_countries, gion, &proposal), XpStatus::Ok);
  const std::optional<PlaceMatch> nearest = s_places.Nearest(gion);
  ASSERT_TRUE(nearest);
  EXPECT_EQ(proposal.nearest.place.name, nearest->place.name);
  EXPECT_DOUBLE_EQ(proposal.nearest.distanceKm, nearest->distanceKm);
  EXPECT_EQ(proposal.nearest.place.country, "JP");
  EXPECT_EQ(proposal.nearest.place.countryName, "Japan");
  EXPECT_FALSE(proposal.nearest.place.admin1.empty());
  EXPECT_EQ(proposal.countryAlpha3, "JPN");
  EXPECT_EQ(proposal.zone, "Asia/Tokyo");
  EXPECT_FALSE(proposal.review) << proposal.reviewReason;
  EXPECT_EQ(proposal.label, proposal.nearest.place.name + ", " + DistanceText(proposal.nearest.distanceKm) +
                                (proposal.direction.empty() ? "" : " " + proposal.direction));
  ASSERT_EQ(proposal.alternatives.size(), kPlaceAlternatives);
  double previous = proposal.nearest.distanceKm;
  for (const PlaceMatch& alternative : proposal.alternatives) {
    EXPECT_GE(alternative.distanceKm, previous);
    EXPECT_DOUBLE_EQ(alternative.distanceKm, PlaceIndex::DistanceKm(gion, alternative.place.position));
    EXPECT_NE(alternative.place.name + alternative.place.admin1,
              proposal.nearest.place.name + proposal.nearest.place.admin1);
    previous = alternative.distanceKm;
  }
  const XpLocationWrite::Names names = proposal.Names();
  EXPECT_EQ(names.city, proposal.nearest.place.name);
  EXPECT_EQ(names.state, proposal.nearest.place.admin1);
  EXPECT_EQ(names.country, "Japan");
  EXPECT_EQ(names.countryCode, "JP");
  EXPECT_EQ(names.countryCode3, "JPN");
  EXPECT_FALSE(names.sublocation);
}

TEST_F(PlaceNaming, ACountryTheZoneDoesNotCoverOrAZoneAtSeaIsMarkedForReview) {
  PlaceProposal proposal;
  // Far out in the Pacific: the nearest island is hundreds of kilometres away.
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &s_countries, GeoPoint{0.0, -150.0}, &proposal), XpStatus::Ok);
  EXPECT_GT(proposal.nearest.distanceKm, kPlaceReviewKm);
  EXPECT_TRUE(proposal.review);
  EXPECT_NE(proposal.reviewReason.find(DistanceText(proposal.nearest.distanceKm)), std::string::npos);
  // A zone the table does not list.
  ZoneCountries without;
  without.LoadText("CH\t+4723+00832\tEurope/Zurich\n");
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &without, GeoPoint{35.0037, 135.7788}, &proposal), XpStatus::Ok);
  EXPECT_TRUE(proposal.review);
  EXPECT_NE(proposal.reviewReason.find("Asia/Tokyo"), std::string::npos);
  // A table in which Tokyo's zone is another country's.
  ZoneCountries other;
  other.LoadText("# comment\nXX\t+3541+13946\tAsia/Tokyo\tsomewhere\n");
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &other, GeoPoint{35.0037, 135.7788}, &proposal), XpStatus::Ok);
  EXPECT_TRUE(proposal.review);
  EXPECT_NE(proposal.reviewReason.find("JP"), std::string::npos);
  EXPECT_NE(proposal.reviewReason.find("XX"), std::string::npos);
  // Without a zone table or map, the country is not checked.
  ASSERT_EQ(ProposePlace(s_places, nullptr, &other, GeoPoint{35.0037, 135.7788}, &proposal), XpStatus::Ok);
  EXPECT_FALSE(proposal.review);
  EXPECT_TRUE(proposal.zone.empty());
}

TEST_F(PlaceNaming, EachReasonForACheckIsNamedByItsKind) {
  PlaceProposal proposal;
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &s_countries, GeoPoint{35.0037, 135.7788}, &proposal), XpStatus::Ok);
  EXPECT_EQ(proposal.reviewKind, PlaceReview::None);
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &s_countries, GeoPoint{0.0, -150.0}, &proposal), XpStatus::Ok);
  EXPECT_EQ(proposal.reviewKind, PlaceReview::FarFromPlace);
  ZoneCountries without;
  without.LoadText("CH\t+4723+00832\tEurope/Zurich\n");
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &without, GeoPoint{35.0037, 135.7788}, &proposal), XpStatus::Ok);
  EXPECT_EQ(proposal.reviewKind, PlaceReview::ZoneWithoutCountry);
  ZoneCountries other;
  other.LoadText("XX\t+3541+13946\tAsia/Tokyo\n");
  ASSERT_EQ(ProposePlace(s_places, &s_zones, &other, GeoPoint{35.0037, 135.7788}, &proposal), XpStatus::Ok);
  EXPECT_EQ(proposal.reviewKind, PlaceReview::ZoneOfOtherCountry);
  EXPECT_EQ(proposal.reviewZoneCountry, "XX");
}

// zone1970.tab lists one zone per region of equal clocks since 1970, so the zones of many
// countries (Europe/Amsterdam, Europe/Stockholm, Africa/Kampala, Asia/Kuwait) are links there,
// though the time-zone map answers them; zone.tab names their country.
TEST_F(PlaceNaming, APlaceInACountryWhoseZoneIsALinkIsNotMarkedForReview) {
  ZoneCountries onlyCanonical;
  ASSERT_EQ(onlyCanonical.LoadFile(kZoneTable), XpStatus::Ok);
  struct Case {
    GeoPoint point;
    const char* country;
  };
  for (const Case& c : {Case{{52.3731, 4.8922}, "NL"}, Case{{59.3293, 18.0686}, "SE"}, Case{{0.3476, 32.5825}, "UG"},
                        Case{{29.3759, 47.9774}, "KW"}, Case{{45.8150, 15.9819}, "HR"}}) {
    SCOPED_TRACE(c.country);
    PlaceProposal proposal;
    ASSERT_EQ(ProposePlace(s_places, &s_zones, &onlyCanonical, c.point, &proposal), XpStatus::Ok);
    ASSERT_EQ(proposal.nearest.place.country, c.country);
    ASSERT_TRUE(onlyCanonical.CountriesOf(proposal.zone).empty()) << proposal.zone;
    EXPECT_EQ(proposal.reviewKind, PlaceReview::ZoneWithoutCountry);
    ASSERT_EQ(ProposePlace(s_places, &s_zones, &s_countries, c.point, &proposal), XpStatus::Ok);
    EXPECT_FALSE(proposal.review) << proposal.reviewReason;
    EXPECT_EQ(s_countries.CountriesOf(proposal.zone), std::vector<std::string>{c.country});
  }
  // The override lists stay those of zone1970.tab.
  EXPECT_EQ(s_countries.ZonesOf("NL"), onlyCanonical.ZonesOf("NL"));
  EXPECT_EQ(CountryTableBeside(kZoneTable), kCountryTable);
  EXPECT_EQ(CountryTableBeside("zone1970.tab"), "zone.tab");
}

TEST_F(PlaceNaming, RefusesPositionsOutOfRangeAndAnEmptyIndex) {
  PlaceProposal proposal;
  EXPECT_EQ(ProposePlace(s_places, &s_zones, &s_countries, GeoPoint{91, 0}, &proposal), XpStatus::BadCoordinate);
  EXPECT_EQ(ProposePlace(s_places, &s_zones, &s_countries, GeoPoint{0, std::nan("")}, &proposal),
            XpStatus::BadCoordinate);
  const PlaceIndex empty;
  EXPECT_EQ(ProposePlace(empty, nullptr, nullptr, GeoPoint{0, 0}, &proposal), XpStatus::NoPlaceNear);
  EXPECT_TRUE(empty.NearestPlaces(GeoPoint{0, 0}, 5).empty());
}

TEST(PlaceNamingText, DirectionsDistancesAndCountryCodes) {
  EXPECT_EQ(CompassDirection({0, 0}, {1, 0}), "N");
  EXPECT_EQ(CompassDirection({0, 0}, {0, 1}), "E");
  EXPECT_EQ(CompassDirection({0, 0}, {-1, -1}), "SW");
  EXPECT_EQ(CompassDirection({35, 135}, {35.01, 135.01}), "NE");
  EXPECT_EQ(CompassDirection({10, 10}, {10, 10}), "");
  EXPECT_EQ(DistanceText(0.84), "0.8 km");
  EXPECT_EQ(DistanceText(12.4), "12 km");
  EXPECT_EQ(CountryAlpha3("JP"), "JPN");
  EXPECT_EQ(CountryAlpha3("CH"), "CHE");
  EXPECT_EQ(CountryAlpha3("GB"), "GBR");
  EXPECT_EQ(CountryAlpha3("XX"), "");
  EXPECT_EQ(CountryAlpha3(""), "");
}

TEST(PlaceNamingText, TheZoneTableReadsCountriesPerZoneAndSkipsWhatDoesNotRead) {
  ZoneCountries table;
  ASSERT_EQ(table.LoadFile(kZoneTable), XpStatus::Ok);
  EXPECT_EQ(table.CountriesOf("Europe/Zurich"), (std::vector<std::string>{"CH", "DE", "LI"}));
  const std::vector<std::string> japan = table.ZonesOf("JP");
  EXPECT_EQ(japan, std::vector<std::string>{"Asia/Tokyo"});
  EXPECT_GT(table.ZonesOf("US").size(), 20U);
  EXPECT_TRUE(table.CountriesOf("Mars/Olympus").empty());

  table.LoadText("no tabs here\nxx\t+0\tLower/Case\nAB,CD\t+0\tGood/Zone\n\tmissing\n");
  EXPECT_TRUE(table.CountriesOf("Lower/Case").empty());
  EXPECT_EQ(table.CountriesOf("Good/Zone"), (std::vector<std::string>{"AB", "CD"}));
  ZoneCountries missing;
  EXPECT_EQ(missing.LoadFile(std::string(TV_TESTDATA_DIR) + "/zones/none.tab"), XpStatus::FileNotFound);
  EXPECT_TRUE(missing.Empty());
}

}  // namespace
