#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace terravue::server {

/// Largest asset file the server sends (Leaflet bundled into the page script is far below it).
inline constexpr std::uintmax_t kMaxAssetBytes = 32u * 1024u * 1024u;

/// Checks a decoded relative URL path for the asset folder and answers it unchanged when it is
/// safe: at most three "/"-separated segments of letters, digits, ".", "_" and "-", none empty or
/// beginning with ".", ending in a served extension (.js .css .png .gif .jpg .html .htm .svg).
/// Anything else (including "..", "\\", "%", NUL or an absolute path) gives no value.
[[nodiscard]] std::optional<std::string> SafeAssetPath(std::string_view relative);

/// The content type the server sends for a file name, by its extension.
[[nodiscard]] std::string_view ContentTypeFor(std::string_view name) noexcept;

/// Serves files from one folder and nothing outside it.
class AssetResolver {
 public:
  /// Takes the folder as it stands; Resolve fails for everything when it does not exist.
  explicit AssetResolver(const std::filesystem::path& folder);

  /// The folder after resolving symbolic links (empty when it does not exist).
  [[nodiscard]] const std::filesystem::path& Folder() const noexcept { return m_folder; }

  /// Reads the file named by a relative URL path into `bytes`. Fails (false, `bytes` empty) unless
  /// SafeAssetPath accepts the path and the file, after resolving symbolic links, is a regular file
  /// inside the folder of at most kMaxAssetBytes.
  [[nodiscard]] bool Read(std::string_view relative, std::string& bytes) const;

 private:
  std::filesystem::path m_folder;
};

}  // namespace terravue::server
