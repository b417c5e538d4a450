#include "Applications/Terravue/mapdata/PlaceNaming.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>

#include "Applications/Terravue/mapdata/TextFile.h"

namespace {

std::string_view NextField(std::string_view* line) {
  const auto tab = line->find('\t');
  const std::string_view field = line->substr(0, tab);
  line->remove_prefix(tab == std::string_view::npos ? line->size() : tab + 1);
  return field;
}

bool IsCountryCode(std::string_view code) {
  return code.size() == 2 && code[0] >= 'A' && code[0] <= 'Z' && code[1] >= 'A' && code[1] <= 'Z';
}

}  // namespace

std::string CompassDirection(const GeoPoint& from, const GeoPoint& to) {
  constexpr double kRadians = std::numbers::pi / 180.0;
  const double lat1 = from.latitude * kRadians;
  const double lat2 = to.latitude * kRadians;
  const double dLng = (to.longitude - from.longitude) * kRadians;
  const double y = std::sin(dLng) * std::cos(lat2);
  const double x = std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLng);
  if (std::fabs(x) < 1e-12 && std::fabs(y) < 1e-12) {
    return {};
  }
  double degrees = std::atan2(y, x) / kRadians;
  if (degrees < 0) {
    degrees += 360;
  }
  static constexpr std::array<const char*, 8> kPoints = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
  return kPoints[static_cast<std::size_t>(std::lround(degrees / 45.0)) % kPoints.size()];
}

XpLocationWrite::Names NamesHeld(const XpLocationWrite::Current& current) {
  const auto any = [](const XpXmpLocation::Location& l) {
    return !(l.city.empty() && l.state.empty() && l.country.empty() && l.countryCode.empty() && l.sublocation.empty());
  };
  XpLocationWrite::Names names;
  // Always set: a Sublocation the chosen names wrote goes again when the earlier names come back.
  names.sublocation = std::string();
  if (current.hasXmp && (any(current.xmp.created) || any(current.xmp.legacy))) {
    // The older properties are the ones most programs read (and match the IIM block's).
    const XpXmpLocation::Location& from = any(current.xmp.legacy) ? current.xmp.legacy : current.xmp.created;
    names.city = from.city;
    names.state = from.state;
    names.country = from.country;
    names.countryCode = from.countryCode;
    names.sublocation = from.sublocation;
  } else if (current.hasIim) {
    names.city = current.iim.city;
    names.state = current.iim.state;
    names.country = current.iim.country;
  }
  if (current.hasIim) {
    names.countryCode3 = current.iim.countryCode;
  }
  return names;
}

std::string DistanceText(double km) {
  char text[32];
  const bool near = km < 10;
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, near ? km : std::round(km), std::chars_format::fixed, near ? 1 : 0);
  return (ec == std::errc() ? std::string(text, end) : std::string("?")) + " km";
}

XpStatus ZoneCountries::LoadFile(const std::string& path) {
  std::string text;
  if (auto st = ReadWholeFile(path, kMaxFileBytes, &text); st != XpStatus::Ok) {
    return st;
  }
  LoadText(text);
  return XpStatus::Ok;
}

namespace {

// Each well-formed line of a zone table: its zone and its country codes.
template <typename Line>
void ForEachZoneLine(std::string_view text, Line&& take) {
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.empty() || line.front() == '#') {
      continue;
    }
    std::string_view codes = NextField(&line);
    (void)NextField(&line);  // the coordinates
    const std::string_view zone = NextField(&line);
    if (zone.empty() || zone.size() > 64) {
      continue;
    }
    std::vector<std::string> list;
    while (!codes.empty()) {
      const auto comma = codes.find(',');
      const std::string_view code = codes.substr(0, comma);
      codes.remove_prefix(comma == std::string_view::npos ? codes.size() : comma + 1);
      if (IsCountryCode(code)) {
        list.emplace_back(code);
      }
    }
    if (!list.empty()) {
      take(zone, std::move(list));
    }
  }
}

}  // namespace

void ZoneCountries::LoadText(std::string_view text) {
  m_zones.clear();
  m_order.clear();
  ForEachZoneLine(text, [&](std::string_view zone, std::vector<std::string> list) {
    if (m_zones.count(zone) != 0) {
      return;
    }
    for (const std::string& code : list) {
      m_order.emplace_back(code, std::string(zone));
    }
    m_zones.emplace(std::string(zone), std::move(list));
  });
}

std::string CountryTableBeside(const std::string& path) {
  const auto slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "zone.tab";
}

XpStatus ZoneCountries::AddCountryTable(const std::string& path) {
  std::string text;
  if (auto st = ReadWholeFile(path, kMaxFileBytes, &text); st != XpStatus::Ok) {
    return st;
  }
  AddCountryText(text);
  return XpStatus::Ok;
}

XpStatus ZoneCountries::LoadWithLinks(const std::string& path) {
  if (auto st = LoadFile(path); st != XpStatus::Ok) {
    return st;
  }
  static_cast<void>(AddCountryTable(CountryTableBeside(path)));
  return XpStatus::Ok;
}

void ZoneCountries::AddCountryText(std::string_view text) {
  ForEachZoneLine(text, [&](std::string_view zone, std::vector<std::string> list) {
    if (m_zones.count(zone) == 0 && m_moreZones.count(zone) == 0) {
      m_moreZones.emplace(std::string(zone), std::move(list));
    }
  });
}

std::vector<std::string> ZoneCountries::CountriesOf(std::string_view zone) const {
  if (const auto it = m_zones.find(zone); it != m_zones.end()) {
    return it->second;
  }
  const auto more = m_moreZones.find(zone);
  return more == m_moreZones.end() ? std::vector<std::string>{} : more->second;
}

std::vector<std::string> ZoneCountries::ZonesOf(std::string_view country) const {
  std::vector<std::string> zones;
  for (const auto& [code, zone] : m_order) {
    if (code == country) {
      zones.push_back(zone);
    }
  }
  return zones;
}

XpLocationWrite::Names PlaceProposal::Names() const {
  const Place& place = nearest.place;
  return {place.name, place.admin1, place.countryName, place.country, countryAlpha3, std::nullopt};
}

XpStatus ProposePlace(const PlaceIndex& places, const TimeZoneIndex* zones, const ZoneCountries* countries,
                      const GeoPoint& point, PlaceProposal* proposal) {
  if (!(point.latitude >= -90 && point.latitude <= 90 && point.longitude >= -180 && point.longitude <= 180)) {
    return XpStatus::BadCoordinate;
  }
  std::vector<PlaceMatch> nearest = places.NearestPlaces(point, kPlaceAlternatives + 1);
  if (nearest.empty()) {
    return XpStatus::NoPlaceNear;
  }
  PlaceProposal result;
  result.nearest = nearest.front();
  result.alternatives.assign(nearest.begin() + 1, nearest.end());
  result.direction = CompassDirection(result.nearest.place.position, point);
  result.label = result.nearest.place.name + ", " + DistanceText(result.nearest.distanceKm) +
                 (result.direction.empty() ? "" : " " + result.direction);
  result.countryAlpha3 = CountryAlpha3(result.nearest.place.country);
  if (zones != nullptr) {
    if (const auto zone = zones->ZoneAt(point)) {
      result.zone = std::string(*zone);
    }
  }
  if (result.nearest.distanceKm > kPlaceReviewKm) {
    result.review = true;
    result.reviewKind = PlaceReview::FarFromPlace;
    result.reviewReason = "the nearest place is " + DistanceText(result.nearest.distanceKm) + " away";
  } else if (countries != nullptr && !result.zone.empty() && !countries->Empty()) {
    const std::vector<std::string> covered = countries->CountriesOf(result.zone);
    const std::string& country = result.nearest.place.country;
    if (covered.empty()) {
      result.review = true;
      result.reviewKind = PlaceReview::ZoneWithoutCountry;
      result.reviewReason = "the time zone " + result.zone + " belongs to no country the zone table lists";
    } else if (std::find(covered.begin(), covered.end(), country) == covered.end()) {
      result.review = true;
      result.reviewKind = PlaceReview::ZoneOfOtherCountry;
      result.reviewZoneCountry = covered.front();
      result.reviewReason =
          "the place is in " + country + ", but the time zone there (" + result.zone + ") is " + covered.front() + "'s";
    }
  }
  *proposal = std::move(result);
  return XpStatus::Ok;
}
