// The metadata of the photo formats beside JPEG, compared with what exiftool
// reads from the same files: real sample files and the crafted files that
// testdata/formats/make_crafted.py writes from the formats' descriptions.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "xp/formats/XpChunkedFormats.h"
#include "xp/formats/XpIsoBmff.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tests/TestSupport.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

using tifftest::Json;

const std::filesystem::path kFormats = std::filesystem::path(TV_TESTDATA_DIR) / "formats";

std::vector<Json> ReadJsonLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<Json> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) {
      continue;
    }
    auto row = tifftest::JsonReader(line).Parse();
    EXPECT_TRUE(row.has_value()) << line;
    if (row) {
      rows.push_back(*row);
    }
  }
  return rows;
}

// Degrees, minutes and seconds as a signed decimal; NaN when the record has no such coordinate.
double Decimal(const XpGPSRef& ref, const XpGPSRational3& value) {
  if (!ref.IsValid() || !value.IsValid()) {
    return std::nan("");
  }
  double degrees = 0;
  const double scale[3] = {1, 60, 3600};
  for (int i = 0; i < 3; ++i) {
    if (value.denominators[i] != 0) {
      degrees += static_cast<double>(value.numerators[i]) / value.denominators[i] / scale[i];
    }
  }
  return ref.letter == 'S' || ref.letter == 'W' ? -degrees : degrees;
}

// The reading of one file next to the oracle's values under the given keys.
void ExpectAgrees(const std::filesystem::path& path, const Json& o, const std::string& lat, const std::string& lng,
                  const std::string& when, const std::string& zone, const std::string& orientation) {
  SCOPED_TRACE(path.filename().string());
  XpPhotoMetadata::Reading r;
  const XpStatus status = XpPhotoMetadata::Read(path.string(), &r);
  if (o.Has(lat)) {
    ASSERT_EQ(status, XpStatus::Ok);
    EXPECT_EQ(r.source, XpPhotoMetadata::PositionSource::File);
    EXPECT_NEAR(Decimal(r.gps.latitudeRef, r.gps.latitude), o[lat].number, 1e-9);
    EXPECT_NEAR(Decimal(r.gps.longitudeRef, r.gps.longitude), o[lng].number, 1e-9);
  } else {
    EXPECT_NE(r.source, XpPhotoMetadata::PositionSource::File);
  }
  EXPECT_EQ(r.dateTimeOriginal, o.Has(when) ? o[when].text : "");
  EXPECT_EQ(r.offsetTimeOriginal, o.Has(zone) ? o[zone].text : "");
  EXPECT_EQ(r.orientation, o.Has(orientation) ? static_cast<int>(o[orientation].number) : 0);
}

}  // namespace

TEST(PhotoFormats, SampleFilesReadAsExiftoolReadsThem) {
  const std::vector<Json> oracle = ReadJsonLines(kFormats / "oracle.jsonl");
  ASSERT_GE(oracle.size(), 17u);
  int withPosition = 0;
  for (const Json& o : oracle) {
    const std::string name = o["FileName"].text;
    const std::string type = o["FileType"].text;
    // CRW is a camera's own block format, no TIFF structure; the damaged raw
    // files only have to fail cleanly (below).
    if (type == "CRW" || type == "RAW" || type.empty()) {
      continue;
    }
    ExpectAgrees(kFormats / name, o, "GPSLatitude", "GPSLongitude", "DateTimeOriginal", "OffsetTimeOriginal",
                 "Orientation");
    withPosition += o.Has("GPSLatitude") ? 1 : 0;
  }
  EXPECT_GE(withPosition, 3);
}

TEST(PhotoFormats, CraftedFilesReadAsExiftoolReadsThem) {
  const std::vector<Json> oracle = ReadJsonLines(kFormats / "crafted" / "oracle.jsonl");
  ASSERT_GE(oracle.size(), 19u);
  for (const Json& o : oracle) {
    const std::string name = o["File:FileName"].text;
    // exiftool does not read an Exif item stored in `idat`: that file holds
    // the same Exif block as the one without item references.
    const Json& expected = name == "heic-idat.heic" ? [&]() -> const Json& {
      for (const Json& other : oracle) {
        if (other["File:FileName"].text == "heic-noiref.heic") {
          return other;
        }
      }
      return o;
    }()
        : o;
    // A photo whose only position is in its embedded XMP packet.
    const bool xmpOnly = !expected.Has("Composite:GPSLatitude") && expected.Has("XMP:GPSLatitude");
    ExpectAgrees(kFormats / "crafted" / name, expected, xmpOnly ? "XMP:GPSLatitude" : "Composite:GPSLatitude",
                 xmpOnly ? "XMP:GPSLongitude" : "Composite:GPSLongitude", "EXIF:DateTimeOriginal",
                 "EXIF:OffsetTimeOriginal", "EXIF:Orientation");
  }
}

TEST(PhotoFormats, TheContentNamesTheFormat) {
  struct Case {
    const char* file;
    XpPhotoFormat format;
  };
  const Case cases[] = {
      {"crafted/tiff-ii.tif", XpPhotoFormat::Tiff},
      {"crafted/tiff-mm.tif", XpPhotoFormat::Tiff},
      {"crafted/dng-like.dng", XpPhotoFormat::Dng},
      {"crafted/cr2-like.cr2", XpPhotoFormat::Cr2},
      {"crafted/rw2-like.rw2", XpPhotoFormat::Rw2},
      {"crafted/orf-like.orf", XpPhotoFormat::Orf},
      {"crafted/orf-rs-like.orf", XpPhotoFormat::Orf},
      {"crafted/orf-mm-like.orf", XpPhotoFormat::Orf},
      {"crafted/cr3-like.cr3", XpPhotoFormat::Cr3},
      {"crafted/raf-like.raf", XpPhotoFormat::Raf},
      {"crafted/heic-like.heic", XpPhotoFormat::Heic},
      {"crafted/avif-like.avif", XpPhotoFormat::Avif},
      {"crafted/png-exif.png", XpPhotoFormat::Png},
      {"crafted/webp-exif-xmp.webp", XpPhotoFormat::Webp},
      {"mde-cheers_1440x960.heic", XpPhotoFormat::Heif},
      {"exiv2-exiv2-canon-powershot-s40.crw", XpPhotoFormat::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    XpPhotoMetadata::Reading r;
    (void)XpPhotoMetadata::Read((kFormats / c.file).string(), &r);
    EXPECT_EQ(r.format, c.format);
  }
  // A plain TIFF structure is named after a raw extension, whatever its case.
  const testsupport::TempDir temp;
  const std::filesystem::path dir = temp.Path();
  std::filesystem::copy_file(kFormats / "crafted/tiff-ii.tif", dir / "a.NEF",
                             std::filesystem::copy_options::overwrite_existing);
  // The extension never makes a format of other content.
  std::filesystem::copy_file(kFormats / "crafted/png-exif.png", dir / "b.nef",
                             std::filesystem::copy_options::overwrite_existing);
  XpPhotoMetadata::Reading r;
  ASSERT_EQ(XpPhotoMetadata::Read((dir / "a.NEF").string(), &r), XpStatus::Ok);
  EXPECT_EQ(r.format, XpPhotoFormat::Nef);
  ASSERT_EQ(XpPhotoMetadata::Read((dir / "b.nef").string(), &r), XpStatus::Ok);
  EXPECT_EQ(r.format, XpPhotoFormat::Png);
  EXPECT_EQ(XpPhotoFormatName(XpPhotoFormat::Rw2), "RW2");
  EXPECT_EQ(XpPhotoFormatName(XpPhotoFormat::Unknown), "unknown");
}

TEST(PhotoFormats, EmbeddedXmpPacketsAreFound) {
  for (const char* file :
       {"crafted/png-exif.png", "crafted/png-xmp-only.png", "crafted/webp-exif-xmp.webp", "crafted/heic-like.heic"}) {
    SCOPED_TRACE(file);
    XpPhotoMetadata::Reading r;
    ASSERT_EQ(XpPhotoMetadata::Read((kFormats / file).string(), &r), XpStatus::Ok);
    EXPECT_EQ(r.xmp.rfind("<?xpacket begin=", 0), 0u);
    EXPECT_NE(r.xmp.find("exif:GPSLatitude=\""), std::string::npos);
    EXPECT_EQ(r.xmp.substr(r.xmp.size() - 19), "<?xpacket end=\"w\"?>");
  }
  // Without an Exif block the packet's position is the photo's.
  XpPhotoMetadata::Reading r;
  ASSERT_EQ(XpPhotoMetadata::Read((kFormats / "crafted/png-xmp-only.png").string(), &r), XpStatus::Ok);
  EXPECT_EQ(r.tree, nullptr);
  EXPECT_FALSE(r.hasGpsDirectory);
  EXPECT_EQ(r.source, XpPhotoMetadata::PositionSource::File);
  EXPECT_EQ(r.gps.latitudeRef.letter, u'N');
  EXPECT_EQ(r.gps.longitudeRef.letter, u'E');
  XpGPSRecord record;
  ASSERT_EQ(XpPhotoMetadata::ReadGPS((kFormats / "crafted/png-xmp-only.png").string(), record), XpStatus::Ok);
  EXPECT_NEAR(Decimal(record.latitudeRef, record.latitude), 59.329323, 1e-9);
  EXPECT_NEAR(Decimal(record.longitudeRef, record.longitude), 18.068581, 1e-9);
  EXPECT_FALSE(record.altitude.IsValid());
}

TEST(PhotoFormats, AnXmpPositionBecomesAGpsRecord) {
  const auto packet = [](const std::string& properties) {
    const std::string text =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" " +
        properties + "/></rdf:RDF></x:xmpmeta>";
    return std::vector<std::uint8_t>(text.begin(), text.end());
  };
  XpGPSRecord r;
  ASSERT_TRUE(XpPhotoMetadata::RecordFromXmp(
      packet("exif:GPSLatitude=\"33,51.4066667S\" exif:GPSLongitude=\"151.21525\" exif:GPSLongitudeRef=\"w\" "
             "exif:GPSAltitude=\"-25/10\""),
      &r));
  EXPECT_EQ(r.version.bytes, (std::array<std::uint8_t, 4>{2, 3, 0, 0}));
  EXPECT_EQ(r.latitudeRef.letter, u'S');
  EXPECT_EQ(r.longitudeRef.letter, u'W');
  EXPECT_NEAR(Decimal(r.latitudeRef, r.latitude), -33.856777778, 1e-8);
  EXPECT_NEAR(Decimal(r.longitudeRef, r.longitude), -151.21525, 1e-9);
  EXPECT_EQ(r.latitude.denominators, (std::array<std::uint32_t, 3>{1, 1000000, 1}));
  ASSERT_TRUE(r.altitude.IsValid());
  EXPECT_EQ(r.altitudeRef.letter, 1);
  EXPECT_EQ(r.altitude.numerator, 2500u);
  EXPECT_EQ(r.altitude.denominator, 1000u);
  // Minutes that round up to 60 carry into the degrees.
  ASSERT_TRUE(XpPhotoMetadata::RecordFromXmp(
      packet("exif:GPSLatitude=\"10.99999999999\" exif:GPSLatitudeRef=\"N\" exif:GPSLongitude=\"0,0.0E\""), &r));
  EXPECT_EQ(r.latitude.numerators, (std::array<std::uint32_t, 3>{11, 0, 0}));
  EXPECT_FALSE(r.altitude.IsValid());
  // No position: nothing is left in the record.
  EXPECT_FALSE(XpPhotoMetadata::RecordFromXmp(packet("exif:GPSLatitude=\"10,0.0N\""), &r));
  EXPECT_FALSE(r.latitude.IsValid());
  EXPECT_FALSE(r.version.IsValid());
  EXPECT_FALSE(XpPhotoMetadata::RecordFromXmp(packet("exif:GPSLatitude=\"95,0.0N\" exif:GPSLongitude=\"1,0E\""), &r));
}

TEST(PhotoFormats, DamagedAndForeignFilesFailWithAClearStatus) {
  XpPhotoMetadata::Reading r;
  EXPECT_EQ(XpPhotoMetadata::Read((kFormats / "exiv2-exiv2-canon-powershot-s40.crw").string(), &r),
            XpStatus::PhotoFormatUnknown);
  EXPECT_EQ(XpPhotoMetadata::Read((kFormats / "missing.heic").string(), &r), XpStatus::FileNotFound);
  // What exiftool reads from these: a directory of garbage values (RW2) and
  // nothing at all (RAF). Neither gives a position or a time.
  for (const char* file : {"exiv2-issue_839_poc.rw2", "exiv2-issue_857_poc.raf"}) {
    SCOPED_TRACE(file);
    const XpStatus status = XpPhotoMetadata::Read((kFormats / file).string(), &r);
    EXPECT_EQ(status == XpStatus::Ok, r.tree != nullptr);
    EXPECT_EQ(r.source, XpPhotoMetadata::PositionSource::None);
    EXPECT_EQ(r.dateTimeOriginal, "");
  }
  // That RAF file lacks the header signature: its content is no RAF.
  EXPECT_EQ(XpPhotoMetadata::Read((kFormats / "exiv2-issue_857_poc.raf").string(), &r), XpStatus::PhotoFormatUnknown);
}

namespace {

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsClearStatus(XpStatus st) {
  return st == XpStatus::Ok || st == XpStatus::NoExif || st == XpStatus::PhotoFormatUnknown ||
         st == XpStatus::PhotoContainerDamaged || st == XpStatus::JpegDecodeFailed;
}

}  // namespace

TEST(PhotoFormats, EveryCutAndEveryFlippedByteOfACraftedFileStaysInBounds) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kFormats / "crafted")) {
    if (entry.path().extension() == ".jsonl") {
      continue;
    }
    ++files;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<std::uint8_t> whole = ReadBytes(entry.path());
    ASSERT_FALSE(whole.empty());
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
      XpMemoryFile file(std::span(whole.data(), cut));
      XpPhotoLayout layout;
      if (XpPhotoMetadata::Locate(file, &layout) == XpStatus::Ok) {
        for (const XpByteRange* range : {&layout.tiff, &layout.xmp, &layout.jpeg, &layout.exifDirectory}) {
          if (range->IsPresent()) {
            EXPECT_LE(range->offset + range->length, static_cast<std::int64_t>(cut));
          }
        }
      }
      XpPhotoMetadata::Reading r;
      const XpStatus st = XpPhotoMetadata::Read(file, &r);
      ASSERT_TRUE(IsClearStatus(st)) << "cut at " << cut << ": " << XpStatusText(st);
      for (const XpByteRange& preview : r.previews) {
        EXPECT_LE(preview.offset + preview.length, static_cast<std::int64_t>(cut));
      }
    }
    std::vector<std::uint8_t> flipped = whole;
    for (std::size_t at = 0; at < whole.size(); ++at) {
      flipped[at] = static_cast<std::uint8_t>(whole[at] ^ 0xFF);
      XpMemoryFile file{std::span<const std::uint8_t>(flipped)};
      XpPhotoMetadata::Reading r;
      const XpStatus st = XpPhotoMetadata::Read(file, &r);
      ASSERT_TRUE(IsClearStatus(st)) << "byte " << at << ": " << XpStatusText(st);
      flipped[at] = whole[at];
    }
  }
  EXPECT_GE(files, 19);
}

TEST(PhotoFormats, TheSidecarBesideAPhotoIsFoundInAnyCase) {
  const testsupport::TempDir temp;
  const std::filesystem::path dir = temp.Path();
  const auto touch = [&](const char* name) { std::ofstream(dir / name) << "<x:xmpmeta/>"; };
  const std::string photo = (dir / "IMG_1.HEIC").string();
  touch("IMG_1.HEIC");
  EXPECT_EQ(XpPhotoMetadata::FindSidecar(photo), "");
  touch("IMG_1.XmP");
  EXPECT_EQ(XpPhotoMetadata::FindSidecar(photo), (dir / "IMG_1.XmP").string());
  // The sidecar named after the whole file name comes first.
  touch("IMG_1.HEIC.xmp");
  EXPECT_EQ(XpPhotoMetadata::FindSidecar(photo), (dir / "IMG_1.HEIC.xmp").string());
  // A folder of that name is no sidecar; another photo's sidecar is not this one's.
  std::filesystem::create_directories(dir / "IMG_2.jpg.xmp");
  touch("IMG_22.xmp");
  EXPECT_EQ(XpPhotoMetadata::FindSidecar((dir / "IMG_2.jpg").string()), "");
  XpPhotoMetadata::Reading r;
  std::filesystem::copy_file(kFormats / "crafted/png-exif.png", dir / "IMG_1.png");
  ASSERT_EQ(XpPhotoMetadata::Read((dir / "IMG_1.png").string(), &r), XpStatus::Ok);
  EXPECT_EQ(r.sidecar, (dir / "IMG_1.XmP").string());
}

TEST(PhotoFormats, HexExifTextDecodesOnlyWhenWhole) {
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(XpChunkedFormats::DecodeHexProfile("\nexif\n      8\n45786966000049492a00\n0800", 64, &out));
  // The identifier is dropped: what remains is the TIFF header.
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x49, 0x49}));
  ASSERT_TRUE(XpChunkedFormats::DecodeHexProfile("\nexif\n 4\n49 49\n2A 00", 64, &out));
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x49, 0x49, 0x2A, 0x00}));
  EXPECT_FALSE(XpChunkedFormats::DecodeHexProfile("\nexif\n 5\n4949", 64, &out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(XpChunkedFormats::DecodeHexProfile("\nexif\n 2\n4g49", 64, &out));
  EXPECT_FALSE(XpChunkedFormats::DecodeHexProfile("\nexif\n 99999999999999999999\n", 1 << 20, &out));
  EXPECT_FALSE(XpChunkedFormats::DecodeHexProfile("\nexif\n\n", 64, &out));
}

TEST(PhotoFormats, BoxSizesOfEveryFormAreBoundedByTheirContainer) {
  // size 1: a 64-bit size follows; size 0: up to the end of the container.
  const std::vector<std::uint8_t> bytes = {0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0,   0,   0,   0,   24, 1,
                                           2, 3, 4, 5, 6,   7,   8,   0,   0, 0, 0, 'm', 'd', 'a', 't', 9,  9};
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  XpIsoBmff::Box box;
  ASSERT_EQ(XpIsoBmff::ReadBox(file, 0, 34, &box), XpStatus::Ok);
  EXPECT_EQ(box.type, XpIsoBmff::FourCc("free"));
  EXPECT_EQ(box.payload, 16);
  EXPECT_EQ(box.end, 24);
  ASSERT_EQ(XpIsoBmff::ReadBox(file, 24, 34, &box), XpStatus::Ok);
  EXPECT_EQ(box.end, 34);
  // A box larger than its container, or smaller than its own header.
  EXPECT_EQ(XpIsoBmff::ReadBox(file, 0, 20, &box), XpStatus::PhotoContainerDamaged);
  const std::vector<std::uint8_t> tiny = {0, 0, 0, 4, 'f', 'r', 'e', 'e'};
  XpMemoryFile tinyFile{std::span<const std::uint8_t>(tiny)};
  EXPECT_EQ(XpIsoBmff::ReadBox(tinyFile, 0, 8, &box), XpStatus::PhotoContainerDamaged);
}

TEST(PhotoFormats, ASidecarPositionWinsOverThePhotosOwn) {
  const testsupport::TempDir temp;
  const std::filesystem::path dir = temp.Path();
  const std::filesystem::path photo = dir / "trip.tif";
  std::filesystem::copy_file(kFormats / "crafted/tiff-ii.tif", photo);
  const std::vector<std::uint8_t> before = ReadBytes(photo);
  const auto write = [](const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  };
  const std::string sidecarText =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
      "<rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">"
      "<exif:GPSLatitude>35,39.51483333N</exif:GPSLatitude><exif:GPSLongitude>139,44.72600000E</exif:GPSLongitude>"
      "</rdf:Description></rdf:RDF></x:xmpmeta>";

  XpPhotoMetadata::Reading own;
  ASSERT_EQ(XpPhotoMetadata::Read(photo.string(), &own), XpStatus::Ok);
  ASSERT_EQ(own.source, XpPhotoMetadata::PositionSource::File);
  const double ownLatitude = Decimal(own.gps.latitudeRef, own.gps.latitude);

  // A sidecar without a position leaves the photo's.
  write(dir / "trip.xmp", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>");
  XpPhotoMetadata::Reading r;
  ASSERT_EQ(XpPhotoMetadata::Read(photo.string(), &r), XpStatus::Ok);
  EXPECT_EQ(r.sidecar, (dir / "trip.xmp").string());
  EXPECT_EQ(r.source, XpPhotoMetadata::PositionSource::File);
  EXPECT_DOUBLE_EQ(Decimal(r.gps.latitudeRef, r.gps.latitude), ownLatitude);

  // NAME.EXT.xmp is taken before NAME.xmp, and its position wins.
  write(dir / "trip.tif.XMP", sidecarText);
  ASSERT_EQ(XpPhotoMetadata::Read(photo.string(), &r), XpStatus::Ok);
  EXPECT_EQ(r.sidecar, (dir / "trip.tif.XMP").string());
  EXPECT_EQ(r.source, XpPhotoMetadata::PositionSource::Sidecar);
  EXPECT_NEAR(Decimal(r.gps.latitudeRef, r.gps.latitude), 35.658580556, 1e-8);
  EXPECT_NEAR(Decimal(r.gps.longitudeRef, r.gps.longitude), 139.745433333, 1e-8);
  EXPECT_EQ(r.dateTimeOriginal, own.dateTimeOriginal);
  XpGPSRecord record;
  ASSERT_EQ(XpPhotoMetadata::ReadGPS(photo.string(), record), XpStatus::Ok);
  EXPECT_NEAR(Decimal(record.latitudeRef, record.latitude), 35.658580556, 1e-8);

  // A photo whose own metadata does not read still gets the sidecar's position.
  const std::filesystem::path bare = dir / "bare.png";
  std::filesystem::copy_file(kFormats / "exiv2-1343_comment.png", bare);
  XpGPSRecord none;
  EXPECT_EQ(XpPhotoMetadata::ReadGPS(bare.string(), none), XpStatus::NoExif);
  write(dir / "bare.png.xmp", sidecarText);
  ASSERT_EQ(XpPhotoMetadata::ReadGPS(bare.string(), record), XpStatus::Ok);
  EXPECT_NEAR(Decimal(record.latitudeRef, record.latitude), 35.658580556, 1e-8);

  // Reading changes nothing on disk.
  EXPECT_EQ(ReadBytes(photo), before);
}

TEST(PhotoFormats, EmbeddedJpegPreviewsAreFoundLargestFirst) {
  for (const char* file : {"crafted/raf-like.raf", "crafted/cr3-like.cr3"}) {
    SCOPED_TRACE(file);
    XpPhotoMetadata::Reading r;
    ASSERT_EQ(XpPhotoMetadata::Read((kFormats / file).string(), &r), XpStatus::Ok);
    ASSERT_FALSE(r.previews.empty());
    const std::vector<std::uint8_t> bytes = ReadBytes(kFormats / file);
    for (std::size_t i = 0; i < r.previews.size(); ++i) {
      const XpByteRange& p = r.previews[i];
      ASSERT_LE(p.offset + p.length, static_cast<std::int64_t>(bytes.size()));
      EXPECT_EQ(bytes[static_cast<std::size_t>(p.offset)], 0xFF);
      EXPECT_EQ(bytes[static_cast<std::size_t>(p.offset) + 1], 0xD8);
      if (i > 0) {
        EXPECT_GE(r.previews[i - 1].length, p.length);
      }
    }
  }
  // A plain TIFF picture holds none.
  XpPhotoMetadata::Reading r;
  ASSERT_EQ(XpPhotoMetadata::Read((kFormats / "exiv2-mini9.tif").string(), &r), XpStatus::Ok);
  EXPECT_TRUE(r.previews.empty());
}
