#pragma once

#include <array>
#include <cstdint>

#include "xp/base/XpBlockHash.h"

/// The MD5 block function: little-endian words and length.
struct XpMd5Rounds {
  static constexpr std::array<std::uint32_t, 4> kStart = {0x67452301U, 0xefcdab89U, 0x98badcfeU, 0x10325476U};
  static constexpr bool kBigEndian = false;
  static void Compress(std::array<std::uint32_t, 4>& state, const std::uint8_t* block);
};

/// MD5 over a stream of bytes, fed in any number of pieces. Only for formats
/// that carry an MD5 digest of their own data (it is no protection against
/// deliberate changes).
using XpMd5 = XpBlockHash<XpMd5Rounds>;
