#pragma once

// Editing the TIFF data of an Exif block without laying it out anew: every
// byte of the source stays at its offset, and what changes is patched in
// place or appended behind the data. Maker notes, their private directories
// and previews, thumbnails and strips, duplicate tags and bytes that no entry
// describes therefore survive a GPS rewrite unchanged. Pure functions over
// byte buffers; the data is treated as hostile (every offset bounded by the
// buffer, at most kMaxEntries entries per directory, a fixed depth, no loops).

#include <array>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"

class XpGPSRecord;
class XpTiffTagIFD;

namespace XpExifEdit {

/// The most entries one directory may claim.
inline constexpr std::uint32_t kMaxEntries = 1000;
/// The most top-level directories (IFD0, IFD1, ...) that are followed.
inline constexpr std::size_t kMaxTopLevel = 16;

/// One directory entry as it stands in the data.
struct Entry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::array<std::uint8_t, 4> field{};  ///< the raw value field
  std::uint32_t position = 0;           ///< of the 12-byte entry
  std::uint64_t size = 0;               ///< the value's byte size
  std::uint32_t valueOffset = 0;        ///< where the value lies (inside the entry when it fits)
  [[nodiscard]] bool Inline() const { return size <= 4; }
};

/// One directory: where it stands, its entries in file order and its
/// next-directory offset.
struct Directory {
  std::string path;  ///< "IFD0", "IFD1", "IFD0/8769", "IFD0/8769/a005", "IFD0/8825", "IFD0/8825#1", ...
  std::uint32_t offset = 0;
  std::vector<Entry> entries;
  std::uint32_t next = 0;
  [[nodiscard]] std::uint32_t TableSize() const { return 6 + 12 * static_cast<std::uint32_t>(entries.size()); }
  [[nodiscard]] const Entry* Find(std::uint16_t tag) const;
};

/// A byte range of the data.
struct Range {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::size_t directory = 0;  ///< the index of the directory whose entry references it
  [[nodiscard]] std::uint64_t End() const { return std::uint64_t{offset} + size; }
};

/// The structure of TIFF data: its directories and every range an entry
/// references (out-of-line values, thumbnails and strips).
struct Layout {
  bool bigEndian = false;
  std::uint32_t ifd0 = 0;
  std::vector<Directory> directories;
  std::vector<Range> referenced;
  /// Where the GPS pointer's offset array lies when it has several offsets.
  std::vector<Range> gpsPointerArrays;
  [[nodiscard]] const Directory* Find(const std::string& path) const;
  /// The GPS directories (more than one when the pointer has several offsets).
  [[nodiscard]] std::vector<const Directory*> GpsDirectories() const;
};

/// Reads the structure of `tiff` (the bytes from the TIFF header on).
/// 0x8602 for a header that is not TIFF; 0x8608 for a directory, value,
/// thumbnail or strip that does not lie inside the data, an entry of an
/// unknown type, a directory with more than kMaxEntries entries, or a
/// directory reached twice.
[[nodiscard]] XpStatus Walk(std::span<const std::uint8_t> tiff, Layout* layout);

/// What an edit changes.
struct Request {
  /// Set the GPS directory from `record` (WriteGPS); null removes the GPS
  /// pointer and the position instead (RemoveGPS).
  const XpGPSRecord* record = nullptr;
  /// The source's GPS directory as the tag tree parsed it (values as the
  /// record reads them), or null when it has none.
  const XpTiffTagIFD* parsedGps = nullptr;
  /// Old GPS tags the record does not name are dropped (WriteGPS's replaceWhole).
  bool replaceWhole = true;
  /// The DateTime text of IFD0 and IFD1 ("YYYY:MM:DD hh:mm:ss"); empty for none.
  std::string dateTime;
  /// Raise ExifVersion to "0221" unless it holds a later version.
  bool raiseExifVersion = true;
  /// The zone of the capture time ("+09:00") for an OffsetTimeOriginal entry
  /// the Exif directory gains when it has none; empty (or an Exif directory
  /// that has one) adds nothing.
  std::string offsetTimeOriginal;
  /// The new GPS directory always goes behind the data, never into the old
  /// one's footprint (for data that is a whole file: nothing in it is
  /// overwritten but the pointers and the old GPS bytes).
  bool appendOnly = false;
};

/// What an edit did, for the check of the result.
struct Outcome {
  std::vector<std::uint8_t> tiff;      ///< the new data
  std::set<std::uint16_t> gpsChanged;  ///< GPS tags whose entry was written anew or dropped
  bool removedGps = false;             ///< a GPS pointer was removed
  bool addedOffsetTime = false;        ///< the Exif directory gained OffsetTimeOriginal
};

/// Edits `tiff` as `request` says. The result starts with the source's bytes
/// at their offsets: DateTime and ExifVersion are patched in place where the
/// entry can hold the new value (else the value is appended and the entry
/// repointed); the new GPS directory goes into the old one's footprint when
/// it fits, else behind the data; only when IFD0 (or the Exif directory)
/// must gain an entry is a copy of its entry table with the new entry
/// appended and pointed at. The old GPS directory's bytes that nothing else
/// references are zeroed. Walk's statuses for damaged data, and 0x8608 for
/// data whose structures share bytes so that the edit would change more than
/// it means to (Difference); 0x8601 when there is nothing to remove.
[[nodiscard]] XpStatus Edit(std::span<const std::uint8_t> tiff, const Request& request, Outcome* outcome);

/// A new TIFF structure that holds nothing but the position: the header, IFD0
/// with the GPS pointer as its one entry, and the GPS directory filled from
/// `record`, in the byte order asked for. 0x8601 when the record has no
/// valid element.
[[nodiscard]] XpStatus NewBlock(const XpGPSRecord& record, bool bigEndian, std::vector<std::uint8_t>* tiff);

/// True when every element valid in `wanted` is valid in `read` and stored
/// the same way (type, count and bytes), as a directory filled from the
/// record holds it.
[[nodiscard]] bool HoldsRecord(const XpGPSRecord& read, const XpGPSRecord& wanted);

/// The check of an edit: `after` must walk completely, and every directory
/// and entry of `before`, and every byte of `before` outside the intended
/// changes (the header's IFD0 offset, the entry tables of IFD0, IFD1 and the
/// Exif directory, the DateTime and ExifVersion values, the GPS pointer and
/// the old GPS directory), must be in `after` unchanged at the same offset.
/// Entries of the tables are compared one by one; old GPS tags outside
/// `outcome.gpsChanged` must keep their type, count and bytes. An empty
/// string when all holds, else a line naming the first difference.
[[nodiscard]] std::string Difference(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                                     const Request& request, const Outcome& outcome);

}  // namespace XpExifEdit
