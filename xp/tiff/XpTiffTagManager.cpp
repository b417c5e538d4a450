#include "xp/tiff/XpTiffTagManager.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "xp/tiff/XpByteOrder.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

constexpr const char* kDuplicateTag = "a tag appears twice in one directory";

// How a maker note recognised in mode 0 is laid out before its directory.
enum class MakerHeader { None, Dsc, Short, Pi };

constexpr std::uint8_t kSigDsc[12] = {'A', 'R', 'D', 'O', ' ', 'D', 'S', 'C', ' ', 0, 0, 0};
constexpr std::uint8_t kSigDscV2[12] = {'A', 'R', 'D', 'O', ' ', 'D', 'S', 'C', ' ', 0, 2, 0};
constexpr std::uint8_t kSigShort[8] = {'Q', 'U', 'A', 'V', 'I', 0, 1, 0};
constexpr std::uint8_t kSigPi[12] = {'A', 'R', 'D', 'O', ' ', 'P', 'I', ' ', 0, 0, 0, 0};

// Per entry the cost of the object itself, counted against the value budget
// so that many empty entries cannot take unbounded memory either.
constexpr std::uint64_t kEntryCost = 48;
constexpr std::uint64_t kMaxValueBudget = 64u << 20;

bool IsChildDirectoryTag(std::uint16_t tag) {
  return tag == kTagSubIFDs || tag == kTagExifIFD || tag == kTagGPSIFD || tag == kTagMakerNote ||
         tag == kTagInteropIFD || tag == kTagMakerSubIFD;
}

bool StartsWithArdo(const std::string& make) {
  static constexpr char kName[] = "ARDO";
  if (make.size() < 4) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    char c = make[static_cast<std::size_t>(i)];
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
    if (c != kName[i]) {
      return false;
    }
  }
  return true;
}

// Thrown inside one Load when memory runs out; Load catches it.
struct OutOfMemory {};

class Parser {
 public:
  Parser(XpAbstractFile& stream, XpTiffTagManager& tree, std::int64_t base, std::int64_t length, std::int64_t blockEnd,
         int readMode)
      : m_stream(stream), m_tree(tree), m_base(base), m_length(length), m_blockEnd(blockEnd), m_readMode(readMode) {
    const auto size = static_cast<std::uint64_t>(length - base);
    m_budget = std::clamp<std::uint64_t>(size * 4, XpTiffTagManager::kMinValueBudget, kMaxValueBudget);
  }

  std::uint16_t U16(const std::uint8_t* p) const { return XpBytes::Get16(std::span(p, 2), 0, m_tree.IsBigEndian()); }
  std::uint32_t U32(const std::uint8_t* p) const { return XpBytes::Get32(std::span(p, 4), 0, m_tree.IsBigEndian()); }

  /// False once anything of the data was skipped or cut short.
  [[nodiscard]] bool Complete() const { return m_complete; }
  /// What was found first that kept the data from being read completely.
  [[nodiscard]] const char* Damage() const { return m_damage; }
  /// Records that something was not read (an entry skipped, a directory cut short).
  void MarkIncomplete(const char* what) {
    if (m_complete) {
      m_damage = what;
    }
    m_complete = false;
    if (std::strcmp(what, kDuplicateTag) != 0) {
      m_onlyDuplicates = false;
    }
  }
  /// True when nothing but tags seen twice kept the data from being read completely.
  [[nodiscard]] bool OnlyDuplicates() const { return !m_complete && m_onlyDuplicates; }

  // Reads `count` bytes at absolute position `pos`; false unless all of them
  // lie before `end`.
  bool ReadAt(std::int64_t pos, void* buffer, std::uint64_t count, std::int64_t end) {
    if (pos < 0 || pos > end || count > static_cast<std::uint64_t>(end - pos)) {
      return false;
    }
    if (count == 0) {
      return true;
    }
    return m_stream.Seek(pos, XpAbstractFile::kBegin) == XpStatus::Ok &&
           m_stream.ReadExact(buffer, count) == XpStatus::Ok;
  }

  // The absolute position of a 32-bit offset from the base.
  std::int64_t At(std::uint32_t offset) const { return m_base + static_cast<std::int64_t>(offset); }

  // Parses one directory at `pos`. `ancestors` holds the positions of the
  // directories above it (for a top-level directory: nothing), so that no
  // chain of child pointers can lead back into itself. Answers success and,
  // through `next`, the position of the next top-level directory (0 for none).
  // Directories and values of the Exif block must lie inside the block; only
  // a maker note (`inMakerNote`) may reach beyond it into the rest of the
  // stream, where some cameras keep its data. A malformed entry is skipped and
  // the rest of the directory read; a table cut short fails the directory.
  // Either way the tree is marked as not read completely.
  bool ParseDirectory(XpTiffTagIFD& ifd, std::int64_t pos, int depth, std::vector<std::int64_t>& ancestors,
                      std::int64_t* next, bool inMakerNote = false) {
    *next = 0;
    const std::int64_t end = inMakerNote ? m_length : m_blockEnd;
    if (pos < 0 || pos + 2 >= end || ++m_directories > XpTiffTagManager::kMaxDirectories) {
      MarkIncomplete("a directory lies outside the Exif block or there are too many");
      return false;
    }
    std::uint8_t countBytes[2];
    if (!ReadAt(pos, countBytes, 2, end)) {
      MarkIncomplete("a directory lies outside the Exif block");
      return false;
    }
    const std::uint32_t n = U16(countBytes);
    // The entries and the next offset in one read: as many of them as the block holds.
    const std::uint64_t want = 12ull * n + 4;
    const std::uint64_t have = std::min<std::uint64_t>(want, static_cast<std::uint64_t>(end - (pos + 2)));
    std::vector<std::uint8_t> block;
    try {
      block.resize(static_cast<std::size_t>(have));
    } catch (const std::bad_alloc&) {
      throw OutOfMemory{};
    }
    if (have > 0 && !ReadAt(pos + 2, block.data(), have, end)) {
      MarkIncomplete("a directory lies outside the Exif block");
      return false;
    }

    std::vector<ChildEntry> childEntries;
    m_makerNoteOffset.reset();
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t at = static_cast<std::size_t>(i) * 12;
      if (at + 12 > block.size()) {
        break;
      }
      if (!ParseEntry(ifd, block.data() + at, &childEntries, inMakerNote)) {
        MarkIncomplete("an entry is malformed");
      }
    }
    RecognizeMakerNoteOf(ifd, &childEntries);
    const std::size_t nextAt = static_cast<std::size_t>(n) * 12;
    if (nextAt > block.size()) {
      // A table cut short keeps the entries that were there, but its
      // directory counts as failed and nothing below it is read.
      MarkIncomplete("a directory table is cut short");
      DropUnreadMakerNotes(ifd, childEntries);
      return false;
    }
    // A block that ends right behind the last entry has no next directory.
    if (nextAt + 4 <= block.size()) {
      const std::uint32_t offset = U32(block.data() + nextAt);
      if (offset != 0 && At(offset) != pos) {
        *next = At(offset);
      }
    }

    if (depth >= XpTiffTagManager::kMaxDepth) {
      // Deeper directories are not read; this one is whole, the tree is not.
      if (!childEntries.empty()) {
        MarkIncomplete("directories are nested too deeply");
      }
      DropUnreadMakerNotes(ifd, childEntries);
      return true;
    }
    ancestors.push_back(pos);
    for (const ChildEntry& child : childEntries) {
      ParseChildren(ifd, child, pos, depth, ancestors, inMakerNote);
    }
    ancestors.pop_back();
    return true;
  }

 private:
  // A child-directory entry waiting for its directories to be parsed.
  struct ChildEntry {
    XpTiffTagDataIFD* entry = nullptr;
    MakerHeader header = MakerHeader::None;
  };

  // One 12-byte entry. False when the entry was malformed and is not kept.
  bool ParseEntry(XpTiffTagIFD& ifd, const std::uint8_t* raw, std::vector<ChildEntry>* childEntries, bool inMakerNote) {
    const std::uint16_t tag = U16(raw);
    std::uint16_t type = U16(raw + 2);
    std::uint32_t count = U32(raw + 4);
    const std::uint8_t* valueField = raw + 8;
    const std::uint32_t unit = XpTiffTypeUnitSize(type);
    if (unit == 0) {
      MarkIncomplete("an entry has an unknown type");
      return false;
    }
    // The maker note's own bytes, and everything inside it, may lie beyond
    // the block; every other value must lie inside it.
    const std::int64_t end = inMakerNote || tag == kTagMakerNote ? m_length : m_blockEnd;
    std::uint64_t byteSize = std::uint64_t{count} * unit;
    if (byteSize > UINT32_MAX || static_cast<std::uint64_t>(m_base) + byteSize > static_cast<std::uint64_t>(end)) {
      MarkIncomplete("a value lies outside the Exif block");
      return false;
    }

    MakerHeader header = MakerHeader::None;
    bool rawMakerNote = false;
    // Some writers store a directory pointer as SLONG; its offset is read the
    // same way, so that such a picture keeps its GPS position.
    bool asDirectory = IsChildDirectoryTag(tag) && tag != kTagMakerNote &&
                       (type == kTiffTypeLong || type == kTiffTypeIFD || type == kTiffTypeSLong);
    if (tag == kTagMakerNote) {
      if (count == 0) {
        return true;  // an empty maker note is not kept
      }
      if (m_readMode == XpTiffTagManager::kReadModeMakerNoteIFD && count > 5) {
        asDirectory = true;
      } else if (m_readMode == XpTiffTagManager::kReadModeJpeg) {
        // Read raw for now; whether it is a directory depends on IFD0's Make,
        // which may stand later in the same directory (see RecognizeMakerNoteOf).
        rawMakerNote = true;
      }
      if (asDirectory) {
        type = kTiffTypeLong;
        count = 1;
        byteSize = 4;
      }
    }

    std::unique_ptr<XpTiffTagDataBase> entry;
    XpTiffTagDataIFD* dirEntry = nullptr;
    if (!Spend(byteSize + kEntryCost)) {
      return false;
    }
    if (asDirectory) {
      auto d = XpCreateTiffTagDataIFD(tag, count);
      dirEntry = d.get();
      entry = std::move(d);
    } else {
      entry = XpCreateTiffTagData(tag, type == kTiffTypeIFD ? kTiffTypeLong : type, count);
    }
    if (entry == nullptr) {
      throw OutOfMemory{};
    }
    if (byteSize > 4) {
      const std::int64_t from = At(U32(valueField));
      if (static_cast<std::uint64_t>(from) + byteSize > static_cast<std::uint64_t>(end) ||
          !ReadAt(from, entry->GetData(), byteSize, end)) {
        MarkIncomplete("a value lies outside the Exif block");
        return false;
      }
    } else if (byteSize > 0) {
      std::memcpy(entry->GetData(), valueField, static_cast<std::size_t>(byteSize));
    }
    if (m_tree.IsBigEndian()) {
      XpTiffTagDataBase::SwapUnits(entry->Bytes(), entry->GetSwapUnit());
    }
    // An entry of a tag seen before replaces the earlier one, which is then
    // destroyed: its children must not be parsed through a stale pointer.
    // The earlier one is data that a rewrite could not keep.
    std::erase_if(*childEntries, [tag](const ChildEntry& pending) { return pending.entry->GetTag() == tag; });
    if (ifd.Has(tag)) {
      MarkIncomplete(kDuplicateTag);
    }
    if (ifd.AddEntry(std::move(entry)) == nullptr) {
      throw OutOfMemory{};
    }
    if (rawMakerNote) {
      m_makerNoteOffset = U32(valueField);
    }
    if (dirEntry != nullptr) {
      try {
        childEntries->push_back({dirEntry, header});
      } catch (const std::bad_alloc&) {
        throw OutOfMemory{};
      }
    }
    return true;
  }

  // Mode 0: once a directory's entries are read (so that the order of its
  // entries does not matter), its raw maker note becomes a directory entry
  // when it is one of the suite's own.
  void RecognizeMakerNoteOf(XpTiffTagIFD& ifd, std::vector<ChildEntry>* childEntries) {
    if (!m_makerNoteOffset) {
      return;
    }
    const std::uint32_t offset = *m_makerNoteOffset;
    m_makerNoteOffset.reset();
    const XpTiffTagDataBase* raw = ifd.Find(kTagMakerNote);
    if (raw == nullptr || raw->IsIFD()) {
      return;
    }
    const MakerHeader header = RecognizeMakerNote(offset);
    if (header == MakerHeader::None) {
      return;
    }
    auto entry = XpCreateTiffTagDataIFD(kTagMakerNote, 1);
    if (entry == nullptr) {
      throw OutOfMemory{};
    }
    std::memcpy(entry->GetData(), &offset, 4);
    XpTiffTagDataIFD* dirEntry = entry.get();
    if (ifd.AddEntry(std::move(entry)) == nullptr) {
      throw OutOfMemory{};
    }
    try {
      childEntries->push_back({dirEntry, header});
    } catch (const std::bad_alloc&) {
      throw OutOfMemory{};
    }
  }

  // Mode 0: a maker note of the suite's own cameras is parsed as a directory.
  MakerHeader RecognizeMakerNote(std::uint32_t offset) {
    const XpTiffTagIFD* ifd0 = m_tree.GetIFD(0);
    if (ifd0 == nullptr || !StartsWithArdo(ifd0->FindAscii(kTagMake))) {
      return MakerHeader::None;
    }
    std::uint8_t sig[12];
    if (!ReadAt(At(offset), sig, 12, m_length)) {
      return MakerHeader::None;
    }
    if (std::memcmp(sig, kSigDsc, 12) == 0) {
      return MakerHeader::Dsc;
    }
    if (std::memcmp(sig, kSigDscV2, 12) == 0) {
      return MakerHeader::None;
    }
    if (std::memcmp(sig, kSigShort, 8) == 0) {
      return MakerHeader::Short;
    }
    if (std::memcmp(sig, kSigPi, 12) == 0) {
      return MakerHeader::Pi;
    }
    return MakerHeader::None;
  }

  void ParseChildren(XpTiffTagIFD& ifd, const ChildEntry& pending, std::int64_t parentPos, int depth,
                     std::vector<std::int64_t>& ancestors, bool inMakerNote) {
    XpTiffTagDataIFD& entry = *pending.entry;
    const MakerHeader header = pending.header;
    const bool makerNote = entry.GetTag() == kTagMakerNote;
    for (std::uint32_t k = 0; k < entry.GetCount(); ++k) {
      const std::uint32_t offset = entry.GetOffset(k);
      if (offset == 0) {
        continue;
      }
      std::int64_t childPos = At(offset);
      if (childPos == parentPos) {
        MarkIncomplete("a directory points back at its parent");
        break;
      }
      auto child = std::make_unique<XpTiffTagIFD>();
      if (makerNote) {
        child->SetMakerNote(true);
        if (m_readMode == XpTiffTagManager::kReadModeJpeg) {
          if (header == MakerHeader::Short) {
            child->SetShortHeader(true);
            childPos += 8;
          } else {
            child->SetPiHeader(header == MakerHeader::Pi);
            childPos += 12;
          }
        }
      }
      // A pointer back to any directory above would make the tree endless.
      if (std::find(ancestors.begin(), ancestors.end(), childPos) != ancestors.end()) {
        MarkIncomplete("directories point at each other in a loop");
        continue;
      }
      std::int64_t ignored = 0;
      const bool ok = ParseDirectory(*child, childPos, depth + 1, ancestors, &ignored, inMakerNote || makerNote);
      if ((ok || makerNote) && entry.AddChild(std::move(child)) == nullptr) {
        throw OutOfMemory{};
      }
    }
    if (makerNote && entry.ChildCount() == 0) {
      DropUnreadMakerNote(ifd);
    }
  }

  // Maker notes among `pending` whose directories are not going to be read.
  void DropUnreadMakerNotes(XpTiffTagIFD& ifd, const std::vector<ChildEntry>& pending) {
    for (const ChildEntry& child : pending) {
      if (child.entry->GetTag() == kTagMakerNote) {
        DropUnreadMakerNote(ifd);
        return;  // one entry per tag
      }
    }
  }

  // A maker note taken for a directory that has none (its offset points back
  // at its parent, into a loop, or its directory is never reached) is not
  // kept: stored as a pointer without a directory it would read back as an
  // empty maker note, which is dropped, so the tree would change between two
  // stores. The tree is marked as not read completely, so nothing is written
  // from it.
  void DropUnreadMakerNote(XpTiffTagIFD& ifd) {
    MarkIncomplete("a maker note cannot be read");
    ifd.RemoveTag(kTagMakerNote);
  }

  bool Spend(std::uint64_t cost) {
    if (cost > m_budget) {
      MarkIncomplete("the data is too large");
      return false;
    }
    m_budget -= cost;
    return true;
  }

  XpAbstractFile& m_stream;
  XpTiffTagManager& m_tree;
  std::int64_t m_base;
  std::int64_t m_length;
  std::int64_t m_blockEnd;
  int m_readMode;
  std::uint64_t m_budget = 0;
  std::size_t m_directories = 0;
  bool m_complete = true;
  bool m_onlyDuplicates = true;
  const char* m_damage = "";
  std::optional<std::uint32_t> m_makerNoteOffset;  // of the raw maker note of the directory being read
};

}  // namespace

XpTiffTagManager::~XpTiffTagManager() = default;

bool XpTiffTagManager::Create() {
  Clear();
  m_root = XpCreateTiffTagDataIFD(0, 0);
  return m_root != nullptr;
}

void XpTiffTagManager::Clear() { m_root.reset(); }

bool XpTiffTagManager::HasIFD() const { return m_root != nullptr && m_root->ChildCount() > 0; }

bool XpTiffTagManager::Load(XpAbstractFile& stream, int readMode) { return LoadBlock(stream, readMode, -1); }

bool XpTiffTagManager::LoadBlock(XpAbstractFile& stream, int readMode, std::int64_t blockSize) {
  return LoadBlock(stream, readMode, blockSize, 42);
}

bool XpTiffTagManager::LoadBlock(XpAbstractFile& stream, int readMode, std::int64_t blockSize, std::uint16_t magic) {
  Clear();
  m_loadStatus = XpStatus::JpegDecodeFailed;
  m_complete = false;
  m_onlyDuplicateTags = false;
  const std::int64_t base = stream.GetPosition();
  const std::int64_t length = stream.GetLength();
  if (base < 0 || length < 0 || length - base < 8) {
    return false;
  }
  const std::int64_t blockEnd = blockSize < 0 || blockSize > length - base ? length : base + blockSize;
  if (blockEnd - base < 8) {
    return false;
  }
  std::uint8_t header[8];
  if (stream.ReadExact(header, 8) != XpStatus::Ok) {
    return false;
  }
  if (header[0] == 'I' && header[1] == 'I') {
    m_bigEndian = false;
  } else if (header[0] == 'M' && header[1] == 'M') {
    m_bigEndian = true;
  } else {
    return false;
  }
  try {
    Parser parser(stream, *this, base, length, blockEnd, readMode);
    if (parser.U16(header + 2) != magic) {
      return false;
    }
    std::int64_t pos = base + parser.U32(header + 4);
    if (pos >= blockEnd) {
      return false;
    }
    if (!Create()) {
      throw OutOfMemory{};
    }
    std::vector<std::int64_t> chain;
    std::vector<std::int64_t> ancestors;
    while (pos != 0 && std::find(chain.begin(), chain.end(), pos) == chain.end()) {
      chain.push_back(pos);
      XpTiffTagIFD* ifd = AddIFD();
      if (ifd == nullptr) {
        throw OutOfMemory{};
      }
      std::int64_t next = 0;
      if (!parser.ParseDirectory(*ifd, pos, 0, ancestors, &next)) {
        break;
      }
      pos = next;
    }
    m_complete = parser.Complete();
    m_damage = parser.Damage();
    m_onlyDuplicateTags = parser.OnlyDuplicates();
  } catch (const OutOfMemory&) {
    Clear();
    m_loadStatus = XpStatus::OutOfMemory;
    return false;
  } catch (const std::bad_alloc&) {
    Clear();
    m_loadStatus = XpStatus::OutOfMemory;
    return false;
  }
  m_loadStatus = XpStatus::Ok;
  return true;
}

std::unique_ptr<XpTiffTagManager> XpTiffTagManager::Clone() const {
  try {
    auto copy = std::make_unique<XpTiffTagManager>();
    copy->m_bigEndian = m_bigEndian;
    copy->m_loadStatus = m_loadStatus;
    copy->m_complete = m_complete;
    copy->m_damage = m_damage;
    copy->m_onlyDuplicateTags = m_onlyDuplicateTags;
    if (m_root != nullptr) {
      auto root = m_root->Clone();
      if (root == nullptr) {
        return nullptr;
      }
      copy->m_root.reset(static_cast<XpTiffTagDataIFD*>(root.release()));
    }
    return copy;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::size_t XpTiffTagManager::IFDCount() const { return m_root != nullptr ? m_root->ChildCount() : 0; }

XpTiffTagIFD* XpTiffTagManager::GetIFD(std::size_t index) const {
  return m_root != nullptr ? m_root->GetChild(index) : nullptr;
}

XpTiffTagIFD* XpTiffTagManager::AddIFD() {
  if (m_root == nullptr && !Create()) {
    return nullptr;
  }
  try {
    return m_root->AddChild(std::make_unique<XpTiffTagIFD>());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool XpTiffTagManager::RemoveIFD(std::size_t index) { return m_root != nullptr && m_root->RemoveChild(index); }

namespace {

XpTiffTagIFD* FirstChildOf(const XpTiffTagIFD* ifd, std::uint16_t tag) {
  if (ifd == nullptr) {
    return nullptr;
  }
  const XpTiffTagDataBase* entry = ifd->Find(tag);
  if (entry == nullptr || !entry->IsIFD()) {
    return nullptr;
  }
  return static_cast<const XpTiffTagDataIFD*>(entry)->GetChild(0);
}

}  // namespace

XpTiffTagIFD* XpTiffTagManager::GetExifIFD() const { return FirstChildOf(GetIFD(0), kTagExifIFD); }

XpTiffTagIFD* XpTiffTagManager::GetGPSIFD() const { return FirstChildOf(GetIFD(0), kTagGPSIFD); }

XpTiffTagIFD* XpTiffTagManager::GetMakerNoteIFD() const { return FirstChildOf(GetExifIFD(), kTagMakerNote); }

XpTiffTagIFD* XpTiffTagManager::GetMakerSubIFD() const { return FirstChildOf(GetMakerNoteIFD(), kTagMakerSubIFD); }

bool XpTiffTagManager::IsUncalibrated() const {
  const XpTiffTagIFD* exif = GetExifIFD();
  return exif != nullptr && exif->FindShort(kTagColorSpace) == 0xFFFF;
}

std::string XpTiffTagManager::Dump() const {
  std::string out = m_bigEndian ? "byte order: MM\n" : "byte order: II\n";
  for (std::size_t i = 0; i < IFDCount(); ++i) {
    out += "IFD" + std::to_string(i) + ":\n";
    out += GetIFD(i)->Dump(1);
  }
  return out;
}
