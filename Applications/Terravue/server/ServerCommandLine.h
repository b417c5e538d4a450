#pragma once

#include <span>
#include <string>
#include <string_view>

#include "Applications/Terravue/server/SupportServer.h"

namespace terravue::server {

/// What `terravue-server` was asked to do.
struct ServerCommandLine {
  SupportServerOptions options;
  bool assetFolderGiven = false;  ///< false: the caller uses the executable's folder
  bool showHelp = false;
  std::string tileLayersFile;  ///< --tile-layers: read by the caller (LoadTileLayers)
  std::string error;           ///< non-empty when the arguments could not be read
};

/// Reads the arguments after the program name:
///   --port N (0..65535; 0 any free port; an explicit port does not fall back to another),
///   --bind ADDRESS, --assets FOLDER, --tile-url URL, --tile-attribution TEXT,
///   --thumb-prefix PREFIX, --tile-layers FILE, --tiles FILE, --help.
/// Without --port the default port is used with the fall-back to a free one.
[[nodiscard]] ServerCommandLine ParseServerCommandLine(std::span<const std::string_view> args);

/// The usage text printed for --help and after an argument error.
[[nodiscard]] std::string_view ServerUsage() noexcept;

}  // namespace terravue::server
