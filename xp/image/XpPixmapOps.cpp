#include "xp/image/XpPixmapOps.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>
#include <vector>

namespace XpPixmapOps {

namespace {

constexpr int kChannels = 3;

// How one axis is resampled from `from` to `to` samples.
//
// Shrinking uses area averaging on a common grid: with L = lcm(from, to) a
// source sample spans L / from units and an output sample L / to units, and
// an output is the overlap-weighted sum of its sources divided by L / to. The
// division multiplies by floor(2^32 / (L / to)) and keeps the upper 32 bits;
// that product can fall one short of the true quotient (a flat 255 would come
// out 254), so one correction step makes the result the exact truncated
// average. Exact halving is the same rule with two equal weights.
//
// Enlarging interpolates linearly between the two nearest source samples,
// with sample centres aligned; a single source sample is repeated.
class AxisPlan {
 public:
  enum class Kind { Copy, Area, Enlarge };

  [[nodiscard]] bool Build(std::size_t from, std::size_t to) {
    m_to = to;
    try {
      if (from == to) {
        m_kind = Kind::Copy;
        return true;
      }
      if (from > to) {
        BuildArea(from, to);
      } else {
        BuildEnlarge(from, to);
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  [[nodiscard]] Kind GetKind() const { return m_kind; }
  [[nodiscard]] std::size_t Outputs() const { return m_to; }

  // Area: sources [m_first[j], m_first[j] + m_count[j]) with weights starting at m_weightAt[j].
  [[nodiscard]] std::size_t First(std::size_t j) const { return m_first[j]; }
  [[nodiscard]] std::size_t Count(std::size_t j) const { return m_count[j]; }
  [[nodiscard]] const std::uint64_t* Weights(std::size_t j) const { return m_weights.data() + m_weightAt[j]; }

  [[nodiscard]] std::uint8_t Divide(std::uint64_t sum) const {
    // sum <= 255 x divisor and reciprocal <= 2^32 / divisor: the product fits.
    std::uint64_t q = (sum * m_reciprocal) >> 32;
    if ((q + 1) * m_divisor <= sum) {
      ++q;
    }
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(q, 255));
  }

  // Enlarge: output j = src[m_first[j]] * (256 - frac) + src[m_first[j] + 1] * frac, over 256.
  [[nodiscard]] std::size_t Lower(std::size_t j) const { return m_first[j]; }
  [[nodiscard]] std::size_t Upper(std::size_t j) const { return m_first[j] + m_count[j]; }
  [[nodiscard]] std::uint32_t Fraction(std::size_t j) const { return static_cast<std::uint32_t>(m_weights[j]); }

 private:
  void BuildArea(std::size_t from, std::size_t to) {
    m_kind = Kind::Area;
    const std::size_t g = std::gcd(from, to);
    // L / from and L / to, without forming L itself.
    const std::uint64_t sourceUnits = to / g;
    const std::uint64_t outputUnits = from / g;
    m_divisor = outputUnits;
    m_reciprocal = (std::uint64_t{1} << 32) / outputUnits;
    m_first.resize(to);
    m_count.resize(to);
    m_weightAt.resize(to);
    m_weights.clear();
    m_weights.reserve(from + to);
    for (std::size_t j = 0; j < to; ++j) {
      const std::uint64_t begin = j * outputUnits;
      const std::uint64_t end = begin + outputUnits;
      const std::size_t first = static_cast<std::size_t>(begin / sourceUnits);
      const std::size_t last = std::min(static_cast<std::size_t>((end - 1) / sourceUnits), from - 1);
      m_first[j] = first;
      m_count[j] = last - first + 1;
      m_weightAt[j] = m_weights.size();
      for (std::size_t i = first; i <= last; ++i) {
        const std::uint64_t lo = std::max<std::uint64_t>(begin, i * sourceUnits);
        const std::uint64_t hi = std::min<std::uint64_t>(end, (i + 1) * sourceUnits);
        m_weights.push_back(hi - lo);
      }
    }
  }

  void BuildEnlarge(std::size_t from, std::size_t to) {
    m_kind = Kind::Enlarge;
    m_first.resize(to);
    m_count.resize(to);
    m_weights.resize(to);
    for (std::size_t j = 0; j < to; ++j) {
      // Source position of the output centre, in 1/256 steps:
      // ((j + 0.5) * from / to - 0.5) * 256.
      const auto pos = static_cast<std::int64_t>(((2 * j + 1) * from * 256) / (2 * to)) - 128;
      const std::int64_t clamped = std::clamp<std::int64_t>(pos, 0, static_cast<std::int64_t>(from - 1) * 256);
      const auto lower = static_cast<std::size_t>(clamped / 256);
      const auto frac = static_cast<std::uint64_t>(clamped % 256);
      m_first[j] = lower;
      m_count[j] = lower + 1 < from ? 1 : 0;
      m_weights[j] = m_count[j] != 0 ? frac : 0;
    }
  }

  Kind m_kind = Kind::Copy;
  std::size_t m_to = 0;
  std::vector<std::size_t> m_first;
  std::vector<std::size_t> m_count;
  std::vector<std::size_t> m_weightAt;
  std::vector<std::uint64_t> m_weights;
  std::uint64_t m_divisor = 1;
  std::uint64_t m_reciprocal = 0;
};

// Resamples every row of `source` horizontally into `destination` (same height).
void HorizontalPass(const XpPixmapBGR24& source, XpPixmapBGR24& destination, const AxisPlan& plan) {
  const auto outWidth = static_cast<std::size_t>(destination.Width());
  for (int y = 0; y < source.Height(); ++y) {
    const std::uint8_t* in = source.Row(y);
    std::uint8_t* out = destination.Row(y);
    switch (plan.GetKind()) {
      case AxisPlan::Kind::Copy:
        std::memcpy(out, in, outWidth * kChannels);
        break;
      case AxisPlan::Kind::Area:
        for (std::size_t j = 0; j < outWidth; ++j) {
          const std::uint8_t* px = in + plan.First(j) * kChannels;
          const std::uint64_t* w = plan.Weights(j);
          std::uint64_t b = 0;
          std::uint64_t g = 0;
          std::uint64_t r = 0;
          for (std::size_t k = 0, n = plan.Count(j); k < n; ++k, px += kChannels) {
            b += px[0] * w[k];
            g += px[1] * w[k];
            r += px[2] * w[k];
          }
          out[j * kChannels] = plan.Divide(b);
          out[j * kChannels + 1] = plan.Divide(g);
          out[j * kChannels + 2] = plan.Divide(r);
        }
        break;
      case AxisPlan::Kind::Enlarge:
        for (std::size_t j = 0; j < outWidth; ++j) {
          const std::uint8_t* lo = in + plan.Lower(j) * kChannels;
          const std::uint8_t* hi = in + plan.Upper(j) * kChannels;
          const std::uint32_t f = plan.Fraction(j);
          for (int c = 0; c < kChannels; ++c) {
            out[j * kChannels + static_cast<std::size_t>(c)] =
                static_cast<std::uint8_t>((lo[c] * (256 - f) + hi[c] * f + 128) >> 8);
          }
        }
        break;
    }
  }
}

// Resamples the columns of `source` vertically into `destination` (same width).
[[nodiscard]] XpStatus VerticalPass(const XpPixmapBGR24& source, XpPixmapBGR24& destination, const AxisPlan& plan) {
  const std::size_t rowBytes = static_cast<std::size_t>(destination.Width()) * kChannels;
  std::vector<std::uint64_t> sums;
  if (plan.GetKind() == AxisPlan::Kind::Area) {
    try {
      sums.resize(rowBytes);
    } catch (const std::bad_alloc&) {
      return XpStatus::OutOfMemory;
    }
  }
  for (std::size_t j = 0; j < plan.Outputs(); ++j) {
    std::uint8_t* out = destination.Row(static_cast<int>(j));
    switch (plan.GetKind()) {
      case AxisPlan::Kind::Copy:
        std::memcpy(out, source.Row(static_cast<int>(j)), rowBytes);
        break;
      case AxisPlan::Kind::Area: {
        std::fill(sums.begin(), sums.end(), 0);
        const std::uint64_t* w = plan.Weights(j);
        for (std::size_t k = 0, n = plan.Count(j); k < n; ++k) {
          const std::uint8_t* in = source.Row(static_cast<int>(plan.First(j) + k));
          const std::uint64_t weight = w[k];
          for (std::size_t x = 0; x < rowBytes; ++x) {
            sums[x] += in[x] * weight;
          }
        }
        for (std::size_t x = 0; x < rowBytes; ++x) {
          out[x] = plan.Divide(sums[x]);
        }
        break;
      }
      case AxisPlan::Kind::Enlarge: {
        const std::uint8_t* lo = source.Row(static_cast<int>(plan.Lower(j)));
        const std::uint8_t* hi = source.Row(static_cast<int>(plan.Upper(j)));
        const std::uint32_t f = plan.Fraction(j);
        for (std::size_t x = 0; x < rowBytes; ++x) {
          out[x] = static_cast<std::uint8_t>((lo[x] * (256 - f) + hi[x] * f + 128) >> 8);
        }
        break;
      }
    }
  }
  return XpStatus::Ok;
}

// Every output pixel is the truncated mean of its n x n source block.
void BoxReduce(const XpPixmapBGR24& source, XpPixmapBGR24& destination, int n) {
  const auto outWidth = static_cast<std::size_t>(destination.Width());
  const auto divisor = static_cast<unsigned>(n * n);
  for (int y = 0; y < destination.Height(); ++y) {
    std::uint8_t* out = destination.Row(y);
    for (std::size_t x = 0; x < outWidth; ++x) {
      unsigned sums[kChannels] = {0, 0, 0};
      for (int dy = 0; dy < n; ++dy) {
        const std::uint8_t* in = source.Row(y * n + dy) + x * static_cast<std::size_t>(n) * kChannels;
        for (int dx = 0; dx < n; ++dx, in += kChannels) {
          sums[0] += in[0];
          sums[1] += in[1];
          sums[2] += in[2];
        }
      }
      for (int c = 0; c < kChannels; ++c) {
        out[x * kChannels + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(sums[c] / divisor);
      }
    }
  }
}

[[nodiscard]] std::unique_ptr<XpPixmapBGR24> NewPixmap(int width, int height) {
  std::unique_ptr<XpPixmapBGR24> pixmap(new (std::nothrow) XpPixmapBGR24);
  if (pixmap == nullptr || pixmap->Create(width, height) != XpStatus::Ok) {
    return nullptr;
  }
  return pixmap;
}

// Copies pixel (sx, sy) of `source` for every pixel of `destination`, with
// `map` giving the source of each destination pixel. Walks in tiles so that
// the column-wise side of a quarter turn stays in the cache.
template <class Map>
void Remap(const XpPixmapBGR24& source, XpPixmapBGR24& destination, Map map) {
  constexpr int kTile = 64;
  const int width = destination.Width();
  const int height = destination.Height();
  for (int ty = 0; ty < height; ty += kTile) {
    const int yEnd = std::min(height, ty + kTile);
    for (int tx = 0; tx < width; tx += kTile) {
      const int xEnd = std::min(width, tx + kTile);
      for (int y = ty; y < yEnd; ++y) {
        std::uint8_t* out = destination.Row(y) + static_cast<std::size_t>(tx) * kChannels;
        for (int x = tx; x < xEnd; ++x, out += kChannels) {
          const auto [sx, sy] = map(x, y);
          const std::uint8_t* in = source.Row(sy) + static_cast<std::size_t>(sx) * kChannels;
          out[0] = in[0];
          out[1] = in[1];
          out[2] = in[2];
        }
      }
    }
  }
}

}  // namespace

XpStatus Resample(const XpPixmapBGR24& source, XpPixmapBGR24& destination) {
  if (source.IsEmpty() || destination.IsEmpty()) {
    return XpStatus::Failed;
  }
  const int w = source.Width();
  const int h = source.Height();
  const int outW = destination.Width();
  const int outH = destination.Height();
  const auto isBox = [&](std::int64_t n) { return outW * n == w && outH * n == h; };
  if (isBox(2)) {
    BoxReduce(source, destination, 2);
    return XpStatus::Ok;
  }
  if (isBox(3)) {
    BoxReduce(source, destination, 3);
    return XpStatus::Ok;
  }
  AxisPlan horizontal;
  AxisPlan vertical;
  if (!horizontal.Build(static_cast<std::size_t>(w), static_cast<std::size_t>(outW)) ||
      !vertical.Build(static_cast<std::size_t>(h), static_cast<std::size_t>(outH))) {
    return XpStatus::OutOfMemory;
  }
  if (horizontal.GetKind() == AxisPlan::Kind::Copy) {
    return VerticalPass(source, destination, vertical);
  }
  if (vertical.GetKind() == AxisPlan::Kind::Copy) {
    HorizontalPass(source, destination, horizontal);
    return XpStatus::Ok;
  }
  XpPixmapBGR24 between;
  if (auto st = between.Create(outW, h); st != XpStatus::Ok) {
    return st;
  }
  HorizontalPass(source, between, horizontal);
  return VerticalPass(between, destination, vertical);
}

XpStatus Resize(XpPixmapBGR24& pixmap, int width, int height) {
  if (pixmap.IsEmpty() || width <= 0 || height <= 0) {
    return XpStatus::Failed;
  }
  if (width == pixmap.Width() && height == pixmap.Height()) {
    return XpStatus::Ok;
  }
  XpPixmapBGR24 result;
  if (auto st = result.Create(width, height); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = Resample(pixmap, result); st != XpStatus::Ok) {
    return st;
  }
  pixmap.Swap(result);
  return XpStatus::Ok;
}

XpStatus Crop(XpPixmapBGR24& pixmap, int left, int top, int right, int bottom) {
  if (pixmap.IsEmpty()) {
    return XpStatus::Failed;
  }
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, pixmap.Width());
  bottom = std::min(bottom, pixmap.Height());
  if (left >= right || top >= bottom) {
    return XpStatus::BadReduction;
  }
  if (left == 0 && top == 0 && right == pixmap.Width() && bottom == pixmap.Height()) {
    return XpStatus::Ok;
  }
  XpPixmapBGR24 result;
  if (auto st = result.Create(right - left, bottom - top); st != XpStatus::Ok) {
    return st;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(right - left) * kChannels;
  for (int y = top; y < bottom; ++y) {
    std::memcpy(result.Row(y - top), pixmap.Row(y) + static_cast<std::size_t>(left) * kChannels, rowBytes);
  }
  pixmap.Swap(result);
  return XpStatus::Ok;
}

std::unique_ptr<XpPixmapBGR24> Rotate180(const XpPixmapBGR24& source) {
  if (source.IsEmpty()) {
    return nullptr;
  }
  auto result = NewPixmap(source.Width(), source.Height());
  if (result == nullptr) {
    return nullptr;
  }
  const int w = source.Width();
  const int h = source.Height();
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* in = source.Row(h - 1 - y) + static_cast<std::size_t>(w - 1) * kChannels;
    std::uint8_t* out = result->Row(y);
    for (int x = 0; x < w; ++x, out += kChannels, in -= kChannels) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  }
  return result;
}

std::unique_ptr<XpPixmapBGR24> RotateClockwise(const XpPixmapBGR24& source) {
  if (source.IsEmpty()) {
    return nullptr;
  }
  auto result = NewPixmap(source.Height(), source.Width());
  if (result == nullptr) {
    return nullptr;
  }
  // Output row x, column h - 1 - y holds input (x, y).
  const int h = source.Height();
  Remap(source, *result, [h](int outX, int outY) { return std::pair{outY, h - 1 - outX}; });
  return result;
}

std::unique_ptr<XpPixmapBGR24> RotateCounterClockwise(const XpPixmapBGR24& source) {
  if (source.IsEmpty()) {
    return nullptr;
  }
  auto result = NewPixmap(source.Height(), source.Width());
  if (result == nullptr) {
    return nullptr;
  }
  // Output row w - 1 - x, column y holds input (x, y).
  const int w = source.Width();
  Remap(source, *result, [w](int outX, int outY) { return std::pair{w - 1 - outY, outX}; });
  return result;
}

std::unique_ptr<XpPixmapBGR24> Upright(const XpPixmapBGR24& source, int orientation) {
  if (source.IsEmpty()) {
    return nullptr;
  }
  const int w = source.Width();
  const int h = source.Height();
  const bool across = orientation >= 5 && orientation <= 8;
  auto result = across ? NewPixmap(h, w) : NewPixmap(w, h);
  if (result == nullptr) {
    return nullptr;
  }
  switch (orientation) {
    case 2:
      Remap(source, *result, [w](int x, int y) { return std::pair{w - 1 - x, y}; });
      break;
    case 3:
      Remap(source, *result, [w, h](int x, int y) { return std::pair{w - 1 - x, h - 1 - y}; });
      break;
    case 4:
      Remap(source, *result, [h](int x, int y) { return std::pair{x, h - 1 - y}; });
      break;
    case 5:
      Remap(source, *result, [](int x, int y) { return std::pair{y, x}; });
      break;
    case 6:
      Remap(source, *result, [h](int x, int y) { return std::pair{y, h - 1 - x}; });
      break;
    case 7:
      Remap(source, *result, [w, h](int x, int y) { return std::pair{w - 1 - y, h - 1 - x}; });
      break;
    case 8:
      Remap(source, *result, [w](int x, int y) { return std::pair{w - 1 - y, x}; });
      break;
    default:
      Remap(source, *result, [](int x, int y) { return std::pair{x, y}; });
      break;
  }
  return result;
}

Size Fit(int sourceWidth, int sourceHeight, int boxWidth, int boxHeight) {
  if (sourceWidth <= 0 || sourceHeight <= 0 || boxHeight <= 0 || boxWidth < 0) {
    return {};
  }
  const std::int64_t sw = sourceWidth;
  const std::int64_t sh = sourceHeight;
  const std::int64_t bw = boxWidth;
  const std::int64_t bh = boxHeight;
  if (sw * bh < sh * bw) {
    return {static_cast<int>(sw * bh / sh), boxHeight};
  }
  return {boxWidth, static_cast<int>(sh * bw / sw)};
}

}  // namespace XpPixmapOps
