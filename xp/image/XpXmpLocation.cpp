// The XMP location properties: found through the XML parser, edited in the
// bytes. The parser works in place on a copy of the packet, so every name and
// value it reports points into that copy at the offset it has in the packet;
// the extent of each property is then measured in the untouched bytes.
#include "xp/image/XpXmpLocation.h"

#include <algorithm>
#include <array>
#include <pugixml.hpp>
#include <string_view>
#include <utility>

#include "xp/image/XpXmlExtent.h"
#include "xp/image/XpXmlNames.h"
#include "xp/text/XpEscape.h"
#include "xp/text/XpUtf8.h"

namespace XpXmpLocation {
namespace {

constexpr std::string_view kRdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kTrailer = "<?xpacket end=";
constexpr std::size_t kNone = XpXmlExtent::kNone;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string Trimmed(std::string_view text) {
  while (!text.empty() && IsXmlSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsXmlSpace(text.back())) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

using Name = XpXmlName;

Name Resolve(pugi::xml_node scope, std::string_view qualified, bool attribute) {
  return XpResolveXmlName(scope, qualified, attribute);
}

bool Is(const Name& name, std::string_view space, std::string_view local) {
  return name.space == space && name.local == local;
}

Name ElementName(pugi::xml_node node) { return Resolve(node, node.name(), false); }

// Which field of a Location a property of a top-level description is; -1 for
// none. 0 city, 1 state, 2 country, 3 code, 4 sublocation, 5 the structure.
int LegacyField(const Name& name) {
  if (name.space == kPhotoshopNamespace) {
    if (name.local == "City") {
      return 0;
    }
    if (name.local == "State") {
      return 1;
    }
    if (name.local == "Country") {
      return 2;
    }
  } else if (name.space == kIptcCoreNamespace) {
    if (name.local == "CountryCode") {
      return 3;
    }
    if (name.local == "Location") {
      return 4;
    }
  } else if (Is(name, kIptcExtNamespace, "LocationCreated")) {
    return 5;
  }
  return -1;
}

// A field of the location structure; -1 for none.
int StructureField(const Name& name) {
  if (name.space != kIptcExtNamespace) {
    return -1;
  }
  static constexpr std::array<std::string_view, 5> kLocals = {"City", "ProvinceState", "CountryName", "CountryCode",
                                                              "Sublocation"};
  for (std::size_t i = 0; i < kLocals.size(); ++i) {
    if (name.local == kLocals[i]) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string* Field(Location& location, int field) {
  switch (field) {
    case 0:
      return &location.city;
    case 1:
      return &location.state;
    case 2:
      return &location.country;
    case 3:
      return &location.countryCode;
    case 4:
      return &location.sublocation;
    default:
      return nullptr;
  }
}

// The text of an element with nothing but text in it; "" otherwise.
std::string PlainText(pugi::xml_node element) {
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) {
      return {};
    }
  }
  return Trimmed(element.child_value());
}

// The fields of one structure: attributes and child elements of `node`, and
// of an rdf:Description nested in it.
void ReadStructure(pugi::xml_node node, Location* location, int depthLeft) {
  for (const pugi::xml_attribute& attribute : node.attributes()) {
    const int field = StructureField(Resolve(node, attribute.name(), true));
    if (std::string* value = Field(*location, field); value != nullptr && value->empty()) {
      *value = Trimmed(attribute.value());
    }
  }
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    const Name name = ElementName(child);
    if (Is(name, kRdfNamespace, "Description") && depthLeft > 0) {
      ReadStructure(child, location, depthLeft - 1);
      continue;
    }
    if (std::string* value = Field(*location, StructureField(name)); value != nullptr && value->empty()) {
      *value = PlainText(child);
    }
  }
}

// The first entry of Iptc4xmpExt:LocationCreated: an array's first rdf:li, or
// the property itself written as a structure.
void ReadCreated(pugi::xml_node property, Location* location) {
  for (pugi::xml_node child = property.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    const Name name = ElementName(child);
    if (Is(name, kRdfNamespace, "Bag") || Is(name, kRdfNamespace, "Seq") || Is(name, kRdfNamespace, "Alt")) {
      for (pugi::xml_node item = child.first_child(); item; item = item.next_sibling()) {
        if (item.type() == pugi::node_element && Is(ElementName(item), kRdfNamespace, "li")) {
          ReadStructure(item, location, 1);
          return;
        }
      }
      return;
    }
  }
  ReadStructure(property, location, 1);
}

// ---- Extents in the bytes ----

// One past the end of the element whose '<' is at `lt`; `*endTag` is where
// its end tag starts (kNone for an empty-element tag). kNone when the bytes
// do not have the shape the parser accepted.
std::size_t ElementEnd(std::string_view bytes, std::size_t lt, std::size_t* endTag) {
  std::size_t contentBegin = kNone;
  std::size_t contentEnd = kNone;
  const std::size_t end = XpXmlExtent::ElementEnd(bytes, lt, &contentBegin, &contentEnd);
  *endTag = end != kNone && contentEnd != end ? contentEnd : kNone;
  return end;
}

// Where `element` stands in `bytes` (the packet the document was parsed from in place, as a copy
// starting at `base`): `*begin` at its '<', `*end` one past its end. False for bytes not in the
// shape the parser accepted.
bool ElementSpan(std::string_view bytes, const char* base, pugi::xml_node element, std::size_t* begin,
                 std::size_t* end) {
  const char* name = element.name();
  if (name < base || name > base + bytes.size()) {
    return false;
  }
  const auto nameAt = static_cast<std::size_t>(name - base);
  if (nameAt == 0 || bytes[nameAt - 1] != '<') {
    return false;
  }
  std::size_t endTag = kNone;
  *begin = nameAt - 1;
  *end = ElementEnd(bytes, *begin, &endTag);
  return *end != kNone;
}

struct Range {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};

struct Parsed {
  pugi::xml_document document;
  std::vector<char> copy;
  std::vector<pugi::xml_node> descriptions;  // top-level rdf:Description blocks, in document order
  pugi::xml_node rdf;                        // the rdf:RDF of the first of them (or the first one)
};

[[nodiscard]] XpStatus Parse(std::span<const std::uint8_t> packet, Parsed* parsed) {
  if (packet.empty() || packet.size() > kMaxPacketSize ||
      std::find(packet.begin(), packet.end(), std::uint8_t{0}) != packet.end()) {
    return XpStatus::XmpInvalid;
  }
  parsed->copy.assign(packet.begin(), packet.end());
  const pugi::xml_parse_result result = parsed->document.load_buffer_inplace(parsed->copy.data(), parsed->copy.size(),
                                                                             pugi::parse_default, pugi::encoding_utf8);
  if (!result) {
    return XpStatus::XmpInvalid;
  }
  std::vector<std::pair<pugi::xml_node, std::size_t>> pending;
  for (pugi::xml_node top = parsed->document.last_child(); top; top = top.previous_sibling()) {
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
    const Name name = ElementName(node);
    if (Is(name, kRdfNamespace, "RDF")) {
      if (!parsed->rdf) {
        parsed->rdf = node;
      }
      for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && Is(ElementName(child), kRdfNamespace, "Description")) {
          parsed->descriptions.push_back(child);
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

bool IsWellFormedValue(const std::string& text) {
  return text.size() <= kMaxValueBytes && XpIsValidUtf8(text) &&
         std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool IsValid(const Update& update) {
  return IsWellFormedValue(update.city) && IsWellFormedValue(update.state) && IsWellFormedValue(update.country) &&
         IsWellFormedValue(update.countryCode) && (!update.sublocation || IsWellFormedValue(*update.sublocation));
}

// What the new location structure carries over from the old one: the fields
// of its first entry that the write does not set (WorldRegion, LocationId,
// Sublocation when none is given, ...) and every later entry, as the XML text
// they had (a field written as an attribute becomes an element), with the
// namespace bindings they need that the new description must declare.
struct KeptLocation {
  std::vector<std::string> fields;                            // elements of the first entry, each one line
  std::vector<std::string> entries;                           // rdf:li elements after the first one
  std::vector<std::pair<std::string, std::string>> bindings;  // (prefix, namespace)
};

// Records in `kept` the binding of every prefix used by `node`'s subtree (up to
// kMaxDepth below it) that is not declared inside it. False when one prefix
// would need two namespaces.
[[nodiscard]] bool NoteBindings(pugi::xml_node root, KeptLocation* kept) {
  const auto declaredInside = [&](pugi::xml_node at, std::string_view prefix) {
    const std::string attribute = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    for (pugi::xml_node n = at; n; n = n.parent()) {
      if (n.attribute(attribute.c_str())) {
        return true;
      }
      if (n == root) {
        break;
      }
    }
    return false;
  };
  const auto note = [&](pugi::xml_node at, std::string_view qualified, bool attribute) {
    const std::string_view name = qualified;
    if (name == "xmlns" || name.starts_with("xmlns:") || name.starts_with("xml:")) {
      return true;
    }
    const auto colon = name.find(':');
    if (attribute && colon == std::string_view::npos) {
      return true;  // no namespace
    }
    const std::string prefix(colon == std::string_view::npos ? std::string_view{} : name.substr(0, colon));
    if (declaredInside(at, prefix)) {
      return true;
    }
    const std::string space(XpXmlBoundNamespace(at, prefix));
    for (const auto& [p, s] : kept->bindings) {
      if (p == prefix) {
        return s == space;
      }
    }
    kept->bindings.emplace_back(prefix, space);
    return true;
  };
  std::vector<std::pair<pugi::xml_node, std::size_t>> pending{{root, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxDepth || !note(node, node.name(), false)) {
      return false;
    }
    for (const pugi::xml_attribute& attribute : node.attributes()) {
      if (!note(node, attribute.name(), true)) {
        return false;
      }
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() == pugi::node_element) {
        pending.emplace_back(child, depth + 1);
      }
    }
  }
  return true;
}

// The fields and entries of the old Iptc4xmpExt:LocationCreated `property` that
// the new one keeps (see KeptLocation). `managedSublocation`: the write sets
// Sublocation. False for a structure whose parts cannot be carried over
// faithfully (a prefix bound two ways, bytes not as parsed).
[[nodiscard]] bool KeepLocation(std::string_view bytes, const char* base, pugi::xml_node property,
                                bool managedSublocation, KeptLocation* kept) {
  const auto textOf = [&](pugi::xml_node element, std::string* out) {
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!ElementSpan(bytes, base, element, &begin, &end)) {
      return false;
    }
    *out = std::string(bytes.substr(begin, end - begin));
    return NoteBindings(element, kept);
  };
  const auto managed = [&](const Name& name) {
    const int field = StructureField(name);
    return field >= 0 && (field != 4 || managedSublocation);
  };
  // The first entry: an array's first rdf:li, or the property itself as a structure.
  pugi::xml_node entry = property;
  for (pugi::xml_node child = property.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    const Name name = ElementName(child);
    if (Is(name, kRdfNamespace, "Bag") || Is(name, kRdfNamespace, "Seq") || Is(name, kRdfNamespace, "Alt")) {
      entry = pugi::xml_node();
      for (pugi::xml_node item = child.first_child(); item; item = item.next_sibling()) {
        if (item.type() != pugi::node_element || !Is(ElementName(item), kRdfNamespace, "li")) {
          continue;
        }
        if (!entry) {
          entry = item;
          continue;
        }
        std::string text;
        if (!textOf(item, &text)) {
          return false;
        }
        kept->entries.push_back(std::move(text));
      }
      if (!entry) {
        return true;
      }
      break;
    }
  }
  // Its fields: attributes and child elements, and those of an rdf:Description in it.
  std::vector<pugi::xml_node> holders{entry};
  for (pugi::xml_node child = entry.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && Is(ElementName(child), kRdfNamespace, "Description")) {
      holders.push_back(child);
    }
  }
  for (const pugi::xml_node holder : holders) {
    for (const pugi::xml_attribute& attribute : holder.attributes()) {
      const std::string_view qualified = attribute.name();
      const Name name = Resolve(holder, qualified, true);
      if (qualified == "xmlns" || qualified.starts_with("xmlns:") || qualified.starts_with("xml:") ||
          name.space.empty() || name.space == kRdfNamespace || managed(name)) {
        continue;
      }
      if (!NoteBindings(holder, kept)) {
        return false;
      }
      const std::string element(qualified);
      kept->fields.push_back("<" + element + ">" + XpEscapeHtmlText(attribute.value()) + "</" + element + ">");
    }
    for (pugi::xml_node child = holder.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) {
        continue;
      }
      const Name name = ElementName(child);
      if (managed(name) || (holder == entry && Is(name, kRdfNamespace, "Description"))) {
        continue;
      }
      if (Is(name, kRdfNamespace, "Description")) {
        // A description nested deeper would become the new entry's own: its fields would read
        // as the location's.
        return false;
      }
      std::string text;
      if (!textOf(child, &text)) {
        return false;
      }
      kept->fields.push_back(std::move(text));
    }
  }
  return true;
}

// The new description's text, each line begun with `indent` (a line break
// and the blanks in front of the first description).
std::string DescriptionText(const Update& update, std::string_view rdf, std::string_view about,
                            const std::string& indent, const KeptLocation& kept = {}) {
  const std::string in1 = indent + " ";
  const std::string in2 = in1 + " ";
  const std::string in3 = in2 + " ";
  const std::string in4 = in3 + " ";
  const std::string r(rdf);
  std::string text = "<" + r + ":Description " + r + ":about=\"" + std::string(about) + "\"" + in2 +
                     "xmlns:photoshop=\"" + kPhotoshopNamespace + "\"" + in2 + "xmlns:Iptc4xmpCore=\"" +
                     kIptcCoreNamespace + "\"" + in2 + "xmlns:Iptc4xmpExt=\"" + kIptcExtNamespace + "\"";
  for (const auto& [prefix, space] : kept.bindings) {
    text +=
        in2 + (prefix.empty() ? std::string("xmlns") : "xmlns:" + prefix) + "=\"" + XpEscapeHtmlAttribute(space) + "\"";
  }
  text += ">";
  const auto element = [](const std::string& lead, const char* name, const std::string& value) {
    return value.empty() ? std::string() : lead + "<" + name + ">" + XpEscapeHtmlText(value) + "</" + name + ">";
  };
  text += element(in1, "photoshop:City", update.city);
  text += element(in1, "photoshop:State", update.state);
  text += element(in1, "photoshop:Country", update.country);
  text += element(in1, "Iptc4xmpCore:CountryCode", update.countryCode);
  if (update.sublocation) {
    text += element(in1, "Iptc4xmpCore:Location", *update.sublocation);
  }
  std::string fields;
  fields += element(in4, "Iptc4xmpExt:City", update.city);
  fields += element(in4, "Iptc4xmpExt:ProvinceState", update.state);
  fields += element(in4, "Iptc4xmpExt:CountryName", update.country);
  fields += element(in4, "Iptc4xmpExt:CountryCode", update.countryCode);
  if (update.sublocation) {
    fields += element(in4, "Iptc4xmpExt:Sublocation", *update.sublocation);
  }
  for (const std::string& field : kept.fields) {
    fields += in4 + field;
  }
  std::string entries;
  for (const std::string& entry : kept.entries) {
    entries += in3 + entry;
  }
  if (!fields.empty() || !entries.empty()) {
    text += in1 + "<Iptc4xmpExt:LocationCreated>" + in2 + "<" + r + ":Bag>" + in3 + "<" + r + ":li " + r +
            ":parseType=\"Resource\">" + fields + in3 + "</" + r + ":li>" + entries + in2 + "</" + r + ":Bag>" + in1 +
            "</Iptc4xmpExt:LocationCreated>";
  }
  return text + indent + "</" + r + ":Description>";
}

[[nodiscard]] XpStatus Apply(std::string_view bytes, std::vector<Range> ranges, Edit* edit) {
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.begin != b.begin ? a.begin < b.begin : a.end < b.end; });
  std::int64_t delta = 0;
  std::size_t previousEnd = 0;
  for (const Range& range : ranges) {
    if (range.begin < previousEnd || range.end < range.begin || range.end > bytes.size()) {
      return XpStatus::XmpInvalid;
    }
    previousEnd = range.end;
    delta += static_cast<std::int64_t>(range.text.size()) - static_cast<std::int64_t>(range.end - range.begin);
  }
  // The padding: the whitespace in front of the last trailer, behind every edit.
  const auto trailer = bytes.rfind(kTrailer);
  if (trailer != std::string_view::npos && trailer >= previousEnd && delta != 0) {
    std::size_t paddingBegin = trailer;
    while (paddingBegin > previousEnd && IsXmlSpace(bytes[paddingBegin - 1])) {
      --paddingBegin;
    }
    if (delta < 0) {
      ranges.push_back({trailer, trailer, std::string(static_cast<std::size_t>(-delta), ' ')});
    } else {
      const std::size_t taken = std::min(static_cast<std::size_t>(delta), trailer - paddingBegin);
      ranges.push_back({trailer - taken, trailer, std::string()});
    }
  }
  std::string out;
  std::size_t at = 0;
  for (const Range& range : ranges) {
    out.append(bytes.substr(at, range.begin - at));
    out += range.text;
    at = range.end;
  }
  out.append(bytes.substr(at));
  edit->changed = out != bytes;
  edit->packet.assign(out.begin(), out.end());
  return XpStatus::Ok;
}

// Adds the extent of each managed property of `description` to `ranges`.
[[nodiscard]] bool CollectManaged(std::string_view bytes, const char* base, pugi::xml_node description,
                                  bool sublocation, std::vector<Range>* ranges) {
  const auto offsetOf = [&](const char* text) -> std::size_t {
    return text >= base && text <= base + bytes.size() ? static_cast<std::size_t>(text - base) : kNone;
  };
  const auto withSpace = [&](std::size_t begin) {
    while (begin > 0 && IsXmlSpace(bytes[begin - 1])) {
      --begin;
    }
    return begin;
  };
  const auto managed = [&](const Name& name) {
    const int field = LegacyField(name);
    return field >= 0 && (field != 4 || sublocation);
  };
  for (const pugi::xml_attribute& attribute : description.attributes()) {
    const std::string_view qualified = attribute.name();
    if (qualified == "xmlns" || qualified.starts_with("xmlns:") || !managed(Resolve(description, qualified, true))) {
      continue;
    }
    const std::size_t begin = offsetOf(attribute.name());
    if (begin == kNone) {
      return false;
    }
    std::size_t i = begin + qualified.size();
    while (i < bytes.size() && (IsXmlSpace(bytes[i]) || bytes[i] == '=')) {
      ++i;
    }
    if (i >= bytes.size() || (bytes[i] != '"' && bytes[i] != '\'')) {
      return false;
    }
    const std::size_t close = bytes.find(bytes[i], i + 1);
    if (close == std::string_view::npos) {
      return false;
    }
    ranges->push_back({withSpace(begin), close + 1, std::string()});
  }
  for (pugi::xml_node child = description.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || !managed(ElementName(child))) {
      continue;
    }
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!ElementSpan(bytes, base, child, &begin, &end)) {
      return false;
    }
    ranges->push_back({withSpace(begin), end, std::string()});
  }
  return true;
}

}  // namespace

XpStatus ReadLocation(std::span<const std::uint8_t> packet, Reading* reading) {
  Parsed parsed;
  if (auto st = Parse(packet, &parsed); st != XpStatus::Ok) {
    return st;
  }
  Reading read;
  for (const pugi::xml_node& description : parsed.descriptions) {
    for (const pugi::xml_attribute& attribute : description.attributes()) {
      const int field = LegacyField(Resolve(description, attribute.name(), true));
      if (std::string* value = Field(read.legacy, field); value != nullptr && value->empty()) {
        *value = Trimmed(attribute.value());
      }
    }
    for (pugi::xml_node child = description.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) {
        continue;
      }
      const int field = LegacyField(ElementName(child));
      if (field == 5) {
        if (read.created == Location{}) {
          ReadCreated(child, &read.created);
        }
      } else if (std::string* value = Field(read.legacy, field); value != nullptr && value->empty()) {
        *value = PlainText(child);
      }
    }
  }
  *reading = std::move(read);
  return XpStatus::Ok;
}

Reading Expected(const Reading& before, const Update& update) {
  Reading after;
  after.legacy = {update.city, update.state, update.country, update.countryCode,
                  update.sublocation ? *update.sublocation : before.legacy.sublocation};
  after.created = {update.city, update.state, update.country, update.countryCode,
                   update.sublocation ? *update.sublocation : before.created.sublocation};
  return after;
}

XpStatus SetLocation(std::span<const std::uint8_t> packet, const Update& update, Edit* edit) {
  if (!IsValid(update)) {
    return XpStatus::InvalidArgument;
  }
  Parsed parsed;
  if (auto st = Parse(packet, &parsed); st != XpStatus::Ok) {
    return st;
  }
  if (!parsed.rdf) {
    return XpStatus::XmpInvalid;
  }
  Reading before;
  if (auto st = ReadLocation(packet, &before); st != XpStatus::Ok) {
    return st;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(packet.data()), packet.size());
  if (before == Expected(before, update)) {
    edit->packet.assign(packet.begin(), packet.end());
    edit->changed = false;
    return XpStatus::Ok;
  }
  std::vector<Range> ranges;
  for (const pugi::xml_node& description : parsed.descriptions) {
    if (!CollectManaged(bytes, parsed.copy.data(), description, update.sublocation.has_value(), &ranges)) {
      return XpStatus::XmpInvalid;
    }
  }
  // The new description goes in front of the end tag of rdf:RDF, indented as
  // the first description is.
  const auto offsetOf = [&](const char* text) -> std::size_t {
    const char* base = parsed.copy.data();
    return text >= base && text <= base + bytes.size() ? static_cast<std::size_t>(text - base) : kNone;
  };
  const std::size_t rdfName = offsetOf(parsed.rdf.name());
  if (rdfName == kNone || rdfName == 0) {
    return XpStatus::XmpInvalid;
  }
  // The new description goes in front of rdf:RDF's end tag; an empty-element
  // rdf:RDF has none to write in front of.
  std::size_t endTag = kNone;
  if (ElementEnd(bytes, rdfName - 1, &endTag) == kNone || endTag == kNone) {
    return XpStatus::XmpInvalid;
  }
  const std::string_view rdfQualified = parsed.rdf.name();
  const auto colon = rdfQualified.find(':');
  const std::string rdfPrefix(colon == std::string_view::npos ? std::string_view{} : rdfQualified.substr(0, colon));
  std::string indent = "\n ";
  std::string about;
  if (!parsed.descriptions.empty()) {
    const pugi::xml_node first = parsed.descriptions.front();
    const std::size_t at = offsetOf(first.name());
    if (at != kNone && at > 0) {
      std::size_t begin = at - 1;
      while (begin > 0 && (bytes[begin - 1] == ' ' || bytes[begin - 1] == '\t')) {
        --begin;
      }
      indent = "\n" + std::string(bytes.substr(begin, at - 1 - begin));
    }
    for (const pugi::xml_attribute& attribute : first.attributes()) {
      if (Is(Resolve(first, attribute.name(), true), kRdfNamespace, "about")) {
        about = XpEscapeHtmlAttribute(attribute.value());
      }
    }
  }
  // The old structure's other fields and entries go into the new one: those of the structure the
  // location is read from (the first that holds any of its fields, as ReadLocation takes), else of
  // the first there is.
  pugi::xml_node source;
  pugi::xml_node first;
  for (const pugi::xml_node& description : parsed.descriptions) {
    for (pugi::xml_node child = description.first_child(); child && !source; child = child.next_sibling()) {
      if (child.type() != pugi::node_element || LegacyField(ElementName(child)) != 5) {
        continue;
      }
      first = first ? first : child;
      Location read;
      ReadCreated(child, &read);
      source = read != Location{} ? child : pugi::xml_node();
    }
    if (source) {
      break;
    }
  }
  source = source ? source : first;
  KeptLocation kept;
  if (source && !KeepLocation(bytes, parsed.copy.data(), source, update.sublocation.has_value(), &kept)) {
    return XpStatus::XmpInvalid;
  }
  // Prefixes the new description binds itself (or finds bound around it) need no binding of
  // their own; one of them bound to another namespace there cannot be carried over.
  const std::string rdfUsed = rdfPrefix.empty() ? "rdf" : rdfPrefix;
  const std::array<std::pair<std::string_view, std::string_view>, 4> own = {{{"photoshop", kPhotoshopNamespace},
                                                                             {"Iptc4xmpCore", kIptcCoreNamespace},
                                                                             {"Iptc4xmpExt", kIptcExtNamespace},
                                                                             {rdfUsed, kRdfNamespace}}};
  std::vector<std::pair<std::string, std::string>> bindings;
  for (auto& binding : kept.bindings) {
    const auto same = std::find_if(own.begin(), own.end(), [&](const auto& o) { return o.first == binding.first; });
    if (same == own.end()) {
      bindings.push_back(std::move(binding));
    } else if (same->second != binding.second) {
      return XpStatus::XmpInvalid;
    }
  }
  kept.bindings = std::move(bindings);
  std::string text = DescriptionText(update, rdfUsed, about, indent, kept);
  if (rdfPrefix.empty()) {
    // rdf:RDF in a default namespace: the new description binds a prefix of its own.
    text.insert(text.find(' '), " xmlns:rdf=\"" + std::string(kRdfNamespace) + "\"");
  }
  std::size_t lineStart = endTag;
  while (lineStart > 0 && (bytes[lineStart - 1] == ' ' || bytes[lineStart - 1] == '\t')) {
    --lineStart;
  }
  if (lineStart > 0 && bytes[lineStart - 1] == '\n') {
    ranges.push_back({lineStart, lineStart, indent.substr(1) + text + "\n"});
  } else {
    ranges.push_back({endTag, endTag, std::move(text)});
  }
  return Apply(bytes, std::move(ranges), edit);
}

XpStatus NewPacket(const Update& update, std::vector<std::uint8_t>* packet) {
  if (!IsValid(update)) {
    return XpStatus::InvalidArgument;
  }
  std::string text =
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n  ";
  text += DescriptionText(update, "rdf", "", "\n  ");
  text += "\n </rdf:RDF>\n</x:xmpmeta>\n";
  for (int line = 0; line < 20; ++line) {
    text += std::string(99, ' ') + "\n";
  }
  text += "<?xpacket end=\"w\"?>";
  packet->assign(text.begin(), text.end());
  return XpStatus::Ok;
}

}  // namespace XpXmpLocation
