#include "xp/formats/XpFormatDecode.h"

#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <vector>

#include "xp/formats/XpIsoBmff.h"
#include "xp/image/XpMemoryFile.h"

namespace XpFormatDecode {
namespace {

constexpr std::size_t kChannels = 3;

// The pixel bound of the decode under way (kMaxPixels unless the caller
// asked for less).
thread_local std::int64_t t_maxPixels = kMaxPixels;

[[nodiscard]] bool WithinBound(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= t_maxPixels && height <= t_maxPixels && width * height <= t_maxPixels;
}

[[nodiscard]] XpStatus NewPixmap(int width, int height, std::unique_ptr<XpPixmapBGR24>* out) {
  std::unique_ptr<XpPixmapBGR24> pixmap(new (std::nothrow) XpPixmapBGR24);
  if (pixmap == nullptr) {
    return XpStatus::OutOfMemory;
  }
  const XpStatus status = pixmap->Create(width, height);
  if (status != XpStatus::Ok) {
    return status == XpStatus::OutOfMemory ? status : XpStatus::PictureDecodeFailed;
  }
  *out = std::move(pixmap);
  return XpStatus::Ok;
}

// One colour component laid over white by its opacity.
[[nodiscard]] std::uint8_t OverWhite(unsigned value, unsigned alpha) {
  return static_cast<std::uint8_t>((value * alpha + 255U * (255U - alpha) + 127U) / 255U);
}

// A row of `width` pixels of four bytes each (the colour order given by the
// three offsets, then opacity) laid over white into a BGR row.
void RowOverWhite(const std::uint8_t* in, int width, std::size_t blue, std::size_t green, std::size_t red,
                  std::uint8_t* out) {
  for (int x = 0; x < width; ++x, in += 4, out += kChannels) {
    const unsigned alpha = in[3];
    out[0] = OverWhite(in[blue], alpha);
    out[1] = OverWhite(in[green], alpha);
    out[2] = OverWhite(in[red], alpha);
  }
}

// The whole stream in memory, at most kMaxFileBytes bytes.
[[nodiscard]] XpStatus ReadAll(XpAbstractFile& file, std::vector<std::uint8_t>* bytes) {
  const std::int64_t length = file.GetLength();
  if (length < 0) {
    return XpStatus::Failed;
  }
  if (length > kMaxFileBytes) {
    return XpStatus::PictureTooLarge;
  }
  if (const XpStatus status = file.Seek(0, XpAbstractFile::kBegin); status != XpStatus::Ok) {
    return status;
  }
  try {
    bytes->resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  return file.ReadExact(bytes->data(), bytes->size());
}

// ---------------------------------------------------------------------------
// PNG, through libpng's simplified reader (which keeps its error recovery to
// itself): any bit depth, palette, grey or alpha comes out as 8-bit BGR on white.

struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
  ~PngImage() { png_image_free(&image); }
};

// True when every chunk up to IEND (or the end of the bytes) lies inside the
// bytes. libpng takes a chunk's stated length before it reads its data, and a
// length far beyond the file would have it allocate gigabytes first.
bool ChunksWithinBytes(const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kSignature = 8;
  std::size_t at = kSignature;
  while (at < bytes.size()) {
    if (bytes.size() - at < 12) {
      return false;
    }
    const std::uint64_t length = (std::uint64_t{bytes[at]} << 24) | (std::uint64_t{bytes[at + 1]} << 16) |
                                 (std::uint64_t{bytes[at + 2]} << 8) | bytes[at + 3];
    if (length > bytes.size() - at - 12) {
      return false;
    }
    if (bytes[at + 4] == 'I' && bytes[at + 5] == 'E' && bytes[at + 6] == 'N' && bytes[at + 7] == 'D') {
      return true;
    }
    at += 12 + static_cast<std::size_t>(length);
  }
  return at == bytes.size();
}

[[nodiscard]] XpStatus DecodePng(XpAbstractFile& file, Picture* out) {
  std::vector<std::uint8_t> bytes;
  if (const XpStatus status = ReadAll(file, &bytes); status != XpStatus::Ok) {
    return status;
  }
  if (bytes.size() < 8 || !ChunksWithinBytes(bytes)) {
    return XpStatus::PictureDecodeFailed;
  }
  PngImage png;
  if (png_image_begin_read_from_memory(&png.image, bytes.data(), bytes.size()) == 0) {
    return XpStatus::PictureDecodeFailed;
  }
  if (!WithinBound(png.image.width, png.image.height)) {
    return XpStatus::PictureTooLarge;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap;
  if (const XpStatus status = NewPixmap(static_cast<int>(png.image.width), static_cast<int>(png.image.height), &pixmap);
      status != XpStatus::Ok) {
    return status;
  }
  png.image.format = PNG_FORMAT_BGR;
  png_color white{255, 255, 255};
  if (png_image_finish_read(&png.image, &white, pixmap->Row(0), static_cast<png_int_32>(pixmap->Stride()), nullptr) ==
      0) {
    return XpStatus::PictureDecodeFailed;
  }
  out->pixmap = std::move(pixmap);
  out->upright = false;
  return XpStatus::Ok;
}

// ---------------------------------------------------------------------------
// WebP (still pictures; an animation does not decode)

[[nodiscard]] XpStatus DecodeWebp(XpAbstractFile& file, Picture* out) {
  std::vector<std::uint8_t> bytes;
  if (const XpStatus status = ReadAll(file, &bytes); status != XpStatus::Ok) {
    return status;
  }
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK || features.has_animation != 0) {
    return XpStatus::PictureDecodeFailed;
  }
  if (!WithinBound(features.width, features.height)) {
    return XpStatus::PictureTooLarge;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap;
  if (const XpStatus status = NewPixmap(features.width, features.height, &pixmap); status != XpStatus::Ok) {
    return status;
  }
  const std::size_t stride = pixmap->Stride();
  if (features.has_alpha == 0) {
    if (WebPDecodeBGRInto(bytes.data(), bytes.size(), pixmap->Row(0),
                          stride * static_cast<std::size_t>(features.height), static_cast<int>(stride)) == nullptr) {
      return XpStatus::PictureDecodeFailed;
    }
  } else {
    const std::size_t rowBytes = static_cast<std::size_t>(features.width) * 4;
    std::vector<std::uint8_t> bgra;
    try {
      bgra.resize(rowBytes * static_cast<std::size_t>(features.height));
    } catch (const std::bad_alloc&) {
      return XpStatus::OutOfMemory;
    }
    if (WebPDecodeBGRAInto(bytes.data(), bytes.size(), bgra.data(), bgra.size(), static_cast<int>(rowBytes)) ==
        nullptr) {
      return XpStatus::PictureDecodeFailed;
    }
    for (int y = 0; y < features.height; ++y) {
      RowOverWhite(bgra.data() + rowBytes * static_cast<std::size_t>(y), features.width, 0, 1, 2, pixmap->Row(y));
    }
  }
  out->pixmap = std::move(pixmap);
  out->upright = false;
  return XpStatus::Ok;
}

// ---------------------------------------------------------------------------
// HEIF/HEIC/AVIF: the primary image (or its thumbnail) with its turns and
// mirrors applied.

struct HeifContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleFree {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageFree {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HeifOptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using HeifHandle = std::unique_ptr<heif_image_handle, HeifHandleFree>;

[[nodiscard]] XpStatus HeifStatus(const heif_error& error) {
  if (error.code == heif_error_Ok) {
    return XpStatus::Ok;
  }
  if (error.code == heif_error_Memory_allocation_error) {
    return XpStatus::OutOfMemory;
  }
  if (error.subcode == heif_suberror_Security_limit_exceeded) {
    return XpStatus::PictureTooLarge;
  }
  return XpStatus::PictureDecodeFailed;
}

void InitHeifOnce() {
  static const bool initialised = [] {
    (void)heif_init(nullptr);
    return true;
  }();
  (void)initialised;
}

// The smallest thumbnail of `primary` whose longer side is at least `longSide`.
[[nodiscard]] HeifHandle ThumbnailOf(heif_image_handle* primary, int longSide) {
  HeifHandle chosen;
  int chosenSide = 0;
  const int count = heif_image_handle_get_number_of_thumbnails(primary);
  if (longSide <= 0 || count <= 0 || count > 64) {
    return chosen;
  }
  std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
  const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
  for (int i = 0; i < listed && i < count; ++i) {
    heif_image_handle* raw = nullptr;
    if (heif_image_handle_get_thumbnail(primary, ids[static_cast<std::size_t>(i)], &raw).code != heif_error_Ok) {
      continue;
    }
    HeifHandle thumbnail(raw);
    const int side =
        std::max(heif_image_handle_get_width(thumbnail.get()), heif_image_handle_get_height(thumbnail.get()));
    if (side >= longSide && (chosen == nullptr || side < chosenSide)) {
      chosen = std::move(thumbnail);
      chosenSide = side;
    }
  }
  return chosen;
}

[[nodiscard]] XpStatus DecodeHeif(XpAbstractFile& file, int longSide, Picture* out) {
  std::vector<std::uint8_t> bytes;
  if (const XpStatus status = ReadAll(file, &bytes); status != XpStatus::Ok) {
    return status;
  }
  // The library's own size limit is far above this program's bound, and a
  // grid's or overlay's canvas is allocated before any tile is decoded; an
  // item with no bytes fails in the decoder anyway, and the AV1 decoder leaks
  // what it set up for it. Such files are refused before the library acts.
  XpMemoryFile inMemory{std::span<const std::uint8_t>(bytes)};
  if (const XpStatus status = XpIsoBmff::CheckHeifPictureItems(inMemory, t_maxPixels); status != XpStatus::Ok) {
    return status == XpStatus::PictureTooLarge ? status : XpStatus::PictureDecodeFailed;
  }
  InitHeifOnce();
  std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  if (context == nullptr) {
    return XpStatus::OutOfMemory;
  }
  if (const XpStatus status =
          HeifStatus(heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr));
      status != XpStatus::Ok) {
    return status;
  }
  heif_image_handle* rawPrimary = nullptr;
  if (const XpStatus status = HeifStatus(heif_context_get_primary_image_handle(context.get(), &rawPrimary));
      status != XpStatus::Ok) {
    return status;
  }
  HeifHandle primary(rawPrimary);
  HeifHandle thumbnail = ThumbnailOf(primary.get(), longSide);
  const heif_image_handle* handle = thumbnail ? thumbnail.get() : primary.get();
  if (!WithinBound(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle))) {
    return XpStatus::PictureTooLarge;
  }
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  std::unique_ptr<heif_decoding_options, HeifOptionsFree> options(heif_decoding_options_alloc());
  if (options == nullptr) {
    return XpStatus::OutOfMemory;
  }
  heif_image* rawImage = nullptr;
  if (const XpStatus status = HeifStatus(
          heif_decode_image(handle, &rawImage, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get()));
      status != XpStatus::Ok) {
    return status;
  }
  std::unique_ptr<heif_image, HeifImageFree> image(rawImage);
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int bytesPerPixel = alpha ? 4 : 3;
  if (plane == nullptr || !WithinBound(width, height) || stride < width * bytesPerPixel) {
    return XpStatus::PictureDecodeFailed;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap;
  if (const XpStatus status = NewPixmap(width, height, &pixmap); status != XpStatus::Ok) {
    return status;
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = plane + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
    std::uint8_t* row = pixmap->Row(y);
    if (alpha) {
      RowOverWhite(in, width, 2, 1, 0, row);
      continue;
    }
    for (int x = 0; x < width; ++x, in += 3, row += kChannels) {
      row[0] = in[2];
      row[1] = in[1];
      row[2] = in[0];
    }
  }
  out->pixmap = std::move(pixmap);
  out->upright = true;
  return XpStatus::Ok;
}

// ---------------------------------------------------------------------------
// TIFF: IFD0 through libtiff's RGBA reader, read from the stream itself.

struct TiffStream {
  XpAbstractFile* file = nullptr;
  std::int64_t length = 0;
};

tmsize_t TiffRead(thandle_t handle, void* buffer, tmsize_t size) {
  auto* stream = static_cast<TiffStream*>(handle);
  if (size < 0) {
    return -1;
  }
  std::uint64_t got = 0;
  if (stream->file->Read(buffer, static_cast<std::uint64_t>(size), &got) != XpStatus::Ok) {
    return -1;
  }
  return static_cast<tmsize_t>(got);
}

tmsize_t TiffWrite(thandle_t /*handle*/, void* /*buffer*/, tmsize_t /*size*/) { return -1; }

toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
  auto* stream = static_cast<TiffStream*>(handle);
  std::int64_t target = 0;
  const auto signedOffset = static_cast<std::int64_t>(offset);
  switch (whence) {
    case SEEK_SET:
      target = signedOffset;
      break;
    case SEEK_CUR:
      target = stream->file->GetPosition() + signedOffset;
      break;
    case SEEK_END:
      target = stream->length + signedOffset;
      break;
    default:
      return static_cast<toff_t>(-1);
  }
  if (target < 0 || offset > static_cast<toff_t>(INT64_MAX) ||
      stream->file->Seek(target, XpAbstractFile::kBegin) != XpStatus::Ok) {
    return static_cast<toff_t>(-1);
  }
  return static_cast<toff_t>(target);
}

int TiffClose(thandle_t /*handle*/) { return 0; }

toff_t TiffSize(thandle_t handle) { return static_cast<toff_t>(static_cast<TiffStream*>(handle)->length); }

int TiffMap(thandle_t /*handle*/, void** /*base*/, toff_t* /*size*/) { return 0; }

void TiffUnmap(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}

// libtiff's messages stay quiet: the status says what went wrong.
int TiffQuiet(TIFF* /*tiff*/, void* /*data*/, const char* /*module*/, const char* /*format*/, va_list /*args*/) {
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct TiffOptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

struct RgbaImage {
  TIFFRGBAImage image{};
  bool begun = false;
  RgbaImage() = default;
  RgbaImage(const RgbaImage&) = delete;
  RgbaImage& operator=(const RgbaImage&) = delete;
  ~RgbaImage() {
    if (begun) {
      TIFFRGBAImageEnd(&image);
    }
  }
};

// True when every strip or tile of the directory lies inside the file.
// libtiff's reader writes in front of its own buffer for some strips that lie
// beyond the end of the file, so such a file is refused before any pixel is read.
bool PixelDataWithinFile(TIFF* tiff, std::int64_t length) {
  const std::uint32_t count = TIFFIsTiled(tiff) != 0 ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  if (count == 0) {
    return false;
  }
  const auto size = static_cast<std::uint64_t>(length);
  for (std::uint32_t i = 0; i < count; ++i) {
    int failed = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, i, &failed);
    if (failed != 0) {
      return false;
    }
    const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff, i, &failed);
    if (failed != 0 || bytes == 0 || offset > size || bytes > size - offset) {
      return false;
    }
  }
  return true;
}

[[nodiscard]] XpStatus DecodeTiff(XpAbstractFile& file, Picture* out) {
  TiffStream stream{&file, file.GetLength()};
  if (stream.length < 0) {
    return XpStatus::Failed;
  }
  if (const XpStatus status = file.Seek(0, XpAbstractFile::kBegin); status != XpStatus::Ok) {
    return status;
  }
  std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
  if (options == nullptr) {
    return XpStatus::OutOfMemory;
  }
  // No single buffer of the library may be larger than the whole decoded picture.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(t_maxPixels * 4 + 65536));
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffQuiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffQuiet, nullptr);
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("picture", "rm", &stream, TiffRead, TiffWrite, TiffSeek,
                                                           TiffClose, TiffSize, TiffMap, TiffUnmap, options.get()));
  if (tiff == nullptr) {
    return XpStatus::PictureDecodeFailed;
  }
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
      TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1) {
    return XpStatus::PictureDecodeFailed;
  }
  if (!WithinBound(width, height)) {
    return XpStatus::PictureTooLarge;
  }
  if (!PixelDataWithinFile(tiff.get(), stream.length)) {
    return XpStatus::PictureDecodeFailed;
  }
  char message[1024] = {};
  if (TIFFRGBAImageOK(tiff.get(), message) != 1) {
    return XpStatus::PictureDecodeFailed;
  }
  RgbaImage rgba;
  if (TIFFRGBAImageBegin(&rgba.image, tiff.get(), /*stop=*/1, message) != 1) {
    return XpStatus::PictureDecodeFailed;
  }
  rgba.begun = true;
  // Rows in stored order: the caller turns the picture by its Orientation.
  rgba.image.orientation = ORIENTATION_TOPLEFT;
  rgba.image.req_orientation = ORIENTATION_TOPLEFT;
  std::vector<std::uint32_t> raster;
  try {
    raster.resize(static_cast<std::size_t>(width) * height);
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  if (TIFFRGBAImageGet(&rgba.image, raster.data(), width, height) != 1) {
    return XpStatus::PictureDecodeFailed;
  }
  std::unique_ptr<XpPixmapBGR24> pixmap;
  if (const XpStatus status = NewPixmap(static_cast<int>(width), static_cast<int>(height), &pixmap);
      status != XpStatus::Ok) {
    return status;
  }
  // The reader gives each pixel as A B G R from the high byte down, with
  // the colours already multiplied by the opacity.
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint32_t* in = raster.data() + static_cast<std::size_t>(y) * width;
    std::uint8_t* row = pixmap->Row(static_cast<int>(y));
    for (std::uint32_t x = 0; x < width; ++x, ++in, row += kChannels) {
      const unsigned white = 255U - TIFFGetA(*in);
      row[0] = static_cast<std::uint8_t>(std::min(255U, TIFFGetB(*in) + white));
      row[1] = static_cast<std::uint8_t>(std::min(255U, TIFFGetG(*in) + white));
      row[2] = static_cast<std::uint8_t>(std::min(255U, TIFFGetR(*in) + white));
    }
  }
  out->pixmap = std::move(pixmap);
  out->upright = false;
  return XpStatus::Ok;
}

}  // namespace

bool CanDecode(XpPhotoFormat format) {
  switch (format) {
    case XpPhotoFormat::Heic:
    case XpPhotoFormat::Heif:
    case XpPhotoFormat::Avif:
    case XpPhotoFormat::Png:
    case XpPhotoFormat::Webp:
    case XpPhotoFormat::Tiff:
      return true;
    default:
      return false;
  }
}

XpStatus Decode(XpAbstractFile& file, XpPhotoFormat format, int longSide, Picture* out, std::int64_t maxPixels) {
  *out = Picture{};
  t_maxPixels = std::clamp<std::int64_t>(maxPixels, 1, kMaxPixels);
  Picture picture;
  XpStatus status = XpStatus::PhotoFormatUnknown;
  switch (format) {
    case XpPhotoFormat::Heic:
    case XpPhotoFormat::Heif:
    case XpPhotoFormat::Avif:
      status = DecodeHeif(file, longSide, &picture);
      break;
    case XpPhotoFormat::Png:
      status = DecodePng(file, &picture);
      break;
    case XpPhotoFormat::Webp:
      status = DecodeWebp(file, &picture);
      break;
    case XpPhotoFormat::Tiff:
      status = DecodeTiff(file, &picture);
      break;
    default:
      break;
  }
  if (status == XpStatus::Ok) {
    *out = std::move(picture);
  }
  return status;
}

}  // namespace XpFormatDecode
