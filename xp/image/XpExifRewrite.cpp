#include "xp/image/XpExifRewrite.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "xp/base/XpReplaceFile.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpJpegLib.h"
#include "xp/image/XpJpegSegments.h"
#include "xp/tiff/XpTiffTagCompare.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace XpExifRewrite {
namespace {

constexpr std::uint16_t kTagCompression = 0x0103;
constexpr std::uint16_t kTagXResolution = 0x011A;
constexpr std::uint16_t kTagYResolution = 0x011B;
constexpr std::uint16_t kTagResolutionUnit = 0x0128;
constexpr std::uint16_t kTagDateTime = 0x0132;
constexpr std::uint16_t kTagExifVersion = 0x9000;
constexpr std::uint16_t kTagMakerPreviewOffset = 0x0088;
constexpr std::uint16_t kTagMakerPreviewLength = 0x0089;
constexpr std::array<std::uint16_t, 2> kTagsDroppedFromLargeBlocks = {0x0002, 0x0080};
constexpr std::uint16_t kTagMakerNoteDropped = 0x2001;

constexpr std::array<std::uint8_t, 6> kExifHeader = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::array<std::uint8_t, 4> kExifVersion0221 = {'0', '2', '2', '1'};
constexpr std::uint64_t kSizeMargin = 2064;
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

std::uint16_t Get16(const std::uint8_t* p, bool bigEndian) {
  return bigEndian ? static_cast<std::uint16_t>((p[0] << 8) | p[1]) : static_cast<std::uint16_t>((p[1] << 8) | p[0]);
}

std::uint32_t Get32(const std::uint8_t* p, bool bigEndian) {
  const std::uint32_t hi = Get16(bigEndian ? p : p + 2, bigEndian);
  const std::uint32_t lo = Get16(bigEndian ? p + 2 : p, bigEndian);
  return (hi << 16) | lo;
}

void Put16(std::uint8_t* p, std::uint16_t value, bool bigEndian) {
  p[bigEndian ? 0 : 1] = static_cast<std::uint8_t>(value >> 8);
  p[bigEndian ? 1 : 0] = static_cast<std::uint8_t>(value);
}

void Put32(std::uint8_t* p, std::uint32_t value, bool bigEndian) {
  Put16(bigEndian ? p : p + 2, static_cast<std::uint16_t>(value >> 16), bigEndian);
  Put16(bigEndian ? p + 2 : p, static_cast<std::uint16_t>(value), bigEndian);
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
  if (Get16(&bytes[2], header->bigEndian) != 42) {
    return XpStatus::JpegDecodeFailed;
  }
  header->ifd0 = Get32(&bytes[4], header->bigEndian);
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
  const std::uint16_t count = Get16(countBytes.data(), header.bigEndian);
  if (count > kMaxDirectoryEntries || !InRange(position + 2, 12U * count, length)) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> table(12U * count);
  if (ReadAt(file, position + 2, table) != XpStatus::Ok) {
    return std::nullopt;
  }
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint8_t* e = table.data() + 12U * i;
    if (Get16(e, header.bigEndian) == tag) {
      return RawEntry{Get16(e + 2, header.bigEndian), Get32(e + 4, header.bigEndian), Get32(e + 8, header.bigEndian),
                      position + 2 + 12 * std::int64_t{i} + 8};
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
// The temporary file beside the picture, locked while it exists and removed
// unless it was committed.

class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { Discard(); }

  /// Creates "target-N" with the first N for which nothing of that name
  /// exists; leftovers of rewrites that were killed are removed first.
  [[nodiscard]] XpStatus Create(const std::string& target) {
    if (auto st = m_replacement.Create(target); st != XpStatus::Ok) {
      return st;
    }
    return m_file.Open(m_replacement.Path(), XpAbstractFile::kReadWrite);
  }

  [[nodiscard]] XpFile& File() { return m_file; }
  [[nodiscard]] const std::string& Path() const { return m_replacement.Path(); }

  /// Gives the file the picture's permission bits (and owner, where allowed)
  /// and, with `keepTime`, its modification time; flushes it to disk and
  /// closes it.
  [[nodiscard]] XpStatus Finish(const struct stat& original, bool keepTime = false) {
    const std::string& path = Path();
    if (::chmod(path.c_str(), original.st_mode & 07777) != 0) {
      return XpStatusFromErrno(errno);
    }
    struct stat mine {};
    if (::stat(path.c_str(), &mine) == 0 && (mine.st_uid != original.st_uid || mine.st_gid != original.st_gid)) {
      // Only a privileged process may hand a file to another owner; anyone
      // else keeps the file as their own, as any editor would.
      if (::chown(path.c_str(), original.st_uid, original.st_gid) == 0) {
        // chown may clear set-id bits; put the picture's bits back.
        (void)::chmod(path.c_str(), original.st_mode & 07777);
      }
    }
    if (auto st = m_file.SyncToDisk(); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = m_file.Close(); st != XpStatus::Ok) {
      return st;
    }
    if (keepTime) {
      const struct timespec times[2] = {{0, UTIME_NOW}, original.st_mtim};
      if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        return XpStatusFromErrno(errno);
      }
    }
    return m_replacement.Flush();
  }

  /// Renames the file over `target` (the one given to Create) and makes the
  /// rename durable.
  [[nodiscard]] XpStatus CommitTo(const std::string& /*target*/) { return m_replacement.Commit(); }

 private:
  void Discard() {
    (void)m_file.Close();
    m_replacement.Discard();
  }

  XpFile m_file;
  XpReplacementFile m_replacement;
};

/// The file that a rewrite replaces: `path` itself, or the file a symbolic
/// link names (replacing the link by a plain file would cut it off).
[[nodiscard]] XpStatus ResolveTarget(const std::string& path, std::string* target, struct stat* info) {
  struct stat linkInfo {};
  if (::lstat(path.c_str(), &linkInfo) != 0) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  *target = path;
  if (S_ISLNK(linkInfo.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (resolved == nullptr) {
      return XpStatusFromErrnoForPath(errno, path);
    }
    *target = resolved.get();
  }
  if (::stat(target->c_str(), info) != 0) {
    return XpStatusFromErrnoForPath(errno, *target);
  }
  if (!S_ISREG(info->st_mode)) {
    return XpStatus::AccessDenied;
  }
  return XpStatus::Ok;
}

std::string CurrentDateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::array<char, 96> text{};
  std::snprintf(text.data(), text.size(), "%04ld:%02ld:%02ld %02ld:%02ld:%02ld", long{local.tm_year} + 1900,
                long{local.tm_mon} + 1, long{local.tm_mday}, long{local.tm_hour}, long{local.tm_min},
                long{local.tm_sec});
  return text.data();
}

// ---------------------------------------------------------------------------
// Preparing the tree for a GPS rewrite

struct Prepared {
  std::vector<std::uint8_t> thumbnail;  // IFD1's JPEG thumbnail, empty when none
  std::uint32_t previewOffset = 0;      // maker-note preview, relative to the source's base
  std::uint32_t previewLength = 0;
};

/// ExifVersion becomes "0221" unless it already holds a later version.
[[nodiscard]] XpStatus RaiseExifVersion(XpTiffTagIFD& exif) {
  if (const XpTiffTagDataBase* old = exif.Find(kTagExifVersion)) {
    const auto bytes = old->Bytes();
    for (std::size_t i = 0; i < kExifVersion0221.size() && i < bytes.size(); ++i) {
      if (bytes[i] != kExifVersion0221[i]) {
        if (bytes[i] > kExifVersion0221[i]) {
          return XpStatus::Ok;
        }
        break;
      }
    }
  }
  return exif.SetUndefined(kTagExifVersion, kExifVersion0221);
}

/// Reads IFD1's thumbnail from the source. A thumbnail that does not lie in
/// the file counts as none: it cannot be carried over, and failing the whole
/// rewrite for it would leave the picture without a way to get its position.
[[nodiscard]] XpStatus ReadThumbnail(XpAbstractFile& source, std::uint32_t offset, std::uint32_t length,
                                     std::vector<std::uint8_t>* thumbnail) {
  thumbnail->clear();
  if (offset == 0 || length == 0 || length > kMaxApp1Payload) {
    return XpStatus::Ok;
  }
  if (auto st = XpJpegExif::LocateExif(source, 0); st != XpStatus::Ok) {
    return st;
  }
  const std::int64_t at = source.GetPosition() + std::int64_t{offset};
  if (!InRange(at, length, source.GetLength())) {
    return XpStatus::Ok;
  }
  thumbnail->resize(length);
  return ReadAt(source, at, *thumbnail);
}

/// Old GPS tags that the GPS record does not hold (GPSHPositioningError and
/// any later tag) stay in the new GPS directory as they were.
[[nodiscard]] XpStatus CarryUnmodelledGpsTags(const XpTiffTagIFD* previous, XpTiffTagIFD& gps) {
  if (previous == nullptr) {
    return XpStatus::Ok;
  }
  for (const auto& entry : previous->Entries()) {
    if (entry->GetTag() < XpGPSRecord::kTagCount || gps.Has(entry->GetTag())) {
      continue;
    }
    auto copy = entry->Clone();
    if (copy == nullptr || gps.AddEntry(std::move(copy)) == nullptr) {
      return XpStatus::OutOfMemory;
    }
  }
  return XpStatus::Ok;
}

[[nodiscard]] XpStatus PrepareTree(XpTiffTagManager& tree, XpAbstractFile& source, const XpGPSRecord& record,
                                   bool replaceWhole, const std::string& dateTime, Prepared* prepared,
                                   XpTiffTagIFD** gpsOut) {
  XpTiffTagIFD* ifd0 = tree.GetIFD(0);
  if (ifd0 == nullptr) {
    return XpStatus::NoExif;
  }
  if (auto st = ifd0->SetAscii(kTagDateTime, dateTime, 20); st != XpStatus::Ok) {
    return st;
  }
  if (XpTiffTagIFD* exif = tree.GetExifIFD()) {
    if (auto st = RaiseExifVersion(*exif); st != XpStatus::Ok) {
      return st;
    }
  }

  std::uint64_t expected = ifd0->StoredSize(true) + kSizeMargin;
  if (XpTiffTagIFD* ifd1 = tree.GetIFD(1)) {
    if (ifd1->Has(kTagDateTime)) {
      if (auto st = ifd1->SetAscii(kTagDateTime, dateTime, 20); st != XpStatus::Ok) {
        return st;
      }
    }
    expected += ifd1->StoredSize(true) + ifd1->FindLong(kTagThumbnailLength);
    expected += expected & 1;
  }
  if (XpTiffTagIFD* makerSub = tree.GetMakerSubIFD()) {
    if (expected > 0xFFFF) {
      for (const std::uint16_t tag : kTagsDroppedFromLargeBlocks) {
        makerSub->RemoveTag(tag);
      }
    }
    prepared->previewOffset = makerSub->FindLong(kTagMakerPreviewOffset);
    prepared->previewLength = makerSub->FindLong(kTagMakerPreviewLength);
  }
  while (tree.IFDCount() > 2) {
    tree.RemoveIFD(2);
  }

  // The GPS directory.
  std::unique_ptr<XpTiffTagIFD> previousGps;
  if (const XpTiffTagIFD* old = tree.GetGPSIFD(); old != nullptr && replaceWhole) {
    previousGps = old->Clone();
    if (previousGps == nullptr) {
      return XpStatus::OutOfMemory;
    }
  }
  XpTiffTagDataIFD* gpsEntry = nullptr;
  if (!replaceWhole) {
    XpTiffTagDataBase* existing = ifd0->Find(kTagGPSIFD);
    if (existing != nullptr && existing->IsIFD()) {
      gpsEntry = static_cast<XpTiffTagDataIFD*>(existing);
    }
  }
  if (gpsEntry == nullptr) {
    auto fresh = XpCreateTiffTagDataIFD(kTagGPSIFD, 1);
    if (fresh == nullptr) {
      return XpStatus::OutOfMemory;
    }
    gpsEntry = static_cast<XpTiffTagDataIFD*>(ifd0->AddEntry(std::move(fresh)));
    if (gpsEntry == nullptr) {
      return XpStatus::OutOfMemory;
    }
  }
  if (gpsEntry->ChildCount() == 0 && gpsEntry->AddChild(std::make_unique<XpTiffTagIFD>()) == nullptr) {
    return XpStatus::OutOfMemory;
  }
  XpTiffTagIFD* gps = gpsEntry->GetChild(0);
  if (auto st = gps->SetGPSRecord(record); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CarryUnmodelledGpsTags(previousGps.get(), *gps); st != XpStatus::Ok) {
    return st;
  }
  *gpsOut = gps;

  if (XpTiffTagIFD* makerNote = tree.GetMakerNoteIFD()) {
    makerNote->RemoveTag(kTagMakerNoteDropped);
  }

  // IFD1 keeps a JPEG thumbnail, placed right behind the stored tree.
  if (XpTiffTagIFD* ifd1 = tree.GetIFD(1)) {
    const std::uint32_t offset = ifd1->FindLong(kTagThumbnailOffset);
    const std::uint32_t length = ifd1->FindLong(kTagThumbnailLength);
    if (auto st = ReadThumbnail(source, offset, length, &prepared->thumbnail); st != XpStatus::Ok) {
      return st;
    }
    if (prepared->thumbnail.empty()) {
      tree.RemoveIFD(1);
    } else {
      for (XpStatus st : {ifd1->SetShort(kTagCompression, 6), ifd1->SetRational(kTagXResolution, 72, 1),
                          ifd1->SetRational(kTagYResolution, 72, 1), ifd1->SetShort(kTagResolutionUnit, 2),
                          ifd1->SetLong(kTagThumbnailLength, length), ifd1->SetLong(kTagThumbnailOffset, 0)}) {
        if (st != XpStatus::Ok) {
          return st;
        }
      }
      // Its final offset is known once the tree's layout is (see PlaceThumbnail).
    }
  }
  return XpStatus::Ok;
}

/// A raw maker note usually points into itself with offsets counted from the
/// TIFF header, so it must keep its offset to stay readable. Answers the pin
/// for it, if the source has one.
std::vector<XpTiffTagManager::PinnedValue> MakerNotePins(XpAbstractFile& source, const XpTiffTagManager& tree) {
  std::vector<XpTiffTagManager::PinnedValue> pins;
  const XpTiffTagIFD* exif = tree.GetExifIFD();
  const XpTiffTagDataBase* note = exif != nullptr ? exif->Find(kTagMakerNote) : nullptr;
  if (note == nullptr || note->IsIFD() || note->GetByteSize() <= 4) {
    return pins;
  }
  TiffHeader header;
  if (ReadTiffHeader(source, &header) != XpStatus::Ok) {
    return pins;
  }
  const auto exifEntry = FindRawEntry(source, header, header.ifd0, kTagExifIFD);
  if (!exifEntry || (exifEntry->type != kTiffTypeLong && exifEntry->type != kTiffTypeIFD)) {
    return pins;
  }
  const auto raw = FindRawEntry(source, header, exifEntry->value, kTagMakerNote);
  if (raw && raw->count == note->GetByteSize() && raw->count > 4) {
    pins.push_back({note, raw->value});
  }
  return pins;
}

/// Points IFD1 at the thumbnail, which follows the stored tree directly.
[[nodiscard]] XpStatus PlaceThumbnail(XpTiffTagManager& tree, std::span<const XpTiffTagManager::PinnedValue> pins) {
  XpTiffTagIFD* ifd1 = tree.GetIFD(1);
  if (ifd1 == nullptr) {
    return XpStatus::Ok;
  }
  XpMemoryFile scratch;
  XpStatus st = XpStatus::Ok;
  const std::uint64_t length = tree.Store(scratch, pins, &st);
  if (length == 0) {
    return st != XpStatus::Ok ? st : XpStatus::NoExif;
  }
  if (length > kMaxApp1Payload) {
    return XpStatus::JpegEncodeFailed;
  }
  return ifd1->SetLong(kTagThumbnailOffset, static_cast<std::uint32_t>(length));
}

[[nodiscard]] XpStatus BuildBlock(XpTiffTagManager& tree, std::span<const XpTiffTagManager::PinnedValue> pins,
                                  const std::vector<std::uint8_t>& thumbnail, XpMemoryFile* block) {
  if (auto st = block->WriteAll(kExifHeader.data(), kExifHeader.size()); st != XpStatus::Ok) {
    return st;
  }
  XpStatus stored = XpStatus::Ok;
  if (tree.Store(*block, pins, &stored) == 0) {
    return stored != XpStatus::Ok ? stored : XpStatus::NoExif;
  }
  if (!thumbnail.empty()) {
    return block->WriteAll(thumbnail.data(), thumbnail.size());
  }
  return XpStatus::Ok;
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
    if (layout.exifCount > 1 || (layout.exifCount == 1 && replaced == leadingEnd)) {
      return XpStatus::ExifDamaged;
    }
    if (replaced != leadingEnd) {
      splice->exifPosition = replaced->position;
      splice->exifSize = replaced->size;
      header -= replaced->size;
    }
    header += 4 + static_cast<std::int64_t>(blockSize);
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
  const std::uint8_t* tiff = bytes.data() + kExifHeader.size();
  TiffHeader header;
  header.base = static_cast<std::int64_t>(kExifHeader.size());
  header.bigEndian = tiff[0] == 'M';
  header.ifd0 = Get32(tiff + 4, header.bigEndian);
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
  Put32(value.data(), static_cast<std::uint32_t>(relative), header.bigEndian);
  return WriteAt(block, previewEntry->valuePosition, value);
}

/// Lays out the rewrite of `source` with the new `block`, carrying the
/// maker-note preview (source TIFF offset `previewOffset`, 0 for none).
[[nodiscard]] XpStatus PlanRewrite(XpAbstractFile& source, XpMemoryFile& block, std::uint32_t previewOffset,
                                   std::uint32_t previewLength, Splice* splice) {
  if (auto st = PlanSplice(source, 0, static_cast<std::uint64_t>(block.GetLength()), splice); st != XpStatus::Ok) {
    return st;
  }
  if (previewOffset == 0 || previewLength == 0) {
    return XpStatus::Ok;
  }
  if (auto st = XpJpegExif::LocateExif(source, 0); st != XpStatus::Ok) {
    return st;
  }
  std::int64_t placed = -1;
  const std::int64_t from = source.GetPosition() + std::int64_t{previewOffset};
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
  for (const auto& [from, to] : {std::pair{runStart, cut}, std::pair{resume, runEnd}}) {
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
// Checking the written file

bool SameEntries(const XpTiffTagIFD& a, const XpTiffTagIFD& b) {
  if (a.EntryCount() != b.EntryCount()) {
    return false;
  }
  for (std::size_t i = 0; i < a.EntryCount(); ++i) {
    const XpTiffTagDataBase& x = *a.GetEntry(i);
    const XpTiffTagDataBase& y = *b.GetEntry(i);
    if (x.GetTag() != y.GetTag() || x.GetType() != y.GetType() || x.GetCount() != y.GetCount() ||
        !std::equal(x.Bytes().begin(), x.Bytes().end(), y.Bytes().begin(), y.Bytes().end())) {
      return false;
    }
  }
  return true;
}

/// The written file must parse, carry exactly the GPS directory that was
/// stored and have the source's frame.
[[nodiscard]] XpStatus VerifyWritten(const std::string& tempPath, const XpTiffTagIFD& writtenGps,
                                     const FrameHeader& sourceFrame) {
  XpFile written(tempPath);
  if (auto st = written.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  TagTreePtr tree;
  if (XpJpegExif::ReadTagTree(written, &tree, 0) != XpStatus::Ok || tree == nullptr ||
      tree->LoadStatus() != XpStatus::Ok) {
    return XpStatus::JpegDecodeFailed;
  }
  const XpTiffTagIFD* gps = tree->GetGPSIFD();
  if (gps == nullptr || !SameEntries(*gps, writtenGps)) {
    return XpStatus::JpegDecodeFailed;
  }
  FrameHeader frame;
  if (ReadFrameHeader(written, &frame) != XpStatus::Ok || !(frame == sourceFrame)) {
    return XpStatus::JpegDecodeFailed;
  }
  return XpStatus::Ok;
}

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
// What must hold before a picture is rewritten, and what the new file must keep

/// A picture the user protected is never replaced: one whose permission bits
/// give nobody write access (so that not even the superuser, who passes every
/// access check, replaces it), one the effective user may not write, and one
/// with the immutable or append-only attribute. 0x8609 for each of them.
[[nodiscard]] XpStatus CheckNotProtected(const std::string& target, const struct stat& info) {
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return XpStatus::PictureReadOnly;
  }
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY) {
      return XpStatus::PictureReadOnly;
    }
    return XpStatusFromErrnoForPath(errno, target);
  }
  const int fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    // File systems without these attributes answer the ioctl with an error;
    // their files cannot carry the flags either.
    int flags = 0;
    const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    if (known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
      return XpStatus::PictureReadOnly;
    }
  }
  return XpStatus::Ok;
}

/// The changes a GPS rewrite makes on purpose: the GPS directory (checked on
/// its own), DateTime, ExifVersion, the maker-note entries that are dropped
/// or moved, and IFD1's thumbnail description.
bool IsIntendedChange(const std::string& where, std::uint16_t tag) {
  if (where == "IFD0") {
    return tag == kTagDateTime || tag == kTagGPSIFD;
  }
  if (where == "IFD0/8769") {
    return tag == kTagExifVersion;
  }
  if (where == "IFD0/8769/927c") {
    return tag == kTagMakerNoteDropped;
  }
  if (where == "IFD0/8769/927c/b028") {
    return tag == kTagMakerPreviewOffset ||
           std::find(kTagsDroppedFromLargeBlocks.begin(), kTagsDroppedFromLargeBlocks.end(), tag) !=
               kTagsDroppedFromLargeBlocks.end();
  }
  if (where == "IFD1") {
    return tag == kTagCompression || tag == kTagXResolution || tag == kTagYResolution || tag == kTagResolutionUnit ||
           tag == kTagThumbnailOffset || tag == kTagThumbnailLength || tag == kTagDateTime;
  }
  return false;
}

/// The written file's tree must read completely and hold every directory and
/// entry of the old tree's first `topLevel` directories, apart from what
/// `skip` names; 0x8602 otherwise.
[[nodiscard]] XpStatus CheckTreeKept(const std::string& tempPath, const XpTiffTagManager& before, std::size_t topLevel,
                                     const XpTiffTagSkip& skip) {
  XpFile written(tempPath);
  if (auto st = written.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  TagTreePtr tree;
  if (XpJpegExif::ReadTagTree(written, &tree, 0) != XpStatus::Ok || tree == nullptr || !tree->IsComplete()) {
    return XpStatus::JpegDecodeFailed;
  }
  if (!XpTiffTreeDifference(before, *tree, topLevel, skip).empty()) {
    return XpStatus::JpegDecodeFailed;
  }
  return XpStatus::Ok;
}

/// The end of the Exif segment whose TIFF header `header` describes (the
/// segment length stands 8 bytes before the header); -1 when unreadable.
std::int64_t ExifBlockEnd(XpAbstractFile& file, const TiffHeader& header) {
  std::array<std::uint8_t, 2> length{};
  if (header.base < 8 || ReadAt(file, header.base - 8, length) != XpStatus::Ok) {
    return -1;
  }
  return header.base - 8 + ((length[0] << 8) | length[1]);
}

/// Overwrites the GPS directory at `offset` and every value it owns with
/// zero bytes, so that a removed position cannot be read from the file by
/// anyone. Only bytes inside the Exif block are touched. 0x8608 for a
/// directory that does not lie in the block.
[[nodiscard]] XpStatus ScrubGpsDirectory(XpAbstractFile& file, const TiffHeader& header, std::uint32_t offset,
                                         std::int64_t blockEnd) {
  const std::int64_t position = header.base + std::int64_t{offset};
  std::array<std::uint8_t, 2> countBytes{};
  if (!InRange(position, 2, blockEnd) || ReadAt(file, position, countBytes) != XpStatus::Ok) {
    return XpStatus::ExifDamaged;
  }
  const std::uint32_t count = Get16(countBytes.data(), header.bigEndian);
  if (count > kMaxDirectoryEntries || !InRange(position + 2, 12U * count, blockEnd)) {
    return XpStatus::ExifDamaged;
  }
  std::vector<std::uint8_t> table(12U * count);
  if (count > 0) {
    if (auto st = ReadAt(file, position + 2, table); st != XpStatus::Ok) {
      return st;
    }
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = table.data() + 12U * i;
    const std::uint64_t size =
        std::uint64_t{Get32(e + 4, header.bigEndian)} * XpTiffTypeUnitSize(Get16(e + 2, header.bigEndian));
    const std::int64_t at = header.base + std::int64_t{Get32(e + 8, header.bigEndian)};
    if (size > 4 && InRange(at, size, blockEnd)) {
      const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(size), 0);
      if (auto st = WriteAt(file, at, zeros); st != XpStatus::Ok) {
        return st;
      }
    }
  }
  // The table itself, with the next-directory offset when the block holds it.
  const std::uint64_t tableSize = 2 + 12U * count + (InRange(position, 2 + 12U * count + 4, blockEnd) ? 4 : 0);
  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(tableSize), 0);
  return WriteAt(file, position, zeros);
}

/// Reads the tree of a picture that is to be rewritten: 0x8601 without one,
/// 0x8608 when it was not read completely.
[[nodiscard]] XpStatus ReadTreeToRewrite(XpAbstractFile& source, TagTreePtr* tree) {
  if (auto st = XpJpegExif::ReadTagTree(source, tree, 0); st != XpStatus::Ok) {
    return st == XpStatus::JpegDecodeFailed ? XpStatus::ExifDamaged : st;
  }
  if (*tree == nullptr || !(*tree)->HasIFD()) {
    return XpStatus::NoExif;
  }
  return (*tree)->IsComplete() ? XpStatus::Ok : XpStatus::ExifDamaged;
}

/// Refuses a picture with more than one Exif segment before its image: which
/// of them holds the position is a matter of the reader, so rewriting one of
/// them can never be right. 0x860C for an absurd number of segments.
[[nodiscard]] XpStatus RefuseSecondExif(XpAbstractFile& source) {
  XpJpegSegments::Layout layout;
  const XpStatus walked = XpJpegSegments::Walk(source, 0, &layout);
  if (walked == XpStatus::TooManySegments) {
    return walked;
  }
  return layout.exifCount > 1 ? XpStatus::ExifDamaged : XpStatus::Ok;
}

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

XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record, bool replaceWhole, const Hooks& hooks) {
  std::string target;
  struct stat original {};
  if (auto st = ResolveTarget(path, &target, &original); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CheckNotProtected(target, original); st != XpStatus::Ok) {
    return st;
  }
  XpFile source(target);
  if (auto st = source.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }

  TagTreePtr tree;
  if (auto st = XpJpegExif::ReadTagTree(source, &tree, 0); st != XpStatus::Ok) {
    // An Exif block whose tree does not parse is no tag tree either; only a
    // stream that is not a JPEG at all is a decoding failure.
    if (st == XpStatus::JpegDecodeFailed && XpJpegExif::CheckJpegStream(source, 0) == XpStatus::Ok) {
      return XpStatus::NoExif;
    }
    return st;
  }
  if (tree == nullptr || !tree->HasIFD()) {
    return XpStatus::NoExif;
  }
  // Storing a tree read only in part would drop what was not read.
  if (!tree->IsComplete()) {
    return XpStatus::ExifDamaged;
  }
  const std::unique_ptr<XpTiffTagManager> before = tree->Clone();
  if (before == nullptr) {
    return XpStatus::OutOfMemory;
  }
  FrameHeader sourceFrame;
  if (auto st = ReadFrameHeader(source, &sourceFrame); st != XpStatus::Ok) {
    return st;
  }

  Prepared prepared;
  XpTiffTagIFD* writtenGps = nullptr;
  const std::string dateTime = hooks.dateTime.empty() ? CurrentDateTimeText() : hooks.dateTime;
  if (auto st = PrepareTree(*tree, source, record, replaceWhole, dateTime, &prepared, &writtenGps);
      st != XpStatus::Ok) {
    return st;
  }
  const auto pins = MakerNotePins(source, *tree);
  if (!prepared.thumbnail.empty()) {
    if (auto st = PlaceThumbnail(*tree, pins); st != XpStatus::Ok) {
      return st;
    }
  }
  XpMemoryFile block;
  if (auto st = BuildBlock(*tree, pins, prepared.thumbnail, &block); st != XpStatus::Ok) {
    return st;
  }
  if (block.GetLength() >= 65536) {
    return XpStatus::JpegEncodeFailed;
  }
  if (block.GetLength() > static_cast<std::int64_t>(kMaxApp1Payload)) {
    return XpStatus::JpegDecodeFailed;
  }

  TempFile temp;
  if (auto st = temp.Create(target); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = source.Seek(0, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  Splice splice;
  if (auto st = PlanRewrite(source, block, prepared.previewOffset, prepared.previewLength, &splice);
      st != XpStatus::Ok) {
    return st;
  }
  if (auto st = WriteSplice(source, block.Bytes(), splice, temp.File()); st != XpStatus::Ok) {
    return st;
  }
  if (hooks.beforeCommit) {
    if (auto st = hooks.beforeCommit(temp.Path()); st != XpStatus::Ok) {
      return st;
    }
  }
  if (auto st = temp.Finish(original, KeepsTime(hooks)); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = VerifyWritten(temp.Path(), *writtenGps, sourceFrame); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CheckTreeKept(temp.Path(), *before, prepared.thumbnail.empty() ? 1 : 2, IsIntendedChange);
      st != XpStatus::Ok) {
    return st;
  }
  if (auto st = VerifyCopiedTail(temp.Path(), source, splice); st != XpStatus::Ok) {
    return st;
  }
  (void)source.Close();
  return temp.CommitTo(target);
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

XpStatus RemoveGPS(const std::string& path, const Hooks& hooks) {
  std::string target;
  struct stat original {};
  if (auto st = ResolveTarget(path, &target, &original); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CheckNotProtected(target, original); st != XpStatus::Ok) {
    return st;
  }
  XpFile source(target);
  if (auto st = source.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = RefuseSecondExif(source); st != XpStatus::Ok) {
    return st;
  }
  TiffHeader header;
  if (auto st = ReadTiffHeader(source, &header); st != XpStatus::Ok) {
    return st;
  }
  const std::int64_t length = source.GetLength();
  const std::int64_t position = header.base + std::int64_t{header.ifd0};
  if (!InRange(position, 3, length)) {
    return XpStatus::JpegDecodeFailed;
  }
  std::array<std::uint8_t, 2> countBytes{};
  if (auto st = ReadAt(source, position, countBytes); st != XpStatus::Ok) {
    return st;
  }
  const std::uint32_t count = Get16(countBytes.data(), header.bigEndian);
  if (count > kMaxDirectoryEntries) {
    return XpStatus::JpegDecodeFailed;
  }
  if (count == 0) {
    return XpStatus::Ok;
  }
  std::vector<std::uint8_t> directory(12U * count + 6);
  if (auto st = ReadAt(source, position, directory); st != XpStatus::Ok) {
    return st;
  }
  std::uint32_t kept = count;
  std::vector<std::uint32_t> gpsOffsets;
  for (std::uint32_t i = 0; i < kept;) {
    std::uint8_t* entry = directory.data() + 2 + 12U * i;
    if (Get16(entry, header.bigEndian) != kTagGPSIFD) {
      ++i;
      continue;
    }
    // A pointer with one offset names the directory whose bytes go too; an
    // empty pointer names none.
    if (Get32(entry + 4, header.bigEndian) == 1 && Get32(entry + 8, header.bigEndian) != 0) {
      gpsOffsets.push_back(Get32(entry + 8, header.bigEndian));
    }
    // Move the following entries and the next-directory offset up by one entry.
    std::memmove(entry, entry + 12, 12U * (kept - i - 1) + 4);
    --kept;
  }
  if (kept == count) {
    return XpStatus::Ok;
  }
  Put16(directory.data(), static_cast<std::uint16_t>(kept), header.bigEndian);
  // The bytes behind the shortened directory held the removed pointer.
  std::fill(directory.begin() + 2 + 12 * static_cast<std::ptrdiff_t>(kept) + 4, directory.end(), std::uint8_t{0});
  TagTreePtr before;
  if (auto st = ReadTreeToRewrite(source, &before); st != XpStatus::Ok) {
    return st;
  }
  const std::int64_t blockEnd = ExifBlockEnd(source, header);

  TempFile temp;
  if (auto st = temp.Create(target); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CopyRange(source, 0, static_cast<std::uint64_t>(length), temp.File()); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = WriteAt(temp.File(), position, directory); st != XpStatus::Ok) {
    return st;
  }
  for (const std::uint32_t gpsOffset : gpsOffsets) {
    if (auto st = ScrubGpsDirectory(temp.File(), header, gpsOffset, blockEnd); st != XpStatus::Ok) {
      return st;
    }
  }
  if (hooks.beforeCommit) {
    if (auto st = hooks.beforeCommit(temp.Path()); st != XpStatus::Ok) {
      return st;
    }
  }
  if (auto st = temp.Finish(original, KeepsTime(hooks)); st != XpStatus::Ok) {
    return st;
  }
  {
    XpFile written(temp.Path());
    TagTreePtr tree;
    if (written.Open(XpAbstractFile::kRead) != XpStatus::Ok || written.GetLength() != length ||
        XpJpegExif::ReadTagTree(written, &tree, 0) != XpStatus::Ok || tree == nullptr || !tree->HasIFD() ||
        tree->GetIFD(0)->Has(kTagGPSIFD)) {
      return XpStatus::JpegDecodeFailed;
    }
  }
  const auto onlyTheGpsPointer = [](const std::string& where, std::uint16_t tag) {
    return where == "IFD0" && tag == kTagGPSIFD;
  };
  if (auto st = CheckTreeKept(temp.Path(), *before, before->IFDCount(), onlyTheGpsPointer); st != XpStatus::Ok) {
    return st;
  }
  (void)source.Close();
  return temp.CommitTo(target);
}

}  // namespace XpExifRewrite
