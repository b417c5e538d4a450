#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TestData.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t Read16(const Bytes& b, std::size_t at, bool big) {
  return big ? static_cast<std::uint16_t>((b.at(at) << 8) | b.at(at + 1))
             : static_cast<std::uint16_t>((b.at(at + 1) << 8) | b.at(at));
}

std::uint32_t Read32(const Bytes& b, std::size_t at, bool big) {
  return big ? (std::uint32_t{Read16(b, at, true)} << 16) | Read16(b, at + 2, true)
             : (std::uint32_t{Read16(b, at + 2, false)} << 16) | Read16(b, at, false);
}

Bytes StoreTree(XpTiffTagManager& tree) {
  XpMemoryFile out;
  XpStatus st = XpStatus::Failed;
  const std::uint64_t written = tree.Store(out, &st);
  EXPECT_EQ(st, XpStatus::Ok);
  EXPECT_EQ(written, static_cast<std::uint64_t>(out.GetLength()));
  return out.TakeBytes();
}

std::unique_ptr<XpTiffTagManager> LoadTree(const Bytes& tiff) {
  XpMemoryFile in{std::span<const std::uint8_t>(tiff)};
  auto tree = std::make_unique<XpTiffTagManager>();
  EXPECT_TRUE(tree->Load(in));
  return tree;
}

XpTiffTagIFD* AddChildDirectory(XpTiffTagIFD& parent, std::uint16_t tag, std::size_t children = 1) {
  auto entry = XpCreateTiffTagDataIFD(tag, static_cast<std::uint32_t>(children));
  auto* stored = static_cast<XpTiffTagDataIFD*>(parent.AddEntry(std::move(entry)));
  XpTiffTagIFD* first = nullptr;
  for (std::size_t i = 0; i < children; ++i) {
    XpTiffTagIFD* child = stored->AddChild(std::make_unique<XpTiffTagIFD>());
    if (first == nullptr) {
      first = child;
    }
  }
  return first;
}

// IFD0 {Orientation, XResolution, DateTime, Exif -> {ExifVersion}} and IFD1 {Compression}.
std::unique_ptr<XpTiffTagManager> SmallTree(bool bigEndian) {
  auto tree = std::make_unique<XpTiffTagManager>();
  EXPECT_TRUE(tree->Create());
  tree->SetBigEndian(bigEndian);
  XpTiffTagIFD* ifd0 = tree->AddIFD();
  EXPECT_EQ(ifd0->SetAscii(0x0132, "2020:01:02 03:04:05"), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetShort(0x0112, 6), XpStatus::Ok);
  XpTiffTagIFD* exif = AddChildDirectory(*ifd0, kTagExifIFD);
  const std::uint8_t version[] = {'0', '2', '3', '0'};
  EXPECT_EQ(exif->SetUndefined(0x9000, version), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetRational(0x011A, 72, 1), XpStatus::Ok);
  XpTiffTagIFD* ifd1 = tree->AddIFD();
  EXPECT_EQ(ifd1->SetShort(0x0103, 6), XpStatus::Ok);
  return tree;
}

TEST(StoreTagTree, TreeWithoutRootWritesNothing) {
  XpTiffTagManager tree;
  XpMemoryFile out;
  XpStatus st = XpStatus::Failed;
  EXPECT_EQ(tree.Store(out, &st), 0U);
  EXPECT_EQ(st, XpStatus::Ok);
  EXPECT_EQ(out.GetLength(), 0);
}

TEST(StoreTagTree, LaysOutDirectoriesValuesAndChildrenFrontToBack) {
  auto tree = SmallTree(false);
  const Bytes tiff = StoreTree(*tree);
  ASSERT_EQ(tiff.size(), 126U);
  EXPECT_EQ(tiff[0], 'I');
  EXPECT_EQ(tiff[1], 'I');
  EXPECT_EQ(Read16(tiff, 2, false), 42);
  EXPECT_EQ(Read32(tiff, 4, false), 8U);

  // IFD0 at 8: four entries sorted by tag.
  EXPECT_EQ(Read16(tiff, 8, false), 4);
  const std::uint16_t tags[] = {0x0112, 0x011A, 0x0132, 0x8769};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Read16(tiff, 10 + 12 * i, false), tags[i]) << i;
  }
  // Orientation in the value field, left-aligned.
  EXPECT_EQ(Read16(tiff, 10 + 2, false), kTiffTypeShort);
  EXPECT_EQ(Read16(tiff, 10 + 8, false), 6);
  EXPECT_EQ(Read16(tiff, 10 + 10, false), 0);
  // Out-of-line values start right after the next-directory offset (at 62).
  EXPECT_EQ(Read32(tiff, 22 + 8, false), 62U);
  EXPECT_EQ(Read32(tiff, 62, false), 72U);
  EXPECT_EQ(Read32(tiff, 66, false), 1U);
  EXPECT_EQ(Read32(tiff, 34 + 4, false), 20U);
  EXPECT_EQ(Read32(tiff, 34 + 8, false), 70U);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&tiff[70])), "2020:01:02 03:04:05");
  // The Exif entry is a LONG with one child, placed after the values (at 90).
  EXPECT_EQ(Read16(tiff, 46 + 2, false), kTiffTypeLong);
  EXPECT_EQ(Read32(tiff, 46 + 4, false), 1U);
  EXPECT_EQ(Read32(tiff, 46 + 8, false), 90U);
  // IFD0's next offset skips its subtree: 8 + 82 + 18.
  EXPECT_EQ(Read32(tiff, 58, false), 108U);
  // Exif IFD: one entry, next offset 0; the 4-byte version sits in the value field.
  EXPECT_EQ(Read16(tiff, 90, false), 1);
  EXPECT_EQ(Read16(tiff, 92, false), 0x9000);
  EXPECT_EQ(std::memcmp(&tiff[100], "0230", 4), 0);
  EXPECT_EQ(Read32(tiff, 104, false), 0U);
  // IFD1 is last: next offset 0.
  EXPECT_EQ(Read16(tiff, 108, false), 1);
  EXPECT_EQ(Read32(tiff, 122, false), 0U);

  EXPECT_EQ(tree->GetIFD(0)->StoredSize(false), 82U);
  EXPECT_EQ(tree->GetIFD(0)->StoredSize(true), 100U);
  EXPECT_EQ(tree->GetIFD(1)->StoredSize(true), 18U);
}

TEST(StoreTagTree, BigEndianTreeIsStoredBigEndianWithRationalWordsSwappedSeparately) {
  auto tree = SmallTree(true);
  const Bytes tiff = StoreTree(*tree);
  EXPECT_EQ(tiff[0], 'M');
  EXPECT_EQ(tiff[1], 'M');
  EXPECT_EQ(Read16(tiff, 2, true), 42);
  EXPECT_EQ(Read16(tiff, 10 + 8, true), 6);
  EXPECT_EQ(Read32(tiff, 62, true), 72U);
  EXPECT_EQ(Read32(tiff, 66, true), 1U);

  auto little = SmallTree(false);
  auto fromBig = LoadTree(tiff);
  auto fromLittle = LoadTree(StoreTree(*little));
  EXPECT_TRUE(fromBig->IsBigEndian());
  EXPECT_EQ(fromBig->GetIFD(0)->FindRational(0x011A), 72.0);
  EXPECT_EQ(fromBig->GetIFD(0)->FindShort(0x0112), 6);
  EXPECT_EQ(fromBig->GetIFD(0)->FindAscii(0x0132), "2020:01:02 03:04:05");
  EXPECT_EQ(fromBig->GetExifIFD()->FindUndefined(0x9000, false, 1), '2');
  EXPECT_EQ(fromBig->GetIFD(1)->FindShort(0x0103), fromLittle->GetIFD(1)->FindShort(0x0103));
}

TEST(StoreTagTree, SortsEntriesByTagKeepingTheOrderOfEqualTags) {
  XpTiffTagManager tree;
  ASSERT_TRUE(tree.Create());
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  ASSERT_EQ(ifd0->SetShort(0x0300, 3), XpStatus::Ok);
  ASSERT_EQ(ifd0->SetShort(0x0100, 1), XpStatus::Ok);
  ASSERT_EQ(ifd0->SetShort(0x0200, 2), XpStatus::Ok);
  StoreTree(tree);
  ASSERT_EQ(ifd0->EntryCount(), 3U);
  EXPECT_EQ(ifd0->GetEntry(0)->GetTag(), 0x0100);
  EXPECT_EQ(ifd0->GetEntry(1)->GetTag(), 0x0200);
  EXPECT_EQ(ifd0->GetEntry(2)->GetTag(), 0x0300);
}

TEST(StoreTagTree, DirectoryEntryWithoutChildIsAnEmptyLong) {
  XpTiffTagManager tree;
  ASSERT_TRUE(tree.Create());
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  ASSERT_NE(ifd0->AddEntry(XpCreateTiffTagDataIFD(kTagGPSIFD, 1)), nullptr);
  const Bytes tiff = StoreTree(tree);
  ASSERT_EQ(tiff.size(), 8U + 18U);
  EXPECT_EQ(Read16(tiff, 10, false), kTagGPSIFD);
  EXPECT_EQ(Read16(tiff, 12, false), kTiffTypeLong);
  EXPECT_EQ(Read32(tiff, 14, false), 0U);
  EXPECT_EQ(Read32(tiff, 18, false), 0U);
}

TEST(StoreTagTree, SeveralChildrenGetAnOffsetArray) {
  XpTiffTagManager tree;
  ASSERT_TRUE(tree.Create());
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  AddChildDirectory(*ifd0, kTagSubIFDs, 2);
  auto* entry = static_cast<XpTiffTagDataIFD*>(ifd0->Find(kTagSubIFDs));
  ASSERT_EQ(entry->GetChild(0)->SetShort(0x0100, 10), XpStatus::Ok);
  ASSERT_EQ(entry->GetChild(1)->SetShort(0x0100, 20), XpStatus::Ok);
  const Bytes tiff = StoreTree(tree);
  // IFD0: 18 bytes of table then an 8-byte array; children at 34 and 52.
  EXPECT_EQ(Read32(tiff, 14, false), 2U);
  EXPECT_EQ(Read32(tiff, 18, false), 26U);
  EXPECT_EQ(Read32(tiff, 26, false), 34U);
  EXPECT_EQ(Read32(tiff, 30, false), 52U);
  EXPECT_EQ(tiff.size(), 70U);
  auto loaded = LoadTree(tiff);
  auto* loadedEntry = static_cast<XpTiffTagDataIFD*>(loaded->GetIFD(0)->Find(kTagSubIFDs));
  ASSERT_NE(loadedEntry, nullptr);
  ASSERT_EQ(loadedEntry->ChildCount(), 2U);
  EXPECT_EQ(loadedEntry->GetChild(1)->FindShort(0x0100), 20);
}

TEST(StoreTagTree, MakerNoteDirectoryIsAnUndefinedBlobWithItsHeader) {
  struct Case {
    bool shortHeader;
    bool piHeader;
    std::string header;
  };
  const Case cases[] = {{false, false, std::string("ARDO DSC \0\0\0", 12)},
                        {false, true, std::string("ARDO PI \0\0\0\0", 12)},
                        {true, false, std::string("QUAVI\0\1\0", 8)}};
  for (const Case& c : cases) {
    XpTiffTagManager tree;
    ASSERT_TRUE(tree.Create());
    XpTiffTagIFD* ifd0 = tree.AddIFD();
    XpTiffTagIFD* exif = AddChildDirectory(*ifd0, kTagExifIFD);
    XpTiffTagIFD* note = AddChildDirectory(*exif, kTagMakerNote);
    note->SetMakerNote(true);
    note->SetShortHeader(c.shortHeader);
    note->SetPiHeader(c.piHeader);
    ASSERT_EQ(note->SetLong(0x0001, 7), XpStatus::Ok);
    const std::uint64_t noteSize = c.header.size() + 18;
    EXPECT_EQ(note->StoredSize(true), noteSize);
    const Bytes tiff = StoreTree(tree);
    // IFD0 at 8 (18 bytes), Exif IFD at 26 (18 bytes), the note at 44.
    EXPECT_EQ(Read16(tiff, 28, false), kTagMakerNote);
    EXPECT_EQ(Read16(tiff, 30, false), kTiffTypeUndefined);
    EXPECT_EQ(Read32(tiff, 32, false), noteSize);
    EXPECT_EQ(Read32(tiff, 36, false), 44U);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&tiff[44]), c.header.size()), c.header);
    EXPECT_EQ(Read16(tiff, 44 + c.header.size(), false), 1);
    EXPECT_EQ(tiff.size(), 44U + noteSize);
  }
}

TEST(StoreTagTree, OddOutOfLineValuesArePaddedToEvenLengths) {
  XpTiffTagManager tree;
  ASSERT_TRUE(tree.Create());
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  ASSERT_EQ(ifd0->SetAscii(0x010F, "Maker"), XpStatus::Ok);  // 6 bytes
  ASSERT_EQ(ifd0->SetAscii(0x0110, "Odd1"), XpStatus::Ok);   // 5 bytes
  ASSERT_EQ(ifd0->SetAscii(0x0131, "Abc"), XpStatus::Ok);    // 4 bytes, in the field
  EXPECT_EQ(ifd0->StoredSize(false), 12U * 3 + 6 + 6 + 6);
  const Bytes tiff = StoreTree(tree);
  EXPECT_EQ(Read32(tiff, 10 + 8, false), 50U);
  EXPECT_EQ(Read32(tiff, 22 + 8, false), 56U);
  EXPECT_EQ(tiff.size(), 62U);
  EXPECT_EQ(tiff[61], 0);
}

TEST(StoreTagTree, SettersReplaceAnEntryOfAnyTypeInPlace) {
  XpTiffTagIFD dir;
  ASSERT_EQ(dir.SetShort(0x0100, 5), XpStatus::Ok);
  ASSERT_EQ(dir.SetLong(0x0101, 6), XpStatus::Ok);
  ASSERT_EQ(dir.SetLong(0x0100, 70000), XpStatus::Ok);
  ASSERT_EQ(dir.EntryCount(), 2U);
  EXPECT_EQ(dir.GetEntry(0)->GetTag(), 0x0100);
  EXPECT_EQ(dir.GetEntry(0)->GetType(), kTiffTypeLong);
  EXPECT_EQ(dir.FindLong(0x0100), 70000U);
  EXPECT_EQ(dir.FindShort(0x0100), 0);

  ASSERT_EQ(dir.SetAscii(0x0132, "abc"), XpStatus::Ok);
  EXPECT_EQ(dir.Find(0x0132)->GetCount(), 4U);
  ASSERT_EQ(dir.SetAscii(0x0132, "2021:05:06 07:08:09", 20), XpStatus::Ok);
  EXPECT_EQ(dir.Find(0x0132)->GetCount(), 20U);
  EXPECT_EQ(dir.Find(0x0132)->Bytes()[19], 0);
  ASSERT_EQ(dir.SetAscii(0x010E, "long text", 4), XpStatus::Ok);
  EXPECT_EQ(dir.Find(0x010E)->GetCount(), 4U);
  EXPECT_EQ(dir.FindAscii(0x010E), "long");

  ASSERT_EQ(dir.SetRational(0x011A, 300, 2), XpStatus::Ok);
  EXPECT_EQ(dir.FindRational(0x011A), 150.0);
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(dir.SetUndefined(0x9286, bytes), XpStatus::Ok);
  EXPECT_EQ(dir.Find(0x9286)->GetCount(), 6U);
  EXPECT_EQ(dir.FindUndefined(0x9286, false, 5), 6);
}

// Every entry of `a` equals the one of `b` at the same place; directory
// entries are compared by their children, not by the offsets read.
void ExpectSameDirectory(const XpTiffTagIFD& a, const XpTiffTagIFD& b, const std::string& where) {
  ASSERT_EQ(a.EntryCount(), b.EntryCount()) << where;
  EXPECT_EQ(a.IsMakerNote(), b.IsMakerNote()) << where;
  for (std::size_t i = 0; i < a.EntryCount(); ++i) {
    const XpTiffTagDataBase& x = *a.GetEntry(i);
    const XpTiffTagDataBase& y = *b.GetEntry(i);
    const std::string at = where + "/" + std::to_string(x.GetTag());
    ASSERT_EQ(x.GetTag(), y.GetTag()) << at;
    ASSERT_EQ(x.GetType(), y.GetType()) << at;
    if (x.IsIFD()) {
      const auto& dx = static_cast<const XpTiffTagDataIFD&>(x);
      const auto& dy = static_cast<const XpTiffTagDataIFD&>(y);
      ASSERT_EQ(dx.ChildCount(), dy.ChildCount()) << at;
      for (std::size_t c = 0; c < dx.ChildCount(); ++c) {
        ExpectSameDirectory(*dx.GetChild(c), *dy.GetChild(c), at);
      }
      continue;
    }
    EXPECT_EQ(x.GetCount(), y.GetCount()) << at;
    EXPECT_TRUE(std::equal(x.Bytes().begin(), x.Bytes().end(), y.Bytes().begin(), y.Bytes().end())) << at;
  }
}

class StoreRealTrees : public ::testing::TestWithParam<std::string> {};

TEST_P(StoreRealTrees, StoredTreeLoadsBackWithTheSameEntries) {
  TagTreePtr tree;
  const std::string path = rewrite_test::TestDataPath(GetParam());
  if (XpJpegExif::ReadTagTree(path, &tree) != XpStatus::Ok || tree == nullptr || !tree->HasIFD()) {
    GTEST_SKIP() << "no tag tree";
  }
  const Bytes tiff = StoreTree(*tree);
  ASSERT_GT(tiff.size(), 8U);
  auto again = LoadTree(tiff);
  ASSERT_EQ(again->IFDCount(), tree->IFDCount());
  EXPECT_EQ(again->IsBigEndian(), tree->IsBigEndian());
  for (std::size_t i = 0; i < tree->IFDCount(); ++i) {
    // Load keeps file order, which Store made ascending.
    ExpectSameDirectory(*again->GetIFD(i), *tree->GetIFD(i), "IFD" + std::to_string(i));
  }
  // Storing what was loaded gives the same bytes again.
  EXPECT_EQ(StoreTree(*again), tiff);
}

std::vector<std::string> TestDataJpegs() { return testdata::CameraJpegNames(); }

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (const char ch : info.param) {
    name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Testdata, StoreRealTrees, ::testing::ValuesIn(TestDataJpegs()), TestName);

}  // namespace
