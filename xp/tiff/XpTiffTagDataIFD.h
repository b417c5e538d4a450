#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "xp/tiff/XpTiffTagDataBase.h"

class XpTiffTagIFD;

/// An entry that points at child directories (SubIFDs, Exif, GPS,
/// interoperability, a maker note parsed as a directory, a maker sub-IFD).
/// It keeps the count 32-bit offsets as read and owns the child directories,
/// normally one per non-zero offset. The tree's root is also one of these:
/// its children are the top-level directories IFD0, IFD1, ...
class XpTiffTagDataIFD final : public XpTiffTagDataBase {
 public:
  /// `count` zeroed offsets and no children. Throws std::bad_alloc.
  XpTiffTagDataIFD(std::uint16_t tag, std::uint32_t count);
  ~XpTiffTagDataIFD() override;

  [[nodiscard]] std::uint16_t GetType() const override { return 0x8004; }
  [[nodiscard]] std::uint32_t GetUnitSize() const override { return 4; }
  [[nodiscard]] std::uint32_t GetSwapUnit() const override { return 4; }
  /// The offset at `index` as decimal text.
  [[nodiscard]] std::string ToText(std::uint32_t index) const override;
  /// Deep copy, children included; null when memory runs out.
  [[nodiscard]] std::unique_ptr<XpTiffTagDataBase> Clone() const override;

  /// The offset read from the file at `index` (0 when out of range).
  [[nodiscard]] std::uint32_t GetOffset(std::uint32_t index) const;

  [[nodiscard]] std::size_t ChildCount() const { return m_children.size(); }
  /// The child at `index`, or null.
  [[nodiscard]] XpTiffTagIFD* GetChild(std::size_t index) const;
  /// Appends a child; answers it, or null when `child` is null or memory runs out.
  XpTiffTagIFD* AddChild(std::unique_ptr<XpTiffTagIFD> child);
  /// Destroys the child at `index`; false when out of range.
  bool RemoveChild(std::size_t index);
  /// Destroys every child.
  void ClearChildren();
  /// The owned children, for code that reorders or rebuilds them.
  [[nodiscard]] std::vector<std::unique_ptr<XpTiffTagIFD>>& Children() { return m_children; }
  [[nodiscard]] const std::vector<std::unique_ptr<XpTiffTagIFD>>& Children() const { return m_children; }

 private:
  std::vector<std::unique_ptr<XpTiffTagIFD>> m_children;
};

/// Makes a child-directory entry with `count` zeroed offsets; null when memory runs out.
[[nodiscard]] std::unique_ptr<XpTiffTagDataIFD> XpCreateTiffTagDataIFD(std::uint16_t tag, std::uint32_t count);
