// The journal of written photos: a restore gives back the exact bytes a photo had, undoing
// every kept write, and only while the photo is still what the program wrote.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

class Journal : public ::testing::Test {
 protected:
  void SetUp() override {
    PhotoJournal::SetFolder(m_dir / "data/terravue/journal");
    m_photo = m_dir / "photo.jpg";
    ASSERT_TRUE(CopyFileTo(TestPicture("mdx-Canon_EOS_1000D.jpg"), m_photo));
    // A known modification time, to see that a restore gives it back.
    const timespec times[2] = {{0, UTIME_OMIT}, {1262304000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, m_photo.c_str(), times, 0), 0);
    m_original = ReadFileText(m_photo);
  }
  void TearDown() override { PhotoJournal::SetFolder(std::string()); }

  XpStatus Move(const char* latitude, const char* longitude, bool* kept = nullptr) {
    XpGPSRecord gps;
    if (XpExifRewrite::ReadGPS(m_photo, gps) != XpStatus::Ok) {
      gps.Reset();
    }
    EXPECT_TRUE(TextToRationals(latitude, &gps.latitudeRef, &gps.latitude, true));
    EXPECT_TRUE(TextToRationals(longitude, &gps.longitudeRef, &gps.longitude, false));
    return PhotoJournal::Record(
        m_photo, [&] { return XpExifRewrite::WriteGPS(m_photo, gps, /*replaceWhole=*/true); }, kept);
  }

  TempFolder m_dir;
  std::string m_photo;
  std::string m_original;
};

timespec ModificationTime(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mtim;
}

}  // namespace

TEST_F(Journal, ARestoreGivesBackTheExactOldFileAfterEveryKeptWrite) {
  bool kept = false;
  ASSERT_EQ(Move("N:35:00:00.000", "E:135:00:00.000", &kept), XpStatus::Ok);
  EXPECT_TRUE(kept);
  const std::string once = ReadFileText(m_photo);
  ASSERT_NE(once, m_original);
  ASSERT_EQ(Move("N:36:00:00.000", "E:136:00:00.000", &kept), XpStatus::Ok);
  EXPECT_TRUE(kept);
  const std::vector<PhotoJournal::Entry> entries = PhotoJournal::EntriesFor(m_photo);
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_EQ(entries[0].newPosition, "N:36:00:00.000 E:136:00:00.000");
  EXPECT_EQ(entries[0].oldPosition, "N:35:00:00.000 E:135:00:00.000");
  EXPECT_EQ(entries[1].oldPosition, PhotoJournal::PositionOf(TestPicture("mdx-Canon_EOS_1000D.jpg")));
  // Only the bytes before the copied image data are kept.
  EXPECT_LT(entries[0].kept.size(), m_original.size() / 20);
  for (const auto& entry : std::filesystem::directory_iterator(m_dir / "data/terravue/journal")) {
    EXPECT_EQ(entry.status().permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  EXPECT_EQ(std::filesystem::status(m_dir / "data/terravue/journal").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);

  // A dry run says what would happen and changes nothing.
  const std::string twice = ReadFileText(m_photo);
  PhotoJournal::RestoreOutcome dry = PhotoJournal::Restore(m_photo, /*dryRun=*/true);
  EXPECT_EQ(dry.kind, PhotoJournal::RestoreKind::Restored);
  EXPECT_EQ(dry.steps, 2);
  EXPECT_EQ(ReadFileText(m_photo), twice);
  EXPECT_EQ(PhotoJournal::EntriesFor(m_photo).size(), 2U);

  const PhotoJournal::RestoreOutcome done = PhotoJournal::Restore(m_photo, /*dryRun=*/false);
  EXPECT_EQ(done.kind, PhotoJournal::RestoreKind::Restored);
  EXPECT_EQ(done.steps, 2);
  EXPECT_EQ(done.position, entries[1].oldPosition);
  EXPECT_TRUE(ReadFileText(m_photo) == m_original) << "the restored photo differs from the original";
  const timespec mtime = ModificationTime(m_photo);
  EXPECT_EQ(mtime.tv_sec, 1262304000);
  EXPECT_EQ(mtime.tv_nsec, 123456789);
  EXPECT_TRUE(PhotoJournal::EntriesFor(m_photo).empty());
  EXPECT_EQ(PhotoJournal::Restore(m_photo, false).kind, PhotoJournal::RestoreKind::NothingKept);
}

// A write that rewrites a few bytes in front and appends at the end (as a HEIF photo's
// repointed Exif item does) keeps only the rewritten bytes, however large the photo.
TEST_F(Journal, AWriteThatAppendsKeepsOnlyWhatItRewroteAndRestoresExactly) {
  const std::string large = m_dir / "large.bin";
  std::string original(3 * PhotoJournal::kMaxKeptBytes, '\0');
  for (std::size_t i = 0; i < original.size(); ++i) {
    original[i] = static_cast<char>((i * 7919) >> 3);
  }
  WriteFileText(large, original);
  bool kept = false;
  ASSERT_EQ(PhotoJournal::Record(
                large,
                [&] {
                  std::string changed = original;
                  changed.replace(100, 8, "repoint!");
                  changed += std::string(200000, 'x');
                  WriteFileText(large, changed);
                  return XpStatus::Ok;
                },
                &kept),
            XpStatus::Ok);
  ASSERT_TRUE(kept);
  const std::vector<PhotoJournal::Entry> entries = PhotoJournal::EntriesFor(large);
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_LE(entries[0].kept.size(), 8U);
  EXPECT_EQ(entries[0].tailEnd, original.size());
  const PhotoJournal::RestoreOutcome done = PhotoJournal::Restore(large, false);
  EXPECT_EQ(done.kind, PhotoJournal::RestoreKind::Restored);
  EXPECT_TRUE(ReadFileText(large) == original) << "the restored file differs from the original";

  // The same for a real HEIC photo whose position goes into its file.
  const std::string heic = m_dir / "IMG_1034.heic";
  ASSERT_TRUE(CopyFileTo(std::string(TV_TESTDATA_DIR) + "/formats/mde-IMG_1034.heic", heic));
  const std::string photo = ReadFileText(heic);
  ASSERT_GT(photo.size(), PhotoJournal::kMaxKeptBytes);
  ASSERT_EQ(XpPhotoWrite::WhereWritten(heic).destination, XpPhotoWrite::Destination::InFile);
  XpGPSRecord gps;
  ASSERT_TRUE(TextToRationals("N:35:00:30.000", &gps.latitudeRef, &gps.latitude, true));
  ASSERT_TRUE(TextToRationals("E:135:45:00.000", &gps.longitudeRef, &gps.longitude, false));
  ASSERT_EQ(PhotoJournal::RecordPositionWrite(heic, [&] { return XpPhotoWrite::WriteGPS(heic, gps); }), XpStatus::Ok);
  ASSERT_NE(ReadFileText(heic), photo);
  ASSERT_EQ(PhotoJournal::EntriesFor(heic).size(), 1U);
  EXPECT_LT(PhotoJournal::EntriesFor(heic)[0].kept.size(), photo.size() / 20);
  EXPECT_EQ(PhotoJournal::Restore(heic, false).kind, PhotoJournal::RestoreKind::Restored);
  EXPECT_TRUE(ReadFileText(heic) == photo) << "the restored photo differs from the original";
}

TEST_F(Journal, APhotoChangedSinceTheWriteIsLeftAsItIs) {
  ASSERT_EQ(Move("N:35:00:00.000", "E:135:00:00.000"), XpStatus::Ok);
  std::string changed = ReadFileText(m_photo);
  changed.push_back('\0');
  WriteFileText(m_photo, changed);
  const PhotoJournal::RestoreOutcome outcome = PhotoJournal::Restore(m_photo, false);
  EXPECT_EQ(outcome.kind, PhotoJournal::RestoreKind::ChangedSince);
  EXPECT_EQ(outcome.steps, 0);
  EXPECT_EQ(ReadFileText(m_photo), changed);
  EXPECT_EQ(PhotoJournal::EntriesFor(m_photo).size(), 1U);

  // A damaged entry is never applied: its bytes no longer give the old digest.
  WriteFileText(m_photo, changed.substr(0, changed.size() - 1));
  const std::string folder = m_dir / "data/terravue/journal";
  const std::string name = PhotoJournal::EntriesFor(m_photo).front().file;
  std::string entry = ReadFileText(folder + "/" + name);
  entry.back() = static_cast<char>(entry.back() ^ 1);
  WriteFileText(folder + "/" + name, entry);
  EXPECT_EQ(PhotoJournal::Restore(m_photo, false).kind, PhotoJournal::RestoreKind::ChangedSince);
  EXPECT_EQ(ReadFileText(m_photo), changed.substr(0, changed.size() - 1));
}

TEST_F(Journal, AFailedWriteAndAJournalThatIsOffKeepNothing) {
  bool kept = true;
  EXPECT_EQ(PhotoJournal::Record(
                m_photo, [] { return XpStatus::AccessDenied; }, &kept),
            XpStatus::AccessDenied);
  EXPECT_FALSE(kept);
  EXPECT_TRUE(PhotoJournal::EntriesFor(m_photo).empty());

  PhotoJournal::SetFolder(std::string());
  ASSERT_EQ(Move("N:35:00:00.000", "E:135:00:00.000", &kept), XpStatus::Ok);
  EXPECT_FALSE(kept);
  PhotoJournal::SetFolder(m_dir / "data/terravue/journal");
  EXPECT_EQ(PhotoJournal::Restore(m_photo, false).kind, PhotoJournal::RestoreKind::NothingKept);

  // A journal folder that can't be made does not fail the write.
  WriteFileText(m_dir / "blocked", "a file, not a folder");
  PhotoJournal::SetFolder(m_dir / "blocked/journal");
  ASSERT_EQ(Move("N:36:00:00.000", "E:136:00:00.000", &kept), XpStatus::Ok);
  EXPECT_FALSE(kept);
}

TEST_F(Journal, APurgeForgetsEveryEntryOfThePhotoOnly) {
  const std::string other = m_dir / "other.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture("exifpy-Canon_40D.jpg"), other));
  ASSERT_EQ(Move("N:35:00:00.000", "E:135:00:00.000"), XpStatus::Ok);
  ASSERT_EQ(Move("N:36:00:00.000", "E:136:00:00.000"), XpStatus::Ok);
  XpGPSRecord gps;
  gps.Reset();
  ASSERT_TRUE(TextToRationals("N:10:00:00.000", &gps.latitudeRef, &gps.latitude, true));
  ASSERT_TRUE(TextToRationals("E:010:00:00.000", &gps.longitudeRef, &gps.longitude, false));
  ASSERT_EQ(PhotoJournal::Record(other, [&] { return XpExifRewrite::WriteGPS(other, gps, true); }), XpStatus::Ok);
  EXPECT_EQ(PhotoJournal::Purge(m_photo), 2U);
  EXPECT_TRUE(PhotoJournal::EntriesFor(m_photo).empty());
  EXPECT_EQ(PhotoJournal::EntriesFor(other).size(), 1U);
}

TEST(JournalEntry, ReadsOnlyWholeWellFormedEntries) {
  PhotoJournal::Entry entry;
  entry.path = "/home/u/Pictures/a\nb.jpg";
  entry.time = 1700000000;
  entry.before = std::string(64, 'a');
  entry.after = std::string(64, 'b');
  entry.oldPosition = "";
  entry.newPosition = "N:35:00:00.000 E:135:00:00.000";
  entry.mtimeSeconds = 5;
  entry.mtimeNanoseconds = 6;
  entry.keepFrom = 9;
  entry.kept = std::string("\xFF\xD8\0\n\n", 5);
  const std::string bytes = PhotoJournal::FormatEntry(entry);
  PhotoJournal::Entry back;
  ASSERT_TRUE(PhotoJournal::ParseEntry(bytes, &back));
  EXPECT_EQ(back.path, entry.path);
  EXPECT_EQ(back.kept, entry.kept);
  EXPECT_EQ(back.keepFrom, 9U);
  EXPECT_EQ(back.mtimeNanoseconds, 6);
  EXPECT_EQ(PhotoJournal::FormatEntry(back), bytes);

  EXPECT_FALSE(PhotoJournal::ParseEntry(bytes.substr(0, bytes.size() - 1), &back));
  EXPECT_FALSE(PhotoJournal::ParseEntry(bytes + "x", &back));
  std::string twice = bytes;
  twice.insert(twice.find("time="), "time=1\n");
  EXPECT_FALSE(PhotoJournal::ParseEntry(twice, &back));
  std::string badDigest = bytes;
  badDigest.replace(badDigest.find("before=") + 7, 1, "A");
  EXPECT_FALSE(PhotoJournal::ParseEntry(badDigest, &back));
  std::string huge = bytes;
  huge.replace(huge.find("kept=") + 5, 1, "99999999");
  EXPECT_FALSE(PhotoJournal::ParseEntry(huge, &back));
  EXPECT_FALSE(PhotoJournal::ParseEntry("terravue-journal 2\n", &back));
  EXPECT_FALSE(back.created);

  // The entry of a file the write made keeps nothing and says so.
  PhotoJournal::Entry made = entry;
  made.kept.clear();
  made.created = true;
  const std::string madeBytes = PhotoJournal::FormatEntry(made);
  ASSERT_TRUE(PhotoJournal::ParseEntry(madeBytes, &back));
  EXPECT_TRUE(back.created);
  EXPECT_EQ(PhotoJournal::FormatEntry(back), madeBytes);
  std::string madeKeeping = madeBytes;
  madeKeeping.replace(madeKeeping.find("kept=0"), 6, "kept=1");
  EXPECT_FALSE(PhotoJournal::ParseEntry(madeKeeping + "x", &back));
  std::string badFlag = madeBytes;
  badFlag.replace(badFlag.find("created=1"), 9, "created=0");
  EXPECT_FALSE(PhotoJournal::ParseEntry(badFlag, &back));
  EXPECT_FALSE(PhotoJournal::ParseEntry("", &back));

  // The shared head and a tail that ends before the new file does.
  PhotoJournal::Entry framed = entry;
  framed.head = 4;
  framed.tailEnd = 20;
  const std::string framedBytes = PhotoJournal::FormatEntry(framed);
  ASSERT_TRUE(PhotoJournal::ParseEntry(framedBytes, &back));
  EXPECT_EQ(back.head, 4U);
  EXPECT_EQ(back.tailEnd, 20U);
  EXPECT_EQ(PhotoJournal::FormatEntry(back), framedBytes);
  // An entry without them (as older entries are) starts at 0 and runs to the end.
  ASSERT_TRUE(PhotoJournal::ParseEntry(bytes, &back));
  EXPECT_EQ(back.head, 0U);
  EXPECT_EQ(back.tailEnd, PhotoJournal::Entry::kToTheEnd);
  std::string backwards = framedBytes;
  backwards.replace(backwards.find("tail_end=20"), 11, "tail_end=8");
  EXPECT_FALSE(PhotoJournal::ParseEntry(backwards, &back));
  std::string zeroHead = framedBytes;
  zeroHead.replace(zeroHead.find("head=4"), 6, "head=0");
  EXPECT_FALSE(PhotoJournal::ParseEntry(zeroHead, &back));
}

// A raw photo's position goes to its sidecars: each one the write changes or
// creates is journaled and restored through the photo, which never changes.
TEST_F(Journal, SidecarWritesAreJournaledAndRestoredThroughThePhoto) {
  const std::string raw = m_dir / "IMG_2.CR2";
  ASSERT_TRUE(CopyFileTo(std::string(TV_TESTDATA_DIR) + "/formats/crafted/cr2-like.cr2", raw));
  const std::string photo = ReadFileText(raw);
  const auto write = [&](const char* latitude, const char* longitude) {
    XpGPSRecord gps;
    if (XpPhotoWrite::ReadGPS(raw, gps) != XpStatus::Ok) {
      gps.Reset();
    }
    EXPECT_TRUE(TextToRationals(latitude, &gps.latitudeRef, &gps.latitude, true));
    EXPECT_TRUE(TextToRationals(longitude, &gps.longitudeRef, &gps.longitude, false));
    return PhotoJournal::RecordPositionWrite(raw, [&] { return XpPhotoWrite::WriteGPS(raw, gps); });
  };
  const std::string sidecar = raw + ".xmp";
  ASSERT_FALSE(std::filesystem::exists(sidecar));
  ASSERT_EQ(write("N:10:00:00.000", "E:20:00:00.000"), XpStatus::Ok);
  ASSERT_EQ(PhotoJournal::EntriesFor(sidecar).size(), 1U);
  EXPECT_TRUE(PhotoJournal::EntriesFor(sidecar)[0].created);
  const std::string first = ReadFileText(sidecar);
  ASSERT_EQ(write("S:11:00:00.000", "W:21:00:00.000"), XpStatus::Ok);
  const std::vector<PhotoJournal::Entry> entries = PhotoJournal::EntriesFor(sidecar);
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_FALSE(entries[0].created);
  EXPECT_EQ(entries[0].oldPosition, "N:10:00:00.000 E:020:00:00.000");
  EXPECT_EQ(entries[0].newPosition, "S:11:00:00.000 W:021:00:00.000");
  EXPECT_TRUE(PhotoJournal::EntriesFor(raw).empty());

  // A dry run says what would be and changes nothing.
  const std::string second = ReadFileText(sidecar);
  const PhotoJournal::RestoreOutcome planned = PhotoJournal::Restore(raw, /*dryRun=*/true);
  EXPECT_EQ(planned.kind, PhotoJournal::RestoreKind::Restored);
  EXPECT_EQ(planned.steps, 2);
  EXPECT_EQ(ReadFileText(sidecar), second);

  // Both writes undone: the sidecar the first one made is gone again.
  const PhotoJournal::RestoreOutcome done = PhotoJournal::Restore(raw, /*dryRun=*/false);
  EXPECT_EQ(done.kind, PhotoJournal::RestoreKind::Restored);
  EXPECT_EQ(done.steps, 2);
  EXPECT_FALSE(std::filesystem::exists(sidecar));
  EXPECT_EQ(ReadFileText(raw), photo);
  EXPECT_TRUE(PhotoJournal::EntriesFor(sidecar).empty());
  // The position after the restore is the one the raw file holds itself.
  XpGPSRecord own;
  ASSERT_EQ(XpPhotoWrite::ReadGPS(raw, own), XpStatus::Ok);
  EXPECT_FALSE(done.position.empty());
  EXPECT_EQ(done.position, CoordinateTextFromGPS(own.latitudeRef, own.latitude, true) + " " +
                               CoordinateTextFromGPS(own.longitudeRef, own.longitude, false));

  // A created sidecar someone edited since is not removed.
  ASSERT_EQ(write("N:10:00:00.000", "E:20:00:00.000"), XpStatus::Ok);
  ASSERT_EQ(ReadFileText(sidecar), first);
  std::string edited = first;
  edited.insert(edited.find(" </rdf:RDF>"), "<!-- note -->\n");
  WriteFileText(sidecar, edited);
  EXPECT_EQ(PhotoJournal::Restore(raw, /*dryRun=*/false).kind, PhotoJournal::RestoreKind::ChangedSince);
  EXPECT_EQ(ReadFileText(sidecar), edited);

  ASSERT_EQ(write("S:12:00:00.000", "W:22:00:00.000"), XpStatus::Ok);
  EXPECT_EQ(PhotoJournal::EntriesFor(sidecar).size(), 2U);
  // Forgetting the photo forgets its sidecar's entries too.
  EXPECT_EQ(PhotoJournal::Purge(raw), 2U);
  EXPECT_TRUE(PhotoJournal::EntriesFor(sidecar).empty());
}

// Every sidecar of a photo is journaled and each is put back by one restore.
TEST_F(Journal, ARestorePutsBackEverySidecarOfThePhoto) {
  const std::string raw = m_dir / "IMG_3.NEF";
  ASSERT_TRUE(CopyFileTo(std::string(TV_TESTDATA_DIR) + "/formats/crafted/tiff-nogps.tif", raw));
  const std::string lower = raw + ".xmp";
  const std::string upper = raw + ".XMP";
  const std::string stem = m_dir / "IMG_3.xmp";
  const std::string packet =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
      "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
      "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"3\"\n"
      "    exif:GPSLatitude=\"1,30.0N\" exif:GPSLongitude=\"2,30.0E\"/>\n"
      " </rdf:RDF>\n"
      "</x:xmpmeta>\n";
  for (const std::string& file : {lower, upper, stem}) {
    WriteFileText(file, packet);
  }
  ASSERT_EQ(XpPhotoWrite::OwnSidecars(raw).size(), 3U);
  XpGPSRecord gps;
  gps.Reset();
  ASSERT_TRUE(TextToRationals("N:40:00:00.000", &gps.latitudeRef, &gps.latitude, true));
  ASSERT_TRUE(TextToRationals("E:50:00:00.000", &gps.longitudeRef, &gps.longitude, false));
  ASSERT_EQ(PhotoJournal::RecordPositionWrite(raw, [&] { return XpPhotoWrite::WriteGPS(raw, gps); }), XpStatus::Ok);
  for (const std::string& file : {lower, upper, stem}) {
    EXPECT_NE(ReadFileText(file), packet) << file;
    EXPECT_EQ(PhotoJournal::EntriesFor(file).size(), 1U) << file;
  }
  const PhotoJournal::RestoreOutcome done = PhotoJournal::Restore(raw, /*dryRun=*/false);
  EXPECT_EQ(done.kind, PhotoJournal::RestoreKind::Restored);
  EXPECT_EQ(done.steps, 3);
  EXPECT_EQ(done.position, "N:01:30:00.000 E:002:30:00.000");
  for (const std::string& file : {lower, upper, stem}) {
    EXPECT_EQ(ReadFileText(file), packet) << file;
    EXPECT_TRUE(PhotoJournal::EntriesFor(file).empty()) << file;
  }
}
