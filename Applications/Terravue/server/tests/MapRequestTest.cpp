#include <gtest/gtest.h>

#include "Applications/Terravue/server/MapRequest.h"
#include "Applications/Terravue/server/tests/TestBodies.h"

namespace terravue::server {
namespace {

using testing::MapBody;
using testing::ThreePictures;

TEST(MapRequest, ReadsEveryFieldTheProgramSends) {
  MapRequest request;
  ASSERT_EQ(ParseMapRequest(MapBody(ThreePictures(), 2, "ENU", "/home/user/My Documents/Terravue/"), request),
            RequestStatus::Ok);
  EXPECT_EQ(request.formatVersion, "1.1");
  EXPECT_EQ(request.clientName, "Terravue");
  EXPECT_EQ(request.clientVersion, "1.1.01.08140");
  EXPECT_EQ(request.lang, "ENU");
  EXPECT_EQ(request.language, PageLanguage::English);
  EXPECT_EQ(request.zoom, "9");
  EXPECT_EQ(request.latitude, "N:35:37:32.828");
  EXPECT_EQ(request.longitude, "E:139:44:31.338");
  EXPECT_EQ(request.base, "/home/user/My Documents/Terravue/");
  ASSERT_EQ(request.pictures.size(), 3u);
  EXPECT_EQ(request.pictures[0].path, "/home/user/Pictures/tokyo.jpg");
  EXPECT_EQ(request.pictures[1].cache, "cache_1.jpg");
  EXPECT_EQ(request.pictures[1].latitude, "N:34:41:37.000");
  EXPECT_EQ(request.pictures[2].longitude, "X:999:99:99.999");
  EXPECT_EQ(request.pictures[2].time, "2024/05/01 10:20");
  EXPECT_EQ(request.pictures[2].width, 160);
  EXPECT_EQ(request.pictures[2].height, 120);
  EXPECT_EQ(request.select, 2u);
}

TEST(MapRequest, AnEmptyMapHasNoPicturesAndSelectsNothing) {
  MapRequest request;
  ASSERT_EQ(ParseMapRequest(MapBody({}, 0), request), RequestStatus::Ok);
  EXPECT_TRUE(request.pictures.empty());
  EXPECT_EQ(request.select, 0u);
}

TEST(MapRequest, JapaneseIsChosenByItsCodeAndEverythingElseIsEnglish) {
  MapRequest request;
  ASSERT_EQ(ParseMapRequest(MapBody({}, 0, "JPN"), request), RequestStatus::Ok);
  EXPECT_EQ(request.language, PageLanguage::Japanese);
  ASSERT_EQ(ParseMapRequest(MapBody({}, 0, "DEU"), request), RequestStatus::Ok);
  EXPECT_EQ(request.language, PageLanguage::English);
  EXPECT_EQ(request.lang, "DEU");
}

TEST(MapRequest, FieldsMayComeInAnyOrderAndUnknownOnesAreIgnored) {
  MapRequest request;
  const std::string body =
      "select=1&pic_cy1=9&pic_cx1=8&pic_time1=t&pic_longitude1=E:001:00:00.000&pic_latitude1=N:01:00:00.000"
      "&pic_cache1=c.jpg&pic_path1=/p.jpg&base=/b/&map_longitude=E:000:00:00.000&map_latitude=N:00:00:00.000"
      "&map_zoom=3&lang=ENU&format_version=1.1&future_field=x&pic_pathx=y";
  ASSERT_EQ(ParseMapRequest(body, request), RequestStatus::Ok);
  ASSERT_EQ(request.pictures.size(), 1u);
  EXPECT_EQ(request.pictures[0].width, 8);
  EXPECT_EQ(request.pictures[0].height, 9);
  EXPECT_EQ(request.clientName, "");
}

struct BadRequest {
  const char* what;
  std::string body;
  RequestStatus status;
};

std::string WithoutField(std::string body, std::string_view pair) {
  const std::size_t at = body.find(pair);
  EXPECT_NE(at, std::string::npos) << pair;
  body.erase(at, pair.size());
  return body;
}

class MapRequestRefuses : public ::testing::TestWithParam<BadRequest> {};

TEST_P(MapRequestRefuses, MalformedRequests) {
  MapRequest request;
  request.zoom = "stale";
  EXPECT_EQ(ParseMapRequest(GetParam().body, request), GetParam().status) << GetParam().what;
  EXPECT_TRUE(request.zoom.empty());
  EXPECT_TRUE(request.pictures.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MapRequestRefuses,
    ::testing::Values(
        BadRequest{"no select", WithoutField(MapBody(ThreePictures(), 1), "&select=1"), RequestStatus::MissingField},
        BadRequest{"no base", WithoutField(MapBody({}, 0), "&base=/home/user/Documents/Terravue/"),
                   RequestStatus::MissingField},
        BadRequest{"a picture without its cache", WithoutField(MapBody(ThreePictures(), 1), "&pic_cache2=cache_1.jpg"),
                   RequestStatus::MissingField},
        BadRequest{"a gap in the numbering",
                   WithoutField(MapBody(ThreePictures(), 1),
                                "&pic_path2=/home/user/Pictures/"
                                "osaka.jpg&pic_cache2=cache_1.jpg&pic_latitude2=N:34:41:37.000&pic_longitude2=E:135:30:"
                                "08.000&pic_time2=2024/05/01+10:20&pic_cx2=160&pic_cy2=120"),
                   RequestStatus::BadPictureIndex},
        BadRequest{"picture zero", MapBody({}, 0) + "&pic_path0=x", RequestStatus::BadPictureIndex},
        BadRequest{"a leading zero", MapBody({}, 0) + "&pic_path01=x", RequestStatus::BadPictureIndex},
        BadRequest{"a huge picture number", MapBody({}, 0) + "&pic_path99999999=x", RequestStatus::BadPictureIndex},
        BadRequest{"select past the pictures", MapBody(ThreePictures(), 4), RequestStatus::BadNumber},
        BadRequest{"select not a number", WithoutField(MapBody({}, 0), "&select=0") + "&select=x",
                   RequestStatus::BadNumber},
        BadRequest{"a negative width", MapBody({{"/a.jpg", "c.jpg", "", "", "", -1, 5}}, 1), RequestStatus::BadNumber},
        BadRequest{"a width beyond reason", MapBody({{"/a.jpg", "c.jpg", "", "", "", 100001, 5}}, 1),
                   RequestStatus::BadNumber},
        BadRequest{"a repeated head field", MapBody({}, 0) + "&map_zoom=4", RequestStatus::DuplicateField},
        BadRequest{"a repeated picture field", MapBody(ThreePictures(), 1) + "&pic_path1=x",
                   RequestStatus::DuplicateField},
        BadRequest{"a broken escape", MapBody({}, 0) + "&x=%", RequestStatus::BadPercentEscape},
        BadRequest{"not UTF-8", MapBody({}, 0) + "&x=%fe", RequestStatus::InvalidUtf8}));

}  // namespace
}  // namespace terravue::server
