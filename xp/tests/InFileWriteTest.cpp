// Positions written into PNG, WebP and TIFF photos: the chunks and image
// bytes around the Exif data stay as they were, an independent reader finds
// the new position and every other tag unchanged, and every refusal leaves
// the photo byte-identical.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "xp/formats/XpInFileWrite.h"
#include "xp/formats/XpIsoBmff.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpExifEdit.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpXmpGps.h"
#include "xp/tests/ExiftoolSupport.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tests/TiffTestSupport.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::TempDir;
using tifftest::TiffBuilder;

const std::string kFormats = std::string(TV_TESTDATA_DIR) + "/formats/";

Bytes Sample(const std::string& name) { return rewrite_test::ReadBytes(kFormats + name); }

// N:35:37:32.828 / E:139:44:31.338 with altitude 12.5 m, as a move stores it.
XpGPSRecord NewPosition() {
  XpGPSRecord record = rewrite_test::PositionRecord(u'N', {35, 37, 32828}, u'E', {139, 44, 31338});
  record.version.valid = 1;
  record.version.bytes = {2, 3, 0, 0};
  record.altitudeRef.valid = 1;
  record.altitudeRef.letter = 0;
  record.altitude.valid = 1;
  record.altitude.numerator = 12500;
  record.altitude.denominator = 1000;
  return record;
}
constexpr double kNewLatitude = 35 + 37 / 60.0 + 32.828 / 3600;
constexpr double kNewLongitude = 139 + 44 / 60.0 + 31.338 / 3600;

const XpExifRewrite::Hooks& FixedDate() {
  static const XpExifRewrite::Hooks kHooks{.dateTime = "2024:06:01 12:34:56", .beforeCommit = {}};
  return kHooks;
}

XpStatus Move(const std::string& path) { return XpInFileWrite::WriteGPSWith(path, NewPosition(), FixedDate()); }

bool ReadsNewPosition(const std::string& path) {
  XpPhotoMetadata::Reading reading;
  if (XpPhotoMetadata::Read(path, &reading) != XpStatus::Ok || !reading.hasGpsDirectory) {
    return false;
  }
  return reading.gps.latitude.numerators == std::array<std::uint32_t, 3>{35, 37, 32828} &&
         reading.gps.longitude.numerators == std::array<std::uint32_t, 3>{139, 44, 31338} &&
         reading.gps.latitudeRef.letter == u'N' && reading.gps.longitudeRef.letter == u'E';
}

bool HasGpsDirectory(const std::string& path) {
  XpPhotoMetadata::Reading reading;
  return XpPhotoMetadata::Read(path, &reading) == XpStatus::Ok && reading.hasGpsDirectory;
}

std::uint32_t Be32(const Bytes& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return (std::uint32_t{b[at + 3]} << 24) | (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 1]} << 8) | b[at];
}

// ---------------------------------------------------------------------------
// The chunks of a PNG and a WebP file, walked here on their own

struct Chunk {
  std::string type;
  Bytes bytes;  ///< the whole chunk: length, type, data and check value (PNG) or padding (WebP)
  bool operator==(const Chunk&) const = default;
};

std::vector<Chunk> PngChunks(const Bytes& file) {
  std::vector<Chunk> out;
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    const std::size_t end = at + 12 + Be32(file, at);
    if (end > file.size()) {
      break;
    }
    out.push_back(
        {std::string(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                     file.begin() + static_cast<std::ptrdiff_t>(at + 8)),
         Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(end))});
    at = end;
  }
  return out;
}

std::vector<Chunk> WebpChunks(const Bytes& file) {
  std::vector<Chunk> out;
  std::size_t at = 12;
  while (at + 8 <= file.size()) {
    const std::uint32_t size = Le32(file, at + 4);
    const std::size_t end = at + 8 + size + (size & 1);
    if (end > file.size()) {
      break;
    }
    out.push_back(
        {std::string(file.begin() + static_cast<std::ptrdiff_t>(at),
                     file.begin() + static_cast<std::ptrdiff_t>(at + 4)),
         Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(end))});
    at = end;
  }
  return out;
}

std::vector<Chunk> Without(std::vector<Chunk> chunks, const std::set<std::string>& types) {
  chunks.erase(std::remove_if(chunks.begin(), chunks.end(), [&](const Chunk& c) { return types.count(c.type) != 0; }),
               chunks.end());
  return chunks;
}

std::size_t IndexOf(const std::vector<Chunk>& chunks, const std::string& type) {
  return static_cast<std::size_t>(
      std::find_if(chunks.begin(), chunks.end(), [&](const Chunk& c) { return c.type == type; }) - chunks.begin());
}

/// The XMP packet of a PNG's first iTXt "XML:com.adobe.xmp" chunk or of a
/// WebP's "XMP " chunk; empty when there is none.
Bytes XmpPacket(const std::vector<Chunk>& chunks) {
  constexpr std::string_view kKeyword("XML:com.adobe.xmp\0\0\0", 20);
  for (const Chunk& c : chunks) {
    if (c.type == "XMP ") {
      return Bytes(c.bytes.begin() + 8, c.bytes.begin() + 8 + Le32(c.bytes, 4));
    }
    if (c.type == "iTXt" && c.bytes.size() > 12 + kKeyword.size() &&
        std::equal(kKeyword.begin(), kKeyword.end(), c.bytes.begin() + 8)) {
      // Behind the keyword, the flags, and the empty language and translated keyword.
      auto at = c.bytes.begin() + 8 + static_cast<std::ptrdiff_t>(kKeyword.size());
      for (int text = 0; text < 2; ++text) {
        at = std::find(at, c.bytes.end() - 4, 0) + 1;
      }
      return Bytes(at, c.bytes.end() - 4);
    }
  }
  return {};
}

/// Whether an XMP packet names a position, and which.
std::optional<XpXmpGps::Position> XmpPosition(const Bytes& packet) {
  XpXmpGps::Position position;
  if (packet.empty() || XpXmpGps::ReadGps(packet, &position) != XpStatus::Ok) {
    return std::nullopt;
  }
  return position;
}

/// The standard CRC-32 of PNG chunks, computed bit by bit.
std::uint32_t Crc(const Bytes& bytes, std::size_t from, std::size_t to) {
  std::uint32_t c = 0xFFFFFFFFU;
  for (std::size_t i = from; i < to; ++i) {
    c ^= bytes[i];
    for (int k = 0; k < 8; ++k) {
      c = (c >> 1) ^ (0xEDB88320U & (0U - (c & 1)));
    }
  }
  return ~c;
}

// A lossless WebP bitstream of one pixel, written bit by bit: the header,
// no transform, no colour cache, no meta codes, and five simple codes of one
// symbol each, so that the pixel takes no bits at all.
Bytes Vp8lOnePixel(bool alpha) {
  std::vector<bool> bits;
  const auto put = [&](std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
      bits.push_back(((value >> i) & 1) != 0);
    }
  };
  put(0x2F, 8);
  put(0, 14);  // width - 1
  put(0, 14);  // height - 1
  put(alpha ? 1 : 0, 1);
  put(0, 3);  // version
  put(0, 1);  // no transform
  put(0, 1);  // no colour cache
  put(0, 1);  // no meta prefix codes
  for (int code = 0; code < 5; ++code) {
    put(1, 1);  // simple code
    put(0, 1);  // one symbol
    put(0, 1);  // of one bit
    put(0, 1);  // symbol 0
  }
  Bytes out((bits.size() + 7) / 8, 0);
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i]) {
      out[i / 8] = static_cast<std::uint8_t>(out[i / 8] | (1U << (i % 8)));
    }
  }
  return out;
}

Bytes RiffChunk(const std::string& type, const Bytes& payload) {
  Bytes out(type.begin(), type.end());
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<std::uint8_t>(payload.size() >> (8 * i)));
  }
  out.insert(out.end(), payload.begin(), payload.end());
  if (payload.size() & 1) {
    out.push_back(0);
  }
  return out;
}

Bytes Riff(const std::vector<Bytes>& chunks) {
  Bytes body = {'W', 'E', 'B', 'P'};
  for (const Bytes& c : chunks) {
    body.insert(body.end(), c.begin(), c.end());
  }
  Bytes out = {'R', 'I', 'F', 'F'};
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<std::uint8_t>(body.size() >> (8 * i)));
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A lossy key frame's header: frame tag, start code, 14-bit width and
// height (what a VP8X chunk takes its canvas from), then filler.
Bytes Vp8KeyFrame(std::uint16_t width, std::uint16_t height) {
  Bytes out = {0x50,
               0x02,
               0x00,
               0x9D,
               0x01,
               0x2A,
               static_cast<std::uint8_t>(width),
               static_cast<std::uint8_t>(width >> 8),
               static_cast<std::uint8_t>(height),
               static_cast<std::uint8_t>(height >> 8)};
  out.resize(31, 0);
  return out;
}

/// An XMP packet that held a position holds the new one after a write and
/// none after a removal; a packet without one stays as it was.
void ExpectXmpFollows(const std::vector<Chunk>& before, const std::vector<Chunk>& after, bool written) {
  const Bytes old = XmpPacket(before);
  const Bytes now = XmpPacket(after);
  if (!XmpPosition(old)) {
    EXPECT_EQ(now, old);
    return;
  }
  const auto position = XmpPosition(now);
  if (!written) {
    EXPECT_FALSE(position) << "the XMP packet keeps a position";
    return;
  }
  ASSERT_TRUE(position);
  EXPECT_NEAR(position->latitude, kNewLatitude, 1e-7);
  EXPECT_NEAR(position->longitude, kNewLongitude, 1e-7);
}

class InFileWrite : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const Bytes& bytes) {
    const std::string path = m_dir.File(name);
    rewrite_test::WriteBytes(path, bytes);
    return path;
  }
  TempDir m_dir;
};

// ---------------------------------------------------------------------------
// PNG

TEST_F(InFileWrite, PngGetsOneExifChunkBeforeItsImageDataAndKeepsEveryOtherChunk) {
  for (const char* name : {"exiv2-1343_comment.png", "exiv2-imagemagick.png", "crafted/png-exif.png",
                           "crafted/png-exif-late.png", "crafted/png-xmp-only.png"}) {
    SCOPED_TRACE(name);
    const Bytes original = Sample(name);
    const std::string path = Put("photo.png", original);
    ASSERT_EQ(Move(path), XpStatus::Ok);
    const Bytes written = rewrite_test::ReadBytes(path);
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.png"});
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 8, written.begin()));
    const std::vector<Chunk> before = PngChunks(original);
    const std::vector<Chunk> after = PngChunks(written);
    ASSERT_EQ(std::count_if(after.begin(), after.end(), [](const Chunk& c) { return c.type == "eXIf"; }), 1);
    const std::size_t exif = IndexOf(after, "eXIf");
    EXPECT_EQ(exif + 1, IndexOf(after, "IDAT"));
    const Chunk& chunk = after[exif];
    EXPECT_EQ(Be32(chunk.bytes, chunk.bytes.size() - 4), Crc(chunk.bytes, 4, chunk.bytes.size() - 4));
    EXPECT_EQ(Without(after, {"eXIf", "iTXt"}), Without(before, {"eXIf", "iTXt"}));
    EXPECT_TRUE(ReadsNewPosition(path));
    ExpectXmpFollows(before, after, true);

    ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    EXPECT_FALSE(HasGpsDirectory(path));
    const Bytes removed = rewrite_test::ReadBytes(path);
    EXPECT_EQ(Without(PngChunks(removed), {"eXIf", "iTXt"}), Without(before, {"eXIf", "iTXt"}));
    ExpectXmpFollows(before, PngChunks(removed), false);
    // A second removal finds nothing to do and leaves the file alone.
    ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    EXPECT_EQ(rewrite_test::ReadBytes(path), removed);
  }
}

TEST_F(InFileWrite, PngWithoutExifGetsABlockOfThePositionAlone) {
  const std::string path = Put("photo.png", Sample("exiv2-1343_comment.png"));
  ASSERT_EQ(Move(path), XpStatus::Ok);
  const std::vector<Chunk> after = PngChunks(rewrite_test::ReadBytes(path));
  const Bytes& chunk = after[IndexOf(after, "eXIf")].bytes;
  const std::span<const std::uint8_t> tiff(chunk.data() + 8, chunk.size() - 12);
  XpExifEdit::Layout layout;
  ASSERT_EQ(XpExifEdit::Walk(tiff, &layout), XpStatus::Ok);
  ASSERT_EQ(layout.directories.size(), 2U);
  EXPECT_EQ(layout.directories[0].path, "IFD0");
  ASSERT_EQ(layout.directories[0].entries.size(), 1U);
  EXPECT_EQ(layout.directories[0].entries[0].tag, 0x8825);
  EXPECT_EQ(layout.directories[1].path, "IFD0/8825");
  // A removal from a photo with no position at all leaves it byte-identical.
  const std::string other = Put("other.png", Sample("exiv2-1343_comment.png"));
  EXPECT_EQ(XpInFileWrite::RemoveGPS(other), XpStatus::Ok);
  EXPECT_EQ(rewrite_test::ReadBytes(other), Sample("exiv2-1343_comment.png"));
}

TEST_F(InFileWrite, APositionOnlyInXmpIsRemovedWithoutAddingExif) {
  for (const char* name : {"crafted/png-xmp-only.png"}) {
    SCOPED_TRACE(name);
    const Bytes original = Sample(name);
    const std::string path = Put("photo.png", original);
    XpGPSRecord record;
    ASSERT_EQ(XpPhotoMetadata::ReadGPS(path, record), XpStatus::Ok);
    ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    EXPECT_EQ(XpPhotoMetadata::ReadGPS(path, record), XpStatus::NoExif);
    const std::vector<Chunk> after = PngChunks(rewrite_test::ReadBytes(path));
    EXPECT_EQ(IndexOf(after, "eXIf"), after.size());
    EXPECT_EQ(Without(after, {"iTXt"}), Without(PngChunks(original), {"iTXt"}));
    ExpectXmpFollows(PngChunks(original), after, false);
  }
}

TEST_F(InFileWrite, RemovingThePositionLeavesNoneOfItsBytes) {
  // The old position's latitude seconds as the crafted file stores them.
  for (const char* name :
       {"crafted/png-exif.png", "crafted/webp-exif-xmp.webp", "crafted/tiff-ii.tif", "crafted/tiff-mm.tif"}) {
    SCOPED_TRACE(name);
    const std::string path = Put("photo", Sample(name));
    XpGPSRecord before;
    ASSERT_EQ(XpPhotoMetadata::ReadGPS(path, before), XpStatus::Ok);
    ASSERT_TRUE(before.latitude.IsValid());
    ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    EXPECT_FALSE(HasGpsDirectory(path));
    // The latitude's three rationals, in the file's byte order, are nowhere.
    const Bytes removed = rewrite_test::ReadBytes(path);
    const bool bigEndian = std::string(name).find("-mm") != std::string::npos;
    Bytes pattern;
    for (int i = 0; i < 3; ++i) {
      for (const std::uint32_t v : {before.latitude.numerators[static_cast<std::size_t>(i)],
                                    before.latitude.denominators[static_cast<std::size_t>(i)]}) {
        for (int b = 0; b < 4; ++b) {
          pattern.push_back(static_cast<std::uint8_t>(v >> (bigEndian ? 24 - 8 * b : 8 * b)));
        }
      }
    }
    ASSERT_NE(std::search(Sample(name).begin(), Sample(name).end(), pattern.begin(), pattern.end()), Sample(name).end())
        << "the pattern must be found in the source";
    EXPECT_EQ(std::search(removed.begin(), removed.end(), pattern.begin(), pattern.end()), removed.end());
  }
}

TEST_F(InFileWrite, PngWithItsExifAsHexTextKeepsWhatTheProgramReads) {
  // The block of a "Raw profile type exif" text chunk is the one edited: the
  // new eXIf chunk, which the reader takes first, keeps its tags.
  const Bytes original = Sample("exiv2-imagemagick.png");
  const std::string path = Put("photo.png", original);
  XpPhotoMetadata::Reading before;
  ASSERT_EQ(XpPhotoMetadata::Read(path, &before), XpStatus::Ok);
  ASSERT_FALSE(before.dateTimeOriginal.empty());
  ASSERT_EQ(Move(path), XpStatus::Ok);
  XpPhotoMetadata::Reading after;
  ASSERT_EQ(XpPhotoMetadata::Read(path, &after), XpStatus::Ok);
  EXPECT_EQ(after.dateTimeOriginal, before.dateTimeOriginal);
  EXPECT_EQ(after.orientation, before.orientation);
  ASSERT_NE(after.Ifd0(), nullptr);
  // IFD0 gains the GPS pointer (and DateTime, when it had none) and keeps the rest.
  const std::size_t gained = (before.Ifd0()->Has(0x8825) ? 0 : 1) + (before.Ifd0()->Has(0x0132) ? 0 : 1);
  EXPECT_EQ(after.Ifd0()->EntryCount(), before.Ifd0()->EntryCount() + gained);
  EXPECT_TRUE(ReadsNewPosition(path));
  // The text chunk itself is kept as it was.
  const std::vector<Chunk> chunks = PngChunks(rewrite_test::ReadBytes(path));
  EXPECT_EQ(Without(chunks, {"eXIf"}), PngChunks(original));
}

TEST_F(InFileWrite, PngExifBehindTheImageDataMovesInFrontOfIt) {
  const Bytes original = Sample("crafted/png-exif-late.png");
  const std::vector<Chunk> before = PngChunks(original);
  ASSERT_GT(IndexOf(before, "eXIf"), IndexOf(before, "IDAT"));
  const std::string path = Put("photo.png", original);
  ASSERT_EQ(Move(path), XpStatus::Ok);
  const std::vector<Chunk> after = PngChunks(rewrite_test::ReadBytes(path));
  EXPECT_LT(IndexOf(after, "eXIf"), IndexOf(after, "IDAT"));
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(after.back().type, "IEND");
}

// ---------------------------------------------------------------------------
// WebP

TEST_F(InFileWrite, WebpWithVp8xKeepsItsChunksAndSetsTheRiffSize) {
  const Bytes original = Sample("crafted/webp-exif-xmp.webp");
  const std::string path = Put("photo.webp", original);
  ASSERT_EQ(Move(path), XpStatus::Ok);
  const Bytes written = rewrite_test::ReadBytes(path);
  EXPECT_EQ(Le32(written, 4), written.size() - 8);
  const std::vector<Chunk> before = WebpChunks(original);
  const std::vector<Chunk> after = WebpChunks(written);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].type, before[i].type);  // the Exif chunk stays in its place
    if (after[i].type != "EXIF" && after[i].type != "XMP ") {
      EXPECT_EQ(after[i].bytes, before[i].bytes) << after[i].type;
    } else if (after[i].bytes.size() % 2 == 1) {
      ADD_FAILURE() << "an odd chunk without its padding";
    }
  }
  EXPECT_NE(after[0].bytes[8] & 0x08, 0);
  EXPECT_TRUE(ReadsNewPosition(path));
  ExpectXmpFollows(before, after, true);
  ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
  EXPECT_FALSE(HasGpsDirectory(path));
  const Bytes removed = rewrite_test::ReadBytes(path);
  EXPECT_EQ(Le32(removed, 4), removed.size() - 8);
  EXPECT_EQ(Without(WebpChunks(removed), {"EXIF", "XMP "}), Without(before, {"EXIF", "XMP "}));
  ExpectXmpFollows(before, WebpChunks(removed), false);
}

TEST_F(InFileWrite, SimpleWebpGainsAVp8xChunkWithTheCanvasOfItsBitstream) {
  struct Case {
    const char* what;
    Bytes file;
    std::uint32_t width;
    std::uint32_t height;
    std::uint8_t flags;
  };
  const std::vector<Case> cases = {
      {"lossless", Riff({RiffChunk("VP8L", Vp8lOnePixel(false))}), 1, 1, 0x08},
      {"lossless with alpha", Riff({RiffChunk("VP8L", Vp8lOnePixel(true))}), 1, 1, 0x18},
      {"lossy", Riff({RiffChunk("VP8 ", Vp8KeyFrame(640, 480))}), 640, 480, 0x08},
      {"lossy with XMP", Riff({RiffChunk("VP8 ", Vp8KeyFrame(3, 5)), RiffChunk("XMP ", Bytes(17, 'x'))}), 3, 5, 0x08},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Put("photo.webp", c.file);
    ASSERT_EQ(Move(path), XpStatus::Ok);
    const Bytes written = rewrite_test::ReadBytes(path);
    EXPECT_EQ(Le32(written, 4), written.size() - 8);
    const std::vector<Chunk> before = WebpChunks(c.file);
    const std::vector<Chunk> after = WebpChunks(written);
    ASSERT_GE(after.size(), 3U);
    ASSERT_EQ(after[0].type, "VP8X");
    const Bytes& vp8x = after[0].bytes;
    ASSERT_EQ(vp8x.size(), 18U);
    EXPECT_EQ(vp8x[8], c.flags);
    EXPECT_EQ(vp8x[9] | vp8x[10] | vp8x[11], 0);
    EXPECT_EQ((vp8x[12] | (vp8x[13] << 8) | (vp8x[14] << 16)) + 1U, c.width);
    EXPECT_EQ((vp8x[15] | (vp8x[16] << 8) | (vp8x[17] << 16)) + 1U, c.height);
    EXPECT_EQ(Without(after, {"VP8X", "EXIF"}), before);
    // The Exif chunk stands behind the image data and before the XMP chunk.
    EXPECT_EQ(IndexOf(after, "EXIF"), 2U);
    EXPECT_TRUE(ReadsNewPosition(path));
    if (exiftool_test::HaveTool("exiftool")) {
      const std::string read =
          exiftool_test::RunCommand("exiftool -q -q -n -s3 -ImageWidth -ImageHeight -GPSLatitude '" + path + "'");
      EXPECT_NE(read.find(std::to_string(c.width) + "\n" + std::to_string(c.height) + "\n35.6"), std::string::npos)
          << read;
    }
  }
}

// ---------------------------------------------------------------------------
// TIFF

TEST_F(InFileWrite, TiffGetsItsGpsDirectoryAppendedAndNothingElseMoves) {
  for (const char* name :
       {"exiv2-Reagan.tiff", "exiv2-test.tiff", "exiv2-mini9.tif", "exiv2-exiv2-kodak-dc210-preview1.tif",
        "crafted/tiff-ii.tif", "crafted/tiff-mm.tif", "crafted/tiff-nogps.tif", "crafted/dng-like.dng",
        "crafted/cr2-like.cr2", "crafted/orf-like.orf", "crafted/orf-rs-like.orf", "crafted/orf-mm-like.orf"}) {
    SCOPED_TRACE(name);
    const Bytes original = Sample(name);
    // An Olympus raw file is the TIFF structure its magic hides: walked as one.
    Bytes structure = original;
    if (std::string_view(name).ends_with(".orf")) {
      ASSERT_TRUE(original[2] == 'R' || original[2] == 'O');
      structure[2] = original[0] == 'M' ? 0 : 42;
      structure[3] = original[0] == 'M' ? 42 : 0;
    }
    XpExifEdit::Layout layout;
    ASSERT_EQ(XpExifEdit::Walk(structure, &layout), XpStatus::Ok);
    // What may change: the header's IFD0 offset, the GPS pointer's value and
    // the old GPS directory (table and values).
    std::vector<bool> free(original.size(), false);
    for (std::size_t i = 4; i < 8; ++i) {
      free[i] = true;
    }
    const XpExifEdit::Directory* ifd0 = layout.Find("IFD0");
    ASSERT_NE(ifd0, nullptr);
    if (const XpExifEdit::Entry* pointer = ifd0->Find(0x8825)) {
      for (std::size_t i = pointer->position + 2; i < pointer->position + 12; ++i) {
        free[i] = true;
      }
    }
    for (std::size_t d = 0; d < layout.directories.size(); ++d) {
      if (layout.directories[d].path.starts_with("IFD0/8825")) {
        for (std::size_t i = 0; i < layout.directories[d].TableSize(); ++i) {
          free[layout.directories[d].offset + i] = true;
        }
      }
    }
    for (const XpExifEdit::Range& r : layout.referenced) {
      if (layout.directories[r.directory].path.starts_with("IFD0/8825")) {
        for (std::size_t i = r.offset; i < r.End(); ++i) {
          free[i] = true;
        }
      }
    }
    const std::string path = Put("photo.tif", original);
    ASSERT_EQ(Move(path), XpStatus::Ok);
    const Bytes written = rewrite_test::ReadBytes(path);
    ASSERT_GT(written.size(), original.size());
    // The header's byte order and magic (an Olympus file's own) stay.
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 4, written.begin()));
    for (std::size_t i = 0; i < original.size(); ++i) {
      if (!free[i] && written[i] != original[i]) {
        ADD_FAILURE() << "byte " << i << " changed";
        break;
      }
    }
    EXPECT_TRUE(ReadsNewPosition(path));
    ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    EXPECT_FALSE(HasGpsDirectory(path));
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo.tif"});
  }
}

// A 2x2 grey TIFF whose IFD0 holds an XMP packet with a position beside its
// GPS directory.
Bytes TiffWithXmpPosition(bool bigEndian) {
  const std::string packet =
      "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
      "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
      "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
      "exif:GPSLatitude=\"59,19.759380N\" exif:GPSLongitude=\"18,4.114860E\"><dc:format>image/tiff</dc:format>"
      "</rdf:Description></rdf:RDF></x:xmpmeta>\n" +
      std::string(200, ' ') + "\n<?xpacket end=\"w\"?>";
  TiffBuilder b(bigEndian);
  const std::uint32_t gps = b.AddDirectory({b.Text(1, "N"),
                                            {2, 5, 3, b.Rationals({{59, 1}, {19, 1}, {4556, 100}})},
                                            b.Text(3, "E"),
                                            {4, 5, 3, b.Rationals({{18, 1}, {4, 1}, {689, 100}})}});
  const std::vector<std::uint8_t> xmp(packet.begin(), packet.end());
  const std::uint32_t ifd0 = b.AddDirectory({b.Short(0x0100, 2),
                                             b.Short(0x0101, 2),
                                             b.Short(0x0102, 8),
                                             b.Short(0x0103, 1),
                                             b.Short(0x0106, 1),
                                             b.Long(0x0111, 0),
                                             b.Short(0x0115, 1),
                                             b.Short(0x0116, 2),
                                             b.Long(0x0117, 4),
                                             b.Text(0x0131, "Crafted"),
                                             {0x02BC, 1, static_cast<std::uint32_t>(xmp.size()), xmp},
                                             b.Long(kTagGPSIFD, gps)});
  b.SetIFD0(ifd0);
  b.PatchValue(ifd0, 5, static_cast<std::uint32_t>(b.Bytes().size()));
  for (const std::uint8_t pixel : {0x10, 0x80, 0xC0, 0xFF}) {
    b.Bytes().push_back(pixel);
  }
  return b.Bytes();
}

TEST_F(InFileWrite, TiffXmpPositionFollowsTheExifOneAndNothingMoves) {
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    const Bytes original = TiffWithXmpPosition(bigEndian);
    const std::string path = Put("photo.tif", original);
    ASSERT_EQ(Move(path), XpStatus::Ok);
    const Bytes written = rewrite_test::ReadBytes(path);
    ASSERT_GT(written.size(), original.size());
    // The strip keeps its bytes at its place.
    EXPECT_TRUE(std::equal(original.end() - 4, original.end(), written.begin() + (original.size() - 4)));
    EXPECT_TRUE(ReadsNewPosition(path));
    ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    const Bytes removed = rewrite_test::ReadBytes(path);
    EXPECT_FALSE(HasGpsDirectory(path));
    // Neither packet's position is left anywhere in the file.
    for (const std::string_view text : {std::string_view("59,19.759380N"), std::string_view("35,37.")}) {
      EXPECT_EQ(std::search(removed.begin(), removed.end(), text.begin(), text.end()), removed.end()) << text;
    }
    EXPECT_NE(std::search(removed.begin(), removed.end(), std::string_view("image/tiff").begin(),
                          std::string_view("image/tiff").end()),
              removed.end());
    if (!exiftool_test::HaveTool("exiftool")) {
      continue;
    }
    const std::string read =
        exiftool_test::RunCommand("exiftool -q -q -n -s3 -XMP-exif:GPSLatitude -XMP-dc:Format '" + path + "'");
    EXPECT_EQ(read, "image/tiff\n");
    Put("moved.tif", written);
    const std::string moved =
        exiftool_test::RunCommand("exiftool -q -q -n -s3 -XMP-exif:GPSLatitude -GPS:GPSLatitude -XMP-dc:Format '" +
                                  m_dir.File("moved.tif") + "'");
    EXPECT_NE(moved.find("35.625785"), std::string::npos) << moved;
    std::filesystem::remove(m_dir.File("moved.tif"));
  }
}

// ---------------------------------------------------------------------------
// Tag by tag with the independent reader

// File positions and sizes that describe the file rather than its metadata,
// the reader's own notes, and values it derives from other tags.
// For HEIF: the reader's offset, size and digest of the (last) mdat box,
// which holds the Exif item or is the one the write appends; the image items
// in it are compared byte by byte by the write's own check.
bool DescribesTheFile(const std::string& key) {
  static const std::vector<std::string> kGroups = {"System:", "File:", "ExifTool:", "Composite:"};
  return key == "SourceFile" || key == "QuickTime:MediaData" || key == "QuickTime:MediaDataOffset" ||
         key == "QuickTime:MediaDataSize" ||
         std::any_of(kGroups.begin(), kGroups.end(), [&](const std::string& g) { return key.starts_with(g); });
}

// The one list of what a write may change: the GPS tags, and in an existing
// Exif block of a PNG or WebP photo DateTime and ExifVersion, as in JPEG
// photos. TIFF photos keep both.
bool ChangedByTheWrite(const std::string& key, bool tiff) {
  static const std::set<std::string> kXmp = {"XMP-exif:GPSLatitude", "XMP-exif:GPSLongitude", "XMP-exif:GPSLatitudeRef",
                                             "XMP-exif:GPSLongitudeRef"};
  if (DescribesTheFile(key) || key.starts_with("GPS:") || kXmp.count(key) != 0) {
    return true;
  }
  return !tiff && (key == "IFD0:ModifyDate" || key == "ExifIFD:ExifVersion");
}

TEST(InFileWriteIndependently, EveryTagOfEverySampleSurvivesAWriteAndARemoval) {
  if (!exiftool_test::HaveTool("exiftool")) {
    GTEST_SKIP() << "exiftool is needed";
  }
  TempDir original;
  TempDir moved;
  TempDir removed;
  const std::vector<std::string> names = {"exiv2-1343_comment.png",
                                          "exiv2-imagemagick.png",
                                          "crafted/png-exif.png",
                                          "crafted/png-exif-late.png",
                                          "crafted/png-xmp-only.png",
                                          "crafted/webp-exif-xmp.webp",
                                          "exiv2-Reagan.tiff",
                                          "exiv2-test.tiff",
                                          "exiv2-mini9.tif",
                                          "exiv2-exiv2-kodak-dc210-preview1.tif",
                                          "crafted/tiff-ii.tif",
                                          "crafted/tiff-mm.tif",
                                          "crafted/tiff-nogps.tif",
                                          "crafted/dng-like.dng",
                                          "crafted/cr2-like.cr2",
                                          "crafted/orf-like.orf",
                                          "crafted/orf-rs-like.orf",
                                          "crafted/orf-mm-like.orf",
                                          "mde-IMG_1034.heic",
                                          "mde-IMG_2927.HEIC",
                                          "mde-exif-at-eof.heic",
                                          "exiv2-avif.avif",
                                          "mde-32Bit-72dpi-sRGB-800x600.avif",
                                          "crafted/heic-noiref.heic",
                                          "crafted/avif-like.avif"};
  std::vector<std::string> files;
  for (const std::string& name : names) {
    const std::string file = std::filesystem::path(name).filename().string();
    const Bytes bytes = Sample(name);
    rewrite_test::WriteBytes(original.File(file), bytes);
    rewrite_test::WriteBytes(moved.File(file), bytes);
    rewrite_test::WriteBytes(removed.File(file), bytes);
    ASSERT_EQ(Move(moved.File(file)), XpStatus::Ok) << name;
    ASSERT_EQ(XpInFileWrite::RemoveGPS(removed.File(file)), XpStatus::Ok) << name;
    files.push_back(file);
  }
  const auto before = exiftool_test::ReadWithExiftool(original.Path(), "*");
  const auto afterMove = exiftool_test::ReadWithExiftool(moved.Path(), "*");
  const auto afterRemove = exiftool_test::ReadWithExiftool(removed.Path(), "*");
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ASSERT_EQ(before.count(file), 1U);
    ASSERT_EQ(afterMove.count(file), 1U);
    ASSERT_EQ(afterRemove.count(file), 1U);
    // TIFF structures keep DateTime and ExifVersion; Exif blocks inside other containers do not.
    static constexpr std::array<std::string_view, 5> kTiffKinds = {".tif", ".tiff", ".dng", ".cr2", ".orf"};
    const bool tiff =
        std::any_of(kTiffKinds.begin(), kTiffKinds.end(), [&](std::string_view e) { return file.ends_with(e); });
    const exiftool_test::TagMap& old = before.at(file);
    const exiftool_test::TagMap& now = afterMove.at(file);
    const auto number = [&](const std::string& key) {
      const auto it = now.find(key);
      return it == now.end() ? -1.0 : XpParseDecimal(it->second).value_or(0.0);
    };
    EXPECT_NEAR(number("GPS:GPSLatitude"), kNewLatitude, 1e-9);
    EXPECT_NEAR(number("GPS:GPSLongitude"), kNewLongitude, 1e-9);
    EXPECT_NEAR(number("GPS:GPSAltitude"), 12.5, 1e-9);
    EXPECT_EQ(now.count("GPS:GPSLatitudeRef") ? now.at("GPS:GPSLatitudeRef") : "", "N");
    EXPECT_EQ(now.count("GPS:GPSLongitudeRef") ? now.at("GPS:GPSLongitudeRef") : "", "E");
    // An XMP position follows the Exif one.
    if (old.count("XMP-exif:GPSLatitude") != 0) {
      EXPECT_NEAR(number("XMP-exif:GPSLatitude"), kNewLatitude, 1e-7);
      EXPECT_NEAR(number("XMP-exif:GPSLongitude"), kNewLongitude, 1e-7);
    }
    // No warning the source did not give already.
    if (now.count("ExifTool:Warning") != 0) {
      EXPECT_EQ(now.at("ExifTool:Warning"), old.count("ExifTool:Warning") ? old.at("ExifTool:Warning") : "");
    }
    for (const std::string& diff :
         exiftool_test::Differences(old, now, [&](const std::string& key) { return ChangedByTheWrite(key, tiff); })) {
      ADD_FAILURE() << file << " after WriteGPS: " << diff;
    }
    const exiftool_test::TagMap& gone = afterRemove.at(file);
    EXPECT_EQ(gone.count("GPS:GPSLatitude"), 0U);
    EXPECT_EQ(gone.count("XMP-exif:GPSLatitude"), 0U);
    EXPECT_EQ(gone.count("Composite:GPSPosition"), 0U);
    for (const std::string& diff : exiftool_test::Differences(old, gone, [](const std::string& key) {
           return DescribesTheFile(key) || key.starts_with("GPS:") || key.starts_with("XMP-exif:GPS");
         })) {
      ADD_FAILURE() << file << " after RemoveGPS: " << diff;
    }
  }
}

TEST_F(InFileWrite, TheNewFileKeepsThePermissionsAndOnRequestTheModificationTime) {
  for (const char* name : {"crafted/png-exif.png", "crafted/webp-exif-xmp.webp", "crafted/tiff-mm.tif"}) {
    SCOPED_TRACE(name);
    const std::string path = Put("photo", Sample(name));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const struct timespec past[2] = {{1500000000, 0}, {1500000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
    XpExifRewrite::Hooks keep = FixedDate();
    keep.preserveModificationTime = true;
    ASSERT_EQ(XpInFileWrite::WriteGPSWith(path, NewPosition(), keep), XpStatus::Ok);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
    EXPECT_EQ(info.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 250000000);
    ASSERT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
  }
}

TEST_F(InFileWrite, ALinkIsFollowedAndStaysALink) {
  const Bytes original = Sample("crafted/png-exif.png");
  const std::string target = Put("photo.png", original);
  const std::string link = m_dir.File("link.png");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(Move(link), XpStatus::Ok);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(ReadsNewPosition(target));
  EXPECT_EQ(m_dir.Entries(), (std::vector<std::string>{"link.png", "photo.png"}));
}

// ---------------------------------------------------------------------------
// Refusals: the status the user sees, and the photo byte-identical

TEST_F(InFileWrite, ProtectedPhotosAreRefusedBeforeAnythingIsWritten) {
  for (const char* name : {"crafted/png-exif.png", "crafted/webp-exif-xmp.webp", "crafted/tiff-ii.tif"}) {
    SCOPED_TRACE(name);
    const Bytes original = Sample(name);
    const std::string path = Put("photo", original);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(Move(path), XpStatus::PictureReadOnly);
    EXPECT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::PictureReadOnly);
    EXPECT_EQ(rewrite_test::ReadBytes(path), original);
    EXPECT_EQ(rewrite_test::FileMode(path), 0444U);
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo"});
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  }
  const Bytes original = Sample("crafted/png-exif.png");
  const std::string path = Put("immutable.png", original);
  const std::string quoted = "'" + path + "'";
  if (std::system(("chattr +i " + quoted + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "the file system or the user cannot set the immutable attribute";
  }
  const XpStatus write = Move(path);
  ASSERT_EQ(std::system(("chattr -i " + quoted).c_str()), 0);
  EXPECT_EQ(write, XpStatus::PictureReadOnly);
  EXPECT_EQ(rewrite_test::ReadBytes(path), original);
}

TEST_F(InFileWrite, APhotoChangedMeanwhileIsNotReplaced) {
  for (const char* name : {"crafted/png-exif.png", "crafted/webp-exif-xmp.webp", "crafted/tiff-mm.tif"}) {
    SCOPED_TRACE(name);
    const std::string path = Put("photo", Sample(name));
    Bytes changed;
    XpExifRewrite::Hooks hooks = FixedDate();
    hooks.beforeCommit = [&](const std::string&) {
      Bytes bytes = rewrite_test::ReadBytes(path);
      bytes.push_back(0);
      rewrite_test::WriteBytes(path, bytes);
      changed = bytes;
      return XpStatus::Ok;
    };
    EXPECT_EQ(XpInFileWrite::WriteGPSWith(path, NewPosition(), hooks), XpStatus::ChangedOnDisk);
    EXPECT_EQ(rewrite_test::ReadBytes(path), changed);
    EXPECT_EQ(XpInFileWrite::RemoveGPSWith(path, hooks), XpStatus::ChangedOnDisk);
    EXPECT_EQ(rewrite_test::ReadBytes(path), changed);
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo"});
  }
}

TEST_F(InFileWrite, AWrittenCopyThatDiffersIsNotRenamedOverThePhoto) {
  // The temporary file is damaged after it was written: an image byte, a
  // byte of another chunk, the VP8X flags, a strip byte, the appended GPS
  // directory. Each is caught by the check before the rename.
  struct Case {
    const char* name;
    std::function<std::size_t(const Bytes&)> where;
  };
  const std::vector<Case> cases = {
      {"crafted/png-exif.png",
       [](const Bytes& b) {
         const auto chunks = PngChunks(b);
         std::size_t at = 8;
         for (std::size_t i = 0; i < IndexOf(chunks, "IDAT"); ++i) {
           at += chunks[i].bytes.size();
         }
         return at + 9;  // inside IDAT's data
       }},
      {"crafted/png-xmp-only.png", [](const Bytes&) { return std::size_t{8 + 8 + 3}; }},  // IHDR's data
      {"crafted/webp-exif-xmp.webp", [](const Bytes&) { return std::size_t{12 + 8}; }},   // the VP8X flags
      {"crafted/webp-exif-xmp.webp", [](const Bytes& b) { return b.size() - 3; }},        // the XMP chunk
      {"exiv2-mini9.tif", [](const Bytes&) { return std::size_t{8 + 100}; }},             // strip data
      {"crafted/tiff-ii.tif", [](const Bytes& b) { return b.size() - 8; }},               // the new GPS values
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes original = Sample(c.name);
    const std::string path = Put("photo", original);
    XpExifRewrite::Hooks hooks = FixedDate();
    hooks.beforeCommit = [&](const std::string& temp) {
      Bytes bytes = rewrite_test::ReadBytes(temp);
      bytes[c.where(bytes)] ^= 0x20;
      rewrite_test::WriteBytes(temp, bytes);
      return XpStatus::Ok;
    };
    EXPECT_EQ(XpInFileWrite::WriteGPSWith(path, NewPosition(), hooks), XpStatus::WrittenCopyDiffers);
    EXPECT_EQ(rewrite_test::ReadBytes(path), original);
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo"});
  }
}

TEST_F(InFileWrite, DamagedAndForeignFilesAreRefusedWithTheirStatus) {
  const Bytes png = Sample("crafted/png-exif.png");
  const Bytes webp = Sample("crafted/webp-exif-xmp.webp");
  const Bytes tiff = Sample("crafted/tiff-ii.tif");
  std::vector<std::pair<std::string, std::pair<Bytes, XpStatus>>> cases;
  cases.push_back(
      {"JPEG",
       {rewrite_test::ReadBytes(rewrite_test::TestDataPath("exiftool-Writer.jpg")), XpStatus::JpegDecodeFailed}});
  cases.push_back({"empty", {Bytes{}, XpStatus::JpegDecodeFailed}});
  {
    Bytes cut(png.begin(), png.end() - 20);  // IEND and part of the chunk before it gone
    cases.push_back({"PNG cut short", {cut, XpStatus::PhotoContainerDamaged}});
  }
  {
    // A second eXIf chunk right behind the first.
    const auto chunks = PngChunks(png);
    Bytes twice(png.begin(), png.begin() + 8);
    for (const Chunk& ch : chunks) {
      twice.insert(twice.end(), ch.bytes.begin(), ch.bytes.end());
      if (ch.type == "eXIf") {
        twice.insert(twice.end(), ch.bytes.begin(), ch.bytes.end());
      }
    }
    cases.push_back({"PNG with two Exif chunks", {twice, XpStatus::ExifDamaged}});
  }
  {
    // The eXIf chunk's IFD0 offset points beyond the block.
    const auto chunks = PngChunks(png);
    std::size_t at = 8;
    for (std::size_t i = 0; i < IndexOf(chunks, "eXIf"); ++i) {
      at += chunks[i].bytes.size();
    }
    Bytes bad = png;
    bad[at + 8 + 4] = 0xF0;
    bad[at + 8 + 5] = 0xFF;
    cases.push_back({"PNG with damaged Exif", {bad, XpStatus::ExifDamaged}});
  }
  {
    Bytes noImage = Riff({RiffChunk("XMP ", Bytes(4, 'x'))});
    cases.push_back({"WebP without image data", {noImage, XpStatus::PhotoContainerDamaged}});
    Bytes longer = webp;
    longer[4] = static_cast<std::uint8_t>(longer[4] + 2);
    cases.push_back({"WebP with a RIFF size beyond the file", {longer, XpStatus::PhotoContainerDamaged}});
  }
  {
    Bytes big = {'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
    big.resize(64, 0);
    cases.push_back({"BigTIFF", {big, XpStatus::BigTiffNotWritten}});
    // A Panasonic raw file's magic (0x55): never written in place. (An Olympus file's is.)
    Bytes rw2 = tiff;
    rw2[2] = 0x55;
    rw2[3] = 0;
    cases.push_back({"another magic number", {rw2, XpStatus::JpegDecodeFailed}});
    Bytes halfOrf = tiff;
    halfOrf[2] = 'R';
    halfOrf[3] = 'X';
    cases.push_back({"an Olympus-like magic that is none", {halfOrf, XpStatus::JpegDecodeFailed}});
    Bytes loop = tiff;
    loop[4] = 0xFF;
    loop[5] = 0xFF;
    cases.push_back({"TIFF with IFD0 beyond the file", {loop, XpStatus::ExifDamaged}});
  }
  {
    // The longitude's reference entry carries the latitude's tag: the GPS
    // directory names the latitude twice.
    Bytes twice = tiff;
    XpExifEdit::Layout layout;
    ASSERT_EQ(XpExifEdit::Walk(twice, &layout), XpStatus::Ok);
    ASSERT_EQ(layout.GpsDirectories().size(), 1U);
    const XpExifEdit::Entry* ref = layout.GpsDirectories().front()->Find(3);
    ASSERT_NE(ref, nullptr);
    twice[ref->position] = 2;
    // A write cannot make it read right; a removal takes both away.
    const std::string path = Put("twice.tif", twice);
    EXPECT_EQ(Move(path), XpStatus::ExifDamaged);
    EXPECT_EQ(rewrite_test::ReadBytes(path), twice);
    EXPECT_EQ(XpInFileWrite::RemoveGPS(path), XpStatus::Ok);
    EXPECT_FALSE(HasGpsDirectory(path));
    std::filesystem::remove(path);
  }
  {
    // A tiled TIFF whose GPS latitude is stored inside its tile: zeroing the
    // old position would change the picture, so neither edit is made.
    TiffBuilder b(false);
    const auto tileAt = static_cast<std::uint32_t>(b.Bytes().size());
    for (int i = 0; i < 24; ++i) {
      b.Bytes().push_back(static_cast<std::uint8_t>(0x40 + i));
    }
    const std::uint32_t gps =
        b.AddDirectory({b.Text(1, "N"), {2, 5, 3, b.Rationals({{1, 1}, {2, 1}, {3, 1}})}, b.Text(3, "E")});
    b.PatchValue(gps, 1, tileAt);
    b.SetIFD0(b.AddDirectory({b.Short(0x0100, 4), b.Short(0x0101, 6), b.Short(0x0102, 8), b.Short(0x0103, 1),
                              b.Short(0x0106, 1), b.Short(0x0115, 1), b.Short(0x0142, 16), b.Short(0x0143, 16),
                              b.Long(0x0144, tileAt), b.Long(0x0145, 24), b.Long(kTagGPSIFD, gps)}));
    cases.push_back({"TIFF with the position inside its tile", {b.Bytes(), XpStatus::ExifDamaged}});
  }
  for (const auto& [what, entry] : cases) {
    SCOPED_TRACE(what);
    const std::string path = Put("photo", entry.first);
    EXPECT_EQ(Move(path), entry.second);
    EXPECT_EQ(rewrite_test::ReadBytes(path), entry.first);
    EXPECT_EQ(XpInFileWrite::RemoveGPS(path), entry.second);
    EXPECT_EQ(rewrite_test::ReadBytes(path), entry.first);
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"photo"});
  }
}

/// The bytes of `out` whose change the check must notice: for PNG every
/// byte (the Exif chunk has its check value); for WebP every byte outside
/// the Exif chunk's data; for TIFF the header, the strips and the entry
/// tables of the GPS directory written.
std::vector<std::size_t> Watched(const std::string& name, const Bytes& out) {
  std::vector<std::size_t> at;
  if (name.ends_with(".png")) {
    for (std::size_t i = 0; i < out.size(); ++i) {
      at.push_back(i);
    }
    return at;
  }
  if (name.ends_with(".heic") || name.ends_with(".avif")) {
    // Every byte but the Exif item's TIFF structure.
    XpMemoryFile file(out);
    XpPhotoLayout layout;
    EXPECT_EQ(XpIsoBmff::LocateHeif(file, &layout), XpStatus::Ok);
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (static_cast<std::int64_t>(i) < layout.tiff.offset ||
          static_cast<std::int64_t>(i) >= layout.tiff.offset + layout.tiff.length) {
        at.push_back(i);
      }
    }
    return at;
  }
  if (name.ends_with(".webp")) {
    std::size_t offset = 0;
    const auto chunks = WebpChunks(out);
    for (std::size_t i = 0; i < 12; ++i) {
      at.push_back(offset++);
    }
    for (const Chunk& c : chunks) {
      for (std::size_t i = 0; i < c.bytes.size(); ++i, ++offset) {
        if (c.type != "EXIF" || i < 8) {
          at.push_back(offset);
        }
      }
    }
    return at;
  }
  XpExifEdit::Layout layout;
  EXPECT_EQ(XpExifEdit::Walk(out, &layout), XpStatus::Ok);
  for (std::size_t i = 0; i < 8; ++i) {
    at.push_back(i);
  }
  const XpExifEdit::Directory* ifd0 = layout.Find("IFD0");
  const XpExifEdit::Entry* offsets = ifd0 == nullptr ? nullptr : ifd0->Find(0x0111);
  const XpExifEdit::Entry* counts = ifd0 == nullptr ? nullptr : ifd0->Find(0x0117);
  EXPECT_TRUE(offsets != nullptr && counts != nullptr && offsets->count == counts->count);
  const auto value = [&](const XpExifEdit::Entry& e, std::uint32_t i) -> std::uint32_t {
    const std::size_t p = e.valueOffset + i * (e.type == 3 ? 2 : 4);
    const bool be = out[0] == 'M';
    std::uint32_t v = 0;
    for (std::size_t b = 0; b < (e.type == 3 ? 2U : 4U); ++b) {
      v = be ? (v << 8) | out[p + b] : v | (std::uint32_t{out[p + b]} << (8 * b));
    }
    return v;
  };
  for (std::uint32_t s = 0; offsets != nullptr && counts != nullptr && s < offsets->count; ++s) {
    for (std::uint32_t i = 0; i < value(*counts, s); ++i) {
      at.push_back(value(*offsets, s) + i);  // strip data
    }
  }
  for (const XpExifEdit::Directory* gps : layout.GpsDirectories()) {
    for (std::size_t i = 0; i < gps->entries.size(); ++i) {
      for (std::size_t b = 0; b < 8; ++b) {
        at.push_back(gps->offset + 2 + 12 * i + b);  // tag, type and count
      }
    }
  }
  return at;
}

TEST(InFileWriteCheck, EveryChangeOfAWatchedByteFailsTheCheck) {
  const XpGPSRecord position = NewPosition();
  const XpInFileWrite::Change change{&position, "2024:06:01 12:34:56"};
  for (const std::string name :
       {"crafted/png-exif.png", "crafted/png-xmp-only.png", "crafted/webp-exif-xmp.webp", "crafted/tiff-ii.tif",
        "crafted/tiff-nogps.tif", "exiv2-mini9.tif", "crafted/heic-noiref.heic", "crafted/avif-like.avif"}) {
    SCOPED_TRACE(name);
    const Bytes source = Sample(name);
    std::vector<std::uint8_t> out;
    bool nothing = true;
    ASSERT_EQ(XpInFileWrite::EditBytes(source, change, &out, &nothing), XpStatus::Ok);
    ASSERT_FALSE(nothing);
    ASSERT_EQ(XpInFileWrite::CheckBytes(source, out, change), XpStatus::Ok);
    const std::vector<std::size_t> watched = Watched(name, out);
    EXPECT_GT(watched.size(), 40U);
    for (const std::size_t i : watched) {
      std::vector<std::uint8_t> bad = out;
      bad[i] ^= 0x04;
      EXPECT_EQ(XpInFileWrite::CheckBytes(source, bad, change), XpStatus::WrittenCopyDiffers) << "byte " << i;
    }
    // Bytes cut off or added change the container.
    const std::vector<std::uint8_t> shorter(out.begin(), out.end() - 1);
    EXPECT_EQ(XpInFileWrite::CheckBytes(source, shorter, change), XpStatus::WrittenCopyDiffers);
    // A removal is not a write.
    EXPECT_EQ(XpInFileWrite::CheckBytes(source, out, XpInFileWrite::Change{}), XpStatus::WrittenCopyDiffers);
  }
}

}  // namespace
