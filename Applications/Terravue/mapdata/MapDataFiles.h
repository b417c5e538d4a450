#pragma once

#include <string>

#include "xp/base/XpPath.h"

/// The path separator of this platform; paths are joined with it.
inline constexpr char kMapPathSeparator = kXpPathSeparator;

/// `folder`, the separator, `name`.
[[nodiscard]] std::string JoinMapPath(const std::string& folder, const std::string& name);

/// True when something exists at the path (following links).
[[nodiscard]] bool MapPathExists(const std::string& path);
/// True when the path names an entry of its folder, of any kind (a link is not
/// followed, so a link to nothing counts).
[[nodiscard]] bool MapEntryExists(const std::string& path);
/// True when the path names an existing regular file.
[[nodiscard]] bool MapIsRegularFile(const std::string& path);
/// True when the path names an existing folder.
[[nodiscard]] bool MapIsFolder(const std::string& path);

/// True when `path` lies in `folder` or any folder below it, judged both by the
/// paths as written (made absolute) and by the files they reach through links.
[[nodiscard]] bool MapIsInFolder(const std::string& path, const std::string& folder);

/// The name after the last separator (the whole text when there is none).
[[nodiscard]] std::string MapFileNameOf(const std::string& path);

/// Moves a file: a rename when both lie on one file system, otherwise a copy
/// (flushed to the disk) followed by removing the source. Never replaces an
/// existing target. False on any failure; the source then stays.
[[nodiscard]] bool MapMoveFile(const std::string& source, const std::string& target);

/// Copies a file unless the target exists already. False on failure or when
/// the target exists.
[[nodiscard]] bool MapCopyFile(const std::string& source, const std::string& target, bool overwrite);

/// Makes the file writable by its owner and removes it; false when it can't be removed.
bool MapRemoveFile(const std::string& path);
