// Positions pasted into the map's search box: coordinate pairs, geo: URIs and map addresses.
#include "Applications/Terravue/mapdata/LocationText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <vector>

#include "Applications/Terravue/mapdata/CoordinateInput.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "xp/text/XpAsciiCase.h"

namespace {

// A coordinate pair written with degree signs and letters is short; longer halves are not tried.
constexpr std::size_t kMaxPairBytes = 160;
// Digits of one decimal number: more than any coordinate needs, few enough to bound the work.
constexpr std::size_t kMaxDecimalBytes = 40;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (XpAsciiLower(text[i]) != prefix[i]) {
      return false;
    }
  }
  return true;
}

std::optional<GeoPoint> InRange(double latitude, double longitude) {
  if (!(std::fabs(latitude) <= 90.0) || !(std::fabs(longitude) <= 180.0)) {
    return std::nullopt;
  }
  // No negative zero: it would print as "-0".
  return GeoPoint{latitude == 0.0 ? 0.0 : latitude, longitude == 0.0 ? 0.0 : longitude};
}

// A plain decimal number: a sign, digits, and a point with digits; no exponent, nothing else.
std::optional<double> Decimal(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > kMaxDecimalBytes) {
    return std::nullopt;
  }
  std::size_t at = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    at = 1;
  }
  const std::size_t start = at;
  std::size_t digits = 0;
  while (at < text.size() && IsDigit(text[at])) {
    ++at;
    ++digits;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    std::size_t decimals = 0;
    while (at < text.size() && IsDigit(text[at])) {
      ++at;
      ++decimals;
    }
    if (decimals == 0) {
      return std::nullopt;
    }
    digits += decimals;
  }
  if (digits == 0 || at != text.size()) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

// "LAT,LNG", "LAT;LNG" or "LAT LNG" in decimal degrees; `extra` allows more comma-separated
// values after the two (a geo: URI's altitude, a map address's zoom).
std::optional<GeoPoint> DecimalPair(std::string_view text, bool extra = false) {
  text = Trim(text);
  std::size_t cut = text.find_first_of(",;");
  std::size_t next = cut == std::string_view::npos ? cut : cut + 1;
  if (cut == std::string_view::npos) {
    cut = text.find_first_of(" \t");
    if (cut == std::string_view::npos) {
      return std::nullopt;
    }
    next = cut + 1;
  }
  std::string_view rest = text.substr(next);
  if (const std::size_t more = rest.find_first_of(",;"); more != std::string_view::npos) {
    if (!extra) {
      return std::nullopt;
    }
    rest = rest.substr(0, more);
  }
  const auto latitude = Decimal(text.substr(0, cut));
  const auto longitude = Decimal(rest);
  if (!latitude || !longitude) {
    return std::nullopt;
  }
  return InRange(*latitude, *longitude);
}

// A cut between the halves of a pair, and how sure it is to be the intended one.
enum class CutKind { Blank = 0, Letter = 1, Comma = 2 };

std::optional<double> TypedDegrees(std::string_view text, bool latitude) {
  const CoordinateInput input = ParseCoordinateInput(text, latitude);
  double degrees = 0;
  if (input.status != XpStatus::Ok || !RationalsToDegrees(input.ref, input.rationals, &degrees)) {
    return std::nullopt;
  }
  return degrees;
}

std::size_t CountNumbers(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsDigit(text[i]) && (i == 0 || (!IsDigit(text[i - 1]) && text[i - 1] != '.'))) {
      ++count;
    }
  }
  return count;
}

// A latitude and a longitude each as a coordinate is typed, cut where both halves read. When
// several cuts read, a cut at a comma or semicolon wins over one beside a hemisphere letter, and
// that over one at blanks; among blank cuts only the one giving both halves as many numbers
// counts. Cuts of the same kind that read differently leave the text unread.
std::optional<GeoPoint> TypedPair(std::string_view text) {
  text = Trim(text);
  if (text.size() < 3 || text.size() > kMaxPairBytes) {
    return std::nullopt;
  }
  struct Candidate {
    CutKind kind;
    GeoPoint point;
    bool balanced;
  };
  std::vector<Candidate> found;
  for (std::size_t cut = 1; cut < text.size(); ++cut) {
    const auto byte = static_cast<unsigned char>(text[cut]);
    if ((byte & 0xC0U) == 0x80U) {
      continue;  // inside a UTF-8 sequence
    }
    std::string_view left = Trim(text.substr(0, cut));
    std::string_view right = Trim(text.substr(cut));
    CutKind kind = CutKind::Blank;
    if (!left.empty() && (left.back() == ',' || left.back() == ';')) {
      left = Trim(left.substr(0, left.size() - 1));
      kind = CutKind::Comma;
    } else if (!right.empty() && (right.front() == ',' || right.front() == ';')) {
      continue;  // the same cut is tried with the comma on the left
    } else if (left.size() == cut && right.size() == text.size() - cut) {
      // No blank at the cut: only a letter may stand there ("35.6N139.7E").
      const char l = XpAsciiLower(left.empty() ? ' ' : left.back());
      const char r = XpAsciiLower(right.empty() ? ' ' : right.front());
      if (l != 'n' && l != 's' && r != 'e' && r != 'w') {
        continue;
      }
      kind = CutKind::Letter;
    } else {
      const char l = XpAsciiLower(left.empty() ? ' ' : left.back());
      const char r = XpAsciiLower(right.empty() ? ' ' : right.front());
      if (l == 'n' || l == 's' || r == 'e' || r == 'w') {
        kind = CutKind::Letter;
      } else if (cut > 0 && IsBlank(text[cut]) && IsBlank(text[cut - 1])) {
        continue;  // inside a run of blanks: the run's first cut stands for it
      }
    }
    if (left.empty() || right.empty()) {
      continue;
    }
    const auto latitude = TypedDegrees(left, true);
    if (!latitude) {
      continue;
    }
    const auto longitude = TypedDegrees(right, false);
    if (!longitude) {
      continue;
    }
    const auto point = InRange(*latitude, *longitude);
    if (point) {
      found.push_back({kind, *point, CountNumbers(left) == CountNumbers(right)});
    }
  }
  if (found.empty()) {
    return std::nullopt;
  }
  CutKind best = CutKind::Blank;
  for (const Candidate& c : found) {
    best = static_cast<int>(c.kind) > static_cast<int>(best) ? c.kind : best;
  }
  std::optional<GeoPoint> chosen;
  for (const Candidate& c : found) {
    if (c.kind != best || (best == CutKind::Blank && !c.balanced)) {
      continue;
    }
    if (chosen && (chosen->latitude != c.point.latitude || chosen->longitude != c.point.longitude)) {
      return std::nullopt;
    }
    chosen = c.point;
  }
  return chosen;
}

int HexValue(char c) {
  if (IsDigit(c)) {
    return c - '0';
  }
  const char l = XpAsciiLower(c);
  return (l >= 'a' && l <= 'f') ? l - 'a' + 10 : -1;
}

// Percent escapes decoded and "+" read as a blank; a broken escape stays as it is.
std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

// "LAT,LNG" at the start of `text`, as a geo: URI or a map address's "@" writes it: what follows
// the longitude (a zoom, an altitude, a path) is not read.
std::optional<GeoPoint> LeadingPair(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && end < kMaxDecimalBytes * 2 &&
         (IsDigit(text[end]) || text[end] == '.' || text[end] == '-' || text[end] == '+' || text[end] == ',')) {
    ++end;
  }
  return DecimalPair(text.substr(0, end), true);
}

std::optional<GeoPoint> GeoUri(std::string_view text) {
  text.remove_prefix(4);
  const std::size_t query = text.find('?');
  std::string_view path = text.substr(0, std::min(text.find(';'), query));
  const auto point = DecimalPair(path, true);
  if (point && query != std::string_view::npos && point->latitude == 0.0 && point->longitude == 0.0) {
    // "geo:0,0?q=LAT,LNG(label)": the position is in the query.
    const std::string q = Unescape(text.substr(query + 1));
    if (q.starts_with("q=")) {
      std::string_view value(q);
      value.remove_prefix(2);
      value = value.substr(0, value.find('('));
      if (const auto inQuery = DecimalPair(value)) {
        return inQuery;
      }
    }
  }
  return point;
}

std::optional<GeoPoint> MapAddress(std::string_view address) {
  const std::string text = Unescape(address);
  const std::string_view view(text);
  // A marker's position in the query or fragment fields comes before the view's.
  std::optional<double> lat;
  std::optional<double> lng;
  std::optional<GeoPoint> pair;
  const std::size_t fieldsStart = view.find_first_of("?#");
  std::string_view fields = fieldsStart == std::string_view::npos ? std::string_view() : view.substr(fieldsStart + 1);
  while (!fields.empty()) {
    const std::size_t end = fields.find_first_of("&#?");
    const std::string_view field = fields.substr(0, end);
    fields = end == std::string_view::npos ? std::string_view() : fields.substr(end + 1);
    const std::size_t equals = field.find('=');
    if (equals == std::string_view::npos) {
      continue;
    }
    std::string name;
    for (const char c : field.substr(0, equals)) {
      name += XpAsciiLower(c);
    }
    const std::string_view value = field.substr(equals + 1);
    if (name == "mlat" || name == "lat") {
      lat = Decimal(value);
    } else if (name == "mlon" || name == "lng" || name == "lon") {
      lng = Decimal(value);
    } else if (!pair && (name == "q" || name == "query" || name == "ll" || name == "center" || name == "sll" ||
                         name == "destination" || name == "daddr")) {
      pair = DecimalPair(value);
    }
  }
  if (lat && lng) {
    return InRange(*lat, *lng);
  }
  if (pair) {
    return pair;
  }
  // "…/@LAT,LNG,ZOOMz…"
  for (std::size_t at = view.find('@'); at != std::string_view::npos; at = view.find('@', at + 1)) {
    if (const auto point = LeadingPair(view.substr(at + 1))) {
      return point;
    }
  }
  // "…#map=ZOOM/LAT/LNG"
  if (const std::size_t at = view.find("map="); at != std::string_view::npos) {
    const std::string_view rest = view.substr(at + 4);
    const std::size_t first = rest.find('/');
    if (first != std::string_view::npos) {
      const std::string_view numbers = rest.substr(first + 1);
      const std::size_t second = numbers.find('/');
      if (second != std::string_view::npos) {
        std::size_t end = second + 1;
        while (end < numbers.size() && (IsDigit(numbers[end]) || numbers[end] == '.' || numbers[end] == '-')) {
          ++end;
        }
        const auto latitude = Decimal(numbers.substr(0, second));
        const auto longitude = Decimal(numbers.substr(second + 1, end - second - 1));
        if (latitude && longitude) {
          return InRange(*latitude, *longitude);
        }
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<GeoPoint> ParseLocationText(std::string_view text) {
  if (text.size() > kMaxLocationTextBytes) {
    return std::nullopt;
  }
  text = Trim(text);
  if (text.empty()) {
    return std::nullopt;
  }
  if (StartsWithNoCase(text, "geo:")) {
    return GeoUri(text);
  }
  if (StartsWithNoCase(text, "http://") || StartsWithNoCase(text, "https://")) {
    return MapAddress(text);
  }
  if (const auto point = DecimalPair(text)) {
    return point;
  }
  return TypedPair(text);
}
