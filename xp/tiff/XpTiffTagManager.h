#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/tiff/TagTreePtr.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"

/// A parsed Exif/TIFF tag tree: the byte order of its source and the chain of
/// top-level directories (IFD0, IFD1, ...) held as the children of a root
/// entry. Without a root the tree counts as not loaded.
class XpTiffTagManager {
 public:
  /// Load modes: Exif from JPEG files (maker notes of the suite's cameras are
  /// recognised by their signatures), every maker note left raw, and every
  /// maker note longer than 5 bytes taken as a directory without header.
  static constexpr int kReadModeJpeg = 0;
  static constexpr int kReadModeRawMakerNote = 1;
  static constexpr int kReadModeMakerNoteIFD = 2;

  // Limits that keep a hostile file from taking unbounded memory or time.
  static constexpr int kMaxDepth = 8;                         ///< child directory nesting below a top-level IFD
  static constexpr std::size_t kMaxDirectories = 4096;        ///< directories in one tree
  static constexpr std::uint64_t kMinValueBudget = 1u << 20;  ///< value bytes always allowed

  XpTiffTagManager() = default;
  XpTiffTagManager(const XpTiffTagManager&) = delete;
  XpTiffTagManager& operator=(const XpTiffTagManager&) = delete;
  virtual ~XpTiffTagManager();

  /// Clears the tree and gives it an empty root. False only when memory runs out.
  virtual bool Create();
  /// Parses the TIFF structure at the stream's position (the base of every
  /// offset). False when the header is bad (the tree is then empty) or memory
  /// runs out; true whenever the header was valid, even when a directory was
  /// cut short: what was read stays. LoadStatus() tells which.
  [[nodiscard]] virtual bool Load(XpAbstractFile& stream, int readMode = kReadModeJpeg);
  /// Load, with every directory and value bounded to the `blockSize` bytes
  /// from the stream's position (the Exif block); a negative size means the
  /// rest of the stream. Only a maker note and what lies inside it may reach
  /// beyond the block. A value outside the block, a malformed entry (skipped;
  /// the rest of its directory is still read), a table cut short, a loop or a
  /// limit reached marks the tree as not read completely (IsComplete).
  [[nodiscard]] bool LoadBlock(XpAbstractFile& stream, int readMode, std::int64_t blockSize);
  /// LoadBlock for a header whose third and fourth bytes carry `magic` in the
  /// header's byte order instead of 42: some raw layouts mark themselves so
  /// (0x55, 0x4F52, 0x5352) and keep the TIFF directory structure otherwise.
  [[nodiscard]] bool LoadBlock(XpAbstractFile& stream, int readMode, std::int64_t blockSize, std::uint16_t magic);
  /// Writes the tree as a TIFF structure at the stream's position (the base of
  /// every offset written): header, then each top-level directory with its
  /// subtree. Sorts every directory's entries by tag first. Answers the bytes
  /// written; 0 when there is no root (nothing written) or a write failed
  /// (`*status`, when given, then holds the stream's status).
  virtual std::uint64_t Store(XpAbstractFile& stream, XpStatus* status = nullptr);

  /// An out-of-line value to be stored at a given offset from the base, such
  /// as a raw maker note whose inner offsets count from the TIFF header.
  struct PinnedValue {
    const XpTiffTagDataBase* entry = nullptr;
    std::uint32_t offset = 0;
  };
  /// Store, placing each pinned value at its offset when the layout has not
  /// passed that offset yet (the gap is filled with zero bytes); a pin that
  /// cannot be kept leaves the value where it falls.
  std::uint64_t Store(XpAbstractFile& stream, std::span<const PinnedValue> pins, XpStatus* status = nullptr);
  /// Destroys every directory and the root.
  virtual void Clear();
  /// A deep copy, byte order included; null when memory runs out.
  [[nodiscard]] virtual std::unique_ptr<XpTiffTagManager> Clone() const;
  /// True when at least one top-level directory exists.
  [[nodiscard]] virtual bool HasIFD() const;

  /// After Load: 0, 0x8602 for a bad header, 0x8401 when memory ran out.
  [[nodiscard]] XpStatus LoadStatus() const { return m_loadStatus; }
  /// After Load: true when every directory and every value was read as the
  /// data describes it. A tree read in part may be shown, but writing it back
  /// would drop what was not read.
  [[nodiscard]] bool IsComplete() const { return m_complete; }
  /// When not complete: what was found first, as a short English phrase
  /// ("a directory table is cut short"); empty otherwise.
  [[nodiscard]] std::string Damage() const { return m_complete ? std::string() : std::string(m_damage); }
  /// When not complete: true when the only thing not read is the earlier
  /// entry of a tag that a directory holds twice (the data itself is sound).
  [[nodiscard]] bool OnlyDuplicateTagsSkipped() const { return m_onlyDuplicateTags; }

  /// Set when the data was (or is to be stored) big-endian ("MM").
  [[nodiscard]] bool IsBigEndian() const { return m_bigEndian; }
  void SetBigEndian(bool bigEndian) { m_bigEndian = bigEndian; }

  /// The root container (its children are the top-level directories), or null.
  [[nodiscard]] XpTiffTagDataIFD* GetRoot() const { return m_root.get(); }
  [[nodiscard]] std::size_t IFDCount() const;
  /// The top-level directory at `index`, or null.
  [[nodiscard]] XpTiffTagIFD* GetIFD(std::size_t index) const;
  /// Appends an empty top-level directory (making a root when there is none);
  /// null when memory runs out.
  XpTiffTagIFD* AddIFD();
  /// Destroys the top-level directory at `index`; false when out of range.
  bool RemoveIFD(std::size_t index);

  /// The first child of IFD0's entry 0x8769 (a direct entry), or null.
  [[nodiscard]] XpTiffTagIFD* GetExifIFD() const;
  /// The first child of IFD0's entry 0x8825, or null.
  [[nodiscard]] XpTiffTagIFD* GetGPSIFD() const;
  /// The first child of the Exif directory's entry 0x927C when it is a directory entry.
  [[nodiscard]] XpTiffTagIFD* GetMakerNoteIFD() const;
  /// The first child of the maker note's entry 0xB028 when it is a directory entry.
  [[nodiscard]] XpTiffTagIFD* GetMakerSubIFD() const;
  /// True when the Exif directory's ColorSpace (0xA001, SHORT) is 0xFFFF.
  [[nodiscard]] bool IsUncalibrated() const;

  /// The whole tree as text: byte order, then each top-level directory with Dump.
  [[nodiscard]] std::string Dump() const;

 private:
  std::unique_ptr<XpTiffTagDataIFD> m_root;
  bool m_bigEndian = false;
  bool m_complete = true;
  const char* m_damage = "";  // a static text
  bool m_onlyDuplicateTags = false;
  XpStatus m_loadStatus = XpStatus::Ok;
};
