#include "Applications/Terravue/mapdata/PlaceIndex.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "xp/base/XpFileRead.h"

namespace {

// Layout of places.tvp (little-endian): the magic, six counts, the text pool, then the tables of
// fixed-size rows in this order.
constexpr std::string_view kMagic = "TVPLACE1";
constexpr std::size_t kCountCount = 6;
constexpr std::size_t kHeaderBytes = 8 + 4 * kCountCount;
constexpr std::size_t kFoldRowBytes = 12;    // code point u32, text offset u32, length u16, 0 u16
constexpr std::size_t kCountryRowBytes = 8;  // code 2 bytes, length u16, text offset u32
constexpr std::size_t kAdmin1RowBytes = 8;   // country u16, length u16, text offset u32
constexpr std::size_t kPlaceRowBytes = 24;   // offset u32, length u8, seat u8, country u16, admin1 u16,
                                             // 0 u16, latitude i32, longitude i32, population u32
constexpr std::size_t kAliasRowBytes = 12;   // text offset u32, length u16, 0 u16, place u32
constexpr std::uint32_t kMaxFoldBytes = 8;   // the longest replacement of one character
constexpr int kMaxSeat = 5;
constexpr std::int32_t kMaxLatitudeE5 = 90 * 100000;
constexpr std::int32_t kMaxLongitudeE5 = 180 * 100000;
constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;
// Folding may lengthen a name (one two-byte letter into up to eight bytes); the folded names of
// all places together are refused beyond this.
constexpr std::size_t kMaxFoldedBytes = 64ull * 1024 * 1024;
constexpr double kEarthRadiusKm = 6371.0088;

// The least size a seat of government counts as, by seat level, when ranking.
constexpr std::array<std::uint32_t, kMaxSeat + 1> kSeatFloor = {0, 1000, 2000, 10000, 50000, 100000};

// Reads little-endian numbers at offsets the caller has checked against the size.
class LittleEndian {
 public:
  explicit LittleEndian(std::string_view bytes) : m_bytes(bytes) {}
  [[nodiscard]] std::uint8_t U8(std::size_t at) const { return static_cast<std::uint8_t>(m_bytes[at]); }
  [[nodiscard]] std::uint16_t U16(std::size_t at) const {
    return static_cast<std::uint16_t>(U8(at) | (U8(at + 1) << 8));
  }
  [[nodiscard]] std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(U16(at)) | (static_cast<std::uint32_t>(U16(at + 2)) << 16);
  }
  [[nodiscard]] std::int32_t I32(std::size_t at) const { return static_cast<std::int32_t>(U32(at)); }

 private:
  std::string_view m_bytes;
};

// Adds `count` rows of `rowBytes` to `*end`; false on overflow.
bool AddTable(std::size_t count, std::size_t rowBytes, std::size_t* end) {
  std::size_t bytes = 0;
  return !__builtin_mul_overflow(count, rowBytes, &bytes) && !__builtin_add_overflow(*end, bytes, end);
}

// The number of bytes of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot
// start one.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return 4;
  }
  return 0;
}

// The code point of the sequence of `length` bytes at `text[at]`, or nothing when it is cut
// short or not well formed.
std::optional<std::uint32_t> DecodeSequence(std::string_view text, std::size_t at, std::size_t length) {
  if (length == 0 || text.size() - at < length) {
    return std::nullopt;
  }
  auto lead = static_cast<unsigned char>(text[at]);
  std::uint32_t cp = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      return std::nullopt;
    }
    cp = (cp << 6) | (next & 0x3Fu);
  }
  constexpr std::array<std::uint32_t, 5> kLeast = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[length] || cp > kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return std::nullopt;
  }
  return cp;
}

// Appends one byte of folded text, keeping blanks single and never leading.
void EmitFolded(char ch, std::size_t start, std::string* out) {
  if (ch >= 'A' && ch <= 'Z') {
    ch = static_cast<char>(ch - 'A' + 'a');
  } else if (ch == '-' || ch == '\t' || ch == '_') {
    ch = ' ';
  }
  if (ch == ' ' && (out->size() == start || out->back() == ' ')) {
    return;
  }
  out->push_back(ch);
}

// Whether `text` begins with `prefix`.
bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

// The size class a place ranks in: population (or the floor of its seat), in steps of a factor
// of ten to the half.
int SizeTier(std::uint32_t population, int seat) {
  const std::uint32_t size = std::max(population, kSeatFloor[static_cast<std::size_t>(seat)]);
  if (size == 0) {
    return 0;
  }
  return 1 + static_cast<int>(std::floor(2.0 * std::log10(static_cast<double>(size))));
}

}  // namespace

XpStatus PlaceIndex::LoadFile(const std::string& path) {
  std::string bytes;
  if (auto st = XpReadWholeFile(path, kMaxFileBytes, &bytes, XpStatus::PlaceDataTooLarge); st != XpStatus::Ok) {
    return st;
  }
  return LoadBytes(std::move(bytes));
}

XpStatus PlaceIndex::LoadBytes(std::string bytes) {
  if (bytes.size() > kMaxFileBytes) {
    return XpStatus::PlaceDataTooLarge;
  }
  if (bytes.size() < kHeaderBytes || std::string_view(bytes).substr(0, kMagic.size()) != kMagic) {
    return XpStatus::PlaceDataInvalid;
  }
  const LittleEndian le(bytes);
  std::array<std::size_t, kCountCount> counts{};
  for (std::size_t i = 0; i < kCountCount; ++i) {
    counts[i] = le.U32(kMagic.size() + 4 * i);
  }
  const std::size_t poolSize = counts[0];
  const std::size_t foldCount = counts[1];
  const std::size_t countryCount = counts[2];
  const std::size_t admin1Count = counts[3];
  const std::size_t placeCount = counts[4];
  const std::size_t aliasCount = counts[5];

  // Where each table starts; the file must end exactly after the last one.
  std::size_t end = kHeaderBytes;
  const std::size_t poolStart = end;
  if (__builtin_add_overflow(end, poolSize, &end)) {
    return XpStatus::PlaceDataInvalid;
  }
  const std::size_t foldStart = end;
  if (!AddTable(foldCount, kFoldRowBytes, &end)) {
    return XpStatus::PlaceDataInvalid;
  }
  const std::size_t countryStart = end;
  if (!AddTable(countryCount, kCountryRowBytes, &end)) {
    return XpStatus::PlaceDataInvalid;
  }
  const std::size_t admin1Start = end;
  if (!AddTable(admin1Count, kAdmin1RowBytes, &end)) {
    return XpStatus::PlaceDataInvalid;
  }
  const std::size_t placeStart = end;
  if (!AddTable(placeCount, kPlaceRowBytes, &end)) {
    return XpStatus::PlaceDataInvalid;
  }
  const std::size_t aliasStart = end;
  if (!AddTable(aliasCount, kAliasRowBytes, &end) || end != bytes.size()) {
    return XpStatus::PlaceDataInvalid;
  }
  if (countryCount > 0xFFFF || admin1Count >= kNoAdmin1 || placeCount > 0xFFFFFFFFull) {
    return XpStatus::PlaceDataInvalid;
  }

  auto textRef = [&](std::uint32_t offset, std::uint16_t length, TextRef* out) {
    if (offset > poolSize || length > poolSize - offset) {
      return false;
    }
    *out = TextRef{offset, length};
    return true;
  };

  std::vector<FoldRow> folds(foldCount);
  for (std::size_t i = 0; i < foldCount; ++i) {
    const std::size_t at = foldStart + i * kFoldRowBytes;
    folds[i].codePoint = le.U32(at);
    const std::uint16_t length = le.U16(at + 8);
    // Code points strictly increase, so that a lookup is a binary search.
    if (folds[i].codePoint > kMaxCodePoint || folds[i].codePoint < 0x80 ||
        (i > 0 && folds[i].codePoint <= folds[i - 1].codePoint) || length > kMaxFoldBytes ||
        !textRef(le.U32(at + 4), length, &folds[i].replacement)) {
      return XpStatus::PlaceDataInvalid;
    }
  }
  std::vector<CountryRow> countries(countryCount);
  for (std::size_t i = 0; i < countryCount; ++i) {
    const std::size_t at = countryStart + i * kCountryRowBytes;
    countries[i].code[0] = bytes[at];
    countries[i].code[1] = bytes[at + 1];
    if (!textRef(le.U32(at + 4), le.U16(at + 2), &countries[i].name)) {
      return XpStatus::PlaceDataInvalid;
    }
  }
  std::vector<Admin1Row> admin1(admin1Count);
  for (std::size_t i = 0; i < admin1Count; ++i) {
    const std::size_t at = admin1Start + i * kAdmin1RowBytes;
    admin1[i].country = le.U16(at);
    if (admin1[i].country >= countryCount || !textRef(le.U32(at + 4), le.U16(at + 2), &admin1[i].name)) {
      return XpStatus::PlaceDataInvalid;
    }
  }
  std::vector<PlaceRow> places(placeCount);
  for (std::size_t i = 0; i < placeCount; ++i) {
    const std::size_t at = placeStart + i * kPlaceRowBytes;
    PlaceRow& row = places[i];
    row.seat = le.U8(at + 5);
    row.country = le.U16(at + 6);
    row.admin1 = le.U16(at + 8);
    row.latitudeE5 = le.I32(at + 12);
    row.longitudeE5 = le.I32(at + 16);
    row.population = le.U32(at + 20);
    if (!textRef(le.U32(at), le.U8(at + 4), &row.name) || row.seat > kMaxSeat || row.country >= countryCount ||
        (row.admin1 != kNoAdmin1 && row.admin1 >= admin1Count) || row.latitudeE5 < -kMaxLatitudeE5 ||
        row.latitudeE5 > kMaxLatitudeE5 || row.longitudeE5 < -kMaxLongitudeE5 || row.longitudeE5 > kMaxLongitudeE5) {
      return XpStatus::PlaceDataInvalid;
    }
  }
  std::vector<std::pair<TextRef, std::uint32_t>> aliases(aliasCount);
  for (std::size_t i = 0; i < aliasCount; ++i) {
    const std::size_t at = aliasStart + i * kAliasRowBytes;
    aliases[i].second = le.U32(at + 8);
    if (aliases[i].second >= placeCount || !textRef(le.U32(at), le.U16(at + 4), &aliases[i].first)) {
      return XpStatus::PlaceDataInvalid;
    }
  }

  // Everything checks out: take the tables and build the sorted folded names.
  PlaceIndex index;
  index.m_bytes = std::move(bytes);
  index.m_poolStart = poolStart;
  index.m_poolSize = poolSize;
  index.m_folds = std::move(folds);
  index.m_countries = std::move(countries);
  index.m_admin1 = std::move(admin1);
  index.m_places = std::move(places);
  index.m_keys.reserve(placeCount + aliasCount);
  auto addKey = [&index](const TextRef& name, std::uint32_t place) {
    const std::size_t start = index.m_folded.size();
    index.AppendFolded(index.Text(name), &index.m_folded);
    index.m_keys.push_back(
        Key{static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(index.m_folded.size() - start), place});
    return index.m_folded.size() <= kMaxFoldedBytes;
  };
  for (std::size_t i = 0; i < placeCount; ++i) {
    if (!addKey(index.m_places[i].name, static_cast<std::uint32_t>(i))) {
      return XpStatus::PlaceDataInvalid;
    }
  }
  for (const auto& [name, place] : aliases) {
    if (!addKey(name, place)) {
      return XpStatus::PlaceDataInvalid;
    }
  }
  std::sort(index.m_keys.begin(), index.m_keys.end(), [&index](const Key& a, const Key& b) {
    const std::string_view ta = index.KeyText(a);
    const std::string_view tb = index.KeyText(b);
    return ta != tb ? ta < tb : a.place < b.place;
  });
  *this = std::move(index);
  return XpStatus::Ok;
}

std::string_view PlaceIndex::Text(const TextRef& ref) const {
  return std::string_view(m_bytes).substr(m_poolStart + ref.offset, ref.length);
}

std::string_view PlaceIndex::KeyText(const Key& key) const {
  return std::string_view(m_folded).substr(key.offset, key.length);
}

void PlaceIndex::AppendFolded(std::string_view text, std::string* out) const {
  const std::size_t start = out->size();
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
      EmitFolded(text[at], start, out);
      ++at;
      continue;
    }
    const std::size_t length = SequenceLength(lead);
    const std::optional<std::uint32_t> cp = DecodeSequence(text, at, length);
    if (!cp) {
      // A byte that is not part of well-formed UTF-8 compares as itself.
      out->push_back(text[at]);
      ++at;
      continue;
    }
    auto fold = std::lower_bound(m_folds.begin(), m_folds.end(), *cp,
                                 [](const FoldRow& row, std::uint32_t value) { return row.codePoint < value; });
    if (fold != m_folds.end() && fold->codePoint == *cp) {
      for (char ch : Text(fold->replacement)) {
        EmitFolded(ch, start, out);
      }
    } else {
      out->append(text.substr(at, length));
    }
    at += length;
  }
  if (out->size() > start && out->back() == ' ') {
    out->pop_back();
  }
}

std::string PlaceIndex::Fold(std::string_view text) const {
  std::string folded;
  AppendFolded(text, &folded);
  return folded;
}

Place PlaceIndex::MakePlace(std::uint32_t index) const {
  const PlaceRow& row = m_places[index];
  const CountryRow& country = m_countries[row.country];
  Place place;
  place.name = std::string(Text(row.name));
  if (row.admin1 != kNoAdmin1) {
    place.admin1 = std::string(Text(m_admin1[row.admin1].name));
  }
  place.country = std::string(country.code, 2);
  place.countryName = std::string(Text(country.name));
  place.position = GeoPoint{row.latitudeE5 / 1e5, row.longitudeE5 / 1e5};
  place.population = row.population;
  place.seat = row.seat;
  return place;
}

bool PlaceIndex::QualifierMatches(const PlaceRow& row, std::string_view qualifier) const {
  const CountryRow& country = m_countries[row.country];
  if (StartsWith(Fold(std::string_view(country.code, 2)), qualifier) ||
      StartsWith(Fold(Text(country.name)), qualifier)) {
    return true;
  }
  return row.admin1 != kNoAdmin1 && StartsWith(Fold(Text(m_admin1[row.admin1].name)), qualifier);
}

std::vector<PlaceMatch> PlaceIndex::Search(std::string_view text, std::size_t limit,
                                           const std::optional<GeoPoint>& near) const {
  limit = std::min(limit, kMaxResults);
  const std::size_t comma = text.find(',');
  const std::string name = Fold(TrimBlanks(text.substr(0, comma)));
  const std::string qualifier =
      comma == std::string_view::npos ? std::string() : Fold(TrimBlanks(text.substr(comma + 1)));
  if (limit == 0 || name.empty()) {
    return {};
  }

  struct Candidate {
    std::uint32_t place = 0;
    bool exact = false;
    int tier = 0;
    double distanceKm = -1.0;
  };
  std::vector<Candidate> candidates;
  auto key = std::lower_bound(m_keys.begin(), m_keys.end(), std::string_view(name),
                              [this](const Key& k, std::string_view value) { return KeyText(k) < value; });
  for (; key != m_keys.end() && StartsWith(KeyText(*key), name); ++key) {
    if (!qualifier.empty() && !QualifierMatches(m_places[key->place], qualifier)) {
      continue;
    }
    candidates.push_back(Candidate{key->place, key->length == name.size()});
  }
  // A place found by its name and by another name counts once, as its better match.
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.place != b.place ? a.place < b.place : a.exact > b.exact;
  });
  candidates.erase(std::unique(candidates.begin(), candidates.end(),
                               [](const Candidate& a, const Candidate& b) { return a.place == b.place; }),
                   candidates.end());
  for (Candidate& c : candidates) {
    const PlaceRow& row = m_places[c.place];
    c.tier = SizeTier(row.population, row.seat);
    if (near) {
      c.distanceKm = DistanceKm(*near, GeoPoint{row.latitudeE5 / 1e5, row.longitudeE5 / 1e5});
    }
  }
  auto better = [this](const Candidate& a, const Candidate& b) {
    if (a.exact != b.exact) {
      return a.exact;
    }
    if (a.tier != b.tier) {
      return a.tier > b.tier;
    }
    if (a.distanceKm != b.distanceKm) {
      return a.distanceKm < b.distanceKm;
    }
    const PlaceRow& ra = m_places[a.place];
    const PlaceRow& rb = m_places[b.place];
    if (ra.population != rb.population) {
      return ra.population > rb.population;
    }
    const std::string_view na = Text(ra.name);
    const std::string_view nb = Text(rb.name);
    return na != nb ? na < nb : a.place < b.place;
  };
  const std::size_t count = std::min(limit, candidates.size());
  std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(count), candidates.end(),
                    better);
  std::vector<PlaceMatch> matches;
  matches.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    matches.push_back(PlaceMatch{MakePlace(candidates[i].place), candidates[i].exact, candidates[i].distanceKm});
  }
  return matches;
}

std::optional<PlaceMatch> PlaceIndex::Nearest(const GeoPoint& point) const {
  if (m_places.empty()) {
    return std::nullopt;
  }
  std::uint32_t best = 0;
  double bestKm = 0.0;
  for (std::size_t i = 0; i < m_places.size(); ++i) {
    const PlaceRow& row = m_places[i];
    const double km = DistanceKm(point, GeoPoint{row.latitudeE5 / 1e5, row.longitudeE5 / 1e5});
    if (i == 0 || km < bestKm) {
      best = static_cast<std::uint32_t>(i);
      bestKm = km;
    }
  }
  return PlaceMatch{MakePlace(best), false, bestKm};
}

std::vector<PlaceMatch> PlaceIndex::NearestPlaces(const GeoPoint& point, std::size_t count) const {
  count = std::min(count, m_places.size());
  std::vector<std::pair<double, std::uint32_t>> best;  // kept sorted, at most `count` long
  best.reserve(count + 1);
  for (std::size_t i = 0; i < m_places.size() && count > 0; ++i) {
    const PlaceRow& row = m_places[i];
    const double km = DistanceKm(point, GeoPoint{row.latitudeE5 / 1e5, row.longitudeE5 / 1e5});
    if (best.size() == count && km >= best.back().first) {
      continue;
    }
    const std::pair<double, std::uint32_t> entry{km, static_cast<std::uint32_t>(i)};
    best.insert(std::upper_bound(best.begin(), best.end(), entry), entry);
    if (best.size() > count) {
      best.pop_back();
    }
  }
  std::vector<PlaceMatch> matches;
  for (const auto& [km, index] : best) {
    matches.push_back(PlaceMatch{MakePlace(index), false, km});
  }
  return matches;
}

std::size_t PlaceIndex::MemoryBytes() const {
  return m_bytes.capacity() + m_folds.capacity() * sizeof(FoldRow) + m_countries.capacity() * sizeof(CountryRow) +
         m_admin1.capacity() * sizeof(Admin1Row) + m_places.capacity() * sizeof(PlaceRow) + m_folded.capacity() +
         m_keys.capacity() * sizeof(Key);
}

double PlaceIndex::DistanceKm(const GeoPoint& a, const GeoPoint& b) {
  constexpr double kRadians = std::numbers::pi / 180.0;
  const double lat1 = a.latitude * kRadians;
  const double lat2 = b.latitude * kRadians;
  const double sinLat = std::sin((lat2 - lat1) / 2.0);
  const double sinLng = std::sin((b.longitude - a.longitude) * kRadians / 2.0);
  const double h = sinLat * sinLat + std::cos(lat1) * std::cos(lat2) * sinLng * sinLng;
  return 2.0 * kEarthRadiusKm * std::asin(std::sqrt(std::min(1.0, h)));
}
