#pragma once

// The place a photo was taken, by name, in its XMP packet: the IPTC location
// structure (Iptc4xmpExt:LocationCreated) and the older single properties
// that photo libraries still search by (photoshop:City, photoshop:State,
// photoshop:Country, Iptc4xmpCore:CountryCode, Iptc4xmpCore:Location).
// Edits work on the packet's bytes: everything else stays exactly as it was,
// and the packet keeps its length where its trailing padding allows.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"

namespace XpXmpLocation {

inline constexpr char kPhotoshopNamespace[] = "http://ns.adobe.com/photoshop/1.0/";
inline constexpr char kIptcCoreNamespace[] = "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/";
inline constexpr char kIptcExtNamespace[] = "http://iptc.org/std/Iptc4xmpExt/2008-02-29/";

/// Packets above this size are refused.
inline constexpr std::size_t kMaxPacketSize = std::size_t{16} << 20;
/// Element nesting deeper than this is refused.
inline constexpr std::size_t kMaxDepth = 64;
/// The longest value written (bytes of UTF-8).
inline constexpr std::size_t kMaxValueBytes = 256;

/// A location by name. Empty texts stand for "not there".
struct Location {
  std::string city;
  std::string state;        ///< province, state, prefecture: the first-level division
  std::string country;      ///< the country's name
  std::string countryCode;  ///< ISO 3166-1 alpha-2 (or alpha-3) code
  std::string sublocation;  ///< a part of the city

  friend bool operator==(const Location&, const Location&) = default;
};

/// What a packet says: the older single properties, and the first location
/// of Iptc4xmpExt:LocationCreated.
struct Reading {
  Location legacy;   ///< photoshop:City/State/Country, Iptc4xmpCore:CountryCode/Location
  Location created;  ///< the first entry of Iptc4xmpExt:LocationCreated

  friend bool operator==(const Reading&, const Reading&) = default;
};

/// Reads the location properties of the packet's top-level rdf:Description
/// blocks, in attribute or element form (the structure as rdf:li with
/// rdf:parseType="Resource", with a nested rdf:Description, or with
/// attributes). Answers 0 (also for a packet without any) or 0x8618 for a
/// packet that is not well-formed XML in UTF-8, too large or too deep.
[[nodiscard]] XpStatus ReadLocation(std::span<const std::uint8_t> packet, Reading* reading);

/// What a write sets. `sublocation` unset leaves Iptc4xmpCore:Location as it
/// is and writes no Sublocation into the structure.
struct Update {
  std::string city;
  std::string state;
  std::string country;
  std::string countryCode;
  std::optional<std::string> sublocation;
};

/// The outcome of an edit.
struct Edit {
  std::vector<std::uint8_t> packet;  ///< the edited packet
  bool changed = false;              ///< whether the packet's bytes differ from the input
};

/// Sets the location: every managed property already in a top-level
/// rdf:Description (photoshop:City, State, Country, Iptc4xmpCore:CountryCode,
/// Iptc4xmpExt:LocationCreated, and Iptc4xmpCore:Location when a sublocation
/// is given) is taken out with the whitespace in front of it, and one new
/// rdf:Description with the non-empty values is put in front of the end of
/// rdf:RDF. Every other byte stays; the change in length is balanced against
/// the padding in front of `<?xpacket end=` as far as it goes. A packet that
/// already reads as `update` comes back unchanged.
/// Answers 0, 0x8618 for a packet that does not parse or has no rdf:RDF,
/// 0x8102 for a value that is not UTF-8, holds a control character or is
/// longer than kMaxValueBytes.
[[nodiscard]] XpStatus SetLocation(std::span<const std::uint8_t> packet, const Update& update, Edit* edit);

/// A new, complete packet holding only the location (with padding for later
/// edits), for a photo without XMP. 0x8102 for values as SetLocation refuses.
[[nodiscard]] XpStatus NewPacket(const Update& update, std::vector<std::uint8_t>* packet);

/// The reading a packet written with `update` gives.
[[nodiscard]] Reading Expected(const Reading& before, const Update& update);

}  // namespace XpXmpLocation
