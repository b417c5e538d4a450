#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "xp/base/XpCaptureTime.h"
#include "xp/base/XpDateTime.h"
#include "xp/tests/FileTypeFixtures.h"

namespace {

using fixtures::Bytes;
using fixtures::TempDir;

struct Fields {
  int year, month, day, hour, minute, second;
};

std::optional<Fields> CaptureFields(const std::string& path) {
  XpDateTime when;
  if (!GetCaptureTime(path, when)) {
    return std::nullopt;
  }
  const auto f = when.GetFields();
  if (!f) {
    ADD_FAILURE() << "a capture time without fields: " << path;
    return std::nullopt;
  }
  return Fields{f->year, f->month, f->day, f->hour, f->minute, f->second};
}

std::string JpegWithDate(const TempDir& dir, const std::string& name, const std::string& date) {
  return dir.Write(name, fixtures::JpegWithExif(fixtures::TiffData({.dateTimeOriginal = date})));
}

TEST(CaptureTime, ReadsTheExifDateAndTimeOfAJpeg) {
  TempDir dir;
  const auto f = CaptureFields(JpegWithDate(dir, "a.jpg", "2007:03:07 09:05:03"));
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->year, 2007);
  EXPECT_EQ(f->month, 3);
  EXPECT_EQ(f->day, 7);
  EXPECT_EQ(f->hour, 9);
  EXPECT_EQ(f->minute, 5);
  EXPECT_EQ(f->second, 3);
}

TEST(CaptureTime, TakesADateAloneAsMidnight) {
  TempDir dir;
  const auto f = CaptureFields(JpegWithDate(dir, "a.jpg", "2007:03:07"));
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->day, 7);
  EXPECT_EQ(f->hour, 0);
  EXPECT_EQ(f->minute, 0);
  EXPECT_EQ(f->second, 0);
}

TEST(CaptureTime, ReportsNoTimeForAnUnknownOrMissingDate) {
  TempDir dir;
  XpDateTime when(2001, 1, 1);
  EXPECT_FALSE(GetCaptureTime(JpegWithDate(dir, "zero.jpg", "0000:00:00 00:00:00"), when));
  EXPECT_FALSE(GetCaptureTime(JpegWithDate(dir, "blank.jpg", "    :  :     :  :  "), when));
  EXPECT_FALSE(GetCaptureTime(JpegWithDate(dir, "bad.jpg", "2007:13:07 09:05:03"), when));
  EXPECT_FALSE(GetCaptureTime(JpegWithDate(dir, "none.jpg", ""), when));
  EXPECT_FALSE(GetCaptureTime(dir.File("missing.jpg"), when));
  EXPECT_FALSE(GetCaptureTime(dir.Write("empty.jpg", {}), when));
  EXPECT_EQ(when, XpDateTime(2001, 1, 1));  // untouched
}

TEST(CaptureTime, ReadsThumbnailsAndEveryJpegCode) {
  TempDir dir;
  EXPECT_TRUE(CaptureFields(JpegWithDate(dir, "a.thm", "2010:01:02 03:04:05")).has_value());
  EXPECT_TRUE(CaptureFields(JpegWithDate(dir, "a.JPEG", "2010:01:02 03:04:05")).has_value());
  // The maker's mark makes the code 0x10000102; the time is read all the same.
  EXPECT_TRUE(CaptureFields(JpegWithDate(dir, "marked.jpg", "2010:01:02 03:04:05")).has_value());
}

TEST(CaptureTime, ReadsTheTiffStructureOfTiffAndRawFiles) {
  TempDir dir;
  const Bytes tiff = fixtures::TiffData({.dateTimeOriginal = "2011:11:11 11:11:11", .makerNote = false});
  for (const char* name : {"a.tif", "a.ARW", "a.sr2", "a.srf"}) {
    const auto f = CaptureFields(dir.Write(name, tiff));
    ASSERT_TRUE(f.has_value()) << name;
    EXPECT_EQ(f->year, 2011) << name;
  }
  // The "MRM" layout keeps the TIFF structure in its "TTW" block.
  Bytes mrw{0, 'M', 'R', 'M', 0, 0, 0, 0, 0, 'P', 'R', 'D', 0, 0, 0, 4, 1, 2, 3, 4, 0, 'T', 'T', 'W'};
  const std::size_t length = tiff.size();
  for (int shift : {24, 16, 8, 0}) {
    mrw.push_back(static_cast<std::uint8_t>(length >> shift));
  }
  mrw.insert(mrw.end(), tiff.begin(), tiff.end());
  const std::size_t header = mrw.size() - 8;
  for (int i = 0; i < 4; ++i) {
    mrw[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(header >> (24 - 8 * i));
  }
  const auto f = CaptureFields(dir.Write("a.mrw", mrw));
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->minute, 11);
  EXPECT_FALSE(CaptureFields(dir.Write("b.mrw", tiff)).has_value());
}

TEST(CaptureTime, GivesNoTimeForGifsAndMovies) {
  TempDir dir;
  EXPECT_FALSE(CaptureFields(dir.Write("still.gif", fixtures::Gif(0))).has_value());
  EXPECT_FALSE(CaptureFields(dir.Write("anim.gif", fixtures::Gif(5, 2))).has_value());
  EXPECT_FALSE(CaptureFields(dir.Write("clip.mpg", {0, 0, 1, 0xBA, 0x44})).has_value());
  // A JPEG named as something else is not read.
  EXPECT_FALSE(CaptureFields(JpegWithDate(dir, "photo.wmv", "2010:01:02 03:04:05")).has_value());
  EXPECT_FALSE(CaptureFields(JpegWithDate(dir, "photo.txt", "2010:01:02 03:04:05")).has_value());
}

// A text field of one oracle line; empty when it is null or missing.
std::string OracleField(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\": ";
  const auto at = line.find(marker);
  if (at == std::string::npos || line.compare(at + marker.size(), 1, "\"") != 0) {
    return {};
  }
  const auto start = at + marker.size() + 1;
  return line.substr(start, line.find('"', start) - start);
}

// Files where this reader and the oracle's Exif-directory field rightly differ.
struct KnownDifference {
  const char* file;
  const char* expected;  // what this reader gives; empty for no time
};
constexpr KnownDifference kKnownDifferences[] = {
    // The tag sits in IFD0, which is searched first; the oracle lists only the Exif directory's.
    {"exiv2-exiv2-bug479.jpg", "2006:05:27 12:37:03"},
};

TEST(CaptureTime, MatchesTheIndependentReaderOnEveryRealPicture) {
  std::ifstream oracle(std::string(TV_TESTDATA_DIR) + "/camera/oracle.jsonl");
  ASSERT_TRUE(oracle.good());
  int compared = 0;
  int withTime = 0;
  int files = 0;
  for (std::string line; std::getline(oracle, line);) {
    const std::string file = OracleField(line, "file");
    if (file.empty()) {
      continue;
    }
    ++files;
    std::string text = OracleField(line, "datetime_original");
    for (const auto& known : kKnownDifferences) {
      if (file == known.file) {
        text = known.expected;
      }
    }
    const auto got = CaptureFields(std::string(TV_TESTDATA_DIR) + "/camera/" + file);
    // Broken files only show that reading them ends without harm; their values are unknown.
    const bool broken = line.find("\"jpeg_structure_errors\": []") == std::string::npos ||
                        OracleField(line, "exiftool_error") != "" || OracleField(line, "exif_parsed_from") != "jpeg";
    if (broken) {
      continue;
    }
    ++compared;
    Fields expected{};
    const bool valid = std::sscanf(text.c_str(), "%d:%d:%d %d:%d:%d", &expected.year, &expected.month, &expected.day,
                                   &expected.hour, &expected.minute, &expected.second) == 6 &&
                       expected.year >= 100 && expected.month >= 1 && expected.month <= 12 && expected.day >= 1 &&
                       expected.day <= 31 && expected.hour <= 23 && expected.minute <= 59 && expected.second <= 59;
    EXPECT_EQ(got.has_value(), valid) << file << " oracle \"" << text << "\"";
    if (!valid || !got.has_value()) {
      continue;
    }
    ++withTime;
    EXPECT_EQ(got->year, expected.year) << file;
    EXPECT_EQ(got->month, expected.month) << file;
    EXPECT_EQ(got->day, expected.day) << file;
    EXPECT_EQ(got->hour, expected.hour) << file;
    EXPECT_EQ(got->minute, expected.minute) << file;
    EXPECT_EQ(got->second, expected.second) << file;
  }
  EXPECT_EQ(files, 102);
  EXPECT_GE(compared, 80);
  EXPECT_GE(withTime, 50);
}

}  // namespace
