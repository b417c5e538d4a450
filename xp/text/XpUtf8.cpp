#include "xp/text/XpUtf8.h"

#include <cstdint>

std::size_t XpUtf8SequenceLength(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) {
    return 0;
  }
  const auto lead = static_cast<std::uint8_t>(text[pos]);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  // The second byte's range excludes overlong forms (E0, F0), surrogates (ED)
  // and code points above U+10FFFF (F4); C0, C1 and F5 to FF never start one.
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) {
      low = 0xA0;
    } else if (lead == 0xED) {
      high = 0x9F;
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) {
      low = 0x90;
    } else if (lead == 0xF4) {
      high = 0x8F;
    }
  } else {
    return 0;
  }
  if (text.size() - pos < length) {
    return 0;
  }
  const auto second = static_cast<std::uint8_t>(text[pos + 1]);
  if (second < low || second > high) {
    return 0;
  }
  for (std::size_t k = 2; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(text[pos + k]);
    if (next < 0x80 || next > 0xBF) {
      return 0;
    }
  }
  return length;
}

bool XpIsValidUtf8(std::string_view text) noexcept {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = XpUtf8SequenceLength(text, pos);
    if (length == 0) {
      return false;
    }
    pos += length;
  }
  return true;
}
