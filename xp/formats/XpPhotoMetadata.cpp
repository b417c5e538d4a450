#include "xp/formats/XpPhotoMetadata.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "xp/formats/XpChunkedFormats.h"
#include "xp/formats/XpFormatReader.h"
#include "xp/formats/XpIsoBmff.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace XpPhotoMetadata {

namespace {

constexpr std::uint16_t kTagOffsetTimeOriginal = 0x9011;
constexpr std::uint16_t kTagDngVersion = 0xC612;

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

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

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
  const std::string extension = Lower(std::string_view(path).substr(dot + 1));
  for (const RawExtension& raw : kRawExtensions) {
    if (raw.extension == extension) {
      return raw.format;
    }
  }
  return sniffed;
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

XpStatus Read(const std::string& path, Reading* reading) {
  *reading = Reading{};
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return XpStatus::PhotoFormatUnknown;
  }
  XpFile file(path);
  if (auto st = file.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  const XpStatus st = ReadStream(file, reading, path);
  reading->sidecar = FindSidecar(path);
  return st;
}

std::string FindSidecar(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  std::string bases[2] = {path, hasExtension ? path.substr(0, dot) : std::string()};
  for (const std::string& base : bases) {
    if (base.empty()) {
      continue;
    }
    // ".xmp" in each of its eight letter cases.
    for (unsigned mask = 0; mask < 8; ++mask) {
      std::string candidate = base + ".xmp";
      for (unsigned i = 0; i < 3; ++i) {
        if ((mask >> i) & 1U) {
          char& c = candidate[candidate.size() - 3 + i];
          c = static_cast<char>(c - 'a' + 'A');
        }
      }
      struct stat info {};
      if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        return candidate;
      }
    }
  }
  return std::string();
}

XpStatus ReadGPS(const std::string& path, XpGPSRecord& record) {
  Reading reading;
  if (auto st = Read(path, &reading); st != XpStatus::Ok) {
    return st;
  }
  if (!reading.hasGpsDirectory) {
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
