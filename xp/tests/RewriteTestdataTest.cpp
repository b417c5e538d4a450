// The GPS rewrite over the real camera files of the test data, checked with
// our own libjpeg reads and with an independent Exif reader and decoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TestData.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::Segment;
using rewrite_test::TempDir;

// N:35:37:32.828 / E:139:44:31.338, as writing positions back stores them.
void SetNewPosition(XpGPSRecord& record) {
  record.latitudeRef.valid = 1;
  record.latitudeRef.letter = u'N';
  record.latitude.valid = 1;
  record.latitude.numerators = {35, 37, 32828};
  record.latitude.denominators = {1, 1, 1000};
  record.longitudeRef.valid = 1;
  record.longitudeRef.letter = u'E';
  record.longitude.valid = 1;
  record.longitude.numerators = {139, 44, 31338};
  record.longitude.denominators = {1, 1, 1000};
}
constexpr double kNewLatitude = 35 + 37 / 60.0 + 32.828 / 3600;
constexpr double kNewLongitude = 139 + 44 / 60.0 + 31.338 / 3600;

XpStatus MoveTo(const std::string& path) {
  XpGPSRecord record;
  (void)XpExifRewrite::ReadGPS(path, record);  // a picture without GPS starts empty
  SetNewPosition(record);
  return XpExifRewrite::WriteGPS(path, record, true, {.dateTime = "2024:06:01 12:34:56", .beforeCommit = {}});
}

std::vector<std::string> TestDataJpegs() { return testdata::CameraJpegNames(); }

bool HasTagTree(const std::string& path) {
  TagTreePtr tree;
  return XpJpegExif::ReadTagTree(path, &tree) == XpStatus::Ok && tree != nullptr && tree->HasIFD();
}

// The segments a rewrite must keep: all but the first APP1 that begins "Exif".
std::vector<Segment> KeptSegments(const Bytes& file) {
  std::vector<Segment> segments = rewrite_test::AppAndComSegments(file);
  auto exif = std::find_if(segments.begin(), segments.end(), [](const Segment& s) {
    return s.marker == 0xE1 && rewrite_test::StartsWith(s.payload, "Exif");
  });
  if (exif != segments.end()) {
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
  EXPECT_EQ(std::vector<Segment>(segments.begin() + 1, segments.end()), KeptSegments(original));

  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators, (std::array<std::uint32_t, 3>{35, 37, 32828}));
  EXPECT_EQ(read.longitude.numerators, (std::array<std::uint32_t, 3>{139, 44, 31338}));
  EXPECT_EQ(read.latitudeRef.letter, u'N');
  EXPECT_EQ(read.longitudeRef.letter, u'E');

  ASSERT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::Ok);
  EXPECT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::NoExif);
  EXPECT_EQ(rewrite_test::ReadBytes(path).size(), rewritten.size());  // RemoveGPS changes bytes in place
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

INSTANTIATE_TEST_SUITE_P(Testdata, RewriteTestdata, ::testing::ValuesIn(TestDataJpegs()), TestName);

// ---------------------------------------------------------------------------
// The independent reader

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return output;
  }
  std::array<char, 65536> buffer{};
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    output.append(buffer.data(), got);
  }
  ::pclose(pipe);
  return output;
}

bool HaveTool(const char* name) { return !RunCommand(std::string("command -v ") + name + " 2>/dev/null").empty(); }

std::string Flatten(const tifftest::Json& value) {
  switch (value.kind) {
    case tifftest::Json::Kind::Null:
      return "null";
    case tifftest::Json::Kind::Bool:
      return value.boolean ? "true" : "false";
    case tifftest::Json::Kind::Number:
    case tifftest::Json::Kind::String:
      return value.text;
    case tifftest::Json::Kind::Array: {
      std::string out = "[";
      for (const auto& item : value.items) {
        out += Flatten(item) + ",";
      }
      return out + "]";
    }
    case tifftest::Json::Kind::Object: {
      std::string out = "{";
      for (const auto& [key, member] : value.members) {
        out += key + ":" + Flatten(member) + ",";
      }
      return out + "}";
    }
  }
  return {};
}

using TagMap = std::map<std::string, std::string>;

// Every file's "Group:Tag" -> value, read by exiftool in one run.
std::map<std::string, TagMap> ReadWithExiftool(const std::string& folder) {
  const std::string text = RunCommand("cd '" + folder + "' && exiftool -j -G1 -a -u -n -q -q *.jpg 2>/dev/null");
  std::map<std::string, TagMap> files;
  const auto json = tifftest::JsonReader(text).Parse();
  if (!json) {
    return files;
  }
  for (const auto& item : json->items) {
    TagMap tags;
    for (const auto& [key, value] : item.members) {
      tags[key] = Flatten(value);
    }
    files[item["SourceFile"].text] = std::move(tags);
  }
  return files;
}

// Tags a GPS rewrite changes on purpose, and groups that describe the file
// rather than its metadata.
bool ChangesOnPurpose(const std::string& key) {
  static const std::set<std::string> kTags = {
      "IFD0:ModifyDate", "ExifIFD:ExifVersion", "IFD1:ThumbnailOffset", "IFD1:Compression", "IFD1:XResolution",
      "IFD1:YResolution", "IFD1:ResolutionUnit", "IFD1:ModifyDate", "IFD1:ThumbnailLength", "IFD1:ThumbnailImage",
      "SourceFile",
      // File positions that move with the segments before them
      // (the data they point at is compared on its own).
      "MPImage2:MPImageStart", "MPImage3:MPImageStart", "PreviewIFD:PreviewImageStart", "Pentax:PreviewImageStart"};
  static const std::vector<std::string> kGroups = {
      "System:", "File:", "ExifTool:", "Composite:", "GPS:", "IFD2:", "IFD3:"};
  if (kTags.count(key) != 0) {
    return true;
  }
  return std::any_of(kGroups.begin(), kGroups.end(), [&](const std::string& g) { return key.rfind(g, 0) == 0; });
}

// Camera files that a rewrite must refuse, each with the status and why: the
// picture is then left as it was, and a careful reader warns about the same
// file. Any other refusal is a failure.
const std::map<std::string, std::pair<XpStatus, const char*>>& ExpectedRefusals() {
  static const std::map<std::string, std::pair<XpStatus, const char*>> kRefused = {
      {"exifr-broken1.jpg", {XpStatus::ExifDamaged, "GPS entries of type 0"}},
      {"exiv2-exiv2-bug479.jpg", {XpStatus::ExifDamaged, "a directory beyond the Exif block"}},
      {"exiv2-exiv2-bug855.jpg", {XpStatus::ExifDamaged, "FocalLength's value lies beyond the Exif block"}},
      {"exiv2-issue_1881_coverage.jpg", {XpStatus::ExifDamaged, "values beyond the block, a bad Exif directory"}},
      {"exiv2-issue_3455_sigma_print0x0008_empty.jpg", {XpStatus::ExifDamaged, "an Exif entry of type 65285"}},
      {"goexif-infinite_loop_exif.jpg", {XpStatus::ExifDamaged, "entries of unknown types, a directory loop"}},
      {"mdx-Canon_PowerShot_S330.jpg", {XpStatus::ExifDamaged, "Orientation twice in IFD0"}},
      {"mdx-Kodak_ProBack.jpg", {XpStatus::ExifDamaged, "the interoperability pointer leads back to IFD0"}},
      {"pillow-multiple_exif.jpg", {XpStatus::ExifDamaged, "the tree continues beyond its segment"}},
      {"exiv2-1-string-format.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-issue_1912_poc.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"exiv2-table.jpg", {XpStatus::JpegDecodeFailed, "no scan in the JPEG data"}},
      {"goexif-2007-05-12-08-19-07-sep-2007-05-12-08-19-07a.jpg",
       {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"goexif-max_uint32_exif.jpg", {XpStatus::JpegDecodeFailed, "the JPEG data is broken"}},
      {"piexif-notjpeg.jpg", {XpStatus::JpegDecodeFailed, "not JPEG data behind its Exif block"}},
      {"pillow-jpeg_ff00_header.jpg", {XpStatus::JpegDecodeFailed, "a stray 0xFF 0x00 among the header segments"}},
  };
  return kRefused;
}

// Maker-note data that no entry describes: Nikon maker notes whose internal
// directories point behind the maker note's declared bytes. The rewrite
// keeps each maker note's own bytes at their offset, but not what lies
// behind them; these exact differences are known, each one named.
const std::map<std::string, std::set<std::string>>& KnownMakerNoteLosses() {
  static const std::map<std::string, std::set<std::string>> kKnown = {
      {"exifpy-DSCN0010.jpg", {"changed Nikon:NEFBitDepth"}},
      {"mdx-Nikon_D70.jpg",
       {"changed Nikon:VariProgram", "lost PreviewIFD:Compression", "lost PreviewIFD:PreviewImage",
        "lost PreviewIFD:PreviewImageLength", "lost PreviewIFD:PreviewImageStart", "lost PreviewIFD:ResolutionUnit",
        "lost PreviewIFD:XResolution", "lost PreviewIFD:YResolution"}},
  };
  return kKnown;
}

bool KnownMakerNoteLoss(const std::string& file, const std::string& difference) {
  const auto it = KnownMakerNoteLosses().find(file);
  if (it == KnownMakerNoteLosses().end()) {
    return false;
  }
  const std::string head = difference.substr(0, difference.find_first_of(":=", difference.find(':') + 1));
  return it->second.count(head) != 0;
}

std::vector<std::string> Differences(const TagMap& before, const TagMap& after) {
  // IFD1 without a JPEG thumbnail (a strip thumbnail, say) is dropped by design.
  const bool dropsIfd1 = before.count("IFD1:ThumbnailOffset") == 0;
  const auto ignored = [&](const std::string& key) {
    return ChangesOnPurpose(key) || (dropsIfd1 && key.rfind("IFD1:", 0) == 0);
  };
  std::vector<std::string> out;
  for (const auto& [key, value] : before) {
    if (ignored(key)) {
      continue;
    }
    auto it = after.find(key);
    if (it == after.end()) {
      out.push_back("lost " + key + "=" + value.substr(0, 60));
    } else if (it->second != value) {
      out.push_back("changed " + key + ": " + value.substr(0, 60) + " -> " + it->second.substr(0, 60));
    }
  }
  for (const auto& [key, value] : after) {
    if (!ignored(key) && before.count(key) == 0) {
      out.push_back("gained " + key + "=" + value.substr(0, 60));
    }
  }
  return out;
}

double Number(const TagMap& tags, const std::string& key) {
  auto it = tags.find(key);
  return it == tags.end() ? -1 : std::strtod(it->second.c_str(), nullptr);
}

TEST(RewriteTestdataIndependently, ExiftoolSeesTheNewPositionAndNothingElseChanged) {
  if (!HaveTool("exiftool") || !HaveTool("djpeg")) {
    GTEST_SKIP() << "exiftool and djpeg are needed";
  }
  TempDir original;
  TempDir moved;
  TempDir removed;
  std::vector<std::string> names;
  for (const std::string& name : TestDataJpegs()) {
    const Bytes bytes = rewrite_test::ReadBytes(rewrite_test::TestDataPath(name));
    rewrite_test::WriteBytes(original.File(name), bytes);
    if (!HasTagTree(original.File(name))) {
      continue;
    }
    rewrite_test::WriteBytes(moved.File(name), bytes);
    const XpStatus st = MoveTo(moved.File(name));
    const auto refusal = ExpectedRefusals().find(name);
    if (refusal != ExpectedRefusals().end()) {
      EXPECT_EQ(st, refusal->second.first) << name << ": " << refusal->second.second;
      EXPECT_EQ(rewrite_test::ReadBytes(moved.File(name)), bytes) << name;
      std::filesystem::remove(moved.File(name));
      continue;
    }
    if (st != XpStatus::Ok) {
      ADD_FAILURE() << name << " was refused with " << XpStatusText(st);
      std::filesystem::remove(moved.File(name));
      continue;
    }
    rewrite_test::WriteBytes(removed.File(name), bytes);
    EXPECT_EQ(XpExifRewrite::RemoveGPS(removed.File(name)), XpStatus::Ok) << name;
    names.push_back(name);
  }
  ASSERT_GT(names.size(), 30U);

  const auto before = ReadWithExiftool(original.Path());
  const auto afterMove = ReadWithExiftool(moved.Path());
  const auto afterRemove = ReadWithExiftool(removed.Path());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_EQ(afterMove.count(name), 1U);
    const TagMap& old = before.at(name);
    const TagMap& now = afterMove.at(name);
    EXPECT_NEAR(Number(now, "GPS:GPSLatitude"), kNewLatitude, 1e-9);
    EXPECT_NEAR(Number(now, "GPS:GPSLongitude"), kNewLongitude, 1e-9);
    EXPECT_EQ(now.count("GPS:GPSLatitudeRef") ? now.at("GPS:GPSLatitudeRef") : "", "N");
    EXPECT_EQ(now.count("GPS:GPSLongitudeRef") ? now.at("GPS:GPSLongitudeRef") : "", "E");
    for (const std::string& diff : Differences(old, now)) {
      if (!KnownMakerNoteLoss(name, diff)) {
        ADD_FAILURE() << name << " after WriteGPS: " << diff;
      }
    }
    const TagMap& gone = afterRemove.at(name);
    EXPECT_EQ(gone.count("GPS:GPSLatitude"), 0U);
    // XMP or a maker's own segment may carry a position of its own, which
    // the rewrite keeps.
    const bool positionElsewhere = std::any_of(gone.begin(), gone.end(), [](const auto& tag) {
      const std::string& key = tag.first;
      return key.ends_with(":GPSLatitude") && !key.starts_with("GPS:") && !key.starts_with("Composite:");
    });
    if (!positionElsewhere) {
      EXPECT_EQ(gone.count("Composite:GPSPosition"), 0U);
    }
    for (const std::string& diff : Differences(old, gone)) {
      ADD_FAILURE() << name << " after RemoveGPS: " << diff;
    }
    // The independent decoder gives the same pixels for the old and new file.
    const std::string decodeOld = RunCommand("djpeg -dct int '" + original.File(name) + "' 2>/dev/null | md5sum");
    const std::string decodeNew = RunCommand("djpeg -dct int '" + moved.File(name) + "' 2>/dev/null | md5sum");
    EXPECT_EQ(decodeNew, decodeOld);
  }
}

}  // namespace
