#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/tiff/XpTiffTagDataBase.h"

class XpGPSRecord;

/// One image file directory: an ordered list of owned entries (file order after
/// parsing), and the flags that describe a maker note parsed as a directory.
class XpTiffTagIFD {
 public:
  XpTiffTagIFD() = default;
  XpTiffTagIFD(const XpTiffTagIFD&) = delete;
  XpTiffTagIFD& operator=(const XpTiffTagIFD&) = delete;
  virtual ~XpTiffTagIFD();

  /// A deep copy (entries, children and flags); null when memory runs out.
  [[nodiscard]] std::unique_ptr<XpTiffTagIFD> Clone() const;

  [[nodiscard]] std::size_t EntryCount() const { return m_entries.size(); }
  /// The entry at `index`, or null when out of range.
  [[nodiscard]] XpTiffTagDataBase* GetEntry(std::size_t index) const;
  /// The owned entries, for code that sorts or rewrites them.
  [[nodiscard]] std::vector<std::unique_ptr<XpTiffTagDataBase>>& Entries() { return m_entries; }
  [[nodiscard]] const std::vector<std::unique_ptr<XpTiffTagDataBase>>& Entries() const { return m_entries; }

  /// The first entry with `tag`, or null. With `deep`, a child-directory entry
  /// (other than a maker note 0x927C or maker sub-IFD 0xB028) has its children
  /// searched, depth first, before the next entry of this directory.
  [[nodiscard]] XpTiffTagDataBase* Find(std::uint16_t tag, bool deep = false) const;
  [[nodiscard]] bool Has(std::uint16_t tag, bool deep = false) const { return Find(tag, deep) != nullptr; }

  /// Adds an entry: one with the same tag is destroyed and replaced in place,
  /// otherwise the entry is appended. Answers the stored entry, or null when
  /// `entry` is null or memory runs out.
  XpTiffTagDataBase* AddEntry(std::unique_ptr<XpTiffTagDataBase> entry);
  /// Destroys the entry at `index`; false when out of range.
  bool RemoveEntry(std::size_t index);
  /// Destroys every entry with `tag`; answers how many there were.
  std::size_t RemoveTag(std::uint16_t tag);

  // Setters: each makes a new entry of its type (count 1; ASCII and UNDEFINED
  // count their bytes) and adds it with AddEntry, so an entry of the same tag
  // is replaced whatever its type. 0, or 0x8401 when memory runs out.
  /// `size` bytes of `text`, padded with NULs; -1 means the text and its NUL.
  [[nodiscard]] XpStatus SetAscii(std::uint16_t tag, std::string_view text, std::int64_t size = -1);
  [[nodiscard]] XpStatus SetShort(std::uint16_t tag, std::uint16_t value);
  [[nodiscard]] XpStatus SetLong(std::uint16_t tag, std::uint32_t value);
  [[nodiscard]] XpStatus SetRational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator);
  [[nodiscard]] XpStatus SetUndefined(std::uint16_t tag, std::span<const std::uint8_t> bytes);

  /// The bytes this directory takes when stored: 12 x entries + 6, the
  /// maker-note header, and the out-of-line values padded to even lengths;
  /// with `withChildren`, plus every child directory's size with its children.
  [[nodiscard]] std::uint64_t StoredSize(bool withChildren) const;

  // Typed getters: each answers 0 (empty text for FindAscii) when the entry is
  // missing, its type is not the getter's, or index >= count. No conversion
  // between types is made.
  [[nodiscard]] std::uint8_t FindByte(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  [[nodiscard]] std::uint8_t FindUndefined(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  /// The text from byte `index` up to its NUL.
  [[nodiscard]] std::string FindAscii(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  [[nodiscard]] std::uint16_t FindShort(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  /// Child-directory entries are not LONG entries and give 0.
  [[nodiscard]] std::uint32_t FindLong(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  /// Numerator / denominator (a zero denominator gives 0).
  [[nodiscard]] double FindRational(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  [[nodiscard]] std::int32_t FindSLong(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  [[nodiscard]] double FindSRational(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  [[nodiscard]] float FindFloat(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;
  [[nodiscard]] double FindDouble(std::uint16_t tag, bool deep = false, std::uint32_t index = 0) const;

  /// Fills `record` from this directory taken as a GPS directory: every element
  /// is reset, then set from the first entry of its tag when that entry fits.
  void GetGPSRecord(XpGPSRecord& record) const;
  /// Adds one entry for every valid element of `record` (replacing entries of
  /// the same tags). 0 or 0x8401 when an entry could not be made.
  [[nodiscard]] XpStatus SetGPSRecord(const XpGPSRecord& record);

  /// The directory as text: one Dump line per entry, child directories
  /// indented below their entry.
  [[nodiscard]] std::string Dump(int indent = 0) const;

  [[nodiscard]] bool IsMakerNote() const { return m_isMakerNote != 0; }
  void SetMakerNote(bool on) { m_isMakerNote = on ? 1 : 0; }
  /// The maker note carries the 8-byte short header.
  [[nodiscard]] bool HasShortHeader() const { return m_hasShortHeader != 0; }
  void SetShortHeader(bool on) { m_hasShortHeader = on ? 1 : 0; }
  /// The maker note carries the 12-byte PI header.
  [[nodiscard]] bool HasPiHeader() const { return m_hasPiHeader != 0; }
  void SetPiHeader(bool on) { m_hasPiHeader = on ? 1 : 0; }

 private:
  std::vector<std::unique_ptr<XpTiffTagDataBase>> m_entries;
  std::uint8_t m_isMakerNote = 0;
  std::uint8_t m_hasShortHeader = 0;
  std::uint8_t m_hasPiHeader = 0;
  std::uint8_t m_reserved = 0;  // always 0 here; kept and copied for the stored layout
};
