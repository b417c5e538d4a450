#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "xp/image/XpPixmapOps.h"

namespace XpPixmapOps {

namespace {

constexpr std::size_t kTableSize = 65536;

template <class Curve>
std::unique_ptr<std::uint16_t[]> MakeTable(Curve curve) {
  auto table = std::make_unique<std::uint16_t[]>(kTableSize);
  for (std::size_t i = 0; i < kTableSize; ++i) {
    const double x = static_cast<double>(i) / 65535.0;
    const double y = std::clamp(curve(i, x), 0.0, 1.0);
    table[i] = static_cast<std::uint16_t>(std::lround(y * 65535.0));
  }
  return table;
}

ColourTables BuildTables() {
  ColourTables tables;
  tables.adobeDecode = MakeTable([](std::size_t, double x) { return std::pow(x, 2.19921875); });
  tables.adobeEncode = MakeTable([](std::size_t, double x) { return std::pow(x, 0.4547069271758437); });
  tables.srgbDecode =
      MakeTable([](std::size_t i, double x) { return i <= 2650 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4); });
  tables.srgbEncode =
      MakeTable([](std::size_t i, double x) { return i < 206 ? x * 12.92 : 1.055 * std::pow(x, 1.0 / 2.4) - 0.055; });
  return tables;
}

std::int32_t Clamp16(std::int32_t v) { return std::clamp<std::int32_t>(v, 0, 65535); }

// Walks the rows from the last to the first, each from its last pixel to its
// first; `convert` changes one pixel's B, G, R bytes.
template <class Convert>
void ForEachPixel(XpPixmapBGR24& pixmap, Convert convert) {
  for (int y = pixmap.Height() - 1; y >= 0; --y) {
    std::uint8_t* row = pixmap.Row(y);
    for (int x = pixmap.Width() - 1; x >= 0; --x) {
      convert(row + static_cast<std::size_t>(x) * 3);
    }
  }
}

}  // namespace

const ColourTables& GetColourTables() {
  static const ColourTables tables = BuildTables();
  return tables;
}

void AdobeToSrgb(XpPixmapBGR24& pixmap) {
  if (pixmap.IsEmpty()) {
    return;
  }
  const ColourTables& t = GetColourTables();
  ForEachPixel(pixmap, [&t](std::uint8_t* px) {
    const std::int32_t b = t.adobeDecode[px[0] * 257U];
    const std::int32_t g = t.adobeDecode[px[1] * 257U];
    const std::int32_t r = t.adobeDecode[px[2] * 257U];
    const std::int32_t r2 = Clamp16((1432 * r - 408 * g) >> 10);
    const std::int32_t b2 = Clamp16((1068 * b - 44 * g) >> 10);
    px[0] = static_cast<std::uint8_t>(t.srgbEncode[static_cast<std::size_t>(b2)] >> 8);
    px[1] = static_cast<std::uint8_t>(t.srgbEncode[static_cast<std::size_t>(g)] >> 8);
    px[2] = static_cast<std::uint8_t>(t.srgbEncode[static_cast<std::size_t>(r2)] >> 8);
  });
}

void SrgbToAdobe(XpPixmapBGR24& pixmap) {
  if (pixmap.IsEmpty()) {
    return;
  }
  const ColourTables& t = GetColourTables();
  ForEachPixel(pixmap, [&t](std::uint8_t* px) {
    const std::int32_t b = t.srgbDecode[px[0] * 257U];
    const std::int32_t g = t.srgbDecode[px[1] * 257U];
    const std::int32_t r = t.srgbDecode[px[2] * 257U];
    const std::int32_t r2 = Clamp16((732 * r + 292 * g) >> 10);
    const std::int32_t b2 = Clamp16((982 * b + 42 * g) >> 10);
    px[0] = static_cast<std::uint8_t>(t.adobeEncode[static_cast<std::size_t>(b2)] >> 8);
    px[1] = static_cast<std::uint8_t>(t.adobeEncode[static_cast<std::size_t>(g)] >> 8);
    px[2] = static_cast<std::uint8_t>(t.adobeEncode[static_cast<std::size_t>(r2)] >> 8);
  });
}

}  // namespace XpPixmapOps
