// Writing place names into a JPEG: where a new XMP packet goes, what a photo
// with an IIM block gets, and that every refusal leaves the photo as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "xp/image/XpLocationWrite.h"
#include "xp/tests/RewriteTestSupport.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::MakeJpeg;
using rewrite_test::MakeSegment;
using rewrite_test::Segment;
using rewrite_test::TempDir;

const XpLocationWrite::Names kGion{"Gion", "Kyōto", "Japan", "JP", "JPN", std::nullopt};

std::string Exif() { return std::string("Exif\0\0MM\0\x2A\0\0\0\x08\0\0\0\0\0\0", 20); }

std::string XmpPayload(std::size_t padding) {
  return std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
         "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about=''"
         " xmlns:dc='http://purl.org/dc/elements/1.1/' dc:format='image/jpeg'/></rdf:RDF></x:xmpmeta>" +
         std::string(padding, ' ') + "<?xpacket end='w'?>";
}

Bytes IimPayload() {
  Bytes out(XpIptcIim::kHeader.begin(), XpIptcIim::kHeader.end());
  const Bytes iim = {0x1C, 1, 90, 0, 3, 0x1B, '%', 'G', 0x1C, 2, 5, 0, 2, 'H', 'i'};
  const Bytes head = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(iim.size())};
  out.insert(out.end(), head.begin(), head.end());
  out.insert(out.end(), iim.begin(), iim.end());
  out.push_back(0);
  return out;
}

TEST(RewriteLocation, APhotoWithoutXmpGetsAPacketBehindJfifAndExif) {
  TempDir dir;
  const std::string path = dir.File("photo.jpg");
  const Bytes original = MakeJpeg(32, 16, {MakeSegment(0xE1, Exif()), MakeSegment(0xFE, "comment")});
  rewrite_test::WriteBytes(path, original);
  XpLocationWrite::Outcome outcome;
  ASSERT_EQ(XpLocationWrite::Write(path, kGion, {}, &outcome), XpStatus::Ok);
  EXPECT_TRUE(outcome.written);
  EXPECT_TRUE(outcome.xmpAdded);
  EXPECT_FALSE(outcome.iimChanged);  // no IIM block: none is made
  const auto before = rewrite_test::AppAndComSegments(original);
  const auto after = rewrite_test::AppAndComSegments(rewrite_test::ReadBytes(path));
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after[0], before[0]);  // JFIF
  EXPECT_EQ(after[1], before[1]);  // Exif
  EXPECT_TRUE(rewrite_test::StartsWith(after[2].payload, std::string_view("http://ns.adobe.com/xap/1.0/\0", 29)));
  EXPECT_EQ(after[3], before[2]);
  EXPECT_EQ(rewrite_test::DecodePixels(rewrite_test::ReadBytes(path)), rewrite_test::DecodePixels(original));

  XpLocationWrite::Current current;
  ASSERT_EQ(XpLocationWrite::Read(path, &current), XpStatus::Ok);
  EXPECT_TRUE(current.hasXmp);
  EXPECT_FALSE(current.hasIim);
  EXPECT_EQ(current.xmp.legacy, (XpXmpLocation::Location{"Gion", "Kyōto", "Japan", "JP", ""}));

  // The same names again: the photo is not touched.
  struct stat first {};
  ASSERT_EQ(::stat(path.c_str(), &first), 0);
  const Bytes named = rewrite_test::ReadBytes(path);
  ASSERT_EQ(XpLocationWrite::Write(path, kGion, {}, &outcome), XpStatus::Ok);
  EXPECT_FALSE(outcome.written);
  EXPECT_EQ(rewrite_test::ReadBytes(path), named);
  struct stat second {};
  ASSERT_EQ(::stat(path.c_str(), &second), 0);
  EXPECT_EQ(first.st_ino, second.st_ino);
}

TEST(RewriteLocation, AnIimBlockAndAnXmpPacketAreBothWrittenInTheirPlaces) {
  TempDir dir;
  const std::string path = dir.File("photo.jpg");
  const Bytes iim = IimPayload();
  const Bytes original = MakeJpeg(16, 16,
                                  {MakeSegment(0xE1, Exif()), MakeSegment(0xE1, XmpPayload(3000)), Segment{0xED, iim},
                                   MakeSegment(0xE2, "ICC_PROFILE", 300)});
  rewrite_test::WriteBytes(path, original);
  XpLocationWrite::Outcome outcome;
  ASSERT_EQ(XpLocationWrite::Write(path, kGion, {}, &outcome), XpStatus::Ok);
  EXPECT_TRUE(outcome.xmpChanged);
  EXPECT_FALSE(outcome.xmpAdded);
  EXPECT_TRUE(outcome.iimChanged);
  const auto before = rewrite_test::AppAndComSegments(original);
  const auto after = rewrite_test::AppAndComSegments(rewrite_test::ReadBytes(path));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[2].payload.size(), before[2].payload.size());  // the padding took the new properties
  EXPECT_NE(after[2], before[2]);
  EXPECT_NE(after[3], before[3]);
  EXPECT_EQ(after[4], before[4]);
  XpLocationWrite::Current current;
  ASSERT_EQ(XpLocationWrite::Read(path, &current), XpStatus::Ok);
  EXPECT_EQ(current.iim, (XpIptcIim::Location{"Gion", "Kyōto", "JPN", "Japan"}));
  EXPECT_EQ(current.xmp.created, (XpXmpLocation::Location{"Gion", "Kyōto", "Japan", "JP", ""}));
}

TEST(RewriteLocation, EveryRefusalLeavesThePhotoAsItWas) {
  TempDir dir;
  const std::string path = dir.File("photo.jpg");
  XpLocationWrite::Outcome outcome;

  // A multi-picture segment in front of a segment that grows: its images
  // behind the first one would no longer be where it says.
  const Bytes mpf = MakeJpeg(
      16, 16,
      {MakeSegment(0xE1, Exif()), MakeSegment(0xE2, std::string("MPF\0II", 6), 40), MakeSegment(0xE1, XmpPayload(0))});
  rewrite_test::WriteBytes(path, mpf);
  EXPECT_EQ(XpLocationWrite::Write(path, kGion, {}, &outcome), XpStatus::MetadataWouldMove);
  EXPECT_EQ(rewrite_test::ReadBytes(path), mpf);
  EXPECT_FALSE(outcome.written);

  // A packet that does not parse.
  const Bytes broken =
      MakeJpeg(16, 16, {MakeSegment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta>", 40))});
  rewrite_test::WriteBytes(path, broken);
  EXPECT_EQ(XpLocationWrite::Write(path, kGion, {}, &outcome), XpStatus::XmpInvalid);
  EXPECT_EQ(rewrite_test::ReadBytes(path), broken);

  // A damaged IIM block.
  Bytes iim = IimPayload();
  iim[25] = 0x40;
  const Bytes badIim = MakeJpeg(16, 16, {Segment{0xED, iim}});
  rewrite_test::WriteBytes(path, badIim);
  EXPECT_EQ(XpLocationWrite::Write(path, kGion, {}, &outcome), XpStatus::IimInvalid);
  EXPECT_EQ(rewrite_test::ReadBytes(path), badIim);

  // A failure after the new file is written, a protected photo, no JPEG.
  const Bytes plain = MakeJpeg(16, 16, {});
  rewrite_test::WriteBytes(path, plain);
  XpExifRewrite::Hooks failing;
  failing.beforeCommit = [](const std::string&) { return XpStatus::DiskFull; };
  EXPECT_EQ(XpLocationWrite::Write(path, kGion, failing, &outcome), XpStatus::DiskFull);
  EXPECT_EQ(rewrite_test::ReadBytes(path), plain);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(XpLocationWrite::Write(path, kGion, {}, &outcome), XpStatus::PictureReadOnly);
  EXPECT_EQ(rewrite_test::ReadBytes(path), plain);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  const std::string text = dir.File("notes.jpg");
  rewrite_test::WriteBytes(text, Bytes{'n', 'o', 't', 'e', 's'});
  EXPECT_EQ(XpLocationWrite::Write(text, kGion, {}, &outcome), XpStatus::JpegDecodeFailed);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"notes.jpg", "photo.jpg"}));
}

}  // namespace
