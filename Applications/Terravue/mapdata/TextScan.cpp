#include "Applications/Terravue/mapdata/TextScan.h"

#include <limits>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TextLineReader::Next(std::string_view* line, bool* hadLineEnd) {
  if (m_position >= m_text.size()) {
    return false;
  }
  const std::size_t start = m_position;
  const std::size_t end = m_text.find('\n', start);
  bool ended = true;
  std::size_t stop = end;
  if (end == std::string_view::npos) {
    ended = false;
    stop = m_text.size();
    m_position = m_text.size();
  } else {
    m_position = end + 1;
  }
  std::string_view found = m_text.substr(start, stop - start);
  if (ended && !found.empty() && found.back() == '\r') {
    found.remove_suffix(1);
  }
  *line = found;
  if (hadLineEnd != nullptr) {
    *hadLineEnd = ended;
  }
  return true;
}

int ScanIntegers(std::string_view text, std::string_view format, std::span<int> out) {
  std::size_t t = 0;
  int stored = 0;
  for (std::size_t f = 0; f < format.size(); ++f) {
    const char fc = format[f];
    if (IsSpace(fc)) {
      while (t < text.size() && IsSpace(text[t])) {
        ++t;
      }
      continue;
    }
    if (fc == '%' && f + 1 < format.size() && format[f + 1] == 'd') {
      ++f;
      if (static_cast<std::size_t>(stored) >= out.size()) {
        return stored;
      }
      while (t < text.size() && IsSpace(text[t])) {
        ++t;
      }
      bool negative = false;
      if (t < text.size() && (text[t] == '+' || text[t] == '-')) {
        negative = text[t] == '-';
        ++t;
      }
      if (t >= text.size() || !IsDigit(text[t])) {
        return stored;
      }
      // Accumulate as a negative number so that INT_MIN fits as well.
      int value = 0;
      while (t < text.size() && IsDigit(text[t])) {
        const int digit = text[t] - '0';
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, digit, &value)) {
          return stored;
        }
        ++t;
      }
      if (!negative) {
        if (value == std::numeric_limits<int>::min()) {
          return stored;
        }
        value = -value;
      }
      out[static_cast<std::size_t>(stored)] = value;
      ++stored;
      continue;
    }
    if (t >= text.size() || text[t] != fc) {
      return stored;
    }
    ++t;
  }
  return stored;
}

std::string_view StripRight(std::string_view text, std::string_view characters) {
  const std::size_t last = text.find_last_not_of(characters);
  if (last == std::string_view::npos) {
    return {};
  }
  return text.substr(0, last + 1);
}

std::string_view StripLeft(std::string_view text, std::string_view characters) {
  const std::size_t first = text.find_first_not_of(characters);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first);
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }
