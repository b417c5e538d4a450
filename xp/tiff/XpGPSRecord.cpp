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
  switch (tag) {
    case 0:
      return &version;
    case 1:
      return &latitudeRef;
    case 2:
      return &latitude;
    case 3:
      return &longitudeRef;
    case 4:
      return &longitude;
    case 5:
      return &altitudeRef;
    case 6:
      return &altitude;
    case 7:
      return &timeStamp;
    case 8:
      return &satellites;
    case 9:
      return &status;
    case 10:
      return &measureMode;
    case 11:
      return &dop;
    case 12:
      return &speedRef;
    case 13:
      return &speed;
    case 14:
      return &trackRef;
    case 15:
      return &track;
    case 16:
      return &imgDirectionRef;
    case 17:
      return &imgDirection;
    case 18:
      return &mapDatum;
    case 19:
      return &destLatitudeRef;
    case 20:
      return &destLatitude;
    case 21:
      return &destLongitudeRef;
    case 22:
      return &destLongitude;
    case 23:
      return &destBearingRef;
    case 24:
      return &destBearing;
    case 25:
      return &destDistanceRef;
    case 26:
      return &destDistance;
    case 27:
      return &processingMethod;
    case 28:
      return &areaInformation;
    case 29:
      return &dateStamp;
    case 30:
      return &differential;
    default:
      return nullptr;
  }
}

namespace {

constexpr std::uint16_t kRefTags[] = {1, 3, 9, 10, 12, 14, 16, 19, 21, 23, 25};
constexpr std::uint16_t kRationalTags[] = {6, 13, 15, 11, 17, 24, 26};
constexpr std::uint16_t kRational3Tags[] = {2, 4, 7, 20, 22};

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

}  // namespace

void XpTiffTagIFD::GetGPSRecord(XpGPSRecord& record) const {
  record.Reset();
  if (const auto* e = First(*this, 0); e != nullptr && e->GetByteSize() >= 4) {
    std::memcpy(record.version.bytes.data(), e->GetData(), 4);
    record.version.valid = 1;
  }
  for (std::uint16_t tag : kRefTags) {
    const auto* e = First(*this, tag);
    if (e == nullptr || e->GetCount() < 1 || e->GetByteSize() < 1) {
      continue;
    }
    auto& ref = static_cast<XpGPSRef&>(*record.Element(tag));
    ref.letter = static_cast<char16_t>(e->GetData()[0]);
    ref.valid = 1;
  }
  if (const auto* e = First(*this, 5); e != nullptr) {
    // Written as a BYTE by the standard, but some writers use a SHORT or a
    // LONG: the value counts, whatever its width ("1" is below sea level).
    record.altitudeRef.letter = 0;
    if (e->GetCount() >= 1) {
      record.altitudeRef.letter = static_cast<char16_t>(std::min<std::uint32_t>(FirstNumber(*e), 0xFF));
    }
    record.altitudeRef.valid = 1;
  }
  // Rationals are taken only from RATIONAL (or SRATIONAL) entries: reading
  // eight bytes per value from an entry of another type would run past its
  // value buffer.
  for (std::uint16_t tag : kRationalTags) {
    const auto* e = First(*this, tag);
    if (e == nullptr || e->GetCount() < 1 || !IsRationalType(*e)) {
      continue;
    }
    auto& r = static_cast<XpGPSRational&>(*record.Element(tag));
    r.numerator = WordAt(*e, 0);
    r.denominator = WordAt(*e, 4);
    r.valid = 1;
  }
  for (std::uint16_t tag : kRational3Tags) {
    const auto* e = First(*this, tag);
    if (e == nullptr || e->GetCount() < 3 || !IsRationalType(*e)) {
      continue;
    }
    auto& r = static_cast<XpGPSRational3&>(*record.Element(tag));
    for (std::size_t i = 0; i < 3; ++i) {
      r.numerators[i] = WordAt(*e, i * 8);
      r.denominators[i] = WordAt(*e, i * 8 + 4);
    }
    r.valid = 1;
  }
  for (std::uint16_t tag : {std::uint16_t{8}, std::uint16_t{18}}) {
    if (const auto* e = First(*this, tag); e != nullptr) {
      auto& s = static_cast<XpGPSAnyString&>(*record.Element(tag));
      s.text = TextOf(*e);
      s.valid = 1;
    }
  }
  for (std::uint16_t tag : {std::uint16_t{27}, std::uint16_t{28}}) {
    if (const auto* e = First(*this, tag); e != nullptr) {
      auto& u = static_cast<XpGPSUndef&>(*record.Element(tag));
      u.bytes.assign(e->Bytes().begin(), e->Bytes().end());
      u.valid = 1;
    }
  }
  if (const auto* e = First(*this, 29); e != nullptr) {
    const std::string text = TextOf(*e);
    const std::size_t n = std::min(text.size(), XpGPSDateStamp::kMaxLength);
    record.dateStamp.text.fill('\0');
    std::memcpy(record.dateStamp.text.data(), text.data(), n);
    record.dateStamp.valid = 1;
  }
  if (const auto* e = First(*this, 30);
      e != nullptr && e->GetCount() >= 1 && (e->GetType() == kTiffTypeShort || e->GetType() == kTiffTypeSShort)) {
    std::memcpy(&record.differential.value, e->GetData(), 2);
    record.differential.valid = 1;
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

}  // namespace

XpStatus XpTiffTagIFD::SetGPSRecord(const XpGPSRecord& record) {
  if (record.version.IsValid()) {
    if (auto st = Put(*this, 0, kTiffTypeByte, record.version.bytes); st != XpStatus::Ok) {
      return st;
    }
  }
  if (record.altitudeRef.IsValid()) {
    const std::uint8_t b = static_cast<std::uint8_t>(record.altitudeRef.letter);
    if (auto st = Put(*this, 5, kTiffTypeByte, {&b, 1}); st != XpStatus::Ok) {
      return st;
    }
  }
  for (std::uint16_t tag : kRefTags) {
    const auto& ref = static_cast<const XpGPSRef&>(*record.Element(tag));
    if (!ref.IsValid()) {
      continue;
    }
    const std::uint8_t bytes[2] = {LetterByte(ref.letter), 0};
    if (auto st = Put(*this, tag, kTiffTypeAscii, bytes); st != XpStatus::Ok) {
      return st;
    }
  }
  for (std::uint16_t tag : kRationalTags) {
    const auto& r = static_cast<const XpGPSRational&>(*record.Element(tag));
    if (!r.IsValid()) {
      continue;
    }
    std::uint8_t bytes[8];
    std::memcpy(bytes, &r.numerator, 4);
    std::memcpy(bytes + 4, &r.denominator, 4);
    if (auto st = Put(*this, tag, kTiffTypeRational, bytes); st != XpStatus::Ok) {
      return st;
    }
  }
  for (std::uint16_t tag : kRational3Tags) {
    const auto& r = static_cast<const XpGPSRational3&>(*record.Element(tag));
    if (!r.IsValid()) {
      continue;
    }
    std::uint8_t bytes[24];
    for (std::size_t i = 0; i < 3; ++i) {
      std::memcpy(bytes + i * 8, &r.numerators[i], 4);
      std::memcpy(bytes + i * 8 + 4, &r.denominators[i], 4);
    }
    if (auto st = Put(*this, tag, kTiffTypeRational, bytes); st != XpStatus::Ok) {
      return st;
    }
  }
  for (const XpGPSAnyString* s : {&record.satellites, &record.mapDatum}) {
    if (!s->IsValid()) {
      continue;
    }
    const std::uint16_t tag = s == &record.satellites ? 8 : 18;
    if (auto st = PutText(*this, tag, s->text); st != XpStatus::Ok) {
      return st;
    }
  }
  for (const XpGPSUndef* u : {&record.processingMethod, &record.areaInformation}) {
    if (!u->IsValid()) {
      continue;
    }
    const std::uint16_t tag = u == &record.processingMethod ? 27 : 28;
    if (auto st = Put(*this, tag, kTiffTypeUndefined, u->bytes); st != XpStatus::Ok) {
      return st;
    }
  }
  if (record.dateStamp.IsValid()) {
    if (auto st = PutText(*this, 29, record.dateStamp.Text()); st != XpStatus::Ok) {
      return st;
    }
  }
  if (record.differential.IsValid()) {
    std::uint8_t bytes[2];
    std::memcpy(bytes, &record.differential.value, 2);
    if (auto st = Put(*this, 30, kTiffTypeShort, bytes); st != XpStatus::Ok) {
      return st;
    }
  }
  return XpStatus::Ok;
}
