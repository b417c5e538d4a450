#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/tests/JpegTestSupport.h"

namespace {

using jpegtest::JpegSpec;
using jpegtest::MakeJpeg;

constexpr int kApp1 = 0xE1;

std::unique_ptr<XpPixmapBGR24> ReadBytes(XpImageIoJpeg& io, const std::vector<std::uint8_t>& bytes, int reduction = 1,
                                         XpImageProgress* progress = nullptr, bool convert = false) {
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  return io.Read(file, 0, reduction, progress, convert);
}

std::array<int, 3> BgrAt(const XpPixmapBGR24& p, int x, int y) {
  const std::uint8_t* px = p.Row(y) + static_cast<std::size_t>(x) * 3;
  return {px[0], px[1], px[2]};
}

// Pixels with one distinct colour per quadrant, so turns are easy to see.
std::array<std::uint8_t, 3> Quadrants(int x, int y, int w, int h) {
  const bool right = x >= w / 2;
  const bool bottom = y >= h / 2;
  if (!right && !bottom) {
    return {250, 10, 10};  // red top-left
  }
  if (right && !bottom) {
    return {10, 250, 10};  // green top-right
  }
  if (!right) {
    return {10, 10, 250};  // blue bottom-left
  }
  return {250, 250, 250};  // white bottom-right
}

bool Near(std::array<int, 3> bgr, std::array<int, 3> expected) {
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::abs(bgr[i] - expected[i]) > 12) {
      return false;
    }
  }
  return true;
}

constexpr std::array<int, 3> kRed = {10, 10, 250};  // as B, G, R
constexpr std::array<int, 3> kGreen = {10, 250, 10};
constexpr std::array<int, 3> kBlue = {250, 10, 10};
constexpr std::array<int, 3> kWhite = {250, 250, 250};

std::vector<std::uint8_t> QuadrantJpeg(int w, int h, std::uint16_t orientation) {
  JpegSpec params;
  params.width = w;
  params.height = h;
  params.pixel = [w, h](int x, int y) { return Quadrants(x, y, w, h); };
  if (orientation != 0) {
    params.markers.push_back({kApp1, jpegtest::ExifWithOrientation(orientation)});
  }
  return MakeJpeg(params);
}

TEST(JpegRead, DecodesIntoBlueGreenRedOrder) {
  XpImageIoJpeg io;
  const auto p = ReadBytes(io, QuadrantJpeg(64, 48, 0));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(io.GetStatus(), XpStatus::Ok);
  EXPECT_EQ(p->Width(), 64);
  EXPECT_EQ(p->Height(), 48);
  EXPECT_TRUE(Near(BgrAt(*p, 5, 5), kRed));
  EXPECT_TRUE(Near(BgrAt(*p, 60, 5), kGreen));
  EXPECT_TRUE(Near(BgrAt(*p, 5, 45), kBlue));
  EXPECT_EQ(io.GetOrientation(), 0);
  EXPECT_EQ(io.GetImageSize(), (XpPixmapOps::Size{0, 0}));
}

struct TurnCase {
  std::uint16_t orientation;
  int width, height;  // of the result
  std::array<int, 3> topLeft, topRight, bottomLeft;
};

class JpegReadTurn : public ::testing::TestWithParam<TurnCase> {};

TEST_P(JpegReadTurn, TurnsThePictureUpright) {
  const TurnCase& c = GetParam();
  for (const bool convert : {false, true}) {
    XpImageIoJpeg io;
    const auto p = ReadBytes(io, QuadrantJpeg(96, 64, c.orientation), 1, nullptr, convert);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(io.GetOrientation(), c.orientation);
    EXPECT_EQ(io.GetImageSize(), (XpPixmapOps::Size{96, 64}));
    ASSERT_EQ(p->Width(), c.width);
    ASSERT_EQ(p->Height(), c.height);
    EXPECT_TRUE(Near(BgrAt(*p, 3, 3), c.topLeft));
    EXPECT_TRUE(Near(BgrAt(*p, c.width - 4, 3), c.topRight));
    EXPECT_TRUE(Near(BgrAt(*p, 3, c.height - 4), c.bottomLeft));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Orientations, JpegReadTurn,
    ::testing::Values(TurnCase{1, 96, 64, kRed, kGreen, kBlue}, TurnCase{3, 96, 64, kWhite, kBlue, kGreen},
                      TurnCase{6, 64, 96, kBlue, kRed, kWhite}, TurnCase{8, 64, 96, kGreen, kWhite, kRed},
                      // Mirrored orientations are left as stored.
                      TurnCase{2, 96, 64, kRed, kGreen, kBlue}, TurnCase{5, 96, 64, kRed, kGreen, kBlue}));

TEST(JpegRead, TurnsALargePortraitPictureWhateverTheColourFlag) {
  // 3000 x 2000 stored with orientation 6 reads as 2000 x 3000.
  JpegSpec params;
  params.width = 3000;
  params.height = 2000;
  params.quality = 50;
  params.markers.push_back({kApp1, jpegtest::ExifWithOrientation(6, 0xFFFF)});
  const auto bytes = MakeJpeg(params);
  for (const bool convert : {false, true}) {
    XpImageIoJpeg io;
    const auto p = ReadBytes(io, bytes, 1, nullptr, convert);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Width(), 2000);
    EXPECT_EQ(p->Height(), 3000);
    EXPECT_TRUE(io.IsUncalibrated());
  }
}

struct ReductionCase {
  int reduction;
  int width, height;
};

class JpegReadReduction : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(JpegReadReduction, GivesTheCeilingOfTheReducedSize) {
  JpegSpec params;
  params.width = 1001;
  params.height = 750;
  const auto bytes = MakeJpeg(params);
  XpImageIoJpeg io;
  const auto p = ReadBytes(io, bytes, GetParam().reduction);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Width(), GetParam().width);
  EXPECT_EQ(p->Height(), GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Factors, JpegReadReduction,
                         ::testing::Values(ReductionCase{1, 1001, 750}, ReductionCase{2, 501, 375},
                                           ReductionCase{4, 251, 188}, ReductionCase{8, 126, 94}));

TEST(JpegRead, RefusesOtherReductions) {
  const auto bytes = QuadrantJpeg(32, 32, 0);
  for (const int bad : {0, 3, 16, -2}) {
    XpImageIoJpeg io;
    EXPECT_EQ(ReadBytes(io, bytes, bad), nullptr);
    EXPECT_EQ(io.GetStatus(), XpStatus::BadReduction) << bad;
  }
}

TEST(JpegRead, ConvertsUncalibratedPicturesOnlyWhenAsked) {
  JpegSpec params;
  params.pixel = [](int, int) { return std::array<std::uint8_t, 3>{200, 60, 60}; };
  params.markers.push_back({kApp1, jpegtest::ExifWithOrientation(1, 0xFFFF, /*bigEndian=*/true)});
  const auto bytes = MakeJpeg(params);
  XpImageIoJpeg io;
  const auto plain = ReadBytes(io, bytes, 1, nullptr, false);
  const auto converted = ReadBytes(io, bytes, 1, nullptr, true);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(converted, nullptr);
  EXPECT_TRUE(io.IsUncalibrated());
  // Adobe RGB red is more saturated than sRGB red can show: red stays, green drops.
  EXPECT_GT(BgrAt(*converted, 10, 10)[2], BgrAt(*plain, 10, 10)[2]);
  auto copy = plain->CloneSame();
  XpPixmapOps::AdobeToSrgb(*copy);
  EXPECT_EQ(BgrAt(*copy, 10, 10), BgrAt(*converted, 10, 10));

  JpegSpec srgb = params;
  srgb.markers = {{kApp1, jpegtest::ExifWithOrientation(1, 1)}};
  const auto calibrated = ReadBytes(io, MakeJpeg(srgb), 1, nullptr, true);
  EXPECT_FALSE(io.IsUncalibrated());
  EXPECT_EQ(BgrAt(*calibrated, 10, 10), BgrAt(*plain, 10, 10));
}

TEST(JpegRead, DecodesGreyPicturesAsThreeEqualComponents) {
  JpegSpec params;
  params.grey = true;
  XpImageIoJpeg io;
  const auto p = ReadBytes(io, MakeJpeg(params));
  ASSERT_NE(p, nullptr);
  const auto px = BgrAt(*p, 20, 20);
  EXPECT_EQ(px[0], px[1]);
  EXPECT_EQ(px[1], px[2]);
}

TEST(JpegRead, DecodesProgressiveFiles) {
  JpegSpec params;
  params.progressive = true;
  params.width = 77;
  params.height = 33;
  XpImageIoJpeg io;
  const auto p = ReadBytes(io, MakeJpeg(params));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Width(), 77);
}

TEST(JpegRead, DecodesATruncatedFileToFullSize) {
  JpegSpec params;
  params.width = 200;
  params.height = 160;
  auto bytes = MakeJpeg(params);
  bytes.resize(bytes.size() / 2);
  XpImageIoJpeg io;
  const auto p = ReadBytes(io, bytes);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(io.GetStatus(), XpStatus::Ok);
  EXPECT_EQ(p->Width(), 200);
  EXPECT_EQ(p->Height(), 160);
}

TEST(JpegRead, ReadsFromAStartPositionInsideTheStream) {
  const auto jpeg = QuadrantJpeg(40, 30, 6);
  std::vector<std::uint8_t> bytes(100 + jpeg.size(), 0x55);
  std::copy(jpeg.begin(), jpeg.end(), bytes.begin() + 100);
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  XpImageIoJpeg io;
  const auto p = io.Read(file, 100, 1, nullptr, false);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Width(), 30);
  EXPECT_EQ(io.Read(file, 0, 1, nullptr, false), nullptr);
  EXPECT_EQ(io.GetStatus(), XpStatus::JpegDecodeFailed);
}

class CountingProgress final : public XpImageProgress {
 public:
  explicit CountingProgress(int cancelAt = -1) : m_cancelAt(cancelAt) {}
  int OnProgress(int percent) override {
    calls.push_back(percent);
    return percent >= m_cancelAt && m_cancelAt >= 0 ? 1 : 0;
  }
  std::vector<int> calls;

 private:
  int m_cancelAt;
};

TEST(JpegRead, ReportsProgressEvery256RowsAndAtTheEnd) {
  JpegSpec params;
  params.width = 16;
  params.height = 600;
  const auto bytes = MakeJpeg(params);
  XpImageIoJpeg io;
  CountingProgress progress;
  ASSERT_NE(ReadBytes(io, bytes, 1, &progress), nullptr);
  EXPECT_EQ(progress.calls, (std::vector<int>{0, 42, 85, 100}));
}

TEST(JpegRead, StopsWhenCancelled) {
  JpegSpec params;
  params.width = 16;
  params.height = 600;
  const auto bytes = MakeJpeg(params);
  XpImageIoJpeg io;
  CountingProgress progress(40);
  EXPECT_EQ(ReadBytes(io, bytes, 1, &progress), nullptr);
  EXPECT_EQ(io.GetStatus(), XpStatus::Cancelled);
  EXPECT_EQ(progress.calls, (std::vector<int>{0, 42}));
  CountingProgress atEnd(100);
  EXPECT_EQ(ReadBytes(io, bytes, 1, &atEnd), nullptr);
  EXPECT_EQ(io.GetStatus(), XpStatus::Cancelled);
}

// Hostile input: every malformed stream gives a status and no pixmap.
struct HostileCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  XpStatus status;
};

std::vector<std::uint8_t> WithSize(int width, int height) {
  // A valid file whose frame header claims another size.
  auto bytes = QuadrantJpeg(16, 16, 0);
  for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 5] = static_cast<std::uint8_t>(height >> 8);
      bytes[i + 6] = static_cast<std::uint8_t>(height);
      bytes[i + 7] = static_cast<std::uint8_t>(width >> 8);
      bytes[i + 8] = static_cast<std::uint8_t>(width);
      break;
    }
  }
  return bytes;
}

std::vector<HostileCase> HostileCases() {
  std::vector<HostileCase> cases;
  cases.push_back({"empty", {}, XpStatus::JpegDecodeFailed});
  cases.push_back({"soi only", {0xFF, 0xD8}, XpStatus::JpegDecodeFailed});
  cases.push_back({"not a jpeg", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, XpStatus::JpegDecodeFailed});
  cases.push_back({"garbage after soi", {0xFF, 0xD8, 0x12, 0x34, 0x56, 0x78, 0x9A}, XpStatus::JpegDecodeFailed});
  auto noFrame = QuadrantJpeg(16, 16, 0);
  noFrame.resize(20);
  cases.push_back({"cut before the frame", noFrame, XpStatus::JpegDecodeFailed});
  cases.push_back({"zero width", WithSize(0, 16), XpStatus::JpegDecodeFailed});
  cases.push_back({"zero height", WithSize(16, 0), XpStatus::JpegDecodeFailed});
  cases.push_back({"huge", WithSize(65500, 65500), XpStatus::OutOfMemory});
  // Four components (CMYK) cannot become B, G, R.
  JpegSpec cmyk;
  auto cmykBytes = MakeJpeg(cmyk);
  for (std::size_t i = 0; i + 9 < cmykBytes.size(); ++i) {
    if (cmykBytes[i] == 0xFF && cmykBytes[i + 1] == 0xC0) {
      cmykBytes[i + 9] = 2;  // two components where three are described
      break;
    }
  }
  cases.push_back({"wrong component count", cmykBytes, XpStatus::JpegDecodeFailed});
  return cases;
}

TEST(JpegRead, RefusesHostileInputWithAStatus) {
  for (const HostileCase& c : HostileCases()) {
    XpImageIoJpeg io;
    EXPECT_EQ(ReadBytes(io, c.bytes), nullptr) << c.name;
    EXPECT_EQ(io.GetStatus(), c.status) << c.name;
  }
}

TEST(JpegRead, KeepsToThePixelBudget) {
  JpegSpec params;
  params.width = 300;
  params.height = 200;
  const auto bytes = MakeJpeg(params);
  XpImageIoJpeg io;
  io.SetLimits(300 * 200 - 1, 64L * 1024 * 1024);
  EXPECT_EQ(ReadBytes(io, bytes), nullptr);
  EXPECT_EQ(io.GetStatus(), XpStatus::OutOfMemory);
  io.SetLimits(300 * 200, 64L * 1024 * 1024);
  EXPECT_NE(ReadBytes(io, bytes), nullptr);
}

TEST(JpegReadInfo, GivesTheFrameSizeExchangedForTurnedPictures) {
  const auto bytes = QuadrantJpeg(96, 64, 6);
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  XpImageIoJpeg io;
  XpPixmapOps::Size size;
  ASSERT_EQ(io.ReadImageInfo(file, 0, &size, false), XpStatus::Ok);
  EXPECT_EQ(size, (XpPixmapOps::Size{64, 96}));
  ASSERT_EQ(io.ReadImageInfo(file, 0, &size, true), XpStatus::Ok);
  EXPECT_EQ(size, (XpPixmapOps::Size{96, 64}));
  const std::vector<std::uint8_t> junk{1, 2, 3};
  XpMemoryFile bad{std::span<const std::uint8_t>(junk)};
  EXPECT_EQ(io.ReadImageInfo(bad, 0, &size, true), XpStatus::JpegDecodeFailed);
}

std::vector<std::uint8_t> IccSegment(std::uint8_t sequence, std::uint8_t total, const std::vector<std::uint8_t>& data) {
  static constexpr char kName[] = "ICC_PROFILE";  // with its NUL, 12 bytes
  std::vector<std::uint8_t> payload(14 + data.size());
  std::copy(kName, kName + 12, payload.begin());
  payload[12] = sequence;
  payload[13] = total;
  std::copy(data.begin(), data.end(), payload.begin() + 14);
  return payload;
}

TEST(JpegReadIcc, ConcatenatesTheProfileSegmentsInFileOrder) {
  JpegSpec params;
  params.markers.push_back({0xE2, IccSegment(1, 2, {1, 2, 3})});
  params.markers.push_back({0xE2, {'O', 't', 'h', 'e', 'r'}});
  params.markers.push_back({0xE2, IccSegment(2, 2, {4, 5})});
  const auto bytes = MakeJpeg(params);
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  XpImageIoJpeg io;
  const auto profile = io.ReadIccProfile(file, 0);
  ASSERT_TRUE(profile.has_value());
  EXPECT_EQ(*profile, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));

  const auto plain = QuadrantJpeg(16, 16, 0);
  XpMemoryFile none{std::span<const std::uint8_t>(plain)};
  EXPECT_FALSE(io.ReadIccProfile(none, 0).has_value());
  EXPECT_EQ(io.GetStatus(), XpStatus::NoExif);
}

TEST(JpegReadIcc, ReadsTheRealMultiSegmentProfile) {
  XpFile file(std::string(TV_TESTDATA_DIR) + "/camera/mdx-Multiple_ICC_segments.jpg");
  ASSERT_EQ(file.Open(XpAbstractFile::kRead), XpStatus::Ok);
  XpImageIoJpeg io;
  const auto profile = io.ReadIccProfile(file, 0);
  ASSERT_TRUE(profile.has_value());
  ASSERT_GE(profile->size(), 128U);
  // An ICC profile begins with its own size, big-endian, and has "acsp" at 36.
  const std::uint32_t declared = (std::uint32_t{(*profile)[0]} << 24) | (std::uint32_t{(*profile)[1]} << 16) |
                                 (std::uint32_t{(*profile)[2]} << 8) | (*profile)[3];
  EXPECT_EQ(declared, profile->size());
  EXPECT_EQ(std::string(profile->begin() + 36, profile->begin() + 40), "acsp");
}

}  // namespace
