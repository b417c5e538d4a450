#pragma once

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "xp/tiff/XpTiffTagDataBase.h"
#include "xp/tiff/XpTiffTagTypes.h"

/// An entry of one TIFF type; `Type` is one of the twelve XpTiffTagType* classes.
template <class Type>
class XpTiffTagData final : public XpTiffTagDataBase {
 public:
  /// `count` zeroed values. Throws std::bad_alloc (see XpCreateTiffTagData).
  XpTiffTagData(std::uint16_t tag, std::uint32_t count) : XpTiffTagDataBase(tag, count, Type::kUnitSize) {}

  [[nodiscard]] std::uint16_t GetType() const override { return Type::kType; }
  [[nodiscard]] std::uint32_t GetUnitSize() const override { return Type::kUnitSize; }
  [[nodiscard]] std::uint32_t GetSwapUnit() const override { return Type::kSwapUnit; }

  [[nodiscard]] std::string ToText(std::uint32_t index) const override {
    if (index >= m_count) {
      return {};
    }
    if constexpr (Type::kType == kTiffTypeAscii) {
      // The whole text from the index up to its NUL (or the end of the value).
      const auto* begin = reinterpret_cast<const char*>(m_data.data()) + index;
      const std::size_t left = m_data.size() - index;
      const void* nul = std::memchr(begin, 0, left);
      return std::string(begin, nul != nullptr ? static_cast<const char*>(nul) - begin : left);
    } else {
      return Type::ToText(m_data.data() + static_cast<std::size_t>(index) * Type::kUnitSize);
    }
  }

  [[nodiscard]] std::unique_ptr<XpTiffTagDataBase> Clone() const override {
    try {
      return std::unique_ptr<XpTiffTagDataBase>(new XpTiffTagData(m_tag, m_count, m_data));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

 private:
  XpTiffTagData(std::uint16_t tag, std::uint32_t count, std::vector<std::uint8_t> bytes)
      : XpTiffTagDataBase(tag, count, std::move(bytes)) {}
};
