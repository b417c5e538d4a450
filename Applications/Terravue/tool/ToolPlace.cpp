// place and where: the offline place index from a shell. Both read places.tvp (beside the
// program in a build tree, in share/terravue when installed, or the file --index names) and
// never touch the network.
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceIndex.h"
#include "Applications/Terravue/tool/ToolCommands.h"

namespace {

constexpr const char* kPlaceUsage = "usage: terravue-tool place [--limit N] [--near LAT,LNG] [--index FILE] TEXT\n";
constexpr const char* kWhereUsage = "usage: terravue-tool where [--index FILE] LAT LNG\n";
constexpr const char* kIndexFile = "places.tvp";
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

// The index file to read: the one named, else the one beside the program, else the installed one.
std::string IndexPath(const std::string& named) {
  if (!named.empty()) {
    return named;
  }
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return kIndexFile;
  }
  const std::filesystem::path beside = program.parent_path() / kIndexFile;
  if (std::filesystem::is_regular_file(beside, ec)) {
    return beside.string();
  }
  // The program file is in <prefix>/bin and its data in <prefix>/share/terravue.
  return (program.parent_path() / ".." / "share" / "terravue" / kIndexFile).lexically_normal().string();
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
  const std::string path = IndexPath(named);
  if (const XpStatus st = index->LoadFile(path); st != XpStatus::Ok) {
    err << "terravue-tool " << name << ": place index " << path << ": " << IndexReason(st) << '\n';
    return false;
  }
  return true;
}

void WritePlace(const PlaceMatch& match, bool withDistance, std::ostream& out) {
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
  std::vector<std::string> numbers;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--index" && i + 1 < args.size()) {
      indexFile = args[++i];
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
  const std::optional<PlaceMatch> nearest = index.Nearest(*point);
  if (!nearest) {
    err << "terravue-tool where: the place index holds no place\n";
    return 1;
  }
  WritePlace(*nearest, /*withDistance=*/true, out);
  return 0;
}
