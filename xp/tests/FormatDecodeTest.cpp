// The pixel decoders of HEIC/HEIF/AVIF, PNG, WebP and TIFF: real pictures
// against an independent decoder, pictures too large to decode refused before
// their memory is taken, damaged ones refused with a status.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xp/formats/XpFormatDecode.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tests/ReferenceDecode.h"
#include "xp/tests/TestSupport.h"

namespace {

const std::string kFormats = std::string(TV_TESTDATA_DIR) + "/formats/";

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

XpPhotoFormat FormatOf(const std::vector<std::uint8_t>& bytes) {
  return XpPhotoMetadata::Sniff(std::span<const std::uint8_t>(bytes.data(), std::min(bytes.size(), std::size_t{64})));
}

XpStatus DecodeBytes(const std::vector<std::uint8_t>& bytes, XpFormatDecode::Picture* picture, int longSide = 0) {
  XpMemoryFile file(bytes);
  return XpFormatDecode::Decode(file, FormatOf(bytes), longSide, picture);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) {
    const int shift = big ? 24 - 8 * i : 8 * i;
    out.push_back(static_cast<std::uint8_t>(v >> shift));
  }
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) {
      crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
  }
  return ~crc;
}

// A PNG whose header claims `width` x `height` grey pixels, with a valid
// checksum, and no picture data.
std::vector<std::uint8_t> PngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> chunk = {'I', 'H', 'D', 'R'};
  Put32(chunk, width, true);
  Put32(chunk, height, true);
  chunk.insert(chunk.end(), {8, 0, 0, 0, 0});
  Put32(out, 13, true);
  out.insert(out.end(), chunk.begin(), chunk.end());
  Put32(out, Crc32(chunk.data(), chunk.size()), true);
  // A picture data chunk that ends before the first row.
  const std::uint8_t data[] = {'I', 'D', 'A', 'T', 0x78, 0x9C};
  Put32(out, 2, true);
  out.insert(out.end(), data, data + 6);
  Put32(out, Crc32(data, 6), true);
  Put32(out, 0, true);
  const std::uint8_t end[] = {'I', 'E', 'N', 'D'};
  out.insert(out.end(), end, end + 4);
  Put32(out, Crc32(end, 4), true);
  return out;
}

// A little-endian TIFF of one grey strip claiming `width` x `height` pixels.
std::vector<std::uint8_t> TiffHeaderOnly(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> out = {'I', 'I', 42, 0};
  Put32(out, 8, false);
  const std::vector<std::pair<std::uint16_t, std::uint32_t>> entries = {
      {256, width}, {257, height}, {258, 8}, {259, 1}, {262, 1}, {273, 200}, {277, 1}, {278, height}, {279, 64}};
  Put16(out, static_cast<std::uint16_t>(entries.size()));
  for (const auto& [tag, value] : entries) {
    Put16(out, tag);
    Put16(out, 4);  // LONG
    Put32(out, 1, false);
    Put32(out, value, false);
  }
  Put32(out, 0, false);
  out.resize(264, 0x80);
  return out;
}

// A lossless WebP whose header claims `width` x `height` pixels.
std::vector<std::uint8_t> WebpHeaderOnly(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F'};
  Put32(out, 4 + 8 + 16, false);
  out.insert(out.end(), {'W', 'E', 'B', 'P', 'V', 'P', '8', 'L'});
  Put32(out, 16, false);
  out.push_back(0x2F);
  const std::uint32_t bits = (width - 1) | ((height - 1) << 14);
  Put32(out, bits, false);
  out.resize(out.size() + 11, 0);
  return out;
}

struct RealPicture {
  const char* name;
  bool upright;
};

}  // namespace

TEST(FormatDecode, RealPicturesMatchAnIndependentDecoder) {
  for (const RealPicture& picture : {
           RealPicture{"mde-cheers_1440x960.heic", true},
           RealPicture{"mde-IMG_2927.HEIC", true},
           RealPicture{"exiv2-avif.avif", true},
           RealPicture{"exiv2-avif_metadata2.avif", true},
           RealPicture{"mde-32Bit-72dpi-sRGB-800x600.avif", true},
           RealPicture{"exiv2-1343_comment.png", false},
           RealPicture{"exiv2-imagemagick.png", false},
           RealPicture{"crafted/png-exif.png", false},
           RealPicture{"exiv2-Reagan.tiff", false},
           RealPicture{"exiv2-test.tiff", false},
           RealPicture{"exiv2-mini9.tif", false},
           RealPicture{"exiv2-exiv2-kodak-dc210-preview1.tif", false},
           RealPicture{"crafted/tiff-ii.tif", false},
       }) {
    SCOPED_TRACE(picture.name);
    const std::string path = kFormats + picture.name;
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(XpFormatDecode::CanDecode(FormatOf(bytes)));
    XpFormatDecode::Picture decoded;
    ASSERT_EQ(DecodeBytes(bytes, &decoded), XpStatus::Ok);
    ASSERT_NE(decoded.pixmap, nullptr);
    EXPECT_EQ(decoded.upright, picture.upright);
    const reference_decode::Rgb reference = reference_decode::Decode(path);
    ASSERT_GT(reference.width, 0) << "convert did not decode it";
    EXPECT_EQ(decoded.pixmap->Width(), reference.width);
    EXPECT_EQ(decoded.pixmap->Height(), reference.height);
    EXPECT_LT(reference_decode::MeanAbsoluteDifference(*decoded.pixmap, reference), 2.0);
  }
}

// WebP pictures made by the independent tool from a camera JPEG (lossy) and a
// TIFF with transparency (lossless).
TEST(FormatDecode, WebpPicturesMatchAnIndependentDecoder) {
  testsupport::TempDir temp;
  const std::string camera = std::string(TV_TESTDATA_DIR) + "/camera/exifpy-DSCN0010.jpg";
  const std::string lossy = temp / "lossy.webp";
  const std::string lossless = temp / "alpha.webp";
  ASSERT_EQ(std::system(("convert '" + camera + "' -resize 320x240 -quality 80 '" + lossy + "'").c_str()), 0);
  ASSERT_EQ(std::system(("convert '" + kFormats + "exiv2-Reagan.tiff' -define webp:lossless=true '" + lossless +
                         "' 2>/dev/null")
                            .c_str()),
            0);
  for (const std::string& path : {lossy, lossless}) {
    SCOPED_TRACE(path);
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    ASSERT_EQ(FormatOf(bytes), XpPhotoFormat::Webp);
    XpFormatDecode::Picture decoded;
    ASSERT_EQ(DecodeBytes(bytes, &decoded), XpStatus::Ok);
    EXPECT_FALSE(decoded.upright);
    const reference_decode::Rgb reference = reference_decode::Decode(path);
    ASSERT_GT(reference.width, 0) << "convert did not decode it";
    EXPECT_LT(reference_decode::MeanAbsoluteDifference(*decoded.pixmap, reference), 2.0);
  }
  // The crafted WebP's coded picture is no real one.
  XpFormatDecode::Picture picture;
  EXPECT_EQ(DecodeBytes(ReadBytes(kFormats + "crafted/webp-exif-xmp.webp"), &picture), XpStatus::PictureDecodeFailed);
}

TEST(FormatDecode, AHeifThumbnailItemServesWhenItCoversTheBox) {
  const std::vector<std::uint8_t> bytes = ReadBytes(kFormats + "mde-IMG_1034.heic");
  XpFormatDecode::Picture primary;
  ASSERT_EQ(DecodeBytes(bytes, &primary, 0), XpStatus::Ok);
  EXPECT_EQ(primary.pixmap->Width(), 4032);
  EXPECT_EQ(primary.pixmap->Height(), 3024);
  // The phone's thumbnail item is smaller than a 4000-pixel box: the primary image serves.
  XpFormatDecode::Picture forBox;
  ASSERT_EQ(DecodeBytes(bytes, &forBox, 4000), XpStatus::Ok);
  EXPECT_EQ(forBox.pixmap->Width(), 4032);
  // A smaller box is covered by the thumbnail item, which has the picture's shape.
  XpFormatDecode::Picture small;
  ASSERT_EQ(DecodeBytes(bytes, &small, 64), XpStatus::Ok);
  EXPECT_LT(small.pixmap->Width(), 4032);
  EXPECT_GE(std::max(small.pixmap->Width(), small.pixmap->Height()), 64);
  EXPECT_GT(small.pixmap->Width(), small.pixmap->Height());
}

TEST(FormatDecode, PicturesTooLargeAreRefusedBeforeTheirMemoryIsTaken) {
  XpFormatDecode::Picture picture;
  EXPECT_EQ(DecodeBytes(PngHeaderOnly(100000, 100000), &picture), XpStatus::PictureTooLarge);
  EXPECT_EQ(DecodeBytes(PngHeaderOnly(8193 * 8, 1024), &picture), XpStatus::PictureTooLarge);
  EXPECT_EQ(DecodeBytes(TiffHeaderOnly(20000, 20000), &picture), XpStatus::PictureTooLarge);
  EXPECT_EQ(DecodeBytes(WebpHeaderOnly(16384, 16384), &picture), XpStatus::PictureTooLarge);
  EXPECT_EQ(picture.pixmap, nullptr);
  // The same headers with a size inside the bound get as far as the missing
  // picture data.
  EXPECT_EQ(DecodeBytes(PngHeaderOnly(64, 64), &picture), XpStatus::PictureDecodeFailed);
  EXPECT_EQ(DecodeBytes(TiffHeaderOnly(64, 64), &picture), XpStatus::PictureDecodeFailed);
  EXPECT_EQ(DecodeBytes(WebpHeaderOnly(64, 64), &picture), XpStatus::PictureDecodeFailed);

  // Lengths and offsets that reach beyond the file are refused before the
  // library acts on them: a PNG chunk claiming 2 GB (it would be allocated
  // first), and a TIFF strip beyond the end (its reader wrote in front of its
  // own buffer). These came from the fuzzers.
  EXPECT_EQ(DecodeBytes(ReadBytes(kFormats + "../../fuzz/corpus/decode_png/itxt-length-beyond-file.png"), &picture),
            XpStatus::PictureDecodeFailed);
  EXPECT_EQ(DecodeBytes(ReadBytes(kFormats + "../../fuzz/corpus/decode_tiff/strip-beyond-file.tif"), &picture),
            XpStatus::PictureDecodeFailed);
  // An AVIF whose picture item has an extent of length 0 (the AV1 decoder,
  // handed no bytes, failed and leaked).
  EXPECT_EQ(DecodeBytes(ReadBytes(kFormats + "../../fuzz/corpus/decode_heif/picture-item-of-no-bytes.avif"), &picture),
            XpStatus::PictureDecodeFailed);
  // An overlay whose canvas is 2.4 GB of pixels while every image it names is small.
  EXPECT_EQ(
      DecodeBytes(ReadBytes(kFormats + "../../fuzz/corpus/decode_heif/overlay-canvas-beyond-bound.heif"), &picture),
      XpStatus::PictureTooLarge);
  EXPECT_EQ(picture.pixmap, nullptr);

  // A HEIC whose image sizes claim 30000 x 30000 pixels.
  std::vector<std::uint8_t> heic = ReadBytes(kFormats + "mde-cheers_1440x960.heic");
  int patched = 0;
  for (std::size_t at = 4; at + 16 <= heic.size(); ++at) {
    if (heic[at] == 'i' && heic[at + 1] == 's' && heic[at + 2] == 'p' && heic[at + 3] == 'e') {
      for (std::size_t field : {at + 8, at + 12}) {
        heic[field] = 0;
        heic[field + 1] = 0;
        heic[field + 2] = 0x75;
        heic[field + 3] = 0x30;
      }
      ++patched;
    }
  }
  ASSERT_GT(patched, 0);
  EXPECT_EQ(DecodeBytes(heic, &picture), XpStatus::PictureTooLarge);
  EXPECT_EQ(picture.pixmap, nullptr);
}

TEST(FormatDecode, DamagedPicturesGiveAStatusAndNoPixels) {
  for (const char* name : {"mde-cheers_1440x960.heic", "exiv2-avif.avif", "exiv2-imagemagick.png", "exiv2-test.tiff"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> whole = ReadBytes(kFormats + name);
    const XpPhotoFormat format = FormatOf(whole);
    // Cut short, and with the second half overwritten.
    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
    std::vector<std::uint8_t> scrambled = whole;
    for (std::size_t i = whole.size() / 2; i < whole.size(); ++i) {
      scrambled[i] = static_cast<std::uint8_t>(i * 131U);
    }
    for (const std::vector<std::uint8_t>* bytes : {&cut, &scrambled}) {
      XpMemoryFile file(*bytes);
      XpFormatDecode::Picture picture;
      const XpStatus status = XpFormatDecode::Decode(file, format, 0, &picture);
      if (bytes == &cut) {
        EXPECT_EQ(status, XpStatus::PictureDecodeFailed);
        EXPECT_EQ(picture.pixmap, nullptr);
      } else if (status == XpStatus::Ok) {
        // Scrambled coded data may still decode to pixels (video decoders
        // conceal errors); they then have the picture's size.
        XpFormatDecode::Picture good;
        ASSERT_EQ(DecodeBytes(whole, &good), XpStatus::Ok);
        ASSERT_NE(picture.pixmap, nullptr);
        EXPECT_EQ(picture.pixmap->Width(), good.pixmap->Width());
        EXPECT_EQ(picture.pixmap->Height(), good.pixmap->Height());
      } else {
        EXPECT_EQ(status, XpStatus::PictureDecodeFailed);
        EXPECT_EQ(picture.pixmap, nullptr);
      }
    }
  }
  // Formats without a pixel decoder, and bytes of none.
  XpFormatDecode::Picture picture;
  const std::vector<std::uint8_t> raf = ReadBytes(kFormats + "crafted/raf-like.raf");
  EXPECT_FALSE(XpFormatDecode::CanDecode(FormatOf(raf)));
  EXPECT_EQ(DecodeBytes(raf, &picture), XpStatus::PhotoFormatUnknown);
  const std::vector<std::uint8_t> nothing(100, 0);
  EXPECT_EQ(DecodeBytes(nothing, &picture), XpStatus::PhotoFormatUnknown);
  for (XpPhotoFormat format : {XpPhotoFormat::Heic, XpPhotoFormat::Png, XpPhotoFormat::Webp, XpPhotoFormat::Tiff}) {
    XpMemoryFile file(nothing);
    EXPECT_EQ(XpFormatDecode::Decode(file, format, 0, &picture), XpStatus::PictureDecodeFailed);
  }
}
