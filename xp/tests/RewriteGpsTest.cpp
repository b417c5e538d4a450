#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "xp/base/XpReplaceFile.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tiff/XpTiffTagCompare.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::MakeJpeg;
using rewrite_test::MakeSegment;
using rewrite_test::Segment;
using rewrite_test::TempDir;

constexpr const char* kDate = "2024:06:01 12:34:56";

XpGPSRecord Position(std::uint32_t latSeconds, std::uint32_t lngSeconds) {
  return rewrite_test::PositionRecord(u'N', {35, 37, latSeconds}, u'E', {139, 44, lngSeconds});
}

XpTiffTagIFD* AddChildDirectory(XpTiffTagIFD& parent, std::uint16_t tag) {
  auto* entry = static_cast<XpTiffTagDataIFD*>(parent.AddEntry(XpCreateTiffTagDataIFD(tag, 1)));
  return entry->AddChild(std::make_unique<XpTiffTagIFD>());
}

// The payload of an Exif APP1 segment holding `tree` and, behind it, `thumbnail`.
Segment ExifSegment(XpTiffTagManager& tree, const Bytes& thumbnail = {}) {
  XpMemoryFile block;
  EXPECT_EQ(block.WriteAll("Exif\0\0", 6), XpStatus::Ok);
  XpStatus st = XpStatus::Ok;
  EXPECT_GT(tree.Store(block, &st), 0U);
  if (!thumbnail.empty()) {
    EXPECT_EQ(block.WriteAll(thumbnail.data(), thumbnail.size()), XpStatus::Ok);
  }
  return {0xE1, block.TakeBytes()};
}

struct TreeOptions {
  const char* exifVersion = "0220";
  bool bigEndian = false;
  bool withOldGps = true;
  std::size_t thumbnailLength = 0;  // > 0: IFD1 describes a thumbnail of this size
  std::size_t padding = 0;          // an extra IFD0 value of this many bytes
};

std::unique_ptr<XpTiffTagManager> CameraTree(const TreeOptions& options) {
  auto tree = std::make_unique<XpTiffTagManager>();
  EXPECT_TRUE(tree->Create());
  tree->SetBigEndian(options.bigEndian);
  XpTiffTagIFD* ifd0 = tree->AddIFD();
  EXPECT_EQ(ifd0->SetAscii(kTagMake, "Camera Maker"), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetShort(kTagOrientation, 1), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetAscii(0x0132, "2001:01:01 01:01:01"), XpStatus::Ok);
  if (options.padding > 0) {
    EXPECT_EQ(ifd0->SetUndefined(0xC000, Bytes(options.padding, 0x5A)), XpStatus::Ok);
  }
  XpTiffTagIFD* exif = AddChildDirectory(*ifd0, kTagExifIFD);
  if (options.exifVersion != nullptr) {
    EXPECT_EQ(exif->SetUndefined(0x9000, Bytes(options.exifVersion, options.exifVersion + 4)), XpStatus::Ok);
  }
  EXPECT_EQ(exif->SetAscii(kTagDateTimeOriginal, "2001:01:01 01:01:01"), XpStatus::Ok);
  if (options.withOldGps) {
    XpTiffTagIFD* gps = AddChildDirectory(*ifd0, kTagGPSIFD);
    XpGPSRecord old = Position(1000, 2000);
    old.altitude.valid = 1;
    old.altitude.numerator = 1234;
    old.altitude.denominator = 10;
    EXPECT_EQ(gps->SetGPSRecord(old), XpStatus::Ok);
  }
  XpTiffTagIFD* ifd1 = tree->AddIFD();
  EXPECT_EQ(ifd1->SetShort(0x0103, 6), XpStatus::Ok);
  if (options.thumbnailLength > 0) {
    EXPECT_EQ(ifd1->SetLong(kTagThumbnailLength, static_cast<std::uint32_t>(options.thumbnailLength)), XpStatus::Ok);
    EXPECT_EQ(ifd1->SetLong(kTagThumbnailOffset, 0), XpStatus::Ok);
    const auto at = 8 + ifd0->StoredSize(true) + ifd1->StoredSize(true);
    EXPECT_EQ(ifd1->SetLong(kTagThumbnailOffset, static_cast<std::uint32_t>(at)), XpStatus::Ok);
  }
  return tree;
}

Bytes Thumbnail(std::size_t length) {
  Bytes thumb = MakeJpeg(16, 16, {});
  thumb.resize(length, 0);
  return thumb;
}

TagTreePtr TreeOf(const std::string& path) {
  TagTreePtr tree;
  EXPECT_EQ(XpJpegExif::ReadTagTree(path, &tree), XpStatus::Ok);
  return tree;
}

class RewriteGps : public ::testing::Test {
 protected:
  // A camera-like picture: JFIF, Exif, XMP, extended XMP, ICC, a comment, Photoshop.
  std::string MakePicture(const TreeOptions& options = {}) {
    auto tree = CameraTree(options);
    const Bytes thumb = options.thumbnailLength > 0 ? Thumbnail(options.thumbnailLength) : Bytes{};
    m_segments = {ExifSegment(*tree, thumb),
                  MakeSegment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta rating='5'/>", 52)),
                  MakeSegment(0xE1, std::string("http://ns.adobe.com/xmp/extension/\0", 35), 900),
                  MakeSegment(0xE2, std::string("ICC_PROFILE\0\1\1", 14), 300),
                  MakeSegment(0xFE, "holiday"),
                  MakeSegment(0xED, "Photoshop 3.0", 500)};
    const std::string path = m_dir.File("picture.jpg");
    rewrite_test::WriteBytes(path, MakeJpeg(96, 64, m_segments));
    return path;
  }

  XpExifRewrite::Hooks FixedDate() const { return {.dateTime = kDate, .beforeCommit = {}}; }

  TempDir m_dir;
  std::vector<Segment> m_segments;
};

TEST_F(RewriteGps, NewPositionIsStoredAndEverythingElseStays) {
  const std::string path = MakePicture();
  const Bytes before = rewrite_test::ReadBytes(path);
  const TagTreePtr old = TreeOf(path);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(32828, 31338), true, FixedDate()), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);

  // Same coefficients and pixels.
  EXPECT_EQ(rewrite_test::ReadCoefficients(after), rewrite_test::ReadCoefficients(before));
  EXPECT_EQ(rewrite_test::DecodePixels(after), rewrite_test::DecodePixels(before));

  // The new Exif block first, then every other segment of the source in order.
  const auto segments = rewrite_test::AppAndComSegments(after);
  ASSERT_EQ(segments.size(), 1 + rewrite_test::AppAndComSegments(before).size() - 1);
  EXPECT_EQ(after[2], 0xFF);
  EXPECT_EQ(after[3], 0xE1);
  EXPECT_TRUE(rewrite_test::StartsWith(segments[0].payload, std::string_view("Exif\0\0", 6)));
  std::vector<Segment> expected = rewrite_test::AppAndComSegments(before);
  expected.erase(expected.begin() + 1);  // the old Exif block, after the JFIF header
  EXPECT_EQ(std::vector<Segment>(segments.begin() + 1, segments.end()), expected);
  EXPECT_EQ(expected.front().marker, 0xE0);

  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators[2], 32828U);
  EXPECT_EQ(read.longitude.numerators[2], 31338U);
  EXPECT_EQ(read.latitudeRef.letter, u'N');
  // Replacing the whole directory drops the old altitude.
  EXPECT_FALSE(read.altitude.IsValid());
  EXPECT_FALSE(read.version.IsValid());

  const TagTreePtr tree = TreeOf(path);
  EXPECT_EQ(tree->GetIFD(0)->FindAscii(0x0132), kDate);
  EXPECT_EQ(tree->GetIFD(0)->FindAscii(kTagMake), "Camera Maker");
  EXPECT_EQ(tree->GetExifIFD()->FindAscii(kTagDateTimeOriginal), "2001:01:01 01:01:01");
  // IFD1 stays, also without a thumbnail, with every entry it had.
  ASSERT_EQ(tree->IFDCount(), old->IFDCount());
  EXPECT_EQ(XpTiffDirectoryDifference(*old->GetIFD(1), *tree->GetIFD(1), "IFD1"), "");
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"picture.jpg"});
}

TEST_F(RewriteGps, AddingToTheDirectoryKeepsTheOtherGpsTags) {
  const std::string path = MakePicture();
  XpGPSRecord record;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, record), XpStatus::Ok);
  ASSERT_TRUE(record.altitude.IsValid());
  record.latitude.numerators[2] = 5;
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, record, true, FixedDate()), XpStatus::Ok);
  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators[2], 5U);
  EXPECT_EQ(read.altitude.numerator, 1234U);

  // Without replaceWhole the new tags join the existing directory.
  XpGPSRecord latitudeOnly;
  latitudeOnly.latitude = Position(7, 8).latitude;
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, latitudeOnly, false, FixedDate()), XpStatus::Ok);
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators[2], 7U);
  EXPECT_EQ(read.altitude.numerator, 1234U);
  EXPECT_EQ(read.longitude.numerators[2], 2000U);
}

TEST_F(RewriteGps, PictureWithoutGpsGetsADirectory) {
  const std::string path = MakePicture({.withOldGps = false});
  XpGPSRecord none;
  EXPECT_EQ(XpExifRewrite::ReadGPS(path, none), XpStatus::NoExif);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2), true, FixedDate()), XpStatus::Ok);
  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.longitude.numerators[2], 2U);
}

TEST_F(RewriteGps, ExifVersionIsRaisedTo0221ButNeverLowered) {
  struct Case {
    const char* before;
    const char* after;
  };
  for (const Case& c : {Case{"0230", "0230"}, Case{"0210", "0221"}, Case{nullptr, "0221"}, Case{"0221", "0221"},
                        Case{"0300", "0300"}, Case{"0220", "0221"}}) {
    const std::string path = MakePicture({.exifVersion = c.before});
    ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2), true, FixedDate()), XpStatus::Ok);
    const TagTreePtr tree = TreeOf(path);
    const XpTiffTagDataBase* version = tree->GetExifIFD()->Find(0x9000);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::string(version->Bytes().begin(), version->Bytes().end()), c.after)
        << (c.before != nullptr ? c.before : "none");
  }
}

TEST_F(RewriteGps, ThumbnailStaysWhereItWasWithItsDescription) {
  for (const bool big : {false, true}) {
    const std::string path = MakePicture({.bigEndian = big, .thumbnailLength = 1500});
    const Bytes thumb = Thumbnail(1500);
    const TagTreePtr old = TreeOf(path);
    ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(3, 4), true, FixedDate()), XpStatus::Ok);
    const TagTreePtr tree = TreeOf(path);
    EXPECT_EQ(tree->IsBigEndian(), big);
    ASSERT_EQ(tree->IFDCount(), 2U);
    const XpTiffTagIFD* ifd1 = tree->GetIFD(1);
    // Nothing of IFD1 but its DateTime changes: the thumbnail keeps its offset.
    EXPECT_EQ(XpTiffDirectoryDifference(*old->GetIFD(1), *ifd1, "IFD1",
                                        [](const std::string&, std::uint16_t tag) { return tag == 0x0132; }),
              "");
    EXPECT_EQ(ifd1->FindLong(kTagThumbnailLength), 1500U);
    const std::uint32_t offset = ifd1->FindLong(kTagThumbnailOffset);
    EXPECT_EQ(offset, old->GetIFD(1)->FindLong(kTagThumbnailOffset));
    const Bytes after = rewrite_test::ReadBytes(path);
    // The TIFF data starts behind SOI, the APP1 header and "Exif\0\0".
    ASSERT_GE(after.size(), 12U + offset + 1500);
    EXPECT_TRUE(std::equal(thumb.begin(), thumb.end(), after.begin() + 12 + offset));
  }
}

TEST_F(RewriteGps, FileWithoutTagTreeIsRefusedAndLeftAlone) {
  const std::string path = m_dir.File("plain.jpg");
  rewrite_test::WriteBytes(path, MakeJpeg(32, 32, {MakeSegment(0xFE, "no exif here")}));
  const Bytes before = rewrite_test::ReadBytes(path);
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2)), XpStatus::NoExif);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"plain.jpg"});
}

TEST_F(RewriteGps, BlockTooLargeForOneSegmentIsRefusedAndLeftAlone) {
  // A source block just below the segment limit, which the new GPS
  // directory (about 100 bytes) pushes over 65535.
  const std::size_t bare = ExifSegment(*CameraTree({.withOldGps = false})).payload.size();
  const std::size_t padding = (65480 - bare) & ~std::size_t{1};
  const std::string path = MakePicture({.withOldGps = false, .padding = padding});
  ASSERT_GT(m_segments[0].payload.size(), 65440U);
  const Bytes before = rewrite_test::ReadBytes(path);
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2), true, FixedDate()), XpStatus::ExifBlockFull);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"picture.jpg"});
}

TEST_F(RewriteGps, DamagedTemporaryFileIsCaughtBeforeItReplacesThePicture) {
  struct Damage {
    const char* what;
    std::function<void(const std::string&)> apply;
  };
  const Damage damages[] = {
      {"cut in half", [](const std::string& p) { ASSERT_EQ(::truncate(p.c_str(), 600), 0); }},
      {"GPS value changed",
       [](const std::string& p) {
         Bytes bytes = rewrite_test::ReadBytes(p);
         // The longitude seconds 31338 stand in the file as a little-endian word.
         const std::uint8_t pattern[] = {0x6A, 0x7A, 0x00, 0x00};
         auto it = std::search(bytes.begin(), bytes.end(), std::begin(pattern), std::end(pattern));
         ASSERT_NE(it, bytes.end());
         *it = 0x6B;
         rewrite_test::WriteBytes(p, bytes);
       }},
      {"frame changed",
       [](const std::string& p) {
         Bytes bytes = rewrite_test::ReadBytes(p);
         const std::uint8_t sof[] = {0xFF, 0xC0};
         auto it = std::search(bytes.begin(), bytes.end(), std::begin(sof), std::end(sof));
         ASSERT_NE(it, bytes.end());
         it[6] ^= 0x01;  // the low byte of the height
         rewrite_test::WriteBytes(p, bytes);
       }},
  };
  for (const Damage& damage : damages) {
    const std::string path = MakePicture();
    const Bytes before = rewrite_test::ReadBytes(path);
    XpExifRewrite::Hooks hooks = FixedDate();
    hooks.beforeCommit = [&](const std::string& temp) {
      damage.apply(temp);
      return XpStatus::Ok;
    };
    EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(32828, 31338), true, hooks), XpStatus::JpegDecodeFailed)
        << damage.what;
    EXPECT_EQ(rewrite_test::ReadBytes(path), before) << damage.what;
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"picture.jpg"}) << damage.what;
  }
}

TEST_F(RewriteGps, FailureBeforeTheRenameKeepsThePictureAndRemovesTheTemporaryFile) {
  const std::string path = MakePicture();
  const Bytes before = rewrite_test::ReadBytes(path);
  XpExifRewrite::Hooks hooks = FixedDate();
  std::string seenTemp;
  hooks.beforeCommit = [&](const std::string& temp) {
    seenTemp = temp;
    return XpStatus::DiskFull;
  };
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2), true, hooks), XpStatus::DiskFull);
  EXPECT_EQ(seenTemp, XpReplacementName(path, 0));
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"picture.jpg"});
}

TEST_F(RewriteGps, PermissionBitsOfThePictureAreKept) {
  for (const mode_t mode : {0600, 0644, 0640, 0620}) {
    const std::string path = MakePicture();
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2), true, FixedDate()), XpStatus::Ok);
    EXPECT_EQ(rewrite_test::FileMode(path), mode);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  }
}

TEST_F(RewriteGps, TakenTemporaryNamesAreSkippedAndLeftAlone) {
  const std::string path = MakePicture();
  // A temporary file that another rewrite holds locked, and a folder.
  const std::string first = XpReplacementName(path, 0);
  const std::string second = XpReplacementName(path, 1);
  rewrite_test::WriteBytes(first, {1, 2, 3});
  const int held = ::open(first.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  ASSERT_EQ(::mkdir(second.c_str(), 0755), 0);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2), true, FixedDate()), XpStatus::Ok);
  ::close(held);
  EXPECT_EQ(rewrite_test::ReadBytes(first), (Bytes{1, 2, 3}));
  const auto name = [](const std::string& p) { return p.substr(p.rfind('/') + 1); };
  EXPECT_EQ(m_dir.Entries(), (std::vector<std::string>{name(first), name(second), "picture.jpg"}));
}

TEST_F(RewriteGps, SymbolicLinkStaysALinkAndItsFileIsRewritten) {
  const std::string path = MakePicture();
  const std::string link = m_dir.File("link.jpg");
  ASSERT_EQ(::symlink("picture.jpg", link.c_str()), 0);
  ASSERT_EQ(XpExifRewrite::WriteGPS(link, Position(9, 9), true, FixedDate()), XpStatus::Ok);
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators[2], 9U);
}

TEST_F(RewriteGps, MissingFileAnswersTheFileStatus) {
  EXPECT_EQ(XpExifRewrite::WriteGPS(m_dir.File("none.jpg"), Position(1, 2)), XpStatus::FileNotFound);
  XpGPSRecord read;
  EXPECT_EQ(XpExifRewrite::ReadGPS(m_dir.File("none.jpg"), read), XpStatus::FileNotFound);
  EXPECT_EQ(XpExifRewrite::RemoveGPS(m_dir.File("none.jpg")), XpStatus::FileNotFound);
}

TEST_F(RewriteGps, RemoveGpsDropsOnlyThePointer) {
  const std::string path = MakePicture();
  const Bytes before = rewrite_test::ReadBytes(path);
  ASSERT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);
  ASSERT_EQ(after.size(), before.size());
  XpGPSRecord read;
  EXPECT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::NoExif);
  const TagTreePtr tree = TreeOf(path);
  EXPECT_FALSE(tree->GetIFD(0)->Has(kTagGPSIFD));
  EXPECT_EQ(tree->GetIFD(0)->FindAscii(kTagMake), "Camera Maker");
  EXPECT_EQ(tree->IFDCount(), 2U);
  // Only IFD0's table changed: at most its count and 12 x 4 + 4 bytes.
  std::size_t changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    changed += before[i] != after[i] ? 1 : 0;
  }
  EXPECT_GT(changed, 0U);
  EXPECT_LE(changed, 2U + 12 * 5 + 4);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"picture.jpg"});

  // A second removal finds nothing and leaves the file as it is.
  ASSERT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::Ok);
  EXPECT_EQ(rewrite_test::ReadBytes(path), after);
}

TEST_F(RewriteGps, RemoveGpsOnBigEndianData) {
  const std::string path = MakePicture({.bigEndian = true});
  ASSERT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::Ok);
  const TagTreePtr tree = TreeOf(path);
  EXPECT_TRUE(tree->IsBigEndian());
  EXPECT_FALSE(tree->GetIFD(0)->Has(kTagGPSIFD));
  EXPECT_EQ(tree->GetIFD(0)->FindShort(kTagOrientation), 1);
}

TEST_F(RewriteGps, RemoveGpsWithoutExifAnswersNoExif) {
  const std::string path = m_dir.File("plain.jpg");
  rewrite_test::WriteBytes(path, MakeJpeg(16, 16, {}));
  const Bytes before = rewrite_test::ReadBytes(path);
  EXPECT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::NoExif);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
}

// A picture of the suite's own cameras: its maker note is a directory whose
// sub-directory points at a large preview kept behind the image.
struct PreviewPicture {
  Bytes file;
  Bytes preview;
};

PreviewPicture MakePreviewPicture(bool bigEndian) {
  const auto build = [&](std::uint32_t previewOffset, std::uint32_t previewLength) {
    XpTiffTagManager tree;
    EXPECT_TRUE(tree.Create());
    tree.SetBigEndian(bigEndian);
    XpTiffTagIFD* ifd0 = tree.AddIFD();
    EXPECT_EQ(ifd0->SetAscii(kTagMake, "Ardo Corporation"), XpStatus::Ok);
    XpTiffTagIFD* exif = AddChildDirectory(*ifd0, kTagExifIFD);
    XpTiffTagIFD* note = AddChildDirectory(*exif, kTagMakerNote);
    note->SetMakerNote(true);
    EXPECT_EQ(note->SetShort(0x0001, 1), XpStatus::Ok);
    EXPECT_EQ(note->SetLong(0x2001, 99), XpStatus::Ok);
    XpTiffTagIFD* sub = AddChildDirectory(*note, kTagMakerSubIFD);
    EXPECT_EQ(sub->SetLong(0x0088, previewOffset), XpStatus::Ok);
    EXPECT_EQ(sub->SetLong(0x0089, previewLength), XpStatus::Ok);
    EXPECT_EQ(sub->SetShort(0x0002, 2), XpStatus::Ok);
    return MakeJpeg(64, 48, {ExifSegment(tree)}, /*jfif=*/false);
  };
  PreviewPicture picture;
  picture.preview = MakeJpeg(320, 240, {});
  const auto length = static_cast<std::uint32_t>(picture.preview.size());
  Bytes file = build(0, length);
  const std::size_t aligned = (file.size() + 4095) / 4096 * 4096;
  file = build(static_cast<std::uint32_t>(aligned - 12), length);
  file.resize(aligned, 0);
  file.insert(file.end(), picture.preview.begin(), picture.preview.end());
  picture.file = std::move(file);
  return picture;
}

TEST_F(RewriteGps, MakerNotePreviewIsCarriedBehindTheNewImage) {
  for (const bool big : {false, true}) {
    const PreviewPicture picture = MakePreviewPicture(big);
    const std::string path = m_dir.File("ardo.jpg");
    rewrite_test::WriteBytes(path, picture.file);
    const TagTreePtr before = TreeOf(path);
    ASSERT_NE(before->GetMakerSubIFD(), nullptr) << "the maker note must parse as a directory";

    ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(5, 6), true, FixedDate()), XpStatus::Ok);
    const Bytes after = rewrite_test::ReadBytes(path);
    const TagTreePtr tree = TreeOf(path);
    ASSERT_NE(tree->GetMakerSubIFD(), nullptr);
    const std::uint32_t offset = tree->GetMakerSubIFD()->FindLong(0x0088);
    EXPECT_EQ(tree->GetMakerSubIFD()->FindLong(0x0089), picture.preview.size());
    EXPECT_EQ((offset + 12) % XpExifRewrite::kPreviewAlignment, 0U);
    ASSERT_EQ(after.size(), offset + 12 + picture.preview.size());
    EXPECT_TRUE(std::equal(picture.preview.begin(), picture.preview.end(), after.begin() + offset + 12));
    // The maker note keeps every entry; the image is the same.
    EXPECT_EQ(XpTiffDirectoryDifference(*before->GetMakerNoteIFD(), *tree->GetMakerNoteIFD(), "note",
                                        [](const std::string&, std::uint16_t tag) { return tag == 0x0088; }),
              "");
    EXPECT_EQ(rewrite_test::DecodePixels(after), rewrite_test::DecodePixels(picture.file));
  }
}

TEST_F(RewriteGps, PreviewCutOffByTheFileEndStaysAsItIs) {
  PreviewPicture picture = MakePreviewPicture(false);
  picture.file.resize(picture.file.size() - picture.preview.size() / 2);
  const std::string path = m_dir.File("ardo.jpg");
  rewrite_test::WriteBytes(path, picture.file);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(5, 6), true, FixedDate()), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);
  // Nothing is carried to a new place, and nothing behind the image is lost.
  const std::uint8_t eoi[] = {0xFF, 0xD9};
  const auto imageEnd = std::search(picture.file.begin(), picture.file.end(), std::begin(eoi), std::end(eoi)) + 2;
  const Bytes behind(imageEnd, picture.file.end());
  ASSERT_GT(behind.size(), picture.preview.size() / 2);
  ASSERT_GT(after.size(), behind.size());
  EXPECT_TRUE(std::equal(behind.begin(), behind.end(), after.end() - static_cast<std::ptrdiff_t>(behind.size())));
  EXPECT_EQ(rewrite_test::DecodePixels(after), rewrite_test::DecodePixels(picture.file));
}

TEST_F(RewriteGps, DataBehindTheImageIsKeptBehindTheNewImage) {
  const std::string path = MakePicture();
  Bytes file = rewrite_test::ReadBytes(path);
  const Bytes second = MakeJpeg(40, 30, {MakeSegment(0xFE, "second picture")});
  file.insert(file.end(), second.begin(), second.end());
  rewrite_test::WriteBytes(path, file);
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(1, 2), true, FixedDate()), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);
  ASSERT_GT(after.size(), second.size());
  EXPECT_TRUE(std::equal(second.begin(), second.end(), after.end() - static_cast<std::ptrdiff_t>(second.size())));
  // The first image ends right before it.
  const Bytes first(after.begin(), after.end() - static_cast<std::ptrdiff_t>(second.size()));
  EXPECT_EQ(first[first.size() - 2], 0xFF);
  EXPECT_EQ(first.back(), 0xD9);
  XpGPSRecord read;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, read), XpStatus::Ok);
  EXPECT_EQ(read.latitude.numerators[2], 1U);
}

TEST(TranscodeWithExif, EmptyBlockCopiesEverySegment) {
  const Bytes source = MakeJpeg(40, 40, {MakeSegment(0xE1, std::string("Exif\0\0", 6), 50), MakeSegment(0xFE, "c")});
  XpMemoryFile in{std::span<const std::uint8_t>(source)};
  XpMemoryFile out;
  XpMemoryFile block;
  ASSERT_EQ(XpExifRewrite::TranscodeWithExif(block, in, out), XpStatus::Ok);
  const Bytes copy = out.TakeBytes();
  EXPECT_EQ(rewrite_test::AppAndComSegments(copy), rewrite_test::AppAndComSegments(source));
  EXPECT_EQ(rewrite_test::ReadCoefficients(copy), rewrite_test::ReadCoefficients(source));
}

TEST(TranscodeWithExif, NonJpegSourceIsRefused) {
  const Bytes source = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
  XpMemoryFile in{std::span<const std::uint8_t>(source)};
  XpMemoryFile out;
  XpMemoryFile block;
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(block, in, out), XpStatus::JpegDecodeFailed);
}

TEST(TranscodeWithExif, TransformsNeedWholeMcusAndAreOtherwiseNotCarriedOut) {
  const Bytes odd = MakeJpeg(40, 24, {});
  const Bytes even = MakeJpeg(48, 32, {});
  XpMemoryFile block;
  XpMemoryFile out;
  XpMemoryFile oddIn{std::span<const std::uint8_t>(odd)};
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(block, oddIn, out, 6), XpStatus::TransformImpossible);
  XpMemoryFile evenIn{std::span<const std::uint8_t>(even)};
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(block, evenIn, out, 6), XpStatus::JpegDecodeFailed);
  XpMemoryFile badIn{std::span<const std::uint8_t>(even)};
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(block, badIn, out, 99), XpStatus::JpegDecodeFailed);
}

TEST(TranscodeWithExif, BlockAboveTheSegmentLimitFailsLikeTheLibrary) {
  const Bytes source = MakeJpeg(16, 16, {});
  XpMemoryFile in{std::span<const std::uint8_t>(source)};
  XpMemoryFile out;
  XpMemoryFile block{Bytes(65534, 1)};
  EXPECT_EQ(XpExifRewrite::TranscodeWithExif(block, in, out), XpStatus::JpegDecodeFailed);
}

}  // namespace
