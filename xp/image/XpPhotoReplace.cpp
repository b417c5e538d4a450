#include "xp/image/XpPhotoReplace.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "xp/base/XpReplaceFile.h"

namespace XpPhotoReplace {
namespace {

constexpr std::size_t kDigestBuffer = std::size_t{1} << 20;

// ---------------------------------------------------------------------------
// The temporary file beside the picture, locked while it exists and removed
// unless it was committed.

class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { Discard(); }

  /// Creates "target-N" with the first N for which nothing of that name
  /// exists; leftovers of rewrites that were killed are removed first.
  [[nodiscard]] XpStatus Create(const std::string& target) {
    if (auto st = m_replacement.Create(target); st != XpStatus::Ok) {
      return st;
    }
    return m_file.Open(m_replacement.Path(), XpAbstractFile::kReadWrite);
  }

  [[nodiscard]] XpFile& File() { return m_file; }
  [[nodiscard]] const std::string& Path() const { return m_replacement.Path(); }

  /// Gives the file the picture's permission bits (and owner, where allowed)
  /// and, with `keepTime`, its modification time; flushes it to disk and
  /// closes it.
  [[nodiscard]] XpStatus Finish(const struct stat& original, bool keepTime = false) {
    const std::string& path = Path();
    if (::chmod(path.c_str(), original.st_mode & 07777) != 0) {
      return XpStatusFromErrno(errno);
    }
    struct stat mine {};
    if (::stat(path.c_str(), &mine) == 0 && (mine.st_uid != original.st_uid || mine.st_gid != original.st_gid)) {
      // Only a privileged process may hand a file to another owner; anyone
      // else keeps the file as their own, as any editor would.
      if (::chown(path.c_str(), original.st_uid, original.st_gid) == 0) {
        // chown may clear set-id bits; put the picture's bits back.
        (void)::chmod(path.c_str(), original.st_mode & 07777);
      }
    }
    if (auto st = m_file.SyncToDisk(); st != XpStatus::Ok) {
      return st;
    }
    if (auto st = m_file.Close(); st != XpStatus::Ok) {
      return st;
    }
    if (keepTime) {
      const struct timespec times[2] = {{0, UTIME_NOW}, original.st_mtim};
      if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        return XpStatusFromErrno(errno);
      }
    }
    return m_replacement.Flush();
  }

  /// Renames the file over the target given to Create and makes the rename
  /// durable.
  [[nodiscard]] XpStatus Commit() { return m_replacement.Commit(); }

 private:
  void Discard() {
    (void)m_file.Close();
    m_replacement.Discard();
  }

  XpFile m_file;
  XpReplacementFile m_replacement;
};

/// The file that a rewrite replaces: `path` itself, or the file a symbolic
/// link names (replacing the link by a plain file would cut it off).
[[nodiscard]] XpStatus ResolveTarget(const std::string& path, std::string* target, struct stat* info) {
  struct stat linkInfo {};
  if (::lstat(path.c_str(), &linkInfo) != 0) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  *target = path;
  if (S_ISLNK(linkInfo.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (resolved == nullptr) {
      return XpStatusFromErrnoForPath(errno, path);
    }
    *target = resolved.get();
  }
  if (::stat(target->c_str(), info) != 0) {
    return XpStatusFromErrnoForPath(errno, *target);
  }
  if (!S_ISREG(info->st_mode)) {
    return XpStatus::AccessDenied;
  }
  return XpStatus::Ok;
}

// ---------------------------------------------------------------------------
// The photo as it was read

/// What a photo was when a rewrite read it: the file (device and inode), its
/// size and times, and a digest of its bytes. The photo is replaced only
/// while all of them still hold.
struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};
  struct timespec changed {};
  std::uint64_t digest = 0;

  [[nodiscard]] bool Same(const Stamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec && digest == o.digest;
  }
};

struct FdCloser {
  void operator()(const int* fd) const {
    ::close(*fd);
    delete fd;
  }
};

[[nodiscard]] XpStatus TakeStamp(const std::string& target, Stamp* stamp) {
  const int fd = ::open(target.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return XpStatusFromErrnoForPath(errno, target);
  }
  const std::unique_ptr<const int, FdCloser> closer(new int(fd));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return XpStatusFromErrno(errno);
  }
  stamp->device = info.st_dev;
  stamp->inode = info.st_ino;
  stamp->size = info.st_size;
  stamp->modified = info.st_mtim;
  stamp->changed = info.st_ctim;
  // FNV-1a over the whole file.
  std::uint64_t digest = 0xcbf29ce484222325ULL;
  std::vector<std::uint8_t> buffer(kDigestBuffer);
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return XpStatusFromErrno(errno);
    }
    if (got == 0) {
      break;
    }
    for (ssize_t i = 0; i < got; ++i) {
      digest = (digest ^ buffer[static_cast<std::size_t>(i)]) * 0x100000001b3ULL;
    }
  }
  stamp->digest = digest;
  return XpStatus::Ok;
}

}  // namespace

XpStatus CheckNotProtected(const std::string& target, const struct stat& info) {
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return XpStatus::PictureReadOnly;
  }
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY) {
      return XpStatus::PictureReadOnly;
    }
    return XpStatusFromErrnoForPath(errno, target);
  }
  const int fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    // File systems without these attributes answer the ioctl with an error;
    // their files cannot carry the flags either.
    int flags = 0;
    const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    if (known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
      return XpStatus::PictureReadOnly;
    }
  }
  return XpStatus::Ok;
}

XpStatus Run(const std::string& path, const Options& options, Rewrite& rewrite) {
  std::string target;
  struct stat original {};
  if (auto st = ResolveTarget(path, &target, &original); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CheckNotProtected(target, original); st != XpStatus::Ok) {
    return st;
  }
  XpFile source(target);
  if (auto st = source.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  Stamp read;
  if (auto st = TakeStamp(target, &read); st != XpStatus::Ok) {
    return st;
  }
  bool nothing = false;
  if (auto st = rewrite.Prepare(source, &nothing); st != XpStatus::Ok || nothing) {
    return st;
  }
  TempFile temp;
  if (auto st = temp.Create(target); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = rewrite.Write(source, temp.File()); st != XpStatus::Ok) {
    return st;
  }
  if (options.beforeCommit) {
    if (auto st = options.beforeCommit(temp.Path()); st != XpStatus::Ok) {
      return st;
    }
  }
  if (auto st = temp.Finish(original, options.keepModificationTime); st != XpStatus::Ok) {
    return st;
  }
  // Someone else's write between the read and now would be lost by the
  // rename: checked before the new file is compared with the source, and
  // again right before the rename.
  const auto unchanged = [&]() {
    Stamp now;
    return TakeStamp(target, &now) == XpStatus::Ok && now.Same(read);
  };
  if (!unchanged()) {
    return XpStatus::ChangedOnDisk;
  }
  if (auto st = rewrite.Check(temp.Path(), source); st != XpStatus::Ok) {
    return st;
  }
  if (!unchanged()) {
    return XpStatus::ChangedOnDisk;
  }
  (void)source.Close();
  return temp.Commit();
}

std::string CurrentDateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::array<char, 96> text{};
  std::snprintf(text.data(), text.size(), "%04ld:%02ld:%02ld %02ld:%02ld:%02ld", long{local.tm_year} + 1900,
                long{local.tm_mon} + 1, long{local.tm_mday}, long{local.tm_hour}, long{local.tm_min},
                long{local.tm_sec});
  return text.data();
}

}  // namespace XpPhotoReplace
