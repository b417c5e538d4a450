#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "xp/image/XpJpegLib.h"
#include "xp/image/XpMemoryFile.h"

namespace {

// A grey-ramp RGB image encoded through the compressor into a memory stream.
// With `noisy` a pseudo-random pattern is added so that the data compresses badly.
std::vector<std::uint8_t> EncodeRamp(int width, int height, int quality = 90, bool noisy = false) {
  XpMemoryFile out;
  const XpStatus st = JpegRun(XpStatus::JpegEncodeFailed, [&] {
    JpegCompressor c;
    c.SetDestination(out);
    c->image_width = static_cast<JDIMENSION>(width);
    c->image_height = static_cast<JDIMENSION>(height);
    c->input_components = 3;
    c->in_color_space = JCS_RGB;
    jpeg_set_defaults(c.Get());
    jpeg_set_quality(c.Get(), quality, TRUE);
    jpeg_start_compress(c.Get(), TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        int v = (x * 255) / (width > 1 ? width - 1 : 1);
        if (noisy) {
          v = (v + (x * 7919 + y * 104729) % 97) % 256;
        }
        row[static_cast<std::size_t>(x) * 3] = static_cast<JSAMPLE>(v);
        row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<JSAMPLE>(v);
        row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<JSAMPLE>(v);
      }
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(c.Get(), rows, 1);
    }
    jpeg_finish_compress(c.Get());
    return XpStatus::Ok;
  });
  EXPECT_EQ(st, XpStatus::Ok);
  return out.TakeBytes();
}

struct Decoded {
  XpStatus status = XpStatus::Ok;
  int width = 0;
  int height = 0;
  int rows = 0;
  bool suppliedEoi = false;
  std::vector<std::uint8_t> lastRow;
};

Decoded Decode(std::span<const std::uint8_t> bytes) {
  Decoded result;
  XpMemoryFile in{bytes};
  result.status = JpegRun(XpStatus::JpegDecodeFailed, [&] {
    JpegDecompressor d;
    d.SetSource(in);
    if (jpeg_read_header(d.Get(), TRUE) != JPEG_HEADER_OK) {
      return XpStatus::JpegDecodeFailed;
    }
    d->out_color_space = JCS_RGB;
    jpeg_start_decompress(d.Get());
    result.width = static_cast<int>(d->output_width);
    result.height = static_cast<int>(d->output_height);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(d->output_width) * 3);
    while (d->output_scanline < d->output_height) {
      JSAMPROW rows[1] = {row.data()};
      if (jpeg_read_scanlines(d.Get(), rows, 1) != 1) {
        break;
      }
      ++result.rows;
    }
    result.lastRow = row;
    jpeg_finish_decompress(d.Get());
    result.suppliedEoi = d.SuppliedEndOfImage();
    return XpStatus::Ok;
  });
  return result;
}

// A stream whose writes fail after a given number of bytes.
class FailingStream final : public XpAbstractFile {
 public:
  explicit FailingStream(std::uint64_t capacity) : m_capacity(capacity) {}
  std::string GetDisplayName() const override { return "failing"; }
  std::int64_t GetLength() override { return static_cast<std::int64_t>(m_size); }
  XpStatus Open(unsigned /*flags*/) override { return XpStatus::Ok; }
  XpStatus Close() override { return XpStatus::Ok; }
  XpStatus Read(void* /*buffer*/, std::uint64_t /*count*/, std::uint64_t* got) override {
    if (got != nullptr) {
      *got = 0;
    }
    return XpStatus::EndOfFile;
  }
  XpStatus Write(const void* /*buffer*/, std::uint64_t count, std::uint64_t* written) override {
    if (m_size + count > m_capacity) {
      if (written != nullptr) {
        *written = 0;
      }
      return XpStatus::DiskFull;
    }
    m_size += count;
    if (written != nullptr) {
      *written = count;
    }
    return XpStatus::Ok;
  }
  XpStatus Seek(std::int64_t /*offset*/, int /*origin*/) override { return XpStatus::Ok; }
  std::int64_t GetPosition() const override { return static_cast<std::int64_t>(m_size); }
  XpStatus SetLength(std::uint64_t /*length*/) override { return XpStatus::Ok; }

 private:
  std::uint64_t m_capacity;
  std::uint64_t m_size = 0;
};

TEST(JpegLib, EncodesAndDecodesThroughStreams) {
  const auto bytes = EncodeRamp(100, 40);
  ASSERT_GT(bytes.size(), 100U);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
  EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
  const Decoded d = Decode(bytes);
  ASSERT_EQ(d.status, XpStatus::Ok);
  EXPECT_EQ(d.width, 100);
  EXPECT_EQ(d.height, 40);
  EXPECT_EQ(d.rows, 40);
  EXPECT_FALSE(d.suppliedEoi);
  EXPECT_NEAR(d.lastRow[0], 0, 3);
  EXPECT_NEAR(d.lastRow[99 * 3], 255, 3);
}

TEST(JpegLib, WritesMoreThanOneBufferInOrder) {
  // A noisy-enough image larger than 64 KiB compressed exercises the refills.
  const auto bytes = EncodeRamp(1500, 400, 100, /*noisy=*/true);
  ASSERT_GT(bytes.size(), kJpegStreamBufferSize);
  const Decoded d = Decode(bytes);
  ASSERT_EQ(d.status, XpStatus::Ok);
  EXPECT_EQ(d.rows, 400);
}

TEST(JpegLib, SuppliesAnEndOfImageForATruncatedFile) {
  auto bytes = EncodeRamp(64, 64);
  bytes.resize(bytes.size() * 2 / 3);
  const Decoded d = Decode(bytes);
  ASSERT_EQ(d.status, XpStatus::Ok);
  EXPECT_EQ(d.rows, 64);
  EXPECT_TRUE(d.suppliedEoi);
}

TEST(JpegLib, TurnsLibraryErrorsIntoTheOperationsStatus) {
  const std::vector<std::uint8_t> garbage{0xFF, 0xD8, 0xFF, 0x00, 0x12, 0x34, 0x56};
  EXPECT_EQ(Decode(garbage).status, XpStatus::JpegDecodeFailed);
  const std::vector<std::uint8_t> empty;
  EXPECT_EQ(Decode(empty).status, XpStatus::JpegDecodeFailed);
  const std::vector<std::uint8_t> notJpeg{'G', 'I', 'F', '8', '9', 'a'};
  EXPECT_EQ(Decode(notJpeg).status, XpStatus::JpegDecodeFailed);
}

TEST(JpegLib, AnswersTheStreamStatusWhenAWriteFails) {
  FailingStream out(1000);
  const XpStatus st = JpegRun(XpStatus::JpegEncodeFailed, [&] {
    JpegCompressor c;
    c.SetDestination(out);
    c->image_width = 256;
    c->image_height = 256;
    c->input_components = 3;
    c->in_color_space = JCS_RGB;
    jpeg_set_defaults(c.Get());
    jpeg_set_quality(c.Get(), 100, TRUE);
    jpeg_start_compress(c.Get(), TRUE);
    std::vector<JSAMPLE> row(256 * 3);
    for (int y = 0; y < 256; ++y) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        row[i] = static_cast<JSAMPLE>((i * 7919 + static_cast<std::size_t>(y) * 104729) % 251);
      }
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(c.Get(), rows, 1);
    }
    jpeg_finish_compress(c.Get());
    return XpStatus::Ok;
  });
  EXPECT_EQ(st, XpStatus::DiskFull);
}

TEST(JpegLib, BoundsTheLibrarysWorkMemory) {
  // A progressive file needs whole-image coefficient arrays; with a tiny limit
  // the decoder must refuse instead of allocating.
  XpMemoryFile out;
  ASSERT_EQ(JpegRun(XpStatus::JpegEncodeFailed,
                    [&] {
                      JpegCompressor c;
                      c.SetDestination(out);
                      c->image_width = 512;
                      c->image_height = 512;
                      c->input_components = 3;
                      c->in_color_space = JCS_RGB;
                      jpeg_set_defaults(c.Get());
                      jpeg_simple_progression(c.Get());
                      jpeg_start_compress(c.Get(), TRUE);
                      std::vector<JSAMPLE> row(512 * 3, 128);
                      for (int y = 0; y < 512; ++y) {
                        JSAMPROW rows[1] = {row.data()};
                        jpeg_write_scanlines(c.Get(), rows, 1);
                      }
                      jpeg_finish_compress(c.Get());
                      return XpStatus::Ok;
                    }),
            XpStatus::Ok);
  XpMemoryFile in{out.Bytes()};
  const XpStatus st = JpegRun(XpStatus::JpegDecodeFailed, [&] {
    JpegDecompressor d;
    d.SetSource(in);
    d.SetMemoryLimit(64 * 1024);
    EXPECT_EQ(d.GetMemoryLimit(), 64 * 1024);
    (void)jpeg_read_header(d.Get(), TRUE);
    jpeg_start_decompress(d.Get());
    return XpStatus::Ok;
  });
  EXPECT_EQ(st, XpStatus::JpegDecodeFailed);
}

}  // namespace
