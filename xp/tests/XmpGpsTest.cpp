// The XMP GPS properties: lenient reading, and removal and update that keep
// every other byte. Crafted packets cover the written forms; the camera files
// with a position in their XMP are checked against exiftool's reading.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpXmpGps.h"
#include "xp/tests/ExiftoolSupport.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TestData.h"
#include "xp/text/XpNumberText.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Packet(const std::string& description, std::size_t padding = 0) {
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n" +
         description +
         "\n </rdf:RDF>\n"
         "</x:xmpmeta>\n" +
         std::string(padding, ' ') + "\n<?xpacket end=\"w\"?>";
}

XpXmpGps::Position MustRead(const std::string& packet) {
  XpXmpGps::Position position;
  const auto bytes = Bytes(packet);
  EXPECT_EQ(XpXmpGps::ReadGps(bytes, &position), XpStatus::Ok) << packet;
  return position;
}

XpStatus ReadStatus(const std::string& packet) {
  XpXmpGps::Position position;
  return XpXmpGps::ReadGps(Bytes(packet), &position);
}

std::string Attributes(const std::string& latitude, const std::string& longitude, const std::string& more = "") {
  return "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
         "   exif:GPSLatitude=\"" +
         latitude + "\"\n   exif:GPSLongitude=\"" + longitude + "\"" + more + "/>";
}

// A number as the independent reader prints it, read the same in every
// locale ("+47.35" included).
double TagNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  return XpParseDecimal(text).value_or(std::nan(""));
}

TEST(XmpGpsRead, ReadsTheCoordinateForms) {
  struct Case {
    const char* latitude;
    const char* longitude;
    double wantLatitude;
    double wantLongitude;
  };
  const Case cases[] = {
      {"35,37,32.8N", "139,44,30E", 35 + 37 / 60.0 + 32.8 / 3600, 139 + 44 / 60.0 + 30 / 3600.0},
      {"38,53.4142N", "77,2.9578W", 38 + 53.4142 / 60, -(77 + 2.9578 / 60)},
      {"38,24.31168800s", "144,11.33748000e", -(38 + 24.311688 / 60), 144 + 11.33748 / 60},
      {"+47.3541841", "-10.1913155", 47.3541841, -10.1913155},
      {" 12.5S ", "0W", -12.5, 0},
  };
  for (const Case& c : cases) {
    const auto position = MustRead(Packet(Attributes(c.latitude, c.longitude)));
    EXPECT_NEAR(position.latitude, c.wantLatitude, 1e-12) << c.latitude;
    EXPECT_NEAR(position.longitude, c.wantLongitude, 1e-12) << c.longitude;
    EXPECT_FALSE(position.altitude.has_value());
    EXPECT_FALSE(position.timeStamp.has_value());
  }
}

TEST(XmpGpsRead, TakesTheReferenceFromItsOwnPropertyForADecimal) {
  const auto position =
      MustRead(Packet(Attributes("38.5", "144.25",
                                 "\n   exif:GPSLatitudeRef=\"s\" exif:GPSLongitudeRef=\"W\" exif:GPSAltitudeRef=\"1\"\n"
                                 "   exif:GPSAltitude=\"125/10\" exif:GPSTimeStamp=\"2009-06-24T13:40:26Z\"")));
  EXPECT_DOUBLE_EQ(position.latitude, -38.5);
  EXPECT_DOUBLE_EQ(position.longitude, -144.25);
  ASSERT_TRUE(position.altitude.has_value());
  EXPECT_DOUBLE_EQ(*position.altitude, -12.5);
  EXPECT_EQ(position.timeStamp.value_or(""), "2009-06-24T13:40:26Z");
}

TEST(XmpGpsRead, ReadsElementsInSeveralBlocksUnderAnyPrefix) {
  const std::string packet = Packet(
      "  <rdf:Description rdf:about=\"\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" tiff:Make=\"M\"/>\n"
      "  <rdf:Description rdf:about=\"\" xmlns:e=\"http://ns.adobe.com/exif/1.0/\">\n"
      "   <e:GPSLatitude>10,30.5N</e:GPSLatitude>\n"
      "  </rdf:Description>\n"
      "  <rdf:Description xmlns=\"http://ns.adobe.com/exif/1.0/\">\n"
      "   <GPSLongitude>20,15,30W</GPSLongitude>\n"
      "   <GPSAltitude>88.25</GPSAltitude>\n"
      "  </rdf:Description>");
  const auto position = MustRead(packet);
  EXPECT_DOUBLE_EQ(position.latitude, 10 + 30.5 / 60);
  EXPECT_DOUBLE_EQ(position.longitude, -(20 + 15 / 60.0 + 30 / 3600.0));
  EXPECT_DOUBLE_EQ(position.altitude.value_or(0), 88.25);
}

TEST(XmpGpsRead, IgnoresGpsNamesOfOtherNamespaces) {
  const std::string packet = Packet(
      "  <rdf:Description xmlns:exif=\"http://example.com/not-exif/\" exif:GPSLatitude=\"1,2N\" "
      "exif:GPSLongitude=\"3,4E\"/>");
  EXPECT_EQ(ReadStatus(packet), XpStatus::XmpNoPosition);
}

TEST(XmpGpsRead, RefusesWhatItCannotRead) {
  // Coordinates that are there but do not read as one.
  for (const char* bad : {"35,37,32.828xyz", "35,60,0N", "35,37,60N", "91,0N", "35,37E", "", "1,2,3,4N", "1e5",
                          "35;37N", "--3", ".N", "0x10"}) {
    EXPECT_EQ(ReadStatus(Packet(Attributes(bad, "139,44.5E"))), XpStatus::XmpBadPosition) << bad;
  }
  EXPECT_EQ(ReadStatus(Packet(Attributes("35,37.5N", "181,0E"))), XpStatus::XmpBadPosition);
  // No position at all.
  EXPECT_EQ(ReadStatus(Packet("  <rdf:Description xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
                              "exif:GPSLatitude=\"1,2N\"/>")),
            XpStatus::XmpNoPosition);
  // Not a packet that parses.
  for (const std::string& broken :
       {std::string(), std::string("<x:xmpmeta>"), Packet(Attributes("1,2N", "3,4E")).substr(0, 200),
        std::string("\xFF\xFE<\0x\0", 6), std::string("<a b=\"1\"></b>")}) {
    EXPECT_EQ(ReadStatus(broken), XpStatus::XmpInvalid) << broken;
  }
}

TEST(XmpGpsRead, RefusesNestingBeyondTheLimit) {
  std::string deep;
  for (int i = 0; i < 200; ++i) {
    deep += "<a>";
  }
  for (int i = 0; i < 200; ++i) {
    deep += "</a>";
  }
  EXPECT_EQ(ReadStatus(deep), XpStatus::XmpInvalid);
}

TEST(XmpGpsRemove, TakesOutEveryGpsPropertyAndKeepsTheRestAndTheLength) {
  const std::string description =
      "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
      "   exif:ExposureTime=\"1/60\"\n"
      "   exif:GPSLatitude=\"38,53.4142N\"\n"
      "   exif:GPSLongitude='77,2.9578W'\n"
      "   exif:GPSMapDatum=\"WGS-84\">\n"
      "   <exif:Flash rdf:parseType=\"Resource\"><exif:Fired>False</exif:Fired></exif:Flash>\n"
      "   <exif:GPSAltitude>7923/65116</exif:GPSAltitude>\n"
      "   <exif:GPSTimeStamp>2009-06-24T13:40:26Z</exif:GPSTimeStamp>\n"
      "  </rdf:Description>";
  const std::string packet = Packet(description, 200);
  XpXmpGps::Edit edit;
  ASSERT_EQ(XpXmpGps::RemoveGps(Bytes(packet), &edit), XpStatus::Ok);
  EXPECT_TRUE(edit.changed);
  const std::string kept =
      "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
      "   exif:ExposureTime=\"1/60\">\n"
      "   <exif:Flash rdf:parseType=\"Resource\"><exif:Fired>False</exif:Fired></exif:Flash>\n"
      "  </rdf:Description>";
  const std::size_t removed = description.size() - kept.size();
  // The bytes taken out go in front of the trailer.
  std::string want = Packet(kept, 200);
  want.insert(want.rfind("<?xpacket end="), removed, ' ');
  EXPECT_EQ(Text(edit.packet), want);
  EXPECT_EQ(edit.packet.size(), packet.size());
  XpXmpGps::Position position;
  EXPECT_EQ(XpXmpGps::ReadGps(edit.packet, &position), XpStatus::XmpNoPosition);

  // Again: nothing left to take.
  XpXmpGps::Edit again;
  ASSERT_EQ(XpXmpGps::RemoveGps(edit.packet, &again), XpStatus::Ok);
  EXPECT_FALSE(again.changed);
  EXPECT_EQ(again.packet, edit.packet);
}

TEST(XmpGpsRemove, ShrinksAPacketWithoutTrailerAndRefusesBrokenOnes) {
  const std::string sidecar =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
      "<rdf:Description xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" exif:GPSLatitude=\"1,2N\" "
      "exif:GPSLongitude=\"3,4E\"/></rdf:RDF></x:xmpmeta>\n";
  XpXmpGps::Edit edit;
  ASSERT_EQ(XpXmpGps::RemoveGps(Bytes(sidecar), &edit), XpStatus::Ok);
  EXPECT_EQ(Text(edit.packet),
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
            "<rdf:Description xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"/></rdf:RDF></x:xmpmeta>\n");
  XpXmpGps::Edit broken;
  EXPECT_EQ(XpXmpGps::RemoveGps(Bytes(sidecar.substr(0, 100)), &broken), XpStatus::XmpInvalid);
}

TEST(XmpGpsUpdate, WritesTheCoordinatesAndTheirReferencesInPlace) {
  const std::string description =
      "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
      "   exif:GPSLatitudeRef=\"S\" exif:GPSLatitude=\"38,24.31168800S\"\n"
      "   exif:GPSLongitudeRef=\"E\" exif:GPSLongitude=\"144,11.33748000E\"\n"
      "   exif:GPSAltitude=\"12/1\"/>";
  const std::string packet = Packet(description, 40);
  XpXmpGps::Update update;
  update.latitude = 35.62577777777778;
  update.longitude = -139.74;
  XpXmpGps::Edit edit;
  ASSERT_EQ(XpXmpGps::UpdateGps(Bytes(packet), update, &edit), XpStatus::Ok);
  EXPECT_TRUE(edit.changed);
  EXPECT_EQ(edit.packet.size(), packet.size());
  const std::string want =
      "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
      "   exif:GPSLatitudeRef=\"N\" exif:GPSLatitude=\"35,37.54666667N\"\n"
      "   exif:GPSLongitudeRef=\"W\" exif:GPSLongitude=\"139,44.40000000W\"\n"
      "   exif:GPSAltitude=\"12/1\"/>";
  EXPECT_EQ(Text(edit.packet), Packet(want, 40 + description.size() - want.size()));
  const auto position = MustRead(Text(edit.packet));
  EXPECT_NEAR(position.latitude, update.latitude, 1e-9);
  EXPECT_NEAR(position.longitude, update.longitude, 1e-9);
  EXPECT_DOUBLE_EQ(position.altitude.value_or(0), 12);
}

TEST(XmpGpsUpdate, SetsOrAddsAltitudeAndTimeAndDropsTheOldFix) {
  const std::string packet = Packet(
      "  <rdf:Description xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
      "   <exif:GPSVersionID>2.2.0.0</exif:GPSVersionID>\n"
      "   <exif:GPSLatitude>1,2N</exif:GPSLatitude>\n"
      "   <exif:GPSLongitude>3,4E</exif:GPSLongitude>\n"
      "   <exif:GPSImgDirection>90/1</exif:GPSImgDirection>\n"
      "   <exif:GPSSpeed>5/1</exif:GPSSpeed>\n"
      "  </rdf:Description>",
      4);
  XpXmpGps::Update update;
  update.latitude = -0.5;
  update.longitude = 179.999999;
  update.altitude = -3.25;
  update.timeStamp = "2024-05-01T10:20:30Z";
  update.dropStale = true;
  XpXmpGps::Edit edit;
  ASSERT_EQ(XpXmpGps::UpdateGps(Bytes(packet), update, &edit), XpStatus::Ok);
  // Longer than the padding allows: all of it is used, the rest grows.
  EXPECT_EQ(Text(edit.packet),
            "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
            " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
            "  <rdf:Description xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
            "   <exif:GPSVersionID>2.2.0.0</exif:GPSVersionID>\n"
            "   <exif:GPSLatitude>0,30.00000000S</exif:GPSLatitude>\n"
            "   <exif:GPSLongitude>179,59.99994000E</exif:GPSLongitude>\n"
            "   <exif:GPSAltitudeRef>1</exif:GPSAltitudeRef>\n"
            "   <exif:GPSAltitude>3250/1000</exif:GPSAltitude>\n"
            "   <exif:GPSTimeStamp>2024-05-01T10:20:30Z</exif:GPSTimeStamp>\n"
            "  </rdf:Description>\n"
            " </rdf:RDF>\n"
            "</x:xmpmeta>"
            "<?xpacket end=\"w\"?>");
  const auto position = MustRead(Text(edit.packet));
  EXPECT_DOUBLE_EQ(position.altitude.value_or(0), -3.25);
  EXPECT_EQ(position.timeStamp.value_or(""), "2024-05-01T10:20:30Z");
}

// The XMP values of a GPS record: the position, the altitude, and a fix's UTC
// time with a decimal point in every locale. The embedded packet of a photo
// takes the position alone; its altitude and time stay.
TEST(XmpGpsFromRecord, TheUpdateOfARecordAndTheEmbeddedPacketsEdit) {
  XpGPSRecord fix = rewrite_test::PositionRecord(u'N', {35, 30, 0, 1}, u'W', {120, 15, 0, 1});
  rewrite_test::SetAltitude(fix, /*below=*/true, 1234, 10);
  XpXmpGps::Update update;
  ASSERT_TRUE(XpExifRewrite::XmpUpdateFromRecord(fix, &update));
  EXPECT_DOUBLE_EQ(update.latitude, 35.5);
  EXPECT_DOUBLE_EQ(update.longitude, -120.25);
  EXPECT_DOUBLE_EQ(update.altitude.value_or(0), -123.4);
  EXPECT_FALSE(update.timeStamp.has_value());
  EXPECT_FALSE(update.dropStale);

  fix.timeStamp.numerators = {10, 20, 30500};
  fix.timeStamp.denominators = {1, 1, 1000};
  fix.timeStamp.valid = 1;
  const char date[] = "2024:05:01";
  std::copy(std::begin(date), std::end(date), fix.dateStamp.text.begin());
  fix.dateStamp.valid = 1;
  ASSERT_TRUE(XpExifRewrite::XmpUpdateFromRecord(fix, &update));
  EXPECT_EQ(update.timeStamp.value_or(""), "2024-05-01T10:20:30.500Z");
  EXPECT_TRUE(update.dropStale);
  fix.timeStamp.numerators = {9, 5, 7};
  fix.timeStamp.denominators = {1, 1, 1};
  ASSERT_TRUE(XpExifRewrite::XmpUpdateFromRecord(fix, &update));
  EXPECT_EQ(update.timeStamp.value_or(""), "2024-05-01T09:05:07Z");
  fix.timeStamp.numerators[2] = 7250;
  fix.timeStamp.denominators[2] = 1000;
  ASSERT_TRUE(XpExifRewrite::XmpUpdateFromRecord(fix, &update));
  EXPECT_EQ(update.timeStamp.value_or(""), "2024-05-01T09:05:07.250Z");

  const std::string packet = Packet(Attributes("1,2N", "3,4E", "\n   exif:GPSAltitude=\"50000/10000\""), 200);
  XpXmpGps::Edit edit;
  ASSERT_EQ(XpExifRewrite::EditXmpPosition(&fix, Bytes(packet), &edit), XpStatus::Ok);
  ASSERT_TRUE(edit.changed);
  const XpXmpGps::Position position = MustRead(Text(edit.packet));
  EXPECT_DOUBLE_EQ(position.latitude, 35.5);
  EXPECT_DOUBLE_EQ(position.longitude, -120.25);
  EXPECT_DOUBLE_EQ(position.altitude.value_or(0), 5);
  EXPECT_FALSE(position.timeStamp.has_value());
  EXPECT_EQ(edit.packet.size(), packet.size());

  // A record without a position in range writes nothing.
  fix.latitude.numerators[0] = 91;
  EXPECT_FALSE(XpExifRewrite::XmpUpdateFromRecord(fix, &update));
}

TEST(XmpGpsUpdate, NeverAddsAPositionAndRefusesBadValues) {
  const std::string packet =
      Packet("  <rdf:Description xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" tiff:Make=\"M\"/>", 10);
  XpXmpGps::Update update;
  update.latitude = 1;
  update.longitude = 2;
  update.altitude = 3;
  XpXmpGps::Edit edit;
  ASSERT_EQ(XpXmpGps::UpdateGps(Bytes(packet), update, &edit), XpStatus::Ok);
  EXPECT_FALSE(edit.changed);
  EXPECT_EQ(Text(edit.packet), packet);

  const std::string withPosition = Packet(Attributes("1,2N", "3,4E"));
  for (const auto& bad : {XpXmpGps::Update{91, 0, {}, {}, false}, XpXmpGps::Update{0, -180.5, {}, {}, false},
                          XpXmpGps::Update{std::numeric_limits<double>::quiet_NaN(), 0, {}, {}, false},
                          XpXmpGps::Update{0, 0, std::numeric_limits<double>::infinity(), {}, false},
                          XpXmpGps::Update{0, 0, {}, std::string("10\" x=\"1"), false}}) {
    XpXmpGps::Edit refused;
    EXPECT_EQ(XpXmpGps::UpdateGps(Bytes(withPosition), bad, &refused), XpStatus::InvalidArgument);
  }
  XpXmpGps::Edit broken;
  EXPECT_EQ(XpXmpGps::UpdateGps(Bytes(withPosition.substr(0, 150)), update, &broken), XpStatus::XmpInvalid);
}

TEST(XmpGpsFormat, RoundsIntoTheNextDegree) {
  EXPECT_EQ(XpXmpGps::FormatCoordinate(35.62577778, true), "35,37.54666680N");
  EXPECT_EQ(XpXmpGps::FormatCoordinate(-9.9999999999999, false), "10,00.00000000W");
  EXPECT_EQ(XpXmpGps::FormatCoordinate(-0.0, true), "0,00.00000000N");
  EXPECT_EQ(XpXmpGps::FormatCoordinate(-180, false), "180,00.00000000W");
}

// ---- The camera files, read by exiftool ----

bool HaveExiftool() { return exiftool_test::HaveTool("exiftool"); }

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

constexpr char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/";

// The payload range of the first APP1 XMP segment: {begin, length}.
std::optional<std::pair<std::size_t, std::size_t>> FindXmp(const std::vector<std::uint8_t>& jpeg) {
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    const std::size_t header = sizeof kXmpHeader;  // with its NUL
    if (jpeg[at + 1] == 0xE1 && length >= 2 + header && at + 2 + length <= jpeg.size() &&
        std::equal(kXmpHeader, kXmpHeader + header, jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4))) {
      return std::make_pair(at + 4 + header, length - 2 - header);
    }
    at += 2 + length;
  }
  return std::nullopt;
}

// The photo with its XMP payload replaced (segment length fixed).
std::vector<std::uint8_t> WithXmp(const std::vector<std::uint8_t>& jpeg, std::pair<std::size_t, std::size_t> range,
                                  const std::vector<std::uint8_t>& packet) {
  std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(range.first));
  out.insert(out.end(), packet.begin(), packet.end());
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(range.first + range.second), jpeg.end());
  const std::size_t length = packet.size() + sizeof kXmpHeader + 2;
  const std::size_t lengthAt = range.first - sizeof kXmpHeader - 2;
  out[lengthAt] = static_cast<std::uint8_t>(length >> 8);
  out[lengthAt + 1] = static_cast<std::uint8_t>(length & 0xFF);
  return out;
}

// exiftool's XMP tags of each file, one "-Group:Tag=value" line each, read in one run.
std::map<std::string, std::vector<std::string>> XmpTags(const std::vector<std::filesystem::path>& paths) {
  std::string command = "exiftool -m -n -a -G1 -args -XMP:all";
  for (const auto& path : paths) {
    command += " '" + path.string() + "'";
  }
  std::istringstream lines(exiftool_test::RunCommand(command + " 2>/dev/null"));
  std::map<std::string, std::vector<std::string>> tags;
  std::string current = paths.size() == 1 ? paths.front().string() : std::string();
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("======== ")) {
      current = line.substr(9);
    } else if (line.starts_with("-")) {
      tags[current].push_back(line);
    }
  }
  return tags;
}

std::vector<std::string> XmpTags(const std::filesystem::path& path) {
  return XmpTags(std::vector{path})[path.string()];
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/tv-xmpgps-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  [[nodiscard]] std::filesystem::path File(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool IsGpsTag(const std::string& line) {
  return line.find(":GPS") != std::string::npos || line.find("-dji:Gps") != std::string::npos ||
         line.find("-dji:AbsoluteAltitude") != std::string::npos;
}

TEST(XmpGpsCamera, ReadsRemovesAndUpdatesAsExiftoolSees) {
  if (!HaveExiftool()) {
    GTEST_SKIP() << "exiftool is needed";
  }
  const TempFolder folder;
  int withPosition = 0;
  const auto files = testdata::CameraJpegs();
  const auto allTags = XmpTags(files);
  for (const auto& path : files) {
    const auto jpeg = ReadFile(path);
    const auto range = FindXmp(jpeg);
    if (!range) {
      continue;
    }
    const std::string name = path.filename().string();
    const std::span<const std::uint8_t> packet(jpeg.data() + range->first, range->second);
    const auto found = allTags.find(path.string());
    const auto before = found != allTags.end() ? found->second : std::vector<std::string>();
    bool exiftoolHasPosition = false;
    for (const std::string& tag : before) {
      exiftoolHasPosition = exiftoolHasPosition || tag.find(":GPSLatitude=") != std::string::npos;
    }
    XpXmpGps::Position position;
    const XpStatus read = XpXmpGps::ReadGps(packet, &position);
    if (!exiftoolHasPosition) {
      EXPECT_NE(read, XpStatus::Ok) << name;
      continue;
    }
    ++withPosition;
    ASSERT_EQ(read, XpStatus::Ok) << name;
    for (const std::string& tag : before) {
      const auto equals = tag.find('=');
      const std::string key = tag.substr(0, equals);
      const double value = TagNumber(std::string_view(tag).substr(equals + 1));
      if (key.ends_with(":GPSLatitude")) {
        EXPECT_NEAR(position.latitude, value, 1e-9) << name;
      } else if (key.ends_with(":GPSLongitude")) {
        EXPECT_NEAR(position.longitude, value, 1e-9) << name;
      } else if (key.ends_with(":GPSAltitude") || key.ends_with(":AbsoluteAltitude")) {
        EXPECT_NEAR(position.altitude.value_or(-1e9), value, 1e-9) << name;
      }
    }

    // Removed: exiftool reads every other XMP tag as before, and no position.
    XpXmpGps::Edit removed;
    ASSERT_EQ(XpXmpGps::RemoveGps(packet, &removed), XpStatus::Ok) << name;
    EXPECT_TRUE(removed.changed) << name;
    EXPECT_EQ(removed.packet.size(), packet.size()) << name;
    WriteFile(folder.File(name), WithXmp(jpeg, *range, removed.packet));
    std::vector<std::string> wantAfter;
    for (const std::string& tag : before) {
      if (!IsGpsTag(tag)) {
        wantAfter.push_back(tag);
      }
    }
    EXPECT_LT(wantAfter.size(), before.size()) << name;
    EXPECT_EQ(XmpTags(folder.File(name)), wantAfter) << name;

    // Updated: exiftool reads the new position, everything else unchanged.
    XpXmpGps::Update update;
    update.latitude = -33.85678912;
    update.longitude = 151.21529876;
    XpXmpGps::Edit updated;
    ASSERT_EQ(XpXmpGps::UpdateGps(packet, update, &updated), XpStatus::Ok) << name;
    EXPECT_EQ(updated.packet.size(), packet.size()) << name;
    WriteFile(folder.File(name), WithXmp(jpeg, *range, updated.packet));
    const auto after = XmpTags(folder.File(name));
    std::size_t checked = 0;
    for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
      const auto equals = after[i].find('=');
      const std::string key = after[i].substr(0, equals);
      const double value = TagNumber(std::string_view(after[i]).substr(equals + 1));
      if (key.ends_with("GPSLatitude") || key.ends_with("GpsLatitude")) {
        EXPECT_NEAR(value, update.latitude, 1e-7) << name;
        ++checked;
      } else if (key.ends_with("GPSLongitude") || key.ends_with("GpsLongitude")) {
        EXPECT_NEAR(value, update.longitude, 1e-7) << name;
        ++checked;
      } else if (!key.ends_with("Ref")) {
        EXPECT_EQ(after[i], before[i]) << name;
      }
    }
    EXPECT_EQ(after.size(), before.size()) << name;
    EXPECT_EQ(checked, 2u) << name;
  }
  EXPECT_EQ(withPosition, 3);
}

}  // namespace
