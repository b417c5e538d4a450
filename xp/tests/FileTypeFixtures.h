#pragma once

// Small files built byte by byte for the classifier and capture-time tests.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "xp/tests/TestSupport.h"

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

/// A temporary folder that also writes byte fixtures into itself.
class TempDir : public testsupport::TempDir {
 public:
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
};

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}
inline void PutText(Bytes& b, std::size_t at, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    b[at + i] = static_cast<std::uint8_t>(text[i]);
  }
}
inline void Entry(Bytes& b, std::size_t at, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                  std::uint32_t value) {
  Put16(b, at, tag);
  Put16(b, at + 2, type);
  Put32(b, at + 4, count);
  Put32(b, at + 8, value);
}

/// What goes into the little-endian TIFF structure of TiffData.
struct ExifContent {
  std::string make = "ARDO";
  std::string dateTimeOriginal = "2007:03:07 09:05:03";  ///< empty: no tag 36867
  bool makerNote = true;                                 ///< a maker note with the suite's 12-byte header
  std::uint8_t markByte = 1;                             ///< first byte of the maker note's tag 0x1000
  std::uint16_t markType = 7;                            ///< its TIFF type
};

/// IFD0 (Make, Exif pointer), the Exif directory (date, maker note) and a
/// maker note holding one directory with tag 0x1000.
inline Bytes TiffData(const ExifContent& content) {
  Bytes b(200, 0);
  PutText(b, 0, "II");
  Put16(b, 2, 42);
  Put32(b, 4, 8);
  // IFD0 at 8: two entries, then the make text at 38.
  Put16(b, 8, 2);
  Entry(b, 10, 0x010F, 2, static_cast<std::uint32_t>(content.make.size() + 1), 38);
  Entry(b, 22, 0x8769, 4, 1, 60);
  PutText(b, 38, content.make);  // at most 21 characters fit
  // Exif directory at 60: date text at 100, maker note at 130.
  const std::uint16_t exifEntries =
      static_cast<std::uint16_t>((content.dateTimeOriginal.empty() ? 0 : 1) + (content.makerNote ? 1 : 0));
  Put16(b, 60, exifEntries);
  std::size_t at = 62;
  if (!content.dateTimeOriginal.empty()) {
    Entry(b, at, 0x9003, 2, static_cast<std::uint32_t>(content.dateTimeOriginal.size() + 1), 100);
    PutText(b, 100, content.dateTimeOriginal);  // at most 29 characters fit
    at += 12;
  }
  if (content.makerNote) {
    Entry(b, at, 0x927C, 7, 30, 130);
    PutText(b, 130, std::string_view("ARDO DSC \0\0\0", 12));
    Put16(b, 142, 1);
    Entry(b, 144, 0x1000, content.markType, 4, content.markByte);
  }
  return b;
}

/// SOI, an Exif APP1 segment with `tiff`, EOI.
inline Bytes JpegWithExif(const Bytes& tiff) {
  Bytes b{0xFF, 0xD8, 0xFF, 0xE1};
  const std::size_t length = 2 + 6 + tiff.size();
  b.push_back(static_cast<std::uint8_t>(length >> 8));
  b.push_back(static_cast<std::uint8_t>(length));
  for (const char c : std::string_view("Exif\0\0", 6)) {
    b.push_back(static_cast<std::uint8_t>(c));
  }
  b.insert(b.end(), tiff.begin(), tiff.end());
  b.push_back(0xFF);
  b.push_back(0xD9);
  return b;
}

/// A one-pixel GIF89a whose graphic control block has the given delay.
inline Bytes Gif(std::uint16_t delay, int frames = 1) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF};
  for (int i = 0; i < frames; ++i) {
    const Bytes frame{0x21,
                      0xF9,
                      4,
                      0,
                      static_cast<std::uint8_t>(delay),
                      static_cast<std::uint8_t>(delay >> 8),
                      0,
                      0,
                      0x2C,
                      0,
                      0,
                      0,
                      0,
                      1,
                      0,
                      1,
                      0,
                      0,
                      2,
                      2,
                      0x44,
                      0x01,
                      0};
    b.insert(b.end(), frame.begin(), frame.end());
  }
  b.push_back(0x3B);
  return b;
}

}  // namespace fixtures
