#pragma once

#include "Applications/Terravue/mapdata/BrowserSettingsReader.h"

/// Reads where the suite's browser program is installed from the machine-wide
/// settings file (group "Browser" and its version subgroup), with the
/// machine-wide reader's rules: a missing value or one of 100 characters or
/// more reads as empty.
class MachineBrowserSettings final : public BrowserSettingsReader {
 public:
  [[nodiscard]] std::string ReadText(const std::string& group, const std::string& name) const override;
};
