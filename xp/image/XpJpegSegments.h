#pragma once

// One pass over the marker segments of a JPEG stream, from SOI to the first
// scan. Every reader and the rewrite use it, so that no input costs more than
// one look at each segment header, and a stream made of nothing but tiny
// segments is refused instead of being worked through.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"

namespace XpJpegSegments {

/// More marker segments than this before the first scan mark a stream as
/// absurd. Real photos carry a few dozen at most (a split ICC profile or
/// extended XMP packet adds one per 64 KiB).
inline constexpr std::size_t kMaxHeaderSegments = 4096;

inline constexpr std::uint8_t kMarkerSoi = 0xD8;
inline constexpr std::uint8_t kMarkerEoi = 0xD9;
inline constexpr std::uint8_t kMarkerSos = 0xDA;
inline constexpr std::uint8_t kMarkerApp1 = 0xE1;
inline constexpr std::uint8_t kMarkerCom = 0xFE;

[[nodiscard]] constexpr bool IsAppMarker(std::uint8_t marker) { return marker >= 0xE0 && marker <= 0xEF; }
/// SOF0..SOF15 without DHT (0xC4), JPG (0xC8) and DAC (0xCC).
[[nodiscard]] constexpr bool IsFrameMarker(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

/// One segment with a length field.
struct Segment {
  std::uint8_t marker = 0;
  std::int64_t position = 0;  ///< of its 0xFF byte
  std::uint32_t size = 0;     ///< marker, length field and payload
  bool exif = false;          ///< an APP1 whose payload begins with "Exif"
};

/// What lies between SOI and the first scan.
struct Layout {
  std::int64_t start = 0;           ///< the SOI's position
  std::vector<Segment> segments;    ///< in file order, the SOS not included
  std::size_t leadingCount = 0;     ///< segments in the APPn and COM run right after SOI
  std::int64_t tailStart = -1;      ///< the first table or frame segment (or the SOS); -1 when not reached
  std::int64_t scanStart = -1;      ///< the first SOS; -1 when not reached
  std::int64_t framePosition = -1;  ///< the first SOFn; -1 when there is none
  std::size_t exifCount = 0;        ///< APP1 Exif segments among `segments`
  /// True when SOI and the APPn run behind it are whole and a marker follows
  /// them: the most the reader's pre-check asks for.
  bool appRunComplete = false;
};

/// Walks the stream from `start`: SOI, then segment by segment (fill bytes
/// 0xFF before a marker are allowed, RSTn and TEM stand alone) up to the
/// first SOS, reading each header once through a 64 KiB window. `*layout`
/// holds what was seen, also on failure. Answers 0 when the SOS was reached,
/// 0x860C once more than kMaxHeaderSegments segments were seen, 0x8602 for a
/// stream that does not start with SOI, a segment length below 2, a byte other
/// than 0xFF where a marker must stand, SOI or EOI before the first scan, or a
/// stream that ends before it (inside a segment included: `segments` only
/// lists whole ones). The stream position is left undefined.
[[nodiscard]] XpStatus Walk(XpAbstractFile& stream, std::int64_t start, Layout* layout);

/// Finds the end of the image whose header `layout` describes (Walk answered
/// 0): from the first SOS on, the entropy-coded data is searched for markers
/// (0xFF followed by neither 0x00 nor RSTn nor a fill byte), segments between
/// scans are skipped by their length, and the walk stops behind EOI.
/// `*end` receives the position right behind the EOI marker, or -1 when the
/// stream ends (or breaks) before one. Answers the stream's read status only
/// when a read fails for another reason than the end.
[[nodiscard]] XpStatus FindImageEnd(XpAbstractFile& stream, const Layout& layout, std::int64_t* end);

/// Image size and sampling read from the frame segment at `position`.
struct Frame {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int maxH = 1;  ///< largest horizontal sampling factor
  int maxV = 1;  ///< largest vertical sampling factor
};

/// Reads the frame segment at `position`. 0x8602 when it is shorter than its
/// component list or a sampling factor lies outside 1..4.
[[nodiscard]] XpStatus ReadFrame(XpAbstractFile& stream, std::int64_t position, Frame* frame);

}  // namespace XpJpegSegments
