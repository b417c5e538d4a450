#pragma once

// Helpers shared by the tag tree tests: a builder of TIFF data in either byte
// order, a wrapper that puts TIFF data into a JPEG's Exif segment, and a small
// JSON reader for the reference files the tests compare against.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xp/text/XpNumberText.h"

namespace tifftest {

class TiffBuilder {
 public:
  struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::vector<std::uint8_t> data;  // in file byte order; out of line when longer than 4
  };

  explicit TiffBuilder(bool bigEndian) : m_big(bigEndian) {
    m_bytes = {static_cast<std::uint8_t>(m_big ? 'M' : 'I'), static_cast<std::uint8_t>(m_big ? 'M' : 'I')};
    Append16(42);
    Append32(0);
  }

  bool Big() const { return m_big; }
  std::vector<std::uint8_t>& Bytes() { return m_bytes; }

  void SetIFD0(std::uint32_t offset) { Put32(4, offset); }

  // Appends a directory (then its out-of-line values) and answers its offset.
  std::uint32_t AddDirectory(const std::vector<Entry>& entries, std::uint32_t next = 0) {
    if (m_bytes.size() % 2 != 0) {
      m_bytes.push_back(0);
    }
    const auto at = static_cast<std::uint32_t>(m_bytes.size());
    Append16(static_cast<std::uint16_t>(entries.size()));
    std::uint32_t dataAt = at + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
    std::vector<std::uint8_t> side;
    for (const auto& e : entries) {
      Append16(e.tag);
      Append16(e.type);
      Append32(e.count);
      if (e.data.size() <= 4) {
        std::vector<std::uint8_t> field = e.data;
        field.resize(4, 0);
        m_bytes.insert(m_bytes.end(), field.begin(), field.end());
      } else {
        Append32(dataAt + static_cast<std::uint32_t>(side.size()));
        side.insert(side.end(), e.data.begin(), e.data.end());
        if (side.size() % 2 != 0) {
          side.push_back(0);
        }
      }
    }
    Append32(next);
    m_bytes.insert(m_bytes.end(), side.begin(), side.end());
    return at;
  }

  // Overwrites the value field of entry `index` of the directory at `dir`.
  void PatchValue(std::uint32_t dir, std::size_t index, std::uint32_t value) {
    Put32(dir + 2 + 12 * static_cast<std::uint32_t>(index) + 8, value);
  }
  void PatchNext(std::uint32_t dir, std::uint32_t next) {
    const std::uint32_t n = Get16(dir);
    Put32(dir + 2 + 12 * n, next);
  }
  // Appends raw bytes and answers their offset.
  std::uint32_t AppendRaw(const std::vector<std::uint8_t>& raw) {
    const auto at = static_cast<std::uint32_t>(m_bytes.size());
    m_bytes.insert(m_bytes.end(), raw.begin(), raw.end());
    return at;
  }

  std::vector<std::uint8_t> Shorts(std::initializer_list<std::uint16_t> values) const {
    std::vector<std::uint8_t> out;
    for (auto v : values) {
      Encode(out, v, 2);
    }
    return out;
  }
  std::vector<std::uint8_t> Longs(std::initializer_list<std::uint32_t> values) const {
    std::vector<std::uint8_t> out;
    for (auto v : values) {
      Encode(out, v, 4);
    }
    return out;
  }
  std::vector<std::uint8_t> Rationals(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> values) const {
    std::vector<std::uint8_t> out;
    for (auto [n, d] : values) {
      Encode(out, n, 4);
      Encode(out, d, 4);
    }
    return out;
  }
  static std::vector<std::uint8_t> Ascii(std::string_view text) {
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
  }

  Entry Short(std::uint16_t tag, std::uint16_t v) const { return {tag, 3, 1, Shorts({v})}; }
  Entry Long(std::uint16_t tag, std::uint32_t v) const { return {tag, 4, 1, Longs({v})}; }
  Entry Text(std::uint16_t tag, std::string_view text) const {
    auto d = Ascii(text);
    return {tag, 2, static_cast<std::uint32_t>(d.size()), d};
  }

 private:
  void Encode(std::vector<std::uint8_t>& out, std::uint32_t v, int size) const {
    for (int i = 0; i < size; ++i) {
      const int shift = m_big ? 8 * (size - 1 - i) : 8 * i;
      out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
  }
  void Append16(std::uint16_t v) { Encode(m_bytes, v, 2); }
  void Append32(std::uint32_t v) { Encode(m_bytes, v, 4); }
  void Put32(std::uint32_t at, std::uint32_t v) {
    std::vector<std::uint8_t> tmp;
    Encode(tmp, v, 4);
    std::copy(tmp.begin(), tmp.end(), m_bytes.begin() + at);
  }
  std::uint32_t Get16(std::uint32_t at) const {
    return m_big ? (m_bytes[at] << 8) | m_bytes[at + 1] : m_bytes[at] | (m_bytes[at + 1] << 8);
  }

  bool m_big;
  std::vector<std::uint8_t> m_bytes;
};

// A JPEG stream: SOI, the given segments (marker byte and payload), DQT-less
// SOF-free stand-in for the image (a DQT marker) and EOI. Enough for the
// Exif location code, which never looks past the APPn run.
inline std::vector<std::uint8_t> Segment(std::uint8_t marker, const std::vector<std::uint8_t>& payload) {
  const std::size_t len = payload.size() + 2;
  std::vector<std::uint8_t> out = {0xFF, marker, static_cast<std::uint8_t>(len >> 8),
                                   static_cast<std::uint8_t>(len & 0xFF)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

inline std::vector<std::uint8_t> ExifPayload(const std::vector<std::uint8_t>& tiff) {
  std::vector<std::uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
  out.insert(out.end(), tiff.begin(), tiff.end());
  return out;
}

inline std::vector<std::uint8_t> Jpeg(const std::vector<std::vector<std::uint8_t>>& segments) {
  std::vector<std::uint8_t> out = {0xFF, 0xD8};
  for (const auto& s : segments) {
    out.insert(out.end(), s.begin(), s.end());
  }
  const std::vector<std::uint8_t> tail = {0xFF, 0xDB, 0x00, 0x03, 0x00, 0xFF, 0xD9};
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

// A JSON value: enough of JSON for the oracle lines and the vector files.
struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  bool IsNull() const { return kind == Kind::Null; }
  const Json& operator[](const std::string& key) const {
    static const Json kNull;
    auto it = members.find(key);
    return it == members.end() ? kNull : it->second;
  }
  const Json& operator[](std::size_t i) const { return items.at(i); }
  bool Has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : m_text(text) {}

  std::optional<Json> Parse() {
    Json v;
    if (!Value(v)) {
      return std::nullopt;
    }
    Space();
    if (m_pos != m_text.size()) {
      return std::nullopt;
    }
    return v;
  }

 private:
  void Space() {
    while (m_pos < m_text.size() &&
           (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' || m_text[m_pos] == '\r' || m_text[m_pos] == '\t')) {
      ++m_pos;
    }
  }
  bool Literal(std::string_view word) {
    if (m_text.substr(m_pos, word.size()) != word) {
      return false;
    }
    m_pos += word.size();
    return true;
  }
  bool String(std::string& out) {
    if (m_pos >= m_text.size() || m_text[m_pos] != '"') {
      return false;
    }
    ++m_pos;
    while (m_pos < m_text.size() && m_text[m_pos] != '"') {
      char c = m_text[m_pos++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_pos >= m_text.size()) {
        return false;
      }
      c = m_text[m_pos++];
      switch (c) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          if (m_pos + 4 > m_text.size()) {
            return false;
          }
          const unsigned cp =
              static_cast<unsigned>(std::strtoul(std::string(m_text.substr(m_pos, 4)).c_str(), nullptr, 16));
          m_pos += 4;
          if (cp < 0x80) {
            out += static_cast<char>(cp);
          } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default:
          out += c;
          break;
      }
    }
    if (m_pos >= m_text.size()) {
      return false;
    }
    ++m_pos;
    return true;
  }
  bool Value(Json& v) {
    Space();
    if (m_pos >= m_text.size()) {
      return false;
    }
    const char c = m_text[m_pos];
    if (c == '{') {
      v.kind = Json::Kind::Object;
      ++m_pos;
      Space();
      if (m_pos < m_text.size() && m_text[m_pos] == '}') {
        ++m_pos;
        return true;
      }
      for (;;) {
        Space();
        std::string key;
        if (!String(key)) {
          return false;
        }
        Space();
        if (m_pos >= m_text.size() || m_text[m_pos++] != ':') {
          return false;
        }
        Json member;
        if (!Value(member)) {
          return false;
        }
        v.members[key] = std::move(member);
        Space();
        if (m_pos < m_text.size() && m_text[m_pos] == ',') {
          ++m_pos;
          continue;
        }
        if (m_pos < m_text.size() && m_text[m_pos] == '}') {
          ++m_pos;
          return true;
        }
        return false;
      }
    }
    if (c == '[') {
      v.kind = Json::Kind::Array;
      ++m_pos;
      Space();
      if (m_pos < m_text.size() && m_text[m_pos] == ']') {
        ++m_pos;
        return true;
      }
      for (;;) {
        Json item;
        if (!Value(item)) {
          return false;
        }
        v.items.push_back(std::move(item));
        Space();
        if (m_pos < m_text.size() && m_text[m_pos] == ',') {
          ++m_pos;
          continue;
        }
        if (m_pos < m_text.size() && m_text[m_pos] == ']') {
          ++m_pos;
          return true;
        }
        return false;
      }
    }
    if (c == '"') {
      v.kind = Json::Kind::String;
      return String(v.text);
    }
    if (Literal("true")) {
      v.kind = Json::Kind::Bool;
      v.boolean = true;
      return true;
    }
    if (Literal("false")) {
      v.kind = Json::Kind::Bool;
      return true;
    }
    if (Literal("null")) {
      return true;
    }
    const std::size_t start = m_pos;
    while (m_pos < m_text.size() &&
           (std::string_view("+-.eE0123456789").find(m_text[m_pos]) != std::string_view::npos)) {
      ++m_pos;
    }
    if (m_pos == start) {
      return false;
    }
    v.kind = Json::Kind::Number;
    v.text = std::string(m_text.substr(start, m_pos - start));
    v.number = XpParseDecimal(v.text).value_or(0.0);
    return true;
  }

  std::string_view m_text;
  std::size_t m_pos = 0;
};

}  // namespace tifftest
