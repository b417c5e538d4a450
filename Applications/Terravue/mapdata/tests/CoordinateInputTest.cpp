// Typed coordinates: the written forms a user types, converted exactly into
// the rationals a picture stores, and the texts that are refused with a reason.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "Applications/Terravue/mapdata/CoordinateInput.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "xp/text/XpNumberText.h"

namespace {

struct Accepted {
  const char* text;
  bool latitude;
  char16_t ref;
  std::array<std::uint32_t, 3> numerators;
  std::array<std::uint32_t, 3> denominators;
};

TEST(CoordinateInput, ConvertsTheWrittenFormsExactly) {
  const Accepted cases[] = {
      // The map's own text, converted as the map converts it.
      {"N:35:37:32.828", true, u'N', {35, 37, 32828}, {1, 1, 1000}},
      {"W:139:44:05", false, u'W', {139, 44, 5000}, {1, 1, 1000}},
      // Seconds with fewer decimals than the map's form: kept as written.
      {"N:35:37:32.8", true, u'N', {35, 37, 328}, {1, 1, 10}},
      // Decimal degrees, signed or with a letter.
      {"35.6258", true, u'N', {35, 37, 328800}, {1, 1, 10000}},
      {"139.74", false, u'E', {139, 44, 2400}, {1, 1, 100}},
      {"-139.74", false, u'W', {139, 44, 2400}, {1, 1, 100}},
      {"+10", true, u'N', {10, 0, 0}, {1, 1, 1}},
      {"35.5s", true, u'S', {35, 30, 0}, {1, 1, 10}},
      {"35.6258\xC2\xB0N", true, u'N', {35, 37, 328800}, {1, 1, 10000}},
      {"0.0000001", false, u'E', {0, 0, 3600}, {1, 1, 10000000}},
      // Degrees, minutes, seconds, or decimal minutes.
      {"35\xC2\xB0"
       "37'32.8\"N",
       true,
       u'N',
       {35, 37, 328},
       {1, 1, 10}},
      {"35\xC2\xB0 37\xE2\x80\xB2 32.8\xE2\x80\xB3 S", true, u'S', {35, 37, 328}, {1, 1, 10}},
      {"N 35 37.5467", true, u'N', {35, 375467, 0}, {1, 10000, 1}},
      {"38,53.4142N", true, u'N', {38, 534142, 0}, {1, 10000, 1}},
      {"  e 139 44 30  ", false, u'E', {139, 44, 30}, {1, 1, 1}},
      {"90", true, u'N', {90, 0, 0}, {1, 1, 1}},
      {"180:0:0W", false, u'W', {180, 0, 0}, {1, 1, 1}},
  };
  for (const Accepted& c : cases) {
    const CoordinateInput input = ParseCoordinateInput(c.text, c.latitude);
    ASSERT_EQ(input.status, XpStatus::Ok) << c.text << ": " << input.reason;
    EXPECT_EQ(input.ref.letter, c.ref) << c.text;
    EXPECT_TRUE(input.ref.IsValid() && input.rationals.IsValid()) << c.text;
    EXPECT_EQ(input.rationals.numerators, c.numerators) << c.text;
    EXPECT_EQ(input.rationals.denominators, c.denominators) << c.text;
  }
}

TEST(CoordinateInput, ReadsBackAsTheTypedDegrees) {
  for (const char* text : {"35.6258", "-33.8567891", "0.5", "89.9999999"}) {
    const CoordinateInput input = ParseCoordinateInput(text, true);
    ASSERT_EQ(input.status, XpStatus::Ok) << text;
    double degrees = 0;
    ASSERT_TRUE(RationalsToDegrees(input.ref, input.rationals, &degrees)) << text;
    EXPECT_NEAR(degrees, XpParseDecimal(text).value_or(-1000.0), 1e-12) << text;
  }
}

TEST(CoordinateInput, RefusesWhatItCannotWriteExactlyWithAReason) {
  struct Refused {
    const char* text;
    bool latitude;
    const char* reasonPart;
  };
  const Refused cases[] = {
      {"E:139:44.5:00.000", false, "only the last number"},
      {"N:35:37:32.828xyz", true, "unexpected"},
      {"N:35:37:32.8x", true, "unexpected"},
      {"35.12345678", true, "more than 7 decimals"},
      {"-35 N", true, "a sign and a hemisphere letter"},
      {"E 35", true, "not a latitude letter"},
      {"N 35", false, "not a longitude letter"},
      {"91", true, "at most 90 degrees"},
      {"90.0000001", true, "at most 90 degrees"},
      {"180:00:01", false, "at most 180 degrees"},
      {"35:60:00", true, "below 60"},
      {"35:37:60", true, "below 60"},
      {"", true, "empty"},
      {"N", true, "no number"},
      {"35..5", true, "a point without decimals"},
      {"35.", true, "a point without decimals"},
      {"1234", false, "too many digits"},
      {"1:2:3:4", true, "more than degrees"},
      {"35;37", true, "unexpected"},
      {"3e1", true, "unexpected"},
      {"N:-35:37:32", true, "a sign and a hemisphere letter"},
  };
  for (const Refused& c : cases) {
    const CoordinateInput input = ParseCoordinateInput(c.text, c.latitude);
    EXPECT_EQ(input.status, XpStatus::BadCoordinate) << c.text;
    EXPECT_NE(input.reason.find(c.reasonPart), std::string::npos) << c.text << ": " << input.reason;
    EXPECT_FALSE(input.rationals.IsValid()) << c.text;
  }
}

}  // namespace
