// The XMP GPS properties: found through the XML parser, edited in the bytes.
//
// The parser works in place on a copy of the packet, so every name and value
// it reports points into that copy at the offset it has in the packet. The
// extent of each property is then measured in the untouched packet bytes, and
// the edits replace exactly those ranges.
#include "xp/image/XpXmpGps.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <pugixml.hpp>
#include <string_view>
#include <system_error>
#include <utility>

#include "xp/image/XpXmlExtent.h"
#include "xp/image/XpXmlNames.h"
#include "xp/text/XpEscape.h"

namespace XpXmpGps {
namespace {

constexpr std::string_view kRdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kDroneNamespace = "http://www.dji.com/drone-dji/1.0/";
constexpr std::string_view kTrailer = "<?xpacket end=";
constexpr std::size_t kNone = XpXmlExtent::kNone;

enum class Space { Other, Exif, Drone };

// One GPS property of a top-level rdf:Description, with its place in the packet.
struct Property {
  Space space = Space::Other;
  std::string local;   // the local name, e.g. "GPSLatitude"
  std::string prefix;  // the prefix it is written with ("" for a default namespace)
  bool attribute = false;
  std::size_t begin = 0;        // the attribute's name, or the element's '<'
  std::size_t end = 0;          // one past the closing quote or the end tag
  std::size_t removeBegin = 0;  // begin, with the whitespace in front of it
  // The value's bytes: inside the quotes, or the element's text content.
  // kNone for an element whose content is not plain text.
  std::size_t valueBegin = kNone;
  std::size_t valueEnd = kNone;
  std::string value;  // as the parser reads it, entities resolved
};

struct Parsed {
  std::vector<Property> properties;   // in packet order
  std::size_t paddingBegin = kNone;   // the whitespace run in front of the trailer
  std::size_t paddingEnd = kNone;     // the trailer's '<'
  std::size_t rdfContentEnd = kNone;  // the '<' of the first rdf:RDF element's end tag
  std::string about;                  // rdf:about of the first top-level rdf:Description
  bool seenDescription = false;
};

bool IsXmlSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsXmlSpace(static_cast<std::uint8_t>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsXmlSpace(static_cast<std::uint8_t>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// The namespace a prefix is bound to at `node`, looked up through its
// ancestors; "" when it is not bound. `prefix` "" asks for the default one.
using QName = XpXmlName;

QName Resolve(pugi::xml_node scope, std::string_view qualified, bool attribute) {
  return XpResolveXmlName(scope, qualified, attribute);
}

bool IsRdf(const QName& name, std::string_view local) { return name.space == kRdfNamespace && name.local == local; }

Space ClassifyGps(const QName& name) {
  if (name.space == kExifNamespace && name.local.starts_with("GPS")) {
    return Space::Exif;
  }
  if (name.space == kDroneNamespace && (name.local == "GpsLatitude" || name.local == "GpsLongitude" ||
                                        name.local == "GpsLongtitude" || name.local == "AbsoluteAltitude")) {
    return Space::Drone;
  }
  return Space::Other;
}

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

class Collector {
 public:
  Collector(std::span<const std::uint8_t> bytes, const char* base) : bytes_(bytes), base_(base) {}

  // The offset of a string the parser reports, or kNone when it does not
  // point into the packet.
  [[nodiscard]] std::size_t OffsetOf(const char* text) const {
    if (text < base_ || text > base_ + bytes_.size()) {
      return kNone;
    }
    return static_cast<std::size_t>(text - base_);
  }

  [[nodiscard]] std::size_t WithSpaceInFront(std::size_t begin) const {
    while (begin > 0 && IsXmlSpace(bytes_[begin - 1])) {
      --begin;
    }
    return begin;
  }

  [[nodiscard]] bool AddAttribute(const pugi::xml_attribute& attribute, const QName& name, Space space,
                                  std::vector<Property>* out) const {
    Property property;
    property.space = space;
    property.local = name.local;
    property.prefix = name.prefix;
    property.attribute = true;
    property.begin = OffsetOf(attribute.name());
    if (property.begin == kNone) {
      return false;
    }
    std::size_t i = property.begin + std::string_view(attribute.name()).size();
    while (i < bytes_.size() && (IsXmlSpace(bytes_[i]) || bytes_[i] == '=')) {
      ++i;
    }
    if (i >= bytes_.size() || (bytes_[i] != '"' && bytes_[i] != '\'')) {
      return false;
    }
    const std::uint8_t quote = bytes_[i];
    property.valueBegin = i + 1;
    property.valueEnd = property.valueBegin;
    while (property.valueEnd < bytes_.size() && bytes_[property.valueEnd] != quote) {
      ++property.valueEnd;
    }
    if (property.valueEnd >= bytes_.size() || OffsetOf(attribute.value()) != property.valueBegin) {
      return false;
    }
    property.end = property.valueEnd + 1;
    property.removeBegin = WithSpaceInFront(property.begin);
    property.value = attribute.value();
    out->push_back(std::move(property));
    return true;
  }

  [[nodiscard]] bool AddElement(const pugi::xml_node& element, const QName& name, Space space,
                                std::vector<Property>* out) const {
    Property property;
    property.space = space;
    property.local = name.local;
    property.prefix = name.prefix;
    const std::size_t nameAt = OffsetOf(element.name());
    if (nameAt == kNone || nameAt == 0 || bytes_[nameAt - 1] != '<') {
      return false;
    }
    property.begin = nameAt - 1;
    std::size_t contentBegin = 0;
    std::size_t contentEnd = 0;
    property.end = XpXmlExtent::ElementEnd(AsText(bytes_), property.begin, &contentBegin, &contentEnd);
    if (property.end == kNone) {
      return false;
    }
    property.removeBegin = WithSpaceInFront(property.begin);
    bool plain = true;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_pcdata) {
        plain = false;
      }
    }
    // Plain text without entity references: its bytes are its value.
    const std::string_view raw(reinterpret_cast<const char*>(bytes_.data()) + contentBegin, contentEnd - contentBegin);
    if (plain && raw.find('&') == std::string_view::npos && contentBegin != property.end) {
      property.valueBegin = contentBegin;
      property.valueEnd = contentEnd;
    }
    property.value = plain ? element.child_value() : "";
    out->push_back(std::move(property));
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  const char* base_;
};

[[nodiscard]] XpStatus CollectDescription(const Collector& collector, const pugi::xml_node& description,
                                          std::vector<Property>* out) {
  for (const pugi::xml_attribute& attribute : description.attributes()) {
    const std::string_view qualified = attribute.name();
    if (qualified == "xmlns" || qualified.starts_with("xmlns:")) {
      continue;
    }
    const QName name = Resolve(description, qualified, true);
    const Space space = ClassifyGps(name);
    if (space != Space::Other && !collector.AddAttribute(attribute, name, space, out)) {
      return XpStatus::XmpInvalid;
    }
  }
  for (pugi::xml_node child = description.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    const QName name = Resolve(child, child.name(), false);
    const Space space = ClassifyGps(name);
    if (space != Space::Other && !collector.AddElement(child, name, space, out)) {
      return XpStatus::XmpInvalid;
    }
  }
  return XpStatus::Ok;
}

[[nodiscard]] XpStatus Parse(std::span<const std::uint8_t> packet, Parsed* parsed) {
  if (packet.empty() || packet.size() > kMaxPacketSize ||
      std::find(packet.begin(), packet.end(), std::uint8_t{0}) != packet.end()) {
    return XpStatus::XmpInvalid;
  }
  std::vector<char> copy(packet.begin(), packet.end());
  pugi::xml_document document;
  // In place, so that names and values point into `copy` at their packet
  // offsets; UTF-8 as it stands, without conversion.
  const pugi::xml_parse_result result =
      document.load_buffer_inplace(copy.data(), copy.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result) {
    return XpStatus::XmpInvalid;
  }
  const Collector collector(packet, copy.data());

  // Depth-first without recursion, bounded in depth.
  std::vector<std::pair<pugi::xml_node, std::size_t>> pending;
  for (pugi::xml_node top = document.first_child(); top; top = top.next_sibling()) {
    if (top.type() == pugi::node_element) {
      pending.emplace_back(top, 1);
    }
  }
  std::reverse(pending.begin(), pending.end());
  std::size_t lastEnd = 0;
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxDepth) {
      return XpStatus::XmpInvalid;
    }
    const QName name = Resolve(node, node.name(), false);
    if (IsRdf(name, "RDF") && parsed->rdfContentEnd == kNone) {
      // Where a new block goes: in front of the end tag (an empty-element
      // rdf:RDF has none).
      const std::size_t nameAt = collector.OffsetOf(node.name());
      std::size_t contentBegin = kNone;
      std::size_t contentEnd = kNone;
      if (nameAt != kNone && nameAt > 0 && packet[nameAt - 1] == '<') {
        const std::size_t end = XpXmlExtent::ElementEnd(AsText(packet), nameAt - 1, &contentBegin, &contentEnd);
        if (end != kNone && contentEnd != end) {
          parsed->rdfContentEnd = contentEnd;
        }
      }
    }
    if (IsRdf(name, "Description") && IsRdf(Resolve(node.parent(), node.parent().name(), false), "RDF")) {
      if (!parsed->seenDescription) {
        parsed->seenDescription = true;
        for (const pugi::xml_attribute& attribute : node.attributes()) {
          if (IsRdf(Resolve(node, attribute.name(), true), "about")) {
            parsed->about = attribute.value();
          }
        }
      }
      const XpStatus collected = CollectDescription(collector, node, &parsed->properties);
      if (collected != XpStatus::Ok) {
        return collected;
      }
    }
    const std::size_t before = pending.size();
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() == pugi::node_element) {
        pending.emplace_back(child, depth + 1);
      }
    }
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(before), pending.end());
  }
  std::sort(parsed->properties.begin(), parsed->properties.end(),
            [](const Property& a, const Property& b) { return a.begin < b.begin; });
  for (const Property& property : parsed->properties) {
    lastEnd = std::max(lastEnd, property.end);
  }

  // The padding: the whitespace in front of the last trailer, when that lies
  // behind every property.
  const std::string_view all(reinterpret_cast<const char*>(packet.data()), packet.size());
  const auto trailer = all.rfind(kTrailer);
  if (trailer != std::string_view::npos && trailer >= lastEnd) {
    parsed->paddingEnd = trailer;
    parsed->paddingBegin = collector.WithSpaceInFront(trailer);
    if (parsed->paddingBegin < lastEnd) {
      parsed->paddingBegin = lastEnd;
    }
  }
  return XpStatus::Ok;
}

// ---- Values ----

[[nodiscard]] bool ParseUnsignedDecimal(std::string_view text, double* value) {
  if (text.empty() || text.size() > 40) {
    return false;
  }
  bool digit = false;
  bool dot = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  if (!digit) {
    return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, std::chars_format::fixed);
  return error == std::errc{} && end == text.data() + text.size() && std::isfinite(*value);
}

[[nodiscard]] bool ParseInteger(std::string_view text, std::int64_t* value) {
  if (text.empty() || text.size() > 18) {
    return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc{} && end == text.data() + text.size();
}

// A reference letter for the axis: +1 for N/E, -1 for S/W, 0 for none.
int RefSign(char c, bool latitude) {
  switch (c) {
    case 'N':
    case 'n':
      return latitude ? 1 : 0;
    case 'S':
    case 's':
      return latitude ? -1 : 0;
    case 'E':
    case 'e':
      return latitude ? 0 : 1;
    case 'W':
    case 'w':
      return latitude ? 0 : -1;
    default:
      return 0;
  }
}

// A coordinate in one of the written forms, with `separateRef` the text of
// the reference property ("" when there is none).
[[nodiscard]] bool ParseCoordinate(std::string_view text, std::string_view separateRef, bool latitude,
                                   double* degrees) {
  text = Trimmed(text);
  separateRef = Trimmed(separateRef);
  int sign = 1;
  int ref = 0;
  if (!text.empty() && (text.back() < '0' || text.back() > '9') && text.back() != '.') {
    ref = RefSign(text.back(), latitude);
    if (ref == 0) {
      return false;
    }
    text.remove_suffix(1);
  } else if (separateRef.size() == 1) {
    ref = RefSign(separateRef.front(), latitude);
  }
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
  }
  std::array<std::string_view, 3> parts{};
  std::size_t count = 0;
  while (true) {
    if (count == parts.size()) {
      return false;
    }
    const auto comma = text.find(',');
    parts[count++] = text.substr(0, comma);
    if (comma == std::string_view::npos) {
      break;
    }
    text.remove_prefix(comma + 1);
  }
  std::array<double, 3> values{};
  for (std::size_t i = 0; i < count; ++i) {
    if (!ParseUnsignedDecimal(parts[i], &values[i])) {
      return false;
    }
  }
  if (count >= 2 && values[1] >= 60) {
    return false;
  }
  if (count == 3 && values[2] >= 60) {
    return false;
  }
  double value = values[0] + values[1] / 60 + values[2] / 3600;
  if (sign < 0 || ref < 0) {
    value = -value;
  }
  if (std::fabs(value) > (latitude ? 90.0 : 180.0)) {
    return false;
  }
  *degrees = value;
  return true;
}

// A rational "n/d" or a decimal, optionally signed.
[[nodiscard]] bool ParseRealText(std::string_view text, double* value) {
  text = Trimmed(text);
  double sign = 1;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
  }
  const auto slash = text.find('/');
  if (slash == std::string_view::npos) {
    if (!ParseUnsignedDecimal(text, value)) {
      return false;
    }
    *value *= sign;
    return true;
  }
  std::int64_t numerator = 0;
  std::int64_t denominator = 0;
  if (!ParseInteger(text.substr(0, slash), &numerator) || !ParseInteger(text.substr(slash + 1), &denominator) ||
      denominator == 0) {
    return false;
  }
  *value = sign * static_cast<double>(numerator) / static_cast<double>(denominator);
  return std::isfinite(*value);
}

const Property* FindFirst(const Parsed& parsed, Space space, std::string_view local) {
  for (const Property& property : parsed.properties) {
    if (property.space == space && property.local == local) {
      return &property;
    }
  }
  return nullptr;
}

std::string ValueOf(const Property* property) { return property != nullptr ? property->value : std::string(); }

// ---- Edits ----

struct Replacement {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};

// Applies the replacements (which must not overlap) and balances the change
// in length against the padding.
[[nodiscard]] XpStatus Apply(std::span<const std::uint8_t> packet, const Parsed& parsed,
                             std::vector<Replacement> replacements, Edit* edit, bool keepPadding) {
  edit->changed = !replacements.empty();
  if (replacements.empty()) {
    edit->packet.assign(packet.begin(), packet.end());
    return XpStatus::Ok;
  }
  std::stable_sort(replacements.begin(), replacements.end(), [](const Replacement& a, const Replacement& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
  });
  std::int64_t delta = 0;
  std::size_t previousEnd = 0;
  for (const Replacement& replacement : replacements) {
    if (replacement.begin < previousEnd || replacement.end < replacement.begin || replacement.end > packet.size()) {
      return XpStatus::XmpInvalid;
    }
    previousEnd = replacement.end;
    delta += static_cast<std::int64_t>(replacement.text.size()) -
             static_cast<std::int64_t>(replacement.end - replacement.begin);
  }
  if (!keepPadding && parsed.paddingEnd != kNone && parsed.paddingEnd >= previousEnd) {
    const std::size_t padding = parsed.paddingEnd - std::max(parsed.paddingBegin, previousEnd);
    if (delta < 0) {
      replacements.push_back(
          {parsed.paddingEnd, parsed.paddingEnd, std::string(static_cast<std::size_t>(-delta), ' ')});
    } else if (delta > 0) {
      const std::size_t taken = std::min(static_cast<std::size_t>(delta), padding);
      replacements.push_back({parsed.paddingEnd - taken, parsed.paddingEnd, std::string()});
    }
  }
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(static_cast<std::int64_t>(packet.size()) + std::max<std::int64_t>(delta, 0)));
  std::size_t at = 0;
  for (const Replacement& replacement : replacements) {
    out.insert(out.end(), packet.begin() + static_cast<std::ptrdiff_t>(at),
               packet.begin() + static_cast<std::ptrdiff_t>(replacement.begin));
    out.insert(out.end(), replacement.text.begin(), replacement.text.end());
    at = replacement.end;
  }
  out.insert(out.end(), packet.begin() + static_cast<std::ptrdiff_t>(at), packet.end());
  edit->packet = std::move(out);
  return XpStatus::Ok;
}

Replacement Removal(const Property& property) { return {property.removeBegin, property.end, std::string()}; }

// The property with a new value: only the value's bytes change when it is
// plain, the whole element otherwise.
Replacement NewValue(const Property& property, const std::string& value) {
  if (property.valueBegin != kNone) {
    return {property.valueBegin, property.valueEnd, value};
  }
  const std::string name = property.prefix.empty() ? property.local : property.prefix + ":" + property.local;
  return {property.begin, property.end, "<" + name + ">" + value + "</" + name + ">"};
}

// A new property written like `model` (same prefix, same form, same
// whitespace in front), for insertion behind it.
std::string LikeProperty(std::span<const std::uint8_t> packet, const Property& model, std::string_view local,
                         const std::string& value) {
  std::string text(reinterpret_cast<const char*>(packet.data()) + model.removeBegin, model.begin - model.removeBegin);
  if (text.empty()) {
    text = " ";
  }
  const std::string name = model.prefix.empty() ? std::string(local) : model.prefix + ":" + std::string(local);
  if (model.attribute) {
    return text + name + "=\"" + value + "\"";
  }
  return text + "<" + name + ">" + value + "</" + name + ">";
}

std::string FormatDecimal(double value, int decimals, bool withPlus) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc{}) {
    return "0";
  }
  std::string text(buffer, end);
  if (withPlus && !text.starts_with('-')) {
    text.insert(text.begin(), '+');
  }
  return text;
}

std::string FormatAltitude(double metres) {
  const auto millimetres = static_cast<long long>(std::llround(std::fabs(metres) * 1000));
  return std::to_string(millimetres) + "/1000";
}

bool IsTimeStampText(std::string_view text) {
  if (text.empty() || text.size() > 64) {
    return false;
  }
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == ':' || c == '.' || c == '+' || c == 'T' || c == 'Z';
  });
}

bool IsKept(std::string_view local) {
  return local == "GPSVersionID" || local == "GPSMapDatum" || local == "GPSLatitude" || local == "GPSLongitude" ||
         local == "GPSLatitudeRef" || local == "GPSLongitudeRef";
}

bool IsWritable(const Update& update) {
  return std::isfinite(update.latitude) && std::isfinite(update.longitude) && std::fabs(update.latitude) <= 90 &&
         std::fabs(update.longitude) <= 180 && (!update.altitude || std::isfinite(*update.altitude)) &&
         (!update.altitude || std::fabs(*update.altitude) <= 1e9) &&
         (!update.timeStamp || IsTimeStampText(*update.timeStamp));
}

}  // namespace

std::string FormatCoordinate(double degrees, bool latitude) {
  constexpr long long kPerMinute = 100000000;  // eight decimals of a minute
  constexpr long long kPerDegree = 60 * kPerMinute;
  const long long total = std::llround(std::fabs(degrees) * static_cast<double>(kPerDegree));
  const long long whole = total / kPerDegree;
  const long long minutes = (total % kPerDegree) / kPerMinute;
  const long long fraction = total % kPerMinute;
  const bool negative = degrees < 0 && total != 0;
  const char ref = latitude ? (negative ? 'S' : 'N') : (negative ? 'W' : 'E');
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%lld,%02lld.%08lld%c", whole, minutes, fraction, ref);
  return buffer;
}

XpStatus ReadGps(std::span<const std::uint8_t> packet, Position* position) {
  Parsed parsed;
  const XpStatus status = Parse(packet, &parsed);
  if (status != XpStatus::Ok) {
    return status;
  }
  const Property* latitude = FindFirst(parsed, Space::Exif, "GPSLatitude");
  const Property* longitude = FindFirst(parsed, Space::Exif, "GPSLongitude");
  Position read;
  if (latitude != nullptr && longitude != nullptr) {
    if (!ParseCoordinate(latitude->value, ValueOf(FindFirst(parsed, Space::Exif, "GPSLatitudeRef")), true,
                         &read.latitude) ||
        !ParseCoordinate(longitude->value, ValueOf(FindFirst(parsed, Space::Exif, "GPSLongitudeRef")), false,
                         &read.longitude)) {
      return XpStatus::XmpBadPosition;
    }
    double altitude = 0;
    const Property* altitudeProperty = FindFirst(parsed, Space::Exif, "GPSAltitude");
    if (altitudeProperty != nullptr && ParseRealText(altitudeProperty->value, &altitude)) {
      if (Trimmed(ValueOf(FindFirst(parsed, Space::Exif, "GPSAltitudeRef"))) == "1") {
        altitude = -altitude;
      }
      read.altitude = altitude;
    }
  } else {
    // The drone namespace's signed decimals, when the Exif ones are missing.
    latitude = FindFirst(parsed, Space::Drone, "GpsLatitude");
    longitude = FindFirst(parsed, Space::Drone, "GpsLongitude");
    if (longitude == nullptr) {
      longitude = FindFirst(parsed, Space::Drone, "GpsLongtitude");
    }
    if (latitude == nullptr || longitude == nullptr) {
      return XpStatus::XmpNoPosition;
    }
    if (!ParseCoordinate(latitude->value, "", true, &read.latitude) ||
        !ParseCoordinate(longitude->value, "", false, &read.longitude)) {
      return XpStatus::XmpBadPosition;
    }
    double altitude = 0;
    const Property* altitudeProperty = FindFirst(parsed, Space::Drone, "AbsoluteAltitude");
    if (altitudeProperty != nullptr && ParseRealText(altitudeProperty->value, &altitude)) {
      read.altitude = altitude;
    }
  }
  const Property* timeStamp = FindFirst(parsed, Space::Exif, "GPSTimeStamp");
  if (timeStamp != nullptr && !Trimmed(timeStamp->value).empty()) {
    read.timeStamp = std::string(Trimmed(timeStamp->value));
  }
  *position = std::move(read);
  return XpStatus::Ok;
}

XpStatus RemoveGps(std::span<const std::uint8_t> packet, Edit* edit, bool keepPadding) {
  Parsed parsed;
  const XpStatus status = Parse(packet, &parsed);
  if (status != XpStatus::Ok) {
    return status;
  }
  std::vector<Replacement> replacements;
  for (const Property& property : parsed.properties) {
    replacements.push_back(Removal(property));
  }
  return Apply(packet, parsed, std::move(replacements), edit, keepPadding);
}

XpStatus UpdateGps(std::span<const std::uint8_t> packet, const Update& update, Edit* edit) {
  if (!IsWritable(update)) {
    return XpStatus::InvalidArgument;
  }
  Parsed parsed;
  const XpStatus status = Parse(packet, &parsed);
  if (status != XpStatus::Ok) {
    return status;
  }
  const bool exifPosition = FindFirst(parsed, Space::Exif, "GPSLatitude") != nullptr ||
                            FindFirst(parsed, Space::Exif, "GPSLongitude") != nullptr;
  const bool dronePosition = FindFirst(parsed, Space::Drone, "GpsLatitude") != nullptr ||
                             FindFirst(parsed, Space::Drone, "GpsLongitude") != nullptr ||
                             FindFirst(parsed, Space::Drone, "GpsLongtitude") != nullptr;
  std::vector<Replacement> replacements;
  if (!exifPosition && !dronePosition) {
    return Apply(packet, parsed, std::move(replacements), edit, update.keepPadding);
  }
  const std::string latitudeText = FormatCoordinate(update.latitude, true);
  const std::string longitudeText = FormatCoordinate(update.longitude, false);
  const std::string altitudeText = update.altitude ? FormatAltitude(*update.altitude) : std::string();
  const std::string altitudeRefText = update.altitude && *update.altitude < 0 ? "1" : "0";
  bool altitudeThere = false;
  bool altitudeRefThere = false;
  bool timeStampThere = false;
  const Property* lastLongitude = nullptr;
  for (const Property& property : parsed.properties) {
    const std::string_view local = property.local;
    if (property.space == Space::Drone) {
      if (local == "GpsLatitude") {
        replacements.push_back(NewValue(property, FormatDecimal(update.latitude, 8, true)));
      } else if (local == "GpsLongitude" || local == "GpsLongtitude") {
        replacements.push_back(NewValue(property, FormatDecimal(update.longitude, 8, true)));
      } else if (update.altitude) {
        replacements.push_back(NewValue(property, FormatDecimal(*update.altitude, 2, true)));
      } else if (update.dropStale) {
        replacements.push_back(Removal(property));
      }
      continue;
    }
    if (local == "GPSLatitude") {
      replacements.push_back(NewValue(property, latitudeText));
    } else if (local == "GPSLongitude") {
      replacements.push_back(NewValue(property, longitudeText));
      lastLongitude = &property;
    } else if (local == "GPSLatitudeRef") {
      replacements.push_back(NewValue(property, latitudeText.substr(latitudeText.size() - 1)));
    } else if (local == "GPSLongitudeRef") {
      replacements.push_back(NewValue(property, longitudeText.substr(longitudeText.size() - 1)));
    } else if (update.altitude && local == "GPSAltitude") {
      replacements.push_back(NewValue(property, altitudeText));
      altitudeThere = true;
    } else if (update.altitude && local == "GPSAltitudeRef") {
      replacements.push_back(NewValue(property, altitudeRefText));
      altitudeRefThere = true;
    } else if (update.timeStamp && local == "GPSTimeStamp") {
      replacements.push_back(NewValue(property, *update.timeStamp));
      timeStampThere = true;
    } else if (update.dropStale && !IsKept(local)) {
      replacements.push_back(Removal(property));
    }
  }
  if (lastLongitude != nullptr) {
    std::string added;
    if (update.altitude && !altitudeRefThere) {
      added += LikeProperty(packet, *lastLongitude, "GPSAltitudeRef", altitudeRefText);
    }
    if (update.altitude && !altitudeThere) {
      added += LikeProperty(packet, *lastLongitude, "GPSAltitude", altitudeText);
    }
    if (update.timeStamp && !timeStampThere) {
      added += LikeProperty(packet, *lastLongitude, "GPSTimeStamp", *update.timeStamp);
    }
    if (!added.empty()) {
      replacements.push_back({lastLongitude->end, lastLongitude->end, std::move(added)});
    }
  }
  return Apply(packet, parsed, std::move(replacements), edit, update.keepPadding);
}

}  // namespace XpXmpGps

namespace XpXmpGps {

XpStatus SetGps(std::span<const std::uint8_t> packet, const Update& update, bool version, Edit* edit,
                SetOutcome* outcome) {
  *outcome = SetOutcome{};
  if (!IsWritable(update)) {
    return XpStatus::InvalidArgument;
  }
  Parsed parsed;
  if (const XpStatus status = Parse(packet, &parsed); status != XpStatus::Ok) {
    return status;
  }
  if (FindFirst(parsed, Space::Exif, "GPSLatitude") != nullptr &&
      FindFirst(parsed, Space::Exif, "GPSLongitude") != nullptr) {
    return UpdateGps(packet, update, edit);
  }
  if (parsed.rdfContentEnd == kNone) {
    return XpStatus::XmpInvalid;
  }
  // Half a position or stray GPS properties go; a drone's coordinates follow
  // the new position as UpdateGps changes them.
  std::vector<Replacement> replacements;
  for (const Property& property : parsed.properties) {
    if (property.space == Space::Exif) {
      replacements.push_back(Removal(property));
    } else if (property.local == "GpsLatitude") {
      replacements.push_back(NewValue(property, FormatDecimal(update.latitude, 8, true)));
    } else if (property.local == "GpsLongitude" || property.local == "GpsLongtitude") {
      replacements.push_back(NewValue(property, FormatDecimal(update.longitude, 8, true)));
    } else if (update.altitude) {
      replacements.push_back(NewValue(property, FormatDecimal(*update.altitude, 2, true)));
    } else if (update.dropStale) {
      replacements.push_back(Removal(property));
    }
  }
  // The new block keeps the indentation in front of the end tag for that tag.
  std::size_t indentBegin = parsed.rdfContentEnd;
  while (indentBegin > 0 && IsXmlSpace(packet[indentBegin - 1])) {
    --indentBegin;
  }
  const std::string indent(reinterpret_cast<const char*>(packet.data()) + indentBegin,
                           parsed.rdfContentEnd - indentBegin);
  const std::string head = " <rdf:Description rdf:about=\"" + XpEscapeHtmlAttribute(parsed.about) + "\" xmlns:rdf=\"" +
                           std::string(kRdfNamespace) + "\" xmlns:exif=\"" + kExifNamespace + "\"";
  const std::string tail = "/>" + indent;
  std::string properties;
  const auto add = [&](std::string_view local, const std::string& value) {
    properties += "\n    exif:" + std::string(local) + "=\"" + value + "\"";
  };
  if (version) {
    add("GPSVersionID", "2.3.0.0");
  }
  add("GPSLatitude", FormatCoordinate(update.latitude, true));
  add("GPSLongitude", FormatCoordinate(update.longitude, false));
  if (update.altitude) {
    add("GPSAltitudeRef", *update.altitude < 0 ? "1" : "0");
    add("GPSAltitude", FormatAltitude(*update.altitude));
  }
  if (update.timeStamp) {
    add("GPSTimeStamp", *update.timeStamp);
  }
  outcome->inserted = head + properties + tail;
  outcome->insertedWithoutGps = head + tail;
  replacements.push_back({parsed.rdfContentEnd, parsed.rdfContentEnd, outcome->inserted});
  return Apply(packet, parsed, std::move(replacements), edit, update.keepPadding);
}

XpStatus ReadProperty(std::span<const std::uint8_t> packet, std::string_view space, std::string_view local,
                      std::optional<std::string>* value) {
  value->reset();
  if (packet.empty() || packet.size() > kMaxPacketSize ||
      std::find(packet.begin(), packet.end(), std::uint8_t{0}) != packet.end()) {
    return XpStatus::XmpInvalid;
  }
  pugi::xml_document document;
  if (!document.load_buffer(packet.data(), packet.size(), pugi::parse_default, pugi::encoding_utf8)) {
    return XpStatus::XmpInvalid;
  }
  std::vector<std::pair<pugi::xml_node, std::size_t>> pending;
  for (pugi::xml_node top = document.last_child(); top; top = top.previous_sibling()) {
    if (top.type() == pugi::node_element) {
      pending.emplace_back(top, 1);
    }
  }
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxDepth) {
      return XpStatus::XmpInvalid;
    }
    if (IsRdf(Resolve(node, node.name(), false), "Description") &&
        IsRdf(Resolve(node.parent(), node.parent().name(), false), "RDF")) {
      for (const pugi::xml_attribute& attribute : node.attributes()) {
        const QName name = Resolve(node, attribute.name(), true);
        if (name.space == space && name.local == local) {
          *value = attribute.value();
          return XpStatus::Ok;
        }
      }
      for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
          continue;
        }
        const QName name = Resolve(child, child.name(), false);
        if (name.space == space && name.local == local) {
          *value = child.child_value();
          return XpStatus::Ok;
        }
      }
    }
    for (pugi::xml_node child = node.last_child(); child; child = child.previous_sibling()) {
      if (child.type() == pugi::node_element) {
        pending.emplace_back(child, depth + 1);
      }
    }
  }
  return XpStatus::Ok;
}

}  // namespace XpXmpGps
