#include "Applications/Terravue/mapdata/MapDataFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

bool MapIsRegularFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool MapIsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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
