// Positions pasted into the map's search box: every form it reads, to the degree, and the texts
// it must leave to the place search.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Applications/Terravue/mapdata/LocationText.h"

namespace {

struct Read {
  const char* text;
  double latitude;
  double longitude;
};

constexpr double kTolerance = 1e-9;

TEST(LocationText, ReadsCoordinatePairsInEveryWrittenForm) {
  const Read cases[] = {
      // Decimal degrees with a comma, a semicolon or blanks between them.
      {"35.6812, 139.7671", 35.6812, 139.7671},
      {"  -33.8568;151.2153 ", -33.8568, 151.2153},
      {"-33.8568 151.2153", -33.8568, 151.2153},
      {"+48.8566,2.3522", 48.8566, 2.3522},
      {"51.50735090000001, -0.1277583", 51.50735090000001, -0.1277583},
      {"90, -180", 90.0, -180.0},
      // Degrees, minutes and seconds with signs and letters.
      {"35\xC2\xB0"
       "40'52.4\"N 139\xC2\xB0"
       "46'1.6\"E",
       35.0 + 40.0 / 60 + 52.4 / 3600, 139.0 + 46.0 / 60 + 1.6 / 3600},
      {"33\xC2\xB0"
       "51'24.5\"S, 151\xC2\xB0"
       "12'55.1\"E",
       -(33.0 + 51.0 / 60 + 24.5 / 3600), 151.0 + 12.0 / 60 + 55.1 / 3600},
      {"N 35 40.873, E 139 46.027", 35.0 + 40.873 / 60, 139.0 + 46.027 / 60},
      {"35.6812N 139.7671W", 35.6812, -139.7671},
      {"35.6812S139.7671E", -35.6812, 139.7671},
      {"40 26 46 N 79 58 56 W", 40.0 + 26.0 / 60 + 46.0 / 3600, -(79.0 + 58.0 / 60 + 56.0 / 3600)},
      // Blanks only: the cut that gives both halves as many numbers.
      {"40 26 46 79 58 56", 40.0 + 26.0 / 60 + 46.0 / 3600, 79.0 + 58.0 / 60 + 56.0 / 3600},
      // geo: URIs with an altitude, parameters or the position in the query.
      {"geo:35.6812,139.7671", 35.6812, 139.7671},
      {"GEO:-33.8568,151.2153,25;u=30", -33.8568, 151.2153},
      {"geo:0,0?q=48.8584,2.2945(Eiffel%20Tower)", 48.8584, 2.2945},
      {"geo:0,0", 0.0, 0.0},
      // Map addresses.
      {"https://maps.example.com/maps/place/Tokyo+Station/@35.6812362,139.7671248,17z/data=!3m1", 35.6812362,
       139.7671248},
      {"https://www.example.org/#map=15/48.85837/2.29448", 48.85837, 2.29448},
      {"https://www.example.org/?mlat=48.85837&mlon=2.29448#map=12/1/1", 48.85837, 2.29448},
      {"http://example.net/map?lat=-33.86&lng=151.21&z=10", -33.86, 151.21},
      {"https://example.com/maps?q=35.6812%2C139.7671&hl=en", 35.6812, 139.7671},
      {"https://example.com/?ll=43.0686,141.3507&z=12", 43.0686, 141.3507},
  };
  for (const Read& c : cases) {
    SCOPED_TRACE(c.text);
    const auto point = ParseLocationText(c.text);
    ASSERT_TRUE(point.has_value());
    EXPECT_NEAR(point->latitude, c.latitude, kTolerance);
    EXPECT_NEAR(point->longitude, c.longitude, kTolerance);
  }
}

TEST(LocationText, LeavesNamesAndUnreadableTextsToThePlaceSearch) {
  const char* const refused[] = {
      "",
      "   ",
      "Paris",
      "Paris, Texas",
      "35.6812",
      "35.6812,",
      ", 139.7671",
      "95, 10",   // latitude out of range
      "10, 190",  // longitude out of range
      "35.6812, 139.7671, 5",
      "1e+2, 3",  // no exponents
      "nan, 3",
      "35.6812E 139.7671N",  // letters of the wrong axes
      "10 20 30",            // three numbers cut two ways, neither balanced
      "geo:",
      "geo:abc,def",
      "geo:91,0",
      "https://example.com/",
      "https://example.com/?q=Kyoto",
      "https://example.com/@abc",
      "https://example.com/?lat=10",
      "12 Main Street",
  };
  for (const char* text : refused) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseLocationText(text).has_value());
  }
  // A text over the limit is not read, however it begins.
  std::string longText = "35.6812, 139.7671";
  longText.append(kMaxLocationTextBytes, ' ');
  EXPECT_FALSE(ParseLocationText(longText).has_value());
  EXPECT_TRUE(ParseLocationText(longText.substr(0, kMaxLocationTextBytes)).has_value());
}

TEST(LocationText, NeverAnswersNegativeZero) {
  const auto point = ParseLocationText("-0.0, -0");
  ASSERT_TRUE(point.has_value());
  EXPECT_FALSE(std::signbit(point->latitude));
  EXPECT_FALSE(std::signbit(point->longitude));
}

}  // namespace
