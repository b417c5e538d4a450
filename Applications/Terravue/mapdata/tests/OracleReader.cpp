#include "Applications/Terravue/mapdata/tests/OracleReader.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : m_text(text) {}

  bool Value(OracleValue* out, int depth) {
    if (depth > 32) {
      return false;
    }
    Skip();
    if (m_pos >= m_text.size()) {
      return false;
    }
    const char c = m_text[m_pos];
    if (c == '{') {
      return Object(out, depth);
    }
    if (c == '[') {
      return Array(out, depth);
    }
    if (c == '"') {
      out->kind = OracleValue::Kind::String;
      return String(&out->text);
    }
    if (m_text.compare(m_pos, 4, "null") == 0) {
      m_pos += 4;
      out->kind = OracleValue::Kind::Null;
      return true;
    }
    if (m_text.compare(m_pos, 4, "true") == 0 || m_text.compare(m_pos, 5, "false") == 0) {
      out->kind = OracleValue::Kind::Bool;
      out->boolean = c == 't';
      m_pos += out->boolean ? 4 : 5;
      return true;
    }
    // from_chars reads the same whatever the process locale; it takes no "+".
    const char* const begin = m_text.data() + m_pos + (m_text[m_pos] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(begin, m_text.data() + m_text.size(), out->number);
    if (ec != std::errc()) {
      return false;
    }
    out->kind = OracleValue::Kind::Number;
    m_pos = static_cast<std::size_t>(end - m_text.data());
    return true;
  }

  bool AtEnd() {
    Skip();
    return m_pos == m_text.size();
  }

 private:
  void Skip() {
    while (m_pos < m_text.size() &&
           (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' || m_text[m_pos] == '\r' || m_text[m_pos] == '\t')) {
      ++m_pos;
    }
  }

  bool Expect(char c) {
    Skip();
    if (m_pos < m_text.size() && m_text[m_pos] == c) {
      ++m_pos;
      return true;
    }
    return false;
  }

  static void AppendUtf8(std::string* out, unsigned code) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  bool String(std::string* out) {
    if (!Expect('"')) {
      return false;
    }
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos++];
      if (c == '"') {
        return true;
      }
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (m_pos >= m_text.size()) {
        return false;
      }
      const char e = m_text[m_pos++];
      switch (e) {
        case 'n':
          out->push_back('\n');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'u': {
          if (m_pos + 4 > m_text.size()) {
            return false;
          }
          AppendUtf8(out, static_cast<unsigned>(std::strtoul(m_text.substr(m_pos, 4).c_str(), nullptr, 16)));
          m_pos += 4;
          break;
        }
        default:
          out->push_back(e);
      }
    }
    return false;
  }

  bool Array(OracleValue* out, int depth) {
    out->kind = OracleValue::Kind::Array;
    ++m_pos;
    if (Expect(']')) {
      return true;
    }
    do {
      OracleValue item;
      if (!Value(&item, depth + 1)) {
        return false;
      }
      out->items.push_back(std::move(item));
    } while (Expect(','));
    return Expect(']');
  }

  bool Object(OracleValue* out, int depth) {
    out->kind = OracleValue::Kind::Object;
    ++m_pos;
    if (Expect('}')) {
      return true;
    }
    do {
      Skip();
      std::string key;
      if (!String(&key) || !Expect(':')) {
        return false;
      }
      OracleValue value;
      if (!Value(&value, depth + 1)) {
        return false;
      }
      out->fields[key] = std::move(value);
    } while (Expect(','));
    return Expect('}');
  }

  const std::string& m_text;
  std::size_t m_pos = 0;
};

}  // namespace

const OracleValue& OracleValue::operator[](const std::string& key) const {
  static const OracleValue kNull;
  const auto it = fields.find(key);
  return it == fields.end() ? kNull : it->second;
}

std::optional<OracleValue> ParseOracleJson(const std::string& text) {
  Parser parser(text);
  OracleValue value;
  if (!parser.Value(&value, 0) || !parser.AtEnd()) {
    return std::nullopt;
  }
  return value;
}

std::vector<OracleValue> ReadOracle() {
  std::vector<OracleValue> records;
  std::ifstream in(std::string(TV_TESTDATA_DIR) + "/camera/oracle.jsonl");
  std::string line;
  while (std::getline(in, line)) {
    if (auto value = ParseOracleJson(line)) {
      records.push_back(std::move(*value));
    }
  }
  return records;
}
