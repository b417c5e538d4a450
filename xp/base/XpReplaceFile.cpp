#include "xp/base/XpReplaceFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// An exclusive lock without waiting; false when someone else holds one.
bool TryLock(int fd) {
  int rc = 0;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

constexpr const char* kMarker = ".tvtmp-";

bool AllDigits(const std::string& text, std::size_t maxDigits) {
  return !text.empty() && text.size() <= maxDigits && (text.size() == 1 || text[0] != '0') &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// ".NAME.tvtmp-PID-N" -> NAME when PID is a process number and N a number the
// replacement file would use. No user's file is named like that.
bool SplitReplacementName(const std::string& name, std::string* base) {
  const std::size_t marker = name.rfind(kMarker);
  if (name.size() < 2 || name[0] != '.' || marker == std::string::npos || marker < 2) {
    return false;
  }
  const std::string rest = name.substr(marker + std::strlen(kMarker));
  const std::size_t dash = rest.find('-');
  if (dash == std::string::npos || !AllDigits(rest.substr(0, dash), 10) || !AllDigits(rest.substr(dash + 1), 3)) {
    return false;
  }
  if (std::stoi(rest.substr(dash + 1)) >= XpReplacementFile::kMaxNames) {
    return false;
  }
  *base = name.substr(1, marker - 1);
  return true;
}

}  // namespace

std::string XpReplacementName(const std::string& target, int n) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + base + kMarker + std::to_string(::getpid()) + "-" + std::to_string(n);
}

bool XpIsReplacementName(const std::string& name, const std::string& target) {
  std::string base;
  return SplitReplacementName(name, &base) && base == target;
}

std::size_t XpRemoveLeftoverReplacements(const std::string& folder) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (dir == nullptr) {
    return 0;
  }
  std::size_t removed = 0;
  const uid_t me = ::geteuid();
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    std::string base;
    if (!SplitReplacementName(name, &base)) {
      continue;
    }
    const std::string path = Join(folder, name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != me) {
      continue;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    struct stat opened {};
    // Held while it is removed, so that nobody takes up the name in between.
    if (::fstat(fd, &opened) == 0 && SameInode(opened, info) && TryLock(fd)) {
      struct stat again {};
      if (::lstat(path.c_str(), &again) == 0 && SameInode(again, opened) && ::unlink(path.c_str()) == 0) {
        ++removed;
      }
    }
    ::close(fd);
  }
  return removed;
}

void XpSyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
}

XpReplacementFile::~XpReplacementFile() { Discard(); }

XpStatus XpReplacementFile::Create(const std::string& target, unsigned createMode) {
  Discard();
  const std::string folder = FolderOf(target);
  (void)XpRemoveLeftoverReplacements(folder);
  for (int n = 0; n < kMaxNames; ++n) {
    std::string name = XpReplacementName(target, n);
    struct stat info {};
    if (::lstat(name.c_str(), &info) == 0) {
      continue;
    }
    // Exclusive creation: a name taken in between is never overwritten.
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(createMode & 07777));
    if (fd < 0) {
      if (errno == EEXIST) {
        continue;
      }
      return XpStatusFromErrnoForPath(errno, name);
    }
    // Between the creation and the lock another process's sweep may have
    // taken the fresh file for a leftover; then the name is given up.
    struct stat opened {};
    struct stat named {};
    if (!TryLock(fd) || ::fstat(fd, &opened) != 0 || ::lstat(name.c_str(), &named) != 0 || !SameInode(opened, named)) {
      ::close(fd);
      continue;
    }
    m_target = target;
    m_path = std::move(name);
    m_fd = fd;
    return XpStatus::Ok;
  }
  return XpStatus::AlreadyExists;
}

XpStatus XpReplacementFile::Flush() {
  if (m_fd < 0) {
    return XpStatus::NotOpen;
  }
  int rc = 0;
  do {
    rc = ::fsync(m_fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? XpStatus::Ok : XpStatusFromErrno(errno);
}

XpStatus XpReplacementFile::Commit() {
  if (m_fd < 0 || m_path.empty()) {
    return XpStatus::NotOpen;
  }
  if (::rename(m_path.c_str(), m_target.c_str()) != 0) {
    return XpStatusFromErrnoForPath(errno, m_target);
  }
  m_path.clear();
  ::close(m_fd);
  m_fd = -1;
  XpSyncFolder(FolderOf(m_target));
  return XpStatus::Ok;
}

XpStatus XpReplacementFile::CommitNew() {
  if (m_fd < 0 || m_path.empty()) {
    return XpStatus::NotOpen;
  }
  if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) {
      return XpStatusFromErrnoForPath(errno, m_target);
    }
    // A file system without the no-replace rename: a hard link never replaces either.
    if (::link(m_path.c_str(), m_target.c_str()) != 0) {
      return XpStatusFromErrnoForPath(errno, m_target);
    }
    ::unlink(m_path.c_str());
  }
  m_path.clear();
  ::close(m_fd);
  m_fd = -1;
  XpSyncFolder(FolderOf(m_target));
  return XpStatus::Ok;
}

void XpReplacementFile::Discard() {
  if (!m_path.empty()) {
    // Removed while still locked, so that no sweep sees it half gone.
    ::unlink(m_path.c_str());
    m_path.clear();
  }
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}
