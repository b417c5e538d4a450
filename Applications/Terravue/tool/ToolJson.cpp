#include <cstdio>

#include "Applications/Terravue/tool/ToolCommands.h"

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when there is none.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  std::size_t len = 0;
  if (b < 0x80) {
    return 1;
  }
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
  } else {
    return 0;
  }
  if (i + len > text.size()) {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return len;
}

}  // namespace

std::string ToolJsonObject::Quote(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    char esc[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
    } else if (const std::size_t len = Utf8Length(text, i); len > 0) {
      out.append(text, i, len);
      i += len;
    } else {
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
    }
  }
  out += '"';
  return out;
}

void ToolJsonObject::Key(const char* key) {
  if (!m_first) {
    m_out << ", ";
  }
  m_first = false;
  m_out << Quote(key) << ": ";
}

void ToolJsonObject::Null(const char* key) {
  Key(key);
  m_out << "null";
}

void ToolJsonObject::Bool(const char* key, bool value) {
  Key(key);
  m_out << (value ? "true" : "false");
}

void ToolJsonObject::Number(const char* key, long long value) {
  Key(key);
  m_out << value;
}

void ToolJsonObject::Text(const char* key, const std::string& value) {
  Key(key);
  m_out << Quote(value);
}

void ToolJsonObject::Raw(const char* key, const std::string& json) {
  Key(key);
  m_out << json;
}
