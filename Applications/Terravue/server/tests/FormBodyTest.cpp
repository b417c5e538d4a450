#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Terravue/server/FormBody.h"

namespace terravue::server {
namespace {

std::vector<FormField> Parse(std::string_view body, RequestStatus expected = RequestStatus::Ok) {
  std::vector<FormField> fields;
  EXPECT_EQ(ParseFormBody(body, fields), expected) << body;
  return fields;
}

TEST(FormBody, SplitsPairsInBodyOrder) {
  const auto fields = Parse("a=1&b=two&c=");
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].name, "a");
  EXPECT_EQ(fields[0].value, "1");
  EXPECT_EQ(fields[1].name, "b");
  EXPECT_EQ(fields[1].value, "two");
  EXPECT_EQ(fields[2].name, "c");
  EXPECT_EQ(fields[2].value, "");
}

TEST(FormBody, DecodesPlusAsBlankAndPercentEscapesInEitherCase) {
  const auto fields = Parse("base=C%3a%5cMy+Photos%5C&x=%2B%25");
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].value, "C:\\My Photos\\");
  EXPECT_EQ(fields[1].value, "+%");
}

TEST(FormBody, DecodesUtf8PathsFromTheirBytes) {
  const auto fields = Parse("pic_path1=%e6%9d%b1%e4%ba%ac.jpg");
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].value, "\xE6\x9D\xB1\xE4\xBA\xAC.jpg");
}

TEST(FormBody, KeepsCoordinateTextsUnchanged) {
  const auto fields = Parse("map_latitude=N:35:37:32.828");
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].value, "N:35:37:32.828");
}

TEST(FormBody, AnEmptyBodyHasNoPairsAndATrailingAmpersandIsTolerated) {
  EXPECT_TRUE(Parse("").empty());
  EXPECT_EQ(Parse("a=1&").size(), 1u);
  const auto fields = Parse("flag");
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].value, "");
}

struct BadBody {
  const char* body;
  RequestStatus status;
};

class FormBodyRefuses : public ::testing::TestWithParam<BadBody> {};

TEST_P(FormBodyRefuses, MalformedBodiesWithTheirReason) {
  std::vector<FormField> fields{{"left", "over"}};
  EXPECT_EQ(ParseFormBody(GetParam().body, fields), GetParam().status);
  EXPECT_TRUE(fields.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormBodyRefuses,
    ::testing::Values(BadBody{"a=%", RequestStatus::BadPercentEscape}, BadBody{"a=%4", RequestStatus::BadPercentEscape},
                      BadBody{"a=%zz", RequestStatus::BadPercentEscape},
                      BadBody{"%g1=1", RequestStatus::BadPercentEscape}, BadBody{"=1", RequestStatus::EmptyName},
                      BadBody{"a=1&&b=2", RequestStatus::EmptyName}, BadBody{"&", RequestStatus::EmptyName},
                      BadBody{"a=%ff", RequestStatus::InvalidUtf8}, BadBody{"a=%c0%af", RequestStatus::InvalidUtf8},
                      BadBody{"a=%ed%a0%80", RequestStatus::InvalidUtf8},
                      BadBody{"a=%f4%90%80%80", RequestStatus::InvalidUtf8},
                      BadBody{"a=%e6%9d", RequestStatus::InvalidUtf8}));

TEST(FormBody, RefusesMoreFieldsThanTheLimit) {
  std::string body;
  for (std::size_t i = 0; i <= kMaxFormFields; ++i) {
    body += "a&";
  }
  std::vector<FormField> fields;
  EXPECT_EQ(ParseFormBody(body, fields), RequestStatus::TooManyFields);
  EXPECT_TRUE(fields.empty());
}

}  // namespace
}  // namespace terravue::server
