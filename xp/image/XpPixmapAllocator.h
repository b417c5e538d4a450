#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "xp/base/XpStatus.h"

/// The header that describes a bitmap's pixel memory to a drawing layer:
/// width, a negative height for rows stored top row first, bits per pixel and
/// the image size in bytes (stride x height).
struct XpBitmapHeader {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bitsPerPixel = 0;
  std::uint32_t imageSize = 0;
};

/// Plain pixel memory. Allocate replaces any old block; the block is freed by
/// Free or the destructor.
class XpDefaultAllocator {
 public:
  XpDefaultAllocator() = default;
  XpDefaultAllocator(const XpDefaultAllocator&) = delete;
  XpDefaultAllocator& operator=(const XpDefaultAllocator&) = delete;
  XpDefaultAllocator(XpDefaultAllocator&&) noexcept = default;
  XpDefaultAllocator& operator=(XpDefaultAllocator&&) noexcept = default;
  virtual ~XpDefaultAllocator() = default;

  /// Obtains `bytes` bytes of uninitialised memory for a `width` x `height`
  /// image; 0x8401 (and no block) when they cannot be had.
  [[nodiscard]] virtual XpStatus Allocate(std::size_t bytes, int width, int height, std::size_t stride);
  virtual void Free();
  [[nodiscard]] std::uint8_t* Data() const { return m_block.get(); }

 private:
  std::unique_ptr<std::uint8_t[]> m_block;
};

/// Memory for a bitmap of 24 or 32 bits per pixel that also keeps the bitmap
/// header. Designed with two kinds: one backed by a drawable bitmap object and
/// one by a plain block; this library never draws, so both take plain memory
/// of the same layout and `HasHandle` only tells which kind was asked for.
class XpBitmapAllocator : public XpDefaultAllocator {
 public:
  XpBitmapAllocator(int bitsPerPixel, bool withHandle) : m_bitsPerPixel(bitsPerPixel), m_withHandle(withHandle) {}

  [[nodiscard]] XpStatus Allocate(std::size_t bytes, int width, int height, std::size_t stride) override;
  void Free() override;

  [[nodiscard]] const XpBitmapHeader& Header() const { return m_header; }
  [[nodiscard]] bool HasHandle() const { return m_withHandle; }

 private:
  int m_bitsPerPixel;
  bool m_withHandle;
  XpBitmapHeader m_header;
};

class XpBitmapAllocator24 final : public XpBitmapAllocator {
 public:
  XpBitmapAllocator24() : XpBitmapAllocator(24, true) {}
};

class XpBitmapAllocator24NoHandle final : public XpBitmapAllocator {
 public:
  XpBitmapAllocator24NoHandle() : XpBitmapAllocator(24, false) {}
};

class XpBitmapAllocator32 final : public XpBitmapAllocator {
 public:
  XpBitmapAllocator32() : XpBitmapAllocator(32, true) {}
};

class XpBitmapAllocator32NoHandle final : public XpBitmapAllocator {
 public:
  XpBitmapAllocator32NoHandle() : XpBitmapAllocator(32, false) {}
};
