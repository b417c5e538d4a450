#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/// One element of the GPS tag record: a value and its valid flag (0 after
/// construction and after Reset). The element classes are plain value holders.
class XpGPSElement {
 public:
  XpGPSElement() = default;
  XpGPSElement(const XpGPSElement&) = default;
  XpGPSElement& operator=(const XpGPSElement&) = default;
  virtual ~XpGPSElement() = default;

  /// Clears the valid flag (and, where the element holds bytes or text, empties them).
  virtual void Reset() { valid = 0; }
  [[nodiscard]] bool IsValid() const { return valid != 0; }

  std::uint8_t valid = 0;
};

/// GPS version: 4 bytes.
class XpGPSVer final : public XpGPSElement {
 public:
  std::array<std::uint8_t, 4> bytes{};
};

/// A reference letter ("N", "S", "E", "W", ...) or the altitude reference byte.
class XpGPSRef final : public XpGPSElement {
 public:
  char16_t letter = 0;
};

/// One unsigned rational.
class XpGPSRational final : public XpGPSElement {
 public:
  std::uint32_t numerator = 0;
  std::uint32_t denominator = 0;
};

/// Three unsigned rationals (degrees, minutes, seconds; or hours, minutes,
/// seconds), held as the three numerators followed by the three denominators.
class XpGPSRational3 final : public XpGPSElement {
 public:
  std::array<std::uint32_t, 3> numerators{};
  std::array<std::uint32_t, 3> denominators{};
};

/// A text (satellites, map datum).
class XpGPSAnyString final : public XpGPSElement {
 public:
  void Reset() override {
    valid = 0;
    text.clear();
  }
  std::string text;
};

/// Undefined bytes of any length (processing method, area information).
class XpGPSUndef final : public XpGPSElement {
 public:
  void Reset() override {
    valid = 0;
    bytes.clear();
  }
  std::vector<std::uint8_t> bytes;
};

/// The date stamp: up to 10 characters and a terminating zero.
class XpGPSDateStamp final : public XpGPSElement {
 public:
  static constexpr std::size_t kMaxLength = 10;
  /// The characters before the terminating zero.
  [[nodiscard]] std::string Text() const;
  std::array<char, kMaxLength + 1> text{};
};

/// One 16-bit value (differential correction).
class XpGPSShort final : public XpGPSElement {
 public:
  std::uint16_t value = 0;
};
