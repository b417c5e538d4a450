#include <gtest/gtest.h>

#include <string>

#include "xp/text/XpHexDigits.h"
#include "xp/text/XpUtf8.h"

namespace {

TEST(Utf8Text, AcceptsWellFormedSequencesOfEveryLength) {
  EXPECT_TRUE(XpIsValidUtf8(""));
  EXPECT_TRUE(XpIsValidUtf8("plain"));
  EXPECT_TRUE(XpIsValidUtf8("\xC3\xA9"));
  EXPECT_TRUE(XpIsValidUtf8("\xE3\x81\x82"));
  EXPECT_TRUE(XpIsValidUtf8("\xF0\x9F\x97\xBA"));
  EXPECT_TRUE(XpIsValidUtf8("\xEF\xBF\xBF\xF4\x8F\xBF\xBF\xE0\xA0\x80\xF0\x90\x80\x80"));
  EXPECT_TRUE(XpIsValidUtf8(std::string_view("\0", 1)));
}

TEST(Utf8Text, RefusesEveryIllFormedSequence) {
  for (const char* text : {"\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xC2", "\xC2\x7F", "\xE0\x9F\xBF", "\xE3\x81",
                           "\xED\xA0\x80", "\xED\xBF\xBF", "\xF0\x8F\xBF\xBF", "\xF0\x9F\x97", "\xF4\x90\x80\x80",
                           "\xF5\x80\x80\x80", "\xFF", "a\xFE", "\xE3\x81\x82\xE3"}) {
    EXPECT_FALSE(XpIsValidUtf8(text)) << text;
  }
}

TEST(Utf8Text, MeasuresTheSequenceAtAPosition) {
  const std::string_view text = "a\xC3\xA9\xE3\x81\x82\xF0\x9F\x97\xBA\x80";
  EXPECT_EQ(XpUtf8SequenceLength(text, 0), 1u);
  EXPECT_EQ(XpUtf8SequenceLength(text, 1), 2u);
  EXPECT_EQ(XpUtf8SequenceLength(text, 2), 0u);  // a continuation byte starts nothing
  EXPECT_EQ(XpUtf8SequenceLength(text, 3), 3u);
  EXPECT_EQ(XpUtf8SequenceLength(text, 6), 4u);
  EXPECT_EQ(XpUtf8SequenceLength(text, 10), 0u);
  EXPECT_EQ(XpUtf8SequenceLength(text, 11), 0u);  // past the end
  EXPECT_EQ(XpUtf8SequenceLength(text.substr(0, 8), 6), 0u);
}

TEST(HexDigits, ReadsBothCasesAndRefusesTheRest) {
  static_assert(XpHexDigitValue('0') == 0 && XpHexDigitValue('9') == 9);
  EXPECT_EQ(XpHexDigitValue('a'), 10);
  EXPECT_EQ(XpHexDigitValue('F'), 15);
  for (const char c : {'g', 'G', ' ', '/', ':', '@', '`', '\0', '-'}) {
    EXPECT_EQ(XpHexDigitValue(c), -1) << c;
  }
  EXPECT_EQ(XpHexByteValue('7', 'f'), 0x7F);
  EXPECT_EQ(XpHexByteValue('F', 'F'), 0xFF);
  EXPECT_EQ(XpHexByteValue('0', 'x'), -1);
  EXPECT_EQ(XpHexByteValue('x', '0'), -1);
}

TEST(HexDigits, WritesZeroPaddedLowerCaseDigits) {
  std::string out;
  XpAppendHex(out, 0x2028, 4);
  XpAppendHex(out, 0xA, 2);
  XpAppendHex(out, 0xDEADBEEF, 8);
  EXPECT_EQ(out, "20280adeadbeef");
  out.clear();
  XpAppendHex(out, 0x12345, 4);  // only the low digits
  EXPECT_EQ(out, "2345");
  out.clear();
  XpAppendHex(out, 0xC3, 2, XpHexCase::Upper);
  XpAppendHex(out, 0xAF, 2, XpHexCase::Lower);
  EXPECT_EQ(out, "C3af");
}

}  // namespace
