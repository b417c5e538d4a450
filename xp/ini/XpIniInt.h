#pragma once

#include "xp/ini/XpIniElement.h"

/// A signed 64-bit integer node, element "integer".
class XpIniInt final : public XpIniElement {
 public:
  explicit XpIniInt(std::int64_t value = 0) : m_value(value) {}

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::Int; }
  [[nodiscard]] XpStatus GetInt64(std::int64_t& out) const override;
  [[nodiscard]] XpStatus GetInt32(std::int32_t& out) const override;
  [[nodiscard]] XpStatus SetInt64(std::int64_t value) override;

 private:
  std::int64_t m_value;
};
