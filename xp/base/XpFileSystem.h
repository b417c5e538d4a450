#pragma once

#include <string>

#include "xp/base/XpCopyProgress.h"
#include "xp/base/XpStatus.h"

// File-system tests and operations on UTF-8 paths. Every operation answers 0 or
// a file-layer status and shows nothing. An empty path, or one holding a NUL
// byte (which the system would silently cut short), answers 0x8102 where a
// status is answered and false where a flag is.

/// True when the path names an existing folder (symbolic links followed). One
/// trailing separator is removed first unless the path is the root "/".
[[nodiscard]] bool XpIsDirectory(const std::string& path);

/// True when the system finds an entry for the path that is not a folder.
[[nodiscard]] bool XpFileExists(const std::string& path);

/// Creates one folder: 0x810A when an entry of that name exists, 0x8106 when a
/// folder above it is missing, 0x8108 when access is denied; for any other
/// failure 0x8112 when the parent is an existing folder, else 0x8106.
[[nodiscard]] XpStatus XpCreateFolder(const std::string& path);

/// Creates every missing folder of an absolute path from the root down. A
/// relative path answers 0x8112 and creates nothing. Folders above the last that
/// exist already count as success; the last one's status is answered unchanged,
/// so a path whose last folder exists (always so for a path ending in "/")
/// answers 0x810A: callers that only need the folder test for it afterwards.
[[nodiscard]] XpStatus XpCreateFolderTree(const std::string& path);

/// Creates an empty file only if no entry of that name exists (not even a
/// dangling symbolic link), readable and writable by the user, and closes it
/// at once: 0x810A when it exists (the existing file is left untouched), 0x8108
/// access denied, 0x8106 a folder above is missing, 0x8109 disk full, 0x810B too
/// many open files, 0x8102 invalid argument, 0x8100 any other failure.
[[nodiscard]] XpStatus XpCreateNewFile(const std::string& path);

/// Renames with rename(2): atomic, replacing an existing file of the new name.
/// Both paths must be on one file system. 0x8105 or 0x8106 when the source or
/// the target's folder is missing.
[[nodiscard]] XpStatus XpRenameFile(const std::string& from, const std::string& to);

/// Copies a regular file, replacing an existing target. The copy goes to a
/// temporary file in the target's folder, is flushed to the disk and then takes
/// the target's name in one rename, so an existing target is never left half
/// written; a symbolic link at the target's name is replaced by the copy, not
/// written through. The copy keeps the source's permission bits and
/// modification time.
/// With `progress`, the percent of bytes copied is reported after every block
/// (100 at the end, also for an empty file) and the cancel flag is obeyed: a
/// cancelled copy removes its partial file, leaves any existing target as it
/// was, and answers 0x8607. A source that is a folder answers 0x8108, another
/// kind of non-regular file 0x8102, and copying a file onto itself 0x8102.
[[nodiscard]] XpStatus XpCopyFile(const std::string& from, const std::string& to, XpCopyProgress* progress = nullptr);

/// Moves a file. When both paths have the same folder part (compared exactly,
/// as the file system compares names) or name the same file, XpRenameFile;
/// otherwise XpCopyFile and, only when the copy succeeded, the source is
/// deleted.
[[nodiscard]] XpStatus XpMoveFile(const std::string& from, const std::string& to, XpCopyProgress* progress = nullptr);

/// Deletes a file (not a folder: 0x8108); the system error is mapped as usual.
[[nodiscard]] XpStatus XpDeleteFile(const std::string& path);
