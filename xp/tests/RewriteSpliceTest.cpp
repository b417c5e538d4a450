#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpJpegSegments.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::MakeSegment;
using rewrite_test::Segment;
using rewrite_test::TempDir;

std::string SegmentsData(const std::string& name) { return std::string(TV_TESTDATA_DIR) + "/segments/" + name; }

XpExifRewrite::Hooks FixedDate() { return {.dateTime = "2024:06:01 12:34:56", .beforeCommit = {}}; }

XpGPSRecord Position(std::uint32_t latSeconds) {
  return rewrite_test::PositionRecord(u'S', {12, 30, latSeconds}, u'W', {77, 2, 1500, 100});
}

Segment ExifSegment(const char* make) {
  XpTiffTagManager tree;
  EXPECT_TRUE(tree.Create());
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  EXPECT_EQ(ifd0->SetAscii(kTagMake, make), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetShort(kTagOrientation, 1), XpStatus::Ok);
  XpMemoryFile block;
  EXPECT_EQ(block.WriteAll("Exif\0\0", 6), XpStatus::Ok);
  XpStatus st = XpStatus::Ok;
  EXPECT_GT(tree.Store(block, &st), 0U);
  return {0xE1, block.TakeBytes()};
}

enum class Coding { Baseline, Progressive, Arithmetic, RestartsAndOptimisedTables, ProgressiveArithmetic };

/// A colourful photo in the given coding, with `segments` after SOI.
Bytes MakeCoded(Coding coding, unsigned width, unsigned height, const std::vector<Segment>& segments) {
  XpMemoryFile out;
  const XpStatus st = JpegRun(XpStatus::JpegEncodeFailed, [&]() {
    JpegCompressor enc;
    enc.SetDestination(out);
    enc->image_width = width;
    enc->image_height = height;
    enc->input_components = 3;
    enc->in_color_space = JCS_RGB;
    jpeg_set_defaults(enc.Get());
    jpeg_set_quality(enc.Get(), 90, TRUE);
    enc->write_JFIF_header = FALSE;
    if (coding == Coding::Progressive || coding == Coding::ProgressiveArithmetic) {
      jpeg_simple_progression(enc.Get());
    }
    if (coding == Coding::Arithmetic || coding == Coding::ProgressiveArithmetic) {
      enc->arith_code = TRUE;
    }
    if (coding == Coding::RestartsAndOptimisedTables) {
      enc->restart_interval = 3;
      enc->optimize_coding = TRUE;
    }
    jpeg_start_compress(enc.Get(), TRUE);
    for (const Segment& seg : segments) {
      jpeg_write_marker(enc.Get(), seg.marker, seg.payload.data(), static_cast<unsigned>(seg.payload.size()));
    }
    Bytes row(std::size_t{width} * 3);
    while (enc->next_scanline < height) {
      const unsigned y = enc->next_scanline;
      for (unsigned x = 0; x < width; ++x) {
        for (unsigned c = 0; c < 3; ++c) {
          row[x * 3 + c] = static_cast<std::uint8_t>((x * (5 + c) + y * (9 - c) + ((x * y) >> 4)) & 0xFF);
        }
      }
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(enc.Get(), rows, 1);
    }
    jpeg_finish_compress(enc.Get());
    return XpStatus::Ok;
  });
  return st == XpStatus::Ok ? out.TakeBytes() : Bytes{};
}

XpJpegSegments::Layout LayoutOf(const Bytes& file, XpStatus expected = XpStatus::Ok) {
  XpMemoryFile stream{std::span<const std::uint8_t>(file)};
  XpJpegSegments::Layout layout;
  EXPECT_EQ(XpJpegSegments::Walk(stream, 0, &layout), expected);
  return layout;
}

/// The file from its first table or frame segment on.
Bytes TailOf(const Bytes& file) {
  const auto layout = LayoutOf(file);
  if (layout.tailStart < 0) {
    return {};
  }
  return Bytes(file.begin() + layout.tailStart, file.end());
}

std::uint8_t FrameMarkerOf(const Bytes& file) {
  const auto layout = LayoutOf(file);
  return layout.framePosition < 0 ? 0 : file[static_cast<std::size_t>(layout.framePosition) + 1];
}

struct CodingCase {
  Coding coding;
  std::uint8_t frameMarker;
  const char* name;
};

class RewriteSpliceCoding : public ::testing::TestWithParam<CodingCase> {};

TEST_P(RewriteSpliceCoding, ImageDataStaysTheSourcesBytes) {
  const CodingCase& param = GetParam();
  TempDir dir;
  const Bytes source =
      MakeCoded(param.coding, 120, 88, {ExifSegment("Camera"), MakeSegment(0xFE, "before the tables")});
  ASSERT_FALSE(source.empty());
  ASSERT_EQ(FrameMarkerOf(source), param.frameMarker);
  const std::string path = dir.File("photo.jpg");
  rewrite_test::WriteBytes(path, source);

  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(4321), true, FixedDate()), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);
  // Tables, frame, every scan: the source's bytes. The coding is the source's.
  EXPECT_EQ(TailOf(after), TailOf(source));
  EXPECT_EQ(FrameMarkerOf(after), param.frameMarker);
  // The new Exif block comes first, the comment after it.
  const auto segments = rewrite_test::AppAndComSegments(after);
  ASSERT_EQ(segments.size(), 2U);
  EXPECT_TRUE(rewrite_test::StartsWith(segments[0].payload, std::string_view("Exif\0\0", 6)));
  EXPECT_EQ(segments[1], MakeSegment(0xFE, "before the tables"));
  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators[2], 4321U);
  EXPECT_EQ(read.latitudeRef.letter, u'S');
  const Bytes pixels = rewrite_test::DecodePixels(after);
  EXPECT_FALSE(pixels.empty());
  EXPECT_EQ(pixels, rewrite_test::DecodePixels(source));
}

INSTANTIATE_TEST_SUITE_P(Codings, RewriteSpliceCoding,
                         ::testing::Values(CodingCase{Coding::Baseline, 0xC0, "Baseline"},
                                           CodingCase{Coding::Progressive, 0xC2, "Progressive"},
                                           CodingCase{Coding::Arithmetic, 0xC9, "Arithmetic"},
                                           CodingCase{Coding::RestartsAndOptimisedTables, 0xC0,
                                                      "RestartsAndOptimisedTables"},
                                           CodingCase{Coding::ProgressiveArithmetic, 0xCA, "ProgressiveArithmetic"}),
                         [](const ::testing::TestParamInfo<CodingCase>& info) { return std::string(info.param.name); });

TEST(RewriteSplice, CutOffPhotoStaysCutOff) {
  TempDir dir;
  const Bytes whole = MakeCoded(Coding::Progressive, 160, 120, {ExifSegment("Camera")});
  const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() * 2 / 3));
  const std::string path = dir.File("cut.jpg");
  rewrite_test::WriteBytes(path, cut);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(1), true, FixedDate()), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);
  // No scan data is made up and no EOI added: the missing part stays missing.
  EXPECT_EQ(TailOf(after), TailOf(cut));
  EXPECT_FALSE(after[after.size() - 2] == 0xFF && after.back() == 0xD9);
}

TEST(RewriteSplice, DamageToTheCopiedImageIsCaughtBeforeTheRename) {
  struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
  };
  const Damage damages[] = {
      {"scan byte changed", [](Bytes& b) { b[b.size() - 40] ^= 0x10; }},
      {"byte added behind the image", [](Bytes& b) { b.push_back(0); }},
      {"last byte lost", [](Bytes& b) { b.pop_back(); }},
  };
  for (const Damage& damage : damages) {
    TempDir dir;
    const std::string path = dir.File("photo.jpg");
    const Bytes before = MakeCoded(Coding::Progressive, 96, 64, {ExifSegment("Camera")});
    rewrite_test::WriteBytes(path, before);
    XpExifRewrite::Hooks hooks = FixedDate();
    hooks.beforeCommit = [&](const std::string& temp) {
      Bytes bytes = rewrite_test::ReadBytes(temp);
      damage.apply(bytes);
      rewrite_test::WriteBytes(temp, bytes);
      return XpStatus::Ok;
    };
    EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(2), true, hooks), XpStatus::JpegDecodeFailed) << damage.what;
    EXPECT_EQ(rewrite_test::ReadBytes(path), before) << damage.what;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"photo.jpg"}) << damage.what;
  }
}

// A second Exif segment inserted right behind the first table segment.
Bytes WithExifBehindTheTables(const Bytes& file, const Segment& exif) {
  const auto layout = LayoutOf(file);
  const auto& table = layout.segments[layout.leadingCount];
  Bytes out(file.begin(), file.begin() + table.position + table.size);
  const auto length = static_cast<std::uint16_t>(exif.payload.size() + 2);
  out.insert(out.end(), {0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
  out.insert(out.end(), exif.payload.begin(), exif.payload.end());
  out.insert(out.end(), file.begin() + table.position + table.size, file.end());
  return out;
}

TEST(RewriteSplice, PhotoWithTwoExifSegmentsIsLeftAlone) {
  const Bytes plain = MakeCoded(Coding::Baseline, 64, 48, {ExifSegment("First"), ExifSegment("Second")});
  const Bytes behindTables =
      WithExifBehindTheTables(MakeCoded(Coding::Baseline, 64, 48, {ExifSegment("First")}), ExifSegment("Second"));
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"two-exif-segments.jpg", rewrite_test::ReadBytes(SegmentsData("two-exif-segments.jpg"))},
      {"both in the leading run", plain},
      {"the second behind the tables", behindTables},
  };
  for (const auto& [what, bytes] : cases) {
    ASSERT_EQ(LayoutOf(bytes).exifCount, 2U) << what;
    TempDir dir;
    const std::string path = dir.File("photo.jpg");
    rewrite_test::WriteBytes(path, bytes);
    EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(3), true, FixedDate()), XpStatus::ExifDamaged) << what;
    EXPECT_EQ(XpExifRewrite::RemoveGPS(path, FixedDate()), XpStatus::ExifDamaged) << what;
    EXPECT_EQ(rewrite_test::ReadBytes(path), bytes) << what;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"photo.jpg"}) << what;
  }
}

TEST(RewriteSplice, SpliceRefusesToAddASecondExifBlock) {
  const Bytes behindTables = WithExifBehindTheTables(MakeCoded(Coding::Baseline, 32, 32, {}), ExifSegment("Only"));
  XpMemoryFile in{std::span<const std::uint8_t>(behindTables)};
  XpMemoryFile out;
  const XpMemoryFile block{ExifSegment("New").payload};
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(block, in, out), XpStatus::ExifDamaged);
  // Without a new block nothing is replaced, and the copy is the source.
  XpMemoryFile again{std::span<const std::uint8_t>(behindTables)};
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(XpMemoryFile{}, again, out), XpStatus::Ok);
  EXPECT_EQ(out.TakeBytes(), behindTables);
}

TEST(RewriteSplice, SegmentFloodsAreRefusedEverywhere) {
  for (const char* name : {"app1-65535-segments.jpg", "com-65535-segments.jpg"}) {
    TempDir dir;
    const Bytes bytes = rewrite_test::ReadBytes(SegmentsData(name));
    ASSERT_GT(bytes.size(), 300000U) << name;
    const std::string path = dir.File("flood.jpg");
    rewrite_test::WriteBytes(path, bytes);

    TagTreePtr tree;
    EXPECT_EQ(XpJpegExif::ReadTagTree(path, &tree), XpStatus::TooManySegments) << name;
    XpFile file(path);
    ASSERT_EQ(file.Open(XpAbstractFile::kRead), XpStatus::Ok);
    XpImageIoJpeg reader;
    EXPECT_EQ(reader.Read(file, 0, 8, nullptr, false), nullptr) << name;
    EXPECT_EQ(reader.GetStatus(), XpStatus::TooManySegments) << name;
    EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(4), true, FixedDate()), XpStatus::TooManySegments) << name;
    EXPECT_EQ(XpExifRewrite::RemoveGPS(path, FixedDate()), XpStatus::TooManySegments) << name;
    EXPECT_EQ(rewrite_test::ReadBytes(path), bytes) << name;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"flood.jpg"}) << name;
  }
}

// `count` empty comment segments right behind SOI.
Bytes WithComments(const Bytes& file, std::size_t count) {
  Bytes out(file.begin(), file.begin() + 2);
  for (std::size_t i = 0; i < count; ++i) {
    out.insert(out.end(), {0xFF, 0xFE, 0x00, 0x02});
  }
  out.insert(out.end(), file.begin() + 2, file.end());
  return out;
}

TEST(JpegSegments, UpToTheLimitASegmentRunIsAccepted) {
  const Bytes photo = MakeCoded(Coding::Baseline, 32, 32, {ExifSegment("Camera")});
  const std::size_t own = LayoutOf(photo).segments.size();
  const Bytes atLimit = WithComments(photo, XpJpegSegments::kMaxHeaderSegments - own);
  const Bytes overLimit = WithComments(photo, XpJpegSegments::kMaxHeaderSegments - own + 1);
  EXPECT_EQ(LayoutOf(atLimit).segments.size(), XpJpegSegments::kMaxHeaderSegments);
  (void)LayoutOf(overLimit, XpStatus::TooManySegments);

  XpMemoryFile at{std::span<const std::uint8_t>(atLimit)};
  EXPECT_EQ(XpJpegExif::CheckJpegStream(at, 0), XpStatus::Ok);
  XpMemoryFile over{std::span<const std::uint8_t>(overLimit)};
  EXPECT_EQ(XpJpegExif::CheckJpegStream(over, 0), XpStatus::TooManySegments);

  TempDir dir;
  const std::string path = dir.File("comments.jpg");
  rewrite_test::WriteBytes(path, atLimit);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(5), true, FixedDate()), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);
  EXPECT_EQ(TailOf(after), TailOf(atLimit));
  EXPECT_EQ(rewrite_test::AppAndComSegments(after).size(), rewrite_test::AppAndComSegments(atLimit).size());
}

TEST(JpegSegments, WalkSeesEverySegmentOnceInOrder) {
  Bytes photo = MakeCoded(Coding::Baseline, 32, 32, {MakeSegment(0xE0, "JFIF", 14), ExifSegment("Camera")});
  // Fill bytes before the first table segment.
  const std::size_t tables = static_cast<std::size_t>(LayoutOf(photo).tailStart);
  photo.insert(photo.begin() + static_cast<std::ptrdiff_t>(tables), {0xFF, 0xFF});
  const auto layout = LayoutOf(photo);
  ASSERT_GE(layout.segments.size(), 5U);
  EXPECT_EQ(layout.leadingCount, 2U);
  EXPECT_EQ(layout.segments[0].marker, 0xE0);
  EXPECT_EQ(layout.segments[0].position, 2);
  EXPECT_EQ(layout.segments[0].size, 18U);
  EXPECT_TRUE(layout.segments[1].exif);
  EXPECT_EQ(layout.exifCount, 1U);
  EXPECT_EQ(layout.tailStart, static_cast<std::int64_t>(tables) + 2);
  EXPECT_EQ(photo[static_cast<std::size_t>(layout.tailStart) + 1], 0xDB);
  EXPECT_EQ(photo[static_cast<std::size_t>(layout.scanStart) + 1], 0xDA);
  EXPECT_EQ(photo[static_cast<std::size_t>(layout.framePosition) + 1], 0xC0);
  for (std::size_t i = 1; i < layout.segments.size(); ++i) {
    EXPECT_GE(layout.segments[i].position, layout.segments[i - 1].position + layout.segments[i - 1].size);
  }
}

TEST(JpegSegments, BrokenHeadersAreRefused) {
  const Bytes photo = MakeCoded(Coding::Baseline, 32, 32, {ExifSegment("Camera")});
  const auto layout = LayoutOf(photo);
  const Bytes noSoi(photo.begin() + 2, photo.end());
  (void)LayoutOf(noSoi, XpStatus::JpegDecodeFailed);
  const Bytes cutInTables(photo.begin(), photo.begin() + layout.tailStart + 10);
  (void)LayoutOf(cutInTables, XpStatus::JpegDecodeFailed);
  Bytes zeroLength = photo;
  zeroLength[static_cast<std::size_t>(layout.tailStart) + 2] = 0;
  zeroLength[static_cast<std::size_t>(layout.tailStart) + 3] = 1;
  (void)LayoutOf(zeroLength, XpStatus::JpegDecodeFailed);
  // The reader's pre-check leaves damage behind the APPn run to the decoder.
  XpMemoryFile cut{std::span<const std::uint8_t>(cutInTables)};
  EXPECT_EQ(XpJpegExif::CheckJpegStream(cut, 0), XpStatus::Ok);
  // The rewrite does not: it needs the frame.
  XpMemoryFile cutAgain{std::span<const std::uint8_t>(cutInTables)};
  XpMemoryFile out;
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(XpMemoryFile{ExifSegment("New").payload}, cutAgain, out),
            XpStatus::JpegDecodeFailed);
}

TEST(JpegSegments, ImageEndIsFoundBehindEveryScan) {
  for (const Coding coding : {Coding::Baseline, Coding::Progressive, Coding::RestartsAndOptimisedTables}) {
    const Bytes image = MakeCoded(coding, 80, 64, {ExifSegment("Camera")});
    Bytes withTrailer = image;
    const Bytes trailer = {0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0x12};
    withTrailer.insert(withTrailer.end(), trailer.begin(), trailer.end());
    XpMemoryFile stream{std::span<const std::uint8_t>(withTrailer)};
    XpJpegSegments::Layout layout;
    ASSERT_EQ(XpJpegSegments::Walk(stream, 0, &layout), XpStatus::Ok);
    std::int64_t end = 0;
    ASSERT_EQ(XpJpegSegments::FindImageEnd(stream, layout, &end), XpStatus::Ok);
    EXPECT_EQ(end, static_cast<std::int64_t>(image.size()));

    const Bytes cut(image.begin(), image.end() - 2);
    XpMemoryFile cutStream{std::span<const std::uint8_t>(cut)};
    ASSERT_EQ(XpJpegSegments::Walk(cutStream, 0, &layout), XpStatus::Ok);
    ASSERT_EQ(XpJpegSegments::FindImageEnd(cutStream, layout, &end), XpStatus::Ok);
    EXPECT_EQ(end, -1);
  }
}

}  // namespace
