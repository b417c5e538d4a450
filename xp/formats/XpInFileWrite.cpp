#include "xp/formats/XpInFileWrite.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "xp/base/XpFileRead.h"
#include "xp/formats/XpChunkedFormats.h"
#include "xp/formats/XpIsoBmff.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpExifEdit.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpPhotoReplace.h"
#include "xp/image/XpXmpGps.h"
#include "xp/tiff/XpByteOrder.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace XpInFileWrite {
namespace {

using Bytes = std::vector<std::uint8_t>;
using View = std::span<const std::uint8_t>;
using XpBytes::Get16;
using XpBytes::Get32;
using XpBytes::kBigEndian;
using XpBytes::kLittleEndian;
using XpBytes::Put16;
using XpBytes::Put32;

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 6> kExifIdentifier = {'E', 'x', 'i', 'f', 0, 0};
constexpr int kMaxChunks = 1 << 16;
constexpr std::uint32_t kMaxPngChunk = 0x7FFFFFFF;

// WebP: the VP8X flag bits and chunk size.
constexpr std::uint8_t kVp8xExif = 0x08;
constexpr std::uint8_t kVp8xAlpha = 0x10;
constexpr std::uint32_t kVp8xSize = 10;

constexpr std::uint32_t kMaxImageRanges = 1 << 20;

bool Fits(std::size_t length, std::uint64_t at, std::uint64_t size) { return at <= length && size <= length - at; }

void Append(Bytes& out, View bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void AppendBe32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

void AppendLe32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift <= 24; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

std::uint32_t Crc32(View bytes) {
  static const auto kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) {
        c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
      }
      table[n] = c;
    }
    return table;
  }();
  std::uint32_t c = 0xFFFFFFFFU;
  for (const std::uint8_t b : bytes) {
    c = kTable[(c ^ b) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFU;
}

/// The length of an "Exif" identifier in front of a TIFF structure (0 or 6).
std::size_t IdentifierLength(View payload) {
  return payload.size() >= kExifIdentifier.size() + 8 &&
                 std::equal(kExifIdentifier.begin(), kExifIdentifier.end(), payload.begin())
             ? kExifIdentifier.size()
             : 0;
}

// ---------------------------------------------------------------------------
// The Exif block: edited as the JPEG path edits it, or made anew

/// What the edit of one TIFF structure did, for writing and for the check.
struct BlockEdit {
  XpExifEdit::Request request;
  XpExifEdit::Outcome outcome;
  bool made = false;     ///< no block before: a new one was made
  bool nothing = false;  ///< nothing to change (a removal without a GPS pointer)
};

/// Loads `tiff` as a tag tree; null when it does not load completely (a tag
/// twice in one directory is harmless: the edit keeps both entries).
TagTreePtr LoadComplete(View tiff) {
  TagTreePtr tree;
  try {
    tree = std::make_shared<XpTiffTagManager>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  XpMemoryFile memory(tiff);
  if (!tree->LoadBlock(memory, XpTiffTagManager::kReadModeRawMakerNote, static_cast<std::int64_t>(tiff.size())) ||
      !tree->HasIFD() || (!tree->IsComplete() && !tree->OnlyDuplicateTagsSkipped())) {
    return nullptr;
  }
  return tree;
}

/// Edits the TIFF structure `tiff` (empty for none) as `change` says. With
/// `wholeFile` the structure is the photo itself: nothing is put into the old
/// GPS directory's place, and DateTime and ExifVersion stay.
[[nodiscard]] XpStatus EditBlock(View tiff, const Change& change, bool wholeFile, BlockEdit* edit) {
  *edit = BlockEdit{};
  if (tiff.empty()) {
    if (change.record == nullptr) {
      edit->nothing = true;
      return XpStatus::Ok;
    }
    edit->made = true;
    return XpExifEdit::NewBlock(*change.record, false, &edit->outcome.tiff);
  }
  const TagTreePtr tree = LoadComplete(tiff);
  if (tree == nullptr) {
    return XpStatus::ExifDamaged;
  }
  XpExifEdit::Request& request = edit->request;
  request.record = change.record;
  request.parsedGps = tree->GetGPSIFD();
  request.replaceWhole = true;
  request.appendOnly = wholeFile;
  request.raiseExifVersion = change.record != nullptr && !wholeFile;
  if (change.record != nullptr && !wholeFile) {
    request.dateTime = change.dateTime;
  }
  const XpStatus st = XpExifEdit::Edit(tiff, request, &edit->outcome);
  if (change.record == nullptr && st == XpStatus::NoExif) {
    edit->nothing = true;
    return XpStatus::Ok;
  }
  if (st == XpStatus::ExifBlockFull) {
    return XpStatus::PhotoTooLargeToWrite;
  }
  return st == XpStatus::NoExif ? XpStatus::ExifDamaged : st;
}

/// True when the GPS directory of `after` holds the entries the edit meant to
/// write, tag by tag with their types, counts and values (a value that reads
/// the same with another type still counts as a change).
[[nodiscard]] bool SameGpsEntries(View after, View meant) {
  XpExifEdit::Layout written;
  XpExifEdit::Layout planned;
  if (XpExifEdit::Walk(after, &written) != XpStatus::Ok || XpExifEdit::Walk(meant, &planned) != XpStatus::Ok) {
    return false;
  }
  const auto a = written.GpsDirectories();
  const auto b = planned.GpsDirectories();
  if (a.size() != 1 || b.size() != 1 || a.front()->entries.size() != b.front()->entries.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.front()->entries.size(); ++i) {
    const XpExifEdit::Entry& x = a.front()->entries[i];
    const XpExifEdit::Entry& y = b.front()->entries[i];
    if (x.tag != y.tag || x.type != y.type || x.count != y.count ||
        !std::equal(after.begin() + x.valueOffset, after.begin() + x.valueOffset + static_cast<std::ptrdiff_t>(x.size),
                    meant.begin() + y.valueOffset,
                    meant.begin() + y.valueOffset + static_cast<std::ptrdiff_t>(y.size))) {
      return false;
    }
  }
  return true;
}

/// The check of an edited or new block: it reads completely, keeps every
/// entry and byte of the old one outside the intended changes, and holds the
/// position written (or none).
[[nodiscard]] bool BlockChecks(View before, View after, const Change& change, const BlockEdit& edit) {
  if (edit.made) {
    XpExifEdit::Layout layout;
    if (XpExifEdit::Walk(after, &layout) != XpStatus::Ok || layout.directories.size() != 2) {
      return false;
    }
    const XpExifEdit::Directory* ifd0 = layout.Find("IFD0");
    if (ifd0 == nullptr || ifd0->entries.size() != 1 || ifd0->entries.front().tag != kTagGPSIFD ||
        layout.GpsDirectories().size() != 1) {
      return false;
    }
  } else if (!XpExifEdit::Difference(before, after, edit.request, edit.outcome).empty()) {
    return false;
  }
  if (change.record != nullptr && !SameGpsEntries(after, edit.outcome.tiff)) {
    return false;
  }
  const TagTreePtr tree = LoadComplete(after);
  if (tree == nullptr) {
    return false;
  }
  const XpTiffTagIFD* gps = tree->GetGPSIFD();
  if (change.record == nullptr) {
    return gps == nullptr;
  }
  if (gps == nullptr) {
    return false;
  }
  XpGPSRecord read;
  gps->GetGPSRecord(read);
  return XpExifEdit::HoldsRecord(read, *change.record);
}

// ---------------------------------------------------------------------------
// PNG

struct PngChunk {
  std::size_t offset = 0;  ///< of its length field
  std::uint32_t length = 0;
  std::string_view type;
  [[nodiscard]] std::size_t End() const { return offset + 12 + length; }
  [[nodiscard]] std::size_t Data() const { return offset + 8; }
};

struct PngLayout {
  std::vector<PngChunk> chunks;
  std::size_t end = 0;  ///< behind IEND; what follows is kept as it is
};

/// The chunks of a PNG file up to IEND, each inside the file. 0x8602 without
/// the signature; 0x8621 for a chunk that runs outside the file, too many
/// chunks, or a file whose first chunk is no IHDR or that has no IEND.
[[nodiscard]] XpStatus ParsePng(View data, PngLayout* layout) {
  *layout = PngLayout{};
  if (data.size() < kPngSignature.size() || !std::equal(kPngSignature.begin(), kPngSignature.end(), data.begin())) {
    return XpStatus::JpegDecodeFailed;
  }
  std::size_t at = kPngSignature.size();
  for (int count = 0;; ++count) {
    if (count >= kMaxChunks || !Fits(data.size(), at, 12)) {
      return XpStatus::PhotoContainerDamaged;
    }
    const std::uint32_t length = Get32(data, at, kBigEndian);
    if (length > kMaxPngChunk || !Fits(data.size(), at + 8, std::uint64_t{length} + 4)) {
      return XpStatus::PhotoContainerDamaged;
    }
    const PngChunk chunk{at, length, std::string_view(reinterpret_cast<const char*>(data.data() + at + 4), 4)};
    layout->chunks.push_back(chunk);
    at = chunk.End();
    if (chunk.type == "IEND") {
      break;
    }
  }
  layout->end = at;
  if (layout->chunks.front().type != "IHDR") {
    return XpStatus::PhotoContainerDamaged;
  }
  return XpStatus::Ok;
}

std::optional<std::size_t> FirstOf(const PngLayout& layout, std::string_view type) {
  for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
    if (layout.chunks[i].type == type) {
      return i;
    }
  }
  return std::nullopt;
}

std::size_t CountOf(const PngLayout& layout, std::string_view type) {
  return static_cast<std::size_t>(
      std::count_if(layout.chunks.begin(), layout.chunks.end(), [&](const PngChunk& c) { return c.type == type; }));
}

/// The source's Exif chunk as the edit sees it: the eXIf chunk, or else the
/// block written out as hexadecimal text in a "Raw profile type exif" chunk
/// (which then stays as it is: the eXIf chunk made from it is what the reader
/// takes first).
struct PngExif {
  PngExif() = default;
  PngExif(const PngExif&) = delete;
  PngExif& operator=(const PngExif&) = delete;
  std::optional<std::size_t> chunk;  ///< its index
  std::size_t identifier = 0;        ///< an "Exif" identifier kept in front of the TIFF data
  View tiff;
  Bytes decoded;  ///< the text chunk's block, which `tiff` then views
};

[[nodiscard]] XpStatus FindPngExif(View data, const PngLayout& layout, PngExif* exif) {
  exif->chunk.reset();
  exif->identifier = 0;
  exif->tiff = {};
  exif->decoded.clear();
  if (CountOf(layout, "eXIf") > 1) {
    return XpStatus::ExifDamaged;  // which of them counts is up to the reader
  }
  if (!FirstOf(layout, "IDAT")) {
    return XpStatus::PhotoContainerDamaged;
  }
  exif->chunk = FirstOf(layout, "eXIf");
  if (exif->chunk) {
    const PngChunk& c = layout.chunks[*exif->chunk];
    const View payload = data.subspan(c.Data(), c.length);
    exif->identifier = IdentifierLength(payload);
    exif->tiff = payload.subspan(exif->identifier);
    if (exif->tiff.empty()) {
      return XpStatus::ExifDamaged;
    }
    return XpStatus::Ok;
  }
  XpMemoryFile file(data);
  XpPhotoLayout found;
  if (XpChunkedFormats::LocatePng(file, &found) == XpStatus::Ok && found.hexExif.IsPresent()) {
    const auto text =
        data.subspan(static_cast<std::size_t>(found.hexExif.offset), static_cast<std::size_t>(found.hexExif.length));
    if (XpChunkedFormats::DecodeHexProfile(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()),
                                           XpPhotoMetadata::kMaxXmpBytes, &exif->decoded) &&
        !exif->decoded.empty()) {
      exif->tiff = exif->decoded;
    }
  }
  return XpStatus::Ok;
}

/// The XMP packet's chunk as a write leaves it: its index and new bytes, or
/// no index when the packet stays as it is.
struct XmpPlan {
  std::optional<std::size_t> chunk;
  Bytes bytes;
};

Bytes PngChunkBytes(std::string_view type, View payload);

/// The chunks of a PNG or WebP layout that a write keeps as they are, in
/// order: those `keeps(index, chunk)` accepts with their bytes, the planned
/// XMP chunk (when `plan` names one) as planned, and the bytes behind the
/// last chunk.
template <typename Layout, typename Keeps>
[[nodiscard]] std::vector<View> KeptViews(View data, const Layout& layout, const XmpPlan* plan, const Keeps& keeps) {
  std::vector<View> out;
  for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
    const auto& c = layout.chunks[i];
    if (plan != nullptr && plan->chunk && i == *plan->chunk) {
      out.emplace_back(plan->bytes);
    } else if (keeps(i, c)) {
      out.push_back(data.subspan(c.offset, c.End() - c.offset));
    }
  }
  out.push_back(data.subspan(layout.end));
  return out;
}

/// The same byte ranges, one by one.
[[nodiscard]] bool SameViews(const std::vector<View>& a, const std::vector<View>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](View x, View y) {
           return std::equal(x.begin(), x.end(), y.begin(), y.end());
         });
}

/// Keeps the position of the PNG's XMP packet (the first uncompressed iTXt
/// chunk "XML:com.adobe.xmp", as the reader takes it) in step with the Exif
/// position.
[[nodiscard]] XpStatus PlanPngXmp(View data, const PngLayout& layout, const Change& change, XmpPlan* plan) {
  *plan = XmpPlan{};
  XpMemoryFile file(data);
  XpPhotoLayout found;
  if (XpChunkedFormats::LocatePng(file, &found) != XpStatus::Ok || !found.xmp.IsPresent()) {
    return XpStatus::Ok;
  }
  const auto at = static_cast<std::size_t>(found.xmp.offset);
  const auto it = std::find_if(layout.chunks.begin(), layout.chunks.end(),
                               [&](const PngChunk& c) { return c.Data() <= at && at <= c.Data() + c.length; });
  if (it == layout.chunks.end() || it->type != "iTXt" ||
      at + static_cast<std::size_t>(found.xmp.length) != it->Data() + it->length) {
    return XpStatus::Ok;
  }
  XpXmpGps::Edit edit;
  if (auto st = XpExifRewrite::EditXmpPosition(change.record, data.subspan(at, it->Data() + it->length - at), &edit);
      st != XpStatus::Ok || !edit.changed) {
    return st;
  }
  Bytes payload(data.begin() + static_cast<std::ptrdiff_t>(it->Data()), data.begin() + static_cast<std::ptrdiff_t>(at));
  Append(payload, edit.packet);
  if (payload.size() > kMaxPngChunk) {
    return XpStatus::PhotoTooLargeToWrite;
  }
  plan->chunk = static_cast<std::size_t>(it - layout.chunks.begin());
  plan->bytes = PngChunkBytes("iTXt", payload);
  return XpStatus::Ok;
}

Bytes PngChunkBytes(std::string_view type, View payload) {
  Bytes out;
  AppendBe32(out, static_cast<std::uint32_t>(payload.size()));
  out.insert(out.end(), type.begin(), type.end());
  Append(out, payload);
  AppendBe32(out, Crc32(View(out).subspan(4)));
  return out;
}

Bytes ExifPayload(std::size_t identifier, View tiff) {
  Bytes payload(kExifIdentifier.begin(), kExifIdentifier.begin() + static_cast<std::ptrdiff_t>(identifier));
  Append(payload, tiff);
  return payload;
}

/// The degrees of a coordinate of `record` (south and west negative).
std::optional<double> Degrees(const XpGPSRational3& value, const XpGPSRef& ref, char16_t negative) {
  if (!value.IsValid() || !ref.IsValid()) {
    return std::nullopt;
  }
  double degrees = 0;
  double unit = 1;
  for (std::size_t i = 0; i < 3; ++i) {
    if (value.denominators[i] != 0) {
      degrees += unit * value.numerators[i] / value.denominators[i];
    }
    unit /= 60;
  }
  return ref.letter == negative || ref.letter == negative + 32 ? -degrees : degrees;
}

/// The independent check of an edited XMP packet: after a removal it names
/// no position; after a write it names the one written, if it names one (as
/// it must when the old packet did).
[[nodiscard]] bool XmpReadsChange(View old, View packet, const Change& change) {
  XpXmpGps::Position position;
  const XpStatus st = XpXmpGps::ReadGps(packet, &position);
  if (change.record == nullptr) {
    return st != XpStatus::Ok;
  }
  if (st != XpStatus::Ok) {
    return XpXmpGps::ReadGps(old, &position) != XpStatus::Ok;
  }
  const auto latitude = Degrees(change.record->latitude, change.record->latitudeRef, u'S');
  const auto longitude = Degrees(change.record->longitude, change.record->longitudeRef, u'W');
  // The packet holds minutes with eight decimals: a few millimetres.
  return latitude && longitude && std::abs(position.latitude - *latitude) < 1e-7 &&
         std::abs(position.longitude - *longitude) < 1e-7;
}

/// The XMP packet of a PNG file as the reader takes it (empty for none).
View OldPngPacket(View data) {
  XpMemoryFile file(data);
  XpPhotoLayout found;
  if (XpChunkedFormats::LocatePng(file, &found) != XpStatus::Ok || !found.xmp.IsPresent()) {
    return {};
  }
  return data.subspan(static_cast<std::size_t>(found.xmp.offset), static_cast<std::size_t>(found.xmp.length));
}

/// The new packet of a planned XMP chunk of a PNG file (behind the iTXt
/// fields that stay).
View PlannedPngPacket(View data, const PngLayout& layout, const XmpPlan& plan) {
  const PngChunk& old = layout.chunks[*plan.chunk];
  XpMemoryFile file(data);
  XpPhotoLayout found;
  (void)XpChunkedFormats::LocatePng(file, &found);
  const std::size_t fields = static_cast<std::size_t>(found.xmp.offset) - old.Data();
  return View(plan.bytes).subspan(8 + fields, plan.bytes.size() - 12 - fields);
}

[[nodiscard]] XpStatus EditPng(View data, const Change& change, Bytes* out, bool* nothing) {
  PngLayout layout;
  if (auto st = ParsePng(data, &layout); st != XpStatus::Ok) {
    return st;
  }
  PngExif exif;
  if (auto st = FindPngExif(data, layout, &exif); st != XpStatus::Ok) {
    return st;
  }
  XmpPlan xmp;
  if (auto st = PlanPngXmp(data, layout, change, &xmp); st != XpStatus::Ok) {
    return st;
  }
  BlockEdit edit;
  if (auto st = EditBlock(exif.tiff, change, false, &edit); st != XpStatus::Ok) {
    return st;
  }
  if (edit.nothing && !xmp.chunk) {
    *nothing = true;
    return XpStatus::Ok;
  }
  Bytes payload;
  if (!edit.nothing) {
    payload = ExifPayload(exif.identifier, edit.outcome.tiff);
  }
  if (payload.size() > kMaxPngChunk || data.size() + payload.size() + xmp.bytes.size() + 12 > kMaxFileBytes) {
    return XpStatus::PhotoTooLargeToWrite;
  }
  // The chunks in order, the XMP chunk edited in its place and the Exif chunk
  // (wherever it stood) right before the first IDAT, then whatever followed
  // IEND. A removal that finds a position only in XMP keeps the Exif chunk.
  out->clear();
  out->reserve(data.size() + payload.size() + xmp.bytes.size() + 12);
  Append(*out, data.first(kPngSignature.size()));
  bool placed = false;
  for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
    const PngChunk& c = layout.chunks[i];
    if (c.type == "eXIf" && !edit.nothing) {
      continue;
    }
    if (c.type == "IDAT" && !placed && !edit.nothing) {
      Append(*out, PngChunkBytes("eXIf", payload));
      placed = true;
    }
    if (xmp.chunk && i == *xmp.chunk) {
      Append(*out, xmp.bytes);
    } else {
      Append(*out, data.subspan(c.offset, c.End() - c.offset));
    }
  }
  Append(*out, data.subspan(layout.end));
  return XpStatus::Ok;
}

[[nodiscard]] bool PngChecks(View before, View after, const Change& change) {
  PngLayout old;
  PngLayout now;
  PngExif oldExif;
  PngExif newExif;
  XmpPlan xmp;
  BlockEdit edit;
  if (ParsePng(before, &old) != XpStatus::Ok || ParsePng(after, &now) != XpStatus::Ok ||
      FindPngExif(before, old, &oldExif) != XpStatus::Ok || FindPngExif(after, now, &newExif) != XpStatus::Ok ||
      PlanPngXmp(before, old, change, &xmp) != XpStatus::Ok ||
      EditBlock(oldExif.tiff, change, false, &edit) != XpStatus::Ok || (edit.nothing && !xmp.chunk)) {
    return false;
  }
  // The edited XMP packet reads as the change says.
  if (xmp.chunk && !XmpReadsChange(OldPngPacket(before), PlannedPngPacket(before, old, xmp), change)) {
    return false;
  }
  // Every chunk but the Exif chunk with its bytes, in order (the XMP chunk as
  // planned), and the bytes behind IEND; all chunks when the Exif chunk stays.
  const auto keeps = [&](std::size_t, const PngChunk& c) { return c.type != "eXIf" || edit.nothing; };
  if (!SameViews(KeptViews(before, old, &xmp, keeps), KeptViews(after, now, nullptr, keeps))) {
    return false;
  }
  if (edit.nothing) {
    return true;
  }
  // One Exif chunk, before the first IDAT, with its check value right.
  if (!newExif.chunk || newExif.identifier != oldExif.identifier || *newExif.chunk > *FirstOf(now, "IDAT")) {
    return false;
  }
  const PngChunk& e = now.chunks[*newExif.chunk];
  if (Crc32(after.subspan(e.offset + 4, e.length + 4)) != Get32(after, e.Data() + e.length, kBigEndian)) {
    return false;
  }
  return BlockChecks(oldExif.tiff, newExif.tiff, change, edit);
}

// ---------------------------------------------------------------------------
// WebP

struct RiffChunk {
  std::size_t offset = 0;  ///< of its FourCC
  std::uint32_t size = 0;
  std::string_view type;
  [[nodiscard]] std::size_t Data() const { return offset + 8; }
  /// Behind the data and the padding byte of an odd size.
  [[nodiscard]] std::size_t End() const { return offset + 8 + size + (size & 1); }
};

struct WebpLayout {
  std::vector<RiffChunk> chunks;
  std::size_t end = 0;  ///< the end of the RIFF data; what follows is kept as it is
};

/// The chunks of a WebP file inside its RIFF size. 0x8602 without "RIFF" and
/// "WEBP"; 0x8621 for a RIFF size beyond the file, a chunk (with its padding)
/// beyond the RIFF size, too many chunks, or a first chunk that is no VP8,
/// VP8L or VP8X.
[[nodiscard]] XpStatus ParseWebp(View data, WebpLayout* layout) {
  *layout = WebpLayout{};
  if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0 || std::memcmp(data.data() + 8, "WEBP", 4) != 0) {
    return XpStatus::JpegDecodeFailed;
  }
  const std::uint64_t end = std::uint64_t{8} + Get32(data, 4, kLittleEndian);
  if (end > data.size()) {
    return XpStatus::PhotoContainerDamaged;
  }
  std::size_t at = 12;
  for (int count = 0; at < end; ++count) {
    if (count >= kMaxChunks || !Fits(end, at, 8)) {
      return XpStatus::PhotoContainerDamaged;
    }
    const std::uint32_t size = Get32(data, at + 4, kLittleEndian);
    const RiffChunk chunk{at, size, std::string_view(reinterpret_cast<const char*>(data.data() + at), 4)};
    if (!Fits(end, at + 8, std::uint64_t{size} + (size & 1))) {
      return XpStatus::PhotoContainerDamaged;
    }
    layout->chunks.push_back(chunk);
    at = chunk.End();
  }
  layout->end = static_cast<std::size_t>(end);
  if (layout->chunks.empty()) {
    return XpStatus::PhotoContainerDamaged;
  }
  const std::string_view first = layout->chunks.front().type;
  if (first != "VP8 " && first != "VP8L" && first != "VP8X") {
    return XpStatus::PhotoContainerDamaged;
  }
  if (first == "VP8X" && layout->chunks.front().size < kVp8xSize) {
    return XpStatus::PhotoContainerDamaged;
  }
  return XpStatus::Ok;
}

/// The canvas of a simple WebP file from its bitstream's header: width,
/// height and whether it has alpha. Nothing when the header does not read.
struct Canvas {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool alpha = false;
};

std::optional<Canvas> BitstreamCanvas(View data, const RiffChunk& chunk) {
  const View payload = data.subspan(chunk.Data(), chunk.size);
  if (chunk.type == "VP8L") {
    // The signature byte, then 14 bits of width - 1, 14 of height - 1, the
    // alpha bit and a 3-bit version that is 0.
    if (payload.size() < 5 || payload[0] != 0x2F) {
      return std::nullopt;
    }
    const std::uint32_t bits = Get32(payload, 1, kLittleEndian);
    if ((bits >> 29) != 0) {
      return std::nullopt;
    }
    return Canvas{(bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1, ((bits >> 28) & 1) != 0};
  }
  // VP8: a 3-byte frame tag of a key frame, the start code, then 14-bit
  // width and height, each with 2 bits of scaling above them.
  if (payload.size() < 10 || (payload[0] & 1) != 0 || payload[3] != 0x9D || payload[4] != 0x01 || payload[5] != 0x2A) {
    return std::nullopt;
  }
  const std::uint32_t width = Get16(payload, 6, kLittleEndian) & 0x3FFF;
  const std::uint32_t height = Get16(payload, 8, kLittleEndian) & 0x3FFF;
  if (width == 0 || height == 0) {
    return std::nullopt;
  }
  return Canvas{width, height, false};
}

Bytes RiffChunkBytes(std::string_view type, View payload) {
  Bytes out(type.begin(), type.end());
  AppendLe32(out, static_cast<std::uint32_t>(payload.size()));
  Append(out, payload);
  if (payload.size() & 1) {
    out.push_back(0);
  }
  return out;
}

Bytes Vp8xPayload(const Canvas& canvas) {
  Bytes payload(kVp8xSize, 0);
  payload[0] = static_cast<std::uint8_t>(kVp8xExif | (canvas.alpha ? kVp8xAlpha : 0));
  for (int i = 0; i < 3; ++i) {
    payload[4 + i] = static_cast<std::uint8_t>((canvas.width - 1) >> (8 * i));
    payload[7 + i] = static_cast<std::uint8_t>((canvas.height - 1) >> (8 * i));
  }
  return payload;
}

struct WebpExif {
  std::optional<std::size_t> chunk;
  std::size_t identifier = 0;
  View tiff;
};

[[nodiscard]] XpStatus FindWebpExif(View data, const WebpLayout& layout, WebpExif* exif) {
  *exif = WebpExif{};
  for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
    if (layout.chunks[i].type != "EXIF") {
      continue;
    }
    if (exif->chunk) {
      return XpStatus::ExifDamaged;
    }
    exif->chunk = i;
    const View payload = data.subspan(layout.chunks[i].Data(), layout.chunks[i].size);
    exif->identifier = IdentifierLength(payload);
    exif->tiff = payload.subspan(exif->identifier);
    if (exif->tiff.empty()) {
      return XpStatus::ExifDamaged;
    }
  }
  return XpStatus::Ok;
}

/// Keeps the position of the WebP's XMP chunk (the first one, as the reader
/// takes it) in step with the Exif position.
[[nodiscard]] XpStatus PlanWebpXmp(View data, const WebpLayout& layout, const Change& change, XmpPlan* plan) {
  *plan = XmpPlan{};
  const auto it =
      std::find_if(layout.chunks.begin(), layout.chunks.end(), [](const RiffChunk& c) { return c.type == "XMP "; });
  if (it == layout.chunks.end()) {
    return XpStatus::Ok;
  }
  XpXmpGps::Edit edit;
  if (auto st = XpExifRewrite::EditXmpPosition(change.record, data.subspan(it->Data(), it->size), &edit);
      st != XpStatus::Ok || !edit.changed) {
    return st;
  }
  plan->chunk = static_cast<std::size_t>(it - layout.chunks.begin());
  plan->bytes = RiffChunkBytes("XMP ", edit.packet);
  return XpStatus::Ok;
}

/// Sets the RIFF size of the chunks in `out` and appends what followed the
/// source's RIFF data.
[[nodiscard]] XpStatus FinishRiff(View data, const WebpLayout& layout, Bytes* out) {
  if (out->size() - 8 > UINT32_MAX || out->size() + (data.size() - layout.end) > kMaxFileBytes) {
    return XpStatus::PhotoTooLargeToWrite;
  }
  Put32(*out, 4, static_cast<std::uint32_t>(out->size() - 8), kLittleEndian);
  Append(*out, data.subspan(layout.end));
  return XpStatus::Ok;
}

[[nodiscard]] XpStatus EditWebp(View data, const Change& change, Bytes* out, bool* nothing) {
  WebpLayout layout;
  if (auto st = ParseWebp(data, &layout); st != XpStatus::Ok) {
    return st;
  }
  WebpExif exif;
  if (auto st = FindWebpExif(data, layout, &exif); st != XpStatus::Ok) {
    return st;
  }
  const RiffChunk& first = layout.chunks.front();
  std::optional<Canvas> canvas;
  if (first.type != "VP8X") {
    canvas = BitstreamCanvas(data, first);
    if (!canvas) {
      return XpStatus::PhotoContainerDamaged;
    }
  }
  XmpPlan xmp;
  if (auto st = PlanWebpXmp(data, layout, change, &xmp); st != XpStatus::Ok) {
    return st;
  }
  BlockEdit edit;
  if (auto st = EditBlock(exif.tiff, change, false, &edit); st != XpStatus::Ok) {
    return st;
  }
  if (edit.nothing && !xmp.chunk) {
    *nothing = true;
    return XpStatus::Ok;
  }
  out->clear();
  Append(*out, data.first(12));
  if (edit.nothing) {
    // A removal that finds a position only in XMP changes that chunk alone.
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
      const RiffChunk& c = layout.chunks[i];
      Append(*out, i == *xmp.chunk ? View(xmp.bytes) : data.subspan(c.offset, c.End() - c.offset));
    }
    return FinishRiff(data, layout, out);
  }
  const Bytes exifChunk = RiffChunkBytes("EXIF", ExifPayload(exif.identifier, edit.outcome.tiff));
  out->reserve(data.size() + exifChunk.size() + xmp.bytes.size() + 18);
  if (canvas) {
    Append(*out, RiffChunkBytes("VP8X", Vp8xPayload(*canvas)));
  }
  bool placed = false;
  for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
    const RiffChunk& c = layout.chunks[i];
    if (xmp.chunk && i == *xmp.chunk) {
      if (!exif.chunk && !placed) {
        Append(*out, exifChunk);
        placed = true;
      }
      Append(*out, xmp.bytes);
      continue;
    }
    if (c.type == "EXIF" || (!exif.chunk && c.type == "XMP " && !placed)) {
      Append(*out, exifChunk);
      placed = true;
      if (c.type == "EXIF") {
        continue;
      }
    }
    const std::size_t at = out->size();
    Append(*out, data.subspan(c.offset, c.End() - c.offset));
    if (i == 0 && c.type == "VP8X" && change.record != nullptr) {
      (*out)[at + 8] |= kVp8xExif;
    }
  }
  if (!placed) {
    Append(*out, exifChunk);
  }
  return FinishRiff(data, layout, out);
}

[[nodiscard]] bool WebpChecks(View before, View after, const Change& change) {
  WebpLayout old;
  WebpLayout now;
  WebpExif oldExif;
  WebpExif newExif;
  XmpPlan xmp;
  BlockEdit edit;
  if (ParseWebp(before, &old) != XpStatus::Ok || ParseWebp(after, &now) != XpStatus::Ok ||
      FindWebpExif(before, old, &oldExif) != XpStatus::Ok || FindWebpExif(after, now, &newExif) != XpStatus::Ok ||
      PlanWebpXmp(before, old, change, &xmp) != XpStatus::Ok ||
      EditBlock(oldExif.tiff, change, false, &edit) != XpStatus::Ok || (edit.nothing && !xmp.chunk)) {
    return false;
  }
  if (xmp.chunk && !XmpReadsChange(before.subspan(old.chunks[*xmp.chunk].Data(), old.chunks[*xmp.chunk].size),
                                   View(xmp.bytes).subspan(8, Get32(xmp.bytes, 4, kLittleEndian)), change)) {
    return false;
  }
  // Every chunk but the VP8X and Exif chunks with its bytes, in order (the
  // XMP chunk as planned), and the bytes behind the RIFF data; every chunk
  // when the Exif chunk stays.
  const auto keeps = [&](std::size_t i, const RiffChunk& c) {
    return edit.nothing || (c.type != "EXIF" && !(i == 0 && c.type == "VP8X"));
  };
  if (!SameViews(KeptViews(before, old, &xmp, keeps), KeptViews(after, now, nullptr, keeps))) {
    return false;
  }
  if (edit.nothing) {
    return true;
  }
  // The VP8X chunk: the source's with the Exif flag, or one made with the
  // bitstream's canvas; its padding and the Exif chunk's are zero.
  const RiffChunk& vp8x = now.chunks.front();
  if (!newExif.chunk || newExif.identifier != oldExif.identifier || vp8x.type != "VP8X" || vp8x.size < kVp8xSize) {
    return false;
  }
  const RiffChunk& oldFirst = old.chunks.front();
  Bytes expectedVp8x;
  if (oldFirst.type == "VP8X") {
    expectedVp8x.assign(before.begin() + static_cast<std::ptrdiff_t>(oldFirst.offset),
                        before.begin() + static_cast<std::ptrdiff_t>(oldFirst.End()));
    if (change.record != nullptr) {
      expectedVp8x[8] |= kVp8xExif;
    }
  } else {
    const auto canvas = BitstreamCanvas(before, oldFirst);
    if (!canvas) {
      return false;
    }
    expectedVp8x = RiffChunkBytes("VP8X", Vp8xPayload(*canvas));
  }
  const View written = after.subspan(vp8x.offset, vp8x.End() - vp8x.offset);
  const RiffChunk& e = now.chunks[*newExif.chunk];
  if (!std::equal(expectedVp8x.begin(), expectedVp8x.end(), written.begin(), written.end()) ||
      ((e.size & 1) != 0 && after[e.Data() + e.size] != 0)) {
    return false;
  }
  return BlockChecks(oldExif.tiff, newExif.tiff, change, edit);
}

// ---------------------------------------------------------------------------
// TIFF

/// The byte ranges of image data the directories of `layout` reference:
/// strips, tiles and JPEG pictures. False for a range outside the data, or
/// offsets and counts that do not pair up.
[[nodiscard]] bool ImageRanges(View data, const XpExifEdit::Layout& layout,
                               std::vector<std::pair<std::uint64_t, std::uint64_t>>* ranges) {
  const auto values = [&](const XpExifEdit::Entry& e, std::vector<std::uint32_t>* out) {
    const std::uint32_t unit = XpTiffTypeUnitSize(e.type);
    if ((e.type != kTiffTypeShort && e.type != kTiffTypeLong) || e.count > kMaxImageRanges) {
      return false;
    }
    out->clear();
    for (std::uint32_t i = 0; i < e.count; ++i) {
      const std::uint64_t at = std::uint64_t{e.valueOffset} + std::uint64_t{i} * unit;
      if (!Fits(data.size(), at, unit)) {
        return false;
      }
      out->push_back(unit == 2 ? Get16(data, at, layout.bigEndian) : Get32(data, at, layout.bigEndian));
    }
    return true;
  };
  for (const XpExifEdit::Directory& dir : layout.directories) {
    for (const auto& [offsetTag, lengthTag] :
         {std::pair{kTagStripOffsets, kTagStripByteCounts}, std::pair{kTagTileOffsets, kTagTileByteCounts},
          std::pair{kTagThumbnailOffset, kTagThumbnailLength}}) {
      const XpExifEdit::Entry* offsets = dir.Find(offsetTag);
      const XpExifEdit::Entry* lengths = dir.Find(lengthTag);
      if (offsets == nullptr && lengths == nullptr) {
        continue;
      }
      std::vector<std::uint32_t> at;
      std::vector<std::uint32_t> size;
      if (offsets == nullptr || lengths == nullptr || !values(*offsets, &at) || !values(*lengths, &size) ||
          at.size() != size.size()) {
        return false;
      }
      for (std::size_t i = 0; i < at.size(); ++i) {
        if (size[i] == 0) {
          continue;
        }
        if (!Fits(data.size(), at[i], size[i]) || ranges->size() >= kMaxImageRanges) {
          return false;
        }
        ranges->emplace_back(at[i], size[i]);
      }
    }
  }
  return true;
}

/// True when every image-data range of `before` holds the same bytes in `after`.
[[nodiscard]] bool SameImageData(View before, View after) {
  XpExifEdit::Layout layout;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  if (XpExifEdit::Walk(before, &layout) != XpStatus::Ok || !ImageRanges(before, layout, &ranges)) {
    return false;
  }
  for (const auto& [at, size] : ranges) {
    if (!Fits(after.size(), at, size) || !std::equal(before.begin() + static_cast<std::ptrdiff_t>(at),
                                                     before.begin() + static_cast<std::ptrdiff_t>(at + size),
                                                     after.begin() + static_cast<std::ptrdiff_t>(at))) {
      return false;
    }
  }
  return true;
}

[[nodiscard]] XpStatus TiffHeader(View data) {
  if (data.size() < 8 || !((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'))) {
    return XpStatus::JpegDecodeFailed;
  }
  const std::uint16_t magic = Get16(data, 2, data[0] == 'M');
  if (magic == 43) {
    return XpStatus::BigTiffNotWritten;
  }
  return magic == 42 ? XpStatus::Ok : XpStatus::JpegDecodeFailed;
}

/// True for the header of an Olympus raw file: a TIFF structure whose magic
/// is "RO" or "RS" (little-endian) or "OR" (big-endian) instead of 42.
[[nodiscard]] bool IsOrfHeader(View data) {
  return data.size() >= 4 &&
         ((data[0] == 'I' && data[1] == 'I' && data[2] == 'R' && (data[3] == 'O' || data[3] == 'S')) ||
          (data[0] == 'M' && data[1] == 'M' && data[2] == 'O' && data[3] == 'R'));
}

/// A copy of an Olympus raw file (at least its 8-byte header) with magic 42, so that the TIFF edits and
/// checks read it as the TIFF structure it is; every other byte kept.
[[nodiscard]] Bytes AsMagic42(View data) {
  Bytes copy(data.begin(), data.end());
  static_cast<void>(Put16(copy, 2, 42, data[0] == 'M'));
  return copy;
}

/// IFD0's XMP packet (tag 700, bytes) of a TIFF file kept in step with the
/// Exif position, nothing moved: the edited packet is appended, the entry
/// repointed, and the old packet's bytes are zeroed. `*patched` is the file
/// so changed, or empty when the packet stays as it is (none, none that
/// names a position, or one stored in another type).
[[nodiscard]] XpStatus PatchTiffXmp(View data, const Change& change, Bytes* patched) {
  patched->clear();
  XpExifEdit::Layout layout;
  if (XpExifEdit::Walk(data, &layout) != XpStatus::Ok) {
    return XpStatus::ExifDamaged;
  }
  const XpExifEdit::Directory* ifd0 = layout.Find("IFD0");
  const XpExifEdit::Entry* entry = ifd0 == nullptr ? nullptr : ifd0->Find(kTagXmpPacket);
  if (entry == nullptr || entry->Inline() || (entry->type != kTiffTypeByte && entry->type != kTiffTypeUndefined)) {
    return XpStatus::Ok;
  }
  const View packet = data.subspan(entry->valueOffset, static_cast<std::size_t>(entry->size));
  XpXmpGps::Edit edit;
  if (auto st = XpExifRewrite::EditXmpPosition(change.record, packet, &edit); st != XpStatus::Ok || !edit.changed) {
    return st;
  }
  // The old packet is zeroed only where no other entry references it.
  for (const XpExifEdit::Range& r : layout.referenced) {
    const bool overlaps = r.offset < entry->valueOffset + entry->size && entry->valueOffset < r.End();
    if (overlaps && !(r.offset == entry->valueOffset && r.size == entry->size)) {
      return XpStatus::ExifDamaged;
    }
  }
  if (data.size() + edit.packet.size() + 1 > kMaxFileBytes) {
    return XpStatus::PhotoTooLargeToWrite;
  }
  patched->assign(data.begin(), data.end());
  std::fill_n(patched->begin() + entry->valueOffset, static_cast<std::ptrdiff_t>(entry->size), std::uint8_t{0});
  if (patched->size() & 1) {
    patched->push_back(0);
  }
  const auto at = static_cast<std::uint32_t>(patched->size());
  Append(*patched, edit.packet);
  Put32(*patched, entry->position + 4, static_cast<std::uint32_t>(edit.packet.size()), layout.bigEndian);
  Put32(*patched, entry->position + 8, at, layout.bigEndian);
  return XpStatus::Ok;
}

/// The XMP packet of IFD0 (tag 700) of a TIFF file; empty for none.
View TiffXmp(View data) {
  XpExifEdit::Layout layout;
  if (XpExifEdit::Walk(data, &layout) != XpStatus::Ok || layout.Find("IFD0") == nullptr) {
    return {};
  }
  const XpExifEdit::Entry* entry = layout.Find("IFD0")->Find(kTagXmpPacket);
  if (entry == nullptr || entry->Inline()) {
    return {};
  }
  return data.subspan(entry->valueOffset, static_cast<std::size_t>(entry->size));
}

[[nodiscard]] XpStatus EditTiff(View data, const Change& change, Bytes* out, bool* nothing) {
  if (auto st = TiffHeader(data); st != XpStatus::Ok) {
    return st;
  }
  {
    // Image data that cannot be told apart is damage: it is never rewritten.
    XpExifEdit::Layout layout;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    if (auto st = XpExifEdit::Walk(data, &layout); st != XpStatus::Ok) {
      return st == XpStatus::JpegDecodeFailed ? XpStatus::ExifDamaged : st;
    }
    if (!ImageRanges(data, layout, &ranges)) {
      return XpStatus::ExifDamaged;
    }
  }
  Bytes patched;
  if (auto st = PatchTiffXmp(data, change, &patched); st != XpStatus::Ok) {
    return st;
  }
  const View base = patched.empty() ? data : View(patched);
  BlockEdit edit;
  if (auto st = EditBlock(base, change, true, &edit); st != XpStatus::Ok) {
    return st;
  }
  if (edit.nothing) {
    *nothing = patched.empty();
    *out = std::move(patched);
    return XpStatus::Ok;
  }
  if (edit.outcome.tiff.size() > kMaxFileBytes) {
    return XpStatus::PhotoTooLargeToWrite;
  }
  // A GPS directory laid over image data would be zeroed with it.
  if (!SameImageData(data, edit.outcome.tiff)) {
    return XpStatus::ExifDamaged;
  }
  *out = std::move(edit.outcome.tiff);
  return XpStatus::Ok;
}

/// True when `patched` is `before` but for the XMP entry's count and offset,
/// the old packet's bytes (now zero) and what was appended.
[[nodiscard]] bool XmpPatchOnly(View before, View patched) {
  XpExifEdit::Layout layout;
  if (XpExifEdit::Walk(before, &layout) != XpStatus::Ok || layout.Find("IFD0") == nullptr ||
      patched.size() < before.size()) {
    return false;
  }
  const XpExifEdit::Entry* entry = layout.Find("IFD0")->Find(kTagXmpPacket);
  if (entry == nullptr) {
    return false;
  }
  for (std::size_t i = 0; i < before.size(); ++i) {
    const bool field = i >= entry->position + 4 && i < entry->position + 12;
    const bool old = i >= entry->valueOffset && i < entry->valueOffset + entry->size;
    if ((old && patched[i] != 0) || (!old && !field && patched[i] != before[i])) {
      return false;
    }
  }
  return true;
}

[[nodiscard]] bool TiffChecks(View before, View after, const Change& change) {
  if (TiffHeader(before) != XpStatus::Ok || TiffHeader(after) != XpStatus::Ok || after.size() < before.size()) {
    return false;
  }
  Bytes patched;
  BlockEdit edit;
  if (PatchTiffXmp(before, change, &patched) != XpStatus::Ok) {
    return false;
  }
  const View base = patched.empty() ? before : View(patched);
  if (!patched.empty() &&
      (!XmpPatchOnly(before, patched) || !XmpReadsChange(TiffXmp(before), TiffXmp(after), change))) {
    return false;
  }
  if (EditBlock(base, change, true, &edit) != XpStatus::Ok) {
    return false;
  }
  if (edit.nothing) {
    return !patched.empty() && std::equal(patched.begin(), patched.end(), after.begin(), after.end());
  }
  return SameImageData(before, after) && BlockChecks(base, after, change, edit);
}

/// The program's own reader reads the written file as the same kind of photo
/// with the position written, or without a GPS directory after a removal.
[[nodiscard]] bool ReaderAgrees(View before, View after, const Change& change) {
  XpMemoryFile oldFile(before);
  XpMemoryFile newFile(after);
  XpPhotoMetadata::Reading old;
  XpPhotoMetadata::Reading now;
  (void)XpPhotoMetadata::Read(oldFile, &old);
  if (XpPhotoMetadata::Read(newFile, &now) != XpStatus::Ok || now.format != old.format) {
    return false;
  }
  if (change.record == nullptr) {
    return !now.hasGpsDirectory && now.source == XpPhotoMetadata::PositionSource::None;
  }
  return now.hasGpsDirectory && XpExifEdit::HoldsRecord(now.gps, *change.record);
}

// ---------------------------------------------------------------------------
// HEIF (HEIC, HEIF, AVIF)
//
// The Exif item is rewritten only where nothing else moves: in its own
// extent when the new block fits (the rest of the extent zeroed), else in a
// new `mdat` box appended at the end, with the item's one `iloc` extent
// repointed in place (the offset and length fields keep their sizes, so no
// box changes its size and no other offset in the file changes).

/// One extent of an `iloc` item and where its fields stand in the file.
struct IlocExtent {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::size_t offsetField = 0;
  std::size_t lengthField = 0;
};

struct IlocItem {
  std::uint32_t id = 0;
  unsigned method = 0;
  std::uint16_t dataReference = 0;
  std::uint64_t base = 0;
  std::vector<IlocExtent> extents;
};

struct HeifLayout {
  /// The top-level boxes, as [start, end) with their types.
  std::vector<std::array<std::uint64_t, 3>> boxes;
  unsigned offsetSize = 0;
  unsigned lengthSize = 0;
  std::vector<IlocItem> items;
  XpPhotoLayout found;
};

/// What the write of one HEIF photo changes.
struct HeifPlan {
  HeifLayout layout;
  std::size_t exifItem = 0;
  std::size_t extentStart = 0;  ///< the Exif item's bytes (its one extent)
  std::size_t extentEnd = 0;
  std::size_t tiffStart = 0;  ///< the TIFF structure inside it
};

std::uint64_t GetBig(View data, std::size_t at, unsigned size) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < size; ++i) {
    value = (value << 8) | data[at + i];
  }
  return value;
}

void PutBig(Bytes& data, std::size_t at, unsigned size, std::uint64_t value) {
  for (unsigned i = 0; i < size; ++i) {
    data[at + size - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

constexpr std::uint32_t Cc(const char (&code)[5]) { return XpIsoBmff::FourCc(code); }

/// One box header in `data` at `at`, inside [at, end): its type, payload and
/// end. False for a header that breaks its bounds.
bool BoxAt(View data, std::size_t at, std::size_t end, std::uint32_t* type, std::size_t* payload, std::size_t* boxEnd) {
  if (end - at < 8) {
    return false;
  }
  std::uint64_t size = GetBig(data, at, 4);
  *type = static_cast<std::uint32_t>(GetBig(data, at + 4, 4));
  std::size_t header = 8;
  if (size == 1) {
    if (end - at < 16) {
      return false;
    }
    size = GetBig(data, at + 8, 8);
    header = 16;
  } else if (size == 0) {
    size = end - at;
  }
  if (size < header || size > end - at) {
    return false;
  }
  *payload = at + header;
  *boxEnd = at + static_cast<std::size_t>(size);
  return true;
}

/// Reads the `iloc` box payload [at, end) (after the box header).
XpStatus ParseIloc(View data, std::size_t at, std::size_t end, HeifLayout* layout) {
  std::size_t p = at;
  const auto need = [&](std::size_t n) { return end - p >= n; };
  if (!need(6)) {
    return XpStatus::PhotoContainerDamaged;
  }
  const unsigned version = data[p];
  if (version > 2) {
    return XpStatus::HeifNotEditable;
  }
  p += 4;
  layout->offsetSize = data[p] >> 4;
  layout->lengthSize = data[p] & 15U;
  const unsigned baseSize = data[p + 1] >> 4;
  const unsigned indexSize = version >= 1 ? (data[p + 1] & 15U) : 0;
  p += 2;
  for (const unsigned size : {layout->offsetSize, layout->lengthSize, baseSize, indexSize}) {
    if (size != 0 && size != 4 && size != 8) {
      return XpStatus::PhotoContainerDamaged;
    }
  }
  const unsigned countSize = version < 2 ? 2 : 4;
  if (!need(countSize)) {
    return XpStatus::PhotoContainerDamaged;
  }
  const std::uint64_t count = GetBig(data, p, countSize);
  p += countSize;
  for (std::uint64_t i = 0; i < count; ++i) {
    IlocItem item;
    if (!need(countSize + (version >= 1 ? 2 : 0) + 2 + baseSize + 2)) {
      return XpStatus::PhotoContainerDamaged;
    }
    item.id = static_cast<std::uint32_t>(GetBig(data, p, countSize));
    p += countSize;
    if (version >= 1) {
      item.method = data[p + 1] & 15U;
      p += 2;
    }
    item.dataReference = static_cast<std::uint16_t>(GetBig(data, p, 2));
    p += 2;
    item.base = GetBig(data, p, baseSize);
    p += baseSize;
    const std::uint64_t extents = GetBig(data, p, 2);
    p += 2;
    for (std::uint64_t e = 0; e < extents; ++e) {
      if (!need(indexSize + layout->offsetSize + layout->lengthSize)) {
        return XpStatus::PhotoContainerDamaged;
      }
      p += indexSize;
      IlocExtent extent;
      extent.offsetField = p;
      extent.offset = GetBig(data, p, layout->offsetSize);
      p += layout->offsetSize;
      extent.lengthField = p;
      extent.length = GetBig(data, p, layout->lengthSize);
      p += layout->lengthSize;
      item.extents.push_back(extent);
    }
    layout->items.push_back(std::move(item));
  }
  return XpStatus::Ok;
}

/// The top-level boxes and the `iloc` table of a HEIF file. 0x862C for what
/// is not edited in place: bytes behind the last box, a box other than
/// ftyp, meta, mdat, free and skip, not exactly one `meta` with one `iloc`.
XpStatus ParseHeif(View data, HeifLayout* layout) {
  *layout = HeifLayout{};
  std::size_t at = 0;
  std::optional<std::array<std::size_t, 2>> meta;
  while (at < data.size()) {
    std::uint32_t type = 0;
    std::size_t payload = 0;
    std::size_t end = 0;
    if (layout->boxes.size() >= static_cast<std::size_t>(XpIsoBmff::kMaxBoxes)) {
      return XpStatus::PhotoContainerDamaged;
    }
    if (!BoxAt(data, at, data.size(), &type, &payload, &end)) {
      // Bytes that are no box: a trailer another program appended.
      return XpStatus::HeifNotEditable;
    }
    const bool first = layout->boxes.empty();
    if ((first != (type == Cc("ftyp"))) ||
        (type != Cc("ftyp") && type != Cc("meta") && type != Cc("mdat") && type != Cc("free") && type != Cc("skip"))) {
      return XpStatus::HeifNotEditable;
    }
    if (type == Cc("meta")) {
      if (meta) {
        return XpStatus::HeifNotEditable;
      }
      meta = std::array<std::size_t, 2>{payload, end};
    }
    layout->boxes.push_back({at, end, type});
    at = end;
  }
  if (!meta || (*meta)[1] - (*meta)[0] < 4) {
    return XpStatus::HeifNotEditable;
  }
  bool iloc = false;
  int seen = 0;
  for (std::size_t p = (*meta)[0] + 4; p < (*meta)[1];) {
    std::uint32_t type = 0;
    std::size_t payload = 0;
    std::size_t end = 0;
    if (++seen > XpIsoBmff::kMaxBoxes || !BoxAt(data, p, (*meta)[1], &type, &payload, &end)) {
      return XpStatus::PhotoContainerDamaged;
    }
    if (type == Cc("iloc")) {
      if (iloc) {
        return XpStatus::HeifNotEditable;
      }
      iloc = true;
      if (auto st = ParseIloc(data, payload, end, layout); st != XpStatus::Ok) {
        return st;
      }
    }
    p = end;
  }
  if (!iloc) {
    return XpStatus::HeifNotEditable;
  }
  XpMemoryFile file(data);
  if (XpIsoBmff::LocateHeif(file, &layout->found) != XpStatus::Ok) {
    return XpStatus::PhotoContainerDamaged;
  }
  return XpStatus::Ok;
}

/// The absolute byte range of a file extent, when it lies inside the file.
std::optional<std::array<std::size_t, 2>> ExtentRange(View data, const IlocItem& item, const IlocExtent& extent) {
  const std::uint64_t start = item.base + extent.offset;
  if (item.method != 0 || item.dataReference != 0 || start < item.base || start > data.size() ||
      extent.length > data.size() - start) {
    return std::nullopt;
  }
  return std::array<std::size_t, 2>{static_cast<std::size_t>(start), static_cast<std::size_t>(start + extent.length)};
}

/// Whether the XMP packet tells of a video kept with the still picture.
bool TellsOfMotionPhoto(View xmp) {
  const std::string_view text(reinterpret_cast<const char*>(xmp.data()), xmp.size());
  for (const std::string_view mark : {"MotionPhoto", "MicroVideo", "EmbeddedVideo"}) {
    if (text.find(mark) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

/// Finds what the write changes, or 0x862C when the file is not edited in
/// place (no Exif item, or one not in a single extent of an `mdat` box that no
/// other item shares; a motion photo; an XMP packet that holds a position).
XpStatus PlanHeif(View data, HeifPlan* plan) {
  *plan = HeifPlan{};
  if (auto st = ParseHeif(data, &plan->layout); st != XpStatus::Ok) {
    return st;
  }
  const XpPhotoLayout& found = plan->layout.found;
  if (!found.tiff.IsPresent()) {
    return XpStatus::HeifNotEditable;
  }
  if (found.xmp.IsPresent()) {
    const View xmp =
        data.subspan(static_cast<std::size_t>(found.xmp.offset), static_cast<std::size_t>(found.xmp.length));
    XpXmpGps::Position position;
    // A position there would disagree with the new one; a packet this
    // program does not parse counts as holding one when it names the tags.
    const XpStatus read = XpXmpGps::ReadGps(xmp, &position);
    const std::string_view text(reinterpret_cast<const char*>(xmp.data()), xmp.size());
    if (TellsOfMotionPhoto(xmp) || read == XpStatus::Ok || read == XpStatus::XmpBadPosition ||
        text.find("GPSLatitude") != std::string_view::npos || text.find("GPSLongitude") != std::string_view::npos) {
      return XpStatus::HeifNotEditable;
    }
  }
  const auto tiffStart = static_cast<std::size_t>(found.tiff.offset);
  const std::size_t tiffEnd = tiffStart + static_cast<std::size_t>(found.tiff.length);
  std::optional<std::size_t> exif;
  for (std::size_t i = 0; i < plan->layout.items.size(); ++i) {
    for (const IlocExtent& extent : plan->layout.items[i].extents) {
      const auto range = ExtentRange(data, plan->layout.items[i], extent);
      if (range && (*range)[0] <= tiffStart && tiffEnd <= (*range)[1] && (*range)[0] + 4 <= tiffStart) {
        if (exif && *exif != i) {
          return XpStatus::HeifNotEditable;
        }
        exif = i;
      }
    }
  }
  if (!exif || plan->layout.items[*exif].extents.size() != 1 || plan->layout.offsetSize == 0 ||
      plan->layout.lengthSize == 0 || plan->layout.items[*exif].extents.front().length == 0) {
    return XpStatus::HeifNotEditable;
  }
  const IlocItem& item = plan->layout.items[*exif];
  const auto range = *ExtentRange(data, item, item.extents.front());
  // The 4-byte prefix gives the distance to the TIFF header behind it.
  if (GetBig(data, range[0], 4) != tiffStart - range[0] - 4 || tiffEnd != range[1]) {
    return XpStatus::HeifNotEditable;
  }
  // Inside one mdat box, and no other item's bytes among them.
  const bool inMdat = std::any_of(plan->layout.boxes.begin(), plan->layout.boxes.end(), [&](const auto& box) {
    return box[2] == Cc("mdat") && box[0] + 8 <= range[0] && range[1] <= box[1];
  });
  if (!inMdat) {
    return XpStatus::HeifNotEditable;
  }
  for (std::size_t i = 0; i < plan->layout.items.size(); ++i) {
    const IlocItem& other = plan->layout.items[i];
    if (i == *exif || other.method != 0) {
      continue;
    }
    for (const IlocExtent& extent : other.extents) {
      const auto r = ExtentRange(data, other, extent);
      if (!r) {
        return XpStatus::HeifNotEditable;
      }
      if ((*r)[0] < range[1] && range[0] < (*r)[1]) {
        return XpStatus::HeifNotEditable;
      }
    }
  }
  plan->exifItem = *exif;
  plan->extentStart = range[0];
  plan->extentEnd = range[1];
  plan->tiffStart = tiffStart;
  return XpStatus::Ok;
}

[[nodiscard]] XpStatus EditHeif(View data, const Change& change, Bytes* out, bool* nothing) {
  HeifPlan plan;
  if (auto st = PlanHeif(data, &plan); st != XpStatus::Ok) {
    return st;
  }
  BlockEdit edit;
  if (auto st = EditBlock(data.subspan(plan.tiffStart, plan.extentEnd - plan.tiffStart), change, false, &edit);
      st != XpStatus::Ok) {
    return st;
  }
  if (edit.nothing) {
    *nothing = true;
    return XpStatus::Ok;
  }
  const Bytes& tiff = edit.outcome.tiff;
  out->assign(data.begin(), data.end());
  if (tiff.size() <= plan.extentEnd - plan.tiffStart) {
    // In place: the new block, then zeros to the end of the extent.
    std::copy(tiff.begin(), tiff.end(), out->begin() + static_cast<std::ptrdiff_t>(plan.tiffStart));
    std::fill(out->begin() + static_cast<std::ptrdiff_t>(plan.tiffStart + tiff.size()),
              out->begin() + static_cast<std::ptrdiff_t>(plan.extentEnd), std::uint8_t{0});
    return XpStatus::Ok;
  }
  // Appended: a new mdat box holding the prefix and the new block; the old
  // bytes, no longer referenced, are zeroed so that no old position stays.
  const IlocItem& item = plan.layout.items[plan.exifItem];
  const IlocExtent& extent = item.extents.front();
  const std::size_t prefix = plan.tiffStart - plan.extentStart;
  const std::uint64_t length = prefix + tiff.size();
  const std::uint64_t boxSize = 8 + length;
  const std::uint64_t start = data.size() + 8;
  const unsigned o = plan.layout.offsetSize;
  const unsigned l = plan.layout.lengthSize;
  if (boxSize > 0xFFFFFFFFULL || start < item.base || data.size() + boxSize > kMaxFileBytes ||
      (o == 4 && start - item.base > 0xFFFFFFFFULL) || (l == 4 && length > 0xFFFFFFFFULL)) {
    return XpStatus::HeifNotEditable;
  }
  Bytes box(8);
  PutBig(box, 0, 4, boxSize);
  std::memcpy(box.data() + 4, "mdat", 4);
  Append(box, data.subspan(plan.extentStart, prefix));
  Append(box, tiff);
  std::fill(out->begin() + static_cast<std::ptrdiff_t>(plan.extentStart),
            out->begin() + static_cast<std::ptrdiff_t>(plan.extentEnd), std::uint8_t{0});
  PutBig(*out, extent.offsetField, o, start - item.base);
  PutBig(*out, extent.lengthField, l, length);
  Append(*out, box);
  return XpStatus::Ok;
}

/// The check of a written HEIF file: it parses; every item keeps its `iloc`
/// entry and its bytes but the Exif item, whose one extent is where the write
/// put it (in place or in one `mdat` appended at the end) with the same
/// prefix; every byte outside the Exif item's old extent and its two `iloc`
/// fields is unchanged; the block keeps every tag outside the GPS change.
[[nodiscard]] bool HeifChecks(View before, View after, const Change& change) {
  HeifPlan old;
  HeifLayout now;
  if (PlanHeif(before, &old) != XpStatus::Ok || ParseHeif(after, &now) != XpStatus::Ok ||
      now.items.size() != old.layout.items.size() || !now.found.tiff.IsPresent() || after.size() < before.size()) {
    return false;
  }
  const IlocExtent& oldExtent = old.layout.items[old.exifItem].extents.front();
  const std::size_t fieldsEnd = oldExtent.lengthField + old.layout.lengthSize;
  const auto changeable = [&](std::size_t at) {
    return (at >= old.extentStart && at < old.extentEnd) || (at >= oldExtent.offsetField && at < fieldsEnd);
  };
  for (std::size_t at = 0; at < before.size(); ++at) {
    if (before[at] != after[at] && !changeable(at)) {
      return false;
    }
  }
  for (std::size_t i = 0; i < now.items.size(); ++i) {
    const IlocItem& a = old.layout.items[i];
    const IlocItem& b = now.items[i];
    if (a.id != b.id || a.method != b.method || a.dataReference != b.dataReference || a.base != b.base ||
        a.extents.size() != b.extents.size()) {
      return false;
    }
    if (i == old.exifItem || a.method != 0) {
      continue;
    }
    for (std::size_t e = 0; e < a.extents.size(); ++e) {
      const auto x = ExtentRange(before, a, a.extents[e]);
      const auto y = ExtentRange(after, b, b.extents[e]);
      if (!x || !y || (*x)[1] - (*x)[0] != (*y)[1] - (*y)[0] ||
          !std::equal(before.begin() + static_cast<std::ptrdiff_t>((*x)[0]),
                      before.begin() + static_cast<std::ptrdiff_t>((*x)[1]),
                      after.begin() + static_cast<std::ptrdiff_t>((*y)[0]))) {
        return false;
      }
    }
  }
  const auto newRange = ExtentRange(after, now.items[old.exifItem], now.items[old.exifItem].extents.front());
  const std::size_t prefix = old.tiffStart - old.extentStart;
  if (!newRange || (*newRange)[1] - (*newRange)[0] < prefix ||
      !std::equal(before.begin() + static_cast<std::ptrdiff_t>(old.extentStart),
                  before.begin() + static_cast<std::ptrdiff_t>(old.tiffStart),
                  after.begin() + static_cast<std::ptrdiff_t>((*newRange)[0]))) {
    return false;
  }
  const bool inPlace = (*newRange)[0] == old.extentStart;
  if (inPlace ? (after.size() != before.size() || (*newRange)[1] != old.extentEnd)
              : ((*newRange)[1] != after.size() || (*newRange)[0] != before.size() + 8 ||
                 GetBig(after, before.size(), 4) != after.size() - before.size() ||
                 GetBig(after, before.size() + 4, 4) != Cc("mdat"))) {
    return false;
  }
  if (static_cast<std::size_t>(now.found.tiff.offset) != (*newRange)[0] + prefix) {
    return false;
  }
  BlockEdit edit;
  const View oldTiff = before.subspan(old.tiffStart, old.extentEnd - old.tiffStart);
  if (EditBlock(oldTiff, change, false, &edit) != XpStatus::Ok || edit.nothing) {
    return false;
  }
  const std::size_t tiffAt = (*newRange)[0] + prefix;
  const std::size_t tiffSize = edit.outcome.tiff.size();
  if (tiffSize > (*newRange)[1] - tiffAt || !std::all_of(after.begin() + static_cast<std::ptrdiff_t>(tiffAt + tiffSize),
                                                         after.begin() + static_cast<std::ptrdiff_t>((*newRange)[1]),
                                                         [](std::uint8_t b) { return b == 0; })) {
    return false;
  }
  // The old extent holds nothing but zeros once the block moved.
  if (!inPlace &&
      !std::all_of(after.begin() + static_cast<std::ptrdiff_t>(old.extentStart),
                   after.begin() + static_cast<std::ptrdiff_t>(old.extentEnd), [](std::uint8_t b) { return b == 0; })) {
    return false;
  }
  return BlockChecks(oldTiff, after.subspan(tiffAt, tiffSize), change, edit);
}

// ---------------------------------------------------------------------------
// The file-level rewrite

class InFileRewrite final : public XpPhotoReplace::Rewrite {
 public:
  explicit InFileRewrite(Change change) : m_change(std::move(change)) {}

  XpStatus Prepare(XpFile& source, bool* nothing) override {
    const std::int64_t length = source.GetLength();
    if (length < 0) {
      return XpStatus::FileInvalid;
    }
    if (length == 0) {
      return XpStatus::JpegDecodeFailed;
    }
    if (static_cast<std::uint64_t>(length) > kMaxFileBytes) {
      return XpStatus::PhotoTooLargeToWrite;
    }
    try {
      m_source.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
      return XpStatus::OutOfMemory;
    }
    if (auto st = source.Seek(0, XpAbstractFile::kBegin); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = source.ReadExact(m_source.data(), m_source.size()); st != XpStatus::Ok) {
      return st;
    }
    try {
      return EditBytes(m_source, m_change, &m_new, nothing);
    } catch (const std::bad_alloc&) {
      return XpStatus::OutOfMemory;
    }
  }

  XpStatus Write(XpFile& /*source*/, XpAbstractFile& temp) override {
    if (auto st = temp.Seek(0, XpAbstractFile::kBegin); st != XpStatus::Ok) {
      return st;
    }
    return temp.WriteAll(m_new.data(), m_new.size());
  }

  XpStatus Check(const std::string& tempPath, XpFile& /*source*/) override {
    std::string written;
    if (auto st = XpReadWholeFile(tempPath, kMaxFileBytes, &written, XpStatus::WrittenCopyDiffers);
        st != XpStatus::Ok) {
      return st;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(written.data());
    // The file read back is what was meant to be written, and it checks out
    // against the photo.
    if (!std::equal(m_new.begin(), m_new.end(), bytes, bytes + written.size())) {
      return XpStatus::WrittenCopyDiffers;
    }
    try {
      return CheckBytes(m_source, View(bytes, written.size()), m_change);
    } catch (const std::bad_alloc&) {
      return XpStatus::OutOfMemory;
    }
  }

 private:
  Change m_change;
  Bytes m_source;
  Bytes m_new;
};

[[nodiscard]] XpStatus Run(const std::string& path, const XpGPSRecord* record, const XpExifRewrite::Hooks& hooks) {
  Change change;
  change.record = record;
  if (record != nullptr) {
    change.dateTime = hooks.dateTime.empty() ? XpPhotoReplace::CurrentDateTimeText() : hooks.dateTime;
  }
  InFileRewrite rewrite(std::move(change));
  const XpPhotoReplace::Options options{
      .beforeCommit = hooks.beforeCommit,
      .keepModificationTime = hooks.preserveModificationTime || XpExifRewrite::PreservesModificationTimeByDefault()};
  return XpPhotoReplace::Run(path, options, rewrite);
}

}  // namespace

Container Sniff(std::span<const std::uint8_t> prefix) {
  if (prefix.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), prefix.begin())) {
    return Container::Png;
  }
  if (prefix.size() >= 12 && std::memcmp(prefix.data(), "RIFF", 4) == 0 &&
      std::memcmp(prefix.data() + 8, "WEBP", 4) == 0) {
    return Container::Webp;
  }
  if (prefix.size() >= 4 &&
      ((prefix[0] == 'I' && prefix[1] == 'I' && (prefix[2] == 42 || prefix[2] == 43) && prefix[3] == 0) ||
       (prefix[0] == 'M' && prefix[1] == 'M' && prefix[2] == 0 && (prefix[3] == 42 || prefix[3] == 43)))) {
    return Container::Tiff;
  }
  if (IsOrfHeader(prefix)) {
    return Container::Tiff;
  }
  switch (XpIsoBmff::SniffBrand(prefix)) {
    case XpPhotoFormat::Heic:
    case XpPhotoFormat::Heif:
    case XpPhotoFormat::Avif:
      return Container::Heif;
    default:
      break;
  }
  return Container::None;
}

XpStatus EditBytes(std::span<const std::uint8_t> source, const Change& change, std::vector<std::uint8_t>* out,
                   bool* nothing) {
  out->clear();
  *nothing = false;
  XpStatus st = XpStatus::JpegDecodeFailed;
  switch (Sniff(source)) {
    case Container::Png:
      st = EditPng(source, change, out, nothing);
      break;
    case Container::Webp:
      st = EditWebp(source, change, out, nothing);
      break;
    case Container::Tiff:
      if (IsOrfHeader(source)) {
        // Edited as the TIFF structure it is, append-only; its own magic put back.
        st = EditTiff(AsMagic42(source), change, out, nothing);
        if (st == XpStatus::Ok && !*nothing && out->size() >= 4) {
          std::copy_n(source.begin() + 2, 2, out->begin() + 2);
        }
      } else {
        st = EditTiff(source, change, out, nothing);
      }
      break;
    case Container::Heif:
      st = EditHeif(source, change, out, nothing);
      break;
    case Container::None:
      break;
  }
  if (st != XpStatus::Ok || *nothing) {
    out->clear();
    return st;
  }
  // Metadata the edit cannot change so that it reads back as meant (a GPS
  // tag twice in its directory, say) is damage, and left as it is.
  if (CheckBytes(source, *out, change) != XpStatus::Ok) {
    out->clear();
    return XpStatus::ExifDamaged;
  }
  return XpStatus::Ok;
}

XpStatus CheckBytes(std::span<const std::uint8_t> source, std::span<const std::uint8_t> written, const Change& change) {
  bool same = false;
  switch (Sniff(source)) {
    case Container::Png:
      same = PngChecks(source, written, change);
      break;
    case Container::Webp:
      same = WebpChecks(source, written, change);
      break;
    case Container::Tiff:
      if (IsOrfHeader(source)) {
        // The written file keeps the Olympus magic; the rest is checked as a TIFF structure.
        same = written.size() >= 4 && std::equal(source.begin(), source.begin() + 4, written.begin()) &&
               TiffChecks(AsMagic42(source), AsMagic42(written), change);
      } else {
        same = TiffChecks(source, written, change);
      }
      break;
    case Container::Heif:
      same = HeifChecks(source, written, change);
      break;
    case Container::None:
      break;
  }
  return same && ReaderAgrees(source, written, change) ? XpStatus::Ok : XpStatus::WrittenCopyDiffers;
}

XpStatus HeifInFile(const std::string& path) {
  std::string bytes;
  if (auto st = XpReadWholeFile(path, kMaxFileBytes, &bytes, XpStatus::PhotoTooLargeToWrite); st != XpStatus::Ok) {
    return st;
  }
  const View data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (Sniff(data) != Container::Heif) {
    return XpStatus::HeifNotEditable;
  }
  HeifPlan plan;
  try {
    return PlanHeif(data, &plan);
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
}

XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record) { return Run(path, &record, {}); }

XpStatus RemoveGPS(const std::string& path) { return Run(path, nullptr, {}); }

XpStatus WriteGPSWith(const std::string& path, const XpGPSRecord& record, const XpExifRewrite::Hooks& hooks) {
  return Run(path, &record, hooks);
}

XpStatus RemoveGPSWith(const std::string& path, const XpExifRewrite::Hooks& hooks) { return Run(path, nullptr, hooks); }

}  // namespace XpInFileWrite
