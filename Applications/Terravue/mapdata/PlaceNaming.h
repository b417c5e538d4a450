#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"
#include "Applications/Terravue/mapdata/TimeZoneIndex.h"
#include "xp/base/XpStatus.h"
#include "xp/image/XpLocationWrite.h"

/// The ISO 3166-1 alpha-3 code of an alpha-2 code ("JP" → "JPN"); empty for a code not known.
[[nodiscard]] std::string CountryAlpha3(std::string_view alpha2);

/// The eight-point compass direction from `from` to `to` ("N", "NE", ... "NW"); "" for the same
/// point.
[[nodiscard]] std::string CompassDirection(const GeoPoint& from, const GeoPoint& to);

/// Where tzdata installs its zone1970.tab.
inline constexpr const char* kSystemZoneTable = "/usr/share/zoneinfo/zone1970.tab";

/// The countries each tz database zone covers, from tzdata's zone1970.tab (lines of
/// "CC[,CC...] <TAB> coordinates <TAB> zone [<TAB> comment]").
class ZoneCountries {
 public:
  /// The largest file read (the real one is about 20 KB).
  static constexpr std::uint64_t kMaxFileBytes = 1024 * 1024;

  /// Reads the table at `path`; the file's open or read status (0x8119 for one that is no
  /// regular file or is larger than kMaxFileBytes). Lines that do not have the shape are skipped.
  [[nodiscard]] XpStatus LoadFile(const std::string& path);
  /// The same for the table's text.
  void LoadText(std::string_view text);
  /// Adds tzdata's zone.tab at `path` (one country per zone): a zone it lists that the first
  /// table does not (one zone1970.tab counts as a link, such as Europe/Amsterdam or
  /// Africa/Kampala, which the time-zone map still answers) covers its country in CountriesOf.
  /// ZonesOf stays as the first table says. The status as LoadFile's.
  [[nodiscard]] XpStatus AddCountryTable(const std::string& path);
  /// The same for the text of such a table.
  void AddCountryText(std::string_view text);
  /// LoadFile of the zone1970.tab at `path`, then AddCountryTable of the zone.tab beside it
  /// (CountryTableBeside; a missing one is no failure). LoadFile's status.
  [[nodiscard]] XpStatus LoadWithLinks(const std::string& path);

  /// The alpha-2 codes of the countries `zone` covers, first the one it is named for; nothing
  /// for a zone the table does not list.
  [[nodiscard]] std::vector<std::string> CountriesOf(std::string_view zone) const;
  /// The zones that cover `country`, in table order.
  [[nodiscard]] std::vector<std::string> ZonesOf(std::string_view country) const;
  [[nodiscard]] bool Empty() const { return m_zones.empty() && m_moreZones.empty(); }

 private:
  std::map<std::string, std::vector<std::string>, std::less<>> m_zones;
  std::map<std::string, std::vector<std::string>, std::less<>> m_moreZones;  ///< from AddCountryTable
  std::vector<std::pair<std::string, std::string>> m_order;                  ///< (country, zone) in table order
};

/// tzdata's zone.tab in the folder of the zone1970.tab at `path`.
[[nodiscard]] std::string CountryTableBeside(const std::string& path);

/// Why a proposal needs a look before it is written.
enum class PlaceReview : std::uint8_t {
  None,
  FarFromPlace,        ///< the nearest place is farther than kPlaceReviewKm (at sea, in the wilderness)
  ZoneWithoutCountry,  ///< the time zone there belongs to no country of the zone tables (a zone at sea)
  ZoneOfOtherCountry,  ///< the time zone there is another country's (a place across a border)
};

/// The names proposed for a photo taken at a position.
struct PlaceProposal {
  PlaceMatch nearest;                          ///< the place named
  std::string direction;                       ///< from the place to the position ("NE")
  std::string label;                           ///< "Gion, 0.8 km NE"
  std::vector<PlaceMatch> alternatives;        ///< the next nearest places, nearest first
  std::string countryAlpha3;                   ///< for IIM
  std::string zone;                            ///< the time zone at the position ("" without a map)
  bool review = false;                         ///< the names need a look before they are written
  PlaceReview reviewKind = PlaceReview::None;  ///< why, for a text in the user's language
  std::string reviewZoneCountry;               ///< for ZoneOfOtherCountry: the country the zone is named for
  std::string reviewReason;                    ///< why, in English (for the tool's output)

  /// The names as written into the photo.
  [[nodiscard]] XpLocationWrite::Names Names() const;
};

/// A place farther than this from the position is no name for it: the proposal needs a look.
inline constexpr double kPlaceReviewKm = 50.0;

/// How many alternatives a proposal offers.
inline constexpr std::size_t kPlaceAlternatives = 5;

/// The proposal for a photo at `point`: the nearest place of `places` with its division and
/// country, the distance and direction, the next kPlaceAlternatives nearest places. With
/// `zones` the time zone there is looked up, and with `countries` its countries are compared
/// with the place's: a zone that does not cover the place's country (a place across a border)
/// marks the proposal for review, as does a nearest place farther than kPlaceReviewKm (a
/// position at sea or in the wilderness). BadCoordinate for a point out of range,
/// NoPlaceNear for an empty index.
[[nodiscard]] XpStatus ProposePlace(const PlaceIndex& places, const TimeZoneIndex* zones,
                                    const ZoneCountries* countries, const GeoPoint& point, PlaceProposal* proposal);

/// "0.8 km" below 10 km, "12 km" above.
[[nodiscard]] std::string DistanceText(double km);

/// The names a photo holds, as the names to write to give them back: its older
/// XMP properties (photoshop:City and the others) where it has any, else its
/// Iptc4xmpExt:LocationCreated, else its IIM block's; the IIM country code
/// where there is one.
/// Properties the photo lacks are empty, which a write leaves out.
[[nodiscard]] XpLocationWrite::Names NamesHeld(const XpLocationWrite::Current& current);
