#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "Applications/Terravue/mapdata/tests/OracleReader.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/tests/ExiftoolSupport.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

constexpr const char* kPlain = "exifr-iptc-agency-photographer-example.jpg";  // GPS with altitude, no maker note
constexpr const char* kOtherMaker = "exifpy-DSCN0010.jpg";                    // NIKON maker note, GPS
constexpr const char* kNoGps = "exifpy-Canon_40D.jpg";                        // no GPS directory

const std::string kLatitude = "N:35:37:32.828";
const std::string kLongitude = "E:139:44:31.338";

using exiftool_test::RunCommand;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// What the independent reader says about a file's GPS tags (numbers, not texts).
OracleValue ExiftoolGps(const std::string& path) {
  const std::string json = RunCommand(
      "LC_ALL=C exiftool -j -n -GPS:GPSLatitude -GPS:GPSLongitude -GPS:GPSLatitudeRef "
      "-GPS:GPSLongitudeRef -GPS:GPSAltitude " +
      Quoted(path) + " 2>/dev/null");
  auto value = ParseOracleJson(json);
  if (!value || value->items.empty()) {
    ADD_FAILURE() << "exiftool gave no answer for " << path;
    return {};
  }
  return value->items[0];
}

bool HasExiftool() { return RunCommand("LC_ALL=C exiftool -ver 2>/dev/null").size() > 0; }

// A map whose one picture is a copy of `testPicture`, added and then moved.
struct MovedMap {
  TempFolder pictures;
  TempFolder root;
  MapState state{root.Path()};
  std::string picture;

  explicit MovedMap(const char* testPicture, const std::string& latitude = kLatitude,
                    const std::string& longitude = kLongitude) {
    picture = pictures / testPicture;
    EXPECT_TRUE(CopyFileTo(TestPicture(testPicture), picture));
    NullProgressSink progress;
    std::atomic<bool> keepGoing{true};
    EXPECT_TRUE(state.m_pictures.AddPictures({picture}, root.Path(), progress, keepGoing));
    EXPECT_EQ(state.m_pictures.Count(), 1u);
    Record().SetPosition(latitude, longitude);
  }
  PictureRecord& Record() { return state.m_pictures.At(0); }
  std::string Thumbnail() { return Record().ThumbnailPath(root.Path()); }
};

void ExpectPosition(const std::string& path) {
  XpGPSRecord gps;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, gps), XpStatus::Ok) << path;
  EXPECT_EQ(gps.latitudeRef.letter, u'N');
  EXPECT_EQ(gps.latitude.numerators, (std::array<std::uint32_t, 3>{35, 37, 32828}));
  EXPECT_EQ(gps.latitude.denominators, (std::array<std::uint32_t, 3>{1, 1, 1000}));
  EXPECT_EQ(gps.longitudeRef.letter, u'E');
  EXPECT_EQ(gps.longitude.numerators, (std::array<std::uint32_t, 3>{139, 44, 31338}));
  EXPECT_EQ(gps.longitude.denominators, (std::array<std::uint32_t, 3>{1, 1, 1000}));
}

TEST(WriteBack, AMovedPictureGetsItsNewPositionInTheFileAndTheThumbnail) {
  MovedMap map(kPlain);
  XpGPSRecord before;
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.picture, before), XpStatus::Ok);
  FakeQuestion question;
  RecordingLauncher launcher;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(&question, &launcher);
  EXPECT_EQ(report.written, std::vector<std::string>{map.picture});
  EXPECT_TRUE(report.failed.empty());
  ASSERT_EQ(launcher.handOffs.size(), 1u);
  EXPECT_EQ(launcher.handOffs[0], std::vector<std::string>{map.picture});
  EXPECT_TRUE(question.asked.empty());
  EXPECT_EQ(map.Record().m_modified, 0);
  ExpectPosition(map.picture);
  ExpectPosition(map.Thumbnail());

  XpGPSRecord after;
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.picture, after), XpStatus::Ok);
  EXPECT_EQ(after.altitude.IsValid(), before.altitude.IsValid());
  EXPECT_EQ(after.altitude.numerator, before.altitude.numerator);
  EXPECT_EQ(after.timeStamp.numerators, before.timeStamp.numerators);

  if (!HasExiftool()) {
    GTEST_SKIP() << "exiftool is not installed";
  }
  for (const std::string& path : {map.picture, map.Thumbnail()}) {
    const OracleValue tool = ExiftoolGps(path);
    EXPECT_NEAR(tool["GPSLatitude"].number, 35.0 + 37.0 / 60 + 32.828 / 3600, 1e-9) << path;
    EXPECT_NEAR(tool["GPSLongitude"].number, 139.0 + 44.0 / 60 + 31.338 / 3600, 1e-9) << path;
    EXPECT_EQ(tool["GPSLatitudeRef"].text, "N");
    EXPECT_EQ(tool["GPSLongitudeRef"].text, "E");
  }
  EXPECT_EQ(ExiftoolGps(map.picture)["GPSAltitude"].number, ExiftoolGps(TestPicture(kPlain))["GPSAltitude"].number);
}

TEST(WriteBack, APictureWithoutGpsGetsADirectory) {
  MovedMap map(kNoGps);
  const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_EQ(report.written.size(), 1u);
  ExpectPosition(map.picture);
  XpGPSRecord gps;
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.picture, gps), XpStatus::Ok);
  EXPECT_FALSE(gps.altitude.IsValid());
}

TEST(WriteBack, AnotherMakersPictureIsWrittenOnlyAfterOk) {
  MovedMap map(kOtherMaker);
  FakeQuestion question;
  RecordingLauncher launcher;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(&question, &launcher);
  EXPECT_EQ(question.asked, std::vector<std::string>{kOtherMaker});
  EXPECT_EQ(report.written, std::vector<std::string>{map.picture});
  ExpectPosition(map.picture);
}

TEST(WriteBack, DecliningLeavesThePictureUntouchedMovesTheThumbnailAndKeepsTheMove) {
  MovedMap map(kOtherMaker);
  FakeQuestion question;
  question.answer = false;
  RecordingLauncher launcher;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(&question, &launcher);
  EXPECT_EQ(question.asked.size(), 1u);
  EXPECT_EQ(ReadFileText(map.picture), ReadFileText(TestPicture(kOtherMaker)));
  ExpectPosition(map.Thumbnail());
  EXPECT_EQ(map.Record().m_modified, 1);
  EXPECT_EQ(report.declined, std::vector<std::string>{map.picture});
  EXPECT_TRUE(report.written.empty());
  EXPECT_TRUE(launcher.handOffs.empty());
}

TEST(WriteBack, WithTheQuestionSwitchedOffNothingIsAsked) {
  MovedMap map(kOtherMaker);
  FakeQuestion question;
  question.setting = 0;
  question.answer = false;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(&question, nullptr);
  EXPECT_TRUE(question.asked.empty());
  EXPECT_EQ(report.written.size(), 1u);
  ExpectPosition(map.picture);
}

TEST(WriteBack, TheSuitesOwnMakerInAnyCaseIsNotAskedAbout) {
  if (!HasExiftool()) {
    GTEST_SKIP() << "exiftool is not installed";
  }
  MovedMap map(kOtherMaker);
  RunCommand("LC_ALL=C exiftool -q -q -overwrite_original -Make=aRdO " + Quoted(map.picture));
  // The picture as changed here is the one the map knows.
  map.Record().TakeFileStamp();
  FakeQuestion question;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(&question, nullptr);
  EXPECT_TRUE(question.asked.empty());
  EXPECT_EQ(report.written.size(), 1u);
}

TEST(WriteBack, AFailedRewriteKeepsTheMarkStaysOutOfTheHandOffAndIsReported) {
  if (!HasExiftool()) {
    GTEST_SKIP() << "exiftool is not installed";
  }
  TempFolder work;
  // Grow the Exif block until the new GPS directory no longer fits one segment.
  const std::string probe = work / "probe.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture(kNoGps), probe));
  RunCommand("LC_ALL=C exiftool -q -q -overwrite_original -UserComment=" + std::string(60000, 'x') + " " +
             Quoted(probe));
  const std::string bytes = ReadFileText(probe);
  ASSERT_GT(bytes.size(), 6u);
  std::size_t at = 2;
  while (at + 4 < bytes.size() && static_cast<unsigned char>(bytes[at + 1]) != 0xE1) {
    at += 2 + (static_cast<unsigned char>(bytes[at + 2]) << 8 | static_cast<unsigned char>(bytes[at + 3]));
  }
  const int length = static_cast<unsigned char>(bytes[at + 2]) << 8 | static_cast<unsigned char>(bytes[at + 3]);
  const int fill = 60000 + (65500 - length);

  MovedMap map(kNoGps);
  RunCommand("LC_ALL=C exiftool -q -q -overwrite_original -UserComment=" +
             std::string(static_cast<std::size_t>(fill), 'x') + " " + Quoted(map.picture));
  map.Record().TakeFileStamp();
  const std::string before = ReadFileText(map.picture);
  RecordingLauncher launcher;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, &launcher);
  EXPECT_EQ(report.failed, std::vector<std::string>{map.picture});
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].path, map.picture);
  EXPECT_NE(report.problems[0].status, XpStatus::Ok);
  EXPECT_TRUE(report.written.empty());
  EXPECT_TRUE(launcher.handOffs.empty());
  EXPECT_EQ(map.Record().m_modified, 1);
  EXPECT_EQ(ReadFileText(map.picture), before);
  EXPECT_TRUE(map.state.AnyModified());
}

TEST(WriteBack, AMissingPictureIsReportedAndNotHandedOff) {
  MovedMap map(kPlain);
  ASSERT_EQ(::unlink(map.picture.c_str()), 0);
  RecordingLauncher launcher;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, &launcher);
  EXPECT_EQ(report.missing, std::vector<std::string>{map.picture});
  EXPECT_TRUE(launcher.handOffs.empty());
  ExpectPosition(map.Thumbnail());
  EXPECT_EQ(map.Record().m_path, map.picture);
}

TEST(WriteBack, AMissingThumbnailAnswersElevenAndStaysOutOfTheHandOff) {
  MovedMap map(kPlain);
  ASSERT_EQ(::unlink(map.Thumbnail().c_str()), 0);
  EXPECT_EQ(map.Record().WritePosition(map.root.Path(), PictureRecord::WriteMode::Apply, nullptr),
            PictureResult::Missing);
  ExpectPosition(map.picture);
  map.Record().SetPosition("N:01:00:00.000", kLongitude);
  RecordingLauncher launcher;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, &launcher);
  EXPECT_TRUE(report.written.empty());
  EXPECT_TRUE(launcher.handOffs.empty());
}

TEST(WriteBack, NothingToWriteForAnUnmovedOrUnlocatedPicture) {
  MovedMap map(kPlain);
  map.Record().m_modified = 0;
  EXPECT_EQ(map.Record().WritePosition(map.root.Path(), PictureRecord::WriteMode::Apply, nullptr),
            PictureResult::NothingToWrite);
  map.Record().SetPosition("X:99:99:99.999", kLongitude);
  EXPECT_EQ(map.Record().WritePosition(map.root.Path(), PictureRecord::WriteMode::Apply, nullptr),
            PictureResult::NothingToWrite);
  EXPECT_EQ(ReadFileText(map.picture), ReadFileText(TestPicture(kPlain)));
}

TEST(WriteBack, ThumbnailOnlyModeRemovesTheGpsOfAnUnlocatedThumbnail) {
  MovedMap map(kPlain, "X:99:99:99.999", "X:999:99:99.999");
  XpGPSRecord gps;
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.Thumbnail(), gps), XpStatus::Ok);
  EXPECT_EQ(map.Record().WritePosition(map.root.Path(), PictureRecord::WriteMode::ThumbnailOnly, nullptr),
            PictureResult::Success);
  EXPECT_NE(XpExifRewrite::ReadGPS(map.Thumbnail(), gps), XpStatus::Ok);
  EXPECT_EQ(ReadFileText(map.picture), ReadFileText(TestPicture(kPlain)));
}

TEST(WriteBack, RefreshAllBringsTheThumbnailBackToThePicturesPosition) {
  MovedMap map(kPlain);
  ASSERT_EQ(map.Record().WritePosition(map.root.Path(), PictureRecord::WriteMode::ThumbnailOnly, nullptr),
            PictureResult::Success);
  ExpectPosition(map.Thumbnail());
  // Only the thumbnail was changed; the record itself holds no move.
  map.Record().m_modified = 0;
  map.state.m_pictures.RefreshAll(map.root.Path());
  XpGPSRecord picture;
  XpGPSRecord thumbnail;
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.picture, picture), XpStatus::Ok);
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.Thumbnail(), thumbnail), XpStatus::Ok);
  EXPECT_EQ(thumbnail.latitude.numerators[0], picture.latitude.numerators[0]);
  EXPECT_EQ(map.Record().m_latitude.substr(0, 5), "N:38:");
}

// A RAW+JPEG pair shows as one picture, the JPEG: a move writes the JPEG in
// its file and the raw file's position into its sidecar, the raw file untouched.
TEST(WriteBack, AMovedPairWritesTheJpegAndTheRawFilesSidecar) {
  TempFolder pictures;
  TempFolder root;
  const std::string jpeg = pictures / "IMG_5.JPG";
  const std::string raw = pictures / "img_5.cr2";
  ASSERT_TRUE(CopyFileTo(TestPicture(kPlain), jpeg));
  ASSERT_TRUE(CopyFileTo(std::string(TV_TESTDATA_DIR) + "/formats/crafted/cr2-like.cr2", raw));
  const std::string rawBefore = ReadFileText(raw);
  MapState state{root.Path()};
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({jpeg, raw}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 1u);
  state.m_pictures.At(0).SetPosition(kLatitude, kLongitude);
  const WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(report.written, std::vector<std::string>{jpeg});
  ExpectPosition(jpeg);
  EXPECT_EQ(ReadFileText(raw), rawBefore);
  ASSERT_TRUE(MapIsRegularFile(raw + ".xmp"));
  XpGPSRecord fromSidecar;
  ASSERT_TRUE(ReadPictureGPS(raw, &fromSidecar));
  double latitude = 0;
  double longitude = 0;
  ASSERT_TRUE(RationalsToDegrees(fromSidecar.latitudeRef, fromSidecar.latitude, &latitude));
  ASSERT_TRUE(RationalsToDegrees(fromSidecar.longitudeRef, fromSidecar.longitude, &longitude));
  EXPECT_NEAR(latitude, 35 + 37 / 60.0 + 32.828 / 3600, 1e-7);
  EXPECT_NEAR(longitude, 139 + 44 / 60.0 + 31.338 / 3600, 1e-7);
  if (HasExiftool()) {
    const OracleValue o = ParseOracleJson(RunCommand("LC_ALL=C exiftool -j -n -XMP:GPSLatitude -XMP:GPSLongitude " +
                                                     Quoted(raw + ".xmp") + " 2>/dev/null"))
                              ->items[0];
    EXPECT_NEAR(o["GPSLatitude"].number, latitude, 1e-8);
    EXPECT_NEAR(o["GPSLongitude"].number, longitude, 1e-8);
  }

  // Forgetting the position takes it out of both; the raw file's own Exif
  // position then stays, and the save says so instead of reporting success.
  state.m_pictures.At(0).SetPosition(std::string(kNoLatitudeText), std::string(kNoLongitudeText));
  const WriteBackReport removal = state.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(removal.problems.size(), 1u);
  EXPECT_EQ(removal.problems[0].status, XpStatus::PositionStaysInPhoto);
  EXPECT_EQ(removal.problems[0].reason, WriteFailureReason::PositionInPhoto);
  EXPECT_EQ(ReadFileText(raw), rawBefore);
  XpGPSRecord gone;
  EXPECT_EQ(XpExifRewrite::ReadGPS(jpeg, gone), XpStatus::NoExif);
}

// With pairs unlinked, the JPEG and the raw file beside it are two pictures,
// and a move of the JPEG writes the JPEG alone.
TEST(WriteBack, UnlinkedPairsAreTwoPicturesAndAMoveWritesOnlyTheOneMoved) {
  TempFolder pictures;
  TempFolder root;
  const std::string jpeg = pictures / "IMG_7.JPG";
  const std::string raw = pictures / "IMG_7.CR2";
  ASSERT_TRUE(CopyFileTo(TestPicture(kPlain), jpeg));
  ASSERT_TRUE(CopyFileTo(std::string(TV_TESTDATA_DIR) + "/formats/crafted/cr2-like.cr2", raw));
  const std::string rawBefore = ReadFileText(raw);
  struct Relink {
    ~Relink() { SetRawJpegPairsLinked(true); }
  } relink;
  SetRawJpegPairsLinked(false);
  EXPECT_TRUE(PairedOtherFormatFiles(jpeg).empty());
  MapState state{root.Path()};
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({jpeg, raw}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 2u);
  ASSERT_TRUE(state.m_pictures.ContainsPath(raw));
  for (std::size_t i = 0; i < state.m_pictures.Count(); ++i) {
    if (state.m_pictures.At(i).m_path == jpeg) {
      state.m_pictures.At(i).SetPosition(kLatitude, kLongitude);
    }
  }
  const WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(report.written, std::vector<std::string>{jpeg});
  ExpectPosition(jpeg);
  EXPECT_EQ(ReadFileText(raw), rawBefore);
  EXPECT_FALSE(MapIsRegularFile(raw + ".xmp"));
  // Linked again (the default), the raw file is the JPEG's partner.
  SetRawJpegPairsLinked(true);
  EXPECT_EQ(PairedOtherFormatFiles(jpeg), std::vector<std::string>{raw});
}

// The pairs of many JPEGs found at once, each folder listed once: every JPEG
// gets the raw files of its own folder with its base name in any letter case,
// never a same-named file of another folder, a file that is no photo, or
// itself; the list keeps the JPEGs' order, and the load fills the records.
TEST(WriteBack, PairsOfManyJpegsAreFoundPerFolderAsOneJpegsAreAndTheLoadKeepsThem) {
  TempFolder first;
  TempFolder second;
  TempFolder root;
  const std::string cr2 = std::string(TV_TESTDATA_DIR) + "/formats/crafted/cr2-like.cr2";
  const std::string a = first / "IMG_1.JPG";
  const std::string b = first / "img_2.jpg";
  const std::string c = second / "IMG_1.jpg";
  for (const std::string& jpeg : {a, b, c}) {
    ASSERT_TRUE(CopyFileTo(TestPicture(kPlain), jpeg));
  }
  const std::string rawA = first / "img_1.cr2";
  const std::string rawB1 = first / "IMG_2.CR2";
  const std::string rawB2 = first / "Img_2.nef";
  ASSERT_TRUE(CopyFileTo(cr2, rawA));
  ASSERT_TRUE(CopyFileTo(cr2, rawB1));
  ASSERT_TRUE(CopyFileTo(cr2, rawB2));
  // Beside the second folder's JPEG: a text file of its name, which is no photo.
  {
    std::ofstream note(second / "IMG_1.txt");
    note << "not a photo";
  }
  const std::vector<std::vector<std::string>> found = PairedOtherFormatFilesOf({b, c, a});
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], (std::vector<std::string>{rawB1, rawB2}));
  EXPECT_TRUE(found[1].empty());
  EXPECT_EQ(found[2], std::vector<std::string>{rawA});
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(found[i], PairedOtherFormatFiles(std::vector<std::string>{b, c, a}[i]));
  }

  MapState state{root.Path()};
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({a, b, c, rawA, rawB1, rawB2}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 3u);
  for (const PictureRecord& record : state.m_pictures.Records()) {
    EXPECT_EQ(record.m_pairedFiles, PairedOtherFormatFiles(record.m_path)) << record.m_path;
  }
}

// A pair whose raw file's sidecar cannot be written: the report names the
// sidecar and why, the JPEG keeps its written position, and the retry after
// the user mends the sidecar writes the sidecar without rewriting the JPEG.
TEST(WriteBack, APairsFailedSidecarIsReportedByItsOwnPathAndTheRetryLeavesTheJpeg) {
  TempFolder pictures;
  TempFolder root;
  const std::string jpeg = pictures / "IMG_6.JPG";
  const std::string raw = pictures / "IMG_6.CR3";
  ASSERT_TRUE(CopyFileTo(TestPicture(kPlain), jpeg));
  ASSERT_TRUE(CopyFileTo(std::string(TV_TESTDATA_DIR) + "/formats/crafted/cr3-like.cr3", raw));
  const std::string sidecar = raw + ".xmp";
  const std::string broken = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF";
  WriteFileText(sidecar, broken);
  const std::string rawBefore = ReadFileText(raw);
  MapState state{root.Path()};
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({jpeg, raw}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 1u);
  state.m_pictures.At(0).SetPosition(kLatitude, kLongitude);

  const WriteBackReport failed = state.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(failed.problems.size(), 1u);
  EXPECT_EQ(failed.problems[0].path, jpeg);
  EXPECT_EQ(failed.problems[0].file, sidecar);
  EXPECT_EQ(failed.problems[0].status, XpStatus::XmpInvalid);
  EXPECT_EQ(failed.problems[0].reason, WriteFailureReason::SidecarDamaged);
  EXPECT_EQ(failed.failed, std::vector<std::string>{jpeg});
  EXPECT_TRUE(failed.written.empty());
  EXPECT_NE(state.m_pictures.At(0).m_modified, 0);
  EXPECT_EQ(ReadFileText(sidecar), broken);
  EXPECT_EQ(ReadFileText(raw), rawBefore);
  ExpectPosition(jpeg);
  const std::string jpegWritten = ReadFileText(jpeg);
  struct stat before {};
  ASSERT_EQ(::stat(jpeg.c_str(), &before), 0);

  // The user mends the sidecar; the retry writes it and leaves the JPEG's bytes and inode.
  WriteFileText(sidecar,
                "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\"/>"
                "</rdf:RDF></x:xmpmeta>\n");
  const WriteBackReport retried = state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(retried.problems.empty());
  EXPECT_EQ(retried.written, std::vector<std::string>{jpeg});
  EXPECT_EQ(state.m_pictures.At(0).m_modified, 0);
  EXPECT_EQ(ReadFileText(jpeg), jpegWritten);
  struct stat after {};
  ASSERT_EQ(::stat(jpeg.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  XpGPSRecord fromSidecar;
  ASSERT_TRUE(ReadPictureGPS(raw, &fromSidecar));
  double latitude = 0;
  ASSERT_TRUE(RationalsToDegrees(fromSidecar.latitudeRef, fromSidecar.latitude, &latitude));
  EXPECT_NEAR(latitude, 35 + 37 / 60.0 + 32.828 / 3600, 1e-7);
  EXPECT_EQ(ReadFileText(raw), rawBefore);
}

// Forgetting the position of a photo whose Exif can't be read is the
// removal's refusal, with its reason: never passed over as already done and
// counted as written while the photo may still tell where it was taken.
TEST(WriteBack, ForgettingThePositionOfAPhotoWithDamagedExifIsRefusedNotPassedOver) {
  TempFolder pictures;
  TempFolder root;
  const std::string png = pictures / "damaged.png";
  std::string bytes = ReadFileText(std::string(TV_TESTDATA_DIR) + "/formats/crafted/png-exif-late.png");
  const std::size_t at = bytes.find("eXIf");
  ASSERT_NE(at, std::string::npos);
  // IFD0's offset now points far beyond the chunk.
  bytes[at + 4 + 4] = '\xF0';
  bytes[at + 4 + 5] = '\xFF';
  WriteFileText(png, bytes);
  MapState state{root.Path()};
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({png}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 1u);
  state.m_pictures.At(0).SetPosition(std::string(kNoLatitudeText), std::string(kNoLongitudeText));
  state.m_pictures.At(0).m_modified = 1;

  const WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].path, png);
  EXPECT_EQ(report.problems[0].status, XpStatus::ExifDamaged);
  EXPECT_EQ(report.problems[0].reason, WriteFailureReason::ExifDamaged);
  EXPECT_TRUE(report.written.empty());
  EXPECT_NE(state.m_pictures.At(0).m_modified, 0);
  EXPECT_EQ(ReadFileText(png), bytes);
}

// The save report gives the sidecar and raw-file refusals their own reasons.
TEST(WriteBack, SidecarAndRawRefusalsHaveTheirOwnReasons) {
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::PositionStaysInPhoto), WriteFailureReason::PositionInPhoto);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::XmpInvalid), WriteFailureReason::SidecarDamaged);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::SidecarCheckFailed), WriteFailureReason::SidecarDamaged);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::PhotoFormatUnknown), WriteFailureReason::NotWritable);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::PictureReadOnly), WriteFailureReason::ReadOnly);
}

}  // namespace

// Place names chosen in the window are written by the save, after a move of the same photo; a
// photo that cannot take them is reported like a failed move, stays byte-identical and waits.
TEST(WriteBack, ChosenPlaceNamesAreWrittenWithTheMoveAndAFailureKeepsThemWaiting) {
  const XpLocationWrite::Names gion{"Gion", "Kyoto", "Japan", "JP", "JPN", std::nullopt};
  {
    MovedMap map(kPlain);
    map.Record().m_names = gion;
    map.Record().m_namesPending = 1;
    const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
    EXPECT_EQ(report.written, std::vector<std::string>{map.picture});
    EXPECT_TRUE(report.problems.empty());
    EXPECT_EQ(map.Record().m_modified, 0);
    EXPECT_EQ(map.Record().m_namesPending, 0);
    EXPECT_FALSE(map.state.AnyModified());
    ExpectPosition(map.picture);
    XpLocationWrite::Current current;
    ASSERT_EQ(XpLocationWrite::Read(map.picture, &current), XpStatus::Ok);
    EXPECT_EQ(current.xmp.legacy.city, "Gion");
    EXPECT_EQ(current.xmp.legacy.countryCode, "JP");
    ASSERT_TRUE(current.hasIim);
    EXPECT_EQ(current.iim.city, "Gion");
    EXPECT_EQ(current.iim.countryCode, "JPN");
    // A later save finds nothing waiting and leaves the file alone.
    const std::string named = ReadFileText(map.picture);
    const WriteBackReport again = map.state.WritePositionsIntoPictures(nullptr, nullptr);
    EXPECT_TRUE(again.written.empty());
    EXPECT_EQ(ReadFileText(map.picture), named);
  }
  {
    MovedMap map(kPlain);
    map.Record().m_modified = 0;  // names only
    map.Record().m_names = gion;
    map.Record().m_namesPending = 1;
    ASSERT_EQ(::chmod(map.picture.c_str(), 0444), 0);
    const std::string before = ReadFileText(map.picture);
    const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
    EXPECT_TRUE(report.written.empty());
    EXPECT_EQ(report.failed, std::vector<std::string>{map.picture});
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].path, map.picture);
    EXPECT_EQ(report.problems[0].reason, WriteFailureReason::ReadOnly);
    EXPECT_EQ(map.Record().m_namesPending, 1);
    EXPECT_TRUE(map.state.AnyModified());
    EXPECT_EQ(ReadFileText(map.picture), before);
  }
}

// Names chosen for photos that keep none in their file go to their XMP sidecar; the photos stay
// byte-identical, and the report lists those whose position is in their file, so the user learns
// where their names went.
TEST(WriteBack, ChosenPlaceNamesOfOtherKindsGoToTheirSidecarAndThePhotosStayAsTheyWere) {
  TempFolder pictures;
  TempFolder root;
  const std::string png = pictures / "shot.png";
  const std::string raw = pictures / "shot2.orf";
  WriteFileText(png, ReadFileText(std::string(TV_TESTDATA_DIR) + "/formats/crafted/png-exif.png"));
  WriteFileText(raw, ReadFileText(std::string(TV_TESTDATA_DIR) + "/formats/crafted/orf-like.orf"));
  const std::string pngBefore = ReadFileText(png);
  const std::string rawBefore = ReadFileText(raw);
  MapState state{root.Path()};
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(state.m_pictures.AddPictures({png, raw}, root.Path(), progress, keepGoing));
  ASSERT_EQ(state.m_pictures.Count(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    state.m_pictures.At(i).m_names = XpLocationWrite::Names{"Gion", "Kyoto", "Japan", "JP", "JPN", std::nullopt};
    state.m_pictures.At(i).m_namesPending = 1;
  }
  const WriteBackReport report = state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(report.written.size(), 2u);
  EXPECT_EQ(report.namesInSidecars, std::vector<std::string>{png});
  EXPECT_FALSE(state.AnyModified());
  EXPECT_EQ(ReadFileText(png), pngBefore);
  EXPECT_EQ(ReadFileText(raw), rawBefore);
  for (const std::string& photo : {png, raw}) {
    SCOPED_TRACE(photo);
    ASSERT_TRUE(MapIsRegularFile(photo + ".xmp"));
    XpLocationWrite::Current current;
    ASSERT_EQ(XpPhotoWrite::ReadNames(photo, &current), XpStatus::Ok);
    EXPECT_EQ(current.xmp.legacy.city, "Gion");
    EXPECT_EQ(current.xmp.created.countryCode, "JP");
  }
}
