// Reading property-list documents through the XML parser, and writing them.
#include "xp/ini/XpIniXml.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <new>
#include <pugixml.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "xp/ini/XpIniArray.h"
#include "xp/ini/XpIniBool.h"
#include "xp/ini/XpIniDate.h"
#include "xp/ini/XpIniDict.h"
#include "xp/ini/XpIniInt.h"
#include "xp/ini/XpIniMemChunk.h"
#include "xp/ini/XpIniPath.h"
#include "xp/ini/XpIniReal.h"
#include "xp/ini/XpIniString.h"
#include "xp/text/XpHexDigits.h"
#include "xp/text/XpNumberText.h"

namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// The parser drops whitespace-only text between elements and skips comments;
// later reading skips comments anyway, so a document read with other options
// gives the same tree.
constexpr unsigned kParseOptions = pugi::parse_default;

bool IsComment(const pugi::xml_node& node) { return node.type() == pugi::node_comment; }

bool IsElementNamed(const pugi::xml_node& node, std::string_view name) {
  return node.type() == pugi::node_element && name == node.name();
}

pugi::xml_node NextNonComment(pugi::xml_node node) {
  node = node.next_sibling();
  while (node && IsComment(node)) {
    node = node.next_sibling();
  }
  return node;
}

// The content of an element's first text child; CDATA sections and later text
// children are not read.
std::string_view ElementText(const pugi::xml_node& element) {
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_pcdata) {
      return child.value();
    }
  }
  return {};
}

// Characters that are no hexadecimal digit count as 0 and are not reported.
int HexNibble(char c) { return std::max(0, XpHexDigitValue(c)); }

double ReadReal(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r')) {
    ++pos;
  }
  if (pos < text.size() && text[pos] == '+') {
    ++pos;
  }
  double value = 0.0;
  // from_chars never consults the process locale, so a decimal comma there changes nothing.
  const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
  (void)end;
  return ec == std::errc() ? value : 0.0;
}

class DocumentReader {
 public:
  // Reads the key/value pairs of a "dict" element. Answers 0x8504 at the first
  // node where a key belongs but none is; the entries read before stay.
  XpStatus ReadDict(const pugi::xml_node& element, XpIniDict& dict, int depth) {
    pugi::xml_node node = element.first_child();
    while (node && IsComment(node)) {
      node = node.next_sibling();
    }
    while (node) {
      if (!IsElementNamed(node, "key")) {
        return XpStatus::StructureError;
      }
      const std::string_view key = ElementText(node);
      if (key.empty()) {
        return XpStatus::StructureError;
      }
      const pugi::xml_node valueNode = NextNonComment(node);
      if (!valueNode) {
        return XpStatus::Ok;  // a last key without a value ends the dictionary
      }
      std::unique_ptr<XpIniElement> value;
      if (Convert(valueNode, depth, value) == XpStatus::Ok) {
        // The key may be a path; a value that can't be placed (such as a
        // duplicate key, where the first value wins) is dropped.
        (void)dict.AddElement(key, std::move(value));
      }
      node = NextNonComment(valueNode);
    }
    return XpStatus::Ok;
  }

 private:
  void ReadArray(const pugi::xml_node& element, XpIniArray& array, int depth) {
    for (pugi::xml_node node = element.first_child(); node; node = node.next_sibling()) {
      if (IsComment(node)) {
        continue;
      }
      std::unique_ptr<XpIniElement> value;
      if (Convert(node, depth, value) == XpStatus::Ok) {
        (void)array.InsertElement(-1, std::move(value));
      }
    }
  }

  // Turns one value element into a node. Errors inside a nested container stay
  // inside it: the container is kept with what could be read.
  XpStatus Convert(const pugi::xml_node& node, int depth, std::unique_ptr<XpIniElement>& out) {
    if (node.type() != pugi::node_element) {
      return XpStatus::StructureError;
    }
    const std::string_view name = node.name();
    if (name == "true" || name == "false") {
      out = std::make_unique<XpIniBool>(name == "true");
      return XpStatus::Ok;
    }
    if (name == "integer") {
      out = std::make_unique<XpIniInt>(XpIniReadDecimal(ElementText(node)));
      return XpStatus::Ok;
    }
    if (name == "real") {
      out = std::make_unique<XpIniReal>(ReadReal(ElementText(node)));
      return XpStatus::Ok;
    }
    if (name == "string") {
      out = std::make_unique<XpIniString>(ElementText(node));
      return XpStatus::Ok;
    }
    if (name == "data") {
      const std::string_view text = ElementText(node);
      std::vector<std::uint8_t> bytes(text.size() / 2);
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((HexNibble(text[2 * i]) << 4) | HexNibble(text[2 * i + 1]));
      }
      auto chunk = std::make_unique<XpIniMemChunk>();
      if (auto st = chunk->SetBytes(bytes); st != XpStatus::Ok) {
        return st;
      }
      out = std::move(chunk);
      return XpStatus::Ok;
    }
    if (name == "date") {
      auto date = std::make_unique<XpIniDate>();
      if (auto st = date->ReadText(ElementText(node)); st != XpStatus::Ok) {
        return st;
      }
      out = std::move(date);
      return XpStatus::Ok;
    }
    if (name == "array" || name == "dict") {
      if (depth >= XpIniDict::kMaxDepth) {
        return XpStatus::StructureError;
      }
      if (name == "array") {
        auto array = std::make_unique<XpIniArray>();
        ReadArray(node, *array, depth + 1);
        out = std::move(array);
      } else {
        auto dict = std::make_unique<XpIniDict>();
        (void)ReadDict(node, *dict, depth + 1);
        out = std::move(dict);
      }
      return XpStatus::Ok;
    }
    return XpStatus::StructureError;  // "key" or any other element where a value belongs
  }
};

// Writes text for element content: markup characters as entities, and the
// characters a parser would not hand back as they were as character
// references: a carriage return (line ends are normalised when read), other
// control characters, and the white space of a text that is nothing but white
// space (such text is dropped between elements when read).
void AppendEscaped(std::string& out, std::string_view text) {
  const bool allBlank = text.find_first_not_of(" \t\r\n") == std::string_view::npos;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      default:
        break;
    }
    const bool blank = c == ' ' || c == '\t' || c == '\n';
    if ((u < 0x20 && c != '\t' && c != '\n') || (allBlank && blank)) {
      out += "&#";
      out += std::to_string(static_cast<unsigned>(u));
      out += ';';
      continue;
    }
    out += c;
  }
}

void AppendElement(std::string& out, std::string_view name, std::string_view text) {
  out += '<';
  out += name;
  if (text.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  AppendEscaped(out, text);
  out += "</";
  out += name;
  out += '>';
}

void AppendDict(std::string& out, const XpIniDict& dict);

void AppendValue(std::string& out, const XpIniElement& value) {
  switch (value.GetType()) {
    case XpIniType::Bool: {
      bool flag = false;
      (void)value.GetBool(flag);
      out += flag ? "<true/>" : "<false/>";
      return;
    }
    case XpIniType::Int: {
      std::int64_t number = 0;
      (void)value.GetInt64(number);
      char buf[32];
      const auto res = std::to_chars(buf, buf + sizeof buf, number);
      AppendElement(out, "integer", std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
      return;
    }
    case XpIniType::Real: {
      double number = 0.0;
      (void)value.GetReal(number);
      // Fixed notation with 15 decimals, never an exponent, whatever the process locale.
      AppendElement(out, "real", XpFormatFixed(number, 15));
      return;
    }
    case XpIniType::String: {
      std::string text;
      (void)value.GetString(text);
      AppendElement(out, "string", text);
      return;
    }
    case XpIniType::MemChunk: {
      const auto bytes = static_cast<const XpIniMemChunk&>(value).GetBytes();
      std::string text;
      text.reserve(bytes.size() * 2);
      for (const std::uint8_t byte : bytes) {
        XpAppendHex(text, byte, 2);
      }
      AppendElement(out, "data", text);
      return;
    }
    case XpIniType::Date:
      AppendElement(out, "date", static_cast<const XpIniDate&>(value).WriteText());
      return;
    case XpIniType::Array: {
      if (value.GetCount() == 0) {
        out += "<array/>";
        return;
      }
      out += "<array>";
      for (int i = 0; i < value.GetCount(); ++i) {
        if (const XpIniElement* item = value.GetAt(i); item != nullptr) {
          AppendValue(out, *item);
        }
      }
      out += "</array>";
      return;
    }
    case XpIniType::Dict: {
      const auto& dict = static_cast<const XpIniDict&>(value);
      if (dict.GetCount() == 0) {
        out += "<dict/>";
        return;
      }
      out += "<dict>";
      AppendDict(out, dict);
      out += "</dict>";
      return;
    }
  }
}

void AppendDict(std::string& out, const XpIniDict& dict) {
  dict.ForEach([&](const std::string& key, const XpIniElement& value) {
    AppendElement(out, "key", key);
    AppendValue(out, value);
  });
}

}  // namespace

XpStatus XpIniReadDocument(std::string_view bytes, bool detectEncoding, XpIniDict& root) {
  try {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(bytes.data(), bytes.size(), kParseOptions,
                                                          detectEncoding ? pugi::encoding_auto : pugi::encoding_utf8);
    if (parsed.status == pugi::status_out_of_memory) {
      return XpStatus::OutOfMemory;
    }
    if (parsed.status == pugi::status_no_document_element) {
      return XpStatus::XmlFailed;
    }
    if (!parsed) {
      return XpStatus::XmlParseFailed;
    }
    const pugi::xml_node plist = doc.document_element();
    if (!plist) {
      return XpStatus::XmlFailed;
    }
    if (std::string_view(plist.name()) != "plist") {
      return XpStatus::StructureError;
    }
    for (pugi::xml_node child = plist.first_child(); child; child = child.next_sibling()) {
      if (IsElementNamed(child, "dict")) {
        DocumentReader reader;
        return reader.ReadDict(child, root, 0);
      }
    }
    return XpStatus::StructureError;
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
}

XpStatus XpIniWriteDocument(const XpIniDict& root, std::string& out) {
  out.clear();
  try {
    out += kDeclaration;
    out += "<plist version=\"1.0\"><dict>";
    AppendDict(out, root);
    out += "</dict></plist>";
  } catch (const std::bad_alloc&) {
    out.clear();
    return XpStatus::OutOfMemory;
  }
  return XpStatus::Ok;
}
