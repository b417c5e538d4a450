#include "Applications/Terravue/server/FormBody.h"

#include <cstdint>

namespace terravue::server {
namespace {

int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

bool IsWellFormedUtf8(std::string_view bytes) noexcept {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto b0 = static_cast<std::uint8_t>(bytes[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    // The second byte's range excludes overlong forms (E0, F0), surrogates (ED) and code points
    // above U+10FFFF (F4); C0, C1 and F5..FF never start a sequence.
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      if (b0 == 0xE0) {
        low = 0xA0;
      } else if (b0 == 0xED) {
        high = 0x9F;
      }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      if (b0 == 0xF0) {
        low = 0x90;
      } else if (b0 == 0xF4) {
        high = 0x8F;
      }
    } else {
      return false;
    }
    if (n - i < length) {
      return false;
    }
    const auto b1 = static_cast<std::uint8_t>(bytes[i + 1]);
    if (b1 < low || b1 > high) {
      return false;
    }
    for (std::size_t k = 2; k < length; ++k) {
      const auto bk = static_cast<std::uint8_t>(bytes[i + k]);
      if (bk < 0x80 || bk > 0xBF) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

RequestStatus DecodeFormComponent(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
      continue;
    }
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (text.size() - i < 3) {
      out.clear();
      return RequestStatus::BadPercentEscape;
    }
    const int hi = HexValue(text[i + 1]);
    const int lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0) {
      out.clear();
      return RequestStatus::BadPercentEscape;
    }
    out.push_back(static_cast<char>((hi << 4) | lo));
    i += 2;
  }
  if (!IsWellFormedUtf8(out)) {
    out.clear();
    return RequestStatus::InvalidUtf8;
  }
  return RequestStatus::Ok;
}

RequestStatus ParseFormBody(std::string_view body, std::vector<FormField>& fields) {
  fields.clear();
  if (body.empty()) {
    return RequestStatus::Ok;
  }
  // One "&" at the very end is a harmless habit of some senders.
  if (body.back() == '&') {
    body.remove_suffix(1);
  }
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) {
      end = body.size();
    }
    const std::string_view pair = body.substr(start, end - start);
    const std::size_t eq = pair.find('=');
    const std::string_view rawName = pair.substr(0, eq);
    const std::string_view rawValue = eq == std::string_view::npos ? std::string_view{} : pair.substr(eq + 1);
    if (rawName.empty()) {
      fields.clear();
      return RequestStatus::EmptyName;
    }
    if (fields.size() >= kMaxFormFields) {
      fields.clear();
      return RequestStatus::TooManyFields;
    }
    FormField field;
    if (auto st = DecodeFormComponent(rawName, field.name); st != RequestStatus::Ok) {
      fields.clear();
      return st;
    }
    if (auto st = DecodeFormComponent(rawValue, field.value); st != RequestStatus::Ok) {
      fields.clear();
      return st;
    }
    fields.push_back(std::move(field));
    start = end + 1;
  }
  return RequestStatus::Ok;
}

}  // namespace terravue::server
