#include <gtest/gtest.h>

#include "Applications/Terravue/mapdata/ServerRequest.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

struct EncodeCase {
  const char* text;
  const char* encoded;
};

class FormEncodeTable : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(FormEncodeTable, EncodesEveryByteAsTheServerExpects) {
  EXPECT_EQ(FormEncode(GetParam().text), GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormEncodeTable,
                         ::testing::Values(EncodeCase{"N:35:37:32.828", "N:35:37:32.828"},
                                           EncodeCase{"C:\\My Photos\\a.jpg", "C:%5cMy+Photos%5ca.jpg"},
                                           EncodeCase{"Trip\\cache_0.jpg", "Trip%5ccache_0.jpg"},
                                           EncodeCase{"/home/u/My Photos/a.jpg", "/home/u/My+Photos/a.jpg"},
                                           EncodeCase{"!'()*-._~", "!'()*-._~"},
                                           EncodeCase{"a&b=c+d%", "a%26b%3dc%2bd%25"},
                                           EncodeCase{"1, 1, 01, 08140", "1%2c+1%2c+01%2c+08140"},
                                           EncodeCase{"\t\n", "%09%0a"},
                                           EncodeCase{"\xC3\xA9t\xC3\xA9", "%c3%a9t%c3%a9"},
                                           EncodeCase{"\xE5\x86\x99", "%e5%86%99"}, EncodeCase{"", ""}));

RequestContext Context() { return RequestContext{"1, 1, 01, 08140", "ENU"}; }

PictureRecord Picture(const std::string& path, const std::string& state, const std::string& cache) {
  PictureRecord record(path, state, cache);
  record.m_latitude = "N:35:37:32.828";
  record.m_longitude = "E:139:44:31.338";
  record.m_timeText = "3/7/07 9:05 AM";
  record.m_width = 550;
  record.m_height = 412;
  return record;
}

TEST(ServerRequest, AnEmptyListSendsTheHeadTheBaseAndSelectZero) {
  MapState state("/home/u/Documents/Terravue");
  EXPECT_EQ(state.BuildRequest(Context()),
            "format_version=1.1&client_name=Terravue&client_version=1%2c+1%2c+01%2c+08140&lang=ENU&map_zoom=9"
            "&map_latitude=X:99:99:99.999&map_longitude=X:999:99:99.999&base=/home/u/Documents/Terravue/"
            "&select=0");
}

TEST(ServerRequest, PicturesNoneOfWhichIsSelectedEndWithSelectOne) {
  MapState state("/r");
  state.m_pictures.Append(Picture("/p/a.jpg", "", "cache_0.jpg"));
  state.m_pictures.Append(Picture("/p/b.jpg", "", "cache_1.jpg"));
  const std::string body = state.BuildRequest(Context());
  EXPECT_TRUE(body.ends_with("&pic_cy2=412&select=1")) << body;
}

TEST(ServerRequest, ALaterSelectedPictureWinsOverAnEarlierOne) {
  MapState state("/r");
  for (int i = 0; i < 3; ++i) {
    state.m_pictures.Append(Picture("/p/" + std::to_string(i) + ".jpg", "", "cache_" + std::to_string(i) + ".jpg"));
  }
  state.m_pictures.At(0).m_selected = 1;
  state.m_pictures.At(1).m_selected = 1;
  EXPECT_TRUE(state.BuildRequest(Context()).ends_with("&select=2"));
}

TEST(ServerRequest, NumbersEachPicturesSevenPairsFromOne) {
  MapState state("/r");
  state.m_pictures.Append(Picture("/p/My Photos/a.jpg", "Trip", "cache_0.jpg"));
  const std::string body = state.BuildRequest(Context());
  EXPECT_NE(body.find("&base=/r/&pic_path1=/p/My+Photos/a.jpg&pic_cache1=Trip/cache_0.jpg"
                      "&pic_latitude1=N:35:37:32.828&pic_longitude1=E:139:44:31.338&pic_time1=3/7/07+9:05+AM"
                      "&pic_cx1=550&pic_cy1=412&select=1"),
            std::string::npos)
      << body;
}

TEST(ServerRequest, MatchesTheGoldenBodyForAFixedState) {
  MapState state("/home/user/Documents/Terravue");
  state.Rename("Trip to Kyōto");
  state.m_zoom = "12";
  state.m_latitude = "N:35:00:41.544";
  state.m_longitude = "E:135:46:05.760";
  state.m_pictures.Append(Picture("/home/user/Pictures/Trip 2007/IMG_0001.JPG", "Trip to Kyōto", "cache_0.jpg"));
  PictureRecord second = Picture("/home/user/Pictures/写真/b&w #2.jpg", "", "cache_1.jpg");
  second.m_latitude = "X:99:99:99.999";
  second.m_longitude = "X:999:99:99.999";
  second.m_timeText = "";
  second.m_width = 412;
  second.m_height = 550;
  second.m_selected = 1;
  state.m_pictures.Append(second);
  const std::string body = state.BuildRequest(Context()) + "\n";
  EXPECT_EQ(body, Golden("request_body.txt", body));
}

}  // namespace
