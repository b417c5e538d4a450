#pragma once

#include "xp/ini/XpIniElement.h"

/// A boolean node, element "true" or "false".
class XpIniBool final : public XpIniElement {
 public:
  explicit XpIniBool(bool value = false) : m_value(value) {}

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::Bool; }
  [[nodiscard]] XpStatus GetBool(bool& out) const override;
  [[nodiscard]] XpStatus SetBool(bool value) override;

 private:
  bool m_value;
};
