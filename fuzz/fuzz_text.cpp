// Drives the text layer's readers and writers with arbitrary bytes and checks
// what must hold for every input: a number read back is finite and survives a
// write and a second read, escaped JSON is well-formed UTF-8 without raw control
// characters, and the UTF-8 check agrees with the sequence lengths it is built on.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xp/text/XpEscape.h"
#include "xp/text/XpHexDigits.h"
#include "xp/text/XpNumberText.h"
#include "xp/text/XpUtf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const auto value = XpParseDecimal(text)) {
    if (!std::isfinite(*value)) {
      std::abort();
    }
    const auto again = XpParseDecimal(XpFormatFixed(*value, 17));
    if (!again || (*value != 0.0 && std::fabs(*again - *value) > std::fabs(*value) * 1e-15 + 1e-17)) {
      std::abort();
    }
  }
  (void)XpParseInteger<int>(text);
  (void)XpParseInteger<std::uint64_t>(text);

  std::size_t pos = 0;
  bool wellFormed = true;
  while (pos < text.size()) {
    const std::size_t length = XpUtf8SequenceLength(text, pos);
    if (length == 0) {
      wellFormed = false;
      break;
    }
    pos += length;
  }
  if (wellFormed != XpIsValidUtf8(text)) {
    std::abort();
  }

  for (const XpJsonStyle style : {XpJsonStyle::Plain, XpJsonStyle::ScriptSafe}) {
    const std::string json = XpJsonString(text, style);
    if (!XpIsValidUtf8(json) || json.size() < 2 || json.front() != '"' || json.back() != '"') {
      std::abort();
    }
    for (const char c : json) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 || b == 0x7F || (style == XpJsonStyle::ScriptSafe && (c == '<' || c == '>' || c == '&'))) {
        std::abort();
      }
    }
    // A text that is well-formed and free of anything to escape comes out as it was.
    if (wellFormed && text.find_first_of(std::string_view("\"\\<>&'\0", 7)) == std::string_view::npos &&
        style == XpJsonStyle::Plain) {
      bool plain = true;
      for (const char c : text) {
        plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
      }
      if (plain && json.substr(1, json.size() - 2) != text) {
        std::abort();
      }
    }
  }
  for (const std::string& html : {XpEscapeHtmlText(text), XpEscapeHtmlAttribute(text)}) {
    if (html.find('<') != std::string::npos || html.find('>') != std::string::npos) {
      std::abort();
    }
  }
  if (size >= 2 && XpHexByteValue(text[0], text[1]) > 0xFF) {
    std::abort();
  }
  return 0;
}
