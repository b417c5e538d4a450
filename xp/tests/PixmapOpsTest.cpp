#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <vector>

#include "xp/image/XpPixmapOps.h"

namespace {

using XpPixmapOps::Size;

struct Bgr {
  int b;
  int g;
  int r;
  friend bool operator==(const Bgr&, const Bgr&) = default;
};

void PrintTo(const Bgr& p, std::ostream* os) { *os << "(" << p.b << "," << p.g << "," << p.r << ")"; }

Bgr At(const XpPixmapBGR24& p, int x, int y) {
  const std::uint8_t* px = p.Row(y) + static_cast<std::size_t>(x) * 3;
  return {px[0], px[1], px[2]};
}

void Set(XpPixmapBGR24& p, int x, int y, Bgr v) {
  std::uint8_t* px = p.Row(y) + static_cast<std::size_t>(x) * 3;
  px[0] = static_cast<std::uint8_t>(v.b);
  px[1] = static_cast<std::uint8_t>(v.g);
  px[2] = static_cast<std::uint8_t>(v.r);
}

// A pixmap whose pixel (x, y) is a function of its position, distinct per pixel for small sizes.
XpPixmapBGR24 Pattern(int w, int h) {
  XpPixmapBGR24 p;
  EXPECT_EQ(p.Create(w, h), XpStatus::Ok);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Set(p, x, y, {(x * 37 + y * 11) % 256, (x * 5 + y * 71) % 256, (x + y * 3) % 256});
    }
  }
  return p;
}

XpPixmapBGR24 Flat(int w, int h, Bgr v) {
  XpPixmapBGR24 p;
  EXPECT_EQ(p.Create(w, h), XpStatus::Ok);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Set(p, x, y, v);
    }
  }
  return p;
}

// The designed area average along one axis, computed the slow way on the lcm grid.
std::vector<int> AreaAverage(const std::vector<int>& in, int to) {
  const int from = static_cast<int>(in.size());
  const long long l = std::lcm(static_cast<long long>(from), static_cast<long long>(to));
  const long long su = l / from;
  const long long du = l / to;
  std::vector<int> out(static_cast<std::size_t>(to));
  for (int j = 0; j < to; ++j) {
    long long sum = 0;
    for (long long u = j * du; u < (j + 1) * du; ++u) {
      sum += in[static_cast<std::size_t>(u / su)];
    }
    out[static_cast<std::size_t>(j)] = static_cast<int>(sum / du);
  }
  return out;
}

// Compares the pixels, not the row padding.
bool SamePixels(const XpPixmapBGR24& a, const XpPixmapBGR24& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) {
    return false;
  }
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width()) * 3) != 0) {
      return false;
    }
  }
  return true;
}

TEST(PixmapResize, HalvesWithTheTwoByTwoBox) {
  XpPixmapBGR24 p = Pattern(8, 6);
  const XpPixmapBGR24 src = Pattern(8, 6);
  ASSERT_EQ(XpPixmapOps::Resize(p, 4, 3), XpStatus::Ok);
  ASSERT_EQ(p.Width(), 4);
  ASSERT_EQ(p.Height(), 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      const Bgr a = At(src, 2 * x, 2 * y);
      const Bgr b = At(src, 2 * x + 1, 2 * y);
      const Bgr c = At(src, 2 * x, 2 * y + 1);
      const Bgr d = At(src, 2 * x + 1, 2 * y + 1);
      EXPECT_EQ(At(p, x, y),
                (Bgr{(a.b + b.b + c.b + d.b) / 4, (a.g + b.g + c.g + d.g) / 4, (a.r + b.r + c.r + d.r) / 4}));
    }
  }
}

TEST(PixmapResize, ThirdsWithTheThreeByThreeBox) {
  const XpPixmapBGR24 src = Pattern(9, 6);
  XpPixmapBGR24 p = Pattern(9, 6);
  ASSERT_EQ(XpPixmapOps::Resize(p, 3, 2), XpStatus::Ok);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      int sum = 0;
      for (int dy = 0; dy < 3; ++dy) {
        for (int dx = 0; dx < 3; ++dx) {
          sum += At(src, 3 * x + dx, 3 * y + dy).g;
        }
      }
      EXPECT_EQ(At(p, x, y).g, sum / 9);
    }
  }
}

TEST(PixmapResize, AveragesAreasOnTheCommonGridInTwoPasses) {
  // 7 -> 3 across and 5 -> 2 down: neither box applies.
  const XpPixmapBGR24 src = Pattern(7, 5);
  XpPixmapBGR24 p = Pattern(7, 5);
  ASSERT_EQ(XpPixmapOps::Resize(p, 3, 2), XpStatus::Ok);
  // Horizontal first, then vertical, each truncating.
  std::vector<std::vector<int>> rows;
  for (int y = 0; y < 5; ++y) {
    std::vector<int> row;
    for (int x = 0; x < 7; ++x) {
      row.push_back(At(src, x, y).b);
    }
    rows.push_back(AreaAverage(row, 3));
  }
  for (int x = 0; x < 3; ++x) {
    std::vector<int> column;
    for (int y = 0; y < 5; ++y) {
      column.push_back(rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]);
    }
    const std::vector<int> expected = AreaAverage(column, 2);
    EXPECT_EQ(At(p, x, 0).b, expected[0]) << x;
    EXPECT_EQ(At(p, x, 1).b, expected[1]) << x;
  }
}

TEST(PixmapResize, HalvesOneAxisByAveragingPairs) {
  const XpPixmapBGR24 src = Pattern(6, 3);
  XpPixmapBGR24 p = Pattern(6, 3);
  ASSERT_EQ(XpPixmapOps::Resize(p, 3, 3), XpStatus::Ok);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(At(p, x, y).r, (At(src, 2 * x, y).r + At(src, 2 * x + 1, y).r) / 2);
    }
  }
}

TEST(PixmapResize, KeepsFlatAreasExact) {
  // The reciprocal alone would give 254 for white whenever the divisor is not a power of two.
  XpPixmapBGR24 p = Flat(4000, 30, {255, 128, 1});
  ASSERT_EQ(XpPixmapOps::Resize(p, 550, 7), XpStatus::Ok);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 550; ++x) {
      ASSERT_EQ(At(p, x, y), (Bgr{255, 128, 1})) << x << "," << y;
    }
  }
}

TEST(PixmapResize, LeavesTheSameSizeUntouched) {
  XpPixmapBGR24 p = Pattern(5, 4);
  std::uint8_t* before = p.Data();
  ASSERT_EQ(XpPixmapOps::Resize(p, 5, 4), XpStatus::Ok);
  EXPECT_EQ(p.Data(), before);
  EXPECT_EQ(At(p, 4, 3), At(Pattern(5, 4), 4, 3));
}

TEST(PixmapResize, RefusesAnEmptyPixmapOrABadSize) {
  XpPixmapBGR24 empty;
  EXPECT_EQ(XpPixmapOps::Resize(empty, 3, 3), XpStatus::Failed);
  XpPixmapBGR24 p = Pattern(5, 4);
  EXPECT_EQ(XpPixmapOps::Resize(p, 0, 3), XpStatus::Failed);
  EXPECT_EQ(XpPixmapOps::Resize(p, 3, -2), XpStatus::Failed);
  EXPECT_EQ(p.Width(), 5);
}

TEST(PixmapResize, RepeatsASingleSourcePixelAndEnlargesSmoothly) {
  XpPixmapBGR24 one = Flat(1, 1, {10, 20, 30});
  ASSERT_EQ(XpPixmapOps::Resize(one, 4, 3), XpStatus::Ok);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(At(one, x, y), (Bgr{10, 20, 30}));
    }
  }
  XpPixmapBGR24 ramp;
  ASSERT_EQ(ramp.Create(2, 1), XpStatus::Ok);
  Set(ramp, 0, 0, {0, 0, 0});
  Set(ramp, 1, 0, {200, 200, 200});
  ASSERT_EQ(XpPixmapOps::Resize(ramp, 8, 1), XpStatus::Ok);
  int last = -1;
  for (int x = 0; x < 8; ++x) {
    EXPECT_GE(At(ramp, x, 0).g, last);
    last = At(ramp, x, 0).g;
  }
  EXPECT_EQ(At(ramp, 0, 0).g, 0);
  EXPECT_EQ(At(ramp, 7, 0).g, 200);
}

TEST(PixmapResample, WritesIntoAnotherPixmap) {
  const XpPixmapBGR24 src = Flat(640, 480, {1, 2, 3});
  XpPixmapBGR24 dst;
  ASSERT_EQ(dst.Create(160, 120), XpStatus::Ok);
  ASSERT_EQ(XpPixmapOps::Resample(src, dst), XpStatus::Ok);
  EXPECT_EQ(At(dst, 159, 119), (Bgr{1, 2, 3}));
  XpPixmapBGR24 empty;
  EXPECT_EQ(XpPixmapOps::Resample(empty, dst), XpStatus::Failed);
}

TEST(PixmapCrop, KeepsTheRectangle) {
  const XpPixmapBGR24 src = Pattern(6, 5);
  XpPixmapBGR24 p = Pattern(6, 5);
  ASSERT_EQ(XpPixmapOps::Crop(p, 1, 2, 4, 5), XpStatus::Ok);
  ASSERT_EQ(p.Width(), 3);
  ASSERT_EQ(p.Height(), 3);
  EXPECT_EQ(At(p, 0, 0), At(src, 1, 2));
  EXPECT_EQ(At(p, 2, 2), At(src, 3, 4));
}

TEST(PixmapCrop, ClampsAndRefusesEmptyRectangles) {
  XpPixmapBGR24 p = Pattern(6, 5);
  ASSERT_EQ(XpPixmapOps::Crop(p, -3, -1, 100, 3), XpStatus::Ok);
  EXPECT_EQ(p.Width(), 6);
  EXPECT_EQ(p.Height(), 3);
  EXPECT_EQ(XpPixmapOps::Crop(p, 4, 0, 4, 3), XpStatus::BadReduction);
  EXPECT_EQ(XpPixmapOps::Crop(p, 7, 0, 9, 3), XpStatus::BadReduction);
  XpPixmapBGR24 empty;
  EXPECT_EQ(XpPixmapOps::Crop(empty, 0, 0, 1, 1), XpStatus::Failed);
}

TEST(PixmapTurn, ClockwiseMovesTheTopRowToTheRightColumn) {
  const XpPixmapBGR24 src = Pattern(3, 2);
  const auto out = XpPixmapOps::RotateClockwise(src);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->Width(), 2);
  ASSERT_EQ(out->Height(), 3);
  EXPECT_EQ(At(*out, 1, 0), At(src, 0, 0));  // top-right is the input's top-left
  EXPECT_EQ(At(*out, 1, 2), At(src, 2, 0));
  EXPECT_EQ(At(*out, 0, 0), At(src, 0, 1));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(At(*out, 2 - 1 - y, x), At(src, x, y));
    }
  }
}

TEST(PixmapTurn, CounterClockwiseMovesTheTopRowToTheLeftColumnBottomUp) {
  const XpPixmapBGR24 src = Pattern(3, 2);
  const auto out = XpPixmapOps::RotateCounterClockwise(src);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->Width(), 2);
  ASSERT_EQ(out->Height(), 3);
  EXPECT_EQ(At(*out, 0, 2), At(src, 0, 0));
  EXPECT_EQ(At(*out, 0, 0), At(src, 2, 0));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(At(*out, y, 3 - 1 - x), At(src, x, y));
    }
  }
}

TEST(PixmapTurn, HalfTurnMirrorsBothAxesAndQuarterTurnsCompose) {
  const XpPixmapBGR24 src = Pattern(150, 70);  // spans several tiles
  const auto half = XpPixmapOps::Rotate180(src);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(At(*half, 0, 0), At(src, 149, 69));
  EXPECT_EQ(At(*half, 10, 20), At(src, 139, 49));
  const auto cw = XpPixmapOps::RotateClockwise(src);
  const auto cw2 = XpPixmapOps::RotateClockwise(*cw);
  EXPECT_TRUE(SamePixels(*cw2, *half));
  const auto back = XpPixmapOps::RotateCounterClockwise(*cw);
  EXPECT_TRUE(SamePixels(*back, src));
  XpPixmapBGR24 empty;
  EXPECT_EQ(XpPixmapOps::Rotate180(empty), nullptr);
  EXPECT_EQ(XpPixmapOps::RotateClockwise(empty), nullptr);
}

struct FitCase {
  int sw, sh, bw, bh;
  Size expected;
};

class PixmapFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(PixmapFit, KeepsTheAspectRatioInsideTheBox) {
  const FitCase& c = GetParam();
  EXPECT_EQ(XpPixmapOps::Fit(c.sw, c.sh, c.bw, c.bh), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PixmapFit,
    ::testing::Values(FitCase{4000, 3000, 550, 550, {550, 412}}, FitCase{3000, 4000, 550, 550, {412, 550}},
                      FitCase{4000, 3000, 160, 120, {160, 120}}, FitCase{1600, 900, 160, 120, {160, 90}},
                      FitCase{450, 600, 160, 120, {90, 120}}, FitCase{100, 100, 550, 550, {550, 550}},
                      FitCase{100, 0, 550, 550, {0, 0}}, FitCase{100, 50, 550, 0, {0, 0}},
                      FitCase{65500, 65500, 550, 550, {550, 550}}));

}  // namespace
