#pragma once

#include <cstddef>
#include <string_view>

/// Extents of elements in the bytes of an XML document that a parser has
/// already accepted. An edit that changes one property splices these ranges
/// and keeps every other byte as it was, which a parse-and-serialise round
/// trip would not.
namespace XpXmlExtent {

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

/// One past the '>' of the tag whose '<' is at `lt`, quoted attribute values
/// honoured; kNone when the bytes end first.
[[nodiscard]] std::size_t TagEnd(std::string_view bytes, std::size_t lt);

/// One past the first `text` at or after `from`; kNone when there is none.
[[nodiscard]] std::size_t After(std::string_view bytes, std::size_t from, std::string_view text);

/// The element whose '<' is at `lt`: answers one past its end tag, and sets
/// `*contentBegin` and `*contentEnd` to what lies between its start and end
/// tag (both the answer for an empty-element tag). Comments, CDATA sections
/// and processing instructions inside are stepped over whole. kNone when the
/// bytes end before the element does.
[[nodiscard]] std::size_t ElementEnd(std::string_view bytes, std::size_t lt, std::size_t* contentBegin,
                                     std::size_t* contentEnd);

}  // namespace XpXmlExtent
