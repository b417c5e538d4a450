#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "xp/base/XpCrc32.h"

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Crc32, GivesThePublishedCheckValuesWholeAndInPieces) {
  // The check value of the CRC-32 used by PNG and ZIP, and two more known sums.
  EXPECT_EQ(XpCrc32(Bytes("123456789")), 0xCBF43926u);
  EXPECT_EQ(XpCrc32(Bytes("")), 0u);
  EXPECT_EQ(XpCrc32(Bytes("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
  // A PNG IEND chunk's CRC covers its type alone.
  EXPECT_EQ(XpCrc32(Bytes("IEND")), 0xAE426082u);
  const std::string_view text = "The quick brown fox jumps over the lazy dog";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    EXPECT_EQ(XpCrc32(Bytes(text.substr(cut)), XpCrc32(Bytes(text.substr(0, cut)))), 0x414FA339u) << cut;
  }
}

}  // namespace
