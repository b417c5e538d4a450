#include "xp/text/XpNumberText.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

bool IsDecimalCharacter(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
}

}  // namespace

std::optional<double> XpParseDecimal(std::string_view text) {
  // from_chars alone would also take "inf", "nan" and "infinity"; a number
  // written by a program or a person here is digits, point, sign and exponent.
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsDecimalCharacter)) {
    return std::nullopt;
  }
  // from_chars takes no "+"; strip one, but not in front of another sign.
  if (text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') {
      return std::nullopt;
    }
  }
  double value = 0.0;
  const char* const end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

void XpAppendFixed(std::string& out, double value, int digits) {
  digits = std::clamp(digits, 0, 17);
  // The largest double has 309 digits before the point.
  std::array<char, 340> buffer{};
  const auto [ptr, ec] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, digits);
  if (ec != std::errc()) {
    return;  // cannot happen with this buffer; writes nothing rather than half a number
  }
  out.append(buffer.data(), ptr);
}

std::string XpFormatFixed(double value, int digits) {
  std::string out;
  XpAppendFixed(out, value, digits);
  return out;
}
