#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "xp/image/XpMemoryFile.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/tiff/XpTiffTagData.h"
#include "xp/tiff/XpTiffTagManager.h"

using tifftest::TiffBuilder;

namespace {

std::unique_ptr<XpTiffTagManager> LoadBytes(const std::vector<std::uint8_t>& bytes, int mode = 0, bool* ok = nullptr) {
  auto tree = std::make_unique<XpTiffTagManager>();
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  const bool loaded = tree->Load(file, mode);
  if (ok != nullptr) {
    *ok = loaded;
  }
  return tree;
}

// IFD0 with Orientation, Make, a 5-byte ASCII, a RATIONAL and an Exif IFD
// holding a 4-byte UNDEFINED ExifVersion; IFD1 with a thumbnail pointer.
std::vector<std::uint8_t> SampleTiff(bool big) {
  TiffBuilder b(big);
  const std::uint32_t exif = b.AddDirectory(
      {{0x9000, 7, 4, {'0', '2', '2', '1'}}, {0x829A, 5, 1, b.Rationals({{1, 250}})}, b.Short(0xA001, 0xFFFF)});
  const std::uint32_t ifd1 = b.AddDirectory({b.Long(0x0201, 1234), b.Long(0x0202, 99)});
  const std::uint32_t ifd0 = b.AddDirectory({b.Short(0x0112, 6),
                                             b.Text(0x010F, "Make"),
                                             {0x011A, 5, 1, b.Rationals({{72, 1}})},
                                             {0x0213, 3, 2, b.Shorts({1, 2})},
                                             b.Long(0x8769, exif)},
                                            ifd1);
  b.SetIFD0(ifd0);
  return b.Bytes();
}

}  // namespace

TEST(TiffTagTree, ReadsLittleAndBigEndianDataToTheSameValues) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    bool ok = false;
    auto tree = LoadBytes(SampleTiff(big), 0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(tree->LoadStatus(), XpStatus::Ok);
    EXPECT_EQ(tree->IsBigEndian(), big);
    ASSERT_EQ(tree->IFDCount(), 2u);
    const XpTiffTagIFD* ifd0 = tree->GetIFD(0);
    EXPECT_EQ(ifd0->FindShort(0x0112), 6);
    EXPECT_EQ(ifd0->FindAscii(0x010F), "Make");
    EXPECT_DOUBLE_EQ(ifd0->FindRational(0x011A), 72.0);
    EXPECT_EQ(ifd0->FindShort(0x0213, false, 1), 2);
    EXPECT_EQ(tree->GetIFD(1)->FindLong(0x0201), 1234u);
    ASSERT_NE(tree->GetExifIFD(), nullptr);
    EXPECT_DOUBLE_EQ(tree->GetExifIFD()->FindRational(0x829A), 1.0 / 250);
    EXPECT_TRUE(tree->IsUncalibrated());
  }
}

TEST(TiffTagTree, SwapsRationalsWordByWord) {
  auto tree = LoadBytes(SampleTiff(true));
  const XpTiffTagDataBase* e = tree->GetExifIFD()->Find(0x829A);
  ASSERT_NE(e, nullptr);
  std::uint32_t words[2];
  std::memcpy(words, e->GetData(), 8);
  EXPECT_EQ(words[0], 1u);
  EXPECT_EQ(words[1], 250u);
}

TEST(TiffTagTree, TakesShortValuesFromTheValueFieldAndLongerOnesFromTheOffset) {
  auto tree = LoadBytes(SampleTiff(false));
  const XpTiffTagDataBase* version = tree->GetExifIFD()->Find(0x9000);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(version->GetData()), 4), "0221");
  EXPECT_EQ(tree->GetIFD(0)->Find(0x010F)->GetCount(), 5u);
}

TEST(TiffTagTree, TypedGettersAnswerZeroForAnotherTypeOrIndex) {
  auto tree = LoadBytes(SampleTiff(false));
  const XpTiffTagIFD* ifd0 = tree->GetIFD(0);
  EXPECT_EQ(ifd0->FindLong(0x0112), 0u);
  EXPECT_EQ(ifd0->FindShort(0x0112, false, 1), 0);
  EXPECT_EQ(ifd0->FindLong(0x8769), 0u);  // a child-directory entry is not a LONG
  EXPECT_EQ(ifd0->FindAscii(0x0112), "");
  EXPECT_EQ(ifd0->FindShort(0x9999), 0);
  EXPECT_EQ(ifd0->Find(0x8769)->GetType(), kTiffTypeIFDEntry);
}

TEST(TiffTagTree, OrientationStoredAsLongReadsAsZeroShort) {
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({b.Long(0x0112, 6)}));
  auto tree = LoadBytes(b.Bytes());
  EXPECT_EQ(tree->GetIFD(0)->FindShort(0x0112), 0);
  EXPECT_EQ(tree->GetIFD(0)->FindLong(0x0112), 6u);
}

TEST(TiffTagTree, DeepSearchFindsTagsInChildDirectories) {
  auto tree = LoadBytes(SampleTiff(false));
  EXPECT_FALSE(tree->GetIFD(0)->Has(0x829A));
  EXPECT_TRUE(tree->GetIFD(0)->Has(0x829A, true));
}

TEST(TiffTagTree, IFD1PointingAtItselfEndsTheChain) {
  TiffBuilder b(false);
  const std::uint32_t ifd1 = b.AddDirectory({b.Long(0x0201, 0)});
  b.PatchNext(ifd1, ifd1);
  b.SetIFD0(b.AddDirectory({b.Short(0x0112, 1)}, ifd1));
  auto tree = LoadBytes(b.Bytes());
  EXPECT_EQ(tree->IFDCount(), 2u);
}

TEST(TiffTagTree, ALongerCycleOfTopLevelDirectoriesEnds) {
  TiffBuilder b(false);
  const std::uint32_t ifd2 = b.AddDirectory({b.Short(0x0100, 2)});
  const std::uint32_t ifd1 = b.AddDirectory({b.Short(0x0100, 1)}, ifd2);
  const std::uint32_t ifd0 = b.AddDirectory({b.Short(0x0100, 0)}, ifd1);
  b.PatchNext(ifd2, ifd0);
  b.SetIFD0(ifd0);
  bool ok = false;
  auto tree = LoadBytes(b.Bytes(), 0, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(tree->IFDCount(), 3u);
}

TEST(TiffTagTree, ChildDirectoriesPointingBackUpAreNotFollowed) {
  // IFD0 -> Exif -> Interop -> Exif again, and Interop's SubIFDs -> IFD0.
  TiffBuilder b(false);
  const std::uint32_t interop = b.AddDirectory({b.Long(0xA005, 0), b.Long(0x014A, 0), b.Text(0x0001, "R98")});
  const std::uint32_t exif = b.AddDirectory({b.Long(0xA005, interop)});
  const std::uint32_t ifd0 = b.AddDirectory({b.Long(0x8769, exif)});
  b.PatchValue(interop, 0, exif);
  b.PatchValue(interop, 1, ifd0);
  b.SetIFD0(ifd0);
  auto tree = LoadBytes(b.Bytes());
  ASSERT_NE(tree->GetExifIFD(), nullptr);
  const auto* interopEntry = static_cast<const XpTiffTagDataIFD*>(tree->GetExifIFD()->Find(0xA005));
  ASSERT_EQ(interopEntry->ChildCount(), 1u);
  const XpTiffTagIFD* interopDir = interopEntry->GetChild(0);
  EXPECT_EQ(interopDir->FindAscii(0x0001), "R98");
  EXPECT_EQ(static_cast<const XpTiffTagDataIFD*>(interopDir->Find(0xA005))->ChildCount(), 0u);
  EXPECT_EQ(static_cast<const XpTiffTagDataIFD*>(interopDir->Find(0x014A))->ChildCount(), 0u);
}

TEST(TiffTagTree, AChildOffsetEqualToItsParentStopsThatEntrysOffsets) {
  TiffBuilder b(false);
  const std::uint32_t sub = b.AddDirectory({b.Short(0x0100, 7)});
  const std::uint32_t ifd0 = b.AddDirectory({{0x014A, 4, 2, b.Longs({0, 0})}});
  // First offset points at IFD0 itself, the second at a good directory: both are dropped.
  b.Bytes().resize(b.Bytes().size());
  auto& bytes = b.Bytes();
  const std::uint32_t arrayAt = bytes[ifd0 + 10] | (bytes[ifd0 + 11] << 8) | (bytes[ifd0 + 12] << 16);
  bytes[arrayAt] = static_cast<std::uint8_t>(ifd0);
  bytes[arrayAt + 1] = static_cast<std::uint8_t>(ifd0 >> 8);
  bytes[arrayAt + 4] = static_cast<std::uint8_t>(sub);
  b.SetIFD0(ifd0);
  auto tree = LoadBytes(bytes);
  EXPECT_EQ(static_cast<const XpTiffTagDataIFD*>(tree->GetIFD(0)->Find(0x014A))->ChildCount(), 0u);
}

TEST(TiffTagTree, DeeplyNestedChildDirectoriesStopAtTheDepthLimit) {
  TiffBuilder b(false);
  std::uint32_t below = b.AddDirectory({b.Short(0x0100, 1)});
  for (int i = 0; i < 40; ++i) {
    below = b.AddDirectory({b.Long(0x014A, below)});
  }
  b.SetIFD0(below);
  bool ok = false;
  auto tree = LoadBytes(b.Bytes(), 0, &ok);
  ASSERT_TRUE(ok);
  int depth = 0;
  const XpTiffTagIFD* dir = tree->GetIFD(0);
  while (dir != nullptr) {
    const auto* e = dir->Find(0x014A);
    dir = e != nullptr ? static_cast<const XpTiffTagDataIFD*>(e)->GetChild(0) : nullptr;
    ++depth;
  }
  EXPECT_EQ(depth, XpTiffTagManager::kMaxDepth + 1);
}

TEST(TiffTagTree, AnEntryWhoseValuesLieBeyondTheDataIsSkippedAndTheRestIsRead) {
  TiffBuilder b(false);
  const std::uint32_t ifd1 = b.AddDirectory({b.Short(0x0100, 1)});
  const std::uint32_t ifd0 =
      b.AddDirectory({b.Short(0x0112, 3), {0x010E, 2, 10, b.Ascii("123456789")}, b.Short(0x0128, 2)}, ifd1);
  b.PatchValue(ifd0, 1, 0xFFFFFFF0u);
  b.SetIFD0(ifd0);
  bool ok = false;
  auto tree = LoadBytes(b.Bytes(), 0, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(tree->IFDCount(), 2u);
  EXPECT_EQ(tree->GetIFD(0)->EntryCount(), 2u);
  EXPECT_EQ(tree->GetIFD(0)->FindShort(0x0112), 3);
  EXPECT_EQ(tree->GetIFD(0)->FindShort(0x0128), 2);
  EXPECT_FALSE(tree->GetIFD(0)->Has(0x010E));
  EXPECT_FALSE(tree->IsComplete());
}

TEST(TiffTagTree, CountsWhoseByteSizeOverflowsAreRefused) {
  for (std::uint32_t count : {0x40000000u, 0x20000001u, 0xFFFFFFFFu}) {
    TiffBuilder b(false);
    b.SetIFD0(b.AddDirectory({b.Short(0x0112, 3), {0x0111, 4, count, b.Longs({8})}}));
    bool ok = false;
    auto tree = LoadBytes(b.Bytes(), 0, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(tree->GetIFD(0)->EntryCount(), 1u) << count;
  }
}

TEST(TiffTagTree, AbsurdEntryCountsKeepWhatTheDataHolds) {
  TiffBuilder b(false);
  const std::uint32_t ifd0 = b.AddDirectory({b.Short(0x0112, 3), b.Short(0x0128, 2)});
  b.Bytes()[ifd0] = 0xFF;
  b.Bytes()[ifd0 + 1] = 0xFF;
  b.SetIFD0(ifd0);
  bool ok = false;
  auto tree = LoadBytes(b.Bytes(), 0, &ok);
  EXPECT_TRUE(ok);
  EXPECT_GE(tree->GetIFD(0)->EntryCount(), 2u);
  EXPECT_LT(tree->GetIFD(0)->EntryCount(), 10u);
}

TEST(TiffTagTree, ManyEntriesSharingOneLargeValueStayWithinTheMemoryBudget) {
  // 4000 entries each naming the same 60000-byte value: 240 MB if all were read.
  TiffBuilder b(false);
  std::vector<TiffBuilder::Entry> entries;
  for (std::uint16_t i = 0; i < 4000; ++i) {
    entries.push_back({static_cast<std::uint16_t>(0x1000 + i), 7, 60000, {0, 0, 0, 0}});
  }
  const std::uint32_t ifd0 = b.AddDirectory(entries);
  const std::uint32_t blob = b.AppendRaw(std::vector<std::uint8_t>(60000, 0x55));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    b.PatchValue(ifd0, i, blob);
  }
  b.SetIFD0(ifd0);
  bool ok = false;
  auto tree = LoadBytes(b.Bytes(), 0, &ok);
  EXPECT_TRUE(ok);
  std::uint64_t total = 0;
  for (const auto& e : tree->GetIFD(0)->Entries()) {
    total += e->GetByteSize();
  }
  EXPECT_GT(total, 0u);
  EXPECT_LE(total, std::max<std::uint64_t>(XpTiffTagManager::kMinValueBudget, 4 * b.Bytes().size()));
}

TEST(TiffTagTree, BadHeadersLeaveNoTree) {
  const std::vector<std::vector<std::uint8_t>> cases = {
      {},
      {'I', 'I', 42, 0, 8, 0, 0},
      {'I', 'M', 42, 0, 8, 0, 0, 0, 0, 0},
      {'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0},
      {'M', 'M', 42, 0, 0, 0, 0, 8, 0, 0},  // big-endian 42 is 0 42
      {'I', 'I', 42, 0, 200, 0, 0, 0, 0, 0},
  };
  for (const auto& bytes : cases) {
    bool ok = true;
    auto tree = LoadBytes(bytes, 0, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(tree->LoadStatus(), XpStatus::JpegDecodeFailed);
    EXPECT_FALSE(tree->HasIFD());
    EXPECT_EQ(tree->GetIFD(0), nullptr);
  }
}

TEST(TiffTagTree, AHeaderWithAnUnreadableIFD0StillLoads) {
  std::vector<std::uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0, 5};
  bool ok = false;
  auto tree = LoadBytes(bytes, 0, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(tree->IFDCount(), 1u);
  EXPECT_EQ(tree->GetIFD(0)->EntryCount(), 0u);
}

TEST(TiffTagTree, EntriesOfTypesOutsideTheTableAreSkipped) {
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({b.Short(0x0112, 3), {0x0110, 14, 1, {1, 0, 0, 0}}, b.Short(0x0128, 2)}));
  auto tree = LoadBytes(b.Bytes());
  EXPECT_EQ(tree->GetIFD(0)->EntryCount(), 2u);
  EXPECT_FALSE(tree->GetIFD(0)->Has(0x0110));
  EXPECT_FALSE(tree->IsComplete());
}

TEST(TiffTagTree, AnIFDTypeEntryOfAnotherTagIsHeldAsLong) {
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({{0x1234, 13, 1, b.Longs({77})}}));
  auto tree = LoadBytes(b.Bytes());
  EXPECT_EQ(tree->GetIFD(0)->Find(0x1234)->GetType(), kTiffTypeLong);
  EXPECT_EQ(tree->GetIFD(0)->FindLong(0x1234), 77u);
}

// --- maker notes -----------------------------------------------------------

namespace {

std::vector<std::uint8_t> MakerNoteTiff(std::string_view make, const std::vector<std::uint8_t>& header) {
  TiffBuilder b(false);
  const std::uint32_t sub = b.AddDirectory({b.Long(0x0088, 4096), b.Long(0x0089, 100)});
  // The note: its header, then its directory right after it.
  const std::uint32_t headerAt = b.AppendRaw(header);
  const std::uint32_t noteDir = b.AddDirectory({b.Short(0x0001, 5), b.Long(0xB028, sub), b.Long(0x2001, 9)});
  EXPECT_EQ(noteDir, headerAt + header.size());
  const auto noteLength = static_cast<std::uint32_t>(b.Bytes().size() - headerAt);
  const std::uint32_t exif = b.AddDirectory({{0x927C, 7, noteLength, {0, 0, 0, 0}}, b.Short(0xA001, 1)});
  b.PatchValue(exif, 0, headerAt);
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, make), b.Long(0x8769, exif)}));
  return b.Bytes();
}

const std::vector<std::uint8_t> kDscHeader = {'A', 'R', 'D', 'O', ' ', 'D', 'S', 'C', ' ', 0, 0, 0};
const std::vector<std::uint8_t> kDscV2Header = {'A', 'R', 'D', 'O', ' ', 'D', 'S', 'C', ' ', 0, 2, 0};
const std::vector<std::uint8_t> kShortHeader = {'Q', 'U', 'A', 'V', 'I', 0, 1, 0};
const std::vector<std::uint8_t> kPiHeader = {'A', 'R', 'D', 'O', ' ', 'P', 'I', ' ', 0, 0, 0, 0};

}  // namespace

TEST(TiffMakerNote, TheSuitesMakerNoteIsParsedAsADirectoryAfterItsHeader) {
  auto tree = LoadBytes(MakerNoteTiff("Ardo", kDscHeader));
  XpTiffTagIFD* note = tree->GetMakerNoteIFD();
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->IsMakerNote());
  EXPECT_FALSE(note->HasShortHeader());
  EXPECT_FALSE(note->HasPiHeader());
  EXPECT_EQ(note->FindShort(0x0001), 5);
  ASSERT_NE(tree->GetMakerSubIFD(), nullptr);
  EXPECT_EQ(tree->GetMakerSubIFD()->FindLong(0x0088), 4096u);
  // Deep searches from IFD0 do not enter the maker note.
  EXPECT_FALSE(tree->GetIFD(0)->Has(0x2001, true));
  EXPECT_TRUE(tree->GetIFD(0)->Has(0xA001, true));
}

TEST(TiffMakerNote, TheMakeIsComparedIgnoringCase) {
  for (std::string_view make : {"ARDO", "ardo Corp", "aRdO"}) {
    EXPECT_NE(LoadBytes(MakerNoteTiff(make, kDscHeader))->GetMakerNoteIFD(), nullptr) << make;
  }
  EXPECT_EQ(LoadBytes(MakerNoteTiff("Ard", kDscHeader))->GetMakerNoteIFD(), nullptr);
  EXPECT_EQ(LoadBytes(MakerNoteTiff("Other", kDscHeader))->GetMakerNoteIFD(), nullptr);
}

TEST(TiffMakerNote, ShortAndPiHeadersAreRecognisedAndRemembered) {
  auto shortTree = LoadBytes(MakerNoteTiff("ARDO", kShortHeader));
  ASSERT_NE(shortTree->GetMakerNoteIFD(), nullptr);
  EXPECT_TRUE(shortTree->GetMakerNoteIFD()->HasShortHeader());
  EXPECT_EQ(shortTree->GetMakerNoteIFD()->FindShort(0x0001), 5);
  auto piTree = LoadBytes(MakerNoteTiff("ARDO", kPiHeader));
  ASSERT_NE(piTree->GetMakerNoteIFD(), nullptr);
  EXPECT_TRUE(piTree->GetMakerNoteIFD()->HasPiHeader());
  EXPECT_EQ(piTree->GetMakerNoteIFD()->FindShort(0x0001), 5);
}

TEST(TiffMakerNote, TheSecondDscVersionStaysRaw) {
  auto tree = LoadBytes(MakerNoteTiff("ARDO", kDscV2Header));
  EXPECT_EQ(tree->GetMakerNoteIFD(), nullptr);
  const XpTiffTagDataBase* raw = tree->GetExifIFD()->Find(0x927C);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(raw->GetType(), kTiffTypeUndefined);
}

TEST(TiffMakerNote, ModeOneLeavesEveryMakerNoteRaw) {
  auto tree = LoadBytes(MakerNoteTiff("ARDO", kDscHeader), XpTiffTagManager::kReadModeRawMakerNote);
  EXPECT_EQ(tree->GetMakerNoteIFD(), nullptr);
  EXPECT_EQ(tree->GetExifIFD()->Find(0x927C)->GetType(), kTiffTypeUndefined);
}

TEST(TiffMakerNote, ModeTwoParsesAnyMakerNoteAtItsOffset) {
  // A header-less note of another maker: its directory starts at the offset.
  auto tree = LoadBytes(MakerNoteTiff("Other", {}), XpTiffTagManager::kReadModeMakerNoteIFD);
  ASSERT_NE(tree->GetMakerNoteIFD(), nullptr);
  EXPECT_EQ(tree->GetMakerNoteIFD()->FindShort(0x0001), 5);
  EXPECT_FALSE(tree->GetMakerNoteIFD()->HasPiHeader());
}

TEST(TiffMakerNote, AnEmptyMakerNoteIsNotKept) {
  TiffBuilder b(false);
  const std::uint32_t exif = b.AddDirectory({{0x927C, 7, 0, {}}, b.Short(0xA001, 1)});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "ARDO"), b.Long(0x8769, exif)}));
  auto tree = LoadBytes(b.Bytes());
  EXPECT_FALSE(tree->GetExifIFD()->Has(0x927C));
  EXPECT_EQ(tree->GetExifIFD()->FindShort(0xA001), 1);
}

TEST(TiffMakerNote, AMakerNoteThatFailsToParseIsKeptWithWhatWasRead) {
  TiffBuilder b(false);
  const std::uint32_t exif = b.AddDirectory({{0x927C, 7, 26, {0, 0, 0, 0}}});
  b.SetIFD0(b.AddDirectory({b.Text(0x010F, "ARDO"), b.Long(0x8769, exif)}));
  // The note ends the data: its directory claims three entries and holds one.
  const std::uint32_t headerAt = b.AppendRaw(kDscHeader);
  b.AppendRaw({3, 0, 1, 0, 3, 0, 1, 0, 0, 0, 5, 0, 0, 0});
  b.PatchValue(exif, 0, headerAt);
  auto tree = LoadBytes(b.Bytes());
  ASSERT_NE(tree->GetMakerNoteIFD(), nullptr);
  EXPECT_EQ(tree->GetMakerNoteIFD()->FindShort(0x0001), 5);
}

// --- editing and copying ---------------------------------------------------

TEST(TiffTagIFD, AddEntryReplacesAnEntryOfTheSameTagInPlace) {
  XpTiffTagIFD ifd;
  ifd.AddEntry(XpCreateTiffTagData(0x0100, kTiffTypeShort, 1));
  ifd.AddEntry(XpCreateTiffTagData(0x0112, kTiffTypeShort, 1));
  ifd.AddEntry(XpCreateTiffTagData(0x0100, kTiffTypeLong, 1));
  ASSERT_EQ(ifd.EntryCount(), 2u);
  EXPECT_EQ(ifd.GetEntry(0)->GetTag(), 0x0100);
  EXPECT_EQ(ifd.GetEntry(0)->GetType(), kTiffTypeLong);
  EXPECT_TRUE(ifd.RemoveEntry(0));
  EXPECT_FALSE(ifd.RemoveEntry(5));
  EXPECT_EQ(ifd.GetEntry(0)->GetTag(), 0x0112);
  EXPECT_EQ(ifd.GetEntry(1), nullptr);
  EXPECT_EQ(ifd.AddEntry(nullptr), nullptr);
}

TEST(TiffTagIFD, FactoriesRefuseUnknownTypesAndOverflowingSizes) {
  EXPECT_EQ(XpCreateTiffTagData(1, 0, 1), nullptr);
  EXPECT_EQ(XpCreateTiffTagData(1, 13, 1), nullptr);
  EXPECT_EQ(XpCreateTiffTagData(1, kTiffTypeDouble, 0x20000000u), nullptr);
  const std::uint8_t three[3] = {1, 2, 3};
  EXPECT_EQ(XpCreateTiffTagData(1, kTiffTypeShort, three), nullptr);
  auto bytes = XpCreateTiffTagData(1, kTiffTypeByte, three);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes->GetCount(), 3u);
}

TEST(TiffTagTree, CloneIsDeepAndKeepsTheByteOrder) {
  auto tree = LoadBytes(MakerNoteTiff("ARDO", kPiHeader));
  tree->SetBigEndian(true);
  auto copy = tree->Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->IsBigEndian());
  EXPECT_EQ(copy->Dump(), tree->Dump());
  ASSERT_NE(copy->GetMakerNoteIFD(), nullptr);
  EXPECT_TRUE(copy->GetMakerNoteIFD()->HasPiHeader());
  EXPECT_NE(copy->GetMakerNoteIFD(), tree->GetMakerNoteIFD());
  tree->GetIFD(0)->RemoveTag(0x010F);
  EXPECT_EQ(copy->GetIFD(0)->FindAscii(0x010F), "ARDO");
}

TEST(TiffTagTree, CreateAndClearGiveAndTakeTheRoot) {
  XpTiffTagManager tree;
  EXPECT_EQ(tree.GetRoot(), nullptr);
  EXPECT_TRUE(tree.Create());
  EXPECT_NE(tree.GetRoot(), nullptr);
  EXPECT_FALSE(tree.HasIFD());
  ASSERT_NE(tree.AddIFD(), nullptr);
  EXPECT_TRUE(tree.HasIFD());
  EXPECT_EQ(tree.GetExifIFD(), nullptr);
  tree.Clear();
  EXPECT_EQ(tree.IFDCount(), 0u);
}

TEST(TiffTagData, DumpWritesTagCountTypeAndValues) {
  TiffBuilder b(false);
  b.SetIFD0(b.AddDirectory({{0x0213, 3, 2, b.Shorts({1, 2})},
                            {0x011A, 5, 1, b.Rationals({{72, 1}})},
                            {0x9201, 10, 1, b.Rationals({{0xFFFFFFFFu, 3}})},
                            b.Text(0x010F, "Make")}));
  auto tree = LoadBytes(b.Bytes());
  const XpTiffTagIFD* ifd0 = tree->GetIFD(0);
  EXPECT_EQ(ifd0->Find(0x0213)->Dump(), "  531(0x0213) x   2 (3) = 1, 2");
  EXPECT_EQ(ifd0->Find(0x011A)->Dump(), "  282(0x011a) x   1 (5) = 72/1");
  EXPECT_EQ(ifd0->Find(0x9201)->Dump(), "37377(0x9201) x   1 (10) = -1/3");
  EXPECT_EQ(ifd0->Find(0x010F)->Dump(), "  271(0x010f) x   5 (2) = Make");
  EXPECT_NE(tree->Dump().find("IFD0:"), std::string::npos);
}

TEST(TiffTagTree, ASecondPointerEntryOfTheSameTagReplacesTheFirstBeforeChildrenAreRead) {
  // Found by fuzzing: the first Exif pointer was destroyed by the second one of
  // the same tag while its children were still waiting to be parsed.
  TiffBuilder b(false);
  const std::uint32_t first = b.AddDirectory({b.Short(0x0100, 1)});
  const std::uint32_t second = b.AddDirectory({b.Short(0x0100, 2)});
  b.SetIFD0(b.AddDirectory({b.Long(0x8769, first), b.Short(0x0112, 1), b.Long(0x8769, second)}));
  auto tree = LoadBytes(b.Bytes());
  ASSERT_EQ(tree->GetIFD(0)->EntryCount(), 2u);
  ASSERT_NE(tree->GetExifIFD(), nullptr);
  EXPECT_EQ(tree->GetExifIFD()->FindShort(0x0100), 2);
}

TEST(TiffTagTree, AGpsPointerStoredAsSignedLongIsFollowed) {
  TiffBuilder b(true);
  const std::uint32_t gps = b.AddDirectory({{1, 2, 2, {'N', 0}}});
  b.SetIFD0(b.AddDirectory({{0x8825, 9, 1, b.Longs({gps})}}));
  auto tree = LoadBytes(b.Bytes());
  ASSERT_NE(tree->GetGPSIFD(), nullptr);
  EXPECT_EQ(tree->GetGPSIFD()->FindAscii(1), "N");
}
