#pragma once

#include <string>
#include <string_view>

// Letter case of ASCII text (file extensions, header names, keywords), the same
// in every locale: only "A" to "Z" change, every other byte stays.

/// `c` with "A" to "Z" made lower case.
[[nodiscard]] constexpr char XpAsciiLower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// `text` with "A" to "Z" made lower case.
[[nodiscard]] inline std::string XpAsciiLowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = XpAsciiLower(c);
  }
  return out;
}
