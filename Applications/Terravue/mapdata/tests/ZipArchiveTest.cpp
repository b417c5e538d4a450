#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/ZipArchive.h"

namespace {

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = (v << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
  }
  return v;
}

std::uint16_t Le16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                    (static_cast<unsigned char>(bytes.at(at + 1)) << 8));
}

TEST(ZipArchive, StoresEachEntryWithItsSumAndTheDirectoryPointsAtThem) {
  const std::vector<ZipEntry> entries{{"doc.kml", "<kml/>"}, {"files/1.jpg", std::string("\xFF\xD8\0\xFF\xD9", 5)}};
  const auto zip = WriteStoredZip(entries);
  ASSERT_TRUE(zip);
  // Local header of the first entry, its name and bytes right behind it.
  EXPECT_EQ(Le32(*zip, 0), 0x04034b50u);
  EXPECT_EQ(Le16(*zip, 8), 0u);  // stored
  EXPECT_EQ(Le32(*zip, 18), 6u);
  EXPECT_EQ(Le32(*zip, 22), 6u);
  EXPECT_EQ(zip->substr(30, 7), "doc.kml");
  EXPECT_EQ(zip->substr(37, 6), "<kml/>");
  // The end record: two entries, the directory where it says it is.
  const std::size_t end = zip->size() - 22;
  EXPECT_EQ(Le32(*zip, end), 0x06054b50u);
  EXPECT_EQ(Le16(*zip, end + 10), 2u);
  const std::uint32_t directory = Le32(*zip, end + 16);
  EXPECT_EQ(directory + Le32(*zip, end + 12), end);
  EXPECT_EQ(Le32(*zip, directory), 0x02014b50u);
  // The second central entry points at the second local header.
  const std::size_t second = directory + 46 + 7;
  EXPECT_EQ(Le32(*zip, second), 0x02014b50u);
  const std::uint32_t local = Le32(*zip, second + 42);
  EXPECT_EQ(Le32(*zip, local), 0x04034b50u);
  EXPECT_EQ(zip->substr(local + 30, 11), "files/1.jpg");
  EXPECT_EQ(Le32(*zip, local + 14), Le32(*zip, second + 16));  // the same CRC in both headers
  // The same entries always give the same bytes.
  EXPECT_EQ(WriteStoredZip(entries), zip);
}

TEST(ZipArchive, AnEmptyArchiveIsTheEndRecordAlone) {
  const auto zip = WriteStoredZip({});
  ASSERT_TRUE(zip);
  ASSERT_EQ(zip->size(), 22u);
  EXPECT_EQ(Le32(*zip, 0), 0x06054b50u);
}

TEST(ZipArchive, RefusesNamesThatLeaveTheArchiveAndCountsTheFormatCannotHold) {
  for (const std::string& bad :
       {std::string(), std::string("/etc/passwd"), std::string("../up.jpg"), std::string("a/../../b"),
        std::string("a\\b"), std::string("a\0b", 3), std::string("\xC3("), std::string(0x10000, 'n')}) {
    EXPECT_FALSE(WriteStoredZip({{bad, "x"}})) << bad;
  }
  std::vector<ZipEntry> many(kMaxZipEntries + 1, ZipEntry{"a", ""});
  EXPECT_FALSE(WriteStoredZip(many));
  many.pop_back();
  EXPECT_TRUE(WriteStoredZip(many));
}

}  // namespace
