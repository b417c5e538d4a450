#pragma once

#include <filesystem>

namespace terravue::server {

/// The file whose presence marks a folder as holding the page files.
inline constexpr const char* kAssetMarkerFile = "map.html";

/// The folder of the page files for a program file in `executableFolder`: that folder itself when
/// it holds the page files (a build tree, or everything in one folder), else "../share/terravue"
/// beside it when that holds them (an installation under a prefix such as /usr or /usr/local),
/// else `executableFolder` unchanged, so that a missing installation is reported for the folder
/// the program lives in.
[[nodiscard]] std::filesystem::path FindAssetFolder(const std::filesystem::path& executableFolder);

/// The folder of the running program file with symbolic links resolved; empty when the system does
/// not tell.
[[nodiscard]] std::filesystem::path RunningExecutableFolder();

}  // namespace terravue::server
