// Photos of the formats beside JPEG in the picture list: what makes them
// listable, their positions and times, their thumbnails from embedded JPEG
// previews, and RAW+JPEG pairs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpPixmapOps.h"
#include "xp/tests/ReferenceDecode.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

const std::string kFormats = std::string(TV_TESTDATA_DIR) + "/formats/";

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A JPEG without its APP1 segments: a camera's embedded preview, which has no
// orientation of its own.
std::vector<std::uint8_t> WithoutApp1(const std::vector<std::uint8_t>& jpeg) {
  std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] >= 0xE0 && jpeg[at + 1] <= 0xEF) {
    const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    if (jpeg[at + 1] != 0xE1) {
      out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at),
                 jpeg.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
    }
    at += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
  return out;
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

// A little-endian TIFF whose IFD0 holds Orientation and a JPEG preview
// (JPEGInterchangeFormat and its length), as raw files keep theirs.
std::vector<std::uint8_t> TiffWithPreview(std::uint16_t orientation, const std::vector<std::uint8_t>& jpeg) {
  std::vector<std::uint8_t> out = {'I', 'I', 42, 0};
  Put32(out, 8);
  const std::uint32_t jpegAt = 8 + 2 + 3 * 12 + 4;
  Put16(out, 3);
  Put16(out, 0x0112);
  Put16(out, 3);
  Put32(out, 1);
  Put16(out, orientation);
  Put16(out, 0);
  for (const auto& [tag, value] :
       {std::pair<std::uint16_t, std::uint32_t>{0x0201, jpegAt}, {0x0202, static_cast<std::uint32_t>(jpeg.size())}}) {
    Put16(out, tag);
    Put16(out, 4);
    Put32(out, 1);
    Put32(out, value);
  }
  Put32(out, 0);
  out.insert(out.end(), jpeg.begin(), jpeg.end());
  return out;
}

}  // namespace

TEST(PictureFormats, EveryReadFormatIsListableByItsContent) {
  TempFolder dir;
  // The content decides: a HEIC named .jpg is still listed, a text named .heic is not.
  ASSERT_TRUE(CopyFileTo(kFormats + "crafted/heic-like.heic", dir / "phone.jpg"));
  WriteFileText(dir / "notes.heic", "not a photo");
  EXPECT_TRUE(IsListablePicture(dir / "phone.jpg"));
  EXPECT_TRUE(IsOtherFormatPicture(dir / "phone.jpg"));
  EXPECT_FALSE(IsListablePicture(dir / "notes.heic"));
  EXPECT_FALSE(IsListablePicture(dir / "missing.cr3"));
  EXPECT_FALSE(IsListablePicture(dir.Path()));
  for (const char* file :
       {"crafted/cr3-like.cr3", "crafted/raf-like.raf", "crafted/rw2-like.rw2", "crafted/orf-like.orf",
        "crafted/dng-like.dng", "crafted/cr2-like.cr2", "crafted/tiff-mm.tif", "crafted/png-exif.png",
        "crafted/webp-exif-xmp.webp", "crafted/avif-like.avif", "mde-IMG_1034.heic"}) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(IsListablePicture(kFormats + file));
    EXPECT_TRUE(IsOtherFormatPicture(kFormats + file));
  }
  EXPECT_TRUE(IsListablePicture(TestPicture("goexifv3-gps.jpg")));
  EXPECT_FALSE(IsOtherFormatPicture(TestPicture("goexifv3-gps.jpg")));
}

TEST(PictureFormats, AMixedFolderLoadsWithPositionsTimesAndThumbnails) {
  TempFolder root;
  TempFolder photos;
  // What exiftool reads from the crafted files (crafted/oracle.jsonl).
  struct Expected {
    const char* source;
    const char* name;
    double latitude;
    double longitude;
    bool thumbnail;
  };
  const Expected files[] = {
      {"crafted/raf-like.raf", "DSCF0001.RAF", 27.1750138888889, 78.0421555555556, true},
      {"crafted/cr3-like.cr3", "IMG_0002.CR3", -22.9519166666667, -43.2104861111111, true},
      {"crafted/png-exif.png", "screen.png", 59.3293222222222, 18.0685805555556, true},
      {"crafted/heic-like.heic", "IMG_0003.HEIC", 37.8199277777778, -122.478255555556, false},
      {"crafted/webp-exif-xmp.webp", "web.webp", 52.3702166666667, 4.89516666666667, false},
  };
  std::vector<std::string> paths;
  std::map<std::string, std::vector<std::uint8_t>> before;
  for (const Expected& f : files) {
    ASSERT_TRUE(CopyFileTo(kFormats + f.source, photos / f.name));
    paths.push_back(photos / f.name);
    before[photos / f.name] = ReadBytes(photos / f.name);
  }
  PictureList list;
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures(paths, root.Path(), progress, keepGoing));
  ASSERT_EQ(list.Count(), std::size(files));
  EXPECT_EQ(progress.steps, static_cast<int>(std::size(files)));
  for (const Expected& f : files) {
    SCOPED_TRACE(f.name);
    const PictureRecord* record = nullptr;
    for (const PictureRecord& r : list.Records()) {
      if (r.m_path == photos / f.name) {
        record = &r;
      }
    }
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->HasPosition());
    XpGPSRecord gps;
    ASSERT_TRUE(ReadPictureGPS(record->m_path, &gps));
    double latitude = 0;
    double longitude = 0;
    ASSERT_TRUE(RationalsToDegrees(gps.latitudeRef, gps.latitude, &latitude));
    ASSERT_TRUE(RationalsToDegrees(gps.longitudeRef, gps.longitude, &longitude));
    EXPECT_NEAR(latitude, f.latitude, 1e-7);
    EXPECT_NEAR(longitude, f.longitude, 1e-7);
    EXPECT_EQ(record->m_latitude, CoordinateTextFromGPS(gps.latitudeRef, gps.latitude, true));
    EXPECT_EQ(record->m_timeText.empty(), false);
    // The embedded preview or the decoded picture gives the thumbnail; the
    // crafted HEIC and WebP hold no real coded picture: they are listed with
    // the placeholder, and no thumbnail file.
    EXPECT_EQ(Exists(record->ThumbnailPath(root.Path())), f.thumbnail);
    // Loading changes no photo.
    EXPECT_EQ(ReadBytes(record->m_path), before[record->m_path]);
  }
}

TEST(PictureFormats, APreviewIsTurnedByThePhotosOrientation) {
  TempFolder root;
  TempFolder photos;
  const std::vector<std::uint8_t> preview = WithoutApp1(ReadBytes(TestPicture("exifpy-DSCN0010.jpg")));
  WriteBytes(photos / "preview.jpg", preview);
  const XpPixmapOps::Size stored = DecodedJpegSize(photos / "preview.jpg");
  ASSERT_GT(stored.width, stored.height);
  WriteBytes(photos / "upright.nef", TiffWithPreview(1, preview));
  WriteBytes(photos / "turned.nef", TiffWithPreview(6, preview));
  for (const auto& [name, portrait] : {std::pair{"upright.nef", false}, std::pair{"turned.nef", true}}) {
    SCOPED_TRACE(name);
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_TRUE(MeasureJpeg(photos / name, &width, &height));
    EXPECT_EQ(width < height, portrait);
    const std::string thumbnail = root / (std::string(name) + ".jpg");
    ASSERT_EQ(MakeThumbnail(photos / name, thumbnail, &width, &height), PictureResult::Success);
    const XpPixmapOps::Size made = DecodedJpegSize(thumbnail);
    EXPECT_EQ(made.width, width);
    EXPECT_EQ(made.height, height);
    EXPECT_EQ(made.width < made.height, portrait);
  }
  // A preview that does not decode gives no thumbnail: the placeholder, as for
  // an undecodable JPEG, and nothing on disk.
  std::vector<std::uint8_t> broken(preview.begin(), preview.begin() + 200);
  broken.resize(4000, 0);
  WriteBytes(photos / "broken.nef", TiffWithPreview(1, broken));
  std::int32_t width = 0;
  std::int32_t height = 0;
  EXPECT_TRUE(IsListablePicture(photos / "broken.nef"));
  EXPECT_EQ(MakeThumbnail(photos / "broken.nef", root / "broken.jpg", &width, &height), PictureResult::NotJpegStill);
  EXPECT_FALSE(Exists(root / "broken.jpg"));
}

namespace {

std::unique_ptr<XpPixmapBGR24> DecodeJpegFile(const std::string& path) {
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return nullptr;
  }
  XpImageIoJpeg reader;
  return reader.Read(file, 0, 1, nullptr, false);
}

// The colour of the pixel at (x, y) as B, G, R.
std::array<int, 3> ColourAt(const XpPixmapBGR24& pixmap, int x, int y) {
  const std::uint8_t* p = pixmap.Row(y) + static_cast<std::size_t>(x) * 3;
  return {p[0], p[1], p[2]};
}

bool Near(const std::array<int, 3>& a, const std::array<int, 3>& b) {
  for (int i = 0; i < 3; ++i) {
    if (std::abs(a[i] - b[i]) > 40) {
      return false;
    }
  }
  return true;
}

}  // namespace

// A preview in four colours (red, green / blue, white), stored lying as a
// camera keeps it, and shown by each of the eight Exif orientations.
TEST(PictureFormats, APreviewIsShownByEachOfTheEightOrientations) {
  TempFolder root;
  TempFolder photos;
  constexpr int kWidth = 64;
  constexpr int kHeight = 32;
  XpPixmapBGR24 stored;
  ASSERT_EQ(stored.Create(kWidth, kHeight), XpStatus::Ok);
  const std::array<int, 3> red{0, 0, 255};
  const std::array<int, 3> green{0, 255, 0};
  const std::array<int, 3> blue{255, 0, 0};
  const std::array<int, 3> white{255, 255, 255};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool right = x >= kWidth / 2;
      const bool bottom = y >= kHeight / 2;
      const std::array<int, 3>& c = bottom ? (right ? white : blue) : (right ? green : red);
      std::uint8_t* p = stored.Row(y) + static_cast<std::size_t>(x) * 3;
      p[0] = static_cast<std::uint8_t>(c[0]);
      p[1] = static_cast<std::uint8_t>(c[1]);
      p[2] = static_cast<std::uint8_t>(c[2]);
    }
  }
  XpImageIoJpeg writer(95, "test");
  XpMemoryFile encoded;
  ASSERT_EQ(writer.Write(stored, nullptr, encoded), XpStatus::Ok);
  const std::vector<std::uint8_t> preview =
      WithoutApp1(std::vector<std::uint8_t>(encoded.Bytes().begin(), encoded.Bytes().end()));
  // What the viewer sees in its four corners (top left, top right, bottom
  // left, bottom right) for orientations 1 to 8.
  const std::array<std::array<std::array<int, 3>, 4>, 8> shown = {{
      {red, green, blue, white},
      {green, red, white, blue},
      {white, blue, green, red},
      {blue, white, red, green},
      {red, blue, green, white},
      {blue, red, white, green},
      {white, green, blue, red},
      {green, white, red, blue},
  }};
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::string name = "o" + std::to_string(orientation) + ".nef";
    WriteBytes(photos / name, TiffWithPreview(static_cast<std::uint16_t>(orientation), preview));
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_TRUE(MeasureJpeg(photos / name, &width, &height));
    const bool across = orientation >= 5;
    EXPECT_EQ(width < height, across);
    const std::string thumbnail = root / (name + ".jpg");
    ASSERT_EQ(MakeThumbnail(photos / name, thumbnail, &width, &height), PictureResult::Success);
    const std::unique_ptr<XpPixmapBGR24> made = DecodeJpegFile(thumbnail);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Width(), width);
    EXPECT_EQ(made->Height(), height);
    EXPECT_EQ(made->Width() < made->Height(), across);
    const int w = made->Width();
    const int h = made->Height();
    const std::array<std::array<int, 3>, 4> corners = {ColourAt(*made, w / 4, h / 4), ColourAt(*made, 3 * w / 4, h / 4),
                                                       ColourAt(*made, w / 4, 3 * h / 4),
                                                       ColourAt(*made, 3 * w / 4, 3 * h / 4)};
    for (std::size_t i = 0; i < 4; ++i) {
      SCOPED_TRACE(i);
      EXPECT_TRUE(Near(corners[i], shown[static_cast<std::size_t>(orientation - 1)][i]))
          << corners[i][0] << "," << corners[i][1] << "," << corners[i][2];
    }
  }
}

// Pictures without an embedded JPEG preview: their own pixels, decoded,
// upright and fitted, against what an independent tool makes of them.
TEST(PictureFormats, PicturesWithoutAPreviewGetThumbnailsOfTheirOwnPixels) {
  TempFolder root;
  TempFolder photos;
  const std::string webp = photos / "camera.webp";
  ASSERT_EQ(
      std::system(
          ("convert '" + TestPicture("exifpy-DSCN0010.jpg") + "' -strip -resize 1100x825 '" + webp + "'").c_str()),
      0);
  const std::vector<std::string> pictures = {kFormats + "mde-cheers_1440x960.heic", kFormats + "mde-IMG_2927.HEIC",
                                             kFormats + "exiv2-avif.avif",          kFormats + "exiv2-imagemagick.png",
                                             kFormats + "exiv2-test.tiff",          kFormats + "crafted/tiff-ii.tif",
                                             kFormats + "crafted/tiff-mm.tif",      webp};
  for (const std::string& picture : pictures) {
    SCOPED_TRACE(picture);
    XpPhotoMetadata::Reading reading;
    (void)XpPhotoMetadata::Read(picture, &reading);
    EXPECT_TRUE(reading.previews.empty());
    const std::string thumbnail = root / "thumb.jpg";
    std::filesystem::remove(thumbnail);
    std::int32_t width = 0;
    std::int32_t height = 0;
    XpStatus why = XpStatus::Failed;
    ASSERT_EQ(MakeThumbnail(picture, thumbnail, &width, &height, false, &why), PictureResult::Success);
    EXPECT_EQ(why, XpStatus::Ok);
    std::int32_t measuredWidth = 0;
    std::int32_t measuredHeight = 0;
    ASSERT_TRUE(MeasureJpeg(picture, &measuredWidth, &measuredHeight));
    EXPECT_EQ(measuredWidth, width);
    EXPECT_EQ(measuredHeight, height);
    const std::unique_ptr<XpPixmapBGR24> made = DecodeJpegFile(thumbnail);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Width(), width);
    EXPECT_EQ(made->Height(), height);
    EXPECT_EQ(std::max(width, height), 550);
    // The reference is turned by the Exif orientation (the crafted TIFFs lie
    // at 6 and 8) and scaled to the same size.
    const reference_decode::Rgb upright = reference_decode::Decode(picture, /*autoOrient=*/true);
    ASSERT_GT(upright.width, 0);
    EXPECT_EQ(upright.width < upright.height, width < height);
    const std::string scaled = root / "reference.ppm";
    ASSERT_EQ(
        std::system(("convert '" + picture + "[0]' -auto-orient -background white -alpha remove -alpha off -resize " +
                     std::to_string(width) + "x" + std::to_string(height) + "! '" + scaled + "' 2>/dev/null")
                        .c_str()),
        0);
    const reference_decode::Rgb reference = reference_decode::Decode(scaled);
    EXPECT_LT(reference_decode::MeanAbsoluteDifference(*made, reference), 6.0);
  }
}

// A CR3 with a large preview (PRVW) beside its small thumbnail (THMB): the
// large one, as exiftool extracts it, gives the thumbnail, turned by the
// photo's orientation (6).
TEST(PictureFormats, ACr3ShowsItsLargePreview) {
  TempFolder root;
  const std::string cr3 = kFormats + "crafted/cr3-prvw.cr3";
  XpPhotoMetadata::Reading reading;
  ASSERT_EQ(XpPhotoMetadata::Read(cr3, &reading), XpStatus::Ok);
  ASSERT_EQ(reading.format, XpPhotoFormat::Cr3);
  ASSERT_EQ(reading.previews.size(), 2U);
  const std::vector<std::uint8_t> whole = ReadBytes(cr3);
  const XpByteRange large = reading.previews[0];
  ASSERT_LE(static_cast<std::size_t>(large.offset + large.length), whole.size());
  const std::string extracted = root / "preview.jpg";
  ASSERT_EQ(std::system(("exiftool -q -b -PreviewImage '" + cr3 + "' > '" + extracted + "'").c_str()), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(whole.begin() + large.offset, whole.begin() + large.offset + large.length),
            ReadBytes(extracted));
  EXPECT_GT(large.length, reading.previews[1].length);

  std::int32_t width = 0;
  std::int32_t height = 0;
  ASSERT_TRUE(MeasureJpeg(cr3, &width, &height));
  EXPECT_EQ(height, 550);
  EXPECT_EQ(width, 412);  // 480 x 640 upright
  const std::string thumbnail = root / "thumb.jpg";
  ASSERT_EQ(MakeThumbnail(cr3, thumbnail, &width, &height), PictureResult::Success);
  const std::unique_ptr<XpPixmapBGR24> made = DecodeJpegFile(thumbnail);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Width(), 412);
  EXPECT_EQ(made->Height(), 550);
  const std::string scaled = root / "reference.ppm";
  ASSERT_EQ(std::system(("convert '" + extracted + "' -rotate 90 -resize 412x550! '" + scaled + "'").c_str()), 0);
  // A detailed photo scaled by a factor that is no whole fraction differs
  // by a few levels between two resamplers; turned the wrong way it differs
  // by far more.
  const double right = reference_decode::MeanAbsoluteDifference(*made, reference_decode::Decode(scaled));
  EXPECT_LT(right, 12.0);
  ASSERT_EQ(std::system(("convert '" + extracted + "' -rotate 270 -resize 412x550! '" + scaled + "'").c_str()), 0);
  EXPECT_GT(reference_decode::MeanAbsoluteDifference(*made, reference_decode::Decode(scaled)), 3 * right);

  // The same photo with its small thumbnail alone.
  ASSERT_TRUE(MeasureJpeg(kFormats + "crafted/cr3-like.cr3", &width, &height));
  EXPECT_EQ(width, 550);
  EXPECT_EQ(height, 550);
}

// A picture whose pixels do not decode gets the placeholder, a status saying
// so, and no thumbnail on disk; one with too many pixels is not decoded at all.
TEST(PictureFormats, APictureThatDoesNotDecodeGetsThePlaceholder) {
  TempFolder root;
  TempFolder photos;
  const std::vector<std::uint8_t> heic = ReadBytes(kFormats + "mde-cheers_1440x960.heic");
  WriteBytes(photos / "cut.heic", std::vector<std::uint8_t>(heic.begin(), heic.begin() + 20000));
  const std::vector<std::uint8_t> png = ReadBytes(kFormats + "exiv2-imagemagick.png");
  WriteBytes(photos / "cut.png", std::vector<std::uint8_t>(png.begin(), png.begin() + 5000));
  std::vector<std::uint8_t> huge = png;
  // IHDR's width and height (after the signature, length and type) made
  // 65536 each, and its checksum made right again.
  ASSERT_EQ(std::string(huge.begin() + 12, huge.begin() + 16), "IHDR");
  for (std::size_t at : {std::size_t{16}, std::size_t{20}}) {
    huge[at] = 0;
    huge[at + 1] = 0x01;
    huge[at + 2] = 0;
    huge[at + 3] = 0;
  }
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::size_t i = 12; i < 29; ++i) {
    crc ^= huge[i];
    for (int k = 0; k < 8; ++k) {
      crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
  }
  crc = ~crc;
  for (int i = 0; i < 4; ++i) {
    huge[29 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  }
  WriteBytes(photos / "huge.png", huge);
  for (const auto& [name, status] :
       {std::pair{"cut.heic", XpStatus::PictureDecodeFailed}, std::pair{"cut.png", XpStatus::PictureDecodeFailed},
        std::pair{"huge.png", XpStatus::PictureTooLarge}}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsListablePicture(photos / name));
    std::int32_t width = 0;
    std::int32_t height = 0;
    XpStatus why = XpStatus::Ok;
    EXPECT_EQ(MakeThumbnail(photos / name, root / "t.jpg", &width, &height, false, &why), PictureResult::NotJpegStill);
    EXPECT_EQ(why, status);
    EXPECT_FALSE(Exists(root / "t.jpg"));
    EXPECT_FALSE(MeasureJpeg(photos / name, &width, &height));
  }
  // In the list, they stay with the placeholder and their positions.
  PictureList list;
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures({photos / "cut.heic", photos / "cut.png"}, root.Path(), progress, keepGoing));
  ASSERT_EQ(list.Count(), 2U);
  for (const PictureRecord& record : list.Records()) {
    EXPECT_FALSE(Exists(record.ThumbnailPath(root.Path())));
  }
}

TEST(PictureFormats, ARawAndItsJpegShowAsOnePicture) {
  TempFolder root;
  TempFolder photos;
  TempFolder other;
  ASSERT_TRUE(CopyFileTo(kFormats + "crafted/cr3-like.cr3", photos / "IMG_0007.CR3"));
  ASSERT_TRUE(CopyFileTo(TestPicture("goexifv3-gps.jpg"), photos / "img_0007.jpg"));
  ASSERT_TRUE(CopyFileTo(kFormats + "crafted/raf-like.raf", photos / "DSCF0008.RAF"));
  ASSERT_TRUE(CopyFileTo(kFormats + "crafted/cr3-like.cr3", other / "IMG_0007.CR3"));
  const std::vector<std::string> all = {photos / "IMG_0007.CR3", photos / "img_0007.jpg", photos / "DSCF0008.RAF",
                                        other / "IMG_0007.CR3"};
  PictureList list;
  // The JPEG stands for the pair; a raw file without a JPEG beside it, and
  // one of the same name in another folder, stay.
  EXPECT_EQ(list.OnePerPair(all),
            (std::vector<std::string>{photos / "img_0007.jpg", photos / "DSCF0008.RAF", other / "IMG_0007.CR3"}));
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures({photos / "img_0007.jpg"}, root.Path(), progress, keepGoing));
  // A raw file added later beside a JPEG on the list is passed over.
  ASSERT_TRUE(list.AddPictures({photos / "IMG_0007.CR3", photos / "DSCF0008.RAF"}, root.Path(), progress, keepGoing));
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_TRUE(list.ContainsPath(photos / "img_0007.jpg"));
  EXPECT_TRUE(list.ContainsPath(photos / "DSCF0008.RAF"));
  EXPECT_FALSE(list.ContainsPath(photos / "IMG_0007.CR3"));
  // Without its JPEG a raw file is a picture of its own.
  PictureList alone;
  ASSERT_TRUE(alone.AddPictures({photos / "IMG_0007.CR3"}, root.Path(), progress, keepGoing));
  EXPECT_EQ(alone.Count(), 1u);
}

TEST(PictureFormats, ASaveLeavesAPhotoOfAnotherFormatAsItIsAndWritesItsSidecar) {
  TempFolder root;
  TempFolder photos;
  const std::string photo = photos / "IMG_0003.HEIC";
  ASSERT_TRUE(CopyFileTo(kFormats + "crafted/heic-like.heic", photo));
  const std::vector<std::uint8_t> before = ReadBytes(photo);
  MapState state{root.Path()};
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({photo}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 1u);
  state.m_pictures.At(0).SetPosition("N:35:37:32.828", "E:139:44:31.338");
  const WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(report.failed.empty());
  EXPECT_TRUE(report.problems.empty());
  // The photo is byte for byte as it was; its sidecar holds the new position.
  EXPECT_EQ(ReadBytes(photo), before);
  EXPECT_FALSE(ReadBytes(photo + ".xmp").empty());
  XpGPSRecord gps;
  ASSERT_TRUE(ReadPictureGPS(photo, &gps));
  EXPECT_EQ(gps.latitude.numerators[0], 35u);
  EXPECT_EQ(gps.longitude.numerators[0], 139u);
  EXPECT_EQ(state.m_pictures.At(0).m_modified, 0);
}

namespace {

// The signed degrees of a coordinate text; NaN when it is none.
double DegreesOfText(const std::string& text, bool latitude) {
  XpGPSRef ref;
  XpGPSRational3 rationals;
  double degrees = std::nan("");
  if (!TextToRationals(text, &ref, &rationals, latitude) || !RationalsToDegrees(ref, rationals, &degrees)) {
    return std::nan("");
  }
  return degrees;
}

XpGPSRecord RecordOfTexts(const char* latitude, const char* longitude) {
  XpGPSRecord record;
  EXPECT_TRUE(TextToRationals(latitude, &record.latitudeRef, &record.latitude, true));
  EXPECT_TRUE(TextToRationals(longitude, &record.longitudeRef, &record.longitude, false));
  return record;
}

}  // namespace

TEST(PictureFormats, DistancesOnTheEarthAreMeasuredAlongItsSurface) {
  // One degree of a meridian, and the same across the equator; two points either side of the date line.
  EXPECT_NEAR(GreatCircleMetres(0, 0, 1, 0), 111195.08, 0.05);
  EXPECT_NEAR(GreatCircleMetres(-0.5, 10, 0.5, 10), 111195.08, 0.05);
  EXPECT_NEAR(GreatCircleMetres(0, 179.9999, 0, -179.9999), 22.239, 0.001);
  EXPECT_EQ(GreatCircleMetres(35.5, 139.5, 35.5, 139.5), 0.0);
  // A degree of longitude shrinks with the latitude.
  EXPECT_NEAR(GreatCircleMetres(60, 0, 60, 1), 55597.3, 0.5);
}

TEST(PictureFormats, ASidecarThatDisagreesWithItsPhotoWinsAndThePhotosOwnPositionIsKept) {
  TempFolder root;
  TempFolder photos;
  // The crafted CR3 holds Rio de Janeiro in its own GPS directory (as exiftool reads it:
  // -22.9519166666667, -43.2104861111111).
  const std::string photo = photos / "IMG_0007.CR3";
  ASSERT_TRUE(CopyFileTo(kFormats + "crafted/cr3-like.cr3", photo));
  const std::vector<std::uint8_t> before = ReadBytes(photo);
  const auto readWithSidecarAt = [&](const char* latitude, const char* longitude) {
    EXPECT_EQ(XpPhotoWrite::WriteGPS(photo, RecordOfTexts(latitude, longitude)), XpStatus::Ok);
    EXPECT_EQ(ReadBytes(photo), before);
    return ReadPicturePositionAndTime(photo);
  };

  // Without a sidecar there is one position.
  PicturePositionAndTime read = ReadPicturePositionAndTime(photo);
  ASSERT_TRUE(read.hasGps);
  EXPECT_TRUE(read.disagreeingSidecar.empty());

  // A sidecar in Osaka: its position is the photo's, and the file's own is told beside it.
  read = readWithSidecarAt("N:34:41:00.000", "E:135:30:00.000");
  ASSERT_TRUE(read.hasGps);
  double latitude = 0;
  double longitude = 0;
  ASSERT_TRUE(RationalsToDegrees(read.gps.latitudeRef, read.gps.latitude, &latitude));
  ASSERT_TRUE(RationalsToDegrees(read.gps.longitudeRef, read.gps.longitude, &longitude));
  EXPECT_NEAR(latitude, 34.683333333, 1e-6);
  EXPECT_NEAR(longitude, 135.5, 1e-6);
  EXPECT_EQ(read.disagreeingSidecar, photo + ".xmp");
  ASSERT_TRUE(RationalsToDegrees(read.fileGps.latitudeRef, read.fileGps.latitude, &latitude));
  ASSERT_TRUE(RationalsToDegrees(read.fileGps.longitudeRef, read.fileGps.longitude, &longitude));
  EXPECT_NEAR(latitude, -22.9519166666667, 1e-7);
  EXPECT_NEAR(longitude, -43.2104861111111, 1e-7);

  // The list shows the sidecar's position and keeps the file's, as texts, and the sidecar's name.
  PictureList list;
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(list.AddPictures({photo}, root.Path(), progress, keepGoing));
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_NEAR(DegreesOfText(list.At(0).m_latitude, true), 34.683333333, 1e-6);
  EXPECT_NEAR(DegreesOfText(list.At(0).m_longitude, false), 135.5, 1e-6);
  EXPECT_EQ(list.At(0).m_disagreeingSidecar, photo + ".xmp");
  EXPECT_NEAR(DegreesOfText(list.At(0).m_fileLatitude, true), -22.9519166666667, 1e-6);
  EXPECT_NEAR(DegreesOfText(list.At(0).m_fileLongitude, false), -43.2104861111111, 1e-6);

  // The same place in both, or within the rounding of the written forms (half a metre), is one position.
  EXPECT_TRUE(readWithSidecarAt("S:22:57:06.900", "W:043:12:37.750").disagreeingSidecar.empty());
  EXPECT_TRUE(readWithSidecarAt("S:22:57:06.916", "W:043:12:37.750").disagreeingSidecar.empty());
  // Five metres further south are two.
  EXPECT_EQ(readWithSidecarAt("S:22:57:07.062", "W:043:12:37.750").disagreeingSidecar, photo + ".xmp");
  // Reading the photo again after its sidecar agrees clears the note.
  ASSERT_EQ(XpPhotoWrite::WriteGPS(photo, RecordOfTexts("S:22:57:06.900", "W:043:12:37.750")), XpStatus::Ok);
  ASSERT_EQ(list.At(0).ReadPositionAndTime(), PictureResult::Success);
  EXPECT_TRUE(list.At(0).m_disagreeingSidecar.empty());
  EXPECT_TRUE(list.At(0).m_fileLatitude.empty());
}

TEST(PictureFormats, AJpegsOwnSidecarIsNoSecondPosition) {
  // A JPEG's position is its Exif one, whatever a sidecar beside it says: nothing to tell.
  TempFolder photos;
  const std::string photo = photos / "IMG_0008.JPG";
  ASSERT_TRUE(CopyFileTo(std::string(TV_TESTDATA_DIR) + "/camera/exiftool-GPS.jpg", photo));
  std::ofstream(photo + ".xmp") << "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                                   "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
                                   "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" exif:GPSLatitude=\"10,30.0N\" "
                                   "exif:GPSLongitude=\"20,15.0E\"/></rdf:RDF></x:xmpmeta>\n";
  const PicturePositionAndTime read = ReadPicturePositionAndTime(photo);
  EXPECT_TRUE(read.hasGps);
  EXPECT_TRUE(read.disagreeingSidecar.empty());
}

TEST(PictureFormats, ASaveToASidecarTellsWhetherItNowDisagreesWithThePhoto) {
  TempFolder root;
  TempFolder photos;
  const std::string photo = photos / "IMG_0010.CR3";
  ASSERT_TRUE(CopyFileTo(kFormats + "crafted/cr3-like.cr3", photo));
  MapState state{root.Path()};
  CountingProgress progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({photo}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 1u);
  EXPECT_TRUE(state.m_pictures.At(0).m_disagreeingSidecar.empty());
  // Moved away from the place the raw file holds: the new sidecar disagrees with it.
  state.m_pictures.At(0).SetPosition("N:35:37:32.828", "E:139:44:31.338");
  WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(report.written, std::vector<std::string>{photo});
  EXPECT_TRUE(report.rawChangedInPlace.empty());
  EXPECT_EQ(state.m_pictures.At(0).m_disagreeingSidecar, photo + ".xmp");
  EXPECT_NEAR(DegreesOfText(state.m_pictures.At(0).m_fileLatitude, true), -22.9519166666667, 1e-6);
  // Moved back onto it: one position again.
  state.m_pictures.At(0).SetPosition("S:22:57:06.900", "W:043:12:37.750");
  report = state.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(report.written, std::vector<std::string>{photo});
  EXPECT_TRUE(state.m_pictures.At(0).m_disagreeingSidecar.empty());
  EXPECT_TRUE(state.m_pictures.At(0).m_fileLatitude.empty());
}

TEST(PictureFormats, ASaveNamesTheRawFilesItChangedInPlace) {
  for (const bool inFile : {false, true}) {
    SCOPED_TRACE(inFile ? "raw files in place" : "default");
    TempFolder root;
    TempFolder photos;
    const std::string dng = photos / "DSC_0011.dng";
    const std::string orf = photos / "P5170011.ORF";
    const std::string cr3 = photos / "IMG_0011.CR3";
    const std::string png = photos / "screen.png";
    ASSERT_TRUE(CopyFileTo(kFormats + "crafted/dng-like.dng", dng));
    ASSERT_TRUE(CopyFileTo(kFormats + "crafted/orf-mm-like.orf", orf));
    ASSERT_TRUE(CopyFileTo(kFormats + "crafted/cr3-like.cr3", cr3));
    ASSERT_TRUE(CopyFileTo(kFormats + "crafted/png-exif.png", png));
    XpPhotoWrite::SetPolicy({.rawInFile = inFile});
    MapState state{root.Path()};
    CountingProgress progress;
    std::atomic<bool> keepGoing{true};
    ASSERT_TRUE(state.m_pictures.AddPictures({dng, orf, cr3, png}, root.Path(), progress, keepGoing));
    ASSERT_EQ(state.m_pictures.Count(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
      state.m_pictures.At(i).SetPosition("N:35:37:32.828", "E:139:44:31.338");
    }
    const WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
    // Every one written (the crafted raw files have no picture for a thumbnail, so they are not
    // among those whose thumbnails followed).
    EXPECT_TRUE(report.problems.empty());
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(state.m_pictures.At(i).m_modified, 0) << state.m_pictures.At(i).m_path;
    }
    // Only the raw kinds the setting lets into their files, once each; the CR3 keeps its sidecar
    // and the PNG, written in its file by default, is no raw file.
    std::vector<std::string> changed = report.rawChangedInPlace;
    std::sort(changed.begin(), changed.end());
    const std::vector<std::string> expected = inFile ? std::vector<std::string>{dng, orf} : std::vector<std::string>();
    EXPECT_EQ(changed, expected);
    EXPECT_EQ(Exists(dng + ".xmp"), !inFile);
    EXPECT_EQ(Exists(orf + ".xmp"), !inFile);
    EXPECT_TRUE(Exists(cr3 + ".xmp"));
    EXPECT_FALSE(Exists(png + ".xmp"));
  }
  XpPhotoWrite::SetPolicy({});
}
