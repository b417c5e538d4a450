#include "Applications/Terravue/server/AssetFolder.h"

#include <system_error>

namespace terravue::server {
namespace {

bool HoldsAssets(const std::filesystem::path& folder) {
  std::error_code ec;
  return std::filesystem::is_regular_file(folder / kAssetMarkerFile, ec) && !ec;
}

}  // namespace

std::filesystem::path FindAssetFolder(const std::filesystem::path& executableFolder) {
  if (executableFolder.empty() || HoldsAssets(executableFolder)) {
    return executableFolder;
  }
  // The program file is in <prefix>/bin and its data in <prefix>/share/terravue.
  const std::filesystem::path shared = (executableFolder / ".." / "share" / "terravue").lexically_normal();
  if (HoldsAssets(shared)) {
    return shared;
  }
  return executableFolder;
}

std::filesystem::path RunningExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return {};
  }
  return executable.parent_path();
}

}  // namespace terravue::server
