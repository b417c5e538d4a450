#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Applications/Terravue/server/MapPage.h"
#include "Applications/Terravue/server/tests/TestBodies.h"

namespace terravue::server {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

MapRequest Request(const std::vector<testing::TestPicture>& pictures, int select, std::string_view lang = "ENU") {
  MapRequest request;
  EXPECT_EQ(ParseMapRequest(testing::MapBody(pictures, select, lang), request), RequestStatus::Ok);
  return request;
}

std::string PageTemplate() {
  std::ifstream in(std::string(TV_SOURCE_DIR) + "/Applications/Terravue/web/terravue_page.html");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ThumbnailUrl, EncodesEachSegmentBehindThePrefix) {
  EXPECT_EQ(ThumbnailUrl("tvthumb:/", "cache_0.jpg"), "tvthumb:/cache_0.jpg");
  EXPECT_EQ(ThumbnailUrl("tvthumb:/", "My Trip\\cache_0.jpg"), "tvthumb:/My%20Trip/cache_0.jpg");
  EXPECT_EQ(ThumbnailUrl("tvthumb:/", "Trip/\xE6\x9D\xB1.jpg"), "tvthumb:/Trip/%E6%9D%B1.jpg");
  EXPECT_EQ(ThumbnailUrl("", "a#b?.jpg"), "a%23b%3F.jpg");
}

TEST(ThumbnailUrl, RefusesPathsThatCouldLeaveTheWorkFolder) {
  for (const char* cache : {"", "/etc/passwd", "\\x.jpg", "../x.jpg", "Trip/../../x.jpg", "Trip\\..\\x.jpg", "./x.jpg",
                            "Trip//x.jpg", "C:x.jpg", "file:x", "a\nb.jpg", "Trip/"}) {
    EXPECT_EQ(ThumbnailUrl("tvthumb:/", cache), "") << cache;
  }
}

TEST(HiddenFields, CarryTheValuesAsSentInTheOrderTheProgramReadsThem) {
  const std::string fields = RenderHiddenFields(Request(testing::ThreePictures(), 1));
  const std::vector<std::string> expected = {
      R"(name="map_zoom" value="9")",
      R"(name="map_latitude" value="N:35:37:32.828")",
      R"(name="map_longitude" value="E:139:44:31.338")",
      R"(name="pic_count" value="3")",
      R"(name="pic_modify1" value="0")",
      R"(name="pic_latitude1" value="N:35:37:32.828")",
      R"(name="pic_longitude1" value="E:139:44:31.338")",
      R"(name="pic_modify2" value="0")",
      R"(name="pic_latitude2" value="N:34:41:37.000")",
      R"(name="pic_longitude2" value="E:135:30:08.000")",
      R"(name="pic_modify3" value="0")",
      R"(name="pic_latitude3" value="X:99:99:99.999")",
      R"(name="pic_longitude3" value="X:999:99:99.999")",
  };
  std::size_t at = 0;
  for (const std::string& field : expected) {
    const std::size_t found = fields.find(field, at);
    ASSERT_NE(found, std::string::npos) << field;
    at = found;
  }
  EXPECT_THAT(fields, Not(HasSubstr("pic_latitude4")));
}

TEST(MapData, DescribesEveryPictureWithItsThumbnailUrl) {
  MapPageSettings settings;
  settings.thumbnailPrefix = "tvthumb:/";
  const std::string data = RenderMapData(Request(testing::ThreePictures(), 2, "JPN"), settings);
  EXPECT_THAT(data, HasSubstr(R"("lang":"JPN","select":2,"zoom":"9")"));
  EXPECT_THAT(data,
              HasSubstr(R"("name":"osaka.jpg","path":"/home/user/Pictures/osaka.jpg","thumb":"tvthumb:/cache_1.jpg")"));
  EXPECT_THAT(data,
              HasSubstr(R"("lat":"X:99:99:99.999","lng":"X:999:99:99.999","time":"2024/05/01 10:20","width":160)"));
  EXPECT_THAT(data, HasSubstr(R"("editable":true)"));
  EXPECT_THAT(data, HasSubstr(R"("tileUrl":"https://tile.openstreetmap.org/{z}/{x}/{y}.png")"));
}

TEST(MapPage, AnAttackPathStaysTextInEveryContext) {
  const std::string attack = "/home/user/a\"><script>alert(1)</script>.jpg";
  testing::TestPicture picture{attack, "x\"><img src=x onerror=alert(1)>.jpg", "N:01:00:00.000\"><b>",
                               "E:001:00:00.000"};
  picture.time = "</script><script>alert(2)</script>";
  const std::string page = RenderMapPage(PageTemplate(), Request({picture}, 1), MapPageSettings{});
  // The only script elements are the page's own two.
  std::size_t scripts = 0;
  for (std::size_t at = page.find("<script"); at != std::string::npos; at = page.find("<script", at + 1)) {
    ++scripts;
  }
  EXPECT_EQ(scripts, 2u);
  EXPECT_THAT(page, Not(HasSubstr("<img src=x")));
  EXPECT_THAT(page, Not(HasSubstr("<b>")));
  EXPECT_THAT(page, HasSubstr(R"(value="N:01:00:00.000&quot;&gt;&lt;b&gt;")"));
  EXPECT_THAT(page, HasSubstr(R"(a\"\u003e\u003cscript\u003ealert(1)\u003c/script\u003e.jpg)"));
}

TEST(MapPage, FillsTheTemplateAndLeavesUnknownTokensAlone) {
  const std::string page = RenderMapPage("<html lang=\"{{HTML_LANG}}\">{{TITLE}}|{{SCRIPT}}|{{OTHER}}|{{FIELDS}}|{{",
                                         Request({}, 0, "JPN"), MapPageSettings{});
  EXPECT_THAT(page, HasSubstr("<html lang=\"ja\">Terravue|/www/gps/terravue/script/|{{OTHER}}|<input"));
  EXPECT_THAT(page, HasSubstr("name=\"pic_count\" value=\"0\""));
  EXPECT_THAT(page, ::testing::EndsWith("|{{"));
}

TEST(MapPage, TheShippedTemplateHasTheElementsTheScriptUses) {
  const std::string page = RenderMapPage(PageTemplate(), Request(testing::ThreePictures(), 1), MapPageSettings{});
  for (const char* id : {"terravue", "list", "map", "info", "thumbAlt", "big", "bigBg", "bigImg", "skel", "thumb1",
                         "thumb2", "msg1", "msg2", "gps", "shadow1", "shadow2", "thumbTime", "tvData", "tvFields"}) {
    EXPECT_THAT(page, HasSubstr("id=\"" + std::string(id) + "\"")) << id;
  }
  EXPECT_THAT(page, HasSubstr("src=\"/www/gps/terravue/script/terravue.js\""));
  EXPECT_THAT(page, HasSubstr("src=\"/www/gps/terravue/script/GPS.gif\""));
  EXPECT_THAT(page, Not(HasSubstr("{{")));
}

TEST(DisplayName, IsTheLastPathComponentForEitherSeparator) {
  EXPECT_EQ(DisplayName("/home/u/a.jpg"), "a.jpg");
  EXPECT_EQ(DisplayName("C:\\Photos\\b.jpg"), "b.jpg");
  EXPECT_EQ(DisplayName("c.jpg"), "c.jpg");
  EXPECT_EQ(DisplayName("dir/"), "");
}

}  // namespace
}  // namespace terravue::server
