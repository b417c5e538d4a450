// Writing positions for photos of every read format: where each kind's
// position goes, XMP sidecars written beside photos that stay byte-identical,
// existing sidecars that keep every other byte, and the refusals, each with
// what stays on disk. exiftool reads the written sidecars back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xp/formats/XpPhotoMetadata.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/tests/JpegTestSupport.h"
#include "xp/tests/TestSupport.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

namespace fs = std::filesystem;
using XpPhotoWrite::Destination;

const fs::path kTestData(TV_TESTDATA_DIR);
const fs::path kCrafted = kTestData / "formats" / "crafted";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string Copy(const fs::path& from, const testsupport::TempDir& dir, const std::string& name) {
  const std::string to = dir / name;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  return to;
}

// A record at the given place, written as degrees and decimal minutes like a hand move.
XpGPSRecord RecordAt(double latitude, double longitude) {
  XpGPSRecord record;
  const auto set = [](double value, char positive, char negative, XpGPSRef* ref, XpGPSRational3* rationals) {
    const double magnitude = std::fabs(value);
    const double whole = std::floor(magnitude);
    ref->letter = static_cast<char16_t>(value < 0 ? negative : positive);
    ref->valid = 1;
    rationals->numerators = {static_cast<std::uint32_t>(whole),
                             static_cast<std::uint32_t>(std::llround((magnitude - whole) * 60 * 1000000)), 0};
    rationals->denominators = {1, 1000000, 1};
    rationals->valid = 1;
  };
  record.version.bytes = {2, 3, 0, 0};
  record.version.valid = 1;
  set(latitude, 'N', 'S', &record.latitudeRef, &record.latitude);
  set(longitude, 'E', 'W', &record.longitudeRef, &record.longitude);
  return record;
}

// exiftool's reading of one file, or a null value when it cannot run.
tifftest::Json Exiftool(const std::string& path) {
  const auto out = jpegtest::RunCommand("exiftool -n -j -GPS:all -XMP:all '" + path + "' 2>/dev/null");
  if (!out) {
    return {};
  }
  auto parsed = tifftest::JsonReader(std::string(out->begin(), out->end())).Parse();
  if (!parsed || parsed->items.empty()) {
    return {};
  }
  return parsed->items[0];
}

bool HaveExiftool() { return jpegtest::RunCommand("exiftool -ver >/dev/null 2>&1").has_value(); }

// No temporary file of a replacement is left in the folder.
std::vector<std::string> Leftovers(const testsupport::TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    if (entry.path().filename().string().find(".tvtmp-") != std::string::npos) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

const std::string kElementSidecar =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Some Toolkit 1.0\">\n"
    " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "  <rdf:Description rdf:about=\"\"\n"
    "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
    "    xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
    "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
    "   <xmp:Rating>4</xmp:Rating>\n"
    "   <exif:GPSLatitude>10,30.0N</exif:GPSLatitude>\n"
    "   <exif:GPSLongitude>20,15.0E</exif:GPSLongitude>\n"
    "   <exif:GPSSpeed>5/1</exif:GPSSpeed>\n"
    "   <dc:subject>\n"
    "    <rdf:Bag>\n"
    "     <rdf:li>harbour &amp; boats</rdf:li>\n"
    "    </rdf:Bag>\n"
    "   </dc:subject>\n"
    "  </rdf:Description>\n"
    " </rdf:RDF>\n"
    "</x:xmpmeta>\n";

const std::string kAttributeSidecarWithoutGps =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
    "   xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\"\n"
    "   xmp:Rating=\"2\" crs:Exposure2012=\"+0.35\" crs:Temperature=\"5200\"/>\n"
    "</rdf:RDF>\n"
    "</x:xmpmeta>\n";

TEST(PhotoWrite, EachKindIsWrittenWhereItsContentSays) {
  testsupport::TempDir dir;
  struct Case {
    fs::path source;
    std::string name;
    Destination destination;
    XpStatus status;
  };
  const Case cases[] = {
      {kTestData / "camera" / "exifpy-45-gps_ifd.jpg", "a.jpg", Destination::InFile, XpStatus::Ok},
      // A JPEG named like a raw file is still written in the file.
      {kTestData / "camera" / "exifpy-45-gps_ifd.jpg", "b.cr2", Destination::InFile, XpStatus::Ok},
      {kCrafted / "png-exif.png", "c.png", Destination::InFile, XpStatus::Ok},
      {kCrafted / "webp-exif-xmp.webp", "d.webp", Destination::InFile, XpStatus::Ok},
      {kCrafted / "tiff-ii.tif", "e.tif", Destination::InFile, XpStatus::Ok},
      {kCrafted / "heic-like.heic", "f.heic", Destination::Sidecar, XpStatus::Ok},
      // An AVIF whose Exif item has a file extent of its own is written in the file.
      {kCrafted / "avif-like.avif", "g.avif", Destination::InFile, XpStatus::Ok},
      {kCrafted / "cr2-like.cr2", "h.cr2", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "cr3-like.cr3", "i.cr3", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "dng-like.dng", "j.dng", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "orf-like.orf", "k.orf", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "rw2-like.rw2", "l.rw2", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "raf-like.raf", "m.raf", Destination::Sidecar, XpStatus::Ok},
      // A plain TIFF structure named like a raw kind is that raw kind.
      {kCrafted / "tiff-nogps.tif", "n.NEF", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "tiff-nogps.tif", "o.arw", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "oracle.jsonl", "p.jpg", Destination::NotWritable, XpStatus::PhotoFormatUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Copy(c.source, dir, c.name);
    const XpPhotoWrite::Where where = XpPhotoWrite::WhereWritten(path);
    EXPECT_EQ(where.destination, c.destination);
    EXPECT_EQ(where.status, c.status);
    if (c.destination == Destination::Sidecar) {
      ASSERT_EQ(where.sidecars.size(), 1U);
      EXPECT_EQ(where.sidecars[0], path + ".xmp");
      EXPECT_TRUE(where.createsSidecar);
    } else {
      EXPECT_TRUE(where.sidecars.empty());
    }
  }
  EXPECT_EQ(XpPhotoWrite::WhereWritten(dir / "missing.cr2").status, XpStatus::FileNotFound);
  EXPECT_EQ(XpPhotoWrite::WhereWritten(dir.Path()).status, XpStatus::PhotoFormatUnknown);
  EXPECT_EQ(XpPhotoWrite::WhereWritten(Copy(kCrafted / "tiff-nogps.tif", dir, "q.nef")).format, XpPhotoFormat::Nef);
  EXPECT_EQ(XpPhotoWrite::DestinationName(Destination::Sidecar), "sidecar");
  EXPECT_EQ(XpPhotoWrite::DestinationName(Destination::InFile), "file");
  EXPECT_EQ(XpPhotoWrite::DestinationName(Destination::NotWritable), "none");
}

TEST(PhotoWrite, ANewSidecarHoldsThePositionAndThePhotoStaysByteIdentical) {
  const bool exiftool = HaveExiftool();
  testsupport::TempDir dir;
  for (const char* name : {"heic-like.heic", "heic-idat.heic", "cr2-like.cr2", "cr3-like.cr3", "dng-like.dng",
                           "orf-like.orf", "orf-mm-like.orf", "rw2-like.rw2", "raf-like.raf"}) {
    SCOPED_TRACE(name);
    const std::string path = Copy(kCrafted / name, dir, name);
    const std::string before = ReadAll(path);
    XpGPSRecord record = RecordAt(-35.2809, 149.13);
    record.altitudeRef.letter = 1;
    record.altitudeRef.valid = 1;
    record.altitude.numerator = 4250;
    record.altitude.denominator = 100;
    record.altitude.valid = 1;
    XpPhotoWrite::Where where;
    ASSERT_EQ(XpPhotoWrite::WriteGPS(path, record, {}, &where), XpStatus::Ok);
    EXPECT_EQ(where.destination, Destination::Sidecar);
    EXPECT_EQ(ReadAll(path), before);
    const std::string sidecar = path + ".xmp";
    ASSERT_TRUE(fs::exists(sidecar));
    EXPECT_TRUE(Leftovers(dir).empty());

    // The reader takes the sidecar's position over the photo's own.
    XpPhotoMetadata::Reading reading;
    (void)XpPhotoMetadata::Read(path, &reading);
    EXPECT_EQ(reading.source, XpPhotoMetadata::PositionSource::Sidecar);
    EXPECT_EQ(reading.sidecar, sidecar);
    XpGPSRecord back;
    ASSERT_EQ(XpPhotoWrite::ReadGPS(path, back), XpStatus::Ok);
    EXPECT_EQ(back.latitudeRef.letter, u'S');
    EXPECT_EQ(back.longitudeRef.letter, u'E');
    EXPECT_EQ(back.altitudeRef.letter, 1);

    // A second write updates the sidecar it made.
    ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1.5, -2.25)), XpStatus::Ok);
    EXPECT_EQ(XpPhotoWrite::WhereWritten(path).sidecars, std::vector<std::string>{sidecar});
    EXPECT_FALSE(XpPhotoWrite::WhereWritten(path).createsSidecar);
    EXPECT_EQ(ReadAll(path), before);
    if (exiftool) {
      const tifftest::Json o = Exiftool(sidecar);
      ASSERT_FALSE(o.IsNull());
      EXPECT_NEAR(o["GPSLatitude"].number, 1.5, 1e-8);
      EXPECT_NEAR(o["GPSLongitude"].number, -2.25, 1e-8);
      // The old fix's altitude stays with a hand move that does not set one.
      EXPECT_NEAR(o["GPSAltitude"].number, 42.5, 1e-9);
      EXPECT_EQ(o["GPSAltitudeRef"].number, 1);
      EXPECT_EQ(o["GPSVersionID"].text, "2.3.0.0");
      const std::string extension = std::string(name).substr(std::string(name).rfind('.') + 1);
      EXPECT_EQ(o["SidecarForExtension"].text, extension);
      EXPECT_FALSE(o.Has("GPSDateTime"));
    }
    // Nothing but the position and the extension.
    const std::string text = ReadAll(sidecar);
    EXPECT_NE(text.find("exif:GPSLatitude=\"1,30.00000000N\""), std::string::npos) << text;
    EXPECT_NE(text.find("exif:GPSLongitude=\"2,15.00000000W\""), std::string::npos) << text;
  }
}

TEST(PhotoWrite, AFixWithItsUtcTimeWritesTheTimeStampAndDropsTheOldFixsDetails) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "tiff-nogps.tif", dir, "fix.dng");
  const std::string sidecar = dir / "fix.dng.xmp";
  WriteText(sidecar, kElementSidecar);
  XpGPSRecord record = RecordAt(48.1, 11.5);
  record.timeStamp.numerators = {13, 40, 26};
  record.timeStamp.denominators = {1, 1, 1};
  record.timeStamp.valid = 1;
  const std::string date = "2009:06:24";
  std::copy(date.begin(), date.end(), record.dateStamp.text.begin());
  record.dateStamp.valid = 1;
  ASSERT_EQ(XpPhotoWrite::WriteGPS(path, record), XpStatus::Ok);
  const std::string text = ReadAll(sidecar);
  EXPECT_NE(text.find("<exif:GPSTimeStamp>2009-06-24T13:40:26Z</exif:GPSTimeStamp>"), std::string::npos) << text;
  EXPECT_EQ(text.find("GPSSpeed"), std::string::npos) << text;
  EXPECT_NE(text.find("<rdf:li>harbour &amp; boats</rdf:li>"), std::string::npos);
  if (HaveExiftool()) {
    const tifftest::Json o = Exiftool(sidecar);
    ASSERT_FALSE(o.IsNull());
    EXPECT_EQ(o["GPSDateTime"].text, "2009:06:24 13:40:26Z");
    EXPECT_NEAR(o["GPSLatitude"].number, 48.1, 1e-8);
    EXPECT_EQ(o["Rating"].number, 4);
  }
}

// Sets the write policy for one scope and puts the default back after it.
class PolicyScope {
 public:
  explicit PolicyScope(bool rawInFile) {
    XpPhotoWrite::Policy policy;
    policy.rawInFile = rawInFile;
    XpPhotoWrite::SetPolicy(policy);
  }
  ~PolicyScope() { XpPhotoWrite::SetPolicy({}); }
  PolicyScope(const PolicyScope&) = delete;
  PolicyScope& operator=(const PolicyScope&) = delete;
};

TEST(PhotoWrite, UnderTheRawInFileSettingTiffRawKindsAreWrittenInTheirFile) {
  EXPECT_FALSE(XpPhotoWrite::GetPolicy().rawInFile);
  const bool exiftool = HaveExiftool();
  testsupport::TempDir dir;
  const PolicyScope scope(true);
  struct Case {
    const char* source;
    const char* name;
    Destination destination;
    XpPhotoFormat format;
  };
  const Case cases[] = {
      {"dng-like.dng", "a.dng", Destination::InFile, XpPhotoFormat::Dng},
      {"cr2-like.cr2", "b.cr2", Destination::InFile, XpPhotoFormat::Cr2},
      {"tiff-nogps.tif", "c.NEF", Destination::InFile, XpPhotoFormat::Nef},
      {"tiff-mm.tif", "d.pef", Destination::InFile, XpPhotoFormat::Pef},
      // An Olympus raw file keeps its own header (each of its three magics).
      {"orf-like.orf", "f.orf", Destination::InFile, XpPhotoFormat::Orf},
      {"orf-rs-like.orf", "f2.ORF", Destination::InFile, XpPhotoFormat::Orf},
      {"orf-mm-like.orf", "f3.orf", Destination::InFile, XpPhotoFormat::Orf},
      // The kinds whose makers' software breaks on edited files keep sidecars.
      {"tiff-nogps.tif", "e.arw", Destination::Sidecar, XpPhotoFormat::Arw},
      {"rw2-like.rw2", "g.rw2", Destination::Sidecar, XpPhotoFormat::Rw2},
      {"cr3-like.cr3", "h.cr3", Destination::Sidecar, XpPhotoFormat::Cr3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Copy(kCrafted / c.source, dir, c.name);
    const std::string before = ReadAll(path);
    XpPhotoWrite::Where where;
    ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(47.3769, 8.5417), {}, &where), XpStatus::Ok);
    EXPECT_EQ(where.destination, c.destination);
    EXPECT_EQ(where.format, c.format);
    EXPECT_EQ(XpPhotoWrite::IsRawWrittenInFile(where.format), c.destination == Destination::InFile);
    EXPECT_TRUE(Leftovers(dir).empty());
    if (c.destination == Destination::Sidecar) {
      EXPECT_EQ(ReadAll(path), before);
      EXPECT_TRUE(fs::exists(path + ".xmp"));
      continue;
    }
    EXPECT_FALSE(fs::exists(path + ".xmp"));
    // Append-only, through the TIFF writer (whose tag-by-tag check against
    // exiftool covers these samples): the file grows by the new directory.
    EXPECT_GT(ReadAll(path).size(), before.size());
    EXPECT_EQ(ReadAll(path).substr(0, 4), before.substr(0, 4));
    if (c.format == XpPhotoFormat::Orf) {
      EXPECT_EQ(XpPhotoMetadata::SniffFile(path), XpPhotoFormat::Orf);
    }
    XpGPSRecord back;
    ASSERT_EQ(XpPhotoWrite::ReadGPS(path, back), XpStatus::Ok);
    EXPECT_EQ(back.latitudeRef.letter, u'N');
    if (exiftool) {
      const tifftest::Json o = Exiftool(path);
      ASSERT_FALSE(o.IsNull());
      EXPECT_NEAR(o["GPSLatitude"].number, 47.3769, 1e-6);
      EXPECT_NEAR(o["GPSLongitude"].number, 8.5417, 1e-6);
    }
    // The position can be taken out of the file again.
    ASSERT_EQ(XpPhotoWrite::RemoveGPS(path), XpStatus::Ok);
    EXPECT_EQ(XpPhotoWrite::ReadGPS(path, back), XpStatus::NoExif);
  }

  // A sidecar that already belongs to the photo keeps the position, and the
  // photo stays as it is.
  const std::string paired = Copy(kCrafted / "dng-like.dng", dir, "paired.dng");
  const std::string photo = ReadAll(paired);
  WriteText(paired + ".xmp", kElementSidecar);
  XpPhotoWrite::Where where;
  ASSERT_EQ(XpPhotoWrite::WriteGPS(paired, RecordAt(1, 2), {}, &where), XpStatus::Ok);
  EXPECT_EQ(where.destination, Destination::Sidecar);
  EXPECT_EQ(where.notInFile, XpStatus::SidecarHoldsPosition);
  EXPECT_EQ(ReadAll(paired), photo);
  EXPECT_NE(ReadAll(paired + ".xmp"), kElementSidecar);
}

TEST(PhotoWrite, AnExistingSidecarKeepsEveryOtherByte) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "cr2-like.cr2", dir, "IMG_7.CR2");
  const std::string photo = ReadAll(path);

  // Element form with a position: only the values change (a hand move keeps
  // the speed, which the record does not describe).
  const std::string sidecar = dir / "IMG_7.CR2.xmp";
  WriteText(sidecar, kElementSidecar);
  ::chmod(sidecar.c_str(), 0640);
  ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(-10.5, -20.25)), XpStatus::Ok);
  std::string expected = kElementSidecar;
  expected.replace(expected.find("10,30.0N"), 8, "10,30.00000000S");
  expected.replace(expected.find("20,15.0E"), 8, "20,15.00000000W");
  EXPECT_EQ(ReadAll(sidecar), expected);
  EXPECT_EQ(ReadAll(path), photo);
  struct stat info {};
  ASSERT_EQ(::stat(sidecar.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640U);

  // Attribute form without a position: a block is added, the rest stays.
  WriteText(sidecar, kAttributeSidecarWithoutGps);
  ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(35.0, 135.5)), XpStatus::Ok);
  const std::string written = ReadAll(sidecar);
  const std::size_t block = written.find(" <rdf:Description rdf:about=\"\" xmlns:rdf=");
  ASSERT_NE(block, std::string::npos) << written;
  // The block ends with the line break that stood in front of the end tag.
  const std::size_t blockEnd = written.find("/>", block) + 3;
  EXPECT_EQ(written.substr(0, block) + written.substr(blockEnd), kAttributeSidecarWithoutGps) << written;
  if (HaveExiftool()) {
    const tifftest::Json o = Exiftool(sidecar);
    ASSERT_FALSE(o.IsNull());
    EXPECT_NEAR(o["GPSLatitude"].number, 35.0, 1e-8);
    EXPECT_NEAR(o["GPSLongitude"].number, 135.5, 1e-8);
    EXPECT_EQ(o["Rating"].number, 2);
    EXPECT_EQ(o["ColorTemperature"].number, 5200);
    EXPECT_EQ(o["Exposure2012"].text, "+0.35");
  }
  EXPECT_EQ(ReadAll(path), photo);
}

TEST(PhotoWrite, ABaseNameSidecarIsUpdatedOnlyWhenItBelongsToThePhoto) {
  testsupport::TempDir dir;
  const std::string raw = Copy(kCrafted / "cr3-like.cr3", dir, "IMG_1.CR3");
  const std::string shared = dir / "IMG_1.xmp";

  // Alone in the folder: IMG_1.xmp is the raw file's.
  WriteText(shared, kElementSidecar);
  EXPECT_EQ(XpPhotoWrite::OwnSidecars(raw), std::vector<std::string>{shared});
  ASSERT_EQ(XpPhotoWrite::WriteGPS(raw, RecordAt(5, 6)), XpStatus::Ok);
  EXPECT_NE(ReadAll(shared).find("5,00.00000000N"), std::string::npos);
  EXPECT_FALSE(fs::exists(raw + ".xmp"));

  // A JPEG shares the base name: the unmarked IMG_1.xmp is left alone and
  // the raw file gets a sidecar of its own.
  Copy(kTestData / "camera" / "exifpy-45-gps_ifd.jpg", dir, "img_1.jpg");
  WriteText(shared, kElementSidecar);
  EXPECT_TRUE(XpPhotoWrite::OwnSidecars(raw).empty());
  ASSERT_EQ(XpPhotoWrite::WriteGPS(raw, RecordAt(7, 8)), XpStatus::Ok);
  EXPECT_EQ(ReadAll(shared), kElementSidecar);
  EXPECT_TRUE(fs::exists(raw + ".xmp"));
  fs::remove(raw + ".xmp");

  // Marked for the raw file's extension (any case), it is the raw file's again.
  std::string marked = kElementSidecar;
  marked.replace(marked.find("   <xmp:Rating>"), 0,
                 "   <photoshop:SidecarForExtension xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\">cr3"
                 "</photoshop:SidecarForExtension>\n");
  WriteText(shared, marked);
  EXPECT_EQ(XpPhotoWrite::OwnSidecars(raw), std::vector<std::string>{shared});
  // Both sidecars of the photo are updated, in either case of the extension.
  const std::string own = dir / "IMG_1.CR3.XMP";
  WriteText(own, kAttributeSidecarWithoutGps);
  ASSERT_EQ(XpPhotoWrite::WriteGPS(raw, RecordAt(9, 10)), XpStatus::Ok);
  EXPECT_NE(ReadAll(shared).find("9,00.00000000N"), std::string::npos);
  EXPECT_NE(ReadAll(own).find("9,00.00000000N"), std::string::npos);
  XpGPSRecord back;
  ASSERT_EQ(XpPhotoMetadata::ReadGPS(raw, back), XpStatus::Ok);
  EXPECT_EQ(back.latitude.numerators[0], 9U);

  // Marked for another extension, it is not.
  marked.replace(marked.find(">cr3<"), 5, ">JPG<");
  WriteText(shared, marked);
  fs::remove(dir / "img_1.jpg");
  EXPECT_EQ(XpPhotoWrite::OwnSidecars(raw), std::vector<std::string>{own});

  // The reader keeps to the same rule: a base-name sidecar marked for another
  // photo's extension gives this photo no position of its own.
  fs::remove(own);
  const std::string other =
      "<?xpacket begin=\"\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
      "rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
      "xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" "
      "photoshop:SidecarForExtension=\"NEF\" exif:GPSLatitude=\"48,51.5N\" "
      "exif:GPSLongitude=\"2,17.5E\"/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
  WriteText(shared, other);
  EXPECT_TRUE(XpPhotoMetadata::FindSidecar(raw).empty());
  XpPhotoMetadata::Reading reading;
  (void)XpPhotoMetadata::Read(raw, &reading);
  EXPECT_NE(reading.source, XpPhotoMetadata::PositionSource::Sidecar);
  // Marked for this photo, the same packet is its position.
  std::string mine = other;
  mine.replace(mine.find("\"NEF\""), 5, "\"Cr3\"");
  WriteText(shared, mine);
  EXPECT_EQ(XpPhotoMetadata::FindSidecar(raw), shared);
  (void)XpPhotoMetadata::Read(raw, &reading);
  EXPECT_EQ(reading.source, XpPhotoMetadata::PositionSource::Sidecar);
  EXPECT_EQ(reading.gps.latitude.numerators[0], 48U);
}

TEST(PhotoWrite, RemovingTakesOutTheSidecarsPositionAndNothingElse) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "tiff-nogps.tif", dir, "plain.pef");
  const std::string photo = ReadAll(path);
  // Without a sidecar there is nothing to remove, and nothing is created.
  ASSERT_EQ(XpPhotoWrite::RemoveGPS(path), XpStatus::Ok);
  EXPECT_FALSE(fs::exists(path + ".xmp"));

  const std::string sidecar = path + ".xmp";
  WriteText(sidecar, kElementSidecar);
  ASSERT_EQ(XpPhotoWrite::RemoveGPS(path), XpStatus::Ok);
  std::string expected = kElementSidecar;
  for (const char* line :
       {"\n   <exif:GPSLatitude>10,30.0N</exif:GPSLatitude>", "\n   <exif:GPSLongitude>20,15.0E</exif:GPSLongitude>",
        "\n   <exif:GPSSpeed>5/1</exif:GPSSpeed>"}) {
    expected.erase(expected.find(line), std::string(line).size());
  }
  EXPECT_EQ(ReadAll(sidecar), expected);
  EXPECT_EQ(ReadAll(path), photo);
  XpGPSRecord back;
  EXPECT_EQ(XpPhotoMetadata::ReadGPS(path, back), XpStatus::NoExif);
  if (HaveExiftool()) {
    const tifftest::Json o = Exiftool(sidecar);
    ASSERT_FALSE(o.IsNull());
    EXPECT_FALSE(o.Has("GPSLatitude"));
    EXPECT_EQ(o["Rating"].number, 4);
  }
}

TEST(PhotoWrite, RemovingFromARawFileThatHoldsItsOwnPositionIsRefused) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "dng-like.dng", dir, "own.dng");
  const std::string photo = ReadAll(path);
  const std::string sidecar = path + ".xmp";
  WriteText(sidecar, kElementSidecar);
  EXPECT_EQ(XpPhotoWrite::RemoveGPS(path), XpStatus::PositionStaysInPhoto);
  EXPECT_EQ(ReadAll(sidecar), kElementSidecar);
  EXPECT_EQ(ReadAll(path), photo);
  // Also without a sidecar: the position the photo shows stays.
  fs::remove(sidecar);
  EXPECT_EQ(XpPhotoWrite::RemoveGPS(path), XpStatus::PositionStaysInPhoto);
  EXPECT_FALSE(fs::exists(sidecar));
}

TEST(PhotoWrite, ProtectedSidecarsAndFoldersAreRefusedAndStayAsTheyWere) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "rw2-like.rw2", dir, "p.rw2");
  const std::string photo = ReadAll(path);
  const std::string sidecar = path + ".xmp";
  WriteText(sidecar, kElementSidecar);
  ASSERT_EQ(::chmod(sidecar.c_str(), 0444), 0);
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1, 2)), XpStatus::PictureReadOnly);
  EXPECT_EQ(XpPhotoWrite::RemoveGPS(path), XpStatus::PositionStaysInPhoto);
  EXPECT_EQ(ReadAll(sidecar), kElementSidecar);
  EXPECT_EQ(ReadAll(path), photo);
  EXPECT_TRUE(Leftovers(dir).empty());

  // A folder nobody may write: no sidecar is created in it.
  testsupport::TempDir locked;
  const std::string inLocked = Copy(kCrafted / "raf-like.raf", locked, "r.raf");
  ASSERT_EQ(::chmod(locked.Path().c_str(), 0555), 0);
  EXPECT_EQ(XpPhotoWrite::WriteGPS(inLocked, RecordAt(1, 2)), XpStatus::PictureReadOnly);
  ASSERT_EQ(::chmod(locked.Path().c_str(), 0755), 0);
  EXPECT_FALSE(fs::exists(inLocked + ".xmp"));
  EXPECT_EQ(ReadAll(inLocked), ReadAll((kCrafted / "raf-like.raf").string()));
}

TEST(PhotoWrite, ASidecarChangedOrCreatedMeanwhileIsNotOverwritten) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "orf-like.orf", dir, "c.orf");
  const std::string sidecar = path + ".xmp";
  WriteText(sidecar, kElementSidecar);
  const std::string theirs = kAttributeSidecarWithoutGps;
  XpExifRewrite::Hooks hooks;
  hooks.beforeCommit = [&](const std::string&) {
    WriteText(sidecar, theirs);
    return XpStatus::Ok;
  };
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1, 2), hooks), XpStatus::ChangedOnDisk);
  EXPECT_EQ(ReadAll(sidecar), theirs);
  EXPECT_TRUE(Leftovers(dir).empty());

  // Another program creates the sidecar while the new one is being written.
  fs::remove(sidecar);
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1, 2), hooks), XpStatus::ChangedOnDisk);
  EXPECT_EQ(ReadAll(sidecar), theirs);
  EXPECT_TRUE(Leftovers(dir).empty());

  // A written sidecar that does not read back as meant is not put in place.
  hooks.beforeCommit = [](const std::string& temp) {
    std::ofstream(temp, std::ios::app) << "<!-- more -->";
    return XpStatus::Ok;
  };
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1, 2), hooks), XpStatus::SidecarCheckFailed);
  EXPECT_EQ(ReadAll(sidecar), theirs);
  EXPECT_TRUE(Leftovers(dir).empty());
}

TEST(PhotoWrite, AllSidecarsOfAPhotoChangeTogetherOrNoneDoes) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "tiff-nogps.tif", dir, "IMG_4.PEF");
  const std::string photo = ReadAll(path);
  const std::string first = dir / "IMG_4.PEF.xmp";
  const std::string second = dir / "IMG_4.PEF.XMP";
  const std::string third = dir / "IMG_4.xmp";
  WriteText(first, kElementSidecar);
  WriteText(second, kAttributeSidecarWithoutGps);
  WriteText(third, kElementSidecar);
  const std::vector<std::string> sidecars = XpPhotoWrite::OwnSidecars(path);
  ASSERT_EQ(sidecars.size(), 3U);
  const auto unchanged = [&](const char* what) {
    EXPECT_EQ(ReadAll(first), kElementSidecar) << what;
    EXPECT_EQ(ReadAll(second), kAttributeSidecarWithoutGps) << what;
    EXPECT_EQ(ReadAll(third), kElementSidecar) << what;
    EXPECT_EQ(ReadAll(path), photo) << what;
    EXPECT_TRUE(Leftovers(dir).empty()) << what;
  };

  // The last rename fails after the others were renamed: they are put back.
  for (const std::size_t failing : {std::size_t{0}, std::size_t{1}, std::size_t{2}}) {
    XpExifRewrite::Hooks hooks;
    hooks.beforeRename = [&](const std::string& target) {
      return target == fs::canonical(sidecars[failing]).string() ? XpStatus::DiskFull : XpStatus::Ok;
    };
    XpPhotoWrite::Where where;
    EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(3, 4), hooks, &where), XpStatus::DiskFull) << failing;
    EXPECT_EQ(where.failed, fs::canonical(sidecars[failing]).string());
    unchanged("rename");
    // A removal leaves the sidecar without a position alone, so it cannot fail there.
    if (failing != 1) {
      EXPECT_EQ(XpPhotoWrite::RemoveGPS(path, hooks, &where), XpStatus::DiskFull) << failing;
      EXPECT_EQ(where.failed, fs::canonical(sidecars[failing]).string());
      unchanged("removal");
    }
  }

  // A later sidecar that does not check out stops the write before any rename.
  XpExifRewrite::Hooks spoil;
  int temps = 0;
  spoil.beforeCommit = [&](const std::string& temp) {
    if (++temps == 3) {
      std::ofstream(temp, std::ios::app) << "<!-- more -->";
    }
    return XpStatus::Ok;
  };
  XpPhotoWrite::Where where;
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(3, 4), spoil, &where), XpStatus::SidecarCheckFailed);
  EXPECT_EQ(where.failed, fs::canonical(sidecars[2]).string());
  unchanged("check");

  // A sidecar someone else changes while the others are prepared is not
  // overwritten, and neither are the others.
  XpExifRewrite::Hooks theirs;
  theirs.beforeCommit = [&](const std::string&) {
    WriteText(first, kAttributeSidecarWithoutGps);
    return XpStatus::Ok;
  };
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(3, 4), theirs, &where), XpStatus::ChangedOnDisk);
  EXPECT_EQ(where.failed, fs::canonical(first).string());
  EXPECT_EQ(ReadAll(first), kAttributeSidecarWithoutGps);
  EXPECT_EQ(ReadAll(second), kAttributeSidecarWithoutGps);
  EXPECT_EQ(ReadAll(third), kElementSidecar);
  EXPECT_TRUE(Leftovers(dir).empty());

  // Without a failure every one of them gets the position.
  WriteText(first, kElementSidecar);
  ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(3, 4), {}, &where), XpStatus::Ok);
  EXPECT_TRUE(where.failed.empty());
  for (const std::string& sidecar : sidecars) {
    const std::string text = ReadAll(sidecar);
    EXPECT_NE(text.find("3,00.00000000N"), std::string::npos) << sidecar << text;
    EXPECT_NE(text.find("4,00.00000000E"), std::string::npos) << sidecar << text;
  }
  EXPECT_EQ(ReadAll(path), photo);
  EXPECT_TRUE(Leftovers(dir).empty());
}

TEST(PhotoWrite, ACreatedSidecarWhoseRenameFailsIsNotLeftBehind) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "raf-like.raf", dir, "n.raf");
  XpExifRewrite::Hooks hooks;
  hooks.beforeRename = [](const std::string&) { return XpStatus::DiskFull; };
  XpPhotoWrite::Where where;
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1, 2), hooks, &where), XpStatus::DiskFull);
  EXPECT_EQ(where.failed, path + ".xmp");
  EXPECT_FALSE(fs::exists(path + ".xmp"));
  EXPECT_TRUE(Leftovers(dir).empty());
  EXPECT_EQ(ReadAll(path), ReadAll((kCrafted / "raf-like.raf").string()));
}

TEST(PhotoWrite, TheReaderTakesTheFirstOfTheSidecarsTheWriterWrites) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "tiff-nogps.tif", dir, "IMG_8.PEF");
  EXPECT_TRUE(XpPhotoMetadata::XmpFilesFor(path).empty());
  EXPECT_EQ(XpPhotoMetadata::FindSidecar(path), "");
  // Only the base name's sidecar, in upper case.
  const std::string stem = dir / "IMG_8.XMP";
  WriteText(stem, kElementSidecar);
  EXPECT_EQ(XpPhotoMetadata::XmpFilesFor(dir / "IMG_8"), std::vector<std::string>{stem});
  EXPECT_EQ(XpPhotoMetadata::FindSidecar(path), stem);
  // Then the photo's own in two cases: the reader takes the first of them,
  // which is also the first the writer lists; a hard link counts once.
  const std::string mixed = path + ".Xmp";
  const std::string upper = path + ".XMP";
  WriteText(mixed, kAttributeSidecarWithoutGps);
  WriteText(upper, kElementSidecar);
  fs::create_hard_link(upper, path + ".xMP");
  const std::vector<std::string> own = XpPhotoMetadata::XmpFilesFor(path);
  ASSERT_EQ(own.size(), 2U);
  EXPECT_EQ(XpPhotoMetadata::FindSidecar(path), own.front());
  EXPECT_EQ(XpPhotoWrite::OwnSidecars(path).front(), own.front());
  EXPECT_EQ(XpPhotoWrite::OwnSidecars(path).size(), 3U);
}

// HEIC, HEIF and AVIF: in the file when nothing else in it moves, else a
// sidecar, and the answer says why; a sidecar photo stays byte-identical.
TEST(PhotoWrite, AHeifPhotoIsWrittenInItsFileOnlyWhenThatIsSafe) {
  testsupport::TempDir dir;
  const fs::path formats = kTestData / "formats";
  struct Case {
    fs::path source;
    XpStatus notInFile;  // 0: in the file
  };
  const Case cases[] = {
      {formats / "mde-IMG_1034.heic", XpStatus::Ok},
      {formats / "mde-IMG_2927.HEIC", XpStatus::Ok},
      {formats / "mde-exif-at-eof.heic", XpStatus::Ok},
      {formats / "exiv2-avif.avif", XpStatus::Ok},
      {kCrafted / "heic-noiref.heic", XpStatus::Ok},
      // No Exif item.
      {formats / "exiv2-avif_metadata2.avif", XpStatus::Ok},
      {formats / "mde-cheers_1440x960.heic", XpStatus::HeifNotEditable},
      // The Exif item stands in the meta box's idat, not in a file extent.
      {kCrafted / "heic-idat.heic", XpStatus::HeifNotEditable},
      // Its XMP item holds a position of its own.
      {kCrafted / "heic-like.heic", XpStatus::HeifNotEditable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source.filename().string());
    const std::string path = Copy(c.source, dir, c.source.filename().string());
    const std::string before = ReadAll(path);
    XpPhotoWrite::Where where;
    ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(-33.5, 151.25), {}, &where), XpStatus::Ok);
    EXPECT_EQ(where.notInFile, c.notInFile);
    XpPhotoMetadata::Reading reading;
    (void)XpPhotoMetadata::Read(path, &reading);
    double latitude = 0;
    ASSERT_TRUE(reading.gps.latitude.IsValid());
    latitude = reading.gps.latitude.numerators[0] +
               static_cast<double>(reading.gps.latitude.numerators[1]) / reading.gps.latitude.denominators[1] / 60;
    EXPECT_NEAR(latitude, 33.5, 1e-6);
    EXPECT_EQ(reading.gps.latitudeRef.letter, u'S');
    if (c.notInFile == XpStatus::Ok) {
      EXPECT_EQ(where.destination, Destination::InFile);
      EXPECT_EQ(reading.source, XpPhotoMetadata::PositionSource::File);
      EXPECT_FALSE(fs::exists(path + ".xmp"));
      EXPECT_NE(ReadAll(path), before);
    } else {
      EXPECT_EQ(where.destination, Destination::Sidecar);
      EXPECT_EQ(reading.source, XpPhotoMetadata::PositionSource::Sidecar);
      EXPECT_EQ(ReadAll(path), before);
      // With a sidecar, later writes keep going there.
      EXPECT_EQ(XpPhotoWrite::WhereWritten(path).notInFile, XpStatus::SidecarHoldsPosition);
    }
    EXPECT_TRUE(Leftovers(dir).empty());
  }

  // Bytes behind the last box, an unknown top-level box, a motion photo: the sidecar.
  const std::string base = ReadAll((kCrafted / "heic-noiref.heic").string());
  const std::vector<std::pair<std::string, std::string>> unsafe = {
      {"trailer.heic", base + std::string("\xFF\xD8 video", 8)},
      {"unknown.heic", base + std::string("\0\0\0\x10moov\0\0\0\0\0\0\0\0", 16)},
  };
  for (const auto& [name, bytes] : unsafe) {
    SCOPED_TRACE(name);
    const std::string path = dir / name;
    WriteText(path, bytes);
    const XpPhotoWrite::Where where = XpPhotoWrite::WhereWritten(path);
    EXPECT_EQ(where.destination, Destination::Sidecar);
    EXPECT_EQ(where.notInFile, XpStatus::HeifNotEditable);
    ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1, 2)), XpStatus::Ok);
    EXPECT_EQ(ReadAll(path), bytes);
    EXPECT_TRUE(fs::exists(path + ".xmp"));
  }
}

TEST(PhotoWrite, UnwritableInputIsRefusedAndNothingChanges) {
  testsupport::TempDir dir;
  // A damaged sidecar is not rewritten.
  const std::string path = Copy(kCrafted / "heic-like.heic", dir, "d.heic");
  const std::string sidecar = path + ".xmp";
  const std::string broken = kElementSidecar.substr(0, 200);
  WriteText(sidecar, broken);
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(1, 2)), XpStatus::XmpInvalid);
  EXPECT_EQ(ReadAll(sidecar), broken);
  // A record without a writable position.
  fs::remove(sidecar);
  XpGPSRecord empty;
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, empty), XpStatus::BadCoordinate);
  XpGPSRecord far = RecordAt(1, 2);
  far.latitude.numerators[0] = 95;
  EXPECT_EQ(XpPhotoWrite::WriteGPS(path, far), XpStatus::BadCoordinate);
  EXPECT_FALSE(fs::exists(sidecar));
  // PNG, WebP and TIFF are written in the file: no sidecar.
  for (const char* name : {"png-exif.png", "webp-exif-xmp.webp", "tiff-ii.tif"}) {
    const std::string other = Copy(kCrafted / name, dir, name);
    XpPhotoWrite::Where where;
    EXPECT_EQ(XpPhotoWrite::WriteGPS(other, RecordAt(1, 2), {}, &where), XpStatus::Ok) << name;
    EXPECT_EQ(where.destination, Destination::InFile);
    XpGPSRecord back;
    ASSERT_EQ(XpPhotoMetadata::ReadGPS(other, back), XpStatus::Ok) << name;
    EXPECT_EQ(back.latitude.numerators[0], 1U) << name;
    EXPECT_EQ(XpPhotoWrite::RemoveGPS(other), XpStatus::Ok) << name;
    EXPECT_FALSE(fs::exists(other + ".xmp"));
  }
  // Content it does not read.
  const std::string text = dir / "notes.cr2";
  WriteText(text, "not a photo");
  EXPECT_EQ(XpPhotoWrite::WriteGPS(text, RecordAt(1, 2)), XpStatus::PhotoFormatUnknown);
  EXPECT_EQ(ReadAll(text), "not a photo");
}

TEST(PhotoWrite, AJpegIsStillWrittenInItsFile) {
  testsupport::TempDir dir;
  const std::string path = Copy(kTestData / "camera" / "exifpy-45-gps_ifd.jpg", dir, "in.jpg");
  XpExifRewrite::Hooks hooks;
  hooks.dateTime = "2024:01:02 03:04:05";
  ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(12.5, 45.25), hooks), XpStatus::Ok);
  EXPECT_FALSE(fs::exists(path + ".xmp"));
  XpGPSRecord back;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, back), XpStatus::Ok);
  EXPECT_EQ(back.latitude.numerators[0], 12U);
  EXPECT_EQ(back.longitude.numerators[0], 45U);
  ASSERT_EQ(XpPhotoWrite::RemoveGPS(path), XpStatus::Ok);
  EXPECT_EQ(XpExifRewrite::ReadGPS(path, back), XpStatus::NoExif);
}

}  // namespace

// A photo whose position is both in its Exif GPS directory and in its embedded XMP packet gets the
// new position in both, read back the same by exiftool; a HEIF photo whose XMP item holds a position
// keeps both as they are and takes the position in its sidecar instead.
TEST(PhotoWrite, APhotoWithItsPositionInExifAndInXmpGetsBothWrittenTheSame) {
  if (!HaveExiftool()) {
    GTEST_SKIP() << "exiftool is needed";
  }
  testsupport::TempDir dir;
  struct Case {
    fs::path source;
    const char* name;
    Destination destination;
  };
  // Each holds a position in both places before the write (exiftool reads them; in two of them
  // the two disagree).
  const Case cases[] = {
      {kTestData / "camera" / "goexifv3-gps-2000-scaled.jpg", "a.jpg", Destination::InFile},
      {kTestData / "camera" / "exifr-iptc-agency-photographer-example.jpg", "b.jpg", Destination::InFile},
      {kCrafted / "png-exif.png", "c.png", Destination::InFile},
      {kCrafted / "webp-exif-xmp.webp", "d.webp", Destination::InFile},
      {kCrafted / "heic-like.heic", "e.heic", Destination::Sidecar},
  };
  // GPS latitude, its reference, longitude, its reference, then the XMP latitude and longitude
  // (signed), "-" for a missing one.
  const auto positions = [](const std::string& path) {
    const auto out = jpegtest::RunCommand(
        "exiftool -q -q -n -f -s3 -GPS:GPSLatitude -GPS:GPSLatitudeRef -GPS:GPSLongitude -GPS:GPSLongitudeRef "
        "-XMP-exif:GPSLatitude -XMP-exif:GPSLongitude '" +
        path + "' 2>/dev/null");
    std::vector<std::string> lines;
    std::string line;
    for (const char c : out.value_or(std::vector<std::uint8_t>{})) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Copy(c.source, dir, c.name);
    const std::vector<std::string> before = positions(path);
    ASSERT_EQ(before.size(), 6U);
    ASSERT_NE(before[0], "-");
    ASSERT_NE(before[4], "-");
    const std::string bytes = ReadAll(path);
    XpPhotoWrite::Where where;
    ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(-47.3769, 8.5417), {}, &where), XpStatus::Ok);
    EXPECT_EQ(where.destination, c.destination);
    if (c.destination == Destination::Sidecar) {
      // Neither of the file's positions is touched; the sidecar's is the one read.
      EXPECT_EQ(ReadAll(path), bytes);
      EXPECT_EQ(positions(path), before);
      const std::vector<std::string> sidecar = positions(path + ".xmp");
      ASSERT_EQ(sidecar.size(), 6U);
      EXPECT_NEAR(XpParseDecimal(sidecar[4]).value_or(-999.0), -47.3769, 1e-7);
      EXPECT_NEAR(XpParseDecimal(sidecar[5]).value_or(-999.0), 8.5417, 1e-7);
      continue;
    }
    const std::vector<std::string> after = positions(path);
    ASSERT_EQ(after.size(), 6U);
    EXPECT_NEAR(XpParseDecimal(after[0]).value_or(-999.0), 47.3769, 1e-7);
    EXPECT_EQ(after[1], "S");
    EXPECT_NEAR(XpParseDecimal(after[2]).value_or(-999.0), 8.5417, 1e-7);
    EXPECT_EQ(after[3], "E");
    EXPECT_NEAR(XpParseDecimal(after[4]).value_or(-999.0), -47.3769, 1e-7);
    EXPECT_NEAR(XpParseDecimal(after[5]).value_or(-999.0), 8.5417, 1e-7);
    XpGPSRecord back;
    ASSERT_EQ(XpPhotoWrite::ReadGPS(path, back), XpStatus::Ok);
    EXPECT_EQ(back.latitudeRef.letter, u'S');
  }
}
