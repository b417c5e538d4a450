#include <gtest/gtest.h>

#include <limits>

#include "xp/image/XpPixmap.h"

namespace {

struct StrideCase {
  int width;
  std::size_t stride;
};

class PixmapStride : public ::testing::TestWithParam<StrideCase> {};

TEST_P(PixmapStride, PadsBgrRowsToFourBytes) {
  XpPixmapBGR24 pixmap;
  ASSERT_EQ(pixmap.Create(GetParam().width, 2), XpStatus::Ok);
  EXPECT_EQ(pixmap.Stride(), GetParam().stride);
  EXPECT_EQ(pixmap.Size(), GetParam().stride * 2);
  EXPECT_EQ(pixmap.Row(1) - pixmap.Row(0), static_cast<std::ptrdiff_t>(GetParam().stride));
}

INSTANTIATE_TEST_SUITE_P(Widths, PixmapStride,
                         ::testing::Values(StrideCase{1, 4}, StrideCase{2, 8}, StrideCase{3, 12}, StrideCase{4, 12},
                                           StrideCase{5, 16}, StrideCase{160, 480}, StrideCase{550, 1652}));

TEST(XpPixmap, DescribesTheBgr24Plane) {
  XpPixmapBGR24 pixmap;
  ASSERT_EQ(pixmap.Create(7, 3), XpStatus::Ok);
  EXPECT_EQ(pixmap.PlaneCount(), 1);
  EXPECT_EQ(pixmap.BitsPerPixel(0), 24);
  EXPECT_EQ(pixmap.BitsPerComponent(0), 8);
  EXPECT_EQ(pixmap.Components(0), 3);
  EXPECT_EQ(pixmap.PixelFormat(0), 7);
  EXPECT_EQ(pixmap.Plane(1), nullptr);
  EXPECT_EQ(pixmap.Plane(-1), nullptr);
  const XpBitmapHeader& header = pixmap.GetAllocator().Header();
  EXPECT_EQ(header.width, 7);
  EXPECT_EQ(header.height, -3);
  EXPECT_EQ(header.bitsPerPixel, 24);
  EXPECT_EQ(header.imageSize, 24U * 3);
  EXPECT_FALSE(pixmap.GetAllocator().HasHandle());
}

TEST(XpPixmap, DescribesTheBgra32Plane) {
  XpPixmapBGRA32 pixmap;
  ASSERT_EQ(pixmap.Create(5, 2), XpStatus::Ok);
  EXPECT_EQ(pixmap.BitsPerPixel(0), 32);
  EXPECT_EQ(pixmap.Components(0), 4);
  EXPECT_EQ(pixmap.PixelFormat(0), 15);
  EXPECT_EQ(pixmap.Stride(), 20U);
  EXPECT_TRUE(pixmap.GetAllocator().HasHandle());
}

TEST(XpPixmap, LaysOutThreePlanesForPlanarYCbCr) {
  XpPixmapYCbCrPlanar pixmap;
  ASSERT_EQ(pixmap.Create(5, 3), XpStatus::Ok);
  ASSERT_EQ(pixmap.PlaneCount(), 3);
  const XpPlaneBase* y = pixmap.Plane(0);
  const XpPlaneBase* cb = pixmap.Plane(1);
  const XpPlaneBase* cr = pixmap.Plane(2);
  ASSERT_NE(cr, nullptr);
  EXPECT_EQ(pixmap.Plane(3), nullptr);
  EXPECT_EQ(y->Width(), 5);
  EXPECT_EQ(y->Stride(), 5U);
  EXPECT_EQ(cb->Width(), 3);
  EXPECT_EQ(cb->Height(), 2);
  EXPECT_EQ(cb->Data(), y->Data() + 15);
  EXPECT_EQ(cr->Data(), cb->Data() + 6);
  EXPECT_EQ(pixmap.Size(), 15U + 6 + 6);
  EXPECT_EQ(y->BitsPerPixel(), 8);
}

TEST(XpPixmap, PacksYCbCrWithoutPadding) {
  XpPixmapYCbCr pixmap;
  ASSERT_EQ(pixmap.Create(5, 2), XpStatus::Ok);
  EXPECT_EQ(pixmap.Stride(), 15U);
  EXPECT_EQ(pixmap.Components(0), 3);
}

TEST(XpPixmap, IsEmptyAgainAfterRelease) {
  XpPixmapBGR24 pixmap;
  EXPECT_TRUE(pixmap.IsEmpty());
  ASSERT_EQ(pixmap.Create(4, 4), XpStatus::Ok);
  EXPECT_FALSE(pixmap.IsEmpty());
  pixmap.Release();
  EXPECT_TRUE(pixmap.IsEmpty());
  EXPECT_EQ(pixmap.Width(), 0);
  EXPECT_EQ(pixmap.Height(), 0);
  EXPECT_EQ(pixmap.Size(), 0U);
  EXPECT_EQ(pixmap.Plane(0), nullptr);
}

TEST(XpPixmap, RefusesSizesThatAreNotPositive) {
  XpPixmapBGR24 pixmap;
  EXPECT_EQ(pixmap.Create(0, 5), XpStatus::Failed);
  EXPECT_EQ(pixmap.Create(5, -1), XpStatus::Failed);
  EXPECT_TRUE(pixmap.IsEmpty());
}

TEST(XpPixmap, ReportsOutOfMemoryForImpossibleSizes) {
  XpPixmapBGR24 pixmap;
  ASSERT_EQ(pixmap.Create(2, 2), XpStatus::Ok);
  const int huge = std::numeric_limits<int>::max();
  EXPECT_EQ(pixmap.Create(huge, huge), XpStatus::OutOfMemory);
  EXPECT_TRUE(pixmap.IsEmpty());
  XpPixmapYCbCrPlanar planar;
  EXPECT_EQ(planar.Create(huge, huge), XpStatus::OutOfMemory);
}

TEST(XpPixmap, ClonesPixelsAndSize) {
  XpPixmapBGR24 pixmap;
  ASSERT_EQ(pixmap.Create(3, 2), XpStatus::Ok);
  for (std::size_t i = 0; i < pixmap.Size(); ++i) {
    pixmap.Data()[i] = static_cast<std::uint8_t>(i * 3);
  }
  pixmap.SetUserValues(4, 9);
  const std::unique_ptr<XpPixmapBase> copy = pixmap.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(dynamic_cast<XpPixmapBGR24*>(copy.get()), nullptr);
  EXPECT_EQ(copy->Width(), 3);
  EXPECT_EQ(copy->Height(), 2);
  EXPECT_NE(copy->Data(), pixmap.Data());
  EXPECT_EQ(std::memcmp(copy->Data(), pixmap.Data(), pixmap.Size()), 0);
  EXPECT_EQ(copy->GetUserValue1(), 4);
  EXPECT_EQ(copy->GetUserValue2(), 9);
  XpPixmapBGR24 empty;
  EXPECT_EQ(empty.Clone(), nullptr);
}

TEST(XpPixmap, SwapsMemoryAndPlanes) {
  XpPixmapBGR24 a;
  XpPixmapBGR24 b;
  ASSERT_EQ(a.Create(2, 2), XpStatus::Ok);
  ASSERT_EQ(b.Create(5, 1), XpStatus::Ok);
  std::uint8_t* aData = a.Data();
  a.Swap(b);
  EXPECT_EQ(a.Width(), 5);
  EXPECT_EQ(b.Data(), aData);
  EXPECT_EQ(b.Row(0), aData);
  EXPECT_EQ(b.GetAllocator().Header().width, 2);
  EXPECT_EQ(a.GetAllocator().Header().width, 5);
}

TEST(XpPlaneStride, RefusesOverflow) {
  std::size_t stride = 0;
  EXPECT_TRUE(XpPlaneStride(5, 24, 4, &stride));
  EXPECT_EQ(stride, 16U);
  EXPECT_FALSE(XpPlaneStride(-1, 24, 4, &stride));
  EXPECT_FALSE(XpPlaneStride(1, 0, 4, &stride));
}

}  // namespace
