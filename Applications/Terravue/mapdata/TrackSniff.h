#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// How many bytes of a file's start the content check looks at.
inline constexpr std::size_t kTrackSniffBytes = 4096;

/// True when `head` (a file's first bytes) reads as a track log: an XML
/// document whose root element is "gpx" (any namespace prefix; a byte-order
/// mark, the XML declaration, comments and white space may come first), or an
/// NMEA log whose first non-empty line is a sentence ("$" and five capitals
/// or digits, then a comma). Looks at no more than kTrackSniffBytes.
[[nodiscard]] bool LooksLikeTrackLog(std::string_view head);

/// True for a path that names a track log: the extension ".gpx" or ".nmea"
/// (any case); never for ".jpg"/".jpeg"; otherwise the file's content decides
/// (LooksLikeTrackLog over its first bytes). A file that can't be read, or is
/// not a regular file, is no track log.
[[nodiscard]] bool IsTrackLogPath(const std::string& path);
