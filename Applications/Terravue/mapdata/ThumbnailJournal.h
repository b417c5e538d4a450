#pragma once

#include <cstddef>
#include <string>

/// Start of the name of the small file in which a process lists the
/// thumbnails it makes in a folder; the process id follows. The file is held
/// under an exclusive flock for as long as the process lives, so a list that
/// nobody holds was left by a process that was killed.
inline constexpr const char* kThumbnailJournalPrefix = ".terravue-thumbnails-";

/// Notes in this process's list for `folder` that the thumbnail `name` (a
/// plain "cache_N.jpg") is about to be made there; the note comes first, so a
/// process killed at any moment leaves no thumbnail unlisted. The first note
/// for a folder removes what killed processes left there (see
/// RemoveThumbnailsOfEndedProcesses). False when the list can't be written
/// (the thumbnail may still be made) or while this process removes its
/// thumbnails (ThumbnailRemovalUnderWay; it must not be made then).
bool NoteNewThumbnail(const std::string& folder, const std::string& name);

/// Removes, in `folder`, the thumbnails listed by processes that ended without
/// ending their lists (killed, or crashed) together with those lists. Only
/// plain "cache_N.jpg" names that are regular files are removed, and none that
/// a live process lists. Answers how many thumbnails were removed.
std::size_t RemoveThumbnailsOfEndedProcesses(const std::string& folder);

/// Ends this process's lists: the files go, the thumbnails stay; later notes
/// start new lists. Runs by itself when the process ends normally.
void EndThumbnailJournals();

/// True once RemoveThumbnailsOfThisProcess has begun: no thumbnail that is
/// listed may be started then.
[[nodiscard]] bool ThumbnailRemovalUnderWay();

/// Removes every thumbnail this process listed and the lists themselves; no
/// new thumbnail is listed afterwards (until EndThumbnailJournals). Uses only
/// calls that are safe in a signal handler.
void RemoveThumbnailsOfThisProcess();

/// Makes SIGINT, SIGTERM and SIGHUP remove this process's thumbnails (as
/// RemoveThumbnailsOfThisProcess) before the process ends of the signal as it
/// would have without the handler. A signal that is ignored stays ignored.
void RemoveThumbnailsOnTerminatingSignals();
