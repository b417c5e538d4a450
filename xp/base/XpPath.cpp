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

bool XpIsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      cp = lead & 0x1F;
      min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      cp = lead & 0x0F;
      min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      cp = lead & 0x07;
      min = 0x10000;
    } else {
      return false;
    }
    if (n - i <= extra) {
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto byte = static_cast<std::uint8_t>(text[i + k]);
      if ((byte & 0xC0) != 0x80) {
        return false;
      }
      cp = (cp << 6) | (byte & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
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
