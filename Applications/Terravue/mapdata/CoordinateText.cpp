#include "Applications/Terravue/mapdata/CoordinateText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace {

// The double constants nearest 1/3600 and 1/60. The conversion multiplies by
// them rather than dividing by 3600 and 60, and the last digit of a text can
// depend on that.
constexpr double kOneOver3600 = 0.0002777777777777778;
constexpr double kOneOver60 = 0.016666666666666666;

// Truncates toward zero into a 64-bit integer, saturating instead of
// overflowing. The degrees of a hostile picture can reach 2^32 and beyond, past
// what a 32-bit truncation can hold.
std::int64_t TruncateSaturated(long double value) {
  if (!(value == value)) {
    return 0;
  }
  constexpr long double kLimit = 9.2e18L;
  if (value >= kLimit) {
    return static_cast<std::int64_t>(kLimit);
  }
  if (value <= -kLimit) {
    return -static_cast<std::int64_t>(kLimit);
  }
  return static_cast<std::int64_t>(value);
}

// One field of a "%0Nd" scan: leading white space is skipped, then an optional
// sign and digits, at most `width` characters for sign and digits together.
// Answers false when no digit was read (the scan stops there).
bool ScanInt(std::string_view text, std::size_t* pos, int width, long long* out, bool* negative) {
  std::size_t i = *pos;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  int used = 0;
  bool minus = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    minus = text[i] == '-';
    ++i;
    ++used;
  }
  long long value = 0;
  int digits = 0;
  while (used < width && i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    ++i;
    ++used;
    ++digits;
  }
  if (digits == 0) {
    return false;
  }
  *pos = i;
  *out = minus ? -value : value;
  *negative = *negative || (minus && value != 0);
  return true;
}

bool ScanLiteral(std::string_view text, std::size_t* pos, char c) {
  if (*pos < text.size() && text[*pos] == c) {
    ++*pos;
    return true;
  }
  return false;
}

// Length in bytes of the UTF-8 character starting at text[0] and its code
// point (a stray byte counts as one character of its own value).
std::size_t DecodeFirst(std::string_view text, char32_t* cp) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  std::size_t len = 1;
  char32_t value = b0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    value = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    value = b0 & 0x07;
  }
  if (len > text.size()) {
    *cp = b0;
    return 1;
  }
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[k]);
    if ((b & 0xC0) != 0x80) {
      *cp = b0;
      return 1;
    }
    value = (value << 6) | (b & 0x3F);
  }
  *cp = value;
  return len;
}

}  // namespace

bool RationalsToDegrees(const XpGPSRef& ref, const XpGPSRational3& rationals, double* degrees) {
  if (!rationals.IsValid()) {
    return false;
  }
  for (std::uint32_t d : rationals.denominators) {
    if (d == 0) {
      return false;
    }
  }
  const auto part = [&](int i) {
    return static_cast<long double>(rationals.numerators[i]) / static_cast<long double>(rationals.denominators[i]);
  };
  long double sum = part(2) * static_cast<long double>(kOneOver3600);
  sum += part(1) * static_cast<long double>(kOneOver60);
  sum += part(0);
  double value = static_cast<double>(sum);
  if (ref.IsValid() && (ref.letter == u'W' || ref.letter == u'S')) {
    value = -value;
  }
  *degrees = value;
  return true;
}

std::string DegreesToText(double degrees, bool latitude) {
  const long double a = std::fabs(static_cast<long double>(degrees)) * 60.0L;
  const std::int64_t totalMinutes = TruncateSaturated(a);
  const std::int64_t deg = totalMinutes / 60;
  const std::int64_t min = totalMinutes % 60;
  const long double b = (a - static_cast<long double>(totalMinutes)) * 60.0L;
  const std::int64_t sec = TruncateSaturated(b);
  const std::int64_t ms = TruncateSaturated((b - static_cast<long double>(sec)) * 1000.0L);
  char buf[96];
  std::snprintf(buf, sizeof buf, latitude ? "%02lld:%02lld:%02lld.%03lld" : "%03lld:%02lld:%02lld.%03lld",
                static_cast<long long>(deg), static_cast<long long>(min), static_cast<long long>(sec),
                static_cast<long long>(ms));
  return buf;
}

bool TextToRationals(std::string_view text, XpGPSRef* ref, XpGPSRational3* rationals, bool latitude) {
  if (text.empty() || text == kNoLatitudeText || text == kNoLongitudeText) {
    return false;
  }
  char32_t letter = 0;
  std::size_t pos = DecodeFirst(text, &letter);
  // The second character is the ":" separator, whatever it is.
  if (pos < text.size()) {
    char32_t ignored = 0;
    pos += DecodeFirst(text.substr(pos), &ignored);
  }
  long long fields[4] = {0, 0, 0, 0};
  bool negative = false;
  const int widths[4] = {latitude ? 2 : 3, 2, 2, 3};
  const char separators[3] = {':', ':', '.'};
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && !ScanLiteral(text, &pos, separators[i - 1])) {
      break;
    }
    if (!ScanInt(text, &pos, widths[i], &fields[i], &negative)) {
      break;
    }
  }
  if (negative) {
    return false;
  }
  ref->valid = 1;
  ref->letter = letter <= 0xFFFF ? static_cast<char16_t>(letter) : u'?';
  rationals->valid = 1;
  rationals->numerators = {static_cast<std::uint32_t>(fields[0]), static_cast<std::uint32_t>(fields[1]),
                           static_cast<std::uint32_t>(fields[2] * 1000 + fields[3])};
  rationals->denominators = {1, 1, 1000};
  return true;
}

XpStatus ValidateCoordinateText(std::string_view text, bool latitude) {
  std::size_t pos = 0;
  // Digits only, between `least` and `most` of them.
  const auto digits = [&](std::size_t least, std::size_t most, long long* value) {
    std::size_t count = 0;
    long long v = 0;
    while (pos < text.size() && count < most && text[pos] >= '0' && text[pos] <= '9') {
      v = v * 10 + (text[pos] - '0');
      ++pos;
      ++count;
    }
    *value = v;
    return count >= least && (pos >= text.size() || text[pos] < '0' || text[pos] > '9');
  };
  const auto literal = [&](char c) {
    if (pos < text.size() && text[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  };
  if (text.empty()) {
    return XpStatus::BadCoordinate;
  }
  const char letter = text[pos++];
  const bool letterOk = latitude ? (letter == 'N' || letter == 'S') : (letter == 'E' || letter == 'W');
  long long degrees = 0;
  long long minutes = 0;
  long long seconds = 0;
  long long millis = 0;
  if (!letterOk || !literal(':') || !digits(1, 3, &degrees) || !literal(':') || !digits(1, 2, &minutes) ||
      !literal(':') || !digits(1, 2, &seconds)) {
    return XpStatus::BadCoordinate;
  }
  if (literal('.') && !digits(3, 3, &millis)) {
    return XpStatus::BadCoordinate;
  }
  if (pos != text.size() || minutes >= 60 || seconds >= 60) {
    return XpStatus::BadCoordinate;
  }
  const long long limit = latitude ? 90 : 180;
  if (degrees > limit || (degrees == limit && (minutes != 0 || seconds != 0 || millis != 0))) {
    return XpStatus::BadCoordinate;
  }
  return XpStatus::Ok;
}

CoordinateText CoordinateTextFromGPS(const XpGPSRef& ref, const XpGPSRational3& rationals, bool latitude) {
  double degrees = 0;
  if (!RationalsToDegrees(ref, rationals, &degrees)) {
    return CoordinateText(NoPositionText(latitude));
  }
  char letter = latitude ? 'N' : 'E';
  if (ref.IsValid() && ref.letter > 0x20 && ref.letter < 0x7F) {
    letter = static_cast<char>(ref.letter);
  }
  CoordinateText text(1, letter);
  text += ':';
  text += DegreesToText(degrees, latitude);
  return text;
}
