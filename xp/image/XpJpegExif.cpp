#include "xp/image/XpJpegExif.h"

#include <cstring>
#include <new>

#include "xp/image/XpFile.h"
#include "xp/image/XpJpegSegments.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace XpJpegExif {

namespace {

constexpr std::uint8_t kComment = 0xFE;

bool IsAppMarker(std::uint8_t marker) { return marker >= 0xE0 && marker <= 0xEF; }

// With the stream on the TIFF header of an Exif block (as LocateExif leaves
// it), the bytes of the block from there to the end of its segment: the
// segment length stands 8 bytes before ("Exif", two NULs and the length
// itself). -1 when it cannot be read; the stream is put back either way.
std::int64_t ExifBlockSize(XpAbstractFile& stream) {
  const std::int64_t base = stream.GetPosition();
  std::uint8_t length[2];
  if (base < 8 || stream.Seek(base - 8, XpAbstractFile::kBegin) != XpStatus::Ok ||
      stream.ReadExact(length, 2) != XpStatus::Ok) {
    (void)stream.Seek(base, XpAbstractFile::kBegin);
    return -1;
  }
  if (stream.Seek(base, XpAbstractFile::kBegin) != XpStatus::Ok) {
    return -1;
  }
  return ((length[0] << 8) | length[1]) - 8;
}

}  // namespace

XpStatus CheckJpegStream(XpAbstractFile& stream, std::int64_t start) {
  XpJpegSegments::Layout layout;
  const XpStatus walked = XpJpegSegments::Walk(stream, start, &layout);
  if (walked == XpStatus::Ok || walked == XpStatus::TooManySegments) {
    return walked;
  }
  // Damage behind the APPn run is libjpeg's to judge: it may still find an
  // image there.
  return layout.appRunComplete ? XpStatus::Ok : XpStatus::JpegDecodeFailed;
}

XpStatus LocateExif(XpAbstractFile& stream, std::int64_t start) {
  if (auto st = CheckJpegStream(stream, start); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = stream.Seek(start + 2, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  for (;;) {
    std::uint8_t head[4];
    if (auto st = stream.ReadExact(head, 2); st != XpStatus::Ok) {
      return st;
    }
    // A comment segment may stand between the APPn segments (some editors put
    // one before the Exif block); it is skipped like them, so that such a
    // picture does not lose its position.
    if (head[0] != 0xFF || !(IsAppMarker(head[1]) || head[1] == kComment)) {
      return XpStatus::NoExif;
    }
    if (auto st = stream.ReadExact(head + 2, 2); st != XpStatus::Ok) {
      return st;
    }
    const int length = (head[2] << 8) | head[3];
    if (length < 2) {
      return XpStatus::NoExif;
    }
    int skip = length - 2;
    // An APP1 too short to hold the 6-byte identifier cannot be the Exif block.
    if (head[1] == 0xE1 && length >= 8) {
      std::uint8_t id[6];
      if (auto st = stream.ReadExact(id, 6); st != XpStatus::Ok) {
        return st;
      }
      if (std::memcmp(id, "Exif", 4) == 0) {
        return XpStatus::Ok;
      }
      skip = length - 8;
    }
    if (auto st = stream.Seek(skip, XpAbstractFile::kCurrent); st != XpStatus::Ok) {
      return st;
    }
  }
}

bool IsExifPayload(std::span<const std::uint8_t> app1Payload) {
  return app1Payload.size() >= 5 && std::memcmp(app1Payload.data(), "Exif\0", 5) == 0;
}

std::span<const std::uint8_t> TiffDataOfExifPayload(std::span<const std::uint8_t> app1Payload) {
  return app1Payload.size() > 6 ? app1Payload.subspan(6) : std::span<const std::uint8_t>{};
}

XpStatus ReadTagTree(XpAbstractFile& stream, TagTreePtr* tree, std::int64_t start) {
  tree->reset();
  if (auto st = LocateExif(stream, start); st != XpStatus::Ok) {
    return st;
  }
  TagTreePtr loaded;
  try {
    loaded = std::make_shared<XpTiffTagManager>();
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  if (!loaded->LoadBlock(stream, kReadMode, ExifBlockSize(stream))) {
    return loaded->LoadStatus() == XpStatus::OutOfMemory ? XpStatus::OutOfMemory : XpStatus::JpegDecodeFailed;
  }
  *tree = std::move(loaded);
  return XpStatus::Ok;
}

XpStatus ReadTagTree(const std::string& path, TagTreePtr* tree) {
  tree->reset();
  XpFile file(path);
  if (auto st = file.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  return ReadTagTree(file, tree, 0);
}

}  // namespace XpJpegExif
