#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "Applications/Terravue/mapdata/MapPage.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

MapPageAddresses Addresses() { return {"http://127.0.0.1:8080/maps/api/js", "http://127.0.0.1:8080"}; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

PictureRecord Located(int n) {
  PictureRecord record("/p/" + std::to_string(n) + ".jpg", "", "cache_" + std::to_string(n) + ".jpg");
  record.m_latitude = "N:35:37:32.828";
  record.m_longitude = "E:139:44:31.338";
  record.m_width = 550;
  record.m_height = 412;
  record.m_timeText = "3/7/07 9:05 AM";
  return record;
}

TEST(MapPage, HasTwentyEightLinesEachEndingInALineEnd) {
  const std::string page = BuildMapPage(PictureList(), Addresses());
  EXPECT_EQ(Lines(page).size(), 28u);
  EXPECT_TRUE(page.ends_with("</html>\n"));
}

TEST(MapPage, AnEmptyListGivesAnEmptyMarkerArray) {
  const auto lines = Lines(BuildMapPage(PictureList(), Addresses()));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], "\tvar $marker = [];");
}

TEST(MapPage, JoinsTwoMarkersWithABareCommaInListOrder) {
  PictureList list;
  list.Append(Located(0));
  list.Append(Located(1));
  const auto lines = Lines(BuildMapPage(list, Addresses()));
  EXPECT_EQ(lines[3],
            "\tvar $marker = [{\"path\":\"cache_0.jpg\",\"cache\":\"cache_0.jpg\",\"lat\":\"N:35:37:32.828\","
            "\"lng\":\"E:139:44:31.338\",\"width\":550,\"height\":412,\"time\":\"3/7/07 9:05 AM\"},"
            "{\"path\":\"cache_1.jpg\",\"cache\":\"cache_1.jpg\",\"lat\":\"N:35:37:32.828\","
            "\"lng\":\"E:139:44:31.338\",\"width\":550,\"height\":412,\"time\":\"3/7/07 9:05 AM\"}];");
}

TEST(MapPage, ListsAPictureWithoutPositionWithItsPlaceholders) {
  PictureRecord record("/p/a.jpg", "", "cache_3.jpg");
  EXPECT_EQ(MarkerObject(record),
            "{\"path\":\"cache_3.jpg\",\"cache\":\"cache_3.jpg\",\"lat\":\"X:99:99:99.999\","
            "\"lng\":\"X:999:99:99.999\",\"width\":550,\"height\":413,\"time\":\"\"}");
}

TEST(MapPage, AMissingPictureHasEmptyNamesAndTheSmallSize) {
  PictureRecord record("/p/gone.jpg", "", "");
  record.m_width = PictureRecord::kMissingWidth;
  record.m_height = PictureRecord::kMissingHeight;
  EXPECT_EQ(MarkerObject(record),
            "{\"path\":\"\",\"cache\":\"\",\"lat\":\"X:99:99:99.999\",\"lng\":\"X:999:99:99.999\","
            "\"width\":160,\"height\":120,\"time\":\"\"}");
}

TEST(MapPage, EscapesTextThatWouldEndTheStringOrTheScript) {
  PictureRecord record("/p/a.jpg", "", "cache_0.jpg");
  record.m_latitude = "N\"</script><script>alert(1)//";
  record.m_longitude = "E\\\n";
  const std::string marker = MarkerObject(record);
  EXPECT_NE(marker.find("\"lat\":\"N\\\"\\u003c/script\\u003e\\u003cscript\\u003ealert(1)//\""), std::string::npos)
      << marker;
  EXPECT_NE(marker.find("\"lng\":\"E\\\\\\n\""), std::string::npos) << marker;
  EXPECT_EQ(marker.find('<'), std::string::npos) << marker;
}

TEST(MapPage, LoadsTheBundledScriptOnceWhenItIsAlsoTheMapLibrary) {
  const std::string page = BuildMapPage(PictureList(), {"terravue.js", "http://127.0.0.1:8080"});
  std::size_t tags = 0;
  for (std::size_t at = page.find("<script src=\"terravue.js"); at != std::string::npos;
       at = page.find("<script src=\"terravue.js", at + 1)) {
    ++tags;
  }
  EXPECT_EQ(tags, 1U);
  EXPECT_NE(page.find("\tvar $marker = [];"), std::string::npos);
  // Another map library still gets its own tag before the page script.
  EXPECT_NE(BuildMapPage(PictureList(), Addresses()).find("<script src=\"http://127.0.0.1:8080/maps/api/js?file=api"),
            std::string::npos);
}

TEST(MapPage, MatchesTheGoldenPage) {
  PictureList list;
  list.Append(Located(0));
  PictureRecord missing("/p/gone.jpg", "", "");
  missing.m_width = 160;
  missing.m_height = 120;
  list.Append(missing);
  const std::string page = BuildMapPage(list, Addresses());
  EXPECT_EQ(page, Golden("data.htm", page));
}

TEST(MapPage, WritePageCopiesTheSupportFilesAndWritesCrLfLines) {
  TempFolder program;
  TempFolder root;
  for (const char* name : kPageSupportFiles) {
    WriteFileText(program / name, std::string("content of ") + name);
  }
  MapState state(root.Path());
  state.Rename("Trip");
  ASSERT_TRUE(state.MakeFolder());
  state.m_pictures.Append(Located(0));
  ASSERT_EQ(state.WritePage(program.Path(), Addresses()), PictureResult::Success);
  for (const char* name : kPageSupportFiles) {
    EXPECT_EQ(ReadFileText(root / ("Trip/" + std::string(name))), std::string("content of ") + name);
  }
  const std::string written = ReadFileText(root / "Trip/data.htm");
  EXPECT_EQ(written, ToCrLf(BuildMapPage(state.m_pictures, Addresses())));
}

TEST(MapPage, WritePageGoesOnWithoutSupportFilesButReportsAMissingFolder) {
  TempFolder program;
  TempFolder root;
  MapState state(root.Path());
  state.Rename("NoFolder");
  EXPECT_EQ(state.WritePage(program.Path(), Addresses()), PictureResult::WriteFailed);
  state.Rename("");
  EXPECT_EQ(state.WritePage(program.Path(), Addresses()), PictureResult::Success);
}

}  // namespace
