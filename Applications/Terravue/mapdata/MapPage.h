#pragma once

#include <array>
#include <string>

#include "Applications/Terravue/mapdata/MapState.h"

/// The page's support files, copied from the program folder into each state folder.
inline constexpr std::array<const char*, 5> kPageSupportFiles = {"GPS.gif", "terravue.js", "terravue.css",
                                                                 "pin_std1.png", "pin_std2.png"};

/// One marker object of the page for `record`: its thumbnail name (twice), its
/// coordinate texts, the thumbnail size and the time text. Text values are
/// written as they stand unless they hold characters that would end the string
/// or the script (quote, backslash, "<", control characters), which are escaped.
[[nodiscard]] std::string MarkerObject(const PictureRecord& record);

/// The whole local page for `pictures` (28 lines, LF line ends).
[[nodiscard]] std::string BuildMapPage(const PictureList& pictures, const MapPageAddresses& addresses);
