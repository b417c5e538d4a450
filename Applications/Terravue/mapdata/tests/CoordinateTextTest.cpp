#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "xp/tests/TiffTestSupport.h"

namespace {

XpGPSRational3 Rationals(std::array<std::uint32_t, 3> num, std::array<std::uint32_t, 3> den) {
  XpGPSRational3 r;
  r.valid = 1;
  r.numerators = num;
  r.denominators = den;
  return r;
}

XpGPSRef Ref(char16_t letter) {
  XpGPSRef ref;
  ref.valid = 1;
  ref.letter = letter;
  return ref;
}

}  // namespace

TEST(CoordinateText, EverySharedVectorMatchesDegreesToText) {
  std::ifstream in(std::string(TV_SOURCE_DIR) + "/Applications/Terravue/mapdata/tests/coordinate_vectors.json");
  ASSERT_TRUE(in.good());
  std::stringstream text;
  text << in.rdbuf();
  auto vectors = tifftest::JsonReader(text.str()).Parse();
  ASSERT_TRUE(vectors.has_value());
  ASSERT_GE(vectors->items.size(), 50u);
  for (const auto& v : vectors->items) {
    SCOPED_TRACE(v["degrees"].text);
    EXPECT_EQ(DegreesToText(v["degrees"].number, v["latitude"].boolean), v["text"].text);
  }
}

TEST(CoordinateText, FormatsTheExamplePositions) {
  EXPECT_EQ(DegreesToText(35.625788, true), "35:37:32.836");
  EXPECT_EQ(DegreesToText(-139.742038, false), "139:44:31.336");
  EXPECT_EQ(DegreesToText(0.5, true), "00:30:00.000");
  EXPECT_EQ(DegreesToText(0.5, false), "000:30:00.000");
}

TEST(CoordinateText, PrintsThreeDigitsForALatitudeOfAHundredOrMore) {
  EXPECT_EQ(DegreesToText(100.25, true), "100:15:00.000");
}

TEST(CoordinateText, HugeOrNonFiniteDegreesDoNotOverflow) {
  EXPECT_EQ(DegreesToText(4294967295.0, true), "4294967295:00:00.000");
  EXPECT_EQ(DegreesToText(std::nan(""), true), "00:00:00.000");
  EXPECT_FALSE(DegreesToText(INFINITY, false).empty());
}

TEST(CoordinateText, ConvertsRationalsToSignedDegrees) {
  double d = 0;
  ASSERT_TRUE(RationalsToDegrees(Ref(u'N'), Rationals({35, 37, 3283}, {1, 1, 100}), &d));
  EXPECT_NEAR(d, 35.6257861, 1e-7);
  const double north = d;
  ASSERT_TRUE(RationalsToDegrees(Ref(u'S'), Rationals({35, 37, 3283}, {1, 1, 100}), &d));
  EXPECT_EQ(d, -north);
  ASSERT_TRUE(RationalsToDegrees(Ref(u'W'), Rationals({1, 0, 0}, {1, 1, 1}), &d));
  EXPECT_EQ(d, -1.0);
  // An invalid reference leaves the value positive; a lower-case letter is not a hemisphere.
  XpGPSRef invalid = Ref(u'S');
  invalid.valid = 0;
  ASSERT_TRUE(RationalsToDegrees(invalid, Rationals({1, 0, 0}, {1, 1, 1}), &d));
  EXPECT_EQ(d, 1.0);
  ASSERT_TRUE(RationalsToDegrees(Ref(u's'), Rationals({1, 0, 0}, {1, 1, 1}), &d));
  EXPECT_EQ(d, 1.0);
}

TEST(CoordinateText, MultipliesByTheNearestConstantsInExtendedPrecision) {
  double d = 0;
  ASSERT_TRUE(RationalsToDegrees(Ref(u'N'), Rationals({0, 0, 1}, {1, 1, 1}), &d));
  EXPECT_EQ(d, static_cast<double>(1.0L * static_cast<long double>(0.0002777777777777778)));
  ASSERT_TRUE(RationalsToDegrees(Ref(u'N'), Rationals({4294967295u, 4294967295u, 4294967295u}, {1, 1, 1}), &d));
  EXPECT_GT(d, 4294967295.0);
}

TEST(CoordinateText, FailsOnAZeroDenominatorOrInvalidRationalsAndLeavesTheOutputAlone) {
  double d = 7;
  EXPECT_FALSE(RationalsToDegrees(Ref(u'N'), Rationals({35, 37, 3283}, {1, 1, 0}), &d));
  EXPECT_FALSE(RationalsToDegrees(Ref(u'N'), Rationals({35, 37, 3283}, {0, 1, 1}), &d));
  XpGPSRational3 invalid = Rationals({1, 1, 1}, {1, 1, 1});
  invalid.valid = 0;
  EXPECT_FALSE(RationalsToDegrees(Ref(u'N'), invalid, &d));
  EXPECT_EQ(d, 7);
}

TEST(CoordinateText, ParsesTextIntoMillisecondRationals) {
  XpGPSRef ref;
  XpGPSRational3 r;
  ASSERT_TRUE(TextToRationals("N:35:37:32.828", &ref, &r, true));
  EXPECT_TRUE(ref.IsValid());
  EXPECT_EQ(ref.letter, u'N');
  EXPECT_TRUE(r.IsValid());
  EXPECT_EQ(r.numerators, (std::array<std::uint32_t, 3>{35, 37, 32828}));
  EXPECT_EQ(r.denominators, (std::array<std::uint32_t, 3>{1, 1, 1000}));
  ASSERT_TRUE(TextToRationals("E:139:44:31.338", &ref, &r, false));
  EXPECT_EQ(r.numerators, (std::array<std::uint32_t, 3>{139, 44, 31338}));
}

TEST(CoordinateText, TakesTheMillisecondFieldAsAnIntegerCount) {
  XpGPSRef ref;
  XpGPSRational3 r;
  ASSERT_TRUE(TextToRationals("S:05:07:09.5", &ref, &r, true));
  EXPECT_EQ(ref.letter, u'S');
  EXPECT_EQ(r.numerators[2], 9005u);
}

TEST(CoordinateText, RefusesPlaceholdersAndEmptyText) {
  for (std::string_view text : {std::string_view(""), kNoLatitudeText, kNoLongitudeText}) {
    XpGPSRef ref;
    XpGPSRational3 r;
    EXPECT_FALSE(TextToRationals(text, &ref, &r, true)) << text;
    EXPECT_FALSE(TextToRationals(text, &ref, &r, false)) << text;
    EXPECT_FALSE(ref.IsValid());
    EXPECT_FALSE(r.IsValid());
  }
}

TEST(CoordinateText, AcceptsAnyLetterAndStopsScanningAtTheFirstMismatch) {
  XpGPSRef ref;
  XpGPSRational3 r;
  ASSERT_TRUE(TextToRationals("X:12:00:00.000", &ref, &r, true));
  EXPECT_EQ(ref.letter, u'X');
  EXPECT_EQ(r.numerators[0], 12u);
  ASSERT_TRUE(TextToRationals("N:35-37:32.828", &ref, &r, true));
  EXPECT_EQ(r.numerators, (std::array<std::uint32_t, 3>{35, 0, 0}));
  // The field widths are maximum widths: a longer degree field spills over.
  ASSERT_TRUE(TextToRationals("N:123:45:00.000", &ref, &r, true));
  EXPECT_EQ(r.numerators, (std::array<std::uint32_t, 3>{12, 0, 0}));
  ASSERT_TRUE(TextToRationals("N", &ref, &r, true));
  EXPECT_EQ(r.numerators, (std::array<std::uint32_t, 3>{0, 0, 0}));
  // A non-ASCII first character is one letter.
  ASSERT_TRUE(TextToRationals("\xC3\x9C:01:02:03.004", &ref, &r, true));
  EXPECT_EQ(ref.letter, u'\u00DC');
  EXPECT_EQ(r.numerators, (std::array<std::uint32_t, 3>{1, 2, 3004}));
}

TEST(CoordinateText, RefusesNegativeFieldsThatWouldWrapAround) {
  XpGPSRef ref;
  XpGPSRational3 r;
  EXPECT_FALSE(TextToRationals("N:-5:07:09.500", &ref, &r, true));
  EXPECT_FALSE(TextToRationals("N:05:07:-9.500", &ref, &r, true));
  EXPECT_FALSE(ref.IsValid());
}

// Total milliseconds of the digits part "D...:MM:SS.mmm".
long long Millis(const std::string& text) {
  long long d = 0, m = 0, sec = 0, ms = 0;
  EXPECT_EQ(std::sscanf(text.c_str() + 2, "%lld:%lld:%lld.%lld", &d, &m, &sec, &ms), 4) << text;
  return ((d * 60 + m) * 60 + sec) * 1000 + ms;
}

TEST(CoordinateText, RoundTripsThroughRationalsWithinOneMillisecond) {
  // The degrees are stored as a double between the two truncating steps, so a
  // text read back may come out one millisecond lower; never more, never higher.
  const std::pair<const char*, bool> cases[] = {
      {"N:35:37:32.828", true},   {"S:00:00:00.001", true},   {"N:89:59:59.999", true},
      {"S:45:30:15.500", true},   {"N:10:30:00.000", true},   {"E:139:44:31.338", false},
      {"W:179:59:59.999", false}, {"W:000:00:01.000", false}, {"E:010:30:00.000", false},
  };
  for (const auto& [text, latitude] : cases) {
    XpGPSRef ref;
    XpGPSRational3 r;
    ASSERT_TRUE(TextToRationals(text, &ref, &r, latitude));
    const std::string back = CoordinateTextFromGPS(ref, r, latitude);
    EXPECT_EQ(back[0], text[0]);
    const long long drift = Millis(text) - Millis(back);
    EXPECT_TRUE(drift == 0 || drift == 1) << text << " -> " << back;
  }
}

TEST(CoordinateText, ShowsThePlaceholderOrThePositiveLetterWhenAPartIsMissing) {
  EXPECT_EQ(CoordinateTextFromGPS(Ref(u'N'), Rationals({1, 2, 3}, {1, 1, 0}), true), "X:99:99:99.999");
  EXPECT_EQ(CoordinateTextFromGPS(Ref(u'E'), Rationals({1, 2, 3}, {0, 1, 1}), false), "X:999:99:99.999");
  XpGPSRef missing;
  EXPECT_EQ(CoordinateTextFromGPS(missing, Rationals({10, 30, 0}, {1, 1, 1}), true), "N:10:30:00.000");
  EXPECT_EQ(CoordinateTextFromGPS(Ref(0), Rationals({10, 30, 0}, {1, 1, 1}), false), "E:010:30:00.000");
}
