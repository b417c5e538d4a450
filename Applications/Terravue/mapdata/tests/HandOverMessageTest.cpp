#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/HandOverMessage.h"

namespace {

using namespace std::string_literals;

TEST(HandOverMessage, CarriesPathsWithAnyBytesButNulThroughARoundTrip) {
  const std::vector<std::string> paths = {"/photos/\xE4\xBA\xAC\xE9\x83\xBD 1.jpg", "/photos/line\nbreak.jpg",
                                          "/photos/\xFF not UTF-8.jpg"};
  const std::string message = EncodeHandOverMessage(paths);
  std::vector<std::string> decoded;
  ASSERT_EQ(DecodeHandOverMessage(message, &decoded), HandOverParse::Complete);
  EXPECT_EQ(decoded, paths);
}

TEST(HandOverMessage, AsksForMoreBytesAtEveryCutOfAValidMessage) {
  const std::string message = EncodeHandOverMessage({"/a.jpg", "/b/c.jpg"});
  for (std::size_t size = 0; size < message.size(); ++size) {
    std::vector<std::string> decoded;
    EXPECT_EQ(DecodeHandOverMessage(std::string_view(message).substr(0, size), &decoded), HandOverParse::Incomplete)
        << size;
    EXPECT_TRUE(decoded.empty());
  }
}

TEST(HandOverMessage, RefusesCountsOutsideItsLimitsOrSpelledOtherwise) {
  for (const std::string& header : {"terravue-open 1 0\n"s, "terravue-open 1 10001\n"s, "terravue-open 1 01\n"s,
                                    "terravue-open 1 +1\n"s, "terravue-open 1 -1\n"s, "terravue-open 1 1 \n"s,
                                    "terravue-open 1 \n"s, "terravue-open 2 1\n"s, "terravue-open 1 1234567"s}) {
    EXPECT_EQ(DecodeHandOverMessage(header + "/a.jpg"s + '\0', nullptr), HandOverParse::Invalid) << header;
  }
  EXPECT_EQ(DecodeHandOverMessage(EncodeHandOverMessage(std::vector<std::string>(10000, "/a.jpg")), nullptr),
            HandOverParse::Complete);
}

TEST(HandOverMessage, RefusesPathsThatAreEmptyRelativeOrTooLongAndBytesAfterTheLast) {
  EXPECT_EQ(DecodeHandOverMessage("terravue-open 1 1\na.jpg"s + '\0', nullptr), HandOverParse::Invalid);
  EXPECT_EQ(DecodeHandOverMessage("terravue-open 1 2\n/a.jpg"s + '\0' + '\0', nullptr), HandOverParse::Invalid);
  EXPECT_EQ(DecodeHandOverMessage(EncodeHandOverMessage({"/a.jpg"}) + "/", nullptr), HandOverParse::Invalid);
  const std::string longest = "/" + std::string(kHandOverMaxPathBytes - 1, 'a');
  EXPECT_EQ(DecodeHandOverMessage(EncodeHandOverMessage({longest}), nullptr), HandOverParse::Complete);
  EXPECT_EQ(DecodeHandOverMessage(EncodeHandOverMessage({longest + "a"}), nullptr), HandOverParse::Invalid);
  // A path that never ends is refused once it is longer than any path may be.
  EXPECT_EQ(DecodeHandOverMessage("terravue-open 1 1\n" + longest, nullptr), HandOverParse::Incomplete);
  EXPECT_EQ(DecodeHandOverMessage("terravue-open 1 1\n" + longest + "a", nullptr), HandOverParse::Invalid);
}

TEST(HandOverMessage, RefusesOtherProtocolsAndMessagesOverTheSizeLimit) {
  EXPECT_EQ(DecodeHandOverMessage("GET / HTTP/1.1\r\n", nullptr), HandOverParse::Invalid);
  EXPECT_EQ(DecodeHandOverMessage("terravue-close", nullptr), HandOverParse::Invalid);
  EXPECT_EQ(DecodeHandOverMessage(std::string(kHandOverMaxMessageBytes + 1, 'a'), nullptr), HandOverParse::Invalid);
}

}  // namespace
