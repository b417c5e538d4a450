#include "Applications/Terravue/server/MapPage.h"

#include <cstdint>

#include "xp/text/XpEscape.h"
#include "xp/text/XpHexDigits.h"

namespace terravue::server {
namespace {

bool IsUnreservedUrlByte(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

void AppendPercentEncoded(std::string& out, std::string_view segment) {
  for (const char ch : segment) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreservedUrlByte(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      XpAppendHex(out, c, 2, XpHexCase::Upper);
    }
  }
}

void AppendHidden(std::string& out, std::string_view name, std::string_view value) {
  out += "<input type=\"hidden\" name=\"";
  out += XpEscapeHtmlAttribute(name);
  out += "\" value=\"";
  out += XpEscapeHtmlAttribute(value);
  out += "\"/>\n";
}

void AppendJsonMember(std::string& out, std::string_view key, std::string_view value) {
  out += XpJsonString(key, XpJsonStyle::ScriptSafe);
  out.push_back(':');
  out += XpJsonString(value, XpJsonStyle::ScriptSafe);
}

void AppendJsonMember(std::string& out, std::string_view key, long long value) {
  out += XpJsonString(key, XpJsonStyle::ScriptSafe);
  out.push_back(':');
  out += std::to_string(value);
}

}  // namespace

std::string_view DisplayName(std::string_view path) noexcept {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string ThumbnailUrl(std::string_view prefix, std::string_view cache) {
  if (cache.empty() || cache.front() == '/' || cache.front() == '\\') {
    return {};
  }
  std::string out(prefix);
  std::size_t start = 0;
  bool first = true;
  while (start <= cache.size()) {
    std::size_t end = cache.find_first_of("/\\", start);
    if (end == std::string_view::npos) {
      end = cache.size();
    }
    const std::string_view segment = cache.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") {
      return {};
    }
    for (const char ch : segment) {
      const auto c = static_cast<unsigned char>(ch);
      // A ":" would let "C:" or "file:" stand in front of the path.
      if (c < 0x20 || c == 0x7F || c == ':') {
        return {};
      }
    }
    if (!first) {
      out.push_back('/');
    }
    first = false;
    AppendPercentEncoded(out, segment);
    start = end + 1;
  }
  return out;
}

std::string RenderHiddenFields(const MapRequest& request) {
  std::string out;
  out.reserve(256 + request.pictures.size() * 160);
  AppendHidden(out, "map_zoom", request.zoom);
  AppendHidden(out, "map_latitude", request.latitude);
  AppendHidden(out, "map_longitude", request.longitude);
  AppendHidden(out, "pic_count", std::to_string(request.pictures.size()));
  for (std::size_t i = 0; i < request.pictures.size(); ++i) {
    const std::string k = std::to_string(i + 1);
    const MapRequestPicture& picture = request.pictures[i];
    AppendHidden(out, "pic_modify" + k, "0");
    AppendHidden(out, "pic_latitude" + k, picture.latitude);
    AppendHidden(out, "pic_longitude" + k, picture.longitude);
  }
  return out;
}

std::string RenderMapData(const MapRequest& request, const MapPageSettings& settings) {
  std::string out;
  out.reserve(512 + request.pictures.size() * 320);
  out.push_back('{');
  AppendJsonMember(out, "lang", request.language == PageLanguage::Japanese ? "JPN" : "ENU");
  out.push_back(',');
  AppendJsonMember(out, "select", static_cast<long long>(request.select));
  out.push_back(',');
  AppendJsonMember(out, "zoom", request.zoom);
  out.push_back(',');
  AppendJsonMember(out, "lat", request.latitude);
  out.push_back(',');
  AppendJsonMember(out, "lng", request.longitude);
  out.push_back(',');
  AppendJsonMember(out, "tileUrl", settings.tileUrl);
  out.push_back(',');
  AppendJsonMember(out, "tileAttribution", settings.tileAttribution);
  out.push_back(',');
  AppendJsonMember(out, "maxZoom", settings.maxZoom);
  if (!settings.layers.empty()) {
    out += ",\"tileLayers\":[";
    for (std::size_t i = 0; i < settings.layers.size(); ++i) {
      const TileLayer& layer = settings.layers[i];
      out += i == 0 ? "{" : ",{";
      AppendJsonMember(out, "name", layer.name);
      out.push_back(',');
      AppendJsonMember(out, "url", layer.url);
      out.push_back(',');
      AppendJsonMember(out, "attribution", layer.attribution);
      out.push_back(',');
      AppendJsonMember(out, "maxZoom", layer.maxZoom);
      out += layer.referer ? ",\"referer\":true}" : ",\"referer\":false}";
    }
    out.push_back(']');
  }
  if (!settings.tileNotice.empty()) {
    out.push_back(',');
    AppendJsonMember(out, "tileNotice", settings.tileNotice);
  }
  out += ",\"editable\":true,\"pictures\":[";
  for (std::size_t i = 0; i < request.pictures.size(); ++i) {
    const MapRequestPicture& p = request.pictures[i];
    if (i != 0) {
      out.push_back(',');
    }
    out.push_back('{');
    AppendJsonMember(out, "name", DisplayName(p.path));
    out.push_back(',');
    AppendJsonMember(out, "path", p.path);
    out.push_back(',');
    AppendJsonMember(out, "thumb", ThumbnailUrl(settings.thumbnailPrefix, p.cache));
    out.push_back(',');
    AppendJsonMember(out, "lat", p.latitude);
    out.push_back(',');
    AppendJsonMember(out, "lng", p.longitude);
    out.push_back(',');
    AppendJsonMember(out, "time", p.time);
    out.push_back(',');
    AppendJsonMember(out, "width", p.width);
    out.push_back(',');
    AppendJsonMember(out, "height", p.height);
    out.push_back('}');
  }
  out += "]}";
  return out;
}

std::string RenderMapPage(std::string_view pageTemplate, const MapRequest& request, const MapPageSettings& settings) {
  std::string out;
  out.reserve(pageTemplate.size() + 1024 + request.pictures.size() * 480);
  std::size_t pos = 0;
  while (pos < pageTemplate.size()) {
    const std::size_t open = pageTemplate.find("{{", pos);
    if (open == std::string_view::npos) {
      break;
    }
    const std::size_t close = pageTemplate.find("}}", open + 2);
    if (close == std::string_view::npos) {
      break;
    }
    out.append(pageTemplate.substr(pos, open - pos));
    const std::string_view token = pageTemplate.substr(open + 2, close - open - 2);
    if (token == "HTML_LANG") {
      out += request.language == PageLanguage::Japanese ? "ja" : "en";
    } else if (token == "TITLE") {
      out += "Terravue";
    } else if (token == "SCRIPT") {
      out += kScriptUrlPath;
    } else if (token == "DATA") {
      out += RenderMapData(request, settings);
    } else if (token == "FIELDS") {
      out += RenderHiddenFields(request);
    } else {
      out.append(pageTemplate.substr(open, close + 2 - open));
    }
    pos = close + 2;
  }
  out.append(pageTemplate.substr(pos));
  return out;
}

}  // namespace terravue::server
