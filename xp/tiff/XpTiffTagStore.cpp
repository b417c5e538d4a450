// Storing a tag tree as TIFF data, and the typed setters of a directory.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <unordered_map>
#include <vector>

#include "xp/tiff/XpByteOrder.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

constexpr std::uint64_t kEntrySize = 12;
constexpr std::uint64_t kLongHeaderSize = 12;
constexpr std::uint64_t kShortHeaderSize = 8;
// Deeper than anything the reader builds; stops a hand-made tree from
// exhausting the stack.
constexpr int kMaxStoreDepth = 64;

constexpr std::array<std::uint8_t, 12> kDscHeader = {'A', 'R', 'D', 'O', ' ', 'D', 'S', 'C', ' ', 0, 0, 0};
constexpr std::array<std::uint8_t, 12> kPiHeader = {'A', 'R', 'D', 'O', ' ', 'P', 'I', ' ', 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 8> kShortHeader = {'Q', 'U', 'A', 'V', 'I', 0, 1, 0};

std::uint64_t EvenSize(std::uint64_t size) { return size + (size & 1); }

std::uint64_t MakerNoteHeaderSize(const XpTiffTagIFD& dir) {
  if (!dir.IsMakerNote()) {
    return 0;
  }
  return dir.HasShortHeader() ? kShortHeaderSize : kLongHeaderSize;
}

const XpTiffTagDataIFD* AsDirectoryEntry(const XpTiffTagDataBase& entry) {
  return entry.IsIFD() ? static_cast<const XpTiffTagDataIFD*>(&entry) : nullptr;
}

// A maker note held as a directory is stored as one UNDEFINED blob that holds
// the directory; only its first child can be written that way.
bool IsMakerNoteDirectory(const XpTiffTagDataIFD& entry) {
  return entry.GetTag() == kTagMakerNote && entry.ChildCount() > 0;
}

std::size_t ChildrenToWrite(const XpTiffTagDataIFD& entry) {
  return IsMakerNoteDirectory(entry) ? 1 : entry.ChildCount();
}

// Bytes of the entry written after the directory's entry table (0 when the
// value fits in the value field).
std::uint64_t OutOfLineSize(const XpTiffTagDataBase& entry) {
  if (const XpTiffTagDataIFD* dirEntry = AsDirectoryEntry(entry)) {
    if (IsMakerNoteDirectory(*dirEntry)) {
      return 0;
    }
    const std::uint64_t size = 4 * std::uint64_t{dirEntry->ChildCount()};
    return size > 4 ? size : 0;
  }
  const std::uint64_t size = entry.GetByteSize();
  return size > 4 ? size : 0;
}

std::uint64_t SizeOf(const XpTiffTagIFD& dir, bool withChildren, int depth) {
  std::uint64_t size = MakerNoteHeaderSize(dir) + kEntrySize * dir.EntryCount() + 6;
  for (const auto& entry : dir.Entries()) {
    size += EvenSize(OutOfLineSize(*entry));
  }
  if (!withChildren || depth > kMaxStoreDepth) {
    return size;
  }
  for (const auto& entry : dir.Entries()) {
    if (const XpTiffTagDataIFD* dirEntry = AsDirectoryEntry(*entry)) {
      for (std::size_t i = 0; i < ChildrenToWrite(*dirEntry); ++i) {
        size += SizeOf(*dirEntry->GetChild(i), true, depth + 1);
      }
    }
  }
  return size;
}

void SortEntries(XpTiffTagIFD& dir, int depth) {
  auto& entries = dir.Entries();
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a->GetTag() < b->GetTag(); });
  if (depth > kMaxStoreDepth) {
    return;
  }
  for (const auto& entry : entries) {
    if (const XpTiffTagDataIFD* dirEntry = AsDirectoryEntry(*entry)) {
      for (std::size_t i = 0; i < dirEntry->ChildCount(); ++i) {
        SortEntries(*dirEntry->GetChild(i), depth + 1);
      }
    }
  }
}

// Lays a tree out and serialises it in the tree's byte order.
//
// Without pinned values the layout is strictly front to back: a directory's
// table, its out-of-line values, then its child directories with their
// subtrees in entry order. A pinned value reserves its own range; anything
// that would overlap the range is moved behind it. Offsets are therefore
// assigned in a first pass and the bytes are put together in memory.
class TiffWriter {
 public:
  using PinnedValue = XpTiffTagManager::PinnedValue;

  TiffWriter(bool bigEndian, std::span<const PinnedValue> pins) : m_bigEndian(bigEndian) {
    for (const PinnedValue& pin : pins) {
      if (pin.entry == nullptr || pin.entry->IsIFD() || OutOfLineSize(*pin.entry) == 0 || pin.offset < 8) {
        continue;
      }
      const Range range{pin.offset, pin.offset + EvenSize(OutOfLineSize(*pin.entry))};
      const bool overlaps = std::any_of(m_reserved.begin(), m_reserved.end(),
                                        [&](const Range& r) { return range.begin < r.end && r.begin < range.end; });
      if (!overlaps) {
        m_reserved.push_back(range);
        m_offsets[pin.entry] = pin.offset;
      }
    }
  }

  /// Assigns offsets to every top-level directory and its subtree. False when
  /// the tree is too deep or too large for 32-bit offsets.
  [[nodiscard]] bool Layout(const XpTiffTagDataIFD& root) {
    m_cursor = 8;
    for (std::size_t i = 0; i < root.ChildCount(); ++i) {
      if (!LayoutDirectory(*root.GetChild(i), 0)) {
        return false;
      }
    }
    m_end = m_cursor;
    for (const Range& r : m_reserved) {
      m_end = std::max(m_end, r.end);
    }
    return m_end <= std::numeric_limits<std::uint32_t>::max();
  }

  /// The stored bytes of a tree laid out by Layout.
  [[nodiscard]] std::vector<std::uint8_t> Serialise(const XpTiffTagDataIFD& root) {
    m_out.assign(static_cast<std::size_t>(m_end), 0);
    m_out[0] = m_out[1] = m_bigEndian ? 'M' : 'I';
    Put16(2, 42);
    const std::size_t count = root.ChildCount();
    Put32(4, count > 0 ? OffsetOf(root.GetChild(0)) : 0);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t next = i + 1 < count ? OffsetOf(root.GetChild(i + 1)) : 0;
      WriteDirectory(*root.GetChild(i), next);
    }
    return std::move(m_out);
  }

 private:
  struct Range {
    std::uint64_t begin;
    std::uint64_t end;
  };

  static std::uint64_t TableSize(const XpTiffTagIFD& dir) {
    return MakerNoteHeaderSize(dir) + 2 + kEntrySize * dir.EntryCount() + 4;
  }

  std::uint64_t Allocate(std::uint64_t size) {
    bool moved = true;
    while (moved) {
      moved = false;
      for (const Range& r : m_reserved) {
        if (m_cursor < r.end && r.begin < m_cursor + size) {
          m_cursor = r.end;
          moved = true;
        }
      }
    }
    const std::uint64_t at = m_cursor;
    m_cursor += size;
    return at;
  }

  bool LayoutDirectory(const XpTiffTagIFD& dir, int depth) {
    if (depth > kMaxStoreDepth || dir.EntryCount() > 0xFFFF) {
      return false;
    }
    const std::uint64_t start = Allocate(TableSize(dir));
    m_offsets[&dir] = start;
    for (const auto& entry : dir.Entries()) {
      const std::uint64_t size = OutOfLineSize(*entry);
      if (size > 0 && m_offsets.count(entry.get()) == 0) {
        m_offsets[entry.get()] = Allocate(EvenSize(size));
      }
    }
    for (const auto& entry : dir.Entries()) {
      if (const XpTiffTagDataIFD* dirEntry = AsDirectoryEntry(*entry)) {
        for (std::size_t i = 0; i < ChildrenToWrite(*dirEntry); ++i) {
          if (!LayoutDirectory(*dirEntry->GetChild(i), depth + 1)) {
            return false;
          }
        }
      }
    }
    m_extent[&dir] = m_cursor - start;
    return m_cursor <= std::numeric_limits<std::uint32_t>::max();
  }

  std::uint32_t OffsetOf(const void* item) const { return static_cast<std::uint32_t>(m_offsets.at(item)); }

  void WriteDirectory(const XpTiffTagIFD& dir, std::uint32_t nextOffset) {
    std::size_t at = OffsetOf(&dir);
    if (dir.IsMakerNote()) {
      const auto* header =
          dir.HasShortHeader() ? kShortHeader.data() : (dir.HasPiHeader() ? kPiHeader.data() : kDscHeader.data());
      const std::size_t length = dir.HasShortHeader() ? kShortHeader.size() : kDscHeader.size();
      std::memcpy(&m_out[at], header, length);
      at += length;
    }
    Put16(at, static_cast<std::uint16_t>(dir.EntryCount()));
    at += 2;
    for (const auto& entry : dir.Entries()) {
      Put16(at, entry->GetTag());
      if (const XpTiffTagDataIFD* dirEntry = AsDirectoryEntry(*entry)) {
        const std::size_t childCount = ChildrenToWrite(*dirEntry);
        if (IsMakerNoteDirectory(*dirEntry)) {
          const XpTiffTagIFD* note = dirEntry->GetChild(0);
          Put16(at + 2, kTiffTypeUndefined);
          Put32(at + 4, static_cast<std::uint32_t>(m_extent.at(note)));
          Put32(at + 8, OffsetOf(note));
        } else {
          Put16(at + 2, kTiffTypeLong);
          Put32(at + 4, static_cast<std::uint32_t>(childCount));
          if (childCount == 1) {
            Put32(at + 8, OffsetOf(dirEntry->GetChild(0)));
          } else if (childCount > 1) {
            const std::uint32_t array = OffsetOf(entry.get());
            Put32(at + 8, array);
            for (std::size_t i = 0; i < childCount; ++i) {
              Put32(array + 4 * i, OffsetOf(dirEntry->GetChild(i)));
            }
          }
        }
        at += kEntrySize;
        continue;
      }
      Put16(at + 2, entry->GetType());
      Put32(at + 4, entry->GetCount());
      std::vector<std::uint8_t> bytes(entry->Bytes().begin(), entry->Bytes().end());
      if (NeedsSwap()) {
        XpTiffTagDataBase::SwapUnits(bytes, entry->GetSwapUnit());
      }
      if (bytes.size() <= 4) {
        std::copy(bytes.begin(), bytes.end(), m_out.begin() + static_cast<std::ptrdiff_t>(at + 8));
      } else {
        const std::uint32_t valueAt = OffsetOf(entry.get());
        Put32(at + 8, valueAt);
        std::copy(bytes.begin(), bytes.end(), m_out.begin() + static_cast<std::ptrdiff_t>(valueAt));
      }
      at += kEntrySize;
    }
    Put32(at, nextOffset);
    for (const auto& entry : dir.Entries()) {
      if (const XpTiffTagDataIFD* dirEntry = AsDirectoryEntry(*entry)) {
        for (std::size_t i = 0; i < ChildrenToWrite(*dirEntry); ++i) {
          WriteDirectory(*dirEntry->GetChild(i), 0);
        }
      }
    }
  }

  [[nodiscard]] bool NeedsSwap() const { return m_bigEndian != (std::endian::native == std::endian::big); }

  // The layout sized the buffer for every entry it places.
  void Put16(std::size_t at, std::uint16_t value) { XpBytes::Put16(m_out, at, value, m_bigEndian); }
  void Put32(std::size_t at, std::uint32_t value) { XpBytes::Put32(m_out, at, value, m_bigEndian); }

  bool m_bigEndian;
  std::vector<Range> m_reserved;
  // Offsets of directories (their first byte) and of out-of-line values.
  std::unordered_map<const void*, std::uint64_t> m_offsets;
  std::unordered_map<const void*, std::uint64_t> m_extent;  // a directory's bytes, subtree included
  std::uint64_t m_cursor = 8;
  std::uint64_t m_end = 8;
  std::vector<std::uint8_t> m_out;
};

}  // namespace

std::uint64_t XpTiffTagManager::Store(XpAbstractFile& stream, XpStatus* status) { return Store(stream, {}, status); }

std::uint64_t XpTiffTagManager::Store(XpAbstractFile& stream, std::span<const PinnedValue> pins, XpStatus* status) {
  XpStatus ignored = XpStatus::Ok;
  XpStatus& result = status != nullptr ? *status : ignored;
  result = XpStatus::Ok;
  if (m_root == nullptr) {
    return 0;
  }
  try {
    for (std::size_t i = 0; i < m_root->ChildCount(); ++i) {
      SortEntries(*m_root->GetChild(i), 0);
    }
    TiffWriter writer(m_bigEndian, pins);
    if (!writer.Layout(*m_root)) {
      result = XpStatus::JpegEncodeFailed;
      return 0;
    }
    const std::vector<std::uint8_t> bytes = writer.Serialise(*m_root);
    if (result = stream.WriteAll(bytes.data(), bytes.size()); result != XpStatus::Ok) {
      return 0;
    }
    return bytes.size();
  } catch (const std::bad_alloc&) {
    result = XpStatus::OutOfMemory;
    return 0;
  }
}

std::uint64_t XpTiffTagIFD::StoredSize(bool withChildren) const { return SizeOf(*this, withChildren, 0); }

XpStatus XpTiffTagIFD::SetAscii(std::uint16_t tag, std::string_view text, std::int64_t size) {
  if (size > std::int64_t{std::numeric_limits<std::uint32_t>::max()}) {
    return XpStatus::InvalidArgument;
  }
  std::vector<std::uint8_t> bytes;
  try {
    if (size < 0) {
      bytes.assign(text.begin(), text.end());
      bytes.push_back(0);
    } else {
      bytes.assign(static_cast<std::size_t>(size), 0);
      std::memcpy(bytes.data(), text.data(), std::min(text.size(), bytes.size()));
    }
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  return AddEntry(XpCreateTiffTagData(tag, kTiffTypeAscii, bytes)) != nullptr ? XpStatus::Ok : XpStatus::OutOfMemory;
}

XpStatus XpTiffTagIFD::SetShort(std::uint16_t tag, std::uint16_t value) {
  std::array<std::uint8_t, 2> bytes{};
  std::memcpy(bytes.data(), &value, sizeof value);
  return AddEntry(XpCreateTiffTagData(tag, kTiffTypeShort, bytes)) != nullptr ? XpStatus::Ok : XpStatus::OutOfMemory;
}

XpStatus XpTiffTagIFD::SetLong(std::uint16_t tag, std::uint32_t value) {
  std::array<std::uint8_t, 4> bytes{};
  std::memcpy(bytes.data(), &value, sizeof value);
  return AddEntry(XpCreateTiffTagData(tag, kTiffTypeLong, bytes)) != nullptr ? XpStatus::Ok : XpStatus::OutOfMemory;
}

XpStatus XpTiffTagIFD::SetRational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) {
  std::array<std::uint8_t, 8> bytes{};
  std::memcpy(bytes.data(), &numerator, sizeof numerator);
  std::memcpy(bytes.data() + 4, &denominator, sizeof denominator);
  return AddEntry(XpCreateTiffTagData(tag, kTiffTypeRational, bytes)) != nullptr ? XpStatus::Ok : XpStatus::OutOfMemory;
}

XpStatus XpTiffTagIFD::SetUndefined(std::uint16_t tag, std::span<const std::uint8_t> bytes) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    return XpStatus::InvalidArgument;
  }
  return AddEntry(XpCreateTiffTagData(tag, kTiffTypeUndefined, bytes)) != nullptr ? XpStatus::Ok
                                                                                  : XpStatus::OutOfMemory;
}
