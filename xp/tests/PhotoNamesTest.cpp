// Place names for photos of every kind: a JPEG keeps them in its file, every
// other kind in XMP sidecars (the ones its position goes to, or a new one),
// with the photo byte-identical, every other property of a sidecar kept, and
// all sidecars of a photo changed together or not at all. exiftool reads the
// written sidecars back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "xp/formats/XpPhotoWrite.h"
#include "xp/tests/JpegTestSupport.h"
#include "xp/tests/TestSupport.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

namespace fs = std::filesystem;
using XpPhotoWrite::Destination;

const fs::path kTestData(TV_TESTDATA_DIR);
const fs::path kCrafted = kTestData / "formats" / "crafted";

const XpLocationWrite::Names kGion{"Gion", "Kyōto", "Japan", "JP", "JPN", std::nullopt};

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

bool HaveExiftool() { return jpegtest::RunCommand("exiftool -ver >/dev/null 2>&1").has_value(); }

// exiftool's reading of a sidecar, "Group:Tag" to value; empty when it cannot run.
using TagMap = std::map<std::string, std::string>;
TagMap ReadTags(const std::string& path) {
  const auto out = jpegtest::RunCommand("exiftool -args -a -G1 -n -XMP:all '" + path + "' 2>/dev/null");
  TagMap tags;
  if (!out) {
    return tags;
  }
  std::istringstream lines(std::string(out->begin(), out->end()));
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (line.size() > 1 && line[0] == '-' && equals != std::string::npos) {
      tags[line.substr(1, equals - 1)] = line.substr(equals + 1);
    }
  }
  return tags;
}

// The tags a naming writes; every other one must read as before.
const std::set<std::string> kNameTags = {
    "XMP-photoshop:City",
    "XMP-photoshop:State",
    "XMP-photoshop:Country",
    "XMP-iptcCore:CountryCode",
    "XMP-iptcExt:LocationCreatedCity",
    "XMP-iptcExt:LocationCreatedProvinceState",
    "XMP-iptcExt:LocationCreatedCountryName",
    "XMP-iptcExt:LocationCreatedCountryCode",
};

void ExpectOnlyNamesChanged(const TagMap& before, const TagMap& after) {
  for (const auto& [tag, value] : before) {
    if (kNameTags.count(tag) == 0) {
      EXPECT_EQ(after.count(tag) ? after.at(tag) : "(gone)", value) << tag;
    }
  }
  for (const auto& [tag, value] : after) {
    if (kNameTags.count(tag) == 0) {
      EXPECT_EQ(before.count(tag), 1U) << "new tag " << tag << " = " << value;
    }
  }
}

void ExpectGion(const TagMap& tags) {
  const auto value = [&](const char* tag) { return tags.count(tag) ? tags.at(tag) : std::string("(none)"); };
  EXPECT_EQ(value("XMP-photoshop:City"), "Gion");
  EXPECT_EQ(value("XMP-photoshop:State"), "Kyōto");
  EXPECT_EQ(value("XMP-photoshop:Country"), "Japan");
  EXPECT_EQ(value("XMP-iptcCore:CountryCode"), "JP");
  EXPECT_EQ(value("XMP-iptcExt:LocationCreatedCity"), "Gion");
  EXPECT_EQ(value("XMP-iptcExt:LocationCreatedProvinceState"), "Kyōto");
  EXPECT_EQ(value("XMP-iptcExt:LocationCreatedCountryName"), "Japan");
  EXPECT_EQ(value("XMP-iptcExt:LocationCreatedCountryCode"), "JP");
}

std::vector<std::string> Leftovers(const testsupport::TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    if (entry.path().filename().string().find(".tvtmp-") != std::string::npos) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

XpGPSRecord RecordAt(std::uint32_t latitude, std::uint32_t longitude) {
  XpGPSRecord record;
  record.version.bytes = {2, 3, 0, 0};
  record.version.valid = 1;
  record.latitudeRef.letter = u'N';
  record.latitudeRef.valid = 1;
  record.latitude.numerators = {latitude, 0, 0};
  record.latitude.denominators = {1, 1, 1};
  record.latitude.valid = 1;
  record.longitudeRef.letter = u'E';
  record.longitudeRef.valid = 1;
  record.longitude.numerators = {longitude, 0, 0};
  record.longitude.denominators = {1, 1, 1};
  record.longitude.valid = 1;
  return record;
}

const std::string kRatedSidecar =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
    " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "  <rdf:Description rdf:about=\"\"\n"
    "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
    "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"\n"
    "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
    "   xmp:Rating=\"3\" photoshop:City=\"Osaka\" photoshop:Headline=\"Lanterns\">\n"
    "   <dc:subject>\n"
    "    <rdf:Bag>\n"
    "     <rdf:li>temple</rdf:li>\n"
    "    </rdf:Bag>\n"
    "   </dc:subject>\n"
    "  </rdf:Description>\n"
    " </rdf:RDF>\n"
    "</x:xmpmeta>\n";

}  // namespace

TEST(PhotoNames, AJpegKeepsItsNamesAndEveryOtherKindASidecar) {
  testsupport::TempDir dir;
  struct Case {
    fs::path source;
    std::string name;
    Destination destination;
    XpStatus notInFile;
  };
  const Case cases[] = {
      {kTestData / "camera" / "exifpy-45-gps_ifd.jpg", "a.jpg", Destination::InFile, XpStatus::Ok},
      // Kinds whose position goes into the file: the names do not, and the user is told.
      {kCrafted / "png-exif.png", "c.png", Destination::Sidecar, XpStatus::NamesInSidecar},
      {kCrafted / "webp-exif-xmp.webp", "d.webp", Destination::Sidecar, XpStatus::NamesInSidecar},
      {kCrafted / "tiff-ii.tif", "e.tif", Destination::Sidecar, XpStatus::NamesInSidecar},
      {kCrafted / "avif-like.avif", "g.avif", Destination::Sidecar, XpStatus::NamesInSidecar},
      // Kinds whose position goes to a sidecar anyway.
      {kCrafted / "heic-like.heic", "f.heic", Destination::Sidecar, XpStatus::HeifNotEditable},
      {kCrafted / "cr2-like.cr2", "h.cr2", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "cr3-like.cr3", "i.cr3", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "dng-like.dng", "j.dng", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "raf-like.raf", "m.raf", Destination::Sidecar, XpStatus::Ok},
      {kCrafted / "oracle.jsonl", "p.jpg", Destination::NotWritable, XpStatus::Ok},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Copy(c.source, dir, c.name);
    const XpPhotoWrite::Where where = XpPhotoWrite::WhereNamesWritten(path);
    EXPECT_EQ(where.destination, c.destination);
    EXPECT_EQ(where.notInFile, c.notInFile);
    if (c.destination == Destination::Sidecar) {
      EXPECT_EQ(where.sidecars, std::vector<std::string>{path + ".xmp"});
      EXPECT_TRUE(where.createsSidecar);
    } else {
      EXPECT_TRUE(where.sidecars.empty());
    }
  }
  EXPECT_EQ(XpPhotoWrite::WhereNamesWritten(dir / "missing.cr2").status, XpStatus::FileNotFound);
  XpLocationWrite::Outcome outcome;
  EXPECT_EQ(XpPhotoWrite::WriteNames(dir / "p.jpg", kGion, {}, &outcome), XpStatus::PhotoFormatUnknown);
  EXPECT_FALSE(outcome.written);
  EXPECT_FALSE(fs::exists(dir / "p.jpg.xmp"));
}

TEST(PhotoNames, ANewSidecarHoldsTheNamesAndThePhotoStaysByteIdentical) {
  const bool exiftool = HaveExiftool();
  testsupport::TempDir dir;
  for (const char* name : {"heic-like.heic", "cr2-like.cr2", "cr3-like.cr3", "dng-like.dng", "orf-like.orf",
                           "rw2-like.rw2", "raf-like.raf", "png-exif.png", "webp-exif-xmp.webp", "tiff-ii.tif"}) {
    SCOPED_TRACE(name);
    const std::string path = Copy(kCrafted / name, dir, name);
    const std::string photo = ReadAll(path);
    XpGPSRecord gps;
    const XpStatus positionBefore = XpPhotoWrite::ReadGPS(path, gps);
    XpLocationWrite::Outcome outcome;
    XpPhotoWrite::Where where;
    ASSERT_EQ(XpPhotoWrite::WriteNames(path, kGion, {}, &outcome, &where), XpStatus::Ok);
    EXPECT_EQ(where.destination, Destination::Sidecar);
    EXPECT_TRUE(outcome.written);
    EXPECT_TRUE(outcome.xmpAdded);
    EXPECT_FALSE(outcome.iimChanged);
    EXPECT_EQ(ReadAll(path), photo);
    const std::string sidecar = path + ".xmp";
    ASSERT_TRUE(fs::exists(sidecar));
    EXPECT_TRUE(Leftovers(dir).empty());

    // The names read back through the same rule, from the sidecar.
    XpLocationWrite::Current current;
    ASSERT_EQ(XpPhotoWrite::ReadNames(path, &current), XpStatus::Ok);
    EXPECT_TRUE(current.hasXmp);
    EXPECT_EQ(current.xmp.legacy.city, "Gion");
    EXPECT_EQ(current.xmp.created.state, "Kyōto");
    EXPECT_EQ(current.xmp.legacy.countryCode, "JP");
    // A sidecar holding only names changes nothing about the photo's position.
    EXPECT_EQ(XpPhotoWrite::ReadGPS(path, gps), positionBefore);

    if (exiftool) {
      const TagMap tags = ReadTags(sidecar);
      ASSERT_FALSE(tags.empty());
      ExpectGion(tags);
      const std::string extension = std::string(name).substr(std::string(name).rfind('.') + 1);
      EXPECT_EQ(tags.count("XMP-photoshop:SidecarForExtension") ? tags.at("XMP-photoshop:SidecarForExtension") : "",
                extension);
    }

    // The same names again change nothing.
    const std::string written = ReadAll(sidecar);
    ASSERT_EQ(XpPhotoWrite::WriteNames(path, kGion, {}, &outcome), XpStatus::Ok);
    EXPECT_FALSE(outcome.written);
    EXPECT_EQ(ReadAll(sidecar), written);
  }
}

TEST(PhotoNames, ThePositionsSidecarKeepsItsPositionAndEveryOtherProperty) {
  const bool exiftool = HaveExiftool();
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "orf-like.orf", dir, "P1.ORF");
  const std::string photo = ReadAll(path);
  const std::string sidecar = path + ".xmp";
  WriteText(sidecar, kRatedSidecar);
  ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(35, 135)), XpStatus::Ok);
  const TagMap before = exiftool ? ReadTags(sidecar) : TagMap{};
  const std::string positioned = ReadAll(sidecar);

  XpLocationWrite::Outcome outcome;
  XpPhotoWrite::Where where;
  ASSERT_EQ(XpPhotoWrite::WriteNames(path, kGion, {}, &outcome, &where), XpStatus::Ok);
  EXPECT_EQ(where.sidecars, std::vector<std::string>{sidecar});
  EXPECT_FALSE(where.createsSidecar);
  EXPECT_TRUE(outcome.written);
  EXPECT_FALSE(outcome.xmpAdded);
  EXPECT_EQ(ReadAll(path), photo);
  EXPECT_NE(ReadAll(sidecar), positioned);

  XpGPSRecord gps;
  ASSERT_EQ(XpPhotoWrite::ReadGPS(path, gps), XpStatus::Ok);
  EXPECT_EQ(gps.latitude.numerators[0], 35U);
  EXPECT_EQ(gps.longitude.numerators[0], 135U);
  if (exiftool) {
    const TagMap after = ReadTags(sidecar);
    ASSERT_FALSE(after.empty());
    ExpectGion(after);
    EXPECT_EQ(before.at("XMP-photoshop:City"), "Osaka");
    EXPECT_EQ(after.at("XMP-exif:GPSLatitude"), before.at("XMP-exif:GPSLatitude"));
    EXPECT_EQ(after.at("XMP-xmp:Rating"), "3");
    EXPECT_EQ(after.at("XMP-photoshop:Headline"), "Lanterns");
    ExpectOnlyNamesChanged(before, after);
  }

  // A later move changes the position and leaves the names.
  ASSERT_EQ(XpPhotoWrite::WriteGPS(path, RecordAt(34, 136)), XpStatus::Ok);
  XpLocationWrite::Current current;
  ASSERT_EQ(XpPhotoWrite::ReadNames(path, &current), XpStatus::Ok);
  EXPECT_EQ(current.xmp.legacy.city, "Gion");
  EXPECT_EQ(current.xmp.created.city, "Gion");
  EXPECT_EQ(ReadAll(path), photo);
}

TEST(PhotoNames, AllSidecarsOfAPhotoGetTheNamesTogetherOrNoneDoes) {
  testsupport::TempDir dir;
  const std::string path = Copy(kCrafted / "tiff-nogps.tif", dir, "IMG_5.PEF");
  const std::string photo = ReadAll(path);
  const std::string first = dir / "IMG_5.PEF.xmp";
  const std::string second = dir / "IMG_5.xmp";
  WriteText(first, kRatedSidecar);
  WriteText(second, kRatedSidecar);
  const std::vector<std::string> sidecars = XpPhotoWrite::OwnSidecars(path);
  ASSERT_EQ(sidecars.size(), 2U);
  const auto unchanged = [&](const char* what) {
    EXPECT_EQ(ReadAll(first), kRatedSidecar) << what;
    EXPECT_EQ(ReadAll(second), kRatedSidecar) << what;
    EXPECT_EQ(ReadAll(path), photo) << what;
    EXPECT_TRUE(Leftovers(dir).empty()) << what;
  };

  // A failing rename of either one puts the one renamed before it back.
  for (const std::string& failing : sidecars) {
    XpExifRewrite::Hooks hooks;
    hooks.beforeRename = [&](const std::string& target) {
      return target == fs::canonical(failing).string() ? XpStatus::DiskFull : XpStatus::Ok;
    };
    XpLocationWrite::Outcome outcome;
    XpPhotoWrite::Where where;
    EXPECT_EQ(XpPhotoWrite::WriteNames(path, kGion, hooks, &outcome, &where), XpStatus::DiskFull);
    EXPECT_EQ(where.failed, fs::canonical(failing).string());
    EXPECT_FALSE(outcome.written);
    unchanged("rename");
  }

  // A written sidecar that does not read back as meant stops the write before any rename.
  XpExifRewrite::Hooks spoil;
  spoil.beforeCommit = [](const std::string& temp) {
    std::string text = ReadAll(temp);
    text.replace(text.find(">Gion<"), 6, ">Gyon<");
    WriteText(temp, text);
    return XpStatus::Ok;
  };
  XpLocationWrite::Outcome outcome;
  EXPECT_EQ(XpPhotoWrite::WriteNames(path, kGion, spoil, &outcome), XpStatus::SidecarCheckFailed);
  unchanged("check");

  // A name that is no text for XMP is refused before anything is written.
  XpLocationWrite::Names bad = kGion;
  bad.city = std::string("Gi\x01on");
  EXPECT_EQ(XpPhotoWrite::WriteNames(path, bad, {}, &outcome), XpStatus::InvalidArgument);
  unchanged("bad name");

  // A sidecar that is no XMP is not rewritten.
  WriteText(second, "<x:xmpmeta><rdf:RDF>");
  EXPECT_EQ(XpPhotoWrite::WriteNames(path, kGion, {}, &outcome), XpStatus::XmpInvalid);
  EXPECT_EQ(ReadAll(first), kRatedSidecar);
  EXPECT_EQ(ReadAll(second), "<x:xmpmeta><rdf:RDF>");
  WriteText(second, kRatedSidecar);

  ASSERT_EQ(XpPhotoWrite::WriteNames(path, kGion, {}, &outcome), XpStatus::Ok);
  EXPECT_TRUE(outcome.written);
  for (const std::string& sidecar : sidecars) {
    XpXmpLocation::Reading reading;
    const std::string text = ReadAll(sidecar);
    ASSERT_EQ(XpXmpLocation::ReadLocation({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, &reading),
              XpStatus::Ok);
    EXPECT_EQ(reading.legacy.city, "Gion") << sidecar;
    EXPECT_EQ(reading.created.country, "Japan") << sidecar;
  }
  EXPECT_EQ(ReadAll(path), photo);
  EXPECT_TRUE(Leftovers(dir).empty());
}

TEST(PhotoNames, AJpegIsNamedInItsFile) {
  testsupport::TempDir dir;
  const std::string path = Copy(kTestData / "camera" / "exifpy-45-gps_ifd.jpg", dir, "a.jpg");
  const std::string before = ReadAll(path);
  XpLocationWrite::Outcome outcome;
  ASSERT_EQ(XpPhotoWrite::WriteNames(path, kGion, {}, &outcome), XpStatus::Ok);
  EXPECT_TRUE(outcome.written);
  EXPECT_NE(ReadAll(path), before);
  EXPECT_FALSE(fs::exists(path + ".xmp"));
  XpLocationWrite::Current current;
  ASSERT_EQ(XpPhotoWrite::ReadNames(path, &current), XpStatus::Ok);
  EXPECT_EQ(current.xmp.legacy.city, "Gion");
}
