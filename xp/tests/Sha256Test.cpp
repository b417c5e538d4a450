// SHA-256 against the published examples and against the system's own tool, over every way of
// cutting the input into pieces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "xp/base/XpSha256.h"

namespace {

std::string HexOf(std::string_view text) {
  return XpSha256::Hex(XpSha256::Of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

// What sha256sum says of `bytes`, or empty when the tool is missing.
std::string SystemDigest(const std::vector<std::uint8_t>& bytes) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / ("tv_sha256_" + std::to_string(getpid()));
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::string out;
  if (FILE* pipe = popen(("sha256sum " + file.string() + " 2>/dev/null").c_str(), "r"); pipe != nullptr) {
    char line[160] = {};
    if (std::fgets(line, sizeof line, pipe) != nullptr) {
      out.assign(line, 64);
    }
    pclose(pipe);
  }
  std::filesystem::remove(file);
  return out;
}

}  // namespace

TEST(Sha256, GivesThePublishedDigests) {
  EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Sha256, MatchesTheSystemToolAtEveryLengthAndCut) {
  std::mt19937 random(7);
  for (std::size_t length : {1U, 55U, 56U, 63U, 64U, 65U, 119U, 120U, 127U, 128U, 1000U, 100003U}) {
    std::vector<std::uint8_t> bytes(length);
    for (std::uint8_t& b : bytes) {
      b = static_cast<std::uint8_t>(random());
    }
    const std::string expected = SystemDigest(bytes);
    if (expected.empty()) {
      GTEST_SKIP() << "sha256sum is not installed";
    }
    EXPECT_EQ(XpSha256::Hex(XpSha256::Of(bytes)), expected) << length;
    // The same bytes fed in pieces of every size from 1 to 70 give the same digest.
    for (std::size_t piece = 1; piece <= 70 && length <= 1000; ++piece) {
      XpSha256 hash;
      for (std::size_t at = 0; at < length; at += piece) {
        hash.Update(std::span<const std::uint8_t>(bytes).subspan(at, std::min(piece, length - at)));
      }
      ASSERT_EQ(XpSha256::Hex(hash.Finish()), expected) << length << " in pieces of " << piece;
    }
  }
}
