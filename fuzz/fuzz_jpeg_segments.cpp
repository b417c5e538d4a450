// Feeds arbitrary bytes to the JPEG segment walk and to the splice built on
// it. The walk must end in a status with a layout that lies inside the input;
// a splice that succeeds must carry the input from its first table or frame
// segment to its end unchanged, behind SOI, the new block and the leading run.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegSegments.h"
#include "xp/image/XpMemoryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto length = static_cast<std::int64_t>(size);

  XpMemoryFile file(bytes);
  XpJpegSegments::Layout layout;
  const XpStatus walked = XpJpegSegments::Walk(file, 0, &layout);
  if (layout.segments.size() > XpJpegSegments::kMaxHeaderSegments || layout.leadingCount > layout.segments.size() ||
      layout.exifCount > layout.segments.size()) {
    __builtin_trap();
  }
  for (const auto& segment : layout.segments) {
    if (segment.position < 2 || segment.position + segment.size > length) {
      __builtin_trap();
    }
  }
  if (walked == XpStatus::Ok) {
    if (layout.scanStart < 0 || layout.scanStart >= length || layout.tailStart < 2 ||
        layout.tailStart > layout.scanStart) {
      __builtin_trap();
    }
    std::int64_t end = 0;
    if (XpJpegSegments::FindImageEnd(file, layout, &end) == XpStatus::Ok &&
        (end != -1 && (end <= layout.scanStart || end > length))) {
      __builtin_trap();
    }
    XpJpegSegments::Frame frame;
    if (layout.framePosition >= 0) {
      (void)XpJpegSegments::ReadFrame(file, layout.framePosition, &frame);
    }
  }

  const std::vector<std::uint8_t> blockBytes = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0,
                                                8,   0,   0,   0,   0, 0, 0,   0,   0,  0};
  for (const bool withBlock : {false, true}) {
    XpMemoryFile source(bytes);
    XpMemoryFile copy;
    const XpMemoryFile block = withBlock ? XpMemoryFile{blockBytes} : XpMemoryFile{};
    if (XpExifRewrite::TranscodeWithExif(block, source, copy) != XpStatus::Ok) {
      continue;
    }
    const auto out = copy.Bytes();
    const auto tail = static_cast<std::size_t>(length - layout.tailStart);
    if (walked != XpStatus::Ok || out.size() < tail + 2 ||
        !std::equal(out.end() - static_cast<std::ptrdiff_t>(tail), out.end(),
                    bytes.end() - static_cast<std::ptrdiff_t>(tail))) {
      __builtin_trap();
    }
    if (!withBlock && !std::equal(out.begin(), out.end(), bytes.begin(), bytes.end())) {
      __builtin_trap();
    }
  }
  return 0;
}
