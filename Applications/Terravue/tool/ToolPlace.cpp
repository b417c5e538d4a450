// place and where: the offline place index from a shell. Both read places.tvp (beside the
// program in a build tree, in share/terravue when installed, or the file --index names); where
// also reads the time-zone map zones.tvz (found the same way, or named by --zones). Neither
// touches the network.
#include <charconv>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"
#include "Applications/Terravue/mapdata/TimeZoneIndex.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/base/XpCalendar.h"

namespace {

constexpr const char* kPlaceUsage = "usage: terravue-tool place [--limit N] [--near LAT,LNG] [--index FILE] TEXT\n";
constexpr const char* kWhereUsage =
    "usage: terravue-tool where [--date YYYY-MM-DD] [--index FILE] [--zones FILE] LAT LNG\n";
constexpr const char* kIndexFile = "places.tvp";
constexpr const char* kZoneFile = "zones.tvz";
constexpr std::int64_t kMillisPerDay = 86400000;
constexpr std::size_t kDefaultLimit = 10;

// A whole decimal number in the C locale's notation, whatever the user's locale.
std::optional<double> ParseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Decimal degrees of a latitude and a longitude, each in range.
std::optional<GeoPoint> ParsePoint(std::string_view lat, std::string_view lng) {
  const auto latitude = ParseNumber(lat);
  const auto longitude = ParseNumber(lng);
  if (!latitude || !longitude || !(*latitude >= -90.0 && *latitude <= 90.0) ||
      !(*longitude >= -180.0 && *longitude <= 180.0)) {
    return std::nullopt;
  }
  return GeoPoint{*latitude, *longitude};
}

std::string Fixed(double value, int digits) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, digits);
  return ec == std::errc() ? std::string(text, end) : std::string("null");
}

std::string IndexReason(XpStatus status) {
  switch (status) {
    case XpStatus::PlaceDataInvalid:
      return "not a place index, or a damaged one (0x8634)";
    case XpStatus::PlaceDataTooLarge:
      return "larger than any place index (0x8635)";
    case XpStatus::FileInvalid:
      return "not a regular file (0x8119)";
    case XpStatus::PathNotFound:
      return "its folder does not exist (0x8106)";
    default:
      return ToolStatusReason(status);
  }
}

// Loads the index, reporting a failure on `err` for the command `name`.
bool LoadIndex(const char* name, const std::string& named, PlaceIndex* index, std::ostream& err) {
  const std::string path = ToolDataPath(named, kIndexFile);
  if (const XpStatus st = index->LoadFile(path); st != XpStatus::Ok) {
    err << "terravue-tool " << name << ": place index " << path << ": " << IndexReason(st) << '\n';
    return false;
  }
  return true;
}

std::string ZoneReason(XpStatus status) {
  switch (status) {
    case XpStatus::TimeZoneDataInvalid:
      return "not a time-zone map, or a damaged one (0x863C)";
    case XpStatus::TimeZoneDataTooLarge:
      return "larger than any time-zone map (0x863D)";
    default:
      return IndexReason(status);
  }
}

// A calendar date YYYY-MM-DD as days since 1970; nothing for any other text or a day that does
// not exist.
std::optional<std::int64_t> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
    return std::nullopt;
  }
  const auto number = [text](std::size_t at, std::size_t length) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + length, value);
    return ec == std::errc() && end == text.data() + at + length ? value : -1;
  };
  const int year = number(0, 4);
  const int month = number(5, 2);
  const int day = number(8, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > XpDaysInMonth(year, month)) {
    return std::nullopt;
  }
  return XpDaysSince1970(year, month, day);
}

// The zone at `point` on the day `days` (since 1970), its offset taken at noon there: noon UTC
// first, then the local noon that offset gives, so that a zone far from UTC answers for its own
// date.
XpStatus ZoneOnDay(const TimeZoneIndex& zones, const GeoPoint& point, std::int64_t days, ZoneAnswer* answer) {
  const std::int64_t noon = days * kMillisPerDay + kMillisPerDay / 2;
  if (auto st = zones.Lookup(point, noon, answer); st != XpStatus::Ok) {
    return st;
  }
  return zones.Lookup(point, noon - static_cast<std::int64_t>(answer->offsetSeconds) * 1000, answer);
}

void WritePlace(const PlaceMatch& match, bool withDistance, std::ostream& out, const ZoneAnswer* zone = nullptr) {
  {
    ToolJsonObject json(out);
    json.Text("name", match.place.name);
    json.Text("admin1", match.place.admin1);
    json.Text("country", match.place.country);
    json.Text("country_name", match.place.countryName);
    json.Raw("lat", Fixed(match.place.position.latitude, 5));
    json.Raw("lng", Fixed(match.place.position.longitude, 5));
    if (match.place.population > 0) {
      json.Number("population", match.place.population);
    } else {
      json.Null("population");
    }
    if (withDistance) {
      json.Raw("distance_km", Fixed(match.distanceKm, 3));
    }
    if (zone != nullptr) {
      json.Text("zone", zone->zone);
      json.Text("utc_offset", ZoneOffsetText(zone->offsetSeconds));
      json.Bool("zone_uncertain", zone->uncertain);
    }
  }
  out << '\n';
}

}  // namespace

int RunPlace(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::size_t limit = kDefaultLimit;
  std::optional<GeoPoint> near;
  std::string indexFile;
  std::string text;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--limit" && hasValue) {
      const std::string& value = args[++i];
      unsigned long long n = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc() || end != value.data() + value.size() || n < 1 || n > PlaceIndex::kMaxResults) {
        err << "terravue-tool place: --limit takes a number from 1 to " << PlaceIndex::kMaxResults << ", not \""
            << value << "\"\n"
            << kPlaceUsage;
        return 2;
      }
      limit = static_cast<std::size_t>(n);
    } else if (arg == "--near" && hasValue) {
      const std::string& value = args[++i];
      const std::size_t comma = value.find(',');
      near = comma == std::string::npos
                 ? std::nullopt
                 : ParsePoint(std::string_view(value).substr(0, comma), std::string_view(value).substr(comma + 1));
      if (!near) {
        err << "terravue-tool place: --near takes LAT,LNG in decimal degrees (-90 to 90, -180 to 180), not \"" << value
            << "\"\n"
            << kPlaceUsage;
        return 2;
      }
    } else if (arg == "--index" && hasValue) {
      indexFile = args[++i];
    } else if (arg.starts_with("--")) {
      err << "terravue-tool place: unknown option or missing value \"" << arg << "\"\n" << kPlaceUsage;
      return 2;
    } else {
      // Words given apart are one name: place New York.
      text += text.empty() ? arg : " " + arg;
    }
  }
  if (text.find_first_not_of(" \t") == std::string::npos) {
    err << "terravue-tool place: no name to look for\n" << kPlaceUsage;
    return 2;
  }
  PlaceIndex index;
  if (!LoadIndex("place", indexFile, &index, err)) {
    return 1;
  }
  const std::vector<PlaceMatch> matches = index.Search(text, limit, near);
  for (const PlaceMatch& match : matches) {
    WritePlace(match, /*withDistance=*/false, out);
  }
  // Like grep: nothing found is exit code 1, without a message.
  return matches.empty() ? 1 : 0;
}

int RunWhere(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string indexFile;
  std::string zoneFile;
  std::optional<std::int64_t> day;
  std::vector<std::string> numbers;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--index" && i + 1 < args.size()) {
      indexFile = args[++i];
    } else if (args[i] == "--zones" && i + 1 < args.size()) {
      zoneFile = args[++i];
    } else if (args[i] == "--date" && i + 1 < args.size()) {
      day = ParseDate(args[++i]);
      if (!day) {
        err << "terravue-tool where: --date takes a date YYYY-MM-DD, not \"" << args[i] << "\"\n" << kWhereUsage;
        return 2;
      }
    } else if (args[i].starts_with("--")) {
      err << "terravue-tool where: unknown option or missing value \"" << args[i] << "\"\n" << kWhereUsage;
      return 2;
    } else {
      numbers.push_back(args[i]);
    }
  }
  if (numbers.size() != 2) {
    err << "terravue-tool where: takes a latitude and a longitude\n" << kWhereUsage;
    return 2;
  }
  const std::optional<GeoPoint> point = ParsePoint(numbers[0], numbers[1]);
  if (!point) {
    err << "terravue-tool where: \"" << numbers[0] << " " << numbers[1]
        << "\" is not a latitude (-90 to 90) and a longitude (-180 to 180) in decimal degrees\n"
        << kWhereUsage;
    return 2;
  }
  PlaceIndex index;
  if (!LoadIndex("where", indexFile, &index, err)) {
    return 1;
  }
  TimeZoneIndex zones;
  const std::string zonePath = ToolDataPath(zoneFile, kZoneFile);
  if (const XpStatus st = zones.LoadFile(zonePath); st != XpStatus::Ok) {
    err << "terravue-tool where: time-zone map " << zonePath << ": " << ZoneReason(st) << '\n';
    return 1;
  }
  const std::optional<PlaceMatch> nearest = index.Nearest(*point);
  if (!nearest) {
    err << "terravue-tool where: the place index holds no place\n";
    return 1;
  }
  // Today, by the UTC calendar, unless a date is given.
  const std::int64_t today =
      std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()).time_since_epoch().count();
  ZoneAnswer zone;
  if (const XpStatus st = ZoneOnDay(zones, *point, day.value_or(today), &zone); st != XpStatus::Ok) {
    err << "terravue-tool where: no time zone for the position: " << ZoneReason(st) << '\n';
    return 1;
  }
  WritePlace(*nearest, /*withDistance=*/true, out, &zone);
  return 0;
}

// The data file to read: the one named, else the one beside the program, else the installed one.
std::string ToolDataPath(const std::string& named, const char* fileName) {
  if (!named.empty()) {
    return named;
  }
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return fileName;
  }
  const std::filesystem::path beside = program.parent_path() / fileName;
  if (std::filesystem::is_regular_file(beside, ec)) {
    return beside.string();
  }
  // The program file is in <prefix>/bin and its data in <prefix>/share/terravue.
  return (program.parent_path() / ".." / "share" / "terravue" / fileName).lexically_normal().string();
}
