#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// Number text that reads and writes the same on every desktop: these never
// consult the process locale, so a decimal comma in LC_NUMERIC (which the Qt
// layer takes over from the user's environment) changes nothing.

/// Reads a plain decimal number that fills the whole text: an optional "+" or
/// "-", digits with an optional "." and fraction, an optional exponent ("e5",
/// "E-3"). Nothing for anything else: empty text, white space, a decimal
/// comma, hexadecimal, "inf" and "nan", and values that overflow a double.
[[nodiscard]] std::optional<double> XpParseDecimal(std::string_view text);

/// Reads a whole text of decimal digits, with a leading "-" for signed types,
/// as an integer of type T. Nothing for anything else (a "+", white space,
/// other characters, or a value outside T's range).
template <class T>
[[nodiscard]] std::optional<T> XpParseInteger(std::string_view text) {
  static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
  T value{};
  const char* const end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || ec != std::errc() || ptr != end) {
    return std::nullopt;
  }
  return value;
}

/// Writes `value` with exactly `digits` digits after a "." (0 to 17), rounded
/// to nearest, as printf's "%.*f" does in the C locale ("inf", "-inf", "nan"
/// for values that are no number).
[[nodiscard]] std::string XpFormatFixed(double value, int digits);

/// Appends the same as XpFormatFixed to `out`.
void XpAppendFixed(std::string& out, double value, int digits);
