#pragma once

#include <string>
#include <string_view>

/// How a JSON string is written.
enum class XpJsonStyle {
  /// Plain JSON: quote and backslash escaped, "\n", "\r" and "\t" as short
  /// escapes, every other control character and DEL as \u00XX.
  Plain,
  /// As Plain, and also safe inside an HTML script element: "<", ">", "&" and
  /// "'" as \u00XX, U+2028 and U+2029 as \u2028 and \u2029, so "</script>" or
  /// "<!--" can never end or change the element.
  ScriptSafe,
};

/// Appends text as the inside of a JSON string (no quotes). Well-formed UTF-8
/// passes through; each byte that is no part of a well-formed sequence is
/// written as \u00XX of its own value (read as Latin-1), so the output is
/// always well-formed UTF-8 and always the same for the same bytes.
void XpAppendJsonEscaped(std::string& out, std::string_view text, XpJsonStyle style);

/// Text as a JSON string literal, with its quotes.
[[nodiscard]] std::string XpJsonString(std::string_view text, XpJsonStyle style);

/// Escapes text for an HTML text node: "&", "<" and ">" become character
/// references. Other bytes pass through unchanged.
[[nodiscard]] std::string XpEscapeHtmlText(std::string_view text);

/// Escapes text for a double- or single-quoted HTML attribute value: as
/// XpEscapeHtmlText plus both quotes, and tab, line feed and carriage return as
/// numeric references so that they survive attribute-value normalisation.
[[nodiscard]] std::string XpEscapeHtmlAttribute(std::string_view text);
