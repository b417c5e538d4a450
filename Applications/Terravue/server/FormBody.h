#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/server/RequestStatus.h"

namespace terravue::server {

/// One decoded name=value pair of a URL-encoded form body.
struct FormField {
  std::string name;
  std::string value;
};

/// The most pairs one body may carry. The program sends eight head fields, seven per picture and
/// "select"; this allows well over ten thousand pictures while bounding the work per request.
inline constexpr std::size_t kMaxFormFields = 200000;

/// Decodes one form-encoded component: "+" becomes a blank and "%hh" the byte hh (either letter
/// case). Answers BadPercentEscape for a "%" without two hexadecimal digits and InvalidUtf8 when
/// the decoded bytes are not well-formed UTF-8 (overlong forms, surrogates and values above
/// U+10FFFF are refused). `out` is replaced, and left empty on failure.
[[nodiscard]] RequestStatus DecodeFormComponent(std::string_view text, std::string& out);

/// Splits an application/x-www-form-urlencoded body into decoded pairs, in body order.
/// Pairs are separated by "&"; a pair without "=" has an empty value; an empty body gives no pairs
/// and one trailing "&" is tolerated. Answers EmptyName for a pair with an empty name (including
/// "&&"), TooManyFields past kMaxFormFields, or the first decoding failure; `fields` is cleared on
/// failure.
[[nodiscard]] RequestStatus ParseFormBody(std::string_view body, std::vector<FormField>& fields);

}  // namespace terravue::server
