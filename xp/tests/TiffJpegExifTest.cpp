#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpTiffTagManager.h"

using tifftest::ExifPayload;
using tifftest::Jpeg;
using tifftest::Segment;
using tifftest::TiffBuilder;

namespace {

std::vector<std::uint8_t> SmallTiff() {
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({b.Short(0x0112, 8)}));
  return b.Bytes();
}

const std::vector<std::uint8_t> kJfif = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};

XpStatus Locate(const std::vector<std::uint8_t>& bytes, std::int64_t* position = nullptr, std::int64_t start = 0) {
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  const XpStatus st = XpJpegExif::LocateExif(file, start);
  if (position != nullptr) {
    *position = file.GetPosition();
  }
  return st;
}

}  // namespace

TEST(JpegExifLocation, StandsOnTheTiffHeaderOfTheExifSegment) {
  const auto jpeg = Jpeg({Segment(0xE1, ExifPayload(SmallTiff()))});
  std::int64_t pos = 0;
  EXPECT_EQ(Locate(jpeg, &pos), XpStatus::Ok);
  EXPECT_EQ(pos, 2 + 4 + 6);
}

TEST(JpegExifLocation, SkipsAJfifSegmentAndOtherApp1SegmentsBeforeIt) {
  const std::vector<std::uint8_t> xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0, '<', 'x', '/', '>'};
  const auto jpeg =
      Jpeg({Segment(0xE0, kJfif), Segment(0xE1, xmp), Segment(0xE2, {1, 2}), Segment(0xE1, ExifPayload(SmallTiff()))});
  std::int64_t pos = 0;
  EXPECT_EQ(Locate(jpeg, &pos), XpStatus::Ok);
  EXPECT_EQ(pos, static_cast<std::int64_t>(2 + (4 + kJfif.size()) + (4 + xmp.size()) + (4 + 2) + 4 + 6));
}

TEST(JpegExifLocation, SkipsACommentBeforeTheExifSegment) {
  const auto jpeg = Jpeg({Segment(0xFE, {'h', 'i'}), Segment(0xE1, ExifPayload(SmallTiff()))});
  EXPECT_EQ(Locate(jpeg), XpStatus::Ok);
}

TEST(JpegExifLocation, StartsAtTheGivenPosition) {
  auto bytes = std::vector<std::uint8_t>{9, 9, 9};
  const auto jpeg = Jpeg({Segment(0xE1, ExifPayload(SmallTiff()))});
  bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
  std::int64_t pos = 0;
  EXPECT_EQ(Locate(bytes, &pos, 3), XpStatus::Ok);
  EXPECT_EQ(pos, 3 + 2 + 4 + 6);
}

TEST(JpegExifLocation, AnswersNoExifWhenATableComesFirst) {
  auto jpeg = Jpeg({Segment(0xE0, kJfif)});
  EXPECT_EQ(Locate(jpeg), XpStatus::NoExif);
  // DQT before the Exif segment.
  std::vector<std::uint8_t> late = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x00};
  const auto exif = Segment(0xE1, ExifPayload(SmallTiff()));
  late.insert(late.end(), exif.begin(), exif.end());
  EXPECT_EQ(Locate(late), XpStatus::NoExif);
}

TEST(JpegExifLocation, RefusesStreamsThatAreNotJpeg) {
  EXPECT_EQ(Locate({}), XpStatus::JpegDecodeFailed);
  EXPECT_EQ(Locate({0xFF}), XpStatus::JpegDecodeFailed);
  EXPECT_EQ(Locate({0x89, 'P', 'N', 'G'}), XpStatus::JpegDecodeFailed);
  EXPECT_EQ(Locate({0xFF, 0xD8, 0x00, 0xE1}), XpStatus::JpegDecodeFailed);
  // A segment length below 2 and an APPn run cut by the end of the stream.
  EXPECT_EQ(Locate({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xDB}), XpStatus::JpegDecodeFailed);
  EXPECT_EQ(Locate({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x00}), XpStatus::JpegDecodeFailed);
}

TEST(JpegExifLocation, ThePreCheckEndsAtTheFirstMarkerThatIsNotApplicationData) {
  const auto jpeg = Jpeg({Segment(0xE0, kJfif), Segment(0xED, {1, 2, 3})});
  XpMemoryFile file{std::span<const std::uint8_t>(jpeg)};
  EXPECT_EQ(XpJpegExif::CheckJpegStream(file, 0), XpStatus::Ok);
}

TEST(JpegExifLocation, AnExifSegmentTooShortForItsIdentifierIsPassedOver) {
  std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x06, 'E', 'x', 'i', 'f'};
  const auto exif = Segment(0xE1, ExifPayload(SmallTiff()));
  jpeg.insert(jpeg.end(), exif.begin(), exif.end());
  jpeg.insert(jpeg.end(), {0xFF, 0xDB});
  EXPECT_EQ(Locate(jpeg), XpStatus::Ok);
}

TEST(JpegExifPayload, RecognisesSavedExifSegments) {
  const auto payload = ExifPayload(SmallTiff());
  EXPECT_TRUE(XpJpegExif::IsExifPayload(payload));
  EXPECT_EQ(XpJpegExif::TiffDataOfExifPayload(payload).size(), SmallTiff().size());
  const std::vector<std::uint8_t> other = {'E', 'x', 'i', 'f', 'X', 0};
  EXPECT_FALSE(XpJpegExif::IsExifPayload(other));
  EXPECT_TRUE(XpJpegExif::TiffDataOfExifPayload(std::vector<std::uint8_t>{'E', 'x'}).empty());
}

TEST(JpegTagTree, ReadsTheTreeFromAStream) {
  const auto jpeg = Jpeg({Segment(0xE0, kJfif), Segment(0xE1, ExifPayload(SmallTiff()))});
  XpMemoryFile file{std::span<const std::uint8_t>(jpeg)};
  TagTreePtr tree;
  ASSERT_EQ(XpJpegExif::ReadTagTree(file, &tree), XpStatus::Ok);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->GetIFD(0)->FindShort(0x0112), 8);
  TagTreePtr holder = tree;
  tree.reset();
  EXPECT_EQ(holder->GetIFD(0)->FindShort(0x0112), 8);  // alive while any holder keeps it
}

TEST(JpegTagTree, AnUnparsableTreeGivesDecodeFailedAndNoTree) {
  const std::vector<std::uint8_t> bad = {'X', 'X', 42, 0, 8, 0, 0, 0, 0, 0};
  const auto jpeg = Jpeg({Segment(0xE1, ExifPayload(bad))});
  XpMemoryFile file{std::span<const std::uint8_t>(jpeg)};
  TagTreePtr tree = std::make_shared<XpTiffTagManager>();
  EXPECT_EQ(XpJpegExif::ReadTagTree(file, &tree), XpStatus::JpegDecodeFailed);
  EXPECT_EQ(tree, nullptr);
}

TEST(JpegTagTree, AFileThatCannotBeOpenedGivesTheOpenStatus) {
  TagTreePtr tree;
  EXPECT_EQ(XpJpegExif::ReadTagTree(std::string("no-such-folder-here/none.jpg"), &tree), XpStatus::PathNotFound);
  EXPECT_EQ(tree, nullptr);
}

TEST(JpegTagTree, ReadsTheTreeFromAFile) {
  const auto path = std::filesystem::temp_directory_path() / ("tv_exif_" + std::to_string(::getpid()) + ".jpg");
  const auto jpeg = Jpeg({Segment(0xE1, ExifPayload(SmallTiff()))});
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  }
  TagTreePtr tree;
  EXPECT_EQ(XpJpegExif::ReadTagTree(path.string(), &tree), XpStatus::Ok);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->GetIFD(0)->FindShort(0x0112), 8);
  std::filesystem::remove(path);
}
