#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "xp/tiff/XpByteOrder.h"

namespace {

constexpr std::array<std::uint8_t, 9> kBytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11};

}  // namespace

TEST(ByteOrder, ReadsBothOrdersAtAnOffset) {
  EXPECT_EQ(XpBytes::Get16(kBytes, 0, XpBytes::kBigEndian), 0x1234);
  EXPECT_EQ(XpBytes::Get16(kBytes, 0, XpBytes::kLittleEndian), 0x3412);
  EXPECT_EQ(XpBytes::Get16(kBytes, 7, XpBytes::kBigEndian), 0xF011);
  EXPECT_EQ(XpBytes::Get32(kBytes, 1, XpBytes::kBigEndian), 0x3456789AU);
  EXPECT_EQ(XpBytes::Get32(kBytes, 1, XpBytes::kLittleEndian), 0x9A785634U);
  EXPECT_EQ(XpBytes::Get64(kBytes, 1, XpBytes::kBigEndian), 0x3456789ABCDEF011ULL);
  EXPECT_EQ(XpBytes::Get64(kBytes, 0, XpBytes::kLittleEndian), 0xF0DEBC9A78563412ULL);
  EXPECT_EQ(XpBytes::GetN(kBytes, 2, 3, XpBytes::kBigEndian), 0x56789AU);
  EXPECT_EQ(XpBytes::GetN(kBytes, 2, 0, XpBytes::kBigEndian), 0U);
}

TEST(ByteOrder, ANumberNotWhollyInsideReadsAsZero) {
  // The last byte alone is not a 16-bit number; an offset past the end, or
  // one that would wrap around, reads nothing.
  EXPECT_EQ(XpBytes::Get16(kBytes, 8, XpBytes::kBigEndian), 0);
  EXPECT_EQ(XpBytes::Get32(kBytes, 6, XpBytes::kLittleEndian), 0U);
  EXPECT_EQ(XpBytes::Get64(kBytes, 2, XpBytes::kBigEndian), 0U);
  EXPECT_EQ(XpBytes::Get32(kBytes, SIZE_MAX - 1, XpBytes::kBigEndian), 0U);
  EXPECT_EQ(XpBytes::Get16({}, 0, XpBytes::kBigEndian), 0);
  EXPECT_EQ(XpBytes::GetN(kBytes, 0, 9, XpBytes::kBigEndian), 0U);
  EXPECT_TRUE(XpBytes::Fits(9, 5, 4));
  EXPECT_FALSE(XpBytes::Fits(9, 6, 4));
  EXPECT_FALSE(XpBytes::Fits(9, 10, 0));
  EXPECT_FALSE(XpBytes::Fits(9, 1, SIZE_MAX));
}

TEST(ByteOrder, WritesWhatItReadsAndNothingOutside) {
  for (const bool order : {XpBytes::kBigEndian, XpBytes::kLittleEndian}) {
    std::vector<std::uint8_t> bytes(8, 0xEE);
    EXPECT_TRUE(XpBytes::Put16(bytes, 1, 0xA1B2, order));
    EXPECT_TRUE(XpBytes::Put32(bytes, 3, 0xC3D4E5F6U, order));
    EXPECT_EQ(XpBytes::Get16(bytes, 1, order), 0xA1B2);
    EXPECT_EQ(XpBytes::Get32(bytes, 3, order), 0xC3D4E5F6U);
    EXPECT_EQ(bytes[0], 0xEE);
    EXPECT_EQ(bytes[7], 0xEE);
    EXPECT_EQ(bytes[1], order == XpBytes::kBigEndian ? 0xA1 : 0xB2);
    EXPECT_EQ(bytes[3], order == XpBytes::kBigEndian ? 0xC3 : 0xF6);

    const std::vector<std::uint8_t> before = bytes;
    EXPECT_FALSE(XpBytes::Put32(bytes, 5, 0x01020304U, order));
    EXPECT_FALSE(XpBytes::Put16(bytes, 7, 0x0102, order));
    EXPECT_FALSE(XpBytes::Put16(bytes, SIZE_MAX, 0x0102, order));
    EXPECT_EQ(bytes, before);
  }
}

static_assert(XpBytes::Get32(kBytes, 0, XpBytes::kBigEndian) == 0x12345678U);
