#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "xp/image/XpPixmapOps.h"

namespace {

XpPixmapBGR24 AllGreys() {
  XpPixmapBGR24 p;
  EXPECT_EQ(p.Create(256, 1), XpStatus::Ok);
  for (int v = 0; v < 256; ++v) {
    std::uint8_t* px = p.Row(0) + static_cast<std::size_t>(v) * 3;
    px[0] = px[1] = px[2] = static_cast<std::uint8_t>(v);
  }
  return p;
}

TEST(PixmapColour, BuildsTheCurvesAsSpecifiedAtTheirKnownPoints) {
  const XpPixmapOps::ColourTables& t = XpPixmapOps::GetColourTables();
  EXPECT_EQ(t.adobeDecode[0], 0);
  EXPECT_EQ(t.adobeDecode[65535], 65535);
  EXPECT_EQ(t.adobeDecode[32768], std::lround(std::pow(32768.0 / 65535, 2.19921875) * 65535));
  EXPECT_EQ(t.adobeEncode[32768], std::lround(std::pow(32768.0 / 65535, 0.4547069271758437) * 65535));
  // Linear pieces of the sRGB curves.
  EXPECT_EQ(t.srgbDecode[2650], std::lround(2650 / 12.92));
  EXPECT_EQ(t.srgbDecode[2651], std::lround(std::pow((2651.0 / 65535 + 0.055) / 1.055, 2.4) * 65535));
  EXPECT_EQ(t.srgbEncode[205], std::lround(205 * 12.92));
  EXPECT_EQ(t.srgbEncode[206], std::lround((1.055 * std::pow(206.0 / 65535, 1 / 2.4) - 0.055) * 65535));
  EXPECT_EQ(t.srgbEncode[65535], 65535);
  for (std::size_t i = 1; i < 65536; ++i) {
    ASSERT_GE(t.srgbEncode[i], t.srgbEncode[i - 1]) << i;
    ASSERT_GE(t.adobeDecode[i], t.adobeDecode[i - 1]) << i;
  }
}

TEST(PixmapColour, KeepsNeutralGreysNeutralFromAdobeToSrgb) {
  XpPixmapBGR24 p = AllGreys();
  XpPixmapOps::AdobeToSrgb(p);
  for (int v = 0; v < 256; ++v) {
    const std::uint8_t* px = p.Row(0) + static_cast<std::size_t>(v) * 3;
    EXPECT_LE(std::abs(px[0] - px[1]), 1) << v;
    EXPECT_LE(std::abs(px[2] - px[1]), 1) << v;
  }
  const std::uint8_t* white = p.Row(0) + 255 * 3;
  EXPECT_GE(white[1], 254);
}

TEST(PixmapColour, ConvertsBothWaysCloseToTheStart) {
  XpPixmapBGR24 p;
  ASSERT_EQ(p.Create(16, 16), XpStatus::Ok);
  for (std::size_t i = 0; i < p.Size(); ++i) {
    p.Data()[i] = static_cast<std::uint8_t>(40 + (i * 13) % 180);
  }
  const auto original = p.CloneSame();
  XpPixmapOps::SrgbToAdobe(p);
  bool changed = false;
  for (std::size_t i = 0; i < p.Size(); ++i) {
    changed = changed || p.Data()[i] != original->Data()[i];
  }
  EXPECT_TRUE(changed);
  XpPixmapOps::AdobeToSrgb(p);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 48; ++x) {
      EXPECT_LE(std::abs(p.Row(y)[x] - original->Row(y)[x]), 4) << x << "," << y;
    }
  }
}

TEST(PixmapColour, MakesSaturatedAdobeRedMoreSaturatedThanGreen) {
  XpPixmapBGR24 p;
  ASSERT_EQ(p.Create(1, 1), XpStatus::Ok);
  p.Row(0)[0] = 0;
  p.Row(0)[1] = 128;
  p.Row(0)[2] = 255;
  XpPixmapOps::AdobeToSrgb(p);
  EXPECT_EQ(p.Row(0)[2], 255);  // clamped
  EXPECT_EQ(p.Row(0)[0], 0);    // negative blue clamped to 0
}

}  // namespace
