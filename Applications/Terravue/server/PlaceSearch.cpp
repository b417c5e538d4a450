// The answers of the page's place search: positions read from the text, places from the index.
#include "Applications/Terravue/server/PlaceSearch.h"

#include <vector>

#include "Applications/Terravue/mapdata/LocationText.h"
#include "xp/text/XpEscape.h"
#include "xp/text/XpNumberText.h"
#include "xp/text/XpUtf8.h"

namespace terravue::server {
namespace {

// Digits that keep a position to about a metre.
constexpr int kPositionDigits = 5;
// A pasted position keeps what it was given, to a tenth of a millimetre.
constexpr int kPointDigits = 9;

std::string Quoted(std::string_view text) { return XpJsonString(text, XpJsonStyle::ScriptSafe); }

PlaceAnswer Refused(int status, std::string_view reason) { return {status, "{\"error\": " + Quoted(reason) + "}"}; }

std::optional<GeoPoint> ParseNear(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) {
    return std::nullopt;
  }
  const auto latitude = XpParseDecimal(text.substr(0, comma));
  const auto longitude = XpParseDecimal(text.substr(comma + 1));
  if (!latitude || !longitude || !(*latitude >= -90.0 && *latitude <= 90.0) ||
      !(*longitude >= -180.0 && *longitude <= 180.0)) {
    return std::nullopt;
  }
  return GeoPoint{*latitude, *longitude};
}

void AppendPlace(std::string& out, const Place& place) {
  out += "{\"name\": " + Quoted(place.name);
  out += ", \"admin1\": " + Quoted(place.admin1);
  out += ", \"country\": " + Quoted(place.country);
  out += ", \"country_name\": " + Quoted(place.countryName);
  out += ", \"lat\": " + XpFormatFixed(place.position.latitude, kPositionDigits);
  out += ", \"lng\": " + XpFormatFixed(place.position.longitude, kPositionDigits);
  out += ", \"population\": ";
  out += place.population > 0 ? std::to_string(place.population) : std::string("null");
  out += '}';
}

}  // namespace

PlaceAnswer AnswerPlaceQuery(const PlaceIndex* index, std::string_view indexProblem, const PlaceQuery& query) {
  if (!query.text) {
    return Refused(400, "no search text (q)");
  }
  const std::string& text = *query.text;
  if (text.size() > kMaxPlaceQueryBytes) {
    return Refused(400, "the search text is longer than " + std::to_string(kMaxPlaceQueryBytes) + " bytes");
  }
  if (!XpIsValidUtf8(text)) {
    return Refused(400, "the search text is not UTF-8");
  }
  std::optional<GeoPoint> near;
  if (query.near) {
    near = ParseNear(*query.near);
    if (!near) {
      return Refused(400, "near is not a position (LAT,LNG in decimal degrees)");
    }
  }
  std::size_t limit = kDefaultPlaceMatches;
  if (query.limit) {
    const auto n = XpParseInteger<std::size_t>(*query.limit);
    if (!n || *n < 1 || *n > kMaxPlaceMatches) {
      return Refused(400, "limit must be a number from 1 to " + std::to_string(kMaxPlaceMatches));
    }
    limit = *n;
  }
  const std::optional<GeoPoint> point = ParseLocationText(text);
  if (index == nullptr && !point) {
    return Refused(503, "no place index: " + std::string(indexProblem));
  }
  std::vector<PlaceMatch> matches;
  if (index != nullptr && !point) {
    matches = index->Search(text, limit, near);
  }
  PlaceAnswer answer;
  answer.body = "{\"query\": " + Quoted(text) + ", \"point\": ";
  if (point) {
    answer.body += "{\"lat\": " + XpFormatFixed(point->latitude, kPointDigits) +
                   ", \"lng\": " + XpFormatFixed(point->longitude, kPointDigits) + "}";
  } else {
    answer.body += "null";
  }
  answer.body += ", \"places\": [";
  for (std::size_t i = 0; i < matches.size(); ++i) {
    if (i > 0) {
      answer.body += ", ";
    }
    AppendPlace(answer.body, matches[i].place);
  }
  answer.body += "]}";
  return answer;
}

}  // namespace terravue::server
