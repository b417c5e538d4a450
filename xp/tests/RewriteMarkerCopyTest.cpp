#include <gtest/gtest.h>

#include "xp/image/XpJpegTransform.h"
#include "xp/tests/RewriteTestSupport.h"

namespace {

using rewrite_test::Bytes;
using rewrite_test::MakeJpeg;
using rewrite_test::MakeSegment;
using rewrite_test::Segment;

struct CopyRequest {
  JCOPY_OPTION option = JCOPYOPT_ALL;
  JXFORM_CODE transform = JXFORM_NONE;
  bool grayscale = false;
};

// The coefficient copy in the order libjpeg's transformation module prescribes.
XpStatus CopyJpeg(const Bytes& source, Bytes* out, const CopyRequest& request) {
  XpMemoryFile in{std::span<const std::uint8_t>(source)};
  XpMemoryFile dest;
  const XpStatus st = JpegRun(XpStatus::JpegDecodeFailed, [&]() {
    JpegDecompressor dec;
    JpegCompressor enc;
    dec.SetSource(in);
    enc.SetDestination(dest);
    jpeg_transform_info info;
    info.transform = request.transform;
    info.force_grayscale = request.grayscale ? TRUE : FALSE;
    jcopy_markers_setup(dec.Get(), request.option);
    if (jpeg_read_header(dec.Get(), TRUE) != JPEG_HEADER_OK) {
      return XpStatus::JpegDecodeFailed;
    }
    if (!jtransform_request_workspace(dec.Get(), &info)) {
      return XpStatus::JpegDecodeFailed;
    }
    jvirt_barray_ptr* coefs = jpeg_read_coefficients(dec.Get());
    jpeg_copy_critical_parameters(dec.Get(), enc.Get());
    jvirt_barray_ptr* outCoefs = jtransform_adjust_parameters(dec.Get(), enc.Get(), coefs, &info);
    jpeg_write_coefficients(enc.Get(), outCoefs);
    jcopy_markers_execute(dec.Get(), enc.Get(), request.option);
    jtransform_execute_transformation(dec.Get(), enc.Get(), coefs, &info);
    jpeg_finish_compress(enc.Get());
    jpeg_finish_decompress(dec.Get());
    return XpStatus::Ok;
  });
  *out = dest.TakeBytes();
  return st;
}

std::vector<Segment> SampleSegments() {
  return {MakeSegment(0xE1, std::string("Exif\0\0", 6), 300),
          MakeSegment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>"),
          MakeSegment(0xE2, std::string("ICC_PROFILE\0\1\1", 14), 200), MakeSegment(0xFE, "a comment"),
          MakeSegment(0xED, "Photoshop 3.0", 40000)};
}

TEST(MarkerCopy, CopyAllKeepsEverySegmentInOrderAndEveryCoefficient) {
  const Bytes source = MakeJpeg(64, 48, SampleSegments());
  ASSERT_FALSE(source.empty());
  Bytes copy;
  ASSERT_EQ(CopyJpeg(source, &copy, {}), XpStatus::Ok);
  // The compressor writes the JFIF header itself and leaves the source's out,
  // so the segment list comes out the same.
  EXPECT_EQ(rewrite_test::AppAndComSegments(copy), rewrite_test::AppAndComSegments(source));
  const auto before = rewrite_test::ReadCoefficients(source);
  const auto after = rewrite_test::ReadCoefficients(copy);
  ASSERT_TRUE(before.ok);
  EXPECT_EQ(after, before);
  EXPECT_EQ(rewrite_test::DecodePixels(copy), rewrite_test::DecodePixels(source));
}

TEST(MarkerCopy, CopyCommentsKeepsOnlyCommentsBesideTheNewJfifHeader) {
  const Bytes source = MakeJpeg(32, 32, SampleSegments());
  Bytes copy;
  ASSERT_EQ(CopyJpeg(source, &copy, {.option = JCOPYOPT_COMMENTS}), XpStatus::Ok);
  const auto segments = rewrite_test::AppAndComSegments(copy);
  ASSERT_EQ(segments.size(), 2U);
  EXPECT_EQ(segments[0].marker, 0xE0);
  EXPECT_TRUE(rewrite_test::StartsWith(segments[0].payload, std::string_view("JFIF\0", 5)));
  EXPECT_EQ(segments[1], MakeSegment(0xFE, "a comment"));
}

TEST(MarkerCopy, CopyNoneKeepsNoOptionalSegment) {
  const Bytes source = MakeJpeg(16, 16, SampleSegments(), /*jfif=*/false);
  Bytes copy;
  ASSERT_EQ(CopyJpeg(source, &copy, {.option = JCOPYOPT_NONE}), XpStatus::Ok);
  for (const Segment& seg : rewrite_test::AppAndComSegments(copy)) {
    EXPECT_EQ(seg.marker, 0xE0) << "only the compressor's own JFIF header may stand";
  }
  EXPECT_EQ(rewrite_test::ReadCoefficients(copy), rewrite_test::ReadCoefficients(source));
}

TEST(MarkerCopy, SourceWithoutJfifKeepsItsSegmentsWhenTheCompressorWritesNone) {
  const Bytes source = MakeJpeg(24, 40, SampleSegments(), /*jfif=*/false);
  XpMemoryFile in{std::span<const std::uint8_t>(source)};
  XpMemoryFile dest;
  const XpStatus st = JpegRun(XpStatus::JpegDecodeFailed, [&]() {
    JpegDecompressor dec;
    JpegCompressor enc;
    dec.SetSource(in);
    enc.SetDestination(dest);
    jpeg_transform_info info;
    jcopy_markers_setup(dec.Get(), JCOPYOPT_ALL);
    (void)jpeg_read_header(dec.Get(), TRUE);
    EXPECT_TRUE(jtransform_request_workspace(dec.Get(), &info));
    jvirt_barray_ptr* coefs = jpeg_read_coefficients(dec.Get());
    jpeg_copy_critical_parameters(dec.Get(), enc.Get());
    enc->write_JFIF_header = FALSE;
    jpeg_write_coefficients(enc.Get(), jtransform_adjust_parameters(dec.Get(), enc.Get(), coefs, &info));
    jcopy_markers_execute(dec.Get(), enc.Get(), JCOPYOPT_ALL);
    jtransform_execute_transformation(dec.Get(), enc.Get(), coefs, &info);
    jpeg_finish_compress(enc.Get());
    jpeg_finish_decompress(dec.Get());
    return XpStatus::Ok;
  });
  ASSERT_EQ(st, XpStatus::Ok);
  EXPECT_EQ(rewrite_test::AppAndComSegments(dest.TakeBytes()), SampleSegments());
}

TEST(MarkerCopy, ForcedGreyKeepsTheLuminanceCoefficientsAndTable) {
  const Bytes source = MakeJpeg(40, 24, {});
  Bytes copy;
  ASSERT_EQ(CopyJpeg(source, &copy, {.grayscale = true}), XpStatus::Ok);
  const auto before = rewrite_test::ReadCoefficients(source);
  const auto after = rewrite_test::ReadCoefficients(copy);
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.components, 1);
  EXPECT_EQ(after.width, before.width);
  EXPECT_EQ(after.height, before.height);
  EXPECT_EQ(after.quant[0], before.quant[0]);
  EXPECT_EQ(after.coefficients[0], before.coefficients[0]);
}

TEST(MarkerCopy, GreyscaleSourceCopiesUnchanged) {
  const Bytes source = MakeJpeg(33, 17, {MakeSegment(0xFE, "grey")}, true, /*components=*/1);
  Bytes copy;
  ASSERT_EQ(CopyJpeg(source, &copy, {}), XpStatus::Ok);
  EXPECT_EQ(rewrite_test::ReadCoefficients(copy), rewrite_test::ReadCoefficients(source));
  EXPECT_EQ(rewrite_test::AppAndComSegments(copy), rewrite_test::AppAndComSegments(source));
}

class MarkerCopyTransforms : public ::testing::TestWithParam<JXFORM_CODE> {};

TEST_P(MarkerCopyTransforms, TransformsOtherThanNoneAreRefusedBeforeAnyWork) {
  const Bytes source = MakeJpeg(32, 32, {});
  Bytes copy;
  EXPECT_EQ(CopyJpeg(source, &copy, {.transform = GetParam()}), XpStatus::JpegDecodeFailed);
  EXPECT_TRUE(copy.empty());
}

INSTANTIATE_TEST_SUITE_P(AllCodes, MarkerCopyTransforms,
                         ::testing::Values(JXFORM_FLIP_H, JXFORM_FLIP_V, JXFORM_TRANSPOSE, JXFORM_TRANSVERSE,
                                           JXFORM_ROT_90, JXFORM_ROT_180, JXFORM_ROT_270));

TEST(MarkerCopy, McuAlignmentFollowsTheLargestSamplingFactors) {
  struct Case {
    unsigned width, height;
    bool aligned;
  };
  // The test images are 2x2-subsampled: one MCU is 16 x 16 pixels.
  for (const Case& c : {Case{32, 32, true}, Case{48, 16, true}, Case{40, 32, false}, Case{32, 24, false}}) {
    const Bytes source = MakeJpeg(c.width, c.height, {});
    XpMemoryFile in{std::span<const std::uint8_t>(source)};
    bool aligned = !c.aligned;
    const XpStatus st = JpegRun(XpStatus::JpegDecodeFailed, [&]() {
      JpegDecompressor dec;
      dec.SetSource(in);
      (void)jpeg_read_header(dec.Get(), TRUE);
      aligned = XpJpegIsMcuAligned(dec.Get());
      return XpStatus::Ok;
    });
    ASSERT_EQ(st, XpStatus::Ok);
    EXPECT_EQ(aligned, c.aligned) << c.width << " x " << c.height;
  }
}

}  // namespace
