// MD5 against the published examples and against the system's own tool, over every way of
// cutting the input into pieces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "xp/base/XpMd5.h"

namespace {

std::string HexOf(std::string_view text) {
  return XpMd5::Hex(XpMd5::Of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

// What md5sum says of `bytes`, or empty when the tool is missing.
std::string SystemDigest(const std::vector<std::uint8_t>& bytes) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / ("tv_md5_" + std::to_string(getpid()));
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::string out;
  if (FILE* pipe = popen(("md5sum " + file.string() + " 2>/dev/null").c_str(), "r"); pipe != nullptr) {
    char line[160] = {};
    if (std::fgets(line, sizeof line, pipe) != nullptr && std::string_view(line).size() >= 32) {
      out.assign(line, 32);
    }
    pclose(pipe);
  }
  std::filesystem::remove(file);
  return out;
}

}  // namespace

TEST(Md5, GivesThePublishedDigests) {
  EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(HexOf("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, MatchesTheSystemToolAtEveryLengthAndCut) {
  std::mt19937 random(11);
  for (std::size_t length : {1U, 55U, 56U, 63U, 64U, 65U, 119U, 120U, 127U, 128U, 1000U, 100003U}) {
    std::vector<std::uint8_t> bytes(length);
    for (std::uint8_t& b : bytes) {
      b = static_cast<std::uint8_t>(random());
    }
    const std::string expected = SystemDigest(bytes);
    if (expected.empty()) {
      GTEST_SKIP() << "md5sum is not installed";
    }
    EXPECT_EQ(XpMd5::Hex(XpMd5::Of(bytes)), expected) << length;
    for (std::size_t piece = 1; piece <= 70 && length <= 1000; ++piece) {
      XpMd5 hash;
      for (std::size_t at = 0; at < length; at += piece) {
        hash.Update(std::span<const std::uint8_t>(bytes).subspan(at, std::min(piece, length - at)));
      }
      ASSERT_EQ(XpMd5::Hex(hash.Finish()), expected) << length << " in pieces of " << piece;
    }
  }
}
