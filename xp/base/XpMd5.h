#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

/// MD5 over a stream of bytes, fed in any number of pieces. Only for formats
/// that carry an MD5 digest of their own data (it is no protection against
/// deliberate changes).
class XpMd5 {
 public:
  using Digest = std::array<std::uint8_t, 16>;

  XpMd5();
  void Update(std::span<const std::uint8_t> bytes);
  /// The digest of everything fed; the object then starts over.
  [[nodiscard]] Digest Finish();

  /// The digest of `bytes` in one step.
  [[nodiscard]] static Digest Of(std::span<const std::uint8_t> bytes);
  /// 32 lower-case hex digits.
  [[nodiscard]] static std::string Hex(const Digest& digest);

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 4> m_state{};
  std::array<std::uint8_t, 64> m_buffer{};
  std::size_t m_buffered = 0;
  std::uint64_t m_length = 0;
};
