#include "xp/base/XpStatus.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

std::string XpStatusText(XpStatus status) {
  if (status == XpStatus::Ok) {
    return "0";
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04x", static_cast<unsigned>(XpStatusValue(status)));
  return buf;
}

XpStatus XpStatusFromErrno(int err) {
  switch (err) {
    case 0:
      return XpStatus::Ok;
    case ENOENT:
      return XpStatus::FileNotFound;
    case ENOTDIR:
      return XpStatus::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:  // a folder opened, written or deleted as a file
      return XpStatus::AccessDenied;
    case EMFILE:
    case ENFILE:
      return XpStatus::TooManyOpenFiles;
    case ENOMEM:
      return XpStatus::OutOfMemory;
    case ENOSPC:
    case EDQUOT:
      return XpStatus::DiskFull;
    case EEXIST:
      return XpStatus::AlreadyExists;
    case ENOTEMPTY:
      return XpStatus::FolderNotEmpty;
    case ENODEV:
    case ENXIO:
      return XpStatus::NoDevice;
    case EINVAL:
      return XpStatus::InvalidArgument;
    default:
      return XpStatus::Failed;
  }
}

XpStatus XpStatusFromErrnoForPath(int err, const std::string& path) {
  if (err != ENOENT) {
    return XpStatusFromErrno(err);
  }
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) {
    return XpStatus::FileNotFound;
  }
  struct stat st {};
  const std::string parent = path.substr(0, slash);
  if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return XpStatus::PathNotFound;
  }
  return XpStatus::FileNotFound;
}
