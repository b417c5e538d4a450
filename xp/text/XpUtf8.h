#pragma once

#include <cstddef>
#include <string_view>

/// The length (1 to 4) of the well-formed UTF-8 sequence that starts at
/// text[pos], or 0 when none does there (a stray continuation byte, C0, C1 or
/// F5 to FF, an overlong form, a surrogate, a code point above U+10FFFF, or a
/// sequence cut short). Also 0 when pos is at or past the end.
[[nodiscard]] std::size_t XpUtf8SequenceLength(std::string_view text, std::size_t pos) noexcept;

/// Whether the whole text is well-formed UTF-8 (as XpUtf8SequenceLength judges
/// each sequence). The empty text is.
[[nodiscard]] bool XpIsValidUtf8(std::string_view text) noexcept;
