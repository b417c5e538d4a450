// Reads every camera JPEG of the test material and compares what the tag tree
// gives with what an independent Exif reader found in the same file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "xp/image/XpJpegExif.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

using tifftest::Json;

namespace {

const std::string kDir = std::string(TV_TESTDATA_DIR) + "/camera/";

std::vector<Json> ReadOracle() {
  std::vector<Json> lines;
  std::ifstream in(kDir + "oracle.jsonl");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) {
      continue;
    }
    auto parsed = tifftest::JsonReader(line).Parse();
    EXPECT_TRUE(parsed.has_value()) << line.substr(0, 80);
    if (parsed) {
      lines.push_back(std::move(*parsed));
    }
  }
  return lines;
}

// The reader the oracle used trims trailing blanks and NULs from texts.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
    text.pop_back();
  }
  return text;
}

// The three (numerator, denominator) pairs of a RATIONAL or SRATIONAL entry,
// as the oracle writes them; "null" for anything else.
std::string PairsText(const XpTiffTagDataBase* e) {
  if (e == nullptr || e->GetCount() < 3 || (e->GetType() != kTiffTypeRational && e->GetType() != kTiffTypeSRational)) {
    return "null";
  }
  std::ostringstream out;
  out << '[';
  for (int i = 0; i < 3; ++i) {
    std::uint32_t w[2];
    std::memcpy(w, e->GetData() + 8 * i, 8);
    const bool s = e->GetType() == kTiffTypeSRational;
    out << (i ? ", " : "") << '[' << (s ? std::to_string(static_cast<std::int32_t>(w[0])) : std::to_string(w[0]))
        << ", " << (s ? std::to_string(static_cast<std::int32_t>(w[1])) : std::to_string(w[1])) << ']';
  }
  out << ']';
  return out.str();
}

std::string OraclePairs(const Json& v) {
  if (v.IsNull()) {
    return "null";
  }
  std::ostringstream out;
  out << '[';
  for (std::size_t i = 0; i < v.items.size(); ++i) {
    out << (i ? ", " : "") << '[' << v[i][0].text << ", " << v[i][1].text << ']';
  }
  out << ']';
  return out.str();
}

std::string OracleText(const Json& v) { return v.IsNull() ? "null" : v.text; }

std::string RefText(const XpTiffTagIFD* gps, std::uint16_t tag) {
  if (gps == nullptr || !gps->Has(tag)) {
    return "null";
  }
  return Trimmed(gps->FindAscii(tag));
}

}  // namespace

TEST(TiffRealMaterial, EveryCameraFileLoadsOrFailsCleanlyAndAgreesWithTheOracle) {
  const std::vector<Json> oracle = ReadOracle();
  ASSERT_GE(oracle.size(), 100u);
  int compared = 0;
  int withGps = 0;
  for (const Json& o : oracle) {
    const std::string file = o["file"].text;
    SCOPED_TRACE(file);
    TagTreePtr tree;
    const XpStatus status = XpJpegExif::ReadTagTree(kDir + file, &tree);
    EXPECT_EQ(status == XpStatus::Ok, tree != nullptr);
    const bool broken = !o["exiftool_error"].IsNull() || !o["jpeg_structure_errors"].items.empty();
    const std::string from = OracleText(o["exif_parsed_from"]);
    if (broken) {
      continue;  // only required not to crash or hang
    }
    if (from == "null") {
      EXPECT_NE(status, XpStatus::Ok) << "found an Exif block the oracle did not";
      continue;
    }
    ASSERT_EQ(status, XpStatus::Ok);
    ++compared;
    EXPECT_EQ(tree->IsBigEndian() ? "MM" : "II", OracleText(o["byte_order"]));
    const XpTiffTagIFD* exif = tree->GetExifIFD();
    const std::string dto =
        exif != nullptr && exif->Has(kTagDateTimeOriginal) ? Trimmed(exif->FindAscii(kTagDateTimeOriginal)) : "null";
    EXPECT_EQ(dto, OracleText(o["datetime_original"]));

    const XpTiffTagIFD* gps = tree->GetGPSIFD();
    EXPECT_EQ(gps != nullptr, o["gps_ifd_present"].boolean);
    EXPECT_EQ(RefText(gps, 1), OracleText(o["gps_lat_ref"]));
    EXPECT_EQ(RefText(gps, 3), OracleText(o["gps_lon_ref"]));
    EXPECT_EQ(PairsText(gps ? gps->Find(2) : nullptr), OraclePairs(o["gps_lat_rationals"]));
    EXPECT_EQ(PairsText(gps ? gps->Find(4) : nullptr), OraclePairs(o["gps_lon_rationals"]));
    if (!o["gps_lat_rationals"].IsNull()) {
      ++withGps;
      XpGPSRecord record;
      gps->GetGPSRecord(record);
      EXPECT_TRUE(record.latitude.IsValid());
      EXPECT_TRUE(record.longitude.IsValid());
    }
  }
  EXPECT_GE(compared, 80);
  EXPECT_GE(withGps, 15);
}
