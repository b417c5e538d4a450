#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "xp/ini/XpIniElement.h"

/// A byte block, element "data" (hexadecimal text). The bytes are held exactly
/// sized, so that many small blocks of a hostile document cost no more than their text.
class XpIniMemChunk final : public XpIniElement {
 public:
  XpIniMemChunk() = default;

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::MemChunk; }
  /// Writes the bytes into `out` at its position; nothing to write is success.
  [[nodiscard]] XpStatus GetData(XpAbstractFile& out) const override;
  /// Replaces the bytes with the whole content of `in`, read from its start.
  /// On failure the node keeps its bytes.
  [[nodiscard]] XpStatus SetData(XpAbstractFile& in) override;

  /// The bytes held, without copying.
  [[nodiscard]] std::span<const std::uint8_t> GetBytes() const { return m_bytes; }
  /// Replaces the bytes with a copy of `bytes`; on failure the node keeps its bytes.
  [[nodiscard]] XpStatus SetBytes(std::span<const std::uint8_t> bytes);

 private:
  std::vector<std::uint8_t> m_bytes;
};
