#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "xp/base/XpFileType.h"
#include "xp/tests/FileTypeFixtures.h"
#include "xp/tests/TestData.h"

namespace {

using fixtures::Bytes;
using fixtures::TempDir;
using namespace XpFileTypes;

std::string TestData(const std::string& name) { return std::string(TV_TESTDATA_DIR) + "/camera/" + name; }

struct ExtensionCase {
  const char* name;
  FileTypeCode byContent;    // XpGetFileType on an empty file of that name
  FileTypeCode byExtension;  // XpGetFileTypeFromExtension
};

class FileTypeByExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(FileTypeByExtension, GivesTheDesignedCodeForAnEmptyAndForAMissingFile) {
  TempDir dir;
  const std::string path = dir.Write(GetParam().name, {});
  EXPECT_EQ(XpGetFileType(path), GetParam().byContent);
  EXPECT_EQ(XpGetFileTypeFromExtension(path), GetParam().byExtension);
  std::filesystem::remove(path);
  EXPECT_EQ(XpGetFileType(path), GetParam().byContent);
  EXPECT_EQ(XpGetFileTypeFromExtension(path), GetParam().byExtension);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileTypeByExtension,
    ::testing::Values(
        ExtensionCase{"a.jpg", kJpeg, kJpegByExtension}, ExtensionCase{"a.JPG", kJpeg, kJpegByExtension},
        ExtensionCase{"a.Jpeg", kJpeg, kJpegByExtension}, ExtensionCase{"a.jpe", kJpeg, kJpegByExtension},
        ExtensionCase{"a.jpgx", kUnknown, kUnknown}, ExtensionCase{"a.thm", kThumbnail, kThumbnail},
        ExtensionCase{"a.SR2", kRawSr2, kRawSr2}, ExtensionCase{"a.srf", kRawSrf, kRawSrf},
        ExtensionCase{"a.arw", kRawArw, kRawArw}, ExtensionCase{"a.mrw", kRawMrw, kRawMrw},
        ExtensionCase{"a.TIF", kTiff, kTiff}, ExtensionCase{"a.tiff", kTiff, kTiff},
        ExtensionCase{"a.gif", kUnknown, kGif}, ExtensionCase{"a.modd", kModd, kUnknown},
        ExtensionCase{"a.mpg", kUnknown, kMpegByExtension}, ExtensionCase{"a.MPEG", kUnknown, kMpegByExtension},
        ExtensionCase{"a.m2p", kMpeg2Program, kMpeg2ByExtension}, ExtensionCase{"a.m2t", kUnknown, kMpeg2ByExtension},
        ExtensionCase{"a.mts", kUnknown, kMpeg2ByExtension}, ExtensionCase{"a.m2ts", kUnknown, kMpeg2ByExtension},
        ExtensionCase{"a.mmv", kMmv, kMmv}, ExtensionCase{"a.mp4", kUnknown, kMp4ByExtension},
        ExtensionCase{"a.avi", kUnknown, kAviByExtension}, ExtensionCase{"a.WMV", kWmv, kWmv},
        ExtensionCase{"noext", kUnknown, kUnknown}, ExtensionCase{"trailing.", kUnknown, kUnknown},
        ExtensionCase{".jpg", kJpeg, kJpegByExtension}),
    [](const auto& info) {
      std::string name;
      for (const char c : std::string(info.param.name)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      return name + "_" + std::to_string(info.index);
    });

TEST(FileTypeTable, ListsEachExtensionOnceInLowerCaseAndReachesEveryRow) {
  TempDir dir;
  std::set<std::string_view> seen;
  for (const XpFileTypeEntry& entry : XpFileTypeTable()) {
    ASSERT_GE(entry.extension.size(), 2u);
    EXPECT_EQ(entry.extension.front(), '.');
    EXPECT_TRUE(seen.insert(entry.extension).second) << entry.extension << " is listed twice";
    std::string upper = "A";
    for (const char c : entry.extension) {
      EXPECT_FALSE(c >= 'A' && c <= 'Z') << entry.extension;
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // A row listed after another with the same extension would never be read;
    // each row's own answer must be what the classifiers give for its extension.
    const std::string path = dir.Write(upper, {});
    EXPECT_EQ(XpGetFileTypeFromExtension(path), entry.byExtension) << entry.extension;
    if (entry.check == nullptr) {
      EXPECT_EQ(XpGetFileType(path), entry.byContent) << entry.extension;
    }
  }
}

TEST(FileType, GivesFoldersTheirOwnCode) {
  TempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("pictures.jpg")));
  for (const std::string& path : {dir.Path(), dir.Path() + "/", dir.File("pictures.jpg"), std::string("/")}) {
    EXPECT_EQ(XpGetFileType(path), kDirectory) << path;
    EXPECT_EQ(XpGetFileTypeFromExtension(path), kDirectory) << path;
  }
}

TEST(FileType, LooksOnlyAtTheLastPathElementForTheExtension) {
  TempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("folder.jpg")));
  const std::string path = dir.Write("folder.jpg/noext", {1, 2, 3});
  EXPECT_EQ(XpGetFileType(path), kUnknown);
  EXPECT_EQ(XpGetFileTypeFromExtension(path), kUnknown);
}

TEST(FileType, ClassifiesACameraJpegWithAnUpperCaseExtensionAsAnOrdinaryStill) {
  TempDir dir;
  const std::string upper = dir.File("camera.JPG");
  const std::string jpeg = dir.File("camera.jpeg");
  std::filesystem::copy_file(TestData("exifpy-Canon_40D.jpg"), upper);
  std::filesystem::copy_file(TestData("exifpy-Canon_40D.jpg"), jpeg);
  EXPECT_EQ(XpGetFileType(upper), kJpeg);
  EXPECT_EQ(XpGetFileType(jpeg), kJpeg);
  EXPECT_EQ(XpGetFileTypeFromExtension(upper), kJpegByExtension);
}

struct MarkCase {
  const char* name;
  fixtures::ExifContent content;
  FileTypeCode expected;
};

class FileTypeMakerMark : public ::testing::TestWithParam<MarkCase> {};

TEST_P(FileTypeMakerMark, DecidesBetweenTheTwoJpegCodes) {
  TempDir dir;
  const Bytes jpeg = fixtures::JpegWithExif(fixtures::TiffData(GetParam().content));
  EXPECT_EQ(XpGetFileType(dir.Write("p.jpg", jpeg)), GetParam().expected);
  // Only ".jpg" is looked into.
  EXPECT_EQ(XpGetFileType(dir.Write("p.jpeg", jpeg)), kJpeg);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileTypeMakerMark,
                         ::testing::Values(MarkCase{"MarkSet", {}, kJpegMarked},
                                           MarkCase{"MarkZero", {.markByte = 0}, kJpeg},
                                           MarkCase{"MarkNotUndefined", {.markType = 1}, kJpeg},
                                           MarkCase{"OtherMaker", {.make = "Other"}, kJpeg},
                                           MarkCase{"NoMakerNote", {.makerNote = false}, kJpeg}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileType, ClassifiesEveryRealJpegAsAnOrdinaryStill) {
  int count = 0;
  for (const auto& path : testdata::CameraJpegs()) {
    ++count;
    // None of these comes from the suite's own cameras, so none carries the mark.
    EXPECT_EQ(XpGetFileType(path.string()), kJpeg) << path;
  }
  EXPECT_GE(count, 100);
}

TEST(FileType, ReadsTheGifRecords) {
  TempDir dir;
  EXPECT_EQ(XpGetFileType(dir.Write("still.gif", fixtures::Gif(0))), kGif);
  EXPECT_EQ(XpGetFileType(dir.Write("frames.gif", fixtures::Gif(0, 3))), kGif);
  EXPECT_EQ(XpGetFileType(dir.Write("anim.gif", fixtures::Gif(10, 2))), kAnimatedGif);
  EXPECT_EQ(XpGetFileType(dir.Write("late.gif", fixtures::Gif(0x0100))), kAnimatedGif);
  EXPECT_EQ(XpGetFileType(dir.Write("text.gif", {'n', 'o', 't', ' ', 'g', 'i', 'f'})), kUnknown);
  Bytes cut = fixtures::Gif(0);
  cut.resize(cut.size() - 6);  // the image data ends early: the library opened it all the same
  EXPECT_EQ(XpGetFileType(dir.Write("cut.gif", cut)), kGif);
}

struct MpegCase {
  Bytes prefix;
  FileTypeCode expected;
};

class FileTypeMpeg : public ::testing::TestWithParam<MpegCase> {};

TEST_P(FileTypeMpeg, ReadsThePackStartAndTheGenerationBits) {
  TempDir dir;
  EXPECT_EQ(XpFileTypeChecks::MpegProgramStream(GetParam().prefix), GetParam().expected);
  EXPECT_EQ(XpGetFileType(dir.Write("m.mpg", GetParam().prefix)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileTypeMpeg,
    ::testing::Values(MpegCase{{0, 0, 1, 0xBA, 0x44}, kMpeg2Program}, MpegCase{{0, 0, 1, 0xBA, 0x21}, kMpeg1Program},
                      MpegCase{{0, 0, 1, 0xBA, 0x64}, kMpeg1Program}, MpegCase{{0, 0, 1, 0xBA, 0x00}, kUnknown},
                      MpegCase{{0, 0, 1, 0xB3, 0x44}, kUnknown}, MpegCase{{0, 0, 1, 0xBA}, kUnknown}));

// A transport stream of `packets` packets of `size` bytes (188, or 192 with a
// four-byte time stamp first); packet `pmtAt` carries a program map table whose
// program information starts with `descriptor`.
Bytes TransportStream(std::size_t size, int packets, int pmtAt, const Bytes& descriptor, int sections = 1) {
  Bytes b;
  const std::size_t extra = size - 188;
  for (int k = 0; k < packets; ++k) {
    Bytes packet(size, 0xFF);
    std::size_t p = extra;
    packet[p] = 0x47;
    packet[p + 1] = 0x00;  // PID 0, no payload start
    packet[p + 2] = 0x00;
    packet[p + 3] = 0x10;
    if (k == pmtAt) {
      packet[p + 1] = 0x41;  // payload unit start, PID 0x100
      packet[p + 2] = 0x00;
      packet[p + 4] = 0;  // pointer field
      std::size_t s = p + 5;
      for (int section = 0; section < sections; ++section) {
        const bool last = section == sections - 1;
        const Bytes info = last ? descriptor : Bytes{0x09, 0x00};
        const std::size_t length = 9 + info.size() + 4;
        packet[s] = 0x02;
        packet[s + 1] = static_cast<std::uint8_t>(0xB0 | (length >> 8));
        packet[s + 2] = static_cast<std::uint8_t>(length);
        packet[s + 6] = static_cast<std::uint8_t>(section);
        packet[s + 7] = static_cast<std::uint8_t>(sections - 1);
        packet[s + 10] = static_cast<std::uint8_t>(0xF0 | (info.size() >> 8));
        packet[s + 11] = static_cast<std::uint8_t>(info.size());
        std::copy(info.begin(), info.end(), packet.begin() + static_cast<std::ptrdiff_t>(s + 12));
        s += 3 + length;
      }
    }
    b.insert(b.end(), packet.begin(), packet.end());
  }
  return b;
}

const Bytes kHdmv{0x05, 4, 'H', 'D', 'M', 'V'};
const Bytes kTshv{0x05, 11, 'T', 'S', 'H', 'V', 0, 0, 0, 0, 0, 0, 0};

TEST(FileTypeTransportStream, FindsTheRegistrationInPacketsOfEitherSize) {
  TempDir dir;
  EXPECT_EQ(XpGetFileType(dir.Write("a.m2ts", TransportStream(192, 5, 1, kHdmv))), kMpeg2TransportHdmv);
  EXPECT_EQ(XpGetFileType(dir.Write("b.m2t", TransportStream(188, 5, 2, kTshv))), kMpeg2TransportTshv);
  EXPECT_EQ(XpGetFileType(dir.Write("c.MTS", TransportStream(188, 5, 0, kHdmv))), kMpeg2TransportHdmv);
}

TEST(FileTypeTransportStream, WalksTheSectionsOfAPacket) {
  EXPECT_EQ(XpFileTypeChecks::TransportStream(TransportStream(192, 4, 1, kHdmv, 2)), kMpeg2TransportHdmv);
}

TEST(FileTypeTransportStream, AnswersUnknownWithoutAMatchingDescriptor) {
  EXPECT_EQ(XpFileTypeChecks::TransportStream(TransportStream(192, 5, 1, {0x05, 5, 'H', 'D', 'M', 'V', 0})), kUnknown);
  EXPECT_EQ(XpFileTypeChecks::TransportStream(TransportStream(188, 5, 1, {0x09, 4, 'H', 'D', 'M', 'V'})), kUnknown);
  EXPECT_EQ(XpFileTypeChecks::TransportStream(TransportStream(188, 5, -1, kHdmv)), kUnknown);
  // Two packets are too few to find the packet size.
  EXPECT_EQ(XpFileTypeChecks::TransportStream(TransportStream(188, 2, 0, kHdmv)), kUnknown);
  EXPECT_EQ(XpFileTypeChecks::TransportStream(Bytes(2000, 0x47)), kUnknown);
}

TEST(FileTypeTransportStream, LooksNoFurtherThanItsLimit) {
  const int packets = static_cast<int>(XpFileTypeChecks::kTransportStreamLimit / 188) + 10;
  const int lastInside = static_cast<int>((XpFileTypeChecks::kTransportStreamLimit - 1) / 188) - 1;
  EXPECT_EQ(XpFileTypeChecks::TransportStream(TransportStream(188, packets, lastInside, kHdmv)), kMpeg2TransportHdmv);
  EXPECT_EQ(XpFileTypeChecks::TransportStream(TransportStream(188, packets, lastInside + 1, kHdmv)), kUnknown);
}

// An AVI header list with one video stream of `handler`, and optionally the
// maker's stream name or software tag.
Bytes Avi(const char* handler, bool streamName, bool softwareTag) {
  Bytes b(1000, 0);
  fixtures::PutText(b, 0, "RIFF");
  fixtures::PutText(b, 8, "AVI ");
  fixtures::PutText(b, 12, "LIST");
  fixtures::PutText(b, 20, "hdrl");
  fixtures::PutText(b, 24, "avih");
  fixtures::Put32(b, 28, 56);  // A
  fixtures::PutText(b, 88, "LIST");
  fixtures::PutText(b, 96, "strl");
  fixtures::PutText(b, 100, "strh");
  fixtures::Put32(b, 104, 56);  // S
  fixtures::PutText(b, 108, "vids");
  fixtures::PutText(b, 112, handler);
  fixtures::PutText(b, 164, "strf");
  fixtures::Put32(b, 168, 40);
  fixtures::PutText(b, 212, "strd");
  fixtures::Put32(b, 216, 20);
  fixtures::PutText(b, 240, "strn");
  fixtures::Put32(b, 244, 15);
  if (streamName) {
    fixtures::PutText(b, 248, std::string_view("ARDO DSC MOVIE\0", 15));
  }
  const std::uint32_t h = 300;
  fixtures::Put32(b, 16, h);
  fixtures::PutText(b, 20 + h, "LIST");
  fixtures::PutText(b, 28 + h, "INFO");
  fixtures::PutText(b, 32 + h, "ISFT");
  if (softwareTag) {
    fixtures::PutText(b, 40 + h, "ARDO DSC MJPEG ");
  }
  return b;
}

TEST(FileTypeAvi, TellsDvAndTheMakersMotionJpegFromOtherVideo) {
  TempDir dir;
  EXPECT_EQ(XpGetFileType(dir.Write("dv.avi", Avi("dvsd", false, false))), kAviDv);
  EXPECT_EQ(XpGetFileType(dir.Write("plain.avi", Avi("MJPG", false, false))), kUnknown);
  EXPECT_EQ(XpGetFileType(dir.Write("named.avi", Avi("MJPG", true, false))), kAviMakerMotionJpeg);
  EXPECT_EQ(XpGetFileType(dir.Write("tagged.avi", Avi("mjpg", false, true))), kAviMakerMotionJpeg);
  EXPECT_EQ(XpGetFileType(dir.Write("other.avi", Avi("XVID", true, true))), kUnknown);
}

TEST(FileTypeAvi, RefusesSizesThatPointOutsideTheHeader) {
  Bytes huge = Avi("MJPG", true, false);
  fixtures::Put32(huge, 28, 0xFFFFFFF0);
  EXPECT_EQ(XpFileTypeChecks::Avi(huge), kUnknown);
  Bytes stream = Avi("MJPG", true, true);
  fixtures::Put32(stream, 104, 0xFFFFFFFF);  // the stream-name path fails, the software tag still counts
  EXPECT_EQ(XpFileTypeChecks::Avi(stream), kAviMakerMotionJpeg);
  fixtures::Put32(stream, 16, 0xFFFFFFFF);
  EXPECT_EQ(XpFileTypeChecks::Avi(stream), kUnknown);
  const Bytes full = Avi("dvsd", false, false);
  EXPECT_EQ(XpFileTypeChecks::Avi(std::span(full).first(100)), kUnknown);
  EXPECT_EQ(XpFileTypeChecks::Avi(std::span(full).first(116)), kAviDv);
}

int FormatOne(const char*) { return 1; }
int FormatTwo(const char*) { return 2; }
int FormatOther(const char*) { return 7; }

TEST(FileTypeMp4, MapsTheParsersAnswer) {
  EXPECT_EQ(XpFileTypeChecks::Mp4("a.mp4", FormatOne), kMp4Format1);
  EXPECT_EQ(XpFileTypeChecks::Mp4("a.mp4", FormatTwo), kMp4Format2);
  EXPECT_EQ(XpFileTypeChecks::Mp4("a.mp4", FormatOther), kUnknown);
  EXPECT_EQ(XpFileTypeChecks::Mp4("a.mp4", nullptr), kUnknown);
}

TEST(FileTypeMp4, IsUnknownWithoutThePlugIn) {
  // No plug-in lies beside the test program.
  TempDir dir;
  const std::string path = dir.Write("clip.mp4", {0, 0, 0, 0x18, 'f', 't', 'y', 'p'});
  EXPECT_EQ(XpGetFileType(path), kUnknown);
  EXPECT_EQ(XpGetFileType(path), kUnknown);
}

TEST(FileType, AnswersAtOnceForFilesThatAreNoRegularFiles) {
  TempDir dir;
  for (const char* name : {"pipe.jpg", "pipe.gif", "pipe.mpg", "pipe.m2ts", "pipe.avi", "pipe.jpeg"}) {
    const std::string fifo = dir.File(name);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const FileTypeCode expected = std::string(name).find(".jp") != std::string::npos ? kJpeg : kUnknown;
    EXPECT_EQ(XpGetFileType(fifo), expected) << name;
  }
  for (const char* name : {"zero.m2ts", "zero.avi", "zero.gif", "zero.jpg"}) {
    const std::string link = dir.File(name);
    ASSERT_EQ(::symlink("/dev/zero", link.c_str()), 0);
    EXPECT_EQ(XpGetFileType(link), std::string(name) == "zero.jpg" ? kJpeg : kUnknown) << name;
  }
  for (const char* name : {"gone.jpg", "gone.gif", "gone.mpg"}) {
    const std::string link = dir.File(name);
    ASSERT_EQ(::symlink(dir.File("nothing-here").c_str(), link.c_str()), 0);
    EXPECT_EQ(XpGetFileType(link), std::string(name) == "gone.jpg" ? kJpeg : kUnknown) << name;
  }
}

TEST(FileType, AnswersForAFileItMayNotRead) {
  TempDir dir;
  const std::string path = dir.Write("locked.mpg", {0, 0, 1, 0xBA, 0x44});
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  // The superuser reads it all the same.
  EXPECT_EQ(XpGetFileType(path), ::geteuid() == 0 ? kMpeg2Program : kUnknown);
}

}  // namespace
