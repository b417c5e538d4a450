#include "xp/image/XpPixmapAllocator.h"

#include <limits>
#include <new>

XpStatus XpDefaultAllocator::Allocate(std::size_t bytes, int /*width*/, int /*height*/, std::size_t /*stride*/) {
  m_block.reset();
  if (bytes == 0) {
    return XpStatus::OutOfMemory;
  }
  m_block.reset(new (std::nothrow) std::uint8_t[bytes]);
  return m_block != nullptr ? XpStatus::Ok : XpStatus::OutOfMemory;
}

void XpDefaultAllocator::Free() { m_block.reset(); }

XpStatus XpBitmapAllocator::Allocate(std::size_t bytes, int width, int height, std::size_t stride) {
  m_header = {};
  // The header holds the image size in 32 bits, as the drawing layer expects.
  if (bytes > std::numeric_limits<std::uint32_t>::max() || stride * static_cast<std::size_t>(height) != bytes) {
    XpDefaultAllocator::Free();
    return XpStatus::OutOfMemory;
  }
  if (auto st = XpDefaultAllocator::Allocate(bytes, width, height, stride); st != XpStatus::Ok) {
    return st;
  }
  m_header.width = width;
  m_header.height = -height;
  m_header.bitsPerPixel = static_cast<std::uint16_t>(m_bitsPerPixel);
  m_header.imageSize = static_cast<std::uint32_t>(bytes);
  return XpStatus::Ok;
}

void XpBitmapAllocator::Free() {
  XpDefaultAllocator::Free();
  m_header = {};
}
