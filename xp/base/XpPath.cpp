#include "xp/base/XpPath.h"

#include <cstdint>

bool XpIsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == kXpPathSeparator; }

std::string XpGetExtension(std::string_view path) {
  const auto sep = path.rfind(kXpPathSeparator);
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos || (sep != std::string_view::npos && dot < sep)) {
    return {};
  }
  return std::string(path.substr(dot));
}

std::string XpGetFileName(std::string_view path) {
  const auto sep = path.rfind(kXpPathSeparator);
  if (sep == std::string_view::npos) {
    return std::string(path);
  }
  return std::string(path.substr(sep + 1));
}

XpPathParts XpSplitPath(std::string_view path) {
  if (path.size() > 1 && path.back() == kXpPathSeparator) {
    path.remove_suffix(1);
  }
  XpPathParts parts;
  std::string_view rest = path;
  if (const auto sep = path.rfind(kXpPathSeparator); sep != std::string_view::npos) {
    parts.folder = std::string(path.substr(0, sep + 1));
    rest = path.substr(sep + 1);
  }
  const auto dot = rest.rfind('.');
  if (dot == std::string_view::npos) {
    parts.name = std::string(rest);
    return parts;
  }
  parts.name = std::string(rest.substr(0, dot));
  parts.extension = std::string(rest.substr(dot));
  return parts;
}

std::string XpGetParent(std::string_view path) { return XpSplitPath(path).folder; }

std::string XpJoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) {
    return std::string(name);
  }
  if (!name.empty() && name.front() == kXpPathSeparator) {
    name.remove_prefix(1);
  }
  std::string joined;
  joined.reserve(folder.size() + 1 + name.size());
  joined.append(folder);
  if (joined.back() != kXpPathSeparator) {
    joined.push_back(kXpPathSeparator);
  }
  joined.append(name);
  return joined;
}

std::string XpGetRoot(std::string_view path) {
  if (XpIsAbsolutePath(path)) {
    return std::string(1, kXpPathSeparator);
  }
  return {};
}

std::string XpStripTrailingBackslash(std::string_view path) {
  if (path.size() > 1 && path.back() == kXpPathSeparator) {
    path.remove_suffix(1);
  }
  return std::string(path);
}

bool XpIsValidFileName(std::string_view name) {
  // "." and ".." name folders that exist already, and a line break or other
  // control character would break the line-based files that store names.
  if (name.empty() || name == "." || name == "..") {
    return false;
  }
  constexpr std::string_view kRefused = "\\/:,;*?\"<>|";
  for (const char c : name) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x20 || byte == 0x7F || kRefused.find(c) != std::string_view::npos) {
      return false;
    }
  }
  return XpIsValidUtf8(name);
}
