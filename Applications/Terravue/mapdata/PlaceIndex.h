#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"

/// A point on the earth in decimal degrees.
struct GeoPoint {
  double latitude = 0.0;   ///< -90 to 90
  double longitude = 0.0;  ///< -180 to 180
};

/// One populated place of the place index.
struct Place {
  std::string name;         ///< as the place is known, UTF-8
  std::string admin1;       ///< the first-level division (state, region, prefecture); may be empty
  std::string country;      ///< ISO 3166-1 alpha-2 code
  std::string countryName;  ///< the country's English name
  GeoPoint position;
  std::uint32_t population = 0;  ///< 0 when not known
  /// How high the place stands among seats of government: 5 a country's capital, 4 the seat of a
  /// first-level division, 3 second-level, 2 third-level, 1 lower, 0 none known.
  int seat = 0;
};

/// A place found by a search or a nearest-place lookup.
struct PlaceMatch {
  Place place;
  bool exact = false;        ///< the searched name is the whole name (or another name) of the place
  double distanceKm = -1.0;  ///< great-circle distance to the given point; negative without one
};

/// The offline index of the world's populated places (the file places.tvp, made from GeoNames
/// data by data/places/generate_places.py), searched by name as the user types and by position.
///
/// Names are compared folded: lower case, without accents, hyphens as blanks, runs of blanks as
/// one ("Zürich", "ZURICH" and "zurich" are the same). The file carries the folding of every
/// non-ASCII character that needs one, so the program and the generator never disagree.
///
/// The file is outside data: every count, offset and length is checked before it is used, the
/// whole file must be exactly as long as its counts say, and a file that fails any check is
/// refused as a whole with PlaceDataInvalid (PlaceDataTooLarge above kMaxFileBytes).
class PlaceIndex {
 public:
  /// The largest index file read (the real one is about 6 MB).
  static constexpr std::uint64_t kMaxFileBytes = 32ull * 1024 * 1024;
  /// The most matches one search answers.
  static constexpr std::size_t kMaxResults = 1000;

  /// Reads the index file at `path`. Answers the open or read status of the file,
  /// PlaceDataTooLarge or PlaceDataInvalid; on failure the index is unchanged.
  [[nodiscard]] XpStatus LoadFile(const std::string& path);
  /// The same for the bytes of an index file already in memory.
  [[nodiscard]] XpStatus LoadBytes(std::string bytes);

  /// The places whose name or other name begins with `text` (folded), best first, at most
  /// `limit` of them (kMaxResults at most). Text after a comma narrows the search to places whose
  /// division, country name or country code begins with it ("Paris, Texas", "Paris, fr").
  /// Ranking: whole-name matches first, then the larger place (by population, with seats of
  /// government counted as at least a town of their rank; sizes within a factor of about three
  /// count as equal), then the place nearer `near` when one is given, then the larger
  /// population, then the name.
  [[nodiscard]] std::vector<PlaceMatch> Search(std::string_view text, std::size_t limit,
                                               const std::optional<GeoPoint>& near = std::nullopt) const;

  /// The place nearest to `point` with its distance; nothing when the index is empty.
  [[nodiscard]] std::optional<PlaceMatch> Nearest(const GeoPoint& point) const;

  /// The `count` places nearest to `point`, nearest first, with their distances.
  [[nodiscard]] std::vector<PlaceMatch> NearestPlaces(const GeoPoint& point, std::size_t count) const;

  /// `text` folded as names are compared.
  [[nodiscard]] std::string Fold(std::string_view text) const;

  /// The number of places.
  [[nodiscard]] std::size_t Size() const { return m_places.size(); }
  /// The bytes the index holds in memory: the file, its tables and the folded names.
  [[nodiscard]] std::size_t MemoryBytes() const;

  /// Great-circle distance in kilometres between two points (mean earth radius).
  [[nodiscard]] static double DistanceKm(const GeoPoint& a, const GeoPoint& b);

 private:
  struct TextRef {
    std::uint32_t offset = 0;
    std::uint16_t length = 0;
  };
  struct FoldRow {
    std::uint32_t codePoint = 0;
    TextRef replacement;
  };
  struct CountryRow {
    char code[2] = {};
    TextRef name;
  };
  struct Admin1Row {
    std::uint16_t country = 0;
    TextRef name;
  };
  struct PlaceRow {
    TextRef name;
    std::uint8_t seat = 0;
    std::uint16_t country = 0;
    std::uint16_t admin1 = 0;  ///< kNoAdmin1 when the place has none
    std::int32_t latitudeE5 = 0;
    std::int32_t longitudeE5 = 0;
    std::uint32_t population = 0;
  };
  /// One searchable name: its folded text in m_folded and the place it names.
  struct Key {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t place = 0;
  };

  static constexpr std::uint16_t kNoAdmin1 = 0xFFFF;

  [[nodiscard]] std::string_view Text(const TextRef& ref) const;
  [[nodiscard]] std::string_view KeyText(const Key& key) const;
  void AppendFolded(std::string_view text, std::string* out) const;
  [[nodiscard]] Place MakePlace(std::uint32_t index) const;
  [[nodiscard]] bool QualifierMatches(const PlaceRow& row, std::string_view qualifier) const;

  std::string m_bytes;
  std::size_t m_poolStart = 0;
  std::size_t m_poolSize = 0;
  std::vector<FoldRow> m_folds;
  std::vector<CountryRow> m_countries;
  std::vector<Admin1Row> m_admin1;
  std::vector<PlaceRow> m_places;
  std::string m_folded;
  std::vector<Key> m_keys;
};
