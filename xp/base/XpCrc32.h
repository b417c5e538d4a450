#pragma once

#include <cstdint>
#include <span>

/// The CRC-32 of `bytes` (polynomial 0xEDB88320, reflected, initial value and
/// final XOR all ones: the checksum of PNG chunks and ZIP entries). `crc` is
/// the checksum of the bytes before these, so that a long input can be taken
/// in pieces; 0 for the first piece.
[[nodiscard]] std::uint32_t XpCrc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) noexcept;
