#include "xp/formats/XpChunkedFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "xp/formats/XpFormatReader.h"
#include "xp/text/XpHexDigits.h"
#include "xp/tiff/XpByteOrder.h"

namespace XpChunkedFormats {

namespace {

using XpBytes::Get16;
using XpBytes::Get32;
using XpBytes::kBigEndian;
using XpBytes::kLittleEndian;
using XpFormatReader::Inside;
using XpFormatReader::ReadAt;

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::string_view kXmpKeyword = "XML:com.adobe.xmp";
// The iTXt fields before the text: keyword, NUL, compression flag and method,
// then the language tag and translated keyword, each ending in NUL.
constexpr std::int64_t kMaxItxtHeader = 256;

constexpr std::string_view kHexExifKeyword = "Raw profile type exif";

constexpr std::string_view kRafSignature = "FUJIFILMCCD-RAW ";
constexpr std::int64_t kRafJpegPointer = 84;

// An "Exif" identifier and two NULs before a TIFF structure, as some writers
// put into chunks meant to hold the bare structure.
XpByteRange SkipExifIdentifier(XpAbstractFile& file, XpByteRange range) {
  std::array<std::uint8_t, 6> head{};
  if (range.length >= 6 + 8 && ReadAt(file, range.offset, head, range.offset + range.length) == XpStatus::Ok &&
      std::memcmp(head.data(), "Exif\0\0", 6) == 0) {
    range.offset += 6;
    range.length -= 6;
  }
  return range;
}

// The text of an uncompressed XMP iTXt chunk, or an absent range.
XpByteRange ItxtXmp(XpAbstractFile& file, std::int64_t data, std::int64_t end) {
  std::array<std::uint8_t, kMaxItxtHeader> head{};
  const auto n = static_cast<std::size_t>(std::min<std::int64_t>(kMaxItxtHeader, end - data));
  if (n < kXmpKeyword.size() + 5 || ReadAt(file, data, std::span(head).first(n), end) != XpStatus::Ok) {
    return {};
  }
  if (std::memcmp(head.data(), kXmpKeyword.data(), kXmpKeyword.size()) != 0 || head[kXmpKeyword.size()] != 0 ||
      head[kXmpKeyword.size() + 1] != 0) {
    return {};
  }
  // Past the flag and method: two NUL-terminated texts.
  std::size_t at = kXmpKeyword.size() + 3;
  for (int text = 0; text < 2; ++text) {
    while (at < n && head[at] != 0) {
      ++at;
    }
    if (at >= n) {
      return {};
    }
    ++at;
  }
  return {data + static_cast<std::int64_t>(at), end - data - static_cast<std::int64_t>(at)};
}

}  // namespace

XpStatus LocatePng(XpAbstractFile& file, XpPhotoLayout* layout) {
  const std::int64_t length = file.GetLength();
  std::array<std::uint8_t, 8> signature{};
  if (ReadAt(file, 0, signature, length) != XpStatus::Ok || signature != kPngSignature) {
    return XpStatus::JpegDecodeFailed;
  }
  std::int64_t at = 8;
  for (int count = 0; count < kMaxChunks && at < length; ++count) {
    std::array<std::uint8_t, 8> head{};
    if (auto st = ReadAt(file, at, head, length); st != XpStatus::Ok) {
      return layout->tiff.IsPresent() || layout->xmp.IsPresent() ? XpStatus::Ok : st;
    }
    const std::int64_t size = Get32(head, 0, kBigEndian);
    const std::int64_t data = at + 8;
    // The data and its 4-byte check value.
    if (size > 0x7FFFFFFF || !Inside(data, size + 4, length)) {
      return layout->tiff.IsPresent() || layout->xmp.IsPresent() ? XpStatus::Ok : XpStatus::PhotoContainerDamaged;
    }
    const std::string_view type(reinterpret_cast<const char*>(head.data() + 4), 4);
    if (type == "eXIf" && !layout->tiff.IsPresent()) {
      layout->tiff = SkipExifIdentifier(file, {data, size});
    } else if (type == "iTXt" && !layout->xmp.IsPresent()) {
      layout->xmp = ItxtXmp(file, data, data + size);
    } else if (type == "tEXt" && !layout->hexExif.IsPresent() && size > std::int64_t(kHexExifKeyword.size())) {
      std::array<char, kHexExifKeyword.size() + 1> keyword{};
      if (ReadAt(file, data, std::span(reinterpret_cast<std::uint8_t*>(keyword.data()), keyword.size()), data + size) ==
              XpStatus::Ok &&
          std::string_view(keyword.data(), keyword.size()) ==
              std::string_view(kHexExifKeyword.data(), keyword.size())) {
        const auto skip = static_cast<std::int64_t>(keyword.size());
        layout->hexExif = {data + skip, size - skip};
      }
    } else if (type == "IEND") {
      break;
    }
    at = data + size + 4;
  }
  return XpStatus::Ok;
}

bool DecodeHexProfile(std::string_view text, std::size_t maxBytes, std::vector<std::uint8_t>* out) {
  out->clear();
  std::size_t at = 0;
  const auto skipSpace = [&] {
    while (at < text.size() && (text[at] == '\n' || text[at] == ' ' || text[at] == '\r' || text[at] == '\t')) {
      ++at;
    }
  };
  skipSpace();
  while (at < text.size() && text[at] != '\n') {
    ++at;  // the profile's name
  }
  skipSpace();
  std::size_t length = 0;
  bool digits = false;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    length = length * 10 + static_cast<std::size_t>(text[at++] - '0');
    digits = true;
    if (length > maxBytes) {
      return false;
    }
  }
  if (!digits) {
    return false;
  }
  out->reserve(length);
  while (out->size() < length) {
    skipSpace();
    if (at + 1 >= text.size()) {
      out->clear();
      return false;
    }
    const int value = XpHexByteValue(text[at], text[at + 1]);
    if (value < 0) {
      out->clear();
      return false;
    }
    out->push_back(static_cast<std::uint8_t>(value));
    at += 2;
  }
  if (out->size() >= 6 && std::memcmp(out->data(), "Exif\0\0", 6) == 0) {
    out->erase(out->begin(), out->begin() + 6);
  }
  return true;
}

XpStatus LocateWebp(XpAbstractFile& file, XpPhotoLayout* layout) {
  const std::int64_t length = file.GetLength();
  std::array<std::uint8_t, 12> head{};
  if (ReadAt(file, 0, head, length) != XpStatus::Ok || std::memcmp(head.data(), "RIFF", 4) != 0 ||
      std::memcmp(head.data() + 8, "WEBP", 4) != 0) {
    return XpStatus::JpegDecodeFailed;
  }
  // The RIFF size counts from byte 8; a file cut short is read as far as it goes.
  const std::int64_t end = std::min<std::int64_t>(length, std::int64_t{8} + Get32(head, 4, kLittleEndian));
  std::int64_t at = 12;
  for (int count = 0; count < kMaxChunks && at + 8 <= end; ++count) {
    std::array<std::uint8_t, 8> chunk{};
    if (auto st = ReadAt(file, at, chunk, end); st != XpStatus::Ok) {
      return st;
    }
    const std::int64_t size = Get32(chunk, 4, kLittleEndian);
    const std::int64_t data = at + 8;
    if (!Inside(data, size, end)) {
      return layout->tiff.IsPresent() || layout->xmp.IsPresent() ? XpStatus::Ok : XpStatus::PhotoContainerDamaged;
    }
    const std::string_view type(reinterpret_cast<const char*>(chunk.data()), 4);
    if (type == "EXIF" && !layout->tiff.IsPresent()) {
      layout->tiff = SkipExifIdentifier(file, {data, size});
    } else if (type == "XMP " && !layout->xmp.IsPresent()) {
      layout->xmp = {data, size};
    }
    // Chunks are padded to an even length.
    at = data + size + (size & 1);
  }
  return XpStatus::Ok;
}

XpStatus LocateRaf(XpAbstractFile& file, XpPhotoLayout* layout) {
  const std::int64_t length = file.GetLength();
  std::array<std::uint8_t, kRafJpegPointer + 8> head{};
  if (ReadAt(file, 0, head, length) != XpStatus::Ok ||
      std::memcmp(head.data(), kRafSignature.data(), kRafSignature.size()) != 0) {
    return XpStatus::JpegDecodeFailed;
  }
  const std::int64_t offset = Get32(head, kRafJpegPointer, kBigEndian);
  const std::int64_t size = Get32(head, kRafJpegPointer + 4, kBigEndian);
  if (offset < static_cast<std::int64_t>(head.size()) || !Inside(offset, size, length)) {
    return XpStatus::PhotoContainerDamaged;
  }
  layout->jpeg = {offset, size};
  return XpFormatReader::LocateJpegExif(file, offset, offset + size, &layout->tiff);
}

}  // namespace XpChunkedFormats
