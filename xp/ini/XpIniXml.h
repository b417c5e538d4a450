#pragma once

#include <string>
#include <string_view>

#include "xp/base/XpStatus.h"

class XpIniDict;

/// Parses a property-list document and reads its first "dict" under "plist"
/// into `root` (which the caller has emptied). With `detectEncoding` the bytes
/// may be in any encoding the XML parser recognises (file contents); otherwise
/// they are UTF-8 text.
[[nodiscard]] XpStatus XpIniReadDocument(std::string_view bytes, bool detectEncoding, XpIniDict& root);

/// Writes `root` as a whole property-list document in UTF-8.
[[nodiscard]] XpStatus XpIniWriteDocument(const XpIniDict& root, std::string& out);
