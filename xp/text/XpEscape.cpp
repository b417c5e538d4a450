#include "xp/text/XpEscape.h"

#include <cstdint>

#include "xp/text/XpHexDigits.h"
#include "xp/text/XpUtf8.h"

namespace {

void AppendUnicodeEscape(std::string& out, unsigned value) {
  out += "\\u";
  XpAppendHex(out, value, 4);
}

// The reference for a character an HTML escape replaces, or nothing.
std::string_view HtmlReference(char c, bool attribute) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    default:
      break;
  }
  if (!attribute) {
    return {};
  }
  switch (c) {
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    case '\t':
      return "&#9;";
    case '\n':
      return "&#10;";
    case '\r':
      return "&#13;";
    default:
      return {};
  }
}

std::string EscapeHtml(std::string_view text, bool attribute) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    if (const std::string_view reference = HtmlReference(c, attribute); !reference.empty()) {
      out += reference;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

void XpAppendJsonEscaped(std::string& out, std::string_view text, XpJsonStyle style) {
  const bool scriptSafe = style == XpJsonStyle::ScriptSafe;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    switch (b) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      case '<':
      case '>':
      case '&':
      case '\'':
        if (scriptSafe) {
          AppendUnicodeEscape(out, b);
          ++i;
          continue;
        }
        break;
      default:
        break;
    }
    if (b < 0x20 || b == 0x7F) {
      AppendUnicodeEscape(out, b);
      ++i;
      continue;
    }
    const std::size_t length = XpUtf8SequenceLength(text, i);
    if (length == 0) {
      AppendUnicodeEscape(out, b);
      ++i;
      continue;
    }
    // U+2028 and U+2029 (E2 80 A8 / E2 80 A9) end a line in older JavaScript parsers.
    if (scriptSafe && length == 3 && b == 0xE2 && static_cast<std::uint8_t>(text[i + 1]) == 0x80 &&
        (static_cast<std::uint8_t>(text[i + 2]) == 0xA8 || static_cast<std::uint8_t>(text[i + 2]) == 0xA9)) {
      AppendUnicodeEscape(out, static_cast<std::uint8_t>(text[i + 2]) == 0xA8 ? 0x2028u : 0x2029u);
      i += 3;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
}

std::string XpJsonString(std::string_view text, XpJsonStyle style) {
  std::string out;
  out.reserve(text.size() + 2 + text.size() / 8);
  out.push_back('"');
  XpAppendJsonEscaped(out, text, style);
  out.push_back('"');
  return out;
}

std::string XpEscapeHtmlText(std::string_view text) { return EscapeHtml(text, /*attribute=*/false); }

std::string XpEscapeHtmlAttribute(std::string_view text) { return EscapeHtml(text, /*attribute=*/true); }
