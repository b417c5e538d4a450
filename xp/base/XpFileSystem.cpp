#include "xp/base/XpFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "xp/base/XpFileRead.h"
#include "xp/base/XpPath.h"
#include "xp/base/XpReplaceFile.h"

namespace {

constexpr std::size_t kCopyBlock = 1U << 20;

// The system cuts a path at its first NUL byte, which would silently name a
// different file.
bool IsUsablePath(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads up to `count` bytes; answers the count, or -1 with errno set.
ssize_t ReadRetrying(int fd, std::uint8_t* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, count);
    if (n >= 0 || errno != EINTR) {
      return n;
    }
  }
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Copies the open source into the open temporary file, reporting progress.
XpStatus CopyContents(int in, int out, std::uint64_t expected, XpCopyProgress* progress) {
  std::vector<std::uint8_t> buffer(kCopyBlock);
  std::uint64_t done = 0;
  double lastReported = -1.0;
  for (;;) {
    if (progress != nullptr && progress->IsCancelled()) {
      return XpStatus::Cancelled;
    }
    const ssize_t n = ReadRetrying(in, buffer.data(), buffer.size());
    if (n < 0) {
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      break;
    }
    if (auto st = XpWriteFully(out, {reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n)});
        st != XpStatus::Ok) {
      return st;
    }
    done += static_cast<std::uint64_t>(n);
    if (progress != nullptr) {
      // The source may grow while it is copied; the percent never passes 100.
      const double percent =
          expected == 0 ? 100.0 : std::min(100.0, static_cast<double>(done) * 100.0 / static_cast<double>(expected));
      progress->OnProgress(percent);
      lastReported = percent;
    }
  }
  if (progress != nullptr) {
    if (lastReported != 100.0) {
      progress->OnProgress(100.0);
    }
    if (progress->IsCancelled()) {
      return XpStatus::Cancelled;
    }
  }
  return XpStatus::Ok;
}

}  // namespace

bool XpIsDirectory(const std::string& path) {
  if (!IsUsablePath(path)) {
    return false;
  }
  const std::string probe = path == XpGetRoot(path) ? path : XpStripTrailingBackslash(path);
  struct stat info {};
  return ::stat(probe.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool XpFileExists(const std::string& path) {
  if (!IsUsablePath(path)) {
    return false;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

XpStatus XpCreateFolder(const std::string& path) {
  if (!IsUsablePath(path)) {
    return XpStatus::InvalidArgument;
  }
  if (::mkdir(path.c_str(), 0777) == 0) {
    return XpStatus::Ok;
  }
  const int err = errno;
  switch (err) {
    case EEXIST:
      return XpStatus::AlreadyExists;
    case ENOENT:
    case ENOTDIR:
      return XpStatus::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return XpStatus::AccessDenied;
    default:
      break;
  }
  const std::string parent = XpGetParent(path);
  return XpIsDirectory(parent.empty() ? std::string(".") : parent) ? XpStatus::BadPath : XpStatus::PathNotFound;
}

XpStatus XpCreateFolderTree(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  if (!XpIsAbsolutePath(path)) {
    return XpStatus::BadPath;
  }
  // The root exists; the first folder to create ends at the next separator.
  std::size_t from = 1;
  for (auto sep = path.find(kXpPathSeparator, from); sep != std::string::npos;
       sep = path.find(kXpPathSeparator, from)) {
    const XpStatus st = XpCreateFolder(path.substr(0, sep));
    if (st != XpStatus::Ok && st != XpStatus::AlreadyExists) {
      return st;
    }
    from = sep + 1;
  }
  return XpCreateFolder(path);
}

XpStatus XpCreateNewFile(const std::string& path) {
  if (!IsUsablePath(path)) {
    return XpStatus::InvalidArgument;
  }
  // O_EXCL also refuses a dangling symbolic link, so nothing is ever created
  // through a link.
  XpUniqueFd fd(OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.IsValid()) {
    switch (errno) {
      case EEXIST:
        return XpStatus::AlreadyExists;
      case EACCES:
      case EPERM:
      case EROFS:
      case EISDIR:
        return XpStatus::AccessDenied;
      case ENOENT:
      case ENOTDIR:
        return XpStatus::PathNotFound;
      case EINVAL:
        return XpStatus::InvalidArgument;
      case EMFILE:
      case ENFILE:
        return XpStatus::TooManyOpenFiles;
      case ENOSPC:
      case EDQUOT:
        return XpStatus::DiskFull;
      default:
        return XpStatus::CreateFailed;
    }
  }
  return fd.Close();
}

XpStatus XpRenameFile(const std::string& from, const std::string& to) {
  if (!IsUsablePath(from) || !IsUsablePath(to)) {
    return XpStatus::InvalidArgument;
  }
  if (::rename(from.c_str(), to.c_str()) == 0) {
    return XpStatus::Ok;
  }
  const int err = errno;
  if (err == ENOENT) {
    // Either the source or the target's folder is missing.
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) {
      return XpStatusFromErrnoForPath(ENOENT, from);
    }
    return XpStatus::PathNotFound;
  }
  return XpStatusFromErrno(err);
}

XpStatus XpCopyFile(const std::string& from, const std::string& to, XpCopyProgress* progress) {
  if (!IsUsablePath(from) || !IsUsablePath(to)) {
    return XpStatus::InvalidArgument;
  }
  // Non-blocking, so that a named pipe given as the source cannot hang the
  // open; it is refused below as not a regular file.
  XpUniqueFd in(OpenRetrying(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!in.IsValid()) {
    const XpStatus st = XpStatusFromErrnoForPath(errno, from);
    return st == XpStatus::Failed ? XpStatus::OpenFailed : st;
  }
  struct stat source {};
  if (::fstat(in.Get(), &source) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (S_ISDIR(source.st_mode)) {
    return XpStatus::AccessDenied;
  }
  if (!S_ISREG(source.st_mode)) {
    return XpStatus::InvalidArgument;
  }
  if (struct stat target{}; ::stat(to.c_str(), &target) == 0) {
    if (SameFile(source, target)) {
      return XpStatus::InvalidArgument;
    }
    if (S_ISDIR(target.st_mode)) {
      return XpStatus::AccessDenied;
    }
  }

  XpReplacementFile out;
  if (auto st = out.Create(to); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CopyContents(in.Get(), out.Fd(), static_cast<std::uint64_t>(source.st_size), progress);
      st != XpStatus::Ok) {
    return st;
  }
  // Permission bits and modification time follow the source, as a copy made
  // by the file manager would; a file system that cannot hold them still gets
  // the contents.
  (void)::fchmod(out.Fd(), source.st_mode & 0777);
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  (void)::futimens(out.Fd(), times);
  if (auto st = out.Flush(); st != XpStatus::Ok) {
    return st;
  }
  return out.Commit();
}

XpStatus XpMoveFile(const std::string& from, const std::string& to, XpCopyProgress* progress) {
  if (!IsUsablePath(from) || !IsUsablePath(to)) {
    return XpStatus::InvalidArgument;
  }
  if (XpSplitPath(from).folder == XpSplitPath(to).folder) {
    return XpRenameFile(from, to);
  }
  // Two spellings of one file ("a/x.jpg" and "b/../a/x.jpg"): copying and then
  // deleting the source would delete the only copy.
  struct stat a {};
  struct stat b {};
  if (::stat(from.c_str(), &a) == 0 && ::stat(to.c_str(), &b) == 0 && SameFile(a, b)) {
    return XpRenameFile(from, to);
  }
  if (auto st = XpCopyFile(from, to, progress); st != XpStatus::Ok) {
    return st;
  }
  return XpDeleteFile(from);
}

XpStatus XpDeleteFile(const std::string& path) {
  if (!IsUsablePath(path)) {
    return XpStatus::InvalidArgument;
  }
  if (::unlink(path.c_str()) != 0) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  return XpStatus::Ok;
}
