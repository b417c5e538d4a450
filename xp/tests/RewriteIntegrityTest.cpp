// Rewrites never change a protected picture, never write back a tree that was
// read only in part, carry what the GPS record does not model, really remove
// a removed position, and leave no temporary files behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "xp/base/XpReplaceFile.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpTiffTagCompare.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::TempDir;
using tifftest::TiffBuilder;

constexpr const char* kDate = "2024:06:01 12:34:56";

XpGPSRecord Position() { return rewrite_test::PositionRecord(u'S', {12, 34, 56789}, u'W', {98, 7, 65432}); }

XpExifRewrite::Hooks FixedDate() { return {.dateTime = kDate, .beforeCommit = {}}; }

// A real JPEG whose Exif segment holds the TIFF data `tiff`.
Bytes PictureWithTiff(const std::vector<std::uint8_t>& tiff) {
  rewrite_test::Segment exif{0xE1, tifftest::ExifPayload(tiff)};
  return rewrite_test::MakeJpeg(32, 16, {exif});
}

// IFD0 with Make, Orientation, Artist, an Exif directory with
// DateTimeOriginal and a GPS directory with a position and the tags given.
Bytes CameraPicture(std::vector<TiffBuilder::Entry> extraGps = {}) {
  TiffBuilder b(false);
  const std::uint32_t exif = b.AddDirectory({b.Text(0x9003, "2020:01:02 03:04:05")});
  std::vector<TiffBuilder::Entry> gpsEntries = {{0, 1, 4, {2, 3, 0, 0}},
                                                b.Text(1, "N"),
                                                {2, 5, 3, b.Rationals({{35, 1}, {37, 1}, {32828, 1000}})},
                                                b.Text(3, "E"),
                                                {4, 5, 3, b.Rationals({{139, 1}, {44, 1}, {31338, 1000}})}};
  gpsEntries.insert(gpsEntries.end(), extraGps.begin(), extraGps.end());
  const std::uint32_t gps = b.AddDirectory(gpsEntries);
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), b.Short(0x0112, 6), b.Text(0x013B, "Somebody"),
                            b.Long(kTagExifIFD, exif), b.Long(kTagGPSIFD, gps)}));
  return PictureWithTiff(b.Bytes());
}

TagTreePtr TreeOf(const std::string& path) {
  TagTreePtr tree;
  EXPECT_EQ(XpJpegExif::ReadTagTree(path, &tree), XpStatus::Ok);
  return tree;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class RewriteIntegrity : public ::testing::Test {
 protected:
  std::string Write(const Bytes& bytes, const char* name = "photo.jpg") {
    const std::string path = m_dir.File(name);
    rewrite_test::WriteBytes(path, bytes);
    return path;
  }

  TempDir m_dir;
};

// ---------------------------------------------------------------------------
// Protected pictures

// Runs `body` in a child process as the unprivileged user "nobody" (when the
// tests run as root) and answers its exit status; -1 when that is impossible.
int AsNobody(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) {
    return -1;
  }
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(99);
    }
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RewriteIntegrity, APictureWithoutWriteBitsIsRefusedEvenForTheSuperuser) {
  const std::string path = Write(CameraPicture());
  const Bytes before = rewrite_test::ReadBytes(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, FixedDate()), XpStatus::PictureReadOnly);
  EXPECT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::PictureReadOnly);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(rewrite_test::FileMode(path), 0444u);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

TEST_F(RewriteIntegrity, APictureTheUserMayNotWriteIsRefusedInAWritableFolder) {
  // Owned by root with write access for root only; the folder is open to all,
  // so the rename would succeed for anyone.
  const std::string path = Write(CameraPicture());
  const Bytes before = rewrite_test::ReadBytes(path);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0777), 0);
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs a second user: the picture must belong to someone else";
  }
  const int status = AsNobody([&] {
    const XpStatus write = XpExifRewrite::WriteGPS(path, Position(), true, FixedDate());
    const XpStatus remove = XpExifRewrite::RemoveGPS(path);
    return write == XpStatus::PictureReadOnly && remove == XpStatus::PictureReadOnly ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

TEST_F(RewriteIntegrity, AnImmutablePictureIsRefused) {
  const std::string path = Write(CameraPicture());
  const Bytes before = rewrite_test::ReadBytes(path);
  const std::string quoted = "'" + path + "'";
  if (std::system(("chattr +i " + quoted + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "the file system or the user cannot set the immutable attribute";
  }
  const XpStatus write = XpExifRewrite::WriteGPS(path, Position(), true, FixedDate());
  const XpStatus remove = XpExifRewrite::RemoveGPS(path);
  ASSERT_EQ(std::system(("chattr -i " + quoted).c_str()), 0);
  EXPECT_EQ(write, XpStatus::PictureReadOnly);
  EXPECT_EQ(remove, XpStatus::PictureReadOnly);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

// ---------------------------------------------------------------------------
// Trees read only in part

TEST_F(RewriteIntegrity, AnEntryBeyondTheExifBlockIsDamageAndNotMadePermanent) {
  // Artist's offset points past the Exif segment, into the image data: the
  // file is long enough, the block is not.
  TiffBuilder b(false);
  const std::uint32_t ifd0 = b.AddDirectory({b.Text(0x010F, "Maker"), b.Text(0x013B, "Somebody"), b.Short(0x0112, 6)});
  b.SetIFD0(ifd0);
  b.PatchValue(ifd0, 1, static_cast<std::uint32_t>(b.Bytes().size() + 40));
  const std::string path = Write(PictureWithTiff(b.Bytes()));
  const Bytes before = rewrite_test::ReadBytes(path);

  const TagTreePtr tree = TreeOf(path);
  ASSERT_NE(tree, nullptr);
  EXPECT_FALSE(tree->IsComplete());
  EXPECT_FALSE(tree->GetIFD(0)->Has(0x013B));
  EXPECT_EQ(tree->GetIFD(0)->FindShort(0x0112), 6);  // shown as far as it could be read
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, FixedDate()), XpStatus::ExifDamaged);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
}

TEST_F(RewriteIntegrity, AMalformedEntryDoesNotHideTheGpsDirectoryBehindIt) {
  TiffBuilder b(false);
  const std::uint32_t gps = b.AddDirectory({b.Text(1, "N"), {2, 5, 3, b.Rationals({{1, 1}, {2, 1}, {3, 1}})}});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), {0x0110, 0, 1, {1, 0, 0, 0}}, b.Long(kTagGPSIFD, gps)}));
  const std::string path = Write(PictureWithTiff(b.Bytes()));
  const Bytes before = rewrite_test::ReadBytes(path);

  XpGPSRecord record;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, record), XpStatus::Ok);
  EXPECT_EQ(record.latitude.numerators, (std::array<std::uint32_t, 3>{1, 2, 3}));
  EXPECT_FALSE(TreeOf(path)->IsComplete());
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, FixedDate()), XpStatus::ExifDamaged);
  EXPECT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::ExifDamaged);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
}

TEST_F(RewriteIntegrity, ADirectoryCutShortIsRefused) {
  // The Exif directory claims 900 entries; the block holds a few.
  TiffBuilder b(false);
  const std::uint32_t exif = b.AddDirectory({b.Text(0x9003, "2020:01:02 03:04:05"), b.Short(0xA001, 1)});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), b.Long(kTagExifIFD, exif)}));
  b.Bytes()[exif] = 0x84;
  b.Bytes()[exif + 1] = 0x03;
  const std::string path = Write(PictureWithTiff(b.Bytes()));
  const Bytes before = rewrite_test::ReadBytes(path);
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, FixedDate()), XpStatus::ExifDamaged);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
}

TEST_F(RewriteIntegrity, TheReproducedSubdirectoryLossIsRefused) {
  const std::string path =
      Write(rewrite_test::ReadBytes(std::string(TV_TESTDATA_DIR) + "/rewrite/exif-subdir-dropped.jpg"));
  ::chmod(path.c_str(), 0644);
  const Bytes before = rewrite_test::ReadBytes(path);
  EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, FixedDate()), XpStatus::ExifDamaged);
  EXPECT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::ExifDamaged);
  EXPECT_EQ(rewrite_test::ReadBytes(path), before);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

// ---------------------------------------------------------------------------
// What a rewrite keeps

TEST_F(RewriteIntegrity, GpsTagsTheRecordDoesNotModelAreCarriedInTagOrder) {
  TiffBuilder b(false);
  const std::string path = Write(CameraPicture({{31, 5, 1, b.Rationals({{47, 10}})}, {0x0040, 3, 1, b.Shorts({9})}}));
  XpGPSRecord record;
  ASSERT_EQ(XpExifRewrite::ReadGPS(path, record), XpStatus::Ok);
  const XpGPSRecord moved = Position();
  record.latitude = moved.latitude;
  record.longitude = moved.longitude;
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, record, true, FixedDate()), XpStatus::Ok);

  const TagTreePtr tree = TreeOf(path);
  ASSERT_NE(tree, nullptr);
  const XpTiffTagIFD* gps = tree->GetGPSIFD();
  ASSERT_NE(gps, nullptr);
  EXPECT_DOUBLE_EQ(gps->FindRational(31), 4.7);
  EXPECT_EQ(gps->FindShort(0x0040), 9);
  std::vector<std::uint16_t> tags;
  for (const auto& e : gps->Entries()) {
    tags.push_back(e->GetTag());
  }
  EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end()));
  // Everything else of the old tree is still there.
  EXPECT_EQ(tree->GetIFD(0)->FindAscii(0x013B), "Somebody");
  EXPECT_EQ(tree->GetIFD(0)->FindShort(0x0112), 6);
  EXPECT_EQ(tree->GetExifIFD()->FindAscii(kTagDateTimeOriginal), "2020:01:02 03:04:05");
}

TEST_F(RewriteIntegrity, RemovedCoordinatesAreGoneFromTheFile) {
  const std::string path = Write(CameraPicture());
  TiffBuilder b(false);
  const Bytes latitude = b.Rationals({{35, 1}, {37, 1}, {32828, 1000}});
  const Bytes longitude = b.Rationals({{139, 1}, {44, 1}, {31338, 1000}});
  ASSERT_TRUE(Contains(rewrite_test::ReadBytes(path), latitude));
  const Bytes before = rewrite_test::ReadBytes(path);

  ASSERT_EQ(XpExifRewrite::RemoveGPS(path), XpStatus::Ok);
  const Bytes after = rewrite_test::ReadBytes(path);
  EXPECT_FALSE(Contains(after, latitude));
  EXPECT_FALSE(Contains(after, longitude));
  EXPECT_EQ(after.size(), before.size());
  const TagTreePtr tree = TreeOf(path);
  ASSERT_NE(tree, nullptr);
  EXPECT_TRUE(tree->IsComplete());
  EXPECT_EQ(tree->GetGPSIFD(), nullptr);
  EXPECT_EQ(tree->GetIFD(0)->FindAscii(0x013B), "Somebody");
  EXPECT_EQ(tree->GetExifIFD()->FindAscii(kTagDateTimeOriginal), "2020:01:02 03:04:05");
}

TEST_F(RewriteIntegrity, ThePreservedModificationTimeIsTheOldOne) {
  for (const bool remove : {false, true}) {
    const std::string path = Write(CameraPicture());
    const struct timespec old[2] = {{1000000000, 0}, {1234567890, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    XpExifRewrite::Hooks hooks = FixedDate();
    hooks.preserveModificationTime = true;
    ASSERT_EQ(remove ? XpExifRewrite::RemoveGPS(path, hooks) : XpExifRewrite::WriteGPS(path, Position(), true, hooks),
              XpStatus::Ok);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(info.st_mtim.tv_nsec, 500);

    // Without the option the file gets the time of the rewrite.
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, FixedDate()), XpStatus::Ok);
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, 1234567890);
  }
}

TEST_F(RewriteIntegrity, TheProgramWideSettingKeepsTheModificationTimeToo) {
  const std::string path = Write(CameraPicture());
  const struct timespec old[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  ASSERT_FALSE(XpExifRewrite::PreservesModificationTimeByDefault());
  XpExifRewrite::SetPreserveModificationTimeByDefault(true);
  const XpStatus st = XpExifRewrite::WriteGPS(path, Position(), true, FixedDate());
  XpExifRewrite::SetPreserveModificationTimeByDefault(false);
  ASSERT_EQ(st, XpStatus::Ok);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1234567890);
}

// ---------------------------------------------------------------------------
// Stored trees read back

TEST(RewriteRoundTrip, AStoredTreeKeepsItsMakerNoteWhenStoredAgain) {
  for (const char* name : {"rewrite-roundtrip-1.bin", "rewrite-roundtrip-2.bin", "maker-note-after-make.bin"}) {
    SCOPED_TRACE(name);
    const Bytes input = rewrite_test::ReadBytes(std::string(TV_TESTDATA_DIR) + "/rewrite/" + name);
    XpMemoryFile stream{std::span<const std::uint8_t>(input)};
    TagTreePtr tree;
    ASSERT_EQ(XpJpegExif::ReadTagTree(stream, &tree, 0), XpStatus::Ok);
    XpMemoryFile first;
    ASSERT_GT(tree->Store(first), 0U);
    const Bytes firstBytes = first.TakeBytes();
    XpMemoryFile again{std::span<const std::uint8_t>(firstBytes)};
    XpTiffTagManager reloaded;
    ASSERT_TRUE(reloaded.Load(again));
    XpMemoryFile second;
    ASSERT_GT(reloaded.Store(second), 0U);
    EXPECT_EQ(second.TakeBytes(), firstBytes);
    EXPECT_EQ(XpTiffTreeDifference(*tree, reloaded, tree->IFDCount()), "");
  }
}

TEST(RewriteRoundTrip, TheTreeComparisonNamesWhatWasLost) {
  TiffBuilder b(false);
  const std::uint32_t exif = b.AddDirectory({b.Short(0xA001, 1), b.Text(0x9003, "2020:01:02 03:04:05")});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "Maker"), b.Long(kTagExifIFD, exif)}));
  XpMemoryFile stream{std::span<const std::uint8_t>(b.Bytes())};
  XpTiffTagManager before;
  ASSERT_TRUE(before.Load(stream));
  auto after = before.Clone();
  EXPECT_EQ(XpTiffTreeDifference(before, *after, 1), "");
  after->GetExifIFD()->RemoveTag(0xA001);
  EXPECT_EQ(XpTiffTreeDifference(before, *after, 1), "IFD0/8769: lost a001");
  EXPECT_EQ(
      XpTiffTreeDifference(before, *after, 1, [](const std::string&, std::uint16_t tag) { return tag == 0xA001; }), "");
  ASSERT_EQ(after->GetExifIFD()->SetShort(0xA001, 2), XpStatus::Ok);
  EXPECT_EQ(XpTiffTreeDifference(before, *after, 1), "IFD0/8769: changed a001");
  ASSERT_EQ(after->GetExifIFD()->SetShort(0xA001, 1), XpStatus::Ok);
  ASSERT_EQ(after->GetIFD(0)->SetShort(0x0112, 1), XpStatus::Ok);
  EXPECT_EQ(XpTiffTreeDifference(before, *after, 1), "IFD0: gained 0112");
}

// ---------------------------------------------------------------------------
// Temporary files

TEST_F(RewriteIntegrity, LeftoversOfKilledRewritesAreRemovedAndNothingElse) {
  const std::string path = Write(CameraPicture());
  Write({1, 2, 3}, ".photo.jpg.tvtmp-4242-0");  // a leftover of a process that died
  Write({4, 5, 6}, ".gone.jpg.tvtmp-77-12");    // another one, of a photo since removed
  Write({7}, ".photo.jpg.tvtmp-4242-007");      // not the program's naming
  Write({8}, ".photo.jpg.tvtmp-x-1");           // nor this
  Write({9}, "photo.jpg-0");                    // the user's own files, whatever their names
  Write({10}, "notes.txt-2");
  Write({11}, "notes.txt");
  Write({12}, "photo.jpg.tvtmp-1-1");
  const std::string held = Write({13}, ".photo.jpg.tvtmp-99-5");  // a rewrite that is running
  const int fd = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, FixedDate()), XpStatus::Ok);
  ::close(fd);
  EXPECT_EQ(m_dir.Entries(),
            (std::vector<std::string>{".photo.jpg.tvtmp-4242-007", ".photo.jpg.tvtmp-99-5", ".photo.jpg.tvtmp-x-1",
                                      "notes.txt", "notes.txt-2", "photo.jpg", "photo.jpg-0", "photo.jpg.tvtmp-1-1"}));
  // Nothing but the leftovers went: the user's files keep their bytes.
  EXPECT_EQ(rewrite_test::ReadBytes(m_dir.File("notes.txt-2")), (Bytes{10}));
  EXPECT_EQ(rewrite_test::ReadBytes(m_dir.File("photo.jpg-0")), (Bytes{9}));
}

TEST_F(RewriteIntegrity, APhotoChangedBetweenTheReadAndTheRenameIsNotReplaced) {
  // Another program's write while the rewrite runs: the same size with the
  // old modification time put back, a longer file, and a new file renamed
  // over the photo. Each would be lost by the rename.
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> changes = {
      {"same size, old time",
       [](const std::string& photo) {
         struct stat info {};
         ASSERT_EQ(::stat(photo.c_str(), &info), 0);
         Bytes bytes = rewrite_test::ReadBytes(photo);
         bytes[bytes.size() / 2] ^= 0x01;
         rewrite_test::WriteBytes(photo, bytes);
         const struct timespec times[2] = {info.st_atim, info.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times, 0), 0);
       }},
      {"appended",
       [](const std::string& photo) {
         Bytes bytes = rewrite_test::ReadBytes(photo);
         bytes.push_back(0);
         rewrite_test::WriteBytes(photo, bytes);
       }},
      {"replaced",
       [](const std::string& photo) {
         const std::string other = photo + ".other";
         rewrite_test::WriteBytes(other, rewrite_test::ReadBytes(photo));
         ASSERT_EQ(::rename(other.c_str(), photo.c_str()), 0);
       }},
  };
  for (const auto& entry : changes) {
    const char* what = entry.first;
    const auto& change = entry.second;
    const std::string path = Write(CameraPicture());
    Bytes changed;
    XpExifRewrite::Hooks hooks = FixedDate();
    hooks.beforeCommit = [&](const std::string&) {
      change(path);
      changed = rewrite_test::ReadBytes(path);
      return XpStatus::Ok;
    };
    EXPECT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, hooks), XpStatus::ChangedOnDisk) << what;
    EXPECT_EQ(rewrite_test::ReadBytes(path), changed) << what;
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"}) << what;
    EXPECT_EQ(XpExifRewrite::RemoveGPS(path, hooks), XpStatus::ChangedOnDisk) << what;
    EXPECT_EQ(rewrite_test::ReadBytes(path), changed) << what;
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"}) << what;
  }
}

TEST_F(RewriteIntegrity, TheTemporaryFileIsLockedWhileItIsWritten) {
  const std::string path = Write(CameraPicture());
  bool locked = false;
  XpExifRewrite::Hooks hooks = FixedDate();
  hooks.beforeCommit = [&](const std::string& temp) {
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (fd >= 0) {
      ::close(fd);
    }
    // A sweep by another rewrite in the same folder leaves it alone.
    EXPECT_EQ(XpRemoveLeftoverReplacements(m_dir.Path()), 0U);
    return XpStatus::Ok;
  };
  ASSERT_EQ(XpExifRewrite::WriteGPS(path, Position(), true, hooks), XpStatus::Ok);
  EXPECT_TRUE(locked);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.jpg"});
}

TEST(ReplacementFile, NamesAreRecognisedExactly) {
  EXPECT_TRUE(XpIsReplacementName(".a.jpg.tvtmp-1-0", "a.jpg"));
  EXPECT_TRUE(XpIsReplacementName(".a.jpg.tvtmp-4194304-999", "a.jpg"));
  EXPECT_FALSE(XpIsReplacementName(".a.jpg.tvtmp-1-1000", "a.jpg"));
  EXPECT_FALSE(XpIsReplacementName(".a.jpg.tvtmp-1-01", "a.jpg"));
  EXPECT_FALSE(XpIsReplacementName(".a.jpg.tvtmp-01-1", "a.jpg"));
  EXPECT_FALSE(XpIsReplacementName(".a.jpg.tvtmp--1", "a.jpg"));
  EXPECT_FALSE(XpIsReplacementName(".a.jpg.tvtmp-1-", "a.jpg"));
  EXPECT_FALSE(XpIsReplacementName(".a.jpg.tvtmp-1-1", "b.jpg"));
  EXPECT_FALSE(XpIsReplacementName("a.jpg.tvtmp-1-1", "a.jpg"));
  EXPECT_FALSE(XpIsReplacementName("a.jpg-0", "a.jpg"));
  // This process's names carry its number.
  const std::string mine = XpReplacementName("/some/folder/a.jpg", 3);
  EXPECT_EQ(mine, "/some/folder/.a.jpg.tvtmp-" + std::to_string(::getpid()) + "-3");
  EXPECT_TRUE(XpIsReplacementName(mine.substr(mine.rfind('/') + 1), "a.jpg"));
}

TEST(ReplacementFile, ReplacesTheTargetInOneStepOrNotAtAll) {
  TempDir dir;
  const std::string target = dir.File("data.tvd");
  rewrite_test::WriteBytes(target, {1, 2, 3});
  {
    XpReplacementFile file;
    ASSERT_EQ(file.Create(target), XpStatus::Ok);
    EXPECT_EQ(file.Path(), XpReplacementName(target, 0));
    ASSERT_EQ(::write(file.Fd(), "new", 3), 3);
    // Dropped without a commit: the target stays, the temporary file goes.
  }
  EXPECT_EQ(rewrite_test::ReadBytes(target), (Bytes{1, 2, 3}));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"data.tvd"});

  XpReplacementFile file;
  ASSERT_EQ(file.Create(target), XpStatus::Ok);
  ASSERT_EQ(::write(file.Fd(), "new", 3), 3);
  ASSERT_EQ(file.Flush(), XpStatus::Ok);
  ASSERT_EQ(file.Commit(), XpStatus::Ok);
  EXPECT_EQ(rewrite_test::ReadBytes(target), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"data.tvd"});
}

}  // namespace
