#pragma once

#include <memory>
#include <vector>

#include "xp/ini/XpIniElement.h"

/// An ordered sequence of owned child nodes, element "array". Path components
/// are decimal indexes; text that is no number reads as 0.
class XpIniArray final : public XpIniElement {
 public:
  XpIniArray() = default;

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::Array; }
  [[nodiscard]] int GetCount() const override { return static_cast<int>(m_items.size()); }
  [[nodiscard]] XpIniElement* Find(std::string_view path) const override;
  [[nodiscard]] XpIniElement* GetAt(int index) const override;
  [[nodiscard]] XpStatus Remove(std::string_view path) override;
  [[nodiscard]] XpStatus RemoveAt(int index) override;
  [[nodiscard]] XpStatus AddElement(std::string_view path, std::unique_ptr<XpIniElement> element,
                                    XpIniElement** added = nullptr) override;
  [[nodiscard]] XpStatus InsertAt(int index, XpIniType type, std::int64_t value = 0,
                                  std::string_view text = {}) override;

  /// Places `element` before `index` (-1 or the count append); 0x8502 for any
  /// other index outside the array.
  [[nodiscard]] XpStatus InsertElement(int index, std::unique_ptr<XpIniElement> element,
                                       XpIniElement** added = nullptr);

 private:
  std::vector<std::unique_ptr<XpIniElement>> m_items;
};
