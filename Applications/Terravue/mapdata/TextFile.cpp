#include "Applications/Terravue/mapdata/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "xp/base/XpReplaceFile.h"

namespace {

// Owns one open descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  [[nodiscard]] int Get() const { return m_fd; }
  int Close() {
    if (m_fd < 0) {
      return 0;
    }
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

XpStatus WriteAllTo(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      return XpStatus::DiskFull;
    }
    done += static_cast<std::size_t>(n);
  }
  return XpStatus::Ok;
}

}  // namespace

XpStatus WriteFileReplacing(const std::string& path, std::string_view bytes) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  struct stat original {};
  const bool hadOriginal = ::stat(path.c_str(), &original) == 0;
  if (hadOriginal && !S_ISREG(original.st_mode)) {
    return XpStatus::AccessDenied;
  }

  // A new file gets the usual permissions (0666 less the umask); a replaced
  // one keeps its own.
  XpReplacementFile file;
  if (auto st = file.Create(path, 0666); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = WriteAllTo(file.Fd(), bytes); st != XpStatus::Ok) {
    return st;
  }
  if (hadOriginal && ::fchmod(file.Fd(), original.st_mode & 07777) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (auto st = file.Flush(); st != XpStatus::Ok) {
    return st;
  }
  return file.Commit();
}

XpStatus ReadWholeFile(const std::string& path, std::uint64_t limit, std::string* out) {
  out->clear();
  if (path.empty() || path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  // Non-blocking while opening: a named pipe (or a device) in place of a state
  // file would otherwise hang the open, and the program with it, until some
  // other process opened its other end. Such a file is refused below.
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  FileDescriptor file(fd);
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (!S_ISREG(info.st_mode) || info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > limit) {
    return XpStatus::FileInvalid;
  }
  // A regular file reads the same either way; blocking reads keep EAGAIN
  // from ever ending the read early.
  if (const int flags = ::fcntl(file.Get(), F_GETFL);
      flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return XpStatusFromErrno(errno);
  }
  out->resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < out->size()) {
    const ssize_t n = ::read(file.Get(), out->data() + done, out->size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      out->clear();
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      break;  // the file shrank while being read
    }
    done += static_cast<std::size_t>(n);
  }
  out->resize(done);
  return XpStatus::Ok;
}

std::string ToCrLf(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') {
      result.push_back('\r');
    }
    result.push_back(c);
  }
  return result;
}
