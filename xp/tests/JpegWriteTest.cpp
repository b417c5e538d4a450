#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tests/JpegTestSupport.h"
#include "xp/tests/TestSupport.h"
#include "xp/tiff/XpTiffTagDataIFD.h"

namespace {

const XpDateTime kFixedTime(2024, 5, 17, 9, 8, 7);

XpPixmapBGR24 Gradient(int w, int h) {
  XpPixmapBGR24 p;
  EXPECT_EQ(p.Create(w, h), XpStatus::Ok);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* px = p.Row(y) + static_cast<std::size_t>(x) * 3;
      px[0] = static_cast<std::uint8_t>(x * 255 / w);
      px[1] = static_cast<std::uint8_t>(y * 255 / h);
      px[2] = 128;
    }
  }
  return p;
}

std::unique_ptr<XpImageIoJpeg> MakeWriter(int quality = 70) {
  auto io = std::make_unique<XpImageIoJpeg>(quality, "Pictavo - Terravue");
  io->SetFixedTime(kFixedTime);
  return io;
}

struct Written {
  XpStatus status = XpStatus::Ok;
  std::vector<std::uint8_t> bytes;
  TagTreePtr tree;
};

Written WriteAndReadBack(XpImageIoJpeg& io, const XpPixmapBGR24& pixmap, const XpTiffTagManager* tree,
                         XpImageIoJpeg::Rect rect = XpImageIoJpeg::Rect{}, bool adobeRgb = false) {
  Written result;
  XpMemoryFile out;
  result.status = io.Write(pixmap, tree, out, nullptr, rect, adobeRgb);
  result.bytes = out.TakeBytes();
  if (result.status == XpStatus::Ok) {
    XpMemoryFile in{std::span<const std::uint8_t>(result.bytes)};
    (void)XpJpegExif::ReadTagTree(in, &result.tree, 0);
  }
  return result;
}

std::span<const std::uint8_t> ThumbnailBytes(const Written& w) {
  // The TIFF data starts after SOI, the APP1 marker and length, and "Exif" with two NULs.
  const XpTiffTagIFD* ifd1 = w.tree->GetIFD(1);
  const std::size_t base = 12;
  return std::span<const std::uint8_t>(w.bytes).subspan(base + ifd1->FindLong(0x0201), ifd1->FindLong(0x0202));
}

TEST(JpegWrite, BuildsTheExifBlockFromNothing) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const Written w = WriteAndReadBack(io, Gradient(400, 300), nullptr);
  ASSERT_EQ(w.status, XpStatus::Ok);
  ASSERT_NE(w.tree, nullptr);
  EXPECT_FALSE(w.tree->IsBigEndian());
  const XpTiffTagIFD* ifd0 = w.tree->GetIFD(0);
  ASSERT_NE(ifd0, nullptr);
  EXPECT_EQ(ifd0->FindAscii(0x010E), std::string(31, ' '));
  EXPECT_EQ(ifd0->FindAscii(0x010F), "ARDO");
  EXPECT_EQ(ifd0->FindAscii(0x0110), "Pictavo - Terravue");
  EXPECT_EQ(ifd0->FindAscii(0x0131), "Pictavo - Terravue");
  EXPECT_EQ(ifd0->FindAscii(0x0132), "2024:05:17 09:08:07");
  EXPECT_EQ(ifd0->FindShort(0x0112), 1);
  EXPECT_EQ(ifd0->FindRational(0x011A), 72.0);
  EXPECT_EQ(ifd0->FindShort(0x0128), 2);
  EXPECT_EQ(ifd0->FindShort(0x0213), 2);
  EXPECT_FALSE(ifd0->Has(0x013E));
  const XpTiffTagIFD* exif = w.tree->GetExifIFD();
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->FindShort(0xA001), 1);
  EXPECT_EQ(exif->FindLong(0xA002), 400U);
  EXPECT_EQ(exif->FindLong(0xA003), 300U);
  EXPECT_EQ(exif->FindAscii(0x9003), "2024:05:17 09:08:07");
  EXPECT_EQ(exif->FindAscii(0x9004), "2024:05:17 09:08:07");
  EXPECT_EQ(exif->FindUndefined(0x9000, false, 2), '2');
  EXPECT_EQ(exif->FindUndefined(0x9101, false, 2), 3);
  const auto* interopEntry = dynamic_cast<const XpTiffTagDataIFD*>(exif->Find(0xA005));
  ASSERT_NE(interopEntry, nullptr);
  EXPECT_EQ(interopEntry->GetChild(0)->FindAscii(0x0001), "R98");
  EXPECT_EQ(interopEntry->GetChild(0)->FindUndefined(0x0002, false, 1), '1');

  const XpTiffTagIFD* ifd1 = w.tree->GetIFD(1);
  ASSERT_NE(ifd1, nullptr);
  EXPECT_EQ(ifd1->FindShort(0x0103), 6);
  const auto thumb = ThumbnailBytes(w);
  ASSERT_GT(thumb.size(), 100U);
  EXPECT_EQ(thumb[0], 0xFF);
  EXPECT_EQ(thumb[1], 0xD8);
  XpImageIoJpeg reader;
  XpMemoryFile thumbFile(thumb);
  const auto decoded = reader.Read(thumbFile, 0, 1, nullptr, false);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->Width(), 160);
  EXPECT_EQ(decoded->Height(), 120);
}

TEST(JpegWrite, EncodesTheImageAtTheWritersQuality) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const XpPixmapBGR24 source = Gradient(64, 40);
  const Written w = WriteAndReadBack(io, source, nullptr);
  ASSERT_EQ(w.status, XpStatus::Ok);
  XpMemoryFile in{std::span<const std::uint8_t>(w.bytes)};
  XpImageIoJpeg reader;
  const auto back = reader.Read(in, 0, 1, nullptr, false);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->Width(), 64);
  ASSERT_EQ(back->Height(), 40);
  for (int y = 0; y < 40; y += 7) {
    for (int x = 0; x < 64; x += 9) {
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(back->Row(y)[x * 3 + c], source.Row(y)[x * 3 + c], 12);
      }
    }
  }
  // No JFIF or Adobe marker: SOI is followed by the Exif APP1.
  EXPECT_EQ(w.bytes[2], 0xFF);
  EXPECT_EQ(w.bytes[3], 0xE1);
}

TEST(JpegWrite, TreatsQualityOutsideTheRangeAsEighty) {
  const XpPixmapBGR24 source = Gradient(50, 50);
  auto zeroPtr = MakeWriter(0);
  XpImageIoJpeg& zero = *zeroPtr;
  auto eightyPtr = MakeWriter(80);
  XpImageIoJpeg& eighty = *eightyPtr;
  auto seventyPtr = MakeWriter(70);
  XpImageIoJpeg& seventy = *seventyPtr;
  const auto a = WriteAndReadBack(zero, source, nullptr).bytes;
  const auto b = WriteAndReadBack(eighty, source, nullptr).bytes;
  const auto c = WriteAndReadBack(seventy, source, nullptr).bytes;
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

// A source tree such as a camera writes, with an IFD1 strip thumbnail, a
// maker note of the suite's own cameras with preview entries, and an IFD2.
std::unique_ptr<XpTiffTagManager> CameraTree() {
  auto tree = std::make_unique<XpTiffTagManager>();
  tree->Create();
  tree->SetBigEndian(true);
  XpTiffTagIFD* ifd0 = tree->AddIFD();
  EXPECT_EQ(ifd0->SetAscii(0x010F, "ARDO CORPORATION"), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetAscii(0x0110, "DSC-1"), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetLong(0x0100, 4000), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetShort(0x0112, 6), XpStatus::Ok);
  EXPECT_EQ(ifd0->SetRational(0x013E, 1, 2), XpStatus::Ok);
  auto exifEntry = XpCreateTiffTagDataIFD(0x8769, 1);
  XpTiffTagIFD* exif = exifEntry->AddChild(std::make_unique<XpTiffTagIFD>());
  EXPECT_EQ(exif->SetAscii(0x9003, "2001:02:03 04:05:06"), XpStatus::Ok);
  const std::uint8_t v0230[4] = {'0', '2', '3', '0'};
  EXPECT_EQ(exif->SetUndefined(0x9000, v0230), XpStatus::Ok);
  EXPECT_EQ(exif->SetShort(0xA300, 3), XpStatus::Ok);
  auto makerEntry = XpCreateTiffTagDataIFD(0x927C, 1);
  auto makerNote = std::make_unique<XpTiffTagIFD>();
  makerNote->SetMakerNote(true);
  EXPECT_EQ(makerNote->SetLong(0x0001, 77), XpStatus::Ok);
  EXPECT_EQ(makerNote->SetLong(0x0088, 5000), XpStatus::Ok);
  EXPECT_EQ(makerNote->SetLong(0x0089, 100), XpStatus::Ok);
  EXPECT_EQ(makerNote->SetShort(0x2001, 1), XpStatus::Ok);
  makerEntry->AddChild(std::move(makerNote));
  exif->AddEntry(std::move(makerEntry));
  ifd0->AddEntry(std::move(exifEntry));
  auto gpsEntry = XpCreateTiffTagDataIFD(0x8825, 1);
  XpTiffTagIFD* gps = gpsEntry->AddChild(std::make_unique<XpTiffTagIFD>());
  EXPECT_EQ(gps->SetAscii(0x0001, "N"), XpStatus::Ok);
  ifd0->AddEntry(std::move(gpsEntry));
  XpTiffTagIFD* ifd1 = tree->AddIFD();
  EXPECT_EQ(ifd1->SetAscii(0x010F, "ARDO CORPORATION"), XpStatus::Ok);
  EXPECT_EQ(ifd1->SetLong(0x0111, 1234), XpStatus::Ok);
  EXPECT_EQ(ifd1->SetLong(0x0100, 320), XpStatus::Ok);
  XpTiffTagIFD* ifd2 = tree->AddIFD();
  EXPECT_EQ(ifd2->SetShort(0x0103, 1), XpStatus::Ok);
  return tree;
}

TEST(JpegWrite, CarriesTheSourceTreeWithoutWhatDescribedTheSourceImage) {
  const auto source = CameraTree();
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const Written w = WriteAndReadBack(io, Gradient(300, 200), source.get());
  ASSERT_EQ(w.status, XpStatus::Ok);
  ASSERT_NE(w.tree, nullptr);
  EXPECT_TRUE(w.tree->IsBigEndian());
  EXPECT_EQ(w.tree->IFDCount(), 2U);
  const XpTiffTagIFD* ifd0 = w.tree->GetIFD(0);
  EXPECT_EQ(ifd0->FindAscii(0x010F), "ARDO CORPORATION");
  EXPECT_EQ(ifd0->FindAscii(0x0110), "DSC-1");
  EXPECT_EQ(ifd0->FindShort(0x0112), 1);
  EXPECT_FALSE(ifd0->Has(0x0100));
  EXPECT_FALSE(ifd0->Has(0x013E));
  const XpTiffTagIFD* exif = w.tree->GetExifIFD();
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->FindAscii(0x9003), "2001:02:03 04:05:06");
  EXPECT_EQ(exif->FindUndefined(0x9000, false, 2), '3');  // "0230" is kept
  EXPECT_FALSE(exif->Has(0xA300));
  ASSERT_NE(w.tree->GetGPSIFD(), nullptr);
  EXPECT_EQ(w.tree->GetGPSIFD()->FindAscii(0x0001), "N");
  const XpTiffTagIFD* maker = w.tree->GetMakerNoteIFD();
  ASSERT_NE(maker, nullptr);
  EXPECT_EQ(maker->FindLong(0x0001), 77U);
  EXPECT_FALSE(maker->Has(0x0088));
  EXPECT_FALSE(maker->Has(0x0089));
  EXPECT_FALSE(maker->Has(0x2001));
  const XpTiffTagIFD* ifd1 = w.tree->GetIFD(1);
  EXPECT_FALSE(ifd1->Has(0x010F));
  EXPECT_FALSE(ifd1->Has(0x0111));
  EXPECT_FALSE(ifd1->Has(0x0100));
  EXPECT_EQ(ifd1->FindShort(0x0103), 6);
  const auto thumb = ThumbnailBytes(w);
  XpMemoryFile thumbFile(thumb);
  XpImageIoJpeg reader;
  const auto decoded = reader.Read(thumbFile, 0, 1, nullptr, false);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->Width(), 160);
  // The caller's tree is untouched.
  EXPECT_EQ(source->IFDCount(), 3U);
  EXPECT_TRUE(source->GetMakerNoteIFD()->Has(0x0088));
}

TEST(JpegWrite, MarksAdobeRgbAndConvertsThePixels) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const XpPixmapBGR24 source = Gradient(80, 60);
  const Written w = WriteAndReadBack(io, source, nullptr, XpImageIoJpeg::Rect{}, /*adobeRgb=*/true);
  ASSERT_EQ(w.status, XpStatus::Ok);
  const XpTiffTagIFD* ifd0 = w.tree->GetIFD(0);
  EXPECT_EQ(ifd0->Find(0x013E)->GetCount(), 2U);
  EXPECT_EQ(ifd0->Find(0x013F)->GetCount(), 6U);
  EXPECT_NEAR(ifd0->FindRational(0x0211, false, 1), 0.587, 1e-9);
  const XpTiffTagIFD* exif = w.tree->GetExifIFD();
  EXPECT_EQ(exif->FindShort(0xA001), 0xFFFF);
  EXPECT_NEAR(exif->FindRational(0xA500), 2.2, 1e-9);
  const auto* interop = dynamic_cast<const XpTiffTagDataIFD*>(exif->Find(0xA005))->GetChild(0);
  EXPECT_EQ(interop->FindAscii(0x0001), "R03");
  EXPECT_TRUE(w.tree->IsUncalibrated());
  // Reading with conversion gives back roughly the sRGB source.
  XpMemoryFile in{std::span<const std::uint8_t>(w.bytes)};
  XpImageIoJpeg reader;
  const auto back = reader.Read(in, 0, 1, nullptr, true);
  ASSERT_NE(back, nullptr);
  EXPECT_NEAR(back->Row(30)[40 * 3 + 1], source.Row(30)[40 * 3 + 1], 14);
}

TEST(JpegWrite, WritesOnlyTheRectangle) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const Written w = WriteAndReadBack(io, Gradient(100, 80), nullptr, XpImageIoJpeg::Rect{-5, 10, 60, 500});
  ASSERT_EQ(w.status, XpStatus::Ok);
  EXPECT_EQ(w.tree->GetExifIFD()->FindLong(0xA002), 60U);
  EXPECT_EQ(w.tree->GetExifIFD()->FindLong(0xA003), 70U);
}

TEST(JpegWrite, RefusesAnEmptyRectangleAndAMissingName) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  XpMemoryFile out;
  EXPECT_EQ(io.Write(Gradient(10, 10), nullptr, out, nullptr, XpImageIoJpeg::Rect{5, 0, 5, 10}),
            XpStatus::BadReduction);
  EXPECT_EQ(io.Write(Gradient(10, 10), nullptr, out, nullptr, XpImageIoJpeg::Rect{20, 0, 30, 10}),
            XpStatus::BadReduction);
  XpImageIoJpeg unnamed;
  EXPECT_EQ(unnamed.Write(Gradient(10, 10), nullptr, out), XpStatus::NoWriterName);
  EXPECT_EQ(unnamed.GetStatus(), XpStatus::NoWriterName);
  EXPECT_EQ(out.GetLength(), 0);
}

TEST(JpegWrite, LeavesOutAnExifBlockTooLongForOneSegment) {
  auto tree = std::make_unique<XpTiffTagManager>();
  tree->Create();
  XpTiffTagIFD* ifd0 = tree->AddIFD();
  const std::vector<std::uint8_t> big(70000, 0x42);
  ASSERT_EQ(ifd0->SetUndefined(0xC4A5, big), XpStatus::Ok);
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const Written w = WriteAndReadBack(io, Gradient(40, 30), tree.get());
  ASSERT_EQ(w.status, XpStatus::Ok);
  EXPECT_EQ(w.tree, nullptr);
  EXPECT_NE(w.bytes[3], 0xE1);
  XpMemoryFile in{std::span<const std::uint8_t>(w.bytes)};
  XpImageIoJpeg reader;
  EXPECT_NE(reader.Read(in, 0, 1, nullptr, false), nullptr);
}

// The Exif block of a write with `filler` bytes of UNDEFINED data in IFD0.
std::unique_ptr<XpTiffTagManager> TreeWithFiller(std::size_t filler) {
  auto tree = std::make_unique<XpTiffTagManager>();
  tree->Create();
  XpTiffTagIFD* ifd0 = tree->AddIFD();
  EXPECT_EQ(ifd0->SetUndefined(0xC4A5, std::vector<std::uint8_t>(filler, 1)), XpStatus::Ok);
  return tree;
}

std::int64_t BlockLength(XpImageIoJpeg& io, const XpPixmapBGR24& pixmap, std::size_t filler) {
  auto work = TreeWithFiller(filler);
  XpMemoryFile block;
  EXPECT_EQ(io.BuildExifBlock(pixmap, *work, false, false, nullptr, block), XpStatus::Ok);
  return block.GetLength();
}

TEST(JpegWrite, WritesBlocksUpToTheSegmentLimitAndLeavesOutLongerOnes) {
  // libjpeg carries at most 65533 payload bytes in one segment (65535 minus
  // the length field); a block of 65534 or 65535 bytes is left out, not failed.
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const XpPixmapBGR24 pixmap = Gradient(40, 30);
  const std::int64_t base = BlockLength(io, pixmap, 60000);
  const std::size_t filler = (60000 + static_cast<std::size_t>(65533 - base)) & ~std::size_t{1};
  const std::int64_t fits = BlockLength(io, pixmap, filler);
  ASSERT_GE(fits, 65532);
  ASSERT_LE(fits, 65533);
  const Written in = WriteAndReadBack(io, pixmap, TreeWithFiller(filler).get());
  ASSERT_EQ(in.status, XpStatus::Ok);
  EXPECT_NE(in.tree, nullptr);

  const std::int64_t over = BlockLength(io, pixmap, filler + 2);
  ASSERT_GE(over, 65534);
  ASSERT_LE(over, 65535);
  const Written out = WriteAndReadBack(io, pixmap, TreeWithFiller(filler + 2).get());
  ASSERT_EQ(out.status, XpStatus::Ok);
  EXPECT_EQ(out.tree, nullptr);
}

class RecordingProgress final : public XpImageProgress {
 public:
  explicit RecordingProgress(int cancelAt = 1000) : m_cancelAt(cancelAt) {}
  int OnProgress(int percent) override {
    calls.push_back(percent);
    return percent >= m_cancelAt ? 1 : 0;
  }
  std::vector<int> calls;

 private:
  int m_cancelAt;
};

TEST(JpegWrite, ReportsProgressInStepsAboveFourPercent) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  RecordingProgress progress;
  XpMemoryFile out;
  ASSERT_EQ(io.Write(Gradient(20, 100), nullptr, out, &progress), XpStatus::Ok);
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.front(), 5);
  for (std::size_t i = 1; i < progress.calls.size(); ++i) {
    EXPECT_EQ(progress.calls[i] - progress.calls[i - 1], 5);
  }
  RecordingProgress cancel(50);
  XpMemoryFile out2;
  EXPECT_EQ(io.Write(Gradient(20, 100), nullptr, out2, &cancel), XpStatus::Cancelled);
  EXPECT_EQ(cancel.calls.back(), 50);
}

class FullDisk final : public XpAbstractFile {
 public:
  std::string GetDisplayName() const override { return "full"; }
  std::int64_t GetLength() override { return 0; }
  XpStatus Open(unsigned /*flags*/) override { return XpStatus::Ok; }
  XpStatus Close() override { return XpStatus::Ok; }
  XpStatus Read(void* /*buffer*/, std::uint64_t /*count*/, std::uint64_t* /*got*/) override {
    return XpStatus::EndOfFile;
  }
  XpStatus Write(const void* /*buffer*/, std::uint64_t /*count*/, std::uint64_t* written) override {
    if (written != nullptr) {
      *written = 0;
    }
    return XpStatus::DiskFull;
  }
  XpStatus Seek(std::int64_t /*offset*/, int /*origin*/) override { return XpStatus::Ok; }
  std::int64_t GetPosition() const override { return 0; }
  XpStatus SetLength(std::uint64_t /*length*/) override { return XpStatus::Ok; }
};

TEST(JpegWrite, AnswersTheStreamStatusWhenWritingFails) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  FullDisk disk;
  EXPECT_EQ(io.Write(Gradient(30, 30), nullptr, disk), XpStatus::DiskFull);
}

TEST(JpegThumbnail, CutsTheBlackBarsOfTheWrittenThumbnail) {
  auto ioPtr = MakeWriter();
  XpImageIoJpeg& io = *ioPtr;
  const Written w = WriteAndReadBack(io, Gradient(400, 200), nullptr);
  ASSERT_EQ(w.status, XpStatus::Ok);
  XpMemoryFile in{std::span<const std::uint8_t>(w.bytes)};
  XpImageIoJpeg reader;
  const auto thumb = reader.ReadThumbnail(in, 0);
  ASSERT_NE(thumb, nullptr) << XpStatusText(reader.GetStatus());
  EXPECT_EQ(thumb->Width(), 160);
  EXPECT_EQ(thumb->Height(), 80);
  // No black bar is left at the top.
  EXPECT_GT(thumb->Row(0)[2], 60);
}

TEST(JpegThumbnail, PrefersThePhotoshopResource) {
  // A Photoshop APP13 with a 0x040C resource holding a 24 x 16 JPEG.
  jpegtest::JpegSpec small;
  small.width = 24;
  small.height = 16;
  const auto jpeg = jpegtest::MakeJpeg(small);
  std::vector<std::uint8_t> app13 = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
  // A first resource of another id with an odd-length name and odd size.
  const std::vector<std::uint8_t> other = {'8', 'B', 'I', 'M', 0x04, 0x04, 1, 'x', 0, 0, 0, 3, 9, 9, 9, 0};
  app13.insert(app13.end(), other.begin(), other.end());
  const std::uint32_t size = static_cast<std::uint32_t>(28 + jpeg.size());
  const std::vector<std::uint8_t> head = {'8',
                                          'B',
                                          'I',
                                          'M',
                                          0x04,
                                          0x0C,
                                          0,
                                          0,
                                          static_cast<std::uint8_t>(size >> 24),
                                          static_cast<std::uint8_t>(size >> 16),
                                          static_cast<std::uint8_t>(size >> 8),
                                          static_cast<std::uint8_t>(size)};
  app13.insert(app13.end(), head.begin(), head.end());
  std::vector<std::uint8_t> info(28, 0);
  info[3] = 1;  // format 1: JPEG
  app13.insert(app13.end(), info.begin(), info.end());
  app13.insert(app13.end(), jpeg.begin(), jpeg.end());

  jpegtest::JpegSpec main;
  main.width = 200;
  main.height = 100;
  main.markers.push_back({0xE1, jpegtest::ExifWithOrientation(3)});
  main.markers.push_back({0xED, app13});
  const auto bytes = jpegtest::MakeJpeg(main);
  XpMemoryFile in{std::span<const std::uint8_t>(bytes)};
  XpImageIoJpeg reader;
  const auto thumb = reader.ReadThumbnail(in, 0);
  ASSERT_NE(thumb, nullptr) << XpStatusText(reader.GetStatus());
  EXPECT_EQ(thumb->Width(), 24);
  EXPECT_EQ(thumb->Height(), 16);
  EXPECT_EQ(reader.GetOrientation(), 3);
}

TEST(JpegThumbnail, ReportsAPictureWithoutOne) {
  jpegtest::JpegSpec plain;
  plain.markers.push_back({0xE1, jpegtest::ExifWithOrientation(1)});
  const auto bytes = jpegtest::MakeJpeg(plain);
  XpMemoryFile in{std::span<const std::uint8_t>(bytes)};
  XpImageIoJpeg reader;
  EXPECT_EQ(reader.ReadThumbnail(in, 0), nullptr);
  EXPECT_EQ(reader.GetStatus(), XpStatus::NoExif);
}

TEST(JpegThumbnail, ReadsTheThumbnailsOfRealFiles) {
  // Files whose IFD1 holds a JPEG thumbnail: each decodes or reports a status.
  int decoded = 0;
  for (const char* name : {"exifpy-Canon_40D.jpg", "mdx-Canon_EOS_1000D.jpg", "mdx-Nikon_D70.jpg",
                           "exiv2-exiv2-nikon-d70.jpg", "mdx-Apple_iPhone_5.jpg"}) {
    XpFile file(std::string(TV_TESTDATA_DIR) + "/camera/" + name);
    ASSERT_EQ(file.Open(XpAbstractFile::kRead), XpStatus::Ok);
    XpImageIoJpeg reader;
    const auto thumb = reader.ReadThumbnail(file, 0);
    if (thumb != nullptr) {
      ++decoded;
      EXPECT_GT(thumb->Width(), 0) << name;
      EXPECT_LE(thumb->Width(), 640) << name;
    } else {
      EXPECT_NE(reader.GetStatus(), XpStatus::Ok) << name;
    }
  }
  EXPECT_GE(decoded, 3);
}

// ---------------------------------------------------------------------------
// What an independent reader makes of a written file.

using TempFolder = testsupport::TempDir;

std::string Exiftool(const std::string& args) {
  const auto out = jpegtest::RunCommand("exiftool " + args + " 2>/dev/null");
  return out ? std::string(out->begin(), out->end()) : std::string();
}

TEST(JpegWriteExiftool, ReadsTheTagsAndThumbnailOfAWrittenCameraPicture) {
  if (Exiftool("-ver").empty()) {
    GTEST_SKIP() << "exiftool is not installed";
  }
  // A camera file with a maker note and an IFD1 thumbnail.
  const std::string source = std::string(TV_TESTDATA_DIR) + "/camera/exifpy-Canon_40D.jpg";
  XpFile in(source);
  ASSERT_EQ(in.Open(XpAbstractFile::kRead), XpStatus::Ok);
  XpImageIoJpeg io(70, "Pictavo - Terravue");
  const auto pixmap = io.Read(in, 0, 1, nullptr, true);
  ASSERT_NE(pixmap, nullptr);
  TagTreePtr tree;
  ASSERT_EQ(io.ReadTagTree(in, &tree, 0), XpStatus::Ok);

  TempFolder folder;
  const std::string target = folder.File("out.jpg");
  {
    XpFile out(target);
    ASSERT_EQ(out.Open(XpAbstractFile::kWrite), XpStatus::Ok);
    ASSERT_EQ(io.Write(*pixmap, tree.get(), out), XpStatus::Ok);
  }
  const std::string tags = Exiftool(
      "-s -s -s -f -Make -Software -ModifyDate -ColorSpace# -ExifImageWidth -ExifImageHeight "
      "-InteropIndex# -ThumbnailLength# -IFD1:Compression# '" +
      target + "'");
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < tags.size()) {
    const std::size_t end = tags.find('\n', from);
    lines.push_back(tags.substr(from, end - from));
    from = end == std::string::npos ? tags.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 9U) << tags;
  EXPECT_EQ(lines[0], "Canon");
  EXPECT_EQ(lines[1], "Pictavo - Terravue");
  EXPECT_EQ(lines[2].size(), 19U);  // "YYYY:MM:DD hh:mm:ss"
  EXPECT_EQ(lines[3], "1");
  EXPECT_EQ(lines[4], std::to_string(pixmap->Width()));
  EXPECT_EQ(lines[5], std::to_string(pixmap->Height()));
  EXPECT_EQ(lines[6], "R98");
  EXPECT_NE(lines[7], "-");
  EXPECT_EQ(lines[8], "6");
  // The thumbnail exiftool extracts is a 160 x 120 JPEG.
  const auto thumb = jpegtest::RunCommand("exiftool -b -ThumbnailImage '" + target + "' | djpeg -ppm");
  ASSERT_TRUE(thumb.has_value());
  const auto pnm = jpegtest::ParsePnm(*thumb);
  ASSERT_TRUE(pnm.has_value());
  EXPECT_EQ(pnm->width, 160);
  EXPECT_EQ(pnm->height, 120);
  // exiftool finds nothing wrong with the structure.
  EXPECT_EQ(Exiftool("-s -s -s -Warning -Error '" + target + "'"), "");
}

}  // namespace
