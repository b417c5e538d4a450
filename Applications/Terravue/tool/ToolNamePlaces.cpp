// terravue-tool name-places [--dry-run] PHOTO...: names the place each photo was taken at (the
// nearest place of the place index, its division and country) in a JPEG's XMP packet and, where it
// has one, its IIM block, and in the XMP sidecars of every other kind; one JSON line per photo with
// the proposal, where the names go and whether they were written.
#include <charconv>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/mapdata/PlaceNaming.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpLocationWrite.h"

namespace {

constexpr const char* kUsage =
    "usage: terravue-tool name-places [--dry-run] [--preserve-mtime] [--index FILE] [--zones FILE] "
    "[--zone-table FILE] PHOTO...\n";
std::string Fixed(double value, int digits) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, digits);
  return ec == std::errc() ? std::string(text, end) : std::string("null");
}

std::string Reason(XpStatus status) {
  switch (status) {
    case XpStatus::NoPositionToName:
      return "the photo has no GPS position to name a place from (0x8632)";
    case XpStatus::XmpInvalid:
      return "its XMP packet or sidecar is not well-formed UTF-8 XML; left unchanged (0x8618)";
    case XpStatus::SidecarCheckFailed:
      return "the written XMP sidecar did not read back as intended; left unchanged (0x8624)";
    case XpStatus::IimInvalid:
      return "its IPTC-IIM block is damaged; left unchanged (0x8630)";
    case XpStatus::LocationSegmentFull:
      return "the names would not fit the XMP or IIM segment; left unchanged (0x8631)";
    case XpStatus::MetadataWouldMove:
      return "a longer segment would move a preview or second image that other metadata points at; left "
             "unchanged (0x863f)";
    default:
      return ToolStatusReason(status);
  }
}

std::string LocationJson(const std::string& city, const std::string& state, const std::string& country,
                         const std::string& code) {
  return "{\"city\":" + ToolJsonObject::Quote(city) + ",\"state\":" + ToolJsonObject::Quote(state) +
         ",\"country\":" + ToolJsonObject::Quote(country) + ",\"country_code\":" + ToolJsonObject::Quote(code) + "}";
}

std::string AlternativesJson(const PlaceProposal& proposal, const GeoPoint& point) {
  std::string json = "[";
  for (const PlaceMatch& match : proposal.alternatives) {
    if (json.size() > 1) {
      json += ',';
    }
    json += "{\"name\":" + ToolJsonObject::Quote(match.place.name) +
            ",\"admin1\":" + ToolJsonObject::Quote(match.place.admin1) +
            ",\"country_code\":" + ToolJsonObject::Quote(match.place.country) +
            ",\"distance_km\":" + Fixed(match.distanceKm, 2) +
            ",\"direction\":" + ToolJsonObject::Quote(CompassDirection(match.place.position, point)) + "}";
  }
  return json + "]";
}

std::string WarningsJson(const std::vector<std::string>& warnings) {
  std::string json = "[";
  for (const std::string& warning : warnings) {
    json += (json.size() > 1 ? "," : "") + ToolJsonObject::Quote(warning);
  }
  return json + "]";
}

}  // namespace

int RunNamePlaces(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool dryRun = false;
  XpExifRewrite::Hooks hooks;
  std::string indexFile;
  std::string zoneFile;
  std::string zoneTable = kSystemZoneTable;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--dry-run") {
      dryRun = true;
    } else if (args[i] == "--preserve-mtime") {
      hooks.preserveModificationTime = true;
    } else if (args[i] == "--index" && hasValue) {
      indexFile = args[++i];
    } else if (args[i] == "--zones" && hasValue) {
      zoneFile = args[++i];
    } else if (args[i] == "--zone-table" && hasValue) {
      zoneTable = args[++i];
    } else if (args[i] == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (args[i].starts_with("--")) {
      err << "terravue-tool name-places: unknown option or missing value \"" << args[i] << "\"\n" << kUsage;
      return 2;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) {
    err << "terravue-tool name-places: no photo given\n" << kUsage;
    return 2;
  }
  PlaceIndex places;
  const std::string placePath = ToolDataPath(indexFile, "places.tvp");
  if (const XpStatus st = places.LoadFile(placePath); st != XpStatus::Ok) {
    err << "terravue-tool name-places: place index " << placePath << ": " << ToolStatusReason(st) << '\n';
    return 1;
  }
  // The time-zone map and table only check the country; without them nothing is checked.
  TimeZoneIndex zones;
  const std::string zonePath = ToolDataPath(zoneFile, "zones.tvz");
  const bool haveZones = zones.LoadFile(zonePath) == XpStatus::Ok;
  if (!haveZones) {
    err << "terravue-tool name-places: no time-zone map at " << zonePath << ": countries are not cross-checked\n";
  }
  ZoneCountries countries;
  // The zones the first table counts as links still name their country in the one beside it.
  if (haveZones && countries.LoadWithLinks(zoneTable) != XpStatus::Ok) {
    err << "terravue-tool name-places: no zone table at " << zoneTable << ": countries are not cross-checked\n";
  }

  int exitCode = 0;
  const auto nameOne = [&](const std::string& file) {
    ToolJsonObject json(out);
    json.Text("file", file);
    const auto fail = [&](XpStatus st) {
      json.Bool("written", false);
      json.Text("status", XpStatusText(st));
      json.Text("reason", Reason(st));
      exitCode = 1;
    };
    XpGPSRecord record;
    double latitude = 0;
    double longitude = 0;
    if (XpPhotoWrite::ReadGPS(file, record) != XpStatus::Ok ||
        !RationalsToDegrees(record.latitudeRef, record.latitude, &latitude) ||
        !RationalsToDegrees(record.longitudeRef, record.longitude, &longitude)) {
      fail(XpStatus::NoPositionToName);
      return;
    }
    const GeoPoint point{latitude, longitude};
    json.Raw("lat", Fixed(latitude, 6));
    json.Raw("lng", Fixed(longitude, 6));
    PlaceProposal proposal;
    if (const XpStatus st = ProposePlace(places, haveZones ? &zones : nullptr, &countries, point, &proposal);
        st != XpStatus::Ok) {
      fail(st);
      return;
    }
    const Place& place = proposal.nearest.place;
    json.Text("place", place.name);
    json.Text("admin1", place.admin1);
    json.Text("country", place.countryName);
    json.Text("country_code", place.country);
    json.Text("country_code3", proposal.countryAlpha3);
    json.Raw("distance_km", Fixed(proposal.nearest.distanceKm, 2));
    json.Text("direction", proposal.direction);
    json.Text("label", proposal.label);
    json.Text("zone", proposal.zone);
    json.Bool("review", proposal.review);
    if (proposal.review) {
      json.Text("review_reason", proposal.reviewReason);
    }
    json.Raw("alternatives", AlternativesJson(proposal, point));
    const XpPhotoWrite::Where where = XpPhotoWrite::WhereNamesWritten(file);
    json.Text("names_to", std::string(XpPhotoWrite::DestinationName(where.destination)));
    if (where.destination == XpPhotoWrite::Destination::Sidecar) {
      json.Text("sidecar", where.sidecars.front());
    }
    if (where.notInFile == XpStatus::NamesInSidecar) {
      // PNG, WebP, TIFF and the like keep their position in the file but their names beside it.
      json.Text("note", "this kind of photo keeps no place names in its file: they go to its XMP sidecar (0x8615)");
    }
    XpLocationWrite::Current current;
    if (const XpStatus st = XpPhotoWrite::ReadNames(file, &current); st != XpStatus::Ok) {
      fail(st);
      return;
    }
    const auto& old = current.xmp.legacy;
    json.Raw("old_xmp", LocationJson(old.city, old.state, old.country, old.countryCode));
    if (current.hasIim) {
      json.Raw("old_iim",
               LocationJson(current.iim.city, current.iim.state, current.iim.country, current.iim.countryCode));
    }
    if (dryRun) {
      json.Bool("written", false);
      json.Bool("dry_run", true);
      return;
    }
    XpLocationWrite::Outcome outcome;
    const XpStatus st = PhotoJournal::RecordNamesWrite(
        file, [&] { return XpPhotoWrite::WriteNames(file, proposal.Names(), hooks, &outcome); });
    if (st != XpStatus::Ok) {
      fail(st);
      return;
    }
    json.Bool("written", outcome.written);
    json.Bool("xmp_added", outcome.xmpAdded);
    json.Bool("iim_written", outcome.iimChanged);
    json.Raw("warnings", WarningsJson(outcome.warnings));
  };
  for (const std::string& file : files) {
    nameOne(file);
    out << '\n';
  }
  return exitCode;
}
