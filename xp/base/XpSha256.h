#pragma once

#include <array>
#include <cstdint>

#include "xp/base/XpBlockHash.h"

/// The SHA-256 block function: big-endian words and length.
struct XpSha256Rounds {
  static constexpr std::array<std::uint32_t, 8> kStart = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  static constexpr bool kBigEndian = true;
  static void Compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* block);
};

/// SHA-256 over a stream of bytes, fed in any number of pieces.
using XpSha256 = XpBlockHash<XpSha256Rounds>;
