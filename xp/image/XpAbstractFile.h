#pragma once

#include <cstdint>
#include <string>

#include "xp/base/XpStatus.h"

/// A seekable byte stream with 64-bit positions. Every reader and writer of
/// the tag tree and the JPEG coder works on one of these, so the same code
/// runs over disk files and memory buffers.
class XpAbstractFile {
 public:
  /// Open flags.
  static constexpr unsigned kRead = 1;
  static constexpr unsigned kWrite = 2;
  static constexpr unsigned kReadWrite = kRead | kWrite;
  static constexpr unsigned kSequential = 0x10000;  ///< hint: read front to back
  static constexpr unsigned kRandom = 0x20000;      ///< hint: random access

  /// Seek origins.
  static constexpr int kBegin = 0;
  static constexpr int kCurrent = 1;
  static constexpr int kEnd = 2;

  XpAbstractFile() = default;
  XpAbstractFile(const XpAbstractFile&) = delete;
  XpAbstractFile& operator=(const XpAbstractFile&) = delete;
  virtual ~XpAbstractFile() = default;

  /// A name for messages: the path of a disk file, "Memory File(...)" for memory.
  [[nodiscard]] virtual std::string GetDisplayName() const = 0;
  /// Length in bytes; -1 when it cannot be found out.
  [[nodiscard]] virtual std::int64_t GetLength() = 0;
  [[nodiscard]] virtual XpStatus Open(unsigned flags) = 0;
  virtual XpStatus Close() = 0;
  /// Reads up to `count` bytes at the position and advances it; `*got` (may be
  /// null) receives the count actually read.
  [[nodiscard]] virtual XpStatus Read(void* buffer, std::uint64_t count, std::uint64_t* got) = 0;
  /// Writes `count` bytes at the position and advances it.
  [[nodiscard]] virtual XpStatus Write(const void* buffer, std::uint64_t count, std::uint64_t* written) = 0;
  virtual XpStatus Flush() { return XpStatus::Ok; }
  [[nodiscard]] virtual XpStatus Seek(std::int64_t offset, int origin) = 0;
  [[nodiscard]] virtual std::int64_t GetPosition() const = 0;
  [[nodiscard]] virtual XpStatus SetLength(std::uint64_t length) = 0;

  /// Reads exactly `count` bytes or answers 0x8103.
  [[nodiscard]] XpStatus ReadExact(void* buffer, std::uint64_t count);
  /// Writes exactly `count` bytes or answers the failure.
  [[nodiscard]] XpStatus WriteAll(const void* buffer, std::uint64_t count);
};
