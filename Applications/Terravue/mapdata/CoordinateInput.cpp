// Typed coordinates, read into exact degree/minute/second rationals.
#include "Applications/Terravue/mapdata/CoordinateInput.h"

#include <array>
#include <cstdint>
#include <utility>

#include "Applications/Terravue/mapdata/CoordinateText.h"

namespace {

// One number of the text: its digits before and after the point.
struct Number {
  std::uint64_t whole = 0;
  std::uint64_t fraction = 0;  // the digits after the point as an integer
  int decimals = 0;            // how many of them
};

constexpr std::array<std::uint32_t, 8> kPowers = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The length of a separator at `at` (ASCII ':', ' ', ',', '\'', '"', tab,
// or the UTF-8 degree, prime and double-prime signs), 0 when there is none.
std::size_t SeparatorLength(std::string_view text, std::size_t at) {
  const char c = text[at];
  if (c == ':' || c == ' ' || c == ',' || c == '\'' || c == '"' || c == '\t') {
    return 1;
  }
  const std::string_view rest = text.substr(at);
  for (const std::string_view sign : {std::string_view("\xC2\xB0"), std::string_view("\xC2\xBA"),
                                      std::string_view("\xE2\x80\xB2"), std::string_view("\xE2\x80\xB3")}) {
    if (rest.starts_with(sign)) {
      return sign.size();
    }
  }
  return 0;
}

CoordinateInput Refused(std::string reason) {
  CoordinateInput input;
  input.reason = std::move(reason);
  return input;
}

int Hemisphere(char c, bool latitude) {
  const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  if (latitude) {
    return upper == 'N' ? 1 : upper == 'S' ? -1 : 0;
  }
  return upper == 'E' ? 1 : upper == 'W' ? -1 : 0;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

CoordinateInput ParseCoordinateInput(std::string_view text, bool latitude) {
  const char* axis = latitude ? "latitude" : "longitude";
  // The map's own form first, converted as the map converts it.
  if (ValidateCoordinateText(text, latitude) == XpStatus::Ok) {
    CoordinateInput input;
    if (!TextToRationals(text, &input.ref, &input.rationals, latitude)) {
      return Refused(std::string("not a ") + axis);
    }
    input.status = XpStatus::Ok;
    return input;
  }
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  if (text.empty()) {
    return Refused(std::string("empty ") + axis);
  }
  int hemisphere = 0;
  const bool letterFirst = IsLetter(text.front());
  if (letterFirst || IsLetter(text.back())) {
    const char letter = letterFirst ? text.front() : text.back();
    hemisphere = Hemisphere(letter, latitude);
    if (hemisphere == 0) {
      return Refused("\"" + std::string(1, letter) + "\" is not a " + axis + " letter (" +
                     (latitude ? "N or S" : "E or W") + ")");
    }
    if (letterFirst) {
      text.remove_prefix(1);
    } else {
      text.remove_suffix(1);
    }
  }
  std::size_t at = 0;
  // Separators may stand between a leading letter and the numbers.
  while (letterFirst && at < text.size() && SeparatorLength(text, at) > 0) {
    at += SeparatorLength(text, at);
  }
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
    if (hemisphere != 0) {
      return Refused("a sign and a hemisphere letter together");
    }
    negative = text[at] == '-';
    ++at;
  }
  std::array<Number, 3> numbers{};
  std::size_t count = 0;
  while (at < text.size()) {
    if (!IsDigit(text[at])) {
      return Refused("unexpected \"" + std::string(text.substr(at, 1)) + "\" in the " + axis);
    }
    if (count == numbers.size()) {
      return Refused(std::string("more than degrees, minutes and seconds in the ") + axis);
    }
    if (count > 0 && numbers[count - 1].decimals > 0) {
      return Refused("only the last number may have decimals");
    }
    Number& number = numbers[count++];
    int digits = 0;
    while (at < text.size() && IsDigit(text[at])) {
      if (++digits > 3) {
        return Refused(std::string("too many digits in the ") + axis);
      }
      number.whole = number.whole * 10 + static_cast<std::uint64_t>(text[at] - '0');
      ++at;
    }
    if (at < text.size() && text[at] == '.') {
      ++at;
      while (at < text.size() && IsDigit(text[at])) {
        if (++number.decimals > kMaxCoordinateDecimals) {
          return Refused("more than 7 decimals, which a GPS tag cannot hold exactly");
        }
        number.fraction = number.fraction * 10 + static_cast<std::uint64_t>(text[at] - '0');
        ++at;
      }
      if (number.decimals == 0) {
        return Refused(std::string("a point without decimals in the ") + axis);
      }
    }
    const std::size_t before = at;
    while (at < text.size() && SeparatorLength(text, at) > 0) {
      at += SeparatorLength(text, at);
    }
    if (at == before && at < text.size()) {
      return Refused("unexpected \"" + std::string(text.substr(at, 1)) + "\" in the " + axis);
    }
  }
  if (count == 0) {
    return Refused(std::string("no number in the ") + axis);
  }
  if ((count >= 2 && numbers[1].whole >= 60) || (count == 3 && numbers[2].whole >= 60)) {
    return Refused("minutes and seconds must be below 60");
  }
  const std::uint64_t limit = latitude ? 90 : 180;
  const Number& last = numbers[count - 1];
  const std::uint64_t scale = kPowers[static_cast<std::size_t>(last.decimals)];
  // The whole value in units of 1/scale of its last number's unit.
  const std::uint64_t unitsPerDegree = (count == 1 ? 1 : count == 2 ? 60 : 3600) * scale;
  std::uint64_t units = last.whole * scale + last.fraction;
  if (count >= 2) {
    units += numbers[0].whole * unitsPerDegree;
  }
  if (count == 3) {
    units += numbers[1].whole * 60 * scale;
  }
  if (units > limit * unitsPerDegree) {
    return Refused(std::string("the ") + axis + " must be at most " + std::to_string(limit) + " degrees");
  }
  CoordinateInput input;
  input.status = XpStatus::Ok;
  const bool south = negative || hemisphere < 0;
  input.ref.letter = latitude ? (south ? u'S' : u'N') : (south ? u'W' : u'E');
  input.ref.valid = 1;
  // Degrees and minutes as whole numbers where they can be, the rest exact
  // over the number's own power of ten.
  const std::uint64_t degrees = units / unitsPerDegree;
  const std::uint64_t rest = units % unitsPerDegree;
  if (count == 2) {
    // Degrees and decimal minutes: the minutes keep their decimals.
    input.rationals.numerators = {static_cast<std::uint32_t>(degrees), static_cast<std::uint32_t>(rest), 0};
    input.rationals.denominators = {1, static_cast<std::uint32_t>(scale), 1};
  } else {
    // Decimal degrees become minutes and seconds; seconds keep the decimals.
    const std::uint64_t restSeconds = count == 1 ? rest * 3600 : rest;  // in 1/scale seconds
    const std::uint64_t minutes = restSeconds / (60 * scale);
    const std::uint64_t seconds = restSeconds % (60 * scale);
    input.rationals.numerators = {static_cast<std::uint32_t>(degrees), static_cast<std::uint32_t>(minutes),
                                  static_cast<std::uint32_t>(seconds)};
    input.rationals.denominators = {1, 1, static_cast<std::uint32_t>(scale)};
  }
  input.rationals.valid = 1;
  return input;
}
