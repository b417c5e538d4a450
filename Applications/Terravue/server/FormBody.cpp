#include "Applications/Terravue/server/FormBody.h"

#include "xp/text/XpHexDigits.h"
#include "xp/text/XpUtf8.h"

namespace terravue::server {

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
    const int byte = XpHexByteValue(text[i + 1], text[i + 2]);
    if (byte < 0) {
      out.clear();
      return RequestStatus::BadPercentEscape;
    }
    out.push_back(static_cast<char>(byte));
    i += 2;
  }
  if (!XpIsValidUtf8(out)) {
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
