#pragma once

#include <string>
#include <vector>

#include "xp/base/XpStatus.h"

/// The small file in a saved map's folder that lists the track logs kept with
/// the map, one file name a line. The map's own files keep their formats.
inline constexpr const char* kTrackListName = "tracks.txt";

/// Keeps the track logs `trackPaths` with the saved map in `stateFolder`: each
/// file not already in that folder is copied there as "track_N" plus its
/// extension (the first free N), and the list file is rewritten to name
/// exactly the kept copies, in the given order. `kept` (may be null) receives
/// their full paths. Answers Ok, or the first copy or write failure; the list
/// then names the tracks that were kept.
[[nodiscard]] XpStatus KeepTracksWithState(const std::string& stateFolder, const std::vector<std::string>& trackPaths,
                                           std::vector<std::string>* kept);

/// The full paths of the track logs the list file in `stateFolder` names and
/// that exist as regular files; names that would lead out of the folder, and
/// links, are ignored. Empty
/// when there is no list.
[[nodiscard]] std::vector<std::string> TracksOfState(const std::string& stateFolder);
