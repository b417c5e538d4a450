#include "Applications/Terravue/server/HtmlEscape.h"

#include <cstdint>

namespace terravue::server {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendUnicodeEscape(std::string& out, unsigned value) {
  out += "\\u";
  out.push_back(kHex[(value >> 12) & 0xF]);
  out.push_back(kHex[(value >> 8) & 0xF]);
  out.push_back(kHex[(value >> 4) & 0xF]);
  out.push_back(kHex[value & 0xF]);
}

}  // namespace

std::string EscapeHtmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string EscapeHtmlAttribute(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string JsonStringLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2 + text.size() / 8);
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    switch (b) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '<':
      case '>':
      case '&':
      case '\'':
        AppendUnicodeEscape(out, b);
        continue;
      default:
        break;
    }
    if (b < 0x20 || b == 0x7F) {
      AppendUnicodeEscape(out, b);
      continue;
    }
    // U+2028 and U+2029 (E2 80 A8 / E2 80 A9) end a line in older JavaScript parsers.
    if (b == 0xE2 && i + 2 < text.size() && static_cast<std::uint8_t>(text[i + 1]) == 0x80 &&
        (static_cast<std::uint8_t>(text[i + 2]) == 0xA8 || static_cast<std::uint8_t>(text[i + 2]) == 0xA9)) {
      AppendUnicodeEscape(out, static_cast<std::uint8_t>(text[i + 2]) == 0xA8 ? 0x2028u : 0x2029u);
      i += 2;
      continue;
    }
    out.push_back(static_cast<char>(b));
  }
  out.push_back('"');
  return out;
}

}  // namespace terravue::server
