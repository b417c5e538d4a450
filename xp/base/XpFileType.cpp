#include "xp/base/XpFileType.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gif_lib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "xp/base/XpFileRead.h"
#include "xp/base/XpFileSystem.h"
#include "xp/base/XpPath.h"
#include "xp/base/XpSpecialFolder.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using namespace XpFileTypes;

bool ExtensionIs(std::string_view extension, std::string_view wanted) {
  return extension.size() == wanted.size() && ::strncasecmp(extension.data(), wanted.data(), wanted.size()) == 0;
}

// The first `limit` bytes of a regular file (fewer when it is shorter); false
// when it can't be opened or is no regular file.
bool ReadPrefix(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out) {
  out.clear();
  XpUniqueFd fd;
  if (XpOpenRegularFile(path, &fd) != XpStatus::Ok) {
    return false;
  }
  out.resize(limit);
  const ssize_t got = XpReadFully(fd.Get(), out.data(), out.size());
  out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return got >= 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Depth-first search for the first entry with `tag`, descending into every
// child directory (the tree's own depth limit bounds the recursion).
const XpTiffTagDataBase* FindInAllDirectories(const XpTiffTagIFD& ifd, std::uint16_t tag) {
  for (const auto& entry : ifd.Entries()) {
    if (entry->GetTag() == tag) {
      return entry.get();
    }
    if (entry->IsIFD()) {
      for (const auto& child : static_cast<const XpTiffTagDataIFD&>(*entry).Children()) {
        if (const XpTiffTagDataBase* found = FindInAllDirectories(*child, tag); found != nullptr) {
          return found;
        }
      }
    }
  }
  return nullptr;
}

FileTypeCode CheckJpeg(const std::string& path) {
  // The reader opens the file itself; only a regular file is handed to it so
  // that a FIFO or a device named ".jpg" can't stall the caller.
  if (!IsRegularFile(path)) {
    return kJpeg;
  }
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return kJpeg;
  }
  TagTreePtr tree;
  if (XpJpegExif::ReadTagTree(file, &tree, 0) != XpStatus::Ok || !tree) {
    return kJpeg;
  }
  const XpTiffTagIFD* exif = tree->GetExifIFD();
  const XpTiffTagDataBase* makerNote = exif == nullptr ? nullptr : exif->Find(kTagMakerNote);
  if (makerNote == nullptr || !makerNote->IsIFD()) {
    return kJpeg;
  }
  const XpTiffTagIFD* first = static_cast<const XpTiffTagDataIFD*>(makerNote)->GetChild(0);
  if (first == nullptr) {
    return kJpeg;
  }
  const XpTiffTagDataBase* mark = FindInAllDirectories(*first, kTagMakerMark);
  if (mark == nullptr || mark->GetType() != kTiffTypeUndefined || mark->Bytes().empty() || mark->Bytes()[0] == 0) {
    return kJpeg;
  }
  return kJpegMarked;
}

// giflib reads through this, so that the walk uses the descriptor opened
// without blocking.
int ReadGifBytes(GifFileType* gif, GifByteType* out, int count) {
  if (count <= 0) {
    return 0;
  }
  const auto* fd = static_cast<const XpUniqueFd*>(gif->UserData);
  const ssize_t got = XpReadFully(fd->Get(), out, static_cast<std::size_t>(count));
  return got < 0 ? 0 : static_cast<int>(got);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    (void)DGifCloseFile(gif, &error);
  }
};

FileTypeCode CheckGif(const std::string& path) {
  XpUniqueFd fd;
  if (XpOpenRegularFile(path, &fd) != XpStatus::Ok) {
    return kUnknown;
  }
  int error = 0;
  // giflib takes the user pointer as non-const; it only hands it back to ReadGifBytes.
  const std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&fd, ReadGifBytes, &error));
  if (!gif) {
    return kUnknown;
  }
  FileTypeCode result = kGif;
  GifRecordType record = UNDEFINED_RECORD_TYPE;
  // The library keeps a record of every image it passes; a hostile file with
  // endless tiny frames must not make that grow without bound.
  constexpr int kMaxImages = 65536;
  int images = 0;
  while (result == kGif && record != TERMINATE_RECORD_TYPE && images < kMaxImages) {
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
      break;
    }
    if (record == IMAGE_DESC_RECORD_TYPE) {
      ++images;
      if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
        break;
      }
      int codeSize = 0;
      GifByteType* block = nullptr;
      if (DGifGetCode(gif.get(), &codeSize, &block) == GIF_ERROR) {
        break;
      }
      while (block != nullptr) {
        if (DGifGetCodeNext(gif.get(), &block) == GIF_ERROR) {
          return result;
        }
      }
    } else if (record == EXTENSION_RECORD_TYPE) {
      int label = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &label, &block) == GIF_ERROR) {
        break;
      }
      // A graphic control block: length, flags, then the two delay bytes.
      if (label == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 3 && (block[2] != 0 || block[3] != 0)) {
        result = kAnimatedGif;
        break;
      }
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
          return result;
        }
      }
    }
  }
  return result;
}

// The MP4 parser plug-in, loaded once per process on the first ".mp4".
class Mp4Parser {
 public:
  static XpMp4GetFormatType Get() {
    static Mp4Parser parser;
    std::call_once(parser.m_once, [] { parser.Load(); });
    return parser.m_getFormatType;
  }

 private:
  Mp4Parser() = default;
  ~Mp4Parser() = default;  // the library stays loaded for the life of the process

  void Load() {
    const std::string folder = XpGetSpecialFolder(XpSpecialFolder::ProgramFolder);
    if (folder.empty()) {
      return;
    }
    const std::string library = XpJoinPath(folder, kXpMp4ParserLibrary);
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      return;
    }
    void* symbol = ::dlsym(handle, "GetFormatType");
    if (symbol == nullptr) {
      ::dlclose(handle);
      return;
    }
    m_getFormatType = reinterpret_cast<XpMp4GetFormatType>(symbol);
  }

  std::once_flag m_once;
  XpMp4GetFormatType m_getFormatType = nullptr;
};

// Bounds-checked reads over a file prefix.
class Bytes {
 public:
  explicit Bytes(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  [[nodiscard]] bool Has(std::uint64_t offset, std::uint64_t count) const {
    std::uint64_t end = 0;
    return !__builtin_add_overflow(offset, count, &end) && end <= m_bytes.size();
  }
  [[nodiscard]] bool Is(std::uint64_t offset, std::string_view text) const {
    return Has(offset, text.size()) && std::memcmp(m_bytes.data() + offset, text.data(), text.size()) == 0;
  }
  [[nodiscard]] bool U8(std::uint64_t offset, std::uint32_t* out) const {
    if (!Has(offset, 1)) {
      return false;
    }
    *out = m_bytes[offset];
    return true;
  }
  [[nodiscard]] bool U32Le(std::uint64_t offset, std::uint64_t* out) const {
    if (!Has(offset, 4)) {
      return false;
    }
    const std::uint8_t* p = m_bytes.data() + offset;
    *out = static_cast<std::uint64_t>(p[0]) | static_cast<std::uint64_t>(p[1]) << 8 |
           static_cast<std::uint64_t>(p[2]) << 16 | static_cast<std::uint64_t>(p[3]) << 24;
    return true;
  }
  [[nodiscard]] std::size_t Size() const { return m_bytes.size(); }
  [[nodiscard]] std::span<const std::uint8_t> Sub(std::size_t offset, std::size_t count) const {
    return m_bytes.subspan(offset, count);
  }

 private:
  std::span<const std::uint8_t> m_bytes;
};

// Looks for the registration descriptor in one transport-stream packet; 0 when
// this packet decides nothing.
FileTypeCode CheckTransportPacket(const Bytes& p) {
  std::uint32_t b1 = 0;
  std::uint32_t b2 = 0;
  std::uint32_t b3 = 0;
  if (!p.Is(0, "\x47") || !p.U8(1, &b1) || !p.U8(2, &b2) || !p.U8(3, &b3)) {
    return 0;
  }
  const std::uint32_t pid = ((b1 & 0x1F) << 8) | b2;
  if ((pid != 0x0081 && pid != 0x0100) || (b1 & 0x40) == 0) {
    return 0;
  }
  std::uint64_t payload = 0;
  switch ((b3 >> 4) & 3) {
    case 1:
      payload = 4;
      break;
    case 3: {
      std::uint32_t adaptationLength = 0;
      if (!p.U8(4, &adaptationLength)) {
        return 0;
      }
      payload = 5 + adaptationLength;
      break;
    }
    default:
      return 0;
  }
  // The first section follows the pointer field and the bytes it skips.
  std::uint32_t pointer = 0;
  if (!p.U8(payload, &pointer)) {
    return 0;
  }
  std::uint64_t section = payload + 1 + pointer;
  constexpr std::uint64_t kSectionLimit = 170;
  while (section < kSectionLimit) {
    std::uint32_t tableId = 0;
    std::uint32_t lengthHigh = 0;
    std::uint32_t lengthLow = 0;
    std::uint32_t sectionNumber = 0;
    std::uint32_t lastSectionNumber = 0;
    if (!p.U8(section, &tableId) || !p.U8(section + 1, &lengthHigh) || !p.U8(section + 2, &lengthLow) ||
        !p.U8(section + 6, &sectionNumber) || !p.U8(section + 7, &lastSectionNumber)) {
      return 0;
    }
    std::uint32_t infoHigh = 0;
    std::uint32_t infoLow = 0;
    std::uint32_t descriptorTag = 0;
    std::uint32_t descriptorLength = 0;
    if (tableId == 2 && p.U8(section + 10, &infoHigh) && p.U8(section + 11, &infoLow) &&
        (((infoHigh & 0x0F) << 8) | infoLow) >= 2 && p.U8(section + 12, &descriptorTag) &&
        p.U8(section + 13, &descriptorLength) && descriptorTag == 5) {
      if (descriptorLength == 11 && p.Is(section + 14, "TSHV")) {
        return kMpeg2TransportTshv;
      }
      if (descriptorLength == 4 && p.Is(section + 14, "HDMV")) {
        return kMpeg2TransportHdmv;
      }
    }
    if (sectionNumber >= lastSectionNumber) {
      return 0;
    }
    // The section length counts the bytes after the three-byte section header.
    section += 3 + (((lengthHigh & 0x0F) << 8) | lengthLow);
  }
  return 0;
}

}  // namespace

namespace XpFileTypeChecks {

FileTypeCode MpegProgramStream(std::span<const std::uint8_t> prefix) {
  if (prefix.size() < 5 || prefix[0] != 0x00 || prefix[1] != 0x00 || prefix[2] != 0x01 || prefix[3] != 0xBA) {
    return kUnknown;
  }
  if ((prefix[4] & 0x20) != 0) {
    return kMpeg1Program;
  }
  if ((prefix[4] & 0x40) != 0) {
    return kMpeg2Program;
  }
  return kUnknown;
}

FileTypeCode TransportStream(std::span<const std::uint8_t> prefix) {
  const Bytes bytes(prefix);
  constexpr std::size_t kSyncWindow = 960;
  constexpr std::size_t kLastSyncOffset = 575;
  std::size_t packetSize = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= kLastSyncOffset && i < kSyncWindow && i < bytes.Size(); ++i) {
    if (prefix[i] != 0x47) {
      continue;
    }
    if (i + 376 < kSyncWindow && bytes.Is(i + 188, "\x47") && bytes.Is(i + 376, "\x47")) {
      packetSize = 188;
    } else if (i + 384 < kSyncWindow && bytes.Is(i + 192, "\x47") && bytes.Is(i + 384, "\x47")) {
      packetSize = 192;
    } else {
      break;  // the first sync byte that starts no run of packets ends the search
    }
    start = i;
    break;
  }
  if (packetSize == 0) {
    return kUnknown;
  }
  for (std::size_t position = start;; position += packetSize) {
    const std::size_t end = position + packetSize;
    if (end > bytes.Size() || end >= kTransportStreamLimit) {
      return kUnknown;
    }
    if (const FileTypeCode code = CheckTransportPacket(Bytes(bytes.Sub(position, packetSize))); code != 0) {
      return code;
    }
  }
}

FileTypeCode Avi(std::span<const std::uint8_t> prefix) {
  const Bytes b(prefix.first(std::min(prefix.size(), kAviPrefix)));
  if (!b.Is(0, "RIFF") || !b.Is(8, "AVI") || !b.Is(12, "LIST") || !b.Is(20, "hdrl") || !b.Is(24, "avih")) {
    return kUnknown;
  }
  std::uint64_t a = 0;
  if (!b.U32Le(28, &a) || a + 56 > 996) {
    return kUnknown;
  }
  if (!b.Is(32 + a, "LIST") || !b.Is(40 + a, "strl") || !b.Is(44 + a, "strh") || !b.Is(52 + a, "vids")) {
    return kUnknown;
  }
  if (b.Is(56 + a, "dvsd")) {
    return kAviDv;
  }
  if (!b.Is(56 + a, "MJPG") && !b.Is(56 + a, "mjpg")) {
    return kUnknown;
  }

  // The stream name that the maker's cameras write after the format chunks.
  const auto streamNameMarked = [&b, a]() {
    std::uint64_t streamHeaderSize = 0;
    if (!b.U32Le(48 + a, &streamHeaderSize)) {
      return false;
    }
    std::uint64_t o = 52 + a + streamHeaderSize;
    std::uint64_t size = 0;
    if (o > 996 || !b.Is(o, "strf") || !b.U32Le(o + 4, &size)) {
      return false;
    }
    o += 8 + size;
    if (o > 996 || !b.Is(o, "strd") || !b.U32Le(o + 4, &size)) {
      return false;
    }
    o += 8 + size;
    return o + 8 <= 985 && b.Is(o, "strn") && b.Is(o + 8, std::string_view("ARDO DSC MOVIE\0", 15));
  };
  if (streamNameMarked()) {
    return kAviMakerMotionJpeg;
  }

  // Otherwise the software tag of the INFO list after the header list.
  std::uint64_t h = 0;
  if (!b.U32Le(16, &h) || h + 40 > 980) {
    return kUnknown;
  }
  if (b.Is(20 + h, "LIST") && b.Is(28 + h, "INFO") && b.Is(32 + h, "ISFT") && b.Is(40 + h, "ARDO DSC MJPEG ")) {
    return kAviMakerMotionJpeg;
  }
  return kUnknown;
}

FileTypeCode Mp4(const std::string& path, XpMp4GetFormatType getFormatType) {
  if (getFormatType == nullptr) {
    return kUnknown;
  }
  switch (getFormatType(path.c_str())) {
    case 1:
      return kMp4Format1;
    case 2:
      return kMp4Format2;
    default:
      return kUnknown;
  }
}

}  // namespace XpFileTypeChecks

namespace {

FileTypeCode CheckMpegProgram(const std::string& path) {
  std::vector<std::uint8_t> prefix;
  return ReadPrefix(path, 5, prefix) ? XpFileTypeChecks::MpegProgramStream(prefix) : kUnknown;
}

FileTypeCode CheckTransportStream(const std::string& path) {
  std::vector<std::uint8_t> prefix;
  return ReadPrefix(path, XpFileTypeChecks::kTransportStreamLimit, prefix) ? XpFileTypeChecks::TransportStream(prefix)
                                                                           : kUnknown;
}

FileTypeCode CheckMp4(const std::string& path) { return XpFileTypeChecks::Mp4(path, Mp4Parser::Get()); }

FileTypeCode CheckAvi(const std::string& path) {
  std::vector<std::uint8_t> prefix;
  return ReadPrefix(path, XpFileTypeChecks::kAviPrefix, prefix) ? XpFileTypeChecks::Avi(prefix) : kUnknown;
}

// Every extension the classifiers know, with both of their answers. A row
// with a content check answers what the check finds; one without answers its
// content code. A folder is told apart before the table is consulted.
constexpr std::array kFileTypes{
    XpFileTypeEntry{".jpg", kJpegByExtension, kJpeg, CheckJpeg},
    XpFileTypeEntry{".jpeg", kJpegByExtension, kJpeg, nullptr},
    XpFileTypeEntry{".jpe", kJpegByExtension, kJpeg, nullptr},
    XpFileTypeEntry{".thm", kThumbnail, kThumbnail, nullptr},
    XpFileTypeEntry{".sr2", kRawSr2, kRawSr2, nullptr},
    XpFileTypeEntry{".srf", kRawSrf, kRawSrf, nullptr},
    XpFileTypeEntry{".arw", kRawArw, kRawArw, nullptr},
    XpFileTypeEntry{".mrw", kRawMrw, kRawMrw, nullptr},
    XpFileTypeEntry{".tiff", kTiff, kTiff, nullptr},
    XpFileTypeEntry{".tif", kTiff, kTiff, nullptr},
    XpFileTypeEntry{".gif", kGif, kUnknown, CheckGif},
    // A movie's management file is known to the content classifier only.
    XpFileTypeEntry{".modd", kUnknown, kModd, nullptr},
    XpFileTypeEntry{".mpg", kMpegByExtension, kUnknown, CheckMpegProgram},
    XpFileTypeEntry{".mpeg", kMpegByExtension, kUnknown, CheckMpegProgram},
    XpFileTypeEntry{".m2p", kMpeg2ByExtension, kMpeg2Program, nullptr},
    XpFileTypeEntry{".m2t", kMpeg2ByExtension, kUnknown, CheckTransportStream},
    XpFileTypeEntry{".mts", kMpeg2ByExtension, kUnknown, CheckTransportStream},
    XpFileTypeEntry{".m2ts", kMpeg2ByExtension, kUnknown, CheckTransportStream},
    XpFileTypeEntry{".mmv", kMmv, kMmv, nullptr},
    XpFileTypeEntry{".mp4", kMp4ByExtension, kUnknown, CheckMp4},
    XpFileTypeEntry{".avi", kAviByExtension, kUnknown, CheckAvi},
    XpFileTypeEntry{".wmv", kWmv, kWmv, nullptr},
};

const XpFileTypeEntry* FindEntry(const std::string& path) {
  const std::string extension = XpGetExtension(path);
  for (const XpFileTypeEntry& entry : kFileTypes) {
    if (ExtensionIs(extension, entry.extension)) {
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace

std::span<const XpFileTypeEntry> XpFileTypeTable() { return kFileTypes; }

FileTypeCode XpGetFileType(const std::string& path) {
  if (XpIsDirectory(path)) {
    return kDirectory;
  }
  const XpFileTypeEntry* entry = FindEntry(path);
  if (entry == nullptr) {
    return kUnknown;
  }
  return entry->check != nullptr ? entry->check(path) : entry->byContent;
}

FileTypeCode XpGetFileTypeFromExtension(const std::string& path) {
  if (XpIsDirectory(path)) {
    return kDirectory;
  }
  const XpFileTypeEntry* entry = FindEntry(path);
  return entry == nullptr ? kUnknown : entry->byExtension;
}
