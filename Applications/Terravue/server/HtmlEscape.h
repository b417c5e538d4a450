#pragma once

#include <string>
#include <string_view>

namespace terravue::server {

/// Escapes text for an HTML text node: "&", "<" and ">" become character references. Input is
/// expected to be UTF-8; other bytes pass through unchanged.
[[nodiscard]] std::string EscapeHtmlText(std::string_view text);

/// Escapes text for a double- or single-quoted HTML attribute value: as EscapeHtmlText plus both
/// quotes, and tab, line feed and carriage return as numeric references so that they survive
/// attribute-value normalisation unchanged.
[[nodiscard]] std::string EscapeHtmlAttribute(std::string_view text);

/// Writes text as a JSON string literal (with its quotes) that is also safe inside an HTML script
/// element: "<", ">", "&", "'", every control character and U+2028/U+2029 become \uXXXX escapes,
/// so "</script>" or "<!--" can never end or change the element.
[[nodiscard]] std::string JsonStringLiteral(std::string_view text);

}  // namespace terravue::server
