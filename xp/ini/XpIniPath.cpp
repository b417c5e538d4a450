#include "xp/ini/XpIniPath.h"

#include <limits>

XpIniPathStep XpSplitIniPath(std::string_view path) {
  const auto slash = path.find('/');
  if (slash == std::string_view::npos) {
    return {path, {}, false};
  }
  return {path.substr(0, slash), path.substr(slash + 1), true};
}

std::int64_t XpIniReadDecimal(std::string_view text, std::size_t* used) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r' ||
                               text[pos] == '\v' || text[pos] == '\f')) {
    ++pos;
  }
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::size_t digitsStart = pos;
  // Accumulate as a negative number so that the most negative value fits.
  std::int64_t value = 0;
  bool saturated = false;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    if (saturated) {
      continue;
    }
    const int digit = text[pos] - '0';
    if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, digit, &value)) {
      saturated = true;
    }
  }
  if (used != nullptr) {
    *used = pos == digitsStart ? 0 : pos;
  }
  if (pos == digitsStart) {
    return 0;
  }
  if (saturated) {
    return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  }
  if (negative) {
    return value;
  }
  return value == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max() : -value;
}

int XpIniReadIndex(std::string_view text) {
  const std::int64_t value = XpIniReadDecimal(text);
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    // -2 is never a valid index and never means "append".
    return -2;
  }
  return static_cast<int>(value);
}
