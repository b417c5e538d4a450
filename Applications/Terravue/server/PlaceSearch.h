#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Applications/Terravue/mapdata/PlaceIndex.h"

namespace terravue::server {

/// Where the map page asks for places as the user types:
/// GET /places?q=TEXT[&near=LAT,LNG][&limit=N].
inline constexpr std::string_view kPlaceSearchPath = "/places";

/// The longest search text answered; a search box never needs more, and a longer one is refused
/// with 400 before anything is searched.
inline constexpr std::size_t kMaxPlaceQueryBytes = 256;
/// Matches answered when the page names no limit, and the most it may ask for.
inline constexpr std::size_t kDefaultPlaceMatches = 8;
inline constexpr std::size_t kMaxPlaceMatches = 50;

/// The fields of one search, as they came in the address (already percent-decoded).
struct PlaceQuery {
  std::optional<std::string> text;   ///< q
  std::optional<std::string> near;   ///< "LAT,LNG" in decimal degrees: the visible area's centre
  std::optional<std::string> limit;  ///< a whole number from 1 to kMaxPlaceMatches
};

/// An answer: its HTTP status and its JSON body.
struct PlaceAnswer {
  int status = 200;
  std::string body;
};

/// Answers one search. A text that reads as a position (ParseLocationText) answers that position
/// as "point", whether or not there is an index; the places whose names begin with the text
/// follow as "places", best first, ranked with `near` as the nearer place. The body is one JSON
/// object, every text escaped so that no byte of a name can end a string or a script:
///   {"query": TEXT, "point": {"lat": N, "lng": N} or null,
///    "places": [{"name", "admin1", "country", "country_name", "lat", "lng", "population"}…]}
/// Refused with 400 and {"error": REASON}: no q, a q over kMaxPlaceQueryBytes or not UTF-8, a
/// near that is not a position, a limit out of range. With no index (`index` null), a text that
/// is no position is answered 503 with {"error": "no place index: " + indexProblem}.
[[nodiscard]] PlaceAnswer AnswerPlaceQuery(const PlaceIndex* index, std::string_view indexProblem,
                                           const PlaceQuery& query);

}  // namespace terravue::server
