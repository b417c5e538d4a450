#include "xp/image/XpFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

XpFile::~XpFile() { Close(); }

XpStatus XpFile::Open(const std::string& path, unsigned flags) {
  if (IsOpen()) {
    return XpStatus::AlreadyOpen;
  }
  m_path = path;
  return Open(flags);
}

XpStatus XpFile::Open(unsigned flags) {
  if (IsOpen()) {
    return XpStatus::AlreadyOpen;
  }
  const bool read = (flags & kRead) != 0;
  const bool write = (flags & kWrite) != 0;
  if (!read && !write) {
    return XpStatus::InvalidArgument;
  }
  if (m_path.empty() || m_path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  // Non-blocking only while opening: a named pipe in place of a picture would
  // otherwise hang the open until some other process opened its other end.
  int oflags = O_CLOEXEC | O_NONBLOCK;
  if (read && write) {
    oflags |= O_RDWR | O_CREAT;
  } else if (write) {
    oflags |= O_WRONLY | O_CREAT | O_TRUNC;
  } else {
    oflags |= O_RDONLY;
  }
  int fd = -1;
  do {
    fd = ::open(m_path.c_str(), oflags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int err = errno;
    XpStatus st = XpStatusFromErrnoForPath(err, m_path);
    if (st == XpStatus::Failed) {
      st = write ? XpStatus::OpenForWriteFailed : XpStatus::OpenFailed;
    }
    return st;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int err = errno;
    ::close(fd);
    return XpStatusFromErrno(err);
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    return XpStatus::AccessDenied;
  }
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    ::close(fd);
    return write ? XpStatus::OpenForWriteFailed : XpStatus::OpenFailed;
  }
  if (const int fl = ::fcntl(fd, F_GETFL); fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
    const int err = errno;
    ::close(fd);
    return XpStatusFromErrno(err);
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if (flags & kSequential) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  } else if (flags & kRandom) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  }
#endif
  m_fd = fd;
  m_flags = flags;
  return XpStatus::Ok;
}

XpStatus XpFile::Close() {
  if (!IsOpen()) {
    return XpStatus::Ok;
  }
  const int rc = ::close(m_fd);
  m_fd = -1;
  m_flags = 0;
  // A failed close can mean lost written data (for example on a network file system).
  return rc == 0 ? XpStatus::Ok : XpStatusFromErrno(errno);
}

std::int64_t XpFile::GetLength() {
  struct stat info {};
  if (IsOpen()) {
    if (::fstat(m_fd, &info) != 0) {
      return -1;
    }
    return static_cast<std::int64_t>(info.st_size);
  }
  if (m_path.empty() || ::stat(m_path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

XpStatus XpFile::Read(void* buffer, std::uint64_t count, std::uint64_t* got) {
  if (got != nullptr) {
    *got = 0;
  }
  if (buffer == nullptr || count == 0) {
    return XpStatus::InvalidArgument;
  }
  if (!IsOpen()) {
    return XpStatus::NotOpen;
  }
  if ((m_flags & kRead) == 0) {
    return XpStatus::AccessDenied;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  std::uint64_t total = 0;
  while (total < count) {
    const std::uint64_t want = std::min<std::uint64_t>(count - total, 1U << 30);
    const ssize_t n = ::read(m_fd, out + total, static_cast<size_t>(want));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (got != nullptr) {
        *got = total;
      }
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      break;
    }
    total += static_cast<std::uint64_t>(n);
  }
  if (got != nullptr) {
    *got = total;
  }
  return total == count ? XpStatus::Ok : XpStatus::EndOfFile;
}

XpStatus XpFile::Write(const void* buffer, std::uint64_t count, std::uint64_t* written) {
  if (written != nullptr) {
    *written = 0;
  }
  if (buffer == nullptr || count == 0) {
    return XpStatus::InvalidArgument;
  }
  if (!IsOpen()) {
    return XpStatus::NotOpen;
  }
  if ((m_flags & kWrite) == 0) {
    return XpStatus::AccessDenied;
  }
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::uint64_t total = 0;
  while (total < count) {
    const std::uint64_t want = std::min<std::uint64_t>(count - total, 1U << 30);
    const ssize_t n = ::write(m_fd, in + total, static_cast<size_t>(want));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (written != nullptr) {
        *written = total;
      }
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      // No progress and no error: the device takes no more.
      if (written != nullptr) {
        *written = total;
      }
      return XpStatus::DiskFull;
    }
    total += static_cast<std::uint64_t>(n);
  }
  if (written != nullptr) {
    *written = total;
  }
  return XpStatus::Ok;
}

XpStatus XpFile::Seek(std::int64_t offset, int origin) {
  if (!IsOpen()) {
    return XpStatus::NotOpen;
  }
  int whence = SEEK_SET;
  if (origin == kCurrent) {
    whence = SEEK_CUR;
  } else if (origin == kEnd) {
    whence = SEEK_END;
  } else if (origin != kBegin) {
    return XpStatus::InvalidArgument;
  }
  if (::lseek(m_fd, static_cast<off_t>(offset), whence) < 0) {
    return XpStatusFromErrno(errno);
  }
  return XpStatus::Ok;
}

std::int64_t XpFile::GetPosition() const {
  if (!IsOpen()) {
    return -1;
  }
  return static_cast<std::int64_t>(::lseek(m_fd, 0, SEEK_CUR));
}

XpStatus XpFile::SetLength(std::uint64_t length) {
  if (!IsOpen()) {
    return XpStatus::NotOpen;
  }
  if ((m_flags & kWrite) == 0) {
    return XpStatus::AccessDenied;
  }
  if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return XpStatus::InvalidArgument;
  }
  if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0) {
    return XpStatusFromErrno(errno);
  }
  // The position stays where it was when it lies within the new length.
  const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
  if (pos > static_cast<off_t>(length)) {
    ::lseek(m_fd, static_cast<off_t>(length), SEEK_SET);
  }
  return XpStatus::Ok;
}

XpStatus XpFile::SyncToDisk() {
  if (!IsOpen()) {
    return XpStatus::NotOpen;
  }
  if (::fsync(m_fd) != 0) {
    return XpStatusFromErrno(errno);
  }
  return XpStatus::Ok;
}
