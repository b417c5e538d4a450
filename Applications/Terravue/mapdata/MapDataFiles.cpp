#include "Applications/Terravue/mapdata/MapDataFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>

#include "xp/base/XpFileSystem.h"

std::string JoinMapPath(const std::string& folder, const std::string& name) {
  std::string path = folder;
  path.push_back(kMapPathSeparator);
  path += name;
  return path;
}

bool MapPathExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool MapEntryExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

bool MapIsRegularFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool MapIsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// True when `path` is `folder` or lies below it; both are absolute and normal.
bool IsAtOrBelow(const std::filesystem::path& path, const std::filesystem::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    // A trailing separator gives the folder an empty last element.
    if (f->empty() && std::next(f) == folder.end()) {
      return true;
    }
    if (p == path.end() || *p != *f) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool MapIsInFolder(const std::string& path, const std::string& folder) {
  namespace fs = std::filesystem;
  if (path.empty() || folder.empty()) {
    return false;
  }
  std::error_code ec;
  const fs::path spelledPath = fs::absolute(path, ec).lexically_normal();
  if (ec) {
    return false;
  }
  const fs::path spelledFolder = fs::absolute(folder, ec).lexically_normal();
  if (ec) {
    return false;
  }
  if (IsAtOrBelow(spelledPath, spelledFolder)) {
    return true;
  }
  const fs::path resolvedPath = fs::weakly_canonical(spelledPath, ec);
  if (ec) {
    return false;
  }
  const fs::path resolvedFolder = fs::weakly_canonical(spelledFolder, ec);
  return !ec && IsAtOrBelow(resolvedPath, resolvedFolder);
}

std::string MapFileNameOf(const std::string& path) { return XpGetFileName(path); }

bool MapCopyFile(const std::string& source, const std::string& target, bool overwrite) {
  if (source.empty() || target.empty() || !MapIsRegularFile(source)) {
    return false;
  }
  if (!overwrite && MapPathExists(target)) {
    return false;
  }
  // The library copies through a flushed temporary file and one rename, so a
  // failed copy never leaves a partial target behind.
  return XpCopyFile(source, target) == XpStatus::Ok;
}

bool MapMoveFile(const std::string& source, const std::string& target) {
  if (source.empty() || target.empty() || MapPathExists(target)) {
    return false;
  }
  if (::rename(source.c_str(), target.c_str()) == 0) {
    return true;
  }
  if (errno != EXDEV) {
    return false;
  }
  if (!MapCopyFile(source, target, /*overwrite=*/false)) {
    return false;
  }
  return ::unlink(source.c_str()) == 0;
}

bool MapRemoveFile(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
    (void)::chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR);
  }
  return ::unlink(path.c_str()) == 0;
}
