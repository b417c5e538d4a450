#include "xp/image/XpExifRewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "xp/base/XpReplaceFile.h"
#include "xp/image/XpExifEdit.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpJpegLib.h"
#include "xp/image/XpJpegSegments.h"
#include "xp/image/XpPhotoReplace.h"
#include "xp/image/XpXmpGps.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpByteOrder.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace XpExifRewrite {
namespace {

using XpBytes::Get16;
using XpBytes::Get32;
using XpBytes::Put32;

constexpr std::array<std::uint8_t, 6> kExifHeader = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint32_t kMaxDirectoryEntries = 1000;
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;
// Where the TIFF data of a rewritten file starts: SOI, the APP1 marker and
// length, "Exif" and two NULs.
constexpr std::int64_t kNewTiffBase = 12;

// ---------------------------------------------------------------------------
// Small stream helpers

[[nodiscard]] XpStatus ReadAt(XpAbstractFile& file, std::int64_t position, std::span<std::uint8_t> out) {
  if (auto st = file.Seek(position, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  return file.ReadExact(out.data(), out.size());
}

[[nodiscard]] XpStatus WriteAt(XpAbstractFile& file, std::int64_t position, std::span<const std::uint8_t> bytes) {
  if (auto st = file.Seek(position, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  return file.WriteAll(bytes.data(), bytes.size());
}

// True when [offset, offset + size) lies inside a stream of `length` bytes.
bool InRange(std::int64_t offset, std::uint64_t size, std::int64_t length) {
  std::int64_t end = 0;
  if (offset < 0 || size > static_cast<std::uint64_t>(INT64_MAX) ||
      __builtin_add_overflow(offset, static_cast<std::int64_t>(size), &end)) {
    return false;
  }
  return end <= length;
}

/// Copies `size` bytes at `from` in `source` to the end of `destination`.
[[nodiscard]] XpStatus CopyRange(XpAbstractFile& source, std::int64_t from, std::uint64_t size,
                                 XpAbstractFile& destination) {
  if (auto st = source.Seek(from, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = destination.Seek(0, XpAbstractFile::kEnd); st != XpStatus::Ok) {
    return st;
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyBuffer)));
  while (size > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, buffer.size()));
    if (auto st = source.ReadExact(buffer.data(), piece); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = destination.WriteAll(buffer.data(), piece); st != XpStatus::Ok) {
      return st;
    }
    size -= piece;
  }
  return XpStatus::Ok;
}

// ---------------------------------------------------------------------------
// Raw TIFF walking over a file, for the checks and in-place patches that
// must not go through a parsed tree.

struct TiffHeader {
  std::int64_t base = 0;
  bool bigEndian = false;
  std::uint32_t ifd0 = 0;
};

/// Locates the Exif block and reads its TIFF header.
[[nodiscard]] XpStatus ReadTiffHeader(XpAbstractFile& file, TiffHeader* header) {
  if (auto st = XpJpegExif::LocateExif(file, 0); st != XpStatus::Ok) {
    return st;
  }
  header->base = file.GetPosition();
  std::array<std::uint8_t, 8> bytes{};
  if (file.ReadExact(bytes.data(), bytes.size()) != XpStatus::Ok) {
    return XpStatus::JpegDecodeFailed;
  }
  if (bytes[0] == 'M' && bytes[1] == 'M') {
    header->bigEndian = true;
  } else if (bytes[0] == 'I' && bytes[1] == 'I') {
    header->bigEndian = false;
  } else {
    return XpStatus::JpegDecodeFailed;
  }
  if (Get16(bytes, 2, header->bigEndian) != 42) {
    return XpStatus::JpegDecodeFailed;
  }
  header->ifd0 = Get32(bytes, 4, header->bigEndian);
  return XpStatus::Ok;
}

struct RawEntry {
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;         // the value field as a 32-bit number
  std::int64_t valuePosition = 0;  // where the value field lies in the file
};

/// Finds `tag` in the directory at base + offset. Nothing for a directory or
/// entry that does not lie inside the file.
std::optional<RawEntry> FindRawEntry(XpAbstractFile& file, const TiffHeader& header, std::uint32_t offset,
                                     std::uint16_t tag) {
  const std::int64_t length = file.GetLength();
  const std::int64_t position = header.base + offset;
  std::array<std::uint8_t, 2> countBytes{};
  if (!InRange(position, 2, length) || ReadAt(file, position, countBytes) != XpStatus::Ok) {
    return std::nullopt;
  }
  const std::uint16_t count = Get16(countBytes, 0, header.bigEndian);
  if (count > kMaxDirectoryEntries || !InRange(position + 2, 12U * count, length)) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> table(12U * count);
  if (ReadAt(file, position + 2, table) != XpStatus::Ok) {
    return std::nullopt;
  }
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t e = 12U * i;
    if (Get16(table, e, header.bigEndian) == tag) {
      return RawEntry{Get16(table, e + 2, header.bigEndian), Get32(table, e + 4, header.bigEndian),
                      Get32(table, e + 8, header.bigEndian), position + 2 + 12 * std::int64_t{i} + 8};
    }
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Frame header comparison

struct FrameHeader {
  JDIMENSION width = 0;
  JDIMENSION height = 0;
  int components = 0;
  std::vector<int> layout;  // id, h, v, table per component
  bool operator==(const FrameHeader&) const = default;
};

[[nodiscard]] XpStatus ReadFrameHeader(XpAbstractFile& file, FrameHeader* frame) {
  if (auto st = file.Seek(0, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  return JpegRun(XpStatus::JpegDecodeFailed, [&]() {
    JpegDecompressor dec;
    dec.SetSource(file);
    if (jpeg_read_header(dec.Get(), TRUE) != JPEG_HEADER_OK) {
      return XpStatus::JpegDecodeFailed;
    }
    frame->width = dec->image_width;
    frame->height = dec->image_height;
    frame->components = dec->num_components;
    for (int ci = 0; ci < dec->num_components; ++ci) {
      const jpeg_component_info& comp = dec->comp_info[ci];
      frame->layout.insert(frame->layout.end(),
                           {comp.component_id, comp.h_samp_factor, comp.v_samp_factor, comp.quant_tbl_no});
    }
    return XpStatus::Ok;
  });
}

// ---------------------------------------------------------------------------
// The splice: the new Exif segment in front of the source's own bytes

/// A piece of the source copied unchanged into the new file.
struct CopiedRange {
  std::int64_t from = 0;  ///< position in the source
  std::uint64_t size = 0;
  std::int64_t to = 0;  ///< position in the new file
};

/// How the new file is put together: SOI, the new Exif segment, the source's
/// leading run of APPn and COM segments without the Exif segment it replaces,
/// then `tail`. The tail is the source from its first table or frame segment
/// to its very end, so the image data (whatever its coding) and anything
/// behind it are the source's bytes.
struct Splice {
  XpJpegSegments::Layout layout;
  std::int64_t exifPosition = -1;  ///< the replaced segment; -1 for none
  std::uint32_t exifSize = 0;
  std::int64_t headerLength = 0;  ///< of the new file, up to the tail
  std::vector<CopiedRange> tail;  ///< in increasing order; zero bytes fill the gaps
  /// A segment of the leading run written anew (the XMP packet edited in the
  /// same write): its position and size in the source and its new bytes.
  std::int64_t replacedPosition = -1;
  std::uint32_t replacedSize = 0;
  std::vector<std::uint8_t> replacement;
  /// The Exif data continues in the next segment, which the new block
  /// replaces as well.
  bool continued = false;
};

std::int64_t AlignPreview(std::int64_t position) {
  const auto alignment = static_cast<std::int64_t>(kPreviewAlignment);
  return (position + alignment - 1) / alignment * alignment;
}

/// Walks the source from `start` and lays out the splice for a new Exif block
/// of `blockSize` bytes (0: the source's segments stay as they are).
[[nodiscard]] XpStatus PlanSplice(XpAbstractFile& source, std::int64_t start, std::uint64_t blockSize, Splice* splice) {
  XpJpegSegments::Layout& layout = splice->layout;
  if (auto st = XpJpegSegments::Walk(source, start, &layout); st != XpStatus::Ok) {
    return st == XpStatus::TooManySegments ? st : XpStatus::JpegDecodeFailed;
  }
  const std::int64_t length = source.GetLength();
  if (layout.framePosition < 0 || length < layout.tailStart) {
    return XpStatus::JpegDecodeFailed;
  }
  std::int64_t header = layout.tailStart - start;
  if (blockSize > 0) {
    // The new block replaces the first Exif segment of the leading run. Any
    // other Exif segment would stay beside it and contradict it.
    const auto leadingEnd = layout.segments.begin() + static_cast<std::ptrdiff_t>(layout.leadingCount);
    const auto replaced =
        std::find_if(layout.segments.begin(), leadingEnd, [](const XpJpegSegments::Segment& s) { return s.exif; });
    const bool continued = splice->continued && layout.exifCount == 2 && replaced + 1 < leadingEnd &&
                           (replaced + 1)->exif && (replaced + 1)->position == replaced->position + replaced->size;
    if ((layout.exifCount > 1 && !continued) || (layout.exifCount == 1 && replaced == leadingEnd)) {
      return XpStatus::ExifDamaged;
    }
    if (replaced != leadingEnd) {
      splice->exifPosition = replaced->position;
      splice->exifSize = replaced->size + (continued ? (replaced + 1)->size : 0);
      header -= splice->exifSize;
    }
    header += 4 + static_cast<std::int64_t>(blockSize);
  }
  if (splice->replacedPosition >= 0) {
    header += static_cast<std::int64_t>(splice->replacement.size()) - splice->replacedSize;
  }
  splice->headerLength = header;
  splice->tail = {{layout.tailStart, static_cast<std::uint64_t>(length - layout.tailStart), header}};
  return XpStatus::Ok;
}

/// Decides where the maker-note preview at source position `from` ends up and
/// answers that position in the new file (-1 when it is not in the source).
/// A preview behind the image, after nothing but zero padding, starts on a
/// multiple of kPreviewAlignment again: the padding is laid anew. A preview
/// elsewhere in the tail moves with it. One before the tail (inside the old
/// header) is appended behind the tail, aligned.
[[nodiscard]] XpStatus PlacePreview(XpAbstractFile& source, std::int64_t from, std::uint32_t length, Splice* splice,
                                    std::int64_t* placed) {
  *placed = -1;
  if (length == 0 || !InRange(from, length, source.GetLength()) || splice->tail.size() != 1) {
    return XpStatus::Ok;
  }
  CopiedRange& whole = splice->tail.front();
  const std::int64_t tailEnd = whole.to + static_cast<std::int64_t>(whole.size);
  if (from < whole.from) {
    *placed = AlignPreview(tailEnd);
    splice->tail.push_back({from, length, *placed});
    return XpStatus::Ok;
  }
  *placed = from + (whole.to - whole.from);
  std::int64_t imageEnd = -1;
  if (auto st = XpJpegSegments::FindImageEnd(source, splice->layout, &imageEnd); st != XpStatus::Ok) {
    return st;
  }
  if (imageEnd < whole.from || imageEnd > from) {
    return XpStatus::Ok;
  }
  std::vector<std::uint8_t> gap(
      static_cast<std::size_t>(std::min<std::int64_t>(from - imageEnd, std::int64_t{kCopyBuffer})));
  for (std::int64_t at = imageEnd; at < from;) {
    const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(from - at, std::int64_t{kCopyBuffer}));
    if (auto st = ReadAt(source, at, std::span(gap.data(), piece)); st != XpStatus::Ok) {
      return st;
    }
    if (std::any_of(gap.begin(), gap.begin() + static_cast<std::ptrdiff_t>(piece), [](std::uint8_t b) { return b; })) {
      return XpStatus::Ok;  // something else lies between: keep it, and the preview where it is
    }
    at += static_cast<std::int64_t>(piece);
  }
  whole.size = static_cast<std::uint64_t>(imageEnd - whole.from);
  *placed = AlignPreview(whole.to + static_cast<std::int64_t>(whole.size));
  splice->tail.push_back({from, static_cast<std::uint64_t>(source.GetLength() - from), *placed});
  return XpStatus::Ok;
}

/// Points the maker sub-IFD's preview entry (0x0088) in the new Exif block at
/// `position` of the new file, where the TIFF data starts at 12 (SOI, the APP1
/// marker and length, "Exif" and two NULs). Any link missing ends the patch
/// without error.
[[nodiscard]] XpStatus PointPreviewAt(XpMemoryFile& block, std::int64_t position) {
  const auto bytes = block.Bytes();
  if (bytes.size() < kExifHeader.size() + 8) {
    return XpStatus::Ok;
  }
  TiffHeader header;
  header.base = static_cast<std::int64_t>(kExifHeader.size());
  header.bigEndian = bytes[kExifHeader.size()] == 'M';
  header.ifd0 = Get32(bytes, kExifHeader.size() + 4, header.bigEndian);
  const auto exifEntry = FindRawEntry(block, header, header.ifd0, kTagExifIFD);
  if (!exifEntry || (exifEntry->type != kTiffTypeLong && exifEntry->type != kTiffTypeIFD) || exifEntry->count != 1) {
    return XpStatus::Ok;
  }
  const auto note = FindRawEntry(block, header, exifEntry->value, kTagMakerNote);
  if (!note || note->type != kTiffTypeUndefined || note->count < 5 || note->count > 65536) {
    return XpStatus::Ok;
  }
  std::array<std::uint8_t, 11> signature{};
  if (!InRange(header.base + note->value, signature.size(), block.GetLength()) ||
      ReadAt(block, header.base + note->value, signature) != XpStatus::Ok) {
    return XpStatus::Ok;
  }
  if (std::memcmp(signature.data(), "ARDO DSC \0", 10) != 0 || static_cast<std::int8_t>(signature[10]) > 0) {
    return XpStatus::Ok;
  }
  std::uint32_t makerDir = 0;
  if (__builtin_add_overflow(note->value, 12U, &makerDir)) {
    return XpStatus::Ok;
  }
  const auto sub = FindRawEntry(block, header, makerDir, kTagMakerSubIFD);
  if (!sub || (sub->type != kTiffTypeLong && sub->type != kTiffTypeIFD)) {
    return XpStatus::Ok;
  }
  const auto previewEntry = FindRawEntry(block, header, sub->value, kTagMakerPreviewOffset);
  if (!previewEntry || previewEntry->type != kTiffTypeLong) {
    return XpStatus::Ok;
  }
  const std::int64_t relative = position - kNewTiffBase;
  if (relative < 0 || relative > std::int64_t{UINT32_MAX}) {
    return XpStatus::Ok;
  }
  std::array<std::uint8_t, 4> value{};
  Put32(value, 0, static_cast<std::uint32_t>(relative), header.bigEndian);
  return WriteAt(block, previewEntry->valuePosition, value);
}

/// Lays out the rewrite of `source` with the new `block`, carrying the
/// maker-note preview (source TIFF offset `previewOffset`, 0 for none) when
/// it lies behind the Exif segment (one inside the block keeps its offset
/// with the block).
[[nodiscard]] XpStatus PlanRewrite(XpAbstractFile& source, XpMemoryFile& block, std::int64_t base,
                                   std::int64_t segmentEnd, std::uint32_t previewOffset, std::uint32_t previewLength,
                                   Splice* splice) {
  if (auto st = PlanSplice(source, 0, static_cast<std::uint64_t>(block.GetLength()), splice); st != XpStatus::Ok) {
    return st;
  }
  if (previewOffset == 0 || previewLength == 0 || base + std::int64_t{previewOffset} < segmentEnd) {
    return XpStatus::Ok;
  }
  std::int64_t placed = -1;
  const std::int64_t from = base + std::int64_t{previewOffset};
  if (auto st = PlacePreview(source, from, previewLength, splice, &placed); st != XpStatus::Ok) {
    return st;
  }
  return placed < 0 ? XpStatus::Ok : PointPreviewAt(block, placed);
}

/// Writes the spliced file from the destination's start.
[[nodiscard]] XpStatus WriteSplice(XpAbstractFile& source, std::span<const std::uint8_t> block, const Splice& splice,
                                   XpAbstractFile& destination) {
  if (auto st = destination.Seek(0, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  const std::array<std::uint8_t, 2> soi = {0xFF, XpJpegSegments::kMarkerSoi};
  if (auto st = destination.WriteAll(soi.data(), soi.size()); st != XpStatus::Ok) {
    return st;
  }
  if (!block.empty()) {
    const auto length = static_cast<std::uint16_t>(block.size() + 2);
    const std::array<std::uint8_t, 4> head = {0xFF, XpJpegSegments::kMarkerApp1, static_cast<std::uint8_t>(length >> 8),
                                              static_cast<std::uint8_t>(length)};
    if (auto st = destination.WriteAll(head.data(), head.size()); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = destination.WriteAll(block.data(), block.size()); st != XpStatus::Ok) {
      return st;
    }
  }
  const std::int64_t runStart = splice.layout.start + 2;
  const std::int64_t runEnd = splice.layout.tailStart;
  const std::int64_t cut = splice.exifPosition >= 0 ? splice.exifPosition : runEnd;
  const std::int64_t resume = splice.exifPosition >= 0 ? splice.exifPosition + splice.exifSize : runEnd;
  for (auto [from, to] : {std::pair{runStart, cut}, std::pair{resume, runEnd}}) {
    if (splice.replacedPosition >= from && splice.replacedPosition < to) {
      if (auto st = CopyRange(source, from, static_cast<std::uint64_t>(splice.replacedPosition - from), destination);
          st != XpStatus::Ok) {
        return st;
      }
      if (auto st = destination.WriteAll(splice.replacement.data(), splice.replacement.size()); st != XpStatus::Ok) {
        return st;
      }
      from = splice.replacedPosition + splice.replacedSize;
    }
    if (to > from) {
      if (auto st = CopyRange(source, from, static_cast<std::uint64_t>(to - from), destination); st != XpStatus::Ok) {
        return st;
      }
    }
  }
  for (const CopiedRange& range : splice.tail) {
    const std::int64_t end = destination.GetLength();
    if (end < 0 || end > range.to) {
      return XpStatus::Failed;
    }
    if (end < range.to) {
      const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(range.to - end), 0);
      if (auto st = WriteAt(destination, end, zeros); st != XpStatus::Ok) {
        return st;
      }
    }
    if (auto st = CopyRange(source, range.from, range.size, destination); st != XpStatus::Ok) {
      return st;
    }
  }
  return XpStatus::Ok;
}

// ---------------------------------------------------------------------------
// ---------------------------------------------------------------------------
// Checking the written file

/// The copied pieces of the written file must be the source's bytes, and
/// nothing may follow the last of them.
[[nodiscard]] XpStatus VerifyCopiedTail(const std::string& tempPath, XpAbstractFile& source, const Splice& splice) {
  XpFile written(tempPath);
  if (auto st = written.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  const CopiedRange& last = splice.tail.back();
  if (written.GetLength() != last.to + static_cast<std::int64_t>(last.size)) {
    return XpStatus::JpegDecodeFailed;
  }
  std::vector<std::uint8_t> mine(kCopyBuffer);
  std::vector<std::uint8_t> theirs(kCopyBuffer);
  for (const CopiedRange& range : splice.tail) {
    for (std::uint64_t done = 0; done < range.size;) {
      const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(range.size - done, kCopyBuffer));
      const auto offset = static_cast<std::int64_t>(done);
      if (ReadAt(written, range.to + offset, std::span(mine.data(), piece)) != XpStatus::Ok ||
          ReadAt(source, range.from + offset, std::span(theirs.data(), piece)) != XpStatus::Ok ||
          std::memcmp(mine.data(), theirs.data(), piece) != 0) {
        return XpStatus::JpegDecodeFailed;
      }
      done += piece;
    }
  }
  return XpStatus::Ok;
}

std::atomic<bool> g_preserveTimeByDefault{false};

/// The modification time is kept when the options ask for it or the program
/// has made that the default.
bool KeepsTime(const Hooks& hooks) { return hooks.preserveModificationTime || g_preserveTimeByDefault.load(); }

// ---------------------------------------------------------------------------
// Reading the Exif data of a file

/// The end of the Exif segment whose TIFF header `header` describes (the
/// segment length stands 8 bytes before the header); -1 when unreadable.
std::int64_t ExifBlockEnd(XpAbstractFile& file, const TiffHeader& header) {
  std::array<std::uint8_t, 2> length{};
  if (header.base < 8 || ReadAt(file, header.base - 8, length) != XpStatus::Ok) {
    return -1;
  }
  return header.base - 8 + ((length[0] << 8) | length[1]);
}

/// Reads the TIFF data of the Exif segment (from its header to the segment's
/// end) into `tiff`; `*base` is where it starts in the file.
[[nodiscard]] XpStatus ReadExifTiff(XpAbstractFile& file, std::int64_t* base, std::vector<std::uint8_t>* tiff) {
  TiffHeader header;
  if (auto st = ReadTiffHeader(file, &header); st != XpStatus::Ok) {
    return st;
  }
  const std::int64_t end = ExifBlockEnd(file, header);
  if (end < header.base || !InRange(header.base, static_cast<std::uint64_t>(end - header.base), file.GetLength())) {
    return XpStatus::ExifDamaged;
  }
  *base = header.base;
  tiff->resize(static_cast<std::size_t>(end - header.base));
  return ReadAt(file, header.base, *tiff);
}

// ---------------------------------------------------------------------------
// One transaction for every rewrite

using PictureRewrite = XpPhotoReplace::Rewrite;
using XpPhotoReplace::CurrentDateTimeText;

/// The shared transaction (XpPhotoReplace::Run) with the caller's options.
[[nodiscard]] XpStatus RunRewrite(const std::string& path, const Hooks& hooks, PictureRewrite& rewrite) {
  return XpPhotoReplace::Run(path, {.beforeCommit = hooks.beforeCommit, .keepModificationTime = KeepsTime(hooks)},
                             rewrite);
}

// ---------------------------------------------------------------------------
// The GPS rewrites

constexpr std::string_view kXmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);

/// The first XMP segment of the leading run, or nothing.
std::optional<XpJpegSegments::Segment> FindXmpSegment(XpAbstractFile& source, const XpJpegSegments::Layout& layout) {
  for (std::size_t i = 0; i < layout.leadingCount && i < layout.segments.size(); ++i) {
    const XpJpegSegments::Segment& s = layout.segments[i];
    if (s.marker != XpJpegSegments::kMarkerApp1 || s.exif || s.size < 4 + kXmpHeader.size()) {
      continue;
    }
    std::array<std::uint8_t, kXmpHeader.size()> head{};
    if (ReadAt(source, s.position + 4, head) == XpStatus::Ok &&
        std::memcmp(head.data(), kXmpHeader.data(), head.size()) == 0) {
      return s;
    }
  }
  return std::nullopt;
}

/// A new GPS directory (WriteGPS) or none (RemoveGPS), written by editing the
/// source's Exif data in place and behind it (XpExifEdit), together with the
/// caller's edit of the XMP packet.
class GpsRewrite final : public PictureRewrite {
 public:
  GpsRewrite(const XpGPSRecord* record, bool replaceWhole, const Hooks& hooks) : m_hooks(hooks) {
    m_request.record = record;
    m_request.replaceWhole = replaceWhole;
    m_request.raiseExifVersion = record != nullptr;
    if (record != nullptr) {
      m_request.dateTime = hooks.dateTime.empty() ? CurrentDateTimeText() : hooks.dateTime;
      m_request.offsetTimeOriginal = hooks.offsetTimeOriginal;
    }
  }

  XpStatus Prepare(XpFile& source, bool* nothing) override {
    if (auto st = XpJpegSegments::Walk(source, 0, &m_splice.layout); st != XpStatus::Ok) {
      return st == XpStatus::TooManySegments ? st : XpStatus::JpegDecodeFailed;
    }
    if (m_splice.layout.exifCount > 1) {
      return ReadContinuedExif(source, nothing);
    }
    if (auto st = XpJpegExif::ReadTagTree(source, &m_tree, 0); st != XpStatus::Ok) {
      // An Exif block whose tree does not parse is no tag tree either; only a
      // stream that is not a JPEG at all is a decoding failure.
      if (st == XpStatus::JpegDecodeFailed && XpJpegExif::CheckJpegStream(source, 0) == XpStatus::Ok) {
        return IsRemove() ? XpStatus::ExifDamaged : XpStatus::NoExif;
      }
      return st;
    }
    if (m_tree == nullptr || !m_tree->HasIFD()) {
      return XpStatus::NoExif;
    }
    // A tree read only in part could hide what the edit must know about. A
    // tag twice in one directory is harmless: the edit keeps both entries.
    if (!m_tree->IsComplete() && !m_tree->OnlyDuplicateTagsSkipped()) {
      return XpStatus::ExifDamaged;
    }
    if (auto st = ReadExifTiff(source, &m_base, &m_tiff); st != XpStatus::Ok) {
      return st;
    }
    return Plan(source, nothing);
  }

  /// Edits the TIFF data read and lays out the new file.
  [[nodiscard]] XpStatus Plan(XpFile& source, bool* nothing) {
    m_request.parsedGps = m_tree->GetGPSIFD();
    const XpStatus edited = XpExifEdit::Edit(m_tiff, m_request, &m_outcome);
    const bool noPointer = IsRemove() && edited == XpStatus::NoExif;
    if (edited != XpStatus::Ok && !noPointer) {
      return edited;
    }
    if (noPointer) {
      m_outcome.tiff = m_tiff;
    }
    if (!XpExifEdit::Difference(m_tiff, m_outcome.tiff, m_request, m_outcome).empty()) {
      return XpStatus::JpegDecodeFailed;
    }
    if (kExifHeader.size() + m_outcome.tiff.size() > kMaxApp1Payload) {
      return XpStatus::ExifBlockFull;
    }
    if (auto st = PrepareXmp(source); st != XpStatus::Ok) {
      return st;
    }
    if (noPointer && m_splice.replacedPosition < 0) {
      *nothing = true;
      return XpStatus::Ok;
    }
    if (auto st = ReadFrameHeader(source, &m_frame); st != XpStatus::Ok) {
      return st;
    }
    m_inPlace = IsRemove() && !m_splice.continued &&
                (m_splice.replacedPosition < 0 || m_splice.replacement.size() == m_splice.replacedSize);
    if (m_inPlace) {
      return XpStatus::Ok;
    }
    if (auto st = m_block.WriteAll(kExifHeader.data(), kExifHeader.size()); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = m_block.WriteAll(m_outcome.tiff.data(), m_outcome.tiff.size()); st != XpStatus::Ok) {
      return st;
    }
    std::uint32_t previewOffset = 0;
    std::uint32_t previewLength = 0;
    if (const XpTiffTagIFD* makerSub = m_tree->GetMakerSubIFD()) {
      previewOffset = makerSub->FindLong(kTagMakerPreviewOffset);
      previewLength = makerSub->FindLong(kTagMakerPreviewLength);
    }
    const auto segmentEnd = m_base + static_cast<std::int64_t>(m_tiff.size());
    return PlanRewrite(source, m_block, m_base, segmentEnd, previewOffset, previewLength, &m_splice);
  }

  XpStatus Write(XpFile& source, XpAbstractFile& temp) override {
    if (!m_inPlace) {
      return WriteSplice(source, m_block.Bytes(), m_splice, temp);
    }
    if (auto st = CopyRange(source, 0, static_cast<std::uint64_t>(source.GetLength()), temp); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = WriteAt(temp, m_base, m_outcome.tiff); st != XpStatus::Ok) {
      return st;
    }
    if (m_splice.replacedPosition >= 0) {
      return WriteAt(temp, m_splice.replacedPosition, m_splice.replacement);
    }
    return XpStatus::Ok;
  }

  XpStatus Check(const std::string& tempPath, XpFile& source) override {
    XpFile written(tempPath);
    if (auto st = written.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
      return st;
    }
    TagTreePtr tree;
    if (XpJpegExif::ReadTagTree(written, &tree, 0) != XpStatus::Ok || tree == nullptr || !tree->HasIFD() ||
        (!tree->IsComplete() && !(m_tree->OnlyDuplicateTagsSkipped() && tree->OnlyDuplicateTagsSkipped()))) {
      return XpStatus::JpegDecodeFailed;
    }
    // The tree keeps every old entry and range, apart from the intended changes.
    std::int64_t base = 0;
    std::vector<std::uint8_t> tiff;
    if (ReadExifTiff(written, &base, &tiff) != XpStatus::Ok ||
        !XpExifEdit::Difference(m_tiff, tiff, m_request, m_outcome).empty()) {
      return XpStatus::JpegDecodeFailed;
    }
    const XpTiffTagIFD* gps = tree->GetGPSIFD();
    if (IsRemove()) {
      if (gps != nullptr) {
        return XpStatus::JpegDecodeFailed;
      }
    } else {
      XpGPSRecord read;
      if (gps == nullptr) {
        return XpStatus::JpegDecodeFailed;
      }
      gps->GetGPSRecord(read);
      if (!XpExifEdit::HoldsRecord(read, *m_request.record)) {
        return XpStatus::JpegDecodeFailed;
      }
    }
    FrameHeader frame;
    if (ReadFrameHeader(written, &frame) != XpStatus::Ok || !(frame == m_frame)) {
      return XpStatus::JpegDecodeFailed;
    }
    if (m_inPlace) {
      return CheckInPlace(written, source, base);
    }
    return VerifyCopiedTail(tempPath, source, m_splice);
  }

 private:
  [[nodiscard]] bool IsRemove() const { return m_request.record == nullptr; }

  /// Exif data that a second Exif segment right behind the first continues
  /// (the data of the second, behind its "Exif" header, is no TIFF header of
  /// its own) is read as one block and written back as one segment. Any other
  /// second Exif segment is refused with 0x8608: which of them holds the
  /// position is a matter of the reader.
  [[nodiscard]] XpStatus ReadContinuedExif(XpFile& source, bool* nothing) {
    const auto& segments = m_splice.layout.segments;
    const auto first = std::find_if(segments.begin(), segments.end(), [](const auto& s) { return s.exif; });
    if (m_splice.layout.exifCount != 2 || first + 1 >= segments.end() || !(first + 1)->exif ||
        (first + 1)->position != first->position + first->size ||
        static_cast<std::size_t>(first - segments.begin()) + 1 >= m_splice.layout.leadingCount) {
      return XpStatus::ExifDamaged;
    }
    const std::uint32_t headerSize = 4 + static_cast<std::uint32_t>(kExifHeader.size());
    if (first->size < headerSize || (first + 1)->size < headerSize) {
      return XpStatus::ExifDamaged;
    }
    std::vector<std::uint8_t> second((first + 1)->size - headerSize);
    m_tiff.resize(first->size - headerSize);
    if (ReadAt(source, first->position + headerSize, m_tiff) != XpStatus::Ok ||
        ReadAt(source, (first + 1)->position + headerSize, second) != XpStatus::Ok) {
      return XpStatus::ExifDamaged;
    }
    const bool tiffHeader = second.size() >= 4 && ((second[0] == 'I' && second[1] == 'I' && second[2] == 42) ||
                                                   (second[0] == 'M' && second[1] == 'M' && second[3] == 42));
    if (tiffHeader) {
      return XpStatus::ExifDamaged;
    }
    m_tiff.insert(m_tiff.end(), second.begin(), second.end());
    m_base = first->position + headerSize;
    XpMemoryFile data{std::span<const std::uint8_t>(m_tiff)};
    m_tree = std::make_shared<XpTiffTagManager>();
    if (!m_tree->Load(data, XpJpegExif::kReadMode) || !m_tree->HasIFD() || !m_tree->IsComplete()) {
      return XpStatus::ExifDamaged;
    }
    m_splice.continued = true;
    return Plan(source, nothing);
  }

  /// Runs the caller's XMP edit on the first XMP segment, if any.
  [[nodiscard]] XpStatus PrepareXmp(XpFile& source) {
    if (!m_hooks.editXmp) {
      return XpStatus::Ok;
    }
    const auto segment = FindXmpSegment(source, m_splice.layout);
    if (!segment) {
      return XpStatus::Ok;
    }
    std::vector<std::uint8_t> payload(segment->size - 4);
    if (auto st = ReadAt(source, segment->position + 4, payload); st != XpStatus::Ok) {
      return st;
    }
    std::vector<std::uint8_t> edited = payload;
    if (auto st = m_hooks.editXmp(IsRemove(), payload, &edited); st != XpStatus::Ok) {
      return st;
    }
    if (edited == payload) {
      return XpStatus::Ok;
    }
    if (edited.size() > kMaxApp1Payload || edited.size() < kXmpHeader.size() ||
        std::memcmp(edited.data(), kXmpHeader.data(), kXmpHeader.size()) != 0) {
      return XpStatus::JpegEncodeFailed;
    }
    const auto length = static_cast<std::uint16_t>(edited.size() + 2);
    m_splice.replacement = {0xFF, XpJpegSegments::kMarkerApp1, static_cast<std::uint8_t>(length >> 8),
                            static_cast<std::uint8_t>(length)};
    m_splice.replacement.insert(m_splice.replacement.end(), edited.begin(), edited.end());
    m_splice.replacedPosition = segment->position;
    m_splice.replacedSize = segment->size;
    return XpStatus::Ok;
  }

  /// A file changed in place keeps its length and every byte outside the
  /// Exif data and the edited XMP segment.
  [[nodiscard]] XpStatus CheckInPlace(XpFile& written, XpFile& source, std::int64_t base) const {
    const std::int64_t length = source.GetLength();
    if (written.GetLength() != length || base != m_base) {
      return XpStatus::JpegDecodeFailed;
    }
    std::vector<std::uint8_t> mine(kCopyBuffer);
    std::vector<std::uint8_t> theirs(kCopyBuffer);
    const auto skipped = [&](std::int64_t at) {
      const bool inTiff = at >= m_base && at < m_base + static_cast<std::int64_t>(m_tiff.size());
      const bool inXmp = m_splice.replacedPosition >= 0 && at >= m_splice.replacedPosition &&
                         at < m_splice.replacedPosition + m_splice.replacedSize;
      return inTiff || inXmp;
    };
    for (std::int64_t done = 0; done < length;) {
      const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(length - done, std::int64_t{kCopyBuffer}));
      if (ReadAt(written, done, std::span(mine.data(), piece)) != XpStatus::Ok ||
          ReadAt(source, done, std::span(theirs.data(), piece)) != XpStatus::Ok) {
        return XpStatus::JpegDecodeFailed;
      }
      for (std::size_t i = 0; i < piece; ++i) {
        if (mine[i] != theirs[i] && !skipped(done + static_cast<std::int64_t>(i))) {
          return XpStatus::JpegDecodeFailed;
        }
      }
      done += static_cast<std::int64_t>(piece);
    }
    return XpStatus::Ok;
  }

  const Hooks& m_hooks;
  XpExifEdit::Request m_request;
  XpExifEdit::Outcome m_outcome;
  TagTreePtr m_tree;
  std::int64_t m_base = 0;
  std::vector<std::uint8_t> m_tiff;
  FrameHeader m_frame;
  XpMemoryFile m_block;
  Splice m_splice;
  bool m_inPlace = false;
};

}  // namespace

// ---------------------------------------------------------------------------

void SetPreserveModificationTimeByDefault(bool preserve) { g_preserveTimeByDefault.store(preserve); }

bool PreservesModificationTimeByDefault() { return g_preserveTimeByDefault.load(); }

XpStatus TranscodeWithExif(const XpMemoryFile& block, XpAbstractFile& source, XpAbstractFile& destination,
                           int transform) {
  const std::int64_t start = source.GetPosition();
  if (start < 0) {
    return XpStatus::Failed;
  }
  const auto bytes = block.Bytes();
  if (transform < kTransformNone || transform > kTransformLast || bytes.size() > kMaxApp1Payload) {
    return XpStatus::JpegDecodeFailed;
  }
  Splice splice;
  if (auto st = PlanSplice(source, start, bytes.size(), &splice); st != XpStatus::Ok) {
    return st;
  }
  if (transform != kTransformNone) {
    // No transform is carried out; an image that could not take one without
    // losing edge blocks says so.
    XpJpegSegments::Frame frame;
    if (XpJpegSegments::ReadFrame(source, splice.layout.framePosition, &frame) != XpStatus::Ok) {
      return XpStatus::JpegDecodeFailed;
    }
    const bool whole = frame.width % (8U * static_cast<unsigned>(frame.maxH)) == 0 &&
                       frame.height % (8U * static_cast<unsigned>(frame.maxV)) == 0;
    return whole ? XpStatus::JpegDecodeFailed : XpStatus::TransformImpossible;
  }
  return WriteSplice(source, bytes, splice, destination);
}

XpStatus ReadGPS(const std::string& path, XpGPSRecord& record) {
  TagTreePtr tree;
  if (auto st = XpJpegExif::ReadTagTree(path, &tree); st != XpStatus::Ok) {
    return st;
  }
  const XpTiffTagIFD* gps = tree != nullptr ? tree->GetGPSIFD() : nullptr;
  if (gps == nullptr) {
    return XpStatus::NoExif;
  }
  gps->GetGPSRecord(record);
  return XpStatus::Ok;
}

namespace {

/// Degrees of a coordinate held as three rationals and its reference letter;
/// nothing when the record holds no readable coordinate.
std::optional<double> RecordDegrees(const XpGPSRational3& value, const XpGPSRef& ref, char16_t negative) {
  if (!value.IsValid() || !ref.IsValid()) {
    return std::nullopt;
  }
  double degrees = 0;
  double unit = 1;
  for (std::size_t i = 0; i < 3; ++i) {
    if (value.denominators[i] == 0) {
      if (value.numerators[i] != 0) {
        return std::nullopt;
      }
    } else {
      degrees += unit * value.numerators[i] / value.denominators[i];
    }
    unit /= 60;
  }
  const char16_t letter =
      ref.letter >= u'a' && ref.letter <= u'z' ? static_cast<char16_t>(ref.letter - 32) : ref.letter;
  return letter == negative ? -degrees : degrees;
}

// "YYYY-MM-DDThh:mm:ssZ" (seconds with three decimals when they have a
// fraction) from the time and date stamps; nothing unless both are there and
// read as a time of day and a date.
std::optional<std::string> UtcTimeText(const XpGPSRecord& record) {
  if (!record.timeStamp.IsValid() || !record.dateStamp.IsValid()) {
    return std::nullopt;
  }
  const std::string date = record.dateStamp.Text();
  if (date.size() != 10 || date[4] != ':' || date[7] != ':') {
    return std::nullopt;
  }
  for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (date[i] < '0' || date[i] > '9') {
      return std::nullopt;
    }
  }
  const auto& t = record.timeStamp;
  if (t.denominators[0] == 0 || t.denominators[1] == 0 || t.denominators[2] == 0) {
    return std::nullopt;
  }
  const double hours = static_cast<double>(t.numerators[0]) / t.denominators[0];
  const double minutes = static_cast<double>(t.numerators[1]) / t.denominators[1];
  const double seconds = static_cast<double>(t.numerators[2]) / t.denominators[2];
  if (hours != std::floor(hours) || minutes != std::floor(minutes) || hours >= 24 || minutes >= 60 || seconds >= 61) {
    return std::nullopt;
  }
  const auto twoDigits = [](int value) {
    return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
  };
  // The seconds through the text layer: a decimal point in every locale.
  std::string secondsText =
      seconds == std::floor(seconds) ? twoDigits(static_cast<int>(seconds)) : XpFormatFixed(seconds, 3);
  if (secondsText.size() == 1 || (secondsText.size() > 1 && secondsText[1] == '.')) {
    secondsText.insert(0, 1, '0');
  }
  return date.substr(0, 4) + "-" + date.substr(5, 2) + "-" + date.substr(8, 2) + "T" +
         twoDigits(static_cast<int>(hours)) + ":" + twoDigits(static_cast<int>(minutes)) + ":" + secondsText + "Z";
}

bool MentionsPosition(std::span<const std::uint8_t> packet) {
  const std::string_view text(reinterpret_cast<const char*>(packet.data()), packet.size());
  return text.find("GPSLatitude") != std::string_view::npos || text.find("GPSLongitude") != std::string_view::npos ||
         text.find("GpsLatitude") != std::string_view::npos;
}

/// The editor of the JPEG path's XMP segment: EditXmpPosition on the packet
/// behind the segment's namespace header.
std::function<XpStatus(bool, std::span<const std::uint8_t>, std::vector<std::uint8_t>*)> PositionXmpEditor(
    const XpGPSRecord* record) {
  return [record](bool removing, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* edited) {
    if (payload.size() < kXmpHeader.size()) {
      return XpStatus::Ok;
    }
    XpXmpGps::Edit edit;
    if (auto st = EditXmpPosition(removing ? nullptr : record, payload.subspan(kXmpHeader.size()), &edit);
        st != XpStatus::Ok || !edit.changed) {
      return st;
    }
    edited->assign(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(kXmpHeader.size()));
    edited->insert(edited->end(), edit.packet.begin(), edit.packet.end());
    return XpStatus::Ok;
  };
}

/// The caller's hooks, with the position-keeping XMP edit unless the caller
/// brings its own.
Hooks WithXmpEditor(const Hooks& hooks, const XpGPSRecord* record) {
  Hooks result = hooks;
  if (!result.editXmp) {
    result.editXmp = PositionXmpEditor(record);
  }
  return result;
}

}  // namespace

bool XmpUpdateFromRecord(const XpGPSRecord& record, XpXmpGps::Update* update) {
  const auto latitude = RecordDegrees(record.latitude, record.latitudeRef, u'S');
  const auto longitude = RecordDegrees(record.longitude, record.longitudeRef, u'W');
  if (!latitude || !longitude || !std::isfinite(*latitude) || !std::isfinite(*longitude) || std::fabs(*latitude) > 90 ||
      std::fabs(*longitude) > 180) {
    return false;
  }
  *update = XpXmpGps::Update{};
  update->latitude = *latitude;
  update->longitude = *longitude;
  if (record.altitude.IsValid() && record.altitude.denominator != 0) {
    double metres = static_cast<double>(record.altitude.numerator) / record.altitude.denominator;
    if (record.altitudeRef.IsValid() && record.altitudeRef.letter == 1) {
      metres = -metres;
    }
    update->altitude = metres;
  }
  update->timeStamp = UtcTimeText(record);
  // A fix with its real time is a new fix: what described the old one goes.
  update->dropStale = update->timeStamp.has_value();
  return true;
}

XpStatus EditXmpPosition(const XpGPSRecord* record, std::span<const std::uint8_t> packet, XpXmpGps::Edit* edit) {
  *edit = XpXmpGps::Edit{};
  XpStatus st = XpStatus::Ok;
  if (record == nullptr) {
    st = XpXmpGps::RemoveGps(packet, edit);
  } else {
    XpXmpGps::Update update;
    if (!XmpUpdateFromRecord(*record, &update)) {
      return XpStatus::Ok;
    }
    // The position alone: a hand move's record carries the old fix's
    // altitude and time stamps (perhaps less exactly than the packet holds
    // them), and nothing here tells it from a track's new fix.
    update.altitude.reset();
    update.timeStamp.reset();
    update.dropStale = false;
    st = XpXmpGps::UpdateGps(packet, update, edit);
  }
  if (st != XpStatus::Ok) {
    *edit = XpXmpGps::Edit{};
    return MentionsPosition(packet) ? st : XpStatus::Ok;
  }
  return XpStatus::Ok;
}

XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record, bool replaceWhole, const Hooks& hooks) {
  const Hooks withXmp = WithXmpEditor(hooks, &record);
  GpsRewrite rewrite(&record, replaceWhole, withXmp);
  return RunRewrite(path, withXmp, rewrite);
}

XpStatus RemoveGPS(const std::string& path, const Hooks& hooks) {
  const Hooks withXmp = WithXmpEditor(hooks, nullptr);
  GpsRewrite rewrite(nullptr, true, withXmp);
  return RunRewrite(path, withXmp, rewrite);
}

// ---------------------------------------------------------------------------
// The header-segment rewrite: XMP and APP13 replaced, everything else copied

namespace {

constexpr std::string_view kPhotoshopHeader("Photoshop 3.0\0", 14);
constexpr std::string_view kMpfHeader("MPF\0", 4);
constexpr std::uint8_t kMarkerApp0 = 0xE0;
constexpr std::uint8_t kMarkerApp2 = 0xE2;
constexpr std::uint8_t kMarkerApp13 = 0xED;

[[nodiscard]] bool PayloadStartsWith(XpAbstractFile& file, const XpJpegSegments::Segment& segment,
                                     std::string_view text) {
  if (segment.size < 4 + text.size()) {
    return false;
  }
  std::vector<std::uint8_t> head(text.size());
  return ReadAt(file, segment.position + 4, head) == XpStatus::Ok &&
         std::memcmp(head.data(), text.data(), head.size()) == 0;
}

[[nodiscard]] XpStatus ReadPayload(XpAbstractFile& file, const XpJpegSegments::Segment& segment,
                                   std::vector<std::uint8_t>* payload) {
  payload->resize(segment.size - 4);
  return ReadAt(file, segment.position + 4, *payload);
}

/// The APP13 "Photoshop 3.0" segments of the leading run.
std::vector<XpJpegSegments::Segment> PhotoshopSegments(XpAbstractFile& file, const XpJpegSegments::Layout& layout) {
  std::vector<XpJpegSegments::Segment> found;
  for (std::size_t i = 0; i < layout.leadingCount && i < layout.segments.size(); ++i) {
    if (layout.segments[i].marker == kMarkerApp13 && PayloadStartsWith(file, layout.segments[i], kPhotoshopHeader)) {
      found.push_back(layout.segments[i]);
    }
  }
  return found;
}

std::vector<std::uint8_t> SegmentBytes(std::uint8_t marker, std::span<const std::uint8_t> payload) {
  const auto length = static_cast<std::uint16_t>(payload.size() + 2);
  std::vector<std::uint8_t> bytes = {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                                     static_cast<std::uint8_t>(length)};
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

/// One change to the source: the bytes [position, position + size) become `bytes`.
struct SegmentChange {
  std::int64_t position = 0;
  std::uint32_t size = 0;
  std::vector<std::uint8_t> bytes;
};

class SegmentRewrite final : public PictureRewrite {
 public:
  explicit SegmentRewrite(const SegmentEdits& edits) : m_edits(edits) {}

  XpStatus Prepare(XpFile& source, bool* nothing) override {
    XpJpegSegments::Layout layout;
    if (auto st = XpJpegSegments::Walk(source, 0, &layout); st != XpStatus::Ok) {
      return st == XpStatus::TooManySegments ? st : XpStatus::JpegDecodeFailed;
    }
    if (auto st = PlanXmp(source, layout); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = PlanIptc(source, layout); st != XpStatus::Ok) {
      return st;
    }
    if (m_changes.empty()) {
      *nothing = true;
      return XpStatus::Ok;
    }
    std::sort(m_changes.begin(), m_changes.end(),
              [](const SegmentChange& a, const SegmentChange& b) { return a.position < b.position; });
    if (auto st = CheckNothingMoves(source, layout); st != XpStatus::Ok) {
      return st;
    }
    return ReadFrameHeader(source, &m_frame);
  }

  XpStatus Write(XpFile& source, XpAbstractFile& temp) override {
    std::int64_t at = 0;
    for (const SegmentChange& change : m_changes) {
      if (auto st = CopyRange(source, at, static_cast<std::uint64_t>(change.position - at), temp); st != XpStatus::Ok) {
        return st;
      }
      if (auto st = temp.WriteAll(change.bytes.data(), change.bytes.size()); st != XpStatus::Ok) {
        return st;
      }
      at = change.position + change.size;
    }
    return CopyRange(source, at, static_cast<std::uint64_t>(source.GetLength() - at), temp);
  }

  XpStatus Check(const std::string& tempPath, XpFile& source) override {
    XpFile written(tempPath);
    if (auto st = written.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
      return st;
    }
    // Every byte outside the changes is the source's, in order.
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::vector<std::uint8_t> mine(kCopyBuffer);
    std::vector<std::uint8_t> theirs(kCopyBuffer);
    const auto same = [&](std::int64_t size) {
      while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(size, std::int64_t{kCopyBuffer}));
        if (ReadAt(written, to, std::span(mine.data(), piece)) != XpStatus::Ok ||
            ReadAt(source, from, std::span(theirs.data(), piece)) != XpStatus::Ok ||
            std::memcmp(mine.data(), theirs.data(), piece) != 0) {
          return false;
        }
        from += static_cast<std::int64_t>(piece);
        to += static_cast<std::int64_t>(piece);
        size -= static_cast<std::int64_t>(piece);
      }
      return true;
    };
    for (const SegmentChange& change : m_changes) {
      if (!same(change.position - from)) {
        return XpStatus::JpegDecodeFailed;
      }
      std::vector<std::uint8_t> bytes(change.bytes.size());
      if (ReadAt(written, to, bytes) != XpStatus::Ok || bytes != change.bytes) {
        return XpStatus::JpegDecodeFailed;
      }
      to += static_cast<std::int64_t>(bytes.size());
      from += change.size;
    }
    if (!same(source.GetLength() - from) || written.GetLength() != to) {
      return XpStatus::JpegDecodeFailed;
    }
    // The new file walks as a JPEG stream with the same frame, and what it
    // says is what was meant to be written.
    XpJpegSegments::Layout layout;
    FrameHeader frame;
    if (XpJpegSegments::Walk(written, 0, &layout) != XpStatus::Ok || ReadFrameHeader(written, &frame) != XpStatus::Ok ||
        !(frame == m_frame)) {
      return XpStatus::JpegDecodeFailed;
    }
    if (!m_edits.check) {
      return XpStatus::Ok;
    }
    std::vector<std::uint8_t> xmp;
    std::vector<std::uint8_t> iptc;
    if (const auto segment = FindXmpSegment(written, layout)) {
      if (ReadPayload(written, *segment, &xmp) != XpStatus::Ok) {
        return XpStatus::JpegDecodeFailed;
      }
    }
    const auto photoshop = PhotoshopSegments(written, layout);
    if (photoshop.size() == 1 && ReadPayload(written, photoshop.front(), &iptc) != XpStatus::Ok) {
      return XpStatus::JpegDecodeFailed;
    }
    return m_edits.check(xmp, iptc);
  }

 private:
  [[nodiscard]] XpStatus AddChange(const XpJpegSegments::Segment* segment, std::int64_t insertAt, std::uint8_t marker,
                                   std::span<const std::uint8_t> payload) {
    if (payload.size() > kMaxApp1Payload) {
      return XpStatus::LocationSegmentFull;
    }
    SegmentChange change;
    change.position = segment != nullptr ? segment->position : insertAt;
    change.size = segment != nullptr ? segment->size : 0;
    change.bytes = SegmentBytes(marker, payload);
    m_changes.push_back(std::move(change));
    return XpStatus::Ok;
  }

  [[nodiscard]] XpStatus PlanXmp(XpFile& source, const XpJpegSegments::Layout& layout) {
    if (!m_edits.editXmp) {
      return XpStatus::Ok;
    }
    const auto segment = FindXmpSegment(source, layout);
    std::vector<std::uint8_t> payload;
    if (segment) {
      if (auto st = ReadPayload(source, *segment, &payload); st != XpStatus::Ok) {
        return st;
      }
    }
    std::vector<std::uint8_t> edited;
    if (auto st = m_edits.editXmp(payload, segment.has_value(), &edited); st != XpStatus::Ok) {
      return st;
    }
    if (edited.empty() || edited == payload) {
      return XpStatus::Ok;
    }
    if (edited.size() < kXmpHeader.size() || std::memcmp(edited.data(), kXmpHeader.data(), kXmpHeader.size()) != 0) {
      return XpStatus::InvalidArgument;
    }
    if (segment) {
      return AddChange(&*segment, 0, XpJpegSegments::kMarkerApp1, edited);
    }
    // A new packet goes behind JFIF and Exif at the start of the run.
    std::int64_t insertAt = layout.start + 2;
    for (std::size_t i = 0; i < layout.leadingCount && i < layout.segments.size(); ++i) {
      const XpJpegSegments::Segment& s = layout.segments[i];
      if (s.marker != kMarkerApp0 && !s.exif) {
        break;
      }
      insertAt = s.position + s.size;
    }
    return AddChange(nullptr, insertAt, XpJpegSegments::kMarkerApp1, edited);
  }

  [[nodiscard]] XpStatus PlanIptc(XpFile& source, const XpJpegSegments::Layout& layout) {
    if (!m_edits.editIptc) {
      return XpStatus::Ok;
    }
    const auto segments = PhotoshopSegments(source, layout);
    if (segments.size() != 1) {
      return XpStatus::Ok;
    }
    std::vector<std::uint8_t> payload;
    if (auto st = ReadPayload(source, segments.front(), &payload); st != XpStatus::Ok) {
      return st;
    }
    std::vector<std::uint8_t> edited;
    if (auto st = m_edits.editIptc(payload, &edited); st != XpStatus::Ok) {
      return st;
    }
    if (edited.empty() || edited == payload) {
      return XpStatus::Ok;
    }
    return AddChange(&segments.front(), 0, kMarkerApp13, edited);
  }

  /// A change of length moves everything behind it. Data that metadata in
  /// front of the change finds by its position would then be lost: a maker
  /// note's preview image (found from the Exif data's start) and the images
  /// of a multi-picture file (found from the MPF segment).
  [[nodiscard]] XpStatus CheckNothingMoves(XpFile& source, const XpJpegSegments::Layout& layout) {
    std::int64_t firstMove = -1;
    for (const SegmentChange& change : m_changes) {
      if (change.bytes.size() != change.size) {
        firstMove = change.position;
        break;
      }
    }
    if (firstMove < 0) {
      return XpStatus::Ok;
    }
    for (const XpJpegSegments::Segment& s : layout.segments) {
      if (s.marker == kMarkerApp2 && s.position < firstMove && PayloadStartsWith(source, s, kMpfHeader)) {
        return XpStatus::MetadataWouldMove;
      }
    }
    TagTreePtr tree;
    TiffHeader header;
    if (XpJpegExif::ReadTagTree(source, &tree, 0) == XpStatus::Ok && tree != nullptr &&
        ReadTiffHeader(source, &header) == XpStatus::Ok && header.base < firstMove) {
      if (const XpTiffTagIFD* makerSub = tree->GetMakerSubIFD()) {
        const std::uint32_t offset = makerSub->FindLong(kTagMakerPreviewOffset);
        if (offset != 0 && header.base + offset >= firstMove) {
          return XpStatus::MetadataWouldMove;
        }
      }
    }
    return XpStatus::Ok;
  }

  const SegmentEdits& m_edits;
  std::vector<SegmentChange> m_changes;
  FrameHeader m_frame;
};

}  // namespace

XpStatus InspectHeaderSegments(XpFile& source, const SegmentEdits& edits) {
  SegmentEdits reading;
  if (edits.editXmp) {
    reading.editXmp = [&](std::span<const std::uint8_t> payload, bool present, std::vector<std::uint8_t>*) {
      std::vector<std::uint8_t> dropped;
      return edits.editXmp(payload, present, &dropped);
    };
  }
  if (edits.editIptc) {
    reading.editIptc = [&](std::span<const std::uint8_t> payload, std::vector<std::uint8_t>*) {
      std::vector<std::uint8_t> dropped;
      return edits.editIptc(payload, &dropped);
    };
  }
  SegmentRewrite inspection(reading);
  bool nothing = false;
  return inspection.Prepare(source, &nothing);
}

XpStatus WriteHeaderSegments(const std::string& path, const SegmentEdits& edits, const Hooks& hooks) {
  SegmentRewrite rewrite(edits);
  return RunRewrite(path, hooks, rewrite);
}

}  // namespace XpExifRewrite
