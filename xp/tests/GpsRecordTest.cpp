#include <gtest/gtest.h>

#include <cstring>

#include "xp/image/XpMemoryFile.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagData.h"
#include "xp/tiff/XpTiffTagManager.h"

using tifftest::TiffBuilder;

namespace {

// A GPS directory holding every tag 0 to 30, in the given byte order.
std::unique_ptr<XpTiffTagManager> FullGpsTree(bool big) {
  TiffBuilder b(big);
  const std::uint32_t gps = b.AddDirectory({
      {0, 1, 4, {2, 3, 0, 0}},
      {1, 2, 2, {'S', 0}},
      {2, 5, 3, b.Rationals({{35, 1}, {37, 1}, {3283, 100}})},
      {3, 2, 2, {'W', 0}},
      {4, 5, 3, b.Rationals({{139, 1}, {44, 1}, {31338, 1000}})},
      {5, 1, 1, {1}},
      {6, 5, 1, b.Rationals({{1234, 10}})},
      {7, 5, 3, b.Rationals({{12, 1}, {34, 1}, {56, 1}})},
      b.Text(8, "07"),
      {9, 2, 2, {'A', 0}},
      {10, 2, 2, {'3', 0}},
      {11, 5, 1, b.Rationals({{25, 10}})},
      {12, 2, 2, {'K', 0}},
      {13, 5, 1, b.Rationals({{50, 1}})},
      {14, 2, 2, {'T', 0}},
      {15, 5, 1, b.Rationals({{90, 1}})},
      {16, 2, 2, {'M', 0}},
      {17, 5, 1, b.Rationals({{180, 1}})},
      b.Text(18, "WGS-84"),
      {19, 2, 2, {'N', 0}},
      {20, 5, 3, b.Rationals({{1, 1}, {2, 1}, {3, 1}})},
      {21, 2, 2, {'E', 0}},
      {22, 5, 3, b.Rationals({{4, 1}, {5, 1}, {6, 1}})},
      {23, 2, 2, {'T', 0}},
      {24, 5, 1, b.Rationals({{45, 1}})},
      {25, 2, 2, {'K', 0}},
      {26, 5, 1, b.Rationals({{7, 2}})},
      {27, 7, 8, {'A', 'S', 'C', 'I', 'I', 0, 0, 0}},
      {28, 7, 3, {'x', 'y', 'z'}},
      b.Text(29, "2020:01:02"),
      b.Short(30, 1),
  });
  b.SetIFD0(b.AddDirectory({b.Long(0x8825, gps)}));
  auto tree = std::make_unique<XpTiffTagManager>();
  XpMemoryFile file{std::span<const std::uint8_t>(b.Bytes())};
  EXPECT_TRUE(tree->Load(file));
  return tree;
}

void ExpectFullRecord(const XpGPSRecord& r) {
  EXPECT_TRUE(r.version.IsValid());
  EXPECT_EQ(r.version.bytes[1], 3);
  EXPECT_EQ(r.latitudeRef.letter, u'S');
  ASSERT_TRUE(r.latitude.IsValid());
  EXPECT_EQ(r.latitude.numerators[2], 3283u);
  EXPECT_EQ(r.latitude.denominators[2], 100u);
  EXPECT_EQ(r.longitudeRef.letter, u'W');
  EXPECT_EQ(r.longitude.numerators[0], 139u);
  EXPECT_EQ(r.altitudeRef.letter, 1);
  EXPECT_EQ(r.altitude.numerator, 1234u);
  EXPECT_EQ(r.timeStamp.numerators[1], 34u);
  EXPECT_EQ(r.satellites.text, "07");
  EXPECT_EQ(r.status.letter, u'A');
  EXPECT_EQ(r.measureMode.letter, u'3');
  EXPECT_EQ(r.dop.denominator, 10u);
  EXPECT_EQ(r.speedRef.letter, u'K');
  EXPECT_EQ(r.speed.numerator, 50u);
  EXPECT_EQ(r.trackRef.letter, u'T');
  EXPECT_EQ(r.track.numerator, 90u);
  EXPECT_EQ(r.imgDirectionRef.letter, u'M');
  EXPECT_EQ(r.imgDirection.numerator, 180u);
  EXPECT_EQ(r.mapDatum.text, "WGS-84");
  EXPECT_EQ(r.destLatitudeRef.letter, u'N');
  EXPECT_EQ(r.destLatitude.numerators[2], 3u);
  EXPECT_EQ(r.destLongitudeRef.letter, u'E');
  EXPECT_EQ(r.destLongitude.numerators[2], 6u);
  EXPECT_EQ(r.destBearingRef.letter, u'T');
  EXPECT_EQ(r.destBearing.numerator, 45u);
  EXPECT_EQ(r.destDistanceRef.letter, u'K');
  EXPECT_EQ(r.destDistance.denominator, 2u);
  EXPECT_EQ(r.processingMethod.bytes.size(), 8u);
  EXPECT_EQ(r.areaInformation.bytes, (std::vector<std::uint8_t>{'x', 'y', 'z'}));
  EXPECT_EQ(r.dateStamp.Text(), "2020:01:02");
  EXPECT_EQ(r.differential.value, 1);
  for (std::uint16_t tag = 0; tag < XpGPSRecord::kTagCount; ++tag) {
    EXPECT_TRUE(r.Element(tag)->IsValid()) << tag;
  }
}

}  // namespace

// Loads the TIFF data `b` built and reads the GPS record of its IFD0's entries; false when the
// data does not load.
bool Ifd0Record(TiffBuilder& b, XpGPSRecord* record) {
  XpTiffTagManager tree;
  XpMemoryFile file{std::span<const std::uint8_t>(b.Bytes())};
  if (!tree.Load(file)) {
    return false;
  }
  tree.GetIFD(0)->GetGPSRecord(*record);
  return true;
}

TEST(GpsRecord, ANewRecordHasEveryElementInvalid) {
  XpGPSRecord record;
  for (std::uint16_t tag = 0; tag < XpGPSRecord::kTagCount; ++tag) {
    ASSERT_NE(record.Element(tag), nullptr);
    EXPECT_FALSE(record.Element(tag)->IsValid());
  }
  EXPECT_EQ(record.Element(31), nullptr);
}

TEST(GpsRecord, FillsEveryElementFromAGpsDirectoryInBothByteOrders) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    auto tree = FullGpsTree(big);
    ASSERT_NE(tree->GetGPSIFD(), nullptr);
    XpGPSRecord record;
    tree->GetGPSIFD()->GetGPSRecord(record);
    ExpectFullRecord(record);
  }
}

TEST(GpsRecord, ResetsElementsWhoseTagsAreAbsent) {
  XpGPSRecord record;
  record.latitude.valid = 1;
  record.processingMethod.valid = 1;
  record.processingMethod.bytes = {1, 2, 3};
  XpTiffTagIFD empty;
  empty.GetGPSRecord(record);
  EXPECT_FALSE(record.latitude.IsValid());
  EXPECT_FALSE(record.processingMethod.IsValid());
  EXPECT_TRUE(record.processingMethod.bytes.empty());
}

TEST(GpsRecord, ALatitudeWithTwoRationalsStaysInvalid) {
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({{2, 5, 2, b.Rationals({{35, 1}, {37, 1}})}, {1, 2, 2, {'N', 0}}}));
  XpGPSRecord record;
  ASSERT_TRUE(Ifd0Record(b, &record));
  EXPECT_FALSE(record.latitude.IsValid());
  EXPECT_TRUE(record.latitudeRef.IsValid());
}

TEST(GpsRecord, UsesTheFirstOfTwoLatitudeEntries) {
  XpTiffTagIFD ifd;
  for (std::uint32_t deg : {10u, 20u}) {
    auto e = XpCreateTiffTagData(2, kTiffTypeRational, 3);
    const std::uint32_t words[6] = {deg, 1, 0, 1, 0, 1};
    std::memcpy(e->GetData(), words, sizeof words);
    ifd.Entries().push_back(std::move(e));  // bypasses AddEntry, which would replace
  }
  XpGPSRecord record;
  ifd.GetGPSRecord(record);
  EXPECT_EQ(record.latitude.numerators[0], 10u);
}

TEST(GpsRecord, TakesRationalsOnlyFromRationalEntries) {
  // Eight bytes per value may not be read from a SHORT or an ASCII entry.
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({{2, 2, 26, TiffBuilder::Ascii("35 deg 37' 32.83\" N   ..")},
                            {6, 3, 1, b.Shorts({5})},
                            {30, 1, 1, {1}},
                            {5, 3, 1, b.Shorts({1})}}));
  XpGPSRecord record;
  ASSERT_TRUE(Ifd0Record(b, &record));
  EXPECT_FALSE(record.latitude.IsValid());
  EXPECT_FALSE(record.altitude.IsValid());
  EXPECT_FALSE(record.differential.IsValid());
  EXPECT_TRUE(record.altitudeRef.IsValid());  // a SHORT altitude reference counts by its value
  EXPECT_EQ(record.altitudeRef.letter, 1);
}

TEST(GpsRecord, CutsTheDateStampAtTenCharacters) {
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({b.Text(29, "2020:01:02 and more")}));
  XpGPSRecord record;
  ASSERT_TRUE(Ifd0Record(b, &record));
  EXPECT_EQ(record.dateStamp.Text(), "2020:01:02");
}

TEST(GpsRecord, FillingADirectoryGivesBackEveryTagWithItsValue) {
  auto tree = FullGpsTree(false);
  XpGPSRecord record;
  tree->GetGPSIFD()->GetGPSRecord(record);
  record.latitudeRef.letter = u'N';
  record.latitude.numerators = {1, 2, 3000};
  record.latitude.denominators = {1, 1, 1000};
  XpTiffTagIFD out;
  ASSERT_EQ(out.SetGPSRecord(record), XpStatus::Ok);
  EXPECT_EQ(out.EntryCount(), 31u);
  XpGPSRecord back;
  out.GetGPSRecord(back);
  EXPECT_EQ(back.latitudeRef.letter, u'N');
  EXPECT_EQ(back.latitude.numerators[2], 3000u);
  back.latitudeRef.letter = u'S';
  back.latitude = [] {
    XpGPSRational3 r;
    r.valid = 1;
    r.numerators = {35, 37, 3283};
    r.denominators = {1, 1, 100};
    return r;
  }();
  ExpectFullRecord(back);
  // The entry types and counts of the stored form.
  EXPECT_EQ(out.Find(0)->GetType(), kTiffTypeByte);
  EXPECT_EQ(out.Find(0)->GetCount(), 4u);
  EXPECT_EQ(out.Find(1)->GetType(), kTiffTypeAscii);
  EXPECT_EQ(out.Find(1)->GetCount(), 2u);
  EXPECT_EQ(out.Find(5)->GetType(), kTiffTypeByte);
  EXPECT_EQ(out.Find(2)->GetCount(), 3u);
  EXPECT_EQ(out.Find(18)->GetCount(), 7u);
  EXPECT_EQ(out.Find(27)->GetType(), kTiffTypeUndefined);
  EXPECT_EQ(out.Find(29)->GetCount(), 11u);
  EXPECT_EQ(out.Find(30)->GetType(), kTiffTypeShort);
}

TEST(GpsRecord, ARecordWithOnlyAPositionAddsNoVersion) {
  XpGPSRecord record = rewrite_test::PositionRecord(u'N', {}, u'E', {});
  XpTiffTagIFD out;
  ASSERT_EQ(out.SetGPSRecord(record), XpStatus::Ok);
  EXPECT_EQ(out.EntryCount(), 4u);
  EXPECT_FALSE(out.Has(0));
}
