#pragma once

// The location datasets of an IPTC-IIM block, as JPEG files carry it: an
// APP13 segment "Photoshop 3.0" with image resources, one of which (0x0404)
// holds the IIM datasets; resource 0x0425 may hold the MD5 digest of them.
// The edit keeps every other resource and dataset byte for byte.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"

namespace XpIptcIim {

/// The APP13 payload's signature, its terminating NUL included.
inline constexpr std::string_view kHeader("Photoshop 3.0\0", 14);
inline constexpr std::uint16_t kResourceIim = 0x0404;
inline constexpr std::uint16_t kResourceDigest = 0x0425;

/// The byte limits of the location datasets.
inline constexpr std::size_t kMaxCity = 32;     ///< 2:90
inline constexpr std::size_t kMaxState = 32;    ///< 2:95
inline constexpr std::size_t kMaxCode = 3;      ///< 2:100
inline constexpr std::size_t kMaxCountry = 64;  ///< 2:101

/// The location datasets (empty: not there).
struct Location {
  std::string city;         ///< 2:90 City
  std::string state;        ///< 2:95 Province/State
  std::string countryCode;  ///< 2:100 Country/Primary Location Code (ISO 3166-1 alpha-3)
  std::string country;      ///< 2:101 Country/Primary Location Name

  friend bool operator==(const Location&, const Location&) = default;
};

/// What a block holds.
struct Reading {
  bool hasIim = false;  ///< the payload has an IIM resource
  bool utf8 = false;    ///< its record 1 names UTF-8 as the character set (1:90 ESC % G)
  Location location;    ///< the first of each location dataset
};

/// Reads an APP13 payload (from its "Photoshop 3.0" signature on). Answers 0,
/// or 0x8630 when the payload is no resource block, or a resource or dataset
/// runs outside it.
[[nodiscard]] XpStatus Read(std::span<const std::uint8_t> payload, Reading* reading);

/// The outcome of an edit.
struct Edit {
  std::vector<std::uint8_t> payload;  ///< the edited APP13 payload
  bool changed = false;
  Location written;                   ///< what the datasets hold now
  std::vector<std::string> warnings;  ///< values cut to their limit, values left out
};

/// Sets the location datasets in the IIM resource of `payload`: the old 2:90,
/// 2:95, 2:100 and 2:101 are taken out, and each non-empty new value is put
/// in record order (behind the record 2 datasets of lower numbers). A value
/// longer than its limit is cut at a UTF-8 character boundary, with a
/// warning. A value with non-ASCII text is left out, with a warning, when the
/// block does not declare UTF-8. The digest resource, when there is one, is
/// recomputed. A payload without an IIM resource comes back unchanged.
/// Answers 0, 0x8630 as Read does, 0x8102 for a value that is not UTF-8.
[[nodiscard]] XpStatus SetLocation(std::span<const std::uint8_t> payload, const Location& location, Edit* edit);

/// `text` cut to at most `limit` bytes without splitting a UTF-8 character.
[[nodiscard]] std::string CutUtf8(std::string_view text, std::size_t limit);

}  // namespace XpIptcIim
