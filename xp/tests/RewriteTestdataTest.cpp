// The GPS rewrite over the real camera files of the test data, checked with
// our own libjpeg reads and with an independent Exif reader and decoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpLocationWrite.h"
#include "xp/image/XpXmpGps.h"
#include "xp/tests/ExiftoolSupport.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TestData.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::Segment;
using rewrite_test::TempDir;

// N:35:37:32.828 / E:139:44:31.338, as writing positions back stores them.
void SetNewPosition(XpGPSRecord& record) {
  rewrite_test::SetPosition(record, u'N', {35, 37, 32828}, u'E', {139, 44, 31338});
}
constexpr double kNewLatitude = 35 + 37 / 60.0 + 32.828 / 3600;
constexpr double kNewLongitude = 139 + 44 / 60.0 + 31.338 / 3600;

XpStatus MoveTo(const std::string& path, const std::string& zone = {}) {
  XpGPSRecord record;
  (void)XpExifRewrite::ReadGPS(path, record);  // a picture without GPS starts empty
  SetNewPosition(record);
  XpExifRewrite::Hooks hooks;
  hooks.dateTime = "2024:06:01 12:34:56";
  hooks.offsetTimeOriginal = zone;
  return XpExifRewrite::WriteGPS(path, record, true, hooks);
}

std::vector<std::string> TestDataJpegs() { return testdata::CameraJpegNames(); }

bool HasTagTree(const std::string& path) {
  TagTreePtr tree;
  return XpJpegExif::ReadTagTree(path, &tree) == XpStatus::Ok && tree != nullptr && tree->HasIFD();
}

// The segments a rewrite must keep: all but the first APP1 that begins "Exif"
// (and one that continues it).
/// An XMP packet without the padding in front of its trailer, which edits
/// grow and shrink to keep the packet's length.
std::string WithoutPadding(const std::vector<std::uint8_t>& packet) {
  std::string text(packet.begin(), packet.end());
  const auto trailer = text.rfind("<?xpacket end=");
  if (trailer == std::string::npos) {
    return text;
  }
  auto start = trailer;
  while (start > 0 && std::isspace(static_cast<unsigned char>(text[start - 1])) != 0) {
    --start;
  }
  return text.erase(start, trailer - start);
}

/// The XML packet of an XMP segment; empty for any other segment.
std::span<const std::uint8_t> XmpPacket(const Segment& segment) {
  constexpr std::string_view kHeader("http://ns.adobe.com/xap/1.0/\0", 29);
  if (segment.marker != 0xE1 || !rewrite_test::StartsWith(segment.payload, kHeader)) {
    return {};
  }
  return std::span<const std::uint8_t>(segment.payload).subspan(kHeader.size());
}

std::vector<Segment> KeptSegments(const Bytes& file) {
  std::vector<Segment> segments = rewrite_test::AppAndComSegments(file);
  auto exif = std::find_if(segments.begin(), segments.end(), [](const Segment& s) {
    return s.marker == 0xE1 && rewrite_test::StartsWith(s.payload, "Exif");
  });
  if (exif == segments.end()) {
    return segments;
  }
  exif = segments.erase(exif);
  // A second Exif segment that continues the first (no TIFF header of its
  // own) is merged into the new one.
  if (exif != segments.end() && exif->marker == 0xE1 && rewrite_test::StartsWith(exif->payload, "Exif") &&
      !rewrite_test::StartsWith(exif->payload, std::string_view("Exif\0\0II", 8)) &&
      !rewrite_test::StartsWith(exif->payload, std::string_view("Exif\0\0MM", 8))) {
    segments.erase(exif);
  }
  return segments;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (const char ch : info.param) {
    name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  }
  return name;
}

const std::map<std::string, std::pair<XpStatus, const char*>>& ExpectedRefusals();
const std::map<std::string, std::pair<XpStatus, const char*>>& NamingRefusals();

class RewriteTestdata : public ::testing::TestWithParam<std::string> {};

TEST_P(RewriteTestdata, WriteGpsKeepsPixelsAndSegmentsOrRefusesWithoutChange) {
  TempDir dir;
  const std::string path = dir.File("photo.jpg");
  const Bytes original = rewrite_test::ReadBytes(rewrite_test::TestDataPath(GetParam()));
  rewrite_test::WriteBytes(path, original);

  if (!HasTagTree(path)) {
    XpGPSRecord record;
    SetNewPosition(record);
    XpFile stream(path);
    ASSERT_EQ(stream.Open(XpAbstractFile::kRead), XpStatus::Ok);
    const bool isJpeg = XpJpegExif::CheckJpegStream(stream, 0) == XpStatus::Ok;
    EXPECT_EQ(XpExifRewrite::WriteGPS(path, record), isJpeg ? XpStatus::NoExif : XpStatus::JpegDecodeFailed);
    EXPECT_EQ(rewrite_test::ReadBytes(path), original);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"photo.jpg"});
    return;
  }

  const XpStatus st = MoveTo(path);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"photo.jpg"});
  if (st != XpStatus::Ok) {
    // A refused rewrite must leave the picture exactly as it was, and only
    // the files named for it may be refused.
    EXPECT_EQ(rewrite_test::ReadBytes(path), original) << XpStatusText(st);
    const auto refusal = ExpectedRefusals().find(GetParam());
    ASSERT_NE(refusal, ExpectedRefusals().end()) << "refused with " << XpStatusText(st);
    EXPECT_EQ(st, refusal->second.first) << refusal->second.second;
    return;
  }
  const Bytes rewritten = rewrite_test::ReadBytes(path);
  EXPECT_EQ(rewrite_test::ReadCoefficients(rewritten), rewrite_test::ReadCoefficients(original));
  EXPECT_EQ(rewrite_test::DecodePixels(rewritten), rewrite_test::DecodePixels(original));

  const std::vector<Segment> segments = rewrite_test::AppAndComSegments(rewritten);
  ASSERT_FALSE(segments.empty());
  EXPECT_EQ(segments[0].marker, 0xE1);
  EXPECT_TRUE(rewrite_test::StartsWith(segments[0].payload, std::string_view("Exif\0\0", 6)));
  // Every other segment is kept as it was, but for an XMP packet that holds a
  // position: that one must read the new position, and without its GPS
  // properties be the old packet without them.
  std::vector<Segment> kept(segments.begin() + 1, segments.end());
  std::vector<Segment> expected = KeptSegments(original);
  ASSERT_EQ(kept.size(), expected.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const auto oldPacket = XmpPacket(expected[i]);
    XpXmpGps::Position oldPosition;
    if (oldPacket.empty() || XpXmpGps::ReadGps(oldPacket, &oldPosition) != XpStatus::Ok) {
      EXPECT_EQ(kept[i], expected[i]) << "segment " << i;
      continue;
    }
    const auto newPacket = XmpPacket(kept[i]);
    XpXmpGps::Position newPosition;
    ASSERT_EQ(XpXmpGps::ReadGps(newPacket, &newPosition), XpStatus::Ok);
    EXPECT_NEAR(newPosition.latitude, 35.0 + 37.0 / 60 + 32.828 / 3600, 1e-7);
    EXPECT_NEAR(newPosition.longitude, 139.0 + 44.0 / 60 + 31.338 / 3600, 1e-7);
    XpXmpGps::Edit oldBare;
    XpXmpGps::Edit newBare;
    ASSERT_EQ(XpXmpGps::RemoveGps(oldPacket, &oldBare), XpStatus::Ok);
    ASSERT_EQ(XpXmpGps::RemoveGps(newPacket, &newBare), XpStatus::Ok);
    EXPECT_EQ(WithoutPadding(newBare.packet), WithoutPadding(oldBare.packet))
        << "XMP segment " << i << " changed beyond its position";
  }

  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators, (std::array<std::uint32_t, 3>{35, 37, 32828}));
  EXPECT_EQ(read.longitude.numerators, (std::array<std::uint32_t, 3>{139, 44, 31338}));
  EXPECT_EQ(read.latitudeRef.letter, u'N');
  EXPECT_EQ(read.longitudeRef.letter, u'E');

  ASSERT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::Ok);
  EXPECT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::NoExif);
  // Nor does the XMP packet still tell where the photo was.
  for (const Segment& segment : rewrite_test::AppAndComSegments(rewrite_test::ReadBytes(path))) {
    const auto packet = XmpPacket(segment);
    XpXmpGps::Position left;
    EXPECT_TRUE(packet.empty() || XpXmpGps::ReadGps(packet, &left) != XpStatus::Ok) << "XMP keeps a position";
  }
  EXPECT_EQ(rewrite_test::ReadBytes(path).size(), rewritten.size());  // RemoveGPS changes bytes in place
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

INSTANTIATE_TEST_SUITE_P(Testdata, RewriteTestdata, ::testing::ValuesIn(TestDataJpegs()), TestName);

// ---------------------------------------------------------------------------
// The independent reader

using exiftool_test::ChangedByNaming;
using exiftool_test::Differences;
using exiftool_test::HaveTool;
using exiftool_test::IsFilePosition;
using exiftool_test::RunCommand;
using exiftool_test::TagMap;

std::map<std::string, TagMap> ReadWithExiftool(const std::string& folder) {
  return exiftool_test::ReadWithExiftool(folder, "*.jpg");
}

// The one list of differences a GPS write may make, the same for every file:
// the GPS tags it sets (and the same position in an XMP packet that holds
// one), DateTime of IFD0 and IFD1, ExifVersion, file
// positions of images that moved unchanged, and what describes the file
// rather than its metadata (its name, size and dates, the reader's own notes,
// values the reader derives from other tags).
bool ChangedByTheWrite(const std::string& key) {
  static const std::set<std::string> kTags = {"SourceFile",
                                              "IFD0:ModifyDate",
                                              "IFD1:ModifyDate",
                                              "ExifIFD:ExifVersion",
                                              "GPS:GPSLatitudeRef",
                                              "GPS:GPSLatitude",
                                              "GPS:GPSLongitudeRef",
                                              "GPS:GPSLongitude",
                                              "XMP-exif:GPSLatitude",
                                              "XMP-exif:GPSLongitude",
                                              "XMP-exif:GPSLatitudeRef",
                                              "XMP-exif:GPSLongitudeRef",
                                              "XMP-drone-dji:GPSLatitude",
                                              "XMP-drone-dji:GPSLongitude"};
  static const std::vector<std::string> kGroups = {"System:", "File:", "ExifTool:", "Composite:"};
  return kTags.count(key) != 0 || IsFilePosition(key) ||
         std::any_of(kGroups.begin(), kGroups.end(), [&](const std::string& g) { return key.starts_with(g); });
}

// A removal takes the GPS directory and the XMP packet's position away and
// changes nothing else.
bool ChangedByTheRemoval(const std::string& key) {
  static const std::vector<std::string> kGroups = {
      "System:", "File:", "ExifTool:", "Composite:", "GPS:", "XMP-exif:GPS"};
  static const std::set<std::string> kTags = {"SourceFile", "XMP-drone-dji:GPSLatitude", "XMP-drone-dji:GPSLongitude",
                                              "XMP-drone-dji:AbsoluteAltitude"};
  return kTags.count(key) != 0 ||
         std::any_of(kGroups.begin(), kGroups.end(), [&](const std::string& g) { return key.starts_with(g); });
}

double Number(const TagMap& tags, const std::string& key) {
  auto it = tags.find(key);
  return it == tags.end() ? -1 : XpParseDecimal(it->second).value_or(0.0);
}

// Whether exiftool's own writer refuses to set a position in the file.
bool ExiftoolRefusesToWrite(const std::string& path, const std::string& folder) {
  const std::string out = folder + "/written.jpg";
  std::filesystem::remove(out);
  (void)RunCommand("exiftool -q -q -GPSLatitude=35.6 -GPSLatitudeRef=N -o '" + out + "' '" + path +
                   "' >/dev/null 2>&1");
  const bool refused = !std::filesystem::exists(out);
  std::filesystem::remove(out);
  return refused;
}

// Every camera photo through WriteGPS and RemoveGPS, each compared tag by tag
// with its source by the independent reader. A photo may be refused only
// where the independent writer refuses it too, and then stays byte-identical.
TEST(RewriteTestdataIndependently, EveryTagOfEveryCameraPhotoSurvivesAWriteAndARemoval) {
  if (!HaveTool("exiftool") || !HaveTool("djpeg")) {
    GTEST_SKIP() << "exiftool and djpeg are needed";
  }
  TempDir original;
  TempDir moved;
  TempDir removed;
  TempDir scratch;
  std::vector<std::string> names;
  for (const std::string& name : TestDataJpegs()) {
    const Bytes bytes = rewrite_test::ReadBytes(rewrite_test::TestDataPath(name));
    rewrite_test::WriteBytes(original.File(name), bytes);
    if (!HasTagTree(original.File(name))) {
      continue;
    }
    rewrite_test::WriteBytes(moved.File(name), bytes);
    const XpStatus st = MoveTo(moved.File(name));
    if (st != XpStatus::Ok) {
      EXPECT_EQ(rewrite_test::ReadBytes(moved.File(name)), bytes) << name;
      EXPECT_TRUE(ExiftoolRefusesToWrite(original.File(name), scratch.Path()))
          << name << " was refused with " << XpStatusText(st) << ", but a careful writer writes it";
      std::filesystem::remove(moved.File(name));
      continue;
    }
    rewrite_test::WriteBytes(removed.File(name), bytes);
    EXPECT_EQ(XpExifRewrite::RemoveGPS(removed.File(name)), XpStatus::Ok) << name;
    names.push_back(name);
  }
  ASSERT_GT(names.size(), 60U);

  const auto before = ReadWithExiftool(original.Path());
  const auto afterMove = ReadWithExiftool(moved.Path());
  const auto afterRemove = ReadWithExiftool(removed.Path());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_EQ(afterMove.count(name), 1U);
    ASSERT_EQ(afterRemove.count(name), 1U);
    const TagMap& old = before.at(name);
    const TagMap& now = afterMove.at(name);
    EXPECT_NEAR(Number(now, "GPS:GPSLatitude"), kNewLatitude, 1e-9);
    EXPECT_NEAR(Number(now, "GPS:GPSLongitude"), kNewLongitude, 1e-9);
    EXPECT_EQ(now.count("GPS:GPSLatitudeRef") ? now.at("GPS:GPSLatitudeRef") : "", "N");
    EXPECT_EQ(now.count("GPS:GPSLongitudeRef") ? now.at("GPS:GPSLongitudeRef") : "", "E");
    for (const std::string& diff : Differences(old, now, ChangedByTheWrite)) {
      ADD_FAILURE() << name << " after WriteGPS: " << diff;
    }
    const TagMap& gone = afterRemove.at(name);
    EXPECT_EQ(gone.count("GPS:GPSLatitude"), 0U);
    EXPECT_EQ(gone.count("GPS:GPSLongitude"), 0U);
    for (const std::string& diff : Differences(old, gone, ChangedByTheRemoval)) {
      ADD_FAILURE() << name << " after RemoveGPS: " << diff;
    }
    // The independent decoder gives the same pixels for the old and new file.
    const std::string decodeOld = RunCommand("djpeg -dct int '" + original.File(name) + "' 2>/dev/null | md5sum");
    const std::string decodeNew = RunCommand("djpeg -dct int '" + moved.File(name) + "' 2>/dev/null | md5sum");
    EXPECT_EQ(decodeNew, decodeOld);
  }
}

// Every camera photo moved with a zone for its capture time: one that records no zone gains it as
// OffsetTimeOriginal, one that records one keeps its own; everything else as after a plain move.
TEST(RewriteTestdataIndependently, AZoneForTheCaptureTimeIsAddedOnlyWhereThePhotoHasNone) {
  if (!HaveTool("exiftool")) {
    GTEST_SKIP() << "exiftool is needed";
  }
  TempDir original;
  TempDir moved;
  std::vector<std::string> names;
  for (const std::string& name : TestDataJpegs()) {
    const Bytes bytes = rewrite_test::ReadBytes(rewrite_test::TestDataPath(name));
    rewrite_test::WriteBytes(original.File(name), bytes);
    if (!HasTagTree(original.File(name))) {
      continue;
    }
    rewrite_test::WriteBytes(moved.File(name), bytes);
    if (MoveTo(moved.File(name), "+09:00") != XpStatus::Ok) {
      EXPECT_EQ(rewrite_test::ReadBytes(moved.File(name)), bytes) << name;
      std::filesystem::remove(moved.File(name));
      continue;
    }
    names.push_back(name);
  }
  ASSERT_GT(names.size(), 60U);
  const auto before = ReadWithExiftool(original.Path());
  const auto after = ReadWithExiftool(moved.Path());
  std::size_t gained = 0;
  std::size_t kept = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_EQ(after.count(name), 1U);
    const TagMap& old = before.at(name);
    const TagMap& now = after.at(name);
    const bool hadZone = old.count("ExifIFD:OffsetTimeOriginal") != 0;
    // A photo without an Exif directory has nowhere to keep the zone and gets none.
    const bool hasExifDirectory =
        std::any_of(old.begin(), old.end(), [](const auto& tag) { return tag.first.starts_with("ExifIFD:"); });
    for (const std::string& diff : Differences(old, now, ChangedByTheWrite)) {
      if (!hadZone && hasExifDirectory && diff == "gained ExifIFD:OffsetTimeOriginal=+09:00") {
        ++gained;
        continue;
      }
      ADD_FAILURE() << name << " after WriteGPS with a zone: " << diff;
    }
    kept += hadZone ? 1 : 0;
  }
  EXPECT_GT(gained, 40U);
  EXPECT_GT(kept, 0U);
  // A zone of another form is refused before anything is written.
  const std::string name = names.front();
  const Bytes bytes = rewrite_test::ReadBytes(original.File(name));
  rewrite_test::WriteBytes(moved.File(name), bytes);
  EXPECT_EQ(MoveTo(moved.File(name), "+9:00"), XpStatus::InvalidArgument);
  EXPECT_EQ(rewrite_test::ReadBytes(moved.File(name)), bytes);
}

std::string Value(const TagMap& tags, const std::string& key) {
  const auto it = tags.find(key);
  return it == tags.end() ? std::string("(none)") : it->second;
}

// Every camera photo named, compared tag by tag with its source by the
// independent reader: the names are there, in XMP and (where the photo had
// one) in IIM, the IIM digest matches the datasets, nothing else changed, the
// pixels are the same. A refused photo stays byte-identical.
TEST(RewriteTestdataIndependently, NamingAPlaceChangesOnlyTheLocationOfEveryCameraPhoto) {
  if (!HaveTool("exiftool") || !HaveTool("djpeg")) {
    GTEST_SKIP() << "exiftool and djpeg are needed";
  }
  TempDir original;
  TempDir named;
  const XpLocationWrite::Names names{"Gion", "Kyōto", "Japan", "JP", "JPN", std::nullopt};
  std::vector<std::string> written;
  std::map<std::string, XpLocationWrite::Outcome> outcomes;
  for (const std::string& name : TestDataJpegs()) {
    const Bytes bytes = rewrite_test::ReadBytes(rewrite_test::TestDataPath(name));
    rewrite_test::WriteBytes(original.File(name), bytes);
    rewrite_test::WriteBytes(named.File(name), bytes);
    XpLocationWrite::Outcome outcome;
    const XpStatus st = XpLocationWrite::Write(named.File(name), names, {}, &outcome);
    if (st != XpStatus::Ok) {
      EXPECT_EQ(rewrite_test::ReadBytes(named.File(name)), bytes) << name;
      EXPECT_FALSE(outcome.written);
      const auto refusal = NamingRefusals().find(name);
      std::filesystem::remove(named.File(name));
      if (refusal == NamingRefusals().end()) {
        ADD_FAILURE() << name << " refused with " << XpStatusText(st);
        continue;
      }
      EXPECT_EQ(st, refusal->second.first) << name << ": " << refusal->second.second;
      continue;
    }
    EXPECT_TRUE(outcome.written) << name;
    outcomes[name] = outcome;
    written.push_back(name);
  }
  ASSERT_GT(written.size(), 60U);
  EXPECT_EQ(named.Entries(), written);

  const auto before = ReadWithExiftool(original.Path());
  const auto after = ReadWithExiftool(named.Path());
  std::size_t withIim = 0;
  for (const std::string& name : written) {
    SCOPED_TRACE(name);
    ASSERT_EQ(after.count(name), 1U);
    const TagMap& old = before.at(name);
    const TagMap& now = after.at(name);
    EXPECT_EQ(Value(now, "XMP-photoshop:City"), "Gion");
    EXPECT_EQ(Value(now, "XMP-photoshop:State"), "Kyōto");
    EXPECT_EQ(Value(now, "XMP-photoshop:Country"), "Japan");
    EXPECT_EQ(Value(now, "XMP-iptcCore:CountryCode"), "JP");
    EXPECT_EQ(Value(now, "XMP-iptcExt:LocationCreatedCity"), "Gion");
    EXPECT_EQ(Value(now, "XMP-iptcExt:LocationCreatedProvinceState"), "Kyōto");
    EXPECT_EQ(Value(now, "XMP-iptcExt:LocationCreatedCountryName"), "Japan");
    EXPECT_EQ(Value(now, "XMP-iptcExt:LocationCreatedCountryCode"), "JP");
    if (outcomes[name].iimChanged) {
      ++withIim;
      const auto& iim = outcomes[name].iim;
      EXPECT_EQ(Value(now, "IPTC:City"), iim.city.empty() ? "(none)" : iim.city);
      EXPECT_EQ(Value(now, "IPTC:Country-PrimaryLocationCode"), "JPN");
      EXPECT_EQ(Value(now, "IPTC:Country-PrimaryLocationName"), "Japan");
      if (old.count("Photoshop:IPTCDigest") != 0) {
        // The stored digest is the one the independent reader computes over the datasets.
        const std::string digests =
            RunCommand("exiftool -q -q -s3 -IPTCDigest -CurrentIPTCDigest '" + named.File(name) + "'");
        ASSERT_EQ(digests.size(), 66U) << digests;
        EXPECT_EQ(digests.substr(0, 32), digests.substr(33, 32));
        EXPECT_EQ(digests.substr(0, 32), Value(now, "Photoshop:IPTCDigest"));
      }
    } else {
      EXPECT_EQ(now.count("IPTC:City"), old.count("IPTC:City"));
    }
    for (const std::string& diff : Differences(old, now, ChangedByNaming)) {
      ADD_FAILURE() << name << " after naming: " << diff;
    }
    const std::string decodeOld = RunCommand("djpeg -dct int '" + original.File(name) + "' 2>/dev/null | md5sum");
    const std::string decodeNew = RunCommand("djpeg -dct int '" + named.File(name) + "' 2>/dev/null | md5sum");
    EXPECT_EQ(decodeNew, decodeOld);
  }
  EXPECT_GT(withIim, 0U);
}

// ---------------------------------------------------------------------------
// Camera files that a rewrite refuses, each with the status: the picture is
// then left as it was, and the independent writer refuses the same file
// (checked above for every refusal).
const std::map<std::string, std::pair<XpStatus, const char*>>& ExpectedRefusals() {
  static const std::map<std::string, std::pair<XpStatus, const char*>> kRefused = {
      {"exifpy-30-type_error.jpg", {XpStatus::ExifDamaged, "the Exif pointer is a text"}},
      {"exifr-broken1.jpg", {XpStatus::ExifDamaged, "GPS entries of type 0"}},
      {"exiv2-exiv2-bug479.jpg", {XpStatus::ExifDamaged, "a directory beyond the Exif block"}},
      {"exiv2-exiv2-bug855.jpg", {XpStatus::ExifDamaged, "FocalLength's value lies beyond the Exif block"}},
      {"exiv2-issue_1881_coverage.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-issue_3455_sigma_print0x0008_empty.jpg", {XpStatus::ExifDamaged, "an Exif entry of type 65285"}},
      {"goexif-infinite_loop_exif.jpg", {XpStatus::ExifDamaged, "entries of unknown types, a directory loop"}},
      {"mdx-Kodak_ProBack.jpg", {XpStatus::ExifDamaged, "the interoperability pointer leads back to IFD0"}},
      {"pillow-exif_gps_typeerror.jpg", {XpStatus::ExifDamaged, "the GPS pointer is a text"}},
      {"exiv2-1-string-format.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-issue_1912_poc.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-table.jpg", {XpStatus::JpegDecodeFailed, "no scan in the JPEG data"}},
      {"goexif-2007-05-12-08-19-07-sep-2007-05-12-08-19-07a.jpg",
       {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"goexif-max_uint32_exif.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"piexif-notjpeg.jpg", {XpStatus::JpegDecodeFailed, "not JPEG data behind its Exif block"}},
  };
  return kRefused;
}

// Camera files that writing place names refuses, each with the status.
const std::map<std::string, std::pair<XpStatus, const char*>>& NamingRefusals() {
  static const std::map<std::string, std::pair<XpStatus, const char*>> kRefused = {
      {"exifpy-67-0_length_string.jpg", {XpStatus::XmpInvalid, "a NUL byte behind the XMP packet"}},
      {"exifr-broken1.jpg", {XpStatus::XmpInvalid, "NUL bytes inside the XMP packet"}},
      {"exiftool-ExifTool.jpg", {XpStatus::XmpInvalid, "an XMP packet in UTF-16"}},
      {"exiftool-XMP.jpg", {XpStatus::XmpInvalid, "an XMP packet in UTF-16"}},
      {"exiv2-exiv2-bug1026.jpg", {XpStatus::XmpInvalid, "an XMP element named with a slash"}},
      {"exiv2-1-string-format.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-issue_1881_coverage.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-issue_1912_poc.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-issue_3455_sigma_print0x0008_empty.jpg", {XpStatus::JpegDecodeFailed, "a scan of unknown components"}},
      {"exiv2-table.jpg", {XpStatus::JpegDecodeFailed, "no scan in the JPEG data"}},
      {"goexif-2007-05-12-08-19-07-sep-2007-05-12-08-19-07a.jpg",
       {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"goexif-max_uint32_exif.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"mdx-beach.jpg", {XpStatus::JpegDecodeFailed, "a frame of height 0"}},
      {"piexif-notjpeg.jpg", {XpStatus::JpegDecodeFailed, "not JPEG data behind its Exif block"}},
  };
  return kRefused;
}

}  // namespace
