#include "xp/formats/XpFormatReader.h"

#include <array>
#include <cstring>

#include "xp/tiff/XpByteOrder.h"

namespace XpFormatReader {

namespace {

constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kComment = 0xFE;
// An Exif APP1 payload: "Exif", two NULs, then the TIFF structure.
constexpr std::int64_t kExifIdLength = 6;
// Segments looked at before the Exif block is given up; cameras put it first
// or second, a long run of other segments means a damaged or hostile file.
constexpr int kMaxSegments = 64;

}  // namespace

bool Inside(std::int64_t offset, std::int64_t length, std::int64_t end) {
  std::int64_t stop = 0;
  return offset >= 0 && length >= 0 && !__builtin_add_overflow(offset, length, &stop) && stop <= end;
}

std::int64_t Add(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (a < 0 || b < 0 || __builtin_add_overflow(a, b, &sum)) {
    return -1;
  }
  return sum;
}

XpStatus ReadAt(XpAbstractFile& file, std::int64_t offset, std::span<std::uint8_t> out, std::int64_t end) {
  const auto length = static_cast<std::int64_t>(out.size());
  if (!Inside(offset, length, end) || !Inside(offset, length, file.GetLength())) {
    return XpStatus::PhotoContainerDamaged;
  }
  if (out.empty()) {
    return XpStatus::Ok;
  }
  if (auto st = file.Seek(offset, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  return file.ReadExact(out.data(), out.size());
}

XpStatus LocateJpegExif(XpAbstractFile& file, std::int64_t start, std::int64_t end, XpByteRange* tiff) {
  *tiff = {};
  std::array<std::uint8_t, 2> soi{};
  if (ReadAt(file, start, soi, end) != XpStatus::Ok || soi[0] != 0xFF || soi[1] != 0xD8) {
    return XpStatus::JpegDecodeFailed;
  }
  std::int64_t at = start + 2;
  for (int segment = 0; segment < kMaxSegments; ++segment) {
    std::array<std::uint8_t, 4 + kExifIdLength> head{};
    if (auto st = ReadAt(file, at, std::span(head).first(4), end); st != XpStatus::Ok) {
      return st;
    }
    const bool app = head[1] >= 0xE0 && head[1] <= 0xEF;
    if (head[0] != 0xFF || !(app || head[1] == kComment)) {
      return XpStatus::NoExif;
    }
    const std::int64_t length = XpBytes::Get16(head, 2, XpBytes::kBigEndian);
    if (length < 2 || !Inside(at + 2, length, end)) {
      return XpStatus::PhotoContainerDamaged;
    }
    if (head[1] == kApp1 && length >= 2 + kExifIdLength + 8) {
      if (auto st = ReadAt(file, at + 4, std::span(head).subspan(4), end); st != XpStatus::Ok) {
        return st;
      }
      if (std::memcmp(head.data() + 4, "Exif\0\0", kExifIdLength) == 0) {
        tiff->offset = at + 4 + kExifIdLength;
        tiff->length = length - 2 - kExifIdLength;
        return XpStatus::Ok;
      }
    }
    at += 2 + length;
  }
  return XpStatus::NoExif;
}

}  // namespace XpFormatReader
