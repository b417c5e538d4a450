#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

/// SHA-256 over a stream of bytes, fed in any number of pieces.
class XpSha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  XpSha256();
  void Update(std::span<const std::uint8_t> bytes);
  /// The digest of everything fed; the object then starts over.
  [[nodiscard]] Digest Finish();

  /// The digest of `bytes` in one step.
  [[nodiscard]] static Digest Of(std::span<const std::uint8_t> bytes);
  /// 64 lower-case hex digits.
  [[nodiscard]] static std::string Hex(const Digest& digest);

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> m_state{};
  std::array<std::uint8_t, 64> m_buffer{};
  std::size_t m_buffered = 0;
  std::uint64_t m_length = 0;
};
