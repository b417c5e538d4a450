#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "Applications/Terravue/mapdata/PlaceIndex.h"

/// The longest text read as a position; anything longer is no position.
inline constexpr std::size_t kMaxLocationTextBytes = 2048;

/// Reads a position pasted or typed where a place name could also be, in decimal degrees:
/// - a latitude and a longitude in decimal degrees, with a comma, a semicolon or blanks between
///   them ("35.6812, 139.7671", "-33.8568 151.2153");
/// - a latitude and a longitude each as ParseCoordinateInput reads a typed coordinate
///   ("35°40'52.4\"N 139°46'1.6\"E", "N 35 40.873, E 139 46.027");
/// - a "geo:" URI ("geo:35.6812,139.7671;u=30", "geo:0,0?q=35.6812,139.7671(Station)");
/// - a web map address carrying the position as "@LAT,LNG", "#map=ZOOM/LAT/LNG", the query
///   fields mlat and mlon, lat and lng (or lon), or one of q, query, ll, center, sll,
///   destination, daddr holding "LAT,LNG".
/// Nothing for any other text, for a text longer than kMaxLocationTextBytes, for a value out of
/// range (latitude beyond 90, longitude beyond 180 degrees) and for a pair whose halves could be
/// read in more than one way.
[[nodiscard]] std::optional<GeoPoint> ParseLocationText(std::string_view text);
