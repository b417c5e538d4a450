// Rewrites killed at random moments: the picture's path must always hold the
// old file or the new one, complete and decodable.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "xp/base/XpReplaceFile.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::TempDir;

XpGPSRecord Seconds(std::uint32_t seconds) {
  return rewrite_test::PositionRecord(u'N', {35, 37, seconds}, u'E', {139, 44, seconds});
}

Bytes PictureWithExif() {
  XpTiffTagManager tree;
  EXPECT_TRUE(tree.Create());
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  EXPECT_EQ(ifd0->SetAscii(kTagMake, "Camera Maker"), XpStatus::Ok);
  auto* exifEntry = static_cast<XpTiffTagDataIFD*>(ifd0->AddEntry(XpCreateTiffTagDataIFD(kTagExifIFD, 1)));
  XpTiffTagIFD* exif = exifEntry->AddChild(std::make_unique<XpTiffTagIFD>());
  EXPECT_EQ(exif->SetAscii(kTagDateTimeOriginal, "2020:02:02 02:02:02"), XpStatus::Ok);
  XpMemoryFile block;
  EXPECT_EQ(block.WriteAll("Exif\0\0", 6), XpStatus::Ok);
  EXPECT_GT(tree.Store(block), 0U);
  return rewrite_test::MakeJpeg(1024, 768, {{0xE1, block.TakeBytes()}, rewrite_test::MakeSegment(0xFE, "kept")});
}

// Which position the picture holds: 0 for none, else the seconds value.
std::uint32_t PositionAt(const std::string& path) {
  XpGPSRecord record;
  if (XpExifRewrite::ReadGPS(path, record) != XpStatus::Ok) {
    return 0;
  }
  return record.latitude.numerators[2];
}

TEST(RewriteCrashSafety, KilledRewritesLeaveTheOldOrTheNewPictureInPlace) {
  TempDir dir;
  const std::string path = dir.File("photo.jpg");
  const Bytes original = PictureWithExif();
  ASSERT_FALSE(original.empty());
  rewrite_test::WriteBytes(path, original);
  const Bytes pixels = rewrite_test::DecodePixels(original);
  const auto coefficients = rewrite_test::ReadCoefficients(original);

  // How long a child takes from the fork to its first finished rewrite, to
  // spread the kills over a few rewrites. Forking a large test process can
  // cost more than the rewrite itself, so both are timed together.
  const auto begin = std::chrono::steady_clock::now();
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    ::_exit(XpExifRewrite::WriteGPS(path, Seconds(1000)) == XpStatus::Ok ? 0 : 1);
  }
  int firstStatus = 0;
  ASSERT_EQ(::waitpid(first, &firstStatus, 0), first);
  ASSERT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0);
  const auto oneRewrite = std::chrono::steady_clock::now() - begin;
  auto spread = std::chrono::duration_cast<std::chrono::microseconds>(oneRewrite * 3).count() + 1;

  std::mt19937 random(20240601);
  // Kills must fall both before and after a completed rewrite. On a loaded
  // machine the first timing can be far off, so while one side has not been
  // seen the window widens (no kill after a commit yet) or narrows (no kill
  // before one), and more rounds run, up to a bound.
  constexpr int kKills = 40;
  constexpr int kMostKills = 400;
  int sawOld = 0;
  int sawNew = 0;
  int strays = 0;
  for (int round = 0; round < kMostKills && (round < kKills || sawOld == 0 || sawNew == 0); ++round) {
    if (round >= 10 && round % 10 == 0) {
      if (sawNew == 0 && spread < 2'000'000) {
        spread *= 2;
      } else if (sawOld == 0 && spread > 1) {
        spread /= 2;
      }
    }
    std::uniform_int_distribution<long> delay(0, spread);
    const std::uint32_t before = PositionAt(path);
    const std::uint32_t next = 2000 + static_cast<std::uint32_t>(round);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Keep rewriting until killed; the last completed one wins.
      for (;;) {
        (void)XpExifRewrite::WriteGPS(path, Seconds(next));
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The picture is complete: the same image, and a tag tree with one of
    // the two positions.
    const Bytes now = rewrite_test::ReadBytes(path);
    ASSERT_EQ(rewrite_test::ReadCoefficients(now), coefficients) << "round " << round;
    ASSERT_EQ(rewrite_test::DecodePixels(now), pixels) << "round " << round;
    const std::uint32_t position = PositionAt(path);
    ASSERT_TRUE(position == before || position == next) << "round " << round << ": " << position;
    (position == next ? sawNew : sawOld) += 1;
    const auto segments = rewrite_test::AppAndComSegments(now);
    ASSERT_EQ(segments.size(), 3U);  // Exif, JFIF, the comment
    EXPECT_EQ(segments.back(), rewrite_test::MakeSegment(0xFE, "kept"));

    // A killed rewrite may leave its temporary file, under its own name only.
    for (const std::string& name : dir.Entries()) {
      if (name == "photo.jpg") {
        continue;
      }
      ASSERT_TRUE(XpIsReplacementName(name, "photo.jpg")) << name;
      ++strays;
      std::filesystem::remove(dir.File(name));
    }
  }
  // The kills fell both before and after a completed rewrite.
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 0);
  RecordProperty("kills_before_commit", sawOld);
  RecordProperty("kills_after_commit", sawNew);
  RecordProperty("stray_temporary_files", strays);
}

}  // namespace
