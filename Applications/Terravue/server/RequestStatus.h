#pragma once

#include <cstdint>
#include <string_view>

namespace terravue::server {

/// Outcome of reading a form body sent to the map script.
enum class RequestStatus : std::uint8_t {
  Ok = 0,
  BadPercentEscape,  ///< "%" not followed by two hexadecimal digits
  InvalidUtf8,       ///< a decoded name or value is not well-formed UTF-8
  EmptyName,         ///< a pair with no name ("=x" or "&&")
  DuplicateField,    ///< the same name twice
  TooManyFields,     ///< more pairs than the server accepts in one body
  MissingField,      ///< a field the map page needs is absent
  BadNumber,         ///< a numeric field is not a plain decimal in range
  BadPictureIndex,   ///< a picture field whose number is malformed, out of range or leaves a gap
};

/// A short English text for a status, used as the body of a 400 answer.
[[nodiscard]] std::string_view RequestStatusText(RequestStatus status) noexcept;

}  // namespace terravue::server
