#include "Applications/Terravue/server/ServerCommandLine.h"

#include <charconv>

namespace terravue::server {

std::string_view ServerUsage() noexcept {
  return "Usage: terravue-server [--port N] [--bind ADDRESS] [--assets FOLDER]\n"
         "                       [--tile-url URL] [--tile-attribution TEXT] [--thumb-prefix PREFIX]\n"
         "                       [--tile-layers FILE] [--tiles FILE.mbtiles]\n"
         "Serves the Terravue map page, its files and the help pages. Binds to 127.0.0.1 unless\n"
         "--bind names another address. --port 0 takes any free port. The asset folder defaults to\n"
         "the folder of this program, or ../share/terravue beside it in an installation.\n"
         "--tile-layers reads the map layers the page offers from FILE (one [name] block each, with\n"
         "url, attribution, max_zoom and referer); --tiles serves the tiles of an MBTiles file for\n"
         "areas without network and offers them as the first layer.\n";
}

ServerCommandLine ParseServerCommandLine(std::span<const std::string_view> args) {
  ServerCommandLine result;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      result.showHelp = true;
      continue;
    }
    const bool takesValue = arg == "--port" || arg == "--bind" || arg == "--assets" || arg == "--tile-url" ||
                            arg == "--tile-attribution" || arg == "--thumb-prefix" || arg == "--tile-layers" ||
                            arg == "--tiles";
    if (!takesValue) {
      result.error = "unknown argument: " + std::string(arg);
      return result;
    }
    if (i + 1 >= args.size()) {
      result.error = std::string(arg) + " needs a value";
      return result;
    }
    const std::string_view value = args[++i];
    if (arg == "--port") {
      int port = -1;
      const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc{} || ptr != value.data() + value.size() || port < 0 || port > 65535) {
        result.error = "--port needs a number from 0 to 65535";
        return result;
      }
      result.options.port = port;
      result.options.fallBackToFreePort = false;
    } else if (arg == "--bind") {
      if (value.empty()) {
        result.error = "--bind needs an address";
        return result;
      }
      result.options.bindAddress = std::string(value);
    } else if (arg == "--assets") {
      result.options.assetFolder = std::string(value);
      result.assetFolderGiven = true;
    } else if (arg == "--tile-url") {
      result.options.page.tileUrl = std::string(value);
    } else if (arg == "--tile-layers") {
      result.tileLayersFile = std::string(value);
    } else if (arg == "--tiles") {
      result.options.tileFile = std::string(value);
    } else if (arg == "--tile-attribution") {
      result.options.page.tileAttribution = std::string(value);
    } else {
      result.options.page.thumbnailPrefix = std::string(value);
    }
  }
  return result;
}

}  // namespace terravue::server
