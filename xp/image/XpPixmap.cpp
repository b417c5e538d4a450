#include "xp/image/XpPixmap.h"

XpPlaneBase* XpPixmapBase::Plane(int index) const {
  if (index < 0 || index >= 4) {
    return nullptr;
  }
  return m_planes[static_cast<std::size_t>(index)].get();
}

int XpPixmapBase::BitsPerPixel(int index) const {
  const XpPlaneBase* plane = Plane(index);
  return plane != nullptr ? plane->BitsPerPixel() : 0;
}

int XpPixmapBase::BitsPerComponent(int index) const {
  const XpPlaneBase* plane = Plane(index);
  return plane != nullptr ? plane->BitsPerComponent() : 0;
}

int XpPixmapBase::Components(int index) const {
  const XpPlaneBase* plane = Plane(index);
  return plane != nullptr ? plane->Components() : 0;
}

int XpPixmapBase::PixelFormat(int index) const {
  const XpPlaneBase* plane = Plane(index);
  return plane != nullptr ? plane->PixelFormat() : 0;
}

void XpPixmapBase::ResetFields() {
  m_data = nullptr;
  m_size = 0;
  m_width = 0;
  m_height = 0;
}

void XpPixmapBase::SwapFields(XpPixmapBase& other) noexcept {
  std::swap(m_data, other.m_data);
  std::swap(m_size, other.m_size);
  std::swap(m_width, other.m_width);
  std::swap(m_height, other.m_height);
  std::swap(m_userValues, other.m_userValues);
  std::swap(m_planes, other.m_planes);
}

bool XpPlaneStride(int width, int bitsPerPixel, int alignment, std::size_t* stride) {
  if (width < 0 || bitsPerPixel <= 0 || alignment <= 0) {
    return false;
  }
  std::size_t bits = 0;
  if (__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(bitsPerPixel), &bits)) {
    return false;
  }
  const std::size_t bytes = bits / 8 + (bits % 8 != 0 ? 1 : 0);
  const auto align = static_cast<std::size_t>(alignment);
  std::size_t padded = 0;
  if (__builtin_add_overflow(bytes, align - 1, &padded)) {
    return false;
  }
  *stride = padded / align * align;
  return true;
}
