#pragma once

#include <string>

/// Reads the machine-wide settings that say where the suite's browser program
/// is installed: group "Browser" with the value "CurrentVersion", and the
/// subgroup of that name with "InstalledLocation" and "ExeName". The window
/// layer implements it over the machine-wide settings file; tests use fakes.
class BrowserSettingsReader {
 public:
  BrowserSettingsReader() = default;
  BrowserSettingsReader(const BrowserSettingsReader&) = delete;
  BrowserSettingsReader& operator=(const BrowserSettingsReader&) = delete;
  virtual ~BrowserSettingsReader() = default;

  /// The text value `name` of `group` ("Browser", or "Browser/" and a version);
  /// empty when the group or the value is missing.
  [[nodiscard]] virtual std::string ReadText(const std::string& group, const std::string& name) const = 0;
};
