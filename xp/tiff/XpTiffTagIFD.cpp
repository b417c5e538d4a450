#include "xp/tiff/XpTiffTagIFD.h"

#include <cstring>
#include <new>

#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

// The value at `index` of an entry of exactly `type`, or 0.
template <class T>
T ValueOf(const XpTiffTagDataBase* entry, std::uint16_t type, std::uint32_t index) {
  if (entry == nullptr || entry->GetType() != type || index >= entry->GetCount()) {
    return T{};
  }
  const std::size_t at = static_cast<std::size_t>(index) * sizeof(T);
  if (at + sizeof(T) > entry->GetByteSize()) {
    return T{};
  }
  T v;
  std::memcpy(&v, entry->GetData() + at, sizeof v);
  return v;
}

template <class T>
double RatioOf(const XpTiffTagDataBase* entry, std::uint16_t type, std::uint32_t index) {
  if (entry == nullptr || entry->GetType() != type || index >= entry->GetCount()) {
    return 0;
  }
  const std::size_t at = static_cast<std::size_t>(index) * 8;
  if (at + 8 > entry->GetByteSize()) {
    return 0;
  }
  T num;
  T den;
  std::memcpy(&num, entry->GetData() + at, 4);
  std::memcpy(&den, entry->GetData() + at + 4, 4);
  if (den == 0) {
    return 0;
  }
  return static_cast<double>(num) / static_cast<double>(den);
}

}  // namespace

XpTiffTagIFD::~XpTiffTagIFD() = default;

std::unique_ptr<XpTiffTagIFD> XpTiffTagIFD::Clone() const {
  try {
    auto copy = std::make_unique<XpTiffTagIFD>();
    copy->m_entries.reserve(m_entries.size());
    for (const auto& entry : m_entries) {
      auto e = entry->Clone();
      if (e == nullptr) {
        return nullptr;
      }
      copy->m_entries.push_back(std::move(e));
    }
    copy->m_isMakerNote = m_isMakerNote;
    copy->m_hasShortHeader = m_hasShortHeader;
    copy->m_hasPiHeader = m_hasPiHeader;
    copy->m_reserved = m_reserved;
    return copy;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

XpTiffTagDataBase* XpTiffTagIFD::GetEntry(std::size_t index) const {
  return index < m_entries.size() ? m_entries[index].get() : nullptr;
}

XpTiffTagDataBase* XpTiffTagIFD::Find(std::uint16_t tag, bool deep) const {
  for (const auto& entry : m_entries) {
    if (entry->GetTag() == tag) {
      return entry.get();
    }
    if (!deep || !entry->IsIFD() || entry->GetTag() == kTagMakerNote || entry->GetTag() == kTagMakerSubIFD) {
      continue;
    }
    for (const auto& child : static_cast<const XpTiffTagDataIFD&>(*entry).Children()) {
      if (auto* found = child->Find(tag, true); found != nullptr) {
        return found;
      }
    }
  }
  return nullptr;
}

XpTiffTagDataBase* XpTiffTagIFD::AddEntry(std::unique_ptr<XpTiffTagDataBase> entry) {
  if (entry == nullptr) {
    return nullptr;
  }
  for (auto& existing : m_entries) {
    if (existing->GetTag() == entry->GetTag()) {
      existing = std::move(entry);
      return existing.get();
    }
  }
  try {
    m_entries.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return m_entries.back().get();
}

bool XpTiffTagIFD::RemoveEntry(std::size_t index) {
  if (index >= m_entries.size()) {
    return false;
  }
  m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

std::size_t XpTiffTagIFD::RemoveTag(std::uint16_t tag) {
  return std::erase_if(m_entries, [tag](const auto& e) { return e->GetTag() == tag; });
}

std::uint8_t XpTiffTagIFD::FindByte(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return ValueOf<std::uint8_t>(Find(tag, deep), kTiffTypeByte, index);
}

std::uint8_t XpTiffTagIFD::FindUndefined(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return ValueOf<std::uint8_t>(Find(tag, deep), kTiffTypeUndefined, index);
}

std::string XpTiffTagIFD::FindAscii(std::uint16_t tag, bool deep, std::uint32_t index) const {
  const XpTiffTagDataBase* entry = Find(tag, deep);
  if (entry == nullptr || entry->GetType() != kTiffTypeAscii || index >= entry->GetCount()) {
    return {};
  }
  return entry->ToText(index);
}

std::uint16_t XpTiffTagIFD::FindShort(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return ValueOf<std::uint16_t>(Find(tag, deep), kTiffTypeShort, index);
}

std::uint32_t XpTiffTagIFD::FindLong(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return ValueOf<std::uint32_t>(Find(tag, deep), kTiffTypeLong, index);
}

double XpTiffTagIFD::FindRational(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return RatioOf<std::uint32_t>(Find(tag, deep), kTiffTypeRational, index);
}

std::int32_t XpTiffTagIFD::FindSLong(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return ValueOf<std::int32_t>(Find(tag, deep), kTiffTypeSLong, index);
}

double XpTiffTagIFD::FindSRational(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return RatioOf<std::int32_t>(Find(tag, deep), kTiffTypeSRational, index);
}

float XpTiffTagIFD::FindFloat(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return ValueOf<float>(Find(tag, deep), kTiffTypeFloat, index);
}

double XpTiffTagIFD::FindDouble(std::uint16_t tag, bool deep, std::uint32_t index) const {
  return ValueOf<double>(Find(tag, deep), kTiffTypeDouble, index);
}

std::string XpTiffTagIFD::Dump(int indent) const {
  const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
  std::string out;
  if (IsMakerNote()) {
    out += pad;
    out += HasShortHeader() ? "(maker note, short header)\n"
                            : (HasPiHeader() ? "(maker note, PI header)\n" : "(maker note)\n");
  }
  for (const auto& entry : m_entries) {
    out += pad;
    out += entry->Dump();
    out += '\n';
    if (!entry->IsIFD()) {
      continue;
    }
    for (const auto& child : static_cast<const XpTiffTagDataIFD&>(*entry).Children()) {
      out += child->Dump(indent + 1);
    }
  }
  return out;
}
