#include "xp/tiff/XpTiffTagDataBase.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "xp/tiff/XpTiffTagData.h"

namespace {

// A dump line lists at most this many values; a long maker note or thumbnail
// strip would otherwise fill the screen with bytes.
constexpr std::uint32_t kDumpValues = 64;

template <class Type>
std::unique_ptr<XpTiffTagDataBase> Make(std::uint16_t tag, std::uint32_t count) {
  return std::make_unique<XpTiffTagData<Type>>(tag, count);
}

}  // namespace

XpTiffTagDataBase::XpTiffTagDataBase(std::uint16_t tag, std::uint32_t count, std::uint32_t unitSize)
    : m_tag(tag), m_count(count), m_data(static_cast<std::size_t>(count) * unitSize) {}

XpTiffTagDataBase::XpTiffTagDataBase(std::uint16_t tag, std::uint32_t count, std::vector<std::uint8_t> bytes)
    : m_tag(tag), m_count(count), m_data(std::move(bytes)) {}

XpTiffTagDataBase::~XpTiffTagDataBase() = default;

std::string XpTiffTagDataBase::Dump() const {
  char head[64];
  std::snprintf(head, sizeof head, "%5d(0x%04x) x %3lu (%d) = ", int{m_tag}, unsigned{m_tag},
                static_cast<unsigned long>(m_count), int{GetType()});
  std::string line = head;
  if (m_count == 0) {
    return line;
  }
  line += ToText(0);
  if (GetType() == kTiffTypeAscii) {
    return line;  // the first value of a text is the whole text
  }
  const std::uint32_t shown = std::min(m_count, kDumpValues);
  for (std::uint32_t i = 1; i < shown; ++i) {
    line += ", ";
    line += ToText(i);
  }
  if (shown < m_count) {
    char more[48];
    std::snprintf(more, sizeof more, ", ... (%lu more)", static_cast<unsigned long>(m_count - shown));
    line += more;
  }
  return line;
}

void XpTiffTagDataBase::SwapUnits(std::span<std::uint8_t> bytes, std::uint32_t swapUnit) {
  if (swapUnit < 2) {
    return;
  }
  for (std::size_t i = 0; i + swapUnit <= bytes.size(); i += swapUnit) {
    std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                 bytes.begin() + static_cast<std::ptrdiff_t>(i + swapUnit));
  }
}

std::unique_ptr<XpTiffTagDataBase> XpCreateTiffTagData(std::uint16_t tag, std::uint16_t type, std::uint32_t count) {
  const std::uint32_t unit = XpTiffTypeUnitSize(type);
  std::uint32_t bytes = 0;
  if (unit == 0 || type == kTiffTypeIFD || __builtin_mul_overflow(count, unit, &bytes)) {
    return nullptr;
  }
  try {
    switch (type) {
      case kTiffTypeByte:
        return Make<XpTiffTagTypeByte>(tag, count);
      case kTiffTypeAscii:
        return Make<XpTiffTagTypeAscii>(tag, count);
      case kTiffTypeShort:
        return Make<XpTiffTagTypeShort>(tag, count);
      case kTiffTypeLong:
        return Make<XpTiffTagTypeLong>(tag, count);
      case kTiffTypeRational:
        return Make<XpTiffTagTypeRational>(tag, count);
      case kTiffTypeSByte:
        return Make<XpTiffTagTypeSByte>(tag, count);
      case kTiffTypeUndefined:
        return Make<XpTiffTagTypeUndefined>(tag, count);
      case kTiffTypeSShort:
        return Make<XpTiffTagTypeSShort>(tag, count);
      case kTiffTypeSLong:
        return Make<XpTiffTagTypeSLong>(tag, count);
      case kTiffTypeSRational:
        return Make<XpTiffTagTypeSRational>(tag, count);
      case kTiffTypeFloat:
        return Make<XpTiffTagTypeFloat>(tag, count);
      case kTiffTypeDouble:
        return Make<XpTiffTagTypeDouble>(tag, count);
      default:
        return nullptr;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<XpTiffTagDataBase> XpCreateTiffTagData(std::uint16_t tag, std::uint16_t type,
                                                       std::span<const std::uint8_t> hostBytes) {
  const std::uint32_t unit = XpTiffTypeUnitSize(type);
  if (unit == 0 || hostBytes.size() % unit != 0 || hostBytes.size() / unit > UINT32_MAX) {
    return nullptr;
  }
  auto entry = XpCreateTiffTagData(tag, type, static_cast<std::uint32_t>(hostBytes.size() / unit));
  if (entry != nullptr && !hostBytes.empty()) {
    std::copy(hostBytes.begin(), hostBytes.end(), entry->GetData());
  }
  return entry;
}
