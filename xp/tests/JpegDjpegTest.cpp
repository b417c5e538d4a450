#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/tests/JpegTestSupport.h"
#include "xp/tests/TestData.h"

// Full-size decoding of the real camera files must give exactly the pixels of
// libjpeg's own command-line decoder (same integer DCT, fancy upsampling on),
// after the picture is turned upright by its orientation.

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> TestFiles() { return testdata::CameraJpegs(); }

// True when `pixmap` equals the reference turned upright the way the reader
// turns pictures. The turn is written here independently of the pixmap code:
// pixel (x, y) of the result comes from reference pixel (sx, sy).
bool SameAsTurnedReference(const XpPixmapBGR24& pixmap, const jpegtest::Pnm& in, int orientation) {
  const bool quarter = orientation == 6 || orientation == 8;
  const int width = quarter ? in.height : in.width;
  const int height = quarter ? in.width : in.height;
  if (pixmap.Width() != width || pixmap.Height() != height) {
    ADD_FAILURE() << "size " << pixmap.Width() << " x " << pixmap.Height() << ", expected " << width << " x " << height;
    return false;
  }
  const std::uint8_t* ref = in.rgb.data();
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixmap.Row(y);
    for (int x = 0; x < width; ++x, row += 3) {
      int sx = x;
      int sy = y;
      if (orientation == 3) {
        sx = in.width - 1 - x;
        sy = in.height - 1 - y;
      } else if (orientation == 6) {
        sx = y;
        sy = in.height - 1 - x;
      } else if (orientation == 8) {
        sx = in.width - 1 - y;
        sy = x;
      }
      const std::uint8_t* px =
          ref + (static_cast<std::size_t>(sy) * static_cast<std::size_t>(in.width) + static_cast<std::size_t>(sx)) * 3;
      if (row[0] != px[2] || row[1] != px[1] || row[2] != px[0]) {
        ADD_FAILURE() << "first difference at " << x << ", " << y;
        return false;
      }
    }
  }
  return true;
}

// Files the reader refuses although the command-line decoder makes something
// of them, and why.
const std::map<std::string, std::string>& ExpectedRefusals() {
  static const std::map<std::string, std::string> refusals = {
      {"mdx-Multiple_ICC_segments.jpg", "four components (CMYK): only colour and grey files decode"},
      {"pillow-pil_sample_cmyk.jpg", "four components (CMYK): only colour and grey files decode"},
  };
  return refusals;
}

TEST(JpegAgainstDjpeg, DecodesEveryRealFileToTheSamePixels) {
  if (!jpegtest::RunCommand("djpeg -version 2>/dev/null >/dev/null; echo")) {
    GTEST_SKIP() << "djpeg is not installed";
  }
  int compared = 0;
  for (const fs::path& path : TestFiles()) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    // Exit status 2 means the decoder only warned (a truncated file, for instance).
    const auto ppm = jpegtest::RunCommand("djpeg -dct int -ppm '" + path.string() + "' 2>/dev/null", 2);
    const auto reference = ppm ? jpegtest::ParsePnm(*ppm) : std::nullopt;

    XpFile file(path.string());
    ASSERT_EQ(file.Open(XpAbstractFile::kRead), XpStatus::Ok);
    XpImageIoJpeg io;
    const auto pixmap = io.Read(file, 0, 1, nullptr, false);
    if (!reference) {
      EXPECT_EQ(pixmap, nullptr) << "decoded a file the reference decoder refuses";
      EXPECT_NE(io.GetStatus(), XpStatus::Ok);
      continue;
    }
    if (pixmap == nullptr) {
      EXPECT_TRUE(ExpectedRefusals().count(name) != 0) << "refused with " << XpStatusText(io.GetStatus());
      continue;
    }
    EXPECT_TRUE(SameAsTurnedReference(*pixmap, *reference, io.GetOrientation()));
    ++compared;
  }
  EXPECT_GT(compared, 80);
}

}  // namespace
