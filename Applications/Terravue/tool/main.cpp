// terravue-tool: the core library from a shell. Each subcommand lives in a
// file of its own; this file only holds the table and dispatches to it.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/formats/XpPhotoWrite.h"

namespace {

const ToolCommand kCommands[] = {
    {"info",
     "info FILE...   one JSON line per file: byte order, make, GPS position, capture time, thumbnail, format, sidecar",
     RunInfo},
    {"dump", "dump FILE      the photo's Exif tag tree, one line per entry", RunDump},
    {"handoff", "handoff FILE   the pictures a hand-off list selects, one path per line", RunHandoff},
    {"set-gps",
     "set-gps [--preserve-mtime] [--raw-in-file] --lat TEXT --lng TEXT FILE...   write a position (N:35:37:32.828, "
     "35.6258, "
     "35 37 32.8 N): changes GPS latitude, longitude and their references",
     RunSetGps},
    {"remove-gps",
     "remove-gps [--preserve-mtime] [--raw-in-file] FILE...   remove the GPS directory and overwrite its values",
     RunRemoveGps},
    {"make-photos",
     "make-photos [--size WxH] [--count N] [--without-position K] [--seed S] [--quality Q] FOLDER   sample photos",
     RunMakePhotos},
    {"geotag",
     "geotag --track FILE [--track FILE ...] [--tz +HH:MM|auto] [--zones FILE] [--offset +SECONDS] [--max-gap SECONDS] "
     "[--max-extrapolate SECONDS] [--skip-located] [--dry-run] [--preserve-mtime] [--raw-in-file] [--write-zone] "
     "PHOTO...   place "
     "photos from GPS "
     "track logs: changes GPS position, altitude, date and time stamps",
     RunGeotag},
    {"thumb", "thumb FILE OUT   the picture's map thumbnail (upright, 550 box, quality 70, its Exif data)", RunThumb},
    {"load", "load --work DIR [--jobs N] PHOTO...   add photos as the map does; one JSON line per picture", RunLoad},
    {"place", "place [--limit N] [--near LAT,LNG] TEXT   places whose name begins with TEXT, best first", RunPlace},
    {"restore",
     "restore [--dry-run] PHOTO...   put photos back byte for byte as they were before this program's writes, "
     "from the journal",
     RunRestore},
    {"where",
     "where [--date YYYY-MM-DD] LAT LNG   the nearest place to a position in decimal degrees, the time zone and "
     "its UTC offset there",
     RunWhere},
    {"name-places",
     "name-places [--dry-run] [--preserve-mtime] [--index FILE] [--zones FILE] [--zone-table FILE] PHOTO...   name "
     "the nearest place (city, division, country) in each photo's XMP and IIM location; one JSON line per photo",
     RunNamePlaces},
    {"export",
     "export [--format gpx|geojson|kml|kmz] [--track] [--tz +HH:MM] [--output FILE] PHOTO...   the photos with a "
     "position "
     "as GPX 1.1 waypoints (with --track also a track in time order), GeoJSON, KML or KMZ with thumbnails; the format "
     "follows the output "
     "file's extension unless given; UTC times from the photo's own zone, else its GPS time stamp, else --tz, else "
     "this machine's zone",
     RunExport},
};

void Usage(std::ostream& err) {
  err << "usage: terravue-tool COMMAND ARGS...\n";
  for (const auto& c : kCommands) {
    err << "  " << c.usage << '\n';
  }
  err << "Every write is kept in the journal (~/.local/share/terravue/journal) so that restore can undo it;\n"
         "remove-gps forgets the photo's entries there.\n";
  err << "Every rewrite also sets DateTime (IFD0, IFD1) to the time of the write, ExifVersion to at least 0221\n"
         "and, without --preserve-mtime, gives the file the time of the write. A photo left unchanged is named with "
         "the reason; the exit code is 1.\n";
  err << "DNG, CR2, NEF, PEF and ORF photos get their position in an XMP sidecar unless --raw-in-file is given: then\n"
         "in the file, append-only, with a \"warning\" in the photo's line (the maker's software may refuse it).\n"
         "Other raw kinds always get a sidecar.\n";
}

}  // namespace

std::span<const ToolCommand> ToolCommands() { return kCommands; }

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(std::cerr);
    return 2;
  }
  PhotoJournal::SetFolder(PhotoJournal::DefaultFolder());
  const std::string name = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  // --raw-in-file, for every command that writes positions: DNG, CR2, NEF,
  // PEF and ORF photos get theirs in the file instead of a sidecar.
  if (name == "set-gps" || name == "remove-gps" || name == "geotag") {
    const auto end = std::find(args.begin(), args.end(), "--");
    const auto flag = std::find(args.begin(), end, "--raw-in-file");
    if (flag != end) {
      args.erase(flag);
      XpPhotoWrite::Policy policy;
      policy.rawInFile = true;
      XpPhotoWrite::SetPolicy(policy);
    }
  }
  for (const auto& c : ToolCommands()) {
    if (name == c.name) {
      return c.run(args, std::cout, std::cerr);
    }
  }
  std::cerr << "terravue-tool: unknown command \"" << name << "\"\n";
  Usage(std::cerr);
  return 2;
}
