// MD5 and SHA-256 against their published examples and against the system's
// own tools, over every way of cutting the input into pieces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "xp/base/XpMd5.h"
#include "xp/base/XpSha256.h"

namespace {

template <class Hash>
struct Known;

template <>
struct Known<XpMd5> {
  static constexpr const char* kTool = "md5sum";
  static std::vector<std::pair<std::string, std::string>> Examples() {
    return {{"", "d41d8cd98f00b204e9800998ecf8427e"},
            {"a", "0cc175b9c0f1b6a831c399e269772661"},
            {"abc", "900150983cd24fb0d6963f7d28e17f72"},
            {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
            {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
             "57edf4a22be3c955ac49da2e2107b67a"}};
  }
};

template <>
struct Known<XpSha256> {
  static constexpr const char* kTool = "sha256sum";
  static std::vector<std::pair<std::string, std::string>> Examples() {
    return {{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
            {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
            {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
             "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}};
  }
};

// What the system tool says of `bytes`, or empty when the tool is missing.
std::string SystemDigest(const char* tool, const std::vector<std::uint8_t>& bytes, std::size_t hexLength) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / (std::string("tv_") + tool + "_" + std::to_string(getpid()));
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::string out;
  if (FILE* pipe = popen((std::string(tool) + " " + file.string() + " 2>/dev/null").c_str(), "r"); pipe != nullptr) {
    char line[200] = {};
    if (std::fgets(line, sizeof line, pipe) != nullptr && std::string_view(line).size() >= hexLength) {
      out.assign(line, hexLength);
    }
    pclose(pipe);
  }
  std::filesystem::remove(file);
  return out;
}

template <class Hash>
class BlockHash : public ::testing::Test {};

using Hashes = ::testing::Types<XpMd5, XpSha256>;
TYPED_TEST_SUITE(BlockHash, Hashes);

}  // namespace

TYPED_TEST(BlockHash, GivesThePublishedDigests) {
  for (const auto& [text, digest] : Known<TypeParam>::Examples()) {
    EXPECT_EQ(TypeParam::Hex(TypeParam::Of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})), digest)
        << '"' << text << '"';
  }
}

TYPED_TEST(BlockHash, MatchesTheSystemToolAtEveryLengthAndCut) {
  const std::size_t hexLength = std::tuple_size_v<typename TypeParam::Digest> * 2;
  std::mt19937 random(11);
  for (std::size_t length : {1U, 55U, 56U, 63U, 64U, 65U, 119U, 120U, 127U, 128U, 1000U, 100003U}) {
    std::vector<std::uint8_t> bytes(length);
    for (std::uint8_t& b : bytes) {
      b = static_cast<std::uint8_t>(random());
    }
    const std::string expected = SystemDigest(Known<TypeParam>::kTool, bytes, hexLength);
    if (expected.empty()) {
      GTEST_SKIP() << Known<TypeParam>::kTool << " is not installed";
    }
    EXPECT_EQ(TypeParam::Hex(TypeParam::Of(bytes)), expected) << length;
    // The same bytes fed in pieces of every size from 1 to 70 give the same
    // digest, and a finished hash starts over.
    TypeParam hash;
    for (std::size_t piece = 1; piece <= 70 && length <= 1000; ++piece) {
      for (std::size_t at = 0; at < length; at += piece) {
        hash.Update(std::span<const std::uint8_t>(bytes).subspan(at, std::min(piece, length - at)));
      }
      ASSERT_EQ(TypeParam::Hex(hash.Finish()), expected) << length << " in pieces of " << piece;
    }
  }
}
