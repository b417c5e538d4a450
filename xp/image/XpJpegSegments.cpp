#include "xp/image/XpJpegSegments.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace XpJpegSegments {
namespace {

constexpr std::size_t kWindow = 65536;

/// Reads a stream through one buffer, so that a run of small segments costs
/// one read per 64 KiB instead of a seek and a read per segment.
class Window {
 public:
  explicit Window(XpAbstractFile& stream) : m_stream(stream), m_bytes(kWindow) {}

  /// The `count` bytes at `position` (count at most kWindow), or null when the
  /// stream ends before them or cannot be read there.
  const std::uint8_t* At(std::int64_t position, std::size_t count) {
    if (position < 0 || count > kWindow) {
      return nullptr;
    }
    if (position >= m_base && position - m_base + static_cast<std::int64_t>(count) <= m_length) {
      return m_bytes.data() + (position - m_base);
    }
    return Load(position, count);
  }

  /// The bytes from `position` to the end of the window (loading it there
  /// when needed); `*count` receives how many, at least 1. Null at the end.
  const std::uint8_t* From(std::int64_t position, std::size_t* count) {
    const std::uint8_t* bytes = At(position, 1);
    *count = bytes == nullptr ? 0 : static_cast<std::size_t>(m_length - (position - m_base));
    return bytes;
  }

 private:
  const std::uint8_t* Load(std::int64_t position, std::size_t count) {
    if (m_stream.Seek(position, XpAbstractFile::kBegin) != XpStatus::Ok) {
      return nullptr;
    }
    m_base = position;
    m_length = 0;
    while (m_length < static_cast<std::int64_t>(kWindow)) {
      std::uint64_t got = 0;
      const XpStatus st = m_stream.Read(m_bytes.data() + m_length, kWindow - static_cast<std::size_t>(m_length), &got);
      // A short read brings the last bytes together with the end status.
      m_length += static_cast<std::int64_t>(got);
      if (st != XpStatus::Ok || got == 0) {
        break;
      }
    }
    return static_cast<std::int64_t>(count) <= m_length ? m_bytes.data() : nullptr;
  }

  XpAbstractFile& m_stream;
  std::vector<std::uint8_t> m_bytes;
  std::int64_t m_base = 0;
  std::int64_t m_length = 0;
};

}  // namespace

XpStatus Walk(XpAbstractFile& stream, std::int64_t start, Layout* layout) {
  *layout = Layout{};
  layout->start = start;
  Window window(stream);
  const std::uint8_t* soi = window.At(start, 2);
  if (soi == nullptr || soi[0] != 0xFF || soi[1] != kMarkerSoi) {
    return XpStatus::JpegDecodeFailed;
  }
  const std::int64_t streamLength = stream.GetLength();
  std::int64_t position = start + 2;
  bool leading = true;
  bool appRun = true;
  // Every step moves forward by at least one byte, so the walk ends at the
  // stream's end at the latest.
  for (;;) {
    const std::uint8_t* head = window.At(position, 2);
    if (head == nullptr || head[0] != 0xFF) {
      return XpStatus::JpegDecodeFailed;
    }
    const std::uint8_t marker = head[1];
    if (marker == 0xFF) {
      ++position;  // a fill byte
      continue;
    }
    if (appRun && !IsAppMarker(marker)) {
      appRun = false;
      layout->appRunComplete = true;
    }
    if (leading && !IsAppMarker(marker) && marker != kMarkerCom) {
      leading = false;
      layout->tailStart = position;
    }
    if (marker == kMarkerSos) {
      layout->scanStart = position;
      return XpStatus::Ok;
    }
    if (marker == 0x00 && !leading) {
      // Stray bytes among the tables, which decoders skip with a warning up
      // to the next marker; they belong to the copied tail.
      position += 2;
      for (const std::uint8_t* next = window.At(position, 1); next != nullptr && next[0] != 0xFF;
           next = window.At(position, 1)) {
        ++position;
      }
      continue;
    }
    if (marker == kMarkerSoi || marker == kMarkerEoi || marker == 0x00) {
      return XpStatus::JpegDecodeFailed;
    }
    if (layout->segments.size() >= kMaxHeaderSegments) {
      return XpStatus::TooManySegments;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      // TEM and RSTn carry no length.
      layout->segments.push_back({marker, position, 2, false});
      position += 2;
      continue;
    }
    const std::uint8_t* lengthBytes = window.At(position + 2, 2);
    if (lengthBytes == nullptr) {
      return XpStatus::JpegDecodeFailed;
    }
    const std::uint32_t length = (std::uint32_t{lengthBytes[0]} << 8) | lengthBytes[1];
    if (length < 2) {
      return XpStatus::JpegDecodeFailed;
    }
    Segment segment{marker, position, 2 + length, false};
    if (streamLength >= 0 && position + segment.size > streamLength) {
      return XpStatus::JpegDecodeFailed;  // cut off inside the segment
    }
    if (marker == kMarkerApp1 && length >= 8) {
      const std::uint8_t* id = window.At(position + 4, 4);
      segment.exif = id != nullptr && std::memcmp(id, "Exif", 4) == 0;
    }
    if (segment.exif) {
      ++layout->exifCount;
    }
    if (IsFrameMarker(marker) && layout->framePosition < 0) {
      layout->framePosition = position;
    }
    layout->segments.push_back(segment);
    if (leading) {
      ++layout->leadingCount;
    }
    position += segment.size;
  }
}

XpStatus FindImageEnd(XpAbstractFile& stream, const Layout& layout, std::int64_t* end) {
  *end = -1;
  if (layout.scanStart < 0) {
    return XpStatus::Ok;
  }
  Window window(stream);
  std::int64_t position = layout.scanStart;
  bool inSegment = true;  // standing on a marker with a length field
  for (;;) {
    if (inSegment) {
      const std::uint8_t* lengthBytes = window.At(position + 2, 2);
      if (lengthBytes == nullptr) {
        return XpStatus::Ok;
      }
      const std::uint32_t length = (std::uint32_t{lengthBytes[0]} << 8) | lengthBytes[1];
      if (length < 2) {
        return XpStatus::Ok;
      }
      position += 2 + length;
      inSegment = false;
    }
    // The entropy-coded data (or fill bytes) up to the next marker.
    const std::uint8_t* bytes = window.At(position, 2);
    if (bytes == nullptr) {
      return XpStatus::Ok;
    }
    if (bytes[0] != 0xFF) {
      std::size_t available = 0;
      const std::uint8_t* run = window.From(position, &available);
      const void* hit = std::memchr(run, 0xFF, available);
      position += hit == nullptr ? static_cast<std::int64_t>(available) : static_cast<const std::uint8_t*>(hit) - run;
      continue;
    }
    const std::uint8_t marker = bytes[1];
    if (marker == 0x00 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {
      // Stuffed byte, fill byte or restart marker: still scan data.
      position += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker == kMarkerEoi) {
      *end = position + 2;
      return XpStatus::Ok;
    }
    if (marker == kMarkerSoi || marker == 0x01) {
      position += 2;
      continue;
    }
    inSegment = true;  // DHT, SOS, DRI, COM, ... between scans
  }
}

XpStatus ReadFrame(XpAbstractFile& stream, std::int64_t position, Frame* frame) {
  *frame = Frame{};
  std::array<std::uint8_t, 10> head{};
  if (stream.Seek(position, XpAbstractFile::kBegin) != XpStatus::Ok ||
      stream.ReadExact(head.data(), head.size()) != XpStatus::Ok || !IsFrameMarker(head[1])) {
    return XpStatus::JpegDecodeFailed;
  }
  const std::uint32_t length = (std::uint32_t{head[2]} << 8) | head[3];
  const int components = head[9];
  if (components == 0 || length < 8 + 3U * static_cast<std::uint32_t>(components)) {
    return XpStatus::JpegDecodeFailed;
  }
  frame->height = (std::uint32_t{head[5]} << 8) | head[6];
  frame->width = (std::uint32_t{head[7]} << 8) | head[8];
  for (int i = 0; i < components; ++i) {
    std::array<std::uint8_t, 3> component{};
    if (stream.ReadExact(component.data(), component.size()) != XpStatus::Ok) {
      return XpStatus::JpegDecodeFailed;
    }
    const int h = component[1] >> 4;
    const int v = component[1] & 0x0F;
    if (h < 1 || h > 4 || v < 1 || v > 4) {
      return XpStatus::JpegDecodeFailed;
    }
    frame->maxH = std::max(frame->maxH, h);
    frame->maxV = std::max(frame->maxV, v);
  }
  return XpStatus::Ok;
}

}  // namespace XpJpegSegments
