#include "Applications/Terravue/server/AssetResolver.h"

#include <array>
#include <fstream>
#include <system_error>

#include "xp/text/XpAsciiCase.h"

namespace terravue::server {
namespace {

struct ExtensionType {
  std::string_view extension;
  std::string_view contentType;
};

constexpr std::array<ExtensionType, 8> kServedTypes = {{
    {".js", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".png", "image/png"},
    {".gif", "image/gif"},
    {".jpg", "image/jpeg"},
    {".html", "text/html; charset=utf-8"},
    {".htm", "text/html; charset=utf-8"},
    {".svg", "image/svg+xml"},
}};

constexpr std::size_t kMaxSegments = 3;
constexpr std::size_t kMaxRelativeLength = 200;

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) noexcept {
  if (text.size() < suffix.size()) {
    return false;
  }
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (XpAsciiLower(tail[i]) != suffix[i]) {
      return false;
    }
  }
  return true;
}

bool IsPathByte(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

}  // namespace

std::string_view ContentTypeFor(std::string_view name) noexcept {
  for (const ExtensionType& entry : kServedTypes) {
    if (EndsWithIgnoringCase(name, entry.extension)) {
      return entry.contentType;
    }
  }
  return "application/octet-stream";
}

std::optional<std::string> SafeAssetPath(std::string_view relative) {
  if (relative.empty() || relative.size() > kMaxRelativeLength) {
    return std::nullopt;
  }
  std::size_t segments = 0;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) {
      end = relative.size();
    }
    const std::string_view segment = relative.substr(start, end - start);
    // A leading "." also refuses "." and ".." and hidden files.
    if (segment.empty() || segment.front() == '.' || ++segments > kMaxSegments) {
      return std::nullopt;
    }
    for (const char c : segment) {
      if (!IsPathByte(c)) {
        return std::nullopt;
      }
    }
    start = end + 1;
  }
  bool served = false;
  for (const ExtensionType& entry : kServedTypes) {
    served = served || EndsWithIgnoringCase(relative, entry.extension);
  }
  if (!served) {
    return std::nullopt;
  }
  return std::string(relative);
}

AssetResolver::AssetResolver(const std::filesystem::path& folder) {
  std::error_code ec;
  auto resolved = std::filesystem::canonical(folder, ec);
  if (!ec && std::filesystem::is_directory(resolved, ec) && !ec) {
    m_folder = std::move(resolved);
  }
}

bool AssetResolver::Read(std::string_view relative, std::string& bytes) const {
  bytes.clear();
  if (m_folder.empty()) {
    return false;
  }
  const auto safe = SafeAssetPath(relative);
  if (!safe) {
    return false;
  }
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(m_folder / *safe, ec);
  if (ec) {
    return false;
  }
  // A symbolic link inside the folder must not lead out of it.
  const std::string folderText = m_folder.native() + "/";
  if (resolved.native().compare(0, folderText.size(), folderText) != 0) {
    return false;
  }
  if (!std::filesystem::is_regular_file(resolved, ec) || ec) {
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(resolved, ec);
  if (ec || size > kMaxAssetBytes) {
    return false;
  }
  std::ifstream in(resolved, std::ios::binary);
  if (!in) {
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size));
  if (size != 0 && !in.read(bytes.data(), static_cast<std::streamsize>(size))) {
    bytes.clear();
    return false;
  }
  return true;
}

}  // namespace terravue::server
