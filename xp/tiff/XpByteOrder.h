#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

/// Fixed-size unsigned numbers in a chosen byte order, read from and written
/// to a byte span at an offset. Every access is bounds-checked against the
/// span: a number whose bytes do not all lie inside it reads as 0, and a write
/// that would not fit writes nothing and answers false. Parsers still check
/// their ranges first (a number outside its container is damage, not 0); the
/// check here only makes a missed one harmless.
namespace XpBytes {

inline constexpr bool kBigEndian = true;
inline constexpr bool kLittleEndian = false;

/// True when `size` bytes from `at` lie inside a span of `length` bytes.
[[nodiscard]] constexpr bool Fits(std::size_t length, std::size_t at, std::size_t size) noexcept {
  return at <= length && size <= length - at;
}

/// The unsigned number of `size` bytes (at most 8) at `at`, or 0 when they do
/// not all lie inside `bytes`.
[[nodiscard]] constexpr std::uint64_t GetN(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size,
                                           bool bigEndian) noexcept {
  if (size > 8 || !Fits(bytes.size(), at, size)) {
    return 0;
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value = (value << 8) | bytes[at + (bigEndian ? i : size - 1 - i)];
  }
  return value;
}

[[nodiscard]] constexpr std::uint16_t Get16(std::span<const std::uint8_t> bytes, std::size_t at,
                                            bool bigEndian) noexcept {
  return static_cast<std::uint16_t>(GetN(bytes, at, 2, bigEndian));
}

[[nodiscard]] constexpr std::uint32_t Get32(std::span<const std::uint8_t> bytes, std::size_t at,
                                            bool bigEndian) noexcept {
  return static_cast<std::uint32_t>(GetN(bytes, at, 4, bigEndian));
}

[[nodiscard]] constexpr std::uint64_t Get64(std::span<const std::uint8_t> bytes, std::size_t at,
                                            bool bigEndian) noexcept {
  return GetN(bytes, at, 8, bigEndian);
}

/// Writes the low `size` bytes (at most 8) of `value` at `at`; false, with
/// nothing written, when they would not all lie inside `bytes`.
constexpr bool PutN(std::span<std::uint8_t> bytes, std::size_t at, std::size_t size, std::uint64_t value,
                    bool bigEndian) noexcept {
  if (size > 8 || !Fits(bytes.size(), at, size)) {
    return false;
  }
  for (std::size_t i = 0; i < size; ++i) {
    bytes[at + (bigEndian ? size - 1 - i : i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return true;
}

constexpr bool Put16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value, bool bigEndian) noexcept {
  return PutN(bytes, at, 2, value, bigEndian);
}

constexpr bool Put32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value, bool bigEndian) noexcept {
  return PutN(bytes, at, 4, value, bigEndian);
}

}  // namespace XpBytes
