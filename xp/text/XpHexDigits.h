#pragma once

#include <string>

/// The value of one hexadecimal digit ("0" to "9", "a" to "f", "A" to "F"), or
/// -1 for any other character.
[[nodiscard]] constexpr int XpHexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

/// The value of two hexadecimal digits (a byte), or -1 unless both are digits.
[[nodiscard]] constexpr int XpHexByteValue(char high, char low) noexcept {
  const int h = XpHexDigitValue(high);
  const int l = XpHexDigitValue(low);
  return h < 0 || l < 0 ? -1 : h * 16 + l;
}

/// The letters hexadecimal digits above 9 are written with.
enum class XpHexCase { Lower, Upper };

/// Appends `value` as `digits` hexadecimal digits, most significant first (the
/// low `digits` * 4 bits, zero-padded).
inline void XpAppendHex(std::string& out, unsigned long long value, int digits, XpHexCase letters = XpHexCase::Lower) {
  const char* const table = letters == XpHexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out.push_back(table[(value >> shift) & 0xFu]);
  }
}
