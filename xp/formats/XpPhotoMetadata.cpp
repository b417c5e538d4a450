#include "xp/formats/XpPhotoMetadata.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "xp/base/XpFileRead.h"
#include "xp/formats/XpChunkedFormats.h"
#include "xp/formats/XpFormatReader.h"
#include "xp/formats/XpIsoBmff.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpXmpGps.h"
#include "xp/text/XpAsciiCase.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace XpPhotoMetadata {

namespace {

// Compression values of JPEG data: the old TIFF JPEG and the new one (which
// DNG also uses for lossless raw data: only RGB and YCbCr pictures are previews).
constexpr std::uint32_t kCompressionOldJpeg = 6;
constexpr std::uint32_t kCompressionJpeg = 7;
constexpr std::uint32_t kPhotometricRgb = 2;
constexpr std::uint32_t kPhotometricYCbCr = 6;
// Preview candidates and the SubIFD depth looked at; cameras write a handful.
constexpr std::size_t kMaxPreviews = 16;
constexpr int kMaxPreviewDepth = 4;
// The smallest JPEG worth decoding: SOI, a frame and EOI.
constexpr std::int64_t kMinPreviewBytes = 64;

// TIFF headers: byte order and magic number.
struct TiffHeader {
  std::array<std::uint8_t, 4> bytes;
  XpPhotoFormat format;
};
constexpr TiffHeader kTiffHeaders[] = {
    {{'I', 'I', 42, 0}, XpPhotoFormat::Tiff},   {{'M', 'M', 0, 42}, XpPhotoFormat::Tiff},
    {{'I', 'I', 0x55, 0}, XpPhotoFormat::Rw2},  {{'I', 'I', 'R', 'O'}, XpPhotoFormat::Orf},
    {{'I', 'I', 'R', 'S'}, XpPhotoFormat::Orf}, {{'M', 'M', 'O', 'R'}, XpPhotoFormat::Orf},
};

// The raw kinds that are plain TIFF structures with magic 42 and nothing in
// the content to tell them apart: named after the extension.
struct RawExtension {
  std::string_view extension;
  XpPhotoFormat format;
};
constexpr RawExtension kRawExtensions[] = {
    {"nef", XpPhotoFormat::Nef}, {"nrw", XpPhotoFormat::Nrw}, {"pef", XpPhotoFormat::Pef},
    {"srw", XpPhotoFormat::Srw}, {"arw", XpPhotoFormat::Arw}, {"iiq", XpPhotoFormat::Iiq},
};

constexpr std::string_view kRafSignature = "FUJIFILMCCD-RAW ";

struct FormatName {
  XpPhotoFormat format;
  std::string_view name;
};
constexpr FormatName kFormatNames[] = {
    {XpPhotoFormat::Unknown, "unknown"}, {XpPhotoFormat::Jpeg, "JPEG"}, {XpPhotoFormat::Tiff, "TIFF"},
    {XpPhotoFormat::Dng, "DNG"},         {XpPhotoFormat::Cr2, "CR2"},   {XpPhotoFormat::Nef, "NEF"},
    {XpPhotoFormat::Nrw, "NRW"},         {XpPhotoFormat::Pef, "PEF"},   {XpPhotoFormat::Srw, "SRW"},
    {XpPhotoFormat::Arw, "ARW"},         {XpPhotoFormat::Iiq, "IIQ"},   {XpPhotoFormat::Rw2, "RW2"},
    {XpPhotoFormat::Orf, "ORF"},         {XpPhotoFormat::Cr3, "CR3"},   {XpPhotoFormat::Raf, "RAF"},
    {XpPhotoFormat::Heic, "HEIC"},       {XpPhotoFormat::Heif, "HEIF"}, {XpPhotoFormat::Avif, "AVIF"},
    {XpPhotoFormat::Png, "PNG"},         {XpPhotoFormat::Webp, "WEBP"},
};

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
    text.pop_back();
  }
  return text;
}

// Loads the TIFF structure in `range` as a tree; null and the status when it does not load.
XpStatus LoadTree(XpAbstractFile& file, const XpByteRange& range, std::uint16_t magic, TagTreePtr* out) {
  out->reset();
  TagTreePtr tree;
  try {
    tree = std::make_shared<XpTiffTagManager>();
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  if (auto st = file.Seek(range.offset, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  // Maker notes stay raw: the standard directories are what is read here.
  if (!tree->LoadBlock(file, XpTiffTagManager::kReadModeRawMakerNote, range.length, magic)) {
    return tree->LoadStatus() == XpStatus::OutOfMemory ? XpStatus::OutOfMemory : XpStatus::JpegDecodeFailed;
  }
  *out = std::move(tree);
  return XpStatus::Ok;
}

// The bytes of `range` as text; nothing when it is longer than `maxBytes`
// (no packet a camera or editor writes is that long).
XpStatus ReadText(XpAbstractFile& file, const XpByteRange& range, std::int64_t maxBytes, std::string* out) {
  out->clear();
  if (range.length > maxBytes) {
    return XpStatus::Ok;
  }
  try {
    out->resize(static_cast<std::size_t>(range.length));
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  auto* bytes = reinterpret_cast<std::uint8_t*>(out->data());
  const XpStatus st = XpFormatReader::ReadAt(file, range.offset, std::span(bytes, out->size()), file.GetLength());
  if (st != XpStatus::Ok) {
    out->clear();
  }
  return st;
}

const XpTiffTagIFD* FirstIfd(const TagTreePtr& tree) { return tree ? tree->GetIFD(0) : nullptr; }

void FillValues(Reading* r) {
  if (const XpTiffTagIFD* ifd0 = r->Ifd0(); ifd0 != nullptr && ifd0->Has(kTagOrientation)) {
    r->orientation = ifd0->FindShort(kTagOrientation);
  }
  if (const XpTiffTagIFD* exif = r->ExifIfd(); exif != nullptr) {
    r->dateTimeOriginal = Trimmed(exif->FindAscii(kTagDateTimeOriginal));
    r->offsetTimeOriginal = Trimmed(exif->FindAscii(kTagOffsetTimeOriginal));
  }
  if (const XpTiffTagIFD* gps = r->GpsIfd(); gps != nullptr) {
    gps->GetGPSRecord(r->gps);
    r->hasGpsDirectory = true;
    if (r->gps.latitude.IsValid() && r->gps.longitude.IsValid()) {
      r->source = PositionSource::File;
    }
  }
}

// The format of a TIFF structure with magic 42 once its tree is read.
XpPhotoFormat RefineTiff(XpPhotoFormat sniffed, const Reading& r, const std::string& path) {
  if (sniffed != XpPhotoFormat::Tiff) {
    return sniffed;
  }
  if (const XpTiffTagIFD* ifd0 = r.Ifd0(); ifd0 != nullptr && ifd0->Has(kTagDngVersion)) {
    return XpPhotoFormat::Dng;
  }
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return sniffed;
  }
  const std::string extension = XpAsciiLowered(std::string_view(path).substr(dot + 1));
  for (const RawExtension& raw : kRawExtensions) {
    if (raw.extension == extension) {
      return raw.format;
    }
  }
  return sniffed;
}

// A SHORT or LONG entry with one value.
std::optional<std::uint32_t> NumberOf(const XpTiffTagIFD& ifd, std::uint16_t tag) {
  const XpTiffTagDataBase* entry = ifd.Find(tag);
  if (entry == nullptr || entry->GetCount() != 1) {
    return std::nullopt;
  }
  if (entry->GetType() == kTiffTypeLong) {
    return ifd.FindLong(tag);
  }
  if (entry->GetType() == kTiffTypeShort) {
    return ifd.FindShort(tag);
  }
  return std::nullopt;
}

// The JPEG pictures `ifd` and its SubIFDs describe, as ranges of the file
// whose TIFF structure starts at `base` and ends at `end`.
void CollectPreviews(const XpTiffTagIFD& ifd, std::int64_t base, std::int64_t end, int depth,
                     std::vector<XpByteRange>* out) {
  if (depth > kMaxPreviewDepth) {
    return;
  }
  const auto add = [&](std::optional<std::uint32_t> offset, std::optional<std::uint32_t> size) {
    if (!offset || !size || *size < kMinPreviewBytes || out->size() >= kMaxPreviews) {
      return;
    }
    const std::int64_t at = XpFormatReader::Add(base, *offset);
    if (at < 0 || !XpFormatReader::Inside(at, *size, end)) {
      return;
    }
    if (std::none_of(out->begin(), out->end(), [&](const XpByteRange& r) { return r.offset == at; })) {
      out->push_back({at, std::int64_t{*size}});
    }
  };
  add(NumberOf(ifd, kTagThumbnailOffset), NumberOf(ifd, kTagThumbnailLength));
  const auto compression = NumberOf(ifd, kTagCompression);
  const auto photometric = NumberOf(ifd, kTagPhotometric);
  const bool jpeg = compression && (*compression == kCompressionOldJpeg ||
                                    (*compression == kCompressionJpeg && photometric &&
                                     (*photometric == kPhotometricRgb || *photometric == kPhotometricYCbCr)));
  if (jpeg) {
    add(NumberOf(ifd, kTagStripOffsets), NumberOf(ifd, kTagStripByteCounts));
  }
  for (const auto& entry : ifd.Entries()) {
    if (entry->IsIFD() && entry->GetTag() == kTagSubIFDs) {
      for (const auto& child : static_cast<const XpTiffTagDataIFD&>(*entry).Children()) {
        if (child) {
          CollectPreviews(*child, base, end, depth + 1, out);
        }
      }
    }
  }
}

void FindPreviews(const XpPhotoLayout& layout, Reading* r) {
  for (const XpByteRange& jpeg : {layout.jpeg, layout.largeJpeg}) {
    if (jpeg.IsPresent() && jpeg.length >= kMinPreviewBytes) {
      r->previews.push_back(jpeg);
    }
  }
  if (r->tree && layout.tiff.IsPresent()) {
    const std::int64_t end = XpFormatReader::Add(layout.tiff.offset, layout.tiff.length);
    for (std::size_t i = 0; i < r->tree->IFDCount(); ++i) {
      if (const XpTiffTagIFD* ifd = r->tree->GetIFD(i); ifd != nullptr) {
        CollectPreviews(*ifd, layout.tiff.offset, end, 0, &r->previews);
      }
    }
  }
  std::stable_sort(r->previews.begin(), r->previews.end(),
                   [](const XpByteRange& a, const XpByteRange& b) { return a.length > b.length; });
}

// The unsigned degrees of a coordinate as whole degrees and millionths of a
// minute, rounded once.
void SetCoordinate(double degrees, char positive, char negative, XpGPSRef* ref, XpGPSRational3* value) {
  constexpr std::int64_t kMinuteUnits = 1000000;
  const double magnitude = std::fabs(degrees);
  auto whole = static_cast<std::int64_t>(std::floor(magnitude));
  std::int64_t minutes = std::llround((magnitude - static_cast<double>(whole)) * 60.0 * kMinuteUnits);
  if (minutes >= 60 * kMinuteUnits) {
    ++whole;
    minutes -= 60 * kMinuteUnits;
  }
  ref->letter = static_cast<char16_t>(degrees < 0 ? negative : positive);
  ref->valid = 1;
  value->numerators = {static_cast<std::uint32_t>(whole), static_cast<std::uint32_t>(minutes), 0};
  value->denominators = {1, static_cast<std::uint32_t>(kMinuteUnits), 1};
  value->valid = 1;
}

// The position of the sidecar at `path`: a regular file no larger than a
// packet may be, read whole.
bool ReadSidecarPosition(const std::string& path, XpGPSRecord* record) {
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return false;
  }
  const std::int64_t length = file.GetLength();
  if (length <= 0 || length > static_cast<std::int64_t>(XpXmpGps::kMaxPacketSize)) {
    return false;
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (XpFormatReader::ReadAt(file, 0, bytes, length) != XpStatus::Ok) {
    return false;
  }
  return RecordFromXmp(bytes, record);
}

XpStatus ReadStream(XpAbstractFile& file, Reading* reading, const std::string& path) {
  *reading = Reading{};
  XpPhotoLayout layout;
  if (auto st = Locate(file, &layout); st != XpStatus::Ok) {
    reading->format = layout.format;
    return st;
  }
  reading->format = layout.format;
  if (layout.format == XpPhotoFormat::Jpeg) {
    if (auto st = XpJpegExif::ReadTagTree(file, &reading->tree, 0); st != XpStatus::Ok) {
      return st;
    }
    FillValues(reading);
    return XpStatus::Ok;
  }
  if (layout.xmp.IsPresent()) {
    if (auto st = ReadText(file, layout.xmp, kMaxXmpBytes, &reading->xmp); st == XpStatus::OutOfMemory) {
      return st;
    }
  }
  XpStatus treeStatus = XpStatus::NoExif;
  if (layout.tiff.IsPresent()) {
    treeStatus = LoadTree(file, layout.tiff, layout.tiffMagic, &reading->tree);
    if (treeStatus == XpStatus::OutOfMemory) {
      return treeStatus;
    }
  }
  if (!reading->tree && layout.hexExif.IsPresent()) {
    std::string text;
    std::vector<std::uint8_t> block;
    if (auto st = ReadText(file, layout.hexExif, 3 * kMaxXmpBytes, &text); st == XpStatus::OutOfMemory) {
      return st;
    }
    if (XpChunkedFormats::DecodeHexProfile(text, kMaxXmpBytes, &block)) {
      XpMemoryFile memory(std::move(block));
      treeStatus = LoadTree(memory, {0, memory.GetLength()}, 42, &reading->tree);
    }
  }
  // CR3's separate directories: each one that loads is kept.
  for (auto [range, tree] :
       {std::pair{&layout.exifDirectory, &reading->exifTree}, std::pair{&layout.gpsDirectory, &reading->gpsTree}}) {
    if (range->IsPresent()) {
      if (auto st = LoadTree(file, *range, 42, tree); st == XpStatus::OutOfMemory) {
        return st;
      }
    }
  }
  FillValues(reading);
  if (reading->source == PositionSource::None && !reading->xmp.empty()) {
    const auto* packet = reinterpret_cast<const std::uint8_t*>(reading->xmp.data());
    XpGPSRecord fromXmp;
    if (RecordFromXmp(std::span(packet, reading->xmp.size()), &fromXmp)) {
      reading->gps = fromXmp;
      reading->source = PositionSource::File;
    }
  }
  FindPreviews(layout, reading);
  reading->format = RefineTiff(layout.format, *reading, path);
  if (reading->tree || reading->exifTree || reading->gpsTree || !reading->xmp.empty()) {
    return XpStatus::Ok;
  }
  return treeStatus;
}

}  // namespace

XpPhotoFormat Sniff(std::span<const std::uint8_t> prefix) {
  if (prefix.size() >= 3 && prefix[0] == 0xFF && prefix[1] == 0xD8 && prefix[2] == 0xFF) {
    return XpPhotoFormat::Jpeg;
  }
  if (prefix.size() >= 8) {
    for (const TiffHeader& header : kTiffHeaders) {
      if (std::memcmp(prefix.data(), header.bytes.data(), 4) == 0) {
        // A CR2 marks itself in the header's bytes 8 and 9.
        if (header.format == XpPhotoFormat::Tiff && prefix.size() >= 10 && prefix[8] == 'C' && prefix[9] == 'R') {
          return XpPhotoFormat::Cr2;
        }
        return header.format;
      }
    }
  }
  if (prefix.size() >= 8 && std::memcmp(prefix.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
    return XpPhotoFormat::Png;
  }
  if (prefix.size() >= 12 && std::memcmp(prefix.data(), "RIFF", 4) == 0 &&
      std::memcmp(prefix.data() + 8, "WEBP", 4) == 0) {
    return XpPhotoFormat::Webp;
  }
  if (prefix.size() >= kRafSignature.size() &&
      std::memcmp(prefix.data(), kRafSignature.data(), kRafSignature.size()) == 0) {
    return XpPhotoFormat::Raf;
  }
  return XpIsoBmff::SniffBrand(prefix);
}

XpStatus Locate(XpAbstractFile& file, XpPhotoLayout* layout) {
  *layout = XpPhotoLayout{};
  std::array<std::uint8_t, kSniffBytes> prefix{};
  const std::int64_t length = file.GetLength();
  const auto n = static_cast<std::size_t>(std::clamp<std::int64_t>(length, 0, kSniffBytes));
  if (auto st = XpFormatReader::ReadAt(file, 0, std::span(prefix).first(n), length); st != XpStatus::Ok) {
    return st;
  }
  layout->format = Sniff(std::span(prefix).first(n));
  switch (layout->format) {
    case XpPhotoFormat::Unknown:
      return XpStatus::PhotoFormatUnknown;
    case XpPhotoFormat::Jpeg:
      return XpStatus::Ok;  // the JPEG path finds its own Exif block
    case XpPhotoFormat::Rw2:
    case XpPhotoFormat::Orf:
    case XpPhotoFormat::Tiff:
    case XpPhotoFormat::Cr2:
      layout->tiff = {0, length};
      layout->tiffMagic = layout->format == XpPhotoFormat::Rw2 ? std::uint16_t{0x55}
                          : layout->format == XpPhotoFormat::Orf
                              ? (prefix[2] == 'R' && prefix[3] == 'S' ? 0x5352 : 0x4F52)
                              : std::uint16_t{42};
      return XpStatus::Ok;
    case XpPhotoFormat::Cr3:
      return XpIsoBmff::LocateCr3(file, layout);
    case XpPhotoFormat::Heic:
    case XpPhotoFormat::Heif:
    case XpPhotoFormat::Avif:
      return XpIsoBmff::LocateHeif(file, layout);
    case XpPhotoFormat::Png:
      return XpChunkedFormats::LocatePng(file, layout);
    case XpPhotoFormat::Webp:
      return XpChunkedFormats::LocateWebp(file, layout);
    case XpPhotoFormat::Raf:
      return XpChunkedFormats::LocateRaf(file, layout);
    default:
      return XpStatus::PhotoFormatUnknown;
  }
}

const XpTiffTagIFD* Reading::Ifd0() const { return FirstIfd(tree); }

const XpTiffTagIFD* Reading::ExifIfd() const {
  if (const XpTiffTagIFD* exif = FirstIfd(exifTree); exif != nullptr) {
    return exif;
  }
  return tree ? tree->GetExifIFD() : nullptr;
}

const XpTiffTagIFD* Reading::GpsIfd() const {
  if (const XpTiffTagIFD* gps = FirstIfd(gpsTree); gps != nullptr) {
    return gps;
  }
  return tree ? tree->GetGPSIFD() : nullptr;
}

XpStatus Read(XpAbstractFile& file, Reading* reading) { return ReadStream(file, reading, std::string()); }

namespace {

// ReadFileOnly; `opened` tells whether the file was opened and read at all.
XpStatus ReadRegularFile(const std::string& path, Reading* reading, bool* opened) {
  *reading = Reading{};
  *opened = false;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return XpStatus::PhotoFormatUnknown;
  }
  XpFile file(path);
  if (auto st = file.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  *opened = true;
  return ReadStream(file, reading, path);
}

}  // namespace

XpStatus ReadFileOnly(const std::string& path, Reading* reading) {
  bool opened = false;
  return ReadRegularFile(path, reading, &opened);
}

XpStatus Read(const std::string& path, Reading* reading) {
  bool opened = false;
  const XpStatus st = ReadRegularFile(path, reading, &opened);
  if (!opened) {
    return st;
  }
  reading->sidecar = FindSidecar(path);
  if (!reading->sidecar.empty() && reading->format != XpPhotoFormat::Jpeg &&
      reading->format != XpPhotoFormat::Unknown) {
    XpGPSRecord fromSidecar;
    if (ReadSidecarPosition(reading->sidecar, &fromSidecar)) {
      if (reading->source == PositionSource::File) {
        reading->fileGps = reading->gps;
        reading->fileHasPosition = true;
      }
      reading->gps = fromSidecar;
      reading->source = PositionSource::Sidecar;
    }
  }
  return st;
}

XpPhotoFormat SniffFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return XpPhotoFormat::Unknown;
  }
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return XpPhotoFormat::Unknown;
  }
  std::array<std::uint8_t, kSniffBytes> prefix{};
  const auto n = static_cast<std::size_t>(std::clamp<std::int64_t>(file.GetLength(), 0, kSniffBytes));
  if (XpFormatReader::ReadAt(file, 0, std::span(prefix).first(n), file.GetLength()) != XpStatus::Ok) {
    return XpPhotoFormat::Unknown;
  }
  return Sniff(std::span(prefix).first(n));
}

bool RecordFromXmp(std::span<const std::uint8_t> packet, XpGPSRecord* record) {
  record->Reset();
  XpXmpGps::Position position;
  if (XpXmpGps::ReadGps(packet, &position) != XpStatus::Ok) {
    return false;
  }
  record->version.bytes = {2, 3, 0, 0};
  record->version.valid = 1;
  SetCoordinate(position.latitude, 'N', 'S', &record->latitudeRef, &record->latitude);
  SetCoordinate(position.longitude, 'E', 'W', &record->longitudeRef, &record->longitude);
  // Millimetres of altitude fit the rational up to some 4,000 km.
  constexpr double kMaxAltitude = 4.0e6;
  if (position.altitude && std::isfinite(*position.altitude) && std::fabs(*position.altitude) < kMaxAltitude) {
    record->altitudeRef.letter = *position.altitude < 0 ? 1 : 0;
    record->altitudeRef.valid = 1;
    record->altitude.numerator = static_cast<std::uint32_t>(std::llround(std::fabs(*position.altitude) * 1000.0));
    record->altitude.denominator = 1000;
    record->altitude.valid = 1;
  }
  return true;
}

std::vector<std::string> XmpFilesFor(const std::string& base) {
  std::vector<std::string> found;
  std::set<std::pair<dev_t, ino_t>> seen;
  // ".xmp" in each of its eight letter cases; a file system that ignores case
  // answers several of them with the one file, which counts once.
  for (unsigned mask = 0; mask < 8; ++mask) {
    std::string candidate = base + ".xmp";
    for (unsigned i = 0; i < 3; ++i) {
      if ((mask >> i) & 1U) {
        char& c = candidate[candidate.size() - 3 + i];
        c = static_cast<char>(c - 'a' + 'A');
      }
    }
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        seen.emplace(info.st_dev, info.st_ino).second) {
      found.push_back(candidate);
    }
  }
  return found;
}

PathParts SplitPath(const std::string& path) {
  PathParts parts;
  const std::size_t slash = path.rfind('/');
  parts.folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  parts.name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = parts.name.rfind('.');
  if (dot == std::string::npos || dot == 0) {
    parts.stem = parts.name;
  } else {
    parts.stem = parts.name.substr(0, dot);
    parts.extension = parts.name.substr(dot + 1);
  }
  return parts;
}

namespace {

constexpr std::string_view kPhotoshopNamespace = "http://ns.adobe.com/photoshop/1.0/";

bool EndsWithXmp(std::string_view name) {
  return name.size() >= 4 && XpAsciiLowered(name.substr(name.size() - 4)) == ".xmp";
}

// Whether another photo in the folder has the base name of `parts` (any case).
bool OtherPhotoSharesStem(const PathParts& parts) {
  const std::string folder = parts.folder.empty() ? std::string(".") : parts.folder;
  struct CloseDir {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir(::opendir(folder.c_str()));
  if (!dir) {
    // Unknown: the shared sidecar is left alone.
    return true;
  }
  const std::string stem = XpAsciiLowered(parts.stem);
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == parts.name || EndsWithXmp(name)) {
      continue;
    }
    const PathParts other = SplitPath(name);
    if (XpAsciiLowered(other.stem) != stem || other.extension.empty()) {
      continue;
    }
    if (SniffFile(parts.folder + name) != XpPhotoFormat::Unknown) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> OwnSidecars(const std::string& path) {
  const PathParts parts = SplitPath(path);
  std::vector<std::string> own = XmpFilesFor(path);
  if (parts.extension.empty()) {
    return own;
  }
  std::optional<bool> shared;
  for (const std::string& candidate : XmpFilesFor(parts.folder + parts.stem)) {
    std::string bytes;
    std::optional<std::string> forExtension;
    if (XpReadWholeFile(candidate, XpXmpGps::kMaxPacketSize, &bytes) == XpStatus::Ok) {
      (void)XpXmpGps::ReadProperty(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                                   kPhotoshopNamespace, "SidecarForExtension", &forExtension);
    }
    bool belongs = false;
    if (forExtension && !forExtension->empty()) {
      belongs = XpAsciiLowered(*forExtension) == XpAsciiLowered(parts.extension);
    } else {
      if (!shared) {
        shared = OtherPhotoSharesStem(parts);
      }
      belongs = !*shared;
    }
    if (belongs) {
      own.push_back(candidate);
    }
  }
  return own;
}

std::string FindSidecar(const std::string& path) {
  const std::vector<std::string> own = OwnSidecars(path);
  return own.empty() ? std::string() : own.front();
}

XpStatus ReadGPS(const std::string& path, XpGPSRecord& record) {
  Reading reading;
  const XpStatus st = Read(path, &reading);
  if (st != XpStatus::Ok && reading.source != PositionSource::Sidecar) {
    return st;
  }
  if (!reading.hasGpsDirectory && reading.source == PositionSource::None) {
    return XpStatus::NoExif;
  }
  record = reading.gps;
  return XpStatus::Ok;
}

}  // namespace XpPhotoMetadata

std::string_view XpPhotoFormatName(XpPhotoFormat format) {
  for (const auto& entry : XpPhotoMetadata::kFormatNames) {
    if (entry.format == format) {
      return entry.name;
    }
  }
  return "unknown";
}
