#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

/// Splits a text into lines. A line ends at a line feed; one carriage return
/// before it is dropped too, so files with CR LF and with LF line ends read the
/// same. The last line may lack its line end.
class TextLineReader {
 public:
  explicit TextLineReader(std::string_view text) : m_text(text) {}

  /// The next line without its line end. False at the end of the text.
  /// `hadLineEnd` (may be null) tells whether the line ended with a line feed.
  [[nodiscard]] bool Next(std::string_view* line, bool* hadLineEnd = nullptr);

  [[nodiscard]] bool AtEnd() const { return m_position >= m_text.size(); }

 private:
  std::string_view m_text;
  std::size_t m_position = 0;
};

/// Reads decimal integers out of `text` as directed by `format`, which may hold
/// literal characters, white space and "%d" conversions only. White space in
/// the format matches any run of white space (also none); "%d" skips white
/// space, takes an optional sign and at least one digit, and fails on a value
/// outside int. Scanning stops at the first mismatch. Answers how many values
/// were stored into `out` (never more than out.size()).
[[nodiscard]] int ScanIntegers(std::string_view text, std::string_view format, std::span<int> out);

/// Removes the given characters from the right end.
[[nodiscard]] std::string_view StripRight(std::string_view text, std::string_view characters);
/// Removes the given characters from the left end.
[[nodiscard]] std::string_view StripLeft(std::string_view text, std::string_view characters);

/// True when the text holds a carriage return or a line feed.
[[nodiscard]] bool HasLineBreak(std::string_view text);
