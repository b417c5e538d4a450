#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "xp/image/XpAbstractFile.h"

/// A memory buffer as a stream: owned and growable, or laid over outside bytes
/// without copying them (such a file is only read).
class XpMemoryFile final : public XpAbstractFile {
 public:
  static constexpr std::uint64_t kGrowStep = 65536;
  /// The largest length a memory file can reach; writing or sizing past it
  /// fails like running out of memory, without trying to allocate.
  static constexpr std::uint64_t kMaxLength = std::uint64_t{1} << 40;

  /// An empty, owned, growable buffer.
  XpMemoryFile() = default;
  /// Laid over outside bytes; they are not copied and must outlive the file.
  explicit XpMemoryFile(std::span<const std::uint8_t> bytes);
  /// Owns the given bytes; the file can grow.
  explicit XpMemoryFile(std::vector<std::uint8_t> bytes);

  [[nodiscard]] std::string GetDisplayName() const override;
  [[nodiscard]] std::int64_t GetLength() override { return static_cast<std::int64_t>(m_length); }
  [[nodiscard]] XpStatus Open(unsigned /*flags*/) override { return XpStatus::Ok; }
  XpStatus Close() override { return XpStatus::Ok; }
  /// Reads up to the bytes remaining; a short read is not an error, but a read
  /// at or past the end answers 0x8103 with nothing read.
  [[nodiscard]] XpStatus Read(void* buffer, std::uint64_t count, std::uint64_t* got) override;
  /// Writes at the position, growing the buffer by the capacity rule (the
  /// needed size rounded down to a multiple of 65536, plus 65536); 0x8109 when
  /// it cannot grow, 0x8108 for a file laid over outside bytes. A gap between
  /// the old end and the position reads as zeros.
  [[nodiscard]] XpStatus Write(const void* buffer, std::uint64_t count, std::uint64_t* written) override;
  /// Any position at or after the start is accepted, also past the end.
  [[nodiscard]] XpStatus Seek(std::int64_t offset, int origin) override;
  [[nodiscard]] std::int64_t GetPosition() const override { return static_cast<std::int64_t>(m_position); }
  /// Truncates or extends (with zeros) by the capacity rule: 0x8101 when there
  /// is no buffer yet, 0x8401 when memory runs out, 0x8108 to extend a file laid
  /// over outside bytes. A position past the new length moves to it.
  [[nodiscard]] XpStatus SetLength(std::uint64_t length) override;

  /// The bytes written or laid over (Length() of them are valid).
  [[nodiscard]] const std::uint8_t* Data() const;
  [[nodiscard]] std::span<const std::uint8_t> Bytes() const { return {Data(), static_cast<size_t>(m_length)}; }
  [[nodiscard]] std::uint64_t Capacity() const;
  /// Moves the contents out as a vector (copies when laid over outside bytes);
  /// the file is empty afterwards.
  std::vector<std::uint8_t> TakeBytes();

 private:
  [[nodiscard]] XpStatus Reserve(std::uint64_t needed);

  std::vector<std::uint8_t> m_owned;  // size() is the capacity
  std::span<const std::uint8_t> m_outside;
  bool m_isOutside = false;
  std::uint64_t m_length = 0;
  std::uint64_t m_position = 0;
};
