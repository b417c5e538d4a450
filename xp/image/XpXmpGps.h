#pragma once

// The GPS position an XMP packet carries, read leniently, and the two edits a
// position write makes to it: removing every GPS property, and changing the
// position that is there. Both edits work on the packet's bytes: everything
// they do not mean to change stays exactly as it was, and the packet keeps its
// length where its trailing padding allows. The packet is the XML text
// between (and including) the `<?xpacket` processing instructions, without
// the JPEG segment's namespace header; a sidecar file's whole text is one too.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"

namespace XpXmpGps {

/// Packets above this size are refused (a JPEG segment holds 64 KiB; a
/// sidecar file with a big embedded preview stays well below).
inline constexpr std::size_t kMaxPacketSize = std::size_t{16} << 20;
/// Element nesting deeper than this is refused.
inline constexpr std::size_t kMaxDepth = 64;

/// The namespace of the Exif properties, bound to any prefix.
inline constexpr char kExifNamespace[] = "http://ns.adobe.com/exif/1.0/";

/// A position read from a packet.
struct Position {
  double latitude = 0;                   ///< degrees, north positive
  double longitude = 0;                  ///< degrees, east positive
  std::optional<double> altitude;        ///< metres, above sea level positive
  std::optional<std::string> timeStamp;  ///< the GPSTimeStamp text as it stands, e.g. "2009-06-24T13:40:26Z"
};

/// Reads the position of the first exif:GPSLatitude and exif:GPSLongitude
/// found in the packet's top-level rdf:Description blocks, in attribute or
/// element form. A coordinate may be written "D,M,SK", "D,M.mK" (K one of
/// N, S, E, W in either case), as a signed decimal, or as a decimal with the
/// reference in exif:GPSLatitudeRef / exif:GPSLongitudeRef. GPSAltitude (a
/// rational or decimal, with GPSAltitudeRef 1 meaning below sea level) and
/// GPSTimeStamp are read when present and readable.
/// Answers 0, 0x8618 for a packet that is not well-formed XML in UTF-8 (or
/// is too large or too deeply nested), 0x8619 when it holds no latitude or
/// no longitude, 0x861A when one of them is there but does not read as a
/// coordinate in range.
[[nodiscard]] XpStatus ReadGps(std::span<const std::uint8_t> packet, Position* position);

/// The outcome of an edit.
struct Edit {
  std::vector<std::uint8_t> packet;  ///< the edited packet (the input when nothing changed)
  bool changed = false;              ///< whether any property was changed or removed
};

/// Removes every exif:GPS* property (attribute or element, with the
/// whitespace in front of it) of the top-level rdf:Description blocks, and
/// the position properties of the drone namespace (GpsLatitude, GpsLongitude,
/// AbsoluteAltitude), which place the photo just as well. Every other byte
/// stays; the bytes taken out are added to the padding in front of
/// `<?xpacket end=` when the packet has such a trailer, so its length stays.
/// A packet without GPS properties comes back unchanged. With `keepPadding`
/// (for a sidecar file, whose length is free) the padding stays as it is and
/// the packet just gets shorter. Answers 0 or 0x8618.
[[nodiscard]] XpStatus RemoveGps(std::span<const std::uint8_t> packet, Edit* edit, bool keepPadding = false);

/// The values a position update writes.
struct Update {
  double latitude = 0;   ///< degrees, north positive
  double longitude = 0;  ///< degrees, east positive
  /// Written into GPSAltitude/GPSAltitudeRef (added behind the longitude when
  /// missing); when unset, an altitude that is there stays unless dropStale.
  std::optional<double> altitude;
  /// An XMP date text for GPSTimeStamp, such as "2024-05-01T10:20:30Z";
  /// handled like the altitude. Only digits, '-', ':', '.', '+', 'T' and 'Z'.
  std::optional<std::string> timeStamp;
  /// Removes the GPS properties that describe the old fix and are not set
  /// here: everything but the version, the map datum, the coordinates and
  /// their references.
  bool dropStale = false;
  /// Leaves the padding as it is: the packet's length follows the edit (for
  /// a sidecar file, where every byte outside the GPS properties stays).
  bool keepPadding = false;
};

/// Changes the position that is there: every exif:GPSLatitude and
/// GPSLongitude becomes "D,MM.mmmmmmmmK" (unsigned, upper-case reference,
/// which every reader reads alike), their reference properties follow, and
/// the drone namespace's coordinates become signed decimals. Every other byte
/// stays; length changes are balanced against the trailing padding as far as
/// it goes. A packet without exif:GPSLatitude and GPSLongitude (and without
/// drone coordinates) comes back unchanged: an update never adds a position.
/// Answers 0, 0x8618 for a packet that does not parse, 0x8102 for a
/// coordinate out of range or not finite, a time stamp with other
/// characters, or an altitude not finite.
[[nodiscard]] XpStatus UpdateGps(std::span<const std::uint8_t> packet, const Update& update, Edit* edit);

/// The outcome of SetGps.
struct SetOutcome {
  /// The rdf:Description block added for a packet without a position (empty
  /// when the position that was there was updated instead), as it stands in
  /// the edited packet; without its exif:GPS* attributes it reads
  /// `insertedWithoutGps`.
  std::string inserted;
  std::string insertedWithoutGps;
};

/// Writes the position whether or not the packet has one: UpdateGps when it
/// has an exif:GPSLatitude and GPSLongitude; otherwise every stray exif:GPS*
/// property is taken out (a drone's coordinates are changed as UpdateGps
/// changes them) and a new
/// rdf:Description block with the position (GPSVersionID "2.3.0.0" when
/// `version`, GPSLatitude, GPSLongitude, GPSAltitudeRef and GPSAltitude when
/// set, GPSTimeStamp when set) is added as the last child of rdf:RDF, with
/// its own namespace declarations and the rdf:about of the packet's first
/// block. Every other byte stays. Statuses as UpdateGps; 0x8618 also for a
/// packet without an rdf:RDF element that has an end tag.
[[nodiscard]] XpStatus SetGps(std::span<const std::uint8_t> packet, const Update& update, bool version, Edit* edit,
                              SetOutcome* outcome);

/// The text of the first property `local` of namespace `space` in the
/// packet's top-level rdf:Description blocks (attribute or plain element),
/// entities resolved; nothing when there is none. Answers 0 or 0x8618.
[[nodiscard]] XpStatus ReadProperty(std::span<const std::uint8_t> packet, std::string_view space,
                                    std::string_view local, std::optional<std::string>* value);

/// A coordinate as the update writes it: "35,37.54666667N" for
/// FormatCoordinate(35.62577778, true).
[[nodiscard]] std::string FormatCoordinate(double degrees, bool latitude);

}  // namespace XpXmpGps
