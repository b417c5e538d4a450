// Storing a tag tree as TIFF data, and the typed setters of a directory.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

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

// Serialises directories in the tree's byte order. Directories are laid out
// front to back (table, out-of-line values, children), so everything is
// written in one pass without seeking.
class TiffWriter {
 public:
  TiffWriter(XpAbstractFile& stream, std::int64_t base, bool bigEndian)
      : m_stream(stream), m_base(base), m_bigEndian(bigEndian) {}

  [[nodiscard]] XpStatus WriteHeader() {
    std::vector<std::uint8_t> header;
    header.push_back(m_bigEndian ? 'M' : 'I');
    header.push_back(m_bigEndian ? 'M' : 'I');
    Put16(header, 42);
    Put32(header, 8);
    return Emit(header);
  }

  /// Writes `dir` at `offset` (which must be where the stream stands,
  /// relative to the base) followed by its subtree.
  [[nodiscard]] XpStatus WriteDirectory(const XpTiffTagIFD& dir, std::uint64_t offset, std::uint64_t nextOffset,
                                        int depth) {
    if (depth > kMaxStoreDepth) {
      return XpStatus::JpegEncodeFailed;
    }
    // The layout arithmetic and the bytes actually written must agree.
    if (m_stream.GetPosition() - m_base != static_cast<std::int64_t>(offset)) {
      return XpStatus::Failed;
    }
    const std::uint64_t tableEnd = offset + MakerNoteHeaderSize(dir) + 2 + kEntrySize * dir.EntryCount() + 4;
    std::uint64_t valueOffset = tableEnd;
    std::uint64_t childOffset = offset + SizeOf(dir, false, depth);
    if (!Fits(childOffset) || !Fits(nextOffset) || dir.EntryCount() > 0xFFFF) {
      return XpStatus::JpegEncodeFailed;
    }

    std::vector<std::uint8_t> table;
    std::vector<std::uint8_t> values;
    struct PendingChild {
      const XpTiffTagIFD* dir;
      std::uint64_t offset;
    };
    std::vector<PendingChild> children;

    if (dir.IsMakerNote()) {
      if (dir.HasShortHeader()) {
        table.insert(table.end(), kShortHeader.begin(), kShortHeader.end());
      } else if (dir.HasPiHeader()) {
        table.insert(table.end(), kPiHeader.begin(), kPiHeader.end());
      } else {
        table.insert(table.end(), kDscHeader.begin(), kDscHeader.end());
      }
    }
    Put16(table, static_cast<std::uint16_t>(dir.EntryCount()));

    for (const auto& entry : dir.Entries()) {
      Put16(table, entry->GetTag());
      if (const XpTiffTagDataIFD* dirEntry = AsDirectoryEntry(*entry)) {
        const std::size_t childCount = ChildrenToWrite(*dirEntry);
        std::vector<std::uint32_t> childOffsets;
        for (std::size_t i = 0; i < childCount; ++i) {
          const XpTiffTagIFD* child = dirEntry->GetChild(i);
          if (!Fits(childOffset)) {
            return XpStatus::JpegEncodeFailed;
          }
          children.push_back({child, childOffset});
          childOffsets.push_back(static_cast<std::uint32_t>(childOffset));
          childOffset += SizeOf(*child, true, depth + 1);
        }
        if (IsMakerNoteDirectory(*dirEntry)) {
          const std::uint64_t blobSize = SizeOf(*dirEntry->GetChild(0), true, depth + 1);
          if (!Fits(blobSize)) {
            return XpStatus::JpegEncodeFailed;
          }
          Put16(table, kTiffTypeUndefined);
          Put32(table, static_cast<std::uint32_t>(blobSize));
          Put32(table, childOffsets[0]);
          continue;
        }
        Put16(table, kTiffTypeLong);
        Put32(table, static_cast<std::uint32_t>(childCount));
        if (childCount == 0) {
          Put32(table, 0);
        } else if (childCount == 1) {
          Put32(table, childOffsets[0]);
        } else {
          Put32(table, static_cast<std::uint32_t>(valueOffset));
          for (const std::uint32_t childAt : childOffsets) {
            Put32(values, childAt);
          }
          valueOffset += EvenSize(4 * std::uint64_t{childCount});
          PadEven(values);
        }
        continue;
      }

      Put16(table, entry->GetType());
      Put32(table, entry->GetCount());
      std::vector<std::uint8_t> bytes(entry->Bytes().begin(), entry->Bytes().end());
      if (NeedsSwap()) {
        XpTiffTagDataBase::SwapUnits(bytes, entry->GetSwapUnit());
      }
      if (bytes.size() <= 4) {
        bytes.resize(4, 0);
        table.insert(table.end(), bytes.begin(), bytes.end());
        continue;
      }
      if (!Fits(valueOffset)) {
        return XpStatus::JpegEncodeFailed;
      }
      Put32(table, static_cast<std::uint32_t>(valueOffset));
      values.insert(values.end(), bytes.begin(), bytes.end());
      PadEven(values);
      valueOffset += EvenSize(bytes.size());
    }
    Put32(table, static_cast<std::uint32_t>(nextOffset));

    if (auto st = Emit(table); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = Emit(values); st != XpStatus::Ok) {
      return st;
    }
    for (const PendingChild& child : children) {
      if (auto st = WriteDirectory(*child.dir, child.offset, 0, depth + 1); st != XpStatus::Ok) {
        return st;
      }
    }
    return XpStatus::Ok;
  }

 private:
  static bool Fits(std::uint64_t offset) { return offset <= std::numeric_limits<std::uint32_t>::max(); }

  [[nodiscard]] bool NeedsSwap() const { return m_bigEndian != (std::endian::native == std::endian::big); }

  void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) const {
    if (m_bigEndian) {
      out.push_back(static_cast<std::uint8_t>(value >> 8));
      out.push_back(static_cast<std::uint8_t>(value));
    } else {
      out.push_back(static_cast<std::uint8_t>(value));
      out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
  }

  void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) const {
    if (m_bigEndian) {
      Put16(out, static_cast<std::uint16_t>(value >> 16));
      Put16(out, static_cast<std::uint16_t>(value));
    } else {
      Put16(out, static_cast<std::uint16_t>(value));
      Put16(out, static_cast<std::uint16_t>(value >> 16));
    }
  }

  static void PadEven(std::vector<std::uint8_t>& out) {
    if (out.size() % 2 != 0) {
      out.push_back(0);
    }
  }

  [[nodiscard]] XpStatus Emit(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) {
      return XpStatus::Ok;
    }
    return m_stream.WriteAll(bytes.data(), bytes.size());
  }

  XpAbstractFile& m_stream;
  std::int64_t m_base;
  bool m_bigEndian;
};

}  // namespace

std::uint64_t XpTiffTagManager::Store(XpAbstractFile& stream, XpStatus* status) {
  XpStatus ignored = XpStatus::Ok;
  XpStatus& result = status != nullptr ? *status : ignored;
  result = XpStatus::Ok;
  if (m_root == nullptr) {
    return 0;
  }
  const std::int64_t start = stream.GetPosition();
  if (start < 0) {
    result = XpStatus::Failed;
    return 0;
  }
  try {
    TiffWriter writer(stream, start, m_bigEndian);
    if (result = writer.WriteHeader(); result != XpStatus::Ok) {
      return 0;
    }
    const std::size_t count = m_root->ChildCount();
    for (std::size_t i = 0; i < count; ++i) {
      SortEntries(*m_root->GetChild(i), 0);
    }
    std::uint64_t offset = 8;
    for (std::size_t i = 0; i < count; ++i) {
      const XpTiffTagIFD& dir = *m_root->GetChild(i);
      const std::uint64_t size = SizeOf(dir, true, 0);
      const std::uint64_t next = i + 1 < count ? offset + size : 0;
      if (result = writer.WriteDirectory(dir, offset, next, 0); result != XpStatus::Ok) {
        return 0;
      }
      offset += size;
    }
  } catch (const std::bad_alloc&) {
    result = XpStatus::OutOfMemory;
    return 0;
  }
  return static_cast<std::uint64_t>(stream.GetPosition() - start);
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
