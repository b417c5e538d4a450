#include "xp/image/XpImageIoJpeg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "xp/image/XpJpegExif.h"
#include "xp/image/XpJpegLib.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

constexpr int kApp1 = JPEG_APP0 + 1;
constexpr int kApp2 = JPEG_APP0 + 2;
constexpr int kApp13 = JPEG_APP0 + 13;
constexpr unsigned kRowsPerProgress = 256;
// libjpeg refuses marker payloads above this (65535 minus the length field).
constexpr std::size_t kMaxMarkerPayload = 65533;

constexpr std::array<std::uint8_t, 12> kIccSignature = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr std::size_t kIccHeader = 14;  // the signature and two sequence bytes
constexpr std::array<std::uint8_t, 14> kPhotoshopSignature = {'P', 'h', 'o', 't', 'o', 's', 'h',
                                                              'o', 'p', ' ', '3', '.', '0', 0};
constexpr std::uint16_t kPhotoshopThumbnailId = 0x040C;
constexpr std::size_t kPhotoshopThumbnailHeader = 28;

bool StartsWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

std::uint32_t ReadBigEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value = (value << 8) | bytes[at + i];
  }
  return value;
}

// The JPEG data of the first Photoshop thumbnail resource (id 0x040C, format
// 1, JPEG data after its 28-byte header) in an APP13 payload; empty when none.
std::span<const std::uint8_t> FindPhotoshopThumbnail(std::span<const std::uint8_t> segment) {
  if (!StartsWith(segment, kPhotoshopSignature)) {
    return {};
  }
  std::size_t pos = kPhotoshopSignature.size();
  const std::size_t size = segment.size();
  while (pos + 7 <= size) {
    if (std::memcmp(segment.data() + pos, "8BIM", 4) != 0) {
      return {};
    }
    const std::uint32_t id = ReadBigEndian(segment, pos + 4, 2);
    std::size_t name = 1 + std::size_t{segment[pos + 6]};
    name += name % 2;
    const std::size_t sizeAt = pos + 6 + name;
    if (sizeAt + 4 > size) {
      return {};
    }
    const std::size_t dataSize = ReadBigEndian(segment, sizeAt, 4);
    const std::size_t dataAt = sizeAt + 4;
    if (dataSize > size - dataAt) {
      return {};
    }
    const std::span<const std::uint8_t> data = segment.subspan(dataAt, dataSize);
    if (id == kPhotoshopThumbnailId && dataSize > kPhotoshopThumbnailHeader && data[2] == 0x00 && data[3] == 0x01 &&
        data[kPhotoshopThumbnailHeader] == 0xFF && data[kPhotoshopThumbnailHeader + 1] == 0xD8) {
      return data.subspan(kPhotoshopThumbnailHeader);
    }
    pos = dataAt + dataSize + dataSize % 2;
  }
  return {};
}

// Rational values in host order, for SetRational entries with several values.
XpStatus SetRationals(XpTiffTagIFD& ifd, std::uint16_t tag,
                      std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> values) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(values.size() * 8);
  for (const auto& [numerator, denominator] : values) {
    for (const std::uint32_t word : {numerator, denominator}) {
      std::array<std::uint8_t, 4> host{};
      std::memcpy(host.data(), &word, 4);
      bytes.insert(bytes.end(), host.begin(), host.end());
    }
  }
  auto entry = XpCreateTiffTagData(tag, 5, bytes);
  if (entry == nullptr || ifd.AddEntry(std::move(entry)) == nullptr) {
    return XpStatus::OutOfMemory;
  }
  return XpStatus::Ok;
}

void RemoveTags(XpTiffTagIFD* ifd, std::initializer_list<std::uint16_t> tags) {
  if (ifd == nullptr) {
    return;
  }
  for (const std::uint16_t tag : tags) {
    ifd->RemoveTag(tag);
  }
}

// The first child of `parent`'s child-directory entry `tag`, made (with a
// fresh entry replacing whatever held the tag) when there is none.
XpTiffTagIFD* ChildDirectory(XpTiffTagIFD& parent, std::uint16_t tag) {
  if (auto* entry = dynamic_cast<XpTiffTagDataIFD*>(parent.Find(tag)); entry != nullptr) {
    if (XpTiffTagIFD* child = entry->GetChild(0)) {
      return child;
    }
  }
  auto entry = XpCreateTiffTagDataIFD(tag, 1);
  if (entry == nullptr) {
    return nullptr;
  }
  std::unique_ptr<XpTiffTagIFD> child(new (std::nothrow) XpTiffTagIFD);
  if (child == nullptr) {
    return nullptr;
  }
  XpTiffTagIFD* made = entry->AddChild(std::move(child));
  if (made == nullptr || parent.AddEntry(std::move(entry)) == nullptr) {
    return nullptr;
  }
  return made;
}

// ExifVersion becomes "0221" unless it holds a later version already: the
// bytes are compared from the first on, and at the first difference a greater
// old byte keeps the old value.
XpStatus RaiseExifVersion(XpTiffTagIFD& exif) {
  static constexpr std::array<std::uint8_t, 4> k0221 = {'0', '2', '2', '1'};
  if (const XpTiffTagDataBase* old = exif.Find(0x9000)) {
    const std::span<const std::uint8_t> bytes = old->Bytes();
    for (std::size_t i = 0; i < k0221.size() && i < bytes.size(); ++i) {
      if (bytes[i] != k0221[i]) {
        if (bytes[i] > k0221[i]) {
          return XpStatus::Ok;
        }
        break;
      }
    }
  }
  return exif.SetUndefined(0x9000, k0221);
}

// Chains statuses: the first failure wins.
class StatusChain {
 public:
  StatusChain& operator<<(XpStatus st) {
    if (m_status == XpStatus::Ok) {
      m_status = st;
    }
    return *this;
  }
  [[nodiscard]] XpStatus Get() const { return m_status; }

 private:
  XpStatus m_status = XpStatus::Ok;
};

// Compression settings shared by the main image and the Exif thumbnail.
void SetEncoderParameters(jpeg_compress_struct* c, int width, int height, int quality) {
  c->image_width = static_cast<JDIMENSION>(width);
  c->image_height = static_cast<JDIMENSION>(height);
  c->input_components = 3;
  // The pixmaps hold B, G, R; libjpeg reads them in that order directly.
  c->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(c);
  c->write_JFIF_header = FALSE;
  c->write_Adobe_marker = FALSE;
  jpeg_set_quality(c, quality, TRUE);
  c->dct_method = JDCT_ISLOW;
  c->comp_info[0].h_samp_factor = 2;
  c->comp_info[0].v_samp_factor = 1;
  for (int i = 1; i < 3; ++i) {
    c->comp_info[i].h_samp_factor = 1;
    c->comp_info[i].v_samp_factor = 1;
  }
}

std::string FormatExifDate(const XpDateTime& time) {
  const auto fields = time.GetFields();
  if (!fields) {
    return "0000:00:00 00:00:00";
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%04d:%02d:%02d %02d:%02d:%02d", fields->year, fields->month, fields->day,
                fields->hour, fields->minute, fields->second);
  return text;
}

}  // namespace

struct XpImageIoJpeg::Header {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> exif;  // the first APP1 payload that begins with "Exif" and a NUL
  std::vector<std::vector<std::uint8_t>> app13;
  std::vector<std::uint8_t> icc;
  bool hasIcc = false;
  TagTreePtr tree;
};

XpStatus XpImageIoJpeg::Decode(XpAbstractFile& stream, std::int64_t start, int reduction, XpImageProgress* progress,
                               bool withApp13, bool withApp2, std::unique_ptr<XpPixmapBGR24>* pixels, Header* header) {
  m_orientation = 0;
  m_uncalibrated = false;
  m_imageSize = {};
  if (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8) {
    return XpStatus::BadReduction;
  }
  if (auto st = stream.Seek(start, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  const XpStatus checked = XpJpegExif::CheckJpegStream(stream, start);
  if (auto st = stream.Seek(start, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  if (checked != XpStatus::Ok) {
    return checked;
  }

  // The pixmap is built inside and handed out only on success, so a failure
  // at any point leaves nothing allocated.
  std::unique_ptr<XpPixmapBGR24> image;
  const XpStatus status = JpegRun(XpStatus::JpegDecodeFailed, [&]() -> XpStatus {
    JpegDecompressor d;
    d.SetMemoryLimit(m_libraryMemory);
    d.SetSource(stream);
    jpeg_save_markers(d.Get(), kApp1, 0xFFFF);
    if (withApp13) {
      jpeg_save_markers(d.Get(), kApp13, 0xFFFF);
    }
    if (withApp2) {
      jpeg_save_markers(d.Get(), kApp2, 0xFFFF);
    }
    if (jpeg_read_header(d.Get(), TRUE) != JPEG_HEADER_OK) {
      return XpStatus::JpegDecodeFailed;
    }
    // Only the segments before the first scan count; the ones between scans
    // are skipped, because libjpeg appends each saved segment by walking its
    // whole list, which would make thousands of them cost quadratic time.
    for (const int marker : {kApp1, kApp13, kApp2}) {
      jpeg_save_markers(d.Get(), marker, 0);
    }
    d->out_color_space = JCS_EXT_BGR;
    d->dct_method = JDCT_ISLOW;
    if (reduction > 1) {
      d->scale_num = 1;
      d->scale_denom = static_cast<unsigned>(reduction);
      d->do_fancy_upsampling = FALSE;
      d->do_block_smoothing = FALSE;
      d->quantize_colors = FALSE;
      d->dither_mode = JDITHER_NONE;
      d->two_pass_quantize = FALSE;
    }
    jpeg_calc_output_dimensions(d.Get());

    header->width = static_cast<int>(d->image_width);
    header->height = static_cast<int>(d->image_height);
    for (jpeg_saved_marker_ptr m = d->marker_list; m != nullptr; m = m->next) {
      const std::span<const std::uint8_t> payload(m->data, m->data_length);
      if (m->marker == kApp1 && header->exif.empty() && XpJpegExif::IsExifPayload(payload)) {
        header->exif.assign(payload.begin(), payload.end());
      } else if (m->marker == kApp13) {
        header->app13.emplace_back(payload.begin(), payload.end());
      } else if (m->marker == kApp2 && StartsWith(payload, kIccSignature) && payload.size() >= kIccHeader) {
        header->icc.insert(header->icc.end(), payload.begin() + kIccHeader, payload.end());
        header->hasIcc = true;
      }
    }
    if (!header->exif.empty()) {
      XpMemoryFile tiff(XpJpegExif::TiffDataOfExifPayload(header->exif));
      auto tree = std::make_shared<XpTiffTagManager>();
      // A tree that does not parse is dropped without a word: the pixels matter here.
      if (tree->Load(tiff, XpJpegExif::kReadMode)) {
        header->tree = std::move(tree);
        if (const XpTiffTagIFD* ifd0 = header->tree->GetIFD(0)) {
          m_imageSize = {header->width, header->height};
          m_orientation = ifd0->FindShort(kTagOrientation, true);
          m_uncalibrated = ifd0->FindShort(kTagColorSpace, true) == 0xFFFF;
        }
      }
    }
    if (pixels == nullptr) {
      return XpStatus::Ok;
    }

    if (d->output_components != 3) {
      return XpStatus::UnexpectedData;
    }
    // The budget counts the full image: libjpeg's work grows with it whatever the reduction.
    const std::uint64_t imagePixels = std::uint64_t{d->image_width} * d->image_height;
    const std::uint64_t outputPixels = std::uint64_t{d->output_width} * d->output_height;
    if (imagePixels > m_maxPixels || outputPixels > m_maxPixels) {
      return XpStatus::OutOfMemory;
    }
    image.reset(new (std::nothrow) XpPixmapBGR24);
    if (image == nullptr) {
      return XpStatus::OutOfMemory;
    }
    if (auto st = image->Create(static_cast<int>(d->output_width), static_cast<int>(d->output_height));
        st != XpStatus::Ok) {
      return st;
    }
    jpeg_start_decompress(d.Get());
    const JDIMENSION height = d->output_height;
    while (d->output_scanline < height) {
      const JDIMENSION row = d->output_scanline;
      if (progress != nullptr && row % kRowsPerProgress == 0 &&
          progress->OnProgress(static_cast<int>(std::uint64_t{row} * 100 / height)) != 0) {
        return XpStatus::Cancelled;
      }
      JSAMPROW rows[1] = {image->Row(static_cast<int>(row))};
      if (jpeg_read_scanlines(d.Get(), rows, 1) != 1) {
        break;
      }
    }
    if (d->output_scanline < height) {
      // Rows libjpeg did not deliver must not show stale memory.
      for (JDIMENSION y = d->output_scanline; y < height; ++y) {
        std::memset(image->Row(static_cast<int>(y)), 0, image->Stride());
      }
    }
    if (progress != nullptr && progress->OnProgress(100) != 0) {
      return XpStatus::Cancelled;
    }
    jpeg_finish_decompress(d.Get());
    return XpStatus::Ok;
  });
  if (status != XpStatus::Ok) {
    return status;
  }
  if (pixels != nullptr) {
    *pixels = std::move(image);
  }
  return XpStatus::Ok;
}

void XpImageIoJpeg::TurnUpright(std::unique_ptr<XpPixmapBGR24>& pixmap) {
  std::unique_ptr<XpPixmapBGR24> turned;
  switch (m_orientation) {
    case 3:
      turned = XpPixmapOps::Rotate180(*pixmap);
      break;
    case 6:
      turned = XpPixmapOps::RotateClockwise(*pixmap);
      break;
    case 8:
      turned = XpPixmapOps::RotateCounterClockwise(*pixmap);
      break;
    default:
      return;
  }
  if (turned == nullptr) {
    m_status = XpStatus::OutOfMemory;
    return;
  }
  pixmap = std::move(turned);
}

std::unique_ptr<XpPixmapBGR24> XpImageIoJpeg::Read(XpAbstractFile& stream, std::int64_t start, int reduction,
                                                   XpImageProgress* progress, bool convertColour) {
  Header header;
  std::unique_ptr<XpPixmapBGR24> pixmap;
  m_status = Decode(stream, start, reduction, progress, false, false, &pixmap, &header);
  if (m_status != XpStatus::Ok) {
    return nullptr;
  }
  if (convertColour && m_uncalibrated) {
    XpPixmapOps::AdobeToSrgb(*pixmap);
  }
  TurnUpright(pixmap);
  return pixmap;
}

std::optional<std::vector<std::uint8_t>> XpImageIoJpeg::ReadIccProfile(XpAbstractFile& stream, std::int64_t start) {
  Header header;
  m_status = Decode(stream, start, 1, nullptr, false, true, nullptr, &header);
  if (m_status != XpStatus::Ok) {
    return std::nullopt;
  }
  if (!header.hasIcc) {
    m_status = XpStatus::NoExif;
    return std::nullopt;
  }
  return std::move(header.icc);
}

std::unique_ptr<XpPixmapBGR24> XpImageIoJpeg::DecodeEmbedded(std::span<const std::uint8_t> bytes) {
  // The embedded image has its own markers; the main image's metadata stays.
  const int orientation = m_orientation;
  const bool uncalibrated = m_uncalibrated;
  const XpPixmapOps::Size size = m_imageSize;
  XpMemoryFile file(bytes);
  Header header;
  std::unique_ptr<XpPixmapBGR24> pixmap;
  m_status = Decode(file, 0, 1, nullptr, false, false, &pixmap, &header);
  m_orientation = orientation;
  m_uncalibrated = uncalibrated;
  m_imageSize = size;
  return m_status == XpStatus::Ok ? std::move(pixmap) : nullptr;
}

std::unique_ptr<XpPixmapBGR24> XpImageIoJpeg::ReadThumbnail(XpAbstractFile& stream, std::int64_t start) {
  Header header;
  m_status = Decode(stream, start, 1, nullptr, true, false, nullptr, &header);
  if (m_status != XpStatus::Ok) {
    return nullptr;
  }
  std::unique_ptr<XpPixmapBGR24> thumbnail;
  bool found = false;
  for (const auto& segment : header.app13) {
    if (const auto jpeg = FindPhotoshopThumbnail(segment); !jpeg.empty()) {
      found = true;
      thumbnail = DecodeEmbedded(jpeg);
      break;
    }
  }
  if (!found && header.tree != nullptr) {
    if (const XpTiffTagIFD* ifd1 = header.tree->GetIFD(1); ifd1 != nullptr && ifd1->Has(kTagThumbnailOffset)) {
      const std::span<const std::uint8_t> tiff = XpJpegExif::TiffDataOfExifPayload(header.exif);
      const std::uint32_t offset = ifd1->FindLong(kTagThumbnailOffset);
      if (offset > 0 && offset < tiff.size()) {
        found = true;
        thumbnail = DecodeEmbedded(tiff.subspan(offset));
      }
    }
  }
  if (!found) {
    m_status = XpStatus::NoExif;
    return nullptr;
  }
  if (thumbnail == nullptr) {
    return nullptr;
  }
  if (m_imageSize.width > 0 && m_imageSize.height > 0 && thumbnail->Width() == kThumbnailWidth &&
      thumbnail->Height() == kThumbnailHeight) {
    // Cut the black bars that a writer put around a picture of another aspect ratio.
    const XpPixmapOps::Size fitted =
        XpPixmapOps::Fit(m_imageSize.width, m_imageSize.height, kThumbnailWidth, kThumbnailHeight);
    if (fitted.width > 0 && fitted.height > 0) {
      const int left = (kThumbnailWidth - fitted.width) / 2;
      const int top = (kThumbnailHeight - fitted.height) / 2;
      if (auto st = XpPixmapOps::Crop(*thumbnail, left, top, left + fitted.width, top + fitted.height);
          st != XpStatus::Ok) {
        m_status = st;
        return nullptr;
      }
    }
  }
  TurnUpright(thumbnail);
  if (m_uncalibrated) {
    XpPixmapOps::AdobeToSrgb(*thumbnail);
  }
  return thumbnail;
}

XpStatus XpImageIoJpeg::LocateExif(XpAbstractFile& stream, std::int64_t start) {
  return m_status = XpJpegExif::LocateExif(stream, start);
}

XpStatus XpImageIoJpeg::ReadImageInfo(XpAbstractFile& stream, std::int64_t start, XpPixmapOps::Size* size,
                                      bool ignoreOrientation) {
  Header header;
  m_status = Decode(stream, start, 1, nullptr, false, false, nullptr, &header);
  if (m_status != XpStatus::Ok) {
    return m_status;
  }
  *size = {header.width, header.height};
  if (!ignoreOrientation && m_orientation >= 5 && m_orientation <= 8) {
    std::swap(size->width, size->height);
  }
  return m_status;
}

std::string XpImageIoJpeg::CurrentDateText() const { return FormatExifDate(m_fixedTime.value_or(XpDateTime::Now())); }

XpStatus XpImageIoJpeg::EncodeThumbnail(const XpPixmapBGR24& pixmap, XpAbstractFile& out, bool thumbnailFileMode,
                                        const XpDateTime* dateTime) {
  if (pixmap.IsEmpty()) {
    return XpStatus::Failed;
  }
  // Fit into 160 x 120; a sliver of a picture still keeps one pixel.
  const std::int64_t w = pixmap.Width();
  const std::int64_t h = pixmap.Height();
  int fittedWidth = kThumbnailWidth;
  int fittedHeight = kThumbnailHeight;
  if (w * kThumbnailHeight < h * kThumbnailWidth) {
    fittedWidth = static_cast<int>(std::max<std::int64_t>(1, w * kThumbnailHeight / h));
  } else {
    fittedHeight = static_cast<int>(std::max<std::int64_t>(1, h * kThumbnailWidth / w));
  }
  XpPixmapBGR24 fitted;
  if (auto st = fitted.Create(fittedWidth, fittedHeight); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = XpPixmapOps::Resample(pixmap, fitted); st != XpStatus::Ok) {
    return st;
  }
  XpPixmapBGR24 canvas;
  if (auto st = canvas.Create(kThumbnailWidth, kThumbnailHeight); st != XpStatus::Ok) {
    return st;
  }
  std::memset(canvas.Data(), 0, canvas.Size());
  const int left = (kThumbnailWidth - fittedWidth) / 2;
  const int top = (kThumbnailHeight - fittedHeight) / 2;
  for (int y = 0; y < fittedHeight; ++y) {
    std::memcpy(canvas.Row(top + y) + static_cast<std::size_t>(left) * 3, fitted.Row(y),
                static_cast<std::size_t>(fittedWidth) * 3);
  }

  XpMemoryFile ownExif;
  if (thumbnailFileMode) {
    XpTiffTagManager empty;
    if (!empty.Create()) {
      return XpStatus::OutOfMemory;
    }
    if (auto st = BuildExifBlock(canvas, empty, false, true, dateTime, ownExif); st != XpStatus::Ok) {
      return st;
    }
  }
  return JpegRun(XpStatus::JpegEncodeFailed, [&]() -> XpStatus {
    JpegCompressor c;
    c.SetDestination(out);
    SetEncoderParameters(c.Get(), kThumbnailWidth, kThumbnailHeight, kFallbackQuality);
    jpeg_start_compress(c.Get(), TRUE);
    if (ownExif.GetLength() > 0 && static_cast<std::size_t>(ownExif.GetLength()) <= kMaxMarkerPayload) {
      jpeg_write_marker(c.Get(), kApp1, ownExif.Data(), static_cast<unsigned>(ownExif.GetLength()));
    }
    for (int y = 0; y < kThumbnailHeight; ++y) {
      JSAMPROW rows[1] = {canvas.Row(y)};
      jpeg_write_scanlines(c.Get(), rows, 1);
    }
    jpeg_finish_compress(c.Get());
    return XpStatus::Ok;
  });
}

XpStatus XpImageIoJpeg::BuildExifBlock(const XpPixmapBGR24& pixmap, XpTiffTagManager& tree, bool adobeRgb,
                                       bool thumbnailFileMode, const XpDateTime* dateTime, XpMemoryFile& out) {
  const std::string now = CurrentDateText();
  const std::string chosen =
      thumbnailFileMode && dateTime != nullptr && dateTime->GetFields() ? FormatExifDate(*dateTime) : now;

  XpTiffTagIFD* ifd0 = tree.GetIFD(0);
  if (ifd0 == nullptr) {
    ifd0 = tree.AddIFD();
    if (ifd0 == nullptr) {
      return XpStatus::OutOfMemory;
    }
  }
  StatusChain st;
  if (!ifd0->Has(0x010E)) {
    st << ifd0->SetAscii(0x010E, std::string(31, ' '));
  }
  if (!ifd0->Has(kTagMake)) {
    st << ifd0->SetAscii(kTagMake, "ARDO");
  }
  if (!ifd0->Has(0x0110)) {
    st << ifd0->SetAscii(0x0110, m_name);
  }
  st << ifd0->SetShort(kTagOrientation, 1) << ifd0->SetRational(0x011A, 72, 1) << ifd0->SetRational(0x011B, 72, 1)
     << ifd0->SetShort(0x0128, 2) << ifd0->SetAscii(0x0131, m_name) << ifd0->SetAscii(kTagDateTime, now);
  if (adobeRgb) {
    st << SetRationals(*ifd0, 0x013E, {{313, 1000}, {329, 1000}})
       << SetRationals(*ifd0, 0x013F, {{64, 100}, {33, 100}, {21, 100}, {71, 100}, {15, 100}, {6, 100}})
       << SetRationals(*ifd0, 0x0211, {{299, 1000}, {587, 1000}, {114, 1000}});
  }
  st << ifd0->SetShort(0x0213, 2);

  XpTiffTagIFD* exif = ChildDirectory(*ifd0, kTagExifIFD);
  if (exif == nullptr) {
    return XpStatus::OutOfMemory;
  }
  st << RaiseExifVersion(*exif);
  if (!exif->Has(kTagDateTimeOriginal)) {
    st << exif->SetAscii(kTagDateTimeOriginal, chosen);
  }
  if (!exif->Has(0x9004)) {
    st << exif->SetAscii(0x9004, now);
  }
  static constexpr std::array<std::uint8_t, 4> kComponents = {1, 2, 3, 0};
  static constexpr std::array<std::uint8_t, 4> kVersion0100 = {'0', '1', '0', '0'};
  st << exif->SetUndefined(0x9101, kComponents) << exif->SetUndefined(0xA000, kVersion0100)
     << exif->SetShort(kTagColorSpace, adobeRgb ? 0xFFFF : 1)
     << exif->SetLong(0xA002, static_cast<std::uint32_t>(pixmap.Width()))
     << exif->SetLong(0xA003, static_cast<std::uint32_t>(pixmap.Height()));
  if (adobeRgb) {
    st << exif->SetRational(0xA500, 22, 10);
  }

  XpTiffTagIFD* interop = ChildDirectory(*exif, kTagInteropIFD);
  if (interop == nullptr) {
    return XpStatus::OutOfMemory;
  }
  st << interop->SetAscii(0x0001, thumbnailFileMode ? "THM" : (adobeRgb ? "R03" : "R98"))
     << interop->SetUndefined(0x0002, kVersion0100);
  if (st.Get() != XpStatus::Ok) {
    return st.Get();
  }

  XpMemoryFile thumbnail;
  std::uint64_t thumbnailOffset = 0;
  if (!thumbnailFileMode) {
    XpTiffTagIFD* ifd1 = tree.GetIFD(1);
    if (ifd1 == nullptr) {
      ifd1 = tree.AddIFD();
      if (ifd1 == nullptr) {
        return XpStatus::OutOfMemory;
      }
    }
    st << ifd1->SetShort(0x0103, 6) << ifd1->SetShort(kTagOrientation, 1) << ifd1->SetRational(0x011A, 72, 1)
       << ifd1->SetRational(0x011B, 72, 1) << ifd1->SetShort(0x0128, 2);
    if (st.Get() != XpStatus::Ok) {
      return st.Get();
    }
    if (auto enc = EncodeThumbnail(pixmap, thumbnail, false); enc != XpStatus::Ok) {
      return enc;
    }
    st << ifd1->SetLong(kTagThumbnailLength, static_cast<std::uint32_t>(thumbnail.GetLength()))
       << ifd1->SetLong(kTagThumbnailOffset, 0);
    thumbnailOffset = 8 + ifd0->StoredSize(true) + ifd1->StoredSize(true);
    st << ifd1->SetLong(kTagThumbnailOffset, static_cast<std::uint32_t>(thumbnailOffset));
    if (st.Get() != XpStatus::Ok) {
      return st.Get();
    }
  }

  static constexpr std::array<std::uint8_t, 6> kExifHeader = {'E', 'x', 'i', 'f', 0, 0};
  if (auto w = out.WriteAll(kExifHeader.data(), kExifHeader.size()); w != XpStatus::Ok) {
    return w;
  }
  XpStatus storeStatus = XpStatus::Ok;
  const std::uint64_t stored = tree.Store(out, &storeStatus);
  if (storeStatus != XpStatus::Ok) {
    return storeStatus;
  }
  if (stored == 0 || (!thumbnailFileMode && stored != thumbnailOffset)) {
    // The thumbnail would not be where IFD1 says.
    return XpStatus::JpegEncodeFailed;
  }
  if (thumbnail.GetLength() > 0) {
    return out.WriteAll(thumbnail.Data(), static_cast<std::uint64_t>(thumbnail.GetLength()));
  }
  return XpStatus::Ok;
}

XpStatus XpImageIoJpeg::Write(const XpPixmapBGR24& pixmap, const XpTiffTagManager* tree, XpAbstractFile& out,
                              XpImageProgress* progress, Rect rect, bool adobeRgb) {
  if (m_name.empty()) {
    return m_status = XpStatus::NoWriterName;
  }
  if (pixmap.IsEmpty()) {
    return m_status = XpStatus::Failed;
  }
  const bool whole = rect.IsAllZero();
  if (!whole) {
    rect.left = std::max(rect.left, 0);
    rect.top = std::max(rect.top, 0);
    rect.right = std::min(rect.right, pixmap.Width());
    rect.bottom = std::min(rect.bottom, pixmap.Height());
    if (rect.left >= rect.right || rect.top >= rect.bottom) {
      return m_status = XpStatus::BadReduction;
    }
  }

  // Work on a copy of the tree without what described the source image.
  std::unique_ptr<XpTiffTagManager> work;
  if (tree != nullptr && tree->GetRoot() != nullptr) {
    work = tree->Clone();
  } else {
    work.reset(new (std::nothrow) XpTiffTagManager);
    if (work != nullptr && !work->Create()) {
      work.reset();
    }
  }
  if (work == nullptr) {
    return m_status = XpStatus::OutOfMemory;
  }
  RemoveTags(work->GetIFD(0), {0x00FE, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0111, 0x0115, 0x0116, 0x0117, 0x011C,
                               0x014A, 0x0201, 0x0202, 0x8773, 0xC634});
  if (!adobeRgb) {
    RemoveTags(work->GetIFD(0), {0x013E, 0x013F, 0x0211});
  }
  RemoveTags(work->GetExifIFD(), {0xA300, 0xA301});
  // Besides the maker and time tags, IFD1 loses what described a strip
  // thumbnail: the new thumbnail is a JPEG described by 0x0201 and 0x0202.
  RemoveTags(work->GetIFD(1),
             {0x00FE, 0x010F, 0x0110, 0x0132, 0x0100, 0x0101, 0x0102, 0x0106, 0x0111, 0x0115, 0x0116, 0x0117, 0x011C});
  RemoveTags(work->GetMakerNoteIFD(), {0x0002, 0x0080, 0x0088, 0x0089, 0x2001, 0xB028});
  while (work->IFDCount() > 2) {
    work->RemoveIFD(2);
  }

  const XpPixmapBGR24* source = &pixmap;
  std::unique_ptr<XpPixmapBGR24> copy;
  if (!whole || adobeRgb) {
    copy = pixmap.CloneSame();
    if (copy == nullptr) {
      return m_status = XpStatus::OutOfMemory;
    }
    if (!whole) {
      if (auto st = XpPixmapOps::Crop(*copy, rect.left, rect.top, rect.right, rect.bottom); st != XpStatus::Ok) {
        return m_status = st;
      }
    }
    if (adobeRgb) {
      XpPixmapOps::SrgbToAdobe(*copy);
    }
    source = copy.get();
  }

  XpMemoryFile block;
  if (auto st = BuildExifBlock(*source, *work, adobeRgb, false, nullptr, block); st != XpStatus::Ok) {
    return m_status = st;
  }
  const int quality = m_quality >= 1 && m_quality <= 100 ? m_quality : kFallbackQuality;
  m_status = JpegRun(XpStatus::JpegEncodeFailed, [&]() -> XpStatus {
    JpegCompressor c;
    c.SetDestination(out);
    SetEncoderParameters(c.Get(), source->Width(), source->Height(), quality);
    jpeg_start_compress(c.Get(), TRUE);
    // libjpeg cannot carry a longer payload in one segment; such a block is
    // left out and the image written without it.
    if (static_cast<std::size_t>(block.GetLength()) <= kMaxMarkerPayload) {
      jpeg_write_marker(c.Get(), kApp1, block.Data(), static_cast<unsigned>(block.GetLength()));
    }
    const int height = source->Height();
    int reported = 0;
    for (int y = 0; y < height; ++y) {
      JSAMPROW rows[1] = {source->Row(y)};
      jpeg_write_scanlines(c.Get(), rows, 1);
      const int percent = static_cast<int>(std::int64_t{y} * 100 / height);
      if (progress != nullptr && std::abs(percent - reported) > 4) {
        reported = percent;
        if (progress->OnProgress(percent) != 0) {
          return XpStatus::Cancelled;
        }
      }
    }
    jpeg_finish_compress(c.Get());
    return XpStatus::Ok;
  });
  return m_status;
}
