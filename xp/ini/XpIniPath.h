#pragma once

#include <cstdint>
#include <string_view>

/// A property-list path split at its first "/": the component that this node
/// resolves and, when `hasRest`, the path that its child resolves.
struct XpIniPathStep {
  std::string_view head;
  std::string_view rest;
  bool hasRest = false;
};

/// Splits `path` at its first "/".
[[nodiscard]] XpIniPathStep XpSplitIniPath(std::string_view path);

/// Reads a signed decimal number the way the property-list reader does: blanks
/// are skipped, an optional sign is taken, reading stops at the first character
/// that is no digit, and text without digits reads as 0. Values beyond the
/// 64-bit range saturate. `used`, when given, receives the characters consumed.
[[nodiscard]] std::int64_t XpIniReadDecimal(std::string_view text, std::size_t* used = nullptr);

/// An array index component: `XpIniReadDecimal` limited to the int range (text
/// outside it reads as a number no array reaches).
[[nodiscard]] int XpIniReadIndex(std::string_view text);
