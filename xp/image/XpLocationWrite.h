#pragma once

// Writing a place's names into a JPEG photo: the XMP location properties
// (the packet made when the photo has none) and, only when the photo already
// has an IPTC-IIM block, its location datasets, in one verified rewrite of
// the header segments.

#include <optional>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpIptcIim.h"
#include "xp/image/XpXmpLocation.h"

namespace XpLocationWrite {

/// The names to write.
struct Names {
  std::string city;
  std::string state;
  std::string country;       ///< the country's name
  std::string countryCode;   ///< ISO 3166-1 alpha-2, for XMP
  std::string countryCode3;  ///< ISO 3166-1 alpha-3, for IIM (left out when empty)
  std::optional<std::string> sublocation;
};

/// What a photo holds now.
struct Current {
  bool hasXmp = false;
  XpXmpLocation::Reading xmp;
  bool hasIim = false;  ///< exactly one APP13 block with an IIM resource
  XpIptcIim::Location iim;
};

/// Reads the location the photo's XMP packet and IIM block hold. Answers 0
/// (also when it has neither), 0x8618 for an XMP packet that does not parse,
/// 0x8630 for an IIM block that does not, 0x8602 for no JPEG, else the file
/// status.
[[nodiscard]] XpStatus Read(const std::string& path, Current* current);

/// What a write did.
struct Outcome {
  bool written = false;     ///< the photo was replaced
  bool xmpAdded = false;    ///< the photo had no XMP packet; one was made
  bool xmpChanged = false;  ///< the XMP packet is new or changed
  bool iimChanged = false;  ///< the IIM block changed
  XpIptcIim::Location iim;  ///< the IIM datasets as written (when iimChanged)
  std::vector<std::string> warnings;
};

/// Writes `names` into the photo at `path` (XpExifRewrite::WriteHeaderSegments):
/// the XMP location (XpXmpLocation::SetLocation, or a new packet), the IIM
/// location datasets when the photo has an IIM block. Before the rename, the
/// written file must read back as meant. A photo that already holds the names
/// stays untouched. Statuses as WriteHeaderSegments and the edits answer.
[[nodiscard]] XpStatus Write(const std::string& path, const Names& names, const XpExifRewrite::Hooks& hooks,
                             Outcome* outcome);

}  // namespace XpLocationWrite
