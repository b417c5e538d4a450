#include "xp/image/XpExifEdit.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "xp/text/XpHexDigits.h"
#include "xp/tiff/XpByteOrder.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagDataBase.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace XpExifEdit {
namespace {

using XpBytes::Get16;
using XpBytes::Get32;
using XpBytes::Put16;
using XpBytes::Put32;

constexpr std::array<std::uint8_t, 4> kExifVersion0221 = {'0', '2', '2', '1'};
constexpr std::size_t kDateTimeBytes = 20;  // "YYYY:MM:DD hh:mm:ss" and its NUL
constexpr int kMaxDepth = 6;
constexpr std::uint32_t kMaxArrayValues = 65536;
constexpr const char* kGpsPath = "IFD0/8825";

bool Inside(std::uint64_t offset, std::uint64_t size, std::size_t length) {
  return offset <= length && size <= length - offset;
}

std::string Hex4(std::uint16_t tag) {
  std::string out;
  XpAppendHex(out, tag, 4);
  return out;
}

bool IsGpsPath(const std::string& path) { return path.starts_with(kGpsPath); }

/// The tags whose entries lead to child directories in a directory of `path`.
bool IsPointer(const std::string& path, std::uint16_t tag) {
  const bool topLevel = path.find('/') == std::string::npos;
  if (topLevel) {
    return tag == kTagExifIFD || tag == kTagGPSIFD || tag == kTagSubIFDs;
  }
  if (path.ends_with("/8769")) {
    return tag == kTagInteropIFD;
  }
  return path.find("/014a") != std::string::npos && tag == kTagSubIFDs;
}

class Walker {
 public:
  Walker(std::span<const std::uint8_t> data, Layout* layout) : m_data(data), m_layout(layout) {}

  [[nodiscard]] XpStatus Run() {
    if (m_data.size() < 8) {
      return XpStatus::JpegDecodeFailed;
    }
    if (m_data[0] == 'M' && m_data[1] == 'M') {
      m_be = true;
    } else if (!(m_data[0] == 'I' && m_data[1] == 'I')) {
      return XpStatus::JpegDecodeFailed;
    }
    if (Get16(m_data, 2, m_be) != 42) {
      return XpStatus::JpegDecodeFailed;
    }
    m_layout->bigEndian = m_be;
    m_layout->ifd0 = Get32(m_data, 4, m_be);
    std::uint32_t offset = m_layout->ifd0;
    for (std::size_t index = 0; offset != 0 && index < kMaxTopLevel; ++index) {
      std::uint32_t next = 0;
      if (auto st = ReadDirectory(offset, "IFD" + std::to_string(index), 0, &next); st != XpStatus::Ok) {
        return st;
      }
      offset = next;
    }
    return XpStatus::Ok;
  }

 private:
  [[nodiscard]] XpStatus ReadDirectory(std::uint32_t offset, const std::string& path, int depth, std::uint32_t* next) {
    if (depth > kMaxDepth || !m_seen.insert(offset).second || !Inside(offset, 2, m_data.size())) {
      return XpStatus::ExifDamaged;
    }
    const std::uint32_t count = Get16(m_data, offset, m_be);
    // The whole table, next-directory offset included, lies inside the data.
    if (count > kMaxEntries || !Inside(std::uint64_t{offset} + 2, 12ULL * count + 4, m_data.size())) {
      return XpStatus::ExifDamaged;
    }
    Directory dir;
    dir.path = path;
    dir.offset = offset;
    const std::uint64_t nextAt = std::uint64_t{offset} + 2 + 12ULL * count;
    dir.next = Get32(m_data, nextAt, m_be);
    if (depth > 0) {
      dir.next = 0;  // only the top-level chain continues
    }
    const std::size_t index = m_layout->directories.size();
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t at = offset + 2 + 12 * i;
      Entry e;
      e.tag = Get16(m_data, at, m_be);
      e.type = Get16(m_data, at + 2, m_be);
      e.count = Get32(m_data, at + 4, m_be);
      std::memcpy(e.field.data(), &m_data[at + 8], 4);
      e.position = at;
      const std::uint32_t unit = XpTiffTypeUnitSize(e.type);
      if (unit == 0) {
        return XpStatus::ExifDamaged;
      }
      e.size = std::uint64_t{e.count} * unit;
      if (e.Inline()) {
        e.valueOffset = at + 8;
      } else {
        e.valueOffset = Get32(e.field, 0, m_be);
        if (!Inside(e.valueOffset, e.size, m_data.size())) {
          return XpStatus::ExifDamaged;
        }
        m_layout->referenced.push_back({e.valueOffset, static_cast<std::uint32_t>(e.size), index});
      }
      dir.entries.push_back(e);
    }
    m_layout->directories.push_back(dir);
    if (auto st = ReadPairs(index); st != XpStatus::Ok) {
      return st;
    }
    // The children, once the directory itself is recorded.
    const std::vector<Entry> entries = dir.entries;
    for (const Entry& e : entries) {
      if (!IsPointer(path, e.tag)) {
        continue;
      }
      if (e.type != kTiffTypeLong && e.type != kTiffTypeSLong && e.type != kTiffTypeIFD) {
        return XpStatus::ExifDamaged;  // a pointer that is not one
      }
      std::vector<std::uint32_t> children;
      if (auto st = ReadValues(e, &children); st != XpStatus::Ok) {
        return st;
      }
      if (e.tag == kTagGPSIFD && children.size() > 1) {
        m_layout->gpsPointerArrays.push_back({e.valueOffset, static_cast<std::uint32_t>(e.size), index});
      }
      for (std::size_t c = 0; c < children.size(); ++c) {
        if (children[c] == 0) {
          continue;  // an empty pointer names no directory
        }
        std::string childPath = path + "/" + Hex4(e.tag);
        if (c > 0) {
          childPath += "#" + std::to_string(c);
        }
        std::uint32_t ignored = 0;
        if (auto st = ReadDirectory(children[c], childPath, depth + 1, &ignored); st != XpStatus::Ok) {
          return st;
        }
      }
    }
    *next = m_layout->directories[index].next;
    return XpStatus::Ok;
  }

  /// The values of a SHORT or LONG entry.
  [[nodiscard]] XpStatus ReadValues(const Entry& e, std::vector<std::uint32_t>* values) const {
    values->clear();
    const std::uint32_t unit = XpTiffTypeUnitSize(e.type);
    if ((unit != 2 && unit != 4) || e.type == kTiffTypeSShort || e.count > kMaxArrayValues) {
      return XpStatus::ExifDamaged;
    }
    for (std::uint32_t i = 0; i < e.count; ++i) {
      const std::size_t at = e.valueOffset + std::size_t{i} * unit;
      values->push_back(unit == 2 ? Get16(m_data, at, m_be) : Get32(m_data, at, m_be));
    }
    return XpStatus::Ok;
  }

  /// Thumbnail and strips: offset and length entries that describe data.
  [[nodiscard]] XpStatus ReadPairs(std::size_t index) {
    const Directory& dir = m_layout->directories[index];
    for (const auto& [offsetTag, lengthTag] :
         {std::pair{kTagThumbnailOffset, kTagThumbnailLength}, std::pair{kTagStripOffsets, kTagStripByteCounts}}) {
      const Entry* offsets = dir.Find(offsetTag);
      const Entry* lengths = dir.Find(lengthTag);
      if (offsets == nullptr || lengths == nullptr) {
        continue;
      }
      std::vector<std::uint32_t> at;
      std::vector<std::uint32_t> size;
      if (ReadValues(*offsets, &at) != XpStatus::Ok || ReadValues(*lengths, &size) != XpStatus::Ok ||
          at.size() != size.size()) {
        return XpStatus::ExifDamaged;
      }
      for (std::size_t i = 0; i < at.size(); ++i) {
        if (at[i] == 0 || size[i] == 0) {
          continue;  // no data
        }
        // Data outside the block is damage: it cannot be the thumbnail.
        if (!Inside(at[i], size[i], m_data.size())) {
          return XpStatus::ExifDamaged;
        }
        m_layout->referenced.push_back({at[i], size[i], index});
      }
    }
    return XpStatus::Ok;
  }

  std::span<const std::uint8_t> m_data;
  Layout* m_layout;
  bool m_be = false;
  std::set<std::uint32_t> m_seen;
};

/// One entry of a directory to be written: its value in the file's order.
struct NewEntry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> value;
};

/// The entry that `record`'s element `tag` becomes, in the file's order;
/// nothing when the element is not valid.
std::optional<NewEntry> Encode(const XpGPSRecord& record, std::uint16_t tag, bool bigEndian) {
  const XpGPSElement* element = record.Element(tag);
  if (element == nullptr || !element->IsValid()) {
    return std::nullopt;
  }
  XpGPSRecord one = record;
  for (std::uint16_t t = 0; t < XpGPSRecord::kTagCount; ++t) {
    if (t != tag) {
      one.Element(t)->Reset();
    }
  }
  XpTiffTagIFD ifd;
  if (ifd.SetGPSRecord(one) != XpStatus::Ok) {
    return std::nullopt;
  }
  const XpTiffTagDataBase* entry = ifd.Find(tag);
  if (entry == nullptr) {
    return std::nullopt;
  }
  NewEntry out{tag, entry->GetType(), entry->GetCount(), {entry->Bytes().begin(), entry->Bytes().end()}};
  if (bigEndian != (std::endian::native == std::endian::big)) {
    XpTiffTagDataBase::SwapUnits(out.value, entry->GetSwapUnit());
  }
  return out;
}

bool SameEntry(const std::optional<NewEntry>& a, const std::optional<NewEntry>& b) {
  return a && b && a->type == b->type && a->count == b->count && a->value == b->value;
}

std::vector<std::uint8_t> ValueOf(std::span<const std::uint8_t> data, const Entry& e) {
  const auto from = data.begin() + static_cast<std::ptrdiff_t>(e.valueOffset);
  return {from, from + static_cast<std::ptrdiff_t>(e.size)};
}

/// The bytes that must never be zeroed or reused: the header, every table
/// and value of a directory that is not a GPS directory.
std::vector<bool> Protected(const Layout& layout, std::size_t length) {
  std::vector<bool> mask(length, false);
  const auto mark = [&](std::uint64_t from, std::uint64_t size) {
    for (std::uint64_t i = from; i < from + size && i < length; ++i) {
      mask[i] = true;
    }
  };
  mark(0, 8);
  for (std::size_t d = 0; d < layout.directories.size(); ++d) {
    if (!IsGpsPath(layout.directories[d].path)) {
      mark(layout.directories[d].offset, layout.directories[d].TableSize());
    }
  }
  for (const Range& r : layout.referenced) {
    if (!IsGpsPath(layout.directories[r.directory].path)) {
      mark(r.offset, r.size);
    }
  }
  return mask;
}

/// The ranges the GPS directories occupy: their tables and their own values,
/// with the padding of up to 3 bytes between two of them.
std::vector<Range> GpsRanges(const Layout& layout) {
  std::vector<Range> ranges;
  for (std::size_t d = 0; d < layout.directories.size(); ++d) {
    if (IsGpsPath(layout.directories[d].path)) {
      ranges.push_back({layout.directories[d].offset, layout.directories[d].TableSize(), d});
    }
  }
  for (const Range& r : layout.referenced) {
    if (IsGpsPath(layout.directories[r.directory].path)) {
      ranges.push_back(r);
    }
  }
  ranges.insert(ranges.end(), layout.gpsPointerArrays.begin(), layout.gpsPointerArrays.end());
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.offset < b.offset; });
  std::vector<Range> out;
  for (const Range& r : ranges) {
    if (!out.empty() && r.offset <= out.back().End() + 3) {
      out.back().size = static_cast<std::uint32_t>(std::max(out.back().End(), r.End()) - out.back().offset);
    } else {
      out.push_back(r);
    }
  }
  return out;
}

/// A GPS directory laid out at `at`: its table, then the values that do not
/// fit an entry, each on an even offset.
std::vector<std::uint8_t> LayGps(const std::vector<NewEntry>& entries, std::uint32_t at, bool be) {
  std::vector<std::uint8_t> table(6 + 12 * entries.size(), 0);
  std::vector<std::uint8_t> values;
  Put16(table, 0, static_cast<std::uint16_t>(entries.size()), be);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const NewEntry& n = entries[i];
    const std::size_t row = 2 + 12 * i;
    Put16(table, row, n.tag, be);
    Put16(table, row + 2, n.type, be);
    Put32(table, row + 4, n.count, be);
    if (n.value.size() <= 4) {
      std::copy(n.value.begin(), n.value.end(), table.begin() + static_cast<std::ptrdiff_t>(row + 8));
    } else {
      Put32(table, row + 8, at + static_cast<std::uint32_t>(table.size() + values.size()), be);
      values.insert(values.end(), n.value.begin(), n.value.end());
      if (values.size() & 1) {
        values.push_back(0);
      }
    }
  }
  table.insert(table.end(), values.begin(), values.end());
  return table;
}

// "+09:00", "-03:30": the form of OffsetTimeOriginal.
bool IsZoneText(const std::string& text) {
  const auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
  return text.size() == 6 && (text[0] == '+' || text[0] == '-') && digit(1) && digit(2) && text[3] == ':' && digit(4) &&
         digit(5);
}

class Editor {
 public:
  Editor(std::span<const std::uint8_t> source, const Layout& layout, Outcome* outcome)
      : m_source(source), m_layout(layout), m_out(outcome->tiff), m_be(layout.bigEndian), m_outcome(outcome) {
    m_out.assign(source.begin(), source.end());
    m_protected = Protected(layout, source.size());
  }

  [[nodiscard]] XpStatus Remove() {
    const Directory* ifd0 = m_layout.Find("IFD0");
    if (ifd0 == nullptr || ifd0->Find(kTagGPSIFD) == nullptr) {
      return XpStatus::NoExif;
    }
    std::vector<std::uint8_t> table;
    std::uint16_t kept = 0;
    for (const Entry& e : ifd0->entries) {
      if (e.tag != kTagGPSIFD) {
        table.insert(table.end(), m_source.begin() + e.position, m_source.begin() + e.position + 12);
        ++kept;
      }
    }
    // The entries move up over the pointer; the next-directory offset follows
    // them and the freed bytes at the end are cleared.
    const auto at = m_out.begin() + ifd0->offset;
    Put16(m_out, ifd0->offset, kept, m_be);
    std::copy(table.begin(), table.end(), at + 2);
    Put32(m_out, ifd0->offset + 2 + table.size(), ifd0->next, m_be);
    std::fill(at + 6 + static_cast<std::ptrdiff_t>(table.size()), at + ifd0->TableSize(), std::uint8_t{0});
    ClearOldGps();
    m_outcome->removedGps = true;
    return XpStatus::Ok;
  }

  [[nodiscard]] XpStatus Write(const Request& request) {
    const Directory* ifd0 = m_layout.Find("IFD0");
    if (ifd0 == nullptr) {
      return XpStatus::NoExif;
    }
    if (!request.offsetTimeOriginal.empty() && !IsZoneText(request.offsetTimeOriginal)) {
      return XpStatus::InvalidArgument;
    }
    std::vector<NewEntry> ifd0Added;
    if (!request.dateTime.empty()) {
      std::vector<std::uint8_t> text(kDateTimeBytes, 0);
      std::memcpy(text.data(), request.dateTime.data(), std::min(request.dateTime.size(), kDateTimeBytes - 1));
      for (const char* path : {"IFD0", "IFD1"}) {
        const Directory* dir = m_layout.Find(path);
        if (dir != nullptr) {
          SetDateTime(*dir, text, dir == ifd0 ? &ifd0Added : nullptr);
        }
      }
    }
    // The Exif directory gains its entries through one new copy of its table.
    std::vector<NewEntry> exifAdded;
    if (request.raiseExifVersion) {
      RaiseExifVersion(*ifd0, &exifAdded);
    }
    if (!request.offsetTimeOriginal.empty()) {
      AddOffsetTime(*ifd0, request.offsetTimeOriginal, &exifAdded);
    }
    if (!exifAdded.empty()) {
      const Directory* exif = m_layout.Find("IFD0/8769");
      const std::uint32_t table = AppendTable(*exif, exifAdded);
      Put32(m_out, ifd0->Find(kTagExifIFD)->position + 8, table, m_be);
    }
    const std::vector<NewEntry> gps = GpsEntries(request);
    ClearOldGps();
    const std::uint32_t gpsOffset = PlaceGps(gps, request.appendOnly);
    if (const Entry* pointer = ifd0->Find(kTagGPSIFD)) {
      const std::size_t e = pointer->position;
      Put16(m_out, e + 2, kTiffTypeLong, m_be);
      Put32(m_out, e + 4, 1, m_be);
      Put32(m_out, e + 8, gpsOffset, m_be);
    } else {
      std::vector<std::uint8_t> value(4);
      Put32(value, 0, gpsOffset, m_be);
      ifd0Added.push_back({kTagGPSIFD, kTiffTypeLong, 1, value});
    }
    if (!ifd0Added.empty()) {
      const std::uint32_t table = AppendTable(*ifd0, ifd0Added);
      Put32(m_out, 4, table, m_be);
    }
    if (m_out.size() > UINT32_MAX) {
      return XpStatus::ExifBlockFull;
    }
    return XpStatus::Ok;
  }

 private:
  /// Appends `bytes` on an even offset and answers that offset.
  std::uint32_t Append(std::span<const std::uint8_t> bytes) {
    if (m_out.size() & 1) {
      m_out.push_back(0);
    }
    const auto at = static_cast<std::uint32_t>(m_out.size());
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    return at;
  }

  /// True when [offset, offset + size) is also referenced by an entry other
  /// than the one at `position` (a value two entries share).
  [[nodiscard]] bool Shared(std::uint32_t offset, std::uint64_t size, std::uint32_t position) const {
    for (const Directory& dir : m_layout.directories) {
      for (const Entry& e : dir.entries) {
        if (e.position != position && !e.Inline() && e.valueOffset < offset + size &&
            offset < std::uint64_t{e.valueOffset} + e.size) {
          return true;
        }
      }
    }
    return false;
  }

  void SetDateTime(const Directory& dir, const std::vector<std::uint8_t>& text, std::vector<NewEntry>* added) {
    const Entry* e = dir.Find(kTagDateTime);
    if (e != nullptr && e->type == kTiffTypeAscii && e->size >= kDateTimeBytes &&
        !Shared(e->valueOffset, e->size, e->position)) {
      std::copy(text.begin(), text.end(), m_out.begin() + e->valueOffset);
      return;
    }
    if (e != nullptr) {
      const std::uint32_t at = Append(text);
      const std::size_t p = e->position;
      Put16(m_out, p + 2, kTiffTypeAscii, m_be);
      Put32(m_out, p + 4, kDateTimeBytes, m_be);
      Put32(m_out, p + 8, at, m_be);
      return;
    }
    if (added != nullptr) {
      added->push_back({kTagDateTime, kTiffTypeAscii, kDateTimeBytes, text});
    }
  }

  /// The Exif directory when IFD0 points at exactly one.
  [[nodiscard]] const Directory* ExifDirectory(const Directory& ifd0) const {
    const Entry* pointer = ifd0.Find(kTagExifIFD);
    return pointer != nullptr && pointer->count == 1 ? m_layout.Find("IFD0/8769") : nullptr;
  }

  void AddOffsetTime(const Directory& ifd0, const std::string& zone, std::vector<NewEntry>* added) {
    const Directory* exif = ExifDirectory(ifd0);
    if (exif == nullptr || exif->Find(kTagOffsetTimeOriginal) != nullptr) {
      return;
    }
    std::vector<std::uint8_t> text(zone.begin(), zone.end());
    text.push_back(0);
    added->push_back({kTagOffsetTimeOriginal, kTiffTypeAscii, static_cast<std::uint32_t>(text.size()), text});
    m_outcome->addedOffsetTime = true;
  }

  void RaiseExifVersion(const Directory& ifd0, std::vector<NewEntry>* added) {
    const Directory* exif = ExifDirectory(ifd0);
    if (exif == nullptr) {
      return;
    }
    if (const Entry* e = exif->Find(kTagExifVersion)) {
      const std::vector<std::uint8_t> old = ValueOf(m_source, *e);
      for (std::size_t i = 0; i < kExifVersion0221.size() && i < old.size(); ++i) {
        if (old[i] != kExifVersion0221[i]) {
          if (old[i] > kExifVersion0221[i]) {
            return;  // a later version stays
          }
          break;
        }
      }
      if (old.size() == kExifVersion0221.size() && std::equal(old.begin(), old.end(), kExifVersion0221.begin())) {
        return;
      }
      const std::size_t p = e->position;
      Put16(m_out, p + 2, kTiffTypeUndefined, m_be);
      Put32(m_out, p + 4, 4, m_be);
      std::copy(kExifVersion0221.begin(), kExifVersion0221.end(), m_out.begin() + static_cast<std::ptrdiff_t>(p + 8));
      return;
    }
    added->push_back({kTagExifVersion, kTiffTypeUndefined, 4,
                      std::vector<std::uint8_t>(kExifVersion0221.begin(), kExifVersion0221.end())});
  }

  /// Appends a copy of `dir`'s entry table (as it now stands) with `added`
  /// inserted in tag order; out-of-line values stay where they are.
  std::uint32_t AppendTable(const Directory& dir, const std::vector<NewEntry>& added) {
    std::vector<std::array<std::uint8_t, 12>> rows;
    for (const Entry& e : dir.entries) {
      std::array<std::uint8_t, 12> row{};
      std::copy_n(m_out.begin() + e.position, 12, row.begin());
      rows.push_back(row);
    }
    for (const NewEntry& n : added) {
      std::array<std::uint8_t, 12> row{};
      Put16(row, 0, n.tag, m_be);
      Put16(row, 2, n.type, m_be);
      Put32(row, 4, n.count, m_be);
      if (n.value.size() <= 4) {
        std::copy(n.value.begin(), n.value.end(), row.begin() + 8);
      } else {
        Put32(row, 8, Append(n.value), m_be);
      }
      const auto before =
          std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return Get16(r, 0, m_be) > n.tag; });
      rows.insert(before, row);
    }
    std::vector<std::uint8_t> table(6 + 12 * rows.size(), 0);
    Put16(table, 0, static_cast<std::uint16_t>(rows.size()), m_be);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      std::copy(rows[i].begin(), rows[i].end(), table.begin() + 2 + 12 * static_cast<std::ptrdiff_t>(i));
    }
    Put32(table, 2 + 12 * rows.size(), dir.next, m_be);
    return Append(table);
  }

  /// The new GPS directory's entries: an old entry keeps its raw bytes unless
  /// the write sets its tag to another value (or drops it); a tag the record
  /// cannot hold exactly as it stands is carried unchanged.
  std::vector<NewEntry> GpsEntries(const Request& request) {
    const XpGPSRecord& record = *request.record;
    XpGPSRecord old;
    if (request.parsedGps != nullptr) {
      request.parsedGps->GetGPSRecord(old);
    }
    const auto gpsDirs = m_layout.GpsDirectories();
    std::vector<NewEntry> out;
    std::set<std::uint16_t> seen;
    if (!gpsDirs.empty()) {
      for (const Entry& e : gpsDirs.front()->entries) {
        const bool first = seen.insert(e.tag).second;
        const XpGPSElement* oldElement = old.Element(e.tag);
        const bool modelled = first && oldElement != nullptr && oldElement->IsValid();
        const auto wanted = first ? Encode(record, e.tag, m_be) : std::nullopt;
        if (wanted && !(modelled && SameEntry(wanted, Encode(old, e.tag, m_be)))) {
          out.push_back(*wanted);
          m_outcome->gpsChanged.insert(e.tag);
          continue;
        }
        if (!wanted && modelled && request.replaceWhole) {
          m_outcome->gpsChanged.insert(e.tag);
          continue;
        }
        out.push_back({e.tag, e.type, e.count, ValueOf(m_source, e)});
      }
    }
    for (std::uint16_t tag = 0; tag < XpGPSRecord::kTagCount; ++tag) {
      if (seen.count(tag) == 0) {
        if (auto wanted = Encode(record, tag, m_be)) {
          out.push_back(*wanted);
          m_outcome->gpsChanged.insert(tag);
        }
      }
    }
    std::stable_sort(out.begin(), out.end(), [](const NewEntry& a, const NewEntry& b) { return a.tag < b.tag; });
    return out;
  }

  /// Zeroes the old GPS directories and their values, where nothing else
  /// references the bytes.
  void ClearOldGps() {
    for (const Range& r : GpsRanges(m_layout)) {
      for (std::uint64_t i = r.offset; i < r.End(); ++i) {
        if (!m_protected[i]) {
          m_out[i] = 0;
        }
      }
    }
  }

  /// The old GPS directory's place when it is one run of bytes of its own
  /// (its table and values, padding between them) starting on an even
  /// offset; its size, 0 for none.
  [[nodiscard]] std::pair<std::uint32_t, std::uint32_t> Footprint() const {
    const auto dirs = m_layout.GpsDirectories();
    if (dirs.size() != 1 || !m_layout.gpsPointerArrays.empty()) {
      return {0, 0};
    }
    const std::vector<Range> ranges = GpsRanges(m_layout);
    if (ranges.size() != 1) {
      return {0, 0};
    }
    const std::uint32_t start = ranges.front().offset;
    const std::uint64_t end = ranges.front().End();
    if ((start & 1) != 0) {
      return {0, 0};
    }
    for (std::uint64_t i = start; i < end; ++i) {
      if (m_protected[i]) {
        return {0, 0};
      }
    }
    return {start, static_cast<std::uint32_t>(end - start)};
  }

  /// Lays out the GPS directory at `at`.
  [[nodiscard]] std::vector<std::uint8_t> GpsBytes(const std::vector<NewEntry>& entries, std::uint32_t at) const {
    return LayGps(entries, at, m_be);
  }

  std::uint32_t PlaceGps(const std::vector<NewEntry>& entries, bool appendOnly) {
    const auto [start, size] = appendOnly ? std::pair<std::uint32_t, std::uint32_t>{0, 0} : Footprint();
    if (size > 0) {
      std::vector<std::uint8_t> bytes = GpsBytes(entries, start);
      if (bytes.size() <= size) {
        std::copy(bytes.begin(), bytes.end(), m_out.begin() + start);
        return start;
      }
    }
    const std::uint32_t at = static_cast<std::uint32_t>(m_out.size() + (m_out.size() & 1));
    const std::uint32_t placed = Append(GpsBytes(entries, at));
    return placed;
  }

  std::span<const std::uint8_t> m_source;
  const Layout& m_layout;
  std::vector<std::uint8_t>& m_out;
  bool m_be;
  Outcome* m_outcome;
  std::vector<bool> m_protected;
};

/// The k-th entry of `tag` in `dir` (k counted from 0), or null.
const Entry* Occurrence(const Directory& dir, std::uint16_t tag, std::size_t k) {
  for (const Entry& e : dir.entries) {
    if (e.tag == tag && k-- == 0) {
      return &e;
    }
  }
  return nullptr;
}

bool IntendedEntry(const std::string& path, std::uint16_t tag, const Request& request) {
  if (path == "IFD0" && tag == kTagGPSIFD) {
    return true;
  }
  if (request.record != nullptr && !request.dateTime.empty() && (path == "IFD0" || path == "IFD1") &&
      tag == kTagDateTime) {
    return true;
  }
  return request.record != nullptr && request.raiseExifVersion && path == "IFD0/8769" && tag == kTagExifVersion;
}

}  // namespace

const Entry* Directory::Find(std::uint16_t tag) const {
  const auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.tag == tag; });
  return it == entries.end() ? nullptr : &*it;
}

const Directory* Layout::Find(const std::string& path) const {
  const auto it =
      std::find_if(directories.begin(), directories.end(), [&](const Directory& d) { return d.path == path; });
  return it == directories.end() ? nullptr : &*it;
}

std::vector<const Directory*> Layout::GpsDirectories() const {
  std::vector<const Directory*> out;
  for (const Directory& d : directories) {
    if (IsGpsPath(d.path) && d.path.find('/', std::string(kGpsPath).size()) == std::string::npos) {
      out.push_back(&d);
    }
  }
  return out;
}

bool HoldsRecord(const XpGPSRecord& read, const XpGPSRecord& wanted) {
  for (std::uint16_t tag = 0; tag < XpGPSRecord::kTagCount; ++tag) {
    const auto want = Encode(wanted, tag, false);
    if (want && !SameEntry(want, Encode(read, tag, false))) {
      return false;
    }
  }
  return true;
}

XpStatus NewBlock(const XpGPSRecord& record, bool bigEndian, std::vector<std::uint8_t>* tiff) {
  tiff->clear();
  std::vector<NewEntry> entries;
  for (std::uint16_t tag = 0; tag < XpGPSRecord::kTagCount; ++tag) {
    if (auto entry = Encode(record, tag, bigEndian)) {
      entries.push_back(std::move(*entry));
    }
  }
  if (entries.empty()) {
    return XpStatus::NoExif;
  }
  // Header (8), IFD0 with one entry (18), then the GPS directory.
  constexpr std::uint32_t kIfd0 = 8;
  constexpr std::uint32_t kGps = kIfd0 + 6 + 12;
  std::vector<std::uint8_t> out(kGps, 0);
  out[0] = out[1] = bigEndian ? 'M' : 'I';
  Put16(out, 2, 42, bigEndian);
  Put32(out, 4, kIfd0, bigEndian);
  Put16(out, kIfd0, 1, bigEndian);
  Put16(out, kIfd0 + 2, kTagGPSIFD, bigEndian);
  Put16(out, kIfd0 + 4, kTiffTypeLong, bigEndian);
  Put32(out, kIfd0 + 6, 1, bigEndian);
  Put32(out, kIfd0 + 10, kGps, bigEndian);
  const std::vector<std::uint8_t> gps = LayGps(entries, kGps, bigEndian);
  out.insert(out.end(), gps.begin(), gps.end());
  *tiff = std::move(out);
  return XpStatus::Ok;
}

XpStatus Walk(std::span<const std::uint8_t> tiff, Layout* layout) {
  *layout = Layout{};
  return Walker(tiff, layout).Run();
}

XpStatus Edit(std::span<const std::uint8_t> tiff, const Request& request, Outcome* outcome) {
  *outcome = Outcome{};
  Layout layout;
  if (auto st = Walk(tiff, &layout); st != XpStatus::Ok) {
    return st;
  }
  Editor editor(tiff, layout, outcome);
  const XpStatus st = request.record == nullptr ? editor.Remove() : editor.Write(request);
  if (st != XpStatus::Ok) {
    return st;
  }
  // Structures that share bytes (a value inside another directory's table,
  // say) cannot be patched without touching what they share: such data is
  // damaged, and left as it is.
  if (!Difference(tiff, outcome->tiff, request, *outcome).empty()) {
    *outcome = Outcome{};
    return XpStatus::ExifDamaged;
  }
  return XpStatus::Ok;
}

std::string Difference(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                       const Request& request, const Outcome& outcome) {
  Layout old;
  Layout now;
  if (Walk(before, &old) != XpStatus::Ok) {
    return "the old data does not read";
  }
  if (Walk(after, &now) != XpStatus::Ok) {
    return "the new data does not read completely";
  }
  if (after.size() < before.size()) {
    return "the new data is shorter";
  }
  // Bytes that may change: the IFD0 offset, the tables whose entries are
  // compared one by one below, the values of the changed entries and the old
  // GPS directory.
  std::vector<bool> free(before.size(), false);
  const auto allow = [&](std::uint64_t from, std::uint64_t size) {
    for (std::uint64_t i = from; i < from + size && i < free.size(); ++i) {
      free[i] = true;
    }
  };
  allow(4, 4);
  for (const Directory& d : old.directories) {
    if (d.path == "IFD0" || d.path == "IFD1" || d.path == "IFD0/8769") {
      allow(d.offset, d.TableSize());
    }
    for (const Entry& e : d.entries) {
      if (IntendedEntry(d.path, e.tag, request) && !e.Inline()) {
        allow(e.valueOffset, e.size);
      }
    }
  }
  for (const Range& r : GpsRanges(old)) {
    allow(r.offset, r.size);
  }
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (!free[i] && before[i] != after[i]) {
      return "byte " + std::to_string(i) + " changed";
    }
  }

  for (const Directory& d : old.directories) {
    if (IsGpsPath(d.path)) {
      continue;
    }
    const Directory* n = now.Find(d.path);
    if (n == nullptr) {
      return d.path + ": lost";
    }
    if (n->next != d.next) {
      return d.path + ": next directory changed";
    }
    std::map<std::uint16_t, std::size_t> seen;
    for (const Entry& e : d.entries) {
      const std::size_t k = seen[e.tag]++;
      if (IntendedEntry(d.path, e.tag, request)) {
        continue;
      }
      const Entry* m = Occurrence(*n, e.tag, k);
      if (m == nullptr) {
        return d.path + ": lost " + Hex4(e.tag);
      }
      if (m->type != e.type || m->count != e.count ||
          (!IsPointer(d.path, e.tag) && ValueOf(before, e) != ValueOf(after, *m))) {
        return d.path + ": changed " + Hex4(e.tag);
      }
    }
    std::map<std::uint16_t, std::size_t> counted;
    for (const Entry& m : n->entries) {
      if (++counted[m.tag] <= seen[m.tag] || IntendedEntry(d.path, m.tag, request)) {
        continue;
      }
      // The zone of the capture time, asked for and not there before: it must say what was asked.
      if (d.path == "IFD0/8769" && m.tag == kTagOffsetTimeOriginal && counted[m.tag] == 1 &&
          !request.offsetTimeOriginal.empty()) {
        const std::vector<std::uint8_t> value = ValueOf(after, m);
        const std::string text(value.begin(), value.end());
        if (m.type != kTiffTypeAscii || text != request.offsetTimeOriginal + std::string(1, '\0')) {
          return d.path + ": wrong " + Hex4(m.tag);
        }
        continue;
      }
      return d.path + ": gained " + Hex4(m.tag);
    }
  }

  const auto newGps = now.GpsDirectories();
  if (request.record == nullptr) {
    const Directory* ifd0 = now.Find("IFD0");
    if (!newGps.empty() || ifd0 == nullptr || ifd0->Find(kTagGPSIFD) != nullptr) {
      return "the GPS directory is still there";
    }
    const std::vector<bool> kept = Protected(old, before.size());
    for (const Range& r : GpsRanges(old)) {
      for (std::uint64_t i = r.offset; i < r.End(); ++i) {
        if (!kept[i] && after[i] != 0) {
          return "the old GPS directory is still readable";
        }
      }
    }
    return {};
  }
  if (newGps.size() != 1 || newGps.front()->path != kGpsPath) {
    return "no single GPS directory";
  }
  // Old GPS tags the write did not set keep their type, count and bytes;
  // no other tag appears.
  const auto oldGps = old.GpsDirectories();
  std::map<std::uint16_t, std::size_t> seen;
  if (!oldGps.empty()) {
    for (const Entry& e : oldGps.front()->entries) {
      const std::size_t k = seen[e.tag]++;
      if (outcome.gpsChanged.count(e.tag) != 0) {
        continue;
      }
      const Entry* m = Occurrence(*newGps.front(), e.tag, k);
      if (m == nullptr || m->type != e.type || m->count != e.count || ValueOf(before, e) != ValueOf(after, *m)) {
        return std::string(kGpsPath) + ": lost or changed " + Hex4(e.tag);
      }
    }
  }
  std::map<std::uint16_t, std::size_t> counted;
  for (const Entry& m : newGps.front()->entries) {
    if (++counted[m.tag] > seen[m.tag] && outcome.gpsChanged.count(m.tag) == 0) {
      return std::string(kGpsPath) + ": gained " + Hex4(m.tag);
    }
  }
  return {};
}

}  // namespace XpExifEdit
