#pragma once

#include "xp/ini/XpIniElement.h"

/// A 64-bit floating-point node, element "real".
class XpIniReal final : public XpIniElement {
 public:
  explicit XpIniReal(double value = 0.0) : m_value(value) {}

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::Real; }
  [[nodiscard]] XpStatus GetReal(double& out) const override;
  [[nodiscard]] XpStatus SetReal(double value) override;

 private:
  double m_value;
};
