// A GPS rewrite keeps what it does not mean to change, byte for byte: GPS
// tags the record cannot hold exactly, IFD1 without a JPEG thumbnail and its
// strips, data a maker note references behind its own bytes; it refuses a
// thumbnail outside the Exif block, and a removal leaves no coordinates of any
// GPS directory behind. The check before the rename is tested on its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "xp/image/XpExifEdit.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::TempDir;
using tifftest::TiffBuilder;

XpExifRewrite::Hooks FixedDate() { return {.dateTime = "2024:06:01 12:34:56", .beforeCommit = {}}; }

Bytes PictureWithTiff(const std::vector<std::uint8_t>& tiff) {
  rewrite_test::Segment exif{0xE1, tifftest::ExifPayload(tiff)};
  return rewrite_test::MakeJpeg(32, 16, {exif});
}

// The TIFF data of the first Exif segment of a JPEG file.
Bytes TiffOf(const Bytes& file) {
  for (const auto& segment : rewrite_test::AppAndComSegments(file)) {
    if (segment.marker == 0xE1 && rewrite_test::StartsWith(segment.payload, std::string_view("Exif\0\0", 6))) {
      return Bytes(segment.payload.begin() + 6, segment.payload.end());
    }
  }
  return {};
}

XpExifEdit::Layout LayoutOf(const Bytes& tiff) {
  XpExifEdit::Layout layout;
  EXPECT_EQ(XpExifEdit::Walk(tiff, &layout), XpStatus::Ok);
  return layout;
}

Bytes ValueOf(const Bytes& tiff, const XpExifEdit::Entry& e) {
  return Bytes(tiff.begin() + e.valueOffset, tiff.begin() + e.valueOffset + static_cast<std::ptrdiff_t>(e.size));
}

void MoveTo(XpGPSRecord& record) {
  rewrite_test::SetCoordinate(record.latitudeRef, record.latitude, u'S', {12, 34, 56789});
}

class RewriteLossless : public ::testing::Test {
 protected:
  std::string Write(const Bytes& bytes) {
    const std::string path = m_dir.File("photo.jpg");
    rewrite_test::WriteBytes(path, bytes);
    return path;
  }
  TempDir m_dir;
};

TEST_F(RewriteLossless, GpsTagsTheRecordCannotHoldExactlyKeepTheirBytes) {
  for (const bool big : {false, true}) {
    TiffBuilder b(big);
    const std::vector<TiffBuilder::Entry> odd = {
        {6, 4, 1, b.Longs({1428})},                              // altitude as LONG
        {7, 2, 9, TiffBuilder::Ascii("09:54:28")},               // time stamp as text
        {11, 3, 1, b.Shorts({3})},                               // DOP as SHORT
        {17, 5, 2, b.Rationals({{90, 1}, {5, 10}})},             // image direction, count 2
        {27, 2, 6, TiffBuilder::Ascii("HYBRI")},                 // processing method as text
        {29, 2, 20, TiffBuilder::Ascii("2008:05:08 09:54:28")},  // date stamp with a time
        {30, 4, 1, b.Longs({1})},                                // differential as LONG
    };
    std::vector<TiffBuilder::Entry> gps = {{1, 2, 2, TiffBuilder::Ascii("N")},
                                           {2, 5, 3, b.Rationals({{35, 1}, {37, 1}, {32, 1}})}};
    gps.insert(gps.begin() + 2, odd.begin(), odd.end());
    const std::uint32_t gpsAt = b.AddDirectory(gps);
    b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), b.Long(kTagGPSIFD, gpsAt)}));
    const Bytes source = b.Bytes();
    const std::string path = Write(PictureWithTiff(source));

    XpGPSRecord record;
    ASSERT_EQ(XpExifRewrite::ReadGPS(path, record), XpStatus::Ok);
    MoveTo(record);
    ASSERT_EQ(XpExifRewrite::WriteGPS(path, record, true, FixedDate()), XpStatus::Ok);

    const Bytes after = TiffOf(rewrite_test::ReadBytes(path));
    const XpExifEdit::Layout oldLayout = LayoutOf(source);
    const XpExifEdit::Layout newLayout = LayoutOf(after);
    const auto oldGps = oldLayout.GpsDirectories();
    const auto newGps = newLayout.GpsDirectories();
    ASSERT_EQ(oldGps.size(), 1U);
    ASSERT_EQ(newGps.size(), 1U);
    for (const XpExifEdit::Entry& e : oldGps.front()->entries) {
      SCOPED_TRACE(e.tag);
      const XpExifEdit::Entry* now = newGps.front()->Find(e.tag);
      ASSERT_NE(now, nullptr);
      if (e.tag == 1 || e.tag == 2) {
        continue;  // what the write set
      }
      EXPECT_EQ(now->type, e.type);
      EXPECT_EQ(now->count, e.count);
      EXPECT_EQ(ValueOf(after, *now), ValueOf(source, e));
    }
    EXPECT_EQ(ValueOf(after, *newGps.front()->Find(1))[0], 'S');
  }
}

TEST_F(RewriteLossless, IfdOneWithStripsKeepsEveryEntryAndItsStrips) {
  TiffBuilder b(false);
  const Bytes strip(96, 0x5A);
  const std::uint32_t stripAt = b.AppendRaw(strip);
  const std::uint32_t ifd1 =
      b.AddDirectory({b.Long(0x0100, 8), b.Long(0x0101, 4), b.Short(0x0103, 1), b.Long(0x0111, stripAt),
                      b.Short(0x0115, 3), b.Long(0x0117, 96), b.Short(0x0213, 2)});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), b.Text(0x0132, "2001:01:01 01:01:01")}, ifd1));
  const Bytes source = b.Bytes();
  const std::string path = Write(PictureWithTiff(source));
  XpGPSRecord record;
  MoveTo(record);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, record, true, FixedDate()), XpStatus::Ok);

  const Bytes after = TiffOf(rewrite_test::ReadBytes(path));
  const XpExifEdit::Layout old = LayoutOf(source);
  const XpExifEdit::Layout now = LayoutOf(after);
  const XpExifEdit::Directory* before1 = old.Find("IFD1");
  const XpExifEdit::Directory* after1 = now.Find("IFD1");
  ASSERT_NE(after1, nullptr);
  ASSERT_EQ(after1->entries.size(), before1->entries.size());
  for (std::size_t i = 0; i < before1->entries.size(); ++i) {
    EXPECT_EQ(after1->entries[i].tag, before1->entries[i].tag);
    EXPECT_EQ(ValueOf(after, after1->entries[i]), ValueOf(source, before1->entries[i]));
  }
  EXPECT_TRUE(std::equal(strip.begin(), strip.end(), after.begin() + stripAt));
  // The DateTime of IFD0 was patched where it stood.
  const XpExifEdit::Entry* date = now.Find("IFD0")->Find(0x0132);
  EXPECT_EQ(date->valueOffset, old.Find("IFD0")->Find(0x0132)->valueOffset);
  EXPECT_EQ(std::string(after.begin() + date->valueOffset, after.begin() + date->valueOffset + 19),
            "2024:06:01 12:34:56");
}

TEST_F(RewriteLossless, DataAMakerNoteReferencesBehindItsBytesStaysInPlace) {
  TiffBuilder b(false);
  // The maker note's own directory points at a preview behind the note.
  const Bytes preview(300, 0xA7);
  const std::uint32_t previewAt = b.AppendRaw(preview);
  const Bytes note = {'N',
                      'O',
                      'T',
                      'E',
                      0,
                      0,
                      1,
                      0,
                      0x11,
                      0x00,
                      4,
                      0,
                      1,
                      0,
                      0,
                      0,
                      static_cast<std::uint8_t>(previewAt),
                      static_cast<std::uint8_t>(previewAt >> 8),
                      0,
                      0};
  const std::uint32_t exif = b.AddDirectory({{kTagMakerNote, 7, static_cast<std::uint32_t>(note.size()), note}});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), b.Long(kTagExifIFD, exif)}));
  const Bytes source = b.Bytes();
  const std::string path = Write(PictureWithTiff(source));
  XpGPSRecord record;
  MoveTo(record);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, record, true, FixedDate()), XpStatus::Ok);
  const Bytes after = TiffOf(rewrite_test::ReadBytes(path));
  EXPECT_TRUE(std::equal(preview.begin(), preview.end(), after.begin() + previewAt));
  const XpExifEdit::Layout layout = LayoutOf(after);
  const XpExifEdit::Entry* kept = layout.Find("IFD0/8769")->Find(kTagMakerNote);
  EXPECT_EQ(ValueOf(after, *kept), note);
}

TEST_F(RewriteLossless, AThumbnailOutsideTheExifBlockIsDamageAndNothingIsWritten) {
  TiffBuilder b(false);
  const std::uint32_t ifd1 = b.AddDirectory({b.Short(0x0103, 6), b.Long(0x0201, 60000), b.Long(0x0202, 2000)});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker")}, ifd1));
  const std::string path = Write(PictureWithTiff(b.Bytes()));
  const Bytes before = rewrite_test::ReadBytes(path);
  XpGPSRecord record;
  MoveTo(record);
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, record, true, FixedDate()), XpStatus::ExifDamaged);
  EXPECT_EQ(XpExifRewrite::RemoveGPS(path, FixedDate()), XpStatus::ExifDamaged);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

TEST_F(RewriteLossless, RemovalWipesEveryGpsDirectoryThePointerNames) {
  TiffBuilder b(true);
  const Bytes latitude = b.Rationals({{35, 1}, {37, 1}, {32828, 1000}});
  const std::uint32_t first = b.AddDirectory({{1, 2, 2, TiffBuilder::Ascii("N")}, {2, 5, 3, latitude}});
  const Bytes longitude = b.Rationals({{139, 1}, {44, 1}, {31338, 1000}});
  const std::uint32_t second = b.AddDirectory({{3, 2, 2, TiffBuilder::Ascii("E")}, {4, 5, 3, longitude}});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), {kTagGPSIFD, 4, 2, b.Longs({first, second})}}));
  const Bytes source = b.Bytes();
  const std::string path = Write(PictureWithTiff(source));
  const std::size_t length = rewrite_test::ReadBytes(path).size();
  ASSERT_EQ(XpExifRewrite::RemoveGPS(path, FixedDate()), XpStatus::Ok);
  const Bytes file = rewrite_test::ReadBytes(path);
  EXPECT_EQ(file.size(), length);
  for (const Bytes& coordinate : {latitude, longitude}) {
    EXPECT_EQ(std::search(file.begin(), file.end(), coordinate.begin(), coordinate.end()), file.end());
  }
  XpGPSRecord record;
  EXPECT_EQ(XpExifRewrite::ReadGPS(path, record), XpStatus::NoExif);
  const XpExifEdit::Layout layout = LayoutOf(TiffOf(file));
  EXPECT_EQ(layout.Find("IFD0")->Find(0x010F)->count, 6U);
}

// The XMP packet is edited in the same write when the caller asks: the
// edit sees the payload and whether the position goes, and its result is
// what the new file carries; an edit that fails stops the rewrite.
TEST_F(RewriteLossless, TheXmpPacketIsEditedInTheSameWrite) {
  TiffBuilder b(false);
  const std::uint32_t gpsAt = b.AddDirectory({{1, 2, 2, TiffBuilder::Ascii("N")}});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), b.Long(kTagGPSIFD, gpsAt)}));
  const std::string header("http://ns.adobe.com/xap/1.0/\0", 29);
  const auto xmp = [&](const std::string& body) {
    Bytes payload(header.begin(), header.end());
    payload.insert(payload.end(), body.begin(), body.end());
    return payload;
  };
  const rewrite_test::Segment exif{0xE1, tifftest::ExifPayload(b.Bytes())};
  const rewrite_test::Segment comment{0xFE, Bytes{'k', 'e', 'p', 't'}};
  const Bytes source = rewrite_test::MakeJpeg(32, 16, {exif, {0xE1, xmp("<gps at='here'/>")}, comment});
  const auto xmpOf = [](const Bytes& file) {
    for (const auto& segment : rewrite_test::AppAndComSegments(file)) {
      if (segment.marker == 0xE1 && rewrite_test::StartsWith(segment.payload, "http://ns.adobe.com/xap/1.0/")) {
        return segment.payload;
      }
    }
    return Bytes{};
  };
  for (const std::string& replacement : {std::string("<gps at='moved'/>"), std::string("<gps at='th'/>    ")}) {
    for (const bool removing : {false, true}) {
      SCOPED_TRACE(replacement + (removing ? " removing" : " writing"));
      const std::string path = Write(source);
      XpExifRewrite::Hooks hooks = FixedDate();
      bool sawRemoving = !removing;
      hooks.editXmp = [&](bool remove, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* edited) {
        sawRemoving = remove;
        EXPECT_EQ(Bytes(payload.begin(), payload.end()), xmp("<gps at='here'/>"));
        *edited = xmp(replacement);
        return XpStatus::Ok;
      };
      XpGPSRecord record;
      MoveTo(record);
      ASSERT_EQ(removing ? XpExifRewrite::RemoveGPS(path, hooks) : XpExifRewrite::WriteGPS(path, record, true, hooks),
                XpStatus::Ok);
      EXPECT_EQ(sawRemoving, removing);
      const Bytes after = rewrite_test::ReadBytes(path);
      EXPECT_EQ(xmpOf(after), xmp(replacement));
      EXPECT_EQ(rewrite_test::AppAndComSegments(after).back(), comment);
      EXPECT_EQ(rewrite_test::DecodePixels(after), rewrite_test::DecodePixels(source));
      if (removing && replacement.size() == std::string("<gps at='here'/>").size()) {
        EXPECT_EQ(after.size(), source.size());  // the same length: changed in place
      }
    }
  }
  // A failing edit leaves the photo as it was.
  const std::string path = Write(source);
  XpExifRewrite::Hooks hooks = FixedDate();
  hooks.editXmp = [](bool, std::span<const std::uint8_t>, std::vector<std::uint8_t>*) { return XpStatus::XmlFailed; };
  XpGPSRecord record;
  MoveTo(record);
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, record, true, hooks), XpStatus::XmlFailed);
  EXPECT_EQ(XpExifRewrite::RemoveGPS(path, hooks), XpStatus::XmlFailed);
  EXPECT_EQ(rewrite_test::ReadBytes(path), source);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

// The check before the rename, on its own: it names what an edit lost.
TEST(ExifEditCheck, NamesEveryKindOfLoss) {
  TiffBuilder b(false);
  const Bytes thumb(200, 0xD8);
  const std::uint32_t thumbAt = b.AppendRaw(thumb);
  const std::uint32_t gpsAt = b.AddDirectory({{1, 2, 2, TiffBuilder::Ascii("N")}, {0x0040, 3, 1, b.Shorts({9})}});
  const Bytes note(40, 0x33);
  const std::uint32_t exif = b.AddDirectory({{kTagMakerNote, 7, 40, note}});
  const std::uint32_t ifd1 = b.AddDirectory({b.Long(0x0201, thumbAt), b.Long(0x0202, 200)});
  const std::uint32_t ifd0 =
      b.AddDirectory({b.Text(0x010F, "Maker"), b.Long(kTagExifIFD, exif), b.Long(kTagGPSIFD, gpsAt)}, ifd1);
  b.SetIFD0(ifd0);
  const Bytes source = b.Bytes();

  XpGPSRecord record;
  MoveTo(record);
  XpExifEdit::Request request;
  request.record = &record;
  request.dateTime = "2024:06:01 12:34:56";
  XpExifEdit::Outcome outcome;
  ASSERT_EQ(XpExifEdit::Edit(source, request, &outcome), XpStatus::Ok);
  EXPECT_EQ(XpExifEdit::Difference(source, outcome.tiff, request, outcome), "");

  const XpExifEdit::Layout edited = LayoutOf(outcome.tiff);
  // A byte of the maker note (or of data behind it) changed.
  Bytes changed = outcome.tiff;
  changed[edited.Find("IFD0/8769")->Find(kTagMakerNote)->valueOffset + 7] ^= 1;
  EXPECT_NE(XpExifEdit::Difference(source, changed, request, outcome), "");
  // The thumbnail's bytes changed.
  changed = outcome.tiff;
  changed[thumbAt + 10] ^= 1;
  EXPECT_NE(XpExifEdit::Difference(source, changed, request, outcome), "");
  // IFD1 dropped from the chain.
  changed = outcome.tiff;
  const XpExifEdit::Directory* newIfd0 = edited.Find("IFD0");
  std::fill_n(changed.begin() + newIfd0->offset + 2 + 12 * static_cast<std::ptrdiff_t>(newIfd0->entries.size()), 4, 0);
  EXPECT_EQ(XpExifEdit::Difference(source, changed, request, outcome), "IFD0: next directory changed");
  // A GPS tag the write did not set changed its value.
  changed = outcome.tiff;
  const XpExifEdit::Entry* unknown = edited.GpsDirectories().front()->Find(0x0040);
  changed[unknown->valueOffset] ^= 1;
  EXPECT_EQ(XpExifEdit::Difference(source, changed, request, outcome), "IFD0/8825: lost or changed 0040");
}

TEST(ExifEditWalk, HostileDataIsRefusedWithAStatus) {
  XpExifEdit::Layout layout;
  EXPECT_EQ(XpExifEdit::Walk(Bytes{'I', 'I', 42}, &layout), XpStatus::JpegDecodeFailed);
  EXPECT_EQ(XpExifEdit::Walk(Bytes{'I', 'X', 42, 0, 8, 0, 0, 0}, &layout), XpStatus::JpegDecodeFailed);
  const auto damaged = [&](const std::function<void(TiffBuilder&)>& make) {
    TiffBuilder b(false);
    make(b);
    return XpExifEdit::Walk(b.Bytes(), &layout);
  };
  EXPECT_EQ(damaged([](TiffBuilder& b) { b.SetIFD0(5000); }), XpStatus::ExifDamaged);
  EXPECT_EQ(damaged([](TiffBuilder& b) { b.SetIFD0(b.AppendRaw({0xE9, 0x03})); }), XpStatus::ExifDamaged);
  EXPECT_EQ(damaged([](TiffBuilder& b) {
              b.SetIFD0(b.AddDirectory({{0x010F, 2, 5000, {'a', 'b', 'c', 'd', 'e'}}}));
            }),
            XpStatus::ExifDamaged);
  EXPECT_EQ(damaged([](TiffBuilder& b) { b.SetIFD0(b.AddDirectory({{0x010F, 99, 1, {1}}})); }), XpStatus::ExifDamaged);
  EXPECT_EQ(damaged([](TiffBuilder& b) {
              const std::uint32_t ifd0 = b.AddDirectory({b.Short(0x0112, 1)});
              b.PatchNext(ifd0, ifd0);
              b.SetIFD0(ifd0);
            }),
            XpStatus::ExifDamaged);
  EXPECT_EQ(damaged([](TiffBuilder& b) { b.SetIFD0(b.AddDirectory({b.Text(kTagGPSIFD, "N")})); }),
            XpStatus::ExifDamaged);
  EXPECT_EQ(damaged([](TiffBuilder& b) { b.SetIFD0(b.AddDirectory({b.Short(0x0112, 1)})); }), XpStatus::Ok);
  EXPECT_EQ(layout.directories.size(), 1U);
}

}  // namespace
