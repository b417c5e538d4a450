#pragma once

#include <string>

#include "xp/ini/XpIniElement.h"

/// A text node (UTF-8), element "string".
class XpIniString final : public XpIniElement {
 public:
  explicit XpIniString(std::string_view text = {}) : m_text(text) {}

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::String; }
  [[nodiscard]] XpStatus GetString(std::string& out) const override;
  [[nodiscard]] XpStatus SetString(std::string_view text) override;

 private:
  std::string m_text;
};
