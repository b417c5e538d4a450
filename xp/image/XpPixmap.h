#pragma once

// Pixmaps: in-memory images whose layout is described at compile time by an
// XpPixmapDesc (an allocator and up to four planes). All components are
// unsigned 8-bit; rows are stored top row first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>
#include <utility>

#include "xp/base/XpStatus.h"
#include "xp/image/XpPixmapAllocator.h"

// ---------------------------------------------------------------------------
// Pixel types. kFormat is the pixel-format code a plane reports; the layouts
// that no drawing layer knows report 0.

struct XpPixelNull {
  static constexpr int kBitsPerPixel = 0;
  static constexpr int kComponents = 0;
  static constexpr int kFormat = 0;
};
struct XpPixelBGR {
  static constexpr int kBitsPerPixel = 24;
  static constexpr int kComponents = 3;
  static constexpr int kFormat = 7;
};
struct XpPixelBGRA {
  static constexpr int kBitsPerPixel = 32;
  static constexpr int kComponents = 4;
  static constexpr int kFormat = 15;
};
struct XpPixelYCbCr {
  static constexpr int kBitsPerPixel = 24;
  static constexpr int kComponents = 3;
  static constexpr int kFormat = 0;
};
struct XpPixelY {
  static constexpr int kBitsPerPixel = 8;
  static constexpr int kComponents = 1;
  static constexpr int kFormat = 0;
};
struct XpPixelCb {
  static constexpr int kBitsPerPixel = 8;
  static constexpr int kComponents = 1;
  static constexpr int kFormat = 0;
};
struct XpPixelCr {
  static constexpr int kBitsPerPixel = 8;
  static constexpr int kComponents = 1;
  static constexpr int kFormat = 0;
};

/// One plane place of a layout: pixel type, row alignment in bytes, and the
/// horizontal and vertical subsampling.
template <class Pixel, int Alignment, int SubsampleH, int SubsampleV>
struct XpPlaneDesc {
  using PixelType = Pixel;
  static constexpr int kAlignment = Alignment;
  static constexpr int kSubsampleH = SubsampleH;
  static constexpr int kSubsampleV = SubsampleV;
  static constexpr bool kPresent = Pixel::kBitsPerPixel != 0;
  static_assert(Alignment > 0 && SubsampleH > 0 && SubsampleV > 0);
  static_assert(Pixel::kBitsPerPixel % 8 == 0);
};

/// A plane place without a plane.
using XpPlaneNull = XpPlaneDesc<XpPixelNull, 1, 32, 32>;

/// A pixmap layout: the allocator and four plane places.
template <class Allocator, class Plane0, class Plane1 = XpPlaneNull, class Plane2 = XpPlaneNull,
          class Plane3 = XpPlaneNull>
struct XpPixmapDesc {
  using AllocatorType = Allocator;
  using Planes = std::tuple<Plane0, Plane1, Plane2, Plane3>;
  static constexpr int kPlaneCount =
      int{Plane0::kPresent} + int{Plane1::kPresent} + int{Plane2::kPresent} + int{Plane3::kPresent};
};

// ---------------------------------------------------------------------------
// Planes

/// One plane of a pixmap: its first row, size and row stride. The memory
/// belongs to the pixmap.
class XpPlaneBase {
 public:
  XpPlaneBase(std::uint8_t* data, int width, int height, std::size_t stride)
      : m_data(data), m_width(width), m_height(height), m_stride(stride) {}
  XpPlaneBase(const XpPlaneBase&) = delete;
  XpPlaneBase& operator=(const XpPlaneBase&) = delete;

  [[nodiscard]] virtual int BitsPerPixel() const = 0;
  [[nodiscard]] virtual int BitsPerComponent() const = 0;
  [[nodiscard]] virtual int Components() const = 0;
  [[nodiscard]] virtual std::size_t Stride() const { return m_stride; }
  [[nodiscard]] virtual int PixelFormat() const = 0;
  virtual ~XpPlaneBase() = default;

  [[nodiscard]] std::uint8_t* Data() const { return m_data; }
  [[nodiscard]] int Width() const { return m_width; }
  [[nodiscard]] int Height() const { return m_height; }
  /// Row `y` (0 = top); the caller keeps y inside the plane.
  [[nodiscard]] std::uint8_t* Row(int y) const { return m_data + static_cast<std::size_t>(y) * m_stride; }

 private:
  std::uint8_t* m_data;
  int m_width;
  int m_height;
  std::size_t m_stride;
};

template <class PlaneDesc>
class XpPlane final : public XpPlaneBase {
 public:
  using XpPlaneBase::XpPlaneBase;
  using Pixel = typename PlaneDesc::PixelType;

  [[nodiscard]] int BitsPerPixel() const override { return Pixel::kBitsPerPixel; }
  [[nodiscard]] int BitsPerComponent() const override { return 8; }
  [[nodiscard]] int Components() const override { return Pixel::kComponents; }
  [[nodiscard]] int PixelFormat() const override { return Pixel::kFormat; }
};

// ---------------------------------------------------------------------------
// Pixmaps

/// What every pixmap has: the pixel memory, its size, the image size, two
/// further integers for the caller's use, and the table of four planes.
class XpPixmapBase {
 public:
  /// The largest pixel memory one pixmap may take. Larger requests are
  /// answered like a failed allocation instead of being tried.
  static constexpr std::size_t kMaxBytes = std::size_t{4} << 30;

  XpPixmapBase() = default;
  XpPixmapBase(const XpPixmapBase&) = delete;
  XpPixmapBase& operator=(const XpPixmapBase&) = delete;
  virtual ~XpPixmapBase() = default;

  /// Releases any old memory, allocates a `width` x `height` image (contents
  /// undefined) and builds the planes. 0x8000 for a size that is not positive,
  /// 0x8401 when the memory cannot be had; the pixmap is then empty.
  [[nodiscard]] virtual XpStatus Create(int width, int height) = 0;
  /// Frees the memory and the planes; width, height and size become 0.
  virtual void Release() = 0;
  /// A new pixmap of the same class and size with the pixel bytes copied; null
  /// when memory runs out or this pixmap is empty.
  [[nodiscard]] virtual std::unique_ptr<XpPixmapBase> Clone() const = 0;
  [[nodiscard]] virtual int PlaneCount() const = 0;
  /// The plane at `index`, or null for an empty pixmap or a place without one.
  [[nodiscard]] virtual XpPlaneBase* Plane(int index) const;
  [[nodiscard]] virtual int BitsPerPixel(int index) const;
  [[nodiscard]] virtual int BitsPerComponent(int index) const;
  [[nodiscard]] virtual int Components(int index) const;
  [[nodiscard]] virtual int PixelFormat(int index) const;
  [[nodiscard]] virtual int GetUserValue1() const { return m_userValues[0]; }
  [[nodiscard]] virtual int GetUserValue2() const { return m_userValues[1]; }

  void SetUserValues(int first, int second) { m_userValues = {first, second}; }
  [[nodiscard]] bool IsEmpty() const { return m_data == nullptr; }
  [[nodiscard]] std::uint8_t* Data() const { return m_data; }
  [[nodiscard]] std::size_t Size() const { return m_size; }
  [[nodiscard]] int Width() const { return m_width; }
  [[nodiscard]] int Height() const { return m_height; }
  /// Stride and rows of the first plane, the whole image for interleaved layouts.
  [[nodiscard]] std::size_t Stride() const { return m_planes[0] ? m_planes[0]->Stride() : 0; }
  [[nodiscard]] std::uint8_t* Row(int y) const { return m_planes[0]->Row(y); }

 protected:
  void ResetFields();
  void SwapFields(XpPixmapBase& other) noexcept;

  std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
  int m_width = 0;
  int m_height = 0;
  std::array<int, 2> m_userValues{0, 0};
  std::array<std::unique_ptr<XpPlaneBase>, 4> m_planes;
};

/// Bytes of one row of a plane of `width` pixels: padded up to the plane's
/// alignment. Answers false when the numbers overflow.
[[nodiscard]] bool XpPlaneStride(int width, int bitsPerPixel, int alignment, std::size_t* stride);

template <class Desc>
class XpPixmap final : public XpPixmapBase {
 public:
  using Allocator = typename Desc::AllocatorType;

  XpPixmap() = default;
  XpPixmap(XpPixmap&& other) noexcept { Swap(other); }
  XpPixmap& operator=(XpPixmap&& other) noexcept {
    if (this != &other) {
      Release();
      Swap(other);
    }
    return *this;
  }
  ~XpPixmap() override { Release(); }

  [[nodiscard]] XpStatus Create(int width, int height) override {
    Release();
    if (width <= 0 || height <= 0) {
      return XpStatus::Failed;
    }
    std::array<PlaneLayout, 4> layouts{};
    std::size_t total = 0;
    if (!Layout<0>(width, height, layouts, total) || total > kMaxBytes) {
      return XpStatus::OutOfMemory;
    }
    if (auto st = m_allocator.Allocate(total, width, height, layouts[0].stride); st != XpStatus::Ok) {
      return st;
    }
    m_data = m_allocator.Data();
    m_size = total;
    m_width = width;
    m_height = height;
    if (!BuildPlanes<0>(layouts)) {
      Release();
      return XpStatus::OutOfMemory;
    }
    return XpStatus::Ok;
  }

  void Release() override {
    for (auto& plane : m_planes) {
      plane.reset();
    }
    m_allocator.Free();
    ResetFields();
  }

  [[nodiscard]] std::unique_ptr<XpPixmapBase> Clone() const override { return CloneSame(); }

  /// Clone with the concrete type.
  [[nodiscard]] std::unique_ptr<XpPixmap> CloneSame() const {
    if (IsEmpty()) {
      return nullptr;
    }
    std::unique_ptr<XpPixmap> copy(new (std::nothrow) XpPixmap);
    if (copy == nullptr || copy->Create(m_width, m_height) != XpStatus::Ok) {
      return nullptr;
    }
    std::memcpy(copy->m_data, m_data, m_size);
    copy->m_userValues = m_userValues;
    return copy;
  }

  [[nodiscard]] int PlaneCount() const override { return Desc::kPlaneCount; }

  /// Exchanges the whole contents (memory, planes, sizes) with `other`; the
  /// operations that build a result in a new pixmap use it to replace the
  /// original's memory.
  void Swap(XpPixmap& other) noexcept {
    std::swap(m_allocator, other.m_allocator);
    SwapFields(other);
  }

  [[nodiscard]] const Allocator& GetAllocator() const { return m_allocator; }

 private:
  struct PlaneLayout {
    std::size_t offset = 0;
    std::size_t stride = 0;
    int width = 0;
    int height = 0;
  };

  template <std::size_t I>
  static bool Layout(int width, int height, std::array<PlaneLayout, 4>& layouts, std::size_t& total) {
    if constexpr (I == 4) {
      return true;
    } else {
      using P = std::tuple_element_t<I, typename Desc::Planes>;
      if constexpr (P::kPresent) {
        PlaneLayout& layout = layouts[I];
        layout.width = static_cast<int>((static_cast<std::int64_t>(width) + P::kSubsampleH - 1) / P::kSubsampleH);
        layout.height = static_cast<int>((static_cast<std::int64_t>(height) + P::kSubsampleV - 1) / P::kSubsampleV);
        std::size_t bytes = 0;
        if (!XpPlaneStride(layout.width, P::PixelType::kBitsPerPixel, P::kAlignment, &layout.stride) ||
            __builtin_mul_overflow(layout.stride, static_cast<std::size_t>(layout.height), &bytes)) {
          return false;
        }
        layout.offset = total;
        if (__builtin_add_overflow(total, bytes, &total)) {
          return false;
        }
      }
      return Layout<I + 1>(width, height, layouts, total);
    }
  }

  template <std::size_t I>
  bool BuildPlanes(const std::array<PlaneLayout, 4>& layouts) {
    if constexpr (I == 4) {
      return true;
    } else {
      using P = std::tuple_element_t<I, typename Desc::Planes>;
      if constexpr (P::kPresent) {
        const PlaneLayout& layout = layouts[I];
        m_planes[I].reset(new (std::nothrow)
                              XpPlane<P>(m_data + layout.offset, layout.width, layout.height, layout.stride));
        if (m_planes[I] == nullptr) {
          return false;
        }
      }
      return BuildPlanes<I + 1>(layouts);
    }
  }

  Allocator m_allocator;
};

/// The layouts the program knows. The JPEG paths and the image operations use
/// the BGR 24 pixmap.
using XpPixmapBGR24 = XpPixmap<XpPixmapDesc<XpBitmapAllocator24NoHandle, XpPlaneDesc<XpPixelBGR, 4, 1, 1>>>;
using XpPixmapBGRA32 = XpPixmap<XpPixmapDesc<XpBitmapAllocator32, XpPlaneDesc<XpPixelBGRA, 4, 1, 1>>>;
using XpPixmapYCbCr = XpPixmap<XpPixmapDesc<XpDefaultAllocator, XpPlaneDesc<XpPixelYCbCr, 1, 1, 1>>>;
using XpPixmapYCbCrPlanar = XpPixmap<XpPixmapDesc<XpDefaultAllocator, XpPlaneDesc<XpPixelY, 1, 1, 1>,
                                                  XpPlaneDesc<XpPixelCb, 1, 2, 2>, XpPlaneDesc<XpPixelCr, 1, 2, 2>>>;
