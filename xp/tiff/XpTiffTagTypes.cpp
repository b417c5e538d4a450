#include "xp/tiff/XpTiffTagTypes.h"

#include <cstdio>
#include <cstring>

#include "xp/text/XpNumberText.h"

namespace {

template <class T>
T Load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::string Format(const char* format, auto... args) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

}  // namespace

std::string XpTiffTagTypeByte::ToText(const std::uint8_t* value) { return Format("%u", unsigned{*value}); }

std::string XpTiffTagTypeAscii::ToText(const std::uint8_t* value) { return std::string(1, static_cast<char>(*value)); }

std::string XpTiffTagTypeShort::ToText(const std::uint8_t* value) {
  return Format("%u", unsigned{Load<std::uint16_t>(value)});
}

std::string XpTiffTagTypeLong::ToText(const std::uint8_t* value) {
  return Format("%lu", static_cast<unsigned long>(Load<std::uint32_t>(value)));
}

std::string XpTiffTagTypeRational::ToText(const std::uint8_t* value) {
  return Format("%lu/%lu", static_cast<unsigned long>(Load<std::uint32_t>(value)),
                static_cast<unsigned long>(Load<std::uint32_t>(value + 4)));
}

std::string XpTiffTagTypeSByte::ToText(const std::uint8_t* value) {
  return Format("%d", int{static_cast<std::int8_t>(*value)});
}

std::string XpTiffTagTypeUndefined::ToText(const std::uint8_t* value) { return Format("%u", unsigned{*value}); }

std::string XpTiffTagTypeSShort::ToText(const std::uint8_t* value) {
  return Format("%d", int{Load<std::int16_t>(value)});
}

std::string XpTiffTagTypeSLong::ToText(const std::uint8_t* value) {
  return Format("%ld", static_cast<long>(Load<std::int32_t>(value)));
}

std::string XpTiffTagTypeSRational::ToText(const std::uint8_t* value) {
  return Format("%ld/%ld", static_cast<long>(Load<std::int32_t>(value)),
                static_cast<long>(Load<std::int32_t>(value + 4)));
}

std::string XpTiffTagTypeFloat::ToText(const std::uint8_t* value) {
  return XpFormatFixed(static_cast<double>(Load<float>(value)), 6);
}

std::string XpTiffTagTypeDouble::ToText(const std::uint8_t* value) { return XpFormatFixed(Load<double>(value), 6); }
