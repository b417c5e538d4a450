#include "xp/image/XpXmlExtent.h"

namespace XpXmlExtent {

std::size_t TagEnd(std::string_view bytes, std::size_t lt) {
  char quote = 0;
  for (std::size_t i = lt + 1; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return kNone;
}

std::size_t After(std::string_view bytes, std::size_t from, std::string_view text) {
  const auto at = bytes.find(text, from);
  return at == std::string_view::npos ? kNone : at + text.size();
}

std::size_t ElementEnd(std::string_view bytes, std::size_t lt, std::size_t* contentBegin, std::size_t* contentEnd) {
  std::size_t i = TagEnd(bytes, lt);
  if (i == kNone) {
    return kNone;
  }
  if (bytes[i - 2] == '/') {
    *contentBegin = *contentEnd = i;
    return i;
  }
  *contentBegin = i;
  std::size_t depth = 1;
  while (i < bytes.size()) {
    if (bytes[i] != '<') {
      ++i;
      continue;
    }
    const std::string_view rest = bytes.substr(i);
    std::size_t next = kNone;
    if (rest.starts_with("<!--")) {
      next = After(bytes, i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      next = After(bytes, i + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      next = After(bytes, i + 2, "?>");
    } else if (rest.starts_with("</")) {
      next = TagEnd(bytes, i);
      if (next != kNone && --depth == 0) {
        *contentEnd = i;
        return next;
      }
    } else {
      next = TagEnd(bytes, i);
      if (next != kNone && bytes[next - 2] != '/') {
        ++depth;
      }
    }
    if (next == kNone) {
      return kNone;
    }
    i = next;
  }
  return kNone;
}

}  // namespace XpXmlExtent
