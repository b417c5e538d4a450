#include "Applications/Terravue/mapdata/TrackSniff.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "xp/text/XpAsciiCase.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '-'; }

void SkipSpace(std::string_view& text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
}

// Drops everything up to and including `end`; false when `end` is not there.
bool SkipPast(std::string_view& text, std::string_view end) {
  const auto at = text.find(end);
  if (at == std::string_view::npos) {
    return false;
  }
  text.remove_prefix(at + end.size());
  return true;
}

bool LooksLikeGpx(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  SkipSpace(text);
  if (text.substr(0, 5) == "<?xml" && !SkipPast(text, "?>")) {
    return false;
  }
  SkipSpace(text);
  while (text.substr(0, 4) == "<!--") {
    if (!SkipPast(text, "-->")) {
      return false;
    }
    SkipSpace(text);
  }
  if (text.empty() || text.front() != '<') {
    return false;
  }
  text.remove_prefix(1);
  // The element name, with an optional namespace prefix.
  std::size_t end = 0;
  if (end < text.size() && IsNameStart(text[end])) {
    ++end;
    while (end < text.size() && IsNameChar(text[end])) {
      ++end;
    }
  }
  if (end < text.size() && text[end] == ':') {
    text.remove_prefix(end + 1);
  }
  if (text.substr(0, 3) != "gpx" || text.size() < 4) {
    return false;
  }
  return IsSpace(text[3]) || text[3] == '>' || text[3] == '/';
}

bool LooksLikeNmea(std::string_view text) {
  while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) {
    text.remove_prefix(1);
  }
  if (text.size() < 7 || text[0] != '$') {
    return false;
  }
  for (std::size_t i = 1; i <= 5; ++i) {
    const char c = text[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return text[6] == ',';
}

std::string LowerExtension(const std::string& path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return {};
  }
  return XpAsciiLowered(path.substr(dot + 1));
}

}  // namespace

bool LooksLikeTrackLog(std::string_view head) {
  head = head.substr(0, kTrackSniffBytes);
  return LooksLikeGpx(head) || LooksLikeNmea(head);
}

bool IsTrackLogPath(const std::string& path) {
  const std::string extension = LowerExtension(path);
  if (extension == "gpx" || extension == "nmea") {
    return true;
  }
  if (extension == "jpg" || extension == "jpeg") {
    return false;
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  std::string head(kTrackSniffBytes, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  const std::streamsize got = file.gcount();
  if (got <= 0) {
    return false;
  }
  head.resize(static_cast<std::size_t>(got));
  return LooksLikeTrackLog(head);
}
