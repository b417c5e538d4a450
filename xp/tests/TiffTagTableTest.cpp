#include <gtest/gtest.h>

#include <set>

#include "xp/tiff/XpTiffTagTypes.h"

namespace {

TEST(TiffTagTable, ListsEachTagOnceWithAKnownTypeAndAName) {
  std::set<std::uint16_t> tags;
  std::set<std::string_view> names;
  for (const XpTiffTagInfo& info : kXpTiffTagTable) {
    EXPECT_TRUE(tags.insert(info.tag).second) << info.name;
    EXPECT_TRUE(names.insert(info.name).second) << info.name;
    EXPECT_FALSE(info.name.empty());
    EXPECT_NE(XpTiffTypeUnitSize(info.type), 0u) << info.name;
    EXPECT_EQ(XpFindTiffTag(info.tag), &info) << info.name;
  }
}

TEST(TiffTagTable, DescribesTheTagsTheReadersRelyOn) {
  const XpTiffTagInfo* original = XpFindTiffTag(0x9003);
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(original->name, "DateTimeOriginal");
  EXPECT_EQ(original->type, kTiffTypeAscii);
  EXPECT_EQ(original->count, 20u);  // "YYYY:MM:DD HH:MM:SS" and its NUL
  const XpTiffTagInfo* makerNote = XpFindTiffTag(37500);
  ASSERT_NE(makerNote, nullptr);
  EXPECT_EQ(makerNote->type, kTiffTypeUndefined);
  EXPECT_EQ(XpFindTiffTag(0xFFFF), nullptr);
  EXPECT_EQ(XpFindTiffTag(0), nullptr);
}

}  // namespace
