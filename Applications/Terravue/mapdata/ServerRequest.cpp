#include "Applications/Terravue/mapdata/ServerRequest.h"

#include <algorithm>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "xp/text/XpHexDigits.h"

namespace {

bool IsKeptByte(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
    return true;
  }
  switch (c) {
    case '!':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '-':
    case '.':
    case '/':
    case ':':
    case '_':
    case '~':
      return true;
    default:
      return false;
  }
}

void AppendPair(std::string& body, std::string_view name, std::string_view value) {
  if (!body.empty()) {
    body.push_back('&');
  }
  body += name;
  body.push_back('=');
  body += FormEncode(value);
}

}  // namespace

std::string FormEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsKeptByte(c)) {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      XpAppendHex(out, c, 2);
    }
  }
  return out;
}

std::string BuildServerRequest(const MapState& state, const RequestContext& context) {
  std::string body;
  AppendPair(body, "format_version", "1.1");
  AppendPair(body, "client_name", "Terravue");
  AppendPair(body, "client_version", context.clientVersion);
  AppendPair(body, "lang", context.languageCode);
  AppendPair(body, "map_zoom", state.m_zoom);
  AppendPair(body, "map_latitude", state.m_latitude);
  AppendPair(body, "map_longitude", state.m_longitude);
  std::string base = state.m_rootFolder;
  std::replace(base.begin(), base.end(), kMapPathSeparator, '/');
  AppendPair(body, "base", base + "/");

  int selection = 1;
  int number = 0;
  for (const PictureRecord& record : state.m_pictures.Records()) {
    ++number;
    const std::string n = std::to_string(number);
    AppendPair(body, "pic_path" + n, record.m_path);
    AppendPair(body, "pic_cache" + n, record.ThumbnailRelativePath());
    AppendPair(body, "pic_latitude" + n, record.m_latitude);
    AppendPair(body, "pic_longitude" + n, record.m_longitude);
    AppendPair(body, "pic_time" + n, record.m_timeText);
    AppendPair(body, "pic_cx" + n, std::to_string(record.m_width));
    AppendPair(body, "pic_cy" + n, std::to_string(record.m_height));
    if (record.m_selected != 0) {
      selection = number;
    }
  }
  AppendPair(body, "select", std::to_string(number > 0 ? selection : 0));
  return body;
}
