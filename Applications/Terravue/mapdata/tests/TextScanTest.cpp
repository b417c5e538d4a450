#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "Applications/Terravue/mapdata/TextScan.h"

namespace {

struct ScanCase {
  const char* text;
  const char* format;
  int expectedCount;
  std::array<int, 6> expected;
};

class ScanIntegersTable : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanIntegersTable, StoresTheNumbersTheFormatAsksFor) {
  const ScanCase& c = GetParam();
  std::array<int, 6> out{};
  EXPECT_EQ(ScanIntegers(c.text, c.format, out), c.expectedCount);
  for (int i = 0; i < c.expectedCount; ++i) {
    EXPECT_EQ(out[static_cast<std::size_t>(i)], c.expected[static_cast<std::size_t>(i)]) << "value " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanIntegersTable,
    ::testing::Values(ScanCase{"#Terravue data version 1.1", "#Terravue data version %d.%d", 2, {1, 1}},
                      ScanCase{"\t2007/3/7 9:5:3", "\t%d/%d/%d %d:%d:%d\n", 6, {2007, 3, 7, 9, 5, 3}},
                      // White space in the format also matches none, and %d skips leading blanks.
                      ScanCase{"2007/3/7 9:5:3", "\t%d/%d/%d %d:%d:%d\n", 6, {2007, 3, 7, 9, 5, 3}},
                      ScanCase{"\t\t2007/03/07", "\t\t%d/%d/%d %d:%d:%d", 3, {2007, 3, 7}},
                      ScanCase{"\t-12", "\t%d", 1, {-12}}, ScanCase{"\t+7x", "\t%d", 1, {7}},
                      ScanCase{"\tx", "\t%d", 0, {}}, ScanCase{"", "\t%d", 0, {}},
                      ScanCase{"#Terravue data version 1", "#Terravue data version %d.%d", 1, {1}},
                      ScanCase{"#Other data version 1.1", "#Terravue data version %d.%d", 0, {}},
                      ScanCase{"\t2147483647", "\t%d", 1, {2147483647}},
                      ScanCase{"\t-2147483648", "\t%d", 1, {-2147483647 - 1}}, ScanCase{"\t2147483648", "\t%d", 0, {}},
                      ScanCase{"\t99999999999999999999", "\t%d", 0, {}}));

TEST(ScanIntegers, NeverStoresMoreValuesThanThereIsRoomFor) {
  std::array<int, 2> out{};
  EXPECT_EQ(ScanIntegers("1/2/3", "%d/%d/%d", out), 2);
  EXPECT_EQ(out[1], 2);
}

TEST(TextLineReader, ReadsCrLfAndLfLinesAlike) {
  TextLineReader reader("a\r\nb\nc");
  std::vector<std::string> lines;
  std::vector<bool> ends;
  std::string_view line;
  bool ended = false;
  while (reader.Next(&line, &ended)) {
    lines.emplace_back(line);
    ends.push_back(ended);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(ends, (std::vector<bool>{true, true, false}));
}

TEST(TextLineReader, KeepsALoneCarriageReturnInsideALine) {
  TextLineReader reader("a\rb\r\r\n");
  std::string_view line;
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "a\rb\r");
  EXPECT_FALSE(reader.Next(&line));
}

TEST(TextLineReader, GivesNoLineForAnEmptyText) {
  TextLineReader reader("");
  std::string_view line;
  EXPECT_FALSE(reader.Next(&line));
}

TEST(Strip, RemovesOnlyTheGivenCharactersAtTheEnds) {
  EXPECT_EQ(StripRight("\t\tpath \t\r\n", "\r\n\t "), "\t\tpath");
  EXPECT_EQ(StripLeft("\t\tpath x", "\t"), "path x");
  EXPECT_EQ(StripRight("\t \r\n", "\r\n\t "), "");
  EXPECT_EQ(StripLeft("\t\t", "\t"), "");
}

TEST(HasLineBreak, FindsCarriageReturnsAndLineFeeds) {
  EXPECT_TRUE(HasLineBreak("a\nb"));
  EXPECT_TRUE(HasLineBreak("a\rb"));
  EXPECT_FALSE(HasLineBreak("/home/u/a b.jpg"));
}

}  // namespace
