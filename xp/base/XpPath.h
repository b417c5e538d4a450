#pragma once

#include <string>
#include <string_view>

// XpIsValidUtf8, which file names are checked with, lives in the text layer.
#include "xp/text/XpUtf8.h"

// Path text: taking paths apart and joining them without touching the file
// system. Paths are UTF-8 byte strings; every rule works byte by byte, which is
// safe for UTF-8 because the separator and the dot never occur inside a
// multi-byte sequence.

/// The only folder separator the path functions know.
#ifdef _WIN32
inline constexpr char kXpPathSeparator = '\\';
#else
inline constexpr char kXpPathSeparator = '/';
#endif

/// The three parts of a path as XpSplitPath gives them.
struct XpPathParts {
  std::string folder;     ///< up to and including the last separator; empty when there is none
  std::string name;       ///< the last element without its extension
  std::string extension;  ///< from the last dot of the last element, dot included; empty when it has no dot
};

/// True when the path begins with the separator.
[[nodiscard]] bool XpIsAbsolutePath(std::string_view path);

/// The text from the last "." that follows the last separator, dot included, in
/// the path's own letter case; empty when the last element has no dot.
[[nodiscard]] std::string XpGetExtension(std::string_view path);

/// The text after the last separator; the whole path when there is none.
[[nodiscard]] std::string XpGetFileName(std::string_view path);

/// Splits a path into folder, name and extension. One trailing separator is
/// removed first unless the path is a single character.
[[nodiscard]] XpPathParts XpSplitPath(std::string_view path);

/// The folder part of XpSplitPath, with its trailing separator. Applied to a
/// folder path it gives the folder above; "/" stays "/".
[[nodiscard]] std::string XpGetParent(std::string_view path);

/// folder + name with exactly one separator put between them when the folder is
/// not empty; one leading separator of the name is dropped then. An empty folder
/// gives the name unchanged.
[[nodiscard]] std::string XpJoinPath(std::string_view folder, std::string_view name);

/// "/" for an absolute path; empty for a relative one, which has no root.
[[nodiscard]] std::string XpGetRoot(std::string_view path);

/// Removes one trailing separator. The root "/" is kept as it is: an empty
/// text would turn every path joined to it into a relative one.
[[nodiscard]] std::string XpStripTrailingBackslash(std::string_view path);

/// True when `name` can be used as the name of one file or folder that the
/// program creates: not empty, not "." or "..", valid UTF-8, no control
/// character and none of \ / : , ; * ? " < > | (the comma and semicolon are
/// refused although the file system allows them).
[[nodiscard]] bool XpIsValidFileName(std::string_view name);
