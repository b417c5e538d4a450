#include "xp/formats/XpIsoBmff.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "xp/formats/XpFormatReader.h"
#include "xp/tiff/XpByteOrder.h"

namespace XpIsoBmff {

namespace {

using XpBytes::Get16;
using XpBytes::Get32;
using XpBytes::Get64;
using XpBytes::kBigEndian;
using XpFormatReader::Inside;
using XpFormatReader::ReadAt;

constexpr std::uint32_t kFtyp = FourCc("ftyp");
constexpr std::uint32_t kMeta = FourCc("meta");
constexpr std::uint32_t kHdlr = FourCc("hdlr");
constexpr std::uint32_t kPitm = FourCc("pitm");
constexpr std::uint32_t kIinf = FourCc("iinf");
constexpr std::uint32_t kInfe = FourCc("infe");
constexpr std::uint32_t kIloc = FourCc("iloc");
constexpr std::uint32_t kIref = FourCc("iref");
constexpr std::uint32_t kIdat = FourCc("idat");
constexpr std::uint32_t kCdsc = FourCc("cdsc");
constexpr std::uint32_t kExif = FourCc("Exif");
constexpr std::uint32_t kMime = FourCc("mime");
constexpr std::uint32_t kGrid = FourCc("grid");
constexpr std::uint32_t kIovl = FourCc("iovl");
constexpr std::uint32_t kIprp = FourCc("iprp");
constexpr std::uint32_t kIpco = FourCc("ipco");
constexpr std::uint32_t kIspe = FourCc("ispe");
constexpr std::uint32_t kMoov = FourCc("moov");
constexpr std::uint32_t kUuid = FourCc("uuid");
constexpr std::uint32_t kCmt1 = FourCc("CMT1");
constexpr std::uint32_t kCmt2 = FourCc("CMT2");
constexpr std::uint32_t kCmt4 = FourCc("CMT4");
constexpr std::uint32_t kThmb = FourCc("THMB");

// The box in CR3's `moov` that holds the camera's metadata.
constexpr std::array<std::uint8_t, 16> kCanonUuid = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                                     0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

// The top-level box of CR3's large preview.
constexpr std::array<std::uint8_t, 16> kPreviewUuid = {0xea, 0xf4, 0x2b, 0x5e, 0x1c, 0x98, 0x4b, 0x88,
                                                       0xb9, 0xfb, 0xb7, 0xdc, 0x40, 0x6e, 0x4d, 0x16};
constexpr std::uint32_t kPrvw = FourCc("PRVW");

constexpr std::string_view kXmpContentType = "application/rdf+xml";

// The brands each format declares in `ftyp`.
struct Brand {
  std::uint32_t code;
  XpPhotoFormat format;
};
constexpr Brand kBrands[] = {
    {FourCc("crx "), XpPhotoFormat::Cr3},  {FourCc("heic"), XpPhotoFormat::Heic}, {FourCc("heix"), XpPhotoFormat::Heic},
    {FourCc("heim"), XpPhotoFormat::Heic}, {FourCc("heis"), XpPhotoFormat::Heic}, {FourCc("hevc"), XpPhotoFormat::Heic},
    {FourCc("hevx"), XpPhotoFormat::Heic}, {FourCc("avif"), XpPhotoFormat::Avif}, {FourCc("avis"), XpPhotoFormat::Avif},
    {FourCc("mif1"), XpPhotoFormat::Heif}, {FourCc("msf1"), XpPhotoFormat::Heif},
};

XpPhotoFormat FormatOfBrand(std::uint32_t code) {
  for (const Brand& brand : kBrands) {
    if (brand.code == code) {
      return brand.format;
    }
  }
  return XpPhotoFormat::Unknown;
}

// A table box's payload, read into memory with a cursor that never reads past it.
class Table {
 public:
  [[nodiscard]] XpStatus Load(XpAbstractFile& file, const Box& box) {
    const std::int64_t length = box.end - box.payload;
    if (length > kMaxTableBytes) {
      return XpStatus::PhotoContainerDamaged;
    }
    try {
      m_bytes.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
      return XpStatus::OutOfMemory;
    }
    return ReadAt(file, box.payload, m_bytes, box.end);
  }

  [[nodiscard]] bool Number(unsigned size, std::uint64_t* out) {
    if (size > 8 || m_at + size > m_bytes.size()) {
      return false;
    }
    *out = XpBytes::GetN(m_bytes, m_at, size, kBigEndian);
    m_at += size;
    return true;
  }
  [[nodiscard]] bool Skip(std::size_t count) {
    if (count > m_bytes.size() - m_at) {
      return false;
    }
    m_at += count;
    return true;
  }
  // A NUL-terminated text; false when the payload ends first.
  [[nodiscard]] bool Text(std::string_view* out) {
    const std::uint8_t* begin = m_bytes.data() + m_at;
    const std::uint8_t* end = m_bytes.data() + m_bytes.size();
    const std::uint8_t* nul = std::find(begin, end, std::uint8_t{0});
    if (nul == end) {
      return false;
    }
    *out = std::string_view(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(nul - begin));
    m_at += static_cast<std::size_t>(nul - begin) + 1;
    return true;
  }
  [[nodiscard]] std::size_t Position() const { return m_at; }
  [[nodiscard]] std::size_t Size() const { return m_bytes.size(); }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_at = 0;
};

// Calls `visit(box)` for each box in [begin, end) until it answers false;
// 0x8621 for more than kMaxBoxes boxes or a box that breaks its bounds.
template <typename Visit>
XpStatus ForEachBox(XpAbstractFile& file, std::int64_t begin, std::int64_t end, Visit visit) {
  std::int64_t at = begin;
  for (int count = 0; at < end; ++count) {
    if (count >= kMaxBoxes) {
      return XpStatus::PhotoContainerDamaged;
    }
    // Fewer than 8 bytes left over is padding some writers leave.
    if (end - at < 8) {
      return XpStatus::Ok;
    }
    Box box;
    if (auto st = ReadBox(file, at, end, &box); st != XpStatus::Ok) {
      return st;
    }
    bool goOn = true;
    if (auto st = visit(box, &goOn); st != XpStatus::Ok || !goOn) {
      return st;
    }
    at = box.end;
  }
  return XpStatus::Ok;
}

struct Item {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  bool isXmp = false;
  bool describesPrimary = false;
};

struct Location {
  std::uint32_t id = 0;
  std::uint64_t method = 0;
  std::uint64_t base = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool single = false;  // exactly one extent
};

struct HeifMeta {
  std::uint32_t primary = 0;
  bool hasPrimary = false;
  std::vector<Item> items;  // only Exif, XMP, grid and overlay items are kept
  std::vector<Location> locations;
  Box idat;
  bool hasIdat = false;
  // Some item other than Exif or XMP (a picture, a tile, a thumbnail) has no
  // extent or an extent of length 0: decoders given such an item get no bytes.
  bool emptyPictureItem = false;
  Box iprp;
  bool hasIprp = false;
};

// Items kept from `iinf`: a file with more metadata items than this is not
// one a camera wrote.
constexpr std::size_t kMaxKeptItems = 256;

XpStatus ReadInfe(XpAbstractFile& file, const Box& box, HeifMeta* meta) {
  Table t;
  if (auto st = t.Load(file, box); st != XpStatus::Ok) {
    return st;
  }
  std::uint64_t versionFlags = 0;
  if (!t.Number(4, &versionFlags)) {
    return XpStatus::PhotoContainerDamaged;
  }
  const auto version = static_cast<unsigned>(versionFlags >> 24);
  // Versions 0 and 1 name no item type; they carry no Exif or XMP item.
  if (version < 2) {
    return XpStatus::Ok;
  }
  Item item;
  std::uint64_t id = 0;
  std::uint64_t type = 0;
  std::string_view name;
  if (!t.Number(version == 2 ? 2 : 4, &id) || !t.Skip(2) || !t.Number(4, &type) || !t.Text(&name)) {
    return XpStatus::PhotoContainerDamaged;
  }
  item.id = static_cast<std::uint32_t>(id);
  item.type = static_cast<std::uint32_t>(type);
  if (item.type == kMime) {
    std::string_view contentType;
    if (!t.Text(&contentType)) {
      return XpStatus::PhotoContainerDamaged;
    }
    item.isXmp = contentType == kXmpContentType;
  }
  // Grids and overlays are kept too: their data gives the size of the
  // canvas a decoder would allocate.
  if ((item.type == kExif || item.isXmp || item.type == kGrid || item.type == kIovl) &&
      meta->items.size() < kMaxKeptItems) {
    meta->items.push_back(item);
  }
  return XpStatus::Ok;
}

XpStatus ReadIinf(XpAbstractFile& file, const Box& box, HeifMeta* meta) {
  std::array<std::uint8_t, 4> head{};
  if (auto st = ReadAt(file, box.payload, head, box.end); st != XpStatus::Ok) {
    return st;
  }
  const std::int64_t countSize = head[0] == 0 ? 2 : 4;
  return ForEachBox(file, box.payload + 4 + countSize, box.end, [&](const Box& child, bool*) {
    return child.type == kInfe ? ReadInfe(file, child, meta) : XpStatus::Ok;
  });
}

XpStatus ReadIloc(XpAbstractFile& file, const Box& box, HeifMeta* meta) {
  Table t;
  if (auto st = t.Load(file, box); st != XpStatus::Ok) {
    return st;
  }
  std::uint64_t versionFlags = 0;
  std::uint64_t sizes = 0;
  if (!t.Number(4, &versionFlags) || !t.Number(2, &sizes)) {
    return XpStatus::PhotoContainerDamaged;
  }
  const auto version = static_cast<unsigned>(versionFlags >> 24);
  if (version > 2) {
    return XpStatus::PhotoContainerDamaged;
  }
  const auto offsetSize = static_cast<unsigned>((sizes >> 12) & 0xF);
  const auto lengthSize = static_cast<unsigned>((sizes >> 8) & 0xF);
  const auto baseSize = static_cast<unsigned>((sizes >> 4) & 0xF);
  const auto indexSize = version >= 1 ? static_cast<unsigned>(sizes & 0xF) : 0U;
  for (unsigned size : {offsetSize, lengthSize, baseSize, indexSize}) {
    if (size != 0 && size != 4 && size != 8) {
      return XpStatus::PhotoContainerDamaged;
    }
  }
  std::uint64_t count = 0;
  if (!t.Number(version < 2 ? 2 : 4, &count)) {
    return XpStatus::PhotoContainerDamaged;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    Location loc;
    std::uint64_t id = 0;
    std::uint64_t extents = 0;
    if (!t.Number(version < 2 ? 2 : 4, &id)) {
      return XpStatus::PhotoContainerDamaged;
    }
    loc.id = static_cast<std::uint32_t>(id);
    if (version >= 1 && !t.Number(2, &loc.method)) {
      return XpStatus::PhotoContainerDamaged;
    }
    loc.method &= 0xF;
    if (!t.Skip(2) || !t.Number(baseSize, &loc.base) || !t.Number(2, &extents)) {
      return XpStatus::PhotoContainerDamaged;
    }
    loc.single = extents == 1;
    bool empty = extents == 0;
    for (std::uint64_t e = 0; e < extents; ++e) {
      std::uint64_t index = 0;
      std::uint64_t offset = 0;
      std::uint64_t length = 0;
      if (!t.Number(indexSize, &index) || !t.Number(offsetSize, &offset) || !t.Number(lengthSize, &length)) {
        return XpStatus::PhotoContainerDamaged;
      }
      if (e == 0) {
        loc.offset = offset;
        loc.length = length;
      }
      empty = empty || length == 0;
    }
    // Only the locations of kept items are needed; the table is bounded by
    // its box, so this loop ends with it.
    const bool wanted =
        std::any_of(meta->items.begin(), meta->items.end(), [&](const Item& item) { return item.id == loc.id; });
    const bool metadata = std::any_of(meta->items.begin(), meta->items.end(), [&](const Item& item) {
      return item.id == loc.id && (item.type == kExif || item.isXmp);
    });
    meta->emptyPictureItem = meta->emptyPictureItem || (!metadata && empty);
    if (wanted) {
      if (meta->locations.size() >= kMaxKeptItems) {
        return XpStatus::PhotoContainerDamaged;
      }
      meta->locations.push_back(loc);
    }
  }
  return XpStatus::Ok;
}

XpStatus ReadIref(XpAbstractFile& file, const Box& box, HeifMeta* meta) {
  std::array<std::uint8_t, 4> head{};
  if (auto st = ReadAt(file, box.payload, head, box.end); st != XpStatus::Ok) {
    return st;
  }
  const unsigned idSize = head[0] == 0 ? 2 : 4;
  return ForEachBox(file, box.payload + 4, box.end, [&](const Box& ref, bool*) {
    if (ref.type != kCdsc) {
      return XpStatus::Ok;
    }
    Table t;
    if (auto st = t.Load(file, ref); st != XpStatus::Ok) {
      return st;
    }
    std::uint64_t from = 0;
    std::uint64_t count = 0;
    if (!t.Number(idSize, &from) || !t.Number(2, &count)) {
      return XpStatus::PhotoContainerDamaged;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t to = 0;
      if (!t.Number(idSize, &to)) {
        return XpStatus::PhotoContainerDamaged;
      }
      if (meta->hasPrimary && to == meta->primary) {
        for (Item& item : meta->items) {
          item.describesPrimary = item.describesPrimary || item.id == from;
        }
      }
    }
    return XpStatus::Ok;
  });
}

// The bytes of an item with one extent, bounded by the file or by `idat`.
bool ResolveItem(const HeifMeta& meta, std::uint32_t id, std::int64_t fileLength, XpByteRange* out) {
  const auto loc =
      std::find_if(meta.locations.begin(), meta.locations.end(), [&](const Location& l) { return l.id == id; });
  if (loc == meta.locations.end() || !loc->single || loc->method > 1) {
    return false;
  }
  std::int64_t begin = 0;
  std::int64_t end = fileLength;
  if (loc->method == 1) {
    if (!meta.hasIdat) {
      return false;
    }
    begin = meta.idat.payload;
    end = meta.idat.end;
  }
  std::uint64_t offset = 0;
  if (__builtin_add_overflow(loc->base, loc->offset, &offset) || offset > static_cast<std::uint64_t>(end - begin)) {
    return false;
  }
  const auto start = begin + static_cast<std::int64_t>(offset);
  // A length of 0 means the rest of the file (or of `idat`).
  const std::uint64_t length = loc->length == 0 ? static_cast<std::uint64_t>(end - start) : loc->length;
  if (length > static_cast<std::uint64_t>(end - start)) {
    return false;
  }
  out->offset = start;
  out->length = static_cast<std::int64_t>(length);
  return true;
}

// The TIFF structure of an Exif item: a 4-byte big-endian count of the bytes
// before the TIFF header, then the structure.
bool ExifItemTiff(XpAbstractFile& file, const XpByteRange& item, XpByteRange* tiff) {
  std::array<std::uint8_t, 4> prefix{};
  const std::int64_t end = item.offset + item.length;
  if (ReadAt(file, item.offset, prefix, end) != XpStatus::Ok) {
    return false;
  }
  std::int64_t at = XpFormatReader::Add(item.offset + 4, std::int64_t{Get32(prefix, 0, kBigEndian)});
  std::array<std::uint8_t, 6> head{};
  if (at < 0 || ReadAt(file, at, head, end) != XpStatus::Ok) {
    return false;
  }
  // Some writers give an offset of 0 and still put the identifier first.
  if (std::memcmp(head.data(), "Exif\0\0", 6) == 0) {
    at += 6;
  }
  if (!Inside(at, 8, end)) {
    return false;
  }
  tiff->offset = at;
  tiff->length = end - at;
  return true;
}

}  // namespace

XpStatus ReadBox(XpAbstractFile& file, std::int64_t at, std::int64_t end, Box* box) {
  std::array<std::uint8_t, 16> head{};
  if (auto st = ReadAt(file, at, std::span(head).first(8), end); st != XpStatus::Ok) {
    return st;
  }
  box->start = at;
  box->type = Get32(head, 4, kBigEndian);
  const std::uint32_t size = Get32(head, 0, kBigEndian);
  std::int64_t header = 8;
  std::uint64_t length = size;
  if (size == 1) {
    if (auto st = ReadAt(file, at + 8, std::span(head).subspan(8, 8), end); st != XpStatus::Ok) {
      return st;
    }
    length = Get64(head, 8, kBigEndian);
    header = 16;
  } else if (size == 0) {
    length = static_cast<std::uint64_t>(end - at);
  }
  if (box->type == kUuid) {
    if (auto st = ReadAt(file, at + header, box->uuid, end); st != XpStatus::Ok) {
      return st;
    }
    header += 16;
  }
  if (length < static_cast<std::uint64_t>(header) || length > static_cast<std::uint64_t>(end - at)) {
    return XpStatus::PhotoContainerDamaged;
  }
  box->payload = at + header;
  box->end = at + static_cast<std::int64_t>(length);
  return XpStatus::Ok;
}

XpPhotoFormat SniffBrand(std::span<const std::uint8_t> prefix) {
  if (prefix.size() < 16 || Get32(prefix, 4, kBigEndian) != kFtyp) {
    return XpPhotoFormat::Unknown;
  }
  const std::size_t size = std::min<std::size_t>(Get32(prefix, 0, kBigEndian), prefix.size());
  if (size < 16) {
    return XpPhotoFormat::Unknown;
  }
  if (auto format = FormatOfBrand(Get32(prefix, 8, kBigEndian)); format != XpPhotoFormat::Unknown) {
    return format;
  }
  // A general major brand: the first compatible brand this program reads,
  // the specific ones before the general HEIF ones.
  XpPhotoFormat found = XpPhotoFormat::Unknown;
  for (std::size_t at = 16; at + 4 <= size; at += 4) {
    const XpPhotoFormat format = FormatOfBrand(Get32(prefix, at, kBigEndian));
    if (format != XpPhotoFormat::Unknown && (found == XpPhotoFormat::Unknown || found == XpPhotoFormat::Heif)) {
      found = format;
    }
  }
  return found;
}

namespace {

/// The first top-level box of `type`: 0x8601 when the file has none, the
/// walk's status when it stopped at damage before finding one.
[[nodiscard]] XpStatus FindTopLevelBox(XpAbstractFile& file, std::uint32_t type, Box* out) {
  bool found = false;
  const XpStatus st = ForEachBox(file, 0, file.GetLength(), [&](const Box& box, bool* goOn) {
    if (box.type == type) {
      *out = box;
      found = true;
      *goOn = false;
    }
    return XpStatus::Ok;
  });
  if (found) {
    return XpStatus::Ok;
  }
  return st != XpStatus::Ok ? st : XpStatus::NoExif;
}

}  // namespace

namespace {

// The boxes of the file's `meta`: `pitm`, the Exif and XMP items of `iinf`,
// `iloc` (read when `readLocations` or when there are items to find),
// `iref`, `idat`.
[[nodiscard]] XpStatus ReadHeifMeta(XpAbstractFile& file, bool readLocations, HeifMeta* meta) {
  Box metaBox;
  if (auto st = FindTopLevelBox(file, kMeta, &metaBox); st != XpStatus::Ok) {
    return st;
  }
  // `meta` is a full box; a writer that leaves out its version field puts
  // `hdlr` right at the payload.
  std::array<std::uint8_t, 8> head{};
  if (auto st = ReadAt(file, metaBox.payload, head, metaBox.end); st != XpStatus::Ok) {
    return st;
  }
  const std::int64_t children = metaBox.payload + (Get32(head, 4, kBigEndian) == kHdlr ? 0 : 4);

  Box iloc;
  Box iref;
  bool hasIloc = false;
  bool hasIref = false;
  // `iinf` may follow `iloc` and `iref`: those two are read once the items are known.
  if (auto st =
          ForEachBox(file, children, metaBox.end,
                     [&](const Box& box, bool*) {
                       switch (box.type) {
                         case kPitm: {
                           std::array<std::uint8_t, 8> p{};
                           const std::int64_t n = std::min<std::int64_t>(8, box.end - box.payload);
                           if (n < 6 || ReadAt(file, box.payload, std::span(p).first(n), box.end) != XpStatus::Ok) {
                             return XpStatus::PhotoContainerDamaged;
                           }
                           meta->primary = p[0] == 0 ? Get16(p, 4, kBigEndian) : (n < 8 ? 0 : Get32(p, 4, kBigEndian));
                           meta->hasPrimary = true;
                           return XpStatus::Ok;
                         }
                         case kIinf:
                           return ReadIinf(file, box, meta);
                         case kIloc:
                           iloc = box;
                           hasIloc = true;
                           return XpStatus::Ok;
                         case kIref:
                           iref = box;
                           hasIref = true;
                           return XpStatus::Ok;
                         case kIdat:
                           meta->idat = box;
                           meta->hasIdat = true;
                           return XpStatus::Ok;
                         case kIprp:
                           meta->iprp = box;
                           meta->hasIprp = true;
                           return XpStatus::Ok;
                         default:
                           return XpStatus::Ok;
                       }
                     });
      st != XpStatus::Ok) {
    return st;
  }
  if (!hasIloc || (meta->items.empty() && !readLocations)) {
    return XpStatus::Ok;
  }
  if (auto st = ReadIloc(file, iloc, meta); st != XpStatus::Ok) {
    return st;
  }
  if (hasIref) {
    return ReadIref(file, iref, meta);
  }
  return XpStatus::Ok;
}

}  // namespace

namespace {

[[nodiscard]] bool WithinPixels(std::uint64_t width, std::uint64_t height, std::int64_t maxPixels) {
  const auto bound = static_cast<std::uint64_t>(maxPixels);
  std::uint64_t pixels = 0;
  return width <= bound && height <= bound && !__builtin_mul_overflow(width, height, &pixels) && pixels <= bound;
}

// The canvas of a grid or overlay item: its output width and height, 16 or
// 32 bits each by flag 1, after the grid's rows and columns or the overlay's
// four 16-bit fill values.
[[nodiscard]] XpStatus CanvasWithin(XpAbstractFile& file, const Item& item, const XpByteRange& bytes,
                                    std::int64_t maxPixels) {
  std::array<std::uint8_t, 18> data{};
  const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(data.size()), bytes.length);
  if (n < 2 || ReadAt(file, bytes.offset, std::span(data).first(static_cast<std::size_t>(n)),
                      bytes.offset + bytes.length) != XpStatus::Ok) {
    return XpStatus::PhotoContainerDamaged;
  }
  const unsigned field = (data[1] & 1) != 0 ? 4 : 2;
  const std::size_t at = item.type == kGrid ? 4 : 10;
  if (at + 2 * field > static_cast<std::size_t>(n)) {
    return XpStatus::PhotoContainerDamaged;
  }
  const std::uint64_t width = XpBytes::GetN(data, at, field, kBigEndian);
  const std::uint64_t height = XpBytes::GetN(data, at + field, field, kBigEndian);
  return WithinPixels(width, height, maxPixels) ? XpStatus::Ok : XpStatus::PictureTooLarge;
}

// Every `ispe` (image spatial extents) property of `ipco`.
[[nodiscard]] XpStatus ExtentsWithin(XpAbstractFile& file, const Box& iprp, std::int64_t maxPixels) {
  return ForEachBox(file, iprp.payload, iprp.end, [&](const Box& ipco, bool*) {
    if (ipco.type != kIpco) {
      return XpStatus::Ok;
    }
    return ForEachBox(file, ipco.payload, ipco.end, [&](const Box& property, bool*) {
      if (property.type != kIspe) {
        return XpStatus::Ok;
      }
      std::array<std::uint8_t, 12> extent{};
      if (ReadAt(file, property.payload, extent, property.end) != XpStatus::Ok) {
        return XpStatus::PhotoContainerDamaged;
      }
      return WithinPixels(Get32(extent, 4, kBigEndian), Get32(extent, 8, kBigEndian), maxPixels)
                 ? XpStatus::Ok
                 : XpStatus::PictureTooLarge;
    });
  });
}

}  // namespace

XpStatus CheckHeifPictureItems(XpAbstractFile& file, std::int64_t maxPixels) {
  HeifMeta meta;
  if (auto st = ReadHeifMeta(file, true, &meta); st != XpStatus::Ok) {
    return st;
  }
  if (meta.emptyPictureItem) {
    return XpStatus::PhotoContainerDamaged;
  }
  for (const Item& item : meta.items) {
    if (item.type != kGrid && item.type != kIovl) {
      continue;
    }
    XpByteRange bytes;
    if (!ResolveItem(meta, item.id, file.GetLength(), &bytes)) {
      return XpStatus::PhotoContainerDamaged;
    }
    if (auto st = CanvasWithin(file, item, bytes, maxPixels); st != XpStatus::Ok) {
      return st;
    }
  }
  return meta.hasIprp ? ExtentsWithin(file, meta.iprp, maxPixels) : XpStatus::Ok;
}

XpStatus LocateHeif(XpAbstractFile& file, XpPhotoLayout* layout) {
  const std::int64_t length = file.GetLength();
  HeifMeta meta;
  if (auto st = ReadHeifMeta(file, false, &meta); st != XpStatus::Ok) {
    return st;
  }
  if (meta.items.empty()) {
    return XpStatus::Ok;
  }
  // The Exif item that describes the primary item first, then the others in file order.
  std::vector<const Item*> exif;
  for (const Item& item : meta.items) {
    if (item.type == kExif) {
      exif.push_back(&item);
    }
  }
  std::stable_partition(exif.begin(), exif.end(), [](const Item* item) { return item->describesPrimary; });
  for (const Item* item : exif) {
    XpByteRange bytes;
    if (ResolveItem(meta, item->id, length, &bytes) && ExifItemTiff(file, bytes, &layout->tiff)) {
      break;
    }
  }
  for (const Item& item : meta.items) {
    if (item.isXmp && ResolveItem(meta, item.id, length, &layout->xmp)) {
      break;
    }
  }
  return XpStatus::Ok;
}

namespace {

// The JPEG of a PRVW box: after 16 bytes (4 and 2 unknown bytes, width,
// height, 2 unknown bytes, the JPEG's length).
[[nodiscard]] XpByteRange PreviewJpeg(XpAbstractFile& file, const Box& box) {
  std::array<std::uint8_t, 16> head{};
  if (ReadAt(file, box.payload, head, box.end) == XpStatus::Ok) {
    const std::int64_t size = Get32(head, 12, kBigEndian);
    if (size > 0 && Inside(box.payload + 16, size, box.end)) {
      return {box.payload + 16, size};
    }
  }
  return {};
}

// CR3's large preview: a top-level uuid box holding 8 bytes, then the PRVW
// box. A damaged or missing one is simply not there.
void FindLargePreview(XpAbstractFile& file, XpPhotoLayout* layout) {
  (void)ForEachBox(file, 0, file.GetLength(), [&](const Box& box, bool* goOn) {
    if (box.type != kUuid || box.uuid != kPreviewUuid || box.end - box.payload < 8) {
      return XpStatus::Ok;
    }
    *goOn = false;
    return ForEachBox(file, box.payload + 8, box.end, [&](const Box& child, bool* more) {
      if (child.type == kPrvw) {
        layout->largeJpeg = PreviewJpeg(file, child);
        *more = false;
      }
      return XpStatus::Ok;
    });
  });
}

}  // namespace

XpStatus LocateCr3(XpAbstractFile& file, XpPhotoLayout* layout) {
  Box moov;
  if (auto st = FindTopLevelBox(file, kMoov, &moov); st != XpStatus::Ok) {
    return st;
  }
  FindLargePreview(file, layout);
  return ForEachBox(file, moov.payload, moov.end, [&](const Box& box, bool* goOn) {
    if (box.type != kUuid || box.uuid != kCanonUuid) {
      return XpStatus::Ok;
    }
    *goOn = false;
    return ForEachBox(file, box.payload, box.end, [&](const Box& child, bool*) {
      const XpByteRange payload{child.payload, child.end - child.payload};
      switch (child.type) {
        case kCmt1:
          layout->tiff = payload;
          break;
        case kCmt2:
          layout->exifDirectory = payload;
          break;
        case kCmt4:
          layout->gpsDirectory = payload;
          break;
        case kThmb: {
          // Version and flags, width, height, the JPEG's length, 4 more bytes, then the JPEG.
          std::array<std::uint8_t, 16> head{};
          if (ReadAt(file, child.payload, head, child.end) == XpStatus::Ok) {
            const std::int64_t size = Get32(head, 8, kBigEndian);
            if (Inside(child.payload + 16, size, child.end)) {
              layout->jpeg = {child.payload + 16, size};
            }
          }
          break;
        }
        default:
          break;
      }
      return XpStatus::Ok;
    });
  });
}

}  // namespace XpIsoBmff
