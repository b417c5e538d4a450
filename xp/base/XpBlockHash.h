#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>

#include "xp/text/XpHexDigits.h"

/// A hash over a stream of bytes fed in any number of pieces, of the kind
/// that cuts its input into 64-byte blocks and pads the last one with 0x80,
/// zeros and the input's length in bits. `Rounds` supplies what differs:
/// `kStart`, the starting state (32-bit words); `kBigEndian`, the order of the
/// bytes in the length and in each state word of the digest; and
/// `Compress(state, block)`, which folds one 64-byte block into the state.
template <class Rounds>
class XpBlockHash {
 public:
  using State = std::remove_const_t<decltype(Rounds::kStart)>;
  using Digest = std::array<std::uint8_t, sizeof(State)>;

  void Update(std::span<const std::uint8_t> bytes) {
    m_length += bytes.size();
    if (m_buffered != 0) {
      const std::size_t take = std::min(bytes.size(), m_buffer.size() - m_buffered);
      std::memcpy(m_buffer.data() + m_buffered, bytes.data(), take);
      m_buffered += take;
      bytes = bytes.subspan(take);
      if (m_buffered < m_buffer.size()) {
        return;
      }
      Rounds::Compress(m_state, m_buffer.data());
      m_buffered = 0;
    }
    for (; bytes.size() >= m_buffer.size(); bytes = bytes.subspan(m_buffer.size())) {
      Rounds::Compress(m_state, bytes.data());
    }
    if (!bytes.empty()) {
      std::memcpy(m_buffer.data(), bytes.data(), bytes.size());
    }
    m_buffered = bytes.size();
  }

  /// The digest of everything fed; the object then starts over.
  [[nodiscard]] Digest Finish() {
    const std::uint64_t bits = m_length * 8;
    std::array<std::uint8_t, 72> tail{};
    tail[0] = 0x80;
    // Padding up to 56 bytes past a block boundary, then the length in bits.
    const std::size_t pad = (m_buffered < 56 ? 56 : 120) - m_buffered;
    for (std::size_t i = 0; i < 8; ++i) {
      tail[pad + i] = static_cast<std::uint8_t>(bits >> (Rounds::kBigEndian ? 56 - 8 * i : 8 * i));
    }
    Update(std::span<const std::uint8_t>(tail.data(), pad + 8));
    Digest digest{};
    for (std::size_t i = 0; i < m_state.size(); ++i) {
      for (std::size_t j = 0; j < 4; ++j) {
        digest[4 * i + j] = static_cast<std::uint8_t>(m_state[i] >> (Rounds::kBigEndian ? 24 - 8 * j : 8 * j));
      }
    }
    *this = XpBlockHash();
    return digest;
  }

  /// The digest of `bytes` in one step.
  [[nodiscard]] static Digest Of(std::span<const std::uint8_t> bytes) {
    XpBlockHash hash;
    hash.Update(bytes);
    return hash.Finish();
  }

  /// The digest as lower-case hex digits, two a byte.
  [[nodiscard]] static std::string Hex(const Digest& digest) {
    std::string out;
    out.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
      XpAppendHex(out, byte, 2);
    }
    return out;
  }

 private:
  State m_state = Rounds::kStart;
  std::array<std::uint8_t, 64> m_buffer{};
  std::size_t m_buffered = 0;
  std::uint64_t m_length = 0;
};
