#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/text/XpEscape.h"

// Plain JSON: well-formed UTF-8 as it is, and each byte of a name that is not
// (file names are bytes) as the code point of its own value, so that the output
// is always well-formed and the same for the same bytes.
std::string ToolJsonObject::Quote(const std::string& text) { return XpJsonString(text, XpJsonStyle::Plain); }

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
