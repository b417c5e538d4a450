#include "xp/tiff/XpGPSRecord.h"

#include <algorithm>
#include <cstring>

#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagTypes.h"

std::string XpGPSDateStamp::Text() const {
  const auto* end = std::find(text.begin(), text.end(), '\0');
  return std::string(text.begin(), end);
}

void XpGPSRecord::Reset() {
  for (std::uint16_t tag = 0; tag < kTagCount; ++tag) {
    Element(tag)->Reset();
  }
}

const XpGPSElement* XpGPSRecord::Element(std::uint16_t tag) const {
  return const_cast<XpGPSRecord*>(this)->Element(tag);
}

XpGPSElement* XpGPSRecord::Element(std::uint16_t tag) {
  return tag < kTagCount ? &kXpGPSTagTable[tag].element(*this) : nullptr;
}

namespace {

// The first entry with `tag` (the directory's own list; GPS tags are never
// looked for below it).
const XpTiffTagDataBase* First(const XpTiffTagIFD& ifd, std::uint16_t tag) { return ifd.Find(tag, false); }

bool IsRationalType(const XpTiffTagDataBase& e) {
  return e.GetType() == kTiffTypeRational || e.GetType() == kTiffTypeSRational;
}

std::uint32_t WordAt(const XpTiffTagDataBase& e, std::size_t byteOffset) {
  std::uint32_t v = 0;
  std::memcpy(&v, e.GetData() + byteOffset, 4);
  return v;
}

// The text of an entry: its bytes up to the first NUL, whatever its type.
std::string TextOf(const XpTiffTagDataBase& e) {
  const auto bytes = e.Bytes();
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return std::string(bytes.begin(), end);
}

// The first value of an integer entry of any width; 0 for other types.
std::uint32_t FirstNumber(const XpTiffTagDataBase& e) {
  switch (e.GetType()) {
    case kTiffTypeByte:
    case kTiffTypeUndefined:
    case kTiffTypeSByte:
      return e.GetByteSize() >= 1 ? e.GetData()[0] : 0;
    case kTiffTypeShort:
    case kTiffTypeSShort: {
      std::uint16_t v = 0;
      if (e.GetByteSize() >= 2) {
        std::memcpy(&v, e.GetData(), 2);
      }
      return v;
    }
    case kTiffTypeLong:
    case kTiffTypeSLong:
      return e.GetByteSize() >= 4 ? WordAt(e, 0) : 0;
    default:
      return 0;
  }
}

// Fills `element` (of kind `kind`) from the directory entry `e`. An entry
// whose type or count does not fit the kind leaves the element invalid.
void ReadElement(const XpTiffTagDataBase& e, XpGPSKind kind, XpGPSElement& element) {
  switch (kind) {
    case XpGPSKind::Version: {
      if (e.GetByteSize() < 4) {
        return;
      }
      std::memcpy(static_cast<XpGPSVer&>(element).bytes.data(), e.GetData(), 4);
      break;
    }
    case XpGPSKind::Ref: {
      if (e.GetCount() < 1 || e.GetByteSize() < 1) {
        return;
      }
      static_cast<XpGPSRef&>(element).letter = static_cast<char16_t>(e.GetData()[0]);
      break;
    }
    case XpGPSKind::AltitudeRef: {
      // Written as a BYTE by the standard, but some writers use a SHORT or a
      // LONG: the value counts, whatever its width ("1" is below sea level).
      auto& ref = static_cast<XpGPSRef&>(element);
      ref.letter = 0;
      if (e.GetCount() >= 1) {
        ref.letter = static_cast<char16_t>(std::min<std::uint32_t>(FirstNumber(e), 0xFF));
      }
      break;
    }
    // Rationals are taken only from RATIONAL (or SRATIONAL) entries: reading
    // eight bytes per value from an entry of another type would run past its
    // value buffer.
    case XpGPSKind::Rational: {
      if (e.GetCount() < 1 || !IsRationalType(e)) {
        return;
      }
      auto& r = static_cast<XpGPSRational&>(element);
      r.numerator = WordAt(e, 0);
      r.denominator = WordAt(e, 4);
      break;
    }
    case XpGPSKind::Rational3: {
      if (e.GetCount() < 3 || !IsRationalType(e)) {
        return;
      }
      auto& r = static_cast<XpGPSRational3&>(element);
      for (std::size_t i = 0; i < 3; ++i) {
        r.numerators[i] = WordAt(e, i * 8);
        r.denominators[i] = WordAt(e, i * 8 + 4);
      }
      break;
    }
    case XpGPSKind::Text:
      static_cast<XpGPSAnyString&>(element).text = TextOf(e);
      break;
    case XpGPSKind::Undefined:
      static_cast<XpGPSUndef&>(element).bytes.assign(e.Bytes().begin(), e.Bytes().end());
      break;
    case XpGPSKind::Date: {
      auto& date = static_cast<XpGPSDateStamp&>(element);
      const std::string text = TextOf(e);
      const std::size_t n = std::min(text.size(), XpGPSDateStamp::kMaxLength);
      date.text.fill('\0');
      std::memcpy(date.text.data(), text.data(), n);
      break;
    }
    case XpGPSKind::Short: {
      if (e.GetCount() < 1 || (e.GetType() != kTiffTypeShort && e.GetType() != kTiffTypeSShort)) {
        return;
      }
      std::memcpy(&static_cast<XpGPSShort&>(element).value, e.GetData(), 2);
      break;
    }
  }
  element.valid = 1;
}

}  // namespace

void XpTiffTagIFD::GetGPSRecord(XpGPSRecord& record) const {
  record.Reset();
  for (const XpGPSTagInfo& info : kXpGPSTagTable) {
    if (const auto* e = First(*this, info.tag); e != nullptr) {
      ReadElement(*e, info.kind, info.element(record));
    }
  }
}

namespace {

[[nodiscard]] XpStatus Put(XpTiffTagIFD& ifd, std::uint16_t tag, std::uint16_t type,
                           std::span<const std::uint8_t> hostBytes) {
  auto entry = XpCreateTiffTagData(tag, type, hostBytes);
  if (entry == nullptr || ifd.AddEntry(std::move(entry)) == nullptr) {
    return XpStatus::OutOfMemory;
  }
  return XpStatus::Ok;
}

[[nodiscard]] XpStatus PutText(XpTiffTagIFD& ifd, std::uint16_t tag, const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return Put(ifd, tag, kTiffTypeAscii, bytes);
}

// A reference letter goes into the file as one ASCII byte; a letter outside
// ASCII (only possible from a hand-made coordinate text) becomes "?".
std::uint8_t LetterByte(char16_t letter) { return letter < 0x80 ? static_cast<std::uint8_t>(letter) : '?'; }

// Adds the entry of `element` (valid, of kind `kind`) as tag `tag`.
[[nodiscard]] XpStatus WriteElement(XpTiffTagIFD& ifd, std::uint16_t tag, XpGPSKind kind, const XpGPSElement& element) {
  switch (kind) {
    case XpGPSKind::Version:
      return Put(ifd, tag, kTiffTypeByte, static_cast<const XpGPSVer&>(element).bytes);
    case XpGPSKind::Ref: {
      const std::uint8_t bytes[2] = {LetterByte(static_cast<const XpGPSRef&>(element).letter), 0};
      return Put(ifd, tag, kTiffTypeAscii, bytes);
    }
    case XpGPSKind::AltitudeRef: {
      const auto b = static_cast<std::uint8_t>(static_cast<const XpGPSRef&>(element).letter);
      return Put(ifd, tag, kTiffTypeByte, {&b, 1});
    }
    case XpGPSKind::Rational: {
      const auto& r = static_cast<const XpGPSRational&>(element);
      std::uint8_t bytes[8];
      std::memcpy(bytes, &r.numerator, 4);
      std::memcpy(bytes + 4, &r.denominator, 4);
      return Put(ifd, tag, kTiffTypeRational, bytes);
    }
    case XpGPSKind::Rational3: {
      const auto& r = static_cast<const XpGPSRational3&>(element);
      std::uint8_t bytes[24];
      for (std::size_t i = 0; i < 3; ++i) {
        std::memcpy(bytes + i * 8, &r.numerators[i], 4);
        std::memcpy(bytes + i * 8 + 4, &r.denominators[i], 4);
      }
      return Put(ifd, tag, kTiffTypeRational, bytes);
    }
    case XpGPSKind::Text:
      return PutText(ifd, tag, static_cast<const XpGPSAnyString&>(element).text);
    case XpGPSKind::Undefined:
      return Put(ifd, tag, kTiffTypeUndefined, static_cast<const XpGPSUndef&>(element).bytes);
    case XpGPSKind::Date:
      return PutText(ifd, tag, static_cast<const XpGPSDateStamp&>(element).Text());
    case XpGPSKind::Short: {
      std::uint8_t bytes[2];
      std::memcpy(bytes, &static_cast<const XpGPSShort&>(element).value, 2);
      return Put(ifd, tag, kTiffTypeShort, bytes);
    }
  }
  return XpStatus::InvalidArgument;
}

}  // namespace

XpStatus XpTiffTagIFD::SetGPSRecord(const XpGPSRecord& record) {
  for (const XpGPSTagInfo& info : kXpGPSTagTable) {
    const XpGPSElement& element = *record.Element(info.tag);
    if (!element.IsValid()) {
      continue;
    }
    if (auto st = WriteElement(*this, info.tag, info.kind, element); st != XpStatus::Ok) {
      return st;
    }
  }
  return XpStatus::Ok;
}
